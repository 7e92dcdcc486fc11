// The main window: tool bar 128, menu 128, the status bar, the four Open commands, help, routing of
// document commands and the recent-file list.
#include "image/cdib.h"
#include "platform/messages.h"
#include "shell/compression_app.h"
#include "shell/dialog_support.h"
#include "shell/dib_doc.h"
#include "shell/main_frame.h"
#include "shell/toolbar_images.h"
#include "support/test_support.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QToolBar>
#include <QtTest/QTest>
#include <gtest/gtest.h>

namespace main_frame_test { // one namespace per test file: a folder compiles as one source

namespace {

TEST(MainFramePure, FilterBarsBecomeQtFilters)
{
    const std::pair<const char *, const char *> cases[] = {
        {"Bitmap Image (8 or 24 bit) (*.bmp)|*.bmp|Tiff Image (*.tif)|*.tif||",
         "Bitmap Image (8 or 24 bit) (*.bmp);;Tiff Image (*.tif)"},
        {"H.264 Stream (*.264)|*.264||", "H.264 Stream (*.264)"},
        {"Plain|*.x|Two|*.a;*.b||", "Plain (*.x);;Two (*.a *.b)"},
        {"", ""},
    };
    for (const auto &[bars, qt] : cases)
        EXPECT_EQ(QtFilterFromBars(QString::fromUtf8(bars)), QString::fromUtf8(qt)) << bars;
}

TEST(MainFramePure, ToolBarHas24ButtonsAnd7SeparatorsInOrder)
{
    const std::vector<int> expected = {32826, 32792, 32796, 32833, 32781, 0,     32827, 32825,
                                       0,     32775, 32771, 32772, 0,     32784, 32786, 0,
                                       32778, 32789, 0,     32777, 32816, 32815, 32817, 0,
                                       32803, 32793, 0,     32805, 32797, 32831, 32832};
    EXPECT_EQ(ToolBarLayout(), expected);
    for (int id : ToolBarLayout()) {
        if (id == 0)
            continue;
        const QPixmap pm = ToolBarImage(id);
        EXPECT_EQ(pm.size(), QSize(kToolBarImageWidth, kToolBarImageHeight)) << id;
        EXPECT_FALSE(pm.toImage().allGray() && pm.toImage().pixel(15, 7) == 0) << "blank image for " << id;
        EXPECT_TRUE(CommandPrompt(id).contains('\n')) << "no tool tip for " << id;
    }
}

TEST(MainFramePure, ImageWindowCommandsHaveTheirStatusPrompts)
{
    const std::pair<int, const char *> cases[] = {
        {32773, "Display Information for the Selected Image"},
        {32780, "Set the Current Processed Image as the one to be Processed"},
        {32819, "Put the Selected Image on Stack such that Another Image can be Subtracted from it"},
        {32820, "Subtract Selected Image from Image on Stack"},
        {32837, "Delete All Result Images"},
    };
    for (const auto &[id, prompt] : cases)
        EXPECT_EQ(CommandPrompt(id).section(QLatin1Char('\n'), 0, 0), QString::fromUtf8(prompt)) << id;
}

class MainFrameTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        theApp.m_sImageDir = QString::fromStdString(dir.Path());
        theApp.m_sUserDir = QString::fromStdString(dir.Path());
        frame = new CMainFrame;
        ASSERT_TRUE(frame->LoadFrame());
        frame->show();
        theApp.m_pMainWnd = frame;
        previousHelp = zn::SetHelpHandler([this](int id) { helpIds.push_back(id); });
        previousDialog =
            CMainFrame::SetFileDialogHook([this](const OpenDialogKind &kind, const QString &dir) {
                asked.push_back({kind.title, kind.initialName, kind.filter, dir});
                return answer;
            });
    }
    void TearDown() override
    {
        CMainFrame::SetFileDialogHook(previousDialog);
        zn::SetHelpHandler(previousHelp);
        frame->MdiArea()->closeAllSubWindows();
        theApp.m_pMainWnd = nullptr;
        delete frame;
    }
    std::string WriteBmp(const std::string &name, int w, int h)
    {
        CDib dib;
        RGBQUAD grey[256];
        for (int i = 0; i < 256; ++i)
            grey[i] = RGBQUAD{static_cast<uint8_t>(i), static_cast<uint8_t>(i), static_cast<uint8_t>(i), 0};
        EXPECT_TRUE(dib.Create8(w, h, grey, 256));
        EXPECT_TRUE(dib.SaveDibFile(dir.File(name)));
        return dir.File(name);
    }
    QStringList MenuTexts(QMenu *menu)
    {
        QStringList out;
        for (QAction *a : menu->actions())
            if (a->isVisible())
                out << (a->isSeparator() ? QStringLiteral("-") : a->text());
        return out;
    }

