// Analysis records and the reconstruction hooks that fill them. The block-division colours tell the
// macroblock kinds apart at a glance: white for skipped and direct, yellow-green for one-direction
// inter, blue-ish for intra (the views' legend names them).
#include "h264dec/decoder_analysis.h"

#include "h264dec/decoder_state.h"
#include "platform/format.h"
#include "platform/messages.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int kMbModeMessage = 2; // bit of recon_messages_shown

void Fill(Array2D<uint8_t> &p, uint8_t v)
{
    if (p.HasData())
        std::memset(p.Data(), v, static_cast<size_t>(p.Rows()) * static_cast<size_t>(p.Cols()));
}

// Paints one block-division pixel; u or v below 0 leave that plane alone.
struct Overlay
{
    DecoderAnalysis &a;
    int u, v;
    void Pixel(int y, int x) const
    {
        if (y < 0 || x < 0 || y >= a.vis_bdiv_y.Rows() || x >= a.vis_bdiv_y.Cols())
            return;
        a.overlays_dirty = true;
        a.vis_bdiv_y[y][x] = 255;
        if (u >= 0)
            a.vis_bdiv_uv[0][y][x] = static_cast<uint8_t>(u);
        if (v >= 0)
            a.vis_bdiv_uv[1][y][x] = static_cast<uint8_t>(v);
    }
    void Row(int y, int x0, int n) const
    {
        for (int k = 0; k < n; ++k)
            Pixel(y, x0 + k);
    }
    void Column(int x, int y0, int n) const
    {
        for (int k = 0; k < n; ++k)
            Pixel(y0 + k, x);
    }
    void Border(int y0, int x0, int n) const
    {
        Row(y0, x0, n);
        Row(y0 + n - 1, x0, n);
        Column(x0, y0, n);
        Column(x0 + n - 1, y0, n);
    }
};

void VecPixel(H264DecoderState &dec, int y, int x, bool coloured, uint8_t luma, uint8_t chroma)
{
    DecoderAnalysis &a = dec.analysis;
    if (y < 0 || x < 0 || y >= a.vis_vec_y.Rows() || x >= a.vis_vec_y.Cols())
        return;
    a.overlays_dirty = true;
    a.vis_vec_y[y][x] = luma;
    if (coloured)
        a.vis_vec_uv[0][y][x] = chroma;
}

bool GlyphsOn(const H264DecoderState &dec)
{
    return dec.analysis.intra_shown && dec.analysis.vis_vec_y.HasData();
}

} // namespace

void dec_alloc_analysis(DecoderAnalysis &a, int width, int height)
{
    dec_get_mem2D(a.vis_vec_y, height, width);
    dec_get_mem2D(a.vis_bdiv_y, height, width);
    dec_get_mem2D(a.vis_intra_mark, height, width);
    dec_get_mem2D(a.vis_residual_y, height, width);
    dec_get_mem3D(a.vis_vec_uv, 2, height, width);
    dec_get_mem3D(a.vis_bdiv_uv, 2, height, width);
    dec_get_mem2Dint(a.mb_bits, height / 16, width / 16);
    a.overlays_dirty = true; // the colour planes start at 127, not at the allocation's 0
    dec_reset_analysis_planes(a);
    a.mb_bits_max = a.mb_bits_sequence_max = 0;
    std::fill(std::begin(a.mb_mode_count), std::end(a.mb_mode_count), 0);
    std::fill(std::begin(a.mb_mode_count_total), std::end(a.mb_mode_count_total), 0);
}

void dec_reset_analysis_planes(DecoderAnalysis &a)
{
    if (!a.overlays_dirty)
        return;
    a.overlays_dirty = false;
    Fill(a.vis_vec_y, 0);
    Fill(a.vis_bdiv_y, 0);
    Fill(a.vis_intra_mark, 0);
    for (int c = 0; c < a.vis_vec_uv.Frames(); ++c)
        Fill(a.vis_vec_uv[c], 127);
    for (int c = 0; c < a.vis_bdiv_uv.Frames(); ++c)
        Fill(a.vis_bdiv_uv[c], 127);
}

