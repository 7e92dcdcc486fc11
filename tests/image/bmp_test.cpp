// BMP reader and writer: layouts that must load, files that must be refused, and writes that fail.
// Fixtures are built byte by byte here, independently of the code under test.
#include "file_size_limit.h"
#include "image/cdib.h"
#include "image/znimage.h"
#include "platform/messages.h"
#include "support/test_support.h"

#include <cstring>
#include <gtest/gtest.h>

namespace bmp_test { // one namespace per test file: a folder compiles as one source

namespace {

using Bytes = std::vector<unsigned char>;

struct BmpShape
{
    int bits = 8;
    int width = 5;
    int height = 3; // negative: rows stored top row first
    uint32_t headerSize = 40;
    uint32_t clrUsed = 256;  // as written in the header
    int paletteEntries = -1; // entries actually written; -1: clrUsed (256 when 0) for 8 bits, 0 for 24
    uint32_t sizeImage = 0;  // 0: width x height
    int gap = 0;             // bytes between palette and pixels, announced by the pixel offset
};

// Picture sample (x, y from the top) of channel c: blue 0, green 1, red 2; the palette index for 8 bits.
uint8_t Sample(const BmpShape &s, int x, int y, int c)
{
    if (s.bits == 8)
        return static_cast<uint8_t>((x * 7 + y * 13) % 256);
    return static_cast<uint8_t>(x * (11 + 6 * c) + y * (3 + 14 * c) + 40 * c);
}

RGBQUAD PaletteEntry(int i)
{
    return RGBQUAD{static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i * 3), static_cast<uint8_t>(i), 0};
}

int RowLen(int bits, int width)
{
    return ((bits * width + 31) / 32) * 4;
}

void Put16(Bytes &b, size_t at, uint32_t v)
{
    b[at] = v & 0xFF;
    b[at + 1] = (v >> 8) & 0xFF;
}
void Put32(Bytes &b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = (v >> (8 * i)) & 0xFF;
}

Bytes MakeBmp(const BmpShape &s)
{
    int h = s.height < 0 ? -s.height : s.height;
    int entries = s.paletteEntries >= 0 ? s.paletteEntries : s.bits == 8 ? (s.clrUsed ? s.clrUsed : 256) : 0;
    int row = RowLen(s.bits, s.width);
    size_t pixelsAt = 14 + s.headerSize + 4 * entries + s.gap;
    Bytes b(pixelsAt + static_cast<size_t>(row) * h, 0);
    b[0] = 'B';
    b[1] = 'M';
    Put32(b, 2, static_cast<uint32_t>(b.size()));
    Put32(b, 10, static_cast<uint32_t>(pixelsAt));
    Put32(b, 14, s.headerSize);
    Put32(b, 18, static_cast<uint32_t>(s.width));
    Put32(b, 22, static_cast<uint32_t>(s.height));
    Put16(b, 26, 1);
    Put16(b, 28, s.bits);
    Put32(b, 34, s.sizeImage ? s.sizeImage : static_cast<uint32_t>(s.width * h));
    Put32(b, 38, 2835);
    Put32(b, 42, 2835);
    Put32(b, 46, s.clrUsed);
    for (int i = 0; i < entries; ++i) {
        RGBQUAD q = PaletteEntry(i);
        size_t at = 14 + s.headerSize + 4 * i;
        b[at] = q.rgbBlue;
        b[at + 1] = q.rgbGreen;
        b[at + 2] = q.rgbRed;
    }
    for (int k = 0; k < h; ++k) {
        int y = s.height < 0 ? k : h - 1 - k; // picture row held by file row k
        unsigned char *p = b.data() + pixelsAt + static_cast<size_t>(k) * row;
        for (int x = 0; x < s.width; ++x)
            for (int c = 0; c < s.bits / 8; ++c)
                p[x * s.bits / 8 + c] = Sample(s, x, y, c);
    }
    return b;
}

// Every picture sample of the loaded image matches the fixture.
void ExpectPixels(const CDib &dib, const BmpShape &s)
{
    int h = s.height < 0 ? -s.height : s.height;
    ASSERT_EQ(dib.GetWidth(), s.width);
    ASSERT_EQ(dib.GetHeight(), h);
    ASSERT_EQ(dib.GetInfoHeader()->biBitCount, s.bits);
    ASSERT_EQ(dib.RowBytes(), RowLen(s.bits, s.width));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < s.width; ++x)
            for (int c = 0; c < s.bits / 8; ++c)
                ASSERT_EQ(dib.StoredRow(h - 1 - y)[x * s.bits / 8 + c], Sample(s, x, y, c))
                    << "x " << x << " y " << y << " c " << c;
}

