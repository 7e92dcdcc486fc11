// Block matching: one motion vector per block between the previous and the current frame. Three
// searches share one argument list and one judge (BmMinSAD): the full search tries every
// displacement within reach, one-at-a-time searches the horizontal then the vertical, and the N-step
// search halves its step N times around the best so far.
//
// Frames are float images with a border of `border` samples on every side; a vector (A, B) of the
// block at (x, y) names the area of the previous frame at (x + A, y + B), which predicts the block.
#pragma once

#include "image/img.h"
#include "image/tables.h"

// Search methods and criteria.
constexpr int ME_SEARCH_FULL = 0;
constexpr int ME_SEARCH_ONE_AT_A_TIME = 1;
constexpr int ME_SEARCH_NSTEP = 2;
constexpr int ME_CRITERION_SAD = 0;
constexpr int ME_CRITERION_SSD = 1;

// The shared argument list: current and previous frame, the output field (allocated by the caller
// with its block grid and block size), the starting field or none, the matching window, the reach
// (maximum displacement, or the number of steps of the N-step search), the criterion, the frames'
// border, the window's offset to the left of and above the block, and the pixel step in the window.
void BmBruteForceSearch(const Img *cur, const Img *prev, VF *out, const VF *start, int winH, int winW,
                        int reach, int criterion, int border, int offX, int offY, int step);
void BmOneTimeSearch(const Img *cur, const Img *prev, VF *out, const VF *start, int winH, int winW, int reach,
                     int criterion, int border, int offX, int offY, int step);
void BmNStepSearch(const Img *cur, const Img *prev, VF *out, const VF *start, int winH, int winW, int reach,
                   int criterion, int border, int offX, int offY, int step);

// A candidate list: offsets (cA, cB) that place the reference window at the centre minus (cA, cB),
// so each stands for the displacement (-cA, -cB). Kept as a vector field, one entry per offset.
struct BmCandidates
{
    int length;
    const int *a;
    const int *b;
};

// Writes into *best the index of the candidate with the smallest mean absolute difference over the
// counted window positions (both pixels inside the bordered frame); the earlier candidate wins a
// tie. curRows and prevRows are IndexArray tables over rows and columns -border .. size + border - 1.
// Leaves *best untouched for a frame that is not float.
void BmMinSAD(void **curRows, int originX, int originY, void **prevRows, int centreX, int centreY, int rep,
              int winH, int winW, const BmCandidates &list, int *best, int step, int border, int height,
              int width);
// The same judged by the mean squared difference, candidates abandoned as soon as they cannot win.
// Byte, integer and float frames.
void BmMinSSD(void **curRows, int originX, int originY, void **prevRows, int centreX, int centreY, int rep,
              int winH, int winW, const BmCandidates &list, int *best, int step, int border, int height,
              int width);

// The window's measure for one candidate, the plain way (every position tested) and the way the
// searches take (the counted positions found as ranges first). Both return false when no position
// counts, else the mean absolute difference in *mean; both visit positions in the same order, so the
// results are equal to the last bit.
bool BmWindowSadPlain(void **curRows, int originX, int originY, void **prevRows, int refX, int refY, int winH,
                      int winW, int step, int border, int height, int width, double *mean);
bool BmWindowSad(void **curRows, int originX, int originY, void **prevRows, int refX, int refY, int winH,
                 int winW, int step, int border, int height, int width, double *mean);

// Messages that would come once per block come once per run: a run starts with this call.
void BmBeginRun();
