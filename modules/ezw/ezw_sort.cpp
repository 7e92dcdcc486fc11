// The subordinate list's sort: a quicksort in decreasing order of reconstruction that partitions
// around the first value of each range. Its order of equal values is part of the stream, so the
// fast path must give exactly its permutation.
//
// Quicksort around the first value is quadratic on a nearly sorted list, and the list is nearly
// sorted after every pass: last pass's order, each run of equal values split in two by the new bit,
// the new entries behind. But when every value of a tail B is below every value of the head A,
// sorting A ++ B gives sort(A) ++ sort(B): the right scan passes B without a swap, the left scan
// stops where it would have stopped at A's end, and the part right of the pivot is again a head and
// the whole of B. So the fast path cuts the list wherever the values before are all greater than
// the values after, and sorts each piece with the same quicksort.
#include "modules/ezw/ezw_sort.h"

#include <algorithm>
#include <utility>

namespace ezw {

void QuickSortDescending(double *v, int *ix, long lo, long hi)
{
    while (lo < hi) {
        const double pivot = v[lo];
        long i = lo, j = hi + 1;
        for (;;) {
            do
                ++i;
            while (i <= hi && v[i] > pivot);
            do
                --j;
            while (v[j] < pivot);
            if (i >= j)
                break;
            std::swap(v[i], v[j]);
            std::swap(ix[i], ix[j]);
        }
        std::swap(v[lo], v[j]);
        std::swap(ix[lo], ix[j]);
        // The smaller part first and the larger one in this loop: the stack stays shallow, and the
        // parts are disjoint, so the order of the result does not change.
        if (j - lo < hi - j) {
            QuickSortDescending(v, ix, lo, j - 1);
            lo = j + 1;
        } else {
            QuickSortDescending(v, ix, j + 1, hi);
            hi = j - 1;
        }
    }
}

void QuickSortDescendingInPieces(double *v, int *ix, long n, EzwSortValues *work)
{
    if (n < 2)
        return;
    // tailMax[k]: the largest value from k on.
    EzwSortValues own;
    EzwSortValues &tailMax = work ? *work : own;
    tailMax.resize(static_cast<size_t>(n));
    tailMax[static_cast<size_t>(n - 1)] = v[n - 1];
    for (long k = n - 2; k >= 0; --k)
        tailMax[static_cast<size_t>(k)] = std::max(v[k], tailMax[static_cast<size_t>(k + 1)]);
    long start = 0;
    double headMin = v[0];
    for (long k = 0; k + 1 < n; ++k) {
        headMin = std::min(headMin, v[k]);
        if (headMin > tailMax[static_cast<size_t>(k + 1)]) {
            QuickSortDescending(v, ix, start, k);
            start = k + 1;
            headMin = v[k + 1];
        }
    }
    QuickSortDescending(v, ix, start, n - 1);
}

void EzwReserveList(EzwList *list, EzwSortScratch *scratch, std::size_t coefficients)
{
    const std::size_t n = std::min<std::size_t>(coefficients, std::size_t{1} << 24);
    list->reserve(n);
    scratch->values.reserve(n);
    scratch->tailMax.reserve(n);
    scratch->order.reserve(n);
}

void Ezw_sort_list(EzwList *list, EzwSortScratch *scratch)
{
    EzwSortScratch own;
    EzwSortScratch &w = scratch ? *scratch : own;
    EzwList &l = *list;
    const long n = static_cast<long>(l.size());
    w.values.resize(static_cast<size_t>(n));
    w.order.resize(static_cast<size_t>(n));
    for (long k = 0; k < n; ++k) {
        w.values[static_cast<size_t>(k)] = l[static_cast<size_t>(k)].recon;
        w.order[static_cast<size_t>(k)] = static_cast<int>(k);
    }
    QuickSortDescendingInPieces(w.values.data(), w.order.data(), n, &w.tailMax);
    // Place k takes the entry from order[k]: each cycle of the permutation is followed once, and a
    // place that holds its entry is marked by order[k] = k.
    for (long start = 0; start < n; ++start) {
        if (w.order[static_cast<size_t>(start)] == start)
            continue;
        const EzwNode first = l[static_cast<size_t>(start)];
        long k = start;
        for (;;) {
            const long from = w.order[static_cast<size_t>(k)];
            w.order[static_cast<size_t>(k)] = static_cast<int>(k);
            if (from == start) {
                l[static_cast<size_t>(k)] = first;
                break;
            }
            l[static_cast<size_t>(k)] = l[static_cast<size_t>(from)];
            k = from;
        }
    }
}

} // namespace ezw
