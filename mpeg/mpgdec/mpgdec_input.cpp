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
    m_input = input;
    m_bufLen = m_bufPos = 0;
    m_inputEnded = false;
    m_filePos = m_streamPos = m_packetEnd = 0;
    m_systemEnded = false;
    m_endPhase = 0;
    m_bits = 0;
    m_incnt = 0;
    FillWindow();
}

// The next byte of the file, -1 at its end. Blocks of 2048 bytes, as the stream is laid out on disc.
int CMpegDecoder::RawByte()
{
    if (m_bufPos >= m_bufLen) {
        if (m_inputEnded || !m_input)
            return -1;
        m_bufLen = static_cast<int>(m_input->Read(m_buffer, sizeof m_buffer));
        m_bufPos = 0;
        if (m_bufLen < static_cast<int>(sizeof m_buffer))
            m_inputEnded = true;
        if (m_bufLen <= 0)
            return -1;
    }
    ++m_filePos;
    return m_buffer[m_bufPos++];
}

int CMpegDecoder::SystemByte()
{
    int b = RawByte();
    if (b < 0) {
        // A system stream that stops without its end code (ffmpeg writes none) ends here as if it
        // had one.
        m_systemEnded = true;
        return -1;
    }
    return b;
}

void CMpegDecoder::SkipSystemBytes(int n)
{
    for (int i = 0; i < n && !m_systemEnded; ++i)
        SystemByte();
}

// Enters the next packet of video stream 0, skipping packs, system headers and other streams.
void CMpegDecoder::Mpgdec_NextPacket()
{
    for (;;) {
        uint32_t code = 0;
        for (int i = 0; i < 4; ++i) {
            int b = SystemByte();
            if (b < 0)
                return;
            code = (code << 8) | static_cast<uint32_t>(b);
        }
        if (code == 0x000001B9) {
            m_systemEnded = true;
            return;
        }
        if (code == 0x000001BA) {
            // An MPEG-1 pack header starts with the bits 0010; MPEG-2 program streams start with 01.
            int b = SystemByte();
            if (b >= 0 && (b & 0xC0) == 0x40) {
                ShowMessage("This is an MPEG-2 program stream. Only MPEG-1 system streams and video "
                            "elementary streams can be decoded.");
                throw MpegDecodeError("MPEG-2 program stream");
            }
            SkipSystemBytes(7);
            continue;
        }
        if (code == 0x000001E0) {
            int hi = SystemByte(), lo = SystemByte();
            if (hi < 0 || lo < 0)
                return;
            int64_t start = m_filePos;
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
            m_packetEnd = start + length;
            if (m_systemEnded)
                return;
            if (m_filePos < m_packetEnd)
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
    if (system_stream) {
        if (!m_systemEnded) {
            if (m_filePos >= m_packetEnd)
                Mpgdec_NextPacket();
            if (!m_systemEnded) {
                int b = SystemByte();
                if (b >= 0)
                    return b;
            }
        }
        return kEndCode[m_endPhase++ & 3];
    }
    int b = RawByte();
    if (b >= 0) {
        ++m_streamPos;
        return b;
    }
    // The elementary stream's end: zeros up to a multiple of four bytes, then end codes.
    if ((m_streamPos & 3) != 0 && m_endPhase == 0) {
        ++m_streamPos;
        return 0;
    }
    return kEndCode[m_endPhase++ & 3];
}

void CMpegDecoder::FillWindow()
{
    while (m_incnt <= 56) {
        m_bits |= static_cast<uint64_t>(NextStreamByte()) << (56 - m_incnt);
        m_incnt += 8;
    }
}

uint32_t CMpegDecoder::mpgdec_showbits(int n)
{
    return static_cast<uint32_t>(m_bits >> (64 - n));
}

void CMpegDecoder::mpgdec_flushbits(int n)
{
    m_bits <<= n;
    m_incnt -= n;
    if (m_incnt <= 56)
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
    mpgdec_flushbits(m_incnt & 7);
    while (mpgdec_showbits(24) != 0x000001)
        mpgdec_flushbits(8);
}

void CMpegDecoder::MessageOnce(const std::string &text)
{
    if (m_shown.insert(text).second)
        ShowMessage(text);
}

} // namespace zn
