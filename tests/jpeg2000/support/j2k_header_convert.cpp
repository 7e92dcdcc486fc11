// Our COD carries the levels before progression, layers and the component transform; our reversible
// exponents sit in the low five bits of their byte. The standard has the other order and the top bits.
#include "jpeg2000/support/j2k_header_convert.h"

#include <algorithm>

namespace j2ktest {

namespace {
void ConvertSegment(uint8_t *seg, size_t length, int components, HeaderLayout to)
{
    int marker = seg[1];
    uint8_t *body = seg + 4; // after marker and length
    size_t n = length - 4;
    if (marker == 0x52 && n >= 10) {
        // Ours: Scod L P Ly Ly X Y S T M.  Standard: Scod P Ly Ly M L X Y S T.
        uint8_t f[10];
        std::copy(body, body + 10, f);
        if (to == HeaderLayout::Standard) {
            uint8_t s[10] = {f[0], f[2], f[3], f[4], f[9], f[1], f[5], f[6], f[7], f[8]};
            std::copy(s, s + 10, body);
        } else {
            uint8_t s[10] = {f[0], f[5], f[1], f[2], f[3], f[6], f[7], f[8], f[9], f[4]};
            std::copy(s, s + 10, body);
        }
    } else if (marker == 0x5C || marker == 0x5D) {
        size_t at = marker == 0x5D ? (components >= 256 ? 2 : 1) : 0;
        if (at >= n || (body[at] & 0x1F) != 0)
            return; // only reversible exponent bytes move
        for (size_t i = at + 1; i < n; ++i)
            body[i] = to == HeaderLayout::Standard ? uint8_t(body[i] << 3) : uint8_t(body[i] >> 3);
    }
}
} // namespace

bool ConvertHeaders(std::vector<uint8_t> &s, HeaderLayout to)
{
    if (s.size() < 2 || s[0] != 0xFF || s[1] != 0x4F)
        return false;
    size_t pos = 2, tile_start = 0;
    int components = 0;
    bool in_tile = false;
    while (pos + 2 <= s.size() && s[pos] == 0xFF) {
        int marker = s[pos + 1];
        if (marker == 0xD9)
            return true;
        if (pos + 4 > s.size())
            return false;
        size_t length = 2 + ((s[pos + 2] << 8) | s[pos + 3]);
        if (pos + length > s.size())
            return false;
        if (marker == 0x90) {
            tile_start = pos;
            in_tile = true;
        } else if (marker == 0x51 && length >= 40) {
            components = (s[pos + 38] << 8) | s[pos + 39];
        } else {
            ConvertSegment(&s[pos], length, components, to);
        }
        pos += length;
        if (in_tile && pos + 2 <= s.size() && s[pos] == 0xFF && s[pos + 1] == 0x93) {
            uint32_t psot = (s[tile_start + 6] << 24) | (s[tile_start + 7] << 16) | (s[tile_start + 8] << 8) |
                            s[tile_start + 9];
            if (psot == 0)
                return true;
            pos = tile_start + psot;
            in_tile = false;
        }
    }
    return pos >= s.size();
}

} // namespace j2ktest
