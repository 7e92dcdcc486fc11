// Picture decoding control. Field pairs are decoded field by field into their own planes and arrays
// (the picture number counts fields meanwhile: 2n for the top field, 2n + 1 for the bottom one) and
// merged into the frame afterwards; frames are split into their fields for the field store. Both
// stores therefore always hold every reference picture, whichever form the next picture takes. A
// picture of a new size makes the stores and arrays again for that size.
#include "h264dec/picture_control.h"

#include "h264dec/deblock.h"
#include "h264dec/fmo.h"
#include "h264dec/macroblock.h"
#include "h264dec/nal_dispatch.h"
#include "h264dec/picture_decode.h"
#include "h264dec/picture_fields.h"
#include "h264dec/picture_output.h"
#include "h264dec/picture_weights.h"
#include "h264dec/slice_header.h"
#include "platform/format.h"
#include "platform/log.h"

#include <algorithm>

namespace {

int FrameHeight(const DecoderImage &img)
{
    return img.structure == kFrame ? img.height : 2 * img.height;
}

ColocatedMotion FrameMotion(H264DecoderState &dec)
{
    MacroblockArrays &a = dec.mb_arrays;
    return ColocatedMotion{&a.mv, &a.ref_idx_arr, &a.moving_block};
}

ColocatedMotion FieldMotion(H264DecoderState &dec, int parity)
{
    MbaffFieldCopy &f = dec.mb_arrays.field_copy[parity];
    return ColocatedMotion{&f.mv, &f.ref_idx_arr, &f.moving_block};
}

// Makes the planes, co-located arrays, lists and store of one form current: the frame, or a field.
void SelectForm(H264DecoderState &dec, int structure)
{
    DecoderImage &img = dec.img;
    MacroblockArrays &a = dec.mb_arrays;
    dec_select_planes(dec, structure);
    const bool field = structure != kFrame;
    ColocatedMotion m = field ? FieldMotion(dec, structure == kTopField ? 0 : 1) : FrameMotion(dec);
    img.mv = m.mv;
    img.ref_idx_arr = m.ref;
    img.moving_block = m.moving;
    img.fwd_mv = &a.fwd_mv;
    img.bwd_mv = &a.bwd_mv;
    img.direct_fwd_mv = &a.direct_fwd_mv;
    img.direct_bwd_mv = &a.direct_bwd_mv;
    img.fwd_ref = &a.fwd_ref;
    img.bwd_ref = &a.bwd_ref;
    img.intra_modes = &a.intra_modes;
    dec.mref = field ? &dec.dec_mref_fld : &dec.dec_mref_frm;
    dec.mcef = field ? &dec.dec_mcef_fld : &dec.dec_mcef_frm;
    dec.dec_fb = field ? dec.dec_fld.get() : dec.dec_frm.get();
}

bool SizeChanged(const H264DecoderState &dec)
{
    return dec.img.width != dec.run_width || FrameHeight(dec.img) != dec.run_height;
}

// The slices of one picture, and the two fields of a pair, share the picture's size.
void CheckPictureSize(const H264DecoderState &dec)
{
    const DecoderImage &img = dec.img;
    if (SizeChanged(dec))
        h264_fatal_error(zn::Format("Picture %d is %dx%d in one slice and %dx%d in another: the slices and "
                                    "fields of a picture must keep one size",
                                    img.number, dec.run_width, dec.run_height, img.width, FrameHeight(img)),
                         kH264StreamErrorCode);
}

// A picture of another size (a new sequence parameter set took effect): the last reference picture of
// the old size goes out first, then the stores and the per-run arrays are made again for the new size,
// as for the first picture of a run. What the run counts, and the views it paints, carry on.
void RebuildForNewSize(H264DecoderState &dec)
{
    h264dec_output_stored_picture(dec, dec.analysis.vis_pic_type);
    const PictureCounters counters = dec.picture_counters;
    const DecoderAnalysis &a = dec.analysis;
    const bool paint = a.paint, intraShown = a.intra_shown, intraColored = a.intra_colored,
               vectorsDrawn = a.vectors_drawn;
    const int sequenceMax = a.mb_bits_sequence_max;
    int totals[kMbModeCounters];
    std::copy(std::begin(a.mb_mode_count_total), std::end(a.mb_mode_count_total), totals);
    dec_release_global_buffers(dec);
    dec_init_global_buffers(dec);
    DecoderAnalysis &b = dec.analysis;
    b.paint = paint;
    b.intra_shown = intraShown;
    b.intra_colored = intraColored;
    b.vectors_drawn = vectorsDrawn;
    b.mb_bits_sequence_max = sequenceMax;
    std::copy(std::begin(totals), std::end(totals), b.mb_mode_count_total);
    dec.picture_counters = counters;
}

// newSize: the picture may come in a size of its own (a frame or a top field; a bottom field keeps
// its top field's).
void StartPicture(H264DecoderState &dec, bool newSize)
{
    DecoderImage &img = dec.img;
    img.mb_limit = img.width * img.height / 256;
    if (!dec.buffers_ready)
        dec_init_global_buffers(dec);
    else if (newSize && SizeChanged(dec))
        RebuildForNewSize(dec);
    CheckPictureSize(dec);
    dec_start_picture_arrays(dec);
    SelectForm(dec, img.structure);
}

// The stored picture leaves when a reference picture starts: reference pictures go out in order, each
// when the next one begins.
void OutputBeforeReference(H264DecoderState &dec)
{
    if (dec.buffers_ready && !NonReferenceB(dec.img))
        h264dec_output_stored_picture(dec, dec.analysis.vis_pic_type);
}

// Stores the current planes into the current store, running the memory-management operations given
// (the operations of a picture run once on each store it enters).
void StorePicture(H264DecoderState &dec, const std::vector<DecRefPicMarking> &ops)
{
    dec.img.mmco_list = ops;
    dec_store_picture(dec);
}

void SliceWork(H264DecoderState &dec, int result)
{
    DecoderImage &img = dec.img;
    if (!dec.buffers_ready)
        h264_fatal_error("A slice continues a picture that never started", kH264StreamErrorCode);
    CheckPictureSize(dec);
    dec_init_ref_lists(dec);
    if ((img.weighted_bipred_idc > 0 && IsBPicture(img.type)) ||
        (img.weighted_pred_flag && img.type != kPictureI))
        dec_bipred_weights(dec);
    if (result == kNewPicture && dec.errorVar) {
        ercReset(dec.errorVar.get(), img.width * img.height / 256, img.width * img.height / 256, img.width);
    }
    h264dec_decode_slice(dec);
}

} // namespace

