// A test-side writer of a one-macroblock MPEG-1 stream: a 16 x 16 intra picture whose first luminance
// block carries one escape-coded coefficient after a DC of grey, every other block grey. It reaches
// coefficient products that no encoder of ours writes.
#pragma once

#include <cstdint>
#include <vector>

namespace zntest {

// quantiser_scale q (1..31); the coefficient follows `run` zeros after the DC (zig-zag order) with the
// escape's level (-255..255, not 0).
std::vector<uint8_t> Mpeg1OneCoefficientStream(int q, int run, int level);

} // namespace zntest
