// The decoder against ffmpeg on streams ffmpeg encodes: the same frames in the same display order
// with the same types, intra frames within 2 grey levels, every frame at 50 dB luma PSNR or more
// (the inverse transforms differ in their last bit, and P and B frames inherit that).
#include "mpeg/mpgdec/decode_stream.h"
#include "mpeg/mpgdec/field_stream.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace mpgdec_oracle_test { // one namespace per test file: a folder compiles as one source

namespace {

struct StreamCase
{
    const char *name;
    const char *file;   // output file name; its extension picks the container
    const char *source; // lavfi source
    const char *args;   // encoder arguments
    int width, height;
    const char *pixFmt;
};

std::string IntraMatrix()
{
    std::string m;
    for (int i = 0; i < 64; ++i)
        m += (i ? "," : "") + std::to_string(8 + (i * 5) % 40);
    return m;
}

std::string InterMatrix()
{
    std::string m;
    for (int i = 0; i < 64; ++i)
        m += (i ? "," : "") + std::to_string(12 + (i * 7) % 30);
    return m;
}

const StreamCase kCases[] = {
    {"Mpeg1CifB", "cif.m1v", "testsrc2=size=352x288:rate=25", "-c:v mpeg1video -bf 2 -g 12 -q:v 5", 352, 288,
     "yuv420p"},
    {"Mpeg1SystemWithAudio", "sys.mpg", "testsrc2=size=352x288:rate=25",
     "-c:v mpeg1video -bf 2 -g 9 -q:v 4 -c:a mp2 -f mpeg", 352, 288, "yuv420p"},
    {"Mpeg2SdProgressive", "sd.m2v", "testsrc2=size=720x576:rate=25", "-c:v mpeg2video -bf 2 -g 12 -q:v 4",
     720, 576, "yuv420p"},
    {"Mpeg2InterlacedTopFirst", "tff.m2v", "testsrc2=size=720x576:rate=25,setfield=tff",
     "-c:v mpeg2video -flags +ilme+ildct -top 1 -bf 2 -g 12 -q:v 4", 720, 576, "yuv420p"},
    {"Mpeg2InterlacedBottomFirst", "bff.m2v", "testsrc2=size=720x480:rate=25,setfield=bff",
     "-c:v mpeg2video -flags +ilme+ildct -top 0 -bf 2 -g 12 -q:v 4", 720, 480, "yuv420p"},
    {"Mpeg2AlternateScanIntraVlcNonLinear", "alt.m2v", "testsrc2=size=352x288:rate=25",
     "-c:v mpeg2video -alternate_scan 1 -intra_vlc 1 -non_linear_quant 1 -qmax 28 -bf 2 -q:v 3", 352, 288,
     "yuv420p"},
    {"Mpeg2DcPrecision10", "dc10.m2v", "testsrc2=size=352x288:rate=25", "-c:v mpeg2video -dc 10 -bf 1 -q:v 2",
     352, 288, "yuv420p"},
    {"Mpeg2OddSize", "odd.m2v", "testsrc2=size=350x238:rate=25", "-c:v mpeg2video -bf 2 -q:v 4", 350, 238,
     "yuv420p"},
    {"Mpeg2HighDefinition", "hd.m2v", "testsrc2=size=1920x1080:rate=25", "-c:v mpeg2video -bf 2 -g 6 -q:v 6",
     1920, 1080, "yuv420p"},
    {"Mpeg2Chroma422", "c422.m2v", "testsrc2=size=352x288:rate=25,format=yuv422p",
     "-c:v mpeg2video -pix_fmt yuv422p -bf 2 -q:v 4", 352, 288, "yuv422p"},
};

void PrintTo(const StreamCase &c, std::ostream *os)
{
    *os << c.name;
}

class MpegOracle : public ::testing::TestWithParam<StreamCase>
{
};

void CompareWithFfmpeg(const std::string &path, const std::string &pixFmt,
                       const zntest::DecodeOptions &options, bool overlay)
{
    zntest::DecodeOptions opt = options;
    opt.overlay = overlay;
    auto ours = zntest::DecodeMpegFile(path, opt);
    ASSERT_TRUE(ours.opened) << path;
    ASSERT_TRUE(ours.error.empty()) << ours.error;
    auto theirs = zntest::FfmpegFrames(path, pixFmt, ours.width, ours.height);
    auto types = zntest::FfprobeTypes(path);
    ASSERT_EQ(ours.frames.size(), theirs.size()) << path;
    ASSERT_EQ(ours.frames.size(), types.size()) << path;
    size_t lumaSize = static_cast<size_t>(ours.width) * ours.height;
    for (size_t k = 0; k < ours.frames.size(); ++k) {
        const auto &f = ours.frames[k];
        EXPECT_EQ(f.number, static_cast<int>(k + 1));
        EXPECT_EQ(f.type.substr(0, 1), types[k]) << "frame " << k;
        ASSERT_EQ(f.y.size(), lumaSize);
        double psnr = zntest::LumaPsnr(f.y, theirs[k], lumaSize);
        EXPECT_GE(psnr, 50.0) << "frame " << k << " type " << f.type;
        std::vector<uint8_t> chroma(theirs[k].begin() + static_cast<ptrdiff_t>(lumaSize), theirs[k].end());
        std::vector<uint8_t> ourChroma = f.cb;
        ourChroma.insert(ourChroma.end(), f.cr.begin(), f.cr.end());
        ASSERT_EQ(ourChroma.size(), chroma.size());
        EXPECT_GE(zntest::LumaPsnr(ourChroma, chroma, chroma.size()), 50.0) << "chroma of frame " << k;
        if (types[k] == "I") {
            EXPECT_LE(zntest::MaxAbsDiff(f.y, theirs[k], lumaSize), 2) << "frame " << k;
        }
    }
}

TEST_P(MpegOracle, FramesTypesAndPicturesMatchFfmpeg)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    const StreamCase &c = GetParam();
    zntest::ScratchDir dir;
    std::string path = dir.File(c.file);
    int frames = c.width >= 1920 ? 8 : 15;
    std::string cmd = "ffmpeg -v error -y -f lavfi -i " + std::string(c.source);
    if (std::string(c.args).find("-c:a") != std::string::npos)
        cmd += " -f lavfi -i sine=frequency=440:sample_rate=44100";
    cmd += " -frames:v " + std::to_string(frames) + " " + c.args + " " + zntest::ShellQuote(path);
    ASSERT_EQ(zntest::Run(cmd), 0) << cmd;
    CompareWithFfmpeg(path, c.pixFmt, {}, c.width >= 1920);
}

