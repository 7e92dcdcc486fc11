// Adaptive model and arithmetic coder of the EZW passes: the classic 16-bit coder with deferred
// opposite bits when the interval straddles the middle.
#include "modules/ezw/ezw_arith.h"

void Ezw_model_reset(EzwModel *m)
{
    for (int i = 0; i <= EzwModel::kSymbols; ++i) {
        m->freq[i] = 1;
        m->cum[i] = EzwModel::kSymbols - i;
    }
    m->freq[0] = 0;
}

void Ezw_model_update(EzwModel *m, int symbol)
{
    if (m->cum[0] == EzwModel::kMaxTotal) {
        int sum = 0;
        for (int i = EzwModel::kSymbols; i >= 0; --i) {
            m->freq[i] = (m->freq[i] + 1) / 2;
            m->cum[i] = sum;
            sum += m->freq[i];
        }
    }
    m->freq[symbol] += 1;
    for (int i = 0; i < symbol; ++i)
        m->cum[i] += 1;
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

// The interval is at most 65536 wide and the model's total at most 256, so every product fits 24 bits:
// 32-bit division gives the same quotients as wider arithmetic, at a fraction of its cost.
int Ezw_put_symbol(int s, const EzwModel &model, EzwArithEncoder *e)
{
    const int r = e->m_high - e->m_low + 1;
    e->m_high = e->m_low + r * model.cum[s - 1] / model.cum[0] - 1;
    e->m_low = e->m_low + r * model.cum[s] / model.cum[0];
    e->m_emitted = false;
    for (;;) {
        if (e->m_high < 32768) {
            e->Emit(0);
        } else if (e->m_low >= 32768) {
            e->Emit(1);
            e->m_low -= 32768;
            e->m_high -= 32768;
        } else if (e->m_low >= 16384 && e->m_high < 49152) {
            ++e->m_pending;
            e->m_low -= 16384;
            e->m_high -= 16384;
        } else {
            break;
        }
        e->m_low = 2 * e->m_low;
        e->m_high = 2 * e->m_high + 1;
    }
    return e->m_emitted && e->m_budget <= 0 ? 1 : 0;
}

void Ezw_finish_coder(EzwArithEncoder *e)
{
    ++e->m_pending;
    e->Emit(e->m_low >= 16384 ? 1 : 0);
    e->m_bits.Flush();
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

int Ezw_get_symbol(const EzwModel &model, EzwArithDecoder *d, int *bits)
{
    // The value stays inside the interval whatever the input bits, so the same bounds hold here.
    const int r = d->m_high - d->m_low + 1;
    const int t = ((d->m_value - d->m_low + 1) * model.cum[0] - 1) / r;
    int s = 1;
    while (s < EzwModel::kSymbols && model.cum[s] > t)
        ++s;
    d->m_high = d->m_low + r * model.cum[s - 1] / model.cum[0] - 1;
    d->m_low = d->m_low + r * model.cum[s] / model.cum[0];
    int count = 0;
    for (;;) {
        if (d->m_high >= 32768) {
            if (d->m_low >= 32768) {
                d->m_value -= 32768;
                d->m_low -= 32768;
                d->m_high -= 32768;
            } else if (d->m_low >= 16384 && d->m_high < 49152) {
                d->m_value -= 16384;
                d->m_low -= 16384;
                d->m_high -= 16384;
            } else {
                break;
            }
        }
        d->m_low = 2 * d->m_low;
        d->m_high = 2 * d->m_high + 1;
        d->m_value = 2 * d->m_value + d->NextBit();
        ++count;
    }
    *bits = count;
    return s;
}
