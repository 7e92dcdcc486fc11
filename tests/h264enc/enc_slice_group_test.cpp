// The encoder's slice-group map: one group in raster order, the dispersed and box maps, the map types
// that are not generated, and the evolving maps growing by the change rate per picture.
#include "h264enc/slice_group_map.h"
#include "platform/messages.h"

#include <gtest/gtest.h>

#include <numeric>

namespace enc_slice_group_test { // one namespace per test file: a folder compiles as one source

namespace {

namespace enc = h264enc;

TEST(SliceGroupMap, OneGroupQcif)
{
    enc::EncoderFmo f;
    enc::h264enc_fmo_init(f, 11, 9, {});
    EXPECT_EQ(f.map.units, 99);
    EXPECT_EQ(std::count(f.map.MBAmap.begin(), f.map.MBAmap.end(), 0), 99);
    enc::h264enc_fmo_start_picture(f);
    EXPECT_EQ(enc::h264enc_fmo_slice_start(f, 0), 0);
    EXPECT_EQ(enc::h264enc_fmo_next_mb(f, 97), 98);
    EXPECT_EQ(enc::h264enc_fmo_next_mb(f, 98), -1);
    EXPECT_EQ(enc::h264enc_fmo_last_mb(f, 0), 98);
    EXPECT_EQ(enc::h264enc_fmo_first_mb(f, 1), -1);
    EXPECT_EQ(enc::h264enc_fmo_group_done(f, 0), 0);
    EXPECT_EQ(enc::h264enc_fmo_set_slice_end(f, 98), -1);
    EXPECT_EQ(enc::h264enc_fmo_group_done(f, 0), 1);
    EXPECT_EQ(enc::slice_group_picture_done(), 0);
    enc::h264enc_fmo_start_picture(f);
    EXPECT_EQ(enc::h264enc_fmo_slice_start(f, 0), 0);
    EXPECT_EQ(slice_group_of_mb(f.map, 50), 0);
    // A field picture walks only the first half of the map.
    f.field_picture = true;
    EXPECT_EQ(enc::h264enc_fmo_next_mb(f, 48), -1);
}

TEST(SliceGroupMap, DispersedRowsAlternate)
{
    enc::EncoderFmo f;
    enc::FmoSettings s;
    s.num_slice_groups_minus1 = 1;
    s.type = 1;
    enc::h264enc_fmo_init(f, 4, 3, s);
    EXPECT_EQ(f.map.MBAmap, std::vector<int>({1, 0, 1, 0, 0, 1, 0, 1, 1, 0, 1, 0}));
    enc::h264enc_fmo_start_picture(f);
    EXPECT_EQ(enc::h264enc_fmo_slice_start(f, 0), 1);
    EXPECT_EQ(enc::h264enc_fmo_next_mb(f, 1), 3);
    EXPECT_EQ(enc::h264enc_fmo_next_mb(f, 3), 4);
    EXPECT_EQ(enc::h264enc_fmo_slice_start(f, 1), 0);
}

TEST(SliceGroupMap, BoxIncludesItsBorders)
{
    enc::EncoderFmo f;
    enc::FmoSettings s;
    s.num_slice_groups_minus1 = 1;
    s.type = 3;
    s.top_left_mb = 6;      // column 1, row 1 of a 5-wide map
    s.bottom_right_mb = 13; // column 3, row 2
    enc::h264enc_fmo_init(f, 5, 4, s);
    const std::vector<int> expect = {1, 1, 1, 1, 1, 1, 0, 0, 0, 1, 1, 0, 0, 0, 1, 1, 1, 1, 1, 1};
    EXPECT_EQ(f.map.MBAmap, expect);
}

TEST(SliceGroupMap, UngeneratedAndUnknownTypesEndTheRun)
{
    for (int type : {0, 2, 7}) {
        zn::MessageRecorder rec;
        enc::EncoderFmo f;
        enc::FmoSettings s;
        s.num_slice_groups_minus1 = 1;
        s.type = type;
        try {
            enc::h264enc_fmo_init(f, 11, 9, s);
            FAIL() << type;
        } catch (const H264FatalError &e) {
            EXPECT_EQ(e.ExitCode(), -1);
        }
        EXPECT_EQ(rec.Count(), 1u);
    }
}

TEST(SliceGroupMap, EvolvingMapsGrowByTheChangeRateAndStartOver)
{
    for (int type : {4, 5, 6}) {
        for (int dir : {0, 1}) {
            enc::EncoderFmo f;
            enc::FmoSettings s;
            s.num_slice_groups_minus1 = 1;
            s.type = type;
            s.change_direction = dir;
            s.change_rate = 4; // five macroblocks per picture
            enc::h264enc_fmo_init(f, 11, 9, s);
            EXPECT_EQ(std::count(f.map.MBAmap.begin(), f.map.MBAmap.end(), 0), 0);
            std::vector<int> previous = f.map.MBAmap;
            for (int pic = 1; pic <= 20; ++pic) {
                enc::h264enc_fmo_update(f);
                const int inGroup0 =
                    static_cast<int>(std::count(f.map.MBAmap.begin(), f.map.MBAmap.end(), 0));
                EXPECT_EQ(inGroup0, std::min(5 * pic, 99)) << type << " " << dir << " " << pic;
                // Growth only: a macroblock in group 0 stays there.
                for (size_t i = 0; i < previous.size(); ++i) {
                    if (previous[i] == 0) {
                        ASSERT_EQ(f.map.MBAmap[i], 0);
                    }
                }
                previous = f.map.MBAmap;
            }
            enc::h264enc_fmo_update(f); // the map was complete: start over
            EXPECT_EQ(std::count(f.map.MBAmap.begin(), f.map.MBAmap.end(), 0), 5);
        }
    }
}

TEST(SliceGroupMap, EvolvingMapShapes)
{
    enc::FmoSettings s;
    s.num_slice_groups_minus1 = 1;
    s.change_rate = 2;
    enc::EncoderFmo f;
    // Raster from the first macroblock, and back from the last.
    s.type = 5;
    enc::h264enc_fmo_init(f, 4, 2, s);
    enc::h264enc_fmo_update(f);
    EXPECT_EQ(f.map.MBAmap, std::vector<int>({0, 0, 0, 1, 1, 1, 1, 1}));
    s.change_direction = 1;
    enc::h264enc_fmo_init(f, 4, 2, s);
    enc::h264enc_fmo_update(f);
    EXPECT_EQ(f.map.MBAmap, std::vector<int>({1, 1, 1, 1, 1, 0, 0, 0}));
    // Wipe: column by column.
    s.type = 6;
    s.change_direction = 0;
    enc::h264enc_fmo_init(f, 4, 2, s);
    enc::h264enc_fmo_update(f);
    EXPECT_EQ(f.map.MBAmap, std::vector<int>({0, 0, 1, 1, 0, 1, 1, 1}));
    // Box-out starts at the centre macroblock.
    s.type = 4;
    s.change_rate = 0;
    enc::h264enc_fmo_init(f, 5, 5, s);
    enc::h264enc_fmo_update(f);
    EXPECT_EQ(f.map.MBAmap[12], 0);
}

} // namespace

} // namespace enc_slice_group_test
