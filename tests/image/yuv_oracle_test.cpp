// Raw sequences against ffmpeg as an independent reader and writer: ffmpeg makes the sequences and
// extracts the picture we read (cropped to the working size), and it reads back what our writer wrote.
// With ZANTHO_CORPUS set, every .yuv/.y file in its yuv folder is checked the same way.
#include "image/yuv_frame.h"
#include "image/yuv_writer.h"
#include "platform/messages.h"
#include "support/test_support.h"
#include "yuv_fixtures.h"

#include <cctype>
#include <cstdio>
#include <gtest/gtest.h>

namespace yuv_oracle_test { // one namespace per test file: a folder compiles as one source

using namespace yuvtest;

namespace {

const char *FfmpegPixFmt(int chromaFormat)
{
    switch (chromaFormat) {
    case YUV_CHROMA_Y_ONLY:
        return "gray";
    case YUV_CHROMA_422:
        return "yuv422p";
    case YUV_CHROMA_420:
        return "yuv420p";
    case YUV_CHROMA_UYVY:
        return "uyvy422";
    }
    return nullptr;
}

// Picture `index` (0-based) of a raw file as ffmpeg reads it, cropped to w x h, in pixel format out.
std::vector<uint8_t> FfmpegPicture(const zntest::ScratchDir &dir, const std::string &seq, const char *inFmt,
                                   int cols, int rows, int index, int w, int h, const char *outFmt)
{
    const std::string out = dir.File("ffmpeg_picture.raw");
    std::remove(out.c_str());
    const std::string cmd =
        zn::Format("ffmpeg -v error -y -f rawvideo -pix_fmt %s -s %dx%d -i %s "
                   "-vf 'select=eq(n\\,%d),crop=%d:%d:0:0' -fps_mode passthrough -frames:v 1 "
                   "-f rawvideo -pix_fmt %s %s",
                   inFmt, cols, rows, zntest::ShellQuote(seq).c_str(), index, w, h, outFmt,
                   zntest::ShellQuote(out).c_str());
    EXPECT_EQ(zntest::Run(cmd), 0) << cmd;
    return zntest::ReadFileBytes(out);
}

// Reads pictures 1 and `frames` with our reader and compares them with ffmpeg's reading: Y and 4:2:0
// chroma directly, 4:2:2 chroma (planar, or ffmpeg's unpacking of UYVY) through the filter's formula.
void CheckAgainstFfmpeg(const zntest::ScratchDir &dir, const std::string &seq)
{
    zn::MessageRecorder rec;
    CYuvFrame f;
    ASSERT_EQ(f.ReadHeader(seq), 0);
    ASSERT_TRUE(f.AllocateYuvFrame());
    const int w = f.Width16(), h = f.Height16(), cw = w / 2, ch = h / 2;
    const char *inFmt = FfmpegPixFmt(f.ChromaFormat());
    const bool viaFfmpeg = inFmt && f.Extra() == 0;
    for (int n : {1, f.Frames()}) {
        SCOPED_TRACE(testing::Message() << seq << " picture " << n);
        ASSERT_EQ(f.ReadFrame(seq, n), 0);
        if (!viaFfmpeg)
            continue;
        const std::vector<uint8_t> y(f.Y(), f.Y() + w * h), u(f.U(), f.U() + cw * ch),
            v(f.V(), f.V() + cw * ch);
        switch (f.ChromaFormat()) {
        case YUV_CHROMA_Y_ONLY: {
            EXPECT_EQ(y, FfmpegPicture(dir, seq, inFmt, f.Cols(), f.Rows(), n - 1, w, h, "gray"));
            EXPECT_TRUE(std::all_of(u.begin(), u.end(), [](uint8_t s) { return s == 128; }));
            EXPECT_TRUE(std::all_of(v.begin(), v.end(), [](uint8_t s) { return s == 128; }));
            break;
        }
        case YUV_CHROMA_420: {
            auto ref = FfmpegPicture(dir, seq, inFmt, f.Cols(), f.Rows(), n - 1, w, h, "yuv420p");
            ASSERT_EQ(ref.size(), static_cast<size_t>(w * h + 2 * cw * ch));
            EXPECT_TRUE(std::equal(y.begin(), y.end(), ref.begin()));
            EXPECT_TRUE(std::equal(u.begin(), u.end(), ref.begin() + w * h));
            EXPECT_TRUE(std::equal(v.begin(), v.end(), ref.begin() + w * h + cw * ch));
            break;
        }
        default: {
            auto ref = FfmpegPicture(dir, seq, inFmt, f.Cols(), f.Rows(), n - 1, w, h, "yuv422p");
            ASSERT_EQ(ref.size(), static_cast<size_t>(2 * w * h));
            EXPECT_TRUE(std::equal(y.begin(), y.end(), ref.begin()));
            const std::vector<uint8_t> u422(ref.begin() + w * h, ref.begin() + w * h + cw * h);
            const std::vector<uint8_t> v422(ref.begin() + w * h + cw * h, ref.end());
            EXPECT_EQ(u, DecimatePlane(u422, cw, h, f.Progressive() != 0));
            EXPECT_EQ(v, DecimatePlane(v422, cw, h, f.Progressive() != 0));
            break;
        }
        }
    }
    EXPECT_EQ(rec.Count(), 0u);
}

} // namespace

TEST(YuvOracle, ReaderMatchesFfmpeg)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    struct Case
    {
        int format, cols, rows, progressive;
    };
    const Case cases[] = {
        {YUV_CHROMA_420, 180, 100, 1},    {YUV_CHROMA_420, 176, 144, 0},  {YUV_CHROMA_422, 176, 144, 1},
        {YUV_CHROMA_422, 180, 100, 0},    {YUV_CHROMA_UYVY, 180, 100, 1}, {YUV_CHROMA_UYVY, 176, 144, 0},
        {YUV_CHROMA_Y_ONLY, 180, 100, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << FfmpegPixFmt(c.format) << " " << c.cols << "x" << c.rows);
        zntest::ScratchDir dir;
        const std::string seq = dir.File(c.format == YUV_CHROMA_Y_ONLY ? "src.y" : "src.yuv");
        const std::string cmd =
            zn::Format("ffmpeg -v error -y -f lavfi -i testsrc2=size=%dx%d:rate=25 -frames:v 4 "
                       "-pix_fmt %s -f rawvideo %s",
                       c.cols, c.rows, FfmpegPixFmt(c.format), zntest::ShellQuote(seq).c_str());
        ASSERT_EQ(zntest::Run(cmd), 0) << cmd;
        WriteText(dir.File("src.hdr"), HeaderText(c.rows, c.cols, c.progressive, c.format, 4));
        CheckAgainstFfmpeg(dir, seq);
    }
}

