// The JPEG module's own tables around the library: the five base quantisation tables and their
// quality scaling, the zigzag order, the fixed-length Huffman code and the perceptually designed
// matrix that the Quant page loads. Qt-free.
#pragma once

#include <array>
#include <cstdint>
#include <string>

// Base tables as the Quant page numbers them.
enum JpegQuantTable {
    kJpegStandardY = 0,
    kJpegStandardUV = 1,
    kJpegFlat = 2,
    kJpegHighEmphasis = 3,
    kJpegPerceptual = 4,
};
constexpr int kJpegTableCount = 5;

// Huffman modes.
constexpr int kJpegHuffFlc = 0;
constexpr int kJpegHuffStandard = 1;
constexpr int kJpegHuffOptimal = 2;

// The library divides by each step shifted left by 3 in 16 bits: 8191 is the largest step it takes.
constexpr int kJpegMaxStep = 8191;

using JpegTable = std::array<int, 64>;

// zigzag position k -> natural (row-major) index of the coefficient.
extern const std::array<int, 64> kJpegZigzagToNatural;

// Base table n (0..4) in natural order; table 4 is the designed matrix reordered from zigzag order.
// Any other n gives the Standard Y table.
JpegTable JpegBaseTable(int n);

// The library's quality scale: 5000 / q below 50, else 200 - 2q; q is limited to 1..100 first.
int JpegQualityScale(int quality);

// Base table n scaled: (base x scale + 50) / 100 in integers, limited to 1..kJpegMaxStep.
JpegTable JpegScaledTable(int n, int scale);

// The designed matrix (zigzag order), all zero until the module loads one; it stays for the rest of
// the program's run.
const std::array<int16_t, 64> &JpegDesignedMatrix();
void JpegSetDesignedMatrix(const std::array<int16_t, 64> &zigzag);

// The designed matrix file in the user's folder: 64 signed 16-bit little-endian values in zigzag
// order, no header. Reading fails (false) when the file is missing or shorter than 128 bytes;
// writing fails when the file cannot be written completely.
inline constexpr const char *kJpegMatrixName = "JpegQuantMatrix.dat";
bool JpegReadDesignedMatrix(const std::string &path, std::array<int16_t, 64> *zigzag);
bool JpegWriteDesignedMatrix(const std::string &path, const std::array<int16_t, 64> &zigzag);

// The symbols of the fixed-length code: DC categories 0..11 and the 162 AC run/size symbols in the
// order of the standard luminance AC table.
extern const std::array<uint8_t, 12> kJpegDcSymbols;
extern const std::array<uint8_t, 162> kJpegAcSymbols;
