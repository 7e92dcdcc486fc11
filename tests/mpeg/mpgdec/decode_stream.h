// Test-side owner of the decoder: runs a whole stream through the calling order every owner
// follows and keeps each output frame, cropped to the picture size.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zntest {

struct DecodedFrame
{
    std::string type; // "I", "P", "B", "I (last)", "P (last)"
    int number = 0;
    std::vector<uint8_t> y, cb, cr; // cropped to the picture (chroma at its own subsampling)
};

struct DecodedStream
{
    bool opened = false; // a picture header was found
    int width = 0, height = 0, chromaFormat = 1;
    int mpeg2 = 0;
    std::vector<DecodedFrame> frames;
    std::string error; // set when the run ended with an error
};

struct DecodeOptions
{
    int outputMode = 0;
    bool skipB = false;
    bool overlay = false;
    bool keepPixels = true;
    bool plainKernels = false; // the plain forms of the pixel and block-reading kernels
};

// Decodes a file, or bytes in memory (system stream when bytes 2-3 are 01 BA).
DecodedStream DecodeMpegFile(const std::string &path, const DecodeOptions &options = {});
DecodedStream DecodeMpegBytes(const std::vector<uint8_t> &bytes, const DecodeOptions &options = {});

// ffmpeg's decode of the file as raw planes (pix_fmt yuv420p, yuv422p or yuv444p), one frame each.
std::vector<std::vector<uint8_t>> FfmpegFrames(const std::string &path, const std::string &pixFmt, int width,
                                               int height);
// ffprobe's picture types in display order ("I", "P", "B").
std::vector<std::string> FfprobeTypes(const std::string &path);

double LumaPsnr(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b, size_t count);
int MaxAbsDiff(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b, size_t count);

} // namespace zntest
