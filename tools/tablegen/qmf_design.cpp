// QMF design as a least-squares problem over a fixed frequency grid, solved by Levenberg-Marquardt:
// residuals are the stop-band response (weighted) and the power-complementarity error
// |H(w)|^2 + |H(pi - w)|^2 - 1 on [0, pi/2]. The start is a windowed half-band sinc. Everything
// (grid, iteration count, damping schedule) is fixed, so the result is the same on every run.
#include "qmf_design.h"

#include <algorithm>
#include <cmath>

namespace tablegen {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Amplitude A(w) of a symmetric filter with half taps a[k] = h[k], k < N/2: H = e^{-jw(N-1)/2} A(w).
double Amplitude(const std::vector<double> &a, int taps, double w, std::vector<double> *grad)
{
    double sum = 0;
    for (size_t k = 0; k < a.size(); ++k) {
        double g = 2.0 * std::cos(w * ((taps - 1) / 2.0 - static_cast<double>(k)));
        if (grad)
            (*grad)[k] = g;
        sum += a[k] * g;
    }
    return sum;
}

// Solves the small dense system m x = b (Gaussian elimination with partial pivoting).
std::vector<double> Solve(std::vector<std::vector<double>> m, std::vector<double> b)
{
    const size_t n = b.size();
    for (size_t c = 0; c < n; ++c) {
        size_t p = c;
        for (size_t r = c + 1; r < n; ++r)
            if (std::fabs(m[r][c]) > std::fabs(m[p][c]))
                p = r;
        std::swap(m[c], m[p]);
        std::swap(b[c], b[p]);
        for (size_t r = c + 1; r < n; ++r) {
            double f = m[r][c] / m[c][c];
            for (size_t k = c; k < n; ++k)
                m[r][k] -= f * m[c][k];
            b[r] -= f * b[c];
        }
    }
    std::vector<double> x(n);
    for (size_t c = n; c-- > 0;) {
        double s = b[c];
        for (size_t k = c + 1; k < n; ++k)
            s -= m[c][k] * x[k];
        x[c] = s / m[c][c];
    }
    return x;
}

struct Problem
{
    int taps;
    std::vector<double> stopGrid, recGrid;
    double stopWeight;

    // Residuals and their Jacobian (rows: residuals, cols: half taps).
    double Evaluate(const std::vector<double> &a, std::vector<double> *r,
                    std::vector<std::vector<double>> *jac) const
    {
        const size_t m = a.size();
        std::vector<double> g1(m), g2(m);
        r->clear();
        if (jac)
            jac->clear();
        double sw = std::sqrt(stopWeight / static_cast<double>(stopGrid.size()));
        for (double w : stopGrid) {
            double v = Amplitude(a, taps, w, &g1);
            r->push_back(sw * v);
            if (jac) {
                jac->emplace_back(m);
                for (size_t k = 0; k < m; ++k)
                    jac->back()[k] = sw * g1[k];
            }
        }
        double rw = std::sqrt(1.0 / static_cast<double>(recGrid.size()));
        for (double w : recGrid) {
            double v1 = Amplitude(a, taps, w, &g1), v2 = Amplitude(a, taps, kPi - w, &g2);
            r->push_back(rw * (v1 * v1 + v2 * v2 - 1.0));
            if (jac) {
                jac->emplace_back(m);
                for (size_t k = 0; k < m; ++k)
                    jac->back()[k] = rw * 2.0 * (v1 * g1[k] + v2 * g2[k]);
            }
        }
        double cost = 0;
        for (double x : *r)
            cost += x * x;
        return cost;
    }
};

} // namespace

