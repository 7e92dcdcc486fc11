// The SPIHT engine: levels, budget, header, embedded decoding, pictures without detail, refusal of
// oversized pictures and robustness against damaged streams.
#include "modules/spiht/spiht_coder.h"
#include "platform/errors.h"
#include "platform/messages.h"
#include "wavelet/wavelet_test_util.h"

#include <gtest/gtest.h>

namespace spiht_coder_test { // one namespace per test file: a folder compiles as one source

using namespace wavelettest;

namespace {

TEST(SpihtEncode, FiveTwelveSquareAtOneBitPerPixel)
{
    EXPECT_EQ(SpihtByteBudget(512, 512, 1.0f), 32767);
    const auto img = Scene(512, 512);
    ZnImage display;
    const SpihtCoded r = SpihtEncode(*img, &display, 1.0f, 0);
    EXPECT_EQ(r.levels, 7);
    EXPECT_GE(r.stream.size() * 8, 262144u);
    EXPECT_LE(r.stream.size(), 32767u + 8);
    EXPECT_EQ(r.stream[0], 'o');
    EXPECT_EQ(r.text,
              zn::Format("  Target bit rate\t\t:%6.2f (bpp)\r\n  Target file size\t\t:%6ld bits\r\n\r\n",
                         r.stream.size() * 8.0 / (512 * 512), static_cast<long>(r.stream.size() * 8)));
    EXPECT_EQ(display.Rows(), 512);
    EXPECT_EQ(display.Cols(), 512);
}

TEST(SpihtEncode, LevelsOfOtherSizes)
{
    struct Case
    {
        int w, h, L;
    };
    for (const Case c : {Case{720, 576, 3}, Case{100, 80, 2}, Case{255, 256, 6}, Case{64, 64, 4}}) {
        const auto img = Scene(c.w, c.h);
        EXPECT_EQ(SpihtEncode(*img, nullptr, 0.5f, 0).levels, c.L) << c.w << "x" << c.h;
    }
}

TEST(SpihtEncode, TooLargeIsRefused)
{
    zn::MessageRecorder messages;
    const auto img = MakeImage(9000, 1, [](int, int) { return 0.0f; });
    const SpihtCoded r = SpihtEncode(*img, nullptr, 1.0f, 0);
    EXPECT_EQ(r.levels, 0);
    EXPECT_TRUE(r.stream.empty());
    EXPECT_EQ(messages.Texts(), (std::vector<std::string>{"Image is too large!"}));
}

TEST(SpihtRoundTrip, PicturesWithoutDetail)
{
    struct Case
    {
        const char *name;
        float value;
        int smoothing;
    };
    for (const Case c : {Case{"flat", 128.0f, 0}, Case{"black", 0.0f, 0}, Case{"flat smoothed", 200.0f, 7},
                         Case{"black smoothed", 0.0f, 7}}) {
        const auto img = MakeImage(128, 96, [&](int, int) { return c.value; });
        const SpihtCoded r = SpihtEncode(*img, nullptr, 3.0f, c.smoothing);
        ZnImage out, display;
        SpihtDecode(r.stream, &out, &display, 3.0f);
        ASSERT_EQ(out.Rows(), 96);
        EXPECT_GT(Psnr(*img, out), 50.0) << c.name;
    }
}

TEST(SpihtRoundTrip, SmoothingSevenAtThreeBits)
{
    const auto img = Scene(256, 200);
    const SpihtCoded r = SpihtEncode(*img, nullptr, 3.0f, 7);
    ZnImage out;
    SpihtDecode(r.stream, &out, nullptr, 3.0f);
    EXPECT_GT(Psnr(*img, out), 35.0);
}

TEST(SpihtRoundTrip, TinyPictures)
{
    for (auto [w, h] : {std::pair{1, 1}, std::pair{8, 8}, std::pair{3, 17}, std::pair{40, 40}}) {
        const auto img = Scene(w, h);
        const SpihtCoded r = SpihtEncode(*img, nullptr, 8.0f, 2);
        ZnImage out;
        SpihtDecode(r.stream, &out, nullptr, 8.0f);
        EXPECT_EQ(out.Rows(), h);
        EXPECT_EQ(out.Cols(), w);
    }
}

TEST(SpihtRoundTrip, BudgetBelowTheHeaderStopsAfterTheFirstGroup)
{
    // 8 x 8 at 0.05 bpp: a budget of -1 bytes.
    EXPECT_EQ(SpihtByteBudget(8, 8, 0.05f), -1);
    const auto img = Scene(8, 8);
    std::vector<SpihtDecision> enc, dec;
    const SpihtCoded r = SpihtEncode(*img, nullptr, 0.05f, 0, &enc);
    ZnImage out;
    SpihtDecode(r.stream, &out, nullptr, 0.05f, &dec);
    ASSERT_FALSE(enc.empty());
    EXPECT_EQ(enc.front().kind, SpihtDecision::Pixels);
    // The pixel symbol of the first root group and the signs of its new pixels, nothing after.
    ASSERT_LE(dec.size(), 2u);
    EXPECT_EQ(dec.front(), enc.front());
    for (const std::vector<SpihtDecision> *side : {&enc, &dec})
        for (size_t k = 1; k < side->size(); ++k)
            EXPECT_EQ((*side)[k].kind, SpihtDecision::Signs);
}

TEST(SpihtRoundTrip, HeaderIsRebuilt)
{
    const auto img = Scene(300, 77);
    const SpihtCoded r = SpihtEncode(*img, nullptr, 0.3f, 5);
    ZnImage out, display;
    const SpihtDecoded d = SpihtDecode(r.stream, &out, &display, 0.3f);
    EXPECT_EQ(out.Cols(), 300);
    EXPECT_EQ(out.Rows(), 77);
    EXPECT_EQ(display.Cols(), 300);
    EXPECT_EQ(d.levels, r.levels);
}

TEST(SpihtEmbedded, DecodingIsAPrefixOfEncoding)
{
    const auto img = Scene(256, 256);
    for (int smoothing : {0, 4}) {
        std::vector<SpihtDecision> encDecisions;
        const SpihtCoded r = SpihtEncode(*img, nullptr, 3.0f, smoothing, &encDecisions);
        double lastPsnr = 0;
        for (float rate : {0.05f, 0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.75f, 1.0f, 1.5f, 3.0f}) {
            std::vector<SpihtDecision> decDecisions;
            ZnImage out;
            const SpihtDecoded d = SpihtDecode(r.stream, &out, nullptr, rate, &decDecisions);
            ASSERT_LE(decDecisions.size(), encDecisions.size());
            ASSERT_TRUE(std::equal(decDecisions.begin(), decDecisions.end(), encDecisions.begin())) << rate;
            const double psnr = Psnr(*img, out);
            EXPECT_GE(psnr, lastPsnr) << "rate " << rate << " smoothing " << smoothing;
            lastPsnr = psnr;
            const std::vector<uint8_t> cut(r.stream.begin(), r.stream.begin() + d.bytesUsed);
            ZnImage outCut;
            SpihtDecode(cut, &outCut, nullptr, rate);
            ASSERT_EQ(std::vector<float>(out.Data(), out.Data() + 256 * 256),
                      std::vector<float>(outCut.Data(), outCut.Data() + 256 * 256))
                << "rate " << rate;
        }
        EXPECT_GT(lastPsnr, 38.0);
    }
}

TEST(SpihtEmbedded, AtTheEncodingRateTheDecoderStopsALittleEarlier)
{
    const auto img = Scene(128, 128);
    std::vector<SpihtDecision> enc, dec;
    const SpihtCoded r = SpihtEncode(*img, nullptr, 0.5f, 0, &enc);
    SpihtDecode(r.stream, nullptr, nullptr, 0.5f, &dec);
    EXPECT_LT(dec.size(), enc.size());
    EXPECT_GT(dec.size(), enc.size() * 9 / 10);
}

TEST(SpihtDecode, DamagedStreams)
{
    const std::vector<std::vector<uint8_t>> refused = {
        {}, {'x', 1, 2, 3}, {'o'}, {'o', 0xFF, 0xFF, 0xFF, 0xFF}};
    for (const auto &s : refused) {
        ZnImage out;
        EXPECT_THROW(SpihtDecode(s, &out, nullptr, 1.0f), zn::RunAborted);
    }
    const auto img = Scene(64, 64);
    const SpihtCoded r = SpihtEncode(*img, nullptr, 1.0f, 0);
    uint32_t seed = 5;
    for (int trial = 0; trial < 30; ++trial) {
        std::vector<uint8_t> s = r.stream;
        // Keep the header (its first bytes), damage the rest.
        for (size_t k = 8; k < s.size(); ++k)
            if (Lcg(&seed) % 7 == 0)
                s[k] = static_cast<uint8_t>(Lcg(&seed));
        s.resize(8 + Lcg(&seed) % (s.size() - 8));
        ZnImage out, display;
        SpihtDecode(s, &out, &display, 1.0f);
        EXPECT_EQ(out.Rows(), 64);
    }
}

TEST(SpihtDecode, SymbolLimitEndsTheDecodingAsItsBudget)
{
    const auto img = Scene(64, 64);
    const SpihtCoded r = SpihtEncode(*img, nullptr, 3.0f, 0);
    std::vector<SpihtDecision> full;
    ZnImage reference;
    SpihtDecode(r.stream, &reference, nullptr, 3.0f, &full);
    // The same code behind an 'S' start with a limit of 2000 symbols: the decoder stops there, still
    // on the encoder's path, and the picture comes out.
    std::vector<uint8_t> limited = {'S', 0, 0, 0x07, 0xD0};
    limited.insert(limited.end(), r.stream.begin() + 1, r.stream.end());
    std::vector<SpihtDecision> cut;
    ZnImage out;
    SpihtDecode(limited, &out, nullptr, 3.0f, &cut);
    EXPECT_EQ(out.Rows(), 64);
    ASSERT_LT(cut.size(), full.size());
    EXPECT_LE(cut.size(), 2000u);
    EXPECT_TRUE(std::equal(cut.begin(), cut.end(), full.begin()));
    EXPECT_LT(Psnr(*img, out), Psnr(*img, reference));
}

TEST(SpihtPhoto, CameraCodesToUsefulQuality)
{
    ZN_REQUIRE_PHOTO("camera");
    const auto img = Photo("camera");
    ASSERT_TRUE(img);
    const SpihtCoded r = SpihtEncode(*img, nullptr, 1.0f, 0);
    ZnImage out;
    SpihtDecode(r.stream, &out, nullptr, 1.0f);
    EXPECT_GT(Psnr(*img, out), 33.0);
}

} // namespace

} // namespace spiht_coder_test
