// Forward DCT in doubles from a cosine table, rounded with 0.499999 so that exact halves round down;
// the inverse DCT is the decoder's integer one.
#include "mpeg/mpgenc/mpgenc_dct.h"

#include "mpeg/mpgdec/mpeg_decoder.h"

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

// The decoder's inverse transform: the encoder's reconstruction is then the decoder's, to the bit.
void Idct(int16_t *block)
{
    zn::CMpegDecoder::InverseDct(block);
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
