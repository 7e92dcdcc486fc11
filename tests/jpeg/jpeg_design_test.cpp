// The perceptual design model: the FFT convolutions against direct circular convolution, the block
// size rule, kernel files and their centres, the contrast sensitivity of the viewing conditions,
// the conversion table, the map's scaling and the rule that turns the map into 64 steps.
#include "jpeg_design_files.h"
#include "jpeg_test_util.h"

#include "modules/jpeg/jpeg_dctw.h"
#include "modules/jpeg/jpeg_fft_conv.h"
#include "modules/jpeg/jpeg_filter_bank.h"
#include "modules/jpeg/jpeg_tables.h"
#include "platform/messages.h"
#include "support/test_support.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <random>

namespace jpeg_design_test { // one namespace per test file: a folder compiles as one source

namespace {

// out(y, x) = sum k(r, c) in((y - (r - cr)) mod rows, (x - (c - cc)) mod cols), in double.
std::vector<double> DirectConvolution(const std::vector<float> &in, int rows, int cols, const JpgKernel2D &k)
{
    std::vector<double> out(in.size(), 0.0);
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x) {
            double s = 0;
            for (int r = 0; r < k.side; ++r)
                for (int c = 0; c < k.side; ++c) {
                    const int yy = ((y - (r - k.centreRow)) % rows + rows) % rows;
                    const int xx = ((x - (c - k.centreCol)) % cols + cols) % cols;
                    s += k.At(r, c) * in[static_cast<size_t>(yy) * cols + xx];
                }
            out[static_cast<size_t>(y) * cols + x] = s;
        }
    return out;
}

JpgKernel2D RandomKernel(int side, int centreRow, int centreCol, std::mt19937 &rng)
{
    JpgKernel2D k;
    k.side = side;
    k.centreRow = centreRow;
    k.centreCol = centreCol;
    std::uniform_real_distribution<float> d(-1.0f, 1.0f);
    for (int i = 0; i < side * side; ++i)
        k.k.push_back(d(rng));
    return k;
}

TEST(JpegFftConvolution, EqualsDirectCircularConvolution)
{
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> pix(0.0f, 255.0f);
    struct Case
    {
        int rows, cols, side, centreRow, centreCol;
    };
    const Case cases[] = {
        {24, 40, 5, 2, 2}, {64, 64, 4, 2, 2}, {17, 33, 7, 3, 3}, {30, 9, 3, 0, 1}, // 1 x N style centre
        {16, 16, 1, 0, 0}, {20, 28, 6, 3, 3}, {8, 8, 9, 4, 4}, // kernel wider than the image
    };
    CFftConvolution fft;
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.rows) + "x" + std::to_string(c.cols) + " side " +
                     std::to_string(c.side));
        std::vector<float> in(static_cast<size_t>(c.rows) * c.cols);
        for (float &v : in)
            v = pix(rng);
        for (const JpgKernel2D &k : {RandomKernel(c.side, c.centreRow, c.centreCol, rng),
                                     RandomKernel(c.side, c.centreRow, c.centreCol, rng).Rotated90()}) {
            std::vector<float> out(in.size());
            fft.Convolve2D(in.data(), out.data(), c.rows, c.cols, k);
            const auto expect = DirectConvolution(in, c.rows, c.cols, k);
            double worst = 0;
            for (size_t i = 0; i < in.size(); ++i)
                worst = std::max(worst, std::fabs(out[i] - expect[i]));
            EXPECT_LT(worst, 2e-3);
        }
    }
}

