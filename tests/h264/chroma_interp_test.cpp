// Eighth-sample chroma of whole blocks: the fast kernel equals the per-sample reference at every
// fraction, inside the plane, over each border and far outside, with a readable height below the
// plane's (the field rows of a field macroblock), and the sample formula written here.
#include "h264dec/chroma_interp.h"
#include "h264dec/reconstruct.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace chroma_interp_test {

Array2D<uint8_t> Plane(int w, int h, int kind, unsigned seed)
{
    std::mt19937 rng(seed);
    Array2D<uint8_t> a;
    a.Reset(h, w);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            a[y][x] = static_cast<uint8_t>(kind == 1 ? ((x + y) % 2 ? 255 : 0) : rng() % 256);
    return a;
}

// Bilinear weights of the standard, coordinates clamped into width x height.
int Formula(const Array2D<uint8_t> &a, int width, int height, int X, int Y)
{
    const int fx = X & 7, fy = Y & 7, x = X >> 3, y = Y >> 3;
    auto at = [&](int xx, int yy) { return a[std::clamp(yy, 0, height - 1)][std::clamp(xx, 0, width - 1)]; };
    return ((8 - fx) * (8 - fy) * at(x, y) + fx * (8 - fy) * at(x + 1, y) + (8 - fx) * fy * at(x, y + 1) +
            fx * fy * at(x + 1, y + 1) + 32) >>
           6;
}

TEST(H264ChromaInterp, BlockKernelEqualsTheReferenceAndTheFormula)
{
    const int sizes[] = {2, 4, 8};
    for (int kind = 0; kind < 2; ++kind) {
        const Array2D<uint8_t> a = Plane(24, 20, kind, 5u + static_cast<unsigned>(kind));
        std::mt19937 rng(77);
        for (int t = 0; t < 600; ++t) {
            const int height = t % 4 == 3 ? 10 : 20;
            const int span = t % 5 == 4 ? 8000 : 8 * 40;
            const int X = static_cast<int>(rng() % static_cast<unsigned>(span)) - span / 2 + 8 * 12;
            const int Y = static_cast<int>(rng() % static_cast<unsigned>(span)) - span / 2 + 8 * 10;
            for (const int w : sizes)
                for (const int h : sizes) {
                    uint8_t ref[8 * 9], fast[8 * 9];
                    h264dec_chroma_pred_reference(a, 24, height, X, Y, w, h, ref, 9);
                    h264dec_chroma_pred_fast(a, 24, height, X, Y, w, h, fast, 9);
                    for (int r = 0; r < h; ++r)
                        for (int c = 0; c < w; ++c) {
                            ASSERT_EQ(fast[9 * r + c], ref[9 * r + c])
                                << "at " << X << "," << Y << " size " << w << "x" << h;
                            ASSERT_EQ(ref[9 * r + c], Formula(a, 24, height, X + 8 * c, Y + 8 * r));
                        }
                }
        }
    }
}

} // namespace chroma_interp_test
