// Inverse transforms and SP requantisation.
#include "h264dec/inverse_transform.h"

#include "h264dec/macroblock.h"

#include <algorithm>
#include <cstdlib>

namespace {

// Requantisation multipliers of SP blocks, [qs % 6][i][j].
constexpr int kQuantBase[6][3] = {{13107, 5243, 8066}, {11916, 4660, 7490}, {10082, 4194, 6554},
                                  {9362, 3647, 5825},  {8192, 3355, 5243},  {7282, 2893, 4559}};
int QuantCoef(int rem, int i, int j)
{
    const bool ie = i % 2 == 0, je = j % 2 == 0;
    return kQuantBase[rem][ie && je ? 0 : (!ie && !je) ? 1 : 2];
}
// The transform's gain per position: 16 where both indices are even, 25 where both are odd.
int GainA(int i, int j)
{
    const bool ie = i % 2 == 0, je = j % 2 == 0;
    return ie && je ? 16 : (!ie && !je) ? 25 : 20;
}

// One butterfly of the inverse transform.
void Inverse1D(const int m[4], int out[4])
{
    const int e0 = m[0] + m[2], e1 = m[0] - m[2];
    const int e2 = (m[1] >> 1) - m[3], e3 = m[1] + (m[3] >> 1);
    out[0] = e0 + e3;
    out[1] = e1 + e2;
    out[2] = e1 - e2;
    out[3] = e0 - e3;
}

void Forward1D(const int a[4], int out[4])
{
    const int s0 = a[0] + a[3], s1 = a[1] + a[2], d0 = a[0] - a[3], d1 = a[1] - a[2];
    out[0] = s0 + s1;
    out[1] = 2 * d0 + d1;
    out[2] = s0 - s1;
    out[3] = d0 - 2 * d1;
}

// Prediction plus residual at the switching quantiser: the requantised, rescaled coefficient.
int RequantiseAc(int coef, int predCoef, int q, int qs, int i, int j)
{
    const int qsBits = 15 + qs / 6, qsRound = (1 << qsBits) / 2;
    const int ls = kDequantCoef[q % 6][i][j];
    const int level = (coef >> (q / 6)) / ls;
    int v = ((level * ls * GainA(i, j)) << (q / 6) >> 6) + predCoef;
    v = h264dec_sign((std::abs(v) * QuantCoef(qs % 6, i, j) + qsRound) >> qsBits, v);
    return (v * kDequantCoef[qs % 6][i][j]) << (qs / 6);
}

// The quantiser SP blocks are requantised from and to.
void SpQuantisers(const DecoderImage &img, int &q, int &qs)
{
    qs = img.qpsp;
    q = (img.type == kPictureSI || (IsSPPicture(img.type) && img.sp_switch)) ? qs : img.qp;
}

} // namespace

int h264dec_sign(int a, int b)
{
    return b > 0 ? std::abs(a) : -std::abs(a);
}

void h264dec_itrans4x4_reference(const int coef[4][4], const int pred[4][4], int recon[4][4], int resid[4][4])
{
    int tmp[4][4]; // [x][j]
    for (int j = 0; j < 4; ++j) {
        const int m[4] = {coef[0][j], coef[1][j], coef[2][j], coef[3][j]};
        int o[4];
        Inverse1D(m, o);
        for (int x = 0; x < 4; ++x)
            tmp[x][j] = o[x];
    }
    for (int x = 0; x < 4; ++x) {
        int o[4];
        Inverse1D(tmp[x], o);
        for (int y = 0; y < 4; ++y) {
            if (recon)
                recon[x][y] = Clip255((o[y] + 64 * pred[x][y] + 32) >> 6);
            if (resid)
                resid[x][y] = Clip255((o[y] + 32) >> 6);
        }
    }
}

