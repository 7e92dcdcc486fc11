// Bit count of a static-model arithmetic coder, without writing the bits: a 31-bit low register, a
// 16-bit range and bit stuffing. A carry can ripple only through a run of set bits; once fifteen of
// them stand (counting a run already delayed), one stuffed zero bit stops any further carry.
#include "modules/sbc/sbc_quant.h"

#include "platform/messages.h"

#include <cmath>
#include <cstdint>
#include <vector>

namespace {

struct ArithCounter
{
    uint32_t low = 0;
    long bits = 0;
    int delay = 15;
    int run = 0;
    int stuff = 31;

    void Shift()
    {
        if (delay == 0)
            ++bits;
        if ((low & 0x40000000u) && stuff == 31)
            ++run;
        else
            run = 0;
        low = (low << 1) & 0x7FFFFFFFu;
        if (delay > 0) {
            --delay;
            return;
        }
        if (stuff <= 30) {
            ++stuff;
            if (stuff <= 30)
                return;
        }
        int ones = 0;
        for (int b = 30; b >= 0 && (low & (1u << b)); --b)
            ++ones;
        if (ones + run >= 15) {
            stuff = run + 16;
            ++bits;
            if (stuff <= 30)
                low &= ~(1u << stuff);
        }
    }
};

} // namespace

long SbcArithBits(const int *indices, long n, const Vlc *code)
{
    const int symbols = code->symbols;
    std::vector<uint32_t> cum(symbols + 1, 0);
    for (int s = 0; s < symbols; ++s)
        cum[s + 1] = cum[s] + static_cast<uint32_t>(code->VlcCodeLen[s]);
    ArithCounter ac;
    uint32_t range = 0xFFFF;
    int tail = 31; // bits needed to name a point of the final interval; 31 with no symbols
    for (long i = 0; i < n; ++i) {
        const int s = indices[i];
        if (s < 0 || s >= symbols) {
            zn::ShowMessage("Invalid symbol index");
            return ac.bits;
        }
        ac.low += static_cast<uint32_t>((static_cast<uint64_t>(cum[s]) * range) >> 16);
        uint32_t width =
            static_cast<uint32_t>(static_cast<uint64_t>(static_cast<uint32_t>(code->VlcCodeLen[s])) * range) &
            0xFFFF0000u;
        if (width == 0) {
            zn::ShowMessage("Subinterval width is zero");
            return ac.bits;
        }
        if (i == n - 1) {
            tail = static_cast<int>(std::ceil(-std::log2((width >> 16) / 65536.0)));
            if (tail < 1)
                tail = 1;
            const int m = 16 - tail;
            if (m > 0) {
                const uint32_t lowMask = (1u << m) - 1;
                if (ac.low & lowMask) {
                    ac.low &= ~lowMask;
                    ac.low &= 0x7FFFFFFFu;
                    ac.low += 1u << m;
                }
            }
            break;
        }
        while (!(width & 0x80000000u)) {
            ac.Shift();
            width <<= 1;
        }
        range = width >> 16;
    }
    for (int i = 0; i < tail + 15; ++i)
        ac.Shift();
    return ac.bits;
}
