// The codebook image: one float picture that carries a whole VQ codebook, every rate of a range.
// Row 0 starts with a header (w, h, rmin, rmax); the code vectors of each rate follow in bands of h
// rows, left to right, every rate from the left edge of a fresh band. The same walk that places the
// vectors finds them again, so writer and reader share one cursor.
#pragma once

#include "image/img.h"
#include "image/znimage.h"

#include <string>
#include <vector>

// Rates a codebook may hold: 2^12 code vectors is the largest search the module offers.
inline constexpr int kVqMinRate = 1;
inline constexpr int kVqMaxRate = 12;
// Columns the header takes in row 0.
inline constexpr int kVqHeaderCols = 4;

struct VqCodebookHeader
{
    int w = 0; // vector width in pixels
    int h = 0; // vector height
    int rmin = 0;
    int rmax = 0;
    int Dim() const { return w * h; }
};

// Where the next code vector goes: band b covers rows b*h .. b*h+h-1. The first vector sits right of
// the header; a vector at column x is followed by one at x + w while x + 2w fits the width, else the
// next band starts at column 0.
class VqPlacement
{
public:
    VqPlacement(int w, int cols) : m_w(w), m_cols(cols) {}
    int Band() const { return m_band; }
    int Col() const { return m_x; }
    void Advance();
    // After the last vector of a rate: the next rate begins at the left edge of a band.
    void EndRate();

private:
    int m_w;
    int m_cols;
    int m_band = 0;
    int m_x = kVqHeaderCols;
};

// Size of the codebook image a design writes. Up to 8 pixels wide or up to rate 6 each rate takes one
// band as wide as the largest rate; wider vectors at higher rates fold into bands of 64 vectors (with
// four spare columns for rates 8 and 10, a quirk of the format kept for compatible files).
void VqCodebookSize(int w, int h, int rmin, int rmax, int *rows, int *cols);

// Reads and checks the header of a codebook image: sizes of at least 1, rates within 1..12 and in
// order, and every code vector of every rate inside the picture. Returns "" when the codebook can be
// used, otherwise why not (for the user).
std::string VqReadHeader(const Img *codebook, VqCodebookHeader *header);
inline std::string VqReadHeader(const ZnImage &codebook, VqCodebookHeader *header)
{
    return VqReadHeader(codebook.img, header);
}

// The 2^rate code vectors of one rate, each w*h components row by row, one after another. The header
// must have passed VqReadHeader and rate lie within its range.
std::vector<float> VqGetRateVectors(const Img *codebook, const VqCodebookHeader &header, int rate);
inline std::vector<float> VqGetRateVectors(const ZnImage &codebook, const VqCodebookHeader &header, int rate)
{
    return VqGetRateVectors(codebook.img, header, rate);
}

// Writes the vectors of one rate at the cursor and leaves it at the start of the next rate.
void VqPutRateVectors(ZnImage *codebook, const VqCodebookHeader &header, int rate, const float *vectors,
                      VqPlacement *cursor);