void h264dec_itrans4x4_kernel(const int coef[4][4], const int pred[4][4], int recon[4][4], int resid[4][4])
{
    // Most blocks of a coded picture carry no coefficients, or only their DC: every output sample
    // of such a block is the same value r (0 for none), so the butterflies are skipped.
    int ac = 0;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            ac |= (i | j) ? coef[i][j] : 0;
    if (ac == 0) {
        const int r = coef[0][0];
        const int res = Clip255((r + 32) >> 6);
        for (int x = 0; x < 4; ++x)
            for (int y = 0; y < 4; ++y) {
                if (recon)
                    recon[x][y] = r == 0 ? Clip255(pred[x][y]) : Clip255((r + 64 * pred[x][y] + 32) >> 6);
                if (resid)
                    resid[x][y] = res;
            }
        return;
    }
    int t[4][4]; // [x][j]: the horizontal pass, rows of the block
    for (int j = 0; j < 4; ++j) {
        const int e0 = coef[0][j] + coef[2][j], e1 = coef[0][j] - coef[2][j];
        const int e2 = (coef[1][j] >> 1) - coef[3][j], e3 = coef[1][j] + (coef[3][j] >> 1);
        t[0][j] = e0 + e3;
        t[1][j] = e1 + e2;
        t[2][j] = e1 - e2;
        t[3][j] = e0 - e3;
    }
    for (int x = 0; x < 4; ++x) {
        const int *c = t[x];
        const int e0 = c[0] + c[2], e1 = c[0] - c[2], e2 = (c[1] >> 1) - c[3], e3 = c[1] + (c[3] >> 1);
        const int r[4] = {e0 + e3, e1 + e2, e1 - e2, e0 - e3};
        for (int y = 0; y < 4; ++y) {
            if (recon)
                recon[x][y] = Clip255((r[y] + 64 * pred[x][y] + 32) >> 6);
            if (resid)
                resid[x][y] = Clip255((r[y] + 32) >> 6);
        }
    }
}

void h264dec_itrans4x4_add(const int coef[4][4], const uint8_t *pred, int pred_stride, uint8_t *dst,
                           int dst_stride)
{
    int ac = 0;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            ac |= (i | j) ? coef[i][j] : 0;
    if (ac == 0) {
        // (r + 64 p + 32) >> 6 is p + ((r + 32) >> 6): 64 p passes the shift whole.
        const int add = (coef[0][0] + 32) >> 6;
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x)
                dst[y * dst_stride + x] = static_cast<uint8_t>(Clip255(pred[y * pred_stride + x] + add));
        return;
    }
    // With AC coefficients: the butterflies of the kernel, on the prediction in its [x][y] order.
    int p[4][4], recon[4][4];
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            p[x][y] = pred[y * pred_stride + x];
    h264dec_itrans4x4_kernel(coef, p, recon, nullptr);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            dst[y * dst_stride + x] = static_cast<uint8_t>(recon[x][y]);
}

void h264dec_forward4x4_kernel(const int in[4][4], int out[4][4])
{
    int tmp[4][4]; // [i][y]
    for (int y = 0; y < 4; ++y) {
        const int a[4] = {in[0][y], in[1][y], in[2][y], in[3][y]};
        int o[4];
        Forward1D(a, o);
        for (int i = 0; i < 4; ++i)
            tmp[i][y] = o[i];
    }
    for (int i = 0; i < 4; ++i)
        Forward1D(tmp[i], out[i]);
}

void h264dec_itrans_4x4(DecoderImage &img, int ioff, int joff, int i0, int j0)
{
    int pred[4][4], recon[4][4], resid[4][4];
    for (int x = 0; x < 4; ++x)
        for (int y = 0; y < 4; ++y)
            pred[x][y] = img.pred_block[ioff + x][joff + y];
    h264dec_itrans4x4_kernel(img.coef[i0][j0], pred, recon, resid);
    for (int x = 0; x < 4; ++x)
        for (int y = 0; y < 4; ++y) {
            img.resid_block[x][y] = recon[x][y];
            img.work_block[x][y] = resid[x][y];
        }
}

void h264dec_itrans_luma_dc(DecoderImage &img)
{
    int m[4][4]; // [i][j] of the DC grid
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            m[i][j] = img.coef[i][j][0][0];
    auto hadamard = [](int a[4]) {
        const int s02 = a[0] + a[2], d02 = a[0] - a[2], d13 = a[1] - a[3], s13 = a[1] + a[3];
        a[0] = s02 + s13;
        a[3] = s02 - s13;
        a[1] = d02 + d13;
        a[2] = d02 - d13;
    };
    for (int j = 0; j < 4; ++j) {
        int r[4] = {m[0][j], m[1][j], m[2][j], m[3][j]};
        hadamard(r);
        for (int i = 0; i < 4; ++i)
            m[i][j] = r[i];
    }
    for (int i = 0; i < 4; ++i)
        hadamard(m[i]);
    const int ls = kDequantCoef[img.qp % 6][0][0], per = img.qp / 6;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            img.coef[i][j][0][0] = ((m[i][j] * ls << per) + 2) >> 2;
}

