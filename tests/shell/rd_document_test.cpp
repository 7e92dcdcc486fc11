// The R(D) dialogs as the document opens them: captions, the module list following the module
// dialogs, Start bringing the module forward, the module's Cancel ending the recording, and a
// document closed in the middle of a recording.
#include "doc_fixture.h"
#include "platform/messages.h"
#include "shell/doc_commands.h"
#include "shell/module_dialog.h"
#include "shell/rd_database.h"
#include "shell/rd_doc_glue.h"
#include "shell/rd_plot_dlg.h"
#include "shell/rd_storing_dlg.h"

#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QtTest/QTest>

namespace rd_document_test { // one namespace per test file: a folder compiles as one source

using namespace zn::cmd;

namespace {

class RDDocument : public doctest::DocFixture
{
protected:
    void SetUp() override
    {
        DocFixture::SetUp();
        RegisterRDDialogs();
        CDibDoc::RegisterModuleDialog(kPcm, doctest::StandInFactory("PCM: ", "PCM"));
        CDibDoc::RegisterModuleDialog(kDpcm, doctest::StandInFactory("DPCM: ", "DPCM"));
    }
    void TearDown() override
    {
        for (int id : {kPcm, kDpcm, kStoreRD, kPlotRD})
            CDibDoc::RegisterModuleDialog(id, nullptr);
        CDibDoc::SetModuleActivatedHandler(nullptr);
        DocFixture::TearDown();
    }
    static void Click(QWidget *w)
    {
        ASSERT_NE(w, nullptr);
        QTest::mouseClick(w, Qt::LeftButton);
    }
    zn::MessageRecorder boxes;
};

TEST_F(RDDocument, StoringAndPlottingThroughTheDocument)
{
    CDibDoc *doc = OpenBmp("lena.bmp", 64, 64);
    ASSERT_NE(doc, nullptr);
    EXPECT_FALSE(doc->IsCommandEnabled(kStoreRD));
    doc->OnCommand(kPcm);
    ASSERT_NE(doc->m_pPcmDlg, nullptr);
    EXPECT_FALSE(doc->IsCommandEnabled(kPlotRD));
    doc->OnCommand(kStoreRD);
    auto *storing = dynamic_cast<CRDStoringDlg *>(doc->m_pRDStoringDlg);
    ASSERT_NE(storing, nullptr);
    EXPECT_EQ(storing->windowTitle(), "Store R(D) Points: lena");
    auto *modules = storing->Item<QComboBox>(CRDStoringDlg::IDC_RD_MODULES);
    EXPECT_EQ(modules->currentText(), "PCM");
    EXPECT_TRUE(doc->IsCommandEnabled(kPlotRD));
    doc->OnCommand(kPlotRD);
    auto *plot = dynamic_cast<CRDPlotDlg *>(doc->m_pRDPlotDlg);
    ASSERT_NE(plot, nullptr);
    EXPECT_EQ(plot->windowTitle(), "Bit Rate Versus (P)SNR: lena");

    // Choosing a module selects it in the storing dialog.
    doc->OnCommand(kDpcm);
    EXPECT_EQ(modules->count(), 2);
    EXPECT_EQ(modules->currentText(), "DPCM");
    doc->OnCommand(kPcm);
    EXPECT_EQ(modules->currentText(), "PCM");

    // Start shows the recorded module's dialog again.
    doc->m_pPcmDlg->hide();
    Click(storing->Item<QPushButton>(CRDStoringDlg::IDC_RD_START));
    EXPECT_TRUE(doc->m_pPcmDlg->isVisible());
    EXPECT_EQ(boxes.Count(), 0u);
    doc->m_pRDData->StoreRDPoint("PCM", 2.0f, 30, 40, 1);
    doc->m_pRDData->StoreRDPoint("PCM", 1.0f, 25, 35, 2);
    // The busy cursor over both dialogs while points are being recorded.
    for (QWidget *w : {static_cast<QWidget *>(storing), static_cast<QWidget *>(plot)}) {
        QEvent enter(QEvent::Enter);
        QCoreApplication::sendEvent(w, &enter);
        EXPECT_EQ(w->cursor().shape(), Qt::BusyCursor);
    }

    // The module's own Cancel closes the curve and releases the storing dialog.
    auto *pcm = static_cast<CModuleDialog *>(doc->m_pPcmDlg);
    Click(pcm->CancelButton());
    EXPECT_EQ(doc->m_pPcmDlg, nullptr);
    EXPECT_FALSE(doc->m_pRDData->IsStoring());
    EXPECT_TRUE(storing->Item<QPushButton>(CRDStoringDlg::IDC_RD_STOP)->isChecked());
    EXPECT_TRUE(storing->GetDlgItem(IDCANCEL)->isEnabled());
    EXPECT_EQ(storing->Item<QLabel>(CRDStoringDlg::IDC_RD_LAST_MESSAGE)->text(),
              "(PCM) 2 R(D) points stored");
    EXPECT_EQ(modules->currentText(), "DPCM");
    auto *plotList = plot->Item<QComboBox>(CRDPlotDlg::IDC_RDPLOT_PROFILES);
    EXPECT_EQ(plotList->currentText(), "PCM_0001");
    Click(plot->Item<QPushButton>(CRDPlotDlg::IDC_RDPLOT_PLOTCURVE));
    EXPECT_EQ(plot->View()->Graph().EntryCount(), 2);
    QEvent enter(QEvent::Enter);
    QCoreApplication::sendEvent(plot, &enter);
    EXPECT_EQ(plot->cursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(boxes.Count(), 0u);

    // Cancel of the storing dialog: the document forgets it, so plotting is no longer offered.
    Click(storing->GetDlgItem(IDCANCEL));
    EXPECT_EQ(doc->m_pRDStoringDlg, nullptr);
    EXPECT_FALSE(doc->IsCommandEnabled(kPlotRD));
}

TEST_F(RDDocument, ClosingTheDocumentWhileRecording)
{
    CDibDoc *doc = OpenBmp("moon.bmp", 32, 32);
    ASSERT_NE(doc, nullptr);
    doc->OnCommand(kDpcm);
    doc->OnCommand(kStoreRD);
    doc->OnCommand(kPlotRD);
    QPointer<QDialog> storing = doc->m_pRDStoringDlg;
    Click(storing->findChild<QPushButton *>(QStringLiteral("ctrl1634")));
    ASSERT_TRUE(doc->m_pRDData->IsStoring());
    doc->m_pMainFrame->close();
    Flush();
    EXPECT_TRUE(storing.isNull());
    EXPECT_EQ(boxes.Count(), 0u); // no messages about inactive modules
}

} // namespace

} // namespace rd_document_test
