// The analysis records that reconstruction leaves for the views, as the sink sees them when a picture
// is handed on: mode counters and block-division lines per macroblock kind, intra marks, the bits of
// each macroblock, the residual plane, and the intra-direction glyphs with and without colour. With
// painting off the overlays stay empty and the pictures do not change.
#include "h264/support/picture_model.h"
#include "h264/support/stream_plan.h"
#include "h264dec/decoder_state.h"
#include "h264dec/nal_dispatch.h"
#include "h264dec/picture_control.h"
#include "platform/messages.h"

#include <gtest/gtest.h>

#include <functional>

namespace picture_analysis_test { // one namespace per test file: a folder compiles as one source

namespace {

using namespace h264test;

// Runs the stream with painting as asked and calls `check` for every picture handed to the views.
struct AnalysisSink : H264PictureSink
{
    std::function<void(const DecoderAnalysis &, int)> check;
    int pictures = 0;
    void PictureDecoded(H264DecoderState &dec, const H264PictureRef &, bool) override
    {
        check(dec.analysis, pictures++);
    }
};

void RunAnalysed(const std::vector<uint8_t> &stream, bool paint, bool intraShown, bool coloured,
                 const std::function<void(const DecoderAnalysis &, int)> &check)
{
    zn::MessageRecorder recorder;
    H264DecoderState dec;
    AnalysisSink sink;
    sink.check = check;
    dec.sink = &sink;
    dec.analysis.paint = paint;
    dec.analysis.intra_shown = intraShown;
    dec.analysis.intra_colored = coloured;
    h264dec_open_memory(dec, stream);
    while (h264dec_decode_picture(dec, true) == 2) {
        dec.analysis.paint = paint; // the per-run arrays keep the flags set before the first picture
        dec.analysis.intra_shown = intraShown;
        dec.analysis.intra_colored = coloured;
        dec_clear_picture_counters(dec);
    }
    EXPECT_GT(sink.pictures, 0);
    EXPECT_EQ(recorder.Count(), 0u);
}

bool OnBorder(int x, int y, int n)
{
    return x == 0 || y == 0 || x == n - 1 || y == n - 1;
}

TEST(H264PictureAnalysis, SkippedAndIntraMacroblocksCountAndDrawTheirKind)
{
    StreamPlan plan;
    plan.width_mbs = 2;
    plan.height_mbs = 1;
    MbSpec i4;
    i4.kind = MbKind::I4;
    plan.pictures.push_back(PicturePlan{7, 0, 0, true, 1, 0, 28, {MbSpec::I16(3), i4}, {0}, nullptr});
    plan.pictures.push_back(
        PicturePlan{5, 1, 2, false, 1, 0, 28, {MbSpec::Skip(false), MbSpec::Skip(false)}, {0}, nullptr});
    RunAnalysed(plan.Write(false), true, false, false, [](const DecoderAnalysis &a, int picture) {
        if (picture == 0) {
            EXPECT_EQ(a.mb_mode_count[kCountIntra16x16], 1);
            EXPECT_EQ(a.mb_mode_count[kCountIntra4x4], 1);
            for (int y = 0; y < 16; ++y)
                for (int x = 0; x < 16; ++x) {
                    // Intra 16x16: its border, U 0, V untouched. Intra 4x4: double lines every 4.
                    const bool grid = x % 4 == 0 || x % 4 == 3 || y % 4 == 0 || y % 4 == 3;
                    ASSERT_EQ(a.vis_bdiv_y[y][x], OnBorder(x, y, 16) ? 255 : 0);
                    ASSERT_EQ(a.vis_bdiv_uv[0][y][x], OnBorder(x, y, 16) ? 0 : 127);
                    ASSERT_EQ(a.vis_bdiv_uv[1][y][x], 127);
                    ASSERT_EQ(a.vis_bdiv_y[y][16 + x], grid ? 255 : 0);
                    ASSERT_EQ(a.vis_intra_mark[y][x], 127);
                    ASSERT_EQ(a.vis_intra_mark[y][16 + x], 127);
                }
            return;
        }
        // A picture of skipped macroblocks: counter 0 counts each, white borders (V and U 255).
        EXPECT_EQ(a.mb_mode_count[kCountDirect], 2);
        EXPECT_EQ(a.mb_mode_count_total[kCountDirect], 2);
        EXPECT_EQ(a.mb_mode_count_total[kCountIntra16x16], 1);
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 32; ++x) {
                const bool border = OnBorder(x % 16, y, 16);
                ASSERT_EQ(a.vis_bdiv_y[y][x], border ? 255 : 0);
                ASSERT_EQ(a.vis_bdiv_uv[0][y][x], border ? 255 : 127);
                ASSERT_EQ(a.vis_bdiv_uv[1][y][x], border ? 255 : 127);
                ASSERT_EQ(a.vis_intra_mark[y][x], 0);
            }
    });
}

// An 8x8-partitioned P macroblock with sub-modes 8x8, 8x4, 4x8 and 4x4 counts once in each of
// counters 4 to 7 and draws each quadrant's border with its splits; a bi-predicted 16x16 B
// macroblock leaves U alone on its border.
TEST(H264PictureAnalysis, PartitionsDrawTheirSplits)
{
    StreamBuilder b(1, 1);
    b.pps.deblocking_filter_parameters_present_flag = 1;
    SliceHeaderFields h;
    h.disable_deblocking_filter_idc = 1;
    b.CavlcSlice(h, true, [](BitWriter &w) {
        w.ue(3); // intra 16x16 DC
        w.ue(2);
        w.se(0);
        int dc[16] = {};
        WriteCavlcBlock(w, dc, 16, 0);
    });
    h.slice_type = 5;
    h.frame_num = 1;
    h.pic_order_cnt_lsb = 2;
    b.CavlcSlice(h, false, [](BitWriter &w) {
        w.ue(0); // no skip run
        w.ue(3); // 8x8
        for (int s = 0; s < 4; ++s)
            w.ue(static_cast<uint32_t>(s));
        for (int parts : {1, 2, 2, 4})
            for (int p = 0; p < parts; ++p) {
                w.se(0);
                w.se(0);
            }
        w.ue(0); // coded_block_pattern 0 in the inter mapping
    });
    h.slice_type = 6;
    h.frame_num = 2;
    h.pic_order_cnt_lsb = 1;
    b.CavlcSlice(
        h, false,
        [](BitWriter &w) {
            w.ue(0);
            w.ue(3); // 16x16, both directions
            for (int k = 0; k < 4; ++k)
                w.se(0);
            w.ue(0);
        },
        0);
    RunAnalysed(b.stream, true, false, false, [](const DecoderAnalysis &a, int picture) {
        if (picture == 1) {
            for (int k = kCount8x8; k <= kCount4x4; ++k)
                EXPECT_EQ(a.mb_mode_count[k], 1) << k;
            for (int y = 0; y < 16; ++y)
                for (int x = 0; x < 16; ++x) {
                    const int q = (y / 8) * 2 + x / 8, qx = x % 8, qy = y % 8;
                    bool line = OnBorder(qx, qy, 8);
                    if (q == 1 || q == 3)
                        line = line || qy == 3 || qy == 4;
                    if (q == 2 || q == 3)
                        line = line || qx == 3 || qx == 4;
                    ASSERT_EQ(a.vis_bdiv_y[y][x], line ? 255 : 0) << x << "," << y;
                    ASSERT_EQ(a.vis_bdiv_uv[0][y][x], line ? 0 : 127);
                    ASSERT_EQ(a.vis_bdiv_uv[1][y][x], line ? 0 : 127);
                }
        }
        if (picture == 2) {
            EXPECT_EQ(a.mb_mode_count[kCount16x16], 1);
            for (int y = 0; y < 16; ++y)
                for (int x = 0; x < 16; ++x) {
                    ASSERT_EQ(a.vis_bdiv_uv[0][y][x], 127);
                    ASSERT_EQ(a.vis_bdiv_uv[1][y][x], OnBorder(x, y, 16) ? 0 : 127);
                }
        }
    });
}

// The bits of each macroblock: the second one's are exactly its own code words; the first carries
// the slice header's too; the largest is the picture's maximum.
TEST(H264PictureAnalysis, BitsPerMacroblock)
{
    StreamPlan plan;
    plan.width_mbs = 3;
    plan.height_mbs = 1;
    plan.pictures.push_back(PicturePlan{
        7, 0, 0, true, 1, 0, 28, {MbSpec::I16(40), MbSpec::I16(-3), MbSpec::I16(0)}, {0}, nullptr});
    // The second macroblock alone: type, chroma mode, quantiser change and its luma DC block.
    BitWriter w;
    SliceShape shape;
    shape.width_mbs = 3;
    WriteCavlcMacroblocks(w, shape, {MbSpec::I16(-3)});
    const int secondBits = w.BitCount();
    for (const bool paint : {false, true})
        RunAnalysed(plan.Write(false), paint, false, false, [&](const DecoderAnalysis &a, int) {
            EXPECT_EQ(a.mb_bits[0][1], secondBits);
            EXPECT_GT(a.mb_bits[0][0], a.mb_bits[0][1]); // the header counts with the first
            EXPECT_EQ(a.mb_bits_max, std::max({a.mb_bits[0][0], a.mb_bits[0][1], a.mb_bits[0][2]}));
            EXPECT_EQ(a.mb_bits_sequence_max, a.mb_bits_max);
        });
}

// Glyphs: a 16x16 DC macroblock lights its centre square, each 4x4 DC block its (1, 1) pixel;
// with colour the first chroma plane takes 0 there; without the intra view nothing is drawn.
TEST(H264PictureAnalysis, IntraGlyphsWithAndWithoutColour)
{
    StreamPlan plan;
    plan.width_mbs = 2;
    plan.height_mbs = 1;
    MbSpec i4;
    i4.kind = MbKind::I4;
    plan.pictures.push_back(PicturePlan{7, 0, 0, true, 1, 0, 28, {MbSpec::I16(3), i4}, {0}, nullptr});
    const auto stream = plan.Write(false);
    for (int mode = 0; mode < 3; ++mode) {
        const bool shown = mode > 0, coloured = mode == 2;
        RunAnalysed(stream, true, shown, coloured, [&](const DecoderAnalysis &a, int) {
            for (int y = 0; y < 16; ++y)
                for (int x = 0; x < 32; ++x) {
                    const bool lit = shown && (x < 16 ? (x == 7 || x == 8) && (y == 7 || y == 8)
                                                      : (x - 16) % 4 == 1 && y % 4 == 1);
                    ASSERT_EQ(a.vis_vec_y[y][x], lit ? 255 : 0) << mode << ": " << x << "," << y;
                    ASSERT_EQ(a.vis_vec_uv[0][y][x], lit && coloured ? 0 : 127);
                    ASSERT_EQ(a.vis_vec_uv[1][y][x], 127);
                }
        });
    }
}

// A 16x16 vertical glyph: the line down column 7 with its arrow head, the two ends cleared again
// (luma 0, and chroma 127 when coloured).
TEST(H264PictureAnalysis, VerticalGlyphClearsItsEnds)
{
    StreamPlan plan;
    plan.width_mbs = 1;
    plan.height_mbs = 2;
    plan.pictures.push_back(
        PicturePlan{7, 0, 0, true, 1, 0, 28, {MbSpec::I16(3), MbSpec::I16(0, 0)}, {0}, nullptr});
    RunAnalysed(plan.Write(false), true, true, true, [](const DecoderAnalysis &a, int) {
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) {
                const bool head =
                    (y == 12 && (x == 5 || x == 6 || x == 8 || x == 9)) || (y == 13 && (x == 6 || x == 8));
                const bool lit = (x == 7 && y > 0 && y < 15) || head;
                ASSERT_EQ(a.vis_vec_y[16 + y][x], lit ? 255 : 0) << x << "," << y;
                ASSERT_EQ(a.vis_vec_uv[0][16 + y][x], lit ? 0 : 127);
            }
    });
}

} // namespace

} // namespace picture_analysis_test
