// DPCM coder: the texts of a run, the quantiser file chosen for each bit and level count, refusals
// before any file is read, a flat image coded without error, channel errors reproducible from a
// pinned seed, and quality that rises with the rate. Measures are recomputed here from the pixels.
#include "modules/dpcm_fixture.h"

#include "image/cdib.h"
#include "image/znimage.h"
#include "modules/dpcm/dpcm_coder.h"
#include "platform/errors.h"
#include "platform/messages.h"
#include "platform/random.h"
#include "support/test_support.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace dpcm_coder_test { // one namespace per test file: a folder compiles as one source

namespace {

using dpcmtest::Tables;

struct Run
{
    DpcmRunResult r;
    ZnImage decoded;
    ZnImage predError;
};

std::unique_ptr<Run> Code(const DpcmParams &par, const CDib &image, const std::string &dir = Tables(),
                          const std::string &title = "house")
{
    auto run = std::make_unique<Run>();
    run->r = DpcmCodeImage(par, &image, title, dir, &run->decoded, &run->predError);
    return run;
}

// MSE of the decoded floats against the image's 8-bit grey values.
double Mse(const CDib &image, const ZnImage &decoded)
{
    ZnImage src;
    src.DibToZnImage(&image);
    double sum = 0;
    const long n = static_cast<long>(src.Rows()) * src.Cols();
    for (long i = 0; i < n; ++i) {
        const double d = static_cast<double>(src.Data()[i]) - decoded.Data()[i];
        sum += d * d;
    }
    return sum / n;
}

// Entropy of a quantiser file's level probabilities (the third number of each level line).
double FileEntropy(const std::string &path)
{
    std::ifstream in(path);
    std::string line;
    double h = 0;
    int levelLines = 0;
    while (std::getline(in, line)) {
        if (line.rfind("/*", 0) == 0)
            continue;
        std::istringstream ls(line);
        double rec, thr, p;
        std::string word;
        if (ls >> rec >> thr >> p >> word) {
            h -= p > 0 ? p * std::log2(p) : 0;
            ++levelLines;
        }
    }
    EXPECT_GT(levelLines, 1) << path;
    return h;
}

TEST(DpcmCoder, DefaultRunTextsNamesAndMeasures)
{
    const auto imageHold = dpcmtest::Textured();
    const CDib &image = *imageHold;
    auto run = Code({3, 2, 4, 0.0f}, image);
    const DpcmRunResult &r = run->r;

    EXPECT_EQ(r.name, "DPCM_house_2_4_No");
    EXPECT_EQ(r.caption, "DPCM(house): Bitr:2 Levels:4 Errors:No");
    EXPECT_EQ(r.nameA, "DPCM_house_pred");
    EXPECT_EQ(r.captionA, "DPCM: PRED.ERROR(house) Bitr:2 Levels:4 Errors:No");
    EXPECT_EQ(r.descriptionA, "DPCM PREDICTION ERROR of the house image\r\n   Bitrate\t\t\t\t: 2\r\n"
                              "   Number of Levels\t\t: 4\r\n   No Channel Errors Simulated\r\n");

    const double mse = Mse(image, run->decoded);
    const double psnr = 10 * std::log10(65025 / mse);
    const double entropy = FileEntropy(Tables() + "mlqpw_gg100_0004.sqt");
    EXPECT_NEAR(r.entropy, entropy, 1e-4);
    EXPECT_FLOAT_EQ(r.rate, 2.0f);

    const std::string results = zn::Format("DPCM CODING RESULTS:\r\n   Coded bitrate\t\t: 2.0 (bpp)\r\n"
                                           "   Est. entropy-coded bitrate\t: %.1f (bpp)\r\n"
                                           "   Mean square error\t\t: %.1f \r\n",
                                           entropy, mse);
    EXPECT_NE(r.results.find(results), std::string::npos) << r.results;
    EXPECT_NE(r.results.find(zn::Format("   PSNR\t\t\t: %.1f (dB)\r\n", psnr)), std::string::npos);
    EXPECT_EQ(r.results.rfind("  Variance of original image        :", 0), 0u);
    // The autocorrelation at shift 0, normalised, is 1; the rows are framed by bars.
    EXPECT_NE(r.results.find("  Normalized Autocorrelation matrix:\r\n     |"), std::string::npos);
    EXPECT_NE(r.results.find(" 1.000 "), std::string::npos);

    EXPECT_EQ(r.description.rfind(
                  "DPCM ENCODED house image\r\n   Bitrate\t\t\t\t: 2\r\n   Number of Levels\t\t: 4\r\n"
                  "   No Channel Errors Simulated\r\n\r\n   Coded Bitrate\t\t\t:   2.00 (bpp)\r\n",
                  0),
              0u)
        << r.description;
    EXPECT_NE(r.description.find(zn::Format("   PSNR\t\t\t\t:%7.1f (dB)", psnr)), std::string::npos);
    // The prediction reduces the variance the quantiser has to cover.
    EXPECT_GT(r.variance / r.predVariance, 2.0f);
    EXPECT_EQ(run->predError.Rows(), 48);
    EXPECT_EQ(run->predError.Cols(), 64);
}

TEST(DpcmCoder, EachBitAndLevelChoiceReadsItsOwnQuantiserFile)
{
    struct Case
    {
        int bits;
        bool fewer;
        int levels;
        const char *file;
    };
    const Case cases[] = {
        {1, false, 2, "mlqpw_gg100_0002.sqt"},  {1, true, 2, "mlqpw_gg100_0002.sqt"},
        {2, true, 3, "mlqpw_gg100_0003.sqt"},   {4, false, 16, "mlqpw_gg100_0016.sqt"},
        {5, true, 31, "mlqpw_gg100_0031.sqt"},  {6, true, 63, "mlqpw_gg100_0063.sqt"},
        {6, false, 64, "mlqpw_gg100_0064.sqt"},
    };
    const auto imageHold = dpcmtest::Textured(32, 24);
    const CDib &image = *imageHold;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        EXPECT_EQ(DpcmLevelsFor(c.bits, c.fewer), c.levels);
        // A tables folder holding only the one file the run may read.
        zntest::ScratchDir dir;
        std::filesystem::copy_file(Tables() + c.file, dir.File(c.file));
        zn::MessageRecorder rec;
        auto run = Code({3, c.bits, c.levels, 0.0f}, image, dir.Path());
        EXPECT_EQ(rec.Count(), 0u);
        // Every index is sent with b bits, also when only 2^b - 1 of the words are used.
        EXPECT_FLOAT_EQ(run->r.rate, static_cast<float>(c.bits));
        EXPECT_NE(run->r.results.find(zn::Format("   Coded bitrate\t\t: %d.0 (bpp)\r\n", c.bits)),
                  std::string::npos);
        EXPECT_LE(run->r.entropy, static_cast<float>(c.bits) + 1e-4f);
    }
}

