// The engine image record and its quality measures.
#include "image/img.h"
#include "platform/messages.h"

#include <cmath>
#include <gtest/gtest.h>

namespace img_test { // one namespace per test file: a folder compiles as one source

namespace {

struct FloatImg
{
    Img *img = nullptr;
    FloatImg(int rows, int cols) { AllocImg(&img, rows, cols, IMG_REP_FLOAT, IMG_SEQ_MONO); }
    ~FloatImg() { FreeImg(img); }
    float &operator[](int i) { return img->FloatPlane()[i]; }
};

} // namespace

TEST(MseSnrImg, IdenticalImagesAreErrorFreeAndKeepPsnr)
{
    FloatImg a(4, 4), b(4, 4);
    for (int i = 0; i < 16; ++i)
        a[i] = b[i] = static_cast<float>(i * 3);
    float mse[3] = {-1, -1, -1}, snr[3] = {-1, -1, -1}, psnr = 123.0f;
    EXPECT_EQ(MseSnrImg(mse, snr, &psnr, a.img, b.img, 0), 1);
    EXPECT_EQ(mse[0], 0.0f);
    EXPECT_EQ(snr[0], 100000.0f);
    EXPECT_EQ(psnr, 123.0f);
    // Only element 0 is written for single-plane images.
    EXPECT_EQ(mse[1], -1.0f);
    EXPECT_EQ(snr[2], -1.0f);
}

TEST(MseSnrImg, MseOfOneIsPsnr48_13)
{
    FloatImg a(2, 2), b(2, 2);
    float orig[4] = {10, 20, 30, 40};
    for (int i = 0; i < 4; ++i) {
        a[i] = orig[i];
        b[i] = orig[i] + ((i % 2) ? 1.0f : -1.0f);
    }
    float mse[3], snr[3], psnr = 0;
    ASSERT_EQ(MseSnrImg(mse, snr, &psnr, a.img, b.img, 0), 0);
    EXPECT_FLOAT_EQ(mse[0], 1.0f);
    EXPECT_NEAR(psnr, 48.13, 0.005);
    EXPECT_NEAR(psnr, 10 * std::log10(65025.0), 1e-4);
    // variance of 10,20,30,40 is 125
    EXPECT_NEAR(snr[0], 10 * std::log10(125.0), 1e-4);
}

TEST(MseSnrImg, TinyNonzeroMseComputesSnrButNoPsnr)
{
    FloatImg a(1, 10), b(1, 10);
    for (int i = 0; i < 10; ++i)
        a[i] = b[i] = static_cast<float>(i);
    // One sample off by 1e-5: MSE = 1e-11.
    b[0] = static_cast<float>(1e-5);
    float mse[3], snr[3], psnr = 7.0f;
    EXPECT_EQ(MseSnrImg(mse, snr, &psnr, a.img, b.img, 0), 1);
    EXPECT_GT(mse[0], 0.0f);
    EXPECT_LT(snr[0], 100000.0f);
    EXPECT_EQ(psnr, 7.0f);
}

TEST(MseSnr, ConstantOriginalGivesMinusInfinity)
{
    uint8_t a[4] = {5, 5, 5, 5};
    uint8_t b[4] = {5, 6, 5, 5};
    float mse, snr;
    MseSnr(&mse, &snr, a, IMG_REP_BYTE, b, IMG_REP_BYTE, 0, 4);
    EXPECT_FLOAT_EQ(mse, 0.25f);
    EXPECT_TRUE(std::isinf(snr) && snr < 0);
}

TEST(MseSnr, MixedRepresentationsAndIndex)
{
    uint8_t a[4] = {0, 10, 20, 30};
    int32_t b[4] = {99, 12, 20, 30};
    float mse, snr;
    MseSnr(&mse, &snr, a, IMG_REP_BYTE, b, IMG_REP_INT, 1, 3);
    EXPECT_FLOAT_EQ(mse, 4.0f / 3.0f);
}

TEST(MeanVari, PopulationVariance)
{
    int32_t v[5] = {-2, 0, 2, 4, 6};
    float mean, var;
    MeanVari(&mean, &var, v, IMG_REP_INT, 0, 5);
    EXPECT_FLOAT_EQ(mean, 2.0f);
    EXPECT_FLOAT_EQ(var, 8.0f);
    zn::MessageRecorder rec;
    MeanVari(&mean, &var, v, 7, 0, 5);
    EXPECT_TRUE(rec.Contains("MeanVari: Unknown buffer type"));
    EXPECT_EQ(mean, 0.0f);
    EXPECT_EQ(var, 0.0f);
}

TEST(AllocImg, ZeroSizeAndOddChroma)
{
    Img *img = nullptr;
    AllocImg(&img, 0, 7, IMG_REP_FLOAT, IMG_SEQ_RGB);
    EXPECT_EQ(img->rows, 0);
    EXPECT_EQ(img->cols, 7);
    EXPECT_EQ(img->plane[0], nullptr);
    FreeImg(img);

    AllocImg(&img, 3, 5, IMG_REP_BYTE, IMG_SEQ_YUV);
    ASSERT_NE(img->plane[1], nullptr);
    // 7 bytes of chroma each ((3*5)/2): writing them all must stay in bounds under the sanitizer.
    for (int i = 0; i < 7; ++i)
        img->BytePlane(1)[i] = img->BytePlane(2)[i] = 1;
    FreeImg(img);
}

TEST(AllocImg, InvalidArgumentsGiveMessagesAndNoPlanes)
{
    zn::MessageRecorder rec;
    Img *img = nullptr;
    AllocImg(&img, 2, 2, 5, IMG_SEQ_MONO);
    EXPECT_EQ(img->plane[0], nullptr);
    FreeImg(img);
    AllocImg(&img, 2, 2, IMG_REP_BYTE, 4);
    EXPECT_EQ(img->plane[0], nullptr);
    FreeImg(img);
    EXPECT_EQ(rec.Texts(), (std::vector<std::string>{"Fatal: AllocImg, Invalid representation type",
                                                     "Fatal: AllocImg, Invalid sequence type"}));
}

TEST(CheckSelection, Table)
{
    struct Case
    {
        int sel, t1, t2, c1, c2, c3;
        std::vector<std::string> msgs;
    };
    const Case cases[] = {
        {0, 1, 1, 1, 0, 0, {}},
        {0, 3, 3, 1, 1, 1, {}},
        {0, 2, 0, 1, 1, 1, {}},
        {-4, 2, 1, 1, 0, 0, {}},
        {6, 3, 3, 0, 1, 1, {}},
        {2, 1, 3, 0, 0, 0, {"CheckSelection-U or G component not in both image type(s)"}},
        {7,
         1,
         1,
         1,
         0,
         0,
         {"CheckSelection-U or G component not in both image type(s)",
          "CheckSelection-V or B component not in both image type(s)"}},
        {0, 2, 3, 1, 1, 1, {"Sorry incompatible image types (YUV and RGB)"}},
        {1,
         4,
         1,
         0,
         0,
         0,
         {"Sorry wrong image type", "CheckSelection-Y or R component not in both image type(s)"}},
    };
    for (const Case &c : cases) {
        zn::MessageRecorder rec;
        int f1, f2, f3;
        CheckSelection(&f1, &f2, &f3, c.sel, c.t1, c.t2);
        EXPECT_EQ(f1, c.c1) << c.sel << " " << c.t1 << " " << c.t2;
        EXPECT_EQ(f2, c.c2) << c.sel << " " << c.t1 << " " << c.t2;
        EXPECT_EQ(f3, c.c3) << c.sel << " " << c.t1 << " " << c.t2;
        EXPECT_EQ(rec.Texts(), c.msgs) << c.sel << " " << c.t1 << " " << c.t2;
    }
}

TEST(MseSnrImg, DifferentSizesNeverReadBeyondTheSmallerImage)
{
    FloatImg a(8, 8), b(2, 2);
    for (int i = 0; i < 64; ++i)
        a[i] = 1;
    for (int i = 0; i < 4; ++i)
        b[i] = 1;
    zn::MessageRecorder rec;
    float mse[3], snr[3], psnr;
    MseSnrImg(mse, snr, &psnr, a.img, b.img, 0);
    EXPECT_TRUE(rec.Contains(
        "Fatal: \r\nMseSnrImg-Image dimensions not equal of\r\noriginal and reconstruction images"));
}

TEST(MseSnrImg, RgbAgainstYuvNeverReadsPastTheHalfChromaPlanes)
{
    Img *rgb = nullptr, *yuv = nullptr;
    AllocImg(&rgb, 4, 4, IMG_REP_BYTE, IMG_SEQ_RGB);
    AllocImg(&yuv, 4, 4, IMG_REP_BYTE, IMG_SEQ_YUV); // chroma planes of 8 bytes
    for (int k = 0; k < 3; ++k) {
        for (int i = 0; i < 16; ++i)
            rgb->BytePlane(k)[i] = static_cast<uint8_t>(i + k);
        for (int i = 0; i < (k ? 8 : 16); ++i)
            yuv->BytePlane(k)[i] = static_cast<uint8_t>(i + k);
    }
    zn::MessageRecorder rec;
    float mse[3] = {-1, -1, -1}, snr[3], psnr = 0;
    MseSnrImg(mse, snr, &psnr, rgb, yuv, 0);
    EXPECT_TRUE(rec.Contains("Sorry incompatible image types (YUV and RGB)"));
    // Only the 8 samples both chroma planes hold are compared: all equal.
    EXPECT_EQ(mse[1], 0.0f);
    EXPECT_EQ(mse[2], 0.0f);
    FreeImg(rgb);
    FreeImg(yuv);
}

} // namespace img_test
