// NAL units and their output: emulation prevention and CABAC zero words (against the decoder's
// removal), packing behind the header byte, the Annex B writer with its bit counts and failures, and
// the RTP packet file read back by the decoder's packet reader.
#include "h264dec/nalu_input.h"
#include "h264enc/nal_unit.h"
#include "h264enc/rtp_out.h"
#include "h264enc/stream_out.h"
#include "platform/messages.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <random>

namespace enc_nal_test { // one namespace per test file: a folder compiles as one source

namespace {

namespace enc = h264enc;
using Bytes = std::vector<uint8_t>;

Bytes Escape(const Bytes &rbsp, int min_bytes = 0, int *stuffing = nullptr)
{
    Bytes buf = rbsp;
    const int end = enc::escape_rbsp(buf, 0, static_cast<int>(buf.size()), min_bytes, stuffing);
    buf.resize(static_cast<size_t>(end));
    return buf;
}

TEST(EscapeRbsp, StartCodeEmulationsGetAnEscapeByte)
{
    const struct
    {
        Bytes in, out;
    } cases[] = {
        {{0, 0, 1}, {0, 0, 3, 1}},
        {{0, 0, 0, 0}, {0, 0, 3, 0, 0}},
        {{0, 0, 4}, {0, 0, 4}},
        {{0, 0, 3}, {0, 0, 3, 3}},
        {{0, 0, 2, 0, 0, 0}, {0, 0, 3, 2, 0, 0, 3, 0}},
        {{5, 0, 0}, {5, 0, 0}}, // a trailing pair of zeros is left alone
        {{}, {}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Escape(c.in), c.out);
}

TEST(EscapeRbsp, ZeroWordsPadToTheMinimumLength)
{
    const Bytes ten(10, 0x55);
    int stuffing = 0;
    const Bytes a = Escape(ten, 16, &stuffing);
    ASSERT_EQ(a.size(), 16u);
    EXPECT_EQ(Bytes(a.begin() + 10, a.end()), Bytes({0, 0, 3, 0, 0, 3}));
    EXPECT_EQ(stuffing, 32);
    stuffing = 0;
    const Bytes b = Escape(ten, 17, &stuffing);
    EXPECT_EQ(b.size(), 19u);
    EXPECT_EQ(stuffing, 48);
}

TEST(EscapeRbsp, DecoderRemovesExactlyWhatWasInserted)
{
    std::mt19937 rng(5);
    for (int trial = 0; trial < 2000; ++trial) {
        Bytes rbsp(rng() % 200);
        for (auto &b : rbsp)
            b = static_cast<uint8_t>(rng() % 4 == 0 ? rng() % 4 : rng() % 256); // many zeros and small bytes
        if (!rbsp.empty())
            rbsp.back() |= 1; // payloads end in a stop bit
        const Bytes escaped = Escape(rbsp);
        EXPECT_EQ(escaped, enc::escape_rbsp_reference(rbsp.data(), static_cast<int>(rbsp.size())));
        for (size_t i = 2; i < escaped.size(); ++i)
            ASSERT_FALSE(escaped[i - 2] == 0 && escaped[i - 1] == 0 && escaped[i] <= 2)
                << "start code emulated";
        Bytes back = escaped;
        back.resize(back.size() + 4);
        const int end = h264dec_ebsp_to_rbsp(back.data(), static_cast<int>(escaped.size()), 0);
        back.resize(static_cast<size_t>(end));
        EXPECT_EQ(back, rbsp);
    }
}

TEST(EscapeRbsp, EscapingInsideALargerBufferKeepsTheBytesBefore)
{
    Bytes buf = {9, 9, 0, 0, 1, 7};
    const int end = enc::escape_rbsp(buf, 2, 5, 0);
    buf.resize(static_cast<size_t>(end));
    EXPECT_EQ(buf, Bytes({9, 9, 0, 0, 3, 1}));
}

TEST(PackRbsp, HeaderByteAndStartCodeLength)
{
    const Bytes rbsp = {0, 0, 1, 0x80};
    NaluPtr n = enc::AllocNALU(2);
    const int len = enc::pack_rbsp_into_nalu(rbsp.data(), n.get(), 4, 7, 3, 0, 1);
    EXPECT_EQ(len, 6);
    EXPECT_EQ(n->prefix_length, 4);
    EXPECT_EQ(Bytes(n->buf.begin(), n->buf.begin() + n->len), Bytes({0x67, 0, 0, 3, 1, 0x80}));
    enc::pack_rbsp_into_nalu(rbsp.data(), n.get(), 4, 1, 0, 0, 0);
    EXPECT_EQ(n->prefix_length, 3);
    EXPECT_EQ(n->buf[0], 0x01);
}

NaluPtr UnitOf(int ref_idc, int type, int payload_bytes, int start_code)
{
    Bytes rbsp(static_cast<size_t>(payload_bytes - 1), 0xAB);
    NaluPtr n = enc::AllocNALU(payload_bytes);
    enc::pack_rbsp_into_nalu(rbsp.data(), n.get(), payload_bytes - 1, type, ref_idc, 0, 1);
    n->prefix_length = start_code;
    return n;
}

TEST(AnnexB, UnitsGoOutBehindTheirStartCodesWithTheirBitCounts)
{
    zntest::ScratchDir dir;
    enc::AnnexBOutput out;
    out.open(dir.File("s.264"));
    NaluPtr a = UnitOf(3, 5, 100, 4);
    NaluPtr b = UnitOf(2, 1, 10, 3);
    NaluPtr c = UnitOf(0, 1, 10, 5);
    EXPECT_EQ(out.write_annexb_unit(*a), 832);
    EXPECT_EQ(out.write_annexb_unit(*b), 8 * 10 + 24);
    EXPECT_EQ(out.write_annexb_unit(*c), 8 * 10 + 32);
    out.close();
    const Bytes file = zntest::ReadFileBytes(dir.File("s.264"));
    ASSERT_EQ(file.size(), 104u + 13u + 14u);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 5), Bytes({0, 0, 0, 1, 0x65}));
    EXPECT_EQ(Bytes(file.begin() + 104, file.begin() + 108), Bytes({0, 0, 1, 0x41}));
    EXPECT_EQ(Bytes(file.begin() + 117, file.begin() + 122), Bytes({0, 0, 0, 1, 0x01}));
    // The decoder's unit reader cuts the same three units out of the file.
    auto src = OpenNaluFile(dir.File("s.264"));
    ASSERT_TRUE(src);
    NaluPtr in = dec_AllocNALU(kNaluCapacity);
    const int types[3] = {5, 1, 1}, refs[3] = {3, 2, 0}, lens[3] = {100, 10, 10};
    for (int i = 0; i < 3; ++i) {
        ASSERT_GT(GetAnnexbNALU(*src, in.get()), 0);
        EXPECT_EQ(in->nal_unit_type, types[i]);
        EXPECT_EQ(in->nal_ref_idc, refs[i]);
        EXPECT_EQ(in->len, lens[i]);
    }
}

TEST(AnnexB, UncreatableFileEndsTheRunWithOneMessage)
{
    zn::MessageRecorder rec;
    enc::AnnexBOutput out;
    try {
        out.open("/nonexistent-folder-of-zantho/s.264");
        FAIL() << "opened";
    } catch (const H264FatalError &e) {
        EXPECT_EQ(e.ExitCode(), -1);
    }
    ASSERT_EQ(rec.Count(), 1u);
    EXPECT_NE(rec.Texts()[0].find("cannot open bitstream file '/nonexistent-folder-of-zantho/s.264'"),
              std::string::npos);
}

TEST(Rtp, MarkerBitFollowsTheLongStartCode)
{
    enc::RtpCounters c;
    const struct
    {
        int start_code;
        uint8_t byte1;
    } cases[] = {{4, 0xD3}, {3, 0xD2}, {5, 0xD2}};
    for (const auto &k : cases) {
        NaluPtr n = UnitOf(3, 7, 8, k.start_code);
        const Bytes rec = enc::ComposeRtpRecord(*n, c);
        EXPECT_EQ(rec[8], 0x02);
        EXPECT_EQ(rec[9], k.byte1) << k.start_code;
        EXPECT_EQ(Bytes(rec.begin() + 16, rec.begin() + 20), Bytes({0x78, 0x56, 0x34, 0x12}));
    }
    EXPECT_EQ(c.seq, 3u);
}

TEST(Rtp, TimestampsFollowTheTemporalReferenceAcrossTheWrap)
{
    enc::RtpCounters c;
    const struct
    {
        int tr;
        uint32_t ts;
    } steps[] = {{0, 0}, {2, 2000}, {4, 4000}, {254, 254000}, {0, 256000}, {2, 258000}};
    for (const auto &s : steps) {
        enc::advance_rtp_timestamp(c, s.tr);
        EXPECT_EQ(c.timestamp, s.ts) << s.tr;
    }
}

TEST(Rtp, DecoderReadsThePacketFileBack)
{
    zntest::ScratchDir dir;
    enc::RtpCounters c;
    enc::RtpOutput out;
    out.create_rtp_output(dir.File("s.rtp"));
    NaluPtr a = UnitOf(3, 7, 20, 4);
    NaluPtr b = UnitOf(2, 1, 300, 5);
    enc::advance_rtp_timestamp(c, 0);
    EXPECT_EQ(out.RTPWriteNALU(*a, c), 160);
    enc::advance_rtp_timestamp(c, 2);
    EXPECT_EQ(out.RTPWriteNALU(*b, c), 2400);
    out.close_rtp_output();
    auto src = OpenNaluFile(dir.File("s.rtp"));
    ASSERT_TRUE(src);
    NaluPtr in = dec_AllocNALU(kNaluCapacity);
    ASSERT_EQ(GetRTPNALU(*src, in.get()), 20);
    EXPECT_EQ(in->nal_unit_type, 7);
    EXPECT_EQ(Bytes(in->buf.begin(), in->buf.begin() + 20), Bytes(a->buf.begin(), a->buf.begin() + 20));
    RTPpacket p;
    ASSERT_GT(RTPReadPacket(&p, *src), 0);
    ASSERT_EQ(DecomposeRTPpacket(&p), 0);
    EXPECT_EQ(p.seq, 1u);
    EXPECT_EQ(p.timestamp, 2000u);
    EXPECT_EQ(p.pt, 105u);
    EXPECT_EQ(p.m, 0u);
    EXPECT_EQ(p.ssrc, 0x12345678u);
}

} // namespace

} // namespace enc_nal_test
