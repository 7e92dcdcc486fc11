// One encoder run: the parameters, the picture state, statistics and quality records, the reference
// stores, the slice-group map, the SEI state, the output and the open files. Made per run and dropped
// at its end, so a run that stops early leaves nothing behind for the next one.
#pragma once

#include "h264enc/cabac_contexts.h"
#include "h264enc/coding_state.h"
#include "h264enc/coding_tools.h"
#include "h264enc/enc_params.h"
#include "h264enc/enc_state.h"
#include "h264enc/enc_weights.h"
#include "h264enc/field_coding.h"
#include "h264enc/frame_store.h"
#include "h264enc/loss_sim.h"
#include "h264enc/rd_decision.h"
#include "h264enc/sei_state.h"
#include "h264enc/slice_group_map.h"
#include "h264enc/stream_out.h"
#include "platform/file.h"

#include <string>
#include <vector>

namespace h264enc {

struct EncoderRun
{
    std::string h264_settings_path; // the settings file the run reads
    EncoderParams input;            // the working copy every stage reads
    EncoderImage img;
    EncoderStats stats;
    EncoderSnr snr;
    Picture frame_pic, top_pic, bottom_pic;
    FrameStores refs;
    EncoderFmo fmo;
    SeiState sei;
    StreamOutput out;
    std::vector<int> picture_bits; // bits of each coded picture, in coding order
    std::vector<int> last_P_no;    // source frames of the references a B picture sees, newest first
    CabacModelMemory cabac_models; // the adaptive model choices (create_context_memory)
    RecodePoint recode_point;      // the slice's writers before the current macroblock (SliceMode 2 and 3)
    zn::FilePtr input_file, recon_file, trace_file;

    // The coding tools' state.
    PictureBuffers org_frame, rec_frame;                     // source and reconstruction of the frame
    PictureBuffers org_top, org_bottom, rec_top, rec_bottom; // field coding
    PictureBuffers *org = &org_frame, *rec = &rec_frame;     // the picture being coded
    MacroblockWork mbw;
    MotionSearchTables search;
    MacroblockMotion motion;
    ModeDecisionState md;
    IntraRefresh refresh;
    LossSimState losssim; // the simulated receivers of loss-aware decisions (RDOptimization 2)
    // The rate-distortion decisions' coding states, best macroblock, pair candidates and pixel ages.
    RdState rd;
    PictureBuffers recon_held;           // the last I/P reconstruction, written after its B pictures
    Array2D<int> interp_work;            // the quarter-sample interpolation's intermediate rows
    std::vector<int> moving_map;         // per 4x4 block of the last I/P picture: 1 when it moved
    int intra_mbs = 0;                   // intra macroblocks of the picture being coded
    int tr_forward = 0, tr_backward = 0; // order counts of the references around a B picture
    ColocatedForms colocated;            // interlaced coding: motion of the last reference picture
    PocHistory poc_history;              // order counts of this and the reference pictures before it
};

// Picture geometry and the per-run tables of img from the parameters: sizes, macroblock count, reference
// slots, the square table, the macroblock records and the coefficient counts.
void init_image_geometry(const EncoderParams &input, EncoderImage &img);
// Picture order count parameters of the parameter sets.
void init_picture_order(const EncoderParams &input, EncoderImage &img);
// The slice-group settings of the parameters.
FmoSettings FmoSettingsOf(const EncoderParams &input);

// Whether the run writes CABAC (else CAVLC).
inline bool IsCabac(const EncoderRun &run)
{
    return run.input.SymbolMode != 0;
}

} // namespace h264enc
