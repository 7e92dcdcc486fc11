// SPIHT: set partitioning in hierarchical trees. The picture is transformed with the smoothed 9/7
// wavelet, then coded bit plane by bit plane: sorting passes find the coefficients and the
// descendant sets that become significant at the current threshold, refinement passes add one more
// bit to every coefficient found earlier. Coefficients travel in 2x2 groups whose open decisions are
// coded together with context-dependent adaptive models. The stream is embedded: a decoder may stop
// at any byte budget up to the encoder's.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

class ZnImage;

inline constexpr int kSpihtMaxSide = 8192;

// One coded decision, for following the two sides in step.
struct SpihtDecision
{
    enum Kind : uint8_t { Pixels, Signs, GroupFlag, Sets, Refinement };
    Kind kind;
    int value;
    bool operator==(const SpihtDecision &) const = default;
};

struct SpihtEncodeResult
{
    int levels = 0; // tree levels L; 0 when the picture was refused ("Image is too large!")
    std::vector<uint8_t> stream;
    std::string text; // the two result lines
};

struct SpihtDecodeResult
{
    int levels = 0;
    // Bytes of the stream taken in when the budget stopped the decoder; the stream cut there
    // decodes to the same picture.
    long bytesUsed = 0;
};

// Encodes original at rate bits per pixel with smoothing 0..7; display gets the original subbands.
SpihtEncodeResult SpihtCompress(const ZnImage &original, ZnImage *display, float rate, int smoothing,
                                std::vector<SpihtDecision> *decisions = nullptr);

// Decodes stream at rate (8 when not above 0) into the reconstruction (unrounded floats) and the
// decoded subbands. A stream that is not a SPIHT stream, or whose picture exceeds maxPixels, ends
// the run with a zn::RunAborted.
SpihtDecodeResult SpihtRecover(std::span<const uint8_t> stream, ZnImage *reconstruction, ZnImage *display,
                               float rate, std::vector<SpihtDecision> *decisions = nullptr,
                               long maxPixels = static_cast<long>(kSpihtMaxSide) * kSpihtMaxSide);

// The byte budget of a picture at a rate: the bytes of rate x W x H bits, less one.
long SpihtByteBudget(int width, int height, float rate);
// The context class of a group's state byte (34 classes) and the count of its untested positions.
int SpihtContextClass(int h, int g, int b);
