// What every still-image module does with a reconstruction once its engine has run: measure it
// against the source, turn the measures into an R(D) point, and name and caption the result image.
// Qt-free, so engines and benchmarks use it as the dialogs do.
#pragma once

#include <span>
#include <string>

class ZnImage;

namespace zn {

// MSE, SNR and PSNR of a decoded luminance image against its source (first component only).
struct Measures
{
    float mse = 0;
    float snr = 0;
    float psnr = 0;
    bool errorFree = false; // MSE below 1e-10: the texts say "Infinite"
};
Measures MeasureReconstruction(const ZnImage &source, const ZnImage &decoded);

// The decoded image as the result window shows it and a saved file holds it: every sample limited
// to 0..255 and rounded to a whole grey level. Modules measure this image, so the reported MSE and
// PSNR are those of the picture the user gets. Rounding, not truncation: truncating left a lossless
// run showing and saving a picture one level off in about half its pixels.
void RoundToGreyLevels(ZnImage *image);

// An error-free reconstruction has an infinite (P)SNR, which no graph can draw; its R(D) point is
// stored at 60 dB for both, well above anything a lossy coder of 8-bit images reaches.
constexpr float kErrorFreeDb = 60.0f;
struct RDValues
{
    float snr;
    float psnr;
};
RDValues RDPointValues(const Measures &m);

// Result images are named key_title<suffix> ("PCM_photo_3_075_005") and captioned
// key(title): <tags> ("PCM(photo): Bitr:3 Dith:0.75 Errors:0.005").
std::string ResultImageName(const std::string &key, const std::string &title, const std::string &suffix);
std::string ResultCaption(const std::string &key, const std::string &title, const std::string &tags);

// The name and caption tags of a parameter value. The values come from fixed choices on the pages,
// so they are compared exactly; a value outside the table gets the empty tags.
struct ValueTag
{
    float value;
    const char *name;
    const char *caption;
};
const ValueTag &FindValueTag(float value, std::span<const ValueTag> table);

// The message of an empty tables directory: a module that reads quantiser tables says so and opens
// the Preferences instead of coding.
inline constexpr const char *kNoTablesDirMessage =
    "Sorry: No Tables Directory Selected.\r\nPlease set the Tables Directory path!";

} // namespace zn
