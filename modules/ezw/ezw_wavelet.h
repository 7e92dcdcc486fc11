// The EZW transform: a separable 9/7 biorthogonal wavelet with periodic extension, one level at a
// time, on double-precision planes, and the display image of the resulting coefficient pyramid.
#pragma once

#include <cstddef>
#include <vector>

class ZnImage;

// A plane of rows x cols doubles, row by row.
struct EzwPlane
{
    int rows = 0;
    int cols = 0;
    std::vector<double> v;

    void Resize(int r, int c)
    {
        rows = r;
        cols = c;
        v.assign(static_cast<std::size_t>(r) * c, 0.0);
    }
    double &at(int r, int c) { return v[static_cast<std::size_t>(r) * cols + c]; }
    double at(int r, int c) const { return v[static_cast<std::size_t>(r) * cols + c]; }
};

struct EzwFilter
{
    int taps = 0;
    int offset = 0;
    double k[9] = {};
};

// Analysis low/high pass and synthesis low/high pass, scaled by sqrt(2) so that a level keeps the
// energy of the picture.
struct EzwFilterSet
{
    EzwFilter aL, aH, sL, sH;
};
void Ezw_filters(EzwFilterSet *f);

// One level: in (W x H) to the four W/2 x H/2 bands.
void Ezw_analysis(const EzwPlane &in, EzwPlane *ll, EzwPlane *lh, EzwPlane *hl, EzwPlane *hh,
                  const EzwFilterSet &f);
// The inverse: four W x H bands to out (2W x 2H).
void Ezw_synthesis(const EzwPlane &hh, const EzwPlane &hl, const EzwPlane &lh, const EzwPlane &ll,
                   EzwPlane *out, const EzwFilterSet &f);

// The coefficient pyramid of L levels: detail bands per level (index 1 LH, 2 HL, 3 HH; level 0 the
// finest) and the coarsest low-pass band.
struct EzwPyramid
{
    int width = 0, height = 0, levels = 0;
    std::vector<EzwPlane> detail; // detail[3 * level + type - 1]
    EzwPlane ll;

    void Allocate(int w, int h, int l);
    EzwPlane &Band(int level, int type) { return detail[static_cast<std::size_t>(3 * level + type - 1)]; }
    const EzwPlane &Band(int level, int type) const
    {
        return detail[static_cast<std::size_t>(3 * level + type - 1)];
    }
};

// Forward transform of image (H x W) into p, and the inverse of p into image.
void EzwForward(const EzwPlane &image, EzwPyramid *p, const EzwFilterSet &f);
void EzwInverse(const EzwPyramid &p, EzwPlane *image, const EzwFilterSet &f);

// The display of the pyramid: each band scaled to fill the grey range around 128, band borders
// black.
void Ezw_subband_image(ZnImage *target, const EzwPyramid &p);
