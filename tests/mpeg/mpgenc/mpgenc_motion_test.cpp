// Motion estimation and prediction of the encoder: the fast kernels against their plain forms, the
// dual-prime vectors by their closed formulas, the spiral search on a known displacement, the frame
// or field DCT choice, the intra code table against our decoder's, and field pictures in a run.
#include "mpeg/mpgdec/mpgdec_vlc.h"
#include "mpeg/mpgenc/encoder_support.h"
#include "mpeg/mpgenc/mpgenc.h"
#include "mpeg/mpgenc/mpgenc_dct.h"
#include "mpeg/mpgenc/mpgenc_distortion.h"
#include "mpeg/mpgenc/mpgenc_motion.h"
#include "mpeg/mpgenc/mpgenc_predict.h"
#include "mpeg/mpgenc/mpgenc_quant.h"
#include "mpeg/mpgenc/mpgenc_source.h"
#include "mpeg/mpgenc/mpgenc_tables.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace mpgenc_motion_test { // one namespace per test file: a folder compiles as one source

using namespace zntest;

namespace {

std::vector<uint8_t> RandomPlane(size_t n, std::mt19937 &rng, int lo = 0, int hi = 255)
{
    std::uniform_int_distribution<int> d(lo, hi);
    std::vector<uint8_t> v(n);
    for (auto &x : v)
        x = static_cast<uint8_t>(d(rng));
    return v;
}

} // namespace

TEST(MpegEncoderKernels, FastDistortionsEqualThePlainOnes)
{
    std::mt19937 rng(7);
    const int stride = 48;
    // Random samples, and the extremes that make the largest sums and the roundings at .5.
    for (int kind = 0; kind < 3; ++kind)
        for (int trial = 0; trial < 60; ++trial) {
            std::vector<uint8_t> ref = RandomPlane(stride * 20, rng), cur = RandomPlane(stride * 20, rng);
            if (kind == 1)
                for (size_t i = 0; i < ref.size(); ++i) {
                    ref[i] = (i % 2) ? 255 : 0;
                    cur[i] = (i % 3) ? 0 : 255;
                }
            if (kind == 2)
                ref = RandomPlane(stride * 20, rng, 254, 255);
            for (int h : {8, 16})
                for (int hx = 0; hx < 2; ++hx)
                    for (int hy = 0; hy < 2; ++hy) {
                        for (int limit : {0, 500, 65536})
                            EXPECT_EQ(
                                SadBlock(ref.data() + 3, cur.data() + 5, stride, h, hx, hy, limit),
                                SadBlockPlain(ref.data() + 3, cur.data() + 5, stride, h, hx, hy, limit));
                        EXPECT_EQ(SseBlock(ref.data() + 1, cur.data(), stride, h, hx, hy),
                                  SseBlockPlain(ref.data() + 1, cur.data(), stride, h, hx, hy));
                        // Two references averaged: every pair of half-pel cases.
                        for (int q = 0; q < 4; ++q) {
                            const uint8_t *p0 = ref.data() + 2, *q0 = ref.data() + stride + 7,
                                          *c = cur.data() + 4;
                            EXPECT_EQ(SadInterpolated(p0, q0, c, stride, h, hx, hy, q & 1, q >> 1),
                                      SadInterpolatedPlain(p0, q0, c, stride, h, hx, hy, q & 1, q >> 1));
                            EXPECT_EQ(SseInterpolated(p0, q0, c, stride, h, hx, hy, q & 1, q >> 1),
                                      SseInterpolatedPlain(p0, q0, c, stride, h, hx, hy, q & 1, q >> 1));
                        }
                    }
            EXPECT_EQ(BlockVariance16(ref.data() + 5, stride), BlockVariance16Plain(ref.data() + 5, stride));
            EXPECT_EQ(BlockVariance16(cur.data(), stride), BlockVariance16Plain(cur.data(), stride));
            // Window sums stop after the line that passes the best: every height, and bests that stop
            // them at every line.
            for (int w : {4, 8, 16, 5})
                for (int h = 1; h <= 8; ++h)
                    for (int best : {-1, 0, 100, 300, 700, 1500, 1000000000})
                        EXPECT_EQ(SadArea(ref.data(), stride, cur.data() + 2, stride - 3, w, h, best),
                                  SadAreaPlain(ref.data(), stride, cur.data() + 2, stride - 3, w, h, best))
                            << w << "x" << h << " best " << best;
        }
}

