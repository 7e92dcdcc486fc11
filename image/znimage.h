// ZnImage: the float luminance image every still-image coding engine works on. It owns one engine
// record (one plane of rows x cols floats, row 0 at the top of the picture) and converts to and from
// the display image CDib.
#pragma once

#include "image/img.h"

class CDib;
struct Spectrum;
struct Subb;

class ZnImage
{
public:
    ZnImage();
    virtual ~ZnImage();
    ZnImage(const ZnImage &) = delete;
    ZnImage &operator=(const ZnImage &) = delete;

    // The record: sequence type 1, float samples; null until the first Alloc.
    Img *img = nullptr;

    int Rows() const { return img ? img->rows : 0; }
    int Cols() const { return img ? img->cols : 0; }
    float *Data() const { return img ? img->FloatPlane() : nullptr; }

    // Makes the record rows x cols, keeping the plane when it already holds that many samples.
    // Throws zn::RunAborted when the plane cannot be allocated (the message has been shown).
    void Alloc(int rows, int cols);
    // Height x width luminance of the source (0.3008 R + 0.5859 G + 0.1133 B).
    void DibToZnImage(const CDib *source);
    // The source's luminance inside a border of `border` samples of 127; this image must already be
    // (height + 2 border) x (width + 2 border).
    void DibToSubZnImage(const CDib *source, int border);
    // Writes this image into target as a 24-bit grey image, clipping to 0..255 and truncating.
    void ZnImageToDib(CDib *target) const;

    // This image becomes the log power of the spectrum, as grey levels (image/numeric.h).
    void LogPowerSpectrum(const Spectrum *spectrum);
    // This image becomes a display of the first component of a subband decomposition: every band
    // scaled to fill the grey range; factor 0 draws band borders, factor f > 0 regroups f x f bands
    // into blocks. Defined with the subband library (modules/sbc/disp_subb.cpp).
    void DispSubb(const Subb *sb, int factor);
};

// Bresenham line of `value` from (x0, y0) to (x1, y1), both end points drawn; element (x, y) is
// raster[y * stride + x]. With height >= 0 the raster is taken as stride x height and points outside
// it are skipped; with the default the caller keeps the line inside.
void DrawLineFloat(int x0, int y0, int x1, int y1, float value, float *raster, int stride, int height = -1);
