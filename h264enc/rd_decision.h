// Rate-distortion mode decision: every candidate of a macroblock (and every sub-mode of an 8x8 quarter,
// every intra 4x4 mode of a block) is coded for real, its bits counted by really writing its syntax
// elements, and the one with the least J = distortion + lambda x bits wins. The writers are put back
// after each trial. The pixel-age and refresh maps let the decision avoid references older than an
// intra refresh (RestrictRefFrames).
#pragma once

#include "h264enc/coding_state.h"
#include "h264enc/coding_tools.h"
#include "h264enc/enc_state.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace h264enc {

struct EncoderRun;
struct EncoderParams;

// The references and vectors of a macroblock's 16 4x4 blocks in the picture's maps (the B lists too).
struct BlockMotionCopy
{
    int ref[16] = {}, fw_ref[16] = {}, bw_ref[16] = {};
    std::array<int, 2> mv[16] = {}, fw_mv[16] = {}, bw_mv[16] = {};
    void Save(const EncoderImage &img);
    void Restore(EncoderImage &img) const;
};

// The best macroblock so far: everything a candidate's coding left in the picture, the record and the
// maps, so that the winner can be put back after later trials overwrote them.
struct RdBestMacroblock
{
    int mode = 0;
    int chroma_pred_mode = 0;
    int i16_type = 0;
    std::array<int, 4> quarter_mode{}, quarter_dir{};
    uint8_t luma[16][16] = {};
    uint8_t chroma[2][8][8] = {};
    CoefficientArrays cof;
    int coded_pattern = 0, coded_block_bits = 0;
    int ipred[16] = {};
    std::array<int, 16> intra4_codes{};
    BlockMotionCopy motion;
    int mv_pred[2][4][4][2] = {};
    int direct_no_residue = 0;
};

// The intra candidates' luma, which does not depend on the chroma mode tried with it: coded once per
// macroblock and reused for every chroma mode.
struct RdIntraLuma
{
    bool valid = false;
    uint8_t luma[16][16] = {};
    int cof[4][4][2][65] = {};
    int cofDC[2][65] = {};
    int coded_pattern = 0, coded_block_bits = 0;
    int ipred[16] = {};
    std::array<int, 16> intra4_codes{};
    int i16_mode = 0;
};

// One coding of one macroblock of a macroblock-adaptive pair (frame or field): what its decision left
// for the writer and for the macroblocks after it. The pair's samples are kept with its lower macroblock.
// One 4x4 block of the motion maps, every list.
struct MotionEntry
{
    int ref = -1, fw_ref = -1, bw_ref = -1;
    std::array<int, 2> mv{}, fw_mv{}, bw_mv{};
};

struct MbaffPairCandidate
{
    MacroblockRecord record;
    CoefficientArrays cof;
    BlockMotionCopy motion;
    int intra_counted = 0; // counted as an intra macroblock of the picture
    int refreshed = 0;     // its 8x8 blocks' refresh flags
    // Lower macroblock: the pair's luma rows, then U and V, and the pair's intra mode entries.
    std::vector<uint8_t> samples;
    int pair_ipred[8][4] = {};
    std::array<MotionEntry, 64> pair_motion{}; // the pair's frame blocks, then each field's
};

// The field views of a macroblock-adaptive frame: per parity the source and reconstruction field
// planes and the intra mode map a field macroblock works in (its motion maps are img.field_maps). The
// frame and the field forms are kept equal after every macroblock.
struct MbaffViews
{
    PictureBuffers org[2], rec[2];
    Array2D<int> ipred[2];
    std::vector<int> moving[2]; // B pictures: the co-located moving-block map of each field
    int width = 0, height = 0;
};

// The decision's state of a run.
struct RdState
{
    // Coding states: before the 8x8 split, after a quarter's best sub-mode, around one macroblock trial,
    // around one block trial (intra 4x4 modes, coded inside a macroblock trial).
    std::unique_ptr<CodingState> cs_split, cs_quarter, cs_trial, cs_block;
    RdBestMacroblock best;
    RdIntraLuma intra4, intra16;
    double lambda = 0;    // mode lambda of the current macroblock
    int forced_intra = 0; // the current macroblock is forced intra
    // Pixel ages (RestrictRefFrames): pictures since each luma sample was last intra coded, capped at
    // NumberReferenceFrames + 1; refresh flags per 8x8 block of the picture being coded.
    std::vector<uint8_t> pixel_age, refresh;
    int age_width = 0, age_height = 0;
    // Macroblock-adaptive frames: [frame 0, field 1][upper 0, lower 1], and the picture's intra count
    // before the pair.
    MbaffPairCandidate pair[2][2];
    int pair_intra_base = 0;
    // The coefficient counts the pair's trials may touch (its two rows and its field view's row), as
    // they were before the pair: the writer starts from them whichever coding is chosen.
    int pair_counts[3][24] = {};
    MbaffViews mbaff;
};

