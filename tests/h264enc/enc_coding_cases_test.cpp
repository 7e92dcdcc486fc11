// Worked values of the encoder's coding tools, each computed here from the quantiser formula and the
// coefficient costs rather than taken from the code: the rounding constant of I and P pictures, the
// cost that lets a chroma component drop lone ones, and the cost that protects larger luma levels.
#include "h264enc/enc_kernels.h"
#include "h264enc/enc_memory.h"
#include "h264enc/enc_run.h"
#include "h264enc/frame_store.h"
#include "h264enc/mb_predict.h"
#include "h264enc/mode_decision.h"
#include "h264enc/motion_search.h"
#include "h264enc/quarter_plane.h"
#include "h264enc/slice_coder.h"
#include "h264enc/support/flat_reference.h"
#include "h264enc/trans_quant.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include <array>
#include <memory>
#include <random>

namespace enc_coding_cases_test { // one namespace per test file: a folder compiles as one source

namespace {

using namespace h264enc;

// A w x h picture at macroblock `mb`, source and reconstruction allocated (one macroblock unless
// asked otherwise).
std::unique_ptr<EncoderRun> OneMacroblockRun(int type, int qp, int w = 16, int h = 16, int mb = 0)
{
    auto run = std::make_unique<EncoderRun>();
    run->input.SourceWidth = w;
    run->input.SourceHeight = h;
    run->input.NumberReferenceFrames = 1;
    init_image_geometry(run->input, run->img);
    run->org_frame.allocate(w, h, "test");
    run->rec_frame.allocate(w, h, "test");
    run->img.type = type;
    run->img.qp = qp;
    set_macroblock_position(run->img, mb);
    run->img.CurrentMb().qp = qp;
    return run;
}

// The residual of a 4x4 block whose core transform is k x n_i x n_j at (i, j) and 0 elsewhere: the
// transform's basis rows are orthogonal with squared norms 4, 10, 4, 10, so the outer product of rows
// i and j transforms into a single coefficient.
void SingleCoefficientResidual(int out[4][4], int i, int j, int k)
{
    static const int A[4][4] = {{1, 1, 1, 1}, {2, 1, -1, -2}, {1, -1, -1, 1}, {1, -2, 2, -1}};
    for (int x = 0; x < 4; ++x)
        for (int y = 0; y < 4; ++y)
            out[x][y] += k * A[i][x] * A[j][y];
}

TEST(EncTransQuant, TheTransformOfABasisProductIsOneCoefficient)
{
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            int in[4][4] = {}, out[4][4];
            SingleCoefficientResidual(in, i, j, 1);
            forward4x4(in, out);
            const int n[4] = {4, 10, 4, 10};
            for (int a = 0; a < 4; ++a)
                for (int b = 0; b < 4; ++b)
                    ASSERT_EQ(out[a][b], a == i && b == j ? n[i] * n[j] : 0) << i << j << a << b;
        }
}

// At qp 28 (per 4, rem 4, 19 bits) a flat luma residual r has the single coefficient 16 r with
// multiplier 8192: level = (131072 r + f) >> 19 with f = 2^19 / 3 = 174762 (I) or 2^19 / 6 = 87381.
TEST(EncTransQuant, LumaBlockRoundingByPictureTypeAndItsCost)
{
    const struct
    {
        int type, r, level, cost;
    } cases[] = {
        {kTypeI, 3, 1, 3},      // 393216 + 174762 = 567978 >= 524288: a lone 1 at run 0 costs 3
        {kTypeP, 3, 0, 0},      // 393216 + 87381 = 480597 < 524288: nothing
        {kTypeB, 3, 0, 0},      // every non-I picture takes the smaller constant
        {kTypeP, 4, 1, 3},      // 524288 + 87381: a 1 again
        {kTypeP, 8, 2, 999999}, // 1048576 + 87381 = 1135957 >> 19 = 2: a level above 1
        {kTypeI, 8, 2, 999999},
    };
    for (const auto &c : cases) {
        auto run = OneMacroblockRun(c.type, 28);
        for (int x = 0; x < 16; ++x)
            for (int y = 0; y < 16; ++y) {
                run->mbw.resid[x][y] = c.r;
                run->mbw.pred[x][y] = 100;
            }
        int cost = 7; // the routine adds to what the caller has
        const int nonzero = h264enc_trans_quant_4x4(*run, 4, 8, &cost);
        const int(*list)[65] = run->img.cof.cofAC[2][1]; // quarter 2, block 1: offset (4, 8)
        EXPECT_EQ(nonzero, c.level != 0) << c.type << " " << c.r;
        EXPECT_EQ(list[0][0], c.level) << c.type << " " << c.r;
        EXPECT_EQ(list[0][c.level != 0 ? 1 : 0], 0) << "the list ends with a 0 level";
        EXPECT_EQ(cost, 7 + c.cost) << c.type << " " << c.r;
        if (c.level == 0) { // nothing kept: the reconstruction is the prediction
            EXPECT_EQ(run->rec->y[9][5], 100);
        }
    }
}

// Intra 16x16 coding rounds with 2^q / 3 in every picture type. One flat block of residual 11 has the
// DC 176; the Hadamard spreads it to 88 in all sixteen DC terms (the columns halved). At qp 28 the DC
// level is (88 x 8192 + 2f) >> 20: 720896 + 349524 = 1070420 gives 1; with the P constant it would be
// 720896 + 174762 = 895658, 0.
TEST(EncTransQuant, Intra16x16RoundsAsInIPicturesEvenInPPictures)
{
    for (int type : {kTypeI, kTypeP}) {
        auto run = OneMacroblockRun(type, 28);
        for (int x = 0; x < 16; ++x)
            for (int y = 0; y < 16; ++y) {
                run->mbw.luma16_intra_preds[2][x][y] = 100;
                run->org->y[y][x] = static_cast<uint8_t>(x < 4 && y < 4 ? 111 : 100);
            }
        EXPECT_EQ(h264enc_trans_quant_16x16(*run, 2), 0) << "no AC level";
        const int(*dc)[65] = run->img.cof.cofDC[0];
        for (int k = 0; k < 16; ++k) {
            EXPECT_EQ(dc[0][k], 1) << type << " " << k;
            EXPECT_EQ(dc[1][k], 0) << type << " " << k;
        }
        EXPECT_EQ(dc[0][16], 0);
    }
}

// Chroma at qp 28 (chroma qp 28) in a P picture: a coefficient 3 x 40 at a position with one odd
// coordinate quantises to (120 x 5243 + 87381) >> 19 = 716541 >> 19 = 1. Two such ones at zig-zag
// positions 1 and 8 have runs 0 and 6 (cost 3 + 0 = 3 < 4): dropped. At positions 1 and 2 the runs are
// 0 and 0 (cost 3 + 3 = 6): kept.
TEST(EncTransQuant, ChromaDropsLoneOnesBelowCostFour)
{
    const struct
    {
        int i2, j2; // the second coefficient; the first is at (1, 0)
        bool kept;
    } cases[] = {{1, 2, false}, {0, 1, true}};
    for (const auto &c : cases)
        for (int uv : {0, 1})
            for (int blk : {0, 3}) {
                auto run = OneMacroblockRun(kTypeP, 28);
                int block[4][4] = {};
                SingleCoefficientResidual(block, 1, 0, 3);
                SingleCoefficientResidual(block, c.i2, c.j2, 3);
                const int bx = blk % 2, by = blk / 2;
                for (int x = 0; x < 8; ++x)
                    for (int y = 0; y < 8; ++y) {
                        run->mbw.cpred[x][y] = 128;
                        run->mbw.resid[x][y] = x / 4 == bx && y / 4 == by ? block[x % 4][y % 4] : 0;
                    }
                const int pattern = h264enc_trans_quant_chroma(*run, uv, 0);
                const int bits = run->img.CurrentMb().coded_block_bits;
                const int(*list)[65] = run->img.cof.cofAC[4 + uv][blk];
                const std::string what = "second at (" + std::to_string(c.i2) + ", " + std::to_string(c.j2) +
                                         ") uv " + std::to_string(uv) + " block " + std::to_string(blk);
                EXPECT_EQ(run->img.cof.cofDC[1 + uv][0][0], 0) << what << ": no DC level";
                if (c.kept) {
                    EXPECT_EQ(pattern, 2) << what;
                    EXPECT_EQ(bits, 1 << (16 + 4 * uv + blk)) << what;
                    EXPECT_EQ(list[0][0], 1) << what;
                    EXPECT_EQ(list[1][0], 0) << what;
                    EXPECT_EQ(list[0][1], 1) << what;
                    EXPECT_EQ(list[1][1], 0) << what;
                    EXPECT_EQ(list[0][2], 0) << what;
                } else {
                    EXPECT_EQ(pattern, 0) << what;
                    EXPECT_EQ(bits, 0) << what;
                    EXPECT_EQ(list[0][0], 0) << what;
                    for (int x = 0; x < 8; ++x)
                        for (int y = 0; y < 8; ++y)
                            ASSERT_EQ(run->rec->uv[uv][y][x], 128) << what << ": the prediction stands";
                }
            }
}

// The pattern passed in is kept when the component adds nothing, and a dropped component does not
// lower it.
TEST(EncTransQuant, ChromaPatternIsNeverLowered)
{
    for (int before : {1, 2}) {
        auto run = OneMacroblockRun(kTypeP, 28);
        for (int x = 0; x < 8; ++x)
            for (int y = 0; y < 8; ++y)
                run->mbw.cpred[x][y] = 128;
        int block[4][4] = {};
        SingleCoefficientResidual(block, 1, 0, 3);
        for (int x = 0; x < 4; ++x)
            for (int y = 0; y < 4; ++y)
                run->mbw.resid[x][y] = block[x][y];
        EXPECT_EQ(h264enc_trans_quant_chroma(*run, 1, before), before);
    }
}

// ---------------------------------------------------------------------------------------------
// Inter luma coding: dropping quarters and macroblocks of lone ones

// A P picture of one macroblock whose single reference is flat 100, so that a zero vector predicts 100
// everywhere; the macroblock's quarters are 16x16 blocks of reference 0 with zero vectors.
std::unique_ptr<EncoderRun> InterRun()
{
    auto run = OneMacroblockRun(kTypeP, 28);
    init_frame_buffers(run->refs, run->input, run->img);
    add_short_term_frame(run->refs, 0, 0);
    set_mref_arrays(run->refs);
    RefFrame &ref = *run->refs.frm.picbuf_short.front();
    h264enc::Array2D<uint8_t> luma;
    luma.allocate(16, 16, "test");
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            luma[y][x] = 100;
    h264enc::Array2D<int> work;
    interpolate_quarter_plane(luma, work, ref.mref);
    run->motion.refs = 1;
    run->motion.search_mv.assign(8, BlockVectors{});
    std::fill(run->img.maps.ref_map.begin(), run->img.maps.ref_map.end(), 0);
    MacroblockRecord &mb = run->img.CurrentMb();
    mb.mb_mode = 1;
    for (int q = 0; q < 4; ++q)
        mb.quarter_mode[static_cast<size_t>(q)] = 1;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            run->org->y[y][x] = 100;
    return run;
}

// Source of 4x4 block (bx, by) of the macroblock: 100 plus a residual whose only levels at qp 28 in a P
// picture are ones. A flat 4 gives the DC 64: (64 x 8192 + 87381) >> 19 = 1 at scan position 0.
// Position 1 (1, 0) and 2 (0, 1): 3 x 40 with multiplier 5243 gives 1; position 4 (1, 1): 2 x 100 with
// 3355 gives (671000 + 87381) >> 19 = 1.
void AddOnes(EncoderRun &run, int bx, int by, int second_position)
{
    int block[4][4] = {};
    for (auto &column : block)
        for (int &v : column)
            v = 4;
    switch (second_position) {
    case 1:
        SingleCoefficientResidual(block, 1, 0, 3);
        break;
    case 2:
        SingleCoefficientResidual(block, 0, 1, 3);
        break;
    default:
        SingleCoefficientResidual(block, 1, 1, 2);
        break;
    }
    for (int x = 0; x < 4; ++x)
        for (int y = 0; y < 4; ++y)
            run.org->y[by + y][bx + x] = static_cast<uint8_t>(100 + block[x][y]);
}

TEST(EncInterLuma, QuarterOfCostFourIsDroppedFiveIsKept)
{
    const struct
    {
        int second, cost; // ones at scan position 0 and `second`: runs 0 and second - 1
        bool kept;
    } cases[] = {{4, 3 + 1, false}, {2, 3 + 2, true}, {1, 3 + 3, true}};
    for (const auto &c : cases)
        for (int q : {0, 3}) {
            auto run = InterRun();
            const int bx = 8 * (q % 2) + 4, by = 8 * (q / 2); // block 1 of the quarter
            AddOnes(*run, bx, by, c.second);
            int cbp = 0, cbpBlk = 0;
            const int cost = code_luma_quarter(*run, &cbp, &cbpBlk, q, 1, 0, 0, 0);
            const int blockBit = 1 << (4 * (by / 4) + bx / 4);
            if (c.kept) {
                EXPECT_EQ(cost, c.cost) << q << " " << c.second;
                EXPECT_EQ(cbp, 1 << q) << q << " " << c.second;
                EXPECT_EQ(cbpBlk, blockBit) << q << " " << c.second;
            } else {
                EXPECT_EQ(cost, 0) << q << " " << c.second;
                EXPECT_EQ(cbp, 0) << q << " " << c.second;
                EXPECT_EQ(cbpBlk, 0) << q << " " << c.second;
                for (int y = 0; y < 8; ++y)
                    for (int x = 0; x < 8; ++x)
                        ASSERT_EQ(run->rec->y[8 * (q / 2) + y][8 * (q % 2) + x], 100) << "the prediction";
            }
        }
}

TEST(EncInterLuma, MacroblockOfCostFiveLosesItsLumaSixKeepsIt)
{
    const struct
    {
        int second, q_other; // a second quarter with a dropped cost-4 block, -1 for none
        bool kept;
    } cases[] = {{2, -1, false}, {2, 1, false}, {1, -1, true}, {1, 2, true}};
    for (const auto &c : cases) {
        auto run = InterRun();
        AddOnes(*run, 12, 12, c.second); // quarter 3
        if (c.q_other >= 0)
            AddOnes(*run, 8 * (c.q_other % 2), 8 * (c.q_other / 2), 4); // cost 4: dropped, counts 0
        code_luma_macroblock(*run);
        const MacroblockRecord &mb = run->img.CurrentMb();
        if (c.kept) {
            EXPECT_EQ(mb.coded_pattern, 8) << c.second << " " << c.q_other;
            EXPECT_EQ(mb.coded_block_bits, 1 << 15) << c.second << " " << c.q_other;
            EXPECT_NE(run->rec->y[12][12], 100);
        } else {
            EXPECT_EQ(mb.coded_pattern, 0) << c.second << " " << c.q_other;
            EXPECT_EQ(mb.coded_block_bits, 0) << c.second << " " << c.q_other;
            for (int y = 0; y < 16; ++y)
                for (int x = 0; x < 16; ++x)
                    ASSERT_EQ(run->rec->y[y][x], 100) << "the prediction";
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Integer-sample search window

// A P picture w x h at macroblock mb with one random reference (its integer plane is what the integer
// search reads), SearchRange 2, every vector of the picture's map (-9, 6) with reference 0.
std::unique_ptr<EncoderRun> SearchRun(int w, int h, int mb, int range = 2)
{
    auto run = OneMacroblockRun(kTypeP, 28, w, h, mb);
    run->input.SearchRange = range;
    run->input.RestrictSearchRange = 2;
    init_frame_buffers(run->refs, run->input, run->img);
    add_short_term_frame(run->refs, 0, 0);
    set_mref_arrays(run->refs);
    Init_Motion_Search_Module(*run);
    std::mt19937 rng(17);
    RefFrame &ref = *run->refs.frm.picbuf_short.front();
    for (uint8_t &v : ref.Refbuf11)
        v = static_cast<uint8_t>(rng() % 256);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            run->org->y[y][x] = static_cast<uint8_t>(rng() % 256);
    std::fill(run->img.maps.ref_map.begin(), run->img.maps.ref_map.end(), 0);
    std::fill(run->img.maps.mv_map.begin(), run->img.maps.mv_map.end(), std::array<int, 2>{-9, 6});
    return run;
}

// The SAD of the 4x4 block (bx, by) of the macroblock at whole-sample offset (dx, dy), reading the
// reference with coordinates clamped into the picture.
int ClampedSad(const EncoderRun &run, int bx, int by, int dx, int dy)
{
    const RefFrame &ref = *run.refs.frm.picbuf_short.front();
    const int w = run.img.width, h = run.img.height;
    int sad = 0;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            const int px = 16 * run.img.mb_x + bx + x, py = 16 * run.img.mb_y + by + y;
            const int rx = std::clamp(px + dx, 0, w - 1), ry = std::clamp(py + dy, 0, h - 1);
            sad += std::abs(run.org->y[py][px] - ref.Refbuf11[static_cast<size_t>(ry * w + rx)]);
        }
    return sad;
}

TEST(EncIntegerSearch, CornerMacroblockReadsThroughTheClampAndKeepsTheZeroVectorFirst)
{
    auto run = SearchRun(32, 32, 0); // no neighbours: the predicted vector is (0, 0)
    setup_fast_integer_search(*run, 0);
    const MotionSearchTables &t = run->search;
    EXPECT_EQ(t.center_x[0], 0);
    EXPECT_EQ(t.center_y[0], 0);
    EXPECT_EQ(t.pos_00[0], 0);
    ASSERT_EQ(t.positions, 25);
    MotionSearchTables &tables = run->search;
    for (int p = 0; p < 25; ++p) {
        const int dx = t.spiral_x[static_cast<size_t>(p)], dy = t.spiral_y[static_cast<size_t>(p)];
        int whole = 0;
        for (int b = 0; b < 16; ++b) {
            const int sad = ClampedSad(*run, 4 * (b % 4), 4 * (b / 4), dx, dy);
            EXPECT_EQ(tables.SadAt(0, 7, b, p), sad) << p << " " << b;
            whole += sad;
        }
        EXPECT_EQ(tables.SadAt(0, 1, 0, p), whole) << "the 16x16 SAD is the sum of its 4x4 SADs, " << p;
    }
}

TEST(EncIntegerSearch, CentreIsThePredictedVectorInWholeSamples)
{
    // Macroblock 4 of a 48x48 picture: all its neighbours carry (-9, 6), so that is the prediction; in
    // whole samples (-2, 1), the quarter samples dropped towards zero.
    auto run = SearchRun(48, 48, 4);
    int px = 0, py = 0;
    predict_block_vector(*run, 0, 0, 0, 0, 16, 16, &px, &py);
    ASSERT_EQ(px, -9);
    ASSERT_EQ(py, 6);
    setup_fast_integer_search(*run, 0);
    const MotionSearchTables &t = run->search;
    EXPECT_EQ(t.center_x[0], 16 - 2);
    EXPECT_EQ(t.center_y[0], 16 + 1);
    // The zero vector is the window position (2, -1) from the centre.
    const int p = t.pos_00[0];
    EXPECT_EQ(t.spiral_x[static_cast<size_t>(p)], 2);
    EXPECT_EQ(t.spiral_y[static_cast<size_t>(p)], -1);
    MotionSearchTables &tables = run->search;
    for (int q = 0; q < 25; ++q)
        EXPECT_EQ(tables.SadAt(0, 7, 5, q), ClampedSad(*run, 4, 4, t.spiral_x[static_cast<size_t>(q)] - 2,
                                                       t.spiral_y[static_cast<size_t>(q)] + 1))
            << q;
}

// The integer search as its plain definition: a scan in spiral order keeping strictly lower costs,
// the zero vector tried first without rate-distortion decisions, every SAD summed afresh from the
// pictures through the clamp (not read from the search's tables).
int SpiralScan(const EncoderRun &run, int type, int block, int px, int py, int range, int *vx, int *vy)
{
    const MotionSearchTables &t = run.search;
    const int lambda = run.motion.fixed_lambda;
    const int offX = t.center_x[0] - run.img.luma_x(), offY = t.center_y[0] - run.img.luma_y();
    const int bx = 4 * (block % 4), by = 4 * (block / 4);
    auto sadAt = [&](int p) {
        int sad = 0;
        for (int y = by; y < by + kBlockHeight[type]; y += 4)
            for (int x = bx; x < bx + kBlockWidth[type]; x += 4)
                sad += ClampedSad(run, x, y, offX + t.spiral_x[static_cast<size_t>(p)],
                                  offY + t.spiral_y[static_cast<size_t>(p)]);
        return sad;
    };
    auto cost = [&](int p, int dx, int dy) {
        return sadAt(p) + ((lambda * (mv_bits(run, dx) + mv_bits(run, dy))) >> 16);
    };
    int min = 1 << 20, best = 0;
    if (run.input.RDOptimization == 0) {
        best = t.pos_00[0];
        const int c = cost(best, -px, -py);
        if (c < min)
            min = c;
        else
            best = 0;
    }
    for (int p = 0; p < (2 * range + 1) * (2 * range + 1); ++p) {
        if (sadAt(p) >= min)
            continue;
        const int cx = offX + t.spiral_x[static_cast<size_t>(p)],
                  cy = offY + t.spiral_y[static_cast<size_t>(p)];
        const int c = cost(p, 4 * cx - px, 4 * cy - py);
        if (c < min) {
            min = c;
            best = p;
        }
    }
    *vx = offX + t.spiral_x[static_cast<size_t>(best)];
    *vy = offY + t.spiral_y[static_cast<size_t>(best)];
    return min;
}

TEST(EncIntegerSearch, EveryBlockFindsWhatTheSpiralScanFinds)
{
    // Pictures: random (single minima), flat (every position ties, the spiral order decides) and the
    // source shifted by (3, -2) with a little noise (a clear minimum with near ties around it); the
    // macroblock at the corner (window past two edges) and inside; full and halved ranges, with and
    // without rate-distortion decisions, and lambdas with fractional parts.
    for (int kind = 0; kind < 3; ++kind)
        for (int mb : {0, 7})
            for (int rdo : {0, 1})
                for (int lambda : {1 << 16, (20 << 16) + 39321, (91 << 16) + 65535}) {
                    auto run = SearchRun(64, 48, mb, 7);
                    run->input.RDOptimization = rdo;
                    run->motion.fixed_lambda = lambda;
                    RefFrame &ref = *run->refs.frm.picbuf_short.front();
                    std::mt19937 rng(kind * 100 + mb);
                    for (int y = 0; y < 48; ++y)
                        for (int x = 0; x < 64; ++x) {
                            uint8_t &r = ref.Refbuf11[static_cast<size_t>(y * 64 + x)];
                            if (kind == 1)
                                r = run->org->y[y][x] = 128;
                            else if (kind == 2)
                                r = static_cast<uint8_t>(128 + 100 * std::sin(0.3 * x) * std::cos(0.2 * y));
                        }
                    if (kind == 2)
                        for (int y = 0; y < 48; ++y)
                            for (int x = 0; x < 64; ++x)
                                run->org->y[y][x] = static_cast<uint8_t>(std::clamp(
                                    ref.Refbuf11[static_cast<size_t>(std::clamp(y - 2, 0, 47) * 64 +
                                                                     std::clamp(x + 3, 0, 63))] +
                                        static_cast<int>(rng() % 3) - 1,
                                    0, 255));
                    reset_fast_integer_search(*run);
                    for (int type = 1; type <= 7; ++type)
                        for (int b = 0; b < 16; ++b) {
                            const int bx = 4 * (b % 4), by = 4 * (b / 4);
                            if (bx % kBlockWidth[type] != 0 || by % kBlockHeight[type] != 0)
                                continue;
                            for (int range : {7, 3}) {
                                const int px = static_cast<int>(rng() % 41) - 20,
                                          py = static_cast<int>(rng() % 41) - 20;
                                int vx = 0, vy = 0, ex = 0, ey = 0;
                                const int cost = integer_pel_search(*run, 0, bx, by, type, px, py, range,
                                                                    1 << 20, &vx, &vy);
                                const int expected = SpiralScan(*run, type, b, px, py, range, &ex, &ey);
                                ASSERT_EQ(cost, expected) << kind << " " << mb << " " << rdo << " " << type
                                                          << " " << b << " " << range;
                                ASSERT_EQ(vx, ex) << kind << " " << mb << " " << rdo << " " << type << " "
                                                  << b << " " << range;
                                ASSERT_EQ(vy, ey) << kind << " " << mb << " " << rdo << " " << type << " "
                                                  << b << " " << range;
                            }
                        }
                }
}

// ---------------------------------------------------------------------------------------------
// Vector prediction

// Sets the vectors and references of the 4x4 blocks [x0, x1) x [y0, y1) of the picture's maps.
void SetBlocks(EncoderRun &run, int x0, int x1, int y0, int y1, std::array<int, 2> mv, int ref)
{
    MotionMaps &m = run.img.maps;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            m.mv_map[m.At(x, y)] = mv;
            m.ref_map[m.At(x, y)] = ref;
        }
}

TEST(EncVectorPrediction, KindsOfPrediction)
{
    // Macroblock 4 of a 48x48 picture: the left macroblock covers 4x4 columns 0..3, rows 4..7; the
    // current one columns 4..7.
    const struct
    {
        const char *what;
        int bx, by, w, h;
        int ref; // reference predicted for
        int expect_x, expect_y;
    } cases[] = {
        // Lower 16x8 block: A (left, (1, 1)) has the same reference, so A is taken although the median
        // of A, B (the upper half, (5, 5)) and D (up-left, (9, 9)) is (5, 5).
        {"16x8 lower takes A", 0, 8, 16, 8, 0, 1, 1},
        // Upper 16x8 block takes B, the block above the macroblock ((20, 20)).
        {"16x8 upper takes B", 0, 0, 16, 8, 0, 20, 20},
        // 16x16 with all three of reference 0: the median of A (1, 1), B (20, 20), C (30, -30).
        {"median", 0, 0, 16, 16, 0, 20, 1},
        // For reference 1 only C matches: C's vector alone.
        {"single match", 0, 0, 16, 16, 1, 30, -30},
    };
    for (const auto &c : cases) {
        auto run = SearchRun(48, 48, 4);
        SetBlocks(*run, 0, 12, 0, 12, {0, 0}, 0);
        SetBlocks(*run, 0, 4, 4, 8, {1, 1}, 0);   // left macroblock
        SetBlocks(*run, 3, 4, 5, 6, {9, 9}, 0);   // its block at row 5: D of the lower 16x8 block
        SetBlocks(*run, 4, 8, 3, 4, {20, 20}, 0); // the row above the macroblock
        SetBlocks(*run, 8, 12, 3, 4, {30, -30}, c.ref == 1 ? 1 : 0); // above right
        SetBlocks(*run, 4, 8, 4, 6, {5, 5}, 0); // the macroblock's upper half, as searched
        int px = -99, py = -99;
        predict_block_vector(*run, 0, c.ref, c.bx, c.by, c.w, c.h, &px, &py);
        EXPECT_EQ(px, c.expect_x) << c.what;
        EXPECT_EQ(py, c.expect_y) << c.what;
    }
}

TEST(EncVectorPrediction, NoNeighbourInTheSlicePredictsZero)
{
    // Every macroblock its own slice: the vectors of the maps around macroblock 4 are not reachable.
    auto run = SearchRun(48, 48, 4);
    for (size_t i = 0; i < run->img.mb_data.size(); ++i)
        run->img.mb_data[i].slice_index = static_cast<int>(i);
    int px = -99, py = -99;
    predict_block_vector(*run, 0, 0, 0, 0, 16, 16, &px, &py);
    EXPECT_EQ(px, 0);
    EXPECT_EQ(py, 0);
    // Inside the macroblock the left half is reachable: for the right 8x16 half it is the only
    // neighbour (A), so its vector is taken.
    SetBlocks(*run, 4, 6, 4, 8, {7, -3}, 0);
    predict_block_vector(*run, 0, 0, 8, 0, 8, 16, &px, &py);
    EXPECT_EQ(px, 7);
    EXPECT_EQ(py, -3);
}

// ---------------------------------------------------------------------------------------------
// Mode decision of a P macroblock

// Macroblock 0 of a 32x32 P picture at qp 28 whose reference is flat (luma 100, chroma 128), all inter
// searches allowed, SearchRange 2; the source is flat likewise.
std::unique_ptr<EncoderRun> DecisionRun()
{
    auto run = OneMacroblockRun(kTypeP, 28, 32, 32, 0);
    EncoderParams &in = run->input;
    in.SearchRange = 2;
    in.RestrictSearchRange = 2;
    in.UseHadamard = 1;
    in.InterSearch16x16 = in.InterSearch16x8 = in.InterSearch8x16 = in.InterSearch8x8 = 1;
    in.InterSearch8x4 = in.InterSearch4x8 = in.InterSearch4x4 = 1;
    enctest::PrepareFlatReferenceMacroblock(*run);
    return run;
}

TEST(EncModeDecision, PMacroblockWithoutCoefficientsOnTheSkipVectorIsACopy)
{
    auto run = DecisionRun();
    h264enc_encode_macroblock(*run);
    const MacroblockRecord &mb = run->img.CurrentMb();
    EXPECT_EQ(mb.mb_mode, kModeSkip);
    EXPECT_EQ(mb.coded_pattern, 0);
    const MotionMaps &m = run->img.maps;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            EXPECT_EQ(m.ref_map[m.At(x, y)], 0);
            EXPECT_EQ(m.mv_map[m.At(x, y)], (std::array<int, 2>{0, 0}));
        }
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            ASSERT_EQ(run->rec->y[y][x], 100);
}

TEST(EncModeDecision, PMacroblockWithALargeLevelIsNotACopy)
{
    // A flat 8 over one 4x4 block gives a level of 2 (cost 999999): the coefficients stay, so the
    // macroblock is coded as an inter partition with a luma pattern, not copied.
    auto run = DecisionRun();
    for (int y = 4; y < 8; ++y)
        for (int x = 4; x < 8; ++x)
            run->org->y[y][x] = 108;
    h264enc_encode_macroblock(*run);
    const MacroblockRecord &mb = run->img.CurrentMb();
    EXPECT_NE(mb.mb_mode, kModeSkip);
    EXPECT_NE(mb.coded_pattern & 15, 0);
}

// ---------------------------------------------------------------------------------------------
// Chroma intra prediction

TEST(EncChromaIntra, NoNeighbourGivesDc128AndMode2)
{
    auto run = OneMacroblockRun(kTypeI, 28, 32, 32, 0);
    std::mt19937 rng(5);
    for (int uv = 0; uv < 2; ++uv)
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) {
                run->org->uv[uv][y][x] = static_cast<uint8_t>(rng() % 256);
                run->rec->uv[uv][y][x] = static_cast<uint8_t>(rng() % 256);
            }
    run->img.CurrentMb().chroma_pred_mode = 0;
    bool up = true, left = true;
    decide_chroma_intra_mode(*run, &up, &left);
    EXPECT_FALSE(up);
    EXPECT_FALSE(left);
    for (int uv = 0; uv < 2; ++uv)
        for (int x = 0; x < 8; ++x)
            for (int y = 0; y < 8; ++y)
                ASSERT_EQ(run->mbw.chroma_intra_preds[uv][2][x][y], 128) << uv << " " << x << " " << y;
    EXPECT_EQ(run->img.CurrentMb().chroma_pred_mode, 2);
}

