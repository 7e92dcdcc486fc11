// The PCM module dialog: pages to pending parameters, Apply to a measured chain window.
#include "modules/pcm/pcm_dlg.h"

#include "image/cdib.h"
#include "image/znimage.h"
#include "modules/common/module_apply.h"
#include "modules/common/module_controls.h"
#include "modules/pcm/pcm_pages.h"
#include "platform/qt/gui_platform.h"
#include "shell/doc_commands.h"

#include <QPushButton>

CPcmDlg::CPcmDlg()
    : CModuleDialog(IDD, {.caption = QStringLiteral("PCM: "),
                          .groupId = 1056,
                          .groupText = QStringLiteral("Set PCM Parameters"),
                          .tabId = 1501,
                          .applyId = IDC_APPLY,
                          .resultId = IDC_RESULTS})
{
    SetRDKey("PCM");
    UseStoringCursor();
}

void CPcmDlg::CreatePages()
{
    m_pBitratePage = new CPcmBitrateDlg(TabCtrl());
    m_pDitherPage = new CPcmDitherDlg(TabCtrl());
    m_pErrorsPage = new CPcmErrorsDlg(TabCtrl());
    AddPage(m_pBitratePage, QStringLiteral("Bitrate"));
    AddPage(m_pDitherPage, QStringLiteral("Dithering"));
    AddPage(m_pErrorsPage, QStringLiteral("Errors"));
}

bool CPcmDlg::OnInitDialog()
{
    // Apply at once codes with 1 bit, no dither and no channel errors.
    m_activePar = PcmParams{0, 0.0f, 0.0f, 0};
    m_pendingPar = PcmParams{1, 0.0f, 0.0f, 0};
    if (!CModuleDialog::OnInitDialog())
        return false;
    connect(ApplyButton(), &QPushButton::clicked, this, &CPcmDlg::OnPcmApply);
    return true;
}

void CPcmDlg::OnPageMessage(int message)
{
    switch (message) {
    case WM_PCM_BITS_CHANGED:
        OnPcmBitsChanged();
        break;
    case WM_PCM_DITHER_CHANGED:
        OnPcmDitherChanged();
        break;
    case WM_PCM_ERRORS_CHANGED:
        OnPcmErrorsChanged();
        break;
    default:
        break;
    }
}

void CPcmDlg::OnPcmBitsChanged()
{
    int bits = 7;
    for (int i = 0; i < 6; ++i)
        if (zn::IsChecked(this, 1000 + i)) {
            bits = i + 1;
            break;
        }
    m_pendingPar.nBits = bits;
    ApplyButton()->setEnabled(true);
}

void CPcmDlg::OnPcmDitherChanged()
{
    static constexpr zn::IdValue kFactors[] = {{1509, 0.75f}, {1510, 1.0f}, {1011, 1.5f}, {1012, 2.0f}};
    m_pendingPar.fDitherFactor = zn::CheckedValue(this, kFactors);
    m_pendingPar.bSubtractDither = zn::IsChecked(this, 1098) ? 1 : 0;
    ApplyButton()->setEnabled(true);
}

void CPcmDlg::OnPcmErrorsChanged()
{
    static constexpr zn::IdValue kProbs[] = {
        {1015, 0.005f}, {1016, 0.001f}, {1017, 0.0005f}, {1018, 0.0001f}};
    m_pendingPar.fErrorProb = zn::CheckedValue(this, kProbs);
    ApplyButton()->setEnabled(true);
}

void CPcmDlg::OnPcmApply()
{
    m_activePar = m_pendingPar;
    zn::WaitCursor wait;
    ApplyButton()->setEnabled(true);
    CDibDoc *doc = m_pStartDibDoc;
    if (!doc || !doc->m_pDib)
        return;
    zn::RunModuleApply([&] {
        ZnImage decoded;
        const PcmRunResult r = PcmCodeImage(m_activePar, doc->m_pDib, doc->m_pDib->m_title, &decoded);
        m_sResults = zn::Q(r.results);
        SetResultText(m_sResults); // replaced on every run, never appended
        zn::StoreRDPointIfRecording(doc, "PCM", r.rate, r.measures,
                                    "(OnPcmApply()) m_pStartDibDoc->m_pRDData == NULL. Should not happen");
        zn::ShowChainResult(doc, decoded, r.name, r.caption, r.description);
    });
}

void RegisterPcmModule()
{
    zn::RegisterModuleDialogClass<CPcmDlg>(zn::cmd::kPcm);
}
