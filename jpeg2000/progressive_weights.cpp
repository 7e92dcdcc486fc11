// The "-Cvpw" schedule: parsing, byte limits from the rates, and the weights of the entry in force.
#include "jpeg2000/progressive_weights.h"

#include "jpeg2000/factor_file.h"
#include "jpeg2000/local_services.h"

#include <cstdio>

namespace zn::j2k {

vpw_handle vpw_parse(int count, const char *const *p)
{
    vpw_handle s(new vpw_schedule);
    auto refuse = [] {
        local_error("The `-Cpvw' argument must be followed by one or more pairs of rate/filename pairs, with "
                    "strictly positive maximum bit-rates for each visual weights file!");
    };
    if (count <= 0 || count % 2)
        refuse();
    for (int i = 0; i + 1 < count; i += 2) {
        float rate = 0;
        char tail = 0;
        if (std::sscanf(p[i], "%f%c", &rate, &tail) != 1 || !(rate > 0))
            refuse();
        vpw_entry e{rate, 0, p[i + 1]};
        auto at = s->entries.begin();
        while (at != s->entries.end() && at->rate <= rate)
            ++at;
        s->entries.insert(at, e);
    }
    return s;
}

void vpw_free(vpw_schedule *schedule)
{
    delete schedule;
}

void vpw_set_limits(vpw_schedule &s, int32_t rows, int32_t columns, int32_t header_bytes)
{
    for (vpw_entry &e : s.entries)
        e.limit = static_cast<int32_t>(double(rows) * double(columns) * double(e.rate) / 8.0) - header_bytes;
}

bool vpw_apply(vpw_schedule &s, std::vector<std::unique_ptr<enc_tile>> &tiles, int components, int32_t target)
{
    int entry = -1;
    for (size_t i = 0; i < s.entries.size(); ++i)
        if (s.entries[i].limit >= target) {
            entry = static_cast<int>(i);
            break;
        }
    if (entry == s.in_force)
        return false;
    s.in_force = entry;
    quant_factor_file file;
    if (entry >= 0)
        file = read_quant_factor_file(s.entries[size_t(entry)].file.c_str(), components);
    for (auto &tile : tiles)
        for (enc_component &comp : tile->components)
            for (enc_level &lv : comp.level_records)
                for (enc_band &b : lv.bands) {
                    b.visual_weight = entry >= 0 ? 1.0f : -1.0f;
                    for (const factor_segment &seg : file.segments)
                        if (comp.component >= seg.first_component && comp.component <= seg.last_component) {
                            const double f = segment_band_factor(seg, comp.levels, lv.level, b.index);
                            b.visual_weight = static_cast<float>(b.visual_weight * f * f);
                            break;
                        }
                }
    return true;
}

} // namespace zn::j2k
