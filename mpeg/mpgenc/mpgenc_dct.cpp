// Forward DCT in doubles from a cosine table, rounded with 0.499999 so that exact halves round down,
// as a plain reference and as a form the compiler vectorises; the inverse DCT is the decoder's
// integer one.
#include "mpeg/mpgenc/mpgenc_dct.h"

#include "mpeg/mpgdec/mpeg_decoder.h"

#include <cmath>

namespace {

struct DctTable
{
    double c[8][8];  // c[k][n]: basis function k at sample n
    double ct[8][8]; // the same transposed, so the fast pass runs along contiguous rows
    DctTable()
    {
        for (int k = 0; k < 8; ++k) {
            const double s = k == 0 ? std::sqrt(0.125) : 0.5;
            for (int n = 0; n < 8; ++n)
                c[k][n] = ct[n][k] = s * std::cos((n + 0.5) * k * 0.39269908169872414);
        }
    }
};

const DctTable &Table()
{
    static const DctTable t;
    return t;
}

} // namespace

void ForwardDctPlain(int16_t *block)
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

// Eight outputs at a time, each still summed over the same terms in the same order as the plain
// transform, so the doubles and their rounding are the same to the last bit.
void ForwardDct(int16_t *block)
{
    const DctTable &t = Table();
    double x[64], tmp[64];
    for (int i = 0; i < 64; ++i)
        x[i] = block[i];
    for (int i = 0; i < 8; ++i) {
        double acc[8] = {0, 0, 0, 0, 0, 0, 0, 0};
        for (int n = 0; n < 8; ++n) {
            const double v = x[8 * i + n];
            for (int k = 0; k < 8; ++k)
                acc[k] += t.ct[n][k] * v;
        }
        for (int k = 0; k < 8; ++k)
            tmp[8 * i + k] = acc[k];
    }
    for (int k = 0; k < 8; ++k) {
        double acc[8] = {0, 0, 0, 0, 0, 0, 0, 0};
        for (int i = 0; i < 8; ++i) {
            const double ck = t.c[k][i];
            for (int j = 0; j < 8; ++j)
                acc[j] += ck * tmp[8 * i + j];
        }
        for (int j = 0; j < 8; ++j)
            block[8 * k + j] = static_cast<int16_t>(std::floor(acc[j] + 0.499999));
    }
}

// The decoder's inverse transform: the encoder's reconstruction is then the decoder's, to the bit.
void Idct(int16_t *block)
{
    zn::CMpegDecoder::InverseDct(block);
}
