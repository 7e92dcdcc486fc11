// Bit allocation and the subband codec: the greedy allocation's rules, the coding identities with
// the generated tables, rising quality with rate, missing tables, and the report tables.
#include "modules/sbc/sbc_dct.h"
#include "modules/sbc/subb.h"
#include "platform/errors.h"
#include "platform/messages.h"
#include "platform/random.h"
#include "sbc_test_util.h"
#include "support/test_support.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace codec_test { // one namespace per test file: a folder compiles as one source

using namespace sbctest;

namespace {

const std::string kTables = std::string(ZN_BUILD_DIR) + "/tables/";

struct Curves
{
    std::vector<PerfQuant *> c;
    Curves(const std::vector<std::vector<std::pair<float, float>>> &points)
    {
        for (const auto &pts : points) {
            PerfQuant *p;
            AllocPerfQuant(&p, static_cast<int>(pts.size()));
            p->n = static_cast<int>(pts.size());
            for (size_t j = 0; j < pts.size(); ++j) {
                p->levels[j] = static_cast<int>(j);
                p->rate[j] = pts[j].first;
                p->distortion[j] = pts[j].second;
            }
            c.push_back(p);
        }
    }
    ~Curves()
    {
        for (PerfQuant *p : c)
            FreePerfQuant(p);
    }
};

// Everything one coding run of a decomposition needs, released at the end.
struct CodingRun
{
    Subb *sb = nullptr;
    std::vector<Quant *> quants;
    std::vector<float> vari, coef, rates, dists;
    std::vector<int> methods;
    std::vector<std::string> pdf;
    float expRate = 0, expDist = 0, rate = 0, dist = 0;

    CodingRun(Subb *s, int dpcmBand0) : sb(s)
    {
        const int n = sb->comp[0].count;
        quants.assign(n, nullptr);
        vari.assign(n, 0);
        coef.assign(4 * n, 0);
        rates.assign(n, 0);
        dists.assign(n, 0);
        methods.assign(n, SBC_PCM);
        if (dpcmBand0)
            methods[0] = SBC_DPCM;
        pdf.assign(n, "gg100");
        pdf[0] = "gg200";
    }
    ~CodingRun()
    {
        for (Quant *q : quants)
            FreeQuant(q);
        FreeSubb(sb);
    }
    void Select(int codeType, float target, const std::string &dir = kTables)
    {
        SbcSelQuant(&expRate, &expDist, quants.data(), vari.data(), coef.data(), sb, methods.data(), 3,
                    codeType, dir, "mlqpw", pdf, target);
    }
    void Code(float p = 0)
    {
        SbcCodec(&rate, &dist, rates.data(), dists.data(), sb, quants.data(), methods.data(), coef.data(), p);
    }
};

Subb *QmfSplit(Img *img, const char *bank)
{
    Filt *f = nullptr;
    ReadFilt(&f, kTables, "qmf", bank);
    EXPECT_NE(f, nullptr);
    int splits[3] = {1, 4, 16};
    Subb *sb = nullptr;
    SbcSplitModHigh(&sb, img, f, 3, splits, 0);
    FreeFilt(f);
    return sb;
}

Img *QmfMerge(Subb *sb, const char *bank)
{
    Filt *f = nullptr;
    ReadFilt(&f, kTables, "qmf", bank);
    Img *out = nullptr;
    SbcReconModHigh(&out, sb, f, 0);
    FreeFilt(f);
    return out;
}

class Tables : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(std::filesystem::is_directory(kTables)) << "tables not generated in " << kTables;
        zn::PinRandSeed(77);
        zn::SeedRand(77);
    }
    void TearDown() override { zn::UnpinRandSeed(); }
};

} // namespace

TEST(SbcBitAlloc, MovesTheSteepestBandAndKeepsTheCloserState)
{
    // Band 0: 1 bit buys 8; band 1: 1 bit buys 6, then another 6.
    Curves curves({{{0, 10}, {1, 2}, {2, 1}}, {{0, 12}, {1, 6}, {2, 0}}});
    std::vector<int> alloc = {0, 0};
    float rate, dist;
    EXPECT_EQ(SbcBitAlloc(&rate, &dist, alloc.data(), 2, curves.c.data(), 1, 1.0f), 2);
    // Step 1 (band 0) reaches R = 1; step 2 passes 1 with R = 2, farther from the target: undone.
    EXPECT_EQ(alloc, (std::vector<int>{1, 0}));
    EXPECT_FLOAT_EQ(rate, 1.0f);
    EXPECT_FLOAT_EQ(dist, 14.0f);

    // Halfway between the last two states (1.5 from 1 and from 2): back to the previous state.
    alloc = {0, 0};
    SbcBitAlloc(&rate, &dist, alloc.data(), 2, curves.c.data(), 1, 1.5f);
    EXPECT_EQ(alloc, (std::vector<int>{1, 0}));

    // Equal slopes: the lower-numbered band moves first.
    Curves tie({{{0, 4}, {1, 0}}, {{0, 4}, {1, 0}}});
    alloc = {0, 0};
    SbcBitAlloc(&rate, &dist, alloc.data(), 2, tie.c.data(), 1, 0.9f);
    EXPECT_EQ(alloc, (std::vector<int>{1, 0}));

    // A distortion target, and indices clamped into their curves.
    alloc = {-3, 9};
    SbcBitAlloc(&rate, &dist, alloc.data(), 2, curves.c.data(), 0, 5.0f);
    EXPECT_EQ(alloc, (std::vector<int>{1, 2}));
    EXPECT_FLOAT_EQ(dist, 2.0f);
}

