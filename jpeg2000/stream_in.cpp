// Code-stream input: the main header, tile-parts in file order (skipping the malformed ones), the
// decoding budget, element lookups, and packet bytes with SOP/EPH resynchronisation.
#include "jpeg2000/stream_in.h"

#include "jpeg2000/local_services.h"
#include "jpeg2000/marker_elements.h"

#include <algorithm>
#include <cstdio>

namespace zn::j2k {

std::unique_ptr<stream_in> create_stream_in()
{
    return std::make_unique<stream_in>();
}

stream_in::~stream_in() = default;

void stream_in::initialize(const char *file_name)
{
    std::unique_ptr<FILE, int (*)(FILE *)> f(std::fopen(file_name, "rb"), &std::fclose);
    if (!f)
        local_error("Unable to open input file, \"%s\"!", file_name);
    // Room for the whole file at once, so that reading it never holds it twice while growing.
    std::vector<uint8_t> bytes;
    if (std::fseek(f.get(), 0, SEEK_END) == 0) {
        const long size = std::ftell(f.get());
        if (size > 0)
            bytes.reserve(size_t(size));
        std::rewind(f.get());
    }
    uint8_t buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f.get())) > 0;)
        bytes.insert(bytes.end(), buffer, buffer + n);
    initialize_from_memory(std::move(bytes));
}

void stream_in::initialize_from_memory(std::vector<uint8_t> bytes)
{
    m_data = std::move(bytes);
    Start();
}

int stream_in::ReadByte()
{
    if (m_truncation_set && m_bytes_left <= 0)
        return -1;
    if (m_pos >= static_cast<int64_t>(m_data.size()))
        return -1;
    --m_bytes_left;
    return m_data[m_pos++];
}

// Segments up to the next delimiter: SOT (0x90), SOD (0x93), EOC (0xD9) or the end (-1).
void stream_in::ReadSegments(in_header &h, int *delimiter)
{
    for (;;) {
        int b;
        do
            b = ReadByte();
        while (b >= 0 && b != 0xFF);
        if (b < 0) {
            *delimiter = -1;
            return;
        }
        int marker = ReadByte();
        while (marker == 0xFF) // fill bytes before a marker
            marker = ReadByte();
        if (marker < 0 || marker == 0x90 || marker == 0x93 || marker == 0xD9) {
            *delimiter = marker;
            return;
        }
        in_segment s;
        s.bytes = {0xFF, uint8_t(marker)};
        for (int i = 0; i < 2; ++i) {
            int x = ReadByte();
            if (x < 0)
                break;
            s.bytes.push_back(uint8_t(x));
        }
        for (int i = 0, n = s.length_field() - 2; i < n; ++i) {
            int x = ReadByte();
            if (x < 0)
                break;
            s.bytes.push_back(uint8_t(x));
        }
        h.header_bytes += static_cast<int64_t>(s.bytes.size());
        h.segments.push_back(std::move(s));
    }
}

void stream_in::Start()
{
    m_initialized = true;
    if (ReadByte() != 0xFF || ReadByte() != 0x4F)
        local_error("Input codestream does not commence with the SOC marker!");
    m_main.header_bytes = 2;
    int delimiter = 0;
    ReadSegments(m_main, &delimiter);
    if (delimiter != 0x90)
        local_error("Input codestream does not appear to contain an initial SOT marker!");
    m_sot_read = true;
    ParseHeader(m_main, nullptr);
    if (in_group *g = m_main.find(kCOD, 0)) {
        if (in_element *e = g->find(0x11); e && !e->values.empty())
            m_main_sop = e->values[0] != 0;
        if (in_element *e = g->find(0x12); e && !e->values.empty())
            m_main_eph = e->values[0] != 0;
    }
    NextTilePart();
}

// Before the next tile-part header is read, the last one's unread data moves behind the reading
// position; an SOT or EOC inside it ends that data early.
void stream_in::SettleLastTilePart()
{
    tile_part *tp = m_last_read;
    if (!tp || tp->settled)
        return;
    tp->settled = true;
    if (tp->finished) {
        m_pos = std::min<int64_t>(tp->data_start + tp->data_len, static_cast<int64_t>(m_data.size()));
        return;
    }
    if (tp->psot_zero)
        local_error(
            "Only the last tile-part in the codestream is allowed to have a zero-valued tile-part length "
            "field!");
    int64_t end = std::min<int64_t>(tp->data_start + tp->data_len, static_cast<int64_t>(m_data.size()));
    for (int64_t i = tp->data_start + tp->data_pos; i + 1 < end; ++i)
        if (m_data[i] == 0xFF && (m_data[i + 1] == 0x90 || m_data[i + 1] == 0xD9)) {
            m_bytes_left += end - i; // given back to the following reads
            tp->data_len = i - tp->data_start;
            end = i;
            break;
        }
    m_pos = end;
}

