// Tables the block coder looks up instead of doing neighbourhood arithmetic: context labels for
// significance and sign coding, the contexts' initial states, and the distortion each coding pass
// removes (used by the encoder's rate control).
#pragma once

#include <cstdint>

namespace zn::j2k {

// Context word bits of a sample's eight neighbours: 0 upper-left, 1 upper, 2 upper-right, 3 left,
// 4 right, 5 lower-left, 6 lower, 7 lower-right.
extern uint8_t significance_table_a[256]; // horizontal neighbours lead (LL and LH bands)
extern uint8_t significance_table_b[256]; // vertical neighbours lead (HL band)
extern uint8_t significance_table_c[256]; // diagonal neighbours lead (HH band)
// Indexed by four sign bits: 0 vertical positive, 1 vertical negative, 2 horizontal positive,
// 3 horizontal negative. Low five bits: sign context minus 13; bit 31: flip the predicted sign.
extern int32_t sign_context_table[16];

inline constexpr int kNumContexts = 19;
inline constexpr int kRunContext = 0, kSignificanceContext = 1, kRefinementContext = 10, kSignContext = 13,
                     kUniformContext = 18;
// Initial context state words (2 x state + MPS).
extern int32_t initial_context_states[kNumContexts];

// Fixed point, 13 fraction bits; index i stands for a magnitude of i / 64 in units of the bit-plane.
inline constexpr int kDistortionFractionBits = 13;
extern int16_t distortion_significance_lossy[128];
extern int16_t distortion_significance_exact[128];
extern int16_t distortion_refinement_lossy[128];
extern int16_t distortion_refinement_exact[128];

// The band's significance table for its orientation (0 LL, 1 HL, 2 LH, 3 HH).
const uint8_t *significance_table_for(int orientation);

void build_coding_tables();

} // namespace zn::j2k
