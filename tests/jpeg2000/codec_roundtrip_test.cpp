// The whole codec on memory images: lossless round trips are exact, lossy ones stay within their
// budget, and decoding a cut stream equals decoding the stream cut to the same length.
#include "jpeg2000/support/test_codec.h"
#include "jpeg2000/support/tier2_fixture.h"

#include "platform/errors.h"
#include "platform/messages.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace codec_roundtrip_test { // one namespace per test file: a folder compiles as one source

using namespace zn::j2k;
using j2ktest::CodecSettings;

namespace {
// A smooth picture with edges and some texture, 8 bits.
memory_image Picture(int height, int width, int components = 1, unsigned seed = 1)
{
    memory_image image;
    std::mt19937 rng(seed);
    for (int c = 0; c < components; ++c) {
        image.add_component(height, width);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                double v = 128 + 60 * std::sin(x * 0.07 + c) * std::cos(y * 0.05) +
                           (x > width / 2 ? 40 : -20) + int(rng() % 9) - 4;
                image.planes[size_t(c)][size_t(y) * size_t(width) + size_t(x)] =
                    std::clamp(int(std::lround(v)), 0, 255);
            }
    }
    return image;
}
} // namespace

TEST(J2kCodec, ReversibleRoundTripIsExact)
{
    zntest::ScratchDir dir;
    auto image = Picture(67, 45);
    CodecSettings s;
    s.reversible = true;
    s.levels = 3;
    auto bytes = j2ktest::EncodeImage(image, s, {"-Cblk", "16"}, 0, dir.File("a.j2k"));
    ASSERT_GT(bytes.size(), 100u);
    auto out = j2ktest::DecodeImage(dir.File("a.j2k"));
    EXPECT_EQ(out.planes, image.planes);
}

TEST(J2kCodec, LossyStaysWithinBudgetAndImproves)
{
    zntest::ScratchDir dir;
    auto image = Picture(96, 80);
    CodecSettings s;
    s.levels = 4;
    double previous = 0;
    for (int budget : {300, 900, 2500}) {
        auto bytes = j2ktest::EncodeImage(image, s, {"-Cblk", "32"}, budget, dir.File("b.j2k"));
        EXPECT_LE(int(bytes.size()), budget);
        EXPECT_GE(bytes.size(), 2u);
        EXPECT_EQ(bytes[bytes.size() - 2], 0xFF);
        EXPECT_EQ(bytes[bytes.size() - 1], 0xD9);
        auto out = j2ktest::DecodeImage(dir.File("b.j2k"));
        double psnr = j2ktest::Psnr(image, out);
        EXPECT_GT(psnr, previous) << budget;
        previous = psnr;
    }
    EXPECT_GT(previous, 33.0);
}

TEST(J2kCodec, DecodingAtARateEqualsDecodingTheFileCutThere)
{
    zntest::ScratchDir dir;
    auto image = Picture(120, 104);
    CodecSettings s;
    s.levels = 3;
    auto bytes = j2ktest::EncodeImage(image, s, {"-Clayers", "-Cblk", "16"}, 4000, dir.File("full.j2k"));
    for (size_t cut : {size_t(150), size_t(400), size_t(1111), size_t(2500), bytes.size() - 1}) {
        j2ktest::DecodeOptions at_rate;
        at_rate.truncation = int64_t(cut);
        auto a = j2ktest::DecodeImage(dir.File("full.j2k"), at_rate);
        zntest::WriteFileBytes(dir.File("cut.j2k"),
                               std::vector<unsigned char>(bytes.begin(), bytes.begin() + cut));
        auto b = j2ktest::DecodeImage(dir.File("cut.j2k"));
        EXPECT_EQ(a.planes, b.planes) << cut;
    }
}

TEST(J2kCodec, LayersRaiseQualityAcrossTheDecodingRates)
{
    zntest::ScratchDir dir;
    auto image = Picture(128, 128);
    CodecSettings s;
    s.levels = 4;
    j2ktest::EncodeImage(image, s, {"-Clayers", "-Cblk", "32"}, 128 * 128 * 3 / 8, dir.File("l.j2k"));
    double previous = 0;
    for (double rate : {0.1, 0.2, 0.3, 0.5, 1.0, 2.0, 3.0}) {
        j2ktest::DecodeOptions o;
        o.truncation = int64_t(128 * 128 * rate / 8);
        const double psnr = j2ktest::Psnr(image, j2ktest::DecodeImage(dir.File("l.j2k"), o));
        EXPECT_GT(psnr, previous) << rate;
        previous = psnr;
    }
}

