// The document's result windows: A and B (reused), the chain (one more window per still-image
// result), the legend window and window D of the H.264 decoder; stepping through a .seq series;
// subtracting an image from the image on the stack.
#include "image/cdib.h"
#include "platform/messages.h"
#include "shell/dib_doc.h"
#include "shell/dib_frame.h"
#include "shell/dib_scale.h"

#include <QMdiArea>
#include <algorithm>
#include <optional>

namespace {

CDibFrame *NewFrame(CDibDoc *doc)
{
    auto *frame = new CDibFrame(doc);
    if (QMdiArea *area = CDibDoc::MdiArea())
        area->addSubWindow(frame);
    return frame;
}

// Shows a copy of a work image in a reused window (A, B, legend, D), or closes the window.
void ShowWorkWindow(CDibDoc *doc, CDibFrame *&frame, const CDib *dib, bool show, const QString &desc,
                    zn::WinPos pos, bool dropCache)
{
    if (!show) {
        if (frame)
            frame->close(); // unhooks itself: frame becomes nullptr
        return;
    }
    if (!frame)
        frame = NewFrame(doc);
    CDIbView *view = frame->View();
    view->m_nLeft = pos.left;
    view->m_nTop = pos.top;
    if (!view->GetDib())
        view->SetDib(new CDib);
    view->GetDib()->CopyDib(dib);
    view->m_sDescription = desc;
    view->OnInitialUpdate();
    frame->setWindowTitle(QString::fromStdString(dib->m_caption));
    if (dropCache)
        view->DropCache();
    view->update();
}

// Result windows are placed around the document's own window: its view scrolls back to the top left
// first, and the placement is measured from its frame. Nothing when the document has no view.
std::optional<zn::PlacementMetrics> HomeMainView(const CDibDoc *doc)
{
    CDIbView *mainView = doc->MainView();
    if (!mainView)
        return std::nullopt;
    mainView->m_nLeft = mainView->m_nTop = 0;
    mainView->OnInitialUpdate();
    return PlacementFor(doc->m_pMainFrame);
}

// The main view of a decoder's document (its stream type, or raw YUV), re-initialised for the next
// frame. A document of another type gets routine's internal-error message and no view.
CDIbView *DecoderView(const CDibDoc *doc, int streamType, const char *routine)
{
    if (doc->m_nDocType != streamType && doc->m_nDocType != DOC_YUV) {
        zn::ShowMessage(std::string(routine) + " - Wrong display routine for document type (internal error)");
        return nullptr;
    }
    CDIbView *view = doc->MainView();
    if (view)
        view->OnInitialUpdate();
    return view;
}

} // namespace

std::vector<CDibFrame *> CDibDoc::ChainFrames() const
{
    std::vector<CDibFrame *> chain;
    for (CDibFrame *f = m_pResultChain; f; f = f->m_pNextResultFrame)
        chain.push_back(f);
    return chain;
}

void CDibDoc::UnhookFrame(CDibFrame *frame)
{
    if (!frame)
        return;
    if (frame == m_pResultFrameA)
        m_pResultFrameA = nullptr;
    else if (frame == m_pResultFrameB)
        m_pResultFrameB = nullptr;
    else if (frame == m_pLegendFrame)
        m_pLegendFrame = nullptr;
    else if (frame == m_pResultFrameD)
        m_pResultFrameD = nullptr;
    else if (frame == m_pResultChain) {
        m_pResultChain = frame->m_pNextResultFrame;
        if (m_pResultChain)
            m_pResultChain->m_pPrevResultFrame = nullptr;
    } else if (frame->m_pPrevResultFrame) {
        CDibFrame *prev = frame->m_pPrevResultFrame;
        CDibFrame *next = frame->m_pNextResultFrame;
        prev->m_pNextResultFrame = next;
        if (next)
            next->m_pPrevResultFrame = prev;
    } else if (frame == m_pMainFrame) {
        m_pMainFrame = nullptr;
    }
    frame->m_pNextResultFrame = nullptr;
    frame->m_pPrevResultFrame = nullptr;
}

void CDibDoc::DestroyDocument(CDibDoc *doc, bool closeResults)
{
    if (!doc)
        return;
    if (closeResults) {
        for (CDibFrame *f : {doc->m_pResultFrameA, doc->m_pResultFrameB})
            if (f)
                f->close();
        while (!doc->ChainFrames().empty()) {
            CDibFrame *last = doc->ChainFrames().back();
            last->close();
            if (!doc->ChainFrames().empty() && doc->ChainFrames().back() == last)
                break; // refused to close
        }
        for (CDibFrame *f : {doc->m_pLegendFrame, doc->m_pResultFrameD})
            if (f)
                f->close();
    }
    // Whatever is left (a window that refused, or the main window going down) forgets the document.
    std::vector<CDibFrame *> rest = doc->ChainFrames();
    for (CDibFrame *f : {doc->m_pResultFrameA, doc->m_pResultFrameB, doc->m_pLegendFrame,
                         doc->m_pResultFrameD, doc->m_pMainFrame})
        if (f)
            rest.push_back(f);
    for (CDibFrame *f : rest) {
        f->DetachDoc();
        f->m_pNextResultFrame = f->m_pPrevResultFrame = nullptr;
    }
    doc->m_pResultFrameA = doc->m_pResultFrameB = doc->m_pResultChain = nullptr;
    doc->m_pLegendFrame = doc->m_pResultFrameD = doc->m_pMainFrame = nullptr;
    doc->OnCloseDocument();
    delete doc;
}

