// BMP files: the reader and writer of 8-bit palette and 24-bit uncompressed bitmaps.
// Every header field is checked against the file size before it places a byte, so a damaged file
// gets a message and -1 instead of a read past the end of the file.
#include "image/cdib.h"

#include "platform/file.h"
#include "platform/messages.h"
#include "platform/paths.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/stat.h>

namespace {

const char *const kNotBitmap = "This isn't a bitmap file!";
const char *const kColours =
    "Sorry, Number of colors not supported.\r\nPlease convert to 8/24 bit bmp or tga file.";
const char *const kHeaderKind =
    "Sorry, this kind of bitmap header is not supported.\r\nPlease convert to 8/24 bit bmp file.";
const char *const kCompressed = "Sorry, compressed bitmap files are not supported.\r\nPlease convert to an "
                                "uncompressed 8/24 bit bmp file.";
const char *const kDamaged = "Sorry, this bitmap file is damaged or truncated.";
const char *const kTooLarge = "Sorry, the image in this bitmap file is too large.";

using zn::FilePtr;

long long RowBytes64(int bitCount, long long width)
{
    return ((bitCount * width + 31) / 32) * 4;
}

} // namespace

int CDib::LoadDibFile(const std::string &path, bool grey)
{
    try {
        return ReadBmp(path, grey);
    } catch (const std::bad_alloc &) {
        zn::ShowMessage("LoadDibFile - Memory allocation problem");
        return -1;
    }
}

