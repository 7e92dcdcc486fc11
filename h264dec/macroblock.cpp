// Macroblock syntax: position and neighbours, skip runs and flags, the field flag of MBAFF pairs, the
// type and its interpretation into modes, sub-types, intra modes and the skipped P macroblock.
#include "h264dec/macroblock.h"

#include "h264dec/cabac_read.h"
#include "h264dec/cavlc_read.h"
#include "h264dec/fmo.h"
#include "platform/format.h"

#include <algorithm>
#include <cstring>

namespace {

const int kIntra16Pattern[6] = {0, 16, 32, 15, 31, 47};

// Direction pairs of the B 16x8 and 8x16 types 4..21, by (type - 4) / 2.
const int kBPartitionDirections[9][2] = {{0, 0}, {1, 1}, {0, 1}, {1, 0}, {0, 2},
                                         {1, 2}, {2, 0}, {2, 1}, {2, 2}};

const int kPSubMode[5] = {kSub8x8, kSub8x4, kSub4x8, kSub4x4, kSubIntra};
const int kPSubDir[5] = {0, 0, 0, 0, -1};
const int kBSubMode[14] = {0, 4, 4, 4, 5, 6, 5, 6, 5, 6, 7, 7, 7, 11};
const int kBSubDir[14] = {2, 0, 1, 2, 0, 0, 1, 1, 2, 2, 0, 1, 2, -1};

bool SameSlice(const H264DecoderState &dec, int index)
{
    return h264dec_mb_in_slice(dec, index);
}

DecoderMacroblock *MbAt(H264DecoderState &dec, int index)
{
    return &(*dec.img.mb_data)[static_cast<size_t>(index)];
}

void SetPosition(H264DecoderState &dec)
{
    DecoderImage &img = dec.img;
    const int w = WidthMbs(img), c = img.current_mb_nr;
    if (img.MbaffFrameFlag) {
        img.mb_x = (c % (2 * w)) / 2;
        img.mb_y = 2 * (c / (2 * w)) + (c % 2);
    } else {
        img.mb_x = c % w;
        img.mb_y = c / w;
    }
    img.block_y = 4 * img.mb_y;
    img.pix_y = 16 * img.mb_y;
    img.pix_x = 16 * img.mb_x;
    img.pix_c_y = 8 * img.mb_y;
    img.block_x = 4 * img.mb_x;
    img.pix_c_x = 8 * img.mb_x;
}

bool QuadrantIntra(const H264DecoderState &dec, int index, int quadrant)
{
    return h264dec_quadrant_intra(dec, index, quadrant);
}

void CheckRead(H264DecoderState &dec, int result, const char *what)
{
    if (result < 0)
        h264dec_macroblock_error(dec, std::string(what) + ": the slice data ends inside the macroblock");
}

// The element that decides whether a macroblock is skipped: CABAC skip flag, or the CAVLC run.
void ReadFieldFlag(H264DecoderState &dec)
{
    SyntaxSymbol sym;
    sym.kind = SE_MBTYPE;
    h264dec_set_cabac_neighbours(dec);
    h264dec_read_mb_element(dec, sym, SE_MBTYPE, cabac_read_field_flag, "mb_field_decoding_flag");
    dec.img.mb_field_flag = sym.value1 ? 1 : 0;
}

void SkippedPMotion(H264DecoderState &dec, DecoderMacroblock &mb)
{
    DecoderImage &img = dec.img;
    const bool up = img.mb_y > 0 && SameSlice(dec, h264dec_above_index(img));
    const bool left = img.mb_x > 0 && SameSlice(dec, img.mb_index - 1);
    Array2D<int> &refs = *img.ref_idx_arr;
    Array3D<int> &mv = *img.mv;
    const int x = img.block_x, y = img.block_y;
    bool zero = !up || !left;
    if (!zero) {
        const bool upZero = refs[y - 1][x] == 0 && mv[x + 4][y - 1][0] == 0 && mv[x + 4][y - 1][1] == 0;
        const bool leftZero = refs[y][x - 1] == 0 && mv[x + 3][y][0] == 0 && mv[x + 3][y][1] == 0;
        zero = upZero || leftZero;
    }
    int px = 0, py = 0;
    if (!zero)
        h264dec_predict_vector(dec, &px, &py, 0, refs, mv, 0, 0, 16, 16);
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i) {
            mv[x + i + 4][y + j][0] = px;
            mv[x + i + 4][y + j][1] = py;
            refs[y + j][x + i] = 0;
        }
    (void)mb;
}

void ClearLevels(H264DecoderState &dec)
{
    DecoderImage &img = dec.img;
    std::memset(img.coef, 0, sizeof img.coef);
    if (img.nzcoeff)
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 6; ++j)
                (*img.nzcoeff)[img.mb_x][img.mb_y][i][j] = 0;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Shared helpers

