// VqCodec against a brute-force nearest-vector oracle in integer arithmetic, its rate, its refusals,
// the channel, the default bits, and the texts and names of a run.
#include "image/cdib.h"
#include "image/img.h"
#include "image/znimage.h"
#include "modules/vq/vq_codebook.h"
#include "modules/vq/vq_coder.h"
#include "platform/errors.h"
#include "platform/messages.h"
#include "platform/random.h"
#include "support/test_support.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <set>
#include <vector>

namespace vq_codec_test { // one namespace per test file: a folder compiles as one source

namespace {

// A codebook image of whole-number components (so every float sum is exact and the oracle can use
// integers), rates rmin..rmax; vectors[r] keeps the components of rate r.
struct IntCodebook
{
    ZnImage image;
    std::vector<std::vector<int>> vectors = std::vector<std::vector<int>>(13);
};

std::unique_ptr<IntCodebook> MakeCodebook(int w, int h, int rmin, int rmax, std::mt19937 &rng,
                                          int levels = 256)
{
    auto cb = std::make_unique<IntCodebook>();
    int rows = 0, cols = 0;
    VqCodebookSize(w, h, rmin, rmax, &rows, &cols);
    cb->image.Alloc(rows, cols);
    std::fill(cb->image.Data(), cb->image.Data() + static_cast<size_t>(rows) * cols, 0.0f);
    float *p = cb->image.Data();
    p[0] = static_cast<float>(w);
    p[1] = static_cast<float>(h);
    p[2] = static_cast<float>(rmin);
    p[3] = static_cast<float>(rmax);
    std::uniform_int_distribution<int> grey(0, levels - 1);
    VqPlacement cursor(w, cols);
    for (int r = rmin; r <= rmax; ++r) {
        std::vector<int> &v = cb->vectors[r];
        v.resize(static_cast<size_t>(1 << r) * w * h);
        for (int &c : v)
            c = grey(rng) * (255 / (levels - 1));
        std::vector<float> f(v.begin(), v.end());
        VqPutRateVectors(&cb->image, {w, h, rmin, rmax}, r, f.data(), &cursor);
    }
    return cb;
}

std::unique_ptr<ZnImage> Picture(int rows, int cols, std::mt19937 &rng)
{
    auto im = std::make_unique<ZnImage>();
    im->Alloc(rows, cols);
    std::uniform_int_distribution<int> grey(0, 255);
    for (long i = 0; i < static_cast<long>(rows) * cols; ++i)
        im->Data()[i] = static_cast<float>(grey(rng));
    return im;
}

// The oracle: for each block in raster order, the lowest index of least squared distance.
std::vector<int> OracleIndices(const ZnImage &src, const std::vector<int> &code, int w, int h)
{
    const int n = static_cast<int>(code.size() / (w * h));
    std::vector<int> out;
    for (int top = 0; top < src.Rows(); top += h)
        for (int left = 0; left < src.Cols(); left += w) {
            long best = -1;
            int index = 0;
            for (int i = 0; i < n; ++i) {
                long d = 0;
                for (int y = 0; y < h; ++y)
                    for (int k = 0; k < w; ++k) {
                        const long e = static_cast<long>(src.Data()[(top + y) * src.Cols() + left + k]) -
                                       code[static_cast<size_t>(i) * w * h + y * w + k];
                        d += e * e;
                    }
                if (best < 0 || d < best) {
                    best = d;
                    index = i;
                }
            }
            out.push_back(index);
        }
    return out;
}

// The picture the decoder must write for the given indices.
std::vector<float> Reconstruction(int rows, int cols, const std::vector<int> &indices,
                                  const std::vector<int> &code, int w, int h)
{
    std::vector<float> out(static_cast<size_t>(rows) * cols);
    size_t b = 0;
    for (int top = 0; top < rows; top += h)
        for (int left = 0; left < cols; left += w, ++b)
            for (int y = 0; y < h; ++y)
                for (int k = 0; k < w; ++k)
                    out[static_cast<size_t>(top + y) * cols + left + k] =
                        static_cast<float>(code[static_cast<size_t>(indices[b]) * w * h + y * w + k]);
    return out;
}

std::vector<float> Samples(const ZnImage &im)
{
    return std::vector<float>(im.Data(), im.Data() + static_cast<size_t>(im.Rows()) * im.Cols());
}

// The index each block of rec was decoded from (the first code vector equal to the block), -1 when
// the block is no code vector at all.
std::vector<int> DecodedIndices(const ZnImage &rec, const std::vector<int> &code, int w, int h)
{
    const int n = static_cast<int>(code.size() / (w * h));
    std::vector<int> out;
    for (int top = 0; top < rec.Rows(); top += h)
        for (int left = 0; left < rec.Cols(); left += w) {
            int found = -1;
            for (int i = 0; i < n && found < 0; ++i) {
                bool same = true;
                for (int y = 0; y < h && same; ++y)
                    for (int k = 0; k < w && same; ++k)
                        same = rec.Data()[(top + y) * rec.Cols() + left + k] ==
                               static_cast<float>(code[static_cast<size_t>(i) * w * h + y * w + k]);
                if (same)
                    found = i;
            }
            out.push_back(found);
        }
    return out;
}

TEST(VqCodec, EqualsTheBruteForceNearestVector)
{
    std::mt19937 rng(21);
    struct Shape
    {
        int w, h, rmin, rmax, rows, cols;
        int levels; // few levels make many exact ties
    };
    for (const Shape s :
         {Shape{4, 4, 1, 8, 64, 48, 256}, Shape{2, 6, 3, 6, 36, 30, 256}, Shape{10, 10, 6, 8, 40, 60, 256},
          Shape{2, 2, 1, 5, 20, 22, 3}, Shape{8, 2, 9, 10, 16, 64, 2}}) {
        SCOPED_TRACE(testing::Message() << s.w << "x" << s.h << " " << s.rmin << ".." << s.rmax);
        const auto cb = MakeCodebook(s.w, s.h, s.rmin, s.rmax, rng, s.levels);
        const auto src = Picture(s.rows, s.cols, rng);
        ZnImage rec;
        rec.Alloc(s.rows, s.cols);
        for (int r = s.rmin; r <= s.rmax; ++r) {
            const float rate = VqCodec(src->img, cb->image.img, rec.img, r, 0.0f);
            EXPECT_EQ(rate, static_cast<float>(r) / static_cast<float>(s.w * s.h));
            const std::vector<int> want = OracleIndices(*src, cb->vectors[r], s.w, s.h);
            ASSERT_EQ(Samples(rec), Reconstruction(s.rows, s.cols, want, cb->vectors[r], s.w, s.h))
                << "rate " << r;
        }
    }
}

TEST(VqCodec, QuarterBitPerPixelAtTheDefaultOfA4x4Codebook)
{
    std::mt19937 rng(2);
    const auto cb = MakeCodebook(4, 4, 1, 8, rng);
    const auto src = Picture(256, 256, rng);
    ZnImage rec;
    rec.Alloc(256, 256);
    EXPECT_EQ(VqDefaultBits(1, 8), 4);
    EXPECT_EQ(VqCodec(src->img, cb->image.img, rec.img, VqDefaultBits(1, 8), 0.0f), 0.25f);
}

TEST(VqCodec, RefusesRatesAndPicturesItCannotCode)
{
    std::mt19937 rng(3);
    const auto cb = MakeCodebook(4, 2, 3, 5, rng);
    const auto src = Picture(8, 8, rng);
    ZnImage rec;
    rec.Alloc(8, 8);
    zn::MessageRecorder messages;
    for (int bits : {2, 6, 0, -1, 13}) {
        messages.Clear();
        EXPECT_EQ(VqCodec(src->img, cb->image.img, rec.img, bits, 0.0f), 0.0f) << bits;
        EXPECT_EQ(messages.Texts(),
                  std::vector<std::string>{"VqCodec - No codebook for requested bit rate."});
    }
    // Sides that are not multiples of the vector's.
    const auto odd = Picture(8, 6, rng);
    ZnImage oddRec;
    oddRec.Alloc(8, 6);
    EXPECT_THROW(VqCodec(odd->img, cb->image.img, oddRec.img, 4, 0.0f), zn::RunAborted);
    // A picture that is no codebook, and a reconstruction of another size.
    ZnImage notCodebook;
    notCodebook.Alloc(4, 4);
    std::fill(notCodebook.Data(), notCodebook.Data() + 16, 200.0f);
    EXPECT_THROW(VqCodec(src->img, notCodebook.img, rec.img, 4, 0.0f), zn::RunAborted);
    EXPECT_THROW(VqCodec(src->img, cb->image.img, oddRec.img, 4, 0.0f), zn::RunAborted);
}

TEST(VqCodec, DefaultBitsOfTheRateRange)
{
    EXPECT_EQ(VqDefaultBits(1, 2), 2);
    EXPECT_EQ(VqDefaultBits(1, 12), 5);
    EXPECT_EQ(VqDefaultBits(4, 9), 7);
    EXPECT_EQ(VqDefaultBits(10, 12), 10);
    for (int rmin = 1; rmin <= 12; ++rmin) {
        EXPECT_EQ(VqDefaultBits(rmin, rmin), rmin);
        for (int rmax = rmin; rmax <= 12; ++rmax) {
            EXPECT_GE(VqDefaultBits(rmin, rmax), rmin);
            EXPECT_LE(VqDefaultBits(rmin, rmax), rmax);
        }
    }
}

// With channel errors every block is still a code vector of the rate; the errors come only from the
// seed, and a rate of b bits flips about b * p of the indices' bits.
TEST(VqCodec, ChannelErrorsHitIndicesOnly)
{
    std::mt19937 rng(4);
    const auto cb = MakeCodebook(2, 2, 6, 6, rng);
    const auto src = Picture(128, 128, rng);
    ZnImage clean, rec, again;
    for (ZnImage *im : {&clean, &rec, &again})
        im->Alloc(128, 128);
    VqCodec(src->img, cb->image.img, clean.img, 6, 0.0f);
    zn::PinRandSeed(9);
    VqCodec(src->img, cb->image.img, rec.img, 6, 0.005f);
    zn::SeedRand(9);
    zn::PinRandSeed(9);
    VqCodec(src->img, cb->image.img, again.img, 6, 0.005f);
    zn::UnpinRandSeed();
    EXPECT_EQ(Samples(rec), Samples(again));
    const std::vector<int> want = OracleIndices(*src, cb->vectors[6], 2, 2);
    const std::vector<int> got = DecodedIndices(rec, cb->vectors[6], 2, 2);
    int changed = 0;
    for (size_t b = 0; b < got.size(); ++b) {
        ASSERT_GE(got[b], 0) << "block " << b;
        changed += got[b] != want[b];
    }
    // 4096 indices of 6 bits at p = 0.005: about 122 hit (at least one flipped bit); far from 0 and
    // from all.
    EXPECT_GT(changed, 60);
    EXPECT_LT(changed, 200);
    EXPECT_NE(Samples(rec), Samples(clean));
}

TEST(VqCodeImage, TextsNamesAndCaption)
{
    // Left half 40, right half 200; the codebook's rate-1 vectors are exactly those two blocks.
    const std::unique_ptr<CDib> dib = std::make_unique<CDib>();
    ASSERT_TRUE(dib->Create24(16, 8));
    for (int k = 0; k < 8; ++k)
        for (int x = 0; x < 16; ++x)
            std::fill_n(dib->StoredRow(k) + 3 * x, 3, static_cast<uint8_t>(x < 8 ? 40 : 200));
    dib->m_bValid = 1;
    ZnImage cb;
    int rows = 0, cols = 0;
    VqCodebookSize(8, 8, 1, 2, &rows, &cols);
    cb.Alloc(rows, cols);
    std::fill(cb.Data(), cb.Data() + static_cast<size_t>(rows) * cols, 0.0f);
    const float head[4] = {8, 8, 1, 2};
    std::copy(head, head + 4, cb.Data());
    VqPlacement cursor(8, cols);
    std::vector<float> r1(64, 40.0f), r2(256, 100.0f);
    r1.insert(r1.end(), 64, 200.0f);
    VqPutRateVectors(&cb, {8, 8, 1, 2}, 1, r1.data(), &cursor);
    VqPutRateVectors(&cb, {8, 8, 1, 2}, 2, r2.data(), &cursor);

    ZnImage decoded;
    VqRunResult r = VqCodeImage({1, 0.0f}, dib.get(), "picture", cb, &decoded);
    EXPECT_EQ(r.rate, 1.0f / 64);
    EXPECT_TRUE(r.measures.errorFree);
    EXPECT_EQ(r.results, "-------------------------------------------------------------------\r\n"
                         "  Coded Bitrate\t\t: 0.02 (bpp)\r\n  Mean Square Error\t\t:   0.0\r\n"
                         "  Signal-to-Noise Ratio\t: Infinite (dB)\r\n  PSNR\t\t\t: Infinite (dB)\r\n\r\n");
    EXPECT_EQ(r.description,
              "VECTOR QUANTIZATION ENCODED picture image\r\n   Number of Bits per Vector\t: 1\r\n"
              "   No Channel Errors Simulated\r\n\r\n   Coded Bitrate\t\t\t:   0.02 (bpp)\r\n"
              "   Mean Square Error\t\t:    0.0\r\n   Signal-to-Noise Ratio\t\t: Infinite (dB)\r\n"
              "   PSNR\t\t\t\t: Infinite (dB)");
    EXPECT_EQ(r.name, "VQ_picture_1_No");
    EXPECT_EQ(r.caption, "VQ(picture): Bits:1 Errors:No");

    // Rate 2 holds only flat 100s: MSE = (60^2 + 100^2) / 2 = 6800.
    r = VqCodeImage({2, 0.001f}, dib.get(), "picture", cb, &decoded);
    EXPECT_FALSE(r.measures.errorFree);
    EXPECT_FLOAT_EQ(r.measures.mse, 6800.0f);
    EXPECT_NEAR(r.measures.psnr, 10 * std::log10(65025.0 / 6800), 1e-3);
    EXPECT_EQ(r.results.rfind("-------------------------------------------------------------------\r\n"
                              "  Coded Bitrate\t\t: 0.03 (bpp)\r\n  Mean Square Error\t\t:6800.0\r\n"
                              "  Signal-to-Noise Ratio\t:",
                              0),
              0u)
        << r.results;
    EXPECT_NE(r.description.find("   Channel Errors Probability\t: 0.0010\r\n"), std::string::npos);
    EXPECT_EQ(r.name, "VQ_picture_2_001");
    EXPECT_EQ(r.caption, "VQ(picture): Bits:2 Errors:0.001");
    const std::pair<float, const char *> tags[] = {{0.005f, "005"}, {0.0005f, "0005"}, {0.0001f, "0001"}};
    for (const auto &[p, tag] : tags)
        EXPECT_EQ(VqErrorTag(p).name, std::string(tag));
}

// A codebook file is the codebook image as a 24-bit BMP: components truncated into 0..255, the header
// intact, and any BMP reader sees a picture of the codebook's size.
TEST(VqCodebookFile, SaveAndLoadTruncateTheComponents)
{
    zntest::ScratchDir dir;
    int rows = 0, cols = 0;
    VqCodebookSize(4, 4, 1, 8, &rows, &cols);
    ZnImage cb;
    cb.Alloc(rows, cols);
    for (long i = 0; i < static_cast<long>(rows) * cols; ++i)
        cb.Data()[i] = static_cast<float>(i % 7) * 50.3f - 40.0f; // -40 .. 261.8
    const float head[4] = {4, 4, 1, 8};
    std::copy(head, head + 4, cb.Data());
    cb.Data()[4] = 127.9f;
    cb.Data()[5] = -0.5f;
    CDib file;
    cb.ZnImageToDib(&file);
    const std::string path = dir.File("picture_4x4_min1_max8.cbk");
    ASSERT_TRUE(file.SaveDibFile(path));

    CDib loaded;
    ASSERT_GT(loaded.LoadDibFile(path, true), 0);
    ZnImage back;
    back.DibToZnImage(&loaded);
    ASSERT_EQ(back.Rows(), 32);
    ASSERT_EQ(back.Cols(), 1028);
    VqCodebookHeader hd;
    EXPECT_EQ(VqReadHeader(back, &hd), "");
    EXPECT_EQ(hd.w, 4);
    EXPECT_EQ(hd.rmax, 8);
    EXPECT_EQ(back.Data()[4], 127.0f);
    EXPECT_EQ(back.Data()[5], 0.0f);
    for (long i = 6; i < static_cast<long>(rows) * cols; ++i) {
        const float v = cb.Data()[i];
        ASSERT_EQ(back.Data()[i], v < 0 ? 0.0f : (v > 255 ? 255.0f : std::trunc(v))) << i;
    }

    // 24 bits per pixel in the file header, and ImageMagick reads a direct-colour BMP of 1028 x 32.
    const std::vector<unsigned char> bytes = zntest::ReadFileBytes(path);
    ASSERT_GT(bytes.size(), 30u);
    EXPECT_EQ(bytes[28] | bytes[29] << 8, 24);
    ZN_REQUIRE_TOOL("identify");
    std::string out;
    ASSERT_EQ(zntest::Run("identify -format '%m %w %h %r' " + zntest::ShellQuote(path), &out), 0);
    EXPECT_EQ(out.rfind("BMP", 0), 0u) << out;
    EXPECT_NE(out.find(" 1028 32 DirectClass"), std::string::npos) << out;
}

} // namespace

} // namespace vq_codec_test
