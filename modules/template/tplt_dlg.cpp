// The template module dialog and its two pages.
#include "modules/template/tplt_dlg.h"

#include "image/cdib.h"
#include "modules/common/module_apply.h"
#include "modules/common/module_controls.h"
#include "shell/doc_commands.h"
#include <QGroupBox>

#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <vector>

CtpltChoicePage::CtpltChoicePage(const Layout &l, QWidget *parent)
    : CModulePage(l.idd, parent), m_nMessage(l.message)
{
    auto *radios = new zn::PushRadioGroup(this);
    const std::vector<QPushButton *> buttons = {radios->Add(l.firstId, QString::fromLatin1(l.firstText)),
                                                radios->Add(l.secondId, QString::fromLatin1(l.secondText))};
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(zn::MakeButtonRow(this, l.groupId, QString::fromLatin1(l.groupText), buttons));
    layout->addStretch();
    m_nValue = 2;
    radios->Select(l.secondId);
    const int firstId = l.firstId;
    connect(radios, &zn::PushRadioGroup::Clicked, this,
            [this, firstId](int id) { OnChoice(id == firstId ? 1 : 2); });
}

void CtpltChoicePage::OnChoice(int value)
{
    if (value == m_nValue)
        return;
    m_nValue = value;
    NotifyOwner(m_nMessage);
}

CtpltInvertDlg::CtpltInvertDlg(QWidget *parent)
    : CtpltChoicePage(
          {IDD, 1669, "Set Inverting", 1667, "Invert Me", 1668, "Do Not Invert", WM_TPLT_INVERT_CHANGED},
          parent)
{}

CtpltMirrorDlg::CtpltMirrorDlg(QWidget *parent)
    : CtpltChoicePage(
          {IDD, 1664, "Set Mirroring", 1665, "Mirror Me", 1666, "Do Not Mirror", WM_TPLT_MIRROR_CHANGED},
          parent)
{}

CtpltDlg::CtpltDlg()
    : CModuleDialog(IDD, {.caption = QStringLiteral("TEMPLATE: "),
                          .groupId = 1660,
                          .groupText = QStringLiteral("Set TPLT Parameters"),
                          .tabId = 1662,
                          .applyId = IDC_APPLY,
                          .resultId = IDC_RESULTS})
{}

void CtpltDlg::CreatePages()
{
    m_pInvertPage = new CtpltInvertDlg(TabCtrl());
    m_pMirrorPage = new CtpltMirrorDlg(TabCtrl());
    AddPage(m_pInvertPage, QStringLiteral("Invert"));
    AddPage(m_pMirrorPage, QStringLiteral("Mirror"));
}

bool CtpltDlg::OnInitDialog()
{
    m_nInvert = 2;
    m_nMirror = 2;
    if (!CModuleDialog::OnInitDialog())
        return false;
    // This dialog keeps both scroll bars of its template whatever the scroll-bar setting says.
    ShowResultHScrollbar(true);
    connect(ApplyButton(), &QPushButton::clicked, this, &CtpltDlg::OnTpltApply);
    return true;
}

void CtpltDlg::OnPageMessage(int message)
{
    if (message == WM_TPLT_MIRROR_CHANGED)
        m_nMirror = m_pMirrorPage->m_nValue;
    else if (message == WM_TPLT_INVERT_CHANGED)
        m_nInvert = m_pInvertPage->m_nValue;
}

void CtpltDlg::OnTpltApply()
{
    CDibDoc *doc = m_pStartDibDoc;
    if (!doc || !doc->m_pDib || !doc->m_pFinalDib)
        return;
    zn::RunModuleApply([&] {
        const TpltRunResult r =
            TpltProcessImage(TpltParams{m_nInvert, m_nMirror}, doc->m_pDib, doc->m_pFinalDib);
        if (!r.done)
            return;
        m_sResults = zn::Q(r.results);
        SetResultText(m_sResults);
        doc->m_pFinalDib->m_caption = "The name of the image window";
        zn::ShowChainResult(doc, "This information shows up in the Image Information pane");
    });
}

void RegisterTemplateModule()
{
    zn::RegisterModuleDialogClass<CtpltDlg>(zn::cmd::kTemplate);
}
