// The decoder dialog: its pages' messages, the Apply that runs the decoder over the document's stream,
// and the services the run asks of it (text, frame counter, document, save file, result windows).
#include "h264dec/ui/h264dec_dlg.h"

#include "h264dec/decoder_run.h"
#include "h264dec/decoder_views.h"
#include "h264dec/stream_open.h"
#include "h264dec/ui/h264dec_pages.h"
#include "image/cdib.h"
#include "image/yuv_writer.h"
#include "modules/common/module_apply.h"
#include "platform/messages.h"
#include "platform/qt/gui_platform.h"
#include "shell/dib_frame.h"
#include "shell/doc_app.h"
#include "shell/doc_commands.h"

#include <QEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QTabBar>
#include <QTextCursor>

namespace {

const char *const kLeakyBucketFileName = "H264LeakyBucketParam.cfg";

std::string LeakyBucketPath()
{
    return DocUserDir().toStdString() + kLeakyBucketFileName;
}

// While a run decodes, windows repaint and take input between pictures. The document must stay (the
// run writes into its images), so closing its window waits for the run's end.
class KeepDocumentOpen : public QObject
{
public:
    explicit KeepDocumentOpen(QWidget *window) : m_window(window)
    {
        if (m_window)
            m_window->installEventFilter(this);
    }
    ~KeepDocumentOpen() override
    {
        if (m_window)
            m_window->removeEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_window && event->type() == QEvent::Close) {
            event->ignore();
            return true;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QPointer<QWidget> m_window;
};

} // namespace

CH264decDlg::CH264decDlg()
    : CModuleDialog(IDD, {.caption = QStringLiteral("H.264 Decoder: "),
                          .groupId = IDC_GROUP,
                          .groupText = QStringLiteral("Set H.264 Decoder Parameters"),
                          .tabId = IDC_TAB,
                          .applyId = IDC_APPLY,
                          .resultId = IDC_RESULTS})
{}

CH264decDlg::~CH264decDlg() = default;

void CH264decDlg::CreatePages()
{
    // Made in template order, shown in tab order.
    m_pSavePage = new CH264decSaveDlg([this] { return QString::fromStdString(DocumentTitle()); }, TabCtrl());
    m_pStreamPage = new CH264decStreamDlg(TabCtrl());
    m_pMotionPage = new CH264decMotionDlg(TabCtrl());
    m_pBlockPage = new CH264decBlockDlg(TabCtrl());
    m_pStepPage = new CH264decStepDlg(TabCtrl());
    m_pIntraPage = new CH264decIntraDlg(TabCtrl());
    m_pBitsPage = new CH264decBitsDlg(TabCtrl());
    AddPage(m_pStepPage, QStringLiteral("Decoder Step"));
    AddPage(m_pStreamPage, QStringLiteral("Input Stream"));
    AddPage(m_pMotionPage, QStringLiteral("Motion Vectors"));
    AddPage(m_pIntraPage, QStringLiteral("Intra Prediction"));
    AddPage(m_pBlockPage, QStringLiteral("Block Division"));
    AddPage(m_pBitsPage, QStringLiteral("MB Bits Usage"));
    AddPage(m_pSavePage, QStringLiteral("Save"));
}

bool CH264decDlg::OnInitDialog()
{
    m_choices = H264ViewChoices{};
    m_choices.intra = m_choices.intra_colored = false;
    m_bSaveOn = 0;
    m_nFrameCounter = 0;
    if (!CModuleDialog::OnInitDialog())
        return false;
    // Seven tabs are wider than the column: a tab bar no wider than its control shows its scroll
    // arrows, so every tab stays reachable.
    TabCtrl()->TabBar()->resize(TabCtrl()->width() - 4, TabCtrl()->TabBar()->height());
    connect(ApplyButton(), &QPushButton::clicked, this, &CH264decDlg::OnH264decApply);
    return true;
}

void CH264decDlg::OnPageMessage(int message)
{
    switch (message) {
    case WM_H264DEC_SAVE:
        m_sSavePath = m_pSavePage->m_sPath;
        m_bSaveOn = 1;
        break;
    case WM_H264DEC_STREAM:
        m_choices.stream = m_pStreamPage->m_bOn != 0;
        break;
    case WM_H264DEC_MOTION:
        m_choices.vectors = m_pMotionPage->m_bOn != 0;
        m_choices.vectors_on_picture = m_pMotionPage->m_bChecked != 0;
        break;
    case WM_H264DEC_BLOCK:
        m_choices.bdiv = m_pBlockPage->m_bOn != 0;
        m_choices.bdiv_on_picture = m_pBlockPage->m_bChecked != 0;
        break;
    case WM_H264DEC_STEP:
        m_choices.frame_by_frame = m_pStepPage->m_bOn != 0;
        break;
    case WM_H264DEC_INTRA:
        m_choices.intra = m_pIntraPage->m_bOn != 0;
        m_choices.intra_colored = m_pIntraPage->m_bChecked != 0;
        break;
    case WM_H264DEC_BITS:
        m_choices.bits = m_pBitsPage->m_bShown != 0;
        m_choices.bits_bdiv = m_pBitsPage->m_bMbDivision != 0;
        m_choices.bits_mv = m_pBitsPage->m_bMv != 0;
        break;
    default:
        break;
    }
}

void CH264decDlg::OnH264decApply()
{
    CDibDoc *doc = m_pStartDibDoc;
    // One run at a time: a click on Apply between the pictures of a run is not a second run.
    if (!doc || !doc->m_pDib || m_bRunning)
        return;
    m_bRunning = true;
    KeepDocumentOpen keep(doc->m_pMainFrame);
    zn::WaitCursor wait;
    doc->OnApplyH264Decoding(0, 0, QString());
    doc->ShowSequenceResultImages(false, false, false, QString(), QString(), QString());
    m_sResultText.clear();
    SetResultText(m_sResultText);
    m_nFrameCounter = 1;
    m_sInputPath = QString::fromStdString(doc->m_pDib->m_path);
    m_sLeakyBucketPath = QString::fromStdString(LeakyBucketPath());
    if (m_bSaveOn) {
        m_pYuvWriter = std::make_unique<CYuvFileWriter>(m_sSavePath.toStdString());
        if (!m_pYuvWriter->IsOpen()) {
            zn::ShowMessage(zn::Format("Cannot create the file %s: the decoded sequence is not saved",
                                       m_sSavePath.toStdString().c_str()));
            m_pYuvWriter.reset();
        } else {
            m_pYuvWriter->m_bH264 = 1;
        }
    }
    const H264ViewChoices &ch = m_choices;
    h264dec_build_legend(*this, ch.LegendShown());
    zn::RunModuleApply([&] {
        H264Decoder(m_sInputPath.toStdString(), "", m_sLeakyBucketPath.toStdString(), ch.frame_by_frame,
                    ch.bits, this);
    });
    SetResultText(m_sResultText);
    // The writer closes the file and writes its header, after a stop or an error too.
    m_pYuvWriter.reset();
    m_bRunning = false;
}

void CH264decDlg::h264dec_append_text(const std::string &text)
{
    QString t = QString::fromStdString(text);
    m_sResultText += t;
    QPlainTextEdit *box = ResultBox();
    if (!box)
        return;
    // Appending at the end keeps a long run's text from being laid out again for every picture.
    QTextCursor c(box->document());
    c.movePosition(QTextCursor::End);
    c.insertText(t.replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    box->verticalScrollBar()->setValue(box->verticalScrollBar()->maximum());
}

std::string CH264decDlg::DocumentTitle() const
{
    return m_pStartDibDoc && m_pStartDibDoc->m_pDib ? m_pStartDibDoc->m_pDib->m_title : std::string();
}

CDib *CH264decDlg::DocumentImage()
{
    return m_pStartDibDoc ? m_pStartDibDoc->m_pDib : nullptr;
}

void CH264decDlg::OnApplyH264Decoding(int frameNumber, int targetNumber, const std::string &typeText)
{
    if (m_pStartDibDoc)
        m_pStartDibDoc->OnApplyH264Decoding(frameNumber, targetNumber, QString::fromStdString(typeText));
}

CDib *CH264decDlg::WorkImage(H264Window window)
{
    CDibDoc *doc = m_pStartDibDoc;
    if (!doc)
        return nullptr;
    switch (window) {
    case H264Window::A:
        return doc->m_pResultDibA;
    case H264Window::B:
        return doc->m_pResultDibB;
    case H264Window::Chain:
        return doc->m_pFinalDib;
    case H264Window::D:
        return doc->m_pResultDibD;
    case H264Window::Legend:
        return doc->m_pLegendDib;
    }
    return nullptr;
}

void CH264decDlg::ShowSequenceResultImages(bool chain, bool a, bool b, const std::string &captionChain,
                                           const std::string &captionA, const std::string &captionB)
{
    if (m_pStartDibDoc)
        m_pStartDibDoc->ShowSequenceResultImages(chain, a, b, zn::Q(captionChain), zn::Q(captionA),
                                                 zn::Q(captionB));
}

void CH264decDlg::ShowResultImageD(bool shown, const std::string &caption, bool stream, bool vectorsOrIntra,
                                   bool bdiv)
{
    if (m_pStartDibDoc)
        m_pStartDibDoc->ShowResultImageD(shown, zn::Q(caption), stream, vectorsOrIntra, bdiv);
}

void CH264decDlg::ShowLegendImage(bool shown, const std::string &caption, bool stream, bool vectorsOrIntra,
                                  bool bdiv, bool bits)
{
    if (m_pStartDibDoc)
        m_pStartDibDoc->ShowLegendImage(shown, zn::Q(caption), stream, vectorsOrIntra, bdiv, bits);
}

void RegisterH264DecoderModule()
{
    zn::RegisterModuleDialogClass<CH264decDlg>(zn::cmd::kH264Decoder);
    CDibDoc::RegisterStreamOpener(DOC_H264, [](CDib *dib, const std::string &path) {
        return PrepareDibforH264File(dib, path, LeakyBucketPath());
    });
}