// The window search finds the same position as the plain one: random pictures, pictures of a few
// levels (where many positions tie and the first in raster order must win), flat ones, and empty
// windows.
TEST(MpegEncoderKernels, FastWindowSearchEqualsThePlainOne)
{
    std::mt19937 rng(17);
    const int cols = 70, rows = 40;
    for (int kind = 0; kind < 3; ++kind)
        for (int trial = 0; trial < 40; ++trial) {
            std::vector<uint8_t> ref =
                                     RandomPlane(cols * rows + kWindowReadPast, rng, 0, kind == 1 ? 2 : 255),
                                 cur = RandomPlane(cols * rows, rng, 0, kind == 1 ? 2 : 255);
            if (kind == 2)
                std::fill(ref.begin(), ref.end(), uint8_t{77});
            for (int w : {4, 8, 16})
                for (int h : {1, 2, 4, 8, 16}) {
                    const int bx = (trial * 7) % (cols - w), by = (trial * 5) % (rows - h);
                    std::uniform_int_distribution<int> x(0, cols - w), y(0, rows - h);
                    int x0 = x(rng), x1 = x(rng), y0 = y(rng), y1 = y(rng);
                    if (trial % 4) { // an ordered window; every fourth may be empty
                        std::tie(x0, x1) = std::minmax(x0, x1);
                        std::tie(y0, y1) = std::minmax(y0, y1);
                    }
                    int fx = -1, fy = -1, px = -2, py = -2;
                    SadWindowSearch(ref.data(), cur.data(), cols, cols, w, h, bx, by, x0, x1, y0, y1, fx, fy);
                    SadWindowSearchPlain(ref.data(), cur.data(), cols, cols, w, h, bx, by, x0, x1, y0, y1, px,
                                         py);
                    ASSERT_EQ(fx, px)
                        << w << "x" << h << " window " << x0 << ".." << x1 << ", " << y0 << ".." << y1;
                    ASSERT_EQ(fy, py)
                        << w << "x" << h << " window " << x0 << ".." << x1 << ", " << y0 << ".." << y1;
                }
        }
}

TEST(MpegEncoderKernels, FastDownsamplingEqualsThePlainOne)
{
    std::mt19937 rng(19);
    for (int rows : {1, 2, 3, 4, 9, 16, 37})
        for (int cols : {2, 3, 16, 17, 31, 32, 33, 47, 90, 176}) {
            const int stride = cols + 5;
            for (int extreme = 0; extreme < 2; ++extreme) {
                std::vector<uint8_t> src = RandomPlane(static_cast<size_t>(stride) * rows, rng);
                if (extreme)
                    for (size_t i = 0; i < src.size(); ++i)
                        src[i] = (i / 3) % 2 ? 255 : 0;
                std::vector<uint8_t> a(static_cast<size_t>(rows / 2) * (cols / 2) + 1, 7), b = a;
                Downsample2(src.data(), a.data(), rows, cols, stride);
                Downsample2Plain(src.data(), b.data(), rows, cols, stride);
                ASSERT_EQ(a, b) << rows << " x " << cols;
            }
        }
}

