// The subband module dialog: pages to pending parameters, Apply to three measured result windows.
// With coding switched off the image is only split and rebuilt, which shows how close the filter
// bank comes to perfect reconstruction.
#include "modules/subband/subband_dlg.h"

#include "modules/common/module_apply.h"
#include "modules/dct/coded_results.h"
#include "modules/subband/subband_pages.h"
#include "platform/messages.h"
#include "platform/qt/gui_platform.h"
#include "shell/compression_app.h"
#include "shell/doc_commands.h"

#include <QPushButton>

namespace {

ModuleTemplate SbcTemplate()
{
    ModuleTemplate t;
    t.caption = QStringLiteral("Subband Coding: ");
    t.groupId = 1144;
    t.groupText = QStringLiteral("Set Subband Coding Parameters");
    t.tabId = CSbcDlg::IDC_TAB;
    t.applyId = CSbcDlg::IDC_APPLY;
    t.resultId = CSbcDlg::IDC_RESULTS;
    return t;
}

} // namespace

CSbcDlg::CSbcDlg() : CModuleDialog(IDD, SbcTemplate())
{
    SetRDKey("SBC");
    UseStoringCursor();
}

void CSbcDlg::CreatePages()
{
    m_pDecompPage = new CSbcDecompDlg(TabCtrl());
    m_pFilterPage = new CSbcFilterDlg(TabCtrl());
    m_pSubsPage = new CSbcSubbandsDlg(TabCtrl());
    m_pBitratePage = new CSbcBitrateDlg(TabCtrl());
    m_pErrorsPage = new CSbcErrorsDlg(TabCtrl());
    AddPage(m_pDecompPage, QStringLiteral("Decomp"));
    AddPage(m_pFilterPage, QStringLiteral("Filter"));
    AddPage(m_pSubsPage, QStringLiteral("Subs"));
    AddPage(m_pBitratePage, QStringLiteral("Bitrate"));
    AddPage(m_pErrorsPage, QStringLiteral("Errors"));
}

bool CSbcDlg::OnInitDialog()
{
    m_pendingPar = SbcParams{};
    if (!CModuleDialog::OnInitDialog())
        return false;
    TabCtrl()->EnableTab(kErrorsTab, false); // entropy coding is on at start
    connect(ApplyButton(), &QPushButton::clicked, this, &CSbcDlg::OnSbcApply);
    return true;
}

void CSbcDlg::OnPageMessage(int message)
{
    switch (message) {
    case WM_CODING_RATE_CHANGED:
        m_pendingPar.fBitrate = m_pBitratePage->m_fBitrate;
        break;
    case WM_CODING_ERRORS_CHANGED:
        OnErrorsChanged();
        break;
    case WM_SBC_FILTER_CHANGED:
        m_pendingPar.sFilter = m_pFilterPage->m_sFilter;
        break;
    case WM_SBC_DECOMP_CHANGED:
        m_pendingPar.nDecomp = m_pDecompPage->m_nDecomp;
        break;
    case WM_CODING_SWITCHED:
        OnCodingSwitched();
        break;
    case WM_CODING_COEFS_CHANGED:
        m_pendingPar.nFirstMethod = m_pSubsPage->m_nFirstMethod;
        m_pendingPar.sFirstPdf = m_pSubsPage->m_sFirstPdf;
        m_pendingPar.nOtherMethod = m_pSubsPage->m_nOtherMethod;
        m_pendingPar.sOtherPdf = m_pSubsPage->m_sOtherPdf;
        m_pendingPar.nPredModel = m_pSubsPage->m_nPredModel;
        break;
    case WM_CODING_ENTROPY_CHANGED:
        OnEntropyChanged();
        break;
    default:
        return;
    }
    ApplyButton()->setEnabled(true);
}

void CSbcDlg::OnErrorsChanged()
{
    const float p = m_pErrorsPage->m_fErrorProb > 0.0f ? m_pErrorsPage->m_fErrorProb : 0.0f;
    m_pendingPar.fErrorProb = p;
    // As in the DCT dialog: errors need fixed-length code words; switching them off leaves entropy
    // coding off.
    if (p != 0.0f) {
        m_pendingPar.bEntropy = 0;
        m_pBitratePage->ClearEntropy();
    }
}

void CSbcDlg::OnEntropyChanged()
{
    m_pendingPar.bEntropy = m_pBitratePage->m_bEntropy;
    m_pErrorsPage->Reset();
    m_pendingPar.fErrorProb = 0.0f;
    TabCtrl()->EnableTab(kErrorsTab, m_pendingPar.bEntropy != 1);
}

void CSbcDlg::OnCodingSwitched()
{
    const bool on = m_pDecompPage->m_bEncode == 1;
    for (int tab : {2, 3, kErrorsTab})
        TabCtrl()->EnableTab(tab, on);
    if (!on)
        return;
    m_pSubsPage->ResetCoding();
    m_pBitratePage->ResetCoding();
    m_pErrorsPage->Reset();
    m_pendingPar.fBitrate = 0.75f;
    m_pendingPar.nFirstMethod = 1;
    m_pendingPar.sFirstPdf = "gg075";
    m_pendingPar.nOtherMethod = 0;
    m_pendingPar.sOtherPdf = "gg050";
    m_pendingPar.nPredModel = 3;
    m_pendingPar.fErrorProb = 0.0f;
    m_pendingPar.bEntropy = 0;
}

void CSbcDlg::OnSbcApply()
{
    const std::string tableDir = theApp.m_sTableDir.toStdString();
    zn::WaitCursor wait;
    m_activePar = m_pendingPar;
    ApplyButton()->setEnabled(true);
    CDibDoc *doc = m_pStartDibDoc;
    if (tableDir.empty()) {
        // Neither the filter bank nor the quantisers can be read: this Apply ends after the
        // Preferences close.
        zn::ShowMessage(kNoTablesDirMessage);
        theApp.OnSettings();
        return;
    }
    if (!doc || !doc->m_pDib)
        return;
    zn::RunModuleApply([&] {
        ZnImage decoded, dispA, dispB;
        const SbcRunResult r =
            SbcCodeImage(m_activePar, m_pDecompPage->m_bEncode == 1, m_pBitratePage->m_bEntropy, doc->m_pDib,
                         doc->m_pDib->m_title, tableDir, &decoded, &dispA, &dispB);
        m_sResults = zn::Q(r.results);
        SetResultText(m_sResults);
        zn::StoreRDPointIfRecording(doc, "SBC", r.rate, r.measures,
                                    "(OnSbcApply()) m_pStartDibDoc->m_pRDData == NULL. Should not happen");
        zn::ShowCodedResults(doc, r, decoded, dispA, dispB);
    });
    ApplyButton()->setEnabled(true);
}

void RegisterSubbandModule()
{
    zn::RegisterModuleDialogClass<CSbcDlg>(zn::cmd::kSubband);
}
