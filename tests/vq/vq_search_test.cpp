// The fast nearest-vector search against the plain loop it replaces: equal index and equal
// distance, bit for bit, on random, extreme and tied codebooks, with and without guesses.
#include "modules/vq/vq_search.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <limits>
#include <random>
#include <vector>

namespace vq_search_test { // one namespace per test file: a folder compiles as one source

namespace {

// Every input against the plain search: without a guess, and with guesses of every kind (the
// answer itself, a neighbour, an index out of range).
void ExpectSameAsPlain(const std::vector<float> &cb, int n, int dim, const std::vector<float> &xs,
                       float start)
{
    const VqNearestSearch fast(cb.data(), n, dim, start);
    for (size_t t = 0; t + dim <= xs.size(); t += dim) {
        const float *x = &xs[t];
        float dPlain = -1, dFast = -2;
        const int iPlain = VqNearestPlain(cb.data(), n, dim, x, start, &dPlain);
        const int iFast = fast.Find(x, &dFast);
        ASSERT_EQ(iFast, iPlain) << "vector " << t / dim;
        ASSERT_EQ(std::memcmp(&dFast, &dPlain, sizeof dFast), 0) << "vector " << t / dim;
        const VqVectorStats stats = VqMeasureVector(x, dim);
        for (int hint : {iPlain, (iPlain + 1) % n, n - 1, static_cast<int>(t / dim) % n, -1, n}) {
            const float hintDist = hint >= 0 && hint < n ? VqDistance(x, fast.Vector(hint), dim) : 0.0f;
            float dGuess = -3;
            ASSERT_EQ(fast.Find(x, stats, hint, hintDist, &dGuess), iPlain)
                << "vector " << t / dim << " hint " << hint;
            ASSERT_EQ(std::memcmp(&dGuess, &dPlain, sizeof dGuess), 0)
                << "vector " << t / dim << " hint " << hint;
        }
    }
}

TEST(VqSearch, FastEqualsPlainOnRandomCodebooks)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> grey(0.0f, 255.0f);
    // Grey levels with fractions (where another order of adding rounds otherwise), whole grey
    // levels, and a few levels only (equal distances everywhere).
    const std::function<float()> kinds[] = {
        [&] { return grey(rng); },
        [&] { return static_cast<float>(rng() % 256); },
        [&] { return static_cast<float>(rng() % 3) * 0.5f; },
    };
    for (const auto &level : kinds)
        for (int dim : {1, 3, 4, 9, 16, 36, 100})
            for (int n : {1, 2, 7, 8, 9, 64, 257}) {
                SCOPED_TRACE(testing::Message() << "dim " << dim << " n " << n);
                std::vector<float> cb(static_cast<size_t>(n) * dim), xs(static_cast<size_t>(40) * dim);
                for (float &v : cb)
                    v = level();
                for (float &v : xs)
                    v = level();
                // Some inputs equal a code vector, some sit halfway between two.
                std::copy_n(cb.begin(), dim, xs.begin());
                for (int k = 0; k < dim && n > 1; ++k)
                    xs[dim + k] = (cb[k] + cb[dim + k]) / 2;
                ExpectSameAsPlain(cb, n, dim, xs, 1e16f);
                ExpectSameAsPlain(cb, n, dim, xs, 1e12f);
            }
}

// Code vectors that differ only far below a grey level, and inputs between them: the bounds must
// leave room for every rounding, since here the rounding decides.
TEST(VqSearch, NearTiesDecidedByRounding)
{
    std::mt19937 rng(11);
    const int dim = 16, n = 64;
    std::vector<float> cb(static_cast<size_t>(n) * dim), xs;
    for (int i = 0; i < n; ++i)
        for (int k = 0; k < dim; ++k)
            cb[static_cast<size_t>(i) * dim + k] = 100.0f + std::ldexp(static_cast<float>(rng() % 16), -18);
    for (int t = 0; t < 200; ++t)
        for (int k = 0; k < dim; ++k)
            xs.push_back(100.0f + std::ldexp(static_cast<float>(rng() % 64), -20) + (t % 2 ? 3.0f : 0.0f));
    ExpectSameAsPlain(cb, n, dim, xs, 1e12f);
}

TEST(VqSearch, TiesGoToTheLowestIndex)
{
    const int dim = 4;
    // Vectors 3, 5 and 11 equal the input; 0..2 are far away; the later copies never win.
    std::vector<float> cb(16 * dim, 255.0f);
    const std::vector<float> x = {10, 20, 30, 40};
    for (int i : {3, 5, 11})
        std::copy(x.begin(), x.end(), cb.begin() + i * dim);
    const VqNearestSearch fast(cb.data(), 16, dim, 1e12f);
    float d = -1;
    EXPECT_EQ(fast.Find(x.data(), &d), 3);
    EXPECT_EQ(d, 0.0f);
    // Equal distances on either side: 9 and 11 are both at distance 4 * 1 from 10.
    std::vector<float> two = {9, 9, 9, 9, 11, 11, 11, 11};
    const std::vector<float> ten = {10, 10, 10, 10};
    EXPECT_EQ(VqNearestSearch(two.data(), 2, dim, 1e12f).Find(ten.data(), &d), 0);
    std::swap_ranges(two.begin(), two.begin() + 4, two.begin() + 4);
    EXPECT_EQ(VqNearestSearch(two.data(), 2, dim, 1e12f).Find(ten.data(), &d), 0);
    // A flat codebook of one value everywhere: index 0 for any input.
    std::vector<float> flat(9 * dim, 128.0f);
    ExpectSameAsPlain(flat, 9, dim, {0, 255, 0, 255, 128, 128, 128, 128, 1, 2, 3, 4}, 1e16f);
    EXPECT_EQ(VqNearestSearch(flat.data(), 9, dim, 1e16f).Find(ten.data(), &d), 0);
}

TEST(VqSearch, ExtremeValuesAndTheStartDistance)
{
    const int dim = 16;
    std::vector<float> cb;
    for (float v : {0.0f, 255.0f, 127.5f, -1e6f, 1e6f, 1e-30f, 1e-41f, 3e18f})
        cb.insert(cb.end(), dim, v);
    std::vector<float> xs;
    for (float v : {0.0f, 255.0f, 191.0f, 64.0f, -3.0f, 258.0f, 1e-42f, 2e-41f, 1e19f, -3e18f})
        xs.insert(xs.end(), dim, v);
    ExpectSameAsPlain(cb, 8, dim, xs, 1e16f);
    ExpectSameAsPlain(cb, 8, dim, xs, 1e12f);
    ExpectSameAsPlain(cb, 8, dim, xs, std::numeric_limits<float>::infinity());
    // Not a number or infinite, in the codebook or the input: the plain answer still.
    const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
    std::vector<float> odd = cb;
    odd[3 * dim + 5] = nan;
    ExpectSameAsPlain(odd, 8, dim, xs, 1e12f);
    odd[3 * dim + 5] = inf;
    ExpectSameAsPlain(odd, 8, dim, xs, 1e12f);
    std::vector<float> oddInputs = xs;
    oddInputs[2 * dim + 1] = nan;
    oddInputs[4 * dim + 7] = -inf;
    ExpectSameAsPlain(cb, 8, dim, oddInputs, 1e12f);
    // Nothing beats a start below every distance: index 0 and the start come back.
    const std::vector<float> far(dim, 100.0f);
    float d = 0;
    EXPECT_EQ(VqNearestSearch(cb.data() + dim, 1, dim, 1.0f).Find(far.data(), &d), 0);
    EXPECT_EQ(d, 1.0f);
}

} // namespace

} // namespace vq_search_test
