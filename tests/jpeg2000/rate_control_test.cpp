// Rate control cores: slope codes, convex-hull truncation points against an independent hull, the
// slope histogram, the layer table and its targets, the bisection against a brute-force search and
// the histogram estimate.
#include "jpeg2000/support/tier2_fixture.h"

#include "jpeg2000/command_line.h"
#include "jpeg2000/layer_targets.h"

#include "platform/errors.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

namespace rate_control_test { // one namespace per test file: a folder compiles as one source

using namespace zn::j2k;

namespace {
std::unique_ptr<command_line> Args(std::vector<const char *> words)
{
    static std::vector<std::vector<const char *>> keep; // the records point into the vector
    words.insert(words.begin(), "Jpeg2000Encoder");
    keep.push_back(words);
    auto args = create_command_line();
    args->parse(int(keep.back().size()), keep.back().data());
    return args;
}

// Upper convex hull of (0, 0) and the points, by the monotone chain; collinear middle points and
// points that lower the curve drop out. Returns the indices on the hull.
std::set<int> Hull(const std::vector<int32_t> &R, const std::vector<double> &D)
{
    std::vector<int> chain; // indices; -1 is the origin
    auto x = [&](int i) { return i < 0 ? 0.0 : double(R[size_t(i)]); };
    auto y = [&](int i) { return i < 0 ? 0.0 : D[size_t(i)]; };
    chain.push_back(-1);
    for (int i = 0; i < int(R.size()); ++i) {
        if (y(i) <= y(chain.back()))
            continue; // no gain over the last hull point
        while (chain.size() >= 2) {
            int a = chain[chain.size() - 2], b = chain.back();
            // b is under the segment a-i (or on it): it leaves the hull.
            double cross = (x(b) - x(a)) * (y(i) - y(a)) - (y(b) - y(a)) * (x(i) - x(a));
            if (cross >= 0 || x(b) == x(i))
                chain.pop_back();
            else
                break;
        }
        if (chain.size() == 1 && x(i) == 0)
            chain.push_back(i); // a free gain at the origin's rate
        else
            chain.push_back(i);
    }
    return std::set<int>(chain.begin() + 1, chain.end());
}
} // namespace

TEST(J2kRateControl, SlopeCodesAreLogarithms)
{
    EXPECT_EQ(slope_code(0.2), 1);
    EXPECT_EQ(slope_code(1.0), 1);
    EXPECT_EQ(slope_code(1.5), 256);
    EXPECT_EQ(slope_code(3.0), 512 + 256);
    EXPECT_EQ(slope_code(1024.0), 512 * 10 + 1);
    EXPECT_EQ(slope_code(1.9990234375), 511);
    EXPECT_EQ(slope_code(1e30), kLargestSlopeCode);
    for (double x = 1.1; x < 1e15; x *= 1.37)
        EXPECT_LT(slope_code(x), slope_code(x * 1.37) + 1) << x;
}

TEST(J2kRateControl, TruncationPointsAreTheConvexHull)
{
    std::mt19937 rng(6);
    for (int trial = 0; trial < 500; ++trial) {
        const int n = 1 + int(rng() % 40);
        std::vector<pass_record> passes(static_cast<size_t>(n));
        std::vector<double> D(static_cast<size_t>(n));
        std::vector<int32_t> R(static_cast<size_t>(n));
        int32_t length = 0;
        double d = 0;
        for (int i = 0; i < n; ++i) {
            length += int32_t(rng() % 30) + (i == 0 ? 1 : 0);
            d += rng() % 4 == 0 ? 0.0 : double(rng() % 5000);
            R[size_t(i)] = passes[size_t(i)].length = length;
            D[size_t(i)] = d;
        }
        compute_slopes(passes.data(), D.data(), n);
        std::set<int> points;
        double last_value = INFINITY;
        int last = -1;
        for (int i = 0; i < n; ++i)
            if (passes[size_t(i)].slope > 0) {
                points.insert(i);
                double value = (D[size_t(i)] - (last >= 0 ? D[size_t(last)] : 0)) /
                               (R[size_t(i)] - (last >= 0 ? R[size_t(last)] : 0));
                EXPECT_LT(value, last_value) << "slopes decrease along the hull";
                last_value = value;
                last = i;
            }
        ASSERT_EQ(points, Hull(R, D)) << "trial " << trial;
    }
}

TEST(J2kRateControl, HistogramBinsCountBytesAboveEachExponent)
{
    std::mt19937 rng(12);
    for (int trial = 0; trial < 200; ++trial) {
        const int n = 1 + int(rng() % 30);
        std::vector<pass_record> passes(static_cast<size_t>(n));
        int32_t length = 0;
        int slope = 32000;
        for (int i = 0; i < n; ++i) {
            length += int32_t(rng() % 50);
            int kind = int(rng() % 4);
            slope -= int(rng() % 3000);
            passes[size_t(i)] = {length, int16_t(kind == 0 ? -1 : kind == 1 ? 0 : std::max(1, slope)), 0};
        }
        int32_t histogram[kSlopeBins] = {};
        add_to_histogram(histogram, passes.data(), n);
        int32_t last_point = 0, last_kept = 0;
        for (int i = 0; i < n; ++i) {
            if (passes[size_t(i)].slope > 0)
                last_point = passes[size_t(i)].length;
            if (passes[size_t(i)].slope >= 0)
                last_kept = passes[size_t(i)].length;
        }
        for (int j = 1; j < kSlopeBins; ++j) {
            int32_t expected = 0;
            for (int i = 0; i < n; ++i) {
                const int s = passes[size_t(i)].slope;
                if (s > 0 && (s >> 9) < j)
                    break; // the first truncation point below the bin ends the count
                if (s > 0)
                    expected = passes[size_t(i)].length;
            }
            ASSERT_EQ(histogram[j], expected) << "trial " << trial << " bin " << j;
        }
        // Bin 0 keeps every truncation point, and may take trailing passes of slope 0 too.
        EXPECT_GE(histogram[0], last_point);
        EXPECT_LE(histogram[0], last_kept);
    }
}

TEST(J2kRateControl, LayerTableFromTheOption)
{
    const int64_t P = 512 * 512;
    auto none = make_layer_table(Args({}).get(), P, 16384);
    ASSERT_EQ(none.size(), 1u);
    EXPECT_EQ(none[0].target, 16384);
    EXPECT_EQ(none[0].fixed, 1);

    auto sixty = make_layer_table(Args({"-Clayers"}).get(), P, 98304);
    ASSERT_EQ(sixty.size(), 60u);
    EXPECT_EQ(sixty[0].target, 491);
    EXPECT_EQ(sixty[49].target, 65536);
    EXPECT_EQ(sixty[59].target, 98304);
    int fixed = 0;
    for (auto &l : sixty)
        fixed += l.fixed;
    EXPECT_EQ(fixed, 3);

    auto given = make_layer_table(Args({"-Clayers", "0.5", "+2", "1.0"}).get(), P, 65536);
    ASSERT_EQ(given.size(), 5u);
    EXPECT_EQ(given[0].target, 16384);
    EXPECT_EQ(given[1].fixed, 0);
    EXPECT_EQ(given[3].target, 32768);
    EXPECT_EQ(given[4].target, 65536);

    zn::MessageRecorder recorder;
    struct Bad
    {
        std::vector<const char *> words;
        const char *message;
    } bad[] = {
        {{"-Clayers", "+2"}, "valid positive bit-rate parameter; found \"+2\" instead!"},
        {{"-Clayers", "-1"}, "found \"-1\" instead!"},
        {{"-Clayers", "1.0", "0.5"}, "must appear in increasing order!"},
        {{"-Clayers", "1.0", "+x"}, "incorrectly formatted parameter identifying extra bit-stream layers!"},
    };
    for (auto &b : bad) {
        recorder.Clear();
        J2kRun run;
        EXPECT_THROW(make_layer_table(Args(b.words).get(), P, 65536), zn::RunAborted) << b.message;
        EXPECT_NE(j2ktest::JoinedText(recorder).find(b.message), std::string::npos) << b.message;
    }
}

TEST(J2kRateControl, TargetsBelowTheBudgetDropAnchorsAboveIt)
{
    // The dialog's 60 layers at 1 bit per pixel on 512 x 512: the 2 bpp anchor and everything
    // above the budget go; the rest rises to the budget less the header allowance.
    const int64_t P = 512 * 512;
    const int32_t M = 32 * 6;
    auto layers = make_layer_table(Args({"-Clayers"}).get(), P, 32768 - 2);
    form_layer_targets(layers, M);
    ASSERT_GE(layers.size(), 10u);
    EXPECT_LT(layers.size(), 60u);
    EXPECT_EQ(layers.back().target, 32768 - 2 - kHeaderAllowance);
    EXPECT_NEAR(layers.front().target, 491 - kHeaderAllowance, 1);
    EXPECT_EQ(layers.front().fixed, 1);
    for (size_t i = 1; i < layers.size(); ++i)
        EXPECT_GE(layers[i].target - layers[i - 1].target, M - 1) << i;

    // At 3 bpp more layers survive, geometric between the anchors, and the 2 bpp anchor stays.
    auto full = make_layer_table(Args({"-Clayers"}).get(), P, 98304 - 2);
    form_layer_targets(full, M);
    EXPECT_GT(full.size(), layers.size());
    EXPECT_LE(full.size(), 60u);
    bool anchor = false;
    for (size_t i = 1; i < full.size(); ++i) {
        anchor |= std::abs(full[i].target - (65536 - kHeaderAllowance)) <= 1;
        EXPECT_GE(full[i].target - full[i - 1].target, M - 1) << i;
    }
    EXPECT_TRUE(anchor);
}

TEST(J2kRateControl, BudgetTooSmallForTheHeaders)
{
    zn::MessageRecorder recorder;
    J2kRun run;
    auto layers = make_layer_table(nullptr, 100 * 100, 150);
    EXPECT_THROW(form_layer_targets(layers, 32), zn::RunAborted);
    EXPECT_NE(j2ktest::JoinedText(recorder).find(
                  "Requested target bit-rate is probably too small to accommodate the "
                  "global header, let alone any coded subband samples!"),
              std::string::npos);
}

TEST(J2kRateControl, SmallIncrementsAreDropped)
{
    // Ten layers planned between 1000 and 1400 bytes: steps of about 40 < 64 bytes are removed.
    std::vector<layer_record> layers(10);
    layers[0] = {1000 + kHeaderAllowance, 0, 1, 0};
    layers[9] = {1400 + kHeaderAllowance, 0, 1, 0};
    form_layer_targets(layers, 64);
    for (size_t i = 1; i < layers.size(); ++i)
        EXPECT_GE(layers[i].target - layers[i - 1].target, 63);
    EXPECT_LT(layers.size(), 10u);
}

TEST(J2kRateControl, BisectionFindsTheSmallestThresholdWithinTheTarget)
{
    std::mt19937 rng(1);
    for (int trial = 0; trial < 200; ++trial) {
        // A random non-increasing total over thresholds 0..32767.
        std::vector<int64_t> total(32768);
        int64_t v = 200000;
        for (int t = 0; t < 32768; ++t) {
            if (rng() % 300 == 0)
                v -= int64_t(rng() % 8000);
            total[size_t(t)] = std::max<int64_t>(v, 0);
        }
        const int32_t G = int32_t(rng() % 200000);
        int32_t histogram[kSlopeBins] = {};
        for (int j = 0; j < kSlopeBins; ++j)
            histogram[j] = int32_t(total[size_t(std::min(512 * j, 32767))]);
        const int upper = 32767;
        int calls = 0;
        auto simulate = [&](int t) {
            ++calls;
            return total[size_t(t)];
        };
        for (bool from_zero : {true, false}) {
            int expected = upper;
            int lower = 0;
            if (!from_zero) {
                int n = 63;
                while (n >= 1 && histogram[n] < G)
                    --n;
                lower = 512 * std::max(n, 0);
            }
            for (int t = upper - 1; t > lower; --t)
                if (total[size_t(t)] <= G)
                    expected = t;
                else
                    break;
            calls = 0;
            EXPECT_EQ(bisect_threshold(histogram, upper, G, from_zero, simulate), expected)
                << "trial " << trial;
            EXPECT_LE(calls, 17);
        }
    }
}

TEST(J2kRateControl, HistogramEstimateLandsInTheRightOctave)
{
    // Bytes shrink by 1.5 with every slope exponent: the estimate for a target between two bins lies between
    // their thresholds.
    int32_t histogram[kSlopeBins];
    for (int j = 0; j < kSlopeBins; ++j)
        histogram[j] = j < 40 ? int32_t(std::ldexp(1.0, 30) / std::pow(1.5, j)) : 0;
    for (int k = 2; k < 38; ++k) {
        const int32_t G = (histogram[k] + histogram[k + 1]) / 2;
        const int t = estimate_threshold(histogram, 32767, 0, G);
        EXPECT_GE(t, 512 * k) << k;
        EXPECT_LE(t, 512 * (k + 1)) << k;
    }
    // A previous layer that overshot its prediction pulls the next target down.
    const int T = 512 * 30;
    const int exact = estimate_threshold(histogram, T, histogram[30], histogram[25]);
    EXPECT_GE(exact, 512 * 25);
    EXPECT_LE(exact, 512 * 26);
    const int corrected = estimate_threshold(histogram, T, histogram[30] * 4, histogram[25]);
    EXPECT_GT(corrected, exact);
}

} // namespace rate_control_test
