// Forward DCT in doubles from a cosine table, rounded with 0.499999 so that exact halves round down;
// inverse DCT in integers (Chen-Wang butterflies), which is fast and stays within the accuracy
// bounds of IEEE 1180 that MPEG decoders are built to.
#include "mpeg/encoder/mpgenc_dct.h"

#include <algorithm>
#include <cmath>

namespace {

struct DctTable
{
    double c[8][8];
    DctTable()
    {
        for (int k = 0; k < 8; ++k) {
            const double s = k == 0 ? std::sqrt(0.125) : 0.5;
            for (int n = 0; n < 8; ++n)
                c[k][n] = s * std::cos((n + 0.5) * k * 0.39269908169872414);
        }
    }
};

const DctTable &Table()
{
    static const DctTable t;
    return t;
}

constexpr int W1 = 2841, W2 = 2676, W3 = 2408, W5 = 1609, W6 = 1108, W7 = 565;

inline int Clip256(int v)
{
    return std::clamp(v, -256, 255);
}

void IdctRow(int16_t *blk)
{
    int x1 = blk[4] << 11, x2 = blk[6], x3 = blk[2], x4 = blk[1], x5 = blk[7], x6 = blk[5], x7 = blk[3];
    if (!(x1 | x2 | x3 | x4 | x5 | x6 | x7)) {
        const int16_t v = static_cast<int16_t>(blk[0] * 8);
        for (int i = 0; i < 8; ++i)
            blk[i] = v;
        return;
    }
    int x0 = (blk[0] << 11) + 128;
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
    x2 = (181 * (x4 + x5) + 128) >> 8;
    x4 = (181 * (x4 - x5) + 128) >> 8;
    blk[0] = static_cast<int16_t>((x7 + x1) >> 8);
    blk[1] = static_cast<int16_t>((x3 + x2) >> 8);
    blk[2] = static_cast<int16_t>((x0 + x4) >> 8);
    blk[3] = static_cast<int16_t>((x8 + x6) >> 8);
    blk[4] = static_cast<int16_t>((x8 - x6) >> 8);
    blk[5] = static_cast<int16_t>((x0 - x4) >> 8);
    blk[6] = static_cast<int16_t>((x3 - x2) >> 8);
    blk[7] = static_cast<int16_t>((x7 - x1) >> 8);
}

void IdctCol(int16_t *blk)
{
    int x1 = blk[8 * 4] << 8, x2 = blk[8 * 6], x3 = blk[8 * 2], x4 = blk[8 * 1], x5 = blk[8 * 7],
        x6 = blk[8 * 5], x7 = blk[8 * 3];
    if (!(x1 | x2 | x3 | x4 | x5 | x6 | x7)) {
        const int16_t v = static_cast<int16_t>(Clip256((blk[0] + 32) >> 6));
        for (int i = 0; i < 8; ++i)
            blk[8 * i] = v;
        return;
    }
    int x0 = (blk[0] << 8) + 8192;
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
    x2 = (181 * (x4 + x5) + 128) >> 8;
    x4 = (181 * (x4 - x5) + 128) >> 8;
    blk[8 * 0] = static_cast<int16_t>(Clip256((x7 + x1) >> 14));
    blk[8 * 1] = static_cast<int16_t>(Clip256((x3 + x2) >> 14));
    blk[8 * 2] = static_cast<int16_t>(Clip256((x0 + x4) >> 14));
    blk[8 * 3] = static_cast<int16_t>(Clip256((x8 + x6) >> 14));
    blk[8 * 4] = static_cast<int16_t>(Clip256((x8 - x6) >> 14));
    blk[8 * 5] = static_cast<int16_t>(Clip256((x0 - x4) >> 14));
    blk[8 * 6] = static_cast<int16_t>(Clip256((x3 - x2) >> 14));
    blk[8 * 7] = static_cast<int16_t>(Clip256((x7 - x1) >> 14));
}

} // namespace

void ForwardDct(int16_t *block)
{
    const DctTable &t = Table();
    double tmp[64];
    for (int i = 0; i < 8; ++i)
        for (int k = 0; k < 8; ++k) {
            double s = 0.0;
            for (int n = 0; n < 8; ++n)
                s += t.c[k][n] * block[8 * i + n];
            tmp[8 * i + k] = s;
        }
    for (int j = 0; j < 8; ++j)
        for (int k = 0; k < 8; ++k) {
            double s = 0.0;
            for (int i = 0; i < 8; ++i)
                s += t.c[k][i] * tmp[8 * i + j];
            block[8 * k + j] = static_cast<int16_t>(std::floor(s + 0.499999));
        }
}

void Idct(int16_t *block)
{
    for (int i = 0; i < 8; ++i)
        IdctRow(block + 8 * i);
    for (int i = 0; i < 8; ++i)
        IdctCol(block + i);
}

void PredictBlock(const uint8_t *src, int srcStride, uint8_t *dst, int dstStride, int w, int h, int dx,
                  int dy, bool average)
{
    const uint8_t *s = src + (dx >> 1) + static_cast<long>(dy >> 1) * srcStride;
    const bool xh = dx & 1, yh = dy & 1;
    for (int j = 0; j < h; ++j) {
        const uint8_t *a = s + static_cast<long>(j) * srcStride;
        const uint8_t *b = a + srcStride;
        uint8_t *d = dst + static_cast<long>(j) * dstStride;
        for (int i = 0; i < w; ++i) {
            int v;
            if (xh && yh)
                v = (a[i] + a[i + 1] + b[i] + b[i + 1] + 2) >> 2;
            else if (xh)
                v = (a[i] + a[i + 1] + 1) >> 1;
            else if (yh)
                v = (a[i] + b[i] + 1) >> 1;
            else
                v = a[i];
            d[i] = static_cast<uint8_t>(average ? (d[i] + v + 1) >> 1 : v);
        }
    }
}
