// The channel's pieces against closed formulas: the error draws' rates and distributions, the
// interleaver as a permutation that spreads bursts, the checks' correct/detect/miss limits of each
// protocol, and the slots of the HiperLAN medium.
#include "mpeg/channel/wireless_channel.h"
#include "platform/random.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <numeric>
#include <vector>

namespace channel_coding_test { // one namespace per test file: a folder compiles as one source

namespace {

using zn::ChannelModel;
using zn::ChannelStats;
using zn::ProtocolConstants;

// Binomial bounds: count within 5 standard deviations of n p.
::testing::AssertionResult WithinBinomial(int64_t count, double n, double p)
{
    const double mean = n * p, sd = std::sqrt(n * p * (1 - p));
    if (std::abs(static_cast<double>(count) - mean) <= 5 * sd)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << count << " errors, expected " << mean << " +- " << 5 * sd;
}

TEST(ChannelProtocols, FramingAddsUp)
{
    const ProtocolConstants &h = zn::HiperlanConstants();
    // 16 checks of 31 coded bits carry 26 data bits each: one 52-byte unit.
    EXPECT_EQ(h.codedBits / h.checkLength, 16);
    EXPECT_EQ(16 * h.dataBits, 8 * h.unitBytes);
    const int units[4] = {8, 22, 39, 14};
    for (int s = 1; s <= 4; ++s) {
        SCOPED_TRACE(s);
        const ProtocolConstants &g = zn::GprsConstants(s);
        // A unit's blocks carry exactly the unit's bytes, and the longest packet fills whole units.
        EXPECT_EQ(g.blocksPerUnit * g.dataBits, 8 * g.unitBytes);
        EXPECT_EQ(g.maxReadAligned + g.headerAligned + g.trailer, units[s - 1] * g.unitBytes);
        EXPECT_EQ(g.maxReadPlain + g.headerPlain + g.trailer, units[s - 1] * g.unitBytes);
        EXPECT_EQ(g.smallestFrame % g.unitBytes, 0);
    }
}

TEST(ChannelInterleaver, IsAPermutationThatSpreadsBursts)
{
    for (const ProtocolConstants *p : {&zn::HiperlanConstants(), &zn::GprsConstants(2)}) {
        const int n = p->codedBits;
        std::vector<int> order(static_cast<size_t>(n));
        // Interleave position labels one bit at a time: entry i takes position b_i.
        std::vector<int> seen(static_cast<size_t>(n), 0);
        for (int pos = 0; pos < n; ++pos) {
            std::vector<uint8_t> flags(static_cast<size_t>(n), 0);
            flags[static_cast<size_t>(pos)] = 1;
            zn::InterleaveErrors(flags.data(), p->interleaveStep, n);
            ASSERT_EQ(std::count(flags.begin(), flags.end(), 1), 1);
            const int i = static_cast<int>(std::find(flags.begin(), flags.end(), 1) - flags.begin());
            order[static_cast<size_t>(i)] = pos;
            ++seen[static_cast<size_t>(i)];
        }
        EXPECT_TRUE(std::all_of(seen.begin(), seen.end(), [](int s) { return s == 1; }));
        // Consecutive entries are step apart in transmission, wrapping to the next column.
        EXPECT_EQ(order[0], 0);
        EXPECT_EQ(order[1], p->interleaveStep);
        EXPECT_EQ(order[static_cast<size_t>(n / p->interleaveStep)], 1);
    }
    // A HiperLAN burst of 16 transmitted bits puts one error into each of the 16 checks: all corrected.
    const ProtocolConstants &h = zn::HiperlanConstants();
    std::vector<uint8_t> flags(496, 0), out(52);
    std::fill(flags.begin() + 100, flags.begin() + 116, 1);
    zn::InterleaveErrors(flags.data(), h.interleaveStep, 496);
    ChannelStats stats;
    EXPECT_EQ(zn::CheckCodeBlocks(h, flags.data(), out.data(), stats), 0);
    EXPECT_EQ(stats.errorBits, 16);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t b) { return b == 0; }));
}

struct CheckCase
{
    int scheme; // 0 HiperLAN
    int errors; // errors placed in the first check
    int result;
};

class ChannelChecks : public ::testing::TestWithParam<CheckCase>
{
};

