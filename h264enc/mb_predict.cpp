// Inter prediction and residual coding of a macroblock whose modes are chosen, and the intra
// prediction pieces of the mode decision. Predictions read the reference pictures exactly as the
// decoder does (quarter-sample luma from the interpolated plane, eighth-sample chroma, the rounding of
// the two-direction average), so encoder and decoder reconstruct the same samples.
#include "h264enc/mb_predict.h"

#include "h264dec/intra_pred.h"
#include "h264dec/reconstruct.h"
#include "h264enc/enc_kernels.h"
#include "h264enc/enc_run.h"
#include "h264enc/enc_weights.h"
#include "h264enc/frame_store.h"
#include "h264enc/motion_search.h"
#include "h264enc/trans_quant.h"
#include "platform/format.h"

#include <algorithm>

namespace h264enc {

namespace {

bool IsSP(const EncoderImage &img)
{
    return img.sp_mode == kSpMode;
}

bool SameSlice(const EncoderImage &img, int mb)
{
    return mb >= 0 && mb < static_cast<int>(img.mb_data.size()) &&
           img.mb_data[static_cast<size_t>(mb)].slice_index ==
               img.mb_data[static_cast<size_t>(img.mb_index)].slice_index;
}

int ChromaSample(const Array2D<uint8_t> &plane, int X, int Y)
{
    const int width = plane.cols(), height = plane.rows();
    const int fx = X & 7, fy = Y & 7;
    const int x0 = std::clamp(X >> 3, 0, width - 1), x1 = std::clamp((X + 7) >> 3, 0, width - 1);
    const int y0 = std::clamp(Y >> 3, 0, height - 1), y1 = std::clamp((Y + 7) >> 3, 0, height - 1);
    return ((8 - fx) * (8 - fy) * plane[y0][x0] + fx * (8 - fy) * plane[y0][x1] +
            (8 - fx) * fy * plane[y1][x0] + fx * fy * plane[y1][x1] + 32) /
           64;
}

// The samples of one 4x4 luma block at picture position (px, py), displaced by mv (quarter samples).
void fetch_luma_block(uint8_t out[16], const RefFrame &f, int px, int py, const int mv[2])
{
    quarter_block4x4(f.mref, 4 * py + mv[1], 4 * px + mv[0], out);
}

// The chroma intra prediction of 4x4 block (qx, qy) of component uv, in the macroblock's chroma mode.
void copy_chroma_intra_4x4(EncoderRun &run, int uv, int qx, int qy)
{
    MacroblockWork &w = run.mbw;
    const int mode = run.img.CurrentMb().chroma_pred_mode;
    for (int x = 0; x < 4; ++x)
        for (int y = 0; y < 4; ++y)
            w.cpred[qx + x][qy + y] = w.chroma_intra_preds[uv][mode][qx + x][qy + y];
}

// One direction's samples of 4x4 chroma block (qx, qy) of component uv. Each 2x2 group follows the
// vector of the 4x4 luma block over it (src, in raster order): quarter luma samples are eighth chroma
// samples.
void predict_chroma_component(const EncoderRun &run, int out[4][4], int uv, int qx, int qy,
                              const BlockSource src[4], int list)
{
    const int cx0 = run.img.chroma_pix_x(), cy0 = run.img.chroma_pix_y();
    for (int k = 0; k < 4; ++k) {
        const BlockSource &s = src[k];
        if (!s.use[list])
            continue;
        for (int x = 2 * (k % 2); x < 2 * (k % 2) + 2; ++x)
            for (int y = 2 * (k / 2); y < 2 * (k / 2) + 2; ++y)
                out[x][y] = ChromaSample(s.frame[list]->mcef[uv], s.mv[list][0] + 8 * (cx0 + qx + x),
                                         s.mv[list][1] + 8 * (cy0 + qy + y));
    }
}

// The inter prediction of 4x4 chroma block (qx, qy) of component uv: the samples of its directions,
// combined as the luma block over each 2x2 group combines its own.
void predict_chroma_4x4(EncoderRun &run, int uv, int qx, int qy, int fw_mode, int bw_mode, int fw_ref,
                        int bw_ref)
{
    BlockSource src[4];
    for (int k = 0; k < 4; ++k)
        src[k] = block_source(run, qx / 2 + k % 2, qy / 2 + k / 2, fw_mode, bw_mode, fw_ref, bw_ref);
    int samples[2][4][4] = {};
    for (int list = 0; list < 2; ++list)
        predict_chroma_component(run, samples[list], uv, qx, qy, src, list);
    for (int k = 0; k < 4; ++k)
        for (int x = 2 * (k % 2); x < 2 * (k % 2) + 2; ++x)
            for (int y = 2 * (k / 2); y < 2 * (k / 2) + 2; ++y) {
                const int p[2] = {samples[0][x][y], samples[1][x][y]};
                run.mbw.cpred[qx + x][qy + y] = combine_prediction(run.img, src[k], p, 1 + uv);
            }
}

} // namespace

bool quadrant_intra(const EncoderRun &run, int mb, int quadrant)
{
    const auto &ib = run.img.intra_block;
    return static_cast<size_t>(mb) >= ib.size() ||
           ib[static_cast<size_t>(mb)][static_cast<size_t>(quadrant)] != 0;
}

void mark_neighbour_availability(EncoderRun &run)
{
    EncoderImage &img = run.img;
    const int m = img.mb_index, w = img.WidthMbs();
    const int bx = 4 * img.mb_x, by = 4 * img.mb_y;
    const bool constrained = run.input.UseConstrainedIntraPred != 0;
    if (img.mb_x > 0) {
        const bool same = SameSlice(img, m - 1);
        if (!same || (constrained && !quadrant_intra(run, m - 1, 1)))
            img.ipred_map(bx - 1, by) = img.ipred_map(bx - 1, by + 1) = -1;
        if (!same || (constrained && !quadrant_intra(run, m - 1, 3)))
            img.ipred_map(bx - 1, by + 2) = img.ipred_map(bx - 1, by + 3) = -1;
    }
    if (img.mb_y > 0) {
        const bool same = SameSlice(img, m - w);
        if (!same || (constrained && !quadrant_intra(run, m - w, 2)))
            img.ipred_map(bx, by - 1) = img.ipred_map(bx + 1, by - 1) = -1;
        if (!same || (constrained && !quadrant_intra(run, m - w, 3)))
            img.ipred_map(bx + 2, by - 1) = img.ipred_map(bx + 3, by - 1) = -1;
    }
}

RefFrame *reference_entry(EncoderRun &run, int entry)
{
    const std::vector<RefFrame *> &set = *run.refs.current;
    if (entry < 0 || entry >= static_cast<int>(set.size()) || !set[static_cast<size_t>(entry)])
        h264_fatal_error(zn::Format("reference picture %d is not stored", entry), kH264StreamErrorCode);
    return set[static_cast<size_t>(entry)];
}

RefFrame *reference_frame(EncoderRun &run, int r)
{
    if (r < 0)
        return backward_frame(run, 0);
    // A B picture between its references has its backward reference first: one frame, or in a field
    // the two fields of the backward frame. A stored B picture follows all of its references, so its
    // forward list starts at the newest.
    const EncoderImage &img = run.img;
    if (img.type != kTypeB)
        return reference_entry(run, r);
    return reference_entry(run, img.field_picture ? r + 2 : r + 1);
}

RefFrame *backward_frame(EncoderRun &run, int s)
{
    // In a B field the backward reference is the backward frame's field of its own parity: the top
    // field's is the second entry. A stored B field, like a stored B frame, names entry s.
    const EncoderImage &img = run.img;
    if (img.field_picture && img.type == kTypeB)
        return reference_entry(run, img.bottom_field ? 0 : 1);
    return reference_entry(run, s);
}

int luma_sample(const RefFrame &f, int y4, int x4)
{
    return get_pel_quarter_clamped(f.mref, y4, x4);
}

BlockSource block_source(EncoderRun &run, int bx4, int by4, int fw_mode, int bw_mode, int fw_ref, int bw_ref)
{
    EncoderImage &img = run.img;
    MacroblockMotion &mo = run.motion;
    BlockSource s;
    const size_t j = static_cast<size_t>(by4), i = static_cast<size_t>(bx4);
    if (!IsB(img)) {
        s.use[0] = true;
        s.ref[0] = fw_ref;
        s.frame[0] = reference_frame(run, fw_ref);
        const std::array<int, 2> &v = mo.Mv(fw_ref, fw_mode)[j][i];
        s.mv[0][0] = v[0];
        s.mv[0][1] = v[1];
        return s;
    }
    if (fw_mode == 0 && bw_mode == 0) {
        const int refs[2] = {mo.direct_fw_ref[j][i], mo.direct_bw_ref[j][i]};
        const BlockVectors *mvs[2] = {&mo.direct_fw, &mo.direct_bw};
        for (int list = 0; list < 2; ++list) {
            if (refs[list] < 0)
                continue;
            s.use[list] = true;
            s.ref[list] = refs[list];
            s.frame[list] = list == 1                       ? backward_frame(run, refs[1])
                            : mo.direct_fw_entry[j][i] >= 0 ? reference_entry(run, mo.direct_fw_entry[j][i])
                                                            : reference_frame(run, refs[0]);
            s.mv[list][0] = (*mvs[list])[j][i][0];
            s.mv[list][1] = (*mvs[list])[j][i][1];
        }
        return s;
    }
    if (fw_mode != 0) {
        s.use[0] = true;
        s.ref[0] = fw_ref;
        s.frame[0] = reference_frame(run, fw_ref);
        const std::array<int, 2> &v = mo.Mv(fw_ref, fw_mode)[j][i];
        s.mv[0][0] = v[0];
        s.mv[0][1] = v[1];
    }
    if (bw_mode != 0) {
        s.use[1] = true;
        s.ref[1] = std::max(bw_ref, 0);
        s.frame[1] = backward_frame(run, s.ref[1]);
        const std::array<int, 2> &v = mo.search_mv_bw[bw_mode][j][i];
        s.mv[1][0] = v[0];
        s.mv[1][1] = v[1];
    }
    return s;
}

void predict_luma_block(EncoderRun &run, int bx4, int by4, const BlockSource &s)
{
    const EncoderImage &img = run.img;
    const int px = img.luma_x() + 4 * bx4, py = img.luma_y() + 4 * by4;
    uint8_t samples[2][16] = {};
    for (int list = 0; list < 2; ++list)
        if (s.use[list])
            fetch_luma_block(samples[list], *s.frame[list], px, py, s.mv[list]);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            const int p[2] = {samples[0][4 * y + x], samples[1][4 * y + x]};
            run.mbw.pred[4 * bx4 + x][4 * by4 + y] = combine_prediction(img, s, p, 0);
        }
}

