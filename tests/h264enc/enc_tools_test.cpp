// The coding tools' kernels and worked values: SATD, the SAD window, the least-cost scan and the
// quarter-sample SATD against their plain references and a matrix-product oracle, the quarter-sample
// reference plane against its reference and the decoder's own fetch at every position of the plane (its
// margin too), the search tables, temporal direct scaling, the intra 16x16 type number and the intra refresh
// order.
#include "h264dec/luma_interp.h"
#include "h264enc/enc_kernels.h"
#include "h264enc/enc_run.h"
#include "h264enc/intra_refresh.h"
#include "h264enc/mode_decision.h"
#include "h264enc/motion_search.h"
#include "h264enc/quarter_plane.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <vector>

namespace enc_tools_test { // one namespace per test file: a folder compiles as one source

namespace {

using namespace h264enc;

// The unnormalised 4x4 Hadamard transform as H x D x H, halved: the definition, not a butterfly.
int SatdByMatrices(const int d[16])
{
    static const int H[4][4] = {{1, 1, 1, 1}, {1, 1, -1, -1}, {1, -1, -1, 1}, {1, -1, 1, -1}};
    int sum = 0;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            int t = 0;
            for (int k = 0; k < 4; ++k)
                for (int l = 0; l < 4; ++l)
                    t += H[i][k] * d[4 * k + l] * H[l][j];
            sum += std::abs(t);
        }
    return sum / 2;
}

TEST(EncKernels, SatdFastEqualsReferenceAndTheMatrixDefinition)
{
    std::mt19937 rng(7);
    for (int trial = 0; trial < 4000; ++trial) {
        int d[16];
        for (int &v : d) {
            switch (trial % 4) {
            case 0:
                v = static_cast<int>(rng() % 511) - 255;
                break;
            case 1:
                v = rng() % 2 ? 255 : -255;
                break;
            case 2:
                v = trial % 8 < 4 ? 255 : -255;
                break;
            default:
                v = static_cast<int>(rng() % 7) - 3;
                break;
            }
        }
        for (bool hadamard : {false, true}) {
            int a[16], b[16];
            std::copy(d, d + 16, a);
            std::copy(d, d + 16, b);
            const int ref = satd4x4_reference(a, hadamard);
            ASSERT_EQ(satd4x4(b, hadamard), ref) << "trial " << trial << " hadamard " << hadamard;
            if (hadamard) {
                ASSERT_EQ(ref, SatdByMatrices(d));
            }
        }
    }
    // Sixteen differences of 1: 16 as a SAD; with Hadamard only the first coefficient (16) remains.
    int ones[16], ones2[16];
    std::fill(ones, ones + 16, 1);
    std::fill(ones2, ones2 + 16, 1);
    EXPECT_EQ(satd4x4(ones, false), 16);
    EXPECT_EQ(satd4x4(ones2, true), 8);
}

TEST(EncKernels, SadWindowFastEqualsReference)
{
    std::mt19937 rng(3);
    for (int side : {1, 3, 9, 33, 79}) {
        for (int kind = 0; kind < 3; ++kind) {
            const int outStride = (side + 14) / 8 * 8, winStride = outStride + 16 + kind;
            const size_t plane = static_cast<size_t>(side) * outStride + 5;
            std::vector<uint8_t> src(256), win(static_cast<size_t>(winStride) * (side + 15));
            auto sample = [&](size_t i) {
                return static_cast<uint8_t>(kind == 0 ? rng() % 256 : kind == 1 ? (i % 2) * 255 : 255);
            };
            for (size_t i = 0; i < src.size(); ++i)
                src[i] = kind == 2 ? 0 : sample(i);
            for (size_t i = 0; i < win.size(); ++i)
                win[i] = sample(i / 3);
            std::vector<uint16_t> fast(plane * 16), ref(plane * 16);
            sad4x4_window(src.data(), win.data(), winStride, side, fast.data(), outStride, plane);
            sad4x4_window_reference(src.data(), win.data(), winStride, side, ref.data(), outStride, plane);
            for (int b = 0; b < 16; ++b)
                for (int dy = 0; dy < side; ++dy)
                    for (int dx = 0; dx < side; ++dx) {
                        const size_t at =
                            static_cast<size_t>(b) * plane + static_cast<size_t>(dy * outStride + dx);
                        ASSERT_EQ(fast[at], ref[at]) << "side " << side << " kind " << kind << " block " << b;
                    }
        }
    }
}

TEST(EncKernels, LeastCostScanFastEqualsReference)
{
    // Random costs, every position tied (the rank decides), costs at and past the 16-bit limit, and
    // lambdas whose bits could overflow a 16-bit lane: the fast scan must give the same cost and
    // position every time.
    std::mt19937 rng(12);
    struct Case
    {
        const char *name;
        int sadLo, sadHi, bitsHi, lambda;
    };
    const Case cases[] = {
        {"random", 0, 4080, 41, 25 << 16},
        {"fractional lambda", 0, 65280, 41, (51 << 16) + 32767},
        {"all tied", 500, 500, 1, 7 << 16},
        {"few values", 0, 2, 3, 1 << 16},
        {"at the limit", 65200, 65280, 41, 91 << 16},
        {"saturated", 65280, 65280, 41, (91 << 16) + 65535},
        {"overflowing bits", 0, 100, 3000, 900 << 16},
        {"zero lambda", 0, 3, 41, 0},
    };
    for (const Case &c : cases)
        for (int n : {1, 2, 7, 8, 9, 33, 79})
            for (int trial = 0; trial < 6; ++trial) {
                const int stride = (n + 14) / 8 * 8 + 8 * (trial % 2), rankStride = n + trial;
                std::vector<uint16_t> sad(static_cast<size_t>(stride) * n + 8),
                    xbits(static_cast<size_t>(n) + 8);
                std::vector<int> ybits(static_cast<size_t>(n)), rank(static_cast<size_t>(rankStride) * n);
                auto between = [&](int lo, int hi) {
                    return lo + static_cast<int>(rng() % static_cast<unsigned>(hi - lo + 1));
                };
                for (auto &v : sad)
                    v = static_cast<uint16_t>(between(c.sadLo, c.sadHi));
                for (auto &v : xbits)
                    v = static_cast<uint16_t>(between(1, c.bitsHi));
                for (auto &v : ybits)
                    v = between(1, c.bitsHi);
                for (size_t k = 0; k < rank.size(); ++k)
                    rank[k] = static_cast<int>(k);
                std::shuffle(rank.begin(), rank.end(), rng);
                PositionScan s;
                s.sad = sad.data();
                s.sad_stride = stride;
                s.n = n;
                s.xbits = xbits.data();
                s.ybits = ybits.data();
                s.rank = rank.data();
                s.rank_stride = rankStride;
                s.lambda = c.lambda;
                int fr = 0, fc = 0, rr = 0, rc = 0;
                const int fast = least_cost_position(s, &fr, &fc);
                const int plain = least_cost_position_reference(s, &rr, &rc);
                ASSERT_EQ(fast, plain) << c.name << " n " << n << " trial " << trial;
                ASSERT_EQ(fr, rr) << c.name << " n " << n << " trial " << trial;
                ASSERT_EQ(fc, rc) << c.name << " n " << n << " trial " << trial;
            }
}

TEST(EncKernels, QuarterStripSatdFastEqualsReference)
{
    // Both strip widths, SAD and Hadamard, every phase, random and extreme samples (all 255 against
    // all 0, and a checkerboard of the two).
    std::mt19937 rng(21);
    const int planeStride = 4 * 24 + 5;
    std::vector<uint8_t> plane(static_cast<size_t>(planeStride) * 4 * 20), src(24 * 20);
    for (int kind = 0; kind < 3; ++kind)
        for (int trial = 0; trial < 200; ++trial) {
            for (auto &v : plane)
                v = static_cast<uint8_t>(kind == 0 ? rng() % 256 : kind == 1 ? 0 : (rng() % 2) * 255);
            for (auto &v : src)
                v = static_cast<uint8_t>(kind == 0 ? rng() % 256 : kind == 1 ? 255 : (rng() % 2) * 255);
            for (bool wide : {false, true})
                for (bool hadamard : {false, true}) {
                    const int w = wide ? 8 : 4;
                    const int x = static_cast<int>(rng() % static_cast<unsigned>(24 - w + 1)),
                              y = static_cast<int>(rng() % 17), phase = static_cast<int>(rng() % 16);
                    const uint8_t *s = src.data() + y * 24 + x;
                    const uint8_t *r = plane.data() + (4 * y + phase / 4) * planeStride + 4 * x + phase % 4;
                    int fast[2] = {-1, -1}, plain[2] = {-2, -2};
                    quarter_strip_satd(s, 24, r, planeStride, wide, hadamard, fast);
                    quarter_strip_satd_reference(s, 24, r, planeStride, wide, hadamard, plain);
                    ASSERT_EQ(fast[0], plain[0]) << kind << " " << wide << " " << hadamard;
                    ASSERT_EQ(fast[1], plain[1]) << kind << " " << wide << " " << hadamard;
                }
            uint8_t fast[16], plain[16];
            const uint8_t *r = plane.data() + 3 * planeStride + 2;
            gather_quarter4x4(r, planeStride, fast);
            for (int v = 0; v < 4; ++v)
                for (int u = 0; u < 4; ++u)
                    plain[4 * v + u] = r[4 * v * planeStride + 4 * u];
            ASSERT_EQ(std::vector<uint8_t>(fast, fast + 16), std::vector<uint8_t>(plain, plain + 16));
        }
}

h264enc::Array2D<uint8_t> LumaPicture(int w, int h, int kind, unsigned seed)
{
    std::mt19937 rng(seed);
    h264enc::Array2D<uint8_t> a;
    a.allocate(h, w, "test");
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            a[y][x] = static_cast<uint8_t>(kind == 0   ? rng() % 256
                                           : kind == 1 ? ((x + y) % 2) * 255
                                                       : (rng() % 2) * 255);
    return a;
}

TEST(EncKernels, QuarterPlaneEqualsItsReferenceAndTheDecodersFetchEverywhere)
{
    for (int kind = 0; kind < 3; ++kind) {
        const int w = 24, h = 20;
        const h264enc::Array2D<uint8_t> luma = LumaPicture(w, h, kind, 11u + kind);
        h264enc::Array2D<int> work, work2;
        h264enc::Array2D<uint8_t> fast, ref;
        fast.allocate(4 * h + 32, 4 * w + 32, "test");
        ref.allocate(4 * h + 32, 4 * w + 32, "test");
        interpolate_quarter_plane(luma, work, fast);
        interpolate_quarter_plane_reference(luma, work2, ref);
        ASSERT_EQ(std::vector<uint8_t>(fast.data(), fast.data() + fast.rows() * fast.cols()),
                  std::vector<uint8_t>(ref.data(), ref.data() + ref.rows() * ref.cols()))
            << "kind " << kind;

        ::Array2D<uint8_t> decPlane;
        decPlane.Reset(h, w);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                decPlane[y][x] = luma[y][x];
        const LumaPlaneView view{&decPlane, w, h - 1};
        for (int y = -16; y < 4 * h + 16; ++y)
            for (int x = -16; x < 4 * w + 16; ++x) {
                int block[4][4];
                h264dec_luma_block_reference(view, x, y, block);
                ASSERT_EQ(fast[y + 16][x + 16], block[0][0])
                    << "kind " << kind << " at (" << x << ", " << y << ")";
            }
    }
}

// A run whose search tables and maps are set up for a w x h picture, as the run's set-up leaves them.
std::unique_ptr<EncoderRun> SmallRun(int w, int h, int search_range)
{
    auto run = std::make_unique<EncoderRun>();
    run->input.SourceWidth = w;
    run->input.SourceHeight = h;
    run->input.SearchRange = search_range;
    run->input.NumberReferenceFrames = 1;
    run->input.RestrictSearchRange = 2;
    init_image_geometry(run->input, run->img);
    Init_Motion_Search_Module(*run);
    return run;
}

TEST(EncMotionTables, SpiralAndVectorBitLengths)
{
    const auto run = SmallRun(16, 16, 1);
    const MotionSearchTables &t = run->search;
    const int xs[9] = {0, 0, 0, -1, 1, -1, 1, -1, 1}, ys[9] = {0, -1, 1, -1, -1, 0, 0, 1, 1};
    ASSERT_EQ(t.positions, 9);
    for (int p = 0; p < 9; ++p) {
        EXPECT_EQ(t.spiral_x[static_cast<size_t>(p)], xs[p]) << p;
        EXPECT_EQ(t.spiral_y[static_cast<size_t>(p)], ys[p]) << p;
    }
    const struct
    {
        int d, bits;
    } lengths[] = {{0, 1},  {1, 3}, {-1, 3}, {2, 5}, {-2, 5}, {3, 5},
                   {-3, 5}, {4, 7}, {-4, 7}, {7, 7}, {-7, 7}, {8, 9}};
    for (const auto &l : lengths)
        EXPECT_EQ(mv_bits(*run, l.d), l.bits) << l.d;
    // Far beyond the table the signed Exp-Golomb length itself: 1000 is code 1999, 2 x 10 + 1 bits.
    EXPECT_EQ(mv_bits(*run, 1000), 21);
    EXPECT_EQ(mv_bits(*run, -1000), 21);
}

TEST(EncMotionTables, TemporalDirectScalesTheCoLocatedVectorByOrderCounts)
{
    // References at order counts 0 and 4, the B picture at 2 between them: scale 128; the co-located
    // vector (8, -3) with reference 0 gives forward (4, -1) and backward (-4, 2).
    const auto run = SmallRun(16, 16, 1);
    run->input.DirectModeType = 0;
    run->tr_forward = 0;
    run->tr_backward = 4;
    run->img.toppoc = 2;
    run->img.mb_x = run->img.mb_y = 0;
    MotionMaps &m = run->img.maps;
    std::fill(m.ref_map.begin(), m.ref_map.end(), 0);
    std::fill(m.mv_map.begin(), m.mv_map.end(), std::array<int, 2>{8, -3});
    m.ref_map[m.At(3, 3)] = -1; // an intra co-located block: no vectors, no forward reference
    compute_direct_vectors(*run);
    const MacroblockMotion &mo = run->motion;
    EXPECT_EQ(mo.direct_fw[0][0], (std::array<int, 2>{4, -1}));
    EXPECT_EQ(mo.direct_bw[0][0], (std::array<int, 2>{-4, 2}));
    EXPECT_EQ(mo.direct_fw_ref[0][0], 0);
    EXPECT_EQ(mo.direct_fw[3][3], (std::array<int, 2>{0, 0}));
    EXPECT_EQ(mo.direct_bw[3][3], (std::array<int, 2>{0, 0}));
    EXPECT_EQ(mo.direct_map_fw_ref[3][3], -1);
}

TEST(EncModeDecision, Intra16x16TypeNumber)
{
    EXPECT_EQ(intra16x16_mb_type(0x23, 2), 23); // 1 + 2 + 4 x 2 + 12
    EXPECT_EQ(intra16x16_mb_type(0x00, 0), 1);
    EXPECT_EQ(intra16x16_mb_type(0x0f, 3), 16);
    EXPECT_EQ(intra16x16_mb_type(0x10, 1), 6);
}

TEST(EncIntraRefresh, QcifWalkOfTenTakesTheOrderInGroupsAcrossRuns)
{
    // The order by its definition: the program's generator seeded with 1, free slots filled in turn.
    const int n = 99;
    std::vector<int> order(n, -1);
    unsigned seed = 1;
    for (int j = 0; j < n; ++j)
        for (;;) {
            seed = seed * 214013u + 2531011u;
            const int k = static_cast<int>((seed >> 16) & 32767) % n;
            if (order[static_cast<size_t>(k)] == -1) {
                order[static_cast<size_t>(k)] = j;
                break;
            }
        }
    intra_refresh_walk() = 0;
    IntraRefresh r;
    intra_refresh_init(r, 11, 9, 10);
    EXPECT_EQ(r.order, order);
    for (int picture = 1; picture <= 10; ++picture) {
        intra_refresh_next_picture(r);
        for (int i = 0; i < 10; ++i) {
            const int pos = (10 * picture + i) % n; // the ninth picture: 90..98 and 0; the tenth 1..10
            EXPECT_TRUE(intra_refresh_forced(r, order[static_cast<size_t>(pos)])) << picture << " " << i;
        }
    }
    int forced = 0;
    for (int mb = 0; mb < n; ++mb)
        forced += intra_refresh_forced(r, mb);
    EXPECT_EQ(forced, 10);
    intra_refresh_free(r);
    // A second run goes on where the first stopped.
    IntraRefresh second;
    intra_refresh_init(second, 11, 9, 10);
    intra_refresh_next_picture(second);
    EXPECT_TRUE(intra_refresh_forced(second, order[110 % n]));
    intra_refresh_free(second);

    IntraRefresh none;
    intra_refresh_init(none, 11, 9, 0);
    intra_refresh_next_picture(none);
    for (int mb = 0; mb < n; ++mb)
        EXPECT_EQ(intra_refresh_forced(none, mb), 0);
}

} // namespace

} // namespace enc_tools_test
