// Motion-compensated prediction of the encoder: half-pel block copies, the derived vectors of dual
// prime, and the prediction of every macroblock of a picture (frame, field, 16 x 8, dual prime).
#pragma once

#include <cstdint>

// Block-wise prediction sample at half-pel position: copy, mean of two or of four neighbours.
void PredictBlock(const uint8_t *src, int srcStride, uint8_t *dst, int dstStride, int w, int h, int dx,
                  int dy, bool average);
// Dual prime: from the same-parity vector (mx, my), in field units, and the differential, the
// opposite-parity vectors: frame pictures give [0] top-from-bottom and [1] bottom-from-top, field
// pictures only [0].
void DualPrimeVectors(int out[2][2], const int dmvector[2], int mx, int my, int pictStruct, int topFirst);
