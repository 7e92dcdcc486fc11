// Annex B output: every NAL unit behind a start code (00 00 01, with a leading zero byte for units
// whose start code is long), written to the stream file as it is made; and the stream start and end of
// a run, which open the writer chosen by OutFileMode and send the two parameter sets first.
#pragma once

#include "h264dec/h264_shared.h"
#include "h264enc/rtp_out.h"
#include "platform/file.h"

#include <string>

namespace h264enc {

struct EncoderRun;

class AnnexBOutput
{
public:
    // Failure ends the run ("Fatal: cannot open bitstream file '%s', exit (-1)", code -1).
    void open(const std::string &path);
    // Writes one unit, header byte built from its fields; returns 8 x len + 24, plus 8 for the zero byte
    // of a start code longer than 3.
    int write_annexb_unit(NALU &nalu);
    void close();
    bool IsOpen() const { return static_cast<bool>(m_file); }

private:
    zn::FilePtr m_file;
};

// The writer chosen for a run.
struct StreamOutput
{
    int mode = 0; // OutFileMode: 0 Annex B, 1 RTP
    AnnexBOutput annexb;
    RtpOutput rtp;
    RtpCounters *rtp_counters = &ProcessRtpCounters();
    int WriteNalu(NALU &nalu);
};

// Opens OutputFile with the writer of OutFileMode and writes the SPS and PPS units (their bits are in
// none of the run's totals). Returns 0.
int h264enc_start_stream(EncoderRun &run);
void h264enc_end_stream(EncoderRun &run);

} // namespace h264enc
