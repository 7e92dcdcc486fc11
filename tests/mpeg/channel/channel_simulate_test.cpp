// Whole simulations over stream files: a clean channel passes the stream unchanged, a seed repeats a
// run, start-code cuts and the replacement of damaged packets, the report, and received streams that
// the decoder reads without a crash however damaged they are.
#include "mpeg/channel/wireless_channel.h"
#include "mpeg/mpgdec/decode_stream.h"
#include "platform/messages.h"
#include "platform/random.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace channel_simulate_test { // one namespace per test file: a folder compiles as one source

namespace {

using zn::ChannelModel;
using zn::ChannelStats;
using Bytes = std::vector<unsigned char>;

// A stream-like file: start codes at the given offsets, pseudo-random bytes elsewhere (no accidental
// 00 00 01).
Bytes StreamWithStartCodes(size_t size, std::initializer_list<size_t> codes)
{
    Bytes b(size);
    uint32_t s = 12345;
    for (auto &v : b) {
        s = s * 1103515245u + 12345u;
        v = static_cast<unsigned char>(1 + (s >> 16) % 255);
    }
    for (size_t c : codes) {
        b[c] = 0;
        b[c + 1] = 0;
        b[c + 2] = 1;
        b[c + 3] = 0xB3;
    }
    return b;
}

ChannelModel Clean(int model)
{
    ChannelModel c;
    c.model = model;
    c.d1 = c.d2 = 0.0;
    return c;
}

bool Simulate(bool hiperlan, const std::string &in, const std::string &out, bool align, ChannelModel c,
              ChannelStats &stats, int scheme = 1, int users = 1, int kbps = 1000)
{
    return hiperlan ? zn::SimulateHiperlan(in, out, align, c, users, kbps, stats)
                    : zn::SimulateGprs(in, out, align, c, scheme, stats);
}

TEST(ChannelSimulation, CleanChannelPassesTheStreamUnchanged)
{
    zntest::ScratchDir dir;
    const Bytes input = StreamWithStartCodes(20000, {0, 900, 5000, 5003 + 3000});
    const std::string in = dir.File("in.mpg"), out = dir.File("out.mpg");
    ASSERT_TRUE(zntest::WriteFileBytes(in, input));
    for (bool hiperlan : {true, false})
        for (bool align : {false, true})
            for (int model : {1, 2}) {
                SCOPED_TRACE(testing::Message() << hiperlan << align << model);
                ChannelStats stats;
                ASSERT_TRUE(Simulate(hiperlan, in, out, align, Clean(model), stats, 3));
                EXPECT_EQ(zntest::ReadFileBytes(out), input);
                EXPECT_EQ(stats.bits, 8 * 20000);
                EXPECT_EQ(stats.errorBits, 0);
                EXPECT_EQ(stats.uncorrectable + stats.undetected + stats.contentionLosses, 0);
            }
    // The packets: whole reads plus the final empty one.
    ChannelStats stats;
    ASSERT_TRUE(Simulate(true, in, out, false, Clean(1), stats));
    EXPECT_EQ(stats.packets, (20000 + 1471) / 1472 + 1);
}

TEST(ChannelSimulation, AlignedChunksEndBeforeTheNextStartCode)
{
    zntest::ScratchDir dir;
    const std::string in = dir.File("in.mpg");
    ASSERT_TRUE(zntest::WriteFileBytes(in, StreamWithStartCodes(9000, {0, 100, 3000})));
    std::vector<uint8_t> chunk;
    EXPECT_EQ(zn::ReadStreamChunk(chunk, 0, 2345, in, true), 100);
    EXPECT_EQ(zn::ReadStreamChunk(chunk, 100, 2345, in, true), 2345); // a long unit is split
    EXPECT_EQ(zn::ReadStreamChunk(chunk, 2445, 2345, in, true), 555);
    EXPECT_EQ(zn::ReadStreamChunk(chunk, 3000, 2345, in, true), 2345);
    EXPECT_EQ((std::vector<uint8_t>(chunk.begin(), chunk.begin() + 4)),
              (std::vector<uint8_t>{0, 0, 1, 0xB3}));
    EXPECT_EQ(zn::ReadStreamChunk(chunk, 8500, 2345, in, false), 500);
    EXPECT_EQ(zn::ReadStreamChunk(chunk, 9000, 2345, in, false), 0);
    zn::MessageRecorder messages;
    EXPECT_EQ(zn::ReadStreamChunk(chunk, 0, 2345, dir.File("missing.mpg"), false), 0);
    EXPECT_EQ(messages.Count(), 1u);
}

TEST(ChannelSimulation, ASeedRepeatsARun)
{
    zntest::ScratchDir dir;
    const Bytes input = StreamWithStartCodes(30000, {0, 7000, 15000});
    const std::string in = dir.File("in.mpg");
    ASSERT_TRUE(zntest::WriteFileBytes(in, input));
    ChannelModel ge;
    ge.model = 2;
    ge.d1 = 0.003;
    for (bool hiperlan : {true, false}) {
        Bytes runs[3];
        ChannelStats stats[3];
        for (int k = 0; k < 3; ++k) {
            zn::SeedRand(k == 2 ? 78 : 77);
            const std::string out = dir.File("out" + std::to_string(k) + ".mpg");
            ASSERT_TRUE(Simulate(hiperlan, in, out, false, ge, stats[k], 2, 3));
            runs[k] = zntest::ReadFileBytes(out);
        }
        EXPECT_EQ(runs[0], runs[1]);
        EXPECT_EQ(stats[0].errorBits, stats[1].errorBits);
        EXPECT_NE(runs[0], runs[2]);
        EXPECT_NE(runs[0], input);
    }
}

TEST(ChannelSimulation, DetectedErrorsAreReplacedOnlyWithStartCodeCuts)
{
    zntest::ScratchDir dir;
    const Bytes input = StreamWithStartCodes(12000, {0, 3000, 6000, 9000});
    const std::string in = dir.File("in.mpg"), out = dir.File("out.mpg");
    ASSERT_TRUE(zntest::WriteFileBytes(in, input));
    ChannelModel c;
    // CS1 corrects 42 and detects 83 errors of 456: at p = 0.13 (59 errors a block on average) every
    // block is detected but not corrected.
    c.d1 = 0.13;
    zn::SeedRand(4);
    ChannelStats plain;
    ASSERT_TRUE(zn::SimulateGprs(in, out, false, c, 1, plain));
    EXPECT_EQ(plain.uncorrectable, plain.packets);
    Bytes received = zntest::ReadFileBytes(out);
    ASSERT_EQ(received.size(), input.size());
    EXPECT_NE(received, input);
    // With cuts, no packet is ever good: nothing is written, not even for the first packet.
    ChannelStats aligned;
    ASSERT_TRUE(zn::SimulateGprs(in, out, true, c, 1, aligned));
    EXPECT_EQ(aligned.uncorrectable, aligned.packets);
    EXPECT_TRUE(zntest::ReadFileBytes(out).empty());
    // At p = 0.3 the code misses the errors: the damaged data is passed on either way.
    c.d1 = 0.3;
    ChannelStats missed;
    ASSERT_TRUE(zn::SimulateGprs(in, out, true, c, 1, missed));
    EXPECT_EQ(missed.undetected, missed.packets);
    EXPECT_EQ(zntest::ReadFileBytes(out).size(), input.size());
}

TEST(ChannelSimulation, LostPacketsAreCountedAndReplacedWithTheLastGoodOne)
{
    zntest::ScratchDir dir;
    const Bytes input = StreamWithStartCodes(5000, {0, 1000, 2000, 3000, 4000});
    const std::string in = dir.File("in.mpg"), out = dir.File("out.mpg");
    ASSERT_TRUE(zntest::WriteFileBytes(in, input));
    // Above the medium's capacity every packet is lost.
    ChannelStats plain;
    ASSERT_TRUE(zn::SimulateHiperlan(in, out, false, Clean(1), 1, 25000, plain));
    EXPECT_EQ(plain.contentionLosses, plain.packets);
    EXPECT_EQ(plain.errorBits, 3 * ((1472 * 248) / 26) + (584 * 248) / 26);
    EXPECT_TRUE(zntest::ReadFileBytes(out).empty());
    // Many users: some packets are lost, and with cuts each is replaced by the previous good one, so
    // the file keeps one unit per packet.
    zn::SeedRand(8);
    ChannelStats crowded;
    ASSERT_TRUE(zn::SimulateHiperlan(in, out, true, Clean(1), 40, 1000, crowded));
    EXPECT_GT(crowded.contentionLosses, 0);
    const Bytes received = zntest::ReadFileBytes(out);
    EXPECT_LE(received.size(), input.size() + 1000);
    EXPECT_EQ(received.size() % 1000, 0u);
}

TEST(ChannelSimulation, ReportLinesAndAnEmptyStream)
{
    zntest::ScratchDir dir;
    const std::string in = dir.File("empty.mpg"), out = dir.File("out.mpg");
    ASSERT_TRUE(zntest::WriteFileBytes(in, {}));
    ChannelStats stats;
    ASSERT_TRUE(zn::SimulateHiperlan(in, out, false, Clean(1), 1, 1000, stats));
    EXPECT_EQ(stats.packets, 1);
    EXPECT_EQ(zn::ChannelReport(stats), "Number of bits processed\t\t\t: 0\r\n"
                                        "Number of packets processed\t\t\t: 1\r\n"
                                        "Bit error rate          \t\t\t\t: -\r\n"
                                        "      Number of erroneous bits\t\t\t: 0\r\n"
                                        "Packet error rate\t\t\t\t: 0\r\n"
                                        "      Uncorrectable erroneous packets\t\t: 0\r\n"
                                        "      Undetected erroneous packets\t\t: 0\r\n"
                                        "      Packet loss due to contention\t\t: 0");
    ChannelStats s;
    s.bits = 8000;
    s.errorBits = 3;
    s.packets = 4;
    s.uncorrectable = 1;
    s.contentionLosses = 1;
    const std::string report = zn::ChannelReport(s);
    EXPECT_NE(report.find("Bit error rate          \t\t\t\t: 0.000375\r\n"), std::string::npos) << report;
    EXPECT_NE(report.find("Packet error rate\t\t\t\t: 0.5\r\n"), std::string::npos) << report;
}

TEST(ChannelSimulation, AnUnwritableOutputEndsTheRunWithOneMessage)
{
    zntest::ScratchDir dir;
    const std::string in = dir.File("in.mpg");
    ASSERT_TRUE(zntest::WriteFileBytes(in, StreamWithStartCodes(4000, {0})));
    zn::MessageRecorder messages;
    ChannelStats stats;
    EXPECT_FALSE(zn::SimulateGprs(in, dir.File("no/such/folder/out.mpg"), false, Clean(1), 4, stats));
    EXPECT_EQ(messages.Count(), 1u);
    EXPECT_EQ(stats.packets, 0);
}

// Received copies of real streams at several error rates decode to the end without a crash, a hang
// or an exit; the decoder may refuse a copy or report damage, never more.
TEST(ChannelSimulation, ReceivedStreamsDecodeSafely)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    zntest::ScratchDir dir;
    std::vector<std::string> streams = {dir.File("m1.mpg"), dir.File("m2.m2v")};
    ASSERT_EQ(zntest::Run("ffmpeg -v error -y -f lavfi -i testsrc2=size=176x144:rate=25 -frames:v 12 "
                          "-c:v mpeg1video -bf 2 -g 6 -q:v 5 -f mpeg " +
                          zntest::ShellQuote(streams[0])),
              0);
    ASSERT_EQ(zntest::Run("ffmpeg -v error -y -f lavfi -i testsrc2=size=176x144:rate=25 -frames:v 12 "
                          "-c:v mpeg2video -flags +ilme+ildct -bf 2 -g 6 -q:v 5 " +
                          zntest::ShellQuote(streams[1])),
              0);
    for (const std::string &path : zntest::CorpusFiles("mpeg"))
        streams.push_back(path);
    zn::MessageRecorder messages;
    int decoded = 0;
    for (const std::string &in : streams) {
        int seed = 1;
        for (double p : {0.0005, 0.003, 0.02})
            for (bool hiperlan : {true, false}) {
                SCOPED_TRACE(in + " p=" + std::to_string(p));
                ChannelModel c;
                c.model = hiperlan ? 2 : 1;
                c.d1 = p;
                c.d2 = 0.1;
                zn::SeedRand(static_cast<uint32_t>(seed++));
                ChannelStats stats;
                const std::string out = dir.File("rx.mpg");
                ASSERT_TRUE(Simulate(hiperlan, in, out, seed % 2 == 0, c, stats, 2, 4, 1150));
                zntest::DecodedStream d = zntest::DecodeMpegFile(out, {.keepPixels = false});
                decoded += d.opened;
            }
    }
    EXPECT_GT(decoded, 0);
}

} // namespace

} // namespace channel_simulate_test
