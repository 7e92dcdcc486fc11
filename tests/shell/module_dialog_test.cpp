// The conventions every module dialog shares: pages notify their owner at once, Enter and Escape do
// nothing in a page, F1 in a page opens the owner's help topic, the column placement, the results
// font made once and renewed after OK in Preferences, the scroll-bar option, and Cancel.
#include "shell/compression_app.h"
#include "shell/dib_doc.h"
#include "shell/main_frame.h"
#include "shell/module_dialog.h"
#include "shell/settings_dlg.h"
#include "support/layout_checks.h"

#include <QCheckBox>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QtTest/QTest>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>

namespace module_dialog_test { // one namespace per test file: a folder compiles as one source

namespace {

class TestPage : public CModulePage
{
public:
    TestPage(int idd, int firstId) : CModulePage(idd)
    {
        auto *v = new QVBoxLayout(this);
        box = Ctrl(new QCheckBox(QStringLiteral("Option")), firstId);
        v->addWidget(box);
        connect(box, &QCheckBox::clicked, this, [this]() { NotifyOwner(WM_APP + 2); });
    }
    QCheckBox *box;
};

class TestDlg : public CModuleDialog
{
public:
    static ModuleTemplate Template()
    {
        ModuleTemplate t;
        t.caption = QStringLiteral("Test: ");
        t.groupId = 1056;
        t.groupText = QStringLiteral("Set Test Parameters");
        t.tabId = 1501;
        t.applyId = 1058;
        t.resultId = 1503;
        return t;
    }
    TestDlg() : CModuleDialog(149, Template()) { SetRDKey("PCM"); }

    std::vector<int> messages;
    int attached = 0;
    bool seenWhileClicked = false;
    TestPage *first = nullptr;
    TestPage *second = nullptr;

    void OnPageMessage(int message) override { messages.push_back(message); }
    void OnDocumentAttached() override { ++attached; }

protected:
    void CreatePages() override
    {
        first = new TestPage(130, 1000);
        second = new TestPage(131, 1013);
        AddPage(first, QStringLiteral("First"));
        AddPage(second, QStringLiteral("Second"));
    }
};

class ModuleDialogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        theApp.m_sFontType = QStringLiteral("DejaVu Sans");
        theApp.m_nFontSize = 8;
        theApp.m_bHScrollbar = 0;
        theApp.ResetResultFont();
        frame = new CMainFrame;
        ASSERT_TRUE(frame->LoadFrame());
        frame->show();
        theApp.m_pMainWnd = frame;
        previousHelp = zn::SetHelpHandler([this](int id) { helpIds.push_back(id); });
        savedHooks = GetModuleDialogHooks();
    }
    void TearDown() override
    {
        GetModuleDialogHooks() = savedHooks;
        zn::SetHelpHandler(previousHelp);
        theApp.m_pMainWnd = nullptr;
        delete frame; // module dialogs go with it
        theApp.ResetResultFont();
    }
    TestDlg *Open()
    {
        auto *dlg = new TestDlg;
        EXPECT_TRUE(dlg->Create());
        return dlg;
    }

    CMainFrame *frame = nullptr;
    std::vector<int> helpIds;
    zn::HelpHandler previousHelp;
    ModuleDialogHooks savedHooks;
};

TEST(ModulePlacement, ColumnAndResultBoxArithmetic)
{
    struct Case
    {
        int clientW, clientH, menu, frame;
        QRect expected;
    };
    const Case cases[] = {
        {1024, 700, 19, 3, QRect(769, 66, 256, 656)},
        {1280, 976, 20, 3, QRect(1025, 69, 256, 930)},
        {256, 100, 0, 0, QRect(1, 0, 256, 100)},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ModuleColumnRect(c.clientW, c.clientH, c.menu, c.frame), c.expected);

    EXPECT_EQ(ResultBoxHeight(700, 400), 300);
    EXPECT_EQ(ResultBoxHeight(700, 690), 40); // never below a few lines
    // Point size to pixels: rounded, as for the font dialogs.
    const int fonts[][3] = {{8, 96, 11}, {8, 72, 8}, {10, 96, 13}, {9, 120, 15}, {12, 96, 16}};
    for (const auto &f : fonts)
        EXPECT_EQ(FontPixelHeight(f[0], f[1]), f[2]) << f[0] << "pt at " << f[1] << " dpi";
    // Dialog units with 6 by 13 base units.
    EXPECT_EQ(zn::DluToPixelsX(164), 246);
    EXPECT_EQ(zn::DluToPixelsY(198), 322);
    EXPECT_EQ(zn::DluToPixelsX(3), 5); // 4.5 rounds up
}

