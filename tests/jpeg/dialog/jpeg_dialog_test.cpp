// The JPEG module driven through its dialog: pages and defaults, the disabled design tab, the
// texts, names and captions of every option, the bit-rate page's arrows, the quality search, the
// tables shown, channel errors, R(D) points, the designed matrix end to end, and the reported PSNR
// against ImageMagick.
#include "jpeg/jpeg_design_files.h"
#include "modules/coding_fixture.h"

#include "image/cdib.h"
#include "image/znimage.h"
#include "modules/jpeg/jpeg_coder.h"
#include "modules/jpeg/jpeg_dctw.h"
#include "modules/jpeg/jpeg_design_dlg.h"
#include "modules/jpeg/jpeg_dlg.h"
#include "modules/jpeg/jpeg_pages.h"
#include "modules/jpeg/jpeg_tables.h"
#include "platform/paths.h"
#include "shell/doc_commands.h"
#include "shell/rd_database.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <cmath>

namespace jpeg_dialog_test { // one namespace per test file: a folder compiles as one source

using zntest::ModuleHarness;

namespace {

constexpr int kApply = CJpgDlg::IDC_APPLY;
constexpr int kResults = CJpgDlg::IDC_RESULTS;

struct JpegDialogTest
    : codingtest::DialogFixture<CJpgDlg, RegisterJpegModule, zn::cmd::kJpeg, kApply, kResults>
{
    std::string UserDir() const { return theApp.m_sUserDir.toStdString(); }
    double Reported(const std::string &label) { return zntest::ReportedMeasure(Text(), label); }
    static void Click(QWidget *page, int id) { ModuleHarness::Click(page, id); }
};

const std::string kStandardLines = "   16   11   10   16   24   40   51   61\r\n"
                                   "   12   12   14   19   26   58   60   55\r\n"
                                   "   14   13   16   24   40   57   69   56\r\n"
                                   "   14   17   22   29   51   87   80   62\r\n"
                                   "   18   22   37   56   68  109  103   77\r\n"
                                   "   24   35   55   64   81  104  113   92\r\n"
                                   "   49   64   78   87  103  121  120  101\r\n"
                                   "   72   92   95   98  112  100  103   99\r\n";

TEST_F(JpegDialogTest, OpensWithItsPagesAndDefaults)
{
    dlg = Open("house", *codingtest::Photo());
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(dlg->windowTitle().toStdString(), "JPEG: house");
    const char *labels[] = {"Bitrate", "Quant", "Design Q", "Huffman", "Smooth", "Markers", "Errors"};
    const int idds[] = {201, 197, 267, 198, 196, 200, 199};
    ASSERT_EQ(dlg->TabCtrl()->GetItemCount(), 7);
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(dlg->TabCtrl()->GetTabText(i).toStdString(), labels[i]);
        EXPECT_EQ(static_cast<CModulePage *>(dlg->TabCtrl()->GetPage(i))->IDD(), idds[i]);
    }
    // The design tab cannot be brought forward, and its matrix cannot be chosen.
    EXPECT_FALSE(dlg->TabCtrl()->IsTabEnabled(CJpgDlg::kDesignTab));
    dlg->TabCtrl()->SelectTab(CJpgDlg::kDesignTab);
    EXPECT_EQ(dlg->TabCtrl()->GetCurSel(), 0);
    EXPECT_FALSE(dlg->DesignPage()->isVisible());
    EXPECT_FALSE(ModuleHarness::IsEnabled(dlg->QuantPage(), CJpgQuantDlg::IDC_PERCEPTUAL));