// The divisions by multiplication are exact over the whole range of their numerators, at every
// divisor the quantisers can meet.
TEST(MpegEncoderKernels, ExactDivisorsDivideExactly)
{
    std::mt19937 rng(5);
    std::uniform_int_distribution<uint32_t> n(0, (1u << 22) - 1);
    for (uint32_t d = 1; d <= 2046; ++d) {
        const ExactDivisor div(d);
        for (uint32_t v : {0u, 1u, d - 1, d, d + 1, 2 * d - 1, (1u << 22) - 1, (1u << 22) - d, 1048703u})
            ASSERT_EQ(div.Divide(v), v / d) << v << " / " << d;
        for (int k = 0; k < 200; ++k) {
            const uint32_t v = n(rng);
            ASSERT_EQ(div.Divide(v), v / d) << v << " / " << d;
            const uint32_t multiple = v / d * d; // the edges of each quotient
            ASSERT_EQ(div.Divide(multiple), multiple / d);
            if (multiple) {
                ASSERT_EQ(div.Divide(multiple - 1), (multiple - 1) / d);
            }
        }
    }
}

TEST(MpegEncoderKernels, FastQuantisersEqualThePlainOnes)
{
    std::mt19937 rng(13);
    std::uniform_int_distribution<int> weight(1, 255), small(-40, 40), wide(-2048, 2047), any(-32768, 32767);
    std::vector<std::vector<uint8_t>> matrices = {std::vector<uint8_t>(64, 16), std::vector<uint8_t>(64, 1),
                                                  std::vector<uint8_t>(64, 255)};
    for (int m = 0; m < 4; ++m) {
        std::vector<uint8_t> w(64);
        for (uint8_t &x : w)
            x = static_cast<uint8_t>(weight(rng));
        matrices.push_back(w);
    }
    for (const std::vector<uint8_t> &matrix : matrices) {
        FastQuantiser fast(matrix.data());
        for (int trial = 0; trial < 300; ++trial) {
            int16_t src[64];
            for (int i = 0; i < 64; ++i) {
                const int kind = (trial + i) % 5;
                src[i] = static_cast<int16_t>(kind == 0   ? any(rng)
                                              : kind == 1 ? wide(rng)
                                              : kind == 2 ? (trial % 2 ? -32768 : 32767)
                                                          : small(rng));
            }
            const int mquant = trial < 124 ? 1 + trial / 2 : trial % 3 ? 62 : trial % 7 ? 1000 : 4000;
            for (bool mpeg1 : {true, false}) {
                int16_t a[64], b[64];
                const int dcPrec = trial % 4;
                ASSERT_EQ(QuantIntra(src, a, dcPrec, matrix.data(), mquant, mpeg1),
                          fast.Intra(src, b, dcPrec, mquant, mpeg1));
                ASSERT_TRUE(std::equal(a, a + 64, b)) << "intra, quantiser " << mquant;
                ASSERT_EQ(QuantNonIntra(src, a, matrix.data(), mquant, mpeg1),
                          fast.NonIntra(src, b, mquant, mpeg1));
                ASSERT_TRUE(std::equal(a, a + 64, b)) << "non-intra, quantiser " << mquant;
                // In place, as the encoder quantises its blocks.
                std::copy(src, src + 64, b);
                fast.NonIntra(b, b, mquant, mpeg1);
                ASSERT_TRUE(std::equal(a, a + 64, b)) << "non-intra in place, quantiser " << mquant;
                // The inverse forms on levels as a quantiser leaves them (at most 2047 in size; the
                // products stay within an int up to a quantiser of 1000): these, the same made sparse,
                // and none at all.
                if (mquant > 1000)
                    continue;
                int16_t levels[64];
                for (int i = 0; i < 64; ++i) {
                    const int16_t level = static_cast<int16_t>(std::clamp<int>(src[i], -2047, 2047));
                    levels[i] = static_cast<int16_t>(trial % 3 == 0   ? level
                                                     : trial % 3 == 1 ? (i % 9 ? 0 : level)
                                                                      : 0);
                }
                DequantIntra(levels, a, dcPrec, matrix.data(), mquant, mpeg1);
                DequantIntraFast(levels, b, dcPrec, matrix.data(), mquant, mpeg1);
                ASSERT_TRUE(std::equal(a, a + 64, b)) << "inverse intra, quantiser " << mquant;
                DequantNonIntra(levels, a, matrix.data(), mquant, mpeg1);
                std::copy(levels, levels + 64, b);
                DequantNonIntraFast(b, b, matrix.data(), mquant, mpeg1);
                ASSERT_TRUE(std::equal(a, a + 64, b)) << "inverse non-intra, quantiser " << mquant;
            }
        }
    }
}

