// The order of the EZW subordinate list: decreasing reconstruction, as a quicksort around the first
// value of each range leaves it.
#pragma once

#include "modules/ezw/ezw_tree.h"

#include <vector>

namespace ezw {

using EzwSortValues = std::vector<double, zn::LargeBlockAllocator<double>>;

// The sort's work arrays, kept from pass to pass so that a long list does not allocate them anew.
struct EzwSortScratch
{
    EzwSortValues values, tailMax;
    std::vector<int, zn::LargeBlockAllocator<int>> order;
};

// Room for a list of up to `coefficients` entries, in the list and in the sort's arrays. Memory that
// is reserved but never used costs no pages, while a list that outgrows its storage is copied into a
// new block, whose every page is new to the process, several times per pass: the reservation is
// what keeps a long list cheap. It is capped, beyond which the list grows as a vector does.
void EzwReserveList(EzwList *list, EzwSortScratch *scratch, std::size_t coefficients);

// Sorts v[lo..hi] in decreasing order, carrying ix along: the plain quicksort, whose order of equal
// values the stream depends on.
void QuickSortDescending(double *v, int *ix, long lo, long hi);
// The same permutation, the list first cut into pieces that are each above everything after them.
void QuickSortDescendingInPieces(double *v, int *ix, long n, EzwSortValues *tailMax = nullptr);

// Sorts the list; encoder and decoder, holding proportional values, get the same order.
void Ezw_sort_list(EzwList *list, EzwSortScratch *scratch = nullptr);

} // namespace ezw