    EXPECT_TRUE(ModuleHarness::IsChecked(dlg, 1320));
    EXPECT_TRUE(ModuleHarness::IsChecked(dlg->QuantPage(), 1301));
    EXPECT_TRUE(ModuleHarness::IsChecked(dlg->HuffmanPage(), 1306));
    for (int id : {1295, 1318, 1019, 1315, 1316, 1317, 1310, 1311, 1312, 1313})
        EXPECT_FALSE(ModuleHarness::IsChecked(dlg, id)) << id;
    for (int id : {1314, 1315, 1316, 1317, 1309, 1310, 1311, 1312, 1313})
        EXPECT_FALSE(ModuleHarness::IsEnabled(dlg, id)) << id;
    CUpDownCtrl *updown = dlg->BitratePage()->UpDown();
    EXPECT_EQ(updown->Lower(), 1);
    EXPECT_EQ(updown->Upper(), 100);
    EXPECT_EQ(updown->GetPos(), 75);
    EXPECT_EQ(dlg->findChild<QLineEdit *>("ctrl1327")->text().toStdString(), "75");
    EXPECT_EQ(dlg->findChild<QGroupBox *>("ctrl1319")->title().toStdString(), "Set Quality");

    const JpegParams &p = dlg->PendingParams();
    EXPECT_EQ(p.nQuantTable, 0);
    EXPECT_EQ(p.nHuffman, 1);
    EXPECT_EQ(p.nRestartUnit, 0);
    EXPECT_EQ(p.nRestartValue, 0);
    EXPECT_EQ(p.nSmoothing, 0);
    EXPECT_EQ(p.fBitrate, -1.0f);
    EXPECT_EQ(p.nQuality, 75);
    EXPECT_EQ(p.nQualityMode, 1);
    EXPECT_EQ(p.fErrorProb, 0.0f);
    EXPECT_EQ(Text(), kStandardLines);
    EXPECT_TRUE(ModuleHarness::IsEnabled(dlg, kApply));
    EXPECT_TRUE(doc->m_pRDData->m_bModuleActive[doc->m_pRDData->GetModuleIndex("JPEG")]);
}

TEST_F(JpegDialogTest, FirstApplyWithTheDefaults)
{
    dlg = Open("house", *codingtest::Photo());
    Apply();
    EXPECT_TRUE(messages.Texts().empty());
    EXPECT_EQ(ModuleHarness::ChainImageName(doc), "JPG_house_75_No_Y_VLC_No_No");
    EXPECT_EQ(ModuleHarness::ChainCaption(doc),
              "JPG(house): Qlty:75 Smooth:No Quant:Y Huff:VLC Mark:No Err:No");
    // The stream is the one file in the user's folder; the rate is its size.
    const long long size = zn::FileSize(UserDir() + kJpegStreamName);
    ASSERT_GT(size, 0);
    const double rate = 8.0 * size / (128 * 96);
    const std::string text = Text();
    EXPECT_EQ(text.rfind(zn::Format(" Encoded Bitrate\t\t:  %.1f (bpp)\r\n Mean Square Error\t\t:", rate), 0),
              0u)
        << text;
    EXPECT_NE(text.find(" Signal-to-Noise Ratio\t:"), std::string::npos);
    EXPECT_TRUE(text.ends_with(" Number of Bit Errors due to\r\n      Channel Corruption\t: 0"));
    const double mse = Reported(" Mean Square Error\t\t:"), psnr = Reported(" PSNR\t\t\t:");
    EXPECT_NEAR(psnr, 10 * std::log10(65025 / mse), 0.2);
    EXPECT_EQ(
        ModuleHarness::ChainDescription(doc),
        zn::Format("JPEG ENCODED house image\r\n   Desired Quality\t\t: 75\r\n"
                   "   Mean Square Error\t\t:%6.1f\r\n   Signal-to-Noise Ratio\t\t:%6.1f (dB)\r\n"
                   "   PSNR\t\t\t\t:%6.1f (dB)\r\n",
                   mse, Reported(" Signal-to-Noise Ratio\t:"), psnr) +
            "   Output Smoothing\t\t: NOT Applied\r\n   Quantization\t\t\t: Standard Y\r\n"
            "   Huffman Coding\t\t: Standard VLC\r\n   Restart Markers\t\t: NO\r\n"
            "   No Channel Errors Simulated\r\n\r\n" +
            zn::Format(
                "   Encoded Bitrate\t\t: %.2f (bpp)\r\n   Bit Errors due to\r\n   \tChannel Corruption\t: 0",
                rate));
    // Apply stays enabled; a second Apply adds a second window.
    EXPECT_TRUE(ModuleHarness::IsEnabled(dlg, kApply));
    Apply();
    EXPECT_EQ(ModuleHarness::ChainCount(doc), 2);
}

TEST_F(JpegDialogTest, NamesAndCaptionsOfEveryOption)
{
    dlg = Open("t", *codingtest::Photo(64, 48));
    struct Case
    {
        const char *label;
        std::function<void()> choose;
        const char *name;
        const char *caption;
    };
    const Case cases[] = {
        {"optimal VLC", [&] { Click(dlg->HuffmanPage(), 1307); }, "JPG_t_75_No_Y_opt_No_No",
         "JPG(t): Qlty:75 Smooth:No Quant:Y Huff:opt Mark:No Err:No"},
        {"FLC", [&] { Click(dlg->HuffmanPage(), 1305); }, "JPG_t_75_No_Y_FLC_No_No",
         "JPG(t): Qlty:75 Smooth:No Quant:Y Huff:FLC Mark:No Err:No"},
        {"markers each row", [&] { Click(dlg, 1318); }, "JPG_t_75_No_Y_FLC_1r_No",
         "JPG(t): Qlty:75 Smooth:No Quant:Y Huff:FLC Mark:1r Err:No"},
        {"10 rows", [&] { Click(dlg, 1317); }, "JPG_t_75_No_Y_FLC_10r_No",
         "JPG(t): Qlty:75 Smooth:No Quant:Y Huff:FLC Mark:10r Err:No"},
        {"each block", [&] { Click(dlg, 1315); }, "JPG_t_75_No_Y_FLC_1b_No",
         "JPG(t): Qlty:75 Smooth:No Quant:Y Huff:FLC Mark:1b Err:No"},
        {"smoothing, flat", [&] { Click(dlg, 1295), Click(dlg->QuantPage(), 1303); },
         "JPG_t_75_Yes_Flt_FLC_1b_No", "JPG(t): Qlty:75 Smooth:Yes Quant:Flt Huff:FLC Mark:1b Err:No"},
        {"standard UV", [&] { Click(dlg->QuantPage(), 1302); }, "JPG_t_75_Yes_UV_FLC_1b_No",
         "JPG(t): Qlty:75 Smooth:Yes Quant:UV Huff:FLC Mark:1b Err:No"},
        {"errors", [&] { Click(dlg, 1019), Click(dlg, 1310), Click(dlg->QuantPage(), 1304); },
         "JPG_t_75_Yes_H-E_FLC_1b_0.00100",
         "JPG(t): Qlty:75 Smooth:Yes Quant:H-E Huff:FLC Mark:1b Err:0.00100"},
        {"no markers, .00005", [&] { Click(dlg, 1318), Click(dlg, 1313); }, "JPG_t_75_Yes_H-E_FLC_No_0.00005",
         "JPG(t): Qlty:75 Smooth:Yes Quant:H-E Huff:FLC Mark:No Err:0.00005"},
        {"bit rate", [&] { Click(dlg, 1019), Click(dlg, 1321); }, "JPG_t_1.50_Yes_H-E_FLC_No_No",
         "JPG(t): Bitr:1.50 Smooth:Yes Quant:H-E Huff:FLC Mark:No Err:No"},
    };
    zn::PinRandSeed(5);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        c.choose();
        Apply();
        EXPECT_EQ(ModuleHarness::ChainImageName(doc), c.name);
        EXPECT_EQ(ModuleHarness::ChainCaption(doc), c.caption);
    }
    // The description names each choice too.
    const std::string d = ModuleHarness::ChainDescription(doc);
    EXPECT_NE(d.find("   Desired Bitrate\t\t\t: 1.50 (bpp)\r\n   Optimized Quality Factor\t: "),
              std::string::npos);
    EXPECT_NE(
        d.find(
            "   Output Smoothing\t\t: Applied\r\n   Quantization\t\t\t: High-Emphasis\r\n"
            "   Huffman Coding\t\t: FLC\r\n   Restart Markers\t\t: NO\r\n   No Channel Errors Simulated\r\n"),
        std::string::npos)
        << d;
}

