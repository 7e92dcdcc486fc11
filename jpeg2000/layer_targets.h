// Quality layers: the byte target of each layer and the slope threshold that meets it. Targets
// come from "-Clayers" (rates in bits per pixel, with geometrically spaced layers between them) and
// the byte budget; a threshold is found either by bisection with exact packet simulation or, for
// the in-between layers, by interpolating in the slope histogram.
#pragma once

#include "jpeg2000/rate_slopes.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace zn::j2k {

class command_line;

struct layer_record
{
    int32_t target = 0; // cumulative bytes
    int32_t actual = 0; // cumulative bytes after formation
    int32_t fixed = 0;  // 1: a given rate, met by exact search
    int16_t threshold = 0;
};

inline constexpr int32_t kHeaderAllowance = 200;

// The layer table from "-Clayers" (absent: one layer at the budget). `pixels` is image rows x
// columns; `budget` the byte budget.
std::vector<layer_record> make_layer_table(command_line *args, int64_t pixels, int32_t budget);

// Spaces the targets between the given rates, drops layers whose increment is below `min_increment`
// and ends the table at the budget less the header allowance. A budget that leaves nothing for the
// layers ends the run.
void form_layer_targets(std::vector<layer_record> &layers, int32_t min_increment);

// A threshold for target G from the histogram, given the previous layer's threshold T and the
// bytes A it actually produced.
int estimate_threshold(const int32_t histogram[kSlopeBins], int T, int32_t A, int32_t G);

// The smallest threshold in (lower, upper] whose simulated total is within G; `upper` counts as
// within without being tried. `lower` comes from the histogram unless `from_zero`.
int bisect_threshold(const int32_t histogram[kSlopeBins], int upper, int32_t G, bool from_zero,
                     const std::function<int64_t(int)> &simulate_total);

} // namespace zn::j2k