void predict_luma_4x4(EncoderRun &run, int bx4, int by4, int fw_mode, int bw_mode, int fw_ref, int bw_ref)
{
    predict_luma_block(run, bx4, by4, block_source(run, bx4, by4, fw_mode, bw_mode, fw_ref, bw_ref));
}

void quarter_modes_and_refs(EncoderRun &run, int q, int *fw_mode, int *bw_mode, int *fw_ref, int *bw_ref)
{
    EncoderImage &img = run.img;
    const MacroblockRecord &mb = img.CurrentMb();
    const MotionMaps &m = img.maps;
    const size_t at = m.At(4 * img.mb_x + 2 * (q % 2), 4 * img.mb_y + 2 * (q / 2));
    const int mode = mb.quarter_mode[static_cast<size_t>(q)];
    *fw_mode = *bw_mode = *fw_ref = *bw_ref = -1;
    if (!IsB(img)) {
        *fw_ref = m.ref_map[at];
        *fw_mode = mode;
        *bw_mode = 0;
        *bw_ref = 0;
        return;
    }
    switch (mb.quarter_dir[static_cast<size_t>(q)]) {
    case -1:
        *fw_mode = *bw_mode = 0;
        break;
    case 0:
        *fw_ref = m.fw_ref_map[at];
        *fw_mode = mode;
        *bw_mode = 0;
        break;
    case 1:
        *fw_ref = 0;
        *fw_mode = 0;
        *bw_ref = m.bw_ref_map[at];
        *bw_mode = mode;
        break;
    default:
        *fw_ref = m.fw_ref_map[at];
        *bw_ref = m.bw_ref_map[at];
        *fw_mode = *bw_mode = mode;
        break;
    }
    if (mode == 0 && mb.quarter_dir[static_cast<size_t>(q)] >= 0) {
        *fw_ref = std::max(0, m.ref_map[at]);
        *bw_ref = 0;
    }
}

