// Intra 4x4 mode decision: each 4x4 block takes the prediction mode with the least SATD plus a bit
// penalty unless it is the most probable mode, and is coded at once, so that the next block predicts
// from reconstructed samples as the decoder will.
#include "h264enc/enc_kernels.h"
#include "h264enc/enc_run.h"
#include "h264enc/mb_predict.h"
#include "h264enc/mode_decision.h"
#include "h264enc/rd_decision.h"
#include "h264enc/trans_quant.h"

#include <algorithm>
#include <cmath>

namespace h264enc {

int choose_intra4x4_mode(EncoderRun &run, int q, int b, double lambda, int *nonzero)
{
    if (run.input.RDOptimization != 0)
        return static_cast<int>(std::min(rd_choose_intra4x4_mode(run, q, b, lambda, nonzero), 1e9));
    EncoderImage &img = run.img;
    MacroblockWork &w = run.mbw;
    const Intra4x4Block k = start_intra4x4_block(run, q, b);
    const int ox = k.ox, oy = k.oy, x = k.x, y = k.y, mostProbable = k.most_probable;
    const Array2D<uint8_t> &org = run.org->y;
    const int penalty = static_cast<int>(std::floor(4 * lambda));
    const bool hadamard = run.input.UseHadamard != 0;
    int best = 1 << 20, bestMode = 2;
    for (int m = 0; m < 9; ++m) {
        if (!w.intra4_ok[m])
            continue;
        int d[16];
        for (int v = 0; v < 4; ++v)
            for (int u = 0; u < 4; ++u)
                d[4 * v + u] = org[y + v][x + u] - w.intra4[m][u][v];
        const int cost = (m == mostProbable ? 0 : penalty) + satd4x4(d, hadamard);
        if (cost < best) {
            best = cost;
            bestMode = m;
        }
    }
    img.ipred_map(k.bx, k.by) = bestMode;
    img.CurrentMb().intra4_codes[static_cast<size_t>(4 * q + b)] = k.Code(bestMode);
    for (int u = 0; u < 4; ++u)
        for (int v = 0; v < 4; ++v) {
            w.pred[ox + u][oy + v] = w.intra4[bestMode][u][v];
            w.resid[u][v] = org[y + v][x + u] - w.intra4[bestMode][u][v];
        }
    int coefCost = 0;
    *nonzero = h264enc_trans_quant_4x4(run, ox, oy, &coefCost);
    if (*nonzero)
        img.CurrentMb().coded_block_bits |= 1 << (4 * (oy / 4) + ox / 4);
    return best;
}

int choose_intra4x4_8x8(EncoderRun &run, int q, double lambda, int *nonzero)
{
    int cost = static_cast<int>(std::floor(6 * lambda + 0.4999));
    *nonzero = 0;
    for (int b = 0; b < 4; ++b) {
        int nz = 0;
        cost += choose_intra4x4_mode(run, q, b, lambda, &nz);
        if (nz)
            *nonzero = 1;
    }
    return cost;
}

int choose_intra4x4_mb(EncoderRun &run, double lambda, int *cbp)
{
    run.img.CurrentMb().coded_block_bits &= ~0xFFFF;
    int cost = 0;
    *cbp = 0;
    for (int q = 0; q < 4; ++q) {
        int nz = 0;
        cost += choose_intra4x4_8x8(run, q, lambda, &nz);
        if (nz)
            *cbp |= 1 << q;
    }
    return cost;
}

} // namespace h264enc
