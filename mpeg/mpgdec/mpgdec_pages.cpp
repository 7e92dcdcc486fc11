// The decoder pages. The option pages tell the dialog only of real changes (Display of every click);
// the Save page keeps its file for the next Apply and allows one file per dialog; the channel page
// remembers the original stream the first time it sends it, so "Reload Original" can return to it.
#include "mpeg/mpgdec/mpgdec_pages.h"

#include "image/cdib.h"
#include "modules/common/file_dialog.h"
#include "mpeg/channel/wireless_channel_dlg.h"
#include "platform/messages.h"
#include "shell/dib_doc.h"
#include "shell/doc_app.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// The document of the page's owner dialog, with its image; nullptr when there is none.
CDibDoc *OwnerDocument(const CModulePage *page)
{
    auto *dlg = qobject_cast<CModuleDialog *>(page->GetOwner());
    CDibDoc *doc = dlg ? dlg->m_pStartDibDoc : nullptr;
    return doc && doc->m_pDib ? doc : nullptr;
}

QGroupBox *ColumnGroup(QWidget *page, int id, const QString &text, QVBoxLayout **column)
{
    auto *group = new QGroupBox(text, page);
    zn::SetCtrlId(group, id);
    *column = new QVBoxLayout(group);
    (*column)->setSpacing(2);
    (*column)->setContentsMargins(6, 4, 6, 4);
    return group;
}

} // namespace

CMpgdecOperationDlg::CMpgdecOperationDlg(QWidget *parent) : CModulePage(IDD, parent)
{
    static const char *const kTexts[3] = {"Decoded   frames", "  Frame prediction", " Coded differnce"};
    m_pModes = new zn::PushRadioGroup(this);
    QVBoxLayout *column = nullptr;
    QGroupBox *group = ColumnGroup(this, IDC_GROUP, QStringLiteral("Set decoder output"), &column);
    for (int i = 0; i < 3; ++i)
        column->addWidget(m_pModes->Add(kModeIds[i], QString::fromLatin1(kTexts[i])));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addStretch();
    m_pModes->Select(kModeIds[0]);
    connect(m_pModes, &zn::PushRadioGroup::Clicked, this, [this](int id) {
        for (int i = 0; i < 3; ++i)
            if (kModeIds[i] == id && i != m_nMode) {
                m_nMode = i;
                NotifyOwner(WM_MPGDEC_MODE_CHANGED);
            }
    });
}

CMpgdecVideoDlg::CMpgdecVideoDlg(QWidget *parent) : CModulePage(IDD, parent)
{
    m_pChoices = new zn::PushRadioGroup(this);
    QPushButton *frame = m_pChoices->Add(IDC_FRAME_BY_FRAME, QStringLiteral("Frame-by-Frame"));
    auto *group = new QGroupBox(QStringLiteral("Select Video"), this);
    zn::SetCtrlId(group, IDC_GROUP);
    auto *column = new QVBoxLayout(group);
    column->setContentsMargins(6, 4, 6, 4);
    column->addWidget(frame);
    auto *row = new QHBoxLayout;
    row->addWidget(new QLabel(QStringLiteral("Loops"), group));
    for (int i = 0; i < 4; ++i)
        row->addWidget(m_pChoices->Add(kLoopIds[i], QString::number(kLoops[i])));
    column->addLayout(row);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addStretch();
    m_pChoices->Select(kLoopIds[0]);
    connect(m_pChoices, &zn::PushRadioGroup::Clicked, this, [this](int id) {
        int frameByFrame = 1, loops = 1;
        for (int i = 0; i < 4; ++i)
            if (kLoopIds[i] == id) {
                frameByFrame = 0;
                loops = kLoops[i];
            }
        if (frameByFrame == m_bFrameByFrame && loops == m_nLoops)
            return;
        m_bFrameByFrame = frameByFrame;
        m_nLoops = loops;
        NotifyOwner(WM_MPGDEC_VIDEO_CHANGED);
    });
}

CMpgdecDisplayDlg::CMpgdecDisplayDlg(QWidget *parent) : CModulePage(IDD, parent)
{
    QVBoxLayout *column = nullptr;
    QGroupBox *group = ColumnGroup(this, IDC_GROUP, QStringLiteral("Display Options"), &column);
    m_pColor = zn::MakeCheckBox(group, IDC_COLOR, QStringLiteral("Color display"));
    m_pOverlay = zn::MakeCheckBox(group, IDC_OVERLAY, QStringLiteral("Motion vector overlay"));
    m_pNoB = zn::MakeCheckBox(group, IDC_NO_B, QStringLiteral("No B frames"));
    for (QCheckBox *c : {m_pColor, m_pOverlay, m_pNoB}) {
        column->addWidget(c);
        connect(c, &QCheckBox::clicked, this, [this] {
            m_bColorDisplay = m_pColor->isChecked() ? 1 : 0;
            m_bVectorOverlay = m_pOverlay->isChecked() ? 1 : 0;
            m_bNoBFrames = m_pNoB->isChecked() ? 1 : 0;
            NotifyOwner(WM_MPGDEC_DISPLAY_CHANGED);
        });
    }
    m_pColor->setChecked(true);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addStretch();
}

