// RTP packet files, this program's layout: per packet a little-endian length, a time field of -1 and
// the packet, whose 12-byte header has its bit fields from the low end and its sequence number,
// timestamp and source identifier little-endian (not the network order of the RTP standard).
#pragma once

#include "h264dec/h264_shared.h"
#include "platform/file.h"

#include <cstdint>
#include <string>
#include <vector>

namespace h264enc {

// The packet counters. They belong to the process, not to a run: the sequence number starts at 0 when
// the program starts and the timestamp follows the temporal references across runs.
struct RtpCounters
{
    unsigned seq = 0;
    uint32_t timestamp = 0;
    int last_tr = -1;
};
RtpCounters &ProcessRtpCounters();

// Advances the timestamp by 1000 per step of temporal reference; a step back of more than 10 is a wrap
// of the 8-bit reference (256 added).
void advance_rtp_timestamp(RtpCounters &c, int tr);

// The file record of one unit as a packet: length, time field, 12-byte header, header byte and payload.
// Stores the header byte into buf[0] and advances the sequence number.
std::vector<uint8_t> ComposeRtpRecord(NALU &nalu, RtpCounters &c);

class RtpOutput
{
public:
    // Opens the file "wb"; failure ends the run ("Fatal: cannot open bitstream file '%s', exit (-1)").
    void create_rtp_output(const std::string &path);
    // Writes one unit as one packet and returns len x 8.
    int RTPWriteNALU(NALU &nalu, RtpCounters &c);
    void close_rtp_output();
    bool IsOpen() const { return static_cast<bool>(m_file); }

private:
    zn::FilePtr m_file;
};

} // namespace h264enc