void dec_clear_picture_counters(H264DecoderState &dec)
{
    std::fill(std::begin(dec.analysis.mb_mode_count), std::end(dec.analysis.mb_mode_count), 0);
    dec.analysis.mb_bits_max = 0;
    dec.counters.mb_bits_count = 0;
}

void h264dec_count_macroblock(H264DecoderState &dec, const DecoderMacroblock &mb)
{
    DecoderAnalysis &a = dec.analysis;
    const DecoderImage &img = dec.img;
    auto count = [&](int k) {
        ++a.mb_mode_count[k];
        ++a.mb_mode_count_total[k];
    };
    const bool paint = a.paint && a.vis_bdiv_y.HasData();
    const int X = img.pix_x, Y = img.pix_y;
    const int uInter = mb.sub_pred_dir[0] < 2 ? 0 : -1;
    switch (mb.mb_type) {
    case kMbSkipOrDirect:
        count(kCountDirect);
        if (paint)
            Overlay{a, 255, 255}.Border(Y, X, 16);
        break;
    case kMb16x16:
    case kMb16x8:
    case kMb8x16: {
        count(mb.mb_type == kMb16x16 ? kCount16x16 : mb.mb_type == kMb16x8 ? kCount16x8 : kCount8x16);
        if (!paint)
            break;
        const Overlay o{a, uInter, 0};
        o.Border(Y, X, 16);
        if (mb.mb_type == kMb16x8) {
            o.Row(Y + 7, X, 16);
            o.Row(Y + 8, X, 16);
        } else if (mb.mb_type == kMb8x16) {
            o.Column(X + 7, Y, 16);
            o.Column(X + 8, Y, 16);
        }
        break;
    }
    case kMb8x8:
        for (int q = 0; q < 4; ++q) {
            const int s = mb.sub_mode[q];
            count(s == kSub8x4 ? kCount8x4 : s == kSub4x8 ? kCount4x8 : s == kSub4x4 ? kCount4x4 : kCount8x8);
            if (!paint)
                continue;
            const Overlay o{a, mb.sub_pred_dir[q] < 2 ? 0 : -1, 0};
            const int qx = X + 8 * (q % 2), qy = Y + 8 * (q / 2);
            o.Border(qy, qx, 8);
            if (s == kSub8x4 || s == kSub4x4) {
                o.Row(qy + 3, qx, 8);
                o.Row(qy + 4, qx, 8);
            }
            if (s == kSub4x8 || s == kSub4x4) {
                o.Column(qx + 3, qy, 8);
                o.Column(qx + 4, qy, 8);
            }
        }
        break;
    case kMbIntra4x4:
    case kMbSI:
    case kMbIntra16x16: {
        count(mb.mb_type == kMbIntra16x16 ? kCountIntra16x16 : kCountIntra4x4);
        if (!paint)
            break;
        const Overlay o{a, 0, -1};
        if (mb.mb_type == kMbIntra16x16) {
            o.Border(Y, X, 16);
        } else {
            for (int k : {0, 3, 4, 7, 8, 11, 12, 15}) {
                o.Row(Y + k, X, 16);
                o.Column(X + k, Y, 16);
            }
        }
        a.overlays_dirty = true;
        for (int y = Y; y < std::min(Y + 16, a.vis_intra_mark.Rows()); ++y)
            for (int x = X; x < std::min(X + 16, a.vis_intra_mark.Cols()); ++x)
                a.vis_intra_mark[y][x] = 127;
        break;
    }
    default:
        if (!(dec.recon_messages_shown & kMbModeMessage)) {
            dec.recon_messages_shown |= kMbModeMessage;
            zn::ShowMessage(zn::Format("Error in MB mode - %d", mb.mb_type), zn::MsgButtons::Ok,
                            zn::MsgIcon::Error);
        }
        break;
    }
}

