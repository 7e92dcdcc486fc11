// The fast domain search against the plain one it replaces: the vectorised sum of products against
// its loop, the frame identity the search relies on, and whole encodings, which must be equal bit
// for bit on random, extreme, flat and tied pictures at settings from the smallest to the largest.
#include "fic_pixels.h"
#include "modules/fractal/fic_classify.h"
#include "modules/fractal/fic_codec.h"
#include "modules/fractal/fic_search.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace fic_search_test { // one namespace per test file: a folder compiles as one source

namespace {

TEST(FicSearch, VectorisedSumOfProductsEqualsTheLoop)
{
    std::mt19937 rng(3);
    // Range pixels are bytes and domain samples sums of four bytes: the extremes the coder meets.
    const int counts[] = {1, 3, 4, 7, 8, 15, 16, 17, 64, 100, 256, 1024, 4096, 16383, 16384, 16392, 40000};
    for (int count : counts) {
        std::vector<int16_t> pixels(static_cast<size_t>(count)), samples(static_cast<size_t>(count));
        for (int fill = 0; fill < 4; ++fill) {
            for (int i = 0; i < count; ++i) {
                switch (fill) {
                case 0: // random
                    pixels[i] = static_cast<int16_t>(rng() % 256);
                    samples[i] = static_cast<int16_t>(rng() % 1021);
                    break;
                case 1: // the largest products everywhere
                    pixels[i] = 255;
                    samples[i] = 1020;
                    break;
                case 2: // zeros against the largest
                    pixels[i] = 0;
                    samples[i] = 1020;
                    break;
                default: // alternating extremes
                    pixels[i] = static_cast<int16_t>(i % 2 ? 255 : 0);
                    samples[i] = static_cast<int16_t>(i % 3 ? 1020 : 1);
                    break;
                }
            }
            EXPECT_EQ(FicDot(pixels.data(), samples.data(), count),
                      FicDotPlain(pixels.data(), samples.data(), count))
                << "count " << count << " fill " << fill;
        }
    }
    EXPECT_EQ(
        FicDotPlain(std::vector<int16_t>(40000, 255).data(), std::vector<int16_t>(40000, 1020).data(), 40000),
        40000LL * 255 * 1020);
}

// The match orientation of a range of orientation r and a domain of orientation q turns the range's
// frame into the domain's: pi(match) = pi(q) after the inverse of pi(r), on every block side. The
// fast search pairs the range turned by r with the domain turned by q on this identity.
TEST(FicSearch, MatchOrientationComposesTheTwoFrames)
{
    for (int b : {2, 4, 8, 16})
        for (int r = 0; r < 8; ++r)
            for (int q = 0; q < 8; ++q) {
                const auto pi = [b](int o, int p) {
                    int U, V;
                    FicOrient(o, p % b, p / b, b, b, &U, &V);
                    return V * b + U;
                };
                std::vector<int> inverseR(static_cast<size_t>(b) * b);
                for (int p = 0; p < b * b; ++p)
                    inverseR[pi(r, p)] = p;
                const int o = FicMatchOrientation(r, q);
                for (int p = 0; p < b * b; ++p)
                    ASSERT_EQ(pi(o, p), pi(q, inverseR[p])) << "side " << b << " r " << r << " q " << q;
            }
}

using fictest::Pixels;

TEST(FicSearch, FastEncodingEqualsThePlainOne)
{
    std::mt19937 rng(17);
    const auto random = [&rng](int lo, int hi) { return lo + static_cast<int>(rng() % (hi - lo + 1)); };
    std::vector<int> tile(64);
    for (int &t : tile)
        t = random(0, 255);
    struct Picture
    {
        const char *name;
        int cols, rows;
        Pixels pixels;
    };
    const std::vector<Picture> pictures = {
        {"noise", 64, 64, fictest::MakePixels(64, 64, [&](int, int) { return random(0, 255); })},
        {"faint noise", 64, 64, fictest::MakePixels(64, 64, [&](int, int) { return random(120, 136); })},
        {"black and white", 64, 64,
         fictest::MakePixels(64, 64, [&](int, int) { return random(0, 1) * 255; })},
        {"flat with spots", 64, 64,
         fictest::MakePixels(64, 64,
                             [&](int x, int y) { return (x * 7 + y * 3) % 29 == 0 ? random(0, 255) : 200; })},
        {"repeated tile", 64, 64,
         fictest::MakePixels(64, 64, [&](int x, int y) { return tile[(y % 8) * 8 + x % 8]; })},
        {"flat", 32, 32, fictest::MakePixels(32, 32, [](int, int) { return 255; })},
        {"ramps and edges", 96, 64,
         fictest::MakePixels(96, 64, [](int x, int y) { return (x * 4 + y * (x < 48 ? 1 : -3)) % 256; })},
        {"smallest", 4, 4, fictest::MakePixels(4, 4, [&](int, int) { return random(0, 255); })},
        {"tall", 32, 80,
         fictest::MakePixels(32, 80,
                             [&](int x, int y) { return (x / 4 + y / 4) % 2 ? random(0, 60) : 250; })},
    };
    // Largest and smallest block, rms threshold, scale and offset bits.
    const FicEncodeParams settings[] = {{16, 4, 8, 4, 6},  {8, 2, 2, 8, 8}, {16, 2, 0, 1, 1},
                                        {32, 4, 50, 6, 3}, {4, 2, 5, 2, 7}, {2, 2, 8, 4, 6},
                                        {16, 16, 8, 8, 1}};
    for (const Picture &pic : pictures)
        for (const FicEncodeParams &p : settings) {
            if (!FicSettingsProblem(pic.rows, pic.cols, p).empty())
                continue;
            FicEncodeStats fast, plain;
            const std::vector<uint8_t> a =
                FicEncode(pic.pixels.data(), pic.rows, pic.cols, p, &fast, FicSearch::kFast);
            const std::vector<uint8_t> b =
                FicEncode(pic.pixels.data(), pic.rows, pic.cols, p, &plain, FicSearch::kPlain);
            EXPECT_EQ(a, b) << pic.name << ", blocks " << p.maxBlock << " to " << p.minBlock << ", threshold "
                            << p.threshold << ", bits " << p.sb << "+" << p.ob;
            EXPECT_EQ(fast.fitting, plain.fitting) << pic.name;
            EXPECT_EQ(fast.coded, plain.coded) << pic.name;
        }
}

// Blocks of 64 and 128, whose sums of products run to the largest the coder meets.
TEST(FicSearch, FastEncodingEqualsThePlainOneOnTheLargestBlocks)
{
    std::mt19937 rng(29);
    const Pixels pixels = fictest::MakePixels(256, 256, [&rng](int x, int y) {
        return x < 128 ? static_cast<int>(rng() % 2) * 255 : (x + y) % 7 == 0 ? 0 : 255;
    });
    for (int maxBlock : {64, 128}) {
        FicEncodeParams p;
        p.maxBlock = maxBlock;
        p.minBlock = 32;
        p.threshold = 20;
        EXPECT_EQ(FicEncode(pixels.data(), 256, 256, p, nullptr, FicSearch::kFast),
                  FicEncode(pixels.data(), 256, 256, p, nullptr, FicSearch::kPlain))
            << "largest block " << maxBlock;
    }
}

} // namespace

} // namespace fic_search_test
