// Reference picture stores. A new reference picture enters the short-term part at the front, pushing
// the oldest out when the store is full (the sliding window); the memory-management operations of its
// slice header then remove pictures, give them long-term ids, resize the long-term part or clear
// everything. The lists for prediction are rebuilt before each slice in this default order: short-term
// newest first, then the long-term slots.
#include "h264dec/ref_buffers.h"

#include "h264dec/decoder_state.h"
#include "platform/format.h"
#include "platform/log.h"

#include <algorithm>
#include <cstring>

namespace {

std::unique_ptr<RefPicture> NewPicture(int height, int width, int height_cr, int width_cr)
{
    auto pic = std::make_unique<RefPicture>();
    dec_get_mem2D(pic->luma, height, width);
    dec_get_mem3D(pic->chroma, 2, height_cr, width_cr);
    return pic;
}

std::unique_ptr<FrameStore> NewStore(int pictures, int height, int width, int height_cr, int width_cr)
{
    auto store = std::make_unique<FrameStore>();
    for (int i = 0; i < pictures; ++i)
        store->picbuf_short.push_back(NewPicture(height, width, height_cr, width_cr));
    store->short_size = pictures;
    return store;
}

void CopyPlane(Array2D<uint8_t> &dst, const Array2D<uint8_t> &src, int rows, int cols)
{
    for (int r = 0; r < rows; ++r)
        std::memcpy(dst[r], src[r], static_cast<size_t>(cols));
}

bool PlaneHolds(const Array2D<uint8_t> &plane, int rows, int cols)
{
    return plane.Rows() >= rows && plane.Cols() >= cols;
}

void CopyPicture(RefPicture &dst, const Array2D<uint8_t> &y, const Array3D<uint8_t> &uv,
                 const DecoderImage &img)
{
    CopyPlane(dst.luma, y, img.height, img.width);
    for (int c = 0; c < 2; ++c)
        CopyPlane(dst.chroma[c], uv[c], img.height_cr, img.width_cr);
}

bool PictureFits(const RefPicture &pic, const Array2D<uint8_t> &y, const Array3D<uint8_t> &uv,
                 const DecoderImage &img)
{
    if (!PlaneHolds(pic.luma, img.height, img.width) || !PlaneHolds(y, img.height, img.width))
        return false;
    if (pic.chroma.Frames() < 2 || uv.Frames() < 2)
        return false;
    for (int c = 0; c < 2; ++c)
        if (!PlaneHolds(pic.chroma[c], img.height_cr, img.width_cr) ||
            !PlaneHolds(uv[c], img.height_cr, img.width_cr))
            return false;
    return true;
}

void FillLists(const FrameStore *store, LumaRefList &luma, ChromaRefList &chroma)
{
    std::fill(luma.begin(), luma.end(), nullptr);
    std::fill(chroma.begin(), chroma.end(), nullptr);
    if (!store)
        return;
    size_t k = 0;
    for (int i = 0; i < store->short_used && k < luma.size(); ++i, ++k) {
        luma[k] = &store->picbuf_short[static_cast<size_t>(i)]->luma;
        chroma[k] = &store->picbuf_short[static_cast<size_t>(i)]->chroma;
    }
    for (int i = 0; i < store->long_size && k < luma.size(); ++i, ++k) {
        luma[k] = &store->picbuf_long[static_cast<size_t>(i)]->luma;
        chroma[k] = &store->picbuf_long[static_cast<size_t>(i)]->chroma;
    }
}

} // namespace

void dec_init_frame_buffers(H264DecoderState &dec)
{
    DecoderImage &img = dec.img;
    img.ref_buffer_cycle = dec.input.ref_frames + 1;
    // Stores hold frames: a field picture's heights are those of one field.
    const int factor = img.structure != kFrame ? 2 : 1;
    const int height = img.height * factor, height_cr = img.height_cr * factor;
    dec.dec_frm = NewStore(img.ref_buffer_cycle, height, img.width, height_cr, img.width_cr);
    dec.dec_fld = NewStore(2 * img.ref_buffer_cycle, height / 2, img.width, height_cr / 2, img.width_cr);
    dec.dec_fb = img.structure != kFrame ? dec.dec_fld.get() : dec.dec_frm.get();
    dec_alloc_mref(dec);
}

void dec_free_frame_buffers(H264DecoderState &dec)
{
    dec.dec_frm.reset();
    dec.dec_fld.reset();
    dec.dec_fb = nullptr;
    dec.dec_mref_frm.clear();
    dec.dec_mcef_frm.clear();
    dec.dec_mref_fld.clear();
    dec.dec_mcef_fld.clear();
}

void dec_alloc_mref(H264DecoderState &dec)
{
    const auto size = [](const FrameStore *s) {
        return s ? static_cast<size_t>(s->short_size + s->long_size) : 0;
    };
    dec.dec_mref_frm.assign(size(dec.dec_frm.get()), nullptr);
    dec.dec_mcef_frm.assign(size(dec.dec_frm.get()), nullptr);
    dec.dec_mref_fld.assign(size(dec.dec_fld.get()), nullptr);
    dec.dec_mcef_fld.assign(size(dec.dec_fld.get()), nullptr);
}

