// The MPEG decoder dialog on streams ffmpeg makes: the stream information and the picture-type list,
// pacing on a fake clock, the questions between frames, the frames in the document's window, the YUV
// save read back by ffmpeg, and the wireless channel page with its simulator dialog.
#include "modules/module_harness.h"

#include "modules/keyboard_user.h"

#include "image/cdib.h"
#include "image/yuv_convert.h"
#include "modules/common/file_dialog.h"
#include "mpeg/channel/wireless_channel_dlg.h"
#include "mpeg/mpgdec/decode_stream.h"
#include "mpeg/mpgdec/field_stream.h"
#include "mpeg/mpgdec/mpgdec_dlg.h"
#include "mpeg/mpgdec/mpgdec_pages.h"
#include "mpeg/mpgdec/mpgdec_register.h"
#include "mpeg/support/fake_clock.h"
#include "platform/keypoll.h"
#include "platform/messages.h"
#include "platform/paths.h"
#include "shell/dib_doc.h"
#include "shell/dib_frame.h"
#include "shell/doc_commands.h"
#include "shell/shell_fixture.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QtTest/QTest>
#include <gtest/gtest.h>

namespace mpgdec_dlg_test { // one namespace per test file: a folder compiles as one source

using zntest::ModuleHarness;

namespace {

std::string Question(int n)
{
    return "Decode frame " + std::to_string(n) + " in bitstream\n(Cancel to continue automatically)";
}

// Sets the sequence headers' bit rate, VBV size and constrained flag (the fields between the frame
// rate and the matrix flags), which ffmpeg chooses itself.
void PatchSequenceHeaders(const std::string &path, int bitRateValue, int vbv, int constrained)
{
    auto b = zntest::ReadFileBytes(path);
    for (size_t i = 0; i + 12 <= b.size(); ++i) {
        if (b[i] != 0 || b[i + 1] != 0 || b[i + 2] != 1 || b[i + 3] != 0xB3)
            continue;
        const uint32_t old =
            (uint32_t{b[i + 8]} << 24) | (uint32_t{b[i + 9]} << 16) | (b[i + 10] << 8) | b[i + 11];
        const uint32_t v = (static_cast<uint32_t>(bitRateValue) << 14) | (1u << 13) |
                           (static_cast<uint32_t>(vbv) << 3) | (static_cast<uint32_t>(constrained) << 2) |
                           (old & 3u);
        for (int k = 0; k < 4; ++k)
            b[i + 8 + k] = static_cast<unsigned char>(v >> (24 - 8 * k));
    }
    zntest::WriteFileBytes(path, b);
}

struct MpgdecFixture : ::testing::Test
{
    void SetUp() override
    {
        RegisterMpegDecoderModule();
        CMpgdecDlg::g_bFieldOverlayWarned = false;
    }
    void TearDown() override
    {
        zn::SetKeyPoller(nullptr);
        SetModuleFileDialogHook(nullptr);
    }
    // An ffmpeg stream of the test pattern in the scratch folder.
    std::string Stream(const std::string &file, int frames, const std::string &args, int w = 176, int h = 144)
    {
        const std::string path = h_.Dir().File(file);
        const std::string cmd = "ffmpeg -v error -y -f lavfi -i testsrc2=size=" + std::to_string(w) + "x" +
                                std::to_string(h) + ":rate=25 -frames:v " + std::to_string(frames) + " " +
                                args + " " + zntest::ShellQuote(path);
        EXPECT_EQ(zntest::Run(cmd), 0) << cmd;
        return path;
    }
    CMpgdecDlg *Open(const std::string &path)
    {
        doc = CDibDoc::OpenDocumentFile(QString::fromStdString(path));
        EXPECT_NE(doc, nullptr);
        return doc ? h_.Open<CMpgdecDlg>(doc, zn::cmd::kMpegDecoder) : nullptr;
    }
    // Each completed picture polls the keys once: note the window title then, and press a key at the
    // polls listed.
    void Record(std::vector<int> pressAt = {})
    {
        zn::SetKeyPoller([this, pressAt] {
            titles.push_back(doc->m_pMainFrame->windowTitle().toStdString());
            return std::find(pressAt.begin(), pressAt.end(), static_cast<int>(titles.size())) !=
                   pressAt.end();
        });
    }
    std::string Description() const { return doc->MainView()->m_sDescription.toStdString(); }

