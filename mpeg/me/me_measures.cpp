// Per-frame measures of the motion estimation module. The frame difference shows what a coder would
// have to send without motion information; the compensated difference what remains with it. The
// entropy of consecutive-vector differences says what the field costs when coded differentially.
#include "mpeg/me/me_measures.h"

#include "image/znimage.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

struct Frame
{
    const float *origin = nullptr; // interior (0, 0)
    long stride = 0;
    int height = 0, width = 0, border = 0;
    float At(int y, int x) const { return origin[y * stride + x]; }
};

bool Open(const Img *img, int border, Frame *f)
{
    if (!img || img->rep != IMG_REP_FLOAT || !img->plane[0] || border < 0)
        return false;
    f->height = img->rows - 2 * border;
    f->width = img->cols - 2 * border;
    if (f->height <= 0 || f->width <= 0)
        return false;
    f->stride = img->cols;
    f->border = border;
    f->origin = img->FloatPlane() + static_cast<long>(border) * img->cols + border;
    return true;
}

bool SameSize(const Frame &a, const Frame &b)
{
    return a.height == b.height && a.width == b.width;
}

bool Fits(const Img *img, const Frame &f)
{
    return img && img->rep == IMG_REP_FLOAT && img->plane[0] && img->rows == f.height && img->cols == f.width;
}

int Component(const VF *vf, const void *plane, int idx)
{
    switch (vf->rep) {
    case 0:
        return static_cast<const int8_t *>(plane)[idx];
    case 1:
        return static_cast<const int32_t *>(plane)[idx];
    default:
        return static_cast<int>(static_cast<const float *>(plane)[idx]);
    }
}

} // namespace

// A vector field the measures and the search can work on: both planes, a size and a representation.
bool FieldUsable(const VF *vf)
{
    return vf && vf->planeA && vf->planeB && vf->rows > 0 && vf->cols > 0 && vf->blockHeight > 0 &&
           vf->blockWidth > 0 && vf->rep >= 0 && vf->rep <= 2;
}

double MeImageVariance(const Img *frame, int border)
{
    Frame f;
    if (!Open(frame, border, &f))
        return 0;
    double sum = 0, squares = 0;
    for (int y = 0; y < f.height; ++y)
        for (int x = 0; x < f.width; ++x) {
            const double v = f.At(y, x);
            sum += v;
            squares += v * v;
        }
    const double n = static_cast<double>(f.height) * f.width;
    const double mean = sum / n;
    return squares / n - mean * mean;
}

double MeFrameDiff(const Img *cur, const Img *prev, Img *out, int border)
{
    Frame c, p;
    if (!Open(cur, border, &c) || !Open(prev, border, &p) || !SameSize(c, p) || !Fits(out, c))
        return 0;
    float *o = out->FloatPlane();
    double squares = 0;
    for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x) {
            const double d = static_cast<double>(c.At(y, x)) - p.At(y, x);
            squares += d * d;
            o[static_cast<long>(y) * c.width + x] = static_cast<float>(d + 127.0);
        }
    return squares / (static_cast<double>(c.height) * c.width);
}

double MeMcFrameDiff(const Img *cur, const Img *prev, const VF *vf, Img *pred, Img *diff, int border)
{
    Frame c, p;
    if (!Open(cur, border, &c) || !Open(prev, border, &p) || !SameSize(c, p) || !Fits(pred, c) ||
        !Fits(diff, c) || !FieldUsable(vf))
        return 0;
    float *po = pred->FloatPlane();
    float *dO = diff->FloatPlane();
    double squares = 0;
    for (int y = 0; y < c.height; ++y) {
        const int br = y / vf->blockHeight;
        for (int x = 0; x < c.width; ++x) {
            const int bc = x / vf->blockWidth;
            int a = 0, b = 0;
            // Pixels outside the block grid (none when the block size divides the picture) keep (0, 0).
            if (br < vf->rows && bc < vf->cols) {
                const int idx = br * vf->cols + bc;
                a = Component(vf, vf->planeA, idx);
                b = Component(vf, vf->planeB, idx);
            }
            // A field from another run could point past the border; the prediction then repeats the
            // border's edge instead of reading outside the frame.
            const int ry = std::clamp(y + b, -border, c.height + border - 1);
            const int rx = std::clamp(x + a, -border, c.width + border - 1);
            const float pv = p.At(ry, rx);
            const double d = static_cast<double>(c.At(y, x)) - pv;
            squares += d * d;
            const long o = static_cast<long>(y) * c.width + x;
            po[o] = pv;
            dO[o] = static_cast<float>(d + 127.0);
        }
    }
    return squares / (static_cast<double>(c.height) * c.width);
}

void MeDrawVectorField(Img *image, const VF *vf)
{
    if (!image || image->rep != IMG_REP_FLOAT || !image->plane[0] || !FieldUsable(vf))
        return;
    const int h = image->rows;
    const int w = image->cols;
    float *raster = image->FloatPlane();
    auto inside = [&](int x, int y) { return x >= 0 && y >= 0 && x < w && y < h; };
    static const double kShorten[] = {0.9, 0.8, 0.7, 0.6, 0.5, 0.4, 0.3, 0.2, 0.1};
    for (int br = 0; br < vf->rows; ++br)
        for (int bc = 0; bc < vf->cols; ++bc) {
            const int idx = br * vf->cols + bc;
            const int x0 = bc * vf->blockWidth + vf->blockWidth / 2;
            const int y0 = br * vf->blockHeight + vf->blockHeight / 2;
            if (!inside(x0, y0))
                continue;
            const int a = Component(vf, vf->planeA, idx);
            const int b = Component(vf, vf->planeB, idx);
            int x1 = x0 + a, y1 = y0 + b;
            bool draw = inside(x1, y1);
            for (double f : kShorten) {
                if (draw)
                    break;
                x1 = x0 + static_cast<int>(a * f);
                y1 = y0 + static_cast<int>(b * f);
                draw = inside(x1, y1);
            }
            if (draw)
                DrawLineFloat(x0, y0, x1, y1, 255.0f, raster, w, h);
            raster[static_cast<long>(y0) * w + x0] = 0.0f;
        }
}

double MeVectorEntropy(const VF *vf)
{
    if (!FieldUsable(vf))
        return 0;
    const long n = static_cast<long>(vf->rows) * vf->cols;
    if (n < 2)
        return 0;
    // Differences of signed bytes span -255 .. 255; the searches keep them within -127 .. 127.
    std::vector<long> bins(511, 0);
    for (long k = 1; k < n; ++k) {
        const int da = Component(vf, vf->planeA, static_cast<int>(k)) -
                       Component(vf, vf->planeA, static_cast<int>(k - 1));
        const int db = Component(vf, vf->planeB, static_cast<int>(k)) -
                       Component(vf, vf->planeB, static_cast<int>(k - 1));
        ++bins[std::clamp(db + 255, 0, 510)];
        ++bins[std::clamp(da + 255, 0, 510)];
    }
    const double total = 2.0 * static_cast<double>(n - 1);
    double h = 0;
    for (long c : bins)
        if (c > 0) {
            const double p = static_cast<double>(c) / total;
            h -= p * std::log2(p);
        }
    return h;
}
