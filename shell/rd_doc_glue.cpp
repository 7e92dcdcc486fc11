// The R(D) dialogs' side of the document: its two dialog pointers, the module dialog of each R(D)
// key, and the factories of "Store R(D) Points" and "Plot R(D) Points".
#include "shell/rd_doc_glue.h"

#include "shell/dib_doc.h"
#include "shell/doc_commands.h"
#include "shell/rd_plot_dlg.h"
#include "shell/rd_storing_dlg.h"

#include "shell/compression_app.h"
#include "shell/doc_app.h"
#include "shell/main_frame.h"
#include "shell/rd_database.h"

#include <QDialog>
#include <QFileDialog>
#include <QRegularExpression>

void RDClearStoringDlgPointer(CDibDoc *doc)
{
    if (doc)
        doc->m_pRDStoringDlg = nullptr;
}

void RDClearPlotDlgPointer(CDibDoc *doc)
{
    if (doc)
        doc->m_pRDPlotDlg = nullptr;
}

QWidget *RDModuleDialog(CDibDoc *doc, const std::string &key)
{
    if (!doc)
        return nullptr;
    static const struct
    {
        const char *key;
        QDialog *CDibDoc::*member;
    } kDialogs[] = {{"PCM", &CDibDoc::m_pPcmDlg},     {"DPCM", &CDibDoc::m_pDpcmDlg},
                    {"VQ", &CDibDoc::m_pVqDlg},       {"FRAC", &CDibDoc::m_pFractalDlg},
                    {"DCT", &CDibDoc::m_pDctDlg},     {"JPEG", &CDibDoc::m_pJpegDlg},
                    {"SBC", &CDibDoc::m_pSbcDlg},     {"EZW", &CDibDoc::m_pEzwDlg},
                    {"SPIHT", &CDibDoc::m_pSpihtDlg}, {"JPEG2000", &CDibDoc::m_pJpeg2000Dlg}};
    for (const auto &d : kDialogs) {
        if (key == d.key)
            return doc->*d.member;
    }
    return nullptr;
}

QWidget *RDMainWindow()
{
    return theApp.m_pMainWnd;
}

bool RDMainClientArea(QPoint *origin, QSize *client)
{
    CMainFrame *main = theApp.m_pMainWnd;
    if (!main)
        return false;
    *origin = main->frameGeometry().topLeft();
    *client = main->ClientSize();
    return true;
}

void RegisterRDDialogs()
{
    CDibDoc::RegisterModuleDialog(zn::cmd::kStoreRD, [](CDibDoc *doc) -> QDialog * {
        return new CRDStoringDlg(doc, doc->m_pRDData, RDMainWindow());
    });
    CDibDoc::RegisterModuleDialog(zn::cmd::kPlotRD, [](CDibDoc *doc) -> QDialog * {
        return new CRDPlotDlg(doc, doc->m_pRDData, RDMainWindow());
    });
    CDibDoc::SetModuleActivatedHandler([](QDialog *storingDlg, const std::string &key) {
        if (auto *dlg = dynamic_cast<CRDStoringDlg *>(storingDlg))
            dlg->DisplayModuleActivated(key);
    });
}

void RDConfigureSaveDialog(QFileDialog *dialog, const zn::RDSaveRequest &request)
{
    dialog->setWindowTitle(QString::fromStdString(request.title));
    dialog->setNameFilter(DocQtFilter(QString::fromStdString(request.filter)));
    dialog->setDirectory(QString::fromStdString(request.dir));
    dialog->selectFile(QString::fromStdString(request.dir + request.defaultName));
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setDefaultSuffix(QString::fromStdString(request.defaultExt));
    dialog->setOption(QFileDialog::DontConfirmOverwrite, !request.confirmOverwrite);
    // A name typed without an extension takes the one of the filter chosen ("Postscript file (*.ps)"
    // gives .ps), not always the default's.
    QObject::connect(dialog, &QFileDialog::filterSelected, dialog, [dialog](const QString &filter) {
        static const QRegularExpression kExtension(QStringLiteral("\\(\\*\\.(\\w+)\\)"));
        const QRegularExpressionMatch m = kExtension.match(filter);
        if (m.hasMatch())
            dialog->setDefaultSuffix(m.captured(1));
    });
}