TEST(J2kCodec, NoTruncationWritesEveryPass)
{
    zntest::ScratchDir dir;
    auto image = Picture(64, 80);
    CodecSettings rev;
    rev.reversible = true;
    rev.levels = 3;
    // Every pass goes out, layers or not, so a reversible stream is exact within a budget that holds it
    // (a smaller budget cuts the same stream: J2kBudget).
    j2ktest::EncodeImage(image, rev, {"-Cno_trunc"}, 100000, dir.File("a.j2k"));
    EXPECT_EQ(j2ktest::DecodeImage(dir.File("a.j2k")).planes, image.planes);
    j2ktest::EncodeImage(image, rev, {"-Cno_trunc", "-Clayers", "0.5", "+2"}, 100000, dir.File("b.j2k"));
    EXPECT_EQ(j2ktest::DecodeImage(dir.File("b.j2k")).planes, image.planes);
    CodecSettings lossy;
    lossy.levels = 3;
    auto c = j2ktest::EncodeImage(image, lossy, {"-Cno_trunc"}, 50000, dir.File("c.j2k"));
    auto d = j2ktest::EncodeImage(image, lossy, {"-Cno_trunc"}, 90000, dir.File("d.j2k"));
    EXPECT_EQ(c, d);
    EXPECT_GT(j2ktest::Psnr(image, j2ktest::DecodeImage(dir.File("c.j2k"))), 40.0);
}

TEST(J2kCodec, MultiSegmentModesRoundTripAndSurviveDamage)
{
    zntest::ScratchDir dir;
    auto image = Picture(96, 88, 1, 9);
    CodecSettings s;
    s.levels = 3;
    const std::vector<std::vector<std::string>> modes = {
        {"-Clazy"},
        {"-Cparallel"},
        {"-Cer_term"},
        {"-Clazy", "-Cer_term"},
        {"-Csegmark", "-Cer_term"},
        {"-Clazy", "-Cparallel", "-Csegmark", "-Cer_term", "-Ccausal"}};
    for (const auto &mode : modes) {
        std::string name;
        for (const auto &w : mode)
            name += w + " ";
        auto args = mode;
        args.insert(args.end(), {"-Clayers", "0.4", "+2", "-Cblk", "16"});
        auto bytes = j2ktest::EncodeImage(image, s, args, 2500, dir.File("m.j2k"));
        EXPECT_LE(bytes.size(), 2500u) << name;
        auto plain = j2ktest::DecodeImage(dir.File("m.j2k"));
        EXPECT_GT(j2ktest::Psnr(image, plain), 30.0) << name;
        // Error resilience on an intact stream changes nothing.
        j2ktest::DecodeOptions er;
        er.args = {"-Cer", "4"};
        EXPECT_EQ(j2ktest::DecodeImage(dir.File("m.j2k"), er).planes, plain.planes) << name;
        // Damaged body bytes decode without harm to the run; with checks, no worse than without.
        std::mt19937 rng(1);
        auto damaged = bytes;
        for (int k = 0; k < 6; ++k)
            damaged[300 + rng() % (damaged.size() - 400)] ^= uint8_t(1 << (rng() % 8));
        zntest::WriteFileBytes(dir.File("d.j2k"), std::vector<unsigned char>(damaged.begin(), damaged.end()));
        auto without = j2ktest::DecodeImage(dir.File("d.j2k"));
        auto with = j2ktest::DecodeImage(dir.File("d.j2k"), er);
        EXPECT_EQ(with.planes[0].size(), image.planes[0].size()) << name;
        EXPECT_EQ(without.planes[0].size(), image.planes[0].size()) << name;
    }
}

TEST(J2kCodec, DecoderSwitchesGiveTheSameSamples)
{
    zntest::ScratchDir dir;
    auto image = Picture(100, 76, 1, 4);
    CodecSettings s;
    s.levels = 4;
    s.tile_height = s.tile_width = 48;
    j2ktest::EncodeImage(image, s, {"-Clayers", "-Cblk", "16", "-Corder", "RP"}, 2000, dir.File("s.j2k"));
    auto plain = j2ktest::DecodeImage(dir.File("s.j2k"));
    j2ktest::DecodeOptions o;
    o.args = {"-Cno_speedup"};
    EXPECT_EQ(j2ktest::DecodeImage(dir.File("s.j2k"), o).planes, plain.planes);
    zn::MessageRecorder recorder;
    o.args = {"-Ccpu"};
    EXPECT_EQ(j2ktest::DecodeImage(dir.File("s.j2k"), o).planes, plain.planes);
    bool reported = false;
    for (const auto &t : recorder.Texts())
        reported |= t.find(">> CPU time for EBCOT decoder:") != std::string::npos;
    EXPECT_TRUE(reported);
}

