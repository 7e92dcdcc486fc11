// The library's error manager with a fatal exit that jumps back to the driving routine. Warnings
// (a corrupt entropy segment, a premature end of data) and trace messages are dropped: a damaged
// stream decodes as far as it can, and only a fatal error stops it.
#include "modules/jpeg/jpeg_lib.h"

#include <cstring>

namespace {

[[noreturn]] void ErrorExit(j_common_ptr cinfo)
{
    auto *err = reinterpret_cast<JpegErrorMgr *>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

void EmitMessage(j_common_ptr, int) {}
void OutputMessage(j_common_ptr) {}

} // namespace

jpeg_error_mgr *InstallJpegErrorMgr(JpegErrorMgr *err)
{
    std::memset(err, 0, sizeof(*err));
    jpeg_std_error(&err->pub);
    err->pub.error_exit = ErrorExit;
    err->pub.emit_message = EmitMessage;
    err->pub.output_message = OutputMessage;
    return &err->pub;
}

void JpegFail(j_common_ptr cinfo)
{
    auto *err = reinterpret_cast<JpegErrorMgr *>(cinfo->err);
    std::snprintf(err->message, sizeof(err->message), "%s", "stopped");
    std::longjmp(err->jump, 1);
}
