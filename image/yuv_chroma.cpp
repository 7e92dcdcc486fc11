// 4:2:2 to 4:2:0: halving the chroma vertically. A plain average of two rows would alias; these
// 12-tap half-band filters (taps sum to 512, so + 256 >> 9 rounds) keep the band below the new
// Nyquist limit. Interlaced pictures filter each field alone, since neighbouring rows belong to
// different instants; the field filters are phased so each output row sits between its field rows.
#include "image/yuv_frame.h"

#include <algorithm>

namespace {

// The negative taps overshoot next to sharp chroma edges; the result is clipped, never wrapped.
inline uint8_t Round9(int sum)
{
    return static_cast<uint8_t>(std::clamp((sum + 256) >> 9, 0, 255));
}

} // namespace

void CYuvFrame::DecimateChromaV(const uint8_t *in, uint8_t *out) const
{
    const int w = m_width16 / 2;
    const int h = m_height16;
    if (!in || !out || w <= 0 || h <= 0)
        return;
    for (int c = 0; c < w; ++c) {
        auto x = [&](int k, int lo, int hi) { return static_cast<int>(in[std::clamp(k, lo, hi) * w + c]); };
        if (m_hdr.progressive) {
            for (int j = 0; j < h / 2; ++j) {
                const int i = 2 * j;
                auto s = [&](int k) { return x(k, 0, h - 1); };
                const int sum = 228 * (s(i) + s(i + 1)) + 70 * (s(i - 1) + s(i + 2)) -
                                37 * (s(i - 2) + s(i + 3)) - 21 * (s(i - 3) + s(i + 4)) +
                                11 * (s(i - 4) + s(i + 5)) + 5 * (s(i - 5) + s(i + 6));
                out[j * w + c] = Round9(sum);
            }
        } else {
            for (int i = 0; i < h; i += 4) {
                auto t = [&](int k) { return x(k, 0, h - 2); }; // top field: even rows
                auto b = [&](int k) { return x(k, 1, h - 1); }; // bottom field: odd rows
                const int top = 8 * t(i - 10) + 5 * t(i - 8) - 30 * t(i - 6) - 18 * t(i - 4) +
                                113 * t(i - 2) + 242 * t(i) + 192 * t(i + 2) + 35 * t(i + 4) - 38 * t(i + 6) -
                                10 * t(i + 8) + 11 * t(i + 10) + 2 * t(i + 12);
                const int bottom = 2 * b(i - 9) + 11 * b(i - 7) - 10 * b(i - 5) - 38 * b(i - 3) +
                                   35 * b(i - 1) + 192 * b(i + 1) + 242 * b(i + 3) + 113 * b(i + 5) -
                                   18 * b(i + 7) - 30 * b(i + 9) + 5 * b(i + 11) + 8 * b(i + 13);
                out[(i / 2) * w + c] = Round9(top);
                out[(i / 2 + 1) * w + c] = Round9(bottom);
            }
        }
    }
}
