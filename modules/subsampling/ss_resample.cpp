// Decimation and magnification. Filtering before keeping every f-th sample removes what lies above
// the new Nyquist frequency 1/(2f); without it those frequencies fold back (alias) into the band
// that remains. The blow-up only repeats pixels, so the aliasing stays visible at full size.
#include "modules/subsampling/ss_engine.h"

#include "image/tables.h"
#include "platform/messages.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

struct ImgDeleter
{
    void operator()(Img *img) const { FreeImg(img); }
};
using ImgPtr = std::unique_ptr<Img, ImgDeleter>;

// One filtered sample: y = sum c[t] x[clamp(centre + d - t)], the edge sample standing in for
// everything beyond the border so a flat image stays flat up to its edges.
template <class T>
inline float FilterAt(const float *c, int taps, int d, const T *x, long stride, int centre, int last)
{
    float y = 0.0f;
    for (int t = 0; t < taps; ++t) {
        const int k = std::clamp(centre + d - t, 0, last);
        y += c[t] * static_cast<float>(x[k * stride]);
    }
    return y;
}

template <class T> inline T Store(float v);
template <> inline float Store<float>(float v)
{
    return v;
}
template <> inline uint8_t Store<uint8_t>(float v)
{
    return static_cast<uint8_t>(std::clamp(v, 0.0f, 255.0f)); // truncation toward zero
}

template <class T>
void Decimate(const T *in, T *tmp, T *out, const float *c, int taps, int f, int rows, int cols)
{
    const int d = (taps - 1) / 2;
    const int outRows = rows / f, outCols = cols / f;
    for (int r = 0; r < rows; ++r) {
        const T *x = in + static_cast<long>(r) * cols;
        T *y = tmp + static_cast<long>(r) * outCols;
        for (int j = 0; j < outCols; ++j)
            y[j] = Store<T>(FilterAt(c, taps, d, x, 1, j * f, cols - 1));
    }
    for (int i = 0; i < outRows; ++i) {
        T *z = out + static_cast<long>(i) * outCols;
        for (int j = 0; j < outCols; ++j)
            z[j] = Store<T>(FilterAt(c, taps, d, tmp + j, outCols, i * f, rows - 1));
    }
}

} // namespace

void DemoSsImg(const Img *in, const Filt *filt, int f, Img *out)
{
    const bool bytes = in->rep == IMG_REP_BYTE && out->rep == IMG_REP_BYTE;
    const bool floats = in->rep == IMG_REP_FLOAT && out->rep == IMG_REP_FLOAT;
    if (!bytes && !floats) {
        zn::ShowMessage("DemoSsImg - Only PACKED and FLOAT images are supported");
        return;
    }
    if (f < 1 || !filt || filt->coef1.empty()) {
        zn::ShowMessage("DemoSsImg - Invalid subsampling parameters");
        return;
    }
    const int rows = in->rows, cols = in->cols;
    const int outRows = rows > 0 ? rows / f : 0, outCols = cols > 0 ? cols / f : 0;
    if (outRows > 0 && outCols > 0 && in->plane[0] && out->plane[0]) {
        const int taps = static_cast<int>(filt->coef1.size());
        Img *tmpRaw = nullptr;
        AllocImg(&tmpRaw, rows, outCols, in->rep, IMG_SEQ_MONO);
        ImgPtr tmp(tmpRaw);
        if (!tmp->plane[0])
            return; // AllocImg has said so
        if (floats)
            Decimate(in->FloatPlane(), tmp->FloatPlane(), out->FloatPlane(), filt->coef1.data(), taps, f,
                     rows, cols);
        else
            Decimate(in->BytePlane(), tmp->BytePlane(), out->BytePlane(), filt->coef1.data(), taps, f, rows,
                     cols);
    }
    out->rows = outRows;
    out->cols = outCols;
}

void SsBlowUpImg(Img *img, int f)
{
    if (img->rep != IMG_REP_FLOAT || f < 1) {
        zn::ShowMessage("SsBlowUpImg - Only FLOAT images are supported");
        return;
    }
    const int rows = img->rows, cols = img->cols;
    if (rows <= 0 || cols <= 0 || !img->plane[0])
        return;
    const int bigCols = cols * f;
    std::vector<float> big(static_cast<size_t>(rows) * f * bigCols);
    const float *x = img->FloatPlane();
    for (int r = 0; r < rows; ++r) {
        float *first = big.data() + static_cast<size_t>(r) * f * bigCols;
        for (int c = 0; c < cols; ++c)
            std::fill_n(first + static_cast<size_t>(c) * f, f, x[static_cast<long>(r) * cols + c]);
        for (int k = 1; k < f; ++k)
            std::memcpy(first + static_cast<size_t>(k) * bigCols, first, sizeof(float) * bigCols);
    }
    img->rows = rows * f;
    img->cols = bigCols;
    std::memcpy(img->FloatPlane(), big.data(), sizeof(float) * big.size());
}
