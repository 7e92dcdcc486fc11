// The subband module's run: a tree of two-band QMF filter banks splits the image into 4 to 64
// subbands, the subbands are coded for a target bit rate as the DCT module codes its coefficient
// collections, and the synthesis bank rebuilds the image. Qt-free.
#pragma once

#include "modules/dct/band_coding.h"

#include <string>

class CDib;
class ZnImage;

struct SbcParams : BandCodingChoices
{
    int nDecomp = 3;             // 1..6, see SbcDecomposition
    std::string sFilter = "16b"; // "02", "08a", "12a", "16b", "24c", "32e": file qmf<name>.fcs
};

// A decomposition: the number of subbands, the levels and how many bands split into four at each
// level (the first ones of the band list, which are the lowest-frequency ones).
struct SbcDecomposition
{
    int nSubbands;
    int nLevels;
    int splits[3];
};
// Decompositions 1..6; any other value is taken as 6.
SbcDecomposition SbcDecompositionOf(int decomp);
// Taps of a filter name; 0 for a name that is not offered.
int SbcFilterTaps(const std::string &filter);

struct SbcRunResult : CodedRunResult
{
    int nSubbands = 0; // as the decomposition names it; a small image may split into fewer
    int nCodedBands = 0;
    int nTaps = 0;
};

// One run; `coding` and `entropyFlag` are the Decomp and Bitrate pages' flags. decoded, dispA and
// dispB receive the decoded image and the subbands before and after coding (dispB only with coding).
SbcRunResult SbcCodeImage(const SbcParams &par, bool coding, int entropyFlag, const CDib *image,
                          const std::string &title, const std::string &tableDir, ZnImage *decoded,
                          ZnImage *dispA, ZnImage *dispB);