// The reconstruction leaves uncoded blocks as their prediction because this holds.
TEST(MpegEncoderKernels, UncodedBlocksReconstructToZero)
{
    EXPECT_TRUE(UncodedBlockIsZero());
    for (bool mpeg1 : {true, false}) {
        int16_t b[64] = {};
        const std::vector<uint8_t> flat(64, 16);
        DequantNonIntra(b, b, flat.data(), 62, mpeg1);
        Idct(b);
        EXPECT_TRUE(std::all_of(b, b + 64, [](int16_t v) { return v == 0; })) << "MPEG-" << (mpeg1 ? 1 : 2);
    }
}

TEST(MpegEncoderKernels, FastForwardDctEqualsThePlainOne)
{
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> d(-255, 255);
    for (int trial = 0; trial < 3000; ++trial) {
        int16_t a[64], b[64];
        for (int i = 0; i < 64; ++i)
            a[i] = static_cast<int16_t>(trial % 3 == 0 ? ((i + trial) % 2 ? 255 : -255) : d(rng));
        std::copy(a, a + 64, b);
        int16_t c[64];
        std::copy(a, a + 64, c);
        ForwardDct(a);
        ForwardDctPlain(b);
        ForwardDctTwoLanes(c);
        ASSERT_TRUE(std::equal(a, a + 64, b)) << "trial " << trial;
        ASSERT_TRUE(std::equal(c, c + 64, b)) << "two lanes, trial " << trial;
    }
}

TEST(MpegEncoderPrediction, DualPrimeVectorsByTheirClosedFormulas)
{
    // h(v) = (v + (v > 0)) >> 1 and g(v) = (3 v + (v > 0)) >> 1, rounding halves away from zero.
    struct Case
    {
        int mx, my, ex, ey, pictStruct, topFirst;
        int expect[2][2];
    };
    const Case cases[] = {
        {5, 3, 1, -1, FRAME_PICTURE, 1, {{3 + 1, 2 - 1 - 1}, {8 + 1, 5 - 1 + 1}}},
        {5, 3, 1, -1, FRAME_PICTURE, 0, {{8 + 1, 5 - 1 - 1}, {3 + 1, 2 - 1 + 1}}},
        {-5, -3, 0, 1, FRAME_PICTURE, 1, {{-3, -2 + 1 - 1}, {-8, -5 + 1 + 1}}},
        {-1, 0, -1, 0, TOP_FIELD, 1, {{-1 - 1, 0 - 1}, {0, 0}}},
        {7, -7, 0, 0, BOTTOM_FIELD, 0, {{4, -4 + 1}, {0, 0}}},
    };
    for (const Case &c : cases) {
        const int dmv[2] = {c.ex, c.ey};
        int v[2][2];
        DualPrimeVectors(v, dmv, c.mx, c.my, c.pictStruct, c.topFirst);
        EXPECT_EQ(v[0][0], c.expect[0][0]) << c.mx << "," << c.my;
        EXPECT_EQ(v[0][1], c.expect[0][1]) << c.mx << "," << c.my;
        if (c.pictStruct == FRAME_PICTURE) {
            EXPECT_EQ(v[1][0], c.expect[1][0]) << c.mx << "," << c.my;
            EXPECT_EQ(v[1][1], c.expect[1][1]) << c.mx << "," << c.my;
        }
    }
}

