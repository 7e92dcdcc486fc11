// Damaged and unusual streams through whole runs: truncated at every offset and bit-flipped, in CAVLC
// and CABAC, frames, field pairs and MBAFF; none may crash or hang, and a run shows at most one
// message. A size change between pictures makes the arrays again, while one inside a picture, a field
// pair in the wrong order and a stream ending inside a picture end the run as the decisions say; a
// slice repeating the last picture's order count starts a picture.
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

// Streams of three sizes back to back, each with its own parameter sets and IDR picture, ending on
// reference pictures that wait for the next one: every picture comes out at its own size, in order, as
// its own stream decodes it, and the run counts them all.
TEST(H264PictureRobustness, ASizeChangeMakesTheArraysAgainAndEveryPictureKeepsItsSize)
{
    auto part = [](int w, int h, unsigned seed, bool fields) {
        StreamPlan plan;
        plan.width_mbs = w;
        plan.height_mbs = h;
        plan.frames_only = !fields;
        const int n = w * h / (fields ? 2 : 1);
        if (fields) {
            plan.pictures.push_back(Plan(7, 0, 0, 1, TexturedIntra(n, seed)));
            plan.pictures.push_back(Plan(7, 0, 1, 2, TexturedIntra(n, seed + 1)));
        } else {
            plan.pictures.push_back(Plan(7, 0, 0, 0, TexturedIntra(n, seed)));
        }
        std::vector<MbSpec> p(static_cast<size_t>(n), MbSpec::P(3, -2));
        p[0] = MbSpec::Skip(false);
        plan.pictures.push_back(Plan(5, 1, 4, fields ? 1 : 0, p));
        if (fields)
            plan.pictures.push_back(Plan(5, 1, 5, 2, p));
        return plan;
    };
    for (const bool cabac : {false, true}) {
        const std::vector<std::vector<uint8_t>> parts = {
            part(2, 1, 3, false).Write(cabac), part(3, 2, 5, false).Write(cabac),
            part(1, 2, 7, true).Write(cabac), part(2, 1, 9, false).Write(cabac)};
        std::vector<uint8_t> stream;
        std::vector<Picture> want;
        for (const std::vector<uint8_t> &p : parts) {
            stream.insert(stream.end(), p.begin(), p.end());
            const DecodeRunResult alone = DecodeRun(p);
            ASSERT_FALSE(alone.failed) << alone.message;
            want.insert(want.end(), alone.sink->output.begin(), alone.sink->output.end());
        }
        const DecodeRunResult r = DecodeRun(stream);
        ASSERT_FALSE(r.failed) << r.message;
        EXPECT_EQ(r.messages_shown, 0);
        EXPECT_EQ(r.pictures, 8);
        EXPECT_EQ(r.dec->picture_counters.decoded, 8);
        ASSERT_EQ(r.sink->output.size(), want.size());
        const int widths[8] = {32, 32, 48, 48, 16, 16, 32, 32};
        for (size_t k = 0; k < want.size(); ++k) {
            EXPECT_EQ(r.sink->output[k].w, widths[k]) << k;
            EXPECT_EQ(FirstDifference(want[k], r.sink->output[k]), "")
                << "picture " << k << " cabac " << cabac;
        }
    }
}

// Within a picture the size cannot change: a slice that continues a picture, or a bottom field that
// completes a pair, in another size ends the run (the pictures before it are kept).
TEST(H264PictureRobustness, ASizeChangeInsideAPictureEndsTheRun)
{
    // The first slice of a two-slice picture, then a stream of another size whose first slice has the
    // same order count and structure: it continues the picture.
    StreamPlan a;
    a.width_mbs = 2;
    a.height_mbs = 1;
    PicturePlan two = Plan(7, 0, 0, 0, Intra(2));
    two.slice_starts = {0, 1};
    a.pictures.push_back(two);
    std::vector<uint8_t> cut = a.Write(false);
    size_t last = 0;
    for (size_t k = 0; k + 4 < cut.size(); ++k)
        if (cut[k] == 0 && cut[k + 1] == 0 && cut[k + 2] == 0 && cut[k + 3] == 1)
            last = k;
    cut.resize(last);
    StreamPlan b;
    b.width_mbs = 3;
    b.height_mbs = 1;
    b.pictures.push_back(Plan(7, 0, 0, 0, Intra(3)));
    // A top field, then a bottom field of a stream of another size.
    StreamPlan top;
    top.frames_only = false;
    top.width_mbs = 1;
    top.height_mbs = 2;
    top.pictures.push_back(Plan(7, 0, 0, 1, Intra(1)));
    StreamPlan bottom = top;
    bottom.width_mbs = 2;
    bottom.pictures = {Plan(7, 0, 1, 2, Intra(2))};
    for (const auto &pair :
         {std::make_pair(cut, b.Write(false)), std::make_pair(top.Write(false), bottom.Write(false))}) {
        std::vector<uint8_t> stream = pair.first;
        stream.insert(stream.end(), pair.second.begin(), pair.second.end());
        DecodeRunResult r = DecodeRun(stream);
        EXPECT_TRUE(r.failed);
        EXPECT_NE(r.message.find("must keep one size"), std::string::npos) << r.message;
        EXPECT_EQ(r.messages_shown, 1);
        EXPECT_TRUE(r.sink->output.empty());
    }
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