bool h264dec_mb_in_slice(const H264DecoderState &dec, int index)
{
    const auto &mbs = *dec.img.mb_data;
    return index >= 0 && index < static_cast<int>(mbs.size()) &&
           mbs[static_cast<size_t>(index)].slice_number == dec.img.current_slice_nr;
}

bool h264dec_quadrant_intra(const H264DecoderState &dec, int index, int quadrant)
{
    if (!dec.img.intra_block || index < 0 || index >= static_cast<int>(dec.img.intra_block->size()))
        return true;
    return (*dec.img.intra_block)[static_cast<size_t>(index)][static_cast<size_t>(quadrant)] != 0;
}

DecoderMacroblock &h264dec_current_mb(H264DecoderState &dec)
{
    return (*dec.img.mb_data)[static_cast<size_t>(dec.img.mb_index)];
}

void h264dec_macroblock_error(const H264DecoderState &dec, const std::string &what)
{
    h264_fatal_error(
        zn::Format("%s (picture %d, macroblock %d)", what.c_str(), dec.img.number, dec.img.mb_index),
        kH264StreamErrorCode);
}

int h264dec_above_index(const DecoderImage &img)
{
    const int w = img.width / 16;
    const bool lowerField = img.mbaff_field_view && img.current_mb_nr % 2 == 1;
    return img.mb_index - w - (lowerField ? w : 0);
}

bool h264dec_is_cabac(const H264DecoderState &dec)
{
    return dec.active_pps && dec.active_pps->entropy_coding_mode == 1;
}

DataPartition &h264dec_partition(H264DecoderState &dec, int kind)
{
    return dec.slice.partitions[static_cast<size_t>(assignSE2partition[dec.slice.dp_mode][kind])];
}

void h264dec_read_mb_element(H264DecoderState &dec, SyntaxSymbol &sym, int kind, CabacReadFn cabac_fn,
                             const char *what)
{
    DataPartition &dp = h264dec_partition(dec, kind);
    sym.kind = kind;
    if (h264dec_is_cabac(dec)) {
        sym.read_fn = cabac_fn;
        cabac_read_element(&sym, dec, &dp);
        return;
    }
    if (!sym.map_fn)
        sym.map_fn = h264dec_map_ue;
    CheckRead(dec, h264dec_read_vlc(&sym, dp.bitstream.get()), what);
}

// ---------------------------------------------------------------------------------------------
// Picture and slice set-up

void dec_alloc_macroblock_arrays(H264DecoderState &dec, int width, int height)
{
    MacroblockArrays &a = dec.mb_arrays;
    DecoderImage &img = dec.img;
    if (a.width != width || a.height != height || a.mb_data.empty()) {
        const int bw = width / 4, bh = height / 4, mbw = width / 16, mbh = height / 16;
        a.width = width;
        a.height = height;
        a.mb_data.assign(static_cast<size_t>(mbw * mbh), DecoderMacroblock{});
        dec_get_mem3Dint(a.mv, bw + 4, bh, 3);
        dec_get_mem3Dint(a.fwd_mv, bw + 4, bh, 2);
        dec_get_mem3Dint(a.bwd_mv, bw + 4, bh, 2);
        dec_get_mem3Dint(a.direct_fwd_mv, bw + 4, bh, 2);
        dec_get_mem3Dint(a.direct_bwd_mv, bw + 4, bh, 2);
        dec_get_mem2Dint(a.ref_idx_arr, bh, bw);
        dec_get_mem2Dint(a.fwd_ref, bh, bw);
        dec_get_mem2Dint(a.bwd_ref, bh, bw);
        dec_get_mem2Dint(a.moving_block, bh, bw);
        dec_get_mem2Dint(a.intra_modes, bw + 1, bh + 1);
        dec_get_mem2Dint(a.field_mb, mbh, mbw);
        dec_get_mem2Dint(a.si_block, mbw, mbh);
        dec_get_mem4Dint(a.nzcoeff, mbw, mbh, 4, 6);
        a.intra_block.assign(static_cast<size_t>(mbw * mbh), std::array<int, 4>{1, 1, 1, 1});
        for (MbaffFieldCopy &f : a.field_copy) {
            const int fh = bh / 2;
            dec_get_mem3Dint(f.mv, bw + 4, fh, 3);
            dec_get_mem3Dint(f.fwd_mv, bw + 4, fh, 2);
            dec_get_mem3Dint(f.bwd_mv, bw + 4, fh, 2);
            dec_get_mem3Dint(f.direct_fwd_mv, bw + 4, fh, 2);
            dec_get_mem3Dint(f.direct_bwd_mv, bw + 4, fh, 2);
            dec_get_mem2Dint(f.ref_idx_arr, fh, bw);
            dec_get_mem2Dint(f.fwd_ref, fh, bw);
            dec_get_mem2Dint(f.bwd_ref, fh, bw);
            dec_get_mem2Dint(f.intra_modes, bw + 1, fh + 1);
            dec_get_mem2Dint(f.moving_block, fh, bw);
        }
    }
    img.mb_data = &a.mb_data;
    img.mv = &a.mv;
    img.fwd_mv = &a.fwd_mv;
    img.bwd_mv = &a.bwd_mv;
    img.direct_fwd_mv = &a.direct_fwd_mv;
    img.direct_bwd_mv = &a.direct_bwd_mv;
    img.ref_idx_arr = &a.ref_idx_arr;
    img.fwd_ref = &a.fwd_ref;
    img.bwd_ref = &a.bwd_ref;
    img.moving_block = &a.moving_block;
    img.intra_modes = &a.intra_modes;
    img.field_mb = &a.field_mb;
    img.si_block = &a.si_block;
    img.nzcoeff = &a.nzcoeff;
    img.intra_block = &a.intra_block;
}