stream_in::tile_part *stream_in::ReadTilePart(bool *stream_end)
{
    *stream_end = false;
    SettleLastTilePart();
    if (!m_sot_read) {
        int prev = -1;
        for (;;) {
            int b = ReadByte();
            if (b < 0) {
                *stream_end = true;
                return nullptr;
            }
            if (prev == 0xFF && b == 0x90)
                break;
            prev = b;
        }
    }
    m_sot_read = false;
    int f[8];
    int lsot_hi = ReadByte(), lsot_lo = ReadByte();
    int lsot = (lsot_hi << 8) | lsot_lo;
    int fields = lsot == 9 ? 7 : 8; // Isot, Psot, TPsot and, unless old style, TNsot
    f[7] = 0;
    for (int i = 0; i < fields; ++i)
        f[i] = ReadByte();
    if (lsot_hi < 0 || lsot_lo < 0 || std::any_of(f, f + fields, [](int x) { return x < 0; })) {
        *stream_end = true;
        return nullptr;
    }
    if (lsot != 9 && lsot != 10)
        return nullptr; // skipped
    auto tp = std::make_unique<tile_part>();
    tp->tile = (f[0] << 8) | f[1];
    int64_t psot = (int64_t(f[2]) << 24) | (f[3] << 16) | (f[4] << 8) | f[5];
    tp->tpsot = f[6];
    tp->tnsot = (lsot == 9 || f[7] == 0) ? INT32_MAX : f[7];
    for (auto it = m_parts.rbegin(); it != m_parts.rend(); ++it)
        if ((*it)->tile == tp->tile) {
            tp->previous = it->get();
            break;
        }
    if (tp->tpsot != (tp->previous ? tp->previous->tpsot + 1 : 0))
        return nullptr; // out of order: skipped
    if (tp->previous)
        tp->tnsot = tp->previous->tnsot;
    tp->header.header_bytes = lsot == 9 ? 11 : 12;
    int delimiter = 0;
    ReadSegments(tp->header, &delimiter);
    if (delimiter != 0x93) {
        if (delimiter == 0x90)
            m_sot_read = true;
        else
            *stream_end = true;
        return nullptr;
    }
    tp->header.header_bytes += 2;
    tile_part *raw = tp.get();
    m_parts.push_back(std::move(tp));
    m_last_read = raw;
    raw->data_start = m_pos;
    // A tile-part's own parse may look up elements of its tile: it must already be in the list.
    ParseHeader(raw->header, raw);
    raw->psot_zero = psot == 0;
    int64_t available = static_cast<int64_t>(m_data.size()) - raw->data_start;
    int64_t data = psot == 0 ? available : std::max<int64_t>(0, psot - raw->header.header_bytes);
    if (m_truncation_set)
        data = std::clamp<int64_t>(data, 0, std::max<int64_t>(0, m_bytes_left));
    raw->data_len = data;
    m_bytes_left -= data;
    if (raw->previous) {
        raw->sop = raw->previous->sop;
        raw->eph = raw->previous->eph;
    } else {
        raw->sop = m_main_sop;
        raw->eph = m_main_eph;
        if (in_group *g = raw->header.find(kCOD, 0)) {
            if (in_element *e = g->find(0x11); e && !e->values.empty())
                raw->sop = e->values[0] != 0;
            if (in_element *e = g->find(0x12); e && !e->values.empty())
                raw->eph = e->values[0] != 0;
        }
    }
    return raw;
}

stream_in::tile_part *stream_in::FirstTilePartOf(int tile)
{
    for (;;) {
        for (auto &tp : m_parts)
            if (tp->tile == tile)
                return tp.get();
        if (m_stream_ended)
            return nullptr;
        bool end = false;
        ReadTilePart(&end);
        m_stream_ended = end;
    }
}

