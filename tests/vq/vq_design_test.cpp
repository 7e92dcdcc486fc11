// The generalized Lloyd design: the log a user reads, the constant start, centroids, re-seeding of
// empty cells, the stopping rule, pinned random starts, the refusals, and a design on a photograph
// that codes at least as well as its last pass promised.
#include "image/znimage.h"
#include "modules/vq/vq_codebook.h"
#include "modules/vq/vq_coder.h"
#include "modules/vq/vq_design.h"
#include "platform/errors.h"
#include "platform/format.h"
#include "platform/random.h"
#include "support/photo_image.h"
#include "support/test_support.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace vq_design_test { // one namespace per test file: a folder compiles as one source

namespace {

std::unique_ptr<ZnImage> Picture(int rows, int cols, const std::function<float(int x, int y)> &level)
{
    auto im = std::make_unique<ZnImage>();
    im->Alloc(rows, cols);
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x)
            im->Data()[static_cast<size_t>(y) * cols + x] = level(x, y);
    return im;
}

struct Design
{
    ZnImage codebook;
    std::vector<std::string> logs; // every text the log showed
};

void DesignOn(Design &d, const ZnImage &train, int w, int h, int rmin, int rmax, int init, float threshold,
              int maxIter)
{
    VqCodebookDesign(train.img, &d.codebook, w, h, rmin, rmax, init, threshold, maxIter,
                     [&d](const std::string &text) { d.logs.push_back(text); });
}

std::vector<float> Vectors(const ZnImage &cb, int rate)
{
    VqCodebookHeader hd;
    EXPECT_EQ(VqReadHeader(cb, &hd), "");
    return VqGetRateVectors(cb, hd, rate);
}

TEST(VqDesign, ConstantStartMovesToTheCentroids)
{
    // Left half 10, right half 250: the flat start vectors 63.75 and 191.25 split the blocks at
    // once, the update moves them onto 10 and 250, and the second pass has no error left.
    const auto train = Picture(8, 16, [](int x, int) { return x < 8 ? 10.0f : 250.0f; });
    Design d;
    DesignOn(d, *train, 4, 4, 1, 1, kVqInitConstant, 0.01f, 20);
    const double mse0 = (53.75 * 53.75 + 58.75 * 58.75) / 2;
    const std::string expected =
        zn::Format(" Bitrate :1\tNumber of vectors :2\r\n\r\n"
                   " Iteration :(0)\tMean Square Error :%.2f\tVectors not Assigned :0.00\r\n"
                   " Iteration :(1)\tMean Square Error :0.00\tVectors not Assigned :0.00\r\n"
                   " Iteration :(2)\tMean Square Error :0.00\tVectors not Assigned :0.00\r\n",
                   mse0);
    ASSERT_GE(d.logs.size(), 4u);
    EXPECT_EQ(d.logs[d.logs.size() - 2], expected);
    EXPECT_EQ(d.logs.back(),
              expected + "\r\n New Codebook creation completed\r\n Save the new Codebook and push the "
                         "OK button to use it to encode the current image");
    const std::vector<float> v = Vectors(d.codebook, 1);
    std::vector<float> expect(16, 10.0f);
    expect.insert(expect.end(), 16, 250.0f);
    EXPECT_EQ(v, expect);
    EXPECT_EQ(d.codebook.Rows(), 4);
    EXPECT_EQ(d.codebook.Cols(), 12);
}

TEST(VqDesign, EmptyCellsAreReseededFlatAcrossTheGreyRange)
{
    // Every block is 10: only vector 0 (start 31.875) attracts blocks. After one pass it is 10 and
    // the three empty ones become (e + 0.5) * 255 / 3.
    const auto train = Picture(8, 8, [](int, int) { return 10.0f; });
    Design d;
    DesignOn(d, *train, 2, 2, 2, 2, kVqInitConstant, 0.01f, 0);
    const std::vector<float> v = Vectors(d.codebook, 2);
    const float expect[4] = {10.0f, 42.5f, 127.5f, 212.5f};
    for (int i = 0; i < 4; ++i)
        for (int k = 0; k < 4; ++k)
            EXPECT_EQ(v[i * 4 + k], expect[i]) << i;
    // At most maxIterations + 1 passes: one pass, then the note.
    const double mse = 21.875 * 21.875;
    EXPECT_EQ(d.logs.back(),
              zn::Format(" Bitrate :2\tNumber of vectors :4\r\n\r\n Iteration :(0)\tMean Square Error "
                         ":%.2f\tVectors not Assigned :75.00\r\n\r\n Number of iteration reached "
                         "maximum for bitrate 2\r\n\r\n New Codebook creation completed\r\n Save the "
                         "new Codebook and push the OK button to use it to encode the current image",
                         mse));
}

