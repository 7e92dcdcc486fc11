// CFftConvolution: circular convolution of an image with 2-D kernels and, along its rows or its
// columns, with 1-D kernels, done blockwise with FFTs (overlap-save). The perceptual model filters
// every level of its filter bank with kernels far too large for direct convolution to be quick.
#pragma once

#include <cstddef>
#include <vector>

// A 2-D kernel held in a square of side `side`: element (r, c) is k[r * side + c] and sits at offset
// (r - centreRow, c - centreCol) from the output sample.
struct JpgKernel2D
{
    int side = 0;
    int centreRow = 0;
    int centreCol = 0;
    std::vector<float> k;

    float At(int r, int c) const { return k[static_cast<size_t>(r) * side + c]; }
    // The kernel turned by 90 degrees: the value at offset (dy, dx) moves to (dx, -dy).
    JpgKernel2D Rotated90() const;
};

class CFftConvolution
{
public:
    // out(y, x) = sum over the kernel's offsets (u, v) of k(u, v) in((y - u) mod rows, (x - v) mod cols):
    // the image is periodic in both directions. in and out are rows x cols, row by row.
    void Convolve2D(const float *in, float *out, int rows, int cols, const JpgKernel2D &kernel);
    // The same with a 1-D kernel of `length` taps whose element `centre` sits at offset 0, along
    // every row (each row periodic) or along every column.
    void ConvolveRows(const float *in, float *out, int rows, int cols, const float *kernel, int length,
                      int centre);
    void ConvolveColumns(const float *in, float *out, int rows, int cols, const float *kernel, int length,
                         int centre);

    // The FFT block side for a rows x cols image and a kernel of side `side`: from the smallest power
    // of two above twice the side, doubled while the estimated cost falls.
    static int BlockSize(int rows, int cols, int side);
    // Block length of the 1-D convolutions.
    static int LineBlockSize(int length);

    // In-place radix-2 FFT of n complex values (re, im interleaved), n a power of two. sign -1 is the
    // forward transform, +1 the inverse; neither is normalised.
    void Fft(double *data, int n, int sign);
    int TwiddleSize() const { return m_nTwiddleSize; }

private:
    // The table of exp(-2 pi i k / n), kept until the size changes.
    void CalculateTwiddle(int n);
    void Fft2D(double *data, int n, int sign);
    void ConvolveLines(const float *in, float *out, int count, int length, long along, long between,
                       const float *kernel, int klen, int centre);

    std::vector<double> m_twiddle;
    int m_nTwiddleSize = 0;
    std::vector<double> m_column;
};
