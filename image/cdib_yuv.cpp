// CDib's raw-YUV side: opening the first picture of a sequence as a document image, and the video
// decoders' conversions of Y, U, V planes (4:2:0 or 4:4:4) into this image's 24-bit pixels.
#include "image/cdib.h"
#include "image/yuv_convert.h"
#include "image/yuv_frame.h"

#include <cstdio>

int CDib::PrepareDibforYUVFile(const std::string &path)
{
    m_path = path;
    std::FILE *probe = std::fopen(path.c_str(), "rb");
    if (!probe)
        return -1;
    std::fclose(probe);
    m_title = DibTitleFromPath(path);

    CYuvFrame frame;
    if (frame.ReadHeader(path) != 0)
        return -1;
    // A picture that cannot be read leaves no image: the document is refused rather than opened with
    // undefined pixels.
    if (!Create24(frame.Width16(), frame.Height16()) || !frame.AllocateYuvFrame() ||
        frame.ReadFrame(path, 1) != 0) {
        Clear();
        return -1;
    }
    frame.m_pData = GetBits();
    frame.ConvertYUVFrameDib();
    m_bValid = 1;
    return m_nBlockSize;
}

namespace {

bool Is24BitWithPixels(CDib &dib)
{
    return dib.GetBits() && dib.GetInfoHeader()->biBitCount == 24 && dib.GetWidth() > 0 &&
           dib.GetHeight() > 0;
}

} // namespace

void CDib::ConvertYUV420Dib(uint8_t *planes[3], int, int, int)
{
    if (!planes || !Is24BitWithPixels(*this))
        return;
    YuvPlanes p;
    p.y = planes[0];
    p.u = planes[1];
    p.v = planes[2];
    p.yStride = GetWidth();
    p.cStride = p.cCols = GetWidth() / 2;
    p.cRows = GetHeight() / 2;
    p.cShift = 1;
    YuvToDib24(p, GetWidth(), GetHeight(), GetBits(), RowBytes());
}

void CDib::ConvertYUV444Dib(uint8_t *planes[3], int, int, int)
{
    if (!planes || !Is24BitWithPixels(*this))
        return;
    YuvPlanes p;
    p.y = planes[0];
    p.u = planes[1];
    p.v = planes[2];
    p.yStride = p.cStride = p.cCols = GetWidth();
    p.cRows = GetHeight();
    p.cShift = 0;
    YuvToDib24(p, GetWidth(), GetHeight(), GetBits(), RowBytes());
}
