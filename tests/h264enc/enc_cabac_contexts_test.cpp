// Context sets and the model choice: every context starts in the decoder's state for the same picture
// kind, model and quantiser (qp 0..51); the skip and predicted-mode families carry the mirrored pairs;
// the adaptive choice stores the model that fits what a slice learnt and hands it to the next picture
// of the same type at the same slice position; unused contexts cost nothing; a fixed model is used as
// set.
#include "h264enc/support/cabac_fixture.h"

#include "h264enc/cabac_contexts.h"
#include "h264enc/enc_params.h"

#include <gtest/gtest.h>

namespace enc_cabac_contexts_test { // one namespace per test file: a folder compiles as one source

namespace {

namespace enc = h264enc;

TEST(CabacContexts, StartStatesEqualTheDecodersAtEveryQuantiser)
{
    for (int type : {enc::kTypeI, enc::kTypeP, enc::kTypeB})
        for (int model = 0; model < 3; ++model)
            for (int qp = 0; qp <= 51; ++qp) {
                enctest::CabacBench b(type, model, qp);
                ASSERT_TRUE(b.SameContexts()) << "type " << type << " model " << model << " qp " << qp;
            }
}

TEST(CabacContexts, SkipAndPredictedModeFamiliesAreMirrored)
{
    // The published pair of the first P skip context under model 0 is (23, 33), of the first B skip
    // context (18, 64), and the predicted-mode flag's (13, 41): their bins have the
    // opposite sense here.
    const enc::CabacPairs &m0 = enc::cabac_pairs(false, 0);
    EXPECT_EQ(m0.motion[1 * 11 + 0], (std::array<int, 2>{-23, 127 - 33}));
    EXPECT_EQ(m0.motion[2 * 11 + 7], (std::array<int, 2>{-18, 127 - 64}));
    EXPECT_EQ(m0.texture[0], (std::array<int, 2>{-13, 127 - 41}));
    EXPECT_EQ(m0.texture[1], (std::array<int, 2>{3, 62}));
    // The I table's unused families hold (0, 64).
    const enc::CabacPairs &i = enc::cabac_pairs(true, 2);
    EXPECT_EQ(i.motion[33 + 18], (std::array<int, 2>{0, 64}));
}

struct ModelRun
{
    enc::EncoderParams input;
    enc::EncoderImage img;
    enc::Slice slice;
    enc::CabacModelMemory memory;
    explicit ModelRun(int slice_mode = 0, int slice_argument = 0)
    {
        input.ContextInitMethod = 1;
        input.SliceMode = slice_mode;
        input.SliceArgument = slice_argument;
        enc::create_context_memory(memory, input, 99);
        slice.motion = enc::create_contexts_MotionInfo();
        slice.texture = enc::create_contexts_TextureInfo();
        img.current_slice = &slice;
        img.qp = 28;
    }
    // A slice whose contexts ended exactly where model `fit` starts them, every context well used.
    void Slice(int type, int first_mb, int fit)
    {
        img.type = type;
        enc::cabac_select_model(memory, input, img, first_mb);
        selected.push_back(img.cabac_model);
        enc::cabac_init_context_sets(slice.motion.get(), slice.texture.get(), type == enc::kTypeI, fit,
                                     img.qp);
        for (auto *c = reinterpret_cast<enc::CabacEncContext *>(slice.motion.get());
             c != reinterpret_cast<enc::CabacEncContext *>(slice.motion.get()) + enc::kMotionContexts; ++c)
            c->usage = 40;
        for (auto *c = reinterpret_cast<enc::CabacEncContext *>(slice.texture.get());
             c != reinterpret_cast<enc::CabacEncContext *>(slice.texture.get()) + enc::kTextureContexts; ++c)
            c->usage = 40;
        enc::cabac_store_model(memory, input, img, first_mb);
    }
    std::vector<int> selected;
};

TEST(CabacContexts, ModelSequenceOfPAndBPictures)
{
    ModelRun r;
    r.Slice(enc::kTypeI, 0, 0);
    r.Slice(enc::kTypeP, 0, 2); // first P: model 0; it learns model 2's states
    r.Slice(enc::kTypeB, 0, 1); // first B: model 0
    r.Slice(enc::kTypeP, 0, 1); // second P: the stored 2
    r.Slice(enc::kTypeB, 0, 2); // second B: the stored 1
    r.Slice(enc::kTypeP, 0, 0);
    r.Slice(enc::kTypeStoredB, 0, 2); // stored B pictures keep their own row: model 0 first
    r.Slice(enc::kTypeStoredB, 0, 0);
    r.Slice(enc::kTypeI, 0, 0);
    EXPECT_EQ(r.selected, (std::vector<int>{0, 0, 0, 2, 1, 1, 0, 2, 0}));
}

TEST(CabacContexts, UnusedContextsCostNothingAndKeepModelZero)
{
    ModelRun r;
    enc::cabac_init_context_sets(r.slice.motion.get(), r.slice.texture.get(), false, 2, 28);
    EXPECT_EQ(enc::cabac_best_model(r.memory, *r.slice.motion, *r.slice.texture, false, 28), 0);
    EXPECT_EQ(enc::cabac_ctx_cost(r.memory, r.slice.texture->sig[3][2], 10, 20, 28), 0.0);
    // Half-used contexts weigh half.
    enc::CabacEncContext c;
    c.state = 10;
    c.MPS = 1;
    c.usage = 16;
    const double half = enc::cabac_ctx_cost(r.memory, c, -5, 90, 28);
    c.usage = 1000;
    EXPECT_DOUBLE_EQ(enc::cabac_ctx_cost(r.memory, c, -5, 90, 28), 2 * half);
}

TEST(CabacContexts, ProbabilityTableRunsFromOneHalfTo0_01875)
{
    ModelRun r;
    EXPECT_DOUBLE_EQ(r.memory.probability[64], 0.5);
    EXPECT_DOUBLE_EQ(r.memory.probability[65], 0.474609);
    EXPECT_DOUBLE_EQ(r.memory.probability[127], 0.01875);
    EXPECT_DOUBLE_EQ(r.memory.probability[0], 1 - 0.01875);
    EXPECT_NEAR(r.memory.entropy[64], -1.0, 1e-12);
}

TEST(CabacContexts, FixedModelTwoInitialisesFromModelTwo)
{
    ModelRun r;
    r.input.ContextInitMethod = 0;
    r.input.FixedModelNumber = 2;
    r.img.type = enc::kTypeB;
    enc::cabac_select_model(r.memory, r.input, r.img, 0);
    EXPECT_EQ(r.img.cabac_model, 2);
    enctest::CabacBench b(enc::kTypeB, r.img.cabac_model, 33);
    EXPECT_TRUE(b.SameContexts());
    // Nothing is stored with a fixed model.
    enc::cabac_store_model(r.memory, r.input, r.img, 0);
    EXPECT_EQ(r.memory.initialized[r.memory.Index(0, enc::kTypeB, 0)], 0);
}

TEST(CabacContexts, SlicePositionsFallBackToThePositionBefore)
{
    ModelRun r(1, 11); // 99 macroblocks in slices of 11: nine positions
    EXPECT_EQ(r.memory.slices_per_picture, 9);
    r.Slice(enc::kTypeP, 22, 2); // position 2
    r.Slice(enc::kTypeP, 33, 1); // position 3: nothing stored there, position 2 holds 2
    r.Slice(enc::kTypeP, 44, 1); // position 4: position 3 holds 1
    r.Slice(enc::kTypeP, 66, 1); // position 6: nothing at 5 or 6
    r.Slice(enc::kTypeP, 22, 0); // position 2 again
    EXPECT_EQ(r.selected, (std::vector<int>{0, 2, 1, 0, 2}));
}

// The carry between the frame and field rows with nine slice positions (99 macroblocks, 11 a slice):
// a field slice covers about the frame slices 2i and 2i + 1, so field position i takes frame position
// 2i and frame position i takes field position i / 2, for every picture type, flags and models alike
// (an empty source empties the target). Field positions whose frame position 2i lies past the last
// slice keep what they held.
TEST(CabacContexts, CopyBetweenFrameAndFieldRows)
{
    struct Case
    {
        int from;
        std::vector<int> source; // source position read by each target position 0..8, -1 none
    };
    const Case cases[] = {
        {0, {0, 2, 4, 6, 8, -1, -1, -1, -1}},
        {1, {0, 0, 1, 1, 2, 2, 3, 3, 4}},
    };
    for (const Case &c : cases) {
        ModelRun r(1, 11);
        ASSERT_EQ(r.memory.slices_per_picture, 9);
        const int to = 1 - c.from;
        for (int t = 0; t < enc::CabacModelMemory::kTypes; ++t)
            for (int i = 0; i < 9; ++i) {
                r.memory.initialized[r.memory.Index(c.from, t, i)] = i % 3 != 0 ? 1 : 0;
                r.memory.model_number[r.memory.Index(c.from, t, i)] = 10 * t + i;
                r.memory.initialized[r.memory.Index(to, t, i)] = 1;
                r.memory.model_number[r.memory.Index(to, t, i)] = -1;
            }
        enc::cabac_copy_model_memory(r.memory, c.from);
        for (int t = 0; t < enc::CabacModelMemory::kTypes; ++t)
            for (int i = 0; i < 9; ++i) {
                SCOPED_TRACE(testing::Message() << "from " << c.from << " type " << t << " position " << i);
                const int s = c.source[static_cast<size_t>(i)];
                EXPECT_EQ(r.memory.initialized[r.memory.Index(to, t, i)], s < 0 ? 1 : (s % 3 != 0 ? 1 : 0));
                EXPECT_EQ(r.memory.model_number[r.memory.Index(to, t, i)], s < 0 ? -1 : 10 * t + s);
                // The source row is left as it was.
                EXPECT_EQ(r.memory.model_number[r.memory.Index(c.from, t, i)], 10 * t + i);
            }
    }
}

// What a frame slice learnt steers the field slice over the same rows once carried: frame positions 2
// and 3 learn models 2 and 1; field slice 1 (field macroblocks 11..21) then starts with model 2, and
// after field slices at position 1 learn model 1 (P) and 2 (B), frame positions 2 and 3 start with them.
TEST(CabacContexts, CarriedChoicesSteerTheOtherStructure)
{
    ModelRun r(1, 11);
    r.Slice(enc::kTypeP, 22, 2);
    r.Slice(enc::kTypeP, 33, 1);
    enc::cabac_copy_model_memory(r.memory, 0);
    r.img.field_pass = 1;
    r.Slice(enc::kTypeP, 11, 1);
    r.Slice(enc::kTypeB, 11, 2); // no B choice in either row yet: model 0
    enc::cabac_copy_model_memory(r.memory, 1);
    r.img.field_pass = 0;
    r.Slice(enc::kTypeP, 22, 0);
    r.Slice(enc::kTypeP, 33, 0);
    r.Slice(enc::kTypeB, 22, 0);
    EXPECT_EQ(r.selected, (std::vector<int>{0, 2, 2, 0, 1, 1, 2}));
}

} // namespace

} // namespace enc_cabac_contexts_test
