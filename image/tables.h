// Coding-table records and their text files: two-filter banks (.fcs), scalar quantisers with their
// code words (.sqt), quantiser performance tables (.sqp), variable-length codes and vector fields.
// Every table file is a stream of white-space separated words in which "/* ... */" comments may
// stand between any two values; the token readers below skip them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Filter-bank types, from the keyword of the .fcs file.
constexpr int FILT_FIRQMF = 0;
constexpr int FILT_IIR = 1;
constexpr int FILT_FIRCQF = 2;
constexpr int FILT_FIRMCI = 4;
constexpr int FILT_FIR = 6;

// Vlc::type
constexpr int VLC_TYPE_NEW = 0;   // just made
constexpr int VLC_TYPE_FLC = 1;   // fixed-length code
constexpr int VLC_TYPE_TABLE = 2; // code words given per level
constexpr int VLC_TYPE_ARITH = 3; // VlcCodeLen holds static-model frequencies

// Code types that select a performance file (suffix: none, _flc, _huff, _arith, _entr).
constexpr int VLC_NONE = -1;
constexpr int VLC_FLC = 1;
constexpr int VLC_HUFFMAN = 2;
constexpr int VLC_ARITH = 3;
constexpr int VLC_ENTROPY = 4;

// PerfQuant::type
constexpr int PERF_NOTUSED = -1;
constexpr int PERF_SQ = 0;
constexpr int PERF_RD = 2;

// End-of-file mark of the token readers.
constexpr int TABLE_EOF = -1;

// Vector field of the motion estimator: two planes of rows x cols elements (the two components
// of every vector), element size 1 for representation 0, 4 otherwise.
struct VF
{
    int32_t rep = 0;
    void *planeA = nullptr;
    void *planeB = nullptr;
    int32_t rows = 0;
    int32_t cols = 0;
    int32_t blockHeight = 0;
    int32_t blockWidth = 0;
};

// Filter bank of two filters, each ndim-dimensional; coefficients in row-major order.
struct Filt
{
    int32_t type = 0;
    int32_t ndim = 0;
    std::vector<int32_t> dims1;
    std::vector<float> coef1;
    std::vector<int32_t> dims2;
    std::vector<float> coef2;
};

// Huffman decoding-tree node: symbol -1 marks an internal node.
struct HuffNode
{
    int32_t symbol = -1;
    HuffNode *child[2] = {nullptr, nullptr};
    std::vector<uint8_t> data; // optional owned block of a leaf
};

// Variable-length code of a set of symbols.
struct Vlc
{
    int32_t type = VLC_TYPE_NEW;
    int32_t symbols = 0;
    std::vector<int32_t> VlcSymbLen;                // 32-bit words of each symbol
    std::vector<std::vector<uint32_t>> VlcSymbWord; // the words; a quantiser keeps the bit pattern of
                                                    // the level's reconstruction value as its one word
    std::vector<int32_t> VlcCodeLen;                // code length in bits
    std::vector<std::string> VlcCodeWord;           // "0"/"1" characters, first bit first
    std::vector<int32_t> VlcSync;                   // reserved; element 0 is 0
    HuffNode *tree = nullptr;
};

// Scalar quantiser. thresholds[i] is the lower edge of cell i (thresholds[0] decides nothing).
struct Quant
{
    int32_t type = 0;     // 0: "SQ"
    float rate = 0;       // bits per sample
    float distortion = 0; // MSE for a unit-variance input
    float entropy = 0;    // sum of -p log2 p
    int32_t levels = 0;
    std::vector<float> reconstruction;
    std::vector<float> thresholds;
    std::vector<float> probabilities;
    Vlc *code = nullptr; // every quantiser has one; owned
};

// Operating points of a quantiser family: level count, rate (bits/sample), unit-variance MSE.
// `n` counts the points in use; the arrays may have room for more.
struct PerfQuant
{
    int32_t type = PERF_NOTUSED;
    int32_t n = 0;
    std::vector<int32_t> levels;
    std::vector<float> rate;
    std::vector<float> distortion;
};

// ---- allocation and release (the out pointer receives a new record) ----
void AllocVF(VF **vf, int rows, int cols, int blockHeight, int blockWidth, int rep);
void FreeVF(VF *vf);

void AllocFilt1d(Filt **filt, int len1, int len2, int type);
void AllocFilt(Filt **filt, int ndim, const int *dims1, const int *dims2, int type);
void FreeFilt(Filt *filt); // null allowed

void AllocQuant(Quant **quant, int levels, int codeWordSize);
void ZeroQuant(Quant **quant); // the one-level quantiser
void FreeQuant(Quant *quant);  // null allowed
// Replaces the quantiser's code words with a fixed-length code of ceil(log2 L) bits.
void MakeFlcVlc(Quant *quant);

void AllocPerfQuant(PerfQuant **perf, int n);
void FreePerfQuant(PerfQuant *perf); // null allowed

// Failure of the record or of one of its arrays cannot be survived: it shows the message and throws
// zn::RunAborted, which ends the current run only.
void AllocVlc(Vlc **vlc, int symbols, int wordsPerSymbol, int codeWordSize);
void FreeVlc(Vlc *vlc); // null allowed
void FreeHuffTree(HuffNode *node);

// ---- the table files ----
// File names: <dir>/<prefix><name>.fcs, <dir><stem>_<pdf>_<LLLL>.sqt, <dir>/<stem>_<pdf><suffix>.sqp.
// A directory that already ends with '/' then gets a doubled separator, which is harmless.
std::string FiltFileName(const std::string &dir, const std::string &prefix, const std::string &name);
std::string QuantFileName(const std::string &dir, const std::string &stem, const std::string &pdf,
                          int levels);
std::string PerfQuantFileName(const std::string &dir, const std::string &stem, const std::string &pdf,
                              int vlcType);
// Suffix of a performance file for a code type ("" for -1); nullptr for an unknown type.
const char *PerfQuantSuffix(int vlcType);

// Each reader leaves null in *out when the file is missing or malformed (after a message); the
// caller must test it. A record is never handed out half filled.
int ReadFilt(Filt **filt, const std::string &dir, const std::string &prefix, const std::string &name);
void ReadQuant(Quant **quant, const std::string &dir, const std::string &stem, const std::string &pdf,
               int levels);
void ReadPerfQuant(PerfQuant **perf, const std::string &dir, const std::string &stem, const std::string &pdf,
                   int vlcType);

// ---- comment-skipping token readers ----
// An open table file: the whole text in memory and a read position.
class TableText
{
public:
    // Reads the file; false when it cannot be opened or is too large to be a table.
    bool Open(const std::string &path);
    void SetText(std::string text); // for in-memory use
    const std::string &Text() const { return m_text; }
    size_t Pos() const { return m_pos; }
    void Seek(size_t pos) { m_pos = pos < m_text.size() ? pos : m_text.size(); }
    size_t Remaining() const { return m_text.size() - m_pos; }

private:
    std::string m_text;
    size_t m_pos = 0;
};

// Next value, skipping comments: 1 on success, 0 when the next word is not a number (the position
// stays in front of it), TABLE_EOF at the end of the text.
int ReadInt(TableText &file, int *value);
int ReadFloat(TableText &file, float *value);
// Next word of at most 99 characters that is not part of a comment: 1, or TABLE_EOF.
int ReadWord(TableText &file, std::string *word);