    zn::MessageRecorder messages;
    zntest::FakeFrameClock clock;
    ModuleHarness h_;
    CDibDoc *doc = nullptr;
    std::vector<std::string> titles;
};

// The letters of a result or view text after its header.
std::string Letters(const std::string &text)
{
    const std::string head = "Sequence of decoded frame types:\r\n";
    const size_t at = text.find(head);
    return at == std::string::npos ? std::string() : text.substr(at + head.size());
}

TEST_F(MpgdecFixture, CifStreamInformationListAndPacing)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    const std::string path = Stream("cif.m1v", 30, "-c:v mpeg1video -bf 2 -g 12 -q:v 6", 352, 288);
    PatchSequenceHeaders(path, 2875, 20, 1);
    CMpgdecDlg *dlg = Open(path);
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(dlg->windowTitle().toStdString(), "Mpeg 1/2 Decoder: cif");
    EXPECT_EQ(doc->m_pDib->GetBitRate(), 1150);
    Record();
    ModuleHarness::Click(dlg, CMpgdecDlg::IDC_APPLY);
    const std::string result = ModuleHarness::ResultText(dlg, CMpgdecDlg::IDC_RESULTS);
    EXPECT_EQ(result.substr(0, result.find(" sg")), "Frame dimensions      :  288x352\r\n"
                                                    "Bit rate                       :  1.150 Mbit/sec\r\n"
                                                    "Picture rate                :  25 frames/sec\r\n"
                                                    "VBV buffer                 :  40 kByte\r\n"
                                                    "Parameters                :  Constrained\r\n"
                                                    "Mpeg version             :  MPEG-1\r\n"
                                                    "Motion vectors           : Half pel\r\n"
                                                    "Stream type                : Video\r\n"
                                                    "\r\nSequence of decoded frame types:\r\n");
    // Three groups of pictures, each announced before its I picture; 30 letters in coded order, a
    // line break after the 24th.
    const std::string letters = Letters(result);
    std::string plain;
    int groups = 0;
    for (size_t i = 0; i < letters.size(); ++i) {
        if (letters.compare(i, 3, " sg") == 0) {
            ++groups;
            EXPECT_EQ(letters[i + 3], 'I') << letters;
            i += 2;
        } else if (letters.compare(i, 2, "\r\n") == 0) {
            EXPECT_EQ(plain.size(), 24u) << letters;
            ++i;
        } else {
            plain += letters[i];
        }
    }
    EXPECT_EQ(groups, 3);
    EXPECT_EQ(plain.size(), 30u);
    EXPECT_EQ(plain.find_first_not_of("IPB"), std::string::npos) << plain;
    // Every picture is shown for 50 ms (the fake clock stands still between frames).
    EXPECT_EQ(clock.sleeps, std::vector<int64_t>(30, 50));
    ASSERT_EQ(titles.size(), 30u);
    // The last frame of the stream is its last reference picture.
    const std::vector<std::string> types = zntest::FfprobeTypes(path);
    ASSERT_EQ(types.size(), 30u);
    const std::string last = "30_" + types.back() + " (last)";
    EXPECT_EQ(dlg->FrameTitle(), last);
    EXPECT_EQ(doc->m_pMainFrame->windowTitle().toStdString(), "cif_" + last);
    EXPECT_EQ(Description(), dlg->ViewText() + "\r\n\r\nFrame number\t\t: 30\r\nPicture type\t\t: " +
                                 types.back() + " (last)");
    EXPECT_EQ(Letters(dlg->ViewText()), letters);
    EXPECT_TRUE(messages.Texts().empty());
}

TEST_F(MpgdecFixture, SixtyFramesBreakTheListAndCutTheView)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    CMpgdecDlg *dlg = Open(Stream("sixty.m2v", 60, "-c:v mpeg2video -bf 0 -g 300 -q:v 8 -b:v 0"));
    ASSERT_NE(dlg, nullptr);
    ModuleHarness::Click(dlg, CMpgdecDlg::IDC_APPLY);
    const std::string result = ModuleHarness::ResultText(dlg, CMpgdecDlg::IDC_RESULTS);
    EXPECT_NE(result.find("Mpeg version             :  MPEG-2\r\nCoded picture types   : Frames\r\n"),
              std::string::npos);
    EXPECT_EQ(Letters(result),
              " sgI" + std::string(23, 'P') + "\r\n" + std::string(25, 'P') + "\r\n" + std::string(11, 'P'));
    EXPECT_EQ(Letters(dlg->ViewText()),
              " sgI" + std::string(23, 'P') + "\r\n" + std::string(24, 'P') + " .... <etc>");
    EXPECT_EQ(dlg->ViewText().find("Mpeg version"), std::string::npos);
    EXPECT_EQ(doc->m_pMainFrame->windowTitle().toStdString(), "sixty_60_P (last)");
}

