// Every module dialog the program registers, as a user meets it in the 256-pixel column: every tab
// label shown whole without scroll arrows and selectable where it is drawn; after an Apply, every
// character of the result text visible (a line longer than the box wraps) with no label running
// into its value; and, in the default font, no label, button or check box shorter than its text.
// The still-image modules run on a picture, the video modules on a raw sequence and on the MPEG and
// H.264 streams that the program's own encoders make of it.
#include "modules/module_harness.h"

#include "image/cdib.h"
#include "modules/common/file_dialog.h"
#include "platform/messages.h"
#include "shell/compression_app.h"
#include "shell/dib_doc.h"
#include "shell/doc_commands.h"
#include "shell/main_frame.h"
#include "shell/module_dialog.h"
#include "support/layout_checks.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest/QTest>
#include <cmath>
#include <fstream>
#include <gtest/gtest.h>
#include <set>

void ZnRegisterModules(); // generated with the program's list of modules

namespace dialog_fit_test { // one namespace per test file: a folder compiles as one source

namespace {

const std::string kTables = std::string(ZN_BUILD_DIR) + "/tables/";

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
            for (const QString &line : QString(text).remove(QLatin1Char('&')).split(QLatin1Char('\n')))
                needed = std::max(needed, b->fontMetrics().horizontalAdvance(line) + 4);
        } else {
            continue;
        }
        EXPECT_LE(needed, w->width()) << where << ": \"" << text.toStdString() << "\" is cut";
        const QWidget *parent = w->parentWidget();
        EXPECT_LE(w->geometry().right(), parent->width() - 1)
            << where << ": \"" << text.toStdString() << "\" runs past its parent";
    }
}

// The first enabled, unchecked choice of a page that offers one, clicked as a user picks it.
bool PickFirstChoice(QWidget *page)
{
    for (QCheckBox *c : page->findChildren<QCheckBox *>())
        if (c->isEnabled() && !c->isChecked()) {
            c->click();
            return true;
        }
    for (QPushButton *b : page->findChildren<QPushButton *>())
        if (b->isCheckable() && b->isEnabled() && !b->isChecked()) {
            b->click();
            return true;
        }
    return false;
}

// An encoder runs once its output file is named: its first page's save button.
void NameOutputFile(QWidget *page)
{
    for (QPushButton *b : page->findChildren<QPushButton *>())
        if (!b->isCheckable() && b->isEnabled() &&
            b->text().startsWith(QStringLiteral("Save"), Qt::CaseInsensitive))
            b->click();
}

// A raw 4:2:0 sequence with its header: a pattern that moves two pixels a frame.
std::string WriteSequence(const zntest::ScratchDir &dir, int width, int height, int frames)
{
    const std::string path = dir.File("walk.yuv");
    std::ofstream out(path, std::ios::binary);
    for (int f = 0; f < frames; ++f) {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                out.put(
                    static_cast<char>(((x - 2 * f) * 7 + y * 13 + ((x - 2 * f) / 8 + y / 8) % 2 * 60) & 255));
        for (int k = 0; k < width * height / 2; ++k)
            out.put(static_cast<char>(128 + (k % 7)));
    }
    std::ofstream hdr(dir.File("walk.hdr"));
    hdr << height << "\n" << width << "\n1\n2\n" << frames << "\n0\n";
    return path;
}

