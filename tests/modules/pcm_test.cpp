// The PCM module driven through its dialog: texts, quantiser mapping, dither and channel errors,
// R(D) recording, Cancel, and the reported PSNR checked against ImageMagick.
#include "modules/module_harness.h"

#include "image/cdib.h"
#include "image/znimage.h"
#include "modules/pcm/pcm_coder.h"
#include "modules/pcm/pcm_dlg.h"
#include "platform/errors.h"
#include "platform/messages.h"
#include "platform/random.h"
#include "shell/dib_doc.h"
#include "shell/doc_commands.h"
#include "shell/rd_database.h"
#include "shell/rd_graph.h"
#include "shell/rd_plot_dlg.h"
#include "shell/rd_storing_dlg.h"
#include "shell/rd_view.h"

#include <QPushButton>
#include <cmath>
#include <gtest/gtest.h>
#include <set>

namespace pcm_test { // one namespace per test file: a folder compiles as one source

using zntest::ModuleHarness;

namespace {

constexpr int kApply = 1058;
constexpr int kResults = 1503;

// A picture with smooth areas, edges and some texture, so every quantiser has work to do.
std::unique_ptr<CDib> Photo(int w = 96, int h = 80)
{
    return zntest::MakeGreyDib(w, h, [](int x, int y) {
        int v = 40 + x + y / 2 + ((x / 16 + y / 16) % 2) * 60 + ((x * 7 + y * 13) % 11);
        return v;
    });
}

// Every level 0..255 once per row.
std::unique_ptr<CDib> Ramp()
{
    return zntest::MakeGreyDib(256, 2, [](int x, int) { return x; });
}

struct PcmFixture : ::testing::Test
{
    void SetUp() override { RegisterPcmModule(); }
    void TearDown() override { zn::UnpinRandSeed(); }

    CPcmDlg *Open(const std::string &title, const CDib &image)
    {
        doc = h.OpenImage(title, image);
        return h.Open<CPcmDlg>(doc, zn::cmd::kPcm);
    }
    // The page choices of a run: bits 1..7, dither button id (0: off), errors button id (0: off).
    void Choose(CPcmDlg *dlg, int bits, int ditherId = 0, bool subtract = false, int errorId = 0)
    {
        ModuleHarness::Click(dlg, 999 + bits);
        if (ditherId) {
            if (!ModuleHarness::IsChecked(dlg, 1013))
                ModuleHarness::Click(dlg, 1013);
            ModuleHarness::Click(dlg, ditherId);
            if (ModuleHarness::IsChecked(dlg, 1098) != subtract)
                ModuleHarness::Click(dlg, 1098);
        } else if (ModuleHarness::IsChecked(dlg, 1013)) {
            ModuleHarness::Click(dlg, 1013);
        }
        if (errorId) {
            if (!ModuleHarness::IsChecked(dlg, 1019))
                ModuleHarness::Click(dlg, 1019);
            ModuleHarness::Click(dlg, errorId);
        } else if (ModuleHarness::IsChecked(dlg, 1019)) {
            ModuleHarness::Click(dlg, 1019);
        }
    }
    const CDib &Result() { return *ModuleHarness::ChainImage(doc); }

