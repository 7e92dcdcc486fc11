// The encoder and decoder row loops. Components of different heights advance in sweeps, a
// component of half the height giving one row every second sweep, so rows of all components reach
// the pipeline interleaved as a line-based transform wants them. Tiles that overlap their
// neighbours share rows: the encoder reads such rows twice from its cache, the decoder averages
// the two reconstructions.
#include "jpeg2000/invocation.h"

#include "jpeg2000/command_line.h"
#include "jpeg2000/component_demix.h"
#include "jpeg2000/component_mix.h"
#include "jpeg2000/local_services.h"
#include "jpeg2000/marker_elements.h"
#include "jpeg2000/stream_in.h"

#include "platform/messages.h"

#include <algorithm>

namespace zn::j2k {

namespace {
int64_t CeilShiftLevels(int64_t v, int levels)
{
    const int64_t d = int64_t(1) << levels;
    return v >= 0 ? (v + d - 1) / d : -((-v) / d);
}

std::vector<int32_t> &HeldRow(component_row_state &s, int32_t r)
{
    return s.rows[size_t(r - s.first)];
}

// Appends a row buffer at the end of the held rows, reusing one dropped earlier.
std::vector<int32_t> &AppendRow(component_row_state &s)
{
    if (s.held == static_cast<int32_t>(s.rows.size()))
        s.rows.emplace_back(size_t(s.width), 0);
    return s.rows[size_t(s.held++)];
}

// The dropped buffer moves behind the held rows, where the next append takes it.
void DropFront(component_row_state &s)
{
    std::rotate(s.rows.begin(), s.rows.begin() + 1, s.rows.begin() + s.held);
    --s.held;
    ++s.first;
}
} // namespace

const std::vector<int32_t> &enc_row_cache(component_row_state &s, int c, int32_t r, image_line_reader &reader)
{
    if (r < s.first)
        local_error("The encoder's row cache was asked for row %d, which it has dropped already!", r);
    while (s.first + s.held <= r) {
        std::vector<int32_t> &row = AppendRow(s);
        reader.get_line(c, row.data(), s.width);
    }
    return HeldRow(s, r);
}

void enc_drop_rows(component_row_state &s, int32_t last)
{
    while (s.held > 0 && s.first <= last)
        DropFront(s);
}

std::vector<int32_t> &dec_row_cache(component_row_state &s, int32_t r)
{
    if (r < s.first)
        local_error("The decoder's row cache was asked for row %d, which it has written out already!", r);
    while (s.first + s.held <= r) {
        std::vector<int32_t> &row = AppendRow(s);
        std::fill(row.begin(), row.end(), 0);
    }
    return HeldRow(s, r);
}

void dec_emit_rows(component_row_state &s, int c, int32_t last, image_line_writer &writer)
{
    while (s.held > 0 && s.first <= last) {
        writer.put_line(c, s.rows[0].data(), s.width);
        DropFront(s);
    }
}

namespace {
// The tile grid and each component's size on it, possibly at reduced resolution.
struct Layout
{
    int tile_rows = 0, tile_columns = 0, tiles = 0;
    int32_t largest_tile_width = 0;
};

Layout SetUp(coding_info &info, std::vector<component_row_state> &states, int discard)
{
    Layout l;
    int32_t tallest = 0;
    for (size_t c = 0; c < states.size(); ++c) {
        component_row_state &s = states[c];
        int rows = 0, columns = 0, t = 0;
        for (;; ++t) {
            int column = 0, row = 0;
            canvas_rect r;
            if (!info.get_tile_info(static_cast<int>(c), t, &column, &row, &r, nullptr, nullptr, nullptr))
                break;
            r = reduce_tile_rect(r, discard);
            if (column == 0) {
                s.height += r.rows;
                ++rows;
            }
            if (row == 0) {
                s.width += r.cols;
                ++columns;
            }
            l.largest_tile_width = std::max(l.largest_tile_width, r.cols);
        }
        l.tile_rows = rows;
        l.tile_columns = columns;
        l.tiles = t;
        tallest = std::max(tallest, s.height);
        s.rows.emplace_back(size_t(std::max(s.width, 1)), 0);
        s.overlap_rows.assign(size_t(std::max(columns, 1)), 0);
    }
    for (component_row_state &s : states)
        s.rate = tallest > 0 ? float(s.height) / float(tallest) : 1.0f;
    return l;
}

// Geometry of tile t in every component at the start of the tile.
void StartTile(coding_info &info, std::vector<component_row_state> &states, int t, int discard)
{
    for (size_t c = 0; c < states.size(); ++c) {
        component_row_state &s = states[c];
        canvas_rect rect, widened;
        int precision = 0, reversible = 0, index = 0;
        info.get_tile_info(static_cast<int>(c), t, nullptr, nullptr, &rect, nullptr, nullptr, &precision);
        info.get_tile_component_info(static_cast<int>(c), &index, &widened, &reversible, &s.K);
        rect = reduce_tile_rect(rect, discard);
        widened = reduce_tile_rect(widened, discard);
        s.tile_height = rect.rows;
        s.tile_width = rect.cols;
        s.top = rect.first_row - widened.first_row;
        s.left = rect.first_col - widened.first_col;
        s.bottom = (widened.first_row + widened.rows) - (rect.first_row + rect.rows);
        s.right = (widened.first_col + widened.cols) - (rect.first_col + rect.cols);
        s.next = s.top ? -1 : 0;
        s.last = s.tile_height - 1 + (s.bottom ? 1 : 0);
        s.offset = precision > 0 ? -(int32_t(1) << std::min(precision - 1, 30)) : 0;
        s.phase = 0.0f;
    }
}

// Runs the sweeps of one tile: `row(c, r)` processes row r of component c.
template <class RowFunction> void Sweeps(std::vector<component_row_state> &states, RowFunction row)
{
    for (bool busy = true; busy;) {
        busy = false;
        for (size_t c = 0; c < states.size(); ++c) {
            component_row_state &s = states[c];
            if (s.next > s.last)
                continue;
            busy = true;
            s.phase -= s.rate;
            if (s.phase < 0) {
                s.phase += 1;
                row(static_cast<int>(c), s.next);
                ++s.next;
            }
        }
    }
}
} // namespace

canvas_rect reduce_tile_rect(const canvas_rect &r, int levels)
{
    if (levels <= 0)
        return r;
    canvas_rect out;
    out.first_row = static_cast<int32_t>(CeilShiftLevels(r.first_row, levels));
    out.first_col = static_cast<int32_t>(CeilShiftLevels(r.first_col, levels));
    out.rows = static_cast<int32_t>(CeilShiftLevels(int64_t(r.first_row) + r.rows, levels) - out.first_row);
    out.cols = static_cast<int32_t>(CeilShiftLevels(int64_t(r.first_col) + r.cols, levels) - out.first_col);
    return out;
}

namespace {
class MixSink : public component_line_sink
{
public:
    explicit MixSink(component_mix &mix) : m_mix(mix) {}
    void push_line(const int32_t *line, int component, int width) override
    {
        m_mix.push_line(line, component, width);
    }
    void next_tile() override { m_mix.next_tile(); }

private:
    component_mix &m_mix;
};

class DemixSource : public component_line_source
{
public:
    explicit DemixSource(component_demix &demix) : m_demix(demix) {}
    void pull_line(int32_t *line, int component, int width) override
    {
        m_demix.pull_line(line, component, width);
    }
    void next_tile() override { m_demix.next_tile(); }

private:
    component_demix &m_demix;
};
} // namespace

std::unique_ptr<component_line_sink> as_line_sink(component_mix &mix)
{
    return std::make_unique<MixSink>(mix);
}

std::unique_ptr<component_line_source> as_line_source(component_demix &demix)
{
    return std::make_unique<DemixSource>(demix);
}

int reduced_image_dims(coding_info &info, int components, int discard, int *dims)
{
    int tiles = 0;
    for (int c = 0; c < components; ++c) {
        int64_t rows = 0, cols = 0;
        int t = 0;
        for (;; ++t) {
            int column = 0, row = 0;
            canvas_rect r;
            if (!info.get_tile_info(c, t, &column, &row, &r, nullptr, nullptr, nullptr))
                break;
            r = reduce_tile_rect(r, discard);
            if (column == 0)
                rows += r.rows;
            if (row == 0)
                cols += r.cols;
        }
        dims[4 * c] = static_cast<int>(rows);
        dims[4 * c + 1] = static_cast<int>(cols);
        tiles = t;
    }
    return tiles;
}

void encode_lines(coding_info &info, image_line_reader &reader, component_line_sink &mix, int components)
{
    std::vector<component_row_state> states(static_cast<size_t>(components));
    const Layout l = SetUp(info, states, 0);
    std::vector<int32_t> line(size_t(l.largest_tile_width) + 2);
    for (int tr = 0; tr < l.tile_rows; ++tr) {
        for (component_row_state &s : states) {
            if (tr > 0)
                s.first -= s.tile_height;
            s.column_offset = 0;
        }
        for (int tc = 0; tc < l.tile_columns; ++tc) {
            const int t = tr * l.tile_columns + tc;
            StartTile(info, states, t, 0);
            const bool last_column = tc == l.tile_columns - 1;
            Sweeps(states, [&](int c, int32_t r) {
                component_row_state &s = states[size_t(c)];
                if (last_column)
                    enc_drop_rows(s, r - s.bottom - 1);
                const std::vector<int32_t> &row = enc_row_cache(s, c, r, reader);
                const int n = s.left + s.tile_width + s.right;
                if (n > static_cast<int>(line.size()))
                    line.resize(size_t(n));
                const int from = s.column_offset - s.left;
                for (int i = 0; i < n; ++i) {
                    const int64_t x = int64_t(row[size_t(std::clamp(from + i, 0, s.width - 1))]) + s.offset;
                    line[size_t(i)] =
                        static_cast<int32_t>(s.K >= 0 ? x * (int64_t(1) << std::min(s.K, 31))
                                                      : (x + (int64_t(1) << (-s.K - 1))) >> -s.K);
                }
                mix.push_line(line.data(), c, n);
            });
            for (component_row_state &s : states)
                s.column_offset += s.tile_width;
            if (info.next_tile(0))
                mix.next_tile();
        }
    }
}

void decode_lines(coding_info &info, image_line_writer &writer, component_line_source &demix, int components,
                  int discard)
{
    std::vector<component_row_state> states(static_cast<size_t>(components));
    const Layout l = SetUp(info, states, discard);
    std::vector<int32_t> line(size_t(l.largest_tile_width) + 2);
    for (int tr = 0; tr < l.tile_rows; ++tr) {
        for (component_row_state &s : states) {
            if (tr > 0)
                s.first -= s.tile_height;
            s.column_offset = 0;
            s.overlap_columns = 0;
        }
        for (int tc = 0; tc < l.tile_columns; ++tc) {
            const int t = tr * l.tile_columns + tc;
            StartTile(info, states, t, discard);
            const bool last_column = tc == l.tile_columns - 1;
            Sweeps(states, [&](int c, int32_t r) {
                component_row_state &s = states[size_t(c)];
                if (last_column)
                    dec_emit_rows(s, c, r - s.bottom - 1, writer);
                std::vector<int32_t> &row = dec_row_cache(s, r);
                const int n = s.left + s.tile_width + s.right;
                if (n > static_cast<int>(line.size()))
                    line.resize(size_t(n));
                demix.pull_line(line.data(), c, n);
                const int from = s.column_offset - s.left;
                const bool overlap_row = r < s.overlap_rows[size_t(tc)];
                for (int i = 0; i < n; ++i) {
                    const int64_t x = line[size_t(i)];
                    const int64_t v =
                        (s.K > 0 ? ((x + (int64_t(1) << (s.K - 1))) >> s.K) : x * (int64_t(1) << -s.K)) -
                        s.offset;
                    const int at = from + i;
                    if (at < 0 || at >= s.width)
                        continue;
                    int32_t &out = row[size_t(at)];
                    const bool average = overlap_row || i < s.overlap_columns + s.left;
                    out = static_cast<int32_t>(average ? (v + out + 1) >> 1 : v);
                }
            });
            for (component_row_state &s : states) {
                s.column_offset += s.tile_width;
                s.overlap_columns = s.right;
                s.overlap_rows[size_t(tc)] = s.bottom;
            }
            if (info.next_tile(0))
                demix.next_tile();
        }
    }
    for (size_t c = 0; c < states.size(); ++c)
        dec_emit_rows(states[c], static_cast<int>(c), INT32_MAX, writer);
}

bool check_encoder_arguments(command_line *args)
{
    if (!args)
        return false;
    const int no_trunc = args->find("-Cno_trunc", -1);
    const int iter = args->find("-iter", -1);
    if (iter >= 0 && no_trunc < 0)
        local_error(
            "The `-iter' argument must not be supplied without `-Cno_trunc', since otherwise the EBCOT "
            "coding algorithm and the compressor's invocation environment will both be implementing "
            "incompatible rate control algorithms!");
    const int tcq = args->find("-Qtcq", -1);
    if (tcq > 0)
        local_error("The `-Qtcq' argument takes no parameters!");
    return tcq == 0;
}

bool dequantizer_is_tcq(stream_in &in)
{
    const int type = in.marker_elt_count(-1, elt::QuantizationType, 0) > 0
                         ? in.get_marker_val(-1, elt::QuantizationType, 0, 0)
                         : 0;
    if (type == 0)
        return false;
    if (type == 2)
        return true;
    if (type == 1) {
        ShowMessage("(Jpeg2000Dlg - modify_dec_constructor: This message should not have appeared. Bug!");
        return false;
    }
    local_error("Invalid quantization flag in header!");
}

} // namespace zn::j2k
