// Opening an H.264 stream as a document image: the start-code test, the title, the first picture in
// colour, the refusals with their messages (streams of other encoders among them), damaged files,
// and the outside corpus decoded by the round-trip hook.
#include "h264/support/h264_roundtrip.h"
#include "h264/support/picture_model.h"
#include "h264/support/recording_host.h"
#include "h264/support/run_streams.h"
#include "h264/support/stream_plan.h"
#include "h264dec/stream_open.h"
#include "image/cdib.h"
#include "platform/messages.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace open_test { // one namespace per test file: a folder compiles as one source

namespace {

using namespace h264test;

struct Opened
{
    int result = 0;
    CDib dib;
    std::vector<std::string> messages;
};

// Opens the file as the document does, with the leaky-bucket file of the user's folder (here the
// stream's own folder, where it is written first unless `buckets` is false).
std::unique_ptr<Opened> Open(const std::string &path, bool buckets = true)
{
    auto o = std::make_unique<Opened>();
    const std::string folder = path.substr(0, path.rfind('/') + 1);
    if (buckets) {
        EXPECT_FALSE(WriteLeakyBucketFile(folder).empty());
    }
    zn::MessageRecorder boxes;
    o->result = PrepareDibforH264File(&o->dib, path, folder + "H264LeakyBucketParam.cfg");
    o->messages = boxes.Texts();
    return o;
}

std::unique_ptr<Opened> OpenBytes(zntest::ScratchDir &dir, const std::string &name,
                                  const std::vector<uint8_t> &bytes)
{
    const std::string path = dir.File(name);
    EXPECT_TRUE(WriteBytes(path, bytes));
    return Open(path);
}

const std::string kNotH264 = "Selected file is not an H.264 file";

TEST(H264Open, AFourByteStartCodeOpensTheFirstPictureInColour)
{
    zntest::ScratchDir dir;
    const std::vector<uint8_t> bytes = IbbpStream(true);
    ASSERT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 5),
              (std::vector<uint8_t>{0, 0, 0, 1, 0x67}));
    auto o = OpenBytes(dir, "clip.264", bytes);
    EXPECT_TRUE(o->messages.empty());
    ASSERT_EQ(o->result, o->dib.m_nBlockSize);
    EXPECT_GT(o->result, 48 * 32 * 3);
    EXPECT_TRUE(o->dib.IsValid());
    EXPECT_EQ(o->dib.m_title, "clip");
    EXPECT_EQ(o->dib.m_path, dir.File("clip.264"));
    EXPECT_EQ(o->dib.GetBitRate(), -1);
    ASSERT_EQ(o->dib.GetWidth(), 48);
    ASSERT_EQ(o->dib.GetHeight(), 32);
    const DecodeRunResult ref = DecodeRun(bytes);
    const Picture &i0 = ref.sink->output.at(0);
    std::vector<uint8_t> y(i0.y.begin(), i0.y.end()), u(i0.u.begin(), i0.u.end()),
        v(i0.v.begin(), i0.v.end());
    EXPECT_EQ(Pixels(o->dib), ConvertedPixels(48, 32, y.data(), u.data(), v.data(), false));

    // A name that starts with its dot keeps it.
    auto dotted = OpenBytes(dir, ".264", bytes);
    EXPECT_EQ(dotted->result, dotted->dib.m_nBlockSize);
    EXPECT_EQ(dotted->dib.m_title, ".264");
}

