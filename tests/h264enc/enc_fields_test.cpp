// Field and picture-adaptive frame/field coding: whole runs on a CIF pan over the photograph, decoded by
// the decoder's own run, whose output must equal the reconstruction file byte for byte; the stream must
// hold the pictures in the form the report names (two field pictures for each "FLD" frame). Settings the
// interlaced coding cannot serve yet end the run with a message that says so.
#include "h264/support/h264_roundtrip.h"
#include "h264dec/dec_memory.h"
#include "h264dec/picture_fields.h"
#include "h264enc/field_coding.h"
#include "h264enc/support/encoder_fixture.h"
#include "platform/format.h"
#include "platform/log.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

namespace enc_fields_test {

struct FieldRow
{
    const char *name;
    int frames;
    std::vector<std::string> settings;
    // The interlaced pan's motion per field time (dx, dy); none: the progressive pan. Each one makes
    // the picture-adaptive choice go both ways within a run, with B pictures too.
    int combed_dx = 0, combed_dy = 0;
};

void PrintTo(const FieldRow &r, std::ostream *os)
{
    *os << r.name;
}

constexpr int kWidth = 352, kHeight = 288;

// The pans, made once for the program: a progressive one (1.5 samples a frame) and interlaced ones
// whose top field shows one time and bottom field the next, as a camera scanning fields would.
std::string FieldPan(const FieldRow &row, std::string *err)
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
    if (row.combed_dx != 0) {
        // The row must see both forms, or it tests only one of them.
        EXPECT_GT(run.fieldFrames, 0);
        EXPECT_GT(run.framePictures, 0);
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
    {"FieldsIbpSpatialDirect",
     5,
     {"InterlaceCodingOption = 2", "NumberBFrames = 1", "FrameSkip = 1", "DirectModeType = 1"}},
    {"FieldsIbbpTemporalDirectCavlc",
     4,
     {"InterlaceCodingOption = 2", "NumberBFrames = 2", "FrameSkip = 2", "DirectModeType = 0",
      "SymbolMode = 0"}},
    {"FieldsIbpTemporalDirectTwoReferences",
     5,
     {"InterlaceCodingOption = 2", "NumberBFrames = 1", "FrameSkip = 1", "DirectModeType = 0",
      "NumberReferenceFrames = 2"}},
    {"FieldsPocType1IbpTemporalDirect",
     5,
     {"InterlaceCodingOption = 2", "PicOrderCntType = 1", "NumberBFrames = 1", "FrameSkip = 1",
      "DirectModeType = 0"}},
    {"FieldsSliceMode1Cabac", 3,
     With(kIppp, {"InterlaceCodingOption = 2", "SliceMode = 1", "SliceArgument = 50"})},
    {"FieldsSliceMode2Cavlc", 3,
     With(kIppp, {"InterlaceCodingOption = 2", "SliceMode = 2", "SliceArgument = 300", "SymbolMode = 0"})},
    {"AdaptiveProgressiveCavlc", 4, With(kIppp, {"InterlaceCodingOption = 1", "SymbolMode = 0"})},
    {"AdaptiveInterlacedCabacTwoReferences", 4,
     With(kIppp, {"InterlaceCodingOption = 1", "NumberReferenceFrames = 2"}), 5, 2},
    {"AdaptiveInterlacedIbpSpatialDirectCavlc",
     5,
     {"InterlaceCodingOption = 1", "NumberBFrames = 1", "FrameSkip = 1", "DirectModeType = 1",
      "SymbolMode = 0"},
     5,
     1},
    {"AdaptiveInterlacedIbpTemporalDirect",
     5,
     {"InterlaceCodingOption = 1", "NumberBFrames = 1", "FrameSkip = 1", "DirectModeType = 0"},
     5,
     1},
    {"AdaptiveInterlacedIntraRefreshConstrainedIntra",
     5,
     {"InterlaceCodingOption = 1", "RandomIntraMBRefresh = 10", "UseConstrainedIntraPred = 1"},
     5,
     1},
    {"AdaptiveInterlacedIbpTemporalDirectCavlc",
     5,
     {"InterlaceCodingOption = 1", "NumberBFrames = 1", "FrameSkip = 1", "DirectModeType = 0",
      "SymbolMode = 0"},
     7,
     4},
};

INSTANTIATE_TEST_SUITE_P(Rows, FieldRoundTrip, ::testing::ValuesIn(kRows),
                         [](const auto &info) { return std::string(info.param.name); });

// Interlaced settings the encoder cannot code yet end the run before the first picture with a message
// naming what is missing.
TEST(FieldCodingRefusals, EndTheRunNamingTheMissingPart)
{
    struct Case
    {
        std::vector<std::string> settings;
        const char *text;
    };
    const Case cases[] = {
        {{"InterlaceCodingOption = 3", "RDOptimization = 1"}, "Macroblock-adaptive frame/field coding"},
        {{"InterlaceCodingOption = 2", "SPPicturePeriodicity = 2"},
         "Field coding (InterlaceCodingOption 2) with SP"},
        {{"InterlaceCodingOption = 1", "WeightedPrediction = 1"},
         "Picture-adaptive frame/field coding (InterlaceCodingOption 1) with weighted prediction"},
        {{"InterlaceCodingOption = 2", "num_slice_groups_minus1 = 1", "FmoType = 1"}, "several slice groups"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        zntest::ScratchDir dir;
        const auto seq = enctest::SyntheticPan(32, 32, 2, 1, 1);
        zntest::WriteFileBytes(dir.File("in.yuv"), std::vector<unsigned char>(seq.begin(), seq.end()));
        auto v = enctest::DialogValues(dir.File("in.yuv"), 32, 32, 2, dir.File("out.264"));
        const enctest::EncodeResult e = enctest::Encode(enctest::WriteSettings(dir.Path(), v, c.settings));
        EXPECT_FALSE(e.ok);
        EXPECT_NE(e.message.find(c.text), std::string::npos) << e.message;
        EXPECT_TRUE(e.host.frames.empty());
    }
}

// The picture-adaptive rule: fields when lambda x frame bits + frame error is at least the same sum of
// the fields, a tie going to the fields; lambda = 0.85 x 2^((qp - 12) / 3), four times that for B and
// SP pictures.
TEST(FieldCodingDecision, LambdaAndTieRule)
{
    EXPECT_DOUBLE_EQ(h264enc::frame_field_lambda(12, false), 0.85);
    EXPECT_DOUBLE_EQ(h264enc::frame_field_lambda(15, false), 1.7);
    EXPECT_DOUBLE_EQ(h264enc::frame_field_lambda(15, true), 6.8);
    EXPECT_TRUE(h264enc::choose_fields(2.0, 100, 50, 100, 50)); // tie
    EXPECT_TRUE(h264enc::choose_fields(2.0, 100, 50, 90, 69));  // 250 >= 249
    EXPECT_FALSE(h264enc::choose_fields(2.0, 100, 50, 90, 71)); // 250 < 251
    EXPECT_FALSE(h264enc::choose_fields(0.5, 0, 10, 1000, 0));  // 10 < 500
}

// The co-located motion a B picture finds in the form that was not coded: the encoder's derivations
// must equal the decoder's, on random motion of both kinds of source.
TEST(FieldCodingColocated, DerivedFormsEqualTheDecoders)
{
    const int cols = 8, frameRows = 16, fieldRows = frameRows / 2;
    std::mt19937 rng(7);
    auto randomRef = [&] { return static_cast<int>(rng() % 5) - 1; };
    auto randomMv = [&] { return static_cast<int>(rng() % 9) - 4; };
    for (bool fromFrame : {true, false}) {
        SCOPED_TRACE(fromFrame ? "fields from a frame" : "frame from a field pair");
        // Decoder side: vectors [block column + 4][block row][component], the rest [row][column].
        Array3D<int> mv[3];
        Array2D<int> ref[3], moving[3];
        for (int f = 0; f < 3; ++f) {
            const int rows = f == 0 ? frameRows : fieldRows;
            dec_get_mem3Dint(mv[f], cols + 4, rows, 3);
            dec_get_mem2Dint(ref[f], rows, cols);
            dec_get_mem2Dint(moving[f], rows, cols);
        }
        h264enc::ColocatedForms forms;
        auto fill = [&](int f, h264enc::ColocatedMotion &m) {
            const int rows = f == 0 ? frameRows : fieldRows;
            m.cols = cols;
            m.rows = rows;
            m.ref.assign(static_cast<size_t>(cols * rows), 0);
            m.mv.assign(m.ref.size(), {0, 0});
            m.moving.assign(m.ref.size(), 0);
            for (int y = 0; y < rows; ++y)
                for (int x = 0; x < cols; ++x) {
                    const size_t at = static_cast<size_t>(y * cols + x);
                    m.ref[at] = ref[f][y][x] = randomRef();
                    m.mv[at] = {mv[f][x + 4][y][0] = randomMv(), mv[f][x + 4][y][1] = randomMv()};
                    const bool still =
                        m.ref[at] == 0 && std::abs(m.mv[at][0]) <= 1 && std::abs(m.mv[at][1]) <= 1;
                    m.moving[at] = still ? 0 : 1;
                }
        };
        if (fromFrame) {
            fill(0, forms.frame);
            h264enc::derive_fields_from_frame(forms);
        } else {
            fill(1, forms.field[0]);
            fill(2, forms.field[1]);
            h264enc::derive_frame_from_fields(forms);
        }
        ::ColocatedMotion frame{&mv[0], &ref[0], &moving[0]}, top{&mv[1], &ref[1], &moving[1]},
            bottom{&mv[2], &ref[2], &moving[2]};
        dec_save_direct_motion(frame, top, bottom, fromFrame, cols, frameRows);
        const h264enc::ColocatedMotion *ours[3] = {&forms.frame, &forms.field[0], &forms.field[1]};
        for (int f = 0; f < 3; ++f) {
            const int rows = f == 0 ? frameRows : fieldRows;
            ASSERT_EQ(ours[f]->rows, rows);
            for (int y = 0; y < rows; ++y)
                for (int x = 0; x < cols; ++x) {
                    const size_t at = static_cast<size_t>(y * cols + x);
                    ASSERT_EQ(ours[f]->ref[at], ref[f][y][x]) << "form " << f << " block " << x << "," << y;
                    ASSERT_EQ(ours[f]->mv[at][0], mv[f][x + 4][y][0])
                        << "form " << f << " block " << x << "," << y;
                    ASSERT_EQ(ours[f]->mv[at][1], mv[f][x + 4][y][1])
                        << "form " << f << " block " << x << "," << y;
                    ASSERT_EQ(ours[f]->moving[at], moving[f][y][x])
                        << "form " << f << " block " << x << "," << y;
                }
        }
    }
}

} // namespace enc_fields_test
