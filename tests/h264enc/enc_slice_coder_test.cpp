// The slice coder's modes and bookkeeping: slices of at most SliceArgument bytes take back the
// macroblock that overflows (and a first macroblock too big on its own keeps its slice), a short CABAC
// slice is padded with zero words to its minimum length, a picture may have hundreds of slices, data
// partitions carry their own headers and residuals, the per-macroblock bit counts add up to the slice's
// bits, and an unknown slice mode ends the run. Every stream parses back in the decoder.
#include "h264enc/support/bit_strings.h"

#include "h264dec/bitstream.h"
#include "platform/messages.h"

#include <gtest/gtest.h>

namespace enc_slice_coder_test { // one namespace per test file: a folder compiles as one source

namespace {

namespace enc = h264enc;
using namespace enctest;

struct Coded
{
    std::unique_ptr<enc::EncoderRun> run;
    std::vector<uint8_t> stream;
    std::vector<std::vector<SyntheticMb>> records;
    std::vector<int> types;
};

// An I and a P picture of random records.
void Code(Coded &c, const RunOptions &o, unsigned seed, bool checkDecoder = true)
{
    std::mt19937 rng(seed);
    c.run = MakeRun(o);
    c.stream = ParameterSetUnits(*c.run);
    RecordCoder coder;
    c.types = {enc::kTypeI, enc::kTypeP};
    for (int k = 0; k < 2; ++k) {
        coder.mbs = RandomPicture(rng, *c.run, c.types[static_cast<size_t>(k)], o.refs, 1);
        c.records.push_back(coder.mbs);
        PictureSetup p;
        p.type = c.types[static_cast<size_t>(k)];
        p.number = k;
        EncodePicture(*c.run, coder, p, c.stream);
    }
    if (!checkDecoder)
        return;
    std::string error;
    const std::vector<DecodedPicture> d = DecodeMacroblocks(c.stream, &error);
    ASSERT_EQ(error, "");
    ASSERT_EQ(d.size(), 2u);
    for (size_t k = 0; k < 2; ++k)
        for (size_t i = 0; i < c.records[k].size(); ++i)
            ASSERT_EQ(CompareMacroblock(c.records[k][i], d[k].mbs[i], c.types[k], false), "")
                << k << " " << i;
}

TEST(SliceCoder, ByteLimitTakesBackTheMacroblockThatDoesNotFit)
{
    for (int cabac = 0; cabac < 2; ++cabac) {
        RunOptions o;
        o.cabac = cabac;
        o.slice_mode = 2;
        o.slice_argument = 120;
        Coded c;
        Code(c, o, 40 + static_cast<unsigned>(cabac));
        const enc::Picture &pic = c.run->frame_pic;
        ASSERT_GT(pic.no_slices, 3);
        int mbs = 0;
        for (const auto &s : pic.slices) {
            mbs += s->mb_count;
            // The limit holds up to the closing bits of the slice.
            if (s->mb_count > 1) {
                EXPECT_LE(static_cast<int>(Unescaped(s->partArr[0].bitstream).size()), o.slice_argument + 3);
            }
        }
        EXPECT_EQ(mbs, 99);
        // Consecutive slices: each starts where the one before stopped.
        for (size_t k = 1; k < pic.slices.size(); ++k)
            EXPECT_EQ(pic.slices[k]->start_mb_nr, pic.slices[k - 1]->last_mb + 1);
    }
}

TEST(SliceCoder, MacroblockTooBigOnItsOwnKeepsItsSlice)
{
    for (int cabac = 0; cabac < 2; ++cabac) {
        RunOptions o;
        o.cabac = cabac;
        o.slice_mode = 2;
        o.slice_argument = 1;
        Coded c;
        Code(c, o, 50 + static_cast<unsigned>(cabac));
        EXPECT_EQ(c.run->frame_pic.no_slices, 99);
    }
}

TEST(SliceCoder, HundredsOfSlicesInOnePicture)
{
    RunOptions o;
    o.width = 352;
    o.height = 288;
    o.slice_mode = 1;
    o.slice_argument = 1;
    o.cabac = 1;
    Coded c;
    Code(c, o, 60);
    EXPECT_EQ(c.run->frame_pic.no_slices, 396);
}

TEST(SliceCoder, ShortCabacSliceGetsZeroWords)
{
    // A CIF picture of skipped macroblocks: many bins, few bytes.
    RunOptions o;
    o.width = 352;
    o.height = 288;
    o.cabac = 1;
    auto run = MakeRun(o);
    std::vector<uint8_t> stream = ParameterSetUnits(*run);
    RecordCoder coder;
    coder.mbs.assign(396, SyntheticMb());
    for (SyntheticMb &m : coder.mbs)
        for (auto &row : m.refs[0])
            for (int &r : row)
                r = 0;
    PictureSetup p;
    p.type = enc::kTypeP;
    p.number = 1;
    EncodePicture(*run, coder, p, stream);
    const enc::Slice &slice = *run->frame_pic.slices.front();
    const enc::Bitstream &bs = slice.partArr[0].bitstream;
    const int minBytes = slice.partArr[0].cabac.min_bytes;
    EXPECT_EQ(minBytes, (slice.partArr[0].cabac.bins - 395 + 31) >> 5);
    EXPECT_GE(bs.byte_count, minBytes);
    ASSERT_GE(bs.byte_count, 3);
    EXPECT_EQ(bs.StreamBuffer[static_cast<size_t>(bs.byte_count - 3)], 0);
    EXPECT_EQ(bs.StreamBuffer[static_cast<size_t>(bs.byte_count - 2)], 0);
    EXPECT_EQ(bs.StreamBuffer[static_cast<size_t>(bs.byte_count - 1)], 3);
    EXPECT_GT(run->stats.stuffing_bits[enc::kTypeP], 0);
    std::string error;
    const std::vector<DecodedPicture> d = DecodeMacroblocks(stream, &error);
    ASSERT_EQ(error, "");
    ASSERT_EQ(d.size(), 1u);
    for (const DecodedMb &m : d[0].mbs)
        EXPECT_EQ(m.mb_type, 0);
}

TEST(SliceCoder, MacroblockBitCountsAddUpToTheSlice)
{
    RunOptions o;
    o.slice_mode = 1;
    o.slice_argument = 20;
    Coded c;
    Code(c, o, 70, false);
    const enc::EncoderImage &img = c.run->img;
    for (const auto &s : c.run->frame_pic.slices) {
        int bits = img.mb_data[static_cast<size_t>(s->start_mb_nr)].bit_counts[enc::kBitsSliceHeader];
        for (int i = s->start_mb_nr; i <= s->last_mb; ++i)
            for (int k = enc::kBitsHeader; k <= enc::kBitsDeltaQuant; ++k)
                bits += img.mb_data[static_cast<size_t>(i)].bit_counts[static_cast<size_t>(k)];
        const std::vector<uint8_t> rbsp = Unescaped(s->partArr[0].bitstream);
        std::string all;
        for (uint8_t b : rbsp)
            all += Bits(b, 8);
        EXPECT_EQ(bits, static_cast<int>(all.find_last_of('1'))) << s->start_mb_nr;
    }
    // The picture statistics hold the same bits by category.
    const enc::EncoderStats &st = c.run->stats;
    int mbs = 0;
    for (int mode = 0; mode < 13; ++mode)
        mbs += st.mode_use[0][static_cast<size_t>(mode)];
    EXPECT_EQ(mbs, 99);
    EXPECT_EQ(st.quant_count, 99);
}

TEST(SliceCoder, DataPartitionsCarryTheirHeadersAndResiduals)
{
    RunOptions o;
    o.partition_mode = 1;
    o.slice_mode = 1;
    o.slice_argument = 33;
    Coded c;
    Code(c, o, 80, false);
    const enc::Picture &pic = c.run->frame_pic; // the P picture
    ASSERT_EQ(pic.no_slices, 3);
    int interContent = 0;
    for (size_t k = 0; k < pic.slices.size(); ++k) {
        const enc::Slice &s = *pic.slices[k];
        ASSERT_EQ(s.partArr.size(), 3u);
        for (int part = 1; part < 3; ++part) {
            // Slice identifier and slice number, Exp-Golomb, as the partition's header.
            const std::vector<uint8_t> rbsp = Unescaped(s.partArr[static_cast<size_t>(part)].bitstream);
            std::string bits;
            for (uint8_t b : rbsp)
                bits += Bits(b, 8);
            EXPECT_EQ(bits.substr(0, Ue(s.picture_id).size() + Ue(static_cast<int>(k)).size()),
                      Ue(s.picture_id) + Ue(static_cast<int>(k)));
        }
        interContent += s.partArr[2].bitstream.has_content;
    }
    EXPECT_GT(interContent, 0);
}

TEST(SliceCoder, UnknownSliceModeEndsTheRun)
{
    RunOptions o;
    o.slice_mode = 5;
    auto run = MakeRun(o);
    std::mt19937 rng(1);
    RecordCoder coder;
    coder.mbs = RandomPicture(rng, *run, enc::kTypeI, 1, 1);
    std::vector<uint8_t> stream;
    zn::MessageRecorder recorder;
    try {
        EncodePicture(*run, coder, PictureSetup(), stream);
        FAIL();
    } catch (const H264FatalError &e) {
        EXPECT_EQ(e.ExitCode(), 600);
        EXPECT_NE(std::string(e.what()).find("Slice Mode 5 not supported"), std::string::npos);
    }
}

} // namespace

} // namespace enc_slice_coder_test
