// Macroblock mode decision without rate-distortion trials: every allowed partition is motion searched,
// the costs (prediction error plus lambda times estimated bits, lambda growing with the quantiser) are
// compared with the direct or skip candidate and with intra 4x4 and 16x16 coding, and the winner is
// coded and recorded for the writer and for the prediction of the macroblocks that follow.
#pragma once

#include "h264enc/slice_coder.h"

namespace h264enc {

struct EncoderRun;

// The mode decision behind the slice coder.
class ModeDecisionCoder : public MacroblockCoder
{
public:
    int encode_macroblock(EncoderRun &run) override;
    void save_pair_candidate(EncoderRun &run, int field) override;
    void restore_pair_candidate(EncoderRun &run, int field) override;
};

// The decision's state of a run, cleared at its start with the coding states of rate-distortion trials
// (RDOptimization not 0), and released at its end.
void init_mode_decision_state(EncoderRun &run);
void free_mode_decision_state(EncoderRun &run);

// Decides and codes the current macroblock; returns the winning cost.
int h264enc_encode_macroblock(EncoderRun &run);

// Pieces the rate-distortion decision shares: the quarter's (or the partition block's) references and
// vectors into the maps; every intra mode entry of the macroblock DC; the record's modes and the maps
// for a mode; the predictions its vector differences are coded against; the kept 8x8-split coding.
void set_block_refs_and_vectors(EncoderRun &run, int k, int mode, int fwd, int dir, int bwd);
void SetIntraEntriesDc(EncoderRun &run);
void SetModesAndRefframeForBlocks(EncoderRun &run, int mode);
// The chosen vectors of the current macroblock into the picture's vector maps, after its references.
void store_macroblock_vectors(EncoderRun &run, bool b);
void SetVectorPredictions(EncoderRun &run);
void restore_8x8_coding(EncoderRun &run);

// Lambda of the mode decision at a quantiser.
double mode_lambda(int qp);
// The intra 16x16 type number the writer sends: 1 + mode + 4 x chroma pattern, plus 12 with luma AC.
int intra16x16_mb_type(int coded_pattern, int mode);

// Intra 4x4: chooses and codes the mode of each 4x4 block, quarter by quarter. Returns the cost and
// the luma coded-block bits (bit q for a quarter with a significant coefficient).
int choose_intra4x4_mb(EncoderRun &run, double lambda, int *cbp);
int choose_intra4x4_8x8(EncoderRun &run, int q, double lambda, int *nonzero);
int choose_intra4x4_mode(EncoderRun &run, int q, int b, double lambda, int *nonzero);

} // namespace h264enc
