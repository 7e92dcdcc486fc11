// Hand-built streams decoded picture by picture to pictures the test works out from the standard's
// equations: intra DC pictures (16x16 and 4x4, with chroma), one and two slices, P pictures with
// skipped macroblocks and integer, half and quarter vectors. Each stream is written in CAVLC and in
// CABAC from the same plan; both must give the same pictures.
#include "h264/support/picture_model.h"
#include "h264/support/stream_plan.h"
#include "h264dec/decoder_state.h"

#include <gtest/gtest.h>

#include <random>

namespace picture_decode_test { // one namespace per test file: a folder compiles as one source

namespace {

using namespace h264test;

constexpr int kQp = 28;

void ExpectPicture(const Picture &want, const Picture &got, const std::string &what)
{
    ASSERT_EQ(FirstDifference(want, got), "") << what;
}

// Random DC macroblocks: intra 16x16 and intra 4x4, some with chroma levels.
std::vector<MbSpec> RandomIntraMbs(int n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<MbSpec> mbs;
    for (int k = 0; k < n; ++k) {
        MbSpec m;
        auto level = [&](int range) { return static_cast<int>(rng() % (2 * range + 1)) - range; };
        if (rng() % 2) {
            m = MbSpec::I16(level(40));
        } else {
            m.kind = MbKind::I4;
            for (int &b : m.block_dc)
                b = rng() % 3 ? level(12) : 0;
        }
        if (rng() % 2) {
            m.chroma_dc[0] = level(15);
            m.chroma_dc[1] = level(15);
        }
        mbs.push_back(m);
    }
    return mbs;
}

PicturePlan IntraPicture(std::vector<MbSpec> mbs, int frameNum, int poc, bool idr)
{
    PicturePlan p;
    p.slice_type = 7;
    p.frame_num = frameNum;
    p.poc_lsb = poc;
    p.idr = idr;
    p.mbs = std::move(mbs);
    return p;
}

TEST(H264PictureDecode, IntraDcPicturesMatchTheModelInBothEntropyModes)
{
    for (unsigned seed : {1u, 2u, 3u}) {
        for (const bool twoSlices : {false, true}) {
            StreamPlan plan;
            plan.width_mbs = 4;
            plan.height_mbs = 3;
            PicturePlan pic = IntraPicture(RandomIntraMbs(12, seed), 0, 0, true);
            std::vector<int> sliceOf(12, 0);
            if (twoSlices) {
                pic.slice_starts = {0, 5};
                for (int n = 5; n < 12; ++n)
                    sliceOf[static_cast<size_t>(n)] = 1;
            }
            plan.pictures.push_back(pic);
            const Picture want = IntraDcPicture(4, 3, pic.mbs, sliceOf, kQp);
            for (const bool cabac : {false, true}) {
                DecodeRunResult r = DecodeRun(plan.Write(cabac));
                ASSERT_FALSE(r.failed) << r.message;
                ASSERT_EQ(r.pictures, 1);
                ASSERT_EQ(r.sink->output.size(), 1u);
                ExpectPicture(want, r.sink->output[0],
                              "seed " + std::to_string(seed) + (cabac ? " CABAC" : " CAVLC") +
                                  (twoSlices ? " two slices" : ""));
            }
        }
    }
}

// A textured I picture (4x4 DC blocks), then P pictures whose macroblocks move by the given vectors;
// skipped macroblocks take the predicted vector, which the plan keeps at (0, 0).
struct MovingScene
{
    StreamPlan plan;
    std::vector<Picture> want;
};

MovingScene PScene(const std::vector<std::vector<std::array<int, 2>>> &moves, unsigned seed)
{
    MovingScene s;
    const int w = 3, h = 2, n = w * h;
    s.plan.width_mbs = w;
    s.plan.height_mbs = h;
    const std::vector<MbSpec> intra = TexturedIntra(n, seed);
    s.plan.pictures.push_back(IntraPicture(intra, 0, 0, true));
    s.want.push_back(IntraDcPicture(w, h, intra, std::vector<int>(static_cast<size_t>(n), 0), kQp));
    int frameNum = 1;
    for (const auto &picMoves : moves) {
        PicturePlan p;
        p.slice_type = 5;
        p.frame_num = frameNum;
        p.poc_lsb = 2 * frameNum;
        ++frameNum;
        Picture out(16 * w, 16 * h);
        std::vector<MbMotion> field(static_cast<size_t>(n));
        for (int k = 0; k < n; ++k) {
            const int mx = k % w, my = k / w;
            const auto mv = picMoves[static_cast<size_t>(k)];
            int px = 0, py = 0;
            Predict16x16(field, w, mx, my, 0, px, py);
            const bool skip = mv[0] == 0 && mv[1] == 0 && px == 0 && py == 0 && (mx == 0 || my == 0);
            p.mbs.push_back(skip ? MbSpec::Skip(false) : MbSpec::P(mv[0] - px, mv[1] - py));
            field[static_cast<size_t>(k)] = MbMotion{true, 0, {mv[0], mv[1]}};
            MotionCompensate(out, s.want.back(), mx, my, mv[0], mv[1]);
        }
        s.plan.pictures.push_back(p);
        s.want.push_back(out);
    }
    return s;
}

TEST(H264PictureDecode, PPicturesMoveByIntegerHalfAndQuarterVectors)
{
    // Every quarter position, vectors reaching over the borders, and skipped macroblocks.
    std::vector<std::vector<std::array<int, 2>>> moves = {
        {{{0, 0}}, {{4, 0}}, {{8, -4}}, {{0, 0}}, {{-4, 12}}, {{16, 16}}},
        {{{2, 0}}, {{0, 2}}, {{2, 2}}, {{6, -2}}, {{-2, 6}}, {{10, 10}}},
        {{{1, 0}}, {{3, 0}}, {{0, 1}}, {{0, 3}}, {{1, 1}}, {{3, 3}}},
        {{{1, 2}}, {{3, 2}}, {{2, 1}}, {{2, 3}}, {{1, 3}}, {{3, 1}}},
        {{{-70, 5}}, {{90, -41}}, {{-9, -200}}, {{5, 130}}, {{0, 0}}, {{-1, -1}}},
    };
    MovingScene s = PScene(moves, 9);
    for (const bool cabac : {false, true}) {
        DecodeRunResult r = DecodeRun(s.plan.Write(cabac));
        ASSERT_FALSE(r.failed) << r.message;
        ASSERT_EQ(r.sink->output.size(), s.want.size());
        for (size_t k = 0; k < s.want.size(); ++k)
            ExpectPicture(s.want[k], r.sink->output[k],
                          (cabac ? "CABAC picture " : "CAVLC picture ") + std::to_string(k));
    }
}

// The loss bookkeeping keeps one object per 8x8 block of the last picture: the macroblock's mode,
// the block's first sample, and its forward motion.
TEST(H264PictureDecode, LossBookkeepingRecordsModesAndVectorsPerEightByEightBlock)
{
    StreamPlan plan;
    plan.width_mbs = 3;
    plan.height_mbs = 1;
    plan.pictures.push_back(MakePicture(7, 0, 0, {MbSpec::I16(3), MbSpec::I16(-4), MbSpec::I16(7)}));
    plan.pictures.push_back(MakePicture(5, 1, 2, {MbSpec::P(5, -3), MbSpec::I16(2), MbSpec::Skip(false)}));
    for (const bool cabac : {false, true}) {
        DecodeRunResult r = DecodeRun(plan.Write(cabac));
        ASSERT_FALSE(r.failed) << r.message;
        const std::vector<ErcObject> &objects = r.dec->erc_object_list;
        ASSERT_EQ(objects.size(), 12u); // 48 x 16 samples
        const struct
        {
            int mode, mvx, mvy, ref;
        } want[3] = {{kMb16x16, 5, -3, 0}, {kMbIntra16x16, 0, 0, -1}, {kMbSkipOrDirect, 0, 0, 0}};
        for (int mb = 0; mb < 3; ++mb)
            for (int q = 0; q < 4; ++q) {
                const int x = 16 * mb + 8 * (q % 2), y = 8 * (q / 2);
                const ErcObject &o = objects[static_cast<size_t>((y / 8) * 6 + x / 8)];
                EXPECT_EQ(o.regionMode, want[mb].mode) << mb;
                EXPECT_EQ(o.xMin, x);
                EXPECT_EQ(o.yMin, y);
                EXPECT_EQ(o.mv[0], want[mb].mvx) << mb;
                EXPECT_EQ(o.mv[1], want[mb].mvy) << mb;
                EXPECT_EQ(o.mv[2], want[mb].ref) << mb;
            }
    }
}

} // namespace

} // namespace picture_decode_test
