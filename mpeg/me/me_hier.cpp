// Level tables, frame stacks, box smoothing, the level loop and the upsampling of the fields. The
// coarse levels see smoothed frames through sparse windows, which makes large displacements cheap to
// find and hard to mistake for a nearby repetition of texture.
#include "mpeg/me/me_hier.h"

#include "mpeg/me/bm_search.h"
#include "platform/messages.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace {

struct LevelRow
{
    int block[ME_MAX_LEVELS], smoothing[ME_MAX_LEVELS], window[ME_MAX_LEVELS], subsample[ME_MAX_LEVELS];
};

// Rows for the finest block sizes 2, 4, 8, 16.
constexpr LevelRow kTwoLevels[4] = {
    {{4, 2}, {2, 1}, {28, 12}, {4, 1}},
    {{8, 4}, {2, 1}, {32, 16}, {4, 1}},
    {{16, 8}, {2, 1}, {64, 16}, {4, 1}},
    {{32, 16}, {3, 1}, {64, 32}, {8, 2}},
};
constexpr LevelRow kThreeLevels[4] = {
    {{8, 4, 2}, {2, 2, 1}, {64, 28, 12}, {4, 4, 2}},
    {{16, 8, 4}, {3, 2, 1}, {64, 32, 16}, {4, 4, 2}},
    {{32, 16, 8}, {3, 2, 1}, {64, 32, 16}, {4, 4, 2}},
    {{64, 32, 16}, {3, 2, 1}, {64, 64, 32}, {4, 4, 2}},
};

struct ReachRow
{
    int stored;
    int reach[ME_MAX_LEVELS];
};
constexpr ReachRow kDisplTwo[] = {{4, {3, 1}}, {10, {7, 3}}, {22, {15, 7}}};
constexpr ReachRow kDisplThree[] = {{11, {7, 3, 1}}, {25, {15, 7, 3}}};
constexpr ReachRow kStepsTwo[] = {{2, {2, 1}}, {3, {3, 2}}, {4, {4, 3}}};
constexpr ReachRow kStepsThree[] = {{3, {3, 2, 1}}, {4, {4, 3, 2}}};

int BlockRow(int b)
{
    switch (b) {
    case 2:
        return 0;
    case 4:
        return 1;
    case 8:
        return 2;
    case 16:
        return 3;
    default:
        return -1;
    }
}

template <size_t N> const ReachRow *FindReach(const ReachRow (&rows)[N], int stored)
{
    for (const ReachRow &r : rows)
        if (r.stored == stored)
            return &r;
    return nullptr;
}

MeField NewField(int rows, int cols, int bh, int bw)
{
    VF *vf = nullptr;
    AllocVF(&vf, rows, cols, bh, bw, 0);
    return MeField(vf);
}

int CeilDiv(int a, int b)
{
    return (a + b - 1) / b;
}

} // namespace

bool MeLevelTables(int levels, int finestBlock, bool nStep, int storedReach, MeLevelTable *table)
{
    const int row = BlockRow(finestBlock);
    if (row < 0 || (levels != 2 && levels != 3))
        return false;
    const LevelRow &lr = levels == 2 ? kTwoLevels[row] : kThreeLevels[row];
    const ReachRow *rr = nullptr;
    if (levels == 2)
        rr = nStep ? FindReach(kStepsTwo, storedReach) : FindReach(kDisplTwo, storedReach);
    else
        rr = nStep ? FindReach(kStepsThree, storedReach) : FindReach(kDisplThree, storedReach);
    if (!rr)
        return false;
    MeLevelTable t;
    t.levels = levels;
    for (int l = 0; l < levels; ++l) {
        t.block[l] = lr.block[l];
        t.smoothing[l] = lr.smoothing[l];
        t.window[l] = lr.window[l];
        t.subsample[l] = lr.subsample[l];
        t.reach[l] = rr->reach[l];
        t.totalReach += nStep ? (1 << rr->reach[l]) - 1 : rr->reach[l];
    }
    *table = t;
    return true;
}

int MeSmoothingSet(int levels, const int *radii, int *distinct, int *levelIndex)
{
    int n = 0;
    for (int l = 0; l < levels; ++l) {
        int k = 0;
        while (k < n && distinct[k] != radii[l])
            ++k;
        if (k == n)
            distinct[n++] = radii[l];
        levelIndex[l] = k;
    }
    return n;
}

