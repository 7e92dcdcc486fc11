// CDib's raw-YUV side: opening the first picture of a sequence as a document image, and the video
// decoders' conversions of Y, U, V planes (4:2:0 or 4:4:4) into this image's 24-bit pixels.
#include "image/cdib.h"
#include "image/yuv_convert.h"
#include "image/yuv_frame.h"
#include "platform/paths.h"

#include <cstdio>

int CDib::PrepareDibforYUVFile(const std::string &path)
{
    m_path = path;
    std::FILE *probe = std::fopen(path.c_str(), "rb");
    if (!probe)
        return -1;
    std::fclose(probe);
    m_title = zn::TitleBeforeFirstDot(path);

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

// Planes of width x height luminance samples and chroma subsampled by 2^cShift, into the 24-bit image.
void ConvertUnpaddedYuv(CDib &dib, uint8_t *planes[3], int cShift)
{
    if (!planes || !dib.GetBits() || dib.GetInfoHeader()->biBitCount != 24 || dib.GetWidth() <= 0 ||
        dib.GetHeight() <= 0)
        return;
    const YuvPlanes p =
        UnpaddedYuvPlanes(planes[0], planes[1], planes[2], dib.GetWidth(), dib.GetHeight(), cShift);
    YuvToDib24(p, dib.GetWidth(), dib.GetHeight(), dib.GetBits(), dib.RowBytes());
}

} // namespace

void CDib::ConvertYUV420Dib(uint8_t *planes[3], int, int, int)
{
    ConvertUnpaddedYuv(*this, planes, 1);
}

void CDib::ConvertYUV444Dib(uint8_t *planes[3], int, int, int)
{
    ConvertUnpaddedYuv(*this, planes, 0);
}
