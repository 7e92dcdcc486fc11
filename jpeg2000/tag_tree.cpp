// Tag trees and the packet head's bit buffer and bit reader.
#include "jpeg2000/tag_tree.h"

namespace zn::j2k {

tag_tree tag_tree_create(int rows, int columns)
{
    tag_tree tree;
    tree.m_rows = rows;
    tree.m_columns = columns;
    if (rows <= 0 || columns <= 0)
        return tree;
    std::vector<std::pair<int, int>> levels; // (rows, columns) per level
    for (int r = rows, c = columns;;) {
        levels.push_back({r, c});
        if (r == 1 && c == 1)
            break;
        r = (r + 1) / 2;
        c = (c + 1) / 2;
    }
    size_t total = 0;
    for (auto [r, c] : levels)
        total += size_t(r) * size_t(c);
    std::vector<tag_tree::node> &nodes = tree.m_nodes;
    nodes.resize(total);
    size_t first = 0;
    for (size_t k = 0; k + 1 < levels.size(); ++k) {
        auto [r, c] = levels[k];
        size_t next_first = first + size_t(r) * size_t(c);
        int next_cols = levels[k + 1].second;
        for (int y = 0; y < r; ++y)
            for (int x = 0; x < c; ++x)
                nodes[first + size_t(y) * size_t(c) + size_t(x)].parent =
                    static_cast<int32_t>(next_first + size_t(y / 2) * size_t(next_cols) + size_t(x / 2));
        first = next_first;
    }
    return tree;
}

void tag_tree_reset(tag_tree &tree)
{
    for (tag_tree::node &n : tree.m_nodes) {
        n.value = kTagUnset;
        n.lower = 0;
        n.known = 0;
    }
}

void tag_tree_set(tag_tree &tree, int leaf, int32_t value)
{
    std::vector<tag_tree::node> &nodes = tree.m_nodes;
    for (int32_t i = leaf; i >= 0 && value < nodes[size_t(i)].value; i = nodes[size_t(i)].parent)
        nodes[size_t(i)].value = value;
}

int tag_tree::Path(int leaf, int32_t *path) const
{
    int depth = 0;
    for (int32_t i = leaf; i >= 0; i = m_nodes[size_t(i)].parent)
        path[depth++] = i;
    return depth; // leaf first: walk it backwards for root first
}

bool tag_tree_encode(tag_tree &tree, int leaf, int32_t threshold, packet_bits &bits)
{
    int32_t path[64];
    int depth = tree.Path(leaf, path);
    int32_t floor = 0;
    for (int k = depth - 1; k >= 0; --k) {
        tag_tree::node &n = tree.m_nodes[size_t(path[k])];
        if (n.lower < floor)
            n.lower = floor;
        while (n.lower < threshold && n.lower < n.value) {
            bits.put_bit(0);
            ++n.lower;
        }
        if (n.lower < threshold && !n.known) {
            bits.put_bit(1);
            n.known = 1;
        }
        floor = n.lower;
    }
    return tree.m_nodes[size_t(leaf)].lower < threshold;
}

bool tag_tree_decode(tag_tree &tree, int leaf, int32_t threshold, packet_bit_reader &bits)
{
    int32_t path[64];
    int depth = tree.Path(leaf, path);
    int32_t floor = 0;
    for (int k = depth - 1; k >= 0; --k) {
        tag_tree::node &n = tree.m_nodes[size_t(path[k])];
        if (n.lower < floor)
            n.lower = floor;
        while (n.lower < threshold && n.lower < n.value) {
            int bit = bits.get_bit();
            if (bit < 0)
                return false;
            if (bit)
                n.value = n.lower;
            else
                ++n.lower;
        }
        floor = n.lower;
    }
    return tree.m_nodes[size_t(leaf)].value < threshold;
}

void tag_tree::copy_state_from(const tag_tree &other)
{
    for (size_t i = 0; i < m_nodes.size() && i < other.m_nodes.size(); ++i) {
        m_nodes[i].value = other.m_nodes[i].value;
        m_nodes[i].lower = other.m_nodes[i].lower;
        m_nodes[i].known = other.m_nodes[i].known;
    }
}

void packet_bits::reset()
{
    m_bytes.clear();
    m_byte = 0;
    m_free = 8;
}

void packet_bits::put_bit(int bit)
{
    m_byte = (m_byte << 1) | uint32_t(bit & 1);
    if (--m_free == 0) {
        m_bytes.push_back(static_cast<uint8_t>(m_byte));
        m_free = m_byte == 0xFF ? 7 : 8;
        m_byte = 0;
    }
}

void packet_bits::put_bits(uint32_t value, int n)
{
    for (int i = n - 1; i >= 0; --i)
        put_bit(int((value >> i) & 1));
}

int packet_bits::flush()
{
    if (m_free != 8) {
        m_bytes.push_back(static_cast<uint8_t>(m_byte << m_free));
        m_byte = 0;
        m_free = 8;
    }
    return size();
}

bool packet_bit_reader::Fetch()
{
    uint8_t b = 0;
    if (m_source.get_head_bytes(&b, 1) != 1)
        return false;
    m_byte = b;
    ++m_bytes;
    return true;
}

int packet_bit_reader::get_bit()
{
    if (m_failed)
        return -1;
    if (m_left == 0) {
        if (!Fetch()) {
            m_failed = true;
            return -1;
        }
        m_left = m_after_ff ? 7 : 8;
        m_after_ff = m_byte == 0xFF;
    }
    --m_left;
    int bit = int((m_byte >> m_left) & 1);
    if (m_left == 0 && m_after_ff && Fetch()) { // the stuffed byte is taken at once
        m_left = 7;
        m_after_ff = m_byte == 0xFF;
    }
    return bit;
}

int32_t packet_bit_reader::get_bits(int n)
{
    int32_t v = 0;
    for (int i = 0; i < n; ++i) {
        int bit = get_bit();
        if (bit < 0)
            return -1;
        v = (v << 1) | bit;
    }
    return v;
}

} // namespace zn::j2k
