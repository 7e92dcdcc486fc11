// The H.264 decoder dialog on stream documents: its pages and their controls, Apply with the result
// text and the document's titles, the questions between pictures, every view in its window, the save
// file (checked by ffmpeg) written again by a second Apply, a run error that keeps what was shown, and
// opening streams as documents.
#include "modules/module_harness.h"

#include "h264/support/h264_stream_writer.h"
#include "modules/keyboard_user.h"
#include "support/layout_checks.h"

#include "h264/support/picture_model.h"
#include "h264/support/run_streams.h"
#include "h264dec/ui/h264dec_dlg.h"
#include "h264dec/ui/h264dec_pages.h"
#include "image/cdib.h"
#include "platform/keypoll.h"
#include "platform/messages.h"
#include "shell/dib_doc.h"
#include "shell/dib_frame.h"
#include "shell/doc_commands.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <gtest/gtest.h>

#include <cstdio>

namespace h264dec_dlg_test { // one namespace per test file: a folder compiles as one source

using zntest::ModuleHarness;

namespace {

using h264test::IbbpStream;
using zn::MsgAnswer;

std::vector<unsigned char> Bytes(const std::vector<uint8_t> &v)
{
    return std::vector<unsigned char>(v.begin(), v.end());
}

struct H264decFixture : ::testing::Test
{
    ModuleHarness h;
    zn::MessageRecorder boxes;
    CDibDoc *doc = nullptr;

    void SetUp() override
    {
        RegisterH264DecoderModule();
        // The file the encoder leaves in the user's folder; the decoder needs it.
        ASSERT_FALSE(h264test::WriteLeakyBucketFile(h.Dir().Path()).empty());
    }
    void TearDown() override
    {
        zn::SetKeyPoller(nullptr);
        SetH264decSaveDialogHook(nullptr);
    }
    CH264decDlg *Open(const std::vector<uint8_t> &stream, const std::string &name = "clip.264")
    {
        doc = h.OpenStream(name, Bytes(stream));
        EXPECT_NE(doc, nullptr);
        return doc ? h.Open<CH264decDlg>(doc, zn::cmd::kH264Decoder) : nullptr;
    }
    std::string Result(CH264decDlg *dlg) { return ModuleHarness::ResultText(dlg, CH264decDlg::IDC_RESULTS); }
    std::string Title() { return doc->m_pMainFrame->windowTitle().toStdString(); }
};

const std::string kSummary4 = "Number of Frames Decoded\t: 4\r\n\tI: 1;    P: 1;    B: 2";

TEST_F(H264decFixture, PagesComeInTabOrderWithTheirControlsAndFirstStates)
{
    CH264decDlg *dlg = Open(IbbpStream(false));
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(dlg->windowTitle().toStdString(), "H.264 Decoder: clip");
    EXPECT_EQ(doc->m_pH264decDlg, dlg);
    EXPECT_EQ(dlg->IDD, 291);
    for (int id :
         {CH264decDlg::IDC_GROUP, CH264decDlg::IDC_TAB, CH264decDlg::IDC_APPLY, CH264decDlg::IDC_RESULTS, 2})
        EXPECT_NE(zn::FindControl(dlg, id), nullptr) << id;
    const struct
    {
        const char *label;
        int idd;
        std::vector<int> ids;
    } tabs[] = {{"Decoder Step", 305, {2073, 2074}},
                {"Input Stream", 302, {2067, 2068}},
                {"Motion Vectors", 303, {2076, 2077, 2078}},
                {"Intra Prediction", 306, {2080, 2081, 2082}},
                {"Block Division", 304, {2071, 2072, 2075}},
                {"MB Bits Usage", 307, {2084, 2085, 2086, 2087, 2088}},
                {"Save", 301, {2065}}};
    CXTabCtrl *tab = dlg->TabCtrl();
    ASSERT_EQ(tab->GetItemCount(), 7);
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(tab->GetTabText(i).toStdString(), tabs[i].label);
        auto *page = dynamic_cast<CModulePage *>(tab->GetPage(i));
        ASSERT_NE(page, nullptr);
        EXPECT_EQ(page->IDD(), tabs[i].idd);
        EXPECT_EQ(page->GetOwner(), dlg);
        for (int id : tabs[i].ids)
            EXPECT_NE(page->GetDlgItem(id), nullptr) << tabs[i].label << " " << id;
    }
    // All frames at once, every view off, "Colored" checked, overlay "None".
    for (int id : {2074, 2068, 2077, 2081, 2082, 2072, 2085, 2086})
        EXPECT_TRUE(ModuleHarness::IsChecked(dlg, id)) << id;
    for (int id : {2073, 2067, 2076, 2078, 2080, 2071, 2075, 2084, 2087, 2088})
        EXPECT_FALSE(ModuleHarness::IsChecked(dlg, id)) << id;
    auto *save = zn::FindControl<QPushButton>(dlg, 2065);
    ASSERT_NE(save, nullptr);
    EXPECT_EQ(save->text().toStdString(), "Save Decoded H.264 As ...");

