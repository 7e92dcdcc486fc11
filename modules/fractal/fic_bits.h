// The bit stream of the fractal code file. A value of n bits goes out least significant bit first,
// and the bits fill each byte from its most significant bit down; the last byte is padded with
// zeros. The reader delivers zero bits past the end, so a short file decodes to something finite.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

// fic_write_bits: collects the stream in memory; the encoder writes it out in one piece.
class FicBitWriter
{
public:
    void Write(uint32_t value, int bits);
    void Flush(); // pending bits to the top of one more byte
    const std::vector<uint8_t> &Bytes() const { return m_bytes; }
    long BitCount() const { return static_cast<long>(m_bytes.size()) * 8 + m_fill; }

private:
    std::vector<uint8_t> m_bytes;
    unsigned m_buffer = 0;
    int m_fill = 0;
};

// fic_read_bits: bounded by the byte span it was given.
class FicBitReader
{
public:
    explicit FicBitReader(std::span<const uint8_t> bytes) : m_bytes(bytes) {}
    uint32_t Read(int bits);
    bool PastEnd() const { return m_pos >= m_bytes.size(); }

private:
    std::span<const uint8_t> m_bytes;
    size_t m_pos = 0; // byte
    int m_bit = 0;    // bits of that byte taken, from the top
};
