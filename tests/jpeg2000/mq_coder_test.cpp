// The MQ coder against the published test sequence, round trips under every termination, the
// truncation estimate, and the fast decoder against the plain reference.
#include "jpeg2000/coding_tables.h"
#include "jpeg2000/mq_coder.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>

namespace mq_coder_test { // one namespace per test file: a folder compiles as one source

using namespace zn::j2k;

namespace {
// Code bytes in a heap chain, as the decoder reads them.
code_byte_block *Chain(codeword_heap &heap, const std::vector<uint8_t> &bytes)
{
    code_byte_block *first = heap.get_block(), *b = first;
    for (auto &w : first->words)
        w = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0 && i % 32 == 0) {
            b->next = heap.get_block();
            b = b->next;
            for (auto &w : b->words)
                w = 0;
        }
        b->words[(i % 32) / 4] |= uint32_t(bytes[i]) << (24 - 8 * (i % 4));
    }
    return first;
}

std::vector<uint8_t> Bytes(const code_byte_block *b, int word_index, int count)
{
    std::vector<uint8_t> out;
    for (int i = 0; i < count; ++i) {
        int w = word_index + i / 4;
        const code_byte_block *blk = b;
        for (; w >= 8; w -= 8)
            blk = blk->next;
        out.push_back(uint8_t(blk->words[w] >> (24 - 8 * (i % 4))));
    }
    return out;
}

const std::vector<uint8_t> kT88Data = {0x00, 0x02, 0x00, 0x51, 0x00, 0x00, 0x00, 0xC0, 0x03, 0x52, 0x87,
                                       0x2A, 0xAA, 0xAA, 0xAA, 0xAA, 0x82, 0xC0, 0x20, 0x00, 0xFC, 0xD7,
                                       0x9E, 0xF6, 0xBF, 0x7F, 0xED, 0x90, 0x4F, 0x46, 0xA3, 0xBF};
const std::vector<uint8_t> kT88Code = {0x84, 0xC7, 0x3B, 0xFC, 0xE1, 0xA1, 0x43, 0x04, 0x02, 0x20,
                                       0x00, 0x00, 0x41, 0x0D, 0xBB, 0x86, 0xF4, 0x31, 0x7F, 0xFF,
                                       0x88, 0xFF, 0x37, 0x47, 0x1A, 0xDB, 0x6A, 0xDF, 0xFF, 0xAC};

struct Contexts
{
    int32_t words[2 * kMqContextWords] = {};
};
} // namespace

TEST(J2kMq, StateTableEqualsThePublishedTable)
{
    // Qe, NMPS, NLPS, SWITCH of all 47 states, as printed in the standard.
    const uint16_t qe[47] = {0x5601, 0x3401, 0x1801, 0x0AC1, 0x0521, 0x0221, 0x5601, 0x5401, 0x4801, 0x3801,
                             0x3001, 0x2401, 0x1C01, 0x1601, 0x5601, 0x5401, 0x5101, 0x4801, 0x3801, 0x3401,
                             0x3001, 0x2801, 0x2401, 0x2201, 0x1C01, 0x1801, 0x1601, 0x1401, 0x1201, 0x1101,
                             0x0AC1, 0x09C1, 0x08A1, 0x0521, 0x0441, 0x02A1, 0x0221, 0x0141, 0x0111, 0x0085,
                             0x0049, 0x0025, 0x0015, 0x0009, 0x0005, 0x0001, 0x5601};
    const uint8_t nmps[47] = {1,  2,  3,  4,  5,  38, 7,  8,  9,  10, 11, 12, 13, 29, 15, 16,
                              17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32,
                              33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45, 45, 46};
    const uint8_t nlps[47] = {1,  6,  9,  12, 29, 33, 6,  14, 14, 14, 17, 18, 20, 21, 14, 14,
                              15, 16, 17, 18, 19, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29,
                              30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 46};
    for (int s = 0; s < 47; ++s) {
        EXPECT_EQ(mq_states[s].qe, qe[s]) << s;
        EXPECT_EQ(mq_states[s].nmps, nmps[s]) << s;
        EXPECT_EQ(mq_states[s].nlps, nlps[s]) << s;
        EXPECT_EQ(mq_states[s].switch_mps, (s == 0 || s == 6 || s == 14) ? 1 : 0) << s;
    }
}