void dec_start_picture_arrays(H264DecoderState &dec)
{
    MacroblockArrays &a = dec.mb_arrays;
    for (DecoderMacroblock &mb : a.mb_data) {
        mb = DecoderMacroblock{};
        mb.slice_number = -1;
        mb.lost_flag = 1;
    }
    const int mbw = a.width / 16, mbh = a.height / 16;
    for (int x = 0; x < mbw; ++x)
        for (int y = 0; y < mbh; ++y)
            for (int i = 0; i < 4; ++i)
                std::fill(a.nzcoeff[x][y][i], a.nzcoeff[x][y][i] + 6, -1);
    // The border column and row mark blocks outside the picture as unusable for prediction.
    for (Array2D<int> *modes : {&a.intra_modes, &a.field_copy[0].intra_modes, &a.field_copy[1].intra_modes}) {
        for (int x = 0; x < modes->Rows(); ++x)
            std::fill((*modes)[x], (*modes)[x] + modes->Cols(), x == 0 ? -1 : 2);
        for (int x = 0; x < modes->Rows(); ++x)
            (*modes)[x][0] = -1;
    }
    const int flag = dec.img.constrained_intra_pred_flag ? 1 : 0;
    for (auto &q : a.intra_block)
        q = {flag, flag, flag, flag};
}

void h264dec_init_contexts(H264DecoderState &dec)
{
    const bool islice = dec.img.type == kPictureI;
    cabac_init_motion_contexts(dec.slice.motion_contexts.get(), islice, dec.img.model_number, dec.img.qp);
    cabac_init_texture_contexts(dec.slice.texture_contexts.get(), islice, dec.img.model_number, dec.img.qp);
}

void h264dec_start_slice_data(H264DecoderState &dec, int header_bits)
{
    dec.img.skip_run = -1;
    dec.cabac_coefficients = CabacCoefficientBuffer{};
    if (!h264dec_is_cabac(dec))
        return;
    h264dec_init_contexts(dec);
    DataPartition &dp = dec.slice.partitions[0];
    Bitstream *bs = dp.bitstream.get();
    cabac_start_decoding(&dp.cabac, bs->streamBuffer, bs->byte_length, (header_bits + 7) / 8,
                         &bs->read_length);
}

// ---------------------------------------------------------------------------------------------
// Position and neighbours

void h264dec_set_mb_index(H264DecoderState &dec)
{
    DecoderImage &img = dec.img;
    const int c = img.current_mb_nr, w = WidthMbs(img);
    img.mb_index = img.MbaffFrameFlag ? w * (c % 2 + c / (2 * w)) + c / 2 : c;
    if (img.mb_index < 0 || !img.mb_data || img.mb_index >= static_cast<int>(img.mb_data->size()))
        h264dec_macroblock_error(dec, "Macroblock address outside the picture");
}

