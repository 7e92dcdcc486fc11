// Test-side writer of draft-syntax H.264 streams: a bit writer with the Exp-Golomb codes, emulation
// prevention and NAL packing, and writers of the SPS, PPS, SEI and slice headers the decoder reads.
// It is written from the syntax tables, independently of the decoder's readers, so that streams made
// here test them; tests for the macroblock layer extend it with slice data.
#pragma once

#include "h264dec/h264_shared.h"

#include <cstdint>
#include <random>
#include <vector>

namespace h264test {

// Bits most significant first; the last byte is padded with zero bits.
class BitWriter
{
public:
    void u(int bits, uint32_t value);
    void flag(int value) { u(1, value ? 1u : 0u); }
    void ue(uint32_t value); // code numbers up to 2^31 - 2
    void se(int32_t value);
    // The stop bit and zero bits up to the byte boundary.
    void trailing();
    int BitCount() const { return m_bits; }
    bool ByteAligned() const { return m_bits % 8 == 0; }
    const std::vector<uint8_t> &Bytes() const { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
    int m_bits = 0;
};

// 0x03 after two zero bytes whenever the next byte is 0..3.
std::vector<uint8_t> EscapeRbsp(const std::vector<uint8_t> &rbsp);
// Start code (3 or 4 bytes), header byte, escaped payload.
std::vector<uint8_t> NalUnit(int nal_ref_idc, int nal_unit_type, const std::vector<uint8_t> &rbsp,
                             int start_code_length = 4);

// Parameter sets from the decoder's records (the fields the syntax carries).
void WriteSps(BitWriter &w, const SPS &sps);
void WritePps(BitWriter &w, const PPS &pps);
std::vector<uint8_t> SpsRbsp(const SPS &sps);
std::vector<uint8_t> PpsRbsp(const PPS &pps);

// A small valid pair: QCIF unless told otherwise, one reference frame, CAVLC, POC type 0.
SPS DefaultSps(int width_mbs = 11, int height_mbs = 9);
PPS DefaultPps();

// SEI: each message's type and size coded as 0xFF runs, then the trailing bits.
struct SeiMessage
{
    int type = 0;
    std::vector<uint8_t> payload;
};
std::vector<uint8_t> SeiRbsp(const std::vector<SeiMessage> &messages);
// A payload from a bit writer (padded to whole bytes, no trailing bits).
inline std::vector<uint8_t> Payload(const BitWriter &w)
{
    return w.Bytes();
}

struct ReorderCommand
{
    int idc = 3;   // remapping_of_pic_nums_idc
    int value = 0; // abs_diff_pic_num_minus1 (idc 0, 1) or long_term_pic_idx (idc 2)
};

struct WeightEntry
{
    int luma_flag = 0, luma_weight = 0, luma_offset = 0;
    int chroma_flag = 0, chroma_weight[2] = {}, chroma_offset[2] = {};
};

struct MmcoCommand
{
    int operation = 0;
    int difference_of_pic_nums_minus1 = 0;
    int long_term_pic_idx = 0;
    int max_long_term_pic_idx_plus1 = 0;
};

struct SliceHeaderFields
{
    int first_mb_in_slice = 0;
    int slice_type = 7; // 0/5 P, 1/6 B, 2/7 I, 3/8 SP
    int pic_parameter_set_id = 0;
    int frame_num = 0;
    int field_pic_flag = 0, bottom_field_flag = 0;
    int idr_pic_id = 0;
    int pic_order_cnt_lsb = 0;
    int delta_pic_order_cnt_bottom = 0;
    int delta_pic_order_cnt[2] = {};
    int redundant_pic_cnt = 0;
    int direct_spatial_mv_pred_flag = 0;
    int num_ref_idx_override_flag = 0;
    int num_ref_pic_active_fwd_minus1 = 0, num_ref_pic_active_bwd_minus1 = 0;
    int reordering_flag[2] = {};
    std::vector<ReorderCommand> reordering[2]; // the closing command 3 included
    int luma_log_weight_denom = 0, chroma_log_weight_denom = 0;
    std::vector<WeightEntry> weights[2];
    int no_output_of_prior_pics_flag = 0, long_term_reference_flag = 0;
    int adaptive_ref_pic_buffering_flag = 0;
    std::vector<MmcoCommand> mmco; // the closing operation 0 included
    int cabac_init_idc = 0;
    int slice_qp_delta = 0;
    int sp_for_switch_flag = 0, slice_qs_delta = 0;
    int disable_deblocking_filter_idc = 0, slice_alpha_c0_offset_div2 = 0, slice_beta_offset_div2 = 0;
};

// slice_type classes.
inline bool IsP(int slice_type)
{
    return slice_type % 5 == 0;
}
inline bool IsB(int slice_type)
{
    return slice_type % 5 == 1;
}
inline bool IsI(int slice_type)
{
    return slice_type % 5 == 2;
}
inline bool IsSP(int slice_type)
{
    return slice_type % 5 == 3;
}

void WriteSliceHeader(BitWriter &w, const SliceHeaderFields &h, const SPS &sps, const PPS &pps, bool idr);
// Header, then the trailing bits (a slice without macroblock data).
std::vector<uint8_t> SliceRbsp(const SliceHeaderFields &h, const SPS &sps, const PPS &pps, bool idr);
// The slice as a NAL unit: type 5 for IDR, else 1.
std::vector<uint8_t> SliceNal(const SliceHeaderFields &h, const SPS &sps, const PPS &pps, bool idr,
                              int nal_ref_idc = 1);

// Random fields within what the decoder accepts.
SPS RandomSps(std::mt19937 &rng);
PPS RandomPps(std::mt19937 &rng, int sps_id);
SliceHeaderFields RandomSliceHeader(std::mt19937 &rng, const SPS &sps, const PPS &pps, bool idr);

// A stream is the NAL units one after the other.
inline void Append(std::vector<uint8_t> &stream, const std::vector<uint8_t> &unit)
{
    stream.insert(stream.end(), unit.begin(), unit.end());
}

} // namespace h264test
