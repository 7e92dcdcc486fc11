// Vertical lifting stages. Lifting along columns works on whole rows: every row of a step's output is
// the target row plus filtered source rows, so it can be made as soon as those few rows exist. Each
// segment of the region (the whole region, or one SSO-DWT frame) runs a small network of row
// queues, one per version of each band, fed in order and drained in order; a row leaves its queue
// when no step and no output will read it again, so a stage holds rows in proportion to the step
// supports, not to the height of the region.
#include "jpeg2000/local_services.h"
#include "jpeg2000/wavelet_stages.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <type_traits>

namespace zn::j2k {

namespace {

constexpr int kLow = 0, kHigh = 1;

// The rows of one version of one band within a segment: rows [first, next) are held, oldest first.
template <typename T> struct row_queue
{
    int band = kLow;
    int length = 0; // rows the sequence has
    int first = 0, next = 0;
    std::vector<T *> ring;
    int head = 0;

    int held() const { return next - first; }
    T *row(int i) const { return ring[size_t((head + (i - first)) % int(ring.size()))]; }
    void push(T *r)
    {
        if (held() == int(ring.size())) {
            std::vector<T *> grown(ring.size() * 2 + 4);
            for (int i = 0; i < held(); ++i)
                grown[size_t(i)] = row(first + i);
            ring = std::move(grown);
            head = 0;
        }
        ring[size_t((head + held()) % int(ring.size()))] = r;
        ++next;
    }
    T *pop()
    {
        T *r = ring[size_t(head)];
        head = (head + 1) % int(ring.size());
        ++first;
        return r;
    }
};

// One lifting operation of a segment's network: a step applied to a whole target sequence.
struct lifting_op
{
    int step = 0;
    int n_t = 0, n_u = 0;
    bool sso_first = false, sso_last = false; // target rows 0 and n_t - 1 are SSO boundaries
    bool has_source = false;
    step_shape shape;
    extension_map map;
    double sso_scale = 1.0;

