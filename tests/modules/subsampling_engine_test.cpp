// The subsampling engine against closed forms: the designed filter's frequency response evaluated
// directly, a cosine above the new Nyquist frequency that must alias (unfiltered) or vanish
// (filtered), pixel repetition, and the repeated spectrum against the direct DFT of the zero-stuffed
// image, which has exactly that spectrum.
#include "image/cdib.h"
#include "image/numeric.h"
#include "image/tables.h"
#include "image/znimage.h"
#include "modules/subsampling/ss_engine.h"
#include "modules/subsampling/ss_run.h"
#include "platform/messages.h"

#include <cmath>
#include <complex>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace subsampling_engine_test { // one namespace per test file: a folder compiles as one source

namespace {

constexpr double kPi = 3.14159265358979323846;

struct FiltDel
{
    void operator()(Filt *f) const { FreeFilt(f); }
};
using FiltPtr = std::unique_ptr<Filt, FiltDel>;

FiltPtr Design(int taps, int factor)
{
    Filt *f = nullptr;
    SsMakeFIR(&f, taps, 0.5f / factor, TAPER_HAMMING);
    return FiltPtr(f);
}

// Zero-phase response of a symmetric filter at nu cycles per sample, by direct summation.
double Response(const std::vector<float> &c, double nu)
{
    const int h = static_cast<int>(c.size()) / 2;
    double sum = 0;
    for (int k = 0; k < static_cast<int>(c.size()); ++k)
        sum += c[k] * std::cos(2 * kPi * nu * (k - h));
    return sum;
}

struct ImgDel
{
    void operator()(Img *i) const { FreeImg(i); }
};
using ImgPtr = std::unique_ptr<Img, ImgDel>;

ImgPtr FloatImg(int rows, int cols, const std::function<float(int, int)> &v)
{
    Img *img = nullptr;
    AllocImg(&img, rows, cols, IMG_REP_FLOAT, IMG_SEQ_MONO);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c)
            img->FloatPlane()[r * cols + c] = v(r, c);
    return ImgPtr(img);
}

ImgPtr Decimated(const Img *in, const Filt *filt, int f)
{
    Img *out = nullptr;
    AllocImg(&out, in->rows, in->cols, in->rep, IMG_SEQ_MONO);
    DemoSsImg(in, filt, f, out);
    return ImgPtr(out);
}

FiltPtr OneTap()
{
    Filt *f = nullptr;
    AllocFilt1d(&f, 1, 1, FILT_FIR);
    f->coef1[0] = 1.0f;
    return FiltPtr(f);
}

TEST(SsMakeFIR, WindowedSincOfEveryOfferedLengthAndFactor)
{
    for (int taps : {5, 9, 13, 17, 21}) {
        for (int f : {2, 4, 8, 16, 32, 64}) {
            SCOPED_TRACE(testing::Message() << taps << " taps, factor " << f);
            FiltPtr filt = Design(taps, f);
            ASSERT_NE(filt, nullptr);
            const std::vector<float> &c = filt->coef1;
            ASSERT_EQ(c.size(), static_cast<size_t>(taps));
            // Textbook form: 2 fc sinc(2 fc t) times the Hamming window, scaled to unit DC gain.
            const double fc = 0.5 / f;
            const int h = taps / 2;
            std::vector<double> ref(taps);
            double s = 0;
            for (int k = 0; k < taps; ++k) {
                const double t = k - h;
                const double ideal = t == 0 ? 2 * fc : std::sin(2 * kPi * fc * t) / (kPi * t);
                ref[k] = ideal * (0.54 - 0.46 * std::cos(2 * kPi * k / (taps - 1)));
                s += ref[k];
            }
            double sum = 0;
            for (int k = 0; k < taps; ++k) {
                EXPECT_EQ(c[k], c[taps - 1 - k]);
                EXPECT_NEAR(c[k], ref[k] / s, 2e-6);
                sum += c[k];
            }
            EXPECT_NEAR(sum, 1.0, 1e-6);
            EXPECT_NEAR(Response(c, 0.0), 1.0, 1e-6);
        }
    }
    // Half band: the centre before scaling is 2 fc = 0.5, its neighbours 0.54 / pi, the ends
    // sin(pi) = 0, so the scaled centre is 0.5 / (0.5 + 2 x 0.54 / pi).
    FiltPtr five = Design(5, 2);
    EXPECT_NEAR(five->coef1[2], 0.5 / (0.5 + 2 * 0.54 / kPi), 1e-6);
    EXPECT_NEAR(five->coef1[0], 0.0, 1e-7);
}

