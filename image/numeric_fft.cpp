// The N-dimensional FFT (radix-2, decimation in time, in place) and the windowed spectrum of an image.
// Twiddle factors advance by a recurrence (w += w * (cos t - 1 + i sin t), with cos t - 1 written as
// -2 sin^2(t/2) to keep precision for small angles) instead of a sine and cosine per butterfly.
#include "image/numeric.h"
#include "image/znimage.h"

#include "platform/messages.h"

#include <cmath>
#include <cstdlib>
#include <utility>
#include <vector>

namespace {

bool IsPowerOfTwo(long n)
{
    return n > 0 && (n & (n - 1)) == 0;
}

// One dimension of the transform: `outer` independent arrays of n complex values spaced `inner`
// values apart. The inner index runs innermost so every pass walks memory contiguously.
void TransformDimension(float *x, long outer, long n, long inner, int sign)
{
    const long rowFloats = 2 * inner;
    for (long o = 0; o < outer; ++o) {
        float *base = x + o * n * rowFloats;
        // Bit-reversed order along the dimension.
        for (long i = 0, j = 0; i < n; ++i) {
            if (j > i) {
                float *a = base + i * rowFloats, *b = base + j * rowFloats;
                for (long k = 0; k < rowFloats; ++k)
                    std::swap(a[k], b[k]);
            }
            long bit = n >> 1;
            while (bit >= 1 && (j & bit)) {
                j ^= bit;
                bit >>= 1;
            }
            j |= bit;
        }
        for (long span = 1; span < n; span *= 2) {
            const double theta = sign * 6.28318530717959 / (2.0 * span);
            const double s = std::sin(0.5 * theta);
            const double wpr = -2.0 * s * s, wpi = std::sin(theta);
            double wr = 1.0, wi = 0.0;
            for (long m = 0; m < span; ++m) {
                for (long g = m; g < n; g += 2 * span) {
                    float *a = base + g * rowFloats, *b = base + (g + span) * rowFloats;
                    for (long k = 0; k < inner; ++k) {
                        double br = b[2 * k], bi = b[2 * k + 1];
                        double tr = wr * br - wi * bi, ti = wr * bi + wi * br;
                        double ar = a[2 * k], ai = a[2 * k + 1];
                        b[2 * k] = static_cast<float>(ar - tr);
                        b[2 * k + 1] = static_cast<float>(ai - ti);
                        a[2 * k] = static_cast<float>(ar + tr);
                        a[2 * k + 1] = static_cast<float>(ai + ti);
                    }
                }
                double t = wr;
                wr += t * wpr - wi * wpi;
                wi += wi * wpr + t * wpi;
            }
        }
    }
}

} // namespace

bool FourierND(float *data, const int *sizes, int ndim, int sign)
{
    long total = 1;
    for (int d = 1; d <= ndim; ++d) {
        if (!IsPowerOfTwo(sizes[d]))
            return false;
        total *= sizes[d];
    }
    float *x = data + 1; // the caller's arrays are 1-based
    long inner = 1;
    for (int d = ndim; d >= 1; --d) {
        long n = sizes[d];
        TransformDimension(x, total / (n * inner), n, inner, sign);
        inner *= n;
    }
    return true;
}

void AllocSpectrum(Spectrum **spectrum, int rows, int cols)
{
    Spectrum *s = new Spectrum;
    *spectrum = s;
    s->rows = rows;
    s->cols = cols;
    size_t n = rows > 0 && cols > 0 ? static_cast<size_t>(rows) * cols : 0;
    s->re = static_cast<float *>(std::calloc(n ? n : 1, sizeof(float)));
    if (!s->re)
        zn::ShowMessage("Not enough memory for spectrum allocation");
    s->im = static_cast<float *>(std::calloc(n ? n : 1, sizeof(float)));
    if (!s->im)
        zn::ShowMessage("Not enough memory for spectrum allocation");
}

void FreeSpectrum(Spectrum *spectrum)
{
    if (!spectrum)
        return;
    std::free(spectrum->re);
    std::free(spectrum->im);
    delete spectrum;
}

void ImgFFT(const Img *img, Spectrum *spectrum, int windowType)
{
    const int rows = img->rows, cols = img->cols;
    if (img->rep != IMG_REP_BYTE && img->rep != IMG_REP_INT && img->rep != IMG_REP_FLOAT) {
        zn::ShowMessage("ImgFFT - Invalid representation");
        return;
    }
    if (rows <= 0 || cols <= 0 || !img->plane[0] || !spectrum || !spectrum->re || !spectrum->im)
        return;
    const long n = static_cast<long>(rows) * cols;
    std::vector<float> work(2 * n + 1);
    std::vector<float> wc(cols), wr(rows);
    double ec = MakeTapering(wc.data(), cols, windowType);
    double er = MakeTapering(wr.data(), rows, windowType);
    // Unequal sides get their windows' energy restored so the spectra of the two directions compare;
    // a square image keeps the raw windowed values.
    double fc = 1.0, fr = 1.0;
    if (rows != cols) {
        fc = ec > 0 ? std::sqrt(cols / ec) : 0.0;
        fr = er > 0 ? std::sqrt(rows / er) : 0.0;
    }
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c) {
            long k = static_cast<long>(r) * cols + c;
            double v;
            switch (img->rep) {
            case IMG_REP_BYTE:
                v = img->BytePlane()[k];
                break;
            case IMG_REP_INT:
                v = img->IntPlane()[k];
                break;
            default:
                v = img->FloatPlane()[k];
                break;
            }
            work[2 * k + 1] = static_cast<float>(v * fc * fr * wc[c] * wr[r]);
            work[2 * k + 2] = 0.0f;
        }
    }
    int sizes[3] = {0, rows, cols};
    if (!FourierND(work.data(), sizes, 2, 1)) {
        zn::ShowMessage("ImgFFT - Image sides must be powers of 2");
        return;
    }
    for (long k = 0; k < n; ++k) {
        spectrum->re[k] = work[2 * k + 1];
        spectrum->im[k] = work[2 * k + 2];
    }
}

void SwapQuadrants(Spectrum *spectrum)
{
    const int hr = spectrum->rows / 2, hc = spectrum->cols / 2, cols = spectrum->cols;
    for (float *p : {spectrum->re, spectrum->im}) {
        if (!p)
            continue;
        for (int r = 0; r < hr; ++r) {
            for (int c = 0; c < hc; ++c) {
                std::swap(p[r * cols + c], p[(r + hr) * cols + c + hc]);
                std::swap(p[r * cols + c + hc], p[(r + hr) * cols + c]);
            }
        }
    }
}

// 29 log10(power) - 100: a power of 1 shows black and each 10 dB adds 29 grey levels.
void ZnImage::LogPowerSpectrum(const Spectrum *spectrum)
{
    Alloc(spectrum->rows, spectrum->cols);
    float *out = Data();
    const long n = static_cast<long>(spectrum->rows) * spectrum->cols;
    if (!out || !spectrum->re || !spectrum->im)
        return;
    for (long k = 0; k < n; ++k) {
        double re = spectrum->re[k], im = spectrum->im[k];
        out[k] = static_cast<float>(29.0 * std::log10(re * re + im * im + 1e-30) - 100.0);
    }
}
