// What the decoder dialog shows of a decoding run, kept apart from the window: the stream information
// and the list of decoded picture types, the frame as a 24-bit image with its motion-vector overlay,
// and the frame's chroma brought to 4:2:0 for images and YUV files.
#pragma once

#include "mpeg/mpgdec/mpeg_decoder.h"

#include <cstdint>
#include <string>
#include <vector>

class CDib;

namespace zn {

// The stream information at the first picture of a pass: the result text gets every line, the view
// text (the window's description) leaves out the version of an MPEG-2 stream and the vector line.
// streamType: "Video", "System" or "Unknown"; fields: the first picture is a field picture.
struct MpegStreamInfo
{
    std::string resultText;
    std::string viewText;
};
MpegStreamInfo MpegStreamInfoText(const CMpegDecoder &d, const std::string &streamType, bool fields);

// The picture types as they are decoded. Each letter goes to the result text, which breaks after the
// 24th and then every 25th frame; the view text keeps only the first 48 and then says " .... <etc>".
class PictureTypeList
{
public:
    void Reset(const MpegStreamInfo &info)
    {
        m_sResultText = info.resultText;
        m_sViewText = info.viewText;
    }
    // letter (with its " sg" prefix after a group header) for a picture; frameCount counts the frames
    // completed so far; frameDone is false for the first field of a frame.
    void Add(const std::string &letter, int frameCount, bool frameDone);
    const std::string &ResultText() const { return m_sResultText; }
    const std::string &ViewText() const { return m_sViewText; }

private:
    std::string m_sResultText, m_sViewText;
};

// A white line from (x0, y0) to (x1, y1) with a red start point, in a 24-bit bottom-up pixel buffer
// of width x height whose rows are 3 x width bytes; nothing when an end point is outside.
void DrawVectorLine(int x0, int y0, int x1, int y1, int flag, uint8_t *bits, int width, int height);

// Draws one vector per macroblock from its centre into a picture of the frame's coded size.
void DrawMacroblockVectors(const std::vector<MotionVector> &vectors, int mbWidth, int mbHeight, uint8_t *bits,
                           int width, int height);

// The frame in a 24-bit image of its coded size (the image is recreated when its size differs): in
// colour for 4:2:0 when colour is asked for, else the luminance in grey. False when the image could
// not be made.
bool FrameToDib(const MpegFrame &frame, bool colour, CDib *dib);

// 4:2:2 or 4:4:4 chroma averaged down to 4:2:0 (width / 2 x height / 2 samples).
std::vector<uint8_t> ChromaTo420(const uint8_t *src, int cw, int ch, int width, int height, int chromaFormat);

// The frame's planes as 4:2:0: the frame's own chroma, or converted chroma kept in the two vectors.
void FramePlanes420(const MpegFrame &frame, std::vector<uint8_t> &cb, std::vector<uint8_t> &cr,
                    uint8_t *planes[3]);

} // namespace zn
