// Tier 2: tag trees, the stuffing bit buffer, packet heads and bodies written by the encoder and
// read back by the decoder, trials that leave no trace, cut heads and bodies, and layer dropping.
#include "jpeg2000/support/tier2_fixture.h"

#include "jpeg2000/local_services.h"
#include "jpeg2000/packet_decoder.h"
#include "jpeg2000/packet_encoder.h"

#include "platform/errors.h"
#include "platform/messages.h"

#include <gtest/gtest.h>

namespace tier2_test { // one namespace per test file: a folder compiles as one source

using namespace zn::j2k;
using j2ktest::DecoderPrecinct;
using j2ktest::EncoderPrecinct;
using j2ktest::FakeBlock;
using j2ktest::MemorySource;

namespace {
std::vector<uint8_t> Head(packet_bits &bits)
{
    return std::vector<uint8_t>(bits.data(), bits.data() + bits.size());
}

// A block of Z empty planes and one coded pass of `bytes` bytes at slope 100.
FakeBlock OnePassBlock(int zero_planes, int bytes, int slope = 100)
{
    FakeBlock f;
    f.zero_planes = zero_planes;
    for (int n = 0; n < 3 * zero_planes; ++n)
        f.passes.push_back({0, -1, 0});
    f.passes.push_back({bytes, int16_t(slope), 1});
    for (int i = 0; i < bytes; ++i)
        f.bytes.push_back(uint8_t(0x10 + i));
    return f;
}
} // namespace

TEST(J2kTier2, PublishedHeadExamples)
{
    // A block not yet included: the packet bit, then 0 from the inclusion tree.
    {
        EncoderPrecinct e;
        e.AddBand(1, 1, {OnePassBlock(2, 5, 100)});
        j2ktest::CapturedStream s;
        packet_bits bits;
        EXPECT_EQ(code_packet(e.precinct, 200, *s.out, true, 0, bits), 1);
        EXPECT_EQ(Head(bits), (std::vector<uint8_t>{0x80}));
    }
    // Entering at layer 0 with Z = 2, one pass of 5 bytes: 1, 1, 001, 0, 0, 101.
    {
        EncoderPrecinct e;
        e.AddBand(1, 1, {OnePassBlock(2, 5, 100)});
        j2ktest::CapturedStream s;
        packet_bits bits;
        EXPECT_EQ(code_packet(e.precinct, 100, *s.out, false, 0, bits), 2 + 5);
        EXPECT_EQ(Head(bits), (std::vector<uint8_t>{0xC9, 0x40}));
        auto bytes = s.Bytes();
        EXPECT_EQ(bytes, (std::vector<uint8_t>{0xC9, 0x40, 0x10, 0x11, 0x12, 0x13, 0x14}));

        // Read back: 3 x 2 missing-plane passes and the coded one; the contribution sits on record 0.
        DecoderPrecinct d;
        d.AddBand(1, 1, 7);
        MemorySource src(bytes);
        read_packet(d.precinct, coder_modes{}, 0, src, d.heap);
        const dec_block &b = d.bands[0]->blocks[0];
        EXPECT_EQ(b.zero_planes, 2);
        EXPECT_EQ(b.included, 7);
        EXPECT_EQ(b.to_decode, 7);
        EXPECT_EQ(b.records[0].contribution, 5);
        EXPECT_EQ(b.total_bytes, 5);
        EXPECT_FALSE(d.precinct.no_more_data);
        EXPECT_EQ(src.position(), bytes.size());
    }
}

TEST(J2kTier2, StuffedBitAfterFFAndTrailingZeroByte)
{
    packet_bits bits;
    bits.put_bits(0xFF, 8);
    bits.put_bits(0x7F, 7); // the byte after 0xFF takes seven bits
    bits.put_bits(0x1, 1);
    bits.flush();
    EXPECT_EQ(Head(bits), (std::vector<uint8_t>{0xFF, 0x7F, 0x80}));
    bits.reset();
    bits.put_bits(0xFF, 8);
    EXPECT_EQ(bits.flush(), 2);
    EXPECT_EQ(Head(bits), (std::vector<uint8_t>{0xFF, 0x00}));

    // The reader drops the stuffed bit and takes the 0x00 after a final 0xFF at once.
    MemorySource src({0xFF, 0x00, 0xAB});
    packet_bit_reader reader(src);
    EXPECT_EQ(reader.get_bits(8), 0xFF);
    EXPECT_EQ(reader.bytes(), 2);
    EXPECT_EQ(src.position(), 2u);
}

TEST(J2kTier2, TagTreesCarryMinimaAcrossLevels)
{
    // 3 x 5 leaves: levels 3x5, 2x3, 1x2, 1x1.
    tag_tree t = tag_tree_create(3, 5);
    EXPECT_EQ(t.nodes().size(), size_t(15 + 6 + 2 + 1));
    std::mt19937 rng(4);
    for (int trial = 0; trial < 50; ++trial) {
        tag_tree_reset(t);
        std::vector<int32_t> values(15);
        for (int i = 0; i < 15; ++i) {
            values[size_t(i)] = int32_t(rng() % 6);
            tag_tree_set(t, i, values[size_t(i)]);
        }
        EXPECT_EQ(t.nodes().back().value, *std::min_element(values.begin(), values.end()));
        // Encode leaves against rising thresholds, then decode the bits in the same order.
        packet_bits bits;
        std::vector<std::pair<int, int>> order;
        for (int threshold = 1; threshold <= 7; ++threshold)
            for (int i = 0; i < 15; ++i)
                if (rng() % 2)
                    order.push_back({i, threshold});
        std::vector<bool> answers;
        for (auto [leaf, threshold] : order)
            answers.push_back(tag_tree_encode(t, leaf, threshold, bits));
        bits.flush();
        MemorySource src(Head(bits));
        packet_bit_reader reader(src);
        tag_tree d = tag_tree_create(3, 5);
        for (size_t k = 0; k < order.size(); ++k) {
            auto [leaf, threshold] = order[k];
            ASSERT_EQ(tag_tree_decode(d, leaf, threshold, reader), answers[k])
                << "trial " << trial << " step " << k;
            ASSERT_EQ(answers[k], values[size_t(leaf)] < threshold);
        }
    }
}

TEST(J2kTier2, PassCountCodes)
{
    // The standard's codeword lengths for 1, 2, 3..5, 6..36, 37..164 passes.
    const int cases[][2] = {{1, 1}, {2, 2}, {3, 4}, {5, 4}, {6, 9}, {36, 9}, {37, 16}, {164, 16}};
    for (auto [m, length] : cases) {
        packet_bits bits;
        put_pass_count(bits, m);
        bits.put_bits(0, 16);
        bits.flush();
        int used = 0;
        MemorySource src(Head(bits));
        packet_bit_reader reader(src);
        // Count the code's bits by reading it back the decoder's way.
        int b = reader.get_bit();
        used = 1;
        if (b) {
            b = reader.get_bit();
            used = 2;
            if (b) {
                int v = reader.get_bits(2);
                used = 4;
                if (v == 3) {
                    v = reader.get_bits(5);
                    used = 9;
                    if (v == 31)
                        used = 16;
                }
            }
        }
        EXPECT_EQ(used, length) << m;
    }
}

TEST(J2kTier2, RandomPrecinctsRoundTripOverLayers)
{
    std::mt19937 rng(9);
    for (int trial = 0; trial < 60; ++trial) {
        const int capacity = 3 * (1 + int(rng() % 12)) - 2;
        const bool lazyish = trial % 3 == 0;
        EncoderPrecinct e;
        DecoderPrecinct d;
        std::vector<std::vector<FakeBlock>> fakes;
        const int nbands = 1 + int(rng() % 3);
        for (int band = 0; band < nbands; ++band) {
            int rows = 1 + int(rng() % 3), cols = 1 + int(rng() % 4);
            std::vector<FakeBlock> blocks;
            for (int i = 0; i < rows * cols; ++i)
                blocks.push_back(j2ktest::RandomFakeBlock(rng, capacity, lazyish));
            e.AddBand(rows, cols, blocks);
            d.AddBand(rows, cols, capacity);
            fakes.push_back(blocks);
        }
        // Decreasing thresholds, each layer tried twice at other thresholds before it is kept.
        j2ktest::CapturedStream sim, out;
        packet_bits bits;
        std::vector<int> thresholds;
        for (int t = 30000; t > 0; t -= 1 + int(rng() % 9000))
            thresholds.push_back(t);
        thresholds.push_back(1);
        std::vector<int> simulated;
        for (size_t l = 0; l < thresholds.size(); ++l) {
            if (l > 0) {
                save_tier2_state(e.precinct);
                for (int trial_threshold : {thresholds[l] / 2, 32767}) {
                    code_packet(e.precinct, trial_threshold, *sim.out, true, int(l), bits);
                    restore_tier2_state(e.precinct);
                }
            }
            simulated.push_back(code_packet(e.precinct, thresholds[l], *sim.out, true, int(l), bits));
        }
        for (size_t l = 0; l < thresholds.size(); ++l)
            ASSERT_EQ(code_packet(e.precinct, thresholds[l], *out.out, false, int(l), bits), simulated[l]);
        auto bytes = out.Bytes();
        size_t total = 0;
        for (int s : simulated)
            total += size_t(s);
        ASSERT_EQ(bytes.size(), total);

        MemorySource src(bytes);
        for (size_t l = 0; l < thresholds.size(); ++l)
            read_packet(d.precinct, coder_modes::from_flags(lazyish ? 4 : 0), int(l), src, d.heap);
        ASSERT_EQ(src.position(), bytes.size());
        // Every block has exactly the passes the encoder included at the last threshold (1), and
        // exactly the code bytes they span.
        for (int band = 0; band < nbands; ++band)
            for (size_t i = 0; i < fakes[size_t(band)].size(); ++i) {
                const FakeBlock &f = fakes[size_t(band)][i];
                const enc_block &eb = e.bands[size_t(band)]->blocks[i];
                dec_block &db = d.bands[size_t(band)]->blocks[i];
                ASSERT_EQ(db.included, eb.included) << "trial " << trial;
                ASSERT_EQ(db.to_decode, eb.included);
                if (eb.included == 0)
                    continue;
                ASSERT_EQ(db.zero_planes, f.zero_planes);
                const int32_t length = f.passes[size_t(eb.included - 1)].length;
                ASSERT_EQ(db.total_bytes, length);
                std::vector<uint8_t> got;
                for (code_byte_block *c = db.chain; c; c = c->next)
                    for (int k = 0; k < 32; ++k)
                        got.push_back(reinterpret_cast<uint8_t *>(c->words)[k]);
                got.resize(size_t(length));
                ASSERT_EQ(got, std::vector<uint8_t>(f.bytes.begin(), f.bytes.begin() + length));
                int32_t sum = 0;
                for (int n = 0; n < db.included; ++n)
                    sum += db.records[n].contribution;
                ASSERT_EQ(sum, length);
            }
    }
}

TEST(J2kTier2, PacketWithFirstBitZeroReadsNothingElse)
{
    DecoderPrecinct d;
    d.AddBand(2, 2, 10);
    MemorySource src({0x00, 0xFF, 0xFF});
    read_packet(d.precinct, coder_modes{}, 0, src, d.heap);
    EXPECT_EQ(src.position(), 1u);
    EXPECT_FALSE(d.precinct.no_more_data);
    for (const dec_block &b : d.bands[0]->blocks)
        EXPECT_EQ(b.included, 0);
}

TEST(J2kTier2, CutHeadsAndBodiesKeepWhatArrivedCompletely)
{
    std::mt19937 rng(2);
    EncoderPrecinct e;
    std::vector<FakeBlock> blocks;
    for (int i = 0; i < 4; ++i)
        blocks.push_back(OnePassBlock(1, 20 + i, 1000));
    e.AddBand(2, 2, blocks);
    j2ktest::CapturedStream out;
    packet_bits bits;
    const int first = code_packet(e.precinct, 2000, *out.out, false, 0, bits); // nothing included
    const int second = code_packet(e.precinct, 500, *out.out, false, 1, bits); // everything
    auto bytes = out.Bytes();
    ASSERT_EQ(bytes.size(), size_t(first + second));
    const int head = bits.size();

    // Cut inside the second packet's head: the precinct is marked, nothing is decodable.
    {
        DecoderPrecinct d;
        d.AddBand(2, 2, 4);
        MemorySource src(bytes, size_t(first + 1));
        read_packet(d.precinct, coder_modes{}, 0, src, d.heap);
        read_packet(d.precinct, coder_modes{}, 1, src, d.heap);
        EXPECT_TRUE(d.precinct.no_more_data);
        for (const dec_block &b : d.bands[0]->blocks)
            EXPECT_EQ(b.to_decode, 0);
    }
    // Cut in the middle of block 3's body: blocks 1 and 2 decode, 3 and 4 count their passes but
    // can never be decoded.
    {
        DecoderPrecinct d;
        d.AddBand(2, 2, 4);
        MemorySource src(bytes, size_t(first + head + 20 + 21 + 5));
        read_packet(d.precinct, coder_modes{}, 0, src, d.heap);
        read_packet(d.precinct, coder_modes{}, 1, src, d.heap);
        const auto &b = d.bands[0]->blocks;
        EXPECT_EQ(b[0].to_decode, 4);
        EXPECT_EQ(b[1].to_decode, 4);
        EXPECT_EQ(b[2].to_decode, 0);
        EXPECT_EQ(b[3].to_decode, 0);
        EXPECT_EQ(b[2].included, 4);
        EXPECT_EQ(b[3].included, 4);
        EXPECT_EQ(b[2].total_bytes, 5);
    }
}

TEST(J2kTier2, OneSegmentPerLayerInLazyModeWithOnePassPerLayer)
{
    // Lazy terminations: with one new pass per layer each contribution is one segment whose length
    // is the contribution size.
    FakeBlock f;
    f.zero_planes = 0;
    int32_t length = 0;
    for (int n = 0; n < 16; ++n) {
        length += 3;
        f.passes.push_back({length, int16_t(20000 - 1000 * n), 0});
    }
    std::vector<pass_record> marks(16, pass_record{0, 0, 0});
    set_encoder_terminations(marks.data(), 0, 16, coder_modes::from_flags(1));
    for (int n = 0; n < 16; ++n)
        f.passes[size_t(n)].terminated = marks[size_t(n)].terminated;
    for (int i = 0; i < length; ++i)
        f.bytes.push_back(uint8_t(i));
    EncoderPrecinct e;
    e.AddBand(1, 1, {f});
    j2ktest::CapturedStream out;
    packet_bits bits;
    for (int l = 0; l < 16; ++l)
        code_packet(e.precinct, 20000 - 1000 * l, *out.out, false, l, bits);
    auto bytes = out.Bytes();
    DecoderPrecinct d;
    d.AddBand(1, 1, 16);
    MemorySource src(bytes);
    for (int l = 0; l < 16; ++l) {
        read_packet(d.precinct, coder_modes::from_flags(1), l, src, d.heap);
        const dec_block &b = d.bands[0]->blocks[0];
        ASSERT_EQ(b.included, l + 1);
        EXPECT_EQ(b.records[l].contribution, 3) << l;
    }
}

TEST(J2kTier2, DecoderTerminationsMatchTheEncoders)
{
    for (int flags : {0, 1, 2 | 4, 1 | 16, 4 | 16})
        for (int Z = 0; Z < 4; ++Z) {
            const int capacity = 40;
            coder_modes m = coder_modes::from_flags(flags);
            std::vector<pass_record> enc(capacity, pass_record{0, 0, 0});
            set_encoder_terminations(enc.data(), 3 * Z, capacity, m);
            std::vector<dec_pass_record> dec(capacity, dec_pass_record{0, 0, 0, 0});
            set_pass_terminations(dec.data(), Z, capacity, m.terminate_all, m.lazy ? 3 : 31);
            for (int n = 0; n < capacity - 1; ++n) // the encoder also ends its last pass
                EXPECT_EQ(dec[size_t(n)].terminated, enc[size_t(n)].terminated)
                    << "flags " << flags << " Z " << Z << " pass " << n;
        }
}

TEST(J2kTier2, OversizedSegmentEndsTheRun)
{
    zn::MessageRecorder recorder;
    J2kRun run;
    FakeBlock f = OnePassBlock(0, 70000);
    EncoderPrecinct e;
    e.AddBand(1, 1, {f});
    j2ktest::CapturedStream s;
    packet_bits bits;
    EXPECT_THROW(code_packet(e.precinct, 1, *s.out, true, 0, bits), zn::RunAborted);
    EXPECT_NE(j2ktest::JoinedText(recorder).find(j2ktest::Collapsed(
                  "Too many code bytes in a single bit-stream layer for one or more blocks!  Use "
                  "smaller code blocks or more layers (SNR progressive)!")),
              std::string::npos);
}

TEST(J2kTier2, BandThresholdFollowsTheWeight)
{
    const int T = 512 * 10 + 100;
    EXPECT_EQ(band_threshold(T, 0.0), 32767);
    EXPECT_EQ(band_threshold(T, 1.0), T);
    EXPECT_EQ(band_threshold(T, 2.0), 512 * 9 + 100);
    EXPECT_EQ(band_threshold(T, 4.0), 512 * 8 + 100);
    EXPECT_EQ(band_threshold(T, 0.5), 512 * 11 + 100);
    EXPECT_EQ(band_threshold(0, 2.0), 0);
    EXPECT_EQ(band_threshold(300, 1e6), 1);
    EXPECT_EQ(band_threshold(512 * 62, 1e-9), 32767);
}

TEST(J2kTier2, DroppingLayersGivesBackTheHighestLayersFirst)
{
    // One precinct, two blocks, three layers of 10 bytes each per block.
    FakeBlock f;
    f.passes = {{10, 3000, 0}, {20, 2000, 0}, {30, 1000, 1}};
    for (int i = 0; i < 30; ++i)
        f.bytes.push_back(uint8_t(i));
    EncoderPrecinct e;
    e.AddBand(1, 2, {f, f});
    j2ktest::CapturedStream out;
    packet_bits bits;
    std::vector<int32_t> lengths;
    for (int l = 0; l < 3; ++l)
        lengths.push_back(code_packet(e.precinct, 3000 - 1000 * l, *out.out, false, l, bits));
    auto bytes = out.Bytes();
    auto read_all = [&](DecoderPrecinct &d) {
        d.AddBand(1, 2, 3);
        MemorySource src(bytes);
        for (int l = 0; l < 3; ++l) {
            read_packet(d.precinct, coder_modes{}, l, src, d.heap);
            d.precinct.layer_bytes.push_back(lengths[size_t(l)]);
            ++d.precinct.layers_read;
        }
    };
    // Over by 15: both blocks give back their top contribution (10 bytes each), the layer goes.
    {
        DecoderPrecinct d;
        read_all(d);
        dec_tile tile;
        tile.precincts.push_back(&d.precinct);
        int32_t used = int32_t(bytes.size());
        drop_layers(tile, used, used - 15, d.heap);
        const auto &b = d.bands[0]->blocks;
        EXPECT_EQ(d.precinct.layers_read, 2);
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(b[size_t(i)].to_decode, 2);
            EXPECT_EQ(b[size_t(i)].usable_bytes, 20);
            EXPECT_EQ(b[size_t(i)].total_bytes, 20);
        }
        EXPECT_EQ(used, int32_t(bytes.size()) - lengths[2]);
    }
    // Over by 1: the last block's contribution is enough; the layer stays counted.
    {
        DecoderPrecinct d;
        read_all(d);
        dec_tile tile;
        tile.precincts.push_back(&d.precinct);
        int32_t used = int32_t(bytes.size());
        drop_layers(tile, used, used - 1, d.heap);
        const auto &b = d.bands[0]->blocks;
        EXPECT_EQ(b[0].to_decode, 3);
        EXPECT_EQ(b[1].to_decode, 2);
        EXPECT_EQ(d.precinct.layers_read, 3);
        EXPECT_EQ(used, int32_t(bytes.size()) - 10);
    }
    // A single-layer stream says so and is cut all the same.
    zn::MessageRecorder recorder;
    dec_tile lone;
    DecoderPrecinct one;
    one.AddBand(1, 1, 3);
    one.precinct.layers_read = 1;
    lone.precincts.push_back(&one.precinct);
    int32_t bytes_used = 100;
    drop_layers(lone, bytes_used, 10, one.heap);
    EXPECT_TRUE(
        recorder.Contains("Parsing stream: problem because it has only one layer (not SNR scalable)"));
}

} // namespace tier2_test
