// Every marker element survives the writer, the file and the reader: main and tile scopes, standard
// segments and packed premarker groups, long value lists and many components.
#include "jpeg2000/support/j2k_elements.h"

#include "jpeg2000/command_line.h"
#include "jpeg2000/local_services.h"
#include "jpeg2000/stream_in.h"
#include "jpeg2000/stream_out.h"

#include "platform/messages.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <tuple>

namespace stream_roundtrip_test { // one namespace per test file: a folder compiles as one source

using namespace zn::j2k;

namespace {
struct Declaration
{
    int tile;
    const char *description;
    int instance;
    int precision;
    std::vector<int32_t> values;
};

struct Scenario
{
    int components = 1;
    int tiles = 1;
    std::vector<Declaration> decls;
};

int32_t Random(std::mt19937 &rng, int precision, bool allow_negative)
{
    if (precision >= 32)
        return allow_negative ? int32_t(rng()) : int32_t(rng() & 0x7FFFFFFF);
    return int32_t(rng() & ((1u << precision) - 1));
}

std::vector<int32_t> Values(std::mt19937 &rng, int n, int precision, bool negative = false)
{
    std::vector<int32_t> v;
    for (int i = 0; i < n; ++i)
        v.push_back(Random(rng, precision, negative));
    return v;
}

// Declarations for one scope. Precisions follow the kind of value; which ones fit standard segments
// and which travel packed is up to the writer.
void ScopeDeclarations(std::mt19937 &rng, Scenario &s, int tile, bool part2, bool long_lists)
{
    auto add = [&](const char *d, int inst, int prec, std::vector<int32_t> v) {
        s.decls.push_back({tile, d, inst, prec, std::move(v)});
    };
    if (tile < 0) {
        add(elt::XSiz, 0, 32, {int32_t(rng() % 100000 + 1)});
        add(elt::YSiz, 0, 32, {int32_t(rng() % 100000 + 1)});
        add(elt::XOSiz, 0, 32, {int32_t(rng() % 100)});
        add(elt::YOSiz, 0, 32, {int32_t(rng() % 100)});
        add(elt::XTSiz, 0, 32, {int32_t(rng() % 1000 + 1)});
        add(elt::YTSiz, 0, 32, {int32_t(rng() % 1000 + 1)});
        add(elt::XTOSiz, 0, 32, {0});
        add(elt::YTOSiz, 0, 32, {0});
        add(elt::CSiz, 0, 16, {s.components});
        std::vector<int32_t> prec;
        for (int c = 0; c < s.components; ++c)
            prec.push_back(int32_t(rng() % 16 + 1 + (rng() % 2 ? 128 : 0)));
        add(elt::Precision, 0, 8, prec);
        add(elt::HorizontalSubsampling, 0, 8, Values(rng, s.components, 2));
        add(elt::VerticalSubsampling, 0, 8, Values(rng, s.components, 2));
    }
    if (tile < 0 || rng() % 2) {
        add(elt::Layers, 0, 16, {int32_t(rng() % 65535 + 1)});
        add(elt::Progression, 0, 8, {int32_t(rng() % 5)});
        add(elt::Mct, 0, 1, {int32_t(rng() % 2)});
        add(elt::QuantizationType, 0, 8, {rng() % 4 == 0 ? 2 : 0});
    }
    for (int c = 0; c < s.components; ++c) {
        if (tile >= 0 && rng() % 3 != 0)
            continue; // most tile components follow the main header
        int levels = int(rng() % 8);
        add(elt::Levels, c, 8, {levels});
        add(elt::Reversible, c, 1, {int32_t(rng() % 2)});
        add(elt::Xcb, c, 4, {int32_t(rng() % 5 + 2)});
        add(elt::Ycb, c, 4, {int32_t(rng() % 5 + 2)});
        add(elt::CoderFlags, c, 8, Values(rng, 1, 6));
        if (rng() % 3 == 0) {
            add(elt::Ppx, c, 4, Values(rng, levels + 1, 4));
            add(elt::Ppy, c, 4, Values(rng, levels + 1, 4));
        }
        if (part2 && rng() % 4 == 0) {
            add(elt::DecompositionStructure, c, 8, Values(rng, levels, 2));
            add(elt::KernelTaps, c, 32, Values(rng, long_lists ? 300 : 9, 32, true));
            add(elt::KernelSupports, c, 16, Values(rng, 4, 16));
            add(elt::SsoExtension, c, 1, {1});
        }
        add(elt::GuardBits, c, 3, {int32_t(rng() % 8)});
        int bands = 3 * levels + 1;
        if (rng() % 2)
            add(elt::ReversibleRanges, c, 5, Values(rng, long_lists ? 260 : bands, 5));
        else
            add(elt::StepParams, c, 16, Values(rng, long_lists ? 270 : (rng() % 2 ? 1 : bands), 16));
        if (rng() % 3 == 0) {
            add(elt::RegionBoosts, c, 8, {int32_t(rng() % 255 + 1)});
            if (part2 && rng() % 2) {
                add(elt::RectRegions, c, 16, Values(rng, 8, 16));
                add(elt::CircularRegions, c, 16, Values(rng, 3, 16));
            }
        }
    }
    if (rng() % 2) {
        std::vector<int32_t> changes;
        int n = int(rng() % 3) + 1;
        for (int i = 0; i < n; ++i)
            for (int prec : {8, 16, 16, 8, 16, 3})
                changes.push_back(Random(rng, prec, false) % (prec == 16 ? 600 : 256));
        add(elt::ProgressionChanges, 0, 16, changes);
    }
    if (part2 && rng() % 3 == 0) {
        add(elt::Xcl, 0, 8, Values(rng, 1, 8));
        add(elt::Overlap, 0, 2, Values(rng, 1, 2));
    }
}

Scenario RandomScenario(uint32_t seed, int components, bool part2, bool long_lists)
{
    std::mt19937 rng(seed);
    Scenario s;
    s.components = components;
    s.tiles = int(rng() % 4) + 1;
    ScopeDeclarations(rng, s, -1, part2, long_lists);
    for (int t = 0; t < s.tiles; ++t)
        if (rng() % 2)
            ScopeDeclarations(rng, s, t, part2, false);
    return s;
}

// Writes the scenario with one packet per tile; returns the file's bytes.
std::vector<uint8_t> Write(const Scenario &s, const std::string &path, std::vector<const char *> words = {})
{
    std::vector<const char *> argv = {"prog"};
    argv.insert(argv.end(), words.begin(), words.end());
    auto args = create_command_line();
    args->parse(int(argv.size()), argv.data());
    auto out = create_stream_out();
    out->initialize(1 << 30, path.c_str(), args.get());
    for (const auto &d : s.decls)
        j2ktest::Declare(*out, d.tile, d.description, d.instance, d.precision, d.values);
    out->write_global_header();
    for (int t = 0; t < s.tiles; ++t) {
        int header = out->start_tile(t, 1, 0);
        const uint8_t head[2] = {0x80, uint8_t(t)}, body[3] = {1, 2, 3};
        out->start_packet(0, 2, 3, 1, 1);
        out->put_head_bytes(head, 2);
        out->put_body_bytes(body, 3);
        int packet = out->end_packet();
        out->start_tile(t, 0, header + packet);
        out->start_packet(0, 2, 3, 1, 0);
        out->put_head_bytes(head, 2);
        out->put_body_bytes(body, 3);
        out->end_packet();
    }
    out->terminate();
    args->terminate(1);
    return zntest::ReadFileBytes(path);
}

// Expected values as the encoder's objects would read them back: a tile's own declaration, else the
// main header's.
void CheckAll(const Scenario &s, stream_in &in)
{
    std::map<std::tuple<int, std::string, int>, const Declaration *> by_key;
    for (const auto &d : s.decls)
        by_key[{d.tile, d.description, d.instance}] = &d;
    for (const auto &d : s.decls) {
        if (d.values.empty())
            continue;
        for (int tile : d.tile < 0 ? std::vector<int>{-1, 0, s.tiles - 1} : std::vector<int>{d.tile}) {
            auto it = by_key.find({tile, d.description, d.instance});
            const Declaration *want = it != by_key.end() ? it->second : &d;
            if (tile >= 0 && it == by_key.end() && d.tile >= 0)
                continue;
            ASSERT_EQ(in.marker_elt_count(tile, d.description, d.instance), int(want->values.size()))
                << ElementText(d.description) << " tile " << tile << " instance " << d.instance;
            for (size_t i = 0; i < want->values.size(); ++i)
                ASSERT_EQ(in.get_marker_val(tile, d.description, d.instance, int(i)), want->values[i])
                    << ElementText(d.description) << " tile " << tile << " instance " << d.instance
                    << " value " << i;
        }
    }
}

void RoundTrip(const Scenario &s, std::vector<const char *> words = {})
{
    zn::MessageRecorder rec; // premarker warnings are expected here
    J2kRun run;
    zntest::ScratchDir dir;
    std::string path = dir.File("rt.jp2");
    Write(s, path, words);
    auto in = create_stream_in();
    in->initialize(path.c_str());
    CheckAll(s, *in);
    // The packets come back in order, one per tile.
    for (int t = 0; t < s.tiles; ++t) {
        int tile = -1, header = 0;
        ASSERT_EQ(in->start_packet(&tile, &header), 1);
        EXPECT_EQ(tile, t);
        uint8_t buf[8] = {};
        EXPECT_EQ(in->get_head_bytes(buf, 2), 2);
        EXPECT_EQ(buf[1], t);
        EXPECT_EQ(in->get_body_bytes(buf, 8), 3);
        int last = 0, bytes = 0;
        in->end_packet(&last, &bytes);
        EXPECT_EQ(last, 1);
    }
    int tile = 0;
    EXPECT_EQ(in->start_packet(&tile, nullptr), 0);
    EXPECT_EQ(tile, -1);
    in->terminate();
}
} // namespace

TEST(J2kStreamRoundTrip, EveryVocabularyElementSurvivesInMainAndTileScopes)
{
    for (uint32_t seed = 1; seed <= 40; ++seed) {
        SCOPED_TRACE(seed);
        RoundTrip(RandomScenario(seed, int(seed % 4) + 1, seed % 2 == 0, false));
        if (HasFatalFailure())
            return;
    }
}

TEST(J2kStreamRoundTrip, LongValueListsAndPremarkerGroups)
{
    for (uint32_t seed = 100; seed < 110; ++seed) {
        SCOPED_TRACE(seed);
        RoundTrip(RandomScenario(seed, 2, true, true));
        if (HasFatalFailure())
            return;
    }
}

TEST(J2kStreamRoundTrip, ThreeHundredComponents)
{
    for (uint32_t seed : {7u, 8u}) {
        SCOPED_TRACE(seed);
        RoundTrip(RandomScenario(seed, 300, seed == 8, false), {"-Bresync", "-Beph"});
        if (HasFatalFailure())
            return;
    }
}

TEST(J2kStreamRoundTrip, EveryVocabularyEntryIsDistinctAndBelowTheIdLimit)
{
    std::set<std::pair<int, int>> seen;
    for (int i = 0; i < kMarkerVocabularySize; ++i) {
        const char *d = kMarkerVocabulary[i];
        EXPECT_LT(ElementId(d), 0x40) << ElementText(d);
        EXPECT_TRUE(seen.insert({ElementMarker(d), ElementId(d)}).second) << ElementText(d);
    }
    EXPECT_EQ(kMarkerVocabularySize, 45);
}

} // namespace stream_roundtrip_test