// Mode lambda of rate-distortion decisions for a picture type and quantiser.
double rd_mode_lambda(const EncoderParams &input, const EncoderImage &img, int qp);
// The motion lambda that goes with it: its square root.
double rd_motion_lambda(double mode_lambda);
// Reference cost of forward reference r (16.16 fixed-point lambda): the index's bits when the slice
// sends indices, else 0.
int rd_reference_cost(const EncoderRun &run, int r);

// The trials' coding states: made at the start of a run (and by the decision when they are missing),
// released at its end.
void alloc_coding_states(EncoderRun &run);
void free_coding_states(EncoderRun &run);

// J of intra 4x4 mode `mode` for block b of quarter q: the block is coded (reconstruction into the
// picture), its mode element and coefficients written and counted.
double rd_cost_intra4x4(EncoderRun &run, int q, int b, int mode, double lambda, int most_probable);
// The intra 4x4 choice of one block by J; codes the block with the winner. Returns its J.
double rd_choose_intra4x4_mode(EncoderRun &run, int q, int b, double lambda, int *nonzero);
// J of one 8x8 quarter coded with sub-mode `sub`, direction and references; *coef_cost the quarter's
// coefficient cost, *cbp_blk its 4x4 coded-block bits.
double rd_cost_8x8(EncoderRun &run, int q, int sub, int dir, int fwd, int bwd, double lambda, int *coef_cost,
                   int *cbp_blk);
// Intra 16x16: prediction, mode choice and transform coding; coded_pattern holds the luma bits.
// Returns the mode.
int code_intra16x16(EncoderRun &run);
// Codes the macroblock in `mode` (the record's modes and maps already set) and writes it to count its
// bits; returns 1 when its J is strictly below *best_j, which then takes it.
int rd_cost_macroblock(EncoderRun &run, double lambda, int mode, double *best_j);
void keep_best_macroblock(EncoderRun &run, int mode);
void apply_best_macroblock(EncoderRun &run);

// The whole-macroblock stage of the decision, after the inter searches: tries every valid mode with
// every usable chroma mode and installs the winner. Returns the winner's J (clamped to an int).
int rd_decide_macroblock(EncoderRun &run, const bool valid[11]);

// Sum of squared differences between source and reconstruction of a luma or chroma area.
long long rd_luma_sse(const EncoderRun &run, int x, int y, int w, int h);
long long rd_chroma_sse(const EncoderRun &run, int uv, int x, int y, int w, int h);

// Macroblock-adaptive frames: keeps what the decision left for the current macroblock as its frame (0)
// or field (1) coding, and brings a kept coding back before the macroblock is written.
void save_mbaff_pair_candidate(EncoderRun &run, int field);
// Decides and codes the current macroblock of a macroblock-adaptive frame: a field macroblock in the
// field view of its parity (its field's planes and maps, its pair's row of the field), a frame
// macroblock as usual; then the other form of the picture follows.
int mbaff_encode_macroblock(EncoderRun &run);
void restore_mbaff_pair_candidate(EncoderRun &run, int field);
// The other form of the motion maps after a frame macroblock (its rows into the fields) or a field
// macroblock (its field rows into the frame), with the decoder's scaling.
void mbaff_motion_to_fields(EncoderImage &img);
void mbaff_motion_to_frame(EncoderImage &img);
// The current pair's motion in both forms (64 blocks).
void save_pair_motion(const EncoderImage &img, std::array<MotionEntry, 64> &into);
void restore_pair_motion(EncoderImage &img, const std::array<MotionEntry, 64> &from);

// Pixel-age map: sizes it for the run (all ages at the cap) when missing.
void prepare_pixel_age_map(EncoderRun &run);
// Sets the refresh flags of the current macroblock's four 8x8 blocks.
void set_refresh_flags(EncoderRun &run, int refreshed);
// After a reference picture is coded: I pictures reset every age to 1, others age every sample not
// refreshed and reset the refreshed ones.
void update_pixel_age_map(EncoderRun &run);
// 1 when no sample that block `block` of block type `type` reads from reference r (interpolation
// neighbourhood included) was intra coded after that reference.
int reference_is_reliable(EncoderRun &run, int block, int r, int type);

} // namespace h264enc