void h264dec_check_neighbours(H264DecoderState &dec)
{
    DecoderImage &img = dec.img;
    const int m = img.mb_index, w = WidthMbs(img);
    DecoderMacroblock &mb = *MbAt(dec, m);
    for (auto &row : mb.neighbours)
        std::fill(std::begin(row), std::end(row), nullptr);
    mb.neighbours[1][1] = &mb;
    Array2D<int> &modes = *img.intra_modes;
    const bool constrained = img.constrained_intra_pred_flag != 0;
    const bool fieldMb = img.MbaffFrameFlag && img.mb_field_flag;
    if (img.pix_x >= 16) {
        const bool same = SameSlice(dec, m - 1);
        if (!same || (constrained && !QuadrantIntra(dec, m - 1, 1)))
            modes[img.block_x][img.block_y + 1] = modes[img.block_x][img.block_y + 2] = -1;
        if (!same || (constrained && !QuadrantIntra(dec, m - 1, 3)))
            modes[img.block_x][img.block_y + 3] = modes[img.block_x][img.block_y + 4] = -1;
        if (same)
            mb.neighbours[1][0] = MbAt(dec, m - 1);
    }
    const bool aboveInside = img.pix_y >= (fieldMb ? 32 : 16);
    const int a = m - w;
    if (aboveInside) {
        const bool same = SameSlice(dec, a);
        if (!same || (constrained && !QuadrantIntra(dec, a, 2)))
            modes[img.block_x + 1][img.block_y] = modes[img.block_x + 2][img.block_y] = -1;
        if (!same || (constrained && !QuadrantIntra(dec, a, 3)))
            modes[img.block_x + 3][img.block_y] = modes[img.block_x + 4][img.block_y] = -1;
        if (same)
            mb.neighbours[0][1] = MbAt(dec, a);
        if (img.pix_x >= 16 && SameSlice(dec, a - 1))
            mb.neighbours[0][0] = MbAt(dec, a - 1);
    }
    if (img.pix_y >= 16 && img.pix_x < img.width - 16 && SameSlice(dec, a + 1) && !img.MbaffFrameFlag)
        mb.neighbours[0][2] = MbAt(dec, a + 1);
}

void h264dec_set_cabac_neighbours(H264DecoderState &dec)
{
    DecoderImage &img = dec.img;
    const int m = img.mb_index, w = WidthMbs(img);
    DecoderMacroblock &mb = *MbAt(dec, m);
    mb.cabac_left = img.pix_x >= 16 && SameSlice(dec, m - 1) ? MbAt(dec, m - 1) : nullptr;
    mb.cabac_up = img.pix_y >= 32 && SameSlice(dec, m - 2 * w) ? MbAt(dec, m - 2 * w) : nullptr;
}

void h264dec_start_macroblock(H264DecoderState &dec)
{
    DecoderImage &img = dec.img;
    SetPosition(dec);
    DecoderMacroblock &mb = h264dec_current_mb(dec);
    mb.slice_number = img.current_slice_nr;
    if (!img.MbaffFrameFlag)
        h264dec_check_neighbours(dec);
    mb.qp = img.qp;
    mb.mb_type = 0;
    mb.qp_delta = 0;
    mb.coded_block_pattern = 0;
    mb.cbp_blocks = 0;
    mb.cbp_bits = 0;
    mb.chroma_pred_mode = 2;
    std::memset(mb.mvd, 0, sizeof mb.mvd);
    for (auto &row : img.resid_block)
        std::fill(std::begin(row), std::end(row), 0);
    mb.filter_disable_idc = dec.slice.disable_deblocking_filter_idc;
    mb.filter_alpha_offset = dec.slice.slice_alpha_c0_offset;
    mb.filter_beta_offset = dec.slice.slice_beta_offset;
}

// ---------------------------------------------------------------------------------------------
// Type interpretation

void h264dec_interpret_mb_p(DecoderImage &img, DecoderMacroblock &mb)
{
    const int a = mb.mb_type;
    img.all_ref_zero = 0;
    if (a <= 3) {
        mb.mb_type = a;
        for (int k = 0; k < 4; ++k) {
            mb.sub_mode[k] = a;
            mb.sub_pred_dir[k] = 0;
        }
    } else if (a <= 5) {
        mb.mb_type = kMb8x8;
        img.all_ref_zero = a == 5;
    } else if (a == 6) {
        mb.mb_type = kMbIntra4x4;
        for (int k = 0; k < 4; ++k) {
            mb.sub_mode[k] = kSubIntra;
            mb.sub_pred_dir[k] = -1;
        }
    } else {
        mb.mb_type = kMbIntra16x16;
        for (int k = 0; k < 4; ++k) {
            mb.sub_mode[k] = 0;
            mb.sub_pred_dir[k] = -1;
        }
        mb.coded_block_pattern = kIntra16Pattern[(a - 7) / 4];
        mb.i16_pred_mode = (a - 7) % 4;
    }
}

void h264dec_interpret_mb_i(DecoderImage &, DecoderMacroblock &mb)
{
    const int b = mb.mb_type;
    if (b == 0) {
        mb.mb_type = kMbIntra4x4;
        for (int k = 0; k < 4; ++k) {
            mb.sub_mode[k] = kSubIntra;
            mb.sub_pred_dir[k] = -1;
        }
        return;
    }
    mb.mb_type = kMbIntra16x16;
    for (int k = 0; k < 4; ++k) {
        mb.sub_mode[k] = 0;
        mb.sub_pred_dir[k] = -1;
    }
    mb.coded_block_pattern = kIntra16Pattern[(b - 1) / 4];
    mb.i16_pred_mode = (b - 1) % 4;
}

