// Image windows and result display: the result chain and its relinking, windows A and B, the image
// commands (stack subtraction, Save image As, Image Information, Set as Start Image), drawing and
// snapping of still-image windows.
#include "doc_fixture.h"
#include "support/layout_checks.h"

#include "platform/messages.h"
#include "shell/compression_app.h"
#include "shell/doc_commands.h"
#include "shell/main_frame.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPointer>

namespace result_windows_test { // one namespace per test file: a folder compiles as one source

using namespace doctest;
using namespace zn::cmd;

class ResultWindowsTest : public DocFixture
{
protected:
    // Shows the document image as a chain result captioned "PCM(lena): n".
    void ChainResult(CDibDoc *doc, int n)
    {
        doc->m_pFinalDib->CopyDib(doc->m_pDib);
        doc->m_pFinalDib->m_caption = "PCM(lena): " + std::to_string(n);
        doc->ShowResultImages(true, false, false, QStringLiteral("result %1").arg(n), {}, {});
    }
};

TEST_F(ResultWindowsTest, ChainGrowsCascadesAndRelinks)
{
    CDibDoc *doc = OpenBmp("lena.bmp", 64, 64);
    ASSERT_NE(doc, nullptr);
    for (int n = 1; n <= 3; ++n)
        ChainResult(doc, n);
    std::vector<CDibFrame *> chain = doc->ChainFrames();
    ASSERT_EQ(chain.size(), 3u);
    const zn::PlacementMetrics pm = PlacementFor(doc->m_pMainFrame);
    EXPECT_EQ(chain[0]->pos(), QPoint(0, pm.rBottom - pm.dy3));
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(chain[k]->windowTitle().toStdString(), "PCM(lena): " + std::to_string(k + 1));
        EXPECT_EQ(chain[k]->View()->m_sDescription, QStringLiteral("result %1").arg(k + 1));
        EXPECT_NE(chain[k]->View()->GetDib(), doc->m_pFinalDib); // each window has its own copy
        if (k > 0) {
            // At the previous window's screen left + m and screen top - 2m: down and to the right.
            const QPoint prev = chain[k - 1]->pos();
            EXPECT_EQ(chain[k]->pos(), prev + QPoint(pm.screenX + pm.m, pm.screenY - 2 * pm.m));
            EXPECT_GT(chain[k]->pos().y(), prev.y());
            EXPECT_EQ(chain[k]->m_pPrevResultFrame, chain[k - 1]);
        }
    }
    // Closing the middle window links the first to the third.
    chain[1]->close();
    Flush();
    chain = doc->ChainFrames();
    ASSERT_EQ(chain.size(), 2u);
    EXPECT_EQ(chain[0]->windowTitle(), "PCM(lena): 1");
    EXPECT_EQ(chain[1]->windowTitle(), "PCM(lena): 3");
    EXPECT_EQ(chain[1]->m_pPrevResultFrame, chain[0]);
    // Closing the first makes the next one the first.
    chain[0]->close();
    Flush();
    ASSERT_EQ(doc->ChainFrames().size(), 1u);
    EXPECT_EQ(doc->m_pResultChain->windowTitle(), "PCM(lena): 3");
    EXPECT_EQ(doc->m_pResultChain->m_pPrevResultFrame, nullptr);
    // A later result joins after it.
    ChainResult(doc, 4);
    ASSERT_EQ(doc->ChainFrames().size(), 2u);
    EXPECT_EQ(doc->ChainFrames()[1]->windowTitle(), "PCM(lena): 4");
}

