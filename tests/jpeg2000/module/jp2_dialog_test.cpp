// The JPEG2000 module driven through its dialog: the encoder vector and budget, the code-stream file,
// the texts, names and captions, the links between the pages, re-encoding only when needed, R(D)
// recording, failures, and the results checked against ImageMagick and opj_decompress.
#include "modules/module_harness.h"

#include "image/cdib.h"
#include "jpeg2000/memory_image.h"
#include "jpeg2000/module/jp2_apply.h"
#include "jpeg2000/module/jp2_dlg.h"
#include "jpeg2000/module/jp2_pages.h"
#include "jpeg2000/support/j2k_header_convert.h"
#include "jpeg2000/support/pnm_files.h"
#include "platform/messages.h"
#include "shell/dib_doc.h"
#include "shell/doc_commands.h"
#include "shell/help_window.h"
#include "shell/rd_database.h"
#include "shell/rd_storing_dlg.h"

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QSignalSpy>
#include <QTabBar>
#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>

namespace jp2_dialog_test { // one namespace per test file: a folder compiles as one source

using zntest::ModuleHarness;

namespace {

constexpr int kApply = Jpeg2000Dlg::IDC_APPLY;
constexpr int kResults = Jpeg2000Dlg::IDC_RESULTS;

// A picture with smooth areas, edges and texture.
std::unique_ptr<CDib> Photo(int w, int h)
{
    return zntest::MakeGreyDib(w, h, [](int x, int y) {
        return static_cast<int>(120 + 70 * std::sin(x * 0.09) * std::cos(y * 0.06) +
                                ((x / 13 + y / 17) % 2) * 30 + (x * 7 + y * 13) % 11 - 5);
    });
}

std::vector<uint8_t> FileBytes(const std::string &path)
{
    const auto b = zntest::ReadFileBytes(path);
    return std::vector<uint8_t>(b.begin(), b.end());
}

bool Contains(const std::vector<uint8_t> &hay, const std::vector<uint8_t> &needle)
{
    return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
}

// The number of the report's "Decoded bitrate" line, as printed ("%6.2f").
std::string ReportedDecodedRate(const std::string &result)
{
    const std::string label = "  Decoded bitrate\t\t:";
    const size_t at = result.find(label);
    return at == std::string::npos ? std::string() : result.substr(at + label.size(), 6);
}

struct Jp2Fixture : ::testing::Test
{
    void SetUp() override { RegisterJpeg2000Module(); }

    Jpeg2000Dlg *Open(const std::string &title, const CDib &image)
    {
        doc = h.OpenImage(title, image);
        return h.Open<Jpeg2000Dlg>(doc, zn::cmd::kJpeg2000);
    }
    template <class Page> Page *PageOf(Jpeg2000Dlg *dlg) { return dlg->findChild<Page *>(); }
    std::string Result(Jpeg2000Dlg *dlg) { return ModuleHarness::ResultText(dlg, kResults); }

