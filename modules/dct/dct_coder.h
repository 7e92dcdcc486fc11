// The DCT module's run: the image is cut into B x B blocks, each block transformed, and coefficient k
// of every block gathered into collection k, so the collections can be coded exactly as subbands
// are. Qt-free: the dialog, the tests and the benchmark all run it.
#pragma once

#include "modules/dct/band_coding.h"

#include <string>

class CDib;
class ZnImage;

struct DctParams : BandCodingChoices
{
    int nSize = 3;    // 1 = 2x2, 2 = 4x4, 3 = 8x8, 4 = 16x16
    int nDisplay = 1; // 1 collections, 2 DCT blocks
};

// Block side of a transform size; any value but 1..3 counts as 16.
int DctBlockSide(int size);
// The largest transform size (1..4) whose block divides both sides; 0 when not even 2x2 does.
int DctLargestSize(int width, int height);

struct DctRunResult : CodedRunResult
{
    int nCoefs = 0; // N = B x B
};

// One run. `coding` and `entropyFlag` are the Size and Bitrate pages' own flags. decoded, dispA and
// dispB receive the decoded image and the displays of the coefficients before and after coding
// (dispB only with coding). Anything the run cannot do ends it with zn::RunAborted.
DctRunResult DctCodeImage(const DctParams &par, bool coding, int entropyFlag, const CDib *image,
                          const std::string &title, const std::string &tableDir, ZnImage *decoded,
                          ZnImage *dispA, ZnImage *dispB);
