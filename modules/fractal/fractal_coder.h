// The fractal module's run behind Apply: encode the document's image into the shared code file
// (unless only the iterations changed), decode it, measure, and write the texts the module reports.
// Qt-free: the dialog and the benchmark both run it.
#pragma once

#include "modules/common/module_results.h"
#include "modules/fractal/fic_codec.h"

#include <string>

class CDib;
class ZnImage;

// The six parameters in the module's order.
struct FicParams
{
    int nMinBlock = 4;
    int nMaxBlock = 16;
    int nThreshold = 8;
    int nScalingBits = 4;
    int nOffsetBits = 6;
    int nIterations = 8;
    bool operator==(const FicParams &) const = default;
};

struct FicRunResult
{
    bool encoded = false; // false: the existing code file was decoded again
    float rate = 0;       // bits per pixel of this run's encoding; the caller's last rate otherwise
    float fitting = 0;    // percentage of coded blocks that met the threshold
    bool noCodeFile = false;
    zn::Measures measures;
    std::string results;
    std::string description;
    std::string name;
    std::string caption;
};

inline constexpr const char *kFicNoCodeMessage =
    "FractalDecoder - Cannot decode image. Need to encode an image first";

// Codes the image of a document titled `title` with the code file in userDir. encode false decodes
// the existing file again and reports lastRate; a file that does not hold a code of this image's size
// (another document's, a damaged one) is never decoded into it: the image is then encoded after all.
// A missing file shows kFicNoCodeMessage and measures the all-zero picture. Settings the coder cannot
// take and an unwritable code file end the run with zn::RunAborted.
FicRunResult FicCodeImage(const FicParams &par, bool encode, float lastRate, const CDib *image,
                          const std::string &title, const std::string &userDir, ZnImage *decoded);

// "_4_16_8_4_6_8" and "MinSz:4 MaxSz:16 Acc:8 Scal:4 Off:6 Iter:8".
std::string FicNameSuffix(const FicParams &par);
std::string FicCaptionTags(const FicParams &par);
