// Spectrum of a subsampled image drawn over the frequency plane of the original. Keeping every f-th
// sample makes the spectrum periodic with period 1/f: the baseband reappears f times along each
// axis, and whatever the filter let through above 1/(2f) overlaps its neighbour copy.
#include "modules/subsampling/ss_engine.h"

#include "image/numeric.h"

#include <algorithm>
#include <cstring>
#include <vector>

void SsRepeatSpectrum(Spectrum *spectrum, int f)
{
    if (!spectrum || !spectrum->re || !spectrum->im || f < 1)
        return;
    const int rows = spectrum->rows, cols = spectrum->cols;
    if (rows <= 0 || cols <= 0)
        return;
    const int sr = rows / f, sc = cols / f;
    const size_t n = static_cast<size_t>(rows) * cols;
    std::vector<float> copy(n, 0.0f);
    for (float *plane : {spectrum->re, spectrum->im}) {
        std::fill(copy.begin(), copy.end(), 0.0f);
        for (int a = 0; a < f; ++a)
            for (int k = 0; k < sr; ++k)
                for (int b = 0; b < f; ++b)
                    std::copy_n(plane + static_cast<size_t>(k) * sc, sc,
                                copy.data() + static_cast<size_t>(a * sr + k) * cols +
                                    static_cast<size_t>(b) * sc);
        std::memcpy(plane, copy.data(), sizeof(float) * n);
    }
}
