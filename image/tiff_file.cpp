// TIFF files through libtiff: any layout the library can turn into RGBA is read as a 24-bit image;
// images are written uncompressed, one row per strip, as 8-bit grey or RGB.
// libtiff's own warnings and errors go to the engine log; an error while reading refuses the file.
#include "image/cdib.h"

#include "platform/format.h"
#include "platform/log.h"
#include "platform/messages.h"
#include "platform/paths.h"

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <new>
#include <sys/stat.h>
#include <tiffio.h>

namespace {

// A decoded raster costs 4 bytes per pixel before the 3-byte image is made; a corrupt header may
// claim any size, so the pixel count is bounded before anything is allocated (8192 x 8192).
constexpr long long kMaxTiffPixels = 1LL << 26;

const char *const kNotTiff = "Sorry, file is not in TIFF format";
const char *const kTiffDamaged = "Sorry, this TIFF file is damaged or cannot be read.";

int g_tiffErrors = 0; // errors libtiff reported since the last reset

std::string FormatV(const char *module, const char *fmt, va_list ap)
{
    return (module ? std::string(module) + ": " : std::string()) + zn::FormatV(fmt, ap);
}

void TiffWarning(const char *module, const char *fmt, va_list ap)
{
    zn::Log(zn::LogLevel::Info, "libtiff warning: " + FormatV(module, fmt, ap));
}

void TiffError(const char *module, const char *fmt, va_list ap)
{
    ++g_tiffErrors;
    zn::Log(zn::LogLevel::Error, "libtiff: " + FormatV(module, fmt, ap));
}

void InstallTiffHandlers()
{
    static bool installed = false;
    if (!installed) {
        TIFFSetWarningHandler(TiffWarning);
        TIFFSetErrorHandler(TiffError);
        installed = true;
    }
}

struct TiffCloser
{
    void operator()(TIFF *t) const { TIFFClose(t); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

} // namespace

int CDib::LoadTifFile(const std::string &path, bool grey)
{
    try {
        return ReadTif(path, grey);
    } catch (const std::bad_alloc &) {
        zn::ShowMessage("LoadTifFile - Memory allocation problem");
        return -1;
    }
}

int CDib::ReadTif(const std::string &path, bool grey)
{
    m_path = path;
    {
        std::FILE *f = std::fopen(path.c_str(), "rb");
        if (!f)
            return -1;
        struct stat st;
        bool regular = fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode);
        std::fclose(f);
        if (!regular)
            return -1;
    }
    m_title = zn::TitleBeforeFirstDot(path);

    InstallTiffHandlers();
    g_tiffErrors = 0;
    TiffPtr tif(TIFFOpen(path.c_str(), "r"));
    if (!tif) {
        zn::ShowMessage(kNotTiff);
        return -1;
    }
    uint32_t width = 0, height = 0;
    if (!TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width) ||
        !TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height) || width == 0 || height == 0) {
        zn::ShowMessage(kTiffDamaged);
        return -1;
    }
    if (width > 0x7FFFFFFFu || height > 0x7FFFFFFFu ||
        static_cast<long long>(width) * static_cast<long long>(height) > kMaxTiffPixels) {
        zn::ShowMessage("Sorry, the image in this TIFF file is too large.");
        return -1;
    }
    std::vector<uint32_t> raster;
    try {
        raster.resize(static_cast<size_t>(width) * height);
    } catch (const std::bad_alloc &) {
        zn::ShowMessage("LoadTifFile - Memory allocation problem");
        return -1;
    }
    // Stop at the first damaged strip or tile: a partly decoded picture would pass for the real one.
    int ok = TIFFReadRGBAImage(tif.get(), width, height, raster.data(), 1);
    tif.reset();
    if (!ok || g_tiffErrors > 0) {
        zn::ShowMessage(kTiffDamaged);
        return -1;
    }

    // The RGBA raster comes bottom row first, as the DIB stores its rows; each word packs red in its
    // lowest byte, then green, blue and alpha (dropped).
    if (!Create24(static_cast<int>(width), static_cast<int>(height))) {
        zn::ShowMessage("Sorry, the image in this TIFF file is too large.");
        return -1;
    }
    for (uint32_t k = 0; k < height; ++k) {
        const uint32_t *src = raster.data() + static_cast<size_t>(k) * width;
        uint8_t *dst = StoredRow(static_cast<int>(k));
        for (uint32_t x = 0; x < width; ++x, dst += 3) {
            uint32_t abgr = src[x];
            dst[0] = static_cast<uint8_t>(TIFFGetB(abgr));
            dst[1] = static_cast<uint8_t>(TIFFGetG(abgr));
            dst[2] = static_cast<uint8_t>(TIFFGetR(abgr));
        }
    }
    if (grey)
        ToGrey();
    return m_nBlockSize;
}

bool CDib::SaveTifFile(const std::string &path, bool grey) const
{
    const int bits = m_header.biBitCount;
    if (!IsValid() || m_pixels.empty() || (bits != 8 && bits != 24)) {
        zn::ShowMessage(zn::Format("(SaveTifFile) There is no image to save to %s", path.c_str()));
        return false;
    }
    InstallTiffHandlers();
    TiffPtr tif(TIFFOpen(path.c_str(), "w"));
    if (!tif) {
        zn::ShowMessage("(SaveTifFile) Saving TIFF file failed");
        return false;
    }
    const int width = GetWidth(), height = GetHeight();
    const bool oneSample = bits == 8 || grey;
    TIFF *t = tif.get();
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(width));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(height));
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(t, TIFFTAG_MINSAMPLEVALUE, static_cast<uint16_t>(0));
    TIFFSetField(t, TIFFTAG_MAXSAMPLEVALUE, static_cast<uint16_t>(255));
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(1));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(8));
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(oneSample ? 1 : 3));
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, oneSample ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB);

    std::vector<uint8_t> line(static_cast<size_t>(TIFFScanlineSize(t)));
    if (line.size() < static_cast<size_t>(width) * (oneSample ? 1 : 3)) {
        zn::ShowMessage("(SaveTifFile) Saving TIFF file failed");
        return false;
    }
    int failures = 0;
    for (int r = 0; r < height; ++r) { // the file's first row is the top of the picture
        const uint8_t *p = StoredRow(height - 1 - r);
        uint8_t *q = line.data();
        if (bits == 8) {
            // An 8-bit image is written as the grey level of its palette entries (the red byte, as
            // for 24-bit pixels; the document's palettes are grey).
            for (int x = 0; x < width; ++x)
                q[x] = m_palette[p[x]].rgbRed;
        } else if (grey) {
            for (int x = 0; x < width; ++x)
                q[x] = p[3 * x + 2];
        } else {
            for (int x = 0; x < width; ++x) {
                q[3 * x] = p[3 * x + 2];
                q[3 * x + 1] = p[3 * x + 1];
                q[3 * x + 2] = p[3 * x];
            }
        }
        if (TIFFWriteScanline(t, line.data(), static_cast<uint32_t>(r), 0) < 0)
            ++failures; // the other rows are still written
    }
    if (!TIFFWriteDirectory(t))
        ++failures;
    tif.reset();
    if (failures) {
        zn::ShowMessage("(SaveTifFile) Write error");
        return false;
    }
    return true;
}
