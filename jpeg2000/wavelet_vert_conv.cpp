// Vertical convolution stages ("-Fconv"). Analysis keeps a window of the last input rows and emits a
// band row as soon as the rows under its filter have arrived; synthesis keeps a window of band rows
// per band and makes each output row from the band rows its polyphase filters reach. Rows beyond
// the region are mirrored (whole-sample for odd-length filters, half-sample and antisymmetric for
// even-length ones) or, with point-symmetric extension, reflected through the edge row. Regions too
// short for their filters' reach are taken whole, a handful of rows, and filtered column by column.
#include "jpeg2000/local_services.h"
#include "jpeg2000/wavelet_stages.h"

#include <algorithm>
#include <cstring>

namespace zn::j2k {

namespace {

int FilterReach(const tap_set &a, const tap_set &b)
{
    return std::max({a.neg_support, a.pos_support, b.neg_support, b.pos_support}) + 1;
}

bool FiltersOfEvenLength(const wavelet_kernel &k)
{
    return (k.analysis_low.Count() & 1) == 0;
}

// Rows [first, next) of a sequence, oldest first, in buffers of one width.
template <typename T> class row_window
{
public:
    void reset(int width)
    {
        for (T *r : m_rows)
            m_pool.put(r);
        m_rows.clear();
        m_pool.set_width(width);
        m_first = m_next = 0;
    }
    int first() const { return m_first; }
    int next() const { return m_next; }
    T *at(int i) const { return m_rows[size_t(i - m_first)]; }
    T *append()
    {
        m_rows.push_back(m_pool.get());
        ++m_next;
        return m_rows.back();
    }
    void drop_below(int i)
    {
        while (m_first < i && m_first < m_next) {
            m_pool.put(m_rows.front());
            m_rows.erase(m_rows.begin());
            ++m_first;
        }
    }

private:
    row_pool<T> m_pool;
    std::vector<T *> m_rows;
    int m_first = 0, m_next = 0;
};

class vert_conv_base : public transform_stage
{
public:
    vert_conv_base(int component, int level) : transform_stage(INFO__VERTICAL, true, component, level, -1) {}
    void initialize(const component_transform_setup &setup, const region_rect &region,
                    const stage_frames &frames) override
    {
        transform_stage::initialize(setup, region, frames);
        m_dir = direction_of(setup, level, true);
        m_even = FiltersOfEvenLength(*m_dir.kernel);
        m_parity = region.first_row & 1;
        initialize_children(setup, frames, true);
    }

protected:
    stage_direction m_dir;
    bool m_even = false;
    int m_parity = 0;
};

class vert_analysis_conv : public vert_conv_base
{
public:
    using vert_conv_base::vert_conv_base;
    void initialize(const component_transform_setup &setup, const region_rect &region,
                    const stage_frames &frames) override
    {
        vert_conv_base::initialize(setup, region, frames);
        const wavelet_kernel &k = *m_dir.kernel;
        m_reach = FilterReach(k.analysis_low, k.analysis_high);
        m_stream = region.rows >= 2 * m_reach + 2;
        m_window.reset(region.cols);
        m_received = 0;
        m_next[0] = m_next[1] = 0;
        m_count[0] = (region.rows - m_parity + 1) >> 1;
        m_count[1] = (region.rows - (m_parity ^ 1) + 1) >> 1;
        m_out.resize(size_t(std::max(region.cols, 1)));
        m_other.resize(m_out.size());
        m_kept.clear();
        m_column.clear();
    }
    void push_int_line(const int32_t *row, int length) override
    {
        check_length(length);
        m_in.assign(row, row + length);
        Take(m_in.data());
    }
    void push_float_line(const float *row, int length) override
    {
        check_length(length);
        Take(row);
    }
    void terminate() override
    {
        m_window.reset(0);
        vert_conv_base::terminate();
    }

private:
    void Take(const float *row)
    {
        const int R = m_region.rows;
        if (m_received >= R)
            local_error("The vertical wavelet stage received more rows than its region has!");
        if (m_received == 0 && m_parity && (m_dir.point_symmetric || m_even))
            local_error(
                "Cannot start image, tile or frame with an odd indexed sample when using the PSE or even "
                "length filters!  Use regular symmetric extension with odd length filters!");
        if (R == 1) {
            ++m_received;
            (m_parity ? high : low)->push_float_line(row, m_region.cols);
            return;
        }
        if (m_dir.point_symmetric && m_even)
            local_error("Cannot use PSE with even length filters!");
        std::copy_n(row, m_region.cols, m_window.append());
        ++m_received;
        if (!m_stream) {
            if (m_received == R)
                Whole();
            return;
        }
        for (bool more = true; more;) {
            more = false;
            for (int i = 0; i < 2; ++i) {
                const int k = m_next[i];
                if (k >= m_count[i] || !Ready(i, k))
                    continue;
                if (PseEnd() && k == R / 2 - 1 && (i == 1 || !Ready(1, k)))
                    continue; // the last rows of both bands leave together, from the low band's turn
                Emit(i);
                more = true;
            }
        }
        m_window.drop_below(Lowest());
    }

