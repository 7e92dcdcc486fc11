// Bit reading and variable-length symbols: Exp-Golomb codes and their mappings, the bit counters, the
// end-of-data test, and the CAVLC readers with their tables, which must equal the published tables
// typed below as code strings.
#include "h264/support/h264_stream_writer.h"
#include "h264dec/cavlc_read.h"
#include "h264dec/decoder_state.h"
#include "platform/messages.h"

#include <gtest/gtest.h>

#include <string>

namespace vlc_test { // one namespace per test file: a folder compiles as one source

namespace {

using Bytes = std::vector<uint8_t>;

// A bitstream holding the bits of a string of '0' and '1' (spaces ignored), zero-padded.
struct Bits
{
    Bitstream bs;
    explicit Bits(const std::string &s, bool withStopBit = false)
    {
        h264test::BitWriter w;
        for (char c : s)
            if (c == '0' || c == '1')
                w.u(1, c == '1');
        if (withStopBit)
            w.trailing();
        bs.AllocBuffer(static_cast<int>(w.Bytes().size()));
        std::copy(w.Bytes().begin(), w.Bytes().end(), bs.storage.begin());
        bs.byte_length = static_cast<int>(w.Bytes().size());
    }
};

// A partition over those bits, for the CAVLC readers.
struct Part
{
    DataPartition dp;
    explicit Part(const std::string &s)
    {
        dp.bitstream = std::make_unique<Bitstream>();
        h264test::BitWriter w;
        for (char c : s)
            if (c == '0' || c == '1')
                w.u(1, c == '1');
        w.u(16, 0xFFFF); // data after the code word, so a reader can never run out
        dp.bitstream->AllocBuffer(static_cast<int>(w.Bytes().size()));
        std::copy(w.Bytes().begin(), w.Bytes().end(), dp.bitstream->storage.begin());
        dp.bitstream->byte_length = static_cast<int>(w.Bytes().size());
    }
    Bitstream &bs() { return *dp.bitstream; }
};

int CountBits(const std::string &s)
{
    int n = 0;
    for (char c : s)
        n += c == '0' || c == '1';
    return n;
}

TEST(ExpGolomb, CodeWordsReadAsTheirNumbers)
{
    struct Case
    {
        const char *bits;
        int ue, se, length;
    };
    const Case cases[] = {
        {"1", 0, 0, 1},      {"010", 1, 1, 3},    {"011", 2, -1, 3},    {"00100", 3, 2, 5},
        {"00101", 4, -2, 5}, {"00111", 6, -3, 5}, {"0001000", 7, 4, 7}, {"000010001", 16, -8, 9},
    };
    for (const Case &c : cases) {
        Bits a(c.bits), b(c.bits);
        EXPECT_EQ(h264dec_read_ue("t", &a.bs), c.ue) << c.bits;
        EXPECT_EQ(a.bs.bit_offset, c.length) << c.bits;
        EXPECT_EQ(h264dec_read_se("t", &b.bs), c.se) << c.bits;
    }
}

TEST(ExpGolomb, WrittenValuesReadBack)
{
    h264test::BitWriter w;
    std::vector<int> values;
    for (int v = 0; v <= 65534; v += 37)
        values.push_back(v);
    for (int v : values)
        w.ue(static_cast<uint32_t>(v));
    for (int v = -32767; v <= 32767; v += 41)
        w.se(v);
    w.ue(0x7ffffffe); // 30 leading zeros: the longest code word accepted
    w.trailing();
    Bitstream bs;
    h264dec_load_payload(&bs, w.Bytes().data(), static_cast<int>(w.Bytes().size()));
    for (int v : values)
        ASSERT_EQ(h264dec_read_ue("t", &bs), v);
    for (int v = -32767; v <= 32767; v += 41)
        ASSERT_EQ(h264dec_read_se("t", &bs), v);
    EXPECT_EQ(h264dec_read_ue("t", &bs), 0x7ffffffe);
}

TEST(ExpGolomb, ThirtyOneZerosFail)
{
    std::string code(63, '0');
    code[31] = '1';
    Bits b(code);
    SyntaxSymbol sym;
    sym.map_fn = h264dec_map_ue;
    EXPECT_EQ(h264dec_read_vlc(&sym, &b.bs), -1);
    EXPECT_EQ(b.bs.bit_offset, 0);
    int info = 0;
    EXPECT_EQ(h264dec_get_vlc_symbol(b.bs.streamBuffer, 0, &info, b.bs.byte_length), -1);
}

TEST(Counters, EveryReadCountsItsBitsAndFailuresCountAsThePartSays)
{
    Bits b("1 010 11 0101", false); // ue 0, ue 1, u(2) 3, intra mode 5
    BitCounters &c = *b.bs.counters;
    EXPECT_EQ(h264dec_read_ue("t", &b.bs), 0);
    EXPECT_EQ(h264dec_read_ue("t", &b.bs), 1);
    EXPECT_EQ(h264dec_read_u(2, "t", &b.bs), 3);
    EXPECT_EQ(c.syntax_bits, 6);
    EXPECT_EQ(c.mb_bits_count, 6);
    SyntaxSymbol sym;
    EXPECT_EQ(h264dec_read_intra_mode(&sym, &b.bs), 1);
    EXPECT_EQ(sym.value1, 5);
    EXPECT_EQ(sym.length, 4);
    EXPECT_EQ(c.mb_bits_count, 10);
    EXPECT_EQ(c.syntax_bits, 6);

    // Past the data: nothing advances, mb_bits_count is untouched, ue adds -1 and u its bit count to
    // syntax_bits, and both return 0.
    b.bs.bit_offset = b.bs.byte_length * 8 + 7;
    EXPECT_EQ(h264dec_read_ue("t", &b.bs), 0);
    EXPECT_EQ(c.syntax_bits, 5);
    EXPECT_EQ(h264dec_read_u(3, "t", &b.bs), 0);
    EXPECT_EQ(c.syntax_bits, 8);
    EXPECT_EQ(c.mb_bits_count, 10);
    EXPECT_EQ(b.bs.bit_offset, b.bs.byte_length * 8 + 7);
}

TEST(BitAccess, ReadsMayEndInsideTheByteAfterTheData)
{
    Bits b("10110011"); // one valid byte
    uint32_t v = 0;
    EXPECT_EQ(h264dec_get_bits(b.bs.streamBuffer, 0, &v, 1, 8), 8);
    EXPECT_EQ(v, 0xB3u);
    EXPECT_EQ(h264dec_get_bits(b.bs.streamBuffer, 0, &v, 1, 15), 15);
    EXPECT_EQ(h264dec_get_bits(b.bs.streamBuffer, 0, &v, 1, 16), -1);
    EXPECT_EQ(h264dec_show_bits(b.bs.streamBuffer, 14, 1, 1), 0);
    EXPECT_EQ(h264dec_show_bits(b.bs.streamBuffer, 15, 1, 1), -1);
    EXPECT_EQ(h264dec_get_bits(b.bs.streamBuffer, 0, &v, 4, 32), 32);
}

// The byte-wise read equals the bit-by-bit one at every offset and width, up to and past the limit
// one bit into the byte after the data.
TEST(BitAccess, ByteWiseReadEqualsTheBitByBitOne)
{
    uint8_t buffer[16];
    for (int k = 0; k < 16; ++k)
        buffer[k] = static_cast<uint8_t>(0x9D * (k + 1) ^ (k * 37));
    for (int bytes = 0; bytes <= 6; ++bytes)
        for (int offset = 0; offset <= 8 * bytes + 8; ++offset)
            for (int n = -1; n <= 32; ++n) {
                ASSERT_EQ(h264dec_show_bits(buffer, offset, bytes, n),
                          h264dec_show_bits_reference(buffer, offset, bytes, n))
                    << bytes << " bytes, " << n << " bits at " << offset;
                uint32_t v = 0, w = 0;
                const int r = h264dec_get_bits(buffer, offset, &v, bytes, n);
                if (n >= 0 && n <= 31 && r >= 0) {
                    w = static_cast<uint32_t>(h264dec_show_bits_reference(buffer, offset, bytes, n));
                    ASSERT_EQ(v, w) << bytes << " bytes, " << n << " bits at " << offset;
                }
            }
}

TEST(BitAccess, IntraModeReader)
{
    Bits one("1");
    SyntaxSymbol sym;
    ASSERT_EQ(h264dec_read_intra_mode(&sym, &one.bs), 1);
    EXPECT_EQ(sym.value1, -1);
    EXPECT_EQ(sym.length, 1);
    Bits five("0101");
    ASSERT_EQ(h264dec_read_intra_mode(&sym, &five.bs), 1);
    EXPECT_EQ(sym.value1, 5);
    EXPECT_EQ(sym.length, 4);
}

TEST(BitAccess, MoreRbspData)
{
    struct Case
    {
        Bytes bytes;
        int pos;
        int more;
    };
    const Case cases[] = {
        {{0xFF, 0x80}, 8, 0}, // at the last byte: 1 then zeros is the stop bit
        {{0xFF, 0xA0}, 8, 1}, // a 1 below the stop bit position: data remains
        {{0xFF, 0x40}, 8, 1}, // the stop bit is still ahead
        {{0xFF, 0xC0}, 9, 0},
        {{0xFF, 0x80}, 0, 1},  // not in the last byte
        {{0xFF, 0x80}, 16, 0}, // past the data
        {{}, 0, 0},
    };
    for (const Case &c : cases) {
        Bytes buf = c.bytes;
        buf.resize(buf.size() + 8, 0);
        EXPECT_EQ(h264dec_more_rbsp_data(buf.data(), c.pos, static_cast<int>(c.bytes.size())), c.more)
            << "pos " << c.pos;
    }
}

TEST(Mappings, CodedBlockPatternAndOlderRunLevelPairs)
{
    int v1 = 0, v2 = 0;
    // code numbers 0, 1, 2, 3 and 47 (length, info) -> (intra, inter)
    const int cases[][4] = {{1, 0, 47, 0}, {3, 0, 31, 16}, {3, 1, 15, 1}, {5, 0, 0, 2}, {11, 16, 41, 41}};
    for (const auto &c : cases) {
        h264dec_map_cbp_intra(c[0], c[1], &v1, &v2);
        EXPECT_EQ(v1, c[2]);
        h264dec_map_cbp_inter(c[0], c[1], &v1, &v2);
        EXPECT_EQ(v1, c[3]);
    }
    h264dec_map_cbp_intra(11, 17, &v1, &v2); // code number 48
    EXPECT_EQ(v1, -1);
    for (int col = 0; col < 2; ++col) {
        std::vector<int> seen(48, 0);
        for (const auto &row : kCodedBlockPattern)
            ++seen[row[col]];
        EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), 48) << "column " << col << " is a permutation";
    }

