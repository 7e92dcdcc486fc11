// Weighted prediction of the encoder against values worked out by hand: the implicit weights of B
// pictures from order distances (the scale factor arithmetic), the two-direction and one-direction
// combinations with their rounding, the exchanged backward index of stored B pictures, and the chroma
// sample of a quarter-sample vector read as eighth chroma samples.
#include "h264enc/enc_run.h"
#include "h264enc/enc_weights.h"
#include "h264enc/frame_store.h"
#include "h264enc/mb_predict.h"
#include "h264enc/quarter_plane.h"
#include "h264enc/slice_coder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace enc_weights_test {

using namespace h264enc;

// A B picture whose order history holds the given reference counts (oldest first) and then itself.
EncoderImage ImplicitPicture(std::initializer_list<int> references, int current, bool stored_b, int fwd_refs,
                             int bwd_refs)
{
    EncoderImage img;
    img.type = stored_b ? kTypeStoredB : kTypeB;
    img.num_ref_minus1 = fwd_refs - 1;
    img.stored_b_ref = bwd_refs - 1;
    h264enc::PocHistory h;
    for (int poc : references)
        h.push(poc, poc, true);
    h.push(current, current, stored_b);
    h264enc_implicit_weights(img, h, stored_b);
    return img;
}

TEST(EncImplicitWeights, ScaleFactorOfTheOrderDistances)
{
    // B at 2 between 0 and 6: tb = 2, td = 6, tx = (16384 + 3) / 6 = 2731, scale = (2 x 2731 + 32) >> 6
    // = 85, list-1 weight 85 >> 2 = 21, list-0 weight 64 - 21 = 43. At 4: scale (4 x 2731 + 32) >> 6 =
    // 171, weights 22 and 42.
    const struct
    {
        int current, w0, w1;
    } cases[] = {{2, 43, 21}, {4, 22, 42}, {3, 32, 32}};
    for (const auto &c : cases) {
        const EncoderImage img = ImplicitPicture({0, 6}, c.current, false, 1, 1);
        EXPECT_EQ(img.luma_log_weight_denom, 5);
        for (int comp = 0; comp < 3; ++comp) {
            EXPECT_EQ(img.wbp_weight[0][0][0][comp], c.w0) << c.current;
            EXPECT_EQ(img.wbp_weight[1][0][0][comp], c.w1) << c.current;
        }
    }
    // Forward index 1 is the reference at -6: tb = 8, td = 12, tx = 1365, scale (8 x 1365 + 32) >> 6
    // = 171: weights 22 and 42.
    const EncoderImage two = ImplicitPicture({-6, 0, 6}, 2, false, 2, 1);
    EXPECT_EQ(two.wbp_weight[0][1][0][0], 22);
    EXPECT_EQ(two.wbp_weight[1][1][0][0], 42);
}

TEST(EncImplicitWeights, EvenWeightsForAZeroDistanceOrAnOutOfRangeScale)
{
    // Both references at the same count: td = 0.
    EXPECT_EQ(ImplicitPicture({4, 4}, 6, false, 1, 1).wbp_weight[1][0][0][0], 32);
    // The current picture far past both: tb = 40, td = 2, scale clipped to 1023, 1023 >> 2 = 255 > 128.
    const EncoderImage far = ImplicitPicture({0, 2}, 40, false, 1, 1);
    EXPECT_EQ(far.wbp_weight[0][0][0][0], 32);
    EXPECT_EQ(far.wbp_weight[1][0][0][0], 32);
    // An empty history (order counts the decoder does not keep) gives even weights.
    EncoderImage img;
    img.type = kTypeB;
    h264enc_implicit_weights(img, h264enc::PocHistory{}, false);
    EXPECT_EQ(img.wbp_weight[0][0][0][0], 32);
}

TEST(EncImplicitWeights, StoredBPictureNamesItsTwoNearestReferencesTheOtherWayRound)
{
    // A stored B at 8 after references 0, 4 (newest first: 4, 0). List 0 index 0 is 4; list-1 weight
    // index 0 stands for the entry 1 (count 0), index 1 for entry 0 (count 4).
    // (i 0 = 4, j 0 = 0): td = -4, tb = 4, tx = (16384 - 2) / -4 = -4095, scale (4 x -4095 + 32) >> 6
    // = -256, w1 = -64, w0 = 128.
    const EncoderImage img = ImplicitPicture({0, 4}, 8, true, 2, 2);
    EXPECT_EQ(img.wbp_weight[0][0][0][0], 128);
    EXPECT_EQ(img.wbp_weight[1][0][0][0], -64);
    // (i 0 = 4, j 1 = 4): td = 0.
    EXPECT_EQ(img.wbp_weight[1][0][1][0], 32);
    EXPECT_EQ(backward_weight_index(img, 0), 1);
    EXPECT_EQ(backward_weight_index(img, 1), 0);
    EncoderImage b;
    b.type = kTypeB;
    EXPECT_EQ(backward_weight_index(b, 0), 0);
}

TEST(EncImplicitWeights, StoredBPictureWithOneBackwardReferenceFillsEntryOne)
{
    // Its only backward reference reads entry 1, the newest reference (8) of history 0, 4, 8, 12.
    // (i 1 = 4, j 1 = 8): td = 4, tb = 8, tx = 4096, scale (8 x 4096 + 32) >> 6 = 512: -64 and 128.
    const EncoderImage img = ImplicitPicture({0, 4, 8}, 12, true, 2, 1);
    EXPECT_EQ(backward_weight_index(img, 0), 1);
    EXPECT_EQ(img.wbp_weight[0][1][1][0], -64);
    EXPECT_EQ(img.wbp_weight[1][1][1][1], 128);
    EXPECT_EQ(img.wbp_weight[1][0][1][0], 32);
}

