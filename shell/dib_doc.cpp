// CDibDoc: opening a file by type, the module commands with their enabling rules, and closing.
#include "shell/dib_doc.h"

#include "image/cdib.h"
#include "platform/errors.h"
#include "platform/messages.h"
#include "platform/paths.h"
#include "shell/dib_frame.h"
#include "shell/doc_app.h"
#include "shell/doc_commands.h"
#include "shell/window_placement.h"

#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <algorithm>
#include <map>
#include <new>

#include "shell/module_dialog.h"
#include "shell/rd_database.h"
#include "shell/rd_doc_glue.h"

using namespace zn::cmd;

namespace {

enum class Attach { No, BeforeRD, AfterRD };

struct ModuleRow
{
    int id;
    void (CDibDoc::*handler)();
    QDialog *CDibDoc::*member;
    const char *rdKey; // nullptr: not an R(D) module
    Attach attach;
};

// One row per module command. The R(D) modules register with the store when their dialog opens;
// the dialogs that look at the image when they open get the document-attached notice.
const ModuleRow kModules[] = {
    {kSubsampling, &CDibDoc::OnSubsampling, &CDibDoc::m_pSubsampDlg, nullptr, Attach::No},
    {kPcm, &CDibDoc::OnPcm, &CDibDoc::m_pPcmDlg, "PCM", Attach::No},
    {kDpcm, &CDibDoc::OnDpcm, &CDibDoc::m_pDpcmDlg, "DPCM", Attach::No},
    {kVq, &CDibDoc::OnVq, &CDibDoc::m_pVqDlg, "VQ", Attach::No},
    {kFractal, &CDibDoc::OnFractal, &CDibDoc::m_pFractalDlg, "FRAC", Attach::No},
    {kDct, &CDibDoc::OnDct, &CDibDoc::m_pDctDlg, "DCT", Attach::AfterRD},
    {kJpeg, &CDibDoc::OnJpeg, &CDibDoc::m_pJpegDlg, "JPEG", Attach::No},
    {kSubband, &CDibDoc::OnSubband, &CDibDoc::m_pSbcDlg, "SBC", Attach::No},
    {kSpiht, &CDibDoc::OnSpiht, &CDibDoc::m_pSpihtDlg, "SPIHT", Attach::BeforeRD},
    {kEzw, &CDibDoc::OnEzw, &CDibDoc::m_pEzwDlg, "EZW", Attach::BeforeRD},
    {kJpeg2000, &CDibDoc::OnJpeg2000, &CDibDoc::m_pJpeg2000Dlg, "JPEG2000", Attach::BeforeRD},
    {kVideoPlayer, &CDibDoc::OnVideoPlayer, &CDibDoc::m_pVplayDlg, nullptr, Attach::AfterRD},
    {kMotionEstimation, &CDibDoc::OnMotionEstimation, &CDibDoc::m_pMeDlg, nullptr, Attach::AfterRD},
    {kMpegEncoder, &CDibDoc::OnMpegEncoder, &CDibDoc::m_pMpgencDlg, nullptr, Attach::AfterRD},
    {kMpegDecoder, &CDibDoc::OnMpegDecoder, &CDibDoc::m_pMpgdecDlg, nullptr, Attach::No},
    {kH264Encoder, &CDibDoc::OnH264Encoder, &CDibDoc::m_pH264encDlg, nullptr, Attach::AfterRD},
    {kH264Decoder, &CDibDoc::OnH264Decoder, &CDibDoc::m_pH264decDlg, nullptr, Attach::AfterRD},
    {kStoreRD, &CDibDoc::OnStoreRD, &CDibDoc::m_pRDStoringDlg, nullptr, Attach::AfterRD},
    {kPlotRD, &CDibDoc::OnPlotRD, &CDibDoc::m_pRDPlotDlg, nullptr, Attach::AfterRD},
    {kTemplate, &CDibDoc::OnTemplate, &CDibDoc::m_pTpltDlg, nullptr, Attach::AfterRD},
};

const ModuleRow *FindModule(int id)
{
    for (const ModuleRow &row : kModules)
        if (row.id == id)
            return &row;
    return nullptr;
}

// The order in which a closing document closes its dialogs.
QDialog *CDibDoc::*const kCloseOrder[] = {
    &CDibDoc::m_pDpcmDlg,      &CDibDoc::m_pPcmDlg,    &CDibDoc::m_pSubsampDlg,  &CDibDoc::m_pSbcDlg,
    &CDibDoc::m_pDctDlg,       &CDibDoc::m_pVqDlg,     &CDibDoc::m_pFractalDlg,  &CDibDoc::m_pJpegDlg,
    &CDibDoc::m_pMeDlg,        &CDibDoc::m_pMpgdecDlg, &CDibDoc::m_pVplayDlg,    &CDibDoc::m_pMpgencDlg,
    &CDibDoc::m_pSpihtDlg,     &CDibDoc::m_pEzwDlg,    &CDibDoc::m_pJpeg2000Dlg, &CDibDoc::m_pRDPlotDlg,
    &CDibDoc::m_pRDStoringDlg, &CDibDoc::m_pTpltDlg,   &CDibDoc::m_pH264encDlg,  &CDibDoc::m_pH264decDlg,
};

struct Registry
{
    QPointer<QMdiArea> mdiArea;
    std::vector<CDibDoc *> documents;
    std::map<int, CDibDoc::ModuleFactory> factories;
    std::map<int, CDibDoc::StreamOpener> openers;
    CDibDoc::ModuleActivatedHandler moduleActivated;
};

Registry &Reg()
{
    static Registry registry;
    return registry;
}

void SendDocumentAttached(QDialog *dlg)
{
    if (auto *module = dynamic_cast<CModuleDialog *>(dlg))
        module->SendMessage(WM_DOCUMENT_ATTACHED);
}

// The document as the R(D) store sees it.
class DocRDLink : public zn::RDDocumentLink
{
public:
    explicit DocRDLink(CDibDoc *doc) : m_doc(doc) {}
    zn::RDStoringLink *StoringDlg() override
    {
        return dynamic_cast<zn::RDStoringLink *>(m_doc->m_pRDStoringDlg);
    }
    zn::RDPlotLink *PlotDlg() override { return dynamic_cast<zn::RDPlotLink *>(m_doc->m_pRDPlotDlg); }
    std::string ImageTitle() override { return m_doc->m_pDib ? m_doc->m_pDib->m_title : std::string(); }
    std::string UserDir() override;
    bool AskSaveFile(const zn::RDSaveRequest &request, std::string *path) override;

private:
    CDibDoc *m_doc;
};

} // namespace

