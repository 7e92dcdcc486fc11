// CAVLC block writing: the worked block of the coding rules, random blocks of every type read back by
// the decoder's reading at every nC, the escape codes and their sign, the limit of the escape code, the
// nC prediction from neighbouring blocks and the fast writer against the plain one.
#include "h264dec/h264_shared.h"
#include "h264enc/cavlc_write.h"
#include "h264enc/enc_run.h"
#include "h264enc/support/decoder_oracle.h"
#include "platform/messages.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

namespace enc_cavlc_test { // one namespace per test file: a folder compiles as one source

namespace {

namespace enc = h264enc;

// A block in scan order (coefficients), turned into the writer's (level, run) pairs ended by 0.
struct Pairs
{
    std::vector<int> level, run;
    explicit Pairs(const std::vector<int> &scan)
    {
        int zeros = 0;
        for (int c : scan) {
            if (c == 0) {
                ++zeros;
                continue;
            }
            level.push_back(c);
            run.push_back(zeros);
            zeros = 0;
        }
        level.push_back(0);
        run.push_back(0);
    }
};

std::vector<int> MaxCoeffScan(int type, std::mt19937 &rng, int maxLevel)
{
    const int n = enc::CavlcMaxCoeff(type);
    std::vector<int> scan(static_cast<size_t>(n), 0);
    const int density = static_cast<int>(rng() % 101);
    for (auto &c : scan) {
        if (static_cast<int>(rng() % 100) >= density)
            continue;
        // Mostly small levels (trailing ones, short codes), sometimes up to the escape range and beyond.
        const int kind = static_cast<int>(rng() % 10);
        int mag = kind < 5   ? 1
                  : kind < 8 ? 1 + static_cast<int>(rng() % 16)
                             : 1 + static_cast<int>(rng() % maxLevel);
        c = rng() & 1 ? mag : -mag;
    }
    return scan;
}

TEST(Cavlc, WorkedBlockOfTheCodingRules)
{
    // Levels 0 0 1 -1, nA = nB = 0: coeff_token 001, signs 1 (the -1) then 0, total_zeros 2 (101), one run 1.
    const Pairs p({0, 0, 1, -1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    enc::Bitstream bs;
    int total = 0;
    const int bits = enc::write_cavlc_block(bs, enc::kLuma, p.level.data(), p.run.data(), 0, &total);
    EXPECT_EQ(total, 2);
    EXPECT_EQ(enctest::BitString(bs), "001"
                                      "10"
                                      "101"
                                      "1");
    EXPECT_EQ(bits, 9);
}

TEST(Cavlc, RandomBlocksOfEveryTypeReadBackThroughTheDecoder)
{
    std::mt19937 rng(2024);
    int written = 0, refused = 0;
    for (int type : {enc::kLuma, enc::kLum16DC, enc::kLum16AC, enc::kChrDC, enc::kChrAC}) {
        for (int nC = 0; nC <= 16; ++nC) {
            for (int trial = 0; trial < 300; ++trial) {
                const std::vector<int> scan = MaxCoeffScan(type, rng, 3000);
                const Pairs p(scan);
                int maxAbs = 0;
                for (int c : scan)
                    maxAbs = std::max(maxAbs, std::abs(c));
                zn::MessageRecorder rec;
                enc::Bitstream bs;
                int total = -1;
                try {
                    enc::write_cavlc_block(bs, type, p.level.data(), p.run.data(), nC, &total);
                } catch (const H264FatalError &e) {
                    // Only levels beyond what every suffix length can carry are refused; every level
                    // up to 2063 fits any escape, none above 2528 fits one.
                    EXPECT_GT(maxAbs, enc::CavlcMaxLevel(0)) << e.what();
                    EXPECT_EQ(e.ExitCode(), kH264StreamErrorCode);
                    ++refused;
                    continue;
                }
                EXPECT_LE(maxAbs, enc::CavlcMaxLevel(6));
                ++written;
                auto dp = enctest::DecoderPartition(enctest::BytesOf(bs, 8));
                const enctest::ReadBlock r = enctest::ReadCavlcBlock(*dp, type, nC);
                ASSERT_EQ(r.total_coeff, total);
                ASSERT_EQ(static_cast<int>(r.levels.size()) + 1, static_cast<int>(p.level.size()));
                for (size_t k = 0; k < r.levels.size(); ++k) {
                    ASSERT_EQ(r.levels[k], p.level[k]) << "type " << type << " nC " << nC << " pair " << k;
                    ASSERT_EQ(r.runs[k], p.run[k]) << "type " << type << " nC " << nC << " pair " << k;
                }
                EXPECT_EQ(dp->bitstream->bit_offset, bs.BitCount());
            }
        }
    }
    EXPECT_GT(written, 15000);
    EXPECT_GT(refused, 0);
}

TEST(Cavlc, EveryTrailingOnesCountAndBothSuffixZeroEscapesRoundTrip)
{
    // Each case forces one code path; the decoder must give back the same block.
    const std::vector<std::vector<int>> cases = {
        {1},              // one trailing one
        {-1, 1},          // two
        {1, -1, -1},      // three
        {2, 1, 1, 1},     // three trailing ones, then a level coded unreduced
        {9, 1, 1, 1},     // escape of 4 suffix bits, positive
        {-9, 1, 1, 1},    // the same, negative
        {-15, 1, 1, 1},   // last 4-bit escape
        {16, 1, 1, 1},    // escape of 12 suffix bits
        {-2063, 1, 1, 1}, // its largest magnitude
        {9},              // reduced first level: 8 goes out in the 4-bit escape
        {-2064},          // reduced to 2063: the largest the escape holds
        {3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3}, // TotalCoeff 16, suffix length starts at 1
    };
    for (const auto &scan : cases) {
        const Pairs p(scan);
        enc::Bitstream bs;
        int total = 0;
        enc::write_cavlc_block(bs, enc::kLuma, p.level.data(), p.run.data(), 0, &total);
        auto dp = enctest::DecoderPartition(enctest::BytesOf(bs, 8));
        const enctest::ReadBlock r = enctest::ReadCavlcBlock(*dp, enc::kLuma, 0);
        ASSERT_EQ(r.total_coeff, total);
        for (size_t k = 0; k < r.levels.size(); ++k)
            EXPECT_EQ(r.levels[k], p.level[k]) << scan[0];
    }
}

TEST(Cavlc, SuffixZeroEscapeSignFollowsThisProgramsDecoder)
{
    // 9 after three trailing ones: 14 zeros, a 1, then (2 x 9 - 16) = 2 and the sign bit, 1 for positive.
    for (int sign : {1, -1}) {
        const Pairs p({9 * sign, 1, 1, 1});
        enc::Bitstream bs;
        int total = 0;
        enc::write_cavlc_block(bs, enc::kLuma, p.level.data(), p.run.data(), 0, &total);
        const std::string bits = enctest::BitString(bs);
        // coeff_token (TotalCoeff 4, TrailingOnes 3, table 0) is 000011 (6 bits), then 3 sign bits.
        const std::string level = bits.substr(9, 19);
        EXPECT_EQ(level, sign > 0 ? "0000000000000010011" : "0000000000000010010");
    }
}

TEST(Cavlc, LevelsBeyondTheEscapeAreRefusedBeforeAnythingIsWritten)
{
    zn::MessageRecorder rec;
    const Pairs p({-2065});
    enc::Bitstream bs;
    int total = 0;
    EXPECT_THROW(enc::write_cavlc_block(bs, enc::kLuma, p.level.data(), p.run.data(), 0, &total),
                 H264FatalError);
    EXPECT_EQ(bs.BitCount(), 0);
    EXPECT_EQ(rec.Count(), 1u);
}

TEST(Cavlc, FullBlocksWriteNoTotalZeros)
{
    // 16 luma coefficients and 15 AC coefficients: the count says where every zero is (none).
    for (int type : {enc::kLuma, enc::kLum16AC}) {
        std::vector<int> scan(static_cast<size_t>(enc::CavlcMaxCoeff(type)), 2);
        const Pairs p(scan);
        enc::Bitstream bs;
        int total = 0;
        enc::write_cavlc_block(bs, type, p.level.data(), p.run.data(), 0, &total);
        auto dp = enctest::DecoderPartition(enctest::BytesOf(bs, 8));
        enctest::ReadCavlcBlock(*dp, type, 0);
        EXPECT_EQ(dp->bitstream->bit_offset, bs.BitCount()) << type;
    }
}

TEST(Cavlc, MalformedListsAreRefused)
{
    const struct
    {
        int type;
        std::vector<int> level, run;
    } cases[] = {
        {enc::kChrDC, {1, 1, 1, 1, 1, 0}, {0, 0, 0, 0, 0, 0}}, // five chroma DC coefficients
        {enc::kLuma, {1, 0}, {16, 0}},                         // position beyond the block
        {enc::kLum16AC, {1, 1, 0}, {7, 7, 0}},                 // 16 positions in a 15-coefficient block
        {enc::kLuma, {1, 0}, {-1, 0}},                         // negative run
    };
    for (const auto &c : cases) {
        zn::MessageRecorder rec;
        enc::Bitstream bs;
        int total = 0;
        EXPECT_THROW(enc::write_cavlc_block(bs, c.type, c.level.data(), c.run.data(), 0, &total),
                     H264FatalError);
        EXPECT_EQ(bs.BitCount(), 0);
    }
    zn::MessageRecorder rec;
    enc::Bitstream bs;
    int total = 0;
    const int zero[2] = {0, 0};
    try {
        enc::write_cavlc_block(bs, 3, zero, zero, 0, &total);
        FAIL() << "block type 3 accepted";
    } catch (const H264FatalError &e) {
        EXPECT_EQ(e.ExitCode(), 600);
        EXPECT_STREQ(e.what(), "writeCoeff4x4_CAVLC: Invalid block type");
    }
}

TEST(Cavlc, FastWriterEqualsPlainWriter)
{
    std::mt19937 rng(99);
    enc::Bitstream fast, plain;
    for (int i = 0; i < 20000; ++i) {
        const int type = std::array<int, 5>{0, 1, 2, 6, 7}[rng() % 5];
        const Pairs p(MaxCoeffScan(type, rng, 2000));
        const int nC = static_cast<int>(rng() % 17);
        int t1 = 0, t2 = 0;
        const int b1 = enc::write_cavlc_block(fast, type, p.level.data(), p.run.data(), nC, &t1);
        const int b2 = enc::write_cavlc_block_reference(plain, type, p.level.data(), p.run.data(), nC, &t2);
        ASSERT_EQ(b1, b2);
        ASSERT_EQ(t1, t2);
    }
    EXPECT_EQ(enctest::BitString(fast), enctest::BitString(plain));
}

// Two macroblocks side by side in one slice, QCIF-wide, for the neighbour rules.
struct TwoMacroblocks
{
    enc::EncoderParams input;
    enc::EncoderImage img;
    enc::Slice slice;
    TwoMacroblocks()
    {
        input.SourceWidth = 176;
        input.SourceHeight = 144;
        input.NumberReferenceFrames = 1;
        enc::init_image_geometry(input, img);
        slice.partArr.resize(1);
        img.current_slice = &slice;
        img.mb_index = 12; // column 1, row 1
        img.mb_x = 1;
        img.mb_y = 1;
    }
};

TEST(CavlcNeighbours, IntegerAverageOfTheAvailableCounts)
{
    TwoMacroblocks t;
    // Block (0, 0): left is block (3, 0) of macroblock 11, above is block (0, 3) of macroblock 1.
    t.img.nzcoeff.at(0, 1, 3, 0) = 1;
    t.img.nzcoeff.at(1, 0, 0, 3) = 2;
    EXPECT_EQ(enc::PredictNc(t.img, 11, 0, 0), 1); // (1 + 2) / 2, where rounding would give 2
    // A neighbour in another slice is not available.
    t.img.mb_data[1].slice_index = 1;
    EXPECT_EQ(enc::PredictNc(t.img, 11, 0, 0), 1);
    t.img.nzcoeff.at(0, 1, 3, 0) = 7;
    EXPECT_EQ(enc::PredictNc(t.img, 11, 0, 0), 7);
    // No neighbour at all: nC 0.
    t.img.mb_data[11].slice_index = 1;
    EXPECT_EQ(enc::PredictNc(t.img, 11, 0, 0), 0);
    // Chroma AC: the right block of V's upper row takes its left neighbour in the macroblock and the
    // lower row of the macroblock above.
    t.img.mb_data[1].slice_index = 0;
    t.img.nzcoeff.at(1, 1, 2, 4) = 4;
    t.img.nzcoeff.at(1, 0, 3, 5) = 10;
    EXPECT_EQ(enc::PredictNc(t.img, 11, 3, 4), 7);
}

TEST(CavlcNeighbours, BlockWriterUsesThePredictedTableAndStoresTheCount)
{
    TwoMacroblocks t;
    t.img.nzcoeff.at(0, 1, 3, 0) = 4; // left of block (0, 0): nC 4 -> table 2
    t.img.mb_data[12].mb_mode = enc::kModeI4;
    const Pairs p({5, 0, 3, 1});
    std::copy(p.level.begin(), p.level.end(), t.img.cof.cofAC[0][0][0]);
    std::copy(p.run.begin(), p.run.end(), t.img.cof.cofAC[0][0][1]);
    const int bits = enc::writeCoeff4x4_CAVLC(t.input, t.img, enc::kLuma, 0, 0, 0);
    EXPECT_EQ(t.img.nzcoeff.at(1, 1, 0, 0), 3);
    EXPECT_EQ(t.img.mb_data[12].bit_counts[enc::kBitsLuma], bits);
    auto dp = enctest::DecoderPartition(enctest::BytesOf(t.slice.partArr[0].bitstream, 8));
    const enctest::ReadBlock r = enctest::ReadCavlcBlock(*dp, enc::kLuma, 4);
    EXPECT_EQ(r.levels, std::vector<int>({5, 3, 1}));
    EXPECT_EQ(r.runs, std::vector<int>({0, 1, 0}));
    // Chroma DC stores no count and goes to the chroma bits.
    t.img.cof.cofDC[1][0][0] = -2;
    t.img.cof.cofDC[1][1][0] = 0;
    t.img.cof.cofDC[1][0][1] = 0;
    const int dcBits = enc::writeCoeff4x4_CAVLC(t.input, t.img, enc::kChrDC, 0, 0, 0);
    EXPECT_EQ(t.img.mb_data[12].bit_counts[enc::kBitsChroma], dcBits);
}

} // namespace

} // namespace enc_cavlc_test