// A stream coded in field pairs: the document, and the run's output, get whole frames.
TEST(H264Open, AFieldCodedStreamOpensAsItsWholeFirstFrame)
{
    StreamPlan plan;
    plan.frames_only = false;
    plan.width_mbs = 2;
    plan.height_mbs = 4;
    std::vector<Picture> frames;
    for (int pair = 0; pair < 2; ++pair) {
        Picture fields[2];
        for (int f = 0; f < 2; ++f) {
            std::vector<MbSpec> mbs;
            for (int k = 0; k < 4; ++k)
                mbs.push_back(MbSpec::I16(7 * (k + 1) * (f ? -1 : 1) + pair, 2));
            plan.pictures.push_back(MakePicture(7, pair, 4 * pair + f, mbs, f + 1));
            fields[f] = IntraDcPicture(2, 2, mbs, {0, 0, 0, 0}, 28);
        }
        frames.push_back(Picture::Interleave(fields[0], fields[1]));
    }
    zntest::ScratchDir dir;
    const std::vector<uint8_t> bytes = plan.Write(false);
    auto o = OpenBytes(dir, "fields.264", bytes);
    EXPECT_TRUE(o->messages.empty());
    ASSERT_EQ(o->dib.GetWidth(), 32);
    ASSERT_EQ(o->dib.GetHeight(), 64);
    auto planes = [](const Picture &p) {
        std::vector<uint8_t> all;
        for (const auto *plane : {&p.y, &p.u, &p.v})
            all.insert(all.end(), plane->begin(), plane->end());
        return all;
    };
    const std::vector<uint8_t> first = planes(frames[0]);
    EXPECT_EQ(Pixels(o->dib), ConvertedPixels(32, 64, first.data(), first.data() + 32 * 64,
                                              first.data() + 32 * 64 * 5 / 4, false));

    const std::string out = dir.File("fields.yuv");
    ASSERT_TRUE(zntest::DecodeH264ToYuv(dir.File("fields.264"), out).ok);
    std::vector<uint8_t> want = first, second = planes(frames[1]);
    want.insert(want.end(), second.begin(), second.end());
    const std::vector<unsigned char> got = zntest::ReadFileBytes(out);
    EXPECT_TRUE(std::equal(want.begin(), want.end(), got.begin(), got.end()));
}

TEST(H264Open, FilesThatAreNotH264StreamsAreRefusedWithTheirMessage)
{
    zntest::ScratchDir dir;
    const std::vector<uint8_t> stream = IbbpStream(false);
    const std::vector<uint8_t> three(stream.begin() + 1, stream.end()); // 00 00 01 67: byte 2 is 01
    // The parameter sets and nothing after them: the stream up to its first slice unit.
    size_t slice = 0;
    while (slice + 4 < stream.size() &&
           !(stream[slice] == 0 && stream[slice + 1] == 0 && stream[slice + 2] == 1 &&
             ((stream[slice + 3] & 0x1f) == 1 || (stream[slice + 3] & 0x1f) == 5)))
        ++slice;
    const std::vector<uint8_t> sets(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(slice));
    struct Case
    {
        const char *name;
        std::vector<uint8_t> bytes;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"three.264", three, kNotH264},
        {"short.264", {0, 0, 0}, kNotH264},
        {"empty.264", {}, kNotH264},
        {"text.264", {'h', 'e', 'l', 'l', 'o'}, kNotH264},
        {"sets.264", sets, "The H.264 file " + dir.File("sets.264") + " holds no picture"},
    };
    for (const Case &c : cases) {
        auto o = OpenBytes(dir, c.name, c.bytes);
        EXPECT_EQ(o->result, -1) << c.name;
        EXPECT_FALSE(o->dib.IsValid()) << c.name;
        EXPECT_EQ(o->messages, std::vector<std::string>{c.message}) << c.name;
    }
    auto missing = Open(dir.File("missing.264"));
    EXPECT_EQ(missing->result, -1);
    EXPECT_EQ(missing->messages, std::vector<std::string>{"Sorry, H.264 File not Found"});
}

// The decoder needs the leaky-bucket file that the encoder leaves in the user's folder: without it the
// stream is not opened, with the one message.
TEST(H264Open, WithoutTheLeakyBucketFileTheStreamIsNotOpened)
{
    zntest::ScratchDir dir;
    const std::string path = dir.File("clip.264");
    ASSERT_TRUE(WriteBytes(path, IbbpStream(false)));
    auto o = Open(path, false);
    EXPECT_EQ(o->result, -1);
    EXPECT_FALSE(o->dib.IsValid());
    EXPECT_EQ(o->messages,
              std::vector<std::string>{"Error open file " + dir.File("H264LeakyBucketParam.cfg") + " \n"});
}

TEST(H264Open, AFileThatCannotBeReadIsRefused)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root reads every file";
    zntest::ScratchDir dir;
    const std::string path = dir.File("locked.264");
    ASSERT_TRUE(WriteBytes(path, IbbpStream(false)));
    ASSERT_EQ(chmod(path.c_str(), 0), 0);
    auto o = Open(path);
    EXPECT_EQ(o->result, -1);
    EXPECT_EQ(o->messages, std::vector<std::string>{"Sorry, Access Denied to H.264 file"});
}