DocTypeInfo DocTypeFromPath(const std::string &path)
{
    const std::string name = zn::ToLower(zn::FileName(path));
    const auto has = [&](const char *s) { return name.find(s) != std::string::npos; };
    int type = DOC_NONE;
    if (has(".bmp") || has(".tif"))
        type = DOC_STILL;
    if (has(".seq"))
        type = DOC_SEQ;
    if (has(".mpg") || has(".m1v") || has(".m2v"))
        type = DOC_MPEG;
    if (has(".y") || has(".yuv"))
        type = DOC_YUV;
    if (has(".264"))
        type = DOC_H264;
    DocTypeInfo info{type, DocReader::None};
    switch (type) {
    case DOC_STILL:
        info.reader = has(".bmp") ? DocReader::Bmp : DocReader::Tif;
        break;
    case DOC_SEQ:
        info.reader = DocReader::Bmp;
        break; // a .seq file is a BMP, frame 1
    case DOC_MPEG:
        info.reader = DocReader::Mpeg;
        break;
    case DOC_YUV:
        info.reader = DocReader::Yuv;
        break;
    case DOC_H264:
        info.reader = DocReader::H264;
        break;
    default:
        break;
    }
    return info;
}

bool IsModuleCommandEnabled(int id, int docType, int width, int height, bool hasRD, int activeRDModules,
                            bool storingOpen)
{
    const bool still = docType == DOC_STILL;
    const bool pow2 = zn::IsPowerOfTwo(width) && zn::IsPowerOfTwo(height);
    const bool even = width % 2 == 0 && height % 2 == 0;
    switch (id) {
    case kSubsampling:
    case kFractal:
    case kEzw:
        return still && pow2;
    case kSubband:
    case kDct:
    case kVq:
        return still && even;
    case kPcm:
    case kDpcm:
    case kJpeg:
    case kSpiht:
    case kJpeg2000:
    case kTemplate:
        return still;
    case kMotionEstimation:
        return (docType == DOC_SEQ || docType == DOC_YUV) && even;
    case kVideoPlayer:
        return docType == DOC_SEQ || docType == DOC_YUV;
    case kMpegDecoder:
        return docType == DOC_MPEG;
    case kMpegEncoder:
    case kH264Encoder:
        return docType == DOC_YUV;
    case kH264Decoder:
        return docType == DOC_H264;
    case kStoreRD:
        return still && hasRD && activeRDModules > 0;
    case kPlotRD:
        return still && storingOpen;
    default:
        return true;
    }
}