// What the writer writes opens in ffmpeg as planar 4:2:0 with the same frames and planes (ffmpeg's
// extractplanes names each plane, so a swapped U and V would show).
TEST(YuvOracle, WriterOutputOpensInFfmpeg)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    zntest::ScratchDir dir;
    const int rows = 144, cols = 176, frames = 3;
    const std::string out = dir.File("ours.yuv");
    {
        zn::MessageRecorder rec;
        CYuvFileWriter w(out);
        for (int f = 0; f < frames; ++f) {
            std::vector<uint8_t> bytes = FrameBytes(f, rows, cols, YUV_CHROMA_420);
            uint8_t *planes[3] = {bytes.data(), bytes.data() + rows * cols,
                                  bytes.data() + rows * cols + rows * cols / 4};
            ASSERT_EQ(w.SaveYUVFrame(rows, cols, planes), f + 1);
        }
    }
    std::string count;
    ASSERT_EQ(
        zntest::Run("ffprobe -v error -f rawvideo -pixel_format yuv420p -video_size 176x144 -count_frames "
                    "-show_entries stream=nb_read_frames -of csv=p=0 " +
                        zntest::ShellQuote(out),
                    &count),
        0);
    EXPECT_EQ(std::stoi(count), frames);
    for (int f = 0; f < frames; ++f)
        for (int p = 0; p < 3; ++p) {
            const char plane[2] = {"yuv"[p], 0};
            const std::string raw = dir.File("plane.raw");
            std::remove(raw.c_str());
            const std::string cmd = zn::Format(
                "ffmpeg -v error -y -f rawvideo -pix_fmt yuv420p -s %dx%d -i %s "
                "-vf 'select=eq(n\\,%d),extractplanes=%c' -fps_mode passthrough -frames:v 1 -f rawvideo "
                "-pix_fmt gray %s",
                cols, rows, zntest::ShellQuote(out).c_str(), f, plane[0], zntest::ShellQuote(raw).c_str());
            ASSERT_EQ(zntest::Run(cmd), 0) << cmd;
            const int pr = p ? rows / 2 : rows, pc = p ? cols / 2 : cols;
            std::vector<uint8_t> expected;
            for (int r = 0; r < pr; ++r)
                for (int c = 0; c < pc; ++c)
                    expected.push_back(Sample(f, p, r, c));
            EXPECT_EQ(zntest::ReadFileBytes(raw), expected) << "frame " << f << " plane " << plane[0];
        }
}

TEST(YuvOracle, Corpus)
{
    int checked = 0;
    zntest::ScratchDir dir;
    for (const std::string &path : zntest::CorpusFiles("yuv")) {
        std::string lower = path;
        for (char &ch : lower)
            ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        auto endsWith = [&](const std::string &ext) {
            return lower.size() > ext.size() &&
                   lower.compare(lower.size() - ext.size(), ext.size(), ext) == 0;
        };
        const bool isSequence = endsWith(".yuv") || endsWith(".y");
        if (!isSequence)
            continue;
        if (zntest::HaveTool("ffmpeg")) {
            CheckAgainstFfmpeg(dir, path);
        } else {
            CYuvFrame f;
            ASSERT_EQ(f.ReadHeader(path), 0) << path;
            ASSERT_TRUE(f.AllocateYuvFrame());
            EXPECT_EQ(f.ReadFrame(path, 1), 0) << path;
            EXPECT_EQ(f.ReadFrame(path, f.Frames()), 0) << path;
        }
        ++checked;
    }
    std::printf("corpus: %d files checked\n", checked);
}

} // namespace yuv_oracle_test
