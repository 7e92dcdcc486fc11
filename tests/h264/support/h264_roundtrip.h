// The round-trip hook: decodes a .264 file with the decoder's own run into a raw 4:2:0 file (pictures in
// output order, luma then U then V), for tests that check what an encoder wrote.
#pragma once

#include <string>

namespace zntest {

struct H264DecodeResult
{
    bool ok = false;
    std::string message; // the run error's message when !ok
};

// Decodes stream into yuv (replaced), with the leaky-bucket file beside the stream (where the encoder
// leaves it) or a standard one. Messages the run shows are recorded, never displayed.
H264DecodeResult DecodeH264ToYuv(const std::string &stream, const std::string &yuv);

} // namespace zntest