int h264dec_type_index(const DecoderImage &img)
{
    if (img.type == kPictureI)
        return kTypeIndexI;
    if (IsPPicture(img.type))
        return kTypeIndexP;
    if (IsSPPicture(img.type))
        return kTypeIndexSP;
    if (img.type == kPictureSI)
        return kTypeIndexSI;
    return img.non_reference ? kTypeIndexB : kTypeIndexBS;
}

std::string h264dec_picture_text(const H264DecoderState &dec)
{
    const DecoderImage &img = dec.img;
    static const char *const kTypeText[6] = {"I", "P", "SP", "SI", "BS", "B"};
    const int *c = dec.analysis.mb_mode_count;
    return zn::Format("Display Order\t\t: %d", img.tr + 1) +
           zn::Format("\r\nBit Stream Order\t\t: %d", dec.picture_counters.decoded) +
           zn::Format("\r\nPicture Type\t\t: %s", kTypeText[h264dec_type_index(img)]) +
           zn::Format("\r\n\tMode 0 - Direct\t: %d", c[kCountDirect]) +
           zn::Format("\r\n\tMode 1 - 16x16\t: %d", c[kCount16x16]) +
           zn::Format("\r\n\tMode 2 - 8x16\t: %d", c[kCount16x8]) +
           zn::Format("\r\n\tMode 3 - 16x8\t: %d", c[kCount8x16]) +
           zn::Format("\r\n\tMode 4 - 8x8\t: %d", c[kCount8x8]) +
           zn::Format("\r\n\tMode 5 - 4x8\t: %d", c[kCount8x4]) +
           zn::Format("\r\n\tMode 6 - 8x4\t: %d", c[kCount4x8]) +
           zn::Format("\r\n\tMode 7 - 4x4\t: %d", c[kCount4x4]) +
           zn::Format("\r\n\tIntra MB 4x4\t: %d", c[kCountIntra4x4]) +
           zn::Format("\r\n\tIntra MB 16x16\t: %d\r\n\r\n", c[kCountIntra16x16]);
}

int read_new_slice(H264DecoderState &dec)
{
    DecoderImage &img = dec.img;
    if (!dec.nalu)
        dec.nalu = dec_AllocNALU(kNaluCapacity);
    if (!h264dec_next_slice_unit(dec, dec.nalu.get()))
        return kEndOfStream;
    h264dec_read_slice_unit(dec, *dec.nalu);
    if (img.structure != kFrame) {
        img.height /= 2;
        img.height_cr /= 2;
    }
    h264dec_fmo_init(dec, img.width / 16, img.height / 16, nullptr, 0);
    img.current_mb_nr = dec.slice.start_mb_nr * (img.MbaffFrameFlag ? 2 : 1);
    const bool fresh = img.tr != dec.last_slice_tr || img.structure != dec.last_slice_structure;
    dec.last_slice_tr = img.tr;
    dec.last_slice_structure = img.structure;
    h264dec_start_slice_data(dec, dec.slice.partitions[0].bitstream->bit_offset);
    return fresh ? kNewPicture : kSamePicture;
}

