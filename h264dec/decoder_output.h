// Where decoded pictures go. Picture control hands every picture to a sink twice over: once in
// decoding order while its analysis records are still filled (the views are built from them), and
// once in output order (the document's window, the save file and the output file). A reference
// picture is output when the next reference picture starts or when the run ends; a non-reference B
// picture right after its decoding. The engine never shows anything itself.
#pragma once

#include <cstdint>
#include <string>

struct H264DecoderState;

// Type index of a picture as the output and the views name it.
enum PictureTypeIndex { kTypeIndexI = 0, kTypeIndexP, kTypeIndexSP, kTypeIndexSI, kTypeIndexBS, kTypeIndexB };

// One picture's 4:2:0 planes, row-major and tightly packed: luma width x height, chroma halves.
struct H264PictureRef
{
    const uint8_t *y = nullptr;
    const uint8_t *u = nullptr;
    const uint8_t *v = nullptr;
    int width = 0, height = 0;
    int number = 0;     // the decoder's picture number when handed out
    int type_index = 0; // PictureTypeIndex
};

class H264PictureSink
{
public:
    virtual ~H264PictureSink() = default;
    // A picture just decoded, in decoding order; dec.analysis still holds its records. `views` is the
    // picture loop's wish for the analysis views.
    virtual void PictureDecoded(H264DecoderState &dec, const H264PictureRef &picture, bool views)
    {
        (void)dec;
        (void)picture;
        (void)views;
    }
    // A picture in output order.
    virtual void PictureOutput(H264DecoderState &dec, const H264PictureRef &picture)
    {
        (void)dec;
        (void)picture;
    }
    // The per-picture text, when the picture loop shows text.
    virtual void PictureText(H264DecoderState &dec, const std::string &text)
    {
        (void)dec;
        (void)text;
    }
};