// ---------------------------------------------------------------------------------------------------

CDibDoc::CDibDoc()
{
    m_pFinalDib = new CDib;
    m_pResultDibA = new CDib;
    m_pResultDibB = new CDib;
    m_pStackDib = new CDib;
    m_pLegendDib = new CDib;
    m_pResultDibD = new CDib;
    Reg().documents.push_back(this);
    // Module dialogs ask their document through these hooks.
    ModuleDialogHooks &hooks = GetModuleDialogHooks();
    if (!hooks.isClosing) {
        hooks.isClosing = [](const CDibDoc *doc) { return doc && doc->m_bClosing != 0; };
        hooks.isStoring = [](const CDibDoc *doc) {
            return doc && doc->m_pRDData && doc->m_pRDData->IsStoring();
        };
        hooks.setModuleInactive = [](CDibDoc *doc, const std::string &key) {
            if (doc && doc->m_pRDData)
                doc->m_pRDData->SetModuleIsActive(key, false);
        };
    }
}

CDibDoc::~CDibDoc()
{
    auto &docs = Reg().documents;
    docs.erase(std::remove(docs.begin(), docs.end(), this), docs.end());
    delete m_pFinalDib;
    delete m_pResultDibA;
    delete m_pResultDibB;
    delete m_pStackDib;
    delete m_pLegendDib;
    delete m_pResultDibD;
    delete m_pRDData;
    m_pRDData = nullptr;
}

void CDibDoc::SetMdiArea(QMdiArea *area)
{
    Reg().mdiArea = area;
}
QMdiArea *CDibDoc::MdiArea()
{
    return Reg().mdiArea;
}
const std::vector<CDibDoc *> &CDibDoc::Documents()
{
    return Reg().documents;
}

void CDibDoc::RegisterModuleDialog(int id, ModuleFactory factory)
{
    Reg().factories[id] = std::move(factory);
}
void CDibDoc::SetModuleActivatedHandler(ModuleActivatedHandler handler)
{
    Reg().moduleActivated = std::move(handler);
}
void CDibDoc::RegisterStreamOpener(int docType, StreamOpener opener)
{
    Reg().openers[docType] = std::move(opener);
}

CDibDoc *CDibDoc::FromSubWindow(QMdiSubWindow *sub)
{
    auto *frame = dynamic_cast<CDibFrame *>(sub);
    return frame ? frame->Doc() : nullptr;
}

void CDibDoc::Attach(CDibFrame *frame)
{
    m_pMainFrame = frame;
    if (QMdiArea *area = MdiArea())
        area->addSubWindow(frame);
}

CDibDoc *CDibDoc::OpenDocumentFile(const QString &path)
{
    auto *doc = new CDibDoc;
    auto *frame = new CDibFrame(doc);
    doc->Attach(frame);
    if (!doc->OnOpenDocument(path)) {
        frame->DetachDoc();
        delete frame;
        delete doc;
        return nullptr;
    }
    frame->View()->OnInitialUpdate();
    if (QMdiArea *area = MdiArea())
        area->setActiveSubWindow(frame);
    return doc;
}

CDibDoc *CDibDoc::NewDocumentFromImage(const CDib &image)
{
    auto *doc = new CDibDoc;
    auto *frame = new CDibFrame(doc);
    doc->Attach(frame);
    doc->OnNewDocument(image);
    frame->View()->OnInitialUpdate();
    if (QMdiArea *area = MdiArea())
        area->setActiveSubWindow(frame);
    return doc;
}

