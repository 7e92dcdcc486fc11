#include "jpeg2000/colour_transforms.h"

#include <cmath>

namespace zn::j2k {

// Sums are taken in 64 bits: samples of any 32-bit range cannot overflow the intermediate values.
void rct_forward(int32_t *r, int32_t *g, int32_t *b, int width)
{
    for (int i = 0; i < width; ++i) {
        int64_t R = r[i], G = g[i], B = b[i];
        r[i] = int32_t((R + 2 * G + B) >> 2);
        g[i] = int32_t(R - G);
        b[i] = int32_t(B - G);
    }
}

void rct_inverse(int32_t *c0, int32_t *c1, int32_t *c2, int width)
{
    for (int i = 0; i < width; ++i) {
        int64_t y = c0[i], u = c1[i], v = c2[i];
        int64_t G = y - ((u + v) >> 2);
        c0[i] = int32_t(u + G);
        c1[i] = int32_t(G);
        c2[i] = int32_t(v + G);
    }
}

void ycc_forward(int32_t *r, int32_t *g, int32_t *b, int width)
{
    for (int i = 0; i < width; ++i) {
        double R = r[i], G = g[i], B = b[i];
        r[i] = int32_t(std::floor(0.299 * R + 0.587 * G + 0.114 * B + 0.5));
        g[i] = int32_t(std::floor(-0.16875 * R - 0.33126 * G + 0.5 * B + 0.5));
        b[i] = int32_t(std::floor(0.5 * R - 0.41869 * G - 0.08131 * B + 0.5));
    }
}

void ycc_inverse(int32_t *c0, int32_t *c1, int32_t *c2, int width)
{
    for (int i = 0; i < width; ++i) {
        double y = c0[i], cb = c1[i], cr = c2[i];
        c0[i] = int32_t(std::floor(y + 0.5 - 0.00001 * cb + 1.402 * cr));
        c1[i] = int32_t(std::floor(y + 0.5 - 0.34413 * cb - 0.71414 * cr));
        c2[i] = int32_t(std::floor(y + 1.772 * cb + 0.00004 * cr + 0.5));
    }
}

} // namespace zn::j2k
