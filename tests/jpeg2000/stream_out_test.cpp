// The code-stream writer: segment layouts, translation rules, tile-part headers, packets and the
// byte budget.
#include "jpeg2000/support/j2k_elements.h"

#include "jpeg2000/command_line.h"
#include "jpeg2000/local_services.h"
#include "jpeg2000/stream_out.h"

#include "platform/errors.h"
#include "platform/messages.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace stream_out_test { // one namespace per test file: a folder compiles as one source

using namespace zn::j2k;
using j2ktest::Declare;

namespace {
using Bytes = std::vector<uint8_t>;

struct Writer
{
    zntest::ScratchDir dir;
    std::string path = dir.File("out.jp2");
    std::vector<const char *> argv;
    std::unique_ptr<command_line> args = create_command_line();
    std::unique_ptr<stream_out> out = create_stream_out();
    explicit Writer(std::vector<const char *> words = {}, int32_t budget = 1 << 30)
    {
        argv = {"prog"};
        argv.insert(argv.end(), words.begin(), words.end());
        args->parse(static_cast<int>(argv.size()), argv.data());
        out->initialize(budget, path.c_str(), args.get());
    }
    Bytes Finish()
    {
        out->terminate();
        return zntest::ReadFileBytes(path);
    }
};

// Position of a byte pattern, or npos.
size_t Find(const Bytes &hay, const Bytes &needle, size_t from = 0)
{
    auto it = std::search(hay.begin() + std::min(from, hay.size()), hay.end(), needle.begin(), needle.end());
    return it == hay.end() ? std::string::npos : size_t(it - hay.begin());
}

Bytes Slice(const Bytes &b, size_t at, size_t n)
{
    return Bytes(b.begin() + at, b.begin() + at + n);
}
} // namespace

TEST(J2kStreamOut, DefaultModuleMainHeaderAndFirstTilePart)
{
    zn::MessageRecorder rec;
    Writer w({"-Bresync", "N"});
    j2ktest::ModuleSettings s;
    j2ktest::DeclareModuleHeader(*w.out, s);
    w.out->write_global_header();
    int header = w.out->start_tile(0, 1, 0);
    EXPECT_EQ(header, 14);
    w.out->start_tile(0, 0, 0x1234);
    Bytes file = w.Finish();
    EXPECT_EQ(rec.Count(), 0u);
    ASSERT_GE(file.size(), 2u + 43 + 31 + 14 + 14 + 2);
    EXPECT_EQ(Slice(file, 0, 2), (Bytes{0xFF, 0x4F}));
    EXPECT_EQ(Slice(file, 2, 4), (Bytes{0xFF, 0x51, 0x00, 41}));
    size_t qcd = 2 + 43;
    EXPECT_EQ(Slice(file, qcd, 5), (Bytes{0xFF, 0x5C, 0x00, 0x1D, 0x42}));
    size_t cod = qcd + 31;
    EXPECT_EQ(Slice(file, cod, 14),
              (Bytes{0xFF, 0x52, 0x00, 0x0C, 0x00, 0x04, 0x00, 0x00, 0x01, 0x03, 0x03, 0x00, 0x00, 0x00}));
    size_t sot = cod + 14;
    EXPECT_EQ(Slice(file, sot, 14),
              (Bytes{0xFF, 0x90, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x12, 0x34, 0x00, 0x01, 0xFF, 0x93}));
    EXPECT_EQ(Slice(file, sot + 14, 2), (Bytes{0xFF, 0xD9}));
    EXPECT_EQ(file.size(), sot + 16);
}

TEST(J2kStreamOut, ReversibleHeaderCarriesExponentsInTheLowBits)
{
    Writer w;
    j2ktest::ModuleSettings s;
    s.reversible = true;
    j2ktest::DeclareModuleHeader(*w.out, s);
    w.out->write_global_header();
    Bytes file = w.Finish();
    size_t qcd = Find(file, {0xFF, 0x5C});
    ASSERT_NE(qcd, std::string::npos);
    EXPECT_EQ(Slice(file, qcd, 9), (Bytes{0xFF, 0x5C, 0x00, 16, 0x40, 8, 9, 9, 10}));
    size_t cod = Find(file, {0xFF, 0x52});
    EXPECT_EQ(file[cod + 12], 1); // transformation byte: reversible
}

