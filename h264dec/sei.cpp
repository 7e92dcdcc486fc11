// SEI messages in the draft syntax. Each message is a payload type and a size (both coded as runs of
// 0xFF bytes plus a last byte) followed by the payload, which a reader per type parses and drops. The
// loop ends at the trailing bits 0x80 after a message or at the end of the unit.
#include "h264dec/sei.h"

#include "h264dec/decoder_state.h"
#include "h264dec/fmo.h"
#include "h264dec/slice_header.h"
#include "platform/format.h"
#include "platform/log.h"

#include <algorithm>

namespace {

constexpr int kMaxSparePics = 16;

// A payload read in place: the bitstream points into the unit.
struct Payload
{
    Bitstream bs;
    Payload(H264DecoderState &dec, const uint8_t *payload, int size)
    {
        bs.streamBuffer = const_cast<uint8_t *>(payload);
        bs.byte_length = size;
        bs.counters = &dec.counters;
        dec.counters.syntax_bits = 0;
    }
    // True once the readers have run past the payload (or a read has failed there): a counted loop
    // stops, since everything it would read is discarded anyway.
    bool Exhausted() const { return failed || bs.bit_offset >= bs.byte_length * 8; }
    int ue(const char *name) { return Track(h264dec_read_ue(name, &bs)); }
    int se(const char *name) { return Track(h264dec_read_se(name, &bs)); }
    int u(int bits, const char *name) { return Track(h264dec_read_u(bits, name, &bs)); }
    int flag(const char *name) { return Track(h264dec_read_flag(name, &bs)); }

private:
    int lastOffset = 0;
    bool failed = false;
    // Every successful read moves the position.
    int Track(int value)
    {
        failed = failed || bs.bit_offset == lastOffset;
        lastOffset = bs.bit_offset;
        return value;
    }
};

// The rate statistics of a sub-sequence layer or of a sub-sequence.
void ReadStatistics(Payload &p)
{
    p.flag("SEI: accurate_statistics_flag");
    p.u(16, "SEI: average_bit_rate");
    p.u(16, "SEI: average_frame_rate");
}

using PayloadReader = bool (*)(H264DecoderState &, const uint8_t *, int);

PayloadReader ReaderOf(int type)
{
    switch (type) {
    case 0:
        return h264dec_sei_buffering_period;
    case 1:
        return h264dec_sei_picture_timing;
    case 2:
        return h264dec_sei_pan_scan;
    case 3:
        return h264dec_sei_filler;
    case 4:
        return h264dec_sei_user_registered;
    case 6:
        return h264dec_sei_recovery_point;
    case 7:
        return h264dec_sei_marking_repetition;
    case 8:
        return h264dec_sei_spare_pic;
    case 9:
        return h264dec_sei_scene_info;
    case 10:
        return h264dec_sei_sub_seq_info;
    case 11:
        return h264dec_sei_sub_seq_layer;
    case 12:
        return h264dec_sei_sub_seq_char;
    case 15:
        return h264dec_sei_snapshot;
    case 16:
    case 17:
        return h264dec_sei_refinement;
    case 18:
        return h264dec_sei_mcts;
    default:
        return nullptr; // unregistered user data, freeze and release, reserved types: skipped by size
    }
}

// A 0xFF-run coded number at offset; false when the unit ends inside it.
bool ReadFfCoded(const uint8_t *msg, int size, int &offset, long long &value)
{
    value = 0;
    while (offset < size && msg[offset] == 0xFF) {
        value += 255;
        ++offset;
    }
    if (offset >= size)
        return false;
    value += msg[offset++];
    return true;
}

} // namespace

void h264dec_read_sei(H264DecoderState &dec, const uint8_t *msg, int size)
{
    int offset = 1; // after the NAL unit header byte
    while (offset < size) {
        long long type = 0, payloadSize = 0;
        if (!ReadFfCoded(msg, size, offset, type) || !ReadFfCoded(msg, size, offset, payloadSize))
            return;
        // A size running past the unit is cut at its end.
        const int available = size - offset;
        const int n = static_cast<int>(std::min<long long>(payloadSize, available));
        if (PayloadReader reader = ReaderOf(type <= 18 ? static_cast<int>(type) : -1))
            if (!reader(dec, msg + offset, n))
                return;
        offset += n;
        if (offset >= size || msg[offset] == 0x80)
            return;
    }
}

bool h264dec_sei_buffering_period(H264DecoderState &dec, const uint8_t *payload, int size)
{
    Payload p(dec, payload, size);
    const int sps_id = p.ue("SEI: seq_parameter_set_id");
    // The delays that would follow are listed by HRD parameters, which no SPS here carries.
    (void)sps_id;
    return true;
}

