// TIFF reader and writer. Fixtures are written with libtiff's plain strip interface in the test, so
// the reader is checked against a file layout the test controls byte by byte.
#include "file_size_limit.h"
#include "image/cdib.h"
#include "platform/log.h"
#include "platform/messages.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <tiffio.h>

namespace tiff_test { // one namespace per test file: a folder compiles as one source

namespace {

using Bytes = std::vector<unsigned char>;

uint8_t Sample(int x, int y, int c)
{
    return static_cast<uint8_t>(x * (13 + 5 * c) + y * (7 + 31 * c) + 50 * c);
}

// An uncompressed RGB (or grey) TIFF, one row per strip; picture row 0 first.
bool WriteTiff(const std::string &path, int width, int height, int samples)
{
    TIFF *t = TIFFOpen(path.c_str(), "w");
    if (!t)
        return false;
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(width));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(height));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(8));
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(samples));
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, samples == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(1));
    std::vector<uint8_t> line(static_cast<size_t>(width) * samples);
    bool ok = true;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < samples; ++c)
                line[x * samples + c] = Sample(x, y, c); // c: red, green, blue
        ok = TIFFWriteScanline(t, line.data(), static_cast<uint32_t>(y), 0) >= 0 && ok;
    }
    TIFFClose(t);
    return ok;
}

uint32_t Le32(const Bytes &b, size_t at)
{
    return GetLE32(b.data() + at);
}

// Byte position of the IFD entry of a tag in a little-endian TIFF, or 0.
size_t FindEntry(const Bytes &b, uint16_t tag)
{
    size_t ifd = Le32(b, 4);
    unsigned n = GetLE16(b.data() + ifd);
    for (unsigned i = 0; i < n; ++i) {
        size_t e = ifd + 2 + 12 * i;
        if (GetLE16(b.data() + e) == tag)
            return e;
    }
    return 0;
}

class TiffTest : public ::testing::Test
{
protected:
    zntest::ScratchDir dir;
    zn::MessageRecorder messages;
};

} // namespace

TEST_F(TiffTest, ThreeByTwoBecomesA24BitImageWith12ByteRows)
{
    std::string path = dir.File("small.tif");
    ASSERT_TRUE(WriteTiff(path, 3, 2, 3));
    CDib dib;
    int block = dib.LoadTifFile(path, false);
    EXPECT_EQ(block, 40 + 24);
    EXPECT_EQ(dib.m_title, "small");
    EXPECT_EQ(dib.m_path, path);
    const BITMAPINFOHEADER &h = *dib.GetInfoHeader();
    EXPECT_EQ(h.biBitCount, 24);
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biSizeImage, 6u);
    EXPECT_EQ(h.biClrUsed, 0u);
    EXPECT_EQ(dib.RowBytes(), 12);
    EXPECT_EQ(dib.m_nPixelSize, 24);
    EXPECT_EQ(dib.GetPalette(), nullptr);
    for (int y = 0; y < 2; ++y) {
        const uint8_t *row = dib.StoredRow(1 - y); // stored row 0 is the bottom of the picture
        for (int x = 0; x < 3; ++x)
            for (int c = 0; c < 3; ++c)
                EXPECT_EQ(row[3 * x + 2 - c], Sample(x, y, c)) << x << "," << y << "," << c;
        EXPECT_EQ(row[9] | row[10] | row[11], 0);
    }

    ASSERT_GT(dib.LoadTifFile(path, true), 0);
    const uint8_t *p = dib.StoredRow(1); // top-left pixel
    int g = (29 * Sample(0, 0, 2) + 150 * Sample(0, 0, 1) + 77 * Sample(0, 0, 0)) >> 8;
    EXPECT_TRUE(p[0] == g && p[1] == g && p[2] == g);
    EXPECT_EQ(messages.Count(), 0u);
}

TEST_F(TiffTest, WrittenFilesHoldTheTopRowFirst)
{
    struct Case
    {
        const char *name;
        bool palette;
        bool grey;
        uint16_t samples;
    };
    const Case cases[] = {{"24-bit, grey flag", false, true, 1},
                          {"24-bit colour", false, false, 3},
                          {"8-bit palette", true, false, 1}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const int w = 5, h = 3;
        CDib dib;
        RGBQUAD pal[256];
        for (int i = 0; i < 256; ++i)
            pal[i] = RGBQUAD{static_cast<uint8_t>(i / 2), static_cast<uint8_t>(i / 3),
                             static_cast<uint8_t>(255 - i), 0};
        ASSERT_TRUE(c.palette ? dib.Create8(w, h, pal, 256) : dib.Create24(w, h));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                uint8_t *p = dib.StoredRow(h - 1 - y);
                if (c.palette)
                    p[x] = static_cast<uint8_t>(40 * y + x);
                else
                    for (int k = 0; k < 3; ++k)
                        p[3 * x + k] = Sample(x, y, 2 - k);
            }
        std::string path = dir.File("out.tif");
        ASSERT_TRUE(dib.SaveTifFile(path, c.grey));

        TIFF *t = TIFFOpen(path.c_str(), "r");
        ASSERT_NE(t, nullptr);
        uint16_t bps = 0, spp = 0, photo = 0, comp = 0;
        uint32_t rps = 0;
        TIFFGetField(t, TIFFTAG_BITSPERSAMPLE, &bps);
        TIFFGetField(t, TIFFTAG_SAMPLESPERPIXEL, &spp);
        TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photo);
        TIFFGetField(t, TIFFTAG_COMPRESSION, &comp);
        TIFFGetField(t, TIFFTAG_ROWSPERSTRIP, &rps);
        EXPECT_EQ(bps, 8);
        EXPECT_EQ(spp, c.samples);
        EXPECT_EQ(photo, c.samples == 1 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB);
        EXPECT_EQ(comp, COMPRESSION_NONE);
        EXPECT_EQ(rps, 1u);
        std::vector<uint8_t> line(static_cast<size_t>(TIFFScanlineSize(t)));
        for (int y = 0; y < h; ++y) {
            ASSERT_EQ(TIFFReadScanline(t, line.data(), static_cast<uint32_t>(y), 0), 1);
            for (int x = 0; x < w; ++x) {
                if (c.palette)
                    ASSERT_EQ(line[x], pal[40 * y + x].rgbRed);
                else if (c.grey)
                    ASSERT_EQ(line[x], Sample(x, y, 0)); // the red byte
                else
                    for (int k = 0; k < 3; ++k)
                        ASSERT_EQ(line[3 * x + k], Sample(x, y, k));
            }
        }
        TIFFClose(t);
    }
    EXPECT_EQ(messages.Count(), 0u);
}

