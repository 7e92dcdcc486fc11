// The fractal module driven through its dialog: pages and their rules, when Apply encodes and when
// it only decodes the shared code file again, texts and names, R(D) points, refusals, and the
// reported PSNR checked against ImageMagick.
#include "modules/module_harness.h"

#include "image/cdib.h"
#include "modules/fractal/fic_codec.h"
#include "modules/fractal/fractal_dlg.h"
#include "platform/messages.h"
#include "shell/dib_doc.h"
#include "shell/doc_commands.h"
#include "shell/rd_database.h"

#include <QLineEdit>
#include <QSpinBox>
#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>

namespace fractal_dialog_test { // one namespace per test file: a folder compiles as one source

using zntest::ModuleHarness;

namespace {

constexpr int kApply = CFICDlg::IDC_APPLY;
constexpr int kResults = CFICDlg::IDC_RESULTS;
constexpr int kMaxIds[7] = {1085, 1084, 1083, 1082, 1081, 1080, 1079}; // 2 .. 128
constexpr int kMinIds[7] = {1092, 1091, 1090, 1089, 1088, 1087, 1086};

int Grey(int x, int y)
{
    return 30 + x / 2 + y / 3 + ((x / 24 + y / 20) % 2) * 70 + (x * 7 + y * 13) % 19;
}

std::unique_ptr<CDib> Photo(int w = 256, int h = 256)
{
    return zntest::MakeGreyDib(w, h, [](int x, int y) { return std::min(255, Grey(x, y)); });
}

struct FractalFixture : ::testing::Test
{
    void SetUp() override { RegisterFractalModule(); }

    CFICDlg *Open(const std::string &title, const CDib &image)
    {
        doc = h.OpenImage(title, image);
        return h.Open<CFICDlg>(doc, zn::cmd::kFractal);
    }
    QSpinBox *Spin(CFICDlg *dlg, int id) { return zn::FindControl<QSpinBox>(dlg, id); }
    // The spin control's arrows, pressed `steps` times (negative: down).
    void Step(CFICDlg *dlg, int spinId, int steps)
    {
        QSpinBox *spin = Spin(dlg, spinId);
        for (int i = 0; i < std::abs(steps); ++i)
            spin->stepBy(steps > 0 ? 1 : -1);
    }
    std::string CodePath() { return h.Dir().File(kFicCodeFileName); }
    std::string Text(CFICDlg *dlg) { return ModuleHarness::ResultText(dlg, kResults); }

    zn::MessageRecorder messages;
    ModuleHarness h;
    CDibDoc *doc = nullptr;
};

TEST_F(FractalFixture, OpensWithItsPagesAndDefaults)
{
    CFICDlg *dlg = Open("photo", *Photo());
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(dlg->windowTitle().toStdString(), "Fractal Image Coding: photo");
    ASSERT_EQ(dlg->TabCtrl()->GetItemCount(), 4);
    const char *labels[] = {"Size", "Threshold", "Bits", "Iterations"};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(dlg->TabCtrl()->GetTabText(i).toStdString(), labels[i]);
    EXPECT_TRUE(doc->m_pRDData->m_bModuleActive[doc->m_pRDData->GetModuleIndex("FRAC")]);
    EXPECT_TRUE(ModuleHarness::IsEnabled(dlg, kApply));

    EXPECT_TRUE(ModuleHarness::IsChecked(dlg, 1082)); // max 16
    EXPECT_TRUE(ModuleHarness::IsChecked(dlg, 1091)); // min 4
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(ModuleHarness::IsEnabled(dlg, kMaxIds[i]), i != 0) << "max " << (2 << i);
        EXPECT_EQ(ModuleHarness::IsEnabled(dlg, kMinIds[i]), i < 4) << "min " << (2 << i);
    }
    EXPECT_EQ(zn::FindControl<QLineEdit>(dlg, 1285)->text().toStdString(), "8");
    EXPECT_EQ(zn::FindControl<QLineEdit>(dlg, 1284)->text().toStdString(), "8");
    EXPECT_TRUE(zn::FindControl<QLineEdit>(dlg, 1285)->isReadOnly());
    const int scaling[] = {1062, 1061, 1060, 1059, 1558, 1557, 1556, 1890};
    const int offset[] = {1065, 1066, 1067, 1068, 1069, 1070, 1071, 1072};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(ModuleHarness::IsChecked(dlg, scaling[i]), i == 3);
        EXPECT_EQ(ModuleHarness::IsChecked(dlg, offset[i]), i == 5);
    }
    EXPECT_EQ(dlg->PendingParams(), (FicParams{4, 16, 8, 4, 6, 8}));
    EXPECT_EQ(dlg->LastParams(), (FicParams{-1, -1, -1, -1, -1, -1}));