TEST_F(MpgdecFixture, FrameByFrameCancelGoesOnAutomaticallyUntilTheNextPass)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    CMpgdecDlg *dlg = Open(Stream("fbf.m1v", 8, "-c:v mpeg1video -bf 0 -g 4 -q:v 6"));
    ASSERT_NE(dlg, nullptr);
    ModuleHarness::Click(dlg, CMpgdecVideoDlg::kLoopIds[2]); // 5 loops
    ModuleHarness::Click(dlg, CMpgdecVideoDlg::IDC_FRAME_BY_FRAME);
    EXPECT_EQ(dlg->m_bFrameByFrame, 1);
    EXPECT_EQ(dlg->m_nLoops, 1); // frame by frame runs once
    dlg->m_nLoops = 2;
    Record();
    // Yes, Cancel (no more questions this pass); the next pass asks again: No ends everything.
    messages.Script({zn::MsgAnswer::Yes, zn::MsgAnswer::Cancel, zn::MsgAnswer::No});
    ModuleHarness::Click(dlg, CMpgdecDlg::IDC_APPLY);
    EXPECT_EQ(messages.Texts(), (std::vector<std::string>{Question(1), Question(2), Question(1)}));
    EXPECT_EQ(titles.size(), 8u);
    EXPECT_EQ(doc->m_pMainFrame->windowTitle().toStdString(), "fbf_8_P (last)");

    // Yes, Yes, No: two pictures decoded; the run stops without showing the last frame.
    messages.Clear();
    titles.clear();
    dlg->m_nLoops = 1;
    messages.Script({zn::MsgAnswer::Yes, zn::MsgAnswer::Yes, zn::MsgAnswer::No});
    ModuleHarness::Click(dlg, CMpgdecDlg::IDC_APPLY);
    EXPECT_EQ(messages.Count(), 3u);
    EXPECT_EQ(titles.size(), 2u);
    EXPECT_EQ(titles.back(), "fbf_1_I");
}

TEST_F(MpgdecFixture, KeyPressAsksAndNoStops)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    CMpgdecDlg *dlg = Open(Stream("keys.m1v", 10, "-c:v mpeg1video -bf 2 -q:v 6"));
    ASSERT_NE(dlg, nullptr);
    ModuleHarness::Click(dlg, CMpgdecVideoDlg::kLoopIds[1]); // 3 loops
    EXPECT_EQ(dlg->m_nLoops, 3);
    Record({2, 4});
    messages.Script({zn::MsgAnswer::Yes, zn::MsgAnswer::No});
    ModuleHarness::Click(dlg, CMpgdecDlg::IDC_APPLY);
    EXPECT_EQ(messages.Texts(),
              (std::vector<std::string>(2, "Decoding interrupted by User\nContinue decoding "
                                           "this Mpeg stream?")));
    EXPECT_EQ(titles.size(), 4u);
    // The stopped picture is not paced.
    EXPECT_EQ(clock.sleeps.size(), 3u);
    // Three whole passes when nobody presses a key.
    titles.clear();
    messages.Clear();
    Record();
    ModuleHarness::Click(dlg, CMpgdecDlg::IDC_APPLY);
    EXPECT_EQ(titles.size(), 30u);
    EXPECT_TRUE(messages.Texts().empty());
}

// The name typed into the Save page's file dialog and the Enter that answers each frame-by-frame box
// are no reason to ask whether to stop; a key pressed while the pictures are decoded is.
TEST_F(MpgdecFixture, OnlyAKeyPressedWhileDecodingAsksToStop)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    CMpgdecDlg *dlg = Open(Stream("typed.m1v", 4, "-c:v mpeg1video -bf 0 -q:v 6"));
    ASSERT_NE(dlg, nullptr);
    const std::string question = "Decoding interrupted by User\nContinue decoding this Mpeg stream?";
    zntest::ExpectKeyQuestionOnlyForKeysOfTheRun(
        question,
        [&](zntest::KeyboardUser &user) {
            SetModuleFileDialogHook([&](const ModuleFileRequest &) {
                user.TypeFileName(QStringLiteral("typed.yuv"));
                return QString::fromStdString(h_.Dir().File("typed.yuv"));
            });
            ModuleHarness::Click(dlg, CMpgdecSaveDlg::IDC_SAVE);
        },
        [&] { ModuleHarness::Click(dlg, CMpgdecDlg::IDC_APPLY); });

    zntest::KeyboardUser user;
    ModuleHarness::Click(dlg, CMpgdecVideoDlg::IDC_FRAME_BY_FRAME);
    ModuleHarness::Click(dlg, CMpgdecDlg::IDC_APPLY);
    EXPECT_EQ(user.Texts(), (std::vector<std::string>{Question(1), Question(2), Question(3), Question(4)}));
}

TEST_F(MpgdecFixture, ApplyPressedDuringARunIsIgnored)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    CMpgdecDlg *dlg = Open(Stream("again.m1v", 5, "-c:v mpeg1video -bf 0 -q:v 6"));
    ASSERT_NE(dlg, nullptr);
    int polls = 0;
    zn::SetKeyPoller([&] {
        if (++polls == 2)
            ModuleHarness::Click(dlg, CMpgdecDlg::IDC_APPLY); // windows take clicks between frames
        return false;
    });
    ModuleHarness::Click(dlg, CMpgdecDlg::IDC_APPLY);
    EXPECT_EQ(polls, 5);
    EXPECT_EQ(doc->m_pMainFrame->windowTitle().toStdString(), "again_5_P (last)");
    ModuleHarness::Click(dlg, CMpgdecDlg::IDC_APPLY);
    EXPECT_EQ(polls, 10);
}

