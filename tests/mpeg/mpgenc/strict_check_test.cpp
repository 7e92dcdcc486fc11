// ffmpeg's strict bitstream check as the encoder's oracle: what it reports on streams that are sound.
// Its own streams pass; four end-code bytes appended to them are reported as bits left in the last
// slice; a field pair is one packet to it, so a first field leaves the whole second field. Our streams
// without their end code pass with no report at all, and a stray byte after a slice is caught.
#include "mpeg/mpgdec/field_stream.h"
#include "mpeg/mpgenc/encoder_support.h"
#include "mpeg/support/strict_check.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <sstream>

namespace strict_check_test { // one namespace per test file: a folder compiles as one source

using namespace zntest;

namespace {

const std::vector<uint8_t> kEndCode = {0x00, 0x00, 0x01, 0xB7};

void WriteBytes(const std::string &path, const std::vector<uint8_t> &bytes)
{
    ASSERT_TRUE(WriteFileBytes(path, std::vector<unsigned char>(bytes.begin(), bytes.end())));
}

std::vector<uint8_t> Bytes(const std::string &path)
{
    const std::vector<unsigned char> b = ReadFileBytes(path);
    return {b.begin(), b.end()};
}

// Offsets of the picture start codes (00 00 01 00) and of the first end code.
std::vector<size_t> PictureStarts(const std::vector<uint8_t> &s, size_t &endCode)
{
    std::vector<size_t> starts;
    endCode = s.size();
    for (size_t i = 0; i + 3 < s.size(); ++i)
        if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1) {
            if (s[i + 3] == 0x00)
                starts.push_back(i);
            else if (s[i + 3] == 0xB7 && endCode == s.size())
                endCode = i;
        }
    return starts;
}

} // namespace

TEST(FfmpegStrictCheck, FfmpegsOwnStreamsPassAndAnEndCodeIsCountedAsBitsLeft)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    ScratchDir dir;
    // ffmpeg writes no sequence end code into an elementary stream.
    for (const char *codec : {"-c:v mpeg1video -f mpeg1video", "-c:v mpeg2video -f mpeg2video",
                              "-c:v mpeg2video -flags +ilme+ildct -f mpeg2video"}) {
        SCOPED_TRACE(codec);
        const std::string path = dir.File("ff.mpv");
        ASSERT_EQ(
            zntest::Run(
                "ffmpeg -v error -y -f lavfi -i testsrc2=size=176x144:rate=25 -frames:v 4 -bf 1 -q:v 6 " +
                std::string(codec) + " " + ShellQuote(path)),
            0);
        std::vector<uint8_t> s = Bytes(path);
        ASSERT_GE(s.size(), 4u);
        ASSERT_NE(std::vector<uint8_t>(s.end() - 4, s.end()), kEndCode);
        const StrictReport clean = FfmpegStrictReport(path);
        EXPECT_TRUE(clean.left.empty());
        EXPECT_EQ(clean.other, "");

        s.insert(s.end(), kEndCode.begin(), kEndCode.end());
        WriteBytes(path, s);
        const StrictReport ended = FfmpegStrictReport(path);
        ASSERT_EQ(ended.left.size(), 1u);
        EXPECT_GE(ended.left[0], 32);
        EXPECT_LE(ended.left[0], 39);
        EXPECT_FALSE(ended.nonZeroLeft);
        EXPECT_EQ(FfmpegStrictCheck(path), "");
    }
}

