// Fast one-dimensional lifting of whole rows, for the horizontal stages. A stage's rows all have the
// same length and first column, so the segment plan, the shape of every step and the source of
// every extended sample are worked out once; a row is then de-interleaved into two band rows with
// margins, each step fills the source's margins and updates the target in one pass, and the bands
// are scaled. The arithmetic, its order and its rounding are those of lift_analysis and
// lift_synthesis, which stay as the plain reference (and serve rows cut into SSO-DWT frames).
#include "jpeg2000/wavelet_stages.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

namespace zn::j2k {

template <typename T>
bool row_lifting<T>::prepare(const wavelet_kernel &k, int n, int first, const lifting_frames &f,
                             bool scale_always)
{
    m_kernel = &k;
    m_n = n;
    m_first = first;
    m_scale_always = scale_always;
    m_ready = false;
    if (n <= 1)
        return false;
    const std::vector<lifting_segment> plan = plan_lifting_segments(first, n, f);
    if (plan.size() != 1)
        return false;
    m_segment = plan[0];
    m_b = first & 1;
    m_count[0] = (n - m_b + 1) >> 1;
    m_count[1] = (n + m_b) >> 1;
    m_x = std::is_same_v<T, float> ? sso_scales(k) : std::vector<double>(size_t(k.num_steps), 1.0);
    m_steps.assign(size_t(k.num_steps), step_plan{});
    m_margin = 1;
    for (int s = 0; s < k.num_steps; ++s) {
        step_plan &p = m_steps[size_t(s)];
        const bool even = s % 2 == 0;
        const int target = even ? 1 : 0;
        p.n_t = m_count[target];
        p.n_u = m_count[1 - target];
        if (p.n_t == 0)
            continue;
        p.shape = lifting_step_shape(k.steps[s], s, m_segment.b, m_segment.e, p.n_t, p.n_u);
        p.first = 0;
        p.last = p.n_t - 1;
        if (!even && m_segment.sso_left) {
            p.sso_first = true;
            p.first = 1;
        }
        if (!even && m_segment.sso_right && p.last >= p.first) {
            p.sso_last = true;
            p.last -= 1;
        }
        p.has_source = p.n_u > 0 && k.steps[s].Count() > 0;
        if (!p.has_source)
            continue;
        p.right = std::max(0, p.shape.pos + p.n_t - p.n_u);
        extension_map map;
        map.build(p.n_u, p.shape.neg, p.right, p.shape.sigma_left, p.shape.sigma_right);
        for (int v = -p.shape.neg; v < 0; ++v)
            p.margin_sources.push_back(map.at(v));
        for (int v = p.n_u; v < p.n_u + p.right; ++v)
            p.margin_sources.push_back(map.at(v));
        m_margin = std::max({m_margin, p.shape.neg + 1, p.right + 1});
        const tap_set &st = k.steps[s];
        for (int m = 0; m < st.Count(); ++m) {
            p.taps.push_back(double(st.taps[size_t(m)]));
            p.int_taps.push_back(st.int_taps.empty() ? 0 : int64_t(st.int_taps[size_t(m)]));
        }
    }
    for (int band = 0; band < 2; ++band)
        m_band[band].assign(size_t(m_count[band] + 2 * m_margin), T(0));
    m_ready = true;
    return true;
}

template <typename T> void row_lifting<T>::Step(const step_plan &p, int s, int direction)
{
    if (p.n_t == 0)
        return;
    const bool even = s % 2 == 0;
    T *t = m_band[even ? 1 : 0].data() + m_margin;
    T *u = m_band[even ? 0 : 1].data() + m_margin;
    if constexpr (std::is_same_v<T, float>) {
        const double x = m_x[size_t(s)];
        if (p.sso_first)
            t[0] = float(direction > 0 ? t[0] * x : t[0] / x);
        if (p.sso_last)
            t[p.n_t - 1] = float(direction > 0 ? t[p.n_t - 1] * x : t[p.n_t - 1] / x);
    }
    if (!p.has_source)
        return;
    // The source's margins, from the samples they mirror (a copy: the source is not changed here).
    size_t j = 0;
    for (int v = -p.shape.neg; v < 0; ++v, ++j)
        u[v] = Source(u, p.margin_sources[j]);
    for (int v = p.n_u; v < p.n_u + p.right; ++v, ++j)
        u[v] = Source(u, p.margin_sources[j]);
    const T *w = u - p.shape.neg; // w[i + m] is tap m's sample for target i
    const int count = int(p.taps.size());
    if constexpr (std::is_same_v<T, int32_t>) {
        const int shift = m_kernel->steps[s].downshift;
        const int64_t half = shift > 0 ? int64_t(1) << (shift - 1) : 0;
        if (count == 2) {
            const int64_t a0 = p.int_taps[0], a1 = p.int_taps[1];
            for (int i = p.first; i <= p.last; ++i) {
                const int64_t sum = a0 * w[i] + a1 * w[i + 1];
                const int64_t delta = shift > 0 ? (half + sum) >> shift : sum;
                t[i] = int32_t(t[i] + direction * delta);
            }
            return;
        }
        for (int i = p.first; i <= p.last; ++i) {
            int64_t sum = 0;
            for (int m = 0; m < count; ++m)
                sum += p.int_taps[size_t(m)] * w[i + m];
            const int64_t delta = shift > 0 ? (half + sum) >> shift : sum;
            t[i] = int32_t(t[i] + direction * delta);
        }
    } else {
        if (count == 2) {
            const double a0 = p.taps[0], a1 = p.taps[1];
            for (int i = p.first; i <= p.last; ++i) {
                double sum = 0;
                sum += a0 * double(w[i]);
                sum += a1 * double(w[i + 1]);
                t[i] = float(double(t[i]) + direction * sum);
            }
            return;
        }
        for (int i = p.first; i <= p.last; ++i) {
            double sum = 0;
            for (int m = 0; m < count; ++m)
                sum += p.taps[size_t(m)] * double(w[i + m]);
            t[i] = float(double(t[i]) + direction * sum);
        }
    }
}

template <typename T> T row_lifting<T>::Source(const T *u, extension_source e)
{
    if (e.sign == 0)
        return T(0);
    const T v = u[e.index];
    if (e.sign > 0)
        return v;
    if constexpr (std::is_same_v<T, int32_t>)
        return int32_t(0u - uint32_t(v)); // the plain lifting's negation wraps alike
    else
        return -v;
}

template <typename T> void row_lifting<T>::Scale(int direction)
{
    if constexpr (std::is_same_v<T, float>) {
        const wavelet_kernel &k = *m_kernel;
        const float ls = direction > 0 ? k.low_scale : 1.0f / k.low_scale;
        const float hs = direction > 0 ? k.high_scale : 1.0f / k.high_scale;
        if (scale_matters(k.low_scale, m_scale_always))
            for (int i = 0; i < m_count[0]; ++i)
                m_band[0][size_t(m_margin + i)] *= ls;
        if (scale_matters(k.high_scale, m_scale_always))
            for (int i = 0; i < m_count[1]; ++i)
                m_band[1][size_t(m_margin + i)] *= hs;
    } else {
        (void)direction;
    }
}

template <typename T> void row_lifting<T>::analyse(const T *in, T *low, T *high)
{
    T *lo = m_band[0].data() + m_margin, *hi = m_band[1].data() + m_margin;
    for (int i = 0; i < m_count[0]; ++i)
        lo[i] = in[2 * i + m_b];
    for (int i = 0; i < m_count[1]; ++i)
        hi[i] = in[2 * i + 1 - m_b];
    for (int s = 0; s < m_kernel->num_steps; ++s)
        Step(m_steps[size_t(s)], s, +1);
    Scale(+1);
    std::memcpy(low, lo, sizeof(T) * size_t(m_count[0]));
    std::memcpy(high, hi, sizeof(T) * size_t(m_count[1]));
}

template <typename T> void row_lifting<T>::synthesise(const T *low, const T *high, T *out)
{
    T *lo = m_band[0].data() + m_margin, *hi = m_band[1].data() + m_margin;
    std::memcpy(lo, low, sizeof(T) * size_t(m_count[0]));
    std::memcpy(hi, high, sizeof(T) * size_t(m_count[1]));
    Scale(-1);
    for (int s = m_kernel->num_steps - 1; s >= 0; --s)
        Step(m_steps[size_t(s)], s, -1);
    for (int i = 0; i < m_count[0]; ++i)
        out[2 * i + m_b] = lo[i];
    for (int i = 0; i < m_count[1]; ++i)
        out[2 * i + 1 - m_b] = hi[i];
}

template class row_lifting<float>;
template class row_lifting<int32_t>;

} // namespace zn::j2k
