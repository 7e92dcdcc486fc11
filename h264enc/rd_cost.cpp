// Rate-distortion costs: a candidate is coded for real (reconstruction into the picture), written through
// the entropy writers the slice uses so that its bits are the bits it would cost, and the writers are put
// back. J = distortion + lambda x bits, the distortion the sum of squared errors of the reconstruction.
#include "h264dec/decoder_records.h"
#include "h264enc/cabac_write.h"
#include "h264enc/cavlc_write.h"
#include "h264enc/enc_run.h"
#include "h264enc/mb_predict.h"
#include "h264enc/mb_write.h"
#include "h264enc/mode_decision.h"
#include "h264enc/rd_decision.h"
#include "h264enc/trans_quant.h"

#include <algorithm>
#include <cmath>

namespace h264enc {

namespace {

bool IsSp(const EncoderImage &img)
{
    return img.type == kTypeSP || img.sp_mode == kSpMode;
}

// The intra 4x4 mode element of one block, as the macroblock writer sends it.
int WriteIntraMode(EncoderRun &run, int q, int b, int code)
{
    EncoderImage &img = run.img;
    SyntaxItem item;
    item.category = IsB(img) ? SE_BFRAME : SE_INTRAPREDMODE;
    item.value = code;
    item.context = 4 * q + b;
    item.write_fn = cabac_write_intra_mode;
    if (IsCabac(run))
        return write_syntax_element(run, item);
    Slice &slice = *img.current_slice;
    const size_t p = static_cast<size_t>(assignSE2partition[run.input.PartitionMode ? 1 : 0][item.category]);
    return write_intra_pred_mode(&item, &slice.partArr[p < slice.partArr.size() ? p : 0]);
}

int WriteLumaBlock(EncoderRun &run, int q, int b, int intra)
{
    return IsCabac(run) ? write_luma_block_cabac(run, q, b, intra)
                        : writeCoeff4x4_CAVLC(run.input, run.img, kLuma, q, b, 0);
}

// Transform-codes the 4x4 intra block (q, b) with prediction `mode` of run.mbw.intra4.
int CodeIntraBlock(EncoderRun &run, int q, int b, int mode)
{
    MacroblockWork &w = run.mbw;
    const EncoderImage &img = run.img;
    const int ox = 8 * (q % 2) + 4 * (b % 2), oy = 8 * (q / 2) + 4 * (b / 2);
    const int x = img.luma_x() + ox, y = img.luma_y() + oy;
    const Array2D<uint8_t> &org = run.org->y;
    for (int u = 0; u < 4; ++u)
        for (int v = 0; v < 4; ++v) {
            w.pred[ox + u][oy + v] = w.intra4[mode][u][v];
            w.resid[u][v] = org[y + v][x + u] - w.intra4[mode][u][v];
        }
    int coefCost = 0;
    return h264enc_trans_quant_4x4(run, ox, oy, &coefCost);
}

} // namespace

double rd_mode_lambda(const EncoderParams &input, const EncoderImage &img, int qp)
{
    const double q = qp - 12;
    const bool b = img.type == kTypeB;
    const double sp = std::max(1.4, std::min(3.0, q / 12.0));
    if (input.NumberBFrames == 0) {
        const double f = b ? 4.0 : IsSp(img) ? sp : 1.0;
        return 0.85 * std::pow(2.0, q / 3.0) * f;
    }
    const double f = b ? std::max(2.0, std::min(4.0, q / 6.0)) : IsSp(img) ? sp : 1.0;
    return 0.68 * std::pow(2.0, q / 3.0) * f;
}

double rd_motion_lambda(double mode_lambda)
{
    return std::sqrt(mode_lambda);
}

int rd_reference_cost(const EncoderRun &run, int r)
{
    const EncoderParams &in = run.input;
    if ((in.NumberReferenceFrames <= 1 && in.AdditionalReferenceFrame <= 0) ||
        run.img.num_ref_idx_l0_active_minus1 < 1)
        return 0;
    return (run.motion.fixed_lambda * run.search.Refbits(r)) >> 16;
}

void alloc_coding_states(EncoderRun &run)
{
    RdState &rd = run.rd;
    if (!rd.cs_split) {
        rd.cs_split = init_coding_state(run.input);
        rd.cs_quarter = init_coding_state(run.input);
        rd.cs_trial = init_coding_state(run.input);
        rd.cs_block = init_coding_state(run.input);
    }
}

void free_coding_states(EncoderRun &run)
{
    RdState &rd = run.rd;
    for (std::unique_ptr<CodingState> *cs : {&rd.cs_split, &rd.cs_quarter, &rd.cs_trial, &rd.cs_block})
        free_coding_state(*cs);
}

long long rd_luma_sse(const EncoderRun &run, int x, int y, int w, int h)
{
    const Array2D<uint8_t> &org = run.org->y, &rec = run.rec->y;
    long long sum = 0;
    for (int v = y; v < y + h; ++v)
        for (int u = x; u < x + w; ++u)
            sum += run.img.quad(org[v][u] - rec[v][u]);
    return sum;
}

long long rd_chroma_sse(const EncoderRun &run, int uv, int x, int y, int w, int h)
{
    const Array2D<uint8_t> &org = run.org->uv[uv], &rec = run.rec->uv[uv];
    long long sum = 0;
    for (int v = y; v < y + h; ++v)
        for (int u = x; u < x + w; ++u)
            sum += run.img.quad(org[v][u] - rec[v][u]);
    return sum;
}

double rd_cost_intra4x4(EncoderRun &run, int q, int b, int mode, double lambda, int most_probable)
{
    const EncoderImage &img = run.img;
    const int x = img.luma_x() + 8 * (q % 2) + 4 * (b % 2), y = img.luma_y() + 8 * (q / 2) + 4 * (b / 2);
    CodeIntraBlock(run, q, b, mode);
    const long long distortion = rd_luma_sse(run, x, y, 4, 4);
    const int code = mode == most_probable ? -1 : mode < most_probable ? mode : mode - 1;
    const int bits = WriteIntraMode(run, q, b, code) + WriteLumaBlock(run, q, b, 1);
    return bits * lambda + static_cast<double>(distortion);
}

double rd_choose_intra4x4_mode(EncoderRun &run, int q, int b, double lambda, int *nonzero)
{
    EncoderImage &img = run.img;
    RdState &rd = run.rd;
    MacroblockRecord &mb = img.CurrentMb();
    const Intra4x4Block k = start_intra4x4_block(run, q, b);
    const int ox = k.ox, oy = k.oy, mostProbable = k.most_probable;
    double best = 1e30;
    int bestMode = 2;
    for (int m = 0; m < 9; ++m) {
        if (!run.mbw.intra4_ok[m])
            continue;
        save_coding_state(rd.cs_block.get(), run.input, img);
        const double j = rd_cost_intra4x4(run, q, b, m, lambda, mostProbable);
        restore_coding_state(rd.cs_block.get(), run.input, img);
        if (j < best) {
            best = j;
            bestMode = m;
        }
    }
    img.ipred_map(k.bx, k.by) = bestMode;
    mb.intra4_codes[static_cast<size_t>(4 * q + b)] = k.Code(bestMode);
    *nonzero = CodeIntraBlock(run, q, b, bestMode);
    if (*nonzero)
        mb.coded_block_bits |= 1 << (4 * (oy / 4) + ox / 4);
    if (!IsCabac(run)) {
        // The block's coefficient count predicts the code tables of the blocks after it.
        save_coding_state(rd.cs_block.get(), run.input, img);
        WriteLumaBlock(run, q, b, 1);
        restore_coding_state(rd.cs_block.get(), run.input, img);
    }
    return best;
}

double rd_cost_8x8(EncoderRun &run, int q, int sub, int dir, int fwd, int bwd, double lambda, int *coef_cost,
                   int *cbp_blk)
{
    EncoderImage &img = run.img;
    MacroblockRecord &mb = img.CurrentMb();
    MacroblockMotion &mo = run.motion;
    const bool b = IsB(img);
    const size_t k = static_cast<size_t>(q);
    mb.mb_mode = kMode8x8;
    mb.quarter_mode[k] = sub;
    mb.quarter_dir[k] = dir;
    set_block_refs_and_vectors(run, q, sub, fwd, dir, bwd);
    const int x0 = 2 * (q % 2), y0 = 2 * (q / 2);
    const bool fw = dir == 0 || dir == 2, bw = b && (dir == 1 || dir == 2);
    for (int j = y0; j < y0 + 2; ++j)
        for (int i = x0; i < x0 + 2; ++i) {
            const size_t jj = static_cast<size_t>(j), ii = static_cast<size_t>(i);
            if (sub != kSubDirect && fw) {
                const std::array<int, 2> &p = mo.Pred(std::max(fwd, 0), sub)[jj][ii];
                mb.mv_pred[0][j][i][0] = p[0];
                mb.mv_pred[0][j][i][1] = p[1];
            }
            if (sub != kSubDirect && bw) {
                const std::array<int, 2> &p = mo.predicted_mv_bw[sub][jj][ii];
                mb.mv_pred[1][j][i][0] = p[0];
                mb.mv_pred[1][j][i][1] = p[1];
            }
        }
    const int fwMode = fw ? sub : 0, bwMode = bw ? sub : 0;
    int fref = fwd;
    if (sub == kSubDirect)
        fref = std::max(0, img.maps.ref_map[img.maps.At(4 * img.mb_x + x0, 4 * img.mb_y + y0)]);
    int cbp = 0, blk = 0;
    *coef_cost = code_luma_quarter(run, &cbp, &blk, q, fwMode, bwMode, fref, bwd);
    *cbp_blk = blk;
    // Loss-aware decisions weigh what the simulated receivers would see, on average.
    const double distortion =
        run.input.RDOptimization == 2 && img.type != kTypeI
            ? losssim_expected_quarter_distortion(run, q, fwMode, bwMode, fref, bwd)
            : static_cast<double>(rd_luma_sse(run, img.luma_x() + 4 * x0, img.luma_y() + 4 * y0, 8, 8));

    SyntaxItem item;
    item.category = b ? SE_BFRAME : SE_MBTYPE;
    item.value = sub_mb_type_code(img, sub, dir);
    item.write_fn = cabac_write_sub_type;
    int bits = write_syntax_element(run, item);
    if (sub != kSubDirect) {
        if (fw)
            bits += write_ref_idx(run, sub, x0, y0, 1, fwd);
        if (bw)
            bits += write_ref_idx(run, sub, x0, y0, 0, bwd);
        if (fw)
            bits += write_mvd(run, x0, y0, 2, 2, 0, sub);
        if (bw)
            bits += write_mvd(run, x0, y0, 2, 2, 1, sub);
    }
    if (cbp & (1 << q))
        bits += write_luma_quarter(run, q, 0);
    return bits * lambda + distortion;
}

int code_intra16x16(EncoderRun &run)
{
    MacroblockRecord &mb = run.img.CurrentMb();
    h264enc_intra_pred_16x16(run);
    int mode = 2;
    intra16x16_cost(run, &mode);
    mb.coded_pattern = h264enc_trans_quant_16x16(run, mode);
    mb.coded_block_bits = 0;
    return mode;
}

namespace {

// The luma of an intra candidate, kept so that the next chroma mode reuses it.
void KeepIntraLuma(EncoderRun &run, RdIntraLuma &c, int i16_mode)
{
    const EncoderImage &img = run.img;
    const MacroblockRecord &mb = img.mb_data[static_cast<size_t>(img.mb_index)];
    const int px = img.luma_x(), py = img.luma_y();
    for (int y = 0; y < 16; ++y)
        std::copy(run.rec->y[py + y] + px, run.rec->y[py + y] + px + 16, c.luma[y]);
    std::copy(&img.cof.cofAC[0][0][0][0], &img.cof.cofAC[0][0][0][0] + 4 * 4 * 2 * 65, &c.cof[0][0][0][0]);
    std::copy(&img.cof.cofDC[0][0][0], &img.cof.cofDC[0][0][0] + 2 * 65, &c.cofDC[0][0]);
    c.coded_pattern = mb.coded_pattern;
    c.coded_block_bits = mb.coded_block_bits;
    for (int k = 0; k < 16; ++k)
        c.ipred[k] = img.ipred_map(4 * img.mb_x + k % 4, 4 * img.mb_y + k / 4);
    c.intra4_codes = mb.intra4_codes;
    c.i16_mode = i16_mode;
    c.valid = true;
}

int RestoreIntraLuma(EncoderRun &run, const RdIntraLuma &c)
{
    EncoderImage &img = run.img;
    MacroblockRecord &mb = img.CurrentMb();
    const int px = img.luma_x(), py = img.luma_y();
    for (int y = 0; y < 16; ++y)
        std::copy(c.luma[y], c.luma[y] + 16, run.rec->y[py + y] + px);
    std::copy(&c.cof[0][0][0][0], &c.cof[0][0][0][0] + 4 * 4 * 2 * 65, &img.cof.cofAC[0][0][0][0]);
    std::copy(&c.cofDC[0][0], &c.cofDC[0][0] + 2 * 65, &img.cof.cofDC[0][0][0]);
    mb.coded_pattern = c.coded_pattern;
    mb.coded_block_bits = c.coded_block_bits;
    for (int k = 0; k < 16; ++k)
        img.ipred_map(4 * img.mb_x + k % 4, 4 * img.mb_y + k / 4) = c.ipred[k];
    mb.intra4_codes = c.intra4_codes;
    return c.i16_mode;
}

} // namespace

int rd_cost_macroblock(EncoderRun &run, double lambda, int mode, double *best_j)
{
    EncoderImage &img = run.img;
    MacroblockRecord &mb = img.CurrentMb();
    RdState &rd = run.rd;
    save_coding_state(rd.cs_trial.get(), run.input, img);
    const int pendingRun = img.skip_run;

    mb.coded_pattern = 0;
    mb.coded_block_bits = 0;
    int i16Mode = 0;
    if (mode == kMode8x8) {
        restore_8x8_coding(run);
    } else if (mode == kModeI4) {
        if (rd.intra4.valid) {
            RestoreIntraLuma(run, rd.intra4);
        } else {
            int cbp = 0;
            choose_intra4x4_mb(run, lambda, &cbp);
            mb.coded_pattern = cbp;
            KeepIntraLuma(run, rd.intra4, 0);
        }
    } else if (mode == kModeI16) {
        SetIntraEntriesDc(run);
        if (rd.intra16.valid) {
            i16Mode = RestoreIntraLuma(run, rd.intra16);
        } else {
            i16Mode = code_intra16x16(run);
            KeepIntraLuma(run, rd.intra16, i16Mode);
        }
    } else {
        SetIntraEntriesDc(run);
        code_luma_macroblock(run);
    }
    code_chroma_macroblock(run);
    mb.i16_type = mode == kModeI16 ? intra16x16_mb_type(mb.coded_pattern, i16Mode) : 0;
    SetVectorPredictions(run);

    const int px = img.luma_x(), py = img.luma_y();
    // Loss-aware decisions take the luma error the simulated receivers would see, on average (they
    // simulate luma only; chroma keeps the encoder's own error).
    const double lumaDistortion = run.input.RDOptimization == 2 && img.type != kTypeI
                                      ? losssim_expected_distortion(run)
                                      : static_cast<double>(rd_luma_sse(run, px, py, 16, 16));
    const double distortion =
        lumaDistortion + static_cast<double>(rd_chroma_sse(run, 0, px / 2, py / 2, 8, 8) +
                                             rd_chroma_sse(run, 1, px / 2, py / 2, 8, 8));

    const bool b = IsB(img);
    const bool skipped = img.type != kTypeI && mode == kModeSkip && (!b || mb.coded_pattern == 0);
    int bits = write_macroblock_header(run, 1);
    if (!skipped) {
        bits += write_macroblock_motion(run);
        bits += write_cbp_qp_luma(run);
        bits += write_chroma_blocks(run);
    }
    if (!IsCabac(run) && img.type != kTypeI) {
        // The pending skip run is sent by the next coded macroblock whatever this one is: a coded
        // macroblock does not pay for it, a skipped one pays what lengthening the run adds.
        if (skipped)
            bits = UeLength(pendingRun + 1) - UeLength(pendingRun);
        else
            bits -= UeLength(pendingRun);
    }
    restore_coding_state(rd.cs_trial.get(), run.input, img);
    img.skip_run = pendingRun;

    const double j = bits * lambda + distortion;
    if (j < *best_j) {
        *best_j = j;
        return 1;
    }
    return 0;
}

} // namespace h264enc
