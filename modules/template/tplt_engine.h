// The developers' example engine: it works directly on the pixel rows of a 24-bit image, taking
// the first byte of every pixel as its grey level, and inverts and/or mirrors the picture.
#pragma once

#include <string>

class CDib;

// Choices of the two pages: 1 do it, 2 do not.
struct TpltParams
{
    int nInvert = 2;
    int nMirror = 2;
};

struct TpltRunResult
{
    bool done = false;  // false: the image was refused (message shown), no result
    long processed = 0; // pixels touched, counted once per processing step
    std::string results;
};

// result becomes a copy of image (title, header, pixels) holding the processed grey picture.
TpltRunResult TpltProcessImage(const TpltParams &par, const CDib *image, CDib *result);
