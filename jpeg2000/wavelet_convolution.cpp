// One-dimensional convolution with a kernel's equivalent filters, the path "-Fconv" selects for
// non-reversible kernels. The row is extended symmetrically (whole-sample for odd-length filters,
// half-sample for even-length ones) or, with point-symmetric extension, by reflecting through the
// edge sample, which keeps a straight line straight at the row's ends.
#include "jpeg2000/local_services.h"
#include "jpeg2000/wavelet_transform.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace zn::j2k {

namespace {

[[noreturn]] void OddStartWithEvenFilters()
{
    local_error(
        "Cannot start image, tile or frame with an odd indexed sample when using even length filters!  "
        "Use odd length filters!");
}

[[noreturn]] void OddStartWithPse()
{
    local_error(
        "Cannot start image, tile or frame with an odd indexed sample when using the PSE!  Use regular "
        "symmetric extension!");
}

[[noreturn]] void PseTooShort()
{
    local_error("Point symmetric extension currently doesn't handle such a high number of levels of "
                "decomposition with this tile size.");
}

bool EvenLength(const wavelet_kernel &k)
{
    return (k.analysis_low.Count() & 1) == 0;
}

// A sequence with `margin` samples of room on both sides, addressed from -margin.
struct Extended
{
    Extended(int n, int margin) : n(n), margin(margin), v(size_t(n + 2 * margin), 0.0) {}
    double &operator[](int i) { return v[size_t(i + margin)]; }
    double Read(int i) const
    {
        int k = i + margin;
        return (k < 0 || k >= int(v.size())) ? 0.0 : v[size_t(k)];
    }
    int n, margin;
    std::vector<double> v;
};

// Fills both margins. A sequence shorter than its margins reflects back and forth, so a reflected
// sample may itself lie in the other margin: the fill repeats until nothing changes.
template <class Left, class Right> void FillMargins(Extended &x, Left left, Right right)
{
    for (int pass = 0; pass <= 2 * x.margin + 2; ++pass) {
        bool changed = false;
        for (int j = 1; j <= x.margin; ++j) {
            double l = left(j), r = right(j);
            changed = changed || l != x[-j] || r != x[x.n - 1 + j];
            x[-j] = l;
            x[x.n - 1 + j] = r;
        }
        if (!changed)
            break;
    }
}

int Margin(const tap_set &a, const tap_set &b)
{
    return std::max({a.neg_support, a.pos_support, b.neg_support, b.pos_support}) + 1;
}

} // namespace

void check_convolution_symmetry(const wavelet_kernel &k)
{
    bool even = EvenLength(k);
    for (int i = 0; i < 2; ++i) {
        const tap_set &h = i == 0 ? k.analysis_low : k.analysis_high;
        int N = h.neg_support, P = h.pos_support;
        bool ok;
        if (!even) {
            ok = N == P;
            for (int j = 0; ok && j <= P; ++j)
                ok = std::fabs(h.Tap(j) - h.Tap(-j)) <= 0.0001f;
        } else {
            ok = P + i == N - i + 1;
            if (ok && i == 0)
                for (int j = 0; ok && j < P; ++j)
                    ok = std::fabs(h.Tap(j + 1) - h.Tap(-j)) <= 0.0001f;
            if (ok && i == 1)
                for (int j = 0; ok && j < N; ++j)
                    ok = std::fabs(h.Tap(j) + h.Tap(-j - 1)) <= 0.0001f;
        }
        if (!ok)
            local_error(
                "Wavelet kernels may be implemented by convolution only if they satisfy the symmetry "
                "requirements imposed by the boundary extension policy.  All other kernels must be "
                "implemented by lifting -- i.e. the identifier supplied via the `-Fkernels' argument must be "
                "preceded with a capital `L'.");
    }
}

void conv_analysis(const wavelet_kernel &k, const float *in, int n, int first, float *low, float *high,
                   bool point_symmetric)
{
    if (n <= 0)
        return;
    check_convolution_symmetry(k);
    int b = first & 1;
    if (n == 1) {
        (b ? high : low)[0] = in[0];
        return;
    }
    bool even = EvenLength(k);
    int M = Margin(k.analysis_low, k.analysis_high);
    Extended x(n, M);
    for (int i = 0; i < n; ++i)
        x[i] = in[i];
    if (point_symmetric) {
        if (b)
            OddStartWithPse();
        if (even)
            local_error("Cannot use PSE with even length filters!");
        FillMargins(
            x, [&](int j) { return 2 * x.Read(0) - x.Read(j); },
            [&](int j) { return 2 * x.Read(n - 1) - x.Read(n - 1 - j); });
    } else if (even) {
        if (b)
            OddStartWithEvenFilters();
        FillMargins(
            x, [&](int j) { return x.Read(j - 1); }, [&](int j) { return x.Read(n - j); });
    } else {
        FillMargins(
            x, [&](int j) { return x.Read(j); }, [&](int j) { return x.Read(n - 1 - j); });
    }
    for (int i = 0; i < 2; ++i) {
        const tap_set &h = i == 0 ? k.analysis_low : k.analysis_high;
        float *out = i == 0 ? low : high;
        int start = b ^ i;
        int count = (n - start + 1) >> 1;
        for (int m = 0; m < count; ++m) {
            int centre = start + 2 * m;
            // Point-symmetric rows are reflected once; a window reaching past both ends cannot be.
            if (point_symmetric && centre - h.neg_support < 0 && centre + h.pos_support > n - 1)
                PseTooShort();
            double sum = 0;
            for (int j = -h.neg_support; j <= h.pos_support; ++j)
                sum += double(h.Tap(j)) * x.Read(centre + j);
            out[m] = float(sum);
        }
    }
    if (point_symmetric && (n & 1) == 0 && n >= 4) {
        // The last high-pass sample is traded for the last input sample, which synthesis needs as the
        // centre of its reflection.
        int L = n / 2 - 1;
        high[L] = float(double(low[L]) - 0.75 * x.Read(n - 1) - 0.25 * double(low[L - 1]));
        low[L] = float(x.Read(n - 1));
    }
}

