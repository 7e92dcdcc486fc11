// Luma intra prediction against the published equations (written here in their own form, sample by
// sample from the neighbour function p(x, y)), over random and extreme neighbours, and the decoder's
// availability rules: 128 fills, above-right blocks that are decoded later, slices and MBAFF.
#include "h264dec/intra_pred.h"
#include "platform/messages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace intra_pred_test { // one namespace per test file: a folder compiles as one source

namespace {

// p(x, -1) for x = -1..7 and p(-1, y) for y = 0..3.
struct Edge4
{
    Intra4x4Neighbours n;
    int p(int x, int y) const
    {
        if (y == -1)
            return x < 0 ? n.corner : n.above[x];
        return n.left[y];
    }
};

int Expected4x4(const Edge4 &e, int mode, int dcAvail, int x, int y)
{
    auto P = [&](int px, int py) { return e.p(px, py); };
    switch (mode) {
    case 0:
        return P(x, -1);
    case 1:
        return P(-1, y);
    case 2: {
        int sa = 0, sl = 0;
        for (int k = 0; k < 4; ++k) {
            sa += P(k, -1);
            sl += P(-1, k);
        }
        if (dcAvail == 3)
            return (sa + sl + 4) >> 3;
        if (dcAvail == 1)
            return (sa + 2) >> 2;
        if (dcAvail == 2)
            return (sl + 2) >> 2;
        return 128;
    }
    case 3:
        if (x == 3 && y == 3)
            return (P(6, -1) + 3 * P(7, -1) + 2) >> 2;
        return (P(x + y, -1) + 2 * P(x + y + 1, -1) + P(x + y + 2, -1) + 2) >> 2;
    case 4:
        if (x > y)
            return (P(x - y - 2, -1) + 2 * P(x - y - 1, -1) + P(x - y, -1) + 2) >> 2;
        if (x < y)
            return (P(-1, y - x - 2) + 2 * P(-1, y - x - 1) + P(-1, y - x) + 2) >> 2;
        return (P(0, -1) + 2 * P(-1, -1) + P(-1, 0) + 2) >> 2;
    case 5: {
        const int z = 2 * x - y;
        if (z >= 0 && z % 2 == 0)
            return (P(x - (y >> 1) - 1, -1) + P(x - (y >> 1), -1) + 1) >> 1;
        if (z >= 0)
            return (P(x - (y >> 1) - 2, -1) + 2 * P(x - (y >> 1) - 1, -1) + P(x - (y >> 1), -1) + 2) >> 2;
        if (z == -1)
            return (P(-1, 0) + 2 * P(-1, -1) + P(0, -1) + 2) >> 2;
        return (P(-1, y - 1) + 2 * P(-1, y - 2) + P(-1, y - 3) + 2) >> 2;
    }
    case 6: {
        const int z = 2 * y - x;
        if (z >= 0 && z % 2 == 0)
            return (P(-1, y - (x >> 1) - 1) + P(-1, y - (x >> 1)) + 1) >> 1;
        if (z >= 0)
            return (P(-1, y - (x >> 1) - 2) + 2 * P(-1, y - (x >> 1) - 1) + P(-1, y - (x >> 1)) + 2) >> 2;
        if (z == -1)
            return (P(-1, 0) + 2 * P(-1, -1) + P(0, -1) + 2) >> 2;
        return (P(x - 1, -1) + 2 * P(x - 2, -1) + P(x - 3, -1) + 2) >> 2;
    }
    case 7:
        if (y % 2 == 0)
            return (P(x + (y >> 1), -1) + P(x + (y >> 1) + 1, -1) + 1) >> 1;
        return (P(x + (y >> 1), -1) + 2 * P(x + (y >> 1) + 1, -1) + P(x + (y >> 1) + 2, -1) + 2) >> 2;
    default: {
        const int z = x + 2 * y;
        if (z < 5 && z % 2 == 0)
            return (P(-1, y + (x >> 1)) + P(-1, y + (x >> 1) + 1) + 1) >> 1;
        if (z < 5)
            return (P(-1, y + (x >> 1)) + 2 * P(-1, y + (x >> 1) + 1) + P(-1, y + (x >> 1) + 2) + 2) >> 2;
        if (z == 5)
            return (P(-1, 2) + 3 * P(-1, 3) + 2) >> 2;
        return P(-1, 3);
    }
    }
}

void CheckAllModes(const Edge4 &e)
{
    for (int mode = 0; mode < 9; ++mode)
        for (int avail = 0; avail < 4; ++avail) {
            if (mode != 2 && avail != 3)
                continue;
            int pred[4][4];
            ASSERT_EQ(h264dec_pred4x4_kernel(mode, e.n, avail, pred), 0);
            for (int x = 0; x < 4; ++x)
                for (int y = 0; y < 4; ++y)
                    ASSERT_EQ(pred[x][y], Expected4x4(e, mode, avail, x, y))
                        << "mode " << mode << " avail " << avail << " at " << x << "," << y;
        }
}

TEST(H264IntraPred, FourByFourModesMatchTheEquationsOnRandomAndExtremeNeighbours)
{
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> s(0, 255);
    for (int t = 0; t < 400; ++t) {
        Edge4 e;
        const int kind = t % 4; // random, all 0, all 255, alternating 0/255
        auto value = [&](int k) {
            return kind == 0 ? s(rng) : kind == 1 ? 0 : kind == 2 ? 255 : (k % 2) * 255;
        };
        for (int k = 0; k < 8; ++k)
            e.n.above[k] = value(k);
        for (int k = 0; k < 4; ++k)
            e.n.left[k] = value(k + 1);
        e.n.corner = value(3);
        CheckAllModes(e);
    }
}

TEST(H264IntraPred, IllegalModesLeaveThePredictionAlone)
{
    Intra4x4Neighbours n;
    int pred[4][4];
    for (auto &c : pred)
        std::fill(std::begin(c), std::end(c), 7);
    EXPECT_EQ(h264dec_pred4x4_kernel(9, n, 3, pred), 1);
    EXPECT_EQ(h264dec_pred4x4_kernel(-1, n, 3, pred), 1);
    EXPECT_EQ(pred[2][3], 7);
    Intra16x16Neighbours m;
    int p16[16][16] = {};
    EXPECT_EQ(h264dec_pred16x16_kernel(4, m, p16), 1);
}

int Expected16(const Intra16x16Neighbours &n, int mode, int x, int y)
{
    auto P = [&](int px, int py) {
        if (py == -1)
            return px < 0 ? n.corner : n.above[px];
        return n.left[py];
    };
    switch (mode) {
    case 0:
        return P(x, -1);
    case 1:
        return P(-1, y);
    case 2: {
        int sa = 0, sl = 0;
        for (int k = 0; k < 16; ++k) {
            sa += P(k, -1);
            sl += P(-1, k);
        }
        if (n.above_ok && n.left_ok)
            return (sa + sl + 16) >> 5;
        if (n.above_ok)
            return (sa + 8) >> 4;
        if (n.left_ok)
            return (sl + 8) >> 4;
        return 128;
    }
    default: {
        int h = 0, v = 0;
        for (int k = 0; k <= 7; ++k) {
            h += (k + 1) * (P(8 + k, -1) - P(6 - k, -1));
            v += (k + 1) * (P(-1, 8 + k) - P(-1, 6 - k));
        }
        const int a = 16 * (P(-1, 15) + P(15, -1)), b = (5 * h + 32) >> 6, c = (5 * v + 32) >> 6;
        // Division truncates; a negative sum clips to 0 either way.
        return std::clamp((a + b * (x - 7) + c * (y - 7) + 16) / 32, 0, 255);
    }
    }
}

TEST(H264IntraPred, SixteenBySixteenModesMatchTheEquationsAndThePlaneClips)
{
    std::mt19937 rng(9);
    std::uniform_int_distribution<int> s(0, 255);
    int clippedHigh = 0, clippedLow = 0;
    for (int t = 0; t < 300; ++t) {
        Intra16x16Neighbours n;
        const int kind = t % 4; // random, rising (plane overshoots 255), falling (below 0), random
        for (int k = 0; k < 16; ++k) {
            n.above[k] = kind == 1   ? std::min(255, 40 + 14 * k)
                         : kind == 2 ? std::max(0, 215 - 14 * k)
                                     : s(rng);
            n.left[k] = kind == 1   ? std::min(255, 40 + 14 * k)
                        : kind == 2 ? std::max(0, 215 - 14 * k)
                                    : s(rng);
        }
        n.corner = kind == 1 ? 0 : kind == 2 ? 255 : s(rng);
        n.above_ok = t % 3 != 0;
        n.left_ok = t % 5 != 0;
        for (int mode = 0; mode < 4; ++mode) {
            int pred[16][16];
            ASSERT_EQ(h264dec_pred16x16_kernel(mode, n, pred), 0);
            for (int x = 0; x < 16; ++x)
                for (int y = 0; y < 16; ++y) {
                    ASSERT_EQ(pred[x][y], Expected16(n, mode, x, y)) << "mode " << mode;
                    if (mode == 3) {
                        clippedHigh += pred[x][y] == 255;
                        clippedLow += pred[x][y] == 0;
                    }
                }
        }
    }
    EXPECT_GT(clippedHigh, 0);
    EXPECT_GT(clippedLow, 0);
}

TEST(H264IntraPred, AboveRightIsForcedOffWhereTheBlockIsDecodedLater)
{
    struct Case
    {
        int x, y;
        bool mbaff, allowed;
    };
    const Case cases[] = {{0, 0, false, true},   {4, 0, false, true},
                          {12, 0, false, true},  {4, 4, false, false},
                          {4, 12, false, false}, {12, 4, false, false},
                          {12, 8, false, false}, {12, 12, false, false},
                          {0, 4, false, true},   {8, 4, false, true},
                          {4, 8, false, true},   {12, 0, true, false},
                          {8, 0, true, true},    {16 + 12, 32 + 4, false, false}};
    for (const Case &c : cases)
        EXPECT_EQ(h264dec_above_right_allowed(c.x, c.y, c.mbaff), c.allowed) << c.x << "," << c.y;
}

// A 32x32 picture (2x2 macroblocks) of random samples, all blocks available unless marked.
struct Picture
{
    H264DecoderState dec;
    Array2D<uint8_t> pic;
    Array2D<int> modes;
    std::vector<DecoderMacroblock> mbs;
    std::vector<std::array<int, 4>> intraBlock;
    Picture()
    {
        std::mt19937 rng(3);
        pic.Reset(32, 32);
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x)
                pic[y][x] = static_cast<uint8_t>(rng() % 256);
        modes.Reset(9, 9);
        for (int i = 0; i < 9; ++i)
            for (int j = 0; j < 9; ++j)
                modes[i][j] = (i == 0 || j == 0) ? -1 : 2;
        mbs.resize(4);
        intraBlock.assign(4, {1, 1, 1, 1});
        dec.cur_pic_y = &pic;
        dec.img.intra_modes = &modes;
        dec.img.mb_data = &mbs;
        dec.img.intra_block = &intraBlock;
        dec.img.width = dec.img.height = 32;
    }
    void At(int mbx, int mby)
    {
        dec.img.mb_x = mbx;
        dec.img.mb_y = mby;
        dec.img.pix_x = 16 * mbx;
        dec.img.pix_y = 16 * mby;
        dec.img.mb_index = mby * 2 + mbx;
        dec.img.current_mb_nr = dec.img.mb_index;
    }
    Intra4x4Neighbours Gather(int px, int py, bool above, bool left, bool aboveRight)
    {
        Intra4x4Neighbours n;
        for (int k = 0; k < 4; ++k) {
            n.above[k] = above ? pic[py - 1][px + k] : 128;
            n.left[k] = left ? pic[py + k][px - 1] : 128;
        }
        for (int k = 4; k < 8; ++k)
            n.above[k] = !above ? 128 : aboveRight ? pic[py - 1][px + k] : n.above[3];
        n.corner = above && left ? pic[py - 1][px - 1] : 128;
        return n;
    }
    void Expect(int ioff, int joff, int mode, const Intra4x4Neighbours &n, int avail)
    {
        int want[4][4];
        h264dec_pred4x4_kernel(mode, n, avail, want);
        for (int x = 0; x < 4; ++x)
            for (int y = 0; y < 4; ++y)
                ASSERT_EQ(dec.img.pred_block[ioff + x][joff + y], want[x][y]) << x << "," << y;
    }
};

