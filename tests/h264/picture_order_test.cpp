// Streams of several pictures: the order I0 P3 B1 B2 (decoding order for the views and texts, output
// order for the document), the exact per-picture texts, bi-prediction, spatial and temporal direct,
// explicit and implicit weights, long-term references and one deblocked edge. Expected pictures come
// from the test's model; every stream is checked in CAVLC and in CABAC.
#include "h264/support/picture_model.h"
#include "h264/support/stream_plan.h"
#include "h264dec/decoder_state.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace picture_order_test { // one namespace per test file: a folder compiles as one source

namespace {

using namespace h264test;

constexpr int kQp = 28;

int Clip(int v)
{
    return std::clamp(v, 0, 255);
}

void ExpectPicture(const Picture &want, const Picture &got, const std::string &what)
{
    ASSERT_EQ(FirstDifference(want, got), "") << what;
}

// Whole-macroblock motion of one picture, for the vector predictor of each list.
struct MotionRecord
{
    int w;
    std::vector<MbMotion> list[2];
    explicit MotionRecord(int width, int n) : w(width)
    {
        list[0].resize(static_cast<size_t>(n));
        list[1].resize(static_cast<size_t>(n));
    }
    // Sets the macroblock's motion (reference m.ref of each list used) and the differences to code.
    void Code(MbSpec &m, int k, const int mv[2][2], bool uses0, bool uses1)
    {
        for (int l = 0; l < 2; ++l) {
            const bool uses = l == 0 ? uses0 : uses1;
            int px = 0, py = 0;
            if (uses)
                Predict16x16(list[l], w, k % w, k / w, m.ref[l], px, py);
            m.mvd[l][0] = mv[l][0] - px;
            m.mvd[l][1] = mv[l][1] - py;
            list[l][static_cast<size_t>(k)] =
                MbMotion{true, uses ? m.ref[l] : -1, {uses ? mv[l][0] : 0, uses ? mv[l][1] : 0}};
        }
    }
    void Intra(int k)
    {
        list[0][static_cast<size_t>(k)] = list[1][static_cast<size_t>(k)] = MbMotion{true, -1, {0, 0}};
    }
};

// I0 (textured), then P3 with the given vectors (an intra macroblock where the vector is absent).
struct Scene
{
    static constexpr int kW = 3, kH = 2, kN = kW * kH;
    StreamPlan plan;
    Picture i0, p3;
    std::vector<std::array<int, 2>> p3mv; // {INT_MIN, 0} for intra
    std::vector<bool> p3intra;

    Scene(const std::vector<std::array<int, 2>> &moves, bool withIntra)
    {
        plan.width_mbs = kW;
        plan.height_mbs = kH;
        const auto intra = TexturedIntra(kN, 17);
        plan.pictures.push_back(MakePicture(7, 0, 0, intra));
        i0 = IntraDcPicture(kW, kH, intra, std::vector<int>(kN, 0), kQp);
        p3 = Picture(16 * kW, 16 * kH);
        MotionRecord rec(kW, kN);
        std::vector<MbSpec> mbs;
        for (int k = 0; k < kN; ++k) {
            const bool isIntra = withIntra && k == 4;
            p3intra.push_back(isIntra);
            if (isIntra) {
                // A flat intra macroblock: its DC prediction from the P samples around it.
                MbSpec m = MbSpec::I16(7);
                mbs.push_back(m);
                rec.Intra(k);
                p3mv.push_back({0, 0});
                continue;
            }
            const int mv[2][2] = {{moves[static_cast<size_t>(k)][0], moves[static_cast<size_t>(k)][1]},
                                  {0, 0}};
            MbSpec m;
            m.kind = MbKind::P16x16;
            rec.Code(m, k, mv, true, false);
            mbs.push_back(m);
            p3mv.push_back({mv[0][0], mv[0][1]});
            MotionCompensate(p3, i0, k % kW, k / kW, mv[0][0], mv[0][1]);
        }
        if (withIntra) {
            // DC from the row above (macroblock 1) and the left column (macroblock 3).
            const int X = 16, Y = 16;
            int s = 0;
            for (int t = 0; t < 16; ++t)
                s += p3.Y(Y - 1, X + t) + p3.Y(Y + t, X - 1);
            const int v = Clip((s + 16) / 32 + I16DcOffset(7, kQp));
            for (int y = 0; y < 16; ++y)
                for (int x = 0; x < 16; ++x)
                    p3.Y(Y + y, X + x) = v;
            for (int c = 0; c < 2; ++c) {
                const int cx = X / 2, cy = Y / 2;
                int sum[4] = {};
                for (int t = 0; t < 4; ++t) {
                    sum[0] += p3.C(c, cy - 1, cx + t);
                    sum[1] += p3.C(c, cy - 1, cx + 4 + t);
                    sum[2] += p3.C(c, cy + t, cx - 1);
                    sum[3] += p3.C(c, cy + 4 + t, cx - 1);
                }
                int dc[2][2];
                ChromaDcPrediction(sum, true, true, dc);
                for (int y = 0; y < 8; ++y)
                    for (int x = 0; x < 8; ++x)
                        p3.C(c, cy + y, cx + x) = dc[x / 4][y / 4];
            }
        }
        plan.pictures.push_back(MakePicture(5, 1, 6, mbs));
    }

