// Simulated decoders for loss-aware mode decisions: the encoder keeps NumberOfDecoders receivers, each
// with its own luma pictures, that decode every macroblock candidate from their own references, so the
// mode decision can weigh the distortion a receiver would see after packet losses. At each picture's
// end every receiver draws its losses per slice, conceals what it lost and keeps the picture as its
// newest reference. Only luma is simulated.
#pragma once

#include "h264enc/enc_memory.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace h264enc {

struct EncoderRun;
struct EncoderImage;
struct EncoderParams;

// Loss status of a macroblock in one receiver. Partition A carries headers and vectors, B the intra
// residual, C the inter residual; without data partitioning any loss loses everything.
enum LossStatus : uint8_t { kLossNone = 0, kLossAll = 1, kLossPartB = 2, kLossPartC = 3, kLossPartBC = 5 };

// Where the receivers take one 4x4 block's inter prediction from: per list whether it is used, the
// receiver reference (0 the newest stored picture), the reference index (the weights') and the vector.
struct LossBlockSource
{
    int8_t use[2] = {0, 0};
    int8_t slot[2] = {-1, -1};
    int8_t ref[2] = {0, 0};
    int mv[2][2] = {};
};

// The receivers' reference pictures, in the layout the decoder's quarter-sample fetch reads (loss_sim.cpp).
struct ReceiverReferences;

struct LossSimState
{
    LossSimState();
    ~LossSimState();
    LossSimState(LossSimState &&) noexcept;
    LossSimState &operator=(LossSimState &&) noexcept;

    int decoders = 0;
    int width = 0, height = 0;
    int ring_size = 0; // reference pictures per receiver, as many as the encoder's frame store holds
    int stored = 0;    // pictures in each ring so far
    // Reconstruction minus the encoder's prediction of the current macroblock, [y][x].
    int residual[16][16] = {};
    std::vector<Array2D<uint8_t>> current; // per receiver: the candidate being decoded
    std::vector<Array2D<uint8_t>> best;    // per receiver: the picture under the modes finally chosen
    // Per receiver, newest first: the receiver's previous pictures, deblocked and concealed.
    std::unique_ptr<ReceiverReferences> rings;
    Array2D<uint8_t> loss;                // [mb row][mb column]: the receiver being updated
    Array2D<uint8_t> modes;               // [mb row][mb column]: the chosen macroblock modes of the picture
    std::vector<LossBlockSource> sources; // per 4x4 block of the picture, raster order: the chosen vectors
    // The encoder's newest reference at the last update, to recognise the pictures it made references.
    const void *newest = nullptr;
    int newest_pic_num = -1, newest_pic_id = -1;

    bool allocated() const { return decoders > 0; }
};

// Allocates the receivers for the run's picture size and frame store (only with RDOptimization 2; a
// failed allocation ends the run with "init_global_buffers: decref").
void h264enc_losssim_init(LossSimState &s, const EncoderParams &input, const EncoderImage &img);
void h264enc_losssim_free(LossSimState &s);

// Receiver d's k-th newest reference picture (k below s.stored): width x height samples, row by row.
const uint8_t *losssim_reference(const LossSimState &s, int d, int k);
uint8_t *losssim_reference(LossSimState &s, int d, int k);
// Makes `picture` receiver d's newest reference (the oldest one drops out of a full ring); the caller
// counts the stored pictures in s.stored once every receiver has stored.
void losssim_store_reference(LossSimState &s, int d, const Array2D<uint8_t> &picture);

// The 4x4 block, [y][x], whose top-left sample is at quarter-sample position (y4, x4) of receiver d's
// k-th newest reference: the decoder's fetch, the picture's edges repeated.
void h264enc_losssim_fetch(const LossSimState &s, int d, int k, int y4, int x4, int out[4][4]);

// Whether the receivers follow the current picture: frame macroblocks of frame pictures of the run's size.
bool losssim_simulated(const EncoderRun &run);

// ---------------------------------------------------------------------------------------------
// Steps of one macroblock (the current one of run.img, coded as a candidate: reconstruction in
// run.rec, modes in its record and the motion maps).

// The residual of the coded macroblock: reconstruction minus the intra 16x16 prediction of i16_mode,
// or (i16_mode -1) minus the inter prediction of its modes. Intra 4x4 macroblocks have none.
void h264enc_losssim_residual(EncoderRun &run, int i16_mode);
// Decodes quarter q (8x8) of the current macroblock into receiver d's current picture: intra blocks
// and I pictures take the encoder's reconstruction, inter blocks the receiver's prediction plus the
// residual. The modes and references are those code_luma_quarter takes.
void h264enc_losssim_decode_block(EncoderRun &run, int d, int q, int fw_mode, int bw_mode, int fw_ref,
                                  int bw_ref);
// Receiver d's inter prediction of the 4x4 block at picture position (px, py) from its own references
// ([y][x]); false when it does not hold a reference the block names.
bool losssim_predict_block(const EncoderRun &run, int d, const LossBlockSource &s, int px, int py,
                           int out[4][4]);
// The four quarters with the modes of the macroblock's record and maps.
void h264enc_losssim_decode_mb(EncoderRun &run, int d);

// For the rate-distortion cost: the luma squared error of the coded macroblock candidate, averaged over
// the receivers (residual, then each receiver decodes it). Equals the encoder's own error while no
// receiver has lost anything.
double losssim_expected_distortion(EncoderRun &run);
// The same for quarter q alone, coded with the given modes (the 8x8 sub-mode decision).
double losssim_expected_quarter_distortion(EncoderRun &run, int q, int fw_mode, int bw_mode, int fw_ref,
                                           int bw_ref);
// After the macroblock's final coding is installed: every receiver decodes it into its best-mode
// picture, and outside B pictures its mode and vectors are kept for the concealment.
void losssim_finish_macroblock(EncoderRun &run);

// ---------------------------------------------------------------------------------------------
// Steps of one picture (I, P and stored B pictures; not B pictures, which are no references).

// Deblocks every receiver's best-mode picture (luma) with the encoder's filter and the picture's records.
void h264enc_losssim_deblock(EncoderRun &run);
// Draws the loss status of every macroblock for the next receiver into s.loss: a status per slice (per
// macroblock with SliceMode 0), three draws of the program's generator each.
void h264enc_losssim_draw_losses(EncoderRun &run);
// Conceals receiver d's lost macroblocks (s.loss) in its best-mode picture.
void h264enc_losssim_conceal(EncoderRun &run, int d);
// The picture's end: for every receiver, draws its losses, conceals them and stores the picture as its
// newest reference. Pictures the receivers cannot simulate (fields, macroblock-adaptive frames) are
// stored as the encoder reconstructed them.
void h264enc_losssim_update(EncoderRun &run);
// The end of any picture, once the encoder has stored it (or not) as a reference: when the encoder's
// frame store has a new newest picture, h264enc_losssim_deblock, then h264enc_losssim_update, so that the
// receivers' references stay the encoder's, index for index. Other pictures change nothing.
void losssim_end_picture(EncoderRun &run);

} // namespace h264enc
