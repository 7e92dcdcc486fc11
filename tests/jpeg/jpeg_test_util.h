// What the JPEG engine tests share: test pictures as float images, the stream's marker segments,
// and stb_image as an independent decoder.
#pragma once

#include "image/znimage.h"

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace jpegtest {

// rows x cols float image with pixel(x, y) (0 = top), limited to whole grey levels 0..255.
inline void Fill(ZnImage *z, int cols, int rows, const std::function<double(int x, int y)> &pixel)
{
    z->Alloc(rows, cols);
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x) {
            const double v = std::floor(pixel(x, y));
            z->Data()[static_cast<size_t>(y) * cols + x] =
                static_cast<float>(v < 0 ? 0 : (v > 255 ? 255 : v));
        }
}

// Smooth shading, edges and a fine texture, so every frequency carries some energy.
inline double PhotoPixel(int x, int y)
{
    return 110 + 60 * std::sin(y * 0.05) * std::cos(x * 0.04) + ((x / 24 + y / 20) % 3 == 0 ? 45 : 0) +
           12 * std::sin(x * 0.9) * std::sin(y * 0.7);
}

inline void Photo(ZnImage *z, int cols, int rows)
{
    Fill(z, cols, rows, PhotoPixel);
}

inline std::vector<int> Levels(const ZnImage &z)
{
    std::vector<int> v(static_cast<size_t>(z.Rows()) * z.Cols());
    for (size_t i = 0; i < v.size(); ++i)
        v[i] = static_cast<int>(z.Data()[i]);
    return v;
}

// One marker segment of a stream: the marker byte after 0xFF and its payload (without the length).
struct Segment
{
    int marker;
    std::vector<uint8_t> data;
};

// The segments up to and including the first SOS, then the markers found in the entropy-coded data
// (RSTn and EOI; stuffed zeros and fill bytes skipped) with empty payloads.
inline std::vector<Segment> Segments(const std::vector<uint8_t> &s)
{
    std::vector<Segment> out;
    size_t i = 2; // after SOI
    bool inScan = false;
    while (i + 1 < s.size()) {
        if (!inScan) {
            if (s[i] != 0xFF)
                break;
            const int m = s[i + 1];
            const size_t len = (static_cast<size_t>(s[i + 2]) << 8) | s[i + 3];
            out.push_back({m, std::vector<uint8_t>(s.begin() + i + 4, s.begin() + i + 2 + len)});
            i += 2 + len;
            inScan = m == 0xDA;
        } else {
            if (s[i] == 0xFF && s[i + 1] != 0x00 && s[i + 1] != 0xFF) {
                out.push_back({s[i + 1], {}});
                if (s[i + 1] == 0xD9)
                    break;
                i += 2;
            } else {
                ++i;
            }
        }
    }
    return out;
}

inline std::vector<const Segment *> Find(const std::vector<Segment> &segs, int marker)
{
    std::vector<const Segment *> out;
    for (const Segment &s : segs)
        if (s.marker == marker)
            out.push_back(&s);
    return out;
}

} // namespace jpegtest