    struct Pair
    {
        int len, info, level, run;
    };
    const Pair inter[] = {
        {1, 0, 0, 0},
        {3, 0, 1, 0},
        {3, 1, -1, 0},
        {5, 2, 1, 2},
        {7, 0, 2, 0},
        {9, 14, 4, 0},
        {9, 15, -4, 0},
        {11, 0, 5, 0},             // base 4 + 0 + 2^0
        {11, 2, 3, 1},             // run 1: base 2 + 0 + 1
        {13, 33, -(4 + 1 + 2), 0}, // info/32 = 1, 2^(6-5) = 2, odd: negative
    };
    for (const Pair &p : inter) {
        h264dec_map_levrun_inter(p.len, p.info, &v1, &v2);
        EXPECT_EQ(v1, p.level) << p.len << "/" << p.info;
        EXPECT_EQ(v2, p.run) << p.len << "/" << p.info;
    }
    const Pair chroma[] = {{1, 0, 0, 0}, {3, 1, -1, 0}, {5, 0, 2, 0},
                           {5, 2, 1, 1}, {7, 0, 3, 0},  {7, 2, 2, 1}};
    for (const Pair &p : chroma) {
        h264dec_map_levrun_c2x2(p.len, p.info, &v1, &v2);
        EXPECT_EQ(v1, p.level) << p.len << "/" << p.info;
        EXPECT_EQ(v2, p.run) << p.len << "/" << p.info;
    }
}

