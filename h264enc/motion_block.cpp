// Block motion: vector prediction from the neighbours (the decoder's rule, so that the written
// differences decode to the searched vectors), the search of one block with its sub-sample refinement,
// the costs of all references of a partition, and the bidirectional, P-skip and direct candidates.
#include "h264enc/motion_search.h"

#include "h264enc/enc_kernels.h"
#include "h264enc/enc_run.h"
#include "h264enc/frame_store.h"
#include "h264enc/mb_predict.h"

#include <algorithm>
#include <cmath>

namespace h264enc {

namespace {

struct MbAvailability
{
    bool left = false, up = false, upLeft = false, upRight = false;
};

MbAvailability Neighbourhood(const EncoderImage &img)
{
    const int m = img.mb_index, w = img.WidthMbs();
    const int slice = img.mb_data[static_cast<size_t>(m)].slice_index;
    auto same = [&](int n) {
        return n >= 0 && n < static_cast<int>(img.mb_data.size()) &&
               img.mb_data[static_cast<size_t>(n)].slice_index == slice;
    };
    // In a macroblock-adaptive frame the macroblock above a field macroblock (in its view, mb_y its pair
    // row) is the lower one of the pair above, for the lower macroblock of a pair too; and the lower
    // macroblock of a pair has no neighbour above on the right, the pair to its right being uncoded.
    const bool lower = img.mbaff && w > 0 && (m / w) % 2 == 1;
    const int above = m - w - (lower && img.mbaff_field_view ? w : 0);
    MbAvailability a;
    a.left = img.mb_x > 0 && same(m - 1);
    a.up = img.mb_y > 0 && same(above);
    a.upLeft = img.mb_x > 0 && img.mb_y > 0 && same(above - 1);
    a.upRight = img.mb_y > 0 && img.mb_x < w - 1 && same(above + 1) && !lower;
    return a;
}

const std::vector<int> &RefMapOf(const EncoderImage &img, int list)
{
    return list == 1 ? img.maps.bw_ref_map : IsB(img) ? img.maps.fw_ref_map : img.maps.ref_map;
}
std::vector<int> &RefMapOf(EncoderImage &img, int list)
{
    return list == 1 ? img.maps.bw_ref_map : IsB(img) ? img.maps.fw_ref_map : img.maps.ref_map;
}
const std::vector<std::array<int, 2>> &MvMapOf(const EncoderImage &img, int list)
{
    return list == 1 ? img.maps.bw_mv_map : IsB(img) ? img.maps.fw_mv_map : img.maps.mv_map;
}
std::vector<std::array<int, 2>> &MvMapOf(EncoderImage &img, int list)
{
    return list == 1 ? img.maps.bw_mv_map : IsB(img) ? img.maps.fw_mv_map : img.maps.mv_map;
}

// SATD of the source against the prediction of 4x4 block (i, j) of the macroblock with the given modes
// and references.
int PredictedBlockSatd(EncoderRun &run, int i, int j, int fw_mode, int bw_mode, int fw_ref, int bw_ref)
{
    const EncoderImage &img = run.img;
    const Array2D<uint8_t> &org_y = run.org->y;
    predict_luma_4x4(run, i, j, fw_mode, bw_mode, fw_ref, bw_ref);
    int d[16];
    for (int v = 0; v < 4; ++v)
        for (int u = 0; u < 4; ++u)
            d[4 * v + u] = org_y[img.luma_y() + 4 * j + v][img.luma_x() + 4 * i + u] -
                           run.mbw.pred[4 * i + u][4 * j + v];
    return satd4x4(d, run.input.UseHadamard != 0);
}

int Median(int a, int b, int c)
{
    return a + b + c - std::min({a, b, c}) - std::max({a, b, c});
}

// The 4x4 blocks of block `block` of block type `type`: start column and row, width and height (in
// 4x4 blocks) of the partition area, and the sub-block step.
void PartitionArea(int type, int block, int *x0, int *y0, int *w, int *h)
{
    switch (type) {
    case 1:
        *x0 = *y0 = 0;
        *w = *h = 4;
        return;
    case 2:
        *x0 = 0;
        *y0 = 2 * block;
        *w = 4;
        *h = 2;
        return;
    case 3:
        *x0 = 2 * block;
        *y0 = 0;
        *w = 2;
        *h = 4;
        return;
    default:
        *x0 = 2 * (block % 2);
        *y0 = 2 * (block / 2);
        *w = *h = 2;
        return;
    }
}

// The SATD of the two 4x4 blocks of an 8x4 strip at picture position (x, y) (or of the left one
// alone), against quarter-sample plane `plane` at vector (cx, cy): straight from the plane's rows where
// every sample lies in it, else through the clamp.
void StripSatd(const Array2D<uint8_t> &org_y, const Array2D<uint8_t> &plane, int x, int y, int cx, int cy,
               bool wide, bool hadamard, int out[2])
{
    const int r0 = 4 * y + cy + kQuarterMargin, c0 = 4 * x + cx + kQuarterMargin;
    if (r0 >= 0 && c0 >= 0 && r0 + 12 < plane.rows() && c0 + (wide ? 32 : 16) <= plane.cols()) {
        quarter_strip_satd(org_y[y] + x, org_y.cols(), plane[r0] + c0, plane.cols(), wide, hadamard, out);
        return;
    }
    out[1] = 0;
    for (int k = 0; k < (wide ? 2 : 1); ++k) {
        int d[16];
        uint8_t ref[16];
        quarter_block4x4_reference(plane, 4 * y + cy, 4 * (x + 4 * k) + cx, ref);
        for (int v = 0; v < 4; ++v)
            for (int u = 0; u < 4; ++u)
                d[4 * v + u] = org_y[y + v][x + 4 * k + u] - ref[4 * v + u];
        out[k] = satd4x4(d, hadamard);
    }
}

// SATD cost of the block at picture position (x, y), w x h, against reference r at vector (cx, cy)
// quarter samples, added to `cost` block by block; stops as soon as it exceeds `limit` (the blocks of a
// strip are added together: the sum only grows, so a cost that would have stopped still ends above
// limit). The SATDs of the macroblock's 4x4 blocks are kept per vector for the other block shapes.
int BlockSatd(EncoderRun &run, int r, int x, int y, int w, int h, int cx, int cy, int cost, int limit)
{
    const Array2D<uint8_t> &org_y = run.org->y;
    const Array2D<uint8_t> &plane = reference_frame(run, r)->mref;
    const bool hadamard = run.input.UseHadamard != 0;
    SatdCache &cache = run.search.satd_cache;
    const int mbx = x - run.img.luma_x(), mby = y - run.img.luma_y();
    const uint64_t tag = cache.Tag(cx, cy);
    const bool keep =
        tag != 0 && mbx >= 0 && mby >= 0 && mbx + w <= 16 && mby + h <= 16 && !cache.entries.empty();
    SatdCache::Entry *slot = keep ? cache.Slot(search_list_index(run, r), cx, cy) : nullptr;
    for (int by = 0; by < h; by += 4)
        for (int bx = 0; bx < w; bx += 8) {
            const bool wide = bx + 8 <= w;
            if (keep) {
                SatdCache::Entry &e0 = slot[(4 * ((mby + by) / 4) + (mbx + bx) / 4) * SatdCache::kSlots];
                SatdCache::Entry &e1 = wide ? (&e0)[SatdCache::kSlots] : e0;
                if (e0.tag == tag && e1.tag == tag) {
                    cost += e0.value + (wide ? e1.value : 0);
                } else {
                    int satd[2];
                    StripSatd(org_y, plane, x + bx, y + by, cx, cy, wide, hadamard, satd);
                    e1.value = satd[1];
                    e0.value = satd[0];
                    e0.tag = e1.tag = tag;
                    cost += satd[0] + satd[1];
                }
            } else {
                int satd[2];
                StripSatd(org_y, plane, x + bx, y + by, cx, cy, wide, hadamard, satd);
                cost += satd[0] + satd[1];
            }
            if (cost > limit)
                return cost;
        }
    return cost;
}

} // namespace

void quarter_block4x4_reference(const Array2D<uint8_t> &plane, int y4, int x4, uint8_t out[16])
{
    for (int v = 0; v < 4; ++v)
        for (int u = 0; u < 4; ++u)
            out[4 * v + u] = get_pel_quarter_clamped(plane, y4 + 4 * v, x4 + 4 * u);
}

void quarter_block4x4(const Array2D<uint8_t> &plane, int y4, int x4, uint8_t out[16])
{
    // Inside the plane, margin included, no position needs the clamp: read the rows directly.
    const int r0 = y4 + kQuarterMargin, c0 = x4 + kQuarterMargin;
    if (r0 < 0 || c0 < 0 || r0 + 12 > plane.rows() - 4 || c0 + 12 > plane.cols() - 4) {
        quarter_block4x4_reference(plane, y4, x4, out);
        return;
    }
    gather_quarter4x4(plane[r0] + c0, plane.cols(), out);
}

void predict_block_vector(const EncoderRun &run, int list, int r, int bx, int by, int w, int h, int *px,
                          int *py)
{
    const EncoderImage &img = run.img;
    const MbAvailability mb = Neighbourhood(img);
    const std::vector<int> &refs = RefMapOf(img, list);
    const std::vector<std::array<int, 2>> &mvs = MvMapOf(img, list);
    const MotionMaps &m = img.maps;
    const int x = 4 * img.mb_x + bx / 4, y = 4 * img.mb_y + by / 4;
    const bool A = bx > 0 || mb.left;
    const bool B = by > 0 || mb.up;
    bool C;
    if (by > 0)
        C = bx < 8 ? (by == 8 ? w != 16 : bx + w != 8) : bx + w != 16;
    else
        C = bx + w != 16 ? mb.up : mb.upRight;
    bool D;
    if (bx > 0)
        D = by > 0 ? true : mb.up;
    else
        D = by > 0 ? mb.left : mb.upLeft;

    const int rA = A ? refs[m.At(x - 1, y)] : -1;
    const int rB = B ? refs[m.At(x, y - 1)] : -1;
    int rC = -1;
    std::array<int, 2> vc = {0, 0};
    if (C) {
        rC = refs[m.At(x + w / 4, y - 1)];
        vc = mvs[m.At(x + w / 4, y - 1)];
    } else if (D) {
        rC = refs[m.At(x - 1, y - 1)];
        vc = mvs[m.At(x - 1, y - 1)];
    }
    const std::array<int, 2> va = A ? mvs[m.At(x - 1, y)] : std::array<int, 2>{0, 0};
    const std::array<int, 2> vb = B ? mvs[m.At(x, y - 1)] : std::array<int, 2>{0, 0};

    const int matches = (rA == r) + (rB == r) + (rC == r);
    const std::array<int, 2> *pick = nullptr;
    if (matches == 1)
        pick = rA == r ? &va : rB == r ? &vb : &vc;
    else if (w == 8 && h == 16 && bx == 0 && rA == r)
        pick = &va;
    else if (w == 8 && h == 16 && bx != 0 && rC == r)
        pick = &vc;
    else if (w == 16 && h == 8 && by == 0 && rB == r)
        pick = &vb;
    else if (w == 16 && h == 8 && by != 0 && rA == r)
        pick = &va;
    else if (!B && !C && !D)
        pick = &va;
    if (pick) {
        *px = (*pick)[0];
        *py = (*pick)[1];
    } else {
        *px = Median(va[0], vb[0], vc[0]);
        *py = Median(va[1], vb[1], vc[1]);
    }
}

int refine_sub_pel(EncoderRun &run, int r, int x, int y, int type, int px, int py, int *mvx, int *mvy,
                   int start)
{
    const MotionSearchTables &t = run.search;
    const EncoderImage &img = run.img;
    const int w = kBlockWidth[type], h = kBlockHeight[type];
    const int lambda = run.motion.fixed_lambda;
    const bool hadamard = run.input.UseHadamard != 0;
    int best = start, bestP = 0;
    const int first = hadamard ? 0 : 1;
    const bool zeroStart = *mvx == 0 && *mvy == 0;
    for (int p = first; p < 9; ++p) {
        const int cx = *mvx + 2 * t.spiral_x[static_cast<size_t>(p)];
        const int cy = *mvy + 2 * t.spiral_y[static_cast<size_t>(p)];
        int cost = (lambda * (t.mvbits(cx - px) + t.mvbits(cy - py))) >> 16;
        if (p == 0 && type == 1 && zeroStart && hadamard && run.input.RDOptimization == 0 && !IsB(img) &&
            r == 0)
            cost -= (16 * lambda) >> 16;
        if (cost >= best)
            continue;
        cost = BlockSatd(run, r, x, y, w, h, cx, cy, cost, best);
        if (cost < best) {
            best = cost;
            bestP = p;
        }
    }
    *mvx += 2 * t.spiral_x[static_cast<size_t>(bestP)];
    *mvy += 2 * t.spiral_y[static_cast<size_t>(bestP)];
    bestP = 0;
    for (int p = 1; p < 9; ++p) {
        const int cx = *mvx + t.spiral_x[static_cast<size_t>(p)];
        const int cy = *mvy + t.spiral_y[static_cast<size_t>(p)];
        int cost = (lambda * (t.mvbits(cx - px) + t.mvbits(cy - py))) >> 16;
        if (cost >= best)
            continue;
        cost = BlockSatd(run, r, x, y, w, h, cx, cy, cost, best);
        if (cost < best) {
            best = cost;
            bestP = p;
        }
    }
    *mvx += t.spiral_x[static_cast<size_t>(bestP)];
    *mvy += t.spiral_y[static_cast<size_t>(bestP)];
    return best;
}

int search_block_motion(EncoderRun &run, int r, int x, int y, int type, int range)
{
    EncoderImage &img = run.img;
    MacroblockMotion &mo = run.motion;
    const int bx = x - img.luma_x(), by = y - img.luma_y();
    const int w = kBlockWidth[type], h = kBlockHeight[type];
    int px = 0, py = 0;
    predict_block_vector(run, r < 0 ? 1 : 0, std::max(r, 0), bx, by, w, h, &px, &py);
    int vx = 0, vy = 0;
    int cost = integer_pel_search(run, r, bx, by, type, px, py, range, kMaxCost, &vx, &vy);
    int mvx = 4 * vx, mvy = 4 * vy;
    if (run.input.UseHadamard)
        cost = kMaxCost;
    cost = refine_sub_pel(run, r, x, y, type, px, py, &mvx, &mvy, cost);
    if (run.input.RDOptimization == 0 && type == 1 && !IsB(img) && img.type != kTypeI && r == 0) {
        p_skip_vector(run);
        const int s = p_skip_cost(run) - static_cast<int>(std::floor(8 * mo.lambda + 0.4999));
        if (s < cost) {
            cost = s;
            mvx = mo.Mv(0, 0)[0][0][0];
            mvy = mo.Mv(0, 0)[0][0][1];
        }
    }
    BlockVectors &mv = r >= 0 ? mo.Mv(r, type) : mo.search_mv_bw[type];
    BlockVectors &pred = r >= 0 ? mo.Pred(r, type) : mo.predicted_mv_bw[type];
    for (int j = by / 4; j < (by + h) / 4; ++j)
        for (int i = bx / 4; i < (bx + w) / 4; ++i)
            mv[static_cast<size_t>(j)][static_cast<size_t>(i)] = {mvx, mvy};
    pred[static_cast<size_t>(by / 4)][static_cast<size_t>(bx / 4)] = {px, py};
    return cost;
}

void search_partition_motion(EncoderRun &run, int type, int block)
{
    EncoderImage &img = run.img;
    const EncoderParams &input = run.input;
    MacroblockMotion &mo = run.motion;
    const bool b = IsB(img);
    // A B picture's newest reference is its backward one; a stored B picture may look forward to all.
    const int maxRef = img.refs_in_use - (img.type == kTypeB ? 1 : 0);
    int x0, y0, aw, ah;
    PartitionArea(std::min(type, 4), block, &x0, &y0, &aw, &ah);
    const int stepX = kBlockWidth[type] / 4, stepY = kBlockHeight[type] / 4;
    for (int r = b ? -1 : 0; r < maxRef; ++r) {
        int &cost = mo.Cost(type, r, block);
        if (r >= 0 && !(r < input.NumberReferenceFrames || r == input.AdditionalReferenceFrame)) {
            cost = kMaxCost;
            continue;
        }
        int range = input.SearchRange;
        const int near = std::min(std::max(r, 0), 1) + 1;
        if (input.RestrictSearchRange == 1)
            range = input.SearchRange / near;
        else if (input.RestrictSearchRange == 0)
            range = input.SearchRange / (near * std::min(type, 2));
        cost = 0;
        const int list = r < 0 ? 1 : 0;
        std::vector<int> &refMap = RefMapOf(img, list);
        std::vector<std::array<int, 2>> &mvMap = MvMapOf(img, list);
        const BlockVectors &mv = r >= 0 ? mo.Mv(r, type) : mo.search_mv_bw[type];
        for (int j = y0; j < y0 + ah; j += stepY)
            for (int i = x0; i < x0 + aw; i += stepX) {
                cost += search_block_motion(run, r, img.luma_x() + 4 * i, img.luma_y() + 4 * j, type, range);
                for (int jj = j; jj < j + stepY; ++jj)
                    for (int ii = i; ii < i + stepX; ++ii) {
                        const size_t at = img.maps.At(4 * img.mb_x + ii, 4 * img.mb_y + jj);
                        mvMap[at] = mv[static_cast<size_t>(jj)][static_cast<size_t>(ii)];
                        refMap[at] = std::max(r, 0);
                    }
            }
    }
}

int bidir_block_cost(EncoderRun &run, int type, int block, int f)
{
    MacroblockMotion &mo = run.motion;
    const MotionSearchTables &t = run.search;
    int x0, y0, aw, ah;
    PartitionArea(std::min(type, 4), block, &x0, &y0, &aw, &ah);
    const int stepX = kBlockWidth[type] / 4, stepY = kBlockHeight[type] / 4;
    const BlockVectors &fw = mo.Mv(f, type), &fwp = mo.Pred(f, type);
    const BlockVectors &bw = mo.search_mv_bw[type], &bwp = mo.predicted_mv_bw[type];
    int bits = 0;
    for (int j = y0; j < y0 + ah; j += stepY)
        for (int i = x0; i < x0 + aw; i += stepX) {
            const size_t jj = static_cast<size_t>(j), ii = static_cast<size_t>(i);
            bits += t.mvbits(fw[jj][ii][0] - fwp[jj][ii][0]) + t.mvbits(fw[jj][ii][1] - fwp[jj][ii][1]) +
                    t.mvbits(bw[jj][ii][0] - bwp[jj][ii][0]) + t.mvbits(bw[jj][ii][1] - bwp[jj][ii][1]);
        }
    int cost = (bits * mo.fixed_lambda) >> 16;
    for (int j = y0; j < y0 + ah; ++j)
        for (int i = x0; i < x0 + aw; ++i)
            cost += PredictedBlockSatd(run, i, j, type, type, f, 0);
    return cost;
}

void scale_backward_predictions(EncoderRun &run)
{
    EncoderImage &img = run.img;
    if (img.type != kTypeStoredB)
        return;
    MacroblockRecord &mb = img.CurrentMb();
    const MotionMaps &m = img.maps;
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i) {
            const size_t q = static_cast<size_t>(2 * (j / 2) + i / 2);
            if (mb.quarter_dir[q] != 2 || mb.quarter_mode[q] <= 0 || mb.quarter_mode[q] > kSub4x4)
                continue;
            const size_t at = m.At(4 * img.mb_x + i, 4 * img.mb_y + j);
            const long long s =
                (static_cast<long long>(m.bw_ref_map[at]) + 1) * 256 / std::max(m.fw_ref_map[at] + 1, 1);
            for (int c = 0; c < 2; ++c)
                mb.mv_pred[1][j][i][c] =
                    static_cast<int>((s * m.fw_mv_map[at][static_cast<size_t>(c)] + 128) >> 8);
        }
}

