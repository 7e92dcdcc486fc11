// Motion search tables and the fast integer-sample search. The SAD of every 4x4 block of the
// macroblock at every window position is computed once per macroblock and reference; every larger
// block shape adds them up, and every block scans the positions in spiral order, so that near
// positions win ties and the vector cost is only computed for positions whose SAD alone could win.
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

void AddSads(int *__restrict dst, const int *__restrict a, const int *__restrict b, int count)
{
    for (int p = 0; p < count; ++p)
        dst[p] = a[p] + b[p];
}

// Every larger block shape from the two halves it is made of, smallest shapes first.
void sum_block_sads(MotionSearchTables &t, int list, int count)
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

// Whether any of the 8 SADs from `sad` is below `min`: most groups of positions are not, and those
// are passed over whole.
bool AnyBelow(const int *sad, int min)
{
#if defined(__SSE2__)
    const __m128i m = _mm_set1_epi32(min);
    const __m128i a = _mm_cmplt_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(sad)), m);
    const __m128i b = _mm_cmplt_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(sad + 4)), m);
    return _mm_movemask_epi8(_mm_or_si128(a, b)) != 0;
#else
    int any = 0;
    for (int k = 0; k < 8; ++k)
        any |= sad[k] < min ? 1 : 0;
    return any != 0;
#endif
}

} // namespace

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

    try {
        t.block_sad.assign(static_cast<size_t>(t.lists), std::vector<int>());
        for (auto &table : t.block_sad)
            table.assign(static_cast<size_t>(8 * 16) * static_cast<size_t>(t.positions), 0);
    } catch (const std::bad_alloc &) {
        out_of_memory_exit("InitializeFastFullIntegerSearch: BlockSAD");
    }
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
    // clamping line reader gives).
    const int side = 2 * range + 1, winSide = side + 15;
    thread_local std::vector<uint8_t> window;
    thread_local std::vector<int> sads;
    window.resize(static_cast<size_t>(winSide) * static_cast<size_t>(winSide));
    sads.resize(static_cast<size_t>(side) * static_cast<size_t>(side) * 16);
    const uint8_t *buf = ref.Refbuf11.data();
    const int x0 = cx - range, y0 = cy - range;
    const bool inside = x0 >= 0 && y0 >= 0 && x0 + winSide <= width && y0 + winSide <= height;
    for (int y = 0; y < winSide; ++y) {
        uint8_t *out = window.data() + static_cast<size_t>(y) * static_cast<size_t>(winSide);
        const int sy = inside ? y0 + y : std::clamp(y0 + y, 0, height - 1);
        const uint8_t *row = buf + static_cast<size_t>(sy) * static_cast<size_t>(width);
        if (inside) {
            std::copy(row + x0, row + x0 + winSide, out);
        } else {
            for (int x = 0; x < winSide; ++x)
                out[x] = row[std::clamp(x0 + x, 0, width - 1)];
        }
    }
    uint8_t src[256];
    const Array2D<uint8_t> &org_y = run.org->y;
    for (int y = 0; y < 16; ++y)
        std::copy(org_y[lumaY + y] + lumaX, org_y[lumaY + y] + lumaX + 16, src + 16 * y);
    sad4x4_window(src, window.data(), winSide, side, sads.data());

    // Spiral position of every window offset.
    int *sad7[16];
    for (int b = 0; b < 16; ++b)
        sad7[b] = t.Sad(list, 7, b);
    const int count = side * side;
    for (int p = 0; p < count; ++p) {
        const int dx = t.spiral_x[static_cast<size_t>(p)] + range,
                  dy = t.spiral_y[static_cast<size_t>(p)] + range;
        const int *s = sads.data() +
                       (static_cast<size_t>(dy) * static_cast<size_t>(side) + static_cast<size_t>(dx)) * 16;
        for (int b = 0; b < 16; ++b)
            sad7[b][p] = s[b];
    }
    if (run.input.RDOptimization == 0) {
        const int zx = lumaX - cx, zy = lumaY - cy;
        for (int p = 0; p < count; ++p)
            if (t.spiral_x[static_cast<size_t>(p)] == zx && t.spiral_y[static_cast<size_t>(p)] == zy) {
                t.pos_00[L] = p;
                break;
            }
    }
    sum_block_sads(t, list, count);
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
    range = std::min(range, t.max_search_range[L]);
    const int *sad = t.Sad(list, type, BlockIndex(bx, by));
    const int lambda = run.motion.fixed_lambda;
    const int offX = t.center_x[L] - run.img.luma_x(), offY = t.center_y[L] - run.img.luma_y();
    int min = start, best = 0;
    if (run.input.RDOptimization == 0) {
        best = t.pos_00[L];
        const int cost = sad[best] + ((lambda * (t.mvbits(-px) + t.mvbits(-py))) >> 16);
        if (cost < min)
            min = cost;
        else
            best = 0;
    }
    const int count = (2 * range + 1) * (2 * range + 1);
    for (int p = 0; p < count; ++p) {
        // A group of positions none of whose SADs alone beats the best cost is passed over at once.
        if ((p & 7) == 0 && p + 8 <= count && !AnyBelow(sad + p, min)) {
            p += 7;
            continue;
        }
        if (sad[p] >= min)
            continue;
        const int cx = offX + t.spiral_x[static_cast<size_t>(p)],
                  cy = offY + t.spiral_y[static_cast<size_t>(p)];
        const int cost = sad[p] + ((lambda * (t.mvbits(4 * cx - px) + t.mvbits(4 * cy - py))) >> 16);
        if (cost < min) {
            min = cost;
            best = p;
        }
    }
    *vx = offX + t.spiral_x[static_cast<size_t>(best)];
    *vy = offY + t.spiral_y[static_cast<size_t>(best)];
    return min;
}

} // namespace h264enc