TEST(J2kCodec, DiscardedLevelsDecodeSmallerPictures)
{
    zntest::ScratchDir dir;
    auto image = Picture(99, 70);
    CodecSettings s;
    s.levels = 3;
    s.reversible = true;
    j2ktest::EncodeImage(image, s, {"-Cblk", "16"}, 0, dir.File("r.j2k"));
    int32_t all = 0, fewer = 0;
    j2ktest::DecodeImage(dir.File("r.j2k"), {}, &all);
    for (int d = 1; d <= 3; ++d) {
        j2ktest::DecodeOptions o;
        o.discard_levels = d;
        auto out = j2ktest::DecodeImage(dir.File("r.j2k"), o, &fewer);
        EXPECT_EQ(out.heights[0], (99 + (1 << d) - 1) >> d);
        EXPECT_EQ(out.widths[0], (70 + (1 << d) - 1) >> d);
        EXPECT_LT(fewer, all) << "packets of discarded levels cost nothing";
    }
    zn::MessageRecorder recorder;
    j2ktest::DecodeOptions too_many;
    too_many.discard_levels = 4;
    EXPECT_THROW(j2ktest::DecodeImage(dir.File("r.j2k"), too_many), zn::RunAborted);
}

TEST(J2kCodec, ScanBufferWritesWhileThePictureArrives)
{
    zntest::ScratchDir dir;
    auto image = Picture(128, 96, 1, 5);
    CodecSettings s;
    s.levels = 3;
    const int budget = 3000;
    // Position-first packets: each element is a row of precincts of every level.
    auto whole = j2ktest::EncodeImage(image, s, {"-Corder", "PC", "-Cpp", "64x64", "32x32", "16x16", "8x8"},
                                      budget, dir.File("w.j2k"));
    const double reference = j2ktest::Psnr(image, j2ktest::DecodeImage(dir.File("w.j2k")));
    const std::vector<std::vector<std::string>> cases = {
        {"-Corder", "PC", "-Cpp", "64x64", "32x32", "16x16", "8x8", "-Cscan_buffer_elements", "1"},
        {"-Corder", "PC", "-Cpp", "64x64", "32x32", "16x16", "8x8", "-Cscan_buffer_elements", "2", "-Clayers",
         "0.3", "+2"},
        {"-Corder", "PC", "-Cpp", "128x64", "64x32", "32x16", "16x8", "-Cscan_buffer_bytes", "1500", "-Cblk",
         "16"},
    };
    for (const auto &args : cases) {
        zn::MessageRecorder recorder;
        auto bytes = j2ktest::EncodeImage(image, s, args, budget, dir.File("s.j2k"));
        EXPECT_LE(int(bytes.size()), budget) << args[1];
        EXPECT_EQ(bytes[bytes.size() - 1], 0xD9);
        EXPECT_TRUE(recorder.Contains("Reduced Memory Scan Buffer in use:"));
        const double psnr = j2ktest::Psnr(image, j2ktest::DecodeImage(dir.File("s.j2k")));
        EXPECT_GT(psnr, reference - 3.0) << args[1] << " " << args.size();
    }
    // A layer-first order leaves one element in effect: the stream is still whole and decodes.
    auto layer_first = j2ktest::EncodeImage(
        image, s, {"-Cpp", "64x64", "32x32", "16x16", "8x8", "-Cscan_buffer_elements", "1"}, budget,
        dir.File("l.j2k"));
    EXPECT_LE(int(layer_first.size()), budget);
    EXPECT_GT(j2ktest::Psnr(image, j2ktest::DecodeImage(dir.File("l.j2k"))), 15.0);
    // Tiles are elements of their own.
    CodecSettings tiled = s;
    tiled.tile_height = tiled.tile_width = 32;
    j2ktest::EncodeImage(image, tiled, {}, budget, dir.File("tw.j2k"));
    const double tiled_reference = j2ktest::Psnr(image, j2ktest::DecodeImage(dir.File("tw.j2k")));
    auto bytes =
        j2ktest::EncodeImage(image, tiled, {"-Cscan_buffer_elements", "3"}, budget, dir.File("t.j2k"));
    EXPECT_LE(int(bytes.size()), budget);
    EXPECT_GT(j2ktest::Psnr(image, j2ktest::DecodeImage(dir.File("t.j2k"))), tiled_reference - 3.0);
}

