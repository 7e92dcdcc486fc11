// The subband coding module driven through its dialog: the example texts, decompositions and
// filter banks, coding switched off, channel errors, R(D) points, the tables directory, and the
// reported PSNR checked against ImageMagick.
#include "coding_fixture.h"

#include "image/znimage.h"
#include "modules/subband/subband_coder.h"
#include "modules/subband/subband_dlg.h"
#include "platform/errors.h"
#include "platform/messages.h"
#include "platform/random.h"
#include "shell/doc_commands.h"
#include "shell/rd_database.h"

#include <QPushButton>
#include <filesystem>

namespace subband_module_test { // one namespace per test file: a folder compiles as one source

using zntest::ModuleHarness;

namespace {

constexpr int kApply = CSbcDlg::IDC_APPLY;
constexpr int kResults = CSbcDlg::IDC_RESULTS;
constexpr int kEncode = 1132;
constexpr int kEntropy = 1143;
constexpr int kSimulate = 1019;

using SbcFixture =
    codingtest::DialogFixture<CSbcDlg, RegisterSubbandModule, zn::cmd::kSubband, kApply, kResults>;

// Rows of the coding table in the result text: one per coded subband.
int CodedRows(const std::string &text)
{
    const size_t from = text.find("Results after coding and decoding:");
    int rows = 0;
    for (size_t at = text.find("\r\n   ", from); at != std::string::npos; at = text.find("\r\n   ", at + 2))
        if (std::isdigit(static_cast<unsigned char>(text[at + 6])) ||
            std::isdigit(static_cast<unsigned char>(text[at + 5])))
            ++rows;
    return rows;
}

TEST_F(SbcFixture, OpensWithItsPagesAndDefaults)
{
    dlg = Open("house", *codingtest::Photo());
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(dlg->windowTitle().toStdString(), "Subband Coding: house");
    const char *labels[] = {"Decomp", "Filter", "Subs", "Bitrate", "Errors"};
    ASSERT_EQ(dlg->TabCtrl()->GetItemCount(), 5);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(dlg->TabCtrl()->GetTabText(i).toStdString(), labels[i]);
    EXPECT_FALSE(dlg->TabCtrl()->IsTabEnabled(CSbcDlg::kErrorsTab));
    EXPECT_TRUE(doc->m_pRDData->m_bModuleActive[doc->m_pRDData->GetModuleIndex("SBC")]);
    for (int id : {1123, kEncode, 1128, 1111, kEntropy})
        EXPECT_TRUE(ModuleHarness::IsChecked(dlg, id)) << id;
    for (int id : {1119, 1115, 1116, 1117, 1118})
        EXPECT_FALSE(ModuleHarness::IsEnabled(dlg, id)) << id;
    const SbcParams &p = dlg->PendingParams();
    EXPECT_EQ(p.nDecomp, 3);
    EXPECT_EQ(p.sFilter, "16b");
    EXPECT_EQ(p.fBitrate, 1.0f);
    EXPECT_EQ(p.nPredModel, 3);
    EXPECT_EQ(p.bEntropy, 1);
}

TEST_F(SbcFixture, HouseWithTheDefaults)
{
    dlg = Open("house", *codingtest::Photo());
    Apply();
    EXPECT_EQ(ModuleHarness::ChainCaption(doc), "SBC(house): Subs:16 Taps:16 Bitr:1.00 Errors:0.0000");
    EXPECT_EQ(ModuleHarness::ChainImageName(doc), "SBC_house_16_16_1_No");
    EXPECT_EQ(ModuleHarness::Caption(doc->m_pResultFrameA),
              "SBC: ORIGINAL SUBS(house) Subs:16 Taps:16 Bitr:1.00 Errors:0.0000");
    EXPECT_EQ(ModuleHarness::ImageName(doc->m_pResultFrameA), "SBC_house_osub");
    EXPECT_EQ(ModuleHarness::Caption(doc->m_pResultFrameB),
              "SBC: CODED SUBS(house)Subs:16 Taps:16 Bitr:1.00 Errors:0.0000");
    EXPECT_EQ(ModuleHarness::ImageName(doc->m_pResultFrameB), "SBC_house_csub");
    EXPECT_EQ(ModuleHarness::Description(doc->m_pResultFrameA), "ORIGINAL SUBBANDS of the house image\r\n"
                                                                "   Number of Subbands\t: 16\r\n"
                                                                "   Number of Filter Taps\t: 16");
    const std::string chain = ModuleHarness::ChainDescription(doc);
    EXPECT_EQ(chain.substr(0, chain.find("   Coded Bitrate")), "SUBBAND ENCODED house image\r\n"
                                                               "   Number of Subbands\t\t: 16\r\n"
                                                               "   Number of Filter Taps\t\t: 16\r\n"
                                                               "   Target Bitrate\t\t\t: 1.00 (bpp)\r\n"
                                                               "   No Channel Errors Simulated\r\n"
                                                               "\r\n"
                                                               "   First Subband Encoding\t: DPCM\r\n"
                                                               "   First Subband C-Value\t\t: 0.75\r\n"
                                                               "\r\n"
                                                               "   Other Subbands Encoding\t: PCM\r\n"
                                                               "   Other Subbands C-Value\t: 0.50\r\n"
                                                               "\r\n");
    const std::string b = ModuleHarness::Description(doc->m_pResultFrameB);
    const std::string head = "ENCODED SUBBANDS of the house image\r\n"
                             "   Number of Subbands\t\t: 16\r\n"
                             "   Number of Filter Taps\t\t: 16\r\n"
                             "   Target Bitrate\t\t\t: 1.00 (bpp)\r\n"
                             "   No Channel Errors Simulated\r\n"
                             "\r\n"
                             "   First Subband Encoding\t: DPCM\r\n"
                             "   First Subband C-Value\t\t: 0.75\r\n"
                             "   Pred. coefficients\t\t: ";
    EXPECT_EQ(b.substr(0, head.size()), head);
    const std::string tail =
        "      x\r\n\r\n   Other Subbands Encoding\t: PCM\r\n   Other Subbands C-Value\t: 0.50\r\n";
    ASSERT_GE(b.size(), tail.size());
    EXPECT_EQ(b.substr(b.size() - tail.size()), tail);
    EXPECT_EQ(CodedRows(Text()), 16);
    EXPECT_TRUE(messages.Texts().empty());
}

TEST_F(SbcFixture, DecompositionsAndFilters)
{
    struct Case
    {
        int decompId, filterId;
        int subbands, taps;
        const char *name;
    };
    const Case cases[] = {
        {1121, 1125, 4, 2, "SBC_house_4_2_1_No"},     {1122, 1126, 7, 8, "SBC_house_7_8_1_No"},
        {1124, 1127, 28, 12, "SBC_house_28_12_1_No"}, {1499, 1129, 52, 24, "SBC_house_52_24_1_No"},
        {1893, 1130, 64, 32, "SBC_house_64_32_1_No"}, {1123, 1128, 16, 16, "SBC_house_16_16_1_No"},
    };
    dlg = Open("house", *codingtest::Photo(128, 128));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ModuleHarness::Click(dlg, c.decompId);
        ModuleHarness::Click(dlg, c.filterId);
        Apply();
        EXPECT_EQ(ModuleHarness::ChainImageName(doc), c.name);
        EXPECT_EQ(ModuleHarness::ChainCaption(doc), "SBC(house): Subs:" + std::to_string(c.subbands) +
                                                        " Taps:" + std::to_string(c.taps) +
                                                        " Bitr:1.00 Errors:0.0000");
        EXPECT_EQ(CodedRows(Text()), c.subbands);
    }
    EXPECT_TRUE(messages.Texts().empty());
}

TEST_F(SbcFixture, SmallImageSkipsTheLevelThatNoLongerDivides)
{
    // 100 = 4 x 25: the third level cannot halve 25, so decomposition 4 codes 16 bands while the
    // texts still name 28.
    dlg = Open("small", *codingtest::Photo(100, 100));
    ModuleHarness::Click(dlg, 1124);
    Apply();
    EXPECT_EQ(CodedRows(Text()), 16);
    EXPECT_EQ(ModuleHarness::ChainCaption(doc), "SBC(small): Subs:28 Taps:16 Bitr:1.00 Errors:0.0000");
    EXPECT_TRUE(messages.Texts().empty());
}

TEST_F(SbcFixture, MissingFilterFileEndsTheRun)
{
    namespace fs = std::filesystem;
    const std::string dir = h.Dir().File("tables/");
    fs::create_directories(dir);
    for (const auto &e : fs::directory_iterator(codingtest::kTables))
        if (e.path().filename() != "qmf08a.fcs")
            fs::copy_file(e.path(), dir + e.path().filename().string());
    theApp.m_sTableDir = QString::fromStdString(dir);
    dlg = Open("house", *codingtest::Photo());
    ModuleHarness::Click(dlg, 1126);
    EXPECT_EQ(dlg->PendingParams().sFilter, "08a");
    Apply();
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"ReadFilt: Can't read filter coefficients."});
    EXPECT_EQ(ModuleHarness::ChainCount(doc), 0);
}

