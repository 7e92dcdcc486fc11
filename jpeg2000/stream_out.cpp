// The code-stream writer's element store, options, tile-parts, packets and the byte budget.
#include "jpeg2000/stream_out.h"

#include "jpeg2000/command_line.h"
#include "jpeg2000/local_services.h"
#include "jpeg2000/marker_elements.h"

#include <algorithm>
#include <cstring>

namespace zn::j2k {

namespace {
const char *const kStreamOutUsage[] = {
    "-Bresync[+<tnum>] [Y|N]",
    "Insert resync (SOP) markers on packet boundaries, for the whole image or for one tile. Without a "
    "parameter, or with Y, the markers are used; N turns them off.",
    "-Beph[+<tnum>] [Y|N]",
    "Insert EPH markers on packet boundaries, right after each packet head; useful for codestreams whose "
    "packet heads are later moved. Parameters as for -Bresync.",
    "-Bold_sot",
    "Write tile-part headers in the old SOT style, without the byte that counts the tile-parts.",
    "-Bcomment comment",
    "Place a comment in the codestream; quote it when it has several words.",
    nullptr,
};
} // namespace

marker_element *element_group::find(uint8_t id)
{
    for (auto &e : elements)
        if (e.id == id)
            return &e;
    return nullptr;
}

const marker_element *element_group::find(uint8_t id) const
{
    for (auto &e : elements)
        if (e.id == id)
            return &e;
    return nullptr;
}

element_group *out_header::find(uint8_t marker, int32_t instance)
{
    for (auto &g : groups)
        if (g->marker == marker && g->instance == instance)
            return g.get();
    return nullptr;
}

std::unique_ptr<stream_out> create_stream_out()
{
    return std::make_unique<stream_out>();
}

stream_out::~stream_out() = default;

usage_table stream_out::get_usage()
{
    return kStreamOutUsage;
}

void stream_out::ReadMarkerFlag(command_line *args, const char *option, const char *message,
                                const char *element, bool *main_flag, bool sop)
{
    auto parse = [&](int count, const char *const *params) {
        if (count == 0)
            return true;
        if (count == 1 && (params[0][0] == 'Y' || params[0][0] == 'N'))
            return params[0][0] == 'Y';
        local_error("%s", message);
    };
    const char *const *params = nullptr;
    int count = args ? args->find(option, -1, &params) : -1;
    if (count >= 0)
        *main_flag = parse(count, params);
    declare_marker_elt(-1, element, 0, 1, 1);
    set_marker_val(-1, element, 0, *main_flag ? 1 : 0, 0);
    if (!args)
        return;
    int tile = -1;
    for (count = args->find_next_tile(option, 0, &tile, &params); count >= 0;
         count = args->find_next_tile(option, tile + 1, &tile, &params)) {
        bool flag = parse(count, params);
        declare_marker_elt(tile, element, 0, 1, 1);
        set_marker_val(tile, element, 0, flag ? 1 : 0, 0);
        tile_record *t = TileFor(tile);
        (sop ? t->sop : t->eph) = flag;
        (sop ? t->sop_set : t->eph_set) = true;
        if (tile == INT32_MAX)
            break;
    }
}

void stream_out::initialize(int32_t budget, const char *file_name, command_line *args)
{
    m_file.reset(std::fopen(file_name, "wb"));
    if (!m_file)
        local_error("Unable to open output bit-stream file, \"%s\"!", file_name);
    const char *const *params = nullptr;
    int count = args ? args->find("-Bcomment", -1, &params) : -1;
    if (count >= 0) {
        if (count != 1)
            local_error("The `-Bcomment' argument requires a single string parameter!");
        add_comment(1, static_cast<int>(std::strlen(params[0])),
                    reinterpret_cast<const uint8_t *>(params[0]));
    }
    m_budget = budget;
    if (args && args->find("-Bold_sot", -1) > 0)
        local_error("The `-Bold_sot' argument takes no parameters!");
    m_old_sot = args && args->find("-Bold_sot", -1) == 0;
    ReadMarkerFlag(
        args, "-Bresync",
        "The `-Bresync' argument takes either no parameters or a single parameter consisting of one "
        "of the characters, `N' or `Y'!",
        elt::SopUsed, &m_main_sop, true);
    ReadMarkerFlag(
        args, "-Beph",
        "The `-Beph' argument takes either no parameters or a single parameter consisting of one of "
        "the characters, `N' or `Y'!",
        elt::EphUsed, &m_main_eph, false);
    for (auto &t : m_tiles) {
        if (!t->sop_set)
            t->sop = m_main_sop;
        if (!t->eph_set)
            t->eph = m_main_eph;
    }
}

void stream_out::add_comment(int rcme, int count, const uint8_t *bytes)
{
    if (rcme >= 0xFF00)
        local_error("Real CME markers may not use Rcme codes in the range FF00 through FFFF; the current "
                    "implementation uses these codes to pack generic marker segments for which a conversion "
                    "to final codestream markers has not yet been implemented!");
    if (count < 0 || count > 0xFFFF - 4)
        local_error("A comment of %d bytes does not fit in one comment segment (at most 65531 bytes)!",
                    count);
    out_segment seg;
    seg.bytes = {0xFF,         0x64, uint8_t((count + 4) >> 8), uint8_t(count + 4), uint8_t(rcme >> 8),
                 uint8_t(rcme)};
    seg.bytes.insert(seg.bytes.end(), bytes, bytes + count);
    m_main.segments.push_back(std::move(seg));
}

stream_out::tile_record *stream_out::TileFor(int tile)
{
    for (auto &t : m_tiles)
        if (t->tile == tile)
            return t.get();
    auto t = std::make_unique<tile_record>();
    t->tile = tile;
    t->sop = m_main_sop;
    t->eph = m_main_eph;
    m_tiles.push_back(std::move(t));
    return m_tiles.back().get();
}

out_header *stream_out::HeaderFor(int tile, bool create)
{
    if (tile < 0)
        return &m_main;
    if (create)
        return &TileFor(tile)->header;
    for (auto &t : m_tiles)
        if (t->tile == tile)
            return &t->header;
    return nullptr;
}

void stream_out::declare_marker_elt(int tile, const char *description, int instance, int precision, int count)
{
    out_header *header = HeaderFor(tile, true);
    if (header->translated)
        local_error("Attempting to declare a marker element in the global header or a tile header, which has "
                    "already been written to the codestream!  The marker element has the description \"%s\"!",
                    ElementText(description));
    if (precision < 1 || precision > 32 || count < 0 || count > 0xFFFF)
        local_error(
            "Marker element \"%s\" declared with a precision of %d bits and %d values; precisions run "
            "from 1 to 32 bits and counts from 0 to 65535!",
            ElementText(description), precision, count);
    uint8_t marker = ElementMarker(description), id = ElementId(description);
    element_group *group = header->find(marker, instance);
    if (!group) {
        auto g = std::make_unique<element_group>();
        g->marker = marker;
        g->instance = instance;
        group = g.get();
        header->groups.insert(header->groups.begin(), std::move(g));
    }
    if (group->find(id))
        local_error(
            "Attempting to declare the marker element \"%s\" multiple times with the same instance and "
            "scope!",
            ElementText(description));
    marker_element e;
    e.marker = marker;
    e.id = id;
    e.description = description;
    e.precision = precision;
    e.values.assign(count, 0);
    e.set_counts.assign(count, 0);
    auto at = std::find_if(group->elements.begin(), group->elements.end(),
                           [id](const marker_element &x) { return x.id > id; });
    group->elements.insert(at, std::move(e));
}

void stream_out::set_marker_val(int tile, const char *description, int instance, int32_t value, int index)
{
    out_header *header = HeaderFor(tile, false);
    element_group *group = header ? header->find(ElementMarker(description), instance) : nullptr;
    marker_element *e = group ? group->find(ElementId(description)) : nullptr;
    if (!e)
        local_error(
            "Attempting to set a marker value inside a marker element which has not yet been declared in "
            "the same instance and scope!  Offending element has the description, \"%s\"!",
            ElementText(description));
    if (index < 0 || index >= static_cast<int>(e->values.size()))
        local_error("Attempting to set value %d of marker element \"%s\", which holds only %d values!", index,
                    ElementText(description), static_cast<int>(e->values.size()));
    ++e->set_counts[index];
    e->values[index] = value;
    if (e->precision < 32 && (static_cast<uint32_t>(value) >> e->precision) != 0)
        local_error("Attempting to set a value which exceeds the precision declared for a marker element!  "
                    "Possible cause of the problem is that a signed value has been simply typecast to an "
                    "unsigned quantity.  Problem encountered with a marker element having the description, "
                    "\"%s\".",
                    ElementText(description));
}

const marker_element *stream_out::Lookup(int tile, const char *description, int instance)
{
    uint8_t marker = ElementMarker(description), id = ElementId(description);
    if (tile >= 0)
        if (out_header *h = HeaderFor(tile, false))
            if (element_group *g = h->find(marker, instance))
                if (const marker_element *e = g->find(id))
                    return e;
    element_group *g = m_main.find(marker, instance);
    return g ? g->find(id) : nullptr;
}

int stream_out::marker_elt_count(int tile, const char *description, int instance)
{
    const marker_element *e = Lookup(tile, description, instance);
    return e ? static_cast<int>(e->values.size()) : 0;
}

int32_t stream_out::get_marker_val(int tile, const char *description, int instance, int index)
{
    const marker_element *e = Lookup(tile, description, instance);
    if (!e || index < 0 || index >= static_cast<int>(e->values.size()) || e->set_counts[index] == 0)
        local_error("The value requested from marker element \"%s\" via `stream_out__get_marker_val' has not "
                    "been set!  This is a dangerous function to use!",
                    ElementText(description));
    return e->values[index];
}

void stream_out::Translate(out_header &header, bool tile_header)
{
    for (auto &g : header.groups)
        for (auto &e : g->elements)
            for (size_t i = 0; i < e.values.size(); ++i) {
                if (e.set_counts[i] == 0)
                    local_error(
                        "One or more declared marker element values not set.  Problem encountered in a "
                        "marker element with description, \"%s\"!",
                        ElementText(e.description));
                if (e.set_counts[i] > 1)
                    local_error("One or more declared marker element values set multiple times.  Problem "
                                "encountered in a marker element with description, \"%s\"!",
                                ElementText(e.description));
            }
    int scope = -1;
    if (tile_header)
        for (auto &t : m_tiles)
            if (&t->header == &header)
                scope = t->tile;
    int components = get_marker_val(scope, elt::CSiz, 0, 0);
    if (components < 0 || components > 0xFFFF)
        local_error("The number of image components, %d, is out of range!", components);
    std::vector<int> levels(components);
    for (int c = 0; c < components; ++c)
        levels[c] = get_marker_val(scope, elt::Levels, c, 0);
    header.components = components;
    m_premarkers += TranslateOutHeader(header, tile_header ? &m_main : nullptr, components, levels);
    header.translated = true;
}

void stream_out::Write(const uint8_t *bytes, size_t count)
{
    m_budget -= static_cast<int64_t>(count);
    int64_t fits = m_budget >= 0 ? static_cast<int64_t>(count) : static_cast<int64_t>(count) + m_budget;
    if (fits > 0 && m_file)
        std::fwrite(bytes, 1, static_cast<size_t>(fits), m_file.get());
}

void stream_out::Write16(int value)
{
    uint8_t b[2] = {uint8_t(value >> 8), uint8_t(value)};
    Write(b, 2);
}

void stream_out::WriteHeaderSegments(const out_header &header)
{
    for (const auto &s : header.segments)
        if (s.bytes[1] == kSIZ)
            Write(s.bytes.data(), s.bytes.size());
    for (const auto &s : header.segments)
        if (s.bytes[1] != kSIZ)
            Write(s.bytes.data(), s.bytes.size());
}

void stream_out::write_global_header()
{
    if (m_global_written)
        return;
    Translate(m_main, false);
    m_global_written = true;
    m_main.header_bytes = 2;
    for (const auto &s : m_main.segments)
        m_main.header_bytes += static_cast<int32_t>(s.bytes.size());
    Write16(0xFF4F);
    WriteHeaderSegments(m_main);
}

int stream_out::global_header_bytes()
{
    return m_global_written ? m_main.header_bytes : 0;
}

int stream_out::remaining_bytes()
{
    return static_cast<int>(std::clamp<int64_t>(m_budget, INT32_MIN, INT32_MAX));
}

int stream_out::start_tile(int tile, int simulate, int tile_part_length)
{
    if (tile < 0 || tile > 0xFFFF)
        local_error("Tile index %d does not fit the 16-bit field of a tile-part header!", tile);
    int base = m_old_sot ? 13 : 14;
    int result = base;
    tile_record *record = nullptr;
    for (auto &t : m_tiles)
        if (t->tile == tile)
            record = t.get();
    if (record) {
        if (!record->header.translated) {
            Translate(record->header, true);
            record->header.header_bytes = base;
            for (const auto &s : record->header.segments)
                record->header.header_bytes += static_cast<int32_t>(s.bytes.size());
        }
        result = record->header.header_bytes;
        m_sop = record->sop;
        m_eph = record->eph;
    } else {
        m_sop = m_main_sop;
        m_eph = m_main_eph;
    }
    if (simulate)
        return result;
    std::vector<uint8_t> sot = {0xFF,
                                0x90,
                                0x00,
                                uint8_t(m_old_sot ? 9 : 10),
                                uint8_t(tile >> 8),
                                uint8_t(tile),
                                uint8_t(uint32_t(tile_part_length) >> 24),
                                uint8_t(uint32_t(tile_part_length) >> 16),
                                uint8_t(uint32_t(tile_part_length) >> 8),
                                uint8_t(tile_part_length),
                                0x00};
    if (!m_old_sot)
        sot.push_back(0x01);
    Write(sot.data(), sot.size());
    if (record)
        WriteHeaderSegments(record->header);
    Write16(0xFF93);
    m_sop_counter = 0;
    return result;
}

void stream_out::start_packet(int, int head_bytes, int body_bytes, int, int simulate)
{
    m_packet_mode = simulate ? -1 : 1;
    m_head_expected = head_bytes;
    m_body_expected = body_bytes;
    m_packet_length = head_bytes + body_bytes;
    if (m_sop) {
        if (!simulate) {
            uint8_t sop[6] = {0xFF, 0x91, 0x00, 0x04, uint8_t(m_sop_counter >> 8), uint8_t(m_sop_counter)};
            Write(sop, 6);
            ++m_sop_counter;
        }
        m_packet_length += 6;
    }
}

void stream_out::put_head_bytes(const uint8_t *bytes, int count)
{
    if (count <= 0)
        return;
    m_head_expected -= count;
    if (m_packet_mode > 0)
        Write(bytes, static_cast<size_t>(count));
    if (m_head_expected == 0 && m_eph) {
        m_packet_length += 2;
        if (m_packet_mode > 0)
            Write16(0xFF92);
    }
}

void stream_out::put_body_bytes(const uint8_t *bytes, int count)
{
    if (count <= 0)
        return;
    m_body_expected -= count;
    if (m_packet_mode > 0)
        Write(bytes, static_cast<size_t>(count));
}

int stream_out::end_packet()
{
    m_packet_mode = 0;
    return m_packet_length;
}

void stream_out::terminate()
{
    if (m_file) {
        Write16(0xFFD9);
        m_file.reset();
    }
    m_main = out_header();
    m_tiles.clear();
}

} // namespace zn::j2k
