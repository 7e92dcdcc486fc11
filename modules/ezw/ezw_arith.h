// The EZW entropy stage: one adaptive model over the eleven pass symbols and a 16-bit integer
// arithmetic coder. The encoder counts the bits it emits against a budget, which is what makes the
// stream embedded: it stops in the middle of a pass as soon as the rate is spent.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

// Symbols 1..11; symbol s owns [cum[s], cum[s-1]) of cum[0]. Counts are halved when the total hits
// 256, so the model follows the changing statistics of the passes.
struct EzwModel
{
    static constexpr int kSymbols = 11;
    static constexpr int kMaxTotal = 256;
    int cum[kSymbols + 1] = {};
    int freq[kSymbols + 1] = {};
};
// All eleven symbols equally likely.
void Ezw_model_reset(EzwModel *model);
// Counts the symbol just coded; the caller always does so right after coding or decoding it.
void Ezw_model_update(EzwModel *model, int symbol);

// Packs code bits first bit lowest: each bit enters the byte from the top, so after eight the first
// of them sits in bit 0.
class EzwBitPacker
{
public:
    void Put(int bit)
    {
        m_byte = (m_byte >> 1) | (bit ? 0x80 : 0);
        if (--m_free == 0) {
            m_out.push_back(static_cast<uint8_t>(m_byte));
            m_byte = 0;
            m_free = 8;
        }
    }
    // The partial byte shifted down to its first bit; a zero byte when it is empty.
    void Flush()
    {
        m_out.push_back(static_cast<uint8_t>(m_byte >> m_free));
        m_byte = 0;
        m_free = 8;
    }
    const std::vector<uint8_t> &Bytes() const { return m_out; }

private:
    int m_byte = 0, m_free = 8;
    std::vector<uint8_t> m_out;
};

// The encoder state: the interval, the pending opposite bits, the code so far and the bit budget
// (4096 until the caller sets the real one).
class EzwArithEncoder
{
public:
    void SetBudget(long bits) { m_budget = bits; }
    long Budget() const { return m_budget; }
    const std::vector<uint8_t> &Bytes() const { return m_bits.Bytes(); }
    long BitsEmitted() const { return m_bitsEmitted; }

private:
    friend int Ezw_put_symbol(int symbol, const EzwModel &model, EzwArithEncoder *coder);
    friend void Ezw_finish_coder(EzwArithEncoder *coder);
    void Emit(int bit);

    int m_low = 0, m_high = 65535, m_pending = 0;
    long m_budget = 4096;
    long m_bitsEmitted = 0;
    bool m_emitted = false;
    EzwBitPacker m_bits;
};

// Codes s (1..11); 1 when the call emitted bits and the budget is spent after them, else 0.
int Ezw_put_symbol(int symbol, const EzwModel &model, EzwArithEncoder *coder);
// Ends the code: the bits that select the final interval, then the partial byte.
void Ezw_finish_coder(EzwArithEncoder *coder);

// The decoder state: the interval, the code value and the input.
class EzwArithDecoder
{
public:
    // Reads the code from data, the first 16 bits at once; bits past its end are 0.
    explicit EzwArithDecoder(std::span<const uint8_t> data);
    // Bytes taken from the input so far (those past its end included).
    long BytesFetched() const { return m_fetched; }
    bool PastEnd() const { return m_fetched > static_cast<long>(m_data.size()); }

private:
    friend int Ezw_get_symbol(const EzwModel &model, EzwArithDecoder *coder, int *bits);
    int NextBit();

    std::span<const uint8_t> m_data;
    long m_fetched = 0;
    int m_low = 0, m_high = 65535, m_value = 0;
    int m_byte = 0, m_left = 0;
};

// The next symbol; *bits gets the number of bits shifted in for it.
int Ezw_get_symbol(const EzwModel &model, EzwArithDecoder *coder, int *bits);
