// Inverse transform: a fast integer 8x8 inverse DCT (a factorisation with 11-bit cosine constants),
// rows first, then columns. The row pass keeps 8 extra fraction bits for the column pass; both
// passes skip the multiplications when only the DC term of a line is non-zero, which is the common
// case after quantisation.
#include "mpeg/mpgdec/mpeg_decoder.h"

#include <algorithm>

namespace zn {

namespace {

// 2048 * sqrt(2) * cos(k * pi / 16)
constexpr int W1 = 2841, W2 = 2676, W3 = 2408, W5 = 1609, W6 = 1108, W7 = 565;

// 181/256 = 1/sqrt(2); 64-bit so that damaged coefficients cannot overflow.
inline int Rotate(int v)
{
    return static_cast<int>((181LL * v + 128) >> 8);
}

inline short ClipSample(int v)
{
    return static_cast<short>(std::clamp(v, -256, 255));
}

void Row(short *blk)
{
    int x1 = blk[4] * 2048, x2 = blk[6], x3 = blk[2], x4 = blk[1], x5 = blk[7], x6 = blk[5], x7 = blk[3];
    if (!(x1 | x2 | x3 | x4 | x5 | x6 | x7)) {
        short dc = static_cast<short>(blk[0] * 8);
        std::fill(blk, blk + 8, dc);
        return;
    }
    int x0 = blk[0] * 2048 + 128;
    int x8 = W7 * (x4 + x5);
    x4 = x8 + (W1 - W7) * x4;
    x5 = x8 - (W1 + W7) * x5;
    x8 = W3 * (x6 + x7);
    x6 = x8 - (W3 - W5) * x6;
    x7 = x8 - (W3 + W5) * x7;
    x8 = x0 + x1;
    x0 -= x1;
    x1 = W6 * (x3 + x2);
    x2 = x1 - (W2 + W6) * x2;
    x3 = x1 + (W2 - W6) * x3;
    x1 = x4 + x6;
    x4 -= x6;
    x6 = x5 + x7;
    x5 -= x7;
    x7 = x8 + x3;
    x8 -= x3;
    x3 = x0 + x2;
    x0 -= x2;
    x2 = Rotate(x4 + x5);
    x4 = Rotate(x4 - x5);
    blk[0] = static_cast<short>((x7 + x1) >> 8);
    blk[1] = static_cast<short>((x3 + x2) >> 8);
    blk[2] = static_cast<short>((x0 + x4) >> 8);
    blk[3] = static_cast<short>((x8 + x6) >> 8);
    blk[4] = static_cast<short>((x8 - x6) >> 8);
    blk[5] = static_cast<short>((x0 - x4) >> 8);
    blk[6] = static_cast<short>((x3 - x2) >> 8);
    blk[7] = static_cast<short>((x7 - x1) >> 8);
}

void Column(short *blk)
{
    int x1 = blk[8 * 4] * 256, x2 = blk[8 * 6], x3 = blk[8 * 2], x4 = blk[8 * 1], x5 = blk[8 * 7],
        x6 = blk[8 * 5], x7 = blk[8 * 3];
    if (!(x1 | x2 | x3 | x4 | x5 | x6 | x7)) {
        short v = ClipSample((blk[0] + 32) >> 6);
        for (int i = 0; i < 8; ++i)
            blk[8 * i] = v;
        return;
    }
    int x0 = blk[0] * 256 + 8192;
    int x8 = W7 * (x4 + x5) + 4;
    x4 = (x8 + (W1 - W7) * x4) >> 3;
    x5 = (x8 - (W1 + W7) * x5) >> 3;
    x8 = W3 * (x6 + x7) + 4;
    x6 = (x8 - (W3 - W5) * x6) >> 3;
    x7 = (x8 - (W3 + W5) * x7) >> 3;
    x8 = x0 + x1;
    x0 -= x1;
    x1 = W6 * (x3 + x2) + 4;
    x2 = (x1 - (W2 + W6) * x2) >> 3;
    x3 = (x1 + (W2 - W6) * x3) >> 3;
    x1 = x4 + x6;
    x4 -= x6;
    x6 = x5 + x7;
    x5 -= x7;
    x7 = x8 + x3;
    x8 -= x3;
    x3 = x0 + x2;
    x0 -= x2;
    x2 = Rotate(x4 + x5);
    x4 = Rotate(x4 - x5);
    blk[8 * 0] = ClipSample((x7 + x1) >> 14);
    blk[8 * 1] = ClipSample((x3 + x2) >> 14);
    blk[8 * 2] = ClipSample((x0 + x4) >> 14);
    blk[8 * 3] = ClipSample((x8 + x6) >> 14);
    blk[8 * 4] = ClipSample((x8 - x6) >> 14);
    blk[8 * 5] = ClipSample((x0 - x4) >> 14);
    blk[8 * 6] = ClipSample((x3 - x2) >> 14);
    blk[8 * 7] = ClipSample((x7 - x1) >> 14);
}

} // namespace

void CMpegDecoder::InverseDct(short *block)
{
    for (int i = 0; i < 8; ++i)
        Row(block + 8 * i);
    for (int i = 0; i < 8; ++i)
        Column(block + i);
}

} // namespace zn
