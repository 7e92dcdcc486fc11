// The component mix: the encoder's first stage after the line loop. Rows of each component go to the
// wavelet analysis, after an optional transform across components per tile: a colour transform of
// the first three ("-Mycc", RCT when reversible, YCbCr otherwise), a wavelet along the component axis
// ("-Mtdt") or a matrix ("-Mlin"). It hands forward_info the norm and gain scales the transform gives
// each component's bands, and records the transform, with its kernel or inverse matrix, in the
// code-stream.
#pragma once

#include "jpeg2000/codec_object.h"
#include "jpeg2000/coding_pipeline.h"
#include "jpeg2000/wavelet_kernels.h"

#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace zn::j2k {

inline constexpr char kMixMemory[] = "COMPONENT MIX/DEMIX OBJECT MEMORY";

// The values of the code-stream's "Multiple component transform used".
enum component_transform_code {
    kMixNone = 0,
    kMixRct = 1,
    kMixYcc = 2,
    kMixWaveletConvolution = 3,
    kMixWaveletLifting = 4,
    kMixMatrix = 5,
};

// The first comment registration value of the per-tile transform data; one value per tile, counting down.
constexpr int kMixCmeFirst = 0xFEF3;

// Rows waiting for the other components of their sample positions.
struct line_queue
{
    std::deque<std::vector<int32_t>> rows;
};

class component_mix
{
public:
    // Returns the comment registration counter after the first tile's set-up.
    int initialize(int num_components, forward_info *info, line_sink *analysis, stream_out *out,
                   command_line *args);
    usage_table get_usage();
    void push_line(const int32_t *row, int component, int width);
    int next_tile();
    void terminate();

    // The transform of the current tile, and the scales handed to forward_info (index 0 the global
    // scope, t + 1 tile t).
    int tile_code() const { return m_code; }
    int global_code() const { return m_scopes.empty() ? 0 : m_scopes[0].code; }
    const std::vector<std::vector<float>> &norm_scales() const { return m_norm; }
    const std::vector<std::vector<float>> &gain_scales() const { return m_gain; }

private:
    struct scope
    {
        int code = kMixNone;
        std::string kernel_id;
        int kernel_user = 0;
        wavelet_kernel kernel;
        std::string forward_file, reverse_file;
    };
    void ReadScope(int tile, scope &s, command_line *args);
    void mix_norm_scales();
    void mix_start_tile();
    void Flush();

    int m_num_components = 0;
    forward_info *m_info = nullptr;
    line_sink *m_analysis = nullptr;
    stream_out *m_out = nullptr;
    std::string m_kernels_dir;
    std::vector<scope> m_scopes; // [0] global, then one per tile
    int m_tile = 0;
    int m_code = kMixNone;
    const scope *m_current = nullptr;
    std::vector<float> m_matrix;
    int m_counter = kMixCmeFirst;
    std::vector<line_queue> m_queues;
    std::vector<int> m_widths;
    std::vector<std::vector<float>> m_norm, m_gain;
};

std::unique_ptr<component_mix> create_component_mix();

// Reads a matrix file: n x n 32-bit floats in raster order, least significant byte first.
bool read_matrix_file(const char *path, int n, std::vector<float> *matrix, bool *opened);

} // namespace zn::j2k