TEST_F(SbcFixture, CodingOffOnlySplitsAndRebuilds)
{
    dlg = Open("house", *codingtest::Photo());
    Apply();
    ASSERT_NE(doc->m_pResultFrameB, nullptr);
    ModuleHarness::Click(dlg, kEncode);
    EXPECT_TRUE(dlg->TabCtrl()->IsTabEnabled(0));
    EXPECT_TRUE(dlg->TabCtrl()->IsTabEnabled(1));
    for (int tab : {2, 3, 4})
        EXPECT_FALSE(dlg->TabCtrl()->IsTabEnabled(tab)) << tab;
    ModuleHarness::Click(dlg, 1126); // the filter still matters
    Apply();
    const std::string text = Text();
    EXPECT_EQ(text.rfind("  Coded Bitrate\t\t:  8.00 (bpp)\r\n", 0), 0u);
    EXPECT_EQ(ModuleHarness::ChainCaption(doc), "SBC(house): Subs:16 Taps:8");
    EXPECT_EQ(ModuleHarness::ChainImageName(doc), "SBC_house_16_8");
    const std::string chain = ModuleHarness::ChainDescription(doc);
    EXPECT_EQ(
        chain.substr(0, chain.find("\r\n   Coded Bitrate")),
        "SUBBAND ENCODED house image\r\n   Number of Subbands\t\t: 16\r\n   Number of Filter Taps\t\t: 8\r\n"
        "   No encoding of the Subbands applied\r\n");
    EXPECT_EQ(doc->m_pResultFrameB, nullptr);
    // Only the filter bank's own reconstruction error is left: a QMF bank is nearly perfect.
    EXPECT_GT(codingtest::ReportedPsnr(text), 40.0) << text;

    ModuleHarness::Click(dlg, kEncode);
    EXPECT_TRUE(ModuleHarness::IsChecked(dlg, 1110));
    EXPECT_FALSE(ModuleHarness::IsChecked(dlg, kEntropy));
    EXPECT_TRUE(dlg->TabCtrl()->IsTabEnabled(CSbcDlg::kErrorsTab));
    EXPECT_EQ(dlg->PendingParams().fBitrate, 0.75f);
    EXPECT_EQ(dlg->PendingParams().bEntropy, 0);
}