void CDibDoc::ShowResultImages(bool bChain, bool bA, bool bB, const QString &descChain, const QString &descA,
                               const QString &descB)
{
    const std::optional<zn::PlacementMetrics> placed = HomeMainView(this);
    if (!placed)
        return;
    const zn::PlacementMetrics &pm = *placed;
    if (m_nDocType == DOC_SEQ)
        MainView()->update();
    ShowWorkWindow(this, m_pResultFrameA, m_pResultDibA, bA, descA, zn::ResultAPosition(pm, false), true);
    ShowWorkWindow(this, m_pResultFrameB, m_pResultDibB, bB, descB, zn::ResultBPosition(pm, false), true);
    if (bChain)
        AddChainWindow(*m_pFinalDib, descChain, QString::fromStdString(m_pFinalDib->m_caption), pm);
}

void CDibDoc::AddChainWindow(const CDib &image, const QString &desc, const QString &title,
                             const zn::PlacementMetrics &pm)
{
    zn::WinPos pos = zn::FirstChainPosition(pm);
    CDibFrame *frame = nullptr;
    if (!m_pResultChain) {
        frame = NewFrame(this);
        m_pResultChain = frame;
    } else {
        CDibFrame *last = ChainFrames().back();
        pos = zn::NextChainPosition(pm, pm.screenX + last->x(), pm.screenY + last->y());
        frame = NewFrame(this);
        last->m_pNextResultFrame = frame;
        frame->m_pPrevResultFrame = last;
    }
    CDIbView *view = frame->View();
    view->m_nLeft = pos.left;
    view->m_nTop = pos.top;
    auto *copy = new CDib;
    copy->CopyDib(&image);
    view->SetDib(copy);
    view->m_sDescription = desc;
    view->OnInitialUpdate();
    frame->setWindowTitle(title);
    m_pResultChain->View()->DropCache();
    m_pResultChain->View()->update();
}

void CDibDoc::ShowSequenceResultImages(bool bChain, bool bA, bool bB, const QString &descChain,
                                       const QString &descA, const QString &descB)
{
    const std::optional<zn::PlacementMetrics> placed = HomeMainView(this);
    if (!placed)
        return;
    const zn::PlacementMetrics &pm = *placed;
    if (m_nDocType == DOC_SEQ || m_nDocType == DOC_YUV)
        MainView()->update();
    ShowWorkWindow(this, m_pResultFrameA, m_pResultDibA, bA, descA, zn::ResultAPosition(pm, true), false);
    ShowWorkWindow(this, m_pResultFrameB, m_pResultDibB, bB, descB, zn::ResultBPosition(pm, true), false);
    // One chain window, reused frame after frame.
    ShowWorkWindow(this, m_pResultChain, m_pFinalDib, bChain, descChain, zn::FirstChainPosition(pm), false);
}

void CDibDoc::OnApplyMpegDecoding(bool, const QString &description, const QString &frameText)
{
    CDIbView *view = DecoderView(this, DOC_MPEG, "OnApplyMpegDecoding");
    if (!view)
        return;
    m_pMainFrame->setWindowTitle(QString::fromStdString(m_pDib->m_title) + "_" + frameText);
    view->m_sDescription = description;
    view->update();
}

void CDibDoc::OnApplyH264Decoding(int frameNumber, int targetNumber, const QString &note)
{
    CDIbView *view = DecoderView(this, DOC_H264, "OnApplyH264Decoding");
    if (!view)
        return;
    const QString title = QString::fromStdString(m_pDib->m_title);
    if (targetNumber > 0)
        m_pMainFrame->setWindowTitle(QStringLiteral("%1 - Frame #%2(%3) --> #%4")
                                         .arg(title)
                                         .arg(frameNumber)
                                         .arg(note)
                                         .arg(targetNumber));
    else if (frameNumber > 0)
        m_pMainFrame->setWindowTitle(QStringLiteral("%1 - Frame #%2").arg(title).arg(frameNumber));
    else
        m_pMainFrame->setWindowTitle(title);
    view->repaint();
}

void CDibDoc::ShowLegendImage(bool bShow, const QString &description, bool f1, bool f2, bool f3, bool f4)
{
    const std::optional<zn::PlacementMetrics> placed = HomeMainView(this);
    if (!placed)
        return;
    const zn::PlacementMetrics &pm = *placed;
    ShowWorkWindow(this, m_pLegendFrame, m_pLegendDib, bShow, description,
                   zn::LegendPosition(pm, f1, f2, f3, f4), true);
}