TEST_F(MpgdecFixture, NoBFramesSkipsTheirDisplayQuestionsAndPauses)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    const std::string path = Stream("ibbp.m1v", 12, "-c:v mpeg1video -bf 2 -g 12 -q:v 6");
    const std::vector<std::string> types = zntest::FfprobeTypes(path);
    const int refs =
        static_cast<int>(std::count_if(types.begin(), types.end(), [](auto &t) { return t != "B"; }));
    ASSERT_LT(refs, 12);
    CMpgdecDlg *dlg = Open(path);
    ASSERT_NE(dlg, nullptr);
    ModuleHarness::Click(dlg, CMpgdecDisplayDlg::IDC_NO_B);
    EXPECT_EQ(dlg->m_bNoBFrames, 1);
    ModuleHarness::Click(dlg, CMpgdecVideoDlg::IDC_FRAME_BY_FRAME);
    Record();
    ModuleHarness::Click(dlg, CMpgdecDlg::IDC_APPLY);
    // Questions and pauses for the I and P pictures only; every picture still polls the keys.
    EXPECT_EQ(static_cast<int>(messages.Count()), refs);
    EXPECT_EQ(static_cast<int>(clock.sleeps.size()), refs);
    EXPECT_EQ(titles.size(), 12u);
    for (const std::string &t : titles)
        EXPECT_EQ(t.find("_B"), std::string::npos) << t;
    // The list still has the B letters.
    const std::string letters = Letters(ModuleHarness::ResultText(dlg, CMpgdecDlg::IDC_RESULTS));
    EXPECT_EQ(static_cast<int>(std::count(letters.begin(), letters.end(), 'B')), 12 - refs);
}

TEST_F(MpgdecFixture, FramesShowInColourOrGreyAndMatchFfmpeg)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    const std::string path = Stream("colour.m2v", 6, "-c:v mpeg2video -bf 1 -q:v 4");
    CMpgdecDlg *dlg = Open(path);
    ASSERT_NE(dlg, nullptr);
    ModuleHarness::Click(dlg, CMpgdecDlg::IDC_APPLY);
    const zntest::DecodedStream ours = zntest::DecodeMpegFile(path);
    ASSERT_EQ(ours.frames.size(), 6u);
    const zntest::DecodedFrame &f = ours.frames.back();
    const CDib &dib = *doc->m_pDib;
    ASSERT_EQ(dib.GetWidth(), 176);
    for (int y = 0; y < 144; y += 7)
        for (int x = 0; x < 176; x += 5) {
            uint8_t bgr[3];
            const size_t c = static_cast<size_t>(y / 2) * 88 + x / 2;
            YuvToBgr(f.y[static_cast<size_t>(y) * 176 + x], f.cb[c] - 128, f.cr[c] - 128, bgr);
            const uint8_t *p = dib.StoredRow(143 - y) + 3 * x;
            ASSERT_EQ(std::vector<uint8_t>(p, p + 3), std::vector<uint8_t>(bgr, bgr + 3)) << x << "," << y;
        }
    // Grey: the luminance, as ffmpeg decodes it.
    ModuleHarness::Click(dlg, CMpgdecDisplayDlg::IDC_COLOR);
    EXPECT_EQ(dlg->m_bColorDisplay, 0);
    ModuleHarness::Click(dlg, CMpgdecDlg::IDC_APPLY);
    const auto theirs = zntest::FfmpegFrames(path, "yuv420p", 176, 144);
    ASSERT_EQ(theirs.size(), 6u);
    std::vector<uint8_t> shown;
    for (int y = 0; y < 144; ++y)
        for (int x = 0; x < 176; ++x)
            shown.push_back(static_cast<uint8_t>(zntest::GreyAt(dib, x, y)));
    EXPECT_GE(zntest::LumaPsnr(shown, theirs.back(), shown.size()), 50.0);
}

TEST_F(MpgdecFixture, OutputModesShowPredictionAndDifference)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    const std::string path = Stream("modes.m1v", 5, "-c:v mpeg1video -bf 0 -q:v 6");
    CMpgdecDlg *dlg = Open(path);
    ASSERT_NE(dlg, nullptr);
    ModuleHarness::Click(dlg, CMpgdecOperationDlg::kModeIds[0]);
    EXPECT_TRUE(messages.Texts().empty());
    for (int mode : {2, 1}) {
        ModuleHarness::Click(dlg, CMpgdecOperationDlg::kModeIds[mode]);
        EXPECT_EQ(dlg->m_nOutputMode, mode);
        ModuleHarness::Click(dlg, CMpgdecDlg::IDC_APPLY);
        zntest::DecodeOptions o;
        o.outputMode = mode;
        const zntest::DecodedStream ours = zntest::DecodeMpegFile(path, o);
        ASSERT_EQ(ours.frames.size(), 5u);
        const zntest::DecodedFrame &f = ours.frames.back();
        uint8_t bgr[3];
        YuvToBgr(f.y[51 * 176 + 37], f.cb[25 * 88 + 18] - 128, f.cr[25 * 88 + 18] - 128, bgr);
        EXPECT_EQ(zntest::GreyAt(*doc->m_pDib, 37, 51), bgr[0]) << mode;
    }
    EXPECT_TRUE(messages.Texts().empty());
}