TEST_P(ChannelChecks, CorrectDetectOrMissByCount)
{
    const CheckCase c = GetParam();
    const ProtocolConstants &p = c.scheme ? zn::GprsConstants(c.scheme) : zn::HiperlanConstants();
    std::vector<uint8_t> flags(static_cast<size_t>(p.codedBits), 0), out(456, 0);
    // Errors on the check's first bits, which are data bits.
    std::fill(flags.begin(), flags.begin() + c.errors, 1);
    ChannelStats stats;
    EXPECT_EQ(zn::CheckCodeBlocks(p, flags.data(), out.data(), stats), c.result);
    EXPECT_EQ(stats.errorBits, c.errors);
    // Corrected errors leave the data clean; detected and missed ones stay in it.
    const int dataErrors = std::min(c.errors, p.dataBits);
    int left = 0;
    if (p.hiperlan) {
        for (int k = 0; k < dataErrors; ++k)
            left += (out[static_cast<size_t>(k / 8)] >> (7 - k % 8)) & 1;
    } else {
        left = static_cast<int>(std::count(out.begin(), out.begin() + p.dataBits, 1));
    }
    EXPECT_EQ(left, c.errors <= p.correctLimit ? 0 : dataErrors);
}

INSTANTIATE_TEST_SUITE_P(Limits, ChannelChecks,
                         ::testing::Values(CheckCase{0, 0, 0}, CheckCase{0, 1, 0}, CheckCase{0, 2, 1},
                                           CheckCase{0, 3, 1}, CheckCase{0, 4, 2}, CheckCase{0, 31, 2},
                                           CheckCase{1, 42, 0}, CheckCase{1, 43, 1}, CheckCase{1, 83, 1},
                                           CheckCase{1, 84, 2}, CheckCase{2, 2, 0}, CheckCase{2, 3, 1},
                                           CheckCase{2, 64, 1}, CheckCase{2, 65, 2}, CheckCase{3, 48, 1},
                                           CheckCase{3, 49, 2}, CheckCase{4, 1, 1}, CheckCase{4, 16, 1},
                                           CheckCase{4, 17, 2}));

TEST(ChannelChecks, HiperlanPacksEachChecksDataBitsInTurn)
{
    const ProtocolConstants &h = zn::HiperlanConstants();
    std::vector<uint8_t> flags(496, 0), out(52, 0);
    // Four errors in check 2 (undetected): data bits 0 and 25 and two parity bits.
    for (int j : {0, 25, 26, 30})
        flags[static_cast<size_t>(2 * 31 + j)] = 1;
    ChannelStats stats;
    EXPECT_EQ(zn::CheckCodeBlocks(h, flags.data(), out.data(), stats), 2);
    std::vector<int> set;
    for (int k = 0; k < 416; ++k)
        if ((out[static_cast<size_t>(k / 8)] >> (7 - k % 8)) & 1)
            set.push_back(k);
    EXPECT_EQ(set, (std::vector<int>{52, 77}));
}

TEST(ChannelErrors, RandomErrorsKeepTheirRate)
{
    zn::SeedRand(11);
    const ProtocolConstants &h = zn::HiperlanConstants();
    ChannelModel channel;
    channel.d1 = 0.002;
    ChannelStats stats;
    std::vector<uint8_t> mask(52 * 40);
    for (int k = 0; k < 50; ++k)
        zn::TransmitPacket(h, mask.data(), 52 * 40, channel, stats);
    EXPECT_TRUE(WithinBinomial(stats.errorBits, 50.0 * 40 * 496, 0.002));
    EXPECT_EQ(stats.packets, 50);
    // At 1 error in 500 bits a 31-bit check sees 2 or more errors now and then.
    EXPECT_GT(stats.uncorrectable + stats.undetected, 0);

    zn::SeedRand(11);
    channel.d1 = 0.0;
    ChannelStats clean;
    zn::TransmitPacket(zn::GprsConstants(1), mask.data(), 181 * 8, channel, clean);
    EXPECT_EQ(clean.errorBits, 0);
    EXPECT_TRUE(std::all_of(mask.begin(), mask.begin() + 181 * 8, [](uint8_t b) { return b == 0; }));
}

