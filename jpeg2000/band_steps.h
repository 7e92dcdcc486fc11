// Band gains, basis norms and quantisation step sizes. A band's basis norm is the energy that one
// unit coefficient of the band puts into the reconstructed image; dividing a base step by it makes
// the same step cost the same squared error in every band. Steps travel as an exponent and an
// 11-bit mantissa: step = 2^-e * (1 + m / 2048).
#pragma once

#include "jpeg2000/wavelet_kernels.h"

#include <vector>

namespace zn::j2k {

struct exp_mant
{
    int e = 0;
    int m = 0;
};

// x > 0, to the nearest 1/2048 of its octave; a mantissa that rounds up to 2048 carries.
exp_mant step_to_exp_mant(double x);
double exp_mant_to_step(int e, int m);
// The 16-bit step word of the code-stream: exponent in the top 5 bits, mantissa in the low 11.
exp_mant step_word_to_exp_mant(unsigned word);

// Largest of the DC and Nyquist gains of a filter; the L2 norm of its taps.
double filter_gain(const tap_set &f);
double filter_norm(const std::vector<double> &taps);
// h convolved with g upsampled by s (g's taps at multiples of s): the plain way to build a basis.
std::vector<double> upsample_convolve(const tap_set &g, const std::vector<double> &h, int s);
// The L2 norm of the cascade f_0 * up2(f_1 * up2(f_2 * ...)), stage j filtering at step 2^j, without
// building the basis (its support doubles per stage).
double cascade_norm(const std::vector<const tap_set *> &stages);

// Band (level, band) of a `levels`-level decomposition, addressed as the wavelet transform pushes
// it: level L..1 with bands 1..3, level 0 with the low-low band 0.
double band_basis_norm(const wavelet_kernel &vertical, const wavelet_kernel &horizontal, int levels,
                       int level, int band);
double band_nominal_gain(const wavelet_kernel &vertical, const wavelet_kernel &horizontal, int levels,
                         int level, int band);

// Exponent of a reversible band: the halvings that bring its nominal range to 1 (threshold 1.1).
int reversible_range_exponent(double nominal_range);
// Implicit steps: every band derives from the low-low band's step (exponent e0 + levels); a band of
// `level` with descent d sits levels - level + d splits below the image.
exp_mant implicit_band_step(double base_step, int levels, int level, int hp_descent = 1);

} // namespace zn::j2k
