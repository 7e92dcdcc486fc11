// Test-side helpers that declare the elements an encoder run would declare, on any writer that has
// declare_marker_elt and set_marker_val.
#pragma once

#include "jpeg2000/marker_elements.h"

#include <vector>

namespace j2ktest {

template <class Writer>
void Declare(Writer &w, int tile, const char *description, int instance, int precision,
             const std::vector<int32_t> &values)
{
    w.declare_marker_elt(tile, description, instance, precision, static_cast<int>(values.size()));
    for (size_t i = 0; i < values.size(); ++i)
        w.set_marker_val(tile, description, instance, values[i], static_cast<int>(i));
}

struct ModuleSettings
{
    int width = 256, height = 256, components = 1;
    int levels = 4;
    bool reversible = false;
    int xcb = 3, ycb = 3, layers = 1;
};

// The main header a default module run declares: one 8-bit component, expounded steps (or reversible
// exponents), no tiling.
template <class Writer> void DeclareModuleHeader(Writer &w, const ModuleSettings &s)
{
    using namespace zn::j2k;
    Declare(w, -1, elt::XSiz, 0, 32, {s.width});
    Declare(w, -1, elt::YSiz, 0, 32, {s.height});
    Declare(w, -1, elt::XOSiz, 0, 32, {0});
    Declare(w, -1, elt::YOSiz, 0, 32, {0});
    Declare(w, -1, elt::XTSiz, 0, 32, {s.width});
    Declare(w, -1, elt::YTSiz, 0, 32, {s.height});
    Declare(w, -1, elt::XTOSiz, 0, 32, {0});
    Declare(w, -1, elt::YTOSiz, 0, 32, {0});
    Declare(w, -1, elt::CSiz, 0, 16, {s.components});
    Declare(w, -1, elt::Precision, 0, 8, std::vector<int32_t>(s.components, 8));
    Declare(w, -1, elt::HorizontalSubsampling, 0, 8, std::vector<int32_t>(s.components, 1));
    Declare(w, -1, elt::VerticalSubsampling, 0, 8, std::vector<int32_t>(s.components, 1));
    Declare(w, -1, elt::Layers, 0, 16, {s.layers});
    Declare(w, -1, elt::Progression, 0, 8, {0});
    Declare(w, -1, elt::Mct, 0, 8, {0});
    Declare(w, -1, elt::QuantizationType, 0, 8, {0});
    int bands = 3 * s.levels + 1;
    for (int c = 0; c < s.components; ++c) {
        Declare(w, -1, elt::Levels, c, 8, {s.levels});
        Declare(w, -1, elt::Reversible, c, 1, {s.reversible ? 1 : 0});
        Declare(w, -1, elt::Xcb, c, 8, {s.xcb});
        Declare(w, -1, elt::Ycb, c, 8, {s.ycb});
        Declare(w, -1, elt::CoderFlags, c, 8, {0});
        Declare(w, -1, elt::GuardBits, c, 3, {2});
        std::vector<int32_t> values;
        // Exponents as a 4-level analysis of 8-bit samples gives: LL, then per level HL LH HH.
        for (int b = 0; b < bands; ++b) {
            int level_gain = b == 0 ? 0 : (b - 1) % 3 == 2 ? 2 : 1;
            int exponent = 8 + level_gain;
            values.push_back(s.reversible ? exponent : (exponent << 11) | (100 + b));
        }
        if (s.reversible)
            Declare(w, -1, elt::ReversibleRanges, c, 5, values);
        else
            Declare(w, -1, elt::StepParams, c, 16, values);
    }
}

} // namespace j2ktest
