// Header, depths, domain grids, tiling and the quantised grey-level map of the fractal coder.
#include "modules/fractal/fic_geometry.h"

#include "modules/fractal/fic_bits.h"
#include "platform/format.h"

#include <cmath>

void FicWriteHeader(FicBitWriter &w, const FicHeader &h)
{
    w.Write(static_cast<uint32_t>(h.sb), 4);
    w.Write(static_cast<uint32_t>(h.ob), 4);
    w.Write(static_cast<uint32_t>(h.dmin), 4);
    w.Write(static_cast<uint32_t>(h.dmax), 4);
    w.Write(static_cast<uint32_t>(h.domainStep), 4);
    w.Write(static_cast<uint32_t>(h.stepType), 1);
    w.Write(static_cast<uint32_t>(h.domainType), 2);
    w.Write(static_cast<uint32_t>(h.cols), 12);
    w.Write(static_cast<uint32_t>(h.rows), 12);
}

FicHeader FicReadHeader(FicBitReader &r)
{
    FicHeader h;
    h.sb = static_cast<int>(r.Read(4));
    h.ob = static_cast<int>(r.Read(4));
    h.dmin = static_cast<int>(r.Read(4));
    h.dmax = static_cast<int>(r.Read(4));
    h.domainStep = static_cast<int>(r.Read(4));
    h.stepType = static_cast<int>(r.Read(1));
    h.domainType = static_cast<int>(r.Read(2));
    h.cols = static_cast<int>(r.Read(12));
    h.rows = static_cast<int>(r.Read(12));
    return h;
}

int FicLog2(int v)
{
    int l = 0;
    while (v > 1) {
        v >>= 1;
        ++l;
    }
    return l;
}

int FicDepthOfBlock(int cols, int rows, int block)
{
    const auto depth = [block](int side) {
        return static_cast<int>(std::log(static_cast<double>(side) / block) / std::log(2.0) + 0.001);
    };
    const int dc = depth(cols), dr = depth(rows);
    return dc < dr ? dc : dr;
}

std::vector<FicLevel> FicMakeLevels(const FicHeader &h)
{
    std::vector<FicLevel> levels;
    if (h.cols < 1 || h.rows < 1 || h.dmin < 1 || h.dmax < h.dmin || h.domainType > 2)
        return {};
    const int L = FicDepthRoot(h.cols, h.rows);
    if (h.dmax > L)
        return {};
    for (int d = h.dmin; d <= h.dmax; ++d) {
        const int i = d - h.dmin;
        FicLevel lv;
        lv.side = (1 << L) >> (d - 1);
        long step = 0;
        switch (h.domainType) {
        case 0:
            step =
                h.stepType == 0 ? (h.domainStep ? lv.side / h.domainStep : 0) : long{lv.side} * h.domainStep;
            break;
        case 1: {
            const int unit = (1 << L) >> (h.dmax - i - 1);
            step = h.stepType == 0 ? (h.domainStep ? unit / h.domainStep : 0) : long{unit} * h.domainStep;
            break;
        }
        default:
            step = h.domainStep;
            break;
        }
        if (step < 1 || lv.side < 2 || lv.side > h.cols || lv.side > h.rows)
            return {};
        if (step > kFicMaxSide) // one domain per row or column either way
            step = kFicMaxSide + 1;
        lv.hstep = lv.vstep = static_cast<int>(step);
        lv.hcount = (h.cols - lv.side) / lv.hstep + 1;
        lv.vcount = (h.rows - lv.side) / lv.vstep + 1;
        const long n = long{lv.hcount} * lv.vcount;
        while ((1L << lv.bits) < n)
            ++lv.bits;
        levels.push_back(lv);
    }
    return levels;
}

namespace {

// fic_tile_image's walk over the rectangle (x, y, w, h).
void Tile(int x, int y, int w, int h, int L, std::vector<FicSquare> *out)
{
    for (;;) {
        const int s = FicLog2(w < h ? w : h);
        const int S = 1 << s;
        out->push_back({x, y, S, L - s});
        if (S < w)
            Tile(x + S, y, w - S, h, L, out);
        if (S == h)
            return;
        y += S;
        h -= S;
        w = S;
    }
}

} // namespace

std::vector<FicSquare> FicTiling(int cols, int rows)
{
    std::vector<FicSquare> squares;
    if (cols < 1 || rows < 1)
        return squares;
    Tile(0, 0, cols, rows, FicDepthRoot(cols, rows), &squares);
    return squares;
}

std::string FicHeaderProblem(const FicHeader &h, int rows, int cols)
{
    if ((rows >= 0 && h.rows != rows) || (cols >= 0 && h.cols != cols))
        return zn::Format("the code is of a %i x %i image, not of this %i x %i image", h.cols, h.rows, cols,
                          rows);
    if (h.sb < 1 || h.sb > 8 || h.ob < 1 || h.ob > 8)
        return "its grey-level map needs 1 to 8 bits for scale and offset";
    if (h.cols < 4 || h.rows < 4)
        return "its image is too small";
    const int L = FicDepthRoot(h.cols, h.rows);
    if (h.dmin < 1 || h.dmin > h.dmax || h.dmax > L - 1)
        return zn::Format("its quadtree depths %i to %i do not fit an image of depth %i", h.dmin, h.dmax, L);
    if (FicMakeLevels(h).empty())
        return "its domain grid does not fit the image";
    for (const FicSquare &sq : FicTiling(h.cols, h.rows))
        if (sq.depth > h.dmax)
            return "its image sides cannot be tiled with blocks of the smallest size";
    return {};
}

int FicZeroIndex(int sb)
{
    return static_cast<int>(0.5 + std::ldexp(1.0, sb) / 2);
}

int FicScaleIndex(double s, int sb)
{
    const int levels = 1 << sb;
    const double t = (s + 1) / 2 * levels + 0.5;
    if (!(t > 0)) // also NaN
        return 0;
    if (t >= levels)
        return levels - 1;
    return static_cast<int>(t);
}

double FicScale(int index, int sb)
{
    return static_cast<double>(index) / (1 << sb) * 2 - 1;
}

int FicOffsetIndex(double o, double S, int ob)
{
    const int top = (1 << ob) - 1;
    const double K = (std::fabs(S) + 1) * 255;
    const double t = S > 0 ? top * (o + 255 * S) / K + 0.5 : top * o / K + 0.5;
    if (!(t > 0))
        return 0;
    if (t >= top)
        return top;
    return static_cast<int>(t);
}

double FicOffset(int index, double S, int ob)
{
    const int top = (1 << ob) - 1;
    const double K = (std::fabs(S) + 1) * 255;
    const double O = K * index / top;
    return S > 0 ? O - 255 * S : O;
}
