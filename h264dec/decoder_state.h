// One decoder object per run: every record the decoder keeps for the whole run lives here (the
// parameters, the picture state, the slice with its partitions, the parameter-set tables, the input,
// the picture-order ring, the reference stores, the slice-group map and the loss bookkeeping), so
// that runs never see each other's sets or pictures.
#pragma once

#include "h264dec/decoder_analysis.h"
#include "h264dec/decoder_output.h"
#include "h264dec/decoder_records.h"
#include "h264dec/erc.h"
#include "h264dec/nalu_input.h"
#include "h264dec/ref_buffers.h"

#include <algorithm>
#include <array>
#include <memory>

// The planes of one decoded picture: luma and the two chroma planes.
struct DecodedPlanes
{
    Array2D<uint8_t> y;
    Array3D<uint8_t> uv;
};

// Top and bottom picture order counts of the newest pictures, entry 0 the newest.
struct PocHistory
{
    int top[10] = {};
    int bottom[10] = {};
    int ref_mark = 0; // set when the newest entry is a reference picture and stays
};

// One field's motion and intra arrays, in field rows (half the block rows). mv, ref_idx_arr and
// moving_block are that field's co-located motion, kept from picture to picture like the frame's: field
// pictures decode into them, and field macroblocks of MBAFF frames read and write them too.
struct MbaffFieldCopy
{
    Array3D<int> mv, fwd_mv, bwd_mv, direct_fwd_mv, direct_bwd_mv;
    Array2D<int> ref_idx_arr, fwd_ref, bwd_ref, intra_modes, moving_block;
};

// The per-picture arrays of the macroblock layer, sized for the frame (field pictures use the upper
// half of the rows); picture control points the picture record's array members at them.
struct MacroblockArrays
{
    int width = 0, height = 0; // frame size in pixels the arrays were made for
    std::vector<DecoderMacroblock> mb_data;
    Array3D<int> mv, fwd_mv, bwd_mv, direct_fwd_mv, direct_bwd_mv;
    Array2D<int> ref_idx_arr, fwd_ref, bwd_ref, intra_modes, moving_block, field_mb, si_block;
    Array4D<int> nzcoeff;
    std::vector<std::array<int, 4>> intra_block;
    MbaffFieldCopy field_copy[2]; // top and bottom field of MBAFF frames
};

// Units the decoder reads past by design; a run reports each kind once.
enum DecoderAdvisory { kAdvisoryPartitions = 1, kAdvisorySliceGroups = 2 };

// Pictures decoded in a run, by kind (SI counts as I; SP in none).
struct PictureCounters
{
    int decoded = 0, i = 0, p = 0, b = 0;
};

// Releases a slice record made by dec_create_slice.
struct SliceRelease
{
    void operator()(DecoderSlice *slice) const;
};
using SlicePtr = std::unique_ptr<DecoderSlice, SliceRelease>;

struct H264DecoderState
{
    H264DecoderState();
    H264DecoderState(const H264DecoderState &) = delete;
    H264DecoderState &operator=(const H264DecoderState &) = delete;

    DecoderParams input;
    DecoderImage img;
    BitCounters counters;
    SlicePtr slice_record;
    DecoderSlice &slice; // the one slice record of the run, refilled for every slice

    std::unique_ptr<NaluSource> bitsfile;

    std::array<SPS, kMaxSps> sps_table{};
    std::array<PPS, kMaxPps> pps_table{};
    SPS *active_sps = nullptr;
    PPS *active_pps = nullptr;
    int (*slice_end_test)(H264DecoderState &dec, int eos_bit) = nullptr;

    PocHistory poc_history;

    // Reference stores and the lists built from them.
    std::unique_ptr<FrameStore> dec_frm, dec_fld;
    FrameStore *dec_fb = nullptr; // the store of the picture being decoded
    LumaRefList dec_mref_frm, dec_mref_fld;
    ChromaRefList dec_mcef_frm, dec_mcef_fld;
    LumaRefList *mref = nullptr;
    ChromaRefList *mcef = nullptr;

    // The decoded picture: frame planes and the planes of its two fields; cur_pic_y and cur_pic_uv
    // select the ones being decoded.
    DecodedPlanes dec_picture_frame, dec_picture_top, dec_picture_bottom;
    Array2D<uint8_t> *cur_pic_y = nullptr;
    Array3D<uint8_t> *cur_pic_uv = nullptr;

    SliceGroupMap fmo;

    int lost_flags[SE_MAX_ELEMENTS] = {};

    MacroblockArrays mb_arrays;
    CabacCoefficientBuffer cabac_coefficients;
    std::vector<ErcObject> erc_object_list;
    std::unique_ptr<ErcVariables> errorVar;

    // Reconstruction messages that a damaged stream could repeat for every block: each shows once a run.
    int recon_messages_shown = 0;

    // Picture control.
    NaluPtr nalu;                      // the unit buffer of read_new_slice, made at the first read
    bool buffers_ready = false;        // the stores and per-run arrays exist (from the first picture on)
    int run_width = 0, run_height = 0; // frame size they were made for
    int last_slice_tr = -1, last_slice_structure = -1;
    DecoderAnalysis analysis;
    DecodedPlanes stored_picture;    // the latest reference picture
    bool stored_valid = false;       // it holds a picture
    bool stored_pending = false;     // and that picture has not been output yet
    H264PictureSink *sink = nullptr; // where pictures go; none drops them
    PictureCounters picture_counters;
    std::string picture_text; // the text of the last picture
    int advisories = 0;       // DecoderAdvisory bits met so far
};

// The slice record of a run: its three data partitions (their buffers grow to the first unit loaded
// into them) and its two CABAC context sets. A failed allocation ends the run (code 100).
SlicePtr dec_create_slice(H264DecoderState &dec);
// Releases the record with its partitions and context sets.
void dec_release_slice(DecoderSlice *slice);

// n data partitions, each with a bitstream that counts into the decoder's counters and a stream
// buffer of `bytes` bytes. A failed allocation ends the run (code 100) with a text naming what failed.
std::vector<DataPartition> AllocPartition(H264DecoderState &dec, int n, int bytes);
// Releases the first n partitions (their bitstreams and buffers) and the array that holds them.
void dec_release_partitions(std::vector<DataPartition> &partitions, int n);

// img.quad[i] = i * i for i = 0..255.
void dec_init_square_table(DecoderImage &img);

// Samples are bytes: predictions and reconstructions clip to 0..255.
inline int Clip255(int v)
{
    return std::clamp(v, 0, 255);
}

// The picture's width in macroblocks.
inline int WidthMbs(const DecoderImage &img)
{
    return img.width / 16;
}

// A B picture that nothing refers to: it is neither stored nor kept for co-located motion.
inline bool NonReferenceB(const DecoderImage &img)
{
    return IsBPicture(img.type) && img.non_reference;
}
