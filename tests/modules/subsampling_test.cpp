// The subsampling module driven through its dialog: pages and their resets, the texts, names and
// captions of the chain and spectrum windows, the centred spectrum of a cosine against its closed
// form, plain decimation against ImageMagick's point sampling, and factors the image cannot take.
#include "modules/module_harness.h"

#include "image/cdib.h"
#include "modules/subsampling/ss_dlg.h"
#include "platform/messages.h"
#include "shell/dib_doc.h"
#include "shell/dib_frame.h"
#include "shell/doc_commands.h"
#include "shell/rd_database.h"

#include <QPushButton>
#include <cmath>
#include <gtest/gtest.h>

namespace subsampling_test { // one namespace per test file: a folder compiles as one source

using zntest::ModuleHarness;

namespace {

constexpr int kApply = 1553;
constexpr int kResults = 1552;
constexpr int kApplySubsampling = 1516, kBlowUp = 1288;
constexpr int kApplyFilter = 1526, kShowSpectrum = 1832;
constexpr int kFactorIds[] = {1517, 1518, 1519, 1520, 1521, 1522};
constexpr int kTapIds[] = {1528, 1529, 1530, 1531, 1532};
constexpr int kNone = 1034, kTriangular = 1535, kHamming = 1536;
constexpr double kPi = 3.14159265358979323846;

std::unique_ptr<CDib> Photo(int w = 64, int h = 32)
{
    return zntest::MakeGreyDib(w, h, [](int x, int y) {
        return 30 + 2 * x + y + ((x / 8 + y / 8) % 2) * 60 + ((x * 7 + y * 13) % 11);
    });
}

struct SsFixture : ::testing::Test
{
    void SetUp() override { RegisterSubsamplingModule(); }

    CSsDlg *Open(const std::string &title, const CDib &image)
    {
        doc = h.OpenImage(title, image);
        return h.Open<CSsDlg>(doc, zn::cmd::kSubsampling);
    }
    // Subsampling on at `factor` (0: off), the filter (0: off) and the spectrum window (-1: off).
    void Choose(CSsDlg *dlg, int factor, int taps, int window, bool blowUp)
    {
        if (ModuleHarness::IsChecked(dlg, kApplySubsampling) != (factor != 0))
            ModuleHarness::Click(dlg, kApplySubsampling);
        if (factor) {
            ModuleHarness::Click(dlg, kFactorIds[static_cast<int>(std::log2(factor)) - 1]);
            if (ModuleHarness::IsChecked(dlg, kBlowUp) != blowUp)
                ModuleHarness::Click(dlg, kBlowUp);
            if (!taps)
                ModuleHarness::Click(dlg, kApplyFilter); // the factor switched it on with 5 taps
            else
                ModuleHarness::Click(dlg, kTapIds[(taps - 5) / 4]);
        }
        if (ModuleHarness::IsChecked(dlg, kShowSpectrum) != (window != -1))
            ModuleHarness::Click(dlg, kShowSpectrum);
        if (window != -1)
            ModuleHarness::Click(dlg, window == 0 ? kNone : window == 1 ? kTriangular : kHamming);
    }
    CDibFrame *WindowA() { return doc->m_pResultFrameA; }
    const CDib &ImageA() { return *WindowA()->View()->GetDib(); }

