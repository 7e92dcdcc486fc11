// Progression orders: the published sequences, progression changes, the refusals, and every packet
// exactly once over random tiles, orders and changes.
#include "jpeg2000/support/tier2_fixture.h"

#include "jpeg2000/packet_sequence.h"

#include "platform/errors.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace packet_sequence_test { // one namespace per test file: a folder compiles as one source

using namespace zn::j2k;

namespace {
// Precincts A and B at level 0 and C at level 1 of one component.
sequence_input SmallTile(int layers, int order)
{
    sequence_input in;
    in.layers = layers;
    in.order = order;
    in.tile = enc_rect{8, 8, 0, 0};
    sequence_component c;
    c.levels = {sequence_level{2, 1, 1, 2, 0}, sequence_level{1, 1, 3, 3, 2}};
    in.components.push_back(c);
    in.precincts = {{0, 0, 0}, {4, 0, 0}, {0, 0, 0}};
    return in;
}

std::vector<std::pair<int, char>> Named(const std::vector<packet_entry> &seq)
{
    std::vector<std::pair<int, char>> out;
    for (const packet_entry &e : seq)
        out.push_back({e.layer, char('A' + e.precinct)});
    return out;
}

using Seq = std::vector<std::pair<int, char>>;
} // namespace

TEST(J2kPacketSequence, LayerOrdersGiveThePublishedSequences)
{
    auto lrcp = SmallTile(2, 0);
    EXPECT_EQ(Named(build_packet_sequence(lrcp)),
              (Seq{{0, 'A'}, {0, 'B'}, {0, 'C'}, {1, 'A'}, {1, 'B'}, {1, 'C'}}));
    auto rlcp = SmallTile(2, 1);
    EXPECT_EQ(Named(build_packet_sequence(rlcp)),
              (Seq{{0, 'A'}, {0, 'B'}, {1, 'A'}, {1, 'B'}, {0, 'C'}, {1, 'C'}}));
}

TEST(J2kPacketSequence, AChangePlacesItsBoxFirst)
{
    // Layers 0..2 of level 0 first (in RLCP), then everything else in LRCP.
    auto in = SmallTile(4, 1);
    in.changes.push_back(progression_change{0, 0, 3, 1, 1, 0});
    EXPECT_EQ(Named(build_packet_sequence(in)), (Seq{{0, 'A'},
                                                     {0, 'B'},
                                                     {1, 'A'},
                                                     {1, 'B'},
                                                     {2, 'A'},
                                                     {2, 'B'},
                                                     {0, 'C'},
                                                     {1, 'C'},
                                                     {2, 'C'},
                                                     {3, 'A'},
                                                     {3, 'B'},
                                                     {3, 'C'}}));
}

TEST(J2kPacketSequence, SpatialOrdersNeedPowerOfTwoSubsampling)
{
    zn::MessageRecorder recorder;
    for (int order : {2, 3, 4}) {
        J2kRun run;
        auto in = SmallTile(1, order);
        in.components[0].sub_x = 3;
        if (order == 4) {
            EXPECT_NO_THROW(build_packet_sequence(in));
        } else {
            EXPECT_THROW(build_packet_sequence(in), zn::RunAborted) << order;
        }
    }
    EXPECT_NE(j2ktest::JoinedText(recorder).find(
                  "Cannot use packet progressions where spatial progression dominates "
                  "component progression unless component sub-sampling factors are "
                  "exact powers of 2!"),
              std::string::npos);
    J2kRun run;
    auto in = SmallTile(1, 4);
    in.overlap = true;
    EXPECT_THROW(build_packet_sequence(in), zn::RunAborted);
    EXPECT_NE(j2ktest::JoinedText(recorder).find(
                  "Spatially oriented packet progressions not defined for overlapping "
                  "tiles!"),
              std::string::npos);
}