    // Row v of the region after extension: the row it mirrors, or for point-symmetric extension the
    // row reflected through the edge row (edge >= 0).
    struct Source
    {
        int row, edge;
    };
    Source Map(int v) const
    {
        const int n = m_region.rows;
        if (v < 0) {
            const int j = -v;
            if (m_dir.point_symmetric)
                return {j, 0};
            return {m_even ? j - 1 : j, -1};
        }
        if (v > n - 1) {
            const int j = v - (n - 1);
            if (m_dir.point_symmetric)
                return {n - 1 - j, n - 1};
            return {m_even ? n - j : n - 1 - j, -1};
        }
        return {v, -1};
    }
    int Centre(int i, int k) const { return 2 * k + (i ^ m_parity); }
    bool PseEnd() const { return m_dir.point_symmetric && (m_region.rows & 1) == 0 && m_region.rows >= 4; }
    bool Ready(int i, int k) const
    {
        const tap_set &h = i == 0 ? m_dir.kernel->analysis_low : m_dir.kernel->analysis_high;
        const int last = Centre(i, k) + h.pos_support;
        return last <= m_received - 1 || m_received == m_region.rows;
    }
    int Lowest() const
    {
        const int n = m_region.rows;
        int lowest = n - 1 - m_reach - 1; // what the mirror below the last row reaches back to
        for (int i = 0; i < 2; ++i) {
            if (m_next[i] >= m_count[i])
                continue;
            const tap_set &h = i == 0 ? m_dir.kernel->analysis_low : m_dir.kernel->analysis_high;
            lowest = std::min(lowest, std::max(0, Centre(i, m_next[i]) - h.neg_support));
        }
        return std::max(lowest, 0);
    }

    void Filter(int i, int k, float *out)
    {
        const tap_set &h = i == 0 ? m_dir.kernel->analysis_low : m_dir.kernel->analysis_high;
        const int centre = Centre(i, k), W = m_region.cols;
        m_sum.assign(size_t(std::max(W, 1)), 0.0);
        for (int j = -h.neg_support; j <= h.pos_support; ++j) {
            const double tap = double(h.Tap(j));
            const Source s = Map(centre + j);
            const float *x = m_window.at(s.row);
            if (s.edge >= 0) {
                const float *e = m_window.at(s.edge);
                for (int c = 0; c < W; ++c)
                    m_sum[size_t(c)] += tap * (2 * double(e[c]) - double(x[c]));
            } else {
                for (int c = 0; c < W; ++c)
                    m_sum[size_t(c)] += tap * double(x[c]);
            }
        }
        for (int c = 0; c < W; ++c)
            out[c] = float(m_sum[size_t(c)]);
    }

