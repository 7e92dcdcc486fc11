// The picture the SPIHT coder works on: float samples held column by column, padded to a multiple
// of 8 (16 from 256 on) in each direction, transformed with the 9/7 wavelet whose low-pass outputs
// are emphasised by a smoothing factor per level, and with the DC mean of the low-pass band taken
// out. Also the display rule of a coefficient picture.
#pragma once

#include "platform/large_memory.h"

#include <cstddef>
#include <ctime>
#include <vector>

class ZnImage;

class Image_BW
{
public:
    // Sizes and storage for an nx x ny picture (samples undefined).
    void resize(int nx, int ny, int bytesPerPixel);
    void release();
    // The picture, with the padding filled by smoothing the last row and column outwards.
    void read_image(const ZnImage &image);
    // The picture part into image (ny rows by nx cols).
    void write_image(ZnImage *image) const;
    // All samples 0, levels K: the decoder's empty array.
    void clear(int nx, int ny);
    void prepare(int nx, int ny, int bytesPerPixel, int dcMean, int dcExponent, int smoothing);
    void transform(int smoothing);
    void inverse_transform();

    float &at(int x, int y) { return m_data[static_cast<std::size_t>(x) * m_ph + y]; }
    float at(int x, int y) const { return m_data[static_cast<std::size_t>(x) * m_ph + y]; }
    float *data() { return m_data.data(); }

    int Width() const { return m_nx; }
    int Height() const { return m_ny; }
    int PaddedWidth() const { return m_pw; }
    int PaddedHeight() const { return m_ph; }
    int Levels() const { return m_levels; }
    int DcMean() const { return m_dcMean; }
    int DcExponent() const { return m_dcExponent; }
    int Smoothing() const { return m_smoothing; }
    int BytesPerPixel() const { return m_bytes; }

private:
    int m_nx = 0, m_ny = 0, m_pw = 0, m_ph = 0;
    int m_levels = -1;
    int m_bytes = 0;
    int m_dcMean = 0, m_dcExponent = 0, m_smoothing = 0;
    std::vector<float, zn::LargeBlockAllocator<float>> m_data;
};

// Processor time of a stage: starting prints its message, if any, as a progress line to the log;
// stopping adds the ticks since. Nothing shows the total; it is there for a developer's eye.
class chronometer
{
public:
    void start(const char *message = nullptr);
    void stop();
    std::clock_t Ticks() const { return m_ticks; }

private:
    bool m_running = false;
    std::clock_t m_start = 0;
    std::clock_t m_ticks = 0;
};

// Symmetric extension of a line of n samples into the four spare places on each side.
void reflect(float *s, int n);

// Padded size of a side: a multiple of 8 below 256, of 16 from there on.
int SpihtPaddedSide(int a);
// Transform levels of a padded side: trailing zero bits, at most bit length - 4 (the low-pass band
// keeps at least 8 samples).
int transform_levels(int a);
// Transform levels of a padded picture: the smaller of its two sides' counts, so both sides divide.
int transform_levels(int pw, int ph);
// Tree levels of a padded side: min(trailing zero bits, bit length - 2) - 1.
int tree_levels(int a);
// The smoothing factor of level i (0 the finest).
float SpihtSmoothingFactor(int smoothing, int level);

// The band of a pixel of an R x C coefficient picture with L tree levels: at each level 1 is the
// lower right quarter, 2 the lower left, 3 the upper right; what is left at the top is 3L - 2.
int band_index(int row, int col, int R, int C, int L);
// Rescales a coefficient picture band by band to the grey range around 128 and draws the band
// borders of L tree levels in black.
void band_display(ZnImage *image, int levels);
