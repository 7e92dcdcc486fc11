// The round-trip hook: the whole run with an output file and no dialog.
#include "h264/support/h264_roundtrip.h"

#include "h264/support/run_streams.h"
#include "h264dec/decoder_run.h"
#include "platform/errors.h"
#include "platform/messages.h"
#include "support/test_support.h"

#include <filesystem>

namespace zntest {

H264DecodeResult DecodeH264ToYuv(const std::string &stream, const std::string &yuv)
{
    zn::MessageRecorder recorder;
    H264DecodeResult r;
    // The encoder leaves its leaky-bucket file in the user's folder, where its stream usually goes too;
    // a stream without one beside it is decoded with a standard file.
    std::string buckets = (std::filesystem::path(stream).parent_path() / "H264LeakyBucketParam.cfg").string();
    zntest::ScratchDir scratch;
    if (!std::filesystem::exists(buckets))
        buckets = h264test::WriteLeakyBucketFile(scratch.Path());
    try {
        H264Decoder(stream, yuv, buckets, false, false, nullptr);
        r.ok = true;
    } catch (const zn::RunAborted &e) {
        r.message = e.what();
    }
    return r;
}

} // namespace zntest
