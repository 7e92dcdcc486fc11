// Frame sources of the encoder.
#include "mpeg/mpgenc/mpgenc_source.h"

#include <algorithm>
#include <cstring>

YuvFileSource::YuvFileSource(const std::string &path) : m_path(path)
{
    m_ok = m_reader.ReadHeader(path) == 0 && m_reader.AllocateYuvFrame();
}

bool YuvFileSource::Read(int n, uint8_t *planes[3])
{
    return m_reader.ReadYUV(m_path, n, planes) == 0;
}

bool MemoryFrameSource::Read(int n, uint8_t *planes[3])
{
    n = std::clamp(n, 1, Frames());
    const std::vector<uint8_t> &f = m_frames[static_cast<size_t>(n - 1)];
    const size_t y = static_cast<size_t>(m_width) * m_height;
    if (f.size() < y + y / 2)
        return false;
    std::memcpy(planes[0], f.data(), y);
    std::memcpy(planes[1], f.data() + y, y / 4);
    std::memcpy(planes[2], f.data() + y + y / 4, y / 4);
    return true;
}
