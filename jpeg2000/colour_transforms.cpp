#include "jpeg2000/colour_transforms.h"

#include "jpeg2000/band_steps.h"
#include "jpeg2000/wavelet_transform.h"

#include <algorithm>
#include <cmath>

namespace zn::j2k {

// Sums are taken in 64 bits: samples of any 32-bit range cannot overflow the intermediate values.
void rct_forward(int32_t *r, int32_t *g, int32_t *b, int width)
{
    for (int i = 0; i < width; ++i) {
        int64_t R = r[i], G = g[i], B = b[i];
        r[i] = int32_t((R + 2 * G + B) >> 2);
        g[i] = int32_t(R - G);
        b[i] = int32_t(B - G);
    }
}

void rct_inverse(int32_t *c0, int32_t *c1, int32_t *c2, int width)
{
    for (int i = 0; i < width; ++i) {
        int64_t y = c0[i], u = c1[i], v = c2[i];
        int64_t G = y - ((u + v) >> 2);
        c0[i] = int32_t(u + G);
        c1[i] = int32_t(G);
        c2[i] = int32_t(v + G);
    }
}

void ycc_forward(int32_t *r, int32_t *g, int32_t *b, int width)
{
    for (int i = 0; i < width; ++i) {
        double R = r[i], G = g[i], B = b[i];
        r[i] = int32_t(std::floor(0.299 * R + 0.587 * G + 0.114 * B + 0.5));
        g[i] = int32_t(std::floor(-0.16875 * R - 0.33126 * G + 0.5 * B + 0.5));
        b[i] = int32_t(std::floor(0.5 * R - 0.41869 * G - 0.08131 * B + 0.5));
    }
}

void ycc_inverse(int32_t *c0, int32_t *c1, int32_t *c2, int width)
{
    for (int i = 0; i < width; ++i) {
        double y = c0[i], cb = c1[i], cr = c2[i];
        c0[i] = int32_t(std::floor(y + 0.5 - 0.00001 * cb + 1.402 * cr));
        c1[i] = int32_t(std::floor(y + 0.5 - 0.34413 * cb - 0.71414 * cr));
        c2[i] = int32_t(std::floor(y + 1.772 * cb + 0.00004 * cr + 0.5));
    }
}

int component_axis_levels(int n)
{
    if (n < 1)
        return 0;
    return std::max(0, int(std::floor(std::log2(double(n)) - 1)));
}

namespace {

// The sizes of the low group at each level: n, ceil(n/2), ...
std::vector<int> GroupSizes(int n)
{
    std::vector<int> c;
    for (int level = 0, size = n; level < component_axis_levels(n); ++level, size = (size + 1) / 2)
        c.push_back(size);
    return c;
}

} // namespace

void axis_analysis(const wavelet_kernel &k, int32_t *const *rows, int n, int width)
{
    std::vector<int> groups = GroupSizes(n);
    bool integer = k.type == kKernelIntLifting;
    std::vector<int32_t> x(static_cast<size_t>(n)), lo(x.size()), hi(x.size());
    std::vector<float> fx(static_cast<size_t>(n)), flo(fx.size()), fhi(fx.size());
    for (int i = 0; i < width; ++i) {
        for (int c = 0; c < n; ++c)
            x[size_t(c)] = rows[c][i];
        for (int c : groups) {
            int nl = (c + 1) / 2;
            if (integer) {
                lift_analysis(k, x.data(), c, 0, lo.data(), hi.data());
            } else {
                for (int j = 0; j < c; ++j)
                    fx[size_t(j)] = float(x[size_t(j)]);
                conv_analysis(k, fx.data(), c, 0, flo.data(), fhi.data());
                for (int j = 0; j < nl; ++j)
                    lo[size_t(j)] = int32_t(std::trunc(flo[size_t(j)]));
                for (int j = 0; j < c - nl; ++j)
                    hi[size_t(j)] = int32_t(std::trunc(fhi[size_t(j)]));
            }
            std::copy(lo.begin(), lo.begin() + nl, x.begin());
            std::copy(hi.begin(), hi.begin() + (c - nl), x.begin() + nl);
        }
        for (int c = 0; c < n; ++c)
            rows[c][i] = x[size_t(c)];
    }
}

void axis_synthesis(const wavelet_kernel &k, int32_t *const *rows, int n, int width)
{
    std::vector<int> groups = GroupSizes(n);
    bool integer = k.type == kKernelIntLifting;
    std::vector<int32_t> x(static_cast<size_t>(n)), out(x.size());
    std::vector<float> flo(static_cast<size_t>(n)), fhi(flo.size()), fout(flo.size());
    for (int i = 0; i < width; ++i) {
        for (int c = 0; c < n; ++c)
            x[size_t(c)] = rows[c][i];
        for (auto it = groups.rbegin(); it != groups.rend(); ++it) {
            int c = *it, nl = (c + 1) / 2;
            if (integer) {
                lift_synthesis(k, x.data(), x.data() + nl, c, 0, out.data());
            } else {
                for (int j = 0; j < nl; ++j)
                    flo[size_t(j)] = float(x[size_t(j)]);
                for (int j = 0; j < c - nl; ++j)
                    fhi[size_t(j)] = float(x[size_t(nl + j)]);
                conv_synthesis(k, flo.data(), fhi.data(), c, 0, fout.data());
                for (int j = 0; j < c; ++j)
                    out[size_t(j)] = int32_t(std::trunc(fout[size_t(j)]));
            }
            std::copy(out.begin(), out.begin() + c, x.begin());
        }
        for (int c = 0; c < n; ++c)
            rows[c][i] = x[size_t(c)];
    }
}

void axis_band_scales(const wavelet_kernel &k, int n, std::vector<float> *norm, std::vector<float> *gain)
{
    std::vector<int> groups = GroupSizes(n);
    norm->assign(size_t(n), 1.0f);
    gain->assign(size_t(n), 1.0f);
    double gl = filter_gain(k.analysis_low), gh = filter_gain(k.analysis_high);
    for (int j = 0; j < n; ++j) {
        std::vector<const tap_set *> stages;
        double g = 1.0;
        for (int c : groups) {
            if (j >= c)
                break;
            bool high = j >= (c + 1) / 2;
            stages.push_back(high ? &k.synthesis_high : &k.synthesis_low);
            g *= high ? gh : gl;
            if (high)
                break;
        }
        (*norm)[size_t(j)] = float(cascade_norm(stages));
        (*gain)[size_t(j)] = float(g);
    }
}

void matrix_transform(const std::vector<float> &M, int32_t *const *rows, int n, int width)
{
    std::vector<float> x(static_cast<size_t>(n));
    for (int i = 0; i < width; ++i) {
        for (int c = 0; c < n; ++c)
            x[size_t(c)] = float(rows[c][i]);
        for (int r = 0; r < n; ++r) {
            float y = 0;
            for (int c = 0; c < n; ++c)
                y += M[size_t(r) * size_t(n) + size_t(c)] * x[size_t(c)];
            double v = std::trunc(double(y) + 0.5);
            rows[r][i] = int32_t(std::clamp(v, -2147483648.0, 2147483647.0));
        }
    }
}

} // namespace zn::j2k