TEST(EncChromaIntra, FirstRowOfASliceStartingMidPictureHasNoUpperNeighbour)
{
    // Macroblocks 2 and 3 (the second row of a 32x32 picture) form a new slice; macroblock 3 has its
    // left neighbour but not the one above. Its source is exactly the vertical prediction from the row
    // above, which must not be tried, nor plane.
    auto run = OneMacroblockRun(kTypeI, 28, 32, 32, 3);
    run->img.mb_data[2].slice_index = 1;
    run->img.mb_data[3].slice_index = 1;
    std::mt19937 rng(9);
    int leftColumn[2][8];
    for (int uv = 0; uv < 2; ++uv) {
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                run->rec->uv[uv][y][x] = static_cast<uint8_t>(rng() % 256);
        for (int y = 0; y < 8; ++y) {
            leftColumn[uv][y] = run->rec->uv[uv][8 + y][7];
            for (int x = 0; x < 8; ++x)
                run->org->uv[uv][8 + y][8 + x] = run->rec->uv[uv][7][8 + x];
        }
    }
    run->img.CurrentMb().chroma_pred_mode = 0;
    bool up = true, left = false;
    decide_chroma_intra_mode(*run, &up, &left);
    EXPECT_FALSE(up);
    EXPECT_TRUE(left);
    const int mode = run->img.CurrentMb().chroma_pred_mode;
    EXPECT_TRUE(mode == 1 || mode == 2) << mode;
    for (int uv = 0; uv < 2; ++uv) {
        const int *l = leftColumn[uv];
        const int upperRows = (l[0] + l[1] + l[2] + l[3] + 2) >> 2,
                  lowerRows = (l[4] + l[5] + l[6] + l[7] + 2) >> 2;
        // Block (4, 0) has no samples above: it takes those to its left, as (0, 0) does.
        EXPECT_EQ(run->mbw.chroma_intra_preds[uv][2][5][1], upperRows) << uv;
        EXPECT_EQ(run->mbw.chroma_intra_preds[uv][2][1][2], upperRows) << uv;
        EXPECT_EQ(run->mbw.chroma_intra_preds[uv][2][2][6], lowerRows) << uv;
        EXPECT_EQ(run->mbw.chroma_intra_preds[uv][2][6][5], lowerRows) << uv;
    }
}

