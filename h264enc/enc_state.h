// The encoder's state of one run: the picture and coding state `img`, the bit statistics, the quality
// values and the picture record, with the slice and macroblock records they hold. A run object makes
// them afresh (enc_run.h), so nothing leaks from one run into the next.
#pragma once

#include "h264enc/bit_writer.h"
#include "h264enc/cabac_contexts.h"
#include "h264enc/enc_memory.h"

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

namespace h264enc {

// Picture types of `img.type`; an SP picture is a P picture with sp_mode 3.
enum EncPictureType { kTypeI = 0, kTypeP = 1, kTypeB = 2, kTypeSP = 3, kTypeStoredB = 4 };
constexpr int kSpMode = 3;

// Macroblock modes (mb_mode).
enum EncMbMode {
    kModeSkip = 0,
    kMode16x16 = 1,
    kMode16x8 = 2,
    kMode8x16 = 3,
    kMode8x8 = 8,
    kModeI4 = 9,
    kModeI16 = 10,
    kModeIntraQuarter = 11, // sub-mode of the quarters of an intra 4x4 macroblock
    kModeSI4 = 12
};
// Sub-modes of an 8x8 quarter (quarter_mode of mode 8): 0 direct (B pictures), then these.
enum EncSubMode { kSubDirect = 0, kSub8x8 = 4, kSub8x4 = 5, kSub4x8 = 6, kSub4x4 = 7 };

// One macroblock: what the mode decision chose and the writer sends, and what later macroblocks, the
// CABAC contexts and the loop filter read of it.
struct MacroblockRecord
{
    int slice_index = 0;
    int qp = 0; // quantiser of the macroblock (after its change)
    int mb_mode = 0;
    // Bits 0..3 the luma 8x8 quarters, bits 4..5 chroma (16 DC only, 32 AC).
    int coded_pattern = 0;
    // One bit per 4x4 block with coefficients: luma 0..15 in raster order, chroma 16..23 (the loop filter).
    int coded_block_bits = 0;
    // The CABAC coded-block flags: bit 0 luma DC, 1 + x + 4y luma block, 17 and 18 chroma DC,
    // 19 + x + 2y U AC, 23 + x + 2y V AC.
    int cbf_bits = 0;
    std::array<int, 4> quarter_mode{};
    std::array<int, 4> quarter_dir{}; // -1 intra, 0 forward, 1 backward, 2 both
    int chroma_pred_mode = 0;
    int intra_chroma_flag = 0;
    std::array<int, 16> intra4_codes{}; // quarter order; -1 the predicted mode, else the remaining mode
    int qp_delta = 0;
    int i16_type = 0; // intra 16x16 type number: 1 + mode + 4 x chroma pattern + 12 x (luma pattern != 0)
    int field_pair_flag = 0;
    int lf_disable = 0, lf_alpha_c0_offset = 0, lf_beta_offset = 0;
    int element_count = 0;
    // 0 slice header, 1 total, 2 header and modes, 3 references and vectors, 4 coded block pattern,
    // 5 luma coefficients, 6 chroma coefficients, 7 quantiser change.
    std::array<int, 8> bit_counts{};
    // Vector differences as written, per list, 4x4 block row and column, component (CABAC contexts).
    int mv_diff[2][4][4][2] = {};
    // The prediction each written vector is coded against: per list, at the 4x4 block where a
    // partition or sub-block starts (row, column), component. Set by the mode decision.
    int mv_pred[2][4][4][2] = {};
    // Neighbours in the same slice, [row][column] around the macroblock (itself at [1][1]); null when
    // missing. The CABAC contexts use the upper [0][1] and left [1][0] ones.
    MacroblockRecord *neighbours[3][3] = {};
    // Field-flag neighbours of a macroblock-adaptive pair: the left pair and the pair above.
    MacroblockRecord *cabac_left = nullptr, *cabac_up = nullptr;

