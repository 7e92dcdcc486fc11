// A module dialog opened the way the user opens it: the document's command through the main
// window. The dialog lands in the column with the image title in its caption, hears that its
// document is attached, registers with the R(D) store, and leaves cleanly on Cancel and on close.
#include "doc_fixture.h"
#include "platform/messages.h"
#include "shell/compression_app.h"
#include "shell/dib_doc.h"
#include "shell/doc_commands.h"
#include "shell/main_frame.h"
#include "shell/module_dialog.h"
#include "shell/rd_database.h"
#include "support/test_support.h"

#include <QMdiArea>
#include <QPointer>
#include <QPushButton>
#include <QtTest/QTest>
#include <gtest/gtest.h>

namespace module_seam_test { // one namespace per test file: a folder compiles as one source

namespace {

class DctLikeDlg : public CModuleDialog
{
public:
    static ModuleTemplate Template()
    {
        ModuleTemplate t;
        t.caption = QStringLiteral("Discrete Cosine Transform: ");
        t.groupId = 1100;
        t.groupText = QStringLiteral("Set DCT Parameters");
        t.tabId = 1101;
        t.applyId = 1102;
        t.resultId = 1103;
        return t;
    }
    DctLikeDlg() : CModuleDialog(179, Template())
    {
        SetRDKey("DCT");
        UseStoringCursor();
    }
    int attached = 0;
    void OnDocumentAttached() override { ++attached; }
};

TEST(ModuleSeam, OpenedFromTheMenuCancelledAndClosedWithItsDocument)
{
    zntest::ScratchDir dir;
    auto *frame = new CMainFrame;
    ASSERT_TRUE(frame->LoadFrame());
    frame->show();
    theApp.m_pMainWnd = frame;
    CDibDoc::RegisterModuleDialog(zn::cmd::kDct, [](CDibDoc *doc) -> QDialog * {
        auto *dlg = new DctLikeDlg;
        dlg->Create();
        dlg->m_pStartDibDoc = doc;
        return dlg;
    });

    doctest::WriteBmp8(dir.File("lena.bmp"), 64, 64, 0);
    zn::MessageRecorder rec;
    ASSERT_TRUE(frame->OpenDocumentFile(QString::fromStdString(dir.File("lena.bmp"))));
    CDibDoc *doc = CDibDoc::Documents().front();
    frame->MdiArea()->setActiveSubWindow(frame->MdiArea()->subWindowList().front());
    frame->UpdateCommandUI();
    ASSERT_TRUE(frame->Action(zn::cmd::kDct)->isEnabled());

    frame->Action(zn::cmd::kDct)->trigger();
    QPointer<DctLikeDlg> dlg = dynamic_cast<DctLikeDlg *>(doc->m_pDctDlg);
    ASSERT_TRUE(dlg);
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(dlg->windowTitle(), QStringLiteral("Discrete Cosine Transform: lena"));
    EXPECT_EQ(dlg->attached, 1);
    EXPECT_EQ(dlg->parentWidget(), frame);
    EXPECT_EQ(dlg->x() - frame->frameGeometry().x(), frame->ClientSize().width() - 255);
    ASSERT_NE(doc->m_pRDData, nullptr);
    EXPECT_EQ(doc->m_pRDData->GetNumberOfActiveModules(), 1);

    // A second command only brings the same dialog forward.
    frame->Action(zn::cmd::kDct)->trigger();
    EXPECT_EQ(doc->m_pDctDlg, dlg.data());
    EXPECT_EQ(dlg->attached, 1);

    // Cancel: hidden, the document forgets it, the module is no longer active.
    QTest::mouseClick(dlg->CancelButton(), Qt::LeftButton);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(doc->m_pDctDlg, nullptr);
    EXPECT_EQ(doc->m_pRDData->GetNumberOfActiveModules(), 0);

    // Open again, then close the document: the dialog goes with it and nothing is asked.
    frame->Action(zn::cmd::kDct)->trigger();
    QPointer<QDialog> second = doc->m_pDctDlg;
    ASSERT_TRUE(second);
    frame->Action(zn::cmd::kFileClose)->trigger();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(CDibDoc::Documents().empty());
    EXPECT_TRUE(second.isNull() || !second->isVisible());
    EXPECT_EQ(rec.Count(), 0u);

    CDibDoc::RegisterModuleDialog(zn::cmd::kDct, nullptr);
    theApp.m_pMainWnd = nullptr;
    delete frame;
    theApp.RemoveFromRecentFileList(QString::fromStdString(dir.File("lena.bmp")));
}

} // namespace

} // namespace module_seam_test
