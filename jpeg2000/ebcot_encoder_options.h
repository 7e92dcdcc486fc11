// The block coder's per-component options ("-Cblk", "-Cpp", the mode switches) and progression
// ("-Corder"), for the whole image or one tile, and the marker elements that carry them.
#pragma once

#include "jpeg2000/ebcot_encoder_records.h"

#include <vector>

namespace zn::j2k {

class command_line;
class stream_out;

struct component_coding_options
{
    int32_t block_height = 64, block_width = 64;
    std::vector<int32_t> ppx, ppy; // per level, index = level (0 lowest); empty: no partition (15)
    bool respect_cells = false;
    int32_t flags = 0; // entropy coder mode flags
};

struct scope_coding_options
{
    std::vector<component_coding_options> components;
    int32_t order = 0;
    std::vector<progression_change> changes;
};

// Reads the options of `scope` (-1: the whole image; a tile index: that tile, falling back to the
// whole image's). `levels[c]` is component c's number of levels in that scope.
scope_coding_options read_coding_options(command_line *args, int scope, const std::vector<int> &levels);

// Declares and sets the block coder's elements of the scope.
void declare_coding_elements(stream_out &out, int scope, const scope_coding_options &o,
                             const std::vector<int> &levels);

// A Y/N list option: 1/0 for component c, -1 when the option is absent.
int yes_no_option(command_line *args, const char *name, int scope, int component);

} // namespace zn::j2k
