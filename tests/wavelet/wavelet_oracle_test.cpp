// The wavelet coders against OpenJPEG on a real photograph: the camera picture coded at 0.25, 0.5
// and 1 bpp by SPIHT (smoothing 0), EZW and OpenJPEG's irreversible 9/7 coder, every PSNR measured
// by ImageMagick on the files. SPIHT must come within 1 dB of OpenJPEG; EZW is reported.
#include "modules/ezw/ezw_coder.h"
#include "modules/spiht/spiht_coder.h"
#include "platform/format.h"
#include "wavelet/wavelet_test_util.h"

#include <bit>
#include <cstdio>
#include <gtest/gtest.h>

namespace wavelet_oracle_test { // one namespace per test file: a folder compiles as one source

using namespace wavelettest;

namespace {

// Writes the image as a binary PGM, rounded to grey levels as the modules show it.
bool WritePgm(const std::string &path, const ZnImage &img)
{
    std::vector<unsigned char> bytes;
    const std::string head =
        "P5\n" + std::to_string(img.Cols()) + " " + std::to_string(img.Rows()) + "\n255\n";
    bytes.assign(head.begin(), head.end());
    for (int k = 0; k < img.Rows() * img.Cols(); ++k)
        bytes.push_back(
            static_cast<unsigned char>(std::floor(std::clamp(img.Data()[k], 0.0f, 255.0f) + 0.5f)));
    return zntest::WriteFileBytes(path, bytes);
}

double MagickPsnr(const std::string &a, const std::string &b)
{
    std::string out;
    zntest::Run("compare -metric PSNR " + zntest::ShellQuote(a) + " " + zntest::ShellQuote(b) + " null: 2>&1",
                &out);
    if (out.rfind("inf", 0) == 0)
        return INFINITY;
    char *end = nullptr;
    const double v = std::strtod(out.c_str(), &end);
    return end == out.c_str() ? std::nan("") : v;
}

TEST(WaveletOracle, MeasuresAgreeWithImageMagick)
{
    ZN_REQUIRE_TOOL("compare");
    zntest::ScratchDir dir;
    const auto img = Scene(256, 192);
    ASSERT_TRUE(WritePgm(dir.File("orig.pgm"), *img));
    const SpihtCoded s = SpihtEncode(*img, nullptr, 0.5f, 2);
    ZnImage out;
    SpihtDecode(s.stream, &out, nullptr, 0.5f);
    ASSERT_TRUE(WritePgm(dir.File("spiht.pgm"), out));
    EXPECT_NEAR(Psnr(*img, out), MagickPsnr(dir.File("orig.pgm"), dir.File("spiht.pgm")), 0.05);
    const EzwEncodeResult e = EzwEncodeBytes(*img, nullptr, 0.5f, 4);
    EzwDecodeBytes(e.stream, &out, nullptr, 0.5f);
    ASSERT_TRUE(WritePgm(dir.File("ezw.pgm"), out));
    EXPECT_NEAR(Psnr(*img, out), MagickPsnr(dir.File("orig.pgm"), dir.File("ezw.pgm")), 0.05);
}

// Both coders on every BMP of $ZANTHO_CORPUS/bmp: the picture decodes, and our PSNR is ImageMagick's.
TEST(WaveletOracle, CorpusPicturesAgreeWithImageMagick)
{
    const std::vector<std::string> files = zntest::CorpusFiles("bmp");
    if (files.empty())
        GTEST_SKIP() << "no $ZANTHO_CORPUS/bmp files";
    ZN_REQUIRE_TOOL("compare");
    zntest::ScratchDir dir;
    for (const std::string &file : files) {
        CDib dib;
        if (dib.LoadDibFile(file, true) < 0)
            continue;
        ZnImage img;
        img.DibToZnImage(&dib);
        ASSERT_TRUE(WritePgm(dir.File("orig.pgm"), img)) << file;
        ZnImage out;
        const SpihtCoded s = SpihtEncode(img, nullptr, 1.0f, 0);
        if (s.levels == 0)
            continue; // larger than the coder takes
        SpihtDecode(s.stream, &out, nullptr, 1.0f);
        ASSERT_TRUE(WritePgm(dir.File("spiht.pgm"), out));
        EXPECT_NEAR(Psnr(img, out), MagickPsnr(dir.File("orig.pgm"), dir.File("spiht.pgm")), 0.05) << file;
        const int levels = std::min(
            5, static_cast<int>(std::bit_width(static_cast<unsigned>(std::min(img.Rows(), img.Cols())))) - 1);
        if (levels < 1)
            continue;
        const EzwEncodeResult e = EzwEncodeBytes(img, nullptr, 1.0f, levels);
        EzwDecodeBytes(e.stream, &out, nullptr, 1.0f);
        ZnImage cropped;
        cropped.Alloc(out.Rows(), out.Cols());
        for (int y = 0; y < out.Rows(); ++y)
            for (int x = 0; x < out.Cols(); ++x)
                cropped.Data()[y * out.Cols() + x] = img.Data()[y * img.Cols() + x];
        ASSERT_TRUE(WritePgm(dir.File("orig_c.pgm"), cropped));
        ASSERT_TRUE(WritePgm(dir.File("ezw.pgm"), out));
        EXPECT_NEAR(Psnr(cropped, out), MagickPsnr(dir.File("orig_c.pgm"), dir.File("ezw.pgm")), 0.05)
            << file;
    }
    std::printf("corpus: %zu bmp files\n", files.size());
}

TEST(WaveletOracle, CameraAgainstOpenJpeg)
{
    ZN_REQUIRE_PHOTO("camera");
    ZN_REQUIRE_TOOL("opj_compress");
    ZN_REQUIRE_TOOL("opj_decompress");
    ZN_REQUIRE_TOOL("compare");
    const auto img = Photo("camera");
    ASSERT_TRUE(img);
    ASSERT_EQ(img->Cols(), 512);
    zntest::ScratchDir dir;
    const std::string orig = dir.File("camera.pgm");
    ASSERT_TRUE(WritePgm(orig, *img));
    std::printf("rate   OpenJPEG  SPIHT    EZW      (PSNR dB, camera 512x512)\n");
    for (float rate : {0.25f, 0.5f, 1.0f}) {
        const std::string j2k = dir.File("c.j2k"), dec = dir.File("opj.pgm");
        ASSERT_EQ(zntest::Run(zn::Format("opj_compress -i %s -o %s -I -r %g >/dev/null 2>&1", orig.c_str(),
                                         j2k.c_str(), 8.0 / rate)),
                  0);
        ASSERT_EQ(
            zntest::Run(zn::Format("opj_decompress -i %s -o %s >/dev/null 2>&1", j2k.c_str(), dec.c_str())),
            0);
        const double opj = MagickPsnr(orig, dec);

        ZnImage out;
        const SpihtCoded s = SpihtEncode(*img, nullptr, rate, 0);
        SpihtDecode(s.stream, &out, nullptr, rate);
        ASSERT_TRUE(WritePgm(dir.File("spiht.pgm"), out));
        const double spiht = MagickPsnr(orig, dir.File("spiht.pgm"));

        const EzwEncodeResult e = EzwEncodeBytes(*img, nullptr, rate, 5);
        EzwDecodeBytes(e.stream, &out, nullptr, rate);
        ASSERT_TRUE(WritePgm(dir.File("ezw.pgm"), out));
        const double ezw = MagickPsnr(orig, dir.File("ezw.pgm"));

        std::printf("%.2f   %6.2f    %6.2f   %6.2f\n", rate, opj, spiht, ezw);
        EXPECT_GE(spiht, opj - 1.0) << "rate " << rate;
        EXPECT_LT(ezw, spiht) << "rate " << rate;
    }
}

} // namespace

} // namespace wavelet_oracle_test