void h264dec_interpret_mb_b(DecoderImage &, DecoderMacroblock &mb)
{
    const int b = mb.mb_type;
    auto all = [&mb](int mode, int dir) {
        for (int k = 0; k < 4; ++k) {
            mb.sub_mode[k] = mode;
            mb.sub_pred_dir[k] = dir;
        }
    };
    if (b == 0) {
        mb.mb_type = kMbSkipOrDirect;
        all(0, 2);
    } else if (b <= 3) {
        mb.mb_type = kMb16x16;
        all(1, b - 1);
    } else if (b <= 21) {
        const int *pair = kBPartitionDirections[(b - 4) / 2];
        if (b % 2 == 0) { // 16x8: upper quadrants 0, 1, lower 2, 3
            mb.mb_type = kMb16x8;
            all(2, 0);
            mb.sub_pred_dir[0] = mb.sub_pred_dir[1] = pair[0];
            mb.sub_pred_dir[2] = mb.sub_pred_dir[3] = pair[1];
        } else { // 8x16: left quadrants 0, 2, right 1, 3
            mb.mb_type = kMb8x16;
            all(3, 0);
            mb.sub_pred_dir[0] = mb.sub_pred_dir[2] = pair[0];
            mb.sub_pred_dir[1] = mb.sub_pred_dir[3] = pair[1];
        }
    } else if (b == 22) {
        mb.mb_type = kMb8x8;
    } else if (b == 23) {
        mb.mb_type = kMbIntra4x4;
        all(kSubIntra, -1);
    } else {
        mb.mb_type = kMbIntra16x16;
        all(0, -1);
        mb.coded_block_pattern = kIntra16Pattern[(b - 24) / 4];
        mb.i16_pred_mode = (b - 24) % 4;
    }
}

void h264dec_interpret_mb_si(DecoderImage &img, DecoderMacroblock &mb)
{
    const int b = mb.mb_type;
    if (b == 0) {
        mb.mb_type = kMbSI;
        for (int k = 0; k < 4; ++k) {
            mb.sub_mode[k] = kSubIntra;
            mb.sub_pred_dir[k] = -1;
        }
        if (img.si_block)
            (*img.si_block)[img.mb_x][img.mb_y] = 1;
        return;
    }
    mb.mb_type = b - 1;
    h264dec_interpret_mb_i(img, mb);
}

void h264dec_set_sub_mode(DecoderImage &img, DecoderMacroblock &mb, int value, int quadrant)
{
    if (IsBPicture(img.type)) {
        mb.sub_mode[quadrant] = kBSubMode[value];
        mb.sub_pred_dir[quadrant] = kBSubDir[value];
    } else {
        mb.sub_mode[quadrant] = kPSubMode[value];
        mb.sub_pred_dir[quadrant] = kPSubDir[value];
    }
}

// ---------------------------------------------------------------------------------------------
// Initialisation before motion reading

void h264dec_init_macroblock(H264DecoderState &dec)
{
    DecoderImage &img = dec.img;
    DecoderMacroblock &mb = h264dec_current_mb(dec);
    Array3D<int> &mv = *img.mv;
    Array2D<int> &modes = *img.intra_modes;
    Array2D<int> &refs = *img.ref_idx_arr;
    const int x0 = img.block_x, y0 = img.block_y;
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i) {
            mv[x0 + i + 4][y0 + j][0] = mv[x0 + i + 4][y0 + j][1] = 0;
            modes[x0 + i + 1][y0 + j + 1] = 2;
            int r = 0;
            if (mb.mb_type == kMbIntra4x4 || mb.mb_type == kMbIntra16x16 || mb.mb_type == kMbSI)
                r = -1;
            else if (mb.mb_type == kMb8x8)
                r = mb.sub_mode[2 * (j / 2) + i / 2] == kSubIntra ? -1
                    : img.structure != kFrame                     ? (img.number > 1 ? 1 : 0)
                                                                  : 0;
            refs[y0 + j][x0 + i] = r;
        }
    mv[x0 + 4][y0][2] = img.mbaff_field_view ? 2 * img.number : img.number;
}

