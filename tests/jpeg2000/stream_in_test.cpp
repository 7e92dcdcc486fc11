// The code-stream reader on damaged, cut and unusual streams: resynchronisation on SOP and EPH,
// truncation, tile-part order, packet heads in PPT and PPM, comments and the closing warnings.
#include "jpeg2000/support/j2k_elements.h"

#include "jpeg2000/command_line.h"
#include "jpeg2000/local_services.h"
#include "jpeg2000/stream_in.h"
#include "jpeg2000/stream_out.h"

#include "platform/errors.h"
#include "platform/log.h"
#include "platform/messages.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace stream_in_test { // one namespace per test file: a folder compiles as one source

using namespace zn::j2k;
using Bytes = std::vector<uint8_t>;

namespace {
// SOC and the default module main header, as our writer makes it (no EOC).
Bytes MainHeader(std::vector<const char *> words = {})
{
    zntest::ScratchDir dir;
    std::vector<const char *> argv = {"prog"};
    argv.insert(argv.end(), words.begin(), words.end());
    auto args = create_command_line();
    args->parse(int(argv.size()), argv.data());
    auto out = create_stream_out();
    std::string path = dir.File("h.jp2");
    out->initialize(1 << 30, path.c_str(), args.get());
    j2ktest::DeclareModuleHeader(*out, {});
    out->write_global_header();
    out->terminate();
    Bytes b = zntest::ReadFileBytes(path);
    if (b.size() >= 2) // drop the EOC
        b.resize(b.size() - 2);
    return b;
}

void Put16(Bytes &b, int v)
{
    b.push_back(uint8_t(v >> 8));
    b.push_back(uint8_t(v));
}

// A tile-part: SOT with the right Psot (unless given), header segments, SOD, data.
Bytes TilePart(int tile, int tpsot, int tnsot, const Bytes &segments, const Bytes &data, long psot = -1,
               int lsot = 10)
{
    Bytes b = {0xFF, 0x90};
    Put16(b, lsot);
    Put16(b, tile);
    long length = psot >= 0 ? psot : long((lsot == 9 ? 11 : 12) + segments.size() + 2 + data.size());
    Put16(b, int(length >> 16));
    Put16(b, int(length & 0xFFFF));
    b.push_back(uint8_t(tpsot));
    if (lsot != 9)
        b.push_back(uint8_t(tnsot));
    b.insert(b.end(), segments.begin(), segments.end());
    b.insert(b.end(), {0xFF, 0x93});
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

Bytes Sop(int n)
{
    return {0xFF, 0x91, 0x00, 0x04, uint8_t(n >> 8), uint8_t(n)};
}

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

const Bytes kEoc = {0xFF, 0xD9};

struct Reader
{
    zn::MessageRecorder rec;
    J2kRun run;
    std::unique_ptr<stream_in> in = create_stream_in();
    explicit Reader(const Bytes &stream) { in->initialize_from_memory(stream); }
    // Reads one packet: head up to `head` bytes, body up to `body` bytes. Returns -1 when missing.
    int Packet(int head, int body, Bytes *got = nullptr, int *tile = nullptr, int *last = nullptr)
    {
        int t = -2;
        int present = in->start_packet(&t, nullptr);
        if (tile)
            *tile = t;
        Bytes buf(size_t(head + body) + 1);
        int h = in->get_head_bytes(buf.data(), head);
        int b = in->get_body_bytes(buf.data() + h, body);
        if (got)
            got->assign(buf.begin(), buf.begin() + h + b);
        int l = 0, bytes = 0;
        in->end_packet(&l, &bytes);
        if (last)
            *last = l;
        return present ? h + b : -1;
    }
};

std::string AbortMessage(const Bytes &stream)
{
    zn::MessageRecorder rec;
    J2kRun run;
    auto in = create_stream_in();
    try {
        in->initialize_from_memory(stream);
    } catch (const zn::RunAborted &e) {
        return e.what();
    }
    return "";
}
} // namespace

TEST(J2kStreamIn, CutOrForeignStreamsEndTheRunWithTheirMessage)
{
    Bytes main = MainHeader();
    EXPECT_EQ(AbortMessage(main), "Input codestream does not appear to contain an initial SOT marker!");
    EXPECT_EQ(AbortMessage(Bytes(main.begin(), main.begin() + 30)),
              "Input codestream does not appear to contain an initial SOT marker!");
    EXPECT_EQ(AbortMessage({0xFF, 0xD8, 0xFF, 0xE0}),
              "Input codestream does not commence with the SOC marker!");
    EXPECT_EQ(AbortMessage({}), "Input codestream does not commence with the SOC marker!");
    // A premarker segment whose width byte is 3.
    Bytes bad = Cat({main, TilePart(0, 0, 1, {}, {}), kEoc});
    Bytes premarker = {0xFF, 0x64, 0x00, 0x0A, 0xFF, 0x5E, 0x00, 0x12, 0x03, 0x01, 0x00, 0x00};
    bad.insert(bad.begin() + 2 + 43, premarker.begin(), premarker.end());
    EXPECT_EQ(AbortMessage(bad), "CME marker used to pack regular marker segments seems to be corrupt!");
}

TEST(J2kStreamIn, LostSopTreatsOnePacketAsMissingAndReadingContinuesInStep)
{
    Bytes data;
    for (int p = 0; p < 8; ++p)
        data = Cat({data,
                    p == 5 ? Bytes{0x11, 0x22, 0x33, 0x44, 0x55, 0x66} : Sop(p),
                    {uint8_t(0x40 + p), 0xA0, uint8_t(p)}});
    Reader r(Cat({MainHeader({"-Bresync"}), TilePart(0, 0, 1, {}, data), kEoc}));
    for (int p = 0; p < 8; ++p) {
        Bytes got;
        int n = r.Packet(1, 2, &got);
        if (p == 5) {
            EXPECT_EQ(n, -1);
            continue;
        }
        ASSERT_EQ(n, 3) << p;
        EXPECT_EQ(got, (Bytes{uint8_t(0x40 + p), 0xA0, uint8_t(p)})) << p;
    }
    int tile = 0;
    EXPECT_EQ(r.in->start_packet(&tile, nullptr), 0);
    EXPECT_EQ(tile, -1);
}

TEST(J2kStreamIn, ABodyRunningIntoTheNextSopEndsThereAndTheNextPacketReadsNormally)
{
    Bytes data = Cat({Sop(0), {0x01, 0xB0, 0xB1}, Sop(1), {0x02, 0xC0, 0xC1, 0xC2}});
    Reader r(Cat({MainHeader({"-Bresync"}), TilePart(0, 0, 1, {}, data), kEoc}));
    Bytes got;
    EXPECT_EQ(r.Packet(1, 10, &got), 3); // asks for ten body bytes, gets two
    EXPECT_EQ(got, (Bytes{0x01, 0xB0, 0xB1}));
    EXPECT_EQ(r.Packet(1, 3, &got), 4);
    EXPECT_EQ(got, (Bytes{0x02, 0xC0, 0xC1, 0xC2}));
}

TEST(J2kStreamIn, EphMarksTheEndOfTheHead)
{
    Bytes data = Cat({{0x81, 0x82, 0xFF, 0x92, 0x10, 0x11}, {0x83, 0xFF, 0x92}, {0x84, 0xFF, 0x92, 0x12}});
    Reader r(Cat({MainHeader({"-Beph"}), TilePart(0, 0, 1, {}, data), kEoc}));
    Bytes got;
    EXPECT_EQ(r.Packet(8, 2, &got), 4); // the head stops at EPH although eight bytes were asked for
    EXPECT_EQ(got, (Bytes{0x81, 0x82, 0x10, 0x11}));
    EXPECT_EQ(r.Packet(1, 0, &got), 1); // an empty body still has its EPH, skipped at the packet's end
    EXPECT_EQ(r.Packet(1, 1, &got), 2);
    EXPECT_EQ(got, (Bytes{0x84, 0x12}));
}

TEST(J2kStreamIn, TruncationCutsTheDataAsAShorterFileWould)
{
    Bytes main = MainHeader();
    Bytes body(100);
    for (size_t i = 0; i < body.size(); ++i)
        body[i] = uint8_t(i);
    Bytes stream = Cat({main, TilePart(0, 0, 1, {}, Cat({{0x80}, body})), kEoc});
    for (int extra : {0, 1, 31, 101, 500}) {
        Reader r(stream);
        r.in->set_truncation(int(main.size()) + 14 + extra);
        EXPECT_EQ(r.Packet(1, 200), std::min(extra, 101)) << extra;
    }
    // Fewer bytes than the headers already read: the tile-part's data goes, packets read as empty.
    Reader r(stream);
    r.in->set_truncation(10);
    EXPECT_EQ(r.Packet(1, 200), 0);
    EXPECT_THROW(r.in->set_truncation(10), zn::RunAborted);
    EXPECT_TRUE(r.rec.Contains("You may set a truncation size for the `stream_in' object only once!"));
}

TEST(J2kStreamIn, PsotBelowItsHeaderGivesNoData)
{
    Reader r(Cat({MainHeader(), TilePart(0, 0, 1, {}, {0x80, 0x01, 0x02}, 5), kEoc}));
    EXPECT_EQ(r.Packet(1, 2), 0);
}

TEST(J2kStreamIn, MalformedAndOutOfOrderTilePartsAreSkipped)
{
    Bytes stream = Cat({MainHeader(), TilePart(0, 0, 2, {}, {0x90, 0x01}),
                        TilePart(0, 3, 2, {}, {0x91, 0x02}),         // TPsot 3 where 1 was due
                        TilePart(1, 0, 1, {}, {0x92, 0x03}, -1, 11), // Lsot 11
                        TilePart(0, 1, 2, {}, {0x93, 0x04}),         // the real second part of tile 0
                        TilePart(2, 0, 1, {}, {0x94, 0x05}, -1, 9),  // old style SOT
                        kEoc});
    Reader r(stream);
    std::vector<std::pair<int, int>> seen;
    for (int i = 0; i < 3; ++i) {
        Bytes got;
        int tile = -1, last = 0;
        ASSERT_EQ(r.Packet(1, 1, &got, &tile, &last), 2);
        seen.push_back({tile, got[0]});
        if (i < 2) {
            EXPECT_EQ(last, i == 1 ? 1 : 0);
        }
    }
    EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{{0, 0x90}, {0, 0x93}, {2, 0x94}}));
    EXPECT_EQ(r.in->tile_has_markers(1), 0); // the Lsot-11 tile-part never counted
}

