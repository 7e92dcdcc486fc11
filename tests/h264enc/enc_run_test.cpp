// Whole encoding runs on a synthetic pan, decoded by our decoder: the reconstruction file must equal
// the decoder's output byte for byte.
#include "h264enc/support/encoder_fixture.h"
#include "platform/format.h"
#include "platform/keypoll.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace enc_run_test { // one namespace per test file: a folder compiles as one source

namespace {

struct RunCase
{
    const char *name;
    std::vector<std::string> extra;
};

void PrintTo(const RunCase &c, std::ostream *os)
{
    *os << c.name;
}

class EncoderRoundTrip : public ::testing::TestWithParam<RunCase>
{
};

TEST_P(EncoderRoundTrip, ReconstructionEqualsDecoderOutput)
{
    const RunCase &c = GetParam();
    zntest::ScratchDir dir;
    const int w = 64, h = 48, frames = 5;
    const std::string yuv = dir.File("in.yuv");
    const auto seq = enctest::SyntheticPan(w, h, frames, 2, 1);
    zntest::WriteFileBytes(yuv, std::vector<unsigned char>(seq.begin(), seq.end()));
    auto v = enctest::DialogValues(yuv, w, h, frames, dir.File("out.264"));
    std::vector<std::string> extra = c.extra;
    extra.push_back("ReconFile = \"" + dir.File("rec.yuv") + "\"");
    const std::string settings = enctest::WriteSettings(dir.Path(), v, extra);
    const enctest::EncodeResult e = enctest::Encode(settings);
    ASSERT_TRUE(e.ok) << e.message;
    const enctest::DecodeResult d = enctest::DecodeH264(dir.File("out.264"));
    ASSERT_TRUE(d.ok) << d.message;
    const auto rec = zntest::ReadFileBytes(dir.File("rec.yuv"));
    const std::vector<uint8_t> recon(rec.begin(), rec.end());
    EXPECT_EQ(d.pictures, static_cast<int>(e.host.frames.size()));
    const long long diff = enctest::FirstDifference(recon, d.yuv);
    EXPECT_EQ(diff, -1) << "recon " << recon.size() << " bytes, decoded " << d.yuv.size() << ", picture "
                        << (diff < 0 ? -1 : diff / (w * h * 3 / 2));
}

const RunCase kCases[] = {
    {"IntraOnlyCavlc", {"SymbolMode = 0", "IntraPeriod = 1", "NumberBFrames = 0"}},
    {"IntraOnlyCabac", {"SymbolMode = 1", "IntraPeriod = 1", "NumberBFrames = 0"}},
    {"IpppCavlc", {"SymbolMode = 0", "NumberBFrames = 0", "FrameSkip = 0"}},
    {"IpppCabac", {"SymbolMode = 1", "NumberBFrames = 0", "FrameSkip = 0"}},
    {"DefaultsCavlc", {"SymbolMode = 0"}},
    {"Defaults", {}},
};

INSTANTIATE_TEST_SUITE_P(Runs, EncoderRoundTrip, ::testing::ValuesIn(kCases),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace

namespace {

// A small run on a synthetic pan: the dialog's values for w x h and `frames`, plus extra lines.
struct SmallRun
{
    zntest::ScratchDir dir;
    enctest::EncodeResult result;
    std::vector<int> SourceFrames() const
    {
        std::vector<int> v;
        for (const auto &f : result.host.frames)
            v.push_back(f.source_frame);
        return v;
    }
    std::vector<uint8_t> Stream() const
    {
        const auto b = zntest::ReadFileBytes(dir.File("out.264"));
        return std::vector<uint8_t>(b.begin(), b.end());
    }
};

std::unique_ptr<SmallRun> RunSmall(int frames, int frame_skip, std::vector<std::string> extra, int w = 16,
                                   int h = 16, std::initializer_list<zn::MsgAnswer> answers = {})
{
    auto r = std::make_unique<SmallRun>();
    const std::string yuv = r->dir.File("in.yuv");
    const auto seq = enctest::SyntheticPan(w, h, frames, 1, 1);
    zntest::WriteFileBytes(yuv, std::vector<unsigned char>(seq.begin(), seq.end()));
    auto v = enctest::DialogValues(yuv, w, h, frames, r->dir.File("out.264"));
    v.FrameSkip = frame_skip;
    r->result = enctest::Encode(enctest::WriteSettings(r->dir.Path(), v, extra), answers);
    return r;
}

TEST(EncoderRun, CodingOrdersAndBPicturePlaces)
{
    struct
    {
        int frames, skip, b;
        std::vector<int> order;
    } cases[] = {
        {10, 1, 1, {0, 2, 1, 4, 3, 6, 5, 8, 7}},
        {9, 3, 1, {0, 4, 2, 8, 6}},
        {9, 3, 2, {0, 4, 1, 2, 8, 5, 6}},
        {9, 7, 4, {0, 8, 2, 4, 6, 7}},
    };
    for (const auto &c : cases) {
        const auto r = RunSmall(c.frames, c.skip, {zn::Format("NumberBFrames = %d", c.b)});
        ASSERT_TRUE(r->result.ok) << r->result.message;
        EXPECT_EQ(r->SourceFrames(), c.order) << "FrameSkip " << c.skip << ", " << c.b << " B";
    }
}

TEST(EncoderRun, ReferenceFramesAreCountedModuloTheStoreSize)
{
    // Each stored I/P frame is kept under a counter that wraps after max(AdditionalReferenceFrame + 1,
    // NumberReferenceFrames) + 1 values; non-reference B pictures are not kept.
    struct
    {
        int frames, skip;
        std::vector<std::string> lines;
        std::vector<int> counters;
    } cases[] = {
        {5,
         0,
         {"NumberBFrames = 0", "NumberReferenceFrames = 1", "AdditionalReferenceFrame = 0"},
         {0, 1, 0, 1, 0}},
        {6, 0, {"NumberBFrames = 0", "NumberReferenceFrames = 3"}, {0, 1, 2, 3, 0, 1}},
        {5,
         0,
         {"NumberBFrames = 0", "NumberReferenceFrames = 1", "AdditionalReferenceFrame = 2"},
         {0, 1, 2, 3, 0}},
        {7, 1, {"NumberBFrames = 1", "NumberReferenceFrames = 1"}, {0, 1, -1, 0, -1, 1, -1}},
    };
    for (const auto &c : cases) {
        const auto r = RunSmall(c.frames, c.skip, c.lines);
        ASSERT_TRUE(r->result.ok) << r->result.message;
        std::vector<int> got;
        for (const auto &f : r->result.host.frames)
            got.push_back(f.reference_counter);
        EXPECT_EQ(got, c.counters) << c.lines[1] << (c.lines.size() > 2 ? ", " + c.lines[2] : "");
    }
}

TEST(EncoderRun, NalUnitTypesAndOneIdrWithIntraPeriod3)
{
    const auto r = RunSmall(9, 1, {"IntraPeriod = 3"});
    ASSERT_TRUE(r->result.ok) << r->result.message;
    const auto units = enctest::ScanNalUnits(r->Stream());
    ASSERT_GE(units.size(), 4u);
    EXPECT_EQ(units[0].type, 7);
    EXPECT_EQ(units[1].type, 8);
    EXPECT_EQ(units[2].type, 5);
    EXPECT_EQ(units[2].ref_idc, 3);
    const auto &frames = r->result.host.frames;
    ASSERT_EQ(units.size(), frames.size() + 2);
    int intra = 0;
    for (size_t i = 3; i < units.size(); ++i) {
        const auto &f = frames[i - 2];
        EXPECT_EQ(units[i].type, 1) << i;
        EXPECT_EQ(units[i].ref_idc, f.type_letters == "B" ? 0 : 2) << i;
        EXPECT_EQ(units[i].slice_type, f.type_letters == "B" ? 6 : f.type_letters == "I" ? 7 : 5) << i;
        intra += f.type_letters == "I";
    }
    EXPECT_EQ(intra, 1); // I/P pictures 0 and 3 of 0, 1, 2, 3, 4: the second I is not IDR
}

TEST(EncoderRun, DataPartitionsGoOutAsPartitionUnits)
{
    const auto r =
        RunSmall(5, 1, {"PartitionMode = 1", "SymbolMode = 0", "UseConstrainedIntraPred = 1"}, 32, 32);
    ASSERT_TRUE(r->result.ok) << r->result.message;
    const auto units = enctest::ScanNalUnits(r->Stream());
    ASSERT_GT(units.size(), 2u);
    int partitionA = 0;
    for (size_t i = 2; i < units.size(); ++i) {
        EXPECT_TRUE(units[i].type >= 2 && units[i].type <= 4) << "unit " << i << " type " << units[i].type;
        if (units[i].type == 2) {
            ++partitionA;
            EXPECT_EQ(units[i].first_mb, 0);
        }
    }
    EXPECT_EQ(partitionA, static_cast<int>(r->result.host.frames.size()));
}

TEST(EncoderRun, WithoutInterSearchEveryPMacroblockIsIntra)
{
    const auto r =
        RunSmall(4, 0,
                 {"NumberBFrames = 0", "InterSearch16x16 = 0", "InterSearch16x8 = 0", "InterSearch8x16 = 0",
                  "InterSearch8x8 = 0", "InterSearch8x4 = 0", "InterSearch4x8 = 0", "InterSearch4x4 = 0"},
                 32, 32);
    ASSERT_TRUE(r->result.ok) << r->result.message;
    ASSERT_EQ(r->result.host.frames.size(), 4u);
    for (size_t i = 1; i < 4; ++i) {
        EXPECT_EQ(r->result.host.frames[i].type_letters, "P");
        EXPECT_EQ(r->result.host.frames[i].intra_mbs, 4) << i;
    }
    const enctest::DecodeResult d = enctest::DecodeH264(r->dir.File("out.264"));
    EXPECT_TRUE(d.ok) << d.message;
}

TEST(EncoderRun, ErrorFreePicturesKeepThePreviousSnr)
{
    // A flat mid-grey sequence is predicted without error from the first sample on: no component has
    // an error to measure, so every SNR stays at its start, 0.
    zntest::ScratchDir dir;
    const int w = 32, h = 32, frames = 3;
    zntest::WriteFileBytes(dir.File("in.yuv"), std::vector<unsigned char>(w * h * 3 / 2 * frames, 128));
    auto v = enctest::DialogValues(dir.File("in.yuv"), w, h, frames, dir.File("out.264"));
    const enctest::EncodeResult e = enctest::Encode(enctest::WriteSettings(dir.Path(), v, {}));
    ASSERT_TRUE(e.ok) << e.message;
    ASSERT_FALSE(e.host.frames.empty());
    for (const auto &f : e.host.frames) {
        EXPECT_EQ(f.snr_y, 0.0f);
        EXPECT_EQ(f.snr_u, 0.0f);
        EXPECT_EQ(f.snr_v, 0.0f);
    }
}

TEST(EncoderRun, FrameAndReferenceLimits)
{
    // 32768 frames pass the limit; a key press and No after the first picture stop the run.
    zn::KeyPoller old = zn::SetKeyPoller([] { return true; });
    const auto many =
        RunSmall(3, 0, {"NumberBFrames = 0", "FramesToBeEncoded = 32768"}, 16, 16, {zn::MsgAnswer::No});
    zn::SetKeyPoller(old);
    ASSERT_TRUE(many->result.ok) << many->result.message;
    EXPECT_EQ(many->result.host.frames.size(), 1u);
    ASSERT_EQ(many->result.messages.size(), 1u);
    EXPECT_EQ(many->result.messages[0].text,
              "H.264 Decoder interrupted by User\nContinue with rest of sequence?");
    // The stopped run's stream decodes, and its leaky-bucket file and report were written.
    const enctest::DecodeResult d = enctest::DecodeH264(many->dir.File("out.264"));
    EXPECT_TRUE(d.ok) << d.message;
    EXPECT_EQ(d.pictures, 1);
    EXPECT_EQ(zntest::ReadFileBytes(many->dir.File("H264LeakyBucketParam.cfg")).size(), 100u);
    EXPECT_EQ(many->result.host.statistics.size(), 1u);

    const auto tooMany = RunSmall(3, 0, {"NumberBFrames = 0", "FramesToBeEncoded = 32769"});
    EXPECT_FALSE(tooMany->result.ok);
    EXPECT_NE(tooMany->result.message.find("too many frames"), std::string::npos) << tooMany->result.message;

    const auto five = RunSmall(3, 0, {"NumberBFrames = 0", "NumberReferenceFrames = 5"});
    EXPECT_TRUE(five->result.ok) << five->result.message;
    const auto six = RunSmall(3, 0, {"NumberBFrames = 0", "NumberReferenceFrames = 6"});
    EXPECT_FALSE(six->result.ok);
    EXPECT_NE(six->result.message.find("the decoder keeps at most 5 reference frames"), std::string::npos)
        << six->result.message;
    const auto ten = RunSmall(3, 0, {"NumberBFrames = 0", "NumberReferenceFrames = 10"});
    EXPECT_FALSE(ten->result.ok);
    EXPECT_EQ(ten->result.message, "NumberReferenceFrames too large");
}

TEST(EncoderRun, SliceGroupMapTypesZeroAndTwoEndTheRunWithTheirText)
{
    for (int type : {0, 2}) {
        const auto r = RunSmall(
            2, 0, {"NumberBFrames = 0", "num_slice_groups_minus1 = 1", zn::Format("FmoType = %d", type)}, 32,
            32);
        EXPECT_FALSE(r->result.ok);
        const std::string text = zn::Format("Type %d MBAmap generation not yet implemented\n", type);
        EXPECT_EQ(r->result.message, text);
        ASSERT_EQ(r->result.messages.size(), 1u) << r->result.message;
        EXPECT_EQ(r->result.messages[0].text, text);
    }
}

} // namespace

} // namespace enc_run_test