TEST(JpegFftConvolution, RowsAndColumnsEqualDirectConvolution)
{
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> d(-1.0f, 1.0f);
    const int rows = 13, cols = 300; // rows longer than one 256-point block
    std::vector<float> in(static_cast<size_t>(rows) * cols), out(in.size());
    for (float &v : in)
        v = d(rng) * 100;
    for (int len : {1, 2, 7, 31}) {
        std::vector<float> k(static_cast<size_t>(len));
        for (float &v : k)
            v = d(rng);
        const int centre = (len - 1) / 2;
        // As a 2-D kernel with a single row (rows) or column (columns) at the centre's offset.
        JpgKernel2D asRow{len, centre, centre, std::vector<float>(static_cast<size_t>(len) * len, 0.0f)};
        JpgKernel2D asColumn = asRow;
        for (int i = 0; i < len; ++i) {
            asRow.k[static_cast<size_t>(centre) * len + i] = k[i];
            asColumn.k[static_cast<size_t>(i) * len + centre] = k[i];
        }
        CFftConvolution fft;
        fft.ConvolveRows(in.data(), out.data(), rows, cols, k.data(), len, centre);
        auto expect = DirectConvolution(in, rows, cols, asRow);
        for (size_t i = 0; i < in.size(); ++i)
            ASSERT_NEAR(out[i], expect[i], 1e-3) << "rows, length " << len;
        fft.ConvolveColumns(in.data(), out.data(), rows, cols, k.data(), len, centre);
        expect = DirectConvolution(in, rows, cols, asColumn);
        for (size_t i = 0; i < in.size(); ++i)
            ASSERT_NEAR(out[i], expect[i], 1e-3) << "columns, length " << len;
    }
}

TEST(JpegFftConvolution, FftMatchesTheDftAndKeepsItsTwiddles)
{
    CFftConvolution fft;
    const int n = 16;
    std::vector<double> x(2 * n), y;
    for (int i = 0; i < n; ++i) {
        x[2 * i] = std::sin(i * 0.7) + i % 3;
        x[2 * i + 1] = std::cos(i * 1.3);
    }
    y = x;
    fft.Fft(y.data(), n, -1);
    EXPECT_EQ(fft.TwiddleSize(), n);
    const double pi = std::acos(-1.0);
    for (int k = 0; k < n; ++k) {
        double re = 0, im = 0;
        for (int i = 0; i < n; ++i) {
            const double a = -2 * pi * k * i / n;
            re += x[2 * i] * std::cos(a) - x[2 * i + 1] * std::sin(a);
            im += x[2 * i] * std::sin(a) + x[2 * i + 1] * std::cos(a);
        }
        EXPECT_NEAR(y[2 * k], re, 1e-9);
        EXPECT_NEAR(y[2 * k + 1], im, 1e-9);
    }
    fft.Fft(y.data(), n, +1);
    for (int i = 0; i < 2 * n; ++i)
        EXPECT_NEAR(y[i], n * x[i], 1e-9);
    std::vector<double> z(64, 0.0);
    fft.Fft(z.data(), 32, -1);
    EXPECT_EQ(fft.TwiddleSize(), 32);
}

TEST(JpegFftConvolution, BlockSizeFollowsTheCostRule)
{
    // cost(F) = log2 F (2n + 1) F^2, n = (rows / (F - 2S) + 1) (cols / (F - 2S) + 1), from the first
    // power of two above 2S while it falls; the first cost 1e9 or more halves the start instead.
    auto cost = [](int rows, int cols, int s, int f) {
        const double n = (rows / (f - 2 * s) + 1.0) * (cols / (f - 2 * s) + 1.0);
        return std::log2(f) * (2 * n + 1) * f * f;
    };
    auto expected = [&](int rows, int cols, int s) {
        int f = 1;
        while (f <= 2 * s)
            f *= 2;
        if (cost(rows, cols, s, f) >= 1e9)
            return f / 2;
        while (cost(rows, cols, s, 2 * f) < cost(rows, cols, s, f))
            f *= 2;
        return f;
    };
    const int cases[][3] = {{512, 512, 15}, {64, 64, 5}, {512, 512, 4},
                            {576, 720, 16}, {16, 16, 1}, {40000, 40000, 15}};
    for (const auto &c : cases)
        EXPECT_EQ(CFftConvolution::BlockSize(c[0], c[1], c[2]), expected(c[0], c[1], c[2]))
            << c[0] << "x" << c[1] << " side " << c[2];
    EXPECT_EQ(CFftConvolution::BlockSize(512, 512, 15), 128);
    EXPECT_EQ(CFftConvolution::BlockSize(64, 64, 5), 32);
    EXPECT_EQ(CFftConvolution::BlockSize(40000, 40000, 15), 16);
}

// ---- kernel files -------------------------------------------------------------------------------