TEST_F(JpegDialogTest, MarkerAndErrorPagesSwitchTheirChoices)
{
    dlg = Open("t", *codingtest::Photo(32, 32));
    Click(dlg, 1318);
    EXPECT_TRUE(ModuleHarness::IsChecked(dlg, 1316));
    EXPECT_TRUE(ModuleHarness::IsEnabled(dlg, 1314));
    EXPECT_EQ(dlg->PendingParams().nRestartValue, 1);
    EXPECT_EQ(dlg->PendingParams().nRestartUnit, 1);
    Click(dlg, 1317);
    EXPECT_EQ(dlg->PendingParams().nRestartValue, 10);
    Click(dlg, 1318);
    for (int id : {1315, 1316, 1317})
        EXPECT_FALSE(ModuleHarness::IsChecked(dlg, id) || ModuleHarness::IsEnabled(dlg, id)) << id;
    EXPECT_EQ(dlg->PendingParams().nRestartValue, 0);
    EXPECT_EQ(dlg->PendingParams().nRestartUnit, 0);

    Click(dlg, 1019);
    EXPECT_TRUE(ModuleHarness::IsChecked(dlg, 1313));
    EXPECT_EQ(dlg->PendingParams().fErrorProb, 0.00005f);
    Click(dlg, 1311);
    EXPECT_EQ(dlg->PendingParams().fErrorProb, 0.0005f);
    Click(dlg, 1019);
    EXPECT_EQ(dlg->PendingParams().fErrorProb, 0.0f);
    EXPECT_FALSE(ModuleHarness::IsEnabled(dlg, 1311));
    Click(dlg, 1295);
    EXPECT_EQ(dlg->PendingParams().nSmoothing, 1);
    Click(dlg, 1295);
    EXPECT_EQ(dlg->PendingParams().nSmoothing, 0);
}

