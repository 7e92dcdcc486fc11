// The MPEG encoder dialog on a raw YUV document: the tab rules, the values its pages set, the save
// dialog, and runs that show every coded picture in the document's window and report it.
#include "modules/module_harness.h"

#include "modules/keyboard_user.h"

#include "image/cdib.h"
#include "image/yuv_convert.h"
#include "modules/common/file_dialog.h"
#include "mpeg/mpgdec/decode_stream.h"
#include "mpeg/mpgenc/encoder_support.h"
#include "mpeg/mpgenc/mpgenc_dlg.h"
#include "mpeg/mpgenc/mpgenc_pages.h"
#include "platform/keypoll.h"
#include "platform/messages.h"
#include "shell/dib_doc.h"
#include "shell/dib_frame.h"
#include "shell/doc_commands.h"

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <fstream>
#include <gtest/gtest.h>

namespace mpgenc_dlg_test { // one namespace per test file: a folder compiles as one source

using zntest::ModuleHarness;

namespace {

constexpr int kSaveAs = CMpgencFileDlg::IDC_SAVE_AS;

struct MpgencFixture : ::testing::Test
{
    void SetUp() override
    {
        RegisterMpegEncoderModule();
        oldHook = SetModuleFileDialogHook([this](const ModuleFileRequest &r) {
            requests.push_back(r);
            return answer;
        });
    }
    void TearDown() override
    {
        SetModuleFileDialogHook(oldHook);
        zn::SetKeyPoller(nullptr);
    }
    // A 4:2:0 sequence panned across the photograph, with its header, opened as a document.
    CMpgencDlg *Open(int width, int height, int frames)
    {
        const std::vector<zntest::Frame420> pan =
            zntest::MakeColourPan(h.Dir().Path(), width, height, frames, 3, 1, "camera", "", 500, 500);
        EXPECT_EQ(pan.size(), static_cast<size_t>(frames));
        const std::string path = h.Dir().File("pan.yuv");
        {
            std::ofstream out(path, std::ios::binary);
            for (const zntest::Frame420 &f : pan)
                out.write(reinterpret_cast<const char *>(f.data()), static_cast<std::streamsize>(f.size()));
            std::ofstream hdr(h.Dir().File("pan.hdr"));
            hdr << height << "\n" << width << "\n1\n2\n" << frames << "\n0\n";
        }
        doc = CDibDoc::OpenDocumentFile(QString::fromStdString(path));
        EXPECT_NE(doc, nullptr);
        return doc ? h.Open<CMpgencDlg>(doc, zn::cmd::kMpegEncoder) : nullptr;
    }
    bool TabEnabled(CMpgencDlg *dlg, int tab) const { return dlg->TabCtrl()->IsTabEnabled(tab); }
    std::vector<bool> Tabs(CMpgencDlg *dlg) const
    {
        std::vector<bool> t;
        for (int i = 0; i < 6; ++i)
            t.push_back(TabEnabled(dlg, i));
        return t;
    }
    // Names the output file through the save dialog.
    void SaveAs(CMpgencDlg *dlg, const std::string &name = "out.mpg")
    {
        answer = QString::fromStdString(h.Dir().File(name));
        ModuleHarness::Click(dlg->FilePage(), kSaveAs);
    }

