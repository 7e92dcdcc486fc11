// Apply boundary, R(D) point and chain result of the still-image module dialogs.
#include "modules/common/module_apply.h"

#include "image/cdib.h"
#include "image/znimage.h"
#include "platform/errors.h"
#include "platform/messages.h"
#include "shell/compression_app.h"
#include "shell/rd_database.h"

#include <new>

namespace zn {

bool RunModuleApply(const std::function<void()> &run)
{
    try {
        run();
        return true;
    } catch (const RunAborted &e) {
        // Code 1: the routine that gave up has shown its message already.
        if (e.Code() != kMessageShown)
            ShowMessage(e.what(), MsgButtons::Ok, MsgIcon::Error);
    } catch (const std::bad_alloc &) {
        ShowMessage("Fatal: Not enough memory", MsgButtons::Ok, MsgIcon::Error);
    }
    return false;
}

std::string TablesDirOrPreferences()
{
    const std::string tableDir = theApp.m_sTableDir.toStdString();
    if (tableDir.empty()) {
        ShowMessage(kNoTablesDirMessage);
        theApp.OnSettings();
    }
    return tableDir;
}

void StoreRDPointIfRecording(CDibDoc *doc, const std::string &key, float rate, const Measures &m,
                             const std::string &nullStoreMessage)
{
    if (!doc || !doc->m_pRDData) {
        ShowMessage(nullStoreMessage);
        return;
    }
    if (!doc->m_pRDData->IsStoring())
        return;
    const RDValues v = RDPointValues(m);
    doc->m_pRDData->StoreRDPoint(key, rate, v.snr, v.psnr, m.mse);
}

void PutResultImage(const ZnImage &image, CDib *dib, const std::string &name, const std::string &caption)
{
    image.ZnImageToDib(dib);
    dib->m_title = name;
    dib->m_caption = caption;
}

void ShowChainResult(CDibDoc *doc, const ZnImage &decoded, const std::string &name,
                     const std::string &caption, const std::string &description)
{
    if (!doc || !doc->m_pFinalDib)
        return;
    PutResultImage(decoded, doc->m_pFinalDib, name, caption);
    ShowChainResult(doc, description);
}

void ShowChainResult(CDibDoc *doc, const std::string &description)
{
    if (doc)
        doc->ShowResultImages(true, false, false, Q(description), QString(), QString());
}

} // namespace zn
