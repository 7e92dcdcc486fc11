// Our code-streams, converted to the standard header layout, through opj_decompress: it must
// reconstruct what our own decoder reconstructs (exactly for reversible streams, within 2 grey
// levels and 50 dB otherwise), over levels, code-block sizes, layers, tiles, progression orders and
// the packet and coder options that the standard shares with us.
#include "jpeg2000/support/j2k_header_convert.h"
#include "jpeg2000/support/pnm_files.h"
#include "jpeg2000/support/test_codec.h"

#include "platform/errors.h"
#include "platform/messages.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace codec_oracle_test { // one namespace per test file: a folder compiles as one source

using namespace zn::j2k;
using j2ktest::CodecSettings;

namespace {
memory_image Synthetic(int height, int width, int components, unsigned seed)
{
    memory_image image;
    std::mt19937 rng(seed);
    for (int c = 0; c < components; ++c) {
        image.add_component(height, width);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                double v = 120 + 70 * std::sin(x * 0.09 + 2 * c) * std::cos(y * 0.06 - c) +
                           ((x / 13 + y / 17) % 2) * 30 + int(rng() % 11) - 5;
                image.planes[size_t(c)][size_t(y) * size_t(width) + size_t(x)] =
                    std::clamp(int(std::lround(v)), 0, 255);
            }
    }
    return image;
}

// opj_decompress's reconstruction of one of our streams.
bool OpjDecode(const std::vector<uint8_t> &ours, const zntest::ScratchDir &dir, memory_image &out,
               const std::string &extra = "")
{
    std::vector<uint8_t> standard = ours;
    if (!j2ktest::ConvertHeaders(standard, j2ktest::HeaderLayout::Standard)) {
        ADD_FAILURE() << "the header converter cannot walk the stream";
        return false;
    }
    const std::string in = dir.File("std.j2k"), pnm = dir.File(out.components() == 3 ? "opj.ppm" : "opj.pgm");
    zntest::WriteFileBytes(in, std::vector<unsigned char>(standard.begin(), standard.end()));
    std::string log;
    if (zntest::Run("opj_decompress -i " + zntest::ShellQuote(in) + " -o " + zntest::ShellQuote(pnm) + " " +
                        extra + " 2>&1",
                    &log) != 0) {
        ADD_FAILURE() << log;
        return false;
    }
    if (!j2ktest::ReadPnm(pnm, out)) {
        ADD_FAILURE() << "cannot read " << pnm << ": " << log;
        return false;
    }
    return true;
}

struct Case
{
    const char *name;
    CodecSettings settings;
    std::vector<std::string> args;
    double bpp; // 0: lossless budget
    int components = 1;
    double min_fill = 0; // of the budget the stream must fill, so the comparison is not of empty pictures
};

void CheckAgainstOpj(const memory_image &image, const Case &c)
{
    zntest::ScratchDir dir;
    const int64_t budget = c.bpp > 0 ? int64_t(double(image.heights[0]) * image.widths[0] * c.bpp / 8) : 0;
    auto bytes = j2ktest::EncodeImage(image, c.settings, c.args, budget, dir.File("ours.j2k"));
    if (budget > 0) {
        EXPECT_LE(int64_t(bytes.size()), budget) << c.name;
        EXPECT_GE(double(bytes.size()), double(budget) * c.min_fill) << c.name;
    }
    auto ours = j2ktest::DecodeImage(dir.File("ours.j2k"));
    memory_image theirs;
    theirs.add_component(1, 1);
    if (image.components() == 3)
        theirs.planes.resize(3);
    ASSERT_TRUE(OpjDecode(bytes, dir, theirs)) << c.name;
    ASSERT_EQ(theirs.components(), ours.components()) << c.name;
    ASSERT_EQ(theirs.heights, ours.heights) << c.name;
    ASSERT_EQ(theirs.widths, ours.widths) << c.name;
    if (c.settings.reversible) {
        EXPECT_EQ(j2ktest::MaxDifference(theirs, ours), 0) << c.name;
    } else {
        EXPECT_LE(j2ktest::MaxDifference(theirs, ours), 2) << c.name;
        EXPECT_GE(j2ktest::Psnr(theirs, ours), 50.0) << c.name;
    }
}
} // namespace

