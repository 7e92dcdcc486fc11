// Images in memory as the codec's row reader and writer: tests, benchmarks and fuzzers run the
// whole codec on them without a document. Components may differ in size.
#pragma once

#include "jpeg2000/invocation.h"

#include <cstdint>
#include <vector>

namespace zn::j2k {

struct memory_image
{
    int precision = 8; // bits per sample, unsigned
    std::vector<int32_t> heights, widths;
    std::vector<std::vector<int32_t>> planes; // row-major, one per component

    int components() const { return static_cast<int>(planes.size()); }
    void add_component(int height, int width)
    {
        heights.push_back(height);
        widths.push_back(width);
        planes.emplace_back(size_t(height) * size_t(width), 0);
    }
};

// Hands out each component's rows from the top; reading past the last row ends the run.
class memory_image_reader : public image_line_reader
{
public:
    explicit memory_image_reader(const memory_image &image) : m_image(image), m_next(image.planes.size(), 0)
    {}
    void get_line(int component, int32_t *line, int width) override;

private:
    const memory_image &m_image;
    std::vector<int32_t> m_next;
};

// Collects each component's rows, clamped to the precision's range.
class memory_image_writer : public image_line_writer
{
public:
    memory_image_writer(int precision, const std::vector<int32_t> &heights,
                        const std::vector<int32_t> &widths);
    void put_line(int component, const int32_t *line, int width) override;
    memory_image &image() { return m_image; }

private:
    memory_image m_image;
    std::vector<int32_t> m_next;
};

} // namespace zn::j2k
