// The link layer's block code as the simulation sees it: each code block's error flags are
// interleaved, split into checks, and each check corrects up to its limit, detects up to a larger
// one and misses the rest. Only the data bits' flags reach the received stream.
#include "mpeg/channel/wireless_channel.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

namespace zn {

namespace {

// HiperLAN: 52-byte units of one block, 16 checks of 31 coded bits carrying 26 data bits each.
const ProtocolConstants kHiperlan = {true, 95, 83, 4, 2345, 1472, 52, 1, 496, 16, 31, 26, 1, 3, 0};

// GPRS: one check per 456-bit block; a frame holds as many units as fit in 1530 bytes at most.
constexpr ProtocolConstants Gprs(int unit, int blocks, int data, int correct, int detect, int smallest)
{
    const int longest = (1530 / unit) * unit;
    return {false, 53, 41,  3,    longest - 53 - 3, longest - 41 - 3, unit,    blocks,
            456,   4,  456, data, correct,          detect,           smallest};
}
const ProtocolConstants kGprs[4] = {Gprs(181, 8, 181, 42, 83, 181), Gprs(67, 2, 268, 2, 64, 201),
                                    Gprs(39, 1, 312, 2, 48, 156), Gprs(107, 2, 428, 0, 16, 214)};

// Sets bit k (most significant bit first) of a byte array.
inline void SetBit(uint8_t *bytes, int k)
{
    bytes[k >> 3] |= static_cast<uint8_t>(0x80 >> (k & 7));
}

} // namespace

const ProtocolConstants &HiperlanConstants()
{
    return kHiperlan;
}

const ProtocolConstants &GprsConstants(int scheme)
{
    return kGprs[(scheme >= 1 && scheme <= 4) ? scheme - 1 : 0];
}

void InterleaveErrors(uint8_t *flags, int step, int n)
{
    if (n <= 1 || step <= 0)
        return;
    std::vector<uint8_t> out(static_cast<size_t>(n));
    int b = 0;
    for (int i = 0; i < n; ++i) {
        out[static_cast<size_t>(i)] = flags[b];
        b += step;
        while (b >= n) // the next column starts one position further on
            b -= n - 1;
    }
    std::memcpy(flags, out.data(), out.size());
}

int CheckCodeBlocks(const ProtocolConstants &p, uint8_t *flags, uint8_t *out, ChannelStats &stats)
{
    int result = 0;
    const int checks = p.codedBits / p.checkLength;
    for (int k = 0; k < checks; ++k) {
        uint8_t *check = flags + static_cast<ptrdiff_t>(k) * p.checkLength;
        const int e = static_cast<int>(std::count(check, check + p.checkLength, 1));
        stats.errorBits += e;
        if (e <= p.correctLimit)
            std::fill(check, check + p.checkLength, 0);
        else if (e <= p.detectLimit)
            result = std::max(result, 1);
        else
            result = 2;
    }
    if (p.hiperlan) {
        std::memset(out, 0, static_cast<size_t>(checks * p.dataBits / 8));
        for (int k = 0; k < checks; ++k)
            for (int j = 0; j < p.dataBits; ++j)
                if (flags[k * p.checkLength + j])
                    SetBit(out, k * p.dataBits + j);
    } else {
        std::memcpy(out, flags, static_cast<size_t>(p.dataBits));
    }
    return result;
}

int TransmitPacket(const ProtocolConstants &p, uint8_t *mask, int frameBytes, ChannelModel &channel,
                   ChannelStats &stats)
{
    std::memset(mask, 0, static_cast<size_t>(frameBytes));
    const int units = frameBytes / p.unitBytes;
    std::vector<uint8_t> flags(static_cast<size_t>(p.codedBits));
    std::vector<uint8_t> blockOut(static_cast<size_t>(std::max(p.dataBits, p.unitBytes)));
    std::vector<uint8_t> unitBits(static_cast<size_t>(p.blocksPerUnit * p.dataBits));
    int result = 0;
    for (int u = 0; u < units; ++u) {
        uint8_t *unitMask = mask + static_cast<ptrdiff_t>(u) * p.unitBytes;
        for (int b = 0; b < p.blocksPerUnit; ++b) {
            ChannelBitErrors(flags.data(), channel, p.codedBits);
            InterleaveErrors(flags.data(), p.interleaveStep, p.codedBits);
            result = std::max(result, CheckCodeBlocks(p, flags.data(), blockOut.data(), stats));
            if (p.hiperlan)
                std::memcpy(unitMask, blockOut.data(), static_cast<size_t>(p.unitBytes));
            else
                std::memcpy(unitBits.data() + static_cast<ptrdiff_t>(b) * p.dataBits, blockOut.data(),
                            static_cast<size_t>(p.dataBits));
        }
        if (!p.hiperlan)
            for (size_t k = 0; k < unitBits.size(); ++k)
                if (unitBits[k])
                    SetBit(unitMask, static_cast<int>(k));
    }
    ++stats.packets;
    if (result == 1)
        ++stats.uncorrectable;
    else if (result == 2)
        ++stats.undetected;
    return result;
}

} // namespace zn
