// Lloyd-Max design by Newton's method on the midpoint conditions.
// Plain Lloyd iteration (alternate centroids and midpoints) converges ever more slowly as L grows;
// the conditions t_j = (r_{j-1} + r_j) / 2 couple only neighbouring thresholds, so their Jacobian is
// tridiagonal and a Newton step costs O(L). The start comes from companding theory: the optimum
// point density of a fine quantiser is proportional to f^(1/3), which for a generalized Gaussian is
// again one, three^(1/c) times wider. Only the positive half is solved; symmetry gives the rest.
#include "lloyd_max.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tablegen {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr int kMaxNewton = 60;
constexpr double kTolerance = 1e-14; // below the rounding floor of large L: stops on stagnation
constexpr double kAccept = 1e-10;

struct Cell
{
    double mass, centroid, dA, dB; // centroid and its derivatives w.r.t. the lower and upper edge
};

Cell MakeCell(const GgDensity &pdf, const GgDensity::Edge &a, const GgDensity::Edge &b)
{
    Cell c{};
    double m1;
    pdf.Moments(a, b, &c.mass, &m1);
    c.centroid = m1 / c.mass;
    c.dA = a.pdf * (c.centroid - a.t) / c.mass;
    c.dB = std::isinf(b.t) ? 0.0 : b.pdf * (b.t - c.centroid) / c.mass;
    return c;
}

// Positive-side layout. Unknowns u[1..m] (u[0] = 0 for even L, the edge of the central cell for odd
// L is u[1]). Cells on the positive side: j = 0 .. m, cell j = [u_j, u_{j+1}], u_{m+1} = inf; for odd
// L, cell 0 is the central cell [-u_1, u_1] whose centroid is 0.
struct Half
{
    bool odd;
    int m;
    std::vector<double> u; // size m + 2
};

std::vector<Cell> Cells(const GgDensity &pdf, const Half &h)
{
    std::vector<GgDensity::Edge> edges(h.u.size());
    for (size_t k = 0; k < h.u.size(); ++k)
        edges[k] = pdf.EdgeAt(h.u[k]);
    std::vector<Cell> cells(static_cast<size_t>(h.m) + 1);
    for (size_t j = 0; j < cells.size(); ++j) {
        if (j == 0 && h.odd) // the central cell [-u_1, u_1]: centroid 0 by symmetry
            cells[0] = Cell{edges[1].p0, 0.0, 0.0, 0.0};
        else
            cells[j] = MakeCell(pdf, edges[j], edges[j + 1]);
    }
    return cells;
}

double MaxResidual(const Half &h, const std::vector<Cell> &cells, std::vector<double> *f)
{
    double worst = 0;
    f->assign(static_cast<size_t>(h.m) + 1, 0.0);
    for (int j = 1; j <= h.m; ++j) {
        double r = h.u[static_cast<size_t>(j)] - 0.5 * (cells[static_cast<size_t>(j) - 1].centroid +
                                                        cells[static_cast<size_t>(j)].centroid);
        (*f)[static_cast<size_t>(j)] = r;
        worst = std::max(worst, std::fabs(r) / std::max(1.0, std::fabs(h.u[static_cast<size_t>(j)])));
    }
    return worst;
}

} // namespace