// ffmpeg writes no field pictures; the test-side writer does, independently of the encoder.
TEST(FfmpegStrictCheck, AFieldPairIsOnePacketSoTheFirstFieldLeavesTheSecond)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    ScratchDir dir;
    const int frames = 3;
    const std::vector<uint8_t> s =
        FieldCodedStream(64, 64, frames, [](int f, int field, int c, int x, int y) {
            return 40 + 7 * f + 30 * field + x + y + c;
        });
    const std::string path = dir.File("fields.m2v");
    WriteBytes(path, s);

    // Its parser hands the decoder one packet per frame, both field pictures in it.
    std::string trace;
    zntest::Run("ffmpeg -v trace -i " + ShellQuote(path) + " -c:v copy -bsf:v trace_headers -f null - 2>&1",
                &trace);
    std::istringstream lines(trace);
    std::string line;
    std::vector<int> picturesPerPacket;
    while (std::getline(lines, line)) {
        if (line.find("trace_headers") == std::string::npos)
            continue;
        if (line.find("] Packet: ") != std::string::npos)
            picturesPerPacket.push_back(0);
        else if (line.find("] Picture Header") != std::string::npos && !picturesPerPacket.empty())
            ++picturesPerPacket.back();
    }
    EXPECT_EQ(picturesPerPacket, std::vector<int>(frames, 2));

    // So after each first field the second is left over, and after the last field the end code.
    size_t endCode = 0;
    const std::vector<size_t> starts = PictureStarts(s, endCode);
    ASSERT_EQ(starts.size(), 2u * frames);
    const StrictReport r = FfmpegStrictReport(path);
    EXPECT_EQ(r.other, "");
    EXPECT_FALSE(r.nonZeroLeft);
    ASSERT_EQ(r.left.size(), frames + 1u);
    for (int f = 0; f < frames; ++f) {
        const size_t secondEnd = f + 1 < frames ? starts[2 * f + 2] : s.size();
        const long bits = static_cast<long>(8 * (secondEnd - starts[2 * f + 1]));
        EXPECT_GE(r.left[f], bits) << "frame " << f;
        EXPECT_LE(r.left[f], bits + 7) << "frame " << f;
    }
    EXPECT_GE(r.left[frames], 32);
    EXPECT_LE(r.left[frames], 39);
    EXPECT_EQ(s.size() - endCode, 4u);
    EXPECT_EQ(FfmpegStrictCheck(path), "");
}

TEST(FfmpegStrictCheck, OurStreamsWithoutTheirEndCodePassAndAStrayByteIsCaught)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    ZN_REQUIRE_PHOTO("camera");
    ScratchDir dir;
    const int w = 64, h = 64, frames = 4;
    const std::vector<Frame420> pan = MakeColourPan(dir.Path(), w, h, frames, 3, 1, "camera", "", 300, 300);
    ASSERT_EQ(pan.size(), static_cast<size_t>(frames));
    struct Case
    {
        const char *name;
        int mpeg1, progressive, fieldPictures;
    };
    for (const Case &c : {Case{"MPEG-1", 1, 1, 0}, Case{"MPEG-2", 0, 1, 0},
                          Case{"interlaced frames", 0, 0, 0}, Case{"field pictures", 0, 0, 1}}) {
        SCOPED_TRACE(c.name);
        MpegEncoderParams p;
        p.mpeg1 = c.mpeg1;
        p.progressive = c.progressive;
        p.fieldPictures = c.fieldPictures;
        p.N = 3;
        p.M = 2;
        p.bitRate = 300000.f;
        const std::string path = dir.File("ours.mpg");
        ASSERT_TRUE(EncodeFrames(p, w, h, pan, path, c.progressive).ok);
        EXPECT_EQ(FfmpegErrors(path), "");
        const std::vector<uint8_t> s = Bytes(path);
        ASSERT_EQ(std::vector<uint8_t>(s.end() - 4, s.end()), kEndCode);

        const std::string cut = dir.File("cut.mpg");
        WriteBytes(cut, std::vector<uint8_t>(s.begin(), s.end() - 4));
        const StrictReport r = FfmpegStrictReport(cut);
        EXPECT_EQ(r.other, "");
        // Frame pictures leave nothing; each first field leaves its second field.
        EXPECT_EQ(r.left.size(), c.fieldPictures ? static_cast<size_t>(frames) : 0u);
        EXPECT_EQ(FfmpegStrictCheck(cut), "");

        std::vector<uint8_t> stray = s;
        stray.insert(stray.end() - 4, 0x80);
        const std::string bad = dir.File("stray.mpg");
        WriteBytes(bad, stray);
        EXPECT_NE(FfmpegStrictCheck(bad), "");
    }
}

} // namespace strict_check_test