std::vector<double> DesignQmf(const QmfDesign &design)
{
    const int n = design.taps, m = n / 2;
    if (n == 2)
        return {0.5, 0.5}; // Haar: the only linear-phase QMF pair with exact reconstruction
    // Start: half-band sinc under a Hamming window, normalised to unit DC gain.
    std::vector<double> a(static_cast<size_t>(m));
    for (int k = 0; k < m; ++k) {
        double t = k - (n - 1) / 2.0;
        double win = 0.54 - 0.46 * std::cos(2.0 * kPi * k / (n - 1));
        a[static_cast<size_t>(k)] = std::sin(kPi * t / 2.0) / (kPi * t) * win;
    }
    Problem pb{n, {}, {}, design.stopWeight};
    const int grid = 32 * n;
    for (int i = 0; i <= grid; ++i) {
        double w = kPi * (design.stopEdge + (1.0 - design.stopEdge) * i / grid);
        pb.stopGrid.push_back(w);
        pb.recGrid.push_back(0.5 * kPi * i / grid);
    }
    auto normalise = [&](std::vector<double> &v) {
        double s = 0;
        for (double x : v)
            s += 2.0 * x;
        for (double &x : v)
            x /= s;
    };
    normalise(a);

    std::vector<double> r;
    std::vector<std::vector<double>> jac;
    double cost = pb.Evaluate(a, &r, &jac);
    double mu = 1e-3;
    for (int it = 0; it < 400; ++it) {
        std::vector<std::vector<double>> jtj(static_cast<size_t>(m),
                                             std::vector<double>(static_cast<size_t>(m), 0.0));
        std::vector<double> jtr(static_cast<size_t>(m), 0.0);
        for (size_t i = 0; i < r.size(); ++i)
            for (size_t p = 0; p < static_cast<size_t>(m); ++p) {
                jtr[p] += jac[i][p] * r[i];
                for (size_t q = 0; q < static_cast<size_t>(m); ++q)
                    jtj[p][q] += jac[i][p] * jac[i][q];
            }
        bool improved = false;
        for (int tries = 0; tries < 30 && !improved; ++tries) {
            auto sys = jtj;
            for (size_t p = 0; p < static_cast<size_t>(m); ++p)
                sys[p][p] *= 1.0 + mu;
            std::vector<double> step = Solve(sys, jtr);
            std::vector<double> trial(a);
            for (size_t p = 0; p < trial.size(); ++p)
                trial[p] -= step[p];
            std::vector<double> tr;
            double tc = pb.Evaluate(trial, &tr, nullptr);
            if (tc < cost) {
                a = trial;
                cost = pb.Evaluate(a, &r, &jac);
                mu = std::max(mu * 0.3, 1e-12);
                improved = true;
            } else {
                mu *= 10.0;
            }
        }
        if (!improved)
            break;
    }
    normalise(a);
    std::vector<double> h(static_cast<size_t>(n));
    for (int k = 0; k < m; ++k)
        h[static_cast<size_t>(k)] = h[static_cast<size_t>(n - 1 - k)] = a[static_cast<size_t>(k)];
    return h;
}

double QmfRippleDb(const std::vector<double> &h)
{
    const int n = static_cast<int>(h.size());
    std::vector<double> a(h.begin(), h.begin() + n / 2);
    double worst = 0;
    for (int i = 0; i <= 4096; ++i) {
        double w = 0.5 * kPi * i / 4096;
        double v1 = Amplitude(a, n, w, nullptr), v2 = Amplitude(a, n, kPi - w, nullptr);
        worst = std::max(worst, std::fabs(10.0 * std::log10(v1 * v1 + v2 * v2)));
    }
    return worst;
}

double QmfStopbandDb(const std::vector<double> &h, double stopEdge)
{
    const int n = static_cast<int>(h.size());
    std::vector<double> a(h.begin(), h.begin() + n / 2);
    double peak = 0;
    for (int i = 0; i <= 4096; ++i) {
        double w = kPi * (stopEdge + (1.0 - stopEdge) * i / 4096);
        peak = std::max(peak, std::fabs(Amplitude(a, n, w, nullptr)));
    }
    return 20.0 * std::log10(peak);
}

} // namespace tablegen