    zn::MessageRecorder messages;
    ModuleHarness h;
    CDibDoc *doc = nullptr;
};

// ---- defaults -----------------------------------------------------------------------------------

TEST_F(Jp2Fixture, DefaultsOnA512ImageGiveTheVectorBudgetTextsAndStream)
{
    Jpeg2000Dlg *dlg = Open("camera", *Photo(512, 512));
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(dlg->windowTitle().toStdString(), "JPEG2000: camera");
    EXPECT_EQ(Jpeg2000EncoderVector(dlg->Params()),
              (std::vector<std::string>{"Jpeg2000Encoder", "-Flev", "4", "-Cblk", "32", "-Bresync", "N"}));
    EXPECT_EQ(Jpeg2000ByteBudget(512, 512, dlg->Params().m_fEncRate), 16384);
    ModuleHarness::Click(dlg, kApply);
    ASSERT_TRUE(messages.Texts().empty()) << messages.Texts()[0];

    const std::string result = Result(dlg);
    EXPECT_EQ(result.rfind(
                  "JPEG2000 Encoder:\r\n  Target file size\t\t:131072 bits\r\n  Generated file size\t\t:", 0),
              0u)
        << result;
    EXPECT_NE(result.find("bits\r\n\r\nJPEG2000 DECODING RESULTS:\r\n  Decoded #bits\t\t:"),
              std::string::npos);
    EXPECT_NE(result.find("  Number of tiles decoded\t:    1\r\n  Mean Square Error\t\t:"),
              std::string::npos);
    EXPECT_NE(result.find("  Signal-to-Noise Ratio\t:"), std::string::npos);
    EXPECT_EQ(result.substr(result.size() - 9), " (dB)\r\n\r\n");

    const std::string desc = ModuleHarness::ChainDescription(doc);
    EXPECT_EQ(desc.rfind("JPEG2000 ENCODED camera image\r\n  Encoded bitrate\t\t:  0.50 (bpp)\r\n"
                         "  Target file size\t\t\t: 131072 bits\r\n  Number of resolution levels\t:  5\r\n"
                         "  Encoder codeblock size\t: 32\r\n\r\n  Decoded #bits\t\t\t:",
                         0),
              0u)
        << desc;
    EXPECT_NE(desc.find("  Number of tiles decoded\t:    1\r\n  Mean Square Error\t\t:"), std::string::npos);
    EXPECT_NE(desc.find("  Signal-to-Noise Ratio\t\t:"), std::string::npos);
    EXPECT_EQ(ModuleHarness::ChainImageName(doc), "JPEG2000_camera_0.50_0.50");
    EXPECT_EQ(ModuleHarness::ChainCaption(doc), "JPEG2000(camera):  EncRate 0.50; DecRate 0.50");

    const std::vector<uint8_t> file = FileBytes(h.Dir().File("camera_BitStream.jp2"));
    EXPECT_EQ(dlg->StreamPath(), h.Dir().File("camera_BitStream.jp2"));
    ASSERT_GT(file.size(), 4u);
    EXPECT_LE(file.size(), 16384u);
    EXPECT_EQ(std::vector<uint8_t>(file.begin(), file.begin() + 4),
              (std::vector<uint8_t>{0xFF, 0x4F, 0xFF, 0x51}));
    EXPECT_TRUE(
        Contains(file, {0xFF, 0x52, 0x00, 0x0C, 0x00, 0x04, 0x00, 0x00, 0x01, 0x03, 0x03, 0x00, 0x00, 0x00}));
    EXPECT_EQ(std::vector<uint8_t>(file.end() - 2, file.end()), (std::vector<uint8_t>{0xFF, 0xD9}));
    // The bits decoded are the file's, end marker aside, and the rate follows from them.
    const double bits = zntest::ReportedMeasure(result, "  Decoded #bits\t\t:");
    EXPECT_EQ(bits, 8.0 * double(file.size() - 2));
    EXPECT_NEAR(zntest::ReportedMeasure(result, "  Decoded bitrate\t\t:"), bits / (512 * 512), 0.005);
    // No temporary file is left beside the stream.
    int files = 0;
    for (const auto &e : std::filesystem::directory_iterator(h.Dir().Path()))
        files += e.path().filename().string().rfind("~j2k", 0) == 0;
    EXPECT_EQ(files, 0);
}

TEST_F(Jp2Fixture, AllOptionsOnGiveTheFullVector)
{
    Jpeg2000Dlg *dlg = Open("photo", *Photo(64, 64));
    for (int id : {2167, 2178, 2181, 1570, 1573, 1579})
        ModuleHarness::Click(dlg, id);
    EXPECT_EQ(Jpeg2000EncoderVector(dlg->Params()),
              (std::vector<std::string>{"Jpeg2000Encoder", "-Flev", "4", "-Frev", "-Cblk", "32", "-Clayers",
                                        "-Ftiles", "128", "128", "-Cvis", "0.700000", "-Bresync", "N"}));
    // The boosting page is never reachable; its words still reach the vector when it is on.
    Jpeg2000Params p;
    p.m_bRoi = 1;
    p.m_nRoiBoost = 10;
    p.m_fRoiRadius = 0.25f;
    EXPECT_EQ(Jpeg2000EncoderVector(p),
              (std::vector<std::string>{"Jpeg2000Encoder", "-Flev", "4", "-Cblk", "32", "-Rrgn", "10", "C",
                                        "0.5", "0.5", "0.250000", "-Bresync", "N"}));
    ModuleHarness::Click(dlg, kApply);
    EXPECT_TRUE(messages.Texts().empty()) << messages.Texts()[0];
    const std::string desc = ModuleHarness::ChainDescription(doc);
    for (const char *line :
         {"  Encoder has used reversible wavelet decomposition\r\n",
          "  Encoder has used tiling with size\t: 128\r\n", "  Encoded bit stream is SNR scalable\r\n"})
        EXPECT_NE(desc.find(line), std::string::npos) << line;
}

TEST_F(Jp2Fixture, BudgetsAreComputedWideAndHeldBelowTwoGigabytes)
{
    EXPECT_EQ(Jpeg2000ByteBudget(512, 512, 0.3f), 9830);
    EXPECT_EQ(Jpeg2000ByteBudget(512, 512, 100.0f), 3276800); // 12.5 bytes per pixel
    EXPECT_EQ(Jpeg2000ByteBudget(60000, 60000, 100.0f), INT32_MAX - 1);
    EXPECT_EQ(Jpeg2000ByteBudget(0, 0, 0.5f), 0);
    EXPECT_EQ(Jpeg2000StreamPath("/u/", "a b"), "/u/a b_BitStream.jp2");
    EXPECT_EQ(Jpeg2000StreamPath("/u", "a"), "/u/a_BitStream.jp2");
}

// ---- re-encoding only when needed -------------------------------------------------------------

TEST_F(Jp2Fixture, ASecondApplyOnlyDecodesAndANewDecodingRateKeepsTheFile)
{
    Jpeg2000Dlg *dlg = Open("photo", *Photo(128, 128));
    const std::string path = h.Dir().File("photo_BitStream.jp2");
    ModuleHarness::Click(dlg, kApply);
    EXPECT_EQ(dlg->Reencode(), 0);
    const auto first = FileBytes(path);
    const std::string encoder = dlg->EncoderText();
    // A marker in place of the stream's last bytes shows whether it is written again.
    const auto stamp = std::filesystem::last_write_time(path);
    ModuleHarness::Click(dlg, kApply);
    EXPECT_EQ(std::filesystem::last_write_time(path), stamp);
    EXPECT_EQ(FileBytes(path), first);
    EXPECT_EQ(Result(dlg).rfind(encoder, 0), 0u);
    ModuleHarness::Click(dlg, 2146); // decode at 0.2
    EXPECT_EQ(dlg->Reencode(), 0);
    ModuleHarness::Click(dlg, kApply);
    EXPECT_EQ(FileBytes(path), first);
    EXPECT_EQ(Result(dlg).rfind(encoder, 0), 0u);
    EXPECT_EQ(ModuleHarness::ChainImageName(doc), "JPEG2000_photo_0.50_0.20");
    EXPECT_LE(zntest::ReportedMeasure(Result(dlg), "  Decoded #bits\t\t:"), 0.2 * 128 * 128);
    // An encoder parameter does write it again.
    ModuleHarness::Click(dlg, 1566); // code-blocks of 8
    EXPECT_EQ(dlg->Reencode(), 1);
    ModuleHarness::Click(dlg, kApply);
    EXPECT_NE(FileBytes(path), first);
    EXPECT_TRUE(messages.Texts().empty()) << messages.Texts()[0];
}

// ---- links between the pages -------------------------------------------------------------------

TEST_F(Jp2Fixture, TheEncodingRateLimitsTheDecodingRates)
{
    Jpeg2000Dlg *dlg = Open("photo", *Photo(64, 64));
    const auto ids = Jpeg2000DecRateDlg::kIds;
    auto expectEnabledUpTo = [&](int last) {
        for (int i = 0; i < kJp2RateCount; ++i)
            EXPECT_EQ(ModuleHarness::IsEnabled(dlg, ids[i]), i <= last) << i;
        for (int i = 0; i < kJp2RateCount; ++i)
            EXPECT_EQ(ModuleHarness::IsChecked(dlg, ids[i]), i == last) << i;
    };
    expectEnabledUpTo(5);            // as the page starts
    ModuleHarness::Click(dlg, 1533); // encode at 0.3
    expectEnabledUpTo(3);
    EXPECT_EQ(dlg->Params().m_fDecRate, 0.3f);
    EXPECT_EQ(dlg->Params().m_fTruncRate, 0.3f);
    EXPECT_EQ(dlg->Params().m_fEncRate, 0.3f);
    ModuleHarness::Click(dlg, 1539); // 3.0
    expectEnabledUpTo(9);
    EXPECT_EQ(dlg->Params().m_fDecRate, 3.0f);
    ModuleHarness::Click(dlg, 1530); // 0.05: only the lowest stays
    expectEnabledUpTo(0);
    EXPECT_EQ(dlg->Params().m_fDecRate, 0.05f);
}

TEST_F(Jp2Fixture, LosslessDisablesTheRateTabsAndReconstructsExactly)
{
    auto image = Photo(96, 80);
    Jpeg2000Dlg *dlg = Open("photo", *image);
    doc->m_pRDData->StartStoring("JPEG2000", "exact");
    // "Lossless quant." only lifts the budget; the reconstruction is exact with the reversible filters.
    ModuleHarness::Click(dlg, 2167);
    ModuleHarness::Click(dlg, 2177);
    EXPECT_FALSE(dlg->TabCtrl()->IsTabEnabled(0));
    EXPECT_FALSE(dlg->TabCtrl()->IsTabEnabled(3));
    EXPECT_TRUE(dlg->TabCtrl()->IsTabEnabled(1));
    EXPECT_EQ(dlg->Params().m_fEncRate, 100.0f);
    EXPECT_EQ(dlg->Params().m_fTruncRate, -1.0f);
    EXPECT_EQ(Jpeg2000ByteBudget(96, 80, dlg->Params().m_fEncRate), int32_t(96 * 80 * 12.5));
    ModuleHarness::Click(dlg, kApply);
    doc->m_pRDData->StopStoring();
    ASSERT_TRUE(messages.Texts().empty()) << messages.Texts()[0];
    EXPECT_EQ(ModuleHarness::ChainImageName(doc), "JPEG2000_photo_inf_0.50");
    EXPECT_EQ(ModuleHarness::ChainCaption(doc), "JPEG2000(photo):  EncRate lossless; DecRate 0.50");
    EXPECT_EQ(ModuleHarness::ChainGreys(doc), ModuleHarness::Greys(image.get()));
    const std::string result = Result(dlg);
    EXPECT_NE(result.find("JPEG2000 Encoder:\r\n  File size will be determined by encoder\r\n"
                          "  by lossless encoding wavelet coeffs\r\n  Generated file size\t\t:"),
              std::string::npos);
    EXPECT_NE(result.find("  Signal-to-Noise Ratio\t: Infinite (dB)\r\n  PSNR\t\t\t: Infinite (dB)\r\n\r\n"),
              std::string::npos);
    const std::string desc = ModuleHarness::ChainDescription(doc);
    const auto generated = FileBytes(h.Dir().File("photo_BitStream.jp2")).size() - 2;
    const std::string sizeLine =
        zn::Format("  File size has been determined by lossless encoding of wavelets "
                   "coefficients\r\n  Generated file size\t\t: %7d (bits)\r\n",
                   int(8 * generated));
    EXPECT_NE(desc.find(sizeLine), std::string::npos) << desc;
    EXPECT_NE(desc.find("  Signal-to-Noise Ratio\t\t: Infinite (dB)\r\n  PSNR\t\t\t\t: Infinite (dB)\r\n"),
              std::string::npos);
    const auto &data = doc->m_pRDData->m_ModuleData[doc->m_pRDData->GetModuleIndex("JPEG2000")];
    ASSERT_EQ(data.m_nNumberOfPoints[0], 1);
    EXPECT_EQ(data.m_Curve[0].m_fSNR[0], 60.0f);
    EXPECT_EQ(data.m_Curve[0].m_fPSNR[0], 60.0f);
    // The lossless point sits at the rate the stream took, not at the unused decoding rate.
    EXPECT_EQ(zn::Format("%6.2f", double(data.m_Curve[0].m_fRate[0])), ReportedDecodedRate(result));
    EXPECT_LE(data.m_Curve[0].m_fRate[0], 8.0 * (generated + 2) / (96 * 80));
    // A decoding-only Apply repeats the size of the last encoding.
    ModuleHarness::Click(dlg, kApply);
    EXPECT_NE(ModuleHarness::ChainDescription(doc).find(sizeLine), std::string::npos);
    // Lossless off: the tabs come back and the page's rate counts again.
    ModuleHarness::Click(dlg, 2177);
    EXPECT_TRUE(dlg->TabCtrl()->IsTabEnabled(0));
    EXPECT_TRUE(dlg->TabCtrl()->IsTabEnabled(3));
    EXPECT_EQ(dlg->Params().m_fEncRate, 0.5f);
    EXPECT_EQ(dlg->Params().m_fTruncRate, 0.5f);
}

// ---- page edge cases ----------------------------------------------------------------------------

TEST_F(Jp2Fixture, ReclickingTheSelectedChoiceSendsNothing)
{
    Jpeg2000Dlg *dlg = Open("photo", *Photo(64, 64));
    ModuleHarness::Click(dlg, 1573); // weighting on: 0.5 selected
    struct Case
    {
        CModulePage *page;
        int id;
    };
    const Case cases[] = {{PageOf<Jpeg2000EncRateDlg>(dlg), 2162},
                          {PageOf<Jpeg2000DecRateDlg>(dlg), 2149},
                          {PageOf<Jpeg2000VisWeightDlg>(dlg), 1577},
                          {PageOf<Jpeg2000QuantDlg>(dlg), 1568},
                          {PageOf<Jpeg2000LevelsDlg>(dlg), 2176}};
    for (const Case &c : cases) {
        QSignalSpy spy(c.page, &CModulePage::Notify);
        ModuleHarness::Click(dlg, c.id);
        EXPECT_EQ(spy.count(), 0) << c.id;
    }
    // A new choice is told once, with the page's number.
    QSignalSpy spy(PageOf<Jpeg2000EncRateDlg>(dlg), &CModulePage::Notify);
    ModuleHarness::Click(dlg, 2159);
    ModuleHarness::Click(dlg, 2159);
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy[0][0].toInt(), WM_APP + 0x32);
}

TEST_F(Jp2Fixture, TilingAndWeightingSwitches)
{
    Jpeg2000Dlg *dlg = Open("photo", *Photo(64, 64));
    EXPECT_FALSE(ModuleHarness::IsEnabled(dlg, 1570));
    EXPECT_FALSE(ModuleHarness::IsEnabled(dlg, 1571));
    ModuleHarness::Click(dlg, 2181);
    ModuleHarness::Click(dlg, 1570); // 128
    EXPECT_EQ(dlg->Params().m_nTileSize, 128);
    ModuleHarness::Click(dlg, 2181); // off: the size stays, tiling is off
    EXPECT_EQ(dlg->Params().m_bTiling, 0);
    EXPECT_FALSE(ModuleHarness::IsEnabled(dlg, 1570));
    ModuleHarness::Click(dlg, 2181); // on again: 64
    EXPECT_EQ(dlg->Params().m_nTileSize, 64);
    EXPECT_TRUE(ModuleHarness::IsChecked(dlg, 2182));
    EXPECT_FALSE(ModuleHarness::IsChecked(dlg, 1570));

    ModuleHarness::Click(dlg, 1573);
    ModuleHarness::Click(dlg, 1579); // 0.7
    ModuleHarness::Click(dlg, 1573); // off
    EXPECT_EQ(dlg->Params().m_fVisExponent, 0.7f);
    EXPECT_EQ(dlg->Params().m_bVisWeight, 0);
    EXPECT_FALSE(ModuleHarness::IsEnabled(dlg, 1574));
    const auto v = Jpeg2000EncoderVector(dlg->Params());
    EXPECT_EQ(std::find(v.begin(), v.end(), "-Cvis"), v.end());
}

TEST_F(Jp2Fixture, TheTwoPagesWithoutATabAreNeverReachedAndNeverSend)
{
    Jpeg2000Dlg *dlg = Open("photo", *Photo(64, 64));
    CXTabCtrl *tabs = dlg->TabCtrl();
    ASSERT_EQ(tabs->GetItemCount(), 6);
    const char *labels[] = {"Encode", "Quant", "Levls", "Decode", "Vismask", "Tiling"};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(tabs->GetTabText(i).toStdString(), labels[i]);
    auto *roi = PageOf<Jpeg2000RoiDlg>(dlg);
    auto *scal = PageOf<Jpeg2000ScalDecDlg>(dlg);
    ASSERT_TRUE(roi && scal);
    QSignalSpy roiSpy(roi, &CModulePage::Notify), scalSpy(scal, &CModulePage::Notify);
    // Every tab, every enabled button of every page, and Apply.
    for (int i = 0; i < 6; ++i) {
        tabs->SelectTab(i);
        EXPECT_FALSE(roi->isVisible());
        EXPECT_FALSE(scal->isVisible());
        for (QAbstractButton *b : tabs->GetPage(i)->findChildren<QAbstractButton *>())
            if (b->isEnabled())
                b->click();
    }
    ModuleHarness::Click(dlg, kApply);
    EXPECT_EQ(roiSpy.count(), 0);
    EXPECT_EQ(scalSpy.count(), 0);
    for (int i = 0; i < 6; ++i)
        EXPECT_NE(tabs->GetPage(i), roi);
    // Both still tell their owner, as every page does, when their controls are used.
    ModuleHarness::Click(roi, 1581);
    EXPECT_EQ(roiSpy.count(), 1);
    EXPECT_EQ(dlg->Params().m_bRoi, 1);
    EXPECT_EQ(dlg->Params().m_nRoiBoost, 5);
    EXPECT_EQ(dlg->Params().m_fRoiRadius, 0.2f);
}

TEST_F(Jp2Fixture, ScalableDecodingLeavesLevelsOutAndStoresNoPoint)
{
    Jpeg2000Dlg *dlg = Open("photo", *Photo(128, 96));
    auto *scal = PageOf<Jpeg2000ScalDecDlg>(dlg);
    ModuleHarness::Click(dlg, kApply);
    const auto lossy = FileBytes(dlg->StreamPath());
    doc->m_pRDData->StartStoring("JPEG2000", "scaled");
    ModuleHarness::Click(scal, 1517); // on: one level out
    EXPECT_EQ(dlg->Params().m_nDiscardLevels, 1);
    EXPECT_EQ(dlg->Params().m_fEncRate, 100.0f);
    // The encoding rate moved to lossless: the stream must be written again.
    EXPECT_EQ(dlg->Reencode(), 1);
    EXPECT_FALSE(dlg->TabCtrl()->IsTabEnabled(3));
    EXPECT_FALSE(ModuleHarness::IsEnabled(dlg, 2173));
    EXPECT_FALSE(ModuleHarness::IsEnabled(dlg, 1556));
    ModuleHarness::Click(dlg, kApply);
    doc->m_pRDData->StopStoring();
    ASSERT_TRUE(messages.Texts().empty()) << messages.Texts()[0];
    const CDib *half = ModuleHarness::ChainImage(doc);
    EXPECT_EQ(half->GetWidth(), 64);
    EXPECT_EQ(half->GetHeight(), 48);
    EXPECT_EQ(Result(dlg).find("Mean Square Error"), std::string::npos);
    EXPECT_GT(FileBytes(dlg->StreamPath()).size(), lossy.size());
    const auto &data = doc->m_pRDData->m_ModuleData[doc->m_pRDData->GetModuleIndex("JPEG2000")];
    EXPECT_EQ(data.m_nNumberOfPoints[0], 0);
    ModuleHarness::Click(scal, 1517); // off again
    EXPECT_TRUE(dlg->TabCtrl()->IsTabEnabled(3));
    EXPECT_TRUE(ModuleHarness::IsEnabled(dlg, 2173));
    EXPECT_EQ(dlg->Params().m_fEncRate, 0.5f);
}

TEST_F(Jp2Fixture, F1OnAPageOpensTheModulesHelp)
{
    Jpeg2000Dlg *dlg = Open("photo", *Photo(64, 64));
    QKeyEvent f1(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier);
    QApplication::sendEvent(PageOf<Jpeg2000QuantDlg>(dlg), &f1);
    ASSERT_NE(CHelpWindow::Instance(), nullptr);
    EXPECT_EQ(CHelpWindow::Instance()->CurrentTopic(), 0x20000 + 251);
    EXPECT_TRUE(QFile::exists(CHelpWindow::TopicPath(0x20000 + 251)));
}

// ---- R(D) store ---------------------------------------------------------------------------------

TEST_F(Jp2Fixture, ThreeDecodesAtRisingRatesGiveARisingCurveOnlyWhileRecording)
{
    Jpeg2000Dlg *dlg = Open("photo", *Photo(128, 128));
    ModuleHarness::Click(dlg, 1539);   // encode at 3.0
    ModuleHarness::Click(dlg, kApply); // not recording: no point
    zn::CRDDataBase &rd = *doc->m_pRDData;
    const int key = rd.GetModuleIndex("JPEG2000");
    EXPECT_EQ(rd.m_ModuleData[key].m_nNumberOfPoints[0], 0);
    rd.StartStoring("JPEG2000", "rising");
    std::vector<std::string> reported;
    for (int id : {2145, 2148, 2151}) { // 0.1, 0.4, 1.0
        ModuleHarness::Click(dlg, id);
        ModuleHarness::Click(dlg, kApply);
        reported.push_back(ReportedDecodedRate(Result(dlg)));
    }
    rd.StopStoring();
    ModuleHarness::Click(dlg, kApply);
    const auto &data = rd.m_ModuleData[key];
    ASSERT_EQ(data.m_nNumberOfPoints[0], 3);
    const auto &c = data.m_Curve[0];
    // Each point sits at the rate the report gives as decoded, at most the rate asked.
    const float asked[] = {0.1f, 0.4f, 1.0f};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(zn::Format("%6.2f", double(c.m_fRate[i])), reported[size_t(i)]);
        EXPECT_LE(c.m_fRate[i], asked[i]);
        EXPECT_GT(c.m_fRate[i], asked[i] * 0.9f);
    }
    EXPECT_LT(c.m_fPSNR[0], c.m_fPSNR[1]);
    EXPECT_LT(c.m_fPSNR[1], c.m_fPSNR[2]);
    EXPECT_LT(c.m_fSNR[0], c.m_fSNR[1]);
    EXPECT_TRUE(messages.Texts().empty()) << messages.Texts()[0];
}

