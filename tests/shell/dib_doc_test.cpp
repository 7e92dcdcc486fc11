// The image document: type and reader by file name, opening and its failures, .seq stepping, the
// enabling rules of the module commands, one dialog per module, and closing.
#include "doc_fixture.h"

#include "platform/errors.h"
#include "platform/messages.h"
#include "platform/paths.h"
#include "shell/doc_commands.h"
#include "shell/module_dialog.h"
#include "shell/rd_database.h"

#include <QAction>
#include <QDialog>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <cstdio>
#include <fstream>
#include <set>

namespace dib_doc_test { // one namespace per test file: a folder compiles as one source

using namespace doctest;
using namespace zn::cmd;

namespace {
// Every module command of a document, in menu order.
constexpr int kModuleCommands[] = {kSubsampling,
                                   kPcm,
                                   kDpcm,
                                   kVq,
                                   kFractal,
                                   kDct,
                                   kJpeg,
                                   kSubband,
                                   kSpiht,
                                   kEzw,
                                   kJpeg2000,
                                   kVideoPlayer,
                                   kMotionEstimation,
                                   kMpegEncoder,
                                   kMpegDecoder,
                                   kH264Encoder,
                                   kH264Decoder,
                                   kStoreRD,
                                   kPlotRD,
                                   kTemplate};
} // namespace

TEST(DocType, FoundInTheFileNameOnly)
{
    const struct
    {
        const char *path;
        int type;
        DocReader reader;
    } rows[] = {
        {"/img/lena.bmp", DOC_STILL, DocReader::Bmp},
        {"/img/picture.TIF", DOC_STILL, DocReader::Tif},
        {"/img/picture.BMP.tif", DOC_STILL, DocReader::Bmp}, // ".bmp" is tested first
        {"/img/tennis.SEQ", DOC_SEQ, DocReader::Bmp},        // a .seq file is a BMP
        {"/v/a.mpg", DOC_MPEG, DocReader::Mpeg},
        {"/v/a.M1V", DOC_MPEG, DocReader::Mpeg},
        {"/v/a.m2v", DOC_MPEG, DocReader::Mpeg},
        {"/v/foreman.y", DOC_YUV, DocReader::Yuv},
        {"/v/foreman.YUV", DOC_YUV, DocReader::Yuv},
        {"/v/clip.264", DOC_H264, DocReader::H264},
        {"/v/clips.yuv/a.264", DOC_H264, DocReader::H264},
        {"/v/a.y/b.bmp", DOC_STILL, DocReader::Bmp}, // folders never decide the type
        {"/home/u/.yuv-stuff/a.bmp", DOC_STILL, DocReader::Bmp},
        {"/home/u/x.seq.d/a.tif", DOC_STILL, DocReader::Tif},
        {"/img/a.jpg", DOC_NONE, DocReader::None},
        {"/img.bmp/noextension", DOC_NONE, DocReader::None},
    };
    for (const auto &row : rows) {
        const DocTypeInfo info = DocTypeFromPath(row.path);
        EXPECT_EQ(info.type, row.type) << row.path;
        EXPECT_EQ(info.reader, row.reader) << row.path;
    }
}

class DibDocTest : public DocFixture
{
};

TEST_F(DibDocTest, OpensEachKindWithItsReader)
{
    zn::MessageRecorder rec;
    WriteBmp(m_dir.File("lena.bmp"), 64, 32, 90);
    WriteBmp8(m_dir.File("pal8.bmp"), 16, 16, 40);
    WriteBmp(m_dir.File("tennis.seq"), 32, 16, 10);
    {
        CDib tif;
        MakeGrey24(tif, 20, 10, [](int, int) { return 77; });
        ASSERT_TRUE(tif.SaveTifFile(m_dir.File("picture.TIF"), true));
    }
    {
        // 48 x 32, 4:2:0, two frames of Y = 200.
        std::ofstream(m_dir.File("clip.hdr")) << "32\n48\n1\n2\n2\n";
        std::vector<unsigned char> yuv(2 * (48 * 32 * 3 / 2), 128);
        std::fill(yuv.begin(), yuv.begin() + 48 * 32, 200);
        zntest::WriteFileBytes(m_dir.File("clip.yuv"), yuv);
    }
    const struct
    {
        const char *name;
        int type, w, h;
        bool hasRD;
    } rows[] = {
        {"lena.bmp", DOC_STILL, 64, 32, true},    {"pal8.bmp", DOC_STILL, 16, 16, true},
        {"picture.TIF", DOC_STILL, 20, 10, true}, {"tennis.seq", DOC_SEQ, 32, 16, false},
        {"clip.yuv", DOC_YUV, 48, 32, false},
    };
    for (const auto &row : rows) {
        CDibDoc *doc = CDibDoc::OpenDocumentFile(QString::fromStdString(m_dir.File(row.name)));
        ASSERT_NE(doc, nullptr) << row.name;
        EXPECT_EQ(doc->m_nDocType, row.type) << row.name;
        EXPECT_EQ(doc->m_pDib->GetWidth(), row.w) << row.name;
        EXPECT_EQ(doc->m_pDib->GetHeight(), row.h) << row.name;
        EXPECT_EQ(doc->m_pRDData != nullptr, row.hasRD) << row.name;
        EXPECT_EQ(doc->MainView()->GetDib(), doc->m_pDib) << row.name;
        EXPECT_EQ(CDibDoc::FromSubWindow(doc->m_pMainFrame), doc);
        EXPECT_EQ(doc->m_pMainFrame->windowTitle().toStdString(), zn::TitleBeforeFirstDot(row.name));
    }
    EXPECT_EQ(rec.Count(), 0u) << rec.Texts()[0];
}

TEST_F(DibDocTest, FailedOpensLeaveNoWindowAndSayWhy)
{
    zntest::WriteFileBytes(m_dir.File("a.jpg"), {0xFF, 0xD8, 0xFF});
    zntest::WriteFileBytes(m_dir.File("a.mpg"), {0, 0, 1, 0xB3});
    zntest::WriteFileBytes(m_dir.File("a.264"), {0, 0, 0, 1});
    zntest::WriteFileBytes(m_dir.File("bad.bmp"), {'B', 'M', 1, 2, 3});
    const struct
    {
        const char *name;
        const char *message; // a substring of the one message
    } rows[] = {
        {"a.jpg", "OnOpenDocument: Internal error, wrong document type"},
        {"a.mpg", "MPEG-1/2 streams cannot be opened"},
        {"a.264", "H.264 streams cannot be opened"},
        {"missing.bmp", "Failed to open document."},
        {"bad.bmp", "Sorry"},
    };
    for (const auto &row : rows) {
        zn::MessageRecorder rec;
        EXPECT_EQ(CDibDoc::OpenDocumentFile(QString::fromStdString(m_dir.File(row.name))), nullptr)
            << row.name;
        ASSERT_EQ(rec.Count(), 1u) << row.name;
        EXPECT_NE(rec.Texts()[0].find(row.message), std::string::npos) << rec.Texts()[0];
        EXPECT_EQ(SubWindowCount(), 0) << row.name;
        EXPECT_TRUE(CDibDoc::Documents().empty()) << row.name;
    }
}

TEST_F(DibDocTest, RegisteredStreamOpenerOpensTypes3And5)
{
    zntest::WriteFileBytes(m_dir.File("a.m2v"), {0, 0, 1, 0xB3});
    CDibDoc::RegisterStreamOpener(DOC_MPEG, [](CDib *dib, const std::string &) {
        dib->Create24(32, 16);
        dib->m_title = "a";
        return dib->m_nBlockSize;
    });
    CDibDoc *doc = CDibDoc::OpenDocumentFile(QString::fromStdString(m_dir.File("a.m2v")));
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(doc->m_nDocType, DOC_MPEG);
    EXPECT_EQ(doc->m_pRDData, nullptr);
    // A decoder that aborts its run fails the open and leaves nothing behind.
    CDibDoc::RegisterStreamOpener(DOC_MPEG, [](CDib *, const std::string &) -> int {
        zn::ShowMessage("Selected file is not an MPEG file");
        throw zn::RunAborted("bad stream", 1);
    });
    zn::MessageRecorder rec;
    EXPECT_EQ(CDibDoc::OpenDocumentFile(QString::fromStdString(m_dir.File("a.m2v"))), nullptr);
    EXPECT_EQ(rec.Texts(), std::vector<std::string>{"Selected file is not an MPEG file"});
    EXPECT_EQ(SubWindowCount(), 1);
    CDibDoc::RegisterStreamOpener(DOC_MPEG, nullptr);
}

// tennis.SEQ in its own letter case, frames in the folder tennis/, and a name ending in digits.
TEST_F(DibDocTest, SeqSteppingWrapsToFrameOne)
{
    for (const std::string base : {"Tennis", "clip01"}) {
        const std::string folder = m_dir.File(base);
        ASSERT_EQ(std::system(("mkdir -p " + zntest::ShellQuote(folder)).c_str()), 0);
        WriteBmp(m_dir.File(base + ".SEQ"), 16, 8, 11);
        WriteBmp(folder + "/" + base + "2.bmp", 16, 8, 22);
        WriteBmp(folder + "/" + base + "3.bmp", 16, 8, 33);
        zn::MessageRecorder rec;
        CDibDoc *doc = CDibDoc::OpenDocumentFile(QString::fromStdString(m_dir.File(base + ".SEQ")));
        ASSERT_NE(doc, nullptr);
        EXPECT_EQ(doc->m_nDocType, DOC_SEQ);
        EXPECT_EQ(doc->m_sSeqPath, folder);
        EXPECT_EQ(doc->m_sSeqName, base);
        EXPECT_EQ(doc->m_sSeqFrameName, base + "2");
        EXPECT_EQ(doc->m_nSeqFrame, 2);
        EXPECT_EQ(TopLeft(doc->m_pDib), 11);
        // frame 2, frame 3, end (the shown frame stays), frame 1 again, frame 2
        const int expectResult[] = {1, 1, 0, 1, 1};
        const int expectPixel[] = {22, 33, 33, 11, 22};
        for (int k = 0; k < 5; ++k) {
            EXPECT_EQ(doc->LoadNextSequenceFrame(), expectResult[k]) << base << " step " << k;
            EXPECT_EQ(TopLeft(doc->m_pDib), expectPixel[k]) << base << " step " << k;
        }
        EXPECT_EQ(rec.Count(), 0u);
    }
}

// Every module command against every kind of document.
TEST(ModuleEnabling, TableByTypeAndSize)
{
    const std::set<int> allStill = {kSubsampling, kPcm,     kDpcm,  kVq,  kFractal,  kDct,
                                    kJpeg,        kSubband, kSpiht, kEzw, kJpeg2000, kTemplate};
    const struct
    {
        int type, w, h;
        std::set<int> enabled;
    } rows[] = {
        {DOC_STILL, 256, 256, allStill},
        {DOC_STILL, 256, 200, {kPcm, kDpcm, kVq, kDct, kJpeg, kSubband, kSpiht, kJpeg2000, kTemplate}},
        {DOC_STILL, 255, 256, {kPcm, kDpcm, kJpeg, kSpiht, kJpeg2000, kTemplate}},
        // 1 is a power of two but odd
        {DOC_STILL, 1, 1, {kSubsampling, kFractal, kEzw, kPcm, kDpcm, kJpeg, kSpiht, kJpeg2000, kTemplate}},
        {DOC_SEQ, 352, 288, {kVideoPlayer, kMotionEstimation}},
        {DOC_SEQ, 351, 288, {kVideoPlayer}},
        {DOC_MPEG, 352, 288, {kMpegDecoder}},
        {DOC_YUV, 176, 144, {kVideoPlayer, kMotionEstimation, kMpegEncoder, kH264Encoder}},
        {DOC_H264, 176, 144, {kH264Decoder}},
    };
    for (const auto &row : rows)
        for (int id : kModuleCommands) {
            if (id == kStoreRD || id == kPlotRD)
                continue; // below
            EXPECT_EQ(IsModuleCommandEnabled(id, row.type, row.w, row.h, false, 0, false),
                      row.enabled.count(id) > 0)
                << "type " << row.type << " " << row.w << "x" << row.h << " command " << id;
        }
    // The R(D) commands: Store needs an open R(D) module, Plot the storing dialog.
    EXPECT_FALSE(IsModuleCommandEnabled(kStoreRD, DOC_STILL, 8, 8, true, 0, true));
    EXPECT_TRUE(IsModuleCommandEnabled(kStoreRD, DOC_STILL, 8, 8, true, 1, false));
    EXPECT_FALSE(IsModuleCommandEnabled(kStoreRD, DOC_STILL, 8, 8, false, 1, false));
    EXPECT_FALSE(IsModuleCommandEnabled(kStoreRD, DOC_YUV, 8, 8, true, 1, false));
    EXPECT_FALSE(IsModuleCommandEnabled(kPlotRD, DOC_STILL, 8, 8, true, 1, false));
    EXPECT_TRUE(IsModuleCommandEnabled(kPlotRD, DOC_STILL, 8, 8, true, 0, true));
    EXPECT_FALSE(IsModuleCommandEnabled(kPlotRD, DOC_SEQ, 8, 8, true, 0, true));
}

TEST_F(DibDocTest, SecondCommandActivatesTheOpenDialog)
{
    CDibDoc::RegisterModuleDialog(kPcm, StandInFactory("PCM: ", "PCM"));
    CDibDoc::RegisterModuleDialog(kDct, StandInFactory("Discrete Cosine Transform: ", "DCT"));
    CDibDoc *doc = OpenBmp("lena.bmp", 256, 256);
    ASSERT_NE(doc, nullptr);
    StandInModule::made = StandInModule::attached = 0;
    EXPECT_FALSE(doc->IsCommandEnabled(kStoreRD));
    doc->OnCommand(kPcm);
    QDialog *first = doc->m_pPcmDlg;
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->windowTitle(), "PCM: lena");
    EXPECT_TRUE(first->isVisible());
    EXPECT_TRUE(doc->m_pRDData->m_bModuleActive[doc->m_pRDData->GetModuleIndex("PCM")]);
    EXPECT_TRUE(doc->IsCommandEnabled(kStoreRD));
    EXPECT_EQ(StandInModule::attached, 0); // PCM is not told
    first->hide();
    doc->OnCommand(kPcm);
    EXPECT_EQ(StandInModule::made, 1);
    EXPECT_EQ(doc->m_pPcmDlg, first);
    EXPECT_TRUE(first->isVisible());
    // DCT is told once the document is attached; its second command makes nothing new.
    doc->OnCommand(kDct);
    doc->OnCommand(kDct);
    EXPECT_EQ(StandInModule::made, 2);
    EXPECT_EQ(StandInModule::attached, 1);
    EXPECT_EQ(doc->m_pDctDlg->windowTitle(), "Discrete Cosine Transform: lena");
    // Cancel clears the pointer and, with the document open, deactivates the R(D) module.
    static_cast<CModuleDialog *>(doc->m_pPcmDlg)->OnCancel();
    EXPECT_EQ(doc->m_pPcmDlg, nullptr);
    EXPECT_FALSE(doc->m_pRDData->m_bModuleActive[doc->m_pRDData->GetModuleIndex("PCM")]);
    EXPECT_TRUE(doc->IsCommandEnabled(kStoreRD)); // DCT is still open
    // A module without a connected dialog is enabled by its rule and opens nothing.
    EXPECT_TRUE(doc->IsCommandEnabled(kDpcm));
    doc->OnCommand(kDpcm);
    EXPECT_EQ(doc->m_pDpcmDlg, nullptr);
    CDibDoc::RegisterModuleDialog(kPcm, nullptr);
    CDibDoc::RegisterModuleDialog(kDct, nullptr);
}

