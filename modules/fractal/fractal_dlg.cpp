// The fractal module dialog: pages to pending parameters, Apply to a measured chain window.
#include "modules/fractal/fractal_dlg.h"

#include "image/cdib.h"
#include "image/znimage.h"
#include "modules/common/module_apply.h"
#include "modules/fractal/fractal_pages.h"
#include "platform/qt/gui_platform.h"
#include "shell/doc_app.h"
#include "shell/doc_commands.h"

#include <QPushButton>

namespace {

// Nothing applied yet: the first Apply always encodes.
constexpr FicParams kNoneUsed{-1, -1, -1, -1, -1, -1};

} // namespace

CFICDlg::CFICDlg()
    : CModuleDialog(IDD, {.caption = QStringLiteral("Fractal Image Coding: "),
                          .groupId = 1094,
                          .groupText = QStringLiteral("Set Fractal Coding Parameters"),
                          .tabId = 1095,
                          .applyId = IDC_APPLY,
                          .resultId = IDC_RESULTS})
{
    SetRDKey("FRAC");
    UseStoringCursor();
}

void CFICDlg::CreatePages()
{
    m_pSizePage = new CFICSizeDlg(TabCtrl());
    m_pThresholdPage = new CFICThresholdDlg(TabCtrl());
    m_pBitsPage = new CFICBitsDlg(TabCtrl());
    m_pIterationsPage = new CFICIterationsDlg(TabCtrl());
    AddPage(m_pSizePage, QStringLiteral("Size"));
    AddPage(m_pThresholdPage, QStringLiteral("Threshold"));
    AddPage(m_pBitsPage, QStringLiteral("Bits"));
    AddPage(m_pIterationsPage, QStringLiteral("Iterations"));
}

bool CFICDlg::OnInitDialog()
{
    m_lastPar = kNoneUsed;
    m_pendingPar = FicParams{};
    if (!CModuleDialog::OnInitDialog())
        return false;
    connect(ApplyButton(), &QPushButton::clicked, this, &CFICDlg::OnFICApply);
    ApplyButton()->setEnabled(true);
    return true;
}

void CFICDlg::OnPageMessage(int message)
{
    switch (message) {
    case WM_FIC_SIZE_CHANGED:
        m_pendingPar.nMaxBlock = m_pSizePage->m_nMax;
        m_pendingPar.nMinBlock = m_pSizePage->m_nMin;
        break;
    case WM_FIC_THRESHOLD_CHANGED:
        m_pendingPar.nThreshold = m_pThresholdPage->m_nValue;
        break;
    case WM_FIC_SCALING_CHANGED:
        m_pendingPar.nScalingBits = m_pBitsPage->m_nScaling;
        break;
    case WM_FIC_OFFSET_CHANGED:
        m_pendingPar.nOffsetBits = m_pBitsPage->m_nOffset;
        break;
    case WM_FIC_ITERATIONS_CHANGED:
        m_pendingPar.nIterations = m_pIterationsPage->m_nValue;
        break;
    default:
        return;
    }
    ApplyButton()->setEnabled(true);
}

void CFICDlg::OnFICApply()
{
    zn::WaitCursor wait;
    const FicParams &p = m_pendingPar, &u = m_lastPar;
    // Only a change of the iterations alone reuses the code; an Apply with nothing changed encodes.
    const bool skip = p.nMinBlock == u.nMinBlock && p.nMaxBlock == u.nMaxBlock &&
                      p.nThreshold == u.nThreshold && p.nScalingBits == u.nScalingBits &&
                      p.nOffsetBits == u.nOffsetBits && p.nIterations != u.nIterations;
    m_lastPar = m_pendingPar;
    CDibDoc *doc = m_pStartDibDoc;
    if (!doc || !doc->m_pDib)
        return;
    const bool done = zn::RunModuleApply([&] {
        ZnImage decoded;
        const FicRunResult r = FicCodeImage(m_lastPar, !skip, m_fRate, doc->m_pDib, doc->m_pDib->m_title,
                                            DocUserDir().toStdString(), &decoded);
        m_bLastEncoded = r.encoded;
        if (r.encoded)
            m_fRate = r.rate;
        m_sResults = zn::Q(r.results);
        SetResultText(m_sResults);
        zn::StoreRDPointIfRecording(doc, "FRAC", m_fRate, r.measures,
                                    "(OnFICApply()) m_pStartDibDoc->m_pRDData == NULL. Should not happen");
        zn::ShowChainResult(doc, decoded, r.name, r.caption, r.description);
    });
    // A refused or failed run leaves no code of these settings behind: the next Apply encodes.
    if (!done)
        m_lastPar = kNoneUsed;
}

void RegisterFractalModule()
{
    zn::RegisterModuleDialogClass<CFICDlg>(zn::cmd::kFractal);
}