TEST_F(SbcFixture, ChannelErrorsAreNamedAndRepeatWithThePinnedSeed)
{
    zn::PinRandSeed(5); // the first run of the program seeds from the (pinned) clock
    dlg = Open("house", *codingtest::Photo());
    ModuleHarness::Click(dlg, kEntropy);
    ModuleHarness::Click(dlg, kSimulate);
    ModuleHarness::Click(dlg, 1117); // .0005
    EXPECT_EQ(dlg->PendingParams().fErrorProb, 0.0005f);
    const std::vector<int> first = ModuleHarness::ApplySeeded(dlg, kApply, doc, 5);
    EXPECT_EQ(ModuleHarness::ApplySeeded(dlg, kApply, doc, 5), first);
    EXPECT_EQ(ModuleHarness::ChainCaption(doc), "SBC(house): Subs:16 Taps:16 Bitr:1.00 Errors:0.0005");
    EXPECT_EQ(ModuleHarness::ChainImageName(doc), "SBC_house_16_16_1_0005");
    EXPECT_TRUE(dlg->ApplyButton()->isEnabled());
}

TEST_F(SbcFixture, PointsOnlyWhileRecordingAndRisingWithTheRate)
{
    dlg = Open("house", *codingtest::Photo());
    ExpectPointsOnlyWhileRecording("SBC", "DCT", {1113, 1108, 1111}); // 2.0, 0.25, 1.0 bpp
}

