// The tree of one tile-component: each level splits its region by columns (vertical stage) and then
// by rows (horizontal stage) into four bands; the low-low band feeds the next level, and Part-2
// structures split high bands again at the same level. Whole band planes are transformed here;
// band rows leave through the sink and come back through the source, top to bottom.
#include "jpeg2000/wavelet_transform.h"

#include "jpeg2000/local_services.h"

#include <algorithm>
#include <cmath>
#include <type_traits>

namespace zn::j2k {

void check_plane_size(const region_rect &r)
{
    if (r.rows < 0 || r.cols < 0 || int64_t(r.rows) * r.cols > kMaxPlaneSamples)
        local_error(
            "A tile-component of %d rows and %d columns is too large to transform; at most %lld samples "
            "are taken at a time.  Use smaller tiles!",
            r.rows, r.cols, (long long)kMaxPlaneSamples);
}

int parity_count(int a, int n, int p)
{
    return ((a + n - p - 1) >> 1) - ((a - p + 1) >> 1) + 1;
}

region_rect child_region(const region_rect &r, int v, int h)
{
    region_rect c;
    c.rows = parity_count(r.first_row, r.rows, v);
    c.first_row = (r.first_row - v + 1) >> 1;
    c.cols = parity_count(r.first_col, r.cols, h);
    c.first_col = (r.first_col - h + 1) >> 1;
    return c;
}

namespace {

// A region of a plane held in place: a level's four bands sit in its quadrants, low rows above high
// rows and low columns left of high columns, so the whole tree needs one plane and a few lines.
template <typename T> struct View
{
    T *data = nullptr;
    size_t stride = 0;
    region_rect r;
    T *Row(int y) const { return data + size_t(y) * stride; }
    // The band of vertical branch v and horizontal branch h.
    View Quad(int v, int h) const
    {
        const int low_rows = parity_count(r.first_row, r.rows, 0);
        const int low_cols = parity_count(r.first_col, r.cols, 0);
        return {Row(v ? low_rows : 0) + (h ? low_cols : 0), stride, child_region(r, v, h)};
    }
};

// SSO-DWT frame geometry at a node's resolution.
struct Frames
{
    int height, width, anchor_row, anchor_col;
    Frames Child(int v, int h) const
    {
        return {height >> 1, width >> 1, (anchor_row - v + 1) >> 1, (anchor_col - h + 1) >> 1};
    }
};

// How one direction of one level is transformed.
struct Direction
{
    const wavelet_kernel *kernel = nullptr;
    bool conv = false;
    bool scale_always = true; // vertical stages skip a scale within 1e-5 of 1
    lifting_frames frames;
    bool point_symmetric = false;
};

template <typename T> void Split(const Direction &d, const T *in, int n, int first, T *low, T *high)
{
    if constexpr (std::is_same_v<T, float>) {
        if (d.conv)
            conv_analysis(*d.kernel, in, n, first, low, high, d.point_symmetric);
        else
            lift_analysis(*d.kernel, in, n, first, low, high, d.scale_always, d.frames);
    } else {
        lift_analysis(*d.kernel, in, n, first, low, high, d.frames);
    }
}

template <typename T> void Merge(const Direction &d, const T *low, const T *high, int n, int first, T *out)
{
    if constexpr (std::is_same_v<T, float>) {
        if (d.conv)
            conv_synthesis(*d.kernel, low, high, n, first, out, d.point_symmetric);
        else
            lift_synthesis(*d.kernel, low, high, n, first, out, d.scale_always, d.frames);
    } else {
        lift_synthesis(*d.kernel, low, high, n, first, out, d.frames);
    }
}

void Push(band_row_sink &sink, const int32_t *row, int c, int l, int b, int n)
{
    sink.push_int_row(row, c, l, b, n);
}
void Push(band_row_sink &sink, const float *row, int c, int l, int b, int n)
{
    sink.push_float_row(row, c, l, b, n);
}
void Pull(band_row_source &src, int32_t *row, int c, int l, int b, int n)
{
    src.pull_int_row(row, c, l, b, n);
}
void Pull(band_row_source &src, float *row, int c, int l, int b, int n)
{
    src.pull_float_row(row, c, l, b, n);
}

int Descent(const component_transform_setup &s, int level)
{
    if (!s.level.empty())
        return s.level[size_t(level)].hp_descent;
    if (s.hp_descent.empty())
        return 1;
    if (int(s.hp_descent.size()) < s.levels + 1)
        local_error("The decomposition structure names %d levels; %d are needed.",
                    int(s.hp_descent.size()) - 1, s.levels);
    return s.hp_descent[size_t(level)];
}

level_transform LevelOf(const component_transform_setup &s, int level)
{
    if (!s.level.empty())
        return s.level[size_t(level)];
    level_transform l;
    l.vertical = s.vertical;
    l.horizontal = s.horizontal;
    l.hp_descent = Descent(s, level);
    return l;
}

// The two directions of a level, checked against the options that only lifting can serve.
void Directions(const component_transform_setup &s, int level, const Frames &f, Direction &vert,
                Direction &hor)
{
    level_transform lt = LevelOf(s, level);
    for (int i = 0; i < 2; ++i) {
        Direction &d = i == 0 ? vert : hor;
        d.kernel = i == 0 ? lt.vertical : lt.horizontal;
        bool sso = i == 0 ? lt.vert_sso : lt.hor_sso;
        d.conv = !s.reversible && (s.convolution || d.kernel->type == kKernelConvolution);
        d.scale_always = i == 1;
        d.point_symmetric = s.point_symmetric;
        d.frames.frames = sso;
        d.frames.size = i == 0 ? f.height : f.width;
        d.frames.anchor = i == 0 ? f.anchor_row : f.anchor_col;
        d.frames.sso_extension = s.sso_extension;
        if (d.conv) {
            if (s.sso_extension)
                local_error("SSO-DWT style extensions are implemented only in lifting; you have opted for a "
                            "convolution-style implementation!");
            if (sso)
                local_error(
                    "Single sample overlap mode cannot be used with convolution implementations of the "
                    "Wavelet transform.");
        } else if (sso) {
            check_sso_kernel(*d.kernel);
        }
    }
}

// One level in place: every column into its low and high rows, then every row into its low and
// high columns.
template <typename T> void AnalyseLevel(const Direction &vd, const Direction &hd, const View<T> &p)
{
    const region_rect &r = p.r;
    const int low_rows = parity_count(r.first_row, r.rows, 0);
    const int low_cols = parity_count(r.first_col, r.cols, 0);
    std::vector<T> col(size_t(r.rows)), lo(size_t(r.rows + 1)), hi(size_t(r.rows + 1));
    for (int x = 0; x < r.cols; ++x) {
        for (int y = 0; y < r.rows; ++y)
            col[size_t(y)] = p.Row(y)[x];
        Split(vd, col.data(), r.rows, r.first_row, lo.data(), hi.data());
        for (int y = 0; y < low_rows; ++y)
            p.Row(y)[x] = lo[size_t(y)];
        for (int y = low_rows; y < r.rows; ++y)
            p.Row(y)[x] = hi[size_t(y - low_rows)];
    }
    std::vector<T> a(size_t(r.cols + 1)), c(size_t(r.cols + 1));
    for (int y = 0; y < r.rows; ++y) {
        T *row = p.Row(y);
        Split(hd, row, r.cols, r.first_col, a.data(), c.data());
        std::copy(a.begin(), a.begin() + low_cols, row);
        std::copy(c.begin(), c.begin() + (r.cols - low_cols), row + low_cols);
    }
}

// The inverse, in place: every row from its low and high columns, then every column from its low
// and high rows.
template <typename T> void SynthesiseLevel(const Direction &vd, const Direction &hd, const View<T> &p)
{
    const region_rect &r = p.r;
    const int low_rows = parity_count(r.first_row, r.rows, 0);
    const int low_cols = parity_count(r.first_col, r.cols, 0);
    std::vector<T> line(size_t(r.cols + 1));
    for (int y = 0; y < r.rows; ++y) {
        T *row = p.Row(y);
        Merge(hd, row, row + low_cols, r.cols, r.first_col, line.data());
        std::copy(line.begin(), line.begin() + r.cols, row);
    }
    std::vector<T> col(size_t(r.rows)), lo(size_t(r.rows + 1)), hi(size_t(r.rows + 1));
    for (int x = 0; x < r.cols; ++x) {
        for (int y = 0; y < low_rows; ++y)
            lo[size_t(y)] = p.Row(y)[x];
        for (int y = low_rows; y < r.rows; ++y)
            hi[size_t(y - low_rows)] = p.Row(y)[x];
        Merge(vd, lo.data(), hi.data(), r.rows, r.first_row, col.data());
        for (int y = 0; y < r.rows; ++y)
            p.Row(y)[x] = col[size_t(y)];
    }
}

void CheckSetup(const component_transform_setup &s)
{
    if (s.levels < 0 || s.levels > 32)
        local_error("At most 32 decomposition levels can be used (%d requested).", s.levels);
    if (!s.level.empty() && int(s.level.size()) < s.levels + 1)
        local_error("The decomposition names %d levels; %d are needed.", int(s.level.size()) - 1, s.levels);
    for (int l = 1; l <= s.levels; ++l) {
        level_transform lt = LevelOf(s, l);
        if (lt.hp_descent < 0 || lt.hp_descent > 3)
            local_error("Illegal decomposition structure value %d at level %d (0 to 3 allowed).",
                        lt.hp_descent, l);
        if (!lt.vertical || !lt.horizontal)
            local_error("The wavelet transform has no kernel.");
        for (const wavelet_kernel *k : {lt.vertical, lt.horizontal})
            if ((k->type == kKernelIntLifting) != s.reversible)
                local_error(
                    "A reversible decomposition needs an integer lifting kernel, and only a reversible one.");
    }
    if (s.level.empty() && (!s.vertical || !s.horizontal))
        local_error("The wavelet transform has no kernel.");
    if (s.reversible && s.convolution)
        local_error("A reversible decomposition cannot be implemented by convolution.");
    int frame_sizes[2] = {s.frame_height, s.frame_width};
    for (int size : frame_sizes)
        if (size < 1 || (size & (size - 1)) != 0)
            local_error("SSO-DWT frames must be a power of 2 in size (%d given).", size);
}

constexpr int kRowUnread = -1;

// The tree of one component: a level splits its region into four bands; the low-low band goes to
// the next level, the others are band buffers or, with a deeper descent, split again at this level.
template <typename T>
void AnalyseNode(const component_transform_setup &s, int component, int level, int d, int band,
                 const View<T> &in, const Frames &f, band_row_sink &sink)
{
    if (level == 0) {
        for (int y = 0; y < in.r.rows; ++y)
            Push(sink, in.Row(y), component, 0, band, in.r.cols);
        return;
    }
    if (d == kRowUnread) {
        d = Descent(s, level);
        if (d == 0) {
            AnalyseNode(s, component, level - 1, kRowUnread, band, in, f, sink);
            return;
        }
    }
    Direction vd, hd;
    Directions(s, level, f, vd, hd);
    AnalyseLevel(vd, hd, in);
    for (int c = 0; c < 4; ++c) {
        const int child = 4 * band + c;
        const View<T> q = in.Quad(c >> 1, c & 1);
        const Frames cf = f.Child(c >> 1, c & 1);
        if (child == 0)
            AnalyseNode(s, component, level - 1, kRowUnread, 0, q, cf, sink);
        else if (d < 2)
            for (int y = 0; y < q.r.rows; ++y)
                Push(sink, q.Row(y), component, level, child, q.r.cols);
        else
            AnalyseNode(s, component, level, d - 1, child, q, cf, sink);
    }
}

template <typename T>
void SynthesiseNode(const component_transform_setup &s, int component, int level, int d, int band,
                    const View<T> &out, const Frames &f, band_row_source &source)
{
    if (level == 0) {
        for (int y = 0; y < out.r.rows; ++y)
            Pull(source, out.Row(y), component, 0, band, out.r.cols);
        return;
    }
    if (d == kRowUnread) {
        d = Descent(s, level);
        if (d == 0) {
            SynthesiseNode<T>(s, component, level - 1, kRowUnread, band, out, f, source);
            return;
        }
    }
    Direction vd, hd;
    Directions(s, level, f, vd, hd);
    for (int c = 0; c < 4; ++c) {
        const int child = 4 * band + c;
        const View<T> q = out.Quad(c >> 1, c & 1);
        const Frames cf = f.Child(c >> 1, c & 1);
        if (child == 0)
            SynthesiseNode<T>(s, component, level - 1, kRowUnread, 0, q, cf, source);
        else if (d < 2)
            for (int y = 0; y < q.r.rows; ++y)
                Pull(source, q.Row(y), component, level, child, q.r.cols);
        else
            SynthesiseNode<T>(s, component, level, d - 1, child, q, cf, source);
    }
    SynthesiseLevel(vd, hd, out);
}

Frames TopFrames(const component_transform_setup &s)
{
    return {s.frame_height, s.frame_width, s.anchor_row, s.anchor_col};
}

template <typename T>
void AnalysePlane(const component_transform_setup &s, int component, const region_rect &region, T *plane,
                  band_row_sink &sink)
{
    CheckSetup(s);
    check_plane_size(region);
    if (s.reversible != std::is_same_v<T, int32_t>)
        local_error("A reversible decomposition runs on integers, and only a reversible one.");
    AnalyseNode(s, component, s.levels, kRowUnread, 0, View<T>{plane, size_t(region.cols), region}, TopFrames(s),
                sink);
}

template <typename T>
void SynthesisePlane(const component_transform_setup &s, int component, const region_rect &region,
                     band_row_source &source, T *plane)
{
    CheckSetup(s);
    check_plane_size(region);
    if (s.reversible != std::is_same_v<T, int32_t>)
        local_error("A reversible decomposition runs on integers, and only a reversible one.");
    SynthesiseNode<T>(s, component, s.levels, kRowUnread, 0, View<T>{plane, size_t(region.cols), region},
                      TopFrames(s), source);
}

} // namespace

void analyse_plane(const component_transform_setup &setup, int component, const region_rect &region,
                   int32_t *plane, band_row_sink &sink)
{
    AnalysePlane(setup, component, region, plane, sink);
}

void analyse_plane(const component_transform_setup &setup, int component, const region_rect &region,
                   float *plane, band_row_sink &sink)
{
    AnalysePlane(setup, component, region, plane, sink);
}

void synthesise_plane(const component_transform_setup &setup, int component, const region_rect &region,
                      band_row_source &source, int32_t *plane)
{
    SynthesisePlane(setup, component, region, source, plane);
}

void synthesise_plane(const component_transform_setup &setup, int component, const region_rect &region,
                      band_row_source &source, float *plane)
{
    SynthesisePlane(setup, component, region, source, plane);
}

void analyse_component(const component_transform_setup &setup, int component, const region_rect &region,
                       const int32_t *samples, band_row_sink &sink)
{
    CheckSetup(setup);
    check_plane_size(region);
    const size_t n = size_t(region.rows) * size_t(region.cols);
    if (setup.reversible) {
        std::vector<int32_t> plane(samples, samples + n);
        AnalysePlane(setup, component, region, plane.data(), sink);
    } else {
        std::vector<float> plane(samples, samples + n);
        AnalysePlane(setup, component, region, plane.data(), sink);
    }
}

void synthesise_component(const component_transform_setup &setup, int component, const region_rect &region,
                          band_row_source &source, int32_t *samples)
{
    CheckSetup(setup);
    check_plane_size(region);
    if (setup.reversible) {
        SynthesisePlane(setup, component, region, source, samples);
        return;
    }
    std::vector<float> plane(size_t(region.rows) * size_t(region.cols));
    SynthesisePlane(setup, component, region, source, plane.data());
    std::transform(plane.begin(), plane.end(), samples, round_sample);
}

} // namespace zn::j2k
