// Stream input: the file is read in 2048-byte blocks into a bit window whose top bit is the next bit
// of the stream. The end of the data reads as a run of sequence end codes (00 00 01 B7), so every
// reader above stops at the end of the file without testing for it. In a system stream only the
// payload of video stream 0 reaches the window; packs, other streams and packet headers are skipped.
#include "mpeg/mpgdec/mpeg_decoder.h"

#include "platform/messages.h"

namespace zn {

namespace {
constexpr uint8_t kEndCode[4] = {0x00, 0x00, 0x01, 0xB7};
}

MpegFileInput::MpegFileInput(const std::string &path) : m_file(std::fopen(path.c_str(), "rb")) {}

MpegFileInput::~MpegFileInput()
{
    if (m_file)
        std::fclose(m_file);
}

size_t MpegFileInput::Read(uint8_t *dst, size_t n)
{
    return m_file ? std::fread(dst, 1, n, m_file) : 0;
}

size_t MpegMemoryInput::Read(uint8_t *dst, size_t n)
{
    size_t take = std::min(n, m_size - m_pos);
    std::copy(m_data + m_pos, m_data + m_pos + take, dst);
    m_pos += take;
    return take;
}

void CMpegDecoder::mpgdec_initbits(MpegInput *input)
{
    MpegLayer &ld = *current_layer;
    ld.input = input;
    ld.rdptr = ld.buffer;
    ld.buffer_bytes = 0;
    ld.input_ended = false;
    ld.file_pos = ld.stream_pos = ld.packet_end = 0;
    ld.system_ended = false;
    ld.end_phase = 0;
    ld.bits = 0;
    ld.incnt = 0;
    FillWindow();
}

// The next 2048 bytes of the file, as the stream is laid out on disc; fewer at its end.
void CMpegDecoder::mpgdec_fillbuffer()
{
    MpegLayer &ld = *current_layer;
    ld.buffer_bytes = ld.input ? static_cast<int>(ld.input->Read(ld.buffer, sizeof ld.buffer)) : 0;
    ld.rdptr = ld.buffer;
    if (ld.buffer_bytes < static_cast<int>(sizeof ld.buffer))
        ld.input_ended = true;
}

// The next byte of the file, -1 at its end.
int CMpegDecoder::RawByte()
{
    MpegLayer &ld = *current_layer;
    if (ld.rdptr >= ld.buffer + ld.buffer_bytes) {
        if (ld.input_ended || !ld.input)
            return -1;
        mpgdec_fillbuffer();
        if (ld.buffer_bytes <= 0)
            return -1;
    }
    ++ld.file_pos;
    return *ld.rdptr++;
}

int CMpegDecoder::SystemByte()
{
    MpegLayer &ld = *current_layer;
    int b = RawByte();
    if (b < 0) {
        // A system stream that stops without its end code (ffmpeg writes none) ends here as if it
        // had one.
        ld.system_ended = true;
        return -1;
    }
    return b;
}

void CMpegDecoder::SkipSystemBytes(int n)
{
    MpegLayer &ld = *current_layer;
    for (int i = 0; i < n && !ld.system_ended; ++i)
        SystemByte();
}

// Enters the next packet of video stream 0, skipping packs, system headers and other streams.
void CMpegDecoder::Mpgdec_NextPacket()
{
    MpegLayer &ld = *current_layer;
    for (;;) {
        uint32_t code = 0;
        for (int i = 0; i < 4; ++i) {
            int b = SystemByte();
            if (b < 0)
                return;
            code = (code << 8) | static_cast<uint32_t>(b);
        }
        if (code == 0x000001B9) {
            ld.system_ended = true;
            return;
        }
        if (code == 0x000001BA) {
            // An MPEG-1 pack header starts with the bits 0010; MPEG-2 program streams start with 01,
            // and their packet headers are not read.
            int b = SystemByte();
            if (b >= 0 && (b & 0xC0) == 0x40) {
                ShowMessage("Mpgdec_NextPacket: Fatal - Error in packet header");
                throw MpegDecodeError("Error in packet header");
            }
            SkipSystemBytes(7);
            continue;
        }
        if (code == 0x000001E0) {
            int hi = SystemByte(), lo = SystemByte();
            if (hi < 0 || lo < 0)
                return;
            int64_t start = ld.file_pos;
            int length = (hi << 8) | lo;
            int b;
            int guard = 0;
            while ((b = SystemByte()) == 0xFF && ++guard < 32) {
            }
            if (b < 0)
                return;
            if (b >= 0x40) {
                if (b >= 0x80) {
                    ShowMessage("Mpgdec_NextPacket: Fatal - Error in packet header");
                    throw MpegDecodeError("Error in packet header");
                }
                SystemByte();
                b = SystemByte();
            }
            if (b >= 0x20 && b <= 0x2F)
                SkipSystemBytes(4);
            else if (b >= 0x30 && b <= 0x3F)
                SkipSystemBytes(9);
            else if (b != 0x0F) {
                ShowMessage("Mpgdec_NextPacket: Fatal - Error in packet header");
                throw MpegDecodeError("Error in packet header");
            }
            ld.packet_end = start + length;
            if (ld.system_ended)
                return;
            if (ld.file_pos < ld.packet_end)
                return;
            continue; // an empty packet
        }
        if (code < 0x000001BB) {
            ShowMessage(Format("Unexpected startcode %08x in system layer\n", code));
            throw MpegDecodeError("Unexpected start code in system layer");
        }
        int hi = SystemByte(), lo = SystemByte();
        if (hi < 0 || lo < 0)
            return;
        SkipSystemBytes((hi << 8) | lo);
    }
}

int CMpegDecoder::NextStreamByte()
{
    MpegLayer &ld = *current_layer;
    if (system_stream) {
        if (!ld.system_ended) {
            if (ld.file_pos >= ld.packet_end)
                Mpgdec_NextPacket();
            if (!ld.system_ended) {
                int b = SystemByte();
                if (b >= 0)
                    return b;
            }
        }
        return kEndCode[ld.end_phase++ & 3];
    }
    int b = RawByte();
    if (b >= 0) {
        ++ld.stream_pos;
        return b;
    }
    // The elementary stream's end: zeros up to a multiple of four bytes, then end codes.
    if ((ld.stream_pos & 3) != 0 && ld.end_phase == 0) {
        ++ld.stream_pos;
        return 0;
    }
    return kEndCode[ld.end_phase++ & 3];
}

void CMpegDecoder::FillWindow()
{
    MpegLayer &ld = *current_layer;
    while (ld.incnt <= 56) {
        ld.bits |= static_cast<uint64_t>(NextStreamByte()) << (56 - ld.incnt);
        ld.incnt += 8;
    }
}

uint32_t CMpegDecoder::mpgdec_showbits(int n)
{
    MpegLayer &ld = *current_layer;
    return static_cast<uint32_t>(ld.bits >> (64 - n));
}

void CMpegDecoder::mpgdec_flushbits(int n)
{
    MpegLayer &ld = *current_layer;
    ld.bits <<= n;
    ld.incnt -= n;
    if (ld.incnt <= 56)
        FillWindow();
}

uint32_t CMpegDecoder::mpgdec_getbits(int n)
{
    uint32_t v = mpgdec_showbits(n);
    mpgdec_flushbits(n);
    return v;
}

uint32_t CMpegDecoder::mpgdec_getbits32()
{
    uint32_t v = mpgdec_getbits(16) << 16;
    return v | mpgdec_getbits(16);
}

void CMpegDecoder::mpgdec_next_start_code()
{
    MpegLayer &ld = *current_layer;
    mpgdec_flushbits(ld.incnt & 7);
    while (mpgdec_showbits(24) != 0x000001)
        mpgdec_flushbits(8);
}

void CMpegDecoder::MessageOnce(const std::string &text)
{
    if (m_shown.insert(text).second)
        ShowMessage(text);
}

} // namespace zn
