// The line-based transform: every node of a component's wavelet tree is a transform_stage that
// takes rows (analysis) or gives rows (synthesis) one at a time and holds only the rows its filters
// still need. Vertical stages filter along columns over a short window of rows, horizontal stages
// split or merge one row at a time, and band buffers at the leaves meet the quantiser. This header
// also holds the pieces of one-dimensional lifting that the row-wise and column-wise stages share:
// the SSO-DWT segment plan, the shape of a lifting step and where its extended samples come from.
#pragma once

#include "jpeg2000/coding_info.h"
#include "jpeg2000/wavelet_transform.h"

#include <climits>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace zn::j2k {

// One SSO-DWT segment of a row or column: `w` samples from absolute position `x`. A segment that
// starts on an odd sample borrows the low sample before it, one that ends on an odd sample the low
// sample after it; borrowed samples take part in the steps but are never written back.
struct lifting_segment
{
    int x = 0, w = 0;
    int b = 0, e = 0; // parities of the first and last low/high positions, after borrowing
    bool sso_left = false, sso_right = false;
    bool borrow_left = false, borrow_right = false;
    int lc = 0, hc = 0;           // own low and high samples
    int l_first = 0, h_first = 0; // their first index in the row's low and high bands
    int low_count() const { return lc + (borrow_left ? 1 : 0) + (borrow_right ? 1 : 0); }
    // A lone sample is neither lifted nor scaled.
    bool passes_unchanged() const { return low_count() + hc <= 1; }
};

// The segments of `n` samples from absolute position `first`, in order.
std::vector<lifting_segment> plan_lifting_segments(int first, int n, const lifting_frames &f);

// x_k of every odd step: what the low channel becomes for a constant input of 1 after step k, over
// its value before. SSO boundary samples are scaled by it instead of being updated.
std::vector<double> sso_scales(const wavelet_kernel &k);
// Non-reversible scales are applied unless within 1e-5 of 1 (vertical stages only).
bool scale_matters(float scale, bool always);

// Step k on a target of n_t samples from a source of n_u samples, in a segment whose ends have
// parities b and e: the step's supports after the shift of an even number of taps, and the signs of
// the source's extension (0 whole-sample, 1 or -1 half-sample with that sign).
struct step_shape
{
    int neg = 0, pos = 0;
    int sigma_left = 0, sigma_right = 0;
};
step_shape lifting_step_shape(const tap_set &step, int k, int b, int e, int n_t, int n_u);

// Where sample v of an extended source sequence comes from: source sample `index` times `sign`, or
// nothing (sign 0) where the extension runs out on a very short sequence.
struct extension_source
{
    int index = 0;
    int sign = 0;
};

// The extension of a sequence of n samples by `left` samples before it and `right` after it,
// mirrored alternately left and right so that short sequences extend periodically. Only the margins
// are stored; the samples themselves map to themselves.
class extension_map
{
public:
    void build(int n, int left, int right, int sigma_left, int sigma_right);
    extension_source at(int v) const;
    // The lowest source index that any margin sample after the sequence refers to (INT_MAX: none).
    int lowest_right_source() const { return m_lowest_right; }

private:
    int m_n = 0, m_margin = 0;
    std::vector<extension_source> m_before, m_after; // v = -1, -2, ... and v = n, n + 1, ...
    int m_lowest_right = INT_MAX;
};

// Lifting of whole rows of one length and first sample, planned once: the fast form of
// lift_analysis and lift_synthesis for rows that are one segment (no SSO-DWT frames cut them),
// with the same arithmetic in the same order.
template <typename T> class row_lifting
{
public:
    // False (and not ready) when the row needs the plain lifting: a single sample, or several segments.
    bool prepare(const wavelet_kernel &k, int n, int first, const lifting_frames &f, bool scale_always);
    bool ready() const { return m_ready; }
    void analyse(const T *in, T *low, T *high);
    void synthesise(const T *low, const T *high, T *out);

private:
    struct step_plan
    {
        int n_t = 0, n_u = 0;
        step_shape shape;
        int first = 0, last = -1;
        bool sso_first = false, sso_last = false, has_source = false;
        int right = 0;                                // margin samples after the source
        std::vector<extension_source> margin_sources; // before the source, then after it
        std::vector<double> taps;
        std::vector<int64_t> int_taps;
    };
    void Step(const step_plan &p, int s, int direction);
    static T Source(const T *u, extension_source e);
    void Scale(int direction);

    const wavelet_kernel *m_kernel = nullptr;
    int m_n = 0, m_first = 0, m_b = 0;
    bool m_scale_always = true, m_ready = false;
    lifting_segment m_segment;
    int m_count[2] = {0, 0};
    int m_margin = 1;
    std::vector<double> m_x;
    std::vector<step_plan> m_steps;
    std::vector<T> m_band[2]; // low and high, with margins on both sides
};

