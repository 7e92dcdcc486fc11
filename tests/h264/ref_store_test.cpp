// Reference stores and their memory-management operations, the decoder's array allocation, the
// fatal-error exit with its codes, the slice-group map and the loss bookkeeping.
#include "h264/support/h264_stream_writer.h"
#include "h264dec/decoder_state.h"
#include "h264dec/erc.h"
#include "h264dec/fmo.h"
#include "h264dec/nal_dispatch.h"
#include "h264dec/param_sets.h"
#include "h264dec/ref_buffers.h"
#include "h264dec/slice_header.h"
#include "platform/log.h"
#include "platform/messages.h"

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <numeric>
#include <set>

namespace ref_store_test { // one namespace per test file: a folder compiles as one source

namespace {

using namespace h264test;

// A decoder with frame stores for 32 x 32 pictures (six frames: five reference frames and one more).
struct Stores
{
    H264DecoderState dec;
    Stores(int structure = kFrame)
    {
        dec.img.width = 32;
        dec.img.height = structure == kFrame ? 32 : 16;
        dec.img.width_cr = 16;
        dec.img.height_cr = dec.img.height / 2;
        dec.img.structure = structure;
        dec_init_frame_buffers(dec);
        for (DecodedPlanes *p : {&dec.dec_picture_frame, &dec.dec_picture_top, &dec.dec_picture_bottom}) {
            const int h = p == &dec.dec_picture_frame ? 32 : 16;
            dec_get_mem2D(p->y, h, 32);
            dec_get_mem3D(p->uv, 2, h / 2, 16);
        }
        Select(structure);
    }
    void Select(int structure)
    {
        DecodedPlanes &p = structure == kFrame      ? dec.dec_picture_frame
                           : structure == kTopField ? dec.dec_picture_top
                                                    : dec.dec_picture_bottom;
        dec.cur_pic_y = &p.y;
        dec.cur_pic_uv = &p.uv;
        dec.img.structure = structure;
        dec.dec_fb = structure == kFrame ? dec.dec_frm.get() : dec.dec_fld.get();
    }
    // Stores picture `number` (its samples all `number`) with the given operations.
    void Store(int number, std::vector<DecRefPicMarking> ops = {})
    {
        dec.img.number = number;
        dec.img.buffer_slot =
            (dec.img.structure == kBottomField ? number / 2 : number) % dec.img.ref_buffer_cycle;
        Array2D<uint8_t> &y = *dec.cur_pic_y;
        for (int r = 0; r < y.Rows(); ++r)
            std::fill(y[r], y[r] + y.Cols(), static_cast<uint8_t>(number));
        for (int c = 0; c < 2; ++c)
            for (int r = 0; r < (*dec.cur_pic_uv)[c].Rows(); ++r)
                (*dec.cur_pic_uv)[c][r][0] = static_cast<uint8_t>(100 + number);
        dec.img.mmco_list = std::move(ops);
        dec_store_picture(dec);
    }
    FrameStore &fb() { return *dec.dec_fb; }
    std::vector<int> ShortNumbers()
    {
        std::vector<int> v;
        for (int i = 0; i < fb().short_used; ++i)
            v.push_back(fb().picbuf_short[static_cast<size_t>(i)]->picture_number);
        return v;
    }
    std::vector<int> LongIds()
    {
        std::vector<int> v;
        for (int i = 0; i < fb().long_used; ++i)
            v.push_back(fb().picbuf_long[static_cast<size_t>(i)]->long_term_id);
        return v;
    }
    // First luma sample of each frame list entry, -1 for an empty one.
    std::vector<int> FrameList()
    {
        dec_fill_ref_lists(dec);
        std::vector<int> v;
        for (Array2D<uint8_t> *p : dec.dec_mref_frm)
            v.push_back(p ? (*p)[0][0] : -1);
        return v;
    }
};

DecRefPicMarking Op(int operation, int a = 0)
{
    DecRefPicMarking m;
    m.operation = operation;
    if (operation == 1 || operation == 3)
        m.difference_of_pic_nums = a;
    if (operation == 2)
        m.long_term_pic_idx = a;
    if (operation == 4)
        m.max_long_term_pic_idx_plus1 = a;
    return m;
}

DecRefPicMarking Assign(int difference, int id)
{
    DecRefPicMarking m;
    m.operation = 3;
    m.difference_of_pic_nums = difference;
    m.long_term_pic_idx = id;
    return m;
}

TEST(RefStore, TheStoresHoldSixFramesWhateverTheStreamSays)
{
    Stores s;
    EXPECT_EQ(s.dec.img.ref_buffer_cycle, 6);
    EXPECT_EQ(s.dec.dec_frm->short_size, 6);
    EXPECT_EQ(s.dec.dec_fld->short_size, 12);
    EXPECT_EQ(s.dec.dec_frm->picbuf_short[0]->luma.Rows(), 32);
    EXPECT_EQ(s.dec.dec_fld->picbuf_short[0]->luma.Rows(), 16);
    EXPECT_EQ(s.dec.dec_fld->picbuf_short[0]->chroma[1].Rows(), 8);
    EXPECT_EQ(s.dec.dec_mref_frm.size(), 6u);
    EXPECT_EQ(s.dec.dec_mref_fld.size(), 12u);

    // A field picture's stores are as large as a frame picture's.
    Stores f(kTopField);
    EXPECT_EQ(f.dec.dec_frm->picbuf_short[0]->luma.Rows(), 32);
    EXPECT_EQ(f.dec.img.height, 16);
}

TEST(RefStore, SevenFramesKeepTheLastSixNewestFirst)
{
    Stores s;
    for (int n = 1; n <= 7; ++n)
        s.Store(n);
    EXPECT_EQ(s.fb().short_used, 6);
    EXPECT_EQ(s.ShortNumbers(), (std::vector<int>{7 % 6, 6 % 6, 5, 4, 3, 2}));
    EXPECT_EQ(s.FrameList(), (std::vector<int>{7, 6, 5, 4, 3, 2}));
}

TEST(RefStore, AFrameWithANumberAlreadyStoredReplacesIt)
{
    Stores s;
    s.Store(1);
    s.Store(2);
    s.Store(8); // slot 8 mod 6 = 2
    EXPECT_EQ(s.ShortNumbers(), (std::vector<int>{2, 1}));
    EXPECT_EQ(s.FrameList(), (std::vector<int>{8, 1, -1, -1, -1, -1}));
    const std::vector<int> numbers = s.ShortNumbers();
    EXPECT_EQ(std::set<int>(numbers.begin(), numbers.end()).size(), numbers.size());
}

TEST(RefStore, Operation5LeavesOnlyThePictureJustStored)
{
    Stores s;
    for (int n = 0; n < 4; ++n)
        s.Store(n);
    s.Store(4, {Op(5), Op(0)});
    EXPECT_EQ(s.ShortNumbers(), (std::vector<int>{4}));
    s.Store(5);
    EXPECT_EQ(s.ShortNumbers(), (std::vector<int>{5, 4}));
}

TEST(RefStore, Operation1RemovesByDifference)
{
    Stores s;
    for (int n = 0; n < 4; ++n)
        s.Store(n);
    s.Store(4, {Op(1, 2)}); // 4 - 2: picture 2
    EXPECT_EQ(s.ShortNumbers(), (std::vector<int>{4, 3, 1, 0}));
    s.Store(6, {Op(1, 3)}); // slot 0 - 3 + 6: picture 3
    EXPECT_EQ(s.ShortNumbers(), (std::vector<int>{0, 4, 1}));
    EXPECT_EQ(dec_pic_num_from_diff(s.dec, 1), 5);
    EXPECT_EQ(s.FrameList(), (std::vector<int>{6, 4, 1, -1, -1, -1}));
}

TEST(RefStore, Operation4SizesTheLongTermPartAndTheListsFollow)
{
    Stores s;
    s.Store(0);
    s.Store(1, {Op(4, 3), Op(0)});
    EXPECT_EQ(s.fb().long_size, 2);
    EXPECT_EQ(s.fb().long_used, 0);
    EXPECT_EQ(s.dec.dec_mref_frm.size(), 8u);
    // The two long-term slots follow the used short-term pictures; unused short-term slots come last.
    const std::vector<int> list = s.FrameList();
    ASSERT_EQ(list.size(), 8u);
    EXPECT_EQ(list[0], 1);
    EXPECT_EQ(list[1], 0);
    EXPECT_NE(list[2], -1);
    EXPECT_NE(list[3], -1);
    EXPECT_EQ(list[4], -1);
}

TEST(RefStore, Operation3CopiesIntoSortedLongTermSlots)
{
    Stores s;
    s.Store(0);
    s.Store(1, {Op(4, 4)});     // three long-term slots
    s.Store(2, {Assign(2, 7)}); // picture 0 gets id 7
    s.Store(3, {Assign(2, 2)}); // picture 1 gets id 2
    EXPECT_EQ(s.LongIds(), (std::vector<int>{2, 7}));
    s.FrameList();
    EXPECT_EQ((*s.dec.dec_mref_frm[4])[0][0], 1); // long-term id 2 holds picture 1's samples
    EXPECT_EQ((*s.dec.dec_mcef_frm[5])[1][0][0], 100);
    EXPECT_EQ(s.fb().picbuf_short[2]->long_term_id, 2); // the short-term picture keeps its place
    s.Store(4, {Assign(4, 7)});                         // picture 0 again under the same id: nothing more
    EXPECT_EQ(s.LongIds(), (std::vector<int>{2, 7}));
    s.Store(5, {Op(2, 2)}); // remove id 2
    EXPECT_EQ(s.LongIds(), (std::vector<int>{7}));
}

TEST(RefStore, Operation3WithoutALongTermPartIsIgnored)
{
    Stores s;
    s.Store(0);
    s.Store(1, {Assign(1, 0), Assign(9, 0)}); // the second names no stored picture either
    EXPECT_EQ(s.fb().long_used, 0);
    EXPECT_EQ(s.ShortNumbers(), (std::vector<int>{1, 0}));
}

TEST(RefStore, Operation3ForAPictureNotStoredEndsTheRunWith400)
{
    Stores s;
    s.Store(0, {Op(4, 2)});
    zn::MessageRecorder boxes;
    try {
        s.Store(1, {Assign(4, 0)});
        FAIL();
    } catch (const H264FatalError &e) {
        EXPECT_EQ(e.ExitCode(), 400);
    }
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{
                                 "Trying to assign a long term ID to a not existent short term picture"});
}

TEST(RefStore, ShrinkingTheLongTermPartClampsItsUsedCount)
{
    Stores s;
    s.Store(0);
    s.Store(1);
    s.Store(2, {Op(4, 4)});
    s.Store(3, {Assign(1, 5), Assign(2, 6), Assign(3, 4)});
    EXPECT_EQ(s.LongIds(), (std::vector<int>{4, 5, 6}));
    s.Store(4, {Op(4, 2)});
    EXPECT_EQ(s.fb().long_size, 1);
    EXPECT_EQ(s.fb().long_used, 1);
    EXPECT_EQ(s.LongIds(), (std::vector<int>{4}));
    EXPECT_EQ(s.dec.dec_mref_frm.size(), 7u);
    s.Store(5, {Op(4, 1)});
    EXPECT_EQ(s.fb().long_used, 0);
    zn::MessageRecorder boxes;
    EXPECT_THROW(s.Store(6, {Op(4, 0)}), H264FatalError);
    EXPECT_THROW(s.Store(7, {Op(4, 20)}), H264FatalError);
    EXPECT_EQ(boxes.Count(), 2u);
}

TEST(RefStore, ABottomFieldJoinsItsTopField)
{
    Stores s(kTopField);
    s.Store(0); // number 0: top field of frame 0
    s.Select(kBottomField);
    s.Store(1); // bottom field, slot 1 / 2 = 0: stored beside the top field, not over it
    EXPECT_EQ(s.ShortNumbers(), (std::vector<int>{0, 0}));
    EXPECT_EQ(s.fb().short_size, 12);
}

TEST(RefStore, ReorderingCommandsChangeNothing)
{
    using namespace h264test;
    const SPS sps = DefaultSps(2, 2);
    const PPS pps;
    std::vector<uint8_t> stream;
    Append(stream, NalUnit(3, NALU_TYPE_SPS, SpsRbsp(sps)));
    Append(stream, NalUnit(3, NALU_TYPE_PPS, PpsRbsp(pps)));
    SliceHeaderFields i;
    Append(stream, SliceNal(i, sps, pps, true));
    for (int n = 1; n <= 3; ++n) {
        SliceHeaderFields p;
        p.slice_type = 5;
        p.frame_num = n;
        p.num_ref_idx_override_flag = 1;
        p.num_ref_pic_active_fwd_minus1 = 2;
        if (n == 3) {
            p.reordering_flag[0] = 1;
            p.reordering[0] = {{0, 1}, {1, 0}, {3, 0}};
        }
        Append(stream, SliceNal(p, sps, pps, false));
    }
    std::vector<std::vector<int>> lists;
    H264DecoderState dec;
    h264dec_open_memory(dec, stream);
    NaluPtr nalu = dec_AllocNALU(kNaluCapacity);
    dec_get_mem2D(dec.dec_picture_frame.y, 32, 32);
    dec_get_mem3D(dec.dec_picture_frame.uv, 2, 16, 16);
    dec.cur_pic_y = &dec.dec_picture_frame.y;
    dec.cur_pic_uv = &dec.dec_picture_frame.uv;
    while (h264dec_next_slice_unit(dec, nalu.get())) {
        h264dec_read_slice_unit(dec, *nalu);
        if (!dec.dec_frm)
            dec_init_frame_buffers(dec);
        dec.dec_fb = dec.dec_frm.get();
        const bool hadCommands =
            !dec.slice.remapping_of_pic_nums_idc_l0.empty() && dec.slice.ref_pic_list_reordering_flag_l0;
        dec_init_ref_lists(dec);
        EXPECT_TRUE(dec.slice.remapping_of_pic_nums_idc_l0.empty());
        std::vector<int> list;
        for (Array2D<uint8_t> *p : dec.dec_mref_frm)
            list.push_back(p ? (*p)[0][0] : -1);
        lists.push_back(list);
        if (hadCommands) {
            EXPECT_EQ(list, (std::vector<int>{2, 1, 0, -1, -1, -1}));
        }
        dec.dec_picture_frame.y[0][0] = static_cast<uint8_t>(dec.img.number);
        dec_store_picture(dec);
        ++dec.img.number;
    }
    EXPECT_EQ(lists.size(), 4u);
}

// ---------------------------------------------------------------------------------------------
// Array allocation

TEST(Memory, TwoDimensionalArraysAreOneZeroFilledBlock)
{
    Array2D<uint8_t> a;
    EXPECT_EQ(dec_get_mem2D(a, 3, 5), static_cast<int>(3 * sizeof(void *) + 15));
    EXPECT_EQ(a[1] - a[0], 5);
    EXPECT_EQ(a[2] - a[1], 5);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 5; ++c)
            EXPECT_EQ(a[r][c], 0);
    Array2D<int> b;
    EXPECT_EQ(dec_get_mem2Dint(b, 4, 6), static_cast<int>(4 * sizeof(void *) + 4 * 6 * sizeof(int)));
    EXPECT_EQ(b[3] - b[0], 18);
    Array3D<uint8_t> c;
    EXPECT_EQ(dec_get_mem3D(c, 2, 3, 5),
              static_cast<int>(2 * sizeof(void *) + 2 * (3 * sizeof(void *) + 15)));
    Array4D<int> d;
    EXPECT_GT(dec_get_mem4Dint(d, 2, 3, 4, 6), 2 * 3 * 4 * 6 * 4);
    EXPECT_EQ(d[1][2][3][5], 0);
    dec_free_mem2D(a);
    dec_free_mem3D(c);
    EXPECT_FALSE(a.HasRows());
}

