// The geometry both sides of the fractal coder agree on: the 47-bit header, the depths of the
// quadtree, the domain grid of every depth, the tiling of the image into power-of-two squares, the
// eight orientations of a block and the quantised grey-level map S * d + O.
#pragma once

#include <string>
#include <vector>

class FicBitReader;
class FicBitWriter;

constexpr int kFicHeaderBits = 47;
constexpr int kFicMaxSide = 4095; // 12-bit size fields

struct FicHeader
{
    int sb = 0;         // bits of the scale index
    int ob = 0;         // bits of the offset index
    int dmin = 0;       // shallower blocks are always split
    int dmax = 0;       // blocks at this depth are never split
    int domainStep = 1; // the encoder's domain grid: step Dd, domains side by side
    int stepType = 0;
    int domainType = 0;
    int cols = 0;
    int rows = 0;
};
void FicWriteHeader(FicBitWriter &w, const FicHeader &h);
FicHeader FicReadHeader(FicBitReader &r);

// floor(log2 v) for v >= 1.
int FicLog2(int v);
// L: the depth-0 square is the largest power of two inside both sides.
inline int FicDepthRoot(int cols, int rows)
{
    return FicLog2(cols < rows ? cols : rows);
}
// The depth at which blocks of side `block` appear: the smaller over both sides of
// trunc(log2(side / block) + 0.001); the 0.001 keeps exact powers of two from rounding down.
int FicDepthOfBlock(int cols, int rows, int block);

// Domain grid of one depth: domains of side Dd (twice the range side) at multiples of the steps.
struct FicLevel
{
    int side = 0; // Dd
    int hstep = 0, vstep = 0;
    int hcount = 0, vcount = 0;
    int bits = 0; // bits of a domain index: ceil(log2(hcount * vcount))
};
// The grids of depths dmin..dmax, or an empty vector when the header's fields give a grid that does
// not fit the image (a zero step, a domain larger than the image, an unknown domain type).
std::vector<FicLevel> FicMakeLevels(const FicHeader &h);

// Squares of the tiling in coding order: the largest power-of-two square in the corner, the strip to
// its right tiled at full height, then the part below it at its width.
struct FicSquare
{
    int x, y, side, depth;
};
std::vector<FicSquare> FicTiling(int cols, int rows);

// Why a header cannot be decoded into (or coded from) an image of rows x cols; empty when it can.
// rows or cols below 0 accept the header's own size.
std::string FicHeaderProblem(const FicHeader &h, int rows, int cols);

// The grey-level map. Scales run from -1 to 1 - 2^(1 - sb) in steps of 2^(1 - sb); the zero index
// stands for S = 0, a flat block that needs neither orientation nor domain.
int FicZeroIndex(int sb);
int FicScaleIndex(double s, int sb);
double FicScale(int index, int sb);
// Offsets are spread over a range of (|S| + 1) * 255, shifted down by 255 S for a positive scale,
// so that every reachable value of S * d + O for d in 0..255 stays coverable.
int FicOffsetIndex(double o, double S, int ob);
double FicOffset(int index, double S, int ob);

// Range pixel (X, Y) of a b x c range pairs with domain sample (U, V) under orientation o: the four
// rotations and their four mirror images.
inline void FicOrient(int o, int X, int Y, int b, int c, int *U, int *V)
{
    switch (o & 7) {
    case 0:
        *U = X;
        *V = Y;
        break;
    case 1:
        *U = Y;
        *V = b - 1 - X;
        break;
    case 2:
        *U = b - 1 - X;
        *V = c - 1 - Y;
        break;
    case 3:
        *U = c - 1 - Y;
        *V = X;
        break;
    case 4:
        *U = Y;
        *V = X;
        break;
    case 5:
        *U = X;
        *V = c - 1 - Y;
        break;
    case 6:
        *U = c - 1 - Y;
        *V = b - 1 - X;
        break;
    default:
        *U = b - 1 - X;
        *V = Y;
        break;
    }
}
