// The byte budget: whatever the options (layers, no truncation, trellis quantisation, rate allocation,
// regions, tiles, markers, comments), the code-stream file never grows beyond the budget, and a
// stream cut by it still decodes.
#include "jpeg2000/support/test_codec.h"
#include "jpeg2000/support/tier2_fixture.h"

#include "platform/errors.h"
#include "platform/messages.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace codec_budget_test { // one namespace per test file: a folder compiles as one source

using namespace zn::j2k;
using j2ktest::CodecSettings;

namespace {
memory_image Picture(int height, int width, unsigned seed)
{
    memory_image image;
    image.add_component(height, width);
    std::mt19937 rng(seed);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            double v = 128 + 60 * std::sin(x * 0.11) * std::cos(y * 0.07) + ((x / 9 + y / 7) % 2) * 25 +
                       int(rng() % 15) - 7;
            image.planes[0][size_t(y) * size_t(width) + size_t(x)] = std::clamp(int(std::lround(v)), 0, 255);
        }
    return image;
}
} // namespace

// No-truncation mode (and the trellis quantiser, and rate allocation, which imply it) lifted the
// writer's budget, so a 0.5 bpp request could write a file many times that size.
TEST(J2kBudget, NoOptionSetWritesBeyondTheBudget)
{
    zntest::ScratchDir dir;
    const memory_image image = Picture(96, 112, 4);
    const std::string weights = dir.File("weights.txt");
    zntest::WriteFileBytes(weights, std::vector<unsigned char>{'(', '1', ' ', '1', ')', '\n', '1', ' ', '2',
                                                               ' ', '2', ' ', '4', '\n'});
    CodecSettings lossy, lossless, tiled;
    lossy.levels = 3;
    lossless.levels = 3;
    lossless.reversible = true;
    tiled.levels = 2;
    tiled.tile_height = tiled.tile_width = 48;
    const std::string comment(400, 'c');
    const struct
    {
        const char *name;
        const CodecSettings *settings;
        std::vector<std::string> args;
    } sets[] = {
        {"plain", &lossy, {"-Cblk", "32", "-Bresync", "N"}},
        {"lossless", &lossless, {}},
        {"60 layers", &lossy, {"-Clayers"}},
        {"given layers", &lossy, {"-Clayers", "0.2", "+2", "0.6"}},
        {"no truncation", &lossy, {"-Cno_trunc"}},
        {"no truncation lossless", &lossless, {"-Cno_trunc", "-Clayers", "0.5", "+2"}},
        {"trellis", &lossy, {"-Qtcq"}},
        {"rate allocation", &lossy, {"-Flra"}},
        {"rate allocation off", &lossy, {"-Flra", "-Fno_lra"}},
        {"visual masking", &lossy, {"-Cvis", "0.5"}},
        {"masking nonlinearity", &lossy, {"-Xmask", "0.7", "0.3"}},
        {"progressive weights", &lossy, {"-Clayers", "0.2", "+2", "-Cvpw", "0.3", weights, "0.8", weights}},
        {"tiles", &tiled, {"-Comit_tile_length"}},
        {"tiles no truncation", &tiled, {"-Cno_trunc", "-Creverse_tiles"}},
        {"scan buffer", &tiled, {"-Cscan_buffer_bytes", "400", "-Clayers", "0.3", "+1"}},
        {"markers", &lossy, {"-Bresync", "-Beph", "-Clayers", "0.2", "+2"}},
        {"coder modes", &lossy, {"-Clazy", "-Cer_term", "-Csegmark"}},
        {"parallel no truncation", &lossy, {"-Cparallel", "-Cno_trunc"}},
        {"region", &lossy, {"-Rrgn", "5", "C", "0.5", "0.5", "0.2"}},
        {"max-shift", &lossy, {"-Rmax_shift", "-Rrgn", "20", "R", "0.2", "0.2", "0.5", "0.5"}},
        {"region no truncation", &lossy, {"-Cno_trunc", "-Rrgn", "5", "R", "0.2", "0.2", "0.5", "0.5"}},
        {"long comment", &lossy, {"-Bcomment", comment}},
    };
    zn::MessageRecorder recorder;
    const std::string path = dir.File("b.j2k");
    for (const auto &set : sets)
        for (int64_t budget : {40, 250, 1344, 4000}) { // 1344 bytes: 1 bpp
            SCOPED_TRACE(std::string(set.name) + " at " + std::to_string(budget));
            std::remove(path.c_str());
            bool finished = true;
            try {
                j2ktest::EncodeImage(image, *set.settings, set.args, budget, path);
            } catch (const zn::RunAborted &) {
                finished = false; // a budget below the headers may be refused; the file still obeys it
            }
            const auto bytes = zntest::ReadFileBytes(path);
            EXPECT_LE(int64_t(bytes.size()), budget);
            if (budget >= 1344) {
                ASSERT_TRUE(finished) << j2ktest::JoinedText(recorder);
                // Spent, not merely respected.
                EXPECT_GE(int64_t(bytes.size()), budget / 2);
            }
            if (budget >= 1344) {
                const memory_image out = j2ktest::DecodeImage(path);
                EXPECT_EQ(out.heights, image.heights);
            }
        }
}

// Without truncation the layers do not depend on the budget: a smaller budget gives the same stream
// cut at the budget's byte.
TEST(J2kBudget, NoTruncationCutsTheSameStreamAtTheBudget)
{
    zntest::ScratchDir dir;
    const memory_image image = Picture(64, 80, 7);
    CodecSettings rev, lossy;
    rev.reversible = true;
    rev.levels = 3;
    lossy.levels = 3;
    for (const auto *s : {&rev, &lossy}) {
        SCOPED_TRACE(s->reversible ? "reversible" : "lossy");
        const auto whole = j2ktest::EncodeImage(image, *s, {"-Cno_trunc"}, 100000, dir.File("w.j2k"));
        ASSERT_LT(whole.size(), 100000u);
        ASSERT_GT(whole.size(), 1200u);
        if (s->reversible) {
            EXPECT_EQ(j2ktest::DecodeImage(dir.File("w.j2k")).planes, image.planes);
        } else {
            EXPECT_GT(j2ktest::Psnr(image, j2ktest::DecodeImage(dir.File("w.j2k"))), 40.0);
        }
        double previous = 0;
        for (int64_t budget : {300, 600, 1200}) {
            const auto cut = j2ktest::EncodeImage(image, *s, {"-Cno_trunc"}, budget, dir.File("c.j2k"));
            ASSERT_EQ(int64_t(cut.size()), budget);
            EXPECT_TRUE(std::equal(cut.begin(), cut.end(), whole.begin())) << budget;
            const double psnr = j2ktest::Psnr(image, j2ktest::DecodeImage(dir.File("c.j2k")));
            EXPECT_GT(psnr, previous) << budget;
            previous = psnr;
        }
    }
}

} // namespace codec_budget_test