TEST(Memory, FailuresEndTheRunWithCode100)
{
    struct Case
    {
        std::function<void()> call;
        std::vector<std::string> boxes;
    };
    const std::string big = "Could not allocate memory: ";
    const Case cases[] = {
        {[] {
             Array2D<uint8_t> a;
             dec_free_mem2D(a);
         },
         {"dec_free_mem2D: trying to free unused memory"}},
        {[] {
             Array3D<uint8_t> a;
             dec_free_mem3D(a);
         },
         {"dec_free_mem3D: trying to free unused memory"}},
        {[] {
             Array2D<uint8_t> a;
             dec_get_mem2D(a, 1 << 20, 1 << 20);
         },
         {big + "dec_get_mem2D: array2D", big + "dec_get_mem2D: array2D"}},
        {[] {
             Array2D<int> a;
             dec_get_mem2Dint(a, -1, 4);
         },
         {big + "dec_get_mem2Dint: array2D", big + "dec_get_mem2Dint: array2D"}},
        {[] {
             Array3D<int> a;
             dec_get_mem3Dint(a, 1 << 16, 1 << 10, 1 << 10);
         },
         {big + "dec_get_mem3Dint: array3D", big + "dec_get_mem3Dint: array3D"}},
        {[] {
             Array4D<int> a;
             dec_get_mem4Dint(a, 1 << 20, 1 << 20, 2, 2);
         },
         {big + "dec_get_mem4Dint: array4D", big + "dec_get_mem4Dint: array4D"}},
    };
    for (const Case &c : cases) {
        zn::MessageRecorder boxes;
        try {
            c.call();
            ADD_FAILURE() << c.boxes.front();
        } catch (const H264FatalError &e) {
            EXPECT_EQ(e.ExitCode(), 100);
            EXPECT_EQ(e.Code(), zn::kMessageShown); // the run boundary shows nothing more
        }
        EXPECT_EQ(boxes.Texts(), c.boxes);
    }
}

