// The region of interest on a real photograph, at the module's settings (4 levels, 32 x 32 blocks,
// no SOP): at the same byte budget the region must come out clearly better than without a region,
// the file stays within the budget, the max-shift method spends its budget, and a lossless stream
// with a region stays exact.
#include "jpeg2000/support/pnm_files.h"
#include "jpeg2000/support/test_codec.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>

namespace roi_quality_test { // one namespace per test file: a folder compiles as one source

using namespace zn::j2k;
using j2ktest::CodecSettings;

namespace {
// PSNR over the square of side `side` at the picture's centre: wholly inside a centred circle of
// radius 0.2 x 512.
double CentrePsnr(const memory_image &a, const memory_image &b, int side = 120)
{
    const int h = a.heights[0], w = a.widths[0], top = (h - side) / 2, left = (w - side) / 2;
    double sum = 0;
    for (int y = top; y < top + side; ++y)
        for (int x = left; x < left + side; ++x) {
            const double d = a.planes[0][size_t(y) * size_t(w) + size_t(x)] -
                             b.planes[0][size_t(y) * size_t(w) + size_t(x)];
            sum += d * d;
        }
    const double mse = sum / (double(side) * side);
    return mse < 1e-10 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

CodecSettings ModuleSettings(bool reversible = false)
{
    CodecSettings s;
    s.levels = 4;
    s.reversible = reversible;
    return s;
}

const std::vector<std::string> kModuleWords = {"-Cblk", "32", "-Bresync", "N"};

struct Coded
{
    size_t bytes = 0;
    double centre = 0; // dB
    double whole = 0;  // dB
};

Coded Code(const memory_image &image, const std::vector<std::string> &region, int64_t budget,
           bool reversible = false)
{
    zntest::ScratchDir dir;
    std::vector<std::string> words = kModuleWords;
    words.insert(words.end(), region.begin(), region.end());
    auto bytes = j2ktest::EncodeImage(image, ModuleSettings(reversible), words, budget, dir.File("r.j2k"));
    auto out = j2ktest::DecodeImage(dir.File("r.j2k"));
    return Coded{bytes.size(), CentrePsnr(image, out), j2ktest::Psnr(image, out)};
}
} // namespace

// Blocks that straddle the region's edge were weighted twice (once by their shift, once more by the
// boost range), so the edge ring and the coarse bands won the budget and the region got worse.
TEST(J2kRoiQuality, ARegionRaisesItsQualityAtTheSameBudget)
{
    ZN_REQUIRE_PHOTO("astronaut", "png");
    const memory_image image = j2ktest::GreyPhoto("astronaut");
    ASSERT_EQ(image.components(), 1);
    ASSERT_EQ(image.heights[0], 512);
    const int64_t budget = 16384; // 0.5 bpp, as the module computes it
    const Coded plain = Code(image, {}, budget);
    EXPECT_LE(plain.bytes, size_t(budget));
    const struct
    {
        const char *boost;
        double gain; // dB over the plain coding, at least
    } cases[] = {{"1", 2.0}, {"3", 6.0}, {"5", 10.0}, {"10", 12.0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.boost);
        const Coded roi = Code(image, {"-Rrgn", c.boost, "C", "0.5", "0.5", "0.2"}, budget);
        EXPECT_LE(roi.bytes, size_t(budget));
        EXPECT_GE(roi.bytes, size_t(budget * 9 / 10));
        EXPECT_GE(roi.centre, plain.centre + c.gain) << "plain " << plain.centre;
        // The background pays for it.
        EXPECT_LT(roi.whole, plain.whole);
    }
}

TEST(J2kRoiQuality, MaxShiftSpendsItsBudgetOnTheRegion)
{
    ZN_REQUIRE_PHOTO("astronaut", "png");
    const memory_image image = j2ktest::GreyPhoto("astronaut");
    ASSERT_EQ(image.components(), 1);
    const int64_t budget = 16384;
    const Coded plain = Code(image, {}, budget);
    for (const char *boost : {"13", "20"}) {
        SCOPED_TRACE(boost);
        const Coded roi = Code(image, {"-Rmax_shift", "-Rrgn", boost, "C", "0.5", "0.5", "0.2"}, budget);
        EXPECT_LE(roi.bytes, size_t(budget));
        EXPECT_GE(roi.bytes, size_t(budget * 9 / 10));
        EXPECT_GT(roi.centre, plain.centre + 10.0) << "plain " << plain.centre;
    }
}

TEST(J2kRoiQuality, LosslessWithARegionStaysExact)
{
    ZN_REQUIRE_PHOTO("astronaut", "png");
    const memory_image image = j2ktest::GreyPhoto("astronaut");
    ASSERT_EQ(image.components(), 1);
    for (const std::vector<std::string> &region :
         {std::vector<std::string>{"-Rrgn", "5", "C", "0.5", "0.5", "0.2"},
          std::vector<std::string>{"-Rrgn", "3", "R", "0.1", "0.2", "0.3", "0.4", "7", "C", "0.6", "0.6",
                                   "0.1"},
          std::vector<std::string>{"-Rmax_shift", "-Rrgn", "16", "C", "0.5", "0.5", "0.2"}}) {
        SCOPED_TRACE(region[1]);
        const Coded roi = Code(image, region, 0, true);
        EXPECT_EQ(roi.whole, 99.0);
    }
}

} // namespace roi_quality_test