    zn::MessageRecorder messages;
    ModuleHarness h;
    CDibDoc *doc = nullptr;
    QString answer;
    std::vector<ModuleFileRequest> requests;
    ModuleFileDialogHook oldHook;
};

TEST_F(MpgencFixture, OnlyTheFilePageUntilAFileIsNamedThenTheTabRules)
{
    CMpgencDlg *dlg = Open(64, 64, 2);
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(dlg->windowTitle().toStdString(), "Mpeg 1/2 Encoder: pan");
    const std::vector<bool> onlyFile = {true, false, false, false, false, false};
    EXPECT_EQ(Tabs(dlg), onlyFile);
    EXPECT_FALSE(ModuleHarness::IsEnabled(dlg, CMpgencDlg::IDC_APPLY));
    EXPECT_FALSE(ModuleHarness::IsEnabled(dlg->FilePage(), CMpgencFileDlg::IDC_MPEG1));
    EXPECT_FALSE(ModuleHarness::IsEnabled(dlg->FilePage(), CMpgencFileDlg::IDC_MPEG2));

    // A cancelled save dialog changes nothing.
    answer.clear();
    ModuleHarness::Click(dlg->FilePage(), kSaveAs);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_TRUE(requests[0].save);
    EXPECT_EQ(requests[0].title.toStdString(), "Save the Mpeg Video Stream As...");
    EXPECT_EQ(requests[0].initialName.toStdString(), "pan.mpg");
    EXPECT_EQ(requests[0].filter.toStdString(), "Mpeg File (*.mpg)|*.mpg||");
    EXPECT_EQ(requests[0].defaultSuffix.toStdString(), "mpg");
    EXPECT_EQ(requests[0].initialDir.toStdString(), h.Dir().Path());
    EXPECT_EQ(Tabs(dlg), onlyFile);
    EXPECT_FALSE(ModuleHarness::IsEnabled(dlg, CMpgencDlg::IDC_APPLY));

    // Named, as MPEG-1: rate, GOP and motion; the source and field/frame pages stay off.
    SaveAs(dlg);
    EXPECT_EQ(dlg->m_params.outputPath, h.Dir().File("out.mpg"));
    EXPECT_EQ(Tabs(dlg), (std::vector<bool>{true, true, true, true, false, false}));
    EXPECT_TRUE(ModuleHarness::IsEnabled(dlg, CMpgencDlg::IDC_APPLY));
    EXPECT_TRUE(ModuleHarness::IsEnabled(dlg->FilePage(), CMpgencFileDlg::IDC_MPEG2));

    // MPEG-2 opens the source page; an interlaced source opens the field/frame page and the field
    // order box; progressive closes both again and keeps their values.
    ModuleHarness::Click(dlg->FilePage(), CMpgencFileDlg::IDC_MPEG2);
    EXPECT_EQ(dlg->m_params.mpeg1, 0);
    EXPECT_EQ(Tabs(dlg), (std::vector<bool>{true, true, true, true, true, false}));
    QCheckBox *topFirst = dlg->FormatPage()->TopFirstBox();
    EXPECT_FALSE(topFirst->isEnabled());
    ModuleHarness::Click(dlg->FormatPage(), CMpgencFormatDlg::IDC_INTERLACED);
    EXPECT_EQ(dlg->m_params.progressive, 0);
    EXPECT_TRUE(TabEnabled(dlg, CMpgencDlg::kFieldFrameTab));
    EXPECT_TRUE(topFirst->isEnabled());
    ModuleHarness::Click(dlg->FormatPage(), CMpgencFormatDlg::IDC_TOP_FIRST);
    EXPECT_EQ(dlg->m_params.topFieldFirst, 0);
    ModuleHarness::Click(dlg->FormatPage(), CMpgencFormatDlg::IDC_PROGRESSIVE);
    EXPECT_FALSE(TabEnabled(dlg, CMpgencDlg::kFieldFrameTab));
    EXPECT_FALSE(topFirst->isEnabled());
    EXPECT_FALSE(topFirst->isChecked());
    EXPECT_EQ(dlg->m_params.topFieldFirst, 0);

    // Back to MPEG-1: both MPEG-2 pages close.
    ModuleHarness::Click(dlg->FilePage(), CMpgencFileDlg::IDC_MPEG1);
    EXPECT_EQ(Tabs(dlg), (std::vector<bool>{true, true, true, true, false, false}));
}

TEST_F(MpgencFixture, PagesSetTheParameters)
{
    CMpgencDlg *dlg = Open(64, 64, 2);
    ASSERT_NE(dlg, nullptr);
    SaveAs(dlg);
    // "I only" has no motion: the motion page closes, and opens again for any other GOP.
    const struct
    {
        int id, N, M;
        bool motion;
    } gops[] = {{1389, 1, 1, false}, {1390, 3, 3, true}, {1391, 12, 1, true},
                {1392, 3, 1, true},  {1393, 6, 3, true}, {2116, 12, 3, true}};
    for (const auto &g : gops) {
        ModuleHarness::Click(dlg->GopPage(), g.id);
        EXPECT_EQ(dlg->m_params.N, g.N) << g.id;
        EXPECT_EQ(dlg->m_params.M, g.M) << g.id;
        EXPECT_EQ(TabEnabled(dlg, CMpgencDlg::kMotionTab), g.motion) << g.id;
    }
    const std::pair<int, float> rates[] = {{1387, 128000.f},  {1394, 384000.f},  {1395, 768000.f},
                                           {1396, 1150000.f}, {1397, 2000000.f}, {1398, 3500000.f},
                                           {1399, 5000000.f}, {1400, 8000000.f}};
    for (const auto &[id, rate] : rates) {
        ModuleHarness::Click(dlg->RatePage(), id);
        EXPECT_EQ(dlg->m_params.bitRate, rate) << id;
    }
    const std::pair<int, int> motions[] = {{1391, 1},  {2114, 5},  {2115, 10},
                                           {1394, 15}, {2117, 20}, {1396, 31}};
    for (const auto &[id, motion] : motions) {
        ModuleHarness::Click(dlg->MotionPage(), id);
        EXPECT_EQ(dlg->m_params.maxMotion, motion) << id;
    }
    // Frame coding takes the boxes; field coding clears the flags and the boxes' say.
    CMpgencFieldFrameDlg *ff = dlg->FieldFramePage();
    ModuleHarness::Click(ff, CMpgencFieldFrameDlg::IDC_I);
    ModuleHarness::Click(ff, CMpgencFieldFrameDlg::IDC_B);
    EXPECT_EQ(dlg->m_params.frameDctI, 1);
    EXPECT_EQ(dlg->m_params.frameDctP, 0);
    EXPECT_EQ(dlg->m_params.frameDctB, 1);
    ModuleHarness::Click(ff, CMpgencFieldFrameDlg::IDC_FIELD);
    EXPECT_EQ(dlg->m_params.fieldPictures, 1);
    EXPECT_EQ(dlg->m_params.frameDctI + dlg->m_params.frameDctP + dlg->m_params.frameDctB, 0);
    EXPECT_FALSE(ModuleHarness::IsEnabled(ff, CMpgencFieldFrameDlg::IDC_I));
    ModuleHarness::Click(ff, CMpgencFieldFrameDlg::IDC_FRAME);
    EXPECT_EQ(dlg->m_params.fieldPictures, 0);
    EXPECT_EQ(dlg->m_params.frameDctI, 1);
    EXPECT_TRUE(ModuleHarness::IsEnabled(ff, CMpgencFieldFrameDlg::IDC_I));
}

TEST_F(MpgencFixture, ApplyShowsTheFramesInCodingOrderAndTheLastOneAsTheDecoderSeesIt)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    ZN_REQUIRE_PHOTO("camera");
    CMpgencDlg *dlg = Open(64, 48, 7);
    ASSERT_NE(dlg, nullptr);
    SaveAs(dlg);
    std::vector<std::string> titles;
    zn::SetKeyPoller([&] {
        titles.push_back(doc->m_pMainFrame->windowTitle().toStdString());
        return false;
    });
    ModuleHarness::Click(dlg, CMpgencDlg::IDC_APPLY);
    EXPECT_EQ(titles,
              (std::vector<std::string>{"pan_1 (coded)", "pan_4 (coded)", "pan_2 (coded)", "pan_3 (coded)",
                                        "pan_7 (coded)", "pan_5 (coded)", "pan_6 (coded)"}));
    EXPECT_TRUE(messages.Texts().empty());
    const std::string text = ModuleHarness::ResultText(dlg, CMpgencDlg::IDC_RESULTS);
    EXPECT_EQ(
        text.rfind(" Compressed frame\t:  7\r\n Actual frame num.\t:  6\r\n Picture type  \t:  B\r\n", 0), 0u)
        << text;

