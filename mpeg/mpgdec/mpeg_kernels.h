// The pixel kernels of MPEG-1/2 decoding, shared with the encoder's reconstruction loop: the integer
// inverse DCT, half-pel prediction of a block, and the writing of a transformed block onto its
// prediction. Each has a plain form that follows the definition one sample at a time and a fast form
// (SSE2, which every x86-64 processor has; elsewhere the fast form is the plain one) that must give
// the same bytes for every input, extreme ones included: the tests hold them to that.
#pragma once

#include <cstdint>

namespace zn {

// 8 x 8 inverse DCT in place: rows, then columns, 11-bit cosine constants (see mpgdec_idct.cpp).
void InverseDctPlain(short *block);
void InverseDctFast(short *block); // AVX2 where the processor has it, else SSE2
void InverseDctSse2(short *block);

// w x h samples of dst (line stride ds) from src (line stride ss) at half-pel flags hx, hy: a copy,
// the rounded mean of two neighbours, or of four. With average the result is the rounded mean of
// the prediction already in dst and the new one (bidirectional and dual-prime prediction).
void PredictRowsPlain(const uint8_t *src, int ss, uint8_t *dst, int ds, int w, int h, int hx, int hy,
                      bool average);
void PredictRowsFast(const uint8_t *src, int ss, uint8_t *dst, int ds, int w, int h, int hx, int hy,
                     bool average);

// An 8 x 8 block of differences added to its prediction (pred and dst share the line stride and may be
// the same samples), clipped to 0..255: a non-intra block.
void AddBlockPlain(const short *blk, const uint8_t *pred, uint8_t *dst, int stride);
void AddBlockFast(const short *blk, const uint8_t *pred, uint8_t *dst, int stride);
// An 8 x 8 block around mid-grey, clipped to 0..255: an intra block, or the coded difference shown.
void PutBlockPlain(const short *blk, uint8_t *dst, int stride);
void PutBlockFast(const short *blk, uint8_t *dst, int stride);

} // namespace zn
