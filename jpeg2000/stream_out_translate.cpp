// Translation of a header's marker elements into marker segments. Elements that fit a standard
// segment go there; a group that does not fit (a Part-2 option, trellis quantization, region
// coordinates) travels whole in a packed comment segment that the reader unpacks into the same
// elements. In a tile header only what differs from the main header is written.
#include "jpeg2000/local_services.h"
#include "jpeg2000/marker_elements.h"
#include "jpeg2000/stream_out.h"

#include <algorithm>
#include <functional>

namespace zn::j2k {

namespace {
bool InCodFamily(const element_group &g)
{
    return g.marker == kCOD || g.marker == kCOC;
}
bool InQcdFamily(const element_group &g)
{
    return g.marker == kQCD || g.marker == kQCC;
}
int Family(const element_group &g)
{
    return InCodFamily(g) ? 1 : InQcdFamily(g) ? 2 : 0;
}

bool Equal(const element_group &a, const element_group &b)
{
    if (a.elements.size() != b.elements.size())
        return false;
    for (size_t i = 0; i < a.elements.size(); ++i)
        if (a.elements[i].id != b.elements[i].id || a.elements[i].values != b.elements[i].values)
            return false;
    return true;
}

// A value of an element, 0 when the element is absent.
int32_t Value(const element_group *g, uint8_t id, int index = 0)
{
    const marker_element *e = g ? g->find(id) : nullptr;
    return e && index < static_cast<int>(e->values.size()) ? e->values[index] : 0;
}

int Count(const element_group *g, uint8_t id)
{
    const marker_element *e = g ? g->find(id) : nullptr;
    return e ? static_cast<int>(e->values.size()) : 0;
}

bool Fits(const element_group *g, uint8_t id, int64_t max)
{
    const marker_element *e = g ? g->find(id) : nullptr;
    if (!e)
        return true;
    for (int32_t v : e->values)
        if (v < 0 || v > max)
            return false;
    return true;
}

struct SegmentBuilder
{
    std::vector<uint8_t> b;
    explicit SegmentBuilder(uint8_t marker) : b{0xFF, marker, 0, 0} {}
    void u8(int64_t v) { b.push_back(uint8_t(v)); }
    void u16(int64_t v)
    {
        u8(v >> 8);
        u8(v);
    }
    void u32(int64_t v)
    {
        u16(v >> 16);
        u16(v);
    }
    void component(int64_t c, bool wide) { wide ? u16(c) : u8(c); }
    out_segment done(int32_t instance)
    {
        size_t length = b.size() - 2;
        if (length > 0xFFFF)
            local_error("A marker segment of %d bytes does not fit the 16-bit segment length!", int(length));
        b[2] = uint8_t(length >> 8);
        b[3] = uint8_t(length);
        return out_segment{instance, std::move(b)};
    }
};

// The per-component fields that COD carries for component 0 and COC for the others.
struct CodingFields
{
    int32_t levels, xcb, ycb, style, reversible;
    bool precincts;
    std::vector<int32_t> ppx, ppy;
    bool operator==(const CodingFields &) const = default;
};

CodingFields FieldsOf(const element_group *g)
{
    CodingFields f{
        Value(g, 0x01), Value(g, 0x11), Value(g, 0x12), Value(g, 0x31), Value(g, 0x03), false, {}, {}};
    if (const marker_element *x = g->find(0x13)) {
        f.precincts = true;
        f.ppx = x->values;
        f.ppy = g->find(0x14)->values;
    }
    return f;
}

void PutCodingFields(SegmentBuilder &s, const CodingFields &f)
{
    s.u8(f.levels);
    s.u8(f.xcb);
    s.u8(f.ycb);
    s.u8(f.style);
    s.u8(f.reversible);
}

void PutPrecincts(SegmentBuilder &s, const CodingFields &f)
{
    if (f.precincts)
        for (size_t r = 0; r < f.ppx.size(); ++r)
            s.u8(f.ppx[r] | (f.ppy[r] << 4));
}

class Translator
{
public:
    Translator(out_header &h, out_header *main, int components)
        : m_h(h), m_main(main), m_components(components), m_wide(components >= 256)
    {}

