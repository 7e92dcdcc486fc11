// YUV to 24-bit DIB pixels with the program's integer colour matrix, shared by the sequence reader
// and the video decoders' image conversions.
#pragma once

#include <cstdint>

struct YuvPlanes
{
    const uint8_t *y = nullptr;
    const uint8_t *u = nullptr;
    const uint8_t *v = nullptr;
    int yStride = 0;
    int cStride = 0;
    int cShift = 1; // 1: one chroma sample per 2 x 2 pixels (4:2:0); 0: one per pixel (4:4:4)
    int cCols = 0;  // chroma samples per row and rows that exist; a picture with an odd side
    int cRows = 0;  // repeats the last chroma sample rather than reading past the plane
};

// The planes of a picture stored without row padding: width luminance samples a row, and chroma
// subsampled by 2^cShift in both directions.
YuvPlanes UnpaddedYuvPlanes(const uint8_t *y, const uint8_t *u, const uint8_t *v, int width, int height,
                            int cShift);

// Writes width x height pixels, picture row 0 to the last stored row (bottom-up), rows rowBytes
// apart; the row padding is left untouched.
void YuvToDib24(const YuvPlanes &p, int width, int height, uint8_t *bits, int rowBytes);

// The luminance alone in all three bytes (grey).
void LumaToDib24(const uint8_t *y, int yStride, int width, int height, uint8_t *bits, int rowBytes);

// One pixel of the matrix; u and v are centred (chroma - 128). Blue, green, red, clipped to 0..255.
void YuvToBgr(int y, int u, int v, uint8_t bgr[3]);
