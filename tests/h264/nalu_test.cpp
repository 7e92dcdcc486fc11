// NAL unit input: Annex B units from files and memory, emulation prevention, the stop bit, the RTP
// packet reader, and the unit dispatch up to the next slice.
#include "h264/support/h264_stream_writer.h"
#include "h264dec/decoder_state.h"
#include "h264dec/nal_dispatch.h"
#include "h264dec/nalu_input.h"
#include "platform/log.h"
#include "platform/messages.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace nalu_test { // one namespace per test file: a folder compiles as one source

namespace {

using Bytes = std::vector<uint8_t>;

struct UnitSeen
{
    int ret;
    int prefix_length;
    Bytes unit; // header byte and payload
};

std::vector<UnitSeen> ReadAll(NaluSource &source, int capacity = kNaluCapacity)
{
    std::vector<UnitSeen> seen;
    NaluPtr nalu = dec_AllocNALU(capacity);
    for (int guard = 0; guard < 100; ++guard) {
        const int ret = GetAnnexbNALU(source, nalu.get());
        if (ret == 0)
            break;
        UnitSeen u{ret, ret < 0 ? 0 : nalu->prefix_length, {}};
        if (ret > 0)
            u.unit.assign(nalu->buf.begin(), nalu->buf.begin() + nalu->len);
        seen.push_back(u);
    }
    return seen;
}

struct AnnexbCase
{
    const char *name;
    Bytes stream;
    std::vector<UnitSeen> expected;
};

const std::vector<AnnexbCase> &AnnexbCases()
{
    static const std::vector<AnnexbCase> cases = {
        {"four-byte prefix, unit ends the file", {0, 0, 0, 1, 0x67, 0xAA}, {{6, 4, {0x67, 0xAA}}}},
        {"three-byte prefix, then a four-byte one",
         {0, 0, 1, 0x65, 0xBB, 0, 0, 0, 1, 0x68, 0xCC},
         {{5, 3, {0x65, 0xBB}}, {6, 4, {0x68, 0xCC}}}},
        // Two extra zeros before 00 00 01: no start code at the position; four bytes go, then the
        // next call finds "01 65 AA BB" and refuses it too, and the third finds the real start code.
        {"leading zeros refused",
         {0, 0, 0, 0, 1, 0x65, 0xAA, 0xBB, 0, 0, 1, 0x66},
         {{-1, 0, {}}, {-1, 0, {}}, {4, 3, {0x66}}}},
        // A zero in front of a four-byte start code stays with the unit before it.
        {"zero before a four-byte start code",
         {0, 0, 1, 0x65, 0xAA, 0, 0, 0, 0, 1, 0x66},
         {{6, 3, {0x65, 0xAA, 0x00}}, {5, 4, {0x66}}}},
        {"empty unit between two start codes", {0, 0, 1, 0, 0, 1, 0x41}, {{3, 3, {}}, {4, 3, {0x41}}}},
        {"start code only", {0, 0, 0, 1}, {{4, 4, {}}}},
        {"empty file", {}, {}},
        {"one byte", {0}, {}},
        {"two bytes", {0, 0}, {}},
        {"three bytes, not a start code", {0, 0, 0}, {}},
    };
    return cases;
}

void ExpectUnits(const AnnexbCase &c, const std::vector<UnitSeen> &seen)
{
    ASSERT_EQ(seen.size(), c.expected.size()) << c.name;
    for (size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i].ret, c.expected[i].ret) << c.name << " unit " << i;
        EXPECT_EQ(seen[i].prefix_length, c.expected[i].prefix_length) << c.name << " unit " << i;
        EXPECT_EQ(seen[i].unit, c.expected[i].unit) << c.name << " unit " << i;
    }
}

TEST(AnnexB, UnitsFromMemoryAndFromFilesAgree)
{
    zntest::ScratchDir dir;
    for (const AnnexbCase &c : AnnexbCases()) {
        auto memory = NaluMemory(c.stream);
        ExpectUnits(c, ReadAll(*memory));

        const std::string path = dir.File("s.264");
        ASSERT_TRUE(zntest::WriteFileBytes(path, c.stream));
        auto file = OpenNaluFile(path);
        ASSERT_TRUE(file);
        ExpectUnits(c, ReadAll(*file));
    }
}

TEST(AnnexB, HeaderFieldsComeFromTheFirstByte)
{
    auto source = NaluMemory({0, 0, 1, 0xE7, 0x11});
    NaluPtr nalu = dec_AllocNALU(64);
    ASSERT_EQ(GetAnnexbNALU(*source, nalu.get()), 5);
    EXPECT_EQ(nalu->forbidden_bit, 1);
    EXPECT_EQ(nalu->nal_ref_idc, 3);
    EXPECT_EQ(nalu->nal_unit_type, 7);
    EXPECT_EQ(nalu->len, 2);
}

