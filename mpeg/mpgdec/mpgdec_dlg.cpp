// The decoder dialog and its Apply: the passes over the stream, the questions between frames, the
// 50 ms pacing, the picture-type list and the frame sink that paints the document's window and
// appends the YUV file.
#include "mpeg/mpgdec/mpgdec_dlg.h"

#include "image/cdib.h"
#include "image/yuv_writer.h"
#include "modules/common/module_apply.h"
#include "mpeg/mpgdec/mpgdec_pages.h"
#include "platform/format.h"
#include "platform/frame_pacer.h"
#include "platform/keypoll.h"
#include "platform/messages.h"
#include "platform/qt/gui_platform.h"
#include "shell/dib_doc.h"

#include <QPushButton>
#include <cstdio>

bool CMpgdecDlg::g_bFieldOverlayWarned = false;
zn::CMpegDecoder *CMpgdecDlg::g_pMpegDecoder = nullptr;

namespace {

// What bytes 2-3 of the file say it is: an elementary video stream, a system stream, or neither
// (then still decoded as an elementary stream).
const char *StreamTypeOf(const std::string &path, int *systemStream)
{
    unsigned char head[4] = {};
    size_t got = 0;
    if (std::FILE *f = std::fopen(path.c_str(), "rb")) {
        got = std::fread(head, 1, 4, f);
        std::fclose(f);
    }
    *systemStream = 0;
    if (got == 4 && head[2] == 0x01 && head[3] == 0xB3)
        return "Video";
    if (got == 4 && head[2] == 0x01 && head[3] == 0xBA) {
        *systemStream = 1;
        return "System";
    }
    return "Unknown";
}

// Runs at the end of a pass however it ends: the decoder's stores go, and the YUV file (written by
// the first pass only) is closed with its header.
struct PassEnd
{
    zn::CMpegDecoder &dec;
    std::unique_ptr<CYuvFileWriter> &writer;
    int &saveYuv;
    ~PassEnd()
    {
        dec.mpgdec_freedecoder();
        dec.initialised = 0;
        dec.frame_count = 0;
        if (saveYuv) {
            writer.reset();
            saveYuv = 0;
        }
    }
};

} // namespace

CMpgdecDlg::CMpgdecDlg()
    : CModuleDialog(IDD, {.caption = QStringLiteral("Mpeg 1/2 Decoder: "),
                          .groupId = IDC_GROUP,
                          .groupText = QStringLiteral("Set Mpeg Decoding Parameters"),
                          .tabId = IDC_TAB,
                          .applyId = IDC_APPLY,
                          .resultId = IDC_RESULTS})
{}

CMpgdecDlg::~CMpgdecDlg() = default;

void CMpgdecDlg::CreatePages()
{
    m_pOperationPage = new CMpgdecOperationDlg(TabCtrl());
    m_pDisplayPage = new CMpgdecDisplayDlg(TabCtrl());
    m_pVideoPage = new CMpgdecVideoDlg(TabCtrl());
    m_pChannelPage = new CMpgdecChannelDlg(TabCtrl());
    m_pSavePage = new CMpgdecSaveDlg(TabCtrl());
    AddPage(m_pOperationPage, QStringLiteral("Operation"));
    AddPage(m_pDisplayPage, QStringLiteral("Display"));
    AddPage(m_pVideoPage, QStringLiteral("Video"));
    AddPage(m_pChannelPage, QStringLiteral("Wireless Channel"));
    AddPage(m_pSavePage, QStringLiteral("Save..."));
}

bool CMpgdecDlg::OnInitDialog()
{
    m_nOutputMode = 0;
    m_bFrameByFrame = 0;
    m_nLoops = 1;
    m_bVectorOverlay = 0;
    m_bNoBFrames = 0;
    m_bColorDisplay = 1;
    m_bSaveYuv = 0;
    if (!CModuleDialog::OnInitDialog())
        return false;
    connect(ApplyButton(), &QPushButton::clicked, this, &CMpgdecDlg::OnMpgdecApply);
    return true;
}