TEST_F(JpegDialogTest, TablesShownWhenChosen)
{
    dlg = Open("t", *codingtest::Photo(32, 32));
    Click(dlg->QuantPage(), 1303);
    std::string flat;
    for (int r = 0; r < 8; ++r)
        flat += "\r\n   50   50   50   50   50   50   50   50";
    EXPECT_EQ(Text(), flat);
    EXPECT_EQ(dlg->PendingParams().nQuantTable, 2);
    Click(dlg->QuantPage(), 1304);
    const std::string he = Text();
    EXPECT_EQ(he.substr(0, 42), "\r\n   16   99   85   75   60   40   24   16");
    EXPECT_TRUE(he.ends_with("\r\n   16   16   16   16   16   16   16   16"));
    Click(dlg->QuantPage(), 1301);
    EXPECT_EQ(Text(), "\r\n" + kStandardLines.substr(0, kStandardLines.size() - 2));
}

// The edit is read-only: keys are how the quality moves. Page Up and Page Down step by ten, as a
// spin box does, and stop at the ends of the range; other keys change nothing.
TEST_F(JpegDialogTest, QualityKeysStepByOneOrTen)
{
    dlg = Open("t", *codingtest::Photo(64, 64));
    auto *edit = dlg->findChild<QLineEdit *>("ctrl1327");
    ASSERT_TRUE(edit->isReadOnly());
    struct Case
    {
        Qt::Key key;
        int presses;
        int quality;
    } cases[] = {{Qt::Key_PageDown, 4, 35}, {Qt::Key_Down, 5, 30}, {Qt::Key_PageDown, 5, 1},
                 {Qt::Key_PageUp, 1, 11},   {Qt::Key_Up, 2, 13},   {Qt::Key_PageUp, 20, 100},
                 {Qt::Key_A, 1, 100},       {Qt::Key_5, 1, 100}};
    for (const Case &c : cases) {
        for (int i = 0; i < c.presses; ++i)
            QTest::keyClick(edit, c.key);
        EXPECT_EQ(edit->text().toInt(), c.quality) << c.key;
        EXPECT_EQ(dlg->PendingParams().nQuality, c.quality) << c.key;
    }
    // In bit-rate mode a page is one bit per pixel.
    Click(dlg, 1321);
    QTest::keyClick(edit, Qt::Key_PageUp);
    EXPECT_EQ(edit->text().toStdString(), "2.5");
    EXPECT_FLOAT_EQ(dlg->PendingParams().fBitrate, 2.5f);
    QTest::keyClick(edit, Qt::Key_PageDown);
    QTest::keyClick(edit, Qt::Key_PageDown);
    EXPECT_EQ(edit->text().toStdString(), "0.5");
}