// ---------------------------------------------------------------------------------------------
// Intra 4x4 mode decision

// Macroblock 3 of a 32x32 picture (lower right): its first block has neighbours above and to the left,
// whose modes in the map are up and left; the reconstruction around it is textured so that every
// prediction mode differs clearly from every other.
std::unique_ptr<EncoderRun> IntraBlockRun(int up, int left, unsigned seed)
{
    auto run = OneMacroblockRun(kTypeI, 28, 32, 32, 3);
    run->input.UseHadamard = 0;
    std::mt19937 rng(seed);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            run->rec->y[y][x] = static_cast<uint8_t>(rng() % 256);
    h264enc::Array2D<int> &map = run->img.intra_pred_modes;
    map[4 + 0][4 + 1] = up;   // the block above (4, 3), with the border of one
    map[4 + 1][4 + 0] = left; // the block to the left (3, 4)
    map[4 + 0][4 + 2] = 2;    // the upper right one
    return run;
}

// Makes the source of the macroblock's first block equal to prediction `mode`.
void SourceIsPrediction(EncoderRun &run, int mode)
{
    h264enc_intra_pred_4x4(run, 16, 16);
    ASSERT_TRUE(run.mbw.intra4_ok[mode]);
    for (int u = 0; u < 4; ++u)
        for (int v = 0; v < 4; ++v)
            run.org->y[16 + v][16 + u] = static_cast<uint8_t>(run.mbw.intra4[mode][u][v]);
}

