// ffmpeg's strict bitstream check (-err_detect +bitstream) of an MPEG-1/2 video stream, with each of
// its reports held against the stream's own layout.
//
// After the last macroblock of a picture ffmpeg reports the bits left in the packet it is reading
// ("end mismatch left=N"). Its parser makes one packet per frame: the two field pictures of a frame
// share one packet, and the sequence end code travels in the last packet. So a sound stream is still
// reported after each first field (left: the bits of the second field) and after its last picture
// (left: the 32 bits of the end code), each plus the 0 to 7 zero bits that align the slice's end.
// Every other report, and any report whose count differs from these, is a fault of the stream.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zntest {

// Where ffmpeg's packets leave bits after a picture: for each picture in stream order, the bytes from
// the end of its last slice to the end of its frame's packet (0 for a frame picture followed by the
// next frame, or for a second field followed by the next frame).
std::vector<size_t> PacketBytesLeftAfterPictures(const std::vector<uint8_t> &stream);

struct StrictReport
{
    std::vector<long> left;   // the bits left of each "end mismatch", in decoding order
    std::string other;        // every other line of the report
    bool nonZeroLeft = false; // a report whose left bits do not start with zeros
};

// One run of ffmpeg's strict check (one thread, no concealment), taken apart.
StrictReport FfmpegStrictReport(const std::string &path);

// "" when every report of ffmpeg's strict check is accounted for by the layout above; otherwise what
// is not, line by line.
std::string FfmpegStrictCheck(const std::string &path);

} // namespace zntest
