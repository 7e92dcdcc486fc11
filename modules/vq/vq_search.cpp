// Nearest code vector, plain and fast. The fast search skips a code vector only on a lower bound of
// its float distance that exceeds the best distance so far, so it never skips one that could win or
// tie. The bounds are taken in exact arithmetic and shrunk by the most that float rounding can take
// from a sum of dim squares: each rounding moves a value by at most 2^-24 of itself, or by 2^-150
// below the smallest normal float, and dim + 2 roundings bear on each term of a distance.
#include "modules/vq/vq_search.h"

#include <algorithm>
#include <cmath>

int VqNearestPlain(const float *codebook, int n, int dim, const float *x, float start, float *dist)
{
    float best = start;
    int index = 0;
    for (int i = 0; i < n; ++i) {
        const float *c = codebook + static_cast<size_t>(i) * dim;
        float sum = 0.0f;
        for (int k = 0; k < dim; ++k) {
            const float d = x[k] - c[k];
            sum += d * d;
        }
        if (sum < best) {
            best = sum;
            index = i;
        }
    }
    *dist = best;
    return index;
}

float VqDistance(const float *x, const float *c, int dim)
{
    float sum = 0.0f;
    for (int k = 0; k < dim; ++k) {
        const float d = x[k] - c[k];
        sum += d * d;
    }
    return sum;
}

namespace {

constexpr double kDoubleUlp = 0x1p-52;

typedef float Four __attribute__((vector_size(4 * sizeof(float))));

// The squares of VqDistance, term for term the same floats, but added four abreast and then across:
// another order, so not the same sum, but one within a few roundings of it.
float SquaresAbreast(const float *x, const float *c, int dim)
{
    Four acc = {};
    int k = 0;
    for (; k + 4 <= dim; k += 4) {
        Four a, b;
        __builtin_memcpy(&a, x + k, sizeof a);
        __builtin_memcpy(&b, c + k, sizeof b);
        const Four d = a - b;
        acc += d * d;
    }
    float sum = (acc[0] + acc[1]) + (acc[2] + acc[3]);
    for (; k < dim; ++k) {
        const float d = x[k] - c[k];
        sum += d * d;
    }
    return sum;
}

} // namespace

VqVectorStats VqMeasureVector(const float *x, int dim)
{
    VqVectorStats s;
    double sum = 0, magnitude = 0;
    for (int k = 0; k < dim; ++k) {
        sum += x[k];
        magnitude += std::fabs(x[k]);
    }
    s.finite = std::isfinite(magnitude);
    s.sum = sum;
    // Summing in doubles errs by at most dim - 1 ulps of the sum of magnitudes; doubled for room,
    // and the rounding of a difference of two such sums besides.
    s.sumError = 2 * ((dim + 1) * kDoubleUlp * magnitude + kDoubleUlp * std::fabs(sum));
    return s;
}

VqNearestSearch::VqNearestSearch(const float *codebook, int n, int dim, float start)
    : m_n(n), m_dim(dim), m_start(start), m_codebook(codebook, codebook + static_cast<size_t>(n) * dim),
      // An exact squared distance D gives a float one of at least D * shrink - tiny, with shrink =
      // 1 - (dim + 3) 2^-23 (twice the rounding): D above (d + tiny) * unshrink means float above d.
      m_unshrink((1 + 8 * kDoubleUlp) / (1.0 - (dim + 3) * 0x1p-23)), m_tiny((2 * dim + 2) * 0x1p-149),
      // Two float sums of the same dim nonnegative terms differ by at most dim roundings of 2^-24
      // each way; twice that is allowed for.
      m_abreast(1.0 - (2 * dim + 4) * 0x1p-23)
{
    std::vector<VqVectorStats> stats(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        stats[i] = VqMeasureVector(codebook + static_cast<size_t>(i) * dim, dim);
        m_ordered = m_ordered && stats[i].finite;
        m_maxSumError = std::max(m_maxSumError, stats[i].sumError);
    }
    if (!m_ordered)
        return;
    m_index.resize(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        m_index[i] = i;
    std::sort(m_index.begin(), m_index.end(), [&stats](int a, int b) {
        return stats[a].sum < stats[b].sum || (stats[a].sum == stats[b].sum && a < b);
    });
    m_sorted.resize(m_codebook.size());
    m_place.resize(static_cast<size_t>(n));
    m_sum.resize(static_cast<size_t>(n));
    for (int k = 0; k < n; ++k) {
        const int i = m_index[k];
        std::copy_n(codebook + static_cast<size_t>(i) * dim, dim,
                    m_sorted.begin() + static_cast<ptrdiff_t>(k) * dim);
        m_place[i] = k;
        m_sum[k] = stats[i].sum;
    }
}

int VqNearestSearch::Find(const float *x, float *dist) const
{
    return Find(x, VqMeasureVector(x, m_dim), -1, 0.0f, dist);
}

int VqNearestSearch::Find(const float *x, const VqVectorStats &xs, int hint, float hintDist,
                          float *dist) const
{
    // The bounds need finite vectors and distances; anything else, and an empty codebook, takes the
    // plain way.
    if (!m_ordered || !xs.finite || m_n < 1 || !(m_start < 1e37f))
        return VqNearestPlain(m_codebook.data(), m_n, m_dim, x, m_start, dist);
    const int dim = m_dim;
    const double *sums = m_sum.data();
    float best = m_start;
    int bestIndex = -1;
    // Strictly smaller wins; an equal sum wins only with a lower index.
    const auto offer = [&](float d, int i) {
        if (d < best || (d == best && bestIndex >= 0 && i < bestIndex)) {
            best = d;
            bestIndex = i;
        }
    };
    // Without a guess, the vector of the nearest sum is one.
    int guessPlace = 0;
    if (hint >= 0 && hint < m_n) {
        guessPlace = m_place[hint];
        offer(hintDist, hint);
    } else {
        guessPlace = std::min(static_cast<int>(std::lower_bound(sums, sums + m_n, xs.sum) - sums), m_n - 1);
        offer(VqDistance(x, &m_sorted[static_cast<size_t>(guessPlace) * dim], dim), m_index[guessPlace]);
    }

    // A vector whose sum differs from the input's by more than the window (less the sums' rounding)
    // has an exact distance above reach, so a float one above best.
    const double reach = (static_cast<double>(best) + m_tiny) * m_unshrink;
    const double window = std::sqrt(reach * dim) * (1 + 8 * kDoubleUlp) + 2 * (xs.sumError + m_maxSumError);
    // Outwards from the guess's place, each way up to the window's edge; a guess from an earlier pass
    // may lie outside the window, and the vectors between it and the window are passed over.
    const double low = xs.sum - window, high = xs.sum + window;
    const auto visit = [&](int k) {
        const float *c = &m_sorted[static_cast<size_t>(k) * dim];
        if (static_cast<double>(SquaresAbreast(x, c, dim)) * m_abreast - m_tiny > best)
            return;
        offer(VqDistance(x, c, dim), m_index[k]);
    };
    for (int k = guessPlace + 1; k < m_n && sums[k] <= high; ++k)
        if (sums[k] >= low)
            visit(k);
    for (int k = guessPlace - 1; k >= 0 && sums[k] >= low; --k)
        if (sums[k] <= high)
            visit(k);
    *dist = best;
    return bestIndex >= 0 ? bestIndex : 0;
}
