// The decoder's coding parameters: every accessor answers as the encoder's did, after the elements
// went through the code-stream, for the Part-2 options, tiles with options of their own and user
// kernels; hand-made headers pin the decoder's own rules and its refusals.
#include "jpeg2000/support/codec_messages.h"
#include "jpeg2000/support/info_codec.h"

#include "jpeg2000/local_services.h"
#include "jpeg2000/marker_elements.h"
#include "platform/errors.h"
#include "platform/messages.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

namespace reverse_info_test { // one namespace per test file: a folder compiles as one source

using namespace zn::j2k;
using j2ktest::Declare;
using j2ktest::Image;

namespace {

void ExpectSameRect(const canvas_rect &a, const canvas_rect &b, const std::string &where)
{
    EXPECT_EQ(a.rows, b.rows) << where;
    EXPECT_EQ(a.cols, b.cols) << where;
    EXPECT_EQ(a.first_row, b.first_row) << where;
    EXPECT_EQ(a.first_col, b.first_col) << where;
}

void ExpectSameFrame(const frame_info &a, const frame_info &b, const std::string &where)
{
    EXPECT_EQ(a.height, b.height) << where;
    EXPECT_EQ(a.width, b.width) << where;
    EXPECT_EQ(a.anchor_row, b.anchor_row) << where;
    EXPECT_EQ(a.anchor_col, b.anchor_col) << where;
    EXPECT_EQ(a.log2_height, b.log2_height) << where;
    EXPECT_EQ(a.log2_width, b.log2_width) << where;
    EXPECT_EQ(a.vert_sso, b.vert_sso) << where;
    EXPECT_EQ(a.hor_sso, b.hor_sso) << where;
}

void ExpectSameTaps(const tap_set &a, const tap_set &b, const std::string &where)
{
    ASSERT_EQ(a.neg_support, b.neg_support) << where;
    ASSERT_EQ(a.pos_support, b.pos_support) << where;
    for (size_t i = 0; i < a.taps.size(); ++i)
        EXPECT_NEAR(a.taps[i], b.taps[i], 1e-6) << where << " tap " << i;
    EXPECT_EQ(a.int_taps, b.int_taps) << where;
    EXPECT_EQ(a.downshift, b.downshift) << where;
}

void ExpectSameKernel(const wavelet_kernel &a, const wavelet_kernel &b, const std::string &where)
{
    EXPECT_EQ(a.type, b.type) << where;
    ASSERT_EQ(a.num_steps, b.num_steps) << where;
    for (int s = 0; s < a.num_steps; ++s)
        ExpectSameTaps(a.steps[s], b.steps[s], where + " step " + std::to_string(s));
    EXPECT_NEAR(a.low_scale, b.low_scale, 1e-6) << where;
    EXPECT_NEAR(a.high_scale, b.high_scale, 1e-6) << where;
    ExpectSameTaps(a.synthesis_low, b.synthesis_low, where + " synthesis low");
    ExpectSameTaps(a.synthesis_high, b.synthesis_high, where + " synthesis high");
}

// Every accessor of every tile, component, level and band, encoder against decoder.
void ExpectSameDescription(forward_info &f, reverse_info &r)
{
    ASSERT_EQ(f.num_tiles(), r.num_tiles());
    int fa = f.next_tile(1), ra = r.next_tile(1);
    for (; fa != 0; fa = f.next_tile(0), ra = r.next_tile(0)) {
        ASSERT_EQ(fa, ra);
        int t = f.current_tile();
        for (int c = 0; c < f.num_components(); ++c) {
            std::string where = "tile " + std::to_string(t) + " component " + std::to_string(c);
            canvas_rect a, b;
            int fx[2], fy[2], p[2], col[2], row[2];
            f.get_tile_info(c, t, &col[0], &row[0], &a, &fx[0], &fy[0], &p[0]);
            r.get_tile_info(c, t, &col[1], &row[1], &b, &fx[1], &fy[1], &p[1]);
            ExpectSameRect(a, b, where);
            EXPECT_EQ(fx[0], fx[1]) << where;
            EXPECT_EQ(fy[0], fy[1]) << where;
            EXPECT_EQ(p[0], p[1]) << where;
            int rev[2], K0[2];
            int levels = f.get_tile_component_info(c, nullptr, &a, &rev[0], &K0[0]);
            ASSERT_EQ(levels, r.get_tile_component_info(c, nullptr, &b, &rev[1], &K0[1])) << where;
            ExpectSameRect(a, b, where);
            EXPECT_EQ(rev[0], rev[1]) << where;
            EXPECT_EQ(K0[0], K0[1]) << where;
            for (int level = 0; level <= levels; ++level) {
                std::string lw = where + " level " + std::to_string(level);
                frame_info ff, rf;
                int hp[2];
                f.get_level_info(c, level, &a, &hp[0], &ff);
                r.get_level_info(c, level, &b, &hp[1], &rf);
                ExpectSameRect(a, b, lw);
                ExpectSameFrame(ff, rf, lw);
                ASSERT_EQ(hp[0], hp[1]) << lw;
                if (level > 0)
                    for (int dir : {INFO__HORIZONTAL, INFO__VERTICAL}) {
                        std::string kw = lw + (dir == INFO__HORIZONTAL ? " horizontal" : " vertical");
                        ExpectSameKernel(f.kernel(dir, c, level), r.kernel(dir, c, level), kw);
                        int s[2][4];
                        EXPECT_EQ(f.get_kernel_type(dir, INFO__SYNTHESIS, c, level, &s[0][0], &s[0][1],
                                                    &s[0][2], &s[0][3]),
                                  r.get_kernel_type(dir, INFO__SYNTHESIS, c, level, &s[1][0], &s[1][1],
                                                    &s[1][2], &s[1][3]))
                            << kw;
                        for (int i = 0; i < 4; ++i)
                            EXPECT_EQ(s[0][i], s[1][i]) << kw;
                    }
                for (int band : coding_info::level_bands(f.level_record(c, level))) {
                    std::string bw = lw + " band " + std::to_string(band);
                    EXPECT_EQ(f.get_band_info(c, level, band, &a, &ff),
                              r.get_band_info(c, level, band, &b, &rf));
                    ExpectSameRect(a, b, bw);
                    ExpectSameFrame(ff, rf, bw);
                    float step[2];
                    int neg[2], K[2];
                    f.get_band_quant_info(c, level, band, &step[0], &neg[0], nullptr, &K[0]);
                    r.get_band_quant_info(c, level, band, &step[1], &neg[1], &K[1]);
                    EXPECT_EQ(step[0], step[1]) << bw;
                    EXPECT_EQ(neg[0], neg[1]) << bw;
                    EXPECT_EQ(K[0], K[1]) << bw;
                    EXPECT_EQ(f.band_record(c, level, band).e, r.band_record(c, level, band).e) << bw;
                    EXPECT_EQ(f.band_record(c, level, band).m, r.band_record(c, level, band).m) << bw;
                }
            }
        }
    }
    EXPECT_EQ(ra, 0);
}

void WriteText(const std::string &path, const std::string &text)
{
    std::ofstream(path) << text;
}

struct Scenario
{
    Image image;
    std::vector<std::string> words;
};

Image ThreeComponents()
{
    Image im;
    im.dims = {{64, 96, 0, 0}, {32, 48, 0, 0}, {32, 96, 0, 0}};
    im.precisions = {8, -10, 12};
    return im;
}

} // namespace

TEST(J2kReverseInfo, EveryAccessorMatchesTheEncodersAfterTheStream)
{
    zntest::ScratchDir dir;
    std::string kernels = dir.Path();
    std::filesystem::create_directories(kernels + "float_lifting");
    std::filesystem::create_directories(kernels + "int_lifting");
    // A float kernel of three steps with three-tap steps, and an integer 5/3 written out by hand.
    WriteText(kernels + "float_lifting/kernel-007", "2 2 2\n-0.5 -0.5\n0.25 0.25\n0.3 0.1\n");
    WriteText(kernels + "int_lifting/kernel-005", "2 2\n-1 -1 1\n1 1 2\n");
    std::vector<Scenario> scenarios = {
        {Image::Grey(64, 64), {}},
        {Image::Grey(61, 77), {"-Frev"}},
        {Image::Grey(64, 64), {"-Flev", "3", "-Fimplicit"}},
        {Image::Grey(80, 72), {"-Flev", "4", "-Fdecomp", "3211"}},
        {Image::Grey(64, 64), {"-Flev", "3", "-Fdecomp", "spacl", "-Frev"}},
        {Image::Grey(64, 64), {"-Fkernels", "W5X3", "W9X7"}},
        {Image::Grey(64, 64), {"-Flev", "3", "-Fkernels", "W5X3,W9X7", "W9X7,W5X3", "W9X7"}},
        {Image::Grey(100, 150), {"-Ftiles", "32", "48", "-Flev+1", "2", "-Frev+2", "-Fdecomp+3", "21"}},
        {Image::Grey(64, 64), {"-Fframes", "16", "32", "2", "1", "-Fanchor", "1", "0", "-Flev", "3"}},
        {Image::Grey(64, 64), {"-Fframes", "0", "8", "0", "3", "-Flev", "2"}},
        {Image::Grey(70, 70), {"-Fovlp", "TL", "R", "-Ftiles", "32", "32"}},
        {Image::Grey(64, 64), {"-Fguard_bits", "4", "-Flev", "6"}},
        {Image::Grey(60, 50), {"-Fref", "3", "5", "-Ftiles", "40", "40", "-Ftile_ref", "2", "1"}},
        {ThreeComponents(), {"-Frev", "Y", "N", "-Flev", "2", "3", "-Fguard_bits", "1", "3"}},
        {ThreeComponents(), {"-Fkernels", "W5X3", "*", "W9X7", "W5X3", "*", "W5X3,W9X7"}},
        {Image::Grey(64, 64), {"-Fdir", kernels, "-Flev", "3", "-Fkernels", "7", "W9X7", "7,W5X3"}},
        {Image::Grey(64, 64), {"-Frev", "-Fdir", kernels, "-Fkernels", "5", "W5X3"}},
        {Image::Grey(64, 64), {"-Fdir", kernels, "-Fdecomp", "32", "-Flev", "2", "-Fkernels", "7,7"}},
    };
    for (const Scenario &s : scenarios) {
        std::string label;
        for (const std::string &w : s.words)
            label += w + " ";
        SCOPED_TRACE(label);
        zn::MessageRecorder rec; // Part-2 elements travel in premarker segments, with their notices
        J2kRun run;
        j2ktest::InfoRoundTrip rt(s.image, s.words, dir.File("rt.j2c"));
        ExpectSameDescription(*rt.fwd, *rt.rev);
        if (HasFatalFailure())
            return;
    }
}

// The same with convolution on both sides: the decoder hands out the synthesis filters.
TEST(J2kReverseInfo, ConvolutionTapsAreTheSynthesisFilters)
{
    zntest::ScratchDir dir;
    zn::MessageRecorder rec;
    J2kRun run;
    j2ktest::Args enc({"-Fconv", "-Flev", "2"});
    auto out = create_stream_out();
    out->initialize(1 << 20, dir.File("c.j2c").c_str(), enc.line.get());
    auto fwd = j2ktest::MakeForward(Image::Grey(32, 32), enc.line.get(), out.get());
    j2ktest::WriteInfoStream(*fwd, *out, enc.line.get());
    auto in = create_stream_in();
    in->initialize(dir.File("c.j2c").c_str());
    j2ktest::Args dec({"-Fconv"});
    auto rev = create_reverse_info();
    rev->initialize(1, in.get(), dec.line.get());
    const float *fl = nullptr, *rl = nullptr, *fh = nullptr, *rh = nullptr;
    fwd->next_tile(1);
    fwd->get_convolution_taps(INFO__VERTICAL, 0, 2, &fl, &fh);
    rev->get_convolution_taps(INFO__VERTICAL, 0, 2, &rl, &rh);
    const wavelet_kernel &k = fwd->kernel(INFO__VERTICAL, 0, 2);
    EXPECT_EQ(fl, k.analysis_low.taps.data() + 4);
    for (int j = -3; j <= 3; ++j)
        EXPECT_NEAR(rl[j], k.synthesis_low.Tap(j), 1e-6) << j;
    for (int j = -4; j <= 4; ++j)
        EXPECT_NEAR(rh[j], k.synthesis_high.Tap(j), 1e-6) << j;
    EXPECT_THROW(rev->get_float_steps(INFO__VERTICAL, 0, 2, nullptr, nullptr, nullptr, nullptr, nullptr),
                 zn::RunAborted);
    EXPECT_TRUE(j2ktest::Showed(rec, "Attempting to retrieve non-reversible lifting steps"));
}

namespace {

// A code-stream whose per-component elements the test declares itself.
struct HandMade
{
    using Elements = std::function<void(stream_out &)>;
    explicit HandMade(const Elements &component_elements)
    {
        auto args = create_command_line();
        const char *argv[] = {"Jpeg2000Encoder"};
        args->parse(1, argv);
        auto out = create_stream_out();
        out->initialize(1 << 20, dir.File("h.j2c").c_str(), args.get());
        Declare(*out, -1, elt::XSiz, 0, 32, {64});
        Declare(*out, -1, elt::YSiz, 0, 32, {64});
        Declare(*out, -1, elt::XOSiz, 0, 32, {0});
        Declare(*out, -1, elt::YOSiz, 0, 32, {0});
        Declare(*out, -1, elt::XTSiz, 0, 32, {64});
        Declare(*out, -1, elt::YTSiz, 0, 32, {64});
        Declare(*out, -1, elt::XTOSiz, 0, 32, {0});
        Declare(*out, -1, elt::YTOSiz, 0, 32, {0});
        Declare(*out, -1, elt::Precision, 0, 8, {8});
        Declare(*out, -1, elt::HorizontalSubsampling, 0, 8, {1});
        Declare(*out, -1, elt::VerticalSubsampling, 0, 8, {1});
        j2ktest::DeclareOtherObjects(*out, 1);
        component_elements(*out);
        out->write_global_header();
        const uint8_t head[1] = {0};
        int header = out->start_tile(0, 1, 0);
        out->start_packet(0, 1, 0, 1, 1);
        out->put_head_bytes(head, 1);
        int packet = out->end_packet();
        out->start_tile(0, 0, header + packet);
        out->start_packet(0, 1, 0, 1, 0);
        out->put_head_bytes(head, 1);
        out->end_packet();
        out->terminate();
        in = create_stream_in();
        in->initialize(dir.File("h.j2c").c_str());
    }
    std::unique_ptr<reverse_info> Read()
    {
        auto r = create_reverse_info();
        r->initialize(1, in.get(), nullptr);
        return r;
    }
    zntest::ScratchDir dir;
    std::unique_ptr<stream_in> in;
};

// Levels, reversibility and guard bits, then whatever the case adds.
HandMade::Elements Component(int levels, int reversible, int guard, std::vector<int> steps,
                             std::function<void(stream_out &)> more = {})
{
    return [=](stream_out &out) {
        Declare(out, -1, elt::Levels, 0, 8, {levels});
        Declare(out, -1, elt::Reversible, 0, 1, {reversible});
        Declare(out, -1, elt::GuardBits, 0, 3, {guard});
        Declare(out, -1, reversible ? elt::ReversibleRanges : elt::StepParams, 0, reversible ? 5 : 16, steps);
        if (more)
            more(out);
    };
}

std::vector<int> Steps(int bands, int value)
{
    return std::vector<int>(size_t(bands), value);
}

} // namespace

TEST(J2kReverseInfo, StepWordsOverlapFlagsAndImplicitSteps)
{
    zn::MessageRecorder rec;
    J2kRun run;
    {
        HandMade h(
            Component(0, 0, 2, {0x3C00}, [](stream_out &o) { Declare(o, -1, elt::Overlap, 0, 4, {5}); }));
        auto r = h.Read();
        EXPECT_EQ(r->band_record(0, 0, 0).e, 7);
        EXPECT_EQ(r->band_record(0, 0, 0).m, 1024);
        const component_info &ci = r->tile_component(0);
        EXPECT_EQ(ci.overlap_t, 1);
        EXPECT_EQ(ci.overlap_l, 1);
        EXPECT_EQ(ci.overlap_b + ci.overlap_r, 0);
    }
    {
        // One value: implicit. Level i's bands get e_LL + 1 - i, all with the low-low mantissa.
        HandMade h(Component(3, 0, 2, {(10 << 11) | 77}));
        auto r = h.Read();
        const int want[4] = {10, 10, 9, 8};
        for (int level = 0; level <= 3; ++level)
            for (int band : coding_info::level_bands(r->level_record(0, level))) {
                EXPECT_EQ(r->band_record(0, level, band).e, want[level]) << level;
                EXPECT_EQ(r->band_record(0, level, band).m, 77) << level;
            }
        EXPECT_EQ(r->tile_component(0).implicit, 1);
    }
}

// Codes 0x4A then 0x0B for 5 levels: level 5 is 5/3 both ways, level 4 is 9/7 both ways (the vertical
// code says "as horizontal"), and levels 3 to 1 copy level 4. Without codes every level is the default.
TEST(J2kReverseInfo, KernelCodesOfThePartsExample)
{
    zn::MessageRecorder rec;
    J2kRun run;
    wavelet_kernel w53, w97;
    build_decoder_kernel("W5X3", nullptr, w53);
    build_decoder_kernel("W9X7", nullptr, w97);
    HandMade h(Component(5, 0, 2, Steps(16, 0x4000), [](stream_out &o) {
        Declare(o, -1, elt::KernelOptions, 0, 8, {0x4A, 0x0B});
    }));
    auto r = h.Read();
    for (int dir : {INFO__HORIZONTAL, INFO__VERTICAL}) {
        ExpectSameKernel(r->kernel(dir, 0, 5), w53, "level 5");
        for (int level = 4; level >= 1; --level)
            ExpectSameKernel(r->kernel(dir, 0, level), w97, "level " + std::to_string(level));
    }
    HandMade plain(Component(2, 1, 2, Steps(7, 9)));
    auto p = plain.Read();
    wavelet_kernel int53;
    int53.type = kKernelIntLifting;
    build_decoder_kernel("W5X3", nullptr, int53);
    for (int level = 1; level <= 2; ++level)
        ExpectSameKernel(p->kernel(INFO__HORIZONTAL, 0, level), int53, "reversible default");
}

// One bad header per message; each ends only the run.
TEST(J2kReverseInfo, RefusedHeaders)
{
    struct Case
    {
        HandMade::Elements elements;
        const char *start;
    } cases[] = {
        {Component(33, 0, 2, Steps(100, 0x4000)), "at most 32 can be decoded"},
        {Component(2, 0, 2, Steps(6, 0x4000)), "The code-stream carries 6 quantization values"},
        {Component(1, 1, 0, {0, 9, 9, 9}), "leaves no room in a 32-bit sample"},
        {Component(1, 0, 2, Steps(4, 0x4000),
                   [](stream_out &o) { Declare(o, -1, elt::KernelOptions, 0, 8, {0x40}); }),
         "Cannot use the \"repeat last kernel in same direction\" flag"},
        {Component(1, 0, 2, Steps(4, 0x4000),
                   [](stream_out &o) { Declare(o, -1, elt::KernelOptions, 0, 8, {0x51}); }),
         "\"repeat last kernel in opposite direction\" flag for the horizontal"},
        {Component(1, 0, 2, Steps(4, 0x4000),
                   [](stream_out &o) { Declare(o, -1, elt::KernelOptions, 0, 8, {0x1D}); }),
         "Invalid kernel code 0x1D"},
        {Component(2, 0, 2, Steps(7, 0x4000),
                   [](stream_out &o) { Declare(o, -1, elt::KernelOptions, 0, 8, {0x5B}); }),
         "stop before its lowest resolution level"},
        {Component(1, 0, 2, Steps(4, 0x4000),
                   [](stream_out &o) { Declare(o, -1, elt::KernelOptions, 0, 8, {0x0C}); }),
         "incomplete or malformed"},
        {Component(1, 0, 2, Steps(4, 0x4000),
                   [](stream_out &o) {
                       Declare(o, -1, elt::KernelOptions, 0, 8, {0x0C});
                       Declare(o, -1, elt::KernelSupports, 0, 8, {0x52, 0x92});
                       Declare(o, -1, elt::KernelTaps, 0, 16, {0xFE00, 0xFE00, 0x0100});
                   }),
         "incomplete or malformed"},
        {Component(1, 1, 2, {8, 9, 9, 10},
                   [](stream_out &o) { Declare(o, -1, elt::KernelOptions, 0, 8, {0x0B}); }),
         "Cannot use the W9X7 kernel with a reversible decomposition!"},
        {Component(2, 0, 2, Steps(7, 0x4000),
                   [](stream_out &o) {
                       Declare(o, -1, elt::DecompositionStructure, 0, 2, {1, 0});
                   }),
         "decomposition structure value 0"},
        {Component(2, 0, 2, Steps(20, 0x4000),
                   [](stream_out &o) {
                       Declare(o, -1, elt::DecompositionStructure, 0, 2, std::vector<int32_t>(17, 1));
                   }),
         "16 different resolution levels"},
        {Component(3, 0, 2, Steps(10, 0x4000),
                   [](stream_out &o) {
                       Declare(o, -1, elt::Xcl, 0, 4, {2});
                       Declare(o, -1, elt::Xap, 0, 1, {0});
                       Declare(o, -1, elt::HorizontalSsoLevels, 0, 4, {1});
                   }),
         "Frame dimensions are too small"},
    };
    for (const Case &c : cases) {
        zn::MessageRecorder rec;
        J2kRun run;
        try {
            HandMade h(c.elements);
            h.Read();
            ADD_FAILURE() << c.start << ": accepted";
        } catch (const zn::RunAborted &) {
        }
        EXPECT_TRUE(j2ktest::Showed(rec, c.start)) << c.start << "\nshown: " << j2ktest::ShownText(rec);
    }
}

// Options of one tile reach that tile's header and only that tile.
TEST(J2kReverseInfo, TileOptionsReachOnlyTheirTile)
{
    zntest::ScratchDir dir;
    zn::MessageRecorder rec;
    J2kRun run;
    j2ktest::InfoRoundTrip rt(Image::Grey(100, 150), {"-Ftiles", "32", "48", "-Flev+1", "2", "-Frev+2"},
                              dir.File("t.j2c"));
    std::vector<int> levels, reversible;
    for (int a = rt.rev->next_tile(1); a != 0; a = rt.rev->next_tile(0)) {
        int rev = 0;
        levels.push_back(rt.rev->get_tile_component_info(0, nullptr, nullptr, &rev, nullptr));
        reversible.push_back(rev);
    }
    ASSERT_EQ(levels.size(), 16u);
    EXPECT_EQ(levels[0], 5);
    EXPECT_EQ(levels[1], 2);
    EXPECT_EQ(levels[2], 5);
    EXPECT_EQ(reversible[2], 1);
    EXPECT_EQ(reversible[1] + reversible[3] + reversible[15], 0);
}

} // namespace reverse_info_test
