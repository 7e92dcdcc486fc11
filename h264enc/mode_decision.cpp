// Macroblock mode decision (see the header). The 8x8 split is decided first, quarter by quarter, each
// quarter coded at once so that the next one is predicted from its final vectors; then 8x16, 16x8 and
// 16x16, direct or skip, intra 4x4 and intra 16x16. On equal costs the earlier candidate stays, except
// that intra 4x4 and direct win ties.
#include "h264enc/mode_decision.h"

#include "h264enc/enc_run.h"
#include "h264enc/intra_refresh.h"
#include "h264enc/mb_predict.h"
#include "h264enc/mb_write.h"
#include "h264enc/motion_search.h"
#include "h264enc/rd_decision.h"
#include "h264enc/trans_quant.h"

#include <algorithm>
#include <cmath>

namespace h264enc {

namespace {

// Lambda by qp - 12: roughly 0.85 x 2^((qp - 12) / 3), in whole numbers.
const int qp_lambda_table[40] = {1,  1,  1,  1,  2,  2,  2,  2,  3,  3,  3,  4,  4,  4,
                                 5,  6,  6,  7,  8,  9,  10, 11, 13, 14, 16, 18, 20, 23,
                                 25, 29, 32, 36, 40, 45, 51, 57, 64, 72, 81, 91};

// Index of the kept values of modes 1, 2, 3 and 8.
int KeptIndex(int mode)
{
    return mode == kMode8x8 ? 3 : mode - 1;
}

// The 4x4 blocks covered by the block of `mode` that starts at quarter k: first column and row, width and
// height in 4x4 blocks.
void CoveredBlocks(int mode, int k, int *x0, int *y0, int *w, int *h)
{
    *x0 = 2 * (k % 2);
    *y0 = 2 * (k / 2);
    *w = *h = 2;
    if (mode == kMode16x16) {
        *x0 = *y0 = 0;
        *w = *h = 4;
    } else if (mode == kMode16x8) {
        *x0 = 0;
        *w = 4;
    } else if (mode == kMode8x16) {
        *y0 = 0;
        *h = 4;
    }
}

} // namespace

void set_block_refs_and_vectors(EncoderRun &run, int k, int mode, int fwd, int dir, int bwd)
{
    EncoderImage &img = run.img;
    MacroblockMotion &mo = run.motion;
    MotionMaps &m = img.maps;
    int x0, y0, w, h;
    CoveredBlocks(mode, k, &x0, &y0, &w, &h);
    const bool b = IsB(img);
    for (int j = y0; j < y0 + h; ++j)
        for (int i = x0; i < x0 + w; ++i) {
            const size_t at = m.At(4 * img.mb_x + i, 4 * img.mb_y + j);
            const size_t jj = static_cast<size_t>(j), ii = static_cast<size_t>(i);
            if (!b) {
                m.ref_map[at] = fwd;
                m.mv_map[at] = mo.Mv(fwd, mode)[jj][ii];
                continue;
            }
            if (mode == 0) {
                m.fw_ref_map[at] = mo.direct_map_fw_ref[j][i];
                m.bw_ref_map[at] = mo.direct_map_bw_ref[j][i];
                m.fw_mv_map[at] = m.fw_ref_map[at] < 0 ? std::array<int, 2>{0, 0} : mo.direct_fw[jj][ii];
                m.bw_mv_map[at] = m.bw_ref_map[at] < 0 ? std::array<int, 2>{0, 0} : mo.direct_bw[jj][ii];
                continue;
            }
            const bool fw = dir == 0 || dir == 2, bw = dir == 1 || dir == 2;
            m.fw_ref_map[at] = fw ? fwd : -1;
            m.fw_mv_map[at] = fw ? mo.Mv(fwd, mode)[jj][ii] : std::array<int, 2>{0, 0};
            m.bw_ref_map[at] = bw ? std::max(bwd, 0) : -1;
            m.bw_mv_map[at] = bw ? mo.search_mv_bw[mode][jj][ii] : std::array<int, 2>{0, 0};
        }
}

namespace {

// The forward reference of least cost for block `block` of `type`, and the direction and cost in B
// pictures. Rate-distortion decisions price a reference by its index's bits and, restricting
// references, pass over those older than an intra refresh of the samples the block reads.
void ChooseReference(EncoderRun &run, int type, int block, int fwRefs, int *cost, int *dir, int *fwd)
{
    MacroblockMotion &mo = run.motion;
    const double lambda = mo.lambda;
    const bool rd = run.input.RDOptimization != 0;
    auto refCost = [&](int r) {
        return rd ? rd_reference_cost(run, r) : static_cast<int>(2 * lambda * std::min(r, 1));
    };
    const bool restrict = rd && run.input.RestrictRefFrames != 0 && run.img.type == kTypeP;
    int best = 1 << 30, bestRef = 0;
    for (int r = 0; r < fwRefs; ++r) {
        if (restrict && r > 0 && !reference_is_reliable(run, block, r, type))
            continue;
        const int c = mo.Cost(type, r, block) + refCost(r);
        if (c < best) {
            best = c;
            bestRef = r;
        }
    }
    *fwd = bestRef;
    if (!IsB(run.img)) {
        *cost = best;
        *dir = 0;
        return;
    }
    const int fw = best, bw = mo.Cost(type, -1, block);
    const int bid = refCost(bestRef) + bidir_block_cost(run, type, block, bestRef);
    if (fw <= bw && fw <= bid) {
        *dir = 0;
        *cost = fw;
    } else if (bw <= bid) {
        *dir = 1;
        *cost = bw;
    } else {
        *dir = 2;
        *cost = bid;
    }
}

} // namespace

void SetIntraEntriesDc(EncoderRun &run)
{
    EncoderImage &img = run.img;
    MacroblockRecord &mb = img.CurrentMb();
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i)
            img.ipred_map(4 * img.mb_x + i, 4 * img.mb_y + j) = 2;
    mb.intra4_codes.fill(2);
}