TEST_F(ResultWindowsTest, WindowsAAndBAreReusedAndClosedWhenNotAsked)
{
    CDibDoc *doc = OpenBmp("lena.bmp", 64, 64);
    ASSERT_NE(doc, nullptr);
    doc->m_pResultDibA->CopyDib(doc->m_pDib);
    doc->m_pResultDibA->m_caption = "A";
    doc->m_pResultDibB->CopyDib(doc->m_pDib);
    doc->m_pResultDibB->m_caption = "B";
    doc->ShowResultImages(false, true, true, {}, "da", "db");
    QPointer<CDibFrame> a = doc->m_pResultFrameA;
    ASSERT_TRUE(a && doc->m_pResultFrameB);
    const zn::PlacementMetrics pm = PlacementFor(doc->m_pMainFrame);
    EXPECT_EQ(a->pos(), QPoint(pm.rRight - pm.dx + 2, 0));
    EXPECT_EQ(doc->m_pResultFrameB->pos(), QPoint(pm.rRight - pm.dx + 2, pm.rBottom - pm.dy3));
    EXPECT_EQ(a->windowTitle(), "A");
    doc->m_pResultDibA->m_caption = "A2";
    doc->ShowResultImages(false, true, true, {}, "da", "db");
    EXPECT_EQ(doc->m_pResultFrameA, a.data());
    EXPECT_EQ(a->windowTitle(), "A2");
    // View commands: A and B offer neither the stack nor the start image.
    EXPECT_FALSE(doc->IsCommandEnabled(kPutOnStack, a));
    EXPECT_FALSE(doc->IsCommandEnabled(kSetAsStartImage, a));
    EXPECT_TRUE(doc->IsCommandEnabled(kImageInfo, a));
    EXPECT_TRUE(doc->IsCommandEnabled(kDeleteResultImages, a));
    EXPECT_FALSE(doc->IsCommandEnabled(kSetAsStartImage, doc->m_pMainFrame));
    EXPECT_TRUE(doc->IsCommandEnabled(kPutOnStack, doc->m_pMainFrame));
    ChainResult(doc, 1);
    EXPECT_EQ(doc->m_pResultFrameA, nullptr);
    EXPECT_EQ(doc->m_pResultFrameB, nullptr);
    Flush();
    EXPECT_TRUE(a.isNull());
    EXPECT_TRUE(doc->IsCommandEnabled(kSetAsStartImage, doc->m_pResultChain));
    // Delete Result Images takes the chain and A, B; the legend window stays.
    doc->m_pLegendDib->CopyDib(doc->m_pDib);
    doc->ShowLegendImage(true, "legend", false, false, false, false);
    ChainResult(doc, 2);
    doc->OnCommand(kDeleteResultImages, doc->m_pMainFrame);
    EXPECT_EQ(doc->m_pResultChain, nullptr);
    EXPECT_NE(doc->m_pLegendFrame, nullptr);
    EXPECT_FALSE(doc->IsCommandEnabled(kDeleteResultImages, doc->m_pMainFrame));
    doc->ShowLegendImage(false, {}, false, false, false, false);
    EXPECT_EQ(doc->m_pLegendFrame, nullptr);
}

TEST_F(ResultWindowsTest, SubtractingAnImageFromItselfGives127)
{
    zn::MessageRecorder rec;
    CDibDoc *doc = OpenBmp("lena.bmp", 13, 7); // odd width: rows carry padding
    ASSERT_NE(doc, nullptr);
    doc->m_pDib->Create24(13, 7);
    for (int k = 0; k < 7; ++k)
        for (int x = 0; x < 39; ++x)
            doc->m_pDib->StoredRow(k)[x] = static_cast<uint8_t>(x * 6 + k);
    EXPECT_FALSE(doc->IsCommandEnabled(kSubtractFromStack, doc->m_pMainFrame)); // empty stack
    doc->OnCommand(kPutOnStack, doc->m_pMainFrame);
    ASSERT_TRUE(doc->IsCommandEnabled(kSubtractFromStack, doc->m_pMainFrame));
    doc->OnCommand(kSubtractFromStack, doc->m_pMainFrame);
    ASSERT_NE(doc->m_pResultChain, nullptr);
    const CDib *diff = doc->m_pResultChain->View()->GetDib();
    ASSERT_EQ(diff->GetWidth(), 13);
    int off = 0;
    for (int k = 0; k < 7; ++k)
        for (int x = 0; x < 39; ++x)
            off += diff->StoredRow(k)[x] != 127;
    EXPECT_EQ(off, 0);
    EXPECT_EQ(diff->m_title, "DIFF_(lena)_(lena)");
    EXPECT_EQ(doc->m_pResultChain->windowTitle(), "Difference (lena)(lena)");
    const std::string desc = doc->m_pResultChain->View()->m_sDescription.toStdString();
    EXPECT_NE(desc.find("Maximum and minimum\t\t: 0.0    0.0\n"), std::string::npos) << desc;
    EXPECT_NE(desc.find("Difference stretched by factor\t: 1.00\n"), std::string::npos) << desc;
    EXPECT_NE(desc.find("Mean value\t\t\t: 0.00\n"), std::string::npos) << desc;
    EXPECT_NE(desc.find("Variance \t\t\t: 0.00\n"), std::string::npos) << desc;
    EXPECT_EQ(rec.Count(), 0u);
}