TEST(AnnexB, AUnitLongerThanItsBufferEndsTheRunAsDamaged)
{
    zn::MessageRecorder boxes;
    Bytes stream = {0, 0, 1};
    stream.resize(3 + 40, 0x55);
    auto source = NaluMemory(stream);
    NaluPtr nalu = dec_AllocNALU(16);
    try {
        GetAnnexbNALU(*source, nalu.get());
        FAIL() << "a 40-byte unit fits a 16-byte buffer";
    } catch (const H264FatalError &e) {
        EXPECT_EQ(e.ExitCode(), kH264StreamErrorCode);
    }
    ASSERT_EQ(boxes.Count(), 1u);
    EXPECT_NE(boxes.Texts()[0].find("longer than 16 bytes"), std::string::npos);

    // Exactly the capacity with its prefix still fits.
    Bytes fits = {0, 0, 1};
    fits.resize(16, 0x55);
    auto ok = NaluMemory(fits);
    EXPECT_EQ(GetAnnexbNALU(*ok, nalu.get()), 16);
    EXPECT_EQ(nalu->len, 13);
}

// A source that cannot step back, as a pipe could not.
class NoSeekSource : public NaluSource
{
public:
    explicit NoSeekSource(Bytes b) : m_inner(NaluMemory(std::move(b))) {}
    int GetByte() override { return m_inner->GetByte(); }
    int Read(uint8_t *dst, int n) override { return m_inner->Read(dst, n); }
    bool SeekBack(int) override { return false; }

private:
    std::unique_ptr<NaluSource> m_inner;
};

TEST(AnnexB, AFailedStepBackEndsTheRunWithCode600)
{
    zn::MessageRecorder boxes;
    NoSeekSource source({0, 0, 1, 0x65, 0xAA, 0, 0, 0, 1, 0x41});
    NaluPtr nalu = dec_AllocNALU(64);
    try {
        GetAnnexbNALU(source, nalu.get());
        FAIL();
    } catch (const H264FatalError &e) {
        EXPECT_EQ(e.ExitCode(), 600);
    }
    EXPECT_EQ(boxes.Texts(),
              std::vector<std::string>{"GetAnnexbNALU: Cannot fseek -4 in the bit stream file"});
}

TEST(Rbsp, EmulationPreventionBytesAreRemovedAfterTheHeader)
{
    struct Case
    {
        Bytes in, out;
    };
    const Case cases[] = {
        {{0x65, 0, 0, 3, 1}, {0x65, 0, 0, 1}},
        {{0x65, 0, 0, 3, 3}, {0x65, 0, 0, 3}}, // the byte after an escape is copied untested
        {{0x65, 0, 0, 3, 0, 0, 3, 2}, {0x65, 0, 0, 0, 0, 2}},
        {{0x00, 0, 3, 1}, {0x00, 0, 3, 1}},                // the header byte never counts as a zero
        {{0x65, 0, 0, 4, 0, 0, 3}, {0x65, 0, 0, 4, 0, 0}}, // an escape at the very end is dropped
        {{0x65, 1, 0, 3, 0, 0, 3}, {0x65, 1, 0, 3, 0, 0}},
    };
    for (const Case &c : cases) {
        NALU n;
        n.buf = c.in;
        n.len = static_cast<int>(c.in.size());
        EXPECT_EQ(h264dec_nalu_to_rbsp(&n), static_cast<int>(c.out.size()));
        EXPECT_EQ(Bytes(n.buf.begin(), n.buf.begin() + n.len), c.out);
    }
    uint8_t b[] = {1, 2};
    EXPECT_EQ(h264dec_ebsp_to_rbsp(b, 0, 1), 0); // end before begin: unchanged
}

TEST(Rbsp, EscapingAndRemovalRoundTrip)
{
    std::mt19937 rng(7);
    for (int trial = 0; trial < 300; ++trial) {
        Bytes rbsp(static_cast<size_t>(rng() % 60));
        for (uint8_t &b : rbsp)
            b = static_cast<uint8_t>(rng() % 5); // mostly small bytes: many escapes
        rbsp.push_back(0x80);
        Bytes unit = h264test::NalUnit(1, 1, rbsp, 3);
        NALU n;
        n.buf.assign(unit.begin() + 3, unit.end());
        n.len = static_cast<int>(n.buf.size());
        h264dec_nalu_to_rbsp(&n);
        EXPECT_EQ(Bytes(n.buf.begin() + 1, n.buf.begin() + n.len), rbsp);
    }
}

