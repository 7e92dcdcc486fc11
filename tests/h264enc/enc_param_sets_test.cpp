// Parameter sets: the published bytes of the QCIF and CIF sequence sets and of the picture set, the
// decoder's readers giving back every field over a table of settings, the stream start with both
// units behind long start codes, and ffmpeg listing them.
#include "h264dec/decoder_state.h"
#include "h264dec/nalu_input.h"
#include "h264dec/param_sets.h"
#include "h264enc/enc_param_sets.h"
#include "h264enc/enc_run.h"
#include "platform/messages.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace enc_param_sets_test { // one namespace per test file: a folder compiles as one source

namespace {

namespace enc = h264enc;
using Bytes = std::vector<uint8_t>;

// A run at the generated file's values, the given size.
std::unique_ptr<enc::EncoderRun> RunOf(int width, int height)
{
    auto run = std::make_unique<enc::EncoderRun>();
    enc::EncoderParams &p = run->input;
    p.SourceWidth = width;
    p.SourceHeight = height;
    p.NumberReferenceFrames = 1;
    p.SymbolMode = 1;
    p.NumberBFrames = 1;
    p.FrameSkip = 1;
    return run;
}

void Prepare(enc::EncoderRun &run)
{
    enc::init_image_geometry(run.input, run.img);
    enc::init_picture_order(run.input, run.img);
    enc::h264enc_fmo_init(run.fmo, run.input.SourceWidth / 16, run.input.SourceHeight / 16,
                          enc::FmoSettingsOf(run.input));
}

Bytes Rbsp(const NALU &n)
{
    // The unit as the decoder sees it: emulation prevention removed, header byte dropped.
    NALU copy = n;
    copy.buf.resize(copy.buf.size() + 8);
    h264dec_nalu_to_rbsp(&copy);
    return Bytes(copy.buf.begin() + 1, copy.buf.begin() + copy.len);
}

TEST(Sps, QcifAndCifBytes)
{
    const struct
    {
        int w, h;
        Bytes rbsp;
    } cases[] = {{176, 144, {0x00, 0x00, 0x12, 0xCA, 0x82, 0xC4, 0xC8}},
                 {352, 288, {0x00, 0x00, 0x12, 0xCA, 0x81, 0x60, 0x94, 0x80}}};
    for (const auto &c : cases) {
        auto run = RunOf(c.w, c.h);
        run->input.NumberBFrames = 0; // POC type 0 carries no offsets either way
        Prepare(*run);
        NaluPtr n = enc::make_sps_nalu(*run);
        EXPECT_EQ(n->nal_unit_type, 7);
        EXPECT_EQ(n->nal_ref_idc, 3);
        EXPECT_EQ(n->prefix_length, 4);
        EXPECT_EQ(n->buf[0], 0x67);
        EXPECT_EQ(Rbsp(*n), c.rbsp) << c.w;
    }
}

TEST(Pps, BytesFollowFromTheFieldList)
{
    // ids ue 0, 0 (1 1), entropy_coding_mode, pic_order_present 0, slice groups ue 0 (1), both list sizes
    // ue 0 (1 1), weighted 0, bipred 00, three se 0 (1 1 1), four flags 0, stop bit:
    // CABAC 1110 1110 0011 1000 01.. = EE 38 40; UVLC 1100 1110 ... = CE 38 40.
    for (int symbolMode : {1, 0}) {
        auto run = RunOf(176, 144);
        run->input.SymbolMode = symbolMode;
        Prepare(*run);
        NaluPtr n = enc::make_pps_nalu(*run);
        EXPECT_EQ(n->buf[0], 0x68);
        EXPECT_EQ(Rbsp(*n), symbolMode ? Bytes({0xEE, 0x38, 0x40}) : Bytes({0xCE, 0x38, 0x40}));
    }
}

struct SettingsCase
{
    int w, h, refs, symbol, constrained, poc, bframes, interlace, wp, wbp, lfflag, groups, fmo;
};

TEST(ParamSets, DecoderReadsBackEveryField)
{
    const SettingsCase cases[] = {
        {176, 144, 1, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0}, {352, 288, 5, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0},
        {16, 16, 3, 1, 0, 1, 2, 0, 1, 2, 0, 0, 0},   {1920, 1088, 2, 0, 0, 1, 3, 2, 0, 1, 1, 0, 0},
        {704, 576, 4, 1, 1, 2, 0, 3, 1, 0, 0, 0, 0}, {176, 128, 1, 0, 0, 0, 1, 1, 0, 0, 0, 1, 1},
        {176, 144, 2, 1, 0, 0, 0, 0, 0, 0, 0, 3, 1}, {176, 144, 1, 1, 0, 0, 0, 0, 0, 0, 0, 1, 3},
        {352, 288, 1, 1, 0, 0, 0, 0, 0, 0, 0, 1, 4}, {352, 288, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1, 5},
        {176, 144, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1, 6}, {176, 144, 1, 0, 0, 0, 0, 0, 0, 0, 0, 7, 1},
    };
    for (const SettingsCase &c : cases) {
        auto run = RunOf(c.w, c.h);
        enc::EncoderParams &p = run->input;
        p.NumberReferenceFrames = c.refs;
        p.SymbolMode = c.symbol;
        p.UseConstrainedIntraPred = c.constrained;
        p.PicOrderCntType = c.poc;
        p.NumberBFrames = c.bframes;
        p.InterlaceCodingOption = c.interlace;
        p.WeightedPrediction = c.wp;
        p.WeightedBiprediction = c.wbp;
        p.LoopFilterParametersFlag = c.lfflag;
        p.num_slice_groups_minus1 = c.groups;
        p.FmoType = p.mb_allocation_map_type = c.fmo;
        p.FmoTopLeftMB = 12;
        p.FmoBottomRightMB = 40;
        p.FmoChangeDirection = 1;
        p.FmoChangeRate = 3;
        Prepare(*run);
        SPS sps;
        PPS pps;
        enc::fill_parameter_sets(run->input, run->img, run->fmo, &sps, &pps);

        H264DecoderState dec;
        NaluPtr s = enc::make_sps_nalu(*run);
        NaluPtr q = enc::make_pps_nalu(*run);
        h264dec_process_sps(dec, *s);
        h264dec_process_pps(dec, *q);
        const SPS &rs = dec.sps_table[0];
        const PPS &rp = dec.pps_table[0];
        ASSERT_EQ(rs.Valid, 1);
        ASSERT_EQ(rp.Valid, 1);
        EXPECT_EQ(rs.more_than_one_slice_group_allowed_flag, c.fmo != 0);
        EXPECT_EQ(rs.log2_max_frame_num_minus4, 4);
        EXPECT_EQ(rs.pic_order_cnt_type, c.poc);
        if (c.poc == 0) {
            EXPECT_EQ(rs.log2_max_pic_order_cnt_lsb_minus4, 4);
        }
        if (c.poc == 1) {
            EXPECT_EQ(rs.offset_for_non_ref_pic, -2 * c.bframes);
            EXPECT_EQ(rs.offset_for_top_to_bottom_field, c.interlace != 0);
            EXPECT_EQ(rs.num_ref_frames_in_pic_order_cnt_cycle, 1);
            EXPECT_EQ(rs.offset_for_ref_frame[0], 2 * c.bframes + 2);
        }
        EXPECT_EQ(rs.num_ref_frames, c.refs);
        EXPECT_EQ(rs.frame_width_in_mbs_minus1, c.w / 16 - 1);
        EXPECT_EQ(rs.frame_height_in_mbs_minus1, c.h / 16 - 1);
        EXPECT_EQ(rs.frame_mbs_only_flag, c.interlace == 0);
        EXPECT_EQ(rs.mb_adaptive_frame_field_flag, c.interlace == 3);
        EXPECT_EQ(rs.vui_parameters_present_flag, 0);
        EXPECT_EQ(rp.entropy_coding_mode, c.symbol);
        EXPECT_EQ(rp.pic_order_present_flag, c.interlace != 0);
        EXPECT_EQ(rp.num_slice_groups_minus1, c.groups);
        EXPECT_EQ(rp.mb_slice_group_map_type, pps.mb_slice_group_map_type);
        if (c.groups > 0) {
            if (c.fmo == 1 || c.fmo == 3 || c.fmo == 6) {
                // Static maps go out as explicit lists: the decoder's list is the encoder's map.
                EXPECT_EQ(rp.mb_slice_group_map_type, 6);
                ASSERT_EQ(rp.slice_group_id_cnt_minus1 + 1, run->fmo.map.units);
                for (int i = 0; i < run->fmo.map.units; ++i)
                    ASSERT_EQ(rp.slice_group_id[static_cast<size_t>(i)],
                              run->fmo.map.MBAmap[static_cast<size_t>(i)]);
            } else {
                EXPECT_EQ(rp.mb_slice_group_map_type, c.fmo);
                EXPECT_EQ(rp.slice_group_change_direction_flag, 1);
                EXPECT_EQ(rp.slice_group_change_rate_minus1, 3);
            }
        }
        EXPECT_EQ(rp.weighted_pred_flag, c.wp);
        EXPECT_EQ(rp.weighted_bipred_idc, c.wbp);
        EXPECT_EQ(rp.pic_init_qp_minus26, 0);
        EXPECT_EQ(rp.chroma_qp_index_offset, 0);
        EXPECT_EQ(rp.deblocking_filter_parameters_present_flag, c.lfflag);
        EXPECT_EQ(rp.constrained_intra_pred_flag, c.constrained);
        EXPECT_EQ(rp.vui_pic_parameters_flag, 0);
        EXPECT_EQ(rp.frame_cropping_flag, 0);
    }
}

TEST(ParamSets, VuiRequestEndsTheRun)
{
    zn::MessageRecorder rec;
    SPS sps;
    sps.vui_parameters_present_flag = 1;
    Bytes out;
    EXPECT_THROW(enc::SeqParameterSet(sps, out), H264FatalError);
    EXPECT_EQ(rec.Count(), 1u);
}

std::string StartStream(const zntest::ScratchDir &dir, int mode = 0)
{
    auto run = RunOf(176, 144);
    run->input.OutFileMode = mode;
    run->input.OutputFile = dir.File("s.264");
    Prepare(*run);
    EXPECT_EQ(enc::h264enc_start_stream(*run), 0);
    enc::h264enc_end_stream(*run);
    EXPECT_EQ(run->stats.bit_counter, 0); // the parameter sets are in none of the run's totals
    return run->input.OutputFile;
}

TEST(StreamStart, SpsThenPpsBehindLongStartCodes)
{
    zntest::ScratchDir dir;
    const Bytes file = zntest::ReadFileBytes(StartStream(dir));
    // 00 00 00 01 67 + 7 bytes, then 00 00 00 01 68 + 3 bytes.
    ASSERT_EQ(file.size(), 5u + 7u + 5u + 3u);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 5), Bytes({0, 0, 0, 1, 0x67}));
    EXPECT_EQ(Bytes(file.begin() + 12, file.begin() + 17), Bytes({0, 0, 0, 1, 0x68}));
}

TEST(StreamStart, UnknownOutputModeEndsTheRunWithCodeOne)
{
    zn::MessageRecorder rec;
    zntest::ScratchDir dir;
    auto run = RunOf(176, 144);
    run->input.OutFileMode = 2;
    run->input.OutputFile = dir.File("s.264");
    Prepare(*run);
    try {
        enc::h264enc_start_stream(*run);
        FAIL();
    } catch (const H264FatalError &e) {
        EXPECT_EQ(e.ExitCode(), 1);
        EXPECT_STREQ(e.what(), "Output File Mode 2 not supported");
    }
}

TEST(StreamStart, FfmpegListsBothParameterSetsWithRefIdcThree)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    zntest::ScratchDir dir;
    const std::string path = StartStream(dir);
    std::string out;
    zntest::Run("ffmpeg -hide_banner -v debug -f h264 -i " + zntest::ShellQuote(path) +
                    " -c copy -f null - 2>&1",
                &out);
    EXPECT_NE(out.find("nal_unit_type: 7(SPS), nal_ref_idc: 3"), std::string::npos) << out;
    EXPECT_NE(out.find("nal_unit_type: 8(PPS), nal_ref_idc: 3"), std::string::npos) << out;
}

} // namespace

} // namespace enc_param_sets_test