    const MacroblockRecord *Up() const { return neighbours[0][1]; }
    const MacroblockRecord *Left() const { return neighbours[1][0]; }
};
enum BitCountKind {
    kBitsSliceHeader = 0,
    kBitsTotal,
    kBitsHeader,
    kBitsVectors,
    kBitsCbp,
    kBitsLuma,
    kBitsChroma,
    kBitsDeltaQuant
};

// One reordering command of a slice header: kind 0 (subtract), 1 (add) or 2 (long-term number).
struct ReorderCommand
{
    int kind = 0;
    int value = 0;
};

// The slice being coded: the partitions its elements go to and the header values the coding tools read.
struct Slice
{
    int picture_id = 0; // picture counter modulo 256
    int qp = 0;
    int start_mb_nr = 0;
    int max_part_nr = 1;
    std::vector<SlicePartition> partArr;
    int ref_pic_list_reordering_flag_l0 = 0;
    int ref_pic_list_reordering_flag_l1 = 0;
    std::vector<ReorderCommand> reorder_l0, reorder_l1;
    int last_mb = -1; // the last macroblock coded into it
    // CABAC only: the two context sets.
    std::unique_ptr<MotionContextSet> motion;
    std::unique_ptr<TextureContextSet> texture;
    int mb_count = 0; // macroblocks coded into it
};

// One reference-marking command of a slice header (operation 0 ends the list).
struct MmcoCommand
{
    int operation = 0;
    int difference_of_pic_nums_minus1 = 0;
    int long_term_pic_idx = 0;
    int max_long_term_pic_idx_plus1 = 0;
};

// Per 4x4 block of the picture: reference indices and vectors (quarter samples) of the P list and of
// the two B lists. Blocks without a reference of a list hold -1 and a zero vector.
struct MotionMaps
{
    int cols = 0, rows = 0;
    std::vector<int> ref_map, fw_ref_map, bw_ref_map;
    std::vector<std::array<int, 2>> mv_map, fw_mv_map, bw_mv_map;
    void allocate(int block_cols, int block_rows);
    size_t At(int x, int y) const
    {
        return static_cast<size_t>(y) * static_cast<size_t>(cols) + static_cast<size_t>(x);
    }
};

constexpr int kMaxWeightRefs = 16;

// Coefficient levels and runs of the current macroblock, pairs in scan order ended by a level of 0.
// AC: blocks 0..3 the luma 8x8 quarters, 4 and 5 the U and V planes; then the 4x4 block, level or
// run, entry. DC: plane 0 the luma DC of 16x16 prediction, 1 and 2 the chroma DC of U and V.
struct CoefficientArrays
{
    int cofAC[6][4][2][65] = {};
    int cofDC[3][2][65] = {};
};
// The AC and the DC arrays made empty (every pair list ended at once); each returns its bytes.
int get_mem_ACcoeff(CoefficientArrays &c);
int get_mem_DCcoeff(CoefficientArrays &c);

// The levels of the CABAC coefficient block being gathered, by position from the block's first one.
struct CabacLevelBuffer
{
    int level[64] = {};
    int pos = 0;   // next position
    int count = 0; // non-zero levels
};

// Non-zero coefficient counts per macroblock: 4 columns x 6 rows of 4x4 blocks (rows 4 and 5 the chroma
// AC blocks, U in columns 0..1, V in 2..3); -1 before a block is coded.
class NonzeroCounts
{
public:
    void allocate(int mb_cols, int mb_rows)
    {
        m_cols = mb_cols;
        m_counts.assign(static_cast<size_t>(mb_cols) * static_cast<size_t>(mb_rows) * 24, -1);
    }
    void reset() { std::fill(m_counts.begin(), m_counts.end(), -1); }
    int &at(int mb_x, int mb_y, int i, int j)
    {
        return m_counts[(static_cast<size_t>(mb_y) * static_cast<size_t>(m_cols) +
                         static_cast<size_t>(mb_x)) *
                            24 +
                        static_cast<size_t>(j) * 4 + static_cast<size_t>(i)];
    }
    bool empty() const { return m_counts.empty(); }

private:
    std::vector<int> m_counts;
    int m_cols = 0;
};

// Picture and coding state.
struct EncoderImage
{
    int number = 0;         // I/P picture index in coding order
    int ref_frame_num = -1; // frame counter kept with each reference entry
    int refs_in_use = 0;
    int mb_count = 0;
    int slices_in_picture = 0;
    int type = kTypeI;
    int sp_mode = 0;
    int num_ref_frames = 0;
    int qp = 0, qpsp = 0;
    int framerate = 30;
    int width = 0, width_cr = 0, height = 0, height_cr = 0;
    int intra_line = 0, intra_line_prev = 0;
    Array2D<int> intra_pred_modes; // (height/4 + 3) rows x (width/4 + 3), border -1
    NonzeroCounts nzcoeff;
    CoefficientArrays cof;
    Slice *current_slice = nullptr;
    std::vector<MacroblockRecord> mb_data;
    std::array<int, 511> quad_table{}; // d x d for d = -255..255
    int quad(int d) const { return quad_table[static_cast<size_t>(d + 255)]; }
    std::vector<std::array<int, 4>> intra_block; // constrained intra prediction: intra flags per block
    int src_frame = 0, src_last_ip = 0, src_prev_ip = 0;
    int b_spacing = 0, ip_distance = 0, b_index = 0;
    int num_ref_minus1 = 0, stored_b_ref = 0;
    int field_picture = 0, field_pass = 0;
    int max_ref = 1;
    int enh_layer = 0;
    // Picture order count parameters of the parameter sets, set once per run.
    int poc_type = 0;
    int delta_pic_order_always_zero_flag = 0;
    int poc_b_offset = 0;      // offset_for_non_ref_pic
    int bottom_field_flag = 0; // offset_for_top_to_bottom_field
    int num_ref_frames_in_poc_cycle = 1;
    int poc_step = 2; // offset_for_ref_frame[0]
    int pic_order_present_flag = 0;
    // Per-picture order fields.
    int delta_poc = 0, toppoc = 0, bottompoc = 0, frame_in_gop = 0, idr_flag = 0, b_flag = 0;
    int delta_poc_bottom = 0;  // the second order field (delta_pic_order_cnt[1]): 0
    int bottom_field = 0;      // the field picture being coded is the bottom field
    int pic_order_cnt_lsb = 0; // as the slice header sent it
    // Current macroblock.
    int mb_index = 0, mb_x = 0, mb_y = 0;
    // Active references of the lists, as the parameter sets announce them.
    int num_ref_idx_l0_active_minus1 = 0, num_ref_idx_l1_active_minus1 = 0;

