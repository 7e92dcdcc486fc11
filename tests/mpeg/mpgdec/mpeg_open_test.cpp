// Opening MPEG streams as documents: the start-code check, the coded size, the bit rate, the title
// and the messages.
#include "image/cdib.h"
#include "mpeg/mpgdec/mpeg_open.h"
#include "platform/messages.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace mpeg_open_test { // one namespace per test file: a folder compiles as one source

namespace {

std::vector<unsigned char> Encode(const zntest::ScratchDir &dir, const std::string &name,
                                  const std::string &size, const std::string &args)
{
    std::string path = dir.File(name);
    std::string cmd = "ffmpeg -v error -y -f lavfi -i testsrc2=size=" + size + ":rate=25 -frames:v 4 " +
                      args + " " + zntest::ShellQuote(path);
    if (zntest::Run(cmd) != 0)
        return {};
    return zntest::ReadFileBytes(path);
}

// Writes the 18-bit bit_rate_value of the leading sequence header.
void SetBitRateValue(std::vector<unsigned char> &b, int value)
{
    b[8] = static_cast<unsigned char>(value >> 10);
    b[9] = static_cast<unsigned char>((value >> 2) & 0xFF);
    b[10] = static_cast<unsigned char>((b[10] & 0x3F) | ((value & 3) << 6));
}

TEST(MpegOpen, CodedSizeBitRateAndTitle)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    zntest::ScratchDir dir;
    auto bytes = Encode(dir, "src.m1v", "350x240", "-c:v mpeg1video -q:v 5");
    ASSERT_GE(bytes.size(), 16u);
    struct Row
    {
        const char *name;
        int bitRateValue;
        int expectedRate;
        const char *title;
    };
    for (Row r : {Row{"movie.m2v", 2500, 1000, "movie"}, Row{".hidden.mpg", 0x3FFFF, -1, ".hidden.mpg"},
                  Row{"clip.v2.m1v", 1, 0, "clip"}}) {
        auto b = bytes;
        SetBitRateValue(b, r.bitRateValue);
        std::string path = dir.File(r.name);
        ASSERT_TRUE(zntest::WriteFileBytes(path, b));
        zn::MessageRecorder rec;
        CDib dib;
        int size = PrepareDibforMpegFile(&dib, path);
        EXPECT_GT(size, 0) << r.name;
        EXPECT_TRUE(rec.Texts().empty()) << r.name;
        EXPECT_EQ(dib.GetWidth(), 352);
        EXPECT_EQ(dib.GetHeight(), 240);
        EXPECT_EQ(dib.GetBitRate(), r.expectedRate) << r.name;
        EXPECT_EQ(dib.m_title, r.title);
        EXPECT_EQ(dib.m_path, path);
        EXPECT_TRUE(dib.IsValid());
    }
}

TEST(MpegOpen, FirstTwoBytesAreNotExamined)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    zntest::ScratchDir dir;
    auto bytes = Encode(dir, "src.m2v", "176x144", "-c:v mpeg2video -bf 2 -q:v 5");
    ASSERT_FALSE(bytes.empty());
    std::vector<unsigned char> b(bytes.size() + 4);
    b[0] = 0x47;
    b[1] = 0x11;
    b[2] = 0x01;
    b[3] = 0xB3;
    std::copy(bytes.begin(), bytes.end(), b.begin() + 4);
    ASSERT_TRUE(zntest::WriteFileBytes(dir.File("x.m2v"), b));
    zn::MessageRecorder rec;
    CDib dib;
    EXPECT_GT(PrepareDibforMpegFile(&dib, dir.File("x.m2v")), 0);
    EXPECT_EQ(dib.GetWidth(), 176);
}

TEST(MpegOpen, SystemStreamsAndOtherChromaFormatsOpen)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    zntest::ScratchDir dir;
    for (const char *args : {"-c:v mpeg1video -q:v 5 -f mpeg", "-c:v mpeg2video -pix_fmt yuv422p -q:v 5",
                             "-c:v mpeg2video -flags +ilme+ildct -q:v 5"}) {
        auto bytes = Encode(dir, "s.mpg", "176x144", args);
        ASSERT_FALSE(bytes.empty()) << args;
        zn::MessageRecorder rec;
        CDib dib;
        EXPECT_GT(PrepareDibforMpegFile(&dib, dir.File("s.mpg")), 0) << args;
        EXPECT_TRUE(rec.Texts().empty()) << args;
        ASSERT_EQ(dib.GetWidth(), 176);
        // testsrc2 is colourful: the first frame is not one flat colour.
        const uint8_t *p = dib.GetBits();
        bool varied = false;
        for (int i = 3; i < 176 * 144 * 3 && !varied; ++i)
            varied = p[i] != p[i % 3];
        EXPECT_TRUE(varied) << args;
    }
}

TEST(MpegOpen, RefusalsCarryTheirMessages)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    zntest::ScratchDir dir;
    struct Row
    {
        std::vector<unsigned char> bytes;
        const char *message;
    };
    auto vob = Encode(dir, "p.vob", "176x144", "-c:v mpeg2video -q:v 5 -f vob");
    ASSERT_FALSE(vob.empty());
    std::vector<Row> rows = {
        {{0x00, 0x01, 0xB3}, "Selected file is not an MPEG file"},
        {{0x00, 0x00, 0x01, 0xB5, 1, 2, 3}, "Selected file is not an MPEG file"},
        {{0x00, 0x00, 0x01, 0xB3}, "MpegDecoder - This is not a valid Mpeg file"},
        {vob, "Mpgdec_NextPacket: Fatal - Error in packet header"},
    };
    for (const Row &r : rows) {
        ASSERT_TRUE(zntest::WriteFileBytes(dir.File("r.mpg"), r.bytes));
        zn::MessageRecorder rec;
        CDib dib;
        EXPECT_EQ(PrepareDibforMpegFile(&dib, dir.File("r.mpg")), -1);
        EXPECT_EQ(rec.Texts(), std::vector<std::string>{r.message});
    }
    zn::MessageRecorder rec;
    CDib dib;
    EXPECT_EQ(PrepareDibforMpegFile(&dib, dir.File("missing.mpg")), -1);
    EXPECT_EQ(rec.Texts(), std::vector<std::string>{"Sorry, MPEG File not Found"});
}

} // namespace

} // namespace mpeg_open_test
