// Convex hull slopes, their codes and the slope histogram of coded blocks.
#include "jpeg2000/rate_slopes.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace zn::j2k {

int16_t slope_code(double x)
{
    constexpr double kTop = 1.9990234375; // 1 + 511.5 / 512: the largest mantissa
    int e = 0;
    while (x > kTop && e < 62) {
        x /= 2;
        ++e;
    }
    if (x > kTop)
        x = kTop;
    double m = std::floor((x - 1) * 512 + 0.5);
    if (m <= 0)
        return static_cast<int16_t>(512 * e + 1);
    return static_cast<int16_t>(512 * e + std::min(511.0, m));
}

void compute_slopes(pass_record *passes, const double *distortion, int n)
{
    for (int i = 0; i < n; ++i)
        passes[i].slope = 0;
    int settled = 0;
    bool restart = true;
    while (restart) {
        restart = false;
        int last = -1;
        double last_value = 0;
        for (int i = 0; i < n && !restart; ++i) {
            if (i < settled && passes[i].slope <= 0)
                continue;
            double dD = distortion[i] - (last >= 0 ? distortion[last] : 0.0);
            double dR = double(passes[i].length) - (last >= 0 ? double(passes[last].length) : 0.0);
            if (dD <= 0) {
                passes[i].slope = -1;
                settled = std::max(settled, i + 1);
                continue;
            }
            if (last >= 0 && (dR == 0 || dD / dR >= last_value)) {
                passes[last].slope = 0; // not on the hull: sweep again
                restart = true;
                continue;
            }
            if (dR <= 0) {
                passes[i].slope = kLargestSlopeCode;
                last_value = std::numeric_limits<double>::infinity();
            } else {
                last_value = dD / dR;
                passes[i].slope = slope_code(last_value * 1073741824.0);
            }
            last = i;
            settled = std::max(settled, i + 1);
        }
    }
}

void add_to_histogram(int32_t histogram[kSlopeBins], const pass_record *passes, int n)
{
    int p = 0;
    int32_t bytes = 0;
    for (int j = kSlopeBins - 1; j >= 0; --j) {
        for (; p < n; ++p) {
            if ((passes[p].slope >> 9) >= j)
                bytes = passes[p].length;
            else if (passes[p].slope > 0)
                break;
        }
        histogram[j] += bytes;
    }
}

void apply_last_pass_rules(pass_record *passes, int n, bool started, bool reversible, bool no_truncation)
{
    if (n <= 0 || !started)
        return;
    if (no_truncation)
        for (int i = std::max(0, n - 3); i < n - 1; ++i)
            passes[i].slope = -1;
    if (!(reversible || no_truncation) || passes[n - 1].slope >= 1)
        return;
    pass_record &last = passes[n - 1];
    last.slope = 1;
    for (int i = n - 2; i >= 0; --i)
        if (passes[i].slope > 0) {
            if (passes[i].slope == 1 || passes[i].length == last.length) {
                last.slope = passes[i].slope;
                passes[i].slope = 0;
            }
            break;
        }
}

} // namespace zn::j2k
