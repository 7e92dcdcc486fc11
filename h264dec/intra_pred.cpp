// Luma intra prediction. The 4x4 kernel walks one edge array (left column bottom-up, corner, row above)
// so that every direction is a 2- or 3-tap filter at an offset along it.
#include "h264dec/intra_pred.h"

#include "h264dec/decoder_analysis.h"
#include "platform/messages.h"

#include <algorithm>
#include <cstdint>
#include <string>

namespace {

constexpr int kIllegalModeMessage = 1;

void IllegalMode(H264DecoderState &dec, int mode)
{
    if (dec.recon_messages_shown & kIllegalModeMessage)
        return;
    dec.recon_messages_shown |= kIllegalModeMessage;
    zn::ShowMessage("Error: illegal prediction mode input: " + std::to_string(mode) + "\n",
                    zn::MsgButtons::Ok, zn::MsgIcon::Error);
}

} // namespace

int h264dec_pred4x4_reference(int mode, const Intra4x4Neighbours &n, int dc_avail, int pred[4][4])
{
    if (mode < 0 || mode > 8)
        return 1;
    // e[0..3] = L K J I, e[4] = X, e[5..12] = A..H, e[13] repeats H for the last down-left sample.
    int e[14];
    for (int k = 0; k < 4; ++k)
        e[3 - k] = n.left[k];
    e[4] = n.corner;
    for (int k = 0; k < 8; ++k)
        e[5 + k] = n.above[k];
    e[13] = e[12];
    auto t2 = [&](int i) { return (e[i] + e[i + 1] + 1) >> 1; };
    auto t3 = [&](int i) { return (e[i - 1] + 2 * e[i] + e[i + 1] + 2) >> 2; };
    // The left column top-down, extended by its last sample, for horizontal-up.
    const int l[6] = {n.left[0], n.left[1], n.left[2], n.left[3], n.left[3], n.left[3]};

    int dc = 128;
    if (mode == 2) {
        const int sa = n.above[0] + n.above[1] + n.above[2] + n.above[3];
        const int sl = n.left[0] + n.left[1] + n.left[2] + n.left[3];
        if ((dc_avail & 3) == 3)
            dc = (sa + sl + 4) >> 3;
        else if (dc_avail & 1)
            dc = (sa + 2) / 4;
        else if (dc_avail & 2)
            dc = (sl + 2) / 4;
    }
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            int v = 0;
            switch (mode) {
            case 0:
                v = n.above[x];
                break;
            case 1:
                v = n.left[y];
                break;
            case 2:
                v = dc;
                break;
            case 3: // diagonal down-left
                v = t3(6 + x + y);
                break;
            case 4: // diagonal down-right
                v = t3(4 + x - y);
                break;
            case 5: { // vertical-right
                const int z = 2 * x - y, a = x - (y >> 1);
                if (z >= 0)
                    v = (z & 1) ? t3(4 + a) : t2(4 + a);
                else
                    v = z == -1 ? t3(4) : t3(5 - y);
                break;
            }
            case 6: { // horizontal-down
                const int z = 2 * y - x, b = y - (x >> 1);
                if (z >= 0)
                    v = (z & 1) ? t3(4 - b) : t2(3 - b);
                else
                    v = z == -1 ? t3(4) : t3(3 + x);
                break;
            }
            case 7: { // vertical-left
                const int c = x + (y >> 1);
                v = (y & 1) ? t3(6 + c) : t2(5 + c);
                break;
            }
            default: { // horizontal-up
                const int z = x + 2 * y, d = y + (x >> 1);
                if (z < 5)
                    v = (z & 1) ? (l[d] + 2 * l[d + 1] + l[d + 2] + 2) >> 2 : (l[d] + l[d + 1] + 1) >> 1;
                else if (z == 5)
                    v = (l[2] + 3 * l[3] + 2) >> 2;
                else
                    v = l[3];
                break;
            }
            }
            pred[x][y] = v;
        }
    return 0;
}

