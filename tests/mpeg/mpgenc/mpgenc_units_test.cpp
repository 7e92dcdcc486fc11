// The encoder's stages on values that follow from the MPEG syntax and closed formulas: header bytes,
// f_codes, the parameter checks, rate-control start values, time codes, coding order, code words,
// the transforms and the statistics text.
#include "mpeg/mpgenc/encoder_support.h"
#include "mpeg/mpgenc/mpgenc.h"
#include "mpeg/mpgenc/mpgenc_dct.h"
#include "mpeg/mpgenc/mpgenc_predict.h"
#include "mpeg/mpgenc/mpgenc_quant.h"
#include "mpeg/mpgenc/mpgenc_report.h"
#include "mpeg/mpgenc/mpgenc_source.h"
#include "platform/messages.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace mpgenc_units_test { // one namespace per test file: a folder compiles as one source

using namespace zntest;

namespace {

// An encoder set up on an empty source of the given size, writing to memory.
struct Bench
{
    MemoryFrameSource source;
    MpegEncoder enc;
    zn::MessageRecorder messages;
    Bench(int w, int h, const MpegEncoderParams &p) : source(w, h, {})
    {
        enc.WriteToMemory();
        enc.SetParameters(p, &source);
        enc.InitQuantMatrices();
    }
};

// The bits a writer produced, as a string of '0' and '1' (the last partial byte included).
std::string BitsOf(MpegEncoder &enc, long long fromBit)
{
    const long long total = enc.BitCount();
    enc.AlignBits();
    const std::vector<uint8_t> &b = enc.MemoryBytes();
    std::string s;
    for (long long i = fromBit; i < total; ++i)
        s += ((b[static_cast<size_t>(i / 8)] >> (7 - i % 8)) & 1) ? '1' : '0';
    return s;
}

} // namespace

TEST(MpegEncoderHeaders, SequenceHeaderOfTheDefaultsAtCif)
{
    Bench b(352, 288, MpegEncoderParams{});
    ASSERT_TRUE(b.enc.init());
    b.enc.WriteSequenceHeader();
    const std::vector<uint8_t> &bytes = b.enc.MemoryBytes();
    ASSERT_GE(bytes.size(), 12u);
    const uint8_t start[8] = {0x00, 0x00, 0x01, 0xB3, 0x16, 0x01, 0x20, 0x23};
    EXPECT_TRUE(std::equal(start, start + 8, bytes.begin()));
    const uint32_t rateField = (bytes[8] << 10) | (bytes[9] << 2) | (bytes[10] >> 6);
    EXPECT_EQ(rateField, 2875u);
    EXPECT_TRUE(b.messages.Texts().empty());
}

TEST(MpegEncoderHeaders, QuantMatrixExtensionCarriesTheDefaultIntraMatrixInZigZag)
{
    MpegEncoderParams p;
    p.mpeg1 = 0;
    Bench b(352, 288, p);
    ASSERT_TRUE(b.enc.init());
    b.enc.WriteQuantMatrixExtension();
    const std::vector<uint8_t> &bytes = b.enc.MemoryBytes();
    // After the start code: 4 bits of identifier 3 and the load flag 1, then the entries.
    EXPECT_EQ(bytes[4], 0x3 << 4 | 0x8 | (8 >> 5));
    auto entry = [&](int i) { return ((bytes[4 + i] << 8 | bytes[5 + i]) >> 3) & 0xFF; };
    EXPECT_EQ(entry(0), 8);
    EXPECT_EQ(entry(1), 16);
    EXPECT_EQ(entry(2), 16);
    EXPECT_EQ(entry(3), 19);
    EXPECT_EQ(entry(63), 83);
}

TEST(MpegEncoderHeaders, TimeCodeOfFrame300IsTwelveSeconds)
{
    Bench b(352, 288, MpegEncoderParams{});
    const int tc = b.enc.TimeCode(300);
    EXPECT_EQ((tc >> 19) & 31, 0);
    EXPECT_EQ((tc >> 13) & 63, 0);
    EXPECT_EQ((tc >> 12) & 1, 1);
    EXPECT_EQ((tc >> 6) & 63, 12);
    EXPECT_EQ(tc & 63, 0);
    EXPECT_EQ(b.enc.TimeCode(10) & 63, 10);
}

