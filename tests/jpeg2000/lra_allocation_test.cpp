// The Lagrangian rate allocation: the classes, the closed-form rate and step models with both
// parameter sets, the bisection on the multiplier, the target correction across encodings, and the
// hook in the coding parameters that makes the model, fills it from the analysis and allocates.
#include "jpeg2000/support/transform_pipeline.h"

#include "jpeg2000/band_steps.h"
#include "jpeg2000/local_services.h"
#include "jpeg2000/lra_allocation.h"
#include "platform/messages.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace lra_allocation_test { // one namespace per test file: a folder compiles as one source

using namespace zn::j2k;

TEST(J2kLra, ClassesOfTheKurtosisMeasure)
{
    struct Case
    {
        float kurtosis;
        int cls;
    } cases[] = {{6, 4},      {20, 1},     {17.425f, 2}, {17.5f, 1}, {7.825f, 4}, {7.9f, 2},
                 {4.881f, 4}, {3.381f, 5}, {3.4f, 4},    {-5, 5},    {1e30f, 1}};
    for (const Case &c : cases)
        EXPECT_EQ(lra_class(c.kurtosis), c.cls) << c.kurtosis;
}

// The rate model, term by term, against its closed form: below T1 only A + B L, then the straight
// segment, then the knee; small rates count as none.
TEST(J2kLra, RateAndStepModels)
{
    // Set 2, class 1 at x = 0.01 (below both thresholds): A + B L.
    EXPECT_NEAR(lra_model_rate(2, 1, 0.01), -0.102609 + -1.6609640474 * -2, 1e-5);
    // Set 2, class 3 at x = 0.3 (past T1 = 0.166308, below T2 = 0.453429).
    double L = std::log10(0.3);
    EXPECT_NEAR(lra_model_rate(2, 3, 0.3), 0.424847 + -1.6609640474 * L + (-0.43148 * L - 0.336161), 1e-5);
    // Set 1, class 4 at x = 0.5 (past T2 = 0.3): with the knee.
    L = std::log10(0.5);
    double S = 1.21531, U = 0.075033, p = 32.7548, C = -0.334405, B = -1.6609640474;
    double knee = std::pow(1 + std::pow((L + S - U) / S, p), 1 / p) - 1;
    EXPECT_NEAR(lra_model_rate(1, 4, 0.5), 0.302328 + B * L + (C * L - 0.15261) - (C + B) * S * knee, 1e-4);
    // Rates below 0.005 bits per sample are none: along x the model falls to 0 and never shows a
    // rate between 0 and 0.005.
    for (int set : {1, 2})
        for (int cls = 1; cls <= 5; ++cls) {
            bool zero_seen = false;
            for (double x = 1e-6; x <= 1000; x *= 1.05) {
                double r = lra_model_rate(set, cls, x);
                EXPECT_TRUE(r == 0.0 || r >= 0.005) << set << " " << cls << " " << x;
                zero_seen = zero_seen || r == 0.0;
            }
            EXPECT_TRUE(zero_seen || set == 2) << set << " " << cls;
        }
    // The step model at small x: sB L + sA, and its cap of 37.
    EXPECT_NEAR(lra_model_step_exponent(2, 2, 1e-4), 0.5 * -4 + 0.468663, 1e-5);
    EXPECT_LE(lra_model_step_exponent(1, 4, 1000), 37.0);
}

namespace {

lra_model Model(uint32_t seed, int bands)
{
    std::mt19937 rng(seed);
    lra_model m;
    m.bands.resize(1);
    m.bands[0].resize(1);
    for (int b = 0; b < bands; ++b) {
        lra_band band;
        band.variance = float(1 + rng() % 5000);
        band.kurtosis = float(rng() % 25);
        band.fraction = 1.0f / float(bands);
        band.weight = float(0.1 + (rng() % 100) / 10.0);
        band.cls = lra_class(band.kurtosis);
        m.bands[0][0].push_back(band);
    }
    return m;
}

} // namespace

// The multiplier found meets the target from below within the tolerance; a huge multiplier keeps
// every normalised multiplier at its cap of 1000.
TEST(J2kLra, BisectionMeetsTheTarget)
{
    for (int set : {1, 2})
        for (double target : {0.05, 0.5, 2.0}) {
            lra_model m = Model(3, 10);
            double lambda = lra_find_multiplier(m, set, target);
            double rate = lra_total_rate(m, set, lambda);
            EXPECT_LE(rate, target + 1e-6) << set << " " << target;
            EXPECT_GT(rate, target - 1e-3) << set << " " << target;
        }
    lra_model m = Model(4, 3);
    lra_total_rate(m, 2, 1e30);
    for (const lra_band &b : m.bands[0][0])
        EXPECT_EQ(b.x, 1000.0f);
}

