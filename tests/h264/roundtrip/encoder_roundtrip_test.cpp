// The encoder's round trip, one row per coding choice: a pan over the colour photograph (whole-sample
// and 1.5-sample speeds) is coded by the encoding run with a reconstruction file, the stream is decoded
// by the decoder's own run, and both files must be equal byte for byte. The stream must also hold one
// picture per coded picture, so nothing is dropped or repeated on either side; ffmpeg's PSNR of the
// reconstruction must equal the run's SNR lines; and the total the run reports must be the stream's
// bits without its parameter sets. A row whose settings the encoder refuses names the message instead.
#include "h264/support/h264_roundtrip.h"
#include "h264enc/support/encoder_fixture.h"
#include "platform/format.h"
#include "platform/log.h"
#include "roundtrip_checks.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <regex>
#include <set>

namespace encoder_roundtrip_test {

struct RoundTripRow
{
    const char *name;
    int width = 176, height = 144, frames = 9;
    std::vector<std::string> settings; // lines after the dialog's, overriding them
    // What the stream must show for the row to test what it names: these slice types among its
    // slices (7 I, 5 P, 6 B, 8 SP), and whether pictures hold several slices.
    std::vector<int> slice_types = {};
    bool several_slices = false;
    const char *filter = ""; // a further ffmpeg filter on the pan (its own pan files)
    // The run must end with this message instead (nothing else is checked).
    const char *refused = nullptr;
    int slices_per_picture = 0; // exact count of every picture when not 0
    int idr_pictures = 1;       // pictures coded as IDR units
    // A fault that keeps the row from passing, and where it lies: the row is skipped with this text.
    const char *known_fault = nullptr;
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

// The NAL units as the row expects them: the parameter sets first, one picture per coded picture, B
// pictures never stored, the slice types and slice counts the row names.
void CheckNalScan(const RoundTripRow &row, const std::vector<uint8_t> &stream, const enctest::EncodeResult &e)
{
    const auto units = enctest::ScanNalUnits(stream);
    ASSERT_GE(units.size(), 3u);
    EXPECT_EQ(units[0].type, 7);
    EXPECT_EQ(units[1].type, 8);
    std::set<int> types;
    std::vector<int> slicesPerPicture;
    int idr = 0, lastFirstMb = -1;
    for (size_t k = 2; k < units.size(); ++k) {
        const enctest::NalUnitSeen &u = units[k];
        ASSERT_TRUE(u.type == 1 || u.type == 5) << "unit " << k << " of type " << u.type;
        types.insert(u.slice_type);
        if (u.first_mb == 0) {
            slicesPerPicture.push_back(0);
            idr += u.type == 5;
        } else {
            EXPECT_GT(u.first_mb, lastFirstMb) << "unit " << k;
        }
        ASSERT_FALSE(slicesPerPicture.empty()) << "the first slice does not start at macroblock 0";
        ++slicesPerPicture.back();
        lastFirstMb = u.first_mb;
        // A B slice is never a reference; I and P slices always are.
        EXPECT_EQ(u.ref_idc == 0, u.slice_type == 6 || u.slice_type == 1) << "unit " << k;
    }
    EXPECT_EQ(slicesPerPicture.size(), e.host.frames.size());
    EXPECT_EQ(idr, row.idr_pictures);
    for (int t : row.slice_types) {
        EXPECT_TRUE(types.count(t)) << "no slice of type " << t;
    }
    if (row.several_slices) {
        EXPECT_GT(*std::max_element(slicesPerPicture.begin(), slicesPerPicture.end()), 1);
    }
    for (size_t p = 0; row.slices_per_picture > 0 && p < slicesPerPicture.size(); ++p) {
        EXPECT_EQ(slicesPerPicture[p], row.slices_per_picture) << "picture " << p;
    }
}

// ffmpeg's PSNR of each reconstructed picture against its source picture, to the SNR line's 0.01 dB.
// A plane without error has no finite value: the run keeps the previous one there.
void CheckSnrLines(const RoundTripRow &row, const zntest::ScratchDir &dir, const std::string &pan,
                   const enctest::EncodeResult &e)
{
    const auto seq = zntest::ReadFileBytes(pan);
    const std::vector<uint8_t> source = rtcheck::CodedSourcePictures(
        std::vector<uint8_t>(seq.begin(), seq.end()), row.width, row.height, e.host.frames);
    ASSERT_TRUE(zntest::WriteFileBytes(dir.File("src.yuv"),
                                       std::vector<unsigned char>(source.begin(), source.end())));
    const auto psnr = rtcheck::FfmpegPsnr(dir.File("src.yuv"), dir.File("rec.yuv"), row.width, row.height,
                                          dir.File("psnr.txt"));
    ASSERT_EQ(psnr.size(), e.host.frames.size());
    std::vector<h264enc::H264FrameReport> display = e.host.frames;
    std::stable_sort(display.begin(), display.end(),
                     [](const auto &a, const auto &b) { return a.source_frame < b.source_frame; });
    for (size_t k = 0; k < display.size(); ++k) {
        const float ours[3] = {display[k].snr_y, display[k].snr_u, display[k].snr_v};
        for (int c = 0; c < 3; ++c) {
            if (std::isfinite(psnr[k][c])) {
                EXPECT_NEAR(ours[c], psnr[k][c], 0.01)
                    << "source frame " << display[k].source_frame << " plane "
                    << "YUV"[c];
            }
        }
    }
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
    if (row.refused) {
        ASSERT_FALSE(e.ok) << "the run was not refused";
        EXPECT_NE(e.message.find(row.refused), std::string::npos) << e.message;
        ASSERT_EQ(e.messages.size(), 1u);
        EXPECT_NE(e.messages[0].text.find(row.refused), std::string::npos) << e.messages[0].text;
        return;
    }
    ASSERT_TRUE(e.ok) << e.message;
    if (std::find(lines.begin(), lines.end(), "WeightedPrediction = 1") != lines.end()) {
        // The brightness ramp must give weights other than one, or the row tests nothing.
        const std::regex re("weight\\[\\d+\\] = (\\d+)");
        int notOne = 0;
        for (std::sregex_iterator it(log.begin(), log.end(), re), end; it != end; ++it)
            notOne += std::stoi((*it)[1]) != 32;
        EXPECT_GT(notOne, 0);
    }
    const std::vector<unsigned char> bytes = zntest::ReadFileBytes(dir.File("out.264"));
    const std::vector<uint8_t> stream(bytes.begin(), bytes.end());
    {
        SCOPED_TRACE("NAL scan");
        CheckNalScan(row, stream, e);
    }
    ASSERT_EQ(e.host.statistics.size(), 1u);
    EXPECT_EQ(e.host.statistics[0].total_bits, rtcheck::PictureBitsOf(stream));
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
    SCOPED_TRACE("SNR lines");
    CheckSnrLines(row, dir, yuv, e);
}

TEST_P(EncoderRoundTrip, ReconstructionEqualsTheDecodersOutput)
{
    if (GetParam().known_fault)
        GTEST_SKIP() << "known fault: " << GetParam().known_fault;
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
    if (GetParam().refused)
        return;
    {
        SCOPED_TRACE("1.5-sample pan");
        CheckRoundTrip(GetParam(), 3, 2);
    }
}

// One line per row. The later rows name only what differs from the defaults (a QCIF 9-frame pan, the
// dialog's values): {.name = "...", .settings = {"Key = value", ...}} and what the stream must show.
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
    {"ConstrainedIntra", 176, 144, 5, {"UseConstrainedIntraPred = 1"}},
    {"SixteenBySixteen", 16, 16, 5, {}, {7, 5, 6}},
    {"OneMacroblockWide", 16, 64, 5, {}, {7, 5, 6}},
    // QCIF 9-frame pans (the defaults) from here on: one line per coding choice.
    {.name = "FiveReferences",
     .settings = {"NumberBFrames = 0", "FrameSkip = 0", "NumberReferenceFrames = 5"}},
    {.name = "FiveReferencesWithB", .settings = {"NumberReferenceFrames = 5"}, .slice_types = {6}},
    {.name = "AdditionalReferenceFrame2OneReference",
     .settings = {"NumberBFrames = 0", "FrameSkip = 0", "AdditionalReferenceFrame = 2"}},
    {.name = "SixReferencesRefused",
     .settings = {"NumberReferenceFrames = 6"},
     .refused = "NumberReferenceFrames too large"},
    // One-bit flags outside 0..1 used to code one way and signal another.
    {.name = "ConstrainedIntraFlag2Refused",
     .settings = {"UseConstrainedIntraPred = 2"},
     .refused = "UseConstrainedIntraPred=2, must be in 0..1"},
    {.name = "LoopFilterParametersFlag2Refused",
     .settings = {"LoopFilterParametersFlag = 2"},
     .refused = "LoopFilterParametersFlag=2, must be in 0..1"},
    {.name = "HadamardOff", .settings = {"UseHadamard = 0"}},
    {.name = "ConstrainedIntraUvlc", .settings = {"UseConstrainedIntraPred = 1", "SymbolMode = 0"}},
    {.name = "SearchRange1", .settings = {"SearchRange = 1"}},
    {.name = "SearchRange39", .settings = {"SearchRange = 39"}},
    {.name = "RestrictSearchRange0", .settings = {"RestrictSearchRange = 0"}},
    {.name = "RestrictSearchRange1", .settings = {"RestrictSearchRange = 1"}},
    {.name = "Partitions16x16Only",
     .settings = {"InterSearch16x8 = 0", "InterSearch8x16 = 0", "InterSearch8x8 = 0", "InterSearch8x4 = 0",
                  "InterSearch4x8 = 0", "InterSearch4x4 = 0"}},
    {.name = "EightByEightFamilyOnly",
     .settings = {"InterSearch16x16 = 0", "InterSearch16x8 = 0", "InterSearch8x16 = 0"}},
    {.name = "NoInterModes",
     .settings = {"InterSearch16x16 = 0", "InterSearch16x8 = 0", "InterSearch8x16 = 0", "InterSearch8x8 = 0",
                  "InterSearch8x4 = 0", "InterSearch4x8 = 0", "InterSearch4x4 = 0"}},
    {.name = "Qp0", .settings = {"QPFirstFrame = 0", "QPRemainingFrame = 0", "QPBPicture = 0"}},
    {.name = "Qp0Uvlc",
     .settings = {"QPFirstFrame = 0", "QPRemainingFrame = 0", "QPBPicture = 0", "SymbolMode = 0"}},
    {.name = "Qp51", .settings = {"QPFirstFrame = 51", "QPRemainingFrame = 51", "QPBPicture = 51"}},
    {.name = "Qp51Uvlc",
     .settings = {"QPFirstFrame = 51", "QPRemainingFrame = 51", "QPBPicture = 51", "SymbolMode = 0"}},
    {.name = "ChangeQPStart", .settings = {"ChangeQPStart = 4", "ChangeQPP = 38", "ChangeQPB = 44"}},
    {.name = "LoopFilterDisabled", .settings = {"LoopFilterParametersFlag = 1", "LoopFilterDisable = 1"}},
    {.name = "LoopFilterOffsetsPlus6",
     .settings = {"LoopFilterParametersFlag = 1", "LoopFilterAlphaC0Offset = 6", "LoopFilterBetaOffset = 6"}},
    {.name = "LoopFilterOffsetsMinus6",
     .settings = {"LoopFilterParametersFlag = 1", "LoopFilterAlphaC0Offset = -6",
                  "LoopFilterBetaOffset = -6"}},
    {.name = "ContextInitMethod0Model0", .settings = {"ContextInitMethod = 0", "FixedModelNumber = 0"}},
    {.name = "ContextInitMethod0Model1", .settings = {"ContextInitMethod = 0", "FixedModelNumber = 1"}},
    {.name = "ContextInitMethod0Model2", .settings = {"ContextInitMethod = 0", "FixedModelNumber = 2"}},
    {.name = "PocType1WithB", .settings = {"PicOrderCntType = 1"}, .slice_types = {6}},
    {.name = "PocType2NoB", .settings = {"PicOrderCntType = 2", "NumberBFrames = 0", "FrameSkip = 0"}},
    {.name = "SecondIntraGroup",
     .frames = 6,
     .settings = {"NumberBFrames = 0", "FrameSkip = 0", "NumberOfFrameInSecondIGOP = 3"},
     .idr_pictures = 2},
    {.name = "SecondIntraGroupWithB",
     .frames = 5,
     .settings = {"NumberOfFrameInSecondIGOP = 2"},
     .slice_types = {6},
     .idr_pictures = 2},
    {.name = "LastFrameNumber", .settings = {"LastFrameNumber = 7"}, .slice_types = {6}},
    {.name = "SliceMode3", .settings = {"SliceMode = 3", "SliceArgument = 50"}, .slices_per_picture = 1},
    {.name = "SliceMode4", .settings = {"SliceMode = 4", "SliceArgument = 13"}, .slices_per_picture = 8},
    {.name = "MbLineIntraUpdate",
     .settings = {"MbLineIntraUpdate = 1", "NumberBFrames = 0", "FrameSkip = 0"}},
};

INSTANTIATE_TEST_SUITE_P(Rows, EncoderRoundTrip, ::testing::ValuesIn(kRows),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace encoder_roundtrip_test
