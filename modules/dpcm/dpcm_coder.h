// Two-dimensional DPCM of the luminance of a still image: the image statistics, the optimal linear
// predictor of a prediction model, a Lloyd-Max quantiser for the prediction error read from the
// tables directory and scaled to the error's variance, and the quantiser inside the prediction loop,
// optionally behind a channel that flips code bits. Qt-free: the dialog and the benchmark run it.
#pragma once

#include "modules/common/module_results.h"

#include <string>

class CDib;
class ZnImage;

struct DpcmParams
{
    int nPredModel = 0;      // 1..4: left; + upper; + upper-left; + upper-right
    int nBits = 0;           // b = 1..6 bits per sample
    int nLevels = 0;         // 2^b - 1 or 2^b (2 for b = 1)
    float fErrorProb = 0.0f; // probability of a flipped code bit; 0: error-free channel
};

// The quantiser family behind the module: Lloyd-Max quantisers for a Laplacian (c = 1) density.
inline constexpr const char *kDpcmQuantStem = "mlqpw";
inline constexpr const char *kDpcmQuantPdf = "gg100";

// The level count the Levels page offers for b bits: 2^b - 1 (fewer = false) or 2^b; b = 1 gives 2.
int DpcmLevelsFor(int bits, bool fewer);

// What one run reports: rates, measures, the dialog's result text, and the description, name and
// caption of the decoded image (the chain window) and of the prediction-error image (window A).
struct DpcmRunResult
{
    float rate = 0;    // bits per sample actually sent: always b
    float entropy = 0; // of the quantiser's indices: what an entropy coder would need
    float coef[4] = {0, 0, 0, 0};
    float variance = 0;
    float predVariance = 0;
    zn::Measures measures;
    std::string results;
    std::string description;
    std::string name;
    std::string caption;
    std::string descriptionA;
    std::string nameA;
    std::string captionA;
};

// Codes the image of a document titled `title` with the quantiser files of tableDir. `decoded`
// receives the reconstruction, `predError` the display of the prediction errors. Parameters the
// coder cannot take and an empty tables directory are refused with zn::RunAborted before any file
// is read; a missing quantiser file ends the run after the reader's message (code 1).
DpcmRunResult DpcmCodeImage(const DpcmParams &par, const CDib *image, const std::string &title,
                            const std::string &tableDir, ZnImage *decoded, ZnImage *predError);

// The name and caption tags of an error probability ("0005" / "0.0005", "No" / "No").
const zn::ValueTag &DpcmErrorTag(float prob);