    // Slice and macroblock coding.
    int current_slice_nr = 0;
    int cabac_model = 0;       // cabac_init_idc of the slice
    int cabac_count_usage = 0; // set while a coded macroblock is written (context usage counts)
    int skip_run = 0;
    int subblock_x = 0, subblock_y = 0; // 4x4 block of the element being written (chroma AC: 0..1)
    int chroma_plane = 0;               // 0 U, 1 V
    int direct_spatial = 0;             // DirectModeType of B slices
    int mbaff = 0;                      // macroblock-adaptive frame/field coding of the picture
    int mb_field = 0; // the pair being decided is coded as fields (macroblock-adaptive frames)
    int tr = 0;       // temporal reference of the picture (display order)
    MotionMaps maps;
    // Macroblock-adaptive frames: each field's form of the motion maps (field block rows, vertical
    // components halved, indices doubled against the frame's), kept equal to `maps` after every
    // macroblock, and whether a field macroblock is being decided in its field's view (maps swapped in,
    // mb_y its pair row).
    MotionMaps field_maps[2];
    int mbaff_field_view = 0;
    CabacLevelBuffer cabac_levels;
    // Loop-filter values of the slices (offsets in table units, twice the header's values).
    int lf_disable = 0, lf_alpha_offset = 0, lf_beta_offset = 0;
    // Reference marking of the picture.
    int no_output_of_prior_pics_flag = 0, long_term_reference_flag = 0;
    std::vector<MmcoCommand> mmco;
    // Prediction weights: [list][reference][Y, U, V].
    int luma_log_weight_denom = 0, chroma_log_weight_denom = 0;
    int wp_weight[2][kMaxWeightRefs][3] = {};
    int wp_offset[2][kMaxWeightRefs][3] = {};
    // Weights of two-direction blocks of B pictures: [list][forward index][backward weight index][Y, U, V].
    int wbp_weight[2][kMaxWeightRefs][kMaxWeightRefs][3] = {};
    int apply_weights = 0; // the picture's predictions are weighted