TEST(J2kStreamIn, PacketHeadsFromPptAndPpm)
{
    // PPT: heads of two packets in the tile-part header (index 1 first in the file), bodies in the data.
    Bytes ppt1 = {0xFF, 0x61, 0x00, 0x04, 0x01, 0xB2};
    Bytes ppt0 = {0xFF, 0x61, 0x00, 0x04, 0x00, 0xB1};
    {
        Reader r(Cat({MainHeader(), TilePart(0, 0, 1, Cat({ppt1, ppt0}), {0x10, 0x20, 0x21}), kEoc}));
        Bytes got;
        EXPECT_EQ(r.Packet(1, 1, &got), 2);
        EXPECT_EQ(got, (Bytes{0xB1, 0x10}));
        EXPECT_EQ(r.Packet(1, 2, &got), 3);
        EXPECT_EQ(got, (Bytes{0xB2, 0x20, 0x21}));
    }
    // PPM: one 16-bit-counted run per tile-part.
    Bytes main = MainHeader();
    Bytes ppm = {0xFF, 0x60, 0x00, 0x0A, 0x00, 0x00, 0x01, 0xC1, 0x00, 0x02, 0xC2, 0xC3};
    main.insert(main.begin() + 2 + 43, ppm.begin(), ppm.end()); // after SIZ
    Reader r(Cat({main, TilePart(0, 0, 1, {}, {0x30}), TilePart(1, 0, 1, {}, {0x40}), kEoc}));
    Bytes got;
    EXPECT_EQ(r.Packet(1, 1, &got), 2);
    EXPECT_EQ(got, (Bytes{0xC1, 0x30}));
    EXPECT_EQ(r.Packet(2, 1, &got), 3);
    EXPECT_EQ(got, (Bytes{0xC2, 0xC3, 0x40}));
}