MeImageStack *MeAllocImageStack(int rows, int cols, int rep, int seqType, int count)
{
    auto *stack = new MeImageStack;
    stack->seqType = seqType;
    stack->rep = rep;
    stack->rows = rows;
    stack->cols = cols;
    stack->count = 0;
    stack->images = new Img *[std::max(count, 1)]();
    for (int k = 0; k < count; ++k) {
        Img *img = nullptr;
        AllocImg(&img, rows, cols, rep, seqType);
        if (!img || !img->plane[0]) {
            FreeImg(img);
            MeFreeImageStack(stack);
            return nullptr;
        }
        stack->images[stack->count++] = img;
    }
    return stack;
}

void MeFreeImageStack(MeImageStack *stack)
{
    if (!stack)
        return;
    for (int k = 0; k < stack->count; ++k)
        FreeImg(stack->images[k]);
    delete[] stack->images;
    delete stack;
}

void MeSmoothBox(const Img *src, Img *dst, int r)
{
    if (!src || !dst || src->rep != IMG_REP_FLOAT || dst->rep != IMG_REP_FLOAT || src->rows != dst->rows ||
        src->cols != dst->cols || !src->plane[0] || !dst->plane[0] || r < 0)
        return;
    const int rows = src->rows, cols = src->cols;
    const float *s = src->FloatPlane();
    float *d = dst->FloatPlane();
    std::copy(s, s + static_cast<long>(rows) * cols, d);
    const int n = 2 * r + 1;
    if (r == 0 || rows < n || cols < n)
        return;
    const double area = static_cast<double>(n) * n;
    std::vector<double> columnSums(n);
    for (int y = r; y < rows - r; ++y) {
        // The window total moves along the row: the newest column sum comes in, the oldest goes.
        auto columnSum = [&](int x) {
            double sum = 0;
            for (int dy = -r; dy <= r; ++dy)
                sum += s[static_cast<long>(y + dy) * cols + x];
            return sum;
        };
        double total = 0;
        for (int k = 0; k < n; ++k) {
            columnSums[k] = columnSum(k);
            total += columnSums[k];
        }
        int oldest = 0;
        for (int x = r; x < cols - r; ++x) {
            if (x > r) {
                const double newest = columnSum(x + r);
                total += newest - columnSums[oldest];
                columnSums[oldest] = newest;
                oldest = (oldest + 1) % n;
            }
            d[static_cast<long>(y) * cols + x] = static_cast<float>(total / area);
        }
    }
}

void MeSmoothBoxPlain(const Img *src, Img *dst, int r)
{
    if (!src || !dst || src->rows != dst->rows || src->cols != dst->cols || r < 0)
        return;
    const int rows = src->rows, cols = src->cols;
    const float *s = src->FloatPlane();
    float *d = dst->FloatPlane();
    std::copy(s, s + static_cast<long>(rows) * cols, d);
    const int n = 2 * r + 1;
    for (int y = r; y < rows - r; ++y)
        for (int x = r; x < cols - r; ++x) {
            double sum = 0;
            for (int dy = -r; dy <= r; ++dy)
                for (int dx = -r; dx <= r; ++dx)
                    sum += s[static_cast<long>(y + dy) * cols + x + dx];
            d[static_cast<long>(y) * cols + x] = static_cast<float>(sum / (static_cast<double>(n) * n));
        }
}

void MeUpsampleVF(const VF *coarse, VF *fine)
{
    if (!coarse || !fine || coarse->rep != 0 || fine->rep != 0 || !coarse->planeA || !fine->planeA)
        return;
    const int r = coarse->rows, c = coarse->cols;
    const int R = 2 * r, C = 2 * c;
    if (fine->rows * fine->cols < R * C)
        return;
    auto *fa = static_cast<int8_t *>(fine->planeA);
    auto *fb = static_cast<int8_t *>(fine->planeB);
    const auto *ca = static_cast<const int8_t *>(coarse->planeA);
    const auto *cb = static_cast<const int8_t *>(coarse->planeB);
    std::fill(fa, fa + R * C, 0);
    std::fill(fb, fb + R * C, 0);
    for (int i = 0; i < r; ++i)
        for (int j = 0; j < c; ++j) {
            fa[2 * i * C + 2 * j] = ca[i * c + j];
            fb[2 * i * C + 2 * j] = cb[i * c + j];
        }
    auto mean = [](int a, int b) { return static_cast<int8_t>((a + b) / 2); };
    for (int i = 0; i < R; i += 2)
        for (int j = 1; j < C; j += 2) {
            const int k = i * C + j;
            if (j < C - 1) {
                fa[k] = mean(fa[k - 1], fa[k + 1]);
                fb[k] = mean(fb[k - 1], fb[k + 1]);
            } else {
                fa[k] = fa[k - 1];
                fb[k] = fb[k - 1];
            }
        }
    for (int i = 1; i < R; i += 2)
        for (int j = 0; j < C; ++j) {
            const int k = i * C + j;
            if (i < R - 1) {
                fa[k] = mean(fa[k - C], fa[k + C]);
                fb[k] = mean(fb[k - C], fb[k + C]);
            } else {
                fa[k] = fa[k - C];
                fb[k] = fb[k - C];
            }
        }
}

