// Every module dialog the program registers, as a user meets it in the 256-pixel column: after one
// Apply the widest result line fits the box (or, in a wider face the user chose, the End key scrolls
// it into view), every tab can be reached and selected with the mouse, and in the default font no
// label, button or check box is shorter than its text.
#include "modules/module_harness.h"

#include "image/cdib.h"
#include "platform/messages.h"
#include "shell/compression_app.h"
#include "shell/dib_doc.h"
#include "shell/main_frame.h"
#include "shell/module_dialog.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTabBar>
#include <QTextBlock>
#include <QTextLayout>
#include <QToolButton>
#include <QtTest/QTest>
#include <cmath>
#include <gtest/gtest.h>

void ZnRegisterModules(); // generated with the program's list of modules

namespace dialog_fit_test { // one namespace per test file: a folder compiles as one source

namespace {

const std::string kTables = std::string(ZN_BUILD_DIR) + "/tables/";

// Width of a line as the box lays it out: its font and its tab distance.
double LineWidth(const QPlainTextEdit *box, const QString &line)
{
    QTextLayout layout(line, box->font());
    QTextOption option;
    option.setTabStopDistance(box->tabStopDistance());
    option.setWrapMode(QTextOption::NoWrap);
    layout.setTextOption(option);
    layout.beginLayout();
    QTextLine l = layout.createLine();
    l.setLineWidth(1e6);
    layout.endLayout();
    return l.naturalTextWidth();
}

struct WidestLine
{
    int block = -1;
    double width = 0;
};

WidestLine Widest(const QPlainTextEdit *box)
{
    WidestLine w;
    const QTextDocument *doc = box->document();
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
        const double width = LineWidth(box, b.text());
        if (width > w.width)
            w = {b.blockNumber(), width};
    }
    return w;
}

// The result box shows its widest line whole, or End on that line brings its end into view.
::testing::AssertionResult WidestLineReadable(QPlainTextEdit *box, bool mustFit)
{
    const WidestLine w = Widest(box);
    if (w.block < 0)
        return ::testing::AssertionSuccess();
    const double room = box->viewport()->width() - 2 * box->document()->documentMargin();
    const QString line = box->document()->findBlockByNumber(w.block).text();
    if (w.width <= room)
        return ::testing::AssertionSuccess();
    if (mustFit)
        return ::testing::AssertionFailure()
               << "\"" << line.toStdString() << "\" is " << w.width << " pixels wide, the box shows " << room;
    QTextCursor c(box->document()->findBlockByNumber(w.block));
    box->setTextCursor(c);
    box->setFocus();
    QTest::keyClick(box, Qt::Key_End);
    const QRect caret = box->cursorRect();
    if (box->textCursor().atBlockEnd() && caret.right() <= box->viewport()->width() && caret.left() >= 0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "End does not bring the end of \"" << line.toStdString()
                                         << "\" into view (caret at " << caret.left() << ")";
}

// Brings tab index into the visible part of the row with the scroll arrows, then clicks it.
void ClickTabAsUser(CXTabCtrl *tabs, int index)
{
    QTabBar *bar = tabs->TabBar();
    for (int step = 0; step < 40; ++step) {
        int visibleRight = bar->width();
        QToolButton *left = nullptr, *right = nullptr;
        for (QToolButton *b : bar->findChildren<QToolButton *>()) {
            if (!b->isVisible())
                continue;
            visibleRight = std::min(visibleRight, b->x());
            if (!left || b->x() < left->x())
                left = b;
            if (!right || b->x() > right->x())
                right = b;
        }
        const QRect r = bar->tabRect(index);
        if (r.left() >= 0 && r.right() < visibleRight)
            break;
        ASSERT_NE(right, nullptr) << "tab " << index << " lies outside the row and there are no arrows";
        QTest::mouseClick(r.left() < 0 ? left : right, Qt::LeftButton);
    }
    const QRect r = bar->tabRect(index);
    QTest::mouseClick(bar, Qt::LeftButton, {}, r.center());
}

// Labels, buttons and check boxes show their whole text, inside their parent.
void ExpectNothingCut(const QWidget *page, const std::string &where)
{
    for (const QWidget *w : page->findChildren<QWidget *>()) {
        if (!w->isVisibleTo(page))
            continue;
        QString text;
        int needed = 0;
        if (auto *l = qobject_cast<const QLabel *>(w)) {
            if (l->text().isEmpty() || l->wordWrap() || !l->pixmap().isNull())
                continue;
            text = l->text();
            needed = l->sizeHint().width();
        } else if (auto *c = qobject_cast<const QCheckBox *>(w)) {
            text = c->text();
            needed = c->sizeHint().width();
        } else if (auto *b = qobject_cast<const QPushButton *>(w)) {
            if (b->text().isEmpty())
                continue;
            text = b->text();
            needed = b->fontMetrics().horizontalAdvance(QString(text).remove(QLatin1Char('&'))) + 4;
        } else {
            continue;
        }
        EXPECT_LE(needed, w->width()) << where << ": \"" << text.toStdString() << "\" is cut";
        const QWidget *parent = w->parentWidget();
        EXPECT_LE(w->geometry().right(), parent->width() - 1)
            << where << ": \"" << text.toStdString() << "\" runs past its parent";
    }
}

struct FontCase
{
    const char *face;
    int size;
    bool mustFit; // the default font fits; a wider face chosen by the user may scroll
};

class DialogFit : public ::testing::TestWithParam<FontCase>
{
protected:
    void SetUp() override
    {
        static bool registered = false;
        if (!registered) {
            ZnRegisterModules();
            registered = true;
        }
        theApp.m_sTableDir = QString::fromStdString(kTables);
        theApp.m_sFontType = QString::fromLatin1(GetParam().face);
        theApp.m_nFontSize = GetParam().size;
        theApp.m_bHScrollbar = 0;
        theApp.ResetResultFont();
    }
    void TearDown() override { theApp.ResetResultFont(); }

    zn::MessageRecorder boxes; // a module that wants a file it has no answer for says so here
};

TEST_P(DialogFit, EveryModuleShowsItsResultsAndEveryTab)
{
    zntest::ModuleHarness h;
    // A photo-like picture whose sides are powers of two, so every still-image module is enabled.
    auto image = zntest::MakeGreyDib(128, 128, [](int x, int y) {
        return static_cast<int>(120 + 70 * std::sin(x * 0.09) * std::cos(y * 0.07) +
                                ((x / 16 + y / 16) % 2) * 30);
    });
    CDibDoc *doc = h.OpenImage("fit", *image);
    ASSERT_NE(doc, nullptr);
    int opened = 0;
    int withResults = 0;
    for (int id : ToolBarLayout()) {
        if (id == 0 || !CDibDoc::IsDocumentCommand(id) || !doc->DialogMember(id) ||
            !doc->IsCommandEnabled(id))
            continue;
        auto *dlg = dynamic_cast<CModuleDialog *>(h.OpenModule(doc, id));
        if (!dlg)
            continue; // a module with a dialog of its own shape
        ++opened;
        QApplication::processEvents(); // what the window system does before the user sees it
        const std::string where = dlg->windowTitle().toStdString();
        // The whole dialog on the screen.
        EXPECT_LE(dlg->frameGeometry().bottom(), dlg->screen()->availableGeometry().bottom()) << where;
        if (CXTabCtrl *tabs = dlg->TabCtrl()) {
            EXPECT_LE(tabs->TabBar()->width(), tabs->width()) << where;
            int selected = tabs->GetCurSel();
            for (int i = 0; i < tabs->GetItemCount(); ++i) {
                ClickTabAsUser(tabs, i);
                if (tabs->IsTabEnabled(i))
                    selected = i;
                EXPECT_EQ(tabs->GetCurSel(), selected)
                    << where << " tab " << tabs->GetTabText(i).toStdString();
                if (tabs->IsTabEnabled(i)) {
                    EXPECT_TRUE(tabs->GetPage(i)->isVisible()) << where;
                    // The column has no room to spare for a face wider than the default.
                    if (GetParam().mustFit)
                        ExpectNothingCut(tabs->GetPage(i), where + " / " + tabs->GetTabText(i).toStdString());
                }
            }
            ClickTabAsUser(tabs, 0);
        }
        ASSERT_NE(dlg->ApplyButton(), nullptr) << where;
        if (dlg->ApplyButton()->isEnabled())
            dlg->ApplyButton()->click();
        QApplication::processEvents();
        // A module that codes nothing until a choice is made (subsampling without a factor): take the
        // first choice of its first page, as a user would, and apply again.
        if (dlg->ResultBox() && dlg->ResultBox()->toPlainText().isEmpty() && dlg->TabCtrl()) {
            QWidget *first = dlg->TabCtrl()->GetPage(0);
            QAbstractButton *choice = nullptr;
            for (QCheckBox *c : first->findChildren<QCheckBox *>())
                if (!choice && c->isEnabled() && !c->isChecked())
                    choice = c;
            for (QPushButton *b : first->findChildren<QPushButton *>())
                if (!choice && b->isCheckable() && b->isEnabled() && !b->isChecked())
                    choice = b;
            if (choice)
                choice->click();
            if (dlg->ApplyButton()->isEnabled())
                dlg->ApplyButton()->click();
            QApplication::processEvents();
        }
        if (QPlainTextEdit *box = dlg->ResultBox()) {
            // A module that needs a file the test does not make (a codebook) may show nothing.
            if (!box->toPlainText().isEmpty())
                ++withResults;
            EXPECT_TRUE(WidestLineReadable(box, GetParam().mustFit)) << where;
            EXPECT_LE(box->geometry().bottom(), dlg->height() - 1) << where;
        }
        dlg->OnCancel();
    }
    EXPECT_GE(opened, 6); // subsampling, PCM, DPCM, DCT, JPEG, subband at least
    EXPECT_GE(withResults, 6);
}

// The built-in default ("MS Sans Serif", which Debian lacks), a face no system has, and the face a
// user may pick that is wider than the one the dialogs were drawn for.
INSTANTIATE_TEST_SUITE_P(Fonts, DialogFit,
                         ::testing::Values(FontCase{"MS Sans Serif", 8, true},
                                           FontCase{"No Such Face", 8, true},
                                           FontCase{"DejaVu Sans", 9, false}),
                         [](const ::testing::TestParamInfo<FontCase> &info) {
                             return std::string(info.param.mustFit ? "Fits" : "Scrolls") +
                                    std::to_string(info.index);
                         });

// The substitute face is chosen at the largest size whose average letter is no wider than that of
// the Windows face at the size asked for.
TEST(ResultFont, SubstituteIsCondensedAtAWidthLikeTheWindowsFace)
{
    const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    for (int pt : {8, 10, 12}) {
        const QFont f = CCompressionApp::MakeResultFont(QFont(), QStringLiteral("MS Sans Serif"), pt, 96);
        EXPECT_EQ(f.family(), QString::fromLatin1(CCompressionApp::kSubstituteResultFace)) << pt;
        const int px = FontPixelHeight(pt, 96);
        EXPECT_LE(f.pixelSize(), px);
        EXPECT_LE(QFontMetricsF(f).horizontalAdvance(letters) / 52, 6.0 * px / 11 + 1e-9) << pt;
        // One pixel larger would be wider than that, unless it is the size asked for.
        if (f.pixelSize() < px) {
            QFont larger = f;
            larger.setPixelSize(f.pixelSize() + 1);
            EXPECT_GT(QFontMetricsF(larger).horizontalAdvance(letters) / 52, 6.0 * px / 11) << pt;
        }
    }
    // A face the system has is used as named, at the size named.
    const QFont named = CCompressionApp::MakeResultFont(QFont(), QStringLiteral("DejaVu Sans"), 9, 96);
    EXPECT_EQ(named.family(), QStringLiteral("DejaVu Sans"));
    EXPECT_EQ(named.pixelSize(), 12);
}

} // namespace

} // namespace dialog_fit_test