TEST(SbcBitAlloc, TooHighATargetWalksEveryCurveToItsEnd)
{
    // Band 1's middle point lies above the lower hull and is skipped.
    Curves curves({{{0, 10}, {1, 2}, {2, 1}}, {{0, 12}, {1, 11}, {2, 0}}});
    std::vector<int> alloc = {0, 0};
    float rate, dist;
    zn::MessageRecorder rec;
    EXPECT_EQ(SbcBitAlloc(&rate, &dist, alloc.data(), 2, curves.c.data(), 1, 100.0f), 3);
    EXPECT_TRUE(rec.Contains("SbcBitAlloc-Too high bitrate or too low distortion specified"));
    EXPECT_EQ(alloc, (std::vector<int>{2, 2}));
    EXPECT_FLOAT_EQ(rate, 4.0f);
    EXPECT_FLOAT_EQ(dist, 1.0f);
}

TEST_F(Tables, FixedLengthCodesSpendExactlyTheExpectedRate)
{
    ImgPtr img = TestPicture(256, 256, 2);
    for (int dpcm : {0, 1}) {
        for (float target : {0.5f, 1.0f, 2.5f}) {
            CodingRun run(QmfSplit(img.get(), "16b"), dpcm);
            run.Select(VLC_FLC, target);
            run.Code();
            EXPECT_NEAR(run.rate, run.expRate, 1e-4) << "target " << target << " dpcm " << dpcm;
            EXPECT_NEAR(run.rate, target, 0.1) << target;
            // Every band spends its fixed-length code's length per sample.
            for (size_t i = 1; i < run.quants.size(); ++i)
                EXPECT_EQ(run.rates[i], run.quants[i]->rate);
        }
    }
}

TEST_F(Tables, QualityRisesWithTheTargetRate)
{
    ImgPtr img = TestPicture(256, 256, 6);
    const long n = 256 * 256;
    for (int split : {0, 1}) { // QMF tree, then 8 x 8 block DCT
        double last = 0;
        for (float target : {0.25f, 0.5f, 1.0f, 2.0f, 4.0f}) {
            Subb *sb = nullptr;
            if (split == 0)
                sb = QmfSplit(img.get(), "16b");
            else
                SbcSplitDct(&sb, img.get(), 8, 8, 0);
            CodingRun run(sb, 1);
            run.Select(VLC_FLC, target);
            run.Code();
            Img *out = nullptr;
            if (split == 0) {
                out = QmfMerge(run.sb, "16b");
            } else {
                SbcReconDct(&out, run.sb, 0);
            }
            ImgPtr rec(out);
            const double psnr = Psnr(img->FloatPlane(), rec->FloatPlane(), n);
            // The orthonormal DCT and its scaling make the plain sum of band errors the image's error.
            if (split == 1) {
                EXPECT_NEAR(Mse(img->FloatPlane(), rec->FloatPlane(), n), run.dist, 0.01 * run.dist);
            }
            EXPECT_GT(psnr, last + 0.5) << (split ? "dct" : "qmf") << " target " << target;
            last = psnr;
        }
        EXPECT_GT(last, 38.0); // the picture carries white noise of variance 9, costly at any rate
    }
}

TEST_F(Tables, HuffmanCodesWithChannelErrorsWarnPerBandAndStillCode)
{
    ImgPtr img = TestPicture(64, 64, 8);
    CodingRun run(QmfSplit(img.get(), "08a"), 0);
    run.Select(VLC_HUFFMAN, 2.0f);
    std::vector<float> before(run.sb->FloatPlane(), run.sb->FloatPlane() + 64 * 64);
    zn::MessageRecorder rec;
    run.Code(0.01f);
    size_t warnings = 0;
    for (const std::string &t : rec.Texts())
        warnings += t == "SbcCodec-Channel errors can only be used with FLCs";
    EXPECT_EQ(warnings, run.quants.size());
    EXPECT_NE(before, std::vector<float>(run.sb->FloatPlane(), run.sb->FloatPlane() + 64 * 64));
    EXPECT_GT(run.rate, 0);
}

