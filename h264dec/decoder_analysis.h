// The analysis records of a run: what the reconstruction of each macroblock leaves for the decoder's
// views (block-division overlay, vector and intra-direction strokes, intra marks, the residual plane,
// the bits of every macroblock) and the per-picture macroblock-mode counters of the picture text.
#pragma once

#include "h264dec/dec_memory.h"

#include <cstdint>

struct H264DecoderState;
struct DecoderMacroblock;

// Indices of the ten macroblock-mode counters.
enum MbModeCounter {
    kCountDirect = 0,
    kCount16x16 = 1,
    kCount16x8 = 2,
    kCount8x16 = 3,
    kCount8x8 = 4,
    kCount8x4 = 5,
    kCount4x8 = 6,
    kCount4x4 = 7,
    kCountIntra4x4 = 8,
    kCountIntra16x16 = 9,
    kMbModeCounters = 10
};

struct DecoderAnalysis
{
    // Set by whoever shows the views. While `paint` is clear the overlays are not painted at all:
    // the counters, bits and pictures do not depend on it.
    bool paint = false;
    bool intra_shown = false;   // vis_intra_shown: intra-direction glyphs go into the vector planes
    bool intra_colored = false; // vis_intra_colored: and colour them
    bool vectors_drawn = false; // motion vectors go into the vector planes
    // Something was painted into the overlay planes since they were last reset; while nothing was, the
    // reset after each picture has nothing to clear (the usual case with the views off).
    bool overlays_dirty = true;

    // Luma-sized planes of the picture being decoded (frame size; field pictures use their own rows).
    Array2D<uint8_t> vis_vec_y, vis_bdiv_y, vis_intra_mark, vis_residual_y;
    Array3D<uint8_t> vis_vec_uv, vis_bdiv_uv; // two planes at luma resolution, 127 = uncoloured

    Array2D<int> mb_bits; // [mb row][mb column]
    int mb_bits_max = 0;
    int mb_bits_sequence_max = 0;
    int mb_mode_count[kMbModeCounters] = {};
    int mb_mode_count_total[kMbModeCounters] = {};
    int vis_pic_type = 0; // type index of the last picture handed to the views
};

// The records for a frame of width x height, overlays cleared, counters at 0.
void dec_alloc_analysis(DecoderAnalysis &a, int width, int height);
// After a picture has been handed to the views: overlays and intra marks back to their empty values.
void dec_reset_analysis_planes(DecoderAnalysis &a);
// Between pictures (the run loop's step): the ten counters, the largest bit count and the bit count of
// the current macroblock.
void dec_clear_picture_counters(H264DecoderState &dec);

// Reconstruction hooks of the macroblock at img's position: its mode counter and block-division lines
// (with the intra mark of intra macroblocks), then its bit count.
void h264dec_count_macroblock(H264DecoderState &dec, const DecoderMacroblock &mb);
void h264dec_store_mb_bits(H264DecoderState &dec);

// One motion vector of a 4x4 block at pixel (x, y), in quarter samples, for the vector view. The
// flags mark forward (U) and backward (V) vectors. Drawn only while painting and vectors_drawn are on.
void h264dec_draw_vector(H264DecoderState &dec, int x, int y, int sub_mode, int dx, int dy, int u_mark,
                         int v_mark);

// Intra-direction glyphs into the vector planes, when the intra view is on: a 4x4 block's mode at its
// top-left pixel, a 16x16 macroblock's mode at the macroblock's.
void h264dec_paint_intra4x4_glyph(H264DecoderState &dec, int mode, int x, int y);
void h264dec_paint_intra16x16_glyph(H264DecoderState &dec, int mode, int x, int y);