// A smooth picture coded at 3.0 bpp needs far fewer bits: the stream ends below the rate asked,
// and the point must be plotted where the decoder really was, as the report says.
TEST_F(Jp2Fixture, ThePointOfAStreamThatEndsEarlyHasTheDecodedRate)
{
    auto smooth = zntest::MakeGreyDib(128, 128, [](int x, int y) { return 60 + x / 2 + y / 4; });
    Jpeg2000Dlg *dlg = Open("smooth", *smooth);
    ModuleHarness::Click(dlg, 1539); // encode, and so decode, at 3.0
    zn::CRDDataBase &rd = *doc->m_pRDData;
    rd.StartStoring("JPEG2000", "early");
    ModuleHarness::Click(dlg, kApply);
    rd.StopStoring();
    ASSERT_TRUE(messages.Texts().empty()) << messages.Texts()[0];
    const auto &data = rd.m_ModuleData[rd.GetModuleIndex("JPEG2000")];
    ASSERT_EQ(data.m_nNumberOfPoints[0], 1);
    const float rate = data.m_Curve[0].m_fRate[0];
    EXPECT_EQ(zn::Format("%6.2f", double(rate)), ReportedDecodedRate(Result(dlg)));
    // The whole code-stream file, markers included, holds at least what was decoded, and is well
    // short of 3.0 bpp.
    const double fileRate = 8.0 * FileBytes(h.Dir().File("smooth_BitStream.jp2")).size() / (128.0 * 128.0);
    EXPECT_LE(rate, fileRate);
    EXPECT_LT(fileRate, 2.5);
    EXPECT_GT(rate, 0.0f);
}

