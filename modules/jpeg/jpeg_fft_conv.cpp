// Overlap-save convolution with a radix-2 FFT. An F x F block of the (periodic) input yields
// (F - S + 1)^2 valid outputs for a kernel of side S: the block is transformed, multiplied by the
// kernel's spectrum and transformed back, and the samples the circular wrap of the block spoiled are
// dropped. Since kernels and images are real, two blocks travel together as the real and imaginary
// parts of one complex block and come back apart in the same two parts.
#include "modules/jpeg/jpeg_fft_conv.h"

#include "platform/errors.h"
#include "platform/messages.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace {

bool IsPowerOfTwo(int n)
{
    return n > 0 && (n & (n - 1)) == 0;
}

int Log2(int n)
{
    int l = 0;
    while ((1 << l) < n)
        ++l;
    return l;
}

// (a mod n) in 0..n-1 for any a.
int Wrap(long a, int n)
{
    const long m = a % n;
    return static_cast<int>(m < 0 ? m + n : m);
}

// block[i] *= spectrum[i], complex, for n values.
void MultiplySpectra(double *block, const double *spectrum, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        const double ar = block[2 * i], ai = block[2 * i + 1];
        const double br = spectrum[2 * i], bi = spectrum[2 * i + 1];
        block[2 * i] = ar * br - ai * bi;
        block[2 * i + 1] = ar * bi + ai * br;
    }
}

} // namespace

JpgKernel2D JpgKernel2D::Rotated90() const
{
    JpgKernel2D r;
    r.side = side;
    // Offsets (dy, dx) -> (dx, -dy): the new row offset runs over the old column offsets, the new
    // column offset over the old row offsets reversed.
    r.centreRow = centreCol;
    r.centreCol = side - 1 - centreRow;
    r.k.assign(k.size(), 0.0f);
    for (int row = 0; row < side; ++row)
        for (int c = 0; c < side; ++c) {
            const int dy = row - centreRow, dx = c - centreCol;
            r.k[static_cast<size_t>(r.centreRow + dx) * side + (r.centreCol - dy)] = At(row, c);
        }
    return r;
}

void CFftConvolution::CalculateTwiddle(int n)
{
    if (n == m_nTwiddleSize)
        return;
    try {
        m_twiddle.assign(static_cast<size_t>(n), 0.0);
    } catch (const std::bad_alloc &) {
        zn::ShowMessage("CalculateTwiddle)-F, Failed to allocate memory");
        throw zn::RunAborted("CalculateTwiddle", zn::kMessageShown);
    }
    const double w = -2.0 * std::acos(-1.0) / n;
    for (int k = 0; k < n / 2; ++k) {
        m_twiddle[2 * k] = std::cos(w * k);
        m_twiddle[2 * k + 1] = std::sin(w * k);
    }
    m_nTwiddleSize = n;
}

void CFftConvolution::Fft(double *data, int n, int sign)
{
    if (!IsPowerOfTwo(n) || n < 2)
        return;
    CalculateTwiddle(n);
    for (int i = 1, j = 0; i < n; ++i) { // bit reversal
        int bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j) {
            std::swap(data[2 * i], data[2 * j]);
            std::swap(data[2 * i + 1], data[2 * j + 1]);
        }
    }
    for (int len = 2; len <= n; len <<= 1) {
        const int half = len / 2, step = n / len;
        for (int start = 0; start < n; start += len)
            for (int k = 0; k < half; ++k) {
                const double wr = m_twiddle[2 * k * step];
                const double wi = sign < 0 ? m_twiddle[2 * k * step + 1] : -m_twiddle[2 * k * step + 1];
                double *a = data + 2 * (start + k), *b = data + 2 * (start + k + half);
                const double tr = b[0] * wr - b[1] * wi, ti = b[0] * wi + b[1] * wr;
                b[0] = a[0] - tr;
                b[1] = a[1] - ti;
                a[0] += tr;
                a[1] += ti;
            }
    }
}

void CFftConvolution::Fft2D(double *data, int n, int sign)
{
    for (int r = 0; r < n; ++r)
        Fft(data + 2L * r * n, n, sign);
    m_column.resize(2 * static_cast<size_t>(n));
    for (int c = 0; c < n; ++c) {
        for (int r = 0; r < n; ++r) {
            m_column[2 * r] = data[2 * (static_cast<long>(r) * n + c)];
            m_column[2 * r + 1] = data[2 * (static_cast<long>(r) * n + c) + 1];
        }
        Fft(m_column.data(), n, sign);
        for (int r = 0; r < n; ++r) {
            data[2 * (static_cast<long>(r) * n + c)] = m_column[2 * r];
            data[2 * (static_cast<long>(r) * n + c) + 1] = m_column[2 * r + 1];
        }
    }
}

int CFftConvolution::BlockSize(int rows, int cols, int side)
{
    int first = 2;
    while (first <= 2 * side)
        first *= 2;
    // Cost of a block side f: log2(f) x (2n + 1) x f^2 for n blocks.
    auto cost = [rows, cols, side](int f) {
        const double step = f - 2.0 * side;
        const double n = (std::floor(rows / step) + 1) * (std::floor(cols / step) + 1);
        return Log2(f) * (2 * n + 1) * static_cast<double>(f) * f;
    };
    double best = cost(first);
    if (best >= 1.0e9)
        return first / 2;
    int f = first;
    while (f < (1 << 14)) {
        const double next = cost(2 * f);
        if (next >= best)
            break;
        best = next;
        f *= 2;
    }
    return f;
}