TEST_F(ModuleDialogTest, SitsInTheRightColumnOfTheMainWindow)
{
    TestDlg *dlg = Open();
    const QSize client = frame->ClientSize();
    const QRect r = ModuleColumnRect(client.width(), client.height(), frame->MenuBarHeight(),
                                     CModuleDialog::kDialogFrameHeight);
    EXPECT_EQ(dlg->pos(), frame->frameGeometry().topLeft() + r.topLeft());
    EXPECT_EQ(dlg->width(), 256);
    EXPECT_EQ(dlg->parentWidget(), frame);
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_FALSE(dlg->windowFlags() & Qt::WindowCloseButtonHint);
    // The result box ends where the main client area ends, counted from the screen top.
    QPlainTextEdit *box = dlg->ResultBox();
    const int boxTop = dlg->pos().y() - frame->frameGeometry().top() + box->y();
    EXPECT_EQ(box->height(), ResultBoxHeight(client.height(), boxTop));
    EXPECT_TRUE(box->isReadOnly());
    // Controls keep their template ids.
    EXPECT_EQ(dlg->GetDlgItem(1503), box);
    EXPECT_EQ(dlg->GetDlgItem(1501), dlg->TabCtrl());
    EXPECT_EQ(dlg->GetDlgItem(IDCANCEL), dlg->CancelButton());
    EXPECT_EQ(dlg->TabCtrl()->GetItemCount(), 2);
    EXPECT_EQ(dlg->first->GetOwner(), dlg);
}

TEST_F(ModuleDialogTest, PagesNotifyTheirOwnerBeforeTheHandlerReturns)
{
    TestDlg *dlg = Open();
    QTest::mouseClick(dlg->first->box, Qt::LeftButton, {}, QPoint(6, dlg->first->box->height() / 2));
    EXPECT_EQ(dlg->messages, std::vector<int>{WM_APP + 2});
    dlg->SendMessage(WM_DOCUMENT_ATTACHED);
    EXPECT_EQ(dlg->attached, 1);
    EXPECT_EQ(dlg->messages.size(), 1u);
    // A page that nobody made the owner of tells the dialog it sits in.
    auto *loose = new TestPage(132, 1020);
    loose->setParent(dlg->TabCtrl());
    loose->box->click();
    EXPECT_EQ(dlg->messages, (std::vector<int>{WM_APP + 2, WM_APP + 2}));
}

TEST_F(ModuleDialogTest, EnterAndEscapeDoNothingInAPageButEscapeCancelsTheDialog)
{
    TestDlg *dlg = Open();
    dlg->activateWindow();
    const Qt::Key keys[] = {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter};
    for (Qt::Key key : keys) {
        dlg->first->box->setFocus();
        QTest::keyClick(dlg->first->box, key);
        EXPECT_TRUE(dlg->isVisible()) << "key " << key;
    }
    EXPECT_TRUE(dlg->messages.empty());
    QTest::keyClick(dlg->ApplyButton(), Qt::Key_Escape);
    EXPECT_FALSE(dlg->isVisible());
}

TEST_F(ModuleDialogTest, F1InAPageOpensTheOwnersHelpTopic)
{
    TestDlg *dlg = Open();
    QTest::keyClick(dlg->first->box, Qt::Key_F1);
    QTest::keyClick(dlg->ApplyButton(), Qt::Key_F1);
    EXPECT_EQ(helpIds, (std::vector<int>{0x20000 + 149, 0x20000 + 149}));
    // A page without an owner asks the nearest dialog above it.
    dlg->second->SetOwner(nullptr);
    dlg->second->OnHelpInfoForward();
    EXPECT_EQ(helpIds.back(), 0x20000 + 149);
}