TEST_F(Jp2Fixture, CancelDeactivatesAndStartShowsTheHiddenDialogWithoutActivatingIt)
{
    Jpeg2000Dlg *dlg = Open("photo", *Photo(64, 64));
    zn::CRDDataBase &rd = *doc->m_pRDData;
    const int key = rd.GetModuleIndex("JPEG2000");
    EXPECT_TRUE(rd.m_bModuleActive[key]);
    EXPECT_EQ(doc->m_pJpeg2000Dlg, dlg);
    ModuleHarness::Click(dlg, 2);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(doc->m_pJpeg2000Dlg, nullptr);
    EXPECT_FALSE(rd.m_bModuleActive[key]);

    auto *again = h.Open<Jpeg2000Dlg>(doc, zn::cmd::kJpeg2000);
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(rd.m_bModuleActive[key]);
    again->hide();
    auto *storing = h.Open<CRDStoringDlg>(doc, zn::cmd::kStoreRD);
    ASSERT_NE(storing, nullptr);
    auto *modules = storing->findChild<QComboBox *>();
    const int index = modules->findText(QStringLiteral("JPEG2000"));
    ASSERT_GE(index, 0);
    modules->setCurrentIndex(index);
    ModuleHarness::Click(storing, CRDStoringDlg::IDC_RD_START);
    EXPECT_TRUE(rd.IsStoring());
    EXPECT_TRUE(again->isVisible());
    EXPECT_TRUE(again->testAttribute(Qt::WA_ShowWithoutActivating));
    ModuleHarness::Click(storing, CRDStoringDlg::IDC_RD_STOP);
    EXPECT_TRUE(messages.Texts().empty()) << messages.Texts()[0];
}