// The modes, directions and reference maps of the winner; then its vectors into the maps.
void SetModesAndRefframeForBlocks(EncoderRun &run, int mode)
{
    EncoderImage &img = run.img;
    MacroblockRecord &mb = img.CurrentMb();
    ModeDecisionState &md = run.md;
    MacroblockMotion &mo = run.motion;
    MotionMaps &m = img.maps;
    const bool b = IsB(img);
    mb.mb_mode = mode;
    for (int k = 0; k < 4; ++k) {
        const size_t kk = static_cast<size_t>(k);
        if (mode == kModeSkip) {
            mb.quarter_mode[kk] = 0;
            mb.quarter_dir[kk] = b ? 2 : 0;
        } else if (mode == kModeI4) {
            mb.quarter_mode[kk] = kModeIntraQuarter;
            mb.quarter_dir[kk] = -1;
        } else if (mode == kModeI16) {
            mb.quarter_mode[kk] = 0;
            mb.quarter_dir[kk] = -1;
        } else {
            mb.quarter_mode[kk] = md.sub_mode[KeptIndex(mode)][k];
            mb.quarter_dir[kk] = md.dir[KeptIndex(mode)][k];
        }
    }
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i) {
            const int k = 2 * (j / 2) + i / 2;
            const size_t kk = static_cast<size_t>(k);
            const size_t at = m.At(4 * img.mb_x + i, 4 * img.mb_y + j);
            const int dir = mb.quarter_dir[kk], sub = mb.quarter_mode[kk];
            const bool intra = mode == kModeI4 || mode == kModeI16;
            const int kept = mode == kMode16x16 || mode == kMode16x8 || mode == kMode8x16 || mode == kMode8x8
                                 ? KeptIndex(mode)
                                 : -1;
            const int fwd = kept >= 0 ? md.fw_ref[kept][k] : 0;
            if (!b) {
                m.ref_map[at] = intra ? -1 : mode == kModeSkip ? 0 : (dir == 0 || dir == 2) ? fwd : -1;
            } else if (intra) {
                m.fw_ref_map[at] = m.bw_ref_map[at] = -1;
            } else if (sub == 0) {
                m.fw_ref_map[at] = mo.direct_map_fw_ref[j][i];
                m.bw_ref_map[at] = mo.direct_map_bw_ref[j][i];
            } else {
                m.fw_ref_map[at] = dir == 0 || dir == 2 ? fwd : -1;
                m.bw_ref_map[at] = dir == 1 || dir == 2 ? 0 : -1;
            }
        }
    store_macroblock_vectors(run, b);
}