    bool Skips(int r) const { return (sso_first && r == 0) || (sso_last && r == n_t - 1) || !has_source; }
    // The lowest source row that target rows from r on still read.
    int LowestSource(int r) const
    {
        if (!has_source || r >= n_t)
            return INT_MAX;
        if (r - shape.neg < 0)
            return 0;
        return std::min(r - shape.neg, map.lowest_right_source());
    }
};

template <typename T> T Negated(T v)
{
    if constexpr (std::is_same_v<T, int32_t>)
        return int32_t(0u - uint32_t(v)); // as the row lifting's int negation wraps
    else
        return -v;
}

// The lifting network of one segment on rows. Queue 0 holds the input of the band the first
// operation updates, queue 1 the other input, and queue j + 2 the output of operation j, which
// updates queue j from queue j + 1. Analysis runs the steps forward, synthesis backward; either
// way the bands alternate, so the last two queues are the final bands.
template <typename T> class lifting_network
{
public:
    // `more(band)` is asked for the next input row of a band; it feeds it with `feed` and returns
    // false when the row is not there yet.
    using supplier = std::function<bool(int band)>;

    void start(const wavelet_kernel &k, const lifting_segment &g, int direction, const std::vector<double> &x,
               row_pool<T> *pool, const T *zero_row, supplier more)
    {
        m_pool = pool;
        m_zero = zero_row;
        m_more = std::move(more);
        m_direction = direction;
        m_width = pool->width();
        const int K = g.passes_unchanged() ? 0 : k.num_steps;
        m_ops.assign(size_t(K), lifting_op{});
        const int length[2] = {g.low_count(), g.hc};
        int first_target = kHigh;
        for (int j = 0; j < K; ++j) {
            lifting_op &op = m_ops[size_t(j)];
            op.step = direction > 0 ? j : K - 1 - j;
            const bool even = op.step % 2 == 0;
            const int target = even ? kHigh : kLow;
            if (j == 0)
                first_target = target;
            const tap_set &st = k.steps[op.step];
            op.n_t = length[target];
            op.n_u = length[1 - target];
            if (op.n_t == 0)
                continue;
            op.shape = lifting_step_shape(st, op.step, g.b, g.e, op.n_t, op.n_u);
            int first = 0, last = op.n_t - 1;
            if (!even && g.sso_left) {
                op.sso_first = true;
                first = 1;
            }
            if (!even && g.sso_right && last >= first)
                op.sso_last = true;
            op.sso_scale = x[size_t(op.step)];
            op.has_source = op.n_u > 0 && st.Count() > 0;
            if (op.has_source)
                op.map.build(op.n_u, op.shape.neg, std::max(0, op.shape.pos + op.n_t - op.n_u),
                             op.shape.sigma_left, op.shape.sigma_right);
        }
        m_queues.assign(size_t(K + 2), row_queue<T>{});
        m_queues[0].band = first_target;
        m_queues[1].band = 1 - first_target;
        for (int j = 0; j < K; ++j)
            m_queues[size_t(j + 2)].band = (m_ops[size_t(j)].step % 2 == 0) ? kHigh : kLow;
        for (row_queue<T> &q : m_queues)
            q.length = length[q.band];
        m_input[m_queues[0].band] = 0;
        m_input[m_queues[1].band] = 1;
        m_final[m_queues[size_t(K)].band] = K;
        m_final[m_queues[size_t(K + 1)].band] = K + 1;
        m_taken[kLow] = m_taken[kHigh] = 0;
        m_steps = &k;
    }

    void finish()
    {
        for (row_queue<T> &q : m_queues)
            while (q.held() > 0)
                m_pool->put(q.pop());
        m_queues.clear();
    }

    int received(int band) const { return m_queues[size_t(m_input[band])].next; }
    int length(int band) const { return m_queues[size_t(m_input[band])].length; }
    // The next input row of a band; the network owns the buffer from now on.
    void feed(int band, T *row) { m_queues[size_t(m_input[band])].push(row); }
    // Rows of a band before `i` will not be asked for (borrowed rows that the segment does not emit).
    void skip_output(int band, int i) { m_taken[band] = i; }

    // Final row i of a band, made now if its inputs are there; null otherwise.
    const T *final_row(int band, int i)
    {
        const int q = m_final[band];
        if (!Make(q, i))
            return nullptr;
        return m_queues[size_t(q)].row(i);
    }
    // Row i of a band has been delivered: rows before it may go.
    void taken(int band, int i)
    {
        m_taken[band] = std::max(m_taken[band], i + 1);
        Trim(m_final[band]);
    }

private:
    bool Make(int q, int i)
    {
        row_queue<T> &Q = m_queues[size_t(q)];
        if (i < Q.next)
            return true;
        if (i >= Q.length)
            local_error("The vertical lifting stage was asked for row %d of a band of %d rows!", i, Q.length);
        if (q < 2) {
            while (Q.next <= i)
                if (!m_more(Q.band))
                    return false;
            return true;
        }
        const lifting_op &op = m_ops[size_t(q - 2)];
        while (Q.next <= i) {
            const int r = Q.next;
            if (!Make(q - 2, r))
                return false;
            const bool skip = op.Skips(r);
            if (!skip) {
                int top = -1;
                for (int m = 0; m < op.shape.neg + op.shape.pos + 1; ++m)
                    top = std::max(top, op.map.at(r - op.shape.neg + m).index);
                if (top >= 0 && !Make(q - 1, top))
                    return false;
            }
            T *out = m_pool->get();
            Compute(op, m_queues[size_t(q - 2)].row(r), skip ? nullptr : &m_queues[size_t(q - 1)], r, out);
            Q.push(out);
            Trim(q - 2);
            Trim(q - 1);
        }
        return true;
    }

    void Compute(const lifting_op &op, const T *t, const row_queue<T> *source, int r, T *out)
    {
        const int W = m_width;
        if (!source) {
            const bool sso = (op.sso_first && r == 0) || (op.sso_last && r == op.n_t - 1);
            if constexpr (std::is_same_v<T, float>) {
                if (sso) {
                    for (int x = 0; x < W; ++x)
                        out[x] = float(m_direction > 0 ? t[x] * op.sso_scale : t[x] / op.sso_scale);
                    return;
                }
            }
            std::copy_n(t, W, out);
            return;
        }
        const tap_set &st = m_steps->steps[op.step];
        const int count = op.shape.neg + op.shape.pos + 1;
        const T *rows[kMaxLiftingTaps + 16];
        int signs[kMaxLiftingTaps + 16];
        for (int m = 0; m < count; ++m) {
            const extension_source e = op.map.at(r - op.shape.neg + m);
            rows[m] = e.sign ? source->row(e.index) : m_zero;
            signs[m] = e.sign;
        }
        if constexpr (std::is_same_v<T, int32_t>) {
            const int s = st.downshift;
            const int64_t half = s > 0 ? int64_t(1) << (s - 1) : 0;
            if (count == 2 && signs[0] >= 0 && signs[1] >= 0) {
                // Two taps, no mirrored negation: the steps of every built-in kernel.
                const int64_t a0 = st.int_taps[0], a1 = st.int_taps[1];
                const T *u0 = rows[0], *u1 = rows[1];
                for (int x = 0; x < W; ++x) {
                    const int64_t sum = a0 * u0[x] + a1 * u1[x];
                    out[x] = int32_t(t[x] + m_direction * (s > 0 ? (half + sum) >> s : sum));
                }
                return;
            }
            for (int x = 0; x < W; ++x) {
                int64_t sum = 0;
                for (int m = 0; m < count; ++m)
                    sum +=
                        int64_t(st.int_taps[size_t(m)]) * (signs[m] < 0 ? Negated(rows[m][x]) : rows[m][x]);
                const int64_t delta = s > 0 ? (half + sum) >> s : sum;
                out[x] = int32_t(t[x] + m_direction * delta);
            }
        } else {
            // A negated source sample gives the negated product, bit for bit: the sign goes on the tap.
            double taps[kMaxLiftingTaps + 16];
            for (int m = 0; m < count; ++m)
                taps[m] = signs[m] < 0 ? -double(st.taps[size_t(m)]) : double(st.taps[size_t(m)]);
            if (count == 2) {
                const double a0 = taps[0], a1 = taps[1];
                const T *u0 = rows[0], *u1 = rows[1];
                for (int x = 0; x < W; ++x) {
                    double sum = 0;
                    sum += a0 * double(u0[x]);
                    sum += a1 * double(u1[x]);
                    out[x] = float(double(t[x]) + m_direction * sum);
                }
                return;
            }
            for (int x = 0; x < W; ++x) {
                double sum = 0;
                for (int m = 0; m < count; ++m)
                    sum += taps[m] * double(rows[m][x]);
                out[x] = float(double(t[x]) + m_direction * sum);
            }
        }
    }

    // Drops the oldest rows of queue p that nothing will read again.
    void Trim(int p)
    {
        const int K = int(m_ops.size());
        row_queue<T> &Q = m_queues[size_t(p)];
        while (Q.held() > 0) {
            const int r = Q.first;
            if (p < K && m_queues[size_t(p + 2)].next <= r)
                break; // operation p still updates it
            if (p >= 1 && p <= K && r >= m_ops[size_t(p - 1)].LowestSource(m_queues[size_t(p + 1)].next))
                break; // operation p - 1 still reads it
            if (p >= K && m_taken[Q.band] <= r)
                break; // not yet delivered
            m_pool->put(Q.pop());
        }
    }

    row_pool<T> *m_pool = nullptr;
    const T *m_zero = nullptr;
    supplier m_more;
    int m_direction = 1;
    int m_width = 0;
    const wavelet_kernel *m_steps = nullptr;
    std::vector<lifting_op> m_ops;
    std::vector<row_queue<T>> m_queues;
    int m_input[2] = {0, 1}, m_final[2] = {0, 1};
    int m_taken[2] = {0, 0};
};

// What the analysis and synthesis members share: the kernel, the segment plan and the rows.
template <typename T> class vert_lifting_base : public transform_stage
{
public:
    vert_lifting_base(bool float_path, int component, int level)
        : transform_stage(INFO__VERTICAL, float_path, component, level, -1)
    {}
    void initialize(const component_transform_setup &setup, const region_rect &region,
                    const stage_frames &frames) override
    {
        transform_stage::initialize(setup, region, frames);
        const stage_direction d = direction_of(setup, level, true);
        m_kernel = d.kernel;
        lifting_frames f;
        f.frames = d.frames;
        f.size = frames.height;
        f.anchor = frames.anchor_row;
        f.sso_extension = d.sso_extension;
        m_segments = region.rows > 0 ? plan_lifting_segments(region.first_row, region.rows, f)
                                     : std::vector<lifting_segment>{};
        if constexpr (std::is_same_v<T, float>)
            m_x = sso_scales(*m_kernel);
        else
            m_x.assign(size_t(m_kernel->num_steps), 1.0);
        m_pool.set_width(region.cols);
        m_zero.assign(size_t(std::max(region.cols, 1)), T(0));
        m_low0 = (region.first_row + 1) >> 1;
        m_high0 = region.first_row >> 1;
        this->initialize_children(setup, frames, true);
    }
    void terminate() override
    {
        for (lifting_network<T> &n : m_nets)
            n.finish();
        m_nets.clear();
        transform_stage::terminate();
    }

protected:
    // Band and index within segment g of absolute row y.
    void Locate(const lifting_segment &g, int y, int *band, int *local) const
    {
        if (y & 1) {
            *band = kHigh;
            *local = (((y - 1) >> 1) - m_high0) - g.h_first;
        } else {
            *band = kLow;
            *local = ((y >> 1) - m_low0) - g.l_first + (g.borrow_left ? 1 : 0);
        }
    }
    T *Copy(const T *row)
    {
        T *r = m_pool.get();
        std::copy_n(row, m_region.cols, r);
        return r;
    }

    const wavelet_kernel *m_kernel = nullptr;
    std::vector<lifting_segment> m_segments;
    std::vector<double> m_x;
    row_pool<T> m_pool;
    std::vector<T> m_zero;
    int m_low0 = 0, m_high0 = 0;
    // The current segment's network and, in synthesis, those of the segments after it whose first
    // rows the ones before them borrow.
    std::deque<lifting_network<T>> m_nets;
};

template <typename T> class vert_analysis_lifting : public vert_lifting_base<T>
{
    using base = vert_lifting_base<T>;

public:
    using base::base;
    void initialize(const component_transform_setup &setup, const region_rect &region,
                    const stage_frames &frames) override
    {
        base::initialize(setup, region, frames);
        m_received = 0;
        m_segment = 0;
        if (!this->m_segments.empty())
            Start(nullptr);
    }
    void push_int_line(const int32_t *row, int length) override
    {
        this->check_length(length);
        T *r = this->m_pool.get();
        std::copy(row, row + length, r);
        Take(r);
    }
    void push_float_line(const float *row, int length) override
    {
        if constexpr (std::is_same_v<T, int32_t>) {
            local_error("A reversible wavelet stage was given a row of floating-point samples!");
        } else {
            this->check_length(length);
            Take(this->Copy(row));
        }
    }

private:
    void Start(T *carry)
    {
        const lifting_segment &g = this->m_segments[size_t(m_segment)];
        if (this->m_nets.empty())
            this->m_nets.emplace_back();
        this->m_nets[0].start(*this->m_kernel, g, +1, this->m_x, &this->m_pool, this->m_zero.data(),
                              [](int) { return false; });
        this->m_nets[0].skip_output(kLow, g.borrow_left ? 1 : 0);
        m_emitted[kLow] = g.borrow_left ? 1 : 0;
        m_emitted[kHigh] = 0;
        if (g.borrow_left)
            this->m_nets[0].feed(kLow, carry);
    }

    void Take(T *row)
    {
        if (m_received >= this->m_region.rows)
            local_error("The vertical wavelet stage received more rows than its region has!");
        const int y = this->m_region.first_row + m_received++;
        if (this->m_region.rows == 1) {
            Emit(y & 1, row);
            this->m_pool.put(row);
            return;
        }
        lifting_network<T> &net = this->m_nets[0];
        const lifting_segment &g = this->m_segments[size_t(m_segment)];
        if (y >= g.x + g.w) {
            // The first row of the next segment, which this one borrows as its last low row.
            net.feed(kLow, this->Copy(row));
            Drain(g);
            Next(g);
        }
        const lifting_segment &h = this->m_segments[size_t(m_segment)];
        int band = 0, local = 0;
        this->Locate(h, y, &band, &local);
        this->m_nets[0].feed(band, row);
        Drain(h);
        const bool all_in = this->m_nets[0].received(kLow) == h.low_count() - (h.borrow_right ? 1 : 0) &&
                            this->m_nets[0].received(kHigh) == h.hc;
        if (all_in && !h.borrow_right && m_segment + 1 < int(this->m_segments.size()))
            Next(h);
    }

    // Emits every row the segment can make now.
    void Drain(const lifting_segment &g)
    {
        lifting_network<T> &net = this->m_nets[0];
        const int end[2] = {(g.borrow_left ? 1 : 0) + g.lc, g.hc};
        for (bool more = true; more;) {
            more = false;
            for (int band : {kLow, kHigh}) {
                if (m_emitted[band] >= end[band])
                    continue;
                const T *r = net.final_row(band, m_emitted[band]);
                if (!r)
                    continue;
                const T *out = Scaled(band, r);
                if (band == kLow && m_emitted[band] == end[band] - 1 &&
                    m_segment + 1 < int(this->m_segments.size()) &&
                    this->m_segments[size_t(m_segment + 1)].borrow_left)
                    m_carry = this->Copy(out); // the next segment starts from this row, as it leaves
                Emit(band, out);
                net.taken(band, m_emitted[band]++);
                more = true;
            }
        }
    }

    void Next(const lifting_segment &g)
    {
        lifting_network<T> &net = this->m_nets[0];
        if (m_emitted[kLow] != (g.borrow_left ? 1 : 0) + g.lc || m_emitted[kHigh] != g.hc)
            local_error("A segment of the vertical lifting stage ended with rows not made!");
        net.finish();
        ++m_segment;
        T *carry = m_carry;
        m_carry = nullptr;
        Start(carry); // a borrowed first row of the next segment arrives again, as its own, in Take
    }

    const T *Scaled(int band, const T *row)
    {
        if constexpr (std::is_same_v<T, float>) {
            const float s = band == kLow ? this->m_kernel->low_scale : this->m_kernel->high_scale;
            if (!this->m_segments[size_t(m_segment)].passes_unchanged() && scale_matters(s, false)) {
                m_scaled.resize(size_t(this->m_region.cols));
                for (int x = 0; x < this->m_region.cols; ++x)
                    m_scaled[size_t(x)] = row[x] * s;
                return m_scaled.data();
            }
        }
        return row;
    }

    void Emit(int band, const T *row)
    {
        transform_stage *child = band == kLow ? this->low.get() : this->high.get();
        if constexpr (std::is_same_v<T, float>)
            child->push_float_line(row, this->m_region.cols);
        else
            child->push_int_line(row, this->m_region.cols);
    }

    int m_received = 0;
    int m_segment = 0;
    int m_emitted[2] = {0, 0};
    T *m_carry = nullptr;
    std::vector<T> m_scaled;
};

template <typename T> class vert_synthesis_lifting : public vert_lifting_base<T>
{
    using base = vert_lifting_base<T>;

public:
    using base::base;
    void initialize(const component_transform_setup &setup, const region_rect &region,
                    const stage_frames &frames) override
    {
        base::initialize(setup, region, frames);
        m_delivered = 0;
        m_segment = 0;
        if (!this->m_segments.empty())
            Start(0);
    }
    void pull_int_line(int32_t *row, int length) override
    {
        this->check_length(length);
        const T *r = Next();
        if constexpr (std::is_same_v<T, float>)
            round_samples(r, row, length);
        else
            std::copy(r, r + length, row);
        Release();
    }
    void pull_float_line(float *row, int length) override
    {
        if constexpr (std::is_same_v<T, int32_t>) {
            local_error("A reversible wavelet stage was asked for a row of floating-point samples!");
        } else {
            this->check_length(length);
            const T *r = Next();
            std::copy(r, r + length, row);
            Release();
        }
    }

private:
    lifting_network<T> &Net(int s) { return this->m_nets[size_t(s - m_segment)]; }

    void Start(int s)
    {
        const lifting_segment &g = this->m_segments[size_t(s)];
        lifting_network<T> &net = this->m_nets.emplace_back();
        net.start(*this->m_kernel, g, -1, this->m_x, &this->m_pool, this->m_zero.data(),
                  [this, s](int band) { return Supply(s, band); });
        net.skip_output(kLow, g.borrow_left ? 1 : 0);
    }

    // The next input row of a band of segment s: pulled from the child, or a borrowed row.
    bool Supply(int s, int band)
    {
        lifting_network<T> &net = Net(s);
        const lifting_segment &g = this->m_segments[size_t(s)];
        const int j = net.received(band);
        if (band == kLow && j == 0 && g.borrow_left) {
            // The low row before the segment, as it came from the band (the previous segment kept it).
            net.feed(kLow, Scale(g, kLow, this->Copy(m_carry.data())));
            return true;
        }
        if (band == kLow && g.borrow_right && j == g.low_count() - 1) {
            // The next segment's first row, once that segment has rebuilt it (which, for a short
            // segment, may borrow in turn). Every own row comes first, so that each band's rows
            // still leave the children in order.
            while (net.received(kHigh) < g.hc)
                Pull(s, kHigh);
            if (s + 1 - m_segment >= int(this->m_nets.size()))
                Start(s + 1);
            const T *first = Net(s + 1).final_row(kLow, 0);
            if (!first)
                local_error("The vertical lifting stage could not rebuild the first row of a frame!");
            net.feed(kLow, Scale(g, kLow, this->Copy(first)));
            return true;
        }
        Pull(s, band);
        return true;
    }

    void Pull(int s, int band)
    {
        lifting_network<T> &net = Net(s);
        const lifting_segment &g = this->m_segments[size_t(s)];
        transform_stage *child = band == kLow ? this->low.get() : this->high.get();
        T *r = this->m_pool.get();
        if constexpr (std::is_same_v<T, float>)
            child->pull_float_line(r, this->m_region.cols);
        else
            child->pull_int_line(r, this->m_region.cols);
        const bool last_own_low = band == kLow && net.received(kLow) == (g.borrow_left ? 1 : 0) + g.lc - 1;
        if (last_own_low && s + 1 < int(this->m_segments.size()) &&
            this->m_segments[size_t(s + 1)].borrow_left)
            m_carry.assign(r, r + this->m_region.cols);
        net.feed(band, Scale(g, band, r));
    }

    T *Scale(const lifting_segment &g, int band, T *row)
    {
        if constexpr (std::is_same_v<T, float>) {
            const float s = band == kLow ? this->m_kernel->low_scale : this->m_kernel->high_scale;
            if (!g.passes_unchanged() && scale_matters(s, false)) {
                const float inverse = 1.0f / s;
                for (int x = 0; x < this->m_region.cols; ++x)
                    row[x] *= inverse;
            }
        }
        return row;
    }

    const T *Next()
    {
        if (m_delivered >= this->m_region.rows)
            local_error("The vertical wavelet stage was asked for more rows than its region has!");
        const int y = this->m_region.first_row + m_delivered++;
        if (this->m_region.rows == 1) {
            m_single.resize(size_t(std::max(this->m_region.cols, 1)));
            transform_stage *child = (y & 1) ? this->high.get() : this->low.get();
            if constexpr (std::is_same_v<T, float>)
                child->pull_float_line(m_single.data(), this->m_region.cols);
            else
                child->pull_int_line(m_single.data(), this->m_region.cols);
            m_band = -1;
            return m_single.data();
        }
        const lifting_segment *g = &this->m_segments[size_t(m_segment)];
        if (y >= g->x + g->w) {
            this->m_nets.front().finish();
            this->m_nets.pop_front();
            ++m_segment;
            if (this->m_nets.empty())
                Start(m_segment);
            g = &this->m_segments[size_t(m_segment)];
        }
        this->Locate(*g, y, &m_band, &m_local);
        const T *r = Net(m_segment).final_row(m_band, m_local);
        if (!r)
            local_error("The vertical lifting stage could not rebuild row %d!", y);
        return r;
    }

    void Release()
    {
        if (m_band >= 0)
            Net(m_segment).taken(m_band, m_local);
    }

    int m_delivered = 0;
    int m_segment = 0;
    int m_band = -1, m_local = 0;
    std::vector<T> m_carry, m_single;
};

} // namespace

std::unique_ptr<transform_stage> make_vertical_lifting(bool float_path, int component, int level,
                                                       bool synthesis)
{
    if (synthesis)
        return float_path ? std::unique_ptr<transform_stage>(
                                std::make_unique<vert_synthesis_lifting<float>>(true, component, level))
                          : std::make_unique<vert_synthesis_lifting<int32_t>>(false, component, level);
    return float_path ? std::unique_ptr<transform_stage>(
                            std::make_unique<vert_analysis_lifting<float>>(true, component, level))
                      : std::make_unique<vert_analysis_lifting<int32_t>>(false, component, level);
}

} // namespace zn::j2k
