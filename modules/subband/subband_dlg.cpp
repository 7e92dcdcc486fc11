// The subband module dialog: pages to pending parameters, Apply to three measured result windows.
// With coding switched off the image is only split and rebuilt, which shows how close the filter
// bank comes to perfect reconstruction.
#include "modules/subband/subband_dlg.h"

#include "image/cdib.h"
#include "modules/common/module_apply.h"
#include "modules/subband/subband_pages.h"
#include "shell/doc_commands.h"

#include <QPushButton>

CSbcDlg::CSbcDlg()
    : CBandCodingDlg(IDD,
                     {.caption = QStringLiteral("Subband Coding: "),
                      .groupId = 1144,
                      .groupText = QStringLiteral("Set Subband Coding Parameters"),
                      .tabId = IDC_TAB,
                      .applyId = IDC_APPLY,
                      .resultId = IDC_RESULTS},
                     "SBC")
{}

void CSbcDlg::CreatePages()
{
    m_pDecompPage = new CSbcDecompDlg(TabCtrl());
    m_pFilterPage = new CSbcFilterDlg(TabCtrl());
    m_pSubsPage = new CSbcSubbandsDlg(TabCtrl());
    auto *bitrate = new CSbcBitrateDlg(TabCtrl());
    auto *errors = new CSbcErrorsDlg(TabCtrl());
    AddPage(m_pDecompPage, QStringLiteral("Decomp"));
    AddPage(m_pFilterPage, QStringLiteral("Filter"));
    AddCodingPages(m_pSubsPage, QStringLiteral("Subs"), bitrate, errors);
}

bool CSbcDlg::OnInitDialog()
{
    m_pendingPar = SbcParams{};
    if (!CBandCodingDlg::OnInitDialog())
        return false;
    connect(ApplyButton(), &QPushButton::clicked, this, &CSbcDlg::OnSbcApply);
    return true;
}

bool CSbcDlg::OnOwnPageMessage(int message)
{
    switch (message) {
    case WM_SBC_FILTER_CHANGED:
        m_pendingPar.sFilter = m_pFilterPage->m_sFilter;
        return true;
    case WM_SBC_DECOMP_CHANGED:
        m_pendingPar.nDecomp = m_pDecompPage->m_nDecomp;
        return true;
    default:
        return false;
    }
}

bool CSbcDlg::EncodingOn() const
{
    return m_pDecompPage->m_bEncode == 1;
}

void CSbcDlg::OnSbcApply()
{
    m_activePar = m_pendingPar;
    ApplyCoding(
        [this](const CDib *image, const std::string &tableDir, ZnImage *decoded, ZnImage *dispA,
               ZnImage *dispB) {
            return SbcCodeImage(m_activePar, m_pDecompPage->m_bEncode == 1, m_pBitratePage->m_bEntropy, image,
                                image->m_title, tableDir, decoded, dispA, dispB);
        },
        "(OnSbcApply()) m_pStartDibDoc->m_pRDData == NULL. Should not happen");
}

void RegisterSubbandModule()
{
    zn::RegisterModuleDialogClass<CSbcDlg>(zn::cmd::kSubband);
}