    // The bits page sets every state again after each click.
    ModuleHarness::Click(dlg, 2084);
    ModuleHarness::Click(dlg, 2087);
    EXPECT_TRUE(dlg->Choices().bits && dlg->Choices().bits_bdiv && !dlg->Choices().bits_mv);
    ModuleHarness::Click(dlg, 2088);
    EXPECT_TRUE(ModuleHarness::IsChecked(dlg, 2088));
    EXPECT_FALSE(ModuleHarness::IsChecked(dlg, 2087));
    EXPECT_FALSE(ModuleHarness::IsChecked(dlg, 2086));
    EXPECT_TRUE(dlg->Choices().bits_mv && !dlg->Choices().bits_bdiv);
    ModuleHarness::Click(dlg, 2086);
    EXPECT_FALSE(dlg->Choices().bits_mv || dlg->Choices().bits_bdiv);

    // Cancel hides the dialog and clears the document's pointer; the document attaching does nothing.
    dlg->SendMessage(WM_DOCUMENT_ATTACHED);
    dlg->OnCancel();
    EXPECT_EQ(doc->m_pH264decDlg, nullptr);
    EXPECT_FALSE(dlg->isVisible());
}

// Every title the document's window takes, in order.
class TitleRecorder : public QObject
{
public:
    explicit TitleRecorder(QWidget *window) : m_window(window) { window->installEventFilter(this); }
    ~TitleRecorder() override { m_window->removeEventFilter(this); }
    std::vector<std::string> titles;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_window && event->type() == QEvent::WindowTitleChange)
            titles.push_back(m_window->windowTitle().toStdString());
        return false;
    }

private:
    QWidget *m_window;
};

TEST_F(H264decFixture, ApplyShowsThePicturesInTheDocumentAndTheTextInTheResultBox)
{
    CH264decDlg *dlg = Open(IbbpStream(false));
    TitleRecorder titles(doc->m_pMainFrame);
    ModuleHarness::Click(dlg, CH264decDlg::IDC_APPLY);
    // Output order I0 B1 B2 P3: the picture number as it stands when each picture goes out, then the
    // frame counter of that output.
    const std::vector<std::string> wantTitles = {"clip - Frame #1(I) --> #1", "clip - Frame #2(B) --> #2",
                                                 "clip - Frame #2(B) --> #3", "clip - Frame #2(P) --> #4"};
    EXPECT_EQ(titles.titles, wantTitles);
    const std::string text = Result(dlg);
    EXPECT_EQ(text.rfind("Display Order\t\t: 1\r\n", 0), 0u) << text;
    EXPECT_EQ(text.substr(text.size() - kSummary4.size()), kSummary4);
    EXPECT_EQ(text.find("Max MB Bits"), std::string::npos);
    EXPECT_EQ(Title(), "clip - Frame #2(P) --> #4");
    EXPECT_EQ(dlg->m_nFrameCounter, 5);
    // No view chosen: no result window, no legend.
    EXPECT_EQ(doc->m_pResultFrameA, nullptr);
    EXPECT_EQ(doc->m_pResultFrameB, nullptr);
    EXPECT_EQ(doc->m_pResultChain, nullptr);
    EXPECT_EQ(doc->m_pResultFrameD, nullptr);
    EXPECT_EQ(doc->m_pLegendFrame, nullptr);
    EXPECT_EQ(boxes.Count(), 0u);
    EXPECT_EQ(dlg->m_sLeakyBucketPath.toStdString(), h.Dir().Path() + "H264LeakyBucketParam.cfg");
    EXPECT_EQ(dlg->m_sInputPath.toStdString(), h.ImagePath());
}

