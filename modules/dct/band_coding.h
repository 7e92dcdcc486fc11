// Coding the bands of a decomposition for a target bit rate, as the DCT and subband modules both do:
// per-band statistics, bit allocation over Max-Lloyd quantisers, PCM or DPCM of every band with
// fixed-length or entropy-coded code words through an optional noisy channel, and the two report
// tables. Also the words, numbers and measure lines both modules print. Qt-free.
#pragma once

#include "modules/common/module_results.h"

#include <array>
#include <memory>
#include <string>

struct Img;
struct Subb;
class ZnImage;

// The choices the shared coding pages (Coefs or Subs, Bitrate, Errors) make; each module's parameter
// record adds its own to them.
struct BandCodingChoices
{
    int nFirstMethod = 1;
    std::string sFirstPdf = "gg075";
    int nOtherMethod = 0;
    std::string sOtherPdf = "gg050";
    float fBitrate = 1.0f;
    float fErrorProb = 0.0f;
    int nPredModel = 3;
    int bEntropy = 1;
};

// The coding choices of one run. Band 0 (the DC collection, or the lowest subband) has its own
// method and quantiser family; every other band shares the second pair.
struct BandCodingParams
{
    int nFirstMethod = 1; // 0 PCM, 1 DPCM
    std::string sFirstPdf = "gg075";
    int nOtherMethod = 0;
    std::string sOtherPdf = "gg050";
    float fBitrate = 1.0f;   // target, bits per pixel
    float fErrorProb = 0.0f; // per transmitted code bit
    int nPredModel = 3;      // 1..4; 0 while no band is DPCM-coded
    int nCodeType = 2;       // 1 fixed-length code words, 2 the tables' entropy code words
};

struct BandCodingResult
{
    float rate = 0; // coded, bits per pixel
    float distortion = 0;
    std::string bitAllocReport;
    std::string codingReport;
    std::array<float, 4> firstCoef{};  // predictor of band 0 (upper-left, upper, upper-right, left)
    std::array<float, 4> secondCoef{}; // predictor of band 1
};

// Refuses, with zn::RunAborted naming `routine`, any choice the pages cannot make: an unknown method,
// quantiser family, rate or error probability, or DPCM without a prediction model.
void CheckBandCodingParams(const BandCodingParams &p, const char *routine);

// The coding of a run from the pages' choices and the Bitrate page's entropy flag; checked (with
// `routine` named in a refusal) only when coding is on.
BandCodingParams BandCodingOf(const BandCodingChoices &c, int entropyFlag, bool coding, const char *routine);

// Codes every band of sb in place (each replaced by its decoded version). The quantiser and
// performance tables come from tableDir; a missing one ends the run with zn::RunAborted.
BandCodingResult CodeBands(Subb *sb, const BandCodingParams &p, const std::string &tableDir);

// What a DCT or subband run produces besides its images.
struct CodedRunResult
{
    bool coding = false;
    float rate = 0; // coded bits per pixel (8 without coding)
    zn::Measures measures;
    std::string results;                 // the dialog's result text
    std::string descChain, descA, descB; // what the three windows describe
    std::string nameFinal, captionFinal; // decoded image
    std::string nameA, captionA;         // bands before coding
    std::string nameB, captionB;         // coded bands
};

struct SubbDeleter
{
    void operator()(Subb *sb) const;
};
using SubbPtr = std::unique_ptr<Subb, SubbDeleter>;

// The middle of a run, once sb holds the bands: dispA shows them (scaled by displayFactor, see
// DispSubb); with coding on they are coded in place and dispB shows them again. Sets out->coding and
// out->rate (8 bpp without coding).
BandCodingResult CodeShownBands(Subb *sb, bool coding, const BandCodingParams &p, const std::string &tableDir,
                                int displayFactor, ZnImage *dispA, ZnImage *dispB, CodedRunResult *out);
// The end of a run: the rebuilt image (owned from here) becomes decoded, rounded to grey levels and
// measured against source; out->results gets the two reports and the measures.
void TakeDecoded(Img *rebuilt, const ZnImage &source, const BandCodingResult &coded, ZnImage *decoded,
                 CodedRunResult *out);

// The code type of a run: fixed-length code words whenever the channel flips bits (a flipped
// variable-length code word would lose the decoder its place), else the entropy flag decides.
int BandCodeType(float errorProb, int entropyFlag);

// ---- words and lines of the reports, titles and captions ----
const char *MethodWord(int method);      // "DPCM" / "PCM"
float PdfCValue(const std::string &pdf); // "gg075" -> 0.75; 0 for an unknown name
const char *RateWord(float rate);        // 0.75 -> "075"; "" for a rate not offered
const char *ErrorWord(float p);          // 0.0005 -> "0005", 0 -> "No"; "" when not offered
std::string ErrorLine(float p);          // "No Channel Errors Simulated" / "Channel Errors ..."
// The measures appended to the result text, and to the chain window's description.
std::string MeasureResultText(float rate, const zn::Measures &m);
std::string MeasureDescription(float rate, const zn::Measures &m);
// The predictor laid out as the neighbours stand around the predicted sample x.
std::string PredictionText(const char *label, const std::array<float, 4> &coef);