int code_luma_quarter(EncoderRun &run, int *cbp, int *cbp_blk, int q, int fw_mode, int bw_mode, int fw_ref,
                      int bw_ref)
{
    EncoderImage &img = run.img;
    MacroblockWork &w = run.mbw;
    const Array2D<uint8_t> &org = run.org->y;
    const int x0 = 8 * (q % 2), y0 = 8 * (q / 2);
    const bool skip = !IsB(img) && fw_mode == 0 && bw_mode == 0;
    const int px = img.luma_x(), py = img.luma_y();
    int cost = 0;
    for (int by = y0; by < y0 + 8; by += 4)
        for (int bx = x0; bx < x0 + 8; bx += 4) {
            predict_luma_4x4(run, bx / 4, by / 4, fw_mode, bw_mode, fw_ref, bw_ref);
            for (int x = 0; x < 4; ++x)
                for (int y = 0; y < 4; ++y)
                    w.resid[x][y] = org[py + by + y][px + bx + x] - w.pred[bx + x][by + y];
            if (w.direct_no_residue || skip)
                continue;
            const int nz = IsSP(img) ? quant_luma_4x4_sp(run, bx, by, &cost)
                                     : h264enc_trans_quant_4x4(run, bx, by, &cost);
            if (nz) {
                *cbp_blk |= 1 << (4 * (by / 4) + bx / 4);
                *cbp |= 1 << q;
            }
        }
    if (w.direct_no_residue || skip || cost > 4)
        return cost;
    // Cost 0..4: the quarter's few lonely levels are not worth their bits.
    *cbp &= ~(1 << q);
    *cbp_blk &= ~(0x33 << (4 * q - 2 * (q % 2)));
    Array2D<uint8_t> &rec = run.rec->y;
    for (int y = y0; y < y0 + 8; ++y)
        for (int x = x0; x < x0 + 8; ++x)
            rec[py + y][px + x] = static_cast<uint8_t>(w.pred[x][y]);
    if (IsSP(img))
        for (int by = y0; by < y0 + 8; by += 4)
            for (int bx = x0; bx < x0 + 8; bx += 4)
                requant_prediction_sp(run, bx, by);
    return 0;
}

