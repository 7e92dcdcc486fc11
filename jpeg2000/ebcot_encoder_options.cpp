// Block coder options and their marker elements. Every per-component list applies its i-th entry to
// component i and its last entry to all further components.
#include "jpeg2000/ebcot_encoder_options.h"

#include "jpeg2000/command_line.h"
#include "jpeg2000/local_services.h"
#include "jpeg2000/marker_elements.h"
#include "jpeg2000/packet_sequence.h"
#include "jpeg2000/stream_out.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace zn::j2k {

namespace {
int Log2Exact(int v)
{
    if (v <= 0 || (v & (v - 1)))
        return -1;
    int k = 0;
    while ((1 << k) < v)
        ++k;
    return k;
}

// "<ht>x<wd>" or "<dim>"; false when it does not read.
bool ReadSize(const char *word, int *height, int *width)
{
    std::string s(word, strnlen(word, 255));
    size_t x = s.find('x');
    std::string h = s.substr(0, x), w = x == std::string::npos ? h : s.substr(x + 1);
    char tail = 0;
    return !h.empty() && !w.empty() && std::sscanf(h.c_str(), "%d%c", height, &tail) == 1 &&
           std::sscanf(w.c_str(), "%d%c", width, &tail) == 1;
}

void ReadBlockSizes(command_line *args, int scope, scope_coding_options &o)
{
    const char *const *p = nullptr;
    const int count = args ? args->find("-Cblk", scope, &p) : -1;
    if (count < 0)
        return;
    if (count == 0)
        local_error("The `-Cblk' argument requires at least one parameter!");
    for (size_t c = 0; c < o.components.size(); ++c) {
        const char *word = p[std::min<size_t>(c, size_t(count - 1))];
        int h = 0, w = 0;
        if (!ReadSize(word, &h, &w))
            local_error("Illegal block size specifier, \"%s\", for argument `-Cblk'!", word);
        const int eh = Log2Exact(h), ew = Log2Exact(w);
        if (eh < 2 || ew < 2 || eh + ew > 12)
            local_error(
                "The `-Cblk' argument requires dimensions which are exact powers of two, no less than 4 and "
                "no larger than 1024, such that the product of the code-block dimensions does not exceed "
                "4096!");
        o.components[c].block_height = h;
        o.components[c].block_width = w;
    }
}

void ReadPrecincts(command_line *args, int scope, scope_coding_options &o, const std::vector<int> &levels)
{
    const char *const *p = nullptr;
    const int count = args ? args->find("-Cpp", scope, &p) : -1;
    if (count < 0)
        return;
    if (count == 0)
        local_error("The `-Cpp' argument requires at leats one parameter!");
    // Split into sets at "*".
    std::vector<std::vector<const char *>> sets(1);
    for (int i = 0; i < count; ++i) {
        if (std::strcmp(p[i], "*") == 0)
            sets.emplace_back();
        else
            sets.back().push_back(p[i]);
    }
    if (sets.back().empty() && sets.size() > 1)
        sets.pop_back();
    for (const auto &set : sets)
        if (set.size() > 16)
            local_error("Implementation does not support so many unique level-specific precinct partition "
                        "dimensions in the `-Cpp' argument!");
    for (size_t c = 0; c < o.components.size(); ++c) {
        const auto &set = sets[std::min(c, sets.size() - 1)];
        if (set.empty())
            local_error("The `-Cpp' argument requires at leats one parameter!");
        const int L = levels[c];
        component_coding_options &cc = o.components[c];
        cc.ppx.assign(size_t(L + 1), 15);
        cc.ppy.assign(size_t(L + 1), 15);
        for (int r = L; r >= 0; --r) {
            const char *word = set[std::min(size_t(L - r), set.size() - 1)];
            int h = 0, w = 0;
            if (!ReadSize(word, &h, &w))
                local_error("Illegal precinct_partition specifier, \"%s\", for argument `-Cpp'!", word);
            const int eh = Log2Exact(h), ew = Log2Exact(w);
            if (eh < 0 || ew < 0 || eh > 15 || ew > 15)
                local_error(
                    "Precinct partition dimensions supplied via the `-Cpp' argument must be exact powers of "
                    "2, no larger than 2^15!");
            cc.ppx[size_t(r)] = ew;
            cc.ppy[size_t(r)] = eh;
        }
    }
}

void ReadOrder(command_line *args, int scope, scope_coding_options &o)
{
    const char *const *p = nullptr;
    const int count = args ? args->find("-Corder", scope, &p) : -1;
    if (count < 0)
        return;
    if (count == 0)
        local_error("The `-Corder' argument requires at least one parameter!");
    auto order_of = [](const char *word) {
        int code = progression_order_code(word);
        if (code < 0)
            local_error("Illegal progression style string, \"%s\", supplied to the `-Corder' argument!",
                        word);
        return code;
    };
    o.order = order_of(p[0]);
    for (int i = 1; i < count; i += 6) {
        if (count - i < 6)
            local_error("The `-Corder' argument requires 6P+1 parameters where P is the number of changes in "
                        "progression order!");
        int v[5];
        for (int k = 0; k < 5; ++k) {
            char tail = 0;
            if (std::sscanf(p[i + k], "%d%c", &v[k], &tail) != 1)
                local_error(
                    "Expected 5 constraints on the layers, levels and components to which a progression "
                    "order applies in the `-Corder' argument!");
        }
        o.changes.push_back(progression_change{v[0], v[1], v[2], v[3], v[4], order_of(p[i + 5])});
    }
}
} // namespace

