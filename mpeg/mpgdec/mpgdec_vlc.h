// Variable-length code tables of the picture data: macroblock addressing and types, coded block
// patterns, motion codes, DC sizes and the two run/level tables of the coefficients. Each table is
// a direct lookup on the next `bits` bits of the window; an entry of length 0 is an invalid code.
#pragma once

#include <cstdint>
#include <vector>

namespace zn::mpgvlc {

struct Entry
{
    int16_t value = 0; // meaning depends on the table; see the values below
    int8_t run = 0;    // coefficient tables: the run of zeros
    uint8_t len = 0;   // code length in bits, 0 for an invalid code
};

struct Table
{
    int bits = 0;
    std::vector<Entry> entries;
    const Entry &Look(uint32_t window32) const { return entries[window32 >> (32 - bits)]; }
};

// Macroblock address increment: 1..33, kStuffing, kEscape.
constexpr int kStuffing = 34;
constexpr int kEscape = 35;
const Table &AddressIncrement();
// Macroblock types per picture type (1 I, 2 P, 3 B): flags intra 1, pattern 2, backward 4,
// forward 8, quant 16.
const Table &MacroblockType(int pictureType);
const Table &CodedBlockPattern();
// Motion code magnitude with its sign bit included: value -16..16.
const Table &MotionCode();
const Table &DcSize(bool chroma);
// Coefficients: value = level (sign not included), run; value kEob / kEscapeCode. `first` gives
// the form of the first coefficient of a non-intra block; `one` the intra table of MPEG-2.
constexpr int kEob = -1;
constexpr int kEscapeCode = -2;
const Table &Coefficients(bool first, bool one);

// The coefficient tables again in 6 KB instead of 256 KB, so that they stay in the first-level cache:
// a code whose first seven bits hold a 1 is at most ten bits long and is found by the first ten bits
// of the window; the rarer codes of seven or more leading zeros by the first sixteen, of which only
// the first 512 values can start that way. Look gives the same entry as the table it was made from.
struct CompactTable
{
    const Table *full = nullptr;
    Entry high[1024]; // window >= 0x02000000, by its first ten bits
    Entry low[512];   // window < 0x02000000, by its first sixteen bits
    const Entry &Look(uint32_t window32) const
    {
        return window32 >= 0x02000000u ? high[window32 >> 22] : low[window32 >> 16];
    }
};
const CompactTable &CompactCoefficients(bool first, bool one);

// Kraft sums of the tables (tests): 1.0 for a complete code.
double KraftSum(const Table &t);

} // namespace zn::mpgvlc
