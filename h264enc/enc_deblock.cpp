// Deblocking of the encoder's reconstruction. Strength 4 at intra macroblock edges (strong filter), 3
// inside intra macroblocks, 2 beside a block with coefficients, 1 where references or vectors differ by
// a whole sample or more, 0 (untouched) elsewhere; the averaged quantiser picks the thresholds.
#include "h264enc/enc_deblock.h"

#include "h264dec/deblock.h"
#include "h264dec/macroblock.h"
#include "h264enc/enc_state.h"

#include <algorithm>
#include <cstdlib>

namespace h264enc {

namespace {

bool IsI4OrI16(const MacroblockRecord &mb)
{
    return mb.mb_mode == kModeI4 || mb.mb_mode == kModeI16;
}

bool VectorsDiffer(const std::array<int, 2> &a, const std::array<int, 2> &b)
{
    return std::abs(a[0] - b[0]) >= 4 || std::abs(a[1] - b[1]) >= 4;
}

using EdgeFilterFn = void (*)(uint8_t *, const int *, int, int, int, int, int, bool);

template <EdgeFilterFn Filter>
void DeblockMacroblock(const EncoderImage &img, Array2D<uint8_t> &luma, Array3D<uint8_t> *chroma, int mb_row,
                       int mb_col)
{
    const int w = img.WidthMbs();
    const MacroblockRecord &q = img.mb_data[static_cast<size_t>(mb_row * w + mb_col)];
    if (q.lf_disable)
        return; // its own edges stay, but the macroblocks right and below still filter theirs with it
    const int width = luma.cols();
    const bool haveChroma = chroma && chroma->frames() >= 2;
    for (int dir = 0; dir < 2; ++dir)
        for (int edge = 0; edge < 4; ++edge) {
            if (edge == 0 && (dir == 0 ? mb_col == 0 : mb_row == 0))
                continue; // picture edges are never filtered
            const MacroblockRecord &p =
                edge != 0 ? q
                          : img.mb_data[static_cast<size_t>(dir == 0 ? mb_row * w + mb_col - 1
                                                                     : (mb_row - 1) * w + mb_col)];
            int strength[4];
            edge_strength(strength, img, p, q, dir, edge, 4 * mb_row, 4 * mb_col);
            if (!(strength[0] | strength[1] | strength[2] | strength[3]))
                continue;
            // The average without the final standard's rounding, as the decoder takes it.
            const int qp = (p.qp + q.qp) >> 1;
            const int px = 16 * mb_col + (dir == 0 ? 4 * edge : 0),
                      py = 16 * mb_row + (dir == 0 ? 0 : 4 * edge);
            Filter(&luma[py][px], strength, qp, q.lf_alpha_c0_offset, q.lf_beta_offset, dir, width, false);
            if (haveChroma && (edge == 0 || edge == 2)) {
                const int cqp = kChromaQp[std::clamp(qp, 0, 51)];
                const int cx = 8 * mb_col + (dir == 0 ? 2 * edge : 0),
                          cy = 8 * mb_row + (dir == 0 ? 0 : 2 * edge);
                for (int c = 0; c < 2; ++c) {
                    Array2D<uint8_t> &plane = (*chroma)[c];
                    Filter(&plane[cy][cx], strength, cqp, q.lf_alpha_c0_offset, q.lf_beta_offset, dir,
                           plane.cols(), true);
                }
            }
        }
}

template <EdgeFilterFn Filter>
void DeblockPicture(const EncoderImage &img, Array2D<uint8_t> &luma, Array3D<uint8_t> *chroma)
{
    const int w = img.WidthMbs(), h = img.height / 16;
    for (int row = 0; row < h; ++row)
        for (int col = 0; col < w; ++col)
            DeblockMacroblock<Filter>(img, luma, chroma, row, col);
}

} // namespace

void edge_strength(int strength[4], const EncoderImage &img, const MacroblockRecord &p,
                   const MacroblockRecord &q, int dir, int edge, int blk4_y, int blk4_x)
{
    const int start = edge == 0 ? 4 : 3;
    const bool sp = img.type == kTypeSP || img.sp_mode == kSpMode;
    const bool b = img.type == kTypeB || img.type == kTypeStoredB;
    const MotionMaps &m = img.maps;
    if (sp || IsI4OrI16(p) || IsI4OrI16(q)) {
        strength[0] = strength[1] = strength[2] = strength[3] = start;
        return;
    }
    for (int i = 0; i < 4; ++i) {
        const int qc = dir == 0 ? edge : i, qr = dir == 0 ? i : edge;
        const int pc = dir == 0 ? (qc + 3) % 4 : qc, pr = dir == 0 ? qr : (qr + 3) % 4;
        const int xq = blk4_x + qc, yq = blk4_y + qr;
        const size_t atQ = m.At(xq, yq), atP = dir == 0 ? m.At(xq - 1, yq) : m.At(xq, yq - 1);
        if (((q.coded_block_bits >> (4 * qr + qc)) & 1) || ((p.coded_block_bits >> (4 * pr + pc)) & 1)) {
            strength[i] = 2;
        } else if (b) {
            // List by list, including the values of a direction a block does not use.
            strength[i] = VectorsDiffer(m.fw_mv_map[atP], m.fw_mv_map[atQ]) ||
                                  VectorsDiffer(m.bw_mv_map[atP], m.bw_mv_map[atQ]) ||
                                  m.fw_ref_map[atP] != m.fw_ref_map[atQ] ||
                                  m.bw_ref_map[atP] != m.bw_ref_map[atQ]
                              ? 1
                              : 0;
        } else {
            strength[i] =
                VectorsDiffer(m.mv_map[atP], m.mv_map[atQ]) || m.ref_map[atP] != m.ref_map[atQ] ? 1 : 0;
        }
    }
}

void edge_filter(uint8_t *first, const int strength[4], int qp, int alpha_offset, int beta_offset, int dir,
                 int width, bool chroma)
{
    dec_edge_filter(first, strength, qp, alpha_offset, beta_offset, dir, width, chroma);
}

void deblock_macroblock(const EncoderImage &img, Array2D<uint8_t> &luma, Array3D<uint8_t> *chroma, int mb_row,
                        int mb_col)
{
    DeblockMacroblock<dec_edge_filter>(img, luma, chroma, mb_row, mb_col);
}

void deblock_picture(const EncoderImage &img, Array2D<uint8_t> &luma, Array3D<uint8_t> *chroma)
{
    DeblockPicture<dec_edge_filter>(img, luma, chroma);
}

void deblock_picture_reference(const EncoderImage &img, Array2D<uint8_t> &luma, Array3D<uint8_t> *chroma)
{
    DeblockPicture<dec_edge_filter_reference>(img, luma, chroma);
}

} // namespace h264enc