// ---- failures -----------------------------------------------------------------------------------

TEST_F(Jp2Fixture, AStreamDeletedBeforeADecodeOnlyApplyEndsOnlyThatRun)
{
    Jpeg2000Dlg *dlg = Open("photo", *Photo(64, 64));
    const std::string path = h.Dir().File("photo_BitStream.jp2");
    ModuleHarness::Click(dlg, kApply);
    const int chains = ModuleHarness::ChainCount(doc);
    const std::string before = Result(dlg);
    ASSERT_EQ(dlg->Reencode(), 0);
    std::filesystem::remove(path);
    ModuleHarness::Click(dlg, kApply);
    // The codec's box pairs: the message is wrapped, the path on a line of its own.
    EXPECT_TRUE(messages.Contains("ERROR")) << ::testing::PrintToString(messages.Texts());
    EXPECT_TRUE(messages.Contains("Unable to open input file,"));
    EXPECT_TRUE(messages.Contains("\"" + path + "\"!"));
    EXPECT_EQ(ModuleHarness::ChainCount(doc), chains);
    EXPECT_EQ(Result(dlg), before);
    EXPECT_EQ(dlg->Reencode(), 1);
    messages.Clear();
    ModuleHarness::Click(dlg, kApply);
    EXPECT_TRUE(messages.Texts().empty()) << messages.Texts()[0];
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(ModuleHarness::ChainCount(doc), chains + 1);
    EXPECT_EQ(dlg->Reencode(), 0);
}

