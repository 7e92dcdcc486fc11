// The decoder's records: its fixed parameters, the state of the picture being decoded, the current
// slice with its data partitions, and one record per macroblock, with the codes they carry (picture
// types, structures, macroblock and quadrant modes, syntax-element kinds and their partitions).
#pragma once

#include "h264dec/bitstream.h"
#include "h264dec/cabac_engine.h"
#include "h264dec/dec_memory.h"
#include "h264dec/h264_shared.h"

#include <array>
#include <memory>
#include <string>
#include <vector>

struct H264DecoderState;
struct DataPartition;

// ---------------------------------------------------------------------------------------------
// Codes

// Picture type (`type`): the kind of the current slice and hence picture. P, B and SP take the
// higher of their two codes when the SPS allows more than one reference frame.
enum PictureTypeCode {
    kPictureP = 10,
    kPicturePMulti = 11,
    kPictureI = 12,
    kPictureB = 13,
    kPictureBMulti = 14,
    kPictureSP = 15,
    kPictureSPMulti = 16,
    kPictureSI = 17,
};
inline bool IsPPicture(int type)
{
    return type == kPictureP || type == kPicturePMulti;
}
inline bool IsBPicture(int type)
{
    return type == kPictureB || type == kPictureBMulti;
}
inline bool IsSPPicture(int type)
{
    return type == kPictureSP || type == kPictureSPMulti;
}

// Picture structure (`structure`).
enum PictureStructure { kFrame = 0, kTopField = 1, kBottomField = 2 };

// Macroblock modes (`mb_type` after interpretation).
enum MacroblockMode {
    kMbSkipOrDirect = 0,
    kMb16x16 = 1,
    kMb16x8 = 2,
    kMb8x16 = 3,
    kMb8x8 = 8,
    kMbIntra4x4 = 9,
    kMbIntra16x16 = 10,
    kMbSI = 12,
};
// Quadrant modes (`sub_mode`): 0 direct, 1..3 the quadrant of a mode 1..3 macroblock, then these.
enum QuadrantMode { kSubDirect = 0, kSub8x8 = 4, kSub8x4 = 5, kSub4x8 = 6, kSub4x4 = 7, kSubIntra = 11 };
// Block steps of each mode 0..7 in 4x4-block units (horizontal, vertical).
extern const int kBlockStep[8][2];

// Syntax-element kinds: the index of the element-to-partition table and of the loss flags.
enum SyntaxElementKind {
    SE_HEADER = 0,
    SE_PTYPE,
    SE_MBTYPE,
    SE_REFFRAME,
    SE_INTRAPREDMODE,
    SE_MVD,
    SE_CBP_INTRA,
    SE_LUM_DC_INTRA,
    SE_CHR_DC_INTRA,
    SE_LUM_AC_INTRA,
    SE_CHR_AC_INTRA,
    SE_CBP_INTER,
    SE_LUM_DC_INTER,
    SE_CHR_DC_INTER,
    SE_LUM_AC_INTER,
    SE_CHR_AC_INTER,
    SE_DELTA_QUANT_INTER,
    SE_DELTA_QUANT_INTRA,
    SE_BFRAME,
    SE_EOS,
    SE_MAX_ELEMENTS
};
// Partition of each element kind by partition mode: mode 0 one partition, mode 1 the intra residual
// in partition 1 and the inter residual in partition 2.
extern const int assignSE2partition[2][SE_MAX_ELEMENTS];

// ---------------------------------------------------------------------------------------------
// Records

// The decoder's fixed parameters of a run.
struct DecoderParams
{
    std::string infile;  // the stream
    std::string outfile; // decoded YUV, empty for none
    std::string reffile; // never set
    int FileFormat = 0;  // 0 Annex B; 1 RTP packets (never selected)
    int ref_frames = 5;  // sizes the reference stores whatever the stream says
    int Rate_decoder = 500000;
    int B_decoder = 104000;
    int F_decoder = 73000;
    std::string LeakyBucketParamFile;
    bool output_given = false;
};

using ReadElementFn = int (*)(SyntaxSymbol *sym, H264DecoderState &dec, DataPartition *dp);

// One data partition of the current slice.
struct DataPartition
{
    std::unique_ptr<Bitstream> bitstream;
    CabacDecoder cabac;
    ReadElementFn read_element = nullptr;
};

// One memory-management operation of a slice header's reference marking.
struct DecRefPicMarking
{
    int operation = 0;
    int difference_of_pic_nums = 0; // difference_of_pic_nums_minus1 + 1
    int long_term_pic_idx = 0;
    int max_long_term_pic_idx_plus1 = 0;
};

