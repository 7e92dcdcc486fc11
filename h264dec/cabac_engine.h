// The binary arithmetic decoder behind every CABAC syntax element, and the two context sets of a slice.
// A context is an adaptive probability estimate: a state 0..63 (0 = both symbols about equally likely,
// 63 = the most probable symbol nearly certain) and which symbol is the most probable. The contexts
// are grouped by syntax element rather than numbered as one long list; the encoder uses the same
// groups and tables, so this header is what h264enc/ includes.
#pragma once

#include <cstdint>

struct CabacContext
{
    uint16_t state = 0; // probability state 0..63
    uint8_t mps = 0;    // most probable symbol
    uint8_t pad = 0;
};

struct MotionInfo
{
    CabacContext mb_type_contexts[4][11];
    CabacContext b8_type_contexts[2][9];
    CabacContext mv_res_contexts[2][10];
    CabacContext ref_no_contexts[2][6];
    CabacContext delta_qp_contexts[4];
    CabacContext mb_aff_contexts[4];
};

// Block types of the residual readers: 0 luma DC of intra 16x16, 1 its AC, 2..4 unused luma
// transforms, 5 luma 4x4, 6 chroma DC, 7 chroma AC.
constexpr int kCabacBlockTypes = 8;

struct TextureInfo
{
    CabacContext ipr_contexts[2];
    CabacContext cipr_contexts[4];
    CabacContext cbp_contexts[3][4];
    CabacContext bcbp_contexts[8][4];
    CabacContext map_contexts[8][15];
    CabacContext last_contexts[8][15];
    CabacContext one_contexts[8][5];
    CabacContext abs_contexts[8][5];
    CabacContext fld_map_contexts[8][15];
    CabacContext fld_last_contexts[8][15];
};

static_assert(sizeof(MotionInfo) == 102 * 4, "102 contexts of 4 bytes");
static_assert(sizeof(TextureInfo) == 610 * 4, "610 contexts of 4 bytes");

// Row of each block type in the coded-block-flag group and in the two level groups.
extern const int kCbfRowOfBlockType[8];
extern const int kLevelRowOfBlockType[8];

// ---------------------------------------------------------------------------------------------
// Initialisation: (m, n) pairs. A context starts from s = ((m x qp) >> 4) + n, clipped to 1..126.

struct CabacInitPair
{
    int m = 0;
    int n = 64;
};

// The same groups as the context sets, with a pair per entry.
struct MotionInfoInit
{
    CabacInitPair mb_type[4][11];
    CabacInitPair b8_type[2][9];
    CabacInitPair mv_res[2][10];
    CabacInitPair ref_no[2][6];
    CabacInitPair delta_qp[4];
    CabacInitPair mb_aff[4];
};

struct TextureInfoInit
{
    CabacInitPair ipr[2];
    CabacInitPair cipr[4];
    CabacInitPair cbp[3][4];
    CabacInitPair bcbp[8][4];
    CabacInitPair map[8][15];
    CabacInitPair last[8][15];
    CabacInitPair one[8][5];
    CabacInitPair abs[8][5];
    CabacInitPair fld_map[8][15];
    CabacInitPair fld_last[8][15];
};

// The published pairs in the standard's numbering (context indices 0..398): one column for I slices
// and one per cabac_init_idc for the others. Index 276 (end of slice) has no pair.
constexpr int kCabacNumberedContexts = 399;
extern const CabacInitPair kCabacInitNumberedI[kCabacNumberedContexts];
extern const CabacInitPair kCabacInitNumberedPB[3][kCabacNumberedContexts];

// The grouped tables: the I table, and the three models of P, SP and B slices. Skip flags and the
// most-probable-mode flag are read with the opposite sense of the standard, so their entries carry
// the mirrored pair (-m, 127 - n).
const MotionInfoInit &CabacMotionInitI();
const MotionInfoInit &CabacMotionInitModel(int model);
const TextureInfoInit &CabacTextureInitI();
const TextureInfoInit &CabacTextureInitModel(int model);

// One context from its pair at quantiser qp.
void cabac_init_context(CabacContext *ctx, int qp, CabacInitPair pair);
// Both sets of a slice: I slices from the I table, others from model 0..2.
void cabac_init_motion_contexts(MotionInfo *mi, bool islice, int model, int qp);
void cabac_init_texture_contexts(TextureInfo *ti, bool islice, int model, int qp);

// Zero-filled sets; allocation failure ends the run as out of memory.
MotionInfo *dec_create_contexts_MotionInfo();
TextureInfo *dec_create_contexts_TextureInfo();
// Frees a set made by either; null is ignored.
void release_cabac_contexts(MotionInfo *set);
void release_cabac_contexts(TextureInfo *set);

// 1 when a quadrant's mode splits it below 8x8 (the reference-index context selector).
inline int b8mode_ref_context(int mode)
{
    return mode > 3 ? 1 : 0;
}

// ---------------------------------------------------------------------------------------------
// Engine

// State tables of the probability estimate.
extern const uint8_t kRangeTabLPS[64][4];
extern const uint8_t kTransIdxLPS[64];
extern const uint8_t kTransIdxMPS[64];

struct CabacDecoder
{
    uint32_t range = 0;
    uint32_t value = 0;
    uint32_t current_byte = 0;
    int32_t bits_left = 0;
    const uint8_t *stream = nullptr;
    int *stream_pos = nullptr; // shared with the partition's bitstream
    int stream_length = 0;     // bytes of the slice; reads beyond them give zero bits
};

// Starts at byte first_byte of the buffer: reads nine bits into the value, range 510.
void cabac_start_decoding(CabacDecoder *dec, const uint8_t *buffer, int length, int first_byte,
                          int *position);
// Bits consumed so far (a difference of two calls is an element's length).
int cabac_bits_read(const CabacDecoder *dec);
int cabac_decode_symbol(CabacDecoder *dec, CabacContext *ctx);
int cabac_decode_bypass(CabacDecoder *dec);
int cabac_decode_final(CabacDecoder *dec);
