// The RTP packet-file reader: each packet is a 4-byte length, a 4-byte time and the packet, whose
// 12-byte header precedes one NAL unit. The layout is the one this program's encoder writes (bit
// fields from the low end of each byte, numbers little-endian). The decoder's run never selects it.
#include "h264dec/nalu_input.h"

#include "platform/log.h"

#include <algorithm>

namespace {

constexpr int kRtpHeaderBytes = 12;
constexpr int kRtpMaxPacket = 65508 + kRtpHeaderBytes;

uint32_t Le32(const uint8_t *b)
{
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

} // namespace

int RTPReadPacket(RTPpacket *p, NaluSource &source)
{
    uint8_t field[4];
    const int got = source.Read(field, 4);
    if (got == 0)
        return 0;
    if (got < 4)
        return -1;
    const uint32_t packlen = Le32(field);
    if (source.Read(field, 4) < 4) // the time field, not used
        return -1;
    if (packlen < kRtpHeaderBytes || packlen > kRtpMaxPacket) {
        zn::LogF(zn::LogLevel::Info, "RTPReadPacket: packet length %u out of range\n", packlen);
        return -1;
    }
    p->packet.assign(packlen, 0);
    if (source.Read(p->packet.data(), static_cast<int>(packlen)) < static_cast<int>(packlen))
        return -1;
    p->packlen = static_cast<int>(packlen);
    return p->packlen;
}

int DecomposeRTPpacket(RTPpacket *p)
{
    if (p->packlen < kRtpHeaderBytes || static_cast<int>(p->packet.size()) < p->packlen)
        return -1;
    const uint8_t *b = p->packet.data();
    p->v = b[0] & 0x03;
    p->p = (b[0] >> 2) & 1;
    p->x = (b[0] >> 3) & 1;
    p->cc = b[0] >> 4;
    p->m = b[1] & 1;
    p->pt = b[1] >> 1;
    p->seq = unsigned(b[2]) | unsigned(b[3]) << 8;
    p->timestamp = Le32(b + 4);
    p->ssrc = Le32(b + 8);
    if (p->v != 2 || p->p != 0 || p->x != 0 || p->cc != 0) {
        zn::LogF(zn::LogLevel::Info, "DecomposeRTPpacket: unsupported RTP header (v %u, p %u, x %u, cc %u)\n",
                 p->v, p->p, p->x, p->cc);
        return -1;
    }
    p->paylen = p->packlen - kRtpHeaderBytes;
    return 0;
}

int GetRTPNALU(NaluSource &source, NALU *nalu)
{
    RTPpacket p;
    const int ret = RTPReadPacket(&p, source);
    if (ret <= 0)
        return ret;
    if (DecomposeRTPpacket(&p) < 0 || p.paylen > nalu->capacity)
        return -1;
    std::copy(p.packet.begin() + kRtpHeaderBytes, p.packet.begin() + p.packlen, nalu->buf.begin());
    nalu->len = p.paylen;
    nalu->prefix_length = 0;
    const int b = p.paylen > 0 ? nalu->buf[0] : 0;
    nalu->forbidden_bit = (b >> 7) & 1;
    nalu->nal_ref_idc = (b >> 5) & 3;
    nalu->nal_unit_type = b & 0x1f;
    return nalu->len;
}
