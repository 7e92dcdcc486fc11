// Macroblock pairs of a macroblock-adaptive frame. A field macroblock is decided and coded in the view
// of its field (the field's planes, intra mode map and motion maps, its pair's row counted in field
// macroblocks), as the decoder reconstructs it; after every macroblock the other form of the picture
// is brought up to date. Each pair is coded as two frame and as two field macroblocks, each coding
// kept aside, and the cheaper one is put back for the writer.
#include "h264enc/enc_run.h"
#include "h264enc/mb_predict.h"
#include "h264enc/mode_decision.h"
#include "h264enc/rd_decision.h"

#include <algorithm>

namespace h264enc {

namespace {

// Calls f(row pointer, width) for the pair's luma rows, then its U and V rows, top to bottom.
template <class F> void ForPairRows(EncoderRun &run, F f)
{
    const EncoderImage &img = run.img;
    const int top = 32 * (img.mb_y / 2), x = img.luma_x();
    for (int y = top; y < top + 32; ++y)
        f(run.rec->y[y] + x, 16);
    for (int uv = 0; uv < 2; ++uv)
        for (int y = top / 2; y < top / 2 + 16; ++y)
            f(run.rec->uv[uv][y] + x / 2, 8);
}

// Frame 4x4-block row fy of the intra mode map is row fy / 2 of its parity's field map; a field
// macroblock's row j of the pair is frame row 2j + parity.
void IntraModesToField(EncoderRun &run, int fy, int bx0)
{
    MbaffViews &v = run.rd.mbaff;
    Array2D<int> &frame = run.img.intra_pred_modes;
    for (int i = 0; i < 4; ++i)
        v.ipred[fy % 2][fy / 2 + 1][bx0 + i + 1] = frame[fy + 1][bx0 + i + 1];
}

// Frame rows y0.. (rows of them) of the luma, and the matching chroma rows, into the field planes.
void SamplesToFields(EncoderRun &run, int y0, int rows, int x0)
{
    MbaffViews &v = run.rd.mbaff;
    const PictureBuffers &f = run.rec_frame;
    for (int y = y0; y < y0 + rows; ++y)
        std::copy(f.y[y] + x0, f.y[y] + x0 + 16, v.rec[y % 2].y[y / 2] + x0);
    for (int uv = 0; uv < 2; ++uv)
        for (int y = y0 / 2; y < (y0 + rows) / 2; ++y)
            std::copy(f.uv[uv][y] + x0 / 2, f.uv[uv][y] + x0 / 2 + 8, v.rec[y % 2].uv[uv][y / 2] + x0 / 2);
}

void PrepareViews(EncoderRun &run)
{
    MbaffViews &v = run.rd.mbaff;
    EncoderImage &img = run.img;
    if (v.width != img.width || v.height != img.height) {
        v.width = img.width;
        v.height = img.height;
        for (int p = 0; p < 2; ++p) {
            v.org[p].allocate(img.width, img.height / 2, "mbaff: field planes");
            v.rec[p].allocate(img.width, img.height / 2, "mbaff: field planes");
            v.ipred[p].allocate(img.height / 8 + 3, img.width / 4 + 3, "mbaff: field intra modes");
            for (int r = 0; r < v.ipred[p].rows(); ++r)
                std::fill(v.ipred[p][r], v.ipred[p][r] + v.ipred[p].cols(), -1);
        }
    }
    for (MotionMaps &m : run.img.field_maps)
        if (m.cols != img.width / 4 || m.rows != img.height / 8)
            m.allocate(img.width / 4, img.height / 8);
    // The picture's source, split into its fields.
    const PictureBuffers &o = run.org_frame;
    for (int y = 0; y < img.height; ++y)
        std::copy(o.y[y], o.y[y] + img.width, v.org[y % 2].y[y / 2]);
    for (int uv = 0; uv < 2; ++uv)
        for (int y = 0; y < img.height / 2; ++y)
            std::copy(o.uv[uv][y], o.uv[uv][y] + img.width / 2, v.org[y % 2].uv[uv][y / 2]);
}

// The field view's intra mode map is cut off beside the macroblock like the frame's, but against the
// lower macroblock of the pair above and the macroblock to the left (pairs never straddle slices).
void FieldIntraBorders(EncoderRun &run, int real_mb_y)
{
    EncoderImage &img = run.img;
    const int m = img.mb_index, w = img.WidthMbs();
    const int bx = 4 * img.mb_x, gy = 4 * (real_mb_y / 2);
    Array2D<int> &modes = img.intra_pred_modes; // the field map while the view is on
    auto same = [&](int n) {
        return n >= 0 && n < static_cast<int>(img.mb_data.size()) &&
               img.mb_data[static_cast<size_t>(n)].slice_index == img.CurrentMb().slice_index;
    };
    // Under constrained intra prediction a neighbour's half that is not intra is cut off as well.
    const bool constrained = run.input.UseConstrainedIntraPred != 0;
    auto usable = [&](int n, int quadrant) {
        return same(n) && (!constrained || quadrant_intra(run, n, quadrant));
    };
    if (img.mb_x > 0)
        for (int j = 0; j < 4; ++j)
            if (!usable(m - 1, j < 2 ? 1 : 3))
                modes[gy + j + 1][bx] = -1;
    const int above = m - w * (real_mb_y % 2 == 0 ? 1 : 2);
    if (real_mb_y >= 2)
        for (int i = 0; i < 4; ++i)
            if (!usable(above, i < 2 ? 2 : 3))
                modes[gy][bx + i + 1] = -1;
}

// The pair's count rows: its upper and lower macroblock rows and its field view's row.
void PairCounts(EncoderRun &run, bool save)
{
    EncoderImage &img = run.img;
    if (img.nzcoeff.empty())
        return;
    const int p = img.mb_y / 2;
    const int rows[3] = {2 * p, 2 * p + 1, p};
    for (int r = 0; r < 3; ++r)
        for (int k = 0; k < 24; ++k) {
            int &n = img.nzcoeff.at(img.mb_x, rows[r], k % 4, k / 4);
            int &kept = run.rd.pair_counts[r][k];
            if (save)
                kept = n;
            else
                n = kept;
        }
}

} // namespace

int mbaff_encode_macroblock(EncoderRun &run)
{
    EncoderImage &img = run.img;
    MbaffViews &v = run.rd.mbaff;
    // The picture's first pair, which with several slice groups need not be the pair at the top left.
    const bool firstPair = img.current_slice_nr == 0 && img.current_slice && img.current_slice->mb_count == 0;
    if (firstPair && img.mb_y % 2 == 0 && !img.mb_field)
        PrepareViews(run);
    // Each coding of the pair starts from the counts before the pair.
    if (img.mb_y % 2 == 0)
        PairCounts(run, !img.mb_field);
    const int realY = img.mb_y, x0 = img.luma_x();
    if (!img.mb_field) {
        const int cost = h264enc_encode_macroblock(run);
        SamplesToFields(run, 16 * realY, 16, x0);
        for (int j = 0; j < 4; ++j)
            IntraModesToField(run, 4 * realY + j, 4 * img.mb_x);
        mbaff_motion_to_fields(img);
        return cost;
    }
    const int parity = realY % 2, pair = realY / 2;
    const int frameHeight = img.height, frameHeightCr = img.height_cr;
    run.org = &v.org[parity];
    run.rec = &v.rec[parity];
    std::swap(img.intra_pred_modes, v.ipred[parity]);
    std::swap(img.maps, img.field_maps[parity]);
    std::swap(run.moving_map, v.moving[parity]);
    img.mb_y = pair;
    img.height = frameHeight / 2;
    img.height_cr = frameHeightCr / 2;
    FieldIntraBorders(run, realY);
    img.mbaff_field_view = 1;
    const int cost = h264enc_encode_macroblock(run);
    img.mbaff_field_view = 0;
    img.mb_y = realY;
    img.height = frameHeight;
    img.height_cr = frameHeightCr;
    std::swap(run.moving_map, v.moving[parity]);
    std::swap(img.maps, img.field_maps[parity]);
    std::swap(img.intra_pred_modes, v.ipred[parity]);
    run.org = &run.org_frame;
    run.rec = &run.rec_frame;
    mbaff_motion_to_frame(img);
    // The field macroblock's rows are every other row of the pair.
    PictureBuffers &f = run.rec_frame;
    for (int r = 0; r < 16; ++r)
        std::copy(v.rec[parity].y[16 * pair + r] + x0, v.rec[parity].y[16 * pair + r] + x0 + 16,
                  f.y[32 * pair + 2 * r + parity] + x0);
    for (int uv = 0; uv < 2; ++uv)
        for (int r = 0; r < 8; ++r)
            std::copy(v.rec[parity].uv[uv][8 * pair + r] + x0 / 2,
                      v.rec[parity].uv[uv][8 * pair + r] + x0 / 2 + 8,
                      f.uv[uv][16 * pair + 2 * r + parity] + x0 / 2);
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i)
            img.ipred_map(4 * img.mb_x + i, 8 * pair + 2 * j + parity) =
                v.ipred[parity][4 * pair + j + 1][4 * img.mb_x + i + 1];
    return cost;
}

