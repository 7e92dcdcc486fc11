// The ".hdr" header of raw sequences: where it is found, its grammar, and the refusal of corrupt,
// truncated or unreasonable headers with a message and result 1.
#include "image/yuv_frame.h"
#include "platform/messages.h"
#include "support/test_support.h"
#include "yuv_fixtures.h"

#include <gtest/gtest.h>

namespace yuv_header_test { // one namespace per test file: a folder compiles as one source

using yuvtest::HeaderText;
using yuvtest::WriteText;

TEST(YuvHeader, CommentsThenFiveValuesGiveTheSequence)
{
    zntest::ScratchDir dir;
    WriteText(dir.File("seq.hdr"), "/* one\n/* two\n/* three\n/* four\n288\n352\n1\n2\n10\n");
    zn::MessageRecorder rec;
    CYuvFrame f;
    ASSERT_EQ(f.ReadHeader(dir.File("seq.yuv")), 0);
    EXPECT_EQ(rec.Count(), 0u);
    EXPECT_EQ(f.Rows(), 288);
    EXPECT_EQ(f.Cols(), 352);
    EXPECT_EQ(f.Progressive(), 1);
    EXPECT_EQ(f.ChromaFormat(), 2);
    EXPECT_EQ(f.Frames(), 10);
    EXPECT_EQ(f.Extra(), 0);
    EXPECT_EQ(f.HeaderRead(), 1);
    EXPECT_EQ(f.Width16(), 352);
    EXPECT_EQ(f.Height16(), 288);
    // One 4:2:0 frame of 288 x 352 is 152064 bytes, so frame 3 starts at 304128.
    EXPECT_EQ(YuvFrameBytes(288, 352, 2), 152064);
}

// Grammar details: blank-line runs, CR LF, trailing text, indented comments taking a value's place.
TEST(YuvHeader, GrammarOfValueLines)
{
    struct Case
    {
        std::string text;
        int rows, cols, progressive, format, frames, extra;
    };
    const Case cases[] = {
        {"32\n48\n0\n1\n7\n", 32, 48, 0, 1, 7, 0},
        {"32\r\n48\r\n1\r\n2\r\n3\r\n5\r\n", 32, 48, 1, 2, 3, 5},
        {"/*c\n\n\n32\n\n48  rows are 48?\n 1\n\t2\n3 frames\n9\n1234\n", 32, 48, 1, 2, 3, 9},
        {"32\n48\n1\n2\n3\n0\n/* after the sixth value nothing is read\n-5\n", 32, 48, 1, 2, 3, 0},
        {"+32\n48\n1\n0\n3\n", 32, 48, 1, 0, 3, 0},
        // "  /* x" is no comment: it takes the progressive slot and leaves it 0.
        {"32\n48\n  /* indented\n2\n3\n", 32, 48, 0, 2, 3, 0},
        {"/* a comment line of any length " + std::string(5000, 'x') + "\n32\n48\n1\n2\n3\n", 32, 48, 1, 2, 3,
         0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        zntest::ScratchDir dir;
        WriteText(dir.File("a.hdr"), c.text);
        zn::MessageRecorder rec;
        CYuvFrame f;
        ASSERT_EQ(f.ReadHeader(dir.File("a.yuv")), 0) << (rec.Count() ? rec.Texts()[0] : "");
        EXPECT_EQ(f.Rows(), c.rows);
        EXPECT_EQ(f.Cols(), c.cols);
        EXPECT_EQ(f.Progressive(), c.progressive);
        EXPECT_EQ(f.ChromaFormat(), c.format);
        EXPECT_EQ(f.Frames(), c.frames);
        EXPECT_EQ(f.Extra(), c.extra);
    }
}

TEST(YuvHeader, CorruptOrTruncatedHeadersAreRefusedWithTheirMessage)
{
    const std::string incomplete = "Header file is not complete";
    const std::string negative = "Image dimensions are negative in header file";
    const std::string tooSmall = "Image dimensions in header file are too small";
    const std::string tooLarge = "Image dimensions in header file are too large";
    struct Case
    {
        std::string text, message;
    };
    const Case cases[] = {
        {"", incomplete},
        {"/* only comments\n/*\n", incomplete},
        {"288\n352\n1\n2\n", incomplete},
        {"288\n352\n1", incomplete},
        {"\x01\x02\xff\n\x00\x00", incomplete},
        {"-1\n352\n1\n2\n10\n", negative},
        {"288\n-352\n1\n2\n10\n", negative},
        {"-1\n", negative},
        {"99999999999999999999\n352\n1\n2\n10\n", tooLarge},
        {"-99999999999999999999\n352\n1\n2\n10\n", negative},
        {"20000\n20000\n1\n2\n10\n", tooLarge},
        {"16384\n16384\n1\n2\n10\n", tooLarge},
        {"15\n352\n1\n2\n10\n", tooSmall},
        {"288\n0\n1\n2\n10\n", tooSmall},
        {"text\nmore text\nthird\nfourth\nfifth\n", tooSmall},
        {"288\n352\n1\n2\n0\n", "Number of frames in header file is not positive"},
        {"288\n352\n1\n2\n-3\n", "Number of frames in header file is not positive"},
        {"288\n352\n1\n2\n10\n-1\n", "Extra bytes per frame are negative in header file"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        zntest::ScratchDir dir;
        WriteText(dir.File("bad.hdr"), c.text);
        zn::MessageRecorder rec;
        CYuvFrame f;
        EXPECT_EQ(f.ReadHeader(dir.File("bad.yuv")), 1);
        ASSERT_EQ(rec.Count(), 1u);
        EXPECT_EQ(rec.Texts()[0].rfind(c.message, 0), 0u) << rec.Texts()[0];
        // A refused header leaves the reader empty, so no later read uses its values.
        EXPECT_EQ(f.Rows(), 0);
        EXPECT_EQ(f.Cols(), 0);
        EXPECT_EQ(f.Frames(), 0);
        EXPECT_EQ(f.HeaderRead(), 0);
    }
}

TEST(YuvHeader, MissingHeaderIsReported)
{
    zntest::ScratchDir dir;
    zn::MessageRecorder rec;
    CYuvFrame f;
    EXPECT_EQ(f.ReadHeader(dir.File("none.yuv")), 1);
    EXPECT_TRUE(rec.Contains("Header file for image sequence cannot be opened"));
}

TEST(YuvHeader, HeaderNamesFromTheSequenceName)
{
    struct Case
    {
        std::string seq;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"/d/clip.yuv", {"/d/clip.hdr"}},
        {"/d/clip.y", {"/d/clip.hdr"}},
        {"/d/SEQ.YUV", {"/d/SEQ.hdr", "/d/seq.hdr"}},
        {"/Data/Clip.Y", {"/Data/Clip.hdr", "/Data/clip.hdr"}},
        {"/d/my.yellow.yuv", {"/d/my.yellow.hdr"}},
        {"/d/noext", {"/d/noext.hdr"}},
        // The directory is neither searched nor lower-cased.
        {"/Set.YUV/cut.yuv", {"/Set.YUV/cut.hdr"}},
        {"rel/x.yuv", {"rel/x.hdr"}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(YuvHeaderCandidates(c.seq), c.expected) << c.seq;
}

// Headers beside upper-case sequence names: the original case first, then the lower-cased name.
TEST(YuvHeader, UpperCaseSequenceNamesFindTheirHeader)
{
    const struct
    {
        const char *seq, *hdr;
    } cases[] = {
        {"SEQ.YUV", "seq.hdr"}, {"Clip.YUV", "Clip.hdr"}, {"clip.y", "clip.hdr"}, {"MIX.y", "MIX.hdr"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.seq);
        zntest::ScratchDir dir;
        const std::string sub = dir.File("Upper/");
        ASSERT_EQ(zntest::Run("mkdir " + zntest::ShellQuote(sub)), 0);
        WriteText(sub + c.hdr, HeaderText(16, 16, 1, 0, 1));
        zn::MessageRecorder rec;
        CYuvFrame f;
        EXPECT_EQ(f.ReadHeader(sub + c.seq), 0);
        EXPECT_EQ(f.Rows(), 16);
    }
}

} // namespace yuv_header_test
