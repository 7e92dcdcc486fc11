// Slices of synthetic macroblocks, end to end: random macroblock records (every mode, sub-mode and
// direction, reference indices, vectors against arbitrary predictions, patterns, quantiser changes and
// coefficients with escapes) are coded by the slice coder through a record-copying macroblock coder,
// packed into a stream behind the encoder's parameter sets, and parsed by the decoder's macroblock
// reader; what it read is kept per macroblock and compared with the records.
#pragma once

#include "h264enc/enc_run.h"
#include "h264enc/slice_coder.h"

#include <map>
#include <random>
#include <string>
#include <vector>

namespace enctest {

// One macroblock as the mode decision would leave it.
struct SyntheticMb
{
    int mode = 0;
    int quarter_mode[4] = {};
    int quarter_dir[4] = {};
    int coded_pattern = 0;
    int qp_delta = 0;
    int chroma_pred_mode = 2;
    int intra4_codes[16] = {};
    int i16_type = 0;
    int field = 0;
    int refs[2][4][4] = {};    // forward (P) and backward reference per 4x4 block, -1 for none
    int mv[2][4][4][2] = {};   // vectors per 4x4 block
    int pred[2][4][4][2] = {}; // predictions at the blocks where sub-blocks start
    h264enc::CoefficientArrays cof;
};

// Copies the records into the encoder as its mode decision would (keeping the running quantiser of the
// slice in each record). Pair candidates of macroblock-adaptive frames are the same records.
class RecordCoder : public h264enc::MacroblockCoder
{
public:
    std::vector<SyntheticMb> mbs; // by macroblock number
    int encode_macroblock(h264enc::EncoderRun &run) override;
    void save_pair_candidate(h264enc::EncoderRun &run, int field) override;
    void restore_pair_candidate(h264enc::EncoderRun &run, int field) override;

private:
    struct Candidate
    {
        h264enc::MacroblockRecord record;
        h264enc::CoefficientArrays cof;
    };
    std::map<std::pair<int, int>, Candidate> m_candidates;
    std::map<int, int> m_qp_before;
    const h264enc::Slice *m_slice = nullptr;
    int m_qp = 0;
};

struct RunOptions
{
    int width = 176, height = 144;
    int cabac = 0;
    int slice_mode = 0, slice_argument = 0;
    int refs = 1; // NumberReferenceFrames
    int direct_spatial = 0;
    int mbaff = 0;
    int loop_filter_flag = 0;
    int partition_mode = 0;
};

// A run ready for slice coding: geometry, picture order, slice groups, CABAC model memory.
std::unique_ptr<h264enc::EncoderRun> MakeRun(const RunOptions &o);
// The SPS and PPS units, Annex B.
std::vector<uint8_t> ParameterSetUnits(h264enc::EncoderRun &run);

struct PictureSetup
{
    int type = h264enc::kTypeI;
    int qp = 28;
    int number = 0; // coding order, for frame_num and the order count
    int bwd_refs = 1;
};
// Codes the picture's slices and appends their units (partition 0 of each slice) to stream; returns the
// slice count.
int EncodePicture(h264enc::EncoderRun &run, h264enc::MacroblockCoder &coder, const PictureSetup &p,
                  std::vector<uint8_t> &stream);

// Random records of a picture. P and B pictures refer to `refs` forward references; B pictures read
// the encoder's P map for the co-located references of temporal direct.
std::vector<SyntheticMb> RandomPicture(std::mt19937 &rng, const h264enc::EncoderRun &run, int type, int refs,
                                       int bwd_refs);

// What the decoder read of one macroblock.
struct DecodedMb
{
    int slice = -1;
    int mb_type = 0;
    int sub_mode[4] = {};
    int sub_dir[4] = {};
    int cbp = 0;
    int qp_delta = 0;
    int qp = 0;
    int chroma_pred_mode = 0;
    int field = 0;
    int intra_codes[16] = {}; // -1 the predicted mode, else the remaining mode, in quarter order
    int mvd[2][4][4][2] = {};
    int refs[2][4][4] = {}; // forward (P) and backward as the decoder stored them
    int coef[4][6][4][4] = {};
};
struct DecodedPicture
{
    int type = 0;
    int slices = 0;
    std::vector<DecodedMb> mbs;
};
// Parses every slice of the stream through the decoder's macroblock layer. A run error becomes the
// message.
std::vector<DecodedPicture> DecodeMacroblocks(const std::vector<uint8_t> &stream, std::string *error);

// "" when the decoder read the record's elements, else the first difference.
std::string CompareMacroblock(const SyntheticMb &s, const DecodedMb &d, int type, bool mbaff);

} // namespace enctest
