// Test-side model of decoded pictures, written from the standard's equations (with the draft's
// truncating quarter-sample averages): intra DC pictures from their levels, motion-compensated
// macroblocks at quarter-sample luma and eighth-sample chroma positions, the 16x16 vector predictor
// and weighted combinations. Picture tests compute what the decoder must output with it.
#pragma once

#include "h264/support/picture_writer.h"
#include "h264dec/decoder_output.h"

#include <string>
#include <vector>

namespace h264test {

struct Picture
{
    int w = 0, h = 0; // luma size
    std::vector<int> y, u, v;
    Picture() = default;
    Picture(int width, int height, int fill = 128)
        : w(width), h(height), y(static_cast<size_t>(width * height), fill),
          u(static_cast<size_t>(width * height / 4), fill), v(static_cast<size_t>(width * height / 4), fill)
    {}
    int &Y(int r, int c) { return y[static_cast<size_t>(r * w + c)]; }
    int Y(int r, int c) const { return y[static_cast<size_t>(r * w + c)]; }
    std::vector<int> &C(int k) { return k == 0 ? u : v; }
    const std::vector<int> &C(int k) const { return k == 0 ? u : v; }
    int &C(int k, int r, int c) { return C(k)[static_cast<size_t>(r * (w / 2) + c)]; }
    int C(int k, int r, int c) const { return C(k)[static_cast<size_t>(r * (w / 2) + c)]; }
    // Even (0) or odd (1) rows as a picture of half the height; and back.
    Picture Field(int parity) const;
    static Picture Interleave(const Picture &top, const Picture &bottom);
    static Picture From(const H264PictureRef &r);
};

// "" when the pictures are equal, else where they first differ and how.
std::string FirstDifference(const Picture &want, const Picture &got);
// The DC prediction of a chroma macroblock's four 4x4 blocks ([column][row]) from the sums of the four
// samples above its left and right halves and beside its upper and lower halves.
void ChromaDcPrediction(const int sums[4], bool up, bool left, int dc[2][2]);

// Sample of the luma plane at quarter-sample position (xq, yq), every tap clamped into the plane.
int LumaQpel(const Picture &ref, int xq, int yq);
// Chroma component k at eighth-sample position (X, Y), clamped.
int ChromaEighth(const Picture &ref, int k, int X, int Y);

// What a single level adds to every sample of its block at luma quantiser qp: the luma DC of an
// intra 16x16 macroblock, a DC-only 4x4 block, and the first chroma DC level of a component.
int I16DcOffset(int level, int qp);
int BlockDcOffset(int level, int qp);
int ChromaDcOffset(int level, int qp);
extern const int kChromaQpTable[52];

// An intra picture whose macroblocks predict in DC mode (I16 with luma mode 2 or I4 with every block
// predicted; chroma mode 2), in raster order; slice_of_mb gives each macroblock's slice (availability).
// `base` supplies the samples of macroblocks the list leaves out (nullptr: none are left out).
Picture IntraDcPicture(int width_mbs, int height_mbs, const std::vector<MbSpec> &mbs,
                       const std::vector<int> &slice_of_mb, int qp);

// Copies macroblock (mbx, mby) of `out` from `ref` moved by (mvx, mvy) quarter samples (chroma by the
// same vector in eighth samples).
void MotionCompensate(Picture &out, const Picture &ref, int mbx, int mby, int mvx, int mvy);

// Vector prediction of a 16x16 partition with reference r, from the whole-macroblock motion of its
// neighbours (ref -1 for intra or missing, motion in quarter samples); availability by slice.
struct MbMotion
{
    bool coded = false; // decoded in the current slice
    int ref = -1;
    int mv[2] = {};
};
void Predict16x16(const std::vector<MbMotion> &field, int width_mbs, int mbx, int mby, int r, int &px,
                  int &py);

} // namespace h264test

#include <memory>
#include <string>

struct H264DecoderState;

namespace h264test {

// A sink that keeps everything the decoder hands out.
struct RecordingSink : H264PictureSink
{
    std::vector<Picture> decoded, output; // decoding order, output order
    std::vector<int> decoded_types, output_types;
    std::vector<std::string> texts;
    void PictureDecoded(H264DecoderState &, const H264PictureRef &p, bool) override
    {
        decoded.push_back(Picture::From(p));
        decoded_types.push_back(p.type_index);
    }
    void PictureOutput(H264DecoderState &, const H264PictureRef &p) override
    {
        output.push_back(Picture::From(p));
        output_types.push_back(p.type_index);
    }
    void PictureText(H264DecoderState &, const std::string &t) override { texts.push_back(t); }
};

// A whole run: pictures until the end of the stream, then the stored picture, as the run loop does.
struct DecodeRunResult
{
    std::unique_ptr<H264DecoderState> dec;
    std::unique_ptr<RecordingSink> sink;
    int pictures = 0;
    bool failed = false;
    std::string message;
    int messages_shown = 0; // message boxes the run showed
};
DecodeRunResult DecodeRun(const std::vector<uint8_t> &stream, int max_pictures = 1000);

} // namespace h264test
