// Transforms across components before the wavelet transform, at every sample position. The colour
// transforms work on the first three components: the reversible one (RCT) is exact in integers,
// YCbCr decorrelates better but rounds. A wavelet along the component axis and a linear matrix work
// on all components.
#pragma once

#include "jpeg2000/wavelet_kernels.h"

#include <cstdint>
#include <vector>

namespace zn::j2k {

// In place over three rows of `width` samples: R, G, B become c0, c1, c2 and back.
void rct_forward(int32_t *r, int32_t *g, int32_t *b, int width);
void rct_inverse(int32_t *c0, int32_t *c1, int32_t *c2, int width);
void ycc_forward(int32_t *r, int32_t *g, int32_t *b, int width);
void ycc_inverse(int32_t *c0, int32_t *c1, int32_t *c2, int width);

// Levels of the wavelet across n components: floor(log2(n) - 1), none for 2 or 3 components.
int component_axis_levels(int n);
// The wavelet across the n rows of `rows`: each level splits the current low group of c components
// into ceil(c/2) low-pass and floor(c/2) high-pass components. Integer kernels lift exactly; other
// kernels filter by convolution and truncate to integers.
void axis_analysis(const wavelet_kernel &k, int32_t *const *rows, int n, int width);
void axis_synthesis(const wavelet_kernel &k, int32_t *const *rows, int n, int width);
// Per component, the L2 norm of the component-axis synthesis basis of the band it holds and the
// product of the analysis gains along its path: the scales of its band norms and gains.
void axis_band_scales(const wavelet_kernel &k, int n, std::vector<float> *norm, std::vector<float> *gain);
// y_r = sum_i M[r][i] x_i at every position, M in raster order (n x n), kept as the integer part of
// y_r + 0.5.
void matrix_transform(const std::vector<float> &M, int32_t *const *rows, int n, int width);

} // namespace zn::j2k