TEST_F(H264decFixture, EveryViewOpensItsWindowWithItsCaption)
{
    CH264decDlg *dlg = Open(IbbpStream(true));
    for (int id : {2067, 2076, 2078, 2080, 2071, 2084, 2088})
        ModuleHarness::Click(dlg, id);
    ModuleHarness::Click(dlg, CH264decDlg::IDC_APPLY);
    ASSERT_NE(doc->m_pResultFrameA, nullptr);
    ASSERT_NE(doc->m_pResultFrameB, nullptr);
    ASSERT_NE(doc->m_pResultChain, nullptr);
    ASSERT_NE(doc->m_pResultFrameD, nullptr);
    ASSERT_NE(doc->m_pLegendFrame, nullptr);
    EXPECT_EQ(ModuleHarness::Caption(doc->m_pResultFrameA), "Processing Stream ( clip #4(B) )");
    EXPECT_EQ(ModuleHarness::Caption(doc->m_pResultFrameB), "Block Division ( clip #4(B) )");
    EXPECT_EQ(ModuleHarness::Caption(doc->m_pResultChain), "Mot./Pred. Vectors ( clip #4(B) )");
    EXPECT_EQ(ModuleHarness::Caption(doc->m_pResultFrameD), "MB Bits Usage ( clip #4(B) )");
    EXPECT_EQ(ModuleHarness::Caption(doc->m_pLegendFrame), "Legend");
    EXPECT_EQ(ModuleHarness::ImageName(doc->m_pResultFrameD), "H264_clip_BITS");
    EXPECT_EQ(ModuleHarness::ImageName(doc->m_pLegendFrame), "H264_clip__LEGEND");
    // The legend of the vectors with intra prediction and of the bits: 36 + 26 rows.
    EXPECT_EQ(ModuleHarness::Image(doc->m_pLegendFrame)->GetHeight(), 62 + 26);
    const std::string text = Result(dlg);
    EXPECT_NE(text.find("\r\nMax MB Bits Usage\t\t= "), std::string::npos);
    // The legend and the four views stand beside and below the picture, none over another.
    EXPECT_EQ(zntest::OverlappingResultWindows(doc), "");

    // Turning the views off closes their windows at the next Apply.
    for (int id : {2068, 2077, 2081, 2072, 2085})
        ModuleHarness::Click(dlg, id);
    ModuleHarness::Click(dlg, CH264decDlg::IDC_APPLY);
    EXPECT_EQ(doc->m_pResultFrameA, nullptr);
    EXPECT_EQ(doc->m_pResultChain, nullptr);
    EXPECT_EQ(doc->m_pResultFrameD, nullptr);
    EXPECT_EQ(doc->m_pLegendFrame, nullptr);
}

TEST_F(H264decFixture, StepBoxesKeepTheLastAnswerAndAKeyPressAnsweredNoStops)
{
    CH264decDlg *dlg = Open(IbbpStream(false, 3, 2, 2));
    ModuleHarness::Click(dlg, 2073); // frame by frame
    EXPECT_TRUE(dlg->Choices().frame_by_frame);
    std::vector<bool> presses = {false, false, true};
    size_t polls = 0;
    zn::SetKeyPoller([&] { return polls < presses.size() && presses[polls++]; });
    boxes.Script({MsgAnswer::Yes, MsgAnswer::Cancel, MsgAnswer::No});
    ModuleHarness::Click(dlg, CH264decDlg::IDC_APPLY);
    const std::vector<std::string> want = {
        "Decode frame 1 in bitstream\n(Cancel to continue automatically)",
        "Decode frame 2 in bitstream\n(Cancel to continue automatically)",
        "H.264 Decoder interrupted by User\nContinue with rest of sequence?"};
    EXPECT_EQ(boxes.Texts(), want);
    const std::string text = Result(dlg);
    const std::string summary = "Number of Frames Decoded\t: 3\r\n\tI: 1;    P: 1;    B: 1";
    EXPECT_EQ(text.substr(text.size() - summary.size()), summary);
    // The stored P picture still went out after B1.
    EXPECT_EQ(Title(), "clip - Frame #2(P) --> #3");
}

