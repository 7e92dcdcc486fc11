// Test-side arithmetic encoder, written from the encoding procedure of the final standard (10-bit low
// register, outstanding bits, flush with the stop bit), so that the decoder's engine can be checked
// against an encoder that shares nothing with it but the state tables.
#pragma once

#include "h264/support/h264_stream_writer.h"
#include "h264dec/cabac_engine.h"

namespace h264test {

class CabacWriter
{
public:
    // Codes into the bit writer, which must be byte-aligned.
    explicit CabacWriter(BitWriter &out) : m_out(out) {}

    void Symbol(CabacContext &ctx, int bin);
    void Bypass(int bin);
    // The end-of-slice bin; 1 flushes the coder (stop bit included) and pads to the byte boundary.
    void Final(int bin);
    int BinsCoded() const { return m_bins; }

private:
    void Renormalise();
    void PutBit(int bit);

    BitWriter &m_out;
    uint32_t m_low = 0;
    uint32_t m_range = 510;
    int m_outstanding = 0;
    bool m_first = true;
    int m_bins = 0;
};

} // namespace h264test
