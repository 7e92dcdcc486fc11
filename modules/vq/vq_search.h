// Full-search nearest-neighbour quantisation: a vector is coded by the index of the code vector
// with the smallest sum of squared differences. Among equal distances the lowest index wins, so a
// search that starts from the distance `start` only replaces its candidate on a strictly smaller sum.
#pragma once

#include <vector>

// The plain search, kept as the reference of the fast one: code vector i is codebook[i*dim ..].
// Returns the index (0 when nothing beats start) and the distance found in *dist.
int VqNearestPlain(const float *codebook, int n, int dim, const float *x, float start, float *dist);

// The same search over a codebook stored component-major, so that one pass over the components
// measures a batch of code vectors at once. Each distance is still summed component by component in
// order, which keeps every sum, and therefore every choice, equal to the plain search's.
class VqNearestSearch
{
public:
    VqNearestSearch(const float *codebook, int n, int dim, float start);
    int Find(const float *x, float *dist) const;

private:
    int m_n;
    int m_dim;
    int m_batches;
    float m_start;
    std::vector<float> m_byComponent; // [batch][component][lane]
};
