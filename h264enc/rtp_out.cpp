// RTP packet writer.
#include "h264enc/rtp_out.h"

#include "h264enc/nal_unit.h"
#include "platform/format.h"

namespace h264enc {

namespace {
void PutLe32(std::vector<uint8_t> &v, uint32_t x)
{
    for (int k = 0; k < 4; ++k)
        v.push_back(static_cast<uint8_t>(x >> (8 * k)));
}
} // namespace

RtpCounters &ProcessRtpCounters()
{
    static RtpCounters counters;
    return counters;
}

void advance_rtp_timestamp(RtpCounters &c, int tr)
{
    if (c.last_tr == -1) {
        c.timestamp = 0;
        c.last_tr = 0;
        return;
    }
    int d = tr - c.last_tr;
    if (d < -10)
        d += 256;
    c.timestamp += static_cast<uint32_t>(1000 * d);
    c.last_tr = tr;
}

std::vector<uint8_t> ComposeRtpRecord(NALU &nalu, RtpCounters &c)
{
    nalu.buf[0] = NaluHeaderByte(nalu);
    const unsigned v = 2, p = 0, x = 0, cc = 0, pt = 105;
    const unsigned m = nalu.prefix_length == 4 ? 1 : 0;
    const uint32_t ssrc = 0x12345678;
    const int packetLength = nalu.len + 12;
    std::vector<uint8_t> rec;
    rec.reserve(static_cast<size_t>(packetLength) + 8);
    PutLe32(rec, static_cast<uint32_t>(packetLength));
    PutLe32(rec, 0xFFFFFFFFu);
    rec.push_back(static_cast<uint8_t>(v + 4 * p + 8 * x + 16 * cc));
    rec.push_back(static_cast<uint8_t>(m + 2 * pt));
    rec.push_back(static_cast<uint8_t>(c.seq & 0xFF));
    rec.push_back(static_cast<uint8_t>((c.seq >> 8) & 0xFF));
    ++c.seq;
    PutLe32(rec, c.timestamp);
    PutLe32(rec, ssrc);
    rec.insert(rec.end(), nalu.buf.begin(), nalu.buf.begin() + nalu.len);
    return rec;
}

void RtpOutput::create_rtp_output(const std::string &path)
{
    m_file.reset(std::fopen(path.c_str(), "wb"));
    if (!m_file)
        h264_fatal_error(zn::Format("Fatal: cannot open bitstream file '%s', exit (-1)\n", path.c_str()),
                         kH264StreamErrorCode);
}

int RtpOutput::RTPWriteNALU(NALU &nalu, RtpCounters &c)
{
    const std::vector<uint8_t> rec = ComposeRtpRecord(nalu, c);
    if (!m_file || std::fwrite(rec.data(), 1, rec.size(), m_file.get()) != rec.size())
        h264_fatal_error(zn::Format("Cannot write %d bytes of RTP packet to outfile, exit\n", nalu.len + 12),
                         kH264StreamErrorCode);
    return nalu.len * 8;
}

void RtpOutput::close_rtp_output()
{
    if (m_file && std::fclose(m_file.release()) != 0)
        h264_fatal_error("Fatal: cannot close bitstream file, exit (-1)\n", kH264StreamErrorCode);
}

} // namespace h264enc