TEST(JpegKernels, OneRowOrColumnIsNotCentredAcrossIt)
{
    zntest::ScratchDir dir;
    zn::MessageRecorder messages;
    struct Case
    {
        int rows, cols, centreRow, centreCol, dy, dx; // the 1's offset
    };
    // The last element is 1: its offset from the centre shows where the centre is.
    const Case cases[] = {
        {1, 3, 0, 1, 0, 1}, {3, 1, 1, 0, 1, 0}, {1, 4, 0, 2, 0, 1},
        {5, 5, 2, 2, 2, 2}, {4, 4, 2, 2, 1, 1}, {3, 5, 2, 2, 0, 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.rows) + "x" + std::to_string(c.cols));
        jpegtest::WriteKernel2D(dir.File("k.dat"), c.rows, c.cols, [&](int r, int col) {
            return r == c.rows - 1 && col == c.cols - 1 ? 1.0 : 0.0;
        });
        JpgKernel2D k;
        ASSERT_TRUE(ReadFilter(dir.File("k.dat"), &k));
        EXPECT_EQ(k.side, std::max(c.rows, c.cols));
        EXPECT_EQ(k.centreRow, c.centreRow);
        EXPECT_EQ(k.centreCol, c.centreCol);
        // Convolution with it shifts the picture by the 1's offset.
        const int rows = 9, cols = 11;
        std::vector<float> in(rows * cols), out(in.size());
        for (size_t i = 0; i < in.size(); ++i)
            in[i] = static_cast<float>(i);
        CFftConvolution fft;
        fft.Convolve2D(in.data(), out.data(), rows, cols, k);
        for (int y = 0; y < rows; ++y)
            for (int x = 0; x < cols; ++x)
                ASSERT_NEAR(out[y * cols + x],
                            in[((y - c.dy + rows) % rows) * cols + (x - c.dx + cols) % cols], 1e-3);
    }
    EXPECT_EQ(messages.Count(), 0u);
}

TEST(JpegKernels, TurnedKernelsMoveOffsetsAQuarterTurn)
{
    // A single 1 at offset (dy, dx) = (1, 2) of a 5 x 5 kernel lands at (2, -1) once turned.
    JpgKernel2D k{5, 2, 2, std::vector<float>(25, 0.0f)};
    k.k[(2 + 1) * 5 + (2 + 2)] = 1.0f;
    const JpgKernel2D t = k.Rotated90();
    int found = 0;
    for (int r = 0; r < 5; ++r)
        for (int c = 0; c < 5; ++c)
            if (t.At(r, c) == 1.0f) {
                EXPECT_EQ(r - t.centreRow, 2);
                EXPECT_EQ(c - t.centreCol, -1);
                ++found;
            }
    EXPECT_EQ(found, 1);
    // Four turns give the kernel back.
    const JpgKernel2D back = k.Rotated90().Rotated90().Rotated90().Rotated90();
    EXPECT_EQ(back.k, k.k);
    EXPECT_EQ(back.centreRow, k.centreRow);
    EXPECT_EQ(back.centreCol, k.centreCol);
}

TEST(JpegKernels, MissingAndDamagedFilesStopWithTheirMessage)
{
    zntest::ScratchDir dir;
    zn::MessageRecorder messages;
    const std::string d = dir.Path();
    {
        CJpgDctW model(d);
        EXPECT_FALSE(model.FilterBankLoaded());
        EXPECT_EQ(messages.Texts(), std::vector<std::string>{"(InitFilterBank)-F, Error opening file:\r\n" +
                                                             d + "jpeg_hilb_filter.dat"});
    }
    jpegtest::WriteDesignFiles(d);
    std::remove((d + "jpeg_fan45_filter.dat").c_str());
    messages.Clear();
    {
        CJpgDctW model(d);
        EXPECT_FALSE(model.FilterBankLoaded());
        EXPECT_EQ(messages.Texts(), std::vector<std::string>{"(ReadFilter)-F, Error opening file:\r\n" + d +
                                                             "jpeg_fan45_filter.dat"});
    }
    // Malformed: a kernel with fewer values than its size says, and one of absurd size.
    jpegtest::WriteDesignFiles(d);
    for (const char *text : {"3 3\n1 2 3 4\n", "100000 100000\n1\n", "x y\n"}) {
        zntest::WriteFileBytes(d + "jpeg_low2_filter.dat",
                               std::vector<unsigned char>(text, text + std::strlen(text)));
        messages.Clear();
        CJpgDctW model(d);
        EXPECT_FALSE(model.FilterBankLoaded()) << text;
        EXPECT_EQ(messages.Texts(), std::vector<std::string>{"(ReadFilter)-F, Error reading file:\r\n" + d +
                                                             "jpeg_low2_filter.dat"});
    }
}

