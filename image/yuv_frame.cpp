// Reading one picture of a raw YUV sequence: a single seek to the frame (64-bit offsets, so long
// sequences are reached at once), the whole frame read before anything is stored, cropping to the
// 16-multiple working size, and the chroma layouts brought to planar 4:2:0.
#include "image/yuv_frame.h"

#include "image/yuv_convert.h"
#include "platform/file.h"
#include "platform/messages.h"

#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <sys/types.h>

bool CYuvFrame::AllocateYuvFrame()
{
    const size_t luma = static_cast<size_t>(m_hdr.rows) * m_hdr.cols;
    try {
        m_y.assign(luma, 0);
        m_u.assign(luma / 4, 128);
        m_v.assign(luma / 4, 128);
    } catch (const std::bad_alloc &) {
        m_y.clear();
        m_u.clear();
        m_v.clear();
        zn::ShowMessage("AllocateYuvFrame - Not enough memory for the picture planes");
        return false;
    }
    return true;
}

bool CYuvFrame::PlanesFit() const
{
    const size_t luma = static_cast<size_t>(m_width16) * m_height16;
    return luma > 0 && m_y.size() >= luma && m_u.size() >= luma / 4 && m_v.size() >= luma / 4;
}

void CYuvFrame::ClampPictureNumber(int &n) const
{
    if (m_hdr.cols != 0 && n > m_hdr.frames) {
        zn::ShowMessage(
            zn::Format("Cannot read picture %d. Reading last picture\n in sequence instead (number %d).", n,
                       m_hdr.frames));
        n = m_hdr.frames;
    } else if (n <= 0) {
        zn::ShowMessage(zn::Format("Cannot read picture %d.\nReading picture 1 in sequence instead.", n));
        n = 1;
    }
}

bool CYuvFrame::EnsureHeader(const std::string &path)
{
    if (!(m_hdr.rows && m_hdr.cols && m_hdr.frames) && ReadHeader(path) != 0) {
        zn::ShowMessage(zn::Format("Problem with header file of %s", path.c_str()));
        return false;
    }
    return true;
}

int CYuvFrame::ReadFrame(const std::string &path, int n)
{
    ClampPictureNumber(n);
    return ReadPicYUV(path, n);
}

int CYuvFrame::ReadPicYUV(const std::string &path, int n)
{
    if (!EnsureHeader(path))
        return 1;
    if (!PlanesFit()) {
        zn::ShowMessage("ReadPicYUV - Programming error: Call AllocateYuvFrame() prior to ReadPicYUV");
        if (!AllocateYuvFrame())
            return 1;
    }
    return ReadPicture(path, n, m_y.data(), m_u.data(), m_v.data());
}

int CYuvFrame::ReadYUV(const std::string &path, int n, uint8_t *planes[3])
{
    ClampPictureNumber(n);
    if (!planes || !planes[0] || !planes[1] || !planes[2]) {
        zn::ShowMessage("ReadYUV-error, memory blocks named frame[] not allocated");
        return 1;
    }
    if (!EnsureHeader(path))
        return 1;
    return ReadPicture(path, n, planes[0], planes[1], planes[2]);
}

