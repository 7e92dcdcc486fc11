// Connects the MPEG stream opener to the documents.
#include "mpeg/mpgdec/mpgdec_register.h"

#include "mpeg/mpgdec/mpeg_open.h"
#include "shell/dib_doc.h"

void RegisterMpegDecoderModule()
{
    CDibDoc::RegisterStreamOpener(
        DOC_MPEG, [](CDib *dib, const std::string &path) { return PrepareDibforMpegFile(dib, path); });
}
