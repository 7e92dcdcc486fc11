// A raw sequence opened as a document image, and the decoders' YUV conversions into a CDib.
#include "image/cdib.h"
#include "image/yuv_convert.h"
#include "platform/messages.h"
#include "support/test_support.h"
#include "yuv_fixtures.h"

#include <gtest/gtest.h>

namespace cdib_yuv_test { // one namespace per test file: a folder compiles as one source

using namespace yuvtest;

TEST(PrepareDibforYUVFile, OpensPictureOneCroppedTo16)
{
    zntest::ScratchDir dir;
    // An upper-case name with its header in the same case: the path is kept as given.
    WriteSequence(dir.File("Clip.YUV"), dir.File("Clip.hdr"), 100, 180, 1, YUV_CHROMA_420, 3);
    zn::MessageRecorder rec;
    CDib dib;
    const int size = dib.PrepareDibforYUVFile(dir.File("Clip.YUV"));
    EXPECT_EQ(rec.Count(), 0u);
    ASSERT_GT(size, 0);
    EXPECT_EQ(size, dib.m_nBlockSize);
    EXPECT_TRUE(dib.IsValid());
    EXPECT_EQ(dib.m_path, dir.File("Clip.YUV"));
    EXPECT_EQ(dib.m_title, "Clip");
    ASSERT_EQ(dib.GetWidth(), 176);
    ASSERT_EQ(dib.GetHeight(), 96);
    EXPECT_EQ(dib.GetInfoHeader()->biBitCount, 24);
    EXPECT_EQ(dib.GetInfoHeader()->biSizeImage, 176u * 96);
    for (int r = 0; r < 96; ++r)
        for (int c = 0; c < 176; ++c) {
            uint8_t bgr[3];
            YuvToBgr(Sample(0, 0, r, c), Sample(0, 1, r / 2, c / 2) - 128, Sample(0, 2, r / 2, c / 2) - 128,
                     bgr);
            const uint8_t *px = dib.StoredRow(95 - r) + 3 * c;
            ASSERT_TRUE(px[0] == bgr[0] && px[1] == bgr[1] && px[2] == bgr[2]) << r << "," << c;
        }
}

// Every failure refuses the document; only a missing sequence file goes without a message.
TEST(PrepareDibforYUVFile, RefusesWhatCannotBeRead)
{
    struct Case
    {
        const char *name;
        const char *header; // null: the fixture's own header
        int keepBytes;      // -1: the whole sequence
        bool removeSequence;
        const char *message; // null: no message
    };
    const Case cases[] = {
        {"no sequence file", nullptr, -1, true, nullptr},
        {"no header", "", -1, false, "Header file for image sequence cannot be opened"},
        {"incomplete header", "32\n32\n1\n", -1, false, "Header file is not complete"},
        {"bad chroma format", "32\n32\n1\n9\n2\n", -1, false, "Illegal chroma format in yuv file"},
        {"picture 1 cut short", nullptr, 1000, false, "Cannot read picture 1 of "},
        {"too small", "8\n8\n1\n2\n1\n", -1, false, "Image dimensions in header file are too small"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        zntest::ScratchDir dir;
        const std::string seq = dir.File("s.yuv");
        WriteSequence(seq, dir.File("s.hdr"), 32, 32, 1, YUV_CHROMA_420, 2);
        if (c.header && !*c.header)
            std::remove(dir.File("s.hdr").c_str());
        else if (c.header)
            WriteText(dir.File("s.hdr"), c.header);
        if (c.keepBytes >= 0) {
            auto b = zntest::ReadFileBytes(seq);
            b.resize(c.keepBytes);
            zntest::WriteFileBytes(seq, b);
        }
        if (c.removeSequence)
            std::remove(seq.c_str());
        zn::MessageRecorder rec;
        CDib dib;
        EXPECT_EQ(dib.PrepareDibforYUVFile(seq), -1);
        EXPECT_FALSE(dib.IsValid());
        if (!c.message) {
            EXPECT_EQ(rec.Count(), 0u);
        } else {
            ASSERT_GE(rec.Count(), 1u);
            EXPECT_EQ(rec.Texts().back().rfind(c.message, 0), 0u) << rec.Texts().back();
        }
    }
}

// Both conversions against the matrix, pixel by pixel, on sizes with odd sides and row padding;
// the padding bytes stay as they were.
TEST(CDibYuv, ConvertYuv420And444)
{
    for (bool is444 : {false, true})
        for (auto [w, h] : {std::pair{16, 8}, std::pair{5, 3}, std::pair{22, 7}}) {
            SCOPED_TRACE(testing::Message() << (is444 ? "4:4:4 " : "4:2:0 ") << w << "x" << h);
            const int cw = is444 ? w : w / 2, ch = is444 ? h : h / 2;
            std::vector<uint8_t> y(w * h), u(cw * ch), v(cw * ch);
            for (int r = 0; r < h; ++r)
                for (int c = 0; c < w; ++c)
                    y[r * w + c] = Sample(0, 0, r, c);
            for (int r = 0; r < ch; ++r)
                for (int c = 0; c < cw; ++c) {
                    u[r * cw + c] = Sample(0, 1, r, c);
                    v[r * cw + c] = Sample(0, 2, r, c);
                }
            CDib dib;
            ASSERT_TRUE(dib.Create24(w, h));
            std::fill(dib.GetBits(), dib.GetBits() + dib.m_nPixelSize, 0xCD);
            uint8_t *planes[3] = {y.data(), u.data(), v.data()};
            if (is444)
                dib.ConvertYUV444Dib(planes, 1, 2, 3);
            else
                dib.ConvertYUV420Dib(planes, 1, 2, 3);
            for (int r = 0; r < h; ++r) {
                for (int c = 0; c < w; ++c) {
                    // An odd last row or column repeats the last chroma sample.
                    const int cr = is444 ? r : std::min(r / 2, ch - 1),
                              cc = is444 ? c : std::min(c / 2, cw - 1);
                    uint8_t bgr[3];
                    YuvToBgr(y[r * w + c], u[cr * cw + cc] - 128, v[cr * cw + cc] - 128, bgr);
                    const uint8_t *px = dib.StoredRow(h - 1 - r) + 3 * c;
                    ASSERT_TRUE(px[0] == bgr[0] && px[1] == bgr[1] && px[2] == bgr[2]) << r << "," << c;
                }
                for (int k = 3 * w; k < dib.RowBytes(); ++k)
                    EXPECT_EQ(dib.StoredRow(h - 1 - r)[k], 0xCD);
            }
        }
}

// The published examples through a CDib: Y, U, V of 128 stay grey; Y 100, u 10, v 0 is 113, 94, 100.
TEST(CDibYuv, MatrixExamples)
{
    CDib dib;
    ASSERT_TRUE(dib.Create24(2, 2));
    uint8_t y[4] = {128, 100, 128, 100}, u[1] = {128}, v[1] = {128};
    uint8_t *planes[3] = {y, u, v};
    dib.ConvertYUV420Dib(planes);
    EXPECT_EQ(dib.StoredRow(1)[0], 128);
    EXPECT_EQ(dib.StoredRow(1)[1], 128);
    EXPECT_EQ(dib.StoredRow(1)[2], 128);
    uint8_t y4[4] = {100, 100, 100, 100}, u4[4] = {138, 138, 138, 138}, v4[4] = {128, 128, 128, 128};
    uint8_t *planes4[3] = {y4, u4, v4};
    dib.ConvertYUV444Dib(planes4);
    EXPECT_EQ(dib.StoredRow(0)[0], 113);
    EXPECT_EQ(dib.StoredRow(0)[1], 94);
    EXPECT_EQ(dib.StoredRow(0)[2], 100);

    // A palette image is not written.
    CDib grey;
    RGBQUAD pal[2] = {};
    ASSERT_TRUE(grey.Create8(4, 4, pal, 2));
    std::vector<uint8_t> before(grey.GetBits(), grey.GetBits() + grey.m_nPixelSize);
    grey.ConvertYUV444Dib(planes4);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), grey.GetBits()));
}

} // namespace cdib_yuv_test
