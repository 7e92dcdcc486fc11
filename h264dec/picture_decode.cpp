// The slice loop: each macroblock is read and at once reconstructed into the planes of the picture
// under decoding, so that the next macroblock predicts from finished samples. In MBAFF frames a pair's
// two macroblocks are frame or field macroblocks together; the frame planes and the two field planes
// are kept equal over the pairs decoded so far, so each macroblock predicts from either form.
#include "h264dec/picture_decode.h"

#include "h264dec/erc.h"
#include "h264dec/h264_shared.h"
#include "h264dec/inverse_transform.h"
#include "h264dec/macroblock.h"
#include "h264dec/reconstruct.h"

#include <algorithm>
#include <cstring>

void dec_alloc_picture_planes(H264DecoderState &dec, int width, int height)
{
    auto alloc = [](DecodedPlanes &p, int w, int h) {
        if (p.y.Rows() != h || p.y.Cols() != w) {
            dec_get_mem2D(p.y, h, w);
            dec_get_mem3D(p.uv, 2, h / 2, w / 2);
        }
    };
    alloc(dec.dec_picture_frame, width, height);
    alloc(dec.dec_picture_top, width, height / 2);
    alloc(dec.dec_picture_bottom, width, height / 2);
}

void dec_select_planes(H264DecoderState &dec, int structure)
{
    DecodedPlanes &p = structure == kTopField      ? dec.dec_picture_top
                       : structure == kBottomField ? dec.dec_picture_bottom
                                                   : dec.dec_picture_frame;
    dec.cur_pic_y = &p.y;
    dec.cur_pic_uv = &p.uv;
}

void h264dec_mbaff_select_planes(H264DecoderState &dec)
{
    const DecoderImage &img = dec.img;
    const bool field = h264dec_current_mb(dec).mb_field != 0;
    dec_select_planes(dec, !field ? kFrame : img.current_mb_nr % 2 == 0 ? kTopField : kBottomField);
    dec.mref = field ? &dec.dec_mref_fld : &dec.dec_mref_frm;
    dec.mcef = field ? &dec.dec_mcef_fld : &dec.dec_mcef_frm;
}

void h264dec_mbaff_copy_pair(H264DecoderState &dec)
{
    const DecoderImage &img = dec.img;
    const bool field = h264dec_current_mb(dec).mb_field != 0;
    const int parity = img.current_mb_nr % 2;
    DecodedPlanes &frame = dec.dec_picture_frame;
    DecodedPlanes *fields[2] = {&dec.dec_picture_top, &dec.dec_picture_bottom};
    const int pairRow = img.mb_y / 2;
    // (frame plane, field planes, rows of the macroblock, its first frame row, columns)
    auto copy = [&](Array2D<uint8_t> &f, Array2D<uint8_t> &top, Array2D<uint8_t> &bottom, int rows, int x0,
                    int cols) {
        Array2D<uint8_t> *fld[2] = {&top, &bottom};
        if (field) {
            // Field rows pairRow * rows .. go to every other frame row of the pair.
            for (int r = 0; r < rows; ++r)
                std::memcpy(&f[2 * rows * pairRow + 2 * r + parity][x0],
                            &(*fld[parity])[rows * pairRow + r][x0], static_cast<size_t>(cols));
        } else {
            const int y0 = rows * img.mb_y;
            for (int r = 0; r < rows; ++r)
                std::memcpy(&(*fld[(y0 + r) % 2])[(y0 + r) / 2][x0], &f[y0 + r][x0],
                            static_cast<size_t>(cols));
        }
    };
    copy(frame.y, fields[0]->y, fields[1]->y, 16, 16 * img.mb_x, 16);
    for (int c = 0; c < 2; ++c)
        copy(frame.uv[c], fields[0]->uv[c], fields[1]->uv[c], 8, 8 * img.mb_x, 8);
    dec_select_planes(dec, kFrame);
    dec.mref = &dec.dec_mref_frm;
    dec.mcef = &dec.dec_mcef_frm;
}

