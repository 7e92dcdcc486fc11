// The encoder's 8 x 8 transforms: a separable floating-point forward DCT and the integer inverse DCT
// (row then column passes with 11-bit constants) that reconstructs the pictures.
#pragma once

#include <cstdint>

void ForwardDct(int16_t *block);
void Idct(int16_t *block);
// Block-wise prediction sample at half-pel position: copy, mean of two or of four neighbours.
void PredictBlock(const uint8_t *src, int srcStride, uint8_t *dst, int dstStride, int w, int h, int dx,
                  int dy, bool average);