TEST(H264IntraPred, TopLeftBlockPredictsFlat128)
{
    Picture t;
    t.At(0, 0);
    for (int mode : {0, 1, 2, 3, 8}) {
        t.modes[1][1] = mode;
        ASSERT_EQ(h264dec_intra_pred_4x4(t.dec, 0, 0, 0, 0), 0);
        for (int x = 0; x < 4; ++x)
            for (int y = 0; y < 4; ++y)
                EXPECT_EQ(t.dec.img.pred_block[x][y], 128) << "mode " << mode;
    }
}

TEST(H264IntraPred, DecoderGathersNeighboursWithTheAvailabilityRules)
{
    Picture t;
    t.At(1, 1); // macroblock (1, 1): blocks 4..7
    // (12, 4) never uses above-right, (12, 0) does when the block there exists, (0, 0) inside the
    // picture uses the macroblock row above.
    struct Case
    {
        int ioff, joff;
        bool aboveRight;
    };
    for (Case c :
         {Case{12, 4, false}, Case{12, 0, false}, Case{0, 0, true}, Case{4, 0, true}, Case{4, 4, false}}) {
        const int bx = 4 + c.ioff / 4, by = 4 + c.joff / 4;
        // The picture is two macroblocks wide, so block (12, 0) of the right column has no above-right.
        const bool exists = bx + 1 < 8;
        t.modes[bx + 1][by + 1] = 3;
        ASSERT_EQ(h264dec_intra_pred_4x4(t.dec, c.ioff, c.joff, bx, by), 0);
        t.Expect(c.ioff, c.joff, 3, t.Gather(16 + c.ioff, 16 + c.joff, true, true, c.aboveRight && exists),
                 3);
    }
    // A left neighbour marked unavailable reads 128 and the DC averages the row above only.
    t.At(0, 0);
    t.modes[1 + 1][0 + 1] = 2; // block (1, 0)
    t.modes[0 + 1][0 + 1] = -1;
    ASSERT_EQ(h264dec_intra_pred_4x4(t.dec, 4, 0, 1, 0), 0);
    t.Expect(4, 0, 2, t.Gather(4, 0, false, false, false), 0);
    t.modes[2 + 1][1 + 1] = 2; // block (2, 1): left marked missing
    t.modes[1 + 1][1 + 1] = -1;
    ASSERT_EQ(h264dec_intra_pred_4x4(t.dec, 8, 4, 2, 1), 0);
    t.Expect(8, 4, 2, t.Gather(8, 4, true, false, true), 1);
}

