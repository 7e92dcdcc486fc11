// SPIHT: set partitioning in hierarchical trees. The picture is transformed with the smoothed 9/7
// wavelet, then coded bit plane by bit plane: sorting passes find the coefficients and the
// descendant sets that become significant at the current threshold, refinement passes add one more
// bit to every coefficient found earlier. Coefficients travel in 2x2 groups whose open decisions are
// coded together with context-dependent adaptive models. The stream is embedded: a decoder may stop
// at any byte budget up to the encoder's.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

class CSpiht_Decoder;
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

// Makes the stream; one object serves one call.
class Spiht_Image_Encoder
{
public:
    // userDir: where the temporary stream file goes. encoderText: where add_result_line appends
    // (the module's encoder text), or nothing.
    explicit Spiht_Image_Encoder(std::string userDir = {}, std::string *encoderText = nullptr);

    // Encodes original at rate bits per pixel with smoothing 0..7; display gets the original
    // subbands. With stream and streamName the stream goes to a new temporary file in the user
    // directory, left open and rewound, which the caller closes and deletes; without them it stays
    // in memory (Stream()). Returns the tree level count, or 0 when the picture is refused ("Image is
    // too large!"): then no file exists.
    int compress(const ZnImage &original, ZnImage *display, std::FILE **stream, std::string *streamName,
                 float rate, int smoothing);

    // The stream of the last compress.
    const std::vector<uint8_t> &Stream() const { return m_stream; }
    // Every decision, in coding order, goes here too.
    void FollowDecisions(std::vector<SpihtDecision> *decisions) { m_decisions = decisions; }

private:
    void add_result_line(const char *format, ...) __attribute__((format(printf, 2, 3)));

    std::string m_userDir;
    std::string *m_text;
    std::vector<uint8_t> m_stream;
    std::vector<SpihtDecision> *m_decisions = nullptr;
};

// Reads a stream back at a chosen rate; one object serves one call.
class Spiht_Image_Decoder
{
public:
    // Decodes the stream file at rate (8 when not above 0) into the reconstruction (unrounded floats)
    // and the decoded subbands; the file is rewound and stays open. A stream that is not a SPIHT
    // stream, or whose picture is larger than MaxPixels, ends the run with a zn::RunAborted.
    int recover(ZnImage *reconstruction, ZnImage *display, std::FILE *stream, float rate);
    // The same on a stream in memory.
    int recover(ZnImage *reconstruction, ZnImage *display, std::span<const uint8_t> stream, float rate);

    void FollowDecisions(std::vector<SpihtDecision> *decisions) { m_decisions = decisions; }
    void SetMaxPixels(long pixels) { m_maxPixels = pixels; }
    // Tree levels of the decoded picture.
    int Levels() const { return m_levels; }
    // Bytes of the stream taken in when the budget stopped the decoder; the stream cut there decodes
    // to the same picture.
    long BytesUsed() const { return m_bytesUsed; }

private:
    int Decode(CSpiht_Decoder &decoder, ZnImage *reconstruction, ZnImage *display, float rate);

    std::vector<SpihtDecision> *m_decisions = nullptr;
    long m_maxPixels = static_cast<long>(kSpihtMaxSide) * kSpihtMaxSide;
    int m_levels = 0;
    long m_bytesUsed = 0;
};

// The byte budget of a picture at a rate: the bytes of rate x W x H bits, less one.
long SpihtByteBudget(int width, int height, float rate);
// The context class of a group's state byte (34 classes) from the counts of its fields of value 0,
// 1 and 2.
int SpihtContextClass(int h, int g, int b);
