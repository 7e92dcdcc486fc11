// The VQ module dialog: codebook acceptance, page values to pending parameters, and Apply.
#include "modules/vq/vq_dlg.h"

#include "image/cdib.h"
#include "image/znimage.h"
#include "modules/common/module_apply.h"
#include "modules/vq/vq_codebook.h"
#include "modules/vq/vq_pages.h"
#include "platform/messages.h"
#include "platform/qt/gui_platform.h"
#include "shell/doc_commands.h"

#include <QGroupBox>
#include <QPushButton>
#include <memory>

CVqDlg::CVqDlg()
    : CModuleDialog(IDD, {.caption = QStringLiteral("Vector Quantization: "),
                          .groupId = 1845,
                          .groupText = QStringLiteral("Set Vector Quantization Parameters"),
                          .tabId = 1846,
                          .applyId = IDC_APPLY,
                          .resultId = IDC_RESULTS})
{
    SetRDKey("VQ");
    UseStoringCursor();
}

void CVqDlg::CreatePages()
{
    m_pCodebookPage = new CVqCodebookDlg(TabCtrl());
    m_pBitsPage = new CVqBitsDlg(TabCtrl());
    m_pErrorsPage = new CVqErrorsDlg(TabCtrl());
    AddPage(m_pCodebookPage, QStringLiteral("Codebook"));
    AddPage(m_pBitsPage, QStringLiteral("Bits"));
    AddPage(m_pErrorsPage, QStringLiteral("Errors"));
}

bool CVqDlg::OnInitDialog()
{
    m_nPendingBits = -1;
    m_pPendingCodebook = nullptr;
    m_fPendingProb = 0.0f;
    m_nActiveBits = -1;
    m_pActiveCodebook = nullptr;
    m_fActiveProb = -1.0f;
    if (!CModuleDialog::OnInitDialog())
        return false;
    TabCtrl()->EnableTab(kBitsTab, false);
    TabCtrl()->EnableTab(kErrorsTab, false);
    // Nothing to code until a codebook has been accepted.
    ApplyButton()->setEnabled(false);
    connect(ApplyButton(), &QPushButton::clicked, this, &CVqDlg::OnVqApply);
    return true;
}

void CVqDlg::OnPageMessage(int message)
{
    switch (message) {
    case WM_VQ_CODEBOOK_CHANGED:
        OnVqCodebookChanged();
        break;
    case WM_VQ_BITS_CHANGED:
        m_nPendingBits = m_pBitsPage->m_nBits;
        ApplyButton()->setEnabled(true);
        break;
    case WM_VQ_ERRORS_CHANGED:
        m_fPendingProb = m_pErrorsPage->m_fProb;
        ApplyButton()->setEnabled(true);
        break;
    default:
        break;
    }
}

namespace {

// The vector sizes the Bits page can name in its group text.
bool NamedVectorSize(int w, int h)
{
    const auto designed = [](int s) { return s == 2 || s == 4 || s == 6 || s == 8 || s == 10; };
    if (designed(w) && designed(h))
        return true;
    return w == 32 && (h == 1 || h == 2 || h == 4 || h == 8 || h == 16 || h == 32);
}

} // namespace

void CVqDlg::OnVqCodebookChanged()
{
    // The page accepted only codebooks whose header it could check.
    ZnImage *codebook = m_pCodebookPage->CodebookImage();
    VqCodebookHeader hd;
    if (!codebook || !VqReadHeader(*codebook, &hd).empty())
        return;
    m_pPendingCodebook = codebook;
    if (NamedVectorSize(hd.w, hd.h))
        m_pBitsPage->Group()->setTitle(QStringLiteral("Set Bits per %1x%2 Vector").arg(hd.w).arg(hd.h));
    const int bits = VqDefaultBits(hd.rmin, hd.rmax);
    m_pBitsPage->SetRange(hd.rmin, hd.rmax, bits);
    m_nPendingBits = bits;

    CDibDoc *doc = m_pStartDibDoc;
    const CDib *image = doc ? doc->m_pDib : nullptr;
    if (!image || image->GetWidth() % hd.w != 0 || image->GetHeight() % hd.h != 0) {
        zn::ShowMessage(kVqCodebookDoesNotFit);
        m_pPendingCodebook = nullptr;
        TabCtrl()->EnableTab(kBitsTab, false);
        TabCtrl()->EnableTab(kErrorsTab, false);
        ApplyButton()->setEnabled(false);
        return;
    }
    TabCtrl()->EnableTab(kBitsTab, true);
    TabCtrl()->EnableTab(kErrorsTab, true);
    ApplyButton()->setEnabled(true);
    ShowCodebook();
}

void CVqDlg::ShowCodebook()
{
    CDibDoc *doc = m_pStartDibDoc;
    if (!doc || !doc->m_pResultDibA)
        return;
    if (CDib *file = m_pCodebookPage->FileImage()) {
        doc->m_pResultDibA->CopyDib(file);
    } else {
        const ZnImage *codebook = m_pCodebookPage->CodebookImage();
        auto picture = std::make_unique<CDib>();
        codebook->ZnImageToDib(picture.get());
        m_pCodebookPage->SetFileImage(std::move(picture));
        codebook->ZnImageToDib(doc->m_pResultDibA);
        doc->m_pResultDibA->m_title = "No_name_codebook";
        doc->m_pResultDibA->m_caption = "CODEBOOK IMAGE for " + doc->m_pDib->m_title;
    }
    doc->ShowResultImages(false, true, false, QString(), QString(), QString());
}

void CVqDlg::OnVqApply()
{
    zn::WaitCursor wait;
    m_nActiveBits = m_nPendingBits;
    m_pActiveCodebook = m_pPendingCodebook;
    m_fActiveProb = m_fPendingProb;
    ApplyButton()->setEnabled(false);
    CDibDoc *doc = m_pStartDibDoc;
    if (!doc || !doc->m_pDib || !m_pActiveCodebook)
        return;
    const bool done = zn::RunModuleApply([&] {
        ZnImage decoded;
        const VqRunResult r = VqCodeImage({m_nActiveBits, m_fActiveProb}, doc->m_pDib, doc->m_pDib->m_title,
                                          *m_pActiveCodebook, &decoded);
        m_sResults += zn::Q(r.results);
        SetResultText(m_sResults);
        zn::StoreRDPointIfRecording(doc, "VQ", r.rate, r.measures,
                                    "(OnVqApply()) m_pStartDibDoc->m_pRDData == NULL. Should not happen");
        if (!doc->m_pFinalDib)
            return;
        zn::PutResultImage(decoded, doc->m_pFinalDib, r.name, r.caption);
        // Window A keeps the codebook beside the new chain window.
        doc->ShowResultImages(true, true, false, zn::Q(r.description), QString(), QString());
    });
    // With channel errors the same parameters give a new result each time.
    if (done && m_fActiveProb != 0.0f)
        ApplyButton()->setEnabled(true);
}

void RegisterVqModule()
{
    zn::RegisterModuleDialogClass<CVqDlg>(zn::cmd::kVq);
}
