// What the H.264 encoder shares with the decoder, in one place: the fatal-error exit of both engines,
// the NAL unit and parameter-set records with their release routines, the macroblock-to-slice-group
// map query and the CAVLC code tables. Both engines speak the draft syntax of this program's own
// encoder, so these records keep that syntax's field order.
#pragma once

#include "platform/errors.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------------------------
// Fatal errors

// The error an H.264 engine ends its run with. The message box has been shown by the time it is
// thrown (so the run boundary shows nothing more); ExitCode() keeps the code the engines have
// always reported for the condition.
class H264FatalError : public zn::RunAborted
{
public:
    H264FatalError(const std::string &text, int exitCode)
        : zn::RunAborted(text, zn::kMessageShown), m_exitCode(exitCode)
    {}
    int ExitCode() const { return m_exitCode; }

private:
    int m_exitCode;
};

// Writes the text to the error log, shows it in a message box with an OK button and ends the
// current run with the code. Never returns.
[[noreturn]] void h264_fatal_error(const std::string &text, int code);

// Exit code of the conditions that the engines used to leave silently (a code word missing from a
// CAVLC table, an invalid level code, the slice-group map) and of every limit the readers enforce.
constexpr int kH264StreamErrorCode = -1;

// ---------------------------------------------------------------------------------------------
// NAL units

enum NaluType {
    NALU_TYPE_SLICE = 1,
    NALU_TYPE_DPA = 2,
    NALU_TYPE_DPB = 3,
    NALU_TYPE_DPC = 4,
    NALU_TYPE_IDR = 5,
    NALU_TYPE_SEI = 6,
    NALU_TYPE_SPS = 7,
    NALU_TYPE_PPS = 8,
    NALU_TYPE_PD = 9,
    NALU_TYPE_FILL = 10,
};

// One NAL unit: its header byte first in buf, then the payload.
struct NALU
{
    int prefix_length = 0; // start code in front of the unit: 3 or 4 bytes
    int len = 0;           // bytes in buf, header byte included
    int capacity = 0;      // usable size of buf
    int nal_unit_type = 0;
    int nal_ref_idc = 0;
    int forbidden_bit = 0;
    std::vector<uint8_t> buf;
};

// Frees the unit; a null pointer is ignored.
void ReleaseNALU(NALU *n);

struct NaluRelease
{
    void operator()(NALU *n) const { ReleaseNALU(n); }
};
using NaluPtr = std::unique_ptr<NALU, NaluRelease>;

// ---------------------------------------------------------------------------------------------
// Parameter sets, in the draft's field order

constexpr int kMaxSps = 32;
constexpr int kMaxPps = 128;
constexpr int kMaxSliceGroupIds = 60000;
constexpr int kMaxPocCycle = 256;
constexpr int kMaxSliceGroups = 8;

struct SPS
{
    int Valid = 0;
    int profile_idc = 0;
    int level_idc = 0;
    int more_than_one_slice_group_allowed_flag = 0;
    int arbitrary_slice_order_allowed_flag = 0;
    int redundant_slices_allowed_flag = 0;
    int seq_parameter_set_id = 0;
    int log2_max_frame_num_minus4 = 0;
    int pic_order_cnt_type = 0;
    int log2_max_pic_order_cnt_lsb_minus4 = 0;
    int delta_pic_order_always_zero_flag = 0;
    int offset_for_non_ref_pic = 0;
    int offset_for_top_to_bottom_field = 0;
    int num_ref_frames_in_pic_order_cnt_cycle = 0;
    std::array<int, kMaxPocCycle> offset_for_ref_frame{};
    int num_ref_frames = 0;
    int required_frame_num_update_behaviour_flag = 0;
    int frame_width_in_mbs_minus1 = 0;
    int frame_height_in_mbs_minus1 = 0;
    int frame_mbs_only_flag = 0;
    int mb_adaptive_frame_field_flag = 0;
    int direct_8x8_inference_flag = 0;
    int vui_parameters_present_flag = 0; // the VUI itself is never read nor written
};