// Closing the document's window takes every window and dialog of the document with it: result
// windows, the open dialog, a dialog cancelled earlier (only hidden) and Image Information windows.
TEST_F(DibDocTest, ClosingTheDocumentWindowLeavesNothingBehind)
{
    CDibDoc::RegisterModuleDialog(kPcm, StandInFactory("PCM: ", "PCM"));
    CDibDoc::RegisterModuleDialog(kDct, StandInFactory("DCT: ", "DCT"));
    CDibDoc *doc = OpenBmp("lena.bmp", 64, 64);
    CDibDoc *other = OpenBmp("other.bmp", 32, 32);
    ASSERT_TRUE(doc && other);
    // What the store is told while the document closes: nothing.
    std::vector<std::string> deactivated;
    const ModuleDialogHooks saved = GetModuleDialogHooks();
    GetModuleDialogHooks().setModuleInactive = [&](CDibDoc *, const std::string &key) {
        deactivated.push_back(key);
    };
    doc->OnCommand(kPcm);
    doc->OnCommand(kDct);
    QPointer<QDialog> pcm = doc->m_pPcmDlg;
    QPointer<QDialog> dct = doc->m_pDctDlg;
    static_cast<CModuleDialog *>(dct.data())->OnCancel(); // cancelled: hidden, pointer cleared
    EXPECT_EQ(doc->m_pDctDlg, nullptr);
    EXPECT_EQ(deactivated, std::vector<std::string>{"DCT"});
    doc->m_pFinalDib->CopyDib(doc->m_pDib);
    doc->m_pResultDibA->CopyDib(doc->m_pDib);
    doc->m_pResultDibB->CopyDib(doc->m_pDib);
    doc->m_pLegendDib->CopyDib(doc->m_pDib);
    doc->m_pResultDibD->CopyDib(doc->m_pDib);
    doc->ShowResultImages(true, true, true, "c", "a", "b");
    doc->ShowResultImages(true, true, true, "c", "a", "b");
    doc->ShowLegendImage(true, "legend", true, false, false, false);
    doc->ShowResultImageD(true, "d", true, false, false);
    doc->OnCommand(kImageInfo, doc->m_pResultChain);
    EXPECT_EQ(SubWindowCount(), 2 + 6);
    QPointer<CDibFrame> chain = doc->m_pResultChain;
    doc->m_pMainFrame->close();
    Flush();
    EXPECT_TRUE(pcm.isNull());
    EXPECT_TRUE(dct.isNull());
    EXPECT_TRUE(chain.isNull());
    EXPECT_EQ(deactivated, std::vector<std::string>{"DCT"}); // PCM closed without a word
    GetModuleDialogHooks() = saved;
    ASSERT_EQ(CDibDoc::Documents().size(), 1u);
    EXPECT_EQ(CDibDoc::Documents()[0], other);
    EXPECT_EQ(SubWindowCount(), 1);
    for (QWidget *w : QApplication::topLevelWidgets())
        EXPECT_EQ(qobject_cast<CImageInfoDlg *>(w), nullptr);
    CDibDoc::RegisterModuleDialog(kPcm, nullptr);
    CDibDoc::RegisterModuleDialog(kDct, nullptr);
}