void h264dec_init_b_macroblock(H264DecoderState &dec)
{
    DecoderImage &img = dec.img;
    DecoderMacroblock &mb = h264dec_current_mb(dec);
    const int x0 = img.block_x, y0 = img.block_y;
    const bool noMotion = mb.mb_type == kMbSkipOrDirect || mb.mb_type == kMbIntra4x4 ||
                          mb.mb_type == kMbIntra16x16 || mb.mb_type == kMbSI;
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i) {
            const int x = x0 + i, y = y0 + j;
            for (int c = 0; c < 2; ++c)
                (*img.fwd_mv)[x + 4][y][c] = (*img.bwd_mv)[x + 4][y][c] = (*img.direct_fwd_mv)[x + 4][y][c] =
                    (*img.direct_bwd_mv)[x + 4][y][c] = 0;
            (*img.intra_modes)[x + 1][y + 1] = 2;
            if (noMotion) {
                (*img.fwd_ref)[y][x] = (*img.bwd_ref)[y][x] = -1;
                continue;
            }
            const int q = 2 * (j / 2) + i / 2, d = mb.sub_pred_dir[q], s = mb.sub_mode[q];
            (*img.fwd_ref)[y][x] = s == 0 || (d != 0 && d != 2) ? -1 : img.structure != kFrame ? 2 : 0;
            (*img.bwd_ref)[y][x] = s == 0 || (d != 1 && d != 2) ? -1 : 0;
        }
}

// ---------------------------------------------------------------------------------------------
// Intra modes

void h264dec_read_intra_modes(H264DecoderState &dec)
{
    DecoderImage &img = dec.img;
    DecoderMacroblock &mb = h264dec_current_mb(dec);
    const int kind = IsBPicture(img.type) ? SE_BFRAME : SE_INTRAPREDMODE;
    bool chroma = mb.mb_type == kMbIntra4x4 || mb.mb_type == kMbIntra16x16;
    Array2D<int> &modes = *img.intra_modes;
    for (int q = 0; q < 4; ++q) {
        if (mb.sub_mode[q] != kSubIntra)
            continue;
        chroma = true;
        for (int k = 0; k < 4; ++k) {
            const int sx = 2 * (q % 2) + k % 2, sy = 2 * (q / 2) + k / 2;
            const int bx = img.block_x + sx, by = img.block_y + sy;
            SyntaxSymbol sym;
            sym.kind = kind;
            img.subblock_x = sx;
            img.subblock_y = sy;
            if (h264dec_is_cabac(dec)) {
                h264dec_read_mb_element(dec, sym, kind, cabac_read_intra_mode, "intra4x4_pred_mode");
            } else {
                DataPartition &dp = h264dec_partition(dec, kind);
                CheckRead(dec, h264dec_read_intra_mode(&sym, dp.bitstream.get()), "intra4x4_pred_mode");
            }
            const int up = modes[bx + 1][by], left = modes[bx][by + 1];
            const int predicted = up < 0 || left < 0 ? 2 : std::min(up, left);
            const int v = sym.value1;
            modes[bx + 1][by + 1] = v == -1 ? predicted : v >= predicted ? v + 1 : v;
        }
    }
    if (!chroma)
        return;
    SyntaxSymbol sym;
    h264dec_read_mb_element(dec, sym, kind, cabac_read_chroma_mode, "intra_chroma_pred_mode");
    if (sym.value1 < 0 || sym.value1 > 3)
        h264_fatal_error("illegal chroma intra pred mode!\n", 600);
    mb.chroma_pred_mode = sym.value1;
}

// ---------------------------------------------------------------------------------------------
// The macroblock

