// Motion search tables and the fast integer-sample search. The SAD of every 4x4 block of the
// macroblock at every window position is computed once per macroblock and reference; every larger
// block shape adds them up, and every block takes the position of least SAD plus vector cost, of equal
// costs the one nearest in spiral order, so that near positions win ties.
#include "h264enc/motion_search.h"

#include "h264enc/enc_kernels.h"
#include "h264enc/enc_run.h"
#include "h264enc/frame_store.h"
#include "h264enc/mb_predict.h"

#include <algorithm>
#include <cmath>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace h264enc {

int MotionSearchTables::LongMvBits(int d)
{
    const unsigned code = d > 0 ? 2u * static_cast<unsigned>(d) - 1u : 2u * static_cast<unsigned>(-d);
    int len = 1;
    for (unsigned x = code + 1; x > 1; x >>= 1)
        len += 2;
    return len;
}

namespace {

// Unsigned Exp-Golomb length of v.
int UeBits(int v)
{
    int len = 1;
    for (unsigned x = static_cast<unsigned>(v) + 1; x > 1; x >>= 1)
        len += 2;
    return len;
}

template <class T> void Allocate(std::vector<T> &v, size_t n, const char *what)
{
    try {
        v.assign(n, T{});
    } catch (const std::bad_alloc &) {
        out_of_memory_exit(what);
    }
}

// Raster index of the 4x4 block at sample offset (bx, by) of the macroblock.
int BlockIndex(int bx, int by)
{
    return 4 * (by / 4) + bx / 4;
}

// dst = a + b over a whole table. Real sums stay below 65536 (a 16x16 SAD is at most 65280); the
// saturation only keeps the columns of no meaning from wrapping.
void AddSads(uint16_t *__restrict dst, const uint16_t *__restrict a, const uint16_t *__restrict b,
             size_t count)
{
    size_t p = 0;
#if defined(__SSE2__)
    for (; p + 8 <= count; p += 8)
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + p),
                         _mm_adds_epu16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(a + p)),
                                        _mm_loadu_si128(reinterpret_cast<const __m128i *>(b + p))));
#endif
    for (; p < count; ++p)
        dst[p] = static_cast<uint16_t>(std::min(a[p] + b[p], 0xffff));
}

// Every larger block shape from the two halves it is made of, smallest shapes first.
void sum_block_sads(MotionSearchTables &t, int list, size_t count)
{
    for (int b : {0, 1, 2, 3, 8, 9, 10, 11})
        AddSads(t.Sad(list, 6, b), t.Sad(list, 7, b), t.Sad(list, 7, b + 4), count);
    for (int b : {0, 2, 4, 6, 8, 10, 12, 14})
        AddSads(t.Sad(list, 5, b), t.Sad(list, 7, b), t.Sad(list, 7, b + 1), count);
    for (int b : {0, 2, 8, 10})
        AddSads(t.Sad(list, 4, b), t.Sad(list, 6, b), t.Sad(list, 6, b + 1), count);
    for (int b : {0, 2})
        AddSads(t.Sad(list, 3, b), t.Sad(list, 4, b), t.Sad(list, 4, b + 8), count);
    for (int b : {0, 8})
        AddSads(t.Sad(list, 2, b), t.Sad(list, 4, b), t.Sad(list, 4, b + 2), count);
    AddSads(t.Sad(list, 1, 0), t.Sad(list, 3, 0), t.Sad(list, 3, 2), count);
}

} // namespace

int MotionSearchTables::sad_slot(int type, int block)
{
    // Slots of the blocks of each type in raster order of their first 4x4 block.
    static constexpr int8_t kSlot[8][16] = {
        {},
        {40, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1},
        {38, -1, -1, -1, -1, -1, -1, -1, 39, -1, -1, -1, -1, -1, -1, -1},
        {36, -1, 37, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1},
        {32, -1, 33, -1, -1, -1, -1, -1, 34, -1, 35, -1, -1, -1, -1, -1},
        {24, -1, 25, -1, 26, -1, 27, -1, 28, -1, 29, -1, 30, -1, 31, -1},
        {16, 17, 18, 19, -1, -1, -1, -1, 20, 21, 22, 23, -1, -1, -1, -1},
        {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15},
    };
    return kSlot[type][block];
}

