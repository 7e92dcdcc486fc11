// Field and picture-adaptive frame/field coding: whole runs on a CIF pan over the photograph, decoded by
// the decoder's own run, whose output must equal the reconstruction file byte for byte; the stream must
// hold the pictures in the form the report names (two field pictures for each "FLD" frame). Settings the
// interlaced coding cannot serve yet end the run with a message that says so.
#include "h264/support/h264_roundtrip.h"
#include "h264enc/field_coding.h"
#include "h264enc/support/encoder_fixture.h"
#include "platform/format.h"
#include "platform/log.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <map>

namespace enc_fields_test {

struct FieldRow
{
    const char *name;
    int frames;
    std::vector<std::string> settings;
    bool combed = false; // the pan with each frame's fields taken at two times
};

void PrintTo(const FieldRow &r, std::ostream *os)
{
    *os << r.name;
}

constexpr int kWidth = 352, kHeight = 288;

// The pans, made once for the program: a progressive one (1.5 samples a frame) and an interlaced one
// whose top field shows one time and bottom field the next, as a camera scanning fields would.
std::string FieldPan(bool combed, std::string *err)
{
    static zntest::ScratchDir dir;
    static std::map<bool, std::string> made;
    if (const auto it = made.find(combed); it != made.end())
        return it->second;
    const std::string path = dir.File(combed ? "combed.yuv" : "pan.yuv");
    *err = combed
               ? enctest::MakePan(zntest::PhotoPath("astronaut", "png"), path, kWidth, kHeight, 5, 5, 2, 1,
                                  "tinterlace=mode=interleave_top")
               : enctest::MakePan(zntest::PhotoPath("astronaut", "png"), path, kWidth, kHeight, 5, 3, 1, 2);
    if (err->empty())
        made[combed] = path;
    return path;
}

struct FieldRun
{
    zntest::ScratchDir dir;
    enctest::EncodeResult result;
    std::string log;
    int fieldFrames = 0, framePictures = 0; // report lines marked FLD and FRM
    int slicePictures = 0;                  // slices starting a picture in the stream
};

void RunRow(const FieldRow &row, const std::string &yuv, FieldRun &run)
{
    auto v = enctest::DialogValues(yuv, kWidth, kHeight, row.frames, run.dir.File("out.264"));
    // The dialog derives the frame count from FrameSkip.
    for (const std::string &line : row.settings)
        if (line.rfind("FrameSkip = ", 0) == 0)
            v.FrameSkip = std::stoi(line.substr(12));
    std::vector<std::string> lines = row.settings;
    lines.push_back("ReconFile = \"" + run.dir.File("rec.yuv") + "\"");
    zn::LogSink old = zn::SetLogSink([&run](zn::LogLevel, const std::string &text) { run.log += text; });
    run.result = enctest::Encode(enctest::WriteSettings(run.dir.Path(), v, lines));
    zn::SetLogSink(old);
    for (size_t at = 0; (at = run.log.find(" FLD ", at)) != std::string::npos; ++at)
        ++run.fieldFrames;
    for (size_t at = 0; (at = run.log.find(" FRM ", at)) != std::string::npos; ++at)
        ++run.framePictures;
    const auto stream = zntest::ReadFileBytes(run.dir.File("out.264"));
    for (const enctest::NalUnitSeen &u :
         enctest::ScanNalUnits(std::vector<uint8_t>(stream.begin(), stream.end())))
        run.slicePictures += u.slice_type >= 0 && u.first_mb == 0 ? 1 : 0;
}

class FieldRoundTrip : public ::testing::TestWithParam<FieldRow>
{
};

TEST_P(FieldRoundTrip, ReconstructionEqualsTheDecodersOutput)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    if (zntest::PhotoPath("astronaut", "png").empty()) {
        if (zntest::RunningUnderCi()) {
            FAIL() << "sample photograph missing under CI (scripts/photos): astronaut";
        }
        GTEST_SKIP() << "sample photograph missing (run scripts/photos build/photos): astronaut";
    }
    const FieldRow &row = GetParam();
    std::string err;
    const std::string yuv = FieldPan(row.combed, &err);
    ASSERT_EQ(err, "");
    FieldRun run;
    RunRow(row, yuv, run);
    ASSERT_TRUE(run.result.ok) << run.result.message;
    const int frames = static_cast<int>(run.result.host.frames.size());
    ASSERT_GT(frames, 0);
    EXPECT_EQ(run.fieldFrames + run.framePictures, frames);
    // Each field frame is two pictures in the stream, each frame one.
    EXPECT_EQ(run.slicePictures, 2 * run.fieldFrames + run.framePictures);
    const zntest::H264DecodeResult d =
        zntest::DecodeH264ToYuv(run.dir.File("out.264"), run.dir.File("dec.yuv"));
    ASSERT_TRUE(d.ok) << d.message;
    const auto rec = zntest::ReadFileBytes(run.dir.File("rec.yuv"));
    const auto dec = zntest::ReadFileBytes(run.dir.File("dec.yuv"));
    const size_t pictureBytes = static_cast<size_t>(kWidth) * kHeight * 3 / 2;
    EXPECT_EQ(rec.size(), static_cast<size_t>(frames) * pictureBytes);
    const long long at = enctest::FirstDifference(std::vector<uint8_t>(rec.begin(), rec.end()),
                                                  std::vector<uint8_t>(dec.begin(), dec.end()));
    EXPECT_EQ(at, -1) << "reconstruction " << rec.size() << " bytes, decoded " << dec.size()
                      << ", first difference in picture "
                      << (at < 0 ? -1 : at / static_cast<long long>(pictureBytes));
    if (std::string(row.name).find("Fields") == 0) {
        EXPECT_EQ(run.fieldFrames, frames);
    }
}

const std::vector<std::string> kIppp = {"NumberBFrames = 0", "FrameSkip = 0"};

std::vector<std::string> With(std::vector<std::string> base, std::initializer_list<std::string> more)
{
    base.insert(base.end(), more);
    return base;
}

const FieldRow kRows[] = {
    {"FieldsCavlc", 4, With(kIppp, {"InterlaceCodingOption = 2", "SymbolMode = 0"})},
    {"FieldsCabac", 4, With(kIppp, {"InterlaceCodingOption = 2", "SymbolMode = 1"})},
    {"FieldsTwoReferencesIntraPeriod2", 4,
     With(kIppp, {"InterlaceCodingOption = 2", "NumberReferenceFrames = 2", "IntraPeriod = 2"})},
    {"AdaptiveCavlc", 4, With(kIppp, {"InterlaceCodingOption = 1", "SymbolMode = 0"})},
    {"AdaptiveCabacTwoReferences", 4,
     With(kIppp, {"InterlaceCodingOption = 1", "SymbolMode = 1", "NumberReferenceFrames = 2"})},
    {"FieldsCombedCabac", 4, With(kIppp, {"InterlaceCodingOption = 2"}), true},
    {"AdaptiveCombedCavlc", 4, With(kIppp, {"InterlaceCodingOption = 1", "SymbolMode = 0"}), true},
    {"AdaptiveCombedCabacTwoReferences", 4,
     With(kIppp, {"InterlaceCodingOption = 1", "NumberReferenceFrames = 2"}), true},
};

INSTANTIATE_TEST_SUITE_P(Rows, FieldRoundTrip, ::testing::ValuesIn(kRows),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace enc_fields_test