TEST(MpegEncoderMotion, SpiralSearchFindsADisplacedBlockAndKeepsTheCentreOfAFlatField)
{
    std::mt19937 rng(3);
    const int w = 96, h = 64;
    const std::vector<uint8_t> ref = RandomPlane(static_cast<size_t>(w) * h, rng);
    // The current block is the reference at (40 + 5, 24 - 3): the search around (40, 24) finds it
    // exactly, at a whole pel, with no error.
    std::vector<uint8_t> cur(ref.size(), 0);
    for (int j = 0; j < 16; ++j)
        for (int i = 0; i < 16; ++i)
            cur[static_cast<size_t>((24 + j) * w + 40 + i)] = ref[static_cast<size_t>((21 + j) * w + 45 + i)];
    const RefPlane plane{ref.data(), ref.data()};
    const SearchResult r =
        MpegMotionEstimator::FullSearch(plane, cur.data() + 24 * w + 40, 40, 24, 7, 7, 16, w, h, w);
    EXPECT_EQ(r.x, 2 * 45);
    EXPECT_EQ(r.y, 2 * 21);
    EXPECT_EQ(r.dist, 0);
    // Out of reach (7 pels), the displacement cannot be found; the search stays inside the picture.
    const SearchResult near =
        MpegMotionEstimator::FullSearch(plane, cur.data() + 24 * w + 40, 40, 24, 3, 3, 16, w, h, w);
    EXPECT_GT(near.dist, 0);
    EXPECT_LE(std::abs(near.x - 80), 7);
    EXPECT_LE(std::abs(near.y - 48), 7);

    // A flat picture: every full-pel position ties and the centre, tested first, stays.
    const std::vector<uint8_t> flat(ref.size(), 77);
    const SearchResult f = MpegMotionEstimator::FullSearch(
        {flat.data(), flat.data()}, flat.data() + 16 * w + 32, 32, 16, 5, 5, 16, w, h, w);
    EXPECT_EQ(f.dist, 0);
    EXPECT_LE(std::abs(f.x - 64), 1);
    EXPECT_LE(std::abs(f.y - 32), 1);
}

TEST(MpegEncoderTransform, FieldDctWhereTheFieldsDifferAndNeverWhenProgressive)
{
    std::mt19937 rng(5);
    const int w = 64, h = 64;
    // Each field smooth on its own, the two unrelated: line pairs do not correlate.
    std::vector<uint8_t> y(static_cast<size_t>(w) * h);
    for (int j = 0; j < h; ++j)
        for (int i = 0; i < w; ++i)
            y[static_cast<size_t>(j * w + i)] = static_cast<uint8_t>(
                j % 2 ? 128 + 60 * std::sin(i * 0.7 + j * 0.3) : 128 + 60 * std::cos(i * 0.2 - j * 0.9));
    std::vector<uint8_t> grey(y.size(), 128), u(y.size() / 4, 128);
    for (int progressive = 0; progressive < 2; ++progressive) {
        MemoryFrameSource source(w, h, {}, progressive);
        MpegEncoder enc;
        zn::MessageRecorder messages;
        enc.WriteToMemory();
        MpegEncoderParams p;
        p.mpeg1 = 0;
        p.progressive = progressive;
        enc.SetParameters(p, &source);
        enc.InitQuantMatrices();
        ASSERT_TRUE(enc.init());
        MpegEncoderState &s = enc.MutableState();
        s.pict_struct = FRAME_PICTURE;
        s.frame_pred_dct = s.frame_pred_dct_tab[1];
        uint8_t *cur[3] = {y.data(), u.data(), u.data()}, *pred[3] = {grey.data(), u.data(), u.data()};
        enc.DctTypeEstimation(pred, cur);
        int field = 0;
        for (const MacroblockRecord &mb : enc.Macroblocks())
            field += mb.dct_type;
        if (progressive)
            EXPECT_EQ(field, 0);
        else
            EXPECT_GE(field, 14) << "of 16 macroblocks";
        enc.Close();
    }
}

