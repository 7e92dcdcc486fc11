// The packet loop: the stream file is read chunk by chunk (optionally cut at start codes, as an RTP
// packetiser would), each chunk is framed, padded and sent, and the received bytes are appended to
// the output file. With start-code cuts, a packet known to be damaged is replaced by the last good
// one, the simplest concealment a receiver can do without decoding.
#include "mpeg/channel/wireless_channel.h"

#include "platform/file.h"
#include "platform/format.h"
#include "platform/messages.h"

#include <cerrno>
#include <cstring>

namespace zn {

namespace {

// HiperLAN's medium is busy with this many bit periods of other traffic around each packet.
constexpr int kHiperlanTurnaroundSteps = 1010;

void FileError(const char *what, const std::string &path)
{
    ShowMessage(Format("%s %s:\n%s", what, path.c_str(), std::strerror(errno)), MsgButtons::Ok,
                MsgIcon::Error);
}

int CeilDiv(int a, int b)
{
    return (a + b - 1) / b;
}

// The stream side of a simulation: the sender reads the file chunk by chunk; the receiver XORs each
// arriving chunk with the channel's error mask and passes it on, or, with start-code cuts, passes
// the last good packet in place of one whose errors were detected (or that was lost).
class StreamLink
{
public:
    StreamLink(const std::string &input, const std::string &output, bool align, const ProtocolConstants &p,
               ChannelStats &stats)
        : m_input(input), m_output(output), m_align(align), m_header(p.Header(align)),
          m_maxRead(p.MaxRead(align)), m_stats(stats)
    {}
    bool Open() { return CreateStreamFile(m_output); }
    // The next chunk's length (0 at the end: the last packet carries no data).
    int Next()
    {
        const int len = ReadStreamChunk(m_data, m_offset, m_maxRead, m_input, m_align);
        m_offset += len;
        m_stats.bits += 8 * static_cast<int64_t>(len);
        return len;
    }
    int Header() const { return m_header; }
    // The packet went through the channel; mask holds its frame's error bits.
    bool Arrived(const std::vector<uint8_t> &mask, bool uncorrectable)
    {
        for (size_t i = 0; i < m_data.size(); ++i)
            m_data[i] ^= mask[static_cast<size_t>(m_header) + i];
        if (!m_align)
            return AppendStreamChunk(m_data.data(), static_cast<int>(m_data.size()), m_output);
        if (!uncorrectable)
            m_good = m_data;
        return Lost();
    }
    bool Lost()
    {
        return !m_align || AppendStreamChunk(m_good.data(), static_cast<int>(m_good.size()), m_output);
    }

private:
    const std::string &m_input, &m_output;
    bool m_align;
    int m_header, m_maxRead;
    ChannelStats &m_stats;
    std::vector<uint8_t> m_data, m_good; // the chunk on its way, the last good packet (empty at first)
    int64_t m_offset = 0;
};

} // namespace

int ReadStreamChunk(std::vector<uint8_t> &buffer, int64_t offset, int maximum, const std::string &path,
                    bool align)
{
    buffer.clear();
    FilePtr f(std::fopen(path.c_str(), "rb"));
    if (!f) {
        FileError("Cannot open", path);
        return 0;
    }
    if (std::fseek(f.get(), 0, SEEK_END) != 0) {
        FileError("Cannot read", path);
        return 0;
    }
    const long long length = std::ftell(f.get());
    const long long left = length - offset;
    if (left < 1 || maximum < 1)
        return 0;
    const int n = static_cast<int>(std::min<long long>(maximum, left));
    buffer.resize(static_cast<size_t>(n));
    if (std::fseek(f.get(), static_cast<long>(offset), SEEK_SET) != 0 ||
        std::fread(buffer.data(), 1, buffer.size(), f.get()) != buffer.size()) {
        FileError("Cannot read", path);
        buffer.clear();
        return 0;
    }
    int len = n;
    if (align)
        // A chunk that starts with a start code ends before the next one.
        for (int p = 1; p <= n - 4; ++p)
            if (buffer[p] == 0 && buffer[p + 1] == 0 && buffer[p + 2] == 1) {
                len = p;
                break;
            }
    buffer.resize(static_cast<size_t>(len));
    return len;
}

bool CreateStreamFile(const std::string &path)
{
    FilePtr f(std::fopen(path.c_str(), "wb"));
    if (!f) {
        FileError("Cannot create", path);
        return false;
    }
    return true;
}

bool AppendStreamChunk(const uint8_t *data, int n, const std::string &path)
{
    std::FILE *f = std::fopen(path.c_str(), "ab");
    if (!f) {
        FileError("Cannot write", path);
        return false;
    }
    const bool written = n <= 0 || std::fwrite(data, 1, static_cast<size_t>(n), f) == static_cast<size_t>(n);
    if (std::fclose(f) != 0 || !written) {
        FileError("Cannot write", path);
        return false;
    }
    return true;
}

bool SimulateHiperlan(const std::string &input, const std::string &output, bool align, ChannelModel channel,
                      int users, int kbps, ChannelStats &stats)
{
    const ProtocolConstants &p = HiperlanConstants();
    StreamLink link(input, output, align, p, stats);
    if (!link.Open())
        return false;
    const int slots = ContentionSlots(kbps);
    const bool fading = channel.model == 2;
    channel.state = 0;
    std::vector<uint8_t> mask;
    int len = 0;
    do {
        len = link.Next();
        const int frame = p.unitBytes * CeilDiv(len + link.Header() + p.trailer, p.unitBytes);
        const int slot = ContendForSlot(users, kbps);
        if (slot >= 0) {
            // Lost: every coded bit of the packet counts as in error.
            stats.errorBits += (static_cast<int64_t>(len) * 248) / 26;
            ++stats.packets;
            ++stats.contentionLosses;
            if (!link.Lost())
                return false;
            if (fading)
                GilbertElliotSteps(channel, slots);
            continue;
        }
        const int t = -1 - slot;
        if (fading)
            GilbertElliotSteps(channel, t + kHiperlanTurnaroundSteps);
        mask.assign(static_cast<size_t>(frame), 0);
        const int result = TransmitPacket(p, mask.data(), frame, channel, stats);
        if (fading)
            GilbertElliotSteps(channel, slots - 1 - t);
        if (!link.Arrived(mask, result == 1))
            return false;
    } while (len > 0);
    return true;
}

bool SimulateGprs(const std::string &input, const std::string &output, bool align, ChannelModel channel,
                  int scheme, ChannelStats &stats)
{
    const ProtocolConstants &p = GprsConstants(scheme);
    StreamLink link(input, output, align, p, stats);
    if (!link.Open())
        return false;
    channel.state = 0;
    std::vector<uint8_t> mask;
    int len = 0;
    do {
        len = link.Next();
        const int total = link.Header() + len + p.trailer;
        // Short packets fill the scheme's smallest frame; longer ones whole units.
        const int frame = total < 140 ? p.smallestFrame : CeilDiv(total, p.unitBytes) * p.unitBytes;
        mask.assign(static_cast<size_t>(frame), 0);
        const int result = TransmitPacket(p, mask.data(), frame, channel, stats);
        if (!link.Arrived(mask, result == 1))
            return false;
    } while (len > 0);
    return true;
}

std::string ChannelReport(const ChannelStats &s)
{
    const auto ll = [](int64_t v) { return static_cast<long long>(v); };
    std::string text = Format("Number of bits processed\t\t\t: %lld\r\n", ll(s.bits));
    text += Format("Number of packets processed\t\t\t: %lld\r\n", ll(s.packets));
    // An empty stream sends only the final packet's framing: there is no data bit to take a rate of.
    if (s.bits > 0)
        text += Format("Bit error rate          \t\t\t\t: %1.3g\r\n",
                       static_cast<double>(s.errorBits) / static_cast<double>(s.bits));
    else
        text += "Bit error rate          \t\t\t\t: -\r\n";
    text += Format("      Number of erroneous bits\t\t\t: %lld\r\n", ll(s.errorBits));
    const int64_t bad = s.uncorrectable + s.undetected + s.contentionLosses;
    text += Format("Packet error rate\t\t\t\t: %1.3g\r\n",
                   s.packets > 0 ? static_cast<double>(bad) / static_cast<double>(s.packets) : 0.0);
    text += Format("      Uncorrectable erroneous packets\t\t: %lld\r\n", ll(s.uncorrectable));
    text += Format("      Undetected erroneous packets\t\t: %lld\r\n", ll(s.undetected));
    text += Format("      Packet loss due to contention\t\t: %lld", ll(s.contentionLosses));
    return text;
}

} // namespace zn
