// The component mix and demix: rows that pass untouched, the colour transforms, the wavelet along
// the component axis and the matrix, their scales and code-stream records, round trips through the
// whole transform pipeline, and the refusals.
#include "jpeg2000/support/codec_messages.h"
#include "jpeg2000/support/transform_pipeline.h"

#include "jpeg2000/band_steps.h"
#include "jpeg2000/colour_transforms.h"
#include "jpeg2000/local_services.h"
#include "jpeg2000/marker_elements.h"
#include "platform/errors.h"
#include "platform/messages.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

namespace component_mix_test { // one namespace per test file: a folder compiles as one source

using namespace zn::j2k;
using j2ktest::Image;
using j2ktest::Plane;
using j2ktest::RandomImage;

namespace {

// The wavelet analysis' place: keeps every row it is given.
class RowRecorder : public line_sink
{
public:
    void push_line(const int32_t *row, int component, int width) override
    {
        rows.push_back({component, std::vector<int32_t>(row, row + width)});
    }
    int next_tile() override { return ++tiles; }
    std::vector<std::pair<int, std::vector<int32_t>>> rows;
    int tiles = 0;
};

Image Components(int n, int rows = 8, int cols = 8)
{
    Image im;
    for (int c = 0; c < n; ++c) {
        im.dims.push_back({rows, cols, 0, 0});
        im.precisions.push_back(8);
    }
    return im;
}

// forward_info and the mix over a recorder, with the elements declared on an unwritten stream.
struct Mixer
{
    Mixer(const Image &im, std::vector<std::string> words) : args(std::move(words))
    {
        out = create_stream_out();
        out->initialize(1 << 20, dir.File("m.j2c").c_str(), args.line.get());
        fwd = j2ktest::MakeForward(im, args.line.get(), out.get());
        mix = create_component_mix();
        mix->initialize(int(im.dims.size()), fwd.get(), &recorder, out.get(), args.line.get());
    }
    zntest::ScratchDir dir;
    J2kRun run;
    j2ktest::Args args;
    RowRecorder recorder;
    std::unique_ptr<stream_out> out;
    std::unique_ptr<forward_info> fwd;
    std::unique_ptr<component_mix> mix;
};

void WriteFloats(const std::string &path, const std::vector<float> &m)
{
    std::ofstream f(path, std::ios::binary);
    for (float v : m) {
        uint32_t u;
        std::memcpy(&u, &v, 4);
        for (int b = 0; b < 4; ++b)
            f.put(char(u >> (8 * b)));
    }
}

} // namespace

TEST(J2kComponentMix, WithoutOptionsRowsPassUnchangedAndScalesAreOne)
{
    zn::MessageRecorder rec;
    Mixer m(Components(2), {});
    EXPECT_EQ(m.mix->global_code(), kMixNone);
    EXPECT_EQ(m.out->get_marker_val(-1, elt::Mct, 0, 0), 0);
    for (const auto &scope : m.mix->norm_scales())
        for (float s : scope)
            EXPECT_EQ(s, 1.0f);
    int32_t a[3] = {1, 2, 3}, b[3] = {-4, 5, 6};
    m.mix->push_line(a, 1, 3);
    m.mix->push_line(b, 0, 3);
    ASSERT_EQ(m.recorder.rows.size(), 2u);
    EXPECT_EQ(m.recorder.rows[0].first, 1);
    EXPECT_EQ(m.recorder.rows[0].second, std::vector<int32_t>(a, a + 3));
    EXPECT_EQ(m.recorder.rows[1].second, std::vector<int32_t>(b, b + 3));
}

// The Parts' colour examples, through the objects: RCT of (255, 0, 0) and (-1, 0, 0), YCbCr of grey.
TEST(J2kComponentMix, ColourTransformsOfTheExamples)
{
    zn::MessageRecorder rec;
    {
        Mixer m(Components(4), {"-Frev", "-Mycc"});
        EXPECT_EQ(m.mix->global_code(), kMixRct);
        int32_t r[2] = {255, -1}, g[2] = {0, 0}, b[2] = {0, 0}, extra[2] = {7, 8};
        m.mix->push_line(r, 0, 2);
        m.mix->push_line(extra, 3, 2); // beyond the first three: straight through
        m.mix->push_line(g, 1, 2);
        EXPECT_EQ(m.recorder.rows.size(), 1u);
        m.mix->push_line(b, 2, 2);
        ASSERT_EQ(m.recorder.rows.size(), 4u);
        EXPECT_EQ(m.recorder.rows[1].second, (std::vector<int32_t>{63, -1}));
        EXPECT_EQ(m.recorder.rows[2].second,
                  (std::vector<int32_t>{0, 0})); // B - G first, as the standard has it
        EXPECT_EQ(m.recorder.rows[3].second, (std::vector<int32_t>{255, -1}));
        EXPECT_NEAR(m.mix->norm_scales()[0][0], 1.7321f, 1e-6);
        EXPECT_NEAR(m.mix->norm_scales()[0][2], 0.8292f, 1e-6);
        EXPECT_EQ(m.mix->norm_scales()[0][3], 1.0f);
    }
    {
        Mixer m(Components(3), {"-Mycc", "Y"});
        EXPECT_EQ(m.mix->global_code(), kMixYcc);
        int32_t grey[3][1] = {{100}, {100}, {100}};
        for (int c = 0; c < 3; ++c)
            m.mix->push_line(grey[c], c, 1);
        ASSERT_EQ(m.recorder.rows.size(), 3u);
        EXPECT_EQ(m.recorder.rows[0].second[0], 100);
        EXPECT_EQ(m.recorder.rows[1].second[0], 0);
        EXPECT_EQ(m.recorder.rows[2].second[0], 0);
        EXPECT_NEAR(m.mix->norm_scales()[0][1], 1.8051f, 1e-6);
    }
    // The inverse examples.
    int32_t c0[2] = {63, -1}, c1[2] = {0, 0}, c2[2] = {255, -1};
    rct_inverse(c0, c1, c2, 2);
    EXPECT_EQ(c0[0], 255);
    EXPECT_EQ(c1[0], 0);
    EXPECT_EQ(c0[1], -1);
    EXPECT_EQ(c1[1], 0);
    EXPECT_EQ(c2[1], 0);
}

// Four components: one level along the component axis; 0 and 1 hold low-pass, 2 and 3 high-pass
// samples, and the scales are the band norms and gains of that split. Three components: no level.
TEST(J2kComponentMix, WaveletAlongTheComponentAxis)
{
    zn::MessageRecorder rec;
    Mixer m(Components(4), {"-Frev", "-Mtdt"});
    EXPECT_EQ(m.mix->global_code(), kMixWaveletLifting);
    int32_t rows[4][2] = {{10, 3}, {10, 3}, {10, 3}, {10, 3}};
    for (int c = 0; c < 4; ++c)
        m.mix->push_line(rows[c], c, 2);
    ASSERT_EQ(m.recorder.rows.size(), 4u);
    EXPECT_EQ(m.recorder.rows[0].second, (std::vector<int32_t>{10, 3}));
    EXPECT_EQ(m.recorder.rows[1].second, (std::vector<int32_t>{10, 3}));
    EXPECT_EQ(m.recorder.rows[2].second, (std::vector<int32_t>{0, 0}));
    EXPECT_EQ(m.recorder.rows[3].second, (std::vector<int32_t>{0, 0}));
    wavelet_kernel k;
    k.type = kKernelIntLifting;
    load_kernel("W5X3", nullptr, k);
    const auto &norm = m.mix->norm_scales()[0], &gain = m.mix->gain_scales()[0];
    EXPECT_NEAR(norm[0], cascade_norm({&k.synthesis_low}), 1e-6);
    EXPECT_NEAR(norm[3], cascade_norm({&k.synthesis_high}), 1e-6);
    EXPECT_EQ(gain[0], 1.0f);
    EXPECT_EQ(gain[2], 2.0f);
    EXPECT_EQ(component_axis_levels(3), 0);
    EXPECT_EQ(component_axis_levels(4), 1);
    EXPECT_EQ(component_axis_levels(8), 2);
    Mixer three(Components(3), {"-Frev", "-Mtdt"});
    int32_t v[3][1] = {{5}, {-9}, {200}};
    for (int c = 0; c < 3; ++c)
        three.mix->push_line(v[c], c, 1);
    ASSERT_EQ(three.recorder.rows.size(), 3u);
    for (int c = 0; c < 3; ++c)
        EXPECT_EQ(three.recorder.rows[size_t(c)].second[0], v[c][0]);
}

// Sub-sampled components' band norms grow with the area a sample covers.
TEST(J2kComponentMix, SubsampledComponentsScaleTheirNorms)
{
    zn::MessageRecorder rec;
    Image im;
    im.dims = {{16, 16, 0, 0}, {8, 8, 0, 0}, {16, 8, 0, 0}};
    im.precisions = {8, 8, 8};
    Mixer m(im, {});
    EXPECT_EQ(m.mix->norm_scales()[0][0], 1.0f);
    EXPECT_NEAR(m.mix->norm_scales()[0][1], 2.0f, 1e-6);
    EXPECT_NEAR(m.mix->norm_scales()[0][2], std::sqrt(2.0f), 1e-6);
}

// The code-stream records of the axis kernel and the matrix, and what the demix makes of them.
TEST(J2kComponentMix, KernelAndMatrixRecords)
{
    zntest::ScratchDir dir;
    std::filesystem::create_directories(dir.Path() + "int_lifting");
    std::ofstream(dir.Path() + "int_lifting/kernel-009") << "2 2\n-1 -1 1\n1 1 2\n";
    struct Case
    {
        std::vector<std::string> words;
        std::vector<uint8_t> payload; // of registration value 0xFEF3; empty: none
    } cases[] = {
        {{"-Frev", "-Mtdt"}, {}},
        {{"-Mtdt"}, {}},
        {{"-Mtdt", "W5X3"}, {0, 'W', '5', 'X', '3', 0}},
        {{"-Frev", "-Fdir", dir.Path(), "-Mtdt", "Y", "9"},
         {1, 2, 2, 1, 2, 2, 0xFF, 0xFF, 0xFF, 0xFF, 0, 1, 0, 1}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.words.back());
        zn::MessageRecorder rec;
        J2kRun run;
        Image im = Components(4);
        j2ktest::TransformPipeline p(
            im, c.words, dir.File("k.j2c"), {}, [] { return create_dz_quantizer(); }, true);
        std::vector<Plane> image = RandomImage(im, 3);
        p.Encode(image);
        wavelet_kernel used;
        p.Decode(0, [&](int, int, const canvas_rect &, int, const std::vector<int32_t> &) {
            used = p.demix->tile_kernel();
        });
        int n = -1;
        const uint8_t *data = p.in->get_comment(0xFEF3, 0, &n);
        if (c.payload.empty()) {
            EXPECT_EQ(data, nullptr);
        } else {
            ASSERT_NE(data, nullptr);
            EXPECT_EQ(std::vector<uint8_t>(data, data + n), c.payload);
        }
        wavelet_kernel want;
        want.type = used.type;
        load_kernel(c.words.back() == "Y" || c.words.back() == "-Mtdt"
                        ? (want.type == kKernelIntLifting ? "W5X3" : "W9X7")
                        : c.words.back().c_str(),
                    dir.Path().c_str(), want);
        ASSERT_EQ(used.num_steps, want.num_steps);
        for (int s = 0; s < want.num_steps; ++s)
            EXPECT_EQ(used.steps[s].taps, want.steps[s].taps);
    }
    // "-Mlin Y f r": the reverse file's matrix travels, least significant byte first.
    zn::MessageRecorder rec;
    J2kRun run;
    std::vector<float> fwd = {0.6f, 0.8f, -0.8f, 0.6f}, rev = {0.6f, -0.8f, 0.8f, 0.61f};
    WriteFloats(dir.File("f.mat"), fwd);
    WriteFloats(dir.File("r.mat"), rev);
    Image im = Components(2);
    j2ktest::TransformPipeline p(
        im, {"-Fguard_bits", "3", "-Mlin", "Y", dir.File("f.mat"), dir.File("r.mat")}, dir.File("l.j2c"), {},
        [] { return create_dz_quantizer(); }, true);
    std::vector<Plane> image = RandomImage(im, 4);
    p.Encode(image);
    std::vector<float> used;
    p.Decode(0, [&](int, int, const canvas_rect &, int, const std::vector<int32_t> &) {
        used = p.demix->tile_matrix();
    });
    EXPECT_EQ(used, rev);
    int n = 0;
    const uint8_t *data = p.in->get_comment(0xFEF3, 0, &n);
    ASSERT_EQ(n, 16);
    float first;
    uint32_t u =
        uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 | uint32_t(data[3]) << 24;
    std::memcpy(&first, &u, 4);
    EXPECT_EQ(first, 0.6f);
}

// Through the whole pipeline: RCT and the integer axis wavelet are exact, YCbCr and a rotation
// matrix (inverted by its transpose) within rounding of the non-reversible coding.
TEST(J2kComponentMix, RoundTripsThroughThePipeline)
{
    zntest::ScratchDir dir;
    std::vector<float> rotation = {0.6f, 0.8f, -0.8f, 0.6f};
    WriteFloats(dir.File("rot.mat"), rotation);
    struct Case
    {
        int components;
        std::vector<std::string> words;
        int tolerance;
    } cases[] = {
        {3, {"-Frev", "-Mycc"}, 0},
        {4, {"-Frev", "-Mycc", "-Flev", "2"}, 0},
        {4, {"-Frev", "-Mtdt"}, 0},
        {5, {"-Frev", "-Mtdt", "-Flev", "1"}, 0},
        {8, {"-Frev", "-Mtdt", "W5X3", "-Flev", "2"}, 0},
        {3, {"-Frev", "-Mycc", "-Ftiles", "8", "8", "-Mycc+1", "N"}, 0},
        {3, {"-Mycc", "-Fsteps", dir.File("fine")}, 1},
        {4, {"-Mtdt", "-Fsteps", dir.File("fine")}, 1},
        {2, {"-Mlin", dir.File("rot.mat"), "-Fsteps", dir.File("fine")}, 1},
    };
    std::ofstream(dir.File("fine")) << "(1,8)\n64 64 64 64\n";
    for (const Case &c : cases) {
        std::string label;
        for (const std::string &w : c.words)
            label += w + " ";
        SCOPED_TRACE(label);
        zn::MessageRecorder rec;
        J2kRun run;
        Image im = Components(c.components, 19, 22);
        j2ktest::TransformPipeline p(
            im, c.words, dir.File("r.j2c"), {}, [] { return create_dz_quantizer(); }, true);
        std::vector<Plane> image = RandomImage(im, 7);
        p.Encode(image);
        int worst = 0;
        p.Decode(0, [&](int, int comp, const canvas_rect &r, int y, const std::vector<int32_t> &row) {
            for (int x = 0; x < r.cols; ++x)
                worst = std::max(worst, std::abs(row[size_t(x)] -
                                                 image[size_t(comp)].At(r.first_row + y, r.first_col + x)));
        });
        EXPECT_LE(worst, c.tolerance);
        if (c.words.size() > 5 && c.words[5] == "-Mycc+1") {
            EXPECT_EQ(p.in->get_marker_val(0, elt::Mct, 0, 0), kMixRct);
            EXPECT_EQ(p.in->get_marker_val(1, elt::Mct, 0, 0), kMixNone);
        }
    }
}

// Pure transforms: YCbCr comes back within one level; a rotation and its transpose within rounding.
// The matrix keeps the integer part of y + 0.5, which for negative values can be almost 1 away, so a
// row of this matrix (absolute sum 1.64) gives at most 1.64 + 1 after both passes: 2 or 3 levels.
TEST(J2kComponentMix, YccAndMatrixInvertWithinRounding)
{
    std::mt19937 rng(12);
    int worst_ycc = 0, worst_matrix = 0;
    std::vector<float> rot = {0.36f, 0.48f, -0.8f, -0.8f, 0.6f, 0.0f, 0.48f, 0.64f, 0.6f}, rot_t(9);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            rot_t[size_t(3 * r + c)] = rot[size_t(3 * c + r)];
    for (int i = 0; i < 2000; ++i) {
        int32_t v[3], w[3];
        for (int c = 0; c < 3; ++c)
            v[c] = w[c] = int32_t(rng() % 4096) - 2048;
        ycc_forward(w, w + 1, w + 2, 1);
        ycc_inverse(w, w + 1, w + 2, 1);
        for (int c = 0; c < 3; ++c)
            worst_ycc = std::max(worst_ycc, std::abs(w[c] - v[c]));
        int32_t x[3] = {v[0], v[1], v[2]};
        int32_t *rows[3] = {x, x + 1, x + 2};
        matrix_transform(rot, rows, 3, 1);
        matrix_transform(rot_t, rows, 3, 1);
        for (int c = 0; c < 3; ++c)
            worst_matrix = std::max(worst_matrix, std::abs(x[c] - v[c]));
    }
    EXPECT_LE(worst_ycc, 1);
    EXPECT_LE(worst_matrix, 3);
}

TEST(J2kComponentMix, RefusedOptions)
{
    zntest::ScratchDir dir;
    WriteFloats(dir.File("short.mat"), {1.0f});
    struct Case
    {
        int components;
        std::vector<std::string> words;
        const char *start;
    } cases[] = {
        {3, {"-Mycc", "X"}, "The `-Mycc' argument takes either no parameters"},
        {2, {"-Mycc"}, "may not be used with less than 3 image components"},
        {3, {"-Frev", "Y", "N", "-Mycc"}, "the first 3 image components in every tile must have the same"},
        {3, {"-Mtdt", "Y", "W5X3", "x"}, "The `-Mtdt' argument takes no more than two parameters"},
        {3, {"-Frev", "Y", "Y", "N", "-Mtdt"}, "all image components in every tile must have the same"},
        {1, {"-Mtdt"}, "Wavelet compoment mixing requires more than one component!"},
        {3, {"-Mtdt", "W7X5"}, "Unrecognized Wavelet kernel identifier"},
        {3, {"-Mlin"}, "The `-Mlin' argument requires at least one parameter file!"},
        {3, {"-Mlin", "a", "b", "c"}, "The `-Mlin' argument requires one or two parameter files!"},
        {3, {"-Frev", "-Mlin", "a"}, "Fully reversible compression is not possible with the `-Mlin' option!"},
        {1, {"-Mlin", "a"}, "Linear compoment mixing requires more than one component!"},
        {16, {"-Mlin", "a", "-Fguard_bits", "2"}, "without a minimum of 3 guards bits"},
        {2, {"-Mlin", dir.File("none.mat")}, "Unable to open the forward transform matrix file"},
        {2, {"-Mlin", dir.File("short.mat")}, "Unable to read the required number of items from the forward"},
        {2, {"-Mlin", dir.File("short.mat"), dir.File("none.mat")}, "Unable to read the required number"},
    };
    for (const Case &c : cases) {
        zn::MessageRecorder rec;
        try {
            Mixer m(Components(c.components), c.words);
            ADD_FAILURE() << c.start << ": accepted";
        } catch (const zn::RunAborted &) {
        }
        EXPECT_TRUE(j2ktest::Showed(rec, c.start)) << c.start << "\nshown: " << j2ktest::ShownText(rec);
    }
    // Sizes that differ: the colour transform needs equal first three components.
    zn::MessageRecorder rec;
    Image im;
    im.dims = {{8, 8, 0, 0}, {4, 4, 0, 0}, {8, 8, 0, 0}};
    im.precisions = {8, 8, 8};
    EXPECT_THROW(Mixer(im, {"-Mycc"}), zn::RunAborted);
    EXPECT_TRUE(j2ktest::Showed(rec, "Colour transforms may not be used with image components of different"));
}

// The demix's own refusals and the monochrome decoding of a colour stream.
TEST(J2kComponentDemix, MonochromeOutputAndRefusals)
{
    zntest::ScratchDir dir;
    zn::MessageRecorder rec;
    J2kRun run;
    Image im = Components(3);
    j2ktest::TransformPipeline p(
        im, {"-Frev", "-Mycc"}, dir.File("c.j2c"), {}, [] { return create_dz_quantizer(); }, true);
    std::vector<Plane> image = RandomImage(im, 2);
    p.Encode(image);
    p.in = create_stream_in();
    p.in->initialize(p.file.c_str());
    p.rev = create_reverse_info();
    p.rev->initialize(3, p.in.get(), nullptr);
    struct NullSource : line_source
    {
        void pull_line(int32_t *row, int, int width) override { std::fill(row, row + width, 42); }
        int next_tile() override { return 0; }
    } source;
    auto mono = create_component_demix();
    mono->initialize(0, 3, 1, p.rev.get(), &source, p.in.get());
    EXPECT_EQ(mono->tile_code(), kMixNone);
    int32_t row[8];
    mono->pull_line(row, 0, 8);
    EXPECT_EQ(row[0], 42);
    auto two = create_component_demix();
    EXPECT_THROW(two->initialize(0, 3, 2, p.rev.get(), &source, p.in.get()), zn::RunAborted);
    EXPECT_TRUE(j2ktest::Showed(rec, "Attempting to reconstruct only 2 components of a colour image"));
}

} // namespace component_mix_test
