// Adaptive models and the arithmetic coder of the SPIHT stream. Models keep their indices sorted by
// count, so the decoder's linear search over the cumulative counts usually stops at once.
#include "modules/spiht/spiht_arith.h"

#include "platform/errors.h"
#include "platform/log.h"
#include "platform/messages.h"

#include <algorithm>
#include <new>
#include <string>

// The coder's error line in the log. Despite its last words, the coder goes on unless the caller
// ends the run.
void SpihtDiagnostic(const char *text)
{
    zn::Log(zn::LogLevel::Error,
            std::string("\r\r\n\r\r\n\a -> Error: ") + text + "\r\n Execution terminated!\r\n");
}

namespace {

constexpr int kHalf = 32768, kFirstQuarter = 16384, kThirdQuarter = 49152;

} // namespace

void Adaptive_Model::set_symbols(int n)
{
    if (n < 2 || n > 1024) {
        SpihtDiagnostic("invalid number of < Adaptive_Model > symbols");
        n = std::max(2, std::min(n, 1024)); // the arrays are sized by n: keep it usable
    }
    if (n != m_n) {
        try {
            for (std::vector<int> *v : {&m_cum, &m_counts, &m_indexToSymbol, &m_symbolToIndex})
                v->assign(static_cast<std::size_t>(n) + 1, 0);
        } catch (const std::bad_alloc &) {
            // A model without tables cannot code: the run ends, with the same words on the screen.
            SpihtDiagnostic("< Adaptive_Model > : insufficient memory");
            throw zn::RunAborted("< Adaptive_Model > : insufficient memory");
        }
        m_n = n;
        m_maxFreq = 32 * n < 16383 ? 32 * n : 16383;
    }
    restart();
}

void Adaptive_Model::restart()
{
    for (int i = 0; i <= m_n; ++i) {
        m_counts[i] = 1;
        m_cum[i] = m_n - i;
    }
    m_counts[0] = 0;
    for (int s = 0; s < m_n; ++s) {
        m_symbolToIndex[s] = s + 1;
        m_indexToSymbol[s + 1] = s;
    }
}

void Adaptive_Model::update(int i)
{
    if (m_cum[0] == m_maxFreq) {
        int sum = 0;
        for (int k = m_n; k >= 0; --k) {
            m_cum[k] = sum;
            m_counts[k] = (m_counts[k] + 1) / 2;
            sum += m_counts[k];
        }
    }
    int j = i;
    while (m_counts[j - 1] == m_counts[j])
        --j;
    if (j < i) {
        const int si = m_indexToSymbol[i], sj = m_indexToSymbol[j];
        m_indexToSymbol[i] = sj;
        m_indexToSymbol[j] = si;
        m_symbolToIndex[sj] = i;
        m_symbolToIndex[si] = j;
    }
    m_counts[j] += 1;
    for (int k = 0; k < j; ++k)
        m_cum[k] += 1;
}

void CSpiht_Encoder::reset(const std::string *dir)
{
    if (!m_closed)
        SpihtDiagnostic("< Encoder > file already open");
    if (dir && !m_file.Create(*dir, "sph")) {
        const char *text =
            "(CSpiht_Encoder::reset) Error creating temporary output file.\nDo you have correct write "
            "permission?";
        SpihtDiagnostic(text);
        zn::ShowMessage(text);
        throw zn::RunAborted("", zn::kMessageShown);
    }
    m_out.clear();
    m_closed = false;
    m_byte = 0;
    m_pending = 0;
    m_low = 0;
    m_free = 8;
    m_high = 65535;
}

void CSpiht_Encoder::open_temporary(const std::string *dir)
{
    reset(dir);
    m_byteCount = 1;
    m_out.push_back(static_cast<uint8_t>('o'));
}

void CSpiht_Encoder::put(int bit)
{
    m_byte = (m_byte >> 1) | (bit ? 0x80 : 0);
    if (--m_free == 0) {
        m_out.push_back(static_cast<uint8_t>(m_byte));
        ++m_byteCount;
        m_byte = 0;
        m_free = 8;
    }
}

void CSpiht_Encoder::output(int bit)
{
    put(bit);
    for (; m_pending > 0; --m_pending)
        put(!bit);
}

void CSpiht_Encoder::renormalise()
{
    for (;;) {
        if (m_high < kHalf) {
            output(0);
        } else if (m_low >= kHalf) {
            output(1);
            m_low -= kHalf;
            m_high -= kHalf;
        } else if (m_low >= kFirstQuarter && m_high < kThirdQuarter) {
            ++m_pending;
            m_low -= kFirstQuarter;
            m_high -= kFirstQuarter;
        } else {
            break;
        }
        m_low = 2 * m_low;
        m_high = 2 * m_high + 1;
    }
}

void CSpiht_Encoder::encode_symbol(int s, Adaptive_Model &m)
{
    const int i = m.m_symbolToIndex[s];
    const int range = m_high - m_low + 1;
    m_high = m_low - 1 + range * m.m_cum[i - 1] / m.m_cum[0];
    m_low = m_low + range * m.m_cum[i] / m.m_cum[0];
    m.update(i);
    renormalise();
}