int mv_bits(const EncoderRun &run, int d)
{
    return run.search.mvbits(d);
}

int search_list_index(const EncoderRun &run, int r)
{
    return r < 0 ? run.search.lists - 1 : r;
}

void Init_Motion_Search_Module(EncoderRun &run)
{
    MotionSearchTables &t = run.search;
    const EncoderParams &input = run.input;
    t = MotionSearchTables();
    const int range = input.SearchRange;
    t.search_range = range;
    t.positions = (2 * range + 1) * (2 * range + 1);
    // The sub-sample refinement walks the first nine positions whatever the range.
    const int spiralRange = std::max(1, range);
    const size_t spiralCount = static_cast<size_t>((2 * spiralRange + 1) * (2 * spiralRange + 1));
    Allocate(t.spiral_x, spiralCount, "Init_Motion_Search_Module: spiral_search_x");
    Allocate(t.spiral_y, spiralCount, "Init_Motion_Search_Module: spiral_search_y");
    size_t k = 1;
    for (int l = 1; l <= spiralRange; ++l) {
        for (int i = -l + 1; i < l; ++i) {
            t.spiral_x[k] = i;
            t.spiral_y[k++] = -l;
            t.spiral_x[k] = i;
            t.spiral_y[k++] = l;
        }
        for (int i = -l; i <= l; ++i) {
            t.spiral_x[k] = -l;
            t.spiral_y[k++] = i;
            t.spiral_x[k] = l;
            t.spiral_y[k++] = i;
        }
    }

    const int maxMvBits =
        3 + 2 * static_cast<int>(std::ceil(std::log(4.0 * (2 * range + 3) + 1) / std::log(2.0) + 1e-10));
    t.max_mvd = (1 << (maxMvBits >> 1)) - 1;
    Allocate(t.mvbits_table, static_cast<size_t>(2 * t.max_mvd + 1), "Init_Motion_Search_Module: mvbits");
    t.mvbits_table[static_cast<size_t>(t.max_mvd)] = 1;
    for (int bits = 3; bits <= maxMvBits; bits += 2)
        for (int i = 1 << ((bits >> 1) - 1); i < (1 << (bits >> 1)); ++i) {
            t.mvbits_table[static_cast<size_t>(t.max_mvd + i)] = bits;
            t.mvbits_table[static_cast<size_t>(t.max_mvd - i)] = bits;
        }

    t.lists = run.img.max_ref + 1;
    const int maxRefBits =
        1 + 2 * static_cast<int>(std::floor(std::log(std::max(16, t.lists)) / std::log(2.0) + 1e-10));
    const int maxRef = (1 << ((maxRefBits >> 1) + 1)) - 1;
    Allocate(t.refbits, static_cast<size_t>(maxRef), "Init_Motion_Search_Module: refbits");
    for (int v = 0; v < maxRef; ++v)
        t.refbits[static_cast<size_t>(v)] = UeBits(v);

    // Rows of the SAD tables reach 7 columns past the window (the scan reads eight at a time).
    const int side = 2 * range + 1;
    t.sad_stride = (side + 7 + 7) / 8 * 8;
    t.sad_plane = static_cast<size_t>(side) * static_cast<size_t>(t.sad_stride);
    try {
        t.block_sad.assign(static_cast<size_t>(t.lists), std::vector<uint16_t>());
        for (auto &table : t.block_sad)
            table.assign(MotionSearchTables::kSadSlots * t.sad_plane, 0);
        t.spiral_rank.assign(static_cast<size_t>(t.positions), 0);
        t.satd_cache.entries.assign(static_cast<size_t>(t.lists) * 16 * SatdCache::kSlots,
                                    SatdCache::Entry());
    } catch (const std::bad_alloc &) {
        out_of_memory_exit("InitializeFastFullIntegerSearch: BlockSAD");
    }
    for (int p = 0; p < t.positions; ++p)
        t.spiral_rank[static_cast<size_t>((t.spiral_y[static_cast<size_t>(p)] + range) * side +
                                          t.spiral_x[static_cast<size_t>(p)] + range)] = p;
    Allocate(t.setup_done, static_cast<size_t>(t.lists),
             "InitializeFastFullIntegerSearch: search_setup_done");
    Allocate(t.center_x, static_cast<size_t>(t.lists), "InitializeFastFullIntegerSearch: search_center_x");
    Allocate(t.center_y, static_cast<size_t>(t.lists), "InitializeFastFullIntegerSearch: search_center_y");
    Allocate(t.pos_00, static_cast<size_t>(t.lists), "InitializeFastFullIntegerSearch: pos_00");
    Allocate(t.max_search_range, static_cast<size_t>(t.lists),
             "InitializeFastFullIntegerSearch: max_search_range");
    for (int l = 0; l < t.lists; ++l)
        t.max_search_range[static_cast<size_t>(l)] =
            input.RestrictSearchRange == 2 || l == 0 || l == t.lists - 1 ? range : range / 2;
}

