// Subband display: per-band scaling, band borders, the block view, and the byte line drawing.
#include "image/znimage.h"
#include "modules/sbc/disp_subb.h"
#include "modules/sbc/subb.h"
#include "platform/messages.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <vector>

namespace disp_subb_test { // one namespace per test file: a folder compiles as one source

namespace {

// A side x side float record with four bands of half the side in a 2 x 2 layout.
Subb *FourBands(int side)
{
    Subb *sb;
    AllocSubb(&sb, side, side, IMG_REP_FLOAT, IMG_SEQ_MONO);
    SubbComponent &c = sb->comp[0];
    c.count = 4;
    const int h = side / 2;
    const int first[4] = {0, h, h * side, h * side + h};
    for (int i = 0; i < 4; ++i) {
        c.bandRows[i] = h;
        c.bandCols[i] = h;
        c.first[i] = first[i];
    }
    return sb;
}

} // namespace

TEST(DispSubb, ScalesEachBandByItsOwnPeak)
{
    Subb *sb = FourBands(8);
    float *p = sb->FloatPlane();
    // Band 0 stays zero; band 1 spans -2 .. 1; band 2 peaks at 0.005; band 3 at 1000.
    p[4] = -2, p[5] = 1, p[6] = 0;
    p[32] = 0.005f;
    p[36] = 1000, p[37] = -500;
    ZnImage img;
    img.DispSubb(sb, 0);
    const float *d = img.Data();
    EXPECT_EQ(d[0], 127);
    EXPECT_EQ(d[4], 0);
    EXPECT_EQ(d[5], 191);
    EXPECT_EQ(d[6], 127);
    EXPECT_EQ(d[32], 127);
    EXPECT_EQ(d[36], 255);
    EXPECT_EQ(d[37], 63);
    // Borders: every band's bottom row and right column are black.
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(d[3 * 8 + k], 0);
        EXPECT_EQ(d[k * 8 + 3], 0);
    }
    EXPECT_EQ(d[2 * 8 + 2], 127);
    FreeSubb(sb);
}

TEST(DispSubb, BlockViewInterleavesTheBands)
{
    Subb *sb = FourBands(4);
    float *p = sb->FloatPlane();
    for (int k = 0; k < 16; ++k)
        p[k] = (k % 4 == 3) ? 1.0f : -1.0f; // raster column 3 bright, everything else dark
    ZnImage img;
    img.DispSubb(sb, 2);
    const float *d = img.Data();
    // Image sample (1, 3) comes from raster (2, 3), which is in column 3.
    EXPECT_EQ(d[1 * 4 + 3], 255);
    EXPECT_EQ(d[1 * 4 + 1], 0); // from raster (2, 1)
    FreeSubb(sb);

    zn::MessageRecorder rec;
    Subb empty;
    img.DispSubb(&empty, 0);
    EXPECT_TRUE(rec.Contains("DispSubb-Data pointer is NULL"));
}

TEST(DrawLineByte, HorizontalAndVerticalLines)
{
    struct Case
    {
        int x0, y0, x1, y1;
        std::vector<int> set; // y * 5 + x
    };
    const Case cases[] = {{2, 1, 2, 4, {7, 12, 17}},  {2, 4, 2, 1, {7, 12, 17}},
                          {0, 0, 3, 0, {0, 1, 2, 3}}, {3, 0, 0, 0, {0, 1, 2, 3}},
                          {1, 1, 1, 1, {}},           {0, 0, 4, 2, {0, 1, 7, 8, 14}}};
    for (const Case &c : cases) {
        std::vector<uint8_t> r(25, 9);
        DrawLineByte(c.x0, c.y0, c.x1, c.y1, 1, r.data(), 5);
        std::vector<int> got;
        for (int i = 0; i < 25; ++i)
            if (r[i] == 1)
                got.push_back(i);
        std::vector<int> want = c.set;
        std::sort(want.begin(), want.end());
        EXPECT_EQ(got, want) << c.x0 << "," << c.y0 << " -> " << c.x1 << "," << c.y1;
    }
}

} // namespace disp_subb_test
