// The DPCM module driven through its dialog: pages and defaults, the texts and windows of a run,
// the bit and level choices and the quantiser file they pick, channel errors, the empty tables
// folder, R(D) recording, and the reported PSNR checked against ImageMagick.
#include "modules/dpcm_fixture.h"
#include "modules/module_harness.h"

#include "image/cdib.h"
#include "modules/dpcm/dpcm_dlg.h"
#include "platform/messages.h"
#include "platform/random.h"
#include "shell/compression_app.h"
#include "shell/dib_doc.h"
#include "shell/dib_frame.h"
#include "shell/doc_commands.h"
#include "shell/rd_database.h"

#include <QAbstractButton>
#include <QPushButton>
#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>

namespace dpcm_test { // one namespace per test file: a folder compiles as one source

using zntest::ModuleHarness;

namespace {

constexpr int kApply = 1037;
constexpr int kResults = 1038;

struct DpcmFixture : ::testing::Test
{
    void SetUp() override
    {
        RegisterDpcmModule();
        theApp.m_sTableDir = QString::fromStdString(dpcmtest::Tables());
    }
    void TearDown() override
    {
        zn::UnpinRandSeed();
        theApp.m_sTableDir.clear();
    }

    CDpcmDlg *Open(const std::string &title, const CDib &image)
    {
        doc = h.OpenImage(title, image);
        return h.Open<CDpcmDlg>(doc, zn::cmd::kDpcm);
    }
    // Bits 1..6 on the Bitrate page.
    void Bits(CDpcmDlg *dlg, int bits) { ModuleHarness::Click(dlg, 1025 + bits); }
    std::string Label(CDpcmDlg *dlg, int id) { return dlg->Item<QAbstractButton>(id)->text().toStdString(); }
    std::string Text(CDpcmDlg *dlg) { return ModuleHarness::ResultText(dlg, kResults); }

