// The fractal coder's results pinned by checksum: the code stream and the picture decoded from it,
// over pictures that stress the domain search (texture, noise, flat areas and exactly repeated
// blocks whose domains tie) and settings from the smallest to the largest blocks. Any change to the
// search, its arithmetic or its tie rule shows here, so a faster search must keep every bit.
#include "fic_pixels.h"
#include "image/znimage.h"
#include "modules/fractal/fic_codec.h"
#include "support/photo_image.h"
#include "support/test_support.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <random>
#include <vector>

namespace fic_pinned_test { // one namespace per test file: a folder compiles as one source

namespace {

using fictest::Pixels;

struct Picture
{
    const char *name;
    int cols, rows;
    Pixels pixels;
};

const std::vector<Picture> &Pictures()
{
    static const std::vector<Picture> pictures = [] {
        std::vector<Picture> v;
        v.push_back({"textured", 256, 256, fictest::MakePixels(256, 256, [](int x, int y) {
                         return 30 + x / 2 + y / 3 + ((x / 24 + y / 20) % 2) * 70 + (x * 7 + y * 13) % 19;
                     })});
        // Left half flat; top right a checker of 8 x 8 squares; bottom right one random 16 x 16 tile
        // repeated: many domains with equal sums, classes and errors.
        std::mt19937 rng(11);
        std::vector<int> tile(256);
        for (int &t : tile)
            t = static_cast<int>(rng() & 255);
        v.push_back({"ties", 256, 256, fictest::MakePixels(256, 256, [&tile](int x, int y) {
                         if (x < 128)
                             return 90;
                         if (y < 128)
                             return ((x / 8 + y / 8) % 2) ? 200 : 40;
                         return tile[static_cast<size_t>(y % 16) * 16 + x % 16];
                     })});
        std::mt19937 noise(5);
        v.push_back({"noise", 128, 128, fictest::MakePixels(128, 128, [&noise](int, int) {
                         return static_cast<int>(noise() & 255);
                     })});
        // Extremes: black and white blocks, thin lines, a full-range ramp; 384 columns tile as a
        // square of 256 and a strip of two squares of 128.
        v.push_back({"extremes", 384, 256, fictest::MakePixels(384, 256, [](int x, int y) {
                         if (x >= 256)
                             return (x + y) % 255;
                         if (((x / 32) + (y / 32)) % 3 == 0)
                             return (y % 5 == 0) ? 255 : 0;
                         return ((x / 16) % 2) ? 255 : 0;
                     })});
        return v;
    }();
    return pictures;
}

// Largest and smallest block, rms threshold, scale and offset bits.
const FicEncodeParams kSettings[] = {
    {16, 4, 8, 4, 6}, // the module's defaults
    {32, 2, 2, 8, 8}, {8, 8, 20, 1, 1}, {64, 4, 0, 3, 5}, {16, 2, 12, 5, 7},
};

struct Pinned
{
    uint64_t stream, decoded;
};

Pinned Code(const Pixels &pixels, int cols, int rows, const FicEncodeParams &p)
{
    const std::vector<uint8_t> bytes = FicEncode(pixels.data(), rows, cols, p, nullptr);
    FicCode code;
    EXPECT_EQ(FicParseCode(bytes, rows, cols, &code), "");
    const std::vector<uint8_t> decoded = FicDecodeImage(code, 8);
    return {zntest::Fnv1a(bytes.data(), bytes.size()), zntest::Fnv1a(decoded.data(), decoded.size())};
}

// Checksums of the stream and of the decoded picture, picture by picture and setting by setting.
constexpr Pinned kPinned[4][5] = {
    {{0xd28745d1ffee50f4ull, 0xb7235c2c57e6d818ull},
     {0xfaa8daf470bc08d8ull, 0xeb820fd11a51db5bull},
     {0x732f91fc42f34c5eull, 0x78a2ab5c5cc3bda5ull},
     {0x115e9edc2380f578ull, 0x5d018ba01698a31eull},
     {0xb61d5d30f7606399ull, 0xd58bd74c8bdf2cd1ull}},
    {{0x60467ae34b05f052ull, 0xa00e674739070c25ull},
     {0x2223638909233e65ull, 0xdbe19957f8ce66a5ull},
     {0xf6f7de40dbe1defcull, 0x5b650b5d90346325ull},
     {0x5d3c6944dfbc8588ull, 0x4f6f770bc7a3d925ull},
     {0xf9333b68e82b0e2aull, 0x2b2cd73b7e465825ull}},
    {{0x15f9dc6061eae94cull, 0x1e513e383db6ee75ull},
     {0x92aa2415390a0f74ull, 0x4464f657e7e587beull},
     {0x1e92f13688a6bf1full, 0x49bb6b006ef199e5ull},
     {0x2698fecc08401c40ull, 0xc4e68adef0d552f8ull},
     {0xeb1d7efb2aab2104ull, 0x3614772066e6a167ull}},
    {{0xe545554d9bce4c4full, 0x80818787c34b5619ull},
     {0x732061956384e26eull, 0xe48fe52bb7f64d8bull},
     {0xe98bdc66d954c1aeull, 0xee885a6523ef7125ull},
     {0xec337d4dd03857d5ull, 0xa0a3286d9bf0194dull},
     {0xf7ffab9e72fcdbb7ull, 0xa14b9840ad1ceee5ull}},
};

TEST(FractalPinned, StreamsAndDecodedPicturesKeepTheirChecksums)
{
    const std::vector<Picture> &pictures = Pictures();
    for (size_t i = 0; i < pictures.size(); ++i)
        for (size_t k = 0; k < std::size(kSettings); ++k) {
            const Picture &pic = pictures[i];
            const FicEncodeParams &s = kSettings[k];
            SCOPED_TRACE(testing::Message()
                         << pic.name << " blocks " << s.maxBlock << " to " << s.minBlock << " threshold "
                         << s.threshold << " bits " << s.sb << "+" << s.ob);
            const Pinned got = Code(pic.pixels, pic.cols, pic.rows, s);
            EXPECT_EQ(got.stream, kPinned[i][k].stream) << std::hex << got.stream;
            EXPECT_EQ(got.decoded, kPinned[i][k].decoded) << std::hex << got.decoded;
        }
}

TEST(FractalPinned, PhotographKeepsItsChecksums)
{
    ZN_REQUIRE_PHOTO("camera");
    ZnImage z;
    ASSERT_TRUE(zntest::LoadPhotoImage("camera", &z));
    Pixels pixels(static_cast<size_t>(z.Rows()) * z.Cols());
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<uint8_t>(z.Data()[i]);
    const FicEncodeParams settings[] = {{16, 4, 8, 4, 6}, {32, 2, 4, 6, 6}};
    const Pinned pinned[] = {{0xe8ef642755ccaf18ull, 0xc7fa995b52d422c4ull},
                             {0x0a10e7029161f9f4ull, 0x95cc11eea0905ae6ull}};
    for (size_t k = 0; k < std::size(settings); ++k) {
        const Pinned got = Code(pixels, z.Cols(), z.Rows(), settings[k]);
        EXPECT_EQ(got.stream, pinned[k].stream) << k << ": " << std::hex << got.stream;
        EXPECT_EQ(got.decoded, pinned[k].decoded) << k << ": " << std::hex << got.decoded;
    }
}

} // namespace

} // namespace fic_pinned_test