class BmpTest : public ::testing::Test
{
protected:
    std::string Write(const Bytes &b, const std::string &name = "in.bmp")
    {
        std::string path = dir.File(name);
        zntest::WriteFileBytes(path, b);
        return path;
    }
    zntest::ScratchDir dir;
    zn::MessageRecorder messages;
};

} // namespace

TEST_F(BmpTest, Width5PaletteImageRoundTripsByteForByte)
{
    BmpShape s; // 8 bits, width 5: rows of 8 bytes
    Bytes file = MakeBmp(s);
    CDib dib;
    ASSERT_EQ(dib.LoadDibFile(Write(file), false), static_cast<int>(file.size() - 14));
    EXPECT_EQ(dib.RowBytes(), 8);
    EXPECT_EQ(dib.GetNumColors(), 256);
    ExpectPixels(dib, s);

    dib.SetBitRate(300);
    CDib copy;
    copy.CopyDib(&dib);
    EXPECT_EQ(copy.m_title, "in");
    EXPECT_EQ(copy.m_path, ""); // path and bit rate stay with the original
    EXPECT_EQ(copy.GetBitRate(), -1);
    ASSERT_TRUE(copy.SaveDibFile(dir.File("out.bmp")));
    Bytes written = zntest::ReadFileBytes(dir.File("out.bmp"));
    EXPECT_EQ(written, file);
    EXPECT_EQ(written.size(), static_cast<size_t>(copy.m_nBlockSize) + 14);
    EXPECT_EQ(messages.Count(), 0u);
}

TEST_F(BmpTest, LayoutsThatLoad)
{
    struct Case
    {
        const char *name;
        BmpShape shape;
        int numColors;
    };
    const Case cases[] = {
        {"8-bit, no colour count", {8, 5, 3, 40, 0}, 256},
        {"8-bit, 16 colours", {8, 7, 4, 40, 16, 16}, 16},
        {"24-bit", {24, 5, 3, 40, 0}, 0},
        {"24-bit, width 1", {24, 1, 6, 40, 0}, 0},
        {"24-bit top-down", {24, 6, -4, 40, 0}, 0},
        {"8-bit top-down", {8, 9, -2, 40, 0}, 256},
        {"108-byte header", {8, 5, 3, 108, 0}, 256},
        {"124-byte header", {24, 3, 2, 124, 0}, 0},
        {"pixels after a gap", {24, 3, 2, 40, 0, -1, 0, 12}, 0},
        {"24-bit with a colour table", {24, 4, 2, 40, 3}, 0},
        {"wrong biSizeImage", {24, 4, 2, 40, 0, -1, 7}, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        CDib dib;
        int block = dib.LoadDibFile(Write(MakeBmp(c.shape)), false);
        ASSERT_GT(block, 0);
        ExpectPixels(dib, c.shape);
        EXPECT_EQ(dib.GetNumColors(), c.numColors);
        EXPECT_EQ(dib.GetInfoHeader()->biClrUsed, static_cast<uint32_t>(c.numColors));
        EXPECT_EQ(dib.GetInfoHeader()->biSizeImage, static_cast<uint32_t>(dib.GetPixelCount()));
        EXPECT_EQ(block, dib.m_nBlockSize);
        EXPECT_EQ(dib.m_nBlockSize, 40 + 4 * c.numColors + dib.m_nPixelSize);
        if (c.shape.bits == 8)
            for (int i = 0; i < c.numColors; ++i)
                ASSERT_EQ(dib.GetPalette()[i].rgbGreen, PaletteEntry(i).rgbGreen);
        else
            EXPECT_EQ(dib.GetPalette(), nullptr);

        // Written again: a 40-byte header, the pixel offset right after the palette, biSizeImage w x h.
        ASSERT_TRUE(dib.SaveDibFile(dir.File("again.bmp")));
        Bytes out = zntest::ReadFileBytes(dir.File("again.bmp"));
        ASSERT_GE(out.size(), 54u);
        EXPECT_EQ(GetLE32(out.data() + 14), 40u);
        EXPECT_EQ(GetLE32(out.data() + 10), 54u + 4 * c.numColors);
        EXPECT_EQ(GetLE32(out.data() + 2), out.size());
        EXPECT_EQ(GetLE32(out.data() + 34), static_cast<uint32_t>(dib.GetPixelCount()));
        EXPECT_EQ(out.size(), static_cast<size_t>(dib.m_nBlockSize) + 14);
        CDib back;
        ASSERT_GT(back.LoadDibFile(dir.File("again.bmp"), false), 0);
        BmpShape up = c.shape;
        up.height = up.height < 0 ? -up.height : up.height;
        ExpectPixels(back, up);
    }
    EXPECT_EQ(messages.Count(), 0u);
}

TEST_F(BmpTest, GreyFlagTurnsPaletteAndPixelsGrey)
{
    // Palette entry 0 is blue 255, green 0, red 0: (29 x 255) >> 8 = 28.
    BmpShape s{8, 4, 2, 40, 256};
    CDib dib;
    ASSERT_GT(dib.LoadDibFile(Write(MakeBmp(s)), true), 0);
    const RGBQUAD &q = dib.GetPalette()[0];
    EXPECT_EQ(q.rgbBlue, 28);
    EXPECT_EQ(q.rgbGreen, 28);
    EXPECT_EQ(q.rgbRed, 28);
    for (int i = 0; i < 256; ++i) {
        RGBQUAD e = PaletteEntry(i);
        int g = (29 * e.rgbBlue + 150 * e.rgbGreen + 77 * e.rgbRed) >> 8;
        ASSERT_EQ(dib.GetPalette()[i].rgbRed, g);
    }

    BmpShape c{24, 5, 2, 40, 0};
    ASSERT_GT(dib.LoadDibFile(Write(MakeBmp(c)), true), 0);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 5; ++x) {
            int g = (29 * Sample(c, x, y, 0) + 150 * Sample(c, x, y, 1) + 77 * Sample(c, x, y, 2)) >> 8;
            const uint8_t *p = dib.StoredRow(1 - y) + 3 * x;
            ASSERT_TRUE(p[0] == g && p[1] == g && p[2] == g) << x << "," << y;
        }
    // Row padding is left alone (zero here).
    EXPECT_EQ(dib.StoredRow(0)[15], 0);
}

