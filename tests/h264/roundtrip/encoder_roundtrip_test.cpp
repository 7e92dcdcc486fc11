// The encoder's round trip, one row per coding choice: a pan over the colour photograph (whole-sample
// and 1.5-sample speeds) is coded by the encoding run with a reconstruction file, the stream is decoded
// by the decoder's own run, and both files must be equal byte for byte. The stream must also hold one
// picture per coded picture, so nothing is dropped or repeated on either side.
#include "h264/support/h264_roundtrip.h"
#include "h264enc/support/encoder_fixture.h"
#include "platform/format.h"
#include "platform/log.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <set>

namespace {

struct RoundTripRow
{
    const char *name;
    int width, height, frames;
    std::vector<std::string> settings; // lines after the dialog's, overriding them
    // What the stream must show for the row to test what it names: these slice types among its
    // slices (7 I, 5 P, 6 B, 8 SP), and whether pictures hold several slices.
    std::vector<int> slice_types = {};
    bool several_slices = false;
    const char *filter = ""; // a further ffmpeg filter on the pan (its own pan files)
};

void PrintTo(const RoundTripRow &r, std::ostream *os)
{
    *os << r.name;
}

class EncoderRoundTrip : public ::testing::TestWithParam<RoundTripRow>
{
};

// The pans, made once per size and speed for the program (ffmpeg's start costs more than a small run),
// long enough for every row: a row codes its first frames.
constexpr int kPanFrames = 9;
std::string PanFile(const RoundTripRow &row, int dx, int zoom, std::string *err)
{
    static zntest::ScratchDir dir;
    static std::map<std::string, std::string> made;
    const std::string key =
        zn::Format("%dx%d_%d_%d_%zu", row.width, row.height, dx, zoom, std::hash<std::string>()(row.filter));
    if (const auto it = made.find(key); it != made.end())
        return it->second;
    const std::string path = dir.File(key + ".yuv");
    *err = enctest::MakePan(zntest::PhotoPath("astronaut", "png"), path, row.width, row.height, kPanFrames,
                            dx, 1, zoom, row.filter);
    if (err->empty())
        made[key] = path;
    return path;
}

void CheckRoundTrip(const RoundTripRow &row, int dx, int zoom)
{
    zntest::ScratchDir dir;
    std::string err;
    const std::string yuv = PanFile(row, dx, zoom, &err);
    ASSERT_EQ(err, "");
    auto v = enctest::DialogValues(yuv, row.width, row.height, row.frames, dir.File("out.264"));
    // The dialog derives the frame count from FrameSkip, so a row's FrameSkip goes to the dialog too.
    for (const std::string &line : row.settings)
        if (line.rfind("FrameSkip = ", 0) == 0)
            v.FrameSkip = std::stoi(line.substr(12));
    std::vector<std::string> lines = row.settings;
    lines.push_back("ReconFile = \"" + dir.File("rec.yuv") + "\"");
    std::string log;
    zn::LogSink old = zn::SetLogSink([&log](zn::LogLevel, const std::string &text) { log += text; });
    const enctest::EncodeResult e = enctest::Encode(enctest::WriteSettings(dir.Path(), v, lines));
    zn::SetLogSink(old);
    ASSERT_TRUE(e.ok) << e.message;
    if (std::find(lines.begin(), lines.end(), "WeightedPrediction = 1") != lines.end()) {
        // The brightness ramp must give weights other than one, or the row tests nothing.
        const std::regex re("weight\\[\\d+\\] = (\\d+)");
        int notOne = 0;
        for (std::sregex_iterator it(log.begin(), log.end(), re), end; it != end; ++it)
            notOne += std::stoi((*it)[1]) != 32;
        EXPECT_GT(notOne, 0);
    }
    const std::vector<unsigned char> stream = zntest::ReadFileBytes(dir.File("out.264"));
    const auto units = enctest::ScanNalUnits(std::vector<uint8_t>(stream.begin(), stream.end()));
    std::set<int> types;
    int slices = 0, pictures = 0;
    for (const enctest::NalUnitSeen &u : units)
        if (u.slice_type >= 0) {
            types.insert(u.slice_type);
            ++slices;
            pictures += u.first_mb == 0 ? 1 : 0;
        }
    EXPECT_EQ(pictures, static_cast<int>(e.host.frames.size()));
    if (std::find(lines.begin(), lines.end(), "StoredBPictures = 1") != lines.end()) {
        // Stored B pictures are references: B slices with a non-zero nal_ref_idc.
        const bool storedB = std::any_of(units.begin(), units.end(), [](const enctest::NalUnitSeen &u) {
            return u.slice_type == 6 && u.ref_idc != 0;
        });
        EXPECT_TRUE(storedB);
    }
    const zntest::H264DecodeResult d = zntest::DecodeH264ToYuv(dir.File("out.264"), dir.File("dec.yuv"));
    ASSERT_TRUE(d.ok) << d.message;
    const auto rec = zntest::ReadFileBytes(dir.File("rec.yuv"));
    const auto dec = zntest::ReadFileBytes(dir.File("dec.yuv"));
    const size_t pictureBytes = static_cast<size_t>(row.width) * row.height * 3 / 2;
    EXPECT_EQ(rec.size(), e.host.frames.size() * pictureBytes);
    const long long at = enctest::FirstDifference(std::vector<uint8_t>(rec.begin(), rec.end()),
                                                  std::vector<uint8_t>(dec.begin(), dec.end()));
    EXPECT_EQ(at, -1) << "reconstruction " << rec.size() << " bytes, decoded " << dec.size()
                      << ", first difference in picture "
                      << (at < 0 ? -1 : at / static_cast<long long>(pictureBytes));
}

TEST_P(EncoderRoundTrip, ReconstructionEqualsTheDecodersOutput)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    if (zntest::PhotoPath("astronaut", "png").empty()) {
        if (zntest::RunningUnderCi()) {
            FAIL() << "sample photograph missing under CI (scripts/photos): astronaut";
        }
        GTEST_SKIP() << "sample photograph missing (run scripts/photos build/photos): astronaut";
    }
    {
        SCOPED_TRACE("whole-sample pan");
        CheckRoundTrip(GetParam(), 1, 1);
    }
    {
        SCOPED_TRACE("1.5-sample pan");
        CheckRoundTrip(GetParam(), 3, 2);
    }
}

