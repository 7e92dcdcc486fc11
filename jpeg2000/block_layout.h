// The layout the bit-plane coder works in. A code-block is cut into stripes of four rows; within a
// stripe the four samples of a column lie side by side, so one 64-bit load sees a whole column's
// context words. Every sample has a 16-bit context word that says which neighbours are significant
// and with which sign, so a coding decision costs one table look-up.
#pragma once

#include <cstdint>
#include <cstring>

namespace zn::j2k {

// Context word bits. Bits 0..7: neighbour significance (0 upper-left, 1 upper, 2 upper-right,
// 3 left, 4 right, 5 lower-left, 6 lower, 7 lower-right).
inline constexpr uint16_t kCtxNeighbours = 0x00FF;
inline constexpr uint16_t kCtxSignificant = 0x0200;
inline constexpr uint16_t kCtxVisited = 0x0400;
inline constexpr uint16_t kCtxVerticalPositive = 0x0800;
inline constexpr uint16_t kCtxVerticalNegative = 0x1000;
inline constexpr uint16_t kCtxHorizontalPositive = 0x2000;
inline constexpr uint16_t kCtxHorizontalNegative = 0x4000;
inline constexpr uint16_t kCtxOutside = 0x8000;

inline constexpr uint32_t kMagnitudeMask = 0x7FFFFFFFu;
inline constexpr int kHighestPlane = 30;

// The geometry of one block in the stripe layout. Position (stripe s, column c, row q of the
// stripe) is s * pitch + 4 * c + q in the sample buffer and in the context buffer (whose origin sits
// one guard stripe and one guard column into its allocation).
struct stripe_geometry
{
    int32_t height = 0, width = 0;
    int32_t stripes = 0;
    int32_t groups = 0; // groups of 8 columns
    int32_t pitch = 0;  // 4 x (nominal width + 8)
};

inline int32_t stripe_pitch(int nominal_width)
{
    return 4 * (nominal_width + 8);
}
// Context words to allocate for a nominal block, guards included, and the origin's offset in them.
inline int32_t context_words(int nominal_height, int nominal_width)
{
    return ((nominal_height + 3) / 4 + 2) * stripe_pitch(nominal_width) + 8;
}
inline int32_t context_origin(int nominal_width)
{
    return stripe_pitch(nominal_width) + 4;
}

inline stripe_geometry make_stripe_geometry(int height, int width, int nominal_width)
{
    stripe_geometry g;
    g.height = height;
    g.width = width;
    g.stripes = (height + 3) / 4;
    g.groups = (width + 7) / 8;
    g.pitch = stripe_pitch(nominal_width);
    return g;
}

// Clears the context words of a block (guards included) and marks the positions of its stripe
// groups that lie outside the block.
inline void clear_block_contexts(uint16_t *origin, const stripe_geometry &g)
{
    uint16_t *start = origin - g.pitch - 4;
    std::memset(start, 0, sizeof(uint16_t) * size_t((g.stripes + 2) * g.pitch + 8));
    for (int s = 0; s < g.stripes; ++s)
        for (int c = 0; c < 8 * g.groups; ++c)
            for (int q = 0; q < 4; ++q)
                if (c >= g.width || 4 * s + q >= g.height)
                    origin[s * g.pitch + 4 * c + q] = kCtxOutside;
}

inline uint64_t column_words(const uint16_t *cw)
{
    uint64_t v;
    std::memcpy(&v, cw, sizeof v);
    return v;
}

// Masks over the four context words of a column: any state in their low bytes, and any sample
// significant.
constexpr uint64_t kLowBytes = 0x00FF00FF00FF00FFull;
constexpr uint64_t kSignificantBits = 0x0200020002000200ull;

// Marks a newly significant sample in its neighbours' context words. `q` is its row in the stripe;
// with vertically causal contexts a row-0 sample leaves the stripe above untouched.
inline void update_neighbours(uint16_t *cw, int q, int pitch, bool negative, bool causal)
{
    const uint16_t vs = negative ? kCtxVerticalNegative : kCtxVerticalPositive;
    const uint16_t hs = negative ? kCtxHorizontalNegative : kCtxHorizontalPositive;
    cw[-4] |= uint16_t(0x10 | hs); // left: its right neighbour
    cw[4] |= uint16_t(0x08 | hs);  // right: its left neighbour
    uint16_t *up = q > 0 ? cw - 1 : cw - pitch + 3;
    if (q > 0 || !causal) {
        up[-4] |= 0x80; // upper-left: its lower-right
        up[0] |= uint16_t(0x40 | vs);
        up[4] |= 0x20;
    }
    uint16_t *down = q < 3 ? cw + 1 : cw + pitch - 3;
    down[-4] |= 0x04;
    down[0] |= uint16_t(0x02 | vs);
    down[4] |= 0x01;
}

} // namespace zn::j2k