// ---- the model ----------------------------------------------------------------------------------

TEST(JpegModel, ContrastSensitivityOfTheViewingConditions)
{
    zntest::ScratchDir dir;
    zn::MessageRecorder messages;
    CJpgDctW model(dir.Path());
    // Four picture heights away: the picture spans 2 atan(1/8), about 14.25 degrees.
    EXPECT_NEAR(model.PictureAngle(), 14.25, 0.001);
    const double pi = std::acos(-1.0);
    EXPECT_NEAR(model.PictureAngle(), 2 * std::atan(0.125) * 180 / pi, 1e-9);
    const double alpha = 2 * std::atan(0.125) * 180 / pi;
    for (int level = 0; level < 5; ++level)
        for (int o = 0; o < 4; ++o)
            for (float lum : {0.5f, 10.0f, 80.0f}) {
                const double f = 4 * std::pow(0.5, level) / (6.2831855 * alpha / 576);
                const double a = 540 * std::pow(1 + 0.7 / lum, -0.2);
                const double b = 0.3 * std::pow(1 + 100 / lum, 0.15) * f;
                const double csf = a / (1 + 12 / (1.2 * alpha * std::pow(1 + f / 3, 2))) * f * std::exp(-b) *
                                   std::sqrt(1 + 0.06 * std::exp(b)) *
                                   (0.89 + 0.11 * std::cos(4.0 * kJpgTheta[o]));
                EXPECT_NEAR(model.Csf(level, kJpgTheta[o], lum), csf, 1e-9 * csf + 1e-12)
                    << level << " " << o;
            }
    // Black (and anything below it) counts as the least luminance.
    EXPECT_GT(model.Csf(0, 0, 0.0f), 0.0);
    EXPECT_TRUE(std::isfinite(model.Csf(0, 0, -5.0f)));
    EXPECT_EQ(model.Csf(2, 0, 0.0f), model.Csf(2, 0, kJpgMinLuminance));
}

void Picture(ZnImage *p, int size, const std::function<double(int, int)> &f)
{
    jpegtest::Fill(p, size, size, f);
}

TEST(JpegModel, MissingConversionTableMakesEveryBlockFlat)
{
    zntest::ScratchDir dir;
    zn::MessageRecorder messages;
    jpegtest::WriteDesignFiles(dir.Path(), false);
    CJpgDctW model(dir.Path());
    EXPECT_TRUE(model.FilterBankLoaded());
    EXPECT_FALSE(model.ConversionTableLoaded());
    EXPECT_EQ(messages.Texts(),
              std::vector<std::string>{"(CJpgDctW())-Error: Cannot open conversion table\r\n" + dir.Path() +
                                       "jpeg_optimconvtable.dat"});
    for (float w : model.m_fConvTable)
        ASSERT_EQ(w, 0.2f);
    ZnImage p, t;
    Picture(&p, 64, jpegtest::PhotoPixel);
    model.SensitivityMap(p, &t);
    bool varies = false;
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c) {
            const float first = t.Data()[(8 * r) * 64 + 8 * c];
            for (int k = 0; k < 64; ++k)
                ASSERT_FLOAT_EQ(t.Data()[(8 * r + k / 8) * 64 + 8 * c + k % 8], first) << r << "," << c;
            varies |= first != t.Data()[0];
        }
    EXPECT_TRUE(varies) << "the blocks themselves differ";
}

