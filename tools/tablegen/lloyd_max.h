// Minimum-MSE (Lloyd-Max) scalar quantiser of a symmetric density: every threshold lies midway
// between its two reconstruction levels, and every level is the centroid of its cell.
#pragma once

#include "gg_density.h"

#include <string>
#include <vector>

namespace tablegen {

struct LloydMaxQuantiser
{
    std::vector<double> thresholds;     // L + 1 edges, -inf .. +inf
    std::vector<double> reconstruction; // L levels
    std::vector<double> probabilities;  // L cell masses
    double distortion = 0;              // mean square error
    double residual = 0;                // largest midpoint-condition error left
};

// Designs the quantiser of L >= 2 levels. Returns false (with a reason) when it does not converge.
bool DesignLloydMax(const GgDensity &pdf, int levels, LloydMaxQuantiser *out, std::string *why);

} // namespace tablegen