    zn::MessageRecorder messages;
    ModuleHarness h;
    CDibDoc *doc = nullptr;
};

TEST_F(SsFixture, OpensWithItsPagesDefaultsAndNoRDModule)
{
    CSsDlg *dlg = Open("photo", *Photo());
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(dlg->windowTitle().toStdString(), "Subsampling: photo");
    ASSERT_EQ(dlg->TabCtrl()->GetItemCount(), 3);
    EXPECT_EQ(dlg->TabCtrl()->GetTabText(0).toStdString(), "Factor");
    EXPECT_EQ(dlg->TabCtrl()->GetTabText(1).toStdString(), "Filter");
    EXPECT_EQ(dlg->TabCtrl()->GetTabText(2).toStdString(), "Spectrum");
    EXPECT_TRUE(dlg->TabCtrl()->IsTabEnabled(0));
    EXPECT_FALSE(dlg->TabCtrl()->IsTabEnabled(1));
    EXPECT_TRUE(dlg->TabCtrl()->IsTabEnabled(2));
    EXPECT_TRUE(ModuleHarness::IsEnabled(dlg, kApply));
    for (bool active : doc->m_pRDData->m_bModuleActive)
        EXPECT_FALSE(active);

    // Factor page: blow-up checked but disabled with the group and the factors.
    EXPECT_TRUE(ModuleHarness::IsChecked(dlg, kBlowUp));
    EXPECT_FALSE(ModuleHarness::IsChecked(dlg, kApplySubsampling));
    for (int id : {1515, kBlowUp, 1517, 1518, 1519, 1520, 1521, 1522})
        EXPECT_FALSE(ModuleHarness::IsEnabled(dlg, id)) << id;
    // Filter page: only its check box enabled, nothing checked.
    EXPECT_TRUE(ModuleHarness::IsEnabled(dlg, kApplyFilter));
    for (int id : {1527, 1528, 1529, 1530, 1531, 1532})
        EXPECT_FALSE(ModuleHarness::IsEnabled(dlg, id)) << id;
    for (int id : {kApplyFilter, 1528, 1529, 1530, 1531, 1532})
        EXPECT_FALSE(ModuleHarness::IsChecked(dlg, id)) << id;
    // Spectrum page: on, no window, all enabled.
    for (int id : {kShowSpectrum, kNone})
        EXPECT_TRUE(ModuleHarness::IsChecked(dlg, id)) << id;
    for (int id : {1033, kShowSpectrum, kNone, kTriangular, kHamming})
        EXPECT_TRUE(ModuleHarness::IsEnabled(dlg, id)) << id;

    EXPECT_EQ(dlg->ActiveParams().factor, -1);
    EXPECT_EQ(dlg->ActiveParams().taps, -1);
    EXPECT_EQ(dlg->ActiveParams().window, -1);
    EXPECT_EQ(dlg->PendingParams().factor, 0);
    EXPECT_EQ(dlg->PendingParams().taps, 0);
    EXPECT_EQ(dlg->PendingParams().window, 0);

    ModuleHarness::Click(dlg, 2);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(doc->m_pSubsampDlg, nullptr);
    EXPECT_TRUE(messages.Texts().empty());
}

TEST_F(SsFixture, FactorChoicesResetTheFilterToFiveTaps)
{
    CSsDlg *dlg = Open("photo", *Photo());
    ModuleHarness::Click(dlg, kApplySubsampling);
    EXPECT_TRUE(ModuleHarness::IsChecked(dlg, 1517));
    EXPECT_TRUE(dlg->TabCtrl()->IsTabEnabled(1));
    EXPECT_TRUE(ModuleHarness::IsChecked(dlg, kApplyFilter));
    EXPECT_TRUE(ModuleHarness::IsChecked(dlg, 1528));
    EXPECT_EQ(dlg->PendingParams().factor, 2);
    EXPECT_EQ(dlg->PendingParams().taps, 5);
    EXPECT_EQ(dlg->PendingParams().blowUp, 1);

    struct Step
    {
        int click; // the Factor-page control clicked after choosing 21 taps
        int factor, blowUp;
        int taps; // pending taps afterwards
    };
    for (Step s : {Step{1519, 8, 1, 5}, Step{1519, 8, 1, 21}, Step{kBlowUp, 8, 0, 5}, Step{1522, 64, 0, 5}}) {
        SCOPED_TRACE(s.click);
        ModuleHarness::Click(dlg, 1532);
        EXPECT_EQ(dlg->PendingParams().taps, 21);
        ModuleHarness::Click(dlg, s.click); // the same factor again tells nobody
        EXPECT_EQ(dlg->PendingParams().factor, s.factor);
        EXPECT_EQ(dlg->PendingParams().blowUp, s.blowUp);
        EXPECT_EQ(dlg->PendingParams().taps, s.taps);
        EXPECT_EQ(ModuleHarness::IsChecked(dlg, 1528), s.taps == 5);
        EXPECT_EQ(ModuleHarness::IsChecked(dlg, 1532), s.taps == 21);
    }

    // Off: no factor, no taps, the Filter tab disabled; its controls keep their state.
    ModuleHarness::Click(dlg, kApplySubsampling);
    EXPECT_EQ(dlg->PendingParams().factor, 0);
    EXPECT_EQ(dlg->PendingParams().taps, 0);
    EXPECT_FALSE(dlg->TabCtrl()->IsTabEnabled(1));
    EXPECT_TRUE(ModuleHarness::IsChecked(dlg, kApplyFilter));
    EXPECT_TRUE(ModuleHarness::IsChecked(dlg, 1528));
    EXPECT_FALSE(ModuleHarness::IsChecked(dlg, kBlowUp));
    for (int id : kFactorIds)
        EXPECT_FALSE(ModuleHarness::IsChecked(dlg, id) || ModuleHarness::IsEnabled(dlg, id)) << id;

    // Spectrum off and on again; a window radio sets 0, 1 or 3.
    ModuleHarness::Click(dlg, kShowSpectrum);
    EXPECT_EQ(dlg->PendingParams().window, -1);
    EXPECT_FALSE(ModuleHarness::IsEnabled(dlg, kHamming) || ModuleHarness::IsChecked(dlg, kNone));
    ModuleHarness::Click(dlg, kShowSpectrum);
    EXPECT_TRUE(ModuleHarness::IsChecked(dlg, kNone));
    ModuleHarness::Click(dlg, kHamming);
    EXPECT_EQ(dlg->PendingParams().window, 3);
    ModuleHarness::Click(dlg, kTriangular);
    EXPECT_EQ(dlg->PendingParams().window, 1);
    EXPECT_TRUE(messages.Texts().empty());
}

TEST_F(SsFixture, FirstApplyShowsTheCentredSpectrumOfACosine)
{
    // 128 + 100 cos(2 pi 8 x / 32) takes the levels 228, 128, 28, 128 exactly: DC 128 x 1024 and two
    // lines of 50 x 1024 at 8 cycles either side of the centre, nothing else. 29 log10(power) - 100
    // puts them at 197.0 and 173.1; a power below 1 (FFT rounding) shows black.
    auto cosine = zntest::MakeGreyDib(32, 32, [](int x, int) {
        return 128 + (x % 2 ? 0 : x % 4 ? -100 : 100);
    });
    CSsDlg *dlg = Open("wave", *cosine);
    ModuleHarness::Click(dlg, kApply);
    EXPECT_EQ(ModuleHarness::ChainCount(doc), 0);
    ASSERT_NE(WindowA(), nullptr);
    EXPECT_EQ(WindowA()->windowTitle().toStdString(), "SPECTRUM(wave) Window: NONE");
    EXPECT_EQ(ImageA().m_title, "SPEC_wave_0_0");
    EXPECT_EQ(WindowA()->View()->m_sDescription.toStdString(),
              "SPECTRUM of the wave image\r\n   Window type\t\t: NONE\r\n   No subsampling\r\n");
    EXPECT_EQ(ModuleHarness::ResultText(dlg, kResults), "");
    const CDib &a = ImageA();
    ASSERT_EQ(a.GetWidth(), 32);
    ASSERT_EQ(a.GetHeight(), 32);
    const double dc = 29 * std::log10(std::pow(128.0 * 1024, 2)) - 100;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            const int v = zntest::GreyAt(a, x, y);
            if (y == 16 && x == 16)
                EXPECT_NEAR(v, dc, 1.0);
            else if (y == 16 && (x == 8 || x == 24))
                EXPECT_NEAR(v, 29 * std::log10(std::pow(50.0 * 1024, 2)) - 100, 1.0) << x;
            else
                EXPECT_EQ(v, 0) << x << "," << y;
        }
    EXPECT_EQ(dlg->ActiveParams().factor, 0);
    EXPECT_EQ(dlg->ActiveParams().window, 0);
    EXPECT_TRUE(messages.Texts().empty());
}

TEST_F(SsFixture, PlainFactorTwoKeepsEvenPixelsAndBlowsUpInBlocks)
{
    CSsDlg *dlg = Open("photo", *Photo());
    const CDib &source = *doc->m_pDib;
    // Spectrum from a first run closes when the next run asks for none.
    ModuleHarness::Click(dlg, kApply);
    ASSERT_NE(WindowA(), nullptr);
    for (bool blowUp : {false, true}) {
        SCOPED_TRACE(blowUp);
        Choose(dlg, 2, 0, -1, blowUp);
        ModuleHarness::Click(dlg, kApply);
        EXPECT_EQ(WindowA(), nullptr);
        EXPECT_EQ(ModuleHarness::ChainCaption(doc), "SS(photo): Factor:2 Taps:0");
        EXPECT_EQ(ModuleHarness::ChainImageName(doc), "SS_photo_2_0");
        EXPECT_EQ(
            ModuleHarness::ChainDescription(doc),
            "Subsampled photo image\r\n   Subsampling factor\t: 2\r\n   No anti-alias filter applied\r\n");
        EXPECT_EQ(ModuleHarness::ResultText(dlg, kResults),
                  blowUp ? "  New image dimensions : 16 x 32\r\n  Subsampled image is magnified by pixel\r\n"
                           "  repeating\r\n\r\n"
                         : "  New image dimensions : 16 x 32\r\n\r\n");
        const CDib &out = *ModuleHarness::ChainImage(doc);
        const int s = blowUp ? 1 : 2; // output pixel (x, y) shows input pixel (2 (x / b), 2 (y / b))
        ASSERT_EQ(out.GetWidth(), 64 / s);
        ASSERT_EQ(out.GetHeight(), 32 / s);
        for (int y = 0; y < out.GetHeight(); ++y)
            for (int x = 0; x < out.GetWidth(); ++x) {
                const int sx = blowUp ? x / 2 * 2 : 2 * x, sy = blowUp ? y / 2 * 2 : 2 * y;
                ASSERT_EQ(zntest::GreyAt(out, x, y), zntest::GreyAt(source, sx, sy)) << x << "," << y;
            }
    }
    EXPECT_EQ(ModuleHarness::ChainCount(doc), 2);
    EXPECT_TRUE(messages.Texts().empty());
}

TEST_F(SsFixture, FilteredFactorWithSpectrumTextsAndRepetition)
{
    CSsDlg *dlg = Open("photo", *Photo());
    Choose(dlg, 4, 9, 3, true);
    ModuleHarness::Click(dlg, kApply);
    EXPECT_EQ(dlg->ActiveParams().factor, 4);
    EXPECT_EQ(dlg->ActiveParams().taps, 9);
    EXPECT_EQ(
        ModuleHarness::ResultText(dlg, kResults),
        "  New image dimensions : 8 x 16\r\n  Subsampled image is magnified by pixel\r\n  repeating\r\n\r\n");
    EXPECT_EQ(ModuleHarness::ChainCaption(doc), "SS(photo): Factor:4 Taps:9");
    EXPECT_EQ(ModuleHarness::ChainImageName(doc), "SS_photo_4_9");
    EXPECT_EQ(ModuleHarness::ChainDescription(doc),
              "SUBSAMPLED photo image\r\n   Subsampling factor\t\t: 4\r\n"
              "   Anti-alias filter number of taps\t: 9\r\n");
    ASSERT_NE(WindowA(), nullptr);
    EXPECT_EQ(WindowA()->windowTitle().toStdString(), "SPECTRUM(photo) Window: HAMMING");
    EXPECT_EQ(ImageA().m_title, "SPEC_photo_4_9");
    EXPECT_EQ(
        WindowA()->View()->m_sDescription.toStdString(),
        "SPECTRUM of the photo image\r\n   Window type\t\t\t: HAMMING\r\n   Subsampling factor\t\t: 4\r\n"
        "   Anti-alias filter number of taps\t: 9\r\n");
    // Full size, the 8 x 16 spectrum repeated 4 x 4 times; the blown-up image is full size too.
    const CDib &a = ImageA();
    ASSERT_EQ(a.GetWidth(), 64);
    ASSERT_EQ(a.GetHeight(), 32);
    int distinct = 0;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 64; ++x) {
            ASSERT_EQ(zntest::GreyAt(a, x, y), zntest::GreyAt(a, x % 16, y % 8)) << x << "," << y;
            distinct += zntest::GreyAt(a, x, y) != zntest::GreyAt(a, 0, 0);
        }
    EXPECT_GT(distinct, 0);
    EXPECT_EQ(ModuleHarness::ChainImage(doc)->GetWidth(), 64);
    EXPECT_EQ(ModuleHarness::ChainImage(doc)->GetHeight(), 32);