void BmHierBlockMatch(const MeImageStack *cur, const MeImageStack *prev, VF *out, int method, int levels,
                      const int *reach, const int *block, const int *window, const int * /*smoothing*/,
                      const int *imageIndex, const int *subsample, int totalReach)
{
    using Search =
        void (*)(const Img *, const Img *, VF *, const VF *, int, int, int, int, int, int, int, int);
    Search search = nullptr;
    switch (method) {
    case ME_SEARCH_FULL:
        search = BmBruteForceSearch;
        break;
    case ME_SEARCH_ONE_AT_A_TIME:
        search = BmOneTimeSearch;
        break;
    case ME_SEARCH_NSTEP:
        search = BmNStepSearch;
        break;
    default:
        zn::ShowMessage("BmHierBlockMatch - invalid search method");
        return;
    }
    if (!cur || !prev || !out || levels < 1 || levels > ME_MAX_LEVELS || out->rep != 0 || !out->planeA)
        return;
    for (int l = 0; l < levels; ++l)
        if (block[l] <= 0 || imageIndex[l] < 0 || imageIndex[l] >= cur->count || imageIndex[l] >= prev->count)
            return;
    const int R = out->rows, C = out->cols;
    const int bh = out->blockHeight, bw = out->blockWidth;
    const int capacity = R * C;
    // A level's grid covers the picture's finest grid; where the blocks do not nest it is rounded
    // up, so every block of the picture has its vector at every level.
    auto gridRows = [&](int l) { return CeilDiv(R * bh, block[l]); };
    auto gridCols = [&](int l) { return CeilDiv(C * bw, block[l]); };

    MeField work = NewField(gridRows(0), gridCols(0), block[0], block[0]);
    if (!work || !work->planeA)
        return;
    for (int l = 0; l < levels; ++l) {
        const int rows = gridRows(l), cols = gridCols(l);
        if (rows * cols > capacity || rows != work->rows || cols != work->cols)
            return;
        out->rows = rows;
        out->cols = cols;
        out->blockHeight = block[l];
        out->blockWidth = block[l];
        const int offset = (window[l] - block[l]) / 2;
        search(cur->images[imageIndex[l]], prev->images[imageIndex[l]], out, work.get(), window[l], window[l],
               reach[l], ME_CRITERION_SAD, totalReach, offset, offset, subsample[l]);
        if (l + 1 == levels)
            break;
        // Double the grid (once per halving of the block size), then keep the next level's grid.
        MeField coarse = NewField(rows, cols, block[l], block[l]);
        if (!coarse || !coarse->planeA)
            return;
        std::copy_n(static_cast<int8_t *>(out->planeA), rows * cols, static_cast<int8_t *>(coarse->planeA));
        std::copy_n(static_cast<int8_t *>(out->planeB), rows * cols, static_cast<int8_t *>(coarse->planeB));
        for (int size = block[l]; size > block[l + 1]; size /= 2) {
            MeField doubled = NewField(2 * coarse->rows, 2 * coarse->cols, size / 2, size / 2);
            if (!doubled || !doubled->planeA)
                return;
            MeUpsampleVF(coarse.get(), doubled.get());
            coarse = std::move(doubled);
        }
        const int nr = gridRows(l + 1), nc = gridCols(l + 1);
        work = NewField(nr, nc, block[l + 1], block[l + 1]);
        if (!work || !work->planeA || nr > coarse->rows || nc > coarse->cols)
            return;
        for (int i = 0; i < nr; ++i)
            for (int j = 0; j < nc; ++j) {
                static_cast<int8_t *>(work->planeA)[i * nc + j] =
                    static_cast<int8_t *>(coarse->planeA)[i * coarse->cols + j];
                static_cast<int8_t *>(work->planeB)[i * nc + j] =
                    static_cast<int8_t *>(coarse->planeB)[i * coarse->cols + j];
            }
    }
}