TEST_F(ResultWindowsTest, SubtractionOfMismatchedImagesNeverReadsPastEither)
{
    CDibDoc *doc = OpenBmp("lena.bmp", 16, 8, 100);
    ASSERT_NE(doc, nullptr);
    // 8-bit palette stack image of the same size: compared as 24-bit grey.
    WriteBmp8(m_dir.File("pal.bmp"), 16, 8, 90);
    ASSERT_GE(doc->m_pStackDib->LoadDibFile(m_dir.File("pal.bmp"), true), 0);
    ASSERT_EQ(doc->m_pStackDib->GetInfoHeader()->biBitCount, 8);
    {
        zn::MessageRecorder rec;
        doc->SubtractStackImage(doc->m_pDib);
        EXPECT_EQ(rec.Count(), 0u);
        ASSERT_NE(doc->m_pResultChain, nullptr);
        // 90 - 100 + 127 = 117 everywhere, stretched by 127/10 down to 0.
        EXPECT_EQ(TopLeft(doc->m_pResultChain->View()->GetDib()), 0);
    }
    // A different size is refused with a message and shows nothing.
    WriteBmp(m_dir.File("small.bmp"), 8, 8, 90);
    ASSERT_GE(doc->m_pStackDib->LoadDibFile(m_dir.File("small.bmp"), true), 0);
    EXPECT_FALSE(doc->IsCommandEnabled(kSubtractFromStack, doc->m_pMainFrame));
    zn::MessageRecorder rec;
    doc->SubtractStackImage(doc->m_pDib);
    EXPECT_EQ(rec.Count(), 1u);
    EXPECT_EQ(doc->ChainFrames().size(), 1u);
}

TEST_F(ResultWindowsTest, SaveImageAsPicksTheFormatAndAsksBeforeReplacing)
{
    CDibDoc *doc = OpenBmp("lena.bmp", 16, 8);
    ASSERT_NE(doc, nullptr);
    CDIbView *view = doc->MainView();
    const struct
    {
        const char *name;
        std::vector<unsigned char> magic;
    } rows[] = {
        {"a.bmp", {'B', 'M'}}, {"b.TIF", {'I', 'I', 42, 0}}, {"c.tif", {'I', 'I', 42, 0}}, {"d", {'B', 'M'}}};
    for (const auto &row : rows) {
        ASSERT_TRUE(view->SaveImageAs(QString::fromStdString(m_dir.File(row.name)))) << row.name;
        std::vector<unsigned char> bytes = zntest::ReadFileBytes(m_dir.File(row.name));
        bytes.resize(row.magic.size());
        if (row.magic[0] == 'I' && bytes[0] == 'M') // big-endian TIFF is as good
            bytes = {'I', 'I', 42, 0};
        EXPECT_EQ(bytes, row.magic) << row.name;
    }
    const size_t before = zntest::ReadFileBytes(m_dir.File("a.bmp")).size();
    zn::MessageRecorder rec;
    rec.Script({zn::MsgAnswer::No});
    EXPECT_FALSE(view->SaveImageAs(QString::fromStdString(m_dir.File("a.bmp"))));
    ASSERT_EQ(rec.Count(), 1u);
    EXPECT_NE(rec.Texts()[0].find("a.bmp already exists"), std::string::npos);
    doc->m_pDib->Create24(32, 32);
    EXPECT_EQ(zntest::ReadFileBytes(m_dir.File("a.bmp")).size(), before);
    rec.Script({zn::MsgAnswer::Yes});
    EXPECT_TRUE(view->SaveImageAs(QString::fromStdString(m_dir.File("a.bmp"))));
    EXPECT_GT(zntest::ReadFileBytes(m_dir.File("a.bmp")).size(), before);
}