TEST_F(BmpTest, PixelIndexBeyondShortPaletteReadsBlack)
{
    BmpShape s{8, 5, 3, 40, 2, 2}; // two entries, indices up to 255
    CDib dib;
    ASSERT_GT(dib.LoadDibFile(Write(MakeBmp(s)), true), 0);
    EXPECT_EQ(dib.GetNumColors(), 2);
    ZnImage z;
    z.DibToZnImage(&dib);
    // Picture (1, 0) holds index 7: past the palette, black.
    EXPECT_EQ(z.Data()[1], 0.0f);
}

TEST_F(BmpTest, MissingFileIsSilent)
{
    CDib dib;
    EXPECT_EQ(dib.LoadDibFile(dir.File("frame0007.bmp"), true), -1);
    EXPECT_EQ(dib.m_path, dir.File("frame0007.bmp"));
    EXPECT_EQ(dib.LoadDibFile(dir.Path(), true), -1); // a folder
    EXPECT_EQ(messages.Count(), 0u);
}

TEST_F(BmpTest, PathKeepsItsCase)
{
    BmpShape s{24, 2, 2, 40, 0};
    std::string path = Write(MakeBmp(s), "Mixed.Case.BMP");
    CDib dib;
    ASSERT_GT(dib.LoadDibFile(path, false), 0);
    EXPECT_EQ(dib.m_title, "Mixed");
    EXPECT_EQ(dib.m_path, path);
    ASSERT_GT(dib.LoadDibFile(Write(MakeBmp(s), ".hidden.bmp"), false), 0);
    EXPECT_EQ(dib.m_title, ".hidden.bmp");
}