// ---------------------------------------------------------------------------------------------
// The fatal-error exit: its text goes to the error log and one box, and its code travels with it.

TEST(FatalError, TextToTheLogAndABoxCodeKept)
{
    std::vector<std::pair<zn::LogLevel, std::string>> log;
    const zn::LogSink previous =
        zn::SetLogSink([&](zn::LogLevel l, const std::string &t) { log.emplace_back(l, t); });
    zn::MessageRecorder boxes;
    for (int code : {1, -1020}) {
        log.clear();
        boxes.Clear();
        try {
            h264_fatal_error("Error open file x.cfg \n", code);
        } catch (const H264FatalError &e) {
            EXPECT_EQ(e.ExitCode(), code);
            EXPECT_STREQ(e.what(), "Error open file x.cfg \n");
        }
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(log[0].first, zn::LogLevel::Error);
        EXPECT_EQ(log[0].second, "Error open file x.cfg \n");
        ASSERT_EQ(boxes.Count(), 1u);
        EXPECT_EQ(boxes.Messages()[0].buttons, zn::MsgButtons::Ok);
    }
    zn::SetLogSink(previous);
}

TEST(FatalError, TheDecodersCallsKeepTheirCodes)
{
    const auto streamOf = [](SPS sps, SliceHeaderFields h, bool idr) {
        std::vector<uint8_t> s;
        Append(s, NalUnit(3, NALU_TYPE_SPS, SpsRbsp(sps)));
        Append(s, NalUnit(3, NALU_TYPE_PPS, PpsRbsp(PPS{})));
        Append(s, SliceNal(h, sps, PPS{}, idr));
        return s;
    };
    SPS type3 = DefaultSps(), type1cycle2 = DefaultSps(), type1zero = DefaultSps(), type2 = DefaultSps();
    type3.pic_order_cnt_type = 3;
    type1cycle2.pic_order_cnt_type = 1;
    type1cycle2.num_ref_frames_in_pic_order_cnt_cycle = 2;
    type1zero.pic_order_cnt_type = 1;
    type1zero.num_ref_frames_in_pic_order_cnt_cycle = 1;
    type1zero.delta_pic_order_always_zero_flag = 1;
    type2.pic_order_cnt_type = 2;
    SliceHeaderFields si, idrFrame3;
    si.slice_type = 9;
    idrFrame3.frame_num = 3;
    const struct
    {
        std::vector<uint8_t> stream;
        int code;
        const char *text;
    } cases[] = {
        {streamOf(DefaultSps(), si, false), 500, "Invalid Slice Type"},
        {streamOf(type3, SliceHeaderFields{}, true), -1000, "pic_order_cnt_type != 1"},
        {streamOf(type1cycle2, SliceHeaderFields{}, true), -1001,
         "num_ref_frames_in_pic_order_cnt_cycle != 1"},
        {streamOf(type1zero, SliceHeaderFields{}, true), -1002, "delta_pic_order_always_zero_flag != 0"},
        {streamOf(type2, idrFrame3, true), -1020, "frame_num != 0 in idr pix"},
    };
    for (const auto &c : cases) {
        zn::MessageRecorder boxes;
        H264DecoderState dec;
        h264dec_open_memory(dec, c.stream);
        NaluPtr nalu = dec_AllocNALU(kNaluCapacity);
        try {
            while (h264dec_next_slice_unit(dec, nalu.get()))
                h264dec_read_slice_unit(dec, *nalu);
            ADD_FAILURE() << c.text;
        } catch (const H264FatalError &e) {
            EXPECT_EQ(e.ExitCode(), c.code) << c.text;
        }
        EXPECT_EQ(boxes.Texts(), std::vector<std::string>{c.text});
    }
}