    ModuleHarness::Click(dlg, 1558); // scaling 5
    ModuleHarness::Click(dlg, 1066); // offset 2
    EXPECT_EQ(dlg->PendingParams(), (FicParams{4, 16, 8, 5, 2, 8}));
}

TEST_F(FractalFixture, SizePageKeepsTheMinimumAtMostTheMaximum)
{
    CFICDlg *dlg = Open("photo", *Photo());
    ModuleHarness::Click(dlg, 1083); // max 8
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(ModuleHarness::IsEnabled(dlg, kMinIds[i]), i < 3) << "min " << (2 << i);
    ModuleHarness::Click(dlg, 1090); // min 8
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(ModuleHarness::IsEnabled(dlg, kMaxIds[i]), i >= 2) << "max " << (2 << i);
    EXPECT_EQ(dlg->PendingParams().nMaxBlock, 8);
    EXPECT_EQ(dlg->PendingParams().nMinBlock, 8);
    ModuleHarness::Click(dlg, 1079); // max 128 opens every minimum again
    for (int i = 0; i < 7; ++i)
        EXPECT_TRUE(ModuleHarness::IsEnabled(dlg, kMinIds[i]));
    EXPECT_EQ(dlg->PendingParams().nMaxBlock, 128);
}

TEST_F(FractalFixture, SpinControlsStopAtTheirLimits)
{
    CFICDlg *dlg = Open("photo", *Photo());
    struct Case
    {
        int spin, edit, low, high;
        int FicParams::*value;
    };
    for (const Case c : {Case{1286, 1285, 2, 50, &FicParams::nThreshold},
                         Case{1282, 1284, 1, 20, &FicParams::nIterations}}) {
        Step(dlg, c.spin, 100);
        EXPECT_EQ(zn::FindControl<QLineEdit>(dlg, c.edit)->text().toInt(), c.high);
        EXPECT_EQ(dlg->PendingParams().*c.value, c.high);
        Step(dlg, c.spin, -100);
        EXPECT_EQ(zn::FindControl<QLineEdit>(dlg, c.edit)->text().toInt(), c.low);
        EXPECT_EQ(dlg->PendingParams().*c.value, c.low);
        Step(dlg, c.spin, 3);
        EXPECT_EQ(dlg->PendingParams().*c.value, c.low + 3);
    }
}

TEST_F(FractalFixture, DefaultApplyEncodesDecodesAndNamesTheResult)
{
    CFICDlg *dlg = Open("photo", *Photo());
    ModuleHarness::Click(dlg, kApply);
    EXPECT_TRUE(messages.Texts().empty());
    EXPECT_TRUE(dlg->LastApplyEncoded());
    const std::string text = Text(dlg);
    ASSERT_EQ(text.rfind("  Coded Bitrate\t\t:", 0), 0u) << text;
    EXPECT_NE(text.find("\r\n  Fitting Blocks\t\t:"), std::string::npos);
    EXPECT_NE(text.find("\r\n  Mean Square Error\t\t:"), std::string::npos);
    EXPECT_NE(text.find("\r\n  PSNR\t\t\t:"), std::string::npos);
    const std::vector<unsigned char> code = zntest::ReadFileBytes(CodePath());
    EXPECT_NEAR(zntest::ReportedMeasure(text, "  Coded Bitrate\t\t:"), 8.0 * code.size() / (256 * 256),
                0.005);
    EXPECT_FLOAT_EQ(dlg->LastRate(), 8.0f * code.size() / (256 * 256));
    EXPECT_EQ(ModuleHarness::ChainImageName(doc), "FIC_photo_4_16_8_4_6_8");
    EXPECT_EQ(ModuleHarness::ChainCaption(doc), "FIC(photo): MinSz:4 MaxSz:16 Acc:8 Scal:4 Off:6 Iter:8");
    const std::string desc = ModuleHarness::ChainDescription(doc);
    EXPECT_EQ(desc.substr(0, desc.find("   Coded Bitrate")), "FRACTAL ENCODED photo image\r\n"
                                                             "   Minimum Block Size\t\t:  4\r\n"
                                                             "   Maximum Block Size\t\t:  16\r\n"
                                                             "   Threshold\t\t\t:  8\r\n"
                                                             "   Bits for Scaling\t\t\t:  4\r\n"
                                                             "   Bits for Offset\t\t\t:  6\r\n"
                                                             "   Number of Iterations\t\t:  8\r\n"
                                                             "\r\n");
    EXPECT_NE(desc.find("   Percentage of Fitting Blocks\t: "), std::string::npos);
    EXPECT_GT(zntest::ReportedPsnr(text), 26.0);

    // The chain image is the decoder's picture of the code file.
    FicCode parsed;
    ASSERT_EQ(FicParseCode(std::vector<uint8_t>(code.begin(), code.end()), 256, 256, &parsed), "");
    const std::vector<uint8_t> expect = FicDecodeImage(parsed, 8);
    const std::vector<int> got = ModuleHarness::ChainGreys(doc);
    ASSERT_EQ(got.size(), expect.size());
    for (size_t i = 0; i < got.size(); ++i)
        ASSERT_EQ(got[i], expect[i]) << i;
}

