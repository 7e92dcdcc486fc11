// The EZW engine: stream header, first threshold, pass structure, embedded decoding and robustness
// against damaged streams.
#include "modules/ezw/ezw_coder.h"
#include "modules/ezw/ezw_workspace.h"
#include "platform/errors.h"
#include "wavelet/wavelet_test_util.h"

#include <gtest/gtest.h>

namespace ezw_coder_test { // one namespace per test file: a folder compiles as one source

using namespace wavelettest;

namespace {

TEST(EzwStream, HeaderHoldsLevelsSizeAndMean)
{
    const auto img = MakeImage(512, 256, [](int x, int y) { return (x + y) % 2 ? 110.0f : 130.0f; });
    const EzwEncodeResult r = EzwEncodeBytes(*img, nullptr, 0.05f, 3);
    ASSERT_GE(r.stream.size(), 6u);
    EXPECT_EQ(std::vector<uint8_t>(r.stream.begin(), r.stream.begin() + 6),
              (std::vector<uint8_t>{0x03, 0x00, 0x02, 0x00, 0x01, 0x78}));
}

TEST(EzwStream, CropKeepsMultiplesOfTwoToTheLevels)
{
    EXPECT_EQ(EzwCroppedSide(512, 3), 512);
    EXPECT_EQ(EzwCroppedSide(100, 3), 96);
    EXPECT_EQ(EzwCroppedSide(16, 5), 0);
    const auto img = Scene(100, 70);
    const EzwEncodeResult r = EzwEncodeBytes(*img, nullptr, 1.0f, 2);
    EXPECT_EQ(r.stream[1] + 256 * r.stream[2], 100);
    EXPECT_EQ(r.stream[3] + 256 * r.stream[4], 68);
    // A side below 2^L has nothing left to code: refused, not coded as an empty picture.
    const auto tiny = Scene(16, 16);
    EXPECT_THROW(EzwEncodeBytes(*tiny, nullptr, 1.0f, 5), zn::RunAborted);
}

TEST(EzwThreshold, DigitsLeastSignificantFirst)
{
    EXPECT_EQ(EzwThresholdSymbols(600.6 / 2 + 1), (std::vector<int>{3, 2, 1, 4}));
    EXPECT_DOUBLE_EQ(EzwThresholdFromSymbols({3, 2, 1, 4}), 301.0);
    EXPECT_EQ(EzwThresholdSymbols(1.0), (std::vector<int>{1, 2}));
    EXPECT_EQ(EzwThresholdSymbols(9.99), (std::vector<int>{1, 10}));
    EXPECT_EQ(EzwThresholdSymbols(10.0), (std::vector<int>{2, 1, 2}));
}

TEST(EzwEncode, UniformPictureRunsEightPasses)
{
    const auto img = MakeImage(64, 64, [](int, int) { return 77.0f; });
    ZnImage display;
    const EzwEncodeResult r = EzwEncodeBytes(*img, &display, 3.0f, 3);
    EXPECT_DOUBLE_EQ(r.firstThreshold, 1.0);
    EXPECT_EQ(r.passes, 8);
    EXPECT_DOUBLE_EQ(r.finalThreshold, 0.0078125);
    EXPECT_NE(r.text.find("    Pass  8 (final)            : 0.01\r\n"), std::string::npos) << r.text;
    ZnImage out;
    EzwDecodeBytes(r.stream, &out, nullptr, 3.0f);
    for (int k = 0; k < 64 * 64; ++k)
        ASSERT_EQ(out.Data()[k], 77.0f);
}

TEST(EzwEncode, TextLines)
{
    const auto img = Scene(128, 128);
    const EzwEncodeResult r = EzwEncodeBytes(*img, nullptr, 0.5f, 3);
    EXPECT_EQ(r.text.rfind(" #Resolution levels \t     :  4 \r\n Target bit rate\t     : 0.50 (bpp)\r\n"
                           " Target file size\t     : 8192 (bits)\r\n Quantizer coarseness\r\n    Pass 1  ",
                           0),
              0u)
        << r.text;
    ZnImage out;
    const EzwDecodeResult d = EzwDecodeBytes(r.stream, &out, nullptr, 0.25f);
    EXPECT_EQ(d.text, " Decoded bit rate\t     : 0.25 (bpp)\r\n Decoded #bits\t     : 4096 (bits)\r\n");
}

TEST(EzwEncode, FinestBandsNeverGiveZerotreeRoots)
{
    const auto img = Scene(128, 96);
    std::vector<EzwDecision> dec;
    EzwEncodeBytes(*img, nullptr, 3.0f, 4, &dec);
    int level0 = 0, roots = 0;
    for (const EzwDecision &d : dec) {
        if (d.kind == EzwDecision::Detail && d.level == 0) {
            ++level0;
            EXPECT_NE(d.symbol, 4);
        }
        if (d.kind != EzwDecision::Refinement && d.symbol == 4)
            ++roots;
        if (d.kind == EzwDecision::Refinement)
            EXPECT_TRUE(d.symbol == 1 || d.symbol == 2);
        else
            EXPECT_TRUE(d.symbol >= 1 && d.symbol <= 4);
    }
    EXPECT_GT(level0, 0);
    EXPECT_GT(roots, 0);
}

TEST(EzwEncode, RateIsKept)
{
    const auto img = Scene(256, 256);
    for (float rate : {0.05f, 0.25f, 1.0f, 3.0f}) {
        const EzwEncodeResult r = EzwEncodeBytes(*img, nullptr, rate, 4);
        const double bits = 8.0 * (r.stream.size() - kEzwHeaderBytes);
        const double budget = 256.0 * 256 * rate;
        EXPECT_GE(bits, budget - 8) << rate;
        // The end symbol and the final bits add a few bytes at most.
        EXPECT_LE(bits, budget + 64) << rate;
    }
}

struct Embedded : ::testing::TestWithParam<int>
{
};

TEST_P(Embedded, DecodingIsAPrefixOfEncoding)
{
    const int levels = GetParam();
    const auto img = Scene(256, 128);
    std::vector<EzwDecision> encDecisions;
    const EzwEncodeResult r = EzwEncodeBytes(*img, nullptr, 1.5f, levels, &encDecisions);
    double lastPsnr = 0;
    for (float rate : {0.05f, 0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.75f, 1.0f, 1.5f}) {
        std::vector<EzwDecision> decDecisions;
        ZnImage out, display;
        const EzwDecodeResult d = EzwDecodeBytes(r.stream, &out, &display, rate, &decDecisions);
        ASSERT_LE(decDecisions.size(), encDecisions.size());
        ASSERT_TRUE(std::equal(decDecisions.begin(), decDecisions.end(), encDecisions.begin()))
            << "rate " << rate;
        // Quality grows with the rate.
        const double psnr = Psnr(*img, out);
        EXPECT_GE(psnr, lastPsnr) << "rate " << rate;
        lastPsnr = psnr;
        // The file cut after the bytes the decoder took in decodes to the same picture.
        const std::vector<uint8_t> cut(r.stream.begin(), r.stream.begin() + d.bytesUsed);
        ZnImage outCut;
        EzwDecodeBytes(cut, &outCut, nullptr, rate);
        ASSERT_EQ(std::vector<float>(out.Data(), out.Data() + 256 * 128),
                  std::vector<float>(outCut.Data(), outCut.Data() + 256 * 128))
            << "rate " << rate;
    }
    EXPECT_GT(lastPsnr, 30.0);
}

INSTANTIATE_TEST_SUITE_P(Levels, Embedded, ::testing::Values(1, 3, 5, 7));

// The decoder knows only the integer part of the first threshold, so its values are the encoder's
// scaled by floor(T0) / T0; the list sort must still order both lists alike, ties included. Real
// photographs at every level count give long lists with many equal values.
TEST(EzwEmbedded, PhotographsStayInStepAtEveryLevelCount)
{
    for (const char *name : {"camera", "moon", "coins"}) {
        ZN_REQUIRE_PHOTO(name);
        const auto img = Photo(name);
        ASSERT_TRUE(img) << name;
        for (int levels : {1, 3, 6}) {
            if (EzwCroppedSide(std::min(img->Cols(), img->Rows()), levels) == 0)
                continue;
            std::vector<EzwDecision> enc;
            const EzwEncodeResult r = EzwEncodeBytes(*img, nullptr, 2.0f, levels, &enc);
            for (float rate : {0.1f, 0.75f, 2.0f}) {
                std::vector<EzwDecision> dec;
                ZnImage out;
                EzwDecodeBytes(r.stream, &out, nullptr, rate, &dec);
                ASSERT_LE(dec.size(), enc.size());
                const auto diverged = std::mismatch(dec.begin(), dec.end(), enc.begin()).first - dec.begin();
                ASSERT_EQ(diverged, static_cast<long>(dec.size()))
                    << name << " L " << levels << " rate " << rate << ": decoder left the encoder's path";
                if (rate == 2.0f) { // at the encoder's rate nearly every symbol is decoded
                    EXPECT_GT(dec.size(), enc.size() * 99 / 100) << name << " L " << levels;
                }
            }
        }
    }
}

TEST(EzwWorkspace, SharedStorageChangesNothing)
{
    // One workspace through runs of different sizes and level counts, encoder and decoder in turn:
    // every stream and picture as without it.
    EzwWorkspace work;
    const std::pair<std::unique_ptr<ZnImage>, int> runs[] = {
        {Scene(256, 128), 4}, {Scene(64, 64), 2}, {Scene(256, 256), 6}, {Scene(100, 70), 1}};
    for (const auto &[img, levels] : runs) {
        const EzwEncodeResult plain = EzwEncodeBytes(*img, nullptr, 1.0f, levels);
        const EzwEncodeResult shared = EzwEncodeBytes(*img, nullptr, 1.0f, levels, nullptr, &work);
        ASSERT_EQ(plain.stream, shared.stream) << levels;
        ZnImage a, b, da, db;
        EzwDecodeBytes(plain.stream, &a, &da, 0.5f);
        EzwDecodeBytes(plain.stream, &b, &db, 0.5f, nullptr, 8192L * 8192L, &work);
        const size_t n = static_cast<size_t>(a.Rows()) * a.Cols();
        EXPECT_EQ(std::vector<float>(a.Data(), a.Data() + n), std::vector<float>(b.Data(), b.Data() + n));
        EXPECT_EQ(std::vector<float>(da.Data(), da.Data() + n), std::vector<float>(db.Data(), db.Data() + n));
    }
}

TEST(EzwDecode, TwiceGivesTheSamePicture)
{
    const auto img = Scene(64, 64);
    const EzwEncodeResult r = EzwEncodeBytes(*img, nullptr, 1.0f, 3);
    ZnImage a, b;
    EzwDecodeBytes(r.stream, &a, nullptr, 0.5f);
    EzwDecodeBytes(r.stream, &b, nullptr, 0.5f);
    EXPECT_EQ(std::vector<float>(a.Data(), a.Data() + 4096), std::vector<float>(b.Data(), b.Data() + 4096));
}

TEST(EzwDecode, HighRateIsNearlyLossless)
{
    const auto img = Scene(128, 128);
    const EzwEncodeResult r = EzwEncodeBytes(*img, nullptr, 8.0f, 4);
    ZnImage out;
    EzwDecodeBytes(r.stream, &out, nullptr, 8.0f);
    EXPECT_GT(Psnr(*img, out), 45.0);
}

TEST(EzwDecode, DamagedHeadersAreRefused)
{
    const auto img = Scene(64, 64);
    const std::vector<uint8_t> good = EzwEncodeBytes(*img, nullptr, 0.5f, 3).stream;
    const std::vector<std::vector<uint8_t>> bad = {
        {},
        {3, 64, 0, 64},
        {0, 64, 0, 64, 0, 100},
        {9, 0, 2, 0, 2, 100},
        {3, 0, 0, 64, 0, 100},
        {3, 68, 0, 64, 0, 100},
        {3, 0, 0xF0, 0, 0xF0, 100},
    };
    for (const auto &s : bad) {
        ZnImage out;
        EXPECT_THROW(EzwDecodeBytes(s, &out, nullptr, 1.0f), zn::RunAborted);
    }
    // A header alone decodes (the code reads as zeros) to some picture of the right size.
    ZnImage out;
    EzwDecodeBytes(std::vector<uint8_t>(good.begin(), good.begin() + 6), &out, nullptr, 0.5f);
    EXPECT_EQ(out.Rows(), 64);
}

TEST(EzwDecode, GarbageCodeEndsAtItsBudget)
{
    uint32_t s = 9;
    for (int trial = 0; trial < 20; ++trial) {
        std::vector<uint8_t> stream = {static_cast<uint8_t>(1 + trial % 6), 64, 0, 64, 0, 128};
        const int n = static_cast<int>(Lcg(&s) % 3000);
        for (int i = 0; i < n; ++i)
            stream.push_back(static_cast<uint8_t>(Lcg(&s)));
        ZnImage out, display;
        EzwDecodeBytes(stream, &out, &display, 3.0f);
        EXPECT_EQ(out.Rows(), 64);
        for (int k = 0; k < 64 * 64; ++k)
            ASSERT_TRUE(out.Data()[k] >= 0.0f && out.Data()[k] <= 255.0f);
    }
}

TEST(EzwStreamFile, WrittenAndReadFromTheStart)
{
    const auto img = Scene(64, 64);
    zntest::ScratchDir dir;
    std::FILE *f = std::fopen(dir.File("ezw").c_str(), "w+b");
    ASSERT_TRUE(f);
    const std::string enc = EzwEncodeImage(f, *img, nullptr, 1.0f, 2);
    EXPECT_EQ(std::ftell(f), 0);
    ZnImage a, b;
    EzwDecodeImage(f, &a, nullptr, 0.5f);
    EXPECT_EQ(std::ftell(f), 0);
    EzwDecodeImage(f, &b, nullptr, 0.5f);
    std::fclose(f);
    EXPECT_EQ(std::vector<float>(a.Data(), a.Data() + 4096), std::vector<float>(b.Data(), b.Data() + 4096));
    EXPECT_NE(enc.find("Target bit rate"), std::string::npos);
}

TEST(EzwPhoto, CameraCodesToUsefulQuality)
{
    ZN_REQUIRE_PHOTO("camera");
    const auto img = Photo("camera");
    ASSERT_TRUE(img);
    const EzwEncodeResult r = EzwEncodeBytes(*img, nullptr, 1.0f, 5);
    ZnImage out;
    EzwDecodeBytes(r.stream, &out, nullptr, 1.0f);
    EXPECT_GT(Psnr(*img, out), 30.0);
}

} // namespace

} // namespace ezw_coder_test
