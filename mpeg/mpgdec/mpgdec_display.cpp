// The decoder dialog's view of a run, without the window: stream information and picture-type texts,
// frame conversion to the document image and the motion-vector overlay drawn into it.
#include "mpeg/mpgdec/mpgdec_display.h"

#include "image/cdib.h"
#include "image/yuv_convert.h"
#include "platform/format.h"

#include <cstdlib>

namespace zn {

MpegStreamInfo MpegStreamInfoText(const CMpegDecoder &d, const std::string &streamType, bool fields)
{
    std::string both = Format("Frame dimensions      :  %3dx%3d\r\n", d.coded_height, d.coded_width);
    if (d.vbr)
        both += "Bit rate                       :  Variable\r\n";
    else
        both += Format("Bit rate                       :  %.3f Mbit/sec\r\n", d.bit_rate_value * 0.0004);
    switch (d.frame_rate_code) {
    case 3:
        both += "Picture rate                :  25 frames/sec\r\n";
        break;
    case 4:
        both += "Picture rate                :  29.97 frames/sec\r\n";
        break;
    case 5:
        both += "Picture rate                :  30 frames/sec\r\n";
        break;
    case 9:
        both += "Picture rate                :  invalid code\r\n";
        break;
    default:
        both += "Picture rate code           :  \r\n";
        break;
    }
    both += Format("VBV buffer                 :  %2d kByte\r\n", d.vbv_buffer_size * 2);
    both += d.constrained_parameters_flag ? "Parameters                :  Constrained\r\n"
                                          : "Parameters                :  Unconstrained\r\n";
    MpegStreamInfo info{both, both};
    auto add = [&info](const std::string &line, bool resultOnly = false) {
        info.resultText += line;
        if (!resultOnly)
            info.viewText += line;
    };
    if (d.base_layer.mpeg2) {
        add("Mpeg version             :  MPEG-2\r\n", true);
        add(fields ? "Coded picture types   : Fields\r\n" : "Coded picture types   : Frames\r\n");
    } else {
        add("Mpeg version             :  MPEG-1\r\n");
    }
    add(d.full_pel_forward_vector ? "Motion vectors           : Integer pel\r\n"
                                  : "Motion vectors           : Half pel\r\n",
        true);
    add(Format("Stream type                : %s\r\n", streamType.c_str()));
    add(fields ? "\r\nSequence of decoded field types:\r\n" : "\r\nSequence of decoded frame types:\r\n");
    return info;
}

void PictureTypeList::Add(const std::string &letter, int frameCount, bool frameDone)
{
    m_sResultText += letter;
    if (frameCount < 49)
        m_sViewText += letter;
    // The breaks and the cut follow completed frames; the first field of a frame adds its letter only,
    // so a field stream does not break or cut twice at the same count.
    if (!frameDone)
        return;
    if (frameCount < 49) {
        if ((frameCount + 1) % 25 == 0) {
            m_sResultText += "\r\n";
            m_sViewText += "\r\n";
        }
    } else if (frameCount == 49) {
        m_sResultText += "\r\n";
        m_sViewText += " .... <etc>";
    } else if ((frameCount + 1) % 25 == 0) {
        m_sResultText += "\r\n";
    }
}

void DrawVectorLine(int x0, int y0, int x1, int y1, int, uint8_t *bits, int width, int height)
{
    auto inside = [&](int x, int y) { return x >= 0 && x < width && y >= 0 && y < height; };
    if (!bits || !inside(x0, y0) || !inside(x1, y1))
        return;
    auto put = [&](int x, int y, uint8_t b, uint8_t g, uint8_t r) {
        uint8_t *p = bits + 3 * (static_cast<size_t>(y) * width + x);
        p[0] = b;
        p[1] = g;
        p[2] = r;
    };
    const int dx = std::abs(x1 - x0), dy = std::abs(y1 - y0);
    const int sx = x1 >= x0 ? 1 : -1, sy = y1 >= y0 ? 1 : -1;
    const bool alongX = dx >= dy;
    const int steps = alongX ? dx : dy, minor = alongX ? dy : dx;
    int x = x0, y = y0;
    int err = 2 * minor - steps;
    for (int i = 0; i <= steps; ++i) {
        put(x, y, 255, 255, 255);
        if (err > 0) {
            if (alongX)
                y += sy;
            else
                x += sx;
            err -= 2 * steps;
        }
        err += 2 * minor;
        if (alongX)
            x += sx;
        else
            y += sy;
    }
    put(x0, y0, 0, 0, 255);
}

void DrawMacroblockVectors(const std::vector<MotionVector> &vectors, int mbWidth, int mbHeight, uint8_t *bits,
                           int width, int height)
{
    const size_t count = static_cast<size_t>(mbWidth) * mbHeight;
    for (size_t i = 0; i < count && i < vectors.size(); ++i) {
        const int c = static_cast<int>(i % mbWidth), r = static_cast<int>(i / mbWidth);
        const int x0 = 16 * c + 8, y0 = height - 16 * r - 9;
        DrawVectorLine(x0, y0, x0 + vectors[i].x, y0 - vectors[i].y, 0, bits, width, height);
    }
}

std::vector<uint8_t> ChromaTo420(const uint8_t *src, int cw, int ch, int width, int height, int chromaFormat)
{
    const int w = width / 2, h = height / 2;
    const int across = chromaFormat == 3 ? 2 : 1;
    std::vector<uint8_t> out(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int sum = 0, n = 0;
            const int xs = across * x, ys = 2 * y;
            for (int dy = 0; dy < 2 && ys + dy < ch; ++dy)
                for (int dx = 0; dx < across && xs + dx < cw; ++dx) {
                    sum += src[(ys + dy) * cw + xs + dx];
                    ++n;
                }
            out[static_cast<size_t>(y) * w + x] = static_cast<uint8_t>((sum + n / 2) / (n ? n : 1));
        }
    return out;
}

void FramePlanes420(const MpegFrame &f, std::vector<uint8_t> &cb, std::vector<uint8_t> &cr,
                    uint8_t *planes[3])
{
    planes[0] = const_cast<uint8_t *>(f.y);
    planes[1] = const_cast<uint8_t *>(f.cb);
    planes[2] = const_cast<uint8_t *>(f.cr);
    if (f.chromaFormat == 1)
        return;
    cb = ChromaTo420(f.cb, f.chromaWidth, f.chromaHeight, f.width, f.height, f.chromaFormat);
    cr = ChromaTo420(f.cr, f.chromaWidth, f.chromaHeight, f.width, f.height, f.chromaFormat);
    planes[1] = cb.data();
    planes[2] = cr.data();
}

bool FrameToDib(const MpegFrame &f, bool colour, CDib *dib)
{
    if (dib->GetWidth() != f.width || dib->GetHeight() != f.height ||
        dib->GetInfoHeader()->biBitCount != 24 || !dib->GetBits()) {
        if (!dib->Create24(f.width, f.height))
            return false;
    }
    if (colour && f.chromaFormat == 1)
        YuvToDib24(UnpaddedYuvPlanes(f.y, f.cb, f.cr, f.width, f.height, 1), f.width, f.height,
                   dib->GetBits(), dib->RowBytes());
    else
        LumaToDib24(f.y, f.width, f.width, f.height, dib->GetBits(), dib->RowBytes());
    dib->m_bValid = 1;
    return true;
}

} // namespace zn
