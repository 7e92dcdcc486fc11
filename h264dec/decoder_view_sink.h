// The run's picture sink: pictures in decoding order feed the analysis views, pictures in output order
// go to the output file, the document and the save file, and the per-picture text to the dialog. Each
// picture keeps its own size: a stream may change it with a new sequence parameter set.
#pragma once

#include "h264dec/decoder_output.h"
#include "h264dec/decoder_views.h"

#include <cstdio>

class H264DecoderHost;

class H264ViewSink : public H264PictureSink
{
public:
    // host: the dialog, or nullptr for a run without one; out: the output file, or nullptr.
    H264ViewSink(H264DecoderHost *host, std::FILE *out) : m_host(host), m_out(out) {}

    void PictureDecoded(H264DecoderState &dec, const H264PictureRef &picture, bool views) override;
    void PictureOutput(H264DecoderState &dec, const H264PictureRef &picture) override;
    void PictureText(H264DecoderState &dec, const std::string &text) override;

    // A failed write to the output file, reported once.
    bool OutputFailed() const { return m_outFailed; }

private:
    H264ViewPlanes Planes(const H264DecoderState &dec, const H264PictureRef &picture, bool analysis);
    void Save(const H264PictureRef &picture);

    H264DecoderHost *m_host;
    std::FILE *m_out;
    bool m_outFailed = false;
    bool m_pendingB = false; // a non-reference B picture waits for its output to show its views
    // The save file holds pictures of one size, that of its first. A stream that changes size would
    // have it refuse every later picture of another size with a message: it refuses the first, and no
    // other picture of another size is offered to it.
    int m_saveWidth = 0, m_saveHeight = 0;
    bool m_saveRefused = false;
    H264PlaneBuffers m_processing, m_bits;
};