TEST_F(FractalFixture, ApplyTwiceEncodesTwiceWithEqualReports)
{
    CFICDlg *dlg = Open("photo", *Photo());
    ModuleHarness::Click(dlg, kApply);
    const std::string first = Text(dlg);
    ASSERT_TRUE(std::filesystem::remove(CodePath()));
    ModuleHarness::Click(dlg, kApply); // nothing changed: encoded again, the file is back
    EXPECT_TRUE(dlg->LastApplyEncoded());
    EXPECT_TRUE(std::filesystem::exists(CodePath()));
    EXPECT_EQ(Text(dlg), first);
    EXPECT_EQ(ModuleHarness::ChainCount(doc), 2);
    EXPECT_TRUE(messages.Texts().empty());
}

TEST_F(FractalFixture, IterationsOnlyDecodesTheExistingCodeAgain)
{
    CFICDlg *dlg = Open("photo", *Photo());
    doc->m_pRDData->StartStoring("FRAC", "iter");
    ModuleHarness::Click(dlg, kApply);
    const float rate = dlg->LastRate();
    // Put a code of other settings in place: decoding it again shows that the encoder did not run.
    std::vector<uint8_t> pixels;
    for (int v : ModuleHarness::Greys(doc->m_pDib))
        pixels.push_back(static_cast<uint8_t>(v));
    const std::vector<uint8_t> coarse = FicEncode(pixels.data(), 256, 256, {16, 8, 30, 2, 3}, nullptr);
    ASSERT_TRUE(zntest::WriteFileBytes(CodePath(), {coarse.begin(), coarse.end()}));

    Step(dlg, 1282, 4); // 8 -> 12
    ModuleHarness::Click(dlg, kApply);
    EXPECT_FALSE(dlg->LastApplyEncoded());
    EXPECT_EQ(zntest::ReadFileBytes(CodePath()), std::vector<unsigned char>(coarse.begin(), coarse.end()));
    const std::string text = Text(dlg);
    EXPECT_EQ(text.rfind("  Mean Square Error\t\t:", 0), 0u) << text;
    EXPECT_EQ(text.find("Coded Bitrate"), std::string::npos);
    EXPECT_EQ(ModuleHarness::ChainImageName(doc), "FIC_photo");
    EXPECT_EQ(ModuleHarness::ChainCaption(doc), "FIC(photo): ");
    const std::string desc = ModuleHarness::ChainDescription(doc);
    EXPECT_NE(desc.find("   Number of Iterations\t\t:  12\r\n\r\n\r\n   Mean Square Error"),
              std::string::npos);
    FicCode parsed;
    ASSERT_EQ(FicParseCode(coarse, 256, 256, &parsed), "");
    const std::vector<uint8_t> expect = FicDecodeImage(parsed, 12);
    const std::vector<int> got = ModuleHarness::ChainGreys(doc);
    for (size_t i = 0; i < got.size(); ++i)
        ASSERT_EQ(got[i], expect[i]) << i;

    // The R(D) point of the decoding carries the rate of the dialog's last encoding.
    doc->m_pRDData->StopStoring();
    const auto &data = doc->m_pRDData->m_ModuleData[doc->m_pRDData->GetModuleIndex("FRAC")];
    ASSERT_EQ(data.m_nNumberOfPoints[0], 2);
    EXPECT_EQ(data.m_Curve[0].m_fRate[0], rate);
    EXPECT_EQ(data.m_Curve[0].m_fRate[1], rate);

    // Changing the iterations and back is no change of the iterations alone: it encodes again.
    Step(dlg, 1282, 2);
    Step(dlg, 1282, -2);
    ModuleHarness::Click(dlg, kApply);
    EXPECT_TRUE(dlg->LastApplyEncoded());
    EXPECT_NE(zntest::ReadFileBytes(CodePath()), std::vector<unsigned char>(coarse.begin(), coarse.end()));
    EXPECT_EQ(ModuleHarness::ChainImageName(doc), "FIC_photo_4_16_8_4_6_12");
    EXPECT_TRUE(messages.Texts().empty());
}

