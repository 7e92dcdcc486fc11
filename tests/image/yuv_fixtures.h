// Small raw-sequence fixtures for the YUV reader and writer tests: header text and frames built from a
// sample pattern, in every chroma layout the reader knows.
#pragma once

#include "image/yuv_frame.h"

#include <fstream>
#include <string>
#include <vector>

namespace yuvtest {

inline void WriteText(const std::string &path, const std::string &text)
{
    std::ofstream(path, std::ios::binary) << text;
}

// A header as the documented format has it: comment lines, then one value per line.
inline std::string HeaderText(int rows, int cols, int progressive, int format, int frames, int extra = -1)
{
    std::string s = "/* test sequence\n/*\n";
    for (int v : {rows, cols, progressive, format, frames})
        s += std::to_string(v) + "\n";
    if (extra >= 0)
        s += std::to_string(extra) + "\n";
    return s;
}

// Sample of plane p (0 Y, 1 U, 2 V) at row r, col c of frame f: varied in every direction and
// different for each frame and plane, so a wrong offset or stride shows.
inline uint8_t Sample(int f, int p, int r, int c)
{
    return static_cast<uint8_t>((r * 7 + c * 13 + f * 29 + p * 71 + ((r * c) >> 3)) & 255);
}

// One stored frame in the given layout; chroma planes are sampled at chroma coordinates.
inline std::vector<uint8_t> FrameBytes(int f, int rows, int cols, int format)
{
    std::vector<uint8_t> out;
    auto plane = [&](int p, int pr, int pc) {
        for (int r = 0; r < pr; ++r)
            for (int c = 0; c < pc; ++c)
                out.push_back(Sample(f, p, r, c));
    };
    switch (format) {
    case YUV_CHROMA_Y_ONLY:
        plane(0, rows, cols);
        break;
    case YUV_CHROMA_422:
        plane(0, rows, cols), plane(1, rows, cols / 2), plane(2, rows, cols / 2);
        break;
    case YUV_CHROMA_420:
        plane(0, rows, cols), plane(1, rows / 2, cols / 2), plane(2, rows / 2, cols / 2);
        break;
    case YUV_CHROMA_UYVY:
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < cols; c += 2) {
                out.push_back(Sample(f, 1, r, c / 2));
                out.push_back(Sample(f, 0, r, c));
                out.push_back(Sample(f, 2, r, c / 2));
                out.push_back(Sample(f, 0, r, c + 1));
            }
        break;
    }
    return out;
}

// Writes a sequence of `frames` frames (each followed by `extra` bytes of 0xEE) and its header.
inline void WriteSequence(const std::string &seqPath, const std::string &hdrPath, int rows, int cols,
                          int progressive, int format, int frames, int extra = 0)
{
    std::vector<uint8_t> all;
    for (int f = 0; f < frames; ++f) {
        std::vector<uint8_t> fr = FrameBytes(f, rows, cols, format);
        all.insert(all.end(), fr.begin(), fr.end());
        all.insert(all.end(), extra, 0xEE);
    }
    std::ofstream(seqPath, std::ios::binary).write(reinterpret_cast<const char *>(all.data()), all.size());
    WriteText(hdrPath, HeaderText(rows, cols, progressive, format, frames, extra));
}

// The vertical 2:1 chroma filters, evaluated tap by tap from their definition: x is one column of
// h samples; returns the h / 2 filtered samples, clipped to 0..255 unless clip is false.
inline std::vector<int> DecimateColumn(const std::vector<int> &x, bool progressive, bool clip = true)
{
    const int h = static_cast<int>(x.size());
    auto at = [&](int k, int lo, int hi) { return x[k < lo ? lo : (k > hi ? hi : k)]; };
    auto finish = [clip](long sum) {
        long v = (sum + 256) >> 9;
        return static_cast<int>(!clip ? v : v < 0 ? 0 : (v > 255 ? 255 : v));
    };
    std::vector<int> out(h / 2);
    if (progressive) {
        // Taps for rows i-5 .. i+6 around the output row's pair i, i+1.
        const int taps[12] = {5, 11, -21, -37, 70, 228, 228, 70, -37, -21, 11, 5};
        for (int j = 0; j < h / 2; ++j) {
            long sum = 0;
            for (int t = 0; t < 12; ++t)
                sum += taps[t] * at(2 * j - 5 + t, 0, h - 1);
            out[j] = finish(sum);
        }
    } else {
        // Each field alone: top-field taps on rows i-10, i-8 .. i+12; bottom-field on i-9 .. i+13.
        const int top[12] = {8, 5, -30, -18, 113, 242, 192, 35, -38, -10, 11, 2};
        const int bottom[12] = {2, 11, -10, -38, 35, 192, 242, 113, -18, -30, 5, 8};
        for (int i = 0; i < h; i += 4) {
            long st = 0, sb = 0;
            for (int t = 0; t < 12; ++t) {
                st += top[t] * at(i - 10 + 2 * t, 0, h - 2);
                sb += bottom[t] * at(i - 9 + 2 * t, 1, h - 1);
            }
            out[i / 2] = finish(st);
            out[i / 2 + 1] = finish(sb);
        }
    }
    return out;
}

// Applies DecimateColumn to every column of a plane of w columns and h rows.
inline std::vector<uint8_t> DecimatePlane(const std::vector<uint8_t> &in, int w, int h, bool progressive)
{
    std::vector<uint8_t> out(static_cast<size_t>(w) * (h / 2));
    for (int c = 0; c < w; ++c) {
        std::vector<int> col(h);
        for (int r = 0; r < h; ++r)
            col[r] = in[r * w + c];
        std::vector<int> res = DecimateColumn(col, progressive);
        for (int r = 0; r < h / 2; ++r)
            out[r * w + c] = static_cast<uint8_t>(res[r]);
    }
    return out;
}

} // namespace yuvtest
