// The DCT module driven through its dialog: the example texts, the transform sizes an image
// allows, coding switched off and on again, the coefficient methods, channel errors, R(D) points,
// the tables directory, and the reported PSNR checked against ImageMagick.
#include "coding_fixture.h"

#include "image/znimage.h"
#include "modules/dct/dct_coder.h"
#include "modules/dct/dct_dlg.h"
#include "modules/dct/dct_pages.h"
#include "platform/errors.h"
#include "platform/messages.h"
#include "platform/random.h"
#include "shell/doc_commands.h"
#include "shell/rd_database.h"

#include <QPushButton>
#include <filesystem>

namespace dct_module_test { // one namespace per test file: a folder compiles as one source

using zntest::ModuleHarness;

namespace {

constexpr int kApply = CDctDlg::IDC_APPLY;
constexpr int kResults = CDctDlg::IDC_RESULTS;
constexpr int kEncode = 1181;
constexpr int kEntropy = 1205;
constexpr int kSimulate = 1019;

using DctFixture = codingtest::DialogFixture<CDctDlg, RegisterDctModule, zn::cmd::kDct, kApply, kResults>;

TEST_F(DctFixture, OpensWithItsPagesAndDefaults)
{
    dlg = Open("house", *codingtest::Photo());
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(dlg->windowTitle().toStdString(), "Discrete Cosine Transform: house");
    const char *labels[] = {"Size", "Coefs", "Bitrate", "Errors", "Display"};
    ASSERT_EQ(dlg->TabCtrl()->GetItemCount(), 5);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(dlg->TabCtrl()->GetTabText(i).toStdString(), labels[i]);
    // Entropy coding is on at start, so channel errors cannot be chosen.
    EXPECT_FALSE(dlg->TabCtrl()->IsTabEnabled(CDctDlg::kErrorsTab));
    EXPECT_TRUE(doc->m_pRDData->m_bModuleActive[doc->m_pRDData->GetModuleIndex("DCT")]);
    for (int id : {1179, 1198, kEncode, kEntropy, 1290})
        EXPECT_TRUE(ModuleHarness::IsChecked(dlg, id)) << id;
    for (int id : {1206, 1207, 1208, 1209, 1210})
        EXPECT_FALSE(ModuleHarness::IsEnabled(dlg, id)) << id;
    const DctParams &p = dlg->PendingParams();
    EXPECT_EQ(p.nSize, 3);
    EXPECT_EQ(p.fBitrate, 1.0f);
    EXPECT_EQ(p.nFirstMethod, 1);
    EXPECT_EQ(p.sFirstPdf, "gg075");
    EXPECT_EQ(p.nOtherMethod, 0);
    EXPECT_EQ(p.sOtherPdf, "gg050");
    EXPECT_EQ(p.nPredModel, 3);
    EXPECT_EQ(p.bEntropy, 1);
    EXPECT_TRUE(ModuleHarness::IsEnabled(dlg, 1212));
}

TEST_F(DctFixture, HouseAt8x8AndOneBitPerPixel)
{
    dlg = Open("house", *codingtest::Photo());
    Apply();
    EXPECT_EQ(ModuleHarness::ChainCaption(doc), "DCT(house): Coeffs:64 Bitr:1.00 Errors:No");
    EXPECT_EQ(ModuleHarness::ChainImageName(doc), "DCT_house_64_1_No");
    EXPECT_EQ(ModuleHarness::Caption(doc->m_pResultFrameA),
              "DCT: ORIGINAL COEF(house) Coeffs:64 Bitr:1.00 Errors:No");
    EXPECT_EQ(ModuleHarness::ImageName(doc->m_pResultFrameA), "DCT_house_ocoef");
    EXPECT_EQ(ModuleHarness::Caption(doc->m_pResultFrameB),
              "DCT: CODED COEF(house)Coeffs:64 Bitr:1.00 Errors:No");
    EXPECT_EQ(ModuleHarness::ImageName(doc->m_pResultFrameB), "DCT_house_ccoef");
    EXPECT_EQ(ModuleHarness::Description(doc->m_pResultFrameA), "ORIGINAL DCT COEFFS of the house image\r\n"
                                                                "   Number of Coefficients\t\t: 64\r\n");
    const std::string chain = ModuleHarness::ChainDescription(doc);
    EXPECT_EQ(chain.substr(0, chain.find("   Coded Bitrate")),
              "DISCRETE COSINE TRANSFORM ENCODED house image\r\n"
              "   Number of Coefficients\t\t: 64\r\n"
              "   Target Bitrate\t\t\t: 1.00 (bpp)\r\n"
              "   No Channel Errors Simulated\r\n"
              "\r\n"
              "   First coeff. encoding\t\t: DPCM\r\n"
              "   First coeff c-value\t\t: 0.75\r\n"
              "\r\n"
              "   Other DCT coeffs Encoding\t: PCM\r\n"
              "   Other coeffs c-value\t\t: 0.50\r\n"
              "\r\n");
    const std::string b = ModuleHarness::Description(doc->m_pResultFrameB);
    const std::string head = "ENCODED DCT COEFFS of the house image\r\n"
                             "   Number of Coefficients\t\t: 64\r\n"
                             "   Target Bitrate\t\t\t: 1.00\r\n"
                             "   No Channel Errors Simulated\r\n"
                             "\r\n"
                             "   First coeff. encoding\t\t: DPCM\r\n"
                             "   First coeff. c-value\t\t: 0.75\r\n"
                             "   Pred. coefficients\t\t: ";
    EXPECT_EQ(b.substr(0, head.size()), head);
    const std::string tail = "      x\r\n\r\n"
                             "   Other coeffs encoding\t\t: PCM\r\n"
                             "   Other coeffs c-value\t\t: 0.50\r\n";
    ASSERT_GE(b.size(), tail.size());
    EXPECT_EQ(b.substr(b.size() - tail.size()), tail);

    // The result text: the two tables, one row per collection, then the measures.
    const std::string text = Text();
    EXPECT_EQ(text.rfind("Results of bit allocation:\r\n", 0), 0u);
    EXPECT_NE(text.find("   64  "), std::string::npos);
    EXPECT_NE(text.find("Results after coding and decoding:\r\n"), std::string::npos);
    const size_t measures = text.find("  Coded Bitrate\t\t:");
    ASSERT_NE(measures, std::string::npos);
    EXPECT_NE(text.find("  Mean Square Error\t\t:", measures), std::string::npos);
    EXPECT_NE(text.find("  Signal-to-Noise Ratio\t:", measures), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 8), "(dB)\r\n\r\n");
    EXPECT_GT(codingtest::ReportedPsnr(text), 25.0);
    EXPECT_TRUE(messages.Texts().empty());
}

TEST_F(DctFixture, TransformSizesFollowTheImageSides)
{
    struct Case
    {
        int w, h;
        bool enabled[4];
        int selected, coefs;
    };
    const Case cases[] = {
        {256, 256, {true, true, true, true}, 1179, 64},
        {200, 120, {true, true, true, false}, 1179, 64},
        {100, 100, {true, true, false, false}, 1178, 16},
        {102, 100, {true, false, false, false}, 1177, 4},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
        dlg = Open("sized", *codingtest::Photo(c.w, c.h));
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(ModuleHarness::IsEnabled(dlg, CDctSizeDlg::kRadios[i]), c.enabled[i]) << i;
        for (int id : CDctSizeDlg::kRadios)
            EXPECT_EQ(ModuleHarness::IsChecked(dlg, id), id == c.selected) << id;
        Apply();
        EXPECT_EQ(ModuleHarness::ChainCaption(doc),
                  "DCT(sized): Coeffs:" + std::to_string(c.coefs) + " Bitr:1.00 Errors:No");
        ModuleHarness::Click(dlg, 2);
    }
    EXPECT_TRUE(messages.Texts().empty());
}

TEST_F(DctFixture, CodingOffIsLosslessAndComesBackAtThreeQuarterBit)
{
    dlg = Open("house", *codingtest::Photo());
    Apply();
    ASSERT_NE(doc->m_pResultFrameB, nullptr);
    zn::CRDDataBase &rd = *doc->m_pRDData;
    rd.StartStoring("DCT", "off");
    ModuleHarness::Click(dlg, kEncode);
    for (int tab : {1, 2, 3})
        EXPECT_FALSE(dlg->TabCtrl()->IsTabEnabled(tab)) << tab;
    EXPECT_TRUE(dlg->TabCtrl()->IsTabEnabled(4));
    Apply();
    rd.StopStoring();
    // The orthonormal transform alone loses nothing: only the measures are reported.
    EXPECT_EQ(Text(), "  Coded Bitrate\t\t:  8.00 (bpp)\r\n  Mean Square Error\t\t:   0.0\r\n"
                      "  Signal-to-Noise Ratio\t: Infinite (dB)\r\n  PSNR\t\t\t: Infinite (dB)\r\n\r\n");
    EXPECT_EQ(ModuleHarness::ChainCaption(doc), "DCT(house): Coeffs:64");
    EXPECT_EQ(ModuleHarness::ChainImageName(doc), "DCT_house_64");
    EXPECT_EQ(ModuleHarness::ChainDescription(doc),
              "DISCRETE COSINE TRANSFORM ENCODED house image\r\n   Number of DCT Coefficients\t: 64\r\n"
              "   No encoding of the DCT coefficients applied\r\n"
              "\r\n   Coded Bitrate\t\t\t:   8.00 (bpp)\r\n   Mean Square Error\t\t:    0.0\r\n"
              "   Signal-to-Noise Ratio\t\t: Infinite (dB)\r\n   PSNR\t\t\t\t: Infinite (dB)");
    EXPECT_EQ(ModuleHarness::Caption(doc->m_pResultFrameA), "DCT: ORIGINAL COEF(house) Coeffs:64");
    EXPECT_EQ(doc->m_pResultFrameB, nullptr); // window B closed
    const auto &curve = rd.m_ModuleData[rd.GetModuleIndex("DCT")].m_Curve[0];
    ASSERT_EQ(rd.m_ModuleData[rd.GetModuleIndex("DCT")].m_nNumberOfPoints[0], 1);
    EXPECT_EQ(curve.m_fRate[0], 8.0f);
    EXPECT_EQ(curve.m_fSNR[0], 60.0f);
    EXPECT_EQ(curve.m_fPSNR[0], 60.0f);
    for (int y = 0; y < 96; y += 7)
        for (int x = 0; x < 128; x += 5)
            ASSERT_EQ(zntest::GreyAt(*ModuleHarness::ChainImage(doc), x, y),
                      zntest::GreyAt(*doc->m_pDib, x, y));

    // Ticked again: 0.75 bpp with fixed-length code words, not the start state.
    ModuleHarness::Click(dlg, kEncode);
    for (int tab : {1, 2, 3})
        EXPECT_TRUE(dlg->TabCtrl()->IsTabEnabled(tab)) << tab;
    EXPECT_TRUE(ModuleHarness::IsChecked(dlg, 1197));
    EXPECT_FALSE(ModuleHarness::IsChecked(dlg, 1198));
    EXPECT_FALSE(ModuleHarness::IsChecked(dlg, kEntropy));
    const DctParams &p = dlg->PendingParams();
    EXPECT_EQ(p.fBitrate, 0.75f);
    EXPECT_EQ(p.bEntropy, 0);
    EXPECT_EQ(p.fErrorProb, 0.0f);
    EXPECT_EQ(p.nPredModel, 3);
    Apply();
    EXPECT_EQ(ModuleHarness::ChainCaption(doc), "DCT(house): Coeffs:64 Bitr:0.75 Errors:No");
    EXPECT_NE(doc->m_pResultFrameB, nullptr);
}

TEST_F(DctFixture, DisplayRegroupsTheCoefficientsIntoBlocks)
{
    dlg = Open("house", *codingtest::Photo());
    auto windowA = [this] { return ModuleHarness::Greys(ModuleHarness::Image(doc->m_pResultFrameA)); };
    Apply();
    const std::vector<int> collections = windowA();
    ModuleHarness::Click(dlg, 1291);
    EXPECT_EQ(dlg->PendingParams().nDisplay, 2);
    Apply();
    EXPECT_NE(windowA(), collections);
    // The display changes only the pictures, never the coding.
    EXPECT_EQ(ModuleHarness::ChainCaption(doc), "DCT(house): Coeffs:64 Bitr:1.00 Errors:No");
}

TEST_F(DctFixture, MethodListsDriveThePredictionModel)
{
    dlg = Open("house", *codingtest::Photo());
    codingtest::Choose(dlg, 1188, 1); // first coefficient: PCM, so both are PCM
    EXPECT_FALSE(ModuleHarness::IsEnabled(dlg, 1212));
    EXPECT_FALSE(ModuleHarness::IsEnabled(dlg, 1148));
    EXPECT_FALSE(ModuleHarness::IsEnabled(dlg, 1211));
    EXPECT_EQ(dlg->PendingParams().nFirstMethod, 0);
    EXPECT_EQ(dlg->PendingParams().nPredModel, 0);
    codingtest::Choose(dlg, 1191, 3); // others: c = 2.00
    EXPECT_EQ(dlg->PendingParams().sOtherPdf, "gg200");
    Apply();
    const std::string b = ModuleHarness::Description(doc->m_pResultFrameB);
    EXPECT_EQ(b.find("Pred."), std::string::npos);
    EXPECT_NE(b.find("   First coeff. encoding\t\t: PCM\r\n   First coeff. c-value\t\t: 0.75\r\n\r\n"),
              std::string::npos);
    EXPECT_NE(b.find("   Other coeffs c-value\t\t: 2.00\r\n"), std::string::npos);

    // Others DPCM: the model comes back as 3, and collection 1's predictor is listed.
    codingtest::Choose(dlg, 1189, 0);
    EXPECT_TRUE(ModuleHarness::IsEnabled(dlg, 1212));
    EXPECT_EQ(dlg->PendingParams().nPredModel, 3);
    Apply();
    EXPECT_NE(ModuleHarness::Description(doc->m_pResultFrameB).find("   Pred. coeff. 2-nd DCT coef.\t: "),
              std::string::npos);
    EXPECT_TRUE(messages.Texts().empty());
}

TEST_F(DctFixture, ChannelErrorsUseFixedLengthCodesAndRepeatWithThePinnedSeed)
{
    zn::PinRandSeed(77); // the first run of the program seeds from the (pinned) clock
    dlg = Open("house", *codingtest::Photo());
    ModuleHarness::Click(dlg, kEntropy); // off: the Errors tab opens
    EXPECT_TRUE(dlg->TabCtrl()->IsTabEnabled(CDctDlg::kErrorsTab));
    ModuleHarness::Click(dlg, kSimulate);
    EXPECT_TRUE(ModuleHarness::IsChecked(dlg, 1207));
    EXPECT_EQ(dlg->PendingParams().fErrorProb, 0.005f);
    ModuleHarness::Click(dlg, 1209);
    EXPECT_EQ(dlg->PendingParams().fErrorProb, 0.0005f);
    const std::vector<int> first = ModuleHarness::ApplySeeded(dlg, kApply, doc, 77);
    EXPECT_EQ(ModuleHarness::ApplySeeded(dlg, kApply, doc, 77), first);
    EXPECT_EQ(ModuleHarness::ChainCaption(doc), "DCT(house): Coeffs:64 Bitr:1.00 Errors:0005");
    EXPECT_EQ(ModuleHarness::ChainImageName(doc), "DCT_house_64_1_0005");
    EXPECT_NE(ModuleHarness::ChainDescription(doc).find("   Channel Errors Probability\t: 0.0005\r\n"),
              std::string::npos);
    EXPECT_TRUE(dlg->ApplyButton()->isEnabled());

    // Errors off again: entropy coding stays off, and box, page and record agree.
    ModuleHarness::Click(dlg, kSimulate);
    EXPECT_EQ(dlg->PendingParams().fErrorProb, 0.0f);
    EXPECT_EQ(dlg->PendingParams().bEntropy, 0);
    EXPECT_FALSE(ModuleHarness::IsChecked(dlg, kEntropy));
    // Entropy on again closes the Errors tab and drops the probability.
    ModuleHarness::Click(dlg, kSimulate);
    ModuleHarness::Click(dlg, kEntropy);
    EXPECT_FALSE(dlg->TabCtrl()->IsTabEnabled(CDctDlg::kErrorsTab));
    EXPECT_EQ(dlg->PendingParams().fErrorProb, 0.0f);
    EXPECT_FALSE(ModuleHarness::IsChecked(dlg, kSimulate));
}

TEST_F(DctFixture, PointsOnlyWhileRecordingAndRisingWithTheRate)
{
    dlg = Open("house", *codingtest::Photo());
    ExpectPointsOnlyWhileRecording("DCT", "PCM", {1202, 1196, 1198}); // 3.0, 0.5, 1.0 bpp
}

TEST_F(DctFixture, EmptyTablesDirectoryOpensThePreferences)
{
    dlg = Open("house", *codingtest::Photo());
    ExpectEmptyTablesDirOpensPreferences();
}

TEST_F(DctFixture, MissingQuantizerEndsTheRunWithItsMessage)
{
    // A tables directory holding the performance tables but no quantiser of the "others" family.
    namespace fs = std::filesystem;
    const std::string dir = h.Dir().File("tables/");
    fs::create_directories(dir);
    for (const auto &e : fs::directory_iterator(codingtest::kTables)) {
        const std::string name = e.path().filename().string();
        if (name.find("_gg050_") == std::string::npos || name.find(".sqt") == std::string::npos)
            fs::copy_file(e.path(), dir + name);
    }
    theApp.m_sTableDir = QString::fromStdString(dir);
    dlg = Open("house", *codingtest::Photo());
    Apply();
    // The reader says what it could not open, then the run ends naming the quantiser.
    ASSERT_EQ(messages.Texts().size(), 2u);
    EXPECT_EQ(messages.Texts()[0], "Can't open Quantizer file");
    EXPECT_EQ(messages.Texts()[1].rfind("SbcSelQuant: No ", 0), 0u) << messages.Texts()[1];
    EXPECT_NE(messages.Texts()[1].find("quantizer \"gg050\""), std::string::npos) << messages.Texts()[1];
    EXPECT_EQ(ModuleHarness::ChainCount(doc), 0);
    EXPECT_TRUE(dlg->ApplyButton()->isEnabled());
}

TEST_F(DctFixture, ReportedPsnrAgreesWithImageMagick)
{
    ZN_REQUIRE_TOOL("compare");
    dlg = Open("house", *codingtest::Photo(128, 96));
    zn::CRDDataBase &rd = *doc->m_pRDData;
    rd.StartStoring("DCT", "oracle");
    int point = 0;
    struct Case
    {
        int sizeId, rateId;
    };
    for (const Case c :
         {Case{1179, 1195}, Case{1179, 1198}, Case{1180, 1200}, Case{1178, 1204}, Case{1177, 1197}}) {
        ModuleHarness::Click(dlg, c.sizeId);
        ModuleHarness::Click(dlg, c.rateId);
        Apply();
        const std::string result = h.SaveChainImage(doc, "result.bmp");
        const double magick = zntest::MagickPsnr(h.ImagePath(), result);
        const auto &curve = rd.m_ModuleData[rd.GetModuleIndex("DCT")].m_Curve[0];
        EXPECT_TRUE(zntest::PsnrAgrees(curve.m_fPSNR[point++], magick, 0.01));
        EXPECT_TRUE(zntest::PsnrAgrees(codingtest::ReportedPsnr(Text()), magick, 0.05 + 1e-3))
            << c.sizeId << " " << c.rateId;
    }
    rd.StopStoring();
    codingtest::CheckCorpus<CDctDlg>(h, zn::cmd::kDct, kApply, kResults);
}

TEST_F(DctFixture, CancelDeactivatesAndHides)
{
    dlg = Open("house", *codingtest::Photo());
    const int dct = doc->m_pRDData->GetModuleIndex("DCT");
    ModuleHarness::Click(dlg, 2);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(doc->m_pDctDlg, nullptr);
    EXPECT_FALSE(doc->m_pRDData->m_bModuleActive[dct]);
}

// Sizes and values the pages never offer are refused before anything is read.
TEST(DctCoder, RefusesWhatThePagesCannotChoose)
{
    auto image = codingtest::Photo(100, 100);
    image->m_title = "odd";
    struct Case
    {
        const char *what;
        DctParams par;
    };
    DctParams size16, rate, prob, model, pdf;
    size16.nSize = 4; // 16 does not divide 100
    rate.fBitrate = 0.6f;
    prob.fErrorProb = 0.25f;
    model.nPredModel = 0; // DPCM without a model
    pdf.sOtherPdf = "gg300";
    for (const Case &c : {Case{"size", size16}, Case{"rate", rate}, Case{"prob", prob}, Case{"model", model},
                          Case{"pdf", pdf}}) {
        ZnImage decoded, a, b;
        EXPECT_THROW(DctCodeImage(c.par, true, 0, image.get(), "odd", codingtest::kTables, &decoded, &a, &b),
                     zn::RunAborted)
            << c.what;
    }
    EXPECT_EQ(DctLargestSize(256, 256), 4);
    EXPECT_EQ(DctLargestSize(200, 120), 3);
    EXPECT_EQ(DctLargestSize(100, 100), 2);
    EXPECT_EQ(DctLargestSize(102, 100), 1);
    EXPECT_EQ(DctLargestSize(101, 100), 0);
}

} // namespace

} // namespace dct_module_test
