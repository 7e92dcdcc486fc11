// What the round-trip tests check on every encoding run besides the decoder's output: the stream's
// units with their byte ranges, the bits a run must report for them, ffmpeg's PSNR of the
// reconstruction against the source pictures it was coded from, and the RTP packet file read back.
#pragma once

#include "h264enc/encoder_run_api.h"

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace rtcheck {

// One NAL unit of an Annex B stream: its bytes from the first zero of its start code (`begin`) through
// the header byte (`header`) to its end, and the header fields.
struct AnnexBUnit
{
    size_t begin = 0, header = 0, end = 0;
    int type = 0, ref_idc = 0;
    std::vector<uint8_t> Unit(const std::vector<uint8_t> &stream) const; // header byte to end
};
std::vector<AnnexBUnit> SplitAnnexB(const std::vector<uint8_t> &stream);

// A unit's payload with its emulation prevention bytes removed (header byte excluded).
std::vector<uint8_t> Rbsp(const std::vector<uint8_t> &unit);
// Bits of an RBSP before its stop bit: what the syntax elements of the unit occupy. -1 without a stop bit.
long long BitsBeforeStopBit(const std::vector<uint8_t> &rbsp);

// Bits of the stream that the pictures account for: all of it but the parameter set units (7 and 8)
// with their start codes.
long long PictureBitsOf(const std::vector<uint8_t> &stream);

// The source pictures the run coded, in display order (ascending source frame), cut from a raw 4:2:0
// sequence of w x h pictures.
std::vector<uint8_t> CodedSourcePictures(const std::vector<uint8_t> &sequence, int w, int h,
                                         const std::vector<h264enc::H264FrameReport> &frames);

// ffmpeg's per-picture PSNR (Y, U, V) of `test` against `reference`, both raw 4:2:0 w x h; infinity
// for an error-free plane. Empty when ffmpeg fails.
std::vector<std::array<double, 3>> FfmpegPsnr(const std::string &reference, const std::string &test, int w,
                                              int h, const std::string &statsFile);

// One packet of the program's RTP file.
struct RtpPacket
{
    uint32_t time = 0;
    int version = 0, padding = 0, extension = 0, cc = 0, marker = 0, payload_type = 0;
    unsigned seq = 0;
    uint32_t timestamp = 0, ssrc = 0;
    std::vector<uint8_t> nal; // header byte and payload
};
// Reads the file's records; false on a record that runs past the end of the file.
bool ReadRtpFile(const std::vector<uint8_t> &file, std::vector<RtpPacket> *packets);

} // namespace rtcheck