    // Both directions of block samples combined as unweighted bi-prediction.
    static int Bi(int a, int b) { return (a + b + 1) / 2; }
};

// The B picture as a function of each 4x4 block's two vectors (list 0 from I0, list 1 from P3).
template <class F> Picture BiPicture(const Scene &s, F vectors)
{
    Picture out(16 * Scene::kW, 16 * Scene::kH);
    for (int by = 0; by < out.h / 4; ++by)
        for (int bx = 0; bx < out.w / 4; ++bx) {
            int v[2][2];
            bool use[2] = {true, true};
            vectors(bx, by, v, use);
            auto combine = [&](int p0, int p1) {
                return use[0] && use[1] ? Scene::Bi(p0, p1) : use[0] ? p0 : p1;
            };
            for (int y = 0; y < 4; ++y)
                for (int x = 0; x < 4; ++x) {
                    const int X = 4 * bx + x, Y = 4 * by + y;
                    out.Y(Y, X) = combine(LumaQpel(s.i0, 4 * X + v[0][0], 4 * Y + v[0][1]),
                                          LumaQpel(s.p3, 4 * X + v[1][0], 4 * Y + v[1][1]));
                }
            for (int c = 0; c < 2; ++c)
                for (int y = 0; y < 2; ++y)
                    for (int x = 0; x < 2; ++x) {
                        const int X = 2 * bx + x, Y = 2 * by + y;
                        out.C(c, Y, X) = combine(ChromaEighth(s.i0, c, 8 * X + v[0][0], 8 * Y + v[0][1]),
                                                 ChromaEighth(s.p3, c, 8 * X + v[1][0], 8 * Y + v[1][1]));
                    }
        }
    return out;
}

DecodeRunResult RunPlan(const StreamPlan &plan, bool cabac)
{
    DecodeRunResult r = DecodeRun(plan.Write(cabac));
    EXPECT_FALSE(r.failed) << r.message;
    return r;
}

const std::vector<std::array<int, 2>> kP3Moves = {{{6, -3}},  {{1, -1}}, {{0, 0}},
                                                  {{-9, 14}}, {{2, 1}},  {{0, 0}}};

TEST(H264PictureOrder, I0P3B1B2GoOutInDisplayOrderWithExactTexts)
{
    Scene s(kP3Moves, true);
    // B1: bi-predicted macroblocks without motion; B2: forward, backward and both, with motion.
    std::vector<MbSpec> b1(Scene::kN, MbSpec::B(2, 0, 0, 0, 0));
    MotionRecord rec(Scene::kW, Scene::kN);
    std::vector<MbSpec> b2;
    const int mvs[6][2][2] = {{{4, 0}, {0, 0}},   {{0, 0}, {-6, 2}}, {{5, 3}, {-1, 7}},
                              {{-2, -2}, {0, 0}}, {{0, 0}, {3, -5}}, {{1, 9}, {2, 2}}};
    const int dirs[6] = {0, 1, 2, 0, 1, 2};
    for (int k = 0; k < Scene::kN; ++k) {
        MbSpec m;
        m.kind = MbKind::B16x16;
        m.dir = dirs[k];
        rec.Code(m, k, mvs[k], dirs[k] != 1, dirs[k] != 0);
        b2.push_back(m);
    }
    s.plan.pictures.push_back(MakePicture(6, 2, 2, b1, 0, 0));
    s.plan.pictures.push_back(MakePicture(6, 2, 4, b2, 0, 0));

    const Picture wantB1 =
        BiPicture(s, [](int, int, int v[2][2], bool *) { v[0][0] = v[0][1] = v[1][0] = v[1][1] = 0; });
    const Picture wantB2 = BiPicture(s, [&](int bx, int by, int v[2][2], bool *use) {
        const int k = (by / 4) * Scene::kW + bx / 4;
        for (int l = 0; l < 2; ++l) {
            v[l][0] = mvs[k][l][0];
            v[l][1] = mvs[k][l][1];
            use[l] = dirs[k] == 2 || dirs[k] == l;
        }
    });

    for (const bool cabac : {false, true}) {
        DecodeRunResult r = RunPlan(s.plan, cabac);
        ASSERT_EQ(r.pictures, 4);
        // Views see decoding order, the document display order.
        EXPECT_EQ(r.sink->decoded_types,
                  (std::vector<int>{kTypeIndexI, kTypeIndexP, kTypeIndexB, kTypeIndexB}));
        EXPECT_EQ(r.sink->output_types,
                  (std::vector<int>{kTypeIndexI, kTypeIndexB, kTypeIndexB, kTypeIndexP}));
        ASSERT_EQ(r.sink->output.size(), 4u);
        ExpectPicture(s.i0, r.sink->output[0], "I0");
        ExpectPicture(wantB1, r.sink->output[1], "B1");
        ExpectPicture(wantB2, r.sink->output[2], "B2");
        ExpectPicture(s.p3, r.sink->output[3], "P3");
        ExpectPicture(s.p3, r.sink->decoded[1], "P3 as decoded");

        const std::vector<std::string> want = {
            "Display Order\t\t: 1\r\nBit Stream Order\t\t: 1\r\nPicture Type\t\t: I"
            "\r\n\tMode 0 - Direct\t: 0\r\n\tMode 1 - 16x16\t: 0\r\n\tMode 2 - 8x16\t: 0\r\n\tMode 3 - "
            "16x8\t: 0"
            "\r\n\tMode 4 - 8x8\t: 0\r\n\tMode 5 - 4x8\t: 0\r\n\tMode 6 - 8x4\t: 0\r\n\tMode 7 - 4x4\t: 0"
            "\r\n\tIntra MB 4x4\t: 6\r\n\tIntra MB 16x16\t: 0\r\n\r\n",
            "Display Order\t\t: 4\r\nBit Stream Order\t\t: 2\r\nPicture Type\t\t: P"
            "\r\n\tMode 0 - Direct\t: 0\r\n\tMode 1 - 16x16\t: 5\r\n\tMode 2 - 8x16\t: 0\r\n\tMode 3 - "
            "16x8\t: 0"
            "\r\n\tMode 4 - 8x8\t: 0\r\n\tMode 5 - 4x8\t: 0\r\n\tMode 6 - 8x4\t: 0\r\n\tMode 7 - 4x4\t: 0"
            "\r\n\tIntra MB 4x4\t: 0\r\n\tIntra MB 16x16\t: 1\r\n\r\n",
            "Display Order\t\t: 2\r\nBit Stream Order\t\t: 3\r\nPicture Type\t\t: B"
            "\r\n\tMode 0 - Direct\t: 0\r\n\tMode 1 - 16x16\t: 6\r\n\tMode 2 - 8x16\t: 0\r\n\tMode 3 - "
            "16x8\t: 0"
            "\r\n\tMode 4 - 8x8\t: 0\r\n\tMode 5 - 4x8\t: 0\r\n\tMode 6 - 8x4\t: 0\r\n\tMode 7 - 4x4\t: 0"
            "\r\n\tIntra MB 4x4\t: 0\r\n\tIntra MB 16x16\t: 0\r\n\r\n",
            "Display Order\t\t: 3\r\nBit Stream Order\t\t: 4\r\nPicture Type\t\t: B"
            "\r\n\tMode 0 - Direct\t: 0\r\n\tMode 1 - 16x16\t: 6\r\n\tMode 2 - 8x16\t: 0\r\n\tMode 3 - "
            "16x8\t: 0"
            "\r\n\tMode 4 - 8x8\t: 0\r\n\tMode 5 - 4x8\t: 0\r\n\tMode 6 - 8x4\t: 0\r\n\tMode 7 - 4x4\t: 0"
            "\r\n\tIntra MB 4x4\t: 0\r\n\tIntra MB 16x16\t: 0\r\n\r\n",
        };
        EXPECT_EQ(r.sink->texts, want);
        const PictureCounters &n = r.dec->picture_counters;
        EXPECT_EQ(n.decoded, 4);
        EXPECT_EQ(n.i, 1);
        EXPECT_EQ(n.p, 1);
        EXPECT_EQ(n.b, 2);
    }
}

TEST(H264PictureOrder, BiPredictionOf10And11Gives11)
{
    StreamPlan plan;
    plan.width_mbs = 2;
    plan.height_mbs = 1;
    // Flat 10 (128 - 118), then a P picture of intra macroblocks at 11, then a bi-predicted B.
    plan.pictures.push_back(MakePicture(7, 0, 0, {MbSpec::I16(-118), MbSpec::I16(0)}));
    plan.pictures.push_back(MakePicture(5, 1, 6, {MbSpec::I16(-117), MbSpec::I16(0)}));
    plan.pictures.push_back(MakePicture(6, 2, 2, {MbSpec::B(2, 0, 0, 0, 0), MbSpec::B(2, 0, 0, 0, 0)}, 0, 0));
    for (const bool cabac : {false, true}) {
        DecodeRunResult r = RunPlan(plan, cabac);
        ASSERT_EQ(r.sink->output.size(), 3u);
        EXPECT_EQ(r.sink->output[0].Y(5, 5), 10);
        EXPECT_EQ(r.sink->output[2].Y(5, 5), 11);
        for (int v : r.sink->output[1].y)
            ASSERT_EQ(v, 11) << (cabac ? "CABAC" : "CAVLC");
    }
}

// Direct macroblocks of B1 in temporal and spatial mode over the co-located motion of P3: moving
// blocks, still ones ((0, 0) and (1, -1) count as still) and an intra block.
TEST(H264PictureOrder, DirectPredictionFollowsTheCoLocatedMotion)
{
    for (const bool spatial : {false, true}) {
        Scene s(kP3Moves, true);
        std::vector<MbSpec> b1;
        const int rowMv[2][2] = {{5, -3}, {-7, 2}};
        MotionRecord rec(Scene::kW, Scene::kN);
        for (int k = 0; k < Scene::kN; ++k) {
            if (spatial && k < Scene::kW) {
                MbSpec m;
                m.kind = MbKind::B16x16;
                m.dir = 2;
                rec.Code(m, k, rowMv, true, true);
                b1.push_back(m);
            } else {
                b1.push_back(k % 2 ? MbSpec::Skip(true) : MbSpec{MbKind::BDirect});
            }
        }
        s.plan.pictures.push_back(MakePicture(6, 2, 2, b1, 0, 0));
        s.plan.pictures.back().header = [&](SliceHeaderFields &h) {
            h.direct_spatial_mv_pred_flag = spatial;
        };

        // Co-located block (bx, by) of P3: its reference (-1 intra) and vector.
        auto colocated = [&](int bx, int by, int &ref, int mv[2]) {
            const int k = (by / 4) * Scene::kW + bx / 4;
            ref = s.p3intra[static_cast<size_t>(k)] ? -1 : 0;
            mv[0] = ref < 0 ? 0 : s.p3mv[static_cast<size_t>(k)][0];
            mv[1] = ref < 0 ? 0 : s.p3mv[static_cast<size_t>(k)][1];
        };
        const Picture want = BiPicture(s, [&](int bx, int by, int v[2][2], bool *) {
            int ref, mv[2];
            colocated(bx, by, ref, mv);
            const int k = (by / 4) * Scene::kW + bx / 4;
            if (spatial) {
                if (k < Scene::kW) {
                    for (int l = 0; l < 2; ++l)
                        for (int c = 0; c < 2; ++c)
                            v[l][c] = rowMv[l][c];
                    return;
                }
                // Every direct macroblock of the second row predicts the first row's vectors; a still
                // co-located block keeps (0, 0).
                const bool moving = !(ref == 0 && std::abs(mv[0]) <= 1 && std::abs(mv[1]) <= 1);
                for (int l = 0; l < 2; ++l)
                    for (int c = 0; c < 2; ++c)
                        v[l][c] = moving ? rowMv[l][c] : 0;
                return;
            }
            // Temporal: distances I0 0, B1 2, P3 6; scale (2 x 256) / 6.
            const int scale = (2 * 256) / 6;
            for (int c = 0; c < 2; ++c) {
                v[0][c] = ref < 0 ? 0 : (scale * mv[c] + 128) >> 8;
                v[1][c] = ref < 0 ? 0 : ((scale - 256) * mv[c] + 128) >> 8;
            }
        });
        for (const bool cabac : {false, true}) {
            DecodeRunResult r = RunPlan(s.plan, cabac);
            ASSERT_EQ(r.sink->output.size(), 3u);
            ExpectPicture(want, r.sink->output[1],
                          std::string(spatial ? "spatial" : "temporal") + (cabac ? " CABAC" : " CAVLC"));
        }
    }
}

// Explicit weights of P pictures, at denominator 5 and at denominator 0 (no rounding term).
TEST(H264PictureOrder, ExplicitWeightsScaleAndOffsetPPictures)
{
    struct Case
    {
        int denom, w, o, cw, co;
    };
    for (const Case c : {Case{5, 40, -3, 25, 6}, Case{0, 3, -200, 1, 9}, Case{2, -1, 150, 5, -40}}) {
        Scene s(kP3Moves, false);
        s.plan.sets = [](SPS &, PPS &pps) { pps.weighted_pred_flag = 1; };
        s.plan.pictures[1].header = [&](SliceHeaderFields &h) {
            h.luma_log_weight_denom = h.chroma_log_weight_denom = c.denom;
            WeightEntry e;
            e.luma_flag = e.chroma_flag = 1;
            e.luma_weight = c.w;
            e.luma_offset = c.o;
            e.chroma_weight[0] = e.chroma_weight[1] = c.cw;
            e.chroma_offset[0] = c.co;
            e.chroma_offset[1] = -c.co;
            h.weights[0] = {e};
        };
        const int round = c.denom > 0 ? 1 << (c.denom - 1) : 0;
        Picture want = s.p3;
        for (int &v : want.y)
            v = Clip(((c.w * v + round) >> c.denom) + c.o);
        for (int k = 0; k < 2; ++k)
            for (int &v : want.C(k))
                v = Clip(((c.cw * v + round) >> c.denom) + (k == 0 ? c.co : -c.co));
        for (const bool cabac : {false, true}) {
            DecodeRunResult r = RunPlan(s.plan, cabac);
            ASSERT_EQ(r.sink->output.size(), 2u);
            ExpectPicture(want, r.sink->output[1], "denominator " + std::to_string(c.denom));
        }
    }
}

// Explicit bi-predictive weights with denominator 0: the two directions still round by 1.
TEST(H264PictureOrder, ExplicitBiWeightsAtDenominatorZeroRoundByOne)
{
    Scene s(kP3Moves, false);
    s.plan.sets = [](SPS &, PPS &pps) { pps.weighted_bipred_idc = 1; };
    std::vector<MbSpec> b1(Scene::kN, MbSpec::B(2, 0, 0, 0, 0));
    b1[1] = MbSpec::B(0, 0, 0, 0, 0);
    b1[2] = MbSpec::B(1, 0, 0, 0, 0);
    s.plan.pictures.push_back(MakePicture(6, 2, 2, b1, 0, 0));
    s.plan.pictures.back().header = [](SliceHeaderFields &h) {
        h.luma_log_weight_denom = h.chroma_log_weight_denom = 0;
        WeightEntry e0, e1;
        e0.luma_flag = e1.luma_flag = 1;
        e0.luma_weight = 1;
        e0.luma_offset = 3;
        e1.luma_weight = 2;
        e1.luma_offset = -8;
        h.weights[0] = {e0};
        h.weights[1] = {e1};
    };
    Picture want =
        BiPicture(s, [](int, int, int v[2][2], bool *) { v[0][0] = v[0][1] = v[1][0] = v[1][1] = 0; });
    for (int y = 0; y < want.h; ++y)
        for (int x = 0; x < want.w; ++x) {
            const int k = (y / 16) * Scene::kW + x / 16;
            const int p0 = s.i0.Y(y, x), p1 = s.p3.Y(y, x);
            want.Y(y, x) = k == 1   ? Clip(p0 + 3)
                           : k == 2 ? Clip(2 * p1 - 8)
                                    : Clip(((p0 + 2 * p1 + 1) >> 1) + ((3 - 8 + 1) >> 1));
        }
    for (int c = 0; c < 2; ++c)
        for (int y = 0; y < want.h / 2; ++y)
            for (int x = 0; x < want.w / 2; ++x) {
                const int k = (y / 8) * Scene::kW + x / 8;
                const int p0 = s.i0.C(c, y, x), p1 = s.p3.C(c, y, x);
                want.C(c, y, x) = k == 1 ? p0 : k == 2 ? p1 : (p0 + p1 + 1) >> 1;
            }
    for (const bool cabac : {false, true}) {
        DecodeRunResult r = RunPlan(s.plan, cabac);
        ASSERT_EQ(r.sink->output.size(), 3u);
        ExpectPicture(want, r.sink->output[1], cabac ? "CABAC" : "CAVLC");
    }
}

// Implicit weights from the order distances: B1 at 2 between I0 at 0 and P3 at 6 weighs 43 : 21,
// B2 at 4 weighs 22 : 42; one-direction blocks keep their samples. The order-count ring these
// distances come from is filled by order-count type 1 (frame_num times 2 plus the slice's delta), and
// only with counts that change from picture to picture: the first picture is a non-IDR I picture at 2,
// since an IDR picture's count of 0 would equal the starting "previous" count and never enter it.
TEST(H264PictureOrder, ImplicitWeightsFollowTheOrderDistances)
{
    Scene s(kP3Moves, false);
    s.plan.sets = [](SPS &sps, PPS &pps) {
        pps.weighted_bipred_idc = 2;
        sps.pic_order_cnt_type = 1;
        sps.num_ref_frames_in_pic_order_cnt_cycle = 1;
        sps.offset_for_ref_frame[0] = 2;
    };
    s.plan.pictures[0].idr = false;
    s.plan.pictures[0].header = [](SliceHeaderFields &h) { h.delta_pic_order_cnt[0] = 2; };
    s.plan.pictures[1].header = [](SliceHeaderFields &h) { h.delta_pic_order_cnt[0] = 6; };
    std::vector<MbSpec> bs(Scene::kN, MbSpec::B(2, 0, 0, 0, 0));
    bs[4] = MbSpec::B(1, 0, 0, 0, 0);
    s.plan.pictures.push_back(MakePicture(6, 2, 2, bs, 0, 0));
    s.plan.pictures.back().header = [](SliceHeaderFields &h) { h.delta_pic_order_cnt[0] = 2; };
    s.plan.pictures.push_back(MakePicture(6, 2, 4, bs, 0, 0));
    s.plan.pictures.back().header = [](SliceHeaderFields &h) { h.delta_pic_order_cnt[0] = 4; };
    for (const bool cabac : {false, true}) {
        DecodeRunResult r = RunPlan(s.plan, cabac);
        ASSERT_EQ(r.sink->output.size(), 4u);
        for (int b = 0; b < 2; ++b) {
            const int w0 = b == 0 ? 43 : 22, w1 = 64 - w0;
            Picture want = BiPicture(
                s, [](int, int, int v[2][2], bool *) { v[0][0] = v[0][1] = v[1][0] = v[1][1] = 0; });
            for (int y = 0; y < want.h; ++y)
                for (int x = 0; x < want.w; ++x) {
                    const bool one = (y / 16) * Scene::kW + x / 16 == 4;
                    want.Y(y, x) =
                        one ? s.p3.Y(y, x) : Clip((w0 * s.i0.Y(y, x) + w1 * s.p3.Y(y, x) + 32) >> 6);
                }
            for (int c = 0; c < 2; ++c)
                for (int y = 0; y < want.h / 2; ++y)
                    for (int x = 0; x < want.w / 2; ++x) {
                        const bool one = (y / 8) * Scene::kW + x / 8 == 4;
                        want.C(c, y, x) = one ? s.p3.C(c, y, x)
                                              : Clip((w0 * s.i0.C(c, y, x) + w1 * s.p3.C(c, y, x) + 32) >> 6);
                    }
            ExpectPicture(want, r.sink->output[1 + static_cast<size_t>(b)], "B" + std::to_string(b + 1));
        }
    }
}

// I0 becomes long-term picture 0 with the first P picture, then six more flat P pictures push it out
// of the short-term part; the last P picture still predicts from it, after the six short-term ones.
TEST(H264PictureOrder, LongTermReferenceOutlivesTheSlidingWindow)
{
    StreamPlan plan;
    plan.width_mbs = 3;
    plan.height_mbs = 1;
    const auto intra = TexturedIntra(3, 5);
    plan.pictures.push_back(MakePicture(7, 0, 0, intra));
    const Picture i0 = IntraDcPicture(3, 1, intra, {0, 0, 0}, kQp);
    for (int k = 1; k <= 6; ++k) {
        plan.pictures.push_back(
            MakePicture(5, k, 2 * k, {MbSpec::I16(10 * k - 40), MbSpec::I16(0), MbSpec::I16(0)}));
        if (k == 1)
            plan.pictures.back().header = [](SliceHeaderFields &h) {
                h.adaptive_ref_pic_buffering_flag = 1;
                MmcoCommand size, assign, end;
                size.operation = 4;
                size.max_long_term_pic_idx_plus1 = 2;
                assign.operation = 3;
                assign.difference_of_pic_nums_minus1 = 0;
                assign.long_term_pic_idx = 0;
                h.mmco = {size, assign, end};
            };
    }
    // References: 6 the long-term I0, 0 the newest (P6), 5 the oldest short-term one (P1).
    std::vector<MbSpec> last;
    MotionRecord rec(3, 3);
    const int refs[3] = {6, 0, 5};
    const int mvs[3][2][2] = {{{3, -2}, {0, 0}}, {{0, 0}, {0, 0}}, {{-1, 5}, {0, 0}}};
    for (int k = 0; k < 3; ++k) {
        MbSpec m;
        m.kind = MbKind::P16x16;
        m.ref[0] = refs[k];
        rec.Code(m, k, mvs[k], true, false);
        last.push_back(m);
    }
    plan.pictures.push_back(MakePicture(5, 7, 14, last));
    plan.pictures.back().header = [](SliceHeaderFields &h) { h.num_ref_pic_active_fwd_minus1 = 6; };
    auto flat = [](int value) {
        Picture p(48, 16);
        std::fill(p.y.begin(), p.y.end(), value);
        return p;
    };
    Picture want(48, 16);
    MotionCompensate(want, i0, 0, 0, 3, -2);
    MotionCompensate(want, flat(128 + 10 * 6 - 40), 1, 0, 0, 0);
    MotionCompensate(want, flat(128 + 10 * 1 - 40), 2, 0, -1, 5);
    for (const bool cabac : {false, true}) {
        DecodeRunResult r = RunPlan(plan, cabac);
        ASSERT_EQ(r.sink->output.size(), 8u);
        ExpectPicture(want, r.sink->output[7], cabac ? "CABAC" : "CAVLC");
    }
}

// Deblocking on: two flat intra macroblocks, 100 and 110, meet at an edge of strength 4. At QP 28
// alpha is 20 and beta 7; the step of 10 is not below (alpha >> 2) + 2, so only p0 and q0 change:
// (2 p1 + p0 + q1 + 2) >> 2 = 103 and (2 q1 + q0 + p1 + 2) >> 2 = 108.
TEST(H264PictureOrder, DeblockingFiltersTheMacroblockEdge)
{
    StreamPlan plan;
    plan.width_mbs = 2;
    plan.height_mbs = 1;
    plan.pictures.push_back(MakePicture(7, 0, 0, {MbSpec::I16(-28), MbSpec::I16(10)}));
    plan.pictures.back().header = [](SliceHeaderFields &h) { h.disable_deblocking_filter_idc = 0; };
    for (const bool cabac : {false, true}) {
        DecodeRunResult r = RunPlan(plan, cabac);
        ASSERT_EQ(r.sink->output.size(), 1u);
        const Picture &p = r.sink->output[0];
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 32; ++x)
                ASSERT_EQ(p.Y(y, x), x == 15 ? 103 : x == 16 ? 108 : x < 16 ? 100 : 110) << x << "," << y;
        for (int v : p.u)
            ASSERT_EQ(v, 128);
    }
}