void CMpgdecDlg::OnPageMessage(int message)
{
    switch (message) {
    case WM_MPGDEC_MODE_CHANGED:
        m_nOutputMode = m_pOperationPage->m_nMode;
        break;
    case WM_MPGDEC_VIDEO_CHANGED:
        m_bFrameByFrame = m_pVideoPage->m_bFrameByFrame;
        m_nLoops = m_pVideoPage->m_nLoops;
        break;
    case WM_MPGDEC_DISPLAY_CHANGED:
        m_bColorDisplay = m_pDisplayPage->m_bColorDisplay;
        m_bVectorOverlay = m_pDisplayPage->m_bVectorOverlay;
        m_bNoBFrames = m_pDisplayPage->m_bNoBFrames;
        break;
    default:
        break;
    }
}

void CMpgdecDlg::OnMpgdecApply()
{
    CDibDoc *doc = m_pStartDibDoc;
    // Windows repaint between frames, so Apply can be pressed again while a run is going on: the
    // press is ignored rather than starting a run inside the run.
    if (!doc || !doc->m_pDib || m_bRunning)
        return;
    m_bRunning = true;
    zn::WaitCursor wait;
    // Another document's decoder may be running: this run starts inside its frame loop and gives it
    // back its decoder when it ends.
    zn::CMpegDecoder *const outer = g_pMpegDecoder;
    zn::RunModuleApply([this] { RunDecoding(); });
    g_pMpegDecoder = outer;
    m_bRunning = false;
    // Every way out of a run leaves no decoder and no open YUV file behind.
    m_pYuvWriter.reset();
    m_bSaveYuv = 0;
}

void CMpgdecDlg::RunDecoding()
{
    auto dec = std::make_unique<zn::CMpegDecoder>();
    g_pMpegDecoder = dec.get();
    dec->mv_overlay = m_bVectorOverlay;
    dec->skip_b_frames = m_bNoBFrames;
    dec->doc_sink = [this](const zn::MpegFrame &frame, int number, const char *type, int kind) {
        DisplayFrame(frame, number, type, kind);
    };
    // A chosen file serves one Apply; the Save page must choose again for the next.
    if (m_pSavePage->m_bChosen) {
        m_pSavePage->m_bChosen = 0;
        m_bSaveYuv = 1;
        m_sSavePath = m_pSavePage->m_sPath;
        m_pYuvWriter = std::make_unique<CYuvFileWriter>(m_sSavePath);
        if (!m_pYuvWriter->IsOpen()) {
            zn::ShowMessage("(OnMpgDecApply) Error creating YUV file. Decoded file not saved.\nDo you have "
                            "proper write permission?");
            m_bSaveYuv = 0;
            m_pYuvWriter.reset();
        }
    }
    dec->gop_seen = 0;
    zn::ForgetKeyPresses();
    for (int pass = 0; pass < m_nLoops; ++pass)
        if (!DecodePass(*dec))
            break;
}