TEST_F(SbcFixture, EmptyTablesDirectoryOpensThePreferences)
{
    dlg = Open("house", *codingtest::Photo());
    ExpectEmptyTablesDirOpensPreferences();
}

TEST_F(SbcFixture, ReportedPsnrAgreesWithImageMagick)
{
    ZN_REQUIRE_TOOL("compare");
    dlg = Open("house", *codingtest::Photo(128, 96));
    zn::CRDDataBase &rd = *doc->m_pRDData;
    rd.StartStoring("SBC", "oracle");
    int point = 0;
    struct Case
    {
        int decompId, filterId, rateId;
    };
    for (const Case c :
         {Case{1123, 1128, 1108}, Case{1122, 1125, 1111}, Case{1893, 1130, 1113}, Case{1121, 1126, 1106}}) {
        ModuleHarness::Click(dlg, c.decompId);
        ModuleHarness::Click(dlg, c.filterId);
        ModuleHarness::Click(dlg, c.rateId);
        Apply();
        const std::string result = h.SaveChainImage(doc, "result.bmp");
        const double magick = zntest::MagickPsnr(h.ImagePath(), result);
        const auto &curve = rd.m_ModuleData[rd.GetModuleIndex("SBC")].m_Curve[0];
        EXPECT_TRUE(zntest::PsnrAgrees(curve.m_fPSNR[point++], magick, 0.01));
        EXPECT_TRUE(zntest::PsnrAgrees(codingtest::ReportedPsnr(Text()), magick, 0.05 + 1e-3))
            << c.decompId << " " << c.filterId << " " << c.rateId;
    }
    rd.StopStoring();
    codingtest::CheckCorpus<CSbcDlg>(h, zn::cmd::kSubband, kApply, kResults);
}

TEST(SbcCoder, DecompositionTableAndRefusals)
{
    const int bands[] = {4, 7, 16, 28, 52, 64};
    for (int d = 1; d <= 6; ++d)
        EXPECT_EQ(SbcDecompositionOf(d).nSubbands, bands[d - 1]) << d;
    EXPECT_EQ(SbcDecompositionOf(0).nSubbands, 64); // anything else counts as 6
    EXPECT_EQ(SbcDecompositionOf(9).nSubbands, 64);

    auto image = codingtest::Photo(64, 64);
    SbcParams badFilter, badRate;
    badFilter.sFilter = "../qmf16b"; // only the six names reach a file
    badRate.fBitrate = 8.0f;
    for (const SbcParams &p : {badFilter, badRate}) {
        ZnImage decoded, a, b;
        EXPECT_THROW(SbcCodeImage(p, true, 1, image.get(), "t", codingtest::kTables, &decoded, &a, &b),
                     zn::RunAborted);
    }
}

} // namespace

} // namespace subband_module_test