TEST(Rbsp, PayloadEndsAtTheStopBit)
{
    const uint8_t a[] = {0x12, 0x80, 0x00, 0x00};
    EXPECT_EQ(h264dec_sodb_length(a, 4), 2);
    const uint8_t b[] = {0x12, 0x01};
    EXPECT_EQ(h264dec_sodb_length(b, 2), 2);
    const uint8_t c[] = {0x40, 0x00};
    EXPECT_EQ(h264dec_sodb_length(c, 2), 1);

    std::vector<std::string> log;
    const zn::LogSink previous =
        zn::SetLogSink([&](zn::LogLevel, const std::string &t) { log.push_back(t); });
    const uint8_t zeros[] = {0, 0, 0};
    EXPECT_EQ(h264dec_sodb_length(zeros, 3), 0);
    EXPECT_EQ(h264dec_sodb_length(zeros, 0), 0);
    zn::SetLogSink(previous);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0], " Panic: All zero data sequence in RBSP \n");
}

TEST(Rbsp, StartCodeTest)
{
    const uint8_t three[] = {0, 0, 1};
    const uint8_t four[] = {0, 0, 0, 1};
    const uint8_t other[] = {0, 1, 1};
    EXPECT_EQ(h264dec_is_start_code(three, 2), 1);
    EXPECT_EQ(h264dec_is_start_code(four, 3), 1);
    EXPECT_EQ(h264dec_is_start_code(four, 2), 0);
    EXPECT_EQ(h264dec_is_start_code(other, 2), 0);
}

// One packet in this program's RTP file layout: length and time little-endian, header bit fields
// from the low end of each byte.
Bytes RtpPacket(const Bytes &nal, int version = 2, int padding = 0, uint16_t seq = 0x1234)
{
    Bytes p;
    const uint32_t len = static_cast<uint32_t>(nal.size() + 12);
    for (int i = 0; i < 4; ++i)
        p.push_back(static_cast<uint8_t>(len >> (8 * i)));
    for (int i = 0; i < 4; ++i)
        p.push_back(0xFF);
    p.push_back(static_cast<uint8_t>(version + 4 * padding));
    p.push_back(static_cast<uint8_t>(1 + 2 * 105));
    p.push_back(static_cast<uint8_t>(seq & 0xFF));
    p.push_back(static_cast<uint8_t>(seq >> 8));
    const uint8_t rest[] = {0x10, 0x27, 0, 0, 0x78, 0x56, 0x34, 0x12};
    p.insert(p.end(), rest, rest + 8);
    p.insert(p.end(), nal.begin(), nal.end());
    return p;
}

TEST(Rtp, PacketsGiveTheirUnits)
{
    Bytes file = RtpPacket({0x67, 1, 2, 3});
    h264test::Append(file, RtpPacket({0x68, 9}));
    auto source = NaluMemory(file);
    NaluPtr nalu = dec_AllocNALU(1000);
    ASSERT_EQ(GetRTPNALU(*source, nalu.get()), 4);
    EXPECT_EQ(nalu->nal_unit_type, 7);
    EXPECT_EQ(nalu->nal_ref_idc, 3);
    EXPECT_EQ(Bytes(nalu->buf.begin(), nalu->buf.begin() + 4), (Bytes{0x67, 1, 2, 3}));
    ASSERT_EQ(GetRTPNALU(*source, nalu.get()), 2);
    EXPECT_EQ(nalu->nal_unit_type, 8);
    EXPECT_EQ(GetRTPNALU(*source, nalu.get()), 0);

    RTPpacket p;
    auto one = NaluMemory(RtpPacket({0x65}, 2, 0, 0xBEEF));
    ASSERT_EQ(RTPReadPacket(&p, *one), 13);
    ASSERT_EQ(DecomposeRTPpacket(&p), 0);
    EXPECT_EQ(p.v, 2u);
    EXPECT_EQ(p.m, 1u);
    EXPECT_EQ(p.pt, 105u);
    EXPECT_EQ(p.seq, 0xBEEFu);
    EXPECT_EQ(p.timestamp, 10000u);
    EXPECT_EQ(p.ssrc, 0x12345678u);
    EXPECT_EQ(p.paylen, 1);
}

