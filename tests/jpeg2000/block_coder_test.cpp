// The bit-plane coder: encoder passes and driver against the decoder, symbol for symbol. A whole
// block comes back down to its last plane, a block cut after any pass at the length the encoder
// computed decodes as if nothing were cut, and the plain and speed-up decoders agree everywhere.
#include "jpeg2000/support/block_coding.h"

#include <gtest/gtest.h>

#include <random>

namespace block_coder_test { // one namespace per test file: a folder compiles as one source

using namespace zn::j2k;
using j2ktest::BlockSetup;
using j2ktest::DecodeBlock;
using j2ktest::EncodeBlock;

namespace {
// Laplacian-like quantisation indices above K fractional bits, with some zero runs.
std::vector<int32_t> RandomBlock(std::mt19937 &rng, int height, int width, int K, double spread)
{
    std::vector<int32_t> v(size_t(height) * size_t(width));
    std::exponential_distribution<double> mag(1.0 / spread);
    std::uniform_int_distribution<int> coin(0, 1), low(0, (1 << K) - 1);
    for (auto &x : v) {
        double m = mag(rng);
        uint32_t index = m > double(1u << (30 - K)) ? (1u << (30 - K)) - 1 : uint32_t(m);
        if (coin(rng) && coin(rng))
            index = 0;
        uint32_t magnitude = (index << K) | uint32_t(low(rng));
        x = int32_t(magnitude | (coin(rng) ? 0x80000000u : 0u));
    }
    return v;
}

// What a complete decode delivers: the index bits, a half step below them, and the sign of the
// significant samples.
int32_t Expected(int32_t x, int K)
{
    uint32_t m = uint32_t(x) & kMagnitudeMask;
    uint32_t half = 1u << (K - 1);
    if ((m >> K) == 0)
        return int32_t(half);
    return int32_t((uint32_t(x) & 0x80000000u) | (m & ~((1u << K) - 1)) | half);
}

struct ModeCase
{
    const char *name;
    coder_modes modes;
};

std::vector<ModeCase> AllModes()
{
    auto m = [](int flags) { return coder_modes::from_flags(flags); };
    return {{"plain", m(0)},        {"lazy", m(1)},
            {"reset", m(2)},        {"terminate", m(4)},
            {"causal", m(8)},       {"predictable", m(16)},
            {"segmark", m(32)},     {"parallel", m(2 | 4)},
            {"lazy+er", m(1 | 16)}, {"all", m(1 | 2 | 4 | 8 | 16 | 32)}};
}
} // namespace

TEST(J2kBlockCoder, WholeBlocksComeBackInEveryModeAndShape)
{
    std::mt19937 rng(11);
    const int shapes[][2] = {{64, 64}, {32, 32}, {4, 4},  {16, 64}, {64, 16},
                             {13, 7},  {1, 1},   {3, 29}, {1, 64},  {61, 5}};
    for (const ModeCase &mc : AllModes())
        for (auto shape : shapes)
            for (int orientation = 0; orientation < 4; ++orientation) {
                BlockSetup s;
                s.modes = mc.modes;
                s.orientation = orientation;
                s.K = 1 + int(rng() % 18);
                int h = shape[0], w = shape[1];
                auto samples = RandomBlock(rng, h, w, s.K, orientation == 0 ? 400.0 : 6.0);
                auto e = EncodeBlock(samples, h, w, s);
                ASSERT_EQ(e.N, 3 * (31 - s.K) - 2);
                bool any = false;
                for (int32_t x : samples)
                    any |= ((uint32_t(x) & kMagnitudeMask) >> s.K) != 0;
                for (bool plain : {true, false}) {
                    auto out = DecodeBlock(e, e.N, int(e.bytes.size()), s, plain);
                    for (size_t i = 0; i < samples.size(); ++i)
                        ASSERT_EQ(out[i], any ? Expected(samples[i], s.K) : 0)
                            << mc.name << " " << h << "x" << w << " band " << orientation << " K " << s.K
                            << (plain ? " plain" : " speed-up") << " sample " << i;
                }
            }
}

TEST(J2kBlockCoder, EveryCutAtItsTruncationLengthDecodesLikeTheWholeCode)
{
    std::mt19937 rng(5);
    for (const ModeCase &mc : AllModes()) {
        BlockSetup s;
        s.modes = mc.modes;
        s.K = 6;
        s.orientation = int(rng() % 4);
        auto samples = RandomBlock(rng, 32, 24, s.K, 50.0);
        auto e = EncodeBlock(samples, 32, 24, s);
        int previous = 0;
        for (int n = 3 * e.Z + 1; n <= e.N; ++n) {
            const int length = e.passes[size_t(n - 1)].length;
            ASSERT_GE(length, previous) << mc.name << " pass " << n - 1;
            ASSERT_LE(length, int(e.bytes.size()));
            previous = length;
            auto cut = DecodeBlock(e, n, length, s, false);
            auto whole = DecodeBlock(e, n, int(e.bytes.size()), s, true);
            ASSERT_EQ(cut, whole) << mc.name << " after pass " << n - 1 << " at " << length << " bytes";
        }
    }
}

TEST(J2kBlockCoder, AllZeroBlockCodesNothingAndHasNoTruncationPoint)
{
    // K = 12: 3 x 19 - 2 = 55 passes, all of them empty.
    BlockSetup s;
    s.K = 12;
    std::vector<int32_t> zeros(64 * 64, 0);
    zeros[5] = int32_t(0x80000000u | 0x7FFu); // below the coded planes: still nothing to code
    int32_t histogram[kSlopeBins] = {};
    auto e = EncodeBlock(zeros, 64, 64, s, histogram);
    EXPECT_EQ(e.N, 55);
    EXPECT_EQ(e.Z, 19);
    EXPECT_TRUE(e.bytes.empty());
    for (const auto &p : e.passes) {
        EXPECT_EQ(p.length, 0);
        EXPECT_EQ(p.slope, -1);
    }
    for (int32_t bin : histogram)
        EXPECT_EQ(bin, 0);
}

TEST(J2kBlockCoder, FirstCodedPassIsTheCleanupOfTheTopPlaneWithABitSet)
{
    BlockSetup s;
    s.K = 12;
    std::vector<int32_t> v(16 * 16, 0);
    v[17] = int32_t(1u << 20); // planes 30..21 are zero: Z = 10
    auto e = EncodeBlock(v, 16, 16, s);
    EXPECT_EQ(e.N, 55);
    EXPECT_EQ(e.Z, 10);
    for (int n = 0; n < 3 * e.Z; ++n)
        EXPECT_EQ(e.passes[size_t(n)].length, 0) << n;
    EXPECT_GT(e.passes[size_t(3 * e.Z)].length, 0);
    int points = 0;
    for (const auto &p : e.passes)
        points += p.slope > 0;
    EXPECT_GT(points, 0);
}

TEST(J2kBlockCoder, TerminationMarksFollowTheModes)
{
    const int first = 6, n = 40;
    auto marks = [&](int flags) {
        std::vector<pass_record> r(size_t(n), pass_record{0, 0, 0});
        set_encoder_terminations(r.data(), first, n, coder_modes::from_flags(flags));
        std::vector<int> out;
        for (int i = 0; i < n; ++i)
            if (r[size_t(i)].terminated)
                out.push_back(i);
        return out;
    };
    EXPECT_EQ(marks(0), std::vector<int>{n - 1});
    // Lazy: the tenth pass from the first coded plane, then every refinement and every cleanup pass.
    std::vector<int> lazy = {first + 9};
    for (int i = first + 10; i < n; ++i)
        if ((i - first) % 3 != 1 || i == n - 1)
            lazy.push_back(i);
    EXPECT_EQ(marks(1), lazy);
    std::vector<int> all;
    for (int i = first; i < n; ++i)
        all.push_back(i);
    EXPECT_EQ(marks(2 | 4), all);
}

TEST(J2kBlockCoder, SegmentationSymbolsAreCountedInTheCleanupPassLength)
{
    std::mt19937 rng(3);
    BlockSetup plain, marked;
    plain.K = marked.K = 8;
    marked.modes.segmark = true;
    auto v = RandomBlock(rng, 16, 16, 8, 20.0);
    auto a = EncodeBlock(v, 16, 16, plain), b = EncodeBlock(v, 16, 16, marked);
    EXPECT_GT(b.bytes.size(), a.bytes.size());
    // Error resilience reads them back: the undamaged code passes every check.
    bool ok = false;
    DecodeBlock(b, b.N, int(b.bytes.size()), marked, false, 4, &ok);
    EXPECT_TRUE(ok);
}

TEST(J2kBlockCoder, DamagedCleanupPassFailsItsSegmentationCheck)
{
    std::mt19937 rng(8);
    BlockSetup s;
    s.K = 8;
    s.modes = coder_modes::from_flags(32 | 16 | 4); // segmark, predictable, every pass terminated
    auto v = RandomBlock(rng, 32, 32, 8, 30.0);
    auto e = EncodeBlock(v, 32, 32, s);
    int damaged = 0;
    for (int trial = 0; trial < 20; ++trial) {
        auto bad = e;
        size_t at = bad.bytes.size() / 2 + size_t(trial);
        bad.bytes[at] ^= 0x5A;
        if (bad.bytes[at] == 0xFF || (at > 0 && bad.bytes[at - 1] == 0xFF))
            continue;
        bool ok = true;
        DecodeBlock(bad, bad.N, int(bad.bytes.size()), s, trial % 2 == 0, 4, &ok);
        damaged += ok ? 0 : 1;
    }
    EXPECT_GE(damaged, 15) << "damage must nearly always be seen";
}

TEST(J2kBlockCoder, RunModeFindsTheThirdSampleWithTwoUniformSymbols)
{
    // One column of four samples, only row 2 reaches the plane: 1 in the run context, then 1 and 0
    // for the row, the sign; row 3 is then coded with its upper neighbour significant.
    BlockSetup s;
    s.K = 29;
    std::vector<int32_t> v = {0, 0, int32_t(0x80000000u | (1u << 29)), 0};
    auto e = EncodeBlock(v, 4, 1, s);
    ASSERT_EQ(e.Z, 1);
    build_coding_tables();
    mq_build_decoder_tables();
    codeword_heap heap;
    j2ktest::EncodedBlock copy = e;
    dec_block b;
    append_code_bytes(heap, b, copy.bytes.data(), int(copy.bytes.size()));
    swap_to_value_order(b);
    int32_t ctx[2 * kMqContextWords] = {};
    mq_load_contexts(ctx, initial_context_states, kNumContexts);
    mq_decoder d{};
    mq_decoder_start(d, kNumContexts, ctx, b.chain, b.total_bytes, 0);
    mq_decoder_begin(d);
    const int label_upper_only = significance_table_a[0x02]; // row 3 sees its upper neighbour
    EXPECT_EQ(label_upper_only, 3);
    struct Step
    {
        int context, symbol;
    } steps[] = {{kRunContext, 1},
                 {kUniformContext, 1},
                 {kUniformContext, 0},
                 {kSignContext, 1},
                 {kSignificanceContext + label_upper_only, 0}};
    for (const Step &st : steps)
        EXPECT_EQ(mq_decode_reference(d, st.context), st.symbol) << "context " << st.context;
}

TEST(J2kBlockCoder, CausalContextsLeaveTheStripeAboveAlone)
{
    build_coding_tables();
    for (bool causal : {false, true}) {
        codeword_heap heap;
        coder_modes modes;
        modes.causal = causal;
        block_coder_work work(8, 4, modes);
        block_coding_record &r = work.record;
        r.geometry = make_stripe_geometry(8, 4, 4);
        r.causal = causal;
        r.plane = 5;
        r.first_coded_plane = 5;
        r.significance_table = significance_table_a;
        r.significance_distortion = distortion_significance_lossy;
        r.refinement_distortion = distortion_refinement_lossy;
        clear_block_contexts(r.contexts, r.geometry);
        std::fill(work.samples.begin(), work.samples.end(), 0);
        r.samples[1 * r.geometry.pitch + 4 * 1 + 0] = 1 << 5; // stripe 1, column 1, row 0
        int32_t ctx[2 * kMqContextWords];
        mq_load_contexts(ctx, initial_context_states, kNumContexts);
        mq_encoder_start(r.coder, kNumContexts, ctx, heap.get_block(), 0, &heap, 0);
        encode_cleanup_pass(r);
        const uint16_t *above = r.contexts + 0 * r.geometry.pitch + 3; // stripe 0, row 3
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(above[4 * c] & kCtxNeighbours, causal ? 0
                                                            : (c == 0   ? 0x80
                                                               : c == 1 ? 0x40
                                                                        : 0x20))
                << (causal ? "causal" : "normal") << " column " << c;
    }
}

TEST(J2kBlockCoder, CellRowsSpanTwoStripes)
{
    build_coding_tables();
    for (int row : {0, 7, 8, 11}) {
        codeword_heap heap;
        block_coder_work work(12, 8, coder_modes{});
        block_coding_record &r = work.record;
        r.geometry = make_stripe_geometry(12, 8, 8);
        r.plane = 3;
        r.first_coded_plane = 3;
        r.significance_table = significance_table_a;
        r.significance_distortion = distortion_significance_lossy;
        r.refinement_distortion = distortion_refinement_lossy;
        clear_block_contexts(r.contexts, r.geometry);
        std::fill(work.samples.begin(), work.samples.end(), 0);
        r.samples[(row / 4) * r.geometry.pitch + 4 * 2 + row % 4] = 1 << 3;
        for (auto &cell : work.cells)
            cell.distortion = 0;
        int32_t ctx[2 * kMqContextWords];
        mq_load_contexts(ctx, initial_context_states, kNumContexts);
        mq_encoder_start(r.coder, kNumContexts, ctx, heap.get_block(), 0, &heap, 0);
        encode_cleanup_pass(r);
        const int expected_cell_row = row < 8 ? 0 : 1;
        EXPECT_EQ(work.cells[size_t(expected_cell_row * r.cell_pitch)].distortion,
                  distortion_significance_lossy[64])
            << "row " << row;
        EXPECT_EQ(work.cells[size_t((1 - expected_cell_row) * r.cell_pitch)].distortion, 0) << "row " << row;
    }
}

TEST(J2kBlockCoder, ReversibleBandReachesItsExactLastPlane)
{
    // A reversible band's last pass must be a truncation point, so layers can reach lossless.
    std::mt19937 rng(21);
    BlockSetup s;
    s.K = 1;
    s.reversible = true;
    auto v = RandomBlock(rng, 16, 16, 1, 10.0);
    auto e = EncodeBlock(v, 16, 16, s);
    EXPECT_GT(e.passes.back().slope, 0);
}

} // namespace block_coder_test