    zn::MessageRecorder messages;
    ModuleHarness h;
    CDibDoc *doc = nullptr;
};

TEST_F(PcmFixture, OpensWithItsPagesAndDefaults)
{
    CPcmDlg *dlg = Open("photo", *Photo());
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(dlg->windowTitle().toStdString(), "PCM: photo");
    ASSERT_EQ(dlg->TabCtrl()->GetItemCount(), 3);
    EXPECT_EQ(dlg->TabCtrl()->GetTabText(0).toStdString(), "Bitrate");
    EXPECT_EQ(dlg->TabCtrl()->GetTabText(1).toStdString(), "Dithering");
    EXPECT_EQ(dlg->TabCtrl()->GetTabText(2).toStdString(), "Errors");
    EXPECT_TRUE(doc->m_pRDData->m_bModuleActive[doc->m_pRDData->GetModuleIndex("PCM")]);
    EXPECT_TRUE(ModuleHarness::IsChecked(dlg, 1000));
    for (int id : {1008, 1509, 1510, 1011, 1012, 1098, 1014, 1015, 1016, 1017, 1018})
        EXPECT_FALSE(ModuleHarness::IsEnabled(dlg, id)) << id;
    EXPECT_EQ(dlg->PendingParams().nBits, 1);

    // Dither on selects 1.0; off clears the step but leaves "Subtract Dither" as it was.
    ModuleHarness::Click(dlg, 1013);
    EXPECT_TRUE(ModuleHarness::IsChecked(dlg, 1510));
    ModuleHarness::Click(dlg, 1098);
    EXPECT_EQ(dlg->PendingParams().fDitherFactor, 1.0f);
    EXPECT_EQ(dlg->PendingParams().bSubtractDither, 1);
    ModuleHarness::Click(dlg, 1013);
    EXPECT_FALSE(ModuleHarness::IsChecked(dlg, 1510));
    EXPECT_TRUE(ModuleHarness::IsChecked(dlg, 1098));
    EXPECT_FALSE(ModuleHarness::IsEnabled(dlg, 1098));
    EXPECT_EQ(dlg->PendingParams().fDitherFactor, 0.0f);

    ModuleHarness::Click(dlg, 1019);
    EXPECT_TRUE(ModuleHarness::IsChecked(dlg, 1015));
    EXPECT_EQ(dlg->PendingParams().fErrorProb, 0.005f);
    EXPECT_EQ(dlg->ActiveParams().nBits, 0); // nothing applied yet
}

TEST_F(PcmFixture, ResultTextNameCaptionAndDescription)
{
    zn::PinRandSeed(5);
    CPcmDlg *dlg = Open("photo", *Photo());
    Choose(dlg, 3, 1509, false, 1015);
    ModuleHarness::Click(dlg, kApply);
    EXPECT_EQ(ModuleHarness::ChainImageName(doc), "PCM_photo_3_075_005");
    EXPECT_EQ(ModuleHarness::ChainCaption(doc), "PCM(photo): Bitr:3 Dith:0.75 Errors:0.005");
    const std::string text = ModuleHarness::ResultText(dlg, kResults);
    EXPECT_EQ(text.substr(0, text.find("   Mean square error")),
              "Selected Uniform Quantizer:\r\n"
              "   Quantizer #levels                : 8 \r\n"
              "   Quantizer stepsize               : 32 \r\n"
              "\r\n"
              "PCM CODING RESULTS:\r\n"
              "   Coded bitrate \t\t: 3.0 (bpp)\r\n");
    EXPECT_NE(text.find("   Signal-to-noise ratio\t: "), std::string::npos);
    const std::string desc = ModuleHarness::ChainDescription(doc);
    EXPECT_EQ(desc.substr(0, desc.find("   Mean Square Error")),
              "PCM ENCODED photo image\r\n"
              "   Bitrate\t\t\t\t: 3\r\n"
              "   Dithering Stepsize\t\t: 0.75\r\n"
              "   Channel Errors Probability\t: 0.0050\r\n"
              "\r\n"
              "   Dithering not subtracted from encoded image\r\n"
              "\r\n"
              "   Coded Bitrate\t\t\t:   3.00 (bpp)\r\n");
    EXPECT_TRUE(messages.Texts().empty());
}

TEST_F(PcmFixture, TagsOfEveryChoice)
{
    struct Case
    {
        int bits, ditherId;
        bool subtract;
        int errorId;
        const char *name, *caption, *ditherLine, *errorLine;
    };
    const Case cases[] = {
        {1, 0, false, 0, "PCM_photo_1_No_No", "PCM(photo): Bitr:1 Dith:No Errors:No", "No Dithering applied",
         "No Channel Errors Simulated"},
        {2, 1510, true, 1016, "PCM_photo_2_1_001", "PCM(photo): Bitr:2 Dith:1 Errors:0.001",
         "Dithering Stepsize\t\t: 1.00", "Channel Errors Probability\t: 0.0010"},
        {5, 1011, false, 1017, "PCM_photo_5_15_0005", "PCM(photo): Bitr:5 Dith:1.5 Errors:0.0005",
         "Dithering Stepsize\t\t: 1.50", "Channel Errors Probability\t: 0.0005"},
        {7, 1012, true, 1018, "PCM_photo_7_2_0001", "PCM(photo): Bitr:7 Dith:2 Errors:0.0001",
         "Dithering Stepsize\t\t: 2.00", "Channel Errors Probability\t: 0.0001"},
    };
    CPcmDlg *dlg = Open("photo", *Photo());
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Choose(dlg, c.bits, c.ditherId, c.subtract, c.errorId);
        ModuleHarness::Click(dlg, kApply);
        EXPECT_EQ(ModuleHarness::ChainImageName(doc), c.name);
        EXPECT_EQ(ModuleHarness::ChainCaption(doc), c.caption);
        const std::string desc = ModuleHarness::ChainDescription(doc);
        EXPECT_NE(desc.find(std::string("\r\n   ") + c.ditherLine + "\r\n   " + c.errorLine + "\r\n\r\n"),
                  std::string::npos);
        if (c.ditherId) {
            EXPECT_NE(desc.find(c.subtract ? "Dithering is subtracted from encoded image"
                                           : "Dithering not subtracted from encoded image"),
                      std::string::npos);
        }
    }
    EXPECT_EQ(ModuleHarness::ChainCount(doc), 4);
}

TEST_F(PcmFixture, OneBitGivesTwoLevelsSplitAt128)
{
    CPcmDlg *dlg = Open("ramp", *Ramp());
    ModuleHarness::Click(dlg, kApply); // Apply at once: 1 bit, no dither, no errors
    const std::string text = ModuleHarness::ResultText(dlg, kResults);
    EXPECT_NE(text.find("#levels                : 2 \r\n"), std::string::npos);
    EXPECT_NE(text.find("stepsize               : 128 \r\n"), std::string::npos);
    EXPECT_NE(text.find("Coded bitrate \t\t: 1.0 (bpp)"), std::string::npos);
    for (int x = 0; x < 256; ++x)
        ASSERT_EQ(zntest::GreyAt(Result(), x, 1), x <= 128 ? 64 : 192) << x;
}

TEST_F(PcmFixture, SevenBitsDecodeToTheMiddleOfEachStep)
{
    CPcmDlg *dlg = Open("ramp", *Ramp());
    Choose(dlg, 7);
    ModuleHarness::Click(dlg, kApply);
    for (int x = 0; x < 256; ++x) {
        // Cell (2i, 2i+2] decodes to 2i+1; everything up to the first step to 1.
        const int expected = x <= 2 ? 1 : 2 * ((x + 1) / 2) - 1;
        ASSERT_EQ(zntest::GreyAt(Result(), x, 0), expected) << x;
    }
    EXPECT_EQ(zntest::GreyAt(Result(), 3, 0), 3);
    EXPECT_EQ(zntest::GreyAt(Result(), 4, 0), 3);
}

TEST_F(PcmFixture, PaletteImagesAreCodedToo)
{
    RGBQUAD palette[256];
    for (int i = 0; i < 256; ++i)
        palette[i] = RGBQUAD{static_cast<uint8_t>(i), static_cast<uint8_t>(i), static_cast<uint8_t>(i), 0};
    CDib image;
    ASSERT_TRUE(image.Create8(256, 3, palette, 256));
    for (int k = 0; k < 3; ++k)
        for (int x = 0; x < 256; ++x)
            image.StoredRow(k)[x] = static_cast<uint8_t>(x);
    CPcmDlg *dlg = Open("palette", image);
    ASSERT_EQ(doc->m_pDib->GetInfoHeader()->biBitCount, 8);
    Choose(dlg, 2);
    ModuleHarness::Click(dlg, kApply);
    for (int x = 0; x < 256; ++x)
        ASSERT_EQ(zntest::GreyAt(Result(), x, 2), x <= 64 ? 32 : 64 * ((x - 1) / 64) + 32) << x;
    EXPECT_TRUE(messages.Texts().empty());
}

TEST_F(PcmFixture, ImageOnTheLevelsIsErrorFreeAndStoresSixty)
{
    auto levels = zntest::MakeGreyDib(40, 24, [](int x, int y) { return 16 + 32 * ((x + y) % 8); });
    CPcmDlg *dlg = Open("levels", *levels);
    doc->m_pRDData->StartStoring("PCM", "exact");
    Choose(dlg, 3);
    ModuleHarness::Click(dlg, kApply);
    doc->m_pRDData->StopStoring();
    const std::string text = ModuleHarness::ResultText(dlg, kResults);
    EXPECT_NE(text.find("   Mean square error\t\t: 0.0 \r\n"
                        "   Signal-to-noise ratio\t: Infinite (dB)\r\n"
                        "   PSNR\t\t\t: Infinite (dB)\r\n"),
              std::string::npos);
    const std::string desc = ModuleHarness::ChainDescription(doc);
    EXPECT_NE(desc.find("   Signal-to-Noise Ratio\t\t: Infinite (dB)\r\n   PSNR\t\t\t\t: Infinite (dB)"),
              std::string::npos);
    const auto &data = doc->m_pRDData->m_ModuleData[doc->m_pRDData->GetModuleIndex("PCM")];
    ASSERT_EQ(data.m_nNumberOfPoints[0], 1);
    EXPECT_EQ(data.m_Curve[0].m_fSNR[0], 60.0f);
    EXPECT_EQ(data.m_Curve[0].m_fPSNR[0], 60.0f);
    EXPECT_EQ(data.m_Curve[0].m_fRate[0], 3.0f);
}

TEST_F(PcmFixture, ChannelErrorsChangeAboutOnePixelInThirty)
{
    zn::SeedRand(11);
    auto image = zntest::MakeGreyDib(256, 256, [](int x, int y) { return (x * 3 + y * 5) % 256; });
    CPcmDlg *dlg = Open("noise", *image);
    Choose(dlg, 7, 0, false, 1015);
    ModuleHarness::Click(dlg, kApply);
    long changed = 0;
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            const int v = zntest::GreyAt(*image, x, y);
            const int clean = v <= 2 ? 1 : 2 * ((v + 1) / 2) - 1;
            const int got = zntest::GreyAt(Result(), x, y);
            ASSERT_EQ(got % 2, 1) << "not a reconstruction level: " << got;
            changed += got != clean;
        }
    // A 7-bit word survives with probability 0.995^7, so 3.45 % of the pixels change.
    const double share = 100.0 * changed / (256.0 * 256.0);
    EXPECT_NEAR(share, 100.0 * (1.0 - std::pow(0.995, 7)), 0.4);
    EXPECT_NE(ModuleHarness::ResultText(dlg, kResults).find("Coded bitrate \t\t: 7.0 (bpp)"),
              std::string::npos);
    EXPECT_TRUE(dlg->ApplyButton()->isEnabled());
}

