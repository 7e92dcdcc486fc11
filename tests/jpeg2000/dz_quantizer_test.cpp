// The dead-zone quantiser and dequantiser: sign-magnitude words, the 3/8 reconstruction and exact
// integer round trips for reversible bands.
#include "jpeg2000/dz_quantizer.h"
#include "jpeg2000/marker_elements.h"
#include "jpeg2000/support/block_line_store.h"
#include "jpeg2000/support/codec_messages.h"
#include "jpeg2000/support/info_codec.h"
#include "platform/errors.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <random>

namespace dz_quantizer_test { // one namespace per test file: a folder compiles as one source

using namespace zn::j2k;

TEST(J2kDeadZone, FloatSamplesBecomeSignMagnitudeIndices)
{
    dz_band_entry b = make_dz_band_entry(1.0, 10, 10);
    EXPECT_EQ(b.shift, 0);
    float row[4] = {-2.7f, 0.0004f, 2.7f, -0.0004f};
    uint32_t w[4];
    dz_quantise_float_row(b, row, w, 4);
    EXPECT_EQ(w[0], 0x80000000u + 2764);
    EXPECT_EQ(w[1], 0u);
    EXPECT_EQ(w[2], 2764u);
    EXPECT_EQ(w[3], 0u); // a zero index carries no sign
    // Dequantisation brings the index back to the step grid: 2764 / 1024.
    dz_dequant_entry d = make_dz_dequant_entry(1.0, 10, 10);
    float back[4];
    dz_dequantise_float_row(d, w, back, 4);
    EXPECT_FLOAT_EQ(back[0], -2764.0f / 1024);
    EXPECT_FLOAT_EQ(back[2], 2764.0f / 1024);
    EXPECT_EQ(back[1], 0.0f);
}

TEST(J2kDeadZone, ReversibleBandsComeBackExactly)
{
    std::mt19937 rng(2);
    for (int k : {0, 3, 9}) {
        dz_band_entry b = make_dz_band_entry(1.0, 0, k);
        dz_dequant_entry d = make_dz_dequant_entry(1.0, 0, k);
        EXPECT_EQ(b.shift, -k);
        std::vector<int32_t> row(64), back(64);
        for (auto &v : row)
            v = int32_t(rng() % 4001) - 2000;
        row[0] = 0;
        row[1] = -1;
        std::vector<uint32_t> w(64);
        dz_quantise_int_row(b, row.data(), w.data(), 64);
        EXPECT_EQ(w[1], 0x80000000u | (1u << k));
        dz_dequantise_int_row(d, w.data(), back.data(), 64);
        EXPECT_EQ(back, row) << k;
    }
}

// Index 1 decoded at the middle of its interval (1.5 steps) moves to 1.375; index 3 stays at 3.5.
TEST(J2kDeadZone, ThreeEighthsReconstruction)
{
    const int K = 4;
    uint32_t w[3] = {(1u << K) | (1u << (K - 1)), (3u << K) | (1u << (K - 1)),
                     0x80000000u | (1u << K) | (1u << (K - 1))};
    dz_apply_three_eighths(w, 3, K, 2);
    dz_dequant_entry d = make_dz_dequant_entry(1.0, K, K);
    float v[3];
    dz_dequantise_float_row(d, w, v, 3);
    EXPECT_FLOAT_EQ(v[0], 1.375f);
    EXPECT_FLOAT_EQ(v[1], 3.5f);
    EXPECT_FLOAT_EQ(v[2], -1.375f);
    uint32_t z[1] = {1u << (K - 1)}; // below the index: no change, reconstructs as 0
    dz_apply_three_eighths(z, 1, K, 2);
    EXPECT_EQ(z[0], 1u << (K - 1));
    dz_dequantise_float_row(d, z, v, 1);
    EXPECT_EQ(v[0], 0.0f);
}

// The objects: every band of a reversible tile-component goes through the quantiser, the block
// coder's double and the dequantiser and comes back exactly; the words carry the index at bit K.
TEST(J2kDeadZoneObjects, ReversibleBandsRoundTripThroughTheBlockCoderDouble)
{
    zntest::ScratchDir dir;
    zn::MessageRecorder rec;
    J2kRun run;
    j2ktest::InfoRoundTrip rt(j2ktest::Image::Grey(40, 30), {"-Frev", "-Flev", "2", "-Fdecomp", "21"},
                              dir.File("q.j2c"));
    zntest::BlockLineStore store;
    auto q = create_dz_quantizer();
    q->initialize(1, rt.fwd.get(), &store, nullptr);
    std::mt19937 rng(3);
    std::map<std::pair<int, int>, std::vector<int32_t>> pushed;
    for (int level = 0; level <= 2; ++level)
        for (int band : coding_info::level_bands(rt.fwd->level_record(0, level))) {
            std::vector<int32_t> row(7);
            for (int32_t &v : row)
                v = int32_t(rng() % 511) - 255; // within every band's range
            q->push_int_row(row.data(), 0, level, band, 7);
            pushed[{level, band}] = row;
            int K = 0;
            rt.fwd->get_band_quant_info(0, level, band, nullptr, nullptr, nullptr, &K);
            uint32_t w = store.Band(0, 0, level, band)[0][0];
            EXPECT_EQ(w & 0x7FFFFFFFu, uint32_t(std::abs(row[0])) << K);
            EXPECT_EQ((w & kSignBit) != 0, row[0] < 0);
        }
    store.StartDecoding();
    auto d = create_dz_dequantizer();
    d->initialize(1, rt.rev.get(), &store, rt.in.get(), nullptr);
    for (auto &[key, row] : pushed) {
        std::vector<int32_t> back(7);
        d->pull_int_row(back.data(), 0, key.first, key.second, 7);
        EXPECT_EQ(back, row) << key.first << " " << key.second;
    }
    EXPECT_TRUE(store.AllServed());
    EXPECT_EQ(q->next_tile(), 1);
    q->terminate();
    d->terminate();
}

TEST(J2kDeadZoneObjects, TypeElementAndThreeEighthsOption)
{
    zntest::ScratchDir dir;
    zn::MessageRecorder rec;
    J2kRun run;
    j2ktest::Args args;
    auto out = create_stream_out();
    out->initialize(1 << 20, dir.File("t.j2c").c_str(), args.line.get());
    auto fwd = j2ktest::MakeForward(j2ktest::Image::Grey(16, 16), args.line.get(), out.get());
    zntest::BlockLineStore store;
    auto q = create_dz_quantizer();
    q->initialize(1, fwd.get(), &store, out.get());
    EXPECT_EQ(out->get_marker_val(-1, elt::QuantizationType, 0, 0), 0);
    EXPECT_EQ(read_three_eighths_option(j2ktest::Args({"-Q3_8", "2"}).line.get()), 2);
    EXPECT_EQ(read_three_eighths_option(nullptr), 0);
    for (std::vector<std::string> bad : {std::vector<std::string>{"-Q3_8"},
                                         {"-Q3_8", "-1"},
                                         {"-Q3_8", "x"},
                                         {"-Q3_8", "1", "2"},
                                         {"-Q3_8", "2x"}}) {
        zn::MessageRecorder r;
        EXPECT_THROW(read_three_eighths_option(j2ktest::Args(bad).line.get()), zn::RunAborted);
        EXPECT_TRUE(j2ktest::Showed(r, "The `-Q3_8' argument requires a single non-negative integer"));
    }
}

} // namespace dz_quantizer_test