TEST(SsMakeFIR, FrequencyResponseOfHammingDesigns)
{
    // A Hamming design has its transition band about 3.3 / N wide around the cut-off, passband
    // ripple and stopband level near -53 dB; the response at the cut-off itself is about 1/2.
    struct Case
    {
        int taps, factor;
    };
    for (Case k : {Case{21, 2}, Case{17, 2}, Case{21, 4}}) {
        SCOPED_TRACE(testing::Message() << k.taps << " taps, factor " << k.factor);
        FiltPtr filt = Design(k.taps, k.factor);
        const double fc = 0.5 / k.factor, edge = 2.0 / k.taps;
        EXPECT_NEAR(Response(filt->coef1, fc), 0.5, 0.02);
        for (double nu = 0; nu <= 0.5; nu += 1.0 / 512) {
            const double hnu = Response(filt->coef1, nu);
            if (nu <= fc - edge) {
                EXPECT_NEAR(hnu, 1.0, 0.005) << nu;
            } else if (nu >= fc + edge) {
                EXPECT_LT(std::fabs(hnu), 0.005) << nu;
            }
        }
    }
}

TEST(SsMakeFIR, EvenOrEmptyLengthsAreRefused)
{
    for (int taps : {4, 0, -3}) {
        zn::MessageRecorder rec;
        Filt *f = reinterpret_cast<Filt *>(&rec); // must be overwritten
        SsMakeFIR(&f, taps, 0.25f, TAPER_HAMMING);
        EXPECT_EQ(f, nullptr);
        EXPECT_EQ(rec.Texts(), std::vector<std::string>{"SsMakeFIR - only odd lengths supported"});
    }
}

TEST(DemoSsImg, PlainDecimationKeepsEvenRowsAndColumns)
{
    ImgPtr in = FloatImg(8, 16, [](int r, int c) { return static_cast<float>(r * 16 + c); });
    ImgPtr out = Decimated(in.get(), OneTap().get(), 2);
    ASSERT_EQ(out->rows, 4);
    ASSERT_EQ(out->cols, 8);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 8; ++j)
            EXPECT_EQ(out->FloatPlane()[i * 8 + j], (2 * i) * 16 + 2 * j);
}

TEST(DemoSsImg, CosineAboveTheNewNyquistAliasesUnlessFiltered)
{
    // 0.375 cycles per sample kept at every 2nd sample is 0.75 cycles per new sample, seen as 0.25.
    const int n = 64;
    ImgPtr in = FloatImg(n, n, [](int, int c) { return 128.0f + 100.0f * std::cos(2 * kPi * 0.375 * c); });
    ImgPtr plain = Decimated(in.get(), OneTap().get(), 2);
    for (int j = 0; j < n / 2; ++j)
        EXPECT_NEAR(plain->FloatPlane()[5 * (n / 2) + j], 128.0 + 100.0 * std::cos(2 * kPi * 0.25 * j), 1e-3);
    // The 21-tap filter stops it (beyond the border repetition zone of 10 input samples).
    ImgPtr filtered = Decimated(in.get(), Design(21, 2).get(), 2);
    for (int j = 6; j < n / 2 - 6; ++j)
        EXPECT_NEAR(filtered->FloatPlane()[5 * (n / 2) + j], 128.0, 0.5) << j;
}

TEST(DemoSsImg, EdgesRepeatSoFlatStaysFlat)
{
    for (int f : {2, 4, 8}) {
        ImgPtr in = FloatImg(32, 32, [](int, int) { return 200.0f; });
        ImgPtr out = Decimated(in.get(), Design(21, f).get(), f);
        for (int k = 0; k < out->rows * out->cols; ++k)
            ASSERT_NEAR(out->FloatPlane()[k], 200.0f, 1e-3) << "factor " << f << " sample " << k;
    }
}