TEST_F(PcmFixture, DitherWithoutSubtractionStaysOnTheLevels)
{
    zn::PinRandSeed(3);
    CPcmDlg *dlg = Open("ramp", *Ramp());
    Choose(dlg, 1, 1012, false);
    ModuleHarness::Click(dlg, kApply);
    std::set<int> values;
    int low = 0;
    for (int x = 0; x < 256; ++x) {
        values.insert(zntest::GreyAt(Result(), x, 0));
        low += x <= 128 && zntest::GreyAt(Result(), x, 0) == 192;
    }
    EXPECT_EQ(values, (std::set<int>{64, 192}));
    EXPECT_GT(low, 0); // the dither pushes some dark values over the threshold

    Choose(dlg, 1, 1012, true);
    ModuleHarness::Click(dlg, kApply);
    values.clear();
    for (int x = 0; x < 256; ++x)
        values.insert(zntest::GreyAt(Result(), x, 0));
    EXPECT_GT(values.size(), 2u); // the subtracted dither spreads the two levels
}

TEST_F(PcmFixture, PinnedSeedMakesRandomRunsReproducible)
{
    zn::PinRandSeed(1234);
    CPcmDlg *dlg = Open("photo", *Photo());
    struct Run
    {
        int ditherId, errorId;
    };
    // The channel seeds the generator from the (pinned) clock on its first use in a program run and
    // then draws on; after that first use, a run is repeated by restarting the generator.
    Choose(dlg, 4, 0, false, 1015);
    ModuleHarness::Click(dlg, kApply);
    for (const Run run : {Run{1012, 0}, Run{0, 1015}, Run{1509, 1016}}) {
        Choose(dlg, 4, run.ditherId, false, run.errorId);
        const std::vector<int> first = ModuleHarness::ApplySeeded(dlg, kApply, doc, 99);
        EXPECT_EQ(ModuleHarness::ApplySeeded(dlg, kApply, doc, 99), first)
            << run.ditherId << " " << run.errorId;
    }
}

