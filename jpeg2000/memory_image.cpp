// Memory images as row reader and writer.
#include "jpeg2000/memory_image.h"

#include "jpeg2000/local_services.h"

#include <algorithm>

namespace zn::j2k {

void memory_image_reader::get_line(int c, int32_t *line, int width)
{
    if (c < 0 || c >= m_image.components() || width != m_image.widths[size_t(c)] ||
        m_next[size_t(c)] >= m_image.heights[size_t(c)])
        local_error("The image reader was asked for a row that component %d does not have!", c);
    const int32_t *row = m_image.planes[size_t(c)].data() + size_t(m_next[size_t(c)]++) * size_t(width);
    std::copy(row, row + width, line);
}

memory_image_writer::memory_image_writer(int precision, const std::vector<int32_t> &heights,
                                         const std::vector<int32_t> &widths)
    : m_next(heights.size(), 0)
{
    m_image.precision = precision;
    for (size_t c = 0; c < heights.size(); ++c)
        m_image.add_component(heights[c], widths[c]);
}

void memory_image_writer::put_line(int c, const int32_t *line, int width)
{
    if (c < 0 || c >= m_image.components() || width != m_image.widths[size_t(c)] ||
        m_next[size_t(c)] >= m_image.heights[size_t(c)])
        local_error("The image writer was given a row that component %d does not have!", c);
    const int32_t top = (int32_t(1) << std::min(m_image.precision, 30)) - 1;
    int32_t *row = m_image.planes[size_t(c)].data() + size_t(m_next[size_t(c)]++) * size_t(width);
    for (int i = 0; i < width; ++i)
        row[i] = std::clamp(line[i], 0, top);
}

} // namespace zn::j2k