void code_luma_macroblock(EncoderRun &run)
{
    EncoderImage &img = run.img;
    MacroblockRecord &mb = img.CurrentMb();
    int cbp = 0, cbpBlk = 0, sum = 0;
    for (int q = 0; q < 4; ++q) {
        int fwMode, bwMode, fwRef, bwRef;
        quarter_modes_and_refs(run, q, &fwMode, &bwMode, &fwRef, &bwRef);
        sum += code_luma_quarter(run, &cbp, &cbpBlk, q, fwMode, bwMode, fwRef, bwRef);
    }
    mb.coded_pattern = cbp;
    mb.coded_block_bits = cbpBlk;
    if (sum <= 5) {
        mb.coded_pattern &= 0x30;
        mb.coded_block_bits &= 0xFF0000;
        Array2D<uint8_t> &rec = run.rec->y;
        const int px = img.luma_x(), py = img.luma_y();
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                rec[py + y][px + x] = static_cast<uint8_t>(run.mbw.pred[x][y]);
        if (IsSP(img))
            for (int by = 0; by < 16; by += 4)
                for (int bx = 0; bx < 16; bx += 4)
                    requant_prediction_sp(run, bx, by);
    }
}

void code_chroma_macroblock(EncoderRun &run)
{
    EncoderImage &img = run.img;
    MacroblockRecord &mb = img.CurrentMb();
    MacroblockWork &w = run.mbw;
    const bool intra = mb.mb_mode == kModeI4 || mb.mb_mode == kModeI16;
    const bool pSkip = mb.mb_mode == kModeSkip && !IsB(img);
    const int cx0 = img.chroma_pix_x(), cy0 = img.chroma_pix_y();
    int crCbp = 0;
    for (int uv = 0; uv < 2; ++uv) {
        const Array2D<uint8_t> &org = run.org->uv[uv];
        Array2D<uint8_t> &rec = run.rec->uv[uv];
        for (int q = 0; q < 4; ++q) {
            const int qx = 4 * (q % 2), qy = 4 * (q / 2);
            if (intra) {
                copy_chroma_intra_4x4(run, uv, qx, qy);
                continue;
            }
            int fwMode, bwMode, fwRef, bwRef;
            quarter_modes_and_refs(run, q, &fwMode, &bwMode, &fwRef, &bwRef);
            predict_chroma_4x4(run, uv, qx, qy, fwMode, bwMode, fwRef, bwRef);
        }
        if (w.direct_no_residue || (pSkip && !IsSP(img))) {
            for (int x = 0; x < 8; ++x)
                for (int y = 0; y < 8; ++y)
                    rec[cy0 + y][cx0 + x] = static_cast<uint8_t>(w.cpred[x][y]);
            continue;
        }
        for (int x = 0; x < 8; ++x)
            for (int y = 0; y < 8; ++y)
                w.resid[x][y] = pSkip ? 0 : org[cy0 + y][cx0 + x] - w.cpred[x][y];
        crCbp = IsSP(img) && !intra ? quant_chroma_sp(run, uv, crCbp)
                                    : h264enc_trans_quant_chroma(run, uv, crCbp);
    }
    mb.coded_pattern += 16 * crCbp;
}

