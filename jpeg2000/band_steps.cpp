#include "jpeg2000/band_steps.h"

#include "jpeg2000/local_services.h"

#include <cmath>

namespace zn::j2k {

exp_mant step_to_exp_mant(double x)
{
    if (!(x > 0) || !std::isfinite(x))
        local_error("Illegal quantization step size, %g!  Steps must be finite and strictly positive.", x);
    exp_mant r;
    while (x >= 2) {
        x /= 2;
        r.e -= 1;
    }
    while (x < 1) {
        x *= 2;
        r.e += 1;
    }
    r.m = int(std::floor((x - 1) * 2048 + 0.5));
    if (r.m == 2048) {
        r.m = 0;
        r.e -= 1;
    }
    return r;
}

double exp_mant_to_step(int e, int m)
{
    return (1.0 + m / 2048.0) * std::ldexp(1.0, -e);
}

exp_mant step_word_to_exp_mant(unsigned word)
{
    return {int((word >> 11) & 31), int(word & 2047)};
}

double filter_gain(const tap_set &f)
{
    double sum = 0, alt = 0;
    for (size_t k = 0; k < f.taps.size(); ++k) {
        sum += f.taps[k];
        alt += (k & 1) ? -f.taps[k] : f.taps[k];
    }
    return std::max(std::fabs(sum), std::fabs(alt));
}

double filter_norm(const std::vector<double> &taps)
{
    double s = 0;
    for (double t : taps)
        s += t * t;
    return std::sqrt(s);
}

std::vector<double> upsample_convolve(const tap_set &g, const std::vector<double> &h, int s)
{
    int glen = g.Count();
    std::vector<double> out(h.size() + size_t((glen - 1) * s), 0.0);
    for (size_t i = 0; i < h.size(); ++i)
        for (int k = 0; k < glen; ++k)
            out[i + size_t(k * s)] += h[i] * g.taps[size_t(k)];
    return out;
}

namespace {

// The 1-D synthesis basis of a band in one direction: `depth` low-pass stages, then the band's own
// filter (none for the final low-low band).
std::vector<double> Chain(const wavelet_kernel &k, int depth, int high)
{
    std::vector<double> h{1.0};
    for (int i = 0; i < depth; ++i)
        h = upsample_convolve(k.synthesis_low, h, 1 << i);
    if (high >= 0)
        h = upsample_convolve(high ? k.synthesis_high : k.synthesis_low, h, 1 << depth);
    return h;
}

void CheckBand(int levels, int level, int band)
{
    bool ok = levels >= 0 && levels <= 32 && level >= 0 && level <= levels &&
              (level == 0 ? band == 0 : band >= 1 && band <= 3);
    if (!ok)
        local_error("No band %d at level %d of a %d-level decomposition.", band, level, levels);
}

} // namespace

double band_basis_norm(const wavelet_kernel &vertical, const wavelet_kernel &horizontal, int levels,
                       int level, int band)
{
    CheckBand(levels, level, band);
    if (level == 0)
        return filter_norm(Chain(horizontal, levels, -1)) * filter_norm(Chain(vertical, levels, -1));
    int depth = levels - level;
    return filter_norm(Chain(horizontal, depth, band & 1)) * filter_norm(Chain(vertical, depth, band >> 1));
}

double band_nominal_gain(const wavelet_kernel &vertical, const wavelet_kernel &horizontal, int levels,
                         int level, int band)
{
    CheckBand(levels, level, band);
    double low = filter_gain(vertical.analysis_low) * filter_gain(horizontal.analysis_low);
    int depth = level == 0 ? levels : levels - level;
    double g = std::pow(low, depth);
    if (level > 0)
        g *= filter_gain((band >> 1) ? vertical.analysis_high : vertical.analysis_low) *
             filter_gain((band & 1) ? horizontal.analysis_high : horizontal.analysis_low);
    return g;
}

int reversible_range_exponent(double range)
{
    int e = 0;
    while (range < 1) {
        range *= 2;
        e -= 1;
    }
    while (range > 1.1) {
        range /= 2;
        e += 1;
    }
    return e;
}

exp_mant implicit_band_step(double base_step, int levels, int level)
{
    exp_mant r = step_to_exp_mant(base_step);
    r.e += level == 0 ? levels : levels - level;
    return r;
}

} // namespace zn::j2k