void stream_in::ReleaseHeader(in_header &h, int tile)
{
    for (const auto &s : h.segments)
        if (!s.accessed) {
            int code = 0xFF00 | s.marker();
            if (tile < 0)
                local_printf(0, 76, "Warning: Marker code %0x in global header was not accessed!", code);
            else
                local_printf(0, 76, "Warning: Marker code %0x in tile %d was not accessed!", code, tile);
        }
    h.segments.clear(); // the element groups stay: lookups for the tile still read them
}

void stream_in::NextTilePart()
{
    for (;;) {
        tile_part *candidate = nullptr;
        if (m_current) {
            ReleaseHeader(m_current->header, m_current->tile);
            m_current->chunks.clear();
            m_current->finished = true;
            auto it =
                std::find_if(m_parts.begin(), m_parts.end(), [&](auto &p) { return p.get() == m_current; });
            if (it != m_parts.end() && ++it != m_parts.end())
                candidate = it->get();
        } else if (!m_parts.empty()) {
            candidate = m_parts.front().get();
        }
        while (!candidate && !m_stream_ended) {
            bool end = false;
            candidate = ReadTilePart(&end);
            m_stream_ended = end;
        }
        m_current = candidate;
        if (!candidate)
            return;
        m_missing = 0;
        if (candidate->previous)
            candidate->expected_sop = candidate->previous->expected_sop;
        if (candidate->sop) {
            SeekSop();
            if (candidate->finished) // its data ended before any SOP
                continue;
        }
        m_new_tile_part = true;
        return;
    }
}

// The next byte of the current tile-part's data, or -1. A marker that ends the data (EOC or SOT)
// ends it at once: the rest goes back to the budget and the next header read finds the marker.
int stream_in::DataByte(tile_part &tp, bool *marker_end)
{
    *marker_end = false;
    int64_t at = tp.data_start + tp.data_pos;
    if (tp.data_pos >= tp.data_len || at >= static_cast<int64_t>(m_data.size()))
        return -1;
    if (m_data[at] == 0xFF && tp.data_pos + 1 < tp.data_len && at + 1 < static_cast<int64_t>(m_data.size()) &&
        (m_data[at + 1] == 0xD9 || m_data[at + 1] == 0x90)) {
        m_bytes_left += tp.data_len - tp.data_pos;
        tp.data_len = tp.data_pos;
        if (&tp == m_last_read && !tp.settled) {
            m_pos = at;
            tp.settled = true;
        }
        *marker_end = true;
        return -1;
    }
    ++tp.data_pos;
    return m_data[at];
}

int stream_in::ReadData(uint8_t *buffer, int n, bool head)
{
    if (m_missing > 0 || !m_current)
        return 0;
    tile_part &tp = *m_current;
    int got = 0;
    while (got < n) {
        bool marker_end = false;
        int64_t at = tp.data_start + tp.data_pos;
        int b = DataByte(tp, &marker_end);
        if (b < 0)
            break;
        if (b == 0xFF && tp.data_pos < tp.data_len && at + 1 < static_cast<int64_t>(m_data.size())) {
            int next = m_data[at + 1];
            if (tp.sop && next == 0x91 && tp.data_pos + 5 <= tp.data_len && at + 5 < int64_t(m_data.size()) &&
                m_data[at + 2] == 0x00 && m_data[at + 3] == 0x04) {
                int number = (m_data[at + 4] << 8) | m_data[at + 5];
                tp.data_pos += 5;
                m_packet_bytes += 6;
                m_missing = ((number - tp.expected_sop) & 0xFFFF) + 1;
                break;
            }
            if (tp.eph && next == 0x92 && !m_eph_seen) {
                ++tp.data_pos;
                m_packet_bytes += 2;
                m_eph_seen = true;
                if (head)
                    break;
                continue;
            }
        }
        buffer[got++] = uint8_t(b);
        ++m_packet_bytes;
    }
    return got;
}

int stream_in::start_packet(int *tile, int *header_bytes)
{
    if (header_bytes)
        *header_bytes = 0;
    if (!m_current) {
        if (tile)
            *tile = -1;
        return 0;
    }
    if (tile)
        *tile = m_current->tile;
    m_packet_bytes = 0;
    m_eph_seen = false;
    if (m_new_tile_part) {
        m_new_tile_part = false;
        if (header_bytes)
            *header_bytes = static_cast<int>(std::min<int64_t>(m_current->header.header_bytes, INT32_MAX));
    }
    if (m_current->sop) {
        ++m_current->expected_sop;
        if (m_missing > 0)
            return 0;
        m_packet_bytes = 6;
    }
    return 1;
}

