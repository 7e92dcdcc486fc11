// Numeric toolkit shared by the coding modules: tapering windows, the in-place N-dimensional FFT and
// windowed image spectra, vectors and matrices over arbitrary index ranges, LU solving of the normal
// equations, and row-pointer tables that address a plane (or a window of it) as a 2-D array.
// Memory belongs to the caller and is released with the matching Free routine.
#pragma once

#include "image/img.h"

#include <cstdint>

// ---- Tapering windows -------------------------------------------------------------------------------
constexpr int TAPER_RECT = 0;
constexpr int TAPER_TRIANGLE = 1;
constexpr int TAPER_HANN = 2;
constexpr int TAPER_HAMMING = 3;

// Fills window[0..n-1]; returns the sum of the squared values (the window's energy), n for type 0.
double MakeTapering(float *window, int n, int type);

// ---- Spectra ----------------------------------------------------------------------------------------
// A complex spectrum, row-major, row 0 first. The leading integer mirrors the representation field
// of a vector field so both records are released alike.
struct Spectrum
{
    int32_t zero = 0;
    float *re = nullptr;
    float *im = nullptr;
    int32_t rows = 0;
    int32_t cols = 0;
};

void AllocSpectrum(Spectrum **spectrum, int rows, int cols);
// Releases both planes and the record (null allowed).
void FreeSpectrum(Spectrum *spectrum);

// In-place radix-2 FFT of an ndim-dimensional complex array. data is 1-based and interleaved
// (data[1] = re, data[2] = im of the first value), last dimension fastest; sizes is 1-based and each
// size must be a power of two. X(k) = sum x(n) exp(sign * 2 pi i n.k / N), no normalisation.
// Returns false (and leaves data untouched) when a size is not a power of two.
bool FourierND(float *data, const int *sizes, int ndim, int sign);

// Windowed 2-D spectrum of plane 0 of img into the first rows x cols samples of spectrum.
void ImgFFT(const Img *img, Spectrum *spectrum, int windowType);

// Moves frequency 0 to (rows/2, cols/2): swaps the diagonal quadrants of both planes.
void SwapQuadrants(Spectrum *spectrum);

// The log power image of a spectrum is ZnImage::LogPowerSpectrum (image/znimage.h).

// ---- Offset vectors and matrices -------------------------------------------------------------------
// v[lo..hi] is valid; the pointer is shifted so index lo reaches the first element.
float *vector(long lo, long hi);
int *IntVector(long lo, long hi);
void FreeVector(float *v, long lo, long hi);
void FreeIntVector(int *v, long lo, long hi);
// m[rl..rh][cl..ch], one block per row.
float **matrix(long rl, long rh, long cl, long ch);
void FreeMatrix(float **m, long rl, long rh, long cl, long ch);

// Crout LU decomposition with implicit partial pivoting of a[1..n][1..n], in place. indx[1..n] gets
// the row permutation, *d +1 or -1 by the parity of the row exchanges.
// Returns 0, or 1 when a row is all zeros: the message is shown and a is left as it was, since a
// zero row has no pivot to scale by and would only fill the system with infinities.
int ludcmp(float **a, int n, int *indx, float *d);
// Solves A x = b with the decomposition of ludcmp; b[1..n] is replaced by x.
void LuBackSubst(float **a, int n, const int *indx, float *b);

// ---- Row-pointer tables -----------------------------------------------------------------------------
// table[r] for r in [rl..rh] points so that element c (in [cl..ch], counted in elements of the
// representation: 1 byte for 0, 4 bytes for 1 and 2) of the row is the plane element. Cast the row
// with IndexRow<T>. The table owns only itself; release it with FreeIndexArray.
void **IndexArray(void *plane, int rep, int rl, int rh, int cl, int ch);
// As IndexArray, over a window of a larger plane: row r starts at element offset + (r - rl) * stride.
void **IndexSubArray(void *plane, int rep, long offset, long stride, int rl, int rh, int cl, int ch);
void FreeIndexArray(void **table, int rl);

template <class T> inline T *IndexRow(void **table, int r)
{
    return static_cast<T *>(table[r]);
}