// With lambda 1 a mode other than the most probable one costs 4 plus its SATD; the coded mode counts
// the remaining modes, skipping the most probable one.
TEST(EncIntra4x4Decision, CodedModeAndCostAgainstTheMostProbableMode)
{
    const struct
    {
        int up, left; // the neighbours' modes: most probable min(up, left)
        int best;     // the mode the source equals
        int code, cost;
    } cases[] = {
        {3, 5, 5, 4, 4},  // best 5 above most probable 3: coded 5 - 1 = 4
        {3, 3, 1, 1, 4},  // best 1 below most probable 3: coded 1
        {4, 3, 3, -1, 0}, // the most probable mode itself: no penalty, coded -1
        {8, 6, 0, 0, 4},  {0, 7, 8, 7, 4},
    };
    for (const auto &c : cases)
        for (unsigned seed : {1u, 2u, 3u}) {
            auto run = IntraBlockRun(c.up, c.left, seed);
            SourceIsPrediction(*run, c.best);
            int nonzero = -1;
            const int cost = choose_intra4x4_mode(*run, 0, 0, 1.0, &nonzero);
            EXPECT_EQ(run->img.intra_pred_modes[5][5], c.best) << c.up << " " << c.left << " " << c.best;
            EXPECT_EQ(run->img.CurrentMb().intra4_codes[0], c.code) << c.up << " " << c.left << " " << c.best;
            EXPECT_EQ(cost, c.cost) << c.up << " " << c.left << " " << c.best;
            EXPECT_EQ(nonzero, 0) << "an exact prediction leaves no coefficient";
        }
}

