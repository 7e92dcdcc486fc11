// CJpgFilterBank: the multi-resolution, four-orientation filter bank of the perceptual model. Five
// levels from fine to coarse, each with four oriented band-pass images (0, 45, 90 and 135 degrees)
// and a low-pass image; the kernels come from table files in the tables directory.
#pragma once

#include "image/tables.h"
#include "image/znimage.h"
#include "modules/jpeg/jpeg_fft_conv.h"

#include <string>

// Bands are numbered level x 5 + orientation; orientation 4 is the level's low-pass image.
constexpr int kJpgLevels = 5;
constexpr int kJpgBands = 25;
constexpr int kJpgLowpass = 4;
// The orientations in radians, as the model uses them.
extern const float kJpgTheta[4];

// A 2-D kernel file: rows R, columns C, then R x C values row by row. The kernel is held in a
// square of side max(R, C); in each dimension of size 2 or more the element at index side / 2 is
// the centre, a dimension of size 1 sits at offset 0. Shows the file's message and returns false
// when the file is missing or malformed.
bool ReadFilter(const std::string &path, JpgKernel2D *kernel);
// A 1-D kernel file: length L, then L values (centre: element (L - 1) / 2), into a one-dimensional
// Filt record. Shows the file's message and returns false when missing or malformed.
bool ReadFilter1d(const std::string &path, Filt *filt);

class CJpgFilterBank
{
public:
    // Reads every kernel from tableDir; stops at the first file that is missing or malformed (its
    // message has been shown) and returns false.
    bool InitFilterBank(const std::string &tableDir);
    bool Loaded() const { return m_bLoaded; }

    // Splits m into the 25 band images: level 0 with the "high" fans at full size and low-pass low12,
    // each further level with the plain fans on the previous low-pass, and low2 then decimation by 2
    // for its own low-pass. Levels 0 and 1 are full size, level 2 half, 3 a quarter, 4 an eighth.
    void Decompose(const ZnImage &m);
    // Each low-pass image smoothed by the 1-D Gaussian along its rows, then along its columns.
    void SmoothLowpass();
    // band becomes sqrt(b^2 + h^2) with h the band filtered by the quadrature kernel along its
    // columns (alongColumns) or its rows.
    void AnalyticMagnitude(ZnImage *band, bool alongColumns);

    ZnImage m_band[kJpgBands];
    int m_nLevels = kJpgLevels;
    CFftConvolution m_fft;
    Filt m_hilb;
    Filt m_gauss;
    JpgKernel2D m_low2, m_low12, m_fan0, m_fan45, m_fan90, m_fan135;
    JpgKernel2D m_fan0high, m_fan45high, m_fan90high, m_fan135high;

private:
    void Convolve(const ZnImage &in, ZnImage *out, const JpgKernel2D &kernel);
    void Convolve1d(const ZnImage &in, ZnImage *out, const Filt &kernel, bool alongColumns);
    bool m_bLoaded = false;
};