TEST_F(Tables, AMissingTableEndsTheRunWithAMessage)
{
    ImgPtr img = TestPicture(64, 64, 1);
    zntest::ScratchDir scratch;
    // Performance tables without any quantiser file beside them.
    for (const char *f : {"mlqpw_gg100_flc.sqp", "mlqpw_gg200_flc.sqp"})
        std::filesystem::copy_file(kTables + f, scratch.File(f));
    {
        CodingRun run(QmfSplit(img.get(), "02"), 0);
        zn::MessageRecorder rec;
        EXPECT_THROW(run.Select(VLC_FLC, 1.0f, scratch.Path()), zn::RunAborted);
        EXPECT_TRUE(rec.Contains("Can't open Quantizer file"));
        for (Quant *q : run.quants)
            EXPECT_EQ(q, nullptr);
    }
    {
        CodingRun run(QmfSplit(img.get(), "02"), 0);
        zn::MessageRecorder rec;
        EXPECT_THROW(run.Select(VLC_HUFFMAN, 1.0f, scratch.Path()), zn::RunAborted);
        EXPECT_TRUE(rec.Contains("ReadPerfQuant-Can't open quantizer file"));
    }
    {
        // A quantiser list with a hole: nothing is coded.
        CodingRun run(QmfSplit(img.get(), "02"), 0);
        run.Select(VLC_FLC, 1.0f);
        FreeQuant(run.quants[3]);
        run.quants[3] = nullptr;
        std::vector<float> before(run.sb->FloatPlane(), run.sb->FloatPlane() + 64 * 64);
        try {
            run.Code();
            ADD_FAILURE() << "no error for a missing quantiser";
        } catch (const zn::RunAborted &e) {
            EXPECT_STREQ(e.what(), "SbcCodec-No quantizer for subband 4");
        }
        EXPECT_EQ(before, std::vector<float>(run.sb->FloatPlane(), run.sb->FloatPlane() + 64 * 64));
    }
}

TEST(SbcReports, TablesHaveTheirFixedLayout)
{
    Subb *sb;
    AllocSubb(&sb, 4, 4, IMG_REP_FLOAT, IMG_SEQ_MONO);
    SubbComponent &c = sb->comp[0];
    c.count = 2;
    c.bandRows[0] = 2, c.bandCols[0] = 4, c.first[0] = 0;
    c.bandRows[1] = 2, c.bandCols[1] = 4, c.first[1] = 8;
    QuantPtr q0 = Uniform(4, 1.0f), q1 = Uniform(2, 1.0f);
    q0->rate = 2, q0->distortion = 0.5f;
    q1->rate = 1, q1->distortion = 1.25f;
    Quant *qs[2] = {q0.get(), q1.get()};
    const float vari[2] = {100, 10}, rates[2] = {2, 1}, dists[2] = {0.5f, 1.25f};
    const int methods[2] = {0, 0};
    const std::string heading = "  #sb     variance     #lev     rate     dist\r\n"
                                "  ------    ----------------    -------    -------    --------\r\n";
    EXPECT_EQ(SbcPrintBitAlloc(sb, qs, vari, methods, "", {}, 1.0f),
              "Results of bit allocation:\r\n" + heading +
                  "    1        100.00\t  4      2.00     0.50\r\n"
                  "    2         10.00\t  2      1.00     1.25\r\n"
                  "\r\n"
                  "  Total variance\t:   110.0\r\n  Expected rate\t:    1.50 (bpp)\r\n  Expected m-s-e\t:    "
                  " 1.8\r\n"
                  "\r\n");
    EXPECT_EQ(SbcPrintCodingResults(sb, qs, rates, dists, vari),
              "Results after coding and decoding:\r\n" + heading +
                  "    1        100.00\t  4      2.00     0.50\r\n"
                  "    2         10.00\t  2      1.00     1.25\r\n"
                  "            ----------------             ---------  -----------\r\n"
                  "               110.00                1.50     1.75\r\n"
                  "\r\n");
    FreeSubb(sb);
}

TEST(SbcCodec, LeavesARecordOfAnotherSampleTypeAlone)
{
    Subb *sb;
    AllocSubb(&sb, 4, 4, IMG_REP_BYTE, IMG_SEQ_MONO);
    static_cast<uint8_t *>(sb->plane[0])[5] = 200;
    QuantPtr q = Uniform(2, 1.0f);
    Quant *qs[1] = {q.get()};
    const int methods[1] = {SBC_PCM};
    const float coef[4] = {};
    float rate = -1, dist = -1, rates[1], dists[1];
    zn::MessageRecorder rec;
    SbcCodec(&rate, &dist, rates, dists, sb, qs, methods, coef, 0);
    EXPECT_TRUE(rec.Contains("SbcCodec-Only floating Y subband images are supported"));
    EXPECT_EQ(static_cast<uint8_t *>(sb->plane[0])[5], 200);
    EXPECT_EQ(rate, 0.0f);
    FreeSubb(sb);
}

} // namespace codec_test