void dec_init_global_buffers(H264DecoderState &dec)
{
    DecoderImage &img = dec.img;
    const int width = img.width, height = FrameHeight(img);
    dec.run_width = width;
    dec.run_height = height;
    dec_init_frame_buffers(dec);
    dec_alloc_macroblock_arrays(dec, width, height);
    dec_alloc_picture_planes(dec, width, height);
    dec_get_mem2D(dec.stored_picture.y, height, width);
    dec_get_mem3D(dec.stored_picture.uv, 2, height / 2, width / 2);
    dec_alloc_analysis(dec.analysis, width, height);
    dec.picture_counters = PictureCounters{};
    dec.counters.mb_bits_count = 0;
    ercInit(dec, width, height, 1);
    dec.buffers_ready = true;
}

void dec_release_global_buffers(H264DecoderState &dec)
{
    dec_free_frame_buffers(dec);
    dec.mb_arrays = MacroblockArrays{};
    dec.dec_picture_frame = DecodedPlanes{};
    dec.dec_picture_top = DecodedPlanes{};
    dec.dec_picture_bottom = DecodedPlanes{};
    dec.cur_pic_y = nullptr;
    dec.cur_pic_uv = nullptr;
    dec.stored_picture = DecodedPlanes{};
    dec.stored_valid = dec.stored_pending = false;
    dec.analysis = DecoderAnalysis{};
    dec.erc_object_list.clear();
    dec.errorVar.reset();
    dec.buffers_ready = false;
}

void dec_start_frame(H264DecoderState &dec)
{
    OutputBeforeReference(dec);
    StartPicture(dec, true);
}

void dec_start_top_field(H264DecoderState &dec)
{
    OutputBeforeReference(dec);
    StartPicture(dec, true);
    dec.img.number *= 2;
    dec.img.ref_buffer_cycle *= 2;
}

void dec_start_bottom_field(H264DecoderState &dec)
{
    DecoderImage &img = dec.img;
    if (!dec.buffers_ready)
        h264_fatal_error("A bottom field without its top field", kH264StreamErrorCode);
    StartPicture(dec, false);
    img.number += 1;
    img.ref_buffer_cycle *= 2;
    if (NonReferenceB(img))
        return;
    // The top field becomes a reference of the bottom one.
    SelectForm(dec, kTopField);
    StorePicture(dec, img.mmco_list);
    if (IsBPicture(img.type)) {
        ColocatedMotion top = FieldMotion(dec, 0);
        dec_save_b_motion(dec.mb_arrays.fwd_mv, dec.mb_arrays.fwd_ref, top, img.width / 4, img.height / 4);
    }
    SelectForm(dec, kBottomField);
}

void dec_decode_frame_slice(H264DecoderState &dec, int result)
{
    if (result == kNewPicture)
        dec_start_frame(dec);
    SliceWork(dec, result);
}

void dec_decode_field_slice(H264DecoderState &dec, int result)
{
    if (result == kNewPicture) {
        if (dec.img.structure == kTopField)
            dec_start_top_field(dec);
        else
            dec_start_bottom_field(dec);
    }
    SliceWork(dec, result);
}

void dec_split_frame_fields(H264DecoderState &dec)
{
    DecoderImage &img = dec.img;
    if (NonReferenceB(img))
        return;
    dec_split_planes(dec.dec_picture_frame, dec.dec_picture_top, dec.dec_picture_bottom);
    const std::vector<DecRefPicMarking> ops = img.mmco_list;
    img.height /= 2;
    img.height_cr /= 2;
    img.number *= 2;
    img.ref_buffer_cycle *= 2;
    SelectForm(dec, kTopField);
    StorePicture(dec, ops);
    SelectForm(dec, kBottomField);
    StorePicture(dec, {});
    SelectForm(dec, kFrame);
    img.height *= 2;
    img.height_cr *= 2;
    img.number /= 2;
    img.ref_buffer_cycle /= 2;
    img.mmco_list = ops; // the frame store runs them too
}

