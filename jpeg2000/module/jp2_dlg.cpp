// The JPEG2000 module dialog: the page handlers that keep the coding parameters and the links between
// the rates, and Apply through the engine's run.
#include "jpeg2000/module/jp2_dlg.h"

#include "image/cdib.h"
#include "jpeg2000/module/jp2_pages.h"
#include "modules/common/module_apply.h"
#include "platform/messages.h"
#include "shell/compression_app.h"
#include "shell/doc_commands.h"

#include <QPushButton>

Jpeg2000Dlg::Jpeg2000Dlg()
    : CModuleDialog(IDD, {.caption = QStringLiteral("JPEG2000: "),
                          .groupId = 2142,
                          .groupText = QStringLiteral("Set JPEG2000 Parameters"),
                          .tabId = IDC_TAB,
                          .applyId = IDC_APPLY,
                          .resultId = IDC_RESULTS})
{
    SetRDKey("JPEG2000");
    UseStoringCursor();
}

void Jpeg2000Dlg::CreatePages()
{
    m_pEncRateDlg = new Jpeg2000EncRateDlg(TabCtrl());
    m_pQuantDlg = new Jpeg2000QuantDlg(TabCtrl());
    m_pLevelsDlg = new Jpeg2000LevelsDlg(TabCtrl());
    m_pDecRateDlg = new Jpeg2000DecRateDlg(TabCtrl());
    m_pTilingDlg = new Jpeg2000TilingDlg(TabCtrl());
    m_pVisWeightDlg = new Jpeg2000VisWeightDlg(TabCtrl());
    m_pRoiDlg = new Jpeg2000RoiDlg(TabCtrl());
    m_pScalDecDlg = new Jpeg2000ScalDecDlg(TabCtrl());
    AddPage(m_pEncRateDlg, QStringLiteral("Encode"));
    AddPage(m_pQuantDlg, QStringLiteral("Quant"));
    AddPage(m_pLevelsDlg, QStringLiteral("Levls"));
    AddPage(m_pDecRateDlg, QStringLiteral("Decode"));
    AddPage(m_pVisWeightDlg, QStringLiteral("Vismask"));
    AddPage(m_pTilingDlg, QStringLiteral("Tiling"));
    AddHiddenPage(m_pRoiDlg);
    AddHiddenPage(m_pScalDecDlg);
}

void Jpeg2000Dlg::AddHiddenPage(CModulePage *page)
{
    page->hide();
    page->SetOwner(this);
    connect(page, &CModulePage::Notify, this, &CModuleDialog::SendMessage);
}

bool Jpeg2000Dlg::OnInitDialog()
{
    m_par = Jpeg2000Params{};
    m_session = Jpeg2000Session{};
    m_sDecoderText = QString::fromLatin1(kJpeg2000DecoderText);
    if (!CModuleDialog::OnInitDialog())
        return false;
    ApplyButton()->setDefault(true);
    connect(ApplyButton(), &QPushButton::clicked, this, &Jpeg2000Dlg::OnJpeg2000Apply);
    return true;
}

void Jpeg2000Dlg::OnPageMessage(int message)
{
    switch (message) {
    case WM_JP2_DECOPT:
        OnJpeg2000Decopt();
        break;
    case WM_JP2_SCALDEC:
        OnJpeg2000Scaldec();
        break;
    case WM_JP2_ENCRATE:
        OnJpeg2000Encrate();
        break;
    case WM_JP2_LEVELS:
        OnJpeg2000Levels();
        break;
    case WM_JP2_QUANT:
        OnJpeg2000Quant();
        break;
    case WM_JP2_TILING:
        OnJpeg2000Tiling();
        break;
    case WM_JP2_ROI:
        OnJpeg2000Roi();
        break;
    case WM_JP2_VISMASK:
        OnJpeg2000Vismask();
        break;
    default:
        break;
    }
}

void Jpeg2000Dlg::OnJpeg2000Decopt()
{
    m_par.m_fDecRate = m_pDecRateDlg->Rate();
    switch (m_pScalDecDlg->DecodeOption()) {
    case 1:
        if (m_par.m_nDiscardLevels == 0)
            m_par.m_fTruncRate = m_par.m_fDecRate;
        break;
    case 2:
        zn::ShowMessage("OnJpeg2000Decopt - Parse option eliminated from software");
        m_par.m_fTruncRate = -1.0f;
        break;
    default:
        zn::ShowMessage("OnJpeg2000Decopt - Implementation error");
        break;
    }
}

