// The EZW module dialog: pages to choices, Apply to the decoded picture and both pyramids.
#include "modules/ezw/ezw_dlg.h"

#include "image/cdib.h"
#include "modules/common/module_apply.h"
#include "modules/ezw/ezw_pages.h"
#include "platform/qt/gui_platform.h"
#include "shell/compression_app.h"
#include "shell/doc_commands.h"

#include <QPushButton>

CEZWDlg::CEZWDlg()
    : CModuleDialog(IDD, {.caption = QStringLiteral("Emb. Zerotree Wavelets: "),
                          .groupId = 1436,
                          .groupText = QStringLiteral("Set EZW Coding Parameters"),
                          .tabId = 1437,
                          .applyId = IDC_APPLY,
                          .resultId = IDC_RESULTS})
{
    SetRDKey("EZW");
    UseStoringCursor();
}

void CEZWDlg::CreatePages()
{
    m_pEncoderPage = new CEZWEncoderDlg(TabCtrl());
    m_pLevelsPage = new CEZWLevelsDlg(TabCtrl());
    m_pDecoderPage = new CEZWDecoderDlg(TabCtrl());
    AddPage(m_pEncoderPage, QStringLiteral("Encoder"));
    AddPage(m_pLevelsPage, QStringLiteral("Levels"));
    AddPage(m_pDecoderPage, QStringLiteral("Decoder"));
}

bool CEZWDlg::OnInitDialog()
{
    m_par = EzwParams{};
    if (!CModuleDialog::OnInitDialog())
        return false;
    connect(ApplyButton(), &QPushButton::clicked, this, &CEZWDlg::OnEZWApply);
    return true;
}

// The document is known only after the window was made: the Levels page learns the picture size here.
void CEZWDlg::OnDocumentAttached()
{
    if (m_pStartDibDoc && m_pStartDibDoc->m_pDib)
        m_pLevelsPage->AdaptToImage(m_pStartDibDoc->m_pDib->GetWidth(), m_pStartDibDoc->m_pDib->GetHeight());
}

void CEZWDlg::OnPageMessage(int message)
{
    switch (message) {
    case WM_EZW_LEVELS_CHANGED:
        m_par.nWaveletLevels = static_cast<int>(m_pLevelsPage->m_fValue);
        break;
    case WM_EZW_DECRATE_CHANGED:
        m_par.fDecRate = m_pDecoderPage->m_fValue;
        break;
    case WM_EZW_ENCRATE_CHANGED:
        OnEncRateChanged();
        break;
    default:
        return;
    }
    UpdateApply();
}

// A new encoder rate becomes the decoder rate too; higher decoder rates cannot be chosen.
void CEZWDlg::OnEncRateChanged()
{
    m_par.fEncRate = m_pEncoderPage->m_fValue;
    m_pDecoderPage->ClearChecks();
    for (const CValueRadioPage::Choice &c : m_pDecoderPage->Choices())
        if (c.id != 1456)
            m_pDecoderPage->Button(c.id)->setEnabled(c.value <= m_par.fEncRate);
    m_par.fDecRate = m_par.fEncRate;
    m_pDecoderPage->SetValue(m_par.fEncRate);
}

void CEZWDlg::UpdateApply()
{
    ApplyButton()->setEnabled(m_par.fEncRate >= m_par.fDecRate);
}

void CEZWDlg::OnEZWApply()
{
    zn::WaitCursor wait;
    CDibDoc *doc = m_pStartDibDoc;
    if (!doc || !doc->m_pDib || !doc->m_pFinalDib || !doc->m_pResultDibA || !doc->m_pResultDibB)
        return;
    zn::RunModuleApply([&] {
        EzwApplyResult r;
        m_session.Apply(*doc->m_pDib, doc->m_pDib->m_title, m_par, theApp.m_sUserDir.toStdString(), &r);
        m_sResults = zn::Q(r.results);
        SetResultText(m_sResults);
        zn::PutResultImage(r.decoded, doc->m_pFinalDib, r.nameChain, r.captionChain);
        if (r.encoded)
            zn::PutResultImage(r.originalBands, doc->m_pResultDibA, r.nameA, r.captionA);
        zn::PutResultImage(r.decodedBands, doc->m_pResultDibB, r.nameB, r.captionB);
        zn::StoreRDPointIfRecording(doc, "EZW", r.decRate, r.measures,
                                    "(OnEZWApply()) m_pStartDibDoc->m_pRDData == NULL. Should not happen");
        doc->ShowResultImages(true, true, true, zn::Q(r.descChain), zn::Q(r.descA), zn::Q(r.descB));
    });
    UpdateApply();
}

void RegisterEzwModule()
{
    zn::RegisterModuleDialogClass<CEZWDlg>(zn::cmd::kEzw);
}
