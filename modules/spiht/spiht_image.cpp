// Wavelet image of the SPIHT coder. The 9/7 filters run on one work line with four spare places per
// side holding the symmetric extension, so no filter tap needs a bounds check.
#include "modules/spiht/spiht_image.h"
#include "modules/spiht/spiht_arith.h"

#include "image/znimage.h"
#include "platform/log.h"

#include <algorithm>
#include <bit>
#include <ctime>
#include <string>

// Symmetric extension about the end samples, which are not repeated.
void reflect(float *s, int n)
{
    for (int k = 1; k <= 4; ++k) {
        s[-k] = s[k];
        s[n - 1 + k] = s[n - 1 - k];
    }
}

namespace {

inline float LowA(const float *s, int p)
{
    return 0.852699f * s[p] + 0.377403f * (s[p - 1] + s[p + 1]) - 0.110624f * (s[p - 2] + s[p + 2]) -
           0.023849f * (s[p - 3] + s[p + 3]) + 0.037829f * (s[p - 4] + s[p + 4]);
}
inline float HighA(const float *s, int q)
{
    return 0.788485f * s[q] - 0.418092f * (s[q - 1] + s[q + 1]) - 0.04069f * (s[q - 2] + s[q + 2]) +
           0.064539f * (s[q - 3] + s[q + 3]);
}
inline float EvenS(const float *t, int p)
{
    return 0.788485f * t[p] - 0.377403f * (t[p - 1] + t[p + 1]) - 0.04069f * (t[p - 2] + t[p + 2]) +
           0.023849f * (t[p - 3] + t[p + 3]);
}
inline float OddS(const float *t, int q)
{
    return 0.852699f * t[q] + 0.418092f * (t[q - 1] + t[q + 1]) - 0.110624f * (t[q - 2] + t[q + 2]) -
           0.064539f * (t[q - 3] + t[q + 3]) + 0.037829f * (t[q - 4] + t[q + 4]);
}

// Analysis of n samples in line (with spare places) into out: low-pass f x L at k, high-pass at n/2 + k.
template <class Put> void AnalyseLine(float *line, int n, float f, Put put)
{
    reflect(line, n);
    for (int k = 0; k < n / 2; ++k) {
        put(k, f * LowA(line, 2 * k));
        put(n / 2 + k, HighA(line, 2 * k + 1));
    }
}

} // namespace

void chronometer::start(const char *message)
{
    if (message)
        zn::Log(zn::LogLevel::Info, std::string(message) + "\n");
    m_start = std::clock();
    m_running = true;
}

void chronometer::stop()
{
    if (m_running)
        m_ticks += std::clock() - m_start;
    m_running = false;
}

int SpihtPaddedSide(int a)
{
    return a < 256 ? ((a + 7) & 0x3FF8) : ((a + 15) & 0x3FF0);
}

int transform_levels(int a)
{
    if (a <= 0)
        return 0;
    const int t = std::countr_zero(static_cast<unsigned>(a));
    const int b = std::bit_width(static_cast<unsigned>(a));
    return std::max(0, std::min(t, b - 4));
}

int transform_levels(int pw, int ph)
{
    return std::min(transform_levels(pw), transform_levels(ph));
}

int tree_levels(int a)
{
    if (a <= 0)
        return 0;
    const int t = std::countr_zero(static_cast<unsigned>(a));
    const int b = std::bit_width(static_cast<unsigned>(a));
    return std::min(t, b - 2) - 1;
}

float SpihtSmoothingFactor(int smoothing, int level)
{
    return 0.8f * static_cast<float>(smoothing) / static_cast<float>(level * level + 2) + 1.0f;
}

void Image_BW::resize(int nx, int ny, int bytes)
{
    if (bytes < 1 || bytes > 2)
        SpihtDiagnostic("Invalid number of < Image_BW > bytes");
    if (m_levels >= 0 && nx == m_nx && ny == m_ny)
        return;
    release();
    if (nx < 64 || ny < 64)
        SpihtDiagnostic("< Image_BW > dimension is too small or negative");
    m_nx = nx;
    m_ny = ny;
    m_pw = SpihtPaddedSide(nx);
    m_ph = SpihtPaddedSide(ny);
    m_bytes = bytes;
    m_data.assign(static_cast<std::size_t>(m_pw) * m_ph, 0.0f);
    m_levels = 0;
}

void Image_BW::release()
{
    m_data.clear();
    m_data.shrink_to_fit();
    m_nx = m_ny = m_pw = m_ph = 0;
    m_bytes = 0;
    m_levels = -1;
}