int CYuvFrame::ReadPicture(const std::string &path, int n, uint8_t *y, uint8_t *u, uint8_t *v) const
{
    const long long frameBytes = YuvFrameBytes(m_hdr.rows, m_hdr.cols, m_hdr.chromaFormat);
    if (frameBytes < 0) {
        zn::ShowMessage("Illegal chroma format in yuv file");
        return 1;
    }
    // Without a header known beforehand the clamp could not look at the frame count.
    if (n < 1 || n > m_hdr.frames) {
        zn::ShowMessage(zn::Format("Cannot read picture %d of %s:\nthe sequence has %d pictures", n,
                                   path.c_str(), m_hdr.frames));
        return 1;
    }
    zn::FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        zn::ShowMessage(zn::Format("Cannot open file %s", path.c_str()));
        return 1;
    }

    // Header values are bounded, so this product stays far below 2^63.
    const long long offset = (n - 1LL) * (frameBytes + m_hdr.extra);
    std::vector<uint8_t> buf;
    try {
        buf.resize(static_cast<size_t>(frameBytes));
    } catch (const std::bad_alloc &) {
        zn::ShowMessage("ReadPicYUV - Not enough memory to read a picture");
        return 1;
    }
    if (offset > std::numeric_limits<off_t>::max() ||
        fseeko(file.get(), static_cast<off_t>(offset), SEEK_SET) != 0 ||
        std::fread(buf.data(), 1, buf.size(), file.get()) != buf.size()) {
        zn::ShowMessage(zn::Format("Cannot read picture %d of %s:\nthe file ends before the picture does", n,
                                   path.c_str()));
        return 1;
    }

    const int w = m_width16, h = m_height16, cw = w / 2, ch = h / 2;
    const size_t rows = m_hdr.rows, cols = m_hdr.cols;
    if (m_hdr.chromaFormat == YUV_CHROMA_UYVY) {
        // U Y0 V Y1 groups: luminance sample p sits at byte 2p + 1, chroma sample g at 4g and 4g + 2.
        std::vector<uint8_t> wu(static_cast<size_t>(cw) * h), wv(wu.size());
        for (int r = 0; r < h; ++r) {
            for (int c = 0; c < w; ++c)
                y[r * w + c] = buf[2 * (r * cols + c) + 1];
            for (int c = 0; c < cw; ++c) {
                const size_t g = r * (cols / 2) + c;
                wu[r * cw + c] = buf[4 * g];
                wv[r * cw + c] = buf[4 * g + 2];
            }
        }
        DecimateChromaV(wu.data(), u);
        DecimateChromaV(wv.data(), v);
        return 0;
    }

    for (int r = 0; r < h; ++r)
        std::memcpy(y + static_cast<size_t>(r) * w, buf.data() + r * cols, w);
    const uint8_t *fileU = buf.data() + rows * cols;
    switch (m_hdr.chromaFormat) {
    case YUV_CHROMA_Y_ONLY:
        std::memset(u, 128, static_cast<size_t>(cw) * ch);
        std::memset(v, 128, static_cast<size_t>(cw) * ch);
        break;
    case YUV_CHROMA_420: {
        const size_t stride = cols / 2;
        const uint8_t *fileV = fileU + (rows / 2) * stride;
        for (int r = 0; r < ch; ++r) {
            std::memcpy(u + static_cast<size_t>(r) * cw, fileU + r * stride, cw);
            std::memcpy(v + static_cast<size_t>(r) * cw, fileV + r * stride, cw);
        }
        break;
    }
    case YUV_CHROMA_422: {
        const size_t stride = cols / 2;
        const uint8_t *fileV = fileU + rows * stride;
        std::vector<uint8_t> work(static_cast<size_t>(cw) * h);
        for (int r = 0; r < h; ++r)
            std::memcpy(work.data() + static_cast<size_t>(r) * cw, fileU + r * stride, cw);
        DecimateChromaV(work.data(), u);
        for (int r = 0; r < h; ++r)
            std::memcpy(work.data() + static_cast<size_t>(r) * cw, fileV + r * stride, cw);
        DecimateChromaV(work.data(), v);
        break;
    }
    }
    return 0;
}

void CYuvFrame::ConvertYUVFrameDib()
{
    if (!m_pData) {
        zn::ShowMessage("ConvertYUVFrameDib - Programming Error\nPointer m_pData MUST be set by calling "
                        "routine\nChange your C-code");
        return;
    }
    if (!PlanesFit()) {
        zn::ShowMessage("ConvertYUVFrameDib - Programming Error\nCall AllocateYuvFrame() and read a picture "
                        "first");
        return;
    }
    const int rowBytes = (3 * m_width16 + 3) & ~3;
    if (!m_bHeaderRead) {
        LumaToDib24(m_y.data(), m_width16, m_width16, m_height16, m_pData, rowBytes);
        return;
    }
    YuvToDib24(UnpaddedYuvPlanes(m_y.data(), m_u.data(), m_v.data(), m_width16, m_height16, 1), m_width16,
               m_height16, m_pData, rowBytes);
}
