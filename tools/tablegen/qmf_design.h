// Two-band linear-phase QMF banks. The low-pass filter h (even length N, symmetric) splits a line;
// the high-pass filter is h with every odd tap negated, so its aliasing cancels in the merge.
// Normalisation: sum h = 1, so that the merge with taps 2h rebuilds the input when
// |H(w)|^2 + |H(w + pi)|^2 = 1; linear-phase QMF banks meet this only approximately (except Haar),
// and the design trades that reconstruction ripple against stop-band energy.
#pragma once

#include <vector>

namespace tablegen {

struct QmfDesign
{
    int taps;          // even
    double stopEdge;   // start of the stop band as a fraction of pi (above 0.5)
    double stopWeight; // weight of stop-band energy against reconstruction ripple
};

std::vector<double> DesignQmf(const QmfDesign &design);

// Largest deviation of |H(w)|^2 + |H(w + pi)|^2 from 1, in dB, and the peak stop-band gain in dB.
double QmfRippleDb(const std::vector<double> &h);
double QmfStopbandDb(const std::vector<double> &h, double stopEdge);

} // namespace tablegen
