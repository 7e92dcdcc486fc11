// The encoder's coding parameters: the grid and tiles, the per-component options, the level and band
// geometry, the band values of every kind of quantisation and the marker elements they become.
#include "jpeg2000/support/codec_messages.h"
#include "jpeg2000/support/info_codec.h"

#include "jpeg2000/band_steps.h"
#include "jpeg2000/factor_file.h"
#include "jpeg2000/local_services.h"
#include "jpeg2000/marker_elements.h"
#include "platform/errors.h"
#include "platform/messages.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

namespace forward_info_test { // one namespace per test file: a folder compiles as one source

using namespace zn::j2k;
using j2ktest::Args;
using j2ktest::Image;

namespace {

// forward_info after complete_setup, its elements declared on a writer that is never written.
struct Encoder
{
    Encoder(const Image &im, std::vector<std::string> words) : args(std::move(words))
    {
        out = create_stream_out();
        out->initialize(1 << 20, dir.File("s.j2c").c_str(), args.line.get());
        fwd = j2ktest::MakeForward(im, args.line.get(), out.get());
        fwd->complete_setup(int(im.dims.size()), {}, {}, out.get(), args.line.get());
    }
    std::vector<int> Values(const char *d, int instance = 0, int tile = -1)
    {
        std::vector<int> v;
        for (int i = 0; i < out->marker_elt_count(tile, d, instance); ++i)
            v.push_back(out->get_marker_val(tile, d, instance, i));
        return v;
    }
    zntest::ScratchDir dir;
    J2kRun run;
    Args args;
    std::unique_ptr<stream_out> out;
    std::unique_ptr<forward_info> fwd;
};

void WriteText(const std::string &path, const std::string &text)
{
    std::ofstream(path) << text;
}

} // namespace

TEST(J2kForwardInfo, OneComponentSitsOnTheGridWithFactorOne)
{
    Encoder e(Image::Grey(100, 150), {});
    EXPECT_EQ(e.fwd->num_tiles(), 1);
    canvas_rect r;
    int fx = 0, fy = 0, p = 0;
    ASSERT_EQ(e.fwd->get_tile_info(0, 0, nullptr, nullptr, &r, &fx, &fy, &p), 1);
    EXPECT_EQ(fx, 1);
    EXPECT_EQ(fy, 1);
    EXPECT_EQ(p, 8);
    EXPECT_EQ(r.rows, 100);
    EXPECT_EQ(r.cols, 150);
    EXPECT_EQ(e.fwd->get_tile_info(0, 1, nullptr, nullptr, &r, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(e.Values(elt::XSiz), std::vector<int>{150});
    EXPECT_EQ(e.Values(elt::YSiz), std::vector<int>{100});
    EXPECT_EQ(e.Values(elt::XOSiz), std::vector<int>{0});
    EXPECT_EQ(e.Values(elt::XTSiz), std::vector<int>{150});
    EXPECT_EQ(e.Values(elt::Precision), std::vector<int>{8});
    // The module's defaults: 5 levels, 2 guard bits, explicit steps of all 16 bands, nothing of Part 2.
    EXPECT_EQ(e.Values(elt::Levels), std::vector<int>{5});
    EXPECT_EQ(e.Values(elt::GuardBits), std::vector<int>{2});
    EXPECT_EQ(e.Values(elt::Reversible), std::vector<int>{0});
    EXPECT_EQ(e.Values(elt::StepParams).size(), 16u);
    for (const char *d : {elt::KernelOptions, elt::DecompositionStructure, elt::Xcl, elt::Ycl, elt::Overlap,
                          elt::ReversibleRanges})
        EXPECT_TRUE(e.Values(d).empty()) << ElementText(d);
}

// 64 x 64 tiles on 100 rows and 150 columns: 2 x 3 tiles, the last 36 high and 22 wide; next_tile's
// answers walk them in raster order.
TEST(J2kForwardInfo, TilesOfTheHundredByOneFiftyImage)
{
    Encoder e(Image::Grey(100, 150), {"-Ftiles", "64", "64"});
    ASSERT_EQ(e.fwd->num_tiles(), 6);
    canvas_rect r;
    int col = -1, row = -1;
    e.fwd->get_tile_info(-1, 5, &col, &row, &r, nullptr, nullptr, nullptr);
    EXPECT_EQ(col, 2);
    EXPECT_EQ(row, 1);
    EXPECT_EQ(r.rows, 36);
    EXPECT_EQ(r.cols, 22);
    EXPECT_EQ(r.first_row, 64);
    EXPECT_EQ(r.first_col, 128);
    std::vector<int> answers;
    for (int a = e.fwd->next_tile(1); a != 0; a = e.fwd->next_tile(0))
        answers.push_back(a);
    EXPECT_EQ(answers, (std::vector<int>{4, 1, 1, 2, 1, 1}));
    zn::MessageRecorder rec;
    EXPECT_THROW(e.fwd->get_tile_component_info(0, nullptr, nullptr, nullptr, nullptr), zn::RunAborted);
    EXPECT_TRUE(rec.Contains("Attempting to access level information beyond the last image tile!"));
}

TEST(J2kForwardInfo, SubsampledComponentsFindTheirFactors)
{
    struct Case
    {
        std::vector<canvas_rect> dims;
        std::vector<std::string> words;
        std::vector<int> fx, fy;
    } cases[] = {
        {{{100, 150, 0, 0}, {50, 75, 0, 0}, {50, 75, 0, 0}}, {}, {1, 2, 2}, {1, 2, 2}},
        {{{100, 150, 0, 0}, {100, 50, 0, 0}}, {}, {1, 3}, {1, 1}},
        {{{33, 33, 0, 0}, {16, 11, 0, 0}}, {"-Fref", "1", "3"}, {1, 3}, {1, 2}},
    };
    for (const Case &c : cases) {
        Image im;
        im.dims = c.dims;
        im.precisions.assign(c.dims.size(), 8);
        Encoder e(im, c.words);
        for (size_t i = 0; i < c.dims.size(); ++i) {
            canvas_rect r;
            int fx = 0, fy = 0;
            e.fwd->get_tile_info(int(i), 0, nullptr, nullptr, &r, &fx, &fy, nullptr);
            EXPECT_EQ(fx, c.fx[i]) << i;
            EXPECT_EQ(fy, c.fy[i]) << i;
            // The tile-component is exactly the component.
            EXPECT_EQ(r.rows, c.dims[i].rows) << i;
            EXPECT_EQ(r.cols, c.dims[i].cols) << i;
        }
    }
}

// Kernel codes: W5X3 then W9X7 on a non-reversible component. With 5 levels the three trailing
// copies are dropped and the second code loses its "more" bit; with 2 levels nothing is dropped.
TEST(J2kForwardInfo, KernelCodesOfThePartsExample)
{
    Encoder five(Image::Grey(64, 64), {"-Fkernels", "W5X3", "W9X7"});
    EXPECT_EQ(five.Values(elt::KernelOptions), (std::vector<int>{0x4A, 0x0B}));
    Encoder two(Image::Grey(64, 64), {"-Flev", "2", "-Fkernels", "W5X3", "W9X7"});
    EXPECT_EQ(two.Values(elt::KernelOptions), (std::vector<int>{0x4A, 0x4B}));
    // Default kernels, or the default named explicitly, send nothing.
    Encoder named(Image::Grey(64, 64), {"-Fkernels", "W9X7"});
    EXPECT_TRUE(named.Values(elt::KernelOptions).empty());
    Encoder rev(Image::Grey(64, 64), {"-Frev", "-Fkernels", "W5X3"});
    EXPECT_TRUE(rev.Values(elt::KernelOptions).empty());
    // Different kernels per direction: horizontal 5/3, vertical 9/7.
    Encoder mixed(Image::Grey(64, 64), {"-Flev", "1", "-Fkernels", "W5X3,W9X7"});
    EXPECT_EQ(mixed.Values(elt::KernelOptions), (std::vector<int>{0x40 + 0x02 + 8 * 3}));
    EXPECT_EQ(mixed.fwd->get_kernel_type(INFO__HORIZONTAL, INFO__ANALYSIS, 0, 1, nullptr, nullptr, nullptr,
                                         nullptr),
              kKernelFloatLifting);
    int neg = 0;
    mixed.fwd->get_kernel_type(INFO__VERTICAL, INFO__ANALYSIS, 0, 1, &neg, nullptr, nullptr, nullptr);
    EXPECT_EQ(neg, 4); // the 9-tap low-pass
    mixed.fwd->get_kernel_type(INFO__HORIZONTAL, INFO__ANALYSIS, 0, 1, &neg, nullptr, nullptr, nullptr);
    EXPECT_EQ(neg, 2);
}

TEST(J2kForwardInfo, DecompositionStructures)
{
    struct Case
    {
        const char *spec;
        std::vector<int> stored;
        std::vector<int> per_level; // descent of levels 5 .. 1
    } cases[] = {
        {"3211", {3, 2, 1}, {3, 2, 1, 1, 1}},
        {"mallat", {}, {1, 1, 1, 1, 1}},
        {"1", {}, {1, 1, 1, 1, 1}},
        {"spacl", {2, 1}, {2, 1, 1, 1, 1}},
        {"packet", {3, 2, 1}, {3, 2, 1, 1, 1}},
        {"22", {2}, {2, 2, 2, 2, 2}},
    };
    for (const Case &c : cases) {
        Encoder e(Image::Grey(256, 256), {"-Fdecomp", c.spec});
        EXPECT_EQ(e.Values(elt::DecompositionStructure), c.stored) << c.spec;
        int bands = 1;
        for (int level = 5; level >= 1; --level) {
            int d = 0;
            e.fwd->get_level_info(0, level, nullptr, &d, nullptr);
            EXPECT_EQ(d, c.per_level[size_t(5 - level)]) << c.spec << " level " << level;
            bands += (1 << (2 * d)) - (1 << (2 * (d - 1)));
        }
        EXPECT_EQ(int(e.Values(elt::StepParams).size()), bands) << c.spec;
    }
}

// Level and band rectangles follow the ceilings of the grid, and the band's digits.
TEST(J2kForwardInfo, LevelAndBandRectangles)
{
    Encoder e(Image::Grey(100, 150), {"-Fref", "3", "5", "-Flev", "3", "-Fdecomp", "2"});
    canvas_rect r;
    e.fwd->get_level_info(0, 3, &r, nullptr, nullptr);
    EXPECT_EQ(r.first_row, 3);
    EXPECT_EQ(r.rows, 100);
    e.fwd->get_level_info(0, 1, &r, nullptr, nullptr);
    EXPECT_EQ(r.first_row, 1); // ceil(3 / 4)
    EXPECT_EQ(r.rows, 26 - 1); // ceil(103 / 4) - 1
    EXPECT_EQ(r.first_col, 2); // ceil(5 / 4)
    EXPECT_EQ(r.cols, 39 - 2); // ceil(155 / 4) - 2
    // Band 7 = digits 1, 3: horizontally high, then high in both directions.
    e.fwd->get_level_info(0, 3, &r, nullptr, nullptr);
    int rows = e.fwd->get_band_info(0, 3, 7, &r, nullptr);
    // Rows: low then high: [3, 103) -> [2, 52) -> [1, 26). Columns: high, high: [5, 155) -> [2, 77) -> [1,
    // 38).
    EXPECT_EQ(rows, 25);
    EXPECT_EQ(r.first_row, 1);
    EXPECT_EQ(r.first_col, 1);
    EXPECT_EQ(r.cols, 37);
    zn::MessageRecorder rec;
    EXPECT_THROW(e.fwd->get_band_info(0, 3, 2, &r, nullptr), zn::RunAborted); // level 3 has bands 4..15
}

// 8-bit reversible 5/3 with 4 levels: range exponents 8 (LL), 9 (one high direction), 10 (HH),
// and fraction bits 0.
TEST(J2kForwardInfo, ReversibleRangeExponents)
{
    Encoder e(Image::Grey(64, 64), {"-Frev", "-Flev", "4"});
    std::vector<int> want = {8};
    for (int level = 1; level <= 4; ++level)
        want.insert(want.end(), {9, 9, 10});
    EXPECT_EQ(e.Values(elt::ReversibleRanges), want);
    EXPECT_TRUE(e.Values(elt::StepParams).empty());
    int K0 = -1, rev = 0;
    e.fwd->get_tile_component_info(0, nullptr, nullptr, &rev, &K0);
    EXPECT_EQ(rev, 1);
    EXPECT_EQ(K0, 0);
    float step = 0;
    int neg = -1, K = 0;
    e.fwd->get_band_quant_info(0, 2, 3, &step, &neg, nullptr, &K);
    EXPECT_EQ(step, 1.0f);
    EXPECT_EQ(neg, 0);
    EXPECT_EQ(K, 32 - 10 - 2);
    EXPECT_EQ(e.fwd->get_band_nominal_range(0, 0, 0), 256.0f);
    EXPECT_EQ(e.fwd->get_band_nominal_range(0, 3, 3), 1024.0f);
}

// Non-reversible 9/7: K0 22, nominal range 2^30 everywhere, (e, m) of 2^-7 over the basis norm, and
// the quantisation query's step and fraction bits.
TEST(J2kForwardInfo, ExplicitStepsOfTheNineSeven)
{
    Encoder e(Image::Grey(64, 64), {"-Flev", "3"});
    int K0 = 0;
    e.fwd->get_tile_component_info(0, nullptr, nullptr, nullptr, &K0);
    EXPECT_EQ(K0, 22);
    wavelet_kernel k;
    load_kernel("W9X7", nullptr, k);
    std::vector<int> values = e.Values(elt::StepParams);
    size_t j = 0;
    for (int level = 0; level <= 3; ++level)
        for (int band = level ? 1 : 0; band <= (level ? 3 : 0); ++band, ++j) {
            EXPECT_NEAR(e.fwd->get_band_nominal_range(0, level, band), std::ldexp(1.0, 30), 1e3);
            exp_mant em = step_to_exp_mant(0.0078125 / band_basis_norm(k, k, 3, level, band));
            EXPECT_EQ(values[j], em.e * 2048 + em.m) << level << " " << band;
            float step = 0, weight = 0;
            int neg = 0, K = 0;
            e.fwd->get_band_quant_info(0, level, band, &step, &neg, &weight, &K);
            EXPECT_EQ(K, 32 - em.e - 2);
            EXPECT_EQ(neg, K);
            EXPECT_NEAR(step, exp_mant_to_step(em.e, em.m) * std::ldexp(1.0, 30), 1e-3 * step);
            double w = exp_mant_to_step(em.e, em.m) * band_basis_norm(k, k, 3, level, band);
            EXPECT_NEAR(weight, w * w, 1e-6 * w * w);
        }
}

// Implicit quantisation sends only the low-low band's step; the bands' exponents grow by one per
// split, the mantissa is shared.
TEST(J2kForwardInfo, ImplicitSteps)
{
    Encoder e(Image::Grey(64, 64), {"-Flev", "3", "-Fimplicit"});
    exp_mant base = step_to_exp_mant(0.0078125);
    EXPECT_EQ(e.Values(elt::StepParams), std::vector<int>{(base.e + 3) * 2048 + base.m});
    EXPECT_EQ(e.fwd->band_values(0, 0, 0).e, base.e + 3);
    EXPECT_EQ(e.fwd->band_values(0, 3, 1).e, base.e + 1);
    EXPECT_EQ(e.fwd->band_values(0, 2, 2).e, base.e + 2);
    EXPECT_EQ(e.fwd->band_values(0, 1, 3).e, base.e + 3);
    // "N" leaves explicit quantisation; reversible components ignore it.
    Encoder no(Image::Grey(64, 64), {"-Flev", "3", "-Fimplicit", "N"});
    EXPECT_EQ(no.Values(elt::StepParams).size(), 10u);
    Encoder rev(Image::Grey(64, 64), {"-Flev", "3", "-Fimplicit", "-Frev"});
    EXPECT_EQ(rev.Values(elt::ReversibleRanges).size(), 10u);
}

TEST(J2kForwardInfo, ZeroLevelsLeaveOnlyTheLowLowBand)
{
    Encoder e(Image::Grey(20, 30), {"-Flev", "0"});
    EXPECT_EQ(e.Values(elt::StepParams).size(), 1u);
    EXPECT_EQ(e.fwd->tile_component(0).level.size(), 1u);
    canvas_rect r;
    EXPECT_EQ(e.fwd->get_band_info(0, 0, 0, &r, nullptr), 20);
    EXPECT_EQ(r.cols, 30);
}

// Step quotients and visual weights from factor files, and the masking exponent on top of them.
TEST(J2kForwardInfo, FactorFilesAndMasking)
{
    zntest::ScratchDir dir;
    // Component 1 only; one block for every level: LL, HL, LH, HH factors.
    WriteText(dir.File("steps"), "# quotients\n(1,1)\n2 2 2 2\n");
    WriteText(dir.File("weights"), "(1, 1)\n1 2 2 2\n\n");
    Encoder plain(Image::Grey(64, 64), {"-Flev", "2"});
    Encoder steps(Image::Grey(64, 64), {"-Flev", "2", "-Fsteps", dir.File("steps")});
    for (int level = 0; level <= 2; ++level)
        for (int b = level ? 1 : 0; b <= (level ? 3 : 0); ++b) {
            const band_info &p = plain.fwd->band_values(0, level, b),
                            &s = steps.fwd->band_values(0, level, b);
            EXPECT_EQ(s.e, p.e + 1);
            EXPECT_EQ(s.m, p.m);
            EXPECT_NEAR(s.distortion_weight, p.distortion_weight / 4, 1e-6 * p.distortion_weight);
        }
    Encoder weights(Image::Grey(64, 64), {"-Flev", "2", "-Fweights", dir.File("weights")});
    EXPECT_EQ(weights.fwd->band_values(0, 1, 2).visual_weight, 2.0f);
    EXPECT_NEAR(weights.fwd->band_values(0, 1, 2).distortion_weight,
                4 * plain.fwd->band_values(0, 1, 2).distortion_weight, 1e-6);
    EXPECT_EQ(weights.fwd->band_values(0, 0, 0).visual_weight, 1.0f);
    // The visual weight comes out of the distortion weight once, however often it is asked for.
    float before = weights.fwd->band_values(0, 1, 2).distortion_weight;
    EXPECT_EQ(weights.fwd->get_band_visual_weight(0, 1, 2), 2.0f);
    EXPECT_EQ(weights.fwd->get_band_visual_weight(0, 1, 2), 2.0f);
    EXPECT_NEAR(weights.fwd->band_values(0, 1, 2).distortion_weight, before / 4, 1e-9);
    Encoder masked(Image::Grey(64, 64),
                   {"-Flev", "2", "-Fweights", dir.File("weights"), "-Xmask", "0.5", "0"});
    EXPECT_NEAR(masked.fwd->band_values(0, 1, 2).visual_weight, std::sqrt(2.0), 1e-6);
    EXPECT_NEAR(masked.fwd->band_values(0, 1, 2).distortion_weight,
                2 * plain.fwd->band_values(0, 1, 2).distortion_weight, 1e-6);
}

// A two-level block table: its first block serves the highest level, its last the rest; a band's
// factor multiplies along its digits.
TEST(J2kFactorFile, BlocksAndDigits)
{
    zntest::ScratchDir dir;
    WriteText(dir.File("f"), "(1,2)\n1 2 3 4\n\n"
                             "5 6 7 8\n9 10 11 12\n13 14 15 16\n17 18 19 20\n"
                             "(3,9)\n# nothing\n");
    zn::MessageRecorder rec;
    J2kRun run;
    quant_factor_file f = read_quant_factor_file(dir.File("f").c_str(), 3);
    ASSERT_EQ(f.segments.size(), 2u);
    EXPECT_EQ(f.segments[0].first_component, 0);
    EXPECT_EQ(f.segments[0].last_component, 1);
    EXPECT_EQ(f.segments[1].first_component, 2);
    EXPECT_EQ(f.segments[1].last_component, 2); // clipped
    EXPECT_TRUE(f.segments[1].blocks.empty());
    const factor_segment &s = f.segments[0];
    EXPECT_EQ(segment_band_factor(s, 4, 4, 3), 4.0);
    EXPECT_EQ(segment_band_factor(s, 4, 3, 1), 6.0);
    EXPECT_EQ(segment_band_factor(s, 4, 1, 2), 7.0);
    EXPECT_EQ(segment_band_factor(s, 4, 0, 0), 5.0);
    // Band 7 = digits 1, 3: table[1] * table[4 + 3].
    EXPECT_EQ(segment_band_factor(s, 4, 3, 7), 6.0 * 12.0);
    EXPECT_EQ(segment_band_factor(f.segments[1], 4, 3, 7), 1.0);
}

TEST(J2kFactorFile, MalformedFilesEndTheRun)
{
    zntest::ScratchDir dir;
    struct Case
    {
        const char *text, *message;
    } cases[] = {
        {"(1,1)\n1 1 1 1\n1 1 1 1\n", "Need 1, 4 or 16 lines of factors, with three factors"},
        {"(1,1) 3\n1 1 1 1\n", "The syntax and interpretation of quantization factor files"},
        {"(1,1)\n1 1 1\n", "with four factors on each line!"},
        {"(1,1)\n1 1 1 1 1\n", "with four factors on each line!"},
        {"1 1 1 1\n", "Badly formed segment header line"},
        {"(0,1)\n1 1 1 1\n", "Badly formed segment header line"},
        {"(2,1)\n1 1 1 1\n", "Badly formed segment header line"},
        {"(1,1)\n1 1 1 1\n1 1 1 1\n1 1 1 1\n1 1 1 1\n1 1 1 1\n1 1 1 1\n1 1 1 1\n1 1 1 1\n"
         "1 1 1 1\n1 1 1 1\n1 1 1 1\n1 1 1 1\n1 1 1 1\n1 1 1 1\n1 1 1 1\n1 1 1 1\n(2,2)\n",
         "Need 1, 4 or 16 lines of factors, with three factors"},
    };
    for (const Case &c : cases) {
        WriteText(dir.File("bad"), c.text);
        zn::MessageRecorder rec;
        J2kRun run;
        EXPECT_THROW(read_quant_factor_file(dir.File("bad").c_str(), 1), zn::RunAborted) << c.text;
        EXPECT_TRUE(j2ktest::Showed(rec, c.message)) << c.text << "\n" << j2ktest::ShownText(rec);
    }
    zn::MessageRecorder rec;
    J2kRun run;
    EXPECT_THROW(read_quant_factor_file(dir.File("missing").c_str(), 1), zn::RunAborted);
}

// One bad vector per message; each ends only the run.
TEST(J2kForwardInfo, RefusedOptions)
{
    zntest::ScratchDir dir;
    WriteText(dir.File("steps"), "(1,1)\n0 1 1 1\n");
    WriteText(dir.File("tiny"), "(1,1)\n0.0001 1 1 1\n");
    struct Case
    {
        std::vector<std::string> words;
        const char *start; // first words of the message
    } cases[] = {
        {{"-Fref", "-1", "0"}, "The `-Fref' argument requires"},
        {{"-Ftiles", "0", "4"}, "The `-Ftiles' argument requires"},
        {{"-Ftile_ref", "1"}, "The `-Ftile_ref' argument requires"},
        {{"-Fref", "2", "2", "-Ftile_ref", "3", "0"}, "The tiling reference point must lie"},
        {{"-Fref", "70", "0", "-Ftiles", "64", "64"}, "The upper left hand corner of the image has been"},
        {{"-Fdir"}, "The `-Fdir' argument requires a string"},
        {{"-Fconv", "Y"}, "The `-Fconv' argument takes no"},
        {{"-Fguard_bits"}, "The `-Fguard_bits' argument requires at least"},
        {{"-Fguard_bits", "8"}, "The `-Fguard_bits' argument requires integer"},
        {{"-Frev", "YES"}, "The `-Frev' argument requires zero or more"},
        {{"-Fimplicit", "X"}, "The `-Fimplicit' argument requires zero or"},
        {{"-Fframes", "64", "64", "1"}, "The `-Fframes' argument requires one or more groups"},
        {{"-Fframes", "64", "-2", "1", "1"}, "The `-Fframes' argument requires one or more whole"},
        {{"-Fframes", "48", "64", "1", "1"}, "The `-Fframes' argument requires nominal frame"},
        {{"-Fanchor", "1"}, "The `-Fanchor' argument requires one or more pairs"},
        {{"-Fanchor", "1", "2"}, "The `-Fanchor' argument requires one or more coordinate"},
        {{"-Flev"}, "The `-Flev' argument requires at least"},
        {{"-Flev", "256"}, "The `-Flev' argument takes parameters in the range"},
        {{"-Flev", "33"}, "At most 32 decomposition levels"},
        {{"-Flev", "30"}, "Frame dimensions are too small"},
        {{"-Fframes", "8", "8", "0", "0", "-Flev", "4"}, "Frame dimensions are too small"},
        {{"-Fdecomp"}, "The `-Fdecomp' argument requires at least one"},
        {{"-Fdecomp", "3241"}, "The string parameter, \"3241\", supplied"},
        {{"-Fdecomp", "12121212121212121"}, "No support for decomposition structure strings"},
        {{"-Fkernels"}, "The `-Fkernels' argument requires at least"},
        {{"-Fkernels", "W9X7", "W9X7", "W9X7", "W9X7", "W9X7", "W9X7", "W9X7", "W9X7", "W9X7", "W9X7", "W9X7",
          "W9X7", "W9X7", "W9X7", "W9X7", "W9X7", "W9X7"},
         "Too many distinct kernel"},
        {{"-Fkernels", "W7X5"}, "Unrecognized Wavelet kernel identifier"},
        {{"-Frev", "-Fkernels", "W9X7"}, "No built-in reversible lifting steps"},
        {{"-Fovlp"}, "The `-Fovlp' argument requires at least"},
        {{"-Fovlp", "TX"}, "The `-Fovlp' argument requires one or more parameters"},
        {{"-Fsteps"}, "The `-Fsteps' argument requires a file"},
        {{"-Fweights", "a", "b"}, "The `-Fweights' argument requires a file"},
        {{"-Fimplicit", "-Fsteps", dir.File("steps")}, "Cannot combine implicit quantization"},
        {{"-Fsteps", dir.File("steps")}, "Illegal quantization step quotient"},
        {{"-Frev", "-Flra"}, "The `-Flra' argument is incompatible with reversible"},
        {{"-Frev", "-Qtcq"}, "The `-Qtcq' argument is incompatible with `-Frev'"},
        {{"-Fimplicit", "-Flra"}, "The `-Flra' argument is incompatible with implicit"},
        {{"-Flra", "-Flev+1", "3", "-Ftiles", "32", "32"}, "Lagrangian Rate Allocation currently works only"},
        {{"-Flev", "0", "-Fsteps", dir.File("tiny")}, "Band 0 of resolution level 0"},
    };
    for (const Case &c : cases) {
        zn::MessageRecorder rec;
        try {
            Encoder e(Image::Grey(64, 64), c.words);
            ADD_FAILURE() << c.start << ": accepted";
        } catch (const zn::RunAborted &) {
        }
        EXPECT_TRUE(j2ktest::Showed(rec, c.start)) << c.start << "\nshown: " << j2ktest::ShownText(rec);
    }
}

} // namespace forward_info_test