// The name typed into the save dialog and the Enter that answers each step box are no reason to ask
// whether to stop; a key pressed while the pictures are decoded is.
TEST_F(H264decFixture, OnlyAKeyPressedWhileDecodingAsksToStop)
{
    CH264decDlg *dlg = Open(IbbpStream(false));
    ASSERT_NE(dlg, nullptr);
    const std::string question = "H.264 Decoder interrupted by User\nContinue with rest of sequence?";
    zntest::ExpectKeyQuestionOnlyForKeysOfTheRun(
        question,
        [&](zntest::KeyboardUser &user) {
            SetH264decSaveDialogHook([&](const H264decSaveRequest &) {
                user.TypeFileName(QStringLiteral("typed.yuv"));
                return QString::fromStdString(h.Dir().File("typed.yuv"));
            });
            ModuleHarness::Click(dlg, 2065);
        },
        [&] { ModuleHarness::Click(dlg, CH264decDlg::IDC_APPLY); });

    zntest::KeyboardUser user;
    ModuleHarness::Click(dlg, 2073); // frame by frame
    ModuleHarness::Click(dlg, CH264decDlg::IDC_APPLY);
    EXPECT_EQ(user.Count(question), 0u);
    EXPECT_EQ(user.Count("Decode frame 2 in bitstream\n(Cancel to continue automatically)"), 1u);
}

TEST_F(H264decFixture, TheSaveFileIsReplacedByASecondApplyAndReadsBackThroughFfmpeg)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    ZN_REQUIRE_TOOL("md5sum");
    const std::vector<uint8_t> stream = IbbpStream(false, 3, 2, 2);
    CH264decDlg *dlg = Open(stream);
    // The name keeps its capitals.
    const std::string path = h.Dir().File("Decoded Clip.YUV");
    std::string proposed;
    SetH264decSaveDialogHook([&](const H264decSaveRequest &r) {
        proposed = r.initialName.toStdString() + "|" + r.title.toStdString() + "|" + r.filter.toStdString() +
                   "|" + r.initialDir.toStdString();
        return QString::fromStdString(path);
    });
    ModuleHarness::Click(dlg, CH264decSaveDlg::IDC_SAVE);
    EXPECT_EQ(proposed, "clip(H264Decoded).yuv|Save the Decoded H.264 Sequence as ...|Raw YUV Image Sequence "
                        "(*.yuv)|*.yuv|||" +
                            h.Dir().Path());
    EXPECT_EQ(dlg->m_bSaveOn, 1);
    EXPECT_EQ(dlg->m_sSavePath.toStdString(), path);
    ModuleHarness::Click(dlg, CH264decDlg::IDC_APPLY);
    ModuleHarness::Click(dlg, CH264decDlg::IDC_APPLY);
    const size_t frame = 48 * 32 * 3 / 2;
    ASSERT_EQ(zntest::ReadFileBytes(path).size(), 7 * frame);
    const std::vector<unsigned char> header = zntest::ReadFileBytes(h.Dir().File("Decoded Clip.hdr"));
    const std::string hdr(header.begin(), header.end());
    EXPECT_EQ(hdr.rfind("/* Header generated by Zantho H.264 Decoder Module\n", 0), 0u) << hdr;
    EXPECT_NE(hdr.find("\n32 "), std::string::npos);
    EXPECT_NE(hdr.find("\n48 "), std::string::npos);
    EXPECT_NE(hdr.find("\n7 "), std::string::npos);

    // ffmpeg reads the pictures back as raw video; their digest is that of the decoded pictures.
    const h264test::DecodeRunResult ref = h264test::DecodeRun(stream);
    std::vector<unsigned char> decoded;
    for (const h264test::Picture &p : ref.sink->output)
        for (const auto *plane : {&p.y, &p.u, &p.v})
            for (int s : *plane)
                decoded.push_back(static_cast<unsigned char>(s));
    const std::string raw = h.Dir().File("decoded.raw");
    ASSERT_TRUE(zntest::WriteFileBytes(raw, decoded));
    std::string ours, theirs;
    ASSERT_EQ(zntest::Run("md5sum " + zntest::ShellQuote(raw), &ours), 0);
    ASSERT_EQ(zntest::Run("ffmpeg -v error -f rawvideo -pix_fmt yuv420p -s 48x32 -i " +
                              zntest::ShellQuote(path) + " -f md5 -",
                          &theirs),
              0);
    EXPECT_EQ(theirs.substr(0, 4), "MD5=");
    EXPECT_EQ(theirs.substr(4, 32), ours.substr(0, 32));
}

