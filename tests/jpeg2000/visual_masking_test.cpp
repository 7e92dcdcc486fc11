// Visual masking: the identity case, forward then inverse within a measured bound, bands below
// minlevel untouched, and the warning for magnitudes beyond the table.
#include "jpeg2000/local_services.h"
#include "jpeg2000/visual_masking.h"
#include "platform/messages.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace visual_masking_test { // one namespace per test file: a folder compiles as one source

using namespace zn::j2k;

TEST(J2kMasking, AlphaOneBetaZeroOnlyTruncates)
{
    mask_params p;
    p.alpha = 1.0f;
    p.beta = 0.0f;
    visual_mask fwd(p, false, 6, 10, 1.0, 10, 4, 4), inv(p, true, 6, 10, 1.0, 10, 4, 4);
    float row[6] = {-2.7f, 0.4f, 1000.9f, -65535.5f, 3.0f, 0.0f};
    fwd.apply_row(row, 1);
    const float want[6] = {-2, 0, 1000, -65535, 3, 0};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(row[i], want[i]) << i;
    inv.apply_row(row, 1);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(row[i], want[i]) << i;
}

// With alpha 0.7 and beta 0.5 the decoder rebuilds the same neighbourhood, so forward then inverse
// is limited only by the truncations and the table interpolation. Measured here: the largest error
// relative to the magnitude stays below 2% for magnitudes of at least 4 grid steps h (h = 2^10).
TEST(J2kMasking, ForwardThenInverseStaysWithinTheMeasuredBound)
{
    mask_params p;
    p.alpha = 0.7f;
    p.beta = 0.5f;
    const int width = 40, F = 10;
    const double h = 1024;
    visual_mask fwd(p, false, width, F, 1.0, F, 8, 16), inv(p, true, width, F, 1.0, F, 8, 16);
    std::mt19937 rng(21);
    double worst = 0;
    for (int r = 0; r < 24; ++r) {
        std::vector<float> row(width), orig;
        for (auto &v : row)
            v = float((rng() % 2 ? -1 : 1) * (4 * h + double(rng() % 200000)));
        orig = row;
        fwd.apply_row(row.data(), 2);
        inv.apply_row(row.data(), 2);
        for (int j = 0; j < width; ++j)
            worst = std::max(
                worst, double(std::fabs(row[size_t(j)] - orig[size_t(j)]) / std::fabs(orig[size_t(j)])));
        for (int j = 0; j < width; ++j)
            EXPECT_EQ(std::signbit(row[size_t(j)]), std::signbit(orig[size_t(j)]));
    }
    RecordProperty("worst_relative_error", std::to_string(worst));
    EXPECT_LT(worst, 0.02);
}

TEST(J2kMasking, BandsBelowMinlevelPassUnchanged)
{
    mask_params p;
    p.minlevel = 2;
    visual_mask m(p, false, 3, 10, 1.0, 10, 4, 4);
    float row[3] = {-2.7f, 5000.25f, 1.0f};
    m.apply_row(row, 1);
    EXPECT_EQ(row[0], -2.7f);
    EXPECT_EQ(row[1], 5000.25f);
    m.apply_row(row, 2);
    EXPECT_NE(row[1], 5000.25f);
}

TEST(J2kMasking, MagnitudesBeyondTheTableWarnOncePerRun)
{
    zn::MessageRecorder rec;
    J2kRun run;
    mask_params p;
    p.alpha = 1.0f;
    visual_mask m(p, false, 3, 2, 1.0, 2, 4, 4);
    float row[3] = {5000.0f, 6000.0f, -7000.0f};
    m.apply_row(row, 1);
    size_t shown = 0;
    for (const std::string &t : rec.Texts())
        shown += t.find("tmp greater than 1023") != std::string::npos;
    EXPECT_EQ(shown, 1u); // three clamped samples, one message box; the repeats go to the log
    // The index is clamped to the last table entry: 4 * 1023, the fraction kept (5000 mod 4 = 0).
    EXPECT_EQ(row[0], 4092.0f);
    EXPECT_EQ(row[2], -4092.0f);
}

} // namespace visual_masking_test
