// PCM of the luminance of a still image: a uniform quantiser of 2^b levels over 0..255, each level
// decoded to the middle of its step, an optional uniform dither added before quantisation (and
// optionally subtracted after decoding), and a channel that flips the transmitted code bits.
// Qt-free: the dialog and the benchmark both run it.
#pragma once

#include "modules/common/module_results.h"

#include <string>

class CDib;
class ZnImage;

struct PcmParams
{
    int nBits = 0;              // 1..7 bits per pixel
    float fDitherFactor = 0.0f; // dither amplitude in quantiser steps; 0: no dither
    float fErrorProb = 0.0f;    // probability of a flipped code bit; 0: error-free channel
    int bSubtractDither = 0;    // 1: the receiver knows the dither and takes it off again
};

// What one run reports: the rate, the measures, the dialog's result text and the result image's
// description, name and caption.
struct PcmRunResult
{
    float rate = 0;
    zn::Measures measures;
    std::string results;
    std::string description;
    std::string name;
    std::string caption;
};

// Codes the image of a document whose title is `title`; `decoded` receives the reconstruction.
// Bit counts outside 1..7 are refused with zn::RunAborted before anything is read.
PcmRunResult PcmCodeImage(const PcmParams &par, const CDib *image, const std::string &title,
                          ZnImage *decoded);

// The quantiser of b bits: 2^b cells of step 256 / 2^b, reconstruction in the middle of each cell,
// a fixed-length code of b bits.
struct Quant;
Quant *PcmMakeQuantizer(int bits);

// The name and caption tags of the parameters ("075" / "0.75", "005" / "0.005", "No" / "No").
const zn::ValueTag &PcmDitherTag(float factor);
const zn::ValueTag &PcmErrorTag(float prob);
