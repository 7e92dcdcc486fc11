// Block classes of the fractal coder. A block is split into four quadrants; the order of their
// brightness gives a first class (0..2) and an orientation (0..7) that turns the brightest quadrant
// into the top left corner, and the order of their spreads, seen in that turned frame, gives a
// second class (0..23). Ranges are only compared with domains of the same class pair, already
// turned into the same frame, so the search covers a small fraction of the domains.
#pragma once

#include <array>

struct FicBlockClass
{
    int first = 0;  // 0..2
    int second = 0; // 0..23
    int orientation = 0;
    double sum = 0;   // of the block's samples
    double sumSq = 0; // of their squares
};

// fic_block_class on quadrant sums: s and t of the quadrants at the top left, bottom left, bottom
// right and top right (in this order), n samples each. The sums come from fic_quadrant_sums_full
// (image pixels of a range) or fic_quadrant_sums_half (half-resolution samples of a domain).
FicBlockClass fic_block_class(const std::array<double, 4> &s, const std::array<double, 4> &t, double n);

// Sums of a range's quadrants on the image (bytes, stride cols): block b x c at (x, y).
void fic_quadrant_sums_full(const unsigned char *image, int cols, int x, int y, int b, int c,
                            std::array<double, 4> *s, std::array<double, 4> *t);
// Sums of a domain's quadrants on a half-resolution copy (stride halfCols): domain of side dd at
// (x, y) of the image, its samples from row y / 2 and column x / 2 of the copy.
void fic_quadrant_sums_half(const double *half, int halfCols, int x, int y, int dd, std::array<double, 4> *s,
                            std::array<double, 4> *t);

// The list that holds the domains fitting a range with a negative scale: its second class and the
// range orientation to use with it.
int FicNegativeSecondClass(int first, int second);
int FicNegativeOrientation(int first, int orientation);

// The orientation that maps a range of orientation r onto a domain of orientation q: both are turned
// to the frame of their brightest quadrant, so the match undoes one and applies the other.
inline int FicMatchOrientation(int r, int q)
{
    if ((r < 4) == (q < 4))
        return (q % 4 - r % 4 + 4) % 4;
    return ((q % 4) + 12 - 3 * (r % 4)) % 4 + 4;
}