void store_macroblock_vectors(EncoderRun &run, bool b)
{
    EncoderImage &img = run.img;
    const MacroblockRecord &mb = img.CurrentMb();
    MacroblockMotion &mo = run.motion;
    MotionMaps &m = img.maps;
    const std::array<int, 2> zero = {0, 0};
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i) {
            const size_t k = static_cast<size_t>(2 * (j / 2) + i / 2), jj = static_cast<size_t>(j),
                         ii = static_cast<size_t>(i);
            const size_t at = m.At(4 * img.mb_x + i, 4 * img.mb_y + j);
            const int dir = mb.quarter_dir[k], sub = mb.quarter_mode[k];
            if (!b) {
                const int ref = m.ref_map[at];
                m.mv_map[at] = ref < 0 ? zero : mo.Mv(ref, sub)[jj][ii];
            } else if (dir < 0) {
                m.fw_mv_map[at] = m.bw_mv_map[at] = zero;
            } else if (sub == 0) {
                m.fw_mv_map[at] = m.fw_ref_map[at] < 0 ? zero : mo.direct_fw[jj][ii];
                m.bw_mv_map[at] = m.bw_ref_map[at] < 0 ? zero : mo.direct_bw[jj][ii];
            } else {
                const int fwd = m.fw_ref_map[at];
                m.fw_mv_map[at] = fwd < 0 ? zero : mo.Mv(fwd, sub)[jj][ii];
                m.bw_mv_map[at] = m.bw_ref_map[at] < 0 ? zero : mo.search_mv_bw[sub][jj][ii];
            }
        }
}

// The predictions the written vector differences refer to, from the search.
void SetVectorPredictions(EncoderRun &run)
{
    EncoderImage &img = run.img;
    MacroblockRecord &mb = img.CurrentMb();
    MacroblockMotion &mo = run.motion;
    const MotionMaps &m = img.maps;
    const bool b = IsB(img);
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i) {
            const size_t k = static_cast<size_t>(2 * (j / 2) + i / 2);
            const int sub = mb.quarter_mode[k], dir = mb.quarter_dir[k];
            if (sub <= 0 || sub > kSub4x4 || dir < 0)
                continue;
            const size_t at = m.At(4 * img.mb_x + i, 4 * img.mb_y + j);
            if (dir == 0 || dir == 2) {
                const int ref = b ? m.fw_ref_map[at] : m.ref_map[at];
                const std::array<int, 2> &p =
                    mo.Pred(std::max(ref, 0), sub)[static_cast<size_t>(j)][static_cast<size_t>(i)];
                mb.mv_pred[0][j][i][0] = p[0];
                mb.mv_pred[0][j][i][1] = p[1];
            }
            if (b && (dir == 1 || dir == 2)) {
                const std::array<int, 2> &p =
                    mo.predicted_mv_bw[sub][static_cast<size_t>(j)][static_cast<size_t>(i)];
                mb.mv_pred[1][j][i][0] = p[0];
                mb.mv_pred[1][j][i][1] = p[1];
            }
        }
    scale_backward_predictions(run);
}

void restore_8x8_coding(EncoderRun &run)
{
    EncoderImage &img = run.img;
    MacroblockRecord &mb = img.CurrentMb();
    ModeDecisionState &md = run.md;
    const bool keep = md.cost8x8_coef > 5 || img.sp_mode == kSpMode;
    mb.coded_pattern = keep ? md.cbp8x8 : 0;
    mb.coded_block_bits = keep ? md.cbp_blk8x8 : 0;
    Array2D<uint8_t> &rec = run.rec->y;
    const int px = img.luma_x(), py = img.luma_y();
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            rec[py + y][px + x] = static_cast<uint8_t>(keep ? md.rec8x8[x][y] : md.pred8x8[x][y]);
    for (int q = 0; q < 4; ++q)
        for (int b = 0; b < 4; ++b)
            for (int l = 0; l < 2; ++l)
                std::copy(md.ac8x8[q][b][l], md.ac8x8[q][b][l] + 65, img.cof.cofAC[q][b][l]);
    for (int k = 0; k < 16; ++k) {
        img.ipred_map(4 * img.mb_x + k % 4, 4 * img.mb_y + k / 4) = md.ipred8x8[k];
        mb.intra4_codes[static_cast<size_t>(k)] = md.intra_codes8x8[k];
    }
}

void init_mode_decision_state(EncoderRun &run)
{
    run.md = ModeDecisionState();
    if (run.input.RDOptimization != 0)
        alloc_coding_states(run);
}

void free_mode_decision_state(EncoderRun &run)
{
    free_coding_states(run);
}

double mode_lambda(int qp)
{
    return qp_lambda_table[std::clamp(qp - 12, 0, 39)];
}

int intra16x16_mb_type(int coded_pattern, int mode)
{
    return 1 + mode + 4 * ((coded_pattern >> 4) & 3) + ((coded_pattern & 15) != 0 ? 12 : 0);
}

