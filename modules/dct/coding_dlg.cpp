// The DCT and subband dialogs' shared half: the coding pages' notifications kept in the pending
// record, and the Apply that codes the image and fills the three result windows (A the bands before
// coding, B after, and the decoded image as a new chain window).
#include "modules/dct/coding_dlg.h"

#include "image/cdib.h"
#include "image/znimage.h"
#include "modules/common/module_apply.h"
#include "modules/dct/dct_pages.h"
#include "platform/qt/gui_platform.h"

#include <QPushButton>

namespace {

void ShowCodedResults(CDibDoc *doc, const CodedRunResult &r, const ZnImage &decoded, const ZnImage &dispA,
                      const ZnImage &dispB)
{
    if (!doc || !doc->m_pFinalDib || !doc->m_pResultDibA || !doc->m_pResultDibB)
        return;
    if (r.coding)
        zn::PutResultImage(dispB, doc->m_pResultDibB, r.nameB, r.captionB);
    zn::PutResultImage(decoded, doc->m_pFinalDib, r.nameFinal, r.captionFinal);
    zn::PutResultImage(dispA, doc->m_pResultDibA, r.nameA, r.captionA);
    doc->ShowResultImages(true, true, r.coding, zn::Q(r.descChain), zn::Q(r.descA),
                          zn::Q(r.coding ? r.descB : std::string()));
}

} // namespace

CBandCodingDlg::CBandCodingDlg(int idd, const ModuleTemplate &tmpl, const std::string &rdKey)
    : CModuleDialog(idd, tmpl)
{
    SetRDKey(rdKey);
    UseStoringCursor();
}

void CBandCodingDlg::AddCodingPages(CDctCoefsDlg *coefs, const QString &coefsLabel, CDctBitrateDlg *bitrate,
                                    CDctErrorsDlg *errors)
{
    m_pCoefsPage = coefs;
    m_pBitratePage = bitrate;
    m_pErrorsPage = errors;
    m_nCoefsTab = TabCtrl()->GetItemCount();
    AddPage(coefs, coefsLabel);
    AddPage(bitrate, QStringLiteral("Bitrate"));
    AddPage(errors, QStringLiteral("Errors"));
}

bool CBandCodingDlg::OnInitDialog()
{
    if (!CModuleDialog::OnInitDialog())
        return false;
    TabCtrl()->EnableTab(m_nCoefsTab + 2, false);
    return true;
}

void CBandCodingDlg::OnPageMessage(int message)
{
    BandCodingChoices &par = PendingChoices();
    switch (message) {
    case WM_CODING_RATE_CHANGED:
        par.fBitrate = m_pBitratePage->m_fBitrate;
        break;
    case WM_CODING_ERRORS_CHANGED:
        OnErrorsChanged();
        break;
    case WM_CODING_SWITCHED:
        OnCodingSwitched();
        break;
    case WM_CODING_COEFS_CHANGED:
        par.nFirstMethod = m_pCoefsPage->m_nFirstMethod;
        par.sFirstPdf = m_pCoefsPage->m_sFirstPdf;
        par.nOtherMethod = m_pCoefsPage->m_nOtherMethod;
        par.sOtherPdf = m_pCoefsPage->m_sOtherPdf;
        par.nPredModel = m_pCoefsPage->m_nPredModel;
        break;
    case WM_CODING_ENTROPY_CHANGED:
        OnEntropyChanged();
        break;
    default:
        if (!OnOwnPageMessage(message))
            return;
    }
    ApplyButton()->setEnabled(true);
}

void CBandCodingDlg::OnErrorsChanged()
{
    BandCodingChoices &par = PendingChoices();
    const float p = m_pErrorsPage->m_fErrorProb > 0.0f ? m_pErrorsPage->m_fErrorProb : 0.0f;
    par.fErrorProb = p;
    // A flipped bit in a variable-length code would lose the decoder its place: channel errors go
    // with fixed-length code words. Switching errors off again leaves entropy coding off, so the box,
    // the page and the pending record keep agreeing.
    if (p != 0.0f) {
        par.bEntropy = 0;
        m_pBitratePage->ClearEntropy();
    }
}

void CBandCodingDlg::OnEntropyChanged()
{
    BandCodingChoices &par = PendingChoices();
    par.bEntropy = m_pBitratePage->m_bEntropy;
    m_pErrorsPage->Reset();
    par.fErrorProb = 0.0f;
    TabCtrl()->EnableTab(m_nCoefsTab + 2, par.bEntropy != 1);
}

void CBandCodingDlg::OnCodingSwitched()
{
    const bool on = EncodingOn();
    for (int tab = m_nCoefsTab; tab < m_nCoefsTab + 3; ++tab)
        TabCtrl()->EnableTab(tab, on);
    if (!on)
        return;
    // Coding comes back in a fixed state, not the start state: 0.75 bpp with fixed-length code
    // words, so the Errors tab is selectable at once.
    m_pCoefsPage->ResetCoding();
    m_pBitratePage->ResetCoding();
    m_pErrorsPage->Reset();
    BandCodingChoices &par = PendingChoices();
    par.fBitrate = 0.75f;
    par.nFirstMethod = 1;
    par.sFirstPdf = "gg075";
    par.nOtherMethod = 0;
    par.sOtherPdf = "gg050";
    par.nPredModel = 3;
    par.fErrorProb = 0.0f;
    par.bEntropy = 0;
}

void CBandCodingDlg::ApplyCoding(const CodedRun &run, const char *nullStoreMessage)
{
    zn::WaitCursor wait;
    ApplyButton()->setEnabled(true);
    CDibDoc *doc = m_pStartDibDoc;
    const std::string tableDir = zn::TablesDirOrPreferences();
    if (tableDir.empty())
        return;
    if (!doc || !doc->m_pDib)
        return;
    zn::RunModuleApply([&] {
        ZnImage decoded, dispA, dispB;
        const CodedRunResult r = run(doc->m_pDib, tableDir, &decoded, &dispA, &dispB);
        m_sResults = zn::Q(r.results);
        SetResultText(m_sResults);
        zn::StoreRDPointIfRecording(doc, RDKey(), r.rate, r.measures, nullStoreMessage);
        ShowCodedResults(doc, r, decoded, dispA, dispB);
    });
    ApplyButton()->setEnabled(true);
}
