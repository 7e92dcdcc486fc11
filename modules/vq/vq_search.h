// Full-search nearest-neighbour quantisation: a vector is coded by the index of the code vector
// with the smallest sum of squared differences. Among equal distances the lowest index wins, so a
// search that starts from the distance `start` only replaces its candidate on a strictly smaller sum.
#pragma once

#include <cstddef>
#include <vector>

// The plain search, kept as the reference of the fast one: code vector i is codebook[i*dim ..].
// Returns the index (0 when nothing beats start) and the distance found in *dist.
int VqNearestPlain(const float *codebook, int n, int dim, const float *x, float start, float *dist);

// The distance of two vectors as the plain search sums it: squares of float differences, added in
// component order in a float.
float VqDistance(const float *x, const float *c, int dim);

// What the fast search needs to know of a vector besides its components: the sum of its
// components, and how far rounding may have taken that sum from the exact one.
struct VqVectorStats
{
    double sum = 0;
    double sumError = 0;
    bool finite = true;
};
VqVectorStats VqMeasureVector(const float *x, int dim);

// The same answer as the plain search, bit for bit, found without summing most distances in order.
// Two vectors whose sums differ by s lie at a squared distance of at least s^2 / dim, so with the
// code vectors kept by increasing sum only those in a window around the input's sum can match the
// distance of a first guess. Each of those is measured with its squares added four abreast, which
// bounds the in-order sum closely enough to rule most out; the rest are summed in component order,
// as the plain search sums them. Ties keep the lowest index, whatever the order of measuring.
class VqNearestSearch
{
public:
    VqNearestSearch(const float *codebook, int n, int dim, float start);
    int Find(const float *x, float *dist) const;
    // The same, with the input's statistics known and a guess: code vector `hint` (or -1 for none)
    // at VqDistance hintDist. A good guess, such as the last answer for this input, narrows the
    // window but does not change the answer.
    int Find(const float *x, const VqVectorStats &stats, int hint, float hintDist, float *dist) const;
    // Code vector i.
    const float *Vector(int i) const { return m_codebook.data() + static_cast<size_t>(i) * m_dim; }

private:
    int m_n;
    int m_dim;
    float m_start;
    bool m_ordered = true;         // false: a code vector is not finite, and every search is plain
    std::vector<float> m_codebook; // the code vectors in index order
    std::vector<float> m_sorted;   // the code vectors by increasing sum
    std::vector<int> m_index;      // index of the sorted vector k
    std::vector<int> m_place;      // place in sorted order of vector i
    std::vector<double> m_sum;     // of the sorted vector k
    double m_maxSumError = 0;
    double m_unshrink, m_tiny, m_abreast; // rounding bounds of a float distance (see the source)
};