bool h264dec_sei_picture_timing(H264DecoderState &dec, const uint8_t *payload, int size)
{
    Payload p(dec, payload, size);
    if (!p.flag("SEI: picture_structure_present_flag"))
        return true;
    const int structure = p.u(3, "SEI: picture_structure");
    const int clockTimestamps = structure <= 2 ? 1 : (structure == 5 || structure == 6) ? 3 : 2;
    for (int i = 0; i < clockTimestamps; ++i) {
        if (!p.flag("SEI: clock_time_stamp_flag"))
            continue;
        p.u(2, "SEI: ct_type");
        p.flag("SEI: nuit_field_based_flag");
        p.u(5, "SEI: counting_type");
        const int full = p.flag("SEI: full_timestamp_flag");
        p.flag("SEI: discontinuity_flag");
        p.flag("SEI: cnt_dropped_flag");
        p.u(8, "SEI: nframes");
        if (full) {
            p.u(6, "SEI: seconds_value");
            p.u(6, "SEI: minutes_value");
            p.u(5, "SEI: hours_value");
        } else if (p.flag("SEI: seconds_flag")) {
            p.u(6, "SEI: seconds_value");
            if (p.flag("SEI: minutes_flag")) {
                p.u(6, "SEI: minutes_value");
                if (p.flag("SEI: hours_flag"))
                    p.u(5, "SEI: hours_value");
            }
        }
    }
    return true;
}

bool h264dec_sei_pan_scan(H264DecoderState &dec, const uint8_t *payload, int size)
{
    Payload p(dec, payload, size);
    p.ue("SEI: pan_scan_rect_id");
    p.se("SEI: pan_scan_rect_left_offset");
    p.se("SEI: pan_scan_rect_right_offset");
    p.se("SEI: pan_scan_rect_top_offset");
    p.se("SEI: pan_scan_rect_bottom_offset");
    return true;
}

bool h264dec_sei_filler(H264DecoderState &, const uint8_t *, int)
{
    return true;
}

bool h264dec_sei_user_registered(H264DecoderState &, const uint8_t *payload, int size)
{
    if (size > 0) {
        const int country_code = payload[0];
        (void)country_code;
    }
    return true;
}

bool h264dec_sei_recovery_point(H264DecoderState &dec, const uint8_t *payload, int size)
{
    Payload p(dec, payload, size);
    p.ue("SEI: recovery_frame_cnt");
    p.flag("SEI: exact_match_flag");
    p.flag("SEI: broken_link_flag");
    p.u(2, "SEI: changing_slice_group_idc");
    return true;
}

bool h264dec_sei_marking_repetition(H264DecoderState &dec, const uint8_t *payload, int size)
{
    Payload p(dec, payload, size);
    DecoderImage &img = dec.img;
    // The repeated marking is read with the slice header's reader and dropped: the picture state it
    // would overwrite is put back afterwards.
    const int idr_flag = img.idr_flag;
    const int no_output = img.no_output_of_prior_pics_flag;
    const int long_term = img.long_term_reference_flag;
    const int adaptive = img.adaptive_ref_pic_buffering_flag;
    std::vector<DecRefPicMarking> saved;
    saved.swap(img.mmco_list);

    img.idr_flag = p.flag("SEI: original_idr_flag");
    p.ue("SEI: original_frame_num");
    struct Restore
    {
        DecoderImage &img;
        int idr_flag, no_output, long_term, adaptive;
        std::vector<DecRefPicMarking> &saved;
        ~Restore()
        {
            img.mmco_list.swap(saved);
            img.idr_flag = idr_flag;
            img.no_output_of_prior_pics_flag = no_output;
            img.long_term_reference_flag = long_term;
            img.adaptive_ref_pic_buffering_flag = adaptive;
        }
    } restore{img, idr_flag, no_output, long_term, adaptive, saved};
    h264dec_read_ref_marking(dec, &p.bs);
    return true;
}

