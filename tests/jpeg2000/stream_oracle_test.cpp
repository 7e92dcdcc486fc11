// Our code-stream headers against OpenJPEG's opj_dump, through the test-side header converter: what we
// write reads correctly in a standard decoder, and what a standard encoder writes reads correctly here.
#include "jpeg2000/support/j2k_elements.h"
#include "jpeg2000/support/j2k_header_convert.h"

#include "jpeg2000/local_services.h"
#include "jpeg2000/stream_in.h"
#include "jpeg2000/stream_out.h"

#include "platform/messages.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace stream_oracle_test { // one namespace per test file: a folder compiles as one source

using namespace zn::j2k;
using j2ktest::HeaderLayout;

namespace {
// The values opj_dump reports for the main header's default tile and component 0.
struct Dumped
{
    int resolutions = -1, cblkw = -1, cblkh = -1, layers = -1, progression = -1, mct = -1, qmfbid = -1,
        guard = -1, qntsty = -1;
    std::vector<std::pair<int, int>> steps; // (mantissa, exponent)
};

// The number after the first "key" in the text (decimal, or hexadecimal with 0x); -1 when absent.
// `key` includes what precedes the value, such as "numresolutions=" or "cblkw=2^".
int Field(const std::string &text, const std::string &key)
{
    size_t at = text.find(key);
    if (at == std::string::npos)
        return -1;
    return int(std::strtol(text.c_str() + at + key.size(), nullptr, 0));
}

Dumped OpjDump(const std::string &path, std::string *raw = nullptr)
{
    std::string out;
    zntest::Run("opj_dump -i " + zntest::ShellQuote(path) + " 2>&1", &out);
    if (raw)
        *raw = out;
    Dumped d;
    d.resolutions = Field(out, "numresolutions=");
    d.cblkw = Field(out, "cblkw=2^");
    d.cblkh = Field(out, "cblkh=2^");
    d.layers = Field(out, "numlayers=");
    d.progression = Field(out, "prg=");
    d.mct = Field(out, " mct=");
    d.qmfbid = Field(out, "qmfbid=");
    d.guard = Field(out, "numgbits=");
    d.qntsty = Field(out, "qntsty=");
    // "stepsizes (m,e)=(0,8) (0,9) ..." up to the end of the line.
    size_t at = out.find("stepsizes (m,e)=");
    if (at != std::string::npos) {
        std::string line = out.substr(at + 16, out.find('\n', at) - at - 16);
        const char *p = line.c_str();
        int m = 0, e = 0, used = 0;
        while (std::sscanf(p, " (%d,%d)%n", &m, &e, &used) == 2) {
            d.steps.push_back({m, e});
            p += used;
        }
    }
    return d;
}

// A main header for the module's settings, one empty tile-part, EOC.
std::vector<uint8_t> ModuleStream(const j2ktest::ModuleSettings &s, const std::string &path)
{
    auto out = create_stream_out();
    out->initialize(1 << 30, path.c_str(), nullptr);
    j2ktest::DeclareModuleHeader(*out, s);
    out->write_global_header();
    const uint8_t empty = 0x00; // an empty packet: its head says "nothing included"
    int header = out->start_tile(0, 1, 0);
    out->start_tile(0, 0, header + 1);
    out->start_packet(0, 1, 0, 1, 0);
    out->put_head_bytes(&empty, 1);
    out->end_packet();
    out->terminate();
    return zntest::ReadFileBytes(path);
}

void WritePgm(const std::string &path, int w, int h)
{
    std::vector<uint8_t> bytes;
    std::string header = "P5\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
    bytes.assign(header.begin(), header.end());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            bytes.push_back(uint8_t((x * x + 3 * y) & 0xFF));
    zntest::WriteFileBytes(path, bytes);
}

// Checks that stream_in, given the converted stream, reports what opj_dump reports.
void ExpectReaderAgreesWithDump(const std::string &standard_path, const std::string &scratch)
{
    Dumped d = OpjDump(standard_path);
    ASSERT_GT(d.resolutions, 0) << standard_path;
    std::vector<uint8_t> bytes = zntest::ReadFileBytes(standard_path);
    ASSERT_TRUE(j2ktest::ConvertHeaders(bytes, HeaderLayout::Ours));
    std::string ours = scratch + "ours.j2k";
    zntest::WriteFileBytes(ours, bytes);
    zn::MessageRecorder rec;
    J2kRun run;
    auto in = create_stream_in();
    in->initialize(ours.c_str());
    EXPECT_EQ(in->get_marker_val(-1, elt::Levels, 0, 0), d.resolutions - 1);
    EXPECT_EQ(in->get_marker_val(-1, elt::Xcb, 0, 0), d.cblkw - 2);
    EXPECT_EQ(in->get_marker_val(-1, elt::Ycb, 0, 0), d.cblkh - 2);
    EXPECT_EQ(in->get_marker_val(-1, elt::Layers, 0, 0), d.layers);
    EXPECT_EQ(in->get_marker_val(-1, elt::Progression, 0, 0), d.progression);
    EXPECT_EQ(in->get_marker_val(-1, elt::Mct, 0, 0), d.mct);
    EXPECT_EQ(in->get_marker_val(-1, elt::Reversible, 0, 0), d.qmfbid);
    EXPECT_EQ(in->get_marker_val(-1, elt::GuardBits, 0, 0), d.guard);
    if (d.qntsty == 0) {
        ASSERT_EQ(in->marker_elt_count(-1, elt::ReversibleRanges, 0), int(d.steps.size()));
        for (size_t i = 0; i < d.steps.size(); ++i)
            EXPECT_EQ(in->get_marker_val(-1, elt::ReversibleRanges, 0, int(i)), d.steps[i].second) << i;
    } else {
        int n = in->marker_elt_count(-1, elt::StepParams, 0);
        ASSERT_GE(n, 1);
        for (int i = 0; i < n && i < int(d.steps.size()); ++i)
            EXPECT_EQ(in->get_marker_val(-1, elt::StepParams, 0, i),
                      d.steps[i].second * 2048 + d.steps[i].first)
                << i;
    }
    in->terminate();
}
} // namespace

