// One-dimensional lifting, shared by the horizontal and vertical stages of both directions. A row (or
// column) is split into its even (low) and odd (high) samples; each lifting step adds filtered
// samples of one channel to the other, with the boundary extension that keeps the transform
// symmetric at odd and even lengths and origins. With SSO-DWT frames the row is cut into frames,
// each transformed alone, with single-sample-overlap boundaries where frames meet.
#include "jpeg2000/local_services.h"
#include "jpeg2000/wavelet_stages.h"

#include <algorithm>
#include <type_traits>

namespace zn::j2k {

namespace {

// The half-sample (sigma 1 or -1) or whole-sample (sigma 0) mirror of a source band, produced
// alternately left and right so that very short bands extend periodically instead of running out.
template <typename T> class ExtendedBand
{
public:
    ExtendedBand(const T *u, int n, int left, int right, int sigma_l, int sigma_r)
        : m_margin(std::max(left, right) + 1), m_data(size_t(n + 2 * m_margin), T(0))
    {
        std::copy(u, u + n, m_data.begin() + m_margin);
        for (int j = 1; j <= std::max(left, right); ++j) {
            if (j <= left)
                At(-j) = sigma_l == 0 ? Read(j) : T(sigma_l * Read(j - 1));
            if (j <= right)
                At(n - 1 + j) = sigma_r == 0 ? Read(n - 1 - j) : T(sigma_r * Read(n - j));
        }
    }
    T operator[](int i) const { return Read(i); }

private:
    T &At(int i) { return m_data[size_t(i + m_margin)]; }
    T Read(int i) const
    {
        int k = i + m_margin;
        return (k < 0 || k >= int(m_data.size())) ? T(0) : m_data[size_t(k)];
    }
    int m_margin;
    std::vector<T> m_data;
};

// One lifting step on a segment; direction +1 analysis, -1 synthesis (the same sums subtracted).
template <typename T>
void LiftStep(const tap_set &st, int k, const lifting_segment &g, double sso_scale, std::vector<T> &low,
              std::vector<T> &high, int direction)
{
    bool even = k % 2 == 0;
    std::vector<T> &t = even ? high : low;
    const std::vector<T> &u = even ? low : high;
    int n_t = int(t.size()), n_u = int(u.size());
    if (n_t == 0)
        return;
    const step_shape sh = lifting_step_shape(st, k, g.b, g.e, n_t, n_u);
    int first = 0, last = n_t - 1;
    if (!even && g.sso_left) {
        if constexpr (std::is_same_v<T, float>)
            t[0] = float(direction > 0 ? t[0] * sso_scale : t[0] / sso_scale);
        first = 1;
    }
    if (!even && g.sso_right && last >= first) {
        if constexpr (std::is_same_v<T, float>)
            t[size_t(last)] =
                float(direction > 0 ? t[size_t(last)] * sso_scale : t[size_t(last)] / sso_scale);
        last -= 1;
    }
    if (n_u == 0 || st.Count() <= 0)
        return;
    const int N = sh.neg, P = sh.pos;
    ExtendedBand<T> ext(u.data(), n_u, N, std::max(0, P + n_t - n_u), sh.sigma_left, sh.sigma_right);
    int count = st.Count();
    for (int i = first; i <= last; ++i) {
        if constexpr (std::is_same_v<T, int32_t>) {
            int64_t sum = 0;
            for (int m = 0; m < count; ++m)
                sum += int64_t(st.int_taps[size_t(m)]) * ext[i - N + m];
            int s = st.downshift;
            int64_t delta = s > 0 ? ((int64_t(1) << (s - 1)) + sum) >> s : sum;
            t[size_t(i)] = int32_t(t[size_t(i)] + direction * delta);
        } else {
            double sum = 0;
            for (int m = 0; m < count; ++m)
                sum += double(st.taps[size_t(m)]) * double(ext[i - N + m]);
            t[size_t(i)] = float(double(t[size_t(i)]) + direction * sum);
        }
    }
}

// Runs every segment of a row through the steps. Low sample j of the row sits at absolute position
// 2 * (j + low0), high sample j at 2 * (j + high0) + 1. Synthesis visits the segments from the last:
// a segment borrows the low sample before it as the previous segment left it in analysis (so, in
// synthesis, before that segment is undone) and the one after it untouched (so, after).
template <typename T>
void RunSegments(const wavelet_kernel &k, std::vector<T> &lo, std::vector<T> &hi, int first, int n,
                 bool scale_always, const lifting_frames &f, int direction)
{
    std::vector<lifting_segment> segs = plan_lifting_segments(first, n, f);
    int S = int(segs.size());
    std::vector<double> x =
        std::is_same_v<T, float> ? sso_scales(k) : std::vector<double>(size_t(k.num_steps), 1.0);
    std::vector<T> sl, sh;
    for (int i = 0; i < S; ++i) {
        const lifting_segment &g = segs[size_t(direction > 0 ? i : S - 1 - i)];
        if (g.passes_unchanged())
            continue;
        const int lstart = g.l_first - (g.borrow_left ? 1 : 0);
        sl.assign(lo.begin() + lstart, lo.begin() + lstart + g.low_count());
        sh.assign(hi.begin() + g.h_first, hi.begin() + g.h_first + g.hc);
        if (direction > 0) {
            for (int st = 0; st < k.num_steps; ++st)
                LiftStep(k.steps[st], st, g, x[size_t(st)], sl, sh, +1);
        }
        if constexpr (std::is_same_v<T, float>) {
            float ls = direction > 0 ? k.low_scale : 1.0f / k.low_scale;
            float hs = direction > 0 ? k.high_scale : 1.0f / k.high_scale;
            if (scale_matters(k.low_scale, scale_always))
                for (float &v : sl)
                    v *= ls;
            if (scale_matters(k.high_scale, scale_always))
                for (float &v : sh)
                    v *= hs;
        }
        if (direction < 0) {
            for (int st = k.num_steps - 1; st >= 0; --st)
                LiftStep(k.steps[st], st, g, x[size_t(st)], sl, sh, -1);
        }
        std::copy(sl.begin() + (g.borrow_left ? 1 : 0), sl.begin() + (g.borrow_left ? 1 : 0) + g.lc,
                  lo.begin() + g.l_first);
        std::copy(sh.begin(), sh.end(), hi.begin() + g.h_first);
    }
}

} // namespace

std::vector<lifting_segment> plan_lifting_segments(int first, int n, const lifting_frames &f)
{
    struct Span
    {
        int x, w;
    };
    std::vector<Span> spans;
    const int W = std::max(f.size, 1); // a frame holds one sample at least
    const int first_width = f.frames ? W - ((first - f.anchor) & (W - 1)) : n;
    if (first_width >= n) {
        spans.push_back({first, n});
    } else {
        spans.push_back({first, first_width});
        for (int x = first + first_width; x < first + n; x += W)
            spans.push_back({x, std::min(W, first + n - x)});
    }
    const int S = int(spans.size());
    const int low0 = (first + 1) >> 1, high0 = first >> 1;
    std::vector<lifting_segment> segs(static_cast<size_t>(S));
    for (int s = 0; s < S; ++s) {
        lifting_segment &g = segs[size_t(s)];
        g.x = spans[size_t(s)].x;
        g.w = spans[size_t(s)].w;
        g.b = g.x & 1;
        g.e = (g.x + g.w - 1) & 1;
        g.lc = (g.w - g.b + 1) >> 1;
        g.hc = (g.w + g.b) >> 1;
        g.l_first = ((g.x + 1) >> 1) - low0;
        g.h_first = (g.x >> 1) - high0;
        if (s == 0) {
            g.sso_left = f.sso_extension && g.b == 0;
        } else {
            g.sso_left = true;
            if (g.b == 1) {
                g.borrow_left = true;
                g.b = 0;
            }
        }
        if (s < S - 1) {
            g.sso_right = true;
            if (g.e == 1) {
                g.borrow_right = true;
                g.e = 0;
            }
        } else {
            g.sso_right = f.sso_extension && g.e == 0;
        }
    }
    return segs;
}

std::vector<double> sso_scales(const wavelet_kernel &k)
{
    std::vector<double> G(size_t(k.num_steps) + 2, 1.0); // G[i + 1] holds G(i)
    for (int i = 0; i < k.num_steps; ++i) {
        double sum = 0;
        for (float v : k.steps[i].taps)
            sum += v;
        G[size_t(i + 2)] = G[size_t(i)] + G[size_t(i + 1)] * sum;
    }
    std::vector<double> x(size_t(k.num_steps), 1.0);
    for (int i = 1; i < k.num_steps; i += 2)
        x[size_t(i)] = G[size_t(i + 2)] / G[size_t(i)];
    return x;
}

bool scale_matters(float s, bool always)
{
    return always || s > 1.00001f || s < 0.99999f;
}

step_shape lifting_step_shape(const tap_set &st, int k, int b, int e, int n_t, int n_u)
{
    const bool even = k % 2 == 0;
    const int t_index = even ? 1 : 0;
    step_shape sh;
    sh.neg = st.neg_support;
    sh.pos = st.pos_support;
    if ((sh.neg + sh.pos) & 1) {
        const int c = even ? b : -b;
        sh.neg += c;
        sh.pos -= c;
        sh.sigma_left = 1 - (t_index ^ b);
        sh.sigma_right = 1 - (t_index ^ e);
    } else {
        if (b)
            local_error("Cannot start image, tile or frame with an odd indexed sample when using even length "
                        "filters!  Use odd length filters!");
        const bool even_length = ((n_t + n_u) & 1) == 0;
        sh.sigma_left = even ? 1 : -1;
        sh.sigma_right = even ? (even_length ? 1 : 0) : -1;
    }
    return sh;
}

void extension_map::build(int n, int left, int right, int sigma_l, int sigma_r)
{
    // The same fill as the row lifting's: left and right alternately, a mirrored index possibly
    // landing in the other margin or, past both, on nothing.
    m_n = n;
    m_margin = std::max(left, right) + 1;
    m_before.assign(size_t(m_margin), extension_source{});
    m_after.assign(size_t(m_margin), extension_source{});
    auto read = [&](int i) -> extension_source {
        if (i >= 0 && i < n)
            return {i, 1};
        if (i < 0 && -i <= m_margin)
            return m_before[size_t(-i - 1)];
        if (i >= n && i - n < m_margin)
            return m_after[size_t(i - n)];
        return {};
    };
    auto times = [](int sigma, extension_source s) { return extension_source{s.index, s.sign * sigma}; };
    for (int j = 1; j <= std::max(left, right); ++j) {
        if (j <= left)
            m_before[size_t(j - 1)] = sigma_l == 0 ? read(j) : times(sigma_l, read(j - 1));
        if (j <= right)
            m_after[size_t(j - 1)] = sigma_r == 0 ? read(n - 1 - j) : times(sigma_r, read(n - j));
    }
    m_lowest_right = INT_MAX;
    for (int j = 1; j <= right; ++j)
        if (m_after[size_t(j - 1)].sign != 0)
            m_lowest_right = std::min(m_lowest_right, m_after[size_t(j - 1)].index);
}

extension_source extension_map::at(int v) const
{
    if (v >= 0 && v < m_n)
        return {v, 1};
    if (v < 0 && -v <= m_margin)
        return m_before[size_t(-v - 1)];
    if (v >= m_n && v - m_n < m_margin)
        return m_after[size_t(v - m_n)];
    return {};
}

namespace {

template <typename T>
void Analysis(const wavelet_kernel &k, const T *in, int n, int first, T *low, T *high, bool scale_always,
              const lifting_frames &f)
{
    if (n <= 0)
        return;
    int b = first & 1;
    int nl = (n - b + 1) >> 1, nh = (n + b) >> 1;
    std::vector<T> lo(static_cast<size_t>(nl)), hi(static_cast<size_t>(nh));
    for (int i = 0; i < n; ++i)
        (((first + i) & 1) ? hi[size_t((i + b) >> 1)] : lo[size_t((i + 1 - b) >> 1)]) = in[i];
    RunSegments(k, lo, hi, first, n, scale_always, f, +1);
    std::copy(lo.begin(), lo.end(), low);
    std::copy(hi.begin(), hi.end(), high);
}

template <typename T>
void Synthesis(const wavelet_kernel &k, const T *low, const T *high, int n, int first, T *out,
               bool scale_always, const lifting_frames &f)
{
    if (n <= 0)
        return;
    int b = first & 1;
    int nl = (n - b + 1) >> 1, nh = (n + b) >> 1;
    std::vector<T> lo(low, low + nl), hi(high, high + nh);
    RunSegments(k, lo, hi, first, n, scale_always, f, -1);
    for (int i = 0; i < n; ++i)
        out[i] = ((first + i) & 1) ? hi[size_t((i + b) >> 1)] : lo[size_t((i + 1 - b) >> 1)];
}

} // namespace

void check_sso_kernel(const wavelet_kernel &k)
{
    bool useful = false;
    for (int s = 0; s < k.num_steps; s += 2)
        useful = useful || k.steps[s].pos_support > 0;
    if (!useful)
        local_error(
            "The 1-sample overlap method has no effect whatsoever if all update steps in the lifting "
            "implementation of the filter have only two taps!  The method was designed for use with odd "
            "length filters.");
}

void lift_analysis(const wavelet_kernel &k, const float *in, int n, int first, float *low, float *high,
                   bool scale_always, const lifting_frames &f)
{
    Analysis(k, in, n, first, low, high, scale_always, f);
}
void lift_analysis(const wavelet_kernel &k, const int32_t *in, int n, int first, int32_t *low, int32_t *high,
                   const lifting_frames &f)
{
    Analysis(k, in, n, first, low, high, true, f);
}
void lift_synthesis(const wavelet_kernel &k, const float *low, const float *high, int n, int first,
                    float *out, bool scale_always, const lifting_frames &f)
{
    Synthesis(k, low, high, n, first, out, scale_always, f);
}
void lift_synthesis(const wavelet_kernel &k, const int32_t *low, const int32_t *high, int n, int first,
                    int32_t *out, const lifting_frames &f)
{
    Synthesis(k, low, high, n, first, out, true, f);
}

} // namespace zn::j2k
