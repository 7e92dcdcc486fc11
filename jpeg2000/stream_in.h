// The code-stream reader: turns the main header and the tile-part headers back into the marker
// elements the encoder declared, then hands out packet bytes in code-stream order, using SOP and EPH
// markers to stay in step. It trusts nothing: every length is checked against the bytes really
// there, and a decoding budget makes a long stream read exactly like one cut at that length.
#pragma once

#include "jpeg2000/codec_object.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace zn::j2k {

struct in_segment
{
    std::vector<uint8_t> bytes; // as read: marker, length and whatever data the file held
    int accessed = 0;
    int marker() const { return bytes.size() >= 2 ? bytes[1] : 0; }
    int length_field() const { return bytes.size() >= 4 ? (bytes[2] << 8) | bytes[3] : -1; }
    bool complete() const { return length_field() >= 2 && bytes.size() == size_t(length_field()) + 2; }
};

struct in_element
{
    uint8_t marker = 0, id = 0;
    const char *description = "<unknown>";
    std::vector<int32_t> values;
};

struct in_group
{
    uint8_t marker = 0;
    int32_t instance = 0;
    std::vector<in_element> elements;
    in_element *find(uint8_t id);
};

struct in_header
{
    std::vector<in_group> groups;
    std::vector<in_segment> segments; // file order
    int64_t header_bytes = 0;
    int components = 0;
    in_group *find(uint8_t marker, int32_t instance);
};

struct head_chunk
{
    std::vector<uint8_t> bytes;
    size_t pos = 0;
};

class stream_in
{
public:
    stream_in() = default;
    ~stream_in();
    stream_in(const stream_in &) = delete;
    stream_in &operator=(const stream_in &) = delete;

    void initialize(const char *file_name);
    usage_table get_usage() { return nullptr; }
    const uint8_t *get_comment(int rcme, int n, int *length);
    void set_truncation(int bytes);
    int marker_elt_count(int tile, const char *description, int instance);
    int32_t get_marker_val(int tile, const char *description, int instance, int index);
    int tile_has_markers(int tile);
    int global_header_bytes();
    int start_packet(int *tile, int *header_bytes);
    int get_head_bytes(uint8_t *buffer, int n);
    int get_body_bytes(uint8_t *buffer, int n);
    void end_packet(int *last, int *bytes);
    void terminate();

    // The same reading over bytes already in memory (tests and fuzzing).
    void initialize_from_memory(std::vector<uint8_t> bytes);

private:
    struct tile_part
    {
        int32_t tile = 0;
        int tpsot = 0;
        int32_t tnsot = INT32_MAX;
        bool sop = false, eph = false;
        in_header header;
        int64_t data_start = 0, data_len = 0, data_pos = 0;
        bool psot_zero = false;
        bool settled = false; // its data lies behind the reading position
        bool finished = false;
        std::deque<head_chunk> chunks;
        uint16_t expected_sop = 0;
        tile_part *previous = nullptr;
    };

    void Start();
    int ReadByte();
    void ReadSegments(in_header &h, int *delimiter);
    void ParseHeader(in_header &h, tile_part *tp);
    void ParsePpm();
    bool UnpackPremarker(in_header &h, in_segment &s);
    void UnpackPremarkers(in_header &h, int rcme_low);
    bool TranslateSiz(in_header &h, in_segment &s);
    bool TranslateCod(in_header &h, int components);
    bool TranslateQcd(in_header &h, int components);
    int ComponentsFor(tile_part *tp);
    tile_part *ReadTilePart(bool *end);
    void SettleLastTilePart();
    tile_part *FirstTilePartOf(int tile);
    void NextTilePart();
    void ReleaseHeader(in_header &h, int tile);
    void FinishTilePart();
    int DataByte(tile_part &tp, bool *marker_end);
    int ReadData(uint8_t *buffer, int n, bool head);
    bool SkipToEph();
    void SeekSop();
    const in_element *Lookup(int tile, const char *description, int instance, int index, bool fail);

    std::vector<uint8_t> m_data;
    int64_t m_pos = 0;
    in_header m_main;
    std::vector<std::unique_ptr<tile_part>> m_parts; // file order
    tile_part *m_current = nullptr;
    tile_part *m_last_read = nullptr;
    bool m_stream_ended = false;
    bool m_truncation_set = false;
    int64_t m_bytes_left = 0;
    bool m_sot_read = false;
    bool m_main_sop = false, m_main_eph = false;
    int m_missing = 0;
    bool m_eph_seen = false;
    int64_t m_packet_bytes = 0;
    bool m_new_tile_part = false;
    int m_failures = 0;
    std::deque<std::deque<head_chunk>> m_ppm;
    bool m_initialized = false;
    int64_t m_component_groups = 0;
    static constexpr int64_t kMaxComponentGroups = 4'000'000;
};

std::unique_ptr<stream_in> create_stream_in();

} // namespace zn::j2k
