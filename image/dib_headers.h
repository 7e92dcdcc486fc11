// The bitmap structures of BMP files and of every CDib: our own plain structs, read and written
// byte by byte in little-endian order (never as raw memory).
#pragma once

#include <cstddef>
#include <cstdint>

struct RGBQUAD
{
    uint8_t rgbBlue = 0;
    uint8_t rgbGreen = 0;
    uint8_t rgbRed = 0;
    uint8_t rgbReserved = 0;
};

struct BITMAPINFOHEADER
{
    uint32_t biSize = 40;
    int32_t biWidth = 0;
    int32_t biHeight = 0;
    uint16_t biPlanes = 1;
    uint16_t biBitCount = 0;
    uint32_t biCompression = 0; // 0: uncompressed (BI_RGB)
    uint32_t biSizeImage = 0;   // by this program's convention a pixel count, width x height
    int32_t biXPelsPerMeter = 0;
    int32_t biYPelsPerMeter = 0;
    uint32_t biClrUsed = 0;
    uint32_t biClrImportant = 0;
};

struct BITMAPFILEHEADER
{
    uint16_t bfType = 0x4D42; // "BM"
    uint32_t bfSize = 0;
    uint16_t bfReserved1 = 0;
    uint16_t bfReserved2 = 0;
    uint32_t bfOffBits = 0;
};

constexpr size_t kFileHeaderBytes = 14;
constexpr size_t kInfoHeaderBytes = 40;

// Little-endian field access.
inline uint16_t GetLE16(const uint8_t *p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t GetLE32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void PutLE16(uint8_t *p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutLE32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// 14 bytes <-> file header, 40 bytes <-> info header.
BITMAPFILEHEADER ReadFileHeader(const uint8_t *p);
void WriteFileHeader(uint8_t *p, const BITMAPFILEHEADER &h);
BITMAPINFOHEADER ReadInfoHeader(const uint8_t *p);
void WriteInfoHeader(uint8_t *p, const BITMAPINFOHEADER &h);

// Padded DIB row length: ((bits per pixel x width + 31) / 32) x 4.
inline int DibRowBytes(int bitCount, int width)
{
    return ((bitCount * width + 31) / 32) * 4;
}
