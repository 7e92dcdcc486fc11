// Window statistics: mean, variance and the two-dimensional autocorrelation. Sums run in extended
// precision; results are population statistics (divided by the window size N).
#include "modules/sbc/sbc_quant.h"

#include "platform/log.h"
#include "platform/messages.h"

#include <cstdint>
#include <vector>

namespace {

bool ValidRep(int rep)
{
    return rep == 0 || rep == 1 || rep == 2;
}

inline long double Sample(const void *plane, int rep, long i)
{
    switch (rep) {
    case 0:
        return static_cast<const uint8_t *>(plane)[i];
    case 1:
        return static_cast<const int32_t *>(plane)[i];
    default:
        return static_cast<const float *>(plane)[i];
    }
}

template <class F> void ForEach(const void *plane, int rep, int rows, int cols, long first, long stride, F f)
{
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c)
            f(Sample(plane, rep, first + r * stride + c));
}

} // namespace

void SbcMean(float *mean, const void *plane, int rep, int rows, int cols, long first, long stride)
{
    *mean = 0;
    if (!ValidRep(rep)) {
        zn::ShowMessage("SbcMean-Unknown buffer type\n");
        return;
    }
    const long n = static_cast<long>(rows) * cols;
    if (n <= 0)
        return;
    long double sum = 0;
    ForEach(plane, rep, rows, cols, first, stride, [&](long double v) { sum += v; });
    *mean = static_cast<float>(sum / n);
}

void SbcMeanVari(float *mean, float *vari, const void *plane, int rep, int rows, int cols, long first,
                 long stride)
{
    *mean = 0;
    *vari = 0;
    if (!ValidRep(rep)) {
        zn::Log(zn::LogLevel::Info, "SbcMeanVari-Unknown buffer type\n");
        return;
    }
    const long n = static_cast<long>(rows) * cols;
    if (n <= 0)
        return;
    long double sum = 0, sum2 = 0;
    ForEach(plane, rep, rows, cols, first, stride, [&](long double v) {
        sum += v;
        sum2 += v * v;
    });
    const long double m = sum / n;
    *mean = static_cast<float>(m);
    *vari = static_cast<float>(sum2 / n - m * m);
}

void SbcVari(float *vari, const void *plane, int rep, float mean, int rows, int cols, long first, long stride)
{
    *vari = 0;
    if (!ValidRep(rep)) {
        zn::ShowMessage("SbcVari-Unknown buffer type");
        return;
    }
    const long n = static_cast<long>(rows) * cols;
    if (n <= 0)
        return;
    long double sum = 0;
    ForEach(plane, rep, rows, cols, first, stride, [&](long double v) { sum += (v - mean) * (v - mean); });
    *vari = static_cast<float>(sum / n);
}

void SbcCorr2d(float **cc, int size, const void *plane, int rep, int rows, int cols, long first, long stride)
{
    if (!ValidRep(rep)) {
        zn::ShowMessage("SbcCorr2d-Unknown buffer type\n");
        return;
    }
    if (size % 2 == 0) {
        zn::ShowMessage("SbcCorr2d-Dimension of cc is even set to odd");
        --size;
    }
    const int k = (size - 1) / 2;
    const long n = static_cast<long>(rows) * cols;
    if (k < 0 || n <= 0)
        return;
    float mean;
    SbcMean(&mean, plane, rep, rows, cols, first, stride);
    std::vector<long double> x(n); // mean-free copy of the window
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c)
            x[static_cast<long>(r) * cols + c] = Sample(plane, rep, first + r * stride + c) - mean;
    for (int dy = -k; dy <= 0; ++dy) {
        for (int dx = -k; dx <= (dy == 0 ? 0 : k); ++dx) {
            long double sum = 0;
            for (int r = -dy; r < rows; ++r) {
                const int c0 = dx < 0 ? -dx : 0, c1 = dx > 0 ? cols - dx : cols;
                const long double *row = &x[static_cast<long>(r) * cols];
                const long double *shifted = &x[static_cast<long>(r + dy) * cols];
                for (int c = c0; c < c1; ++c)
                    sum += shifted[c + dx] * row[c];
            }
            cc[dy][dx] = cc[-dy][-dx] = static_cast<float>(sum / n);
        }
    }
}