TEST(J2kCodecOracle, CameraAtTheModuleSettingsDecodesAlikeInOpenJpeg)
{
    ZN_REQUIRE_TOOL("opj_decompress");
    ZN_REQUIRE_PHOTO("camera");
    auto camera = j2ktest::GreyPhoto("camera");
    ASSERT_EQ(camera.components(), 1);
    CodecSettings s;
    s.levels = 4;
    for (double bpp : {0.25, 0.5, 1.0, 3.0})
        CheckAgainstOpj(camera, Case{"camera", s, {"-Cblk", "32"}, bpp});
    CodecSettings rev = s;
    rev.reversible = true;
    CheckAgainstOpj(camera, Case{"camera lossless", rev, {"-Cblk", "32"}, 0});
}

TEST(J2kCodecOracle, OptionMatrixDecodesAlikeInOpenJpeg)
{
    ZN_REQUIRE_TOOL("opj_decompress");
    auto odd = Synthetic(131, 157, 1, 3);
    auto large = Synthetic(287, 399, 1, 5);
    auto colour = Synthetic(97, 121, 3, 7);
    auto with = [](CodecSettings s, auto change) {
        change(s);
        return s;
    };
    CodecSettings lossy, lossless;
    lossy.levels = 4;
    lossless.levels = 4;
    lossless.reversible = true;
    struct Row
    {
        Case c;
        const memory_image *image;
    };
    std::vector<Row> rows;
    for (int levels = 0; levels <= 8; ++levels) {
        rows.push_back(
            {{"levels lossy", with(lossy, [&](CodecSettings &s) { s.levels = levels; }), {}, 1.0}, &large});
        rows.push_back(
            {{"levels lossless", with(lossless, [&](CodecSettings &s) { s.levels = levels; }), {}, 0},
             &large});
    }
    for (const char *blk : {"4", "8", "16", "32", "64", "16x64", "64x16", "4x1024"})
        rows.push_back({{blk, lossy, {"-Cblk", blk}, 1.5}, &odd});
    rows.push_back({{"60 layers", lossy, {"-Clayers"}, 2.0}, &odd});
    rows.push_back({{"given layers", lossy, {"-Clayers", "0.2", "+3", "1.0"}, 2.0}, &odd});
    rows.push_back({{"layers lossless", lossless, {"-Clayers", "0.5", "+2"}, 0}, &odd});
    for (int tile : {16, 32, 64, 128}) {
        rows.push_back({{"tiles",
                         with(lossy, [&](CodecSettings &s) { s.tile_height = s.tile_width = tile; }),
                         {"-Cblk", "16"},
                         1.0},
                        &odd});
        rows.push_back({{"tiles lossless",
                         with(lossless, [&](CodecSettings &s) { s.tile_height = s.tile_width = tile; }),
                         {},
                         0},
                        &large});
    }
    for (const char *order : {"L", "RL", "RP", "PC", "CP"}) {
        rows.push_back(
            {{order, lossy, {"-Corder", order, "-Clayers", "0.3", "+2", "-Cpp", "64x64", "32x32"}, 2.0},
             &odd});
        rows.push_back({{order,
                         with(lossless, [](CodecSettings &s) { s.tile_height = s.tile_width = 64; }),
                         {"-Corder", order, "-Clayers", "0.5", "+1", "-Cpp", "32x32", "-Cblk", "16"},
                         0,
                         3},
                        &colour});
    }
    rows.push_back({{"order change",
                     lossy,
                     {"-Corder", "RL", "0", "0", "2", "3", "1", "L", "-Clayers", "0.3", "+2"},
                     2.0},
                    &odd});
    rows.push_back(
        {{"precincts", lossy, {"-Cpp", "128x128", "64x64", "32x32", "16x16", "-Cblk", "32"}, 1.0}, &large});
    rows.push_back({{"precincts tall", lossy, {"-Cpp", "64x128", "-Cblk", "64"}, 1.0}, &large});
    rows.push_back({{"SOP", lossy, {"-Bresync"}, 1.0}, &odd});
    rows.push_back({{"EPH", lossy, {"-Beph", "-Clayers", "0.2", "+2"}, 1.0}, &odd});
    rows.push_back({{"SOP EPH tiles",
                     with(lossy, [](CodecSettings &s) { s.tile_height = s.tile_width = 64; }),
                     {"-Bresync", "-Beph", "-Cpp", "32x32"},
                     1.0},
                    &odd});
    rows.push_back({{"causal", lossy, {"-Ccausal"}, 1.0}, &odd});
    rows.push_back({{"scan buffer",
                     lossy,
                     {"-Corder", "PC", "-Cpp", "128x128", "64x64", "32x32", "16x16", "8x8",
                      "-Cscan_buffer_elements", "2"},
                     1.0},
                    &odd});
    rows.push_back({{"scan buffer tiles",
                     with(lossy, [](CodecSettings &s) { s.tile_height = s.tile_width = 64; }),
                     {"-Cscan_buffer_bytes", "800", "-Clayers", "0.3", "+1"},
                     1.0},
                    &odd});
    rows.push_back({{"reverse tiles",
                     with(lossy, [](CodecSettings &s) { s.tile_height = s.tile_width = 48; }),
                     {"-Creverse_tiles", "-Comit_tile_length"},
                     1.0},
                    &odd});
    rows.push_back({{"segmark", lossy, {"-Csegmark"}, 1.0}, &odd});
    rows.push_back({{"causal segmark lossless", lossless, {"-Ccausal", "-Csegmark"}, 0}, &odd});
    for (double bpp : {0.25, 0.5, 1.0, 2.0, 3.0})
        rows.push_back({{"rate", lossy, {}, bpp}, &large});
    rows.push_back({{"three components", lossy, {"-Cblk", "32"}, 2.0, 3}, &colour});
    rows.push_back({{"YCbCr", lossy, {"-Mycc"}, 2.0, 3}, &colour});
    rows.push_back({{"RCT", lossless, {"-Mycc"}, 0, 3}, &colour});
    rows.push_back({{"max-shift region",
                     lossy,
                     {"-Rrgn", "20", "R", "0.2", "0.2", "0.5", "0.5", "-Rmax_shift"},
                     1.0,
                     1,
                     0.9},
                    &odd});
    rows.push_back(
        {{"max-shift circle lossless", lossless, {"-Rrgn", "14", "C", "0.5", "0.5", "0.3", "-Rmax_shift"}, 0},
         &odd});
    rows.push_back({{"three components lossless", lossless, {}, 0, 3}, &colour});
    for (const Row &r : rows) {
        SCOPED_TRACE(r.c.name);
        CheckAgainstOpj(*r.image, r.c);
    }
}