TEST_F(BmpTest, DamagedFilesAreRefused)
{
    const Bytes good8 = MakeBmp(BmpShape{8, 5, 3, 40, 0});
    const Bytes good24 = MakeBmp(BmpShape{24, 5, 3, 40, 0});
    const std::string colours =
        "Sorry, Number of colors not supported.\r\nPlease convert to 8/24 bit bmp or tga file.";
    const std::string damaged = "Sorry, this bitmap file is damaged or truncated.";
    const std::string large = "Sorry, the image in this bitmap file is too large.";
    const std::string compressed = "Sorry, compressed bitmap files are not supported.\r\nPlease convert to "
                                   "an uncompressed 8/24 bit bmp file.";
    struct Case
    {
        const char *name;
        const Bytes *base;
        long keep; // bytes kept, -1: all
        long at;   // field to overwrite, -1: none
        uint32_t value;
        bool is16; // a 16-bit field, else 32-bit
        std::string message;
    };
    const Case cases[] = {
        {"empty", &good8, 0, -1, 0, false, "This isn't a bitmap file!"},
        {"not BM", &good8, -1, 0, 0x4D41, true, "This isn't a bitmap file!"},
        {"file header only", &good8, 14, -1, 0, false, damaged},
        {"cut in the info header", &good8, 30, -1, 0, false, damaged},
        {"cut in the palette", &good8, 54 + 500, -1, 0, false, damaged},
        {"cut in the pixels", &good8, static_cast<long>(good8.size()) - 1, -1, 0, false, damaged},
        {"24-bit cut in the pixels", &good24, static_cast<long>(good24.size()) - 5, -1, 0, false, damaged},
        {"header size 0", &good8, -1, 14, 0, false, damaged},
        {"header size 12", &good8, -1, 14, 12, false,
         "Sorry, this kind of bitmap header is not supported.\r\n"
         "Please convert to 8/24 bit bmp file."},
        {"header size huge", &good8, -1, 14, 0xFFFFFFF0u, false, damaged},
        {"width 0", &good8, -1, 18, 0, false, damaged},
        {"negative width", &good8, -1, 18, 0xFFFFFFFBu, false, damaged},
        {"height 0", &good8, -1, 22, 0, false, damaged},
        {"height INT_MIN", &good8, -1, 22, 0x80000000u, false, damaged},
        {"huge width", &good24, -1, 18, 0x7FFFFFFFu, false, large},
        {"huge height", &good24, -1, 22, 0x7FFFFFFFu, false, large},
        {"width x height past the file", &good24, -1, 18, 100000, false, damaged},
        {"16 bits, no colour count", &good8, -1, 28, 16, true, colours},
        {"32 bits", &good24, -1, 28, 32, true, colours},
        {"1 bit", &good8, -1, 28, 1, true, colours},
        {"0 bits", &good8, -1, 28, 0, true, colours},
        {"bit count 0xFFFF", &good8, -1, 28, 0xFFFF, true, colours},
        {"compressed 8-bit", &good8, -1, 30, 1, false, compressed},
        {"bit fields", &good24, -1, 30, 3, false, compressed},
        {"palette count 257", &good8, -1, 46, 257, false, damaged},
        {"palette count huge", &good8, -1, 46, 0x40000001u, false, damaged},
        {"24-bit colour table past the file", &good24, -1, 46, 0x3FFFFFFFu, false, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Bytes b = *c.base;
        if (c.keep >= 0)
            b.resize(static_cast<size_t>(c.keep));
        if (c.at >= 0 && c.is16)
            Put16(b, static_cast<size_t>(c.at), c.value);
        else if (c.at >= 0)
            Put32(b, static_cast<size_t>(c.at), c.value);
        messages.Clear();
        CDib dib;
        dib.m_bValid = 1;
        int r = dib.LoadDibFile(Write(b), true);
        if (c.message.empty()) { // the pixel offset still finds the rows
            EXPECT_GT(r, 0);
            EXPECT_EQ(messages.Count(), 0u);
            continue;
        }
        EXPECT_EQ(r, -1);
        ASSERT_EQ(messages.Count(), 1u);
        EXPECT_EQ(messages.Texts()[0], c.message);
    }
}

TEST_F(BmpTest, WriteFailuresAreReported)
{
    CDib dib;
    ASSERT_TRUE(dib.Create24(40, 30));
    EXPECT_FALSE(dib.SaveDibFile(dir.File("no/such/folder/x.bmp")));
    ASSERT_EQ(messages.Count(), 1u);
    EXPECT_EQ(messages.Texts()[0], "(SaveDibFile) Could not save to " + dir.File("no/such/folder/x.bmp") +
                                       "\nDo you have the correct write permission for this directory?");
    messages.Clear();
    EXPECT_FALSE(dib.SaveDibFile("/dev/full"));
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Sorry, Disk Full"});
    messages.Clear();
    {
        zntest::FileSizeLimit limit(1000);
        EXPECT_FALSE(dib.SaveDibFile(dir.File("big.bmp")));
    }
    EXPECT_EQ(messages.Texts(),
              std::vector<std::string>{"(SaveDibFile) Write error on " + dir.File("big.bmp")});
    messages.Clear();
    CDib empty;
    EXPECT_FALSE(empty.SaveDibFile(dir.File("empty.bmp")));
    EXPECT_EQ(messages.Count(), 1u);
}

} // namespace bmp_test
