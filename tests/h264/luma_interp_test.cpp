// Quarter-sample luma fetch: the fast kernel equals the reference on random and extreme planes at all
// 16 positions, including blocks hanging over every border; both equal the standard's named samples
// (G, b, h, j, s, m and the quarter averages a..r) written here, with truncating averages.
#include "h264dec/luma_interp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

namespace luma_interp_test { // one namespace per test file: a folder compiles as one source

namespace {

struct Plane
{
    Array2D<uint8_t> a;
    LumaPlaneView View(int maxY = -1) const
    {
        return LumaPlaneView{&a, a.Cols(), maxY < 0 ? a.Rows() - 1 : maxY};
    }
};

Plane RandomPlane(int w, int h, int kind, unsigned seed)
{
    std::mt19937 rng(seed);
    Plane p;
    p.a.Reset(h, w);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int v = static_cast<int>(rng() % 256);
            if (kind == 1)
                v = (x + y) % 2 ? 255 : 0; // checkerboard: the taps' extremes
            else if (kind == 2)
                v = (x / 2 + y) % 2 ? 255 : 0;
            else if (kind == 3)
                v = rng() % 2 ? 255 : 0;
            p.a[y][x] = static_cast<uint8_t>(v);
        }
    return p;
}

// The standard's samples around integer position (x, y), with clamped coordinates.
struct Named
{
    const LumaPlaneView &p;
    int G(int x, int y) const { return (*p.plane)[std::clamp(y, 0, p.max_y)][std::clamp(x, 0, p.width - 1)]; }
    static int Clip(int v) { return std::clamp(v, 0, 255); }
    int b1(int x, int y) const
    {
        return G(x - 2, y) - 5 * G(x - 1, y) + 20 * G(x, y) + 20 * G(x + 1, y) - 5 * G(x + 2, y) +
               G(x + 3, y);
    }
    int h1(int x, int y) const
    {
        return G(x, y - 2) - 5 * G(x, y - 1) + 20 * G(x, y) + 20 * G(x, y + 1) - 5 * G(x, y + 2) +
               G(x, y + 3);
    }
    int b(int x, int y) const { return Clip((b1(x, y) + 16) >> 5); }
    int h(int x, int y) const { return Clip((h1(x, y) + 16) >> 5); }
    int j(int x, int y) const
    {
        // Through the vertical intermediates, the other way round from the decoder's dx = 2 path.
        const int j1 = h1(x - 2, y) - 5 * h1(x - 1, y) + 20 * h1(x, y) + 20 * h1(x + 1, y) -
                       5 * h1(x + 2, y) + h1(x + 3, y);
        return Clip((j1 + 512) >> 10);
    }
    int At(int x, int y, int dx, int dy) const
    {
        const int bb = b(x, y), hh = h(x, y), s = b(x, y + 1), m = h(x + 1, y);
        auto avg = [](int u, int v) { return (u + v) / 2; }; // truncating
        switch (dy * 4 + dx) {
        case 0:
            return G(x, y);
        case 1:
            return avg(G(x, y), bb);
        case 2:
            return bb;
        case 3:
            return avg(G(x + 1, y), bb);
        case 4:
            return avg(G(x, y), hh);
        case 5:
            return avg(bb, hh);
        case 6:
            return avg(bb, j(x, y));
        case 7:
            return avg(bb, m);
        case 8:
            return hh;
        case 9:
            return avg(hh, j(x, y));
        case 10:
            return j(x, y);
        case 11:
            return avg(j(x, y), m);
        case 12:
            return avg(G(x, y + 1), hh);
        case 13:
            return avg(hh, s);
        case 14:
            return avg(j(x, y), s);
        default:
            return avg(m, s);
        }
    }
};

void CheckPosition(const LumaPlaneView &v, int xPos, int yPos)
{
    int ref[4][4], fast[4][4];
    h264dec_luma_block_reference(v, xPos, yPos, ref);
    h264dec_luma_block_fast(v, xPos, yPos, fast);
    const Named n{v};
    const int dx = xPos & 3, dy = yPos & 3, x = (xPos - dx) / 4, y = (yPos - dy) / 4;
    for (int i = 0; i < 4; ++i)
        for (int jj = 0; jj < 4; ++jj) {
            ASSERT_EQ(fast[i][jj], ref[i][jj]) << "at " << xPos << "," << yPos;
            ASSERT_EQ(ref[i][jj], n.At(x + i, y + jj, dx, dy))
                << "at " << xPos << "," << yPos << " " << i << jj;
        }
}

TEST(H264LumaInterp, FastEqualsReferenceEqualsNamedSamplesOverAllPositions)
{
    for (int kind = 0; kind < 4; ++kind) {
        const Plane p = RandomPlane(24, 20, kind, 17u + static_cast<unsigned>(kind));
        const LumaPlaneView v = p.View();
        std::mt19937 rng(4);
        for (int t = 0; t < 400; ++t) {
            // Inside, over the borders, and far outside.
            const int span = t % 4 == 3 ? 4000 : 4 * 30;
            const int xPos = static_cast<int>(rng() % static_cast<unsigned>(2 * span)) - span / 2 + 40;
            const int yPos = static_cast<int>(rng() % static_cast<unsigned>(2 * span)) - span / 2 + 40;
            for (int d = 0; d < 16; ++d)
                CheckPosition(v, (xPos & ~3) + d % 4, (yPos & ~3) + d / 4);
        }
    }
}

// Whole-block prediction (4, 8 and 16 samples a side) equals the reference block by block: inside the
// plane, at each border, far outside, and against a field limit below the plane's last row.
TEST(H264LumaInterp, BlockKernelEqualsTheReferenceForEverySizeAndPosition)
{
    const int sizes[] = {4, 8, 16};
    for (int kind = 0; kind < 4; ++kind) {
        const Plane p = RandomPlane(48, 40, kind, 31u + static_cast<unsigned>(kind));
        std::mt19937 rng(9 + static_cast<unsigned>(kind));
        for (int t = 0; t < 300; ++t) {
            const LumaPlaneView v = p.View(t % 5 == 4 ? 19 : -1);
            const int span = t % 6 == 5 ? 4000 : 4 * 64;
            const int xPos = static_cast<int>(rng() % static_cast<unsigned>(span)) - span / 2 + 4 * 20;
            const int yPos = static_cast<int>(rng() % static_cast<unsigned>(span)) - span / 2 + 4 * 16;
            for (int d = 0; d < 16; ++d)
                for (const int w : sizes)
                    for (const int h : sizes) {
                        uint8_t ref[16 * 17], fast[16 * 17];
                        const int x = (xPos & ~3) + d % 4, y = (yPos & ~3) + d / 4;
                        h264dec_luma_pred_reference(v, x, y, w, h, ref, 17);
                        h264dec_luma_pred_fast(v, x, y, w, h, fast, 17);
                        for (int r = 0; r < h; ++r)
                            for (int c = 0; c < w; ++c)
                                ASSERT_EQ(fast[17 * r + c], ref[17 * r + c])
                                    << "at " << x << "," << y << " size " << w << "x" << h << " sample " << c
                                    << "," << r;
                    }
        }
    }
}

TEST(H264LumaInterp, FarOutsideReadsTheReplicatedCorner)
{
    const Plane p = RandomPlane(16, 16, 0, 1);
    for (int d = 0; d < 16; ++d) {
        int blk[4][4];
        h264dec_luma_block_fast(p.View(), -4000 + d % 4, -4000 + d / 4, blk);
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j)
                EXPECT_EQ(blk[i][j], p.a[0][0]);
        h264dec_luma_block_fast(p.View(), 9000 + d % 4, 9000 + d / 4, blk);
        EXPECT_EQ(blk[3][3], p.a[15][15]);
    }
}