namespace {
// An opj_compress stream of `image` with `options`, converted to our layout, through our decoder;
// compared with opj_decompress on the original stream.
void CheckOpjStream(const memory_image &image, const std::string &options, bool reversible)
{
    SCOPED_TRACE(options);
    zntest::ScratchDir dir;
    const std::string src = dir.File("src.pgm"), standard = dir.File("opj.j2k"), ours = dir.File("ours.j2k");
    ASSERT_TRUE(j2ktest::WritePnm(src, image));
    std::string log;
    ASSERT_EQ(zntest::Run("opj_compress -i " + zntest::ShellQuote(src) + " -o " +
                              zntest::ShellQuote(standard) + " " + options + " 2>&1",
                          &log),
              0)
        << log;
    auto raw = zntest::ReadFileBytes(standard);
    std::vector<uint8_t> bytes(raw.begin(), raw.end());
    ASSERT_TRUE(j2ktest::ConvertHeaders(bytes, j2ktest::HeaderLayout::Ours));
    zntest::WriteFileBytes(ours, std::vector<unsigned char>(bytes.begin(), bytes.end()));
    auto decoded = j2ktest::DecodeImage(ours);
    memory_image theirs;
    theirs.add_component(1, 1);
    ASSERT_EQ(zntest::Run("opj_decompress -i " + zntest::ShellQuote(standard) + " -o " +
                              zntest::ShellQuote(dir.File("opj.pgm")) + " 2>&1",
                          &log),
              0)
        << log;
    ASSERT_TRUE(j2ktest::ReadPnm(dir.File("opj.pgm"), theirs));
    ASSERT_EQ(decoded.heights, theirs.heights);
    ASSERT_EQ(decoded.widths, theirs.widths);
    if (reversible) {
        EXPECT_EQ(j2ktest::MaxDifference(decoded, theirs), 0);
    } else {
        EXPECT_LE(j2ktest::MaxDifference(decoded, theirs), 2);
        EXPECT_GE(j2ktest::Psnr(decoded, theirs), 50.0);
    }
}
} // namespace

