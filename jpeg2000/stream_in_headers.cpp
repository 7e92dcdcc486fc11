// Marker segments back into marker elements: the standard segments, the packed premarker segments,
// and the packet-head segments PPM and PPT. Every field is read only after its bytes are known to
// be there; a segment that is too short counts as a failed translation.
#include "jpeg2000/local_services.h"
#include "jpeg2000/marker_elements.h"
#include "jpeg2000/stream_in.h"

#include <algorithm>
#include <cstring>

namespace zn::j2k {

namespace {
const char *DescriptionOf(uint8_t marker, uint8_t id)
{
    for (int i = 0; i < kMarkerVocabularySize; ++i)
        if (ElementMarker(kMarkerVocabulary[i]) == marker && ElementId(kMarkerVocabulary[i]) == id)
            return kMarkerVocabulary[i];
    return "  <unknown>"; // two bytes stand where the marker and id would be
}

int U8(const in_segment &s, size_t at)
{
    return s.bytes[at];
}
int U16(const in_segment &s, size_t at)
{
    return (s.bytes[at] << 8) | s.bytes[at + 1];
}
uint32_t U32(const in_segment &s, size_t at)
{
    return (uint32_t(U16(s, at)) << 16) | uint32_t(U16(s, at + 2));
}

// Groups rebuilt from segments; an existing group of the same marker and instance is replaced.
in_group &NewGroup(in_header &h, uint8_t marker, int32_t instance)
{
    if (in_group *g = h.find(marker, instance)) {
        g->elements.clear();
        return *g;
    }
    h.groups.push_back(in_group{marker, instance, {}});
    return h.groups.back();
}

void Put(in_group &g, uint8_t id, std::vector<int32_t> values)
{
    in_element e;
    e.marker = g.marker;
    e.id = id;
    e.description = DescriptionOf(g.marker, id) + 2;
    e.values = std::move(values);
    if (in_element *old = g.find(id))
        *old = std::move(e);
    else
        g.elements.push_back(std::move(e));
}

in_segment *FirstOf(in_header &h, int marker)
{
    for (auto &s : h.segments)
        if (s.marker() == marker)
            return &s;
    return nullptr;
}

int Rcme(const in_segment &s)
{
    return s.bytes.size() >= 6 && s.marker() == 0x64 ? U16(s, 4) : -1;
}
} // namespace

in_element *in_group::find(uint8_t id)
{
    for (auto &e : elements)
        if (e.id == id)
            return &e;
    return nullptr;
}

in_group *in_header::find(uint8_t marker, int32_t instance)
{
    for (auto &g : groups)
        if (g.marker == marker && g.instance == instance)
            return &g;
    return nullptr;
}

bool stream_in::UnpackPremarker(in_header &h, in_segment &s)
{
    s.accessed = 1;
    if (!s.complete() || s.bytes.size() <= 6)
        return false;
    size_t at = 6, end = s.bytes.size();
    in_group g{uint8_t(U16(s, 4) & 0xFF), U8(s, at++), {}};
    // Widths and counts are checked against the bytes left before any value is taken.
    while (at < end) {
        int byte = U8(s, at++);
        uint8_t id = uint8_t(byte & 0x3F);
        std::vector<int32_t> values;
        if (byte & 0x40) {
            if (at >= end)
                return false;
            values.push_back(U8(s, at++));
        } else {
            if (at >= end)
                return false;
            int width = U8(s, at++);
            if (width != 1 && width != 2 && width != 4)
                local_error("CME marker used to pack regular marker segments seems to be corrupt!");
            size_t count_bytes = (byte & 0x80) ? 2 : 1;
            if (at + count_bytes > end)
                return false;
            size_t count = count_bytes == 2 ? size_t(U16(s, at)) : size_t(U8(s, at));
            at += count_bytes;
            if (count == 0 || count * width > end - at)
                return false;
            for (size_t i = 0; i < count; ++i, at += width)
                values.push_back(width == 1 ? U8(s, at) : width == 2 ? U16(s, at) : int32_t(U32(s, at)));
        }
        if (id == 0x3F && values.size() == 1) { // the full instance of a group beyond 8 bits
            g.instance = values[0];
            continue;
        }
        Put(g, id, std::move(values));
    }
    in_group &target = NewGroup(h, g.marker, g.instance);
    target.elements = std::move(g.elements);
    return true;
}

void stream_in::UnpackPremarkers(in_header &h, int rcme_low)
{
    for (auto &s : h.segments)
        if (!s.accessed && Rcme(s) == 0xFF00 + rcme_low && !UnpackPremarker(h, s))
            ++m_failures;
}

bool stream_in::TranslateSiz(in_header &h, in_segment &s)
{
    s.accessed = 1;
    if (!s.complete() || s.bytes.size() < 40)
        return false;
    int c = U16(s, 38);
    if (c == 0 || s.bytes.size() < 40 + 3 * size_t(c))
        return false;
    in_group &g = NewGroup(h, kSIZ, 0);
    const uint8_t ids[8] = {0x01, 0x02, 0x03, 0x04, 0x11, 0x12, 0x13, 0x14};
    for (int i = 0; i < 8; ++i)
        Put(g, ids[i], {int32_t(U32(s, 6 + 4 * i))});
    Put(g, 0x21, {c});
    std::vector<int32_t> p, x, y;
    for (int i = 0; i < c; ++i) {
        p.push_back(U8(s, 40 + 3 * i) + 1);
        x.push_back(U8(s, 41 + 3 * i));
        y.push_back(U8(s, 42 + 3 * i));
    }
    Put(g, 0x23, p);
    Put(g, 0x24, x);
    Put(g, 0x25, y);
    return true;
}

bool stream_in::TranslateCod(in_header &h, int components)
{
    in_segment *cod = FirstOf(h, kCOD);
    if (!cod)
        return false;
    cod->accessed = 1;
    if (!cod->complete() || cod->bytes.size() < 14)
        return false;
    int scod = U8(*cod, 4);
    bool precincts = scod & 1;
    int levels0 = U8(*cod, 5);
    if (precincts && cod->bytes.size() < 14 + size_t(levels0) + 1)
        return false;
    in_group &g = NewGroup(h, kCOD, 0);
    Put(g, 0x02, {U8(*cod, 6)});
    Put(g, 0x01, {U16(*cod, 7)});
    Put(g, 0x11, {(scod >> 1) & 1});
    Put(g, 0x12, {(scod >> 2) & 1});
    Put(g, 0x22, {U8(*cod, 13)});
    // Our COD: Scod L P Ly Ly XCB YCB style T MCT [precincts]; COC: C Scoc L XCB YCB style T [precincts].
    bool wide = components >= 256;
    for (int n = 0; n < components; ++n) {
        const in_segment *src = cod;
        size_t lev = 5, xcb = 9, ycb = 10, style = 11, rev = 12, pp = 14;
        bool pre = precincts;
        for (auto &s : h.segments) {
            if (s.marker() != kCOC || !s.complete())
                continue;
            size_t cbytes = wide ? 2 : 1;
            if (s.bytes.size() < 4 + cbytes + 6)
                continue;
            int index = wide ? U16(s, 4) : U8(s, 4);
            if (index != n)
                continue;
            size_t base = 4 + cbytes; // Scoc
            bool coc_pre = U8(s, base) & 1;
            if (coc_pre && s.bytes.size() < base + 6 + size_t(U8(s, base + 1)) + 1) {
                s.accessed = 1;
                ++m_failures;
                continue;
            }
            s.accessed = 1;
            src = &s;
            pre = coc_pre;
            lev = base + 1;
            xcb = base + 2;
            ycb = base + 3;
            style = base + 4;
            rev = base + 5;
            pp = base + 6;
            break;
        }
        in_group &c = NewGroup(h, kCOC, n);
        int levels = U8(*src, lev);
        Put(c, 0x01, {levels});
        Put(c, 0x03, {U8(*src, rev)});
        Put(c, 0x11, {U8(*src, xcb)});
        Put(c, 0x12, {U8(*src, ycb)});
        Put(c, 0x31, {U8(*src, style)});
        if (pre) {
            std::vector<int32_t> ppx, ppy;
            for (int r = 0; r <= levels; ++r) {
                ppx.push_back(U8(*src, pp + r) & 0x0F);
                ppy.push_back(U8(*src, pp + r) >> 4);
            }
            Put(c, 0x13, ppx);
            Put(c, 0x14, ppy);
        }
    }
    return true;
}

bool stream_in::TranslateQcd(in_header &h, int components)
{
    in_segment *qcd = FirstOf(h, kQCD);
    if (!qcd)
        return false;
    qcd->accessed = 1;
    if (!qcd->complete() || qcd->bytes.size() < 5 || (U8(*qcd, 4) & 0x1F) > 2)
        return false;
    Put(NewGroup(h, kQCD, 0), 0x01, {0});
    bool wide = components >= 256;
    for (int n = 0; n < components; ++n) {
        const in_segment *src = qcd;
        size_t sq = 4;
        for (auto &s : h.segments) {
            size_t cbytes = wide ? 2 : 1;
            if (s.marker() != kQCC || !s.complete() || s.bytes.size() < 4 + cbytes + 1)
                continue;
            int index = wide ? U16(s, 4) : U8(s, 4);
            if (index != n)
                continue;
            s.accessed = 1;
            if ((U8(s, 4 + cbytes) & 0x1F) > 2) {
                ++m_failures;
                continue;
            }
            src = &s;
            sq = 4 + cbytes;
            break;
        }
        in_group &g = NewGroup(h, kQCC, n);
        int sqcx = U8(*src, sq);
        Put(g, 0x01, {sqcx >> 5});
        size_t value_bytes = src->bytes.size() - sq - 1;
        std::vector<int32_t> values;
        if ((sqcx & 0x1F) == 0) {
            for (size_t i = 0; i < value_bytes; ++i)
                values.push_back(U8(*src, sq + 1 + i));
            Put(g, 0x11, values);
        } else {
            for (size_t i = 0; i + 1 < value_bytes; i += 2)
                values.push_back(U16(*src, sq + 1 + i));
            Put(g, 0x12, values);
        }
    }
    return true;
}

int stream_in::ComponentsFor(tile_part *tp)
{
    int32_t c = get_marker_val(tp ? tp->tile : -1, elt::CSiz, 0, 0);
    if (c < 0 || c > 0xFFFF)
        local_error("The code-stream announces %d image components; at most 65535 are possible!", c);
    // Every header with a COD or QCD gets one group per component. A damaged stream could repeat
    // that in thousands of tile-parts; the total is bounded so such a stream costs bounded memory.
    m_component_groups += 2 * int64_t(c);
    if (m_component_groups > kMaxComponentGroups)
        local_error("The code-stream's headers describe more than %d component settings; it cannot be read!",
                    int(kMaxComponentGroups));
    return c;
}

void stream_in::ParseHeader(in_header &h, tile_part *tp)
{
    // Packet heads gathered in the headers.
    if (tp) {
        if (!m_ppm.empty()) {
            tp->chunks = std::move(m_ppm.front());
            m_ppm.pop_front();
        } else {
            for (int z = 0;; ++z) {
                auto it = std::find_if(h.segments.begin(), h.segments.end(), [z](const in_segment &s) {
                    return s.marker() == 0x61 && s.bytes.size() >= 5 && s.bytes[4] == z;
                });
                if (it == h.segments.end())
                    break;
                head_chunk chunk;
                chunk.bytes.assign(it->bytes.begin() + 5, it->bytes.end());
                tp->chunks.push_back(std::move(chunk));
                h.segments.erase(it);
            }
        }
    } else {
        ParsePpm();
    }
    // SIZ, then the component count every later step needs.
    bool siz = false;
    if (!tp)
        if (in_segment *s = FirstOf(h, kSIZ))
            siz = TranslateSiz(h, *s) || (++m_failures, false);
    if (tp)
        if (in_segment *s = FirstOf(h, kSIZ)) {
            s->accessed = 1;
            ++m_failures;
        }
    if (!siz)
        UnpackPremarkers(h, kSIZ);
    int components = ComponentsFor(tp);
    h.components = components;
    if (!TranslateCod(h, components)) {
        if (FirstOf(h, kCOD))
            ++m_failures;
        UnpackPremarkers(h, kCOD);
        UnpackPremarkers(h, kCOC);
    }
    for (int n = 0; n < components; ++n)
        get_marker_val(tp ? tp->tile : -1, elt::Levels, n, 0);
    if (!TranslateQcd(h, components)) {
        if (FirstOf(h, kQCD))
            ++m_failures;
        UnpackPremarkers(h, kQCD);
        UnpackPremarkers(h, kQCC);
    }
    bool wide = components >= 256;
    for (auto &s : h.segments) {
        if (s.accessed)
            continue;
        if (s.marker() == kSIZ && !tp) {
            if (!TranslateSiz(h, s))
                ++m_failures;
        } else if (s.marker() == kRGN) {
            s.accessed = 1;
            size_t cbytes = wide ? 2 : 1;
            if (!s.complete() || s.bytes.size() != 6 + cbytes || U8(s, 4 + cbytes) != 0) {
                ++m_failures;
                continue;
            }
            int c = wide ? U16(s, 4) : U8(s, 4);
            in_group &g = NewGroup(h, kRGN, c);
            if (int boost = U8(s, 5 + cbytes))
                Put(g, 0x11, {boost});
        } else if (s.marker() == kPOC) {
            s.accessed = 1;
            size_t per = wide ? 9 : 7;
            int l = s.length_field();
            if (!s.complete() || l < 2 || (size_t(l) - 2) % per != 0) {
                ++m_failures;
                continue;
            }
            std::vector<int32_t> v;
            for (size_t at = 4; at + per <= s.bytes.size(); at += per) {
                size_t k = at;
                v.push_back(U8(s, k++));
                v.push_back(wide ? U16(s, k) : U8(s, k));
                k += wide ? 2 : 1;
                v.push_back(U16(s, k));
                k += 2;
                v.push_back(U8(s, k++));
                v.push_back(wide ? U16(s, k) : U8(s, k));
                k += wide ? 2 : 1;
                v.push_back(U8(s, k));
            }
            in_group &g = NewGroup(h, kPOC, 0);
            if (!v.empty())
                Put(g, 0x01, v);
        } else if (Rcme(s) >= 0xFF00) {
            if (!UnpackPremarker(h, s))
                ++m_failures;
        }
    }
}

void stream_in::ParsePpm()
{
    bool have_record = false;
    for (int z = 0; z < 128; ++z) {
        auto it = std::find_if(m_main.segments.begin(), m_main.segments.end(), [z](const in_segment &s) {
            return s.marker() == 0x60 && s.bytes.size() >= 5 && (s.bytes[4] & 0x7F) == z;
        });
        if (it == m_main.segments.end())
            break;
        const std::vector<uint8_t> &b = it->bytes;
        bool continues = (b[4] & 0x80) && have_record;
        size_t at = 5;
        while (b.size() - at > 2) {
            size_t n = (size_t(b[at]) << 8) | b[at + 1];
            at += 2;
            n = std::min(n, b.size() - at);
            head_chunk chunk;
            chunk.bytes.assign(b.begin() + long(at), b.begin() + long(at + n));
            at += n;
            if (continues)
                m_ppm.back().push_back(std::move(chunk));
            else
                m_ppm.push_back(std::deque<head_chunk>{std::move(chunk)});
            continues = false;
            have_record = true;
        }
        m_main.segments.erase(it);
    }
}

} // namespace zn::j2k