TEST(EncWeightedCombination, TwoAndOneDirectionRounding)
{
    EncoderImage img;
    img.type = kTypeB;
    img.apply_weights = 1;
    img.luma_log_weight_denom = 5;
    img.chroma_log_weight_denom = 0;
    img.wbp_weight[0][0][0][0] = 43;
    img.wbp_weight[1][0][0][0] = 21;
    img.wp_offset[0][0][0] = 3;
    img.wp_offset[1][0][0] = -6;
    img.wp_weight[0][0][0] = 40;
    img.wp_weight[1][0][0] = 20;
    BlockSource both;
    both.use[0] = both.use[1] = true;
    const int p[2] = {100, 50};
    // (100 x 43 + 50 x 21 + 32) >> 6 = 5382 >> 6 = 84, offsets (3 - 6 + 1) >> 1 = -1: 83.
    EXPECT_EQ(combine_prediction(img, both, p, 0), 83);
    // Denominator 0 still rounds the pair by one: (100 x 1 + 50 x 2 + 1) >> 1 = 100.
    img.wbp_weight[0][0][0][1] = 1;
    img.wbp_weight[1][0][0][1] = 2;
    EXPECT_EQ(combine_prediction(img, both, p, 1), 100);
    BlockSource fwd, bwd;
    fwd.use[0] = true;
    bwd.use[1] = true;
    // (40 x 100 + 16) >> 5 = 125, plus 3; (20 x 50 + 16) >> 5 = 31, minus 6.
    EXPECT_EQ(combine_prediction(img, fwd, p, 0), 128);
    EXPECT_EQ(combine_prediction(img, bwd, p, 0), 25);
    // Clipped to the sample range, and without weights the plain average rounding up.
    img.wp_weight[0][0][0] = 90;
    EXPECT_EQ(combine_prediction(img, fwd, p, 0), 255);
    img.apply_weights = 0;
    const int q[2] = {10, 11};
    EXPECT_EQ(combine_prediction(img, both, q, 0), 11);
}

TEST(EncWeightedCombination, StoredBBackwardIndexReadsTheExchangedWeights)
{
    EncoderImage img;
    img.type = kTypeStoredB;
    img.apply_weights = 1;
    img.luma_log_weight_denom = 5;
    img.wp_weight[1][0][0] = 32;
    img.wp_weight[1][1][0] = 64;
    BlockSource bwd;
    bwd.use[1] = true;
    bwd.ref[1] = 0; // backward reference 0 is weighted by index 1
    const int p[2] = {0, 50};
    EXPECT_EQ(combine_prediction(img, bwd, p, 0), 100);
    bwd.ref[1] = 1;
    EXPECT_EQ(combine_prediction(img, bwd, p, 0), 50);
}

// A P macroblock of a 16x16 picture predicted from one reference whose chroma planes are a ramp.
TEST(EncChromaPrediction, QuarterLumaVectorIsEighthChromaSamples)
{
    auto run = std::make_unique<EncoderRun>();
    run->input.SourceWidth = run->input.SourceHeight = 16;
    run->input.NumberReferenceFrames = 1;
    init_image_geometry(run->input, run->img);
    run->org_frame.allocate(16, 16, "test");
    run->rec_frame.allocate(16, 16, "test");
    run->img.type = kTypeP;
    run->img.qp = 28;
    set_macroblock_position(run->img, 0);
    run->img.CurrentMb().qp = 28;
    init_frame_buffers(run->refs, run->input, run->img);
    add_short_term_frame(run->refs, 0, 0);
    set_mref_arrays(run->refs);
    RefFrame &ref = *run->refs.frm.picbuf_short.front();
    auto ramp = [](int x, int y) { return 10 + 20 * x + 7 * y; };
    for (int c = 0; c < 2; ++c)
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
                ref.mcef[c][y][x] = static_cast<uint8_t>(ramp(x, y));
    run->motion.refs = 1;
    run->motion.search_mv.assign(8, BlockVectors{});
    for (auto &row : run->motion.Mv(0, 1))
        for (auto &v : row)
            v = {3, 5};
    std::fill(run->img.maps.ref_map.begin(), run->img.maps.ref_map.end(), 0);
    MacroblockRecord &mb = run->img.CurrentMb();
    mb.mb_mode = 1;
    mb.quarter_mode.fill(1);
    mb.quarter_dir.fill(0);
    code_chroma_macroblock(*run);
    // dx = 3, dy = 5 eighths: ((8 - 3)(8 - 5) A + 3 (8 - 5) B + (8 - 3) 5 C + 3 x 5 D + 32) / 64, the
    // right and lower neighbours repeating the last column and row.
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            const int x1 = std::min(x + 1, 7), y1 = std::min(y + 1, 7);
            const int want =
                (15 * ramp(x, y) + 9 * ramp(x1, y) + 25 * ramp(x, y1) + 15 * ramp(x1, y1) + 32) / 64;
            ASSERT_EQ(run->mbw.cpred[x][y], want) << x << " " << y;
        }
}

} // namespace enc_weights_test
