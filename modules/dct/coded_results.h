// The document side of a DCT or subband Apply: the three work images filled, named and captioned,
// and shown as window A (before coding), window B (after coding, closed when coding is off) and a
// new chain window (the decoded image).
#pragma once

#include "image/cdib.h"
#include "image/znimage.h"
#include "modules/common/module_apply.h"
#include "shell/dib_doc.h"

namespace zn {

// R: DctRunResult or SbcRunResult, which name their results alike.
template <class R>
void ShowCodedResults(CDibDoc *doc, const R &r, const ZnImage &decoded, const ZnImage &dispA,
                      const ZnImage &dispB)
{
    if (!doc || !doc->m_pFinalDib || !doc->m_pResultDibA || !doc->m_pResultDibB)
        return;
    if (r.coding) {
        dispB.ZnImageToDib(doc->m_pResultDibB);
        doc->m_pResultDibB->m_title = r.nameB;
        doc->m_pResultDibB->m_caption = r.captionB;
    }
    decoded.ZnImageToDib(doc->m_pFinalDib);
    doc->m_pFinalDib->m_title = r.nameFinal;
    doc->m_pFinalDib->m_caption = r.captionFinal;
    dispA.ZnImageToDib(doc->m_pResultDibA);
    doc->m_pResultDibA->m_title = r.nameA;
    doc->m_pResultDibA->m_caption = r.captionA;
    doc->ShowResultImages(true, true, r.coding, Q(r.descChain), Q(r.descA),
                          Q(r.coding ? r.descB : std::string()));
}

} // namespace zn
