// The code-stream writer: the only encoder object that knows the code-stream syntax. Other objects
// declare marker elements in the main header or a tile's header and set their values; when a header
// is written its elements become marker segments (SIZ, COD, COC, QCD, QCC, RGN, POC, or packed
// "premarker" comment segments for everything else). It frames tile-parts and packets and never
// lets the file grow beyond the byte budget.
#pragma once

#include "jpeg2000/codec_object.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace zn::j2k {

class command_line;

// What the writer and the reader share of the element store.
struct marker_element
{
    uint8_t marker = 0;
    uint8_t id = 0;
    const char *description = nullptr; // the whole name, marker and id bytes included
    int precision = 32;
    std::vector<int32_t> values;
    std::vector<int32_t> set_counts;
};

struct element_group
{
    uint8_t marker = 0;
    int32_t instance = 0;
    std::vector<marker_element> elements; // increasing id
    bool translated = false;

    marker_element *find(uint8_t id);
    const marker_element *find(uint8_t id) const;
};

struct out_segment
{
    int32_t instance = 0;
    std::vector<uint8_t> bytes; // marker and length included
};

struct out_header
{
    std::vector<std::unique_ptr<element_group>> groups; // list order: most recent first
    std::vector<out_segment> segments;                  // list order
    int32_t header_bytes = 0;
    bool translated = false;
    int components = 0;

    element_group *find(uint8_t marker, int32_t instance);
};

class stream_out
{
public:
    stream_out() = default;
    ~stream_out();
    stream_out(const stream_out &) = delete;
    stream_out &operator=(const stream_out &) = delete;

    void initialize(int32_t budget, const char *file_name, command_line *args);
    usage_table get_usage();
    void add_comment(int rcme, int count, const uint8_t *bytes);
    void declare_marker_elt(int tile, const char *description, int instance, int precision, int count);
    void set_marker_val(int tile, const char *description, int instance, int32_t value, int index);
    int marker_elt_count(int tile, const char *description, int instance);
    int32_t get_marker_val(int tile, const char *description, int instance, int index);
    void write_global_header();
    int global_header_bytes();
    int remaining_bytes();
    void start_packet(int layer, int head_bytes, int body_bytes, int blocks, int simulate);
    int start_tile(int tile, int simulate, int tile_part_length);
    void put_head_bytes(const uint8_t *bytes, int count);
    void put_body_bytes(const uint8_t *bytes, int count);
    int end_packet();
    void terminate();

    int premarker_segments() const { return m_premarkers; }

private:
    struct tile_record
    {
        int32_t tile;
        out_header header;
        bool sop = false, eph = false;
        bool sop_set = false, eph_set = false; // set by a tile-specific option
    };

    out_header *HeaderFor(int tile, bool create);
    tile_record *TileFor(int tile);
    const marker_element *Lookup(int tile, const char *description, int instance);
    void ReadMarkerFlag(command_line *args, const char *option, const char *message, const char *element,
                        bool *main_flag, bool sop);
    void Translate(out_header &header, bool tile_header);
    void WriteHeaderSegments(const out_header &header);
    void Write(const uint8_t *bytes, size_t count);
    void Write16(int value);

    std::unique_ptr<FILE, int (*)(FILE *)> m_file{nullptr, &std::fclose};
    out_header m_main;
    std::vector<std::unique_ptr<tile_record>> m_tiles;
    int64_t m_budget = 0;
    bool m_main_sop = false, m_main_eph = false;
    bool m_sop = false, m_eph = false; // the current tile-part's
    uint16_t m_sop_counter = 0;
    int m_packet_mode = 0; // +1 writing, -1 simulating, 0 between packets
    int m_packet_length = 0;
    int m_head_expected = 0;
    int m_body_expected = 0;
    int m_premarkers = 0;
    bool m_old_sot = false;
    bool m_global_written = false;
};

std::unique_ptr<stream_out> create_stream_out();

// Turns one header's elements into segments (COD/COC, QCD/QCC, SIZ, RGN, POC, premarker).
// `main` is the main header when `header` is a tile's. Returns the number of premarker segments made.
int TranslateOutHeader(out_header &header, out_header *main, int components,
                       const std::vector<int> &levels_per_component);

// The packed form of a group that has no standard segment.
std::vector<uint8_t> PackPremarker(const element_group &group);

} // namespace zn::j2k