TEST(MpegEncoderSetup, FCodesOfTheSearchWidths)
{
    struct Case
    {
        int width, fcode;
    };
    for (const Case c : {Case{0, 1},
                         {7, 1},
                         {8, 2},
                         {15, 2},
                         {16, 3},
                         {31, 3},
                         {45, 4},
                         {63, 4},
                         {64, 5},
                         {93, 5},
                         {127, 5},
                         {128, 6},
                         {-8, 1},
                         {-9, 2},
                         {2047, 9}})
        EXPECT_EQ(MpegEncoder::find_f_code(c.width), c.fcode) << c.width;
    zn::MessageRecorder rec;
    EXPECT_EQ(MpegEncoder::find_f_code(2048), 0);
    EXPECT_TRUE(rec.Contains("find_f_code-implementation error: sx too large"));
}

TEST(MpegEncoderSetup, MotionDataOfTheDefaultsAndOfMaximumMotion31)
{
    Bench b(352, 288, MpegEncoderParams{});
    const auto &md = b.enc.State().motion_data;
    ASSERT_EQ(md.size(), 3u);
    EXPECT_EQ(md[0].sxf, 45);
    EXPECT_EQ(md[0].forw_hor_f_code, 4);
    EXPECT_EQ(md[1].sxf, 15);
    EXPECT_EQ(md[1].forw_hor_f_code, 2);
    EXPECT_EQ(md[1].sxb, 30);
    EXPECT_EQ(md[1].back_hor_f_code, 3);
    EXPECT_EQ(md[2].forw_vert_f_code, 3);
    EXPECT_EQ(md[2].back_vert_f_code, 2);
    EXPECT_EQ(b.enc.State().vbv_buffer_size, 20);
    EXPECT_TRUE(b.messages.Texts().empty());

    MpegEncoderParams p;
    p.maxMotion = 31;
    Bench c(352, 288, p);
    const auto &m = c.enc.State().motion_data;
    EXPECT_EQ(m[0].sxf, 93);
    EXPECT_EQ(m[0].forw_hor_f_code, 5);
    EXPECT_EQ(m[1].forw_hor_f_code, 3);
    EXPECT_EQ(m[1].back_hor_f_code, 4);
    EXPECT_EQ(m[2].forw_hor_f_code, 4);
    EXPECT_EQ(m[2].back_hor_f_code, 3);
    EXPECT_TRUE(c.messages.Texts().empty());
}

TEST(MpegEncoderSetup, Mpeg2AboveMainLevelIsReportedAndGoesOn)
{
    MpegEncoderParams p;
    p.mpeg1 = 0;
    Bench b(768, 576, p);
    EXPECT_TRUE(
        b.messages.Contains("MpegEncoder: Horizontal size is greater than permitted in specified Level"));
    EXPECT_TRUE(b.messages.Contains("MpegEncoder: Sample rate is greater than permitted in specified Level"));
    EXPECT_EQ(b.messages.Count(), 2u);
    EXPECT_TRUE(b.enc.init());
}

TEST(MpegEncoderSetup, Mpeg1AfterInterlacedFieldSettingsWarnsThreeTimes)
{
    MpegEncoderParams p;
    p.mpeg1 = 1;
    p.progressive = 0;
    p.fieldPictures = 1;
    Bench b(352, 288, p);
    EXPECT_EQ(b.messages.Texts(),
              (std::vector<std::string>{"MpegEncoder: Warning: setting progressive_sequence = 1",
                                        "MpegEncoder: Warning: setting progressive_frame = 1",
                                        "MpegEncoder: Warning: setting field_pictures = 0"}));
    EXPECT_EQ(b.enc.State().fieldpic, 0);
    EXPECT_EQ(b.enc.State().prog_seq, 1);
}