    zn::MessageRecorder messages;
    ModuleHarness h;
    CDibDoc *doc = nullptr;
};

TEST_F(DpcmFixture, OpensWithItsPagesAndDefaults)
{
    CDpcmDlg *dlg = Open("house", *dpcmtest::Textured());
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(dlg->windowTitle().toStdString(), "DPCM: house");
    ASSERT_EQ(dlg->TabCtrl()->GetItemCount(), 4);
    const char *labels[] = {"Model", "Bitrate", "Levels", "Errors"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(dlg->TabCtrl()->GetTabText(i).toStdString(), labels[i]);
        EXPECT_TRUE(dlg->TabCtrl()->IsTabEnabled(i));
    }
    EXPECT_TRUE(doc->m_pRDData->m_bModuleActive[doc->m_pRDData->GetModuleIndex("DPCM")]);
    for (int id : {1047, 1027, 1035})
        EXPECT_TRUE(ModuleHarness::IsChecked(dlg, id)) << id;
    EXPECT_EQ(Label(dlg, 1534), "3");
    EXPECT_EQ(Label(dlg, 1035), "4");
    for (int id : {1020, 1021, 1022, 1023, 1024})
        EXPECT_FALSE(ModuleHarness::IsEnabled(dlg, id)) << id;
    EXPECT_FALSE(ModuleHarness::IsChecked(dlg, 1025));
    const DpcmParams &p = dlg->PendingParams();
    EXPECT_EQ(p.nPredModel, 3);
    EXPECT_EQ(p.nBits, 2);
    EXPECT_EQ(p.nLevels, 4);
    EXPECT_EQ(p.fErrorProb, 0.0f);
    EXPECT_EQ(dlg->ActiveParams().nBits, 0);

    // The Errors page: on selects .005, off clears and disables the four choices again.
    ModuleHarness::Click(dlg, 1025);
    EXPECT_TRUE(ModuleHarness::IsChecked(dlg, 1021));
    EXPECT_TRUE(ModuleHarness::IsEnabled(dlg, 1024));
    EXPECT_EQ(dlg->PendingParams().fErrorProb, 0.005f);
    ModuleHarness::Click(dlg, 1024);
    EXPECT_EQ(dlg->PendingParams().fErrorProb, 0.0001f);
    ModuleHarness::Click(dlg, 1025);
    EXPECT_FALSE(ModuleHarness::IsChecked(dlg, 1024));
    EXPECT_FALSE(ModuleHarness::IsEnabled(dlg, 1021));
    EXPECT_EQ(dlg->PendingParams().fErrorProb, 0.0f);
}

TEST_F(DpcmFixture, DefaultRunShowsTheDecodedImageAndThePredictionError)
{
    CDpcmDlg *dlg = Open("house", *dpcmtest::Textured());
    ModuleHarness::Click(dlg, kApply);
    EXPECT_TRUE(messages.Texts().empty());
    EXPECT_EQ(ModuleHarness::ChainCaption(doc), "DPCM(house): Bitr:2 Levels:4 Errors:No");
    EXPECT_EQ(ModuleHarness::ChainImageName(doc), "DPCM_house_2_4_No");
    ASSERT_NE(doc->m_pResultFrameA, nullptr);
    EXPECT_EQ(doc->m_pResultFrameA->windowTitle().toStdString(),
              "DPCM: PRED.ERROR(house) Bitr:2 Levels:4 Errors:No");
    EXPECT_EQ(doc->m_pResultDibA->m_title, "DPCM_house_pred");
    EXPECT_EQ(doc->m_pResultFrameB, nullptr);

    const std::string text = Text(dlg);
    EXPECT_EQ(text.rfind("  Variance of original image        :", 0), 0u);
    EXPECT_NE(text.find("DPCM CODING RESULTS:\r\n   Coded bitrate\t\t: 2.0 (bpp)\r\n"
                        "   Est. entropy-coded bitrate\t: 1.7 (bpp)\r\n"),
              std::string::npos)
        << text;
    const std::string desc = ModuleHarness::ChainDescription(doc);
    EXPECT_EQ(desc.substr(0, desc.find("   Est. entropy")),
              "DPCM ENCODED house image\r\n   Bitrate\t\t\t\t: 2\r\n   Number of Levels\t\t: 4\r\n"
              "   No Channel Errors Simulated\r\n\r\n   Coded Bitrate\t\t\t:   2.00 (bpp)\r\n");

    // A second run replaces the text, adds a chain window and reuses window A.
    CDibFrame *a = doc->m_pResultFrameA;
    ModuleHarness::Click(dlg, kApply);
    EXPECT_EQ(ModuleHarness::ChainCount(doc), 2);
    EXPECT_EQ(doc->m_pResultFrameA, a);
    const std::string again = Text(dlg);
    EXPECT_EQ(again.find("DPCM CODING RESULTS:"), again.rfind("DPCM CODING RESULTS:"));
}

TEST_F(DpcmFixture, BitsRelabelTheLevelsAndKeepTheirChoice)
{
    // Each step: a button to click, then the labels and enabled state of the Levels page and the
    // pending bits and levels.
    struct Step
    {
        int click;
        const char *fewer, *all;
        bool enabled;
        int bits, levels;
    };
    const Step steps[] = {
        {1026, "1", "2", false, 1, 2},   {1028, "7", "8", true, 3, 8},    {1534, "7", "8", true, 3, 7},
        {1029, "15", "16", true, 4, 15}, {1030, "31", "32", true, 5, 31}, {1031, "63", "64", true, 6, 63},
        {1035, "63", "64", true, 6, 64}, {1027, "3", "4", true, 2, 4},
    };
    CDpcmDlg *dlg = Open("house", *dpcmtest::Textured(24, 16));
    for (const Step &s : steps) {
        SCOPED_TRACE(s.click);
        ModuleHarness::Click(dlg, s.click);
        EXPECT_EQ(Label(dlg, 1534), s.fewer);
        EXPECT_EQ(Label(dlg, 1035), s.all);
        EXPECT_EQ(ModuleHarness::IsEnabled(dlg, 1534), s.enabled);
        EXPECT_EQ(ModuleHarness::IsEnabled(dlg, 1035), s.enabled);
        EXPECT_EQ(dlg->PendingParams().nBits, s.bits);
        EXPECT_EQ(dlg->PendingParams().nLevels, s.levels);
    }
    // One bit selects the 2^b choice and clears the other.
    Bits(dlg, 1);
    EXPECT_TRUE(ModuleHarness::IsChecked(dlg, 1035));
    EXPECT_FALSE(ModuleHarness::IsChecked(dlg, 1534));
}

TEST_F(DpcmFixture, TheChosenLevelsPickTheQuantiserFile)
{
    struct Case
    {
        int bits;
        bool fewer;
        const char *file;
        const char *caption;
        const char *rate;
    };
    const Case cases[] = {
        {1, false, "mlqpw_gg100_0002.sqt", "DPCM(house): Bitr:1 Levels:2 Errors:No", "1.0"},
        {6, true, "mlqpw_gg100_0063.sqt", "DPCM(house): Bitr:6 Levels:63 Errors:No", "6.0"},
    };
    CDpcmDlg *dlg = Open("house", *dpcmtest::Textured(32, 24));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        zntest::ScratchDir only; // holds the one file the run may read
        std::filesystem::copy_file(dpcmtest::Tables() + c.file, only.File(c.file));
        theApp.m_sTableDir = QString::fromStdString(only.Path());
        Bits(dlg, c.bits);
        if (c.bits > 1)
            ModuleHarness::Click(dlg, c.fewer ? 1534 : 1035);
        ModuleHarness::Click(dlg, kApply);
        EXPECT_TRUE(messages.Texts().empty());
        EXPECT_EQ(ModuleHarness::ChainCaption(doc), c.caption);
        EXPECT_NE(Text(dlg).find(std::string("   Coded bitrate\t\t: ") + c.rate + " (bpp)\r\n"),
                  std::string::npos);
    }
}

TEST_F(DpcmFixture, ModelOneLeavesTheUpperRowEmpty)
{
    CDpcmDlg *dlg = Open("house", *dpcmtest::Textured());
    ModuleHarness::Click(dlg, 1045);
    EXPECT_EQ(dlg->PendingParams().nPredModel, 1);
    ModuleHarness::Click(dlg, kApply);
    EXPECT_NE(Text(dlg).find("  Optimal Prediction Coefficients:\r\n      0.000     0.000     0.000\r\n"),
              std::string::npos);
    ModuleHarness::Click(dlg, 1048);
    ModuleHarness::Click(dlg, kApply);
    EXPECT_EQ(dlg->ActiveParams().nPredModel, 4);
    EXPECT_EQ(Text(dlg).find("  Optimal Prediction Coefficients:\r\n      0.000     0.000     0.000\r\n"),
              std::string::npos);
}

TEST_F(DpcmFixture, ChannelErrorRunsRepeatFromAPinnedSeed)
{
    zn::PinRandSeed(5); // the channel seeds itself from the pinned clock on its first use
    CDpcmDlg *dlg = Open("house", *dpcmtest::Textured(96, 64));
    ModuleHarness::Click(dlg, 1025);
    ModuleHarness::Click(dlg, 1023);
    Bits(dlg, 4);
    const std::vector<int> first = ModuleHarness::ApplySeeded(dlg, kApply, doc, 5);
    EXPECT_EQ(ModuleHarness::ApplySeeded(dlg, kApply, doc, 5), first);
    EXPECT_EQ(ModuleHarness::ChainCaption(doc), "DPCM(house): Bitr:4 Levels:16 Errors:0.0005");
    EXPECT_EQ(ModuleHarness::ChainImageName(doc), "DPCM_house_4_16_0005");
    EXPECT_NE(ModuleHarness::ChainDescription(doc).find("   Channel Errors Probability\t: 0.0005\r\n"),
              std::string::npos);
    EXPECT_TRUE(dlg->ApplyButton()->isEnabled());
}

TEST_F(DpcmFixture, EmptyTablesDirectoryAsksForOneAndCodesNothing)
{
    CDpcmDlg *dlg = Open("house", *dpcmtest::Textured(16, 16));
    EXPECT_TRUE(ModuleHarness::ApplyOpensPreferences(dlg, kApply));
    EXPECT_EQ(messages.Texts(),
              std::vector<std::string>{
                  "Sorry: No Tables Directory Selected.\r\nPlease set the Tables Directory path!"});
    EXPECT_EQ(ModuleHarness::ChainCount(doc), 0);
    EXPECT_EQ(doc->m_pResultFrameA, nullptr);
    EXPECT_TRUE(Text(dlg).empty());
    EXPECT_TRUE(dlg->ApplyButton()->isEnabled());
}

TEST_F(DpcmFixture, MissingQuantiserFileEndsTheRunAndKeepsThePreviousResult)
{
    CDpcmDlg *dlg = Open("house", *dpcmtest::Textured(16, 16));
    ModuleHarness::Click(dlg, kApply);
    const std::string before = Text(dlg);
    zntest::ScratchDir empty;
    theApp.m_sTableDir = QString::fromStdString(empty.Path());
    ModuleHarness::Click(dlg, kApply);
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Can't open Quantizer file"});
    EXPECT_EQ(ModuleHarness::ChainCount(doc), 1);
    EXPECT_EQ(Text(dlg), before);
}

TEST_F(DpcmFixture, PointsAreStoredOnlyWhileTheDpcmCurveRecords)
{
    CDpcmDlg *dlg = Open("house", *dpcmtest::Textured());
    zn::CRDDataBase &rd = *doc->m_pRDData;
    const int dpcm = rd.GetModuleIndex("DPCM");
    ModuleHarness::Click(dlg, kApply); // not recording
    rd.StartStoring("PCM", "other");
    ModuleHarness::Click(dlg, kApply); // recording another module
    rd.StopStoring();
    EXPECT_EQ(rd.m_nNumberOfCurves[dpcm], 0);

    rd.StartStoring("DPCM", "rising");
    for (int bits : {5, 1, 3}) {
        Bits(dlg, bits);
        ModuleHarness::Click(dlg, kApply);
    }
    rd.StopStoring();
    ASSERT_EQ(rd.m_nNumberOfCurves[dpcm], 1);
    const auto &data = rd.m_ModuleData[dpcm];
    ASSERT_EQ(data.m_nNumberOfPoints[0], 3);
    const auto &c = data.m_Curve[0];
    // The rate of a point is the quantiser's entropy, below the b bits actually sent.
    EXPECT_LT(c.m_fRate[0], c.m_fRate[1]);
    EXPECT_LT(c.m_fRate[1], c.m_fRate[2]);
    EXPECT_LE(c.m_fRate[2], 5.0f);
    EXPECT_LT(c.m_fPSNR[0], c.m_fPSNR[1]);
    EXPECT_LT(c.m_fPSNR[1], c.m_fPSNR[2]);
    EXPECT_LT(c.m_fSNR[0], c.m_fSNR[2]);
    EXPECT_GT(c.m_fMSE[0], c.m_fMSE[2]);
}

TEST_F(DpcmFixture, CancelDeactivatesAndHides)
{
    CDpcmDlg *dlg = Open("house", *dpcmtest::Textured(16, 16));
    const int dpcm = doc->m_pRDData->GetModuleIndex("DPCM");
    ModuleHarness::Click(dlg, 2);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(doc->m_pDpcmDlg, nullptr);
    EXPECT_FALSE(doc->m_pRDData->m_bModuleActive[dpcm]);
}

// The result image as saved holds the decoded values truncated to whole grey levels. One bit per
// sample leaves an error far larger than that truncation, so the two PSNRs must agree closely.
TEST_F(DpcmFixture, ReportedPsnrAgreesWithImageMagick)
{
    ZN_REQUIRE_TOOL("compare");
    CDpcmDlg *dlg = Open("house", *dpcmtest::Textured(128, 96));
    doc->m_pRDData->StartStoring("DPCM", "oracle");
    int point = 0;
    for (int model : {1045, 1047, 1048}) {
        ModuleHarness::Click(dlg, model);
        Bits(dlg, 1);
        ModuleHarness::Click(dlg, kApply);
        const double magick = zntest::MagickPsnr(h.ImagePath(), h.SaveChainImage(doc, "result.bmp"));
        EXPECT_TRUE(zntest::PsnrAgrees(zntest::ReportedPsnr(Text(dlg)), magick, 0.05 + 1e-3)) << model;
        EXPECT_TRUE(
            zntest::PsnrAgrees(doc->m_pRDData->m_ModuleData[1].m_Curve[0].m_fPSNR[point], magick, 0.05))
            << model;
        ++point;
    }
    doc->m_pRDData->StopStoring();

    // Outside images: the stored point keeps the PSNR unrounded; the text prints it to 0.1 dB. The
    // measure is taken on the decoded image as saved (whole grey levels, clipped), so real pictures
    // hold the same bound as the fixture.
    zntest::CheckCorpusImages([&](CDibDoc *other, const std::string &reference) {
        auto *d = h.Open<CDpcmDlg>(other, zn::cmd::kDpcm);
        Bits(d, 1);
        other->m_pRDData->StartStoring("DPCM", "corpus");
        ModuleHarness::Click(d, kApply);
        other->m_pRDData->StopStoring();
        const double magick = zntest::MagickPsnr(reference, h.SaveChainImage(other, "result.bmp"));
        const float stored = other->m_pRDData->m_ModuleData[1].m_Curve[0].m_fPSNR[0];
        EXPECT_TRUE(zntest::PsnrAgrees(stored, magick, 0.05)) << other->m_pDib->m_title;
        EXPECT_EQ(zntest::ReportedPsnr(ModuleHarness::ResultText(d, kResults)),
                  std::atof(zn::Format("%.1f", stored).c_str()));
        return true;
    });
}

} // namespace

} // namespace dpcm_test
