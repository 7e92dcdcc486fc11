// The tree of one tile-component: each level splits its region by columns (a vertical stage) and
// then each half by rows (two horizontal stages) into four bands; the low-low band feeds the next
// level, and Part-2 structures split high bands again at the same level. The stages pass rows down
// the tree as soon as they can, so the tree holds a few rows per band, never a band plane.
#include "jpeg2000/wavelet_transform.h"

#include "jpeg2000/local_services.h"
#include "jpeg2000/wavelet_stages.h"

#include <algorithm>

namespace zn::j2k {

int parity_count(int a, int n, int p)
{
    return ((a + n - p - 1) >> 1) - ((a - p + 1) >> 1) + 1;
}

region_rect child_region(const region_rect &r, int v, int h)
{
    return split_region(split_region(r, true, v), false, h);
}

region_rect split_region(const region_rect &r, bool vertical, int branch)
{
    region_rect c = r;
    if (vertical) {
        c.rows = parity_count(r.first_row, r.rows, branch);
        c.first_row = (r.first_row - branch + 1) >> 1;
    } else {
        c.cols = parity_count(r.first_col, r.cols, branch);
        c.first_col = (r.first_col - branch + 1) >> 1;
    }
    return c;
}

namespace {

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

// The stage of one direction of a level: convolution where the kernel or "-Fconv" asks for it on the
// float path, lifting otherwise.
std::unique_ptr<transform_stage> Stage(const component_transform_setup &s, int component, int level,
                                       bool vertical, bool synthesis)
{
    const level_transform lt = LevelOf(s, level);
    const wavelet_kernel *k = vertical ? lt.vertical : lt.horizontal;
    const bool float_path = !s.reversible;
    if (float_path && (s.convolution || (k && k->type == kKernelConvolution)))
        return vertical ? make_vertical_conv(component, level, synthesis)
                        : make_horizontal_conv(component, level, synthesis);
    return vertical ? make_vertical_lifting(float_path, component, level, synthesis)
                    : make_horizontal_lifting(float_path, component, level, synthesis);
}

constexpr int kDescentUnread = -1;

// node(l, d, b) of the tree: a band buffer at level 0; an unsplit level passes to the next; otherwise
// a vertical stage whose two outputs go to horizontal stages, whose outputs are child bands
// 4b + 2v + h: the low-low band continues at the next level, the others are band buffers or, with a
// deeper descent, split again at this level.
std::unique_ptr<transform_stage> Node(const component_transform_setup &s, int component, int level, int d,
                                      int band, bool synthesis, const band_buffer_maker &make_band)
{
    if (level == 0)
        return make_band(0, band);
    if (d == kDescentUnread) {
        d = Descent(s, level);
        if (d == 0)
            return Node(s, component, level - 1, kDescentUnread, band, synthesis, make_band);
    }
    std::unique_ptr<transform_stage> vert = Stage(s, component, level, true, synthesis);
    for (int v = 0; v < 2; ++v) {
        std::unique_ptr<transform_stage> hor = Stage(s, component, level, false, synthesis);
        for (int h = 0; h < 2; ++h) {
            const int child = 4 * band + 2 * v + h;
            std::unique_ptr<transform_stage> c;
            if (child == 0)
                c = Node(s, component, level - 1, kDescentUnread, 0, synthesis, make_band);
            else if (d < 2)
                c = make_band(level, child);
            else
                c = Node(s, component, level, d - 1, child, synthesis, make_band);
            (h ? hor->high : hor->low) = std::move(c);
        }
        (v ? vert->high : vert->low) = std::move(hor);
    }
    return vert;
}

} // namespace

stage_direction direction_of(const component_transform_setup &s, int level, bool vertical)
{
    const level_transform lt = LevelOf(s, level);
    stage_direction d;
    d.kernel = vertical ? lt.vertical : lt.horizontal;
    d.frames = vertical ? lt.vert_sso : lt.hor_sso;
    d.conv = !s.reversible && (s.convolution || d.kernel->type == kKernelConvolution);
    d.sso_extension = s.sso_extension;
    d.point_symmetric = s.point_symmetric;
    if (d.conv) {
        if (s.sso_extension)
            local_error("SSO-DWT style extensions are implemented only in lifting; you have opted for a "
                        "convolution-style implementation!");
        if (d.frames)
            local_error("Single sample overlap mode cannot be used with convolution implementations of the "
                        "Wavelet transform.");
        check_convolution_symmetry(*d.kernel);
    } else if (d.frames) {
        check_sso_kernel(*d.kernel);
    }
    return d;
}

transform_stage::transform_stage(int kind, bool float_path, int component, int level, int band)
    : kind(kind), float_flag(float_path ? 1 : 0), component(component), level(level), band(band)
{}

transform_stage::~transform_stage() = default;

void transform_stage::initialize(const component_transform_setup &, const region_rect &region,
                                 const stage_frames &)
{
    m_region = region;
}

void transform_stage::initialize_children(const component_transform_setup &setup, const stage_frames &frames,
                                          bool vertical)
{
    for (int b = 0; b < 2; ++b)
        (b ? high : low)
            ->initialize(setup, split_region(m_region, vertical, b),
                         vertical ? frames.split_rows(b) : frames.split_cols(b));
}

void transform_stage::check_length(int length) const
{
    if (length != m_region.cols)
        local_error("A row of %d samples reached a wavelet stage whose rows hold %d!", length, m_region.cols);
}

void transform_stage::push_int_line(const int32_t *, int)
{
    local_error("A synthesis stage of the wavelet transform was given a row!");
}

void transform_stage::push_float_line(const float *, int)
{
    local_error("A synthesis stage of the wavelet transform was given a row!");
}

void transform_stage::pull_int_line(int32_t *, int)
{
    local_error("An analysis stage of the wavelet transform was asked for a row!");
}

void transform_stage::pull_float_line(float *, int)
{
    local_error("An analysis stage of the wavelet transform was asked for a row!");
}

void transform_stage::terminate()
{
    if (low)
        low->terminate();
    if (high)
        high->terminate();
}

std::unique_ptr<transform_stage> build_transform_tree(const component_transform_setup &setup, int component,
                                                      const region_rect &region, bool synthesis,
                                                      const band_buffer_maker &make_band)
{
    CheckSetup(setup);
    if (region.rows < 0 || region.cols < 0)
        local_error("A tile-component of %d rows and %d columns cannot be transformed!", region.rows,
                    region.cols);
    std::unique_ptr<transform_stage> root =
        Node(setup, component, setup.levels, kDescentUnread, 0, synthesis, make_band);
    const stage_frames top{setup.frame_height, setup.frame_width, setup.anchor_row, setup.anchor_col};
    root->initialize(setup, region, top);
    return root;
}

void for_each_band_buffer(transform_stage &root, const std::function<void(transform_stage &)> &visit)
{
    if (root.kind == transform_stage::kBand) {
        visit(root);
        return;
    }
    for (transform_stage *c : {root.low.get(), root.high.get()})
        if (c)
            for_each_band_buffer(*c, visit);
}

namespace {

// Band buffers that only pass rows to a sink or take them from a source, for transforms run outside
// the codec objects.
class PlainBand : public transform_stage
{
public:
    PlainBand(bool float_path, int component, int level, int band, band_row_sink *sink,
              band_row_source *source)
        : transform_stage(kBand, float_path, component, level, band), m_sink(sink), m_source(source)
    {}
    void push_int_line(const int32_t *row, int length) override
    {
        if (!float_flag) {
            m_sink->push_int_row(row, component, level, band, length);
            return;
        }
        m_row.assign(row, row + length);
        m_sink->push_float_row(m_row.data(), component, level, band, length);
    }
    void push_float_line(const float *row, int length) override
    {
        m_sink->push_float_row(row, component, level, band, length);
    }
    void pull_int_line(int32_t *row, int length) override
    {
        if (!float_flag) {
            m_source->pull_int_row(row, component, level, band, length);
            return;
        }
        m_row.resize(size_t(length));
        m_source->pull_float_row(m_row.data(), component, level, band, length);
        round_samples(m_row.data(), row, length);
    }
    void pull_float_line(float *row, int length) override
    {
        m_source->pull_float_row(row, component, level, band, length);
    }

private:
    band_row_sink *m_sink;
    band_row_source *m_source;
    std::vector<float> m_row;
};

} // namespace

void analyse_component(const component_transform_setup &setup, int component, const region_rect &region,
                       const int32_t *samples, band_row_sink &sink)
{
    auto root = build_transform_tree(setup, component, region, false, [&](int level, int band) {
        return std::make_unique<PlainBand>(!setup.reversible, component, level, band, &sink, nullptr);
    });
    for (int y = 0; y < region.rows; ++y)
        root->push_int_line(samples + size_t(y) * size_t(region.cols), region.cols);
    root->terminate();
}

void synthesise_component(const component_transform_setup &setup, int component, const region_rect &region,
                          band_row_source &source, int32_t *samples)
{
    auto root = build_transform_tree(setup, component, region, true, [&](int level, int band) {
        return std::make_unique<PlainBand>(!setup.reversible, component, level, band, nullptr, &source);
    });
    for (int y = 0; y < region.rows; ++y)
        root->pull_int_line(samples + size_t(y) * size_t(region.cols), region.cols);
    root->terminate();
}

} // namespace zn::j2k