void CDibDoc::ShowResultImageD(bool bShow, const QString &description, bool g1, bool g2, bool g3)
{
    const std::optional<zn::PlacementMetrics> placed = HomeMainView(this);
    if (!placed)
        return;
    const zn::PlacementMetrics &pm = *placed;
    ShowWorkWindow(this, m_pResultFrameD, m_pResultDibD, bShow, description,
                   zn::ResultDPosition(pm, g1, g2, g3), true);
}

int CDibDoc::LoadNextSequenceFrame()
{
    if (m_nDocType != DOC_SEQ || !m_pDib)
        return 0;
    std::string name;
    if (m_nSeqFrame != 0) {
        name = m_sSeqPath + "/" + m_sSeqFrameName + ".bmp";
    } else {
        name = m_sSeqFile; // frame 1 is the .seq file itself
        m_nSeqFrame = 1;
    }
    // Read into a scratch image, so a missing frame leaves the shown one intact.
    CDib next;
    if (next.LoadDibFile(name, true) < 0 || !next.IsValid()) {
        m_sSeqFrameName = m_sSeqName + "0";
        m_nSeqFrame = 0;
        return 0;
    }
    m_pDib->CopyDib(&next);
    ++m_nSeqFrame;
    m_sSeqFrameName = m_sSeqName + std::to_string(m_nSeqFrame);
    if (CDIbView *view = MainView()) {
        view->DropCache();
        view->update();
    }
    return 1;
}

void CDibDoc::SubtractStackImage(const CDib *image)
{
    if (!image || !image->IsValid() || !m_pStackDib->IsValid())
        return;
    // Both images as 24-bit grey, so the two pixel blocks have the same layout byte for byte.
    CDib stack, other;
    stack.CopyDib(m_pStackDib);
    other.CopyDib(image);
    zn::PaletteToGrey24(stack);
    zn::PaletteToGrey24(other);
    if (stack.GetWidth() != other.GetWidth() || stack.GetHeight() != other.GetHeight() ||
        stack.GetInfoHeader()->biBitCount != 24 || other.GetInfoHeader()->biBitCount != 24) {
        zn::ShowMessage("SubtractStackImage: The image and the image on the stack differ in size or depth",
                        zn::MsgButtons::Ok, zn::MsgIcon::Warning);
        return;
    }
    CDib diff;
    diff.CopyDib(&stack);
    const size_t n = static_cast<size_t>(diff.RowBytes()) * diff.GetHeight();
    uint8_t *d = diff.GetBits();
    const uint8_t *s = stack.GetBits();
    const uint8_t *o = other.GetBits();
    int vmax = 0, vmin = 255;
    float sum = 0.0f, sum2 = 0.0f;
    for (size_t i = 0; i < n; ++i) {
        const int v = std::clamp(s[i] - o[i] + 127, 0, 255);
        d[i] = static_cast<uint8_t>(v);
        vmax = std::max(vmax, v);
        vmin = std::min(vmin, v);
        sum += static_cast<float>(v - 127);
        sum2 += static_cast<float>((v - 127) * (v - 127));
    }
    // Stretch the larger side of the difference to the full range around the 127 mid-grey.
    const int maxd = vmax - 127;
    const int mind = 127 - vmin;
    float factor = 1.0f;
    if (maxd != 0 || mind != 0)
        factor = maxd > mind ? 127.0f / maxd : 127.0f / mind;
    for (size_t i = 0; i < n; ++i)
        d[i] = static_cast<uint8_t>(static_cast<int>((d[i] - 127) * factor + 127));
    const float mean = n ? sum / n : 0.0f;
    const float variance = n ? sum2 / n - mean * mean : 0.0f;
    const std::string &st = m_pStackDib->m_title;
    const std::string &it = image->m_title;
    const std::string desc =
        zn::Format("Difference between\n\t%s\n", st.c_str()) + zn::Format("and\n\t%s\n", it.c_str()) +
        zn::Format("Maximum and minimum\t\t: %.1f    %.1f\n", double(vmax - 127), double(vmin - 127)) +
        zn::Format("Difference stretched by factor\t: %.2f\n", double(factor)) +
        zn::Format("Mean value\t\t\t: %.2f\n", double(mean)) +
        zn::Format("Variance \t\t\t: %.2f\n", double(variance));
    diff.m_title = "DIFF_(" + st + ")_(" + it + ")";
    const QString title = QString::fromStdString("Difference (" + st + ")(" + it + ")");
    diff.m_caption = title.toStdString();
    CDIbView *mainView = MainView();
    if (!mainView)
        return;
    mainView->OnInitialUpdate(); // re-initialised in place
    AddChainWindow(diff, QString::fromStdString(desc), title, PlacementFor(m_pMainFrame));
}

void CDibDoc::DeleteResultImages()
{
    for (CDibFrame *f : {m_pResultFrameA, m_pResultFrameB})
        if (f)
            f->close();
    while (m_pResultChain) {
        CDibFrame *last = ChainFrames().back();
        last->close();
        if (m_pResultChain && ChainFrames().back() == last)
            break;
    }
}