TEST(J2kPacketSequence, SpatialOrdersVisitPositionsBeforeLevels)
{
    // Two levels of one component, 64 x 64 tile, precincts of 16 (level 1) and 8 (level 0) in level
    // coordinates: each covers 16 x 16 reference samples. RPCL walks level 0 first; PCRL takes both
    // levels at each position.
    sequence_input in;
    in.layers = 1;
    in.tile = enc_rect{32, 32, 0, 0};
    sequence_component c;
    c.levels = {sequence_level{2, 2, 3, 3, 0}, sequence_level{2, 2, 4, 4, 4}};
    in.components.push_back(c);
    for (int level = 0; level < 2; ++level)
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 2; ++x)
                in.precincts.push_back({16 * x, 16 * y, 0});
    in.order = 2;
    auto rpcl = build_packet_sequence(in);
    std::vector<int> got;
    for (auto &e : rpcl)
        got.push_back(e.precinct);
    EXPECT_EQ(got, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));
    in.order = 3;
    auto pcrl = build_packet_sequence(in);
    got.clear();
    for (auto &e : pcrl)
        got.push_back(e.precinct);
    EXPECT_EQ(got, (std::vector<int>{0, 4, 1, 5, 2, 6, 3, 7}));
}

TEST(J2kPacketSequence, EveryPacketExactlyOnceInEveryOrder)
{
    std::mt19937 rng(17);
    for (int trial = 0; trial < 300; ++trial) {
        sequence_input in;
        in.layers = 1 + int(rng() % 4);
        in.tile = enc_rect{1 + int(rng() % 200), 1 + int(rng() % 200), int(rng() % 50), int(rng() % 50)};
        in.order = int(rng() % 5);
        const int components = 1 + int(rng() % 3);
        for (int ci = 0; ci < components; ++ci) {
            sequence_component c;
            c.sub_x = 1 << (rng() % 2);
            c.sub_y = 1 << (rng() % 2);
            const int L = int(rng() % 4);
            for (int r = 0; r <= L; ++r) {
                sequence_level lv;
                lv.ppx = 2 + int(rng() % 4);
                lv.ppy = 2 + int(rng() % 4);
                // Precincts as the partition makes them: anchored at 0 in level coordinates.
                const int scale = 1 << (L - r);
                const int lx0 = (in.tile.x0 + c.sub_x * scale - 1) / (c.sub_x * scale);
                const int ly0 = (in.tile.y0 + c.sub_y * scale - 1) / (c.sub_y * scale);
                const int lx1 = (in.tile.x0 + in.tile.width + c.sub_x * scale - 1) / (c.sub_x * scale);
                const int ly1 = (in.tile.y0 + in.tile.height + c.sub_y * scale - 1) / (c.sub_y * scale);
                const int ex = lx0 % (1 << lv.ppx), ey = ly0 % (1 << lv.ppy);
                lv.precincts_across = std::max(1, (lx1 - lx0 + ex - 1) / (1 << lv.ppx) + 1);
                lv.precincts_down = std::max(1, (ly1 - ly0 + ey - 1) / (1 << lv.ppy) + 1);
                lv.first_precinct = int(in.precincts.size());
                for (int py = 0; py < lv.precincts_down; ++py)
                    for (int px = 0; px < lv.precincts_across; ++px) {
                        int x = px == 0 ? lx0 : (lx0 - ex) + px * (1 << lv.ppx);
                        int y = py == 0 ? ly0 : (ly0 - ey) + py * (1 << lv.ppy);
                        in.precincts.push_back({x * c.sub_x * scale, y * c.sub_y * scale, 0});
                    }
                c.levels.push_back(lv);
            }
            in.components.push_back(c);
        }
        const int changes = int(rng() % 3);
        for (int k = 0; k < changes; ++k)
            in.changes.push_back(progression_change{int(rng() % 3), int(rng() % 2), 1 + int(rng() % 4),
                                                    1 + int(rng() % 4), 1 + int(rng() % 3), int(rng() % 5)});
        auto seq = build_packet_sequence(in);
        ASSERT_EQ(seq.size(), in.precincts.size() * size_t(in.layers)) << "trial " << trial;
        std::set<std::pair<int, int>> seen;
        std::map<int, int> next_layer;
        for (const packet_entry &e : seq) {
            ASSERT_TRUE(seen.insert({e.precinct, e.layer}).second) << "trial " << trial;
            ASSERT_EQ(e.layer, next_layer[e.precinct]++) << "layers of a precinct in order, trial " << trial;
        }
    }
}

} // namespace packet_sequence_test
