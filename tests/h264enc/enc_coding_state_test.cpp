// Coding states: with RDOptimization 0 a save and restore leave the writers where the writes left them;
// with RDOptimization 1 a CAVLC trial of 37 bits is taken back to the saved position without touching
// any context set; a state made for CAVLC has no coders and no context sets; and a CABAC trial taken
// back leaves exactly the bytes and contexts of never having tried it.
#include "h264enc/cabac_write.h"
#include "h264enc/coding_state.h"
#include "h264enc/mb_write.h"
#include "h264enc/support/slice_fixture.h"

#include <gtest/gtest.h>

#include <cstring>

namespace enc_coding_state_test { // one namespace per test file: a folder compiles as one source

namespace {

namespace enc = h264enc;
using namespace enctest;

// A run with one slice started (header written, coder started) at macroblock 0.
std::unique_ptr<enc::EncoderRun> StartedSlice(int cabac, int rd)
{
    RunOptions o;
    o.cabac = cabac;
    auto run = MakeRun(o);
    run->input.RDOptimization = rd;
    run->img.type = enc::kTypeP;
    run->img.qp = 28;
    enc::set_macroblock_position(run->img, 0);
    enc::create_slice(*run);
    enc::begin_slice(*run);
    enc::begin_macroblock(*run);
    return run;
}

int WriteBits(enc::EncoderRun &run, int bits)
{
    // Exp-Golomb codes of 0 are one bit each.
    int written = 0;
    for (int k = 0; k < bits; ++k) {
        enc::SyntaxItem item;
        item.category = enc::SE_MVD;
        item.value = 0;
        item.write_fn = enc::cabac_write_mvd;
        written += enc::write_syntax_element(run, item);
    }
    return written;
}

TEST(CodingState, WithoutRateDistortionNothingIsTakenBack)
{
    auto run = StartedSlice(0, 0);
    auto cs = enc::init_coding_state(run->input);
    const enc::Bitstream &bs = run->img.current_slice->partArr[0].bitstream;
    enc::save_coding_state(cs.get(), run->input, run->img);
    WriteBits(*run, 13);
    const int after = bs.BitCount();
    enc::restore_coding_state(cs.get(), run->input, run->img);
    EXPECT_EQ(bs.BitCount(), after);
}

TEST(CodingState, CavlcTrialOf37BitsIsTakenBack)
{
    auto run = StartedSlice(0, 1);
    auto cs = enc::init_coding_state(run->input);
    EXPECT_TRUE(cs->encenv.empty());
    EXPECT_EQ(cs->motion, nullptr);
    EXPECT_EQ(cs->texture, nullptr);
    enc::Bitstream &bs = run->img.current_slice->partArr[0].bitstream;
    const int bytes = bs.byte_count, free = bs.free_bits;
    enc::MacroblockRecord &mb = run->img.CurrentMb();
    mb.bit_counts[enc::kBitsVectors] = 4;
    enc::save_coding_state(cs.get(), run->input, run->img);
    EXPECT_EQ(WriteBits(*run, 37), 37);
    mb.bit_counts[enc::kBitsVectors] = 41;
    mb.cbf_bits = 9;
    enc::restore_coding_state(cs.get(), run->input, run->img);
    EXPECT_EQ(bs.byte_count, bytes);
    EXPECT_EQ(bs.free_bits, free);
    EXPECT_EQ(mb.bit_counts[enc::kBitsVectors], 4);
    EXPECT_EQ(mb.element_count, 0);
    EXPECT_EQ(mb.cbf_bits, 0);
    enc::free_coding_state(cs);
    EXPECT_EQ(cs, nullptr);
}

TEST(CodingState, CabacTrialTakenBackLeavesNoTrace)
{
    // Slice A: a trial of 300 bins taken back, then the real elements; slice B: the real elements only.
    auto a = StartedSlice(1, 1);
    auto b = StartedSlice(1, 1);
    auto cs = enc::init_coding_state(a->input);
    ASSERT_EQ(cs->encenv.size(), 1u);
    ASSERT_NE(cs->motion, nullptr);
    enc::save_coding_state(cs.get(), a->input, a->img);
    std::mt19937 rng(3);
    for (int k = 0; k < 300; ++k) {
        enc::SyntaxItem item;
        item.category = enc::SE_MVD;
        item.value = static_cast<int>(rng() % 41) - 20;
        item.write_fn = enc::cabac_write_mvd;
        enc::write_syntax_element(*a, item);
    }
    a->img.CurrentMb().mv_diff[0][1][2][0] = 7;
    enc::restore_coding_state(cs.get(), a->input, a->img);
    EXPECT_EQ(a->img.CurrentMb().mv_diff[0][1][2][0], 0);
    for (enc::EncoderRun *run : {a.get(), b.get()}) {
        enc::SyntaxItem item;
        item.category = enc::SE_CBP_INTER;
        item.value = 29;
        item.write_fn = enc::cabac_write_cbp;
        enc::write_syntax_element(*run, item);
        enc::finish_slice(*run);
    }
    const enc::Bitstream &ba = a->img.current_slice->partArr[0].bitstream;
    const enc::Bitstream &bb = b->img.current_slice->partArr[0].bitstream;
    ASSERT_EQ(ba.byte_count, bb.byte_count);
    EXPECT_TRUE(std::equal(ba.StreamBuffer.begin(), ba.StreamBuffer.begin() + ba.byte_count,
                           bb.StreamBuffer.begin()));
    EXPECT_EQ(std::memcmp(a->img.current_slice->motion.get(), b->img.current_slice->motion.get(),
                          sizeof(enc::MotionContextSet)),
              0);
}

} // namespace

} // namespace enc_coding_state_test
