// Scalar quantisation core of the subband coding library: cell search, PCM and two-dimensional DPCM
// quantisation of a window of samples, simulated channel bit errors, the bit count of a static
// arithmetic coder, and the statistics the coders need (mean, variance, autocorrelation and the
// optimal linear predictor of four prediction models).
//
// A window is a rectangle of a plane: element (r, c) is plane[first + r * stride + c]. Rates are bits
// per sample and distortions mean square errors per sample of the window.
#pragma once

#include "image/tables.h"

// Prediction coefficients: four floats, one per causal neighbour of sample (r, c).
constexpr int PRED_UPPER_LEFT = 0;  // (r-1, c-1)
constexpr int PRED_UPPER = 1;       // (r-1, c)
constexpr int PRED_UPPER_RIGHT = 2; // (r-1, c+1)
constexpr int PRED_LEFT = 3;        // (r, c-1)

// The cell of x: the largest i in 1..L-1 with thr[i] < x, or 0. A value on a threshold falls into the
// lower cell.
inline int SbcQuantCell(float x, const float *thr, int levels)
{
    if (x > thr[levels - 1])
        return levels - 1;
    int lo = 0, hi = levels - 1, mid = hi / 2;
    while (mid > lo) {
        if (x > thr[mid])
            lo = mid;
        else
            hi = mid;
        mid = (lo + hi) / 2;
    }
    return lo;
}

// A quantiser the coders can use: levels, thresholds, reconstructions and code lengths all present.
// The coders refuse anything else by throwing zn::RunAborted, which ends the coding run.
inline bool SbcQuantUsable(const Quant *q)
{
    if (!q || q->levels < 1 || !q->code)
        return false;
    const size_t l = static_cast<size_t>(q->levels);
    return q->reconstruction.size() >= l && q->thresholds.size() >= l && q->code->VlcCodeLen.size() >= l;
}

// The received index after a channel that flips each of the n code bits with probability p.
// Seeds the process generator from the clock on its first use with p > 0.
int SbcBitErrors(int index, int codeLen, float p);

// PCM of a window of float samples (rep is not consulted). Each sample is replaced by its decoded
// reconstruction (through the channel when p > 0); the distortion counts quantisation alone.
void SbcPcmQuantize(float *rate, float *distortion, const Quant *q, float p, void *plane, int rep, int rows,
                    int cols, long first, long stride);

// Bits a static-model arithmetic coder spends on n indices; code->VlcCodeLen holds the frequencies
// (total 2^16). Stops counting at an invalid index or a zero-width subinterval.
long SbcArithBits(const int *indices, long n, const Vlc *code);

void SbcMean(float *mean, const void *plane, int rep, int rows, int cols, long first, long stride);
void SbcMeanVari(float *mean, float *vari, const void *plane, int rep, int rows, int cols, long first,
                 long stride);
void SbcVari(float *vari, const void *plane, int rep, float mean, int rows, int cols, long first,
             long stride);

// Autocorrelation of the mean-free window into cc[-k..k][-k..k], size = 2k+1 (made odd when even).
// Every shift is divided by the window size N; pairs leaving the window contribute 0.
void SbcCorr2d(float **cc, int size, const void *plane, int rep, int rows, int cols, long first, long stride);

// Optimal coefficients of prediction model 1..4 (left; + upper; + upper-left; + upper-right) from
// cc (k >= 2) and the prediction-error variance. Coefficients outside the model are left untouched.
// A flat window (singular normal equations) gets zero coefficients and its own variance.
void YuleWalker2d(float *vari, float *coef, float **cc, int size, int model);

// Two-dimensional DPCM of a window in place, the quantiser inside the prediction loop; the prediction
// errors go to errPlane (rows x cols, contiguous, same representation as the image plane).
void SbcDpcmQuantPred(float *rate, float *distortion, const Quant *q, const float *coef, float p,
                      void *errPlane, void *plane, int rep, int rows, int cols, long first, long stride);
// The same for one subband, without the prediction-error plane.
void SbcDpcmQuantize(float *rate, float *distortion, const Quant *q, const float *coef, float p, void *plane,
                     int rep, int rows, int cols, long first, long stride);