    int Run()
    {
        if (m_main)
            MergeWithMain();
        for (auto &g : m_h.groups)
            std::erase_if(g->elements, [](const marker_element &e) { return e.values.empty(); });
        if (m_main)
            DropWhatEqualsMain();
        TranslateCod();
        TranslateQcd();
        for (auto &g : m_h.groups) {
            if (g->translated)
                continue;
            if (g->marker == kSIZ && !m_main)
                TranslateSiz(*g);
            else if (g->marker == kRGN)
                TranslateRgn(*g);
            else if (g->marker == kPOC)
                TranslatePoc(*g);
            if (!g->translated) {
                m_made.push_back({g->instance, PackPremarker(*g)});
                g->translated = true;
                ++m_premarkers;
            }
        }
        // Each new segment went to the head of the list; comments added earlier stay at the tail.
        std::vector<out_segment> list(m_made.rbegin(), m_made.rend());
        for (auto &s : m_h.segments)
            list.push_back(std::move(s));
        m_h.segments = std::move(list);
        return m_premarkers;
    }

private:
    std::vector<element_group *> FamilyGroups(out_header &h, int family)
    {
        std::vector<element_group *> out;
        for (auto &g : h.groups)
            if (Family(*g) == family)
                out.push_back(g.get());
        return out;
    }

    // A tile that changes any group of a family carries the whole family, since the reader takes a
    // tile's COD (or QCD) family from the tile alone.
    void MergeWithMain()
    {
        for (int family : {1, 2}) {
            if (FamilyGroups(m_h, family).empty())
                continue;
            for (element_group *mg : FamilyGroups(*m_main, family))
                if (!m_h.find(mg->marker, mg->instance)) {
                    auto g = std::make_unique<element_group>();
                    g->marker = mg->marker;
                    g->instance = mg->instance;
                    m_h.groups.insert(m_h.groups.begin(), std::move(g));
                }
        }
        for (auto &g : m_h.groups)
            if (element_group *mg = m_main->find(g->marker, g->instance))
                for (const marker_element &me : mg->elements)
                    if (!g->find(me.id)) {
                        auto at = std::find_if(g->elements.begin(), g->elements.end(),
                                               [&](const marker_element &x) { return x.id > me.id; });
                        g->elements.insert(at, me);
                    }
    }

    void DropWhatEqualsMain()
    {
        auto equal = [&](const element_group &g) {
            const element_group *mg = m_main->find(g.marker, g.instance);
            return mg && Equal(g, *mg);
        };
        std::vector<bool> family_equal = {false, true, true};
        for (auto &g : m_h.groups)
            if (int f = Family(*g))
                family_equal[f] = family_equal[f] && equal(*g);
        std::erase_if(m_h.groups, [&](const std::unique_ptr<element_group> &g) {
            int f = Family(*g);
            return f ? family_equal[f] : equal(*g);
        });
    }

    bool CodFamilyFits(const std::vector<element_group *> &family)
    {
        bool fits = true;
        bool have_coc0 = false;
        for (element_group *g : family) {
            for (const marker_element &e : g->elements) {
                bool known, count_ok;
                int n = static_cast<int>(e.values.size());
                if (g->marker == kCOD) {
                    known = e.id == 0x01 || e.id == 0x02 || e.id == 0x11 || e.id == 0x12 || e.id == 0x22;
                    count_ok = (e.id == 0x01 || e.id == 0x02) ? n == 1 : n <= 1;
                } else {
                    known = e.id == 0x01 || e.id == 0x03 || e.id == 0x11 || e.id == 0x12 || e.id == 0x31 ||
                            e.id == 0x13 || e.id == 0x14;
                    count_ok = (e.id == 0x13 || e.id == 0x14) || n == 1;
                }
                if (!known)
                    local_printf(5, 72,
                                 g->marker == kCOD ? "Got COD %d will use premarker"
                                                   : "Got COC %d will use premarker",
                                 e.id);
                fits = fits && known && count_ok;
            }
            if (!fits)
                continue;
            if (g->marker == kCOD) {
                fits = g->instance == 0 && Fits(g, 0x01, 0xFFFF) && Fits(g, 0x02, 0xFF) && Fits(g, 0x11, 1) &&
                       Fits(g, 0x12, 1) && Fits(g, 0x22, 0xFF);
            } else {
                have_coc0 = have_coc0 || g->instance == 0;
                int levels = Value(g, 0x01);
                bool precincts_ok =
                    Count(g, 0x13) == Count(g, 0x14) && (Count(g, 0x13) == 0 || Count(g, 0x13) == levels + 1);
                fits = g->instance >= 0 && g->instance < m_components && Fits(g, 0x01, 0xFF) &&
                       Fits(g, 0x03, 0xFF) && Fits(g, 0x11, 0xFF) && Fits(g, 0x12, 0xFF) &&
                       Fits(g, 0x31, 0xFF) && Fits(g, 0x13, 15) && Fits(g, 0x14, 15) && precincts_ok;
            }
        }
        return fits && have_coc0;
    }

