// Connects the MPEG stream opener to the documents and the decoder dialog to their MPEG decoder
// command.
#include "mpeg/mpgdec/mpgdec_register.h"

#include "modules/common/module_apply.h"
#include "mpeg/mpgdec/mpeg_open.h"
#include "mpeg/mpgdec/mpgdec_dlg.h"
#include "shell/dib_doc.h"
#include "shell/doc_commands.h"

void RegisterMpegDecoderModule()
{
    CDibDoc::RegisterStreamOpener(
        DOC_MPEG, [](CDib *dib, const std::string &path) { return PrepareDibforMpegFile(dib, path); });
    zn::RegisterModuleDialogClass<CMpgdecDlg>(zn::cmd::kMpegDecoder);
}