TEST(DpcmCoder, RefusesWhatItCannotCodeBeforeReadingAnyFile)
{
    struct Case
    {
        DpcmParams par;
        std::string dir;
        const char *message;
    };
    const Case cases[] = {
        {{3, 0, 2, 0.0f}, Tables(), "OnDpcmApply: 0 bits per sample cannot be coded (1 to 6)"},
        {{3, 7, 128, 0.0f}, Tables(), "OnDpcmApply: 7 bits per sample cannot be coded (1 to 6)"},
        {{3, 3, 4, 0.0f}, Tables(), "OnDpcmApply: 4 levels cannot be coded with 3 bits per sample"},
        {{3, 1, 1, 0.0f}, Tables(), "OnDpcmApply: 1 levels cannot be coded with 1 bits per sample"},
        {{3, 2, 4, -0.5f}, Tables(), "OnDpcmApply: The channel error probability must lie between 0 and 1"},
        {{3, 2, 4, 0.0f},
         "",
         "Sorry: No Tables Directory Selected.\r\nPlease set the Tables Directory path!"},
    };
    const auto imageHold = dpcmtest::Textured(16, 16);
    const CDib &image = *imageHold;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.message);
        zn::MessageRecorder rec;
        ZnImage decoded, err;
        try {
            DpcmCodeImage(c.par, &image, "t", c.dir, &decoded, &err);
            ADD_FAILURE() << "not refused";
        } catch (const zn::RunAborted &e) {
            EXPECT_STREQ(e.what(), c.message);
        }
        EXPECT_EQ(rec.Count(), 0u); // no reader ran
        EXPECT_EQ(decoded.Rows(), 0);
    }
}

