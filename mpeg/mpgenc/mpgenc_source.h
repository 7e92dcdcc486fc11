// Frame sources for the encoder: the document's raw YUV sequence, or frames held in memory.
#pragma once

#include "mpeg/mpgenc/mpgenc.h"

#include "image/yuv_frame.h"

#include <string>
#include <vector>

class YuvFileSource : public MpegFrameSource
{
public:
    // Reads the sequence header; Ok() is false after a message.
    explicit YuvFileSource(const std::string &path);
    bool Ok() const { return m_ok; }
    int Width() const override { return m_reader.Width16(); }
    int Height() const override { return m_reader.Height16(); }
    int Frames() const override { return m_reader.Frames(); }
    int Progressive() const override { return m_reader.Progressive(); }
    bool Read(int n, uint8_t *planes[3]) override;

private:
    std::string m_path;
    CYuvFrame m_reader;
    bool m_ok = false;
};

// Frames in memory, 4:2:0, each Y plane followed by Cb and Cr (tests and benchmarks).
class MemoryFrameSource : public MpegFrameSource
{
public:
    MemoryFrameSource(int width, int height, std::vector<std::vector<uint8_t>> frames, int progressive = 1)
        : m_width(width), m_height(height), m_progressive(progressive), m_frames(std::move(frames))
    {}
    int Width() const override { return m_width; }
    int Height() const override { return m_height; }
    int Frames() const override { return static_cast<int>(m_frames.size()); }
    int Progressive() const override { return m_progressive; }
    bool Read(int n, uint8_t *planes[3]) override;

private:
    int m_width, m_height, m_progressive;
    std::vector<std::vector<uint8_t>> m_frames;
};
