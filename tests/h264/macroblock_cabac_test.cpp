// Random CABAC P slices, written here bin by bin with contexts chosen by this file's own reading of
// the neighbour rules (skip flags, types, chroma modes, vector differences, patterns, quantiser
// changes, coded block flags, end of slice), read back element for element.
#include "h264/support/mb_writer.h"
#include "h264dec/macroblock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace macroblock_cabac_test { // one namespace per test file: a folder compiles as one source

namespace {

using namespace h264test;

struct MbModel
{
    int type = 0; // 0 skipped, 1 inter 16x16, 10 intra 16x16
    int cbp = 0;
    int mvd[2] = {};
    int qp_delta = 0;
    int chroma = 2;
};

struct RandomCabacSlice
{
    std::vector<uint8_t> stream;
    std::vector<MbModel> mbs;
};

RandomCabacSlice MakeSlice(std::mt19937 &rng, int W, int H, int model)
{
    RandomCabacSlice out;
    out.mbs.resize(static_cast<size_t>(W * H));
    auto rnd = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    StreamBuilder b(W, H, true);
    SliceHeaderFields h;
    h.slice_type = 5;
    h.cabac_init_idc = model;
    b.CabacSlice(h, false, [&](CabacSliceData &d) {
        int qp = 26;
        for (int m = 0; m < W * H; ++m) {
            const int x = m % W, y = m / W;
            const MbModel *up = y > 0 ? &out.mbs[static_cast<size_t>(m - W)] : nullptr;
            const MbModel *left = x > 0 ? &out.mbs[static_cast<size_t>(m - 1)] : nullptr;
            MbModel &cur = out.mbs[static_cast<size_t>(m)];
            const int kind = rnd(3);
            const int a = up && up->type != 0, bb = left && left->type != 0;
            d.Bin(d.mi.mb_type_contexts[1][a + bb], kind != 0);
            if (kind == 0) {
                if (m + 1 < W * H)
                    d.EndOfSlice(0);
                continue;
            }
            auto *p = d.mi.mb_type_contexts[1];
            const bool intra = kind == 2;
            if (!intra) {
                cur.type = 1;
                d.Bin(p[4], 0);
                d.Bin(p[5], 0);
                d.Bin(p[6], 0);
            } else {
                cur.type = 10;
                const int chroma = rnd(3), mode = rnd(4);
                cur.cbp = 16 * chroma;
                d.Bin(p[4], 1);
                d.Bin(p[7], 1);
                d.Bin(p[8], 0); // no luma AC
                d.Bin(p[9], chroma != 0);
                if (chroma)
                    d.Bin(p[9], chroma == 2);
                d.Bin(p[10], mode >> 1);
                d.Bin(p[10], mode & 1);
                cur.chroma = rnd(4);
                const int ca = up && up->chroma != 0, cb = left && left->chroma != 0;
                d.Bin(d.ti.cipr_contexts[ca + cb], cur.chroma != 0);
                if (cur.chroma) {
                    d.Bin(d.ti.cipr_contexts[3], cur.chroma > 1);
                    if (cur.chroma > 1)
                        d.Bin(d.ti.cipr_contexts[3], cur.chroma > 2);
                }
            }
            if (!intra) {
                for (int c = 0; c < 2; ++c) {
                    const int sum = (up ? std::abs(up->mvd[c]) : 0) + (left ? std::abs(left->mvd[c]) : 0);
                    const int inc = sum < 3 ? 0 : sum <= 32 ? 2 : 3;
                    const int v = rnd(3) == 0 ? 0 : rnd(41) - 20;
                    cur.mvd[c] = v;
                    d.Bin(d.mi.mv_res_contexts[0][5 * c + inc], v != 0);
                    if (v) {
                        d.Bypass(v < 0);
                        const int s = std::abs(v) - 1;
                        for (int k = 0; k < std::min(s, 8); ++k)
                            d.Bin(d.mi.mv_res_contexts[1][5 * c + std::min(k, 3)], 1);
                        if (s < 8)
                            d.Bin(d.mi.mv_res_contexts[1][5 * c + std::min(s, 3)], 0);
                        else
                            d.ExpGolomb(s - 8, 3);
                    }
                }
                cur.cbp = rnd(16) + 16 * rnd(3);
                for (int q = 0; q < 4; ++q) {
                    const int qx = q % 2, qy = q / 2;
                    int u = 0, l = 0;
                    if (qy)
                        u = !((cur.cbp >> (q - 2)) & 1);
                    else if (up)
                        u = !((up->cbp >> (2 + qx)) & 1);
                    if (qx)
                        l = !((cur.cbp >> (q - 1)) & 1);
                    else if (left)
                        l = !((left->cbp >> (q + 1)) & 1);
                    d.Bin(d.ti.cbp_contexts[0][2 * u + l], (cur.cbp >> q) & 1);
                }
                const int u1 = up && up->cbp > 15, l1 = left && left->cbp > 15;
                d.Bin(d.ti.cbp_contexts[1][2 * u1 + l1], cur.cbp > 15);
                if (cur.cbp > 15) {
                    const int u2 = up && up->cbp > 31, l2 = left && left->cbp > 31;
                    d.Bin(d.ti.cbp_contexts[2][2 * u2 + l2], cur.cbp > 31);
                }
            }
            if (intra || cur.cbp) {
                cur.qp_delta = std::clamp(rnd(7) - 3, -qp, 51 - qp); // the quantiser stays in 0..51
                qp += cur.qp_delta;
                const int qa = left && left->qp_delta != 0;
                d.Bin(d.mi.delta_qp_contexts[qa], cur.qp_delta != 0);
                if (cur.qp_delta) {
                    const int k = cur.qp_delta > 0 ? 2 * cur.qp_delta - 1 : -2 * cur.qp_delta;
                    d.Bin(d.mi.delta_qp_contexts[2], k > 1);
                    for (int j = 2; j < k; ++j)
                        d.Bin(d.mi.delta_qp_contexts[3], 1);
                    if (k > 1)
                        d.Bin(d.mi.delta_qp_contexts[3], 0);
                }
            }
            // Every coded block flag 0: neighbours' flags are then 0, and a missing neighbour counts
            // as coded for intra macroblocks only.
            const int miss = intra ? 1 : 0;
            auto flag = [&](int type, bool upInside, bool leftInside) {
                const int fu = upInside ? 0 : up ? 0 : miss, fl = leftInside ? 0 : left ? 0 : miss;
                d.Bin(d.ti.bcbp_contexts[kCbfRowOfBlockType[type]][2 * fu + fl], 0);
            };
            if (intra)
                flag(0, false, false);
            for (int q = 0; q < 4; ++q)
                for (int k = 0; k < 4; ++k)
                    if (!intra && ((cur.cbp >> q) & 1)) {
                        const int i = 2 * (q % 2) + k % 2, j = 2 * (q / 2) + k / 2;
                        flag(5, j > 0, i > 0);
                    }
            if (cur.cbp > 15)
                for (int plane = 0; plane < 2; ++plane)
                    flag(6, false, false);
            if (cur.cbp > 31)
                for (int plane = 0; plane < 2; ++plane)
                    for (int j = 0; j < 2; ++j)
                        for (int i = 0; i < 2; ++i)
                            flag(7, j > 0, i > 0);
            if (m + 1 < W * H)
                d.EndOfSlice(0);
        }
    });
    out.stream = b.stream;
    return out;
}

TEST(MacroblockCabac, RandomPredictedSlicesReadBack)
{
    std::mt19937 rng(8);
    for (int n = 0; n < 150; ++n) {
        const RandomCabacSlice s = MakeSlice(rng, 4, 3, n % 3);
        DecodedStream d = DecodeStream(s.stream);
        ASSERT_FALSE(d.failed) << n << ": " << d.message;
        ASSERT_EQ(d.result.macroblocks, 12) << n;
        for (int m = 0; m < 12; ++m) {
            const MbModel &e = s.mbs[static_cast<size_t>(m)];
            DecoderMacroblock &got = d.Mb(m);
            ASSERT_EQ(got.mb_type, e.type) << n << "/" << m;
            EXPECT_EQ(got.coded_block_pattern, e.cbp) << n << "/" << m;
            EXPECT_EQ(got.qp_delta, e.qp_delta) << n << "/" << m;
            EXPECT_EQ(got.chroma_pred_mode, e.chroma) << n << "/" << m;
            EXPECT_EQ(got.mvd[0][3][3][0], e.mvd[0]) << n << "/" << m;
            EXPECT_EQ(got.mvd[0][3][3][1], e.mvd[1]) << n << "/" << m;
            EXPECT_EQ(got.cbp_bits, 0) << n << "/" << m;
        }
    }
}

} // namespace

} // namespace macroblock_cabac_test
