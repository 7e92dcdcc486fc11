// The player's loop. A raw YUV sequence is read frame by frame into the document picture; a .seq
// series advances the document to its next file, so frame 1 is already on screen when Play is
// pressed and the last step shows the last file again.
#include "mpeg/player/vplay_dlg.h"

#include "image/cdib.h"
#include "image/yuv_frame.h"
#include "modules/common/module_apply.h"
#include "mpeg/player/vplay_text.h"
#include "platform/format.h"
#include "platform/frame_pacer.h"
#include "platform/keypoll.h"
#include "platform/messages.h"
#include "shell/dib_doc.h"
#include "shell/doc_commands.h"

#include <QPushButton>
#include <memory>

CVplayDlg::CVplayDlg()
    : CModuleDialog(IDD, {.caption = QStringLiteral("Video Player: "),
                          .groupId = IDC_GROUP,
                          .groupText = QStringLiteral("Video player does not require parameters"),
                          .tabId = 0,
                          .applyId = IDC_PLAY,
                          .applyText = QStringLiteral("Play"),
                          .resultId = IDC_RESULTS})
{}

bool CVplayDlg::OnInitDialog()
{
    if (!CModuleDialog::OnInitDialog())
        return false;
    connect(ApplyButton(), &QPushButton::clicked, this, &CVplayDlg::OnVplayApply);
    return true;
}

void CVplayDlg::OnVplayApply()
{
    CDibDoc *doc = m_pStartDibDoc;
    if (!doc || !doc->m_pDib)
        return;
    zn::RunModuleApply([&] {
        const int type = doc->m_nDocType;
        const std::string path = doc->m_pDib->m_path;
        std::unique_ptr<CYuvFrame> yuv;
        int length = 0;
        if (type == DOC_YUV) {
            yuv = std::make_unique<CYuvFrame>();
            if (yuv->ReadHeader(path) != 0 || !yuv->AllocateYuvFrame())
                return;
            // The frames are written straight into the document picture, which must be their size.
            if (doc->m_pDib->GetWidth() != yuv->Width16() || doc->m_pDib->GetHeight() != yuv->Height16() ||
                doc->m_pDib->GetInfoHeader()->biBitCount != 24 || !doc->m_pDib->GetBits()) {
                zn::ShowMessage("OnVplayApply - The sequence no longer matches the document's picture");
                return;
            }
            yuv->m_pData = doc->m_pDib->GetBits();
            length = yuv->Frames();
        } else if (type == DOC_SEQ) {
            if (doc->m_nSeqFrame == 0)
                doc->LoadNextSequenceFrame();
            length = kSeriesLength;
        } else {
            zn::ShowMessage("OnVplayApply - Illegal sequence format. This error should never happen");
            return;
        }
        zn::FramePacer pacer;
        zn::ForgetKeyPresses();
        for (int n = 1; n <= length; ++n) {
            pacer.NoteFrameStart();
            const std::string text = VplayStatusText(doc->m_pDib->GetHeight(), doc->m_pDib->GetWidth(),
                                                     type == DOC_YUV ? length : -1, n);
            bool last = false;
            if (type == DOC_YUV) {
                // A frame that cannot be read has been reported; the play ends there.
                if (yuv->ReadFrame(path, n) != 0)
                    break;
                yuv->ConvertYUVFrameDib();
                doc->OnApplyMpegDecoding(true, zn::Q(zn::Format("\r\n\r\nFrame number\t\t: %d\r\n", n)),
                                         QString::number(n));
            } else {
                last = doc->LoadNextSequenceFrame() == 0;
                doc->ShowSequenceResultImages(false, false, false, QString(), QString(), QString());
            }
            SetResultText(zn::Q(text));
            if (zn::TakeKeyPress() &&
                zn::ShowMessage("Video player interrupted by User\nContinue playing this video?",
                                zn::MsgButtons::YesNo, zn::MsgIcon::Question) == zn::MsgAnswer::No)
                last = true;
            pacer.WaitFrameEnd();
            if (last)
                break;
        }
    });
}

void RegisterVideoPlayerModule()
{
    zn::RegisterModuleDialogClass<CVplayDlg>(zn::cmd::kVideoPlayer);
}
