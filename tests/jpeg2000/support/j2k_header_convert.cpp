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
        // Ours: Scod L P Ly Ly X Y S T M.  Standard: Scod P Ly Ly M L X Y S T. Our component
        // transform codes RCT 1 and YCbCr 2; the standard has 1 for both, the kernel telling them apart.
        uint8_t f[10];
        std::copy(body, body + 10, f);
        if (to == HeaderLayout::Standard) {
            const uint8_t mct = f[9] == 1 || f[9] == 2 ? 1 : f[9];
            uint8_t s[10] = {f[0], f[2], f[3], f[4], mct, f[1], f[5], f[6], f[7], f[8]};
            std::copy(s, s + 10, body);
        } else {
            const uint8_t mct = f[4] == 1 ? (f[9] == 1 ? 1 : 2) : f[4];
            uint8_t s[10] = {f[0], f[5], f[1], f[2], f[3], f[6], f[7], f[8], f[9], mct};
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
// Our progression changes name, with each box, the order of the packets after it, the first box
// taking the default order; the standard names the order inside each box and ends where the boxes
// end. So ours [(box i, next i)] with default D becomes [(box 1, D), (box 2, next 1), ...,
// (everything, next n)]. Segments grow: the stream is rebuilt, tile-part lengths corrected.
// The progression byte of the first COD of the header starting at `pos`, or `fallback`.
int HeaderOrder(const std::vector<uint8_t> &s, size_t pos, int fallback)
{
    while (pos + 4 <= s.size() && s[pos] == 0xFF && s[pos + 1] != 0x93 && s[pos + 1] != 0xD9) {
        if (s[pos + 1] == 0x52 && pos + 7 <= s.size())
            return s[pos + 6]; // ours: Scod L P ...
        if (s[pos + 1] == 0x90 && pos != 0)
            break;
        pos += 2 + ((s[pos + 2] << 8) | s[pos + 3]);
    }
    return fallback;
}

bool PocToStandard(std::vector<uint8_t> &s)
{
    std::vector<uint8_t> out(s.begin(), s.begin() + 2);
    size_t pos = 2, tile_start = 0, tile_out = 0;
    int components = 0, main_order = HeaderOrder(s, 2, 0), tile_order = 0;
    std::vector<uint8_t> held; // a header's changes, written after its other segments (some decoders
                               // forget changes that come before the coding style)
    bool in_tile = false;
    while (pos + 4 <= s.size() && s[pos] == 0xFF) {
        const int marker = s[pos + 1];
        if (marker == 0xD9)
            break;
        const size_t length = 2 + ((s[pos + 2] << 8) | s[pos + 3]);
        if (pos + length > s.size())
            return false;
        const uint8_t *body = &s[pos + 4];
        if (marker == 0x90) {
            tile_start = pos;
            in_tile = true;
            tile_order = HeaderOrder(s, pos + length, main_order);
        } else if (marker == 0x51 && length >= 40) {
            components = (s[pos + 38] << 8) | s[pos + 39];
        }
        if (marker == 0x5F) {
            const int cbytes = components > 256 ? 2 : 1, entry = 5 + 2 * cbytes;
            const size_t n = (length - 4) / size_t(entry);
            std::vector<uint8_t> seg;
            int order = in_tile ? tile_order : main_order;
            for (size_t i = 0; i < n; ++i) {
                const uint8_t *e = body + i * size_t(entry);
                seg.insert(seg.end(), e, e + entry - 1);
                seg.push_back(uint8_t(order));
                order = e[entry - 1];
            }
            const uint8_t all[] = {
                0, 0, 0, 0xFF, 0xFF, 33, uint8_t(components >> 8), uint8_t(components), uint8_t(order)};
            if (cbytes == 1)
                seg.insert(seg.end(), {0, 0, 0xFF, 0xFF, 33, uint8_t(components >= 256 ? 0 : components),
                                       uint8_t(order)});
            else
                seg.insert(seg.end(), all, all + 9);
            const size_t l = seg.size() + 2;
            held.insert(held.end(), {0xFF, 0x5F, uint8_t(l >> 8), uint8_t(l)});
            held.insert(held.end(), seg.begin(), seg.end());
        } else {
            if (marker == 0x90) { // the main header ends: its changes go last, after COD
                out.insert(out.end(), held.begin(), held.end());
                held.clear();
                tile_out = out.size();
            }
            out.insert(out.end(), s.begin() + std::ptrdiff_t(pos), s.begin() + std::ptrdiff_t(pos + length));
        }
        pos += length;
        if (in_tile && pos + 2 <= s.size() && s[pos] == 0xFF && s[pos + 1] == 0x93) {
            out.insert(out.end(), held.begin(), held.end());
            held.clear();
            const uint32_t psot = (s[tile_start + 6] << 24) | (s[tile_start + 7] << 16) |
                                  (s[tile_start + 8] << 8) | s[tile_start + 9];
            const size_t end = psot == 0 ? s.size() - 2 : tile_start + psot;
            if (end > s.size() || end < pos)
                return false;
            out.insert(out.end(), s.begin() + std::ptrdiff_t(pos), s.begin() + std::ptrdiff_t(end));
            if (psot != 0) {
                const uint32_t fixed = uint32_t(out.size() - tile_out);
                for (int k = 0; k < 4; ++k)
                    out[tile_out + 6 + size_t(k)] = uint8_t(fixed >> (24 - 8 * k));
            }
            pos = end;
            in_tile = false;
        }
    }
    out.insert(out.end(), s.begin() + std::ptrdiff_t(std::min(pos, s.size())), s.end());
    s = std::move(out);
    return true;
}
} // namespace

bool ConvertHeaders(std::vector<uint8_t> &s, HeaderLayout to)
{
    if (to == HeaderLayout::Standard && s.size() >= 2 && s[0] == 0xFF && s[1] == 0x4F && !PocToStandard(s))
        return false;
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