TEST_F(ResultWindowsTest, ImageInformationAndDrawing)
{
    WriteBmp8(m_dir.File("pal.bmp"), 512, 512, 40);
    CDibDoc *doc = CDibDoc::OpenDocumentFile(QString::fromStdString(m_dir.File("pal.bmp")));
    ASSERT_NE(doc, nullptr);
    CDIbView *view = doc->MainView();
    // 512 x 512 in a 1024 x 700 client: at most (1024 - 256) / 2 less the borders, square.
    EXPECT_EQ(view->m_nMaxWidth, 384 - doc->m_pMainFrame->BorderX());
    EXPECT_LE(view->width(), view->m_nMaxWidth);
    EXPECT_EQ(view->width(), view->height());
    const QImage shot = view->grab().toImage();
    EXPECT_EQ(qGray(shot.pixel(5, 5)), 40);
    EXPECT_EQ(doc->m_pDib->GetInfoHeader()->biBitCount, 24); // converted on its first draw
    EXPECT_EQ(view->DisplayWidth(), view->width());
    doc->OnCommand(kImageInfo, doc->m_pMainFrame);
    CImageInfoDlg *info = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *d = qobject_cast<CImageInfoDlg *>(w))
            info = d;
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->pos(), QPoint(200, 200));
    const auto text = [info](int id) {
        return info->findChild<QLabel *>(QStringLiteral("ctrl%1").arg(id))->text();
    };
    EXPECT_EQ(text(1009), "pal");
    EXPECT_EQ(text(1010), "512");
    EXPECT_EQ(text(1514), "24 bit )");
    EXPECT_EQ(text(2143), QString::number(view->width()));
    EXPECT_EQ(info->findChild<QPlainTextEdit *>("ctrl1103")->toPlainText(), "No Information Available");
}