TEST(MpegEncoderSetup, CodedWidthIsWholeMacroblocks)
{
    Bench b(352, 288, MpegEncoderParams{});
    ASSERT_TRUE(b.enc.init());
    EXPECT_EQ(b.enc.State().mb_width, 22);
    EXPECT_EQ(b.enc.State().width, 352);
}

TEST(MpegEncoderRate, StartValuesAt1150000BitsPerSecond)
{
    Bench b(352, 288, MpegEncoderParams{});
    ASSERT_TRUE(b.enc.init());
    b.enc.RcInitSequence();
    const RateControlState &rc = b.enc.Rate();
    EXPECT_EQ(rc.r, 92000);
    EXPECT_EQ(rc.Xi, 1600000);
    EXPECT_EQ(rc.Xp, 600000);
    EXPECT_EQ(rc.Xb, 420000);
    EXPECT_EQ(rc.d0i, 29677);
    EXPECT_EQ(rc.d0p, 29677);
    EXPECT_EQ(rc.d0b, 41548);
    b.enc.RcInitGop(3, 6); // the first GOP of "IBB3(PBB)": 10 frames
    EXPECT_EQ(b.enc.Rate().R, 460000);
    b.enc.MutableRate().d = rc.d0i;
    EXPECT_EQ(b.enc.RcStartMquant(), 20);
    // The first picture waits until the buffer is seven eighths full: 286720 bits at 1.15 Mbit/s,
    // 22438.96 ticks.
    b.enc.MutableState().pict_type = I_TYPE;
    b.enc.VbvDelay();
    EXPECT_NEAR(b.enc.Rate().decoding_time, 286720.0 * 90000.0 / 1150000.0, 1e-6);
}

TEST(MpegEncoderRate, QuantiserHysteresisFromEightUp)
{
    struct Case
    {
        int d, prev, expected;
    };
    // r = 31 makes the quantiser scale equal to the fullness d, and an activity equal to the average
    // leaves it unchanged, so mquant = 2 d.
    for (const Case c :
         {Case{5, 12, 12}, {3, 8, 6}, {5, 10, 10}, {5, 8, 8}, {7, 8, 14}, {9, 12, 18}, {40, 40, 62}}) {
        Bench b(32, 32, MpegEncoderParams{});
        ASSERT_TRUE(b.enc.init());
        RateControlState &rc = b.enc.MutableRate();
        rc.r = 31;
        rc.d = c.d;
        rc.T = 0;
        rc.S = b.enc.BitCount();
        rc.avg_act = 100.0;
        rc.prev_mquant = c.prev;
        b.enc.Macroblocks()[0].act = 100.0;
        EXPECT_EQ(b.enc.RcMquant(0), c.expected) << c.d << " after " << c.prev;
    }
}

TEST(MpegEncoderQuant, ZeroBlockStaysZeroAndInverseFormsAreExact)
{
    uint8_t flat[64];
    std::fill_n(flat, 64, 16);
    int16_t zero[64] = {}, out[64];
    EXPECT_EQ(QuantNonIntra(zero, out, flat, 8, true), 0);
    EXPECT_TRUE(std::all_of(out, out + 64, [](int16_t v) { return v == 0; }));
    // MPEG-1 reconstructs odd values; MPEG-2 keeps the sum odd by its last coefficient.
    int16_t in[64] = {};
    in[1] = 2;
    DequantNonIntra(in, out, flat, 8, true); // (2*2+1)*16*8/32 = 20 -> 19
    EXPECT_EQ(out[1], 19);
    DequantNonIntra(in, out, flat, 8, false);
    EXPECT_EQ(out[1], 20);
    EXPECT_EQ(out[63], 1);
}

TEST(MpegEncoderTransform, FlatBlockOverGreyPredictionGivesDc576)
{
    int16_t blk[64];
    std::fill_n(blk, 64, int16_t{200 - 128});
    ForwardDct(blk);
    EXPECT_EQ(blk[0], 576);
    EXPECT_TRUE(std::all_of(blk + 1, blk + 64, [](int16_t v) { return v == 0; }));
}

