// The decoding run end to end through a recording dialog stand-in: the result text of a whole run, the
// document's titles and the save file in output order, the two questions between pictures with their
// remembered answer, the advisory lines, the banner in the log, the output file and the round-trip
// hook, and the comparison against a reference sequence.
#include "h264/support/h264_roundtrip.h"
#include "h264/support/picture_model.h"
#include "h264/support/recording_host.h"
#include "h264/support/run_streams.h"
#include "h264/support/stream_plan.h"
#include "h264dec/decoder_run.h"
#include "h264dec/decoder_state.h"
#include "h264dec/picture_control.h"
#include "platform/keypoll.h"
#include "platform/log.h"
#include "platform/messages.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <regex>

namespace run_test { // one namespace per test file: a folder compiles as one source

namespace {

using namespace h264test;
using zn::MsgAnswer;

// The per-picture text of the run's pictures, in the layout picture control writes.
std::string PictureText(int display, int order, const char *type, const std::vector<int> &modes)
{
    static const char *const kLabels[10] = {
        "Mode 0 - Direct", "Mode 1 - 16x16", "Mode 2 - 8x16", "Mode 3 - 16x8", "Mode 4 - 8x8",
        "Mode 5 - 4x8",    "Mode 6 - 8x4",   "Mode 7 - 4x4",  "Intra MB 4x4",  "Intra MB 16x16"};
    std::string t = zn::Format("Display Order\t\t: %d\r\nBit Stream Order\t\t: %d\r\nPicture Type\t\t: %s",
                               display, order, type);
    for (int k = 0; k < 10; ++k)
        t += zn::Format("\r\n\t%s\t: %d", kLabels[k], modes[static_cast<size_t>(k)]);
    return t + "\r\n\r\n";
}

const std::string kMaxLine = "\r\nMax MB Bits Usage\t\t= # [bits]\r\n";

// The run's text with the bit counts of its "Max MB Bits Usage" lines replaced by '#', and those counts.
std::string MaskMaxBits(const std::string &text, std::vector<int> *counts)
{
    static const std::regex kLine("Max MB Bits Usage\t\t= (\\d+) \\[bits\\]");
    std::string out;
    auto begin = std::sregex_iterator(text.begin(), text.end(), kLine);
    size_t last = 0;
    for (auto it = begin; it != std::sregex_iterator(); ++it) {
        counts->push_back(std::stoi((*it)[1]));
        out += text.substr(last, static_cast<size_t>(it->position(1)) - last) + "#";
        last = static_cast<size_t>(it->position(1) + it->length(1));
    }
    return out + text.substr(last);
}

struct RunFixture
{
    zntest::ScratchDir dir;
    std::string stream, buckets;
    RecordingHost host;
    zn::MessageRecorder boxes;
    explicit RunFixture(const std::vector<uint8_t> &bytes)
    {
        stream = dir.File("clip.264");
        EXPECT_TRUE(WriteBytes(stream, bytes));
        buckets = WriteLeakyBucketFile(dir.Path());
        EXPECT_FALSE(buckets.empty());
    }
    void Decode(bool frameByFrame = false, bool mbBits = false)
    {
        H264Decoder(stream, "", buckets, frameByFrame, mbBits, &host);
    }
};

// A key poll that answers from a list, one entry per poll (false after its end).
struct ScriptedKeys
{
    std::vector<bool> presses;
    size_t polls = 0;
    zn::KeyPoller previous;
    explicit ScriptedKeys(std::vector<bool> p) : presses(std::move(p))
    {
        previous = zn::SetKeyPoller([this] {
            const bool pressed = polls < presses.size() && presses[polls];
            ++polls;
            return pressed;
        });
    }
    ~ScriptedKeys() { zn::SetKeyPoller(previous); }
};

const std::vector<int> kIModes = {0, 0, 0, 0, 0, 0, 0, 0, 6, 0};
const std::vector<int> kPModes = {0, 5, 0, 0, 0, 0, 0, 0, 0, 1};
const std::vector<int> kBModes = {0, 6, 0, 0, 0, 0, 0, 0, 0, 0};

TEST(H264Run, ResultTextOfAnIbbpRunIsInDecodingOrderWithMaxBitsLinesAndSummary)
{
    for (const bool cabac : {false, true}) {
        const std::vector<uint8_t> bytes = IbbpStream(cabac);
        RunFixture run(bytes);
        run.Decode(false, true);
        std::vector<int> maxBits;
        const std::string want =
            PictureText(1, 1, "I", kIModes) + kMaxLine + PictureText(4, 2, "P", kPModes) + kMaxLine +
            PictureText(2, 3, "B", kBModes) + kMaxLine + PictureText(3, 4, "B", kBModes) +
            "Number of Frames Decoded\t: 4\r\n\tI: 1;    P: 1;    B: 2";
        EXPECT_EQ(MaskMaxBits(run.host.text, &maxBits), want) << cabac;
        // No line after the last picture; each count is one macroblock's share of its picture.
        ASSERT_EQ(maxBits.size(), 3u);
        for (int bits : maxBits) {
            EXPECT_GT(bits, 0);
            EXPECT_LT(bits, static_cast<int>(8 * bytes.size()));
        }
        EXPECT_EQ(run.boxes.Count(), 0u);

        // Without the bits view there are no such lines.
        RunFixture quiet(bytes);
        quiet.Decode(false, false);
        EXPECT_EQ(quiet.host.text.find("Max MB Bits"), std::string::npos);
    }
}

TEST(H264Run, DocumentAndSaveFileGetThePicturesInOutputOrder)
{
    const std::vector<uint8_t> bytes = IbbpStream(false, 3, 2, 2);
    RunFixture run(bytes);
    const std::string yuv = run.dir.File("saved.yuv");
    run.host.save = std::make_unique<CYuvFileWriter>(yuv);
    run.Decode();
    run.host.save.reset();
    // Decoding order I0 P3 B1 B2 P6 B4 B5; the titles name the picture number as it stands when the
    // picture goes out, and the frame counter that this output takes.
    const std::vector<DocumentDisplay> want = {{1, 1, "I"}, {2, 2, "B"}, {2, 3, "B"}, {2, 4, "P"},
                                               {3, 5, "B"}, {3, 6, "B"}, {3, 7, "P"}};
    EXPECT_EQ(run.host.displays, want);
    EXPECT_EQ(run.host.counter, 8);

    const DecodeRunResult ref = DecodeRun(bytes);
    ASSERT_FALSE(ref.failed) << ref.message;
    ASSERT_EQ(ref.sink->output.size(), 7u);
    const std::vector<unsigned char> saved = zntest::ReadFileBytes(yuv);
    const size_t frame = 48 * 32 * 3 / 2;
    ASSERT_EQ(saved.size(), 7 * frame);
    for (size_t k = 0; k < 7; ++k) {
        const Picture &p = ref.sink->output[k];
        std::vector<unsigned char> planes;
        for (const auto *plane : {&p.y, &p.u, &p.v})
            for (int s : *plane)
                planes.push_back(static_cast<unsigned char>(s));
        EXPECT_TRUE(
            std::equal(planes.begin(), planes.end(), saved.begin() + static_cast<std::ptrdiff_t>(k * frame)))
            << "frame " << k;
    }
    // The document keeps the last picture put out (P6), converted to colour.
    const Picture &last = ref.sink->output.back();
    std::vector<uint8_t> y(last.y.begin(), last.y.end()), u(last.u.begin(), last.u.end()),
        v(last.v.begin(), last.v.end());
    EXPECT_EQ(Pixels(run.host.document), ConvertedPixels(48, 32, y.data(), u.data(), v.data(), false));
    const std::vector<unsigned char> header = zntest::ReadFileBytes(run.dir.File("saved.hdr"));
    EXPECT_FALSE(header.empty());
}

TEST(H264Run, AStreamOfOnePictureAsksNothingAndSummarisesOneFrame)
{
    RunFixture run(IntraStream(false));
    ScriptedKeys keys({true, true, true});
    run.Decode(true, true);
    EXPECT_EQ(run.boxes.Count(), 0u);
    EXPECT_EQ(keys.polls, 0u);
    EXPECT_EQ(run.host.displays, (std::vector<DocumentDisplay>{{1, 1, "I"}}));
    const std::string summary = "Number of Frames Decoded\t: 1\r\n\tI: 1;    P: 0;    B: 0";
    EXPECT_EQ(run.host.text.substr(run.host.text.size() - summary.size()), summary);
    EXPECT_EQ(run.host.text.find("Max MB Bits"), std::string::npos);
}

TEST(H264Run, AKeyPressAnsweredNoStopsTheRunWhichStillOutputsAndSummarises)
{
    RunFixture run(IbbpStream(false));
    ScriptedKeys keys({true});
    run.boxes.Script({MsgAnswer::No});
    run.Decode();
    ASSERT_EQ(run.boxes.Count(), 1u);
    const zn::MessageRequest &box = run.boxes.Messages()[0];
    EXPECT_EQ(box.text, "H.264 Decoder interrupted by User\nContinue with rest of sequence?");
    EXPECT_EQ(box.buttons, zn::MsgButtons::YesNo);
    EXPECT_EQ(box.icon, zn::MsgIcon::Question);
    // The stored I picture still goes out, and the summary counts the one picture decoded.
    EXPECT_EQ(run.host.displays, (std::vector<DocumentDisplay>{{1, 1, "I"}}));
    const std::string summary = "Number of Frames Decoded\t: 1\r\n\tI: 1;    P: 0;    B: 0";
    EXPECT_EQ(run.host.text.substr(run.host.text.size() - summary.size()), summary);
}

TEST(H264Run, StepBoxesStopAtCancelAndComeBackAfterAYesToTheKeyBox)
{
    // I0 P3 B1 B2 P6 B4 B5: six gaps between pictures. Gap 1 Yes, gap 2 Cancel (no step box at gap 3),
    // gap 4 a key press answered Yes brings the step box back (Yes), gap 5 No stops after P6.
    RunFixture run(IbbpStream(false, 3, 2, 2));
    ScriptedKeys keys({false, false, false, true, false, false});
    run.boxes.Script({MsgAnswer::Yes, MsgAnswer::Cancel, MsgAnswer::Yes, MsgAnswer::Yes, MsgAnswer::No});
    run.Decode(true, false);
    auto step = [](int n) {
        return zn::Format("Decode frame %d in bitstream\n(Cancel to continue automatically)", n);
    };
    const std::vector<std::string> want = {
        step(1), step(2), "H.264 Decoder interrupted by User\nContinue with rest of sequence?", step(4),
        step(5)};
    EXPECT_EQ(run.boxes.Texts(), want);
    for (size_t k : {0u, 1u, 3u, 4u}) {
        EXPECT_EQ(run.boxes.Messages()[k].buttons, zn::MsgButtons::YesNoCancel);
        EXPECT_EQ(run.boxes.Messages()[k].icon, zn::MsgIcon::Question);
        EXPECT_EQ(run.boxes.Messages()[k].caption, "Zantho");
    }
    EXPECT_NE(run.host.text.find("Number of Frames Decoded\t: 5\r\n\tI: 1;    P: 2;    B: 2"),
              std::string::npos);
    // P6 is the stored picture at the stop: it still goes out.
    ASSERT_EQ(run.host.displays.size(), 5u);
    EXPECT_EQ(run.host.displays.back(), (DocumentDisplay{3, 5, "P"}));
}

// A stream with two units of a kind the decoder reads past, before each of two pictures.
std::vector<uint8_t> WithUnits(const std::vector<uint8_t> &stream, uint8_t header)
{
    std::vector<uint8_t> out;
    int slices = 0;
    for (size_t i = 0; i < stream.size(); ++i) {
        const bool start = i + 4 < stream.size() && stream[i] == 0 && stream[i + 1] == 0 &&
                           stream[i + 2] == 0 && stream[i + 3] == 1;
        if (start) {
            const int type = stream[i + 4] & 0x1f;
            if ((type == 1 || type == 5) && slices++ < 2)
                for (uint8_t b : {0, 0, 0, 1, static_cast<int>(header), 0x80})
                    out.push_back(b);
        }
        out.push_back(stream[i]);
    }
    return out;
}

TEST(H264Run, UnitsReadPastByDesignGiveOneAdvisoryLineEach)
{
    RunFixture partitions(WithUnits(IbbpStream(false), 0x42)); // nal_ref_idc 2, type 2: a data partition
    partitions.Decode();
    const std::string line =
        "This stream holds data partitions (NAL unit types 2 to 4), which the decoder skips";
    const size_t at = partitions.host.text.find(line);
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(partitions.host.text.find(line, at + 1), std::string::npos);

    StreamPlan plan;
    plan.width_mbs = 2;
    plan.height_mbs = 2;
    plan.sets = [](SPS &, PPS &pps) {
        pps.num_slice_groups_minus1 = 1;
        pps.mb_slice_group_map_type = 0;
        pps.run_length[0] = pps.run_length[1] = 1;
    };
    plan.pictures.push_back(MakePicture(7, 0, 0, std::vector<MbSpec>(4, MbSpec::I16(3))));
    plan.pictures.push_back(MakePicture(5, 1, 2, std::vector<MbSpec>(4, MbSpec::Skip(false))));
    RunFixture groups(plan.Write(false));
    groups.Decode();
    const std::string groupLine = "This stream uses several slice groups";
    const size_t g = groups.host.text.find(groupLine);
    ASSERT_NE(g, std::string::npos);
    EXPECT_EQ(groups.host.text.find(groupLine, g + 1), std::string::npos);
    EXPECT_EQ(partitions.host.text.find(groupLine), std::string::npos);
}

// A leaky-bucket file: the count (by default the number of buckets), then rate, size and fullness of each.
std::vector<uint8_t> BucketFile(std::initializer_list<std::array<uint32_t, 3>> buckets, int64_t count = -1)
{
    std::vector<uint8_t> b;
    auto put = [&](uint32_t v) {
        for (int s = 24; s >= 0; s -= 8)
            b.push_back(static_cast<uint8_t>(v >> s));
    };
    put(count < 0 ? static_cast<uint32_t>(buckets.size()) : static_cast<uint32_t>(count));
    for (const auto &k : buckets)
        for (uint32_t v : k)
            put(v);
    return b;
}

TEST(H264Run, BannerAndLeakyBucketLinesGoToTheLog)
{
    zntest::ScratchDir dir;
    const std::string cfg = dir.File("H264LeakyBucketParam.cfg");
    ASSERT_TRUE(WriteBytes(cfg, BucketFile({{400000, 80000, 50000}, {600000, 60000, 30000}})));
    std::string log;
    const zn::LogSink previous = zn::SetLogSink([&](zn::LogLevel, const std::string &t) { log += t; });
    DecoderParams input;
    const LeakyBucketResult r = h264dec_init_params(input, "in.264", "", cfg);
    zn::SetLogSink(previous);
    const std::string dashes(74, '-');
    const std::string want = dashes + "\n" + " Input H.26L bitstream                  : in.264 \n" +
                             " Output decoded YUV 4:2:0               :  \n" +
                             " Output status file                     : log.dec \n" + dashes + "\n" +
                             " Rate_decoder        :   500000 \n" + " B_decoder           :   104000 \n" +
                             " F_decoder           :    73000 \n" + " LeakyBucketParamFile: " + cfg + " \n" +
                             " Number Leaky Buckets:        2 \n\n" + "   400000    80000    50000 \n" +
                             "   600000    60000    30000 \n" + "\n" +
                             " Min.buffer 70000.00 Decoder buffer size 104000 \n Minimum Delay 40000.00 "
                             "DecoderDelay 73000 \n" +
                             " HRD Compliant \n";
    EXPECT_EQ(log, want);
    EXPECT_EQ(r.verdict, HrdVerdict::Compliant);
    EXPECT_EQ(input.Rate_decoder, 500000);
    EXPECT_EQ(input.ref_frames, 5);
    EXPECT_FALSE(input.output_given);
}

TEST(H264LeakyBuckets, TheDecoderRateAgainstTheBuckets)
{
    struct Case
    {
        const char *what;
        std::vector<uint8_t> file;
        HrdVerdict verdict;
        float B, F;
    };
    const std::vector<Case> cases = {
        {"between 400000 and 600000: the means", BucketFile({{400000, 80000, 50000}, {600000, 60000, 30000}}),
         HrdVerdict::Compliant, 70000, 40000},
        {"interpolated at a quarter of the span",
         BucketFile({{100000, 90000, 70000}, {400000, 50000, 30000}, {800000, 10000, 10000}}),
         HrdVerdict::Compliant, 40000, 25000},
        {"every rate at or below 500000: the last bucket",
         BucketFile({{300000, 150000, 60000}, {500000, 90000, 20000}}), HrdVerdict::Compliant, 90000, 20000},
        {"the buffer needed equals the decoder's: not compliant",
         BucketFile({{400000, 104000, 50000}, {600000, 104000, 30000}}), HrdVerdict::NonCompliant, 104000,
         40000},
        {"a delay above the decoder's", BucketFile({{200000, 10000, 90000}}), HrdVerdict::NonCompliant, 10000,
         90000},
        {"every rate above 500000: too small", BucketFile({{600000, 1, 1}, {700000, 1, 1}}),
         HrdVerdict::TooSmall, 0, 0},
    };
    zntest::ScratchDir dir;
    for (const Case &c : cases) {
        const std::string path = dir.File("buckets.cfg");
        ASSERT_TRUE(WriteBytes(path, c.file));
        DecoderParams input;
        input.LeakyBucketParamFile = path;
        const LeakyBucketResult r = check_leaky_buckets(input);
        EXPECT_EQ(r.verdict, c.verdict) << c.what;
        EXPECT_FLOAT_EQ(r.B, c.B) << c.what;
        EXPECT_FLOAT_EQ(r.F, c.F) << c.what;
    }
}

// The decoder needs the file, whatever its verdict: a missing or cut-off file ends the run with code 1
// and one box, before anything is decoded.
TEST(H264LeakyBuckets, AMissingOrIncompleteFileEndsTheRun)
{
    zntest::ScratchDir dir;
    const std::string cut = "The leaky-bucket file " + dir.File("buckets.cfg") +
                            " is incomplete: it holds fewer buckets than its count says";
    const struct
    {
        const char *what;
        std::vector<uint8_t> file; // none: no file at all
        bool present;
        std::string message;
    } cases[] = {
        {"missing", {}, false, "Error open file " + dir.File("buckets.cfg") + " \n"},
        {"empty", {}, true, cut},
        {"a count cut off", {0, 0, 1}, true, cut},
        {"shorter than its count", BucketFile({{400000, 1, 1}}, 3), true, cut},
        {"a count of 4294967295", BucketFile({}, 0xFFFFFFFF), true, cut},
    };
    for (const auto &c : cases) {
        const std::string path = dir.File("buckets.cfg");
        std::remove(path.c_str());
        if (c.present) {
            ASSERT_TRUE(WriteBytes(path, c.file));
        }
        zn::MessageRecorder boxes;
        DecoderParams input;
        input.LeakyBucketParamFile = path;
        try {
            check_leaky_buckets(input);
            ADD_FAILURE() << c.what << ": accepted";
        } catch (const H264FatalError &e) {
            EXPECT_EQ(e.what(), c.message) << c.what;
            EXPECT_EQ(e.ExitCode(), 1) << c.what;
        }
        EXPECT_EQ(boxes.Texts(), std::vector<std::string>{c.message}) << c.what;
    }

    // Through the whole run: the message, and nothing decoded, shown or written.
    RunFixture run(IbbpStream(false));
    const std::string missing = run.dir.File("nowhere/H264LeakyBucketParam.cfg");
    const std::string out = run.dir.File("out.yuv");
    EXPECT_THROW(H264Decoder(run.stream, out, missing, false, false, &run.host), H264FatalError);
    EXPECT_EQ(run.boxes.Texts(), std::vector<std::string>{"Error open file " + missing + " \n"});
    EXPECT_TRUE(run.host.displays.empty());
    EXPECT_EQ(run.host.text, "");
    EXPECT_TRUE(zntest::ReadFileBytes(out).empty());
    int height = 0, width = 0;
    std::vector<uint8_t> planes[3];
    EXPECT_THROW(H264DecodeFirstFrame(run.stream, missing, height, width, planes), H264FatalError);
    EXPECT_TRUE(planes[0].empty());
}

TEST(H264Run, OutputFileAndRoundTripHookHoldThePicturesInOutputOrder)
{
    for (const bool cabac : {false, true}) {
        const std::vector<uint8_t> bytes = IbbpStream(cabac, 2, 2, 2);
        RunFixture run(bytes);
        const std::string out = run.dir.File("out.yuv");
        H264Decoder(run.stream, out, run.buckets, false, false, nullptr);
        const DecodeRunResult ref = DecodeRun(bytes);
        std::vector<unsigned char> want;
        for (const Picture &p : ref.sink->output)
            for (const auto *plane : {&p.y, &p.u, &p.v})
                for (int s : *plane)
                    want.push_back(static_cast<unsigned char>(s));
        ASSERT_EQ(want.size(), 7u * 32 * 32 * 3 / 2);
        EXPECT_EQ(zntest::ReadFileBytes(out), want);

        const std::string hooked = run.dir.File("hook.yuv");
        const zntest::H264DecodeResult r = zntest::DecodeH264ToYuv(run.stream, hooked);
        EXPECT_TRUE(r.ok) << r.message;
        EXPECT_EQ(zntest::ReadFileBytes(hooked), want);
    }
}

TEST(H264Run, RunErrorsEndTheRunWithTheirMessage)
{
    RunFixture run(IbbpStream(false));
    try {
        H264Decoder(run.stream, run.dir.File("no/such/folder/out.yuv"), run.buckets, false, false, nullptr);
        FAIL() << "no error";
    } catch (const H264FatalError &e) {
        EXPECT_EQ(e.ExitCode(), 500);
        EXPECT_EQ(std::string(e.what()),
                  "Error open output file " + run.dir.File("no/such/folder/out.yuv") + " ");
    }
    // A stream in the final standard's syntax: the hook reports the profile message.
    std::vector<uint8_t> bytes = IbbpStream(false);
    bytes[5] = 66; // profile_idc of the SPS right after the first start code and header byte
    ASSERT_TRUE(WriteBytes(run.stream, bytes));
    const zntest::H264DecodeResult r = zntest::DecodeH264ToYuv(run.stream, run.dir.File("x.yuv"));
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.message.find("profile_idc 66"), std::string::npos) << r.message;
}

TEST(H264Snr, ComparesWithAReferenceSequenceFrameByFrame)
{
    zntest::ScratchDir dir;
    const int w = 32, h = 16;
    std::vector<uint8_t> y(static_cast<size_t>(w * h)), u(static_cast<size_t>(w * h / 4)), v(u.size());
    for (size_t i = 0; i < y.size(); ++i)
        y[i] = static_cast<uint8_t>(40 + i % 100);
    for (size_t i = 0; i < u.size(); ++i) {
        u[i] = static_cast<uint8_t>(100 + i % 7);
        v[i] = static_cast<uint8_t>(150 - i % 5);
    }
    // Frame 0 equal; frame 1 luma off by 2 everywhere and U off by 1 in one sample of 128.
    std::vector<uint8_t> ref;
    ref.insert(ref.end(), y.begin(), y.end());
    ref.insert(ref.end(), u.begin(), u.end());
    ref.insert(ref.end(), v.begin(), v.end());
    for (uint8_t s : y)
        ref.push_back(static_cast<uint8_t>(s + 2));
    for (size_t i = 0; i < u.size(); ++i)
        ref.push_back(static_cast<uint8_t>(u[i] + (i == 3 ? 1 : 0)));
    ref.insert(ref.end(), v.begin(), v.end());
    const std::string path = dir.File("ref.yuv");
    ASSERT_TRUE(WriteBytes(path, ref));

    H264PictureRef p;
    p.y = y.data();
    p.u = u.data();
    p.v = v.data();
    p.width = w;
    p.height = h;
    DecoderSnr s;
    DecoderImage img;
    dec_init_square_table(img);
    ASSERT_TRUE(snr(s, img, p, path, 0));
    EXPECT_FLOAT_EQ(s.snr_y, 60);
    ASSERT_TRUE(snr(s, img, p, path, 1));
    const float lumaDb = static_cast<float>(10 * std::log10(255.0 * 255.0 / 4));
    const float uDb = static_cast<float>(10 * std::log10(255.0 * 255.0 * 128));
    EXPECT_NEAR(s.snr_y, lumaDb, 1e-4);
    EXPECT_NEAR(s.snr_u, uDb, 1e-4);
    EXPECT_FLOAT_EQ(s.snr_v, 60);
    EXPECT_FLOAT_EQ(s.snr_y1, 60);
    EXPECT_NEAR(s.snr_ya, (60 + lumaDb) / 2, 1e-4);
    EXPECT_NEAR(s.snr_ua, (60 + uDb) / 2, 1e-4);
    EXPECT_EQ(s.frames, 2);
    EXPECT_FALSE(snr(s, img, p, path, 2));
    EXPECT_EQ(s.frames, 2);
}

} // namespace

} // namespace run_test