    // Without the filter the spectrum text says so, with the triangular window's name.
    Choose(dlg, 4, 0, 1, false);
    ModuleHarness::Click(dlg, kApply);
    EXPECT_EQ(WindowA()->windowTitle().toStdString(), "SPECTRUM(photo) Window: TRIANGULAR");
    EXPECT_EQ(
        WindowA()->View()->m_sDescription.toStdString(),
        "SPECTRUM of the photo image\r\n   Window type\t\t\t: TRIANGULAR\r\n   Subsampling factor\t\t: 4\r\n"
        "   No anti-alias filter used\r\n");
    EXPECT_EQ(ImageA().m_title, "SPEC_photo_4_0");
    EXPECT_TRUE(messages.Texts().empty());
}

TEST_F(SsFixture, FactorsBeyondTheImageAreRefusedAndChangeNothing)
{
    CSsDlg *dlg = Open("small", *Photo(32, 16));
    Choose(dlg, 2, 5, 0, true);
    ModuleHarness::Click(dlg, kApply);
    const std::string text = ModuleHarness::ResultText(dlg, kResults);
    const std::string caption = ModuleHarness::ChainCaption(doc);
    ASSERT_EQ(ModuleHarness::ChainCount(doc), 1);
    for (int factor : {32, 64}) { // 32: wider than high
        Choose(dlg, factor, 5, 0, true);
        ModuleHarness::Click(dlg, kApply);
        EXPECT_EQ(messages.Texts(),
                  std::vector<std::string>{zn::Format(
                      "Sorry: Subsampling factor %i is larger than the image (16 x 32).", factor)});
        messages.Clear();
        EXPECT_EQ(ModuleHarness::ChainCount(doc), 1);
        EXPECT_EQ(ModuleHarness::ChainCaption(doc), caption);
        EXPECT_EQ(ModuleHarness::ResultText(dlg, kResults), text);
        EXPECT_EQ(WindowA()->windowTitle().toStdString(), "SPECTRUM(small) Window: NONE");
    }
    // As large as the height: one row of two samples.
    Choose(dlg, 16, 0, -1, false);
    ModuleHarness::Click(dlg, kApply);
    EXPECT_TRUE(messages.Texts().empty());
    EXPECT_EQ(ModuleHarness::ResultText(dlg, kResults), "  New image dimensions : 1 x 2\r\n\r\n");
}

