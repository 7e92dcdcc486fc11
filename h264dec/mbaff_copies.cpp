// MBAFF frames keep every array of the macroblock layer in two forms: frame rows, and a copy per field
// in field rows. A field macroblock works in its field's copy (MbaffFieldView); after each macroblock
// its blocks are carried into the other form, vertical components and reference indices scaled by
// the change of row spacing.
#include "h264dec/macroblock.h"

#include <utility>

// A field macroblock of an MBAFF frame predicts its 4x4 modes from its field's copy of the intra modes:
// the copy's border entries beside it are cut off like the frame's when the left pair or the pair
// above lies in another slice (or, under constrained intra prediction, is not intra there).
void h264dec_mbaff_field_borders(H264DecoderState &dec)
{
    DecoderImage &img = dec.img;
    const int m = img.mb_index, w = img.width / 16;
    Array2D<int> &modes = dec.mb_arrays.field_copy[img.current_mb_nr % 2].intra_modes;
    const bool constrained = img.constrained_intra_pred_flag != 0;
    const int gy = 4 * (img.mb_y / 2);
    if (img.pix_x >= 16) {
        const bool same = h264dec_mb_in_slice(dec, m - 1);
        if (!same || (constrained && !h264dec_quadrant_intra(dec, m - 1, 1)))
            modes[img.block_x][gy + 1] = modes[img.block_x][gy + 2] = -1;
        if (!same || (constrained && !h264dec_quadrant_intra(dec, m - 1, 3)))
            modes[img.block_x][gy + 3] = modes[img.block_x][gy + 4] = -1;
    }
    if (img.mb_y >= 2) {
        // The lower macroblock of the pair above.
        const int a = m - w * (img.current_mb_nr % 2 == 0 ? 1 : 2);
        const bool same = h264dec_mb_in_slice(dec, a);
        if (!same || (constrained && !h264dec_quadrant_intra(dec, a, 2)))
            modes[img.block_x + 1][gy] = modes[img.block_x + 2][gy] = -1;
        if (!same || (constrained && !h264dec_quadrant_intra(dec, a, 3)))
            modes[img.block_x + 3][gy] = modes[img.block_x + 4][gy] = -1;
    }
}

namespace {

int HalveRef(int r)
{
    return r < 0 ? r : r / 2;
}
int DoubleRef(int r)
{
    return r < 0 ? r : 2 * r;
}

// Copies block (x, frame row fy) to (x, field row gy) of a field copy, or back, with the scaling of
// the direction.
void ToField(H264DecoderState &dec, MbaffFieldCopy &f, int x, int fy, int gy)
{
    DecoderImage &img = dec.img;
    // B pictures only read the co-located motion of the field copies; P pictures keep both forms.
    if (!IsBPicture(img.type)) {
        f.mv[x + 4][gy][0] = (*img.mv)[x + 4][fy][0];
        f.mv[x + 4][gy][1] = (*img.mv)[x + 4][fy][1] / 2;
        f.ref_idx_arr[gy][x] = DoubleRef((*img.ref_idx_arr)[fy][x]);
    }
    f.fwd_ref[gy][x] = DoubleRef((*img.fwd_ref)[fy][x]);
    f.bwd_ref[gy][x] = DoubleRef((*img.bwd_ref)[fy][x]);
    const std::pair<Array3D<int> *, Array3D<int> *> vecs[4] = {{img.fwd_mv, &f.fwd_mv},
                                                               {img.bwd_mv, &f.bwd_mv},
                                                               {img.direct_fwd_mv, &f.direct_fwd_mv},
                                                               {img.direct_bwd_mv, &f.direct_bwd_mv}};
    for (const auto &v : vecs) {
        (*v.second)[x + 4][gy][0] = (*v.first)[x + 4][fy][0];
        (*v.second)[x + 4][gy][1] = (*v.first)[x + 4][fy][1] / 2;
    }
    f.intra_modes[x + 1][gy + 1] = (*img.intra_modes)[x + 1][fy + 1];
}

void ToFrame(H264DecoderState &dec, MbaffFieldCopy &f, int x, int gy, int fy)
{
    DecoderImage &img = dec.img;
    if (!IsBPicture(img.type)) {
        (*img.mv)[x + 4][fy][0] = f.mv[x + 4][gy][0];
        (*img.mv)[x + 4][fy][1] = 2 * f.mv[x + 4][gy][1];
        (*img.ref_idx_arr)[fy][x] = HalveRef(f.ref_idx_arr[gy][x]);
    }
    (*img.fwd_ref)[fy][x] = HalveRef(f.fwd_ref[gy][x]);
    (*img.bwd_ref)[fy][x] = HalveRef(f.bwd_ref[gy][x]);
    const std::pair<Array3D<int> *, Array3D<int> *> vecs[4] = {{img.fwd_mv, &f.fwd_mv},
                                                               {img.bwd_mv, &f.bwd_mv},
                                                               {img.direct_fwd_mv, &f.direct_fwd_mv},
                                                               {img.direct_bwd_mv, &f.direct_bwd_mv}};
    for (const auto &v : vecs) {
        (*v.first)[x + 4][fy][0] = (*v.second)[x + 4][gy][0];
        (*v.first)[x + 4][fy][1] = 2 * (*v.second)[x + 4][gy][1];
    }
    (*img.intra_modes)[x + 1][fy + 1] = f.intra_modes[x + 1][gy + 1];
}

} // namespace

