// Level tables, smoothing sets, box smoothing and field upsampling, against the worked examples and
// plain re-computations.
#include "mpeg/me/me_hier.h"

#include "mpeg/me/me_run.h"
#include "mpeg/support/frames.h"

#include <gtest/gtest.h>
#include <random>

namespace me_hier_test { // one namespace per test file: a folder compiles as one source

using namespace zntest;

namespace {

TEST(Hierarchy, UpsamplingAveragesBetweenAndCopiesAtTheEdges)
{
    MeField coarse = NewField(1, 2, 16);
    Set(coarse.get(), 0, 2, 0);
    Set(coarse.get(), 1, 5, 0);
    MeField fine = NewField(2, 4, 8);
    MeUpsampleVF(coarse.get(), fine.get());
    const int expected[8] = {2, 3, 5, 5, 2, 3, 5, 5};
    for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(A(fine.get(), k), expected[k]) << k;
        EXPECT_EQ(B(fine.get(), k), 0) << k;
    }
    // Averages truncate toward zero, separately per component; odd rows average the rows around them.
    MeField c2 = NewField(2, 2, 16);
    Set(c2.get(), 0, -3, 1);
    Set(c2.get(), 1, 0, -4);
    Set(c2.get(), 2, 6, 7);
    Set(c2.get(), 3, -6, 2);
    MeField f2 = NewField(4, 4, 8);
    MeUpsampleVF(c2.get(), f2.get());
    const int a[16] = {-3, -1, 0, 0, 1, 0, -3, -3, 6, 0, -6, -6, 6, 0, -6, -6};
    const int b[16] = {1, -1, -4, -4, 4, 1, -1, -1, 7, 4, 2, 2, 7, 4, 2, 2};
    for (int k = 0; k < 16; ++k) {
        EXPECT_EQ(A(f2.get(), k), a[k]) << k;
        EXPECT_EQ(B(f2.get(), k), b[k]) << k;
    }
}

TEST(Hierarchy, SmoothingSetsShareRepeatedRadii)
{
    struct Case
    {
        int levels;
        int radii[3];
        int count;
        int distinct[3];
        int index[3];
    };
    const Case cases[] = {{3, {3, 2, 1}, 3, {3, 2, 1}, {0, 1, 2}},
                          {3, {2, 2, 1}, 2, {2, 1}, {0, 0, 1}},
                          {2, {2, 1}, 2, {2, 1}, {0, 1}},
                          {3, {1, 2, 1}, 2, {1, 2}, {0, 1, 0}}};
    for (const Case &c : cases) {
        int distinct[3] = {}, index[3] = {};
        ASSERT_EQ(MeSmoothingSet(c.levels, c.radii, distinct, index), c.count);
        for (int k = 0; k < c.count; ++k)
            EXPECT_EQ(distinct[k], c.distinct[k]);
        for (int l = 0; l < c.levels; ++l)
            EXPECT_EQ(index[l], c.index[l]);
    }
}

TEST(Hierarchy, LevelTablesAndTotalReach)
{
    // Two levels, 8x8 blocks, "7 - 3": 64-wide windows around 16x16 blocks with reach 7 on 5x5-smoothed
    // frames at every fourth pixel, then 16-wide windows around 8x8 blocks with reach 3; border 10.
    MeLevelTable t;
    ASSERT_TRUE(MeLevelTables(2, 8, false, 10, &t));
    EXPECT_EQ(t.block[0], 16);
    EXPECT_EQ(t.block[1], 8);
    EXPECT_EQ(t.window[0], 64);
    EXPECT_EQ(t.window[1], 16);
    EXPECT_EQ(t.smoothing[0], 2);
    EXPECT_EQ(t.smoothing[1], 1);
    EXPECT_EQ(t.subsample[0], 4);
    EXPECT_EQ(t.subsample[1], 1);
    EXPECT_EQ(t.reach[0], 7);
    EXPECT_EQ(t.reach[1], 3);
    EXPECT_EQ(t.totalReach, 10);
    // Displacements and step counts give the same borders.
    const struct
    {
        int levels;
        bool nStep;
        int stored, total;
    } cases[] = {{2, false, 4, 4},   {2, false, 10, 10}, {2, false, 22, 22}, {3, false, 11, 11},
                 {3, false, 25, 25}, {2, true, 2, 4},    {2, true, 3, 10},   {2, true, 4, 22},
                 {3, true, 3, 11},   {3, true, 4, 25}};
    for (const auto &c : cases)
        for (int b : {2, 4, 8, 16}) {
            ASSERT_TRUE(MeLevelTables(c.levels, b, c.nStep, c.stored, &t));
            EXPECT_EQ(t.totalReach, c.total);
            EXPECT_EQ(t.block[c.levels - 1], b);
        }
    EXPECT_FALSE(MeLevelTables(2, 8, false, 15, &t));
    EXPECT_FALSE(MeLevelTables(4, 8, false, 25, &t));
    EXPECT_FALSE(MeLevelTables(2, 6, false, 10, &t));
}

TEST(Hierarchy, BoxSmoothingByRunningSumsEqualsThePlainBoxes)
{
    std::mt19937 rng(9);
    for (int r = 0; r <= 3; ++r) {
        const int rows = 9 + r * 5, cols = 17 + r;
        // Whole grey levels: both ways sum them exactly, so they must agree exactly.
        const ImgPtr src =
            BorderedFrame(rows, cols, 0, [&](int, int) { return static_cast<float>(rng() % 256); });
        const ImgPtr fast = PlainImage(rows, cols), plain = PlainImage(rows, cols);
        MeSmoothBox(src.get(), fast.get(), r);
        MeSmoothBoxPlain(src.get(), plain.get(), r);
        for (int k = 0; k < rows * cols; ++k)
            ASSERT_EQ(fast->FloatPlane()[k], plain->FloatPlane()[k]) << r << " at " << k;
        // The outer r rows and columns are copies.
        for (int x = 0; x < cols; ++x)
            for (int y = 0; y < r; ++y)
                EXPECT_EQ(fast->FloatPlane()[y * cols + x], src->FloatPlane()[y * cols + x]);
    }
}

TEST(Hierarchy, StacksHoldOneImagePerDistinctRadius)
{
    MeSettings s;
    s.levels = 3;
    s.maxDispl = 25;
    s.blockSize = 4; // radii 3, 2, 1
    MePlan plan;
    ASSERT_TRUE(MePlanRun(s, &plan));
    EXPECT_EQ(plan.nDistinct, 3);
    s.blockSize = 2; // radii 2, 2, 1: levels 1 and 2 share the first image
    ASSERT_TRUE(MePlanRun(s, &plan));
    EXPECT_EQ(plan.nDistinct, 2);
    EXPECT_EQ(plan.imageIndex[0], 0);
    EXPECT_EQ(plan.imageIndex[1], 0);
    EXPECT_EQ(plan.imageIndex[2], 1);
    MeImageStack *stack = MeAllocImageStack(30, 40, IMG_REP_FLOAT, IMG_SEQ_MONO, plan.nDistinct);
    ASSERT_NE(stack, nullptr);
    EXPECT_EQ(stack->count, 2);
    EXPECT_EQ(stack->images[1]->rows, 30);
    EXPECT_EQ(stack->images[1]->cols, 40);
    MeFreeImageStack(stack);
    MeFreeImageStack(nullptr);
}

TEST(Hierarchy, GridsThatDoNotNestStayInsideTheirFields)
{
    // 180 x 148 with 4x4 blocks: neither 16 nor 8 divides it, so the coarse grids are rounded up. A
    // uniform pair keeps every level on its first candidate; the finest field must be complete.
    for (int levels : {2, 3}) {
        MeSettings s;
        s.levels = levels;
        s.maxDispl = levels == 2 ? 22 : 25;
        s.blockSize = 4;
        MePlan plan;
        ASSERT_TRUE(MePlanRun(s, &plan));
        MeEstimator est(s, plan, 148, 180);
        ASSERT_TRUE(est.Ok());
        std::vector<uint8_t> plane(148 * 180);
        for (size_t k = 0; k < plane.size(); ++k)
            plane[k] = static_cast<uint8_t>((k * 37) % 251);
        est.LoadPrevious(plane.data());
        est.LoadCurrent(plane.data());
        MeField field = est.Estimate();
        ASSERT_EQ(field->rows, 37);
        ASSERT_EQ(field->cols, 45);
        EXPECT_EQ(field->blockWidth, 4);
        const MeFrameMeasures m = est.Measure(field.get(), true);
        EXPECT_EQ(m.fd, 0.0);
    }
}

} // namespace

} // namespace me_hier_test