int h264dec_pred16x16_reference(int mode, const Intra16x16Neighbours &n, int pred[16][16])
{
    switch (mode) {
    case 0:
        for (int x = 0; x < 16; ++x)
            for (int y = 0; y < 16; ++y)
                pred[x][y] = n.above[x];
        return 0;
    case 1:
        for (int x = 0; x < 16; ++x)
            for (int y = 0; y < 16; ++y)
                pred[x][y] = n.left[y];
        return 0;
    case 2: {
        int sa = 0, sl = 0;
        for (int k = 0; k < 16; ++k) {
            sa += n.above[k];
            sl += n.left[k];
        }
        int dc = 128;
        if (n.above_ok && n.left_ok)
            dc = (sa + sl + 16) / 32;
        else if (n.above_ok)
            dc = (sa + 8) / 16;
        else if (n.left_ok)
            dc = (sl + 8) / 16;
        for (int x = 0; x < 16; ++x)
            for (int y = 0; y < 16; ++y)
                pred[x][y] = dc;
        return 0;
    }
    case 3: {
        // The corner takes the part of sample -1 in both gradients.
        auto top = [&](int i) { return i < 0 ? n.corner : n.above[i]; };
        auto side = [&](int i) { return i < 0 ? n.corner : n.left[i]; };
        int ih = 0, iv = 0;
        for (int k = 1; k <= 8; ++k) {
            ih += k * (top(7 + k) - top(7 - k));
            iv += k * (side(7 + k) - side(7 - k));
        }
        const int b = (5 * ih + 32) >> 6, c = (5 * iv + 32) >> 6;
        const int a = 16 * (n.left[15] + n.above[15]);
        for (int x = 0; x < 16; ++x)
            for (int y = 0; y < 16; ++y)
                pred[x][y] = Clip255((a + b * (x - 7) + c * (y - 7) + 16) / 32);
        return 0;
    }
    default:
        return 1;
    }
}

namespace {

// Every directional 4x4 prediction sample is a 2-tap or 3-tap filter centred on one position of the
// edge E (E[0] = L again, E[1..4] = L K J I, E[5] = X, E[6..13] = A..H, E[14] = H again), or a copy
// of one edge sample. The tables below say which, per mode and sample; they are the standard's
// equations with each neighbour p[x, -1] at E[6 + x] and p[-1, y] at E[4 - y].
enum TapKind : uint8_t { kTap2, kTap3, kCopy };
struct Tap
{
    uint8_t kind, index;
};

constexpr Tap DirectionalTap(int mode, int x, int y)
{
    switch (mode) {
    case 3: // diagonal down-left
        return {kTap3, static_cast<uint8_t>(7 + x + y)};
    case 4: // diagonal down-right
        return {kTap3, static_cast<uint8_t>(5 + x - y)};
    case 5: { // vertical-right
        const int z = 2 * x - y;
        if (z >= 0)
            return {z % 2 ? kTap3 : kTap2, static_cast<uint8_t>(5 + x - (y >> 1))};
        return {kTap3, static_cast<uint8_t>(z == -1 ? 5 : 6 - y)};
    }
    case 6: { // horizontal-down
        const int z = 2 * y - x;
        if (z >= 0)
            return z % 2 ? Tap{kTap3, static_cast<uint8_t>(5 - y + (x >> 1))}
                         : Tap{kTap2, static_cast<uint8_t>(4 - y + (x >> 1))};
        return {kTap3, static_cast<uint8_t>(z == -1 ? 5 : 4 + x)};
    }
    case 7: // vertical-left
        return y % 2 ? Tap{kTap3, static_cast<uint8_t>(7 + x + (y >> 1))}
                     : Tap{kTap2, static_cast<uint8_t>(6 + x + (y >> 1))};
    default: { // horizontal-up
        const int z = x + 2 * y;
        if (z > 5)
            return {kCopy, 1};
        if (z == 5)
            return {kTap3, 1};
        return {z % 2 ? kTap3 : kTap2, static_cast<uint8_t>(3 - y - (x >> 1))};
    }
    }
}

struct DirectionalTable
{
    Tap tap[6][4][4]; // [mode - 3][y][x]
    constexpr DirectionalTable() : tap{}
    {
        for (int m = 3; m <= 8; ++m)
            for (int y = 0; y < 4; ++y)
                for (int x = 0; x < 4; ++x)
                    tap[m - 3][y][x] = DirectionalTap(m, x, y);
    }
};
constexpr DirectionalTable kDirectional;

} // namespace

