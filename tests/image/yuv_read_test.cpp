// Reading pictures of raw sequences: frame offsets, cropping to multiples of 16, the four chroma
// layouts, the 4:2:2 to 4:2:0 filters against their tap-by-tap definition, the picture-number clamp,
// and errors (short files, out-of-range pictures) that must never leave undefined pixels.
#include "image/yuv_convert.h"
#include "image/yuv_frame.h"
#include "platform/messages.h"
#include "support/test_support.h"
#include "yuv_fixtures.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace yuv_read_test { // one namespace per test file: a folder compiles as one source

using namespace yuvtest;

namespace {

struct Planes
{
    std::vector<uint8_t> y, u, v;
};

// What a picture must read as: Y and (for 4:2:0 and Y-only) chroma cropped directly, 4:2:2 chroma
// cropped to height16 rows and filtered.
Planes Expected(int f, int rows, int cols, int format, bool progressive)
{
    const int w = cols & ~15, h = rows & ~15, cw = w / 2, ch = h / 2;
    Planes e;
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c)
            e.y.push_back(Sample(f, 0, r, c));
    for (int p = 1; p <= 2; ++p) {
        std::vector<uint8_t> &out = p == 1 ? e.u : e.v;
        if (format == YUV_CHROMA_Y_ONLY) {
            out.assign(static_cast<size_t>(cw) * ch, 128);
        } else if (format == YUV_CHROMA_420) {
            for (int r = 0; r < ch; ++r)
                for (int c = 0; c < cw; ++c)
                    out.push_back(Sample(f, p, r, c));
        } else {
            std::vector<uint8_t> full;
            for (int r = 0; r < h; ++r)
                for (int c = 0; c < cw; ++c)
                    full.push_back(Sample(f, p, r, c));
            out = DecimatePlane(full, cw, h, progressive);
        }
    }
    return e;
}

Planes Got(CYuvFrame &f)
{
    const size_t luma = static_cast<size_t>(f.Width16()) * f.Height16();
    return {{f.Y(), f.Y() + luma}, {f.U(), f.U() + luma / 4}, {f.V(), f.V() + luma / 4}};
}

} // namespace

// Every layout, progressive and interlaced, sizes that need cropping, extra bytes between frames.
TEST(YuvRead, LayoutsCroppingAndOffsets)
{
    struct Case
    {
        int rows, cols, progressive, format, frames, extra;
    };
    const Case cases[] = {
        {288, 352, 1, YUV_CHROMA_420, 4, 0},    {100, 180, 1, YUV_CHROMA_420, 3, 0},
        {100, 180, 1, YUV_CHROMA_Y_ONLY, 3, 7}, {64, 48, 1, YUV_CHROMA_422, 3, 0},
        {64, 48, 0, YUV_CHROMA_422, 3, 5},      {50, 38, 0, YUV_CHROMA_422, 2, 0},
        {48, 36, 1, YUV_CHROMA_UYVY, 3, 0},     {48, 36, 0, YUV_CHROMA_UYVY, 2, 3},
        {33, 17, 1, YUV_CHROMA_420, 2, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.rows << "x" << c.cols << " format " << c.format << " prog "
                                        << c.progressive << " extra " << c.extra);
        zntest::ScratchDir dir;
        WriteSequence(dir.File("s.yuv"), dir.File("s.hdr"), c.rows, c.cols, c.progressive, c.format, c.frames,
                      c.extra);
        zn::MessageRecorder rec;
        CYuvFrame f;
        ASSERT_EQ(f.ReadHeader(dir.File("s.yuv")), 0);
        ASSERT_TRUE(f.AllocateYuvFrame());
        EXPECT_EQ(f.Width16(), c.cols & ~15);
        EXPECT_EQ(f.Height16(), c.rows & ~15);
        for (int n : {c.frames, 1, 2}) {
            ASSERT_EQ(f.ReadFrame(dir.File("s.yuv"), n), 0) << n;
            Planes e = Expected(n - 1, c.rows, c.cols, c.format, c.progressive);
            Planes g = Got(f);
            EXPECT_EQ(g.y, e.y) << "picture " << n;
            EXPECT_EQ(g.u, e.u) << "picture " << n;
            EXPECT_EQ(g.v, e.v) << "picture " << n;
        }
        EXPECT_EQ(rec.Count(), 0u);
    }
}

