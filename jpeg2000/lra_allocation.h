// Lagrangian rate allocation of step sizes. Each band is modelled from its variance and a kurtosis
// measure, which picks one of five fitted classes; closed-form curves give the band's rate and step
// for a normalised Lagrange multiplier. A bisection finds the multiplier whose total modelled rate
// meets the target, and a secant step over earlier encodings corrects the target itself.
#pragma once

#include <cstdint>
#include <vector>

namespace zn::j2k {

// One band of the model.
struct lra_band
{
    double count = 0;              // samples seen
    double mean[4] = {0, 0, 0, 0}; // means of x, x^2, x^3, x^4
    float variance = 0;            // sigma^2
    float kurtosis = 1;            // kappa
    float fraction = 0;            // share of all samples
    float weight = 1;              // squared basis norm times squared visual weight
    int cls = 1;                   // 1..5
    float x = 0;                   // normalised multiplier
    float rate = 0;                // modelled bits per sample
    float step = 0;
};

// Indexed [component][level][band]; a level holds band indices 0 .. its last band.
struct lra_model
{
    std::vector<std::vector<std::vector<lra_band>>> bands;
};

// The class of a kurtosis measure (1 to 5; no measure gives class 3).
int lra_class(float kurtosis);
// Modelled rate (bits per sample, below 0.005 counted as 0) and step exponent s (step = 2 sigma 10^s)
// of a band of class `cls` at normalised multiplier x, with parameter set 1 (TCQ) or 2.
double lra_model_rate(int set, int cls, double x);
double lra_model_step_exponent(int set, int cls, double x);
// Total modelled rate of the model at multiplier lambda; sets every band's x and rate.
double lra_total_rate(lra_model &model, int set, double lambda);
// The multiplier whose total rate meets `target` by bisection; leaves the bands at that multiplier.
double lra_find_multiplier(lra_model &model, int set, double target);

// Fills every band's step for target rates r1 and r2 (bits per pixel), call counter n and set 1 or 2.
void lra_step_allocation(lra_model &model, float r1, float r2, int n, int set);

// The allocation state kept across encodings of one program run (targets, the secant history, the
// signatures of earlier step sets, the call counter). Tests start it from a reset.
struct lra_program_state
{
    float rho_prev = 0, rho_min = 0;
    float delta = 0, delta_prev = 0;
    float targets[2] = {0, 0}; // older, newer
    float r2s[2] = {0, 0};     // older, newer
    float secant_last = 0;
    float signatures[200] = {};
    int calls = 0; // the counter the coding parameters pass as n
};
lra_program_state &lra_state();
void lra_reset_state();

} // namespace zn::j2k
