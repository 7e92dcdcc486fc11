// The decoder dialog's pages. Push-like buttons keep exactly one of each pair pressed; the overlay
// radios of MB Bits Usage are set again from the page's choices after every click, so what they show
// is always what the dialog was told.
#include "h264dec/ui/h264dec_pages.h"

#include "shell/doc_app.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <utility>

CH264decChoicePage::CH264decChoicePage(const H264decChoiceLayout &l, QWidget *parent)
    : CModulePage(l.idd, parent), m_layout(l)
{
    m_pChoices = new zn::PushRadioGroup(this);
    QPushButton *on = m_pChoices->Add(l.onId, QString::fromLatin1(l.onText));
    QPushButton *off = m_pChoices->Add(l.offId, QString::fromLatin1(l.offText));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(zn::MakeButtonRow(this, 0, QString::fromLatin1(l.groupText), {on, off}));
    if (l.checkId) {
        m_pCheck = zn::MakeCheckBox(this, l.checkId, QString::fromLatin1(l.checkText));
        m_pCheck->setChecked(l.checked);
        m_bChecked = l.checked ? 1 : 0;
        layout->addWidget(m_pCheck);
        connect(m_pCheck, &QCheckBox::clicked, this, [this](bool checked) {
            m_bChecked = checked ? 1 : 0;
            NotifyOwner(m_layout.message);
        });
    }
    layout->addStretch();
    m_pChoices->Select(l.offId);
    connect(m_pChoices, &zn::PushRadioGroup::Clicked, this, [this](int id) {
        m_bOn = id == m_layout.onId ? 1 : 0;
        NotifyOwner(m_layout.message);
    });
}

CH264decStepDlg::CH264decStepDlg(QWidget *parent)
    : CH264decChoicePage({IDD, "Decoding Frame Step :", 2073, "Frame By\n  Frame", 2074,
                          "All Frames\n at Once", 0, "", false, WM_H264DEC_STEP},
                         parent)
{}

CH264decStreamDlg::CH264decStreamDlg(QWidget *parent)
    : CH264decChoicePage({IDD, "Show Input Steam :", 2067, "Input Stream\n   Shown", 2068,
                          "Input Stream\n Not Shown", 0, "", false, WM_H264DEC_STREAM},
                         parent)
{}

CH264decMotionDlg::CH264decMotionDlg(QWidget *parent)
    : CH264decChoicePage({IDD, "Motion Vectors :", 2076, "Shown", 2077, "Not Shown", 2078,
                          "Picture in the background", false, WM_H264DEC_MOTION},
                         parent)
{}

CH264decIntraDlg::CH264decIntraDlg(QWidget *parent)
    : CH264decChoicePage({IDD, "Intra Prediction :", 2080, "Shown", 2081, "Not Shown", 2082, "Colored", true,
                          WM_H264DEC_INTRA},
                         parent)
{}

CH264decBlockDlg::CH264decBlockDlg(QWidget *parent)
    : CH264decChoicePage({IDD, "Block Division :", 2071, "Shown", 2072, "Not Shown", 2075,
                          "Picture in the background", false, WM_H264DEC_BLOCK},
                         parent)
{}

CH264decBitsDlg::CH264decBitsDlg(QWidget *parent) : CModulePage(IDD, parent)
{
    m_pChoices = new zn::PushRadioGroup(this);
    QPushButton *on = m_pChoices->Add(IDC_SHOWN, QStringLiteral("Shown"));
    QPushButton *off = m_pChoices->Add(IDC_NOT_SHOWN, QStringLiteral("Not Shown"));
    auto radio = [this](int id, const char *text) {
        auto *r = Ctrl(new QRadioButton(QString::fromLatin1(text), this), id);
        r->setAutoExclusive(false); // the page sets every state itself
        return r;
    };
    m_pNone = radio(IDC_NONE, "None");
    m_pMbDivision = radio(IDC_MB_DIVISION, "MB Division");
    m_pMv = radio(IDC_MV, "MV");
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(zn::MakeButtonRow(this, 0, QStringLiteral("MB Bits Usage :"), {on, off}));
    auto *row = new QHBoxLayout;
    row->addWidget(m_pNone);
    row->addWidget(m_pMbDivision);
    row->addWidget(m_pMv);
    layout->addLayout(row);
    layout->addStretch();
    SetChecks();
    connect(m_pChoices, &zn::PushRadioGroup::Clicked, this, [this](int id) {
        m_bShown = id == IDC_SHOWN ? 1 : 0;
        SetChecks();
        NotifyOwner(WM_H264DEC_BITS);
    });
    auto overlay = [this](QRadioButton *r, int division, int mv) {
        connect(r, &QRadioButton::clicked, this, [this, division, mv] {
            m_bMbDivision = division;
            m_bMv = mv;
            SetChecks();
            NotifyOwner(WM_H264DEC_BITS);
        });
    };
    overlay(m_pNone, 0, 0);
    overlay(m_pMbDivision, 1, 0);
    overlay(m_pMv, 0, 1);
}

void CH264decBitsDlg::SetChecks()
{
    m_pChoices->Select(m_bShown ? IDC_SHOWN : IDC_NOT_SHOWN);
    m_pNone->setChecked(!m_bMbDivision && !m_bMv);
    m_pMbDivision->setChecked(m_bMbDivision != 0);
    m_pMv->setChecked(m_bMv != 0);
}

namespace {

H264decSaveDialogHook &SaveHook()
{
    static H264decSaveDialogHook hook;
    return hook;
}

QString RunSaveDialog(const H264decSaveRequest &request)
{
    if (SaveHook())
        return SaveHook()(request);
    QFileDialog dialog(nullptr, request.title, request.initialDir, DocQtFilter(request.filter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOption(QFileDialog::DontConfirmOverwrite); // an existing file is replaced without a question
    dialog.setDefaultSuffix(request.defaultSuffix);
    dialog.selectFile(request.initialName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().front();
}

} // namespace

H264decSaveDialogHook SetH264decSaveDialogHook(H264decSaveDialogHook hook)
{
    return std::exchange(SaveHook(), std::move(hook));
}

CH264decSaveDlg::CH264decSaveDlg(std::function<QString()> documentTitle, QWidget *parent)
    : CModulePage(IDD, parent), m_documentTitle(std::move(documentTitle))
{
    auto *button = Ctrl(new QPushButton(QStringLiteral("Save Decoded H.264 As ..."), this), IDC_SAVE);
    button->setAutoDefault(false);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(zn::MakeButtonRow(this, 0, QStringLiteral("Click to select file name"), {button}));
    layout->addStretch();
    connect(button, &QPushButton::clicked, this, &CH264decSaveDlg::OnSaveAs);
}

void CH264decSaveDlg::OnSaveAs()
{
    H264decSaveRequest request;
    request.title = QStringLiteral("Save the Decoded H.264 Sequence as ...");
    request.initialDir = DocUserDir();
    request.initialName =
        (m_documentTitle ? m_documentTitle() : QString()) + QStringLiteral("(H264Decoded).yuv");
    request.filter = QStringLiteral("Raw YUV Image Sequence (*.yuv)|*.yuv||");
    request.defaultSuffix = QStringLiteral("yuv");
    const QString path = RunSaveDialog(request);
    if (path.isEmpty())
        return;
    // The path is kept as chosen: lower-casing it could name another file.
    m_sPath = path;
    m_sTitle = QFileInfo(path).fileName();
    NotifyOwner(WM_H264DEC_SAVE);
}