TEST(J2kCodec, ScanBufferRefusesPartitionsItCannotFollow)
{
    zntest::ScratchDir dir;
    auto image = Picture(64, 64);
    CodecSettings s;
    s.levels = 2;
    CodecSettings tiled = s;
    tiled.tile_height = tiled.tile_width = 32;
    const struct
    {
        CodecSettings settings;
        std::vector<std::string> args;
        const char *message;
    } cases[] = {
        {s, {"-Cscan_buffer_elements", "2"}, "should be used with either precinct or tiles!"},
        {s, {"-Cscan_buffer_elements", "2", "-Cpp", "32x32"}, "precinct heights which decrease octavely"},
        {s,
         {"-Cscan_buffer_elements", "2", "-Cpp", "32x32", "16x8", "8x4"},
         "precinct widths which either decrease"},
        {tiled, {"-Cscan_buffer_elements", "2", "-Cpp", "16x16"}, "either precincts or tiling, not both!"},
        {s, {"-Cscan_buffer_bytes"}, "requires a parameter to specify the reduced memory buffer size!"},
        {s, {"-Cscan_buffer_elements", "x"}, "Illegal scanner buffer size specifier, \"x\""},
    };
    for (const auto &c : cases) {
        zn::MessageRecorder recorder;
        EXPECT_THROW(j2ktest::EncodeImage(image, c.settings, c.args, 1000, dir.File("r.j2k")), zn::RunAborted)
            << c.message;
        EXPECT_NE(j2ktest::JoinedText(recorder).find(c.message), std::string::npos) << c.message;
    }
}

TEST(J2kCodec, FeaturesOnlyWeReadRoundTrip)
{
    zntest::ScratchDir dir;
    auto image = Picture(96, 112, 1, 6);
    CodecSettings s;
    s.levels = 3;
    const std::string weights = dir.File("weights.txt");
    zntest::WriteFileBytes(weights, std::vector<unsigned char>{'(', '1', ' ', '1', ')', '\n', '1', ' ', '2',
                                                               ' ', '2', ' ', '4', '\n'});
    const struct
    {
        const char *name;
        std::vector<std::string> args;
        int64_t budget;
        double at_least; // dB
    } cases[] = {
        {"TCQ", {"-Qtcq"}, 0, 30.0},
        {"rate allocation", {"-Flra"}, 0, 30.0},
        {"visual masking", {"-Xmask", "0.7", "0.3"}, 2500, 25.0},
        {"masked distortion", {"-Cvis", "0.5"}, 2500, 25.0},
        {"progressive weights",
         {"-Clayers", "0.2", "+2", "-Cvpw", "0.3", weights, "0.8", weights},
         2500,
         28.0},
        {"no truncation", {"-Cno_trunc"}, 0, 30.0},
        {"blocks within cells", {"-Fframes", "32", "32", "2", "2", "-Cframes"}, 2500, 28.0},
    };
    for (const auto &c : cases) {
        auto bytes = j2ktest::EncodeImage(image, s, c.args, c.budget, dir.File("f.j2k"));
        if (c.budget > 0) {
            EXPECT_LE(int64_t(bytes.size()), c.budget) << c.name;
        }
        EXPECT_GT(j2ktest::Psnr(image, j2ktest::DecodeImage(dir.File("f.j2k"))), c.at_least) << c.name;
    }
}

TEST(J2kCodec, RegionOfInterestBeatsTheBackgroundAtALowRate)
{
    zntest::ScratchDir dir;
    auto image = Picture(128, 128, 1, 2);
    CodecSettings s;
    s.levels = 3;
    auto region_error = [&](const memory_image &out, bool inside) {
        double sum = 0;
        int n = 0;
        for (int y = 0; y < 128; ++y)
            for (int x = 0; x < 128; ++x) {
                const bool in = y >= 32 && y < 96 && x >= 32 && x < 96;
                if (in != inside)
                    continue;
                const double d = out.planes[0][size_t(y * 128 + x)] - image.planes[0][size_t(y * 128 + x)];
                sum += d * d;
                ++n;
            }
        return sum / n;
    };
    for (const std::vector<std::string> &roi :
         {std::vector<std::string>{"-Rrgn", "12", "R", "0.25", "0.25", "0.5", "0.5"},
          std::vector<std::string>{"-Rrgn", "12", "C", "0.5", "0.5", "0.25"}}) {
        j2ktest::EncodeImage(image, s, roi, 700, dir.File("r.j2k"));
        auto out = j2ktest::DecodeImage(dir.File("r.j2k"));
        EXPECT_LT(region_error(out, true), region_error(out, false) / 2) << roi[2];
    }
}

} // namespace codec_roundtrip_test
