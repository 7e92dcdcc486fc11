// The whole-macroblock stage of the rate-distortion decision: after the motion searches every valid
// mode is coded and written with each usable chroma intra mode (inter modes only with DC chroma), the
// best J so far is kept aside, and the winner is put back into the picture, the record and the maps.
#include "h264enc/rd_decision.h"

#include "h264enc/enc_run.h"
#include "h264enc/mb_predict.h"
#include "h264enc/mode_decision.h"

#include <algorithm>

namespace h264enc {

namespace {

size_t MapAt(const EncoderImage &img, int k)
{
    return img.maps.At(4 * img.mb_x + k % 4, 4 * img.mb_y + k / 4);
}

} // namespace

void BlockMotionCopy::Save(const EncoderImage &img)
{
    const MotionMaps &m = img.maps;
    for (int k = 0; k < 16; ++k) {
        const size_t at = MapAt(img, k);
        ref[k] = m.ref_map[at];
        mv[k] = m.mv_map[at];
        if (IsB(img)) {
            fw_ref[k] = m.fw_ref_map[at];
            bw_ref[k] = m.bw_ref_map[at];
            fw_mv[k] = m.fw_mv_map[at];
            bw_mv[k] = m.bw_mv_map[at];
        }
    }
}

void BlockMotionCopy::Restore(EncoderImage &img) const
{
    MotionMaps &m = img.maps;
    for (int k = 0; k < 16; ++k) {
        const size_t at = MapAt(img, k);
        m.ref_map[at] = ref[k];
        m.mv_map[at] = mv[k];
        if (IsB(img)) {
            m.fw_ref_map[at] = fw_ref[k];
            m.bw_ref_map[at] = bw_ref[k];
            m.fw_mv_map[at] = fw_mv[k];
            m.bw_mv_map[at] = bw_mv[k];
        }
    }
}

void keep_best_macroblock(EncoderRun &run, int mode)
{
    EncoderImage &img = run.img;
    const MacroblockRecord &mb = img.CurrentMb();
    RdBestMacroblock &best = run.rd.best;
    best.mode = mode;
    best.chroma_pred_mode = mb.chroma_pred_mode;
    best.i16_type = mb.i16_type;
    best.quarter_mode = mb.quarter_mode;
    best.quarter_dir = mb.quarter_dir;
    const int px = img.luma_x(), py = img.luma_y();
    for (int y = 0; y < 16; ++y)
        std::copy(run.rec->y[py + y] + px, run.rec->y[py + y] + px + 16, best.luma[y]);
    for (int uv = 0; uv < 2; ++uv)
        for (int y = 0; y < 8; ++y)
            std::copy(run.rec->uv[uv][py / 2 + y] + px / 2, run.rec->uv[uv][py / 2 + y] + px / 2 + 8,
                      best.chroma[uv][y]);
    best.cof = img.cof;
    // A P copy macroblock carries no coefficients whatever its trial left.
    const bool pCopy = mode == kModeSkip && !IsB(img);
    best.coded_pattern = pCopy ? 0 : mb.coded_pattern;
    best.coded_block_bits = pCopy ? 0 : mb.coded_block_bits;
    for (int k = 0; k < 16; ++k)
        best.ipred[k] = img.ipred_map(4 * img.mb_x + k % 4, 4 * img.mb_y + k / 4);
    best.intra4_codes = mb.intra4_codes;
    best.motion.Save(img);
    std::copy(&mb.mv_pred[0][0][0][0], &mb.mv_pred[0][0][0][0] + 64, &best.mv_pred[0][0][0][0]);
    best.direct_no_residue = run.mbw.direct_no_residue;
}

void apply_best_macroblock(EncoderRun &run)
{
    EncoderImage &img = run.img;
    MacroblockRecord &mb = img.CurrentMb();
    const RdBestMacroblock &best = run.rd.best;
    run.md.best_mode = best.mode;
    mb.mb_mode = best.mode;
    mb.chroma_pred_mode = best.chroma_pred_mode;
    mb.i16_type = best.i16_type;
    mb.quarter_mode = best.quarter_mode;
    mb.quarter_dir = best.quarter_dir;
    const int px = img.luma_x(), py = img.luma_y();
    for (int y = 0; y < 16; ++y)
        std::copy(best.luma[y], best.luma[y] + 16, run.rec->y[py + y] + px);
    for (int uv = 0; uv < 2; ++uv)
        for (int y = 0; y < 8; ++y)
            std::copy(best.chroma[uv][y], best.chroma[uv][y] + 8, run.rec->uv[uv][py / 2 + y] + px / 2);
    img.cof = best.cof;
    mb.coded_pattern = best.coded_pattern;
    mb.coded_block_bits = best.coded_block_bits;
    for (int k = 0; k < 16; ++k)
        img.ipred_map(4 * img.mb_x + k % 4, 4 * img.mb_y + k / 4) = best.ipred[k];
    mb.intra4_codes = best.intra4_codes;
    best.motion.Restore(img);
    std::copy(&best.mv_pred[0][0][0][0], &best.mv_pred[0][0][0][0] + 64, &mb.mv_pred[0][0][0][0]);
    run.mbw.direct_no_residue = 0;
}

int rd_decide_macroblock(EncoderRun &run, const bool valid[11])
{
    EncoderImage &img = run.img;
    MacroblockRecord &mb = img.CurrentMb();
    RdState &rd = run.rd;
    ModeDecisionState &md = run.md;
    const double lambda = rd.lambda;
    const bool b = IsB(img);
    rd.intra4.valid = rd.intra16.valid = false;
    run.mbw.direct_no_residue = 0;
    bool up = false, left = false;
    decide_chroma_intra_mode(run, &up, &left);
    double best = 1e30;
    auto tryMode = [&](int mode, int chroma) {
        SetModesAndRefframeForBlocks(run, mode);
        mb.chroma_pred_mode = chroma;
        if (rd_cost_macroblock(run, lambda, mode, &best))
            keep_best_macroblock(run, mode);
    };
    static const int kOrder[7] = {kModeSkip, kMode16x16, kMode16x8, kMode8x16, kMode8x8, kModeI16, kModeI4};
    for (int chroma = 0; chroma < 4; ++chroma) {
        if ((chroma == 0 && !up) || (chroma == 1 && !left) || (chroma == 3 && !(up && left)))
            continue;
        for (int mode : kOrder) {
            if (!valid[mode])
                continue;
            const bool intra = mode == kModeI4 || mode == kModeI16;
            if (chroma != 2 && !intra)
                continue;
            if (b && mode == kMode16x16) {
                for (int dir = 0; dir < 3; ++dir) {
                    for (int k = 0; k < 4; ++k)
                        md.dir[0][k] = dir;
                    tryMode(mode, chroma);
                }
                continue;
            }
            tryMode(mode, chroma);
            const int luma = mb.coded_pattern & 15;
            if (b && mode == kModeSkip && luma != 0 && luma != 15) {
                // Direct without any residual: the prediction alone may be worth more than its few
                // coefficients.
                run.mbw.direct_no_residue = 1;
                tryMode(mode, chroma);
                run.mbw.direct_no_residue = 0;
            }
        }
    }
    apply_best_macroblock(run);
    if (run.input.RDOptimization == 2)
        losssim_finish_macroblock(run);
    return static_cast<int>(std::min(best, 1e9));
}

} // namespace h264enc
