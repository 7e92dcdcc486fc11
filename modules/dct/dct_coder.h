// The DCT module's run: the image is cut into B x B blocks, each block transformed, and coefficient k
// of every block gathered into collection k, so the collections can be coded exactly as subbands
// are. Qt-free: the dialog, the tests and the benchmark all run it.
#pragma once

#include "modules/dct/band_coding.h"

#include <string>

class CDib;
class ZnImage;

struct DctParams
{
    int nSize = 3; // 1 = 2x2, 2 = 4x4, 3 = 8x8, 4 = 16x16
    int nFirstMethod = 1;
    std::string sFirstPdf = "gg075";
    int nOtherMethod = 0;
    std::string sOtherPdf = "gg050";
    float fBitrate = 1.0f;
    float fErrorProb = 0.0f;
    int nPredModel = 3;
    int bEntropy = 1;
    int nDisplay = 1; // 1 collections, 2 DCT blocks
};

// Block side of a transform size; any value but 1..3 counts as 16.
int DctBlockSide(int size);
// The largest transform size (1..4) whose block divides both sides; 0 when not even 2x2 does.
int DctLargestSize(int width, int height);

// What one Apply produces besides its images.
struct DctRunResult
{
    bool coding = false;
    int nCoefs = 0; // N = B x B
    float rate = 0; // coded bits per pixel (8 without coding)
    zn::Measures measures;
    std::string results;                 // the dialog's result text
    std::string descChain, descA, descB; // what the three windows describe
    std::string nameFinal, captionFinal; // decoded image
    std::string nameA, captionA;         // coefficients before coding
    std::string nameB, captionB;         // coded coefficients
};

// One run. `coding` and `entropyFlag` are the Size and Bitrate pages' own flags. decoded, dispA and
// dispB receive the decoded image and the displays of the coefficients before and after coding
// (dispB only with coding). Anything the run cannot do ends it with zn::RunAborted.
DctRunResult DctCodeImage(const DctParams &par, bool coding, int entropyFlag, const CDib *image,
                          const std::string &title, const std::string &tableDir, ZnImage *decoded,
                          ZnImage *dispA, ZnImage *dispB);
