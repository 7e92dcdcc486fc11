// The codebook image: its size for every shape the design offers, where each code vector lands, the
// reader finding the writer's vectors, and the checks that refuse pictures that are no codebook.
#include "image/znimage.h"
#include "modules/vq/vq_codebook.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <memory>
#include <vector>

namespace vq_codebook_test { // one namespace per test file: a folder compiles as one source

namespace {

// Bands a rate fills when 64 vectors make a band.
int Bands64(int r)
{
    return r <= 6 ? 1 : 1 << (r - 6);
}

TEST(VqCodebookSize, FollowsTheFormat)
{
    struct Case
    {
        int w, h, rmin, rmax, rows, cols;
    };
    const Case cases[] = {
        {4, 4, 1, 8, 32, 1028}, // 8 rates, one band each, 256 vectors of 4 + header
        {2, 2, 1, 1, 2, 8},
        {8, 10, 3, 5, 30, 260},
        {10, 4, 1, 6, 24, 644}, // rmax 6: still one band per rate
        {10, 6, 7, 12, (2 + 4 + 8 + 16 + 32 + 64) * 6, 644},
        {10, 2, 1, 8, (6 + 2 + 4) * 2, 648}, // four spare columns for rmax 8
        {10, 2, 9, 10, (8 + 16) * 2, 648},   // and for rmax 10
        {10, 10, 12, 12, 64 * 10, 644},
        {8, 8, 12, 12, 8, 4096 * 8 + 4},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " " << c.rmin << ".." << c.rmax);
        int rows = 0, cols = 0;
        VqCodebookSize(c.w, c.h, c.rmin, c.rmax, &rows, &cols);
        EXPECT_EQ(rows, c.rows);
        EXPECT_EQ(cols, c.cols);
    }
    // The folded layout: every rate of w = 10 is h times its band count high.
    for (int rmin = 1; rmin <= 12; ++rmin)
        for (int rmax = std::max(rmin, 7); rmax <= 12; ++rmax) {
            int rows = 0, cols = 0, bands = 0;
            VqCodebookSize(10, 4, rmin, rmax, &rows, &cols);
            for (int r = rmin; r <= rmax; ++r)
                bands += Bands64(r);
            EXPECT_EQ(rows, 4 * bands) << rmin << ".." << rmax;
        }
}

// A codebook whose every vector component says which vector it is: rate r, index i, component c
// holds r * 10000 + i * 100 + c (exact in a float for the sizes used).
std::unique_ptr<ZnImage> MakeLabelled(int w, int h, int rmin, int rmax)
{
    auto owner = std::make_unique<ZnImage>();
    ZnImage &cb = *owner;
    int rows = 0, cols = 0;
    VqCodebookSize(w, h, rmin, rmax, &rows, &cols);
    cb.Alloc(rows, cols);
    std::fill(cb.Data(), cb.Data() + static_cast<size_t>(rows) * cols, 0.0f);
    float *p = cb.Data();
    p[0] = static_cast<float>(w);
    p[1] = static_cast<float>(h);
    p[2] = static_cast<float>(rmin);
    p[3] = static_cast<float>(rmax);
    const VqCodebookHeader hd{w, h, rmin, rmax};
    VqPlacement cursor(w, cols);
    for (int r = rmin; r <= rmax; ++r) {
        std::vector<float> v(static_cast<size_t>(1 << r) * w * h);
        for (int i = 0; i < (1 << r); ++i)
            for (int c = 0; c < w * h; ++c)
                v[static_cast<size_t>(i) * w * h + c] = static_cast<float>(r * 10000 + i * 100 + c);
        VqPutRateVectors(&cb, hd, r, v.data(), &cursor);
    }
    return owner;
}

float At(const ZnImage &im, int row, int col)
{
    return im.Data()[static_cast<size_t>(row) * im.Cols() + col];
}

TEST(VqCodebookImage, PlacesEveryRateInItsBands)
{
    // 4x4, rates 1..8: band 0 = header + the 2 rate-1 vectors, band b = the vectors of rate b + 1.
    const auto owner = MakeLabelled(4, 4, 1, 8);
    const ZnImage &cb = *owner;
    ASSERT_EQ(cb.Rows(), 32);
    ASSERT_EQ(cb.Cols(), 1028);
    EXPECT_EQ(At(cb, 0, 0), 4.0f);
    EXPECT_EQ(At(cb, 0, 1), 4.0f);
    EXPECT_EQ(At(cb, 0, 2), 1.0f);
    EXPECT_EQ(At(cb, 0, 3), 8.0f);
    EXPECT_EQ(At(cb, 0, 4), 10000.0f);          // rate 1, vector 0, component (0,0)
    EXPECT_EQ(At(cb, 3, 11), 10100.0f + 15.0f); // rate 1, vector 1, component (3,3)
    EXPECT_EQ(At(cb, 1, 12), 0.0f);             // band 0 is empty after the rate-1 vectors
    EXPECT_EQ(At(cb, 4, 0), 20000.0f);          // rate 2 from the left edge of band 1
    EXPECT_EQ(At(cb, 4 * 7 + 2, 1023), 80000.0f + 25500.0f + 11.0f); // rate 8, vector 255, (2,3)
    EXPECT_EQ(At(cb, 31, 1024), 0.0f);

    // w = 10: 64 vectors a band, band 0 included; rate 7 fills bands 1 and 2 (rmin 6).
    const auto wideOwner = MakeLabelled(10, 2, 6, 8);
    const ZnImage &wide = *wideOwner;
    ASSERT_EQ(wide.Cols(), 648);
    ASSERT_EQ(wide.Rows(), (1 + 2 + 4) * 2);
    EXPECT_EQ(At(wide, 0, 4 + 63 * 10), 60000.0f + 6300.0f);
    EXPECT_EQ(At(wide, 2, 0), 70000.0f);
    EXPECT_EQ(At(wide, 4, 0), 70000.0f + 6400.0f);
    EXPECT_EQ(At(wide, 5, 639), 70000.0f + 12700.0f + 19.0f);
    EXPECT_EQ(At(wide, 6, 0), 80000.0f);
    for (int row = 2; row < wide.Rows(); ++row) // band 0 starts 4 columns in and reaches column 643
        for (int col = 640; col < 648; ++col)
            EXPECT_EQ(At(wide, row, col), 0.0f) << row << "," << col; // the spare columns
}

TEST(VqCodebookImage, ReaderFindsWhatTheWriterPlaced)
{
    struct Shape
    {
        int w, h, rmin, rmax;
    };
    for (const Shape s : {Shape{4, 4, 1, 8}, Shape{2, 6, 3, 9}, Shape{10, 10, 5, 8}, Shape{10, 2, 7, 10},
                          Shape{8, 2, 10, 12}, Shape{6, 4, 4, 4}}) {
        SCOPED_TRACE(testing::Message() << s.w << "x" << s.h << " " << s.rmin << ".." << s.rmax);
        const auto owner = MakeLabelled(s.w, s.h, s.rmin, s.rmax);
        const ZnImage &cb = *owner;
        VqCodebookHeader hd;
        ASSERT_EQ(VqReadHeader(cb, &hd), "");
        EXPECT_EQ(hd.w, s.w);
        EXPECT_EQ(hd.h, s.h);
        EXPECT_EQ(hd.rmin, s.rmin);
        EXPECT_EQ(hd.rmax, s.rmax);
        for (int r = s.rmin; r <= s.rmax; ++r) {
            const std::vector<float> v = VqGetRateVectors(cb, hd, r);
            ASSERT_EQ(v.size(), static_cast<size_t>(1 << r) * s.w * s.h);
            for (size_t j = 0; j < v.size(); ++j) {
                const size_t i = j / (s.w * s.h), c = j % (s.w * s.h);
                ASSERT_EQ(v[j], static_cast<float>(r * 10000 + i * 100 + c)) << "rate " << r << " at " << j;
            }
        }
    }
}

std::unique_ptr<ZnImage> Picture(int rows, int cols, const std::vector<float> &head)
{
    auto owner = std::make_unique<ZnImage>();
    ZnImage &im = *owner;
    im.Alloc(rows, cols);
    std::fill(im.Data(), im.Data() + static_cast<size_t>(rows) * cols, 0.0f);
    int i = 0;
    for (float v : head)
        im.Data()[i++] = v;
    return owner;
}

TEST(VqCodebookImage, RefusesPicturesThatAreNoCodebook)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case
    {
        int rows, cols;
        std::vector<float> head;
    };
    const Case cases[] = {
        {4, 1028, {0, 4, 1, 8}},
        {4, 1028, {4, 0, 1, 8}},
        {4, 1028, {4, -4, 1, 8}},
        {4, 1028, {4, 4, 0, 1}},
        {4, 1028, {4, 4, 1, 13}},
        {4, 1028, {4, 4, 5, 4}},
        {4, 1028, {nan, 4, 1, 2}},
        {4, 1028, {4e9f, 4, 1, 2}},
        {4, 1028, {4, 4, 1, -1e30f}},
        {31, 1028, {4, 4, 1, 8}},      // one row short of the last band
        {32, 1023, {4, 4, 1, 8}},      // rate 8 would spill into a ninth band
        {4, 11, {4, 4, 1, 1}},         // the second rate-1 vector moves to a band that is not there
        {1, 3, {}},                    // no room for the header
        {255, 255, {255, 255, 1, 12}}, // an ordinary picture read as a codebook
        {0, 0, {}},
    };
    for (const Case &c : cases) {
        const auto im = Picture(c.rows, c.cols, c.head);
        VqCodebookHeader hd;
        EXPECT_NE(VqReadHeader(*im, &hd), "") << c.rows << "x" << c.cols;
    }
    // The smallest pictures that do hold their codebook.
    for (const Case &c : {Case{4, 12, {4, 4, 1, 1}}, Case{8, 11, {4, 4, 1, 1}}, Case{32, 1028, {4, 4, 1, 8}},
                          Case{1, 6, {1, 1, 1, 1}}}) {
        const auto im = Picture(c.rows, c.cols, c.head);
        VqCodebookHeader hd;
        EXPECT_EQ(VqReadHeader(*im, &hd), "") << c.rows << "x" << c.cols;
    }
}

} // namespace

} // namespace vq_codebook_test