void h264dec_mbaff_skip_top_field(H264DecoderState &dec)
{
    const DecoderImage &img = dec.img;
    const LumaRefList &l = dec.dec_mref_fld;
    const ChromaRefList &lc = dec.dec_mcef_fld;
    if (l.empty() || !l[0] || !l[0]->HasData() || lc.empty() || !lc[0] || lc[0]->Frames() < 2)
        return; // no field reference to take it from
    const int y0 = 16 * (img.mb_y / 2), x0 = 16 * img.mb_x;
    Array2D<uint8_t> &top = dec.dec_picture_top.y;
    for (int r = 0; r < 16 && y0 + r < std::min(top.Rows(), l[0]->Rows()); ++r)
        std::memcpy(&top[y0 + r][x0], &(*l[0])[y0 + r][x0], 16);
    for (int c = 0; c < 2; ++c) {
        Array2D<uint8_t> &plane = dec.dec_picture_top.uv[c];
        const Array2D<uint8_t> &ref = (*lc[0])[c];
        for (int r = 0; r < 8 && y0 / 2 + r < std::min(plane.Rows(), ref.Rows()); ++r)
            std::memcpy(&plane[y0 / 2 + r][x0 / 2], &ref[y0 / 2 + r][x0 / 2], 8);
    }
}

void h264dec_mbaff_zero_fwd_refs(H264DecoderState &dec)
{
    DecoderImage &img = dec.img;
    if (img.structure != kFrame || !img.MbaffFrameFlag)
        return;
    const DecoderMacroblock &mb = h264dec_current_mb(dec);
    const bool isB = IsBPicture(img.type);
    Array2D<int> &frameRefs = isB ? *img.fwd_ref : *img.ref_idx_arr;
    const int mode = mb.mb_type == kMb8x8 ? kSub8x8 : mb.mb_type;
    if (mode < 1 || mode > kSub4x4)
        return;
    const int sx = kBlockStep[mode][0], sy = kBlockStep[mode][1];
    for (int j = 0; j < 4; j += sy)
        for (int i = 0; i < 4; i += sx) {
            const int q = 2 * (j / 2) + i / 2, d = mb.sub_pred_dir[q];
            if (mb.sub_mode[q] == kSubDirect || !(d == 0 || d == 2))
                continue;
            for (int y = j; y < j + sy; ++y)
                for (int x = i; x < i + sx; ++x) {
                    // Frame block row fy is row fy / 2 of the field of its parity, as the pair copies map it.
                    const int fy = img.block_y + y;
                    MbaffFieldCopy &f = dec.mb_arrays.field_copy[fy % 2];
                    frameRefs[fy][img.block_x + x] = 0;
                    (isB ? f.fwd_ref : f.ref_idx_arr)[fy / 2][img.block_x + x] = 0;
                }
        }
}

int h264dec_decode_slice(H264DecoderState &dec)
{
    DecoderImage &img = dec.img;
    img.skip_run = -1;
    h264dec_reset_lost_flags(dec);
    const int frameRefs = img.num_ref_idx_active_fwd;
    const bool mbaff = img.MbaffFrameFlag != 0;
    const int limit = img.width * img.height / 256;
    int count = 0;
    try {
        for (;;) {
            h264dec_set_mb_index(dec);
            h264dec_start_macroblock(dec);
            h264dec_read_macroblock(dec);
            DecoderMacroblock &mb = h264dec_current_mb(dec);
            // The luma DC levels of a 16x16 intra macroblock are transformed before its blocks.
            if (mb.mb_type == kMbIntra16x16)
                h264dec_itrans_luma_dc(img);
            if (mbaff) {
                h264dec_mbaff_select_planes(dec);
                if (mb.mb_field)
                    h264dec_reconstruct_mbaff_macroblock(dec);
                else
                    h264dec_reconstruct_macroblock(dec);
                // Direct blocks got their motion in the reconstruction: the other form follows.
                if (IsBPicture(img.type))
                    h264dec_sync_mbaff_copies(dec);
                h264dec_mbaff_copy_pair(dec);
            } else {
                h264dec_reconstruct_macroblock(dec);
            }
            img.num_ref_idx_active_fwd = frameRefs;
            h264dec_erc_write_macroblock(dec);
            ++count;
            const int eos = mbaff && img.current_mb_nr % 2 == 0 ? 0 : 1;
            if (h264dec_exit_macroblock(dec, eos) || count > limit)
                break;
        }
    } catch (...) {
        img.num_ref_idx_active_fwd = frameRefs;
        throw;
    }
    h264dec_reset_lost_flags(dec);
    if (mbaff)
        img.ref_buffer_cycle = dec.input.ref_frames + 1;
    return count;
}