TEST_F(PcmFixture, ApplyTwiceReplacesTheTextAndAddsAWindow)
{
    CPcmDlg *dlg = Open("photo", *Photo());
    Choose(dlg, 2);
    ModuleHarness::Click(dlg, kApply);
    const std::string first = ModuleHarness::ChainCaption(doc);
    ModuleHarness::Click(dlg, kApply);
    EXPECT_EQ(ModuleHarness::ChainCount(doc), 2);
    EXPECT_EQ(ModuleHarness::ChainCaption(doc), first);
    const std::string text = ModuleHarness::ResultText(dlg, kResults);
    EXPECT_EQ(text.find("PCM CODING RESULTS:"), text.rfind("PCM CODING RESULTS:"));
    EXPECT_EQ(text.rfind("Selected Uniform Quantizer:", 0), 0u);
}

TEST_F(PcmFixture, PointsAreStoredOnlyWhileThePcmCurveRecords)
{
    CPcmDlg *dlg = Open("photo", *Photo());
    zn::CRDDataBase &rd = *doc->m_pRDData;
    const int pcm = rd.GetModuleIndex("PCM");
    Choose(dlg, 5);
    ModuleHarness::Click(dlg, kApply); // not recording
    rd.StartStoring("DPCM", "other");
    ModuleHarness::Click(dlg, kApply); // recording another module
    rd.StopStoring();
    EXPECT_EQ(rd.m_nNumberOfCurves[pcm], 0);
    EXPECT_EQ(rd.m_ModuleData[rd.GetModuleIndex("DPCM")].m_nNumberOfPoints[0], 0);
}