// ---------------------------------------------------------------------------------------------
// Slice-group map

TEST(SliceGroups, OneGroupRunsSlicesInRasterOrderToTheEnd)
{
    H264DecoderState dec;
    h264dec_fmo_init(dec, 11, 9, nullptr, 0);
    EXPECT_EQ(dec.fmo.units, 99);
    EXPECT_EQ(slice_group_of_mb(dec.fmo, 50), 0);
    EXPECT_EQ(h264dec_last_slice_group(dec), 0);
    EXPECT_EQ(h264dec_last_mb_of_picture(dec, kFrame), 98);
    EXPECT_EQ(h264dec_next_mb_in_group(dec, 40, kFrame), 41);
    EXPECT_EQ(h264dec_next_mb_in_group(dec, 98, kFrame), -1);
    // A field slice of a picture 36 macroblocks high has a map of 18 rows.
    h264dec_fmo_init(dec, 22, 36 / 2, nullptr, 0);
    EXPECT_EQ(dec.fmo.height_units, 18);
    EXPECT_EQ(dec.fmo.units, 22 * 18);
    h264dec_fmo_free(dec);
    EXPECT_TRUE(dec.fmo.MBAmap.empty());
}

TEST(SliceGroups, ListsBoxesAndEvolvingMaps)
{
    H264DecoderState dec;
    const int list[] = {0, 1, 1};
    dec.img.slice_group_count = 1;
    dec.img.slice_group_map_type = 1;
    h264dec_fmo_init(dec, 4, 3, list, 3);
    EXPECT_EQ(dec.fmo.MBAmap, (std::vector<int>{0, 1, 1, 0, 1, 1, 0, 1, 1, 0, 1, 1}));
    EXPECT_EQ(h264dec_next_mb_in_group(dec, 0, kFrame), 3);
    EXPECT_EQ(h264dec_last_mb_of_picture(dec, kFrame), 11);

    dec.img.slice_group_map_type = 3; // a box from unit 5 to unit 10 over group 1
    dec.img.slice_group_top_left = 5;
    dec.img.slice_group_bottom_right = 10;
    h264dec_fmo_init(dec, 4, 3, list, 3);
    EXPECT_EQ(dec.fmo.MBAmap, (std::vector<int>{1, 1, 1, 1, 1, 0, 0, 1, 1, 0, 0, 1}));

    dec.img.slice_group_map_type = 7;
    zn::MessageRecorder boxes;
    EXPECT_THROW(h264dec_fmo_init(dec, 4, 3, list, 3), H264FatalError);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Illegal FmoMode 7 , exit "});

    SliceGroupMap map;
    map.width_mbs = 3;
    map.height_units = 3;
    map.units = 9;
    map.MBAmap.assign(9, 5);
    DecoderImage img;
    img.slice_group_change_cycle = 1;
    img.slice_group_change_rate = 1; // (1 + 1) x (1 + 1) = 4 units
    const struct
    {
        int type, direction;
        std::vector<int> map;
    } cases[] = {
        {4, 0, {0, 0, 1, 0, 0, 1, 1, 1, 1}}, // box-out from the centre: 4, 3, 0, 1
        {4, 1, {1, 1, 1, 1, 0, 0, 1, 0, 0}}, // the other way: 4, 7, 8, 5
        {5, 0, {0, 0, 0, 0, 1, 1, 1, 1, 1}}, // raster from the first unit
        {5, 1, {1, 1, 1, 1, 1, 0, 0, 0, 0}}, // backwards from the last
        {6, 0, {0, 0, 1, 0, 1, 1, 0, 1, 1}}, // columns downwards from the top left
        {6, 1, {1, 1, 0, 1, 1, 0, 1, 0, 0}}, // upwards from the bottom right
    };
    for (const auto &c : cases) {
        img.slice_group_map_type = c.type;
        img.slice_group_change_direction = c.direction;
        h264dec_fmo_generate(img, map);
        EXPECT_EQ(map.MBAmap, c.map) << "type " << c.type << " direction " << c.direction;
    }
    img.slice_group_change_cycle = 100; // more than the picture: every unit
    img.slice_group_map_type = 4;
    h264dec_fmo_generate(img, map);
    EXPECT_EQ(map.MBAmap, std::vector<int>(9, 0));
}