    void TranslateCod()
    {
        auto family = FamilyGroups(m_h, 1);
        if (family.empty() || !CodFamilyFits(family))
            return;
        element_group *cod = m_h.find(kCOD, 0);
        element_group *coc0 = m_h.find(kCOC, 0);
        CodingFields f0 = FieldsOf(coc0);
        SegmentBuilder s(kCOD);
        s.u8((f0.precincts ? 1 : 0) | (Value(cod, 0x11) ? 2 : 0) | (Value(cod, 0x12) ? 4 : 0));
        s.u8(f0.levels);
        s.u8(Value(cod, 0x02));
        s.u16(Value(cod, 0x01));
        s.u8(f0.xcb);
        s.u8(f0.ycb);
        s.u8(f0.style);
        s.u8(f0.reversible);
        s.u8(Value(cod, 0x22));
        PutPrecincts(s, f0);
        m_made.push_back(s.done(0));
        for (element_group *g : family) {
            g->translated = true;
            if (g->marker != kCOC || g->instance == 0)
                continue;
            CodingFields f = FieldsOf(g);
            // Precinct sizes count too: a component that differs only there still needs its COC.
            if (f == f0)
                continue;
            SegmentBuilder c(kCOC);
            c.component(g->instance, m_wide);
            c.u8(f.precincts ? 1 : 0);
            PutCodingFields(c, f);
            PutPrecincts(c, f);
            m_made.push_back(c.done(g->instance));
        }
    }

    bool QcdFamilyFits(const std::vector<element_group *> &family)
    {
        bool fits = true, have_qcc0 = false;
        for (element_group *g : family) {
            for (const marker_element &e : g->elements) {
                if (g->marker == kQCD) {
                    if (e.id != 0x01) {
                        local_printf(5, 72, "Got QCD %d don't understand it", e.id);
                        fits = false;
                    } else if (e.values.size() != 1 || e.values[0] != 0) {
                        fits = false; // not dead-zone quantization
                    }
                } else if (e.id != 0x01 && e.id != 0x11 && e.id != 0x12) {
                    local_printf(5, 72, "Got QCC %d don't understand it", e.id);
                    fits = false;
                }
            }
            if (!fits || g->marker != kQCC)
                continue;
            have_qcc0 = have_qcc0 || g->instance == 0;
            fits = g->instance >= 0 && g->instance < m_components && Count(g, 0x01) <= 1 &&
                   Fits(g, 0x01, 7) && !(Count(g, 0x11) && Count(g, 0x12)) && Fits(g, 0x11, 0xFF) &&
                   Fits(g, 0x12, 0xFFFF);
        }
        return fits && have_qcc0;
    }

    void TranslateQcd()
    {
        auto family = FamilyGroups(m_h, 2);
        if (family.empty() || !QcdFamilyFits(family))
            return;
        for (element_group *g : family) {
            g->translated = true;
            if (g->marker != kQCC)
                continue;
            bool derived = Count(g, 0x12) == 1;
            int style = Count(g, 0x12) ? (derived ? 1 : 2) : 0;
            SegmentBuilder s(g->instance == 0 ? kQCD : kQCC);
            if (g->instance != 0)
                s.component(g->instance, m_wide);
            s.u8(Value(g, 0x01) * 32 + style);
            if (const marker_element *e = g->find(style ? 0x12 : 0x11))
                for (int32_t v : e->values)
                    style ? s.u16(v) : s.u8(v);
            m_made.push_back(s.done(g->instance));
        }
    }

    void TranslateSiz(element_group &g)
    {
        static const uint8_t kSingles[] = {0x01, 0x02, 0x03, 0x04, 0x11, 0x12, 0x13, 0x14, 0x21};
        for (const marker_element &e : g.elements)
            if (std::find(std::begin(kSingles), std::end(kSingles), e.id) == std::end(kSingles) &&
                e.id != 0x23 && e.id != 0x24 && e.id != 0x25)
                return;
        for (uint8_t id : kSingles)
            if (Count(&g, id) != 1)
                return;
        int c = Value(&g, 0x21);
        if (c <= 0 || c > (0xFFFF - 38) / 3 || Count(&g, 0x23) != c || Count(&g, 0x24) != c ||
            Count(&g, 0x25) != c)
            return;
        for (int i = 0; i < c; ++i) {
            int32_t precision = Value(&g, 0x23, i);
            if (precision < 1 || precision > 256 || Value(&g, 0x24, i) < 0 || Value(&g, 0x24, i) > 255 ||
                Value(&g, 0x25, i) < 0 || Value(&g, 0x25, i) > 255)
                return;
        }
        SegmentBuilder s(kSIZ);
        s.u16(0);
        for (uint8_t id : {0x01, 0x02, 0x03, 0x04, 0x11, 0x12, 0x13, 0x14})
            s.u32(static_cast<uint32_t>(Value(&g, id)));
        s.u16(c);
        for (int i = 0; i < c; ++i) {
            s.u8(Value(&g, 0x23, i) - 1);
            s.u8(Value(&g, 0x24, i));
            s.u8(Value(&g, 0x25, i));
        }
        m_made.push_back(s.done(0));
        g.translated = true;
    }

