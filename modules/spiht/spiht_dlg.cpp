// The SPIHT module dialog: pages to choices, Apply to the decoded picture and both subband images.
#include "modules/spiht/spiht_dlg.h"

#include "image/cdib.h"
#include "modules/common/module_apply.h"
#include "modules/spiht/spiht_pages.h"
#include "platform/qt/gui_platform.h"
#include "shell/compression_app.h"
#include "shell/doc_commands.h"

#include <QPushButton>

CSpihtDlg::CSpihtDlg()
    : CModuleDialog(IDD, {.caption = QStringLiteral("SPIHT: "),
                          .groupId = 1420,
                          .groupText = QStringLiteral("Set SPIHT Coding Parameters"),
                          .tabId = 1417,
                          .applyId = IDC_APPLY,
                          .resultId = IDC_RESULTS})
{
    SetRDKey("SPIHT");
    UseStoringCursor();
}

CSpihtDlg::~CSpihtDlg()
{
    PostNcDestroy();
}

void CSpihtDlg::PostNcDestroy()
{
    m_session.CloseStream();
}

void CSpihtDlg::CreatePages()
{
    m_pBitratePage = new CSpihtBitrateDlg(TabCtrl());
    m_pSmoothingPage = new CSpihtSmoothingDlg(TabCtrl());
    m_pDecoderPage = new CSpihtDecoderDlg(TabCtrl());
    AddPage(m_pBitratePage, QStringLiteral("Bitrate"));
    AddPage(m_pSmoothingPage, QStringLiteral("Smoothing"));
    AddPage(m_pDecoderPage, QStringLiteral("Decoder"));
}

bool CSpihtDlg::OnInitDialog()
{
    m_par = SpihtParams{};
    if (!CModuleDialog::OnInitDialog())
        return false;
    connect(ApplyButton(), &QPushButton::clicked, this, &CSpihtDlg::OnSpihtApply);
    return true;
}

void CSpihtDlg::OnPageMessage(int message)
{
    switch (message) {
    case WM_SPIHT_ENCRATE_CHANGED:
        OnEncRateChanged();
        break;
    case WM_SPIHT_SMOOTHING_CHANGED:
        m_par.m_nSmoothing = static_cast<int>(m_pSmoothingPage->m_fValue);
        break;
    case WM_SPIHT_DECRATE_CHANGED:
        m_par.m_fDecRate = m_pDecoderPage->m_fValue;
        break;
    default:
        return;
    }
    UpdateApply();
}

// A new encoder rate becomes the decoding rate too; higher decoding rates cannot be chosen.
void CSpihtDlg::OnEncRateChanged()
{
    m_par.m_fEncRate = m_pBitratePage->m_fValue;
    m_pDecoderPage->ClearChecks();
    for (int k = 1; k < 10; ++k) // 1466 (0.05) stays as it is
        m_pDecoderPage->Button(1466 + k)->setEnabled(m_par.m_fEncRate >= m_fRates[k]);
    m_par.m_fDecRate = m_par.m_fEncRate;
    m_pDecoderPage->SetValue(m_par.m_fEncRate);
}

void CSpihtDlg::UpdateApply()
{
    ApplyButton()->setEnabled(m_par.m_fEncRate >= m_par.m_fDecRate);
}

void CSpihtDlg::OnSpihtApply()
{
    ApplyButton()->setEnabled(false);
    zn::WaitCursor wait;
    CDibDoc *doc = m_pStartDibDoc;
    if (doc && doc->m_pDib && doc->m_pFinalDib && doc->m_pResultDibA && doc->m_pResultDibB) {
        zn::RunModuleApply([&] {
            SpihtApplyResult r;
            m_session.Apply(*doc->m_pDib, doc->m_pDib->m_title, m_par, theApp.m_sUserDir.toStdString(), &r);
            if (!r.done)
                return;
            m_sResults = zn::Q(r.results);
            SetResultText(m_sResults);
            zn::PutResultImage(r.decoded, doc->m_pFinalDib, r.nameChain, r.captionChain);
            if (r.encoded)
                zn::PutResultImage(r.originalBands, doc->m_pResultDibA, r.nameA, r.captionA);
            zn::PutResultImage(r.decodedBands, doc->m_pResultDibB, r.nameB, r.captionB);
            zn::StoreRDPointIfRecording(
                doc, "SPIHT", r.decRate, r.measures,
                "(OnSpihtApply()) m_pStartDibDoc->m_pRDData == NULL. Should not happen");
            doc->ShowResultImages(true, true, true, zn::Q(r.descChain), zn::Q(r.descA), zn::Q(r.descB));
        });
    }
    UpdateApply();
}

void RegisterSpihtModule()
{
    zn::RegisterModuleDialogClass<CSpihtDlg>(zn::cmd::kSpiht);
}
