// The JPEG module's run behind Apply: code the document's image at a quality (or at the quality
// found for a target bit rate), decode it again with the chosen smoothing and channel errors,
// measure, and write the texts the module reports. Qt-free: the dialog and the benchmark both run it.
#pragma once

#include "modules/common/module_results.h"

#include <string>

class CDib;
class ZnImage;

// One parameter set of the module (the dialog keeps a pending and an active one).
struct JpegParams
{
    int nQuantTable = 0;    // 0 Standard Y, 1 Standard UV, 2 Flat, 3 High-Emphasis, 4 designed
    int nHuffman = 1;       // 0 FLC, 1 standard VLC, 2 optimal VLC
    int nRestartUnit = 0;   // 0 MCUs, 1 MCU rows
    int nRestartValue = 0;  // 0 no restart markers, 1 or 10
    int nSmoothing = 0;     // 1: cross-block smoothing of the decoded coefficients
    float fBitrate = -1.0f; // target bits per pixel in bit-rate mode
    int nQuality = 75;      // 1..100
    int nQualityMode = 1;   // 1 code at the quality, 0 search the quality for the target bit rate
    int nSpare = 0;
    float fErrorProb = 0.0f; // channel bit-error probability; 0: none
};

struct JpegRunResult
{
    float rate = 0;  // bits per pixel of the stream file
    int quality = 0; // the quality coded (the one found in bit-rate mode)
    int flips = 0;   // bits flipped by the channel
    zn::Measures measures;
    std::string results;
    std::string description;
    std::string name;
    std::string caption;
};

// Codes the image of a document whose title is `title`; the stream goes to the user's folder and
// `decoded` receives the reconstruction.
JpegRunResult JpegCodeImage(const JpegParams &par, const CDib *image, const std::string &title,
                            const std::string &userDir, ZnImage *decoded);

// The name suffix and caption tags of a parameter set ("_75_No_Y_VLC_No_No",
// "Qlty:75 Smooth:No Quant:Y Huff:VLC Mark:No Err:No").
std::string JpegNameSuffix(const JpegParams &par);
std::string JpegCaptionTags(const JpegParams &par);

// A table as the result text shows it: 64 values "%5.2d", natural order, a line break before every
// eighth value from the first.
std::string JpegTableText(int table);