// ---------------------------------------------------------------------------------------------
// The published tables, typed as their code strings. coeff_token: one row per (TrailingOnes,
// TotalCoeff) with the codes for 0 <= nC < 2, 2 <= nC < 4, 4 <= nC < 8 and nC = -1 ("" where the
// pair does not exist).

struct CoeffTokenRow
{
    int t1, tc;
    const char *code[4];
};

const CoeffTokenRow kTable95[] = {
    {0, 0, {"1", "11", "1111", "01"}},
    {0, 1, {"000101", "001011", "001111", "000111"}},
    {1, 1, {"01", "10", "1110", "1"}},
    {0, 2, {"00000111", "000111", "001011", "000100"}},
    {1, 2, {"000100", "00111", "01111", "000110"}},
    {2, 2, {"001", "011", "1101", "001"}},
    {0, 3, {"000000111", "0000111", "001000", "000011"}},
    {1, 3, {"00000110", "001010", "01100", "0000011"}},
    {2, 3, {"0000101", "001001", "01110", "0000010"}},
    {3, 3, {"00011", "0101", "1100", "000101"}},
    {0, 4, {"0000000111", "00000111", "0001111", "000010"}},
    {1, 4, {"000000110", "000110", "01010", "00000011"}},
    {2, 4, {"00000101", "000101", "01011", "00000010"}},
    {3, 4, {"000011", "0100", "1011", "0000000"}},
    {0, 5, {"00000000111", "00000100", "0001011", ""}},
    {1, 5, {"0000000110", "0000110", "01000", ""}},
    {2, 5, {"000000101", "0000101", "01001", ""}},
    {3, 5, {"0000100", "00110", "1010", ""}},
    {0, 6, {"0000000001111", "000000111", "0001001", ""}},
    {1, 6, {"00000000110", "00000110", "001110", ""}},
    {2, 6, {"0000000101", "00000101", "001101", ""}},
    {3, 6, {"00000100", "001000", "1001", ""}},
    {0, 7, {"0000000001011", "00000001111", "0001000", ""}},
    {1, 7, {"0000000001110", "000000110", "001010", ""}},
    {2, 7, {"00000000101", "000000101", "001001", ""}},
    {3, 7, {"000000100", "000100", "1000", ""}},
    {0, 8, {"0000000001000", "00000001011", "00001111", ""}},
    {1, 8, {"0000000001010", "00000001110", "0001110", ""}},
    {2, 8, {"0000000001101", "00000001101", "0001101", ""}},
    {3, 8, {"0000000100", "0000100", "01101", ""}},
    {0, 9, {"00000000001111", "000000001111", "00001011", ""}},
    {1, 9, {"00000000001110", "00000001010", "00001110", ""}},
    {2, 9, {"0000000001001", "00000001001", "0001010", ""}},
    {3, 9, {"00000000100", "000000100", "001100", ""}},
    {0, 10, {"00000000001011", "000000001011", "000001111", ""}},
    {1, 10, {"00000000001010", "000000001110", "00001010", ""}},
    {2, 10, {"00000000001101", "000000001101", "00001101", ""}},
    {3, 10, {"0000000001100", "00000001100", "0001100", ""}},
    {0, 11, {"000000000001111", "000000001000", "000001011", ""}},
    {1, 11, {"000000000001110", "000000001010", "000001110", ""}},
    {2, 11, {"00000000001001", "000000001001", "00001001", ""}},
    {3, 11, {"00000000001100", "00000001000", "00001100", ""}},
    {0, 12, {"000000000001011", "0000000001111", "000001001", ""}},
    {1, 12, {"000000000001010", "0000000001110", "000001010", ""}},
    {2, 12, {"000000000001101", "0000000001101", "000001101", ""}},
    {3, 12, {"00000000001000", "000000001100", "00001000", ""}},
    {0, 13, {"0000000000001111", "0000000001011", "0000001101", ""}},
    {1, 13, {"000000000000001", "0000000001010", "000000111", ""}},
    {2, 13, {"000000000001001", "0000000001001", "000001000", ""}},
    {3, 13, {"000000000001100", "0000000001100", "000001100", ""}},
    {0, 14, {"0000000000001011", "0000000000111", "0000001001", ""}},
    {1, 14, {"0000000000001110", "00000000001011", "0000001100", ""}},
    {2, 14, {"0000000000001101", "0000000000110", "0000001011", ""}},
    {3, 14, {"000000000001000", "0000000001000", "0000001010", ""}},
    {0, 15, {"0000000000000111", "00000000001001", "0000000101", ""}},
    {1, 15, {"0000000000001010", "00000000001000", "0000001000", ""}},
    {2, 15, {"0000000000001001", "00000000001010", "0000000111", ""}},
    {3, 15, {"0000000000001100", "0000000000001", "0000000110", ""}},
    {0, 16, {"0000000000000100", "00000000000111", "0000000001", ""}},
    {1, 16, {"0000000000000110", "00000000000110", "0000000100", ""}},
    {2, 16, {"0000000000000101", "00000000000101", "0000000011", ""}},
    {3, 16, {"0000000000001000", "00000000000100", "0000000010", ""}},
};

