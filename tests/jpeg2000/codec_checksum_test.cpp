// Pinned outputs of the whole codec: a table of option sets (kernels, levels, tiles, origins,
// reversible and not, decomposition structures, SSO-DWT frames, masking, regions of interest, the
// trellis quantiser), each with the checksum of the code-stream it writes and of the picture decoded
// from it. A rework of the transform or of the masks must leave every row as it is. When a row
// changes on purpose, the failure prints the row's new checksums to pin.
#include "jpeg2000/support/test_codec.h"

#include "platform/messages.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace codec_checksum_test { // one namespace per test file: a folder compiles as one source

using namespace zn::j2k;
using j2ktest::CodecSettings;

namespace {

// Integer-only picture so the pins hold on any machine: a ramp, a disc, a sharp edge, a grating and
// a hashed noise, clamped to 8 bits. Component c shifts the pattern.
memory_image Picture(int height, int width, int components = 1)
{
    memory_image image;
    for (int c = 0; c < components; ++c) {
        image.add_component(height, width);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const int dx = x - width / 3, dy = y - height / 2;
                int v = 40 + (x * 90) / std::max(width, 1) + (y * 50) / std::max(height, 1);
                if (dx * dx + dy * dy < (height * height) / 12)
                    v += 60;
                if (x > (2 * width) / 3 + c)
                    v -= 45;
                if (y > height / 2 && ((x + 2 * y) / 3) % 4 < 2)
                    v += 25;
                uint32_t h = uint32_t(x) * 73856093u ^ uint32_t(y) * 19349663u ^ uint32_t(c) * 83492791u;
                h = (h ^ (h >> 13)) * 0x5bd1e995u;
                v += int((h >> 24) % 11) - 5;
                image.planes[size_t(c)][size_t(y) * size_t(width) + size_t(x)] = std::clamp(v, 0, 255);
            }
    }
    return image;
}

uint64_t Fnv(uint64_t h, const void *data, size_t n)
{
    const auto *p = static_cast<const uint8_t *>(data);
    for (size_t i = 0; i < n; ++i)
        h = (h ^ p[i]) * 0x100000001b3ull;
    return h;
}

uint64_t PictureSum(const memory_image &m)
{
    uint64_t h = 0xcbf29ce484222325ull;
    for (size_t c = 0; c < m.planes.size(); ++c) {
        const int32_t dims[2] = {m.heights[c], m.widths[c]};
        h = Fnv(h, dims, sizeof dims);
        for (int32_t v : m.planes[c]) {
            const uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
            h = Fnv(h, b, 4);
        }
    }
    return h;
}

// User-defined lifting kernels in a kernel folder: three two-tap steps, one-tap steps (an
// even-length pair of filters) and a pair of four-tap steps.
void WriteKernels(const std::string &dir)
{
    std::filesystem::create_directories(dir + "float_lifting");
    std::filesystem::create_directories(dir + "int_lifting");
    std::ofstream(dir + "float_lifting/kernel-007") << "2 2 2\n-0.5 -0.5\n0.25 0.25\n0.3 0.1\n";
    std::ofstream(dir + "float_lifting/kernel-008") << "1 1\n-1\n0.5\n";
    std::ofstream(dir + "float_lifting/kernel-009")
        << "4 4\n0.0625 -0.5625 -0.5625 0.0625\n-0.03125 0.28125 0.28125 -0.03125\n";
    std::ofstream(dir + "int_lifting/kernel-010") << "4 4\n1 -9 -9 1 4\n-1 9 9 -1 5\n";
}

struct Row
{
    const char *name;
    int rows, cols, components;
    CodecSettings s;
    std::vector<std::string> args;
    int64_t budget; // bytes; 0 lossless
    j2ktest::DecodeOptions decode;
    uint64_t stream, picture;
};

CodecSettings Lossy(int levels, int top = 0, int left = 0, int tile_h = 0, int tile_w = 0)
{
    CodecSettings s;
    s.levels = levels;
    s.top = top;
    s.left = left;
    s.tile_height = tile_h;
    s.tile_width = tile_w;
    return s;
}

CodecSettings Reversible(int levels, int top = 0, int left = 0, int tile_h = 0, int tile_w = 0)
{
    CodecSettings s = Lossy(levels, top, left, tile_h, tile_w);
    s.reversible = true;
    return s;
}

