// The rate and step models of the Lagrangian allocation, the bisection on the multiplier and the
// target correction across encodings.
#include "jpeg2000/lra_allocation.h"

#include "jpeg2000/band_steps.h"

#include <algorithm>
#include <cmath>

namespace zn::j2k {

namespace {

enum Param { B, A, C, D, P, S, U, T1, T2, sB, sA, sC, sD, sp, sS, sU, sT1, sT2, sF, kParams };

// Fitted parameters, [set - 1][parameter][class - 1]. B is -log2(10) / 2.
const float kB = float(-1.6609640474436813);
const float kSets[2][kParams][5] = {
    {
        {kB, kB, kB, kB, kB},
        {-0.298477f, 0.0764613f, 0.214364f, 0.302328f, 0.318614f},
        {0.0563047f, 0.0f, -0.195004f, -0.334405f, -1.49167f},
        {0.148039f, 0.0f, -0.124035f, -0.15261f, -0.331146f},
        {283.241f, 14.7723f, 598.091f, 32.7548f, 70.8032f},
        {72.0781f, 2.2543f, 70.1885f, 1.21531f, 1.32669f},
        {-0.0937507f, 0.0460343f, 0.0486695f, 0.075033f, -0.003975f},
        {0.005f, 1000.0f, 0.15f, 0.3f, 0.6f},
        {0.005f, 0.00619062f, 0.15f, 0.3f, 0.6f},
        {0.5f, 0.5f, 0.5f, 0.5f, 0.5f},
        {0.224935f, 0.224935f, 0.224935f, 0.224935f, 0.224935f},
        {0.027569f, 0.02369f, 0.031087f, 0.0212835f, 0.04727f},
        {0.10964f, 0.082817f, 0.092541f, 0.062685f, 0.10813f},
        {855.37f, 1.02504e8f, 1523.9f, 3.2113e8f, 6809.0f},
        {293.23f, 3.26066e7f, 399.63f, 8.1289e7f, 1806.7f},
        {-1.5067f, -1.13293f, -0.8759f, -0.5922f, 0.58176f},
        {0.0001f, 0.0004f, 0.001f, 0.001f, 0.004f},
        {0.0001f, 0.0004f, 0.001f, 0.001f, 0.004f},
        {0.211731f, 0.30278f, 0.390313f, 0.651787f, 15.3783f},
    },
    {
        {kB, kB, kB, kB, kB},
        {-0.102609f, 0.274377f, 0.424847f, 0.509521f, 0.528487f},
        {0.406009f, -0.0941999f, -0.43148f, -0.70342f, -1.53215f},
        {0.318568f, -0.130585f, -0.336161f, -0.455929f, -0.607923f},
        {3.22245f, 4.09151f, 3.86734f, 2.58886f, 1.41627f},
        {0.591151f, 0.493445f, 0.385875f, 0.150839f, 0.0350274f},
        {0.172085f, 0.0819252f, 0.0423839f, 0.0226665f, -0.0248773f},
        {0.164198f, 0.0410906f, 0.166308f, 0.224823f, 0.401071f},
        {0.381008f, 0.387686f, 0.453429f, 0.744436f, 0.871155f},
        {0.5f, 0.5f, 0.5f, 0.5f, 0.5f},
        {0.468663f, 0.468663f, 0.468663f, 0.468663f, 0.468663f},
        {0.0498169f, 0.0837335f, 0.0642464f, 0.043911f, 0.0363705f},
        {0.119556f, 0.162242f, 0.0948988f, 0.0639738f, 0.0546451f},
        {16.9615f, 85.2986f, 82.0619f, 32.4838f, 29.9839f},
        {3.47458f, 10.7335f, 4.89079f, 3.80514f, 5.36354f},
        {-0.635782f, -0.526641f, -0.600124f, -0.513084f, -0.0279968f},
        {0.00398195f, 0.0115453f, 0.0333345f, 0.0349222f, 0.0314442f},
        {0.00398195f, 0.0115453f, 0.0333345f, 0.0349222f, 0.0314442f},
        {0.185093f, 0.146906f, 0.28373f, 0.405099f, 2.08506f},
    },
};

double Par(int set, int cls, Param k)
{
    return kSets[set == 1 ? 0 : 1][k][std::clamp(cls, 1, 5) - 1];
}

// The smooth knee both models share: scale * (((1 + ((L + s - u) / s)^p)^(1/p)) - 1).
double Knee(double L, double s, double u, double p)
{
    return std::pow(1.0 + std::pow((L + s - u) / s, p), 1.0 / p) - 1.0;
}

double NormalisedMultiplier(const lra_band &b, double lambda)
{
    double x = lambda / (double(b.weight) * double(b.variance));
    return std::isnan(x) ? 1000.0 : std::min(x, 1000.0);
}

float QuantisedStep(float step)
{
    exp_mant em = step_to_exp_mant(step);
    return float(exp_mant_to_step(em.e, em.m));
}

} // namespace

int lra_class(float kurtosis)
{
    const float bounds[6] = {1e37f, 17.425f, 4.881f, 7.825f, 3.381f, -1e37f};
    int cls = 1;
    for (int i = 1; i <= 5; ++i)
        if (bounds[i] < kurtosis && kurtosis <= bounds[i - 1])
            cls = i;
    return cls;
}

double lra_model_rate(int set, int cls, double x)
{
    double L = std::log10(x);
    double r = Par(set, cls, A) + Par(set, cls, B) * L;
    if (x >= Par(set, cls, T1))
        r += Par(set, cls, C) * L + Par(set, cls, D);
    if (x >= Par(set, cls, T2))
        r += -(Par(set, cls, C) + Par(set, cls, B)) * Par(set, cls, S) *
             Knee(L, Par(set, cls, S), Par(set, cls, U), Par(set, cls, P));
    return r < 0.005 ? 0.0 : r;
}

double lra_model_step_exponent(int set, int cls, double x)
{
    double L = std::log10(x);
    double s = Par(set, cls, sB) * L + Par(set, cls, sA);
    if (x >= Par(set, cls, sT1))
        s += Par(set, cls, sC) * L + Par(set, cls, sD);
    if (x >= Par(set, cls, sT2))
        s += Par(set, cls, sF) * Par(set, cls, sS) *
             Knee(L, Par(set, cls, sS), Par(set, cls, sU), Par(set, cls, sp));
    return std::min(s, 37.0);
}

double lra_total_rate(lra_model &model, int set, double lambda)
{
    double total = 0;
    for (auto &component : model.bands)
        for (auto &level : component)
            for (lra_band &b : level) {
                b.x = float(NormalisedMultiplier(b, lambda));
                b.rate = float(lra_model_rate(set, b.cls, b.x));
                total += double(b.fraction) * b.rate;
            }
    return total;
}

double lra_find_multiplier(lra_model &model, int set, double target)
{
    double upper = 10;
    while (lra_total_rate(model, set, upper) > target && upper <= 1e30)
        upper *= 2;
    double lower = 0.1;
    while (lra_total_rate(model, set, lower) <= target && lower >= 1e-10)
        lower /= 2;
    double lambda = (lower + upper) / 2, tolerance = 1e-8;
    double r = lra_total_rate(model, set, lambda);
    if (std::fabs(r - target) <= tolerance && r <= target)
        return lambda;
    for (long iteration = 1;; ++iteration) {
        if (r > target) {
            lower = lambda;
            lambda = (lambda + upper) / 2;
        } else if (r < target) {
            upper = lambda;
            lambda = (lambda + lower) / 2;
        }
        r = lra_total_rate(model, set, lambda);
        if (std::fabs(target - r) <= tolerance && r <= target)
            return lambda;
        if (upper - lower < tolerance) {
            lambda = upper;
            lra_total_rate(model, set, lambda);
            return lambda;
        }
        if (iteration % 1000 == 0)
            tolerance *= 10;
    }
}

lra_program_state &lra_state()
{
    static lra_program_state state;
    return state;
}

void lra_reset_state()
{
    lra_state() = lra_program_state{};
}

void lra_step_allocation(lra_model &model, float r1, float r2, int n, int set)
{
    lra_program_state &st = lra_state();
    for (auto &component : model.bands)
        for (auto &level : component)
            for (lra_band &b : level)
                b.cls = lra_class(b.kurtosis);

    // The target: a secant step through the last two targets and the rates they achieved.
    st.targets[0] = st.targets[1];
    st.targets[1] = st.rho_prev;
    st.r2s[0] = st.r2s[1];
    st.r2s[1] = r2;
    float older = st.targets[0], previous_r2 = st.r2s[0];
    float rho;
    if (n == 0)
        rho = r1;
    else if (n == 1)
        rho = (r1 / r2) * st.rho_prev;
    else if (previous_r2 == r2)
        rho = st.rho_prev - older + st.secant_last;
    else
        rho = older + (r1 - previous_r2) / (r2 - previous_r2) * (st.rho_prev - older);
    st.secant_last = rho;

    if (st.rho_min == 0)
        st.rho_min = rho;
    else if (rho > 0 && rho < st.rho_min)
        st.rho_min = rho;
    if (rho < 0) {
        rho = st.rho_min / 2;
        st.rho_min = rho;
    }
    st.delta_prev = st.delta;
    if (rho - st.rho_prev != 0)
        st.delta = rho - st.rho_prev;

    float signature = 0;
    // A step set seen before would repeat an earlier encoding; move the target until it is new. The
    // bound keeps a target that cannot move (no change of target yet) from looping.
    for (int pass = 0; pass < 1000; ++pass) {
        lra_find_multiplier(model, set, rho);
        signature = 0;
        for (auto &component : model.bands)
            for (auto &level : component)
                for (lra_band &b : level) {
                    double step = 2.0 * std::sqrt(double(b.variance)) *
                                  std::pow(10.0, lra_model_step_exponent(set, b.cls, b.x));
                    if (!(step > 0) || step > 2147483648.0 || std::isnan(step))
                        step = 2147483648.0;
                    b.step = float(step);
                    signature += QuantisedStep(b.step) * float(std::ldexp(1.0, -30));
                }
        if (n == 0)
            break;
        bool seen = false;
        for (int i = 0; i < std::min(n, 200) && !seen; ++i)
            seen = st.signatures[i] == signature;
        if (!seen)
            break;
        if (rho + st.delta >= 0) {
            rho += st.delta;
        } else {
            st.rho_min /= 2;
            rho = st.rho_min;
        }
    }
    if (n >= 0 && n < 200)
        st.signatures[n] = signature;
    st.rho_prev = rho;
}

} // namespace zn::j2k