bool CMpgdecDlg::DecodePass(zn::CMpegDecoder &dec)
{
    const std::string path = m_pStartDibDoc->m_pDib->m_path;
    dec.current_layer = &dec.base_layer;
    dec.base_layer.mpeg2 = 0;
    const std::string streamType = StreamTypeOf(path, &dec.system_stream);
    zn::MpegFileInput input(path);
    if (!input.IsOpen()) {
        zn::ShowMessage("OnMpgdecApply: Mpeg file not found");
        return false;
    }
    PassEnd end{dec, m_pYuvWriter, m_bSaveYuv};
    dec.mpgdec_initbits(&input);
    if (!dec.gethdr()) {
        zn::ShowMessage("MpegDecoder - This is not a valid Mpeg file");
        return false;
    }
    dec.output_mode = m_nOutputMode;
    dec.frame_count = dec.i_count = dec.p_count = dec.b_count = 0;
    dec.second_field = 0;
    dec.ref_picture_type = 1;
    if (dec.mv_overlay)
        dec.mv_p_select = 1;
    dec.mpgdec_initdecoder();
    zn::FramePacer pacer;
    pacer.NoteFrameStart();
    bool automatic = false;
    for (;;) {
        const bool skippedB = dec.picture_coding_type == 3 && dec.skip_b_frames;
        if (!dec.second_field && m_bFrameByFrame && !automatic && !skippedB) {
            const zn::MsgAnswer a = zn::ShowMessage(
                zn::Format("Decode frame %1d in bitstream\n(Cancel to continue automatically)",
                           dec.frame_count + 1),
                zn::MsgButtons::YesNoCancel, zn::MsgIcon::Question);
            if (a == zn::MsgAnswer::No)
                return false;
            if (a == zn::MsgAnswer::Cancel)
                automatic = true;
        }
        dec.mpgdec_getpicture(dec.frame_count);
        const bool frame = dec.picture_structure == 3;
        if (dec.frame_count == 0 && (frame || dec.second_field))
            m_types.Reset(zn::MpegStreamInfoText(dec, streamType, !frame));
        std::string letter = dec.gop_seen ? " sg" : "";
        dec.gop_seen = 0;
        const bool frameDone = !dec.second_field; // a frame or a second field was decoded
        switch (dec.picture_coding_type) {
        case 1:
            letter += "I";
            dec.ref_picture_type = 1;
            dec.i_count += frameDone;
            break;
        case 2:
            letter += "P";
            dec.ref_picture_type = 2;
            if (frameDone) {
                ++dec.p_count;
                dec.mv_p_select ^= 1;
            }
            break;
        case 3:
            letter += "B";
            dec.b_count += frameDone;
            break;
        default:
            break;
        }
        // Pictures of a reserved type were skipped by the decoder and are not counted.
        if (frameDone && dec.picture_coding_type >= 1 && dec.picture_coding_type <= 4)
            ++dec.frame_count;
        m_types.Add(letter, dec.frame_count, frameDone);
        SetResultText(zn::Q(m_types.ResultText()));
        if (frameDone && zn::TakeKeyPress() &&
            zn::ShowMessage("Decoding interrupted by User\nContinue decoding this Mpeg stream?",
                            zn::MsgButtons::YesNo, zn::MsgIcon::Question) == zn::MsgAnswer::No)
            return false;
        if (!skippedB)
            pacer.WaitFrameEnd();
        if (frameDone)
            pacer.NoteFrameStart();
        if (!dec.gethdr()) {
            if (dec.frame_count != 0)
                dec.mpgdec_lastframe(dec.frame_count);
            break;
        }
    }
    return true;
}

void CMpgdecDlg::DisplayFrame(const zn::MpegFrame &frame, int frameNumber, const char *typeText, int kind)
{
    zn::CMpegDecoder *dec = g_pMpegDecoder;
    CDibDoc *doc = m_pStartDibDoc;
    if (!dec || !doc || !doc->m_pDib)
        return;
    if (kind == 3 && dec->skip_b_frames)
        return;
    CDib *dib = doc->m_pDib;
    if (!zn::FrameToDib(frame, m_bColorDisplay != 0, dib)) {
        zn::ShowMessage("DisplayFrame - Target memory space to small. This error should never occur");
        throw zn::MpegDecodeError("no image for the frame");
    }
    if (dec->mv_overlay) {
        if (dec->picture_structure == 3) {
            const std::vector<zn::MotionVector> &v = kind == 1 ? dec->mv_i
                                                     : kind == 2
                                                         ? (dec->mv_p_select ? dec->mv_p_b : dec->mv_p_a)
                                                         : dec->mv_b;
            zn::DrawMacroblockVectors(v, dec->mb_width, dec->mb_height, dib->GetBits(), frame.width,
                                      frame.height);
        } else if (!g_bFieldOverlayWarned) {
            zn::ShowMessage(
                "Sorry: Motion field overlay is not\r\nsupported for Mpeg-2 field pictures\r\n (too "
                "messy for sensible display)");
            g_bFieldOverlayWarned = true;
        }
    }
    m_szFrameTitle = zn::Format("%d_%s", frameNumber, typeText);
    doc->OnApplyMpegDecoding(
        true,
        zn::Q(m_types.ViewText() +
              zn::Format("\r\n\r\nFrame number\t\t: %d\r\nPicture type\t\t: %s", frameNumber, typeText)),
        zn::Q(m_szFrameTitle));
    if (m_bSaveYuv && m_pYuvWriter) {
        uint8_t *planes[3];
        std::vector<uint8_t> cb, cr;
        zn::FramePlanes420(frame, cb, cr, planes);
        m_pYuvWriter->SaveYUVFrame(frame.height, frame.width, planes);
    }
}