TEST(J2kCodecOracle, OpenJpegStreamsDecodeAlikeInOurDecoder)
{
    ZN_REQUIRE_TOOL("opj_compress");
    ZN_REQUIRE_TOOL("opj_decompress");
    auto image = Synthetic(131, 157, 1, 11);
    const struct
    {
        const char *options;
        bool reversible;
    } cases[] = {
        {"", true},
        {"-r 40,20,10", true},
        {"-I", false},
        {"-I -r 60,30,12,5", false},
        {"-n 2", true},
        {"-n 7 -I -r 10", false},
        {"-b 16,16", true},
        {"-b 64,16 -I -r 8", false},
        {"-b 4,4", true},
        {"-p LRCP -r 30,10", true},
        {"-p RLCP -r 30,10", true},
        {"-p RPCL -r 30,10 -c [64,64],[32,32]", true},
        {"-p PCRL -I -r 30,10 -c [64,64],[32,32]", false},
        {"-p CPRL -r 30,10 -c [32,32]", true},
        {"-c [128,128],[64,64],[32,32]", true},
        {"-t 64,64", true},
        {"-t 100,60 -I -r 12", false},
        {"-t 32,32 -p RPCL -r 20,5", true},
        {"-SOP", true},
        {"-EPH -r 30,10", true},
        {"-SOP -EPH -I -r 20", false},
    };
    for (const auto &c : cases)
        CheckOpjStream(image, c.options, c.reversible);
}

namespace {
// The main header's coding style of a standard code-stream: whether its transform is reversible and
// whether its code-blocks carry several segments per packet (bypass or termination on every pass),
// which only our own layout can say where they end.
struct StandardStyle
{
    bool found = false, reversible = false, multi_segment = false;
};

StandardStyle MainCodingStyle(const std::vector<unsigned char> &b)
{
    StandardStyle style;
    size_t at = 2; // after SOC
    while (at + 4 <= b.size() && b[at] == 0xFF && b[at + 1] != 0x90) {
        const size_t length = size_t(b[at + 2]) << 8 | b[at + 3];
        if (b[at + 1] == 0x52 && length >= 12 && at + 2 + length <= b.size()) {
            // Scod, progression, layers (2), colour transform, levels, block width, block height,
            // block style, transform.
            const unsigned char block_style = b[at + 12], transform = b[at + 13];
            style.found = true;
            style.reversible = transform == 1;
            style.multi_segment = (block_style & 0x05) != 0;
        }
        at += 2 + length;
    }
    return style;
}
} // namespace

TEST(J2kCodecOracle, CorpusFilesDecodeAlikeInBothDecoders)
{
    // Standard code-streams from $ZANTHO_CORPUS/j2k, converted to our layout: our decoder must agree
    // with opj_decompress under the same rule; streams our decoder does not take end with a message.
    const auto files = zntest::CorpusFiles("j2k");
    int checked = 0;
    zn::MessageRecorder quiet;
    for (const std::string &path : files) {
        SCOPED_TRACE(path);
        auto raw = zntest::ReadFileBytes(path);
        const StandardStyle style = MainCodingStyle(raw);
        std::vector<uint8_t> bytes(raw.begin(), raw.end());
        if (!j2ktest::ConvertHeaders(bytes, j2ktest::HeaderLayout::Ours))
            continue;
        zntest::ScratchDir dir;
        memory_image ours;
        try {
            j2ktest::DecodeOptions o;
            o.max_pixels = 1 << 24;
            o.max_components = 4;
            ours = j2ktest::DecodeBytes(bytes, o);
        } catch (const zn::RunAborted &) {
            continue;
        }
        ++checked;
        // Several segments per packet: decoding without a crash is all that is asked.
        if (style.multi_segment || (ours.components() != 1 && ours.components() != 3))
            continue;
        memory_image theirs;
        const std::string pnm = dir.File(ours.components() == 3 ? "t.ppm" : "t.pgm");
        std::string log;
        if (zntest::Run("opj_decompress -i " + zntest::ShellQuote(path) + " -o " + zntest::ShellQuote(pnm) +
                            " 2>&1",
                        &log) != 0 ||
            !j2ktest::ReadPnm(pnm, theirs))
            continue;
        if (style.found && style.reversible) {
            EXPECT_EQ(j2ktest::MaxDifference(ours, theirs), 0);
        } else {
            EXPECT_LE(j2ktest::MaxDifference(ours, theirs), 2);
            EXPECT_GE(j2ktest::Psnr(ours, theirs), 50.0);
        }
    }
    std::printf("corpus: %d files checked\n", checked);
}

} // namespace codec_oracle_test
