// Bit writer and reader of the fractal code file.
#include "modules/fractal/fic_bits.h"

void FicBitWriter::Write(uint32_t value, int bits)
{
    for (int i = 0; i < bits; ++i) {
        m_buffer = (m_buffer << 1) | ((value >> i) & 1u);
        if (++m_fill == 8) {
            m_bytes.push_back(static_cast<uint8_t>(m_buffer));
            m_buffer = 0;
            m_fill = 0;
        }
    }
}

void FicBitWriter::Flush()
{
    if (m_fill == 0)
        return;
    m_bytes.push_back(static_cast<uint8_t>(m_buffer << (8 - m_fill)));
    m_buffer = 0;
    m_fill = 0;
}

uint32_t FicBitReader::Read(int bits)
{
    uint32_t value = 0;
    for (int i = 0; i < bits; ++i) {
        uint32_t bit = 0;
        if (m_pos < m_bytes.size()) {
            bit = (m_bytes[m_pos] >> (7 - m_bit)) & 1u;
            if (++m_bit == 8) {
                m_bit = 0;
                ++m_pos;
            }
        }
        value |= bit << i;
    }
    return value;
}
