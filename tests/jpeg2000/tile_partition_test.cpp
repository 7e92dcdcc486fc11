// Tiles on the reference grid, the resolution regions of a tile-component, and perfect
// reconstruction of a tiled image, tile by tile.
#include "jpeg2000/support/band_row_store.h"
#include "jpeg2000/tile_partition.h"
#include "platform/errors.h"
#include "platform/messages.h"

#include <gtest/gtest.h>

#include <random>

namespace tile_partition_test { // one namespace per test file: a folder compiles as one source

using namespace zn::j2k;

TEST(J2kTiles, SixtyFourSquareTilesOnAHundredByOneFifty)
{
    canvas_tiling c;
    c.height = 100;
    c.width = 150;
    c.tile_height = c.tile_width = 64;
    tile_partition p = build_tile_partition(c);
    EXPECT_EQ(p.rows, 2);
    EXPECT_EQ(p.columns, 3);
    ASSERT_EQ(p.tiles.size(), 6u);
    EXPECT_EQ(p.tiles[5].height, 36);
    EXPECT_EQ(p.tiles[5].width, 22);
    EXPECT_EQ(p.tiles[5].y0, 64);
    EXPECT_EQ(p.tiles[5].x0, 128);
    EXPECT_EQ(p.tiles[4].row, 1);
    EXPECT_EQ(p.tiles[4].column, 1);
    // Without tiling one tile covers the image.
    c.tile_height = c.tile_width = 0;
    c.top = 3;
    c.left = 5;
    p = build_tile_partition(c);
    ASSERT_EQ(p.tiles.size(), 1u);
    EXPECT_EQ(p.tiles[0].height, 100);
    EXPECT_EQ(p.tiles[0].y0, 3);
}

TEST(J2kTiles, BadGeometryEndsTheRun)
{
    struct Case
    {
        canvas_tiling c;
        const char *message;
    } cases[] = {
        {{-1, 0, 10, 10, 0, 0, 0, 0}, "The `-Fref' argument requires"},
        {{0, 0, 10, 10, -4, 4, 0, 0}, "The `-Ftiles' argument requires positive"},
        {{0, 0, 10, 10, 4, 4, -1, 0}, "The `-Ftile_ref' argument requires"},
        {{2, 2, 10, 10, 4, 4, 3, 0}, "The tiling reference point must lie between"},
        {{9, 0, 10, 10, 4, 4, 0, 0}, "displaced so far from the origin"},
        {{0, 0, 0, 10, 4, 4, 0, 0}, "The image has no samples"},
        {{0, 0, 100000, 100000, 1, 1, 0, 0}, "Too many tiles"},
    };
    for (const Case &k : cases) {
        zn::MessageRecorder rec;
        try {
            build_tile_partition(k.c);
            ADD_FAILURE() << k.message;
        } catch (const zn::RunAborted &e) {
            EXPECT_NE(std::string(e.what()).find(k.message), std::string::npos) << e.what();
        }
    }
}

// The resolution regions by ceiling division equal the low-low children of the transform.
TEST(J2kTiles, LevelRegionsMatchTheLowLowChildren)
{
    std::mt19937 rng(4);
    for (int trial = 0; trial < 200; ++trial) {
        region_rect full{int(rng() % 40) + 1, int(rng() % 40) + 1, int(rng() % 70), int(rng() % 70)};
        int levels = int(rng() % 7);
        region_rect child = full;
        for (int level = levels; level >= 0; --level) {
            region_rect r = level_region(full, levels, level);
            EXPECT_EQ(r.rows, child.rows);
            EXPECT_EQ(r.cols, child.cols);
            EXPECT_EQ(r.first_row, child.first_row);
            EXPECT_EQ(r.first_col, child.first_col);
            child = child_region(child, 0, 0);
        }
    }
}

// Every tile of an offset, tiled image comes back exactly from the reversible transform.
TEST(J2kTiles, TiledImageReconstructsPerfectly)
{
    wavelet_kernel k;
    k.type = kKernelIntLifting;
    load_kernel("W5X3", nullptr, k);
    canvas_tiling c{3, 5, 45, 38, 16, 20, 1, 2};
    tile_partition p = build_tile_partition(c);
    std::mt19937 rng(6);
    for (const tile_info &t : p.tiles) {
        component_transform_setup s;
        s.reversible = true;
        s.levels = 3;
        s.vertical = s.horizontal = &k;
        region_rect r{t.height, t.width, t.y0, t.x0};
        std::vector<int32_t> in(static_cast<size_t>(t.height * t.width)), out(in.size());
        for (auto &v : in)
            v = int32_t(rng() % 256) - 128;
        zntest::BandRowStore store;
        analyse_component(s, 0, r, in.data(), store);
        synthesise_component(s, 0, r, store, out.data());
        EXPECT_EQ(out, in) << "tile " << t.index;
    }
}

} // namespace tile_partition_test
