// Damaged and unusual streams through whole runs: truncated at every offset and bit-flipped, in CAVLC
// and CABAC, frames, field pairs and MBAFF; none may crash or hang, and a run shows at most one
// message. A size change, a field pair in the wrong order and a stream ending inside a picture end
// the run as the decisions say; a slice repeating the last picture's order count starts a picture.
#include "h264/support/picture_model.h"
#include "h264/support/stream_plan.h"
#include "h264dec/decoder_state.h"

#include <gtest/gtest.h>

#include <random>

namespace picture_robustness_test { // one namespace per test file: a folder compiles as one source

namespace {

using namespace h264test;

// Pictures by structure first, as these tests think of them.
PicturePlan Plan(int type, int frameNum, int poc, int structure, std::vector<MbSpec> mbs, int refIdc = 1)
{
    return MakePicture(type, frameNum, poc, std::move(mbs), structure, refIdc);
}

std::vector<MbSpec> Intra(int n)
{
    std::vector<MbSpec> mbs;
    for (int k = 0; k < n; ++k) {
        MbSpec m = MbSpec::I16(3 * k - 7);
        if (k % 2) {
            m = MbSpec{MbKind::I4};
            for (int b = 0; b < 16; ++b)
                m.block_dc[b] = (b * 7 + k) % 9 - 4;
        }
        m.chroma_dc[0] = k - 2;
        mbs.push_back(m);
    }
    return mbs;
}

StreamPlan FramePlan()
{
    StreamPlan plan;
    plan.width_mbs = 3;
    plan.height_mbs = 2;
    plan.pictures.push_back(Plan(7, 0, 0, 0, Intra(6)));
    plan.pictures.push_back(Plan(5, 1, 6, 0,
                                 {MbSpec::Skip(false), MbSpec::P(3, -2), MbSpec::P(-5, 1), MbSpec::I16(2),
                                  MbSpec::Skip(false), MbSpec::P(9, 4)}));
    plan.pictures.push_back(Plan(6, 2, 2, 0,
                                 {MbSpec::Skip(true), MbSpec{MbKind::BDirect}, MbSpec::B(2, 1, 1, -1, 2),
                                  MbSpec::B(0, 2, 0, 0, 0), MbSpec::B(1, 0, 0, 3, 3), MbSpec::Skip(true)},
                                 0));
    plan.pictures.back().header = [](SliceHeaderFields &h) { h.disable_deblocking_filter_idc = 0; };
    return plan;
}

StreamPlan FieldPlan()
{
    StreamPlan plan;
    plan.frames_only = false;
    plan.width_mbs = 2;
    plan.height_mbs = 2;
    plan.pictures.push_back(Plan(7, 0, 0, 1, Intra(2)));
    plan.pictures.push_back(Plan(7, 0, 1, 2, Intra(2)));
    plan.pictures.push_back(Plan(5, 1, 4, 1, {MbSpec::P(2, 1), MbSpec::Skip(false)}));
    plan.pictures.push_back(Plan(5, 1, 5, 2, {MbSpec::Skip(false), MbSpec::P(-3, 6)}));
    plan.pictures.push_back(Plan(
        6, 2, 2, 0,
        {MbSpec::Skip(true), MbSpec::B(2, 0, 1, 0, -1), MbSpec{MbKind::BDirect}, MbSpec::Skip(true)}, 0));
    return plan;
}

StreamPlan MbaffPlan()
{
    StreamPlan plan;
    plan.frames_only = false;
    plan.mbaff = true;
    plan.width_mbs = 2;
    plan.height_mbs = 2;
    auto intra = Intra(4);
    intra[0].field = intra[1].field = 1;
    plan.pictures.push_back(Plan(7, 0, 0, 0, intra));
    std::vector<MbSpec> p = {MbSpec::P(1, 2, 1), MbSpec::P(0, -3, 0), MbSpec::Skip(false),
                             MbSpec::Skip(false)};
    p[0].field = p[1].field = 1;
    plan.pictures.push_back(Plan(5, 1, 2, 0, p));
    std::vector<MbSpec> b = {MbSpec::Skip(true), MbSpec::Skip(true), MbSpec::B(2, 1, 0, 0, 1),
                             MbSpec{MbKind::BDirect}};
    plan.pictures.push_back(Plan(6, 2, 1, 0, b, 0));
    plan.pictures.back().header = [](SliceHeaderFields &h) { h.direct_spatial_mv_pred_flag = 1; };
    return plan;
}

void Damage(const std::vector<uint8_t> &stream, const std::string &what)
{
    // The undamaged stream decodes without a message.
    {
        DecodeRunResult r = DecodeRun(stream);
        ASSERT_FALSE(r.failed) << what << ": " << r.message;
        ASSERT_EQ(r.messages_shown, 0) << what;
    }
    for (size_t cut = 1; cut < stream.size(); cut += 3) {
        DecodeRunResult r = DecodeRun(
            std::vector<uint8_t>(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(cut)));
        ASSERT_LE(r.messages_shown, 1) << what << " cut at " << cut;
    }
    std::mt19937 rng(11);
    for (int trial = 0; trial < 200; ++trial) {
        std::vector<uint8_t> s = stream;
        const int flips = 1 + static_cast<int>(rng() % 3);
        for (int f = 0; f < flips; ++f) {
            const size_t bit = rng() % (8 * s.size());
            s[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
        }
        DecodeRunResult r = DecodeRun(s);
        ASSERT_LE(r.messages_shown, 1) << what << " trial " << trial;
        if (r.failed) {
            ASSERT_EQ(r.messages_shown, 1) << what << ": a run that ends says why: " << r.message;
        }
    }
}

TEST(H264PictureRobustness, TruncatedAndBitFlippedStreamsEndCleanly)
{
    Damage(FramePlan().Write(false), "frames CAVLC");
    Damage(FramePlan().Write(true), "frames CABAC");
    Damage(FieldPlan().Write(false), "fields CAVLC");
    Damage(FieldPlan().Write(true), "fields CABAC");
    Damage(MbaffPlan().Write(false), "MBAFF CAVLC");
    Damage(MbaffPlan().Write(true), "MBAFF CABAC");
}

TEST(H264PictureRobustness, ASizeChangeEndsTheRunAndKeepsThePicturesBefore)
{
    StreamPlan a;
    a.width_mbs = 2;
    a.height_mbs = 1;
    a.pictures.push_back(Plan(7, 0, 0, 0, Intra(2)));
    StreamPlan b;
    b.width_mbs = 3;
    b.height_mbs = 1;
    b.pictures.push_back(Plan(7, 0, 0, 0, Intra(3)));
    std::vector<uint8_t> stream = a.Write(false);
    const std::vector<uint8_t> more = b.Write(false);
    stream.insert(stream.end(), more.begin(), more.end());
    DecodeRunResult r = DecodeRun(stream);
    EXPECT_TRUE(r.failed);
    EXPECT_NE(r.message.find("must keep one picture size"), std::string::npos) << r.message;
    EXPECT_EQ(r.messages_shown, 1);
    ASSERT_EQ(r.sink->output.size(), 1u); // the first picture went out when the second one started
    EXPECT_EQ(r.sink->output[0].w, 32);
}

TEST(H264PictureRobustness, FieldPairsMustComeTopFirst)
{
    for (const int order : {0, 1}) {
        StreamPlan plan;
        plan.frames_only = false;
        plan.width_mbs = 1;
        plan.height_mbs = 2;
        if (order == 0) {
            plan.pictures.push_back(Plan(7, 0, 0, 2, Intra(1))); // a bottom field first
        } else {
            plan.pictures.push_back(Plan(7, 0, 0, 1, Intra(1)));
            plan.pictures.push_back(Plan(7, 1, 2, 0, Intra(2))); // a frame where the bottom field belongs
        }
        DecodeRunResult r = DecodeRun(plan.Write(false));
        EXPECT_TRUE(r.failed);
        EXPECT_NE(r.message.find(order == 0 ? "must start with its top field"
                                            : "must be followed by its bottom field"),
                  std::string::npos)
            << r.message;
        EXPECT_EQ(r.messages_shown, 1);
    }
}

TEST(H264PictureRobustness, AStreamEndingInsideAPictureDropsItSilently)
{
    StreamPlan plan;
    plan.width_mbs = 2;
    plan.height_mbs = 2;
    plan.pictures.push_back(Plan(7, 0, 0, 0, Intra(4)));
    PicturePlan second = Plan(7, 1, 2, 0, Intra(4));
    second.slice_starts = {0, 2};
    plan.pictures.push_back(second);
    const std::vector<uint8_t> full = plan.Write(false);
    // Drop the second picture's last slice unit: cut at its start code.
    size_t last = 0;
    for (size_t k = 0; k + 4 < full.size(); ++k)
        if (full[k] == 0 && full[k + 1] == 0 && full[k + 2] == 0 && full[k + 3] == 1)
            last = k;
    DecodeRunResult r =
        DecodeRun(std::vector<uint8_t>(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(last)));
    EXPECT_FALSE(r.failed) << r.message;
    EXPECT_EQ(r.messages_shown, 0);
    EXPECT_EQ(r.pictures, 1);
    EXPECT_EQ(r.sink->output.size(), 1u);
}

// Two I pictures with the same order count: the second still starts a picture of its own, where the
// new-picture rule alone would pour it into the picture already handed on.
TEST(H264PictureRobustness, ARepeatedOrderCountStillStartsAPicture)
{
    StreamPlan plan;
    plan.width_mbs = 1;
    plan.height_mbs = 1;
    plan.pictures.push_back(Plan(7, 0, 0, 0, {MbSpec::I16(5)}));
    plan.pictures.push_back(Plan(7, 1, 0, 0, {MbSpec::I16(-9)}));
    DecodeRunResult r = DecodeRun(plan.Write(false));
    ASSERT_FALSE(r.failed) << r.message;
    EXPECT_EQ(r.pictures, 2);
    ASSERT_EQ(r.sink->output.size(), 2u);
    EXPECT_EQ(r.sink->output[0].Y(0, 0), 133);
    EXPECT_EQ(r.sink->output[1].Y(0, 0), 119);
}

} // namespace

} // namespace picture_robustness_test
