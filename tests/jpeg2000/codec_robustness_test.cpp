// Damaged code-streams: every cut (each 97 bytes) and random bit flips in our streams and in
// OpenJPEG's decode to a picture or end the run with a message; nothing crashes or hangs.
#include "jpeg2000/support/j2k_header_convert.h"
#include "jpeg2000/support/pnm_files.h"
#include "jpeg2000/support/test_codec.h"

#include "platform/errors.h"
#include "platform/messages.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace codec_robustness_test { // one namespace per test file: a folder compiles as one source

using namespace zn::j2k;

namespace {
memory_image Picture(int height, int width, int components)
{
    memory_image image;
    for (int c = 0; c < components; ++c) {
        image.add_component(height, width);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                image.planes[size_t(c)][size_t(y) * size_t(width) + size_t(x)] =
                    int(128 + 100 * std::sin(0.1 * x + c) * std::cos(0.07 * y)) & 255;
    }
    return image;
}

// Decodes; true when a picture came out, false when the run ended with its message.
bool Survives(const std::vector<uint8_t> &bytes)
{
    j2ktest::DecodeOptions o;
    o.max_pixels = 1 << 20;
    o.max_components = 4;
    try {
        j2ktest::DecodeBytes(bytes, o);
        return true;
    } catch (const zn::RunAborted &) {
        return false;
    }
}

std::vector<std::vector<uint8_t>> Streams(const zntest::ScratchDir &dir)
{
    std::vector<std::vector<uint8_t>> streams;
    auto image = Picture(70, 90, 1);
    j2ktest::CodecSettings s;
    s.levels = 3;
    streams.push_back(j2ktest::EncodeImage(
        image, s, {"-Clayers", "0.3", "+3", "-Cblk", "16", "-Bresync", "-Beph"}, 3000, dir.File("a.j2k")));
    s.tile_height = s.tile_width = 32;
    streams.push_back(
        j2ktest::EncodeImage(image, s, {"-Clazy", "-Csegmark", "-Cer_term", "-Corder", "PC", "-Cpp", "16x16"},
                             2000, dir.File("b.j2k")));
    s = {};
    s.reversible = true;
    streams.push_back(j2ktest::EncodeImage(Picture(40, 50, 3), s, {"-Cparallel"}, 0, dir.File("c.j2k")));
    if (zntest::HaveTool("opj_compress")) {
        j2ktest::WritePnm(dir.File("src.pgm"), image);
        zntest::Run("opj_compress -i " + dir.File("src.pgm") + " -o " + dir.File("o.j2k") +
                    " -r 20,5 -SOP -EPH -t 40,40 > /dev/null 2>&1");
        auto raw = zntest::ReadFileBytes(dir.File("o.j2k"));
        std::vector<uint8_t> o(raw.begin(), raw.end());
        if (j2ktest::ConvertHeaders(o, j2ktest::HeaderLayout::Ours))
            streams.push_back(o);
    }
    return streams;
}
} // namespace

TEST(J2kCodecRobustness, StreamsCutEveryNinetySevenBytes)
{
    zntest::ScratchDir dir;
    zn::MessageRecorder quiet;
    int decoded = 0, refused = 0;
    for (const auto &stream : Streams(dir)) {
        ASSERT_TRUE(Survives(stream));
        for (size_t cut = 0; cut < stream.size(); cut += 97)
            (Survives(std::vector<uint8_t>(stream.begin(), stream.begin() + cut)) ? decoded : refused)++;
    }
    EXPECT_GT(decoded, 0);
    EXPECT_GT(refused, 0) << "a stream cut inside its main header has no picture";
}

TEST(J2kCodecRobustness, StreamsWithFlippedBits)
{
    zntest::ScratchDir dir;
    zn::MessageRecorder quiet;
    std::mt19937 rng(97);
    for (const auto &stream : Streams(dir))
        for (int trial = 0; trial < 60; ++trial) {
            auto damaged = stream;
            const int flips = 1 + int(rng() % 4);
            for (int k = 0; k < flips; ++k)
                damaged[rng() % damaged.size()] ^= uint8_t(1u << (rng() % 8));
            Survives(damaged);
        }
}

} // namespace codec_robustness_test