TEST_F(JpegDialogTest, BitratePageArrowsAndTheQualitySearch)
{
    dlg = Open("t", *codingtest::Photo(128, 96));
    CJpgBitrateDlg *page = dlg->BitratePage();
    auto *edit = dlg->findChild<QLineEdit *>("ctrl1327");
    // Quality arrows: the edit's number is the quality.
    page->UpDown()->Step(+1);
    EXPECT_EQ(edit->text().toStdString(), "76");
    EXPECT_EQ(dlg->PendingParams().nQuality, 76);
    Click(dlg, 1321);
    EXPECT_EQ(dlg->findChild<QGroupBox *>("ctrl1319")->title().toStdString(), "Set Bitrate");
    EXPECT_EQ(edit->text().toStdString(), "1.5");
    EXPECT_EQ(page->UpDown()->Upper(), 80);
    EXPECT_EQ(dlg->PendingParams().fBitrate, 1.5f);
    EXPECT_EQ(dlg->PendingParams().nQualityMode, 0);
    page->UpDown()->Step(+1);
    EXPECT_EQ(edit->text().toStdString(), "1.6");
    EXPECT_FLOAT_EQ(dlg->PendingParams().fBitrate, 1.6f);
    QTest::keyClick(edit, Qt::Key_Down);
    QTest::keyClick(edit, Qt::Key_Down);
    EXPECT_EQ(edit->text().toStdString(), "1.4");
    for (int i = 0; i < 100; ++i)
        page->UpDown()->Step(+1);
    EXPECT_EQ(edit->text().toStdString(), "8.0");
    EXPECT_FLOAT_EQ(dlg->PendingParams().fBitrate, 8.0f);
    // A second click on the chosen mode changes nothing.
    Click(dlg, 1321);
    EXPECT_EQ(edit->text().toStdString(), "8.0");
    Click(dlg, 1320);
    EXPECT_EQ(edit->text().toStdString(), "75");
    EXPECT_EQ(dlg->PendingParams().nQuality, 75);
    EXPECT_EQ(dlg->PendingParams().nQualityMode, 1);

    // The search at 1.5 bpp: the optimised quality leads the text; its rate is within 0.005 bpp of
    // the target or the closer of its neighbours.
    Click(dlg, 1321);
    Apply();
    const std::string text = Text();
    ASSERT_EQ(text.rfind(" Optimized Quality Factor\t: ", 0), 0u) << text;
    const int q = static_cast<int>(Reported(" Optimized Quality Factor\t:"));
    ZnImage original;
    original.DibToZnImage(doc->m_pDib);
    auto rate = [&](int quality) { return JpegEncoder(original, quality, 0, 1, 0, 0, true, ""); };
    const float d = std::fabs(rate(q) - 1.5f);
    if (d > 0.005f) {
        EXPECT_LE(d, std::fabs(rate(q - 1) - 1.5f));
        EXPECT_LE(d, std::fabs(rate(q + 1) - 1.5f));
    }
    EXPECT_NEAR(Reported(" Encoded Bitrate\t\t:"), rate(q), 0.05 + 1e-6);
    EXPECT_NE(
        ModuleHarness::ChainDescription(doc).find(zn::Format("   Optimized Quality Factor\t: %d\r\n", q)),
        std::string::npos);
}