TEST_F(PcmFixture, ThreeRatesRecordedGiveARisingCurveInThePlot)
{
    CPcmDlg *dlg = Open("photo", *Photo());
    auto *storing = h.Open<CRDStoringDlg>(doc, zn::cmd::kStoreRD);
    ASSERT_NE(storing, nullptr);
    ModuleHarness::Click(storing, CRDStoringDlg::IDC_RD_START);
    ASSERT_TRUE(doc->m_pRDData->IsStoring());
    for (int bits : {6, 2, 4}) {
        Choose(dlg, bits);
        ModuleHarness::Click(dlg, kApply);
    }
    ModuleHarness::Click(storing, CRDStoringDlg::IDC_RD_STOP);
    EXPECT_FALSE(doc->m_pRDData->IsStoring());

    auto *plot = h.Open<CRDPlotDlg>(doc, zn::cmd::kPlotRD);
    ASSERT_NE(plot, nullptr);
    for (int type : {CRDPlotDlg::IDC_RDPLOT_SNR, CRDPlotDlg::IDC_RDPLOT_PSNR}) {
        ModuleHarness::Click(plot, type);
        ModuleHarness::Click(plot, CRDPlotDlg::IDC_RDPLOT_PLOTCURVE);
        const zn::RDGraph &g = plot->View()->Graph();
        ASSERT_EQ(g.CurveCount(), 1);
        ASSERT_EQ(g.EntryCount(), 3);
        const std::vector<float> rates(g.m_pRate.begin(), g.m_pRate.begin() + 3);
        EXPECT_EQ(rates, (std::vector<float>{2.0f, 4.0f, 6.0f}));
        EXPECT_LT(g.m_pValue[0], g.m_pValue[1]) << type;
        EXPECT_LT(g.m_pValue[1], g.m_pValue[2]) << type;
    }
    EXPECT_TRUE(messages.Texts().empty());
}

TEST_F(PcmFixture, CancelDeactivatesAndHides)
{
    CPcmDlg *dlg = Open("photo", *Photo());
    const int pcm = doc->m_pRDData->GetModuleIndex("PCM");
    ModuleHarness::Click(dlg, 2);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(doc->m_pPcmDlg, nullptr);
    EXPECT_FALSE(doc->m_pRDData->m_bModuleActive[pcm]);
    auto *again = h.Open<CPcmDlg>(doc, zn::cmd::kPcm);
    ASSERT_NE(again, nullptr);
    EXPECT_NE(again, dlg);
    EXPECT_TRUE(doc->m_pRDData->m_bModuleActive[pcm]);
    EXPECT_TRUE(messages.Texts().empty());
}

