// The SPIHT wavelet image and entropy stage: padding, level counts, perfect reconstruction at every
// smoothing, DC removal, band display, adaptive models and the stream coder.
#include "modules/spiht/spiht_arith.h"
#include "modules/spiht/spiht_image.h"
#include "platform/errors.h"
#include "platform/log.h"
#include "platform/messages.h"
#include "wavelet/wavelet_test_util.h"

#include <algorithm>
#include <cstdio>
#include <gtest/gtest.h>

namespace spiht_transform_test { // one namespace per test file: a folder compiles as one source

using namespace wavelettest;

namespace {

TEST(SpihtImage, PaddingAndLevelCounts)
{
    struct Case
    {
        int w, h, pw, ph, K, L;
    };
    for (const Case c :
         {Case{100, 80, 104, 80, 3, 2}, Case{300, 300, 304, 304, 4, 3}, Case{255, 255, 256, 256, 5, 6},
          Case{720, 576, 720, 576, 4, 3}, Case{512, 512, 512, 512, 6, 7}, Case{40, 40, 40, 40, 2, 2},
          Case{1, 1, 8, 8, 0, 1}}) {
        EXPECT_EQ(SpihtPaddedSide(c.w), c.pw) << c.w;
        EXPECT_EQ(SpihtPaddedSide(c.h), c.ph) << c.h;
        EXPECT_EQ(transform_levels(c.pw, c.ph), c.K) << c.w << "x" << c.h;
        EXPECT_EQ(std::min(tree_levels(c.pw), tree_levels(c.ph)), c.L) << c.w << "x" << c.h;
    }
    EXPECT_FLOAT_EQ(SpihtSmoothingFactor(7, 0), 3.8f);
    EXPECT_NEAR(SpihtSmoothingFactor(7, 1), 2.8667f, 1e-4);
    EXPECT_NEAR(SpihtSmoothingFactor(7, 2), 1.9333f, 1e-4);
    EXPECT_FLOAT_EQ(SpihtSmoothingFactor(0, 3), 1.0f);
}

TEST(SpihtImage, PaddingSmoothsTheLastRowAndColumn)
{
    const auto pic =
        MakeImage(100, 75, [](int x, int y) { return static_cast<float>((x * 3 + y * 5) % 256); });
    Image_BW img;
    img.read_image(*pic);
    ASSERT_EQ(img.PaddedWidth(), 104);
    ASSERT_EQ(img.PaddedHeight(), 80);
    for (int x = 1; x < 99; ++x)
        EXPECT_FLOAT_EQ(img.at(x, 75), (img.at(x + 1, 74) + img.at(x - 1, 74) + img.at(x, 74)) * 0.33333334f);
    EXPECT_FLOAT_EQ(img.at(0, 75), (img.at(1, 74) + img.at(0, 74)) * 0.5f);
    for (int y = 1; y < 79; ++y)
        EXPECT_FLOAT_EQ(img.at(100, y),
                        (img.at(99, y + 1) + img.at(99, y - 1) + img.at(99, y)) * 0.33333334f);
    // The picture part comes back unchanged.
    ZnImage back;
    img.write_image(&back);
    EXPECT_EQ(std::vector<float>(back.Data(), back.Data() + 100 * 75),
              std::vector<float>(pic->Data(), pic->Data() + 100 * 75));
}

TEST(SpihtImage, OneSampleSidesArePaddedByRepetition)
{
    const auto pic = MakeImage(1, 3, [](int, int y) { return 10.0f * (y + 1); });
    Image_BW img;
    img.read_image(*pic);
    EXPECT_FLOAT_EQ(img.at(0, 7), 30.0f);
    EXPECT_FLOAT_EQ(img.at(1, 0), 15.0f); // columns still average the rows around them
}

struct Smoothing : ::testing::TestWithParam<int>
{
};

TEST_P(Smoothing, TransformThenInverseReconstructs)
{
    const int smoothing = GetParam();
    for (auto [w, h] : {std::pair{100, 80}, std::pair{256, 256}, std::pair{300, 200}, std::pair{720, 576}}) {
        uint32_t s = 3u + w;
        const auto pic = w == 300
                             ? MakeImage(w, h, [&](int, int) { return static_cast<float>(Lcg(&s) % 256); })
                             : Scene(w, h);
        Image_BW img;
        img.read_image(*pic);
        Image_BW padded = img;
        img.transform(smoothing);
        EXPECT_EQ(img.Levels(), transform_levels(img.PaddedWidth(), img.PaddedHeight()));
        img.inverse_transform();
        float worst = 0;
        for (int x = 0; x < img.PaddedWidth(); ++x)
            for (int y = 0; y < img.PaddedHeight(); ++y)
                worst = std::max(worst, std::abs(img.at(x, y) - padded.at(x, y)));
        // The taps carry six decimals, so the pair is perfect only to a few parts in a million of
        // the signal (a gain error, the same in double precision): on samples up to 255 about a
        // thousandth of a grey level, 0.0016 at worst on these pictures.
        EXPECT_LT(worst, 0.002f) << w << "x" << h << " smoothing " << smoothing;
    }
}

INSTANTIATE_TEST_SUITE_P(All, Smoothing, ::testing::Range(0, 8));

TEST(SpihtImage, ConstantPictureLeavesOnlyResidues)
{
    const auto pic = MakeImage(64, 64, [](int, int) { return 100.0f; });
    Image_BW img;
    img.read_image(*pic);
    img.transform(0);
    ASSERT_EQ(img.Levels(), 3);
    // 2^K v = 800 in the 8x8 low-pass band, all of it taken out as the DC mean.
    EXPECT_EQ(img.DcExponent(), 0);
    EXPECT_NEAR(img.DcMean(), 800, 1);
    for (int x = 0; x < 64; ++x)
        for (int y = 0; y < 64; ++y)
            EXPECT_NEAR(img.at(x, y), 0.0f, 0.5f);
}

TEST(SpihtImage, LargeMeanTakesAnExponent)
{
    const auto pic = MakeImage(512, 512, [](int, int) { return 250.0f; });
    Image_BW img;
    img.read_image(*pic);
    img.transform(3);
    // 64 x 250 x the smoothing factors of six levels in both directions, brought below 1000 by
    // quarters.
    double m = 250.0 * 64;
    for (int i = 0; i < 6; ++i)
        m *= SpihtSmoothingFactor(3, i) * SpihtSmoothingFactor(3, i);
    int e = 0;
    while (m > 1000) {
        m *= 0.25;
        ++e;
    }
    EXPECT_EQ(img.DcExponent(), e);
    EXPECT_NEAR(img.DcMean(), m, 1.0);
}

TEST(SpihtBandDisplay, BordersOfFourLevels)
{
    auto pic = MakeImage(64, 64, [](int x, int y) { return static_cast<float>(x - y); });
    band_display(pic.get(), 4);
    auto at = [&](int r, int c) { return pic->Data()[r * 64 + c]; };
    for (int k = 0; k < 64; ++k) {
        EXPECT_EQ(at(k, 32), 0.0f);
        EXPECT_EQ(at(32, k), 0.0f);
    }
    for (int k = 0; k < 32; ++k) {
        EXPECT_EQ(at(k, 16), 0.0f);
        EXPECT_EQ(at(16, k), 0.0f);
    }
    for (int k = 0; k < 16; ++k) {
        EXPECT_EQ(at(k, 8), 0.0f);
        EXPECT_EQ(at(8, k), 0.0f);
    }
    EXPECT_NE(at(20, 4), 0.0f);
    EXPECT_NE(at(4, 20), 0.0f);
    // Each band fills -127..127 around 128: the lower-right band's extreme x - y = 31 (row 32,
    // column 63) becomes 255.
    EXPECT_FLOAT_EQ(at(33, 63), 128.0f + 127.0f * 30.0f / 31.0f);
}

TEST(SpihtBandDisplay, OneLevelScalesEveryQuarter)
{
    auto pic = MakeImage(8, 8, [](int x, int y) { return (x < 4 ? 1.0f : 3.0f) * (y < 4 ? 1.0f : 5.0f); });
    band_display(pic.get(), 1);
    for (int k = 0; k < 64; ++k)
        EXPECT_FLOAT_EQ(pic->Data()[k], 255.0f);
}

TEST(SpihtModel, TwoSymbolsHalveAfterSixtyTwo)
{
    Adaptive_Model m;
    m.set_symbols(2);
    EXPECT_EQ(m.MaxFrequency(), 64);
    EXPECT_EQ(m.Total(), 2);
    for (int i = 0; i < 62; ++i)
        m.update(1);
    EXPECT_EQ(m.Total(), 64);
    m.update(1);
    // (63 + 1) / 2 + (1 + 1) / 2 = 33, then one added.
    EXPECT_EQ(m.Total(), 34);
    Adaptive_Model big;
    big.set_symbols(1024);
    EXPECT_EQ(big.MaxFrequency(), 16383);
}

TEST(SpihtModel, IndicesFollowTheCounts)
{
    Adaptive_Model m;
    m.set_symbols(4);
    m.update(m.m_symbolToIndex[3]);
    m.update(m.m_symbolToIndex[3]);
    m.update(m.m_symbolToIndex[2]);
    EXPECT_EQ(m.m_symbolToIndex[3], 1); // the most frequent symbol moved to index 1
    EXPECT_EQ(m.m_symbolToIndex[2], 2);
    for (int i = 1; i < 4; ++i)
        EXPECT_GE(m.m_counts[i], m.m_counts[i + 1]);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(m.m_cum[i] - m.m_cum[i + 1], m.m_counts[i + 1]);
}

TEST(SpihtArith, SmallestStream)
{
    CSpiht_Encoder enc;
    enc.open_temporary(nullptr);
    enc.stop_and_rewind();
    EXPECT_EQ(enc.Bytes(), (std::vector<uint8_t>{'o', 0x02}));
    EXPECT_EQ(enc.byte_count(), 2);
}

TEST(SpihtArith, RandomSymbolsAndBitsRoundTrip)
{
    for (uint32_t seed : {11u, 12u}) {
        uint32_t s = seed;
        struct Item
        {
            int kind, n, value;
        };
        std::vector<Item> items;
        for (int i = 0; i < 30000; ++i) {
            const int kind = static_cast<int>(Lcg(&s) % 3);
            if (kind == 0) {
                const int n = 1 + static_cast<int>(Lcg(&s) % 10);
                items.push_back({0, n, static_cast<int>(Lcg(&s) % (1u << n))});
            } else {
                const int model = kind; // 1: 2 symbols, skewed; 2: 16 symbols
                const int v =
                    model == 1 ? (Lcg(&s) % 10 == 0) : static_cast<int>(Lcg(&s) % 16 % (1 + Lcg(&s) % 16));
                items.push_back({kind, 0, v});
            }
        }
        Adaptive_Model m1, m2;
        m1.set_symbols(2);
        m2.set_symbols(16);
        CSpiht_Encoder enc;
        enc.open_temporary(nullptr);
        for (const Item &it : items) {
            if (it.kind == 0)
                enc.encode_bits(it.n, it.value);
            else
                enc.encode_symbol(it.value, it.kind == 1 ? m1 : m2);
        }
        enc.stop_and_rewind();
        EXPECT_EQ(enc.byte_count(), static_cast<long>(enc.Bytes().size()));
        m1.set_symbols(2); // set to the same count: restarts
        m2.set_symbols(16);
        EXPECT_EQ(m1.Total(), 2);
        CSpiht_Decoder dec;
        dec.start(enc.Bytes());
        for (size_t i = 0; i < items.size(); ++i) {
            const Item &it = items[i];
            const int got = it.kind == 0 ? dec.decode_bits(it.n) : dec.decode_symbol(it.kind == 1 ? m1 : m2);
            ASSERT_EQ(got, it.value) << "item " << i;
        }
        // The decoder reads at most the two look-ahead bytes past the stream.
        EXPECT_LE(dec.byte_count(), enc.byte_count() + 2);
    }
}

TEST(SpihtArith, OneBitSplitsTheIntervalInHalves)
{
    // Coding a 1 keeps the upper half: the first code bit is 1; a 0 keeps the lower half.
    for (int bit : {0, 1}) {
        CSpiht_Encoder enc;
        enc.open_temporary(nullptr);
        enc.encode_bits(1, bit);
        enc.stop_and_rewind();
        EXPECT_EQ(enc.Bytes()[1] & 1, bit);
    }
}

TEST(SpihtArith, PastTheEndReadsOnesAndCounts)
{
    std::vector<std::string> logged;
    auto previous = zn::SetLogSink([&](zn::LogLevel, const std::string &t) { logged.push_back(t); });
    const std::vector<uint8_t> stream = {'o'};
    CSpiht_Decoder dec;
    dec.start(stream);
    EXPECT_EQ(dec.byte_count(), 3); // 'o' and two fetches past the end
    EXPECT_EQ(dec.decode_bits(8), 255);
    for (int i = 0; i < 100; ++i)
        dec.decode_bits(8);
    zn::SetLogSink(previous);
    EXPECT_GE(dec.byte_count(), 100);
    // Every fetch past the end from the fifteenth on says so.
    const std::string line =
        "\r\r\n\r\r\n\a -> Error: < Decoder > end of file reached\r\n Execution terminated!\r\n";
    EXPECT_EQ(std::count(logged.begin(), logged.end(), line), dec.byte_count() - 1 - 14);
}

TEST(SpihtArith, StreamFileHoldsTheStreamAndStaysOpen)
{
    zntest::ScratchDir dir;
    const std::string userDir = dir.Path();
    CSpiht_Encoder enc;
    enc.open_temporary(&userDir);
    for (int i = 0; i < 5000; ++i)
        enc.encode_bits(7, i * 13);
    enc.stop_and_rewind();
    const zn::TempFile file = enc.TakeFile();
    ASSERT_TRUE(file.file);
    EXPECT_EQ(file.path.rfind(userDir + "sph", 0), 0u) << file.path;
    EXPECT_EQ(std::ftell(file.file), 0);
    EXPECT_EQ(zntest::ReadFileBytes(file.path), enc.Bytes());
    // Two decodings from the same file: each rewinds it when done.
    for (int pass = 0; pass < 2; ++pass) {
        CSpiht_Decoder dec;
        dec.start(file.file);
        for (int i = 0; i < 5000; ++i)
            ASSERT_EQ(dec.decode_bits(7), (i * 13) & 127);
        dec.rewind_input();
        EXPECT_EQ(std::ftell(file.file), 0);
    }
    std::fclose(file.file);
    std::remove(file.path.c_str());
}

TEST(SpihtArith, UnwritableFolderEndsTheRunWithItsMessage)
{
    zntest::ScratchDir dir;
    const std::string missing = dir.Path() + "missing/";
    zn::MessageRecorder messages;
    CSpiht_Encoder enc;
    EXPECT_THROW(enc.open_temporary(&missing), zn::RunAborted);
    EXPECT_EQ(messages.Texts(),
              (std::vector<std::string>{"(CSpiht_Encoder::reset) Error creating temporary output "
                                        "file.\nDo you have correct write permission?"}));
}

TEST(SpihtArith, SymbolLimitStopsTheDecoder)
{
    std::vector<uint8_t> stream = {'S', 0, 0, 0, 5};
    for (int i = 0; i < 32; ++i)
        stream.push_back(static_cast<uint8_t>(i * 37));
    CSpiht_Decoder dec;
    dec.start(stream);
    EXPECT_FALSE(dec.invalid());
    for (int i = 0; i < 20; ++i)
        dec.decode_bits(3);
    EXPECT_TRUE(dec.exhausted());
    CSpiht_Decoder bad;
    const std::vector<uint8_t> junk = {'x', 1, 2};
    bad.start(junk);
    EXPECT_TRUE(bad.invalid());
}

} // namespace

} // namespace spiht_transform_test
