// Rate-distortion slopes of a coded block. Every block is coded completely; afterwards only the
// passes on the lower convex hull of its (bytes, distortion reduction) curve are places where it
// may be cut, each marked with a logarithmic slope code. An image-wide histogram of bytes against
// slope lets layer formation guess a threshold before it measures one.
#pragma once

#include <cstdint>

namespace zn::j2k {

// One coding pass of a block as the encoder records it.
struct pass_record
{
    int32_t length; // cumulative code bytes after this pass
    int16_t slope;  // -1 no distortion reduction, 0 not a truncation point, else the slope code
    int16_t terminated;
};

inline constexpr int kSlopeBins = 64;
inline constexpr int16_t kLargestSlopeCode = 62 * 512 + 511;
inline constexpr int kNothingThreshold = 32767; // a threshold that admits no pass

// 512 x exponent + mantissa, an approximate logarithm of x; every x below 1 gives 1.
int16_t slope_code(double x);

// Marks the truncation points of passes 0..n-1 from their lengths and cumulative distortion
// reductions. A pass that reduces distortion at no cost before any truncation point gets the
// largest code.
void compute_slopes(pass_record *passes, const double *distortion, int n);

// Adds the block's bytes per slope exponent to the histogram: bin j gets the bytes kept if every
// pass of slope exponent j or more were kept.
void add_to_histogram(int32_t histogram[kSlopeBins], const pass_record *passes, int n);

// The rules for the final pass: with no truncation every pass must reach the stream, and a
// reversible band must be able to reach its exact last plane.
void apply_last_pass_rules(pass_record *passes, int n, bool started, bool reversible, bool no_truncation);

} // namespace zn::j2k