TEST_F(FractalFixture, MissingCodeFileDecodesToBlack)
{
    CFICDlg *dlg = Open("photo", *Photo());
    ModuleHarness::Click(dlg, kApply);
    ASSERT_TRUE(std::filesystem::remove(CodePath()));
    Step(dlg, 1282, 1);
    ModuleHarness::Click(dlg, kApply);
    EXPECT_EQ(messages.Texts(),
              std::vector<std::string>{"FractalDecoder - Cannot decode image. Need to encode an "
                                       "image first"});
    for (int v : ModuleHarness::ChainGreys(doc))
        ASSERT_EQ(v, 0);
    EXPECT_EQ(Text(dlg).rfind("  Mean Square Error\t\t:", 0), 0u);
}

TEST_F(FractalFixture, AnotherDocumentsCodeIsNeverDecodedIntoThisImage)
{
    CFICDlg *dlg = Open("photo", *Photo());
    ModuleHarness::Click(dlg, kApply);
    // Another document, of another size, codes into the shared file.
    CDibDoc *wide = h.OpenImage("wide", *Photo(128, 64));
    auto *other = h.Open<CFICDlg>(wide, zn::cmd::kFractal);
    ModuleHarness::Click(other, kApply);
    EXPECT_TRUE(other->LastApplyEncoded());

    Step(dlg, 1282, 1); // iterations only: the file holds a 128 x 64 code, so this image is encoded again
    ModuleHarness::Click(dlg, kApply);
    EXPECT_TRUE(dlg->LastApplyEncoded());
    EXPECT_EQ(ModuleHarness::ChainImageName(doc), "FIC_photo_4_16_8_4_6_9");
    EXPECT_GT(zntest::ReportedPsnr(Text(dlg)), 26.0);
    EXPECT_TRUE(messages.Texts().empty());
}

TEST_F(FractalFixture, SettingsTheCoderCannotTakeAreRefusedAndTheNextApplyEncodes)
{
    CFICDlg *dlg = Open("small", *Photo(32, 32));
    ModuleHarness::Click(dlg, 1081); // max 32 on a 32 x 32 image
    ModuleHarness::Click(dlg, kApply);
    ASSERT_EQ(messages.Count(), 1u);
    EXPECT_NE(messages.Texts()[0].find("Maximum block size 32 is too large for this 32 x 32 image"),
              std::string::npos)
        << messages.Texts()[0];
    EXPECT_EQ(ModuleHarness::ChainCount(doc), 0);
    EXPECT_FALSE(std::filesystem::exists(CodePath()));

    messages.Clear();
    ModuleHarness::Click(dlg, 1083); // max 8
    ModuleHarness::Click(dlg, kApply);
    EXPECT_TRUE(messages.Texts().empty());
    EXPECT_TRUE(dlg->LastApplyEncoded());
    EXPECT_EQ(ModuleHarness::ChainImageName(doc), "FIC_small_4_8_8_4_6_8");
}

TEST_F(FractalFixture, UnwritableCodeFileEndsTheApplyWithItsMessage)
{
    CFICDlg *dlg = Open("photo", *Photo());
    std::filesystem::create_directory(CodePath()); // a folder in the file's place cannot be opened
    ModuleHarness::Click(dlg, kApply);
    ASSERT_EQ(messages.Count(), 1u);
    EXPECT_EQ(messages.Texts()[0], "FractalEncoder - Cannot open output file for write: " + CodePath() + ".");
    EXPECT_EQ(ModuleHarness::ChainCount(doc), 0);
    EXPECT_EQ(dlg->LastRate(), 0.0f); // no stale rate

    // An iterations-only Apply afterwards still encodes: the failed run left no code behind.
    std::filesystem::remove(CodePath());
    messages.Clear();
    Step(dlg, 1282, 1);
    ModuleHarness::Click(dlg, kApply);
    EXPECT_TRUE(messages.Texts().empty());
    EXPECT_TRUE(dlg->LastApplyEncoded());
}