const std::string &KernelDir()
{
    static zntest::ScratchDir dir;
    static bool written = (WriteKernels(dir.Path()), true);
    (void)written;
    return dir.Path();
}

// The pins. The ROI rows and the -Qtcq row were pinned again when each region code-block came to be
// weighted once and no-truncation coding came to keep the byte budget; the whole-plane transform
// gave these same values.
std::vector<Row> Rows()
{
    const std::string k = KernelDir();
    j2ktest::DecodeOptions plain, discard1, discard2, cut;
    discard1.discard_levels = 1;
    discard2.discard_levels = 2;
    cut.truncation = 700;
    // clang-format off
    return {
        {"9x7, 5 levels", 97, 113, 1, Lossy(5), {"-Cblk", "32"}, 1400, plain,
         0xbfd3e24a99f02bb0ull, 0x7c82393db14f13b8ull},
        {"9x7, no level", 40, 37, 1, Lossy(0), {"-Cblk", "16"}, 500, plain,
         0xab4bda82400a6eaull, 0x5d6783f557c6bc84ull},
        {"9x7, 1 level, odd origin", 61, 58, 1, Lossy(1, 3, 5), {"-Cblk", "16"}, 900, plain,
         0x7e2f723aa466da35ull, 0xb6ed9508e2df8a9ull},
        {"9x7, 6 levels, tall", 150, 23, 1, Lossy(6, 1, 0), {"-Cblk", "16"}, 800, plain,
         0x39a048c69e4b72b1ull, 0x3a2994c0cc2e5e5eull},
        {"9x7, 3 levels, tiles", 90, 100, 1, Lossy(3, 0, 0, 40, 48), {"-Cblk", "16"}, 1600, plain,
         0xc55c6a2ead8364b1ull, 0xbdc8ff51e31de6ebull},
        {"9x7, tiles, odd origin", 75, 81, 1, Lossy(2, 7, 3, 32, 32), {"-Cblk", "16"}, 1200, plain,
         0xee5b15697fd20b15ull, 0x7b965f6c8376cd4ull},
        {"9x7, one row", 1, 57, 1, Lossy(3), {}, 600, plain,
         0xfe8ac46a011818cbull, 0xa7f44026c1d749ccull},
        {"9x7, one column", 45, 1, 1, Lossy(3, 1, 1), {}, 600, plain,
         0xf0ae1c52061923fbull, 0x2e3f347d287e4595ull},
        {"9x7, layers and a cut", 80, 80, 1, Lossy(4), {"-Clayers", "-Cblk", "16"}, 3000, cut,
         0x85db0e01c0a22801ull, 0x519ac76420ab57a6ull},
        {"9x7, two levels discarded", 88, 92, 1, Lossy(4), {"-Cblk", "32"}, 2000, discard2,
         0xe5125dec221dbbe5ull, 0x43fa860011b823b8ull},
        {"9x7 by convolution", 70, 66, 1, Lossy(3, 1, 2), {"-Fconv", "-Cblk", "16"}, 1000, plain,
         0x8b7f9652e0b589fbull, 0x1a6720d58b6c98d4ull},
        {"9x7 by convolution, PSE", 64, 60, 1, Lossy(3), {"-Fconv", "-XpsExt"}, 1000, plain,
         0xfcd60c107f50b7eull, 0x35c19ee8d190d833ull},
        {"PSE, odd height", 63, 58, 1, Lossy(2), {"-Fconv", "-XpsExt"}, 900, plain,
         0x65ff61b62146a5a4ull, 0x14725adc67781e85ull},
        {"5x3 float", 66, 71, 1, Lossy(3, 2, 1), {"-Fkernels", "W5X3"}, 900, plain,
         0xc775b72eba050a6cull, 0x4855db284e3272d1ull},
        {"5x3 float by convolution", 66, 71, 1, Lossy(3), {"-Fconv", "-Fkernels", "W5X3"}, 900, plain,
         0xc3d6bcbdfc4345edull, 0xa110c67f2cddeaa0ull},
        {"mixed kernels", 70, 70, 1, Lossy(3), {"-Fkernels", "W5X3,W9X7", "W9X7,W5X3", "W9X7"}, 1000, plain,
         0xf62147c400b0f61dull, 0x575f043a2d809df6ull},
        {"user kernel, three steps", 64, 70, 1, Lossy(3, 1, 1), {"-Fdir", k, "-Fkernels", "7"}, 900, plain,
         0x9233445abdd6eb3full, 0xdf4df0d6fb3b5e29ull},
        {"user kernel, one-tap steps", 64, 64, 1, Lossy(3), {"-Fdir", k, "-Fkernels", "8"}, 900, plain,
         0x80019550fa810edeull, 0xc8d074047f81bafdull},
        {"user kernel, four-tap steps", 67, 62, 1, Lossy(3, 0, 1), {"-Fdir", k, "-Fkernels", "9"}, 900, plain,
         0xbd51e374926135e1ull, 0x3666be9027570b13ull},
        {"user integer kernel, lossless", 53, 61, 1, Reversible(3, 1, 0),
         {"-Fdir", k, "-Fkernels", "10"}, 0, plain,
         0xc72f776d76c3f05dull, 0xc51e41de6de49e0eull},
        {"5x3 lossless", 97, 113, 1, Reversible(5), {"-Cblk", "32"}, 0, plain,
         0xe97b3dfeac70caaaull, 0x8c890cce0973dbe6ull},
        {"5x3 lossless, tiles", 100, 90, 1, Reversible(3, 3, 1, 32, 48), {"-Cblk", "16"}, 0, plain,
         0x3d827996630eeba4ull, 0x2acc764f3da087d8ull},
        {"5x3 lossy, one level discarded", 80, 77, 1, Reversible(3), {}, 1500, discard1,
         0xfd4ed35f19869b5bull, 0xcae3135bffd01eb0ull},
        {"5x3, decomposition 3211", 72, 80, 1, Reversible(4), {"-Fdecomp", "3211"}, 0, plain,
         0xbdc451c8c4a4b3f5ull, 0xe43b2f12b350d99cull},
        {"9x7, decomposition spacl", 64, 64, 1, Lossy(3), {"-Fdecomp", "spacl"}, 900, plain,
         0x532cae63b8d21341ull, 0x2ed186765607dcdcull},
        {"9x7, decomposition 22", 64, 64, 1, Lossy(2), {"-Fdecomp", "22"}, 900, plain,
         0x2c0facef8036dbf1ull, 0x1b916aab5e0ae966ull},
        {"5x3, frames", 64, 64, 1, Reversible(3), {"-Fframes", "16", "16", "3", "3"}, 0, plain,
         0x1c49a49437493da3ull, 0x7834af94ffea7b05ull},
        {"9x7, frames and anchors", 57, 43, 1, Lossy(2),
         {"-Fframes", "8", "4", "2", "1", "-Fanchor", "1", "1"}, 900, plain,
         0x884f4a8e63715311ull, 0x5dbd10acee70ff1cull},
        {"9x7, frames, odd origin", 57, 43, 1, Lossy(2, 3, 1), {"-Fframes", "8", "8", "2", "2"}, 900, plain,
         0x839839f638ff619dull, 0x760fcb7b320b1bfbull},
        {"5x3, SSO extension", 40, 41, 1, Reversible(3), {"-Xsso_ext"}, 0, plain,
         0x90a57bd5b565b750ull, 0x868b94c9d1f5fd3dull},
        {"9x7, SSO extension and frames", 40, 40, 1, Lossy(3),
         {"-Xsso_ext", "-Fframes", "8", "8", "3", "3"}, 700, plain,
         0x6f6330e399a4da0aull, 0x9e992c26d53288d3ull},
        {"user kernel, frames", 48, 48, 1, Lossy(2),
         {"-Fdir", k, "-Fkernels", "9", "-Fframes", "8", "8", "2", "2"}, 700, plain,
         0xac067bc3134c8fa9ull, 0x8b4f7e57d1ad60d3ull},
        {"overlapping tiles", 70, 70, 1, Reversible(2, 0, 0, 32, 32), {"-Fovlp", "TBLR"}, 0, plain,
         0xdb2b8a98ecbef89cull, 0x3d342167709b53a8ull},
        {"visual masking", 64, 64, 1, Lossy(3), {"-Xmask", "0.7", "0.3"}, 1000, plain,
         0xdef1e89fe61208efull, 0x9685f131ab7e5182ull},
        {"colour, YCbCr", 48, 56, 3, Lossy(3), {"-Mycc"}, 2500, plain,
         0xd76d9d4b67ea7004ull, 0xcab9f16470c4f903ull},
        {"colour, RCT lossless", 48, 56, 3, Reversible(3), {"-Mycc"}, 0, plain,
         0xf619af1d048edb4cull, 0xb8d5859906023a56ull},
        {"scan buffer", 96, 96, 1, Lossy(3),
         {"-Corder", "PC", "-Cpp", "64x64", "32x32", "16x16", "8x8", "-Cscan_buffer_elements", "2"}, 2000, plain,
         0x2f148428165fcacaull, 0x5d638eb3c9aabd99ull},
        {"ROI rectangle", 96, 96, 1, Lossy(4),
         {"-Cblk", "16", "-Rrgn", "5", "R", "0.3", "0.25", "0.4", "0.3"}, 1500, plain,
         0x103fa195f6359b99ull, 0x1a74adea4be1a94cull},
        {"ROI circle", 96, 96, 1, Lossy(4),
         {"-Cblk", "16", "-Rrgn", "6", "C", "0.5", "0.5", "0.2"}, 1500, plain,
         0x29a9cf3484373f7cull, 0xe0a792bd63c10918ull},
        {"ROI rectangle, generic masks", 96, 96, 1, Lossy(4),
         {"-Cblk", "16", "-Rno_rect", "-Rrgn", "5", "R", "0.3", "0.25", "0.4", "0.3"}, 1500, plain,
         0x103fa195f6359b99ull, 0x1a74adea4be1a94cull},
        {"ROI two regions, tiles", 90, 96, 1, Lossy(3, 0, 0, 48, 48),
         {"-Cblk", "16", "-Rrgn", "3", "R", "0.1", "0.1", "0.5", "0.5", "7", "C", "0.6", "0.6",
          "0.15"}, 1800, plain,
         0xb9147b931644e128ull, 0x3e6e1238941fe3a4ull},
        {"ROI max-shift", 80, 80, 1, Lossy(3),
         {"-Cblk", "16", "-Rmax_shift", "-Rrgn", "20", "C", "0.5", "0.5", "0.25"}, 1200, plain,
         0x7e53498b0f0b2c3eull, 0xcf67b4714bd670dfull},
        {"ROI lossless", 64, 64, 1, Reversible(3), {"-Rrgn", "4", "R", "0.2", "0.2", "0.5", "0.5"}, 0, plain,
         0x5cf89dcdb4fb3e04ull, 0x7834af94ffea7b05ull},
        {"ROI, level discarded", 80, 80, 1, Lossy(3),
         {"-Cblk", "16", "-Rrgn", "5", "C", "0.4", "0.5", "0.3"}, 1500, discard1,
         0x599bf04708931ba5ull, 0x965c91076702b5dbull},
        {"trellis quantiser", 64, 64, 1, Lossy(3), {"-Qtcq"}, 1500, plain,
         0x90cae16943ebe938ull, 0xc94b8eb2231cf362ull},
    };
    // clang-format on
}

} // namespace

TEST(J2kCodecPins, EveryRowWritesAndDecodesAsPinned)
{
    zntest::ScratchDir dir;
    for (const Row &r : Rows()) {
        zn::MessageRecorder rec; // some options report what they do
        const memory_image image = Picture(r.rows, r.cols, r.components);
        std::vector<uint8_t> bytes;
        memory_image out;
        try {
            bytes = j2ktest::EncodeImage(image, r.s, r.args, r.budget, dir.File("pin.j2k"));
            out = j2ktest::DecodeImage(dir.File("pin.j2k"), r.decode);
        } catch (const std::exception &e) {
            ADD_FAILURE() << "row \"" << r.name << "\" ended: " << e.what();
            continue;
        }
        const uint64_t stream = Fnv(0xcbf29ce484222325ull, bytes.data(), bytes.size());
        const uint64_t picture = PictureSum(out);
        if (stream != r.stream || picture != r.picture)
            ADD_FAILURE() << "row \"" << r.name << "\" now writes 0x" << std::hex << stream
                          << " and decodes 0x" << picture << " (" << std::dec << bytes.size() << " bytes)";
    }
}

} // namespace codec_checksum_test