TEST_F(ModuleDialogTest, ResultsFontIsMadeOnceAndRenewedByPreferencesOk)
{
    ASSERT_EQ(theApp.m_pResultFont, nullptr);
    TestDlg *a = Open();
    QFont *font = theApp.m_pResultFont;
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(font->pixelSize(), FontPixelHeight(8, a->logicalDpiY()));
    EXPECT_EQ(font->weight(), QFont::Normal);
    EXPECT_EQ(a->ResultBox()->font(), *font);
    EXPECT_EQ(a->first->box->font(), *font); // the pages' controls too
    Open();
    EXPECT_EQ(theApp.m_pResultFont, font);

    // Apply in Preferences leaves the font alone; OK drops it, and the next dialog makes a new one.
    theApp.m_sImageDir = theApp.m_sTableDir = theApp.m_sCodebookDir = theApp.m_sUserDir =
        QStringLiteral("/tmp/");
    {
        CSettingsDlg prefs(frame);
        prefs.m_pOptionsPage->m_nFontSize = 12;
        prefs.OnApply();
        EXPECT_EQ(theApp.m_pResultFont, font);
        prefs.OnOK();
        EXPECT_EQ(theApp.m_pResultFont, nullptr);
    }
    TestDlg *c = Open();
    ASSERT_NE(theApp.m_pResultFont, nullptr);
    EXPECT_EQ(theApp.m_pResultFont->pixelSize(), FontPixelHeight(12, c->logicalDpiY()));
    // The dialog opened before keeps the font it had.
    EXPECT_EQ(a->ResultBox()->font().pixelSize(), FontPixelHeight(8, a->logicalDpiY()));
}

TEST_F(ModuleDialogTest, ResultTextTakesWindowsLineEndsAndScrollsToTheEnd)
{
    TestDlg *dlg = Open();
    QString text;
    for (int i = 0; i < 200; ++i)
        text += QStringLiteral("line %1\r\n").arg(i);
    dlg->SetResultText(text);
    QScrollBar *bar = dlg->ResultBox()->verticalScrollBar();
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_FALSE(dlg->ResultBox()->toPlainText().contains('\r'));
    dlg->AppendResultText(QStringLiteral("PCM CODING RESULTS:\r\n"));
    EXPECT_TRUE(dlg->ResultBox()->toPlainText().endsWith(QStringLiteral("line 199\nPCM CODING RESULTS:\n")));
    EXPECT_EQ(bar->value(), bar->maximum());
}