void h264dec_store_mb_bits(H264DecoderState &dec)
{
    DecoderAnalysis &a = dec.analysis;
    const DecoderImage &img = dec.img;
    const int bits = dec.counters.mb_bits_count;
    if (img.mb_y >= 0 && img.mb_y < a.mb_bits.Rows() && img.mb_x >= 0 && img.mb_x < a.mb_bits.Cols())
        a.mb_bits[img.mb_y][img.mb_x] = bits;
    a.mb_bits_max = std::max(a.mb_bits_max, bits);
    a.mb_bits_sequence_max = std::max(a.mb_bits_sequence_max, a.mb_bits_max);
    dec.counters.mb_bits_count = 0;
}

void h264dec_paint_intra4x4_glyph(H264DecoderState &dec, int mode, int x, int y)
{
    if (!GlyphsOn(dec) || mode < 0 || mode > 8)
        return;
    // (row, column) pixels of each direction, relative to the block's top-left pixel.
    static const int kGlyph[9][8][2] = {
        {{0, 1}, {1, 1}, {2, 1}, {3, 1}, {2, 0}, {2, 2}, {-1, -1}, {-1, -1}},
        {{1, 0}, {1, 1}, {1, 2}, {1, 3}, {0, 2}, {2, 2}, {-1, -1}, {-1, -1}},
        {{1, 1}, {-1, -1}, {-1, -1}, {-1, -1}, {-1, -1}, {-1, -1}, {-1, -1}, {-1, -1}},
        {{0, 3}, {1, 2}, {2, 1}, {3, 1}, {3, 2}, {1, 0}, {2, 0}, {3, 0}},
        {{0, 0}, {1, 1}, {2, 2}, {3, 1}, {3, 2}, {1, 3}, {2, 3}, {3, 3}},
        {{0, 0}, {1, 1}, {2, 1}, {2, 2}, {3, 2}, {-1, -1}, {-1, -1}, {-1, -1}},
        {{0, 0}, {1, 1}, {1, 2}, {2, 2}, {2, 3}, {-1, -1}, {-1, -1}, {-1, -1}},
        {{0, 3}, {1, 2}, {2, 2}, {2, 1}, {3, 1}, {-1, -1}, {-1, -1}, {-1, -1}},
        {{3, 0}, {2, 1}, {2, 2}, {1, 2}, {1, 3}, {-1, -1}, {-1, -1}, {-1, -1}},
    };
    const bool coloured = dec.analysis.intra_colored;
    for (const auto &p : kGlyph[mode])
        if (p[0] >= 0)
            VecPixel(dec, y + p[0], x + p[1], coloured, 255, 0);
}

void h264dec_paint_intra16x16_glyph(H264DecoderState &dec, int mode, int x, int y)
{
    if (!GlyphsOn(dec) || mode < 0 || mode > 3)
        return;
    const bool coloured = dec.analysis.intra_colored;
    auto lit = [&](int r, int c) { VecPixel(dec, y + r, x + c, coloured, 255, 0); };
    auto end = [&](int r, int c) { VecPixel(dec, y + r, x + c, coloured, 0, 127); };
    switch (mode) {
    case 0:
        for (const auto &p : {std::pair{12, 5}, {12, 6}, {12, 8}, {12, 9}, {13, 6}, {13, 8}})
            lit(p.first, p.second);
        for (int r = 0; r < 16; ++r)
            lit(r, 7);
        end(0, 7);
        end(15, 7);
        break;
    case 1:
        for (const auto &p : {std::pair{6, 12}, {7, 12}, {9, 12}, {10, 12}, {7, 13}, {9, 13}})
            lit(p.first, p.second);
        for (int c = 0; c < 16; ++c)
            lit(8, c);
        end(8, 0);
        end(8, 15);
        break;
    case 2:
        for (const auto &p : {std::pair{7, 7}, {7, 8}, {8, 7}, {8, 8}})
            lit(p.first, p.second);
        break;
    default:
        for (const auto &p : {std::pair{1, 12},
                              {1, 13},
                              {1, 14},
                              {14, 1},
                              {14, 2},
                              {14, 3},
                              {12, 1},
                              {13, 1},
                              {2, 14},
                              {3, 14}})
            lit(p.first, p.second);
        for (int k = 0; k < 16; ++k)
            lit(k, 15 - k);
        end(0, 15);
        end(15, 0);
        break;
    }
}
