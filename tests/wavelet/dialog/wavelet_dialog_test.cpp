// The EZW and SPIHT dialogs driven through their pages: texts, names and captions of the three
// result windows, the rate and level choices the pages allow, decoding again without encoding, the
// stream file's life, R(D) points, and the reported PSNR against ImageMagick.
#include "modules/module_harness.h"

#include "image/cdib.h"
#include "modules/common/value_pages.h"
#include "modules/ezw/ezw_dlg.h"
#include "modules/ezw/ezw_pages.h"
#include "modules/spiht/spiht_dlg.h"
#include "modules/spiht/spiht_pages.h"
#include "platform/messages.h"
#include "shell/compression_app.h"
#include "shell/dib_doc.h"
#include "shell/dib_frame.h"
#include "shell/doc_commands.h"
#include "shell/rd_database.h"

#include <QPointer>
#include <QPushButton>
#include <filesystem>
#include <gtest/gtest.h>

namespace wavelet_dialog_test { // one namespace per test file: a folder compiles as one source

using zntest::ModuleHarness;

namespace {

std::unique_ptr<CDib> Picture(int w, int h)
{
    return zntest::MakeGreyDib(w, h, [](int x, int y) {
        return std::min(255, 40 + x / 3 + y / 4 + ((x / 24 + y / 20) % 2) * 70 + (x * 7 + y * 13) % 17);
    });
}

// The files the coders left in the user directory.
int StreamFiles(const std::string &dir, const std::string &prefix)
{
    int n = 0;
    for (const auto &e : std::filesystem::directory_iterator(dir))
        if (e.path().filename().string().rfind(prefix, 0) == 0)
            ++n;
    return n;
}

void ClickOn(CValueRadioPage *page, int id)
{
    ASSERT_NE(page->Button(id), nullptr) << id;
    ASSERT_TRUE(page->Button(id)->isEnabled()) << id;
    page->Button(id)->click();
}

// The EZW result text names the PSNR with its own spacing.
double EzwPsnr(const std::string &text)
{
    return zntest::ReportedMeasure(text, " PSNR\t\t     :");
}

struct EzwFixture : ::testing::Test
{
    void SetUp() override { RegisterEzwModule(); }
    CEZWDlg *Open(const std::string &title, const CDib &image)
    {
        doc = h.OpenImage(title, image);
        return h.Open<CEZWDlg>(doc, zn::cmd::kEzw);
    }
    ModuleHarness h;
    CDibDoc *doc = nullptr;
};

TEST_F(EzwFixture, OpensWithItsPagesAndDefaults)
{
    CEZWDlg *dlg = Open("photo", *Picture(256, 256));
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(dlg->windowTitle().toStdString(), "Emb. Zerotree Wavelets: photo");
    ASSERT_EQ(dlg->TabCtrl()->GetItemCount(), 3);
    EXPECT_EQ(dlg->TabCtrl()->GetTabText(0).toStdString(), "Encoder");
    EXPECT_EQ(dlg->TabCtrl()->GetTabText(1).toStdString(), "Levels");
    EXPECT_EQ(dlg->TabCtrl()->GetTabText(2).toStdString(), "Decoder");
    EXPECT_TRUE(dlg->EncoderPage()->Button(1461)->isChecked());
    EXPECT_TRUE(dlg->LevelsPage()->Button(1450)->isChecked());
    EXPECT_TRUE(dlg->DecoderPage()->Button(1461)->isChecked());
    for (int id = 1456; id <= 1465; ++id)
        EXPECT_EQ(dlg->DecoderPage()->Button(id)->isEnabled(), id <= 1461) << id;
    EXPECT_EQ(dlg->Params().nWaveletLevels, 3);
    EXPECT_TRUE(doc->m_pRDData->m_bModuleActive[doc->m_pRDData->GetModuleIndex("EZW")]);
}

TEST_F(EzwFixture, LevelsThePictureAllows)
{
    struct Case
    {
        int side;
        bool seven, eight, nine;
    };
    for (const Case c :
         {Case{256, true, false, false}, Case{128, false, false, false}, Case{1024, true, true, true}}) {
        CEZWDlg *dlg = Open("sq", *Picture(c.side, c.side));
        ASSERT_NE(dlg, nullptr);
        EXPECT_EQ(dlg->LevelsPage()->Button(1453)->isEnabled(), c.seven) << c.side;
        EXPECT_EQ(dlg->LevelsPage()->Button(1454)->isEnabled(), c.eight) << c.side;
        EXPECT_EQ(dlg->LevelsPage()->Button(1447)->isEnabled(), c.nine) << c.side;
        EXPECT_TRUE(dlg->LevelsPage()->Button(1452)->isEnabled()) << c.side;
    }
    // Beyond the rule: no level count that would crop a side to nothing.
    CEZWDlg *dlg = Open("small", *Picture(16, 32));
    for (int id : {1448, 1449, 1450, 1451, 1452})
        EXPECT_EQ(dlg->LevelsPage()->Button(id)->isEnabled(), id != 1452) << id;
}

TEST_F(EzwFixture, FirstApplyTextsNamesAndCaptions)
{
    zn::MessageRecorder messages;
    CEZWDlg *dlg = Open("photo", *Picture(256, 256));
    ModuleHarness::Click(dlg, CEZWDlg::IDC_APPLY);
    EXPECT_EQ(messages.Count(), 0u);
    const std::string text = ModuleHarness::ResultText(dlg, CEZWDlg::IDC_RESULTS);
    EXPECT_EQ(
        text.rfind(
            "EZW Encoder:\r\n #Resolution levels \t     :  4 \r\n Target bit rate\t     : 0.50 (bpp)\r\n"
            " Target file size\t     : 32768 (bits)\r\n Quantizer coarseness\r\n",
            0),
        0u)
        << text;
    EXPECT_NE(
        text.find(
            "\r\nEZW DECODING RESULTS:\r\n Decoded bit rate\t     : 0.50 (bpp)\r\n Decoded #bits\t     : "
            "32768 (bits)\r\n Mean Square Error\t     :"),
        std::string::npos)
        << text;
    EXPECT_EQ(ModuleHarness::ChainImageName(doc), "EZW_photo_3_0.50");
    EXPECT_EQ(ModuleHarness::ChainCaption(doc), "EZW(photo):  Levels:3 Bitrate: 0.50 ");
    EXPECT_EQ(
        ModuleHarness::ChainDescription(doc).rfind("EZW DECODED photo image\r\n   Encoded bit rate\t\t: 0.50 "
                                                   "(bpp)\r\n   #Wavelet resolution levels\t: 4\r\n\r\n",
                                                   0),
        0u);
    ASSERT_NE(doc->m_pResultFrameA, nullptr);
    ASSERT_NE(doc->m_pResultFrameB, nullptr);
    EXPECT_EQ(ModuleHarness::ImageName(doc->m_pResultFrameA), "EZW_photo_3_0.50_osub");
    EXPECT_EQ(ModuleHarness::Caption(doc->m_pResultFrameA),
              "EZW: ORIGINAL SUBS(photo):  Levels:3 Bitrate: 0.50 ");
    EXPECT_EQ(ModuleHarness::Description(doc->m_pResultFrameA),
              "ORIGINAL WAVELET COEFFICIENTS (SUBBANDS)\r\nof the photo image\r\n   #Wavelet resolution "
              "levels\t: 4\r\n");
    EXPECT_EQ(ModuleHarness::ImageName(doc->m_pResultFrameB), "EZW_photo_3_0.50_csub");
    EXPECT_EQ(ModuleHarness::Caption(doc->m_pResultFrameB),
              "EZW: DECODED SUBS(photo):  Levels:3 Bitrate: 0.50 ");
    EXPECT_EQ(
        ModuleHarness::Description(doc->m_pResultFrameB),
        "WAVELET COEFFICIENTS (SUBBANDS) AFTER DECODING\r\nof the photo image\r\n   #Wavelet resolution "
        "levels\t: 4\r\n   Decoded bit rate\t\t: 0.50 (bpp)\r\n");
    EXPECT_GT(EzwPsnr(text), 25.0);
}

TEST_F(EzwFixture, DecodingAgainLeavesTheEncodingAlone)
{
    CEZWDlg *dlg = Open("photo", *Picture(128, 128));
    ClickOn(dlg->EncoderPage(), 1463); // 1.0
    EXPECT_TRUE(dlg->DecoderPage()->Button(1463)->isChecked());
    EXPECT_EQ(dlg->Params().fDecRate, 1.0f);
    for (int id = 1456; id <= 1465; ++id)
        EXPECT_EQ(dlg->DecoderPage()->Button(id)->isEnabled(), id <= 1463) << id;
    ModuleHarness::Click(dlg, CEZWDlg::IDC_APPLY);
    const std::string first = ModuleHarness::ResultText(dlg, CEZWDlg::IDC_RESULTS);
    const std::string stream = dlg->Session().StreamPath();
    ASSERT_FALSE(stream.empty());
    EXPECT_TRUE(std::filesystem::exists(stream));
    const std::vector<int> windowA = ModuleHarness::Greys(ModuleHarness::Image(doc->m_pResultFrameA));
    const double psnrFirst = EzwPsnr(first);

    ClickOn(dlg->DecoderPage(), 1458); // 0.2
    // Clicking the checked encoder rate again changes nothing: the decoder rate stays.
    dlg->EncoderPage()->Button(1463)->click();
    EXPECT_EQ(dlg->Params().fDecRate, 0.2f);
    ModuleHarness::Click(dlg, CEZWDlg::IDC_APPLY);
    const std::string second = ModuleHarness::ResultText(dlg, CEZWDlg::IDC_RESULTS);
    EXPECT_EQ(dlg->Session().StreamPath(), stream);
    EXPECT_EQ(first.substr(0, first.find("\r\nEZW DECODING")),
              second.substr(0, second.find("\r\nEZW DECODING")));
    EXPECT_EQ(ModuleHarness::Description(doc->m_pResultFrameA), "");
    EXPECT_EQ(ModuleHarness::Greys(ModuleHarness::Image(doc->m_pResultFrameA)), windowA);
    EXPECT_EQ(ModuleHarness::ImageName(doc->m_pResultFrameB), "EZW_photo_3_0.20_csub");
    EXPECT_LT(EzwPsnr(second), psnrFirst);
    EXPECT_EQ(ModuleHarness::ChainCount(doc), 2);

    ClickOn(dlg->EncoderPage(), 1459); // 0.3: a new encoding in a new file
    ModuleHarness::Click(dlg, CEZWDlg::IDC_APPLY);
    EXPECT_NE(dlg->Session().StreamPath(), stream);
    EXPECT_FALSE(std::filesystem::exists(stream));
    EXPECT_EQ(StreamFiles(h.Dir().Path(), "ezw"), 1);
}

TEST_F(EzwFixture, NoStreamFileOutlivesTheDialog)
{
    QPointer<CEZWDlg> dlg = Open("photo", *Picture(64, 64));
    ModuleHarness::Click(dlg, CEZWDlg::IDC_APPLY);
    EXPECT_EQ(StreamFiles(h.Dir().Path(), "ezw"), 1);
    ModuleHarness::Click(dlg, 2); // Cancel only hides
    EXPECT_EQ(StreamFiles(h.Dir().Path(), "ezw"), 1);
    delete dlg.data();
    EXPECT_EQ(StreamFiles(h.Dir().Path(), "ezw"), 0);
}

TEST_F(EzwFixture, UnusableUserDirectoryIsReported)
{
    zn::MessageRecorder messages;
    CEZWDlg *dlg = Open("photo", *Picture(64, 64));
    const QString userDir = theApp.m_sUserDir;
    theApp.m_sUserDir = QString::fromStdString(h.Dir().File("missing/"));
    ModuleHarness::Click(dlg, CEZWDlg::IDC_APPLY);
    ASSERT_EQ(messages.Count(), 1u);
    EXPECT_NE(messages.Texts()[0].find("temporary stream file could not be created"), std::string::npos);
    EXPECT_EQ(ModuleHarness::ChainCount(doc), 0);
    theApp.m_sUserDir = userDir;
    ModuleHarness::Click(dlg, CEZWDlg::IDC_APPLY); // the same choices encode now
    EXPECT_EQ(ModuleHarness::ChainCount(doc), 1);
    EXPECT_EQ(messages.Count(), 1u);
}

TEST_F(EzwFixture, RecordedPointsAndImageMagick)
{
    ZN_REQUIRE_TOOL("compare");
    CEZWDlg *dlg = Open("photo", *Picture(128, 128));
    zn::CRDDataBase &rd = *doc->m_pRDData;
    rd.StartStoring("EZW", "curve");
    ClickOn(dlg->EncoderPage(), 1463);
    for (int id : {1463, 1461, 1458}) {
        ClickOn(dlg->DecoderPage(), id == 1463 ? 1463 : id);
        ModuleHarness::Click(dlg, CEZWDlg::IDC_APPLY);
        const double ours = EzwPsnr(ModuleHarness::ResultText(dlg, CEZWDlg::IDC_RESULTS));
        const std::string file = h.SaveChainImage(doc, "ezw.bmp");
        EXPECT_TRUE(zntest::PsnrAgrees(ours, zntest::MagickPsnr(h.ImagePath(), file), 0.05)) << id;
    }
    rd.StopStoring();
    const int ezw = rd.GetModuleIndex("EZW");
    ASSERT_EQ(rd.m_nNumberOfCurves[ezw], 1);
    EXPECT_EQ(rd.m_ModuleData[ezw].m_nNumberOfPoints[0], 3);
}

struct SpihtFixture : ::testing::Test
{
    void SetUp() override { RegisterSpihtModule(); }
    CSpihtDlg *Open(const std::string &title, const CDib &image)
    {
        doc = h.OpenImage(title, image);
        return h.Open<CSpihtDlg>(doc, zn::cmd::kSpiht);
    }
    ModuleHarness h;
    CDibDoc *doc = nullptr;
};

TEST_F(SpihtFixture, OpensWithItsPagesAndDefaults)
{
    CSpihtDlg *dlg = Open("photo", *Picture(200, 150));
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(dlg->windowTitle().toStdString(), "SPIHT: photo");
    ASSERT_EQ(dlg->TabCtrl()->GetItemCount(), 3);
    EXPECT_EQ(dlg->TabCtrl()->GetTabText(0).toStdString(), "Bitrate");
    EXPECT_EQ(dlg->TabCtrl()->GetTabText(1).toStdString(), "Smoothing");
    EXPECT_EQ(dlg->TabCtrl()->GetTabText(2).toStdString(), "Decoder");
    EXPECT_TRUE(dlg->BitratePage()->Button(1471)->isChecked());
    EXPECT_TRUE(dlg->SmoothingPage()->Button(1435)->isChecked());
    EXPECT_TRUE(dlg->DecoderPage()->Button(1471)->isChecked());
    for (int id = 1466; id <= 1475; ++id)
        EXPECT_EQ(dlg->DecoderPage()->Button(id)->isEnabled(), id <= 1471) << id;
}

TEST_F(SpihtFixture, FirstApplyTextsNamesAndCaptions)
{
    zn::MessageRecorder messages;
    CSpihtDlg *dlg = Open("photo", *Picture(512, 512));
    ModuleHarness::Click(dlg, CSpihtDlg::IDC_APPLY);
    EXPECT_EQ(messages.Count(), 0u);
    const std::string text = ModuleHarness::ResultText(dlg, CSpihtDlg::IDC_RESULTS);
    EXPECT_EQ(
        text.rfind("SPIHT Encoder:\r\n  Target bit rate\t\t:  0.50 (bpp)\r\n  Target file size\t\t:", 0), 0u)
        << text;
    EXPECT_NE(
        text.find(" bits\r\n\r\nSPIHT DECODING RESULTS:\r\n  #Wavelet resolution levels\t:  7\r\n  Decoded "
                  "Bitrate\t\t:  0.50 (bpp)\r\n  Smoothing level\t\t:  0\r\n  Mean Square Error\t\t:"),
        std::string::npos)
        << text;
    EXPECT_EQ(ModuleHarness::ChainImageName(doc), "SPIHT_photo_7_0.50_0");
    EXPECT_EQ(ModuleHarness::ChainCaption(doc), "SPIHT(photo):  Enc Levels:7 Dec Bitr 0.50 Smoothing: 0");
    EXPECT_EQ(ModuleHarness::ChainDescription(doc).rfind(
                  "SPIHT ENCODED photo image\r\n   Encoded bitrate\t\t:  0.50 "
                  "(bpp)\r\n   #Wavelet resolution levels\t:  7\r\n\r\n",
                  0),
              0u);
    EXPECT_EQ(ModuleHarness::ImageName(doc->m_pResultFrameA), "SPIHT_photo_7_0.50_0_osub");
    EXPECT_EQ(ModuleHarness::Caption(doc->m_pResultFrameA),
              "SPIHT: ORIGINAL SUBS(photo):  Enc Levels:7 Dec Bitr 0.50 Smoothing: 0");
    EXPECT_EQ(ModuleHarness::Description(doc->m_pResultFrameA),
              "ORIGINAL SUBBANDS of the photo image\r\n   #Wavelet resolution levels\t: 7\r\n");
    EXPECT_EQ(ModuleHarness::ImageName(doc->m_pResultFrameB), "SPIHT_photo_7_0.50_0_csub");
    EXPECT_EQ(ModuleHarness::Caption(doc->m_pResultFrameB),
              "SPIHT: CODED SUBS(photo):  Enc Levels:7 Dec Bitr 0.50 Smoothing: 0");
    EXPECT_EQ(ModuleHarness::Description(doc->m_pResultFrameB),
              "ENCODED SUBBANDS of the photo image\r\n   #Wavelet resolution levels\t: 7\r\n   Decoded "
              "bitrate\t\t: "
              "0.50 (bpp)\r\n   Smoothing\t\t\t: 0");
}

TEST_F(SpihtFixture, EncoderRateLimitsTheDecoder)
{
    CSpihtDlg *dlg = Open("photo", *Picture(128, 128));
    ClickOn(dlg->BitratePage(), 1468); // 0.2
    for (int id = 1466; id <= 1475; ++id) {
        EXPECT_EQ(dlg->DecoderPage()->Button(id)->isEnabled(), id <= 1468) << id;
        EXPECT_EQ(dlg->DecoderPage()->Button(id)->isChecked(), id == 1468) << id;
    }
    EXPECT_TRUE(ModuleHarness::IsEnabled(dlg, CSpihtDlg::IDC_APPLY));
    ModuleHarness::Click(dlg, CSpihtDlg::IDC_APPLY);
    EXPECT_EQ(ModuleHarness::ChainImageName(doc), "SPIHT_photo_5_0.20_0");
}

TEST_F(SpihtFixture, DecodeOnlyApplyAndReencodingOnSmoothing)
{
    CSpihtDlg *dlg = Open("photo", *Picture(128, 128));
    ModuleHarness::Click(dlg, CSpihtDlg::IDC_APPLY);
    const std::string stream = dlg->Session().StreamPath();
    const std::string first = ModuleHarness::ResultText(dlg, CSpihtDlg::IDC_RESULTS);
    const std::vector<int> windowA = ModuleHarness::Greys(ModuleHarness::Image(doc->m_pResultFrameA));
    ClickOn(dlg->DecoderPage(), 1467); // 0.1
    ModuleHarness::Click(dlg, CSpihtDlg::IDC_APPLY);
    const std::string second = ModuleHarness::ResultText(dlg, CSpihtDlg::IDC_RESULTS);
    EXPECT_EQ(dlg->Session().StreamPath(), stream);
    EXPECT_EQ(first.substr(0, first.find("SPIHT DECODING")), second.substr(0, second.find("SPIHT DECODING")));
    EXPECT_EQ(ModuleHarness::Description(doc->m_pResultFrameA), "");
    EXPECT_EQ(ModuleHarness::Greys(ModuleHarness::Image(doc->m_pResultFrameA)), windowA);
    EXPECT_LT(zntest::ReportedPsnr(second), zntest::ReportedPsnr(first));
    // Picking another rate and then the first one again does not encode again.
    ClickOn(dlg->BitratePage(), 1473);
    ClickOn(dlg->BitratePage(), 1471);
    ClickOn(dlg->DecoderPage(), 1467);
    ModuleHarness::Click(dlg, CSpihtDlg::IDC_APPLY);
    EXPECT_EQ(dlg->Session().StreamPath(), stream);
    // Only the smoothing changed: the old stream goes, a new one is made.
    ClickOn(dlg->SmoothingPage(), 1442);
    ModuleHarness::Click(dlg, CSpihtDlg::IDC_APPLY);
    EXPECT_NE(dlg->Session().StreamPath(), stream);
    EXPECT_FALSE(std::filesystem::exists(stream));
    EXPECT_EQ(StreamFiles(h.Dir().Path(), "sph"), 1);
    EXPECT_EQ(ModuleHarness::ChainImageName(doc), "SPIHT_photo_5_0.10_3");
}

TEST_F(SpihtFixture, NoStreamFileOutlivesTheDialog)
{
    QPointer<CSpihtDlg> dlg = Open("photo", *Picture(64, 64));
    ModuleHarness::Click(dlg, CSpihtDlg::IDC_APPLY);
    EXPECT_EQ(StreamFiles(h.Dir().Path(), "sph"), 1);
    ModuleHarness::Click(dlg, 2);
    delete dlg.data();
    EXPECT_EQ(StreamFiles(h.Dir().Path(), "sph"), 0);
}

TEST_F(SpihtFixture, UnusableUserDirectoryIsReported)
{
    zn::MessageRecorder messages;
    CSpihtDlg *dlg = Open("photo", *Picture(64, 64));
    const QString userDir = theApp.m_sUserDir;
    theApp.m_sUserDir = QString::fromStdString(h.Dir().File("missing/"));
    ModuleHarness::Click(dlg, CSpihtDlg::IDC_APPLY);
    EXPECT_EQ(messages.Texts(),
              (std::vector<std::string>{"(CSpiht_Encoder::reset) Error creating temporary output "
                                        "file.\nDo you have correct write permission?"}));
    EXPECT_EQ(ModuleHarness::ChainCount(doc), 0);
    theApp.m_sUserDir = userDir;
    ModuleHarness::Click(dlg, CSpihtDlg::IDC_APPLY);
    EXPECT_EQ(ModuleHarness::ChainCount(doc), 1);
}

TEST_F(SpihtFixture, RecordedPointsAndImageMagick)
{
    ZN_REQUIRE_TOOL("compare");
    CSpihtDlg *dlg = Open("photo", *Picture(160, 120));
    zn::CRDDataBase &rd = *doc->m_pRDData;
    rd.StartStoring("SPIHT", "curve");
    ClickOn(dlg->BitratePage(), 1475);
    for (int id : {1475, 1471, 1467}) {
        if (id != 1475)
            ClickOn(dlg->DecoderPage(), id);
        ModuleHarness::Click(dlg, CSpihtDlg::IDC_APPLY);
        const double ours = zntest::ReportedPsnr(ModuleHarness::ResultText(dlg, CSpihtDlg::IDC_RESULTS));
        const std::string file = h.SaveChainImage(doc, "spiht.bmp");
        EXPECT_TRUE(zntest::PsnrAgrees(ours, zntest::MagickPsnr(h.ImagePath(), file), 0.05)) << id;
    }
    rd.StopStoring();
    const int spiht = rd.GetModuleIndex("SPIHT");
    ASSERT_EQ(rd.m_nNumberOfCurves[spiht], 1);
    EXPECT_EQ(rd.m_ModuleData[spiht].m_nNumberOfPoints[0], 3);
}

// A flat picture needs few bits: coded at 3.0 bpp its stream ends far below the rate asked. The
// report and the R(D) point give the rate decoded; a picture that fills its budget keeps the rate
// asked. The stream files are the oracle: the rate decoded never exceeds what they hold.
struct EarlyEndCase
{
    const char *key;
    int flatLevel; // -1: the textured picture
    bool early;
};

class WaveletEarlyEnd : public ::testing::TestWithParam<EarlyEndCase>
{
protected:
    void SetUp() override
    {
        RegisterEzwModule();
        RegisterSpihtModule();
    }
    ModuleHarness h;
};

TEST_P(WaveletEarlyEnd, PointAndReportGiveTheRateDecoded)
{
    const EarlyEndCase c = GetParam();
    const bool ezw = std::string(c.key) == "EZW";
    auto image = c.flatLevel < 0 ? Picture(128, 128)
                                 : zntest::MakeGreyDib(128, 128, [&](int, int) { return c.flatLevel; });
    CDibDoc *doc = h.OpenImage("pic", *image);
    zn::CRDDataBase &rd = *doc->m_pRDData;
    std::string text;
    std::string streamPrefix;
    if (ezw) {
        auto *dlg = h.Open<CEZWDlg>(doc, zn::cmd::kEzw);
        ClickOn(dlg->EncoderPage(), 1465); // 3.0, and so the decoder's rate too
        rd.StartStoring("EZW", "p");
        ModuleHarness::Click(dlg, CEZWDlg::IDC_APPLY);
        text = ModuleHarness::ResultText(dlg, CEZWDlg::IDC_RESULTS);
        streamPrefix = "ezw";
    } else {
        auto *dlg = h.Open<CSpihtDlg>(doc, zn::cmd::kSpiht);
        ClickOn(dlg->BitratePage(), 1475);
        ClickOn(dlg->DecoderPage(), 1475);
        rd.StartStoring("SPIHT", "p");
        ModuleHarness::Click(dlg, CSpihtDlg::IDC_APPLY);
        text = ModuleHarness::ResultText(dlg, CSpihtDlg::IDC_RESULTS);
        streamPrefix = "sph";
    }
    long streamBytes = 0;
    for (const auto &e : std::filesystem::directory_iterator(theApp.m_sUserDir.toStdString()))
        if (e.path().filename().string().rfind(streamPrefix, 0) == 0)
            streamBytes = static_cast<long>(e.file_size());
    rd.StopStoring();
    const int slot = rd.GetModuleIndex(c.key);
    ASSERT_EQ(rd.m_ModuleData[slot].m_nNumberOfPoints[0], 1) << text;
    const float rate = rd.m_ModuleData[slot].m_Curve[0].m_fRate[0];
    const double reported =
        zntest::ReportedMeasure(text, ezw ? " Decoded bit rate\t     :" : "  Decoded Bitrate\t\t:");
    EXPECT_NEAR(rate, reported, 0.005) << text;
    if (c.early) {
        EXPECT_LT(rate, 2.9f);
        EXPECT_LE(rate, 8.0 * streamBytes / (128.0 * 128.0) + 0.005);
    } else {
        EXPECT_EQ(rate, 3.0f);
    }
}

INSTANTIATE_TEST_SUITE_P(Coders, WaveletEarlyEnd,
                         ::testing::Values(EarlyEndCase{"EZW", 128, true}, EarlyEndCase{"EZW", -1, false},
                                           EarlyEndCase{"SPIHT", 128, true},
                                           EarlyEndCase{"SPIHT", -1, false}),
                         [](const auto &info) {
                             return std::string(info.param.key) + (info.param.early ? "Flat" : "Textured");
                         });

} // namespace

} // namespace wavelet_dialog_test