TEST(VqDesign, AConstantImageReachesZeroErrorInTheSecondPass)
{
    for (int init : {kVqInitConstant, kVqInitRandom}) {
        zn::PinRandSeed(3);
        const auto train = Picture(64, 64, [](int, int) { return 77.0f; });
        Design d;
        DesignOn(d, *train, 4, 4, 1, 8, init, 0.01f, 20);
        zn::UnpinRandSeed();
        // Each rate's log restarts; its second pass line has error 0 and nothing after the third.
        int rate = 1;
        for (const std::string &log : d.logs) {
            if (log.rfind(zn::Format(" Bitrate :%d\t", rate), 0) != 0)
                continue;
            if (log.find(" Iteration :(2)") == std::string::npos)
                continue;
            EXPECT_NE(log.find(" Iteration :(1)\tMean Square Error :0.00\t"), std::string::npos) << log;
            EXPECT_EQ(log.find(" Iteration :(3)"), std::string::npos) << log;
            ++rate;
        }
        EXPECT_EQ(rate, 9) << "init " << init;
        // Every rate has a vector that is exactly the image's block.
        for (int r = 1; r <= 8; ++r) {
            const std::vector<float> v = Vectors(d.codebook, r);
            bool found = false;
            for (size_t i = 0; i < v.size() && !found; i += 16)
                found = std::all_of(v.begin() + i, v.begin() + i + 16, [](float c) { return c == 77.0f; });
            EXPECT_TRUE(found) << "rate " << r;
        }
    }
}

TEST(VqDesign, StopsAtTheThresholdOrTheIterationLimit)
{
    // A texture that keeps the error moving for a while.
    const auto train =
        Picture(64, 64, [](int x, int y) { return static_cast<float>((x * 37 + y * 91 + x * y) % 256); });
    for (int maxIter : {0, 1, 3, 10}) {
        zn::PinRandSeed(11);
        Design d;
        DesignOn(d, *train, 2, 2, 6, 6, kVqInitRandom, -1.0f,
                 maxIter); // below any difference: only the limit stops
        zn::UnpinRandSeed();
        const std::string &log = d.logs.back();
        EXPECT_NE(log.find(zn::Format(" Iteration :(%d)\t", maxIter)), std::string::npos) << log;
        EXPECT_EQ(log.find(zn::Format(" Iteration :(%d)\t", maxIter + 1)), std::string::npos) << log;
        EXPECT_NE(log.find("\r\n Number of iteration reached maximum for bitrate 6\r\n"), std::string::npos);
    }
    // A huge threshold: the first difference is taken against 1e8, so two passes still run.
    Design d;
    DesignOn(d, *train, 2, 2, 3, 3, kVqInitConstant, 1e7f, 20);
    EXPECT_NE(d.logs.back().find(" Iteration :(1)\t"), std::string::npos);
    EXPECT_EQ(d.logs.back().find(" Iteration :(2)\t"), std::string::npos);
    EXPECT_EQ(d.logs.back().find("reached maximum"), std::string::npos);
}

TEST(VqDesign, RandomStartsRepeatWithTheSameSeed)
{
    const auto train =
        Picture(32, 48, [](int x, int y) { return static_cast<float>((x * x + 3 * y) % 251); });
    std::vector<float> first;
    for (int run = 0; run < 2; ++run) {
        zn::PinRandSeed(42);
        Design d;
        DesignOn(d, *train, 4, 2, 2, 5, kVqInitRandom, 0.01f, 20);
        zn::UnpinRandSeed();
        std::vector<float> all(d.codebook.Data(), d.codebook.Data() + d.codebook.Rows() * d.codebook.Cols());
        if (run == 0)
            first = all;
        else
            EXPECT_EQ(all, first);
    }
    // Another seed gives another codebook.
    zn::PinRandSeed(43);
    Design d;
    DesignOn(d, *train, 4, 2, 2, 5, kVqInitRandom, 0.01f, 20);
    zn::UnpinRandSeed();
    EXPECT_NE(
        std::vector<float>(d.codebook.Data(), d.codebook.Data() + d.codebook.Rows() * d.codebook.Cols()),
        first);
}