// The first allocation takes R1 as its target; the second scales the previous target by R1 / R2; the
// state carries over from one allocation to the next until reset.
TEST(J2kLra, TargetsAcrossEncodings)
{
    lra_reset_state();
    lra_model m = Model(8, 12);
    lra_step_allocation(m, 1.0f, 0.9f, 0, 2);
    EXPECT_FLOAT_EQ(lra_state().rho_prev, 1.0f);
    for (const lra_band &b : m.bands[0][0]) {
        EXPECT_GT(b.step, 0.0f);
        EXPECT_LE(b.step, 2147483648.0f);
    }
    float first_signature = lra_state().signatures[0];
    EXPECT_GT(first_signature, 0.0f);
    lra_step_allocation(m, 1.0f, 0.8f, 1, 2);
    EXPECT_NEAR(lra_state().rho_prev, 1.0f / 0.8f * 1.0f, 1e-5);
    // The third call steps along the secant through the last two (target, achieved rate) pairs.
    lra_step_allocation(m, 1.0f, 0.95f, 2, 2);
    float older = 1.0f, newer = 1.25f, r2_prev = 0.8f, r2 = 0.95f;
    float want = older + (1.0f - r2_prev) / (r2 - r2_prev) * (newer - older);
    if (lra_state().signatures[1] != lra_state().signatures[2] && want >= 0) {
        EXPECT_NEAR(lra_state().rho_prev, want, 1e-4);
    }
    lra_reset_state();
    EXPECT_EQ(lra_state().rho_prev, 0.0f);
}

// "-Flra": the coding parameters make the model, the analysis fills it with every band's statistics,
// the fractions add up to one, and a second activation allocates steps that the bands then carry.
TEST(J2kLra, TheHookMakesFillsAndAllocates)
{
    zntest::ScratchDir dir;
    zn::MessageRecorder rec;
    J2kRun run;
    lra_reset_state();
    j2ktest::Image im = j2ktest::Image::Grey(48, 40);
    j2ktest::TransformPipeline p(im, {"-Flra", "-Flev", "2"}, dir.File("l.j2c"));
    ASSERT_TRUE(p.fwd->has_lra_band_statistics());
    std::mt19937 rng(2);
    std::vector<j2ktest::Plane> image(1);
    image[0].rows = 48;
    image[0].cols = 40;
    for (int i = 0; i < 48 * 40; ++i)
        image[0].v.push_back(int32_t((i % 40) * 3 + rng() % 20) - 64);
    p.Encode(image);
    p.fwd->next_tile(1);
    double ll_norm = p.fwd->band_record(0, 0, 0).basis_norm;
    p.fwd->terminate(0); // not the last encoding: the model stays, its fractions filled
    const lra_model *m = p.fwd->lra();
    ASSERT_NE(m, nullptr);
    double fractions = 0, samples = 0;
    for (const auto &level : m->bands[0])
        for (const lra_band &b : level) {
            fractions += b.fraction;
            samples += b.count;
        }
    EXPECT_NEAR(fractions, 1.0, 1e-5);
    EXPECT_EQ(samples, 48.0 * 40.0);
    const lra_band &ll = m->bands[0][0][0];
    EXPECT_GT(ll.variance, 0.0f);
    EXPECT_NEAR(ll.weight, ll_norm * ll_norm, 1e-3); // squared basis norm, visual weight 1
    // The next encoding with the same coding parameters finds the model and allocates from its budget.
    auto budget = create_stream_out();
    budget->initialize(48 * 40 / 8, dir.File("b.j2c").c_str(), p.enc_args.line.get());
    j2ktest::Image again = j2ktest::Image::Grey(48, 40);
    p.fwd->initialize(1, again.precisions.data(), again.dims.data(), 0.0078125f, 0, 0, budget.get(),
                      p.enc_args.line.get());
    p.fwd->complete_setup(1, {}, {}, budget.get(), p.enc_args.line.get());
    EXPECT_FALSE(p.fwd->has_lra_band_statistics());
    EXPECT_EQ(lra_state().calls, 1);
    for (auto [level, band] : {std::pair{0, 0}, std::pair{1, 3}, std::pair{2, 1}}) {
        const lra_band &b = p.fwd->lra()->bands[0][size_t(level)][size_t(band)];
        exp_mant want = step_to_exp_mant(b.step);
        EXPECT_EQ(p.fwd->band_record(0, level, band).e, std::max(0, want.e + 32 - 2)) << level << " " << band;
        EXPECT_EQ(p.fwd->band_record(0, level, band).m, want.m) << level << " " << band;
    }
    p.fwd->terminate(1);
    EXPECT_EQ(p.fwd->lra(), nullptr);
    budget->terminate();
    lra_reset_state();
}

} // namespace lra_allocation_test