bool CDibDoc::OnOpenDocument(const QString &qpath)
{
    const std::string path = qpath.toStdString();
    {
        QFile probe(qpath);
        if (!probe.open(QIODevice::ReadOnly)) {
            zn::ShowMessage(zn::Format("Failed to open document.\n%s", path.c_str()), zn::MsgButtons::Ok,
                            zn::MsgIcon::Warning);
            return false;
        }
    }
    const DocTypeInfo info = DocTypeFromPath(path);
    m_nDocType = info.type;
    auto *dib = new CDib;
    int result = -1;
    switch (info.reader) {
    case DocReader::Bmp:
        result = dib->LoadDibFile(path, true);
        break;
    case DocReader::Tif:
        result = dib->LoadTifFile(path, true);
        break;
    case DocReader::Yuv:
        result = dib->PrepareDibforYUVFile(path);
        break;
    case DocReader::Mpeg:
    case DocReader::H264: {
        auto it = Reg().openers.find(info.type);
        if (it != Reg().openers.end() && it->second) {
            // A stream decoder that cannot go on ends this open only, after its own message.
            try {
                result = it->second(dib, path);
            } catch (const zn::RunAborted &) {
                result = -1;
            } catch (const std::bad_alloc &) {
                zn::ShowMessage("OnOpenDocument: Not enough memory", zn::MsgButtons::Ok,
                                zn::MsgIcon::Warning);
                result = -1;
            }
        } else {
            zn::ShowMessage(info.type == DOC_MPEG
                                ? "Sorry, MPEG-1/2 streams cannot be opened: this build has no MPEG decoder."
                                : "Sorry, H.264 streams cannot be opened: this build has no H.264 decoder.",
                            zn::MsgButtons::Ok, zn::MsgIcon::Warning);
        }
        break;
    }
    case DocReader::None:
        zn::ShowMessage("OnOpenDocument: Internal error, wrong document type", zn::MsgButtons::Ok,
                        zn::MsgIcon::Warning);
        break;
    }
    if (result < 0 || !dib->IsValid()) {
        delete dib;
        return false;
    }
    m_pDib = dib;
    if (m_pMainFrame) {
        CDIbView *view = m_pMainFrame->View();
        view->SetDib(m_pDib);
        view->m_nLeft = view->m_nTop = 0;
        m_pMainFrame->setWindowTitle(QString::fromStdString(m_pDib->m_title));
    }
    if (m_nDocType == DOC_SEQ) {
        m_nSeqFrame = 2;
        m_sSeqName = m_pDib->m_title;
        m_sSeqFrameName = m_sSeqName + "2";
        // The folder of the frame files is the .seq path without ".seq", in its own letter case; only
        // the file name is searched, and frame 1 is read again from the file as it was named.
        const size_t nameStart = path.size() - zn::FileName(path).size();
        const size_t dot = zn::ToLower(path).find(".seq", nameStart);
        m_sSeqPath = path.substr(0, dot);
        m_sSeqFile = path;
    }
    if (m_nDocType == DOC_STILL)
        CreateRDData();
    return true;
}

bool CDibDoc::OnNewDocument(const CDib &startImage)
{
    m_pDib = new CDib;
    m_pDib->CopyDib(&startImage);
    m_nDocType = DOC_STILL;
    if (m_pMainFrame) {
        CDIbView *view = m_pMainFrame->View();
        view->SetDib(m_pDib);
        view->m_nLeft = view->m_nTop = 0;
        m_pMainFrame->setWindowTitle(QString::fromStdString(m_pDib->m_title));
    }
    CreateRDData();
    return true;
}

void CDibDoc::CreateRDData()
{
    auto *store = new zn::CRDDataBase;
    store->AttachDocument(std::make_unique<DocRDLink>(this));
    m_pRDData = store;
}

int CDibDoc::ActiveRDModules() const
{
    return m_pRDData ? m_pRDData->GetNumberOfActiveModules() : 0;
}

QDialog **CDibDoc::DialogMember(int id)
{
    const ModuleRow *row = FindModule(id);
    return row ? &(this->*(row->member)) : nullptr;
}

void CDibDoc::ForgetDialog(const QDialog *dlg)
{
    for (const ModuleRow &row : kModules)
        if (this->*(row.member) == dlg)
            this->*(row.member) = nullptr;
}