TEST(H264IntraPred, IllegalModeShowsOneMessagePerRun)
{
    Picture t;
    zn::MessageRecorder rec;
    t.At(0, 0);
    t.dec.img.pred_block[0][0] = 77;
    t.modes[1][1] = 12;
    EXPECT_EQ(h264dec_intra_pred_4x4(t.dec, 0, 0, 0, 0), 1);
    EXPECT_EQ(h264dec_intra_pred_4x4(t.dec, 0, 0, 0, 0), 1);
    EXPECT_EQ(h264dec_intra_pred_16x16(t.dec, 7), 1);
    EXPECT_EQ(t.dec.img.pred_block[0][0], 77);
    ASSERT_EQ(rec.Count(), 1u);
    EXPECT_TRUE(rec.Contains("Error: illegal prediction mode input: 12\n"));
}

TEST(H264IntraPred, SixteenBySixteenDcFollowsSlicesAndConstrainedIntra)
{
    Picture t;
    t.At(1, 1);
    auto sumAbove = [&] {
        int s = 0;
        for (int k = 0; k < 16; ++k)
            s += t.pic[15][16 + k];
        return s;
    };
    auto sumLeft = [&] {
        int s = 0;
        for (int k = 0; k < 16; ++k)
            s += t.pic[16 + k][15];
        return s;
    };
    struct Case
    {
        int sliceAbove, sliceLeft;
        bool constrained, aboveIntra, leftIntra;
        int want;
    };
    const int both = (sumAbove() + sumLeft() + 16) / 32, above = (sumAbove() + 8) / 16,
              left = (sumLeft() + 8) / 16;
    const Case cases[] = {{0, 0, false, true, true, both},  {0, 1, false, true, true, above},
                          {1, 0, false, true, true, left},  {1, 1, false, true, true, 128},
                          {0, 0, true, false, true, left},  {0, 0, true, true, false, above},
                          {0, 0, false, false, false, both}};
    for (const Case &c : cases) {
        t.mbs[1].slice_number = c.sliceAbove;
        t.mbs[2].slice_number = c.sliceLeft;
        t.mbs[3].slice_number = 0;
        t.dec.img.constrained_intra_pred_flag = c.constrained;
        t.intraBlock[1] = {1, 1, c.aboveIntra, c.aboveIntra};
        t.intraBlock[2] = {1, c.leftIntra, 1, c.leftIntra};
        ASSERT_EQ(h264dec_intra_pred_16x16(t.dec, 2), 0);
        EXPECT_EQ(t.dec.img.pred_block[5][9], c.want);
    }
}

