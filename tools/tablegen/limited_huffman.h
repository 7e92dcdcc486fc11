// Optimal prefix code with a length limit (package-merge), written as canonical code words.
// Fine quantisers of heavy-tailed densities have outer levels so rare that an unlimited Huffman code
// would give them words longer than a decoder's 24-bit window; the limit costs almost no rate.
#pragma once

#include <string>
#include <vector>

namespace tablegen {

// Code lengths for the weights (all > 0), none longer than maxLen; requires 2^maxLen >= count.
std::vector<int> LimitedHuffmanLengths(const std::vector<double> &weights, int maxLen);

// Canonical code words for the lengths: shorter words first, ties in symbol order.
std::vector<std::string> CanonicalCodeWords(const std::vector<int> &lengths);

} // namespace tablegen