int stream_in::get_head_bytes(uint8_t *buffer, int n)
{
    if (!m_current || n <= 0 || (m_current->eph && m_eph_seen))
        return 0;
    if (m_current->chunks.empty())
        return ReadData(buffer, n, true);
    int got = 0;
    auto &chunks = m_current->chunks;
    while (got < n && !chunks.empty()) {
        head_chunk &c = chunks.front();
        if (c.pos >= c.bytes.size()) {
            chunks.pop_front();
            continue;
        }
        if (m_current->eph && !m_eph_seen && c.bytes[c.pos] == 0xFF && c.pos + 1 < c.bytes.size() &&
            c.bytes[c.pos + 1] == 0x92) {
            c.pos += 2;
            m_eph_seen = true;
            break;
        }
        buffer[got++] = c.bytes[c.pos++];
    }
    return got;
}

// Skips to just after the packet head's EPH; false when the data ended (or an SOP came) first.
bool stream_in::SkipToEph()
{
    tile_part &tp = *m_current;
    if (!tp.chunks.empty()) {
        while (!tp.chunks.empty()) {
            head_chunk &c = tp.chunks.front();
            for (; c.pos + 1 < c.bytes.size(); ++c.pos)
                if (c.bytes[c.pos] == 0xFF && c.bytes[c.pos + 1] == 0x92) {
                    c.pos += 2;
                    m_eph_seen = true;
                    return true;
                }
            tp.chunks.pop_front();
        }
        return false;
    }
    for (;;) {
        bool marker_end = false;
        int64_t at = tp.data_start + tp.data_pos;
        int b = DataByte(tp, &marker_end);
        if (b < 0)
            return false;
        ++m_packet_bytes;
        if (b != 0xFF || tp.data_pos >= tp.data_len || at + 1 >= static_cast<int64_t>(m_data.size()))
            continue;
        int next = m_data[at + 1];
        if (next == 0x92) {
            ++tp.data_pos;
            ++m_packet_bytes;
            m_eph_seen = true;
            return true;
        }
        if (tp.sop && next == 0x91 && tp.data_pos + 5 <= tp.data_len && at + 5 < int64_t(m_data.size())) {
            int number = (m_data[at + 4] << 8) | m_data[at + 5];
            tp.data_pos += 5;
            m_packet_bytes += 5;
            m_missing = ((number - tp.expected_sop) & 0xFFFF) + 1;
            return false;
        }
    }
}

int stream_in::get_body_bytes(uint8_t *buffer, int n)
{
    if (!m_current || n <= 0 || m_missing > 0)
        return 0;
    if (m_current->eph && !m_eph_seen && !SkipToEph())
        return 0;
    return ReadData(buffer, n, false);
}

// Packet end with SOP markers on: the next packet must begin with the SOP of the expected number.
void stream_in::SeekSop()
{
    tile_part &tp = *m_current;
    bool skipped = false;
    for (;;) {
        bool marker_end = false;
        int64_t at = tp.data_start + tp.data_pos;
        int b = DataByte(tp, &marker_end);
        if (b < 0) {
            FinishTilePart();
            return;
        }
        if (b == 0xFF && tp.data_pos + 5 <= tp.data_len && at + 5 < int64_t(m_data.size()) &&
            m_data[at + 1] == 0x91 && m_data[at + 2] == 0x00 && m_data[at + 3] == 0x04) {
            int number = (m_data[at + 4] << 8) | m_data[at + 5];
            tp.data_pos += 5;
            if (skipped || number != tp.expected_sop)
                m_missing = (number - tp.expected_sop) & 0xFFFF;
            return;
        }
        skipped = true;
    }
}

void stream_in::FinishTilePart()
{
    tile_part &tp = *m_current;
    if (tp.data_pos < tp.data_len) {
        m_bytes_left += tp.data_len - tp.data_pos;
        tp.data_pos = tp.data_len;
    }
    tp.finished = true;
}

void stream_in::end_packet(int *last, int *bytes)
{
    if (!m_current) {
        if (bytes)
            *bytes = 0;
        if (last)
            *last = 0;
        return;
    }
    tile_part &tp = *m_current;
    if (tp.eph && !m_eph_seen && m_missing == 0)
        SkipToEph();
    if (!last) {
        FinishTilePart();
    } else if (tp.sop) {
        if (m_missing > 0)
            --m_missing;
        else
            SeekSop();
    } else if (tp.data_pos >= tp.data_len) {
        tp.finished = true;
    }
    if (bytes)
        *bytes = static_cast<int>(std::min<int64_t>(m_packet_bytes, INT32_MAX));
    if (tp.finished) {
        if (last)
            *last = tp.tnsot != INT32_MAX && tp.tpsot == tp.tnsot - 1;
        NextTilePart();
    } else if (last) {
        *last = 0;
    }
}

