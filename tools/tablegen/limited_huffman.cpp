// Package-merge: the code length of a symbol equals the number of times it appears among the
// 2n - 2 cheapest items of the last list, where each list merges the leaves with the pairwise
// packages of the list before. Without a binding limit the lengths are those of a Huffman code.
#include "limited_huffman.h"

#include <algorithm>
#include <numeric>

namespace tablegen {

namespace {

struct Item
{
    double weight;
    int leaf;        // symbol, or -1 for a package
    int left, right; // items of the previous list forming a package
};

} // namespace

std::vector<int> LimitedHuffmanLengths(const std::vector<double> &weights, int maxLen)
{
    const int n = static_cast<int>(weights.size());
    std::vector<int> lengths(static_cast<size_t>(n), 0);
    if (n == 1)
        lengths[0] = 1;
    if (n <= 1)
        return lengths;
    std::vector<int> order(static_cast<size_t>(n));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return weights[a] < weights[b]; });
    std::vector<Item> leaves;
    for (int s : order)
        leaves.push_back(Item{weights[static_cast<size_t>(s)], s, -1, -1});

    std::vector<std::vector<Item>> lists{leaves};
    for (int level = 1; level < maxLen; ++level) {
        const std::vector<Item> &prev = lists.back();
        std::vector<Item> packages;
        for (size_t k = 0; k + 1 < prev.size(); k += 2)
            packages.push_back(
                Item{prev[k].weight + prev[k + 1].weight, -1, static_cast<int>(k), static_cast<int>(k + 1)});
        std::vector<Item> merged;
        merged.reserve(leaves.size() + packages.size());
        // Leaves first on equal weight: a deterministic order.
        std::merge(leaves.begin(), leaves.end(), packages.begin(), packages.end(), std::back_inserter(merged),
                   [](const Item &a, const Item &b) { return a.weight < b.weight; });
        lists.push_back(std::move(merged));
    }
    // Take the 2n - 2 cheapest items of the last list and expand them level by level.
    std::vector<char> take(lists.back().size(), 0);
    std::fill(take.begin(), take.begin() + std::min<size_t>(take.size(), 2 * static_cast<size_t>(n) - 2), 1);
    for (size_t lv = lists.size(); lv-- > 0;) {
        const std::vector<Item> &list = lists[lv];
        std::vector<char> below(lv > 0 ? lists[lv - 1].size() : 0, 0);
        for (size_t k = 0; k < list.size(); ++k) {
            if (!take[k])
                continue;
            if (list[k].leaf >= 0) {
                ++lengths[static_cast<size_t>(list[k].leaf)];
            } else {
                below[static_cast<size_t>(list[k].left)] = 1;
                below[static_cast<size_t>(list[k].right)] = 1;
            }
        }
        take = std::move(below);
    }
    return lengths;
}

std::vector<std::string> CanonicalCodeWords(const std::vector<int> &lengths)
{
    const size_t n = lengths.size();
    std::vector<size_t> order(n);
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return lengths[a] < lengths[b]; });
    std::vector<std::string> words(n);
    unsigned long long code = 0;
    int len = n ? lengths[order[0]] : 0;
    for (size_t k = 0; k < n; ++k) {
        int l = lengths[order[k]];
        code <<= (l - len);
        len = l;
        std::string w(static_cast<size_t>(l), '0');
        for (int b = 0; b < l; ++b)
            if ((code >> (l - 1 - b)) & 1ULL)
                w[static_cast<size_t>(b)] = '1';
        words[order[k]] = w;
        ++code;
    }
    return words;
}

} // namespace tablegen
