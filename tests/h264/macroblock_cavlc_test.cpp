// The macroblock layer on hand-built CAVLC slices: intra and inter types, intra modes with their
// prediction, skip runs, partitions and vectors against predictors worked out here, reference indices,
// coefficients with their dequantisation, and random residual blocks read back through the readers.
#include "h264/support/mb_writer.h"
#include "h264dec/macroblock.h"
#include "h264dec/nal_dispatch.h"
#include "platform/messages.h"

#include <gtest/gtest.h>

#include <random>

namespace macroblock_cavlc_test { // one namespace per test file: a folder compiles as one source

namespace {

using namespace h264test;

// Level scale of position (x, y) at qp mod 6, from the published pattern.
int Scale(int rem, int x, int y)
{
    static const int v[6][3] = {{10, 13, 16}, {11, 14, 18}, {13, 16, 20},
                                {14, 18, 23}, {16, 20, 25}, {18, 23, 29}};
    return x % 2 == 0 && y % 2 == 0 ? v[rem][0] : x % 2 == 1 && y % 2 == 1 ? v[rem][2] : v[rem][1];
}

// Scan position -> (column, row) of the frame zig-zag scan.
const int kZigZag[16][2] = {{0, 0}, {1, 0}, {0, 1}, {0, 2}, {1, 1}, {2, 0}, {3, 0}, {2, 1},
                            {1, 2}, {0, 3}, {1, 3}, {2, 2}, {3, 1}, {3, 2}, {2, 3}, {3, 3}};

int CbpCode(int cbp, bool intra)
{
    for (int k = 0; k < 48; ++k)
        if (kCodedBlockPattern[k][intra ? 0 : 1] == cbp)
            return k;
    return -1;
}

struct Picture
{
    SPS sps;
    PPS pps;
    std::vector<uint8_t> stream;
    Picture(int wmbs, int hmbs) : sps(DefaultSps(wmbs, hmbs)), pps(DefaultPps())
    {
        Append(stream, NalUnit(3, NALU_TYPE_SPS, SpsRbsp(sps)));
        Append(stream, NalUnit(3, NALU_TYPE_PPS, PpsRbsp(pps)));
    }
    // A slice: header, then the macroblock bits the callback writes, then the trailing bits.
    template <class F> void Slice(SliceHeaderFields h, bool idr, F body)
    {
        BitWriter w;
        WriteSliceHeader(w, h, sps, pps, idr);
        body(w);
        w.trailing();
        Append(stream, NalUnit(1, idr ? NALU_TYPE_IDR : NALU_TYPE_SLICE, w.Bytes()));
    }
};

struct Decoded
{
    std::unique_ptr<H264DecoderState> dec = std::make_unique<H264DecoderState>();
    SliceWalkResult result;
    bool failed = false;
    std::string message;
    DecoderMacroblock &Mb(int i) { return (*dec->img.mb_data)[static_cast<size_t>(i)]; }
};

Decoded Decode(const std::vector<uint8_t> &stream)
{
    zn::MessageRecorder recorder;
    Decoded d;
    h264dec_open_memory(*d.dec, stream);
    try {
        d.result = WalkSlices(*d.dec);
    } catch (const zn::RunAborted &e) {
        d.failed = true;
        d.message = e.what();
    }
    return d;
}

// Writes mb_type and the rest of an intra 16x16 macroblock whose only coefficients are a luma DC
// level list and, when chroma is 1 or 2, a chroma DC block per plane.
void IntraModes4x4(BitWriter &w, const int codes[16])
{
    for (int k = 0; k < 16; ++k) {
        if (codes[k] < 0) {
            w.u(1, 1);
        } else {
            w.u(1, 0);
            w.u(3, static_cast<uint32_t>(codes[k]));
        }
    }
}

TEST(MacroblockCavlc, IntraSliceModesAndCoefficients)
{
    Picture p(2, 1);
    SliceHeaderFields h;
    h.slice_type = 7;
    const int codes[16] = {-1, 3, 7, -1, 0, 1, -1, 2, 5, -1, -1, 6, 4, 0, -1, 1};
    int dc[16] = {};
    dc[0] = 5;
    dc[3] = -2;
    int blk[16] = {};
    blk[0] = 3;
    blk[1] = -1;
    blk[5] = 1;
    p.Slice(h, true, [&](BitWriter &w) {
        // Macroblock 0: intra 16x16, prediction mode 2, no AC, chroma pattern 0: type 1 + 2.
        w.ue(3);
        w.ue(1); // chroma mode horizontal
        w.se(0); // mb_qp_delta, always there for intra 16x16
        WriteCavlcBlock(w, dc, 16, 0);
        // Macroblock 1: intra 4x4, modes, chroma plane mode, pattern 1 (upper-left quadrant).
        w.ue(0);
        IntraModes4x4(w, codes);
        w.ue(3);
        w.ue(static_cast<uint32_t>(CbpCode(1, true)));
        w.se(-2);
        // Quadrant 0, its four blocks: block (0,0) has coefficients, the others none. The left
        // neighbour of (0,0) is macroblock 0's block (3,0), whose count is 0 (no AC read).
        WriteCavlcBlock(w, blk, 16, 0);
        WriteCavlcBlock(w, std::array<int, 16>{}.data(), 16, 1); // (1,0): nC = (3 + 0) / 2 = 1
        WriteCavlcBlock(w, std::array<int, 16>{}.data(), 16, 1); // (0,1): above 3, left 0
        WriteCavlcBlock(w, std::array<int, 16>{}.data(), 16, 0);
    });
    Decoded d = Decode(p.stream);
    ASSERT_FALSE(d.failed) << d.message;
    EXPECT_EQ(d.result.macroblocks, 2);
    DecoderImage &img = d.dec->img;
    DecoderMacroblock &m0 = d.Mb(0), &m1 = d.Mb(1);
    EXPECT_EQ(m0.mb_type, kMbIntra16x16);
    EXPECT_EQ(m0.i16_pred_mode, 2);
    EXPECT_EQ(m0.coded_block_pattern, 0);
    EXPECT_EQ(m0.chroma_pred_mode, 1);
    EXPECT_EQ(m1.mb_type, kMbIntra4x4);
    EXPECT_EQ(m1.chroma_pred_mode, 3);
    EXPECT_EQ(m1.coded_block_pattern, 1);
    EXPECT_EQ(m1.qp, 24);
    EXPECT_EQ(m1.qp_delta, -2);
    EXPECT_EQ(m1.cbp_blocks, 1);
    // The modes by the prediction rule: predicted = min(up, left), 2 when either is outside; a code
    // at or above it skips it.
    int modes[6][5]; // [column + 1][row + 1] of macroblock 1, border column = macroblock 0 (all 2)
    for (auto &c : modes)
        for (int &v : c)
            v = -1;
    for (int r = 0; r < 4; ++r)
        modes[0][r + 1] = 2;
    for (int q = 0, k = 0; q < 4; ++q)
        for (int b = 0; b < 4; ++b, ++k) {
            const int x = 2 * (q % 2) + b % 2, y = 2 * (q / 2) + b / 2;
            const int up = modes[x + 1][y], left = modes[x][y + 1];
            const int pred = up < 0 || left < 0 ? 2 : std::min(up, left);
            const int c = codes[k];
            modes[x + 1][y + 1] = c < 0 ? pred : c >= pred ? c + 1 : c;
        }
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ((*img.intra_modes)[4 + x + 1][y + 1], modes[x + 1][y + 1]) << x << "," << y;
    // Coefficients of block (0,0) of macroblock 1 at qp 24: level x scale << 4.
    for (int k = 0; k < 16; ++k) {
        const int x = kZigZag[k][0], y = kZigZag[k][1];
        EXPECT_EQ(img.coef[0][0][x][y], (blk[k] * Scale(0, x, y)) << 4) << k;
    }
    EXPECT_EQ((*img.nzcoeff)[1][0][0][0], 3);
    EXPECT_EQ((*img.nzcoeff)[1][0][1][0], 0);
    EXPECT_EQ((*img.nzcoeff)[1][0][3][3], 0);
    EXPECT_EQ((*img.nzcoeff)[1][0][0][4], 0);
}

TEST(MacroblockCavlc, IntraSixteenEveryChromaModeAndPattern)
{
    for (int chroma = 0; chroma < 3; ++chroma)
        for (int mode = 0; mode < 4; ++mode) {
            Picture p(1, 1);
            SliceHeaderFields h;
            h.slice_type = 2;
            h.slice_qp_delta = 4; // qp 30: chroma quantiser 29
            int dc[16] = {};
            dc[0] = 1;
            int cdc[4] = {4, 0, 0, 0};
            p.Slice(h, true, [&](BitWriter &w) {
                w.ue(static_cast<uint32_t>(1 + mode + 4 * chroma));
                w.ue(static_cast<uint32_t>(mode));
                w.se(0);
                WriteCavlcBlock(w, dc, 16, 0);
                if (chroma > 0) {
                    WriteCavlcBlock(w, cdc, 4, -1);
                    WriteCavlcBlock(w, std::array<int, 4>{}.data(), 4, -1);
                }
                if (chroma == 2)
                    for (int k = 0; k < 8; ++k)
                        WriteCavlcBlock(w, std::array<int, 16>{}.data(), 15, 0);
            });
            Decoded d = Decode(p.stream);
            ASSERT_FALSE(d.failed) << d.message;
            DecoderMacroblock &m = d.Mb(0);
            EXPECT_EQ(m.mb_type, kMbIntra16x16);
            EXPECT_EQ(m.chroma_pred_mode, mode);
            EXPECT_EQ(m.i16_pred_mode, mode);
            EXPECT_EQ(m.coded_block_pattern, 16 * chroma);
            DecoderImage &img = d.dec->img;
            EXPECT_EQ(img.coef[0][0][0][0], 1);       // luma DC level, not dequantised
            const int dcValue = chroma > 0 ? 576 : 0; // (4 x 18 << 4) >> 1
            EXPECT_EQ(img.coef[0][4][0][0], dcValue);
            EXPECT_EQ(img.coef[1][4][0][0], dcValue);
            EXPECT_EQ(img.coef[0][5][0][0], dcValue);
            EXPECT_EQ(img.coef[1][5][0][0], dcValue);
            EXPECT_EQ(img.coef[2][4][0][0], 0);
            EXPECT_EQ(m.cbp_blocks >> 16, chroma > 0 ? 0xF : 0);
        }
}

TEST(MacroblockCavlc, IllegalChromaModeEndsTheRun)
{
    Picture p(1, 1);
    SliceHeaderFields h;
    h.slice_type = 2;
    p.Slice(h, true, [&](BitWriter &w) {
        w.ue(1);
        w.ue(4);
        w.se(0);
        w.u(1, 1);
    });
    Decoded d = Decode(p.stream);
    EXPECT_TRUE(d.failed);
    EXPECT_NE(d.message.find("illegal chroma intra pred mode"), std::string::npos);
}

TEST(MacroblockCavlc, TypesBeyondTheTablesEndTheRun)
{
    struct Case
    {
        int slice_type, value;
        bool ok;
    };
    const Case cases[] = {{2, 24, true}, {2, 25, false}, {0, 29, true}, {0, 30, false}};
    for (const Case &c : cases) {
        Picture p(1, 1);
        SliceHeaderFields h;
        h.slice_type = c.slice_type;
        p.Slice(h, c.slice_type == 2, [&](BitWriter &w) {
            if (c.slice_type == 0)
                w.ue(0); // no skip run
            w.ue(static_cast<uint32_t>(c.value));
            w.ue(0);
            w.se(0);
            // Intra 16x16 with pattern 47: DC, sixteen AC blocks, two chroma DC blocks, eight AC.
            WriteCavlcBlock(w, std::array<int, 16>{}.data(), 16, 0);
            for (int k = 0; k < 16; ++k)
                WriteCavlcBlock(w, std::array<int, 16>{}.data(), 15, 0);
            for (int k = 0; k < 2; ++k)
                WriteCavlcBlock(w, std::array<int, 4>{}.data(), 4, -1);
            for (int k = 0; k < 8; ++k)
                WriteCavlcBlock(w, std::array<int, 16>{}.data(), 15, 0);
        });
        Decoded d = Decode(p.stream);
        EXPECT_EQ(d.failed, !c.ok) << c.slice_type << "/" << c.value << " " << d.message;
        if (!c.ok) {
            EXPECT_NE(d.message.find("beyond the table"), std::string::npos);
        }
    }
}

TEST(MacroblockCavlc, SixteenByEightLowerPartitionTakesTheLeftVector)
{
    Picture p(2, 1);
    SliceHeaderFields h;
    h.slice_type = 5;
    p.Slice(h, false, [&](BitWriter &w) {
        w.ue(0); // no skip
        w.ue(1); // 16x8
        w.se(8); // upper: nothing around, prediction (0, 0)
        w.se(8);
        w.se(-8); // lower: only the upper partition is around, prediction (8, 8)
        w.se(-8);
        w.ue(static_cast<uint32_t>(CbpCode(0, false)));
        w.ue(0);
        w.ue(1);
        w.se(-4); // upper: only the left block shares the reference: (8, 8) -> (4, 4)
        w.se(-4);
        w.se(1); // lower: A (0,0), B (4,4), C from D (8,8): median (4,4), but A wins -> (1, 2)
        w.se(2);
        w.ue(static_cast<uint32_t>(CbpCode(0, false)));
    });
    Decoded d = Decode(p.stream);
    ASSERT_FALSE(d.failed) << d.message;
    Array3D<int> &mv = *d.dec->img.mv;
    auto at = [&mv](int x, int y) { return std::make_pair(mv[x + 4][y][0], mv[x + 4][y][1]); };
    EXPECT_EQ(at(0, 0), std::make_pair(8, 8));
    EXPECT_EQ(at(3, 1), std::make_pair(8, 8));
    EXPECT_EQ(at(0, 2), std::make_pair(0, 0));
    EXPECT_EQ(at(4, 0), std::make_pair(4, 4));
    EXPECT_EQ(at(7, 1), std::make_pair(4, 4));
    EXPECT_EQ(at(4, 2), std::make_pair(1, 2));
    EXPECT_EQ(at(7, 3), std::make_pair(1, 2));
    EXPECT_EQ(d.Mb(1).mvd[0][2][0][0], 1);
    EXPECT_EQ(d.Mb(1).mvd[0][3][3][1], 2);
    EXPECT_EQ(d.Mb(1).mb_type, kMb16x8);
}

TEST(MacroblockCavlc, SkipRunsAndTheSkippedVector)
{
    Picture p(3, 2);
    SliceHeaderFields h;
    h.slice_type = 0;
    p.Slice(h, false, [&](BitWriter &w) {
        w.ue(2); // macroblocks 0 and 1 skipped
        w.ue(0); // 2: 16x16, prediction from the skipped left block (0, 0)
        w.se(4);
        w.se(0);
        w.ue(static_cast<uint32_t>(CbpCode(0, false)));
        w.ue(1); // 3 skipped: no left neighbour, so (0, 0)
        w.ue(0); // 4: 16x16, median of (0,0), (0,0), (4,0) = (0, 0)
        w.se(2);
        w.se(2);
        w.ue(static_cast<uint32_t>(CbpCode(0, false)));
        w.ue(1); // 5 skipped after the data: median of (2,2), (4,0) and D (0,0) = (2, 0)
    });
    Decoded d = Decode(p.stream);
    ASSERT_FALSE(d.failed) << d.message;
    EXPECT_EQ(d.result.macroblocks, 6);
    Array3D<int> &mv = *d.dec->img.mv;
    const int types[6] = {0, 0, 1, 0, 1, 0};
    for (int m = 0; m < 6; ++m)
        EXPECT_EQ(d.Mb(m).mb_type, types[m]) << m;
    EXPECT_EQ(mv[8 + 4][0][0], 4);
    EXPECT_EQ(mv[4][4][0], 0);
    EXPECT_EQ(mv[4 + 4][4][0], 2);
    EXPECT_EQ(mv[4 + 4][7][1], 2);
    EXPECT_EQ(mv[8 + 4][4][0], 2);
    EXPECT_EQ(mv[11 + 4][7][1], 0);
    EXPECT_EQ((*d.dec->img.ref_idx_arr)[7][11], 0);
}

TEST(MacroblockCavlc, SkippedVectorIsZeroNextToAStillBlock)
{
    Picture p(2, 2);
    SliceHeaderFields h;
    h.slice_type = 0;
    p.Slice(h, false, [&](BitWriter &w) {
        const int diffs[3][2] = {{8, 8}, {0, 0}, {-8, -8}}; // vectors (8,8), (8,8), (0,0)
        for (const auto &d : diffs) {
            w.ue(0);
            w.ue(0);
            w.se(d[0]);
            w.se(d[1]);
            w.ue(static_cast<uint32_t>(CbpCode(0, false)));
        }
        w.ue(1); // macroblock 3 skipped: the median would be (8, 8)
    });
    Decoded d = Decode(p.stream);
    ASSERT_FALSE(d.failed) << d.message;
    Array3D<int> &mv = *d.dec->img.mv;
    EXPECT_EQ(mv[4 + 4][0][0], 8);
    EXPECT_EQ(mv[0 + 4][4][0], 0);
    EXPECT_EQ(mv[4 + 4][4][0], 0);
    EXPECT_EQ(mv[7 + 4][7][1], 0);
}

TEST(MacroblockCavlc, PatternFiveReadsTheLeftQuadrantsOnly)
{
    Picture p(1, 1);
    SliceHeaderFields h;
    h.slice_type = 0;
    int one[16] = {};
    one[0] = 1;
    p.Slice(h, false, [&](BitWriter &w) {
        w.ue(0);
        w.ue(0);
        w.se(0);
        w.se(0);
        w.ue(static_cast<uint32_t>(CbpCode(5, false)));
        w.se(0);
        for (int k = 0; k < 8; ++k)
            WriteCavlcBlock(w, one, 16, 0);
    });
    Decoded d = Decode(p.stream);
    ASSERT_FALSE(d.failed) << d.message;
    auto &nz = *d.dec->img.nzcoeff;
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(nz[0][0][i][j], i < 2 ? 1 : 0) << i << "," << j;
    EXPECT_EQ(d.Mb(0).cbp_blocks, 0x3333);
}

TEST(MacroblockCavlc, EightByEightSubModesAndReferences)
{
    for (int allZero = 0; allZero < 2; ++allZero) {
        Picture p(1, 1);
        p.sps.num_ref_frames = 2;
        p = Picture(1, 1);
        SliceHeaderFields h;
        h.slice_type = 0;
        h.num_ref_idx_override_flag = 1;
        h.num_ref_pic_active_fwd_minus1 = 1;
        const int refs[4] = {1, 0, 1, 0};
        p.Slice(h, false, [&](BitWriter &w) {
            w.ue(0);
            w.ue(allZero ? 4 : 3);
            for (int q = 0; q < 4; ++q)
                w.ue(static_cast<uint32_t>(q)); // 8x8, 8x4, 4x8, 4x4
            if (!allZero)
                for (int q = 0; q < 4; ++q)
                    w.ue(static_cast<uint32_t>(refs[q]));
            const int blocks[4] = {1, 2, 2, 4};
            for (int q = 0; q < 4; ++q)
                for (int b = 0; b < blocks[q]; ++b) {
                    w.se(q + 1);
                    w.se(-b);
                }
            w.ue(static_cast<uint32_t>(CbpCode(0, false)));
        });
        Decoded d = Decode(p.stream);
        ASSERT_FALSE(d.failed) << d.message;
        DecoderMacroblock &m = d.Mb(0);
        EXPECT_EQ(m.mb_type, kMb8x8);
        EXPECT_EQ(d.dec->img.all_ref_zero, allZero);
        const int subModes[4] = {kSub8x8, kSub8x4, kSub4x8, kSub4x4};
        for (int q = 0; q < 4; ++q) {
            EXPECT_EQ(m.sub_mode[q], subModes[q]);
            const int x = 2 * (q % 2), y = 2 * (q / 2);
            EXPECT_EQ((*d.dec->img.ref_idx_arr)[y][x], allZero ? 0 : refs[q]) << q;
        }
        // Differences by sub-block: 8x4 halves, 4x8 halves, 4x4 quarters.
        EXPECT_EQ(m.mvd[0][1][1][0], 1);
        EXPECT_EQ(m.mvd[0][1][2][1], -1); // quadrant 1 lower 8x4
        EXPECT_EQ(m.mvd[0][2][1][1], -1); // quadrant 2 right 4x8
        EXPECT_EQ(m.mvd[0][3][3][1], -3); // quadrant 3 last 4x4
        EXPECT_EQ(m.mvd[0][3][3][0], 4);
        // The first block has no neighbours: its vector is its difference.
        EXPECT_EQ((*d.dec->img.mv)[4][0][0], 1);
    }
}

TEST(MacroblockCavlc, PartitionAndPatternCodes)
{
    // P types 1..3 (values 0..2) and every inter pattern code number.
    for (int code = 0; code < 48; ++code) {
        Picture p(1, 1);
        SliceHeaderFields h;
        h.slice_type = 0;
        const int type = code % 3;
        const int cbp = kCodedBlockPattern[code][1];
        p.Slice(h, false, [&](BitWriter &w) {
            w.ue(0);
            w.ue(static_cast<uint32_t>(type));
            for (int k = 0; k < (type == 0 ? 2 : 4); ++k)
                w.se(k);
            w.ue(static_cast<uint32_t>(code));
            if (cbp) {
                w.se(0);
                for (int k = 0; k < 16; ++k)
                    if (cbp & (1 << (k / 4)))
                        WriteCavlcBlock(w, std::array<int, 16>{}.data(), 16, 0);
                if (cbp > 15)
                    for (int k = 0; k < 2; ++k)
                        WriteCavlcBlock(w, std::array<int, 4>{}.data(), 4, -1);
                if (cbp > 31)
                    for (int k = 0; k < 8; ++k)
                        WriteCavlcBlock(w, std::array<int, 16>{}.data(), 15, 0);
            }
        });
        Decoded d = Decode(p.stream);
        ASSERT_FALSE(d.failed) << code << ": " << d.message;
        EXPECT_EQ(d.Mb(0).mb_type, type + 1);
        EXPECT_EQ(d.Mb(0).coded_block_pattern, cbp);
    }
}

TEST(MacroblockCavlc, QuantiserLeavingItsRangeEndsTheRun)
{
    for (int delta : {25, 26, -26, -27}) {
        Picture p(1, 1);
        SliceHeaderFields h;
        h.slice_type = 2;
        p.Slice(h, true, [&](BitWriter &w) {
            w.ue(1);
            w.ue(0);
            w.se(delta);
            WriteCavlcBlock(w, std::array<int, 16>{}.data(), 16, 0);
        });
        Decoded d = Decode(p.stream);
        const bool inRange = 26 + delta >= 0 && 26 + delta <= 51;
        EXPECT_EQ(d.failed, !inRange) << delta << " " << d.message;
    }
}

// Random blocks of every type and table class through the writer and readCoeff4x4_CAVLC.
TEST(MacroblockCavlc, RandomBlocksReadBack)
{
    std::mt19937 rng(11);
    struct Type
    {
        int cavlc, max;
    };
    const Type types[] = {{0, 16}, {1, 16}, {2, 15}, {6, 4}, {7, 15}};
    for (int round = 0; round < 3000; ++round) {
        const Type t = types[round % 5];
        const int ncChoice = static_cast<int>(rng() % 4);
        const int counts[4] = {0, 2, 5, 9}; // neighbour counts giving each table class
        int coeffs[16] = {};
        const int density = static_cast<int>(rng() % 100);
        for (int k = 0; k < t.max; ++k)
            if (static_cast<int>(rng() % 100) < density) {
                const int kind = static_cast<int>(rng() % 10);
                int mag = kind < 5   ? 1
                          : kind < 8 ? 2 + static_cast<int>(rng() % 6)
                                     : 1 + static_cast<int>(rng() % 2000); // escapes reach 2063
                coeffs[k] = rng() % 2 ? mag : -mag;
            }
        H264DecoderState dec;
        dec.img.width = 32;
        dec.img.height = 16;
        dec_alloc_macroblock_arrays(dec, 32, 16);
        dec_start_picture_arrays(dec);
        dec.img.mb_index = 1;
        dec.img.mb_x = 1;
        dec.img.current_slice_nr = 0;
        (*dec.img.mb_data)[0].slice_number = 0;
        (*dec.img.mb_data)[1].slice_number = 0;
        // The left neighbour's counts decide nC for blocks at the macroblock's left edge.
        for (int j = 0; j < 6; ++j)
            for (int i = 0; i < 4; ++i)
                (*dec.img.nzcoeff)[0][0][i][j] = counts[ncChoice];
        const int i = t.cavlc == 6 || t.cavlc == 7 ? 0 : 0, j = t.cavlc == 7 ? 4 : 0;
        BitWriter w;
        WriteCavlcBlock(w, coeffs, t.max, t.cavlc == 6 ? -1 : counts[ncChoice]);
        w.u(16, 0xFFFF);
        DataPartition &dp = dec.slice.partitions[0];
        h264dec_load_payload(dp.bitstream.get(), w.Bytes().data(), static_cast<int>(w.Bytes().size()));
        dp.bitstream->byte_length = static_cast<int>(w.Bytes().size());
        int levels[16], runs[16], n = 0;
        readCoeff4x4_CAVLC(dec, t.cavlc, i, j, levels, runs, &n);
        int got[16] = {};
        int k = -1;
        for (int c = 0; c < n; ++c) {
            k += runs[c] + 1;
            ASSERT_LT(k, t.max);
            got[k] = levels[c];
        }
        for (int c = 0; c < t.max; ++c)
            ASSERT_EQ(got[c], coeffs[c]) << "round " << round << " type " << t.cavlc << " position " << c;
        EXPECT_EQ(dp.bitstream->bit_offset, w.BitCount() - 16);
    }
}

TEST(MacroblockCavlc, NcIsTheTruncatedAverage)
{
    H264DecoderState dec;
    dec.img.width = 32;
    dec.img.height = 32;
    dec_alloc_macroblock_arrays(dec, 32, 32);
    dec_start_picture_arrays(dec);
    for (auto &m : *dec.img.mb_data)
        m.slice_number = 0;
    dec.img.mb_index = 3;
    dec.img.mb_x = dec.img.mb_y = 1;
    (*dec.img.nzcoeff)[0][1][3][0] = 1; // left of block (0, 0)
    (*dec.img.nzcoeff)[1][0][0][3] = 2; // above it
    EXPECT_EQ(h264dec_predict_nc_luma(dec, 0, 0), 1);
    (*dec.img.nzcoeff)[1][0][0][3] = -1; // not decoded: only the left one counts
    EXPECT_EQ(h264dec_predict_nc_luma(dec, 0, 0), 1);
    (*dec.img.mb_data)[2].slice_number = 1; // another slice
    EXPECT_EQ(h264dec_predict_nc_luma(dec, 0, 0), 0);
    (*dec.img.nzcoeff)[1][1][0][4] = 7;
    (*dec.img.nzcoeff)[1][0][1][5] = 4;
    EXPECT_EQ(h264dec_predict_nc_chroma(dec, 1, 4), 5);
}

} // namespace

} // namespace macroblock_cavlc_test
