// Horizontal stages: each analysis row is split into its low-pass and high-pass halves and pushed to
// the two children; each synthesis row is merged from one row pulled from each child. A row is
// transformed completely when it comes, so a horizontal stage holds one row per band.
#include "jpeg2000/local_services.h"
#include "jpeg2000/wavelet_stages.h"

#include <algorithm>

namespace zn::j2k {

namespace {

// What both directions of both implementations share: the row geometry and the band rows.
class horizontal_stage : public transform_stage
{
public:
    horizontal_stage(bool float_path, int component, int level)
        : transform_stage(INFO__HORIZONTAL, float_path, component, level, -1)
    {}
    void initialize(const component_transform_setup &setup, const region_rect &region,
                    const stage_frames &frames) override
    {
        transform_stage::initialize(setup, region, frames);
        m_dir = direction_of(setup, level, false);
        m_frames.frames = m_dir.frames;
        m_frames.size = frames.width;
        m_frames.anchor = frames.anchor_col;
        m_frames.sso_extension = m_dir.sso_extension;
        m_low_count = parity_count(region.first_col, region.cols, 0);
        m_high_count = region.cols - m_low_count;
        const size_t room = size_t(std::max(region.cols, 1));
        m_float[0].resize(room);
        m_float[1].resize(room);
        m_float[2].resize(room);
        if (!float_flag) {
            m_int[0].resize(room);
            m_int[1].resize(room);
        }
        m_fast_float = m_fast_int = false;
        if (!m_dir.conv && region.rows > 0) {
            if (float_flag)
                m_fast_float =
                    m_float_rows.prepare(*m_dir.kernel, region.cols, region.first_col, m_frames, true);
            else
                m_fast_int = m_int_rows.prepare(*m_dir.kernel, region.cols, region.first_col, m_frames, true);
        }
        initialize_children(setup, frames, false);
    }

protected:
    stage_direction m_dir;
    lifting_frames m_frames;
    int m_low_count = 0, m_high_count = 0;
    std::vector<float> m_float[3]; // low, high, and the row converted from integers
    std::vector<int32_t> m_int[2];
    // Rows of one segment go through the planned lifting; rows cut into frames through the plain one.
    row_lifting<float> m_float_rows;
    row_lifting<int32_t> m_int_rows;
    bool m_fast_float = false, m_fast_int = false;
};

class hor_analysis_lifting : public horizontal_stage
{
public:
    using horizontal_stage::horizontal_stage;
    void push_int_line(const int32_t *row, int length) override
    {
        check_length(length);
        if (float_flag) {
            std::copy(row, row + length, m_float[2].begin());
            push_float_line(m_float[2].data(), length);
            return;
        }
        if (m_fast_int)
            m_int_rows.analyse(row, m_int[0].data(), m_int[1].data());
        else
            lift_analysis(*m_dir.kernel, row, length, m_region.first_col, m_int[0].data(), m_int[1].data(),
                          m_frames);
        low->push_int_line(m_int[0].data(), m_low_count);
        high->push_int_line(m_int[1].data(), m_high_count);
    }
    void push_float_line(const float *row, int length) override
    {
        check_length(length);
        if (m_fast_float)
            m_float_rows.analyse(row, m_float[0].data(), m_float[1].data());
        else
            lift_analysis(*m_dir.kernel, row, length, m_region.first_col, m_float[0].data(),
                          m_float[1].data(), true, m_frames);
        low->push_float_line(m_float[0].data(), m_low_count);
        high->push_float_line(m_float[1].data(), m_high_count);
    }
};

class hor_analysis_conv : public horizontal_stage
{
public:
    using horizontal_stage::horizontal_stage;
    void push_int_line(const int32_t *row, int length) override
    {
        check_length(length);
        std::copy(row, row + length, m_float[2].begin());
        push_float_line(m_float[2].data(), length);
    }
    void push_float_line(const float *row, int length) override
    {
        check_length(length);
        conv_analysis(*m_dir.kernel, row, length, m_region.first_col, m_float[0].data(), m_float[1].data(),
                      m_dir.point_symmetric);
        low->push_float_line(m_float[0].data(), m_low_count);
        high->push_float_line(m_float[1].data(), m_high_count);
    }
};

class hor_synthesis_lifting : public horizontal_stage
{
public:
    using horizontal_stage::horizontal_stage;
    void pull_int_line(int32_t *row, int length) override
    {
        check_length(length);
        if (float_flag) {
            pull_float_line(m_float[2].data(), length);
            round_samples(m_float[2].data(), row, length);
            return;
        }
        low->pull_int_line(m_int[0].data(), m_low_count);
        high->pull_int_line(m_int[1].data(), m_high_count);
        if (m_fast_int)
            m_int_rows.synthesise(m_int[0].data(), m_int[1].data(), row);
        else
            lift_synthesis(*m_dir.kernel, m_int[0].data(), m_int[1].data(), length, m_region.first_col, row,
                           m_frames);
    }
    void pull_float_line(float *row, int length) override
    {
        check_length(length);
        low->pull_float_line(m_float[0].data(), m_low_count);
        high->pull_float_line(m_float[1].data(), m_high_count);
        if (m_fast_float)
            m_float_rows.synthesise(m_float[0].data(), m_float[1].data(), row);
        else
            lift_synthesis(*m_dir.kernel, m_float[0].data(), m_float[1].data(), length, m_region.first_col,
                           row, true, m_frames);
    }
};

class hor_synthesis_conv : public horizontal_stage
{
public:
    using horizontal_stage::horizontal_stage;
    void pull_int_line(int32_t *row, int length) override
    {
        check_length(length);
        pull_float_line(m_float[2].data(), length);
        round_samples(m_float[2].data(), row, length);
    }
    void pull_float_line(float *row, int length) override
    {
        check_length(length);
        low->pull_float_line(m_float[0].data(), m_low_count);
        high->pull_float_line(m_float[1].data(), m_high_count);
        conv_synthesis(*m_dir.kernel, m_float[0].data(), m_float[1].data(), length, m_region.first_col, row,
                       m_dir.point_symmetric);
    }
};

} // namespace

std::unique_ptr<transform_stage> make_horizontal_lifting(bool float_path, int component, int level,
                                                         bool synthesis)
{
    if (synthesis)
        return std::make_unique<hor_synthesis_lifting>(float_path, component, level);
    return std::make_unique<hor_analysis_lifting>(float_path, component, level);
}

std::unique_ptr<transform_stage> make_horizontal_conv(int component, int level, bool synthesis)
{
    if (synthesis)
        return std::make_unique<hor_synthesis_conv>(true, component, level);
    return std::make_unique<hor_analysis_conv>(true, component, level);
}

} // namespace zn::j2k