// Frame n starts at (n - 1) x frame bytes: frame 3 of a CIF 4:2:0 sequence at 304128, and frames past
// 2 GiB (a sparse file) are reached with one 64-bit seek.
TEST(YuvRead, FrameOffsetsAre64Bit)
{
    zntest::ScratchDir dir;
    const std::string seq = dir.File("cif.yuv");
    const long long frame = 152064, frames = 14200; // the last frame starts beyond 2^31
    WriteText(dir.File("cif.hdr"),
              "/* 1\n/* 2\n/* 3\n/* 4\n288\n352\n1\n2\n" + std::to_string(frames) + "\n");
    {
        std::ofstream out(seq, std::ios::binary);
        for (long long n : {3LL, frames}) {
            std::vector<uint8_t> bytes = FrameBytes(static_cast<int>(n - 1), 288, 352, YUV_CHROMA_420);
            out.seekp((n - 1) * frame);
            out.write(reinterpret_cast<const char *>(bytes.data()), bytes.size());
        }
        ASSERT_TRUE(out.good());
    }
    ASSERT_EQ(std::filesystem::file_size(seq), static_cast<uintmax_t>(frames * frame));
    ASSERT_GT((frames - 1) * frame, 1LL << 31);
    zn::MessageRecorder rec;
    CYuvFrame f;
    ASSERT_EQ(f.ReadHeader(seq), 0);
    ASSERT_TRUE(f.AllocateYuvFrame());
    for (int n : {3, static_cast<int>(frames)}) {
        ASSERT_EQ(f.ReadFrame(seq, n), 0);
        Planes e = Expected(n - 1, 288, 352, YUV_CHROMA_420, true), g = Got(f);
        EXPECT_EQ(g.y, e.y) << n;
        EXPECT_EQ(g.u, e.u) << n;
        EXPECT_EQ(g.v, e.v) << n;
    }
    EXPECT_EQ(rec.Count(), 0u);
}

// ReadYUV fills the caller's planes the same way and reads the header itself when none is known.
TEST(YuvRead, ReadYuvIntoCallerPlanes)
{
    zntest::ScratchDir dir;
    WriteSequence(dir.File("c.yuv"), dir.File("c.hdr"), 40, 56, 0, YUV_CHROMA_422, 3);
    zn::MessageRecorder rec;
    CYuvFrame f;
    std::vector<uint8_t> y(48 * 32), u(24 * 16), v(24 * 16);
    uint8_t *planes[3] = {y.data(), u.data(), v.data()};
    ASSERT_EQ(f.ReadYUV(dir.File("c.yuv"), 2, planes), 0);
    Planes e = Expected(1, 40, 56, YUV_CHROMA_422, false);
    EXPECT_EQ(y, e.y);
    EXPECT_EQ(u, e.u);
    EXPECT_EQ(v, e.v);
    uint8_t *missing[3] = {y.data(), nullptr, v.data()};
    EXPECT_EQ(f.ReadYUV(dir.File("c.yuv"), 1, missing), 1);
    EXPECT_TRUE(rec.Contains("ReadYUV-error, memory blocks named frame[] not allocated"));
}

TEST(YuvRead, PictureNumbersAreClampedWithAMessage)
{
    zntest::ScratchDir dir;
    WriteSequence(dir.File("t.yuv"), dir.File("t.hdr"), 32, 32, 1, YUV_CHROMA_420, 10);
    CYuvFrame f;
    ASSERT_EQ(f.ReadHeader(dir.File("t.yuv")), 0);
    ASSERT_TRUE(f.AllocateYuvFrame());
    const struct
    {
        int asked, read;
        const char *message;
    } cases[] = {
        {12, 10, "Cannot read picture 12. Reading last picture\n in sequence instead (number 10)."},
        {0, 1, "Cannot read picture 0.\nReading picture 1 in sequence instead."},
        {-4, 1, "Cannot read picture -4.\nReading picture 1 in sequence instead."},
    };
    for (const auto &c : cases) {
        zn::MessageRecorder rec;
        ASSERT_EQ(f.ReadFrame(dir.File("t.yuv"), c.asked), 0);
        ASSERT_EQ(rec.Texts(), std::vector<std::string>{c.message});
        EXPECT_EQ(f.Y()[0], Sample(c.read - 1, 0, 0, 0));
        EXPECT_EQ(f.Y()[33], Sample(c.read - 1, 0, 1, 1));
    }
}