struct PPS
{
    int Valid = 0;
    int pic_parameter_set_id = 0;
    int seq_parameter_set_id = 0;
    int entropy_coding_mode = 0; // 0 CAVLC, 1 CABAC
    int pic_order_present_flag = 0;
    int num_slice_groups_minus1 = 0;
    int mb_slice_group_map_type = 0;
    std::array<int, kMaxSliceGroups> run_length{};
    std::array<int, kMaxSliceGroups> top_left_mb{};
    std::array<int, kMaxSliceGroups> bottom_right_mb{};
    int slice_group_change_direction_flag = 0;
    int slice_group_change_rate_minus1 = 0;
    int slice_group_id_cnt_minus1 = 0;
    std::vector<int> slice_group_id;
    int num_ref_idx_l0_active_minus1 = 0;
    int num_ref_idx_l1_active_minus1 = 0;
    int weighted_pred_flag = 0;
    int weighted_bipred_idc = 0;
    int pic_init_qp_minus26 = 0;
    int pic_init_qs_minus26 = 0;
    int chroma_qp_index_offset = 0;
    int deblocking_filter_parameters_present_flag = 0;
    int constrained_intra_pred_flag = 0;
    // The bit after constrained_intra_pred_flag. The encoder calls it redundant_pic_cnt_present_flag and
    // always writes 0; the slice header reads redundant_pic_cnt only when it is set.
    int vui_pic_parameters_flag = 0;
    int frame_cropping_flag = 0;
    int frame_cropping_rect_left_offset = 0;
    int frame_cropping_rect_right_offset = 0;
    int frame_cropping_rect_top_offset = 0;
    int frame_cropping_rect_bottom_offset = 0;
};

// Frees the record with its slice_group_id array; a null pointer is ignored.
void ReleasePPS(PPS *pps);

struct PpsRelease
{
    void operator()(PPS *p) const { ReleasePPS(p); }
};
using PpsPtr = std::unique_ptr<PPS, PpsRelease>;

// Bits of each slice_group_id of an explicit (type 6) map: enough for the largest group number.
inline int SliceGroupIdBits(int num_slice_groups_minus1)
{
    return num_slice_groups_minus1 >= 4 ? 3 : num_slice_groups_minus1 >= 2 ? 2 : 1;
}

// ---------------------------------------------------------------------------------------------
// Macroblock-to-slice-group map

struct SliceGroupMap
{
    std::vector<int> MBAmap; // slice group of each map unit
    int width_mbs = 0;       // picture width in macroblocks
    int height_units = 0;    // map height in units (macroblock rows of a frame or of a field)
    int units = 0;
    int last_group = 0; // highest group number, used by the next-macroblock queries
};

// Slice group of unit n; 0 for a unit outside the map.
int slice_group_of_mb(const SliceGroupMap &map, int n);

// ---------------------------------------------------------------------------------------------
// CAVLC code tables (lengths in bits and code values; a length of 0 marks an impossible entry)

// coeff_token by table class (0 <= nC < 2, 2 <= nC < 4, 4 <= nC < 8), [TrailingOnes][TotalCoeff].
extern const uint8_t kCoeffTokenLength[3][4][17];
extern const uint8_t kCoeffTokenCode[3][4][17];
// coeff_token of chroma DC blocks, [TrailingOnes][TotalCoeff].
extern const uint8_t kCoeffTokenChromaDcLength[4][5];
extern const uint8_t kCoeffTokenChromaDcCode[4][5];
// total_zeros of 4x4 blocks, [TotalCoeff - 1][total_zeros].
extern const uint8_t kTotalZerosLength[15][16];
extern const uint8_t kTotalZerosCode[15][16];
// total_zeros of chroma DC blocks, [TotalCoeff - 1][total_zeros].
extern const uint8_t kTotalZerosChromaDcLength[3][4];
extern const uint8_t kTotalZerosChromaDcCode[3][4];
// run_before, [min(zerosLeft, 7) - 1][run_before].
extern const uint8_t kRunBeforeLength[7][16];
extern const uint8_t kRunBeforeCode[7][16];
// coded_block_pattern by code number: [codeNum][0 intra 4x4, 1 inter].
extern const uint8_t kCodedBlockPattern[48][2];
