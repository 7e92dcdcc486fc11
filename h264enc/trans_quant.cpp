// Transform and quantisation. The forward transform and the quantiser are the encoder's own; the
// dequantisation scales, the scans and the inverse transform are the decoder's, shared, so that the
// reconstruction here is the decoder's sample for sample.
#include "h264enc/trans_quant.h"

#include "h264dec/inverse_transform.h"
#include "h264dec/macroblock.h"
#include "h264enc/enc_run.h"

#include <algorithm>
#include <cstdlib>

namespace h264enc {

const int kQuantCoef[6][4][4] = {
    {{13107, 8066, 13107, 8066},
     {8066, 5243, 8066, 5243},
     {13107, 8066, 13107, 8066},
     {8066, 5243, 8066, 5243}},
    {{11916, 7490, 11916, 7490},
     {7490, 4660, 7490, 4660},
     {11916, 7490, 11916, 7490},
     {7490, 4660, 7490, 4660}},
    {{10082, 6554, 10082, 6554},
     {6554, 4194, 6554, 4194},
     {10082, 6554, 10082, 6554},
     {6554, 4194, 6554, 4194}},
    {{9362, 5825, 9362, 5825}, {5825, 3647, 5825, 3647}, {9362, 5825, 9362, 5825}, {5825, 3647, 5825, 3647}},
    {{8192, 5243, 8192, 5243}, {5243, 3355, 5243, 3355}, {8192, 5243, 8192, 5243}, {5243, 3355, 5243, 3355}},
    {{7282, 4559, 7282, 4559}, {4559, 2893, 4559, 2893}, {7282, 4559, 7282, 4559}, {4559, 2893, 4559, 2893}}};

// A lone 1 close behind the previous level is cheap to drop and dear to send; far behind it costs
// little either way.
const int kCoefCost[16] = {3, 2, 2, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

namespace {

bool IsIntraPicture(const EncoderImage &img)
{
    return img.type == kTypeI;
}

// Quantises one coefficient: the level, sign kept.
// Coefficients [i][j] of the 4x4 blocks of a plane area, scanned from position `first`: levels and runs
// into out (ended by a level of 0), dequantised values back into coef. Returns whether a level is
// non-zero and adds the coefficient cost.
bool QuantiseBlock(int coef[4][4], int first, int rem, int per, int f, const int (*scan)[2], int (*out)[65],
                   int *cost)
{
    const int bits = 15 + per;
    int k = 0, run = 0;
    bool nonzero = false;
    for (int p = first; p < 16; ++p) {
        const int i = scan[p][0], j = scan[p][1];
        const int level = Quantise(coef[i][j], kQuantCoef[rem][i][j], f, bits);
        if (level != 0) {
            nonzero = true;
            if (cost)
                *cost += std::abs(level) > 1 ? kLargeLevelCost : kCoefCost[run];
            out[0][k] = level;
            out[1][k] = run;
            ++k;
            run = 0;
            coef[i][j] = (level * kDequantCoef[rem][i][j]) << per;
        } else {
            ++run;
            coef[i][j] = 0;
        }
    }
    out[0][k] = 0;
    out[1][k] = 0;
    return nonzero;
}

} // namespace

void forward4x4(const int in[4][4], int out[4][4])
{
    h264dec_forward4x4_kernel(in, out);
}

int h264enc_trans_quant_4x4(EncoderRun &run, int bx, int by, int *cost)
{
    EncoderImage &img = run.img;
    MacroblockWork &w = run.mbw;
    const int qp = img.CurrentMb().qp;
    const int per = qp / 6, rem = qp % 6;
    const int f = (1 << (15 + per)) / (IsIntraPicture(img) ? 3 : 6);
    int coef[4][4], in[4][4];
    for (int x = 0; x < 4; ++x)
        for (int y = 0; y < 4; ++y)
            in[x][y] = w.resid[x][y];
    h264dec_forward4x4_kernel(in, coef);
    const int q = bx / 8 + 2 * (by / 8), b = (bx % 8) / 4 + 2 * ((by % 8) / 4);
    const bool nonzero = QuantiseBlock(coef, 0, rem, per, f, ScanOf(img), img.cof.cofAC[q][b], cost);
    int pred[4][4], recon[4][4];
    for (int x = 0; x < 4; ++x)
        for (int y = 0; y < 4; ++y)
            pred[x][y] = w.pred[bx + x][by + y];
    h264dec_itrans4x4_kernel(coef, pred, recon, nullptr);
    Array2D<uint8_t> &rec = run.rec->y;
    const int px = img.luma_x() + bx, py = img.luma_y() + by;
    for (int x = 0; x < 4; ++x)
        for (int y = 0; y < 4; ++y) {
            w.resid[x][y] = recon[x][y];
            rec[py + y][px + x] = static_cast<uint8_t>(recon[x][y]);
        }
    return nonzero ? 1 : 0;
}

int h264enc_trans_quant_16x16(EncoderRun &run, int mode)
{
    EncoderImage &img = run.img;
    MacroblockWork &w = run.mbw;
    const int qp = img.CurrentMb().qp;
    const int per = qp / 6, rem = qp % 6, bits = 15 + per;
    const int f = (1 << bits) / 3;
    const int(*scan)[2] = ScanOf(img);
    const Array2D<uint8_t> &org = run.org->y;
    const int px = img.luma_x(), py = img.luma_y();
    const int(*pred)[16] = w.luma16_intra_preds[mode];

    int coef[4][4][4][4]; // [block column][block row][i][j]
    for (int bx = 0; bx < 4; ++bx)
        for (int by = 0; by < 4; ++by) {
            int d[4][4];
            for (int x = 0; x < 4; ++x)
                for (int y = 0; y < 4; ++y)
                    d[x][y] = org[py + 4 * by + y][px + 4 * bx + x] - pred[4 * bx + x][4 * by + y];
            h264dec_forward4x4_kernel(d, coef[bx][by]);
        }

    // Hadamard of the 16 DC terms: rows, then columns halved.
    int dc[4][4]; // [block column][block row]
    for (int by = 0; by < 4; ++by) {
        const int a[4] = {coef[0][by][0][0], coef[1][by][0][0], coef[2][by][0][0], coef[3][by][0][0]};
        const int s0 = a[0] + a[3], s3 = a[0] - a[3], s1 = a[1] + a[2], s2 = a[1] - a[2];
        dc[0][by] = s0 + s1;
        dc[1][by] = s3 + s2;
        dc[2][by] = s0 - s1;
        dc[3][by] = s3 - s2;
    }
    for (int bx = 0; bx < 4; ++bx) {
        const int a[4] = {dc[bx][0], dc[bx][1], dc[bx][2], dc[bx][3]};
        const int s0 = a[0] + a[3], s3 = a[0] - a[3], s1 = a[1] + a[2], s2 = a[1] - a[2];
        dc[bx][0] = (s0 + s1) >> 1;
        dc[bx][1] = (s3 + s2) >> 1;
        dc[bx][2] = (s0 - s1) >> 1;
        dc[bx][3] = (s3 - s2) >> 1;
    }

    // DC levels in scan order, then their inverse Hadamard and scaling (the decoder's).
    int levels[4][4] = {};
    int k = 0, zeros = 0;
    for (int p = 0; p < 16; ++p) {
        const int i = scan[p][0], j = scan[p][1];
        const int level = Quantise(dc[i][j], kQuantCoef[rem][0][0], 2 * f, bits + 1);
        levels[i][j] = level;
        if (level != 0) {
            img.cof.cofDC[0][0][k] = level;
            img.cof.cofDC[0][1][k] = zeros;
            ++k;
            zeros = 0;
        } else {
            ++zeros;
        }
    }
    img.cof.cofDC[0][0][k] = 0;
    img.cof.cofDC[0][1][k] = 0;
    auto hadamard = [](int a[4]) {
        const int t0 = a[0] + a[2], t1 = a[0] - a[2], t2 = a[1] - a[3], t3 = a[1] + a[3];
        a[0] = t0 + t3;
        a[1] = t1 + t2;
        a[2] = t1 - t2;
        a[3] = t0 - t3;
    };
    for (int j = 0; j < 4; ++j) {
        int r[4] = {levels[0][j], levels[1][j], levels[2][j], levels[3][j]};
        hadamard(r);
        for (int i = 0; i < 4; ++i)
            levels[i][j] = r[i];
    }
    for (int i = 0; i < 4; ++i)
        hadamard(levels[i]);

    int ac = 0;
    for (int bx = 0; bx < 4; ++bx)
        for (int by = 0; by < 4; ++by) {
            const int q = bx / 2 + 2 * (by / 2), b = bx % 2 + 2 * (by % 2);
            if (QuantiseBlock(coef[bx][by], 1, rem, per, f, scan, img.cof.cofAC[q][b], nullptr))
                ac = 15;
            coef[bx][by][0][0] = ((levels[bx][by] * kDequantCoef[rem][0][0] << per) + 2) >> 2;
        }

    Array2D<uint8_t> &rec = run.rec->y;
    for (int bx = 0; bx < 4; ++bx)
        for (int by = 0; by < 4; ++by) {
            int p[4][4], recon[4][4];
            for (int x = 0; x < 4; ++x)
                for (int y = 0; y < 4; ++y)
                    p[x][y] = pred[4 * bx + x][4 * by + y];
            h264dec_itrans4x4_kernel(coef[bx][by], p, recon, nullptr);
            for (int x = 0; x < 4; ++x)
                for (int y = 0; y < 4; ++y)
                    rec[py + 4 * by + y][px + 4 * bx + x] = static_cast<uint8_t>(recon[x][y]);
        }
    return ac;
}

void store_chroma_block(EncoderRun &run, int uv, int bx, int by, const int recon[4][4])
{
    const EncoderImage &img = run.img;
    Array2D<uint8_t> &rec = run.rec->uv[uv];
    const int px = img.chroma_pix_x(), py = img.chroma_pix_y();
    for (int x = 0; x < 4; ++x)
        for (int y = 0; y < 4; ++y) {
            run.mbw.resid[4 * bx + x][4 * by + y] = recon[x][y];
            rec[py + 4 * by + y][px + 4 * bx + x] = static_cast<uint8_t>(recon[x][y]);
        }
}

void chroma_dc_2x2(const int coef[2][2][4][4], int out[4])
{
    const int d00 = coef[0][0][0][0], d10 = coef[1][0][0][0], d01 = coef[0][1][0][0], d11 = coef[1][1][0][0];
    out[0] = d00 + d10 + d01 + d11;
    out[1] = d00 - d10 + d01 - d11;
    out[2] = d00 + d10 - d01 - d11;
    out[3] = d00 - d10 - d01 + d11;
}

int h264enc_trans_quant_chroma(EncoderRun &run, int uv, int cr_cbp)
{
    EncoderImage &img = run.img;
    MacroblockWork &w = run.mbw;
    MacroblockRecord &mb = img.CurrentMb();
    const int qpc = kChromaQp[std::clamp(mb.qp, 0, 51)];
    const int per = qpc / 6, rem = qpc % 6, bits = 15 + per;
    const int f = (1 << bits) / (IsIntraPicture(img) ? 3 : 6);
    const int(*scan)[2] = ScanOf(img);

    int coef[2][2][4][4];
    for (int bx = 0; bx < 2; ++bx)
        for (int by = 0; by < 2; ++by) {
            int d[4][4];
            for (int x = 0; x < 4; ++x)
                for (int y = 0; y < 4; ++y)
                    d[x][y] = w.resid[4 * bx + x][4 * by + y];
            h264dec_forward4x4_kernel(d, coef[bx][by]);
        }

    int m[4];
    chroma_dc_2x2(coef, m);
    const int dcBits = 0xF << (16 + 4 * uv);
    int dq[4];
    bool dcNonzero = false;
    int k = 0, zeros = 0;
    for (int p = 0; p < 4; ++p) {
        const int level = Quantise(m[p], kQuantCoef[rem][0][0], 2 * f, bits + 1);
        dq[p] = (level * kDequantCoef[rem][0][0]) << per;
        if (level != 0) {
            dcNonzero = true;
            mb.coded_block_bits |= dcBits;
            cr_cbp = std::max(cr_cbp, 1);
            img.cof.cofDC[1 + uv][0][k] = level;
            img.cof.cofDC[1 + uv][1][k] = zeros;
            ++k;
            zeros = 0;
        } else {
            ++zeros;
        }
    }
    img.cof.cofDC[1 + uv][0][k] = 0;
    img.cof.cofDC[1 + uv][1][k] = 0;

    int acCost = 0;
    bool acNonzero = false;
    for (int bx = 0; bx < 2; ++bx)
        for (int by = 0; by < 2; ++by)
            if (QuantiseBlock(coef[bx][by], 1, rem, per, f, scan, img.cof.cofAC[4 + uv][bx + 2 * by],
                              &acCost)) {
                acNonzero = true;
                mb.coded_block_bits |= 1 << (16 + 4 * uv + bx + 2 * by);
            }
    if (acNonzero && acCost < 4) {
        // A few lone ones are not worth their bits: the component keeps its DC only.
        for (int b = 0; b < 4; ++b)
            img.cof.cofAC[4 + uv][b][0][0] = img.cof.cofAC[4 + uv][b][1][0] = 0;
        for (auto &blockColumn : coef)
            for (auto &block : blockColumn)
                for (int i = 0; i < 4; ++i)
                    for (int j = 0; j < 4; ++j)
                        block[i][j] = 0;
        if (!dcNonzero)
            mb.coded_block_bits &= ~dcBits;
    } else if (acNonzero) {
        cr_cbp = 2;
    }
    coef[0][0][0][0] = (dq[0] + dq[1] + dq[2] + dq[3]) >> 1;
    coef[1][0][0][0] = (dq[0] - dq[1] + dq[2] - dq[3]) >> 1;
    coef[0][1][0][0] = (dq[0] + dq[1] - dq[2] - dq[3]) >> 1;
    coef[1][1][0][0] = (dq[0] - dq[1] - dq[2] + dq[3]) >> 1;

    for (int bx = 0; bx < 2; ++bx)
        for (int by = 0; by < 2; ++by) {
            int p[4][4], recon[4][4];
            for (int x = 0; x < 4; ++x)
                for (int y = 0; y < 4; ++y)
                    p[x][y] = w.cpred[4 * bx + x][4 * by + y];
            h264dec_itrans4x4_kernel(coef[bx][by], p, recon, nullptr);
            store_chroma_block(run, uv, bx, by, recon);
        }
    return cr_cbp;
}

} // namespace h264enc
