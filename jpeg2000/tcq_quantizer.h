// Trellis-coded quantisation. Instead of quantising each sample alone, a code-block at a time is
// quantised along the path of an 8-state trellis: each state allows the next reconstruction point
// only from one of two unions of subsets of a grid of half-steps, and a Viterbi search picks the path
// of least squared error. The dequantiser walks the same scan through the same state machine, so it
// knows which union each index belongs to.
#pragma once

#include "jpeg2000/coding_pipeline.h"
#include "jpeg2000/dz_quantizer.h"

#include <cstdint>
#include <map>
#include <memory>
#include <tuple>
#include <vector>

namespace zn::j2k {

inline constexpr char kTcqMemory[] = "TCQ QUANTIZATION OBJECT MEMORY";

// The subset D0..D3 point nearest to v (a tie goes to the larger magnitude), in half-step units.
int64_t tcq_nearest_point(int subset, double v);
// A point's index in the union A (from states 0, 1, 4, 5) or B (2, 3, 6, 7), and back.
int64_t tcq_point_to_index(int64_t point, bool union_b);
int64_t tcq_index_to_point(int64_t index, bool union_b);
// The trellis: entering state s over bit b comes from tcq_from(s, b) with subset tcq_subset(s, b);
// from a state, an index of parity p leads to tcq_next_state(state, p).
int tcq_from(int state, int bit);
int tcq_subset(int state, int bit);
int tcq_next_state(int state, int parity);

// Quantises n samples (in scan order) at half-step u: indices, and optionally the visited states
// (entering each sample) and the path cost. Returns the cost of the chosen path.
float tcq_quantise(const float *x, int n, float u, int64_t *indices, int *states = nullptr);
// Reconstructs n indices at step delta by walking the trellis from state 0 (states: entering each).
void tcq_dequantise(const int64_t *indices, int n, float delta, float *values, int *states = nullptr);

// The scan order of a code-block: stripes of four rows, columns left to right, rows down a column.
std::vector<std::pair<int, int>> tcq_scan_order(int rows, int cols);

class tcq_quantizer : public quantizer
{
public:
    void initialize(int num_components, forward_info *info, block_line_sink *coder, stream_out *out) override;
    usage_table get_usage() override;
    void push_float_row(const float *row, int component, int level, int band, int width) override;
    void push_int_row(const int32_t *row, int component, int level, int band, int width) override;
    int next_tile() override;
    void terminate() override;

private:
    struct band_state
    {
        float u = 1;
        int K = 0;
        int block_height = 64, block_width = 64;
        int first_row_height = 0, first_col_width = 0;
        int rows_left = 0, width = 0;
        int current_height = 0;
        std::vector<std::vector<float>> rows;
    };
    band_state &Band(int component, int level, int band, int width);
    void QuantiseBlockRow(band_state &b, int component, int level, int band);
    void BuildTables();

    int m_num_components = 0;
    forward_info *m_info = nullptr;
    block_line_sink *m_coder = nullptr;
    int m_tiles = 0;
    std::map<std::tuple<int, int, int>, band_state> m_bands;
    std::vector<float> m_block;
    std::vector<int64_t> m_indices;
};

class tcq_dequantizer : public dequantizer
{
public:
    void initialize(int num_components, reverse_info *info, block_line_source *decoder, stream_in *in,
                    command_line *args) override;
    usage_table get_usage() override;
    void pull_float_row(float *row, int component, int level, int band, int width) override;
    void pull_int_row(int32_t *row, int component, int level, int band, int width) override;
    int next_tile() override;
    void terminate() override;

private:
    struct band_state
    {
        float delta = 1;
        int K = 0;
        int block_height = 64, block_width = 64;
        int first_row_height = 0, first_col_width = 0;
        int rows_left = 0, width = 0;
        int next = 0, available = 0;
        std::vector<std::vector<float>> rows;
    };
    band_state &Band(int component, int level, int band, int width);
    void PullBlockRow(band_state &b, int component, int level, int band);
    void BuildTables();

    int m_num_components = 0;
    reverse_info *m_info = nullptr;
    block_line_source *m_decoder = nullptr;
    bool m_no_tcq = false;
    int m_tiles = 0;
    std::map<std::tuple<int, int, int>, band_state> m_bands;
    std::vector<std::vector<uint32_t>> m_block_rows;
    std::vector<float> m_row;
};

std::unique_ptr<quantizer> create_tcq_quantizer();
std::unique_ptr<dequantizer> create_tcq_dequantizer();

} // namespace zn::j2k
