// Test helpers of the MPEG encoder: 4:2:0 pans made by ffmpeg from a photograph, an encoding run
// that keeps the reconstructed frames in display order, and ffmpeg's decode of a stream.
#pragma once

#include "mpeg/mpgenc/mpgenc.h"
#include "platform/messages.h"

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace zntest {

using Frame420 = std::vector<uint8_t>; // Y, then Cb, then Cr

// A window of width x height moving by (dx, dy) per frame across a tinted photograph shown at twice its
// size, starting at (x0, y0) of the enlarged picture.
std::vector<Frame420> MakeColourPan(const std::string &dir, int width, int height, int frames, int dx, int dy,
                                    const std::string &photo = "camera", const std::string &extraFilter = "",
                                    int x0 = 40, int y0 = 40);

struct EncodeResult
{
    std::vector<Frame420> recon; // display order, one per frame number
    std::vector<MpegPictureReport> reports;
    std::vector<std::string> messages;
    bool ok = false;
};

// Encodes frames into path with the given parameters (the output path is set here).
EncodeResult EncodeFrames(MpegEncoderParams params, int width, int height,
                          const std::vector<Frame420> &frames, const std::string &path, int progressive = 1,
                          std::initializer_list<zn::MsgAnswer> answers = {});

// ffmpeg's decode as 4:2:0 frames; empty when ffmpeg failed.
std::vector<Frame420> FfmpegDecode(const std::string &path, int width, int height);
// ffmpeg's error report of a stream with every error check on, the strict bitstream check included, its
// reports held against the stream's layout (mpeg/support/strict_check.h); "" when clean.
std::string FfmpegErrors(const std::string &path);
// PSNR of the first n bytes of two frames (n = luma size for luma PSNR); 99 when identical.
double Psnr(const Frame420 &a, const Frame420 &b, size_t n);

} // namespace zntest
