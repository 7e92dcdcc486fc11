// The subsampling module dialog: pages to pending parameters, Apply to the chain and A windows.
#include "modules/subsampling/ss_dlg.h"

#include "image/cdib.h"
#include "modules/common/module_apply.h"
#include "modules/subsampling/ss_pages.h"
#include "platform/qt/gui_platform.h"
#include "shell/doc_commands.h"

#include <QPushButton>

namespace {

constexpr int kFilterTab = 1;

} // namespace

CSsDlg::CSsDlg()
    : CModuleDialog(IDD, {.caption = QStringLiteral("Subsampling: "),
                          .groupId = 1555,
                          .groupText = QStringLiteral("Set Subsampling Parameters"),
                          .tabId = 1054,
                          .applyId = IDC_APPLY,
                          .resultId = IDC_RESULTS})
{}

void CSsDlg::CreatePages()
{
    m_pFactorPage = new CSsFactorDlg(TabCtrl());
    m_pFilterPage = new CSsFilterDlg(TabCtrl());
    m_pSpectrumPage = new CSsSpectrumDlg(TabCtrl());
    AddPage(m_pFactorPage, QStringLiteral("Factor"));
    AddPage(m_pFilterPage, QStringLiteral("Filter"));
    AddPage(m_pSpectrumPage, QStringLiteral("Spectrum"));
}

bool CSsDlg::OnInitDialog()
{
    m_activePar = SsParams{-1, -1, -1, 0};
    // The first Apply shows the centred spectrum of the whole image. The blow-up flag is read only
    // with a factor, and a factor comes only with a Factor-page notification that brings the flag.
    m_pendingPar = SsParams{0, 0, 0, 0};
    if (!CModuleDialog::OnInitDialog())
        return false;
    TabCtrl()->EnableTab(kFilterTab, false); // no filter without subsampling
    connect(ApplyButton(), &QPushButton::clicked, this, &CSsDlg::OnSsApply);
    return true;
}

void CSsDlg::OnPageMessage(int message)
{
    switch (message) {
    case WM_SS_FACTOR_CHANGED:
        OnFactorChanged();
        break;
    case WM_SS_FILTER_CHANGED:
        m_pendingPar.taps = m_pFilterPage->m_nTaps;
        break;
    case WM_SS_SPECTRUM_CHANGED:
        m_pendingPar.window = m_pSpectrumPage->m_nWindow;
        break;
    default:
        return;
    }
    ApplyButton()->setEnabled(true);
}

void CSsDlg::OnFactorChanged()
{
    m_pendingPar.factor = m_pFactorPage->m_nFactor;
    m_pendingPar.blowUp = m_pFactorPage->m_nBlowUp;
    if (m_pendingPar.factor != 0) {
        // Every new factor starts again from the shortest filter, which suits every factor.
        TabCtrl()->EnableTab(kFilterTab, true);
        m_pFilterPage->SetFilterOnWithFiveTaps();
        m_pendingPar.taps = 5;
    } else {
        TabCtrl()->EnableTab(kFilterTab, false);
        m_pFilterPage->m_nTaps = 0; // its controls keep their state
        m_pendingPar.taps = 0;
    }
}

void CSsDlg::OnSsApply()
{
    m_activePar = m_pendingPar;
    zn::WaitCursor wait;
    CDibDoc *doc = m_pStartDibDoc;
    if (!doc || !doc->m_pDib || !doc->m_pFinalDib || !doc->m_pResultDibA)
        return;
    zn::RunModuleApply([&] {
        SsRunResult r;
        SsRun(m_activePar, doc->m_pDib, doc->m_pDib->m_title, &r);
        if (r.refused)
            return;
        if (r.replaceText) {
            m_sResults = zn::Q(r.results);
            SetResultText(m_sResults);
        }
        // Only the images this run made go into the work images; the others stay as they were.
        if (r.hasSpectrum)
            zn::PutResultImage(r.spectrum, doc->m_pResultDibA, r.spectrumName, r.spectrumCaption);
        if (r.hasChain)
            zn::PutResultImage(r.result, doc->m_pFinalDib, r.chainName, r.chainCaption);
        doc->ShowResultImages(r.hasChain, r.hasSpectrum, false, zn::Q(r.chainDescription),
                              zn::Q(r.spectrumDescription), QString());
    });
}

void RegisterSubsamplingModule()
{
    zn::RegisterModuleDialogClass<CSsDlg>(zn::cmd::kSubsampling);
}
