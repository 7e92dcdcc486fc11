// Eighth-sample chroma prediction of whole blocks: each sample is the bilinear mix of its four
// neighbours with weights (8 - fx, fx) x (8 - fy, fy), rounded, every coordinate clamped to the plane.
#pragma once

#include "h264dec/dec_memory.h"

#include <cstdint>

// The w x h block (w, h 2, 4 or 8) whose top-left sample sits at (X, Y) eighth samples, into
// out[y * stride + x]; width and height bound the plane's readable part. The reference takes every
// sample from h264dec_chroma_sample; the fast one mixes whole rows, straight from the plane when the
// block and its right and lower neighbours lie inside it.
void h264dec_chroma_pred_reference(const Array2D<uint8_t> &plane, int width, int height, int X, int Y, int w,
                                   int h, uint8_t *out, int stride);
void h264dec_chroma_pred_fast(const Array2D<uint8_t> &plane, int width, int height, int X, int Y, int w,
                              int h, uint8_t *out, int stride);
