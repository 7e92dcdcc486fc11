// The recording host (see the header).
#include "h264/support/recording_host.h"

namespace h264test {

CDib *RecordingHost::WorkImage(H264Window w)
{
    switch (w) {
    case H264Window::A:
        return &a;
    case H264Window::B:
        return &b;
    case H264Window::Chain:
        return &chain;
    case H264Window::D:
        return &d;
    case H264Window::Legend:
        return &legend;
    }
    return nullptr;
}

std::vector<uint8_t> Pixels(const CDib &dib)
{
    if (!dib.GetBits())
        return {};
    return std::vector<uint8_t>(dib.GetBits(),
                                dib.GetBits() + static_cast<size_t>(dib.RowBytes()) * dib.GetHeight());
}

std::vector<uint8_t> ConvertedPixels(int width, int height, const uint8_t *y, const uint8_t *u,
                                     const uint8_t *v, bool full)
{
    CDib dib;
    dib.Create24(width, height);
    uint8_t *planes[3] = {const_cast<uint8_t *>(y), const_cast<uint8_t *>(u), const_cast<uint8_t *>(v)};
    if (full)
        dib.ConvertYUV444Dib(planes);
    else
        dib.ConvertYUV420Dib(planes);
    return Pixels(dib);
}

} // namespace h264test
