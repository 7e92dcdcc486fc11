// Transforms across the first three components before the wavelet transform. The reversible one
// (RCT) is exact in integers; YCbCr decorrelates better but rounds.
#pragma once

#include <cstdint>

namespace zn::j2k {

// In place over three rows of `width` samples: R, G, B become c0, c1, c2 and back.
void rct_forward(int32_t *r, int32_t *g, int32_t *b, int width);
void rct_inverse(int32_t *c0, int32_t *c1, int32_t *c2, int width);
void ycc_forward(int32_t *r, int32_t *g, int32_t *b, int width);
void ycc_inverse(int32_t *c0, int32_t *c1, int32_t *c2, int width);

} // namespace zn::j2k
