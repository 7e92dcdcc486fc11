// The block DCT as a subband split: subband (j, k) collects coefficient (j, k) of every block, so the
// DCT module codes with the same per-band machinery as the QMF tree. The one-dimensional transforms
// are a fast recursive factorisation (a DCT-II of size N halves into a DCT-II and a DCT-IV of size
// N/2; the DCT-IV runs log2 M butterfly stages of table rotations), with a plain O(N^2) reference
// beside it.
#pragma once

#include "modules/sbc/subb.h"

#include <vector>

// Rotation tables for transforms up to size N: cos t, sin t - cos t, sin t + cos t per angle, so a
// rotation costs three multiplications.
struct SbcDctTable
{
    int size = 0;
    std::vector<float> full; // 3 per angle (4j+1) pi / (4h), entry h - 1 + j
    std::vector<float> half; // 3 per half angle (4i+1) pi / (4M), entry M/2 - 1 + i
};

SbcDctTable SbcDctTables(int n);
// Input permutation of the DCT-IV of size m.
std::vector<int> SbcDct4Perm(int m);

// Orthonormal DCT-II of x into y (x is used as work space); n a power of two, 2..table size.
void SbcDct2(const SbcDctTable &t, float *x, float *y, int n);
// Orthonormal DCT-III (the inverse) of x into y (x is used as work space).
void SbcIdct2(const SbcDctTable &t, float *x, float *y, int n);
// Orthonormal DCT-IV of x into y (x unchanged); its own inverse.
void SbcDct4(const SbcDctTable &t, const float *x, float *y, int m);

// Plain references: the defining sums, in double precision.
void SbcDct2Reference(const float *x, float *y, int n);
void SbcIdct2Reference(const float *x, float *y, int n);
void SbcDct4Reference(const float *x, float *y, int m);

// 2-D transforms of every br x bc block of a rows x cols float plane, in place.
void SbcDctBlocks(float *plane, int rows, int cols, int br, int bc);
void SbcIdctBlocks(float *plane, int rows, int cols, int br, int bc);

// Subband lists of a DCT decomposition (block sides in splits[0], splits[1], made even, 2..16).
void SbcDctSubbLayout(Subb *sb);

// The DCT decomposition of a float luminance image. Block sides must be powers of two from 2 to 16
// that divide the image sides; otherwise the message is shown and *sb stays null (nothing is
// transformed). takeOver as for the QMF tree.
void SbcSplitDct(Subb **sb, Img *src, int br, int bc, int takeOver);
// The image back, mean restored; *out stays null for a record that is not a DCT decomposition.
void SbcReconDct(Img **out, Subb *sb, int takeOver);
