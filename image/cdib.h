// CDib: the device-independent image of every document and result window.
// A 40-byte info header, an optional palette of 4-byte entries and bottom-up pixel rows padded to
// multiples of 4 bytes; 8-bit palette or 24-bit blue-green-red. The file routines for BMP and TIFF
// and the raw-YUV opener fill it; ZnImage converts it to and from float luminance.
#pragma once

#include "image/dib_headers.h"

#include <cstdint>
#include <string>
#include <vector>

// Largest pixel store a CDib takes: the block size (header + palette + pixels) must fit an int.
constexpr long long kMaxDibPixelBytes = 0x7FFFFFFFLL - 2048;

class CDib
{
public:
    CDib();
    virtual ~CDib();
    CDib(const CDib &) = delete;
    CDib &operator=(const CDib &) = delete;

    // Fields (public as the modules write caption and title before showing a work image).
    std::string m_caption;  // caption of a result window
    std::string m_title;    // file name cut before its first dot
    int m_nBlockSize = 0;   // header + palette + pixel bytes
    int m_nPaletteSize = 0; // bytes of the palette (4 per colour)
    int m_nPixelSize = 0;   // bytes of the pixel rows
    std::string m_path;     // the file path
    int m_bValid = 0;
    int m_nBitRate = -1; // kbit/s of the stream the image came from, -1 when none

    bool IsValid() const { return m_bValid != 0; }
    int GetWidth() const { return m_header.biWidth; }
    int GetHeight() const { return m_header.biHeight; }
    long GetPixelCount() const { return static_cast<long>(GetWidth()) * GetHeight(); }
    int GetNumColors() const;
    RGBQUAD *GetPalette() { return m_palette.empty() ? nullptr : m_palette.data(); }
    const RGBQUAD *GetPalette() const { return m_palette.empty() ? nullptr : m_palette.data(); }
    uint8_t *GetBits() { return m_pixels.empty() ? nullptr : m_pixels.data(); }
    const uint8_t *GetBits() const { return m_pixels.empty() ? nullptr : m_pixels.data(); }
    BITMAPINFOHEADER *GetInfoHeader() { return &m_header; }
    const BITMAPINFOHEADER *GetInfoHeader() const { return &m_header; }
    void SetBitRate(int kbits) { m_nBitRate = kbits; }
    int GetBitRate() const { return m_nBitRate; }

    // Padded length of one stored row, and stored row k (0 = bottom of the picture).
    int RowBytes() const { return DibRowBytes(m_header.biBitCount, m_header.biWidth); }
    uint8_t *StoredRow(int k) { return m_pixels.data() + static_cast<size_t>(k) * RowBytes(); }
    const uint8_t *StoredRow(int k) const { return m_pixels.data() + static_cast<size_t>(k) * RowBytes(); }

    // Makes this a 24-bit image of the given size (no palette, pixels zeroed, header filled with
    // biSizeImage = width x height); keeps caption, title and path. Returns false when the size is
    // not positive or too large.
    bool Create24(int width, int height);
    // Makes this an 8-bit palette image with numColors entries (1..256). The stored palette always has
    // 256 entries (the rest black) so that no pixel index can read past it.
    bool Create8(int width, int height, const RGBQUAD *palette, int numColors);
    // Releases pixels and palette and clears the valid flag.
    void Clear();

    void ToGrey();
    void CopyDib(const CDib *source);

    // BMP and TIFF files. Loaders return the block size, or -1.
    int LoadDibFile(const std::string &path, bool grey);
    bool SaveDibFile(const std::string &path) const;
    int LoadTifFile(const std::string &path, bool grey);
    bool SaveTifFile(const std::string &path, bool grey) const;

    // Raw YUV sequences (picture 1 as a 24-bit colour image), and the decoders' colour conversions.
    int PrepareDibforYUVFile(const std::string &path);
    void ConvertYUV420Dib(uint8_t *planes[3], int unused1 = 0, int unused2 = 0, int unused3 = 0);
    void ConvertYUV444Dib(uint8_t *planes[3], int unused1 = 0, int unused2 = 0, int unused3 = 0);

private:
    // The shared part of Create24 and Create8: numColors palette entries are counted in the header
    // and the sizes (0 for a 24-bit image).
    bool Create(int bitCount, int width, int height, std::vector<RGBQUAD> palette, int numColors);
    int ReadBmp(const std::string &path, bool grey);
    int ReadTif(const std::string &path, bool grey);

    BITMAPINFOHEADER m_header;
    std::vector<RGBQUAD> m_palette;
    std::vector<uint8_t> m_pixels;
};
