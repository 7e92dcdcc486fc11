// Cross-block smoothing of decoded coefficients (the AC prediction of the JPEG standard's informative
// Annex K.8). At low rates most AC coefficients of a block quantise to 0 and the blocks show as
// tiles; the five lowest AC terms of a smooth surface follow from the DC values of the 3x3 blocks
// around it. A prediction is taken only where it is consistent with what was transmitted: within
// half a quantisation step of the decoded value, so the result still quantises to the same index.
#include "modules/jpeg/jpeg_blocks.h"

#include <cstdlib>
#include <cstring>

int64_t JpegDivRound256(int64_t x)
{
    return x >= 0 ? (x + 128) / 256 : -((128 - x) / 256);
}

namespace {

// Replaces coefficient k by prediction p when twice their distance is at most the step.
void TakeIfConsistent(int32_t *block, int k, int64_t p, const uint16_t *steps)
{
    const int64_t d = static_cast<int64_t>(block[k]) - p;
    if (2 * (d < 0 ? -d : d) <= static_cast<int64_t>(steps[k]))
        block[k] = static_cast<int32_t>(p);
}

} // namespace

void smooth_block_row(const int32_t *above, const int32_t *row, const int32_t *below, int32_t *out, int n,
                      const uint16_t *steps)
{
    std::memcpy(out, row, sizeof(int32_t) * 64 * static_cast<size_t>(n));
    if (!above || !below || n <= 2)
        return;
    for (int c = 1; c <= n - 2; ++c) {
        // DC1 DC2 DC3 above, DC4 DC5 DC6 here, DC7 DC8 DC9 below; 64-bit so that damaged streams'
        // extreme values cannot overflow.
        const int64_t dc1 = above[64 * (c - 1)], dc2 = above[64 * c], dc3 = above[64 * (c + 1)];
        const int64_t dc4 = row[64 * (c - 1)], dc5 = row[64 * c], dc6 = row[64 * (c + 1)];
        const int64_t dc7 = below[64 * (c - 1)], dc8 = below[64 * c], dc9 = below[64 * (c + 1)];
        int32_t *block = out + 64 * c;
        TakeIfConsistent(block, 1, JpegDivRound256(36 * (dc4 - dc6)), steps);                // AC01
        TakeIfConsistent(block, 8, JpegDivRound256(36 * (dc2 - dc8)), steps);                // AC10
        TakeIfConsistent(block, 16, JpegDivRound256(9 * (dc2 + dc8 - 2 * dc5)), steps);      // AC20
        TakeIfConsistent(block, 9, JpegDivRound256(5 * ((dc1 - dc3) - (dc7 - dc9))), steps); // AC11
        TakeIfConsistent(block, 2, JpegDivRound256(9 * (dc4 + dc6 - 2 * dc5)), steps);       // AC02
    }
}