bool h264dec_sei_spare_pic(H264DecoderState &dec, const uint8_t *payload, int size)
{
    Payload p(dec, payload, size);
    p.ue("SEI: target_frame_num");
    const int num_spare_pics_minus1 = p.ue("SEI: num_spare_pics_minus1");
    if (num_spare_pics_minus1 >= kMaxSparePics) {
        zn::LogF(zn::LogLevel::Info, "Wrong num_spare_pics_minus1 %d!\n", num_spare_pics_minus1);
        return false;
    }
    const int mbCols = dec.img.width / 16, mbRows = dec.img.height / 16;
    Array3D<uint8_t> map;
    dec_get_mem3D(map, num_spare_pics_minus1 + 1, mbRows, mbCols);
    for (int i = 0; i <= num_spare_pics_minus1; ++i) {
        p.ue("SEI: delta_spare_frame_num");
        const int ref_area_indicator = p.ue("SEI: ref_area_indicator");
        switch (ref_area_indicator) {
        case 0:
            break;
        case 1:
            for (int y = 0; y < mbRows && !p.Exhausted(); ++y)
                for (int x = 0; x < mbCols && !p.Exhausted(); ++x)
                    map[i][y][x] = static_cast<uint8_t>(p.flag("SEI: ref_mb_indicator"));
            break;
        case 2: {
            // Runs of zeros, each ended by a one, over the macroblocks in box-out order from the centre.
            int left = -1;
            for (int k : BoxOutOrder(mbCols, mbRows, 0)) {
                if (p.Exhausted())
                    break;
                if (left < 0)
                    left = p.ue("SEI: zero_run_length");
                if (left > 0) {
                    map[i][k / mbCols][k % mbCols] = 0;
                    --left;
                } else {
                    map[i][k / mbCols][k % mbCols] = 1;
                    left = -1;
                }
            }
            break;
        }
        default:
            // No area can be read for a spare picture of this kind: the stream is not one this decoder
            // can follow, and the run ends here.
            h264_fatal_error(zn::Format("Wrong ref_area_indicator %d!\n", ref_area_indicator), 0);
        }
    }
    return true;
}

bool h264dec_sei_scene_info(H264DecoderState &dec, const uint8_t *payload, int size)
{
    Payload p(dec, payload, size);
    p.ue("SEI: scene_id");
    if (p.ue("SEI: scene_transition_type") > 3)
        p.ue("SEI: scene_transition_type");
    return true;
}

bool h264dec_sei_sub_seq_info(H264DecoderState &dec, const uint8_t *payload, int size)
{
    Payload p(dec, payload, size);
    p.ue("SEI: sub_seq_layer_num");
    p.ue("SEI: sub_seq_id");
    p.flag("SEI: first_ref_pic_flag");
    p.flag("SEI: leading_non_ref_pic_flag");
    p.flag("SEI: last_pic_flag");
    if (p.flag("SEI: sub_seq_frame_num_flag"))
        p.ue("SEI: sub_seq_frame_num");
    return true;
}

bool h264dec_sei_sub_seq_layer(H264DecoderState &dec, const uint8_t *payload, int size)
{
    Payload p(dec, payload, size);
    const int layers = p.ue("SEI: num_sub_layers_minus1");
    for (int i = 0; i <= layers && !p.Exhausted(); ++i)
        ReadStatistics(p);
    return true;
}

bool h264dec_sei_sub_seq_char(H264DecoderState &dec, const uint8_t *payload, int size)
{
    Payload p(dec, payload, size);
    p.ue("SEI: sub_seq_layer_num");
    p.ue("SEI: sub_seq_id");
    if (p.flag("SEI: duration_flag"))
        p.u(32, "SEI: duration_flag");
    if (p.flag("SEI: average_rate_flag"))
        ReadStatistics(p);
    const int referenced = p.ue("SEI: num_referenced_subseqs");
    for (int i = 0; i < referenced && !p.Exhausted(); ++i) {
        p.ue("SEI: ref_sub_seq_layer_num");
        p.ue("SEI: ref_sub_seq_id");
        p.flag("SEI: ref_sub_seq_direction");
    }
    return true;
}

bool h264dec_sei_snapshot(H264DecoderState &dec, const uint8_t *payload, int size)
{
    Payload p(dec, payload, size);
    p.ue("SEI: snapshot_id");
    return true;
}

bool h264dec_sei_refinement(H264DecoderState &dec, const uint8_t *payload, int size)
{
    Payload p(dec, payload, size);
    p.ue("SEI: progressive_refinement_id");
    return true;
}

bool h264dec_sei_mcts(H264DecoderState &dec, const uint8_t *payload, int size)
{
    Payload p(dec, payload, size);
    const int groups = p.ue("SEI: num_slice_groups_minus1");
    for (int i = 0; i <= groups && !p.Exhausted(); ++i)
        p.ue("SEI: slice_group_id");
    p.flag("SEI: exact_match_flag");
    if (p.flag("SEI: pan_scan_rect_flag"))
        p.ue("SEI: pan_scan_rect_id");
    return true;
}
