// Layer targets and thresholds. The targets between two given rates grow geometrically, since
// quality rises roughly with the logarithm of the rate; a layer that would add almost nothing over
// the one below is dropped rather than cost a packet head per precinct.
#include "jpeg2000/layer_targets.h"

#include "jpeg2000/command_line.h"
#include "jpeg2000/local_services.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace zn::j2k {

std::vector<layer_record> make_layer_table(command_line *args, int64_t pixels, int32_t budget)
{
    std::vector<layer_record> layers;
    const char *const *params = nullptr;
    const int count = args ? args->find("-Clayers", -1, &params) : -1;
    if (count < 0) {
        layers.push_back(layer_record{budget, 0, 1, 0});
        return layers;
    }
    if (count == 0) {
        layers.resize(60);
        layers[0] = layer_record{static_cast<int32_t>(double(pixels) * 0.001875), 0, 1, 0};
        layers[49] = layer_record{static_cast<int32_t>(double(pixels) * 0.25), 0, 1, 0};
        layers[59] = layer_record{budget, 0, 1, 0};
        return layers;
    }
    int32_t last = 0;
    for (int i = 0; i < count;) {
        const char *p = params[i];
        double rate = 0;
        if (p[0] != '+' && std::sscanf(p, "%lf", &rate) != 1)
            break;
        if (p[0] == '+' || !(rate > 0))
            local_error(
                "The `-Clayers' argument must have zero or more specification blocks, each starting with a "
                "valid positive bit-rate parameter; found \"%s\" instead!",
                p);
        const int32_t target =
            static_cast<int32_t>(std::clamp(double(pixels) * rate * 0.125, 1.0, double(INT32_MAX)));
        if (target <= last)
            local_error("The bit-rates supplied to `-Clayers' must appear in increasing order!");
        last = target;
        layers.push_back(layer_record{target, 0, 1, 0});
        ++i;
        if (i < count && params[i][0] == '+') {
            int extra = -1;
            if (std::sscanf(params[i] + 1, "%d", &extra) != 1 || extra < 0)
                local_error(
                    "The `-Clayers' argument contains an incorrectly formatted parameter identifying extra "
                    "bit-stream layers!");
            if (extra > 65535 - static_cast<int>(layers.size()))
                local_error(
                    "The `-Clayers' argument asks for more than 65535 quality layers, which the code-stream "
                    "cannot signal!");
            layers.insert(layers.end(), size_t(extra), layer_record{});
            ++i;
        }
    }
    layers.push_back(layer_record{budget, 0, 1, 0});
    return layers;
}

void form_layer_targets(std::vector<layer_record> &layers, int32_t M)
{
    const int32_t H = kHeaderAllowance;
    const int32_t F = layers.back().target - H;
    size_t i = 0;
    int32_t I = M;
    auto log_of = [](int32_t target) { return std::log(double(std::max<int32_t>(1, target))); };
    while (i + 1 < layers.size()) {
        size_t j = i + 1;
        while (!layers[j].fixed && j + 1 < layers.size())
            ++j;
        double e = log_of(layers[i].target);
        const double d = log_of(layers[j].target);
        while (i < j) {
            const int32_t g = static_cast<int32_t>(std::exp(e)) - H;
            layers[i].target = g;
            e += (d - e) / double(j - i);
            const int32_t previous = i > 0 ? layers[i - 1].target : 0;
            if (g - previous < M) {
                layers.erase(layers.begin() + std::ptrdiff_t(i));
                --j;
            } else {
                if (g < F)
                    I = g - previous;
                ++i;
            }
        }
    }
    i = layers.size() - 1;
    layers[i].target = F;
    while (i > 0 && F - layers[i - 1].target < I - 1) {
        layers.erase(layers.begin() + std::ptrdiff_t(i - 1));
        --i;
    }
    if (i == 0 && F <= 0)
        local_error(
            "Requested target bit-rate is probably too small to accommodate the global header, let alone any "
            "coded subband samples!");
    layers[0].fixed = 1;
}

int estimate_threshold(const int32_t hist[kSlopeBins], int T, int32_t A, int32_t G)
{
    auto ln = [](double v) { return std::log(std::max(1.0, v)); };
    int i = 62;
    while (i >= 0 && 512 * i >= T)
        --i;
    int j = i + 1;
    if (i >= 0 && hist[j] != hist[i]) {
        double Hj = hist[j], Hi = hist[i], Ap = A;
        if (hist[j] == 0) {
            Hj = Hi + 1;
            Ap = Hi + A + 1;
            Hi = 2 * Hi + 1;
        }
        const double x = (T >> 9) + std::log2(1.0 + double(T & 511) / 512.0);
        const double predicted = ln(Hj) + (ln(Hi) - ln(Hj)) * (x - j) / double(i - j);
        const double c = ln(Ap) - predicted;
        if (c > 0)
            G = static_cast<int32_t>(std::exp(ln(G) - c));
    }
    int k = j;
    while (k >= 0 && hist[k] <= G)
        --k;
    if (k == 63)
        k = 62;
    const int l = k + 1;
    if (k >= 0 && hist[l] != hist[k]) {
        double Hl = hist[l], Hk = hist[k], Gp = G;
        if (hist[l] == 0) {
            Hl = Hk + 1;
            Gp = Hk + G + 1;
            Hk = 2 * Hk + 1;
        }
        const double g = l + (k - l) * (ln(Gp) - ln(Hl)) / (ln(Hk) - ln(Hl));
        const double q = std::floor(g);
        const double m = std::floor((std::exp2(g - q) - 1) * 512 + 0.5);
        if (m < 0)
            return static_cast<int>(512 * q);
        if (m > 511)
            return static_cast<int>(512 * (q + 1));
        return static_cast<int>(512 * q + m);
    }
    return 512 * l;
}

int bisect_threshold(const int32_t hist[kSlopeBins], int upper, int32_t G, bool from_zero,
                     const std::function<int64_t(int)> &simulate_total)
{
    int d = upper, e = 0;
    if (from_zero) {
        d = kNothingThreshold;
    } else {
        int n = 63;
        while (n >= 1 && hist[n] < G)
            --n;
        e = 512 * std::max(n, 0);
        if (e >= d && n > 0)
            e -= 512;
    }
    int f = (e + d + 1) / 2;
    for (;;) {
        if (simulate_total(f) > G) {
            e = f;
            f = d;
        }
        const int h = (e + f + 1) / 2;
        if (h >= f)
            return h;
        d = f;
        f = h;
    }
}

} // namespace zn::j2k