// total_zeros for 4x4 blocks, by TotalCoeff 1..15, codes for total_zeros 0, 1, ...
const std::vector<std::vector<std::string>> kTables97and98 = {
    {"1", "011", "010", "0011", "0010", "00011", "00010", "000011", "000010", "0000011", "0000010",
     "00000011", "00000010", "000000011", "000000010", "000000001"},
    {"111", "110", "101", "100", "011", "0101", "0100", "0011", "0010", "00011", "00010", "000011", "000010",
     "000001", "000000"},
    {"0101", "111", "110", "101", "0100", "0011", "100", "011", "0010", "00011", "00010", "000001", "00001",
     "000000"},
    {"00011", "111", "0101", "0100", "110", "101", "100", "0011", "011", "0010", "00010", "00001", "00000"},
    {"0101", "0100", "0011", "111", "110", "101", "100", "011", "0010", "00001", "0001", "00000"},
    {"000001", "00001", "111", "110", "101", "100", "011", "010", "0001", "001", "000000"},
    {"000001", "00001", "101", "100", "011", "11", "010", "0001", "001", "000000"},
    {"000001", "0001", "00001", "011", "11", "10", "010", "001", "000000"},
    {"000001", "000000", "0001", "11", "10", "001", "01", "00001"},
    {"00001", "00000", "001", "11", "10", "01", "0001"},
    {"0000", "0001", "001", "010", "1", "011"},
    {"0000", "0001", "01", "1", "001"},
    {"000", "001", "1", "01"},
    {"00", "01", "1"},
    {"0", "1"},
};