int h264dec_pred4x4_kernel(int mode, const Intra4x4Neighbours &n, int dc_avail, int pred[4][4])
{
    switch (mode) {
    case 0:
        for (int x = 0; x < 4; ++x)
            for (int y = 0; y < 4; ++y)
                pred[x][y] = n.above[x];
        return 0;
    case 1:
        for (int x = 0; x < 4; ++x)
            for (int y = 0; y < 4; ++y)
                pred[x][y] = n.left[y];
        return 0;
    case 2: {
        const int sa = n.above[0] + n.above[1] + n.above[2] + n.above[3];
        const int sl = n.left[0] + n.left[1] + n.left[2] + n.left[3];
        const int dc = (dc_avail & 3) == 3 ? (sa + sl + 4) >> 3
                       : dc_avail & 1      ? (sa + 2) >> 2
                       : dc_avail & 2      ? (sl + 2) >> 2
                                           : 128;
        for (int x = 0; x < 4; ++x)
            for (int y = 0; y < 4; ++y)
                pred[x][y] = dc;
        return 0;
    }
    default:
        break;
    }
    if (mode < 0 || mode > 8)
        return 1;
    int e[15];
    e[0] = n.left[3];
    for (int k = 0; k < 4; ++k)
        e[4 - k] = n.left[k];
    e[5] = n.corner;
    for (int k = 0; k < 8; ++k)
        e[6 + k] = n.above[k];
    e[14] = n.above[7];
    int t2[14], t3[14];
    for (int i = 0; i < 14; ++i)
        t2[i] = (e[i] + e[i + 1] + 1) >> 1;
    for (int i = 1; i < 14; ++i)
        t3[i] = (e[i - 1] + 2 * e[i] + e[i + 1] + 2) >> 2;
    const Tap(&table)[4][4] = kDirectional.tap[mode - 3];
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            const Tap t = table[y][x];
            pred[x][y] = t.kind == kTap3 ? t3[t.index] : t.kind == kTap2 ? t2[t.index] : e[t.index];
        }
    return 0;
}

int h264dec_pred16x16_kernel(int mode, const Intra16x16Neighbours &n, int pred[16][16])
{
    if (mode != 3)
        return h264dec_pred16x16_reference(mode, n, pred); // fills: nothing to gain
    auto top = [&](int i) { return i < 0 ? n.corner : n.above[i]; };
    auto side = [&](int i) { return i < 0 ? n.corner : n.left[i]; };
    int ih = 0, iv = 0;
    for (int k = 1; k <= 8; ++k) {
        ih += k * (top(7 + k) - top(7 - k));
        iv += k * (side(7 + k) - side(7 - k));
    }
    const int b = (5 * ih + 32) >> 6, c = (5 * iv + 32) >> 6;
    const int a = 16 * (n.left[15] + n.above[15]);
    // Walk the plane by adding the gradients; a sum below 0 clips to 0 whether it is divided or shifted.
    for (int x = 0; x < 16; ++x) {
        int v = a + b * (x - 7) - 7 * c + 16;
        for (int y = 0; y < 16; ++y, v += c)
            pred[x][y] = Clip255(v >> 5);
    }
    return 0;
}

bool h264dec_above_right_allowed(int x_in_mb, int y_in_mb, bool mbaff)
{
    const int x = x_in_mb % 16, y = y_in_mb % 16;
    if (mbaff && x == 12)
        return false;
    if (x == 4 && (y == 4 || y == 12))
        return false;
    if (x == 12 && (y == 4 || y == 8 || y == 12))
        return false;
    return true;
}

