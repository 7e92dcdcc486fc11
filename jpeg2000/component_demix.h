// The component demix: the decoder's last stage before the line loop. It pulls rows from the wavelet
// synthesis and undoes the transform across components that the component mix applied in each tile,
// with the kernel or inverse matrix the code-stream carries for it.
#pragma once

#include "jpeg2000/codec_object.h"
#include "jpeg2000/coding_pipeline.h"
#include "jpeg2000/component_mix.h"
#include "jpeg2000/wavelet_kernels.h"

#include <memory>
#include <vector>

namespace zn::j2k {

class component_demix
{
public:
    // Returns the comment registration counter after the first tile's set-up.
    int initialize(int discarded, int stream_components, int components, reverse_info *info,
                   line_source *synthesis, stream_in *in);
    usage_table get_usage() { return nullptr; }
    void pull_line(int32_t *row, int component, int width);
    int next_tile();
    void terminate();

    int tile_code() const { return m_code; }
    const wavelet_kernel &tile_kernel() const { return m_kernel; }
    const std::vector<float> &tile_matrix() const { return m_matrix; }

private:
    void demix_start_tile();
    void Fill();

    int m_discarded = 0;
    int m_stream_components = 0;
    int m_components = 0;
    reverse_info *m_info = nullptr;
    line_source *m_synthesis = nullptr;
    stream_in *m_in = nullptr;
    int m_code = kMixNone;
    wavelet_kernel m_kernel;
    std::vector<float> m_matrix;
    int m_counter = kMixCmeFirst;
    std::vector<line_queue> m_queues;
    std::vector<int> m_widths;
};

std::unique_ptr<component_demix> create_component_demix();

} // namespace zn::j2k
