// Storage one EZW run leaves to the next: the level arrays, the flags and the subordinate list with
// its sort arrays. The decoding that follows an encoding in the same Apply takes them over with their
// pages already in place; at 2048 x 2048 that spares some fifty megabytes of fresh memory.
#pragma once

#include "modules/ezw/ezw_sort.h"
#include "modules/ezw/ezw_tree.h"
#include "modules/ezw/ezw_wavelet.h"

#include <utility>
#include <vector>

struct EzwWorkspace
{
    EzwPyramid pyramid;
    ezw::Flags flags;
    std::vector<ezw::EzwNode> list;
    ezw::EzwSortScratch sort;

    // Trades storage with a coder's members: in when a run starts, out when it ends.
    void Swap(EzwPyramid *p, ezw::Flags *f, std::vector<ezw::EzwNode> *l, ezw::EzwSortScratch *s)
    {
        std::swap(pyramid, *p);
        std::swap(flags, *f);
        std::swap(list, *l);
        std::swap(sort, *s);
    }
};