TEST(DemoSsImg, BytesClampTheOvershootFloatsKeepIt)
{
    // A step 0 -> 255 rings past 255 after a windowed sinc (Gibbs); bytes clip it, floats do not.
    const int n = 32;
    ImgPtr fin = FloatImg(n, n, [](int, int c) { return c < 15 ? 0.0f : 255.0f; });
    Img *bin = nullptr;
    AllocImg(&bin, n, n, IMG_REP_BYTE, IMG_SEQ_MONO);
    ImgPtr bytes(bin);
    for (int k = 0; k < n * n; ++k)
        bin->BytePlane()[k] = static_cast<uint8_t>(fin->FloatPlane()[k]);
    FiltPtr filt = Design(21, 2);
    ImgPtr fo = Decimated(fin.get(), filt.get(), 2);
    ImgPtr bo = Decimated(bytes.get(), filt.get(), 2);
    float maxF = 0, minF = 255;
    for (int k = 0; k < fo->rows * fo->cols; ++k) {
        maxF = std::max(maxF, fo->FloatPlane()[k]);
        minF = std::min(minF, fo->FloatPlane()[k]);
        const float clipped = std::clamp(fo->FloatPlane()[k], 0.0f, 255.0f);
        EXPECT_NEAR(bo->BytePlane()[k], std::trunc(clipped), 1.0f);
    }
    EXPECT_GT(maxF, 256.0f);
    EXPECT_LT(minF, -1.0f);
}

TEST(DemoSsImg, MixedRepresentationsAreRefusedUntouched)
{
    ImgPtr in = FloatImg(4, 4, [](int, int) { return 1.0f; });
    Img *o = nullptr;
    AllocImg(&o, 4, 4, IMG_REP_INT, IMG_SEQ_MONO);
    ImgPtr out(o);
    zn::MessageRecorder rec;
    DemoSsImg(in.get(), OneTap().get(), 2, out.get());
    EXPECT_EQ(rec.Texts(),
              std::vector<std::string>{"DemoSsImg - Only PACKED and FLOAT images are supported"});
    EXPECT_EQ(out->rows, 4);
    EXPECT_EQ(out->cols, 4);
}

TEST(SsBlowUpImg, EverySampleBecomesABlock)
{
    for (int f : {2, 3, 4}) {
        ImgPtr img = FloatImg(2 * f, 3 * f, [](int r, int c) { return static_cast<float>(r * 3 + c); });
        img->rows = 2;
        img->cols = 3;
        SsBlowUpImg(img.get(), f);
        ASSERT_EQ(img->rows, 2 * f);
        ASSERT_EQ(img->cols, 3 * f);
        for (int r = 0; r < 2 * f; ++r)
            for (int c = 0; c < 3 * f; ++c)
                EXPECT_EQ(img->FloatPlane()[r * 3 * f + c], (r / f) * 3 + c / f);
    }
}

TEST(SsRepeatSpectrum, EqualsTheSpectrumOfTheZeroStuffedImage)
{
    // Inserting f-1 zeros between samples (in both directions) makes the DFT of the R x C result
    // exactly the small image's DFT repeated f x f times.
    const int f = 2, sr = 4, sc = 8, rows = sr * f, cols = sc * f;
    auto small = [](int r, int c) { return static_cast<float>((r * 37 + c * 11) % 23); };
    ImgPtr img = FloatImg(sr, sc, small);
    Spectrum *raw = nullptr;
    AllocSpectrum(&raw, rows, cols);
    std::unique_ptr<Spectrum, void (*)(Spectrum *)> spectrum(raw, FreeSpectrum);
    ImgFFT(img.get(), spectrum.get(), TAPER_RECT);
    SsRepeatSpectrum(spectrum.get(), f);
    for (int u = 0; u < rows; ++u)
        for (int v = 0; v < cols; ++v) {
            std::complex<double> x = 0;
            for (int r = 0; r < sr; ++r)
                for (int c = 0; c < sc; ++c) // the image is 0 away from (f r, f c)
                    x += double(small(r, c)) *
                         std::polar(1.0, 2 * kPi * (double(u * f * r) / rows + double(v * f * c) / cols));
            EXPECT_NEAR(spectrum->re[u * cols + v], x.real(), 1e-3) << u << "," << v;
            EXPECT_NEAR(spectrum->im[u * cols + v], x.imag(), 1e-3) << u << "," << v;
        }
}

