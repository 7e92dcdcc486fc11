// The analysis views of the decoder: what the user sees beside each decoded picture. The planes are
// built here from the picture and its analysis records; the images of the document and of windows A,
// B, chain and D are composed here too, and the dialog only shows them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DecoderAnalysis;
class H264DecoderHost;

// Three planes, row-major: luma width x height, chroma either halves (4:2:0) or full size (4:4:4).
struct H264PlaneSet
{
    const uint8_t *y = nullptr, *u = nullptr, *v = nullptr;
};

// Owned planes, reused from picture to picture.
struct H264PlaneBuffers
{
    std::vector<uint8_t> y, u, v;
    H264PlaneSet Set() const { return {y.data(), u.data(), v.data()}; }
};

// The five plane sets of one picture (the analysis ones 4:4:4, picture and processing 4:2:0).
struct H264ViewPlanes
{
    int width = 0, height = 0;
    H264PlaneSet picture, processing, vectors, bdiv, bits;
};

// "I", "P", "SP", "SI", "BS" for type indices 0 to 4, "B" for any other.
const char *h264dec_type_text(int type_index);

// The processing stream: an I picture and the intra macroblocks of other pictures as decoded, the
// inter macroblocks as their prediction error around 127 (chroma flat 127).
void h264dec_processing_planes(const H264PlaneSet &picture, int width, int height, const DecoderAnalysis &a,
                               int type_index, H264PlaneBuffers &out);
// The bits plane: each macroblock's bits scaled to 55..255 by the picture's largest count (taken as 1
// when it is 0); chroma 127.
void h264dec_bits_planes(const DecoderAnalysis &a, int width, int height, H264PlaneBuffers &out);

// Shows a picture: into the document (its frame counter advances) when showInDocument, and into the
// chosen analysis views when views. `number` is the decoder's picture number for the document's title.
void h264dec_build_views(H264DecoderHost &host, const H264ViewPlanes &planes, int number, int type_index,
                         bool showInDocument, bool views);

// The legend's planes for the views chosen: luma 116 x rows, chroma 58 x rows / 2; no rows when no
// section applies.
struct H264ViewChoices;
struct H264LegendPlanes
{
    static constexpr int kWidth = 116;
    int rows = 0;
    std::vector<uint8_t> y, u, v;
};
H264LegendPlanes h264dec_legend_planes(const H264ViewChoices &choices);

// The legend of the views chosen, into the document's legend image; closed when show is false.
void h264dec_build_legend(H264DecoderHost &host, bool show);
