// Nearest code vector by full search, plain and batched. The batched search works on eight code
// vectors at a time with element-wise vector arithmetic: no reordering of any sum, no fused
// multiply-add, so its distances are bit for bit those of the plain loop.
#include "modules/vq/vq_search.h"

#include <cstddef>

namespace {

constexpr int kLanes = 8;
typedef float Lanes __attribute__((vector_size(kLanes * sizeof(float))));

} // namespace

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

VqNearestSearch::VqNearestSearch(const float *codebook, int n, int dim, float start)
    : m_n(n), m_dim(dim), m_batches((n + kLanes - 1) / kLanes), m_start(start),
      m_byComponent(static_cast<size_t>(m_batches) * dim * kLanes, 0.0f)
{
    for (int i = 0; i < n; ++i)
        for (int k = 0; k < dim; ++k)
            m_byComponent[(static_cast<size_t>(i / kLanes) * dim + k) * kLanes + i % kLanes] =
                codebook[static_cast<size_t>(i) * dim + k];
}

int VqNearestSearch::Find(const float *x, float *dist) const
{
    float best = m_start;
    int index = 0;
    const float *batch = m_byComponent.data();
    for (int b = 0; b < m_batches; ++b, batch += static_cast<size_t>(m_dim) * kLanes) {
        Lanes sum = {};
        for (int k = 0; k < m_dim; ++k) {
            Lanes c;
            __builtin_memcpy(&c, batch + static_cast<size_t>(k) * kLanes, sizeof c);
            const Lanes d = x[k] - c;
            sum += d * d;
        }
        const int lanes = m_n - b * kLanes < kLanes ? m_n - b * kLanes : kLanes;
        for (int l = 0; l < lanes; ++l)
            if (sum[l] < best) {
                best = sum[l];
                index = b * kLanes + l;
            }
    }
    *dist = best;
    return index;
}