TEST(DpcmCoder, MissingQuantiserEndsTheRunAfterTheReadersMessage)
{
    const auto imageHold = dpcmtest::Textured(16, 16);
    const CDib &image = *imageHold;
    zntest::ScratchDir empty;
    zn::MessageRecorder rec;
    ZnImage decoded, err;
    try {
        DpcmCodeImage({3, 2, 4, 0.0f}, &image, "t", empty.Path(), &decoded, &err);
        ADD_FAILURE() << "ran without a quantiser";
    } catch (const zn::RunAborted &e) {
        EXPECT_EQ(e.Code(), 1); // already reported
    }
    EXPECT_EQ(rec.Texts(), std::vector<std::string>{"Can't open Quantizer file"});
}

// A flat image has nothing to predict and no variance to normalise by: it decodes exactly, and the
// report says so without a single "nan".
TEST(DpcmCoder, FlatImageIsCodedWithoutErrorAndReportsNoNan)
{
    const auto flat = zntest::MakeGreyDib(20, 12, [](int, int) { return 100; });
    const CDib &image = *flat;
    for (int model = 1; model <= 4; ++model) {
        auto run = Code({model, 2, 4, 0.0f}, image);
        const DpcmRunResult &r = run->r;
        EXPECT_TRUE(r.measures.errorFree);
        EXPECT_EQ(Mse(image, run->decoded), 0.0);
        for (const std::string *t : {&r.results, &r.description})
            for (const char *bad : {"nan", "inf", "NaN"})
                EXPECT_EQ(t->find(bad), std::string::npos) << *t;
        EXPECT_NE(
            r.results.find("   Signal-to-noise ratio\t: Infinite (dB)\r\n   PSNR\t\t\t: Infinite (dB)\r\n"),
            std::string::npos);
        EXPECT_NE(r.description.find(
                      "   Signal-to-Noise Ratio\t\t: Infinite (dB)\r\n   PSNR\t\t\t\t: Infinite (dB)"),
                  std::string::npos);
        EXPECT_NE(r.results.find("  Prediction gain\t\t:    1.0\r\n"), std::string::npos);
        const zn::RDValues v = zn::RDPointValues(r.measures);
        EXPECT_EQ(v.snr, 60.0f);
        EXPECT_EQ(v.psnr, 60.0f);
    }
}

// Pictures smaller than the predictor's neighbourhood: every neighbour outside the picture counts
// as 0, and nothing reads past the rows.
TEST(DpcmCoder, TinyPicturesCodeWithEveryModel)
{
    const int sizes[][2] = {{1, 1}, {7, 1}, {1, 7}, {2, 2}, {3, 2}};
    for (const auto &wh : sizes) {
        const auto tiny = dpcmtest::Textured(wh[0], wh[1]);
        for (int model = 1; model <= 4; ++model) {
            SCOPED_TRACE(zn::Format("%dx%d model %d", wh[0], wh[1], model));
            zn::PinRandSeed(3);
            auto run = Code({model, 3, 8, 0.005f}, *tiny);
            zn::UnpinRandSeed();
            EXPECT_EQ(run->decoded.Cols(), wh[0]);
            EXPECT_EQ(run->predError.Rows(), wh[1]);
            for (const char *bad : {"nan", "NaN"})
                EXPECT_EQ(run->r.results.find(bad), std::string::npos) << run->r.results;
        }
    }
}

