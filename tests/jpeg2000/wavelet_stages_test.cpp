// The line-based stages against the plain transform: a tile-component held whole, every column and
// every row run through the one-dimensional lifting and convolution, level by level. Band rows of
// the analysis and samples of the synthesis must be equal bit for bit, over kernels (built-in,
// three-step, one-tap and four-tap steps), origins, sizes down to one row, SSO-DWT frames down to
// one-sample segments, SSO extension, point-symmetric extension and decomposition structures, on
// random and extreme samples. Then the row flow of single stages: when rows leave, and the edge
// cases of the vertical stages.
#include "jpeg2000/support/band_row_store.h"

#include "jpeg2000/local_services.h"
#include "jpeg2000/wavelet_stages.h"
#include "platform/errors.h"
#include "platform/messages.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <type_traits>

namespace wavelet_stages_test { // one namespace per test file: a folder compiles as one source

using namespace zn::j2k;

namespace {

// ---- The plain transform: a plane per tile-component, one-dimensional passes over it. ----

template <typename T> struct View
{
    T *data = nullptr;
    size_t stride = 0;
    region_rect r;
    T *Row(int y) const { return data + size_t(y) * stride; }
    View Quad(int v, int h) const
    {
        const int low_rows = parity_count(r.first_row, r.rows, 0);
        const int low_cols = parity_count(r.first_col, r.cols, 0);
        return {Row(v ? low_rows : 0) + (h ? low_cols : 0), stride, child_region(r, v, h)};
    }
};

struct Dir
{
    const wavelet_kernel *kernel;
    bool conv, scale_always, pse;
    lifting_frames frames;
};

template <typename T> void Split(const Dir &d, const T *in, int n, int first, T *low, T *high)
{
    if constexpr (std::is_same_v<T, float>) {
        if (d.conv)
            conv_analysis(*d.kernel, in, n, first, low, high, d.pse);
        else
            lift_analysis(*d.kernel, in, n, first, low, high, d.scale_always, d.frames);
    } else {
        lift_analysis(*d.kernel, in, n, first, low, high, d.frames);
    }
}

template <typename T> void Merge(const Dir &d, const T *low, const T *high, int n, int first, T *out)
{
    if constexpr (std::is_same_v<T, float>) {
        if (d.conv)
            conv_synthesis(*d.kernel, low, high, n, first, out, d.pse);
        else
            lift_synthesis(*d.kernel, low, high, n, first, out, d.scale_always, d.frames);
    } else {
        lift_synthesis(*d.kernel, low, high, n, first, out, d.frames);
    }
}

Dir DirOf(const component_transform_setup &s, int level, bool vertical, const stage_frames &f)
{
    const level_transform &lt = s.level[size_t(level)];
    Dir d;
    d.kernel = vertical ? lt.vertical : lt.horizontal;
    d.conv = !s.reversible && d.kernel->type == kKernelConvolution;
    d.scale_always = !vertical;
    d.pse = s.point_symmetric;
    d.frames.frames = vertical ? lt.vert_sso : lt.hor_sso;
    d.frames.size = vertical ? f.height : f.width;
    d.frames.anchor = vertical ? f.anchor_row : f.anchor_col;
    d.frames.sso_extension = s.sso_extension;
    return d;
}

template <typename T>
void PlainNode(const component_transform_setup &s, int level, int d, int band, const View<T> &p,
               const stage_frames &f, bool synthesis,
               const std::function<void(int, int, const View<T> &)> &leaf)
{
    if (level == 0) {
        leaf(0, band, p);
        return;
    }
    if (d < 0) {
        d = s.level[size_t(level)].hp_descent;
        if (d == 0) {
            PlainNode(s, level - 1, -1, band, p, f, synthesis, leaf);
            return;
        }
    }
    const Dir vd = DirOf(s, level, true, f), hd = DirOf(s, level, false, f);
    const region_rect &r = p.r;
    const int low_rows = parity_count(r.first_row, r.rows, 0),
              low_cols = parity_count(r.first_col, r.cols, 0);
    std::vector<T> col(size_t(r.rows) + 1), lo(size_t(r.rows) + 1), hi(size_t(r.rows) + 1);
    std::vector<T> a(size_t(r.cols) + 1), c(size_t(r.cols) + 1);
    if (!synthesis) {
        for (int x = 0; x < r.cols; ++x) {
            for (int y = 0; y < r.rows; ++y)
                col[size_t(y)] = p.Row(y)[x];
            Split(vd, col.data(), r.rows, r.first_row, lo.data(), hi.data());
            for (int y = 0; y < r.rows; ++y)
                p.Row(y)[x] = y < low_rows ? lo[size_t(y)] : hi[size_t(y - low_rows)];
        }
        for (int y = 0; y < r.rows; ++y) {
            Split(hd, p.Row(y), r.cols, r.first_col, a.data(), c.data());
            std::copy(a.begin(), a.begin() + low_cols, p.Row(y));
            std::copy(c.begin(), c.begin() + (r.cols - low_cols), p.Row(y) + low_cols);
        }
    }
    for (int k = 0; k < 4; ++k) {
        const int child = 4 * band + k, v = k >> 1, h = k & 1;
        const stage_frames cf = f.split_rows(v).split_cols(h);
        if (child == 0)
            PlainNode(s, level - 1, -1, 0, p.Quad(v, h), cf, synthesis, leaf);
        else if (d < 2)
            leaf(level, child, p.Quad(v, h));
        else
            PlainNode(s, level, d - 1, child, p.Quad(v, h), cf, synthesis, leaf);
    }
    if (synthesis) {
        for (int y = 0; y < r.rows; ++y) {
            Merge(hd, p.Row(y), p.Row(y) + low_cols, r.cols, r.first_col, a.data());
            std::copy(a.begin(), a.begin() + r.cols, p.Row(y));
        }
        for (int x = 0; x < r.cols; ++x) {
            for (int y = 0; y < r.rows; ++y)
                (y < low_rows ? lo[size_t(y)] : hi[size_t(y - low_rows)]) = p.Row(y)[x];
            Merge(vd, lo.data(), hi.data(), r.rows, r.first_row, col.data());
            for (int y = 0; y < r.rows; ++y)
                p.Row(y)[x] = col[size_t(y)];
        }
    }
}

// ---- The stages' side: leaves that record or serve band rows of either type. ----

using Rows = std::map<std::pair<int, int>, std::vector<std::vector<uint32_t>>>; // bits of the samples

template <typename T> std::vector<uint32_t> Bits(const T *row, int n)
{
    std::vector<uint32_t> b(static_cast<size_t>(n));
    if (n > 0)
        std::memcpy(b.data(), row, sizeof(T) * size_t(n));
    return b;
}

class Leaf : public transform_stage
{
public:
    Leaf(int level, int band, Rows *rows, bool float_path)
        : transform_stage(kBand, float_path, 0, level, band), m_rows(rows)
    {}
    void push_int_line(const int32_t *row, int n) override
    {
        if (float_flag) {
            std::vector<float> f(row, row + n);
            push_float_line(f.data(), n);
            return;
        }
        (*m_rows)[{level, band}].push_back(Bits(row, n));
    }
    void push_float_line(const float *row, int n) override
    {
        (*m_rows)[{level, band}].push_back(Bits(row, n));
    }
    void pull_int_line(int32_t *row, int n) override { Serve(row, n); }
    void pull_float_line(float *row, int n) override { Serve(row, n); }

private:
    template <typename T> void Serve(T *row, int n)
    {
        auto &q = (*m_rows)[{level, band}];
        const size_t at = m_served++;
        ASSERT_LT(at, q.size()) << "band row pulled that does not exist";
        ASSERT_EQ(int(q[at].size()), n);
        if (n > 0)
            std::memcpy(row, q[at].data(), sizeof(T) * size_t(n));
    }
    Rows *m_rows;
    size_t m_served = 0;
};

struct KernelSet
{
    zntest::ScratchDir dir;
    std::map<std::string, wavelet_kernel> k;
    KernelSet()
    {
        namespace fs = std::filesystem;
        fs::create_directories(dir.Path() + "float_lifting");
        fs::create_directories(dir.Path() + "int_lifting");
        std::ofstream(dir.Path() + "float_lifting/kernel-007") << "2 2 2\n-0.5 -0.5\n0.25 0.25\n0.3 0.1\n";
        std::ofstream(dir.Path() + "float_lifting/kernel-008") << "1 1\n-1\n0.5\n";
        std::ofstream(dir.Path() + "float_lifting/kernel-009")
            << "4 4\n0.0625 -0.5625 -0.5625 0.0625\n-0.03125 0.28125 0.28125 -0.03125\n";
        std::ofstream(dir.Path() + "int_lifting/kernel-010") << "4 4\n1 -9 -9 1 4\n-1 9 9 -1 5\n";
        Load("5x3 int", "W5X3", kKernelIntLifting);
        Load("10 int", "10", kKernelIntLifting);
        Load("9x7", "W9X7", kKernelFloatLifting);
        Load("5x3", "W5X3", kKernelFloatLifting);
        Load("7", "7", kKernelFloatLifting);
        Load("8", "8", kKernelFloatLifting);
        Load("9", "9", kKernelFloatLifting);
        Load("9x7 conv", "W9X7", kKernelConvolution);
        Load("5x3 conv", "W5X3", kKernelConvolution);
        Load("8 conv", "8", kKernelConvolution);
    }
    void Load(const char *name, const char *id, int type)
    {
        wavelet_kernel w;
        w.type = type;
        load_kernel(id, dir.Path().c_str(), w);
        k[name] = w;
    }
};

KernelSet &Kernels()
{
    static KernelSet set;
    return set;
}

struct Geometry
{
    int levels;
    std::vector<int> descent; // per level 1..levels; empty: 1
    bool frames;              // SSO-DWT frames at every level
    int frame, anchor_row, anchor_col;
    bool sso_extension, pse;
};

component_transform_setup SetupOf(const wavelet_kernel &k, const Geometry &g)
{
    component_transform_setup s;
    s.levels = g.levels;
    s.reversible = k.type == kKernelIntLifting;
    s.level.resize(size_t(g.levels) + 1);
    for (int l = 1; l <= g.levels; ++l)
        s.level[size_t(l)] = {&k, &k, g.descent.empty() ? 1 : g.descent[size_t(l - 1)], g.frames, g.frames};
    s.frame_height = s.frame_width = g.frame;
    s.anchor_row = g.anchor_row;
    s.anchor_col = g.anchor_col;
    s.sso_extension = g.sso_extension;
    s.point_symmetric = g.pse;
    return s;
}

template <typename T> T Sample(std::mt19937 &rng, bool extreme)
{
    if constexpr (std::is_same_v<T, int32_t>)
        return extreme ? int32_t(rng() % (1u << 30)) - (1 << 29) : int32_t(rng() % 512) - 256;
    else
        return extreme ? float(int32_t(rng() % 2000001) - 1000000) * 1024.0f
                       : float(int32_t(rng() % 5121) - 2560) / 10.0f;
}

// Runs one case both ways; returns false when the stages refuse it (the plain transform is then not
// asked). Every band row and every synthesised sample must match bit for bit.
template <typename T>
bool Compare(const component_transform_setup &s, const region_rect &r, std::mt19937 &rng, bool extreme,
             const std::string &label)
{
    std::vector<T> plane(size_t(r.rows) * size_t(r.cols));
    for (T &v : plane)
        v = Sample<T>(rng, extreme);
    const bool float_path = std::is_same_v<T, float>;
    Rows got;
    try {
        auto root = build_transform_tree(s, 0, r, false, [&](int level, int band) {
            return std::make_unique<Leaf>(level, band, &got, float_path);
        });
        for (int y = 0; y < r.rows; ++y) {
            if constexpr (float_path)
                root->push_float_line(plane.data() + size_t(y) * size_t(r.cols), r.cols);
            else
                root->push_int_line(plane.data() + size_t(y) * size_t(r.cols), r.cols);
        }
        root->terminate();
    } catch (const zn::RunAborted &) {
        return false;
    }
    const stage_frames top{s.frame_height, s.frame_width, s.anchor_row, s.anchor_col};
    Rows want;
    std::vector<T> work = plane;
    PlainNode<T>(s, s.levels, -1, 0, View<T>{work.data(), size_t(r.cols), r}, top, false,
                 [&](int level, int band, const View<T> &q) {
                     for (int y = 0; y < q.r.rows; ++y)
                         want[{level, band}].push_back(Bits(q.Row(y), q.r.cols));
                 });
    EXPECT_EQ(got.size(), want.size()) << label;
    for (auto &[key, rows] : want)
        EXPECT_TRUE(got[key] == rows) << label << ": band " << key.second << " of level " << key.first;

    // Synthesis of random band rows (not an analysis' output: the stages must agree on anything).
    Rows bands;
    for (auto &[key, rows] : want)
        for (auto &row : rows) {
            std::vector<T> fresh(row.size());
            for (T &v : fresh)
                v = Sample<T>(rng, extreme);
            bands[key].push_back(Bits(fresh.data(), int(fresh.size())));
        }
    std::vector<T> rebuilt(plane.size()), expected(plane.size());
    auto root = build_transform_tree(s, 0, r, true, [&](int level, int band) {
        return std::make_unique<Leaf>(level, band, &bands, float_path);
    });
    for (int y = 0; y < r.rows; ++y) {
        if constexpr (float_path)
            root->pull_float_line(rebuilt.data() + size_t(y) * size_t(r.cols), r.cols);
        else
            root->pull_int_line(rebuilt.data() + size_t(y) * size_t(r.cols), r.cols);
    }
    root->terminate();
    std::map<std::pair<int, int>, size_t> served;
    PlainNode<T>(s, s.levels, -1, 0, View<T>{expected.data(), size_t(r.cols), r}, top, true,
                 [&](int level, int band, const View<T> &q) {
                     for (int y = 0; y < q.r.rows; ++y) {
                         const auto &row = bands[{level, band}][served[{level, band}]++];
                         if (q.r.cols > 0)
                             std::memcpy(q.Row(y), row.data(), sizeof(T) * size_t(q.r.cols));
                     }
                 });
    EXPECT_EQ(Bits(rebuilt.data(), int(rebuilt.size())), Bits(expected.data(), int(expected.size())))
        << label;
    return true;
}

} // namespace

TEST(J2kStages, LineBasedStagesEqualThePlainTransform)
{
    zn::MessageRecorder rec; // refusals show their message
    J2kRun run;
    std::mt19937 rng(2024);
    const std::vector<Geometry> geometries = {
        {0, {}, false, 1 << 28, 0, 0, false, false},
        {1, {}, false, 1 << 28, 0, 0, false, false},
        {3, {}, false, 1 << 28, 0, 0, false, false},
        {5, {}, false, 1 << 28, 0, 0, false, false},
        {2, {2, 1}, false, 1 << 28, 0, 0, false, false},
        {2, {3, 1}, false, 1 << 28, 0, 0, false, false},
        {3, {1, 0, 1}, false, 1 << 28, 0, 0, false, false},
        {3, {}, true, 16, 0, 0, false, false},
        {3, {}, true, 8, 1, 3, false, false},
        {4, {}, true, 8, 3, 2, false, false},
        {3, {}, true, 4, 1, 1, false, false}, // one-row frames at the lowest level
        {2, {}, false, 1 << 28, 0, 0, true, false},
        {3, {}, true, 8, 2, 5, true, false},
        {3, {}, false, 1 << 28, 0, 0, false, true},
    };
    const std::vector<region_rect> regions = {
        {1, 1, 0, 0},   {1, 9, 3, 0},   {9, 1, 0, 5},   {2, 3, 1, 1},  {5, 4, 2, 3},    {8, 8, 0, 0},
        {17, 13, 1, 2}, {33, 20, 0, 7}, {40, 31, 3, 0}, {64, 9, 6, 6}, {45, 37, 11, 4},
    };
    int compared = 0, refused = 0;
    for (const auto &[name, kernel] : Kernels().k)
        for (const Geometry &g : geometries)
            for (const region_rect &r : regions)
                for (bool extreme : {false, true}) {
                    const component_transform_setup s = SetupOf(kernel, g);
                    const std::string label =
                        name + " levels " + std::to_string(g.levels) + " frames " +
                        std::to_string(g.frames ? g.frame : 0) + " sso " + std::to_string(g.sso_extension) +
                        " pse " + std::to_string(g.pse) + " region " + std::to_string(r.rows) + "x" +
                        std::to_string(r.cols) + " @" + std::to_string(r.first_row) + "," +
                        std::to_string(r.first_col) + (extreme ? " extreme" : "");
                    const bool ok = s.reversible ? Compare<int32_t>(s, r, rng, extreme, label)
                                                 : Compare<float>(s, r, rng, extreme, label);
                    (ok ? compared : refused) += 1;
                    if (HasFailure())
                        return;
                }
    // Convolution refuses frames and SSO extension, one-tap kernels refuse odd starts and frames,
    // point-symmetric extension refuses odd starts and very small tiles; 2314 cases run.
    EXPECT_GE(compared, 2314);
    RecordProperty("compared", compared);
}

// The planned row lifting of the horizontal stages against lift_analysis and lift_synthesis, on
// random and extreme rows of every length and parity, with and without SSO extension.
TEST(J2kStages, PlannedRowLiftingEqualsThePlainLifting)
{
    zn::MessageRecorder rec;
    J2kRun run;
    std::mt19937 rng(77);
    int planned = 0;
    for (const auto &[name, k] : Kernels().k) {
        if (k.type == kKernelConvolution)
            continue;
        for (int n = 1; n <= 37; ++n)
            for (int first = 0; first < 4; ++first)
                for (bool sso : {false, true})
                    for (bool extreme : {false, true}) {
                        lifting_frames f;
                        f.sso_extension = sso;
                        const std::string label = name + " n " + std::to_string(n) + " first " +
                                                  std::to_string(first) + (sso ? " sso" : "") +
                                                  (extreme ? " extreme" : "");
                        auto check = [&](auto zero) {
                            using T = decltype(zero);
                            row_lifting<T> rows;
                            bool ok = false;
                            try {
                                ok = rows.prepare(k, n, first, f, true);
                            } catch (const zn::RunAborted &) {
                                return; // even-length filters refuse an odd start, both ways
                            }
                            if (!ok)
                                return;
                            ++planned;
                            std::vector<T> in(static_cast<size_t>(n)), lo(static_cast<size_t>(n)),
                                hi(static_cast<size_t>(n)), lo2(static_cast<size_t>(n)),
                                hi2(static_cast<size_t>(n)), out(static_cast<size_t>(n)),
                                out2(static_cast<size_t>(n));
                            for (T &v : in)
                                v = Sample<T>(rng, extreme);
                            rows.analyse(in.data(), lo.data(), hi.data());
                            if constexpr (std::is_same_v<T, float>)
                                lift_analysis(k, in.data(), n, first, lo2.data(), hi2.data(), true, f);
                            else
                                lift_analysis(k, in.data(), n, first, lo2.data(), hi2.data(), f);
                            EXPECT_EQ(Bits(lo.data(), n), Bits(lo2.data(), n)) << label;
                            EXPECT_EQ(Bits(hi.data(), n), Bits(hi2.data(), n)) << label;
                            for (T &v : lo)
                                v = Sample<T>(rng, extreme);
                            for (T &v : hi)
                                v = Sample<T>(rng, extreme);
                            rows.synthesise(lo.data(), hi.data(), out.data());
                            if constexpr (std::is_same_v<T, float>)
                                lift_synthesis(k, lo.data(), hi.data(), n, first, out2.data(), true, f);
                            else
                                lift_synthesis(k, lo.data(), hi.data(), n, first, out2.data(), f);
                            EXPECT_EQ(Bits(out.data(), n), Bits(out2.data(), n)) << label;
                        };
                        if (k.type == kKernelIntLifting)
                            check(int32_t(0));
                        else
                            check(0.0f);
                        if (HasFailure())
                            return;
                    }
    }
    EXPECT_GT(planned, 2000);
}

// The row rounding of the decoder against round_sample, half away from zero and saturating.
TEST(J2kStages, RowRoundingEqualsTheSampleRounding)
{
    std::vector<float> v = {
        0.0f,          -0.0f,          0.5f,    -0.5f,      1.5f,        -1.5f,         2.4999998f,
        -2.4999998f,   1e-30f,         -1e-30f, 8388607.5f, -8388607.5f, 2147483520.0f, -2147483648.0f,
        2147483648.0f, -2147483904.0f, 1e20f,   -1e20f,     INFINITY,    -INFINITY,     NAN,
        -NAN};
    std::mt19937 rng(5);
    for (int i = 0; i < 100000; ++i) {
        uint32_t bits = rng();
        float f = 0;
        std::memcpy(&f, &bits, 4);
        v.push_back(f);
        v.push_back(float(int32_t(rng() % 2000001) - 1000000) / 8.0f);
    }
    std::vector<int32_t> fast(v.size());
    round_samples(v.data(), fast.data(), int(v.size()));
    for (size_t i = 0; i < v.size(); ++i)
        ASSERT_EQ(fast[i], round_sample(v[i])) << v[i];
}

namespace {

// A vertical stage alone, with leaves that count and keep the rows it pushes.
struct VerticalAlone
{
    Rows rows;
    std::unique_ptr<transform_stage> stage;
    VerticalAlone(const wavelet_kernel &k, const region_rect &r, bool synthesis = false)
    {
        component_transform_setup s;
        s.levels = 1;
        s.reversible = k.type == kKernelIntLifting;
        s.level = {level_transform{}, level_transform{&k, &k, 1, false, false}};
        stage = k.type == kKernelConvolution ? make_vertical_conv(0, 1, synthesis)
                                             : make_vertical_lifting(!s.reversible, 0, 1, synthesis);
        stage->low = std::make_unique<Leaf>(1, 0, &rows, !s.reversible);
        stage->high = std::make_unique<Leaf>(1, 2, &rows, !s.reversible);
        stage->initialize(s, r, stage_frames{});
    }
    int Out(int v) { return int(rows[{1, v ? 2 : 0}].size()); }
};

} // namespace

// With the 9/7 kernel by convolution (supports 4 and 3) the first low row leaves with the fifth
// input row; the last rows of both bands leave with the last input row. Lifting makes its rows as
// soon as its steps can, so rows keep leaving as they come, a few rows behind.
TEST(J2kStages, RowsLeaveAsSoonAsTheirFiltersAreCovered)
{
    const wavelet_kernel &conv = Kernels().k["9x7 conv"];
    VerticalAlone v(conv, region_rect{30, 6, 0, 0});
    const std::vector<float> row(6, 1.0f);
    int first_low = -1;
    for (int y = 0; y < 30; ++y) {
        v.stage->push_float_line(row.data(), 6);
        if (first_low < 0 && v.Out(0) > 0)
            first_low = y + 1;
        if (y < 29) {
            EXPECT_LT(v.Out(0), 15) << y;
            EXPECT_LT(v.Out(1), 15) << y;
        }
    }
    EXPECT_EQ(first_low, 5);
    EXPECT_EQ(v.Out(0), 15);
    EXPECT_EQ(v.Out(1), 15);

    for (const char *name : {"9x7", "5x3 int"}) {
        const wavelet_kernel &k = Kernels().k[name];
        VerticalAlone l(k, region_rect{400, 4, 0, 0});
        const std::vector<int32_t> irow(4, 7);
        for (int y = 0; y < 400; ++y) {
            l.stage->push_int_line(irow.data(), 4);
            EXPECT_GE(l.Out(0) + l.Out(1), y + 1 - 8) << name << " row " << y;
        }
        EXPECT_EQ(l.Out(0) + l.Out(1), 400) << name;
    }
}

// A region of one row passes unchanged to the band of its parity, in all four vertical members.
TEST(J2kStages, OneRowPassesToTheBandOfItsParity)
{
    for (const char *name : {"9x7", "9x7 conv", "5x3 int"})
        for (int first : {4, 7})
            for (bool synthesis : {false, true}) {
                const wavelet_kernel &k = Kernels().k[name];
                VerticalAlone v(k, region_rect{1, 3, first, 0}, synthesis);
                const int band = first & 1 ? 2 : 0;
                if (!synthesis) {
                    const std::vector<int32_t> row = {5, -6, 7};
                    v.stage->push_int_line(row.data(), 3);
                    ASSERT_EQ(v.Out(band ? 1 : 0), 1) << name;
                    EXPECT_EQ(v.Out(band ? 0 : 1), 0) << name;
                    if (k.type == kKernelIntLifting) {
                        EXPECT_EQ(v.rows[std::pair(1, band)][0], Bits(row.data(), 3)) << name;
                    } else {
                        const std::vector<float> f = {5, -6, 7};
                        EXPECT_EQ(v.rows[std::pair(1, band)][0], Bits(f.data(), 3)) << name;
                    }
                } else {
                    const std::vector<float> f = {2.5f, -2.5f, 9};
                    const std::vector<int32_t> i = {2, -3, 9};
                    v.rows[{1, band}].push_back(k.type == kKernelIntLifting ? Bits(i.data(), 3)
                                                                            : Bits(f.data(), 3));
                    std::vector<int32_t> out(3);
                    v.stage->pull_int_line(out.data(), 3);
                    const std::vector<int32_t> rounded = {3, -3, 9};
                    EXPECT_EQ(out, k.type == kKernelIntLifting ? i : rounded) << name;
                }
            }
}

// A scale of exactly 1 is not applied vertically; 1.00002 is (horizontally both always are).
TEST(J2kStages, VerticalScalesNearOneAreLeftOut)
{
    for (float scale : {1.0f, 1.00002f}) {
        wavelet_kernel k = Kernels().k["5x3"];
        k.low_scale = scale;
        k.high_scale = scale;
        VerticalAlone v(k, region_rect{2, 1, 0, 0});
        const float a = 3.0f, b = 5.0f;
        v.stage->push_float_line(&a, 1);
        v.stage->push_float_line(&b, 1);
        // Plain lifting of (3, 5): high = 5 - 3 = 2 (mirrored low), low = 3 + 0.25 * (2 + 2) = 4.
        float low = 0, high = 0;
        std::memcpy(&low, v.rows[{1, 0}].at(0).data(), 4);
        std::memcpy(&high, v.rows[{1, 2}].at(0).data(), 4);
        EXPECT_EQ(low, 4.0f * scale) << scale;
        EXPECT_EQ(high, 2.0f * scale) << scale;
    }
}

// A region starting on an odd row, with odd-length filters, makes high row 0 from rows mirrored
// about that first row: the row above it is taken to be the row below it, so with the 5/3 kernel
// high row 0 = x(3) - floor((x(4) + x(4)) / 2).
TEST(J2kStages, AnOddFirstRowIsMirroredAboutItself)
{
    const wavelet_kernel &k = Kernels().k["5x3 int"];
    VerticalAlone v(k, region_rect{4, 1, 3, 0});
    const int32_t x[4] = {10, 20, 31, 44}; // rows 3 (high), 4 (low), 5 (high), 6 (low)
    for (int32_t s : x)
        v.stage->push_int_line(&s, 1);
    int32_t high0 = 0;
    std::memcpy(&high0, v.rows[{1, 2}].at(0).data(), 4);
    EXPECT_EQ(high0, 10 - (20 + 20) / 2);
}

} // namespace wavelet_stages_test
