// Pictures and measures shared by the wavelet coder tests.
#pragma once

#include "image/cdib.h"
#include "image/znimage.h"
#include "modules/spiht/spiht_coder.h"
#include "support/test_support.h"

#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace wavelettest {

inline std::unique_ptr<ZnImage> MakeImage(int w, int h, const std::function<float(int x, int y)> &f)
{
    auto img = std::make_unique<ZnImage>();
    img->Alloc(h, w);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img->Data()[static_cast<size_t>(y) * w + x] = f(x, y);
    return img;
}

// Smooth areas, edges and texture: something for every band.
inline std::unique_ptr<ZnImage> Scene(int w, int h)
{
    return MakeImage(w, h, [](int x, int y) {
        const int v = 40 + x / 3 + y / 4 + ((x / 24 + y / 20) % 2) * 70 + (x * 7 + y * 13) % 17;
        return static_cast<float>(std::min(v, 255));
    });
}

// The photograph as a luminance image; null when it is not there.
inline std::unique_ptr<ZnImage> Photo(const std::string &name)
{
    const std::string path = zntest::PhotoPath(name);
    if (path.empty())
        return nullptr;
    CDib dib;
    if (dib.LoadDibFile(path, true) < 0)
        return nullptr;
    auto img = std::make_unique<ZnImage>();
    img->DibToZnImage(&dib);
    return img;
}

// PSNR of b against a over the rows x cols of b (b rounded to grey levels as the modules show it).
inline double Psnr(const ZnImage &a, const ZnImage &b)
{
    double se = 0;
    const int rows = b.Rows(), cols = b.Cols();
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x) {
            const double v = std::floor(
                std::min(255.0f, std::max(0.0f, b.Data()[static_cast<size_t>(y) * cols + x])) + 0.5);
            const double d = a.Data()[static_cast<size_t>(y) * a.Cols() + x] - v;
            se += d * d;
        }
    const double mse = se / (static_cast<double>(rows) * cols);
    return mse <= 0 ? INFINITY : 10 * std::log10(65025.0 / mse);
}

// SPIHT in memory: the stream, the tree levels (0 when refused) and the encoder's two lines.
struct SpihtCoded
{
    int levels = 0;
    std::vector<uint8_t> stream;
    std::string text;
};

inline SpihtCoded SpihtEncode(const ZnImage &img, ZnImage *display, float rate, int smoothing,
                              std::vector<SpihtDecision> *decisions = nullptr)
{
    SpihtCoded r;
    Spiht_Image_Encoder encoder({}, &r.text);
    encoder.FollowDecisions(decisions);
    r.levels = encoder.compress(img, display, nullptr, nullptr, rate, smoothing);
    r.stream = encoder.Stream();
    return r;
}

struct SpihtDecoded
{
    int levels = 0;
    long bytesUsed = 0;
};

inline SpihtDecoded SpihtDecode(std::span<const uint8_t> stream, ZnImage *out, ZnImage *display, float rate,
                                std::vector<SpihtDecision> *decisions = nullptr)
{
    Spiht_Image_Decoder decoder;
    decoder.FollowDecisions(decisions);
    decoder.recover(out, display, stream, rate);
    return {decoder.Levels(), decoder.BytesUsed()};
}

inline uint32_t Lcg(uint32_t *s)
{
    *s = *s * 1664525u + 1013904223u;
    return *s >> 8;
}

} // namespace wavelettest
