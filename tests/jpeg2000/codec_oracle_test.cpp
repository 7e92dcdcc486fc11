// Our code-streams, converted to the standard header layout, through opj_decompress: it must
// reconstruct what our own decoder reconstructs (exactly for reversible streams, within 2 grey
// levels and 50 dB otherwise), over levels, code-block sizes, layers, tiles, progression orders and
// the packet and coder options that the standard shares with us.
#include "jpeg2000/support/j2k_header_convert.h"
#include "jpeg2000/support/pnm_files.h"
#include "jpeg2000/support/test_codec.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace zn::j2k;
using j2ktest::CodecSettings;

namespace {
memory_image Camera()
{
    memory_image image;
    const std::string png = zntest::PhotoPath("camera", "png");
    if (png.empty())
        return image;
    zntest::ScratchDir dir;
    zntest::Run("convert " + zntest::ShellQuote(png) + " -colorspace Gray -depth 8 " +
                zntest::ShellQuote(dir.File("camera.pgm")));
    j2ktest::ReadPnm(dir.File("camera.pgm"), image);
    return image;
}

memory_image Synthetic(int height, int width, int components, unsigned seed)
{
    memory_image image;
    std::mt19937 rng(seed);
    for (int c = 0; c < components; ++c) {
        image.add_component(height, width);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                double v = 120 + 70 * std::sin(x * 0.09 + 2 * c) * std::cos(y * 0.06 - c) + ((x / 13 + y / 17) % 2) * 30 +
                           int(rng() % 11) - 5;
                image.planes[size_t(c)][size_t(y) * size_t(width) + size_t(x)] = std::clamp(int(std::lround(v)), 0, 255);
            }
    }
    return image;
}

// opj_decompress's reconstruction of one of our streams.
bool OpjDecode(const std::vector<uint8_t> &ours, const zntest::ScratchDir &dir, memory_image &out,
               const std::string &extra = "")
{
    std::vector<uint8_t> standard = ours;
    if (!j2ktest::ConvertHeaders(standard, j2ktest::HeaderLayout::Standard)) {
        ADD_FAILURE() << "the header converter cannot walk the stream";
        return false;
    }
    const std::string in = dir.File("std.j2k"), pnm = dir.File(out.components() == 3 ? "opj.ppm" : "opj.pgm");
    zntest::WriteFileBytes(in, std::vector<unsigned char>(standard.begin(), standard.end()));
    std::string log;
    if (zntest::Run("opj_decompress -i " + zntest::ShellQuote(in) + " -o " + zntest::ShellQuote(pnm) + " " + extra +
                        " 2>&1",
                    &log) != 0) {
        ADD_FAILURE() << log;
        return false;
    }
    if (!j2ktest::ReadPnm(pnm, out)) {
        ADD_FAILURE() << "cannot read " << pnm << ": " << log;
        return false;
    }
    return true;
}

struct Case
{
    const char *name;
    CodecSettings settings;
    std::vector<std::string> args;
    double bpp; // 0: lossless budget
    int components = 1;
};

void CheckAgainstOpj(const memory_image &image, const Case &c)
{
    zntest::ScratchDir dir;
    const int64_t budget = c.bpp > 0 ? int64_t(double(image.heights[0]) * image.widths[0] * c.bpp / 8) : 0;
    auto bytes = j2ktest::EncodeImage(image, c.settings, c.args, budget, dir.File("ours.j2k"));
    if (budget > 0) {
        EXPECT_LE(int64_t(bytes.size()), budget) << c.name;
    }
    auto ours = j2ktest::DecodeImage(dir.File("ours.j2k"));
    memory_image theirs;
    theirs.add_component(1, 1);
    if (image.components() == 3)
        theirs.planes.resize(3);
    ASSERT_TRUE(OpjDecode(bytes, dir, theirs)) << c.name;
    ASSERT_EQ(theirs.components(), ours.components()) << c.name;
    ASSERT_EQ(theirs.heights, ours.heights) << c.name;
    ASSERT_EQ(theirs.widths, ours.widths) << c.name;
    if (c.settings.reversible) {
        EXPECT_EQ(j2ktest::MaxDifference(theirs, ours), 0) << c.name;
    } else {
        EXPECT_LE(j2ktest::MaxDifference(theirs, ours), 2) << c.name;
        EXPECT_GE(j2ktest::Psnr(theirs, ours), 50.0) << c.name;
    }
}
} // namespace

TEST(J2kCodecOracle, CameraAtTheModuleSettingsDecodesAlikeInOpenJpeg)
{
    ZN_REQUIRE_TOOL("opj_decompress");
    ZN_REQUIRE_PHOTO("camera");
    auto camera = Camera();
    ASSERT_EQ(camera.components(), 1);
    CodecSettings s;
    s.levels = 4;
    for (double bpp : {0.25, 0.5, 1.0, 3.0})
        CheckAgainstOpj(camera, Case{"camera", s, {"-Cblk", "32"}, bpp});
    CodecSettings rev = s;
    rev.reversible = true;
    CheckAgainstOpj(camera, Case{"camera lossless", rev, {"-Cblk", "32"}, 0});
}