TEST_F(DibDocTest, MenusCarryEveryCommand)
{
    std::set<int> menuIds, contextIds;
    QMenuBar bar;
    CDibDoc::BuildMenu129(&bar, [&](int id, const QString &text) {
        menuIds.insert(id);
        return new QAction(text, &bar);
    });
    QMenu menu;
    CDibDoc::BuildContextMenu(&menu, [&](int id, const QString &text) {
        contextIds.insert(id);
        return new QAction(text, &menu);
    });
    for (int id : kModuleCommands) {
        EXPECT_TRUE(menuIds.count(id)) << id;
        EXPECT_TRUE(contextIds.count(id) || id == kTemplate) << id; // the template is in the menu only
        EXPECT_TRUE(CDibDoc::IsDocumentCommand(id)) << id;
    }
    for (int id : {kImageInfo, kSubtractFromStack, kPutOnStack, kSaveImageAs, kOpenImage, kOpenMpegStream,
                   kOpenH264Stream, kAppExit})
        EXPECT_TRUE(menuIds.count(id)) << id;
    for (int id :
         {kImageInfo, kPutOnStack, kSubtractFromStack, kSetAsStartImage, kSaveImageAs, kDeleteResultImages})
        EXPECT_TRUE(contextIds.count(id)) << id;
    EXPECT_FALSE(CDibDoc::IsDocumentCommand(kOpenImage));
}

// Any outside file opens as a document and draws, or is refused with a message; never a crash.
TEST_F(DibDocTest, CorpusFilesOpenDrawAndClose)
{
    size_t checked = 0;
    for (const char *kind : {"bmp", "tif", "yuv"}) {
        for (const std::string &path : zntest::CorpusFiles(kind)) {
            zn::MessageRecorder rec;
            CDibDoc *doc = CDibDoc::OpenDocumentFile(QString::fromStdString(path));
            if (doc) {
                doc->MainView()->grab();
                doc->m_pMainFrame->close();
                Flush();
            } else {
                EXPECT_GE(rec.Count(), 1u) << path;
            }
            EXPECT_EQ(SubWindowCount(), 0) << path;
            ++checked;
        }
    }
    std::printf("corpus: %zu files checked\n", checked);
}

} // namespace dib_doc_test