    void Emit(int i)
    {
        const int n = m_region.rows, W = m_region.cols;
        const int k = m_next[i]++;
        Filter(i, k, m_out.data());
        const bool pse_end = PseEnd();
        const int L = n / 2 - 1;
        if (pse_end && i == 0 && k == L - 1)
            m_kept.assign(m_out.begin(), m_out.begin() + W);
        if (pse_end && i == 0 && k == L) {
            // The last high row is traded for the last input row, which synthesis needs as the centre
            // of its reflection; both leave together.
            const int h = m_next[1]++;
            Filter(1, h, m_other.data());
            const float *last = m_window.at(n - 1);
            for (int c = 0; c < W; ++c) {
                m_other[size_t(c)] = float(double(m_out[size_t(c)]) - 0.75 * double(last[c]) -
                                           0.25 * double(m_kept[size_t(c)]));
                m_out[size_t(c)] = last[c];
            }
            low->push_float_line(m_out.data(), W);
            high->push_float_line(m_other.data(), W);
            return;
        }
        (i == 0 ? low : high)->push_float_line(m_out.data(), W);
    }

    // A region shorter than the filters' reach, filtered column by column once it is all there.
    void Whole()
    {
        const int n = m_region.rows, W = m_region.cols;
        std::vector<float> lo(size_t(m_count[0]) * size_t(W)), hi(size_t(m_count[1]) * size_t(W));
        m_column.resize(size_t(n) * 3);
        float *col = m_column.data(), *cl = col + n, *ch = cl + n;
        for (int c = 0; c < W; ++c) {
            for (int y = 0; y < n; ++y)
                col[y] = m_window.at(y)[c];
            conv_analysis(*m_dir.kernel, col, n, m_region.first_row, cl, ch, m_dir.point_symmetric);
            for (int y = 0; y < m_count[0]; ++y)
                lo[size_t(y) * size_t(W) + size_t(c)] = cl[y];
            for (int y = 0; y < m_count[1]; ++y)
                hi[size_t(y) * size_t(W) + size_t(c)] = ch[y];
        }
        for (int y = 0; y < m_count[0]; ++y)
            low->push_float_line(lo.data() + size_t(y) * size_t(W), W);
        for (int y = 0; y < m_count[1]; ++y)
            high->push_float_line(hi.data() + size_t(y) * size_t(W), W);
        m_window.reset(W);
    }

    int m_reach = 1;
    bool m_stream = false;
    row_window<float> m_window;
    int m_received = 0;
    int m_next[2] = {0, 0}, m_count[2] = {0, 0};
    std::vector<float> m_in, m_out, m_other, m_kept, m_column;
    std::vector<double> m_sum;
};

class vert_synthesis_conv : public vert_conv_base
{
public:
    using vert_conv_base::vert_conv_base;
    void initialize(const component_transform_setup &setup, const region_rect &region,
                    const stage_frames &frames) override
    {
        vert_conv_base::initialize(setup, region, frames);
        const wavelet_kernel &k = *m_dir.kernel;
        if (region.rows > 0 && m_parity && m_dir.point_symmetric)
            local_error(
                "Cannot start image, tile or frame with an odd indexed sample when using the PSE!  Use "
                "regular symmetric extension!");
        if (region.rows > 0 && m_parity && m_even)
            local_error("Cannot start image, tile or frame with an odd indexed sample when using even length "
                        "filters!  Use odd length filters!");
        const int n = region.rows;
        m_reach = FilterReach(k.synthesis_low, k.synthesis_high);
        m_count[0] = (n - m_parity + 1) >> 1;
        m_count[1] = (n + m_parity) >> 1;
        m_stream = m_count[0] >= m_reach + 2 && m_count[1] >= m_reach + 2;
        for (row_window<double> &w : m_band)
            w.reset(region.cols);
        m_delivered = 0;
        m_modified = false;
        m_float.resize(size_t(std::max(region.cols, 1)));
        m_whole.clear();
    }
    void pull_int_line(int32_t *row, int length) override
    {
        check_length(length);
        Next(m_float.data());
        round_samples(m_float.data(), row, length);
    }
    void pull_float_line(float *row, int length) override
    {
        check_length(length);
        Next(row);
    }
    void terminate() override
    {
        for (row_window<double> &w : m_band)
            w.reset(0);
        vert_conv_base::terminate();
    }

private:
    // Band sample i of band b after extension: (row, sign), or for point-symmetric extension a row
    // reflected through the first row (edge 0) or through the centre row C (edge 1).
    struct Source
    {
        int row = 0;
        int sign = 1; // 0: the zero row after an odd-length high band
        int edge = -1;
    };
    Source Map(int b, int i) const
    {
        const int n = m_region.rows, nb = m_count[b], p = n & 1;
        const int own_left = m_parity == b, own_right = ((m_region.first_row + n - 1) & 1) == b;
        if (i >= 0 && i < nb)
            return {i, 1, -1};
        if (m_dir.point_symmetric) {
            if (b == 0)
                return i < 0 ? Source{-i, 1, 0} : Source{nb - (i - (nb - 1)) - p, 1, 1};
            return i < 0 ? Source{-i - 1, -1, -1} : Source{nb - (i - (nb - 1)) - (1 - p), -1, -1};
        }
        if (m_even) {
            if (b == 0) {
                if (i < 0)
                    return {-i - 1, 1, -1};
                const int j = i - (nb - 1);
                return {(n & 1) ? nb - 1 - j : nb - j, 1, -1};
            }
            if (i < 0)
                return {-i - 1, -1, -1};
            if (n & 1) {
                // The high band ends in one zero sample and is antisymmetric about it.
                if (i == nb)
                    return {0, 0, -1};
                return {nb - (i - nb), -1, -1};
            }
            return {nb - (i - (nb - 1)), -1, -1};
        }
        if (i < 0)
            return {own_left ? -i : -i - 1, 1, -1};
        const int j = i - (nb - 1);
        return {own_right ? nb - 1 - j : nb - j, 1, -1};
    }

