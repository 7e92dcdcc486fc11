// Generalized Gaussian moments through the incomplete gamma function: with y = (a t)^c,
// the mass beyond t is Q(1/c, y) / 2 and the first moment beyond t is m1 Q(2/c, y), so every cell of
// a quantiser is integrated exactly, with no quadrature error and no cancellation in the tails.
#include "gg_density.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tablegen {

namespace {

constexpr double kEps = 1e-17;
constexpr int kGaussPoints = 20;

// Gauss-Legendre nodes and weights on [-1, 1], by Newton's method on the Legendre polynomial.
struct GaussLegendre
{
    double x[kGaussPoints], w[kGaussPoints];
    GaussLegendre()
    {
        const int n = kGaussPoints;
        for (int i = 0; i < n; ++i) {
            double z = std::cos(3.14159265358979323846 * (i + 0.75) / (n + 0.5)), dp = 1;
            for (int it = 0; it < 100; ++it) {
                double p0 = 1, p1 = 0;
                for (int k = 1; k <= n; ++k) {
                    double p2 = p1;
                    p1 = p0;
                    p0 = ((2.0 * k - 1) * z * p1 - (k - 1.0) * p2) / k;
                }
                dp = n * (z * p0 - p1) / (z * z - 1);
                double dz = p0 / dp;
                z -= dz;
                if (std::fabs(dz) < 1e-16)
                    break;
            }
            x[i] = z;
            w[i] = 2 / ((1 - z * z) * dp * dp);
        }
    }
};
const GaussLegendre kGauss;
constexpr int kMaxIter = 100000;

double SeriesP(double s, double x)
{
    double ap = s, sum = 1.0 / s, del = sum;
    for (int n = 0; n < kMaxIter; ++n) {
        ap += 1.0;
        del *= x / ap;
        sum += del;
        if (std::fabs(del) < std::fabs(sum) * kEps)
            break;
    }
    return sum * std::exp(-x + s * std::log(x) - std::lgamma(s));
}

// Modified Lentz evaluation of the continued fraction of Q.
double ContinuedFractionQ(double s, double x)
{
    const double tiny = 1e-300;
    double b = x + 1.0 - s, c = 1.0 / tiny, d = 1.0 / b, h = d;
    for (int i = 1; i < kMaxIter; ++i) {
        double an = -i * (i - s);
        b += 2.0;
        d = an * d + b;
        if (std::fabs(d) < tiny)
            d = tiny;
        c = b + an / c;
        if (std::fabs(c) < tiny)
            c = tiny;
        d = 1.0 / d;
        double del = d * c;
        h *= del;
        if (std::fabs(del - 1.0) < kEps)
            break;
    }
    return std::exp(-x + s * std::log(x) - std::lgamma(s)) * h;
}

} // namespace

void IncompleteGamma(double s, double x, double *p, double *q)
{
    if (x <= 0) {
        *p = 0;
        *q = 1;
    } else if (std::isinf(x)) {
        *p = 1;
        *q = 0;
    } else if (x < s + 1.0) {
        *p = SeriesP(s, x);
        *q = 1.0 - *p;
    } else {
        *q = ContinuedFractionQ(s, x);
        *p = 1.0 - *q;
    }
}

GgDensity::GgDensity(double c) : m_c(c)
{
    // Unit variance: E[x^2] = Gamma(3/c) / (a^2 Gamma(1/c)) = 1.
    m_a = std::sqrt(std::tgamma(3.0 / c) / std::tgamma(1.0 / c));
    m_k = c * m_a / (2.0 * std::tgamma(1.0 / c));
    m_m1 = std::tgamma(2.0 / c) / (2.0 * m_a * std::tgamma(1.0 / c));
}

double GgDensity::Pdf(double x) const
{
    return m_k * std::exp(-std::pow(m_a * std::fabs(x), m_c));
}