TEST_F(MpgdecFixture, OverlayDrawsVectorsFromMacroblockCentres)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    CMpgdecDlg *dlg = Open(Stream("vectors.m1v", 6, "-c:v mpeg1video -bf 0 -q:v 6"));
    ASSERT_NE(dlg, nullptr);
    ModuleHarness::Click(dlg, CMpgdecDisplayDlg::IDC_OVERLAY);
    EXPECT_EQ(dlg->m_bVectorOverlay, 1);
    ModuleHarness::Click(dlg, CMpgdecDlg::IDC_APPLY);
    const CDib &dib = *doc->m_pDib;
    int red = 0;
    for (int r = 0; r < 9; ++r)
        for (int c = 0; c < 11; ++c) {
            const uint8_t *p = dib.StoredRow(144 - 16 * r - 9) + 3 * (16 * c + 8);
            red += p[0] == 0 && p[1] == 0 && p[2] == 255;
        }
    // Every macroblock whose vector stays in the picture marks its centre.
    EXPECT_GT(red, 80);
    EXPECT_TRUE(messages.Texts().empty());
}

TEST_F(MpgdecFixture, YuvSaveServesOneApplyAndItsFirstPass)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    const std::string path = Stream("saved.m1v", 7, "-c:v mpeg1video -bf 2 -q:v 5");
    CMpgdecDlg *dlg = Open(path);
    ASSERT_NE(dlg, nullptr);
    std::vector<ModuleFileRequest> requests;
    const std::string yuv = h_.Dir().File("saved(MpegDecoded).yuv");
    SetModuleFileDialogHook([&](const ModuleFileRequest &r) {
        requests.push_back(r);
        return QString::fromStdString(yuv);
    });
    ModuleHarness::Click(dlg, CMpgdecSaveDlg::IDC_SAVE);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].title.toStdString(), "Save the Decoded MPEG Sequence as ...");
    EXPECT_EQ(requests[0].initialName.toStdString(), "saved(MpegDecoded)");
    EXPECT_EQ(requests[0].initialDir.toStdString(), h_.Dir().Path());
    EXPECT_EQ(requests[0].filter.toStdString(), "Raw YUV Image Sequence (*.yuv)|*.yuv||");
    EXPECT_FALSE(ModuleHarness::IsEnabled(dlg, CMpgdecSaveDlg::IDC_SAVE));
    ModuleHarness::Click(dlg, CMpgdecVideoDlg::kLoopIds[1]); // 3 loops
    Record();
    ModuleHarness::Click(dlg, CMpgdecDlg::IDC_APPLY);
    EXPECT_EQ(titles.size(), 21u);
    const size_t frameBytes = 176 * 144 * 3 / 2;
    EXPECT_EQ(zntest::ReadFileBytes(yuv).size(), 7 * frameBytes);
    EXPECT_TRUE(zn::FileExists(h_.Dir().File("saved(MpegDecoded).hdr")));
    // ffmpeg reads the file as raw 4:2:0 and finds its own decode of the stream in it, frame by frame.
    std::string out;
    ASSERT_EQ(
        zntest::Run("ffmpeg -v error -f rawvideo -pix_fmt yuv420p -s 176x144 -i " + zntest::ShellQuote(yuv) +
                        " -i " + zntest::ShellQuote(path) +
                        " -lavfi '[0:v]setpts=N/(25*TB)[a];[1:v]setpts=N/(25*TB)[b];[a][b]psnr=stats_file=-'"
                        " -f null - 2>/dev/null",
                    &out),
        0);
    int frames = 0;
    for (size_t at = out.find("psnr_y:"); at != std::string::npos;
         at = out.find("psnr_y:", at + 1), ++frames) {
        const std::string v = out.substr(at + 7, out.find(' ', at) - at - 7);
        EXPECT_TRUE(v == "inf" || std::stod(v) >= 50.0) << v;
    }
    EXPECT_EQ(frames, 7) << out;
    // The next Apply writes nothing: the file served the Apply it was chosen for.
    std::remove(yuv.c_str());
    ModuleHarness::Click(dlg, CMpgdecDlg::IDC_APPLY);
    EXPECT_FALSE(zn::FileExists(yuv));
    EXPECT_FALSE(ModuleHarness::IsEnabled(dlg, CMpgdecSaveDlg::IDC_SAVE));
}