TEST(MpegEncoderCodes, IntraTableAgreesWithTheDecodersTableOne)
{
    // Every pair the encoder sends with a code of the intra table must come back from our decoder's
    // table one as the same run and level with the same length; the pairs it covers are those of
    // table zero.
    const zn::mpgvlc::Table &one = zn::mpgvlc::Coefficients(false, true);
    int pairs = 0;
    for (int run = 0; run < 64; ++run)
        for (int level = 1; level <= 40; ++level) {
            const VlcCode *c = DctCodeTable1(run, level);
            EXPECT_EQ(c != nullptr, DctCodeTable0(run, level) != nullptr) << run << "/" << level;
            if (!c)
                continue;
            ++pairs;
            const uint32_t window = static_cast<uint32_t>(c->code) << (32 - c->len);
            const zn::mpgvlc::Entry &e = one.Look(window);
            EXPECT_EQ(e.len, c->len) << run << "/" << level;
            EXPECT_EQ(e.run, run) << run << "/" << level;
            EXPECT_EQ(e.value, level) << run << "/" << level;
        }
    EXPECT_EQ(pairs, 111); // the run/level pairs both tables carry
}

TEST(MpegEncoderSequence, FieldPicturesFollowTheFieldOrderAndAnIFrameEndsInAPField)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    ZN_REQUIRE_PHOTO("camera");
    ScratchDir dir;
    const std::vector<Frame420> pan = MakeColourPan(dir.Path(), 64, 64, 4, 2, 1, "camera", "", 500, 500);
    ASSERT_EQ(pan.size(), 4u);
    for (int topFirst = 0; topFirst < 2; ++topFirst) {
        MpegEncoderParams p;
        p.mpeg1 = 0;
        p.progressive = 0;
        p.fieldPictures = 1;
        p.topFieldFirst = topFirst;
        p.N = 3;
        p.M = 3;
        const EncodeResult r = EncodeFrames(p, 64, 64, pan, dir.File("f.mpg"), 0);
        ASSERT_EQ(r.reports.size(), 8u);
        std::string order, types;
        for (const MpegPictureReport &rep : r.reports) {
            order += std::to_string(rep.field);
            types += rep.type;
        }
        EXPECT_EQ(order, topFirst ? "01010101" : "10101010");
        // Coding order 1 (I frame: I then P field), 4 (I), 2, 3 (B fields).
        EXPECT_EQ(types, "IPIPBBBB");
        EXPECT_EQ(r.reports[0].frameNo, 1);
        EXPECT_EQ(r.reports[2].frameNo, 4);
    }
}

TEST(MpegEncoderMotion, DualPrimeOnlyWithoutBPictures)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    ZN_REQUIRE_PHOTO("camera");
    ScratchDir dir;
    const std::vector<Frame420> pan = MakeColourPan(dir.Path(), 176, 128, 5, 3, 1, "camera", "", 500, 500);
    ASSERT_EQ(pan.size(), 5u);
    for (int fieldPictures = 0; fieldPictures < 2; ++fieldPictures)
        for (int M : {1, 3}) {
            MpegEncoderParams p;
            p.mpeg1 = 0;
            p.progressive = 0;
            p.fieldPictures = fieldPictures;
            p.N = M == 1 ? 6 : 12;
            p.M = M;
            const EncodeResult r = EncodeFrames(p, 176, 128, pan, dir.File("d.mpg"), 0);
            int dualPrime = 0;
            for (const MpegPictureReport &rep : r.reports) {
                const std::string map = rep.statistics.substr(rep.statistics.find("\r\n\r\n"));
                dualPrime += static_cast<int>(std::count(map.begin(), map.end(), 'p'));
            }
            if (M == 3)
                EXPECT_EQ(dualPrime, 0) << "field pictures " << fieldPictures;
            else
                EXPECT_GT(dualPrime, 0) << "field pictures " << fieldPictures;
        }
}

} // namespace mpgenc_motion_test
