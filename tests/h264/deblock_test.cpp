// Deblocking: the published alpha/beta/tC0 tables (typed here from the standard), the filter of one
// edge against the standard's equations with this filter's unrounded (p0 + q0) >> 1, the decoder's
// filter against its sample-by-sample reference, the strength rules and whole-macroblock cases.
#include "h264dec/deblock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <vector>

namespace deblock_test { // one namespace per test file: a folder compiles as one source

namespace {

TEST(H264Deblock, TablesEqualThePublishedOnes)
{
    const int alpha[36] = {4,  4,  5,  6,  7,  8,  9,  10, 12,  13,  15,  17,  20,  22,  25,  28,  32,  36,
                           40, 45, 50, 56, 63, 71, 80, 90, 101, 113, 127, 144, 162, 182, 203, 226, 255, 255};
    const int beta[36] = {2,  2,  2,  3,  3,  3,  3,  4,  4,  4,  6,  6,  7,  7,  8,  8,  9,  9,
                          10, 10, 11, 11, 12, 12, 13, 13, 14, 14, 15, 15, 16, 16, 17, 17, 18, 18};
    // tC0 for bS 1, 2, 3 from indexA 17 on (0 below).
    const int tc0[35][3] = {{0, 0, 1},   {0, 0, 1},   {0, 0, 1},    {0, 0, 1},    {0, 1, 1},   {0, 1, 1},
                            {1, 1, 1},   {1, 1, 1},   {1, 1, 1},    {1, 1, 1},    {1, 1, 2},   {1, 1, 2},
                            {1, 1, 2},   {1, 1, 2},   {1, 2, 3},    {1, 2, 3},    {2, 2, 3},   {2, 2, 4},
                            {2, 3, 4},   {2, 3, 4},   {3, 3, 5},    {3, 4, 6},    {3, 4, 6},   {4, 5, 7},
                            {4, 5, 8},   {4, 6, 9},   {5, 7, 10},   {6, 8, 11},   {6, 8, 13},  {7, 10, 14},
                            {8, 11, 16}, {9, 12, 18}, {10, 13, 20}, {11, 15, 23}, {13, 17, 25}};
    for (int i = 0; i < 52; ++i) {
        EXPECT_EQ(kDeblockAlpha[i], i < 16 ? 0 : alpha[i - 16]) << i;
        EXPECT_EQ(kDeblockBeta[i], i < 16 ? 0 : beta[i - 16]) << i;
        EXPECT_EQ(kDeblockClip[i][0], 0);
        for (int s = 1; s <= 3; ++s)
            EXPECT_EQ(kDeblockClip[i][s], i < 17 ? 0 : tc0[i - 17][s - 1]) << i << " bS " << s;
        EXPECT_EQ(kDeblockClip[i][4], kDeblockClip[i][3]);
    }
}

// One line p[0..3] (p0 nearest the edge), q[0..3] filtered by the standard's equations.
void StandardLine(int p[4], int q[4], int bS, int indexA, int indexB, bool chroma)
{
    const int alpha = kDeblockAlpha[indexA], beta = kDeblockBeta[indexB];
    if (!(bS > 0 && std::abs(p[0] - q[0]) < alpha && std::abs(p[1] - p[0]) < beta &&
          std::abs(q[1] - q[0]) < beta))
        return;
    const int ap = std::abs(p[2] - p[0]), aq = std::abs(q[2] - q[0]);
    int np[3] = {p[0], p[1], p[2]}, nq[3] = {q[0], q[1], q[2]};
    if (bS < 4) {
        const int tc0 = kDeblockClip[indexA][bS];
        const int tc = chroma ? tc0 + 1 : tc0 + (ap < beta) + (aq < beta);
        const int delta = std::clamp(((q[0] - p[0]) * 4 + (p[1] - q[1]) + 4) >> 3, -tc, tc);
        np[0] = std::clamp(p[0] + delta, 0, 255);
        nq[0] = std::clamp(q[0] - delta, 0, 255);
        if (!chroma && ap < beta)
            np[1] = p[1] + std::clamp((p[2] + ((p[0] + q[0]) >> 1) - (p[1] << 1)) >> 1, -tc0, tc0);
        if (!chroma && aq < beta)
            nq[1] = q[1] + std::clamp((q[2] + ((p[0] + q[0]) >> 1) - (q[1] << 1)) >> 1, -tc0, tc0);
    } else {
        const bool strongP = !chroma && ap < beta && std::abs(p[0] - q[0]) < ((alpha >> 2) + 2);
        const bool strongQ = !chroma && aq < beta && std::abs(p[0] - q[0]) < ((alpha >> 2) + 2);
        if (strongP) {
            np[0] = (p[2] + 2 * p[1] + 2 * p[0] + 2 * q[0] + q[1] + 4) >> 3;
            np[1] = (p[2] + p[1] + p[0] + q[0] + 2) >> 2;
            np[2] = (2 * p[3] + 3 * p[2] + p[1] + p[0] + q[0] + 4) >> 3;
        } else {
            np[0] = (2 * p[1] + p[0] + q[1] + 2) >> 2;
        }
        if (strongQ) {
            nq[0] = (p[1] + 2 * p[0] + 2 * q[0] + 2 * q[1] + q[2] + 4) >> 3;
            nq[1] = (p[0] + q[0] + q[1] + q[2] + 2) >> 2;
            nq[2] = (2 * q[3] + 3 * q[2] + q[1] + q[0] + p[0] + 4) >> 3;
        } else {
            nq[0] = (2 * q[1] + q[0] + p[1] + 2) >> 2;
        }
    }
    for (int k = 0; k < 3; ++k) {
        p[k] = np[k];
        q[k] = nq[k];
    }
}

TEST(H264Deblock, EdgeFilterMatchesTheEquationsAndItsReference)
{
    std::mt19937 rng(21);
    int filteredLines = 0;
    for (int t = 0; t < 4000; ++t) {
        const bool chroma = t % 3 == 0;
        const int dir = (t / 3) % 2;
        const int noise = 1 + static_cast<int>(rng() % (t % 5 == 0 ? 40 : 6));
        const int step = static_cast<int>(rng() % 40) - 20;
        const int base = t % 11 == 0 ? (t % 2 ? 2 : 253) : 30 + static_cast<int>(rng() % 190);
        Array2D<uint8_t> a;
        a.Reset(32, 32);
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x) {
                const bool qSide = dir == 0 ? x >= 8 : y >= 8;
                const int v =
                    base + (qSide ? step : 0) + static_cast<int>(rng() % static_cast<unsigned>(noise));
                a[y][x] = static_cast<uint8_t>(std::clamp(v, 0, 255));
            }
        int strength[4];
        for (int &s : strength)
            s = static_cast<int>(rng() % 5);
        if (t % 7 == 0)
            std::fill(std::begin(strength), std::end(strength), 4);
        const int qp = static_cast<int>(rng() % 52);
        const int ao = 2 * (static_cast<int>(rng() % 13) - 6), bo = 2 * (static_cast<int>(rng() % 13) - 6);
        Array2D<uint8_t> fast, ref;
        fast.Reset(32, 32);
        ref.Reset(32, 32);
        std::copy(a.Data(), a.Data() + 32 * 32, fast.Data());
        std::copy(a.Data(), a.Data() + 32 * 32, ref.Data());
        dec_edge_filter(&fast[8][8], strength, qp, ao, bo, dir, 32, chroma);
        dec_edge_filter_reference(&ref[8][8], strength, qp, ao, bo, dir, 32, chroma);
        ASSERT_TRUE(std::equal(fast.Data(), fast.Data() + 32 * 32, ref.Data())) << t;

        const int indexA = std::clamp(qp + ao, 0, 51), indexB = std::clamp(qp + bo, 0, 51);
        const int n = chroma ? 8 : 16;
        for (int line = 0; line < n; ++line) {
            auto at = [&](Array2D<uint8_t> &img, int k) -> uint8_t & {
                return dir == 0 ? img[8 + line][8 + k] : img[8 + k][8 + line];
            };
            int p[4], q[4];
            for (int k = 0; k < 4; ++k) {
                p[k] = at(a, -1 - k);
                q[k] = at(a, k);
            }
            StandardLine(p, q, strength[chroma ? line / 2 : line / 4], indexA, indexB, chroma);
            for (int k = 0; k < 4; ++k) {
                ASSERT_EQ(at(fast, -1 - k), p[k]) << t << " line " << line;
                ASSERT_EQ(at(fast, k), q[k]) << t << " line " << line;
                filteredLines += at(fast, k) != at(a, k);
            }
        }
        // Nothing beyond the lines of the edge moves.
        const int other = dir == 0 ? a[30][8] : a[8][30];
        ASSERT_EQ(dir == 0 ? fast[30][8] : fast[8][30], other);
    }
    EXPECT_GT(filteredLines, 5000);
}

TEST(H264Deblock, IndexABelowSixteenFiltersNothing)
{
    Array2D<uint8_t> a;
    a.Reset(16, 16);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            a[y][x] = x < 8 ? 100 : 103;
    const int strength[4] = {4, 4, 4, 4};
    dec_edge_filter(&a[0][8], strength, 20, -6, 0, 0, 16, false); // indexA 14
    dec_edge_filter(&a[0][8], strength, 15, 0, 12, 0, 16, false); // indexA 15
    EXPECT_EQ(a[3][7], 100);
    EXPECT_EQ(a[3][8], 103);
    dec_edge_filter(&a[0][8], strength, 16, 0, 0, 0, 16, false); // indexA 16: alpha 4
    EXPECT_NE(a[3][7], 100);
}

// A picture of mbw x mbh macroblocks (one row unless said) with per-4x4-block motion arrays, all P
// inter with no residual.
struct MbRow
{
    DecoderImage img;
    std::vector<DecoderMacroblock> mbs;
    Array3D<int> mv, fwdMv, bwdMv;
    Array2D<int> ref, fwdRef, bwdRef;
    Array2D<uint8_t> y;
    Array3D<uint8_t> uv;
    explicit MbRow(int mbw, int mbh = 1)
    {
        img.width = 16 * mbw;
        img.height = 16 * mbh;
        img.width_cr = 8 * mbw;
        img.height_cr = 8 * mbh;
        img.type = kPictureP;
        mbs.resize(static_cast<size_t>(mbw * mbh));
        for (auto &m : mbs) {
            m.mb_type = kMb16x16;
            m.qp = 30;
        }
        mv.Reset(4 * mbw + 4, 4 * mbh, 3);
        fwdMv.Reset(4 * mbw + 4, 4 * mbh, 3);
        bwdMv.Reset(4 * mbw + 4, 4 * mbh, 3);
        ref.Reset(4 * mbh, 4 * mbw);
        fwdRef.Reset(4 * mbh, 4 * mbw);
        bwdRef.Reset(4 * mbh, 4 * mbw);
        img.mb_data = &mbs;
        img.mv = &mv;
        img.fwd_mv = &fwdMv;
        img.bwd_mv = &bwdMv;
        img.ref_idx_arr = &ref;
        img.fwd_ref = &fwdRef;
        img.bwd_ref = &bwdRef;
        y.Reset(16 * mbh, 16 * mbw);
        uv.Reset(2, 8 * mbh, 8 * mbw);
    }
    void Fill(int left, int right)
    {
        for (int r = 0; r < 16; ++r)
            for (int c = 0; c < y.Cols(); ++c)
                y[r][c] = static_cast<uint8_t>(c < 16 ? left : right);
    }
};

TEST(H264Deblock, StrengthRules)
{
    MbRow m(2);
    int s[4];
    DecoderMacroblock &p = m.mbs[0], &q = m.mbs[1];
    // Inter, no residual, equal motion: 0 everywhere.
    dec_edge_strength(s, m.img, p, q, 0, 0, 0, 4);
    EXPECT_EQ(s[0] + s[1] + s[2] + s[3], 0);
    // Vectors (0, 0) against (3, 0) stay 0; (4, 0) gives 1; a vertical difference of 4 too.
    m.mv[4 + 4][1][0] = 3;
    m.mv[4 + 4][2][0] = 4;
    m.mv[4 + 4][3][1] = -4;
    dec_edge_strength(s, m.img, p, q, 0, 0, 0, 4);
    EXPECT_EQ(s[0], 0);
    EXPECT_EQ(s[1], 0);
    EXPECT_EQ(s[2], 1);
    EXPECT_EQ(s[3], 1);
    // Different reference index: 1.
    m.ref[0][4] = 1;
    dec_edge_strength(s, m.img, p, q, 0, 0, 0, 4);
    EXPECT_EQ(s[0], 1);
    // Coded residual in block Q (row 1, column 0) or in the P block across (row 3, column 3 of p,
    // horizontal edge inside q uses q itself): 2.
    q.cbp_blocks = 1 << 4;
    dec_edge_strength(s, m.img, p, q, 0, 0, 0, 4);
    EXPECT_EQ(s[1], 2);
    q.cbp_blocks = 0;
    p.cbp_blocks = 1 << (4 * 2 + 3);
    dec_edge_strength(s, m.img, p, q, 0, 0, 0, 4);
    EXPECT_EQ(s[2], 2);
    // Intra on either side: 4 on the macroblock edge, 3 inside, whatever the slices.
    p.mb_type = kMbIntra4x4;
    p.slice_number = 0;
    q.slice_number = 1;
    dec_edge_strength(s, m.img, p, q, 0, 0, 0, 4);
    EXPECT_EQ(s[0], 4);
    EXPECT_EQ(s[3], 4);
    dec_edge_strength(s, m.img, p, p, 1, 2, 0, 0);
    EXPECT_EQ(s[1], 3);
    // SP: the start values whatever the types.
    p.mb_type = kMb16x16;
    p.cbp_blocks = 0;
    m.img.type = kPictureSP;
    dec_edge_strength(s, m.img, p, q, 0, 0, 0, 4);
    EXPECT_EQ(s[0], 4);
    dec_edge_strength(s, m.img, q, q, 0, 1, 0, 4);
    EXPECT_EQ(s[0], 3);
    EXPECT_EQ(s[3], 3);
    // B: backward vectors and references count as well.
    m.img.type = kPictureB;
    dec_edge_strength(s, m.img, q, q, 0, 1, 0, 4);
    EXPECT_EQ(s[0] + s[1] + s[2] + s[3], 0);
    m.bwdMv[4 + 5][0][0] = 4;
    m.bwdRef[3][5] = 2;
    dec_edge_strength(s, m.img, q, q, 0, 1, 0, 4);
    EXPECT_EQ(s[0], 1);
    EXPECT_EQ(s[3], 1);
    EXPECT_EQ(s[1], 0);
}

TEST(H264Deblock, MacroblockAveragesQpWithoutRoundingAndHonoursIdc)
{
    // |p0 - q0| = 18: alpha is 17 at qp 27 and 20 at qp 28, so the left macroblock edge is filtered at
    // qp 28 only. Intra gives strength 4.
    struct Case
    {
        int qpP, qpQ, idcQ;
        bool filtered;
    };
    for (const Case c :
         {Case{27, 28, 0, false}, Case{28, 29, 0, true}, Case{28, 28, 0, true}, Case{28, 28, 1, false}}) {
        MbRow m(2);
        m.Fill(100, 118);
        m.mbs[0].qp = c.qpP;
        m.mbs[1].qp = c.qpQ;
        m.mbs[1].filter_disable_idc = c.idcQ;
        m.mbs[0].mb_type = m.mbs[1].mb_type = kMbIntra16x16;
        dec_deblock_picture(m.img, m.y, &m.uv);
        EXPECT_EQ(m.y[5][15] != 100, c.filtered) << c.qpP << "/" << c.qpQ;
        EXPECT_EQ(m.y[5][16] != 118, c.filtered);
    }
    // The strong filter of a flat step, checked by formula on one line (bS 4, alpha at qp 40 = 63,
    // beta 13: p1 - p0 = 0, |p0 - q0| = 10 < 63 / 4 + 2).
    MbRow m(2);
    m.Fill(100, 110);
    m.mbs[0].qp = m.mbs[1].qp = 40;
    m.mbs[0].mb_type = kMbIntra4x4;
    dec_deblock_picture(m.img, m.y, &m.uv);
    EXPECT_EQ(m.y[7][15], (110 + 2 * 100 + 2 * 100 + 2 * 110 + 100 + 4) >> 3);
    EXPECT_EQ(m.y[7][14], (100 + 100 + 100 + 110 + 2) >> 2);
    EXPECT_EQ(m.y[7][13], (2 * 100 + 3 * 100 + 100 + 100 + 110 + 4) >> 3);
    EXPECT_EQ(m.y[7][16], (100 + 2 * 100 + 2 * 110 + 2 * 110 + 110 + 4) >> 3);
}

TEST(H264Deblock, DisabledMacroblockKeepsItsEdgesWhileItsNeighbourIsFiltered)
{
    MbRow m(3);
    // A step at every 4-sample boundary so that every edge with strength 3 or 4 moves.
    for (int r = 0; r < 16; ++r)
        for (int c = 0; c < 48; ++c)
            m.y[r][c] = static_cast<uint8_t>(100 + 6 * ((c / 4) % 2));
    for (auto &mb : m.mbs)
        mb.mb_type = kMbIntra4x4;
    m.mbs[1].filter_disable_idc = 1;
    Array2D<uint8_t> before;
    before.Reset(16, 48);
    std::copy(m.y.Data(), m.y.Data() + 16 * 48, before.Data());
    dec_deblock_picture(m.img, m.y, &m.uv);
    // The middle macroblock (16..31) apart from what its neighbours' edges at 12 and 32 reach.
    for (int c = 15; c < 29; ++c)
        EXPECT_EQ(m.y[6][c], before[6][c]) << c;
    EXPECT_NE(m.y[6][4], before[6][4]);   // inner edge of the first macroblock
    EXPECT_NE(m.y[6][32], before[6][32]); // the third macroblock's left edge, into the middle one
    EXPECT_NE(m.y[6][31], before[6][31]) << "the P side belongs to the edge of the filtered macroblock";
}

TEST(H264Deblock, ChromaUsesTheTableOfTheAveragedQpAndTwoSamplesPerStrength)
{
    MbRow m(2);
    m.Fill(100, 100);
    for (int c = 0; c < 2; ++c)
        for (int r = 0; r < 8; ++r)
            for (int x = 0; x < 16; ++x)
                m.uv[c][r][x] = static_cast<uint8_t>(x < 8 ? 100 : 104);
    m.mbs[0].mb_type = kMbIntra4x4;
    m.mbs[0].qp = m.mbs[1].qp = 40;
    dec_deblock_picture(m.img, m.y, &m.uv);
    // bS 4 chroma: p0' = (2 p1 + p0 + q1 + 2) >> 2.
    EXPECT_EQ(m.uv[0][3][7], (200 + 100 + 104 + 2) >> 2);
    EXPECT_EQ(m.uv[1][3][8], (208 + 104 + 100 + 2) >> 2);
    EXPECT_EQ(m.uv[0][3][6], 100);
}

// The per-macroblock strengths the decoder runs equal dec_edge_strength edge by edge, on random
// pictures of 3 x 3 macroblocks: intra and inter types, coded blocks, vectors near the threshold of 4,
// differing references, macroblocks of one motion and of many, in P, B, SP and SI pictures, at the
// picture's borders and inside.
TEST(H264Deblock, MacroblockStrengthsEqualTheEdgeRule)
{
    constexpr int kMbs = 3, kBlocks = 4 * kMbs;
    std::mt19937 rng(5);
    auto rnd = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    for (int t = 0; t < 300; ++t) {
        MbRow m(kMbs, kMbs);
        DecoderImage &img = m.img;
        std::vector<DecoderMacroblock> &mbs = m.mbs;
        const int types[] = {kPictureP, kPictureB, kPictureSP, kPictureSI, kPictureI};
        img.type = types[t % 5];
        for (auto &mb : mbs) {
            const int kinds[] = {kMb16x16, kMb8x8, kMbSkipOrDirect, kMbIntra4x4, kMbIntra16x16};
            mb.mb_type = kinds[rnd(t % 3 == 0 ? 5 : 3)];
            mb.cbp_blocks = rnd(4) == 0 ? rnd(1 << 16) : 0;
        }
        for (Array3D<int> *a : {&m.mv, &m.fwdMv, &m.bwdMv})
            for (int x = 0; x < kBlocks + 4; ++x)
                for (int y = 0; y < kBlocks; ++y)
                    for (int k = 0; k < 2; ++k)
                        (*a)[x][y][k] = rnd(t % 2 ? 3 : 60) == 0 ? rnd(11) - 5 : 0;
        for (Array2D<int> *a : {&m.ref, &m.fwdRef, &m.bwdRef})
            for (int y = 0; y < kBlocks; ++y)
                for (int x = 0; x < kBlocks; ++x)
                    (*a)[y][x] = rnd(t % 2 ? 5 : 60) == 0 ? rnd(3) - 1 : 0;
        for (int my = 0; my < kMbs; ++my)
            for (int mx = 0; mx < kMbs; ++mx) {
                int all[2][4][4];
                dec_macroblock_strengths(all, img, my, mx);
                const DecoderMacroblock &q = mbs[static_cast<size_t>(my * kMbs + mx)];
                for (int dir = 0; dir < 2; ++dir)
                    for (int edge = 0; edge < 4; ++edge) {
                        int one[4] = {0, 0, 0, 0};
                        if (edge != 0 || (dir == 0 ? mx > 0 : my > 0)) {
                            const DecoderMacroblock &p =
                                edge != 0 ? q
                                          : mbs[static_cast<size_t>(dir == 0 ? my * kMbs + mx - 1
                                                                             : (my - 1) * kMbs + mx)];
                            dec_edge_strength(one, img, p, q, dir, edge, 4 * my, 4 * mx);
                        }
                        for (int i = 0; i < 4; ++i)
                            ASSERT_EQ(all[dir][edge][i], one[i]) << "trial " << t << " mb " << mx << "," << my
                                                                 << " dir " << dir << " edge " << edge;
                    }
            }
    }
}

} // namespace

} // namespace deblock_test
