// The entry of an encoding run and the way its reports leave it. The encoder dialog writes the settings
// file and calls H264Encoder; while the run codes, every picture and, at the end, the statistics and
// the mode and bit usage tables go to a host (the dialog, or a test). The engine formats no dialog text
// of its own except the mode and bit usage tables, which it hands over ready to append.
#pragma once

#include <string>

namespace h264enc {

// One coded picture, in coding order.
struct H264FrameReport
{
    int source_frame = 0;     // source frame number, 0 first (the dialog shows it plus 1)
    std::string type_letters; // "I", "P", "B" or "BS"
    int bits = 0;             // bits of the picture's NAL units
    int qp = 0;
    float snr_y = 0, snr_u = 0, snr_v = 0; // dB
    int milliseconds = 0;                  // coding time of the picture
    int intra_mbs = -1;                    // intra macroblocks of a P picture; -1 for the others
    int reference_counter = -1; // frame counter the frame is kept under as a reference; -1: not kept
};

// The run's statistics, once at its end (not sent for runs with stored B pictures).
struct H264RunStatistics
{
    double seconds = 0;        // total coding time
    std::string sequence_type; // "IBPBP (QP: I 28, P 28, B 30)" and the like
    float snr_ya = 0, snr_ua = 0, snr_va = 0;
    int zero = 0; // always 0
    int total_bits = 0;
    int bits_first_picture = 0;
    int bits_p = 0;
    int bits_b = -1; // -1 when no B picture was coded
    float picture_rate = 0;
    float kbit_per_second = 0;
};

// Receives the reports of a run. Called on the run's thread, between pictures; the calls may repaint
// but must not start another run.
class H264EncoderHost
{
public:
    virtual ~H264EncoderHost() = default;
    // A picture was coded: its block of the result text; the document shows source frame
    // source_frame + 1 (counted from 1).
    virtual void h264enc_show_frame(const H264FrameReport &report) = 0;
    // The end-of-run statistics block.
    virtual void h264enc_show_statistics(const H264RunStatistics &statistics) = 0;
    // Text to append to the result as it is (the mode and bit usage tables, "\r\n" line ends).
    virtual void h264enc_append_text(const std::string &text) = 0;
};

// One whole encoding run with the settings file at h264_settings_path. Reports go to cur_h264enc_dlg,
// the dialog whose Apply started the run or a test's host (none: the run reports nothing). Returns at
// the end of the sequence or when the user stops it (the stream is then closed and the leaky-bucket
// file and the report are written). Every other end is a run error (zn::RunAborted; H264FatalError
// carries the engine's exit code), its message shown already.
void H264Encoder(const std::string &h264_settings_path, H264EncoderHost *cur_h264enc_dlg);

} // namespace h264enc
