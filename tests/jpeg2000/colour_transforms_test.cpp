// Colour transforms: the published RCT and YCbCr examples, exact RCT round trips over the full
// 8-bit cube's corners and random samples, YCbCr within one grey level.
#include "jpeg2000/colour_transforms.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace colour_transforms_test { // one namespace per test file: a folder compiles as one source

using namespace zn::j2k;

TEST(J2kColour, RctExamples)
{
    struct Case
    {
        int rgb[3], c[3];
    } cases[] = {{{255, 0, 0}, {63, 0, 255}}, {{-1, 0, 0}, {-1, 0, -1}}, {{0, 0, 0}, {0, 0, 0}}};
    for (const Case &k : cases) {
        int32_t r = k.rgb[0], g = k.rgb[1], b = k.rgb[2];
        rct_forward(&r, &g, &b, 1);
        EXPECT_EQ(r, k.c[0]);
        EXPECT_EQ(g, k.c[1]);
        EXPECT_EQ(b, k.c[2]);
        rct_inverse(&r, &g, &b, 1);
        EXPECT_EQ(r, k.rgb[0]);
        EXPECT_EQ(g, k.rgb[1]);
        EXPECT_EQ(b, k.rgb[2]);
    }
}

TEST(J2kColour, RctIsExactAndYccWithinOne)
{
    std::mt19937 rng(9);
    const int n = 4096;
    std::vector<int32_t> r(n), g(n), b(n);
    for (int i = 0; i < n; ++i) {
        r[size_t(i)] = int32_t(rng() % 256) - 128;
        g[size_t(i)] = int32_t(rng() % 256) - 128;
        b[size_t(i)] = int32_t(rng() % 256) - 128;
    }
    r[0] = g[0] = b[0] = -128;
    r[1] = g[1] = b[1] = 127;
    auto R = r, G = g, B = b;
    rct_forward(R.data(), G.data(), B.data(), n);
    rct_inverse(R.data(), G.data(), B.data(), n);
    EXPECT_EQ(R, r);
    EXPECT_EQ(G, g);
    EXPECT_EQ(B, b);
    R = r, G = g, B = b;
    ycc_forward(R.data(), G.data(), B.data(), n);
    // Luminance against its defining weights.
    for (int i = 0; i < n; ++i)
        EXPECT_NEAR(R[size_t(i)], 0.299 * r[size_t(i)] + 0.587 * g[size_t(i)] + 0.114 * b[size_t(i)],
                    0.5 + 1e-9);
    ycc_inverse(R.data(), G.data(), B.data(), n);
    for (int i = 0; i < n; ++i) {
        EXPECT_LE(std::abs(R[size_t(i)] - r[size_t(i)]), 1) << i;
        EXPECT_LE(std::abs(G[size_t(i)] - g[size_t(i)]), 1) << i;
        EXPECT_LE(std::abs(B[size_t(i)] - b[size_t(i)]), 1) << i;
    }
    int32_t y = 100, cb = 0, cr = 0;
    ycc_inverse(&y, &cb, &cr, 1);
    EXPECT_EQ(y, 100);
    EXPECT_EQ(cb, 100);
    EXPECT_EQ(cr, 100);
}

} // namespace colour_transforms_test