TEST_F(H264decFixture, ARunErrorKeepsWhatWasShownAndSaved)
{
    // After four pictures, a spare picture whose area the decoder cannot read ends the run.
    std::vector<uint8_t> stream = IbbpStream(false);
    h264test::BitWriter w;
    for (int v : {0, 0, 0, 3}) // target frame, one spare picture, its frame, area indicator 3
        w.ue(static_cast<uint32_t>(v));
    h264test::Append(stream,
                     h264test::NalUnit(0, NALU_TYPE_SEI, h264test::SeiRbsp({{8, h264test::Payload(w)}})));
    const std::vector<uint8_t> more = IbbpStream(false);
    stream.insert(stream.end(), more.begin(), more.end());
    CH264decDlg *dlg = Open(stream);
    const std::string path = h.Dir().File("out.yuv");
    SetH264decSaveDialogHook([&](const H264decSaveRequest &) { return QString::fromStdString(path); });
    ModuleHarness::Click(dlg, CH264decSaveDlg::IDC_SAVE);
    ModuleHarness::Click(dlg, CH264decDlg::IDC_APPLY);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Wrong ref_area_indicator 3!\n"});
    EXPECT_EQ(Title(), "clip - Frame #2(B) --> #3");
    EXPECT_EQ(zntest::ReadFileBytes(path).size(), 3u * 48 * 32 * 3 / 2);
    const std::vector<unsigned char> header = zntest::ReadFileBytes(h.Dir().File("out.hdr"));
    EXPECT_NE(std::string(header.begin(), header.end()).find("\n3 "), std::string::npos);
    // The dialog stays usable.
    boxes.Clear();
    ModuleHarness::Click(dlg, CH264decDlg::IDC_APPLY);
    EXPECT_EQ(boxes.Count(), 1u);
}

// A stream that changes its picture size (a second stream with its own parameter sets after the
// first): the document, its window, the views and the legend take each size in turn.
TEST_F(H264decFixture, TheDocumentAndTheViewsFollowASizeChange)
{
    std::vector<uint8_t> stream = IbbpStream(false);
    const std::vector<uint8_t> large = IbbpStream(true, 20, 15);
    stream.insert(stream.end(), large.begin(), large.end());
    CH264decDlg *dlg = Open(stream);
    for (int id : {2067, 2071}) // processing stream and block division
        ModuleHarness::Click(dlg, id);
    CDibFrame *window = doc->m_pMainFrame;
    EXPECT_EQ(window->height() - window->BorderY(), 32);
    ModuleHarness::Click(dlg, CH264decDlg::IDC_APPLY);
    EXPECT_EQ(boxes.Count(), 0u) << boxes.Texts()[0];
    const std::string text = Result(dlg);
    const std::string summary = "Number of Frames Decoded\t: 8\r\n\tI: 2;    P: 2;    B: 4";
    EXPECT_EQ(text.substr(text.size() - summary.size()), summary);
    EXPECT_EQ(doc->m_pDib->GetWidth(), 320);
    EXPECT_EQ(doc->m_pDib->GetHeight(), 240);
    EXPECT_EQ(window->height() - window->BorderY(), 240);
    EXPECT_GE(window->width() - window->BorderX(), 320);
    for (CDibFrame *view : {doc->m_pResultFrameA, doc->m_pResultFrameB}) {
        ASSERT_NE(view, nullptr);
        EXPECT_EQ(ModuleHarness::Image(view)->GetWidth(), 320);
        EXPECT_EQ(ModuleHarness::Image(view)->GetHeight(), 240);
    }
    // The legend was placed below the small window before the run; it moves with the grown window
    // (as low as window B, which is placed by the same rule).
    ASSERT_NE(doc->m_pLegendFrame, nullptr);
    EXPECT_EQ(doc->m_pLegendFrame->y(), doc->m_pResultFrameB->y());
}