// total_zeros for chroma DC, by TotalCoeff 1..3.
const std::vector<std::vector<std::string>> kTable99 = {
    {"1", "01", "001", "000"},
    {"1", "01", "00"},
    {"1", "0"},
};

// run_before, by zerosLeft 1..6 and above 6.
const std::vector<std::vector<std::string>> kTable910 = {
    {"1", "0"},
    {"1", "01", "00"},
    {"11", "10", "01", "00"},
    {"11", "10", "01", "001", "000"},
    {"11", "10", "011", "010", "001", "000"},
    {"11", "000", "001", "011", "010", "101", "100"},
    {"111", "110", "101", "100", "011", "010", "001", "0001", "00001", "000001", "0000001", "00000001",
     "000000001", "0000000001", "00000000001"},
};

int Value(const std::string &code)
{
    int v = 0;
    for (char c : code)
        v = v * 2 + (c == '1');
    return v;
}

void ExpectEntry(const std::string &code, int length, int value, const std::string &where)
{
    if (code.empty()) {
        EXPECT_EQ(length, 0) << where;
        return;
    }
    EXPECT_EQ(length, static_cast<int>(code.size())) << where;
    EXPECT_EQ(value, Value(code)) << where;
}

// No code of the set is a prefix of another.
void ExpectPrefixFree(const std::vector<std::string> &codes, const std::string &where)
{
    for (size_t i = 0; i < codes.size(); ++i)
        for (size_t j = 0; j < codes.size(); ++j)
            if (i != j && !codes[i].empty() && !codes[j].empty()) {
                EXPECT_NE(codes[j].rfind(codes[i], 0), 0u)
                    << where << ": " << codes[i] << " prefixes " << codes[j];
            }
}

