// The SPIHT entropy stage: adaptive frequency models kept sorted by count, and a 16-bit integer
// arithmetic coder for model symbols and for groups of equiprobable bits. Both sides count the
// bytes of the stream they have produced or taken in; the engine compares that count with its budget.
//
// Stream: 'o', then the code, bits packed first bit lowest. A decoder also takes 'S' followed by a
// 4-byte big-endian limit on the symbols it decodes.
#pragma once

#include "platform/tempfile.h"

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

class Adaptive_Model
{
public:
    // A count outside 2..1024 is reported and brought into that range.
    void set_symbols(int n);
    void restart();
    void update(int index);

    int Symbols() const { return m_n; }
    int MaxFrequency() const { return m_maxFreq; }
    int Total() const { return m_cum.empty() ? 0 : m_cum[0]; }

    // cum[i]: the counts of the indices above i; cum[0] the total. Index 1 is the most frequent.
    std::vector<int> m_cum, m_counts, m_indexToSymbol, m_symbolToIndex;

private:
    int m_n = 0;
    int m_maxFreq = 0;
};

class CSpiht_Encoder
{
public:
    // Starts a stream: the byte 'o', then the code. With a directory the stream also goes to a new
    // temporary file there ("sph" and a unique part); without one it stays in memory.
    void open_temporary(const std::string *dir);
    void encode_symbol(int symbol, Adaptive_Model &model);
    void encode_bits(int n, int value);
    // Ends the code with the bits that select the final interval and the partial byte; the file,
    // written and flushed, is rewound and stays open.
    void stop_and_rewind();
    // Bytes of the stream so far, the first and the final one included.
    long byte_count() const { return m_byteCount; }
    const std::vector<uint8_t> &Bytes() const { return m_out; }
    // The open stream file and its name, for the caller to keep (and close and delete). A file not
    // taken is closed and deleted with the encoder.
    zn::TempFile TakeFile() { return m_file.Release(); }

private:
    void reset(const std::string *dir);
    void output(int bit);
    void put(int bit);
    void renormalise();

    zn::OwnedTempFile m_file;
    std::vector<uint8_t> m_out;
    int m_byte = 0, m_free = 8;
    long m_byteCount = 0;
    int m_low = 0, m_high = 65535, m_pending = 0;
    bool m_closed = true;
};

class CSpiht_Decoder
{
public:
    // Rewinds the stream file and reads it; a file that cannot be read ends the run.
    void start(std::FILE *file);
    // The stream in memory; past its end the input reads as bytes of all ones.
    void start(std::span<const uint8_t> stream);
    int decode_symbol(Adaptive_Model &model);
    int decode_bits(int n);
    // Rewinds the file for the next decoding; it stays open.
    void rewind_input();
    long byte_count() const { return m_byteCount; }
    long StreamSize() const { return static_cast<long>(m_in.size()); }
    // The symbol limit was reached: the decoder then stops as at its budget.
    bool exhausted() const { return m_exhausted; }
    // The first byte was neither 'o' nor 'S'.
    bool invalid() const { return m_invalid; }

private:
    int next_bit();
    void renormalise();

    std::FILE *m_file = nullptr;
    std::vector<uint8_t> m_fileBytes;
    std::span<const uint8_t> m_in;
    std::size_t m_pos = 0;
    int m_byte = 0, m_left = 0;
    long m_pastEnd = 0;
    long m_byteCount = 0;
    long m_symbols = 0, m_limit = 0;
    int m_low = 0, m_high = 65535, m_value = 0;
    bool m_closed = true;
    bool m_exhausted = false;
    bool m_invalid = false;
};

// Writes the coder's error line to the log, in the engine's own form.
void SpihtDiagnostic(const char *text);