// The leaky-bucket file can go between the opening and an Apply: the run ends with the message, before
// anything is decoded, and the document keeps its picture.
TEST_F(H264decFixture, WithoutTheLeakyBucketFileApplyEndsWithItsMessage)
{
    CH264decDlg *dlg = Open(IbbpStream(false));
    const std::string buckets = h.Dir().File("H264LeakyBucketParam.cfg");
    ASSERT_EQ(std::remove(buckets.c_str()), 0);
    const std::vector<int> before = ModuleHarness::Greys(doc->m_pDib);
    ModuleHarness::Click(dlg, CH264decDlg::IDC_APPLY);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Error open file " + buckets + " \n"});
    EXPECT_EQ(Result(dlg), "");
    EXPECT_EQ(Title(), "clip");
    EXPECT_EQ(ModuleHarness::Greys(doc->m_pDib), before);
    // Nor does a stream open as a document.
    boxes.Clear();
    EXPECT_EQ(h.OpenStream("other.264", Bytes(IbbpStream(true))), nullptr);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Error open file " + buckets + " \n"});
    // Once the encoder has left the file again, Apply decodes.
    ASSERT_FALSE(h264test::WriteLeakyBucketFile(h.Dir().Path()).empty());
    boxes.Clear();
    ModuleHarness::Click(dlg, CH264decDlg::IDC_APPLY);
    EXPECT_EQ(boxes.Count(), 0u);
    const std::string text = Result(dlg);
    EXPECT_EQ(text.substr(text.size() - kSummary4.size()), kSummary4);
}

TEST_F(H264decFixture, BetweenPicturesTheDocumentStaysAndApplyStartsNoSecondRun)
{
    CH264decDlg *dlg = Open(IbbpStream(false));
    CDibFrame *window = doc->m_pMainFrame;
    int polls = 0;
    zn::SetKeyPoller([&] {
        if (polls++ == 0) {
            window->close();
            ModuleHarness::Click(dlg, CH264decDlg::IDC_APPLY);
        }
        return false;
    });
    ModuleHarness::Click(dlg, CH264decDlg::IDC_APPLY);
    EXPECT_EQ(polls, 3);
    ASSERT_EQ(doc->m_pMainFrame, window);
    const std::string text = Result(dlg);
    EXPECT_EQ(text.substr(text.size() - kSummary4.size()), kSummary4);
    EXPECT_EQ(text.find("Number of Frames Decoded"), text.rfind("Number of Frames Decoded"));
    // Once the run is over the window closes as usual.
    const size_t open = CDibDoc::Documents().size();
    window->close();
    EXPECT_EQ(CDibDoc::Documents().size(), open - 1);
}

TEST_F(H264decFixture, StreamsOpenAsDocumentsOrAreRefusedWithoutOne)
{
    doc = h.OpenStream("clip.264", Bytes(IbbpStream(false)));
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(doc->m_nDocType, DOC_H264);
    EXPECT_EQ(Title(), "clip");
    EXPECT_EQ(doc->m_pDib->GetWidth(), 48);
    const size_t open = CDibDoc::Documents().size();

    std::vector<uint8_t> three = IbbpStream(false);
    three.erase(three.begin());
    EXPECT_EQ(h.OpenStream("three.264", Bytes(three)), nullptr);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Selected file is not an H.264 file"});
    std::vector<uint8_t> final = IbbpStream(false);
    final[5] = 77; // profile_idc of the final standard's Main profile
    boxes.Clear();
    EXPECT_EQ(h.OpenStream("main.264", Bytes(final)), nullptr);
    ASSERT_EQ(boxes.Count(), 1u);
    EXPECT_NE(boxes.Texts()[0].find("profile_idc 77"), std::string::npos);
    EXPECT_EQ(CDibDoc::Documents().size(), open);
}

} // namespace

namespace {

TEST_F(H264decFixture, AnX264StreamOpensNoDocument)
{
    ZN_REQUIRE_TOOL("x264");
    ZN_REQUIRE_TOOL("ffmpeg");
    const std::string yuv = h.Dir().File("in.yuv"), x264 = h.Dir().File("x264.264");
    ASSERT_EQ(
        zntest::Run("ffmpeg -v error -f lavfi -i testsrc=size=64x48:rate=25 -frames:v 2 -pix_fmt yuv420p -f "
                    "rawvideo " +
                    zntest::ShellQuote(yuv)),
        0);
    ASSERT_EQ(zntest::Run("x264 --quiet --input-res 64x48 --fps 25 -o " + zntest::ShellQuote(x264) + " " +
                          zntest::ShellQuote(yuv) + " 2>/dev/null"),
              0);
    const size_t open = CDibDoc::Documents().size();
    EXPECT_EQ(CDibDoc::OpenDocumentFile(QString::fromStdString(x264)), nullptr);
    ASSERT_EQ(boxes.Count(), 1u);
    EXPECT_NE(boxes.Texts()[0].find("final standard's syntax"), std::string::npos) << boxes.Texts()[0];
    EXPECT_EQ(CDibDoc::Documents().size(), open);
}

} // namespace

} // namespace h264dec_dlg_test
