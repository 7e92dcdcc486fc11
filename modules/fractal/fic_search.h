// The domain search of the fractal encoder: for one range, the domain of two class lists whose
// quantised map S * d + O has the smallest rms error, the first one in search order among equals.
// The plain search measures every domain of the lists with fic_match_error. The fast search gives
// the same answer bit for bit: it skips only domains that provably cannot win, and measures the
// others with whole-number sums that equal the plain ones exactly.
#pragma once

#include "modules/fractal/fic_geometry.h"

#include <array>
#include <cstdint>
#include <vector>

// A domain of one depth: its place on the grid, the sum and sum of squares of its half-resolution
// samples, and the orientation of its class.
struct FicDomain
{
    int h = 0, v = 0;
    double sd = 0, sdd = 0;
    int orientation = 0;
};

// The domains of one class pair in search order (indices into the level's domains), and beside
// them, entry by entry, what the fast search reads of each: the spread norm sqrt(w), w = n Sdd -
// Sd^2, read for every entry and so in an array of its own; the domain's sums and place; and its
// b x b half-resolution samples times four (the sums of 2 x 2 pixels, so whole numbers), turned
// into the frame of its class by its own orientation, row by row.
struct FicListEntry
{
    double sd = 0, sdd = 0;
    double w = 0;    // exact: a whole number of sixteenths
    int64_t sd4 = 0; // 4 Sd, a whole number
    int h = 0, v = 0, orientation = 0;
};
struct FicDomainList
{
    std::vector<int> entries;
    std::vector<double> norm;
    std::vector<FicListEntry> sums;
    std::vector<int16_t> samples;
};

// One depth of the quadtree: the domain grid, the domains, and the 72 class-pair lists.
struct FicDomainLevel
{
    FicLevel grid;
    int rangeSide = 0; // b: half the domain side
    std::vector<FicDomain> domains;
    std::array<FicDomainList, 72> lists;
};

// The four half-resolution copies, one per parity pair of a block's corner (x, y).
struct FicHalfCopies
{
    const double *copy[4] = {};
    int cols = 0;
    // Sample (0, 0) of the block at (x, y) of the image.
    const double *At(int x, int y) const
    {
        return copy[2 * (x & 1) + (y & 1)] + static_cast<long>(y / 2) * cols + x / 2;
    }
};

// Fills every list's norms and samples from the half-resolution copies.
void FicPackDomainLists(FicDomainLevel *level, const FicHalfCopies &half);

// The best map found so far: its rms error, indices, domain and orientation; e is the error before
// the square root, kept so that most candidates are rejected without one.
struct FicBest
{
    double rms = 1e10;
    double e = 0;
    int scale = 0, offset = 0, h = 0, v = 0, orientation = 0;
    bool found = false;
};

// The range to code: b x b pixels at (x, y) of the image (bytes, stride cols), their sum and sum of
// squares, and the grey-level map's bits.
struct FicRange
{
    const uint8_t *image = nullptr;
    int cols = 0;
    int x = 0, y = 0, b = 0;
    double sr = 0, srr = 0;
    int sb = 0, ob = 0;
};

// fic_match_error's arithmetic once Sdr is known: the scale and offset indices of the map and its
// error e (the rms error is sqrt(e), or 0 when e is not above 0). w = n * Sdd - Sd * Sd.
struct FicMapFit
{
    int scale = 0, offset = 0;
    double e = 0;
};
FicMapFit FicFitMap(double n, double sr, double srr, double sd, double sdd, double w, double sdr, int sb,
                    int ob);

// The plain search of one list: every domain in order, each matched with fic_match_error on the
// half-resolution copy; a domain replaces the best only with a strictly smaller rms.
void FicSearchListPlain(const FicRange &range, const FicDomainLevel &level, const FicDomainList &list,
                        int rangeOrientation, const FicHalfCopies &half, FicBest *best);

// The fast search of one range, over the two lists the plain search would take, in the same order.
// With fitThreshold >= 0 only a best within it matters (a range that may still be split): domains
// that cannot come within it are skipped as well, and the best is then exact only when it is within
// it. The scratch buffer is reused between ranges.
void FicSearchRangeFast(const FicRange &range, const FicDomainList &first, int firstOrientation,
                        const FicDomainList &second, int secondOrientation, double fitThreshold,
                        std::vector<int16_t> *scratch, FicBest *best);

// 4 * Sdr for b*b samples: the sum of products of the turned range pixels and the domain's samples
// times four. Whole numbers throughout, so any order of summing gives the same exact value. The
// plain loop is the reference of the vectorised one.
int64_t FicDotPlain(const int16_t *a, const int16_t *b, int count);
int64_t FicDot(const int16_t *a, const int16_t *b, int count);