void free_fast_integer_search(EncoderRun &run)
{
    MotionSearchTables &t = run.search;
    for (std::vector<int> *v : {&t.setup_done, &t.center_x, &t.center_y, &t.pos_00, &t.max_search_range})
        v->clear();
    t.block_sad.clear();
    t.satd_cache.entries.clear();
}

void free_motion_search_tables(EncoderRun &run)
{
    run.search = MotionSearchTables();
}

void free_motion_search_module(EncoderRun &run)
{
    free_fast_integer_search(run);
    free_motion_search_tables(run);
}

void reset_fast_integer_search(EncoderRun &run)
{
    std::fill(run.search.setup_done.begin(), run.search.setup_done.end(), 0);
    run.search.satd_cache.NextMacroblock();
}

void setup_fast_integer_search(EncoderRun &run, int r)
{
    MotionSearchTables &t = run.search;
    EncoderImage &img = run.img;
    const int list = search_list_index(run, r);
    const size_t L = static_cast<size_t>(list);
    const int range = t.max_search_range[L];
    const RefFrame &ref = *reference_frame(run, r);
    const int width = img.width, height = img.height;
    const int lumaX = img.luma_x(), lumaY = img.luma_y();

    int px = 0, py = 0;
    predict_block_vector(run, r < 0 ? 1 : 0, std::max(r, 0), 0, 0, 16, 16, &px, &py);
    int cx = px / 4, cy = py / 4;
    if (run.input.RDOptimization == 0) {
        cx = std::clamp(cx, -range, range);
        cy = std::clamp(cy, -range, range);
    }
    cx += lumaX;
    cy += lumaY;
    t.center_x[L] = cx;
    t.center_y[L] = cy;

    // The window of all positions, the samples outside the picture repeating its edges (what the
    // clamping line reader gives). The SAD kernel reads whole groups of eight positions, so the window
    // is wider than the positions need.
    const int side = 2 * range + 1, winRows = side + 15, winCols = t.sad_stride + 16;
    thread_local std::vector<uint8_t> window;
    window.resize(static_cast<size_t>(winRows) * static_cast<size_t>(winCols));
    const uint8_t *buf = ref.Refbuf11.data();
    const int x0 = cx - range, y0 = cy - range;
    const bool inside = x0 >= 0 && y0 >= 0 && x0 + winCols <= width && y0 + winRows <= height;
    for (int y = 0; y < winRows; ++y) {
        uint8_t *out = window.data() + static_cast<size_t>(y) * static_cast<size_t>(winCols);
        const int sy = inside ? y0 + y : std::clamp(y0 + y, 0, height - 1);
        const uint8_t *row = buf + static_cast<size_t>(sy) * static_cast<size_t>(width);
        if (inside) {
            std::copy(row + x0, row + x0 + winCols, out);
        } else {
            for (int x = 0; x < winCols; ++x)
                out[x] = row[std::clamp(x0 + x, 0, width - 1)];
        }
    }
    uint8_t src[256];
    const Array2D<uint8_t> &org_y = run.org->y;
    for (int y = 0; y < 16; ++y)
        std::copy(org_y[lumaY + y] + lumaX, org_y[lumaY + y] + lumaX + 16, src + 16 * y);
    sad4x4_window(src, window.data(), winCols, side, t.Sad(list, 7, 0), t.sad_stride, t.sad_plane);

    if (run.input.RDOptimization == 0) {
        const int zx = lumaX - cx, zy = lumaY - cy;
        for (int p = 0; p < side * side; ++p)
            if (t.spiral_x[static_cast<size_t>(p)] == zx && t.spiral_y[static_cast<size_t>(p)] == zy) {
                t.pos_00[L] = p;
                break;
            }
    }
    sum_block_sads(t, list, static_cast<size_t>(side) * static_cast<size_t>(t.sad_stride));
    t.setup_done[L] = 1;
}