int yes_no_option(command_line *args, const char *name, int scope, int component)
{
    const char *const *p = nullptr;
    const int count = args ? args->find(name, scope, &p) : -1;
    if (count < 0)
        return -1;
    if (count == 0)
        return 1;
    const char *word = p[std::min(component, count - 1)];
    if (std::strcmp(word, "Y") == 0)
        return 1;
    if (std::strcmp(word, "N") == 0)
        return 0;
    local_error(
        "The `%s' argument requires zero or more single character parameters, each of which must be either "
        "`Y' or `N'!",
        name);
}

scope_coding_options read_coding_options(command_line *args, int scope, const std::vector<int> &levels)
{
    scope_coding_options o;
    o.components.resize(levels.size());
    ReadBlockSizes(args, scope, o);
    ReadPrecincts(args, scope, o, levels);
    for (size_t c = 0; c < o.components.size(); ++c) {
        component_coding_options &cc = o.components[c];
        const int ci = static_cast<int>(c);
        cc.respect_cells = yes_no_option(args, "-Cframes", scope, ci) == 1;
        int flags = 0;
        if (yes_no_option(args, "-Cparallel", scope, ci) == 1)
            flags |= 2 | 4;
        const int causal = yes_no_option(args, "-Ccausal", scope, ci);
        if (causal == 1)
            flags |= 8;
        else if (causal == 0)
            flags &= ~8;
        if (yes_no_option(args, "-Clazy", scope, ci) == 1)
            flags |= 1;
        if (yes_no_option(args, "-Csegmark", scope, ci) == 1)
            flags |= 32;
        if (yes_no_option(args, "-Cer_term", scope, ci) == 1) {
            flags |= 16;
            if (!(flags & 1))
                flags |= 4;
        }
        cc.flags = flags;
    }
    ReadOrder(args, scope, o);
    return o;
}

void declare_coding_elements(stream_out &out, int scope, const scope_coding_options &o,
                             const std::vector<int> &levels)
{
    for (size_t c = 0; c < o.components.size(); ++c) {
        const component_coding_options &cc = o.components[c];
        const int ci = static_cast<int>(c);
        out.declare_marker_elt(scope, elt::Xcb, ci, 4, 1);
        out.set_marker_val(scope, elt::Xcb, ci, Log2Exact(cc.block_width) - 2, 0);
        out.declare_marker_elt(scope, elt::Ycb, ci, 4, 1);
        out.set_marker_val(scope, elt::Ycb, ci, Log2Exact(cc.block_height) - 2, 0);
        const int n = cc.ppx.empty() ? 0 : levels[c] + 1;
        out.declare_marker_elt(scope, elt::Ppx, ci, 4, n);
        out.declare_marker_elt(scope, elt::Ppy, ci, 4, n);
        for (int r = 0; r < n; ++r) {
            out.set_marker_val(scope, elt::Ppx, ci, cc.ppx[size_t(r)], r);
            out.set_marker_val(scope, elt::Ppy, ci, cc.ppy[size_t(r)], r);
        }
        const bool cells = out.marker_elt_count(scope, elt::Xcl, ci) > 0;
        out.declare_marker_elt(scope, elt::RespectCells, ci, 1, cells ? 1 : 0);
        if (cells)
            out.set_marker_val(scope, elt::RespectCells, ci, cc.respect_cells ? 1 : 0, 0);
        out.declare_marker_elt(scope, elt::CoderFlags, ci, 8, 1);
        out.set_marker_val(scope, elt::CoderFlags, ci, cc.flags, 0);
    }
    out.declare_marker_elt(scope, elt::Progression, 0, 8, 1);
    out.set_marker_val(scope, elt::Progression, 0, o.order, 0);
    out.declare_marker_elt(scope, elt::ProgressionChanges, 0, 16, static_cast<int>(6 * o.changes.size()));
    for (size_t k = 0; k < o.changes.size(); ++k) {
        const progression_change &ch = o.changes[k];
        const int32_t v[6] = {ch.min_level,   ch.min_component,   ch.layer_limit,
                              ch.level_limit, ch.component_limit, ch.order};
        for (int i = 0; i < 6; ++i)
            out.set_marker_val(scope, elt::ProgressionChanges, 0, v[i], static_cast<int>(6 * k) + i);
    }
}

} // namespace zn::j2k