bool CDibDoc::IsDocumentCommand(int id)
{
    if (FindModule(id))
        return true;
    switch (id) {
    case kImageInfo:
    case kSetAsStartImage:
    case kSaveImageAs:
    case kPutOnStack:
    case kSubtractFromStack:
    case kDeleteResultImages:
        return true;
    default:
        return false;
    }
}

CDibFrame *CDibDoc::ActiveFrameOfDoc() const
{
    if (QMdiArea *area = MdiArea()) {
        auto *frame = dynamic_cast<CDibFrame *>(area->currentSubWindow());
        if (frame && frame->Doc() == this)
            return frame;
    }
    return m_pMainFrame;
}

CDIbView *CDibDoc::MainView() const
{
    return m_pMainFrame ? m_pMainFrame->View() : nullptr;
}

bool CDibDoc::IsCommandEnabled(int id, const CDibFrame *frame) const
{
    if (FindModule(id)) {
        const int w = m_pDib ? m_pDib->GetWidth() : 0;
        const int h = m_pDib ? m_pDib->GetHeight() : 0;
        return IsModuleCommandEnabled(id, m_nDocType, w, h, m_pRDData != nullptr, ActiveRDModules(),
                                      RDStoringOpen());
    }
    if (!frame)
        frame = ActiveFrameOfDoc();
    const bool still = m_nDocType == DOC_STILL;
    const bool isAorB = frame && (frame == m_pResultFrameA || frame == m_pResultFrameB);
    switch (id) {
    case kImageInfo:
    case kSaveImageAs:
        return frame != nullptr;
    case kSetAsStartImage:
        return still && frame && frame != m_pMainFrame && !isAorB;
    case kPutOnStack:
        return still && frame && !isAorB;
    case kSubtractFromStack: {
        if (!still || !frame || isAorB || !m_pStackDib->IsValid())
            return false;
        const CDib *img = frame->View()->GetDib();
        return img && img->GetWidth() == m_pStackDib->GetWidth() &&
               img->GetHeight() == m_pStackDib->GetHeight();
    }
    case kDeleteResultImages:
        return still && (m_pResultFrameA || m_pResultFrameB || m_pResultChain);
    default:
        return false;
    }
}

void CDibDoc::OnCommand(int id, CDibFrame *frame)
{
    if (const ModuleRow *row = FindModule(id)) {
        if (IsCommandEnabled(id))
            (this->*row->handler)();
        return;
    }
    if (!frame)
        frame = ActiveFrameOfDoc();
    if (!frame || !IsCommandEnabled(id, frame))
        return;
    CDIbView *view = frame->View();
    switch (id) {
    case kImageInfo:
        view->OnImageInfo();
        break;
    case kSetAsStartImage:
        view->OnSetAsStartImage();
        break;
    case kSaveImageAs:
        view->OnSaveImageAs();
        break;
    case kPutOnStack:
        view->OnPutOnStack();
        break;
    case kSubtractFromStack:
        view->OnSubtractFromStack();
        break;
    case kDeleteResultImages:
        DeleteResultImages();
        break;
    default:
        break;
    }
}

void CDibDoc::OnSubsampling()
{
    OnModuleCommand(kSubsampling);
}

void CDibDoc::OnPcm()
{
    OnModuleCommand(kPcm);
}

void CDibDoc::OnDpcm()
{
    OnModuleCommand(kDpcm);
}

void CDibDoc::OnVq()
{
    OnModuleCommand(kVq);
}

void CDibDoc::OnFractal()
{
    OnModuleCommand(kFractal);
}

void CDibDoc::OnDct()
{
    OnModuleCommand(kDct);
}

void CDibDoc::OnJpeg()
{
    OnModuleCommand(kJpeg);
}

void CDibDoc::OnSubband()
{
    OnModuleCommand(kSubband);
}

void CDibDoc::OnSpiht()
{
    OnModuleCommand(kSpiht);
}

void CDibDoc::OnEzw()
{
    OnModuleCommand(kEzw);
}

void CDibDoc::OnJpeg2000()
{
    OnModuleCommand(kJpeg2000);
}

void CDibDoc::OnVideoPlayer()
{
    OnModuleCommand(kVideoPlayer);
}

void CDibDoc::OnMotionEstimation()
{
    OnModuleCommand(kMotionEstimation);
}