int h264dec_read_macroblock(H264DecoderState &dec)
{
    DecoderImage &img = dec.img;
    DecoderMacroblock &mb = h264dec_current_mb(dec);
    const int w = WidthMbs(img);
    const bool cabac = h264dec_is_cabac(dec);
    const bool mbaff = img.MbaffFrameFlag && img.structure == kFrame;
    const bool upper = img.current_mb_nr % 2 == 0;
    const int type = img.type;
    const bool isB = IsBPicture(type);
    const int typeKind = isB ? SE_BFRAME : SE_MBTYPE;
    DataPartition &typePart = h264dec_partition(dec, typeKind);

    if (img.MbaffFrameFlag && upper)
        img.mb_field_flag = 0;
    bool upperSkipped = false;
    if (mbaff && !upper) {
        const DecoderMacroblock &u = *MbAt(dec, img.mb_index - w);
        upperSkipped = u.mb_type == 0 && (!isB || u.coded_block_pattern == 0);
    }
    mb.qp = img.qp;

    auto readType = [&](int add) {
        SyntaxSymbol sym;
        h264dec_read_mb_element(dec, sym, typeKind, cabac_read_mb_type, "mb_type");
        mb.mb_type = sym.value1 + add;
    };

    if (type == kPictureI || type == kPictureSI) {
        if (img.MbaffFrameFlag) {
            if (upper)
                ReadFieldFlag(dec);
            h264dec_check_neighbours(dec);
        }
        readType(0);
        if (!typePart.bitstream->error_flag)
            mb.lost_flag = 0;
    } else if (cabac) {
        if (img.MbaffFrameFlag)
            h264dec_check_neighbours(dec);
        SyntaxSymbol sym;
        h264dec_read_mb_element(dec, sym, typeKind, cabac_read_skip_flag, "mb_skip_flag");
        mb.mb_type = sym.value1;
        if (isB) {
            mb.coded_block_pattern = sym.value2;
            if (sym.value1 == 0 && sym.value2 == 0)
                img.skip_run = 0;
        }
        if (!typePart.bitstream->error_flag)
            mb.lost_flag = 0;
        if (mbaff) {
            if (upper && mb.mb_type == 0 && !isB) {
                SyntaxSymbol peek;
                peek.kind = typeKind;
                img.mb_field_flag = cabac_peek_next_skip(&peek, dec, &typePart) ? 0 : (peek.value1 ? 1 : 0);
            } else if (upper || (upperSkipped && mb.mb_type != 0)) {
                ReadFieldFlag(dec);
            }
        }
        if (mb.mb_type != 0)
            readType(0);
    } else {
        if (img.skip_run == -1) {
            SyntaxSymbol sym;
            h264dec_read_mb_element(dec, sym, typeKind, nullptr, "mb_skip_run");
            img.skip_run = sym.value1;
            if (img.skip_run > img.mb_limit)
                h264dec_macroblock_error(dec, "mb_skip_run runs past the picture");
        }
        if (img.skip_run > 0) {
            --img.skip_run;
            mb.mb_type = 0;
            mb.lost_flag = 0;
            if (mbaff && upper) {
                if (img.skip_run == 0) {
                    SyntaxSymbol sym;
                    h264dec_read_mb_element(dec, sym, typeKind, nullptr, "mb_field_decoding_flag");
                    img.mb_field_flag = sym.value1 ? 1 : 0;
                } else {
                    img.mb_field_flag = 0;
                }
            }
        } else {
            if (mbaff && (upper || upperSkipped)) {
                SyntaxSymbol sym;
                h264dec_read_mb_element(dec, sym, typeKind, nullptr, "mb_field_decoding_flag");
                img.mb_field_flag = sym.value1 ? 1 : 0;
            }
            readType(isB ? 0 : 1);
            if (!typePart.bitstream->error_flag)
                mb.lost_flag = 0;
            img.skip_run = -1;
        }
        if (img.MbaffFrameFlag)
            h264dec_check_neighbours(dec);
    }

    mb.mb_field = img.mb_field_flag;
    if (mbaff && mb.mb_field)
        h264dec_mbaff_field_borders(dec);
    if (img.field_mb)
        (*img.field_mb)[img.mb_y][img.mb_x] = img.mb_field_flag;
    if (img.si_block)
        (*img.si_block)[img.mb_x][img.mb_y] = 0;

    // Types beyond the tables would index past them.
    const int value = mb.mb_type;
    const int limit = type == kPictureI || type == kPictureSI ? 24 : isB ? 47 : 30;
    if (value < 0 || value > (type == kPictureSI ? 25 : limit))
        h264dec_macroblock_error(dec, zn::Format("mb_type %d beyond the table", value));
    if (type == kPictureI)
        h264dec_interpret_mb_i(img, mb);
    else if (type == kPictureSI)
        h264dec_interpret_mb_si(img, mb);
    else if (isB)
        h264dec_interpret_mb_b(img, mb);
    else
        h264dec_interpret_mb_p(img, mb);

    if (img.MbaffFrameFlag) {
        if (mb.mb_field) {
            img.ref_buffer_cycle = 2 * dec.input.ref_frames + 2;
            img.num_ref_idx_active_fwd *= 2;
        } else {
            img.ref_buffer_cycle = dec.input.ref_frames + 1;
        }
    }

    if (mb.mb_type == kMb8x8) {
        for (int q = 0; q < 4; ++q) {
            SyntaxSymbol sym;
            h264dec_read_mb_element(dec, sym, typeKind, cabac_read_sub_mb_type, "sub_mb_type");
            if (sym.value1 < 0 || sym.value1 > (isB ? 13 : 4))
                h264dec_macroblock_error(dec, zn::Format("sub_mb_type %d beyond the table", sym.value1));
            h264dec_set_sub_mode(img, mb, sym.value1, q);
        }
    }

    // An intra macroblock whose intra pattern was in a lost partition cannot be rebuilt: it is taken as
    // skipped (direct in B pictures) instead, in every picture but the first.
    if ((mb.mb_type == kMbIntra4x4 || mb.mb_type == kMbIntra16x16) && img.number != 0 &&
        h264dec_partition(dec, SE_CBP_INTRA).bitstream->error_flag) {
        mb.mb_type = kMbSkipOrDirect;
        mb.lost_flag = 1;
        for (int q = 0; q < 4; ++q)
            mb.sub_mode[q] = mb.sub_pred_dir[q] = 0;
    }

    if (img.constrained_intra_pred_flag && (IsPPicture(type) || isB) && mb.mb_type != kMbIntra4x4 &&
        mb.mb_type != kMbIntra16x16 && img.intra_block &&
        img.mb_index < static_cast<int>(img.intra_block->size()))
        (*img.intra_block)[static_cast<size_t>(img.mb_index)] = {0, 0, 0, 0};

    MbaffFieldView view(dec, img.MbaffFrameFlag && img.structure == kFrame && mb.mb_field);
    if (isB)
        h264dec_init_b_macroblock(dec);
    else
        h264dec_init_macroblock(dec);

    if (mb.mb_type == kMbSkipOrDirect) {
        if (isB && img.skip_run >= 0) {
            mb.coded_block_pattern = 0;
            ClearLevels(dec);
            if (cabac)
                img.skip_run = -1;
            view.End();
            h264dec_sync_mbaff_copies(dec);
            return 1;
        }
        if (!isB) {
            mb.coded_block_pattern = 0;
            ClearLevels(dec);
            SkippedPMotion(dec, mb);
            view.End();
            h264dec_sync_mbaff_copies(dec);
            return 1;
        }
    }

    h264dec_read_intra_modes(dec);
    if (mb.mb_type != kMbSkipOrDirect && mb.mb_type != kMbIntra4x4 && mb.mb_type != kMbIntra16x16 &&
        mb.mb_type != kMbSI)
        h264dec_read_motion_info(dec);
    h264dec_read_residual(dec);
    view.End();
    h264dec_sync_mbaff_copies(dec);
    return 1;
}

