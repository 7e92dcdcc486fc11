// Forward DCT in doubles from a cosine table, rounded with 0.499999 so that exact halves round down,
// as a plain reference and as a form the compiler vectorises; the inverse DCT is the decoder's
// integer one.
#include "mpeg/mpgenc/mpgenc_dct.h"

#include "mpeg/mpgdec/mpeg_decoder.h"

#include <cmath>
#include <cstring>

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

// Two outputs per vector (the width every x86-64 processor has), four vectors per row or column:
// each output is still summed over the same terms in the same order as in the plain transform, so
// the doubles and their rounding agree to the last bit.
typedef double Vec2 __attribute__((vector_size(16)));

namespace {

inline Vec2 Load2(const double *p)
{
    Vec2 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

} // namespace

void ForwardDct(int16_t *block)
{
    const DctTable &t = Table();
    alignas(16) double tmp[64];
    for (int i = 0; i < 8; ++i) {
        Vec2 a0 = {}, a1 = {}, a2 = {}, a3 = {};
        for (int n = 0; n < 8; ++n) {
            const double v = block[8 * i + n];
            const double *c = t.ct[n];
            a0 += Load2(c) * v;
            a1 += Load2(c + 2) * v;
            a2 += Load2(c + 4) * v;
            a3 += Load2(c + 6) * v;
        }
        const Vec2 acc[4] = {a0, a1, a2, a3};
        std::memcpy(&tmp[8 * i], acc, sizeof acc);
    }
    for (int k = 0; k < 8; ++k) {
        Vec2 a0 = {}, a1 = {}, a2 = {}, a3 = {};
        for (int i = 0; i < 8; ++i) {
            const double ck = t.c[k][i];
            const double *r = &tmp[8 * i];
            a0 += Load2(r) * ck;
            a1 += Load2(r + 2) * ck;
            a2 += Load2(r + 4) * ck;
            a3 += Load2(r + 6) * ck;
        }
        const Vec2 acc[4] = {a0, a1, a2, a3};
        double out[8];
        std::memcpy(out, acc, sizeof acc);
        // floor by truncation and a step down for negatives: the same integers as std::floor for
        // every value a block can give, without a library call per coefficient.
        for (int j = 0; j < 8; ++j) {
            const double v = out[j] + 0.499999;
            const int r = static_cast<int>(v);
            block[8 * k + j] = static_cast<int16_t>(r - (v < r ? 1 : 0));
        }
    }
}

// The decoder's inverse transform: the encoder's reconstruction is then the decoder's, to the bit.
void Idct(int16_t *block)
{
    zn::CMpegDecoder::InverseDct(block);
}