TEST_F(ModuleDialogTest, HorizontalScrollBarFollowsTheOption)
{
    for (int option : {0, 1}) {
        theApp.m_bHScrollbar = option;
        TestDlg *dlg = Open();
        EXPECT_EQ(dlg->ResultBox()->horizontalScrollBarPolicy(),
                  option ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    }
}

// Without the horizontal scroll bar nothing would bring the end of a long line into view: it wraps,
// and every character is visible. With the bar it stays one line, and the bar scrolls it.
TEST_F(ModuleDialogTest, LongResultLinesWrapUnlessTheScrollBarIsShown)
{
    const QString line =
        QStringLiteral("Encoder mode selection and motion vector bit usage, per frame type and "
                       "bit category\r\n");
    for (int option : {0, 1}) {
        theApp.m_bHScrollbar = option;
        TestDlg *dlg = Open();
        QPlainTextEdit *box = dlg->ResultBox();
        dlg->SetResultText(line);
        const QTextBlock block = box->document()->firstBlock();
        box->document()->documentLayout()->blockBoundingRect(block);
        EXPECT_EQ(block.layout()->lineCount() > 1, option == 0) << option;
        if (option == 0)
            EXPECT_EQ(zntest::ResultTextProblems(box), "");
        else
            EXPECT_GT(box->horizontalScrollBar()->maximum(), 0);
    }
}

// Labels of many lengths before a tab, as the reports have them: at the regular distance some end
// within a blank of a stop and touch their value ("Blocksize16x16"). The box widens its stops so that
// none does, for text set at once and for text appended line by line.
TEST_F(ModuleDialogTest, TabStopsKeepEveryLabelClearOfItsValue)
{
    TestDlg *dlg = Open();
    QPlainTextEdit *box = dlg->ResultBox();
    const double regular = box->tabStopDistance();
    EXPECT_EQ(regular, ResultTabStop(box->font()));
    const QFontMetricsF fm(box->font());
    const double blank = fm.horizontalAdvance(QLatin1Char(' '));
    const char *labels[] = {
        "Blocksize",        "Smoothing",         "Window",           "Subsample",      "Max. Displ.",
        "Total #bits",      "Mean Square Error", "Encoded Bitrate",  "Display Order",  "Picture Type",
        "Frame dimensions", "Sequence length",   "Bit Stream Order", "Average SNR (Y)"};
    // A report's labels, and the first beginning of one of them that ends within a blank of a stop.
    QStringList lines;
    QString touching;
    auto touches = [&](const QString &label) {
        const double w = fm.horizontalAdvance(label);
        return (std::floor(w / regular) + 1) * regular - w < blank;
    };
    for (const char *whole : labels) {
        lines << QStringLiteral("  ") + QString::fromLatin1(whole) + QStringLiteral("\t16x16\t8x8\r\n");
        for (qsizetype n = 1; n <= qsizetype(std::strlen(whole)) && touching.isEmpty(); ++n)
            if (const QString label = QStringLiteral("  ") + QString::fromLatin1(whole).left(n);
                touches(label))
                touching = label;
    }
    ASSERT_FALSE(touching.isEmpty()) << "no label would touch its value at the regular distance";
    lines << touching + QStringLiteral("\t16x16\t8x8\r\n");
    dlg->SetResultText(lines.join(QString()));
    EXPECT_EQ(zntest::ResultTextProblems(box), "");
    EXPECT_GT(box->tabStopDistance(), regular);

    dlg->SetResultText(QStringLiteral("ESTIMATION RESULTS:\r\n"));
    EXPECT_EQ(box->tabStopDistance(), regular);
    for (const QString &line : lines)
        dlg->AppendResultText(line);
    EXPECT_EQ(zntest::ResultTextProblems(box), "");
}

TEST_F(ModuleDialogTest, CancelClearsTheDocumentPointerAndDeactivatesUnlessClosing)
{
    std::vector<std::string> deactivated;
    for (int closing : {0, 1}) {
        deactivated.clear();
        auto *doc = new CDibDoc; // the document installs the real hooks; the test's go over them
        GetModuleDialogHooks().setModuleInactive = [&](CDibDoc *, const std::string &key) {
            deactivated.push_back(key);
        };
        doc->m_bClosing = closing;
        QPointer<TestDlg> dlg = Open();
        dlg->m_pStartDibDoc = doc;
        doc->m_pPcmDlg = dlg;
        if (closing)
            dlg->close(); // the document's WM_CLOSE
        else
            QTest::mouseClick(dlg->CancelButton(), Qt::LeftButton);
        EXPECT_EQ(doc->m_pPcmDlg, nullptr);
        ASSERT_FALSE(dlg.isNull()); // only hidden
        EXPECT_FALSE(dlg->isVisible());
        EXPECT_EQ(deactivated, closing ? std::vector<std::string>{} : std::vector<std::string>{"PCM"});
        doc->m_bClosing = 1;
        delete doc;
    }
}

TEST_F(ModuleDialogTest, CloseIsIgnoredWhileCancelIsDisabled)
{
    TestDlg *dlg = Open();
    dlg->CancelButton()->setEnabled(false);
    dlg->close();
    EXPECT_TRUE(dlg->isVisible());
    dlg->CancelButton()->setEnabled(true);
    dlg->close();
    EXPECT_FALSE(dlg->isVisible());
}

TEST_F(ModuleDialogTest, BusyCursorWhileRecording)
{
    class StoringDlg : public TestDlg
    {
    public:
        StoringDlg() { UseStoringCursor(); }
    };
    bool storing = true;
    CDibDoc doc;
    GetModuleDialogHooks().isStoring = [&](const CDibDoc *) { return storing; };
    auto *dlg = new StoringDlg;
    dlg->m_pStartDibDoc = &doc;
    ASSERT_TRUE(dlg->Create());
    QEvent enter(QEvent::Enter);
    QCoreApplication::sendEvent(dlg, &enter);
    EXPECT_EQ(dlg->cursor().shape(), Qt::BusyCursor);
    storing = false;
    QCoreApplication::sendEvent(dlg, &enter);
    EXPECT_EQ(dlg->cursor().shape(), Qt::ArrowCursor);
    dlg->m_pStartDibDoc = nullptr;
}

} // namespace

} // namespace module_dialog_test