void CSpiht_Encoder::encode_bits(int n, int v)
{
    v &= (1 << n) - 1;
    const int range = m_high - m_low + 1;
    m_high = m_low - 1 + ((range * (v + 1)) >> n);
    m_low = m_low + ((range * v) >> n);
    renormalise();
}

void CSpiht_Encoder::stop_and_rewind()
{
    if (m_closed)
        SpihtDiagnostic("< Encoder > file already closed");
    ++m_pending;
    output(m_low >= kFirstQuarter ? 1 : 0);
    m_out.push_back(static_cast<uint8_t>(m_byte >> m_free));
    m_byte = 0;
    m_free = 8;
    ++m_byteCount;
    m_closed = true;
    // The code is built in memory and written in one go: the stream file holds the same bytes.
    if (m_file.File() && !zn::WriteFromStart(m_file.File(), m_out))
        throw zn::RunAborted("SPIHT: the stream could not be written to its temporary file.");
}

void CSpiht_Decoder::start(std::FILE *file)
{
    m_file = file;
    if (!zn::ReadFromStart(file, &m_fileBytes))
        throw zn::RunAborted("SPIHT: the stream could not be read from its temporary file.");
    start(std::span<const uint8_t>(m_fileBytes));
}

void CSpiht_Decoder::rewind_input()
{
    if (m_closed)
        SpihtDiagnostic("< Decoder > file already closed");
    if (m_file)
        std::rewind(m_file);
    m_closed = true;
    m_limit = 0;
}

void CSpiht_Decoder::start(std::span<const uint8_t> stream)
{
    if (!m_closed)
        SpihtDiagnostic("< Decoder > file already open");
    m_in = stream;
    m_pos = 0;
    m_byteCount = 1;
    m_symbols = 0;
    m_exhausted = false;
    m_invalid = false;
    const int first = m_pos < m_in.size() ? m_in[m_pos++] : -1;
    if (first == 'o') {
        m_limit = 16777216;
    } else if (first == 'S') {
        m_byteCount += 4;
        long limit = 0;
        int got = 0;
        for (; got < 4 && m_pos < m_in.size(); ++got)
            limit = (limit << 8) | m_in[m_pos++];
        if (got < 4)
            SpihtDiagnostic("< Decoder > symbol limit is incomplete");
        m_limit = limit;
    } else {
        SpihtDiagnostic("invalid < Decoder > file");
        m_invalid = true;
        m_limit = 16777216;
    }
    m_high = 65535;
    m_closed = false;
    m_pastEnd = 0;
    m_left = 0;
    m_low = 0;
    m_value = 0;
    for (int k = 0; k < 16; ++k)
        m_value = 2 * m_value + next_bit();
}

int CSpiht_Decoder::next_bit()
{
    if (m_left == 0) {
        if (m_pos < m_in.size()) {
            m_byte = m_in[m_pos++];
        } else {
            m_byte = -1; // all ones, shifting keeps it so
            // Said at every read from the fifteenth on; the budget still ends the run.
            if (++m_pastEnd > 14)
                SpihtDiagnostic("< Decoder > end of file reached");
        }
        m_left = 8;
        ++m_byteCount;
    }
    const int bit = m_byte & 1;
    m_byte >>= 1;
    --m_left;
    return bit;
}

void CSpiht_Decoder::renormalise()
{
    if (++m_symbols >= m_limit) {
        // From the limit on the decoder reads nothing more; the engine stops at its next check.
        m_exhausted = true;
        return;
    }
    for (;;) {
        if (m_high >= kHalf) {
            if (m_low >= kHalf) {
                m_low -= kHalf;
                m_high -= kHalf;
                m_value -= kHalf;
            } else if (m_low >= kFirstQuarter && m_high < kThirdQuarter) {
                m_low -= kFirstQuarter;
                m_high -= kFirstQuarter;
                m_value -= kFirstQuarter;
            } else {
                break;
            }
        }
        m_low = 2 * m_low;
        m_high = 2 * m_high + 1;
        m_value = 2 * m_value + next_bit();
    }
}

int CSpiht_Decoder::decode_symbol(Adaptive_Model &m)
{
    // Past the symbol limit the interval is no longer renormalised: nothing more is decoded.
    if (m_exhausted)
        return 0;
    const int range = m_high - m_low + 1;
    const int target = ((m_value - m_low + 1) * m.m_cum[0] - 1) / range;
    int i = 1;
    while (i < m.Symbols() && m.m_cum[i] > target)
        ++i;
    m_high = m_low - 1 + range * m.m_cum[i - 1] / m.m_cum[0];
    m_low = m_low + range * m.m_cum[i] / m.m_cum[0];
    const int s = m.m_indexToSymbol[i];
    m.update(i);
    renormalise();
    return s;
}

int CSpiht_Decoder::decode_bits(int n)
{
    if (m_exhausted)
        return 0;
    const int range = m_high - m_low + 1;
    const int v = (((m_value - m_low + 1) << n) - 1) / range;
    m_high = m_low - 1 + ((v * range + range) >> n);
    m_low = m_low + ((v * range) >> n);
    renormalise();
    return v;
}