// Streams of standard encoders use the final syntax: refused with the profile message, nothing opened.
TEST(H264Open, StreamsOfX264AndFfmpegAreRefusedWithTheProfileMessage)
{
    ZN_REQUIRE_TOOL("x264");
    ZN_REQUIRE_TOOL("ffmpeg");
    zntest::ScratchDir dir;
    const std::string yuv = dir.File("in.yuv");
    ASSERT_EQ(
        zntest::Run("ffmpeg -v error -f lavfi -i testsrc=size=64x48:rate=25 -frames:v 3 -pix_fmt yuv420p -f "
                    "rawvideo " +
                    zntest::ShellQuote(yuv)),
        0);
    const std::string x264 = dir.File("x264.264"), ff = dir.File("ffmpeg.264");
    ASSERT_EQ(zntest::Run("x264 --quiet --input-res 64x48 --fps 25 -o " + zntest::ShellQuote(x264) + " " +
                          zntest::ShellQuote(yuv) + " 2>/dev/null"),
              0);
    ASSERT_EQ(zntest::Run("ffmpeg -v error -f rawvideo -pix_fmt yuv420p -s 64x48 -i " +
                          zntest::ShellQuote(yuv) + " -c:v libx264 -f h264 " + zntest::ShellQuote(ff)),
              0);
    for (const std::string &path : {x264, ff}) {
        auto o = Open(path);
        EXPECT_EQ(o->result, -1) << path;
        EXPECT_FALSE(o->dib.IsValid());
        ASSERT_EQ(o->messages.size(), 1u) << path;
        EXPECT_NE(o->messages[0].find("final standard's syntax (profile_idc"), std::string::npos)
            << o->messages[0];
        const zntest::H264DecodeResult r = zntest::DecodeH264ToYuv(path, dir.File("out.yuv"));
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.message, o->messages[0]);
    }
}

TEST(H264Open, DamagedFilesAreOpenedOrRefusedWithOneMessage)
{
    zntest::ScratchDir dir;
    const std::string path = dir.File("damaged.264");
    for (const bool cabac : {false, true}) {
        const std::vector<uint8_t> bytes = IbbpStream(cabac);
        auto check = [&](const std::vector<uint8_t> &b, const std::string &what) {
            ASSERT_TRUE(WriteBytes(path, b));
            auto o = Open(path);
            EXPECT_LE(o->messages.size(), 1u) << what;
            if (o->result >= 0) {
                EXPECT_TRUE(o->dib.IsValid()) << what;
                EXPECT_EQ(o->result, o->dib.m_nBlockSize) << what;
            } else {
                EXPECT_EQ(o->messages.size(), 1u) << what;
            }
        };
        for (size_t cut = 0; cut < bytes.size(); cut += 5)
            check(std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut)),
                  "cut at " + std::to_string(cut));
        std::mt19937 rng(cabac ? 11 : 7);
        for (int trial = 0; trial < 60; ++trial) {
            std::vector<uint8_t> b = bytes;
            for (int k = 0; k < 3; ++k)
                b[4 + rng() % (b.size() - 4)] ^= static_cast<uint8_t>(1u << (rng() % 8));
            check(b, "flip trial " + std::to_string(trial));
        }
    }
}

// Every stream in $ZANTHO_CORPUS/h264 decodes or is refused with the profile message; a <name>.yuv
// beside it holds the pictures the decoder must put out.
TEST(H264Open, CorpusStreamsDecodeOrAreRefused)
{
    zntest::ScratchDir dir;
    int checked = 0;
    for (const std::string &file : zntest::CorpusFiles("h264")) {
        const std::string lower = file.substr(file.size() >= 4 ? file.size() - 4 : 0);
        if (lower == ".yuv" || lower == ".hdr")
            continue;
        const std::string out = dir.File("corpus.yuv");
        const zntest::H264DecodeResult r = zntest::DecodeH264ToYuv(file, out);
        if (!r.ok) {
            EXPECT_NE(r.message.find("final standard's syntax (profile_idc"), std::string::npos)
                << file << ": " << r.message;
            ++checked;
            continue;
        }
        const size_t dot = file.rfind('.');
        const std::string beside = (dot == std::string::npos ? file : file.substr(0, dot)) + ".yuv";
        if (FILE *f = std::fopen(beside.c_str(), "rb")) {
            std::fclose(f);
            EXPECT_TRUE(zntest::ReadFileBytes(out) == zntest::ReadFileBytes(beside)) << file;
        }
        ++checked;
    }
    std::printf("corpus: %d files checked\n", checked);
}

} // namespace

} // namespace open_test