int h264dec_intra_pred_4x4(H264DecoderState &dec, int ioff, int joff, int block_x, int block_y)
{
    DecoderImage &img = dec.img;
    Array2D<int> *modesArr = img.intra_modes;
    if (img.MbaffFrameFlag && img.mb_field_flag)
        modesArr = &dec.mb_arrays.field_copy[img.current_mb_nr % 2 == 0 ? 0 : 1].intra_modes;
    Array2D<int> &modes = *modesArr;
    const int mode = modes[block_x + 1][block_y + 1];
    if (mode < 0 || mode > 8) {
        IllegalMode(dec, mode);
        return 1;
    }
    const bool above = modes[block_x + 1][block_y] >= 0;
    const bool left = modes[block_x][block_y + 1] >= 0;
    bool aboveRight = block_x + 2 < modes.Rows() && modes[block_x + 2][block_y] >= 0;
    const int px = img.pix_x + ioff, py = img.pix_y + joff;
    if (!h264dec_above_right_allowed(px, py, img.MbaffFrameFlag != 0))
        aboveRight = false;
    h264dec_paint_intra4x4_glyph(dec, mode, px, py);

    const Array2D<uint8_t> &pic = *dec.cur_pic_y;
    Intra4x4Neighbours n;
    for (int k = 0; k < 4; ++k) {
        n.above[k] = above ? pic[py - 1][px + k] : 128;
        n.left[k] = left ? pic[py + k][px - 1] : 128;
    }
    for (int k = 4; k < 8; ++k)
        n.above[k] = !above ? 128 : aboveRight ? pic[py - 1][px + k] : n.above[3];
    n.corner = above && left ? pic[py - 1][px - 1] : 128;

    int pred[4][4];
    h264dec_pred4x4_kernel(mode, n, (above ? 1 : 0) | (left ? 2 : 0), pred);
    for (int x = 0; x < 4; ++x)
        for (int y = 0; y < 4; ++y)
            img.pred_block[ioff + x][joff + y] = pred[x][y];
    return 0;
}

int h264dec_intra_pred_16x16(H264DecoderState &dec, int mode)
{
    DecoderImage &img = dec.img;
    if (mode < 0 || mode > 3) {
        IllegalMode(dec, mode);
        return 1;
    }
    const int wMbs = img.width / 16;
    const auto &mbs = *img.mb_data;
    const int addr = img.mb_index;
    const int slice = mbs[static_cast<size_t>(addr)].slice_number;
    // A field macroblock of an MBAFF frame (in its field view, where mb_y and pix_y already count the
    // pair's field rows) reads the rows of its field above the pair.
    const int row = img.pix_y;
    bool up = img.mb_y != 0;
    const int aboveAddr = addr - wMbs;
    up = up && aboveAddr >= 0 && mbs[static_cast<size_t>(aboveAddr)].slice_number == slice;
    bool left = img.mb_x != 0 && mbs[static_cast<size_t>(addr - 1)].slice_number == slice;
    if (img.constrained_intra_pred_flag && img.intra_block) {
        const auto &ib = *img.intra_block;
        if (up)
            up = ib[static_cast<size_t>(aboveAddr)][2] && ib[static_cast<size_t>(aboveAddr)][3];
        if (left)
            left = ib[static_cast<size_t>(addr - 1)][1] && ib[static_cast<size_t>(addr - 1)][3];
    }

    // Vertical, horizontal and plane read their neighbours regardless; reads outside the plane take
    // the nearest sample so that a stream asking for a missing side cannot reach outside it.
    const Array2D<uint8_t> &pic = *dec.cur_pic_y;
    auto sample = [&](int y, int x) {
        y = std::clamp(y, 0, pic.Rows() - 1);
        x = std::clamp(x, 0, pic.Cols() - 1);
        return static_cast<int>(pic[y][x]);
    };
    Intra16x16Neighbours n;
    for (int k = 0; k < 16; ++k) {
        n.above[k] = sample(row - 1, img.pix_x + k);
        n.left[k] = sample(row + k, img.pix_x - 1);
    }
    n.corner = sample(row - 1, img.pix_x - 1);
    n.above_ok = up;
    n.left_ok = left;
    h264dec_paint_intra16x16_glyph(dec, mode, img.pix_x, row);
    return h264dec_pred16x16_kernel(mode, n, img.pred_block);
}
