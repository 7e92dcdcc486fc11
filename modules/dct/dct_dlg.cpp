// The DCT module dialog: pages to pending parameters, Apply to three measured result windows.
// Coding can be switched off to see what the transform alone does: it is orthonormal, so the
// decoded image then equals the original.
#include "modules/dct/dct_dlg.h"

#include "modules/common/module_apply.h"
#include "modules/dct/coded_results.h"
#include "modules/dct/dct_pages.h"
#include "platform/messages.h"
#include "platform/qt/gui_platform.h"
#include "shell/compression_app.h"
#include "shell/doc_commands.h"

#include <QPushButton>

namespace {

ModuleTemplate DctTemplate()
{
    ModuleTemplate t;
    t.caption = QStringLiteral("Discrete Cosine Transform: ");
    t.groupId = 1172;
    t.groupText = QStringLiteral("Set DCT Parameters");
    t.tabId = CDctDlg::IDC_TAB;
    t.applyId = CDctDlg::IDC_APPLY;
    t.resultId = CDctDlg::IDC_RESULTS;
    return t;
}

} // namespace

CDctDlg::CDctDlg() : CModuleDialog(IDD, DctTemplate())
{
    SetRDKey("DCT");
    UseStoringCursor();
}

void CDctDlg::CreatePages()
{
    m_pSizePage = new CDctSizeDlg(TabCtrl());
    m_pCoefsPage = new CDctCoefsDlg(TabCtrl());
    m_pBitratePage = new CDctBitrateDlg(TabCtrl());
    m_pErrorsPage = new CDctErrorsDlg(TabCtrl());
    m_pDisplayPage = new CDctDisplayDlg(TabCtrl());
    AddPage(m_pSizePage, QStringLiteral("Size"));
    AddPage(m_pCoefsPage, QStringLiteral("Coefs"));
    AddPage(m_pBitratePage, QStringLiteral("Bitrate"));
    AddPage(m_pErrorsPage, QStringLiteral("Errors"));
    AddPage(m_pDisplayPage, QStringLiteral("Display"));
}

bool CDctDlg::OnInitDialog()
{
    m_pendingPar = DctParams{};
    if (!CModuleDialog::OnInitDialog())
        return false;
    // Entropy coding is on at start, and channel errors need fixed-length code words.
    TabCtrl()->EnableTab(kErrorsTab, false);
    // Enter in the dialog acts as Cancel, the template's default button.
    CancelButton()->setDefault(true);
    connect(ApplyButton(), &QPushButton::clicked, this, &CDctDlg::OnDctApply);
    return true;
}

void CDctDlg::OnDocumentAttached()
{
    const CDibDoc *doc = m_pStartDibDoc;
    if (!doc || !doc->m_pDib)
        return;
    const int largest = DctLargestSize(doc->m_pDib->GetWidth(), doc->m_pDib->GetHeight());
    // The document offers the module only for even sides, so 2x2 always stays.
    const int keep = largest < 1 ? 1 : largest;
    for (int size = keep + 1; size <= 4; ++size)
        if (QWidget *radio = m_pSizePage->GetDlgItem(CDctSizeDlg::kRadios[size - 1]))
            radio->setEnabled(false);
    if (keep < 3) {
        m_pSizePage->SetSize(keep);
        m_pendingPar.nSize = keep;
    }
}

void CDctDlg::OnPageMessage(int message)
{
    switch (message) {
    case WM_CODING_RATE_CHANGED:
        m_pendingPar.fBitrate = m_pBitratePage->m_fBitrate;
        break;
    case WM_CODING_ERRORS_CHANGED:
        OnErrorsChanged();
        break;
    case WM_CODING_SWITCHED:
        OnCodingSwitched();
        break;
    case WM_CODING_COEFS_CHANGED:
        m_pendingPar.nFirstMethod = m_pCoefsPage->m_nFirstMethod;
        m_pendingPar.sFirstPdf = m_pCoefsPage->m_sFirstPdf;
        m_pendingPar.nOtherMethod = m_pCoefsPage->m_nOtherMethod;
        m_pendingPar.sOtherPdf = m_pCoefsPage->m_sOtherPdf;
        m_pendingPar.nPredModel = m_pCoefsPage->m_nPredModel;
        break;
    case WM_CODING_ENTROPY_CHANGED:
        OnEntropyChanged();
        break;
    case WM_DCT_SIZE_CHANGED:
        m_pendingPar.nSize = m_pSizePage->m_nSize;
        break;
    case WM_DCT_DISPLAY_CHANGED:
        m_pendingPar.nDisplay = m_pDisplayPage->m_nDisplay;
        break;
    default:
        return;
    }
    ApplyButton()->setEnabled(true);
}

void CDctDlg::OnErrorsChanged()
{
    const float p = m_pErrorsPage->m_fErrorProb > 0.0f ? m_pErrorsPage->m_fErrorProb : 0.0f;
    m_pendingPar.fErrorProb = p;
    // A flipped bit in a variable-length code would lose the decoder its place: channel errors go
    // with fixed-length code words. Switching errors off again leaves entropy coding off, so the box,
    // the page and the pending record keep agreeing.
    if (p != 0.0f) {
        m_pendingPar.bEntropy = 0;
        m_pBitratePage->ClearEntropy();
    }
}

void CDctDlg::OnEntropyChanged()
{
    m_pendingPar.bEntropy = m_pBitratePage->m_bEntropy;
    m_pErrorsPage->Reset();
    m_pendingPar.fErrorProb = 0.0f;
    TabCtrl()->EnableTab(kErrorsTab, m_pendingPar.bEntropy != 1);
}

void CDctDlg::OnCodingSwitched()
{
    const bool on = m_pSizePage->m_bEncode == 1;
    for (int tab : {1, 2, kErrorsTab})
        TabCtrl()->EnableTab(tab, on);
    if (!on)
        return;
    // Coding comes back in a fixed state, not the start state: 0.75 bpp with fixed-length code
    // words, so the Errors tab is selectable at once.
    m_pCoefsPage->ResetCoding();
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

void CDctDlg::OnDctApply()
{
    const std::string tableDir = theApp.m_sTableDir.toStdString();
    zn::WaitCursor wait;
    ApplyButton()->setEnabled(true);
    m_activePar = m_pendingPar;
    CDibDoc *doc = m_pStartDibDoc;
    if (tableDir.empty()) {
        // Nothing is read from an unset directory: this Apply ends once the Preferences close.
        zn::ShowMessage(kNoTablesDirMessage);
        theApp.OnSettings();
        return;
    }
    if (!doc || !doc->m_pDib)
        return;
    zn::RunModuleApply([&] {
        ZnImage decoded, dispA, dispB;
        const DctRunResult r =
            DctCodeImage(m_activePar, m_pSizePage->m_bEncode == 1, m_pBitratePage->m_bEntropy, doc->m_pDib,
                         doc->m_pDib->m_title, tableDir, &decoded, &dispA, &dispB);
        m_sResults = zn::Q(r.results);
        SetResultText(m_sResults);
        zn::StoreRDPointIfRecording(doc, "DCT", r.rate, r.measures,
                                    "(OnDctApply()) m_pStartDibDoc->m_pRDData == NULL. Should not happen");
        zn::ShowCodedResults(doc, r, decoded, dispA, dispB);
    });
    ApplyButton()->setEnabled(true);
}

void RegisterDctModule()
{
    zn::RegisterModuleDialogClass<CDctDlg>(zn::cmd::kDct);
}
