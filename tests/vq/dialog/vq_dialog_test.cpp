// The VQ module driven through its dialog: pages and states, codebooks loaded and refused, the Bits
// page's text, range and default, Apply's texts, names and window A, channel errors, R(D) points,
// and the reported PSNR against ImageMagick.
#include "vq/dialog/vq_fixture.h"

#include "modules/vq/vq_coder.h"
#include "shell/dib_frame.h"
#include "shell/rd_database.h"

#include <QGroupBox>
#include <QPushButton>

using zntest::ModuleHarness;

namespace vqtest {
namespace {

std::vector<int> EnabledBits(CVqDlg *dlg)
{
    std::vector<int> out;
    for (int b = 1; b <= 12; ++b)
        if (ModuleHarness::IsEnabled(dlg->BitsPage(), CVqBitsDlg::BitsId(b)))
            out.push_back(b);
    return out;
}

int CheckedBits(CVqDlg *dlg)
{
    int checked = 0;
    for (int b = 1; b <= 12; ++b)
        if (ModuleHarness::IsChecked(dlg->BitsPage(), CVqBitsDlg::BitsId(b)))
            checked = checked ? -1 : b;
    return checked;
}

// The PSNR of the last run: the result text grows by one block per Apply.
double LastPsnr(const std::string &text)
{
    return zntest::ReportedPsnr(
        text.substr(text.rfind("-------------------------------------------------------------------")));
}

std::vector<int> Range(int a, int b)
{
    std::vector<int> v;
    for (int i = a; i <= b; ++i)
        v.push_back(i);
    return v;
}

TEST_F(VqDialogTest, OpensOnTheCodebookPageAlone)
{
    Open("house", *Photo());
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(dlg->windowTitle().toStdString(), "Vector Quantization: house");
    const char *labels[] = {"Codebook", "Bits", "Errors"};
    const int idds[] = {189, 140, 155};
    ASSERT_EQ(dlg->TabCtrl()->GetItemCount(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(dlg->TabCtrl()->GetTabText(i).toStdString(), labels[i]);
        EXPECT_EQ(static_cast<CModulePage *>(dlg->TabCtrl()->GetPage(i))->IDD(), idds[i]);
    }
    EXPECT_TRUE(dlg->TabCtrl()->IsTabEnabled(0));
    EXPECT_FALSE(dlg->TabCtrl()->IsTabEnabled(CVqDlg::kBitsTab));
    EXPECT_FALSE(dlg->TabCtrl()->IsTabEnabled(CVqDlg::kErrorsTab));
    dlg->TabCtrl()->SelectTab(CVqDlg::kBitsTab);
    EXPECT_EQ(dlg->TabCtrl()->GetCurSel(), 0);
    EXPECT_FALSE(ModuleHarness::IsEnabled(dlg, kApply));
    EXPECT_EQ(GroupText(dlg), "Set Bits per 4x4 Vector");
    EXPECT_EQ(dlg->PendingBits(), -1);
    EXPECT_EQ(dlg->PendingCodebook(), nullptr);
    EXPECT_EQ(dlg->findChild<QGroupBox *>("ctrl1845")->title().toStdString(),
              "Set Vector Quantization Parameters");
    EXPECT_TRUE(doc->m_pRDData->m_bModuleActive[doc->m_pRDData->GetModuleIndex("VQ")]);
}

TEST_F(VqDialogTest, LoadedCodebookOffersItsRatesAndCodesAtAQuarterBit)
{
    Open("house", *Photo(256, 256));
    const std::string path = SaveCodebook("flat_4x4_min1_max8.cbk", *MakeCodebook(4, 4, 1, 8, FlatLevel));
    Load(path);
    ASSERT_EQ(files.requests.size(), 1u);
    const ModuleFileRequest &r = files.requests[0];
    EXPECT_FALSE(r.save);
    EXPECT_EQ(r.title.toStdString(), "Select a VQ Codebook");
    EXPECT_EQ(r.initialDir.toStdString(), h.Dir().Path());
    EXPECT_EQ(r.initialName.toStdString(), "*.cbk");
    EXPECT_EQ(r.filter.toStdString(), "Codebook Files (*.cbk)|*.cbk||");

    EXPECT_TRUE(messages.Texts().empty());
    EXPECT_EQ(GroupText(dlg), "Set Bits per 4x4 Vector");
    EXPECT_EQ(EnabledBits(dlg), Range(1, 8));
    EXPECT_EQ(CheckedBits(dlg), 4);
    EXPECT_EQ(dlg->PendingBits(), 4);
    EXPECT_TRUE(dlg->TabCtrl()->IsTabEnabled(CVqDlg::kBitsTab));
    EXPECT_TRUE(dlg->TabCtrl()->IsTabEnabled(CVqDlg::kErrorsTab));
    EXPECT_TRUE(ModuleHarness::IsEnabled(dlg, kApply));
    // Window A shows the file's picture under the file's title.
    ASSERT_NE(doc->m_pResultFrameA, nullptr);
    EXPECT_EQ(ModuleHarness::Caption(doc->m_pResultFrameA), "CODEBOOK IMAGE: flat_4x4_min1_max8");
    EXPECT_EQ(ModuleHarness::Image(doc->m_pResultFrameA)->GetWidth(), 1028);
    EXPECT_EQ(ModuleHarness::Image(doc->m_pResultFrameA)->GetHeight(), 32);

    Apply();
    EXPECT_TRUE(messages.Texts().empty());
    EXPECT_EQ(zntest::ReportedMeasure(Text(), "  Coded Bitrate\t\t:"), 0.25);
    EXPECT_EQ(
        Text().rfind(
            "-------------------------------------------------------------------\r\n  Coded Bitrate\t\t: "
            "0.25 (bpp)\r\n",
            0),
        0u);
    EXPECT_EQ(ModuleHarness::ChainImageName(doc), "VQ_house_4_No");
    EXPECT_EQ(ModuleHarness::ChainCaption(doc), "VQ(house): Bits:4 Errors:No");
    EXPECT_EQ(ModuleHarness::ChainDescription(doc).rfind(
                  "VECTOR QUANTIZATION ENCODED house image\r\n   Number of "
                  "Bits per Vector\t: 4\r\n   No Channel Errors Simulated\r\n",
                  0),
              0u);
    // Window A still shows the codebook; Apply waits for a change.
    EXPECT_EQ(ModuleHarness::Caption(doc->m_pResultFrameA), "CODEBOOK IMAGE: flat_4x4_min1_max8");
    EXPECT_FALSE(ModuleHarness::IsEnabled(dlg, kApply));
    // Every block became one of the 16 flat vectors of rate 4.
    for (int g : ModuleHarness::ChainGreys(doc))
        ASSERT_EQ((g - 8) % 16, 0) << g;

    // Another rate: Apply again appends a second block.
    ModuleHarness::Click(dlg->BitsPage(), CVqBitsDlg::BitsId(8));
    EXPECT_TRUE(ModuleHarness::IsEnabled(dlg, kApply));
    Apply();
    const std::string text = Text();
    EXPECT_EQ(text.find("-------------------------------------------------------------------\r\n  Coded "
                        "Bitrate\t\t: 0.50"),
              text.rfind("-------------------------------------------------------------------\r\n"));
    EXPECT_EQ(ModuleHarness::ChainCount(doc), 2);
    EXPECT_EQ(ModuleHarness::ChainImageName(doc), "VQ_house_8_No");
}

TEST_F(VqDialogTest, DefaultBitsAndGroupTextFollowTheCodebook)
{
    Open("house", *Photo(256, 256));
    struct Case
    {
        int w, h, rmin, rmax;
        const char *text;
        int bits;
        bool fits;
    };
    const Case cases[] = {
        {4, 4, 10, 12, "Set Bits per 4x4 Vector", 10, true},
        {8, 4, 1, 2, "Set Bits per 8x4 Vector", 2, true},
        {32, 16, 1, 3, "Set Bits per 32x16 Vector", 2, true},
        {2, 2, 4, 9, "Set Bits per 2x2 Vector", 7, true},
        {3, 3, 1, 4, "Set Bits per 2x2 Vector", 2, false},   // 3x3 has no text of its own (and does not fit)
        {16, 16, 1, 12, "Set Bits per 2x2 Vector", 5, true}, // nor has 16x16
        {32, 32, 5, 6, "Set Bits per 32x32 Vector", 5, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " " << c.rmin << ".." << c.rmax);
        messages.Clear();
        Load(SaveCodebook("cb.cbk", *MakeCodebook(c.w, c.h, c.rmin, c.rmax, FlatLevel)));
        EXPECT_EQ(GroupText(dlg), c.text);
        EXPECT_EQ(EnabledBits(dlg), Range(c.rmin, c.rmax));
        EXPECT_EQ(CheckedBits(dlg), c.bits);
        EXPECT_EQ(dlg->BitsPage()->m_nBits, c.bits);
        EXPECT_EQ(messages.Count(), c.fits ? 0u : 1u);
        EXPECT_EQ(ModuleHarness::IsEnabled(dlg, kApply), c.fits);
    }
}

TEST_F(VqDialogTest, ACodebookThatDoesNotTileTheImageIsRefused)
{
    Open("house", *Photo(256, 256));
    Load(SaveCodebook("six.cbk", *MakeCodebook(6, 6, 1, 4, FlatLevel)));
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{kVqCodebookDoesNotFit});
    EXPECT_EQ(dlg->PendingCodebook(), nullptr);
    EXPECT_FALSE(dlg->TabCtrl()->IsTabEnabled(CVqDlg::kBitsTab));
    EXPECT_FALSE(dlg->TabCtrl()->IsTabEnabled(CVqDlg::kErrorsTab));
    EXPECT_FALSE(ModuleHarness::IsEnabled(dlg, kApply));
    EXPECT_EQ(doc->m_pResultFrameA, nullptr);

    // A fitting codebook is taken after a refused one; then a refused one takes Apply away again.
    Load(SaveCodebook("four.cbk", *MakeCodebook(4, 4, 1, 4, FlatLevel)));
    EXPECT_NE(dlg->PendingCodebook(), nullptr);
    EXPECT_TRUE(ModuleHarness::IsEnabled(dlg, kApply));
    Load(SaveCodebook("six.cbk", *MakeCodebook(6, 6, 1, 4, FlatLevel)));
    EXPECT_FALSE(ModuleHarness::IsEnabled(dlg, kApply));
    EXPECT_EQ(dlg->PendingCodebook(), nullptr);
}

TEST_F(VqDialogTest, FilesThatAreNoCodebookLeaveThePageAsItWas)
{
    Open("house", *Photo());
    Load(SaveCodebook("good.cbk", *MakeCodebook(4, 4, 2, 5, FlatLevel)));
    const ZnImage *good = dlg->CodebookPage()->CodebookImage();
    ASSERT_NE(good, nullptr);
    messages.Clear();

    // An ordinary picture, a header with impossible rates, a truncated file, a missing file, Cancel.
    const std::string picture = h.Dir().File("picture.cbk");
    ASSERT_TRUE(Photo()->SaveDibFile(picture));
    auto badRates = MakeCodebook(4, 4, 2, 5, FlatLevel);
    badRates->Data()[3] = 13;
    const std::string rates = SaveCodebook("rates.cbk", *badRates);
    std::vector<unsigned char> bytes =
        zntest::ReadFileBytes(SaveCodebook("cut.cbk", *MakeCodebook(4, 4, 2, 5, FlatLevel)));
    bytes.resize(bytes.size() / 2);
    ASSERT_TRUE(zntest::WriteFileBytes(h.Dir().File("cut.cbk"), bytes));
    // The reader says nothing of a file that is not there (the file dialog offers none such).
    const std::pair<std::string, size_t> loads[] = {
        {picture, 1}, {rates, 1}, {h.Dir().File("cut.cbk"), 1}, {h.Dir().File("missing.cbk"), 0}, {"", 0}};
    for (const auto &[path, count] : loads) {
        SCOPED_TRACE(path);
        messages.Clear();
        Load(path);
        EXPECT_EQ(dlg->CodebookPage()->CodebookImage(), good);
        EXPECT_EQ(dlg->PendingCodebook(), good);
        EXPECT_EQ(messages.Count(), count) << testing::PrintToString(messages.Texts());
        EXPECT_TRUE(ModuleHarness::IsEnabled(dlg, kApply));
        if (path == picture || path == rates) {
            EXPECT_NE(messages.Texts()[0].find("Please Select another Codebook!"), std::string::npos);
        }
    }
    Apply();
    EXPECT_EQ(ModuleHarness::ChainImageName(doc), "VQ_house_3_No");
}

TEST_F(VqDialogTest, ChannelErrorsRepeatWithTheSeedAndKeepApplyEnabled)
{
    Open("house", *Photo(128, 128));
    Load(SaveCodebook("cb.cbk", *MakeCodebook(2, 2, 1, 6, FlatLevel)));
    ModuleHarness::Click(dlg->ErrorsPage(), 1019);
    EXPECT_EQ(dlg->PendingProb(), 0.005f);
    ModuleHarness::Click(dlg->ErrorsPage(), 1039);
    EXPECT_EQ(dlg->PendingProb(), 0.001f);
    ModuleHarness::Click(dlg->ErrorsPage(), 1538);
    zn::PinRandSeed(17);
    const std::vector<int> a = ModuleHarness::ApplySeeded(dlg, kApply, doc, 17);
    EXPECT_TRUE(ModuleHarness::IsEnabled(dlg, kApply));
    const std::vector<int> b = ModuleHarness::ApplySeeded(dlg, kApply, doc, 17);
    EXPECT_EQ(a, b);
    zn::UnpinRandSeed();
    zn::SeedRand(18);
    Apply();
    EXPECT_NE(ModuleHarness::ChainGreys(doc), a);
    EXPECT_EQ(ModuleHarness::ChainImageName(doc), "VQ_house_3_005");
    EXPECT_EQ(ModuleHarness::ChainCaption(doc), "VQ(house): Bits:3 Errors:0.005");
    EXPECT_NE(ModuleHarness::ChainDescription(doc).find("   Channel Errors Probability\t: 0.0050\r\n"),
              std::string::npos);

    // Errors off again: the tags say No, and Apply waits for a change after the run.
    ModuleHarness::Click(dlg->ErrorsPage(), 1019);
    EXPECT_EQ(dlg->PendingProb(), 0.0f);
    Apply();
    EXPECT_EQ(ModuleHarness::ChainImageName(doc), "VQ_house_3_No");
    EXPECT_EQ(ModuleHarness::ChainCaption(doc), "VQ(house): Bits:3 Errors:No");
    EXPECT_FALSE(ModuleHarness::IsEnabled(dlg, kApply));
}

TEST_F(VqDialogTest, PerfectReconstructionSaysInfiniteAndStoresSixty)
{
    // Every 4x4 block of the picture is flat at a level the rate-2 codebook holds.
    auto image =
        zntest::MakeGreyDib(32, 32, [](int x, int y) { return FlatLevel(2, (x / 4 + y / 4) % 4, 0); });
    Open("flat", *image);
    Load(SaveCodebook("cb.cbk", *MakeCodebook(4, 4, 1, 3, FlatLevel)));
    ModuleHarness::Click(dlg->BitsPage(), CVqBitsDlg::BitsId(2));
    zn::CRDDataBase &rd = *doc->m_pRDData;
    rd.StartStoring("VQ", "perfect");
    Apply();
    rd.StopStoring();
    EXPECT_NE(Text().find("  Signal-to-Noise Ratio\t: Infinite (dB)\r\n  PSNR\t\t\t: Infinite (dB)\r\n"),
              std::string::npos);
    const auto &data = rd.m_ModuleData[rd.GetModuleIndex("VQ")];
    ASSERT_EQ(data.m_nNumberOfPoints[0], 1);
    EXPECT_EQ(data.m_Curve[0].m_fSNR[0], 60.0f);
    EXPECT_EQ(data.m_Curve[0].m_fPSNR[0], 60.0f);
    EXPECT_EQ(data.m_Curve[0].m_fRate[0], 2.0f / 16);
    EXPECT_EQ(data.m_Curve[0].m_fMSE[0], 0.0f);
}

TEST_F(VqDialogTest, PointsAreStoredOnlyWhileVqIsRecorded)
{
    Open("house", *Photo());
    Load(SaveCodebook("cb.cbk", *MakeCodebook(4, 4, 1, 6, FlatLevel)));
    zn::CRDDataBase &rd = *doc->m_pRDData;
    const int module = rd.GetModuleIndex("VQ");
    Apply();
    rd.StartStoring("PCM", "other");
    ModuleHarness::Click(dlg->BitsPage(), CVqBitsDlg::BitsId(2));
    Apply();
    rd.StopStoring();
    EXPECT_EQ(rd.m_nNumberOfCurves[module], 0);
    rd.StartStoring("VQ", "rising");
    for (int bits : {1, 3, 6}) {
        ModuleHarness::Click(dlg->BitsPage(), CVqBitsDlg::BitsId(bits));
        Apply();
    }
    rd.StopStoring();
    const auto &data = rd.m_ModuleData[module];
    ASSERT_EQ(data.m_nNumberOfPoints[0], 3);
    for (int i = 0; i < 2; ++i) {
        EXPECT_LT(data.m_Curve[0].m_fRate[i], data.m_Curve[0].m_fRate[i + 1]);
        EXPECT_LT(data.m_Curve[0].m_fPSNR[i], data.m_Curve[0].m_fPSNR[i + 1]);
    }
}

TEST_F(VqDialogTest, CancelDeactivatesTheModule)
{
    Open("house", *Photo());
    ModuleHarness::Click(dlg, IDCANCEL);
    EXPECT_EQ(doc->m_pVqDlg, nullptr);
    EXPECT_FALSE(doc->m_pRDData->m_bModuleActive[doc->m_pRDData->GetModuleIndex("VQ")]);
}

// The reported PSNR is that of the saved result, by ImageMagick, on our pictures, the camera
// photograph and any outside images.
TEST_F(VqDialogTest, ReportedPsnrAgreesWithImageMagick)
{
    ZN_REQUIRE_TOOL("compare");
    Open("house", *Photo(128, 96));
    Load(SaveCodebook("cb.cbk", *MakeCodebook(2, 2, 1, 8, [](int r, int i, int c) {
                          return (FlatLevel(r, i, c) + (c % 2 ? 9 : -9) * (i % 3)) & 255;
                      })));
    for (int bits : {1, 4, 8}) {
        ModuleHarness::Click(dlg->BitsPage(), CVqBitsDlg::BitsId(bits));
        Apply();
        const double magick = zntest::MagickPsnr(h.ImagePath(), h.SaveChainImage(doc, "result.bmp"));
        EXPECT_TRUE(zntest::PsnrAgrees(LastPsnr(Text()), magick, 0.05 + 1e-3)) << bits;
    }
    const std::string codebook = SaveCodebook("cb2.cbk", *MakeCodebook(2, 2, 1, 8, FlatLevel));
    auto checkDoc = [&](CDibDoc *d, const std::string &reference) {
        if (d->m_pDib->GetWidth() % 2 || d->m_pDib->GetHeight() % 2)
            return false;
        auto *c = h.Open<CVqDlg>(d, zn::cmd::kVq);
        if (!c)
            return false;
        files.answers.push_back(codebook);
        ModuleHarness::Click(c, CVqCodebookDlg::IDC_LOAD);
        ModuleHarness::Click(c, kApply);
        EXPECT_TRUE(zntest::PsnrAgrees(LastPsnr(ModuleHarness::ResultText(c, kResults)),
                                       zntest::MagickPsnr(reference, h.SaveChainImage(d, "result.bmp")),
                                       0.05 + 1e-3))
            << d->m_pDib->m_title;
        return true;
    };
    if (!zntest::PhotoPath("camera").empty()) {
        CDibDoc *camera = CDibDoc::OpenDocumentFile(QString::fromStdString(zntest::PhotoPath("camera")));
        ASSERT_NE(camera, nullptr);
        const std::string reference = h.Dir().File("camera-grey.bmp");
        ASSERT_TRUE(camera->m_pDib->SaveDibFile(reference));
        EXPECT_TRUE(checkDoc(camera, reference));
    }
    zntest::CheckCorpusImages(checkDoc);
}

} // namespace
} // namespace vqtest
