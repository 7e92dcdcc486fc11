// The DCT module dialog: pages to pending parameters, Apply to three measured result windows.
// Coding can be switched off to see what the transform alone does: it is orthonormal, so the
// decoded image then equals the original.
#include "modules/dct/dct_dlg.h"

#include "image/cdib.h"
#include "modules/common/module_apply.h"
#include "modules/dct/dct_pages.h"
#include "shell/doc_commands.h"

#include <QPushButton>

CDctDlg::CDctDlg()
    : CBandCodingDlg(IDD,
                     {.caption = QStringLiteral("Discrete Cosine Transform: "),
                      .groupId = 1172,
                      .groupText = QStringLiteral("Set DCT Parameters"),
                      .tabId = IDC_TAB,
                      .applyId = IDC_APPLY,
                      .resultId = IDC_RESULTS},
                     "DCT")
{}

void CDctDlg::CreatePages()
{
    m_pSizePage = new CDctSizeDlg(TabCtrl());
    auto *coefs = new CDctCoefsDlg(TabCtrl());
    auto *bitrate = new CDctBitrateDlg(TabCtrl());
    auto *errors = new CDctErrorsDlg(TabCtrl());
    m_pDisplayPage = new CDctDisplayDlg(TabCtrl());
    AddPage(m_pSizePage, QStringLiteral("Size"));
    AddCodingPages(coefs, QStringLiteral("Coefs"), bitrate, errors);
    AddPage(m_pDisplayPage, QStringLiteral("Display"));
}

bool CDctDlg::OnInitDialog()
{
    m_pendingPar = DctParams{};
    if (!CBandCodingDlg::OnInitDialog())
        return false;
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

bool CDctDlg::OnOwnPageMessage(int message)
{
    switch (message) {
    case WM_DCT_SIZE_CHANGED:
        m_pendingPar.nSize = m_pSizePage->m_nSize;
        return true;
    case WM_DCT_DISPLAY_CHANGED:
        m_pendingPar.nDisplay = m_pDisplayPage->m_nDisplay;
        return true;
    default:
        return false;
    }
}

bool CDctDlg::EncodingOn() const
{
    return m_pSizePage->m_bEncode == 1;
}

void CDctDlg::OnDctApply()
{
    m_activePar = m_pendingPar;
    ApplyCoding(
        [this](const CDib *image, const std::string &tableDir, ZnImage *decoded, ZnImage *dispA,
               ZnImage *dispB) {
            return DctCodeImage(m_activePar, m_pSizePage->m_bEncode == 1, m_pBitratePage->m_bEntropy, image,
                                image->m_title, tableDir, decoded, dispA, dispB);
        },
        "(OnDctApply()) m_pStartDibDoc->m_pRDData == NULL. Should not happen");
}

void RegisterDctModule()
{
    zn::RegisterModuleDialogClass<CDctDlg>(zn::cmd::kDct);
}