int h264dec_exit_macroblock(H264DecoderState &dec, int eos_bit)
{
    DecoderImage &img = dec.img;
    if (img.current_mb_nr == h264dec_last_mb_of_picture(dec, img.structure)) {
        if (dec.slice.next_header != 1)
            dec.slice.next_header = 2;
        return 1;
    }
    img.current_mb_nr = h264dec_next_mb_in_group(dec, img.current_mb_nr, img.structure);
    if (img.current_mb_nr == -1)
        return 1;
    if (!dec.slice_end_test(dec, eos_bit))
        return 0;
    if (img.type == kPictureI || img.type == kPictureSI || h264dec_is_cabac(dec))
        return 1;
    return img.skip_run <= 0 ? 1 : 0;
}

// ---------------------------------------------------------------------------------------------
// MBAFF look-ahead

int cabac_peek_next_skip(SyntaxSymbol *sym, H264DecoderState &dec, DataPartition *dp)
{
    DecoderImage &img = dec.img;
    const CabacDecoder saved = dp->cabac;
    const int savedPos = *dp->cabac.stream_pos;
    MotionInfo &mi = *dec.slice.motion_contexts;
    CabacContext savedType[4][11], savedField[4];
    std::copy(&mi.mb_type_contexts[0][0], &mi.mb_type_contexts[0][0] + 44, &savedType[0][0]);
    std::copy(std::begin(mi.mb_aff_contexts), std::end(mi.mb_aff_contexts), savedField);
    const int savedFieldFlag = img.mb_field_flag;
    const int savedBits = dec.counters.mb_bits_count;

    ++img.current_mb_nr;
    h264dec_set_mb_index(dec);
    SetPosition(dec);
    DecoderMacroblock &lower = h264dec_current_mb(dec);
    lower.slice_number = img.current_slice_nr;
    h264dec_check_neighbours(dec);
    SyntaxSymbol skip;
    skip.kind = sym->kind;
    skip.read_fn = cabac_read_skip_flag;
    cabac_read_element(&skip, dec, dp);
    const bool skipped = IsBPicture(img.type) ? (skip.value1 == 0 && skip.value2 == 0) : skip.value1 == 0;
    sym->value1 = 0;
    if (!skipped) {
        h264dec_set_cabac_neighbours(dec);
        SyntaxSymbol field;
        field.kind = sym->kind;
        field.read_fn = cabac_read_field_flag;
        cabac_read_element(&field, dec, dp);
        sym->value1 = field.value1;
    }

    dp->cabac = saved;
    *dp->cabac.stream_pos = savedPos;
    std::copy(&savedType[0][0], &savedType[0][0] + 44, &mi.mb_type_contexts[0][0]);
    std::copy(std::begin(savedField), std::end(savedField), mi.mb_aff_contexts);
    img.mb_field_flag = savedFieldFlag;
    dec.counters.mb_bits_count = savedBits;
    --img.current_mb_nr;
    h264dec_set_mb_index(dec);
    SetPosition(dec);
    h264dec_check_neighbours(dec);
    return skipped ? 1 : 0;
}
