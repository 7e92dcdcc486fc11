// The whole codec on memory images: lossless round trips are exact, lossy ones stay within their
// budget, and decoding a cut stream equals decoding the stream cut to the same length.
#include "jpeg2000/support/test_codec.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace zn::j2k;
using j2ktest::CodecSettings;

namespace {
// A smooth picture with edges and some texture, 8 bits.
memory_image Picture(int height, int width, int components = 1, unsigned seed = 1)
{
    memory_image image;
    std::mt19937 rng(seed);
    for (int c = 0; c < components; ++c) {
        image.add_component(height, width);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                double v = 128 + 60 * std::sin(x * 0.07 + c) * std::cos(y * 0.05) +
                           (x > width / 2 ? 40 : -20) + int(rng() % 9) - 4;
                image.planes[size_t(c)][size_t(y) * size_t(width) + size_t(x)] =
                    std::clamp(int(std::lround(v)), 0, 255);
            }
    }
    return image;
}
} // namespace

TEST(J2kCodec, ReversibleRoundTripIsExact)
{
    zntest::ScratchDir dir;
    auto image = Picture(67, 45);
    CodecSettings s;
    s.reversible = true;
    s.levels = 3;
    auto bytes = j2ktest::EncodeImage(image, s, {"-Cblk", "16"}, 0, dir.File("a.j2k"));
    ASSERT_GT(bytes.size(), 100u);
    auto out = j2ktest::DecodeImage(dir.File("a.j2k"));
    EXPECT_EQ(out.planes, image.planes);
}

TEST(J2kCodec, LossyStaysWithinBudgetAndImproves)
{
    zntest::ScratchDir dir;
    auto image = Picture(96, 80);
    CodecSettings s;
    s.levels = 4;
    double previous = 0;
    for (int budget : {300, 900, 2500}) {
        auto bytes = j2ktest::EncodeImage(image, s, {"-Cblk", "32"}, budget, dir.File("b.j2k"));
        EXPECT_LE(int(bytes.size()), budget);
        EXPECT_GE(bytes.size(), 2u);
        EXPECT_EQ(bytes[bytes.size() - 2], 0xFF);
        EXPECT_EQ(bytes[bytes.size() - 1], 0xD9);
        auto out = j2ktest::DecodeImage(dir.File("b.j2k"));
        double psnr = j2ktest::Psnr(image, out);
        EXPECT_GT(psnr, previous) << budget;
        previous = psnr;
    }
    EXPECT_GT(previous, 33.0);
}
