// Tapering windows. A window applied before an FFT trades a wider main lobe for lower side lobes, so
// the spectrum of a finite image shows less leakage from its borders.
#include "image/numeric.h"

#include "platform/messages.h"

#include <cmath>

double MakeTapering(float *window, int n, int type)
{
    if (type < TAPER_RECT || type > TAPER_HAMMING) {
        zn::ShowMessage("MakeTapering - Invalid window specification");
        return 0;
    }
    if (type == TAPER_RECT) {
        for (int i = 0; i < n; ++i)
            window[i] = 1.0f;
        return n;
    }
    // The constants are single-precision values; the arithmetic runs in double.
    const double twoPi = 6.2831855f;
    const double a = 0.54f, b = 0.46f;
    double energy = 0;
    for (int i = 0; i < n; ++i) {
        // A length-1 window has no span; take its single sample at the centre (t = 1/2).
        double t = n > 1 ? static_cast<double>(i) / (n - 1) : 0.5;
        double w = 0;
        switch (type) {
        case TAPER_TRIANGLE:
            w = 1.0 - std::fabs(1.0 - 2.0 * t);
            break;
        case TAPER_HANN:
            w = 0.5 * (1.0 - std::cos(twoPi * t));
            break;
        case TAPER_HAMMING:
            w = a - b * std::cos(twoPi * t);
            break;
        }
        window[i] = static_cast<float>(w);
        energy += static_cast<double>(window[i]) * window[i];
    }
    return energy;
}
