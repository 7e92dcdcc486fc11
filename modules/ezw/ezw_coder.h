// EZW: embedded zerotree wavelet coding of a grey picture. The encoder removes the mean, transforms
// with L levels of the 9/7 wavelet and codes the coefficients in passes of halving thresholds until
// its bit budget is spent; any prefix of the stream decodes to a coarser picture.
//
// Stream: L (1 byte), width and height (2 bytes each, low byte first), the mean (1 byte), then the
// arithmetic code of the pass symbols ended by the end symbol 11.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

class ZnImage;

inline constexpr int kEzwHeaderBytes = 6;

// One coded pass symbol and where it was coded, for following the two sides in step.
struct EzwDecision
{
    enum Kind : uint8_t { Lowpass, Detail, Refinement };
    uint8_t symbol;
    Kind kind;
    int8_t level; // the band's level (0 finest) of a dominant symbol, -1 for a refinement
    bool operator==(const EzwDecision &) const = default;
};

struct EzwEncodeResult
{
    std::vector<uint8_t> stream;
    std::string text;
    double firstThreshold = 0;
    double finalThreshold = 0;
    int passes = 0;
};

struct EzwDecodeResult
{
    std::string text;
    // Bytes of the stream the decoder had taken in when its budget or the end symbol stopped the
    // passes (the header included); a stream cut there decodes to the same picture.
    long bytesUsed = 0;
    int passes = 0;
    // The rate decoded: the rate asked, or less when the stream ended first.
    float rate = 0;
};

// Encodes the top-left part of input whose sides are multiples of 2^L; display gets the pyramid.
// decisions, when given, receives every pass symbol in coding order (threshold digits and the end
// symbol excluded).
// A picture too small for L levels is refused with a zn::RunAborted.
EzwEncodeResult EzwEncodeBytes(const ZnImage &input, ZnImage *display, float rate, int levels,
                               std::vector<EzwDecision> *decisions = nullptr);

// Decodes stream at rate bits per pixel into output (H x W) and the pyramid display. A stream that
// is not an EZW stream, or whose picture exceeds maxPixels, ends the run with a zn::RunAborted.
EzwDecodeResult EzwDecodeBytes(std::span<const uint8_t> stream, ZnImage *output, ZnImage *display, float rate,
                               std::vector<EzwDecision> *decisions = nullptr, long maxPixels = 8192L * 8192L);

// The same on the module's stream file: written from its start, read from its start, and its
// position returned to the start afterwards. The encoder returns its text for the module's result
// box; the decoder's text is in its result.
std::string EzwEncodeImage(std::FILE *file, const ZnImage &input, ZnImage *display, float rate, int levels);
EzwDecodeResult EzwDecodeImage(std::FILE *file, ZnImage *output, ZnImage *display, float rate);

// Integer part of x, plus one when the fraction is at least one half (negative x: the integer part).
inline int Ezw_round(double x)
{
    const int i = static_cast<int>(x);
    return x - i >= 0.5 ? i + 1 : i;
}

// The first threshold travels as its decimal digit count and its digits, least significant first,
// each plus one; the decoder rebuilds the integer part only.
std::vector<int> EzwThresholdSymbols(double firstThreshold);
double EzwThresholdFromSymbols(const std::vector<int> &symbols);

// The cropped side: a multiple of 2^L no larger than side (0 when the side is too small).
inline int EzwCroppedSide(int side, int levels)
{
    const int half = side / 2;
    return 2 * (half - half % (1 << (levels - 1)));
}
