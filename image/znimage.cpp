// Conversions between the display image (bottom-up, padded rows of bytes) and the engines' float
// luminance plane (top row first, unpadded), and the line drawing used on float rasters.
#include "image/znimage.h"

#include "image/cdib.h"
#include "platform/errors.h"
#include "platform/messages.h"

#include <cstdlib>
#include <utility>

ZnImage::ZnImage() = default;

ZnImage::~ZnImage()
{
    FreeImg(img);
}

void ZnImage::Alloc(int rows, int cols)
{
    if (rows < 0)
        rows = 0;
    if (cols < 0)
        cols = 0;
    const long long n = static_cast<long long>(rows) * cols;
    if (img && static_cast<long long>(img->rows) * img->cols >= n) {
        img->rows = rows;
        img->cols = cols;
        return;
    }
    FreeImg(img);
    img = nullptr;
    AllocImg(&img, rows, cols, IMG_REP_FLOAT, IMG_SEQ_MONO);
    if (n > 0 && !img->plane[0]) {
        // AllocImg showed "Fatal: Not enough memory"; no engine can go on without its plane.
        img->rows = img->cols = 0;
        throw zn::RunAborted("Fatal: Not enough memory", zn::kMessageShown);
    }
}

namespace {

// Luminance weights: the CCIR 601 ones (0.299, 0.587, 0.114) adjusted so they sum to exactly 1,
// which keeps a grey pixel's value unchanged.
inline float Luminance(unsigned b, unsigned g, unsigned r)
{
    return static_cast<float>(0.3008 * r + 0.5859 * g + 0.1133 * b);
}

// Luminance of picture row y (0 = top) into out[0 .. width-1].
void LuminanceRow(const CDib &dib, int y, float *out)
{
    const int width = dib.GetWidth();
    const uint8_t *p = dib.StoredRow(dib.GetHeight() - 1 - y);
    if (dib.GetInfoHeader()->biBitCount == 24) {
        for (int x = 0; x < width; ++x, p += 3)
            out[x] = Luminance(p[0], p[1], p[2]);
    } else {
        const RGBQUAD *pal = dib.GetPalette(); // 256 entries: any index is inside
        for (int x = 0; x < width; ++x) {
            const RGBQUAD &q = pal[p[x]];
            out[x] = Luminance(q.rgbBlue, q.rgbGreen, q.rgbRed);
        }
    }
}

// True when the image holds pixels in one of the two formats the conversions read.
bool Readable(const CDib *dib)
{
    if (!dib || !dib->GetBits() || dib->GetWidth() <= 0 || dib->GetHeight() <= 0)
        return false;
    int bits = dib->GetInfoHeader()->biBitCount;
    return bits == 24 || (bits == 8 && dib->GetPalette());
}

} // namespace

void ZnImage::DibToZnImage(const CDib *source)
{
    if (!Readable(source)) {
        Alloc(0, 0);
        return;
    }
    const int rows = source->GetHeight(), cols = source->GetWidth();
    Alloc(rows, cols);
    float *out = Data();
    for (int y = 0; y < rows; ++y)
        LuminanceRow(*source, y, out + static_cast<size_t>(y) * cols);
}

void ZnImage::DibToSubZnImage(const CDib *source, int border)
{
    if (!img || !img->plane[0]) {
        zn::ShowMessage("DibToSubZnImage -- Implementation error: Image memory not allocated");
        return;
    }
    if (!Readable(source) || border < 0)
        return;
    const int rows = source->GetHeight(), cols = source->GetWidth();
    const int outCols = cols + 2 * border;
    // The layout below needs exactly this size; anything else would write past the plane.
    if (img->rows != rows + 2 * border || img->cols != outCols) {
        zn::ShowMessage("DibToSubZnImage -- Implementation error: Image memory not allocated");
        return;
    }
    // 127, mid-grey, outside the picture: a motion search reaching past the edge sees a flat area.
    float *out = Data();
    const size_t total = static_cast<size_t>(img->rows) * outCols;
    for (size_t i = 0; i < total; ++i)
        out[i] = 127.0f;
    for (int y = 0; y < rows; ++y)
        LuminanceRow(*source, y, out + static_cast<size_t>(y + border) * outCols + border);
}

void ZnImage::ZnImageToDib(CDib *target) const
{
    if (!target)
        return;
    const int rows = Rows(), cols = Cols();
    if (!Data() || !target->Create24(cols, rows)) {
        target->Clear();
        return;
    }
    // This image's pixel-count convention: padded bytes / 3, which is rows x cols unless rows are padded.
    target->GetInfoHeader()->biSizeImage = static_cast<uint32_t>(target->m_nPixelSize / 3);
    const float *in = Data();
    for (int r = 0; r < rows; ++r) {
        uint8_t *p = target->StoredRow(rows - 1 - r);
        const float *v = in + static_cast<size_t>(r) * cols;
        for (int c = 0; c < cols; ++c, p += 3) {
            float s = v[c];
            // Clip, then truncate: 254.9 is 254. A NaN fails every comparison and lands on 255.
            uint8_t g = s < 0.0f ? 0 : !(s < 255.0f) ? 255 : static_cast<uint8_t>(s);
            p[0] = p[1] = p[2] = g;
        }
    }
}

void DrawLineFloat(int x0, int y0, int x1, int y1, float value, float *raster, int stride, int height)
{
    auto put = [&](int x, int y) {
        if (height >= 0 && (x < 0 || y < 0 || x >= stride || y >= height))
            return;
        raster[static_cast<long long>(y) * stride + x] = value;
    };
    const bool xMajor = std::abs(y1 - y0) < std::abs(x1 - x0);
    if (!xMajor) { // walk along y: swap the roles of x and y
        std::swap(x0, y0);
        std::swap(x1, y1);
    }
    if (x0 > x1) {
        std::swap(x0, x1);
        std::swap(y0, y1);
    }
    const int step = y1 < y0 ? -1 : 1;
    const int dx = x1 - x0;
    const int d = 2 * std::abs(y1 - y0);
    int e = d - dx;
    for (int x = x0, y = y0; x <= x1; ++x) {
        if (xMajor)
            put(x, y);
        else
            put(y, x);
        if (e > 0) {
            y += step;
            e += d - 2 * dx;
        } else {
            e += d;
        }
    }
}
