// Fixtures shared by the subband-library tests: hand-made quantisers and test images.
#pragma once

#include "image/img.h"
#include "image/tables.h"

#include <cmath>
#include <memory>
#include <random>
#include <vector>

namespace sbctest {

struct QuantDel
{
    void operator()(Quant *q) const { FreeQuant(q); }
};
using QuantPtr = std::unique_ptr<Quant, QuantDel>;

struct ImgDel
{
    void operator()(Img *i) const { FreeImg(i); }
};
using ImgPtr = std::unique_ptr<Img, ImgDel>;

// A uniform quantiser of L levels and the given step, centred on 0, with a fixed-length code.
inline QuantPtr Uniform(int levels, float step)
{
    Quant *q;
    AllocQuant(&q, levels, 40);
    for (int i = 0; i < levels; ++i) {
        q->thresholds[i] = (i - levels / 2.0f) * step;
        q->reconstruction[i] = q->thresholds[i] + step / 2;
    }
    MakeFlcVlc(q);
    return QuantPtr(q);
}

inline ImgPtr FloatImage(int rows, int cols)
{
    Img *img;
    AllocImg(&img, rows, cols, IMG_REP_FLOAT, IMG_SEQ_MONO);
    return ImgPtr(img);
}

// A picture-like test image: smooth shading, a few sharp edges, a texture and a little noise, so
// both low and high bands carry energy.
inline ImgPtr TestPicture(int rows, int cols, unsigned seed = 1)
{
    ImgPtr img = FloatImage(rows, cols);
    std::mt19937 gen(seed);
    std::normal_distribution<float> noise(0, 3);
    float *p = img->FloatPlane();
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) {
            double v = 100 + 60 * std::sin(r * 0.02) * std::cos(c * 0.015);
            if ((r / 64 + c / 48) % 3 == 0)
                v += 50;
            if (r > rows / 2 && c > cols / 3)
                v += 20 * std::sin(c * 0.7) * std::sin(r * 0.45);
            v += noise(gen);
            p[r * cols + c] = static_cast<float>(std::fmin(255, std::fmax(0, v)));
        }
    return img;
}

inline double Mse(const float *a, const float *b, long n)
{
    double s = 0;
    for (long i = 0; i < n; ++i)
        s += (static_cast<double>(a[i]) - b[i]) * (static_cast<double>(a[i]) - b[i]);
    return s / n;
}

inline double Psnr(const float *a, const float *b, long n)
{
    const double mse = Mse(a, b, n);
    return mse > 0 ? 10 * std::log10(65025.0 / mse) : 200.0;
}

} // namespace sbctest