CMpgdecSaveDlg::CMpgdecSaveDlg(QWidget *parent) : CModulePage(IDD, parent)
{
    QVBoxLayout *column = nullptr;
    QGroupBox *group = ColumnGroup(this, IDC_GROUP, QStringLiteral("Click to select file name"), &column);
    m_pSave = Ctrl(new QPushButton(QStringLiteral("Save decoded Mpeg as ..."), group), IDC_SAVE);
    m_pSave->setAutoDefault(false);
    column->addWidget(m_pSave);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addStretch();
    connect(m_pSave, &QPushButton::clicked, this, &CMpgdecSaveDlg::OnSaveAs);
}

void CMpgdecSaveDlg::OnSaveAs()
{
    const CDibDoc *doc = OwnerDocument(this);
    ModuleFileRequest request;
    request.save = true;
    request.title = QStringLiteral("Save the Decoded MPEG Sequence as ...");
    request.initialDir = DocUserDir();
    request.initialName =
        QString::fromStdString(doc ? doc->m_pDib->m_title : std::string()) + QStringLiteral("(MpegDecoded)");
    request.filter = QStringLiteral("Raw YUV Image Sequence (*.yuv)|*.yuv||");
    request.defaultSuffix = QStringLiteral("yuv");
    const QString path = RunModuleFileDialog(request);
    if (path.isEmpty()) {
        m_bChosen = 0;
        return;
    }
    // The path keeps its case: a lower-cased copy would name another file on this system.
    m_sPath = path.toStdString();
    m_bChosen = 1;
    m_pSave->setEnabled(false); // one save file per dialog
}

CMpgdecChannelDlg::CMpgdecChannelDlg(QWidget *parent) : CModulePage(IDD, parent)
{
    QVBoxLayout *column = nullptr;
    QGroupBox *group =
        ColumnGroup(this, IDC_GROUP, QStringLiteral("Mpeg Over Error-Prone Channels "), &column);
    auto *simulate = Ctrl(new QPushButton(QStringLiteral("Simulate Wireless Channel"), group), IDC_SIMULATE);
    auto *reload = Ctrl(new QPushButton(QStringLiteral("Reload Original"), group), IDC_RELOAD);
    for (QPushButton *b : {simulate, reload}) {
        b->setAutoDefault(false);
        column->addWidget(b);
    }
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addStretch();
    connect(simulate, &QPushButton::clicked, this, &CMpgdecChannelDlg::OnMpgdecchannelOk);
    connect(reload, &QPushButton::clicked, this, &CMpgdecChannelDlg::OnReloadOriginal);
}

void CMpgdecChannelDlg::OnMpgdecchannelOk()
{
    CDibDoc *doc = OwnerDocument(this);
    QWidget *owner = GetOwner();
    if (!doc || !owner)
        return;
    CDib *dib = doc->m_pDib;
    if (m_sSavedPath == kNotFilled) {
        m_sSavedPath = dib->m_path;
        m_sSavedTitle = dib->m_title;
        m_sSavedCaption = owner->windowTitle().toStdString();
    }
    CWirelessChannelDlg dlg(owner);
    dlg.m_nBitRate = dib->GetBitRate();
    dlg.m_sInputPath = dib->m_path;
    dlg.m_sOutputPath = DocUserDir().toStdString() + dib->m_title + "_WRLS.mpg";
    const int result = dlg.DoModal();
    if (result == IDOK) {
        dib->m_path = dlg.m_sOutputPath;
        dib->m_title += "_WRLS";
        owner->setWindowTitle(QString::fromStdString(m_sSavedCaption) + QStringLiteral(" (Corrupted)"));
    } else if (result != IDCANCEL) {
        zn::ShowMessage(
            "(CMpgdecChannelDlg::OnMpgdecchannelOk) This should not have happened. Report this error");
    }
}

void CMpgdecChannelDlg::OnReloadOriginal()
{
    CDibDoc *doc = OwnerDocument(this);
    QWidget *owner = GetOwner();
    if (!doc || !owner || m_sSavedPath == kNotFilled)
        return;
    doc->m_pDib->m_path = m_sSavedPath;
    doc->m_pDib->m_title = m_sSavedTitle;
    owner->setWindowTitle(QString::fromStdString(m_sSavedCaption));
}