void stream_in::set_truncation(int bytes)
{
    if (m_truncation_set)
        local_error("You may set a truncation size for the `stream_in' object only once!");
    m_truncation_set = true;
    m_bytes_left += bytes; // it counted the bytes read down from 0
    while (m_bytes_left < 0) {
        tile_part *victim = nullptr;
        for (auto it = m_parts.rbegin(); it != m_parts.rend() && !victim; ++it)
            if ((*it)->data_len > (*it)->data_pos)
                victim = it->get();
        if (!victim)
            break;
        int64_t cut = std::min<int64_t>(-m_bytes_left, victim->data_len - victim->data_pos);
        victim->data_len -= cut;
        m_bytes_left += cut;
        if (victim->data_len == 0)
            m_bytes_left += victim->header.header_bytes;
    }
}

const in_element *stream_in::Lookup(int tile, const char *description, int instance, int index, bool fail)
{
    uint8_t marker = ElementMarker(description), id = ElementId(description);
    if (tile >= 0)
        if (tile_part *tp = FirstTilePartOf(tile))
            if (in_group *g = tp->header.find(marker, instance)) {
                in_element *e = g->find(id);
                if (fail && !e)
                    local_error("Attempting to access data from a non-existent element in a tile-specific "
                                "marker!  The requested element has the description string, \"%s\".",
                                ElementText(description));
                if (fail && (index < 0 || index >= static_cast<int>(e->values.size())))
                    local_error("Attemting to access data beyond the last value in a tile-specific marker "
                                "element with description string, \"%s\"!",
                                ElementText(description));
                return e;
            }
    in_group *g = m_main.find(marker, instance);
    in_element *e = g ? g->find(id) : nullptr;
    if (fail && !e)
        local_error(
            "Attempting to access data from a non-existent marker element!  The requested element has "
            "the description string, \"%s\".",
            ElementText(description));
    if (fail && (index < 0 || index >= static_cast<int>(e->values.size())))
        local_error("Attemting to access data beyond the last value in a marker element with description "
                    "string, \"%s\"!",
                    ElementText(description));
    return e;
}

int stream_in::marker_elt_count(int tile, const char *description, int instance)
{
    const in_element *e = Lookup(tile, description, instance, 0, false);
    return e ? static_cast<int>(e->values.size()) : 0;
}

int32_t stream_in::get_marker_val(int tile, const char *description, int instance, int index)
{
    return Lookup(tile, description, instance, index, true)->values[index];
}

int stream_in::tile_has_markers(int tile)
{
    tile_part *tp = FirstTilePartOf(tile);
    return tp && !tp->header.groups.empty() ? 1 : 0;
}

int stream_in::global_header_bytes()
{
    return static_cast<int>(std::min<int64_t>(m_main.header_bytes, INT32_MAX));
}

const uint8_t *stream_in::get_comment(int rcme, int n, int *length)
{
    for (auto &s : m_main.segments) {
        // Lcme counts itself and Rcme: a comment without data has the length 4.
        if (s.marker() != 0x64 || s.bytes.size() < 6 || s.length_field() < 4)
            continue;
        if (((s.bytes[4] << 8) | s.bytes[5]) != rcme || n-- > 0)
            continue;
        s.accessed = 1;
        if (length)
            *length = static_cast<int>(s.bytes.size()) - 6; // the bytes really there
        return s.bytes.data() + 6;
    }
    if (length)
        *length = 0;
    return nullptr;
}

void stream_in::terminate()
{
    if (!m_initialized)
        return;
    m_initialized = false;
    m_ppm.clear();
    ReleaseHeader(m_main, -1);
    for (auto &tp : m_parts)
        ReleaseHeader(tp->header, tp->tile);
    m_parts.clear();
    m_current = m_last_read = nullptr;
    m_data.clear();
    if (m_failures)
        local_printf(
            2, 76,
            "\nWarning! %d marker segments in global and tile-part headers appear to convey important "
            "information for successful decompression, yet attempts to translate them failed!\n\n",
            m_failures);
}

} // namespace zn::j2k