    // Picture position of the current macroblock, in luma and in chroma samples.
    int luma_x() const { return 16 * mb_x; }
    int luma_y() const { return 16 * mb_y; }
    int chroma_pix_x() const { return 8 * mb_x; }
    int chroma_pix_y() const { return 8 * mb_y; }
    // The intra mode map entry of 4x4 block (bx, by) of the picture: the map's one-block border holds
    // the blocks outside it.
    int &ipred_map(int bx, int by) { return intra_pred_modes[by + 1][bx + 1]; }
    int ipred_map(int bx, int by) const { return intra_pred_modes[by + 1][bx + 1]; }

    MacroblockRecord &CurrentMb() { return mb_data[static_cast<size_t>(mb_index)]; }
    // Macroblock `index` when it lies in slice `slice`, else null (outside the picture, another slice).
    MacroblockRecord *InSlice(int index, int slice)
    {
        if (index < 0 || index >= static_cast<int>(mb_data.size()))
            return nullptr;
        MacroblockRecord &mb = mb_data[static_cast<size_t>(index)];
        return mb.slice_index == slice ? &mb : nullptr;
    }
    int WidthMbs() const { return width / 16; }
};

// The motion maps that hold the current macroblock's own indices and vectors, and its first block row
// there: a field macroblock of a macroblock-adaptive frame keeps them in its field's form at its pair's
// row, also when it is written outside its view.
struct OwnMotionView
{
    const MotionMaps *maps;
    int row;
};
inline OwnMotionView OwnMotion(const EncoderImage &img)
{
    const MacroblockRecord &mb = img.mb_data[static_cast<size_t>(img.mb_index)];
    if (img.mbaff && mb.field_pair_flag && !img.mbaff_field_view)
        return {&img.field_maps[img.mb_y % 2], 4 * (img.mb_y / 2)};
    return {&img.maps, 4 * img.mb_y};
}

// Bit statistics of a run (bits unless stated otherwise).
struct EncoderStats
{
    float bitrate = 0;
    int bit_counter = 0;
    int bits_first_picture = 0;
    int bits_at_last_picture = 0;
    int slice_header_bits = 0;
    std::array<std::array<int, 13>, 2> motion_bits{};
    std::array<int, 13> mode_use_intra{};
    std::array<std::array<int, 13>, 2> mode_use{};
    int bits_p = 0, bits_b = 0;
    // Indexed by picture type (0 I, 1 P, 2 B, 4 stored B).
    std::array<int, 5> stuffing_bits{}, mode_bits{}, header_bits{}, cbp_bits{}, luma_bits{}, chroma_bits{},
        delta_quant_bits{};
    int bits_frame_pass = 0, bits_field_pass = 0;
    int *pass_bits = &bits_frame_pass;
    std::array<int, 5> inter_bits{};    // reference indices and vector differences, by picture type
    int bit_slice = 0;                  // bits of the slice being coded
    int em_prev_bits = 0;               // emulation-prevention bytes, in bits
    int quant_sum = 0, quant_count = 0; // quantisers of P and SP macroblocks and their count
};

struct EncoderSnr
{
    float snr_y = 0, snr_u = 0, snr_v = 0;
    float snr_y1 = 0, snr_u1 = 0, snr_v1 = 0;
    float snr_ya = 0, snr_ua = 0, snr_va = 0;
};

struct Picture
{
    int no_slices = 0;
    std::vector<std::unique_ptr<Slice>> slices; // as many as the slice mode makes
    int bits_per_picture = 0;
    float distortion_y = 0, distortion_u = 0, distortion_v = 0;
};

// A zero-filled picture record, its slices to come.
Picture malloc_picture();
// Releases every slice of the picture; freeing the picture's slices also empties its count.
void release_picture_slices(Picture &pic);
void free_picture_slices(Picture &pic);

// A B picture, stored or not.
inline bool IsB(const EncoderImage &img)
{
    return img.type == kTypeB || img.type == kTypeStoredB;
}

// An intra macroblock, SI included.
inline bool IsIntraMacroblock(const MacroblockRecord &mb)
{
    return mb.mb_mode == kModeI4 || mb.mb_mode == kModeI16 || mb.mb_mode == kModeSI4;
}

} // namespace h264enc