TEST_F(PcmFixture, ReportedPsnrAgreesWithImageMagick)
{
    ZN_REQUIRE_TOOL("compare");
    zn::PinRandSeed(8);
    CPcmDlg *dlg = Open("photo", *Photo(128, 96));
    doc->m_pRDData->StartStoring("PCM", "oracle");
    struct Case
    {
        int bits, ditherId;
    };
    int point = 0;
    for (const Case c :
         {Case{1, 0}, Case{2, 0}, Case{3, 0}, Case{4, 1012}, Case{5, 0}, Case{6, 1510}, Case{7, 0}}) {
        Choose(dlg, c.bits, c.ditherId, false);
        ModuleHarness::Click(dlg, kApply);
        const std::string result = h.SaveChainImage(doc, "result.bmp");
        const double magick = zntest::MagickPsnr(h.ImagePath(), result);
        const auto &curve = doc->m_pRDData->m_ModuleData[0].m_Curve[0];
        EXPECT_TRUE(zntest::PsnrAgrees(zntest::ReportedPsnr(ModuleHarness::ResultText(dlg, kResults)), magick,
                                       0.05 + 1e-3))
            << c.bits;
        EXPECT_TRUE(zntest::PsnrAgrees(curve.m_fPSNR[point], magick, 0.01)) << c.bits;
        ++point;
    }
    doc->m_pRDData->StopStoring();

    // Outside images: the reference is the document's own grey image.
    zntest::CheckCorpusImages([&](CDibDoc *other, const std::string &reference) {
        auto *pcm = h.Open<CPcmDlg>(other, zn::cmd::kPcm);
        Choose(pcm, 3);
        ModuleHarness::Click(pcm, kApply);
        const double magick = zntest::MagickPsnr(reference, h.SaveChainImage(other, "result.bmp"));
        EXPECT_TRUE(zntest::PsnrAgrees(zntest::ReportedPsnr(ModuleHarness::ResultText(pcm, kResults)), magick,
                                       0.05 + 1e-3))
            << other->m_pDib->m_title;
        return true;
    });
}

TEST_F(PcmFixture, WithoutAStoreTheRunStillCompletes)
{
    CPcmDlg *dlg = Open("photo", *Photo());
    zn::CRDDataBase *store = doc->m_pRDData;
    doc->m_pRDData = nullptr;
    ModuleHarness::Click(dlg, kApply);
    doc->m_pRDData = store;
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{
                                    "(OnPcmApply()) m_pStartDibDoc->m_pRDData == NULL. Should not happen"});
    EXPECT_EQ(ModuleHarness::ChainCount(doc), 1);
}

TEST_F(PcmFixture, AnAbortedRunEndsWithItsMessageAndTheDialogGoesOn)
{
    CPcmDlg *dlg = Open("photo", *Photo());
    doc->m_pDib->m_bValid = 0; // the engine refuses to read it
    ModuleHarness::Click(dlg, kApply);
    doc->m_pDib->m_bValid = 1;
    ASSERT_EQ(messages.Count(), 1u);
    EXPECT_EQ(messages.Texts()[0], "OnPcmApply: No image to code");
    EXPECT_EQ(ModuleHarness::ChainCount(doc), 0);
    ModuleHarness::Click(dlg, kApply);
    EXPECT_EQ(ModuleHarness::ChainCount(doc), 1);
}

TEST(PcmCoder, RefusesBitCountsOutsideOneToSeven)
{
    auto image = zntest::MakeGreyDib(8, 8, [](int x, int) { return x * 30; });
    for (int bits : {0, 8, -1}) {
        ZnImage decoded;
        EXPECT_THROW(PcmCodeImage(PcmParams{bits, 0, 0, 0}, image.get(), "t", &decoded), zn::RunAborted)
            << bits;
        EXPECT_EQ(decoded.img, nullptr);
    }
}

} // namespace

} // namespace pcm_test