namespace {

// Loss-aware decisions restricted to reliable references decide a P macroblock twice, first by the
// cost rule alone, then with the simulated losses; its blocks count as refreshed when it turned intra
// for the losses alone. Only the second decision is kept.
int EncodeMacroblockTwice(EncoderRun &run)
{
    const int intraBefore = run.intra_mbs;
    run.input.RDOptimization = 1;
    h264enc_encode_macroblock(run);
    run.input.RDOptimization = 2;
    const auto isIntra = [](int mode) { return mode == kModeI4 || mode == kModeI16; };
    const bool firstIntra = isIntra(run.md.best_mode);
    run.intra_mbs = intraBefore;
    const int cost = h264enc_encode_macroblock(run);
    set_refresh_flags(run, isIntra(run.md.best_mode) && !firstIntra);
    return cost;
}

} // namespace

int ModeDecisionCoder::encode_macroblock(EncoderRun &run)
{
    if (run.img.mbaff)
        return mbaff_encode_macroblock(run);
    const EncoderImage &img = run.img;
    if (run.input.RDOptimization == 2 && run.input.RestrictRefFrames == 1 &&
        (img.type == kTypeP || img.type == kTypeStoredB))
        return EncodeMacroblockTwice(run);
    return h264enc_encode_macroblock(run);
}

void ModeDecisionCoder::save_pair_candidate(EncoderRun &run, int field)
{
    save_mbaff_pair_candidate(run, field);
}

void ModeDecisionCoder::restore_pair_candidate(EncoderRun &run, int field)
{
    restore_mbaff_pair_candidate(run, field);
}