void dec_init_ref_lists(H264DecoderState &dec)
{
    dec_fill_ref_lists(dec);
    dec_free_ref_pic_list_reordering_buffer(dec.slice);
}

void dec_fill_ref_lists(H264DecoderState &dec)
{
    FillLists(dec.dec_frm.get(), dec.dec_mref_frm, dec.dec_mcef_frm);
    FillLists(dec.dec_fld.get(), dec.dec_mref_fld, dec.dec_mcef_fld);
}

void dec_store_picture(H264DecoderState &dec)
{
    DecoderImage &img = dec.img;
    FrameStore *fb = dec.dec_fb;
    if (!fb || fb->short_size == 0 || !dec.cur_pic_y || !dec.cur_pic_uv)
        h264_fatal_error("dec_store_picture: no reference store for the picture", kH264StreamErrorCode);

    // A frame or a top field replaces a stored picture with the same number; a bottom field joins its top.
    if (dec.cur_pic_y == &dec.dec_picture_frame.y || dec.cur_pic_y == &dec.dec_picture_top.y)
        dec_remove_short_term(dec, img.buffer_slot);

    std::rotate(fb->picbuf_short.rbegin(), fb->picbuf_short.rbegin() + 1, fb->picbuf_short.rend());
    RefPicture &pic = *fb->picbuf_short[0];
    pic.picture_number = img.buffer_slot;
    pic.long_term_id = -1;
    fb->short_used = std::min(fb->short_used + 1, fb->short_size);

    if (!PictureFits(pic, *dec.cur_pic_y, *dec.cur_pic_uv, img))
        h264_fatal_error("dec_store_picture: the picture does not fit the reference store",
                         kH264StreamErrorCode);
    CopyPicture(pic, *dec.cur_pic_y, *dec.cur_pic_uv, img);

    std::vector<DecRefPicMarking> ops;
    ops.swap(img.mmco_list);
    for (const DecRefPicMarking &op : ops) {
        switch (op.operation) {
        case 1:
            dec_remove_short_term(dec, dec_pic_num_from_diff(dec, op.difference_of_pic_nums));
            break;
        case 2:
            dec_remove_long_term(dec, op.long_term_pic_idx);
            break;
        case 3:
            if (dec.dec_fb->long_size == 0) {
                // Nowhere to put a long-term picture before a long-term part has been sized.
                zn::Log(zn::LogLevel::Info, "assign long term id ignored: no long term buffer\n");
                break;
            }
            dec_assign_long_term(dec, dec_pic_num_from_diff(dec, op.difference_of_pic_nums),
                                 op.long_term_pic_idx);
            break;
        case 4:
            dec_init_long_term_buffer(dec, op.max_long_term_pic_idx_plus1 - 1);
            break;
        case 5:
            dec_unmark_all_refs(dec);
            break;
        default:
            break;
        }
    }
}

int dec_pic_num_from_diff(const H264DecoderState &dec, int difference)
{
    long long number = static_cast<long long>(dec.img.buffer_slot) - difference;
    if (number < 0)
        number += dec.img.ref_buffer_cycle;
    return static_cast<int>(std::max<long long>(number, -1));
}

void dec_remove_short_term(H264DecoderState &dec, int number)
{
    FrameStore *fb = dec.dec_fb;
    for (int i = 0; i < fb->short_used; ++i) {
        auto &slot = fb->picbuf_short[static_cast<size_t>(i)];
        if (slot->picture_number != number)
            continue;
        slot->picture_number = -1;
        slot->long_term_id = -1;
        --fb->short_used;
        // The freed record goes to the very end; the ones behind it move up.
        std::rotate(fb->picbuf_short.begin() + i, fb->picbuf_short.begin() + i + 1, fb->picbuf_short.end());
    }
}

void dec_remove_long_term(H264DecoderState &dec, int long_term_id)
{
    FrameStore *fb = dec.dec_fb;
    for (int i = 0; i < fb->long_used; ++i) {
        auto &slot = fb->picbuf_long[static_cast<size_t>(i)];
        if (slot->long_term_id != long_term_id)
            continue;
        zn::LogF(zn::LogLevel::Info, "removing long term ID %d\n", long_term_id);
        slot->picture_number = -1;
        slot->long_term_id = -1;
        --fb->long_used;
        // Just behind the remaining used ones.
        std::rotate(fb->picbuf_long.begin() + i, fb->picbuf_long.begin() + i + 1,
                    fb->picbuf_long.begin() + fb->long_used + 1);
    }
}