TEST(CavlcTables, CoeffTokenEqualsTheFinalText)
{
    int rows = 0;
    for (const CoeffTokenRow &r : kTable95) {
        for (int k = 0; k < 3; ++k)
            ExpectEntry(r.code[k], kCoeffTokenLength[k][r.t1][r.tc], kCoeffTokenCode[k][r.t1][r.tc],
                        "class " + std::to_string(k) + " T1 " + std::to_string(r.t1) + " TC " +
                            std::to_string(r.tc));
        if (r.tc <= 4)
            ExpectEntry(r.code[3], kCoeffTokenChromaDcLength[r.t1][r.tc], kCoeffTokenChromaDcCode[r.t1][r.tc],
                        "chroma DC T1 " + std::to_string(r.t1) + " TC " + std::to_string(r.tc));
        ++rows;
    }
    EXPECT_EQ(rows, 62);
    // Every pair the table lacks is marked impossible.
    for (int k = 0; k < 3; ++k)
        for (int t1 = 0; t1 < 4; ++t1)
            for (int tc = 0; tc < t1; ++tc)
                EXPECT_EQ(kCoeffTokenLength[k][t1][tc], 0);
    for (int k = 0; k < 4; ++k) {
        std::vector<std::string> codes;
        for (const CoeffTokenRow &r : kTable95)
            codes.push_back(r.code[k]);
        ExpectPrefixFree(codes, "coeff_token column " + std::to_string(k));
    }
}

TEST(CavlcTables, TotalZerosAndRunBeforeEqualTheFinalText)
{
    for (size_t row = 0; row < kTables97and98.size(); ++row) {
        const auto &codes = kTables97and98[row];
        EXPECT_EQ(codes.size(), 16 - row) << "TotalCoeff " << row + 1;
        for (size_t tz = 0; tz < 16; ++tz)
            ExpectEntry(tz < codes.size() ? codes[tz] : "", kTotalZerosLength[row][tz],
                        kTotalZerosCode[row][tz],
                        "total_zeros TC " + std::to_string(row + 1) + " tz " + std::to_string(tz));
        ExpectPrefixFree(codes, "total_zeros TC " + std::to_string(row + 1));
    }
    for (size_t row = 0; row < kTable99.size(); ++row) {
        for (size_t tz = 0; tz < 4; ++tz)
            ExpectEntry(tz < kTable99[row].size() ? kTable99[row][tz] : "",
                        kTotalZerosChromaDcLength[row][tz], kTotalZerosChromaDcCode[row][tz],
                        "chroma DC total_zeros TC " + std::to_string(row + 1));
        ExpectPrefixFree(kTable99[row], "chroma DC total_zeros");
    }
    for (size_t row = 0; row < kTable910.size(); ++row) {
        for (size_t run = 0; run < 16; ++run)
            ExpectEntry(run < kTable910[row].size() ? kTable910[row][run] : "", kRunBeforeLength[row][run],
                        kRunBeforeCode[row][run], "run_before zerosLeft " + std::to_string(row + 1));
        ExpectPrefixFree(kTable910[row], "run_before zerosLeft " + std::to_string(row + 1));
    }
}

