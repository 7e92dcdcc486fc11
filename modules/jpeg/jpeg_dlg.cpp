// The JPEG module dialog: pages to pending parameters, the table shown on choosing it, Apply to a
// measured chain window.
#include "modules/jpeg/jpeg_dlg.h"

#include "image/cdib.h"
#include "image/znimage.h"
#include "modules/common/module_apply.h"
#include "modules/jpeg/jpeg_design_dlg.h"
#include "modules/jpeg/jpeg_pages.h"
#include "modules/jpeg/jpeg_tables.h"
#include "platform/format.h"
#include "platform/messages.h"
#include "platform/qt/gui_platform.h"
#include "shell/doc_app.h"
#include "shell/doc_commands.h"

#include <QPushButton>

namespace {

// The Standard Y table as the result box shows it when the dialog opens: eight lines of eight.
QString StandardTableLines()
{
    const JpegTable t = JpegBaseTable(kJpegStandardY);
    std::string s;
    for (int i = 0; i < 64; ++i) {
        s += zn::Format("%5.2d", t[i]);
        if (i % 8 == 7)
            s += "\r\n";
    }
    return zn::Q(s);
}

} // namespace

CJpgDlg::CJpgDlg()
    : CModuleDialog(IDD, {.caption = QStringLiteral("JPEG: "),
                          .groupId = 1328,
                          .groupText = QStringLiteral("Set JPEG Parameters"),
                          .tabId = 1329,
                          .applyId = IDC_APPLY,
                          .resultId = IDC_RESULTS})
{
    SetRDKey("JPEG");
    UseStoringCursor();
}

void CJpgDlg::CreatePages()
{
    m_pBitratePage = new CJpgBitrateDlg(TabCtrl());
    m_pSmoothPage = new CJpgSmoothDlg(TabCtrl());
    m_pQuantPage = new CJpgQuantDlg(TabCtrl());
    m_pDesignPage = new CJpgDesignDlg(TabCtrl());
    m_pHuffmanPage = new CJpgHuffmanDlg(TabCtrl());
    m_pMarkersPage = new CJpgMarkersDlg(TabCtrl());
    m_pErrorsPage = new CJpgErrorsDlg(TabCtrl());
    AddPage(m_pBitratePage, QStringLiteral("Bitrate"));
    AddPage(m_pQuantPage, QStringLiteral("Quant"));
    AddPage(m_pDesignPage, QStringLiteral("Design Q"));
    AddPage(m_pHuffmanPage, QStringLiteral("Huffman"));
    AddPage(m_pSmoothPage, QStringLiteral("Smooth"));
    AddPage(m_pMarkersPage, QStringLiteral("Markers"));
    AddPage(m_pErrorsPage, QStringLiteral("Errors"));
}

bool CJpgDlg::OnInitDialog()
{
    if (!CModuleDialog::OnInitDialog())
        return false;
    // The perceptual design needs data files the program does not ship: its page stays out of
    // reach, and so does the table it would make.
    TabCtrl()->EnableTab(kDesignTab, false);
    m_pQuantPage->GetDlgItem(CJpgQuantDlg::IDC_PERCEPTUAL)->setEnabled(false);
    m_pendingPar = JpegParams{};
    m_sResults = StandardTableLines();
    SetResultText(m_sResults);
    connect(ApplyButton(), &QPushButton::clicked, this, &CJpgDlg::OnJpgApply);
    return true;
}

void CJpgDlg::OnPageMessage(int message)
{
    switch (message) {
    case WM_JPG_BITRATE_CHANGED:
        m_pendingPar.fBitrate = m_pBitratePage->m_fBitrate;
        m_pendingPar.nQuality = m_pBitratePage->m_nQuality;
        m_pendingPar.nQualityMode = m_pBitratePage->m_nQualityMode;
        break;
    case WM_JPG_ERRORS_CHANGED:
        m_pendingPar.fErrorProb = m_pErrorsPage->m_fErrorProb;
        break;
    case WM_JPG_SMOOTHING_CHANGED:
        m_pendingPar.nSmoothing = m_pSmoothPage->m_nSmoothing;
        break;
    case WM_JPG_QUANT_CHANGED:
        OnJpgQuantChanged();
        break;
    case WM_JPG_HUFFMAN_CHANGED:
        m_pendingPar.nHuffman = m_pHuffmanPage->m_nHuffman;
        break;
    case WM_JPG_MARKERS_CHANGED:
        m_pendingPar.nRestartValue = m_pMarkersPage->m_nRestartValue;
        m_pendingPar.nRestartUnit = m_pMarkersPage->m_nRestartUnit;
        break;
    case WM_JPG_MATRIX_DESIGNED:
        m_pQuantPage->GetDlgItem(CJpgQuantDlg::IDC_PERCEPTUAL)->setEnabled(true);
        break;
    default:
        return;
    }
    ApplyButton()->setEnabled(true);
}

void CJpgDlg::OnJpgQuantChanged()
{
    const int table = m_pQuantPage->m_nQuantTable;
    m_pendingPar.nQuantTable = table;
    if (table == kJpegPerceptual) {
        const std::string path = DocUserDir().toStdString() + kJpegMatrixName;
        std::array<int16_t, 64> zigzag;
        if (!JpegReadDesignedMatrix(path, &zigzag)) {
            zn::ShowMessage(zn::Format(kJpegMissingMatrixMessage, path.c_str()));
            const JpegTable standard = JpegBaseTable(kJpegStandardY);
            for (int k = 0; k < 64; ++k)
                zigzag[k] = static_cast<int16_t>(standard[kJpegZigzagToNatural[k]]);
        }
        JpegSetDesignedMatrix(zigzag);
    }
    m_sResults = zn::Q(JpegTableText(table));
    SetResultText(m_sResults);
}

void CJpgDlg::OnJpgApply()
{
    zn::WaitCursor wait;
    m_activePar = m_pendingPar;
    CDibDoc *doc = m_pStartDibDoc;
    if (!doc || !doc->m_pDib)
        return;
    zn::RunModuleApply([&] {
        ZnImage decoded;
        const JpegRunResult r = JpegCodeImage(m_activePar, doc->m_pDib, doc->m_pDib->m_title,
                                              DocUserDir().toStdString(), &decoded);
        m_sResults = zn::Q(r.results);
        SetResultText(m_sResults);
        zn::StoreRDPointIfRecording(doc, "JPEG", r.rate, r.measures,
                                    "(OnJpgApply()) m_pStartDibDoc->m_pRDData == NULL. Should not happen");
        zn::ShowChainResult(doc, decoded, r.name, r.caption, r.description);
    });
}

void RegisterJpegModule()
{
    zn::RegisterModuleDialogClass<CJpgDlg>(zn::cmd::kJpeg);
}
