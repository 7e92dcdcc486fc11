// Leaky-bucket parameters: the worked example, the file layout read back the way the decoder reads
// it, the rate file (short, bad, descending), the write failure, and a test-side decoder buffer that
// must never run dry at any (rate, buffer, fullness) computed for random picture sizes.
#include "h264dec/h264_shared.h"
#include "h264enc/enc_run.h"
#include "h264enc/leaky_bucket.h"
#include "platform/log.h"
#include "platform/messages.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <random>

namespace enc_leaky_bucket_test { // one namespace per test file: a folder compiles as one source

namespace {

namespace enc = h264enc;

// The decoder's reading of the parameter file: N, then Rmin, Bmin, Fmin per bucket, big-endian.
struct ParamFile
{
    uint32_t n = 0;
    std::vector<uint32_t> r, b, f;
};
bool ReadParamFile(const std::vector<unsigned char> &bytes, ParamFile *out)
{
    auto be32 = [&](size_t at) {
        return uint32_t(bytes[at]) << 24 | uint32_t(bytes[at + 1]) << 16 | uint32_t(bytes[at + 2]) << 8 |
               uint32_t(bytes[at + 3]);
    };
    if (bytes.size() < 4)
        return false;
    out->n = be32(0);
    if (bytes.size() != 4 + 12 * static_cast<size_t>(out->n))
        return false;
    for (uint32_t i = 0; i < out->n; ++i) {
        out->r.push_back(be32(4 + 12 * i));
        out->b.push_back(be32(8 + 12 * i));
        out->f.push_back(be32(12 + 12 * i));
    }
    return true;
}

TEST(LeakyBucket, WorkedExample)
{
    const enc::LeakyBuckets b = enc::ComputeLeakyBuckets({3000, 1000, 1000}, 2, 30, 0, nullptr);
    EXPECT_EQ(b.Rmin, std::vector<uint32_t>({49980, 62460}));
    EXPECT_EQ(b.Bmin[0], 3000u);
    EXPECT_EQ(b.Fmin[0], 3000u);
}

struct BucketRun
{
    zntest::ScratchDir dir;
    enc::EncoderRun run;
    BucketRun()
    {
        run.input.NumberofLeakyBuckets = 8;
        run.input.FrameSkip = 1;
        run.input.FramesToBeEncoded = 5;
        run.input.LeakyBucketRateFile = dir.File("H264LeakyBucketRate.cfg");
        run.input.LeakyBucketParamFile = dir.File("H264LeakyBucketParam.cfg");
        run.picture_bits = {40000, 9000, 12000, 8000, 15000};
    }
    void Rates(const std::string &text)
    {
        zntest::WriteFileBytes(run.input.LeakyBucketRateFile,
                               std::vector<unsigned char>(text.begin(), text.end()));
    }
    ParamFile Written()
    {
        enc::init_buffer(run);
        ParamFile p;
        EXPECT_TRUE(ReadParamFile(zntest::ReadFileBytes(run.input.LeakyBucketParamFile), &p));
        return p;
    }
};

TEST(LeakyBucket, ParameterFileLayout)
{
    BucketRun t;
    const std::vector<unsigned char> bytes = [&] {
        enc::init_buffer(t.run);
        return zntest::ReadFileBytes(t.run.input.LeakyBucketParamFile);
    }();
    ASSERT_EQ(bytes.size(), 100u);
    EXPECT_EQ(std::vector<unsigned char>(bytes.begin(), bytes.begin() + 4),
              std::vector<unsigned char>({0, 0, 0, 8}));
    ParamFile p;
    ASSERT_TRUE(ReadParamFile(bytes, &p));
    const enc::LeakyBuckets b = enc::ComputeLeakyBuckets(t.run.picture_bits, 8, 30, 1, nullptr);
    EXPECT_EQ(p.r, b.Rmin);
    EXPECT_EQ(p.b, b.Bmin);
    EXPECT_EQ(p.f, b.Fmin);
    // mean 16800 bits per picture, 15 pictures per second: 252000, then steps of 4200 x 15.
    EXPECT_EQ(p.r[0], 252000u);
    EXPECT_EQ(p.r[1], 252000u + 63000u);
    EXPECT_TRUE(std::is_sorted(p.r.begin(), p.r.end()));
}

TEST(LeakyBucket, RateFileIsSortedAndShortOrBadFilesFallBack)
{
    const std::vector<uint32_t> computed =
        enc::ComputeLeakyBuckets({40000, 9000, 12000, 8000, 15000}, 8, 30, 1, nullptr).Rmin;
    const struct
    {
        const char *text;
        std::vector<uint32_t> rates; // empty: the computed rates
        bool message;
    } cases[] = {
        {"800000 700000 600000\n500000 400000 300000 200000 100000",
         {100000, 200000, 300000, 400000, 500000, 600000, 700000, 800000},
         false},
        {"1 2 3 4 5 6 7", {}, true},             // seven values for eight buckets
        {"1 2 3 4 5 6 7 x", {}, true},           // a bad entry
        {"1 2 3 -4 5 6 7 8", {}, true},          // a negative rate
        {"1 2 3 4 5 6 7 99999999999", {}, true}, // beyond 32 bits
        {"8 7 6 5 4 3 2 1 and then anything", {1, 2, 3, 4, 5, 6, 7, 8}, false},
    };
    for (const auto &c : cases) {
        BucketRun t;
        t.Rates(c.text);
        std::vector<std::string> log;
        auto previous = zn::SetLogSink([&](zn::LogLevel, const std::string &s) { log.push_back(s); });
        const ParamFile p = t.Written();
        zn::SetLogSink(previous);
        EXPECT_EQ(p.r, c.rates.empty() ? computed : c.rates) << c.text;
        bool said = false;
        for (const auto &l : log)
            said = said || l.find("does not have valid entries") != std::string::npos;
        EXPECT_EQ(said, c.message) << c.text;
    }
}

TEST(LeakyBucket, UncreatableParameterFileEndsTheRunWithCodeOne)
{
    BucketRun t;
    t.run.input.LeakyBucketParamFile = "/nonexistent-folder-of-zantho/H264LeakyBucketParam.cfg";
    zn::MessageRecorder rec;
    try {
        enc::init_buffer(t.run);
        FAIL();
    } catch (const H264FatalError &e) {
        EXPECT_EQ(e.ExitCode(), 1);
        EXPECT_STREQ(e.what(), "Error open file /nonexistent-folder-of-zantho/H264LeakyBucketParam.cfg  \n");
    }
    EXPECT_EQ(rec.Count(), 1u);
}

// A decoder buffer filled at the rate's share per picture interval, starting at Fmin, from which each
// picture's bits are taken at its decoding time.
bool Underflows(const std::vector<int> &bits, uint32_t rate, uint32_t fullness, int framerate, int frame_skip)
{
    const long long drain = static_cast<long long>(rate) * (frame_skip + 1) / framerate;
    long long level = fullness;
    for (int b : bits) {
        level -= b;
        if (level < 0)
            return true;
        level += drain;
    }
    return false;
}

TEST(LeakyBucket, TestSideBucketNeverRunsDryAtTheComputedValues)
{
    std::mt19937 rng(17);
    for (int trial = 0; trial < 500; ++trial) {
        std::vector<int> bits(1 + rng() % 60);
        const int kind = static_cast<int>(rng() % 3);
        for (size_t i = 0; i < bits.size(); ++i) {
            // Steady pictures, an intra picture now and then, or wildly varying sizes.
            const int base = 2000 + static_cast<int>(rng() % 20000);
            bits[i] = kind == 0   ? base
                      : kind == 1 ? (i % 10 == 0 ? 8 * base : base)
                                  : static_cast<int>(rng() % 200000);
        }
        const int skip = static_cast<int>(rng() % 3);
        const enc::LeakyBuckets b = enc::ComputeLeakyBuckets(bits, 8, 30, skip, nullptr);
        for (size_t i = 0; i < b.Rmin.size(); ++i) {
            ASSERT_FALSE(Underflows(bits, b.Rmin[i], b.Fmin[i], 30, skip))
                << "trial " << trial << " bucket " << i << " R " << b.Rmin[i] << " F " << b.Fmin[i];
            EXPECT_GE(b.Bmin[i], static_cast<uint32_t>(*std::max_element(bits.begin(), bits.end())));
            if (i > 0) {
                EXPECT_LE(b.Bmin[i], b.Bmin[i - 1]); // a faster channel never needs a bigger buffer
            }
        }
    }
}

} // namespace

} // namespace enc_leaky_bucket_test
