// A bit writer for the test-side stream writers: bits most significant first, start codes on byte
// boundaries after zero stuffing, and the differential DC codes of intra blocks.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace zntest {

class StreamBits
{
public:
    void Put(uint32_t value, int bits)
    {
        for (int i = bits - 1; i >= 0; --i) {
            m_acc = static_cast<uint8_t>((m_acc << 1) | ((value >> i) & 1));
            if (++m_n == 8) {
                m_out.push_back(m_acc);
                m_acc = 0;
                m_n = 0;
            }
        }
    }
    void Align()
    {
        if (m_n)
            Put(0, 8 - m_n);
    }
    void StartCode(uint8_t code)
    {
        Align();
        Put(0x000001, 24);
        Put(code, 8);
    }
    // dct_dc_size code of |diff|'s bit count, then the differential (negative values offset).
    void PutDc(int diff, bool chroma)
    {
        static const uint16_t kLuma[12][2] = {{0x4, 3},  {0x0, 2},  {0x1, 2},   {0x5, 3},
                                              {0x6, 3},  {0xE, 4},  {0x1E, 5},  {0x3E, 6},
                                              {0x7E, 7}, {0xFE, 8}, {0x1FE, 9}, {0x1FF, 9}};
        static const uint16_t kChroma[12][2] = {{0x0, 2},  {0x1, 2},   {0x2, 2},    {0x6, 3},
                                                {0xE, 4},  {0x1E, 5},  {0x3E, 6},   {0x7E, 7},
                                                {0xFE, 8}, {0x1FE, 9}, {0x3FE, 10}, {0x3FF, 10}};
        int size = 0;
        for (int a = std::abs(diff); a; a >>= 1)
            ++size;
        const uint16_t *code = chroma ? kChroma[size] : kLuma[size];
        Put(code[0], code[1]);
        if (size)
            Put(static_cast<uint32_t>(diff > 0 ? diff : diff + (1 << size) - 1), size);
    }
    std::vector<uint8_t> &Bytes() { return m_out; }

private:
    std::vector<uint8_t> m_out;
    uint8_t m_acc = 0;
    int m_n = 0;
};

} // namespace zntest