struct FontCase
{
    const char *face;
    int size;
    bool pagesFit; // the pages were drawn for the default face; a wider one may cut their labels
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
        oldHook = SetModuleFileDialogHook([this](const ModuleFileRequest &r) {
            return r.save ? QString::fromStdString(h.Dir().File("out." + r.defaultSuffix.toStdString()))
                          : QString();
        });
    }
    void TearDown() override
    {
        SetModuleFileDialogHook(oldHook);
        theApp.ResetResultFont();
    }

    // Opens every module the document enables that no earlier document has shown, checks its tabs,
    // applies at its default settings and checks its result text.
    void CheckModules(CDibDoc *doc)
    {
        for (int id : ToolBarLayout()) {
            if (id == 0 || !CDibDoc::IsDocumentCommand(id) || !doc->DialogMember(id) || checked.count(id) ||
                !doc->IsCommandEnabled(id))
                continue;
            auto *dlg = dynamic_cast<CModuleDialog *>(h.OpenModule(doc, id));
            if (!dlg)
                continue; // a module with a dialog of its own shape
            checked.insert(id);
            QApplication::processEvents(); // what the window system does before the user sees it
            CheckDialog(dlg);
            dlg->OnCancel();
        }
    }

    void CheckDialog(CModuleDialog *dlg)
    {
        const std::string where = dlg->windowTitle().toStdString();
        // The whole dialog on the screen.
        EXPECT_LE(dlg->frameGeometry().bottom(), dlg->screen()->availableGeometry().bottom()) << where;
        if (CXTabCtrl *tabs = dlg->TabCtrl()) {
            EXPECT_EQ(zntest::TabLabelProblems(tabs), "") << where;
            int selected = tabs->GetCurSel();
            for (int i = 0; i < tabs->GetItemCount(); ++i) {
                QTest::mouseClick(tabs->TabBar(), Qt::LeftButton, {}, tabs->Rows()->RowTabRect(i).center());
                if (tabs->IsTabEnabled(i))
                    selected = i;
                EXPECT_EQ(tabs->GetCurSel(), selected)
                    << where << " tab " << tabs->GetTabText(i).toStdString();
                if (tabs->IsTabEnabled(i)) {
                    EXPECT_TRUE(tabs->GetPage(i)->isVisible()) << where;
                    if (GetParam().pagesFit)
                        ExpectNothingCut(tabs->GetPage(i), where + " / " + tabs->GetTabText(i).toStdString());
                }
            }
            QTest::mouseClick(tabs->TabBar(), Qt::LeftButton, {}, tabs->Rows()->RowTabRect(0).center());
        }
        ASSERT_NE(dlg->ApplyButton(), nullptr) << where;
        if (!dlg->ApplyButton()->isEnabled() && dlg->TabCtrl())
            NameOutputFile(dlg->TabCtrl()->GetPage(0));
        if (dlg->ApplyButton()->isEnabled())
            dlg->ApplyButton()->click();
        QApplication::processEvents();
        // A module that codes nothing until a choice is made (subsampling without a factor): the first
        // choice of its first page, as a user would take it, and Apply again.
        if (dlg->ResultBox() && dlg->ResultBox()->toPlainText().isEmpty() && dlg->TabCtrl() &&
            PickFirstChoice(dlg->TabCtrl()->GetPage(0)) && dlg->ApplyButton()->isEnabled()) {
            dlg->ApplyButton()->click();
            QApplication::processEvents();
        }
        if (QPlainTextEdit *box = dlg->ResultBox()) {
            // A module that needs a file the test does not make (a codebook) may show nothing.
            if (!box->toPlainText().isEmpty())
                withResults.push_back(where);
            EXPECT_EQ(zntest::ResultTextProblems(box), "") << where;
            EXPECT_LE(box->geometry().bottom(), dlg->height() - 1) << where;
        }
    }

    zn::MessageRecorder boxes; // a module that wants a file it has no answer for says so here
    zntest::ModuleHarness h;
    ModuleFileDialogHook oldHook;
    std::set<int> checked;
    std::vector<std::string> withResults;
};

TEST_P(DialogFit, EveryModuleShowsItsTabsAndItsResultsWhole)
{
    // A photo-like picture whose sides are powers of two, so every still-image module is enabled.
    auto image = zntest::MakeGreyDib(128, 128, [](int x, int y) {
        return static_cast<int>(120 + 70 * std::sin(x * 0.09) * std::cos(y * 0.07) +
                                ((x / 16 + y / 16) % 2) * 30);
    });
    CDibDoc *still = h.OpenImage("fit", *image);
    ASSERT_NE(still, nullptr);
    CheckModules(still);

    // The video modules: a sequence, then what the encoders made of it.
    CDibDoc *sequence = CDibDoc::OpenDocumentFile(QString::fromStdString(WriteSequence(h.Dir(), 64, 48, 4)));
    ASSERT_NE(sequence, nullptr);
    CheckModules(sequence);
    for (const char *stream : {"out.mpg", "out.264"}) {
        CDibDoc *doc = CDibDoc::OpenDocumentFile(QString::fromStdString(h.Dir().File(stream)));
        ASSERT_NE(doc, nullptr) << stream << " was not written";
        CheckModules(doc);
    }

    // No module dialog left out (the R(D) storing and plotting dialogs have a shape of their own).
    for (int id : ToolBarLayout()) {
        if (id != 0 && CDibDoc::IsDocumentCommand(id) && still->DialogMember(id) && id != zn::cmd::kStoreRD &&
            id != zn::cmd::kPlotRD) {
            EXPECT_EQ(checked.count(id), 1u) << "module " << id << " was never opened";
        }
    }
    EXPECT_GE(withResults.size(), 14u);
}

// The built-in default ("MS Sans Serif", which Debian lacks), a face no system has, and a face a user
// may pick that is wider than the one the dialogs were drawn for.
INSTANTIATE_TEST_SUITE_P(Fonts, DialogFit,
                         ::testing::Values(FontCase{"MS Sans Serif", 8, true},
                                           FontCase{"No Such Face", 8, true},
                                           FontCase{"DejaVu Sans", 9, false}),
                         [](const ::testing::TestParamInfo<FontCase> &info) {
                             return std::string(info.param.pagesFit ? "Default" : "Wider") +
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