// Every column 100 except column 5, 101: the half sample between columns 4 and 5 is 101 and the
// quarter sample between 100 and 101 truncates to 100, where a rounding average would give 101.
TEST(H264LumaInterp, QuarterAveragesTruncate)
{
    Plane p;
    p.a.Reset(16, 16);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            p.a[y][x] = x == 5 ? 101 : 100;
    int blk[4][4];
    h264dec_luma_block_fast(p.View(), 4 * 4 + 2, 16, blk);
    EXPECT_EQ(blk[0][0], 101);
    h264dec_luma_block_fast(p.View(), 4 * 4 + 1, 16, blk);
    EXPECT_EQ(blk[0][0], 100);
    h264dec_luma_block_fast(p.View(), 4 * 4 + 1, 17, blk); // (b + h) / 2 = (101 + 100) / 2
    EXPECT_EQ(blk[0][0], 100);
}

TEST(H264LumaInterp, FieldMacroblockOfAFrameClampsToTheFieldRows)
{
    H264DecoderState dec;
    Plane p = RandomPlane(16, 32, 0, 8);
    LumaRefList list{&p.a};
    dec.mref = &list;
    dec.img.width = 16;
    dec.img.height = 32;
    dec.img.structure = kFrame;
    int blk[4][4];
    h264dec_get_luma_block(dec, 0, 0, 4 * 100, blk);
    EXPECT_EQ(blk[2][0], p.a[31][2]);
    dec.img.MbaffFrameFlag = 1;
    dec.img.mb_field_flag = 1;
    h264dec_get_luma_block(dec, 0, 0, 4 * 100, blk);
    EXPECT_EQ(blk[2][0], p.a[15][2]);
    // The same fetch through the reference with the field limit.
    int ref[4][4];
    h264dec_luma_block_reference(p.View(15), 2, 4 * 14 + 3, ref);
    h264dec_get_luma_block(dec, 0, 2, 4 * 14 + 3, blk);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            EXPECT_EQ(blk[i][j], ref[i][j]);
}

// The average of two predictions equals the reference for every width up to 16, on random samples and
// on the extremes where the rounding carries (255 with 255, 255 with 0, odd sums).
TEST(H264LumaInterp, AverageOfTwoPredictionsEqualsTheReference)
{
    std::mt19937 rng(17);
    for (int t = 0; t < 200; ++t) {
        uint8_t a[16 * 20], b[16 * 20];
        for (int k = 0; k < 16 * 20; ++k) {
            const int kind = t % 4;
            a[k] = static_cast<uint8_t>(kind == 1 ? 255 : kind == 2 ? (k % 2) * 255 : rng() % 256);
            b[k] = static_cast<uint8_t>(kind == 1   ? 255 - (k % 2)
                                        : kind == 2 ? 255 * (k % 3 == 0)
                                                    : rng() % 256);
        }
        for (int w = 1; w <= 16; ++w)
            for (const int h : {4, 8, 16}) {
                uint8_t ref[16 * 20], fast[16 * 20];
                std::memset(ref, 7, sizeof ref);
                std::memset(fast, 7, sizeof fast);
                h264dec_average_pred_reference(a, b, ref, 20, w, h);
                h264dec_average_pred_fast(a, b, fast, 20, w, h);
                ASSERT_EQ(0, std::memcmp(ref, fast, sizeof ref)) << "width " << w << " height " << h;
            }
    }
}

} // namespace

} // namespace luma_interp_test