TEST(MpegEncoderTransform, LoneHighestCoefficientInvertsToZeros)
{
    int16_t blk[64] = {};
    blk[63] = 1;
    Idct(blk);
    EXPECT_TRUE(std::all_of(blk, blk + 64, [](int16_t v) { return v == 0; }));
}

TEST(MpegEncoderTransform, IdctAgreesWithTheFloatingPointInverseWithinOne)
{
    // Random coefficient blocks: the integer inverse stays within one grey level of the exact
    // inverse, the accuracy MPEG decoders are built to.
    uint32_t seed = 12345;
    auto next = [&]() {
        seed = seed * 1103515245u + 12345u;
        return static_cast<int>((seed >> 16) & 0x7FFF);
    };
    for (int trial = 0; trial < 200; ++trial) {
        int16_t blk[64];
        for (int i = 0; i < 64; ++i)
            blk[i] = static_cast<int16_t>(i < 10 || next() % 4 == 0 ? next() % 512 - 256 : 0);
        double ref[64];
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) {
                double s = 0;
                for (int v = 0; v < 8; ++v)
                    for (int u = 0; u < 8; ++u) {
                        const double cu = u ? 0.5 : std::sqrt(0.125), cv = v ? 0.5 : std::sqrt(0.125);
                        s += cu * cv * blk[8 * v + u] * std::cos((2 * x + 1) * u * M_PI / 16) *
                             std::cos((2 * y + 1) * v * M_PI / 16);
                    }
                ref[8 * y + x] = std::clamp(std::floor(s + 0.5), -256.0, 255.0);
            }
        Idct(blk);
        for (int i = 0; i < 64; ++i)
            ASSERT_LE(std::abs(blk[i] - ref[i]), 1.0) << "trial " << trial << " sample " << i;
    }
}

TEST(MpegEncoderTransform, HalfPelPredictionIsTheRoundedMeanOfFourNeighbours)
{
    uint8_t src[3 * 3] = {10, 20, 0, 31, 40, 0, 0, 0, 0};
    uint8_t dst[1];
    PredictBlock(src, 3, dst, 1, 1, 1, 1, 1, false);
    EXPECT_EQ(dst[0], (10 + 20 + 31 + 40 + 2) / 4);
    PredictBlock(src, 3, dst, 1, 1, 1, 1, 0, false);
    EXPECT_EQ(dst[0], 15);
}

TEST(MpegEncoderCodes, EscapedLevel300InMpeg2)
{
    MpegEncoderParams p;
    p.mpeg1 = 0;
    Bench b(32, 32, p);
    b.enc.putAC(5, 300, 0);
    EXPECT_EQ(BitsOf(b.enc, 0), "000001"
                                "000101"
                                "000100101100");
}

TEST(MpegEncoderCodes, MotionDifference31AtFCode2IsCode16)
{
    Bench b(32, 32, MpegEncoderParams{});
    b.enc.WriteMotionVector(31, 2);
    // motion_code 16, sign 0, one residual bit 0.
    EXPECT_EQ(BitsOf(b.enc, 0), "0000001100"
                                "0"
                                "0");
}

TEST(MpegEncoderCodes, FirstCoefficientMinusOneIsTheBits11)
{
    Bench b(32, 32, MpegEncoderParams{});
    int16_t blk[64] = {};
    blk[0] = -1;
    b.enc.WriteNonIntraBlock(blk);
    EXPECT_EQ(BitsOf(b.enc, 0), "11"
                                "10");
}

