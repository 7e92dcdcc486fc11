// Whole encoding runs for the tests: raw 4:2:0 sequences (ffmpeg pans over a photograph, or a
// synthetic pan when no tool is needed), settings files from the dialog's values plus extra lines, a
// host that records the reports, and the decoder as the oracle that turns a stream back into YUV.
#pragma once

#include "h264enc/encoder_run_api.h"
#include "h264enc/settings_file.h"
#include "platform/messages.h"

#include <cstdint>
#include <string>
#include <vector>

namespace enctest {

// A pan over the photograph at `photo`: frame k shows the window at (x0 + k * dx, y0 + k * dy) of the
// photograph scaled by `zoom` (so dx = 3 with zoom 2 moves 1.5 samples per frame), w x h, 4:2:0.
// Empty on success, else ffmpeg's complaint.
// `after` is a further ffmpeg filter applied to the pan (e.g. a brightness ramp), none when empty.
std::string MakePan(const std::string &photo, const std::string &out, int w, int h, int frames, int dx,
                    int dy, int zoom = 1, const std::string &after = "");
// A synthetic textured pan without tools: smooth gradients, edges and noise moving (dx, dy) samples a frame.
std::vector<uint8_t> SyntheticPan(int w, int h, int frames, int dx, int dy, unsigned seed = 1);

// Settings for a run on `input` (w x h, frames) into `output`, with ReconFile `recon`; extra lines
// ("Key = value") follow the dialog's 73 and override them.
std::string WriteSettings(const std::string &dir, const h264enc::SettingsDialogValues &v,
                          const std::vector<std::string> &extra);
h264enc::SettingsDialogValues DialogValues(const std::string &input, int w, int h, int frames,
                                           const std::string &output);

struct RecordingHost : h264enc::H264EncoderHost
{
    std::vector<h264enc::H264FrameReport> frames;
    std::vector<h264enc::H264RunStatistics> statistics;
    std::string appended;
    void h264enc_show_frame(const h264enc::H264FrameReport &r) override { frames.push_back(r); }
    void h264enc_show_statistics(const h264enc::H264RunStatistics &s) override { statistics.push_back(s); }
    void h264enc_append_text(const std::string &t) override { appended += t; }
};

struct EncodeResult
{
    bool ok = false;
    std::string message; // the run error's text
    std::vector<zn::MessageRequest> messages;
    RecordingHost host;
};
// Runs the encoder on a settings file; message boxes are recorded and answered from `answers`.
EncodeResult Encode(const std::string &settings, std::initializer_list<zn::MsgAnswer> answers = {});

struct DecodeResult
{
    bool ok = false;
    std::string message;
    std::vector<uint8_t> yuv; // pictures in output order, Y then U then V each
    int pictures = 0;
};
// Decodes a .264 file with the decoder.
DecodeResult DecodeH264(const std::string &stream);

// One NAL unit of an Annex B stream as a test sees it: the header fields and, for slices (types 1 and
// 5, and partition A, type 2), the first two fields of the slice header.
struct NalUnitSeen
{
    int type = 0, ref_idc = 0;
    int first_mb = -1, slice_type = -1;
};
// The NAL units of an Annex B stream in order.
std::vector<NalUnitSeen> ScanNalUnits(const std::vector<uint8_t> &stream);

// Bytes of the stream's parameter-set NAL units (types 7 and 8), start codes included: a run's
// reported total bits leave them out.
long long ParameterSetBytes(const std::vector<uint8_t> &stream);

// Index of the first differing byte, or -1.
long long FirstDifference(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b);

} // namespace enctest