TEST(CavlcReaders, EveryCodeReadsBackAsItsEntry)
{
    for (const CoeffTokenRow &r : kTable95) {
        for (int k = 0; k < 3; ++k) {
            Part p(r.code[k]);
            SyntaxSymbol sym;
            sym.value1 = k;
            ASSERT_EQ(h264dec_read_coeff_token(&sym, &p.dp), 1);
            EXPECT_EQ(sym.value1, r.tc);
            EXPECT_EQ(sym.value2, r.t1);
            EXPECT_EQ(p.bs().bit_offset, CountBits(r.code[k]));
            EXPECT_EQ(p.bs().counters->mb_bits_count, CountBits(r.code[k]));
        }
        if (*r.code[3]) {
            Part p(r.code[3]);
            SyntaxSymbol sym;
            ASSERT_EQ(h264dec_read_coeff_token_cdc(&sym, &p.dp), 1);
            EXPECT_EQ(sym.value1, r.tc);
            EXPECT_EQ(sym.value2, r.t1);
        }
    }
    for (size_t row = 0; row < kTables97and98.size(); ++row)
        for (size_t tz = 0; tz < kTables97and98[row].size(); ++tz) {
            Part p(kTables97and98[row][tz]);
            SyntaxSymbol sym;
            sym.value1 = static_cast<int>(row);
            ASSERT_EQ(h264dec_read_total_zeros(&sym, &p.dp), 1);
            EXPECT_EQ(sym.value1, static_cast<int>(tz));
        }
    for (size_t row = 0; row < kTable99.size(); ++row)
        for (size_t tz = 0; tz < kTable99[row].size(); ++tz) {
            Part p(kTable99[row][tz]);
            SyntaxSymbol sym;
            sym.value1 = static_cast<int>(row);
            ASSERT_EQ(h264dec_read_total_zeros_cdc(&sym, &p.dp), 1);
            EXPECT_EQ(sym.value1, static_cast<int>(tz));
        }
    for (size_t row = 0; row < kTable910.size(); ++row)
        for (size_t run = 0; run < kTable910[row].size(); ++run) {
            Part p(kTable910[row][run]);
            SyntaxSymbol sym;
            sym.value1 = static_cast<int>(row);
            ASSERT_EQ(h264dec_read_run_before(&sym, &p.dp), 1);
            EXPECT_EQ(sym.value1, static_cast<int>(run));
        }
}

TEST(CavlcReaders, CoeffTokenOfEightOrMoreIsAFixedSixBitCode)
{
    const struct
    {
        const char *bits;
        int tc, t1;
    } cases[] = {{"000011", 0, 0}, {"000000", 1, 0}, {"111111", 16, 3}, {"000101", 2, 1}};
    for (const auto &c : cases) {
        Part p(c.bits);
        SyntaxSymbol sym;
        sym.value1 = 3;
        ASSERT_EQ(h264dec_read_coeff_token(&sym, &p.dp), 1);
        EXPECT_EQ(sym.value1, c.tc) << c.bits;
        EXPECT_EQ(sym.value2, c.t1) << c.bits;
        EXPECT_EQ(sym.length, 6);
    }
}

