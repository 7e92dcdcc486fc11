// Building the block coder's tables. The labels follow the standard's context rules: which
// neighbours lead depends on the band, because a band's detail runs along one direction.
#include "jpeg2000/coding_tables.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace zn::j2k {

uint8_t significance_table_a[256];
uint8_t significance_table_b[256];
uint8_t significance_table_c[256];
int32_t sign_context_table[16];
int32_t initial_context_states[kNumContexts];
int16_t distortion_significance_lossy[128];
int16_t distortion_significance_exact[128];
int16_t distortion_refinement_lossy[128];
int16_t distortion_refinement_exact[128];

namespace {
int LeadingRule(int lead, int cross, int d)
{
    if (lead == 2)
        return 8;
    if (lead == 1)
        return cross >= 1 ? 7 : (d >= 1 ? 6 : 5);
    return cross >= 1 ? cross + 2 : std::min(d, 2);
}

int DiagonalRule(int h, int v, int d)
{
    if (d >= 3)
        return 8;
    if (d == 2)
        return h + v >= 1 ? 7 : 6;
    if (d == 1)
        return 3 + std::min(h + v, 2);
    return std::min(h + v, 2);
}

int16_t Fixed(double f)
{
    return static_cast<int16_t>(std::floor(8192.0 * f + 0.5));
}
} // namespace

const uint8_t *significance_table_for(int orientation)
{
    if (orientation == 3)
        return significance_table_c;
    if (orientation == 1)
        return significance_table_b;
    return significance_table_a;
}

void build_coding_tables()
{
    for (int i = 0; i < 256; ++i) {
        auto bit = [i](int b) { return (i >> b) & 1; };
        int h = bit(3) + bit(4);
        int v = bit(1) + bit(6);
        int d = bit(0) + bit(2) + bit(5) + bit(7);
        significance_table_a[i] = static_cast<uint8_t>(LeadingRule(h, v, d));
        significance_table_b[i] = static_cast<uint8_t>(LeadingRule(v, h, d));
        significance_table_c[i] = static_cast<uint8_t>(DiagonalRule(h, v, d));
    }
    for (int i = 0; i < 16; ++i) {
        int v = (i & 1) - ((i >> 1) & 1);
        int h = ((i >> 2) & 1) - ((i >> 3) & 1);
        uint32_t entry = h != 0 ? static_cast<uint32_t>(3 + v * h) | (h < 0 ? 0x80000000u : 0u)
                                : static_cast<uint32_t>(std::abs(v)) | (v < 0 ? 0x80000000u : 0u);
        sign_context_table[i] = static_cast<int32_t>(entry);
    }
    for (int k = 0; k < kNumContexts; ++k)
        initial_context_states[k] = 0;
    initial_context_states[kRunContext] = 2 * 3;
    initial_context_states[kSignificanceContext] = 2 * 4;
    initial_context_states[kUniformContext] = 2 * 46;
    for (int i = 0; i < 128; ++i) {
        double x = i / 64.0;
        distortion_significance_lossy[i] = Fixed(x * x - (x - 1.5) * (x - 1.5));
        distortion_significance_exact[i] = Fixed(x * x);
        distortion_refinement_lossy[i] = Fixed(x >= 1 ? (x - 1) * (x - 1) - (x - 1.5) * (x - 1.5)
                                                      : (x - 1) * (x - 1) - (x - 0.5) * (x - 0.5));
        distortion_refinement_exact[i] = Fixed((x - 1) * (x - 1));
    }
}

} // namespace zn::j2k