int integer_pel_search(EncoderRun &run, int r, int bx, int by, int type, int px, int py, int range, int start,
                       int *vx, int *vy)
{
    MotionSearchTables &t = run.search;
    const int list = search_list_index(run, r);
    const size_t L = static_cast<size_t>(list);
    if (!t.setup_done[L])
        setup_fast_integer_search(run, r);
    const int window = t.max_search_range[L];
    range = std::clamp(range, 0, window);
    const uint16_t *sad = t.Sad(list, type, BlockIndex(bx, by));
    const int lambda = run.motion.fixed_lambda;
    const int offX = t.center_x[L] - run.img.luma_x(), offY = t.center_y[L] - run.img.luma_y();

    // Every position of the square of `range` around the centre: the least SAD plus vector cost, of
    // equal ones the first in spiral order (what a scan in spiral order keeping only strictly lower
    // costs finds).
    const int n = 2 * range + 1;
    thread_local std::vector<uint16_t> xbits;
    thread_local std::vector<int> ybits;
    xbits.resize(static_cast<size_t>(n) + 8);
    ybits.resize(static_cast<size_t>(n));
    for (int k = 0; k < n; ++k) {
        xbits[static_cast<size_t>(k)] = static_cast<uint16_t>(t.mvbits(4 * (offX + k - range) - px));
        ybits[static_cast<size_t>(k)] = t.mvbits(4 * (offY + k - range) - py);
    }
    PositionScan scan;
    scan.sad = sad + (window - range) * (t.sad_stride + 1);
    scan.sad_stride = t.sad_stride;
    scan.n = n;
    scan.xbits = xbits.data();
    scan.ybits = ybits.data();
    scan.rank_stride = 2 * t.search_range + 1;
    scan.rank = t.spiral_rank.data() + (t.search_range - range) * (scan.rank_stride + 1);
    scan.lambda = lambda;
    int row = 0, col = 0;
    const int least = least_cost_position(scan, &row, &col);

    // Without rate-distortion decisions the zero vector is tried first and keeps equal costs.
    if (run.input.RDOptimization == 0) {
        const size_t p = static_cast<size_t>(t.pos_00[L]);
        const int zx = t.spiral_x[p] + window, zy = t.spiral_y[p] + window;
        const int cost = sad[zy * t.sad_stride + zx] + ((lambda * (t.mvbits(-px) + t.mvbits(-py))) >> 16);
        if (cost < start && cost <= least) {
            *vx = offX + t.spiral_x[p];
            *vy = offY + t.spiral_y[p];
            return cost;
        }
    }
    if (least < start) {
        *vx = offX + col - range;
        *vy = offY + row - range;
        return least;
    }
    *vx = offX;
    *vy = offY;
    return start;
}

} // namespace h264enc