TEST_F(JpegDialogTest, LosslessPointIsStoredAtSixtyDecibels)
{
    dlg = Open("flat", *zntest::MakeGreyDib(32, 24, [](int, int) { return 128; }));
    zn::CRDDataBase &rd = *doc->m_pRDData;
    const int module = rd.GetModuleIndex("JPEG");
    Apply(); // not recording: nothing stored
    rd.StartStoring("JPEG", "lossless");
    Apply();
    rd.StopStoring();
    EXPECT_NE(Text().find(" Signal-to-Noise Ratio\t: Infinite (dB)\r\n PSNR\t\t\t: Infinite (dB)\r\n"),
              std::string::npos);
    EXPECT_NE(ModuleHarness::ChainDescription(doc).find("   Signal-to-Noise Ratio\t\t: Infinite (dB)\r\n"
                                                        "   PSNR\t\t\t\t: Infinite (dB)\r\n"),
              std::string::npos);
    const auto &data = rd.m_ModuleData[module];
    ASSERT_EQ(data.m_nNumberOfPoints[0], 1);
    EXPECT_EQ(data.m_Curve[0].m_fSNR[0], 60.0f);
    EXPECT_EQ(data.m_Curve[0].m_fPSNR[0], 60.0f);
    EXPECT_EQ(data.m_Curve[0].m_fMSE[0], 0.0f);
    EXPECT_FLOAT_EQ(data.m_Curve[0].m_fRate[0],
                    static_cast<float>(8.0 * zn::FileSize(UserDir() + kJpegStreamName) / (32 * 24)));
}

TEST_F(JpegDialogTest, RDPointsOnlyWhileRecordingJpeg)
{
    dlg = Open("t", *codingtest::Photo(64, 64));
    zn::CRDDataBase &rd = *doc->m_pRDData;
    rd.StartStoring("PCM", "other");
    Apply();
    rd.StopStoring();
    EXPECT_EQ(rd.m_ModuleData[rd.GetModuleIndex("JPEG")].m_nNumberOfPoints[0], 0);
    rd.StartStoring("JPEG", "rising");
    for (int q : {20, 50, 90}) {
        dlg->BitratePage()->UpDown()->SetPos(q);
        Apply();
    }
    rd.StopStoring();
    const auto &data = rd.m_ModuleData[rd.GetModuleIndex("JPEG")];
    ASSERT_EQ(data.m_nNumberOfPoints[0], 3);
    for (int i = 0; i < 2; ++i) {
        EXPECT_LT(data.m_Curve[0].m_fRate[i], data.m_Curve[0].m_fRate[i + 1]);
        EXPECT_LT(data.m_Curve[0].m_fPSNR[i], data.m_Curve[0].m_fPSNR[i + 1]);
    }
}

TEST_F(JpegDialogTest, ChannelErrorsAreCountedAndADamagedHeaderStillGivesAWindow)
{
    // A 16 x 16 picture: its stream is mostly header, so a few flips soon hit something essential.
    dlg = Open("tiny", *codingtest::Photo(16, 16));
    Click(dlg, 1019);
    Click(dlg, 1310);
    bool damaged = false;
    for (int seed = 1; seed < 200 && !damaged; ++seed) {
        messages.Clear();
        zn::PinRandSeed(static_cast<uint32_t>(seed));
        const int before = ModuleHarness::ChainCount(doc);
        Apply();
        EXPECT_EQ(ModuleHarness::ChainCount(doc), before + 1);
        // The count reported is the channel's: the same seed through the engine flips as many bits.
        const int reported = static_cast<int>(Reported("      Channel Corruption\t:"));
        ZnImage again;
        again.Alloc(16, 16);
        zn::MessageRecorder quiet;
        EXPECT_EQ(JpegDecoder(&again, false, 0.001f, UserDir() + kJpegStreamName), reported);
        damaged = messages.Contains(kJpegCorruptMessage);
    }
    EXPECT_TRUE(damaged);
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{kJpegCorruptMessage});
}

TEST_F(JpegDialogTest, UnwritableStreamEndsTheApply)
{
    dlg = Open("t", *codingtest::Photo(32, 32));
    theApp.m_sUserDir = QString::fromStdString(h.Dir().File("missing/"));
    Apply();
    ASSERT_EQ(messages.Count(), 1u);
    EXPECT_EQ(messages.Texts()[0].rfind("JpegEncoder - Could not create the compressed JPEG file:", 0), 0u);
    EXPECT_EQ(ModuleHarness::ChainCount(doc), 0);
}

// ---- the designed matrix ------------------------------------------------------------------------