TEST_F(TiffTest, WriteFailuresAreReported)
{
    CDib dib;
    ASSERT_TRUE(dib.Create24(64, 64));
    EXPECT_FALSE(dib.SaveTifFile(dir.File("missing/folder/x.tif"), true));
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"(SaveTifFile) Saving TIFF file failed"});
    messages.Clear();
    EXPECT_FALSE(dib.SaveTifFile("/dev/full", true)); // libtiff writes its header at once
    EXPECT_EQ(messages.Count(), 1u);
    messages.Clear();
    {
        zntest::FileSizeLimit limit(2000); // the disk fills up after a few rows
        EXPECT_FALSE(dib.SaveTifFile(dir.File("full.tif"), false));
    }
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"(SaveTifFile) Write error"});
}

TEST_F(TiffTest, DamagedFilesAreRefusedQuietly)
{
    std::string goodPath = dir.File("good.tif");
    ASSERT_TRUE(WriteTiff(goodPath, 16, 8, 3));
    const Bytes good = zntest::ReadFileBytes(goodPath);
    ASSERT_EQ(good[0], 'I'); // little-endian, as libtiff writes on this machine
    const size_t width = FindEntry(good, 256), length = FindEntry(good, 257), bits = FindEntry(good, 258),
                 comp = FindEntry(good, 259), photo = FindEntry(good, 262), offsets = FindEntry(good, 273),
                 spp = FindEntry(good, 277);
    ASSERT_TRUE(width && length && bits && comp && photo && offsets && spp);
    const uint32_t lastStrip = Le32(good, Le32(good, offsets + 8) + 4 * 7);

    struct Case
    {
        const char *name;
        long keep; // bytes kept, -1: all
        size_t at; // 32-bit value to overwrite, 0: none
        uint32_t value;
    };
    const Case cases[] = {
        {"empty", 0, 0, 0},
        {"byte order only", 2, 0, 0},
        {"header only", 8, 0, 0},
        {"cut in the first strip", 40, 0, 0},
        {"cut in the last strip", static_cast<long>(lastStrip) + 5, 0, 0},
        {"directory past the end", -1, 4, 0x7FFFFFF0u},
        {"width 0", -1, width + 8, 0},
        {"huge width", -1, width + 8, 0xFFFFFFFu},
        {"huge width and length", -1, length + 8, 0x7FFFFFFFu},
        {"width past the strips", -1, width + 8, 4000},
        {"length past the strips", -1, length + 8, 4000},
        {"3 bits per sample", -1, bits + 8, 3},
        {"LZW on raw data", -1, comp + 8, 5},
        {"unknown compression", -1, comp + 8, 0x7777},
        {"unknown photometric", -1, photo + 8, 99},
        {"no samples", -1, spp + 8, 0},
        {"strip offsets past the end", -1, offsets + 8, 0x7FFFFFF0u},
    };
    std::vector<std::string> logged;
    zn::LogSink previous = zn::SetLogSink([&](zn::LogLevel, const std::string &t) { logged.push_back(t); });
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Bytes b = good;
        if (c.keep >= 0)
            b.resize(static_cast<size_t>(c.keep));
        if (c.at)
            PutLE32(b.data() + c.at, c.value);
        std::string path = dir.File("bad.tif");
        zntest::WriteFileBytes(path, b);
        messages.Clear();
        testing::internal::CaptureStderr();
        CDib dib;
        int r = dib.LoadTifFile(path, true);
        std::string stderrText = testing::internal::GetCapturedStderr();
        EXPECT_EQ(r, -1);
        EXPECT_FALSE(dib.IsValid());
        ASSERT_EQ(messages.Count(), 1u);
        const std::string m = messages.Texts()[0];
        EXPECT_TRUE(m == "Sorry, file is not in TIFF format" ||
                    m == "Sorry, this TIFF file is damaged or cannot be read." ||
                    m == "Sorry, the image in this TIFF file is too large.")
            << m;
        EXPECT_EQ(stderrText, ""); // libtiff speaks to the log only
    }
    zn::SetLogSink(previous);
    EXPECT_FALSE(logged.empty());
}

TEST_F(TiffTest, MissingFileIsSilent)
{
    CDib dib;
    EXPECT_EQ(dib.LoadTifFile(dir.File("none.tif"), true), -1);
    EXPECT_EQ(messages.Count(), 0u);
}

} // namespace tiff_test
