// CAVLC block writer. A block is sent from its highest frequency down: coefficient count and trailing
// ones first (most blocks end in a few +-1), then the other levels with a suffix that widens as levels
// grow, then where the zeros lie. The two escapes of suffix length 0 carry their sign in the last
// suffix bit as this program's decoder reads it: 1 positive.
#include "h264enc/cavlc_write.h"

#include "h264dec/decoder_records.h"
#include "h264dec/h264_shared.h"
#include "platform/format.h"

#include <cstdlib>

namespace h264enc {

namespace {

constexpr int kLevelThreshold[7] = {0, 3, 6, 12, 24, 48, 32768};

// coeff_token codes of tables 0..3 and of chroma DC (index 4), [table][TrailingOnes][TotalCoeff], built
// once: tables 0..2 and chroma DC from the shared code tables, table 3 as its 6-bit fixed code.
struct CoeffTokenTable
{
    uint8_t len[5][4][17] = {};
    uint8_t code[5][4][17] = {};
};

const CoeffTokenTable &CoeffTokens()
{
    static const CoeffTokenTable table = [] {
        CoeffTokenTable t;
        for (int tab = 0; tab < 3; ++tab)
            for (int t1 = 0; t1 < 4; ++t1)
                for (int tc = 0; tc < 17; ++tc) {
                    t.len[tab][t1][tc] = kCoeffTokenLength[tab][t1][tc];
                    t.code[tab][t1][tc] = kCoeffTokenCode[tab][t1][tc];
                }
        for (int t1 = 0; t1 < 4; ++t1)
            for (int tc = 0; tc < 17; ++tc) {
                if (t1 > tc)
                    continue;
                t.len[3][t1][tc] = 6;
                t.code[3][t1][tc] = static_cast<uint8_t>(tc == 0 ? 3 : (tc - 1) * 4 + t1);
            }
        for (int t1 = 0; t1 < 4; ++t1)
            for (int tc = 0; tc < 5; ++tc) {
                t.len[4][t1][tc] = kCoeffTokenChromaDcLength[t1][tc];
                t.code[4][t1][tc] = kCoeffTokenChromaDcCode[t1][tc];
            }
        return t;
    }();
    return table;
}

int TableOfNc(int nC)
{
    return nC < 2 ? 0 : nC < 4 ? 1 : nC < 8 ? 2 : 3;
}

[[noreturn]] void Refuse(const std::string &text)
{
    h264_fatal_error(text, kH264StreamErrorCode);
}

// The code of one level: its length and bits, or len 0 when the escape cannot carry it.
struct LevelCode
{
    int len;
    uint32_t bits;
};

LevelCode CodeLevel(int levabs, bool negative, int suffixLength)
{
    if (suffixLength == 0) {
        if (levabs <= 7)
            return {negative ? 2 * levabs : 2 * levabs - 1, 1u};
        if (levabs <= 15)
            return {19, (1u << 4) | static_cast<uint32_t>(2 * levabs - 16 + (negative ? 0 : 1))};
        const int suffix = 2 * levabs - 32 + (negative ? 0 : 1);
        if (suffix >= 4096)
            return {0, 0};
        return {28, (1u << 12) | static_cast<uint32_t>(suffix)};
    }
    const int escape = (15 << (suffixLength - 1)) + 1;
    if (levabs >= escape) {
        const int suffix = 2 * (levabs - escape) + (negative ? 1 : 0);
        if (suffix >= 4096)
            return {0, 0};
        return {28, (1u << 12) | static_cast<uint32_t>(suffix)};
    }
    const int zeros = (levabs - 1) >> (suffixLength - 1);
    const uint32_t low = static_cast<uint32_t>(levabs - 1) & ((1u << (suffixLength - 1)) - 1);
    return {zeros + 1 + suffixLength, (1u << suffixLength) | (low << 1) | (negative ? 1u : 0u)};
}

// Everything a block's codes need, gathered and checked before a bit is written.
struct BlockPlan
{
    int maxCoeff = 0;
    int totalCoeff = 0;
    int trailingOnes = 0;
    int totalZeros = 0;
    int levels[16]; // only the first totalCoeff entries are set
    int runs[16];
};

BlockPlan Plan(int block_type, const int *level, const int *run)
{
    BlockPlan p;
    p.maxCoeff = CavlcMaxCoeff(block_type);
    for (int k = 0; level[k] != 0; ++k) {
        if (p.totalCoeff == p.maxCoeff)
            Refuse(zn::Format("ERROR: (numcoeff,trailingones) not valid: more than %d coefficients",
                              p.maxCoeff));
        if (run[k] < 0)
            Refuse(zn::Format("ERROR: (run) not valid: (%d)\n", run[k]));
        p.levels[p.totalCoeff] = level[k];
        p.runs[p.totalCoeff] = run[k];
        p.totalZeros += run[k];
        ++p.totalCoeff;
        if (std::abs(level[k]) == 1) {
            if (p.trailingOnes < 3)
                ++p.trailingOnes;
        } else {
            p.trailingOnes = 0;
        }
    }
    if (p.totalCoeff + p.totalZeros > p.maxCoeff)
        Refuse(zn::Format("ERROR: (TotalZeros) not valid: (%d)\n", p.totalZeros));
    return p;
}

// The level codes of a plan, in writing order; refuses a level beyond the escape range.
int PlanLevels(const BlockPlan &p, LevelCode *codes)
{
    int suffixLength = p.totalCoeff > 10 && p.trailingOnes < 3 ? 1 : 0;
    int n = 0;
    for (int k = p.totalCoeff - p.trailingOnes - 1; k >= 0; --k, ++n) {
        const int lev = p.levels[k];
        const int mag = std::abs(lev);
        const bool first = n == 0;
        const int coded = first && p.trailingOnes < 3 ? mag - 1 : mag;
        codes[n] = CodeLevel(coded, lev < 0, suffixLength);
        if (codes[n].len == 0)
            Refuse(
                zn::Format("writeCoeff4x4_CAVLC: level %d too large for the escape code (suffix length %d)",
                           lev, suffixLength));
        if (mag > kLevelThreshold[suffixLength])
            ++suffixLength;
        if (first && mag > 3)
            suffixLength = 2;
    }
    return n;
}

template <class Put>
int WriteBlock(Bitstream &bs, int block_type, const int *level, const int *run, int nC, int *total_coeff,
               Put put)
{
    if (CavlcMaxCoeff(block_type) == 0)
        h264_fatal_error("writeCoeff4x4_CAVLC: Invalid block type", 600);
    const BlockPlan p = Plan(block_type, level, run);
    LevelCode levelCodes[16];
    const int levelCount = p.totalCoeff > 0 ? PlanLevels(p, levelCodes) : 0;
    const bool chromaDc = block_type == kChrDC;
    if (chromaDc && p.totalCoeff > 4)
        Refuse(
            zn::Format("ERROR: (numcoeff,trailingones) not valid: (%d, %d)\n", p.totalCoeff, p.trailingOnes));
    *total_coeff = p.totalCoeff;

    const CoeffTokenTable &ct = CoeffTokens();
    const int tab = chromaDc ? 4 : TableOfNc(nC);
    const int tokenLen = ct.len[tab][p.trailingOnes][p.totalCoeff];
    if (tokenLen == 0)
        Refuse(zn::Format("ERROR: (numcoeff,trailingones) not valid: vlc=%d (%d, %d)\n", tab, p.totalCoeff,
                          p.trailingOnes));
    int bits = tokenLen;
    put(bs, ct.code[tab][p.trailingOnes][p.totalCoeff], tokenLen);
    bs.has_content = 1;
    if (p.totalCoeff == 0)
        return bits;

    // Trailing-one signs, highest frequency first, 1 for negative.
    if (p.trailingOnes > 0) {
        uint32_t signs = 0;
        for (int k = p.totalCoeff - 1; k >= p.totalCoeff - p.trailingOnes; --k)
            signs = (signs << 1) | (p.levels[k] < 0 ? 1u : 0u);
        put(bs, signs, p.trailingOnes);
        bits += p.trailingOnes;
    }
    for (int n = 0; n < levelCount; ++n) {
        put(bs, levelCodes[n].bits, levelCodes[n].len);
        bits += levelCodes[n].len;
    }

    int zerosLeft = p.totalZeros;
    if (p.totalCoeff < p.maxCoeff) {
        const int len = chromaDc ? kTotalZerosChromaDcLength[p.totalCoeff - 1][zerosLeft]
                                 : kTotalZerosLength[p.totalCoeff - 1][zerosLeft];
        const int code = chromaDc ? kTotalZerosChromaDcCode[p.totalCoeff - 1][zerosLeft]
                                  : kTotalZerosCode[p.totalCoeff - 1][zerosLeft];
        if (len == 0)
            Refuse(zn::Format("ERROR: (TotalZeros) not valid: (%d)\n", zerosLeft));
        put(bs, static_cast<uint32_t>(code), len);
        bits += len;
    }
    // Runs from the highest frequency down; the lowest coefficient's run is implied.
    for (int k = p.totalCoeff - 1; k > 0 && zerosLeft > 0; --k) {
        const int row = (zerosLeft < 7 ? zerosLeft : 7) - 1;
        const int r = p.runs[k];
        const int len = kRunBeforeLength[row][r];
        if (len == 0)
            Refuse(zn::Format("ERROR: (run) not valid: (%d)\n", r));
        put(bs, kRunBeforeCode[row][r], len);
        bits += len;
        zerosLeft -= r;
    }
    return bits;
}

} // namespace

int CavlcMaxCoeff(int block_type)
{
    switch (block_type) {
    case kLuma:
    case kLum16DC:
        return 16;
    case kLum16AC:
    case kChrAC:
        return 15;
    case kChrDC:
        return 4;
    default:
        return 0;
    }
}

int CavlcMaxLevel(int suffix_length)
{
    if (suffix_length <= 0)
        return 16 + 2047;
    return (15 << (suffix_length - 1)) + 1 + 2047;
}

int write_cavlc_block(Bitstream &bs, int block_type, const int *level, const int *run, int nC,
                      int *total_coeff)
{
    return WriteBlock(bs, block_type, level, run, nC, total_coeff,
                      [](Bitstream &b, uint32_t code, int len) { write_bits(b, code, len); });
}

int write_cavlc_block_reference(Bitstream &bs, int block_type, const int *level, const int *run, int nC,
                                int *total_coeff)
{
    return WriteBlock(bs, block_type, level, run, nC, total_coeff,
                      [](Bitstream &b, uint32_t code, int len) { write_bits_reference(b, code, len); });
}

int PredictNc(EncoderImage &img, int width_mbs, int i, int j)
{
    const int cur = img.mb_index;
    const int slice = img.mb_data[static_cast<size_t>(cur)].slice_index;
    const bool leftMb = img.mb_x > 0 && img.mb_data[static_cast<size_t>(cur - 1)].slice_index == slice;
    const bool upMb = img.mb_y > 0 && img.mb_data[static_cast<size_t>(cur - width_mbs)].slice_index == slice;
    int left = -1, up = -1;
    if (j < 4) {
        if (i > 0)
            left = img.nzcoeff.at(img.mb_x, img.mb_y, i - 1, j);
        else if (leftMb)
            left = img.nzcoeff.at(img.mb_x - 1, img.mb_y, 3, j);
        if (j > 0)
            up = img.nzcoeff.at(img.mb_x, img.mb_y, i, j - 1);
        else if (upMb)
            up = img.nzcoeff.at(img.mb_x, img.mb_y - 1, i, 3);
    } else {
        if (i & 1)
            left = img.nzcoeff.at(img.mb_x, img.mb_y, i - 1, j);
        else if (leftMb)
            left = img.nzcoeff.at(img.mb_x - 1, img.mb_y, i + 1, j);
        if (j == 5)
            up = img.nzcoeff.at(img.mb_x, img.mb_y, i, 4);
        else if (upMb)
            up = img.nzcoeff.at(img.mb_x, img.mb_y - 1, i, 5);
    }
    int sum = 0, count = 0;
    if (left >= 0) {
        sum += left;
        ++count;
    }
    if (up >= 0) {
        sum += up;
        ++count;
    }
    // Integer average, not the rounded one of the final standard: this program's decoder does the same.
    return count ? sum / count : 0;
}

int writeCoeff4x4_CAVLC(const EncoderParams &input, EncoderImage &img, int block_type, int b8, int b4,
                        int position)
{
    const bool intra = [&] {
        const int mode = img.mb_data[static_cast<size_t>(img.mb_index)].mb_mode;
        return mode == kModeI4 || mode == kModeI16;
    }();
    const int *level = nullptr;
    const int *run = nullptr;
    int category = 0;
    int i = 0, j = 0; // the block's place for nC and its count
    const int width_mbs = img.width / 16;
    switch (block_type) {
    case kLuma:
    case kLum16AC:
        if (b8 < 0 || b8 > 3 || b4 < 0 || b4 > 3)
            h264_fatal_error("writeCoeff4x4_CAVLC: Invalid block type", 600);
        level = img.cof.cofAC[b8][b4][0];
        run = img.cof.cofAC[b8][b4][1];
        category = block_type == kLum16AC ? SE_LUM_AC_INTRA : intra ? SE_LUM_AC_INTRA : SE_LUM_AC_INTER;
        i = 2 * (b8 & 1) + (b4 & 1);
        j = 2 * (b8 >> 1) + (b4 >> 1);
        break;
    case kLum16DC:
        level = img.cof.cofDC[0][0];
        run = img.cof.cofDC[0][1];
        category = SE_LUM_DC_INTRA;
        break;
    case kChrDC:
        if (position < 0 || position > 1)
            h264_fatal_error("writeCoeff4x4_CAVLC: Invalid block type", 600);
        level = img.cof.cofDC[position + 1][0];
        run = img.cof.cofDC[position + 1][1];
        category = intra ? SE_CHR_DC_INTRA : SE_CHR_DC_INTER;
        break;
    case kChrAC:
        if (b8 < 4 || b8 > 5 || b4 < 0 || b4 > 3)
            h264_fatal_error("writeCoeff4x4_CAVLC: Invalid block type", 600);
        level = img.cof.cofAC[b8][b4][0];
        run = img.cof.cofAC[b8][b4][1];
        category = intra ? SE_CHR_AC_INTRA : SE_CHR_AC_INTER;
        j = position & 15;
        i = position >> 4;
        if (j < 4 || j > 5 || i < 0 || i > 3)
            h264_fatal_error("writeCoeff4x4_CAVLC: Invalid block type", 600);
        break;
    default:
        h264_fatal_error("writeCoeff4x4_CAVLC: Invalid block type", 600);
    }
    if (img.type == kTypeB)
        category = SE_BFRAME;
    const int nC = block_type == kChrDC ? -1 : PredictNc(img, width_mbs, i, j);
    Slice *slice = img.current_slice;
    const int part = assignSE2partition[input.PartitionMode ? 1 : 0][category];
    if (!slice || part >= static_cast<int>(slice->partArr.size()))
        h264_fatal_error("writeCoeff4x4_CAVLC: no partition for the block", 600);
    int total = 0;
    const int bits = write_cavlc_block(slice->partArr[static_cast<size_t>(part)].bitstream, block_type, level,
                                       run, nC, &total);
    // The luma DC block of intra 16x16 leaves no count: the decoder keeps those of the AC blocks, or 0
    // when the pattern has none.
    if (block_type != kChrDC && block_type != kLum16DC)
        img.nzcoeff.at(img.mb_x, img.mb_y, i, j) = total;
    MacroblockRecord &mb = img.mb_data[static_cast<size_t>(img.mb_index)];
    mb.bit_counts[block_type == kChrDC || block_type == kChrAC ? kBitsChroma : kBitsLuma] += bits;
    ++mb.element_count;
    return bits;
}

} // namespace h264enc