const RoundTripRow kRows[] = {
    {"DialogDefaultsCabac", 176, 144, 5, {}, {7, 5, 6}},
    {"DialogDefaultsUvlc", 176, 144, 5, {"SymbolMode = 0"}, {7, 5, 6}},
    {"IpppOneReference", 176, 144, 4, {"NumberBFrames = 0", "FrameSkip = 0"}, {7, 5}},
    {"IpppThreeReferences",
     176,
     144,
     5,
     {"NumberBFrames = 0", "FrameSkip = 0", "NumberReferenceFrames = 3"},
     {5}},
    {"IpppThreeReferencesUvlc",
     176,
     144,
     5,
     {"NumberBFrames = 0", "FrameSkip = 0", "NumberReferenceFrames = 3", "SymbolMode = 0"},
     {5}},
    {"IntraOnly", 176, 144, 3, {"IntraPeriod = 1", "NumberBFrames = 0", "FrameSkip = 0"}, {7}},
    {"IntraPeriod3", 176, 144, 5, {"IntraPeriod = 3", "NumberBFrames = 0", "FrameSkip = 0"}, {7, 5}},
    {"IbbpSpatialDirect", 176, 144, 7, {"NumberBFrames = 2", "FrameSkip = 2", "DirectModeType = 1"}, {6}},
    {"IbbpTemporalDirect", 176, 144, 7, {"NumberBFrames = 2", "FrameSkip = 2", "DirectModeType = 0"}, {6}},
    {"IbbpTemporalDirectUvlc",
     176,
     144,
     7,
     {"NumberBFrames = 2", "FrameSkip = 2", "DirectModeType = 0", "SymbolMode = 0"},
     {6}},
    {"FrameSkip3TwoBTemporalDirect",
     176,
     144,
     9,
     {"NumberBFrames = 2", "FrameSkip = 3", "DirectModeType = 0"},
     {6}},
    {"SliceMode1", 176, 144, 5, {"SliceMode = 1", "SliceArgument = 13"}, {}, true},
    {"SliceMode2Uvlc", 176, 144, 5, {"SliceMode = 2", "SliceArgument = 300", "SymbolMode = 0"}, {}, true},
    {"SliceMode2Cabac", 176, 144, 5, {"SliceMode = 2", "SliceArgument = 300"}, {}, true},
    {"TenForcedIntraMacroblocks", 176, 144, 5, {"RandomIntraMBRefresh = 10"}},
    {"SpPictures", 176, 144, 5, {"SPPicturePeriodicity = 2", "NumberBFrames = 0", "FrameSkip = 0"}, {8}},
    {"SpPicturesUvlc",
     176,
     144,
     5,
     {"SPPicturePeriodicity = 2", "NumberBFrames = 0", "FrameSkip = 0", "SymbolMode = 0"},
     {8}},
    {"WeightedP", 176, 144, 5, {"WeightedPrediction = 1"}, {5, 6}, false, "eq=brightness=0.04*n:eval=frame"},
    {"WeightedPUvlcThreeReferences",
     176,
     144,
     5,
     {"WeightedPrediction = 1", "NumberBFrames = 0", "FrameSkip = 0", "NumberReferenceFrames = 3",
      "SymbolMode = 0"},
     {5},
     false,
     "eq=brightness=0.04*n:eval=frame"},
    {"WeightedPAndExplicitB",
     176,
     144,
     7,
     {"WeightedPrediction = 1", "WeightedBiprediction = 1", "NumberBFrames = 2", "FrameSkip = 2",
      "DirectModeType = 1"},
     {5, 6},
     false,
     "eq=brightness=0.04*n:eval=frame"},
    {"ExplicitBUvlc",
     176,
     144,
     7,
     {"WeightedBiprediction = 1", "NumberBFrames = 2", "FrameSkip = 2", "DirectModeType = 1",
      "SymbolMode = 0"},
     {6},
     false,
     "eq=brightness=0.04*n:eval=frame"},
    // Two B pictures between their references: unequal distances, so the implicit weights are not even.
    {"ImplicitB",
     176,
     144,
     7,
     {"WeightedBiprediction = 2", "NumberBFrames = 2", "FrameSkip = 2", "DirectModeType = 1",
      "PicOrderCntType = 1"},
     {6},
     false,
     "eq=brightness=0.04*n:eval=frame"},
    {"ImplicitBUvlcTwoReferences",
     176,
     144,
     7,
     {"WeightedBiprediction = 2", "NumberBFrames = 2", "FrameSkip = 2", "DirectModeType = 1",
      "NumberReferenceFrames = 2", "SymbolMode = 0", "PicOrderCntType = 1"},
     {6}},
    {"StoredB", 176, 144, 5, {"StoredBPictures = 1", "NumberBFrames = 0", "FrameSkip = 0"}, {7, 5, 6}},
    {"StoredBUvlcOneReference",
     176,
     144,
     5,
     {"StoredBPictures = 1", "NumberBFrames = 0", "FrameSkip = 0", "NumberReferenceFrames = 1",
      "SymbolMode = 0"},
     {7, 5, 6}},
    {"StoredBBetweenB",
     176,
     144,
     7,
     {"StoredBPictures = 1", "NumberBFrames = 1", "FrameSkip = 1", "NumberReferenceFrames = 2",
      "DirectModeType = 1"},
     {7, 5, 6}},
    {"StoredBWeighted",
     176,
     144,
     7,
     {"StoredBPictures = 1", "NumberBFrames = 1", "FrameSkip = 1", "NumberReferenceFrames = 3",
      "WeightedBiprediction = 1", "WeightedPrediction = 1", "DirectModeType = 1", "SymbolMode = 0"},
     {7, 5, 6},
     false,
     "eq=brightness=0.04*n:eval=frame"},
    {"StoredBImplicit",
     176,
     144,
     7,
     {"StoredBPictures = 1", "NumberBFrames = 1", "FrameSkip = 1", "NumberReferenceFrames = 3",
      "WeightedBiprediction = 2", "DirectModeType = 1", "PicOrderCntType = 1"},
     {7, 5, 6}},
    {"ConstrainedIntra", 176, 144, 5, {"UseConstrainedIntraPred = 1"}},
    {"SixteenBySixteen", 16, 16, 5, {}, {7, 5, 6}},
    {"OneMacroblockWide", 16, 64, 5, {}, {7, 5, 6}},
};

INSTANTIATE_TEST_SUITE_P(Rows, EncoderRoundTrip, ::testing::ValuesIn(kRows),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
