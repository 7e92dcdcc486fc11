// Vector quantisation of a still image: every w x h block is sent as the index of its nearest code
// vector of the chosen rate (bits per vector), optionally through a channel that flips index bits,
// and decoded by copying that code vector. The rate is bits / (w*h) per pixel: a 4x4 codebook of
// 2^4 vectors codes at a quarter bit per pixel. Qt-free: the dialog and the benchmark run it.
#pragma once

#include "modules/common/module_results.h"

#include <string>

class CDib;
class ZnImage;
struct Img;

// Codes the source with the code vectors of rate `bits` of the codebook image and writes the decoded
// picture into rec (allocated, the source's size). Returns bits / (w*h); 0 after
// "VqCodec - No codebook for requested bit rate." when the codebook lacks that rate. A codebook that
// fails its header check, or a source whose sides are not multiples of the vector's, ends the run
// with zn::RunAborted.
float VqCodec(const Img *src, const Img *codebook, Img *rec, int bits, float errorProb);

// Default bits per vector offered when a codebook of rates rmin..rmax arrives (a table, not a
// formula: it leans to the middle of low ranges and stays low for wide ones).
int VqDefaultBits(int rmin, int rmax);

// The text of the refusal of a codebook whose vectors do not tile the image.
inline constexpr const char *kVqCodebookDoesNotFit =
    "The selected Codebook can't be used to encode this image\r\nImage's number of rows and columns must be "
    "multiple\r\nof codebook's vectors height and width!\r\n\r\nPlease Select another Codebook!";

struct VqParams
{
    int nBits = 0;           // bits per vector
    float fErrorProb = 0.0f; // probability of a flipped index bit; 0: error-free channel
};

// What one Apply reports: the rate, the measures, the block appended to the result text, and the
// result image's description, name and caption.
struct VqRunResult
{
    float rate = 0;
    zn::Measures measures;
    std::string results;
    std::string description;
    std::string name;
    std::string caption;
};

// Codes the image of a document titled `title` with the codebook; `decoded` receives the
// reconstruction rounded to grey levels. A refused run ends with zn::RunAborted (its message shown).
VqRunResult VqCodeImage(const VqParams &par, const CDib *image, const std::string &title,
                        const ZnImage &codebook, ZnImage *decoded);

const zn::ValueTag &VqErrorTag(float prob);
