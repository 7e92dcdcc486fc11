// Connects the MPEG stream opener to the documents.
#include "mpeg/decoder/mpgdec_register.h"

#include "mpeg/decoder/mpeg_open.h"
#include "shell/dib_doc.h"

void RegisterMpegDecoderModule()
{
    CDibDoc::RegisterStreamOpener(
        DOC_MPEG, [](CDib *dib, const std::string &path) { return PrepareDibforMpegFile(dib, path); });
}