    // Makes band rows up to `last` of band b available (and, with point-symmetric extension, the
    // traded last rows put back first).
    void Need(int b, int last)
    {
        while (m_band[b].next() <= last) {
            Pull(b);
            if (m_dir.point_symmetric && !m_modified && m_band[b].next() == m_count[b]) {
                Pull(1 - b, m_count[1 - b] - 1);
                Modify();
            }
        }
    }
    void Pull(int b, int last)
    {
        while (m_band[b].next() <= last)
            Pull(b);
    }
    void Pull(int b)
    {
        transform_stage *child = b == 0 ? low.get() : high.get();
        child->pull_float_line(m_float.data(), m_region.cols);
        double *row = m_band[b].append();
        for (int c = 0; c < m_region.cols; ++c)
            row[c] = double(m_float[size_t(c)]);
    }
    void Modify()
    {
        const int n = m_region.rows, W = m_region.cols;
        m_modified = true;
        m_centre.resize(size_t(std::max(W, 1)));
        if (n & 1) {
            std::copy(m_band[0].at(m_count[0] - 1), m_band[0].at(m_count[0] - 1) + W, m_centre.begin());
            return;
        }
        const int L = n / 2 - 1;
        double *lo = m_band[0].at(L), *hi = m_band[1].at(L);
        const double *before = m_band[0].at(L - 1);
        for (int c = 0; c < W; ++c) {
            m_centre[size_t(c)] = lo[c];
            lo[c] = 0.25 * before[c] + 0.75 * lo[c] + hi[c];
            hi[c] = 0;
        }
    }

