// Test sequences with known motion: a window moving across a photograph (ffmpeg crops it frame by
// frame), stored as a raw luminance file with its header, and small BMP series for the .seq
// documents. Planes are row-major bytes, row 0 at the top.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zntest {

struct Pan
{
    int width = 176;
    int height = 144;
    int frames = 3;
    int x0 = 160; // top-left corner of the window in the photograph at frame 1
    int y0 = 160;
    int dx = 0; // the window moves by (dx, dy) per frame, so the content moves by (-dx, -dy)
    int dy = 0;
    std::string filter; // an ffmpeg filter applied to the photograph before cropping ("gblur=sigma=2")
};

// Writes <dir>/<name>.y and <dir>/<name>.hdr (Y-only, progressive) from a photograph (PNG) by
// ffmpeg; returns the .y path, or "" when ffmpeg failed.
std::string MakePanSequence(const std::string &dir, const std::string &name, const std::string &photo,
                            const Pan &pan);
// The frames of a raw luminance file of width x height pictures.
std::vector<std::vector<uint8_t>> ReadLumaFrames(const std::string &path, int width, int height);
// Writes a .hdr header beside a sequence file.
bool WriteYuvHeader(const std::string &hdrPath, int rows, int cols, int chromaFormat, int frames);
// A .seq series: <dir>/<name>.seq is frame 1, <dir>/<name>/<name>2.bmp ... frame n. Each frame is a
// grey picture, frame k filled by level(k, x, y). Returns the .seq path.
std::string MakeSeqSeries(const std::string &dir, const std::string &name, int width, int height, int frames,
                          int (*level)(int k, int x, int y));

} // namespace zntest
