// Adaptive model and arithmetic coder of the EZW passes: the classic 16-bit coder with deferred
// opposite bits when the interval straddles the middle.
#include "modules/ezw/ezw_arith.h"

void EzwModel::Reset()
{
    for (int i = 0; i <= kSymbols; ++i) {
        freq[i] = 1;
        cum[i] = kSymbols - i;
    }
    freq[0] = 0;
}

void EzwModel::Update(int symbol)
{
    if (cum[0] == kMaxTotal) {
        int sum = 0;
        for (int i = kSymbols; i >= 0; --i) {
            freq[i] = (freq[i] + 1) / 2;
            cum[i] = sum;
            sum += freq[i];
        }
    }
    freq[symbol] += 1;
    for (int i = 0; i < symbol; ++i)
        cum[i] += 1;
}

void EzwArithEncoder::Start()
{
    m_low = 0;
    m_high = 65535;
    m_pending = 0;
    m_budget = 4096;
    m_bitsEmitted = 0;
    m_bits.Clear();
}

void EzwArithEncoder::Emit(int bit)
{
    m_bits.Put(bit);
    for (int i = 0; i < m_pending; ++i)
        m_bits.Put(1 - bit);
    m_budget -= 1 + m_pending;
    m_bitsEmitted += 1 + m_pending;
    m_pending = 0;
    m_emitted = true;
}

int EzwArithEncoder::PutSymbol(int s, const EzwModel &model)
{
    const long r = static_cast<long>(m_high) - m_low + 1;
    m_high = m_low + static_cast<int>(r * model.cum[s - 1] / model.cum[0]) - 1;
    m_low = m_low + static_cast<int>(r * model.cum[s] / model.cum[0]);
    m_emitted = false;
    for (;;) {
        if (m_high < 32768) {
            Emit(0);
        } else if (m_low >= 32768) {
            Emit(1);
            m_low -= 32768;
            m_high -= 32768;
        } else if (m_low >= 16384 && m_high < 49152) {
            ++m_pending;
            m_low -= 16384;
            m_high -= 16384;
        } else {
            break;
        }
        m_low = 2 * m_low;
        m_high = 2 * m_high + 1;
    }
    return m_emitted && m_budget <= 0 ? 1 : 0;
}

void EzwArithEncoder::Finish()
{
    ++m_pending;
    Emit(m_low >= 16384 ? 1 : 0);
    m_bits.Flush();
}

EzwArithDecoder::EzwArithDecoder(std::span<const uint8_t> data) : m_data(data)
{
    for (int i = 0; i < 16; ++i)
        m_value = 2 * m_value + NextBit();
}

int EzwArithDecoder::NextBit()
{
    if (m_left == 0) {
        m_byte = m_fetched < static_cast<long>(m_data.size()) ? m_data[m_fetched] : 0;
        ++m_fetched;
        m_left = 8;
    }
    const int bit = m_byte & 1;
    m_byte >>= 1;
    --m_left;
    return bit;
}

int EzwArithDecoder::GetSymbol(const EzwModel &model, int *bits)
{
    const long r = static_cast<long>(m_high) - m_low + 1;
    const long t = ((static_cast<long>(m_value) - m_low + 1) * model.cum[0] - 1) / r;
    int s = 1;
    while (s < EzwModel::kSymbols && model.cum[s] > t)
        ++s;
    m_high = m_low + static_cast<int>(r * model.cum[s - 1] / model.cum[0]) - 1;
    m_low = m_low + static_cast<int>(r * model.cum[s] / model.cum[0]);
    int count = 0;
    for (;;) {
        if (m_high >= 32768) {
            if (m_low >= 32768) {
                m_value -= 32768;
                m_low -= 32768;
                m_high -= 32768;
            } else if (m_low >= 16384 && m_high < 49152) {
                m_value -= 16384;
                m_low -= 16384;
                m_high -= 16384;
            } else {
                break;
            }
        }
        m_low = 2 * m_low;
        m_high = 2 * m_high + 1;
        m_value = 2 * m_value + NextBit();
        ++count;
    }
    *bits = count;
    return s;
}