TEST(J2kOracle, OpjDumpReadsOurConvertedModuleHeader)
{
    ZN_REQUIRE_TOOL("opj_dump");
    zntest::ScratchDir dir;
    struct Case
    {
        int levels;
        bool reversible;
        int xcb, ycb, layers;
    } cases[] = {{1, true, 3, 3, 1}, {4, false, 3, 3, 1}, {3, true, 4, 2, 5}};
    for (const auto &c : cases) {
        j2ktest::ModuleSettings s;
        s.levels = c.levels;
        s.reversible = c.reversible;
        s.xcb = c.xcb;
        s.ycb = c.ycb;
        s.layers = c.layers;
        std::vector<uint8_t> bytes = ModuleStream(s, dir.File("ours.jp2"));
        std::vector<uint8_t> original = bytes;
        ASSERT_TRUE(j2ktest::ConvertHeaders(bytes, HeaderLayout::Standard));
        std::string path = dir.File("standard.j2k");
        zntest::WriteFileBytes(path, bytes);
        std::string raw;
        Dumped d = OpjDump(path, &raw);
        EXPECT_EQ(d.resolutions, c.levels + 1) << raw;
        EXPECT_EQ(d.cblkw, c.xcb + 2);
        EXPECT_EQ(d.cblkh, c.ycb + 2);
        EXPECT_EQ(d.layers, c.layers);
        EXPECT_EQ(d.progression, 0);
        EXPECT_EQ(d.mct, 0);
        EXPECT_EQ(d.qmfbid, c.reversible ? 1 : 0);
        EXPECT_EQ(d.guard, 2);
        ASSERT_EQ(int(d.steps.size()), 3 * c.levels + 1);
        if (c.levels == 1 && c.reversible) {
            std::vector<std::pair<int, int>> want = {{0, 8}, {0, 9}, {0, 9}, {0, 10}};
            EXPECT_EQ(d.steps, want);
        }
        // And back: the conversion loses nothing.
        ASSERT_TRUE(j2ktest::ConvertHeaders(bytes, HeaderLayout::Ours));
        EXPECT_EQ(bytes, original);
    }
}

TEST(J2kOracle, OpenJpegHeadersReadBackAsOpjDumpReportsThem)
{
    ZN_REQUIRE_TOOL("opj_compress");
    ZN_REQUIRE_TOOL("opj_dump");
    zntest::ScratchDir dir;
    std::string pgm = dir.File("in.pgm");
    WritePgm(pgm, 72, 40);
    const char *options[] = {"-n 2", "-n 4 -b 32,16 -r 20,10 -p RLCP", "-n 3 -I -b 16,64",
                             "-n 6 -p CPRL -r 8,4,2", "-n 1 -I -q 30"};
    for (const char *opt : options) {
        SCOPED_TRACE(opt);
        std::string out = dir.File("opj.j2k");
        ASSERT_EQ(zntest::Run("opj_compress -i " + zntest::ShellQuote(pgm) + " -o " +
                              zntest::ShellQuote(out) + " " + opt + " > /dev/null 2>&1"),
                  0);
        ExpectReaderAgreesWithDump(out, dir.Path());
    }
    for (const std::string &file : zntest::CorpusFiles("j2k")) {
        SCOPED_TRACE(file);
        ExpectReaderAgreesWithDump(file, dir.Path());
    }
}

} // namespace stream_oracle_test
