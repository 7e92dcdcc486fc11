// The device-independent image: creation, grey conversion and copy.
// Storage is a header, a palette vector and a pixel vector; the sizes the rest of the system reads
// (block, palette, pixel bytes) describe them as if they were one block in file order.
#include "image/cdib.h"

#include <algorithm>
#include <cstring>
#include <utility>

CDib::CDib() = default;
CDib::~CDib() = default;

int CDib::GetNumColors() const
{
    if (m_header.biClrUsed != 0)
        return static_cast<int>(std::min<uint32_t>(m_header.biClrUsed, 0x7FFFFFFF));
    switch (m_header.biBitCount) {
    case 1:
        return 2;
    case 4:
        return 16;
    case 8:
        return 256;
    default:
        return m_header.biBitCount > 16 ? 0 : -1; // 16 and the odd counts: unsupported
    }
}

namespace {

// Padded pixel bytes of a width x height image, or -1 when the size is not usable.
long long PixelBytes(int bitCount, int width, int height)
{
    if (width <= 0 || height <= 0)
        return -1;
    long long row = ((static_cast<long long>(bitCount) * width + 31) / 32) * 4;
    if (row > kMaxDibPixelBytes / height)
        return -1;
    return row * height;
}

} // namespace

bool CDib::Create24(int width, int height)
{
    return Create(24, width, height, {}, 0);
}

bool CDib::Create8(int width, int height, const RGBQUAD *palette, int numColors)
{
    if (numColors < 1 || numColors > 256)
        return false;
    std::vector<RGBQUAD> entries(256);
    if (palette)
        std::copy(palette, palette + numColors, entries.begin());
    return Create(8, width, height, std::move(entries), numColors);
}

bool CDib::Create(int bitCount, int width, int height, std::vector<RGBQUAD> palette, int numColors)
{
    long long bytes = PixelBytes(bitCount, width, height);
    if (bytes < 0)
        return false;
    BITMAPINFOHEADER h;
    h.biWidth = width;
    h.biHeight = height;
    h.biBitCount = static_cast<uint16_t>(bitCount);
    h.biSizeImage = static_cast<uint32_t>(static_cast<long long>(width) * height);
    h.biClrUsed = static_cast<uint32_t>(numColors);
    m_pixels.assign(static_cast<size_t>(bytes), 0); // may throw; nothing has changed before it
    m_palette.swap(palette);
    m_header = h;
    m_nPaletteSize = 4 * numColors;
    m_nPixelSize = static_cast<int>(bytes);
    m_nBlockSize = static_cast<int>(kInfoHeaderBytes) + m_nPaletteSize + m_nPixelSize;
    m_bValid = 1;
    return true;
}

void CDib::Clear()
{
    m_header = BITMAPINFOHEADER{};
    std::vector<RGBQUAD>().swap(m_palette);
    std::vector<uint8_t>().swap(m_pixels);
    m_nBlockSize = m_nPaletteSize = m_nPixelSize = 0;
    m_bValid = 0;
}

// The integer luminance (29 B + 150 G + 77 R) >> 8: weights of 0.114, 0.587 and 0.299 in 1/256 steps,
// summing to 256 so that white stays 255.
static uint8_t GreyLevel(unsigned b, unsigned g, unsigned r)
{
    return static_cast<uint8_t>((29 * b + 150 * g + 77 * r) >> 8);
}

void CDib::ToGrey()
{
    if (m_header.biBitCount == 8) {
        int n = std::min<int>(GetNumColors(), static_cast<int>(m_palette.size()));
        for (int i = 0; i < n; ++i) {
            RGBQUAD &q = m_palette[i];
            uint8_t g = GreyLevel(q.rgbBlue, q.rgbGreen, q.rgbRed);
            q.rgbBlue = q.rgbGreen = q.rgbRed = g;
        }
    } else if (m_header.biBitCount == 24 && !m_pixels.empty()) {
        int width = GetWidth();
        for (int k = 0; k < GetHeight(); ++k) {
            uint8_t *p = StoredRow(k);
            for (int x = 0; x < width; ++x, p += 3)
                p[0] = p[1] = p[2] = GreyLevel(p[0], p[1], p[2]);
        }
    }
}

void CDib::CopyDib(const CDib *source)
{
    if (!source || source == this)
        return;
    // The big copy first: should it fail, this image is still whole.
    m_pixels = source->m_pixels;
    m_palette = source->m_palette;
    m_header = source->m_header;
    m_title = source->m_title;
    m_caption = source->m_caption;
    m_nBlockSize = source->m_nBlockSize;
    m_nPaletteSize = source->m_nPaletteSize;
    m_nPixelSize = source->m_nPixelSize;
    m_bValid = source->m_bValid;
}
