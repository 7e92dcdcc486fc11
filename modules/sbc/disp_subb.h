// Display of a subband decomposition (ZnImage::DispSubb, declared in image/znimage.h) and the byte
// line drawing behind its band borders.
#pragma once

#include <cstdint>

// Sets the bytes of a horizontal, vertical or gently rising (slope 0..1) line; element (x, y) is
// raster[y * stride + x]. A vertical line leaves out its end row y1. No clipping.
void DrawLineByte(int x0, int y0, int x1, int y1, uint8_t value, uint8_t *raster, int stride);
