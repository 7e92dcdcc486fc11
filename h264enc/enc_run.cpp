// Run set-up shared by the stages: what img takes from the parameters before the first picture.
#include "h264enc/enc_run.h"

#include <algorithm>
#include <new>

namespace h264enc {

void init_image_geometry(const EncoderParams &input, EncoderImage &img)
{
    img.width = input.SourceWidth;
    img.height = input.SourceHeight;
    img.width_cr = img.width / 2;
    img.height_cr = img.height / 2;
    img.mb_count = img.width * img.height / 256;
    img.num_ref_frames = input.NumberReferenceFrames;
    img.max_ref = std::max(input.NumberReferenceFrames, input.AdditionalReferenceFrame + 1);
    img.framerate = 30;
    for (int d = -255; d <= 255; ++d)
        img.quad_table[static_cast<size_t>(d + 255)] = d * d;
    try {
        img.mb_data.assign(static_cast<size_t>(std::max(img.mb_count, 0)), MacroblockRecord());
        img.nzcoeff.allocate(img.width / 16, img.height / 16);
        img.maps.allocate(img.width / 4, img.height / 4);
    } catch (const std::bad_alloc &) {
        out_of_memory_exit("init_img: mb_data");
    }
    get_mem_ACcoeff(img.cof);
    get_mem_DCcoeff(img.cof);
    img.intra_pred_modes.allocate(img.height / 4 + 3, img.width / 4 + 3, "init_img: ipredmode");
    for (int r = 0; r < img.intra_pred_modes.rows(); ++r)
        std::fill(img.intra_pred_modes[r], img.intra_pred_modes[r] + img.intra_pred_modes.cols(), -1);
}

void init_picture_order(const EncoderParams &input, EncoderImage &img)
{
    img.poc_type = input.PicOrderCntType;
    img.delta_pic_order_always_zero_flag = 0;
    img.poc_b_offset = -2 * input.NumberBFrames;
    img.bottom_field_flag = input.InterlaceCodingOption != 0 ? 1 : 0;
    img.num_ref_frames_in_poc_cycle = 1;
    img.poc_step = 2 * input.NumberBFrames + 2;
    img.pic_order_present_flag = input.InterlaceCodingOption != 0 ? 1 : 0;
}

FmoSettings FmoSettingsOf(const EncoderParams &input)
{
    FmoSettings s;
    s.num_slice_groups_minus1 = input.num_slice_groups_minus1;
    s.type = input.mb_allocation_map_type;
    s.top_left_mb = input.FmoTopLeftMB;
    s.bottom_right_mb = input.FmoBottomRightMB;
    s.change_direction = input.FmoChangeDirection;
    s.change_rate = input.FmoChangeRate;
    return s;
}

} // namespace h264enc