// A file shorter than its header promises, a picture beyond the count (possible when no header was
// known before the clamp) and a bad chroma format are errors that leave the planes as they were.
TEST(YuvRead, ReadErrorsLeavePlanesUntouched)
{
    struct Case
    {
        const char *name;
        int truncateTo; // bytes kept of the sequence file, -1 all
        int format, askFrame;
        bool viaReadPic;
        const char *message;
    };
    const int frame = 32 * 32 * 3 / 2;
    const Case cases[] = {
        {"last frame cut", 3 * frame - 1, YUV_CHROMA_420, 3, false, "Cannot read picture 3 of "},
        {"empty file", 0, YUV_CHROMA_420, 1, false, "Cannot read picture 1 of "},
        {"beyond count", -1, YUV_CHROMA_420, 4, true, "Cannot read picture 4 of "},
        {"picture 0", -1, YUV_CHROMA_420, 0, true, "Cannot read picture 0 of "},
        {"bad chroma format", -1, 7, 1, false, "Illegal chroma format in yuv file"},
        {"clamped into a short file", 2 * frame, YUV_CHROMA_420, 9, false, "Cannot read picture 3 of "},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        zntest::ScratchDir dir;
        WriteSequence(dir.File("e.yuv"), dir.File("e.hdr"), 32, 32, 1, YUV_CHROMA_420, 3);
        if (c.format != YUV_CHROMA_420)
            WriteText(dir.File("e.hdr"), HeaderText(32, 32, 1, c.format, 3));
        if (c.truncateTo >= 0) {
            auto bytes = zntest::ReadFileBytes(dir.File("e.yuv"));
            bytes.resize(c.truncateTo);
            ASSERT_TRUE(zntest::WriteFileBytes(dir.File("e.yuv"), bytes));
        }
        zn::MessageRecorder rec;
        CYuvFrame f;
        ASSERT_EQ(f.ReadHeader(dir.File("e.yuv")), 0);
        ASSERT_TRUE(f.AllocateYuvFrame());
        std::fill(f.Y(), f.Y() + 32 * 32, 0x5A);
        const int result = c.viaReadPic ? f.ReadPicYUV(dir.File("e.yuv"), c.askFrame)
                                        : f.ReadFrame(dir.File("e.yuv"), c.askFrame);
        EXPECT_EQ(result, 1);
        ASSERT_GE(rec.Count(), 1u);
        EXPECT_EQ(rec.Texts().back().rfind(c.message, 0), 0u) << rec.Texts().back();
        EXPECT_TRUE(std::all_of(f.Y(), f.Y() + 32 * 32, [](uint8_t b) { return b == 0x5A; }));
    }
}

TEST(YuvRead, MissingFilesAndHeaders)
{
    zntest::ScratchDir dir;
    {
        zn::MessageRecorder rec;
        CYuvFrame f;
        EXPECT_EQ(f.ReadFrame(dir.File("gone.yuv"), 1), 1);
        EXPECT_TRUE(rec.Contains("Header file for image sequence cannot be opened"));
        EXPECT_TRUE(rec.Contains("Problem with header file of " + dir.File("gone.yuv")));
    }
    {
        WriteText(dir.File("only.hdr"), HeaderText(16, 16, 1, 2, 1));
        zn::MessageRecorder rec;
        CYuvFrame f;
        EXPECT_EQ(f.ReadFrame(dir.File("only.yuv"), 1), 1);
        EXPECT_TRUE(rec.Contains("Cannot open file " + dir.File("only.yuv")));
    }
    {
        // Planes forgotten: the reader says so and allocates them itself.
        WriteSequence(dir.File("p.yuv"), dir.File("p.hdr"), 16, 16, 1, YUV_CHROMA_420, 1);
        zn::MessageRecorder rec;
        CYuvFrame f;
        EXPECT_EQ(f.ReadPicYUV(dir.File("p.yuv"), 1), 0);
        EXPECT_TRUE(
            rec.Contains("ReadPicYUV - Programming error: Call AllocateYuvFrame() prior to ReadPicYUV"));
        EXPECT_EQ(f.Y()[5], Sample(0, 0, 0, 5));
    }
}

// The filters against their definition on random columns and on hard edges, where the negative taps
// overshoot: results clip to 0 or 255 and never wrap around.
TEST(YuvChromaFilter, MatchesTheFormulaAndClipsAtSharpEdges)
{
    zntest::ScratchDir dir;
    for (int progressive : {1, 0}) {
        SCOPED_TRACE(progressive ? "progressive" : "interlaced");
        const int w = 32, h = 48, cw = w / 2;
        WriteText(dir.File("f.hdr"), HeaderText(h, w, progressive, YUV_CHROMA_422, 1));
        CYuvFrame f;
        ASSERT_EQ(f.ReadHeader(dir.File("f.yuv")), 0);
        std::vector<uint8_t> in(static_cast<size_t>(cw) * h);
        unsigned seed = 12345;
        for (int r = 0; r < h; ++r)
            for (int c = 0; c < cw; ++c) {
                seed = seed * 1103515245u + 12345u;
                if (c < 4) // random samples
                    in[r * cw + c] = static_cast<uint8_t>(seed >> 16);
                else if (c < 8) // a single step at a row that varies by column
                    in[r * cw + c] = r < 5 + 3 * c ? 0 : 255;
                else if (c < 12) // stripes of two rows in each field
                    in[r * cw + c] = ((r / (c - 6)) & 1) ? 255 : 0;
                else // a lone bright row or pair in the dark
                    in[r * cw + c] = (r == 20 || (c & 1 && r == 21)) ? 255 : 0;
            }
        std::vector<uint8_t> out(static_cast<size_t>(cw) * h / 2, 0x77);
        f.DecimateChromaV(in.data(), out.data());
        EXPECT_EQ(out, DecimatePlane(in, cw, h, progressive));

        // The unclipped results overshoot both ways here, so the clipping is exercised.
        int lowest = 0, highest = 0;
        for (int c = 0; c < cw; ++c) {
            std::vector<int> col(h);
            for (int r = 0; r < h; ++r)
                col[r] = in[r * cw + c];
            for (int v : DecimateColumn(col, progressive, false)) {
                lowest = std::min(lowest, v);
                highest = std::max(highest, v);
            }
        }
        EXPECT_LT(lowest, 0);
        EXPECT_GT(highest, 255);
    }
}