    struct Asked
    {
        QString title, initialName, filter, dir;
    };
    zntest::ScratchDir dir;
    CMainFrame *frame = nullptr;
    std::vector<int> helpIds;
    std::vector<Asked> asked;
    QString answer;
    zn::HelpHandler previousHelp;
    CMainFrame::FileDialogHook previousDialog;
};

TEST_F(MainFrameTest, CoversTheWorkAreaAndCannotBeResized)
{
    const QRect work = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(frame->frameGeometry().topLeft(), work.topLeft());
    EXPECT_EQ(frame->minimumSize(), frame->maximumSize());
    EXPECT_FALSE(frame->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(frame->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Zantho"));
}

TEST_F(MainFrameTest, Menu128ToolBarAndStatusBar)
{
    ASSERT_FALSE(frame->ShowsDocumentMenu());
    const auto &menus = frame->FrameMenus();
    ASSERT_EQ(menus.size(), 2u);
    EXPECT_EQ(menus[0]->title(), QStringLiteral("&File"));
    EXPECT_EQ(MenuTexts(menus[0]), (QStringList{"Open &Image", "Open &Sequence", "-", "Open &Mpeg Stream",
                                                "Open &H.264 Stream", "-", "Recent File", "-", "E&xit"}));
    EXPECT_EQ(menus[1]->title(), QStringLiteral("&Help"));
    EXPECT_EQ(MenuTexts(menus[1]), (QStringList{"Zantho Help (F1)", "Settings", "&About Zantho ..."}));

    QToolBar *bar = frame->ToolBar();
    EXPECT_EQ(bar->iconSize(), QSize(31, 14));
    std::vector<int> ids;
    for (QAction *a : bar->actions())
        ids.push_back(a->isSeparator() ? 0 : a->data().toInt());
    EXPECT_EQ(ids, ToolBarLayout());
    EXPECT_EQ(frame->Action(32771)->toolTip(), QStringLiteral("PCM Module"));
    EXPECT_EQ(frame->Action(32771)->statusTip(), QStringLiteral("Open the Pulse Coded Modulation Module"));
    // Without a document every document command is off; the frame's own are on.
    frame->UpdateCommandUI();
    EXPECT_FALSE(frame->Action(32771)->isEnabled());
    EXPECT_FALSE(frame->Action(32781)->isEnabled());
    EXPECT_TRUE(frame->Action(ID_FILE_OPEN_IMAGE)->isEnabled());

    // The indicator pane is as wide as a quote, 95 blanks and a quote, and stays empty.
    QLabel *pane = frame->IndicatorPane();
    const QString sizing = '"' + QString(95, ' ') + '"';
    EXPECT_GE(pane->width(), pane->fontMetrics().horizontalAdvance(sizing));
    EXPECT_TRUE(pane->text().isEmpty());
}

TEST_F(MainFrameTest, OpenCommandsAskInTheImageFolderWithTheirTitlesAndFilters)
{
    struct Case
    {
        int id;
        const char *title, *name, *filter;
    };
    const Case cases[] = {
        {ID_FILE_OPEN_IMAGE, "Select an Image", "*.bmp",
         "Bitmap Image (8 or 24 bit) (*.bmp)|*.bmp|Tiff Image (*.tif)|*.tif||"},
        {ID_FILE_OPEN_SEQUENCE, "Select an Image Sequence", "*.yuv",
         "Raw YUV Image Sequence (*.yuv)|*.yuv|Raw Y Image Sequence (*.y)|*.y|Sequence of Bmp Images "
         "(*.seq)|*.seq||"},
        {ID_FILE_OPEN_MPEG, "Select an Mpeg Stream", "*.mpg",
         "Mpeg Stream (*.mpg)|*.mpg|Mpeg-1 Video Stream (*.m1v)|*.m1v|Mpeg-2 Video Stream (*.m2v)|*.m2v||"},
        {ID_FILE_OPEN_H264, "Select an H.264 Stream", "*.264", "H.264 Stream (*.264)|*.264||"},
    };
    answer.clear(); // Cancel: nothing happens
    for (const Case &c : cases) {
        asked.clear();
        frame->Action(c.id)->trigger();
        ASSERT_EQ(asked.size(), 1u) << c.title;
        EXPECT_EQ(asked[0].title, QString::fromUtf8(c.title));
        EXPECT_EQ(asked[0].initialName, QString::fromUtf8(c.name));
        EXPECT_EQ(asked[0].filter, QString::fromUtf8(c.filter));
        EXPECT_EQ(asked[0].dir, theApp.m_sImageDir);
    }
    EXPECT_TRUE(frame->MdiArea()->subWindowList().isEmpty());
}

TEST_F(MainFrameTest, HelpCommandAndF1OpenTheMainTopic)
{
    frame->Action(ID_APP_HELP)->trigger();
    frame->activateWindow();
    QTest::keyClick(frame, Qt::Key_F1);
    EXPECT_EQ(helpIds, (std::vector<int>{0x20080, 0x20080}));
}

TEST_F(MainFrameTest, AnOpenedImageBringsMenu129AndItsCommands)
{
    theApp.AddToRecentFileList(QStringLiteral("/old/one.bmp"));
    answer = QString::fromStdString(WriteBmp("lena.bmp", 64, 48));
    frame->Action(ID_FILE_OPEN_IMAGE)->trigger();
    ASSERT_EQ(frame->MdiArea()->subWindowList().size(), 1);
    frame->MdiArea()->setActiveSubWindow(frame->MdiArea()->subWindowList().front());
    EXPECT_TRUE(frame->ShowsDocumentMenu());
    EXPECT_EQ(frame->menuBar()->actions().size(), 8);
    EXPECT_TRUE(frame->windowTitle().startsWith(QStringLiteral("Zantho - ")));
    frame->UpdateCommandUI();
    EXPECT_TRUE(frame->Action(32771)->isEnabled());  // PCM on a still image
    EXPECT_FALSE(frame->Action(32775)->isEnabled()); // Subsampling needs sides that are powers of two
    EXPECT_FALSE(frame->Action(32797)->isEnabled()); // MPEG decoder needs a stream
    EXPECT_TRUE(frame->Action(ID_FILE_CLOSE)->isEnabled());
    // The image window's own commands show their prompts in the status bar.
    for (int id : {32773, 32780, 32781, 32819, 32820, 32837})
        EXPECT_FALSE(frame->Action(id)->statusTip().isEmpty()) << id;
    // The file joined the recent files, first.
    EXPECT_EQ(theApp.RecentFiles().front(), answer);
    EXPECT_EQ(frame->Action(ID_FILE_MRU_FILE1)->text(), QStringLiteral("&1 ") + answer);

    frame->Action(ID_FILE_CLOSE)->trigger();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(frame->MdiArea()->subWindowList().isEmpty());
    EXPECT_FALSE(frame->ShowsDocumentMenu());
    theApp.RemoveFromRecentFileList(answer);
    theApp.RemoveFromRecentFileList(QStringLiteral("/old/one.bmp"));
}

TEST_F(MainFrameTest, WindowMenuListsTheOpenWindowsAndActivatesTheChosenOne)
{
    for (const char *name : {"first.bmp", "second.bmp"}) {
        answer = QString::fromStdString(WriteBmp(name, 40, 30));
        frame->Action(ID_FILE_OPEN_IMAGE)->trigger();
    }
    const QList<QMdiSubWindow *> windows = frame->MdiArea()->subWindowList(QMdiArea::CreationOrder);
    ASSERT_EQ(windows.size(), 2);
    frame->MdiArea()->setActiveSubWindow(windows[1]);
    ASSERT_NE(frame->WindowMenu(), nullptr);
    // Opened twice: the list is made anew, not appended to.
    for (int pass = 0; pass < 2; ++pass) {
        emit frame->WindowMenu()->aboutToShow();
        QStringList listed;
        QList<QAction *> entries;
        for (QAction *a : frame->WindowMenu()->actions()) {
            if (a->text().startsWith(QLatin1Char('&')) && a->text().at(1).isDigit()) {
                listed << a->text();
                entries << a;
            }
        }
        ASSERT_EQ(listed.size(), 2) << listed.join(QLatin1Char('|')).toStdString();
        EXPECT_EQ(listed[0], QStringLiteral("&1 ") + windows[0]->windowTitle());
        EXPECT_EQ(listed[1], QStringLiteral("&2 ") + windows[1]->windowTitle());
        EXPECT_FALSE(entries[0]->isChecked());
        EXPECT_TRUE(entries[1]->isChecked());
        if (pass == 1) {
            entries[0]->trigger();
            EXPECT_EQ(frame->MdiArea()->activeSubWindow(), windows[0]);
        }
    }
    theApp.RemoveFromRecentFileList(QString::fromStdString(dir.File("first.bmp")));
    theApp.RemoveFromRecentFileList(QString::fromStdString(dir.File("second.bmp")));
}

// While another top-level window (Image Information) has the focus, the MDI area has no active
// window. The document commands stay with the last document window, so the first tool-bar click
// after that window closes is not lost on a disabled button.
TEST_F(MainFrameTest, DocumentCommandsStayEnabledWhileAnotherWindowHasTheFocus)
{
    answer = QString::fromStdString(WriteBmp("info.bmp", 64, 48));
    frame->Action(ID_FILE_OPEN_IMAGE)->trigger();
    ASSERT_EQ(frame->MdiArea()->subWindowList().size(), 1);
    QApplication::setActiveWindow(frame);
    frame->MdiArea()->setActiveSubWindow(frame->MdiArea()->subWindowList().front());
    // The offscreen platform moves no focus between windows; the area's signal is what it sends when
    // another top-level window takes the focus.
    emit frame->MdiArea()->subWindowActivated(nullptr);
    frame->UpdateCommandUI();
    EXPECT_TRUE(frame->ShowsDocumentMenu());
    EXPECT_TRUE(frame->Action(32771)->isEnabled()); // PCM
    theApp.RemoveFromRecentFileList(answer);
}

TEST_F(MainFrameTest, ARecentFileThatIsGoneLeavesTheList)
{
    zn::MessageRecorder rec; // the reader's own message
    const QString gone = QString::fromStdString(dir.File("gone.bmp"));
    theApp.AddToRecentFileList(gone);
    frame->AddRecentFileEntries(new QMenu(frame)); // refreshes the entries
    frame->Action(ID_FILE_MRU_FILE1)->trigger();
    EXPECT_FALSE(theApp.RecentFiles().contains(gone));
    EXPECT_TRUE(frame->MdiArea()->subWindowList().isEmpty());
}

TEST_F(MainFrameTest, ExitClosesEveryDocumentWithoutAsking)
{
    zn::MessageRecorder rec;
    ASSERT_TRUE(frame->OpenDocumentFile(QString::fromStdString(WriteBmp("a.bmp", 32, 32))));
    ASSERT_TRUE(frame->OpenDocumentFile(QString::fromStdString(WriteBmp("b.bmp", 32, 32))));
    EXPECT_EQ(CDibDoc::Documents().size(), 2u);
    frame->Action(ID_APP_EXIT)->trigger();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(CDibDoc::Documents().empty());
    EXPECT_FALSE(frame->isVisible());
    EXPECT_EQ(rec.Count(), 0u);
    theApp.RemoveFromRecentFileList(QString::fromStdString(dir.File("a.bmp")));
    theApp.RemoveFromRecentFileList(QString::fromStdString(dir.File("b.bmp")));
}

} // namespace

} // namespace main_frame_test