TEST_F(MpgdecFixture, UnwritableYuvFileIsReportedAndTheRunGoesOn)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    CMpgdecDlg *dlg = Open(Stream("nowrite.m1v", 3, "-c:v mpeg1video -q:v 5"));
    ASSERT_NE(dlg, nullptr);
    SetModuleFileDialogHook(
        [&](const ModuleFileRequest &) { return QString::fromStdString(h_.Dir().File("no/x.yuv")); });
    ModuleHarness::Click(dlg, CMpgdecSaveDlg::IDC_SAVE);
    Record();
    ModuleHarness::Click(dlg, CMpgdecDlg::IDC_APPLY);
    EXPECT_EQ(messages.Texts(),
              std::vector<std::string>{"(OnMpgDecApply) Error creating YUV file. Decoded file not "
                                       "saved.\nDo you have proper write permission?"});
    EXPECT_EQ(titles.size(), 3u);
}

TEST_F(MpgdecFixture, AMissingOrDamagedStreamEndsTheApply)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    const std::string path = Stream("gone.m1v", 4, "-c:v mpeg1video -q:v 5");
    CMpgdecDlg *dlg = Open(path);
    ASSERT_NE(dlg, nullptr);
    ModuleHarness::Click(dlg, CMpgdecVideoDlg::kLoopIds[3]); // 10 loops: each message comes once
    std::remove(path.c_str());
    ModuleHarness::Click(dlg, CMpgdecDlg::IDC_APPLY);
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"OnMpgdecApply: Mpeg file not found"});
    messages.Clear();
    zntest::WriteFileBytes(path, std::vector<unsigned char>(5000, 0x55));
    ModuleHarness::Click(dlg, CMpgdecDlg::IDC_APPLY);
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"MpegDecoder - This is not a valid Mpeg file"});
    // Cancel lets the document forget its dialog.
    ModuleHarness::Click(dlg, IDCANCEL);
    EXPECT_EQ(doc->m_pMpgdecDlg, nullptr);
}

TEST_F(MpgdecFixture, FieldStreamListsFieldsAndWarnsOnceAboutTheOverlay)
{
    const std::string path = h_.Dir().File("fields.m2v");
    ASSERT_TRUE(zntest::WriteFileBytes(
        path, zntest::FieldCodedStream(64, 64, 3, [](int f, int field, int c, int x, int y) {
            return c ? 128 : 40 + 50 * field + 20 * f + x + y;
        })));
    CMpgdecDlg *dlg = Open(path);
    ASSERT_NE(dlg, nullptr);
    ModuleHarness::Click(dlg, CMpgdecDisplayDlg::IDC_OVERLAY);
    Record();
    ModuleHarness::Click(dlg, CMpgdecDlg::IDC_APPLY);
    const std::string warning =
        "Sorry: Motion field overlay is not\r\nsupported for Mpeg-2 field pictures\r\n (too "
        "messy for sensible display)";
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{warning});
    const std::string result = ModuleHarness::ResultText(dlg, CMpgdecDlg::IDC_RESULTS);
    EXPECT_NE(result.find("Coded picture types   : Fields\r\n"), std::string::npos) << result;
    // One letter per field; the keys are polled and the frames paced once per frame.
    const std::string head = "\r\nSequence of decoded field types:\r\n";
    ASSERT_NE(result.find(head), std::string::npos) << result;
    EXPECT_EQ(result.substr(result.find(head) + head.size()), "IIIIII");
    EXPECT_EQ(titles.size(), 3u);
    EXPECT_EQ(doc->m_pMainFrame->windowTitle().toStdString(), "fields_3_I (last)");
    // No vector lines over the picture: frame line 8 is line 4 of the last frame's top field, in the
    // block at x = 8.
    EXPECT_EQ(zntest::GreyAt(*doc->m_pDib, 8, 8), 40 + 20 * 2 + 8);
    EXPECT_EQ(zntest::GreyAt(*doc->m_pDib, 8, 9), 40 + 50 + 20 * 2 + 8);
    // The warning comes once per program run.
    messages.Clear();
    ModuleHarness::Click(dlg, CMpgdecDlg::IDC_APPLY);
    EXPECT_TRUE(messages.Texts().empty());
}

// --- the wireless channel page -------------------------------------------------------------------

// Runs the channel page's simulation with fn driving the channel dialog, which then ends with the
// button given (Decode Stream, Cancel).
void Simulate(CMpgdecDlg *dlg, const std::function<void(CWirelessChannelDlg *)> &fn, int endWith)
{
    bool ran = false;
    zntest::WhenModal<CWirelessChannelDlg>([&](CWirelessChannelDlg *d) {
        ran = true;
        fn(d);
        ModuleHarness::Click(d, endWith);
    });
    ModuleHarness::Click(dlg, CMpgdecChannelDlg::IDC_SIMULATE);
    EXPECT_TRUE(ran);
}

void SetEdit(CWirelessChannelDlg *d, int id, const QString &text)
{
    auto *e = zn::FindControl<QLineEdit>(d, id);
    ASSERT_NE(e, nullptr);
    e->selectAll();
    QTest::keyClicks(e, text);
    QTest::keyClick(e, Qt::Key_Return);
}

