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