void CDibDoc::OnMpegEncoder()
{
    OnModuleCommand(kMpegEncoder);
}

void CDibDoc::OnMpegDecoder()
{
    OnModuleCommand(kMpegDecoder);
}

void CDibDoc::OnH264Encoder()
{
    OnModuleCommand(kH264Encoder);
}

void CDibDoc::OnH264Decoder()
{
    OnModuleCommand(kH264Decoder);
}

void CDibDoc::OnStoreRD()
{
    OnModuleCommand(kStoreRD);
}

void CDibDoc::OnPlotRD()
{
    OnModuleCommand(kPlotRD);
}

void CDibDoc::OnTemplate()
{
    OnModuleCommand(kTemplate);
}

void CDibDoc::OnModuleCommand(int id)
{
    const ModuleRow *row = FindModule(id);
    QDialog *&member = this->*(row->member);
    if (member) {
        // One dialog per module: a second command only brings the open one forward.
        if (id == kStoreRD && member->isMinimized())
            member->showNormal();
        member->show();
        member->raise();
        member->activateWindow();
    } else {
        auto it = Reg().factories.find(id);
        if (it == Reg().factories.end() || !it->second)
            return; // the module is not part of this build
        QDialog *dlg = it->second(this);
        if (!dlg)
            return;
        member = dlg;
        AdoptWindow(dlg);
        QDialog *CDibDoc::*m = row->member;
        // A dialog destroyed behind the document's back must not leave a dangling pointer.
        QObject::connect(dlg, &QObject::destroyed, this, [this, m, dlg] {
            if (this->*m == dlg)
                this->*m = nullptr;
        });
        dlg->setWindowTitle(dlg->windowTitle() + QString::fromStdString(m_pDib ? m_pDib->m_title : ""));
        if (id == kPlotRD)
            if (auto *plot = dynamic_cast<zn::RDPlotLink *>(dlg))
                plot->UpdateProfileList();
        if (row->attach == Attach::BeforeRD)
            SendDocumentAttached(dlg);
        if (row->rdKey && m_pRDData)
            m_pRDData->SetModuleIsActive(row->rdKey, true);
        if (row->attach == Attach::AfterRD)
            SendDocumentAttached(dlg);
        if (id == kStoreRD)
            if (auto *storing = dynamic_cast<zn::RDStoringLink *>(dlg))
                storing->UpdateModuleList();
        if (!dlg->isVisible())
            dlg->show();
    }
    if (row->rdKey && m_pRDStoringDlg && Reg().moduleActivated)
        Reg().moduleActivated(m_pRDStoringDlg, row->rdKey);
}

void CDibDoc::AdoptWindow(QWidget *window)
{
    m_adopted.erase(
        std::remove_if(m_adopted.begin(), m_adopted.end(), [](const QPointer<QWidget> &p) { return !p; }),
        m_adopted.end());
    m_adopted.emplace_back(window);
}

void CDibDoc::CloseModuleDialogs()
{
    for (QDialog *CDibDoc::*member : kCloseOrder) {
        QDialog *dlg = this->*member;
        if (!dlg)
            continue;
        if (member == &CDibDoc::m_pRDStoringDlg) {
            // The storing dialog disables Cancel while it records, and a dialog ignores a close
            // while Cancel is disabled.
            for (QPushButton *button : dlg->findChildren<QPushButton *>())
                if (button->property("ctrlId").toInt() == 2)
                    button->setEnabled(true);
        }
        dlg->close();
        this->*member = nullptr;
    }
    // Cancelled dialogs only hide; with their document gone they would point at nothing, so they go
    // now, with the Image Information windows.
    std::vector<QPointer<QWidget>> adopted;
    adopted.swap(m_adopted);
    for (QPointer<QWidget> &window : adopted)
        delete window.data();
}

void CDibDoc::OnCloseDocument()
{
    m_bClosing = 1;
    CloseModuleDialogs();
}

std::string DocRDLink::UserDir()
{
    return DocUserDir().toStdString();
}

bool DocRDLink::AskSaveFile(const zn::RDSaveRequest &request, std::string *path)
{
    QFileDialog dlg;
    RDConfigureSaveDialog(&dlg, request);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return false;
    *path = dlg.selectedFiles().first().toStdString();
    return true;
}