int CFftConvolution::LineBlockSize(int length)
{
    int n = 256;
    while (n < 2 * length)
        n *= 2;
    return n;
}

void CFftConvolution::Convolve2D(const float *in, float *out, int rows, int cols, const JpgKernel2D &kernel)
{
    const int s = kernel.side;
    if (rows < 1 || cols < 1 || s < 1)
        return;
    const int f = BlockSize(rows, cols, s);
    const int valid = f - s + 1;
    const size_t cells = static_cast<size_t>(f) * f;
    // The kernel's spectrum, with its element (r, c) at block position (r, c): the outputs then sit
    // at positions S - 1 .. F - 1 of the block, for a block starting S - 1 - centre before them.
    std::vector<double> spectrum(2 * cells, 0.0);
    for (int r = 0; r < s; ++r)
        for (int c = 0; c < s; ++c)
            spectrum[2 * (static_cast<size_t>(r) * f + c)] = kernel.At(r, c);
    Fft2D(spectrum.data(), f, -1);

    struct Tile
    {
        int y0, x0;
    };
    std::vector<Tile> tiles;
    for (int y0 = 0; y0 < rows; y0 += valid)
        for (int x0 = 0; x0 < cols; x0 += valid)
            tiles.push_back({y0, x0});

    const double scale = 1.0 / static_cast<double>(cells);
    std::vector<double> block(2 * cells);
    std::vector<int> rowAt(f), colAt(f);
    for (size_t t = 0; t < tiles.size(); t += 2) {
        std::fill(block.begin(), block.end(), 0.0);
        for (int part = 0; part < 2 && t + part < tiles.size(); ++part) {
            const Tile &tile = tiles[t + part];
            for (int j = 0; j < f; ++j) {
                rowAt[j] = Wrap(static_cast<long>(tile.y0) - (s - 1 - kernel.centreRow) + j, rows);
                colAt[j] = Wrap(static_cast<long>(tile.x0) - (s - 1 - kernel.centreCol) + j, cols);
            }
            for (int j = 0; j < f; ++j) {
                const float *src = in + static_cast<size_t>(rowAt[j]) * cols;
                double *dst = block.data() + 2 * static_cast<size_t>(j) * f + part;
                for (int i = 0; i < f; ++i)
                    dst[2 * i] = src[colAt[i]];
            }
        }
        Fft2D(block.data(), f, -1);
        MultiplySpectra(block.data(), spectrum.data(), cells);
        Fft2D(block.data(), f, +1);
        for (int part = 0; part < 2 && t + part < tiles.size(); ++part) {
            const Tile &tile = tiles[t + part];
            for (int j = 0; j < valid && tile.y0 + j < rows; ++j) {
                const double *src = block.data() + 2 * (static_cast<size_t>(j + s - 1) * f + (s - 1)) + part;
                float *dst = out + static_cast<size_t>(tile.y0 + j) * cols + tile.x0;
                for (int i = 0; i < valid && tile.x0 + i < cols; ++i)
                    dst[i] = static_cast<float>(src[2 * i] * scale);
            }
        }
    }
}

void CFftConvolution::ConvolveLines(const float *in, float *out, int count, int length, long along,
                                    long between, const float *kernel, int klen, int centre)
{
    if (count < 1 || length < 1 || klen < 1)
        return;
    const int n = LineBlockSize(klen);
    const int valid = n - klen + 1;
    // The kernel is scaled by 1/n beforehand, so the inverse transform needs no normalisation.
    std::vector<double> spectrum(2 * static_cast<size_t>(n), 0.0);
    for (int i = 0; i < klen; ++i)
        spectrum[2 * i] = kernel[i] / static_cast<double>(n);
    Fft(spectrum.data(), n, -1);
    std::vector<double> block(2 * static_cast<size_t>(n));
    for (int line = 0; line < count; line += 2) {
        const int pair = std::min(2, count - line);
        for (int x0 = 0; x0 < length; x0 += valid) {
            std::fill(block.begin(), block.end(), 0.0);
            for (int part = 0; part < pair; ++part) {
                const float *src = in + (line + part) * between;
                for (int i = 0; i < n; ++i)
                    block[2 * i + part] =
                        src[Wrap(static_cast<long>(x0) - (klen - 1 - centre) + i, length) * along];
            }
            Fft(block.data(), n, -1);
            MultiplySpectra(block.data(), spectrum.data(), static_cast<size_t>(n));
            Fft(block.data(), n, +1);
            for (int part = 0; part < pair; ++part) {
                float *dst = out + (line + part) * between;
                for (int i = 0; i < valid && x0 + i < length; ++i)
                    dst[(x0 + i) * along] = static_cast<float>(block[2 * (i + klen - 1) + part]);
            }
        }
    }
}

void CFftConvolution::ConvolveRows(const float *in, float *out, int rows, int cols, const float *kernel,
                                   int length, int centre)
{
    ConvolveLines(in, out, rows, cols, 1, cols, kernel, length, centre);
}

void CFftConvolution::ConvolveColumns(const float *in, float *out, int rows, int cols, const float *kernel,
                                      int length, int centre)
{
    ConvolveLines(in, out, cols, rows, cols, 1, kernel, length, centre);
}
