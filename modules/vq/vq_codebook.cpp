// Layout of the codebook image: sizing for a design, the shared placement cursor, and the checks
// that keep a codebook read from any BMP file from sending the coder outside the picture.
#include "modules/vq/vq_codebook.h"

#include "platform/format.h"

#include <cmath>

void VqPlacement::Advance()
{
    if (m_x + 2 * m_w <= m_cols) {
        m_x += m_w;
    } else {
        m_x = 0;
        ++m_band;
    }
}

void VqPlacement::EndRate()
{
    if (m_x != 0) {
        m_x = 0;
        ++m_band;
    }
}

void VqCodebookSize(int w, int h, int rmin, int rmax, int *rows, int *cols)
{
    int c = (1 << rmax) * w + kVqHeaderCols;
    if (w > 8 && rmax > 6)
        c = 64 * w + (rmax == 8 || rmax == 10 ? 8 : 4);
    // The height is what the placement fills.
    VqPlacement cursor(w, c);
    for (int r = rmin; r <= rmax; ++r) {
        for (int i = 0; i < (1 << r); ++i)
            cursor.Advance();
        cursor.EndRate();
    }
    *cols = c;
    *rows = cursor.Band() * h;
}

namespace {

// A header value as the format stores it: a whole number, truncated. Anything far outside the
// format's range (or not a number) is reported as 0, which the checks refuse.
int HeaderValue(float v)
{
    if (!std::isfinite(v) || v < -1e6f || v > 1e6f)
        return 0;
    return static_cast<int>(v);
}

} // namespace

std::string VqReadHeader(const Img *codebook, VqCodebookHeader *header)
{
    *header = VqCodebookHeader{};
    if (!codebook || codebook->rep != IMG_REP_FLOAT || !codebook->FloatPlane() || codebook->rows < 1 ||
        codebook->cols < kVqHeaderCols)
        return "The picture is too small to hold a codebook header.";
    const int rows = codebook->rows, cols = codebook->cols;
    const float *p = codebook->FloatPlane();
    VqCodebookHeader hd{HeaderValue(p[0]), HeaderValue(p[1]), HeaderValue(p[2]), HeaderValue(p[3])};
    *header = hd;
    if (hd.w < 1 || hd.h < 1)
        return zn::Format("The vector size %ix%i is not a valid one.", hd.w, hd.h);
    if (hd.rmin < kVqMinRate || hd.rmax > kVqMaxRate || hd.rmin > hd.rmax)
        return zn::Format("The rates %i to %i are not a valid range (1 to 12).", hd.rmin, hd.rmax);
    if (hd.w > cols || hd.h > rows)
        return "The picture is too small for the codebook it describes.";
    VqPlacement cursor(hd.w, cols);
    for (int r = hd.rmin; r <= hd.rmax; ++r) {
        for (int i = 0; i < (1 << r); ++i) {
            const long long bottom = (static_cast<long long>(cursor.Band()) + 1) * hd.h;
            if (cursor.Col() + hd.w > cols || bottom > rows)
                return "The picture is too small for the codebook it describes.";
            cursor.Advance();
        }
        cursor.EndRate();
    }
    return {};
}

std::vector<float> VqGetRateVectors(const Img *codebook, const VqCodebookHeader &header, int rate)
{
    const int w = header.w, h = header.h, cols = codebook->cols;
    VqPlacement cursor(w, cols);
    for (int r = header.rmin; r < rate; ++r) {
        for (int i = 0; i < (1 << r); ++i)
            cursor.Advance();
        cursor.EndRate();
    }
    const int n = 1 << rate;
    std::vector<float> out(static_cast<size_t>(n) * w * h);
    const float *plane = codebook->FloatPlane();
    float *v = out.data();
    for (int i = 0; i < n; ++i) {
        const size_t top = static_cast<size_t>(cursor.Band()) * h;
        for (int y = 0; y < h; ++y) {
            const float *row = plane + (top + y) * cols + cursor.Col();
            for (int k = 0; k < w; ++k)
                *v++ = row[k];
        }
        cursor.Advance();
    }
    return out;
}

void VqPutRateVectors(ZnImage *codebook, const VqCodebookHeader &header, int rate, const float *vectors,
                      VqPlacement *cursor)
{
    const int w = header.w, h = header.h, cols = codebook->Cols();
    float *plane = codebook->Data();
    const float *v = vectors;
    for (int i = 0; i < (1 << rate); ++i) {
        const size_t top = static_cast<size_t>(cursor->Band()) * h;
        for (int y = 0; y < h; ++y) {
            float *row = plane + (top + y) * cols + cursor->Col();
            for (int k = 0; k < w; ++k)
                row[k] = *v++;
        }
        cursor->Advance();
    }
    cursor->EndRate();
}
