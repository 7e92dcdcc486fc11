// The accurate integer inverse DCT of 8x8 blocks: the separable Loeffler-Ligtenberg-Moschytz
// factorisation with 13-bit fixed-point constants, columns first with two extra fraction bits kept
// between the passes, each pass rounding once at its end. This is the arithmetic of the library's
// own "accurate integer" method, so smoothed and unsmoothed decodes differ only where smoothing
// changed a coefficient.
#include "modules/jpeg/jpeg_blocks.h"

namespace {

constexpr int kConstBits = 13;
constexpr int kPass1Bits = 2;

// round(c x 2^13) of the rotation constants.
constexpr int64_t kFix0_298631336 = 2446;
constexpr int64_t kFix0_390180644 = 3196;
constexpr int64_t kFix0_541196100 = 4433;
constexpr int64_t kFix0_765366865 = 6270;
constexpr int64_t kFix0_899976223 = 7373;
constexpr int64_t kFix1_175875602 = 9633;
constexpr int64_t kFix1_501321110 = 12299;
constexpr int64_t kFix1_847759065 = 15137;
constexpr int64_t kFix1_961570560 = 16069;
constexpr int64_t kFix2_053119869 = 16819;
constexpr int64_t kFix2_562915447 = 20995;
constexpr int64_t kFix3_072711026 = 25172;

// x / 2^n rounded half up, as an arithmetic shift.
constexpr int64_t Descale(int64_t x, int n)
{
    return (x + (int64_t{1} << (n - 1))) >> n;
}

// One 8-point inverse transform of in[0], in[step], ... (scaled so that the outputs carry
// kConstBits fraction bits); out[k] receives output k before its final descaling.
void Idct1d(const int64_t *in, int step, int64_t *out)
{
    // Even part: in[0], in[2], in[4], in[6].
    int64_t z2 = in[2 * step], z3 = in[6 * step];
    int64_t z1 = (z2 + z3) * kFix0_541196100;
    const int64_t tmp2 = z1 - z3 * kFix1_847759065;
    const int64_t tmp3 = z1 + z2 * kFix0_765366865;
    const int64_t tmp0 = (in[0] + in[4 * step]) * (int64_t{1} << kConstBits);
    const int64_t tmp1 = (in[0] - in[4 * step]) * (int64_t{1} << kConstBits);
    const int64_t tmp10 = tmp0 + tmp3, tmp13 = tmp0 - tmp3;
    const int64_t tmp11 = tmp1 + tmp2, tmp12 = tmp1 - tmp2;

    // Odd part: in[7], in[5], in[3], in[1].
    int64_t o0 = in[7 * step], o1 = in[5 * step], o2 = in[3 * step], o3 = in[1 * step];
    z1 = o0 + o3;
    z2 = o1 + o2;
    z3 = o0 + o2;
    int64_t z4 = o1 + o3;
    const int64_t z5 = (z3 + z4) * kFix1_175875602;
    o0 *= kFix0_298631336;
    o1 *= kFix2_053119869;
    o2 *= kFix3_072711026;
    o3 *= kFix1_501321110;
    z1 *= -kFix0_899976223;
    z2 *= -kFix2_562915447;
    z3 = z3 * -kFix1_961570560 + z5;
    z4 = z4 * -kFix0_390180644 + z5;
    o0 += z1 + z3;
    o1 += z2 + z4;
    o2 += z2 + z3;
    o3 += z1 + z4;

    out[0] = tmp10 + o3;
    out[7] = tmp10 - o3;
    out[1] = tmp11 + o2;
    out[6] = tmp11 - o2;
    out[2] = tmp12 + o1;
    out[5] = tmp12 - o1;
    out[3] = tmp13 + o0;
    out[4] = tmp13 - o0;
}

} // namespace

void JpegIdctIslow(const int32_t *coef, uint8_t *out, int stride)
{
    int64_t in[64], work[64], t[8];
    for (int i = 0; i < 64; ++i)
        in[i] = coef[i];
    // Columns: keep kPass1Bits fraction bits for the second pass.
    for (int c = 0; c < 8; ++c) {
        Idct1d(in + c, 8, t);
        for (int r = 0; r < 8; ++r)
            work[8 * r + c] = Descale(t[r], kConstBits - kPass1Bits);
    }
    // Rows: drop every fraction bit and the factor 8 of the 2-D scaling, then re-centre on 128.
    for (int r = 0; r < 8; ++r) {
        Idct1d(work + 8 * r, 1, t);
        uint8_t *o = out + static_cast<long>(r) * stride;
        for (int c = 0; c < 8; ++c) {
            const int64_t v = Descale(t[c], kConstBits + kPass1Bits + 3) + 128;
            o[c] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
        }
    }
}
