// Round trips of field and picture-adaptive frame/field coding for the tests: a CIF pan over the
// photograph (progressive, or interlaced with each field at its own time) coded with the row's settings,
// decoded by the decoder's own run, whose output must equal the reconstruction file byte for byte; the
// stream must hold the pictures in the form the report names (two field pictures for each "FLD" frame).
#pragma once

#include "h264/support/h264_roundtrip.h"
#include "h264enc/support/encoder_fixture.h"
#include "platform/format.h"
#include "platform/log.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace enc_fields {

struct FieldRow
{
    const char *name;
    int frames;
    std::vector<std::string> settings;
    // The interlaced pan's motion per field time (dx, dy); none: the progressive pan. Each one makes
    // the picture-adaptive choice go both ways within a run, with B pictures too.
    int combed_dx = 0, combed_dy = 0;
};

inline void PrintTo(const FieldRow &r, std::ostream *os)
{
    *os << r.name;
}

constexpr int kWidth = 352, kHeight = 288;

// The pans, made once for the program: a progressive one (1.5 samples a frame) and interlaced ones
// whose top field shows one time and bottom field the next, as a camera scanning fields would.
inline std::string FieldPan(const FieldRow &row, std::string *err)
{
    static zntest::ScratchDir dir;
    static std::map<std::pair<int, int>, std::string> made;
    const std::pair<int, int> key(row.combed_dx, row.combed_dy);
    if (const auto it = made.find(key); it != made.end())
        return it->second;
    const std::string photo = zntest::PhotoPath("astronaut", "png");
    const std::string path = dir.File(zn::Format("pan_%d_%d.yuv", key.first, key.second));
    *err = key == std::pair<int, int>(0, 0)
               ? enctest::MakePan(photo, path, kWidth, kHeight, 5, 3, 1, 2)
               : enctest::MakePan(photo, path, kWidth, kHeight, 5, key.first, key.second, 1,
                                  "tinterlace=mode=interleave_top");
    if (err->empty())
        made[key] = path;
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

inline void RunRow(const FieldRow &row, const std::string &yuv, FieldRun &run)
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

// Codes the row and checks the decoder's output against the reconstruction file.
inline void CheckFieldRoundTrip(const FieldRow &row)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    if (zntest::PhotoPath("astronaut", "png").empty()) {
        if (zntest::RunningUnderCi()) {
            FAIL() << "sample photograph missing under CI (scripts/photos): astronaut";
        }
        GTEST_SKIP() << "sample photograph missing (run scripts/photos build/photos): astronaut";
    }
    std::string err;
    const std::string yuv = FieldPan(row, &err);
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
    const bool adaptive = std::find(row.settings.begin(), row.settings.end(), "InterlaceCodingOption = 1") !=
                          row.settings.end();
    if (row.combed_dx != 0 && adaptive) {
        // The row must see both forms, or it tests only one of them.
        EXPECT_GT(run.fieldFrames, 0);
        EXPECT_GT(run.framePictures, 0);
    }
}

inline const std::vector<std::string> kIppp = {"NumberBFrames = 0", "FrameSkip = 0"};

// I B P coding with CABAC and slices of `slice_argument` macroblocks, plus `more` (the model choice).
inline std::vector<std::string> IbpCabacSlices(int interlace, int slice_argument,
                                               std::initializer_list<std::string> more)
{
    std::vector<std::string> lines = {"InterlaceCodingOption = " + std::to_string(interlace),
                                      "NumberBFrames = 1",
                                      "FrameSkip = 1",
                                      "SliceMode = 1",
                                      "SliceArgument = " + std::to_string(slice_argument),
                                      "SymbolMode = 1"};
    lines.insert(lines.end(), more);
    return lines;
}

inline std::vector<std::string> With(std::vector<std::string> base, std::initializer_list<std::string> more)
{
    base.insert(base.end(), more);
    return base;
}

} // namespace enc_fields