void conv_synthesis(const wavelet_kernel &k, const float *low, const float *high, int n, int first,
                    float *out, bool point_symmetric)
{
    if (n <= 0)
        return;
    check_convolution_symmetry(k);
    int b = first & 1;
    if (n == 1) {
        out[0] = b ? high[0] : low[0];
        return;
    }
    bool even = EvenLength(k);
    const tap_set &g0 = k.synthesis_low, &g1 = k.synthesis_high;
    int E = Margin(g0, g1);
    int n0 = (n - b + 1) >> 1, n1 = (n + b) >> 1;
    Extended lo(n0, E), hi(n1 + 1, E);
    hi.n = n1;
    for (int i = 0; i < n0; ++i)
        lo[i] = low[i];
    for (int i = 0; i < n1; ++i)
        hi[i] = high[i];
    int e = (first + n - 1) & 1; // the band holding the row's last sample
    if (point_symmetric) {
        if (b)
            OddStartWithPse();
        int p = n & 1;
        double C;
        if (!p) {
            int L = n / 2 - 1;
            C = lo[L];
            lo[L] = 0.25 * lo.Read(L - 1) + 0.75 * lo[L] + hi[L];
            hi[L] = 0;
        } else {
            C = lo[n0 - 1];
        }
        FillMargins(
            lo, [&](int j) { return 2 * lo.Read(0) - lo.Read(j); },
            [&](int j) { return 2 * C - lo.Read(n0 - j - p); });
        FillMargins(
            hi, [&](int j) { return -hi.Read(j - 1); }, [&](int j) { return -hi.Read(n1 - j - (1 - p)); });
    } else if (even) {
        if (b)
            OddStartWithEvenFilters();
        FillMargins(
            lo, [&](int j) { return lo.Read(j - 1); },
            [&](int j) { return (n & 1) ? lo.Read(n0 - 1 - j) : lo.Read(n0 - j); });
        if (n & 1) {
            // The high band ends in one zero sample and is antisymmetric about it.
            Extended h2(n1 + 1, E);
            for (int i = 0; i < n1; ++i)
                h2[i] = hi[i];
            h2[n1] = 0;
            for (int j = 1; j <= E; ++j) {
                h2[-j] = -h2.Read(j - 1);
                h2[n1 + j] = -h2.Read(n1 - j);
            }
            hi = h2;
        } else {
            FillMargins(
                hi, [&](int j) { return -hi.Read(j - 1); }, [&](int j) { return -hi.Read(n1 - j); });
        }
    } else {
        // Each band is mirrored about the row's first and last samples, whichever band holds them.
        auto left = [&](Extended &band, int own) {
            return [&band, own](int j) { return own ? band.Read(j) : band.Read(j - 1); };
        };
        auto right = [&](Extended &band, int own, int count) {
            return
                [&band, own, count](int j) { return own ? band.Read(count - 1 - j) : band.Read(count - j); };
        };
        FillMargins(lo, left(lo, b == 0), right(lo, e == 0, n0));
        FillMargins(hi, left(hi, b == 1), right(hi, e == 1, n1));
    }
    // Output t (relative to `first`) gathers every band sample whose synthesis filter reaches it.
    int low_pos0 = b, high_pos0 = 1 - b; // relative position of band sample 0
    for (int t = 0; t < n; ++t) {
        double sum = 0;
        for (int j = -g0.neg_support; j <= g0.pos_support; ++j) {
            int pos = t - j - low_pos0;
            if (pos & 1)
                continue;
            sum += double(g0.Tap(j)) * lo.Read(pos >> 1);
        }
        for (int j = -g1.neg_support; j <= g1.pos_support; ++j) {
            int pos = t - j - high_pos0;
            if (pos & 1)
                continue;
            sum += double(g1.Tap(j)) * hi.Read(pos >> 1);
        }
        out[t] = float(sum);
    }
}

} // namespace zn::j2k
