// What the coder and the decoder share around the JPEG library: its header, and the error manager
// whose fatal exit returns to the caller instead of ending the process.
//
// The library reports a fatal error by calling error_exit, which must not return. Ours jumps back
// with longjmp to the setjmp of the routine that drives the library. A longjmp skips destructors, so
// every routine between that setjmp and the library (the drivers' "core" functions and every
// callback we hand the library) holds only plain data: buffers, files and the like are owned by the
// caller one frame further out, which the jump never crosses.
#pragma once

#include <csetjmp>
#include <cstddef>
#include <cstdio>

#include <jpeglib.h>

struct JpegErrorMgr
{
    jpeg_error_mgr pub; // first member: the library sees only this part
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

// Fills err, makes its fatal exit jump to err->jump and its warnings and traces silent, and returns
// the library's part for cinfo.err. The caller must setjmp(err->jump) before the first library call
// that can fail.
jpeg_error_mgr *InstallJpegErrorMgr(JpegErrorMgr *err);

// A fatal error raised by our own callbacks (a failed write, a limit exceeded): jumps like the
// library's own errors.
[[noreturn]] void JpegFail(j_common_ptr cinfo);
