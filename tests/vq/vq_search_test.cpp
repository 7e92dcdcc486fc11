// The batched nearest-vector search against the plain loop it replaces: equal index and equal
// distance, bit for bit, on random, extreme and tied codebooks of every batch remainder.
#include "modules/vq/vq_search.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace vq_search_test { // one namespace per test file: a folder compiles as one source

namespace {

void ExpectSameAsPlain(const std::vector<float> &cb, int n, int dim, const std::vector<float> &xs,
                       float start)
{
    const VqNearestSearch fast(cb.data(), n, dim, start);
    for (size_t t = 0; t + dim <= xs.size(); t += dim) {
        float dPlain = -1, dFast = -2;
        const int iPlain = VqNearestPlain(cb.data(), n, dim, &xs[t], start, &dPlain);
        const int iFast = fast.Find(&xs[t], &dFast);
        ASSERT_EQ(iFast, iPlain) << "vector " << t / dim;
        ASSERT_EQ(dFast, dPlain) << "vector " << t / dim;
    }
}

TEST(VqSearch, BatchedEqualsPlainOnRandomCodebooks)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> grey(0.0f, 255.0f);
    for (int dim : {1, 4, 9, 16, 100})
        for (int n : {1, 2, 7, 8, 9, 64, 257}) {
            SCOPED_TRACE(testing::Message() << "dim " << dim << " n " << n);
            std::vector<float> cb(static_cast<size_t>(n) * dim), xs(static_cast<size_t>(50) * dim);
            for (float &v : cb)
                v = grey(rng);
            for (float &v : xs)
                v = grey(rng);
            ExpectSameAsPlain(cb, n, dim, xs, 1e16f);
        }
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
    for (float v : {0.0f, 255.0f, 127.5f, -1e6f, 1e6f, 1e-30f})
        cb.insert(cb.end(), dim, v);
    std::vector<float> xs;
    for (float v : {0.0f, 255.0f, 191.0f, 64.0f, -3.0f, 258.0f})
        xs.insert(xs.end(), dim, v);
    ExpectSameAsPlain(cb, 6, dim, xs, 1e16f);
    ExpectSameAsPlain(cb, 6, dim, xs, 1e12f);
    // Nothing beats a start below every distance: index 0 and the start come back.
    const std::vector<float> far(dim, 100.0f);
    float d = 0;
    EXPECT_EQ(VqNearestSearch(cb.data() + dim, 1, dim, 1.0f).Find(far.data(), &d), 0);
    EXPECT_EQ(d, 1.0f);
}

} // namespace

} // namespace vq_search_test
