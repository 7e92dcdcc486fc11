// The component demix: the per-tile set-up from the code-stream (transform code, checks, kernel or
// inverse matrix) and the row queues that deliver one component's rows after the inverse transform.
#include "jpeg2000/component_demix.h"

#include "jpeg2000/colour_transforms.h"
#include "jpeg2000/local_services.h"
#include "jpeg2000/marker_elements.h"
#include "jpeg2000/reverse_info.h"
#include "jpeg2000/stream_in.h"

#include <cstring>
#include <string>

namespace zn::j2k {

std::unique_ptr<component_demix> create_component_demix()
{
    return std::make_unique<component_demix>();
}

int component_demix::initialize(int discarded, int stream_components, int components, reverse_info *info,
                                line_source *synthesis, stream_in *in)
{
    m_discarded = discarded;
    m_stream_components = stream_components;
    m_components = components;
    m_info = info;
    m_synthesis = synthesis;
    m_in = in;
    if (components < 1 || components > stream_components)
        local_error("Cannot reconstruct %d image components from a code-stream of %d!", components,
                    stream_components);
    m_queues.assign(size_t(components), line_queue{});
    m_widths.assign(size_t(components), 0);
    m_counter = kMixCmeFirst;
    demix_start_tile();
    return m_counter;
}

void component_demix::demix_start_tile()
{
    int tile = m_info->current_tile();
    m_code =
        m_in->marker_elt_count(tile, elt::Mct, 0) > 0 ? m_in->get_marker_val(tile, elt::Mct, 0, 0) : kMixNone;
    if (m_code < kMixNone || m_code > kMixMatrix)
        local_error("The code-stream names the unknown multiple component transform %d!", m_code);
    if (m_code == kMixRct || m_code == kMixYcc) {
        if (m_stream_components < 3)
            local_error(
                "The codestream is marked as having a colour transform in one or more tiles, but contains "
                "less than 3 image components!");
        if (m_components == 1)
            m_code = kMixNone; // monochrome output of component 0
        else if (m_components < 3)
            local_error(
                "Attempting to reconstruct only %d components of a colour image which has been subjected "
                "to a colour transform in one or more tiles!!  Only full colour or monochrome "
                "reconstruction makes any sense!",
                m_components);
    }
    if ((m_code == kMixWaveletConvolution || m_code == kMixWaveletLifting) && m_components == 1)
        local_error("Wavelet compoment mixing requires more than one component!");
    if (m_code == kMixMatrix && m_components == 1)
        local_error("Linear compoment mixing requires more than one component!");
    int checked = m_code == kMixNone ? 0 : (m_code <= kMixYcc ? 3 : m_components);
    canvas_rect first;
    for (int c = 0; c < m_components; ++c) {
        canvas_rect r;
        int reversible = 0;
        m_info->get_tile_component_info(c, nullptr, &r, &reversible, nullptr);
        if (c < checked) {
            if (m_code == kMixRct && !reversible)
                local_error("When using the RCT colour transform, the first 3 image components must have "
                            "reversible decompositions in every tile!");
            if (m_code == kMixYcc && reversible)
                local_error("When using the YCbCr colour transform, the first 3 image components must have "
                            "non-reversible decompositions in every tile!");
            if (m_code == kMixWaveletConvolution && reversible)
                local_error(
                    "Fully reversible compression is not possible with floating point wavelet component "
                    "mixing!");
            if (m_code == kMixMatrix && reversible)
                local_error(
                    "Fully reversible compression is not possible with floating point linear component "
                    "mixing!");
        }
        if (c == 0)
            first = r;
        else if (c < checked && (r.rows != first.rows || r.cols != first.cols ||
                                 r.first_row != first.first_row || r.first_col != first.first_col))
            local_error(
                m_code <= kMixYcc ? "Colour transforms may not be used with image components of different "
                                    "dimensions!"
                : m_code == kMixMatrix ? "Linear component transforms may not be used with image components "
                                         "of different dimensions!"
                                       : "Wavelet component transforms may not be used with image "
                                         "components of different dimensions!");
        int D = m_discarded;
        int width = ((r.first_col + r.cols - 1) >> D) - ((r.first_col - 1) >> D);
        if (width != m_widths[size_t(c)]) {
            m_queues[size_t(c)].rows.clear();
            m_widths[size_t(c)] = width;
        }
    }
    int length = 0;
    const uint8_t *data = m_in->get_comment(m_counter & 0xFFFF, 0, &length);
    if (m_code == kMixMatrix) {
        size_t n = size_t(m_components);
        if (!data)
            local_error("Inverse matrix not available for `-Mlin' encoder option!");
        if (size_t(length) < 4 * n * n)
            local_error("The inverse matrix of the `-Mlin' option holds %d bytes; %d are needed!", length,
                        int(4 * n * n));
        m_matrix.resize(n * n);
        for (size_t i = 0; i < n * n; ++i) {
            uint32_t u = uint32_t(data[4 * i]) | uint32_t(data[4 * i + 1]) << 8 |
                         uint32_t(data[4 * i + 2]) << 16 | uint32_t(data[4 * i + 3]) << 24;
            std::memcpy(&m_matrix[i], &u, 4);
        }
    }
    if (m_code == kMixWaveletConvolution || m_code == kMixWaveletLifting) {
        m_kernel = wavelet_kernel{};
        m_kernel.type = m_code == kMixWaveletConvolution ? kKernelConvolution : kKernelIntLifting;
        if (!data) {
            build_decoder_kernel(m_code == kMixWaveletConvolution ? "W9X7" : "W5X3", nullptr, m_kernel);
        } else if (length >= 1 && data[0] == 0) {
            std::string name(reinterpret_cast<const char *>(data + 1), size_t(length - 1));
            name = name.c_str(); // up to its terminating zero
            if (name != "W9X7" && name != "W5X3")
                local_error("The component transform names the unknown kernel \"%s\"!", name.c_str());
            build_decoder_kernel(name.c_str(), nullptr, m_kernel);
        } else {
            // A user kernel: steps, (tap count, shift) per step, then every tap in 16 bits, high byte first.
            user_kernel_spec lifting;
            int pos = 1;
            auto next = [&]() {
                if (pos >= length)
                    local_error("The kernel of the component transform is incomplete!");
                return int(data[pos++]);
            };
            lifting.num_steps = next();
            if (lifting.num_steps > kMaxLiftingSteps)
                local_error(
                    "The kernel of the component transform has %d lifting steps; at most %d are possible!",
                    lifting.num_steps, kMaxLiftingSteps);
            for (int s = 0; s < lifting.num_steps; ++s) {
                lifting.tap_count[s] = next();
                lifting.shift[s] = next();
                if (lifting.tap_count[s] > kMaxLiftingTaps)
                    local_error(
                        "The kernel of the component transform has %d taps in one step; at most %d are "
                        "possible!",
                        lifting.tap_count[s], kMaxLiftingTaps);
            }
            for (int s = 0; s < lifting.num_steps; ++s)
                for (int i = 0; i < lifting.tap_count[s]; ++i) {
                    int hi = next(), lo = next();
                    int v = (hi << 8) | lo;
                    lifting.taps[s][i] = v >= 0x8000 ? v - 0x10000 : v;
                }
            build_decoder_kernel(nullptr, &lifting, m_kernel);
        }
    }
    m_counter -= 1;
}

// Pulls one row of every component taking part and undoes the transform.
void component_demix::Fill()
{
    int n = m_code <= kMixYcc ? 3 : m_components;
    std::vector<int32_t *> rows(static_cast<size_t>(n));
    int width = m_widths[0];
    for (int c = 0; c < n; ++c) {
        if (m_widths[size_t(c)] != width)
            local_error("The components mixed by the component transform deliver rows of different widths!");
        m_queues[size_t(c)].rows.emplace_back(size_t(width));
        rows[size_t(c)] = m_queues[size_t(c)].rows.back().data();
        m_synthesis->pull_line(rows[size_t(c)], c, width);
    }
    if (m_code == kMixRct)
        rct_inverse(rows[0], rows[1], rows[2], width);
    else if (m_code == kMixYcc)
        ycc_inverse(rows[0], rows[1], rows[2], width);
    else if (m_code == kMixMatrix)
        matrix_transform(m_matrix, rows.data(), n, width);
    else
        axis_synthesis(m_kernel, rows.data(), n, width);
}

void component_demix::pull_line(int32_t *row, int component, int width)
{
    if (component < 0 || component >= m_components)
        local_error("The component demix has no image component %d!", component);
    if (m_code == kMixNone || (m_code <= kMixYcc && component > 2)) {
        m_synthesis->pull_line(row, component, width);
        return;
    }
    line_queue &q = m_queues[size_t(component)];
    if (q.rows.empty())
        Fill();
    if (int(q.rows.front().size()) != width)
        local_error("A row of %d samples was asked of image component %d, whose rows hold %d!", width,
                    component, int(q.rows.front().size()));
    std::copy(q.rows.front().begin(), q.rows.front().end(), row);
    q.rows.pop_front();
}

int component_demix::next_tile()
{
    demix_start_tile();
    return m_synthesis->next_tile();
}

void component_demix::terminate()
{
    m_queues.clear();
    m_matrix.clear();
}

} // namespace zn::j2k
