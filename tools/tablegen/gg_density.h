// The generalized Gaussian density of unit variance, f(x) = K exp(-(a|x|)^c), and its partial
// moments over intervals. Shape c = 2 is the Gaussian, c = 1 the Laplacian; smaller c gives the
// peaked, heavy-tailed densities of subband and DCT coefficients.
#pragma once

namespace tablegen {

// Regularized incomplete gamma functions P(s, x) and Q(s, x) = 1 - P(s, x), each accurate also
// where it is tiny (P by its series, Q by its continued fraction).
void IncompleteGamma(double s, double x, double *p, double *q);

class GgDensity
{
public:
    explicit GgDensity(double c);
    double Shape() const { return m_c; }
    double Pdf(double x) const;
    // Mass and first moment of the density over [a, b]; a may be -inf, b +inf.
    void Moments(double a, double b, double *mass, double *moment) const;

    // The tail integrals at an edge t >= 0 (t may be +inf), so that neighbouring cells share them.
    struct Edge
    {
        double t, p0, q0, p1, q1, pdf;
    };
    Edge EdgeAt(double t) const;
    // Mass and first moment over [a.t, b.t], 0 <= a.t < b.t.
    void Moments(const Edge &a, const Edge &b, double *mass, double *moment) const;
    // x >= 0 with P(|X| <= x) = p, for a GG density of the same shape and the given scale factor
    // on a (used for the compander start of the quantiser design).
    double InverseAbsCdf(double p, double scale) const;
    // Integral of (x - r)^2 f(x) over [a, b], 0 <= a < b (b may be +inf). Computed cell by cell
    // rather than as E[x^2] - sum p r^2, whose cancellation would swamp the tiny MSE of fine quantisers.
    double ErrorIntegral(double a, double b, double r) const;

private:
    double m_c, m_a, m_k, m_m1; // shape, rate a, normaliser K, first absolute moment / 2
};

} // namespace tablegen