TEST(VqDesign, UsesOnlyCompleteBlocks)
{
    // 250 columns with 8-wide vectors: 31 blocks a row; the two right columns (255) never reach a
    // centroid, so one vector is the left part's 20 exactly.
    const auto train = Picture(8, 250, [](int x, int) { return x < 248 ? 20.0f : 255.0f; });
    Design d;
    DesignOn(d, *train, 8, 8, 1, 1, kVqInitConstant, 0.01f, 20);
    const std::vector<float> v = Vectors(d.codebook, 1);
    EXPECT_TRUE(std::all_of(v.begin(), v.begin() + 64, [](float c) { return c == 20.0f; }));
    EXPECT_NE(d.logs[0].find(" Iteration :(0)\tMean Square Error :1914.06\t"), std::string::npos)
        << d.logs[0];
}

TEST(VqDesign, RefusesWhatCannotBeDesigned)
{
    const auto small = Picture(3, 5, [](int, int) { return 1.0f; });
    struct Case
    {
        int w, h, rmin, rmax;
    };
    for (const Case c : {Case{6, 2, 1, 2}, Case{2, 4, 1, 2}, Case{0, 2, 1, 2}, Case{2, -1, 1, 2},
                         Case{2, 2, 0, 2}, Case{2, 2, 1, 13}, Case{2, 2, 3, 2}}) {
        Design d;
        d.codebook.Alloc(2, 2);
        EXPECT_THROW(DesignOn(d, *small, c.w, c.h, c.rmin, c.rmax, kVqInitConstant, 0.01f, 20),
                     zn::RunAborted)
            << c.w << "x" << c.h << " " << c.rmin << ".." << c.rmax;
        EXPECT_EQ(d.codebook.Rows() * d.codebook.Cols(), 0);
    }
    try {
        Design d;
        DesignOn(d, *small, 6, 2, 1, 2, kVqInitConstant, 0.01f, 20);
    } catch (const zn::RunAborted &e) {
        EXPECT_EQ(std::string(e.what()),
                  "VqCodebookDesign - The training image (5x3) holds no complete 6x2 block.");
    }
}

// Coding with a designed codebook is at least as good as the design's last pass (which measured
// the codebook before its final update), and better at every higher rate of a photograph.
TEST(VqDesign, DesignedCodebookCodesItsTrainingPhotograph)
{
    ZN_REQUIRE_PHOTO("camera");
    ZnImage train;
    ASSERT_TRUE(zntest::LoadPhotoImage("camera", &train));
    zn::PinRandSeed(5);
    Design d;
    DesignOn(d, train, 4, 4, 1, 8, kVqInitRandom, 0.01f, 20);
    zn::UnpinRandSeed();
    ZnImage rec;
    rec.Alloc(train.Rows(), train.Cols());
    double previous = 1e30;
    for (int r = 1; r <= 8; ++r) {
        ASSERT_FLOAT_EQ(VqCodec(train.img, d.codebook.img, rec.img, r, 0.0f), r / 16.0f);
        double sum = 0;
        for (long i = 0; i < static_cast<long>(train.Rows()) * train.Cols(); ++i)
            sum += (train.Data()[i] - rec.Data()[i]) * (train.Data()[i] - rec.Data()[i]);
        const double mse = sum / (static_cast<double>(train.Rows()) * train.Cols());
        EXPECT_LT(mse, previous) << "rate " << r;
        previous = mse;
        if (r == 8) {
            // The last rate's log is the one left; its last pass line holds the promised error.
            const std::string &log = d.logs[d.logs.size() - 2];
            const size_t at = log.rfind("Mean Square Error :");
            ASSERT_NE(at, std::string::npos);
            EXPECT_LE(mse, std::stod(log.substr(at + 19)) + 0.005);
        }
    }
}

} // namespace

} // namespace vq_design_test
