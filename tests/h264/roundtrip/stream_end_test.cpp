// The end of a stream: the last reference picture waits for a successor that never comes, so the run
// must put it out itself. Streams of the encoder that end (in decoding order) on a B group, on a P
// picture and on an I picture, coded from ffmpeg's test pattern one second apart (neighbours differ by
// some 20 dB): ffprobe counts the pictures put out, and ffmpeg's PSNR against the source pictures,
// matched one to one and shifted by one either way, shows that they come in display order.
#include "h264/support/recording_host.h"
#include "h264dec/decoder_run.h"
#include "h264enc/support/encoder_fixture.h"
#include "platform/format.h"
#include "roundtrip_checks.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace stream_end_test { // one namespace per test file: a folder compiles as one source

namespace {

constexpr int kW = 176, kH = 144;
constexpr size_t kPicture = kW * kH * 3 / 2;

int FfprobeFrames(const std::string &yuv)
{
    std::string out;
    const int status = zntest::Run(zn::Format("ffprobe -v error -f rawvideo -pixel_format yuv420p "
                                              "-video_size %dx%d -count_frames -select_streams v:0 "
                                              "-show_entries stream=nb_read_frames -of csv=p=0 ",
                                              kW, kH) +
                                       zntest::ShellQuote(yuv),
                                   &out);
    return status == 0 && !out.empty() ? std::stoi(out) : -1;
}

// The pictures from `first` on, as a file of their own.
std::string Tail(const zntest::ScratchDir &dir, const std::string &yuv, size_t first, const std::string &name)
{
    const std::vector<unsigned char> all = zntest::ReadFileBytes(yuv);
    const std::vector<unsigned char> tail(
        all.begin() + static_cast<std::ptrdiff_t>(std::min(all.size(), first * kPicture)), all.end());
    EXPECT_TRUE(zntest::WriteFileBytes(dir.File(name), tail));
    return dir.File(name);
}

TEST(H264StreamEnd, EveryPictureIsPutOutInDisplayOrderWhateverTheStreamEndsOn)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    ZN_REQUIRE_TOOL("ffprobe");
    const struct
    {
        const char *name;
        int frames, bFrames, skip, intraPeriod;
        int lastSliceType; // of the last unit in decoding order: 6 B, 5 P, 7 I
    } rows[] = {
        {"ends on a B group", 9, 1, 1, 0, 6},
        {"ends on a P picture", 6, 0, 0, 0, 5},
        {"ends on an I picture", 7, 0, 0, 3, 7},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        zntest::ScratchDir dir;
        const std::string source = dir.File("source.yuv");
        ASSERT_EQ(zntest::Run(zn::Format("ffmpeg -v error -f lavfi -i testsrc=size=%dx%d:rate=1 -frames:v %d "
                                         "-pix_fmt yuv420p -f rawvideo ",
                                         kW, kH, row.frames) +
                              zntest::ShellQuote(source)),
                  0);
        const int sourceFrames = FfprobeFrames(source);
        ASSERT_EQ(sourceFrames, row.frames);

        auto v = enctest::DialogValues(source, kW, kH, row.frames, dir.File("clip.264"));
        v.NumberBFrames = row.bFrames;
        v.FrameSkip = row.skip;
        v.IntraPeriod = row.intraPeriod;
        v.QPFirstFrame = v.QPRemainingFrame = v.QPBPicture = 16;
        const enctest::EncodeResult e = enctest::Encode(enctest::WriteSettings(dir.Path(), v, {}));
        ASSERT_TRUE(e.ok) << e.message;
        const std::vector<unsigned char> bytes = zntest::ReadFileBytes(dir.File("clip.264"));
        const std::vector<enctest::NalUnitSeen> units =
            enctest::ScanNalUnits(std::vector<uint8_t>(bytes.begin(), bytes.end()));
        ASSERT_FALSE(units.empty());
        ASSERT_EQ(units.back().slice_type % 5, row.lastSliceType % 5) << "the stream does not end as named";

        // The whole run, as the dialog starts it, with the leaky-bucket file the encoder left.
        h264test::RecordingHost host;
        zn::MessageRecorder boxes;
        const std::string decoded = dir.File("decoded.yuv");
        H264Decoder(dir.File("clip.264"), decoded, dir.File("H264LeakyBucketParam.cfg"), false, false, &host);
        EXPECT_EQ(boxes.Count(), 0u);
        EXPECT_EQ(FfprobeFrames(decoded), sourceFrames);
        EXPECT_EQ(host.displays.size(), static_cast<size_t>(sourceFrames));

        const std::vector<std::array<double, 3>> same =
            rtcheck::FfmpegPsnr(source, decoded, kW, kH, dir.File("same.log"));
        const std::vector<std::array<double, 3>> ahead =
            rtcheck::FfmpegPsnr(Tail(dir, source, 1, "source1.yuv"), decoded, kW, kH, dir.File("ahead.log"));
        const std::vector<std::array<double, 3>> behind = rtcheck::FfmpegPsnr(
            source, Tail(dir, decoded, 1, "decoded1.yuv"), kW, kH, dir.File("behind.log"));
        ASSERT_EQ(same.size(), static_cast<size_t>(sourceFrames));
        // ffmpeg repeats the last picture of the shorter input: only the first n - 1 pairs count.
        ASSERT_GE(ahead.size(), same.size() - 1);
        ASSERT_GE(behind.size(), same.size() - 1);
        for (size_t k = 0; k < same.size(); ++k) {
            EXPECT_GT(same[k][0], 35.0) << "picture " << k;
            // Picture k is closer to source picture k than to its neighbours in display order.
            if (k + 1 < same.size()) {
                EXPECT_GT(same[k][0], ahead[k][0] + 3.0) << "picture " << k << " against source " << k + 1;
            }
            if (k > 0) {
                EXPECT_GT(same[k][0], behind[k - 1][0] + 3.0)
                    << "picture " << k << " against source " << k - 1;
            }
        }
    }
}

} // namespace

} // namespace stream_end_test