TEST(J2kStreamOut, RegionBoostAndPremarkers)
{
    zn::MessageRecorder rec;
    Writer w;
    j2ktest::ModuleSettings s;
    s.components = 3;
    j2ktest::DeclareModuleHeader(*w.out, s);
    Declare(*w.out, -1, elt::RegionBoosts, 1, 8, {20});
    Declare(*w.out, -1, elt::RegionBoosts, 2, 8, {7});
    Declare(*w.out, -1, elt::RectRegions, 2, 16, {1, 2, 30, 40});
    w.out->write_global_header();
    Bytes file = w.Finish();
    EXPECT_NE(Find(file, {0xFF, 0x5E, 0x00, 0x05, 0x01, 0x00, 0x14}), std::string::npos);
    // Component 2's boost and rectangle travel together packed: Rcme 0xFF5E, instance 2, then the boost
    // as one byte-wide value (id 0x11 | 0x40) and the rectangle as four 16-bit values.
    EXPECT_NE(Find(file, {0xFF, 0x64, 0x00, 0x12, 0xFF, 0x5E, 0x02, 0x51, 0x07, 0x12,
                          0x02, 0x04, 0x00, 0x01, 0x00, 0x02, 0x00, 30,   0x00, 40}),
              std::string::npos);
    EXPECT_EQ(w.out->premarker_segments(), 1);
    EXPECT_EQ(rec.Count(), 0u);
}

TEST(J2kStreamOut, PartTwoDecompositionSendsTheCodFamilyToPremarkers)
{
    zn::MessageRecorder rec;
    Writer w;
    j2ktest::ModuleSettings s;
    s.components = 2;
    j2ktest::DeclareModuleHeader(*w.out, s);
    Declare(*w.out, -1, elt::DecompositionStructure, 1, 8, {3});
    w.out->write_global_header();
    Bytes file = w.Finish();
    auto texts = rec.Texts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[1], "Got COC 2 will use premarker");
    EXPECT_EQ(Find(file, {0xFF, 0x52, 0x00, 0x0C}), std::string::npos); // no COD segment
    EXPECT_NE(Find(file, {0xFF, 0x64, 0x00}), std::string::npos);
    EXPECT_EQ(w.out->premarker_segments(), 3); // COD, COC 0, COC 1
}

TEST(J2kStreamOut, BudgetCutsTheStreamAtTheExactByte)
{
    struct Case
    {
        int budget;
        Bytes tail;
    };
    // Whole stream without a budget.
    Bytes full;
    {
        Writer w;
        j2ktest::DeclareModuleHeader(*w.out, {});
        w.out->write_global_header();
        full = w.Finish();
    }
    ASSERT_EQ(Slice(full, full.size() - 2, 2), (Bytes{0xFF, 0xD9}));
    const int header = int(full.size()) - 2;
    for (int budget : {10, header - 1, header + 1, header + 2}) {
        Writer w({}, budget);
        j2ktest::DeclareModuleHeader(*w.out, {});
        w.out->write_global_header();
        Bytes file = w.Finish();
        ASSERT_EQ(int(file.size()), std::min(budget, header + 2)) << budget;
        EXPECT_EQ(file, Slice(full, 0, file.size())) << budget;
        if (budget == header + 1) {
            EXPECT_EQ(file.back(), 0xFF); // a lone 0xFF instead of EOC
        }
    }
}

TEST(J2kStreamOut, PacketsWithSopAndEph)
{
    Writer w({"-Bresync", "-Beph", "Y"});
    j2ktest::DeclareModuleHeader(*w.out, {});
    w.out->write_global_header();
    size_t header = size_t(w.out->global_header_bytes());
    w.out->start_tile(0, 0, 0);
    const uint8_t head[] = {0xA5}, body[] = {1, 2, 3};
    for (int p = 0; p < 3; ++p) {
        w.out->start_packet(0, 1, 3, 1, 1);
        w.out->put_head_bytes(head, 1);
        w.out->put_body_bytes(body, 3);
        int simulated = w.out->end_packet();
        w.out->start_packet(0, 1, p == 2 ? 0 : 3, 1, 0);
        w.out->put_head_bytes(head, 1);
        if (p != 2)
            w.out->put_body_bytes(body, 3);
        int written = w.out->end_packet();
        if (p != 2) {
            EXPECT_EQ(written, simulated);
        }
        EXPECT_EQ(written, p == 2 ? 9 : 12);
    }
    Bytes file = w.Finish();
    size_t at = header + 14;
    for (int p = 0; p < 3; ++p) {
        EXPECT_EQ(Slice(file, at, 9), (Bytes{0xFF, 0x91, 0x00, 0x04, 0x00, uint8_t(p), 0xA5, 0xFF, 0x92}))
            << p;
        at += p == 2 ? 9 : 12;
    }
    EXPECT_EQ(Slice(file, at, 2), (Bytes{0xFF, 0xD9}));
}

