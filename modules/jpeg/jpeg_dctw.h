// CJpgDctW: the perceptual model behind the designed quantisation matrix. The picture is turned
// into display luminance, split by the filter bank, each band weighted by the contrast sensitivity
// of the eye at its frequency and the local luminance, masked by its own contrast, and the band
// sensitivities are carried over into the 64 coefficients of every 8x8 DCT block through a
// conversion table. The result is a map of how visible each DCT coefficient of each block is.
#pragma once

#include "image/znimage.h"
#include "modules/jpeg/jpeg_filter_bank.h"

#include <array>
#include <cstdint>
#include <string>

class CJpgDctW
{
public:
    // Loads the filter bank and then the conversion table from tableDir. A missing kernel file stops
    // the loading with its message; a missing conversion table shows its message and leaves every
    // entry at 0.2.
    explicit CJpgDctW(const std::string &tableDir);

    bool FilterBankLoaded() const { return m_bank.Loaded(); }
    bool ConversionTableLoaded() const { return m_bTableLoaded; }

    // Viewing conditions: distance in picture heights, picture height in pixels, display gamma and
    // the display's maximum luminance in cd/m^2.
    float m_fViewingDistance = 4.0f;
    int m_nPictureHeight = 576;
    float m_fGamma = 1.0f;
    float m_fMaxLuminance = 80.0f;
    // Entry band x 64 + v x 8 + u: weight of band m for the coefficient in row v, column u.
    float m_fConvTable[kJpgBands * 64];
    CJpgFilterBank m_bank;

    // Contrast sensitivity at a level of the filter bank, an orientation and a local luminance.
    double Csf(int level, float theta, float luminance) const;
    // Picture angle in degrees.
    double PictureAngle() const;

    // The DCT-domain map of picture p (rows and columns multiples of 16): t(8r + v, 8c + u) is the
    // visibility of coefficient (v, u) of block (r, c), not yet scaled. The picture's size is checked
    // by the caller.
    void SensitivityMap(const ZnImage &p, ZnImage *t);

private:
    void DisplayLuminance(const ZnImage &p, ZnImage *m) const;
    void BandSensitivities();
    bool m_bTableLoaded = false;
};

// Luminances below this count as this much (cd/m^2): a black area still has a finite sensitivity.
constexpr float kJpgMinLuminance = 0.01f;

// Scales the map to 0..255 ((t - min) / (max - min) x 255); a map without contrast becomes 128.
void JpgScaleMap(ZnImage *t);

// The designed quantisation steps (zigzag order) from an unscaled map. The rule: the mean visibility
// of each coefficient over all blocks gives a step inversely proportional to its square root (the
// map adds squared amplitudes); the steps are scaled so that their mean is the Standard Y table's,
// so quality factors mean about the same with either table, then rounded and limited to 1..255. A
// coefficient nobody can see gets 255; a map that sees nothing gives the Standard Y table.
std::array<int16_t, 64> JpgMatrixFromMap(const ZnImage &t);

// The pictures the design can take: at least 16 x 16 and both sides multiples of 16.
bool JpgDesignSizeOk(int rows, int cols);
inline constexpr const char *kJpgDesignSizeMessage =
    "The perceptual design needs a picture whose width and height are multiples of 16";