struct DecoderSlice
{
    int lost_flag = 0;
    int picture_id = 0;
    int qp = 0;
    int picture_type = 0; // slice_type as read, then the picture-type code
    int structure = 0;
    int start_mb_nr = 0;
    int max_part_nr = 3;
    int dp_mode = 0;
    int next_header = 0; // 1 end of stream, 2 new picture, 3 another slice of this picture
    std::vector<DataPartition> partitions;
    std::unique_ptr<MotionInfo, void (*)(MotionInfo *)> motion_contexts{nullptr, release_cabac_contexts};
    std::unique_ptr<TextureInfo, void (*)(TextureInfo *)> texture_contexts{nullptr, release_cabac_contexts};

    // Reference list reordering commands, read and never applied.
    int ref_pic_list_reordering_flag_l0 = 0;
    std::vector<int> remapping_of_pic_nums_idc_l0;
    std::vector<int> abs_diff_pic_num_minus1_l0;
    std::vector<int> long_term_pic_idx_l0;
    int ref_pic_list_reordering_flag_l1 = 0;
    std::vector<int> remapping_of_pic_nums_idc_l1;
    std::vector<int> abs_diff_pic_num_minus1_l1;
    std::vector<int> long_term_pic_idx_l1;

    int disable_deblocking_filter_idc = 0;
    int slice_alpha_c0_offset = 0; // twice the value read
    int slice_beta_offset = 0;
    int pic_parameter_set_id = 0;
};

struct DecoderMacroblock
{
    int qp = 0;
    int slice_number = 0;
    int qp_delta = 0;
    DecoderMacroblock *neighbours[3][3] = {}; // [row][column] around the macroblock, itself at [1][1]
    DecoderMacroblock *cabac_up = nullptr;
    DecoderMacroblock *cabac_left = nullptr;
    int mb_type = 0;
    int mvd[2][4][4][2] = {}; // [direction][block row][block column][component]
    int coded_block_pattern = 0;
    int cbp_blocks = 0;
    int cbp_bits = 0;
    int i16_pred_mode = 0;
    int sub_mode[4] = {};
    int sub_pred_dir[4] = {};
    int lost_flag = 0;
    int filter_disable_idc = 0;
    int filter_alpha_offset = 0;
    int filter_beta_offset = 0;
    int chroma_pred_mode = 0;
    int mb_field = 0;
};

// The levels of the CABAC residual block being handed out pair by pair, in scan order.
struct CabacCoefficientBuffer
{
    int level[64] = {};
    int pos = 0;        // next scan position to look at
    int remaining = -1; // coefficients not yet handed out; -1 when no block is open
};

constexpr int kMaxRefIdx = 15; // active references per list
constexpr int kMaxPocOffsets = kMaxPocCycle;

// The picture being decoded. The array members point at arrays that picture control owns and switches
// between frame and field (null until it creates them).
struct DecoderImage
{
    int number = 0;
    int buffer_slot = 0;
    int current_mb_nr = 0;
    int mb_index = 0;
    int mb_limit = 0;
    int current_slice_nr = 0;
    std::vector<std::array<int, 4>> *intra_block = nullptr;
    int tr = 0;
    int qp = 0;
    int qpsp = 0;
    int sp_switch = 0;
    int direct_spatial_mv_pred_flag = 0;
    int type = kPictureI;
    int width = 0, height = 0;
    int width_cr = 0, height_cr = 0;
    int mb_y = 0, mb_x = 0;
    int block_y = 0, pix_y = 0, pix_x = 0, pix_c_y = 0, block_x = 0, pix_c_x = 0;
    int all_ref_zero = 0;
    Array3D<int> *mv = nullptr; // [block columns + 4][block rows][3]
    int pred_block[16][16] = {};
    int resid_block[16][16] = {};
    int work_block[16][16] = {};
    int coef[4][6][4][4] = {};
    int chroma_dc[4] = {};
    Array2D<int> *intra_modes = nullptr; // [block columns + 1][block rows + 1]
    int constrained_intra_pred_flag = 0;
    Array4D<int> *nzcoeff = nullptr; // [mb columns][mb rows][4][6]
    Array2D<int> *si_block = nullptr;
    int skip_run = -1;
    Array3D<int> *direct_fwd_mv = nullptr;
    Array3D<int> *direct_bwd_mv = nullptr;
    Array2D<int> *fwd_ref = nullptr;
    Array2D<int> *bwd_ref = nullptr;
    int structure = kFrame;
    int ref_structure = kFrame;
    int ref_poc = 0, ref_poc_prev = 0;
    int frame_poc_half = 0, field_poc = 0;
    Array3D<int> *fwd_mv = nullptr;
    Array3D<int> *bwd_mv = nullptr;
    DecoderSlice *current_slice = nullptr;
    std::vector<DecoderMacroblock> *mb_data = nullptr;
    int subblock_x = 0, subblock_y = 0;
    int cbf_intra_flag = 0, cbf_v_flag = 0;
    int ref_buffer_cycle = 0;
    int MbaffFrameFlag = 0;
    int mb_field_flag = 0;
    std::vector<DecRefPicMarking> mmco_list;
    int non_reference = 0;
    int num_ref_idx_active_fwd = 0, num_ref_idx_active_bwd = 0;

