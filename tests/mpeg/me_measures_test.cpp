// The per-frame measures against closed forms and the worked examples.
#include "mpeg/me/me_measures.h"

#include "mpeg/me/me_run.h"
#include "mpeg/support/frames.h"

#include <cmath>
#include <gtest/gtest.h>

namespace me_measures_test { // one namespace per test file: a folder compiles as one source

using namespace zntest;

namespace {

TEST(Measures, EqualFramesDifferByNothing)
{
    const ImgPtr a = BorderedFrame(12, 20, 3, [](int x, int y) { return static_cast<float>(x * 7 + y); });
    const ImgPtr b = BorderedFrame(12, 20, 3, [](int x, int y) { return static_cast<float>(x * 7 + y); });
    const ImgPtr out = PlainImage(12, 20);
    EXPECT_EQ(MeFrameDiff(a.get(), b.get(), out.get(), 3), 0.0);
    for (int k = 0; k < 240; ++k)
        ASSERT_EQ(out->FloatPlane()[k], 127.0f);
}

TEST(Measures, VarianceAndDifferencesByTheirFormulas)
{
    // Columns 0..3 of value x: mean 1.5, variance (0 + 1 + 4 + 9) / 4 - 2.25 = 1.25.
    const ImgPtr a = BorderedFrame(4, 4, 2, [](int x, int) { return static_cast<float>(x); });
    EXPECT_DOUBLE_EQ(MeImageVariance(a.get(), 2), 1.25);
    const ImgPtr b = BorderedFrame(4, 4, 2, [](int x, int) { return static_cast<float>(x + 2); });
    const ImgPtr out = PlainImage(4, 4);
    EXPECT_DOUBLE_EQ(MeFrameDiff(b.get(), a.get(), out.get(), 2), 4.0);
    EXPECT_EQ(out->FloatPlane()[5], 129.0f);
    // The previous frame seen two columns to the right predicts b exactly inside; the last two
    // columns look into the border of 127.
    MeField vf = NewField(1, 1, 4);
    Set(vf.get(), 0, 2, 0);
    const ImgPtr pred = PlainImage(4, 4), diff = PlainImage(4, 4);
    const double mse = MeMcFrameDiff(b.get(), a.get(), vf.get(), pred.get(), diff.get(), 2);
    double expected = 0;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            const float p = x + 2 < 4 ? static_cast<float>(x + 2) : 127.0f;
            EXPECT_EQ(pred->FloatPlane()[y * 4 + x], p);
            expected += (x + 2 - p) * (x + 2 - p);
        }
    EXPECT_DOUBLE_EQ(mse, expected / 16);
}

TEST(Measures, VectorEntropy)
{
    MeField same = NewField(3, 4, 8);
    for (int k = 0; k < 12; ++k)
        Set(same.get(), k, 3, -2);
    EXPECT_EQ(MeVectorEntropy(same.get()), 0.0);
    // Vectors (0,0), (1,0), (1,1): differences A 1, 0 and B 0, 1 - two of four in each of two bins.
    MeField three = NewField(1, 3, 8);
    Set(three.get(), 1, 1, 0);
    Set(three.get(), 2, 1, 1);
    EXPECT_DOUBLE_EQ(MeVectorEntropy(three.get()), 1.0);
}

TEST(Measures, DrawingShortensVectorsAndMarksCentres)
{
    const ImgPtr image = PlainImage(16, 16);
    std::fill(image->FloatPlane(), image->FloatPlane() + 256, 100.0f);
    MeField vf = NewField(2, 2, 8);
    Set(vf.get(), 0, 0, 0);   // a dot only
    Set(vf.get(), 1, 10, 0);  // from (12, 4): 10 leaves the image, 0.9 -> 9 too, 0.8 -> 8 too, 0.3 -> 3 fits
    Set(vf.get(), 2, 0, -2);  // from (4, 12) up to (4, 10)
    Set(vf.get(), 3, 40, 40); // from (12, 12): 0.1 -> (16, 16) is outside: nothing drawn
    MeDrawVectorField(image.get(), vf.get());
    const float *p = image->FloatPlane();
    auto at = [&](int x, int y) { return p[y * 16 + x]; };
    EXPECT_EQ(at(4, 4), 0.0f);
    EXPECT_EQ(at(5, 4), 100.0f);
    EXPECT_EQ(at(12, 4), 0.0f);
    EXPECT_EQ(at(15, 4), 255.0f);
    EXPECT_EQ(at(4, 11), 255.0f);
    EXPECT_EQ(at(4, 10), 255.0f);
    EXPECT_EQ(at(4, 9), 100.0f);
    EXPECT_EQ(at(12, 12), 0.0f);
    EXPECT_EQ(at(13, 13), 100.0f);
    int white = 0;
    for (int k = 0; k < 256; ++k)
        white += p[k] == 255.0f;
    EXPECT_EQ(white, 3 + 2);
}

TEST(Measures, ReportTexts)
{
    EXPECT_EQ(MeFrameRow(2, 1234.5, 10.25, 3.5, 1.125), "(02)   1234.50    10.25     3.50      1.12\r\n");
    MeSettings s;
    EXPECT_EQ(MeResultTag(s), "BF_8x8_15");
    s.levels = 3;
    s.maxDispl = 25;
    s.SearchMethod = 1;
    EXPECT_EQ(MeResultTag(s), "H_OT_8x8_25");
    s.SearchMethod = 2;
    s.nSteps = 3;
    EXPECT_EQ(MeResultTag(s), "H_NS_8x8_3");
    MePlan plan;
    ASSERT_TRUE(MePlanRun(s, &plan));
    EXPECT_EQ(MeHierReport(s, plan), "Hierarchical Motion Estimation Parameters \r\n\r\n"
                                     "Res. Level     (1)\t   (2)\t   (3)\r\n"
                                     "  Blocksize    32x32\t   16x16\t   8x8\r\n"
                                     "  Smoothing     7x7\t    5x5\t    3x3\r\n"
                                     "  Window     64x64\t  32x32\t   16x16\r\n"
                                     "  Subsample      4\t     4\t   2\r\n"
                                     "  #Steps          3\t    2\t   1\r\n"
                                     "\r\nESTIMATION RESULTS:\r\n");
    s.levels = 1;
    s.nSteps = 4;
    ASSERT_TRUE(MePlanRun(s, &plan));
    EXPECT_EQ(plan.border, 15);
    EXPECT_EQ(MeTableHead(s, plan).substr(0, 29), "Maximum displacement\t: 15\r\n\r\n");
}

} // namespace

} // namespace me_measures_test
