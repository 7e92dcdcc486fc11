// The round-trip tests' stream, bit, quality and packet readings (see the header).
#include "roundtrip_checks.h"

#include "platform/format.h"
#include "support/test_support.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <regex>
#include <sstream>

namespace rtcheck {

std::vector<uint8_t> AnnexBUnit::Unit(const std::vector<uint8_t> &stream) const
{
    return std::vector<uint8_t>(stream.begin() + static_cast<long>(header),
                                stream.begin() + static_cast<long>(end));
}

std::vector<AnnexBUnit> SplitAnnexB(const std::vector<uint8_t> &s)
{
    std::vector<AnnexBUnit> units;
    for (size_t i = 0; i + 3 <= s.size(); ++i) {
        if (s[i] != 0 || s[i + 1] != 0 || s[i + 2] != 1)
            continue;
        AnnexBUnit u;
        u.begin = i > 0 && s[i - 1] == 0 ? i - 1 : i; // the zero byte of a four-byte start code
        u.header = i + 3;
        if (!units.empty())
            units.back().end = u.begin;
        units.push_back(u);
        i += 2;
    }
    if (!units.empty())
        units.back().end = s.size();
    for (AnnexBUnit &u : units)
        if (u.header < u.end) {
            u.type = s[u.header] & 31;
            u.ref_idc = (s[u.header] >> 5) & 3;
        }
    return units;
}

std::vector<uint8_t> Rbsp(const std::vector<uint8_t> &unit)
{
    std::vector<uint8_t> out;
    int zeros = 0;
    for (size_t i = 1; i < unit.size(); ++i) {
        if (zeros >= 2 && unit[i] == 3) {
            zeros = 0;
            continue;
        }
        zeros = unit[i] == 0 ? zeros + 1 : 0;
        out.push_back(unit[i]);
    }
    return out;
}

long long BitsBeforeStopBit(const std::vector<uint8_t> &rbsp)
{
    for (size_t i = rbsp.size(); i-- > 0;)
        if (rbsp[i] != 0)
            for (int b = 0; b < 8; ++b)
                if (rbsp[i] >> b & 1)
                    return static_cast<long long>(i) * 8 + (7 - b);
    return -1;
}

long long PictureBitsOf(const std::vector<uint8_t> &stream)
{
    long long bytes = static_cast<long long>(stream.size());
    for (const AnnexBUnit &u : SplitAnnexB(stream))
        if (u.type == 7 || u.type == 8)
            bytes -= static_cast<long long>(u.end - u.begin);
    return 8 * bytes;
}

std::vector<uint8_t> CodedSourcePictures(const std::vector<uint8_t> &sequence, int w, int h,
                                         const std::vector<h264enc::H264FrameReport> &frames)
{
    std::vector<int> order;
    for (const h264enc::H264FrameReport &f : frames)
        order.push_back(f.source_frame);
    std::sort(order.begin(), order.end());
    const size_t bytes = static_cast<size_t>(w) * h * 3 / 2;
    std::vector<uint8_t> out;
    for (int n : order) {
        const size_t at = static_cast<size_t>(n) * bytes;
        if (n < 0 || at + bytes > sequence.size())
            break;
        out.insert(out.end(), sequence.begin() + static_cast<long>(at),
                   sequence.begin() + static_cast<long>(at + bytes));
    }
    return out;
}

std::vector<std::array<double, 3>> FfmpegPsnr(const std::string &reference, const std::string &test, int w,
                                              int h, const std::string &statsFile)
{
    const std::string raw = zn::Format(" -f rawvideo -pix_fmt yuv420p -s %dx%d -i ", w, h);
    const std::string cmd = "ffmpeg -v error -y" + raw + zntest::ShellQuote(test) + raw +
                            zntest::ShellQuote(reference) +
                            " -lavfi psnr=stats_file=" + zntest::ShellQuote(statsFile) + " -f null - 2>&1";
    std::vector<std::array<double, 3>> out;
    if (zntest::Run(cmd) != 0)
        return out;
    const auto bytes = zntest::ReadFileBytes(statsFile);
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    const std::regex re("n:(\\d+) .*psnr_y:([0-9.inf]+) psnr_u:([0-9.inf]+) psnr_v:([0-9.inf]+)");
    auto value = [](const std::string &t) {
        return t == "inf" ? std::numeric_limits<double>::infinity() : std::stod(t);
    };
    for (std::string line; std::getline(in, line);) {
        std::smatch m;
        if (std::regex_search(line, m, re))
            out.push_back({value(m[2]), value(m[3]), value(m[4])});
    }
    return out;
}

namespace {
uint32_t Le32(const std::vector<uint8_t> &b, size_t at)
{
    return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 |
           static_cast<uint32_t>(b[at + 2]) << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
} // namespace

bool ReadRtpFile(const std::vector<uint8_t> &file, std::vector<RtpPacket> *packets)
{
    size_t at = 0;
    while (at < file.size()) {
        if (at + 8 > file.size())
            return false;
        const uint32_t length = Le32(file, at);
        RtpPacket p;
        p.time = Le32(file, at + 4);
        at += 8;
        if (length < 12 || length > file.size() - at)
            return false;
        const uint8_t b0 = file[at], b1 = file[at + 1];
        p.version = b0 & 3;
        p.padding = b0 >> 2 & 1;
        p.extension = b0 >> 3 & 1;
        p.cc = b0 >> 4;
        p.marker = b1 & 1;
        p.payload_type = b1 >> 1;
        p.seq = static_cast<unsigned>(file[at + 2]) | static_cast<unsigned>(file[at + 3]) << 8;
        p.timestamp = Le32(file, at + 4);
        p.ssrc = Le32(file, at + 8);
        p.nal.assign(file.begin() + static_cast<long>(at + 12),
                     file.begin() + static_cast<long>(at + length));
        packets->push_back(std::move(p));
        at += length;
    }
    return true;
}

} // namespace rtcheck