TEST(J2kStreamIn, CommentsAndTileMarkers)
{
    Bytes main = MainHeader({"-Bcomment", "made by a test"});
    Bytes cod = {0xFF, 0x52, 0x00, 0x0C, 0x00, 0x02, 0x00, 0x00, 0x01, 0x04, 0x04, 0x00, 0x01, 0x00};
    Reader r(Cat({main, TilePart(0, 0, 1, {}, {0x00}), TilePart(1, 0, 1, cod, {0x00}), kEoc}));
    int length = 0;
    const uint8_t *text = r.in->get_comment(1, 0, &length);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(text), size_t(length)), "made by a test");
    EXPECT_EQ(r.in->get_comment(1, 1, &length), nullptr);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(r.in->tile_has_markers(0), 0);
    EXPECT_EQ(r.in->tile_has_markers(1), 1);
    EXPECT_EQ(r.in->get_marker_val(1, elt::Levels, 0, 0), 2);
    EXPECT_EQ(r.in->get_marker_val(0, elt::Levels, 0, 0), 4);
    EXPECT_EQ(r.in->get_marker_val(7, elt::Levels, 0, 0), 4); // no such tile: the main header answers
    EXPECT_EQ(r.in->get_marker_val(1, elt::Reversible, 0, 0), 1);
}