int h264enc_encode_macroblock(EncoderRun &run)
{
    EncoderImage &img = run.img;
    const EncoderParams &input = run.input;
    MacroblockRecord &mb = img.CurrentMb();
    ModeDecisionState &md = run.md;
    MacroblockMotion &mo = run.motion;
    mark_neighbour_availability(run);
    reset_fast_integer_search(run);

    const bool b = IsB(img);
    const bool pPicture = img.type == kTypeP || img.type == kTypeStoredB;
    const bool forced = img.type == kTypeI ||
                        (img.type == kTypeP && input.MbLineIntraUpdate > 0 && img.mb_y == img.intra_line &&
                         img.intra_line != img.intra_line_prev) ||
                        intra_refresh_forced(run.refresh, img.mb_index);
    const int maxRef = std::max(img.refs_in_use, 1);
    const int adjust = b ? std::min(1, maxRef - 1) : 0;
    const int fwRefs = std::max(maxRef - adjust, 1);
    bool valid[11] = {};
    const int searchKeys[8] = {0,
                               input.InterSearch16x16,
                               input.InterSearch16x8,
                               input.InterSearch8x16,
                               input.InterSearch8x8,
                               input.InterSearch8x4,
                               input.InterSearch4x8,
                               input.InterSearch4x4};
    if (!forced) {
        valid[0] = true;
        for (int m = 1; m <= 7; ++m)
            valid[m] = searchKeys[m] != 0;
    }
    valid[8] = valid[4] || valid[5] || valid[6] || valid[7];
    valid[9] = valid[10] = true;

    // Rate-distortion decisions weigh bits by the mode lambda and search vectors with its root.
    const bool rd = input.RDOptimization != 0;
    if (rd) {
        alloc_coding_states(run);
        run.rd.lambda = rd_mode_lambda(input, img, img.qp);
        run.rd.forced_intra = forced ? 1 : 0;
        mo.lambda = rd_motion_lambda(run.rd.lambda);
    } else {
        mo.lambda = mode_lambda(img.qp);
    }
    mo.fixed_lambda = static_cast<int>(mo.lambda * 65536 + 0.5);
    const double lambda = mo.lambda;
    mb.chroma_pred_mode = 2;
    md.direct_cost_sum = md.direct_count = 0;
    int minCost = kMaxCost;
    md.best_mode = 8;

    if (!forced) {
        if (b)
            compute_direct_vectors(run);
        int cost8x8 = kMaxCost;
        if (valid[8]) {
            cost8x8 = 0;
            md.cbp8x8 = md.cbp_blk8x8 = md.cost8x8_coef = 0;
            const int px = img.luma_x(), py = img.luma_y();
            if (rd)
                save_coding_state(run.rd.cs_split.get(), input, img);
            for (int k = 0; k < 4; ++k) {
                int best = kMaxCost;
                double bestJ = 1e30;
                for (int sub : {0, 4, 5, 6, 7}) {
                    if ((sub == 0 && (!b || mo.direct_quarters_differ)) || !valid[sub])
                        continue;
                    int cost = 0, dir, fwd = 0;
                    if (sub == 0 && rd) {
                        dir = 2;
                        fwd = -1;
                    } else if (sub == 0) {
                        cost = direct_cost_8x8(run, k);
                        md.direct_cost_sum += cost;
                        ++md.direct_count;
                        dir = 2;
                        fwd = -1;
                    } else {
                        search_partition_motion(run, sub, k);
                        ChooseReference(run, sub, k, fwRefs, &cost, &dir, &fwd);
                    }
                    if (rd) {
                        // The writers keep the trial of the quarter's best sub-mode, so that the next
                        // quarter's elements are counted in the contexts they will meet.
                        save_coding_state(run.rd.cs_trial.get(), input, img);
                        int coefCost = 0, cbpBlk = 0;
                        const double j =
                            rd_cost_8x8(run, k, sub, dir, fwd, 0, run.rd.lambda, &coefCost, &cbpBlk);
                        if (j < bestJ) {
                            bestJ = j;
                            md.sub_mode[3][k] = sub;
                            md.dir[3][k] = dir;
                            md.fw_ref[3][k] = fwd;
                            md.bw_ref[3][k] = 0;
                            save_coding_state(run.rd.cs_quarter.get(), input, img);
                        }
                        restore_coding_state(run.rd.cs_trial.get(), input, img);
                        continue;
                    }
                    cost +=
                        ((mo.fixed_lambda * run.search.Refbits(sub_mb_type_code(img, sub, dir))) >> 16) - 1;
                    if (cost < best) {
                        best = cost;
                        md.sub_mode[3][k] = sub;
                        md.dir[3][k] = dir;
                        md.fw_ref[3][k] = fwd;
                        md.bw_ref[3][k] = 0;
                    }
                }
                if (rd) {
                    restore_coding_state(run.rd.cs_quarter.get(), input, img);
                    best = static_cast<int>(std::min(bestJ, 1e9));
                }
                cost8x8 += best;
                const int sub = md.sub_mode[3][k], dir = md.dir[3][k];
                const int fwMode = dir == 0 || dir == 2 ? sub : 0, bwMode = dir == 1 || dir == 2 ? sub : 0;
                int fwd = md.fw_ref[3][k];
                if (sub == 0)
                    fwd = std::max(0, img.maps.ref_map[img.maps.At(4 * img.mb_x + 2 * (k % 2),
                                                                   4 * img.mb_y + 2 * (k / 2))]);
                mb.quarter_mode[static_cast<size_t>(k)] = sub;
                mb.quarter_dir[static_cast<size_t>(k)] = dir;
                int cbp = 0, cbpBlk = 0;
                const int coefCost =
                    code_luma_quarter(run, &cbp, &cbpBlk, k, fwMode, bwMode, fwd, md.bw_ref[3][k]);
                const int mask = 0x33 << (4 * k - 2 * (k % 2));
                md.cbp_blk8x8 = (md.cbp_blk8x8 & ~mask) | (cbpBlk & mask);
                if (coefCost != 0) {
                    md.cbp8x8 |= 1 << k;
                    md.cost8x8_coef += coefCost;
                }
                for (int bb = 0; bb < 4; ++bb)
                    for (int l = 0; l < 2; ++l)
                        std::copy(img.cof.cofAC[k][bb][l], img.cof.cofAC[k][bb][l] + 65, md.ac8x8[k][bb][l]);
                const int x0 = 8 * (k % 2), y0 = 8 * (k / 2);
                for (int y = y0; y < y0 + 8; ++y)
                    for (int x = x0; x < x0 + 8; ++x) {
                        md.rec8x8[x][y] = run.rec->y[py + y][px + x];
                        md.pred8x8[x][y] = run.mbw.pred[x][y];
                    }
                for (int bb = 0; bb < 4; ++bb) {
                    const int i = 2 * (k % 2) + bb % 2, j = 2 * (k / 2) + bb / 2;
                    img.ipred_map(4 * img.mb_x + i, 4 * img.mb_y + j) = 2;
                    mb.intra4_codes[static_cast<size_t>(4 * k + bb)] = 2;
                }
                if (k < 3)
                    set_block_refs_and_vectors(run, k, sub, md.fw_ref[3][k], dir, md.bw_ref[3][k]);
            }
            if (rd)
                restore_coding_state(run.rd.cs_split.get(), input, img);
            for (int kk = 0; kk < 16; ++kk) {
                md.ipred8x8[kk] = img.ipred_map(4 * img.mb_x + kk % 4, 4 * img.mb_y + kk / 4);
                md.intra_codes8x8[kk] = mb.intra4_codes[static_cast<size_t>(kk)];
            }
        }
        minCost = cost8x8;
        md.best_mode = 8;
        for (int mode : {kMode8x16, kMode16x8, kMode16x16}) {
            if (!valid[mode])
                continue;
            int cost = 0;
            const int blocks = mode == kMode16x16 ? 1 : 2;
            for (int blk = 0; blk < blocks; ++blk) {
                search_partition_motion(run, mode, blk);
                int c, dir, fwd;
                ChooseReference(run, mode, blk, fwRefs, &c, &dir, &fwd);
                cost += c;
                for (int k = 0; k < 4; ++k) {
                    const int part = mode == kMode16x8 ? k / 2 : mode == kMode8x16 ? k % 2 : 0;
                    if (part != blk)
                        continue;
                    const int idx = KeptIndex(mode);
                    md.sub_mode[idx][k] = mode;
                    md.dir[idx][k] = dir;
                    md.fw_ref[idx][k] = fwd;
                    md.bw_ref[idx][k] = 0;
                }
                if (blk == 0 && blocks == 2)
                    set_block_refs_and_vectors(run, 0, mode, fwd, dir, 0);
            }
            if (cost < minCost) {
                minCost = cost;
                md.best_mode = mode;
            }
        }
        if (!b)
            p_skip_vector(run);
        if (b && valid[0] && !rd) {
            int cost = md.direct_count > 0 ? md.direct_cost_sum : direct_cost_16x16(run);
            cost -= static_cast<int>(std::floor(16 * lambda + 0.4999));
            if (cost <= minCost) {
                md.best_mode = kModeSkip;
                minCost = cost;
            }
        }
    }

    if (rd) {
        const int j = rd_decide_macroblock(run, valid);
        const int best = md.best_mode;
        if (pPicture && (best == kModeI4 || best == kModeI16))
            ++run.intra_mbs;
        // Refreshed blocks: with RestrictRefFrames 1 the forced intra macroblocks (the loss-aware
        // decision's second pass would add those that turned intra only there), with 2 every intra one.
        if (input.RestrictRefFrames == 1)
            set_refresh_flags(run, forced);
        else if (input.RestrictRefFrames == 2)
            set_refresh_flags(run, best == kModeI4 || best == kModeI16);
        return j;
    }

    int cbpI4 = 0;
    const int costI4 = choose_intra4x4_mb(run, lambda, &cbpI4);
    if (costI4 <= minCost) {
        md.best_mode = kModeI4;
        minCost = costI4;
    }
    mb.coded_pattern = cbpI4;
    h264enc_intra_pred_16x16(run);
    int i16Mode = 2;
    const int costI16 = intra16x16_cost(run, &i16Mode);
    if (costI16 < minCost) {
        md.best_mode = kModeI16;
        minCost = costI16;
        mb.coded_pattern = h264enc_trans_quant_16x16(run, i16Mode);
    }

    const int best = md.best_mode;
    SetModesAndRefframeForBlocks(run, best);
    if (best == kMode8x8) {
        restore_8x8_coding(run);
    } else if (best != kModeI4) {
        SetIntraEntriesDc(run);
        if (best != kModeI16)
            code_luma_macroblock(run);
        else
            mb.coded_block_bits = 0;
    }
    bool up, left;
    decide_chroma_intra_mode(run, &up, &left);
    code_chroma_macroblock(run);
    mb.i16_type = best == kModeI16 ? intra16x16_mb_type(mb.coded_pattern, i16Mode) : 0;
    SetVectorPredictions(run);
    if (img.type == kTypeP && best == kMode16x16 && mb.coded_pattern == 0) {
        const MotionMaps &m = img.maps;
        const size_t at = m.At(4 * img.mb_x, 4 * img.mb_y);
        if (m.ref_map[at] == 0 && m.mv_map[at] == mo.Mv(0, 0)[0][0]) {
            mb.mb_mode = kModeSkip;
            mb.quarter_mode.fill(0);
        }
    }
    if (pPicture && (best == kModeI4 || best == kModeI16))
        ++run.intra_mbs;
    if (input.RestrictRefFrames == 2)
        set_refresh_flags(run, best == kModeI4 || best == kModeI16);
    return minCost;
}

} // namespace h264enc
