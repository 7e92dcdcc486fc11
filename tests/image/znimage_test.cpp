// Float luminance image: allocation reuse, conversions to and from the display image, line drawing.
#include "image/cdib.h"
#include "image/znimage.h"
#include "platform/errors.h"
#include "platform/messages.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <set>
#include <utility>

namespace znimage_test { // one namespace per test file: a folder compiles as one source

namespace {

void SetPixel(CDib &dib, int x, int y, uint8_t b, uint8_t g, uint8_t r)
{
    uint8_t *p = dib.StoredRow(dib.GetHeight() - 1 - y) + 3 * x;
    p[0] = b;
    p[1] = g;
    p[2] = r;
}

} // namespace

TEST(ZnImage, LuminanceOfPixels)
{
    struct Case
    {
        uint8_t b, g, r;
        double y;
    };
    const Case cases[] = {
        {0, 0, 255, 76.704},
        {255, 0, 0, 28.8915},
        {0, 255, 0, 149.4045},
        {77, 77, 77, 77},
        {255, 255, 255, 255},
        {0, 0, 0, 0},
        {10, 20, 30, 0.3008 * 30 + 0.5859 * 20 + 0.1133 * 10},
    };
    CDib dib;
    ASSERT_TRUE(dib.Create24(static_cast<int>(std::size(cases)), 2));
    for (size_t i = 0; i < std::size(cases); ++i)
        SetPixel(dib, static_cast<int>(i), 0, cases[i].b, cases[i].g, cases[i].r);
    ZnImage z;
    z.DibToZnImage(&dib);
    ASSERT_EQ(z.Rows(), 2);
    ASSERT_EQ(z.Cols(), static_cast<int>(std::size(cases)));
    EXPECT_EQ(z.img->seqType, IMG_SEQ_MONO);
    EXPECT_EQ(z.img->rep, IMG_REP_FLOAT);
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(z.Data()[i], static_cast<float>(cases[i].y)) << i; // row 0 is the top
        EXPECT_EQ(z.Data()[std::size(cases) + i], 0.0f);
    }
}

TEST(ZnImage, GreyRampPaletteGivesTheIndex)
{
    RGBQUAD ramp[256];
    for (int i = 0; i < 256; ++i)
        ramp[i] = RGBQUAD{static_cast<uint8_t>(i), static_cast<uint8_t>(i), static_cast<uint8_t>(i), 0};
    CDib dib;
    ASSERT_TRUE(dib.Create8(7, 3, ramp, 256)); // width 7: rows padded to 8
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 7; ++x)
            dib.StoredRow(2 - y)[x] = static_cast<uint8_t>(y * 60 + x * 20);
    ZnImage z;
    z.DibToZnImage(&dib);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 7; ++x)
            ASSERT_EQ(z.Data()[y * 7 + x], static_cast<float>(y * 60 + x * 20));
}

TEST(ZnImage, ToDibClipsTruncatesAndPads)
{
    const float in[] = {
        -0.5f,  0.0f, 127.99f, 255.0f, 300.0f, 254.9f, -1e30f, 1e30f, std::numeric_limits<float>::quiet_NaN(),
        0.999f, 1.0f, 42.5f,   200.0f, 3.0f,   4.0f};
    const uint8_t want[] = {0, 0, 127, 255, 255, 254, 0, 255, 255, 0, 1, 42, 200, 3, 4};
    ZnImage z;
    z.Alloc(3, 5);
    std::copy(std::begin(in), std::end(in), z.Data());
    CDib dib;
    dib.m_caption = "kept";
    z.ZnImageToDib(&dib);
    ASSERT_TRUE(dib.IsValid());
    EXPECT_EQ(dib.m_caption, "kept");
    EXPECT_EQ(dib.GetWidth(), 5);
    EXPECT_EQ(dib.GetHeight(), 3);
    EXPECT_EQ(dib.GetInfoHeader()->biBitCount, 24);
    EXPECT_EQ(dib.RowBytes(), 16);
    EXPECT_EQ(dib.GetInfoHeader()->biSizeImage, 16u); // 48 / 3
    EXPECT_EQ(dib.m_nPixelSize, 48);
    EXPECT_EQ(dib.m_nBlockSize, 88);
    EXPECT_EQ(dib.GetPalette(), nullptr);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 5; ++c) {
            const uint8_t *p = dib.StoredRow(2 - r) + 3 * c;
            uint8_t w = want[r * 5 + c];
            ASSERT_TRUE(p[0] == w && p[1] == w && p[2] == w) << r << "," << c;
        }

    // Round trip: byte images survive DIB -> float -> DIB unchanged.
    ZnImage back;
    back.DibToZnImage(&dib);
    CDib again;
    back.ZnImageToDib(&again);
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(0, std::memcmp(again.StoredRow(k), dib.StoredRow(k), 15));
}