TEST_F(JpegDialogTest, DesignedMatrixFromComputeToStream)
{
    zntest::ScratchDir tables;
    jpegtest::WriteDesignFiles(tables.Path());
    theApp.m_sTableDir = QString::fromStdString(tables.Path());
    dlg = Open("t", *codingtest::Photo(64, 48));
    Click(dlg->DesignPage(), CJpgDesignDlg::IDC_COMPUTE);
    EXPECT_TRUE(messages.Texts().empty()) << messages.Texts()[0];
    EXPECT_EQ(Text(), "Calculating perceptually optimal Q-matrix\r\n");
    // Window A: the map, scaled to span the grey range.
    ASSERT_NE(doc->m_pResultFrameA, nullptr);
    EXPECT_EQ(ModuleHarness::Description(doc->m_pResultFrameA), "aa");
    const auto greys = ModuleHarness::Greys(ModuleHarness::Image(doc->m_pResultFrameA));
    ASSERT_EQ(greys.size(), 64u * 48u);
    EXPECT_EQ(*std::min_element(greys.begin(), greys.end()), 0);
    EXPECT_EQ(*std::max_element(greys.begin(), greys.end()), 255);
    EXPECT_EQ(ModuleHarness::ChainCount(doc), 0);
    // The matrix file, and "Percept. optim." enabled.
    std::array<int16_t, 64> designed{};
    ASSERT_TRUE(JpegReadDesignedMatrix(UserDir() + kJpegMatrixName, &designed));
    for (int16_t s : designed) {
        EXPECT_GE(s, 1);
        EXPECT_LE(s, 255);
    }
    ASSERT_TRUE(ModuleHarness::IsEnabled(dlg->QuantPage(), CJpgQuantDlg::IDC_PERCEPTUAL));
    Click(dlg->QuantPage(), CJpgQuantDlg::IDC_PERCEPTUAL);
    std::string shown;
    for (int i = 0; i < 64; ++i)
        shown += (i % 8 ? "" : "\r\n") +
                 zn::Format("%5.2d",
                            designed[std::find(kJpegZigzagToNatural.begin(), kJpegZigzagToNatural.end(), i) -
                                     kJpegZigzagToNatural.begin()]);
    EXPECT_EQ(Text(), shown);
    // Coded with it: no table tag, and the stream carries the designed steps at quality 75.
    Apply();
    EXPECT_EQ(ModuleHarness::ChainImageName(doc), "JPG_t_75_No_VLC_No_No");
    EXPECT_EQ(ModuleHarness::ChainCaption(doc), "JPG(t): Qlty:75 Smooth:No Huff:VLC Mark:No Err:No");
    EXPECT_EQ(ModuleHarness::ChainDescription(doc).find("Quantization"), std::string::npos);
    const auto stream = zntest::ReadFileBytes(UserDir() + kJpegStreamName);
    const JpegTable scaled = JpegScaledTable(kJpegPerceptual, 50);
    for (size_t i = 2; i + 5 + 64 < stream.size(); ++i)
        if (stream[i] == 0xFF && stream[i + 1] == 0xDB) {
            for (int k = 0; k < 64; ++k)
                EXPECT_EQ(stream[i + 5 + k], scaled[kJpegZigzagToNatural[k]]) << k;
            break;
        }
}

TEST_F(JpegDialogTest, MissingMatrixFallsBackToStandardY)
{
    dlg = Open("t", *codingtest::Photo(32, 32));
    dlg->SendMessage(WM_JPG_MATRIX_DESIGNED); // as after a design whose file then went away
    Click(dlg->QuantPage(), CJpgQuantDlg::IDC_PERCEPTUAL);
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{
                                    "Cannot find designed perceptually optimal JPEG quantization matrix:\n" +
                                    UserDir() + kJpegMatrixName});
    EXPECT_EQ(Text(), "\r\n" + kStandardLines.substr(0, kStandardLines.size() - 2));
    EXPECT_EQ(dlg->PendingParams().nQuantTable, 4);
    // A file shorter than a matrix is no matrix either.
    zntest::WriteFileBytes(UserDir() + kJpegMatrixName, std::vector<unsigned char>(100, 9));
    messages.Clear();
    Click(dlg->QuantPage(), 1303);
    Click(dlg->QuantPage(), CJpgQuantDlg::IDC_PERCEPTUAL);
    EXPECT_EQ(messages.Count(), 1u);
}

