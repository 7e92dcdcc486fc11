// Region of interest: the regions the options describe, their marker elements, block masks and
// shifts, the fast and the generic mask paths against each other and against the footprint of every
// synthesised coefficient, the decoder's masks from the code-stream, and the refusals.
#include "jpeg2000/support/band_row_store.h"
#include "jpeg2000/support/codec_messages.h"
#include "jpeg2000/support/info_codec.h"

#include "jpeg2000/local_services.h"
#include "jpeg2000/marker_elements.h"
#include "jpeg2000/region_of_interest.h"
#include "jpeg2000/wavelet_analysis.h"
#include "platform/errors.h"
#include "platform/messages.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <random>

namespace region_of_interest_test { // one namespace per test file: a folder compiles as one source

using namespace zn::j2k;
using j2ktest::Image;

namespace {

// forward_info and the ROI encoder, with elements declared on an unwritten stream.
struct Roi
{
    Roi(const Image &im, std::vector<std::string> words) : args(std::move(words))
    {
        out = create_stream_out();
        out->initialize(1 << 20, dir.File("r.j2c").c_str(), args.line.get());
        fwd = j2ktest::MakeForward(im, args.line.get(), out.get());
        fwd->complete_setup(int(im.dims.size()), {}, {}, out.get(), args.line.get());
        roi = create_roi_encoder();
        roi->initialize(int(im.dims.size()), fwd.get(), out.get(), args.line.get());
    }
    // The whole band as one block, each byte with the block's shift added back: the boost of every sample.
    std::vector<uint8_t> Band(int c, int level, int band, int *shift = nullptr, int *range = nullptr)
    {
        canvas_rect r;
        fwd->get_band_info(c, level, band, &r, nullptr);
        std::vector<uint8_t *> rows(size_t(r.rows) + 1);
        int s = 0;
        int left = roi->get_block_mask(c, level, band, r.rows, r.cols, 0, 0, &s, rows.data());
        if (shift)
            *shift = s;
        if (range)
            *range = left;
        std::vector<uint8_t> bytes;
        for (int y = 0; y < r.rows; ++y)
            for (int x = 0; x < r.cols; ++x)
                bytes.push_back(uint8_t(rows[size_t(y)][x] + s));
        return bytes;
    }
    std::vector<int> Values(const char *d, int c = 0)
    {
        std::vector<int> v;
        for (int i = 0; i < out->marker_elt_count(-1, d, c); ++i)
            v.push_back(out->get_marker_val(-1, d, c, i));
        return v;
    }
    zntest::ScratchDir dir;
    J2kRun run;
    j2ktest::Args args;
    std::unique_ptr<stream_out> out;
    std::unique_ptr<forward_info> fwd;
    std::unique_ptr<roi_encoder> roi;
};

std::vector<std::pair<int, int>> Bands(const coding_info &info, int c)
{
    std::vector<std::pair<int, int>> all;
    int levels = info.get_tile_component_info(c, nullptr, nullptr, nullptr, nullptr);
    for (int level = 0; level <= levels; ++level)
        for (int b : coding_info::level_bands(info.level_record(c, level)))
            all.push_back({level, b});
    return all;
}

} // namespace

TEST(J2kRoi, WithoutRegionsNothingIsSignalledAndNoBlockShifts)
{
    zn::MessageRecorder rec;
    Roi r(Image::Grey(32, 32), {});
    int align = -1, max_shift = -1;
    EXPECT_EQ(r.roi->get_boost(0, 1, 0, &align, &max_shift), 0);
    EXPECT_EQ(align, 0);
    EXPECT_EQ(max_shift, 0);
    int shift = -1;
    uint8_t *rows[4];
    EXPECT_EQ(r.roi->get_block_mask(0, 5, 3, 4, 4, 0, 0, &shift, rows), 0);
    EXPECT_EQ(shift, 0);
    EXPECT_EQ(r.out->marker_elt_count(-1, elt::RegionBoosts, 0), 0);
}

// "-Rrgn 5 C 0.5 0.5 0.25" on a 256 x 256 component at the origin: a circle at (128, 128) of radius 64.
TEST(J2kRoi, TheCircleOfThePartsExample)
{
    zn::MessageRecorder rec;
    Roi r(Image::Grey(256, 256), {"-Rrgn", "5", "C", "0.5", "0.5", "0.25"});
    const roi_tile_record &t = r.roi->component(0).tiles[0];
    ASSERT_EQ(t.regions.size(), 1u);
    EXPECT_EQ(t.regions[0].kind, 0);
    EXPECT_EQ(t.regions[0].centre_row, 128);
    EXPECT_EQ(t.regions[0].centre_col, 128);
    EXPECT_EQ(t.regions[0].radius, 64);
    EXPECT_EQ(t.boost, 5);
    EXPECT_EQ(r.Values(elt::RegionBoosts), std::vector<int>{5});
    EXPECT_EQ(r.Values(elt::CircularRegions), (std::vector<int>{128, 128, 64}));
    EXPECT_TRUE(r.Values(elt::RectRegions).empty());
    // A circle of radius 0 marks exactly one canvas sample.
    roi_region dot;
    dot.kind = 0;
    dot.boost = 9;
    dot.centre_row = 3;
    dot.centre_col = 4;
    std::vector<uint8_t> plane = rasterise_regions({dot}, region_rect{8, 8, 0, 0});
    EXPECT_EQ(std::count(plane.begin(), plane.end(), 9), 1);
    EXPECT_EQ(plane[3 * 8 + 4], 9);
}

// Rectangles with boosts 3 and 7 that overlap: samples in both get 7 at every level; a block inside
// the boost-3 rectangle only gets shift 3 and no range left. The rectangles travel last-given first.
TEST(J2kRoi, OverlappingBoostsAndBlockShifts)
{
    zn::MessageRecorder rec;
    for (const char *path : {"fast", "generic"}) {
        std::vector<std::string> words = {"-Flev", "2", "-Rrgn", "3",   "R",   "0",   "0",  "0.75",
                                          "0.75",  "7", "R",     "0.5", "0.5", "0.5", "0.5"};
        if (std::string(path) == "generic")
            words.push_back("-Rno_rect");
        Roi r(Image::Grey(64, 64), words);
        EXPECT_EQ(r.Values(elt::RegionBoosts), (std::vector<int>{7, 3}));
        EXPECT_EQ(r.Values(elt::RectRegions), (std::vector<int>{32, 32, 63, 63, 0, 0, 47, 47}));
        int shift = -1, range = -1;
        std::vector<uint8_t> band = r.Band(0, 2, 3, &shift, &range);
        EXPECT_EQ(shift, 0) << path; // the band also holds background samples
        EXPECT_EQ(range, 7) << path;
        // Band 3 of level 2 is 32 x 32: its sample (20, 20) sits in both rectangles' footprints.
        EXPECT_EQ(band[20 * 32 + 20], 7) << path;
        EXPECT_EQ(band[2 * 32 + 2], 3) << path;
        // A block inside the boost-3 rectangle only.
        canvas_rect b;
        r.fwd->get_band_info(0, 2, 3, &b, nullptr);
        uint8_t *rows[4];
        EXPECT_EQ(r.roi->get_block_mask(0, 2, 3, 4, 4, 0, 0, &shift, rows), 0) << path;
        EXPECT_EQ(shift, 3) << path;
        EXPECT_EQ(rows[3][3], 0) << path;
    }
}

// "-Ralign": no region elements; a block gets the largest boost it contains as its shift.
TEST(J2kRoi, AlignedBlocks)
{
    zn::MessageRecorder rec;
    Roi r(Image::Grey(64, 64), {"-Flev", "1", "-Ralign", "-Rrgn", "4", "R", "0", "0", "0.25", "0.25"});
    EXPECT_EQ(r.out->marker_elt_count(-1, elt::RegionBoosts, 0), 0);
    int align = 0;
    r.roi->get_boost(0, 1, 0, &align, nullptr);
    EXPECT_EQ(align, 1);
    int shift = -1;
    uint8_t *rows[8];
    EXPECT_EQ(r.roi->get_block_mask(0, 1, 1, 8, 8, 0, 0, &shift, rows), 0);
    EXPECT_EQ(shift, 4);
    EXPECT_EQ(r.roi->get_block_mask(0, 1, 1, 8, 8, 16, 16, &shift, rows), 0);
    EXPECT_EQ(shift, 0);
}

// The fast path and the generic path give every band the same mask, for random rectangles on odd
// origins and sizes, tiles and Part-2 structures.
TEST(J2kRoi, FastAndGenericMasksAgree)
{
    std::mt19937 rng(31);
    for (int trial = 0; trial < 40; ++trial) {
        zn::MessageRecorder rec;
        int rows = 9 + int(rng() % 50), cols = 9 + int(rng() % 50);
        std::vector<std::string> words = {"-Flev", std::to_string(1 + rng() % 4), "-Fref",
                                          std::to_string(rng() % 5), std::to_string(rng() % 5)};
        if (trial % 3 == 1)
            words.insert(words.end(), {"-Fdecomp", trial % 2 ? "21" : "3"});
        if (trial % 4 == 2)
            words.insert(words.end(), {"-Ftiles", "24", "24"});
        if (trial % 2)
            words.push_back("-Frev");
        words.push_back("-Rrgn");
        for (int g = 0; g < 1 + int(rng() % 3); ++g) {
            auto frac = [&] { return std::to_string(double(rng() % 1000) / 2000); };
            words.insert(words.end(), {std::to_string(1 + rng() % 20), "R", frac(), frac(), frac(), frac()});
        }
        Roi fast(Image::Grey(rows, cols), words);
        words.push_back("-Rno_rect");
        Roi generic(Image::Grey(rows, cols), words);
        ASSERT_TRUE(fast.roi->component(0).rectangles_only);
        ASSERT_FALSE(generic.roi->component(0).rectangles_only);
        for (int a = fast.fwd->next_tile(1); a != 0; a = fast.fwd->next_tile(0)) {
            if (fast.fwd->current_tile() > 0) {
                generic.fwd->next_tile(0);
                fast.roi->next_tile();
                generic.roi->next_tile();
            }
            for (auto [level, band] : Bands(*fast.fwd, 0))
                ASSERT_EQ(fast.Band(0, level, band), generic.Band(0, level, band))
                    << trial << " tile " << fast.fwd->current_tile() << " level " << level << " band "
                    << band;
        }
    }
}

// Every mask sample, generic path, circles and rectangles: set exactly when the synthesis of that one
// coefficient reaches a sample of a region. The 9/7 kernel is used: the 5/3 kernel's rational taps
// cancel exactly at some places inside a deep coefficient's support, where the mask (built from the
// supports) rightly counts the sample as reached.
TEST(J2kRoi, MasksMatchTheFootprintOfEverySynthesisedCoefficient)
{
    std::mt19937 rng(7);
    for (int trial = 0; trial < 12; ++trial) {
        zn::MessageRecorder rec;
        int rows = 7 + int(rng() % 10), cols = 7 + int(rng() % 10);
        std::string lev = std::to_string(1 + rng() % 3);
        std::vector<std::string> words = {
            "-Flev",     lev,    "-Fref", std::to_string(rng() % 3), std::to_string(rng() % 3),
            "-Rno_rect", "-Rrgn"};
        if (trial % 2)
            words.insert(words.end(), {"2", "C", "0.4", "0.6", "0.1"});
        else
            words.insert(words.end(), {"2", "R", "0.3", "0.5", "0.1", "0.2"});
        Roi r(Image::Grey(rows, cols), words);
        canvas_rect tc;
        r.fwd->get_tile_component_info(0, nullptr, &tc, nullptr, nullptr);
        std::vector<uint8_t> inside = rasterise_regions(r.roi->component(0).tiles[0].regions, tc);
        region_rect root;
        component_transform_setup s = transform_setup_for(*r.fwd, 0, 0, &root);
        for (auto [level, band] : Bands(*r.fwd, 0)) {
            canvas_rect br;
            r.fwd->get_band_info(0, level, band, &br, nullptr);
            std::vector<uint8_t> mask = r.Band(0, level, band);
            for (int y = 0; y < br.rows; ++y)
                for (int x = 0; x < br.cols; ++x) {
                    // Zero rows for every band but one coefficient.
                    zntest::BandRowStore store;
                    for (auto [l2, b2] : Bands(*r.fwd, 0)) {
                        canvas_rect r2;
                        r.fwd->get_band_info(0, l2, b2, &r2, nullptr);
                        for (int yy = 0; yy < r2.rows; ++yy) {
                            std::vector<float> row(size_t(r2.cols), 0.0f);
                            if (l2 == level && b2 == band && yy == y)
                                row[size_t(x)] = 1e6f;
                            store.push_float_row(row.data(), 0, l2, b2, r2.cols);
                        }
                    }
                    std::vector<int32_t> out(size_t(root.rows) * size_t(root.cols));
                    synthesise_component(s, 0, root, store, out.data());
                    bool touches = false;
                    for (size_t i = 0; i < out.size(); ++i)
                        touches = touches || (out[i] != 0 && inside[i] != 0);
                    ASSERT_EQ(mask[size_t(y) * size_t(br.cols) + size_t(x)] != 0, touches)
                        << trial << " level " << level << " band " << band << " at " << y << "," << x;
                }
        }
    }
}

// The generic masks are made line by line: blocks taken down every band together, as the block
// coders take them, leave the stages the same few rows however tall the tile is; and the masks
// equal the fast path's on the same rectangle.
TEST(J2kRoi, GenericMasksHoldRowsIndependentOfTheHeight)
{
    auto most_rows = [](int height) {
        zn::MessageRecorder rec;
        const std::vector<std::string> words = {"-Flev", "3", "-Rrgn", "5", "R", "0.2", "0.3", "0.5", "0.4"};
        std::vector<std::string> generic_words = words;
        generic_words.push_back("-Rno_rect");
        Roi fast(Image::Grey(height, 40), words), generic(Image::Grey(height, 40), generic_words);
        std::map<std::pair<int, int>, int> next;
        int most = 0;
        const int steps = height / 16;
        for (int step = 1; step <= steps; ++step)
            for (auto [level, band] : Bands(*generic.fwd, 0)) {
                canvas_rect br;
                generic.fwd->get_band_info(0, level, band, &br, nullptr);
                int &y = next[{level, band}];
                for (; y < br.rows * step / steps; y += 8) {
                    const int rows = std::min(8, br.rows - y);
                    std::vector<uint8_t *> g(static_cast<size_t>(rows)), f(static_cast<size_t>(rows));
                    int gs = 0, fs = 0;
                    const int gr =
                        generic.roi->get_block_mask(0, level, band, rows, br.cols, y, 0, &gs, g.data());
                    std::vector<uint8_t> gbytes;
                    for (int k = 0; k < rows; ++k)
                        gbytes.insert(gbytes.end(), g[size_t(k)], g[size_t(k)] + br.cols);
                    const int fr =
                        fast.roi->get_block_mask(0, level, band, rows, br.cols, y, 0, &fs, f.data());
                    EXPECT_EQ(gr, fr) << level << " " << band << " row " << y;
                    EXPECT_EQ(gs, fs) << level << " " << band << " row " << y;
                    for (int k = 0; k < rows; ++k)
                        EXPECT_EQ(std::vector<uint8_t>(f[size_t(k)], f[size_t(k)] + br.cols),
                                  std::vector<uint8_t>(gbytes.begin() + k * br.cols,
                                                       gbytes.begin() + (k + 1) * br.cols))
                            << level << " " << band << " row " << y + k;
                    most = std::max(most, generic.roi->component(0).masks.cached_rows());
                }
            }
        return most;
    };
    // Measured: 329 rows over the 19 stages at either height (the top stage holds the 89 rows that
    // one 8-row block of the deepest band reaches up to), against 1024 or 4096 at the top alone for
    // whole-plane masks.
    const int short_tile = most_rows(1024), tall_tile = most_rows(4096);
    RecordProperty("rows_1024", short_tile);
    RecordProperty("rows_4096", tall_tile);
    EXPECT_LE(tall_tile, short_tile + 8);
    EXPECT_LT(short_tile, 400);
}

// The decoder rebuilds the same masks from the code-stream, also with resolution levels discarded;
// with the max-shift method it hands out no mask and the boost.
TEST(J2kRoi, TheDecoderRebuildsTheMasks)
{
    zntest::ScratchDir dir;
    struct Case
    {
        std::vector<std::string> words;
        int discarded;
    } cases[] = {
        {{"-Flev", "3", "-Rrgn", "6", "R", "0.1", "0.2", "0.3", "0.4", "2", "C", "0.7", "0.7", "0.2"}, 0},
        {{"-Flev", "3", "-Rrgn", "6", "R", "0.1", "0.2", "0.3", "0.4"}, 2},
        {{"-Flev", "2", "-Ftiles", "20", "20", "-Rrgn", "3", "R", "0.5", "0.5", "0.5", "0.5", "-Rrgn+1", "9",
          "C", "0.5", "0.5", "0.3"},
         0},
    };
    for (const Case &c : cases) {
        zn::MessageRecorder rec;
        J2kRun run;
        j2ktest::Args args(c.words);
        auto out = create_stream_out();
        out->initialize(1 << 20, dir.File("d.j2c").c_str(), args.line.get());
        auto fwd = j2ktest::MakeForward(Image::Grey(37, 41), args.line.get(), out.get());
        auto enc = create_roi_encoder();
        j2ktest::WriteInfoStream(*fwd, *out, args.line.get(),
                                 [&] { enc->initialize(1, fwd.get(), out.get(), args.line.get()); });
        auto in = create_stream_in();
        in->initialize(dir.File("d.j2c").c_str());
        auto rev = create_reverse_info();
        rev->initialize(1, in.get(), nullptr);
        auto dec = create_roi_decoder();
        dec->initialize(c.discarded, 1, rev.get(), in.get(), nullptr);
        fwd->next_tile(1);
        for (int a = 1; a != 0; a = fwd->next_tile(0)) {
            if (fwd->current_tile() > 0) {
                rev->next_tile(0);
                enc->next_tile();
                dec->next_tile();
            }
            EXPECT_EQ(dec->get_boost(0, 0, 0, nullptr), enc->get_boost(0, 0, 0, nullptr, nullptr));
            int levels = fwd->get_tile_component_info(0, nullptr, nullptr, nullptr, nullptr);
            for (auto [level, band] : Bands(*fwd, 0)) {
                if (level > levels - c.discarded)
                    continue;
                canvas_rect br;
                fwd->get_band_info(0, level, band, &br, nullptr);
                std::vector<uint8_t *> e(size_t(br.rows) + 1), d(size_t(br.rows) + 1);
                int es = 0, ds = 0;
                int er = enc->get_block_mask(0, level, band, br.rows, br.cols, 0, 0, &es, e.data());
                std::vector<uint8_t> ebytes;
                for (int y = 0; y < br.rows && er >= 0; ++y)
                    ebytes.insert(ebytes.end(), e[size_t(y)], e[size_t(y)] + br.cols);
                int dr = dec->get_block_mask(0, level, band, br.rows, br.cols, 0, 0, &ds, d.data());
                EXPECT_EQ(dr, er);
                EXPECT_EQ(ds, es);
                for (int y = 0; y < br.rows && dr > 0; ++y)
                    EXPECT_EQ(std::vector<uint8_t>(d[size_t(y)], d[size_t(y)] + br.cols),
                              std::vector<uint8_t>(ebytes.begin() + y * br.cols,
                                                   ebytes.begin() + (y + 1) * br.cols));
            }
        }
    }
    // Max-shift: one boost, no geometry.
    zn::MessageRecorder rec;
    J2kRun run;
    j2ktest::Args args({"-Frev", "-Flev", "2", "-Rmax_shift", "-Rrgn", "30", "R", "0", "0", "0.5", "0.5"});
    auto out = create_stream_out();
    out->initialize(1 << 20, dir.File("m.j2c").c_str(), args.line.get());
    auto fwd = j2ktest::MakeForward(Image::Grey(16, 16), args.line.get(), out.get());
    auto enc = create_roi_encoder();
    j2ktest::WriteInfoStream(*fwd, *out, args.line.get(),
                             [&] { enc->initialize(1, fwd.get(), out.get(), args.line.get()); });
    auto in = create_stream_in();
    in->initialize(dir.File("m.j2c").c_str());
    EXPECT_EQ(in->marker_elt_count(-1, elt::RegionBoosts, 0), 1);
    EXPECT_EQ(in->marker_elt_count(-1, elt::RectRegions, 0), 0);
    auto rev = create_reverse_info();
    rev->initialize(1, in.get(), nullptr);
    auto dec = create_roi_decoder();
    dec->initialize(0, 1, rev.get(), in.get(), nullptr);
    int max_shift = 0, shift = -1;
    EXPECT_EQ(dec->get_boost(0, 0, 0, &max_shift), 30);
    EXPECT_EQ(max_shift, 1);
    uint8_t *rows[2] = {reinterpret_cast<uint8_t *>(1), reinterpret_cast<uint8_t *>(1)};
    EXPECT_EQ(dec->get_block_mask(0, 1, 1, 2, 2, 0, 0, &shift, rows), 30);
    EXPECT_EQ(rows[0], nullptr);
    EXPECT_EQ(shift, 0);
}

// A signalled boost of 32 or more would shift samples out of their word: the decoder takes 31.
TEST(J2kRoi, TheDecoderClampsBoostsBeyondTheSampleWord)
{
    zntest::ScratchDir dir;
    zn::MessageRecorder rec;
    J2kRun run;
    j2ktest::Args args({"-Flev", "1"});
    auto out = create_stream_out();
    out->initialize(1 << 20, dir.File("c.j2c").c_str(), args.line.get());
    auto fwd = j2ktest::MakeForward(Image::Grey(16, 16), args.line.get(), out.get());
    j2ktest::WriteInfoStream(*fwd, *out, args.line.get(), [&] {
        j2ktest::Declare(*out, -1, elt::RegionBoosts, 0, 8, {40, 200});
        j2ktest::Declare(*out, -1, elt::RectRegions, 0, 32, {0, 0, 3, 3, 4, 4, 9, 9});
    });
    auto in = create_stream_in();
    in->initialize(dir.File("c.j2c").c_str());
    auto rev = create_reverse_info();
    rev->initialize(1, in.get(), nullptr);
    auto dec = create_roi_decoder();
    dec->initialize(0, 1, rev.get(), in.get(), nullptr);
    EXPECT_EQ(dec->get_boost(0, 0, 0, nullptr), kMaxRoiBoost);
    uint8_t *rows[8];
    int shift = -1;
    EXPECT_EQ(dec->get_block_mask(0, 0, 0, 8, 8, 0, 0, &shift, rows), kMaxRoiBoost);
    EXPECT_EQ(shift, 0);
}

TEST(J2kRoi, RefusedOptions)
{
    struct Case
    {
        std::vector<std::string> words;
        const char *start;
    } cases[] = {
        {{"-Ralign", "Y"}, "The `-Ralign' argument takes no parameters!"},
        {{"-Rno_rect", "1"}, "The `-Rno_rect' argument takes no parameters!"},
        {{"-Rrgn", "0", "R", "0", "0", "1", "1"}, "The `-Rrgn' argument requires positive region boost"},
        {{"-Rrgn", "x"}, "The `-Rrgn' argument requires positive region boost"},
        {{"-Rrgn", "2", "Q"}, "requires a single `R' or `C' character"},
        {{"-Rrgn", "2", "R", "0", "0", "1"}, "requires four relative location and dimension parameters"},
        {{"-Rrgn", "2", "R", "0", "0", "1", "1.5"},
         "requires four relative location and dimension parameters"},
        {{"-Rrgn", "2", "C", "0", "0"}, "requires three relative location and radius parameters"},
        {{"-Rrgn", "32", "C", "0", "0", "0.1"}, "accepts region boosts up to 31"},
        {{"-Rmax_shift", "X", "-Rrgn", "9", "C", "0", "0", "0.1"},
         "The `-max-shift' argument takes zero or more"},
        {{"-Rmax_shift", "-Rrgn", "20", "C", "0", "0", "0.1", "21", "R", "0", "0", "1", "1"},
         "You cannot have multiple regions with different boosts!"},
        {{"-Rmax_shift", "-Rrgn", "3", "C", "0", "0", "0.1"},
         "it is necessary to use a boost value of at least"},
    };
    for (const Case &c : cases) {
        zn::MessageRecorder rec;
        try {
            Roi r(Image::Grey(32, 32), c.words);
            ADD_FAILURE() << c.start << ": accepted";
        } catch (const zn::RunAborted &) {
        }
        EXPECT_TRUE(j2ktest::Showed(rec, c.start)) << c.start << "\nshown: " << j2ktest::ShownText(rec);
    }
}

} // namespace region_of_interest_test
