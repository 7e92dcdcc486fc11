// The MPEG encoder dialog: tab rules (only the file page until an output file is named; the source
// and field/frame pages only for MPEG-2, the latter only for an interlaced source; no motion page
// without motion), the run over the document's sequence and its per-picture reports.
#include "mpeg/mpgenc/mpgenc_dlg.h"

#include "image/cdib.h"
#include "image/yuv_convert.h"
#include "modules/common/file_dialog.h"
#include "modules/common/module_apply.h"
#include "mpeg/mpgenc/mpgenc_pages.h"
#include "mpeg/mpgenc/mpgenc_report.h"
#include "mpeg/mpgenc/mpgenc_source.h"
#include "platform/format.h"
#include "platform/messages.h"
#include "platform/qt/gui_platform.h"
#include "shell/compression_app.h"
#include "shell/dib_doc.h"
#include "shell/doc_commands.h"

#include <QCheckBox>
#include <QPushButton>
#include <QTabBar>
#include <algorithm>

CMpgencDlg::CMpgencDlg()
    : CModuleDialog(IDD, {.caption = QStringLiteral("Mpeg 1/2 Encoder: "),
                          .groupId = IDC_GROUP,
                          .groupText = QStringLiteral("Set Mpeg Encoding Parameters"),
                          .tabId = IDC_TAB,
                          .applyId = IDC_APPLY,
                          .resultId = IDC_RESULTS})
{}

void CMpgencDlg::CreatePages()
{
    m_pFilePage = new CMpgencFileDlg(TabCtrl());
    m_pRatePage = MakeMpgencRatePage(TabCtrl());
    m_pGopPage = MakeMpgencGopPage(TabCtrl());
    m_pMotionPage = MakeMpgencMotionPage(TabCtrl());
    m_pFormatPage = new CMpgencFormatDlg(TabCtrl());
    m_pFieldFramePage = new CMpgencFieldFrameDlg(TabCtrl());
    AddPage(m_pFilePage, QStringLiteral("File"));
    AddPage(m_pRatePage, QStringLiteral("Rate"));
    AddPage(m_pGopPage, QStringLiteral("Gop"));
    AddPage(m_pMotionPage, QStringLiteral("Motion"));
    AddPage(m_pFormatPage, QStringLiteral("Format"));
    AddPage(m_pFieldFramePage, QStringLiteral("Field/Frame"));
}

bool CMpgencDlg::OnInitDialog()
{
    if (!CModuleDialog::OnInitDialog())
        return false;
    m_pFilePage->EnableTypeChoice(false);
    for (int tab = kRateTab; tab <= kFieldFrameTab; ++tab)
        TabCtrl()->EnableTab(tab, false);
    ApplyButton()->setEnabled(false);
    m_params = MpegEncoderParams{};
    // Six tabs are wider than the column: a tab bar no wider than its control shows its scroll
    // arrows, so every tab stays reachable.
    TabCtrl()->TabBar()->resize(TabCtrl()->width() - 4, TabCtrl()->TabBar()->height());
    connect(ApplyButton(), &QPushButton::clicked, this, &CMpgencDlg::OnMpgencApply);
    return true;
}

void CMpgencDlg::EnableFormatTabs()
{
    const bool mpeg2 = !m_params.mpeg1;
    TabCtrl()->EnableTab(kFormatTab, mpeg2);
    TabCtrl()->EnableTab(kFieldFrameTab, mpeg2 && !m_params.progressive);
}

void CMpgencDlg::OnSaveAs()
{
    ModuleFileRequest request;
    request.save = true;
    request.title = QStringLiteral("Save the Mpeg Video Stream As...");
    request.initialDir = theApp.m_sUserDir;
    if (m_pStartDibDoc && m_pStartDibDoc->m_pDib)
        request.initialName =
            QString::fromStdString(m_pStartDibDoc->m_pDib->m_title) + QStringLiteral(".mpg");
    request.filter = QStringLiteral("Mpeg File (*.mpg)|*.mpg||");
    request.defaultSuffix = QStringLiteral("mpg");
    const QString path = RunModuleFileDialog(request);
    if (path.isEmpty())
        return;
    m_params.outputPath = path.toStdString();
    m_pFilePage->EnableTypeChoice(true);
    TabCtrl()->EnableTab(kRateTab, true);
    TabCtrl()->EnableTab(kGopTab, true);
    // "I only" has no motion to limit.
    TabCtrl()->EnableTab(kMotionTab, m_params.N != 1);
    EnableFormatTabs();
    ApplyButton()->setEnabled(true);
}

