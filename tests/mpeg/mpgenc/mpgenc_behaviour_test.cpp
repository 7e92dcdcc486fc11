// Behaviour of whole encoding runs: a static scene costs nothing in P pictures, the rate control
// meets the bit rate, a user can stop after any frame and still gets a decodable stream, and the
// same input always gives the same bytes.
#include "mpeg/mpgenc/encoder_support.h"
#include "platform/keypoll.h"
#include "platform/paths.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace mpgenc_behaviour_test { // one namespace per test file: a folder compiles as one source

using namespace zntest;

TEST(MpegEncoderBehaviour, StaticSceneSkipsAllButTheFirstAndLastMacroblockOfEachRow)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    ScratchDir dir;
    const int w = 176, h = 144;
    // A picture of flat macroblocks of many levels: intra coding reconstructs it exactly, so the P
    // pictures find nothing left to code.
    Frame420 frame(static_cast<size_t>(w) * h * 3 / 2);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            frame[static_cast<size_t>(y) * w + x] =
                static_cast<uint8_t>(16 + (x / 16 * 37 + y / 16 * 53) % 220);
    for (size_t i = static_cast<size_t>(w) * h; i < frame.size(); ++i)
        frame[i] = 128;
    const std::vector<Frame420> one(1, frame);
    MpegEncoderParams p;
    p.N = 3;
    p.M = 1;
    const EncodeResult r = EncodeFrames(p, w, h, std::vector<Frame420>(3, one[0]), dir.File("s.mpg"));
    ASSERT_EQ(r.reports.size(), 3u);
    const std::string row = "F" + std::string(w / 16 - 2, 'S') + "F\r\n";
    std::string map;
    for (int k = 0; k < h / 16; ++k)
        map += row;
    for (int i = 1; i < 3; ++i) {
        const std::string &st = r.reports[static_cast<size_t>(i)].statistics;
        EXPECT_EQ(r.reports[static_cast<size_t>(i)].type, 'P');
        EXPECT_EQ(st.substr(st.find("\r\n\r\n") + 4), map);
    }
    EXPECT_EQ(FfmpegErrors(dir.File("s.mpg")), "");
}

TEST(MpegEncoderBehaviour, StoppingAfterTheFirstFrameLeavesOneDecodablePicture)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    ZN_REQUIRE_PHOTO("camera");
    ScratchDir dir;
    const int w = 176, h = 144;
    const std::vector<Frame420> pan = MakeColourPan(dir.Path(), w, h, 6, 2, 1);
    ASSERT_EQ(pan.size(), 6u);
    for (int mpeg1 : {1, 0}) {
        int polls = 0;
        const zn::KeyPoller previous = zn::SetKeyPoller([&polls]() { return ++polls == 1; });
        MpegEncoderParams p;
        p.mpeg1 = mpeg1;
        const std::string out = dir.File("stop.mpg");
        const EncodeResult r = EncodeFrames(p, w, h, pan, out, 1, {zn::MsgAnswer::No});
        zn::SetKeyPoller(previous);
        ASSERT_EQ(r.messages.size(), 1u);
        EXPECT_EQ(r.messages[0], "Encoding interrupted by User\nContinue encoding this sequence?");
        EXPECT_EQ(r.reports.size(), 1u);
        const std::vector<unsigned char> bytes = ReadFileBytes(out);
        ASSERT_GE(bytes.size(), 4u);
        EXPECT_EQ(std::vector<unsigned char>(bytes.end() - 4, bytes.end()),
                  (std::vector<unsigned char>{0x00, 0x00, 0x01, 0xB7}));
        int gops = 0, pictures = 0;
        for (size_t i = 0; i + 3 < bytes.size(); ++i)
            if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1) {
                gops += bytes[i + 3] == 0xB8;
                pictures += bytes[i + 3] == 0x00;
            }
        EXPECT_EQ(gops, 1);
        EXPECT_EQ(pictures, 1);
        EXPECT_EQ(FfmpegErrors(out), "");
        EXPECT_EQ(FfmpegDecode(out, w, h).size(), 1u);
    }
}