TEST_F(MpgdecFixture, ChannelDialogStartsOnHiperlanWithRandomErrors)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    CMpgdecDlg *dlg = Open(Stream("chan.m1v", 4, "-c:v mpeg1video -q:v 5 -b:v 400k"));
    ASSERT_NE(dlg, nullptr);
    Simulate(
        dlg,
        [&](CWirelessChannelDlg *d) {
            EXPECT_EQ(d->windowTitle().toStdString(), "Channel and Protocol Model for Wireless Transmission");
            EXPECT_EQ(d->m_nBitRate, doc->m_pDib->GetBitRate());
            EXPECT_EQ(d->m_sInputPath, doc->m_pDib->m_path);
            EXPECT_EQ(d->m_sOutputPath, h_.Dir().File("chan_WRLS.mpg"));
            for (int id : {CWirelessChannelDlg::IDC_HIPERLAN, CWirelessChannelDlg::kSchemeIds[0],
                           CWirelessChannelDlg::IDC_RANDOM})
                EXPECT_TRUE(ModuleHarness::IsChecked(d, id)) << id;
            EXPECT_FALSE(ModuleHarness::IsChecked(d, CWirelessChannelDlg::IDC_ALIGN));
            EXPECT_FALSE(ModuleHarness::IsEnabled(d, CWirelessChannelDlg::IDC_DECODE));
            for (int id : {CWirelessChannelDlg::kSchemeIds[0], CWirelessChannelDlg::IDC_GPRS_GROUP,
                           CWirelessChannelDlg::IDC_FADE_PROB, CWirelessChannelDlg::IDC_GOOD_GIVEN_BAD,
                           CWirelessChannelDlg::kFadeLabelIds[2]})
                EXPECT_FALSE(ModuleHarness::IsEnabled(d, id)) << id;
            EXPECT_EQ(zn::FindControl<QLineEdit>(d, CWirelessChannelDlg::IDC_USERS)->text(), "1");
            EXPECT_EQ(zn::FindControl<QLineEdit>(d, CWirelessChannelDlg::IDC_ERROR_PROB)->text(), "1e-05");
            EXPECT_EQ(zn::FindControl<QLineEdit>(d, CWirelessChannelDlg::IDC_FADE_PROB)->text(), "0.01");
            // GPRS and Gilbert-Elliot switch their groups on.
            ModuleHarness::Click(d, CWirelessChannelDlg::IDC_GPRS);
            ModuleHarness::Click(d, CWirelessChannelDlg::kSchemeIds[3]);
            ModuleHarness::Click(d, CWirelessChannelDlg::IDC_GILBERT);
            ModuleHarness::Click(d, CWirelessChannelDlg::IDC_ALIGN);
            EXPECT_EQ(d->m_bHiperlan, 0);
            EXPECT_EQ(d->m_nCodingScheme, 4);
            EXPECT_EQ(d->m_nChannelModel, 2);
            EXPECT_EQ(d->m_bAlign, 1);
            EXPECT_FALSE(ModuleHarness::IsEnabled(d, CWirelessChannelDlg::IDC_USERS));
            for (int id : {CWirelessChannelDlg::kSchemeIds[0], CWirelessChannelDlg::IDC_FADE_PROB,
                           CWirelessChannelDlg::kFadeLabelIds[0]})
                EXPECT_TRUE(ModuleHarness::IsEnabled(d, id)) << id;
            // Values outside their ranges are refused with the framework's messages.
            ModuleHarness::Click(d, CWirelessChannelDlg::IDC_HIPERLAN);
            SetEdit(d, CWirelessChannelDlg::IDC_USERS, "0");
            EXPECT_EQ(messages.Texts(),
                      std::vector<std::string>{"Please enter an integer between 1 and 1000."});
            EXPECT_EQ(d->m_nUsers, 1);
            messages.Clear();
            SetEdit(d, CWirelessChannelDlg::IDC_USERS, "12");
            EXPECT_EQ(d->m_nUsers, 12);
            SetEdit(d, CWirelessChannelDlg::IDC_FADE_PROB, "0.7");
            EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Please enter a number between 0 and 0.5."});
            SetEdit(d, CWirelessChannelDlg::IDC_FADE_PROB, "0.25");
            EXPECT_DOUBLE_EQ(d->m_dFadeErrorProb, 0.25);
        },
        IDCANCEL);
    // Cancel changes nothing.
    EXPECT_EQ(doc->m_pDib->m_path, h_.Dir().File("chan.m1v"));
    EXPECT_EQ(dlg->windowTitle().toStdString(), "Mpeg 1/2 Decoder: chan");
}

