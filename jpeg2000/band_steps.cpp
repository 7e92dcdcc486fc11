#include "jpeg2000/band_steps.h"

#include "jpeg2000/local_services.h"

#include <algorithm>
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

double cascade_norm(const std::vector<const tap_set *> &stages)
{
    // The energy is the cascade's autocorrelation at lag 0. Working from the deepest stage outwards,
    // the autocorrelation at lags |l| <= W (W the longest filter's span) needs only the next stage's
    // lags |l| <= W, so the work stays small however deep the cascade and however wide its basis.
    int W = 0;
    for (const tap_set *f : stages)
        W = std::max(W, f->Count() - 1);
    std::vector<double> R(size_t(2 * W + 1), 0.0), next(R.size());
    R[size_t(W)] = 1.0;
    for (auto it = stages.rbegin(); it != stages.rend(); ++it) {
        const tap_set &f = **it;
        int n = f.Count();
        std::vector<double> r(size_t(2 * n - 1), 0.0); // autocorrelation of f, lag -(n-1) .. n-1
        for (int l = -(n - 1); l <= n - 1; ++l)
            for (int k = 0; k < n; ++k)
                if (k + l >= 0 && k + l < n)
                    r[size_t(l + n - 1)] += double(f.taps[size_t(k)]) * f.taps[size_t(k + l)];
        std::fill(next.begin(), next.end(), 0.0);
        for (int l = -W; l <= W; ++l)
            for (int m = -W; m <= W; ++m) {
                int lag = l - 2 * m;
                if (lag >= -(n - 1) && lag <= n - 1)
                    next[size_t(l + W)] += r[size_t(lag + n - 1)] * R[size_t(m + W)];
            }
        R.swap(next);
    }
    return std::sqrt(std::max(0.0, R[size_t(W)]));
}

namespace {

// The 1-D synthesis basis of a band in one direction: `depth` low-pass stages, then the band's own
// filter (none for the final low-low band).
double ChainNorm(const wavelet_kernel &k, int depth, int high)
{
    std::vector<const tap_set *> stages(size_t(depth), &k.synthesis_low);
    if (high >= 0)
        stages.push_back(high ? &k.synthesis_high : &k.synthesis_low);
    return cascade_norm(stages);
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
        return ChainNorm(horizontal, levels, -1) * ChainNorm(vertical, levels, -1);
    int depth = levels - level;
    return ChainNorm(horizontal, depth, band & 1) * ChainNorm(vertical, depth, band >> 1);
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

exp_mant implicit_band_step(double base_step, int levels, int level, int hp_descent)
{
    exp_mant r = step_to_exp_mant(base_step);
    r.e += level == 0 ? levels : levels - level + hp_descent;
    return r;
}

} // namespace zn::j2k