bool DesignLloydMax(const GgDensity &pdf, int levels, LloydMaxQuantiser *out, std::string *why)
{
    Half h;
    h.odd = levels % 2 == 1;
    h.m = h.odd ? (levels - 1) / 2 : levels / 2 - 1;
    h.u.assign(static_cast<size_t>(h.m) + 2, 0.0);
    h.u[static_cast<size_t>(h.m) + 1] = kInf;
    const double scale = std::pow(3.0, -1.0 / pdf.Shape());
    for (int j = 1; j <= h.m; ++j) {
        double p = h.odd ? (2.0 * j - 1.0) / levels : 2.0 * j / levels;
        h.u[static_cast<size_t>(j)] = pdf.InverseAbsCdf(p, scale);
    }

    std::vector<Cell> cells = Cells(pdf, h);
    std::vector<double> f;
    double res = MaxResidual(h, cells, &f);
    std::vector<double> lower(static_cast<size_t>(h.m) + 1), diag(lower), upper(lower), step(lower);
    for (int it = 0; it < kMaxNewton && res > kTolerance; ++it) {
        // Jacobian of F_j = u_j - (r_{j-1} + r_j) / 2.
        for (int j = 1; j <= h.m; ++j) {
            const Cell &below = cells[static_cast<size_t>(j) - 1], &above = cells[static_cast<size_t>(j)];
            bool belowHasLowerEdge = j >= 2;
            lower[static_cast<size_t>(j)] = belowHasLowerEdge ? -0.5 * below.dA : 0.0;
            diag[static_cast<size_t>(j)] = 1.0 - 0.5 * (below.dB + above.dA);
            upper[static_cast<size_t>(j)] = j < h.m ? -0.5 * above.dB : 0.0;
        }
        // Thomas algorithm for J step = f.
        std::vector<double> c(upper), d(f);
        for (int j = 1; j <= h.m; ++j) {
            size_t k = static_cast<size_t>(j);
            double den = diag[k] - (j > 1 ? lower[k] * c[k - 1] : 0.0);
            c[k] = upper[k] / den;
            d[k] = (d[k] - (j > 1 ? lower[k] * d[k - 1] : 0.0)) / den;
        }
        for (int j = h.m; j >= 1; --j) {
            size_t k = static_cast<size_t>(j);
            step[k] = d[k] - (j < h.m ? c[k] * step[k + 1] : 0.0);
        }
        // Damped update: keep the thresholds ordered and the residual falling.
        double lambda = 1.0;
        Half trial = h;
        std::vector<Cell> trialCells;
        std::vector<double> trialF;
        double trialRes = 0;
        bool better = false;
        for (int halvings = 0; halvings < 20 && !better; ++halvings, lambda *= 0.5) {
            bool ordered = true;
            for (int j = 1; j <= h.m; ++j) {
                size_t k = static_cast<size_t>(j);
                trial.u[k] = h.u[k] - lambda * step[k];
                if (trial.u[k] <= trial.u[k - 1])
                    ordered = false;
            }
            if (!ordered)
                continue;
            trialCells = Cells(pdf, trial);
            trialRes = MaxResidual(trial, trialCells, &trialF);
            better = trialRes < res;
        }
        if (!better)
            break; // at the rounding floor (or stuck: judged below)
        h = trial;
        cells = std::move(trialCells);
        f = std::move(trialF);
        res = trialRes;
    }
    if (res > kAccept) {
        *why = "Newton iteration did not converge, residual " + std::to_string(res);
        return false;
    }

    // Assemble the full quantiser from the positive half.
    out->thresholds.assign(static_cast<size_t>(levels) + 1, 0.0);
    out->reconstruction.assign(static_cast<size_t>(levels), 0.0);
    out->probabilities.assign(static_cast<size_t>(levels), 0.0);
    out->thresholds.front() = -kInf;
    out->thresholds.back() = kInf;
    int centre = levels / 2; // first cell of the positive side (the central cell when L is odd)
    for (int j = 0; j <= h.m; ++j) {
        int i = centre + j;
        size_t si = static_cast<size_t>(i), mi = static_cast<size_t>(levels - 1 - i);
        out->reconstruction[si] = cells[static_cast<size_t>(j)].centroid;
        out->reconstruction[mi] = -cells[static_cast<size_t>(j)].centroid;
        out->probabilities[si] = cells[static_cast<size_t>(j)].mass;
        out->probabilities[mi] = cells[static_cast<size_t>(j)].mass;
        if (j >= 1) {
            out->thresholds[si] = h.u[static_cast<size_t>(j)];
            out->thresholds[static_cast<size_t>(levels) - si] = -h.u[static_cast<size_t>(j)];
        }
    }
    if (h.odd)
        out->probabilities[static_cast<size_t>(centre)] = cells[0].mass;
    // The MSE, cell by cell over the positive half, doubled (the central cell of odd L counts once
    // in full: both of its halves are [0, u_1] around 0).
    double sum = 0;
    for (int j = 0; j <= h.m; ++j) {
        size_t k = static_cast<size_t>(j);
        if (j == 0 && h.odd)
            sum += pdf.ErrorIntegral(0, h.u[1], 0);
        else
            sum += pdf.ErrorIntegral(h.u[k], h.u[k + 1], cells[k].centroid);
    }
    out->distortion = 2 * sum;
    out->residual = res;
    return true;
}

} // namespace tablegen