    void Next(float *out)
    {
        const int n = m_region.rows, W = m_region.cols;
        if (m_delivered >= n)
            local_error("The vertical wavelet stage was asked for more rows than its region has!");
        const int t = m_delivered++;
        if (n == 1) {
            (m_parity ? high : low)->pull_float_line(out, W);
            return;
        }
        if (!m_stream) {
            Whole(t, out);
            return;
        }
        // Output t gathers every band row whose synthesis filter reaches it, low band first.
        const int pos0[2] = {m_parity, 1 - m_parity};
        m_sum.assign(size_t(std::max(W, 1)), 0.0);
        for (int b = 0; b < 2; ++b) {
            const tap_set &g = b == 0 ? m_dir.kernel->synthesis_low : m_dir.kernel->synthesis_high;
            int top = -1;
            for (int j = -g.neg_support; j <= g.pos_support; ++j) {
                const int pos = t - j - pos0[b];
                if (pos & 1)
                    continue;
                const Source s = Map(b, pos >> 1);
                // A reflection through the centre row needs the band's last rows put back first.
                top = std::max(top, s.edge == 1 ? m_count[b] - 1 : s.row);
            }
            Need(b, std::min(top, m_count[b] - 1));
        }
        for (int b = 0; b < 2; ++b) {
            const tap_set &g = b == 0 ? m_dir.kernel->synthesis_low : m_dir.kernel->synthesis_high;
            for (int j = -g.neg_support; j <= g.pos_support; ++j) {
                const int pos = t - j - pos0[b];
                if (pos & 1)
                    continue;
                const double tap = double(g.Tap(j));
                const Source s = Map(b, pos >> 1);
                if (s.sign == 0) {
                    for (int c = 0; c < W; ++c)
                        m_sum[size_t(c)] += tap * 0.0;
                    continue;
                }
                const double *x = m_band[b].at(s.row);
                if (s.edge == 0) {
                    const double *e = m_band[b].at(0);
                    for (int c = 0; c < W; ++c)
                        m_sum[size_t(c)] += tap * (2 * e[c] - x[c]);
                } else if (s.edge == 1) {
                    for (int c = 0; c < W; ++c)
                        m_sum[size_t(c)] += tap * (2 * m_centre[size_t(c)] - x[c]);
                } else if (s.sign < 0) {
                    for (int c = 0; c < W; ++c)
                        m_sum[size_t(c)] += tap * -x[c];
                } else {
                    for (int c = 0; c < W; ++c)
                        m_sum[size_t(c)] += tap * x[c];
                }
            }
        }
        for (int c = 0; c < W; ++c)
            out[c] = float(m_sum[size_t(c)]);
        // Rows no later output reaches: below the next output's filters and the mirror at the end.
        for (int b = 0; b < 2; ++b) {
            const tap_set &g = b == 0 ? m_dir.kernel->synthesis_low : m_dir.kernel->synthesis_high;
            const int first = (t + 1 - g.pos_support - pos0[b] - 1) >> 1;
            const int keep = std::min(first, m_count[b] - 1 - m_reach - 2);
            m_band[b].drop_below(std::max(0, std::min(keep, m_band[b].next())));
        }
    }

    // A region shorter than the filters' reach: every band row at once, then the reference per column.
    void Whole(int t, float *out)
    {
        const int n = m_region.rows, W = m_region.cols;
        if (m_whole.empty()) {
            std::vector<float> lo(size_t(m_count[0]) * size_t(W)), hi(size_t(m_count[1]) * size_t(W));
            for (int y = 0; y < m_count[0]; ++y)
                low->pull_float_line(lo.data() + size_t(y) * size_t(W), W);
            for (int y = 0; y < m_count[1]; ++y)
                high->pull_float_line(hi.data() + size_t(y) * size_t(W), W);
            m_whole.resize(size_t(n) * size_t(W) + 1);
            std::vector<float> cl(size_t(m_count[0]) + 1), ch(size_t(m_count[1]) + 1),
                col(static_cast<size_t>(n));
            for (int c = 0; c < W; ++c) {
                for (int y = 0; y < m_count[0]; ++y)
                    cl[size_t(y)] = lo[size_t(y) * size_t(W) + size_t(c)];
                for (int y = 0; y < m_count[1]; ++y)
                    ch[size_t(y)] = hi[size_t(y) * size_t(W) + size_t(c)];
                conv_synthesis(*m_dir.kernel, cl.data(), ch.data(), n, m_region.first_row, col.data(),
                               m_dir.point_symmetric);
                for (int y = 0; y < n; ++y)
                    m_whole[size_t(y) * size_t(W) + size_t(c)] = col[size_t(y)];
            }
        }
        std::copy(m_whole.begin() + int64_t(t) * W, m_whole.begin() + int64_t(t + 1) * W, out);
    }

    int m_reach = 1;
    bool m_stream = false;
    int m_count[2] = {0, 0};
    row_window<double> m_band[2];
    int m_delivered = 0;
    bool m_modified = false;
    std::vector<double> m_centre, m_sum;
    std::vector<float> m_float, m_whole;
};

} // namespace

std::unique_ptr<transform_stage> make_vertical_conv(int component, int level, bool synthesis)
{
    if (synthesis)
        return std::make_unique<vert_synthesis_conv>(component, level);
    return std::make_unique<vert_analysis_conv>(component, level);
}

} // namespace zn::j2k
