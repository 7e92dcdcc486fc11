// The dead-zone quantiser and dequantiser: sign-magnitude words, the 3/8 reconstruction and exact
// integer round trips for reversible bands.
#include "jpeg2000/dz_quantizer.h"

#include <gtest/gtest.h>

#include <random>

using namespace zn::j2k;

TEST(J2kDeadZone, FloatSamplesBecomeSignMagnitudeIndices)
{
    dz_band_entry b = make_dz_band_entry(1.0, 10, 10);
    EXPECT_EQ(b.shift, 0);
    float row[4] = {-2.7f, 0.0004f, 2.7f, -0.0004f};
    uint32_t w[4];
    dz_quantise_float_row(b, row, w, 4);
    EXPECT_EQ(w[0], 0x80000000u + 2764);
    EXPECT_EQ(w[1], 0u);
    EXPECT_EQ(w[2], 2764u);
    EXPECT_EQ(w[3], 0u); // a zero index carries no sign
    // Dequantisation brings the index back to the step grid: 2764 / 1024.
    dz_dequant_entry d = make_dz_dequant_entry(1.0, 10, 10);
    float back[4];
    dz_dequantise_float_row(d, w, back, 4);
    EXPECT_FLOAT_EQ(back[0], -2764.0f / 1024);
    EXPECT_FLOAT_EQ(back[2], 2764.0f / 1024);
    EXPECT_EQ(back[1], 0.0f);
}

TEST(J2kDeadZone, ReversibleBandsComeBackExactly)
{
    std::mt19937 rng(2);
    for (int k : {0, 3, 9}) {
        dz_band_entry b = make_dz_band_entry(1.0, 0, k);
        dz_dequant_entry d = make_dz_dequant_entry(1.0, 0, k);
        EXPECT_EQ(b.shift, -k);
        std::vector<int32_t> row(64), back(64);
        for (auto &v : row)
            v = int32_t(rng() % 4001) - 2000;
        row[0] = 0;
        row[1] = -1;
        std::vector<uint32_t> w(64);
        dz_quantise_int_row(b, row.data(), w.data(), 64);
        EXPECT_EQ(w[1], 0x80000000u | (1u << k));
        dz_dequantise_int_row(d, w.data(), back.data(), 64);
        EXPECT_EQ(back, row) << k;
    }
}

// Index 1 decoded at the middle of its interval (1.5 steps) moves to 1.375; index 3 stays at 3.5.
TEST(J2kDeadZone, ThreeEighthsReconstruction)
{
    const int K = 4;
    uint32_t w[3] = {(1u << K) | (1u << (K - 1)), (3u << K) | (1u << (K - 1)),
                     0x80000000u | (1u << K) | (1u << (K - 1))};
    dz_apply_three_eighths(w, 3, K, 2);
    dz_dequant_entry d = make_dz_dequant_entry(1.0, K, K);
    float v[3];
    dz_dequantise_float_row(d, w, v, 3);
    EXPECT_FLOAT_EQ(v[0], 1.375f);
    EXPECT_FLOAT_EQ(v[1], 3.5f);
    EXPECT_FLOAT_EQ(v[2], -1.375f);
    uint32_t z[1] = {1u << (K - 1)}; // below the index: no change, reconstructs as 0
    dz_apply_three_eighths(z, 1, K, 2);
    EXPECT_EQ(z[0], 1u << (K - 1));
    dz_dequantise_float_row(d, z, v, 1);
    EXPECT_EQ(v[0], 0.0f);
}