TEST(Rtp, BadPacketsAreRefused)
{
    NaluPtr nalu = dec_AllocNALU(1000);
    auto version1 = NaluMemory(RtpPacket({0x65}, 1));
    EXPECT_EQ(GetRTPNALU(*version1, nalu.get()), -1);
    auto padded = NaluMemory(RtpPacket({0x65}, 2, 1));
    EXPECT_EQ(GetRTPNALU(*padded, nalu.get()), -1);
    Bytes truncated = RtpPacket({0x65, 1, 2});
    truncated.erase(truncated.end() - 2, truncated.end());
    auto cut = NaluMemory(truncated);
    EXPECT_EQ(GetRTPNALU(*cut, nalu.get()), -1);
    auto tooShort = NaluMemory({5, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 2, 0, 0, 0, 0});
    EXPECT_EQ(GetRTPNALU(*tooShort, nalu.get()), -1);
    NaluPtr small = dec_AllocNALU(2);
    auto big = NaluMemory(RtpPacket({0x65, 1, 2, 3}));
    EXPECT_EQ(GetRTPNALU(*big, small.get()), -1);
}

TEST(Dispatch, NonSliceUnitsAreReadOrSkippedUpToTheSlice)
{
    using namespace h264test;
    Bytes stream = {0x12, 0x34, 0x56, 0x78}; // no start code: refused, then the units follow
    const SPS sps = DefaultSps();
    const PPS pps = DefaultPps();
    Append(stream, NalUnit(0, NALU_TYPE_PD, {0x80}));
    Append(stream, NalUnit(0, NALU_TYPE_FILL, {0xFF, 0xFF, 0x80}));
    Append(stream, NalUnit(0, NALU_TYPE_DPA, {0x80}));
    Append(stream, NalUnit(0, NALU_TYPE_DPB, {0x80}));
    Append(stream, NalUnit(0, NALU_TYPE_DPC, {0x80}));
    Append(stream, NalUnit(0, 12, {0x80}));
    Append(stream, NalUnit(3, NALU_TYPE_SPS, SpsRbsp(sps)));
    Append(stream, NalUnit(3, NALU_TYPE_PPS, PpsRbsp(pps)));
    Append(stream, NalUnit(0, NALU_TYPE_SEI, SeiRbsp({{6, {0x80}}})));
    Append(stream, {0, 0, 1, 0x80 | 0x65, 0x80}); // forbidden bit set on an IDR unit

    std::vector<std::string> log;
    const zn::LogSink previous =
        zn::SetLogSink([&](zn::LogLevel, const std::string &t) { log.push_back(t); });
    H264DecoderState dec;
    h264dec_open_memory(dec, stream);
    NaluPtr nalu = dec_AllocNALU(kNaluCapacity);
    const int found = h264dec_next_slice_unit(dec, nalu.get());
    const int after = h264dec_next_slice_unit(dec, nalu.get());
    zn::SetLogSink(previous);

    ASSERT_EQ(found, 1);
    EXPECT_EQ(after, 0);
    EXPECT_EQ(dec.sps_table[0].Valid, 1);
    EXPECT_EQ(dec.pps_table[0].Valid, 1);
    const std::vector<std::string> expected = {
        "GetAnnexbNALU: no Start Code at the begin of the NALU, return -1\n",
        "Error while getting the NALU in file format Annex B, exit\n",
        "Found NALU type 0, len 0 undefined, ignore NALU, moving on\n",
        "read_new_slice: Found NALU_TYPE_PD, len 2\n, ignored",
        "read_new_slice: Found NALU_TYPE_FILL, len 4\n",
        "Skipping these filling bits, proceeding w/ next NALU\n",
        "read_new_slice: Found unexpected NALU_TYPE_DPB, len 2\n",
        "ignoring... moving on with next NALU\n",
        "read_new_slice: Found NALU_TYPE_DPC, len 2\n",
        "ignoring... moving on with next NALU\n",
        "Found NALU type 12, len 2 undefined, ignore NALU, moving on\n",
        "read_new_slice: Found NALU_TYPE_SEI, len 5\n",
        "Found NALU w/ forbidden_bit set, bit error?  Let's try...\n",
    };
    EXPECT_EQ(log, expected);
}

TEST(Dispatch, AMissingFileEndsTheRunWithCode500)
{
    zn::MessageRecorder boxes;
    H264DecoderState dec;
    dec.input.infile = "/nonexistent/clip.264";
    try {
        h264dec_open_annexb(dec);
        FAIL();
    } catch (const H264FatalError &e) {
        EXPECT_EQ(e.ExitCode(), 500);
    }
    EXPECT_EQ(boxes.Texts(),
              std::vector<std::string>{"Cannot open Annex B ByteStream file '/nonexistent/clip.264'"});
}

} // namespace

} // namespace nalu_test
