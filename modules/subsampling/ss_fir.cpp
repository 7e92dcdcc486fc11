// Anti-alias filter design by the window method: the ideal low-pass impulse response
// sin(2 pi fc t) / (pi t) is cut to n taps and tapered, which trades a wider transition band for
// far smaller side lobes than plain truncation (Gibbs ripple) would leave.
#include "modules/subsampling/ss_engine.h"

#include "image/numeric.h"
#include "image/tables.h"
#include "platform/messages.h"

#include <cmath>
#include <vector>

void SsMakeFIR(Filt **filt, int n, float fc, int windowType)
{
    *filt = nullptr;
    // Odd lengths only: the filter then has a centre tap and delays every frequency by a whole
    // number of samples, so the decimated grid stays aligned with the input grid.
    if (n < 1 || n % 2 == 0) {
        zn::ShowMessage("SsMakeFIR - only odd lengths supported");
        return;
    }
    std::vector<float> window;
    try {
        window.resize(n);
    } catch (const std::bad_alloc &) {
        zn::ShowMessage("SsMakeFIR - not enough memory");
        return;
    }
    MakeTapering(window.data(), n, windowType);

    AllocFilt1d(filt, n, 1, FILT_FIR);
    std::vector<float> &c = (*filt)->coef1;
    const int h = n / 2;
    const float w = 6.2831855f * fc; // angular cut-off, single precision as the table of taps is
    const double pi = 3.1415927f;
    c[h] = w * 0.31830987f; // the limit of sin(w t) / (pi t) at t = 0: 2 fc
    double sum = c[h];
    for (int i = 0; i < h; ++i) {
        const int t = i - h;
        const float tw = static_cast<float>(t) * w;
        c[i] = static_cast<float>(std::sin(static_cast<double>(tw)) * window[i] / (t * pi));
        c[n - 1 - i] = c[i];
        sum += 2.0 * c[i];
    }
    // Unit gain at frequency 0: a flat area keeps its grey level.
    for (float &v : c)
        v = static_cast<float>(v / sum);
}
