// ffmpeg's strict bitstream check, its reports held against the packets its parser makes.
#include "mpeg/support/strict_check.h"

#include "support/test_support.h"

#include <regex>
#include <sstream>

namespace zntest {

namespace {

constexpr size_t kNone = static_cast<size_t>(-1);

// The offset of the next start code prefix 00 00 01 at or after `from`, or the stream's size.
size_t NextStartCode(const std::vector<uint8_t> &s, size_t from)
{
    for (size_t i = from; i + 3 < s.size(); ++i)
        if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1)
            return i;
    return s.size();
}

bool IsSlice(uint8_t code)
{
    return code >= 0x01 && code <= 0xAF;
}

} // namespace

std::vector<size_t> PacketBytesLeftAfterPictures(const std::vector<uint8_t> &s)
{
    struct Picture
    {
        size_t end = kNone; // where its last slice ends
        size_t frame = 0;   // the frame (packet) it belongs to
    };
    std::vector<Picture> pictures;
    std::vector<size_t> frameStarts; // where each frame's packet starts
    size_t headers = kNone;          // a sequence or GOP header waiting for its frame
    bool secondFieldDue = false, inPicture = false, sliceSeen = false;
    for (size_t i = NextStartCode(s, 0); i < s.size(); i = NextStartCode(s, i + 4)) {
        const uint8_t code = s[i + 3];
        if (inPicture && sliceSeen && !IsSlice(code)) {
            pictures.back().end = i;
            inPicture = false;
        }
        sliceSeen |= inPicture && IsSlice(code);
        if ((code == 0xB3 || code == 0xB8) && headers == kNone)
            headers = i;
        if (code != 0x00)
            continue;
        // A picture: its structure from the picture coding extension that follows (MPEG-2), else a
        // frame. A field picture after a first field is the second field of the same frame.
        int structure = 3;
        const size_t ext = NextStartCode(s, i + 4);
        if (ext + 6 < s.size() && s[ext + 3] == 0xB5 && (s[ext + 4] >> 4) == 8)
            structure = s[ext + 6] & 3;
        const bool second = structure != 3 && secondFieldDue;
        secondFieldDue = structure != 3 && !second;
        if (!second)
            frameStarts.push_back(headers != kNone ? headers : i);
        headers = kNone;
        pictures.push_back({kNone, frameStarts.size() - 1});
        inPicture = true;
        sliceSeen = false;
    }
    if (inPicture)
        pictures.back().end = s.size();
    std::vector<size_t> left;
    for (const Picture &p : pictures) {
        const size_t packetEnd = p.frame + 1 < frameStarts.size() ? frameStarts[p.frame + 1] : s.size();
        left.push_back(packetEnd > p.end ? packetEnd - p.end : 0);
    }
    return left;
}

StrictReport FfmpegStrictReport(const std::string &path)
{
    std::string out;
    // "repeat": every report on a line of its own, none folded into "Last message repeated".
    Run("ffmpeg -v repeat+error -threads 1 -ec 0 -err_detect +bitstream -i " + ShellQuote(path) +
            " -f null - 2>&1",
        &out);
    StrictReport r;
    static const std::regex mismatch("end mismatch left=(-?[0-9]+) ([0-9A-Fa-f]+) at ");
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        std::smatch m;
        if (std::regex_search(line, m, mismatch)) {
            r.left.push_back(std::stol(m[1]));
            r.nonZeroLeft |= std::stoul(m[2], nullptr, 16) != 0;
        } else if (!line.empty()) {
            r.other += line + "\n";
        }
    }
    return r;
}

std::string FfmpegStrictCheck(const std::string &path)
{
    const StrictReport r = FfmpegStrictReport(path);
    std::string faults = r.other;
    if (r.nonZeroLeft)
        faults += "a slice leaves bits that are not zero stuffing before a start code\n";
    std::vector<size_t> expected;
    for (size_t bytes : PacketBytesLeftAfterPictures(ReadFileBytes(path)))
        if (bytes)
            expected.push_back(bytes);
    if (expected.size() != r.left.size()) {
        faults += "ffmpeg reports " + std::to_string(r.left.size()) +
                  " pictures with bits left, the layout " + std::to_string(expected.size()) + "\n";
        return faults;
    }
    for (size_t k = 0; k < expected.size(); ++k) {
        const long low = static_cast<long>(8 * expected[k]);
        if (r.left[k] < low || r.left[k] > low + 7)
            faults += "report " + std::to_string(k) + ": " + std::to_string(r.left[k]) +
                      " bits left where the packet holds " + std::to_string(low) + " bits after the slice\n";
    }
    return faults;
}

} // namespace zntest
