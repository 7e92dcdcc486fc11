// Window arithmetic of the image windows: aspect fit, display maxima and result-window positions.
#include "shell/window_placement.h"

#include <algorithm>
#include <cmath>

namespace zn {

WinSize AspectFit(int w, int h, int w0, int h0, int mw, int mh)
{
    w = std::max(w, std::min(w0, mw));
    h = std::max(h, std::min(h0, mh));
    if (w0 <= 0 || h0 <= 0)
        return {w, h};
    const double r = static_cast<double>(h0) / w0;
    const float hf = static_cast<float>(h);
    if (r * (w + 1) < hf)
        h = static_cast<int>(r * w);
    else if ((h + 1) / r < w)
        w = static_cast<int>(hf / r);
    return {w, h};
}

WinSize MaxDisplaySize(int clientW, int clientH, int menuBarH, int dlgFrame, int cx, int cy)
{
    // C++ integer division truncates toward zero, as the halving must.
    return {(clientW - 256) / 2 - cx, (clientH - 2 * (menuBarH + dlgFrame)) / 2 - cy};
}

WinSize InitialDisplaySize(int w0, int h0, int maxW, int maxH)
{
    if (w0 <= maxW && h0 <= maxH)
        return {w0, h0};
    return AspectFit(std::min(w0, maxW), std::min(h0, maxH), w0, h0, maxW, maxH);
}

WinPos ResultAPosition(const PlacementMetrics &pm, bool sequence)
{
    return {pm.rRight - pm.dx + (sequence ? 0 : 2), 0};
}

WinPos ResultBPosition(const PlacementMetrics &pm, bool sequence)
{
    return {pm.rRight - pm.dx + (sequence ? 0 : 2), pm.rBottom - pm.dy3};
}

WinPos FirstChainPosition(const PlacementMetrics &pm)
{
    return {0, pm.rBottom - pm.dy3};
}

WinPos NextChainPosition(const PlacementMetrics &pm, int lx, int ly)
{
    const int m = pm.m;
    const bool pastRight = lx + m > pm.W - m;
    if (ly - 2 * m > pm.H - m)
        return {pastRight ? 2 * m : lx + m, pm.rBottom - 2 * m};
    if (pastRight)
        return {2 * m, pm.rBottom - 2 * m};
    return {lx + m, ly - 2 * m};
}

WinPos LegendPosition(const PlacementMetrics &pm, bool f1, bool f2, bool f3, bool f4)
{
    const int count = int(f1) + int(f2) + int(f3) + int(f4);
    const int low = pm.rBottom - pm.dy3;
    if (count >= 3)
        return {2 * pm.rRight - pm.dx - 5, low};
    if (!f1 && !f4)
        return {pm.rRight - pm.dx, 0};
    if ((f1 && f2) || (f1 && f4) || (f2 && f4))
        return {pm.rRight - pm.dx, low};
    return {0, low}; // f1 or f4 alone, or with f3
}

WinPos ResultDPosition(const PlacementMetrics &pm, bool g1, bool g2, bool g3)
{
    if (!g1)
        return {pm.rRight - pm.dx, 0};
    if (!g2)
        return {0, pm.rBottom - pm.dy3};
    if (!g3)
        return {pm.rRight - pm.dx, pm.rBottom - pm.dy3};
    return {2 * pm.rRight - pm.dx - 5, 0};
}

bool IsPowerOfTwo(int x)
{
    if (x <= 0)
        return false;
    const int n = static_cast<int>(std::log10(static_cast<double>(x)) / std::log10(2.0));
    return n < 31 && (1 << n) == x;
}

} // namespace zn