void dec_merge_fields(H264DecoderState &dec)
{
    DecoderImage &img = dec.img;
    dec_merge_planes(dec.dec_picture_top, dec.dec_picture_bottom, dec.dec_picture_frame);
    const std::vector<DecRefPicMarking> ops = img.mmco_list;
    if (!NonReferenceB(img)) {
        SelectForm(dec, kBottomField);
        StorePicture(dec, {});
    }
    SelectForm(dec, kFrame);
    img.height *= 2;
    img.height_cr *= 2;
    img.ref_buffer_cycle /= 2;
    img.number /= 2;
    img.mb_limit = img.width * img.height / 256;
    img.mmco_list = ops;
}

void dec_finish_picture(H264DecoderState &dec)
{
    DecoderImage &img = dec.img;
    if (!NonReferenceB(img))
        dec_store_picture(dec);
    img.mmco_list.clear();
    if (img.structure == kFrame && dec.dec_fld && dec.dec_frm) {
        dec.dec_fld->short_size = 2 * dec.dec_frm->short_size;
        dec.dec_fld->short_used =
            std::min(2 * dec.dec_frm->short_used, static_cast<int>(dec.dec_fld->picbuf_short.size()));
    }
}

int h264dec_decode_picture(H264DecoderState &dec, bool show_text)
{
    DecoderImage &img = dec.img;
    DecoderSlice &slice = dec.slice;

    // The slices of one picture (or of one field); false when the stream ends first. The first slice
    // read in a call always starts a picture: one that merely repeated the last picture's order count
    // would otherwise continue a picture that has been handed on already.
    bool first = true;
    auto slices = [&](bool second_field) {
        img.current_slice_nr = 0;
        slice.next_header = 0;
        while (slice.next_header != 2) {
            int result = read_new_slice(dec);
            if (result == kEndOfStream)
                return false;
            if (first)
                result = kNewPicture;
            first = false;
            if (second_field) {
                // The bottom field's slices: its first one starts it, the others continue it.
                if (img.structure != kBottomField)
                    h264_fatal_error(
                        zn::Format("Picture %d: a top field must be followed by its bottom field",
                                   img.number / 2),
                        kH264StreamErrorCode);
                result = img.current_slice_nr == 0 ? kNewPicture : kSamePicture;
            } else if (img.structure == kBottomField && result == kNewPicture)
                h264_fatal_error(
                    zn::Format("Picture %d: a field pair must start with its top field", img.number),
                    kH264StreamErrorCode);
            if (img.structure == kFrame && !second_field)
                dec_decode_frame_slice(dec, result);
            else
                dec_decode_field_slice(dec, result);
            ++img.current_slice_nr;
            if (slice.next_header == 1)
                break;
        }
        return true;
    };

    if (!slices(false))
        return kEndOfStream;
    dec_deblock_picture(img, *dec.cur_pic_y, dec.cur_pic_uv);
    if (img.structure != kFrame) {
        if (!slices(true))
            return kEndOfStream;
        dec_deblock_picture(img, *dec.cur_pic_y, dec.cur_pic_uv);
    }

    const bool field = img.structure != kFrame;
    if (field)
        dec_merge_fields(dec);
    else
        dec_split_frame_fields(dec);

    h264dec_update_poc_state(dec);
    const int cols = img.width / 4, rows = img.height / 4;
    if (IsBPicture(img.type) && !img.non_reference) {
        ColocatedMotion into = field ? FieldMotion(dec, 1) : FrameMotion(dec);
        dec_save_b_motion(dec.mb_arrays.fwd_mv, dec.mb_arrays.fwd_ref, into, cols, field ? rows / 2 : rows);
    }
    if (!NonReferenceB(img)) {
        ColocatedMotion frame = FrameMotion(dec), top = FieldMotion(dec, 0), bottom = FieldMotion(dec, 1);
        dec_save_direct_motion(frame, top, bottom, !field, cols, rows);
    }

    PictureCounters &n = dec.picture_counters;
    ++n.decoded;
    const int typeIndex = h264dec_type_index(img);
    if (typeIndex == kTypeIndexI || typeIndex == kTypeIndexSI)
        ++n.i;
    else if (typeIndex == kTypeIndexP)
        ++n.p;
    else if (typeIndex == kTypeIndexBS || typeIndex == kTypeIndexB)
        ++n.b;
    dec.picture_text = h264dec_picture_text(dec);
    if (show_text && dec.sink)
        dec.sink->PictureText(dec, dec.picture_text);

    if (NonReferenceB(img))
        h264dec_output_picture(dec, typeIndex);
    else
        h264dec_show_picture(dec, show_text, typeIndex);

    if (!(img.non_reference && (IsBPicture(img.type) || IsSPPicture(img.type))))
        ++img.number;

    dec_finish_picture(dec);
    if (field) {
        img.height /= 2;
        img.height_cr /= 2;
    }
    return 2;
}