TEST(J2kStreamOut, TileHeadersCarryOnlyWhatDiffers)
{
    Writer w({"-Bold_sot"});
    j2ktest::ModuleSettings s;
    s.components = 2;
    j2ktest::DeclareModuleHeader(*w.out, s);
    Declare(*w.out, 0, elt::Xcb, 0, 8, {3});    // same as main: dropped
    Declare(*w.out, 1, elt::Levels, 1, 8, {2}); // component 1 of tile 1 differs
    w.out->write_global_header();
    EXPECT_EQ(w.out->start_tile(0, 1, 0), 13);
    EXPECT_EQ(w.out->get_marker_val(1, elt::Levels, 1, 0), 2);
    EXPECT_EQ(w.out->get_marker_val(1, elt::Levels, 0, 0), 4);
    // Tile 1: SOT(11) + COC(11) + COD(14) + SOD(2); the COC was made after the COD, at the list's head.
    EXPECT_EQ(w.out->start_tile(1, 1, 0), 13 + 14 + 11);
    w.out->start_tile(0, 0, 13);
    w.out->start_tile(1, 0, 38);
    Bytes file = w.Finish();
    size_t sot1 = Find(file, {0xFF, 0x90, 0x00, 0x09, 0x00, 0x01});
    ASSERT_NE(sot1, std::string::npos);
    EXPECT_EQ(Slice(file, sot1 + 11, 11),
              (Bytes{0xFF, 0x53, 0x00, 0x09, 0x01, 0x00, 0x02, 0x03, 0x03, 0x00, 0x00}));
    EXPECT_EQ(Slice(file, sot1 + 22, 14),
              (Bytes{0xFF, 0x52, 0x00, 0x0C, 0x00, 0x04, 0x00, 0x00, 0x01, 0x03, 0x03, 0x00, 0x00, 0x00}));
    EXPECT_EQ(Slice(file, sot1 + 36, 2), (Bytes{0xFF, 0x93}));
}

TEST(J2kStreamOut, MisuseEndsTheRunWithItsMessage)
{
    struct Case
    {
        std::function<void(stream_out &)> act;
        const char *start;
    } cases[] = {
        {[](stream_out &o) { o.set_marker_val(-1, elt::Levels, 3, 1, 0); },
         "Attempting to set a marker value"},
        {[](stream_out &o) {
             Declare(o, -1, elt::Xcb, 0, 4, {3});
             o.declare_marker_elt(-1, elt::Xcb, 0, 4, 1);
         },
         "Attempting to declare the marker element"},
        {[](stream_out &o) { Declare(o, -1, elt::Xcb, 0, 4, {-1}); },
         "Attempting to set a value which exceeds"},
        {[](stream_out &o) { o.get_marker_val(-1, elt::Layers, 0, 0); }, "The value requested from marker"},
        {[](stream_out &o) {
             j2ktest::DeclareModuleHeader(o, {});
             o.declare_marker_elt(-1, elt::Overlap, 0, 8, 1);
             o.write_global_header();
         },
         "One or more declared marker element values not set"},
        {[](stream_out &o) {
             j2ktest::DeclareModuleHeader(o, {});
             o.write_global_header();
             o.declare_marker_elt(-1, elt::Overlap, 0, 8, 1);
         },
         "Attempting to declare a marker element in the global header"},
        {[](stream_out &o) { o.add_comment(0xFF52, 1, reinterpret_cast<const uint8_t *>("x")); },
         "Real CME markers may not use Rcme codes"},
    };
    for (const auto &c : cases) {
        zn::MessageRecorder rec;
        zn::j2k::J2kRun run;
        Writer w;
        try {
            c.act(*w.out);
            ADD_FAILURE() << c.start;
        } catch (const zn::RunAborted &e) {
            EXPECT_EQ(std::string(e.what()).rfind(c.start, 0), 0u) << e.what();
        }
    }
    for (auto words : {std::vector<const char *>{"-Bcomment"},
                       {"-Bresync", "Q"},
                       {"-Beph", "Y", "N"},
                       {"-Bold_sot", "1"}}) {
        zn::MessageRecorder rec;
        EXPECT_THROW(Writer w(words), zn::RunAborted) << words[0];
    }
}

} // namespace stream_out_test