    void TranslateRgn(element_group &g)
    {
        for (const marker_element &e : g.elements)
            if (e.id != 0x11 || e.values.size() != 1)
                return;
        if (g.instance < 0 || g.instance >= m_components) {
            g.translated = true; // a region of a component the image does not have
            return;
        }
        int32_t boost = Value(&g, 0x11);
        if (boost < 0 || boost > 255)
            return;
        g.translated = true;
        if (boost == 0 && !m_main)
            return;
        SegmentBuilder s(kRGN);
        s.component(g.instance, m_wide);
        s.u8(0);
        s.u8(boost);
        m_made.push_back(s.done(g.instance));
    }

    void TranslatePoc(element_group &g)
    {
        if (g.elements.empty()) {
            if (!m_main) // the main header has nothing to say; a tile must override
                g.translated = true;
            return;
        }
        const marker_element *e = g.find(0x01);
        if (g.elements.size() != 1 || !e || e->values.size() % 6 != 0)
            return;
        int64_t cmax = m_wide ? 0xFFFF : 0xFF;
        const int64_t limits[6] = {0xFF, cmax, 0xFFFF, 0xFF, cmax, 0xFF};
        for (size_t i = 0; i < e->values.size(); ++i)
            if (e->values[i] < 0 || e->values[i] > limits[i % 6])
                return;
        SegmentBuilder s(kPOC);
        for (size_t i = 0; i < e->values.size(); i += 6) {
            s.u8(e->values[i]);
            s.component(e->values[i + 1], m_wide);
            s.u16(e->values[i + 2]);
            s.u8(e->values[i + 3]);
            s.component(e->values[i + 4], m_wide);
            s.u8(e->values[i + 5]);
        }
        m_made.push_back(s.done(g.instance));
        g.translated = true;
    }

    out_header &m_h;
    out_header *m_main;
    int m_components;
    bool m_wide;
    std::vector<out_segment> m_made;
    int m_premarkers = 0;
};
} // namespace

std::vector<uint8_t> PackPremarker(const element_group &g)
{
    std::vector<uint8_t> b = {0xFF, 0x64, 0, 0, 0xFF, g.marker, uint8_t(g.instance)};
    auto put = [&b](int64_t v, int width) {
        for (int k = width - 1; k >= 0; --k)
            b.push_back(uint8_t(v >> (8 * k)));
    };
    if (g.instance < 0 || g.instance > 0xFF) {
        // The instance byte keeps only 8 bits; a larger instance (a component from 256 on) follows in
        // full as an element of its own, id 0x3F, which no real element uses.
        b.push_back(0x3F);
        b.push_back(4);
        b.push_back(1);
        put(g.instance, 4);
    }
    for (const marker_element &e : g.elements) {
        size_t n = e.values.size();
        if (n == 0)
            continue;
        int w = e.precision <= 8 ? 1 : e.precision <= 16 ? 2 : 4;
        if (n == 1 && w == 1) {
            b.push_back(uint8_t(e.id | 0x40));
            put(e.values[0], 1);
            continue;
        }
        bool wide = n >= 256;
        b.push_back(uint8_t(e.id | (wide ? 0x80 : 0)));
        b.push_back(uint8_t(w));
        put(static_cast<int64_t>(n), wide ? 2 : 1);
        for (int32_t v : e.values)
            put(v, w);
    }
    size_t length = b.size() - 2;
    if (length > 0xFFFF)
        local_error("The marker elements of a group with marker code 0xFF%02X do not fit in one comment "
                    "segment (%d bytes)!",
                    g.marker, int(length));
    b[2] = uint8_t(length >> 8);
    b[3] = uint8_t(length);
    return b;
}

int TranslateOutHeader(out_header &header, out_header *main, int components, const std::vector<int> &)
{
    return Translator(header, main, components).Run();
}

} // namespace zn::j2k