// ---------------------------------------------------------------------------------------------
// Intra

void h264enc_intra_pred_4x4(EncoderRun &run, int x, int y)
{
    EncoderImage &img = run.img;
    MacroblockWork &w = run.mbw;
    const int bx = x / 4, by = y / 4;
    const bool up = img.ipred_map(bx, by - 1) >= 0;
    const bool left = img.ipred_map(bx - 1, by) >= 0;
    const bool upRight =
        img.ipred_map(bx + 1, by - 1) >= 0 && h264dec_above_right_allowed(x % 16, y % 16, img.mbaff != 0);
    const Array2D<uint8_t> &pic = run.rec->y;
    Intra4x4Neighbours n;
    for (int k = 0; k < 4; ++k) {
        n.above[k] = up ? pic[y - 1][x + k] : 128;
        n.left[k] = left ? pic[y + k][x - 1] : 128;
    }
    for (int k = 4; k < 8; ++k)
        n.above[k] = !up ? 128 : upRight ? pic[y - 1][x + k] : n.above[3];
    n.corner = up && left ? pic[y - 1][x - 1] : 128;
    for (int m = 0; m < 9; ++m) {
        w.intra4_ok[m] = m == 2 || (m == 0 && up) || (m == 1 && left) || (m >= 3 && up && left);
        if (w.intra4_ok[m])
            h264dec_pred4x4_kernel(m, n, (up ? 1 : 0) | (left ? 2 : 0), w.intra4[m]);
    }
}

void intra_mb_neighbours(const EncoderRun &run, bool *up, bool *left)
{
    const EncoderImage &img = run.img;
    const int m = img.mb_index, w = img.WidthMbs();
    *up = img.mb_y > 0 && SameSlice(img, m - w);
    *left = img.mb_x > 0 && SameSlice(img, m - 1);
    if (run.input.UseConstrainedIntraPred) {
        if (*up)
            *up = quadrant_intra(run, m - w, 2) && quadrant_intra(run, m - w, 3);
        if (*left)
            *left = quadrant_intra(run, m - 1, 1) && quadrant_intra(run, m - 1, 3);
    }
}

void h264enc_intra_pred_16x16(EncoderRun &run)
{
    const EncoderImage &img = run.img;
    bool up, left;
    intra_mb_neighbours(run, &up, &left);
    const Array2D<uint8_t> &pic = run.rec->y;
    const int px = img.luma_x(), py = img.luma_y();
    Intra16x16Neighbours n;
    for (int k = 0; k < 16; ++k) {
        n.above[k] = up ? pic[py - 1][px + k] : 0;
        n.left[k] = left ? pic[py + k][px - 1] : 0;
    }
    n.corner = up && left ? pic[py - 1][px - 1] : 0;
    n.above_ok = up;
    n.left_ok = left;
    for (int m = 0; m < 4; ++m)
        h264dec_pred16x16_kernel(m, n, run.mbw.luma16_intra_preds[m]);
}