TEST(J2kMq, PublishedTestSequenceDecodesWithBothDecoders)
{
    mq_build_decoder_tables();
    codeword_heap heap;
    code_byte_block *chain = Chain(heap, kT88Code);
    for (bool fast : {false, true}) {
        Contexts ctx;
        int32_t zero = 0;
        mq_load_contexts(ctx.words, &zero, 1);
        mq_decoder d{};
        mq_decoder_start(d, 1, ctx.words, chain, int(kT88Code.size()), 0);
        mq_decoder_begin(d);
        std::vector<uint8_t> out(kT88Data.size());
        std::optional<mq_decode_loop> loop;
        if (fast)
            loop.emplace(d);
        for (size_t i = 0; i < out.size() * 8; ++i) {
            int bit = fast ? loop->decode(0) : mq_decode_reference(d, 0);
            out[i / 8] = uint8_t(out[i / 8] | bit << (7 - i % 8));
        }
        EXPECT_EQ(out, kT88Data) << (fast ? "fast" : "reference");
    }
}

TEST(J2kMq, PublishedTestSequenceEncodesToTheCodeBytes)
{
    codeword_heap heap;
    code_byte_block *first = heap.get_block();
    Contexts ctx;
    int32_t zero = 0;
    mq_load_contexts(ctx.words, &zero, 1);
    mq_encoder e{};
    mq_encoder_start(e, 1, ctx.words, first, 0, &heap, 0);
    mq_encoder_open_segment(e);
    for (size_t i = 0; i < kT88Data.size() * 8; ++i)
        mq_encode(e, 0, (kT88Data[i / 8] >> (7 - i % 8)) & 1);
    int end = mq_encoder_terminate(e, 0);
    mq_encoder_flush(e);
    ASSERT_GE(end, 27);
    auto bytes = Bytes(first, 0, end);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 27),
              std::vector<uint8_t>(kT88Code.begin(), kT88Code.begin() + 27));
}