void CMpgencDlg::OnPageMessage(int message)
{
    switch (message) {
    case WM_MPGENC_SAVE_AS:
        OnSaveAs();
        break;
    case WM_MPGENC_MPEG_TYPE:
        m_params.mpeg1 = m_pFilePage->m_nMpeg1;
        EnableFormatTabs();
        break;
    case WM_MPGENC_RATE: {
        // The sixth choice reads "3.5" in a group labelled Mbit/s, and sets what it reads.
        static const float kRates[8] = {128000.f,  384000.f,  768000.f,  1150000.f,
                                        2000000.f, 3500000.f, 5000000.f, 8000000.f};
        m_params.bitRate = kRates[std::clamp(m_pRatePage->m_nValue, 1, 8) - 1];
        break;
    }
    case WM_MPGENC_GOP: {
        static const int kN[6] = {1, 3, 12, 3, 6, 12}, kM[6] = {1, 3, 1, 1, 3, 3};
        const int g = std::clamp(m_pGopPage->m_nValue, 1, 6) - 1;
        m_params.N = kN[g];
        m_params.M = kM[g];
        TabCtrl()->EnableTab(kMotionTab, g != 0);
        break;
    }
    case WM_MPGENC_MOTION: {
        static const int kMotion[6] = {1, 5, 10, 15, 20, 31};
        m_params.maxMotion = kMotion[std::clamp(m_pMotionPage->m_nValue, 1, 6) - 1];
        break;
    }
    case WM_MPGENC_SOURCE:
        m_params.progressive = m_pFormatPage->m_nProgressive;
        m_pFormatPage->TopFirstBox()->setEnabled(!m_params.progressive);
        EnableFormatTabs();
        break;
    case WM_MPGENC_TOP_FIRST:
        m_params.topFieldFirst = m_pFormatPage->m_bTopFieldFirst;
        break;
    case WM_MPGENC_FIELD_FRAME: {
        const CMpgencFieldFrameDlg *page = m_pFieldFramePage;
        m_params.fieldPictures = page->m_nFieldCoding;
        m_params.frameDctI = page->m_nFieldCoding ? 0 : page->m_bFrameDct[0];
        m_params.frameDctP = page->m_nFieldCoding ? 0 : page->m_bFrameDct[1];
        m_params.frameDctB = page->m_nFieldCoding ? 0 : page->m_bFrameDct[2];
        break;
    }
    default:
        break;
    }
}

void CMpgencDlg::OnMpgencApply()
{
    CDibDoc *doc = m_pStartDibDoc;
    if (!doc || !doc->m_pDib)
        return;
    zn::WaitCursor wait;
    zn::RunModuleApply([this] { RunEncoder(); });
}

void CMpgencDlg::RunEncoder()
{
    CDibDoc *doc = m_pStartDibDoc;
    CDib *dib = doc->m_pDib;
    YuvFileSource source(dib->m_path);
    if (!source.Ok())
        return;
    // The reconstructed frames are written into the document picture, which must be their size.
    if (dib->GetWidth() != source.Width() || dib->GetHeight() != source.Height() ||
        dib->GetInfoHeader()->biBitCount != 24 || !dib->GetBits()) {
        zn::ShowMessage("OnMpgencApply - The sequence no longer matches the document's picture");
        return;
    }
    MpegEncoder enc;
    enc.SetSink(this);
    enc.SetParameters(m_params, &source);
    enc.InitQuantMatrices();
    if (enc.init())
        enc.EncodeSequence();
    enc.Close();
}

void CMpgencDlg::ShowDecodingInfo(const MpegPictureReport &report)
{
    m_sResults = zn::Q(MpegReportText(report));
    SetResultText(m_sResults);
}

void CMpgencDlg::ShowCodedFrame(const uint8_t *const planes[3], int width, int height, int frameNo)
{
    CDibDoc *doc = m_pStartDibDoc;
    if (!doc || !doc->m_pDib || !doc->m_pDib->GetBits())
        return;
    CDib *dib = doc->m_pDib;
    const int W = dib->GetWidth(), H = dib->GetHeight();
    // The coded rows only: an interlaced source codes whole macroblock pairs, and the rows below
    // them keep the picture they had.
    const int w = std::min(width, W), h = std::min(height, H);
    const int rowBytes = (3 * W + 3) & ~3;
    YuvPlanes p = UnpaddedYuvPlanes(planes[0], planes[1], planes[2], width, height, 1);
    YuvToDib24(p, w, h, dib->GetBits() + static_cast<size_t>(H - h) * rowBytes, rowBytes);
    doc->OnApplyMpegDecoding(
        true, QStringLiteral("Information can be found in the output window of the dialog box"),
        zn::Q(zn::Format("%1d (coded)", frameNo)));
}

void RegisterMpegEncoderModule()
{
    zn::RegisterModuleDialogClass<CMpgencDlg>(zn::cmd::kMpegEncoder);
}