TEST(MpegEncoderCoding, CodingOrderOfTheGopShapes)
{
    struct Case
    {
        int N, M, frames;
        const char *order; // display frame numbers (1-based) with their types, in coding order
    };
    const Case cases[] = {{12, 3, 8, "1I 4P 2B 3B 7P 5B 6B 8P"},
                          {12, 3, 11, "1I 4P 2B 3B 7P 5B 6B 10P 8B 9B 11I"},
                          {3, 3, 7, "1I 4I 2B 3B 7I 5B 6B"},
                          {6, 3, 8, "1I 4P 2B 3B 7I 5B 6B 8P"},
                          {1, 1, 3, "1I 2I 3I"},
                          {3, 1, 5, "1I 2P 3P 4I 5P"}};
    zntest::ScratchDir dir;
    for (const Case &c : cases) {
        std::vector<Frame420> frames(static_cast<size_t>(c.frames), Frame420(32 * 32 * 3 / 2, 100));
        MpegEncoderParams p;
        p.N = c.N;
        p.M = c.M;
        const EncodeResult r = EncodeFrames(p, 32, 32, frames, dir.File("o.mpg"));
        std::string order;
        for (const MpegPictureReport &rep : r.reports)
            order += (order.empty() ? "" : " ") + std::to_string(rep.frameNo) + rep.type;
        EXPECT_EQ(order, c.order) << c.N << "/" << c.M << " on " << c.frames;
    }
}

TEST(MpegEncoderStatistics, TextFormatAndMap)
{
    Bench b(48, 16, MpegEncoderParams{});
    ASSERT_TRUE(b.enc.init());
    auto &mbs = b.enc.Macroblocks();
    mbs[0].mb_type = MB_INTRA;
    mbs[0].cbp = 63;
    mbs[1].mb_type = MB_FORWARD;
    mbs[1].skipped = 1;
    mbs[2].mb_type = MB_FORWARD | MB_BACKWARD | MB_PATTERN;
    mbs[2].cbp = 1;
    mbs[2].motion_type = MC_FRAME;
    EXPECT_EQ(b.enc.Statistics(), " #intra coded MB\t:    1 (33.3%)\r\n"
                                  " #coded blocks   \t:    7 (38.9%)\r\n"
                                  " #not-coded MB  \t:    0 (0.0%)\r\n"
                                  " #skipped MB    \t:    1 (33.3%)\r\n"
                                  " #forw. pred. MB\t:    1 (33.3%)\r\n"
                                  " #backw. pred. B\t:    0 (0.0%)\r\n"
                                  " #interpolated MB\t:    1 (33.3%)\r\n"
                                  "\r\n"
                                  " ISD\r\n");
}

TEST(MpegEncoderReport, LinesOfAFrameAFieldAndAnIllegalFieldCode)
{
    MpegPictureReport r;
    r.codedFrame = 3;
    r.frameNo = 2;
    r.type = 'B';
    r.bitsPerPixel = 0.125f;
    r.mse[0] = 6.5025;
    r.mse[1] = 65.025;
    r.mse[2] = 0.0;
    r.snr[0] = 30.04;
    r.snr[1] = 20.0;
    r.snr[2] = INFINITY;
    r.statistics = "<stats>";
    EXPECT_EQ(MpegReportText(r), " Compressed frame\t:  3\r\n"
                                 " Actual frame num.\t:  2\r\n"
                                 " Picture type  \t:  B\r\n"
                                 " Bit rate       \t:  0.12 (bpp)\r\n"
                                 " MSE Y, U, V \t:  6.5  65.0  0.0\r\n"
                                 " SNR Y, U, V \t:  30.0  20.0  inf (dB)\r\n"
                                 " PSNR Y, U, V \t:  40.0  30.0  inf (dB)\r\n"
                                 "<stats>");
    // A field has half a frame's samples: its bits per pixel are doubled.
    r.field = 0;
    EXPECT_EQ(MpegReportText(r).substr(0, 54), " Compressed frame \t:  3 (top)\r\n Actual frame num.\t:  2");
    EXPECT_NE(MpegReportText(r).find(":  0.25 (bpp)"), std::string::npos);
    r.field = 1;
    EXPECT_EQ(MpegReportText(r).substr(0, 33), " Compressed frame\t:  3 (bottom)\r\n");
    r.field = 2;
    EXPECT_EQ(MpegReportText(r).substr(0, 42), " Illegal fieldcode in ShowDecodingInfo()\r\n");
}

} // namespace mpgenc_units_test
