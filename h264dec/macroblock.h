// The macroblock layer: where each macroblock sits and which neighbours it may use, its type and
// sub-types, intra modes, motion (reference indices and vectors, with the vector predictor) and
// residual levels. Everything here only reads and records; reconstruction works from the records.
#pragma once

#include "h264dec/decoder_state.h"

// Per-picture arrays: made for a frame of width x height pixels, reset at each picture start.
void dec_alloc_macroblock_arrays(H264DecoderState &dec, int width, int height);
void dec_start_picture_arrays(H264DecoderState &dec);
// After the slice header (header_bits long): the skip run, and for CABAC the contexts at the slice's
// quantiser and the arithmetic decoder at the next whole byte.
void h264dec_start_slice_data(H264DecoderState &dec, int header_bits);
void h264dec_init_contexts(H264DecoderState &dec);

void h264dec_set_mb_index(H264DecoderState &dec);
void h264dec_start_macroblock(H264DecoderState &dec);
void h264dec_check_neighbours(H264DecoderState &dec);
void h264dec_set_cabac_neighbours(H264DecoderState &dec);
int h264dec_read_macroblock(H264DecoderState &dec);
// 1 when the slice has ended; moves current_mb_nr on.
int h264dec_exit_macroblock(H264DecoderState &dec, int eos_bit);

void h264dec_interpret_mb_p(DecoderImage &img, DecoderMacroblock &mb);
void h264dec_interpret_mb_i(DecoderImage &img, DecoderMacroblock &mb);
void h264dec_interpret_mb_b(DecoderImage &img, DecoderMacroblock &mb);
void h264dec_interpret_mb_si(DecoderImage &img, DecoderMacroblock &mb);
void h264dec_set_sub_mode(DecoderImage &img, DecoderMacroblock &mb, int value, int quadrant);
void h264dec_read_intra_modes(H264DecoderState &dec);
void h264dec_init_macroblock(H264DecoderState &dec);
void h264dec_init_b_macroblock(H264DecoderState &dec);
// MBAFF frames: after a macroblock, its motion and intra modes in the other addressing. A frame
// macroblock's blocks go to the field copies (vertical components halved, reference indices
// doubled); a field macroblock's blocks are its field's rows, and the pair's frame rows are rebuilt
// from the field copies (vertical components doubled, indices halved).
void h264dec_sync_mbaff_copies(H264DecoderState &dec);
// A field macroblock's border entries in its field's copy of the intra modes, cut off where the left
// pair or the pair above is unusable for its prediction.
void h264dec_mbaff_field_borders(H264DecoderState &dec);

// While it lives, a field macroblock of an MBAFF frame works in its field: the motion, co-located and
// intra arrays are its field's copies (by the parity of current_mb_nr) and mb_y, block_y, pix_y and
// pix_c_y count field rows.
class MbaffFieldView
{
public:
    MbaffFieldView(H264DecoderState &dec, bool active);
    MbaffFieldView(const MbaffFieldView &) = delete;
    MbaffFieldView &operator=(const MbaffFieldView &) = delete;
    ~MbaffFieldView() { End(); }
    void End();

private:
    H264DecoderState &m_dec;
    bool m_active;
    struct Saved
    {
        Array3D<int> *mv = nullptr, *fwd_mv = nullptr, *bwd_mv = nullptr, *direct_fwd_mv = nullptr,
                     *direct_bwd_mv = nullptr;
        Array2D<int> *ref_idx_arr = nullptr, *fwd_ref = nullptr, *bwd_ref = nullptr, *intra_modes = nullptr,
                     *moving_block = nullptr;
        int mb_y = 0, block_y = 0, pix_y = 0, pix_c_y = 0;
    } m_saved;
};

// Motion of an inter macroblock (modes 1, 2, 3, 8).
void h264dec_read_motion_info(H264DecoderState &dec);
// Predicted vector of reference r for the partition at (bx, by) 4x4 blocks inside the macroblock,
// w x h pixels, over a reference array [row][column] and a vector array [column + 4][row][component].
void h264dec_predict_vector(H264DecoderState &dec, int *mvx, int *mvy, int r, Array2D<int> &refs,
                            Array3D<int> &mvs, int bx, int by, int w, int h);

// Residual of the current macroblock: pattern, quantiser change, levels into coef and chroma_dc.
void h264dec_read_residual(H264DecoderState &dec);
// One CAVLC block of type 0 Luma, 1 Lum16DC, 2 Lum16AC, 6 ChrDC or 7 ChrAC at block (i, j).
void readCoeff4x4_CAVLC(H264DecoderState &dec, int block_type, int i, int j, int levarr[16], int runarr[16],
                        int *number_coefficients);
int h264dec_predict_nc_luma(H264DecoderState &dec, int i, int j);
int h264dec_predict_nc_chroma(H264DecoderState &dec, int i, int j);

// Scans (position -> column, row) and the level scale of dequantisation.
extern const int kFrameScan[16][2];
extern const int kFieldScan[16][2];
extern const int kDequantCoef[6][4][4];
extern const int kChromaQp[52];

// Limits of the values a macroblock may carry.
constexpr int kMaxVectorComponent = 8192; // quarter samples

// Shared by the three readers: the current macroblock, element reading with the run's error for a
// read past the data, and the end of a run that names the picture.
DecoderMacroblock &h264dec_current_mb(H264DecoderState &dec);
// Macroblock `index` exists and belongs to the slice being read.
bool h264dec_mb_in_slice(const H264DecoderState &dec, int index);
// Quadrant `quadrant` of macroblock `index` is intra (true for a macroblock outside the picture).
bool h264dec_quadrant_intra(const H264DecoderState &dec, int index, int quadrant);
[[noreturn]] void h264dec_macroblock_error(const H264DecoderState &dec, const std::string &what);
using CabacReadFn = void (*)(SyntaxSymbol *sym, H264DecoderState &dec, CabacDecoder *cabac);
bool h264dec_is_cabac(const H264DecoderState &dec);
// Reads one element of the kind: CABAC through the reader, CAVLC as an Exp-Golomb code word mapped
// by map_fn (ue when null).
void h264dec_read_mb_element(H264DecoderState &dec, SyntaxSymbol &sym, int kind, CabacReadFn cabac_fn,
                             const char *what);
DataPartition &h264dec_partition(H264DecoderState &dec, int kind);
// Index in mb_data of the macroblock above in the current addressing (a field macroblock of an MBAFF
// frame looks at the pair above).
int h264dec_above_index(const DecoderImage &img);
