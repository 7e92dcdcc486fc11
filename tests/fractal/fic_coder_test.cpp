// FractalEncoder and FractalDecoder end to end: closed forms on flat pictures, the stream recomputed
// against the source, the first iteration from flat grey, convergence, round trips on a photograph,
// and refusals of settings, files and streams the coder cannot take.
#include "fic_pixels.h"
#include "image/cdib.h"
#include "image/znimage.h"
#include "modules/common/module_results.h"
#include "modules/fractal/fic_bits.h"
#include "modules/fractal/fic_codec.h"
#include "platform/errors.h"
#include "support/test_support.h"

#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <vector>

namespace fic_coder_test { // one namespace per test file: a folder compiles as one source

namespace {

using fictest::MakePixels;
using fictest::Pixels;

// Gradients, edges and some texture.
Pixels Textured(int cols, int rows)
{
    return MakePixels(cols, rows, [](int x, int y) {
        return 30 + x / 2 + y / 3 + ((x / 24 + y / 20) % 2) * 70 + (x * 7 + y * 13) % 19;
    });
}

double Psnr(const Pixels &a, const Pixels &b)
{
    double e = 0;
    for (size_t i = 0; i < a.size(); ++i)
        e += (a[i] - b[i]) * (a[i] - b[i]);
    e /= static_cast<double>(a.size());
    return e < 1e-10 ? 60.0 : 10 * std::log10(255.0 * 255.0 / e);
}

FicCode Parse(const std::vector<uint8_t> &bytes, int rows, int cols)
{
    FicCode code;
    EXPECT_EQ(FicParseCode(bytes, rows, cols, &code), "");
    return code;
}

// The rms error of one block map on the source itself: domain pixels averaged 2 x 2, turned, scaled.
double DirectRms(const Pixels &img, int cols, const FicTransform &t)
{
    const int b = t.side;
    double e = 0;
    for (int Y = 0; Y < b; ++Y)
        for (int X = 0; X < b; ++X) {
            int U, V;
            FicOrient(t.orientation, X, Y, b, b, &U, &V);
            const size_t p = static_cast<size_t>(t.dy + 2 * V) * cols + t.dx + 2 * U;
            const double d = (img[p] + img[p + 1] + img[p + cols] + img[p + cols + 1]) / 4.0;
            const double r = img[static_cast<size_t>(t.y0 + Y) * cols + t.x0 + X];
            e += (t.S * d + t.O - r) * (t.S * d + t.O - r);
        }
    return std::sqrt(e / (b * b));
}

TEST(FractalCoder, FlatPictureCodesOneZeroIndexLeafPerLargestBlock)
{
    const Pixels flat = MakePixels(256, 256, [](int, int) { return 100; });
    FicEncodeParams p; // 16 to 4, threshold 8, 4 + 6 bits
    FicEncodeStats stats;
    const std::vector<uint8_t> bytes = FicEncode(flat.data(), 256, 256, p, &stats);
    EXPECT_EQ(stats.dmin, 4);
    EXPECT_EQ(stats.dmax, 6);
    // 16 x 16 leaves of side 16, each a split bit 0 and the zero-index scale and an offset.
    EXPECT_EQ(stats.coded, 256);
    EXPECT_EQ(stats.fitting, 256);
    EXPECT_EQ(bytes.size(), static_cast<size_t>((47 + 256 * (1 + 4 + 6) + 7) / 8));

    const FicCode code = Parse(bytes, 256, 256);
    ASSERT_EQ(code.maps.size(), 256u);
    // The offset of the flat 100: index trunc(63 * 100 / 255 + 0.5) = 25, value 255 * 25 / 63.
    const double O = 255.0 * 25 / 63;
    for (const FicTransform &t : code.maps) {
        EXPECT_EQ(t.side, 16);
        EXPECT_EQ(t.S, 0.0);
        EXPECT_DOUBLE_EQ(t.O, O);
    }
    const Pixels once = FicDecodeImage(code, 1);
    for (uint8_t v : once)
        ASSERT_EQ(v, static_cast<int>(O + 0.5));
}

TEST(FractalCoder, ThresholdMetEverywhereGivesAllFittingBlocks)
{
    const Pixels img = Textured(128, 128);
    FicEncodeParams p;
    p.threshold = 1000;
    FicEncodeStats stats;
    const std::vector<uint8_t> bytes = FicEncode(img.data(), 128, 128, p, &stats);
    EXPECT_EQ(stats.coded, 64); // one leaf per 16 x 16 block
    EXPECT_EQ(stats.fitting, 64);
    for (const FicTransform &t : Parse(bytes, 128, 128).maps)
        EXPECT_EQ(t.side, 16);
}

// Everything the encoder decided can be checked from the stream alone: the leaves tile the image,
// their sizes keep to the limits, and a leaf fits exactly when its map's error on the source is
// within the threshold.
TEST(FractalCoder, StreamRecomputedOnTheSourceAgreesWithTheEncoder)
{
    struct Case
    {
        int cols, rows;
        FicEncodeParams p;
    };
    const Case cases[] = {
        {128, 128, {16, 4, 8, 4, 6}}, {128, 128, {32, 2, 4, 8, 8}}, {64, 64, {8, 4, 12, 1, 3}},
        {128, 64, {16, 4, 6, 5, 7}},  {64, 128, {16, 8, 2, 3, 5}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.cols << "x" << c.rows << " " << c.p.maxBlock << "/" << c.p.minBlock << " T"
                     << c.p.threshold << " sb" << c.p.sb << " ob" << c.p.ob);
        const Pixels img = Textured(c.cols, c.rows);
        FicEncodeStats stats;
        const std::vector<uint8_t> bytes = FicEncode(img.data(), c.rows, c.cols, c.p, &stats);
        const FicCode code = Parse(bytes, c.rows, c.cols);
        ASSERT_EQ(static_cast<long>(code.maps.size()), stats.coded);
        std::vector<int> cover(img.size(), 0);
        long fitLow = 0, fitHigh = 0;
        for (const FicTransform &t : code.maps) {
            EXPECT_GE(t.side, c.p.minBlock);
            EXPECT_LE(t.side, c.p.maxBlock);
            for (int y = 0; y < t.side; ++y)
                for (int x = 0; x < t.side; ++x)
                    ++cover[static_cast<size_t>(t.y0 + y) * c.cols + t.x0 + x];
            const double rms = DirectRms(img, c.cols, t);
            fitLow += rms <= c.p.threshold - 1e-6;
            fitHigh += rms <= c.p.threshold + 1e-6;
            // A block is split unless it fits or is as small as allowed.
            if (rms > c.p.threshold + 1e-6) {
                EXPECT_EQ(t.side, c.p.minBlock);
            }
            if (c.p.sb == 1) {
                EXPECT_TRUE(t.S == -1.0 || t.S == 0.0) << t.S;
            }
        }
        for (int n : cover)
            ASSERT_EQ(n, 1);
        EXPECT_LE(fitLow, stats.fitting);
        EXPECT_GE(fitHigh, stats.fitting);
    }
}

TEST(FractalCoder, OneIterationGivesEveryRangeTheMapOfFlatGrey)
{
    const Pixels img = Textured(128, 128);
    FicEncodeParams p;
    const FicCode code = Parse(FicEncode(img.data(), 128, 128, p, nullptr), 128, 128);
    const Pixels once = FicDecodeImage(code, 1);
    int negative = 0;
    for (const FicTransform &t : code.maps) {
        negative += t.S < 0;
        const double v = std::clamp(t.S * 128 + t.O + 0.5, 0.0, 255.0);
        for (int y = 0; y < t.side; ++y)
            for (int x = 0; x < t.side; ++x)
                ASSERT_EQ(once[static_cast<size_t>(t.y0 + y) * 128 + t.x0 + x], static_cast<int>(v));
    }
    EXPECT_GT(negative, 0); // the negative-scale list is used
}

TEST(FractalCoder, WideAndTallImagesCodeAsTwoSquares)
{
    for (const auto &[cols, rows] : {std::pair{512, 256}, {256, 512}}) {
        SCOPED_TRACE(cols);
        const Pixels img = Textured(cols, rows);
        FicEncodeStats stats;
        const std::vector<uint8_t> bytes = FicEncode(img.data(), rows, cols, FicEncodeParams{}, &stats);
        EXPECT_EQ(stats.dmin, 4); // from the smaller side
        const FicCode code = Parse(bytes, rows, cols);
        // The first half of the leaves lies in the first square.
        long inFirst = 0;
        for (const FicTransform &t : code.maps)
            inFirst += (t.x0 < 256 && t.y0 < 256);
        EXPECT_GT(inFirst, 0);
        EXPECT_LT(inFirst, static_cast<long>(code.maps.size()));
        for (size_t i = 0; i < code.maps.size(); ++i)
            if (i < static_cast<size_t>(inFirst)) {
                EXPECT_TRUE(code.maps[i].x0 < 256 && code.maps[i].y0 < 256);
            }
        EXPECT_GT(Psnr(img, FicDecodeImage(code, 12)), 26.0);
    }
}

Pixels CameraPixels(int *rows, int *cols)
{
    CDib dib;
    if (dib.LoadDibFile(zntest::PhotoPath("camera"), true) < 0)
        return {};
    ZnImage z;
    z.DibToZnImage(&dib);
    *rows = z.Rows();
    *cols = z.Cols();
    Pixels p(static_cast<size_t>(*rows) * *cols);
    for (size_t i = 0; i < p.size(); ++i)
        p[i] = static_cast<uint8_t>(std::clamp(z.Data()[i], 0.0f, 255.0f));
    return p;
}

TEST(FractalCoder, PhotographRoundTripBoundsSizeAndQualityAndConverges)
{
    ZN_REQUIRE_PHOTO("camera");
    int rows = 0, cols = 0;
    const Pixels img = CameraPixels(&rows, &cols);
    ASSERT_FALSE(img.empty());
    FicEncodeStats stats;
    const std::vector<uint8_t> bytes = FicEncode(img.data(), rows, cols, FicEncodeParams{}, &stats);
    const double bpp = 8.0 * bytes.size() / (double(rows) * cols);
    EXPECT_GT(bpp, 0.1);
    EXPECT_LT(bpp, 1.5);
    const FicCode code = Parse(bytes, rows, cols);
    std::vector<double> psnr;
    for (int it = 1; it <= 20; ++it)
        psnr.push_back(Psnr(img, FicDecodeImage(code, it)));
    EXPECT_LT(psnr[0], 20.0);        // one map of flat grey is a blocky sketch
    EXPECT_GT(psnr[3], psnr[0] + 5); // it sharpens
    EXPECT_GT(psnr[7], psnr[3]);
    EXPECT_GT(psnr[7], 26.0);              // and comes close to the source
    EXPECT_NEAR(psnr[19], psnr[15], 0.05); // then settles
    // Tighter settings cost more bits and give more quality.
    FicEncodeParams fine;
    fine.threshold = 4;
    fine.sb = 5;
    fine.ob = 7;
    const std::vector<uint8_t> fineBytes = FicEncode(img.data(), rows, cols, fine, nullptr);
    EXPECT_GT(fineBytes.size(), bytes.size());
    EXPECT_GT(Psnr(img, FicDecodeImage(Parse(fineBytes, rows, cols), 12)), psnr[11]);
}

TEST(FractalCoder, SettingsTheCoderCannotTakeAreRefused)
{
    struct Case
    {
        int cols, rows;
        FicEncodeParams p;
        const char *says;
    };
    const Case cases[] = {
        {128, 128, {128, 4, 8, 4, 6}, "at most half the smaller side (64)"},
        {256, 64, {64, 4, 8, 4, 6}, "at most half the smaller side (32)"},
        {4096, 256, {16, 4, 8, 4, 6}, "each side must be 4 to 4095"},
        {256, 256, {16, 4, 8, 0, 6}, "scaling"},
        {256, 256, {16, 4, 8, 4, 9}, "offset"},
        {256, 256, {8, 16, 8, 4, 6}, "minimum not above maximum"},
        {256, 256, {16, 1, 8, 4, 6}, "Block sizes"},
        {2, 2, {2, 2, 8, 4, 6}, "each side"},
    };
    for (const Case &c : cases) {
        const std::string problem = FicSettingsProblem(c.rows, c.cols, c.p);
        EXPECT_NE(problem.find(c.says), std::string::npos) << problem;
    }
    EXPECT_EQ(FicSettingsProblem(256, 256, {128, 2, 8, 4, 6}), "");
    const Pixels small = Textured(64, 64);
    EXPECT_THROW(FicEncode(small.data(), 64, 64, {64, 4, 8, 4, 6}, nullptr), zn::RunAborted);
}

TEST(FractalCoder, CodeFileRoundTripAndUnwritableFile)
{
    zntest::ScratchDir dir;
    ZnImage src;
    src.Alloc(64, 64);
    const Pixels img = Textured(64, 64);
    for (size_t i = 0; i < img.size(); ++i)
        src.Data()[i] = img[i] + 0.75f; // truncated to whole grey levels by the coder
    float out[2] = {-1, -1};
    std::string problem;
    const std::string path = dir.File(kFicCodeFileName);
    ASSERT_TRUE(FractalEncoder(src, FicEncodeParams{}, path, out, &problem)) << problem;
    const std::vector<unsigned char> file = zntest::ReadFileBytes(path);
    EXPECT_FLOAT_EQ(out[0], 8.0f * file.size() / (64 * 64));
    EXPECT_EQ(std::vector<uint8_t>(file.begin(), file.end()),
              FicEncode(img.data(), 64, 64, FicEncodeParams{}, nullptr));
    EXPECT_GT(out[1], 0.0f);
    EXPECT_LE(out[1], 100.0f);

    ZnImage dec;
    dec.Alloc(64, 64);
    ASSERT_EQ(FractalDecoder(&dec, 8, path), kFicDecoded);
    const Pixels expect =
        FicDecodeImage(Parse(FicEncode(img.data(), 64, 64, FicEncodeParams{}, nullptr), 64, 64), 8);
    for (size_t i = 0; i < expect.size(); ++i)
        ASSERT_EQ(dec.Data()[i], expect[i]);

    float untouched[2] = {-1, -1};
    problem.clear();
    EXPECT_FALSE(
        FractalEncoder(src, FicEncodeParams{}, dir.File("no/such/folder/x.fif"), untouched, &problem));
    EXPECT_NE(problem.find("FractalEncoder - Cannot open output file for write: "), std::string::npos);
    EXPECT_EQ(untouched[0], -1.0f);
    EXPECT_EQ(untouched[1], -1.0f);
}

TEST(FractalCoder, DecoderRefusesMissingForeignAndDamagedCodes)
{
    zntest::ScratchDir dir;
    const std::string path = dir.File(kFicCodeFileName);
    ZnImage dec;
    dec.Alloc(64, 64);
    std::fill(dec.Data(), dec.Data() + 64 * 64, 7.0f);
    EXPECT_EQ(FractalDecoder(&dec, 8, path), kFicNoCodeFile);
    for (int i = 0; i < 64 * 64; ++i)
        ASSERT_EQ(dec.Data()[i], 0.0f);

    // A code of another image size is never decoded into this one.
    const Pixels other = Textured(128, 64);
    const std::vector<uint8_t> foreign = FicEncode(other.data(), 64, 128, FicEncodeParams{}, nullptr);
    ASSERT_TRUE(zntest::WriteFileBytes(path, {foreign.begin(), foreign.end()}));
    std::fill(dec.Data(), dec.Data() + 64 * 64, 7.0f);
    std::string problem;
    EXPECT_EQ(FractalDecoder(&dec, 8, path, &problem), kFicCodeDoesNotFit);
    EXPECT_NE(problem.find("128 x 64"), std::string::npos) << problem;
    for (int i = 0; i < 64 * 64; ++i)
        ASSERT_EQ(dec.Data()[i], 0.0f);

    // A domain index beyond the grid: a step of 12 gives 3 x 3 domains of side 32 and 4 index bits,
    // so index 12 names no domain.
    FicHeader h;
    h.sb = 1;
    h.ob = 1;
    h.dmin = 2; // ranges of 16, domains of 32
    h.dmax = 2;
    h.domainType = 2; // step = domain step
    h.domainStep = 12;
    h.cols = 64;
    h.rows = 64;
    const std::vector<FicLevel> lv = FicMakeLevels(h);
    ASSERT_EQ(lv.size(), 1u);
    ASSERT_EQ(lv[0].hcount, 3); // (64 - 32) / 12 + 1
    ASSERT_EQ(lv[0].bits, 4);   // 9 domains
    FicBitWriter w;
    FicWriteHeader(w, h);
    for (int leaf = 0; leaf < 16; ++leaf) {
        w.Write(0, 1); // scale index 0: S = -1, not the zero index
        w.Write(1, 1);
        w.Write(0, 3);
        w.Write(leaf == 15 ? 12 : 8, 4); // 12 lies beyond the 9 domains
    }
    w.Flush();
    FicCode code;
    EXPECT_NE(FicParseCode(w.Bytes(), 64, 64, &code), "");
    EXPECT_TRUE(code.maps.empty());
    ASSERT_TRUE(zntest::WriteFileBytes(path, {w.Bytes().begin(), w.Bytes().end()}));
    EXPECT_EQ(FractalDecoder(&dec, 3, path), kFicCodeDoesNotFit);

    // The same stream with an index inside the grid decodes, and a cut-off stream reads zero bits.
    FicBitWriter ok;
    FicWriteHeader(ok, h);
    ok.Write(0, 1);
    ok.Write(1, 1);
    ok.Write(5, 3);
    ok.Write(8, 4);
    ok.Flush();
    ASSERT_EQ(FicParseCode(ok.Bytes(), 64, 64, &code), "");
    ASSERT_EQ(code.maps.size(), 16u);
    EXPECT_EQ(code.maps[0].dx, 24);
    EXPECT_EQ(code.maps[0].dy, 24);
    EXPECT_EQ(code.maps[0].orientation, 5);
    EXPECT_EQ(code.maps[1].dx, 0); // zeros past the end: domain 0
    EXPECT_EQ(code.maps[1].S, -1.0);
}

} // namespace

} // namespace fic_coder_test
