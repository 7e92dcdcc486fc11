// Pictures for the fractal coder's tests: bytes, row 0 at the top, made from a function of (x, y).
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <vector>

namespace fictest {

using Pixels = std::vector<uint8_t>;

inline Pixels MakePixels(int cols, int rows, const std::function<int(int x, int y)> &f)
{
    Pixels p(static_cast<size_t>(cols) * rows);
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x)
            p[static_cast<size_t>(y) * cols + x] = static_cast<uint8_t>(std::clamp(f(x, y), 0, 255));
    return p;
}

} // namespace fictest