// Frame geometry at a stage's resolution: frame height and width and the anchors, halved per split.
struct stage_frames
{
    int height = 1 << 28, width = 1 << 28, anchor_row = 0, anchor_col = 0;
    // The frames of the rows of parity v (of the columns of parity h).
    stage_frames split_rows(int v) const
    {
        return {height >> 1, width, (anchor_row - v + 1) >> 1, anchor_col};
    }
    stage_frames split_cols(int h) const
    {
        return {height, width >> 1, anchor_row, (anchor_col - h + 1) >> 1};
    }
};

// The common form of every node of a wavelet tree. Analysis stages take rows (push_int_line,
// push_float_line), synthesis stages give them (pull_int_line, pull_float_line), each call one row of
// the stage's region from the top; a row is as long as the region is wide.
class transform_stage
{
public:
    static constexpr int kBand = 0;
    transform_stage(int kind, bool float_path, int component, int level, int band);
    virtual ~transform_stage();
    transform_stage(const transform_stage &) = delete;
    transform_stage &operator=(const transform_stage &) = delete;

    // Reads the stage's kernel and initialises both children with their share of the region.
    virtual void initialize(const component_transform_setup &setup, const region_rect &region,
                            const stage_frames &frames);
    virtual void push_int_line(const int32_t *row, int length);
    virtual void push_float_line(const float *row, int length);
    virtual void pull_int_line(int32_t *row, int length);
    virtual void pull_float_line(float *row, int length);
    // Children first, then the stage's own rows.
    virtual void terminate();

    int kind;       // 0 band buffer, INFO__HORIZONTAL or INFO__VERTICAL
    int float_flag; // 1 non-reversible (float) path, 0 integer path
    int component, level;
    int band; // band buffers only; -1 for a stage
    std::unique_ptr<transform_stage> low, high;

protected:
    // Both children on their shares of the region, split along rows (vertical) or columns.
    void initialize_children(const component_transform_setup &setup, const stage_frames &frames,
                             bool vertical);
    // A row must be as long as the region is wide.
    void check_length(int length) const;

    region_rect m_region;
};

// Makes the band buffer of (level, band) of a tree.
using band_buffer_maker = std::function<std::unique_ptr<transform_stage>(int level, int band)>;

// The tree of one tile-component, analysis or synthesis, initialised on its region. The setup is
// checked first; refusals end the run.
std::unique_ptr<transform_stage> build_transform_tree(const component_transform_setup &setup, int component,
                                                      const region_rect &region, bool synthesis,
                                                      const band_buffer_maker &make_band);

// Visits every band buffer of a tree.
void for_each_band_buffer(transform_stage &root, const std::function<void(transform_stage &)> &visit);

// The stages of a level, made by the tree builder: lifting (integer or float rows) or convolution
// (float rows), in either direction.
std::unique_ptr<transform_stage> make_vertical_lifting(bool float_path, int component, int level,
                                                       bool synthesis);
std::unique_ptr<transform_stage> make_vertical_conv(int component, int level, bool synthesis);
std::unique_ptr<transform_stage> make_horizontal_lifting(bool float_path, int component, int level,
                                                         bool synthesis);
std::unique_ptr<transform_stage> make_horizontal_conv(int component, int level, bool synthesis);

// The kernel and the options of one direction of a level, checked against what only lifting serves.
struct stage_direction
{
    const wavelet_kernel *kernel = nullptr;
    bool conv = false;
    bool frames = false; // SSO-DWT frames in this direction at this level
    bool sso_extension = false;
    bool point_symmetric = false;
};
stage_direction direction_of(const component_transform_setup &setup, int level, bool vertical);

// Rows of one width, handed out and taken back, so that the row loop allocates nothing once a
// stage has met its deepest window.
template <typename T> class row_pool
{
public:
    explicit row_pool(int width = 0) : m_width(width) {}
    void set_width(int width) { m_width = width; }
    int width() const { return m_width; }
    T *get()
    {
        if (m_free.empty()) {
            m_rows.emplace_back(new T[size_t(m_width > 0 ? m_width : 1)]);
            return m_rows.back().get();
        }
        T *r = m_free.back();
        m_free.pop_back();
        return r;
    }
    void put(T *row) { m_free.push_back(row); }
    size_t allocated() const { return m_rows.size(); }

private:
    int m_width;
    std::vector<std::unique_ptr<T[]>> m_rows;
    std::vector<T *> m_free;
};

} // namespace zn::j2k
