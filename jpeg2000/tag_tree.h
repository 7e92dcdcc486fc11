// Tag trees: a quad-tree over a grid of code-blocks in which each node holds the minimum of its
// leaves. Coding a leaf against a threshold sends only what the decoder does not know yet, so
// values shared by neighbouring blocks (the layer a block first appears in, its count of empty
// bit-planes) cost a few bits for the whole precinct.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zn::j2k {

class packet_bits;
class packet_bit_reader;

inline constexpr int32_t kTagUnset = 2147483647;

// Made by tag_tree_create; a default tree has no nodes (a grid without rows or columns).
class tag_tree
{
public:
    struct node
    {
        int32_t value = kTagUnset;
        int32_t lower = 0;
        int32_t known = 0;
        int32_t parent = -1;
    };

    bool empty() const { return m_nodes.empty(); }
    int rows() const { return m_rows; }
    int columns() const { return m_columns; }
    int32_t value(int leaf) const { return m_nodes[size_t(leaf)].value; }
    void copy_state_from(const tag_tree &other);

    const std::vector<node> &nodes() const { return m_nodes; }

private:
    friend tag_tree tag_tree_create(int rows, int columns);
    friend void tag_tree_reset(tag_tree &tree);
    friend void tag_tree_set(tag_tree &tree, int leaf, int32_t value);
    friend bool tag_tree_encode(tag_tree &tree, int leaf, int32_t threshold, packet_bits &bits);
    friend bool tag_tree_decode(tag_tree &tree, int leaf, int32_t threshold, packet_bit_reader &bits);
    // Nodes from the root down to the leaf.
    int Path(int leaf, int32_t *path) const;

    int m_rows = 0, m_columns = 0;
    std::vector<node> m_nodes; // level after level, each row-major
};

// A tree over rows x columns leaves, every node reset.
tag_tree tag_tree_create(int rows, int columns);
void tag_tree_reset(tag_tree &tree);
// Leaves are numbered in raster order; every node keeps the minimum of its leaves.
void tag_tree_set(tag_tree &tree, int leaf, int32_t value);
// Codes what the decoder needs to know whether the leaf's value is below `threshold`.
bool tag_tree_encode(tag_tree &tree, int leaf, int32_t threshold, packet_bits &bits);
// Reads the same; false as well when the head ran out of bytes (the reader then reports failed()).
bool tag_tree_decode(tag_tree &tree, int leaf, int32_t threshold, packet_bit_reader &bits);

// The packet head's bit buffer: bits most significant first, a stuffed 0 after every 0xFF byte.
class packet_bits
{
public:
    void reset();
    void put_bit(int bit);
    void put_bits(uint32_t value, int n);
    // Completes the last byte (zero-filled); returns the head length in bytes.
    int flush();
    const uint8_t *data() const { return m_bytes.data(); }
    int size() const { return static_cast<int>(m_bytes.size()); }

private:
    std::vector<uint8_t> m_bytes;
    uint32_t m_byte = 0;
    int m_free = 8;
};

// Where a packet head's bytes come from (the code-stream reader, or a test's bytes).
class packet_byte_source
{
public:
    virtual ~packet_byte_source() = default;
    virtual int get_head_bytes(uint8_t *buffer, int n) = 0;
    virtual int get_body_bytes(uint8_t *buffer, int n) = 0;
};

// Reads a packet head bit by bit, dropping the stuffed 0 after each 0xFF. Running out of bytes is
// sticky: every later read fails too, and the caller leaves the head.
class packet_bit_reader
{
public:
    explicit packet_bit_reader(packet_byte_source &source) : m_source(source) {}
    // 0 or 1; -1 once the head has run out of bytes.
    int get_bit();
    // n bits, first most significant; -1 when they did not all arrive.
    int32_t get_bits(int n);
    bool failed() const { return m_failed; }
    int bytes() const { return m_bytes; }

private:
    bool Fetch();
    packet_byte_source &m_source;
    uint32_t m_byte = 0;
    int m_left = 0;
    int m_bytes = 0;
    bool m_after_ff = false;
    bool m_failed = false;
};

// The largest k with 2^k <= v (0 for v < 2): a segment length field grows by this many bits for
// the passes it spans.
inline int floor_log2(int v)
{
    int k = 0;
    while ((v >> (k + 1)) > 0)
        ++k;
    return k;
}

} // namespace zn::j2k