void p_skip_vector(EncoderRun &run)
{
    EncoderImage &img = run.img;
    const MbAvailability av = Neighbourhood(img);
    const MotionMaps &m = img.maps;
    int vx = 0, vy = 0;
    if (av.up && av.left) {
        const int x = 4 * img.mb_x, y = 4 * img.mb_y;
        const size_t a = m.At(x - 1, y), b = m.At(x, y - 1);
        const bool aStill = m.ref_map[a] == 0 && m.mv_map[a][0] == 0 && m.mv_map[a][1] == 0;
        const bool bStill = m.ref_map[b] == 0 && m.mv_map[b][0] == 0 && m.mv_map[b][1] == 0;
        if (!aStill && !bStill)
            predict_block_vector(run, 0, 0, 0, 0, 16, 16, &vx, &vy);
    }
    BlockVectors &mv = run.motion.Mv(0, 0);
    for (auto &row : mv)
        for (auto &v : row)
            v = {vx, vy};
}

int p_skip_cost(EncoderRun &run)
{
    int cost = 0;
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i)
            cost += PredictedBlockSatd(run, i, j, 0, 0, 0, 0);
    return cost;
}

void compute_direct_vectors(EncoderRun &run)
{
    EncoderImage &img = run.img;
    MacroblockMotion &mo = run.motion;
    const MotionMaps &m = img.maps;
    const int x0 = 4 * img.mb_x, y0 = 4 * img.mb_y;
    for (auto &row : mo.direct_fw_entry)
        std::fill(std::begin(row), std::end(row), -1);
    mo.direct_quarters_differ = false;
    if (run.input.DirectModeType == 0) {
        // The decoder reads a direct quarter of a field macroblock (macroblock-adaptive frames) with
        // field distances but predicts it with the frame's, so the partitions beside it would be
        // predicted from vectors the prediction does not use: such quarters are not offered.
        if (img.mbaff_field_view)
            mo.direct_quarters_differ = true;
        // Temporal: the co-located vector of the backward reference scaled by the picture order
        // distances (the decoder's scaling, which assumes evenly spaced references).
        const long long dist = static_cast<long long>(run.tr_backward) - run.tr_forward;
        for (int j = 0; j < 4; ++j)
            for (int i = 0; i < 4; ++i) {
                const size_t at = m.At(x0 + i, y0 + j);
                const int c = m.ref_map[at];
                mo.direct_map_fw_ref[j][i] = c < 0 ? -1 : c;
                mo.direct_map_bw_ref[j][i] = c < 0 ? -1 : 0;
                mo.direct_fw_ref[j][i] = std::max(c, 0);
                mo.direct_bw_ref[j][i] = 0;
                // A bottom field counts the co-located field's index from its own top field.
                if (img.field_picture && img.bottom_field)
                    mo.direct_fw_entry[j][i] = std::max(c, 0) + 1;
                if (c < 0) {
                    mo.direct_fw[j][i] = mo.direct_bw[j][i] = {0, 0};
                    continue;
                }
                long long trp = (c + 1) * dist;
                long long trb = trp + img.toppoc - run.tr_backward;
                if (img.field_picture)
                    field_direct_distances(img.bottom_field != 0, c, dist,
                                           img.bottom_field ? img.bottompoc : img.toppoc, run.tr_backward,
                                           &trp, &trb);
                const long long scale = trp == 0 ? 256 : (trb * 256) / trp;
                for (int k = 0; k < 2; ++k) {
                    const long long v = m.mv_map[at][static_cast<size_t>(k)];
                    mo.direct_fw[j][i][static_cast<size_t>(k)] = static_cast<int>((scale * v + 128) >> 8);
                    mo.direct_bw[j][i][static_cast<size_t>(k)] =
                        static_cast<int>(((scale - 256) * v + 128) >> 8);
                }
            }
        return;
    }
    // Spatial: one reference per list from the neighbours of the macroblock, their predicted vectors,
    // and zero vectors for still co-located blocks of reference 0.
    MbAvailability av = Neighbourhood(img);
    if (img.mbaff) {
        // In macroblock-adaptive frames the decoder's direct prediction takes the macroblocks above by
        // position, across slices too; where its read of a direct quarter (by slice) would differ, the
        // quarter is not offered.
        const int w = img.WidthMbs();
        const bool lower = (img.mb_index / w) % 2 == 1;
        MbAvailability byPosition = av;
        byPosition.up = img.mb_y > 0;
        byPosition.upLeft = img.mb_x > 0 && img.mb_y > 0;
        byPosition.upRight = img.mb_y > 0 && img.mb_x < w - 1 && !lower;
        if (byPosition.up != av.up || byPosition.upLeft != av.upLeft || byPosition.upRight != av.upRight)
            mo.direct_quarters_differ = true;
        av = byPosition;
    }
    // With two backward references (a stored B picture) the decoder prefers backward index 1 when a
    // neighbour has it, and a still block predicts from index 1 with a zero vector: the index of the
    // nearest picture in the order they are sent in.
    const bool twoBackward = img.stored_b_ref >= 1;
    const int still[2] = {0, twoBackward ? 1 : 0};
    int refs[2] = {15, 15};
    int pred[2][2] = {};
    for (int list = 0; list < 2; ++list) {
        const std::vector<int> &map = RefMapOf(img, list);
        const int a = av.left ? map[m.At(x0 - 1, y0)] : -1;
        const int b = av.up ? map[m.At(x0, y0 - 1)] : -1;
        const int c = av.upRight ? map[m.At(x0 + 4, y0 - 1)] : av.upLeft ? map[m.At(x0 - 1, y0 - 1)] : -1;
        auto m15 = [](int v) { return v < 0 ? 15 : v; };
        refs[list] = std::min({m15(a), m15(b), m15(c)});
        if (list == 1 && twoBackward && (a == 1 || b == 1 || c == 1))
            refs[list] = 1;
        if (refs[list] != 15)
            predict_block_vector(run, list, refs[list], 0, 0, 16, 16, &pred[list][0], &pred[list][1]);
    }
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i) {
            const bool moving = !run.moving_map.empty() && run.moving_map[m.At(x0 + i, y0 + j)] != 0;
            int r[2];
            std::array<int, 2> v[2] = {{0, 0}, {0, 0}};
            for (int list = 0; list < 2; ++list) {
                if (refs[list] == 15) {
                    r[list] = -1;
                } else if (refs[list] > 0 || moving) {
                    if (list == 1 && twoBackward && !moving)
                        mo.direct_quarters_differ = true;
                    r[list] = refs[list];
                    v[list] = {pred[list][0], pred[list][1]};
                } else {
                    r[list] = still[list];
                    if (list == 1 && twoBackward)
                        mo.direct_quarters_differ = true;
                }
            }
            if (refs[0] == 15 && refs[1] == 15) {
                r[0] = 0;
                r[1] = still[1];
            }
            mo.direct_fw_ref[j][i] = mo.direct_map_fw_ref[j][i] = r[0];
            mo.direct_bw_ref[j][i] = mo.direct_map_bw_ref[j][i] = r[1];
            mo.direct_fw[j][i] = v[0];
            mo.direct_bw[j][i] = v[1];
        }
}

int direct_cost_8x8(EncoderRun &run, int quarter)
{
    int cost = 0;
    for (int j = 2 * (quarter / 2); j < 2 * (quarter / 2) + 2; ++j)
        for (int i = 2 * (quarter % 2); i < 2 * (quarter % 2) + 2; ++i)
            cost += PredictedBlockSatd(run, i, j, 0, 0, 0, 0);
    return cost;
}

int direct_cost_16x16(EncoderRun &run)
{
    int cost = 0;
    for (int q = 0; q < 4; ++q)
        cost += direct_cost_8x8(run, q);
    return cost;
}

} // namespace h264enc