std::unique_ptr<CDib> Grey(int w, int h, const std::function<int(int, int)> &px)
{
    auto d = std::make_unique<CDib>();
    d->Create24(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t *p = d->StoredRow(h - 1 - y) + 3 * x;
            p[0] = p[1] = p[2] = static_cast<uint8_t>(px(x, y));
        }
    return d;
}

TEST(SsRun, FactorsBeyondASideAreRefusedBeforeAnythingIsRead)
{
    struct Case
    {
        int w, h, factor;
    };
    for (Case k : {Case{32, 32, 64}, Case{64, 32, 64}, Case{32, 64, 64}, Case{2, 2, 4}}) {
        SCOPED_TRACE(testing::Message() << k.w << "x" << k.h << " factor " << k.factor);
        auto dib = Grey(k.w, k.h, [](int, int) { return 10; });
        zn::MessageRecorder rec;
        SsRunResult r;
        SsRun(SsParams{k.factor, 5, 0, 1}, dib.get(), "tiny", &r);
        EXPECT_TRUE(r.refused);
        EXPECT_FALSE(r.hasChain || r.hasSpectrum || r.replaceText);
        ASSERT_EQ(rec.Count(), 1u);
        EXPECT_EQ(rec.Texts()[0],
                  zn::Format("Sorry: Subsampling factor %i is larger than the image (%i x %i).", k.factor,
                             k.h, k.w));
    }
}

TEST(SsRun, FactorAsLargeAsTheImageLeavesOnePixel)
{
    // 32 x 32 by 32: one sample, blown up to a flat 32 x 32 image, its spectrum a flat plane.
    auto dib = Grey(32, 32, [](int x, int y) { return 77 + x * 5 + y * 3; });
    zn::MessageRecorder rec;
    SsRunResult r;
    SsRun(SsParams{32, 0, 0, 1}, dib.get(), "tiny", &r);
    EXPECT_EQ(rec.Count(), 0u);
    ASSERT_TRUE(r.hasChain && r.hasSpectrum);
    EXPECT_EQ(
        r.results,
        "  New image dimensions : 1 x 1\r\n  Subsampled image is magnified by pixel\r\n  repeating\r\n\r\n");
    ASSERT_EQ(r.result.Rows(), 32);
    ASSERT_EQ(r.spectrum.Rows(), 32);
    const float v = r.result.Data()[0];
    EXPECT_NEAR(v, 77.0f, 1e-3); // pixel (0, 0)
    const float s = r.spectrum.Data()[0];
    EXPECT_NEAR(s, 29 * std::log10(77.0 * 77.0) - 100, 1e-3); // the 1 x 1 spectrum is the sample
    for (int k = 0; k < 32 * 32; ++k) {
        ASSERT_EQ(r.result.Data()[k], v);
        ASSERT_EQ(r.spectrum.Data()[k], s);
    }
}

TEST(SsRun, SpectrumOfSubsampledImageIsRepeatedOverTheFullPlane)
{
    auto dib =
        Grey(64, 32, [](int x, int y) { return 128 + static_cast<int>(90 * std::sin(x * 0.7 + y * 0.3)); });
    SsRunResult r;
    SsRun(SsParams{4, 9, 3, 0}, dib.get(), "wave", &r);
    ASSERT_TRUE(r.hasSpectrum);
    ASSERT_EQ(r.spectrum.Rows(), 32);
    ASSERT_EQ(r.spectrum.Cols(), 64);
    EXPECT_EQ(r.result.Rows(), 8);
    EXPECT_EQ(r.result.Cols(), 16);
    for (int u = 0; u < 32; ++u)
        for (int v = 0; v < 64; ++v)
            ASSERT_EQ(r.spectrum.Data()[u * 64 + v], r.spectrum.Data()[(u % 8) * 64 + v % 16])
                << u << "," << v;
}

} // namespace

} // namespace subsampling_engine_test
