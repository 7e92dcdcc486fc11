// The video player on raw YUV sequences and .seq series, with a fake frame clock and scripted keys.
#include "modules/module_harness.h"

#include "modules/keyboard_user.h"

#include "image/cdib.h"
#include "mpeg/player/vplay_dlg.h"
#include "mpeg/support/fake_clock.h"
#include "mpeg/support/sequences.h"
#include "platform/keypoll.h"
#include "platform/messages.h"
#include "shell/dib_doc.h"
#include "shell/dib_frame.h"
#include "shell/doc_commands.h"

#include <gtest/gtest.h>

namespace vplay_test { // one namespace per test file: a folder compiles as one source

using zntest::ModuleHarness;

namespace {

// A Y-only sequence of frames filled with 10, 20, 30, ...
std::string WriteLevels(const zntest::ScratchDir &dir, const std::string &name, int width, int height,
                        int frames)
{
    std::vector<unsigned char> bytes;
    for (int k = 1; k <= frames; ++k)
        bytes.insert(bytes.end(), static_cast<size_t>(width) * height, static_cast<unsigned char>(10 * k));
    const std::string path = dir.File(name + ".y");
    zntest::WriteFileBytes(path, bytes);
    zntest::WriteYuvHeader(dir.File(name + ".hdr"), height, width, 0, frames);
    return path;
}

struct Step
{
    std::string title;
    std::string text;
    int level;
};

struct VplayFixture : ::testing::Test
{
    void SetUp() override { RegisterVideoPlayerModule(); }
    void TearDown() override { zn::SetKeyPoller(nullptr); }
    CVplayDlg *Open(const std::string &path)
    {
        doc = CDibDoc::OpenDocumentFile(QString::fromStdString(path));
        EXPECT_NE(doc, nullptr);
        return doc ? h.Open<CVplayDlg>(doc, zn::cmd::kVideoPlayer) : nullptr;
    }
    // Every step polls the keys once: record what the step shows, let 7 ms of work pass, and press
    // a key at the steps listed.
    void Record(CVplayDlg *dlg, std::vector<int> pressAt = {})
    {
        zn::SetKeyPoller([this, dlg, pressAt] {
            steps.push_back({doc->m_pMainFrame->windowTitle().toStdString(),
                             ModuleHarness::ResultText(dlg, CVplayDlg::IDC_RESULTS),
                             zntest::GreyAt(*doc->m_pDib, 0, 0)});
            clock.now += 7;
            return std::find(pressAt.begin(), pressAt.end(), static_cast<int>(steps.size())) != pressAt.end();
        });
    }
    zn::MessageRecorder messages;
    zntest::FakeFrameClock clock;
    ModuleHarness h;
    CDibDoc *doc = nullptr;
    std::vector<Step> steps;
};

TEST_F(VplayFixture, YuvSequencePlaysEveryFrameForFiftyMilliseconds)
{
    CVplayDlg *dlg = Open(WriteLevels(h.Dir(), "levels", 32, 16, 3));
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(dlg->windowTitle().toStdString(), "Video Player: levels");
    Record(dlg);
    // Keys pressed before Play are forgotten before the first frame.
    std::vector<size_t> forgotten;
    const zn::KeyForgetter old = zn::SetKeyForgetter([&] { forgotten.push_back(steps.size()); });
    ModuleHarness::Click(dlg, CVplayDlg::IDC_PLAY);
    zn::SetKeyForgetter(old);
    EXPECT_EQ(forgotten, std::vector<size_t>{0});
    ASSERT_EQ(steps.size(), 3u);
    for (int n = 1; n <= 3; ++n) {
        EXPECT_EQ(steps[n - 1].title, "levels_" + std::to_string(n));
        EXPECT_EQ(steps[n - 1].level, 10 * n);
        EXPECT_EQ(steps[n - 1].text, "  Frame dimensions\t : 16x32\r\n  Sequence length\t : 3 frames\r\n"
                                     "  Frame number     \t : " +
                                         std::to_string(n) + "\r\n");
    }
    EXPECT_EQ(clock.sleeps, (std::vector<int64_t>{43, 43, 43}));
    EXPECT_TRUE(messages.Texts().empty());
}

TEST_F(VplayFixture, KeyThenNoStopsAfterTheCurrentFrameAndYesGoesOn)
{
    CVplayDlg *dlg = Open(WriteLevels(h.Dir(), "levels", 16, 16, 4));
    Record(dlg, {1, 2});
    messages.Script({zn::MsgAnswer::Yes, zn::MsgAnswer::No});
    ModuleHarness::Click(dlg, CVplayDlg::IDC_PLAY);
    EXPECT_EQ(steps.size(), 2u);
    EXPECT_EQ(messages.Texts(), (std::vector<std::string>(
                                    2, "Video player interrupted by User\nContinue playing this video?")));
    // The stopped step still lasts its 50 ms.
    EXPECT_EQ(clock.sleeps, (std::vector<int64_t>{43, 43}));
}

TEST_F(VplayFixture, OnlyAKeyPressedWhilePlayingAsksToStop)
{
    CVplayDlg *dlg = Open(WriteLevels(h.Dir(), "typed", 16, 16, 4));
    ASSERT_NE(dlg, nullptr);
    zntest::ExpectKeyQuestionOnlyForKeysOfTheRun(
        "Video player interrupted by User\nContinue playing this video?", {},
        [&] { ModuleHarness::Click(dlg, CVplayDlg::IDC_PLAY); });
}

TEST_F(VplayFixture, CifDimensionsReadHeightFirst)
{
    CVplayDlg *dlg = Open(WriteLevels(h.Dir(), "cif", 352, 288, 1));
    Record(dlg);
    ModuleHarness::Click(dlg, CVplayDlg::IDC_PLAY);
    ASSERT_EQ(steps.size(), 1u);
    EXPECT_EQ(steps[0].text.rfind("  Frame dimensions\t : 288x352\r\n", 0), 0u) << steps[0].text;
}

TEST_F(VplayFixture, SeriesShowsTheNextFilesAndRepeatsTheLast)
{
    const std::string seq =
        zntest::MakeSeqSeries(h.Dir().Path(), "walk", 24, 16, 3, [](int k, int, int) { return 40 * k; });
    CVplayDlg *dlg = Open(seq);
    ASSERT_NE(dlg, nullptr);
    Record(dlg);
    ModuleHarness::Click(dlg, CVplayDlg::IDC_PLAY);
    ASSERT_EQ(steps.size(), 3u);
    EXPECT_EQ(steps[0].level, 80);
    EXPECT_EQ(steps[1].level, 120);
    EXPECT_EQ(steps[2].level, 120);
    EXPECT_EQ(steps[2].text, "  Frame dimensions\t : 16x24\r\n  Sequence length\t : Unknown\r\n"
                             "  Frame number     \t : 3\r\n");
    // The play ended at the end of the series: the next one starts again at frame 1.
    EXPECT_EQ(doc->m_nSeqFrame, 0);
    steps.clear();
    ModuleHarness::Click(dlg, CVplayDlg::IDC_PLAY);
    ASSERT_EQ(steps.size(), 3u);
    EXPECT_EQ(steps[0].level, 80);
}

TEST_F(VplayFixture, CancelClearsTheDocumentPointer)
{
    CVplayDlg *dlg = Open(WriteLevels(h.Dir(), "levels", 16, 16, 1));
    ModuleHarness::Click(dlg, IDCANCEL);
    EXPECT_EQ(doc->m_pVplayDlg, nullptr);
}

} // namespace

} // namespace vplay_test