void Jpeg2000Dlg::OnJpeg2000Scaldec()
{
    m_par.m_nDiscardLevels = m_pScalDecDlg->Scaling();
    if (m_par.m_nDiscardLevels != 0) {
        // Leaving levels out needs every level whole: the stream is coded losslessly.
        if (!m_par.Lossless())
            m_session.m_bReencode = 1;
        m_par.m_fEncRate = Jpeg2000Params::kLossless;
        m_par.m_fTruncRate = -1.0f;
        TabCtrl()->EnableTab(kDecodeTab, false);
        m_pLevelsDlg->EnableShallowLevels(false);
    } else {
        m_par.m_fTruncRate = m_par.m_fDecRate;
        TabCtrl()->EnableTab(kDecodeTab, true);
        m_pLevelsDlg->EnableShallowLevels(true);
        OnJpeg2000Encrate();
    }
}

void Jpeg2000Dlg::OnJpeg2000Encrate()
{
    m_par.m_fEncRate = m_pEncRateDlg->Rate();
    m_session.m_bReencode = 1;
    // Decoding rates above the encoding rate go; the highest one left is chosen.
    const bool setRate = m_par.m_nDiscardLevels == 0;
    m_pDecRateDlg->EnableAllRates();
    m_pDecRateDlg->ClearAllRates();
    m_pDecRateDlg->SelectRate(kJp2RateCount - 1, setRate);
    for (int i = kJp2RateCount - 1; i > 0 && m_par.m_fEncRate < kJp2Rates[i]; --i) {
        m_pDecRateDlg->DisableRate(i);
        m_pDecRateDlg->SelectRate(i - 1, setRate);
    }
    OnJpeg2000Decopt();
}

void Jpeg2000Dlg::OnJpeg2000Levels()
{
    m_par.m_nLevels = m_pLevelsDlg->Levels();
    m_par.m_bReversible = m_pLevelsDlg->Reversible();
    m_session.m_bReencode = 1;
}

void Jpeg2000Dlg::OnJpeg2000Quant()
{
    m_par.m_nCodeBlock = m_pQuantDlg->CodeBlock();
    m_par.m_bSnrLayers = m_pQuantDlg->SnrLayers();
    m_session.m_bReencode = 1;
    if (m_pQuantDlg->Lossless()) {
        TabCtrl()->EnableTab(kEncodeTab, false);
        TabCtrl()->EnableTab(kDecodeTab, false);
        m_par.m_fEncRate = Jpeg2000Params::kLossless;
        m_par.m_fTruncRate = -1.0f;
    } else {
        TabCtrl()->EnableTab(kEncodeTab, true);
        TabCtrl()->EnableTab(kDecodeTab, true);
        OnJpeg2000Encrate();
    }
}

void Jpeg2000Dlg::OnJpeg2000Tiling()
{
    m_par.m_bTiling = m_pTilingDlg->On();
    m_par.m_nTileSize = m_pTilingDlg->TileSize();
    m_session.m_bReencode = 1;
}

void Jpeg2000Dlg::OnJpeg2000Roi()
{
    m_par.m_bRoi = m_pRoiDlg->On();
    m_par.m_nRoiBoost = m_pRoiDlg->Factor();
    m_par.m_fRoiRadius = m_pRoiDlg->Radius();
    m_session.m_bReencode = 1;
}

void Jpeg2000Dlg::OnJpeg2000Vismask()
{
    m_par.m_bVisWeight = m_pVisWeightDlg->On();
    m_par.m_fVisExponent = m_pVisWeightDlg->Exponent();
    m_session.m_bReencode = 1;
}

// One synchronous run on the GUI thread, without a wait cursor. A failed run (a codec error, a
// missing stream) has shown its message by then; nothing is shown or stored, and the next Apply
// encodes again.
void Jpeg2000Dlg::OnJpeg2000Apply()
{
    CDibDoc *doc = m_pStartDibDoc;
    if (!doc || !doc->m_pDib || !doc->m_pFinalDib)
        return;
    const std::string title = doc->m_pDib->m_title;
    const std::string userDir = theApp.m_sUserDir.toStdString();
    m_sStreamPath = Jpeg2000StreamPath(userDir, title);
    zn::RunModuleApply([&] {
        const Jpeg2000ApplyResult r =
            Jpeg2000ApplyRun(m_session, m_par, *doc->m_pDib, doc->m_pFinalDib, title, userDir);
        m_sDecoderText = QString::fromLatin1(kJpeg2000DecoderText);
        m_sResult = zn::Q(r.result);
        SetResultText(m_sResult);
        // With levels left out there are no measures, and so no point. The point is plotted at the
        // rate decoded, which falls short of the rate asked when the stream ends first.
        if (r.measured)
            zn::StoreRDPointIfRecording(
                doc, "JPEG2000", static_cast<float>(Jpeg2000DecodedBitrate(r.decoding)), r.measures,
                "(OnJpeg2000Apply()) m_pStartDibDoc->m_pRDData == NULL. Should not happen");
        zn::ShowChainResult(doc, r.description);
    });
}

void RegisterJpeg2000Module()
{
    zn::RegisterModuleDialogClass<Jpeg2000Dlg>(zn::cmd::kJpeg2000);
}
