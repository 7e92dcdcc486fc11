// Field-coded MPEG-2 streams for tests: a sequence header and extension for an interlaced 4:2:0
// sequence, then per frame two I field pictures, one slice per macroblock row, every macroblock intra
// with DC-only blocks (differential DC codes, then end of block).
#include "mpeg/mpgdec/field_stream.h"

#include "mpeg/mpgdec/stream_bits.h"

namespace zntest {

std::vector<uint8_t> FieldCodedStream(int width, int height, int frames,
                                      const std::function<int(int, int, int, int, int)> &level)
{
    StreamBits w;
    w.StartCode(0xB3);
    w.Put(static_cast<uint32_t>(width), 12);
    w.Put(static_cast<uint32_t>(height), 12);
    w.Put(1, 4);      // square samples
    w.Put(3, 4);      // 25 frames/s
    w.Put(10000, 18); // 4 Mbit/s
    w.Put(1, 1);
    w.Put(112, 10); // VBV buffer
    w.Put(0, 3);    // not constrained, default matrices
    w.StartCode(0xB5);
    w.Put(1, 4);    // sequence extension
    w.Put(0x48, 8); // main profile, main level
    w.Put(0, 1);    // interlaced
    w.Put(1, 2);    // 4:2:0
    w.Put(0, 4);    // size extensions
    w.Put(0, 12);
    w.Put(1, 1);
    w.Put(0, 8);
    w.Put(0, 1); // not low delay
    w.Put(0, 7);
    const int mbWidth = width / 16, fieldRows = height / 32;
    for (int f = 0; f < frames; ++f)
        for (int field = 0; field < 2; ++field) {
            w.StartCode(0x00);
            w.Put(static_cast<uint32_t>(f), 10);
            w.Put(1, 3); // I picture
            w.Put(0xFFFF, 16);
            w.Put(0, 1);
            w.StartCode(0xB5);
            w.Put(8, 4);                                // picture coding extension
            w.Put(0xFFFF, 16);                          // f_codes: unused
            w.Put(0, 2);                                // DC precision 8 bits
            w.Put(static_cast<uint32_t>(field + 1), 2); // top field, then bottom field
            w.Put(0, 1);                                // top_field_first (0 in field pictures)
            w.Put(0, 1);                                // frame_pred_frame_dct
            w.Put(0, 6); // concealment, q_scale_type, intra_vlc_format, alternate_scan, rff, 420 type
            w.Put(0, 2); // progressive_frame, composite_display_flag
            for (int row = 0; row < fieldRows; ++row) {
                w.StartCode(static_cast<uint8_t>(row + 1));
                w.Put(8, 5); // quantiser_scale_code
                w.Put(0, 1);
                int pred[3] = {128, 128, 128};
                for (int mb = 0; mb < mbWidth; ++mb) {
                    w.Put(1, 1); // address increment 1
                    w.Put(1, 1); // intra
                    for (int b = 0; b < 6; ++b) {
                        const int c = b < 4 ? 0 : b - 3;
                        const int x = c ? 8 * mb : 16 * mb + 8 * (b & 1);
                        const int y = c ? 8 * row : 16 * row + 8 * (b >> 1);
                        const int v = level(f, field, c, x, y);
                        w.PutDc(v - pred[c], c != 0);
                        pred[c] = v;
                        w.Put(2, 2); // end of block
                    }
                }
            }
        }
    w.StartCode(0xB7);
    return w.Bytes();
}

} // namespace zntest