TEST(ZnImage, AllocReusesALargeEnoughPlane)
{
    ZnImage z;
    EXPECT_EQ(z.img, nullptr);
    z.Alloc(8, 8);
    Img *record = z.img;
    float *plane = z.Data();
    z.Alloc(4, 4);
    EXPECT_EQ(z.img, record);
    EXPECT_EQ(z.Data(), plane);
    EXPECT_EQ(z.Rows(), 4);
    EXPECT_EQ(z.Cols(), 4);
    z.Alloc(16, 16);
    EXPECT_EQ(z.Rows(), 16);
    EXPECT_EQ(z.Cols(), 16);
    z.Data()[255] = 1.0f; // the new plane holds 256 floats (checked by the sanitizer build)
    z.Alloc(0, 5);
    EXPECT_EQ(z.Rows(), 0);
}

TEST(ZnImage, ToDibReusesTargetStorage)
{
    ZnImage z;
    z.Alloc(32, 32);
    std::fill(z.Data(), z.Data() + 32 * 32, 9.0f);
    CDib dib;
    z.ZnImageToDib(&dib);
    const uint8_t *bits = dib.GetBits();
    z.Alloc(16, 16);
    z.ZnImageToDib(&dib);
    EXPECT_EQ(dib.GetBits(), bits);
    EXPECT_EQ(dib.GetWidth(), 16);
}

TEST(ZnImage, SubImageHasBorderOf127)
{
    CDib dib;
    ASSERT_TRUE(dib.Create24(4, 4));
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            uint8_t g = static_cast<uint8_t>(10 * y + x);
            SetPixel(dib, x, y, g, g, g);
        }
    ZnImage z;
    z.Alloc(8, 8);
    z.DibToSubZnImage(&dib, 2);
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c) {
            bool inside = r >= 2 && r < 6 && c >= 2 && c < 6;
            float want = inside ? static_cast<float>(10 * (r - 2) + (c - 2)) : 127.0f;
            ASSERT_EQ(z.Data()[r * 8 + c], want) << r << "," << c;
        }
}

TEST(ZnImage, SubImageWithoutMemoryIsReported)
{
    zn::MessageRecorder messages;
    CDib dib;
    ASSERT_TRUE(dib.Create24(4, 4));
    ZnImage none;
    none.DibToSubZnImage(&dib, 2);
    ZnImage small;
    small.Alloc(6, 6); // too small for border 2: nothing may be written
    small.DibToSubZnImage(&dib, 2);
    ASSERT_EQ(messages.Count(), 2u);
    EXPECT_EQ(messages.Texts()[0], "DibToSubZnImage -- Implementation error: Image memory not allocated");
}

TEST(DrawLineFloat, BresenhamCases)
{
    using Points = std::set<std::pair<int, int>>; // (x, y)
    struct Case
    {
        int x0, y0, x1, y1;
        Points want;
    };
    const Case cases[] = {
        {0, 0, 3, 1, {{0, 0}, {1, 0}, {2, 1}, {3, 1}}},
        {2, 5, 2, 1, {{2, 1}, {2, 2}, {2, 3}, {2, 4}, {2, 5}}},
        {3, 1, 0, 0, {{0, 0}, {1, 0}, {2, 1}, {3, 1}}},
        {4, 4, 4, 4, {{4, 4}}},
        {0, 7, 7, 0, {{0, 7}, {1, 6}, {2, 5}, {3, 4}, {4, 3}, {5, 2}, {6, 1}, {7, 0}}},
        {1, 2, 6, 2, {{1, 2}, {2, 2}, {3, 2}, {4, 2}, {5, 2}, {6, 2}}},
        {0, 0, 1, 3, {{0, 0}, {0, 1}, {1, 2}, {1, 3}}},
        {5, 0, 0, 2, {{5, 0}, {4, 0}, {3, 1}, {2, 1}, {1, 2}, {0, 2}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.x0 << "," << c.y0 << " -> " << c.x1 << "," << c.y1);
        float raster[8 * 8] = {};
        DrawLineFloat(c.x0, c.y0, c.x1, c.y1, 5.0f, raster, 8);
        Points got;
        for (int i = 0; i < 64; ++i)
            if (raster[i] == 5.0f)
                got.insert({i % 8, i / 8});
        EXPECT_EQ(got, c.want);
    }
}

TEST(DrawLineFloat, WithHeightSkipsPointsOutsideTheRaster)
{
    float raster[4 * 3] = {};
    DrawLineFloat(-2, 1, 9, 1, 1.0f, raster, 4, 3);
    DrawLineFloat(2, -5, 2, 7, 2.0f, raster, 4, 3);
    const float want[12] = {0, 0, 2, 0, 1, 1, 2, 1, 0, 0, 2, 0};
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(raster[i], want[i]) << i;
}

// An impossible plane ends the run once: AllocImg has told the user, so the run boundary must not
// repeat the message.
TEST(ZnImage, FailedAllocationEndsTheRunWithOneMessage)
{
    zn::MessageRecorder rec;
    ZnImage z;
    try {
        z.Alloc(1 << 20, 1 << 20);
        FAIL() << "a 4 TiB plane was allocated";
    } catch (const zn::RunAborted &e) {
        EXPECT_EQ(e.Code(), zn::kMessageShown);
    }
    EXPECT_EQ(rec.Texts(), std::vector<std::string>{"Fatal: Not enough memory"});
}

} // namespace znimage_test
