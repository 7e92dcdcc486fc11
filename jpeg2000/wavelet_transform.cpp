#include "jpeg2000/wavelet_transform.h"

#include "jpeg2000/local_services.h"

#include <algorithm>
#include <cmath>
#include <type_traits>

namespace zn::j2k {

namespace {

// The half-sample (sigma 1 or -1) or whole-sample (sigma 0) mirror of a source band, produced
// alternately left and right so that very short bands extend periodically instead of running out.
template <typename T> class ExtendedBand
{
public:
    ExtendedBand(const T *u, int n, int left, int right, int sigma_l, int sigma_r)
        : m_margin(std::max(left, right) + 1), m_n(n), m_data(size_t(n + 2 * m_margin), T(0))
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
    int m_n;
    std::vector<T> m_data;
};

// One lifting step on a segment; direction +1 analysis, -1 synthesis (the same sums subtracted).
template <typename T>
void LiftStep(const tap_set &st, int k, int b, int e, std::vector<T> &low, std::vector<T> &high,
              int direction)
{
    bool even = k % 2 == 0;
    std::vector<T> &t = even ? high : low;
    const std::vector<T> &u = even ? low : high;
    int t_index = even ? 1 : 0;
    int n_t = int(t.size()), n_u = int(u.size());
    if (n_t == 0)
        return;
    int N = st.neg_support, P = st.pos_support;
    int sigma_l, sigma_r;
    if ((N + P) & 1) {
        int c = even ? b : -b;
        N += c;
        P -= c;
        sigma_l = 1 - (t_index ^ b);
        sigma_r = 1 - (t_index ^ e);
    } else {
        if (b)
            local_error("Cannot start image, tile or frame with an odd indexed sample when using even length "
                        "filters!  Use odd length filters!");
        bool even_length = ((n_t + n_u) & 1) == 0;
        sigma_l = even ? 1 : -1;
        sigma_r = even ? (even_length ? 1 : 0) : -1;
    }
    if (n_u == 0)
        return;
    ExtendedBand<T> ext(u.data(), n_u, N, std::max(0, P + n_t - n_u), sigma_l, sigma_r);
    int count = st.Count();
    for (int i = 0; i < n_t; ++i) {
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

bool ScaleMatters(float s, bool always)
{
    return always || s > 1.00001f || s < 0.99999f;
}

template <typename T>
void Analysis(const wavelet_kernel &k, const T *in, int n, int first, T *low, T *high, bool scale_always)
{
    if (n <= 0)
        return;
    int b = first & 1, e = (first + n - 1) & 1;
    int nl = (n - b + 1) >> 1, nh = (n + b) >> 1;
    std::vector<T> lo(static_cast<size_t>(nl)), hi(static_cast<size_t>(nh));
    for (int i = 0; i < n; ++i)
        (((first + i) & 1) ? hi[size_t((i + b) >> 1)] : lo[size_t((i + 1 - b) >> 1)]) = in[i];
    if (n > 1) {
        for (int s = 0; s < k.num_steps; ++s)
            LiftStep(k.steps[s], s, b, e, lo, hi, +1);
        if constexpr (std::is_same_v<T, float>) {
            if (ScaleMatters(k.low_scale, scale_always))
                for (float &v : lo)
                    v *= k.low_scale;
            if (ScaleMatters(k.high_scale, scale_always))
                for (float &v : hi)
                    v *= k.high_scale;
        }
    }
    std::copy(lo.begin(), lo.end(), low);
    std::copy(hi.begin(), hi.end(), high);
}

template <typename T>
void Synthesis(const wavelet_kernel &k, const T *low, const T *high, int n, int first, T *out,
               bool scale_always)
{
    if (n <= 0)
        return;
    int b = first & 1, e = (first + n - 1) & 1;
    int nl = (n - b + 1) >> 1, nh = (n + b) >> 1;
    std::vector<T> lo(low, low + nl), hi(high, high + nh);
    if (n > 1) {
        if constexpr (std::is_same_v<T, float>) {
            if (ScaleMatters(k.low_scale, scale_always))
                for (float &v : lo)
                    v /= k.low_scale;
            if (ScaleMatters(k.high_scale, scale_always))
                for (float &v : hi)
                    v /= k.high_scale;
        }
        for (int s = k.num_steps - 1; s >= 0; --s)
            LiftStep(k.steps[s], s, b, e, lo, hi, -1);
    }
    for (int i = 0; i < n; ++i)
        out[i] = ((first + i) & 1) ? hi[size_t((i + b) >> 1)] : lo[size_t((i + 1 - b) >> 1)];
}

// Whole-sample mirror of position p into [0, n-1], walking back and forth for short rows.
int Mirror(int p, int n)
{
    if (n == 1)
        return 0;
    int period = 2 * (n - 1);
    p %= period;
    if (p < 0)
        p += period;
    return p < n ? p : period - p;
}

void CheckConvolutionSymmetry(const wavelet_kernel &k)
{
    for (const tap_set *f : {&k.analysis_low, &k.analysis_high}) {
        bool ok = f->neg_support == f->pos_support;
        for (int j = 0; ok && j <= f->pos_support; ++j)
            ok = std::fabs(f->Tap(j) - f->Tap(-j)) <= 0.0001f;
        if (!ok)
            local_error(
                "Wavelet kernels may be implemented by convolution only if they satisfy the symmetry "
                "requirements imposed by the boundary extension policy.  All other kernels must be "
                "implemented by lifting -- i.e. the identifier supplied via the `-Fkernels' argument must "
                "be preceded with a capital `L'.");
    }
}

} // namespace

int parity_count(int a, int n, int p)
{
    return ((a + n - p - 1) >> 1) - ((a - p + 1) >> 1) + 1;
}

region_rect child_region(const region_rect &r, int v, int h)
{
    region_rect c;
    c.rows = parity_count(r.first_row, r.rows, v);
    c.first_row = (r.first_row - v + 1) >> 1;
    c.cols = parity_count(r.first_col, r.cols, h);
    c.first_col = (r.first_col - h + 1) >> 1;
    return c;
}

void lift_analysis(const wavelet_kernel &k, const float *in, int n, int first, float *low, float *high,
                   bool scale_always)
{
    Analysis(k, in, n, first, low, high, scale_always);
}
void lift_analysis(const wavelet_kernel &k, const int32_t *in, int n, int first, int32_t *low, int32_t *high)
{
    Analysis(k, in, n, first, low, high, true);
}
void lift_synthesis(const wavelet_kernel &k, const float *low, const float *high, int n, int first,
                    float *out, bool scale_always)
{
    Synthesis(k, low, high, n, first, out, scale_always);
}
void lift_synthesis(const wavelet_kernel &k, const int32_t *low, const int32_t *high, int n, int first,
                    int32_t *out)
{
    Synthesis(k, low, high, n, first, out, true);
}

// Odd-length filters only (the built-in kernels): whole-sample symmetric extension.
void conv_analysis(const wavelet_kernel &k, const float *in, int n, int first, float *low, float *high)
{
    if (n <= 0)
        return;
    CheckConvolutionSymmetry(k);
    int b = first & 1;
    if (n == 1) {
        (b ? high : low)[0] = in[0];
        return;
    }
    for (int i = 0; i < 2; ++i) {
        const tap_set &h = i == 0 ? k.analysis_low : k.analysis_high;
        float *out = i == 0 ? low : high;
        int start = b ^ i;
        int count = (n - start + 1) >> 1;
        for (int m = 0; m < count; ++m) {
            double sum = 0;
            for (int j = -h.neg_support; j <= h.pos_support; ++j)
                sum += double(h.Tap(j)) * in[Mirror(start + 2 * m + j, n)];
            out[m] = float(sum);
        }
    }
}

void conv_synthesis(const wavelet_kernel &k, const float *low, const float *high, int n, int first,
                    float *out)
{
    if (n <= 0)
        return;
    CheckConvolutionSymmetry(k);
    int b = first & 1;
    if (n == 1) {
        out[0] = b ? high[0] : low[0];
        return;
    }
    // Band sample at row position p (0-based from the first sample) after mirroring the interleaved row.
    auto band = [&](int p) {
        int q = Mirror(p, n);
        int abs = first + q;
        return (abs & 1) ? high[(q + b) >> 1] : low[(q + 1 - b) >> 1];
    };
    for (int r = 0; r < n; ++r) {
        double sum = 0;
        for (int parity = 0; parity < 2; ++parity) {
            const tap_set &g = parity == 0 ? k.synthesis_low : k.synthesis_high;
            for (int j = -g.neg_support; j <= g.pos_support; ++j) {
                int p = r - j;
                if (((first + p) & 1) == parity)
                    sum += double(g.Tap(j)) * band(p);
            }
        }
        out[r] = float(sum);
    }
}

namespace {

template <typename T> struct Plane
{
    region_rect r;
    std::vector<T> v;
    T *Row(int y) { return v.data() + size_t(y) * size_t(r.cols); }
};

template <typename T>
void SplitRows(const wavelet_kernel &k, bool conv, const T *in, int n, int first, T *low, T *high,
               bool vertical)
{
    if constexpr (std::is_same_v<T, float>) {
        if (conv)
            conv_analysis(k, in, n, first, low, high);
        else
            lift_analysis(k, in, n, first, low, high, !vertical);
    } else {
        lift_analysis(k, in, n, first, low, high);
    }
}

template <typename T>
void MergeRows(const wavelet_kernel &k, bool conv, const T *low, const T *high, int n, int first, T *out,
               bool vertical)
{
    if constexpr (std::is_same_v<T, float>) {
        if (conv)
            conv_synthesis(k, low, high, n, first, out);
        else
            lift_synthesis(k, low, high, n, first, out, !vertical);
    } else {
        lift_synthesis(k, low, high, n, first, out);
    }
}

void Push(band_row_sink &sink, const int32_t *row, int c, int l, int b, int n)
{
    sink.push_int_row(row, c, l, b, n);
}
void Push(band_row_sink &sink, const float *row, int c, int l, int b, int n)
{
    sink.push_float_row(row, c, l, b, n);
}
void Pull(band_row_source &src, int32_t *row, int c, int l, int b, int n)
{
    src.pull_int_row(row, c, l, b, n);
}
void Pull(band_row_source &src, float *row, int c, int l, int b, int n)
{
    src.pull_float_row(row, c, l, b, n);
}

// One level: columns into two row sets, then every row into two bands.
template <typename T> void AnalyseLevel(const component_transform_setup &s, Plane<T> &in, Plane<T> quads[4])
{
    const region_rect &r = in.r;
    Plane<T> vert[2];
    for (int v = 0; v < 2; ++v) {
        vert[v].r = child_region(r, v, 0);
        vert[v].r.cols = r.cols;
        vert[v].r.first_col = r.first_col;
        vert[v].v.assign(size_t(vert[v].r.rows) * size_t(r.cols), T(0));
    }
    std::vector<T> col(size_t(r.rows)), lo(size_t(r.rows + 1)), hi(size_t(r.rows + 1));
    for (int x = 0; x < r.cols; ++x) {
        for (int y = 0; y < r.rows; ++y)
            col[size_t(y)] = in.Row(y)[x];
        SplitRows(*s.vertical, s.convolution, col.data(), r.rows, r.first_row, lo.data(), hi.data(), true);
        for (int y = 0; y < vert[0].r.rows; ++y)
            vert[0].Row(y)[x] = lo[size_t(y)];
        for (int y = 0; y < vert[1].r.rows; ++y)
            vert[1].Row(y)[x] = hi[size_t(y)];
    }
    for (int v = 0; v < 2; ++v)
        for (int h = 0; h < 2; ++h) {
            Plane<T> &q = quads[2 * v + h];
            q.r = child_region(r, v, h);
            q.v.assign(size_t(q.r.rows) * size_t(q.r.cols), T(0));
        }
    std::vector<T> a(size_t(r.cols + 1)), c(size_t(r.cols + 1));
    for (int v = 0; v < 2; ++v)
        for (int y = 0; y < vert[v].r.rows; ++y) {
            SplitRows(*s.horizontal, s.convolution, vert[v].Row(y), r.cols, r.first_col, a.data(), c.data(),
                      false);
            std::copy(a.begin(), a.begin() + quads[2 * v].r.cols, quads[2 * v].Row(y));
            std::copy(c.begin(), c.begin() + quads[2 * v + 1].r.cols, quads[2 * v + 1].Row(y));
        }
}

template <typename T>
void SynthesiseLevel(const component_transform_setup &s, Plane<T> quads[4], Plane<T> &out)
{
    const region_rect &r = out.r;
    out.v.assign(size_t(r.rows) * size_t(r.cols), T(0));
    Plane<T> vert[2];
    for (int v = 0; v < 2; ++v) {
        vert[v].r = child_region(r, v, 0);
        vert[v].r.cols = r.cols;
        vert[v].v.assign(size_t(vert[v].r.rows) * size_t(r.cols), T(0));
        for (int y = 0; y < vert[v].r.rows; ++y)
            MergeRows(*s.horizontal, s.convolution, quads[2 * v].Row(y), quads[2 * v + 1].Row(y), r.cols,
                      r.first_col, vert[v].Row(y), false);
    }
    std::vector<T> col(size_t(r.rows)), lo(size_t(r.rows + 1)), hi(size_t(r.rows + 1));
    for (int x = 0; x < r.cols; ++x) {
        for (int y = 0; y < vert[0].r.rows; ++y)
            lo[size_t(y)] = vert[0].Row(y)[x];
        for (int y = 0; y < vert[1].r.rows; ++y)
            hi[size_t(y)] = vert[1].Row(y)[x];
        MergeRows(*s.vertical, s.convolution, lo.data(), hi.data(), r.rows, r.first_row, col.data(), true);
        for (int y = 0; y < r.rows; ++y)
            out.Row(y)[x] = col[size_t(y)];
    }
}

void CheckSetup(const component_transform_setup &s)
{
    if (s.levels < 0 || s.levels > 32)
        local_error("At most 32 decomposition levels can be used (%d requested).", s.levels);
    if (!s.vertical || !s.horizontal)
        local_error("The wavelet transform has no kernel.");
    int want = s.reversible ? kKernelIntLifting : kKernelFloatLifting;
    for (const wavelet_kernel *k : {s.vertical, s.horizontal})
        if ((k->type == kKernelIntLifting) != (want == kKernelIntLifting))
            local_error(
                "A reversible decomposition needs an integer lifting kernel, and only a reversible one.");
    if (s.reversible && s.convolution)
        local_error("A reversible decomposition cannot be implemented by convolution.");
}

int Descent(const component_transform_setup &s, int level)
{
    if (s.hp_descent.empty())
        return 1;
    if (int(s.hp_descent.size()) < s.levels + 1)
        local_error("The decomposition structure names %d levels; %d are needed.",
                    int(s.hp_descent.size()) - 1, s.levels);
    int d = s.hp_descent[size_t(level)];
    if (d < 0 || d > 3)
        local_error("Illegal decomposition structure value %d at level %d (0 to 3 allowed).", d, level);
    return d;
}

constexpr int kUnread = -1;

// The tree of one component: a level splits its region into four bands; the low-low band goes to
// the next level, the others are band buffers or, with a deeper descent, split again at this level.
template <typename T>
void AnalyseNode(const component_transform_setup &s, int component, int level, int d, int band, Plane<T> &in,
                 band_row_sink &sink)
{
    if (level == 0) {
        for (int y = 0; y < in.r.rows; ++y)
            Push(sink, in.Row(y), component, 0, band, in.r.cols);
        return;
    }
    if (d == kUnread) {
        d = Descent(s, level);
        if (d == 0) {
            AnalyseNode(s, component, level - 1, kUnread, band, in, sink);
            return;
        }
    }
    Plane<T> quads[4];
    AnalyseLevel(s, in, quads);
    for (int c = 0; c < 4; ++c) {
        int child = 4 * band + c;
        if (child == 0)
            AnalyseNode(s, component, level - 1, kUnread, 0, quads[0], sink);
        else if (d < 2)
            for (int y = 0; y < quads[c].r.rows; ++y)
                Push(sink, quads[c].Row(y), component, level, child, quads[c].r.cols);
        else
            AnalyseNode(s, component, level, d - 1, child, quads[c], sink);
    }
}

template <typename T>
Plane<T> SynthesiseNode(const component_transform_setup &s, int component, int level, int d, int band,
                        const region_rect &r, band_row_source &source)
{
    Plane<T> out;
    out.r = r;
    if (level == 0) {
        out.v.assign(size_t(r.rows) * size_t(r.cols), T(0));
        for (int y = 0; y < r.rows; ++y)
            Pull(source, out.Row(y), component, 0, band, r.cols);
        return out;
    }
    if (d == kUnread) {
        d = Descent(s, level);
        if (d == 0)
            return SynthesiseNode<T>(s, component, level - 1, kUnread, band, r, source);
    }
    Plane<T> quads[4];
    for (int c = 0; c < 4; ++c) {
        int child = 4 * band + c;
        region_rect cr = child_region(r, c >> 1, c & 1);
        if (child == 0) {
            quads[0] = SynthesiseNode<T>(s, component, level - 1, kUnread, 0, cr, source);
        } else if (d < 2) {
            quads[c].r = cr;
            quads[c].v.assign(size_t(cr.rows) * size_t(cr.cols), T(0));
            for (int y = 0; y < cr.rows; ++y)
                Pull(source, quads[c].Row(y), component, level, child, cr.cols);
        } else {
            quads[c] = SynthesiseNode<T>(s, component, level, d - 1, child, cr, source);
        }
    }
    SynthesiseLevel(s, quads, out);
    return out;
}

template <typename T>
void Analyse(const component_transform_setup &s, int component, const region_rect &region,
             const int32_t *samples, band_row_sink &sink)
{
    Plane<T> cur;
    cur.r = region;
    cur.v.assign(size_t(region.rows) * size_t(region.cols), T(0));
    for (size_t i = 0; i < cur.v.size(); ++i)
        cur.v[i] = T(samples[i]);
    AnalyseNode(s, component, s.levels, kUnread, 0, cur, sink);
}

template <typename T>
void Synthesise(const component_transform_setup &s, int component, const region_rect &region,
                band_row_source &source, int32_t *samples)
{
    Plane<T> cur = SynthesiseNode<T>(s, component, s.levels, kUnread, 0, region, source);
    for (size_t i = 0; i < cur.v.size(); ++i) {
        if constexpr (std::is_same_v<T, float>) {
            double v = cur.v[i];
            samples[i] = int32_t(v < 0 ? -std::floor(-v + 0.5) : std::floor(v + 0.5));
        } else {
            samples[i] = cur.v[i];
        }
    }
}

} // namespace

void analyse_component(const component_transform_setup &setup, int component, const region_rect &region,
                       const int32_t *samples, band_row_sink &sink)
{
    CheckSetup(setup);
    if (setup.reversible)
        Analyse<int32_t>(setup, component, region, samples, sink);
    else
        Analyse<float>(setup, component, region, samples, sink);
}

void synthesise_component(const component_transform_setup &setup, int component, const region_rect &region,
                          band_row_source &source, int32_t *samples)
{
    CheckSetup(setup);
    if (setup.reversible)
        Synthesise<int32_t>(setup, component, region, source, samples);
    else
        Synthesise<float>(setup, component, region, source, samples);
}

} // namespace zn::j2k
