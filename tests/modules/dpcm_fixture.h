// A textured grey picture for the DPCM tests (smooth shading, a fine pattern and a little
// deterministic noise, clear of black and white so saving clips nothing) and the generated tables.
#pragma once

#include "modules/module_harness.h"

#include <cmath>
#include <cstdint>
#include <string>

namespace dpcmtest {

inline int TexturedValue(int x, int y)
{
    const double shade = 128 + 55 * std::sin(x / 7.0) * std::cos(y / 11.0);
    const double fine = 18 * std::sin((x + 2 * y) / 2.5);
    const uint32_t h = static_cast<uint32_t>(x * 73856093u) ^ static_cast<uint32_t>(y * 19349663u);
    const double noise = static_cast<double>((h >> 7) % 17) - 8;
    return static_cast<int>(std::lround(shade + fine + noise));
}

inline std::unique_ptr<CDib> Textured(int w = 64, int h = 48)
{
    return zntest::MakeGreyDib(w, h, TexturedValue);
}

inline const std::string &Tables()
{
    static const std::string dir = std::string(ZN_BUILD_DIR) + "/tables/";
    return dir;
}

} // namespace dpcmtest
