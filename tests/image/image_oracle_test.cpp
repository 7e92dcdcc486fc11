// BMP and TIFF files checked against ImageMagick as an independent decoder: files ImageMagick makes
// load with the pixels ImageMagick itself decodes, and files we write decode in ImageMagick to the
// samples we wrote. $ZANTHO_CORPUS/bmp and $ZANTHO_CORPUS/tif are checked the same way when set.
#include "image/cdib.h"
#include "platform/messages.h"
#include "support/test_support.h"

#include <cstdio>
#include <gtest/gtest.h>

namespace image_oracle_test { // one namespace per test file: a folder compiles as one source

namespace {

using zntest::Run;
using zntest::ShellQuote;

struct Decoded
{
    int width = 0, height = 0, depth = 8;
    bool alpha = false;
    std::string rgb; // top row first, red green blue
};

// ImageMagick's own decode of the first picture of a file.
bool MagickDecode(const std::string &path, Decoded &d)
{
    std::string info;
    if (Run("identify -format '%w %h %z %A' " + ShellQuote(path + "[0]") + " 2>/dev/null", &info) != 0)
        return false;
    char alpha[32] = {};
    if (std::sscanf(info.c_str(), "%d %d %d %31s", &d.width, &d.height, &d.depth, alpha) < 3)
        return false;
    d.alpha = std::string(alpha) == "True" || std::string(alpha) == "Blend";
    if (zntest::Run("convert " + ShellQuote(path + "[0]") + " -alpha off -depth 8 rgb:- 2>/dev/null",
                    &d.rgb) != 0)
        return false;
    return d.rgb.size() == static_cast<size_t>(d.width) * d.height * 3;
}

// Blue, green, red of picture pixel (x, y from the top), through the palette for 8-bit images.
const uint8_t *PixelBgr(const CDib &dib, int x, int y)
{
    const uint8_t *row = dib.StoredRow(dib.GetHeight() - 1 - y);
    if (dib.GetInfoHeader()->biBitCount == 8)
        return &dib.GetPalette()[row[x]].rgbBlue;
    return row + 3 * x;
}

// Our image holds ImageMagick's pixels (within tol); with grey, the integer luminance of them.
void ExpectSamePixels(const CDib &dib, const Decoded &d, bool grey, int tol = 0)
{
    ASSERT_EQ(dib.GetWidth(), d.width);
    ASSERT_EQ(dib.GetHeight(), d.height);
    int worst = 0;
    for (int y = 0; y < d.height; ++y)
        for (int x = 0; x < d.width; ++x) {
            const uint8_t *m =
                reinterpret_cast<const uint8_t *>(d.rgb.data()) + 3 * (static_cast<size_t>(y) * d.width + x);
            const uint8_t *p = PixelBgr(dib, x, y);
            int want[3] = {m[2], m[1], m[0]};
            if (grey)
                want[0] = want[1] = want[2] = (29 * m[2] + 150 * m[1] + 77 * m[0]) >> 8;
            for (int c = 0; c < 3; ++c)
                worst = std::max(worst, std::abs(p[c] - want[c]));
            if (worst > tol)
                FAIL() << "pixel " << x << "," << y << ": " << int(p[2]) << " " << int(p[1]) << " "
                       << int(p[0]) << " vs " << want[2] << " " << want[1] << " " << want[0];
        }
}

class ImageOracleTest : public ::testing::Test
{
protected:
    zntest::ScratchDir dir;
    zn::MessageRecorder messages;
};

// A picture with detail in both directions and an odd width: a crop of ImageMagick's built-in rose.
const std::string kRose = "rose: -crop 37x23+5+5 +repage -alpha off";

} // namespace

TEST_F(ImageOracleTest, FilesMadeByImageMagickLoadWithItsPixels)
{
    ZN_REQUIRE_TOOL("convert");
    struct Case
    {
        const char *name;
        std::string args; // options and output after "convert"
        const char *file;
        bool tiff;
        int tol = 0; // TIFF colour maps hold 16-bit levels, which libtiff and ImageMagick scale apart by 1
    };
    const Case cases[] = {
        {"24-bit BMP3", kRose + " -type truecolor BMP3:", "a.bmp", false},
        {"8-bit palette BMP3", kRose + " -type palette -compress none BMP3:", "b.bmp", false},
        {"8-bit grey BMP3", kRose + " -colorspace gray -type palette -compress none BMP3:", "c.bmp", false},
        {"24-bit, 124-byte header", kRose + " -type truecolor ", "d.bmp", false},
        {"8-bit palette, 124-byte header", kRose + " -type palette -compress none ", "e.bmp", false},
        {"8-bit, width 1", "-size 1x40 gradient:red-blue -type palette -compress none BMP3:", "f.bmp", false},
        {"24-bit width 2", "-size 2x5 gradient:yellow-navy -type truecolor BMP3:", "g.bmp", false},
        {"TIFF uncompressed RGB", kRose + " -compress none ", "a.tif", true},
        {"TIFF LZW", kRose + " -compress lzw ", "b.tif", true},
        {"TIFF deflate, grey", kRose + " -colorspace gray -compress zip ", "c.tif", true},
        {"TIFF tiled", "rose: -alpha off -define tiff:tile-geometry=16x16 ", "d.tif", true},
        {"TIFF 16 bits", kRose + " -depth 16 ", "e.tif", true},
        {"TIFF palette", kRose + " -type palette ", "f.tif", true, 1},
        {"TIFF planes apart", kRose + " -interlace plane ", "g.tif", true},
        {"TIFF bilevel", kRose + " -monochrome ", "h.tif", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = dir.File(c.file);
        std::string target = c.args + ShellQuote(path);
        ASSERT_EQ(zntest::Run("convert " + target + " 2>&1"), 0);
        Decoded d;
        ASSERT_TRUE(MagickDecode(path, d));
        for (bool grey : {false, true}) {
            CDib dib;
            int r = c.tiff ? dib.LoadTifFile(path, grey) : dib.LoadDibFile(path, grey);
            ASSERT_GT(r, 0);
            ExpectSamePixels(dib, d, grey, c.tol);
        }
    }
    EXPECT_EQ(messages.Count(), 0u);
}

TEST_F(ImageOracleTest, TopDownBmpLoadsAsImageMagickReadsIt)
{
    ZN_REQUIRE_TOOL("convert");
    for (const char *type : {"truecolor", "palette"}) {
        SCOPED_TRACE(type);
        std::string up = dir.File("up.bmp"), down = dir.File("down.bmp");
        ASSERT_EQ(
            zntest::Run("convert " + kRose + " -type " + type + " -compress none BMP3:" + ShellQuote(up)), 0);
        // Same file with its rows reversed and a negative height: the top-down layout.
        std::vector<unsigned char> b = zntest::ReadFileBytes(up);
        uint32_t off = GetLE32(b.data() + 10);
        int w = static_cast<int32_t>(GetLE32(b.data() + 18)),
            h = static_cast<int32_t>(GetLE32(b.data() + 22));
        size_t row = DibRowBytes(GetLE16(b.data() + 28), w);
        std::vector<unsigned char> flipped = b;
        for (int k = 0; k < h; ++k)
            std::copy_n(b.begin() + off + k * row, row, flipped.begin() + off + (h - 1 - k) * row);
        PutLE32(flipped.data() + 22, static_cast<uint32_t>(-h));
        zntest::WriteFileBytes(down, flipped);

        Decoded d;
        ASSERT_TRUE(MagickDecode(down, d));
        CDib dib;
        ASSERT_GT(dib.LoadDibFile(down, false), 0);
        EXPECT_EQ(dib.GetHeight(), h);
        ExpectSamePixels(dib, d, false);
    }
}

TEST_F(ImageOracleTest, OtherBmpKindsAreRefusedWithAMessage)
{
    ZN_REQUIRE_TOOL("convert");
    const std::string colours =
        "Sorry, Number of colors not supported.\r\nPlease convert to 8/24 bit bmp or tga file.";
    const std::string compressed = "Sorry, compressed bitmap files are not supported.\r\nPlease convert to "
                                   "an uncompressed 8/24 bit bmp file.";
    const std::pair<std::string, std::string> cases[] = {
        {kRose + " -type palette -compress rle BMP3:", compressed},
        {"-size 5x9 gradient:red-blue -colors 16 -type palette -compress none BMP3:", colours}, // 4 bits
        {kRose + " -monochrome BMP3:", colours},                                                // 1 bit
        {"rose: -alpha set -channel A -evaluate set 50% ", colours},                            // 32 bits
    };
    for (const auto &[args, message] : cases) {
        SCOPED_TRACE(args);
        std::string path = dir.File("other.bmp");
        ASSERT_EQ(zntest::Run("convert " + args + ShellQuote(path)), 0);
        messages.Clear();
        CDib dib;
        EXPECT_EQ(dib.LoadDibFile(path, true), -1);
        EXPECT_EQ(messages.Texts(), std::vector<std::string>{message});
    }
}

TEST_F(ImageOracleTest, WrittenFilesDecodeInImageMagick)
{
    ZN_REQUIRE_TOOL("convert");
    // A colour 24-bit image and a palette image, odd widths.
    CDib colour;
    ASSERT_TRUE(colour.Create24(19, 11));
    for (int k = 0; k < 11; ++k)
        for (int x = 0; x < 19; ++x) {
            uint8_t *p = colour.StoredRow(k) + 3 * x;
            p[0] = static_cast<uint8_t>(x * 13 + k);
            p[1] = static_cast<uint8_t>(k * 23);
            p[2] = static_cast<uint8_t>(255 - x * 7 - k * 3);
        }
    RGBQUAD pal[256];
    for (int i = 0; i < 256; ++i)
        pal[i] =
            RGBQUAD{static_cast<uint8_t>(i * 5), static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i), 0};
    CDib palette;
    ASSERT_TRUE(palette.Create8(13, 6, pal, 200));
    for (int k = 0; k < 6; ++k)
        for (int x = 0; x < 13; ++x)
            palette.StoredRow(k)[x] = static_cast<uint8_t>((x * 17 + k * 29) % 200);

    for (const CDib *image : {&colour, &palette}) {
        SCOPED_TRACE(image == &colour ? "24-bit" : "8-bit");
        std::string bmp = dir.File("w.bmp");
        ASSERT_TRUE(image->SaveDibFile(bmp));
        Decoded d;
        ASSERT_TRUE(MagickDecode(bmp, d));
        ExpectSamePixels(*image, d, false);

        // TIFF, grey and (for 24 bits) colour: grey files carry the red byte.
        for (bool grey : {true, false}) {
            std::string tif = dir.File("w.tif");
            ASSERT_TRUE(image->SaveTifFile(tif, grey));
            Decoded t;
            ASSERT_TRUE(MagickDecode(tif, t));
            ASSERT_EQ(t.width, image->GetWidth());
            ASSERT_EQ(t.height, image->GetHeight());
            bool oneSample = grey || image == &palette;
            for (int y = 0; y < t.height; ++y)
                for (int x = 0; x < t.width; ++x) {
                    const uint8_t *m =
                        reinterpret_cast<const uint8_t *>(t.rgb.data()) + 3 * (y * t.width + x);
                    const uint8_t *p = PixelBgr(*image, x, y);
                    if (oneSample)
                        ASSERT_TRUE(m[0] == p[2] && m[1] == p[2] && m[2] == p[2]) << x << "," << y;
                    else
                        ASSERT_TRUE(m[0] == p[2] && m[1] == p[1] && m[2] == p[0]) << x << "," << y;
                }
        }
    }
    EXPECT_EQ(messages.Count(), 0u);
}

TEST_F(ImageOracleTest, CorpusFilesLoadAsImageMagickReadsThem)
{
    std::vector<std::pair<std::string, bool>> files; // path, is TIFF
    for (const std::string &f : zntest::CorpusFiles("bmp"))
        files.push_back({f, false});
    for (const std::string &f : zntest::CorpusFiles("tif"))
        files.push_back({f, true});
    if (!files.empty())
        ZN_REQUIRE_TOOL("convert");
    int checked = 0;
    for (const auto &[path, tiff] : files) {
        SCOPED_TRACE(path);
        messages.Clear();
        CDib dib;
        int r = tiff ? dib.LoadTifFile(path, false) : dib.LoadDibFile(path, false);
        ++checked;
        if (r < 0) { // a kind this program does not read: refused with a message, never silently
            EXPECT_EQ(messages.Count(), 1u);
            continue;
        }
        Decoded d;
        if (!MagickDecode(path, d)) {
            ADD_FAILURE() << "we read a file ImageMagick cannot";
            continue;
        }
        if (d.alpha) { // libtiff's RGBA reader premultiplies transparent pixels; check the size only
            EXPECT_EQ(dib.GetWidth(), d.width);
            EXPECT_EQ(dib.GetHeight(), d.height);
            continue;
        }
        // libtiff scales 16-bit samples and colour maps to bytes its own way: 1 apart from ImageMagick.
        ExpectSamePixels(dib, d, false, tiff ? 1 : 0);
    }
    std::printf("corpus: %d files checked\n", checked);
}

} // namespace image_oracle_test
