// Apply boundary, R(D) point and chain result of the still-image module dialogs.
#include "modules/common/module_apply.h"

#include "image/cdib.h"
#include "image/znimage.h"
#include "platform/errors.h"
#include "platform/messages.h"
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
        if (e.Code() != 1)
            ShowMessage(e.what(), MsgButtons::Ok, MsgIcon::Error);
    } catch (const std::bad_alloc &) {
        ShowMessage("Fatal: Not enough memory", MsgButtons::Ok, MsgIcon::Error);
    }
    return false;
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

void ShowChainResult(CDibDoc *doc, const ZnImage &decoded, const std::string &name,
                     const std::string &caption, const std::string &description)
{
    if (!doc || !doc->m_pFinalDib)
        return;
    decoded.ZnImageToDib(doc->m_pFinalDib);
    doc->m_pFinalDib->m_title = name;
    doc->m_pFinalDib->m_caption = caption;
    ShowChainResult(doc, description);
}

void ShowChainResult(CDibDoc *doc, const std::string &description)
{
    if (doc)
        doc->ShowResultImages(true, false, false, Q(description), QString(), QString());
}

} // namespace zn
