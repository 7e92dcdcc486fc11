// The arithmetic coder: a million random bins (context, bypass and end-of-slice bins, contexts of every
// skew) decode back in the decoder's engine with the same bins and the same final context states; the
// byte-at-a-time coder and the bit-at-a-time reference agree on every byte and every bit count; and
// the worked cases: the minimum payload, the unstored first bit, state 0 on an LPS, clipped start
// states, usage counting and the flush without padding.
#include "h264dec/cabac_engine.h"
#include "h264enc/cabac_enc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace enc_cabac_engine_test { // one namespace per test file: a folder compiles as one source

namespace {

namespace enc = h264enc;

struct Op
{
    int kind; // 0 context, 1 bypass, 2 end of slice
    int ctx;
    int bin;
};

// Bins drawn with the probability a context of the drawn skew would expect, so that states travel
// the whole table; every so often a bin against the grain.
std::vector<Op> RandomOps(int n, int contexts, unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<double> p1(static_cast<size_t>(contexts));
    for (double &p : p1)
        p = std::uniform_real_distribution<double>(0.0, 1.0)(rng) < 0.5
                ? std::pow(std::uniform_real_distribution<double>(0.0, 1.0)(rng), 4.0)
                : 1.0 - std::pow(std::uniform_real_distribution<double>(0.0, 1.0)(rng), 4.0);
    std::vector<Op> ops;
    ops.reserve(static_cast<size_t>(n));
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (int i = 0; i < n - 1; ++i) {
        const unsigned r = rng() % 100;
        if (r < 80) {
            const int c = static_cast<int>(rng() % static_cast<unsigned>(contexts));
            ops.push_back({0, c, u(rng) < p1[static_cast<size_t>(c)] ? 1 : 0});
        } else if (r < 98) {
            ops.push_back({1, 0, static_cast<int>(rng() & 1)});
        } else {
            ops.push_back({2, 0, 0});
        }
    }
    ops.push_back({2, 0, 1});
    return ops;
}

std::vector<enc::CabacEncContext> RandomContexts(int n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<enc::CabacEncContext> ctx(static_cast<size_t>(n));
    for (auto &c : ctx) {
        c.state = static_cast<uint16_t>(rng() % 63);
        c.MPS = static_cast<uint8_t>(rng() & 1);
    }
    return ctx;
}

TEST(CabacEngine, MillionRandomBinsDecodeBackWithTheSameStates)
{
    const int kContexts = 40;
    const std::vector<Op> ops = RandomOps(1000000, kContexts, 11);
    std::vector<enc::CabacEncContext> ctx = RandomContexts(kContexts, 12);
    std::vector<CabacContext> dctx(ctx.size());
    for (size_t i = 0; i < ctx.size(); ++i)
        dctx[i] = {ctx[i].state, ctx[i].MPS, 0};

    std::vector<uint8_t> buffer(16);
    int pos = 3; // the slice header's bytes come first
    enc::CabacEncEnv env;
    enc::cabac_enc_start(&env, &buffer, &pos);
    for (const Op &op : ops) {
        if (op.kind == 0)
            enc::cabac_enc_symbol(&env, op.bin, &ctx[static_cast<size_t>(op.ctx)]);
        else if (op.kind == 1)
            enc::cabac_enc_bypass(&env, op.bin);
        else
            enc::cabac_enc_final(&env, op.bin);
    }
    enc::cabac_enc_finish(&env, 0, nullptr);
    ASSERT_EQ(env.start_byte_count, pos - 3);

    CabacDecoder dec;
    int rpos = 0;
    cabac_start_decoding(&dec, buffer.data(), pos, 3, &rpos);
    int mismatches = 0;
    for (const Op &op : ops) {
        int bin;
        if (op.kind == 0)
            bin = cabac_decode_symbol(&dec, &dctx[static_cast<size_t>(op.ctx)]);
        else if (op.kind == 1)
            bin = cabac_decode_bypass(&dec);
        else
            bin = cabac_decode_final(&dec);
        mismatches += bin != op.bin;
    }
    EXPECT_EQ(mismatches, 0);
    for (size_t i = 0; i < ctx.size(); ++i) {
        EXPECT_EQ(dctx[i].state, ctx[i].state) << i;
        EXPECT_EQ(dctx[i].mps, ctx[i].MPS) << i;
    }
    // The decoder stops inside the last byte: nothing was read past the payload.
    EXPECT_LE(rpos, pos + 1);
}

TEST(CabacEngine, FastCoderEqualsTheReferenceAtEveryBin)
{
    for (unsigned seed = 1; seed <= 40; ++seed) {
        const int n = seed <= 4 ? 200000 : static_cast<int>(1 + seed * 37 % 600);
        const std::vector<Op> ops = RandomOps(n, 12, seed);
        std::vector<enc::CabacEncContext> a = RandomContexts(12, seed + 100), b = a;
        std::vector<uint8_t> bufA, bufB;
        int posA = static_cast<int>(seed % 5), posB = posA;
        const int usage = 1;
        enc::CabacEncEnv fast;
        enc::CabacEncEnvReference ref;
        fast.count_usage = &usage;
        ref.count_usage = &usage;
        enc::cabac_enc_start(&fast, &bufA, &posA);
        enc::cabac_enc_start_reference(&ref, &bufB, &posB);
        ASSERT_EQ(enc::cabac_enc_bits_written(&fast), enc::cabac_enc_bits_written_reference(&ref));
        for (size_t i = 0; i < ops.size(); ++i) {
            const Op &op = ops[i];
            if (op.kind == 0) {
                enc::cabac_enc_symbol(&fast, op.bin, &a[static_cast<size_t>(op.ctx)]);
                enc::cabac_enc_symbol_reference(&ref, op.bin, &b[static_cast<size_t>(op.ctx)]);
            } else if (op.kind == 1) {
                enc::cabac_enc_bypass(&fast, op.bin);
                enc::cabac_enc_bypass_reference(&ref, op.bin);
            } else {
                enc::cabac_enc_final(&fast, op.bin);
                enc::cabac_enc_final_reference(&ref, op.bin);
            }
            ASSERT_EQ(enc::cabac_enc_bits_written(&fast), enc::cabac_enc_bits_written_reference(&ref))
                << "seed " << seed << " bin " << i;
        }
        int stuffA = 0, stuffB = 0;
        enc::cabac_enc_finish(&fast, 7, &stuffA);
        enc::cabac_enc_finish_reference(&ref, 7, &stuffB);
        ASSERT_EQ(posA, posB) << seed;
        EXPECT_TRUE(std::equal(bufA.begin(), bufA.begin() + posA, bufB.begin())) << seed;
        EXPECT_EQ(stuffA, stuffB) << seed;
        EXPECT_EQ(fast.min_bytes, ref.bin_eights) << seed;
        EXPECT_EQ(fast.start_byte_count, ref.start_byte_count) << seed;
        EXPECT_EQ(enc::cabac_enc_bits_written(&fast), 8 * posA);
        EXPECT_EQ(enc::cabac_enc_bits_written_reference(&ref), 8 * posB);
        for (size_t i = 0; i < a.size(); ++i) {
            EXPECT_EQ(a[i].state, b[i].state);
            EXPECT_EQ(a[i].MPS, b[i].MPS);
            EXPECT_EQ(a[i].usage, b[i].usage);
        }
    }
}

TEST(CabacEngine, SliceOf3200BinsOver99MacroblocksNeeds97Bytes)
{
    std::vector<uint8_t> buf;
    int pos = 0;
    enc::CabacEncEnv env;
    enc::cabac_enc_start(&env, &buf, &pos);
    enc::CabacEncContext c;
    for (int i = 0; i < 3199; ++i)
        enc::cabac_enc_symbol(&env, 0, &c); // the most probable symbol every time: few bytes
    enc::cabac_enc_final(&env, 1);
    enc::cabac_enc_finish(&env, 98, nullptr);
    EXPECT_EQ(env.bins, 3200);
    EXPECT_EQ(env.min_bytes, 97);
    EXPECT_LT(pos, 97); // the payload is short and gets zero words (the NAL packing adds them)
}

TEST(CabacEngine, FirstBitIsNeverStored)
{
    std::vector<uint8_t> buf(8);
    int pos = 5;
    enc::CabacEncEnv env;
    enc::cabac_enc_start(&env, &buf, &pos);
    EXPECT_EQ(enc::cabac_enc_bits_written(&env), 8 * 5 - 1);
    enc::CabacEncEnvReference ref;
    int rpos = 5;
    enc::cabac_enc_start_reference(&ref, &buf, &rpos);
    EXPECT_EQ(enc::cabac_enc_bits_written_reference(&ref), 8 * 5 - 1);
    // Nine bypass zeros decide nine bits; the first is dropped, so eight make the first byte.
    for (int i = 0; i < 9; ++i)
        enc::cabac_enc_bypass_reference(&ref, 0);
    EXPECT_EQ(rpos, 6);
    EXPECT_EQ(enc::cabac_enc_bits_written_reference(&ref), 8 * 6);
}

TEST(CabacEngine, StateZeroOnAnLpsSwapsTheMpsAndStateStaysBelow63)
{
    std::vector<uint8_t> buf;
    int pos = 0;
    enc::CabacEncEnv env;
    enc::cabac_enc_start(&env, &buf, &pos);
    enc::CabacEncContext c;
    c.state = 0;
    c.MPS = 1;
    enc::cabac_enc_symbol(&env, 0, &c);
    EXPECT_EQ(c.state, 0);
    EXPECT_EQ(c.MPS, 0);
    c.state = 62;
    enc::cabac_enc_symbol(&env, 0, &c);
    EXPECT_EQ(c.state, 62);
    // From any start state no sequence of bins reaches 63.
    std::mt19937 rng(4);
    for (int start = 0; start <= 62; ++start) {
        c.state = static_cast<uint16_t>(start);
        for (int i = 0; i < 200; ++i) {
            enc::cabac_enc_symbol(&env, static_cast<int>(rng() % 3 == 0), &c);
            ASSERT_LE(c.state, 62);
        }
    }
}

TEST(CabacEngine, StartStatesFromPairsClipThePreValue)
{
    struct Case
    {
        int m, n, qp, state, mps;
    };
    const Case cases[] = {
        {0, 0, 26, 62, 0},     // pre 0, clipped to 1
        {0, 127, 26, 62, 1},   // pre 127, clipped to 126
        {60, 100, 51, 62, 1},  // pre 291, clipped to 126
        {-28, 127, 51, 26, 0}, // (-1428) >> 4 = -90 (towards minus infinity): pre 37
        {-1, 64, 1, 0, 0},     // (-1) >> 4 = -1: pre 63
        {0, 64, 30, 0, 1},     // pre 64
    };
    for (const Case &k : cases) {
        enc::CabacEncContext c;
        c.usage = 9;
        enc::cabac_ctx_init(&c, k.m, k.n, k.qp);
        EXPECT_EQ(c.state, k.state) << k.m << " " << k.n;
        EXPECT_EQ(c.MPS, k.mps) << k.m << " " << k.n;
        EXPECT_EQ(c.usage, 0u);
    }
}

TEST(CabacEngine, UsageCountsOnlyWhileTheFlagIsSet)
{
    std::vector<uint8_t> buf;
    int pos = 0;
    int flag = 0;
    enc::CabacEncEnv env;
    env.count_usage = &flag;
    enc::cabac_enc_start(&env, &buf, &pos);
    enc::CabacEncContext c;
    enc::cabac_enc_symbol(&env, 1, &c);
    flag = 1;
    enc::cabac_enc_symbol(&env, 1, &c);
    enc::cabac_enc_symbol(&env, 0, &c);
    enc::cabac_enc_bypass(&env, 1);
    flag = 0;
    enc::cabac_enc_symbol(&env, 0, &c);
    EXPECT_EQ(c.usage, 2u);
}

TEST(CabacEngine, FlushOnAByteBoundaryAddsNoPadding)
{
    // Find a bin count after which the stop bit lands on a byte boundary, and one where it does not.
    bool sawAligned = false, sawPadded = false;
    for (int n = 0; n < 40 && !(sawAligned && sawPadded); ++n) {
        std::vector<uint8_t> buf;
        int pos = 0, stuffing = 0;
        enc::CabacEncEnvReference ref;
        enc::cabac_enc_start_reference(&ref, &buf, &pos);
        for (int i = 0; i < n; ++i)
            enc::cabac_enc_bypass_reference(&ref, i & 1);
        enc::cabac_enc_final_reference(&ref, 1);
        const int bitsBefore = enc::cabac_enc_bits_written_reference(&ref);
        enc::cabac_enc_finish_reference(&ref, 0, &stuffing);
        // Two bits of the base and the stop bit, then the padding to the boundary.
        EXPECT_EQ(8 * pos, bitsBefore + 3 + stuffing);
        if ((bitsBefore + 3) % 8 == 0) {
            EXPECT_EQ(stuffing, 0);
            sawAligned = true;
        } else {
            EXPECT_GT(stuffing, 0);
            sawPadded = true;
        }
        EXPECT_EQ(buf[static_cast<size_t>(pos - 1)] & ((2 << stuffing) - 1), 1 << stuffing) << "stop bit";
    }
    EXPECT_TRUE(sawAligned);
    EXPECT_TRUE(sawPadded);
}

} // namespace

} // namespace enc_cabac_engine_test