TEST(JpegModel, MapOfAPictureAndItsMatrix)
{
    zntest::ScratchDir dir;
    zn::MessageRecorder messages;
    jpegtest::WriteDesignFiles(dir.Path());
    CJpgDctW model(dir.Path());
    ASSERT_TRUE(model.ConversionTableLoaded());
    EXPECT_EQ(messages.Count(), 0u);
    // Entries: band 0's coefficient (v, u) = (0, 0) weighs 1 / (1 + 12); band 23 is not in the file.
    EXPECT_NEAR(model.m_fConvTable[0], 1.0 / 13.0, 1e-6);
    EXPECT_EQ(model.m_fConvTable[23 * 64 + 5], 0.0f);

    for (auto pixel : {std::function<double(int, int)>(jpegtest::PhotoPixel),
                       std::function<double(int, int)>([](int, int) { return 0.0; })}) { // black
        ZnImage p, t;
        Picture(&p, 64, pixel);
        model.SensitivityMap(p, &t);
        for (int i = 0; i < 64 * 64; ++i)
            ASSERT_TRUE(std::isfinite(t.Data()[i]) && t.Data()[i] >= 0) << i;
        const auto steps = JpgMatrixFromMap(t);
        for (int16_t s : steps) {
            EXPECT_GE(s, 1);
            EXPECT_LE(s, 255);
        }
        JpgScaleMap(&t);
        const auto [lo, hi] = std::minmax_element(t.Data(), t.Data() + 64 * 64);
        EXPECT_EQ(*lo, 0.0f);
        EXPECT_EQ(*hi, 255.0f);
    }
}

TEST(JpegModel, StepsFollowTheMapAndAMapWithoutContrastIsGrey)
{
    ZnImage t;
    t.Alloc(16, 16);
    // Rows 0..3 of every block are four times as visible as rows 4..7; coefficient 63 is invisible.
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            t.Data()[y * 16 + x] = (y % 8) < 4 ? 4.0f : 1.0f;
    t.Data()[7 * 16 + 7] = t.Data()[7 * 16 + 15] = t.Data()[15 * 16 + 7] = t.Data()[15 * 16 + 15] = 0.0f;
    const auto zz = JpgMatrixFromMap(t);
    std::array<int, 64> natural;
    for (int k = 0; k < 64; ++k)
        natural[kJpegZigzagToNatural[k]] = zz[k];
    // Steps 1 / sqrt(visibility): the less visible rows get twice the step; the mean of the 63 seen
    // steps is the Standard Y table's mean (57.625).
    const double s = 57.625 * 63 / (32 / 2.0 + 31 / 1.0);
    EXPECT_EQ(natural[0], std::lround(s / 2));
    EXPECT_EQ(natural[40], std::lround(s));
    EXPECT_EQ(natural[63], 255);
    // A map that sees nothing gives the Standard Y table.
    std::fill(t.Data(), t.Data() + 256, 0.0f);
    const auto none = JpgMatrixFromMap(t);
    for (int k = 0; k < 64; ++k)
        EXPECT_EQ(none[k], JpegBaseTable(kJpegStandardY)[kJpegZigzagToNatural[k]]);
    // Scaling a map without contrast gives mid grey, not a division by zero.
    std::fill(t.Data(), t.Data() + 256, 3.0f);
    JpgScaleMap(&t);
    EXPECT_EQ(t.Data()[77], 128.0f);
    EXPECT_FALSE(JpgDesignSizeOk(64, 72));
    EXPECT_FALSE(JpgDesignSizeOk(8, 16));
    EXPECT_TRUE(JpgDesignSizeOk(48, 64));
}

TEST(JpegModel, DesignedMatrixFileRoundTrip)
{
    zntest::ScratchDir dir;
    std::array<int16_t, 64> m;
    for (int k = 0; k < 64; ++k)
        m[k] = static_cast<int16_t>(k * 517 - 9000);
    ASSERT_TRUE(JpegWriteDesignedMatrix(dir.File(kJpegMatrixName), m));
    const auto bytes = zntest::ReadFileBytes(dir.File(kJpegMatrixName));
    ASSERT_EQ(bytes.size(), 128u);
    EXPECT_EQ(bytes[2], (517 - 9000) & 0xFF); // little-endian
    EXPECT_EQ(bytes[3], ((517 - 9000) >> 8) & 0xFF);
    std::array<int16_t, 64> back{};
    ASSERT_TRUE(JpegReadDesignedMatrix(dir.File(kJpegMatrixName), &back));
    EXPECT_EQ(back, m);
    // Shorter than 128 bytes, or missing: not a matrix.
    zntest::WriteFileBytes(dir.File("short.dat"), std::vector<unsigned char>(127, 1));
    EXPECT_FALSE(JpegReadDesignedMatrix(dir.File("short.dat"), &back));
    EXPECT_FALSE(JpegReadDesignedMatrix(dir.File("none.dat"), &back));
    EXPECT_FALSE(JpegWriteDesignedMatrix(dir.File("no/such/dir.dat"), m));
}

} // namespace

} // namespace jpeg_design_test
