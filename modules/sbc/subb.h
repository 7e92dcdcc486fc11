// Subband decompositions and the subband codec: the decomposition record, the QMF tree split and
// merge, the bit allocation over the subbands' rate-distortion curves, coding every subband with PCM
// or DPCM, and the two report tables of the subband and DCT modules.
//
// Errors: the routines report problems in message boxes and carry on, except where a table the
// coding needs is missing. Then the run cannot go on: SbcSelQuant, SbcGetPerfPar and SbcCodec
// release what they made and throw zn::RunAborted (platform/errors.h). Its what() is the text to show
// the user; the module's Apply catches it, shows it and ends the run. A missing quantiser is never
// used as an empty table.
#pragma once

#include "image/img.h"
#include "image/tables.h"

#include <array>
#include <string>
#include <vector>

constexpr int SUBB_MAX_LEVELS = 8;
constexpr int SUBB_MAX_BANDS = 256;

constexpr int SUBB_UNSPLIT = 0;
constexpr int SUBB_QMF_TREE = 1;
constexpr int SUBB_BLOCK_DCT = 7;

constexpr int SBC_PCM = 0;
constexpr int SBC_DPCM = 1;

// The subband list of one component. Sample (r, c) of band i is plane element
// first[i] + r * (image cols) + c.
struct SubbComponent
{
    int32_t levelsDone = 0;
    std::array<int32_t, SUBB_MAX_LEVELS> splits{}; // bands split per level (a DCT split: B_r, B_c)
    int32_t count = 0;
    std::array<int32_t, SUBB_MAX_BANDS> bandRows{};
    std::array<int32_t, SUBB_MAX_BANDS> bandCols{};
    std::array<int32_t, SUBB_MAX_BANDS> first{};
    float mean = 0; // removed before splitting
    float vari = 0; // of the image before splitting
};

struct Subb
{
    int32_t decomposed = SUBB_UNSPLIT;
    int32_t seqType = IMG_SEQ_MONO;
    int32_t rep = IMG_REP_FLOAT;
    void *plane[3] = {nullptr, nullptr, nullptr}; // malloc'd, as Img planes, so either can adopt them
    int32_t rows = 0;
    int32_t cols = 0;
    int32_t reserved = 0;
    std::vector<SubbComponent> comp; // one for sequence type 1, three otherwise
    std::string name;

    float *FloatPlane(int k = 0) const { return static_cast<float *>(plane[k]); }
};

// True when band i of component 0 lies inside the plane (a record made by a split always does).
inline bool SubbBandInside(const Subb *sb, int i)
{
    const SubbComponent &c = sb->comp[0];
    if (i < 0 || i >= c.count || i >= SUBB_MAX_BANDS || sb->cols <= 0)
        return false;
    const long f = c.first[i];
    return f >= 0 && c.bandRows[i] >= 0 && c.bandCols[i] >= 0 && f / sb->cols + c.bandRows[i] <= sb->rows &&
           f % sb->cols + c.bandCols[i] <= sb->cols;
}

// A record holding one band per component that covers the whole plane.
void AllocSubb(Subb **sb, int rows, int cols, int rep, int seqType);
void FreeSubb(Subb *sb); // null allowed

// takeOver without a copy, for float luminance: a record of src's size (one band over the whole
// plane) that takes src's plane, and an image that takes the record's plane. The giver keeps no plane.
Subb *SubbTakingPlane(Img *src);
Img *ImgTakingPlane(Subb *sb);

// QMF tree analysis of a float luminance image with a one-dimensional FIRQMF bank: the mean is
// removed, then at level i the first splits[i] bands of the list are split into four. splits is
// limited in place to 4^i. With takeOver the record adopts src's plane and src is freed.
// A source that is not a float luminance image gets the message and no record (*sb null); with a
// bank of another kind the record holds the mean-free image unsplit.
void SbcSplitModHigh(Subb **sb, Img *src, const Filt *filt, int levels, int *splits, int takeOver);
// QMF tree synthesis with the same bank; the mean is restored. With takeOver the image adopts the
// record's plane and the record is freed. A record that is not float luminance gives no image.
void SbcReconModHigh(Img **out, Subb *sb, const Filt *filt, int takeOver);

// Per-band statistics: PCM bands get their variance, DPCM bands their predictor (coef, 4 per band)
// and prediction-error variance.
void SbcGetCodMethPar(float *vari, float *coef, const Subb *sb, const int *methods, int model);
// Per-band operating-point curves: point 0 is "no quantiser" (rate 0, distortion 1), then the
// performance table of the band's pdf, scaled to bits per image pixel and to the band's variance.
void SbcGetPerfPar(PerfQuant **curves, const Subb *sb, const float *vari, int codeType,
                   const std::string &dir, const std::string &stem, const std::vector<std::string> &pdfNames);
// Greedy allocation: repeatedly moves the band with the steepest distortion decrease per bit along
// its curve until the target is passed, then keeps the closer of the last two states.
// targetKind 1 targets a rate, 0 a distortion. Returns the number of steps.
int SbcBitAlloc(float *rate, float *distortion, int *alloc, int n, PerfQuant *const *curves, int targetKind,
                float target);
// One quantiser per band (owned by the caller, FreeQuant), scaled to the band's variance and
// allocated to meet the target rate. codeType 1 gives fixed-length codes, 2 the table's own codes.
void SbcSelQuant(float *rate, float *distortion, Quant **quants, float *vari, float *coef, const Subb *sb,
                 const int *methods, int model, int codeType, const std::string &dir, const std::string &stem,
                 const std::vector<std::string> &pdfNames, float target);

// Codes and decodes every band in place; a record that is not float luminance is left alone after
// the message, and bands outside the plane are skipped. Totals: rate in bits per image pixel, distortion the
// plain sum of the bands' mean square errors.
void SbcCodec(float *totalRate, float *totalDist, float *rates, float *dists, Subb *sb, Quant *const *quants,
              const int *methods, const float *coef, float p);

std::string SbcPrintBitAlloc(const Subb *sb, Quant *const *quants, const float *vari, const int *methods,
                             const std::string &label, const std::vector<std::string> &pdfNames,
                             float target);
std::string SbcPrintCodingResults(const Subb *sb, Quant *const *quants, const float *rates,
                                  const float *dists, const float *vari);
