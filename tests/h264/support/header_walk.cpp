// Front-end walk over a stream (see the header).
#include "h264/support/header_walk.h"

#include "h264dec/nal_dispatch.h"
#include "h264dec/ref_buffers.h"
#include "h264dec/slice_header.h"

#include <algorithm>

namespace h264test {

namespace {

void AllocPlanes(DecodedPlanes &p, int height, int width)
{
    dec_get_mem2D(p.y, height, width);
    dec_get_mem3D(p.uv, 2, height / 2, width / 2);
}

void Fill(DecodedPlanes &p, uint8_t value)
{
    for (int r = 0; r < p.y.Rows(); ++r)
        std::fill(p.y[r], p.y[r] + p.y.Cols(), value);
}

} // namespace

WalkResult WalkHeaders(H264DecoderState &dec, const WalkOptions &options)
{
    WalkResult result;
    NaluPtr nalu = dec_AllocNALU(options.nalu_capacity);
    int storeWidth = 0, storeHeight = 0;
    while (h264dec_next_slice_unit(dec, nalu.get())) {
        h264dec_read_slice_unit(dec, *nalu);
        ++result.slices;
        DecoderImage &img = dec.img;
        const int frameWidth = img.width, frameHeight = img.height;
        if (options.store_pictures && frameWidth * frameHeight / 256 <= options.max_store_mbs) {
            // Field slices work on field heights, as picture control sets them.
            const bool field = img.structure != kFrame;
            if (field) {
                img.height /= 2;
                img.height_cr /= 2;
            }
            if (!dec.dec_frm || storeWidth != frameWidth || storeHeight != frameHeight) {
                dec_init_frame_buffers(dec);
                AllocPlanes(dec.dec_picture_frame, frameHeight, frameWidth);
                AllocPlanes(dec.dec_picture_top, frameHeight / 2, frameWidth);
                AllocPlanes(dec.dec_picture_bottom, frameHeight / 2, frameWidth);
                storeWidth = frameWidth;
                storeHeight = frameHeight;
            }
            DecodedPlanes &planes = img.structure == kFrame      ? dec.dec_picture_frame
                                    : img.structure == kTopField ? dec.dec_picture_top
                                                                 : dec.dec_picture_bottom;
            dec.cur_pic_y = &planes.y;
            dec.cur_pic_uv = &planes.uv;
            dec.dec_fb = field ? dec.dec_fld.get() : dec.dec_frm.get();
            Fill(planes, static_cast<uint8_t>(img.number));
            dec_init_ref_lists(dec);
            if (!(IsBPicture(img.type) && img.non_reference)) {
                dec_store_picture(dec);
                ++result.stores;
            }
            img.height = frameHeight;
            img.height_cr = frameHeight / 2;
        }
        h264dec_update_poc_state(dec);
        ++img.number;
    }
    return result;
}

} // namespace h264test