TEST_F(FractalFixture, FlatImageIsErrorFreeAndStoresSixty)
{
    // Flat 101: the offset index 25 of 6 bits decodes to 255 * 25 / 63 = 101.2, which the decoder
    // rounds back to 101.
    auto flat = zntest::MakeGreyDib(64, 64, [](int, int) { return 101; });
    CFICDlg *dlg = Open("flat", *flat);
    doc->m_pRDData->StartStoring("FRAC", "flat");
    ModuleHarness::Click(dlg, kApply);
    doc->m_pRDData->StopStoring();
    const std::string text = Text(dlg);
    EXPECT_NE(text.find("  Fitting Blocks\t\t:100.00\r\n  Mean Square Error\t\t:   0.0\r\n"
                        "  Signal-to-Noise Ratio\t: Infinite (dB)\r\n  PSNR\t\t\t: Infinite (dB)\r\n\r\n"),
              std::string::npos)
        << text;
    const auto &data = doc->m_pRDData->m_ModuleData[doc->m_pRDData->GetModuleIndex("FRAC")];
    ASSERT_EQ(data.m_nNumberOfPoints[0], 1);
    EXPECT_EQ(data.m_Curve[0].m_fSNR[0], 60.0f);
    EXPECT_EQ(data.m_Curve[0].m_fPSNR[0], 60.0f);
}

TEST_F(FractalFixture, ReportedPsnrAgreesWithImageMagick)
{
    ZN_REQUIRE_TOOL("compare");
    CFICDlg *dlg = Open("photo", *Photo());
    doc->m_pRDData->StartStoring("FRAC", "oracle");
    int point = 0;
    // Defaults, then larger blocks, then finer scales, then an iterations-only decoding.
    for (const int click : {0, 1081, 1890}) {
        if (click)
            ModuleHarness::Click(dlg, click);
        ModuleHarness::Click(dlg, kApply);
        const double magick = zntest::MagickPsnr(h.ImagePath(), h.SaveChainImage(doc, "result.bmp"));
        EXPECT_TRUE(zntest::PsnrAgrees(zntest::ReportedPsnr(Text(dlg)), magick, 0.05 + 1e-3)) << click;
        const auto &curve = doc->m_pRDData->m_ModuleData[doc->m_pRDData->GetModuleIndex("FRAC")].m_Curve[0];
        EXPECT_TRUE(zntest::PsnrAgrees(curve.m_fPSNR[point], magick, 0.01)) << click;
        ++point;
    }
    Step(dlg, 1282, -6);
    ModuleHarness::Click(dlg, kApply);
    EXPECT_FALSE(dlg->LastApplyEncoded());
    EXPECT_TRUE(zntest::PsnrAgrees(zntest::ReportedPsnr(Text(dlg)),
                                   zntest::MagickPsnr(h.ImagePath(), h.SaveChainImage(doc, "result.bmp")),
                                   0.05 + 1e-3));
    doc->m_pRDData->StopStoring();
    EXPECT_TRUE(messages.Texts().empty());

    // Outside images whose sides the module takes (powers of two, at least 32).
    zntest::CheckCorpusImages([&](CDibDoc *other, const std::string &reference) {
        const int w = other->m_pDib->GetWidth(), ht = other->m_pDib->GetHeight();
        const auto pow2 = [](int v) { return v >= 32 && v <= 4095 && (v & (v - 1)) == 0; };
        if (!pow2(w) || !pow2(ht))
            return false;
        auto *fic = h.Open<CFICDlg>(other, zn::cmd::kFractal);
        ModuleHarness::Click(fic, kApply);
        const double magick = zntest::MagickPsnr(reference, h.SaveChainImage(other, "result.bmp"));
        EXPECT_TRUE(zntest::PsnrAgrees(zntest::ReportedPsnr(Text(fic)), magick, 0.05 + 1e-3))
            << other->m_pDib->m_title;
        return true;
    });
}

TEST_F(FractalFixture, CancelDeactivatesTheModule)
{
    CFICDlg *dlg = Open("photo", *Photo());
    const int frac = doc->m_pRDData->GetModuleIndex("FRAC");
    ModuleHarness::Click(dlg, 2);
    EXPECT_FALSE(doc->m_pRDData->m_bModuleActive[frac]);
    EXPECT_EQ(doc->m_pFractalDlg, nullptr);
}

} // namespace

} // namespace fractal_dialog_test
