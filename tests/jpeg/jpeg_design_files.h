// Kernel files and a conversion table for the perceptual design, made by the tests (the real ones
// are data files the program does not ship): binomial low-pass kernels, zero-mean oriented fans,
// a short Hilbert kernel and a conversion table that favours low frequencies at coarse levels.
#pragma once

#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace jpegtest {

inline void WriteKernel2D(const std::string &path, int rows, int cols,
                          const std::function<double(int, int)> &k)
{
    std::FILE *f = std::fopen(path.c_str(), "w");
    std::fprintf(f, "%d %d\n", rows, cols);
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c)
            std::fprintf(f, " %.6f", k(r, c));
        std::fprintf(f, "\n");
    }
    std::fclose(f);
}

inline void WriteKernel1D(const std::string &path, const std::vector<double> &k)
{
    std::FILE *f = std::fopen(path.c_str(), "w");
    std::fprintf(f, "%d\n", static_cast<int>(k.size()));
    for (double v : k)
        std::fprintf(f, "%.6f\n", v);
    std::fclose(f);
}

// Every file of the design in dir (which ends with '/'); withTable false leaves out the conversion
// table.
inline void WriteDesignFiles(const std::string &dir, bool withTable = true)
{
    const double b5[5] = {1 / 16.0, 4 / 16.0, 6 / 16.0, 4 / 16.0, 1 / 16.0};
    WriteKernel2D(dir + "jpeg_low2_filter.dat", 5, 5, [&](int r, int c) { return b5[r] * b5[c]; });
    WriteKernel2D(dir + "jpeg_low12_filter.dat", 5, 5, [&](int r, int c) { return b5[r] * b5[c]; });
    const double d5[5] = {0, -0.25, 0.5, -0.25, 0};
    WriteKernel2D(dir + "jpeg_fan0_filter.dat", 5, 5, [&](int r, int c) { return b5[r] * d5[c]; });
    WriteKernel2D(dir + "jpeg_fan45_filter.dat", 5, 5,
                  [](int r, int c) { return r == c ? 0.2 : (std::abs(r - c) == 1 ? -0.125 : 0.0); });
    const double b4[4] = {1 / 8.0, 3 / 8.0, 3 / 8.0, 1 / 8.0}, d4[4] = {-0.25, 0.25, 0.25, -0.25};
    WriteKernel2D(dir + "jpeg_fan0high_filter.dat", 4, 4, [&](int r, int c) { return b4[r] * d4[c]; });
    WriteKernel2D(dir + "jpeg_fan45high_filter.dat", 4, 4,
                  [](int r, int c) { return r == c ? 0.25 : (std::abs(r - c) == 1 ? -1.0 / 6.0 : 0.0); });
    const double pi = std::acos(-1.0);
    WriteKernel1D(dir + "jpeg_hilb_filter.dat", {-2 / (3 * pi), 0, -2 / pi, 0, 2 / pi, 0, 2 / (3 * pi)});
    WriteKernel1D(dir + "jpeg_gauss_filter.dat", {1 / 16.0, 4 / 16.0, 6 / 16.0, 4 / 16.0, 1 / 16.0});
    if (!withTable)
        return;
    std::FILE *f = std::fopen((dir + "jpeg_optimconvtable.dat").c_str(), "w");
    for (int band = 0; band < 21; ++band) // 21 x 64 = 1344 lines; band 4 is a low-pass and unused
        for (int v = 0; v < 8; ++v)
            for (int u = 0; u < 8; ++u) {
                const int level = band / 5;
                const double w = 1.0 / (1.0 + std::abs(u + v - (12 - 3 * level)));
                std::fprintf(f, "%d %d %d %f\n", band, u, v, w);
            }
    std::fclose(f);
}

} // namespace jpegtest
