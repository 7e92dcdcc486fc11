// Reference stores and pixel access: the store examples of the coding rules (a full store, a number
// stored twice, a reordering that wraps), the store size that keeps the additional reference slot
// real, and the clamped readers at and beyond the picture's edges.
#include "h264enc/enc_run.h"
#include "h264enc/frame_store.h"
#include "platform/log.h"
#include "platform/messages.h"

#include <gtest/gtest.h>

#include <set>

namespace enc_frame_store_test { // one namespace per test file: a folder compiles as one source

namespace {

namespace enc = h264enc;

struct Store
{
    enc::EncoderParams input;
    enc::EncoderImage img;
    enc::FrameStores fs;
    explicit Store(int refs, int additional = 0, int interlace = 0)
    {
        input.SourceWidth = 32;
        input.SourceHeight = 32;
        input.NumberReferenceFrames = refs;
        input.AdditionalReferenceFrame = additional;
        input.InterlaceCodingOption = interlace;
        enc::init_image_geometry(input, img);
        enc::init_frame_buffers(fs, input, img);
    }
    std::vector<int> Numbers()
    {
        std::vector<int> v;
        for (int i = 0; i < fs.frm.short_count; ++i)
            v.push_back(fs.frm.picbuf_short[static_cast<size_t>(i)]->pic_num);
        return v;
    }
};

TEST(FrameStore, SlotsAndPlaneSizes)
{
    Store s(1, 3, 1);
    // max_ref = max(1, 3 + 1) = 4: five frame slots, ten field slots.
    EXPECT_EQ(s.fs.frm.short_slots, 5);
    EXPECT_EQ(s.fs.fld.short_slots, 10);
    const enc::RefFrame &f = *s.fs.frm.picbuf_short[0];
    EXPECT_EQ(f.mref.rows(), 4 * 32 + 32);
    EXPECT_EQ(f.mref.cols(), 4 * 32 + 32);
    EXPECT_EQ(f.mcef.frames(), 2);
    EXPECT_EQ(f.mcef[0].rows(), 16);
    EXPECT_EQ(f.Refbuf11.size(), 32u * 32u);
    EXPECT_EQ(s.fs.fld.picbuf_short[0]->mref.rows(), 4 * 16 + 32);
    EXPECT_TRUE(f.mref_w.empty());
}

TEST(FrameStore, FullStoreDropsItsOldestPicture)
{
    std::vector<std::string> lines;
    auto previous = zn::SetLogSink([&](zn::LogLevel, const std::string &t) { lines.push_back(t); });
    Store s(1); // two slots
    enc::add_short_term_frame(s.fs, 0, 0);
    enc::add_short_term_frame(s.fs, 1, 1);
    EXPECT_EQ(s.Numbers(), std::vector<int>({1, 0}));
    EXPECT_TRUE(lines.empty());
    enc::add_short_term_frame(s.fs, 2, 2);
    EXPECT_EQ(s.Numbers(), std::vector<int>({2}));
    EXPECT_EQ(s.fs.frm.picbuf_short[1]->used, 0);
    EXPECT_EQ(s.fs.frm.picbuf_short[1]->pic_id, -1);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "remove last........................\n");
    zn::SetLogSink(previous);
}

TEST(FrameStore, NumberStoredAgainReplacesTheOldEntry)
{
    Store s(3); // four slots
    enc::add_short_term_frame(s.fs, 0, 0);
    enc::add_short_term_frame(s.fs, 1, 1);
    enc::add_short_term_frame(s.fs, 0, 300);
    EXPECT_EQ(s.Numbers(), std::vector<int>({0, 1}));
    EXPECT_EQ(s.fs.frm.picbuf_short[0]->pic_id, 300 % 256);
    // Slots are reused, never copied: all four plane sets are still distinct.
    std::set<const void *> planes;
    for (const auto &slot : s.fs.frm.picbuf_short)
        planes.insert(slot->mref.data());
    EXPECT_EQ(planes.size(), 4u);
}

TEST(FrameStore, ReferenceArraysListNewestFirstAndNullTheRest)
{
    Store s(3);
    for (int n = 0; n < 3; ++n)
        enc::add_short_term_frame(s.fs, n, n);
    enc::set_mref_arrays(s.fs);
    const auto &set = *s.fs.current;
    ASSERT_EQ(set.size(), 4u);
    EXPECT_EQ(set[0]->pic_num, 2);
    EXPECT_EQ(set[2]->pic_num, 0);
    EXPECT_EQ(set[3], nullptr);
    enc::keep_newest_reference(s.fs);
    EXPECT_EQ(s.Numbers(), std::vector<int>({2}));
}

TEST(FrameStore, ReorderingWrapsAtTheSlotCount)
{
    Store s(2); // three slots
    enc::add_short_term_frame(s.fs, 2, 2);
    enc::add_short_term_frame(s.fs, 0, 3);          // store order: 0, 2
    enc::remap_reference_frames(s.fs, 0, {{0, 1}}); // 0 - 1 + 3 = 2
    EXPECT_EQ((*s.fs.current)[0]->pic_num, 2);
    EXPECT_EQ((*s.fs.current)[1]->pic_num, 0);
    enc::remap_reference_frames(s.fs, 2, {{1, 1}}); // 2 + 1 - 3 = 0
    EXPECT_EQ((*s.fs.current)[0]->pic_num, 0);
    zn::MessageRecorder rec;
    try {
        enc::remap_reference_frames(s.fs, 0, {{0, 2}}); // picture 1: not stored
        FAIL();
    } catch (const H264FatalError &e) {
        EXPECT_EQ(e.ExitCode(), 400);
        EXPECT_STREQ(e.what(), "tried to remap non-existent picture");
    }
}

TEST(PixelAccess, ClampedQuarterSamplesKeepTheirPhase)
{
    enc::Array2D<uint8_t> plane;
    enc::get_mem2D(plane, 4 * 8 + 32, 4 * 8 + 32); // an 8x8 picture
    for (int r = 0; r < plane.rows(); ++r)
        for (int c = 0; c < plane.cols(); ++c)
            plane[r][c] = static_cast<uint8_t>((r % 4) * 16 + (c % 4) + (r < 4 ? 100 : 0) + (c < 4 ? 50 : 0));
    // 20 samples left of the picture, phase 2: the leftmost margin column of phase 2.
    EXPECT_EQ(enc::get_pel_quarter_clamped(plane, 8, -80 + 2), plane[8 + 16][2]);
    EXPECT_EQ(enc::get_pel_quarter_clamped(plane, -81, 5), plane[3][5 + 16]); // phase of -81 is 3
    EXPECT_EQ(enc::get_pel_quarter_clamped(plane, 500, 1), plane[4 * 8 + 28 + 0][1 + 16]);
    EXPECT_EQ(enc::get_pel_quarter_clamped(plane, 3, 4 * 8 + 13), plane[3 + 16][4 * 8 + 28 + 1]);
    EXPECT_EQ(enc::get_pel_quarter_clamped(plane, 5, 6), enc::get_pel_quarter(plane, 5, 6));
}

TEST(PixelAccess, ClampedLines)
{
    const int w = 32, h = 4;
    std::vector<uint8_t> buf(static_cast<size_t>(w * h));
    for (int i = 0; i < w * h; ++i)
        buf[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    enc::LineReader r(buf.data(), w, h);
    const uint8_t *left = r.get_line_clamped(1, -20);
    for (int k = 0; k < 16; ++k)
        EXPECT_EQ(left[k], buf[static_cast<size_t>(w)]);
    EXPECT_EQ(r.get_line_clamped(2, w - 16),
              buf.data() + 2 * w + w - 16);               // inside: a pointer into the picture
    const uint8_t *right = r.get_line_clamped(9, w - 15); // row clamped to 3
    EXPECT_EQ(right[0], buf[static_cast<size_t>(3 * w + w - 15)]);
    EXPECT_EQ(right[15], buf[static_cast<size_t>(3 * w + w - 1)]);
    EXPECT_EQ(right[14], buf[static_cast<size_t>(3 * w + w - 1)]);
}

TEST(Memory, FreeingUnusedArraysEndsTheRunAndBadSizesAreOutOfMemory)
{
    zn::MessageRecorder rec;
    enc::Array2D<uint8_t> a;
    try {
        enc::free_mem2D(a);
        FAIL();
    } catch (const H264FatalError &e) {
        EXPECT_EQ(e.ExitCode(), 100);
        EXPECT_STREQ(e.what(), "free_mem2D: trying to free unused memory");
    }
    try {
        enc::get_mem2D(a, 1 << 20, 1 << 20);
        FAIL();
    } catch (const H264FatalError &e) {
        EXPECT_EQ(e.ExitCode(), 100);
        EXPECT_STREQ(e.what(), "Could not allocate memory: get_mem2D: array2D");
    }
    enc::Array3D<int> b;
    EXPECT_EQ(enc::get_mem3Dint(b, 2, 3, 4), 96);
    enc::free_mem3Dint(b);
    EXPECT_TRUE(b.empty());
}

} // namespace

} // namespace enc_frame_store_test
