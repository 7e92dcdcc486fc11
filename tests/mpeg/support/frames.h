// Bordered float frames and vector fields for the block-matching tests.
#pragma once

#include "image/img.h"
#include "image/tables.h"
#include "mpeg/me/me_hier.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace zntest {

struct ImgDeleter
{
    void operator()(Img *img) const { FreeImg(img); }
};
using ImgPtr = std::unique_ptr<Img, ImgDeleter>;

// A float frame of height x width picture samples inside a border of 127.
inline ImgPtr BorderedFrame(int height, int width, int border, const std::function<float(int x, int y)> &f)
{
    Img *img = nullptr;
    AllocImg(&img, height + 2 * border, width + 2 * border, IMG_REP_FLOAT, IMG_SEQ_MONO);
    const int cols = width + 2 * border;
    float *d = img->FloatPlane();
    for (int r = 0; r < height + 2 * border; ++r)
        for (int c = 0; c < cols; ++c) {
            const int y = r - border, x = c - border;
            const bool inside = y >= 0 && y < height && x >= 0 && x < width;
            d[static_cast<long>(r) * cols + c] = inside ? f(x, y) : 127.0f;
        }
    return ImgPtr(img);
}

inline ImgPtr FrameFromPlane(const std::vector<uint8_t> &plane, int height, int width, int border)
{
    return BorderedFrame(height, width, border, [&](int x, int y) {
        return static_cast<float>(plane[static_cast<size_t>(y) * width + x]);
    });
}

inline ImgPtr PlainImage(int rows, int cols)
{
    Img *img = nullptr;
    AllocImg(&img, rows, cols, IMG_REP_FLOAT, IMG_SEQ_MONO);
    return ImgPtr(img);
}

inline MeField NewField(int rows, int cols, int block)
{
    VF *vf = nullptr;
    AllocVF(&vf, rows, cols, block, block, 0);
    return MeField(vf);
}

inline int A(const VF *vf, int idx)
{
    return static_cast<const int8_t *>(vf->planeA)[idx];
}
inline int B(const VF *vf, int idx)
{
    return static_cast<const int8_t *>(vf->planeB)[idx];
}
inline void Set(VF *vf, int idx, int a, int b)
{
    static_cast<int8_t *>(vf->planeA)[idx] = static_cast<int8_t>(a);
    static_cast<int8_t *>(vf->planeB)[idx] = static_cast<int8_t>(b);
}

} // namespace zntest