// The colour matrix: published examples and the grey picture of a luminance-only sequence.
TEST(YuvToRgb, MatrixExamplesAndGreyFromYOnly)
{
    const struct
    {
        int y, u, v;
        uint8_t b, g, r;
    } cases[] = {
        {128, 0, 0, 128, 128, 128},     {100, 10, 0, 113, 94, 100}, {0, -128, -128, 0, 132, 0},
        {255, 127, 127, 255, 125, 255}, {16, 0, -1, 16, 17, 14},    {50, -1, 0, 48, 51, 50},
    };
    for (const auto &c : cases) {
        uint8_t bgr[3];
        YuvToBgr(c.y, c.u, c.v, bgr);
        EXPECT_EQ(bgr[0], c.b) << c.y << "," << c.u << "," << c.v;
        EXPECT_EQ(bgr[1], c.g) << c.y << "," << c.u << "," << c.v;
        EXPECT_EQ(bgr[2], c.r) << c.y << "," << c.u << "," << c.v;
    }

    zntest::ScratchDir dir;
    WriteSequence(dir.File("g.y"), dir.File("g.hdr"), 100, 180, 1, YUV_CHROMA_Y_ONLY, 2);
    zn::MessageRecorder rec;
    CYuvFrame f;
    ASSERT_EQ(f.ReadHeader(dir.File("g.y")), 0);
    ASSERT_TRUE(f.AllocateYuvFrame());
    ASSERT_EQ(f.ReadFrame(dir.File("g.y"), 2), 0);
    ASSERT_EQ(f.Width16(), 176);
    ASSERT_EQ(f.Height16(), 96);
    std::vector<uint8_t> dib(176 * 3 * 96, 0xAB);
    f.m_pData = dib.data();
    f.ConvertYUVFrameDib();
    for (int r = 0; r < 96; ++r)
        for (int c = 0; c < 176; ++c) {
            const uint8_t *px = &dib[(95 - r) * 176 * 3 + 3 * c];
            const uint8_t y = Sample(1, 0, r, c);
            ASSERT_TRUE(px[0] == y && px[1] == y && px[2] == y) << r << "," << c;
        }
    EXPECT_EQ(rec.Count(), 0u);
}

// Colour conversion of a read picture: every pixel against the matrix with its 2 x 2 chroma sample,
// top row stored last.
TEST(YuvToRgb, FramePixelsUseTheirBlockChroma)
{
    zntest::ScratchDir dir;
    WriteSequence(dir.File("k.yuv"), dir.File("k.hdr"), 32, 48, 1, YUV_CHROMA_420, 1);
    zn::MessageRecorder rec;
    CYuvFrame f;
    ASSERT_EQ(f.ReadHeader(dir.File("k.yuv")), 0);
    std::vector<uint8_t> dib(48 * 3 * 32);
    f.ConvertYUVFrameDib(); // no target yet
    EXPECT_TRUE(rec.Contains("ConvertYUVFrameDib - Programming Error\nPointer m_pData MUST be set by calling "
                             "routine\nChange your C-code"));
    ASSERT_TRUE(f.AllocateYuvFrame());
    ASSERT_EQ(f.ReadFrame(dir.File("k.yuv"), 1), 0);
    f.m_pData = dib.data();
    f.ConvertYUVFrameDib();
    for (int r = 0; r < 32; ++r)
        for (int c = 0; c < 48; ++c) {
            uint8_t bgr[3];
            YuvToBgr(Sample(0, 0, r, c), Sample(0, 1, r / 2, c / 2) - 128, Sample(0, 2, r / 2, c / 2) - 128,
                     bgr);
            const uint8_t *px = &dib[(31 - r) * 48 * 3 + 3 * c];
            ASSERT_TRUE(px[0] == bgr[0] && px[1] == bgr[1] && px[2] == bgr[2]) << r << "," << c;
        }
}

} // namespace yuv_read_test