namespace {

bool CountsIntra(const EncoderImage &img, const MacroblockRecord &mb)
{
    const bool pPicture = img.type == kTypeP || img.type == kTypeStoredB;
    return pPicture && (mb.mb_mode == kModeI4 || mb.mb_mode == kModeI16);
}

} // namespace

void save_mbaff_pair_candidate(EncoderRun &run, int field)
{
    EncoderImage &img = run.img;
    const int lower = img.mb_y % 2;
    MbaffPairCandidate &c = run.rd.pair[field][lower];
    const MacroblockRecord &mb = img.CurrentMb();
    c.record = mb;
    c.cof = img.cof;
    c.motion.Save(img);
    c.intra_counted = CountsIntra(img, mb) ? 1 : 0;
    // The first coding of the pair: the picture's count before it.
    if (field == 0 && !lower)
        run.rd.pair_intra_base = run.intra_mbs - c.intra_counted;
    if (run.input.RestrictRefFrames != 0 && !run.rd.refresh.empty()) {
        const int cols = img.width / 8;
        c.refreshed = run.rd.refresh[static_cast<size_t>(2 * img.mb_y) * static_cast<size_t>(cols) +
                                     static_cast<size_t>(2 * img.mb_x)];
    }
    if (lower) {
        save_pair_motion(img, c.pair_motion);
        c.samples.clear();
        ForPairRows(run, [&](const uint8_t *row, int n) { c.samples.insert(c.samples.end(), row, row + n); });
        const int top = 8 * (img.mb_y / 2);
        for (int j = 0; j < 8; ++j)
            for (int i = 0; i < 4; ++i)
                c.pair_ipred[j][i] = img.ipred_map(4 * img.mb_x + i, top + j);
    }
}

