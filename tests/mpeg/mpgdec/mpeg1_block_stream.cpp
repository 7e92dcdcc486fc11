// One-macroblock MPEG-1 streams for tests: sequence, group and picture headers, one slice, one intra
// macroblock whose blocks code only differential DC zero (grey) and end of block, the first luminance
// block with escape-coded coefficients before its end.
#include "mpeg/mpgdec/mpeg1_block_stream.h"

#include "mpeg/mpgdec/stream_bits.h"

namespace zntest {

std::vector<uint8_t> Mpeg1IntraBlockStream(int q, const std::vector<RunLevel> &coefficients,
                                           const std::vector<uint8_t> &intraMatrix)
{
    StreamBits w;
    w.StartCode(0xB3);
    w.Put(16, 12);
    w.Put(16, 12);
    w.Put(1, 4);     // square samples
    w.Put(3, 4);     // 25 pictures/s
    w.Put(2875, 18); // 1.15 Mbit/s
    w.Put(1, 1);
    w.Put(20, 10); // VBV buffer
    w.Put(0, 1);   // not constrained
    w.Put(intraMatrix.size() == 64 ? 1 : 0, 1);
    if (intraMatrix.size() == 64)
        for (uint8_t v : intraMatrix)
            w.Put(v, 8);
    w.Put(0, 1); // default non-intra matrix
    w.StartCode(0xB8);
    w.Put(1 << 12, 25); // time code 0 with its marker bit
    w.Put(2, 2);        // closed group
    w.StartCode(0x00);
    w.Put(0, 10);
    w.Put(1, 3); // I picture
    w.Put(0xFFFF, 16);
    w.Put(0, 1);
    w.StartCode(0x01);
    w.Put(static_cast<uint32_t>(q), 5);
    w.Put(0, 1);
    w.Put(1, 1); // address increment 1
    w.Put(1, 1); // intra, no quantiser change
    for (int b = 0; b < 6; ++b) {
        w.PutDc(0, b >= 4);
        for (const RunLevel &c : b == 0 ? coefficients : std::vector<RunLevel>{}) {
            w.Put(1, 6); // escape
            w.Put(static_cast<uint32_t>(c.run), 6);
            if (c.level >= 128)
                w.Put(static_cast<uint32_t>(c.level), 16); // 0000 0000, then the level
            else if (c.level <= -128)
                w.Put(0x8000u | (static_cast<uint32_t>(c.level) & 0xFF), 16);
            else
                w.Put(static_cast<uint32_t>(c.level) & 0xFF, 8);
        }
        w.Put(2, 2); // end of block
    }
    w.StartCode(0xB7);
    return w.Bytes();
}

} // namespace zntest
