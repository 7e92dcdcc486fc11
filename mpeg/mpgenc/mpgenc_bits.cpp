// Bit writer and the headers of the stream. Every header begins with a start code on a byte
// boundary (zero bits stuff the gap), which is what lets a decoder resynchronise anywhere.
#include "mpeg/mpgenc/mpgenc.h"

#include "mpeg/mpgenc/mpgenc_tables.h"

#include <cmath>

void MpegEncoder::ResetBitWriter()
{
    m_pending = 0;
    m_free = 8;
    m_bytes = 0;
    m_memory.clear();
}

// All n bits at once onto the bits of the unfinished byte, then every byte that is complete goes out.
void MpegEncoder::WriteBits(uint32_t value, int n)
{
    if (n <= 0)
        return;
    int bits = 8 - m_free + n; // at most 7 + 32
    const uint64_t acc = (static_cast<uint64_t>(m_pending) << n) | (value & ((uint64_t{1} << n) - 1));
    while (bits >= 8) {
        bits -= 8;
        const uint8_t byte = static_cast<uint8_t>(acc >> bits);
        if (m_toMemory)
            m_memory.push_back(byte);
        else if (m_out && putc_unlocked(byte, m_out) == EOF)
            m_writeFailed = true;
        ++m_bytes;
    }
    m_pending = static_cast<uint32_t>(acc & ((1u << bits) - 1));
    m_free = 8 - bits;
}

void MpegEncoder::AlignBits()
{
    if (m_free != 8)
        WriteBits(0, m_free);
}

void MpegEncoder::WriteSequenceHeader()
{
    const MpegEncoderState &s = m_s;
    AlignBits();
    WriteBits(0x1B3, 32);
    WriteBits(s.horizontal_size, 12);
    WriteBits(s.vertical_size, 12);
    WriteBits(s.aspectratio, 4);
    WriteBits(s.frame_rate_code, 4);
    // The rate in units of 400 bit/s, rounded up so the declared rate never undercuts the real one.
    WriteBits(static_cast<uint32_t>(std::ceil(s.bit_rate / 400.0)) & 0x3FFFF, 18);
    WriteBits(1, 1);
    WriteBits(s.vbv_buffer_size & 0x3FF, 10);
    WriteBits(s.constrparms, 1);
    WriteBits(s.load_iquant, 1);
    if (s.load_iquant)
        for (int i = 0; i < 64; ++i)
            WriteBits(s.intra_q[kZigZag[i]], 8);
    WriteBits(s.load_niquant, 1);
    if (s.load_niquant)
        for (int i = 0; i < 64; ++i)
            WriteBits(s.inter_q[kZigZag[i]], 8);
}

void MpegEncoder::WriteSequenceExtension()
{
    const MpegEncoderState &s = m_s;
    AlignBits();
    WriteBits(0x1B5, 32);
    WriteBits(1, 4);
    WriteBits((s.profile << 4) | s.level, 8);
    WriteBits(s.prog_seq, 1);
    WriteBits(s.chroma_format, 2);
    WriteBits(s.horizontal_size >> 12, 2);
    WriteBits(s.vertical_size >> 12, 2);
    WriteBits((static_cast<uint32_t>(std::ceil(s.bit_rate / 400.0)) >> 18) & 0xFFF, 12);
    WriteBits(1, 1);
    WriteBits(s.vbv_buffer_size >> 10, 8);
    WriteBits(0, 1);
    WriteBits(0, 2);
    WriteBits(0, 5);
}

void MpegEncoder::WriteSequenceDisplayExtension()
{
    const MpegEncoderState &s = m_s;
    AlignBits();
    WriteBits(0x1B5, 32);
    WriteBits(2, 4);
    WriteBits(s.video_format, 3);
    WriteBits(1, 1);
    WriteBits(s.color_primaries, 8);
    WriteBits(s.transfer_characteristics, 8);
    WriteBits(s.matrix_coefficients, 8);
    WriteBits(s.display_horizontal_size, 14);
    WriteBits(1, 1);
    WriteBits(s.display_vertical_size, 14);
}

int MpegEncoder::TimeCode(int n) const
{
    const int fps = static_cast<int>(m_s.frame_rate + 0.5);
    const int pict = n % fps;
    const int sec = n / fps;
    const int s = sec % 60, m = (sec / 60) % 60, h = (sec / 3600) % 24;
    return (h << 19) | (m << 13) | (1 << 12) | (s << 6) | pict;
}

void MpegEncoder::WriteGopHeader(int frame, int closed)
{
    AlignBits();
    WriteBits(0x1B8, 32);
    WriteBits(TimeCode(frame + m_s.tc0), 25);
    WriteBits(closed, 1);
    WriteBits(0, 1);
}

void MpegEncoder::WritePictureHeader()
{
    const MpegEncoderState &s = m_s;
    AlignBits();
    WriteBits(0x100, 32);
    VbvDelay();
    WriteBits(s.temp_ref & 0x3FF, 10);
    WriteBits(s.pict_type, 3);
    WriteBits(m_s.vbv_delay, 16);
    if (s.pict_type == P_TYPE || s.pict_type == B_TYPE) {
        WriteBits(0, 1);
        WriteBits(s.mpeg1 ? s.forw_hor_f_code : 7, 3);
    }
    if (s.pict_type == B_TYPE) {
        WriteBits(0, 1);
        WriteBits(s.mpeg1 ? s.back_hor_f_code : 7, 3);
    }
    WriteBits(0, 1);
}

void MpegEncoder::WritePictureCodingExtension()
{
    const MpegEncoderState &s = m_s;
    AlignBits();
    WriteBits(0x1B5, 32);
    WriteBits(8, 4);
    WriteBits(s.forw_hor_f_code, 4);
    WriteBits(s.forw_vert_f_code, 4);
    WriteBits(s.back_hor_f_code, 4);
    WriteBits(s.back_vert_f_code, 4);
    WriteBits(s.dc_prec, 2);
    WriteBits(s.pict_struct, 2);
    WriteBits(s.pict_struct == FRAME_PICTURE ? s.topfirst : 0, 1);
    WriteBits(s.frame_pred_dct, 1);
    WriteBits(0, 1);
    WriteBits(s.q_scale_type, 1);
    WriteBits(s.intravlc, 1);
    WriteBits(s.altscan, 1);
    WriteBits(s.repeatfirst, 1);
    WriteBits(s.prog_frame, 1);
    WriteBits(s.prog_frame, 1);
    WriteBits(0, 1);
}

void MpegEncoder::WriteQuantMatrixExtension()
{
    AlignBits();
    WriteBits(0x1B5, 32);
    WriteBits(3, 4);
    WriteBits(1, 1);
    for (int i = 0; i < 64; ++i)
        WriteBits(m_s.intra_q[kZigZag[i]], 8);
    WriteBits(0, 1);
    WriteBits(0, 1);
    WriteBits(0, 1);
}

void MpegEncoder::WriteSequenceEnd()
{
    AlignBits();
    WriteBits(0x1B7, 32);
}
