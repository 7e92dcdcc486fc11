// The order of the EZW subordinate list: decreasing reconstruction, as a quicksort around the first
// value of each range leaves it.
#pragma once

#include "modules/ezw/ezw_tree.h"

#include <vector>

namespace ezw {

// Sorts v[lo..hi] in decreasing order, carrying ix along: the plain quicksort, whose order of equal
// values the stream depends on.
void QuickSortDescending(double *v, int *ix, long lo, long hi);
// The same permutation, the list first cut into pieces that are each above everything after them.
void QuickSortDescendingInPieces(double *v, int *ix, long n);

// Sorts the list; encoder and decoder, holding proportional values, get the same order.
void Ezw_sort_list(std::vector<EzwNode> *list);

} // namespace ezw