TEST_F(JpegDialogTest, ComputeWithoutDataFilesOrOnAnOddSizeDesignsNothing)
{
    zntest::ScratchDir tables;
    theApp.m_sTableDir = QString::fromStdString(tables.Path());
    dlg = Open("t", *codingtest::Photo(64, 48));
    Click(dlg->DesignPage(), CJpgDesignDlg::IDC_COMPUTE);
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"(InitFilterBank)-F, Error opening file:\r\n" +
                                                         tables.Path() + "jpeg_hilb_filter.dat"});
    jpegtest::WriteDesignFiles(tables.Path(), false);
    messages.Clear();
    Click(dlg->DesignPage(), CJpgDesignDlg::IDC_COMPUTE);
    EXPECT_EQ(messages.Texts(),
              std::vector<std::string>{"(CJpgDctW())-Error: Cannot open conversion table\r\n" +
                                       tables.Path() + "jpeg_optimconvtable.dat"});
    EXPECT_FALSE(zn::FileExists(UserDir() + kJpegMatrixName));
    EXPECT_EQ(doc->m_pResultFrameA, nullptr);
    EXPECT_FALSE(ModuleHarness::IsEnabled(dlg->QuantPage(), CJpgQuantDlg::IDC_PERCEPTUAL));

    jpegtest::WriteDesignFiles(tables.Path());
    auto *odd = h.Open<CJpgDlg>(h.OpenImage("odd", *codingtest::Photo(72, 40)), zn::cmd::kJpeg);
    messages.Clear();
    Click(odd->DesignPage(), CJpgDesignDlg::IDC_COMPUTE);
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{kJpgDesignSizeMessage});
    EXPECT_FALSE(zn::FileExists(UserDir() + kJpegMatrixName));
}

// ---- ImageMagick ------------------------------------------------------------------------------

TEST_F(JpegDialogTest, ReportedPsnrAgreesWithImageMagick)
{
    ZN_REQUIRE_TOOL("compare");
    dlg = Open("t", *codingtest::Photo(120, 88));
    for (int choose : {0, 1295, 1303}) {
        if (choose == 1303)
            Click(dlg->QuantPage(), choose);
        else if (choose)
            Click(dlg, choose);
        Apply();
        const double magick = zntest::MagickPsnr(h.ImagePath(), h.SaveChainImage(doc, "result.bmp"));
        EXPECT_TRUE(zntest::PsnrAgrees(Reported(" PSNR\t\t\t:"), magick, 0.05 + 1e-3)) << choose;
    }
    ZN_REQUIRE_PHOTO("camera");
    CDibDoc *camera = CDibDoc::OpenDocumentFile(QString::fromStdString(zntest::PhotoPath("camera")));
    ASSERT_NE(camera, nullptr);
    auto *cdlg = h.Open<CJpgDlg>(camera, zn::cmd::kJpeg);
    Click(cdlg, 1321); // 1.5 bpp
    ModuleHarness::Click(cdlg, kApply);
    const std::string reference = h.Dir().File("camera-grey.bmp");
    ASSERT_TRUE(camera->m_pDib->SaveDibFile(reference));
    EXPECT_TRUE(zntest::PsnrAgrees(
        zntest::ReportedMeasure(ModuleHarness::ResultText(cdlg, kResults), " PSNR\t\t\t:"),
        zntest::MagickPsnr(reference, h.SaveChainImage(camera, "camera.bmp")), 0.05 + 1e-3));
    zntest::CheckCorpusImages([&](CDibDoc *d, const std::string &ref) {
        auto *c = h.Open<CJpgDlg>(d, zn::cmd::kJpeg);
        if (!c)
            return false;
        ModuleHarness::Click(c, kApply);
        EXPECT_TRUE(zntest::PsnrAgrees(
            zntest::ReportedMeasure(ModuleHarness::ResultText(c, kResults), " PSNR\t\t\t:"),
            zntest::MagickPsnr(ref, h.SaveChainImage(d, "result.bmp")), 0.05 + 1e-3))
            << d->m_pDib->m_title;
        return true;
    });
}

} // namespace

} // namespace jpeg_dialog_test