INSTANTIATE_TEST_SUITE_P(Streams, MpegOracle, ::testing::ValuesIn(kCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(MpegOracle, CustomMatrices)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    zntest::ScratchDir dir;
    for (const char *codec : {"mpeg1video", "mpeg2video"}) {
        std::string path = dir.File(std::string(codec) + ".mpv");
        std::string cmd = "ffmpeg -v error -y -f lavfi -i testsrc2=size=352x288:rate=25 -frames:v 10 -c:v " +
                          std::string(codec) + " -bf 2 -q:v 4 -intra_matrix " + IntraMatrix() +
                          " -inter_matrix " + InterMatrix() + " -f rawvideo " + zntest::ShellQuote(path);
        ASSERT_EQ(zntest::Run(cmd), 0) << cmd;
        SCOPED_TRACE(codec);
        CompareWithFfmpeg(path, "yuv420p", {}, false);
    }
}

TEST(MpegOracle, OutsideCorpus)
{
    int checked = 0;
    for (const std::string &path : zntest::CorpusFiles("mpeg")) {
        SCOPED_TRACE(path);
        auto ours = zntest::DecodeMpegFile(path);
        if (!ours.opened || !ours.error.empty())
            continue;
        const char *fmt = ours.chromaFormat == 1 ? "yuv420p" : ours.chromaFormat == 2 ? "yuv422p" : "yuv444p";
        CompareWithFfmpeg(path, fmt, {}, false);
        ++checked;
    }
    std::printf("corpus: %d files checked\n", checked);
}

} // namespace

namespace {

// Levels that differ between the fields, the blocks and the frames.
int FieldLevel(int frame, int field, int c, int x, int y)
{
    return c ? 60 + 40 * c + 7 * frame + 3 * (x / 8) - 2 * (y / 8)
             : 30 + 90 * field + 11 * frame + 5 * (x / 8) + 9 * (y / 8);
}

TEST(MpegOracle, FieldPicturesMatchFfmpeg)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    zntest::ScratchDir dir;
    const std::string path = dir.File("fields.m2v");
    ASSERT_TRUE(zntest::WriteFileBytes(path, zntest::FieldCodedStream(64, 64, 3, FieldLevel)));
    const auto types = zntest::FfprobeTypes(path);
    EXPECT_EQ(types, (std::vector<std::string>{"I", "I", "I"}));
    CompareWithFfmpeg(path, "yuv420p", {}, false);
    // The fields interleave: frame line 2k is line k of the top field, 2k + 1 of the bottom one.
    const zntest::DecodedStream ours = zntest::DecodeMpegFile(path);
    ASSERT_EQ(ours.frames.size(), 3u);
    EXPECT_EQ(ours.frames.back().type, "I (last)");
    for (int f = 0; f < 3; ++f)
        for (int line : {0, 1, 17, 40, 63})
            for (int x : {0, 9, 63}) {
                const int field = line & 1, y = line / 2;
                EXPECT_EQ(ours.frames[f].y[static_cast<size_t>(line) * 64 + x],
                          FieldLevel(f, field, 0, x / 8 * 8, y / 8 * 8))
                    << f << " " << line << " " << x;
            }
}

} // namespace

} // namespace mpgdec_oracle_test
