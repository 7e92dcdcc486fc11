#include "jpeg2000/visual_masking.h"

#include "jpeg2000/local_services.h"

#include <cmath>
#include <cstdlib>

namespace zn::j2k {

namespace {
constexpr const char *kWarnIndex = "tmp greater than 1023, tmp= %d \n";
constexpr const char *kWarnRing = "tmp greater than 1023 =%d \n";

double Trunc(double v)
{
    return std::trunc(v);
}
} // namespace

visual_mask::visual_mask(const mask_params &p, bool synthesis, int width, int frac_bits, double step,
                         int band_frac_bits, int block_height, int block_width)
    : m_p(p), m_synthesis(synthesis), m_width(width), m_w(std::max(0, p.win_width))
{
    if (!(p.alpha > 0) || p.bits_retained < 1 || p.bits_retained > 32 || width < 0 || !(step > 0) ||
        frac_bits < 0 || frac_bits > 30 || p.win_width < 0 || p.win_width > 1024)
        local_error("Visual masking parameters out of range (alpha %g, win_width %d, bits_retained %d).",
                    double(p.alpha), p.win_width, p.bits_retained);
    m_h = std::ldexp(1.0, frac_bits);
    double two_k = std::ldexp(1.0, band_frac_bits);
    m_scale = synthesis ? step / two_k : two_k / step;
    m_nz = std::pow((536870911.75 / m_h) * 0.0001, double(p.beta));
    m_block_h = p.respect_block_boundaries ? block_height : -1;
    m_block_w = p.respect_block_boundaries ? std::max(1, block_width) : std::max(1, width);
    m_t1.resize(1025);
    m_t2.resize(1025);
    for (int j = 0; j <= 1024; ++j) {
        m_t1[size_t(j)] = float(std::pow(double(j), synthesis ? 1.0 / p.alpha : double(p.alpha)));
        m_t2[size_t(j)] = float(std::pow(double(j), double(p.beta) / p.alpha));
    }
    m_ring.assign(size_t(m_w + 1), std::vector<float>(size_t(width + 2 * m_w), 0.0f));
}

float *visual_mask::RingRow(int age)
{
    int n = int(m_ring.size());
    return m_ring[size_t(((m_head - age) % n + n) % n)].data() + m_w;
}

double visual_mask::Neighbourhood(int j) const
{
    if (m_p.beta == 0)
        return 1.0;
    int w = m_w, n = int(m_ring.size());
    int nL = std::min(j % m_block_w, w);
    int nR = std::min(m_block_w * (j / m_block_w + 1) - j, w);
    int nU = std::min(-m_phase, w);
    double sum = 0;
    auto row = [&](int age) { return m_ring[size_t(((m_head - age) % n + n) % n)].data() + w; };
    for (int a = 1; a <= nU; ++a) {
        const float *r = row(a);
        for (int c = j - nL; c <= j + nR; ++c)
            sum += r[c];
    }
    const float *cur = row(0);
    for (int c = j - nL; c < j; ++c)
        sum += cur[c];
    return 1.0 + sum / (2.0 * w * (w + 1)) / m_nz;
}

double visual_mask::Lookup(const std::vector<float> &t, int &index, double frac, const char *warning) const
{
    if (index > 1023) {
        local_printf(0, 70, warning, index);
        index = 1023;
    }
    if (index < 0)
        index = 0;
    return t[size_t(index)] + (double(t[size_t(index + 1)]) - t[size_t(index)]) * frac / m_h;
}

void visual_mask::apply_row(float *row, int level)
{
    if (level < m_p.minlevel)
        return;
    float *cur = RingRow(0);
    std::fill(cur - m_w, cur + m_width + m_w, 0.0f);
    const int drop = 32 - m_p.bits_retained;
    auto keep_top = [&](double q) {
        uint64_t mag = uint64_t(std::min(std::fabs(q), 4294967295.0));
        return double(drop >= 32 ? 0 : (mag >> drop) << drop);
    };
    // Indices are clamped before they become ints, so huge samples cannot overflow a conversion.
    auto to_index = [](double v) { return int(std::min(v, 1e9)); };
    for (int j = 0; j < m_width; ++j) {
        double E = Neighbourhood(j);
        double x = row[j];
        if (!m_synthesis) {
            double m = Trunc(std::fabs(x));
            int i = to_index(Trunc(m / m_h));
            double f = std::fmod(m, m_h);
            double c = Trunc(m_h * Lookup(m_t1, i, f, kWarnIndex) / E);
            row[j] = float(x < 0 ? -c : c);
            if (m_p.beta != 0) {
                double q = keep_top(Trunc(c * m_scale));
                int t = to_index(Trunc(q * E / m_scale / m_h));
                double fp = std::fmod(Trunc(E * t / m_scale), m_h);
                cur[j] = float(Lookup(m_t2, t, fp, kWarnRing));
            }
        } else {
            if (m_p.beta != 0) {
                double q = keep_top(Trunc(x / m_scale));
                int t = to_index(Trunc(m_scale * E * q / m_h));
                double fp = std::fmod(Trunc(m_scale * E * t), m_h);
                cur[j] = float(Lookup(m_t2, t, fp, kWarnIndex));
            }
            double v = E * std::fabs(x);
            double f = std::fmod(Trunc(v), m_h);
            int i = to_index(Trunc(v / m_h));
            double s = m_h * Lookup(m_t1, i, f, kWarnIndex);
            row[j] = float(x < 0 ? -s : s);
        }
    }
    int u = std::abs(m_phase) + 1;
    m_phase = (u == m_block_h) ? 0 : m_phase - 1;
    m_head = (m_head + 1) % int(m_ring.size());
}

} // namespace zn::j2k