TEST(EncIntra4x4Decision, EqualCostsGoToTheLowerModeNumber)
{
    // Flat surroundings and source: every mode predicts the source exactly. With lambda 0 no penalty
    // separates them, so mode 0 wins even though 8 is the most probable one.
    auto run = IntraBlockRun(8, 8, 1);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            run->rec->y[y][x] = 90;
            run->org->y[y][x] = 90;
        }
    int nonzero = -1;
    EXPECT_EQ(choose_intra4x4_mode(*run, 0, 0, 0.0, &nonzero), 0);
    EXPECT_EQ(run->img.intra_pred_modes[5][5], 0);
    EXPECT_EQ(run->img.CurrentMb().intra4_codes[0], 0);
    // With lambda 1 the most probable mode is the only one without a penalty.
    auto again = IntraBlockRun(8, 8, 1);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            again->rec->y[y][x] = 90;
            again->org->y[y][x] = 90;
        }
    EXPECT_EQ(choose_intra4x4_mode(*again, 0, 0, 1.0, &nonzero), 0);
    EXPECT_EQ(again->img.intra_pred_modes[5][5], 8);
    EXPECT_EQ(again->img.CurrentMb().intra4_codes[0], -1);
}

TEST(EncIntra4x4Decision, NeighboursDecideTheModesTried)
{
    // The picture's first block: DC alone, at 128, and DC is the most probable mode, so the cost is
    // the SAD against 128 (source 130: sixteen differences of 2).
    {
        auto run = OneMacroblockRun(kTypeI, 28);
        run->input.UseHadamard = 0;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                run->org->y[y][x] = 130;
        int nonzero = -1;
        EXPECT_EQ(choose_intra4x4_mode(*run, 0, 0, 1.0, &nonzero), 32);
        for (int m = 0; m < 9; ++m)
            EXPECT_EQ(run->mbw.intra4_ok[m], m == 2) << m;
        EXPECT_EQ(run->mbw.intra4[2][1][2], 128);
        EXPECT_EQ(run->img.CurrentMb().intra4_codes[0], -1);
    }
    // A neighbour above and none to the left (the second macroblock row of a one-macroblock-wide
    // picture): vertical and DC only; the diagonals that need the upper samples alone are not offered.
    {
        auto run = OneMacroblockRun(kTypeI, 28, 16, 32, 1);
        run->input.UseHadamard = 0;
        run->img.intra_pred_modes[4][1] = 2;
        run->img.intra_pred_modes[4][2] = 2;
        for (int x = 0; x < 16; ++x)
            run->rec->y[15][x] = static_cast<uint8_t>(20 * x);
        for (int y = 16; y < 32; ++y)
            for (int x = 0; x < 16; ++x)
                run->org->y[y][x] = static_cast<uint8_t>(20 * x);
        int nonzero = -1;
        EXPECT_EQ(choose_intra4x4_mode(*run, 0, 0, 1.0, &nonzero), 4); // vertical, exact, not most probable
        for (int m = 0; m < 9; ++m)
            EXPECT_EQ(run->mbw.intra4_ok[m], m == 0 || m == 2) << m;
        EXPECT_EQ(run->img.intra_pred_modes[5][1], 0);
        EXPECT_EQ(run->img.CurrentMb().intra4_codes[0], 0);
    }
}