// An SP picture: the motion-compensated prediction of every 4x4 luma block is transformed, quantised
// at the switching quantiser QS and rebuilt, as an SP decoder must so that switching streams meet.
// Written here with the standard's forward core transform and the published quantiser multipliers.
TEST(H264PictureOrder, SpPicturesRequantiseThePrediction)
{
    static const int kQuant[6][3] = {{13107, 5243, 8066}, {11916, 4660, 7490}, {10082, 4194, 6554},
                                     {9362, 3647, 5825},  {8192, 3355, 5243},  {7282, 2893, 4559}};
    static const int kScale[6][3] = {{10, 16, 13}, {11, 18, 14}, {13, 20, 16},
                                     {14, 23, 18}, {16, 25, 20}, {18, 29, 23}};
    auto cls = [](int i, int j) { return i % 2 == 0 && j % 2 == 0 ? 0 : i % 2 && j % 2 ? 1 : 2; };
    const int qs = 31;
    Scene s(kP3Moves, false);
    s.plan.pictures[1].slice_type = 8;
    s.plan.pictures[1].header = [](SliceHeaderFields &h) { h.slice_qs_delta = qs - 26; };
    Picture want = s.p3; // the prediction; luma requantised below
    for (int by = 0; by < want.h / 4; ++by)
        for (int bx = 0; bx < want.w / 4; ++bx) {
            int p[4][4], t[4][4], c[4][4];
            for (int y = 0; y < 4; ++y)
                for (int x = 0; x < 4; ++x)
                    p[y][x] = s.p3.Y(4 * by + y, 4 * bx + x);
            for (int y = 0; y < 4; ++y) { // rows: horizontal frequencies
                const int s0 = p[y][0] + p[y][3], s1 = p[y][1] + p[y][2], d0 = p[y][0] - p[y][3],
                          d1 = p[y][1] - p[y][2];
                t[y][0] = s0 + s1;
                t[y][1] = 2 * d0 + d1;
                t[y][2] = s0 - s1;
                t[y][3] = d0 - 2 * d1;
            }
            for (int i = 0; i < 4; ++i) { // columns
                const int s0 = t[0][i] + t[3][i], s1 = t[1][i] + t[2][i], d0 = t[0][i] - t[3][i],
                          d1 = t[1][i] - t[2][i];
                c[0][i] = s0 + s1;
                c[1][i] = 2 * d0 + d1;
                c[2][i] = s0 - s1;
                c[3][i] = d0 - 2 * d1;
            }
            const int bits = 15 + qs / 6;
            for (int j = 0; j < 4; ++j)
                for (int i = 0; i < 4; ++i) {
                    const int v = c[j][i];
                    const int level = (std::abs(v) * kQuant[qs % 6][cls(i, j)] + (1 << bits) / 2) >> bits;
                    c[j][i] = (v < 0 ? -level : level) * kScale[qs % 6][cls(i, j)] << (qs / 6);
                }
            // The standard's inverse: rows then columns, (r + 32) >> 6.
            int f[4][4], r[4][4];
            for (int j = 0; j < 4; ++j) {
                const int e0 = c[j][0] + c[j][2], e1 = c[j][0] - c[j][2];
                const int e2 = (c[j][1] >> 1) - c[j][3], e3 = c[j][1] + (c[j][3] >> 1);
                f[j][0] = e0 + e3;
                f[j][1] = e1 + e2;
                f[j][2] = e1 - e2;
                f[j][3] = e0 - e3;
            }
            for (int i = 0; i < 4; ++i) {
                const int e0 = f[0][i] + f[2][i], e1 = f[0][i] - f[2][i];
                const int e2 = (f[1][i] >> 1) - f[3][i], e3 = f[1][i] + (f[3][i] >> 1);
                r[0][i] = e0 + e3;
                r[1][i] = e1 + e2;
                r[2][i] = e1 - e2;
                r[3][i] = e0 - e3;
            }
            for (int y = 0; y < 4; ++y)
                for (int x = 0; x < 4; ++x)
                    want.Y(4 * by + y, 4 * bx + x) = Clip((r[y][x] + 32) >> 6);
        }
    for (const bool cabac : {false, true}) {
        DecodeRunResult r = RunPlan(s.plan, cabac);
        ASSERT_EQ(r.sink->output.size(), 2u);
        ASSERT_EQ(r.sink->output_types[1], kTypeIndexSP);
        const Picture &got = r.sink->output[1];
        int changed = 0;
        for (int y = 0; y < want.h; ++y)
            for (int x = 0; x < want.w; ++x) {
                ASSERT_EQ(got.Y(y, x), want.Y(y, x)) << (cabac ? "CABAC " : "CAVLC ") << x << "," << y;
                changed += want.Y(y, x) != s.p3.Y(y, x);
            }
        EXPECT_GT(changed, 100); // the requantisation is visible
    }
}

} // namespace

} // namespace picture_order_test