TEST(ChannelErrors, GilbertElliotErrorsComeInBursts)
{
    zn::SeedRand(3);
    ChannelModel ge;
    ge.model = 2;
    ge.d1 = 0.0;
    ge.d2 = 0.3;
    ge.d3 = 0.001;
    ge.d4 = 0.02;
    const int n = 1000000;
    std::vector<uint8_t> e(n);
    zn::ChannelBitErrors(e.data(), ge, n);
    const double rate = std::accumulate(e.begin(), e.end(), 0.0) / n;
    // Stationary share of the fading state: d3 / (d3 + d4).
    const double expected = 0.3 * 0.001 / (0.001 + 0.02);
    EXPECT_NEAR(rate, expected, 0.35 * expected);
    // An error makes the next one far likelier than the average: errors cluster in fades.
    int pairs = 0, errors = 0;
    for (int i = 0; i + 1 < n; ++i)
        if (e[static_cast<size_t>(i)]) {
            ++errors;
            pairs += e[static_cast<size_t>(i) + 1];
        }
    EXPECT_GT(static_cast<double>(pairs) / errors, 10 * rate);
    EXPECT_NEAR(static_cast<double>(pairs) / errors, 0.3, 0.05);

    // The same probabilities without memory: no clustering.
    zn::SeedRand(3);
    ChannelModel flat;
    flat.d1 = expected;
    zn::ChannelBitErrors(e.data(), flat, n);
    pairs = errors = 0;
    for (int i = 0; i + 1 < n; ++i)
        if (e[static_cast<size_t>(i)]) {
            ++errors;
            pairs += e[static_cast<size_t>(i) + 1];
        }
    EXPECT_LT(static_cast<double>(pairs) / errors, 5 * expected);
}

TEST(ChannelErrors, GeometricIntervalHasItsMeanAndAZeroDrawIsTheLongest)
{
    zn::SeedRand(5);
    double sum = 0;
    int counted = 0, endless = 0;
    const int n = 200000;
    for (int i = 0; i < n; ++i) {
        const int v = zn::GeometricInterval(0.5);
        if (v == INT_MAX) {
            ++endless; // a draw of exactly 0
            continue;
        }
        sum += v;
        ++counted;
    }
    // Failures before the first success at p = 1/2: mean 1, variance 2.
    EXPECT_NEAR(sum / counted, 1.0, 5 * std::sqrt(2.0 / counted));
    EXPECT_TRUE(WithinBinomial(endless, n, 1.0 / 32768));

    // The state that makes the generator's next value 0: 214013 s + 2531011 = 0 (mod 2^32).
    uint32_t inverse = 1;
    for (int i = 0; i < 5; ++i)
        inverse *= 2u - 214013u * inverse; // Newton's iteration for the inverse mod 2^32
    zn::SeedRand((0u - 2531011u) * inverse);
    EXPECT_EQ(zn::GeometricInterval(0.5), INT_MAX);
}

TEST(ChannelContention, SlotsFollowTheBitRate)
{
    EXPECT_EQ(zn::ContentionSlots(1000), 24);
    EXPECT_EQ(zn::ContentionSlots(24094), 1);
    EXPECT_EQ(zn::ContentionSlots(24095), 0);
    EXPECT_EQ(zn::ContentionSlots(0), 24094);
    zn::SeedRand(9);
    for (int k = 0; k < 500; ++k) {
        // Alone on the medium, this stream is served in the slot it picked.
        const int slot = zn::ContendForSlot(1, 1000);
        EXPECT_LE(slot, -1);
        EXPECT_GE(slot, -24);
        // Above the medium's capacity nothing is served.
        EXPECT_EQ(zn::ContendForSlot(1, 30000), 0);
    }
}

TEST(ChannelContention, ManyUsersLoseSlots)
{
    zn::SeedRand(21);
    int lost = 0;
    const int n = 2000;
    for (int k = 0; k < n; ++k)
        lost += zn::ContendForSlot(100, 1000) >= 0;
    // 24 slots serve at most 24 of 100 users.
    EXPECT_GT(lost, n * 0.70);
    EXPECT_LT(lost, n);
    for (int users : {2, 5}) {
        lost = 0;
        for (int k = 0; k < n; ++k)
            lost += zn::ContendForSlot(users, 1000) >= 0;
        EXPECT_LT(lost, n / 20) << users;
    }
    for (int n2 : {1, 2, 7}) {
        for (int k = 0; k < 200; ++k) {
            const int w = zn::ContentionWinner(n2);
            EXPECT_GE(w, 0);
            EXPECT_LT(w, n2);
        }
    }
}

} // namespace

} // namespace channel_coding_test