TEST(CavlcReaders, Levels)
{
    const struct
    {
        int suffixLength;
        std::string bits;
        int level;
    } cases[] = {
        {0, "1", 1},
        {0, "01", -1},
        {0, "001", 2},
        {0, "0001", -2},
        {0, "0000000000001", 7},
        {0, "00000000000001", -7},
        // Escapes of suffix length 0: a last suffix bit of 1 is positive here.
        {0, std::string(14, '0') + "1" + "0001", 8},
        {0, std::string(14, '0') + "1" + "0000", -8},
        {0, std::string(14, '0') + "1" + "1111", 15},
        {0, std::string(15, '0') + "1" + "000000000011", 17},
        {0, std::string(15, '0') + "1" + "111111111110", -(16 + 2047)},
        {1,
         "1"
         "0",
         1},
        {1,
         "1"
         "1",
         -1},
        {1,
         "01"
         "0",
         2},
        {1,
         "001"
         "1",
         -3},
        {2,
         "1"
         "1"
         "0",
         2},
        {2,
         "01"
         "0"
         "1",
         -3},
        {3,
         "001"
         "11"
         "0",
         12},
        {1, std::string(15, '0') + "1" + "00000000101" + "1", -(5 + 15 + 1)},
        {2, std::string(15, '0') + "1" + "00000000000" + "0", 31},
    };
    for (const auto &c : cases) {
        Part p(c.bits);
        SyntaxSymbol sym;
        const int ok = c.suffixLength == 0 ? h264dec_read_level_vlc0(&sym, &p.dp)
                                           : h264dec_read_level_vlcn(&sym, c.suffixLength, &p.dp);
        ASSERT_EQ(ok, 1) << c.bits;
        EXPECT_EQ(sym.info, c.level) << c.suffixLength << ": " << c.bits;
        EXPECT_EQ(sym.length, CountBits(c.bits)) << c.bits;
        EXPECT_EQ(p.bs().bit_offset, CountBits(c.bits)) << c.bits;
    }
}

TEST(CavlcReaders, CodesOutsideTheTablesEndTheRunWithOneBox)
{
    // The chroma DC coeff_token code is complete: only a read past the data misses it.
    const struct
    {
        int (*read)(SyntaxSymbol *, DataPartition *);
        int selector;
        const char *bits;
        bool atEnd;
        const char *message;
    } cases[] = {
        {h264dec_read_coeff_token, 0, "0000000000000000", false,
         "ERROR: failed to find NumCoeff/TrailingOnes"},
        {h264dec_read_coeff_token_cdc, 0, "0000", true,
         "ERROR: failed to find NumCoeff/TrailingOnes ChromaDC"},
        {h264dec_read_total_zeros, 0, "000000000", false, "ERROR: failed to find Total Zeros"},
        {h264dec_read_total_zeros_cdc, 0, "0000", true, "ERROR: failed to find Total Zeros"},
        {h264dec_read_run_before, 6, "00000000000", false, "ERROR: failed to find Run"},
        {h264dec_read_level_vlc0, 0, "00000000000000001", false, "ERROR reading Level code"},
    };
    for (const auto &c : cases) {
        zn::MessageRecorder boxes;
        Part p(c.bits);
        if (c.atEnd)
            p.bs().bit_offset = p.bs().byte_length * 8 + 7;
        SyntaxSymbol sym;
        sym.value1 = c.selector;
        // The partition carries 16 one bits after the code: turn them into zeros for the misses.
        if (!c.atEnd)
            std::fill(p.bs().storage.begin() + (CountBits(c.bits) + 7) / 8, p.bs().storage.end(), uint8_t(0));
        try {
            c.read(&sym, &p.dp);
            ADD_FAILURE() << c.message;
        } catch (const H264FatalError &e) {
            EXPECT_EQ(e.ExitCode(), kH264StreamErrorCode);
        }
        EXPECT_EQ(boxes.Texts(), std::vector<std::string>{c.message});
    }
}

TEST(CavlcReaders, AFixedPartPastTheDataFailsWithoutMoving)
{
    DataPartition dp;
    dp.bitstream = std::make_unique<Bitstream>();
    const uint8_t byte = 0x01; // seven zeros and a 1: coeff_token class 3 needs six bits, then nothing
    h264dec_load_payload(dp.bitstream.get(), &byte, 1);
    dp.bitstream->bit_offset = 10;
    SyntaxSymbol sym;
    sym.value1 = 3;
    EXPECT_EQ(h264dec_read_coeff_token(&sym, &dp), -1);
    EXPECT_EQ(dp.bitstream->bit_offset, 10);
}

} // namespace

} // namespace vlc_test
