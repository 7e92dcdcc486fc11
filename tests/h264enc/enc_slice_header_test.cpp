// Slice headers read back by the decoder's slice-header reader over a table of pictures: I, P, B, IDR
// and SP slices, order counts of types 0 and 1 (with the bottom-field fields), loop-filter fields,
// prediction weights, the CABAC model and reference marking; the header's bit count is the decoder's;
// an order count of 260 goes out as 4; the run errors of an unknown picture type and an unterminated
// marking list.
#include "h264dec/decoder_state.h"
#include "h264dec/nal_dispatch.h"
#include "h264enc/nal_unit.h"
#include "h264enc/slice_header_write.h"
#include "h264enc/support/slice_fixture.h"
#include "platform/messages.h"

#include <gtest/gtest.h>

#include <functional>

namespace enc_slice_header_test { // one namespace per test file: a folder compiles as one source

namespace {

namespace enc = h264enc;

struct HeaderCase
{
    const char *name;
    std::function<void(enc::EncoderParams &)> params;
    std::function<void(enc::EncoderImage &)> picture;
    std::function<void(const H264DecoderState &, const enc::EncoderImage &)> check;
};

// Writes the header of a slice starting at macroblock `first` into a stream behind the parameter sets
// and lets the decoder read it. Returns the writer's bit count.
int WriteAndRead(const HeaderCase &c, H264DecoderState &dec, enc::EncoderImage *image)
{
    enctest::RunOptions o;
    auto probe = enctest::MakeRun(o);
    enc::EncoderParams p = probe->input;
    c.params(p);
    auto run = std::make_unique<enc::EncoderRun>();
    run->input = p;
    enc::init_image_geometry(p, run->img);
    enc::init_picture_order(p, run->img);
    enc::h264enc_fmo_init(run->fmo, p.SourceWidth / 16, p.SourceHeight / 16, enc::FmoSettingsOf(p));
    std::vector<uint8_t> stream = enctest::ParameterSetUnits(*run);
    enc::EncoderImage &img = run->img;
    img.qp = 28;
    img.num_ref_minus1 = p.NumberReferenceFrames - 1;
    c.picture(img);
    enc::Slice *slice = enc::create_slice(*run);
    const int bits = enc::h264enc_write_slice_header(*run);
    enc::write_rbsp_trailing_bits(slice->partArr[0].bitstream);
    const enc::Bitstream &bs = slice->partArr[0].bitstream;
    std::vector<uint8_t> payload(bs.StreamBuffer.begin(), bs.StreamBuffer.begin() + bs.byte_count);
    const int end = enc::escape_rbsp(payload, 0, static_cast<int>(payload.size()), 0);
    const bool isB = img.type == enc::kTypeB || img.type == enc::kTypeStoredB;
    const uint8_t header = static_cast<uint8_t>((img.idr_flag ? 3
                                                 : isB        ? 0
                                                              : 2) *
                                                    32 +
                                                (img.idr_flag ? 5 : 1));
    const uint8_t start[4] = {0, 0, 0, 1};
    stream.insert(stream.end(), start, start + 4);
    stream.push_back(header);
    stream.insert(stream.end(), payload.begin(), payload.begin() + end);
    h264dec_open_memory(dec, stream);
    NaluPtr nalu = dec_AllocNALU(1 << 16);
    EXPECT_TRUE(h264dec_next_slice_unit(dec, nalu.get())) << c.name;
    h264dec_read_slice_unit(dec, *nalu);
    image->pic_order_cnt_lsb = img.pic_order_cnt_lsb;
    return bits;
}

TEST(SliceHeader, DecoderReadsTheFieldsBack)
{
    const HeaderCase cases[] = {
        {"first I slice, CABAC", [](enc::EncoderParams &p) { p.SymbolMode = 1; },
         [](enc::EncoderImage &img) {
             img.type = enc::kTypeI;
             img.idr_flag = 1;
             img.qp = 31;
         },
         [](const H264DecoderState &d, const enc::EncoderImage &) {
             EXPECT_EQ(d.slice.start_mb_nr, 0);
             EXPECT_EQ(d.img.type, kPictureI);
             EXPECT_EQ(d.img.idr_flag, 1);
             EXPECT_EQ(d.img.idr_pic_id, 0);
             EXPECT_EQ(d.img.frame_num, 0);
             EXPECT_EQ(d.img.pic_order_cnt_lsb, 0);
             EXPECT_EQ(d.img.model_number, 0);
             EXPECT_EQ(d.img.qp, 31);
             EXPECT_EQ(d.img.no_output_of_prior_pics_flag, 0);
             EXPECT_EQ(d.img.long_term_reference_flag, 0);
         }},
        {"P slice, CABAC model 2, three references, mid-picture",
         [](enc::EncoderParams &p) {
             p.SymbolMode = 1;
             p.NumberReferenceFrames = 3;
         },
         [](enc::EncoderImage &img) {
             img.type = enc::kTypeP;
             img.cabac_model = 2;
             img.mb_index = 11;
             img.frame_in_gop = 3;
             img.toppoc = 6;
         },
         [](const H264DecoderState &d, const enc::EncoderImage &) {
             EXPECT_EQ(d.slice.start_mb_nr, 11);
             EXPECT_TRUE(IsPPicture(d.img.type));
             EXPECT_EQ(d.img.frame_num, 3);
             EXPECT_EQ(d.img.pic_order_cnt_lsb, 6);
             EXPECT_EQ(d.img.num_ref_idx_active_fwd, 3);
             EXPECT_EQ(d.slice.ref_pic_list_reordering_flag_l0, 0);
             EXPECT_EQ(d.img.adaptive_ref_pic_buffering_flag, 0);
             EXPECT_EQ(d.img.model_number, 2);
         }},
        {"B slice, temporal direct, two backward references",
         [](enc::EncoderParams &p) { p.DirectModeType = 0; },
         [](enc::EncoderImage &img) {
             img.type = enc::kTypeB;
             img.stored_b_ref = 1;
             img.frame_in_gop = 2;
             img.toppoc = 2;
         },
         [](const H264DecoderState &d, const enc::EncoderImage &) {
             EXPECT_TRUE(IsBPicture(d.img.type));
             EXPECT_EQ(d.img.direct_spatial_mv_pred_flag, 0);
             EXPECT_EQ(d.img.num_ref_idx_active_fwd, 1);
             EXPECT_EQ(d.img.num_ref_idx_active_bwd, 2);
             EXPECT_EQ(d.slice.ref_pic_list_reordering_flag_l0, 0);
             EXPECT_EQ(d.slice.ref_pic_list_reordering_flag_l1, 0);
         }},
        {"stored B slice with spatial direct", [](enc::EncoderParams &p) { p.DirectModeType = 1; },
         [](enc::EncoderImage &img) { img.type = enc::kTypeStoredB; },
         [](const H264DecoderState &d, const enc::EncoderImage &) {
             EXPECT_TRUE(IsBPicture(d.img.type));
             EXPECT_EQ(d.img.direct_spatial_mv_pred_flag, 1);
         }},
        {"SP slice", [](enc::EncoderParams &) {},
         [](enc::EncoderImage &img) {
             img.type = enc::kTypeP;
             img.sp_mode = enc::kSpMode;
             img.qpsp = 33;
         },
         [](const H264DecoderState &d, const enc::EncoderImage &) {
             EXPECT_TRUE(IsSPPicture(d.img.type));
             EXPECT_EQ(d.img.sp_switch, 0);
             EXPECT_EQ(d.img.qpsp, 33);
         }},
        {"order count type 1 with fields",
         [](enc::EncoderParams &p) {
             p.PicOrderCntType = 1;
             p.InterlaceCodingOption = 1;
             p.SourceWidth = 352; // field pictures need an even number of macroblock rows
             p.SourceHeight = 288;
         },
         [](enc::EncoderImage &img) {
             img.type = enc::kTypeB;
             img.frame_in_gop = 1;
             img.delta_poc = 2;
             img.delta_poc_bottom = -1;
         },
         [](const H264DecoderState &d, const enc::EncoderImage &) {
             EXPECT_EQ(d.img.field_pic_flag, 0);
             EXPECT_EQ(d.img.delta_pic_order_cnt[0], 2);
             EXPECT_EQ(d.img.delta_pic_order_cnt[1], -1);
         }},
        {"order count type 0, frame of an interlaced run",
         [](enc::EncoderParams &p) {
             p.InterlaceCodingOption = 1;
             p.SourceWidth = 352; // field pictures need an even number of macroblock rows
             p.SourceHeight = 288;
         },
         [](enc::EncoderImage &img) {
             img.type = enc::kTypeP;
             img.toppoc = 8;
             img.bottompoc = 9;
         },
         [](const H264DecoderState &d, const enc::EncoderImage &) {
             EXPECT_EQ(d.img.pic_order_cnt_lsb, 8);
             EXPECT_EQ(d.img.delta_pic_order_cnt_bottom, 1);
         }},
        {"bottom field picture",
         [](enc::EncoderParams &p) {
             p.InterlaceCodingOption = 1;
             p.SourceWidth = 352; // field pictures need an even number of macroblock rows
             p.SourceHeight = 288;
         },
         [](enc::EncoderImage &img) {
             img.type = enc::kTypeP;
             img.field_picture = 1;
             img.bottom_field = 1;
             img.toppoc = 8;
             img.bottompoc = 9;
         },
         [](const H264DecoderState &d, const enc::EncoderImage &) {
             EXPECT_EQ(d.img.field_pic_flag, 1);
             EXPECT_EQ(d.img.bottom_field_flag, 1);
             EXPECT_EQ(d.img.pic_order_cnt_lsb, 9);
         }},
        {"order count 260 is sent as 4", [](enc::EncoderParams &) {},
         [](enc::EncoderImage &img) {
             img.type = enc::kTypeP;
             img.toppoc = 260;
         },
         [](const H264DecoderState &d, const enc::EncoderImage &e) {
             EXPECT_EQ(d.img.pic_order_cnt_lsb, 4);
             EXPECT_EQ(e.pic_order_cnt_lsb, 4);
         }},
        {"loop-filter offsets", [](enc::EncoderParams &p) { p.LoopFilterParametersFlag = 1; },
         [](enc::EncoderImage &img) {
             img.type = enc::kTypeP;
             img.lf_disable = 2;
             img.lf_alpha_offset = 8; // table units: 4 sent
             img.lf_beta_offset = -6;
         },
         [](const H264DecoderState &d, const enc::EncoderImage &) {
             EXPECT_EQ(d.slice.disable_deblocking_filter_idc, 2);
             EXPECT_EQ(d.slice.slice_alpha_c0_offset, 8);
             EXPECT_EQ(d.slice.slice_beta_offset, -6);
         }},
        {"loop filter off: no offsets", [](enc::EncoderParams &p) { p.LoopFilterParametersFlag = 1; },
         [](enc::EncoderImage &img) {
             img.type = enc::kTypeI;
             img.lf_disable = 1;
             img.lf_alpha_offset = 8;
         },
         [](const H264DecoderState &d, const enc::EncoderImage &) {
             EXPECT_EQ(d.slice.disable_deblocking_filter_idc, 1);
             EXPECT_EQ(d.slice.slice_alpha_c0_offset, 0);
         }},
        {"weighted P slice",
         [](enc::EncoderParams &p) {
             p.WeightedPrediction = 1;
             p.NumberReferenceFrames = 2;
         },
         [](enc::EncoderImage &img) {
             img.type = enc::kTypeP;
             img.luma_log_weight_denom = 5;
             img.chroma_log_weight_denom = 3;
             for (int r = 0; r < 2; ++r)
                 for (int c = 0; c < 3; ++c)
                     img.wp_weight[0][r][c] = 1 << (c ? 3 : 5);
             img.wp_weight[0][1][0] = 40;
             img.wp_offset[0][1][0] = -3;
             img.wp_offset[0][0][2] = 7;
         },
         [](const H264DecoderState &d, const enc::EncoderImage &) {
             EXPECT_EQ(d.img.luma_log_weight_denom, 5);
             EXPECT_EQ(d.img.chroma_log_weight_denom, 3);
             EXPECT_EQ(d.img.wp_weight[0][0][0], 32);
             EXPECT_EQ(d.img.wp_weight[0][1][0], 40);
             EXPECT_EQ(d.img.wp_offset[0][1][0], -3);
             EXPECT_EQ(d.img.wp_weight[0][0][2], 8);
             EXPECT_EQ(d.img.wp_offset[0][0][2], 7);
             EXPECT_EQ(d.img.wp_offset[0][1][1], 0);
         }},
        {"weighted B slice, both lists", [](enc::EncoderParams &p) { p.WeightedBiprediction = 1; },
         [](enc::EncoderImage &img) {
             img.type = enc::kTypeB;
             for (int l = 0; l < 2; ++l)
                 for (int c = 0; c < 3; ++c)
                     img.wp_weight[l][0][c] = 1;
             img.wp_weight[1][0][1] = 3;
             img.wp_offset[1][0][1] = -2;
         },
         [](const H264DecoderState &d, const enc::EncoderImage &) {
             EXPECT_EQ(d.img.wp_weight[1][0][1], 3);
             EXPECT_EQ(d.img.wp_offset[1][0][1], -2);
             EXPECT_EQ(d.img.wp_weight[1][0][0], 1);
         }},
        {"redundant slices announced: no redundant_pic_cnt",
         [](enc::EncoderParams &p) { p.UseRedundantSlice = 1; },
         [](enc::EncoderImage &img) {
             img.type = enc::kTypeP;
             img.qp = 40;
         },
         [](const H264DecoderState &d, const enc::EncoderImage &) {
             EXPECT_EQ(d.active_sps->redundant_slices_allowed_flag, 1);
             EXPECT_EQ(d.img.redundant_pic_cnt, 0);
             EXPECT_EQ(d.img.qp, 40);
         }},
        {"reference marking commands", [](enc::EncoderParams &) {},
         [](enc::EncoderImage &img) {
             img.type = enc::kTypeP;
             enc::MmcoCommand a;
             a.operation = 1;
             a.difference_of_pic_nums_minus1 = 2;
             enc::MmcoCommand b;
             b.operation = 4;
             b.max_long_term_pic_idx_plus1 = 1;
             img.mmco = {a, b, enc::MmcoCommand()};
         },
         [](const H264DecoderState &d, const enc::EncoderImage &) {
             EXPECT_EQ(d.img.adaptive_ref_pic_buffering_flag, 1);
             ASSERT_EQ(d.img.mmco_list.size(), 3u);
             EXPECT_EQ(d.img.mmco_list[0].difference_of_pic_nums, 3);
             EXPECT_EQ(d.img.mmco_list[1].max_long_term_pic_idx_plus1, 1);
         }},
    };
    for (const HeaderCase &c : cases) {
        SCOPED_TRACE(c.name);
        H264DecoderState dec;
        enc::EncoderImage img;
        zn::MessageRecorder recorder;
        int bits = 0;
        try {
            bits = WriteAndRead(c, dec, &img);
        } catch (const zn::RunAborted &e) {
            ADD_FAILURE() << e.what();
            continue;
        }
        c.check(dec, img);
        EXPECT_EQ(dec.slice.partitions[0].bitstream->bit_offset, bits);
    }
}

TEST(SliceHeader, SliceTypeCodes)
{
    enc::EncoderImage img;
    const int expected[5] = {7, 5, 6, 8, 6};
    for (int t = 0; t < 5; ++t) {
        img.type = t;
        EXPECT_EQ(enc::h264enc_slice_type_code(img), expected[t]);
    }
    img.type = enc::kTypeI;
    img.sp_mode = enc::kSpMode;
    EXPECT_EQ(enc::h264enc_slice_type_code(img), 8);
    img.sp_mode = 0;
    img.type = 5;
    zn::MessageRecorder recorder;
    try {
        enc::h264enc_slice_type_code(img);
        FAIL();
    } catch (const H264FatalError &e) {
        EXPECT_EQ(e.ExitCode(), 1);
        EXPECT_NE(std::string(e.what()).find("Picture Type not supported!"), std::string::npos);
    }
}

TEST(SliceHeader, MarkingListWithoutEndEndsTheRun)
{
    enc::EncoderImage img;
    enc::MmcoCommand a;
    a.operation = 1;
    img.mmco = {a};
    enc::SlicePartition part;
    zn::MessageRecorder recorder;
    try {
        enc::h264enc_write_ref_marking(img, &part);
        FAIL();
    } catch (const H264FatalError &e) {
        EXPECT_EQ(e.ExitCode(), 500);
        EXPECT_NE(std::string(e.what()).find("Error encoding MMCO commands"), std::string::npos);
    }
}

} // namespace

} // namespace enc_slice_header_test