TEST(DpcmCoder, ModelsSetOnlyTheirOwnCoefficients)
{
    const auto imageHold = dpcmtest::Textured();
    const CDib &image = *imageHold;
    // Coefficients laid out as the neighbours stand: upper-left, upper, upper-right over left.
    auto upperRow = [](const DpcmRunResult &r) {
        return zn::Format("     %6.3f    %6.3f    %6.3f\r\n", r.coef[0], r.coef[1], r.coef[2]);
    };
    auto m1 = Code({1, 2, 4, 0.0f}, image);
    EXPECT_NE(m1->r.results.find("  Optimal Prediction Coefficients:\r\n      0.000     0.000     0.000\r\n"),
              std::string::npos)
        << m1->r.results;
    EXPECT_NE(m1->r.coef[3], 0.0f);
    auto m3 = Code({3, 2, 4, 0.0f}, image);
    EXPECT_EQ(m3->r.coef[2], 0.0f);
    EXPECT_NE(m3->r.coef[0], 0.0f);
    auto m4 = Code({4, 2, 4, 0.0f}, image);
    EXPECT_NE(m4->r.coef[2], 0.0f);
    EXPECT_NE(m4->r.results.find(upperRow(m4->r)), std::string::npos);
    // More neighbours never leave more to quantise.
    EXPECT_LE(m3->r.predVariance, m1->r.predVariance);
    EXPECT_LE(m4->r.predVariance, m3->r.predVariance * 1.0001f);
}

TEST(DpcmCoder, ChannelErrorsAreReproducibleFromAPinnedSeed)
{
    struct Case
    {
        float p;
        const char *titleWord;
        const char *captionWord;
        const char *errorLine;
    };
    const Case cases[] = {
        {0.005f, "005", "0.005", "Channel Errors Probability\t: 0.0050"},
        {0.001f, "001", "0.001", "Channel Errors Probability\t: 0.0010"},
        {0.0005f, "0005", "0.0005", "Channel Errors Probability\t: 0.0005"},
        {0.0001f, "0001", "0.0001", "Channel Errors Probability\t: 0.0001"},
    };
    const auto imageHold = dpcmtest::Textured(96, 64);
    const CDib &image = *imageHold;
    auto clean = Code({3, 4, 16, 0.0f}, image);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.captionWord);
        zn::PinRandSeed(1234);
        zn::SeedRand(1234);
        auto a = Code({3, 4, 16, c.p}, image);
        zn::SeedRand(1234);
        auto b = Code({3, 4, 16, c.p}, image);
        zn::SeedRand(99);
        auto other = Code({3, 4, 16, c.p}, image);
        zn::UnpinRandSeed();
        const long n = 96L * 64;
        EXPECT_TRUE(std::equal(a->decoded.Data(), a->decoded.Data() + n, b->decoded.Data()));
        EXPECT_EQ(a->r.results, b->r.results);
        if (c.p >= 0.001f) { // 6144 words of 4 bits: about 25 flips at 0.001
            EXPECT_FALSE(std::equal(a->decoded.Data(), a->decoded.Data() + n, other->decoded.Data()));
        }
        // The channel does not change what was sent: the same rate and the same quantisation.
        EXPECT_FLOAT_EQ(a->r.rate, 4.0f);
        EXPECT_GE(Mse(image, a->decoded), Mse(image, clean->decoded));
        EXPECT_EQ(a->r.name, std::string("DPCM_house_4_16_") + c.titleWord);
        EXPECT_EQ(a->r.caption, std::string("DPCM(house): Bitr:4 Levels:16 Errors:") + c.captionWord);
        EXPECT_NE(a->r.description.find(std::string("   ") + c.errorLine + "\r\n"), std::string::npos);
        EXPECT_NE(a->r.descriptionA.find(std::string("   ") + c.errorLine + "\r\n"), std::string::npos);
    }
}

TEST(DpcmCoder, QualityRisesWithTheRate)
{
    const auto imageHold = dpcmtest::Textured();
    const CDib &image = *imageHold;
    double lastMse = 1e30;
    float lastEntropy = 0;
    for (int b = 1; b <= 6; ++b) {
        SCOPED_TRACE(b);
        auto run = Code({3, b, DpcmLevelsFor(b, false), 0.0f}, image);
        const double mse = Mse(image, run->decoded);
        EXPECT_NEAR(run->r.measures.mse, mse, 1e-3 * mse + 1e-4);
        EXPECT_LT(mse, lastMse);
        EXPECT_GT(run->r.entropy, lastEntropy);
        lastMse = mse;
        lastEntropy = run->r.entropy;
    }
    EXPECT_LT(lastMse, 1.0); // 6 bits on a prediction error of a few grey levels
}

} // namespace

} // namespace dpcm_coder_test