TEST_F(ResultWindowsTest, WindowsSnapAndDoubleClickRestores)
{
    CDibDoc *still = OpenBmp("wide.bmp", 200, 100);
    WriteBmp(m_dir.File("run.seq"), 40, 30, 50);
    CDibDoc *seq = CDibDoc::OpenDocumentFile(QString::fromStdString(m_dir.File("run.seq")));
    ASSERT_TRUE(still && seq);
    CDibFrame *f = still->m_pMainFrame;
    f->resize(300 + f->BorderX(), 200 + f->BorderY());
    EXPECT_EQ(f->View()->size(), QSize(300, 150)); // back to 2:1
    CDibFrame *g = seq->m_pMainFrame;
    g->resize(300, 300);
    // A sequence keeps its natural size; only a window too narrow for its title is wider.
    EXPECT_EQ(g->View()->size(), QSize(std::max(40, g->MinimumFrameWidth() - g->BorderX()), 30));
    f->View()->grab();
    QMouseEvent dbl(QEvent::MouseButtonDblClick, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
    QApplication::sendEvent(f->View(), &dbl);
    EXPECT_EQ(f->View()->size(), QSize(200, 100));
    // A sequence is drawn unscaled, and Image Information shows no display size for it.
    const QImage shot = g->View()->grab().toImage();
    EXPECT_EQ(qGray(shot.pixel(39, 29)), 50);
    EXPECT_EQ(g->View()->DisplayWidth(), 0);
    EXPECT_EQ(g->View()->DisplayHeight(), 0);
}

TEST_F(ResultWindowsTest, SetAsStartImageOpensANewStillDocument)
{
    CDibDoc *doc = OpenBmp("lena.bmp", 32, 16, 77);
    ASSERT_NE(doc, nullptr);
    ChainResult(doc, 1);
    doc->OnCommand(kSetAsStartImage, doc->m_pResultChain);
    ASSERT_EQ(CDibDoc::Documents().size(), 2u);
    CDibDoc *fresh = CDibDoc::Documents()[1];
    EXPECT_EQ(fresh->m_nDocType, DOC_STILL);
    EXPECT_NE(fresh->m_pRDData, nullptr);
    EXPECT_EQ(fresh->m_pDib->GetWidth(), 32);
    EXPECT_EQ(TopLeft(fresh->m_pDib), 77);
    EXPECT_NE(fresh->m_pDib, doc->m_pResultChain->View()->GetDib());
}

TEST_F(ResultWindowsTest, StreamDisplaysCheckTheDocumentType)
{
    zn::MessageRecorder rec;
    CDibDoc *doc = OpenBmp("lena.bmp", 16, 16);
    ASSERT_NE(doc, nullptr);
    doc->OnApplyMpegDecoding(false, "d", "1");
    doc->OnApplyH264Decoding(1, 0, "");
    ASSERT_EQ(rec.Count(), 2u);
    EXPECT_EQ(rec.Texts()[0],
              "OnApplyMpegDecoding - Wrong display routine for document type (internal error)");
    EXPECT_EQ(rec.Texts()[1],
              "OnApplyH264Decoding - Wrong display routine for document type (internal error)");
    doc->m_nDocType = DOC_H264; // as a stream opener would have set it
    const struct
    {
        int frame, target;
        const char *note, *title;
    } rows[] = {{3, 7, "P", "lena - Frame #3(P) --> #7"}, {3, 0, "", "lena - Frame #3"}, {0, 0, "", "lena"}};
    for (const auto &row : rows) {
        doc->OnApplyH264Decoding(row.frame, row.target, row.note);
        EXPECT_EQ(doc->m_pMainFrame->windowTitle(), row.title);
    }
    EXPECT_EQ(rec.Count(), 2u);
}

TEST_F(ResultWindowsTest, SequenceResultsReuseOneChainWindow)
{
    WriteBmp(m_dir.File("run.seq"), 40, 30, 50);
    CDibDoc *doc = CDibDoc::OpenDocumentFile(QString::fromStdString(m_dir.File("run.seq")));
    ASSERT_NE(doc, nullptr);
    doc->m_pFinalDib->CopyDib(doc->m_pDib);
    doc->m_pResultDibA->CopyDib(doc->m_pDib);
    for (int n = 1; n <= 3; ++n) {
        doc->m_pFinalDib->m_caption = "frame " + std::to_string(n);
        doc->ShowSequenceResultImages(true, true, false, "c", "a", {});
    }
    ASSERT_EQ(doc->ChainFrames().size(), 1u);
    EXPECT_EQ(doc->m_pResultChain->windowTitle(), "frame 3");
    const zn::PlacementMetrics pm = PlacementFor(doc->m_pMainFrame);
    EXPECT_EQ(doc->m_pResultFrameA->pos(), QPoint(pm.rRight - pm.dx, 0)); // no +2 for sequences
    // Below the document window's caption, but not above the area's top.
    EXPECT_EQ(doc->m_pResultChain->pos(), QPoint(0, std::max(0, pm.rBottom - pm.dy3)));
    doc->ShowSequenceResultImages(false, false, false, {}, {}, {});
    EXPECT_EQ(doc->m_pResultChain, nullptr);
    EXPECT_EQ(doc->m_pResultFrameA, nullptr);
}

// A still result: A beside the document window, B below A, the first chain window below the document
// window. A sequence viewed as the H.264 decoder views it, with every choice of its four analysis
// windows: the legend and D take the places the others leave, and nothing covers anything.
TEST_F(ResultWindowsTest, ResultWindowsStandBesideAndBelowOneAnotherWithoutCovering)
{
    CDibDoc *doc = OpenBmp("lena.bmp", 96, 80);
    ASSERT_NE(doc, nullptr);
    for (CDib *dib : {doc->m_pFinalDib, doc->m_pResultDibA, doc->m_pResultDibB}) {
        dib->CopyDib(doc->m_pDib);
        dib->m_caption = dib == doc->m_pResultDibA ? "A" : dib == doc->m_pResultDibB ? "B" : "chain";
    }
    doc->ShowResultImages(true, true, true, "c", "a", "b");
    EXPECT_EQ(zntest::OverlappingResultWindows(doc), "");
    const QRect main = doc->m_pMainFrame->geometry();
    EXPECT_EQ(doc->m_pResultFrameA->geometry().left(), main.right() + 1 + 2);
    EXPECT_EQ(doc->m_pResultFrameB->geometry().top(), doc->m_pResultFrameA->geometry().bottom() + 1);
    EXPECT_EQ(doc->m_pResultChain->geometry().top(), main.bottom() + 1);
    doc->DeleteResultImages();

    // A QCIF picture: the legend, 88 rows at most, is never taller than the picture whose place it takes.
    WriteBmp(m_dir.File("clip.seq"), 176, 144, 90);
    CDibDoc *seq = CDibDoc::OpenDocumentFile(QString::fromStdString(m_dir.File("clip.seq")));
    ASSERT_NE(seq, nullptr);
    const std::pair<CDib *, const char *> views[] = {{seq->m_pFinalDib, "vectors"},
                                                     {seq->m_pResultDibA, "stream"},
                                                     {seq->m_pResultDibB, "block division"},
                                                     {seq->m_pResultDibD, "bits"}};
    for (const auto &[dib, caption] : views) {
        dib->CopyDib(seq->m_pDib);
        dib->m_caption = caption;
    }
    MakeGrey24(*seq->m_pLegendDib, 116, 88, [](int, int) { return 0; });
    seq->m_pLegendDib->m_caption = "Legend";
    for (int views = 1; views < 16; ++views) {
        const bool stream = views & 1, vectors = views & 2, bdiv = views & 4, bits = views & 8;
        seq->ShowSequenceResultImages(vectors, stream, bdiv, "vectors", "stream", "bdiv");
        seq->ShowResultImageD(bits, "bits", stream, vectors, bdiv);
        seq->ShowLegendImage(true, "legend", stream, vectors, bdiv, bits);
        EXPECT_EQ(zntest::OverlappingResultWindows(seq), "") << "views " << views;
    }
}

// Activating a document window brings its results forward and shows its dialogs again when they
// were hidden while still open.
TEST_F(ResultWindowsTest, ActivationShowsTheDocumentsDialogsAgain)
{
    CDibDoc *doc = OpenBmp("lena.bmp", 32, 32);
    CDibDoc *other = OpenBmp("other.bmp", 32, 32);
    ASSERT_TRUE(doc && other);
    QDialog dlg;
    doc->m_pPcmDlg = &dlg; // an open dialog, hidden for the moment
    m_area->setActiveSubWindow(other->m_pMainFrame);
    EXPECT_FALSE(dlg.isVisible());
    m_area->setActiveSubWindow(doc->m_pMainFrame);
    EXPECT_TRUE(dlg.isVisible());
    doc->m_pPcmDlg = nullptr;
}

// After Window > Tile the last chain window may stand anywhere, even at the top edge; the next one
// cascades from it and used to open with its title bar above the area, out of reach.
TEST_F(ResultWindowsTest, AfterTileEveryNewResultWindowOpensInsideTheArea)
{
    CDibDoc *doc = OpenBmp("lena.bmp", 64, 64);
    ASSERT_NE(doc, nullptr);
    for (int n = 1; n <= 3; ++n)
        ChainResult(doc, n);
    m_area->tileSubWindows();
    Flush();
    const QRect area(QPoint(0, 0), m_area->viewport()->size());
    for (int n = 4; n <= 12; ++n) {
        ChainResult(doc, n);
        CDibFrame *newest = doc->ChainFrames().back();
        EXPECT_TRUE(area.contains(newest->geometry())) << n << ": " << newest->x() << "," << newest->y();
    }
}

// KeepInside moves a frame only as far as needed, and a frame larger than the area keeps its top
// left corner in it.
TEST(ResultWindowPlacement, KeepInsideMovesOnlyWhatIsOutside)
{
    const QSize area(1000, 700);
    const std::pair<QRect, QPoint> cases[] = {
        {{10, 20, 100, 80}, {10, 20}},     // inside: unchanged
        {{-30, -5, 100, 80}, {0, 0}},      // above and left
        {{950, 690, 100, 80}, {900, 620}}, // below and right
        {{20, -90, 1200, 900}, {0, 0}},    // larger than the area
    };
    for (const auto &[g, topLeft] : cases) {
        const QRect r = CDibFrame::KeepInside(g, area);
        EXPECT_EQ(r.topLeft(), topLeft) << g.x() << "," << g.y();
        EXPECT_EQ(r.size(), g.size());
    }
}

// A 1x1 image still gets a window wide enough for its title and close button.
TEST_F(ResultWindowsTest, ATinyImageGetsAWindowWithRoomForItsTitle)
{
    CDibDoc *doc = OpenBmp("dot.bmp", 1, 1);
    ASSERT_NE(doc, nullptr);
    CDibFrame *frame = doc->m_pMainFrame;
    ASSERT_NE(frame, nullptr);
    EXPECT_GE(frame->width(), frame->fontMetrics().horizontalAdvance(frame->windowTitle()));
    EXPECT_GE(frame->width(), frame->MinimumFrameWidth());
    EXPECT_GT(frame->MinimumFrameWidth(), 40);
}

// The program's icon, not the toolkit's: the SVG draws (its plugin is there), and the main window,
// the document window and its result windows all carry it.
TEST_F(ResultWindowsTest, WindowsShowTheProgramsIcon)
{
    const QIcon icon = ZnProgramIcon();
    ASSERT_FALSE(icon.isNull());
    const QImage img = icon.pixmap(64, 64).toImage();
    ASSERT_EQ(img.size(), QSize(64, 64)) << "the Qt SVG plugin (libqt6svg6) is missing";
    // The deep blue frame and the yellow initial.
    const QColor frame = img.pixelColor(4, 32), initial = img.pixelColor(42, 36);
    EXPECT_LT(frame.red(), 60);
    EXPECT_GT(frame.blue(), 120);
    EXPECT_GT(initial.red(), 200);
    EXPECT_GT(initial.green(), 160);
    EXPECT_LT(initial.blue(), 100);

    const QImage want = icon.pixmap(32, 32).toImage();
    auto same = [&](const QIcon &i) { return !i.isNull() && i.pixmap(32, 32).toImage() == want; };
    CMainFrame main;
    EXPECT_TRUE(same(main.windowIcon()));
    CDibDoc *doc = OpenBmp("lena.bmp", 64, 64);
    ASSERT_NE(doc, nullptr);
    ChainResult(doc, 1);
    EXPECT_TRUE(same(doc->m_pMainFrame->windowIcon()));
    for (CDibFrame *f : doc->ChainFrames())
        EXPECT_TRUE(same(f->windowIcon()));
}

} // namespace result_windows_test
