// The entropy-decoding stage of the decoder. The dequantiser pulls band rows from it; it reads the
// current tile's packets only as far as the requested code-blocks need, decodes a row of blocks at
// a time and hands out their rows. Packets of discarded levels and components are read and
// dropped, and cost nothing in the bytes it reports.
#pragma once

#include "jpeg2000/block_coder_params.h"
#include "jpeg2000/codec_object.h"
#include "jpeg2000/coding_pipeline.h"
#include "jpeg2000/ebcot_decoder_records.h"

#include <memory>
#include <vector>

namespace zn::j2k {

class command_line;
class stream_in;
class codeword_heap;
class block_buffer_pool;

class reverse_info;
class roi_decoder;

class ebcot_decoder : public block_line_source
{
public:
    ebcot_decoder();
    ~ebcot_decoder();
    ebcot_decoder(const ebcot_decoder &) = delete;
    ebcot_decoder &operator=(const ebcot_decoder &) = delete;

    void initialize(int components, int discard_levels, int components_to_decode, block_coder_params *info,
                    roi_block_masks *roi, stream_in *in, command_line *args);
    // The decoder run's form: the parameter and region objects themselves (the region may be null).
    void initialize(int components, int discard_levels, int components_to_decode, reverse_info *info,
                    roi_decoder *roi, stream_in *in, command_line *args);
    usage_table get_usage();
    // Reads every remaining packet and cuts the decoded layers down to `limit` bytes.
    void read_tile_limited(int32_t limit);
    int next_tile() override;
    void get_block_dims(int component, int level, int band, int *height, int *width);
    // One row of the band, left to right; returns the rows handed out from the current block row.
    int pull_block_line(int32_t *buffer, int component, int level, int band, int width);
    // The pipeline's form: the dequantiser's words.
    void pull_block_line(uint32_t *words, int component, int level, int band, int width) override
    {
        pull_block_line(reinterpret_cast<int32_t *>(words), component, level, band, width);
    }
    void get_band_block_size(int component, int level, int band, int *height, int *width) override
    {
        get_block_dims(component, level, band, height, width);
    }
    // Returns the code-stream bytes used.
    int32_t terminate();

    // Caps on what a code-stream may make the decoder build, checked before allocating.
    static constexpr int64_t kMemoryCap = int64_t(512) << 20;

    int32_t bytes_used() const { return m_bytes_used; }
    const dec_tile *tile(int t) const
    {
        return t >= 0 && t < int(m_tiles.size()) ? m_tiles[size_t(t)].get() : nullptr;
    }

private:
    class PacketSource;
    void MoveInfoTo(int tile);
    void build_tile_structures(dec_tile &tile);
    void BuildComponent(dec_tile &tile, dec_component &comp);
    void BuildPartitions(dec_tile &tile);
    void alloc_tile_work_areas(dec_tile &tile);
    void FreeTile(dec_tile &tile);
    void read_packets(dec_tile &current, int32_t n);
    void MarkRemainingEmpty(dec_tile &tile);
    void PrecinctCheck(dec_tile &tile, dec_precinct &P);
    void DecodeBlock(dec_tile &tile, dec_component &comp, dec_band &band, dec_block &block, int32_t *out,
                     int out_pitch);
    dec_band &BandOf(int component, int level, int band);

    int m_components = 0, m_discard = 0, m_to_decode = 0;
    block_coder_params *m_info = nullptr;
    roi_block_masks *m_roi = nullptr;
    stream_in *m_in = nullptr;
    command_line *m_args = nullptr;
    std::unique_ptr<PacketSource> m_source;
    std::vector<std::unique_ptr<dec_tile>> m_tiles;
    int m_current = 0;
    int m_info_cursor = 0;
    int32_t m_image_rows = 0, m_image_cols = 0;
    std::unique_ptr<codeword_heap> m_heap;
    std::vector<std::unique_ptr<block_buffer_pool>> m_pools;
    // Work areas of the last tile's components, kept for the next tile of the same block size:
    // streams of many small tiles would otherwise spend their time allocating.
    std::vector<std::unique_ptr<block_decoder_work>> m_spare_work;
    double m_ticks = -1.0;
    bool m_plain = false;
    int m_confidence = 0;
    int32_t m_bytes_used = 0;
    std::vector<uint8_t> m_roi_mask;
    std::vector<uint8_t *> m_roi_rows;
    bool m_terminated = false;
    bool m_stream_ended = false; // the tiles built when the code-stream ended have been closed
    std::unique_ptr<block_coder_params> m_own_info;
    std::unique_ptr<roi_block_masks> m_own_roi;
};

std::unique_ptr<ebcot_decoder> create_ebcot_decoder();

} // namespace zn::j2k