void h264dec_itrans_sp(DecoderImage &img, int ioff, int joff, int i0, int j0)
{
    int q = 0, qs = 0;
    SpQuantisers(img, q, qs);
    int pred[4][4], predCoef[4][4];
    for (int x = 0; x < 4; ++x)
        for (int y = 0; y < 4; ++y)
            pred[x][y] = img.pred_block[ioff + x][joff + y];
    h264dec_forward4x4_kernel(pred, predCoef);
    int coef[4][4];
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            coef[i][j] = RequantiseAc(img.coef[i0][j0][i][j], predCoef[i][j], q, qs, i, j);
    const int zero[4][4] = {};
    int recon[4][4];
    h264dec_itrans4x4_kernel(coef, zero, recon, nullptr);
    for (int x = 0; x < 4; ++x)
        for (int y = 0; y < 4; ++y)
            img.resid_block[x][y] = recon[x][y];
}

void h264dec_itrans_sp_chroma(DecoderImage &img, int uv2)
{
    int q = 0, qs = 0;
    SpQuantisers(img, q, qs);
    const int qc = kChromaQp[std::clamp(q, 0, 51)], qsc = kChromaQp[std::clamp(qs, 0, 51)];
    const int qsBits = 15 + qsc / 6, qsRound = (1 << qsBits) / 2;
    const int c0 = uv2;

    int predCoef[2][2][4][4]; // [block column][block row][i][j]
    for (int bx = 0; bx < 2; ++bx)
        for (int by = 0; by < 2; ++by) {
            int pred[4][4];
            for (int x = 0; x < 4; ++x)
                for (int y = 0; y < 4; ++y) {
                    pred[x][y] = img.pred_block[4 * bx + x][4 * by + y];
                    img.pred_block[4 * bx + x][4 * by + y] = 0;
                }
            h264dec_forward4x4_kernel(pred, predCoef[bx][by]);
        }
    // The 2x2 transform of the prediction DCs (sum, horizontal, vertical, diagonal difference).
    const int p0 = predCoef[0][0][0][0], p1 = predCoef[1][0][0][0];
    const int p2 = predCoef[0][1][0][0], p3 = predCoef[1][1][0][0];
    const int pdc[4] = {p0 + p1 + p2 + p3, p0 - p1 + p2 - p3, p0 + p1 - p2 - p3, p0 - p1 - p2 + p3};
    int *dcSlot[4] = {&img.coef[c0][4][0][0], &img.coef[c0 + 1][4][0][0], &img.coef[c0][5][0][0],
                      &img.coef[c0 + 1][5][0][0]};
    int dc[4];
    for (int k = 0; k < 4; ++k) {
        const int ls = kDequantCoef[qc % 6][0][0];
        int v = pdc[k] + (((*dcSlot[k]) * ls * 16) << (qc / 6) >> 5);
        v = h264dec_sign((std::abs(v) * QuantCoef(qsc % 6, 0, 0) + 2 * qsRound) >> (qsBits + 1), v);
        dc[k] = (v * kDequantCoef[qsc % 6][0][0]) << (qsc / 6);
    }
    for (int bx = 0; bx < 2; ++bx)
        for (int by = 0; by < 2; ++by)
            for (int i = 0; i < 4; ++i)
                for (int j = 0; j < 4; ++j) {
                    if (i == 0 && j == 0)
                        continue;
                    int &c = img.coef[c0 + bx][4 + by][i][j];
                    c = RequantiseAc(c, predCoef[bx][by][i][j], qc, qsc, i, j);
                }
    img.coef[c0][4][0][0] = (dc[0] + dc[1] + dc[2] + dc[3]) >> 1;
    img.coef[c0 + 1][4][0][0] = (dc[0] - dc[1] + dc[2] - dc[3]) >> 1;
    img.coef[c0][5][0][0] = (dc[0] + dc[1] - dc[2] - dc[3]) >> 1;
    img.coef[c0 + 1][5][0][0] = (dc[0] - dc[1] - dc[2] + dc[3]) >> 1;
}