void dec_assign_long_term(H264DecoderState &dec, int number, int long_term_id)
{
    FrameStore *fb = dec.dec_fb;
    zn::LogF(zn::LogLevel::Info, "assign long term long term id %d to short term id %d \n", long_term_id,
             number);
    int found = -1;
    for (int i = 0; i < fb->short_used; ++i)
        if (fb->picbuf_short[static_cast<size_t>(i)]->picture_number == number)
            found = i;
    if (found < 0)
        h264_fatal_error("Trying to assign a long term ID to a not existent short term picture", 400);
    RefPicture &shortPic = *fb->picbuf_short[static_cast<size_t>(found)];
    if (shortPic.long_term_id == long_term_id)
        return;
    if (fb->long_size == 0)
        return;

    dec_remove_long_term(dec, long_term_id);
    std::rotate(fb->picbuf_long.rbegin(), fb->picbuf_long.rbegin() + 1, fb->picbuf_long.rend());
    RefPicture &longPic = *fb->picbuf_long[0];
    longPic.picture_number = shortPic.picture_number;
    longPic.long_term_id = long_term_id;
    shortPic.long_term_id = long_term_id;
    fb->long_used = std::min(fb->long_used + 1, fb->long_size);

    // The long-term slot takes a copy of the samples, in whatever size both records share.
    const int rows = std::min(longPic.luma.Rows(), shortPic.luma.Rows());
    const int cols = std::min(longPic.luma.Cols(), shortPic.luma.Cols());
    CopyPlane(longPic.luma, shortPic.luma, rows, cols);
    for (int c = 0; c < 2 && c < longPic.chroma.Frames() && c < shortPic.chroma.Frames(); ++c)
        CopyPlane(longPic.chroma[c], shortPic.chroma[c],
                  std::min(longPic.chroma[c].Rows(), shortPic.chroma[c].Rows()),
                  std::min(longPic.chroma[c].Cols(), shortPic.chroma[c].Cols()));

    // Selection sort by ascending id; equal ids keep their order.
    for (int i = 0; i < fb->long_used; ++i) {
        int best = i;
        for (int j = i + 1; j < fb->long_used; ++j)
            if (fb->picbuf_long[static_cast<size_t>(j)]->long_term_id <
                fb->picbuf_long[static_cast<size_t>(best)]->long_term_id)
                best = j;
        if (best != i)
            std::swap(fb->picbuf_long[static_cast<size_t>(i)], fb->picbuf_long[static_cast<size_t>(best)]);
    }
}

void dec_init_long_term_buffer(H264DecoderState &dec, int size)
{
    DecoderImage &img = dec.img;
    FrameStore *fb = dec.dec_fb;
    zn::LogF(zn::LogLevel::Info, "init long term buffer size = %d\n", size);
    if (size == fb->long_size)
        return;
    if (size < 0 || size > fb->short_size)
        h264_fatal_error(
            zn::Format("max_long_term_pic_idx_plus1 %d out of range 0..%d", size + 1, fb->short_size),
            kH264StreamErrorCode);
    const size_t keep = static_cast<size_t>(std::min(size, fb->long_size));
    fb->picbuf_long.resize(keep);
    for (int i = static_cast<int>(keep); i < size; ++i)
        fb->picbuf_long.push_back(NewPicture(img.height, img.width, img.height_cr, img.width_cr));
    fb->long_size = size;
    fb->long_used = std::min(fb->long_used, size);
    dec_alloc_mref(dec);
}

void dec_unmark_all_refs(H264DecoderState &dec)
{
    dec.dec_fb->short_used = std::min(1, dec.dec_fb->short_used);
    dec.dec_fb->long_used = 0;
}

void dec_alloc_ref_pic_list_reordering_buffer(H264DecoderState &dec, DecoderSlice &slice)
{
    const DecoderImage &img = dec.img;
    const bool intra = img.type == kPictureI || img.type == kPictureSI;
    const size_t n0 = intra ? 0 : static_cast<size_t>(std::max(img.num_ref_idx_active_fwd, 0));
    const size_t n1 = static_cast<size_t>(std::max(img.num_ref_idx_active_bwd, 0));
    slice.remapping_of_pic_nums_idc_l0.assign(n0, 0);
    slice.abs_diff_pic_num_minus1_l0.assign(n0, 0);
    slice.long_term_pic_idx_l0.assign(n0, 0);
    slice.remapping_of_pic_nums_idc_l1.assign(n1, 0);
    slice.abs_diff_pic_num_minus1_l1.assign(n1, 0);
    slice.long_term_pic_idx_l1.assign(n1, 0);
}

void dec_free_ref_pic_list_reordering_buffer(DecoderSlice &slice)
{
    slice.remapping_of_pic_nums_idc_l0.clear();
    slice.abs_diff_pic_num_minus1_l0.clear();
    slice.long_term_pic_idx_l0.clear();
    slice.remapping_of_pic_nums_idc_l1.clear();
    slice.abs_diff_pic_num_minus1_l1.clear();
    slice.long_term_pic_idx_l1.clear();
}
