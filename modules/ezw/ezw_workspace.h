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
    ezw::EzwList list;
    ezw::EzwSortScratch sort;

    // A run starts: its (empty) members take the workspace's storage.
    static void Lend(EzwWorkspace *work, EzwPyramid *p, ezw::Flags *f, ezw::EzwList *l,
                     ezw::EzwSortScratch *s)
    {
        if (work)
            work->Swap(p, f, l, s);
        l->clear();
    }
    // A run ends: the storage goes back to the workspace, or is released without one.
    static void Return(EzwWorkspace *work, EzwPyramid *p, ezw::Flags *f, ezw::EzwList *l,
                       ezw::EzwSortScratch *s)
    {
        if (work)
            work->Swap(p, f, l, s);
        *p = EzwPyramid{};
        *f = ezw::Flags{};
        *l = {};
        *s = {};
    }

private:
    void Swap(EzwPyramid *p, ezw::Flags *f, ezw::EzwList *l, ezw::EzwSortScratch *s)
    {
        std::swap(pyramid, *p);
        std::swap(flags, *f);
        std::swap(list, *l);
        std::swap(sort, *s);
    }
};