void restore_mbaff_pair_candidate(EncoderRun &run, int field)
{
    EncoderImage &img = run.img;
    const int lower = img.mb_y % 2;
    const MbaffPairCandidate &c = run.rd.pair[field][lower];
    MacroblockRecord &mb = img.CurrentMb();
    mb = c.record;
    img.cof = c.cof;
    c.motion.Restore(img);
    const MbaffPairCandidate &upper = run.rd.pair[field][0];
    run.intra_mbs = run.rd.pair_intra_base + upper.intra_counted + (lower ? c.intra_counted : 0);
    if (run.input.RestrictRefFrames != 0)
        set_refresh_flags(run, c.refreshed);
    if (!lower) {
        PairCounts(run, false);
        // The pair's samples and motion are those of the coding chosen.
        const MbaffPairCandidate &low = run.rd.pair[field][1];
        restore_pair_motion(img, low.pair_motion);
        size_t at = 0;
        ForPairRows(run, [&](uint8_t *row, int n) {
            if (at + static_cast<size_t>(n) <= low.samples.size())
                std::copy(low.samples.begin() + static_cast<std::ptrdiff_t>(at),
                          low.samples.begin() + static_cast<std::ptrdiff_t>(at) + n, row);
            at += static_cast<size_t>(n);
        });
        const int top = 8 * (img.mb_y / 2);
        for (int j = 0; j < 8; ++j)
            for (int i = 0; i < 4; ++i)
                img.ipred_map(4 * img.mb_x + i, top + j) = low.pair_ipred[j][i];
        // The field views follow the pair put back.
        if (!run.rd.mbaff.rec[0].y.empty()) {
            SamplesToFields(run, 32 * (img.mb_y / 2), 32, img.luma_x());
            for (int j = 0; j < 8; ++j)
                IntraModesToField(run, top + j, 4 * img.mb_x);
        }
    }
}

} // namespace h264enc
