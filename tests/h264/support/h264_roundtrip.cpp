// The round-trip hook: the whole run with an output file and no dialog.
#include "h264/support/h264_roundtrip.h"

#include "h264dec/decoder_run.h"
#include "platform/errors.h"
#include "platform/messages.h"

namespace zntest {

H264DecodeResult DecodeH264ToYuv(const std::string &stream, const std::string &yuv)
{
    zn::MessageRecorder recorder;
    H264DecodeResult r;
    try {
        H264Decoder(stream, yuv, "", false, false, nullptr);
        r.ok = true;
    } catch (const zn::RunAborted &e) {
        r.message = e.what();
    }
    return r;
}

} // namespace zntest