void h264dec_sync_mbaff_copies(H264DecoderState &dec)
{
    DecoderImage &img = dec.img;
    if (!img.MbaffFrameFlag || img.structure != kFrame)
        return;
    MacroblockArrays &a = dec.mb_arrays;
    const DecoderMacroblock &mb = h264dec_current_mb(dec);
    const int x0 = img.block_x, pairRow = img.mb_y / 2;
    if (!mb.mb_field) {
        for (int j = 0; j < 4; ++j) {
            const int fy = img.block_y + j;
            for (int i = 0; i < 4; ++i)
                ToField(dec, a.field_copy[fy % 2], x0 + i, fy, fy / 2);
        }
        return;
    }
    // A field macroblock was read in its field's copy: its rows of the pair's frame rows follow.
    const int parity = img.current_mb_nr % 2;
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i)
            ToFrame(dec, a.field_copy[parity], x0 + i, 4 * pairRow + j, 8 * pairRow + 2 * j + parity);
}

MbaffFieldView::MbaffFieldView(H264DecoderState &dec, bool active) : m_dec(dec), m_active(active)
{
    if (!active)
        return;
    DecoderImage &img = dec.img;
    m_saved.mv = img.mv;
    m_saved.fwd_mv = img.fwd_mv;
    m_saved.bwd_mv = img.bwd_mv;
    m_saved.direct_fwd_mv = img.direct_fwd_mv;
    m_saved.direct_bwd_mv = img.direct_bwd_mv;
    m_saved.ref_idx_arr = img.ref_idx_arr;
    m_saved.fwd_ref = img.fwd_ref;
    m_saved.bwd_ref = img.bwd_ref;
    m_saved.intra_modes = img.intra_modes;
    m_saved.moving_block = img.moving_block;
    m_saved.mb_y = img.mb_y;
    m_saved.block_y = img.block_y;
    m_saved.pix_y = img.pix_y;
    m_saved.pix_c_y = img.pix_c_y;
    MbaffFieldCopy &f = dec.mb_arrays.field_copy[img.current_mb_nr % 2];
    img.mv = &f.mv;
    img.ref_idx_arr = &f.ref_idx_arr;
    img.moving_block = &f.moving_block;
    img.fwd_mv = &f.fwd_mv;
    img.bwd_mv = &f.bwd_mv;
    img.direct_fwd_mv = &f.direct_fwd_mv;
    img.direct_bwd_mv = &f.direct_bwd_mv;
    img.fwd_ref = &f.fwd_ref;
    img.bwd_ref = &f.bwd_ref;
    img.intra_modes = &f.intra_modes;
    img.mb_y /= 2;
    img.block_y = 4 * img.mb_y;
    img.pix_y = 16 * img.mb_y;
    img.pix_c_y = 8 * img.mb_y;
    img.mbaff_field_view = 1;
}

void MbaffFieldView::End()
{
    if (!m_active)
        return;
    m_active = false;
    DecoderImage &img = m_dec.img;
    img.mv = m_saved.mv;
    img.ref_idx_arr = m_saved.ref_idx_arr;
    img.fwd_mv = m_saved.fwd_mv;
    img.bwd_mv = m_saved.bwd_mv;
    img.direct_fwd_mv = m_saved.direct_fwd_mv;
    img.direct_bwd_mv = m_saved.direct_bwd_mv;
    img.fwd_ref = m_saved.fwd_ref;
    img.bwd_ref = m_saved.bwd_ref;
    img.intra_modes = m_saved.intra_modes;
    img.moving_block = m_saved.moving_block;
    img.mb_y = m_saved.mb_y;
    img.block_y = m_saved.block_y;
    img.pix_y = m_saved.pix_y;
    img.pix_c_y = m_saved.pix_c_y;
    img.mbaff_field_view = 0;
}