void Image_BW::read_image(const ZnImage &image)
{
    resize(image.Cols(), image.Rows(), 1);
    m_levels = 0;
    m_dcMean = 0;
    m_bytes = 1;
    const int nx = m_nx, ny = m_ny;
    const float *src = image.Data();
    for (int y = 0; y < ny; ++y)
        for (int x = 0; x < nx; ++x)
            at(x, y) = src[static_cast<std::size_t>(y) * nx + x];
    // Rows below the picture, each a smoothed copy of the one above. A one-sample side has no
    // neighbours to average: its padding repeats the sample.
    for (int y = ny; y < m_ph; ++y) {
        if (nx == 1) {
            at(0, y) = at(0, y - 1);
            continue;
        }
        at(0, y) = (at(1, y - 1) + at(0, y - 1)) * 0.5f;
        at(nx - 1, y) = (at(nx - 2, y - 1) + at(nx - 1, y - 1)) * 0.5f;
        for (int x = nx - 2; x >= 1; --x)
            at(x, y) = (at(x + 1, y - 1) + at(x - 1, y - 1) + at(x, y - 1)) * 0.33333334f;
    }
    // Columns right of the picture, over all rows.
    for (int x = nx; x < m_pw; ++x) {
        at(x, 0) = (at(x - 1, 1) + at(x - 1, 0)) * 0.5f;
        at(x, m_ph - 1) = (at(x - 1, m_ph - 2) + at(x - 1, m_ph - 1)) * 0.5f;
        for (int y = m_ph - 2; y >= 1; --y)
            at(x, y) = (at(x - 1, y + 1) + at(x - 1, y - 1) + at(x - 1, y)) * 0.33333334f;
    }
}

void Image_BW::write_image(ZnImage *image) const
{
    image->Alloc(m_ny, m_nx);
    float *dst = image->Data();
    for (int y = 0; y < m_ny; ++y)
        for (int x = 0; x < m_nx; ++x)
            dst[static_cast<std::size_t>(y) * m_nx + x] = at(x, y);
}

void Image_BW::clear(int nx, int ny)
{
    resize(nx, ny, 1);
    m_bytes = 1;
    m_smoothing = m_dcExponent = m_dcMean = 0;
    m_levels = transform_levels(m_pw, m_ph);
    std::fill(m_data.begin(), m_data.end(), 0.0f);
}

void Image_BW::prepare(int nx, int ny, int bytes, int dcMean, int dcExponent, int smoothing)
{
    clear(nx, ny);
    m_bytes = bytes;
    m_dcMean = dcMean;
    m_dcExponent = dcExponent;
    m_smoothing = smoothing;
}

void Image_BW::transform(int smoothing)
{
    if (m_levels != 0)
        SpihtDiagnostic("cannot transform < Image_BW >");
    if (m_nx < 32 || m_ny < 32)
        SpihtDiagnostic("< Image_BW > is too small to transform");
    chronometer timer;
    timer.start("\r\n  Starting image transformation...");
    const int K = transform_levels(m_pw, m_ph);
    m_levels = K;
    if (K < 3)
        SpihtDiagnostic("invalid < Image_BW > dimension");
    m_smoothing = smoothing;
    if (smoothing < 0 || smoothing > 7)
        SpihtDiagnostic("invalid < Image_BW > smoothing factor");

    std::vector<float> work(static_cast<std::size_t>(std::max(m_pw, m_ph)) + 8);
    float *line = work.data() + 4;
    int w = m_pw, h = m_ph;
    for (int i = 0; i < K; ++i) {
        const float f = SpihtSmoothingFactor(smoothing, i);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x)
                line[x] = at(x, y);
            AnalyseLine(line, w, f, [&](int k, float v) { at(k, y) = v; });
        }
        for (int x = 0; x < w; ++x) {
            float *col = &at(x, 0);
            std::copy(col, col + h, line);
            AnalyseLine(line, h, f, [&](int k, float v) { col[k] = v; });
        }
        w /= 2;
        h /= 2;
    }
    // The DC mean goes into the header; what stays in the band are the deviations from it.
    long double sum = 0;
    for (int x = 0; x < w; ++x)
        for (int y = 0; y < h; ++y)
            sum += at(x, y);
    double m = static_cast<double>(sum / (static_cast<long double>(w) * h));
    int e = 0;
    while (m > 1000) {
        m *= 0.25;
        ++e;
    }
    // The header holds the mean in 10 bits and the exponent in 4: the value removed is the value sent.
    m_dcMean = std::clamp(static_cast<int>(m + 0.5), 0, 1023);
    m_dcExponent = std::min(e, 15);
    const float dc = static_cast<float>(static_cast<double>(1L << (2 * m_dcExponent)) * m_dcMean);
    for (int x = 0; x < w; ++x)
        for (int y = 0; y < h; ++y)
            at(x, y) -= dc;
    timer.stop();
}