// With lambda 1 each quarter adds (int)floor(6 + 0.4999) = 6 and each block off its most probable mode
// adds 4. A flat 128 picture at its first macroblock: every block predicts 128 exactly with DC, the
// most probable mode of each (the blocks above or to the left inside the macroblock choose 2 too).
TEST(EncIntra4x4Decision, QuarterAndBlockCostsAtLambdaOne)
{
    auto run = OneMacroblockRun(kTypeI, 28);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            run->org->y[y][x] = 128;
    int cbp = -1;
    EXPECT_EQ(choose_intra4x4_mb(*run, 1.0, &cbp), 4 * 6);
    EXPECT_EQ(cbp, 0);
    // One quarter: 6; with lambda 0.99 still 6 (floor(5.94 + 0.4999)), a penalty of floor(3.96) = 3.
    auto quarter = OneMacroblockRun(kTypeI, 28);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            quarter->org->y[y][x] = 128;
    int nz = -1;
    EXPECT_EQ(choose_intra4x4_8x8(*quarter, 0, 0.99, &nz), 6);
    // A vertical ramp under a ramped row above, no left neighbour (the second macroblock row of a
    // one-macroblock-wide picture): every block of the quarter predicts exactly with vertical. Blocks 0
    // and 2 have no left neighbour, so their most probable mode is DC and vertical costs 4; blocks 1 and
    // 3 have a vertical block to the left and above, so vertical is most probable: 6 + 2 x 4.
    auto ramp = OneMacroblockRun(kTypeI, 28, 16, 32, 1);
    ramp->input.UseHadamard = 0;
    for (int k = 1; k <= 4; ++k)
        ramp->img.intra_pred_modes[4][k] = 2;
    for (int x = 0; x < 16; ++x)
        ramp->rec->y[15][x] = static_cast<uint8_t>(10 + 20 * x);
    for (int y = 16; y < 32; ++y)
        for (int x = 0; x < 16; ++x)
            ramp->org->y[y][x] = static_cast<uint8_t>(10 + 20 * x);
    EXPECT_EQ(choose_intra4x4_8x8(*ramp, 0, 1.0, &nz), 6 + 2 * 4);
    const int codes[4] = {0, -1, 0, -1};
    for (int b = 0; b < 4; ++b)
        EXPECT_EQ(ramp->img.CurrentMb().intra4_codes[static_cast<size_t>(b)], codes[b]) << b;
    EXPECT_EQ(nz, 0);
}

} // namespace

} // namespace enc_coding_cases_test
