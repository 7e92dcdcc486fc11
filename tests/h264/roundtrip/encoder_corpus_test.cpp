// Outside sequences: every raw sequence in $ZANTHO_CORPUS/yuv is coded for its first nine frames, as the
// encoder dialog would code it (layouts other than plain 4:2:0 read into a 4:2:0 copy first), and must
// round-trip through the decoder byte for byte, or be refused with the size message when its sides are
// not multiples of 16. Without the variable the test checks nothing and says so.
#include "h264/support/h264_roundtrip.h"
#include "h264enc/support/encoder_fixture.h"
#include "image/yuv_frame.h"
#include "platform/format.h"
#include "platform/log.h"
#include "platform/messages.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace encoder_corpus_test {

constexpr int kCorpusFrames = 9;

bool IsSequence(const std::string &path)
{
    std::string lower = path;
    for (char &ch : lower)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    auto endsWith = [&](const std::string &ext) {
        return lower.size() > ext.size() && lower.compare(lower.size() - ext.size(), ext.size(), ext) == 0;
    };
    return endsWith(".yuv") || endsWith(".y");
}

// The first `frames` pictures of the sequence as planar 4:2:0 pictures of its cropped size.
bool Write420Copy(CYuvFrame &reader, const std::string &path, int frames, const std::string &copy)
{
    std::vector<unsigned char> out;
    const size_t luma = static_cast<size_t>(reader.Width16()) * reader.Height16();
    for (int n = 1; n <= frames; ++n) {
        if (reader.ReadPicYUV(path, n) != 0)
            return false;
        out.insert(out.end(), reader.Y(), reader.Y() + luma);
        out.insert(out.end(), reader.U(), reader.U() + luma / 4);
        out.insert(out.end(), reader.V(), reader.V() + luma / 4);
    }
    return zntest::WriteFileBytes(copy, out);
}

void CheckSequence(const zntest::ScratchDir &dir, const std::string &path)
{
    zn::MessageRecorder boxes;
    CYuvFrame reader;
    ASSERT_EQ(reader.ReadHeader(path), 0) << "header of " << path;
    const int frames = std::min(reader.Frames(), kCorpusFrames);
    ASSERT_GT(frames, 0);
    // What the dialog sends: the header's sides, and the sequence itself when it is plain 4:2:0.
    const int w = reader.Cols(), h = reader.Rows();
    std::string input = path;
    const bool sizeRefused = w % 16 != 0 || h % 16 != 0;
    if (!sizeRefused && (reader.ChromaFormat() != YUV_CHROMA_420 || reader.Extra() != 0)) {
        ASSERT_TRUE(reader.AllocateYuvFrame());
        input = dir.File("converted.yuv");
        ASSERT_TRUE(Write420Copy(reader, path, frames, input)) << path;
    }
    auto v = enctest::DialogValues(input, w, h, frames, dir.File("corpus.264"));
    v.FrameSkip = 0;
    v.NumberBFrames = 0;
    const enctest::EncodeResult e = enctest::Encode(
        enctest::WriteSettings(dir.Path(), v, {"ReconFile = \"" + dir.File("corpus_rec.yuv") + "\""}));
    if (sizeRefused) {
        ASSERT_FALSE(e.ok);
        EXPECT_EQ(e.message,
                  zn::Format("Unsupported image format x=%d,y=%d, must be a multiple of 16", w, h));
        return;
    }
    ASSERT_TRUE(e.ok) << e.message;
    ASSERT_EQ(e.host.frames.size(), static_cast<size_t>(frames));
    const zntest::H264DecodeResult d =
        zntest::DecodeH264ToYuv(dir.File("corpus.264"), dir.File("corpus_dec.yuv"));
    ASSERT_TRUE(d.ok) << d.message;
    const auto rec = zntest::ReadFileBytes(dir.File("corpus_rec.yuv"));
    const auto dec = zntest::ReadFileBytes(dir.File("corpus_dec.yuv"));
    EXPECT_EQ(rec.size(), static_cast<size_t>(frames) * w * h * 3 / 2);
    EXPECT_TRUE(rec == dec) << "first difference at byte "
                            << enctest::FirstDifference(std::vector<uint8_t>(rec.begin(), rec.end()),
                                                        std::vector<uint8_t>(dec.begin(), dec.end()));
}

TEST(EncoderCorpus, EverySequenceRoundTripsOrGetsTheSizeMessage)
{
    const zn::LogSink old = zn::SetLogSink([](zn::LogLevel, const std::string &) {});
    int checked = 0;
    zntest::ScratchDir dir;
    for (const std::string &path : zntest::CorpusFiles("yuv")) {
        if (!IsSequence(path))
            continue;
        SCOPED_TRACE(path);
        CheckSequence(dir, path);
        ++checked;
    }
    zn::SetLogSink(old);
    std::printf("corpus: %d files checked\n", checked);
}

} // namespace encoder_corpus_test