TEST(SliceGroups, BoxOutVisitsEveryUnitOnce)
{
    EXPECT_EQ(BoxOutOrder(3, 3, 0), (std::vector<int>{4, 3, 0, 1, 2, 5, 8, 7, 6}));
    EXPECT_EQ(BoxOutOrder(3, 3, 1), (std::vector<int>{4, 7, 8, 5, 2, 1, 0, 3, 6}));
    for (int w = 1; w <= 9; ++w)
        for (int h = 1; h <= 7; ++h)
            for (int d : {0, 1}) {
                std::vector<int> order = BoxOutOrder(w, h, d);
                std::sort(order.begin(), order.end());
                std::vector<int> all(static_cast<size_t>(w * h));
                std::iota(all.begin(), all.end(), 0);
                EXPECT_EQ(order, all) << w << "x" << h << " direction " << d;
            }
}

// ---------------------------------------------------------------------------------------------
// Loss bookkeeping

TEST(LossBookkeeping, FlagsFollowTheirDependencies)
{
    const struct
    {
        int kind;
        std::vector<int> set;
    } cases[] = {
        {0, {0, 1, 2, 3, 5, 11, 12, 13, 14, 15}},
        {1, {1, 2, 3, 5, 11, 12, 13, 14, 15}},
        {3, {3, 5, 11, 12, 13, 14, 15}},
        {4, {4, 6, 7, 8, 9, 10}},
        {5, {5, 11, 12, 13, 14, 15}},
        {8, {8, 9, 10}},
        {13, {13, 14, 15}},
        {16, {16}},
        {17, {17}},
        {18, {}},
        {19, {}},
    };
    H264DecoderState dec;
    for (const auto &c : cases) {
        h264dec_reset_lost_flags(dec);
        h264dec_set_lost_flag(dec, c.kind);
        std::vector<int> set;
        for (int k = 0; k < SE_MAX_ELEMENTS; ++k)
            if (dec.lost_flags[k])
                set.push_back(k);
        EXPECT_EQ(set, c.set) << "kind " << c.kind;
    }
}

TEST(LossBookkeeping, ResetKeepsThePreviousConditionsAndMarksSegments)
{
    H264DecoderState dec;
    ercInit(dec, 64, 32, 1);
    EXPECT_EQ(dec.erc_object_list.size(), 32u);
    ErcVariables *v = dec.errorVar.get();
    ercReset(v, 8, 1, 64);
    EXPECT_EQ(v->yCondition.size(), 32u);
    EXPECT_EQ(v->segments.size(), 1u);
    EXPECT_EQ(v->segments[0].endMBPos, 7);
    EXPECT_EQ(v->segments[0].fCorrupted, 1);
    v->yCondition[3] = 9;
    ercReset(v, 8, 2, 64);
    EXPECT_EQ(v->prevFrameYCondition[3], 9);
    EXPECT_EQ(v->yCondition[3], 0);
    EXPECT_EQ(v->segments.size(), 2u);
    h264dec_erc_set_concealment(v, 0);
    v->currSegment = 5;
    ercReset(v, 8, 2, 64); // concealment off: nothing happens
    EXPECT_EQ(v->currSegment, 5);
    h264dec_erc_close(dec);
    EXPECT_FALSE(dec.errorVar);
}

} // namespace

} // namespace ref_store_test
