// Motion maps of macroblock-adaptive frames in two forms: the frame's rows, and one form per field in
// field rows. A field macroblock predicts its vectors in its field's form; after each macroblock its
// blocks are carried into the other form as the decoder carries them (vertical components halved or
// doubled, reference indices doubled or halved), so every later macroblock reads what the decoder reads.
#include "h264enc/enc_run.h"

namespace h264enc {

namespace {

int DoubledRef(int r)
{
    return r < 0 ? r : 2 * r;
}
int HalvedRef(int r)
{
    return r < 0 ? r : r / 2;
}

// Copies block (x, row `from`) of `src` to (x, row `to`) of `dst`; `toField` picks the scaling. A B
// picture's P-list maps hold the co-located motion of its backward reference in each form, which the
// macroblocks leave alone.
void CarryBlock(const EncoderImage &img, const MotionMaps &src, int from, MotionMaps &dst, int to, int x,
                bool toField)
{
    const size_t a = src.At(x, from), b = dst.At(x, to);
    auto ref = [toField](int r) { return toField ? DoubledRef(r) : HalvedRef(r); };
    auto mv = [toField](const std::array<int, 2> &v) {
        return std::array<int, 2>{v[0], toField ? v[1] / 2 : 2 * v[1]};
    };
    if (!IsB(img)) {
        dst.ref_map[b] = ref(src.ref_map[a]);
        dst.mv_map[b] = mv(src.mv_map[a]);
    }
    dst.fw_ref_map[b] = ref(src.fw_ref_map[a]);
    dst.bw_ref_map[b] = ref(src.bw_ref_map[a]);
    dst.fw_mv_map[b] = mv(src.fw_mv_map[a]);
    dst.bw_mv_map[b] = mv(src.bw_mv_map[a]);
}

MotionEntry EntryAt(const MotionMaps &m, int x, int y)
{
    const size_t at = m.At(x, y);
    return {m.ref_map[at], m.fw_ref_map[at], m.bw_ref_map[at],
            m.mv_map[at],  m.fw_mv_map[at],  m.bw_mv_map[at]};
}

void PutEntry(MotionMaps &m, int x, int y, const MotionEntry &e)
{
    const size_t at = m.At(x, y);
    m.ref_map[at] = e.ref;
    m.fw_ref_map[at] = e.fw_ref;
    m.bw_ref_map[at] = e.bw_ref;
    m.mv_map[at] = e.mv;
    m.fw_mv_map[at] = e.fw_mv;
    m.bw_mv_map[at] = e.bw_mv;
}

// Calls f(maps, x, y, k) for the 64 blocks of the current pair: its 8 frame block rows, then the 4
// rows of each field.
template <class M, class F> void ForPairBlocks(M &img, F f)
{
    const int x0 = 4 * img.mb_x, pair = img.mb_y / 2;
    int k = 0;
    for (int y = 8 * pair; y < 8 * pair + 8; ++y)
        for (int x = x0; x < x0 + 4; ++x)
            f(img.maps, x, y, k++);
    for (auto &field : img.field_maps)
        for (int y = 4 * pair; y < 4 * pair + 4; ++y)
            for (int x = x0; x < x0 + 4; ++x)
                f(field, x, y, k++);
}

} // namespace

void mbaff_motion_to_fields(EncoderImage &img)
{
    for (int j = 0; j < 4; ++j) {
        const int fy = 4 * img.mb_y + j;
        for (int i = 0; i < 4; ++i)
            CarryBlock(img, img.maps, fy, img.field_maps[fy % 2], fy / 2, 4 * img.mb_x + i, true);
    }
}

void mbaff_motion_to_frame(EncoderImage &img)
{
    const int parity = img.mb_y % 2, pair = img.mb_y / 2;
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i)
            CarryBlock(img, img.field_maps[parity], 4 * pair + j, img.maps, 8 * pair + 2 * j + parity,
                       4 * img.mb_x + i, false);
}

void save_pair_motion(const EncoderImage &img, std::array<MotionEntry, 64> &into)
{
    ForPairBlocks(img, [&](const MotionMaps &m, int x, int y, int k) {
        into[static_cast<size_t>(k)] = EntryAt(m, x, y);
    });
}

void restore_pair_motion(EncoderImage &img, const std::array<MotionEntry, 64> &from)
{
    ForPairBlocks(
        img, [&](MotionMaps &m, int x, int y, int k) { PutEntry(m, x, y, from[static_cast<size_t>(k)]); });
}

} // namespace h264enc