void Image_BW::inverse_transform()
{
    if (m_levels <= 0) {
        SpihtDiagnostic("cannot recover < Image_BW >");
        if (m_levels < 0)
            return;
    }
    chronometer timer;
    timer.start("\r\n  Starting inverse transformation...");
    const int K = m_levels;
    std::vector<float> work(static_cast<std::size_t>(std::max(m_pw, m_ph)) + 8);
    float *line = work.data() + 4;
    int w = m_pw >> K, h = m_ph >> K;
    const float dc = static_cast<float>(static_cast<double>(1L << (2 * m_dcExponent)) * m_dcMean);
    for (int x = 0; x < w; ++x)
        for (int y = 0; y < h; ++y)
            at(x, y) += dc;
    for (int i = K - 1; i >= 0; --i) {
        const float g = 1.0f / SpihtSmoothingFactor(m_smoothing, i);
        for (int x = 0; x < 2 * w; ++x) {
            float *col = &at(x, 0);
            for (int k = 0; k < h; ++k) {
                line[2 * k] = g * col[k];
                line[2 * k + 1] = col[h + k];
            }
            reflect(line, 2 * h);
            for (int k = 0; k < h; ++k) {
                col[2 * k] = EvenS(line, 2 * k);
                col[2 * k + 1] = OddS(line, 2 * k + 1);
            }
        }
        for (int y = 0; y < 2 * h; ++y) {
            for (int k = 0; k < w; ++k) {
                line[2 * k] = g * at(k, y);
                line[2 * k + 1] = at(w + k, y);
            }
            reflect(line, 2 * w);
            for (int k = 0; k < w; ++k) {
                at(2 * k, y) = EvenS(line, 2 * k);
                at(2 * k + 1, y) = OddS(line, 2 * k + 1);
            }
        }
        w *= 2;
        h *= 2;
    }
    m_levels = 0;
    timer.stop();
}

int band_index(int row, int col, int R, int C, int L)
{
    int base = 0, d = R / 2, e = C / 2, left = L - 2;
    for (;;) {
        if (row >= d)
            return base + (col >= e ? 1 : 2);
        if (col >= e)
            return base + 3;
        if (left <= 0)
            return base + 4;
        base += 3;
        d /= 2;
        e /= 2;
        --left;
    }
}

void band_display(ZnImage *image, int L)
{
    const int R = image->Rows(), C = image->Cols();
    float *p = image->Data();
    const int bands = std::max(3 * L - 2, 4) + 1;
    std::vector<float> lo(static_cast<std::size_t>(bands), 0.0f), hi(static_cast<std::size_t>(bands), 0.0f);
    std::vector<int> index(static_cast<std::size_t>(R) * C);
    for (int r = 0; r < R; ++r)
        for (int c = 0; c < C; ++c) {
            const int b = band_index(r, c, R, C, L);
            index[static_cast<std::size_t>(r) * C + c] = b;
            lo[b] = std::min(lo[b], p[static_cast<std::size_t>(r) * C + c]);
            hi[b] = std::max(hi[b], p[static_cast<std::size_t>(r) * C + c]);
        }
    // Each band is scaled by its own extreme (with one tree level, the four quarters too).
    std::vector<float> scale(static_cast<std::size_t>(bands), 1.0f);
    for (int b = 1; b < bands; ++b) {
        const float m = std::max(hi[b], -lo[b]);
        scale[b] = m == 0.0f ? 1.0f : 127.0f / m;
    }
    for (std::size_t k = 0; k < index.size(); ++k)
        p[k] = scale[index[k]] * p[k] + 128.0f;
    int r = R, c = C;
    for (int i = 1; i <= L - 1; ++i) {
        r /= 2;
        c /= 2;
        for (int y = 0; y < 2 * r; ++y)
            p[static_cast<std::size_t>(y) * C + c] = 0.0f;
        for (int x = 0; x < 2 * c; ++x)
            p[static_cast<std::size_t>(r) * C + x] = 0.0f;
    }
}