GgDensity::Edge GgDensity::EdgeAt(double t) const
{
    Edge e{t, 1, 0, 1, 0, 0};
    if (std::isinf(t))
        return e;
    double y = std::pow(m_a * t, m_c);
    IncompleteGamma(1.0 / m_c, y, &e.p0, &e.q0);
    IncompleteGamma(2.0 / m_c, y, &e.p1, &e.q1);
    e.pdf = m_k * std::exp(-y);
    return e;
}

void GgDensity::Moments(const Edge &a, const Edge &b, double *mass, double *moment) const
{
    // Difference the smaller of the two tails.
    *mass = 0.5 * (a.q0 < 0.5 ? a.q0 - b.q0 : b.p0 - a.p0);
    *moment = m_m1 * (a.q1 < 0.5 ? a.q1 - b.q1 : b.p1 - a.p1);
}

void GgDensity::Moments(double a, double b, double *mass, double *moment) const
{
    const Edge zero = EdgeAt(0);
    if (a >= 0) {
        Moments(EdgeAt(a), EdgeAt(b), mass, moment);
    } else if (b <= 0) {
        Moments(EdgeAt(-b), EdgeAt(-a), mass, moment);
        *moment = -*moment;
    } else {
        double m0a, m1a, m0b, m1b;
        Moments(zero, EdgeAt(-a), &m0a, &m1a);
        Moments(zero, EdgeAt(b), &m0b, &m1b);
        *mass = m0a + m0b;
        *moment = m1b - m1a;
    }
}

double GgDensity::ErrorIntegral(double a, double b, double r) const
{
    if (std::isinf(b)) {
        // Tail: integrals of x^2 f, x f and f beyond a are Q(3/c, y) / 2, m1 Q(2/c, y) and Q(1/c, y) / 2.
        // Here the cell's spread is a fair fraction of r, so the sum loses only a few digits.
        double y = std::pow(m_a * a, m_c), p, q0, q1, q2;
        IncompleteGamma(1.0 / m_c, y, &p, &q0);
        IncompleteGamma(2.0 / m_c, y, &p, &q1);
        IncompleteGamma(3.0 / m_c, y, &p, &q2);
        return std::max(0.0, 0.5 * q2 - 2 * r * m_m1 * q1 + r * r * 0.5 * q0);
    }
    const int panels = 3;
    double sum = 0;
    for (int k = 0; k < panels; ++k)
        for (int i = 0; i < kGaussPoints; ++i) {
            double t = (k + 0.5 + 0.5 * kGauss.x[i]) / panels, x, dx;
            if (a == 0) {
                // x = b t^4 flattens the cusp of the density at 0.
                x = b * t * t * t * t;
                dx = 4 * b * t * t * t;
            } else {
                x = a + (b - a) * t;
                dx = b - a;
            }
            sum += kGauss.w[i] * 0.5 / panels * dx * (x - r) * (x - r) * Pdf(x);
        }
    return sum;
}

double GgDensity::InverseAbsCdf(double p, double scale) const
{
    // Solve P(1/c, y) = p for y by bisection on y, guided by Newton steps, then x = y^(1/c) / (a scale).
    const double s = 1.0 / m_c;
    double lo = 0, hi = 1;
    double pp, qq;
    for (;;) {
        IncompleteGamma(s, hi, &pp, &qq);
        if (pp >= p)
            break;
        lo = hi;
        hi *= 2;
    }
    double y = 0.5 * (lo + hi);
    for (int it = 0; it < 200 && hi - lo > 1e-15 * hi; ++it) {
        IncompleteGamma(s, y, &pp, &qq);
        if (pp < p)
            lo = y;
        else
            hi = y;
        double dens = std::exp((s - 1) * std::log(y) - y - std::lgamma(s));
        double next = y - (pp - p) / dens;
        bool newton = next > lo && next < hi;
        if (newton && std::fabs(next - y) <= 1e-15 * y)
            return std::pow(next, 1.0 / m_c) / (m_a * scale);
        y = newton ? next : 0.5 * (lo + hi);
    }
    return std::pow(y, 1.0 / m_c) / (m_a * scale);
}

} // namespace tablegen