TEST_F(Jp2Fixture, AFailedEncodingLeavesThePreviousStream)
{
    Jpeg2000Dlg *dlg = Open("photo", *Photo(64, 64));
    const std::string path = h.Dir().File("photo_BitStream.jp2");
    ModuleHarness::Click(dlg, kApply);
    const auto first = FileBytes(path);
    // A picture the codec cannot take: its rows vanish under the reader.
    doc->m_pDib->Clear();
    ModuleHarness::Click(dlg, 1566);
    ModuleHarness::Click(dlg, kApply);
    EXPECT_FALSE(messages.Texts().empty());
    EXPECT_EQ(FileBytes(path), first);
    EXPECT_EQ(dlg->Reencode(), 1);
}

TEST_F(Jp2Fixture, APaletteDocumentEncodesItsGreyLevels)
{
    // Index i shows grey 255 - i.
    std::vector<RGBQUAD> palette(256);
    for (int i = 0; i < 256; ++i)
        palette[size_t(i)] = RGBQUAD{uint8_t(255 - i), uint8_t(255 - i), uint8_t(255 - i), 0};
    CDib image;
    ASSERT_TRUE(image.Create8(48, 40, palette.data(), 256));
    for (int k = 0; k < 40; ++k)
        for (int x = 0; x < 48; ++x)
            image.StoredRow(k)[x] = uint8_t((x * 5 + k * 3) % 256);
    Jpeg2000Dlg *dlg = Open("palette", image);
    ASSERT_EQ(doc->m_pDib->GetInfoHeader()->biBitCount, 8);
    ModuleHarness::Click(dlg, 2167);
    ModuleHarness::Click(dlg, 2177);
    ModuleHarness::Click(dlg, kApply);
    ASSERT_TRUE(messages.Texts().empty()) << messages.Texts()[0];
    std::vector<int> expected;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 48; ++x)
            expected.push_back(255 - (x * 5 + (39 - y) * 3) % 256);
    EXPECT_EQ(ModuleHarness::ChainGreys(doc), expected);
}