int CDib::ReadBmp(const std::string &path, bool grey)
{
    m_path = path;
    FilePtr f(std::fopen(path.c_str(), "rb"));
    if (!f)
        return -1; // silent: the numbered-series reader finds the end of a series this way
    struct stat st;
    if (fstat(fileno(f.get()), &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    m_title = zn::TitleBeforeFirstDot(path);

    const long long size = st.st_size;
    uint8_t magic[2] = {0, 0};
    if (size < 2 || std::fread(magic, 1, 2, f.get()) != 2 || magic[0] != 'B' || magic[1] != 'M') {
        m_bValid = 0;
        zn::ShowMessage(kNotBitmap);
        return -1;
    }
    if (size > kMaxDibPixelBytes + 65536) {
        zn::ShowMessage(kTooLarge);
        return -1;
    }
    std::vector<uint8_t> file(static_cast<size_t>(size));
    std::rewind(f.get());
    if (std::fread(file.data(), 1, file.size(), f.get()) != file.size()) {
        zn::ShowMessage(kDamaged);
        return -1;
    }
    f.reset();

    if (size < static_cast<long long>(kFileHeaderBytes) + 4) {
        zn::ShowMessage(kDamaged);
        return -1;
    }
    const BITMAPFILEHEADER fh = ReadFileHeader(file.data());
    const long long headerSize = GetLE32(file.data() + kFileHeaderBytes);
    if (headerSize < static_cast<long long>(kInfoHeaderBytes)) {
        // 12 is the old OS/2 core header; anything else this small is no header at all.
        zn::ShowMessage(headerSize == 12 ? kHeaderKind : kDamaged);
        return -1;
    }
    const long long headerEnd = static_cast<long long>(kFileHeaderBytes) + headerSize;
    if (headerEnd > size) {
        zn::ShowMessage(kDamaged);
        return -1;
    }
    const BITMAPINFOHEADER ih = ReadInfoHeader(file.data() + kFileHeaderBytes);
    const int bits = ih.biBitCount;
    if (bits != 8 && bits != 24) {
        zn::ShowMessage(kColours);
        return -1;
    }
    if (ih.biCompression != 0) {
        zn::ShowMessage(kCompressed);
        return -1;
    }
    if (ih.biWidth <= 0 || ih.biHeight == 0 || ih.biHeight == INT32_MIN) {
        zn::ShowMessage(kDamaged);
        return -1;
    }
    const bool topDown = ih.biHeight < 0; // rows stored top row first
    const int width = ih.biWidth;
    const int height = topDown ? -ih.biHeight : ih.biHeight;

    // 8 bits: a palette of biClrUsed entries (0 means all 256). 24 bits: an optional colour table,
    // a display hint only, which is skipped.
    long long colours = ih.biClrUsed;
    if (bits == 8) {
        if (colours == 0)
            colours = 256;
        if (colours > 256) {
            zn::ShowMessage(kDamaged);
            return -1;
        }
    }
    const long long paletteEnd = headerEnd + 4 * colours;
    if (bits == 8 && paletteEnd > size) {
        zn::ShowMessage(kDamaged);
        return -1;
    }
    const long long rowBytes = RowBytes64(bits, width);
    if (rowBytes > kMaxDibPixelBytes / height) {
        zn::ShowMessage(kTooLarge);
        return -1;
    }
    const long long pixelBytes = rowBytes * height;

    // The pixel offset of the file header wins when it is plausible; otherwise the rows follow the
    // palette at once, as most writers put them.
    const long long offset = fh.bfOffBits;
    long long start = -1;
    if (offset >= (bits == 8 ? paletteEnd : headerEnd) && offset + pixelBytes <= size)
        start = offset;
    else if (paletteEnd + pixelBytes <= size)
        start = paletteEnd;
    if (start < 0) {
        zn::ShowMessage(kDamaged);
        return -1;
    }

    if (bits == 8) {
        std::vector<RGBQUAD> palette(static_cast<size_t>(colours));
        const uint8_t *p = file.data() + headerEnd;
        for (auto &q : palette) {
            q.rgbBlue = p[0];
            q.rgbGreen = p[1];
            q.rgbRed = p[2];
            q.rgbReserved = p[3];
            p += 4;
        }
        Create8(width, height, palette.data(), static_cast<int>(colours));
    } else {
        Create24(width, height);
    }
    m_header.biXPelsPerMeter = ih.biXPelsPerMeter;
    m_header.biYPelsPerMeter = ih.biYPelsPerMeter;
    m_header.biClrImportant = bits == 8 ? ih.biClrImportant : 0;

    const uint8_t *src = file.data() + start;
    for (int k = 0; k < height; ++k) {
        int fileRow = topDown ? height - 1 - k : k;
        std::memcpy(StoredRow(k), src + static_cast<size_t>(fileRow) * rowBytes,
                    static_cast<size_t>(rowBytes));
    }
    if (grey)
        ToGrey();
    return m_nBlockSize;
}

bool CDib::SaveDibFile(const std::string &path) const
{
    if (!IsValid() || m_pixels.empty() || (m_header.biBitCount != 8 && m_header.biBitCount != 24)) {
        zn::ShowMessage(zn::Format("(SaveDibFile) There is no image to save to %s", path.c_str()));
        return false;
    }
    const int colours = m_header.biBitCount == 8 ? m_nPaletteSize / 4 : 0;
    const size_t paletteBytes = 4 * static_cast<size_t>(colours);
    const size_t pixelBytes = static_cast<size_t>(RowBytes()) * GetHeight();
    const size_t headers = kFileHeaderBytes + kInfoHeaderBytes;
    std::vector<uint8_t> out(headers + paletteBytes + pixelBytes);

    BITMAPFILEHEADER fh;
    fh.bfSize = static_cast<uint32_t>(out.size());
    fh.bfOffBits = static_cast<uint32_t>(headers + paletteBytes);
    WriteFileHeader(out.data(), fh);
    BITMAPINFOHEADER ih = m_header;
    ih.biSize = kInfoHeaderBytes; // only the 40 bytes are written, whatever header the image came from
    ih.biClrUsed = static_cast<uint32_t>(colours);
    WriteInfoHeader(out.data() + kFileHeaderBytes, ih);
    uint8_t *p = out.data() + headers;
    for (int i = 0; i < colours; ++i, p += 4) {
        const RGBQUAD &q = m_palette[i];
        p[0] = q.rgbBlue;
        p[1] = q.rgbGreen;
        p[2] = q.rgbRed;
        p[3] = q.rgbReserved;
    }
    std::memcpy(p, m_pixels.data(), pixelBytes);

    FilePtr f(std::fopen(path.c_str(), "wb"));
    if (!f) {
        zn::ShowMessage(zn::Format("(SaveDibFile) Could not save to %s\nDo you have the correct write "
                                   "permission for this directory?",
                                   path.c_str()));
        return false;
    }
    errno = 0;
    bool ok = std::fwrite(out.data(), 1, out.size(), f.get()) == out.size();
    ok = std::fflush(f.get()) == 0 && ok;
    int err = errno;
    ok = std::fclose(f.release()) == 0 && ok;
    if (!ok) {
        if (!err)
            err = errno;
        if (err == EACCES || err == EPERM)
            zn::ShowMessage("Sorry, Access Denied");
        else if (err == ENOSPC)
            zn::ShowMessage("Sorry, Disk Full");
        else
            zn::ShowMessage(zn::Format("(SaveDibFile) Write error on %s", path.c_str()));
        return false;
    }
    return true;
}
