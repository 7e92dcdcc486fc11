// The block-coding and rate-control stage of the encoder. Quantised band rows arrive per tile; each
// full row of code-blocks is coded at once and kept with its pass lengths and slopes. At the end the
// quality layers are formed under the byte budget and every tile's packets are written in its
// progression order.
#pragma once

#include "jpeg2000/block_coder_params.h"
#include "jpeg2000/codec_object.h"
#include "jpeg2000/coding_pipeline.h"
#include "jpeg2000/ebcot_encoder_records.h"
#include "jpeg2000/layer_targets.h"
#include "jpeg2000/progressive_weights.h"

#include <memory>
#include <vector>

namespace zn::j2k {

class command_line;
class stream_out;
class codeword_heap;
class block_buffer_pool;
struct scan_buffer_state;

class forward_info;
class roi_encoder;

class ebcot_encoder : public block_line_sink
{
public:
    ebcot_encoder();
    ~ebcot_encoder();
    ebcot_encoder(const ebcot_encoder &) = delete;
    ebcot_encoder &operator=(const ebcot_encoder &) = delete;

    void initialize(int components, int32_t budget, block_coder_params *info, roi_block_masks *roi,
                    stream_out *out, command_line *args);
    // The encoder run's form: the parameter and region objects themselves (the region may be null).
    void initialize(int components, int32_t budget, forward_info *info, roi_encoder *roi, stream_out *out,
                    command_line *args);
    usage_table get_usage();
    // One row of band (level, band) of `component` in the current tile, `width` sign-magnitude words.
    void push_block_line(const int32_t *samples, int component, int level, int band, int width);
    // The pipeline's form of the row push: the quantiser's words.
    void push_block_line(uint32_t *words, int component, int level, int band, int width) override
    {
        push_block_line(reinterpret_cast<const int32_t *>(words), component, level, band, width);
    }
    int next_tile() override;
    void get_band_block_size(int component, int level, int band, int *height, int *width) override
    {
        get_block_dims(component, level, band, height, width);
    }
    void terminate();
    // Effective code-block height and width of a band of the current tile.
    void get_block_dims(int component, int level, int band, int *height, int *width);

    // Read-only views for tests and reports.
    const std::vector<std::unique_ptr<enc_tile>> &tiles() const { return m_tiles; }
    const std::vector<layer_record> &layers() const { return m_layers; }
    int32_t budget() const { return m_budget; }
    const int32_t *histogram() const { return m_histogram; }

private:
    friend void scan_buffer_setup(ebcot_encoder &e);
    friend bool scan_buffer_active(const ebcot_encoder &e);
    friend void scan_buffer_after_block_row(ebcot_encoder &e, enc_band &band);
    friend void scan_buffer_finish(ebcot_encoder &e);
    friend void scan_buffer_output(ebcot_encoder &e, scan_buffer_state &s, int last);
    void ReadOptions(int scope);
    void BuildTiles();
    void BuildPartitions(enc_tile &tile);
    void PrepareWorkArea(enc_tile &tile);
    void FreeWorkArea(enc_tile &tile);
    void CodeBlockRow(enc_component &comp, enc_band &band);
    int32_t MinimumIncrement() const;
    void BuildSequences(int layers);
    void FormAndWrite();
    int64_t SimulateLayer(int layer, int threshold, bool commit);
    void WriteTiles();
    void ApplyVpw(int32_t target);
    enc_band &BandOf(int component, int level, int band);

    int m_components = 0;
    int32_t m_budget = 0;
    block_coder_params *m_info = nullptr;
    roi_block_masks *m_roi = nullptr;
    stream_out *m_out = nullptr;
    command_line *m_args = nullptr;
    std::vector<std::unique_ptr<enc_tile>> m_tiles;
    int m_current = 0;
    int32_t m_image_rows = 0, m_image_cols = 0;
    std::vector<layer_record> m_layers;
    std::unique_ptr<codeword_heap> m_heap;
    std::vector<std::unique_ptr<block_buffer_pool>> m_pools; // per component of the current tile
    int32_t m_histogram[kSlopeBins] = {};
    bool m_reverse_tiles = false, m_omit_tile_length = false;
    double m_ticks = -1.0;
    bool m_no_truncation = false;
    vpw_handle m_vpw;
    std::unique_ptr<scan_buffer_state> m_scan;
    std::unique_ptr<block_coder_params> m_own_info;
    std::unique_ptr<roi_block_masks> m_own_roi;
    packet_bits m_bits;
    std::vector<uint8_t> m_roi_mask;
    std::vector<uint8_t *> m_roi_rows;
    bool m_terminated = false;
};

std::unique_ptr<ebcot_encoder> create_ebcot_encoder();

} // namespace zn::j2k
