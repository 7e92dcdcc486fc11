// The EZW list sort: the quicksort's own order of equal values, and the piecewise fast path giving
// exactly the plain quicksort's permutation on random, tied, sorted and structured lists.
#include "modules/ezw/ezw_sort.h"
#include "wavelet/wavelet_test_util.h"

#include <gtest/gtest.h>
#include <numeric>

namespace ezw_sort_test { // one namespace per test file: a folder compiles as one source

using namespace wavelettest;

namespace {

std::vector<int> Plain(std::vector<double> v)
{
    std::vector<int> ix(v.size());
    std::iota(ix.begin(), ix.end(), 0);
    ezw::QuickSortDescending(v.data(), ix.data(), 0, static_cast<long>(v.size()) - 1);
    return ix;
}

std::vector<int> InPieces(std::vector<double> v)
{
    std::vector<int> ix(v.size());
    std::iota(ix.begin(), ix.end(), 0);
    ezw::QuickSortDescendingInPieces(v.data(), ix.data(), static_cast<long>(v.size()));
    return ix;
}

TEST(EzwSortList, EqualValuesInTheQuicksortsOrder)
{
    // Both scans stop on a value equal to the pivot, so equal values change places: not the order a
    // stable sort would keep.
    ezw::EzwList list;
    for (int k = 0; k < 3; ++k)
        list.push_back(ezw::EzwNode{1, 0, k, 0, 0.0, 2.0});
    ezw::Ezw_sort_list(&list);
    EXPECT_EQ(list[0].row, 2);
    EXPECT_EQ(list[1].row, 0);
    EXPECT_EQ(list[2].row, 1);
    EXPECT_EQ(Plain({1, 1}), (std::vector<int>{1, 0}));
    EXPECT_EQ(Plain({2, 3, 2, 1, 3}), (std::vector<int>{1, 4, 0, 2, 3}));
}

TEST(EzwSortList, PiecesGiveThePlainPermutation)
{
    uint32_t seed = 17;
    auto uniform = [&](int n, int distinct) {
        std::vector<double> v(static_cast<size_t>(n));
        for (double &x : v)
            x = static_cast<double>(Lcg(&seed) % static_cast<uint32_t>(distinct));
        return v;
    };
    std::vector<std::pair<const char *, std::vector<double>>> cases = {
        {"empty", {}},
        {"one", {4.5}},
        {"all equal", std::vector<double>(1000, 3.0)},
        {"two values", uniform(2000, 2)},
        {"many ties", uniform(3000, 20)},
        {"nearly distinct", uniform(3000, 1 << 20)},
        {"infinities", {INFINITY, -INFINITY, 0.0, -0.0, INFINITY, 1e300, -1e300, 0.0}},
    };
    std::vector<double> ascending(2000), descending(2000);
    std::iota(ascending.begin(), ascending.end(), 0.0);
    std::iota(descending.rbegin(), descending.rend(), 0.0);
    cases.push_back({"ascending", ascending});
    cases.push_back({"descending", descending});
    // What a pass leaves: runs of last pass's equal values, each split in two by the new bit, and the
    // new entries, all smaller, behind them in scan order.
    std::vector<double> passes;
    for (int run = 40; run > 0; --run)
        for (uint32_t k = Lcg(&seed) % 60; k > 0; --k)
            passes.push_back(4.0 * run + (Lcg(&seed) % 2 ? 1.0 : -1.0));
    for (int k = 0; k < 500; ++k)
        passes.push_back(Lcg(&seed) % 2 ? 1.75 : 1.25);
    cases.push_back({"after a pass", passes});
    for (const auto &[name, v] : cases)
        EXPECT_EQ(InPieces(v), Plain(v)) << name;
}

TEST(EzwSortList, LongSortedListsInPieces)
{
    // A million distinct values in order: one piece per value, and the result is the identity.
    const int n = 1000000;
    std::vector<double> v(n);
    for (int k = 0; k < n; ++k)
        v[static_cast<size_t>(k)] = n - k;
    const std::vector<int> ix = InPieces(v);
    for (int k = 0; k < n; ++k)
        ASSERT_EQ(ix[static_cast<size_t>(k)], k);
}

} // namespace

} // namespace ezw_sort_test