namespace {
// A coded block: passes that are MQ or raw, each ending its segment or not.
struct Pass
{
    bool raw;
    bool terminate;
    std::vector<std::pair<int, int>> symbols; // (context, symbol); context -1 for raw bits
};

struct Coded
{
    std::vector<int> pass_end;      // segment end after the pass when it terminates, else -1
    std::vector<mq_encoder> states; // state after every pass
    std::vector<uint8_t> bytes;
    int total = 0;
};

std::vector<Pass> RandomPasses(std::mt19937 &rng, bool allow_raw)
{
    std::vector<Pass> passes;
    int n = 1 + rng() % 8;
    bool open_mq = false;
    for (int p = 0; p < n; ++p) {
        Pass pass;
        // A raw pass may only follow a terminated segment; every segment closes at the block's end.
        pass.raw = allow_raw && !open_mq && rng() % 3 == 0;
        pass.terminate = pass.raw || rng() % 2 == 0 || p == n - 1;
        int count = rng() % 400;
        int skew = rng() % 4; // from uniform symbols to long runs of zeros
        for (int i = 0; i < count; ++i) {
            int ctx = pass.raw ? -1 : int(rng() % kNumContexts);
            int sym = skew == 0 ? int(rng() & 1) : (rng() % (4 << skew) == 0);
            if (rng() % 50 == 0)
                sym = 1; // extremes: bursts of ones give 0xFF bytes and carries
            pass.symbols.push_back({ctx, sym});
        }
        if (rng() % 7 == 0)
            for (int i = 0; i < 64; ++i)
                pass.symbols.push_back({pass.raw ? -1 : 5, 1});
        open_mq = !pass.raw && !pass.terminate;
        passes.push_back(pass);
    }
    return passes;
}

Coded Encode(const std::vector<Pass> &passes, bool predictable, codeword_heap &heap, code_byte_block **first)
{
    build_coding_tables();
    Coded out;
    *first = heap.get_block();
    Contexts ctx;
    mq_load_contexts(ctx.words, initial_context_states, kNumContexts);
    mq_encoder e{};
    mq_encoder_start(e, kNumContexts, ctx.words, *first, 0, &heap, predictable);
    for (const Pass &pass : passes) {
        if (!pass.raw && !e.mq_segment_open)
            mq_encoder_open_segment(e);
        for (auto [c, s] : pass.symbols) {
            if (pass.raw)
                mq_encode_raw(e, s);
            else
                mq_encode(e, c, s);
        }
        out.states.push_back(e);
        out.pass_end.push_back(pass.terminate ? mq_encoder_terminate(e, 0) : -1);
    }
    mq_encoder_flush(e);
    out.total = 4 * e.words_written;
    out.bytes = Bytes(*first, 0, out.total);
    return out;
}

// Decodes the passes with the given segment ends; returns the symbols per pass.
std::vector<std::vector<int>> Decode(const std::vector<Pass> &passes, const std::vector<int> &ends,
                                     const code_byte_block *chain, int total, bool fast, bool check,
                                     std::vector<int> *confidence = nullptr)
{
    mq_build_decoder_tables();
    Contexts ctx;
    mq_load_contexts(ctx.words, initial_context_states, kNumContexts);
    mq_decoder d{};
    mq_decoder_start(d, kNumContexts, ctx.words, chain, total, check);
    std::vector<std::vector<int>> out;
    bool segment_set = false;
    for (size_t p = 0; p < passes.size(); ++p) {
        if (!segment_set) {
            // The segment runs to the end of the first later pass that terminates.
            for (size_t q = p; q < passes.size(); ++q)
                if (ends[q] >= 0) {
                    mq_set_segment_end(d, ends[q]);
                    break;
                }
            segment_set = true;
        }
        std::vector<int> symbols;
        if (passes[p].raw) {
            for (size_t i = 0; i < passes[p].symbols.size(); ++i)
                symbols.push_back(mq_decode_raw(d));
        } else {
            if (!d.mq_active)
                mq_decoder_begin(d);
            if (fast) {
                mq_decode_loop loop(d); // registers in locals for the pass, stored back at its end
                for (auto [c, s] : passes[p].symbols)
                    symbols.push_back(loop.decode(c));
            } else {
                for (auto [c, s] : passes[p].symbols)
                    symbols.push_back(mq_decode_reference(d, c));
            }
        }
        out.push_back(symbols);
        if (passes[p].terminate) {
            int conf = mq_finish_segment(d);
            if (confidence)
                confidence->push_back(conf);
            segment_set = false;
        }
    }
    mq_decoder_raw_mode(d);
    return out;
}

std::vector<std::vector<int>> Expected(const std::vector<Pass> &passes)
{
    std::vector<std::vector<int>> out;
    for (const Pass &p : passes) {
        std::vector<int> s;
        for (auto [c, v] : p.symbols)
            s.push_back(v);
        out.push_back(s);
    }
    return out;
}
} // namespace

TEST(J2kMq, RandomSymbolsRoundTripUnderEveryTermination)
{
    std::mt19937 rng(2718);
    for (int trial = 0; trial < 400; ++trial) {
        bool predictable = trial % 2;
        auto passes = RandomPasses(rng, trial % 4 >= 2);
        codeword_heap heap;
        code_byte_block *first = nullptr;
        Coded coded = Encode(passes, predictable, heap, &first);
        for (bool fast : {false, true}) {
            std::vector<int> confidence;
            auto decoded = Decode(passes, coded.pass_end, first, coded.total, fast, predictable, &confidence);
            ASSERT_EQ(decoded, Expected(passes)) << "trial " << trial << (fast ? " fast" : " reference");
            if (predictable) { // a stream ended as its encoder said passes every check
                for (int c : confidence)
                    EXPECT_GE(c, 0) << "trial " << trial;
            }
        }
        int previous = 0;
        for (int end : coded.pass_end) {
            if (end >= 0) {
                EXPECT_GE(end, previous);
                previous = end;
            }
        }
        EXPECT_LE(previous, coded.total);
    }
}

