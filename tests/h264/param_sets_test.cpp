// Parameter sets: the draft SPS and PPS syntax read from independent bytes and from the test writer,
// the tables and their replacement, activation with its picture order count checks, the limits on
// identifiers and sizes, and the refusal of streams in the final standard's syntax.
#include "h264/support/h264_stream_writer.h"
#include "h264dec/cabac_read.h"
#include "h264dec/cavlc_read.h"
#include "h264dec/decoder_state.h"
#include "h264dec/nal_dispatch.h"
#include "h264dec/param_sets.h"
#include "platform/log.h"
#include "platform/messages.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>

namespace param_sets_test { // one namespace per test file: a folder compiles as one source

namespace {

using namespace h264test;
using Bytes = std::vector<uint8_t>;

NALU Unit(int type, const Bytes &rbsp)
{
    NALU n;
    n.buf.assign(rbsp.size() + 9, 0); // header byte, payload, room behind it
    n.buf[0] = static_cast<uint8_t>((3 << 5) | type);
    std::copy(rbsp.begin(), rbsp.end(), n.buf.begin() + 1);
    n.len = static_cast<int>(rbsp.size()) + 1;
    n.nal_unit_type = type;
    return n;
}

void StoreSps(H264DecoderState &dec, const SPS &sps)
{
    h264dec_process_sps(dec, Unit(NALU_TYPE_SPS, SpsRbsp(sps)));
}

void StorePps(H264DecoderState &dec, const PPS &pps)
{
    h264dec_process_pps(dec, Unit(NALU_TYPE_PPS, PpsRbsp(pps)));
}

// The outcome of a call that may end the run: the boxes shown and the exit code (0: it returned).
struct Outcome
{
    std::vector<std::string> boxes;
    int code = 0;
};

template <class F> Outcome RunDecoder(F &&f)
{
    zn::MessageRecorder recorder;
    Outcome o;
    try {
        f();
    } catch (const H264FatalError &e) {
        o.code = e.ExitCode();
    }
    o.boxes = recorder.Texts();
    return o;
}

TEST(Sps, TheEncodersQcifAndCifBytesParse)
{
    // The sequence parameter sets this program's encoder writes for QCIF and CIF.
    const struct
    {
        Bytes rbsp;
        int width, height;
    } cases[] = {{{0x00, 0x00, 0x12, 0xCA, 0x82, 0xC4, 0xC8}, 176, 144},
                 {{0x00, 0x00, 0x12, 0xCA, 0x81, 0x60, 0x94, 0x80}, 352, 288}};
    for (const auto &c : cases) {
        H264DecoderState dec;
        h264dec_process_sps(dec, Unit(NALU_TYPE_SPS, c.rbsp));
        const SPS &s = dec.sps_table[0];
        EXPECT_EQ(s.Valid, 1);
        EXPECT_EQ(s.profile_idc, 0);
        EXPECT_EQ(s.level_idc, 0);
        EXPECT_EQ(s.log2_max_frame_num_minus4, 4);
        EXPECT_EQ(s.pic_order_cnt_type, 0);
        EXPECT_EQ(s.log2_max_pic_order_cnt_lsb_minus4, 4);
        EXPECT_EQ(s.num_ref_frames, 1);
        EXPECT_EQ(s.frame_mbs_only_flag, 1);
        EXPECT_EQ(s.direct_8x8_inference_flag, 0);
        StorePps(dec, DefaultPps());
        h264dec_activate_param_sets(dec, 0);
        EXPECT_EQ(dec.img.width, c.width);
        EXPECT_EQ(dec.img.height, c.height);
        EXPECT_EQ(dec.img.MaxFrameNum, 256);
    }
}

TEST(Sps, TheReaderReturnsTheBitsOfTheSet)
{
    H264DecoderState dec;
    std::vector<DataPartition> parts = AllocPartition(dec, 1, 0);
    DataPartition &dp = parts[0];
    const Bytes rbsp = {0x00, 0x00, 0x12, 0xCA, 0x82, 0xC4, 0xC8};
    h264dec_load_payload(dp.bitstream.get(), rbsp.data(), static_cast<int>(rbsp.size()));
    SPS sps;
    // 16 + 3 + 1 + 5 + 1 + 5 + 3 + 1 + 7 + 7 + 3 bits before the stop bit.
    EXPECT_EQ(h264dec_read_sps(&dp, &sps), 52);
}

TEST(Sps, RandomSetsReadBackEqual)
{
    std::mt19937 rng(21);
    for (int trial = 0; trial < 300; ++trial) {
        SPS written = RandomSps(rng);
        if (trial % 3 == 1) { // sets only read, never activated: any cycle and flag
            written.pic_order_cnt_type = 1;
            written.log2_max_pic_order_cnt_lsb_minus4 = 0;
            written.offset_for_ref_frame.fill(0);
            written.delta_pic_order_always_zero_flag = static_cast<int>(rng() % 2);
            written.num_ref_frames_in_pic_order_cnt_cycle = static_cast<int>(rng() % 257);
            for (int i = 0; i < written.num_ref_frames_in_pic_order_cnt_cycle; ++i)
                written.offset_for_ref_frame[static_cast<size_t>(i)] =
                    static_cast<int>(rng() % 200001) - 100000;
        }
        H264DecoderState dec;
        StoreSps(dec, written);
        const SPS &r = dec.sps_table[static_cast<size_t>(written.seq_parameter_set_id)];
        written.Valid = 1;
        EXPECT_EQ(std::memcmp(&r, &written, sizeof(SPS)), 0) << "trial " << trial;
    }
}

void ExpectPpsEqual(const PPS &r, const PPS &w, int trial)
{
    EXPECT_EQ(r.pic_parameter_set_id, w.pic_parameter_set_id) << trial;
    EXPECT_EQ(r.seq_parameter_set_id, w.seq_parameter_set_id) << trial;
    EXPECT_EQ(r.entropy_coding_mode, w.entropy_coding_mode) << trial;
    EXPECT_EQ(r.pic_order_present_flag, w.pic_order_present_flag) << trial;
    EXPECT_EQ(r.num_slice_groups_minus1, w.num_slice_groups_minus1) << trial;
    if (w.num_slice_groups_minus1 > 0) {
        EXPECT_EQ(r.mb_slice_group_map_type, w.mb_slice_group_map_type) << trial;
    }
    EXPECT_EQ(r.run_length, w.run_length) << trial;
    EXPECT_EQ(r.top_left_mb, w.top_left_mb) << trial;
    EXPECT_EQ(r.bottom_right_mb, w.bottom_right_mb) << trial;
    EXPECT_EQ(r.slice_group_change_direction_flag, w.slice_group_change_direction_flag) << trial;
    EXPECT_EQ(r.slice_group_change_rate_minus1, w.slice_group_change_rate_minus1) << trial;
    EXPECT_EQ(r.slice_group_id_cnt_minus1, w.slice_group_id_cnt_minus1) << trial;
    EXPECT_EQ(r.slice_group_id, w.slice_group_id) << trial;
    EXPECT_EQ(r.num_ref_idx_l0_active_minus1, w.num_ref_idx_l0_active_minus1) << trial;
    EXPECT_EQ(r.num_ref_idx_l1_active_minus1, w.num_ref_idx_l1_active_minus1) << trial;
    EXPECT_EQ(r.weighted_pred_flag, w.weighted_pred_flag) << trial;
    EXPECT_EQ(r.weighted_bipred_idc, w.weighted_bipred_idc) << trial;
    EXPECT_EQ(r.pic_init_qp_minus26, w.pic_init_qp_minus26) << trial;
    EXPECT_EQ(r.pic_init_qs_minus26, w.pic_init_qs_minus26) << trial;
    EXPECT_EQ(r.chroma_qp_index_offset, w.chroma_qp_index_offset) << trial;
    EXPECT_EQ(r.deblocking_filter_parameters_present_flag, w.deblocking_filter_parameters_present_flag)
        << trial;
    EXPECT_EQ(r.constrained_intra_pred_flag, w.constrained_intra_pred_flag) << trial;
    EXPECT_EQ(r.vui_pic_parameters_flag, w.vui_pic_parameters_flag) << trial;
    EXPECT_EQ(r.frame_cropping_flag, w.frame_cropping_flag) << trial;
    EXPECT_EQ(r.frame_cropping_rect_left_offset, w.frame_cropping_rect_left_offset) << trial;
    EXPECT_EQ(r.frame_cropping_rect_right_offset, w.frame_cropping_rect_right_offset) << trial;
    EXPECT_EQ(r.frame_cropping_rect_top_offset, w.frame_cropping_rect_top_offset) << trial;
    EXPECT_EQ(r.frame_cropping_rect_bottom_offset, w.frame_cropping_rect_bottom_offset) << trial;
}

TEST(Pps, RandomSetsReadBackEqual)
{
    std::mt19937 rng(22);
    for (int trial = 0; trial < 300; ++trial) {
        const PPS written = RandomPps(rng, static_cast<int>(rng() % 32));
        H264DecoderState dec;
        StorePps(dec, written);
        const PPS &r = dec.pps_table[static_cast<size_t>(written.pic_parameter_set_id)];
        EXPECT_EQ(r.Valid, 1);
        ExpectPpsEqual(r, written, trial);
    }
}

TEST(Pps, SliceGroupFieldsByMapType)
{
    // Three groups, map type 0: two run lengths.
    PPS runs;
    runs.num_slice_groups_minus1 = 2;
    runs.mb_slice_group_map_type = 0;
    runs.run_length[0] = 5;
    runs.run_length[1] = 9;
    H264DecoderState dec;
    StorePps(dec, runs);
    EXPECT_EQ(dec.pps_table[0].run_length[0], 5);
    EXPECT_EQ(dec.pps_table[0].run_length[1], 9);
    EXPECT_EQ(dec.pps_table[0].run_length[2], 0);

    // Map type 6 with three groups: each slice_group_id takes two bits.
    PPS ids;
    ids.num_slice_groups_minus1 = 2;
    ids.mb_slice_group_map_type = 6;
    ids.slice_group_id_cnt_minus1 = 3;
    ids.slice_group_id = {2, 0, 1, 2};
    std::vector<DataPartition> parts = AllocPartition(dec, 1, 0);
    DataPartition &dp = parts[0];
    const Bytes rbsp = PpsRbsp(ids);
    h264dec_load_payload(dp.bitstream.get(), rbsp.data(), static_cast<int>(rbsp.size()));
    PpsPtr read = dec_AllocPPS();
    const int bits = h264dec_read_pps(&dp, read.get());
    // ids 1+1, flags 2, groups 3, type 5, count 5, four ids of 2 bits, then 1+1+1+2+1+1+1+1+1+1+1 bits.
    EXPECT_EQ(bits, 2 + 2 + 3 + 5 + 5 + 8 + 12);
    EXPECT_EQ(std::vector<int>(read->slice_group_id.begin(), read->slice_group_id.begin() + 4),
              ids.slice_group_id);
    EXPECT_EQ(SliceGroupIdBits(1), 1);
    EXPECT_EQ(SliceGroupIdBits(3), 2);
    EXPECT_EQ(SliceGroupIdBits(4), 3);
    EXPECT_EQ(SliceGroupIdBits(7), 3);
}

TEST(Pps, ALaterSetWithTheSameIdReplacesTheEarlierOne)
{
    H264DecoderState dec;
    PPS first;
    first.pic_parameter_set_id = 5;
    first.num_slice_groups_minus1 = 1;
    first.mb_slice_group_map_type = 6;
    first.slice_group_id_cnt_minus1 = 9;
    first.slice_group_id.assign(10, 1);
    first.weighted_pred_flag = 1;
    StorePps(dec, first);
    EXPECT_EQ(dec.pps_table[5].slice_group_id.size(), 10u);

    PPS second;
    second.pic_parameter_set_id = 5;
    second.num_slice_groups_minus1 = 3;
    second.mb_slice_group_map_type = 6;
    second.slice_group_id_cnt_minus1 = 2;
    second.slice_group_id = {3, 2, 1};
    StorePps(dec, second);
    const PPS &entry = dec.pps_table[5];
    EXPECT_EQ(entry.slice_group_id, (std::vector<int>{3, 2, 1}));
    EXPECT_EQ(entry.weighted_pred_flag, 0);
    EXPECT_EQ(entry.num_slice_groups_minus1, 3);
}

TEST(Activation, PictureSizeAndCopiedFields)
{
    H264DecoderState dec;
    StoreSps(dec, DefaultSps(21, 17));
    PPS pps;
    pps.weighted_pred_flag = 1;
    pps.weighted_bipred_idc = 2;
    pps.pic_order_present_flag = 1;
    pps.constrained_intra_pred_flag = 1;
    StorePps(dec, pps);
    h264dec_activate_param_sets(dec, 0);
    EXPECT_EQ(dec.img.width, 336);
    EXPECT_EQ(dec.img.height, 272);
    EXPECT_EQ(dec.img.width_cr, 168);
    EXPECT_EQ(dec.img.height_cr, 136);
    EXPECT_EQ(dec.img.weighted_pred_flag, 1);
    EXPECT_EQ(dec.img.weighted_bipred_idc, 2);
    EXPECT_EQ(dec.img.pic_order_present_flag, 1);
    EXPECT_EQ(dec.img.constrained_intra_pred_flag, 1);
    EXPECT_EQ(dec.active_sps, &dec.sps_table[0]);
    EXPECT_EQ(dec.active_pps, &dec.pps_table[0]);
}

TEST(Activation, EntropyModeInstallsItsReaders)
{
    H264DecoderState dec;
    StoreSps(dec, DefaultSps());
    PPS cabac;
    cabac.pic_parameter_set_id = 1;
    cabac.entropy_coding_mode = 1;
    StorePps(dec, DefaultPps());
    StorePps(dec, cabac);
    h264dec_activate_param_sets(dec, 0);
    EXPECT_EQ(dec.slice_end_test, &h264dec_slice_end_cavlc);
    for (const DataPartition &dp : dec.slice.partitions)
        EXPECT_EQ(dp.read_element, &h264dec_read_element_cavlc);
    h264dec_activate_param_sets(dec, 1);
    EXPECT_EQ(dec.slice_end_test, &cabac_slice_end);
    for (const DataPartition &dp : dec.slice.partitions)
        EXPECT_EQ(dp.read_element, &cabac_read_element);
}

TEST(Activation, PictureOrderCountLimits)
{
    struct Case
    {
        const char *name;
        int type, cycle, alwaysZero;
        int code;
        const char *box;
    };
    const Case cases[] = {
        {"type 0", 0, 0, 0, 0, nullptr},
        {"type 1, one frame in the cycle", 1, 1, 0, 0, nullptr},
        {"type 2", 2, 0, 0, 0, nullptr},
        {"type 3", 3, 0, 0, -1000, "pic_order_cnt_type != 1"},
        {"type 1, two frames in the cycle", 1, 2, 0, -1001, "num_ref_frames_in_pic_order_cnt_cycle != 1"},
        {"type 1, deltas always zero", 1, 1, 1, -1002, "delta_pic_order_always_zero_flag != 0"},
    };
    for (const Case &c : cases) {
        H264DecoderState dec;
        SPS sps = DefaultSps();
        sps.pic_order_cnt_type = c.type;
        sps.num_ref_frames_in_pic_order_cnt_cycle = c.cycle;
        sps.delta_pic_order_always_zero_flag = c.alwaysZero;
        StoreSps(dec, sps);
        StorePps(dec, DefaultPps());
        std::vector<std::string> log;
        const zn::LogSink previous =
            zn::SetLogSink([&](zn::LogLevel, const std::string &t) { log.push_back(t); });
        const Outcome o = RunDecoder([&] { h264dec_activate_param_sets(dec, 0); });
        zn::SetLogSink(previous);
        EXPECT_EQ(o.code, c.code) << c.name;
        if (c.box) {
            EXPECT_EQ(o.boxes, std::vector<std::string>{c.box}) << c.name;
        } else {
            EXPECT_TRUE(o.boxes.empty()) << c.name;
            EXPECT_TRUE(log.empty()) << c.name;
        }
        if (c.type == 3) {
            EXPECT_EQ(log.front(), "sps->pic_order_cnt_type 3, expected 1, expect the unexpected...\n");
        }
    }
}

TEST(Activation, ASetNeverReceivedEndsTheRun)
{
    H264DecoderState dec;
    Outcome o = RunDecoder([&] { h264dec_activate_param_sets(dec, 7); });
    EXPECT_EQ(o.boxes,
              std::vector<std::string>{"Trying to use an invalid (uninitialized) Picture Parameter Set "
                                       "with ID 7, expect the unexpected..."});
    PPS pps;
    pps.pic_parameter_set_id = 3;
    pps.seq_parameter_set_id = 4;
    StorePps(dec, pps);
    o = RunDecoder([&] { h264dec_activate_param_sets(dec, 3); });
    EXPECT_EQ(o.boxes, std::vector<std::string>{"PicParset 3 references an invalid (uninitialized) Sequence "
                                                "Parameter Set with ID 4, expect the unexpected..."});
    EXPECT_EQ(o.code, kH264StreamErrorCode);
    o = RunDecoder([&] { h264dec_activate_param_sets(dec, 128); });
    EXPECT_EQ(o.boxes.size(), 1u);
}

TEST(Activation, SetsBelongToTheirDecoder)
{
    H264DecoderState first;
    StoreSps(first, DefaultSps());
    StorePps(first, DefaultPps());
    h264dec_activate_param_sets(first, 0);
    H264DecoderState second;
    EXPECT_EQ(RunDecoder([&] { h264dec_activate_param_sets(second, 0); }).boxes.size(), 1u);
}

TEST(Limits, SetsBeyondWhatTheDecoderHoldsEndTheRunNamingTheField)
{
    const auto sps = [](auto change) {
        SPS s = DefaultSps();
        change(s);
        return Unit(NALU_TYPE_SPS, SpsRbsp(s));
    };
    const auto pps = [](auto change) {
        PPS p;
        change(p);
        return Unit(NALU_TYPE_PPS, PpsRbsp(p));
    };
    const struct
    {
        NALU unit;
        const char *box;
    } cases[] = {
        {sps([](SPS &s) { s.seq_parameter_set_id = 32; }), "SPS: seq_parameter_set_id 32 out of range 0..31"},
        {sps([](SPS &s) { s.log2_max_frame_num_minus4 = 13; }),
         "SPS: log2_max_frame_num_minus4 13 out of range 0..12"},
        {sps([](SPS &s) { s.log2_max_pic_order_cnt_lsb_minus4 = 13; }),
         "SPS: log2_max_pic_order_cnt_lsb_minus4 13 out of range 0..12"},
        {sps([](SPS &s) {
             s.pic_order_cnt_type = 1;
             s.num_ref_frames_in_pic_order_cnt_cycle = 257;
         }),
         "SPS: num_ref_frames_in_pic_order_cnt_cycle 257 out of range 0..256"},
        {sps([](SPS &s) { s.frame_width_in_mbs_minus1 = 256; }),
         "SPS: a picture of 257 x 9 macroblocks is larger than 4096 x 2304 pixels"},
        {sps([](SPS &s) { s.frame_height_in_mbs_minus1 = 144; }),
         "SPS: a picture of 11 x 145 macroblocks is larger than 4096 x 2304 pixels"},
        {sps([](SPS &s) { s.frame_mbs_only_flag = 0; }),
         "SPS: field pictures need an even number of macroblock rows, not 9"},
        {pps([](PPS &p) { p.pic_parameter_set_id = 128; }),
         "PPS: pic_parameter_set_id 128 out of range 0..127"},
        {pps([](PPS &p) { p.seq_parameter_set_id = 32; }), "PPS: seq_parameter_set_id 32 out of range 0..31"},
        {pps([](PPS &p) { p.num_slice_groups_minus1 = 8; }),
         "PPS: num_slice_groups_minus1 8 out of range 0..7"},
        {pps([](PPS &p) {
             p.num_slice_groups_minus1 = 1;
             p.mb_slice_group_map_type = 6;
             p.slice_group_id_cnt_minus1 = 60000;
             p.slice_group_id.assign(60001, 0);
         }),
         "PPS: slice_group_id_cnt_minus1 60000 out of range 0..59999"},
    };
    for (const auto &c : cases) {
        H264DecoderState dec;
        const Outcome o = RunDecoder([&] {
            if (c.unit.nal_unit_type == NALU_TYPE_SPS)
                h264dec_process_sps(dec, c.unit);
            else
                h264dec_process_pps(dec, c.unit);
        });
        EXPECT_EQ(o.boxes, std::vector<std::string>{c.box});
        EXPECT_EQ(o.code, kH264StreamErrorCode) << c.box;
    }

    // The largest picture passes, field coding with an even row count too.
    H264DecoderState dec;
    SPS big = DefaultSps(256, 144);
    big.frame_mbs_only_flag = 0;
    EXPECT_TRUE(RunDecoder([&] { StoreSps(dec, big); }).boxes.empty());
}

TEST(Sps, VuiIsAnnouncedAndIgnored)
{
    SPS s = DefaultSps();
    s.vui_parameters_present_flag = 1;
    std::vector<std::string> log;
    const zn::LogSink previous =
        zn::SetLogSink([&](zn::LogLevel, const std::string &t) { log.push_back(t); });
    H264DecoderState dec;
    StoreSps(dec, s);
    zn::SetLogSink(previous);
    EXPECT_EQ(dec.sps_table[0].Valid, 1);
    EXPECT_EQ(log,
              std::vector<std::string>{
                  "VUI sequence parameters present but not supported, ignored, proceeding to next NALU\n"});
}

// ---------------------------------------------------------------------------------------------
// Streams in the final standard's syntax: refused at their first SPS with one box.

// profile_idc of the first SPS, found by scanning the bytes for a type-7 unit.
int FirstProfile(const Bytes &s)
{
    for (size_t i = 0; i + 4 < s.size(); ++i)
        if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1 && (s[i + 3] & 0x1f) == 7)
            return s[i + 4];
    return -1;
}

// Reads a stream file to its end, or until the run ends.
Outcome ReadStreamFile(const std::string &path)
{
    H264DecoderState dec;
    dec.input.infile = path;
    return RunDecoder([&] {
        h264dec_open_annexb(dec);
        NaluPtr nalu = dec_AllocNALU(kNaluCapacity);
        while (h264dec_next_slice_unit(dec, nalu.get()))
            h264dec_read_slice_unit(dec, *nalu);
    });
}

void ExpectRefused(const std::string &path)
{
    const Bytes stream = zntest::ReadFileBytes(path);
    const int profile = FirstProfile(stream);
    ASSERT_GT(profile, 0) << path;
    const Outcome o = ReadStreamFile(path);
    EXPECT_EQ(o.boxes, std::vector<std::string>{FinalSyntaxMessage(profile)});
    EXPECT_EQ(o.boxes.front(), "This H.264 stream uses the final standard's syntax (profile_idc " +
                                   std::to_string(profile) +
                                   "). Zantho decodes only the draft syntax of its own encoder.");
}

TEST(FinalSyntax, X264StreamsAreRefused)
{
    ZN_REQUIRE_TOOL("x264");
    zntest::ScratchDir dir;
    Bytes frames(64 * 48 * 3 / 2 * 3, 0);
    for (size_t i = 0; i < frames.size(); ++i)
        frames[i] = static_cast<uint8_t>(i * 7);
    ASSERT_TRUE(zntest::WriteFileBytes(dir.File("in.yuv"), frames));
    for (const char *profile : {"baseline", "main", "high"}) {
        const std::string out = dir.File(std::string(profile) + ".264");
        ASSERT_EQ(zntest::Run("x264 --quiet --profile " + std::string(profile) + " --input-res 64x48 -o " +
                              zntest::ShellQuote(out) + " " + zntest::ShellQuote(dir.File("in.yuv")) +
                              " 2>/dev/null"),
                  0);
        ExpectRefused(out);
    }
}

TEST(FinalSyntax, FfmpegLibx264StreamsAreRefused)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    zntest::ScratchDir dir;
    const std::string out = dir.File("ff.264");
    ASSERT_EQ(
        zntest::Run(
            "ffmpeg -v error -y -f lavfi -i testsrc=size=64x48:rate=5 -frames:v 3 -c:v libx264 -f h264 " +
            zntest::ShellQuote(out)),
        0);
    ExpectRefused(out);
}

TEST(FinalSyntax, CorpusFilesAreRefusedOrRead)
{
    // Outside files: each either reads to its end or ends the run with one box.
    int checked = 0;
    for (const std::string &path : zntest::CorpusFiles("h264")) {
        EXPECT_LE(ReadStreamFile(path).boxes.size(), 1u) << path;
        ++checked;
    }
    std::printf("corpus: %d files checked\n", checked);
}

} // namespace

} // namespace param_sets_test
