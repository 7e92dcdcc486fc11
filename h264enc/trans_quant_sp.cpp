// SP pictures: a switching picture reconstructs every inter block at a second quantiser. The decoder
// adds the transformed prediction to the dequantised levels and quantises the sum again at QS; the
// encoder sends levels of the prediction error at the picture's quantiser and reconstructs by the same
// arithmetic, so both sides hold identical pictures.
#include "h264dec/inverse_transform.h"
#include "h264dec/macroblock.h"
#include "h264enc/enc_run.h"
#include "h264enc/trans_quant.h"

#include <algorithm>
#include <cstdlib>

namespace h264enc {

namespace {

// The transform's gain per position.
int Gain(int i, int j)
{
    const bool ie = i % 2 == 0, je = j % 2 == 0;
    return ie && je ? 16 : (!ie && !je) ? 25 : 20;
}

// Level `level` at quantiser q plus the prediction coefficient, requantised and rescaled at qs.
int Requantise(int level, int predCoef, int q, int qs, int i, int j)
{
    const int qsBits = 15 + qs / 6, qsRound = (1 << qsBits) / 2;
    const int v = ((level * kDequantCoef[q % 6][i][j] * Gain(i, j)) << (q / 6) >> 6) + predCoef;
    const int lq = h264dec_sign((std::abs(v) * kQuantCoef[qs % 6][i][j] + qsRound) >> qsBits, v);
    return (lq * kDequantCoef[qs % 6][i][j]) << (qs / 6);
}

// Reconstructs one luma block from its levels (null: none) and its prediction.
void ReconstructLuma(EncoderRun &run, int bx, int by, const int levels[4][4])
{
    EncoderImage &img = run.img;
    MacroblockWork &w = run.mbw;
    const int q = img.CurrentMb().qp, qs = img.qpsp;
    int pred[4][4], predCoef[4][4], coef[4][4], recon[4][4];
    for (int x = 0; x < 4; ++x)
        for (int y = 0; y < 4; ++y)
            pred[x][y] = w.pred[bx + x][by + y];
    h264dec_forward4x4_kernel(pred, predCoef);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            coef[i][j] = Requantise(levels ? levels[i][j] : 0, predCoef[i][j], q, qs, i, j);
    const int zero[4][4] = {};
    h264dec_itrans4x4_kernel(coef, zero, recon, nullptr);
    Array2D<uint8_t> &rec = run.rec->y;
    const int px = img.luma_x() + bx, py = img.luma_y() + by;
    for (int x = 0; x < 4; ++x)
        for (int y = 0; y < 4; ++y) {
            w.resid[x][y] = recon[x][y];
            rec[py + y][px + x] = static_cast<uint8_t>(recon[x][y]);
        }
}

} // namespace

int quant_luma_4x4_sp(EncoderRun &run, int bx, int by, int *cost)
{
    EncoderImage &img = run.img;
    MacroblockWork &w = run.mbw;
    const int qp = img.CurrentMb().qp;
    const int per = qp / 6, rem = qp % 6, bits = 15 + per;
    const int f = (1 << bits) / 6;
    int in[4][4], coef[4][4], levels[4][4] = {};
    for (int x = 0; x < 4; ++x)
        for (int y = 0; y < 4; ++y)
            in[x][y] = w.resid[x][y];
    h264dec_forward4x4_kernel(in, coef);
    const int q = bx / 8 + 2 * (by / 8), b = (bx % 8) / 4 + 2 * ((by % 8) / 4);
    int(*out)[65] = img.cof.cofAC[q][b];
    const int(*scan)[2] = ScanOf(img);
    int k = 0, zeros = 0;
    bool nonzero = false;
    for (int p = 0; p < 16; ++p) {
        const int i = scan[p][0], j = scan[p][1];
        const int level = Quantise(coef[i][j], kQuantCoef[rem][i][j], f, bits);
        levels[i][j] = level;
        if (level == 0) {
            ++zeros;
            continue;
        }
        nonzero = true;
        *cost += std::abs(level) > 1 ? kLargeLevelCost : kCoefCost[zeros];
        out[0][k] = level;
        out[1][k] = zeros;
        ++k;
        zeros = 0;
    }
    out[0][k] = out[1][k] = 0;
    ReconstructLuma(run, bx, by, levels);
    return nonzero ? 1 : 0;
}

void requant_prediction_sp(EncoderRun &run, int bx, int by)
{
    ReconstructLuma(run, bx, by, nullptr);
}

int quant_chroma_sp(EncoderRun &run, int uv, int cr_cbp)
{
    EncoderImage &img = run.img;
    MacroblockWork &w = run.mbw;
    MacroblockRecord &mb = img.CurrentMb();
    const int qc = kChromaQp[std::clamp(mb.qp, 0, 51)], qsc = kChromaQp[std::clamp(img.qpsp, 0, 51)];
    const int per = qc / 6, rem = qc % 6, bits = 15 + per;
    const int f = (1 << bits) / 6;
    const int(*scan)[2] = ScanOf(img);

    int coef[2][2][4][4], predCoef[2][2][4][4];
    for (int bx = 0; bx < 2; ++bx)
        for (int by = 0; by < 2; ++by) {
            int d[4][4], p[4][4];
            for (int x = 0; x < 4; ++x)
                for (int y = 0; y < 4; ++y) {
                    d[x][y] = w.resid[4 * bx + x][4 * by + y];
                    p[x][y] = w.cpred[4 * bx + x][4 * by + y];
                }
            h264dec_forward4x4_kernel(d, coef[bx][by]);
            h264dec_forward4x4_kernel(p, predCoef[bx][by]);
        }
    int m[4], pdc[4];
    chroma_dc_2x2(coef, m);
    chroma_dc_2x2(predCoef, pdc);
    const int dcBits = 0xF << (16 + 4 * uv);
    const int qsBits = 15 + qsc / 6, qsRound = (1 << qsBits) / 2;
    int dc[4];
    int k = 0, zeros = 0;
    for (int p = 0; p < 4; ++p) {
        const int level = Quantise(m[p], kQuantCoef[rem][0][0], 2 * f, bits + 1);
        int v = pdc[p] + ((level * kDequantCoef[rem][0][0] * 16) << per >> 5);
        v = h264dec_sign((std::abs(v) * kQuantCoef[qsc % 6][0][0] + 2 * qsRound) >> (qsBits + 1), v);
        dc[p] = (v * kDequantCoef[qsc % 6][0][0]) << (qsc / 6);
        if (level != 0) {
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
    img.cof.cofDC[1 + uv][0][k] = img.cof.cofDC[1 + uv][1][k] = 0;

    int levels[2][2][4][4] = {};
    int acCost = 0;
    bool acNonzero = false;
    for (int bx = 0; bx < 2; ++bx)
        for (int by = 0; by < 2; ++by) {
            int(*out)[65] = img.cof.cofAC[4 + uv][bx + 2 * by];
            int kk = 0, run0 = 0;
            for (int p = 1; p < 16; ++p) {
                const int i = scan[p][0], j = scan[p][1];
                const int level = Quantise(coef[bx][by][i][j], kQuantCoef[rem][i][j], f, bits);
                levels[bx][by][i][j] = level;
                if (level == 0) {
                    ++run0;
                    continue;
                }
                acNonzero = true;
                mb.coded_block_bits |= 1 << (16 + 4 * uv + bx + 2 * by);
                acCost += std::abs(level) > 1 ? kLargeLevelCost : kCoefCost[run0];
                out[0][kk] = level;
                out[1][kk] = run0;
                ++kk;
                run0 = 0;
            }
            out[0][kk] = out[1][kk] = 0;
        }
    if (acNonzero && acCost < 4) {
        for (int b = 0; b < 4; ++b)
            img.cof.cofAC[4 + uv][b][0][0] = img.cof.cofAC[4 + uv][b][1][0] = 0;
        for (auto &col : levels)
            for (auto &blk : col)
                for (auto &row : blk)
                    std::fill(std::begin(row), std::end(row), 0);
        if (cr_cbp == 0 || !(mb.coded_block_bits & dcBits))
            mb.coded_block_bits &= ~dcBits;
    } else if (acNonzero) {
        cr_cbp = 2;
    }

    for (int bx = 0; bx < 2; ++bx)
        for (int by = 0; by < 2; ++by) {
            int out[4][4];
            for (int i = 0; i < 4; ++i)
                for (int j = 0; j < 4; ++j)
                    out[i][j] = i == 0 && j == 0
                                    ? 0
                                    : Requantise(levels[bx][by][i][j], predCoef[bx][by][i][j], qc, qsc, i, j);
            out[0][0] =
                bx == 0
                    ? (by == 0 ? (dc[0] + dc[1] + dc[2] + dc[3]) >> 1 : (dc[0] + dc[1] - dc[2] - dc[3]) >> 1)
                    : (by == 0 ? (dc[0] - dc[1] + dc[2] - dc[3]) >> 1 : (dc[0] - dc[1] - dc[2] + dc[3]) >> 1);
            const int zero[4][4] = {};
            int recon[4][4];
            h264dec_itrans4x4_kernel(out, zero, recon, nullptr);
            store_chroma_block(run, uv, bx, by, recon);
        }
    return cr_cbp;
}

} // namespace h264enc
