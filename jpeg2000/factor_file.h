// Band factor files: text files that give every subband of some components a factor (a step quotient,
// a visual weight). A segment names a range of components; its level blocks of 1, 4 or 16 lines of
// four factors each cover one resolution level, the first block the highest, the last one also every
// level below. A band's factor is the product of the table entries along the digits of its index.
#pragma once

#include <array>
#include <vector>

namespace zn::j2k {

struct factor_segment
{
    int first_component = 0; // 0-based, inclusive
    int last_component = 0;  // clipped to the components of the image
    std::vector<std::array<float, 64>> blocks;
};

struct quant_factor_file
{
    std::vector<factor_segment> segments;
};

// Reads and checks the whole file; every fault ends the run with its message.
quant_factor_file read_quant_factor_file(const char *path, int num_components);

// The factor of band `band` at level index `level` of a component with `levels` levels; the band's
// digits follow from its index (band 0 is the low-low band). 1.0 when the segment has no block.
double segment_band_factor(const factor_segment &segment, int levels, int level, int band);

} // namespace zn::j2k
