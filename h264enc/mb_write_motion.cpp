// Motion of an inter macroblock: the reference index of each partition that predicts from a list, then
// each partition's vectors as differences to their predictions, list 0 before list 1. Indices are sent
// exactly when the decoder reads them, that is when the list has more than one active reference.
#include "h264enc/mb_write.h"

#include "h264dec/decoder_records.h"
#include "h264enc/cabac_write.h"
#include "h264enc/enc_run.h"

namespace h264enc {

namespace {

bool FieldMacroblock(const EncoderImage &img, const MacroblockRecord &mb)
{
    return img.mbaff && mb.field_pair_flag;
}

// Active references of a list as the decoder counts them for this macroblock: a field macroblock of a
// macroblock-adaptive frame has twice the forward ones.
int ActiveRefs(const EncoderImage &img, const MacroblockRecord &mb, bool forward)
{
    if (!forward)
        return img.stored_b_ref + 1;
    return (img.num_ref_minus1 + 1) * (FieldMacroblock(img, mb) ? 2 : 1);
}

bool UsesList(const MacroblockRecord &mb, int quarter, int list)
{
    const int d = mb.quarter_dir[static_cast<size_t>(quarter)];
    return mb.quarter_mode[static_cast<size_t>(quarter)] != kSubDirect && (d == 2 || d == list);
}

// Calls f(x, y, quarter, width, height) for every partition block of the mode, in raster order, in 4x4
// blocks (an 8x8 split walks its quarters).
template <class F> void ForPartitions(const MacroblockRecord &mb, F f)
{
    const int mode = mb.mb_mode == kMode8x8 ? kSub8x8 : mb.mb_mode;
    const int sx = kBlockStep[mode][0], sy = kBlockStep[mode][1];
    for (int j = 0; j < 4; j += sy)
        for (int i = 0; i < 4; i += sx)
            f(i, j, 2 * (j / 2) + i / 2, sx, sy);
}

// The macroblock's own index and vector of list `list` at its 4x4 block (i, j).
int OwnRef(const EncoderImage &img, int list, int i, int j)
{
    const OwnMotionView v = OwnMotion(img);
    const MotionMaps &m = *v.maps;
    const std::vector<int> &refs = list == 1 ? m.bw_ref_map : IsB(img) ? m.fw_ref_map : m.ref_map;
    return refs[m.At(4 * img.mb_x + i, v.row + j)];
}

const std::array<int, 2> &OwnMv(const EncoderImage &img, int list, int i, int j)
{
    const OwnMotionView v = OwnMotion(img);
    const MotionMaps &m = *v.maps;
    const std::vector<std::array<int, 2>> &mvs = list == 1 ? m.bw_mv_map : IsB(img) ? m.fw_mv_map : m.mv_map;
    return mvs[m.At(4 * img.mb_x + i, v.row + j)];
}

} // namespace

int write_ref_idx(EncoderRun &run, int mode, int x, int y, int forward, int value)
{
    EncoderImage &img = run.img;
    MacroblockRecord &mb = img.CurrentMb();
    const int active = ActiveRefs(img, mb, forward != 0);
    if (active <= 1)
        return 0;
    // The decoder exchanges the indices of a field pair in field pictures, and backward indices 0 and
    // 1 when two or more are active; the inverse goes out.
    int v = value;
    if (img.field_picture)
        v ^= 1;
    if (!forward && active >= 2 && v <= 1)
        v = 1 - v;
    SyntaxItem item;
    item.category = IsB(img) ? SE_BFRAME : SE_REFFRAME;
    item.value = v;
    item.second_value = mode >= kSub8x8 && mode <= kSub4x4 ? 1 : 0;
    item.write_fn = forward ? cabac_write_ref_fwd : cabac_write_ref_bwd;
    img.subblock_x = x;
    img.subblock_y = y;
    const int bits = write_syntax_element(run, item);
    mb.bit_counts[kBitsVectors] += bits;
    return bits;
}

int write_mvd(EncoderRun &run, int x0, int y0, int width, int height, int list, int sub_mode)
{
    EncoderImage &img = run.img;
    MacroblockRecord &mb = img.CurrentMb();
    const int stepX = kBlockStep[sub_mode][0], stepY = kBlockStep[sub_mode][1];
    const bool isB = IsB(img);
    int bits = 0;
    for (int jj = y0; jj < y0 + height; jj += stepY)
        for (int ii = x0; ii < x0 + width; ii += stepX) {
            const std::array<int, 2> &v = OwnMv(img, list, ii, jj);
            int d[2];
            for (int c = 0; c < 2; ++c) {
                d[c] = v[static_cast<size_t>(c)] - mb.mv_pred[list][jj][ii][c];
                SyntaxItem item;
                item.category = isB ? SE_BFRAME : SE_MVD;
                item.value = d[c];
                item.second_value = isB ? 2 * c + list : c;
                item.map = map_se;
                item.write_fn = isB ? cabac_write_mvd_bi : cabac_write_mvd;
                img.subblock_x = ii;
                img.subblock_y = jj;
                bits += write_syntax_element(run, item);
            }
            // Later blocks choose their contexts from these differences.
            for (int b = jj; b < jj + stepY; ++b)
                for (int a = ii; a < ii + stepX; ++a) {
                    mb.mv_diff[list][b][a][0] = d[0];
                    mb.mv_diff[list][b][a][1] = d[1];
                }
        }
    mb.bit_counts[kBitsVectors] += bits;
    return bits;
}

int write_macroblock_motion(EncoderRun &run)
{
    EncoderImage &img = run.img;
    MacroblockRecord &mb = img.CurrentMb();
    const int mode = mb.mb_mode;
    if (mode != kMode16x16 && mode != kMode16x8 && mode != kMode8x16 && mode != kMode8x8)
        return 0;
    const bool isB = IsB(img);
    const bool cabac = run.input.SymbolMode != 0;
    int bits = 0;
    const bool allZeroType = mode == kMode8x8 && !cabac && !isB && all_refs_zero(img);
    if (ActiveRefs(img, mb, true) > 1 && !allZeroType)
        ForPartitions(mb, [&](int i, int j, int q, int, int) {
            if (UsesList(mb, q, 0))
                bits += write_ref_idx(run, mode == kMode8x8 ? mb.quarter_mode[static_cast<size_t>(q)] : mode,
                                      i, j, 1, OwnRef(img, 0, i, j));
        });
    if (isB && ActiveRefs(img, mb, false) > 1)
        ForPartitions(mb, [&](int i, int j, int q, int, int) {
            if (UsesList(mb, q, 1))
                bits += write_ref_idx(run, mode == kMode8x8 ? mb.quarter_mode[static_cast<size_t>(q)] : mode,
                                      i, j, 0, OwnRef(img, 1, i, j));
        });
    for (int list = 0; list < (isB ? 2 : 1); ++list)
        ForPartitions(mb, [&](int i, int j, int q, int sx, int sy) {
            if (UsesList(mb, q, list))
                bits += write_mvd(run, i, j, sx, sy, list,
                                  mode == kMode8x8 ? mb.quarter_mode[static_cast<size_t>(q)] : mode);
        });
    return bits;
}

} // namespace h264enc