// ---- oracles ------------------------------------------------------------------------------------

TEST_F(Jp2Fixture, ReportedPsnrAgreesWithImageMagickAtEveryDecodingRate)
{
    ZN_REQUIRE_TOOL("compare");
    Jpeg2000Dlg *dlg = Open("photo", *Photo(128, 128));
    const std::string reference = h.ImagePath();
    ModuleHarness::Click(dlg, 1539); // encode at 3.0: every decoding rate is open
    for (int id : Jpeg2000DecRateDlg::kIds) {
        ModuleHarness::Click(dlg, id);
        ModuleHarness::Click(dlg, kApply);
        const std::string saved = h.SaveChainImage(doc, "chain.bmp");
        EXPECT_TRUE(
            zntest::PsnrAgrees(zntest::ReportedPsnr(Result(dlg)), zntest::MagickPsnr(saved, reference), 0.05))
            << id;
    }
    EXPECT_TRUE(messages.Texts().empty()) << messages.Texts()[0];
}

TEST_F(Jp2Fixture, OpjDecompressReadsTheStreamToTheChainImage)
{
    ZN_REQUIRE_TOOL("opj_decompress");
    struct Case
    {
        bool reversible;
        int encId, decId;
        int tolerance;
    };
    for (const Case &c :
         {Case{true, 2164, 2151, 0}, Case{false, 2162, 2149, 2}, Case{false, 1539, 2153, 2}}) {
        Jpeg2000Dlg *dlg = Open("photo", *Photo(96, 64));
        if (c.reversible)
            ModuleHarness::Click(dlg, 2167);
        ModuleHarness::Click(dlg, c.encId);
        ModuleHarness::Click(dlg, c.decId);
        ModuleHarness::Click(dlg, kApply);
        ASSERT_TRUE(messages.Texts().empty()) << messages.Texts()[0];
        std::vector<uint8_t> stream = FileBytes(dlg->StreamPath());
        ASSERT_TRUE(j2ktest::ConvertHeaders(stream, j2ktest::HeaderLayout::Standard));
        const std::string in = h.Dir().File("std.j2k"), pgm = h.Dir().File("opj.pgm");
        zntest::WriteFileBytes(in, std::vector<unsigned char>(stream.begin(), stream.end()));
        std::string log;
        ASSERT_EQ(zntest::Run("opj_decompress -i " + zntest::ShellQuote(in) + " -o " +
                                  zntest::ShellQuote(pgm) + " 2>&1",
                              &log),
                  0)
            << log;
        zn::j2k::memory_image opj;
        ASSERT_TRUE(j2ktest::ReadPnm(pgm, opj));
        const std::vector<int> ours = ModuleHarness::ChainGreys(doc);
        ASSERT_EQ(opj.planes[0].size(), ours.size());
        int worst = 0;
        for (size_t i = 0; i < ours.size(); ++i)
            worst = std::max(worst, std::abs(opj.planes[0][i] - ours[i]));
        EXPECT_LE(worst, c.tolerance) << c.reversible << " " << c.encId;
    }
}

} // namespace

} // namespace jp2_dialog_test
