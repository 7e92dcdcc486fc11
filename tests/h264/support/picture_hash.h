// A checksum of a decoder's output: FNV-1a over the Y, U and V planes of every picture in output order.
// Pins decoded pictures, so that a faster decoder can be held to the pictures of the one before it.
#pragma once

#include "h264dec/decoder_output.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace h264test {

class PictureHashSink : public H264PictureSink
{
public:
    uint64_t hash = 1469598103934665603ull;
    int pictures = 0;
    void PictureOutput(H264DecoderState &, const H264PictureRef &p) override;

private:
    void Add(const uint8_t *d, size_t n);
};

// Decodes a whole stream from memory, views off, and puts out its last picture; returns the pictures
// decoded. Decoding errors propagate as the engine throws them.
int DecodeWholeStream(const std::vector<uint8_t> &stream, H264PictureSink *sink = nullptr);

} // namespace h264test