TEST(J2kMq, TruncationLengthIsInBoundsAndEnoughToDecode)
{
    std::mt19937 rng(31415);
    for (int trial = 0; trial < 300; ++trial) {
        auto passes = RandomPasses(rng, false);
        codeword_heap heap;
        code_byte_block *first = nullptr;
        Coded coded = Encode(passes, false, heap, &first);
        int lower = 0;
        for (size_t p = 0; p < passes.size(); ++p) {
            int upper = -1;
            for (size_t q = p; q < passes.size() && upper < 0; ++q)
                upper = coded.pass_end[q];
            int t = coded.pass_end[p] >= 0 ? coded.pass_end[p]
                                           : mq_truncation_length(coded.states[p], first, 0, lower, upper);
            ASSERT_GE(t, lower);
            ASSERT_LE(t, upper);
            // A decoder given only t bytes of this segment decodes every symbol up to this pass.
            std::vector<Pass> head(passes.begin(), passes.begin() + p + 1);
            head.back().terminate = true;
            std::vector<int> ends(coded.pass_end.begin(), coded.pass_end.begin() + p + 1);
            ends.back() = t;
            auto cut = coded.bytes;
            for (size_t i = t; i < cut.size(); ++i)
                cut[i] = uint8_t(trial * 37 + i); // whatever follows must not matter
            codeword_heap heap2;
            auto decoded = Decode(head, ends, Chain(heap2, cut), t, true, false);
            ASSERT_EQ(decoded, Expected(head)) << "trial " << trial << " pass " << p;
            if (coded.pass_end[p] >= 0)
                lower = coded.pass_end[p];
        }
    }
}

TEST(J2kMq, SegmentEdgeCases)
{
    codeword_heap heap;
    // An MQ segment with no symbols ends soundly, at its start.
    {
        code_byte_block *first = heap.get_block();
        Contexts ctx;
        mq_load_contexts(ctx.words, initial_context_states, kNumContexts);
        mq_encoder e{};
        mq_encoder_start(e, kNumContexts, ctx.words, first, 0, &heap, 0);
        mq_encoder_open_segment(e);
        EXPECT_EQ(mq_encoder_terminate(e, 0), 0);
    }
    // A raw segment ending just after a 0xFF byte gets the padding byte 0x2A.
    {
        code_byte_block *first = heap.get_block();
        mq_encoder e{};
        mq_encoder_start(e, kNumContexts, nullptr, first, 0, &heap, 0);
        for (int i = 0; i < 8; ++i)
            mq_encode_raw(e, 1);
        EXPECT_EQ(mq_encoder_terminate(e, 0), 2);
        mq_encoder_flush(e);
        EXPECT_EQ(Bytes(first, 0, 2), (std::vector<uint8_t>{0xFF, 0x2A}));
    }
    // Decoding past the end of a segment reads only 1-bits and stays inside the segment.
    {
        code_byte_block *chain = Chain(heap, {0x00, 0x00, 0x00});
        mq_decoder d{};
        mq_decoder_start(d, 0, nullptr, chain, 1, 0);
        for (int i = 0; i < 8; ++i)
            EXPECT_EQ(mq_decode_raw(d), 0);
        for (int i = 0; i < 30; ++i)
            EXPECT_EQ(mq_decode_raw(d), 1);
        EXPECT_EQ(d.consumed, 1);
    }
}

TEST(J2kMq, ShortcutNeverDecidesAContextWhoseMpsIsOne)
{
    mq_build_decoder_tables();
    for (int w = 0; w < 94; ++w) {
        bool mps_one = w & 1;
        EXPECT_EQ((mq_combined_probability[w] & kMqMpsOneFlag) != 0, mps_one);
        EXPECT_EQ(mq_combined_probability[w] & 0xFFFF, mq_states[w >> 1].qe);
        // The shortcut compares against an allowance below 0x8000.
        if (mps_one) {
            EXPECT_GT(uint32_t(mq_combined_probability[w]), 0x7FFFu);
        }
    }
}

} // namespace mq_coder_test
