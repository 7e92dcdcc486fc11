// The EZW transform: a separable 9/7 biorthogonal wavelet with periodic extension, one level at a
// time, on double-precision planes, and the display image of the resulting coefficient pyramid.
#pragma once

#include "platform/large_memory.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <utility>
#include <vector>

class ZnImage;

// Leaves new doubles as they are: a plane that is about to be written in full need not be cleared
// first (at 2048 x 2048 a plane is 32 MB). Large planes get large pages.
template <class T> struct EzwUninitAllocator : zn::LargeBlockAllocator<T>
{
    template <class U> struct rebind
    {
        using other = EzwUninitAllocator<U>;
    };
    EzwUninitAllocator() = default;
    template <class U> EzwUninitAllocator(const EzwUninitAllocator<U> &) {}
    template <class U> void construct(U *p) noexcept { ::new (static_cast<void *>(p)) U; }
    template <class U, class... A> void construct(U *p, A &&...a)
    {
        ::new (static_cast<void *>(p)) U(std::forward<A>(a)...);
    }
};

// A plane of rows x cols doubles, row by row.
struct EzwPlane
{
    int rows = 0;
    int cols = 0;
    std::vector<double, EzwUninitAllocator<double>> v;

    // All zeros.
    void Resize(int r, int c)
    {
        rows = r;
        cols = c;
        v.assign(static_cast<std::size_t>(r) * c, 0.0);
    }
    // Sized only, for a plane that is written in full next.
    void Reshape(int r, int c)
    {
        rows = r;
        cols = c;
        v.resize(static_cast<std::size_t>(r) * c);
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
// The same two, plainly: every tap with its index wrapped, lines walked along their own direction
// and whole intermediate planes. The fast ones must give exactly their bits.
void EzwAnalysisPlain(const EzwPlane &in, EzwPlane *ll, EzwPlane *lh, EzwPlane *hl, EzwPlane *hh,
                      const EzwFilterSet &f);
void EzwSynthesisPlain(const EzwPlane &hh, const EzwPlane &hl, const EzwPlane &lh, const EzwPlane &ll,
                       EzwPlane *out, const EzwFilterSet &f);

// The coefficient pyramid of L levels: detail bands per level (index 1 LH, 2 HL, 3 HH; level 0 the
// finest) and the coarsest low-pass band.
struct EzwPyramid
{
    int width = 0, height = 0, levels = 0;
    std::vector<EzwPlane> detail; // detail[3 * level + type - 1]
    EzwPlane ll;

    // Bands of w x h in l levels, cleared, or only sized when the transform is about to fill them;
    // storage already held is reused.
    void Allocate(int w, int h, int l, bool clear = true);
    EzwPlane &Band(int level, int type) { return detail[static_cast<std::size_t>(3 * level + type - 1)]; }
    const EzwPlane &Band(int level, int type) const
    {
        return detail[static_cast<std::size_t>(3 * level + type - 1)];
    }
};

// Forward transform of image (H x W) into p, and the inverse of p into image.
void EzwForward(const EzwPlane &image, EzwPyramid *p, const EzwFilterSet &f);
void EzwInverse(const EzwPyramid &p, EzwPlane *image, const EzwFilterSet &f);
// The forward transform of the coder's bytes (p's height rows of its width) less their mean.
void EzwForwardBytes(const std::vector<uint8_t> &bytes, int mean, EzwPyramid *p, const EzwFilterSet &f);
// The inverse, each row of the picture handed to put as it is made.
void EzwInverseRows(const EzwPyramid &p, const EzwFilterSet &f,
                    const std::function<void(int row, const double *values)> &put);

// The display of the pyramid: each band scaled to fill the grey range around 128, band borders
// black.
void Ezw_subband_image(ZnImage *target, const EzwPyramid &p);