TEST(J2kStreamIn, UnaccessedMarkersWarnOnceAndTheRestGoToTheLog)
{
    std::vector<std::string> logged;
    auto previous = zn::SetLogSink([&](zn::LogLevel, const std::string &t) { logged.push_back(t); });
    Bytes main = MainHeader();
    Bytes extra = {0xFF, 0x63, 0x00, 0x03, 0x00, 0xFF, 0x55, 0x00, 0x03, 0x00, 0xFF, 0x57, 0x00, 0x02};
    main.insert(main.begin() + 2 + 43, extra.begin(), extra.end());
    {
        Reader r(Cat({main, TilePart(0, 0, 1, {}, {0x00}), kEoc}));
        r.in->terminate();
        auto texts = r.rec.Texts();
        ASSERT_EQ(texts.size(), 2u);
        EXPECT_EQ(texts[1], "Warning: Marker code ff63 in global header was not accessed!");
    }
    EXPECT_EQ(logged.size(), 2u);
    zn::SetLogSink(previous);
}

TEST(J2kStreamIn, AShortSegmentIsAFailedTranslationNotARead)
{
    // A QCD whose length runs past the end of the stream: the reader keeps only the real bytes.
    Bytes main = MainHeader();
    Bytes stream = Cat({main, TilePart(0, 0, 1, {}, {0x00}), kEoc});
    size_t qcd = 2 + 43;
    ASSERT_EQ(stream[qcd + 1], 0x5C);
    stream[qcd + 2] = 0x7F; // Lqcd far beyond the file
    // The segment swallows the rest of the file, so no SOT follows: the stream is refused cleanly.
    EXPECT_EQ(AbortMessage(stream), "Input codestream does not appear to contain an initial SOT marker!");
}

} // namespace stream_in_test
