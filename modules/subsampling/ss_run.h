// One Apply of the subsampling module, without the dialog: the document image to floats, the
// optional filtered decimation, the log power spectrum (of the decimated image repeated over the
// original's frequency plane, or of the whole image centred), the optional blow-up, and every text,
// name and caption of the results. Qt-free: the dialog and the benchmark both run it.
#pragma once

#include "image/znimage.h"

#include <string>

class CDib;

struct SsParams
{
    int factor = 0; // 0: no subsampling; else 2, 4, ..., 64
    int taps = 0;   // 0: no anti-alias filter; else 5, 9, 13, 17 or 21
    int window = 0; // -1: no spectrum; 0 none (rectangular), 1 triangular, 3 Hamming
    int blowUp = 0; // 1: magnify the subsampled image back by pixel repetition
};

struct SsRunResult
{
    bool refused = false;     // the parameters did not fit the image; a message was shown
    bool hasChain = false;    // factor not 0: `result` holds the (magnified) subsampled image
    bool hasSpectrum = false; // window not -1: `spectrum` holds the log power image
    bool replaceText = false; // the result text is replaced by `results` (subsampling runs only)
    std::string results;
    std::string chainDescription, chainName, chainCaption;
    std::string spectrumDescription, spectrumName, spectrumCaption;
    ZnImage result;
    ZnImage spectrum;
};

// "NONE", "TRIANGULAR" or "HAMMING" (any other window value).
const char *SsWindowName(int window);

// Runs the module on `image` (title `title`). A factor the image cannot take (no rows or columns
// would remain) is refused with a message before anything is read. Throws zn::RunAborted when an
// image cannot be allocated.
void SsRun(const SsParams &par, const CDib *image, const std::string &title, SsRunResult *out);