TEST_F(SsFixture, DecimationAgreesWithImageMagickPointSampling)
{
    ZN_REQUIRE_TOOL("convert");
    ZN_REQUIRE_TOOL("compare");
    // ImageMagick's -sample with the sampling point at the top-left of each f x f cell (offset 1%)
    // keeps the same pixels; sampling up again repeats them.
    auto check = [&](CDibDoc *d, const std::string &reference, int factor, bool blowUp) {
        auto *dlg = h.Open<CSsDlg>(d, zn::cmd::kSubsampling);
        ASSERT_NE(dlg, nullptr);
        Choose(dlg, factor, 0, -1, blowUp);
        ModuleHarness::Click(dlg, kApply);
        const int w = d->m_pDib->GetWidth(), ht = d->m_pDib->GetHeight();
        const std::string expected = h.Dir().File("expected.bmp");
        std::string cmd = "convert " + zntest::ShellQuote(reference) + " -define sample:offset=1 -sample " +
                          std::to_string(w / factor) + "x" + std::to_string(ht / factor) + "!";
        if (blowUp)
            cmd += " -sample " + std::to_string(w) + "x" + std::to_string(ht) + "!";
        ASSERT_EQ(zntest::Run(cmd + " -type TrueColor BMP3:" + zntest::ShellQuote(expected)), 0);
        const std::string got = h.SaveChainImage(d, "got.bmp");
        EXPECT_TRUE(std::isinf(zntest::MagickPsnr(expected, got))) << reference << " factor " << factor;
    };
    Open("photo", *Photo(64, 32));
    for (int factor : {2, 4, 8})
        for (bool blowUp : {false, true})
            check(doc, h.ImagePath(), factor, blowUp);

    zntest::CheckCorpusImages([&](CDibDoc *other, const std::string &reference) {
        if (!other->IsCommandEnabled(zn::cmd::kSubsampling))
            return false; // sides not powers of two: the module is not offered
        check(other, reference, 2, false);
        return true;
    });
}

} // namespace

} // namespace subsampling_test