    // Slice groups: read only by the map code; nothing sets them, so the map has one group.
    int slice_group_count = 0;
    int slice_group_map_type = 0;
    int slice_group_top_left = 0, slice_group_bottom_right = 0;
    int slice_group_change_direction = 0;
    int slice_group_change_rate = 0; // minus one
    int slice_group_change_cycle = 0;

    int redundant_pic_cnt = 0;
    int TopFieldOrderCnt = 0, BottomFieldOrderCnt = 0, frame_poc = 0;
    int frame_num = 0, field_pic_flag = 0, bottom_field_flag = 0;

    // Picture order count: copies from the SPS, values from the slice header, and the state kept
    // from picture to picture.
    int pic_order_cnt_type = 0;
    int delta_pic_order_always_zero_flag = 0;
    int offset_for_non_ref_pic = 0;
    int offset_for_top_to_bottom_field = 0;
    int num_ref_frames_in_pic_order_cnt_cycle = 0;
    std::array<int, kMaxPocOffsets> offset_for_ref_frame{};
    int pic_order_cnt_lsb = 0;
    int delta_pic_order_cnt_bottom = 0;
    int delta_pic_order_cnt[2] = {};
    int PicOrderCntMsb = 0;
    int PrevPicOrderCntMsb = 0;
    int PrevPicOrderCntLsb = 0;
    int AbsFrameNum = 0;
    int ExpectedPicOrderCnt = 0;
    int PicOrderCntCycleCnt = 0;
    int FrameNumInPicOrderCntCycle = 0;
    int PreviousFrameNum = 0;
    int FrameNumOffset = 0;
    int ExpectedDeltaPerPicOrderCntCycle = 0;
    int PreviousFieldPicFlag = 0;
    int PreviousBottomFieldFlag = 0;
    int PreviousIdrFlag = 0;
    int PreviousDeltaPicOrderCnt[2] = {};
    int idr_bottom_field_flag = 0; // bottom_field_flag of the last IDR picture (type 1)
    int this_poc = 0;
    int PreviousPOC = 0; // this_poc of the previous picture (type 1)

    int weighted_pred_flag = 0;
    int weighted_bipred_idc = 0;
    int luma_log_weight_denom = 0, chroma_log_weight_denom = 0;
    int wp_weight[2][kMaxRefIdx][3] = {}; // [list][reference][Y, U, V]
    int wp_offset[2][kMaxRefIdx][3] = {};
    int wbp_weight[2][kMaxRefIdx][kMaxRefIdx][3] = {}; // bi-predictive weights (B pictures)
    int wp_round_luma = 0, wp_round_chroma = 0;
    int apply_weights = 0;
    int pic_order_present_flag = 0;
    int idr_flag = 0;
    int idr_pic_id = 0;
    int MaxFrameNum = 0;
    int no_output_of_prior_pics_flag = 0;
    int long_term_reference_flag = 0;
    int adaptive_ref_pic_buffering_flag = 0;
    int model_number = 0;
    int quad[256] = {}; // i * i: the squared sample differences of the quality measure

    // Arrays of the macroblock layer (owned by the decoder's MacroblockArrays).
    Array2D<int> *ref_idx_arr = nullptr;  // P reference index per 4x4 block, [block row][block column]
    Array2D<int> *moving_block = nullptr; // co-located block moves (temporal and spatial direct)
    Array2D<int> *field_mb = nullptr;     // field decoding flag per macroblock, [mb row][mb column]
    // 1 while a field macroblock of an MBAFF frame is read: the arrays above are its field's copies,
    // mb_y and block_y count field rows.
    int mbaff_field_view = 0;
};
