// Hierarchical block matching: two or three levels estimate a frame's field coarse to fine. Every
// level works on full-resolution frames smoothed by a box filter (so vectors keep their scale), with
// larger blocks, wider windows and sparser pixels at the coarse levels; a level's field, upsampled,
// is where the next level starts searching. The per-level parameters come from fixed tables.
#pragma once

#include "image/img.h"
#include "image/tables.h"

#include <memory>

constexpr int ME_MAX_LEVELS = 3;

// A vector field released with FreeVF.
struct MeFieldDeleter
{
    void operator()(VF *vf) const { FreeVF(vf); }
};
using MeField = std::unique_ptr<VF, MeFieldDeleter>;

// The per-level parameters of one choice (level 1 is the coarsest).
struct MeLevelTable
{
    int levels = 0;
    int block[ME_MAX_LEVELS] = {};
    int smoothing[ME_MAX_LEVELS] = {}; // box radius r: a (2r + 1) x (2r + 1) box
    int window[ME_MAX_LEVELS] = {};
    int subsample[ME_MAX_LEVELS] = {};
    int reach[ME_MAX_LEVELS] = {}; // displacement, or number of steps of the N-step search
    int totalReach = 0;            // the frames' border
};

// The tables for 2 or 3 levels, the finest block size (2, 4, 8, 16) and the reach value stored from
// the module's pages (displacements 4, 10, 22 or 11, 25; step counts 2, 3, 4 or 3, 4). False for a
// combination the tables do not hold.
bool MeLevelTables(int levels, int finestBlock, bool nStep, int storedReach, MeLevelTable *table);

// The distinct smoothing radii in order of first appearance, and each level's index into them.
// Returns their number.
int MeSmoothingSet(int levels, const int *radii, int *distinct, int *levelIndex);

// A stack of float images of one size, one per smoothing radius.
struct MeImageStack
{
    int seqType = IMG_SEQ_MONO;
    int rep = IMG_REP_FLOAT;
    int rows = 0;
    int cols = 0;
    int count = 0;
    Img **images = nullptr;
};
// Null when the memory is short (after AllocImg's message).
MeImageStack *MeAllocImageStack(int rows, int cols, int rep, int seqType, int count);
void MeFreeImageStack(MeImageStack *stack); // null allowed

// dst = src averaged over a (2r + 1) x (2r + 1) box; the outer r rows and columns are copied.
void MeSmoothBox(const Img *src, Img *dst, int r);
// The same the plain way (each box summed on its own), for the tests of the running sums.
void MeSmoothBoxPlain(const Img *src, Img *dst, int r);

// Coarse to fine over the levels: out (allocated with the finest grid and block size) ends with the
// finest level's vectors. method 0 full, 1 one-at-a-time, 2 N-step; the arrays hold one entry per
// level; imageIndex picks each level's image in the stacks.
void BmHierBlockMatch(const MeImageStack *cur, const MeImageStack *prev, VF *out, int method, int levels,
                      const int *reach, const int *block, const int *window, const int *smoothing,
                      const int *imageIndex, const int *subsample, int totalReach);

// From r x c coarse vectors to the working field of 2r x 2c: copies on the even positions, averages
// (truncated toward zero) between them, copies at the last row and column.
void MeUpsampleVF(const VF *coarse, VF *fine);
