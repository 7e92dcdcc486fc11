// Test double in the block coder's place: keeps every row of quantised words the encoder side pushes
// and serves the same rows back, in the same order per band, to the decoder side. It answers the
// code-block size query with one size for every band, and counts the tiles it was told about.
#pragma once

#include "jpeg2000/coding_pipeline.h"

#include <deque>
#include <functional>
#include <map>
#include <stdexcept>
#include <tuple>
#include <vector>

namespace zntest {

class BlockLineStore : public zn::j2k::block_line_sink, public zn::j2k::block_line_source
{
public:
    using Key = std::tuple<int, int, int, int>; // tile, component, level, band

    BlockLineStore(int block_height = 64, int block_width = 64) : m_height(block_height), m_width(block_width)
    {}

    void push_block_line(uint32_t *words, int c, int l, int b, int width) override
    {
        if (width > 0)
            m_rows[{m_push_tile, c, l, b}].emplace_back(words, words + width);
    }
    void pull_block_line(uint32_t *words, int c, int l, int b, int width) override
    {
        if (width == 0)
            return; // empty rows of empty bands were never pushed
        auto &q = m_rows[{m_pull_tile, c, l, b}];
        if (q.empty() || int(q.front().size()) != width)
            throw std::logic_error("block row pulled that was not pushed");
        std::copy(q.front().begin(), q.front().end(), words);
        q.pop_front();
        if (midpoint_bit) {
            // A block decoder that decoded every plane marks the middle of each interval, one bit below K.
            int K = midpoint_bit(c, l, b);
            if (K >= 1 && K <= 31)
                for (int i = 0; i < width; ++i)
                    words[i] |= 1u << (K - 1);
        }
    }
    // The encoder side and the decoder side keep their own tile counters.
    int next_tile() override { return ++(m_decoding ? m_pull_tile : m_push_tile); }
    void get_band_block_size(int, int, int, int *height, int *width) override
    {
        if (height)
            *height = m_height;
        if (width)
            *width = m_width;
    }

    // Switch to serving rows: tile counting restarts for the decoder side.
    void StartDecoding()
    {
        m_decoding = true;
        m_pull_tile = 0;
    }
    std::vector<std::vector<uint32_t>> Band(int tile, int c, int l, int b) const
    {
        auto it = m_rows.find({tile, c, l, b});
        return it == m_rows.end() ? std::vector<std::vector<uint32_t>>{}
                                  : std::vector<std::vector<uint32_t>>(it->second.begin(), it->second.end());
    }
    bool AllServed() const
    {
        for (auto &[k, q] : m_rows)
            if (!q.empty())
                return false;
        return true;
    }
    int TilesPushed() const { return m_push_tile; }

    // When set: the band's K, and pulled words get the bit below K set.
    std::function<int(int, int, int)> midpoint_bit;

private:
    int m_height, m_width;
    bool m_decoding = false;
    int m_push_tile = 0, m_pull_tile = 0;
    std::map<Key, std::deque<std::vector<uint32_t>>> m_rows;
};

} // namespace zntest
