// The motion estimation dialog on documents: block sizes by picture size, the pages' effects on the
// settings, the run's report, result windows and replay, on sequences panned across a photograph.
#include "modules/module_harness.h"

#include "modules/keyboard_user.h"
#include "support/layout_checks.h"

#include "image/cdib.h"
#include "mpeg/me/me_dlg.h"
#include "mpeg/me/me_pages.h"
#include "mpeg/support/sequences.h"
#include "platform/keypoll.h"
#include "platform/messages.h"
#include "shell/dib_doc.h"
#include "shell/dib_frame.h"
#include "shell/doc_commands.h"
#include "shell/zn_dialog.h"

#include <QPushButton>
#include <gtest/gtest.h>

namespace me_dlg_test { // one namespace per test file: a folder compiles as one source

using zntest::ModuleHarness;

namespace {

constexpr int kApply = CMeDlg::IDC_APPLY;
constexpr int kResults = CMeDlg::IDC_RESULTS;

int Texture(int k, int x, int y)
{
    // A pattern moving right by 2 pixels per frame.
    const int u = x - 2 * k;
    return ((u * 37 + y * 11) ^ (u * y)) & 0xff;
}

struct MeFixture : ::testing::Test
{
    void SetUp() override { RegisterMotionEstimationModule(); }
    void TearDown() override { zn::SetKeyPoller(nullptr); }
    CMeDlg *Open(const std::string &path)
    {
        doc = CDibDoc::OpenDocumentFile(QString::fromStdString(path));
        EXPECT_NE(doc, nullptr);
        return doc ? h.Open<CMeDlg>(doc, zn::cmd::kMotionEstimation) : nullptr;
    }
    // Three frames of a pan across the photograph, as a Y-only sequence.
    std::string Pan(const std::string &name, int frames = 3)
    {
        zntest::Pan pan;
        pan.frames = frames;
        pan.dx = 3;
        pan.dy = -2;
        return zntest::MakePanSequence(h.Dir().Path(), name, zntest::PhotoPath("camera", "png"), pan);
    }
    std::vector<std::string> ResultTitles() const
    {
        return {ModuleHarness::Caption(doc->m_pResultChain), ModuleHarness::Caption(doc->m_pResultFrameA),
                ModuleHarness::Caption(doc->m_pResultFrameB)};
    }
    zn::MessageRecorder messages;
    ModuleHarness h;
    CDibDoc *doc = nullptr;
};

TEST_F(MeFixture, BlockSizesThatDoNotDivideThePictureAreDisabled)
{
    const struct
    {
        int width;
        std::vector<bool> enabled; // 2x2, 4x4, 8x8, 16x16
        int selected;
    } cases[] = {{176, {true, true, true, true}, 8},
                 {180, {true, true, false, false}, 4},
                 {182, {true, false, false, false}, 2}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.width);
        const std::string seq = zntest::MakeSeqSeries(h.Dir().Path(), "w" + std::to_string(c.width), c.width,
                                                      144, 2, [](int, int, int) { return 100; });
        CMeDlg *dlg = Open(seq);
        ASSERT_NE(dlg, nullptr);
        const int ids[4] = {2121, 2122, 2123, 2124};
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(ModuleHarness::IsEnabled(dlg, ids[i]), c.enabled[static_cast<size_t>(i)]) << i;
        EXPECT_EQ(dlg->newSettings.blockSize, c.selected);
        EXPECT_EQ(dlg->BlockPage()->m_nValue, c.selected);
    }
}

TEST_F(MeFixture, PagesSetLevelsSearchAndReach)
{
    const std::string seq =
        zntest::MakeSeqSeries(h.Dir().Path(), "s", 64, 48, 2, [](int, int, int) { return 9; });
    CMeDlg *dlg = Open(seq);
    ASSERT_NE(dlg, nullptr);
    CXTabCtrl *tabs = dlg->TabCtrl();
    const char *labels[] = {"Hierarchy", "Search", "Block", "Max.Displ.", "N-Step", "Video"};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(tabs->GetTabText(i).toStdString(), labels[i]);
    EXPECT_TRUE(tabs->IsTabEnabled(CMeDlg::kDisplTab));
    EXPECT_FALSE(tabs->IsTabEnabled(CMeDlg::kNStepTab));

    ModuleHarness::Click(dlg, 2152); // Two levels
    EXPECT_EQ(dlg->newSettings.levels, 2);
    EXPECT_EQ(dlg->newSettings.maxDispl, 10);
    EXPECT_EQ(dlg->newSettings.nSteps, 3);
    EXPECT_EQ(tabs->GetPage(CMeDlg::kDisplTab), dlg->DisplPage());
    EXPECT_EQ(dlg->DisplPage()->IDD(), 247);
    EXPECT_EQ(dlg->NStepPage()->IDD(), 245);
    for (int id : {2161, 2162, 2163, 2181, 2182, 2183})
        EXPECT_NE(zn::FindControl(dlg, id), nullptr) << id;
    EXPECT_TRUE(ModuleHarness::IsChecked(dlg, 2162));
    EXPECT_TRUE(ModuleHarness::IsChecked(dlg, 2182));

    ModuleHarness::Click(dlg, 2113); // N-Step
    EXPECT_FALSE(tabs->IsTabEnabled(CMeDlg::kDisplTab));
    EXPECT_TRUE(tabs->IsTabEnabled(CMeDlg::kNStepTab));
    EXPECT_EQ(dlg->newSettings.nSteps, 3);
    ModuleHarness::Click(dlg, 2183);
    EXPECT_EQ(dlg->newSettings.nSteps, 4);

    ModuleHarness::Click(dlg, 2163); // "15 - 7", then Full resets the displacement to the default
    ModuleHarness::Click(dlg, 2111);
    EXPECT_TRUE(tabs->IsTabEnabled(CMeDlg::kDisplTab));
    EXPECT_FALSE(tabs->IsTabEnabled(CMeDlg::kNStepTab));
    EXPECT_EQ(dlg->newSettings.maxDispl, 10);

    ModuleHarness::Click(dlg, 2153); // Three levels
    EXPECT_EQ(dlg->DisplPage()->IDD(), 248);
    EXPECT_EQ(dlg->newSettings.maxDispl, 11);
    EXPECT_EQ(dlg->newSettings.nSteps, 3);
    ModuleHarness::Click(dlg, 2151); // back to one level
    EXPECT_EQ(dlg->DisplPage()->IDD(), 211);
    EXPECT_EQ(dlg->newSettings.maxDispl, 15);
    EXPECT_EQ(dlg->newSettings.nSteps, 4);
}

TEST_F(MeFixture, OneLevelRunReportsNamesAndReplays)
{
    ZN_REQUIRE_PHOTO("camera");
    ZN_REQUIRE_TOOL("ffmpeg");
    CMeDlg *dlg = Open(Pan("pan"));
    ASSERT_NE(dlg, nullptr);
    zn::SetKeyPoller([] { return false; });
    ModuleHarness::Click(dlg, kApply);
    const std::string text = ModuleHarness::ResultText(dlg, kResults);
    const std::string head = "Frame          Variances                  Vector\r\n"
                             "          original       fd          mcfd      entropy\r\n";
    ASSERT_EQ(text.rfind(head, 0), 0u) << text;
    EXPECT_EQ(text.substr(head.size(), 4), "(02)");
    EXPECT_NE(text.find("\r\n(03)"), std::string::npos);
    EXPECT_EQ(text.find("(04)"), std::string::npos);
    EXPECT_EQ(dlg->StoredFields(), 2);
    EXPECT_TRUE(messages.Texts().empty());
    // The last frame shown is frame 3 (YUV: the frame number follows the title).
    EXPECT_EQ(ResultTitles(),
              (std::vector<std::string>{"MOT.COMP. (pan3): BF_8x8_15", "FRAME DIFF. (pan3): BF_8x8_15",
                                        "MC FRAME DIFF. (pan3): BF_8x8_15"}));
    EXPECT_EQ(ModuleHarness::ImageName(doc->m_pResultChain), "ME_pan_BF_8x8_15_MC");
    EXPECT_EQ(ModuleHarness::ImageName(doc->m_pResultFrameA), "ME_pan_BF_8x8_15_FD");
    EXPECT_EQ(ModuleHarness::ImageName(doc->m_pResultFrameB), "ME_pan_BF_8x8_15_MCFD");
    EXPECT_EQ(ModuleHarness::Description(doc->m_pResultFrameA),
              "Frame Difference (no motion information used)\r\n\r\n"
              "* Calculated as current frame minus previous frame\r\n"
              "* A value of 127 (gray) is added for visibility\r\n");
    const std::vector<int> chain = ModuleHarness::Greys(ModuleHarness::Image(doc->m_pResultChain));
    const std::vector<int> mcfd = ModuleHarness::Greys(ModuleHarness::Image(doc->m_pResultFrameB));
    // The pan is predicted exactly away from the picture's edges.
    EXPECT_EQ(mcfd[static_cast<size_t>(70 * 176 + 90)], 127);

    // Show Again replays the stored fields: the same images, the same text.
    ASSERT_TRUE(ModuleHarness::IsEnabled(dlg, CMeVideoDlg::IDC_SHOW_AGAIN));
    ModuleHarness::Click(dlg, CMeVideoDlg::IDC_SHOW_AGAIN);
    EXPECT_EQ(ModuleHarness::ResultText(dlg, kResults), text);
    EXPECT_EQ(ModuleHarness::Greys(ModuleHarness::Image(doc->m_pResultChain)), chain);
    EXPECT_EQ(ModuleHarness::Greys(ModuleHarness::Image(doc->m_pResultFrameB)), mcfd);
    // A change of setting disables it again.
    ModuleHarness::Click(dlg, 2124);
    EXPECT_FALSE(ModuleHarness::IsEnabled(dlg, CMeVideoDlg::IDC_SHOW_AGAIN));
}

TEST_F(MeFixture, ThreeLevelReportAndNames)
{
    ZN_REQUIRE_PHOTO("camera");
    ZN_REQUIRE_TOOL("ffmpeg");
    CMeDlg *dlg = Open(Pan("three"));
    ASSERT_NE(dlg, nullptr);
    ModuleHarness::Click(dlg, 2153);
    ModuleHarness::Click(dlg, 2172); // "15 - 7 - 3"
    ModuleHarness::Click(dlg, 2102); // one loop
    ModuleHarness::Click(dlg, kApply);
    const std::string text = ModuleHarness::ResultText(dlg, kResults);
    EXPECT_EQ(text.rfind("Hierarchical Motion Estimation Parameters \r\n\r\n"
                         "Res. Level     (1)\t   (2)\t   (3)\r\n"
                         "  Blocksize    32x32\t   16x16\t   8x8\r\n",
                         0),
              0u)
        << text;
    EXPECT_NE(text.find("  Max. Displ.      15\t      7\t    3\r\n\r\nESTIMATION RESULTS:\r\nFrame"),
              std::string::npos);
    EXPECT_EQ(ModuleHarness::ImageName(doc->m_pResultChain), "ME_three_H_BF_8x8_25_MC");
    EXPECT_EQ(ModuleHarness::Caption(doc->m_pResultFrameB), "MC FRAME DIFF. (three3): H_BF_8x8_25");
}

// The parameter tables of two and three levels line their values up with tabs: in the results font
// no label may run into its value ("Blocksize16x16"). The three result windows stand beside and below
// the document window without covering it or one another.
TEST_F(MeFixture, HierarchicalReportsKeepLabelsClearOfValuesAndWindowsApart)
{
    ZN_REQUIRE_PHOTO("camera");
    ZN_REQUIRE_TOOL("ffmpeg");
    CMeDlg *dlg = Open(Pan("levels"));
    ASSERT_NE(dlg, nullptr);
    ModuleHarness::Click(dlg, 2102); // one loop
    for (int levels : {2152, 2153}) {
        ModuleHarness::Click(dlg, levels);
        ModuleHarness::Click(dlg, kApply);
        EXPECT_NE(ModuleHarness::ResultText(dlg, kResults).find("Blocksize"), std::string::npos);
        EXPECT_EQ(zntest::ResultTextProblems(dlg->ResultBox()), "") << levels;
        EXPECT_EQ(zntest::OverlappingResultWindows(doc), "") << levels;
    }
}

TEST_F(MeFixture, NStepReportStartsWithItsReach)
{
    const std::string seq = zntest::MakeSeqSeries(h.Dir().Path(), "walk", 64, 48, 3,
                                                  [](int k, int x, int y) { return Texture(k, x, y); });
    CMeDlg *dlg = Open(seq);
    ModuleHarness::Click(dlg, 2113);
    ModuleHarness::Click(dlg, 2102);
    ModuleHarness::Click(dlg, kApply);
    const std::string text = ModuleHarness::ResultText(dlg, kResults);
    EXPECT_EQ(text.rfind("Maximum displacement\t: 15\r\n\r\nFrame", 0), 0u) << text;
    // A .seq series has no frame number in the captions.
    EXPECT_EQ(ModuleHarness::Caption(doc->m_pResultChain), "MOT.COMP. (walk): NS_8x8_4");
    // The run brings the series back to frame 1.
    EXPECT_EQ(doc->m_nSeqFrame, 2);
    EXPECT_EQ(zntest::GreyAt(*doc->m_pDib, 10, 10), Texture(1, 10, 10));
}

TEST_F(MeFixture, FrameByFrameAsksBeforeEachFrameAndRunsOneLoop)
{
    const std::string seq = zntest::MakeSeqSeries(h.Dir().Path(), "walk", 64, 48, 3,
                                                  [](int k, int x, int y) { return Texture(k, x, y); });
    CMeDlg *dlg = Open(seq);
    ModuleHarness::Click(dlg, CMeVideoDlg::IDC_FRAME_BY_FRAME);
    ModuleHarness::Click(dlg, kApply);
    EXPECT_EQ(messages.Texts(),
              (std::vector<std::string>{"Click OK to process frame 2", "Click OK to process frame 3"}));
}

// Keys typed before Apply, and the Enter that answers each "Click OK" box of frame-by-frame, are no
// reason to ask whether to stop; a key pressed while the frames are searched is.
TEST_F(MeFixture, OnlyAKeyPressedWhileEstimatingAsksToStop)
{
    ZN_REQUIRE_PHOTO("camera");
    ZN_REQUIRE_TOOL("ffmpeg");
    CMeDlg *dlg = Open(Pan("typed", 4));
    ASSERT_NE(dlg, nullptr);
    ModuleHarness::Click(dlg, 2102); // one loop
    zntest::ExpectKeyQuestionOnlyForKeysOfTheRun(
        "Motion estimation interrupted by User\nContinue with rest of sequence?", {},
        [&] { ModuleHarness::Click(dlg, kApply); });

    zntest::KeyboardUser user;
    ModuleHarness::Click(dlg, CMeVideoDlg::IDC_FRAME_BY_FRAME);
    ModuleHarness::Click(dlg, kApply);
    EXPECT_EQ(user.Texts(),
              (std::vector<std::string>{"Click OK to process frame 2", "Click OK to process frame 3",
                                        "Click OK to process frame 4"}));
}

TEST_F(MeFixture, KeyPressAsksOnlyForYuvSequences)
{
    ZN_REQUIRE_PHOTO("camera");
    ZN_REQUIRE_TOOL("ffmpeg");
    CMeDlg *dlg = Open(Pan("keys", 4));
    ModuleHarness::Click(dlg, 2102);
    zn::SetKeyPoller([] { return true; });
    messages.Script({zn::MsgAnswer::No});
    ModuleHarness::Click(dlg, kApply);
    EXPECT_EQ(
        messages.Texts(),
        std::vector<std::string>{"Motion estimation interrupted by User\nContinue with rest of sequence?"});
    EXPECT_EQ(dlg->StoredFields(), 1);

    messages.Clear();
    const std::string seq = zntest::MakeSeqSeries(h.Dir().Path(), "walk", 64, 48, 3,
                                                  [](int k, int x, int y) { return Texture(k, x, y); });
    CMeDlg *dlg2 = Open(seq);
    ModuleHarness::Click(dlg2, 2102);
    ModuleHarness::Click(dlg2, kApply);
    EXPECT_TRUE(messages.Texts().empty());
    EXPECT_EQ(dlg2->StoredFields(), 2);
}

TEST_F(MeFixture, CorpusSequences)
{
    const auto files = zntest::CorpusFiles("yuv");
    int checked = 0;
    for (const std::string &file : files) {
        if (file.size() < 4 || file.substr(file.size() - 4) == ".hdr")
            continue;
        SCOPED_TRACE(file);
        CMeDlg *dlg = Open(file);
        if (!dlg)
            continue;
        ModuleHarness::Click(dlg, 2102);
        ModuleHarness::Click(dlg, kApply);
        EXPECT_NE(ModuleHarness::ResultText(dlg, kResults).find("(02)"), std::string::npos);
        ++checked;
    }
    if (!files.empty())
        std::printf("corpus: %d files checked\n", checked);
}

} // namespace

} // namespace me_dlg_test
