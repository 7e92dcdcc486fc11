// Display scaling: bilinear 8.8 fixed point checked against the closed form on linear ramps (where
// bilinear interpolation is exact), and the grey conversion of palette images.
#include "image/cdib.h"
#include "shell/dib_scale.h"

#include <gtest/gtest.h>

#include <iterator>
#include <vector>

namespace dib_scale_test { // one namespace per test file: a folder compiles as one source

using zn::Grey24RowBytes;
using zn::ScaleGreyBilinear;

TEST(DibScale, LinearRampsScaleExactly)
{
    const struct
    {
        int w0, h0, w, h, a, b;
    } rows[] = {
        {16, 16, 16, 16, 8, 7}, {16, 16, 8, 8, 8, 7}, {16, 16, 37, 23, 8, 7}, {9, 5, 4, 11, 20, 10},
        {100, 3, 7, 2, 2, 5},   {5, 7, 5, 7, 30, 6},  {1, 1, 5, 3, 0, 0},     {3, 1, 301, 1, 100, 0},
    };
    for (const auto &r : rows) {
        // Source sample (x, stored row y) = a x + b y (+ 9 for the constant image).
        const int srcRow = Grey24RowBytes(r.w0);
        std::vector<uint8_t> src(static_cast<size_t>(srcRow) * r.h0, 0xEE); // padding must not matter
        for (int y = 0; y < r.h0; ++y)
            for (int x = 0; x < r.w0; ++x)
                for (int c = 0; c < 3; ++c)
                    src[y * srcRow + 3 * x + c] = static_cast<uint8_t>(r.a * x + r.b * y + 9);
        const std::vector<uint8_t> out = ScaleGreyBilinear(src.data(), r.w0, r.h0, r.w, r.h);
        const int dstRow = Grey24RowBytes(r.w);
        ASSERT_EQ(out.size(), static_cast<size_t>(dstRow) * r.h);
        const int xs = r.w0 * 256 / r.w, ys = r.h0 * 256 / r.h;
        int bad = 0;
        for (int i = 0; i < r.h; ++i)
            for (int j = 0; j < r.w; ++j) {
                // Sample position in 1/256 pixel, held at the last pixel where the neighbour is clamped.
                const int X = std::min(j * xs, (r.w0 - 1) * 256);
                const int Y = std::min(i * ys, (r.h0 - 1) * 256);
                const int expect = (r.a * X + r.b * Y) / 256 + 9;
                for (int c = 0; c < 3; ++c)
                    bad += out[i * dstRow + 3 * j + c] != expect;
            }
        EXPECT_EQ(bad, 0) << r.w0 << "x" << r.h0 << " -> " << r.w << "x" << r.h;
    }
}

TEST(DibScale, DegenerateSizesGiveNothing)
{
    const uint8_t px[4] = {1, 1, 1, 0};
    EXPECT_TRUE(ScaleGreyBilinear(px, 1, 1, 0, 5).empty());
    EXPECT_TRUE(ScaleGreyBilinear(px, 1, 1, 5, -1).empty());
    EXPECT_TRUE(ScaleGreyBilinear(nullptr, 1, 1, 5, 5).empty());
}

TEST(DibScale, PaletteImageBecomesGrey24)
{
    RGBQUAD pal[3];
    pal[0] = {0, 0, 0, 0};
    pal[1] = {10, 200, 50, 0}; // blue, green, red
    pal[2] = {255, 255, 255, 0};
    CDib dib;
    ASSERT_TRUE(dib.Create8(5, 2, pal, 3));
    dib.m_title = "t";
    for (int k = 0; k < 2; ++k)
        for (int x = 0; x < 5; ++x)
            dib.StoredRow(k)[x] = static_cast<uint8_t>((x + k) % 3);
    ASSERT_TRUE(zn::PaletteToGrey24(dib));
    EXPECT_EQ(dib.GetInfoHeader()->biBitCount, 24);
    EXPECT_EQ(dib.GetNumColors(), 0);
    EXPECT_EQ(dib.m_title, "t");
    EXPECT_EQ(dib.GetInfoHeader()->biSizeImage, 16u * 2 / 3); // padded block / 3
    // 0.3008 R + 0.5859 G + 0.1133 B, truncated: colour 1 gives 15.04 + 117.18 + 1.133 = 133.
    const int grey[3] = {0, 133, 255};
    for (int k = 0; k < 2; ++k)
        for (int x = 0; x < 5; ++x)
            for (int c = 0; c < 3; ++c)
                EXPECT_EQ(dib.StoredRow(k)[3 * x + c], grey[(x + k) % 3]);
    EXPECT_FALSE(zn::PaletteToGrey24(dib)); // already 24-bit
}

// The first draw converts the document image itself, so a grey palette must come out unchanged:
// a single-precision sum turned 121, 242 and 255 into 120, 241 and 254.
TEST(DibScale, EveryGreyLevelSurvivesTheFirstDraw)
{
    std::vector<RGBQUAD> pal(256);
    for (int k = 0; k < 256; ++k)
        pal[k] = {static_cast<uint8_t>(k), static_cast<uint8_t>(k), static_cast<uint8_t>(k), 0};
    CDib dib;
    ASSERT_TRUE(dib.Create8(16, 16, pal.data(), 256));
    for (int k = 0; k < 16; ++k)
        for (int x = 0; x < 16; ++x)
            dib.StoredRow(k)[x] = static_cast<uint8_t>(16 * k + x);
    ASSERT_TRUE(zn::PaletteToGrey24(dib));
    for (int k = 0; k < 16; ++k)
        for (int x = 0; x < 16; ++x)
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(dib.StoredRow(k)[3 * x + c], 16 * k + x) << "row " << k << " column " << x;
}

// Colour entries take the weighted sum truncated. Expected values are the exact decimal sums
// (3008 R + 5859 G + 1133 B) / 10000 worked out by hand; 7/55/103 sums to exactly 46, which a
// single-precision sum misses (45.999996).
TEST(DibScale, ColourPaletteGivesTruncatedWeightedSum)
{
    struct Case
    {
        uint8_t r, g, b;
        int grey;
    };
    const Case cases[] = {
        {255, 0, 0, 76},     // 76.704
        {0, 255, 0, 149},    // 149.4045
        {0, 0, 255, 28},     // 28.8915
        {200, 100, 50, 124}, // 60.16 + 58.59 + 5.665 = 124.415
        {7, 55, 103, 46},    // 2.1056 + 32.2245 + 11.6699 = 46.0000
        {255, 255, 0, 226},  // 226.1085
    };
    const int n = static_cast<int>(std::size(cases));
    std::vector<RGBQUAD> pal;
    for (const Case &c : cases)
        pal.push_back({c.b, c.g, c.r, 0});
    CDib dib;
    ASSERT_TRUE(dib.Create8(n, 1, pal.data(), n));
    for (int x = 0; x < n; ++x)
        dib.StoredRow(0)[x] = static_cast<uint8_t>(x);
    ASSERT_TRUE(zn::PaletteToGrey24(dib));
    for (int x = 0; x < n; ++x)
        EXPECT_EQ(dib.StoredRow(0)[3 * x], cases[x].grey)
            << int(cases[x].r) << "/" << int(cases[x].g) << "/" << int(cases[x].b);
}

} // namespace dib_scale_test
