// A test-side writer of one-macroblock MPEG-1 streams: a 16 x 16 intra picture whose first luminance
// block carries escape-coded coefficients after a DC of grey, every other block grey. It reaches
// coefficient products that no encoder of ours writes.
#pragma once

#include <cstdint>
#include <vector>

namespace zntest {

struct RunLevel
{
    int run;   // zeros before the coefficient, in zig-zag order
    int level; // -255..255, not 0
};

// quantiser_scale q (1..31); intraMatrix: the 64 entries in zig-zag order loaded by the sequence
// header, or empty for the default matrix.
std::vector<uint8_t> Mpeg1IntraBlockStream(int q, const std::vector<RunLevel> &coefficients,
                                           const std::vector<uint8_t> &intraMatrix = {});

} // namespace zntest