TEST(MpegEncoderBehaviour, SameInputGivesTheSameBytes)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    ZN_REQUIRE_PHOTO("camera");
    ScratchDir dir;
    const std::vector<Frame420> pan = MakeColourPan(dir.Path(), 96, 64, 7, 2, 1);
    MpegEncoderParams p;
    p.mpeg1 = 0;
    EncodeFrames(p, 96, 64, pan, dir.File("a.mpg"));
    EncodeFrames(p, 96, 64, pan, dir.File("b.mpg"));
    EXPECT_EQ(ReadFileBytes(dir.File("a.mpg")), ReadFileBytes(dir.File("b.mpg")));
}

TEST(MpegEncoderBehaviour, FileSizeMeetsTheBitRateOver100Frames)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    ZN_REQUIRE_PHOTO("camera");
    ScratchDir dir;
    const int w = 352, h = 288, frames = 100;
    // Film grain keeps every picture costly, so the rate control has bits to place at both rates.
    const std::vector<Frame420> pan =
        MakeColourPan(dir.Path(), w, h, frames, 3, 1, "camera", ",noise=alls=12:allf=t");
    ASSERT_EQ(pan.size(), static_cast<size_t>(frames));
    for (float rate : {1150000.f, 5000000.f}) {
        MpegEncoderParams p;
        p.mpeg1 = rate < 2e6f;
        p.bitRate = rate;
        const std::string out = dir.File("rate.mpg");
        EncodeFrames(p, w, h, pan, out);
        const double expected = rate * frames / 25.0 / 8.0;
        const double size = static_cast<double>(zn::FileSize(out));
        EXPECT_NEAR(size / expected, 1.0, 0.10) << rate << " bit/s: " << size << " bytes";
    }
}

TEST(MpegEncoderBehaviour, InterlacedSizesOffThe32GridAndTooFewRows)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    ZN_REQUIRE_PHOTO("camera");
    ScratchDir dir;
    // 48 rows interlaced: the stream declares and codes the 32 rows of whole macroblock pairs.
    const std::vector<Frame420> pan = MakeColourPan(dir.Path(), 64, 48, 4, 1, 1);
    ASSERT_EQ(pan.size(), 4u);
    MpegEncoderParams p;
    p.mpeg1 = 0;
    p.progressive = 0;
    const EncodeResult r = EncodeFrames(p, 64, 48, pan, dir.File("i48.mpg"), 0);
    EXPECT_TRUE(r.messages.empty());
    EXPECT_EQ(FfmpegErrors(dir.File("i48.mpg")), "");
    std::string size;
    zntest::Run("ffprobe -v error -show_entries stream=width,height -of csv=p=0 " +
                    ShellQuote(dir.File("i48.mpg")),
                &size);
    EXPECT_EQ(size.substr(0, 5), "64,32");

    // 16 rows interlaced: refused with a message, and nothing is coded.
    const std::vector<Frame420> thin(2, Frame420(64 * 16 * 3 / 2, 90));
    const EncodeResult t = EncodeFrames(p, 64, 16, thin, dir.File("i16.mpg"), 0);
    EXPECT_FALSE(t.ok);
    EXPECT_EQ(t.messages,
              (std::vector<std::string>{"MpegEncoder: an interlaced sequence needs at least 32 rows"}));
    EXPECT_TRUE(t.reports.empty());

    // Field pictures on the same source: two fields of 16 lines each, no message.
    p.fieldPictures = 1;
    const EncodeResult f = EncodeFrames(p, 64, 48, pan, dir.File("f.mpg"), 0);
    EXPECT_TRUE(f.messages.empty());
    EXPECT_EQ(f.reports.size(), 8u);
    EXPECT_EQ(FfmpegErrors(dir.File("f.mpg")), "");
    EXPECT_EQ(FfmpegDecode(dir.File("f.mpg"), 64, 32).size(), 4u);
}

} // namespace mpgenc_behaviour_test
