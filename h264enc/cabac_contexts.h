// The two context sets of a CABAC slice and where their start states come from: every context starts
// from an (m, n) pair of the decoder's tables, chosen by picture type and model number (cabac_init_idc),
// tilted by the slice quantiser. The encoder picks the model of a slice adaptively: after each slice it
// works out which model's start states would have cost the fewest bits for what the contexts learnt,
// and uses that model at the same slice position of the next picture of the same type.
#pragma once

#include "h264enc/cabac_enc.h"

#include <array>
#include <memory>
#include <vector>

namespace h264enc {

struct EncoderImage;
struct EncoderParams;

// Header and motion elements: 91 contexts.
struct MotionContextSet
{
    CabacEncContext type[3][11]; // row 0 I, row 1 P (skip 0..2, type 4..7, intra 16x16 suffix 8..10), row 2 B
    CabacEncContext sub[2][9];   // sub-macroblock types: P, B
    CabacEncContext mvd[2][10];  // first bin, later bins; 0..4 horizontal, 5..9 vertical
    CabacEncContext ref[2][6];
    CabacEncContext dquant[4];
    CabacEncContext field[4];
};

// Intra modes, coded block patterns and coefficients: 610 contexts; rows of the coefficient families
// by block kind.
struct TextureContextSet
{
    CabacEncContext intra[2];
    CabacEncContext chroma[4];
    CabacEncContext cbp[3][4];
    CabacEncContext flag[8][4];
    CabacEncContext sig[8][15];
    CabacEncContext last[8][15];
    CabacEncContext one[8][5];
    CabacEncContext level[8][5];
    CabacEncContext fld_sig[8][15];
    CabacEncContext fld_last[8][15];
};

constexpr int kMotionContexts = 91;
constexpr int kTextureContexts = 610;
static_assert(sizeof(MotionContextSet) == kMotionContexts * sizeof(CabacEncContext));
static_assert(sizeof(TextureContextSet) == kTextureContexts * sizeof(CabacEncContext));

// Zero-filled sets; a failed allocation ends the run ("create_contexts_MotionInfo: enco_ctx",
// "create_contexts_TextureInfo: enco_ctx").
std::unique_ptr<MotionContextSet> create_contexts_MotionInfo();
std::unique_ptr<TextureContextSet> create_contexts_TextureInfo();

// The (m, n) pair of every context, in the sets' order: the I table (model ignored) or model 0..2 of
// the other picture types. Unused entries hold (0, 64).
struct CabacPairs
{
    std::array<std::array<int, 2>, kMotionContexts> motion;
    std::array<std::array<int, 2>, kTextureContexts> texture;
};
const CabacPairs &cabac_pairs(bool intra_table, int model);

// Every context of both sets from the pairs at quantiser qp.
void cabac_init_context_sets(MotionContextSet *mc, TextureContextSet *tc, bool intra_table, int model,
                             int qp);

// The stored model choices of a run, per coding structure (frame, field), picture type (I, P, B, SP and
// stored B) and slice position.
struct CabacModelMemory
{
    static constexpr int kTypes = 5;
    int mbs_per_slice = 1;
    int slices_per_picture = 1;
    std::vector<int> initialized; // [structure][type][position]
    std::vector<int> model_number;
    std::array<double, 128> probability{}; // probability of a 0 bin for pre-state x
    std::array<double, 128> entropy{};     // log2 of it
    size_t Index(int structure, int type, int position) const
    {
        return static_cast<size_t>((structure * kTypes + type) * slices_per_picture + position);
    }
};

// Made once per run: positions from the slice layout (SliceArgument macroblocks per slice in
// SliceMode 1, else one slice per picture), all choices empty. A SliceArgument below 1 counts as 1.
void create_context_memory(CabacModelMemory &memory, const EncoderParams &input, int mbs_per_frame);
void free_context_memory(CabacModelMemory &memory);

// Model number of the current slice into img.cabac_model: 0 for I pictures; FixedModelNumber with
// ContextInitMethod 0; else the model stored for the slice position, or for the position before it,
// or 0.
void cabac_select_model(const CabacModelMemory &memory, const EncoderParams &input, EncoderImage &img,
                        int first_mb);
// Both sets of the current slice from img.cabac_model at img.qp.
void cabac_init_contexts(EncoderImage &img);
// After the slice (ContextInitMethod not 0): the best model for what the slice's contexts learnt.
void cabac_store_model(CabacModelMemory &memory, const EncoderParams &input, const EncoderImage &img,
                       int first_mb);
// Carries the stored choices of every picture type from one coding structure's row to the other's
// (`from` 0: the frame row into the field row, 1: the field row into the frame row). A field holds half
// the frame's macroblocks, so with the same macroblocks per slice field position i covers about what
// frame positions 2i and 2i + 1 cover: frame position i takes field position i / 2, field position i
// takes frame position 2i. Positions whose source lies outside the picture stay as they are.
void cabac_copy_model_memory(CabacModelMemory &memory, int from);
// Expected bits per bin of the context's adapted state under the pair's start state at qp, weighted
// by min(usage / 32, 1).
double cabac_ctx_cost(const CabacModelMemory &memory, const CabacEncContext &ctx, int m, int n, int qp);
// Model 0 for I pictures, else the one of 0..2 with the least summed cost (ties keep the lower).
int cabac_best_model(const CabacModelMemory &memory, const MotionContextSet &mc, const TextureContextSet &tc,
                     bool intra, int qp);

} // namespace h264enc
