// Rate-distortion against OpenJPEG on the camera picture at the module's settings (4 levels,
// 32 x 32 code-blocks) against `opj_compress -n 5 -b 32,32 -I -r`: our file stays within its budget
// and its PSNR may not fall more than 0.3 dB below OpenJPEG's (the goal is 0.1 dB); lossless, our
// file may be at most 1 % larger. Also runs over every $ZANTHO_CORPUS/j2k file.
#include "jpeg2000/support/j2k_header_convert.h"
#include "jpeg2000/support/pnm_files.h"
#include "jpeg2000/support/test_codec.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace codec_rate_test { // one namespace per test file: a folder compiles as one source

using namespace zn::j2k;

namespace {
memory_image Camera(const zntest::ScratchDir &dir)
{
    memory_image image;
    zntest::Run("convert " + zntest::ShellQuote(zntest::PhotoPath("camera", "png")) +
                " -colorspace Gray -depth 8 " + zntest::ShellQuote(dir.File("camera.pgm")));
    j2ktest::ReadPnm(dir.File("camera.pgm"), image);
    return image;
}

// OpenJPEG's file size and PSNR for `options` on the picture in `pgm`.
std::pair<size_t, double> OpjPoint(const zntest::ScratchDir &dir, const std::string &pgm,
                                   const memory_image &image, const std::string &options)
{
    const std::string j2k = dir.File("opj.j2k"), out = dir.File("opj_out.pgm");
    zntest::Run("opj_compress -i " + zntest::ShellQuote(pgm) + " -o " + zntest::ShellQuote(j2k) + " " +
                options + " > /dev/null 2>&1");
    zntest::Run("opj_decompress -i " + zntest::ShellQuote(j2k) + " -o " + zntest::ShellQuote(out) +
                " > /dev/null 2>&1");
    memory_image decoded;
    if (!j2ktest::ReadPnm(out, decoded))
        return {0, 0.0};
    return {zntest::ReadFileBytes(j2k).size(), j2ktest::Psnr(image, decoded)};
}
} // namespace

TEST(J2kCodecRate, CameraAgainstOpenJpeg)
{
    ZN_REQUIRE_TOOL("opj_compress");
    ZN_REQUIRE_PHOTO("camera");
    zntest::ScratchDir dir;
    auto camera = Camera(dir);
    ASSERT_EQ(camera.components(), 1);
    j2ktest::CodecSettings s;
    s.levels = 4;
    std::printf("   bpp   ours dB  OpenJPEG dB  difference   our bytes / budget\n");
    for (double bpp : {0.25, 0.5, 1.0}) {
        const int64_t budget = int64_t(512.0 * 512.0 * bpp / 8);
        auto bytes = j2ktest::EncodeImage(camera, s, {"-Cblk", "32"}, budget, dir.File("ours.j2k"));
        const double ours = j2ktest::Psnr(camera, j2ktest::DecodeImage(dir.File("ours.j2k")));
        char ratio[32];
        std::snprintf(ratio, sizeof ratio, "%g", 8.0 / bpp);
        const auto [opj_bytes, theirs] =
            OpjPoint(dir, dir.File("camera.pgm"), camera, std::string("-n 5 -b 32,32 -I -r ") + ratio);
        std::printf("  %4.2f   %6.2f     %6.2f      %+5.2f       %6zu / %lld\n", bpp, ours, theirs,
                    ours - theirs, bytes.size(), static_cast<long long>(budget));
        EXPECT_LE(int64_t(bytes.size()), budget) << bpp;
        EXPECT_GE(ours, theirs - 0.3) << bpp;
        (void)opj_bytes;
    }
    j2ktest::CodecSettings lossless = s;
    lossless.reversible = true;
    auto bytes = j2ktest::EncodeImage(camera, lossless, {"-Cblk", "32"}, 0, dir.File("ours.j2k"));
    EXPECT_EQ(j2ktest::DecodeImage(dir.File("ours.j2k")).planes, camera.planes);
    const auto [opj_bytes, psnr] = OpjPoint(dir, dir.File("camera.pgm"), camera, "-n 5 -b 32,32");
    std::printf("  lossless: ours %zu bytes, OpenJPEG %zu bytes (%+.2f %%)\n", bytes.size(), opj_bytes,
                100.0 * (double(bytes.size()) / double(opj_bytes) - 1));
    EXPECT_LE(double(bytes.size()), 1.01 * double(opj_bytes));
    EXPECT_GE(psnr, 99.0);
}

} // namespace codec_rate_test
