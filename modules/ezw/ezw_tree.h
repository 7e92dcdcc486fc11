// The zerotree structure shared by the EZW encoder and decoder: one flag byte per coefficient, the
// subordinate list, and the walks over a coefficient's descendants (the blocks of the same
// orientation at every finer level, or all three orientations below a coarsest low-pass sample).
#pragma once

#include "modules/ezw/ezw_wavelet.h"
#include "platform/large_memory.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace ezw {

constexpr uint8_t kNegative = 0x80;
constexpr uint8_t kSignificantNow = 0x40;
constexpr uint8_t kSignificant = 0x20;
constexpr uint8_t kVisit = 0x10;

// Type 0 is the coarsest low-pass band, 1 LH, 2 HL, 3 HH.
struct Flags
{
    std::vector<std::vector<uint8_t>> detail; // like EzwPyramid::detail
    std::vector<uint8_t> ll;

    // All clear, one per coefficient of p; storage already held is reused.
    void Allocate(const EzwPyramid &p)
    {
        detail.resize(p.detail.size());
        for (size_t b = 0; b < p.detail.size(); ++b)
            detail[b].assign(p.detail[b].v.size(), 0);
        ll.assign(p.ll.v.size(), 0);
    }
    std::vector<uint8_t> &Band(int level, int type)
    {
        return detail[static_cast<size_t>(3 * level + type - 1)];
    }
};

// One entry of the subordinate list: a coefficient found significant.
struct EzwNode
{
    uint8_t type;
    uint8_t level;
    int row;
    int col;
    double magnitude; // encoder: the magnitude when the coefficient became significant
    double recon;
};

// The subordinate list: millions of entries at high rates, so it takes large pages.
using EzwList = std::vector<EzwNode, zn::LargeBlockAllocator<EzwNode>>;

// Clears kVisit on the descendants of detail coefficient (r, c) of band type at level.
inline void ClearDetailDescendants(const EzwPyramid &p, Flags *f, int level, int type, int r, int c)
{
    for (int d = 1; d <= level; ++d) {
        const int cols = p.Band(level - d, type).cols;
        std::vector<uint8_t> &band = f->Band(level - d, type);
        const int n = 1 << d;
        for (int y = r * n; y < r * n + n; ++y)
            for (int x = c * n; x < c * n + n; ++x)
                band[static_cast<size_t>(y) * cols + x] &= static_cast<uint8_t>(~kVisit);
    }
}

// The same below coefficient (r, c) of the coarsest low-pass band: all three orientations.
inline void ClearLowpassDescendants(const EzwPyramid &p, Flags *f, int r, int c)
{
    const int top = p.levels - 1;
    for (int type = 1; type <= 3; ++type) {
        f->Band(top, type)[static_cast<size_t>(r) * p.Band(top, type).cols + c] &=
            static_cast<uint8_t>(~kVisit);
        ClearDetailDescendants(p, f, top, type, r, c);
    }
}

} // namespace ezw