// The kernels the decoder runs equal the per-sample references for every mode, availability and
// neighbour pattern (random, flat extremes, alternating extremes).
TEST(IntraPred, FastKernelsEqualTheReferences)
{
    std::mt19937 rng(31);
    for (int trial = 0; trial < 3000; ++trial) {
        const int pattern = trial % 4;
        auto sample = [&](int k) {
            return pattern == 0   ? static_cast<int>(rng() % 256)
                   : pattern == 1 ? 0
                   : pattern == 2 ? 255
                                  : (k % 2) * 255;
        };
        Intra4x4Neighbours n;
        for (int k = 0; k < 8; ++k)
            n.above[k] = sample(k);
        for (int k = 0; k < 4; ++k)
            n.left[k] = sample(k + 1);
        n.corner = sample(3);
        for (int mode = -1; mode <= 9; ++mode)
            for (int avail = 0; avail < 4; ++avail) {
                int a[4][4] = {}, b[4][4] = {};
                ASSERT_EQ(h264dec_pred4x4_kernel(mode, n, avail, a),
                          h264dec_pred4x4_reference(mode, n, avail, b));
                for (int x = 0; x < 4; ++x)
                    for (int y = 0; y < 4; ++y)
                        ASSERT_EQ(a[x][y], b[x][y]) << "mode " << mode << " trial " << trial;
            }
        Intra16x16Neighbours m;
        for (int k = 0; k < 16; ++k) {
            m.above[k] = sample(k);
            m.left[k] = sample(15 - k);
        }
        m.corner = sample(7);
        m.above_ok = trial % 3 != 0;
        m.left_ok = trial % 5 != 0;
        for (int mode = -1; mode <= 4; ++mode) {
            int a[16][16] = {}, b[16][16] = {};
            ASSERT_EQ(h264dec_pred16x16_kernel(mode, m, a), h264dec_pred16x16_reference(mode, m, b));
            for (int x = 0; x < 16; ++x)
                for (int y = 0; y < 16; ++y)
                    ASSERT_EQ(a[x][y], b[x][y]) << "16x16 mode " << mode << " trial " << trial;
        }
    }
}

} // namespace

} // namespace intra_pred_test