    // The document's picture is the last coded frame, display frame 6, as our decoder rebuilds it.
    const zntest::DecodedStream ours = zntest::DecodeMpegFile(h.Dir().File("out.mpg"));
    ASSERT_EQ(ours.frames.size(), 7u);
    const zntest::DecodedFrame &f = ours.frames[5];
    std::vector<uint8_t> expect(static_cast<size_t>(((3 * 64 + 3) & ~3) * 48));
    YuvToDib24(UnpaddedYuvPlanes(f.y.data(), f.cb.data(), f.cr.data(), 64, 48, 1), 64, 48, expect.data(),
               (3 * 64 + 3) & ~3);
    EXPECT_TRUE(std::equal(expect.begin(), expect.end(), doc->m_pDib->GetBits()));
    EXPECT_EQ(zntest::FfmpegErrors(h.Dir().File("out.mpg")), "");
}

// What a new user did: Save as..., a name typed and Enter, "Mpeg 2", Apply. The keys of the name are
// no reason to ask whether to stop; a key pressed while the frames are coded is.
TEST_F(MpgencFixture, OnlyAKeyPressedWhileCodingAsksToStop)
{
    CMpgencDlg *dlg = Open(64, 48, 4);
    ASSERT_NE(dlg, nullptr);
    zntest::ExpectKeyQuestionOnlyForKeysOfTheRun(
        "Encoding interrupted by User\nContinue encoding this sequence?",
        [&](zntest::KeyboardUser &user) {
            SetModuleFileDialogHook([&](const ModuleFileRequest &) {
                user.TypeFileName(QStringLiteral("out.mpg"));
                return QString::fromStdString(h.Dir().File("out.mpg"));
            });
            ModuleHarness::Click(dlg->FilePage(), kSaveAs);
            ModuleHarness::Click(dlg->FilePage(), CMpgencFileDlg::IDC_MPEG2);
        },
        [&] { ModuleHarness::Click(dlg, CMpgencDlg::IDC_APPLY); });
}

TEST_F(MpgencFixture, BottomFieldFirstReportsTheBottomFieldThenTheTop)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    ZN_REQUIRE_PHOTO("camera");
    CMpgencDlg *dlg = Open(64, 64, 2);
    ASSERT_NE(dlg, nullptr);
    SaveAs(dlg);
    ModuleHarness::Click(dlg->FilePage(), CMpgencFileDlg::IDC_MPEG2);
    ModuleHarness::Click(dlg->FormatPage(), CMpgencFormatDlg::IDC_INTERLACED);
    ModuleHarness::Click(dlg->FormatPage(), CMpgencFormatDlg::IDC_TOP_FIRST);
    ModuleHarness::Click(dlg->FieldFramePage(), CMpgencFieldFrameDlg::IDC_FIELD);
    std::vector<std::string> firstLines;
    QObject::connect(dlg->ResultBox(), &QPlainTextEdit::textChanged, [&] {
        const std::string t = dlg->ResultBox()->toPlainText().toStdString();
        firstLines.push_back(t.substr(0, t.find('\n')));
    });
    ModuleHarness::Click(dlg, CMpgencDlg::IDC_APPLY);
    EXPECT_TRUE(messages.Texts().empty());
    EXPECT_EQ(firstLines, (std::vector<std::string>{
                              " Compressed frame\t:  1 (bottom)", " Compressed frame \t:  1 (top)",
                              " Compressed frame\t:  2 (bottom)", " Compressed frame \t:  2 (top)"}));
}

} // namespace

} // namespace mpgenc_dlg_test