void decide_chroma_intra_mode(EncoderRun &run, bool *up, bool *left)
{
    EncoderImage &img = run.img;
    MacroblockWork &w = run.mbw;
    if (img.mbaff) {
        // Macroblock-adaptive frames take the chroma neighbours across slice borders too, as the
        // decoder does there; constrained intra prediction still keeps to intra neighbours.
        const int m = img.mb_index, w = img.WidthMbs();
        const bool constrained = run.input.UseConstrainedIntraPred != 0;
        *up = img.mb_y > 0 &&
              (!constrained || (quadrant_intra(run, m - w, 2) && quadrant_intra(run, m - w, 3)));
        *left = img.mb_x > 0 &&
                (!constrained || (quadrant_intra(run, m - 1, 1) && quadrant_intra(run, m - 1, 3)));
    } else {
        intra_mb_neighbours(run, up, left);
    }
    const int cx = img.chroma_pix_x(), cy = img.chroma_pix_y();
    for (int uv = 0; uv < 2; ++uv) {
        const Array2D<uint8_t> &pic = run.rec->uv[uv];
        int above[9] = {}, side[9] = {};
        if (*up)
            for (int k = 0; k < 8; ++k)
                above[k + 1] = pic[cy - 1][cx + k];
        if (*left)
            for (int k = 0; k < 8; ++k)
                side[k + 1] = pic[cy + k][cx - 1];
        if (*up && *left)
            above[0] = side[0] = pic[cy - 1][cx - 1];
        for (int m = 0; m < 4; ++m)
            h264dec_chroma_intra_kernel(m, above + 1, side + 1, *up, *left, w.chroma_intra_preds[uv][m]);
    }
    if (run.input.RDOptimization != 0)
        return;
    int bestMode = 2, best = 1 << 20;
    for (int m = 0; m < 4; ++m) {
        if ((m == 0 && !*up) || (m == 1 && !*left) || (m == 3 && !(*up && *left)))
            continue;
        int cost = 0;
        for (int uv = 0; uv < 2; ++uv) {
            const Array2D<uint8_t> &org = run.org->uv[uv];
            for (int b = 0; b < 4; ++b) {
                int d[16];
                const int x0 = 4 * (b % 2), y0 = 4 * (b / 2);
                for (int y = 0; y < 4; ++y)
                    for (int x = 0; x < 4; ++x)
                        d[4 * y + x] =
                            org[cy + y0 + y][cx + x0 + x] - w.chroma_intra_preds[uv][m][x0 + x][y0 + y];
                cost += satd4x4(d, run.input.UseHadamard != 0);
            }
        }
        if (cost < best) {
            best = cost;
            bestMode = m;
        }
    }
    img.CurrentMb().chroma_pred_mode = bestMode;
}

int intra16x16_cost(EncoderRun &run, int *mode)
{
    const EncoderImage &img = run.img;
    bool up, left;
    intra_mb_neighbours(run, &up, &left);
    const Array2D<uint8_t> &org = run.org->y;
    const int px = img.luma_x(), py = img.luma_y();
    int best = 999999;
    *mode = 2;
    for (int m = 0; m < 4; ++m) {
        if ((m == 0 && !up) || (m == 1 && !left) || (m == 3 && !(up && left)))
            continue;
        int cost = 0;
        int dc[16];
        for (int b = 0; b < 16; ++b) {
            const int x0 = 4 * (b % 4), y0 = 4 * (b / 4);
            int d[16];
            for (int y = 0; y < 4; ++y)
                for (int x = 0; x < 4; ++x)
                    d[4 * y + x] =
                        org[py + y0 + y][px + x0 + x] - run.mbw.luma16_intra_preds[m][x0 + x][y0 + y];
            // Unscaled 4x4 Hadamard; every coefficient but the DC counts here.
            int t[16];
            hadamard4x4(d, t);
            for (int k = 1; k < 16; ++k)
                cost += std::abs(t[k]);
            dc[b] = t[0] / 4;
        }
        int t[16];
        hadamard4x4(dc, t);
        for (int k = 0; k < 16; ++k)
            cost += std::abs(t[k]);
        if (cost < best) {
            best = cost;
            *mode = m;
        }
    }
    return best / 2;
}

Intra4x4Block start_intra4x4_block(EncoderRun &run, int q, int b)
{
    const EncoderImage &img = run.img;
    Intra4x4Block k;
    k.ox = 8 * (q % 2) + 4 * (b % 2);
    k.oy = 8 * (q / 2) + 4 * (b / 2);
    k.x = img.luma_x() + k.ox;
    k.y = img.luma_y() + k.oy;
    k.bx = k.x / 4;
    k.by = k.y / 4;
    const int up = img.ipred_map(k.bx, k.by - 1), left = img.ipred_map(k.bx - 1, k.by);
    k.most_probable = up < 0 || left < 0 ? 2 : std::min(up, left);
    h264enc_intra_pred_4x4(run, k.x, k.y);
    return k;
}

} // namespace h264enc