TEST_F(MpgdecFixture, SimulatedCopyIsDecodedUntilTheOriginalIsReloaded)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    const std::string original = Stream("wrls.m1v", 6, "-c:v mpeg1video -bf 2 -q:v 5 -b:v 300k");
    CMpgdecDlg *dlg = Open(original);
    ASSERT_NE(dlg, nullptr);
    // Reload before any simulation: nothing to go back to.
    ModuleHarness::Click(dlg, CMpgdecChannelDlg::IDC_RELOAD);
    EXPECT_EQ(doc->m_pDib->m_path, original);
    const std::string first = h_.Dir().File("wrls_WRLS.mpg");
    std::string report;
    Simulate(
        dlg,
        [&](CWirelessChannelDlg *d) {
            ModuleHarness::Click(d, CWirelessChannelDlg::IDC_APPLY);
            report = ModuleHarness::ResultText(d, CWirelessChannelDlg::IDC_RESULT);
            EXPECT_TRUE(ModuleHarness::IsEnabled(d, CWirelessChannelDlg::IDC_DECODE));
        },
        CWirelessChannelDlg::IDC_DECODE);
    EXPECT_EQ(report.rfind("Number of bits processed\t\t\t: " +
                               std::to_string(8 * zntest::ReadFileBytes(original).size()) + "\r\n",
                           0),
              0u)
        << report;
    EXPECT_NE(report.find("      Packet loss due to contention\t\t: 0"), std::string::npos);
    EXPECT_EQ(doc->m_pDib->m_path, first);
    EXPECT_EQ(doc->m_pDib->m_title, "wrls_WRLS");
    EXPECT_EQ(dlg->windowTitle().toStdString(), "Mpeg 1/2 Decoder: wrls (Corrupted)");
    ASSERT_TRUE(zn::FileExists(first));
    // The next Apply decodes the received copy.
    Record();
    ModuleHarness::Click(dlg, CMpgdecDlg::IDC_APPLY);
    EXPECT_FALSE(titles.empty());
    EXPECT_EQ(doc->m_pMainFrame->windowTitle().toStdString().rfind("wrls_WRLS_", 0), 0u);
    // A second simulation works on the copy and names its output after it.
    Simulate(
        dlg, [](CWirelessChannelDlg *d) { ModuleHarness::Click(d, CWirelessChannelDlg::IDC_APPLY); },
        CWirelessChannelDlg::IDC_DECODE);
    EXPECT_EQ(doc->m_pDib->m_path, h_.Dir().File("wrls_WRLS_WRLS.mpg"));
    EXPECT_EQ(doc->m_pDib->m_title, "wrls_WRLS_WRLS");
    EXPECT_EQ(dlg->windowTitle().toStdString(), "Mpeg 1/2 Decoder: wrls (Corrupted)");
    // Reload Original, then simulate again: the original is read and the first name written again.
    ModuleHarness::Click(dlg, CMpgdecChannelDlg::IDC_RELOAD);
    EXPECT_EQ(doc->m_pDib->m_path, original);
    EXPECT_EQ(doc->m_pDib->m_title, "wrls");
    EXPECT_EQ(dlg->windowTitle().toStdString(), "Mpeg 1/2 Decoder: wrls");
    std::remove(first.c_str());
    Simulate(
        dlg,
        [&](CWirelessChannelDlg *d) {
            EXPECT_EQ(d->m_sInputPath, original);
            ModuleHarness::Click(d, CWirelessChannelDlg::IDC_APPLY);
        },
        CWirelessChannelDlg::IDC_DECODE);
    EXPECT_TRUE(zn::FileExists(first));
    EXPECT_EQ(doc->m_pDib->m_path, first);
}

TEST_F(MpgdecFixture, VariableRateStreamIsSimulatedAtOneMegabit)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    const std::string path = Stream("vbr.m1v", 3, "-c:v mpeg1video -q:v 5");
    PatchSequenceHeaders(path, 0x3FFFF, 20, 0);
    CMpgdecDlg *dlg = Open(path);
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(doc->m_pDib->GetBitRate(), -1);
    // The text shown while the simulation runs, caught when its missing input is reported.
    std::string during;
    std::remove(path.c_str());
    Simulate(
        dlg,
        [&](CWirelessChannelDlg *d) {
            const zn::MessageHandler previous = zn::SetMessageHandler([&](const zn::MessageRequest &) {
                during = ModuleHarness::ResultText(d, CWirelessChannelDlg::IDC_RESULT);
                return zn::MsgAnswer::Ok;
            });
            ModuleHarness::Click(d, CWirelessChannelDlg::IDC_APPLY);
            zn::SetMessageHandler(previous);
            EXPECT_EQ(d->m_nBitRate, 1000);
        },
        IDCANCEL);
    EXPECT_EQ(during, "(Warning) MPEG file is VBR. Simulation will assume 1Mbit/sec CBR\r\n\r\n"
                      "Wait ... Simulating transmission of compressed video stream over HiperLAN\r\n"
                      "Compressed video stream has bandwidth of 1000 kbit/sec\r\n"
                      "Received (possibly corrupted) compressed video stream saved as:\r\n" +
                          h_.Dir().File("vbr_WRLS.mpg"));
}

} // namespace

} // namespace mpgdec_dlg_test
