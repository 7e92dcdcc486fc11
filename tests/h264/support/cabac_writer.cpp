// Test-side arithmetic encoder (see the header).
#include "h264/support/cabac_writer.h"

namespace h264test {

void CabacWriter::PutBit(int bit)
{
    // The first bit of the low register is always 0 and is not sent.
    if (m_first)
        m_first = false;
    else
        m_out.u(1, static_cast<uint32_t>(bit));
    for (; m_outstanding > 0; --m_outstanding)
        m_out.u(1, static_cast<uint32_t>(1 - bit));
}

void CabacWriter::Renormalise()
{
    while (m_range < 256) {
        if (m_low < 256) {
            PutBit(0);
        } else if (m_low >= 512) {
            m_low -= 512;
            PutBit(1);
        } else {
            m_low -= 256;
            ++m_outstanding;
        }
        m_range <<= 1;
        m_low <<= 1;
    }
}

void CabacWriter::Symbol(CabacContext &ctx, int bin)
{
    ++m_bins;
    const uint32_t lps = kRangeTabLPS[ctx.state][(m_range >> 6) & 3];
    m_range -= lps;
    if (bin != ctx.mps) {
        m_low += m_range;
        m_range = lps;
        if (ctx.state == 0)
            ctx.mps = static_cast<uint8_t>(1 - ctx.mps);
        ctx.state = kTransIdxLPS[ctx.state];
    } else {
        ctx.state = kTransIdxMPS[ctx.state];
    }
    Renormalise();
}

void CabacWriter::Bypass(int bin)
{
    ++m_bins;
    m_low <<= 1;
    if (bin)
        m_low += m_range;
    if (m_low >= 1024) {
        PutBit(1);
        m_low -= 1024;
    } else if (m_low < 512) {
        PutBit(0);
    } else {
        m_low -= 512;
        ++m_outstanding;
    }
}

void CabacWriter::Final(int bin)
{
    ++m_bins;
    m_range -= 2;
    if (bin) {
        m_low += m_range;
        m_range = 2;
        Renormalise();
        PutBit((m_low >> 9) & 1);
        m_out.u(2, ((m_low >> 7) & 3) | 1);
        while (!m_out.ByteAligned())
            m_out.u(1, 0);
    } else {
        Renormalise();
    }
}

} // namespace h264test
