// Quality and stream checks with ffmpeg as an independent tool: its psnr filter on the reconstruction
// file agrees with the run's per-picture SNR lines; its H.264 parser lists the NAL units our scanner
// finds; and a coarser quantiser gives lower PSNR and a smaller stream.
#include "h264enc/support/encoder_fixture.h"
#include "platform/format.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sstream>

namespace enc_quality_test { // one namespace per test file: a folder compiles as one source

namespace {

constexpr int kW = 176, kH = 144, kFrames = 5;

bool HavePhoto()
{
    return !zntest::PhotoPath("astronaut", "png").empty();
}

#define REQUIRE_PAN_TOOLS()                                                                                  \
    do {                                                                                                     \
        ZN_REQUIRE_TOOL("ffmpeg");                                                                           \
        if (!HavePhoto()) {                                                                                  \
            if (zntest::RunningUnderCi()) {                                                                  \
                FAIL() << "sample photograph missing under CI (scripts/photos): astronaut";                  \
            }                                                                                                \
            GTEST_SKIP() << "sample photograph missing (run scripts/photos build/photos): astronaut";        \
        }                                                                                                    \
    } while (0)

struct QualityRun
{
    enctest::EncodeResult result;
    long long stream_bytes = 0;
};

// Codes the pan at quantiser qp (B pictures qp + 2), with a reconstruction file.
QualityRun Code(const zntest::ScratchDir &dir, const std::string &yuv, int qp, const std::string &tag)
{
    auto v = enctest::DialogValues(yuv, kW, kH, kFrames, dir.File(tag + ".264"));
    v.QPFirstFrame = v.QPRemainingFrame = qp;
    v.QPBPicture = qp + 2;
    QualityRun q;
    q.result = enctest::Encode(
        enctest::WriteSettings(dir.Path(), v, {"ReconFile = \"" + dir.File(tag + "_rec.yuv") + "\""}));
    q.stream_bytes = static_cast<long long>(zntest::ReadFileBytes(dir.File(tag + ".264")).size());
    return q;
}

// ffmpeg's per-frame PSNR of b against a (raw 4:2:0 files), frame n -> {y, u, v}.
std::map<int, std::array<double, 3>> FfmpegPsnr(const zntest::ScratchDir &dir, const std::string &a,
                                                const std::string &b)
{
    const std::string raw = zn::Format(" -f rawvideo -pix_fmt yuv420p -s %dx%d -i ", kW, kH);
    const std::string stats = dir.File("psnr.txt");
    const std::string cmd = "ffmpeg -v error -y" + raw + zntest::ShellQuote(b) + raw + zntest::ShellQuote(a) +
                            " -lavfi psnr=stats_file=" + zntest::ShellQuote(stats) + " -f null - 2>&1";
    std::map<int, std::array<double, 3>> out;
    if (zntest::Run(cmd) != 0)
        return out;
    const auto bytes = zntest::ReadFileBytes(stats);
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    const std::regex re("n:(\\d+) .*psnr_y:([0-9.inf]+) psnr_u:([0-9.inf]+) psnr_v:([0-9.inf]+)");
    for (std::string line; std::getline(in, line);) {
        std::smatch m;
        if (std::regex_search(line, m, re))
            out[std::stoi(m[1]) - 1] = {std::stod(m[2]), std::stod(m[3]), std::stod(m[4])};
    }
    return out;
}

class EncoderQuality : public ::testing::Test
{
protected:
    zntest::ScratchDir dir;
    std::string yuv;
    void MakeInput()
    {
        yuv = dir.File("pan.yuv");
        ASSERT_EQ(enctest::MakePan(zntest::PhotoPath("astronaut", "png"), yuv, kW, kH, kFrames, 3, 1, 2), "");
    }
};

TEST_F(EncoderQuality, FfmpegPsnrOfTheReconstructionMatchesTheSnrLines)
{
    REQUIRE_PAN_TOOLS();
    MakeInput();
    const QualityRun q = Code(dir, yuv, 28, "q28");
    ASSERT_TRUE(q.result.ok) << q.result.message;
    const auto psnr = FfmpegPsnr(dir, yuv, dir.File("q28_rec.yuv"));
    ASSERT_EQ(psnr.size(), q.result.host.frames.size());
    for (const h264enc::H264FrameReport &f : q.result.host.frames) {
        ASSERT_TRUE(psnr.count(f.source_frame)) << f.source_frame;
        const auto &p = psnr.at(f.source_frame);
        EXPECT_NEAR(f.snr_y, p[0], 0.01) << "frame " << f.source_frame;
        EXPECT_NEAR(f.snr_u, p[1], 0.01) << "frame " << f.source_frame;
        EXPECT_NEAR(f.snr_v, p[2], 0.01) << "frame " << f.source_frame;
    }
}

TEST_F(EncoderQuality, CoarserQuantiserLowersPsnrAndShrinksTheStream)
{
    REQUIRE_PAN_TOOLS();
    MakeInput();
    double lastPsnr = 1e9;
    long long lastBytes = 1LL << 40;
    for (int qp : {22, 28, 34}) {
        const std::string tag = zn::Format("q%d", qp);
        const QualityRun q = Code(dir, yuv, qp, tag);
        ASSERT_TRUE(q.result.ok) << q.result.message;
        const auto psnr = FfmpegPsnr(dir, yuv, dir.File(tag + "_rec.yuv"));
        ASSERT_EQ(psnr.size(), static_cast<size_t>(kFrames));
        double mean = 0;
        for (const auto &[n, p] : psnr)
            mean += p[0] / kFrames;
        EXPECT_LT(mean, lastPsnr) << "QP " << qp;
        EXPECT_LT(q.stream_bytes, lastBytes) << "QP " << qp;
        lastPsnr = mean;
        lastBytes = q.stream_bytes;
    }
}

TEST_F(EncoderQuality, FfmpegListsTheNalUnitsOurScannerFinds)
{
    REQUIRE_PAN_TOOLS();
    MakeInput();
    const QualityRun q = Code(dir, yuv, 28, "nal");
    ASSERT_TRUE(q.result.ok) << q.result.message;
    ASSERT_EQ(q.result.host.frames.size(), 5u);
    const auto bytes = zntest::ReadFileBytes(dir.File("nal.264"));
    const auto units = enctest::ScanNalUnits(std::vector<uint8_t>(bytes.begin(), bytes.end()));
    std::string listed;
    zntest::Run("ffmpeg -v debug -f h264 -i " + zntest::ShellQuote(dir.File("nal.264")) +
                    " -c copy -f null - 2>&1",
                &listed);
    // The parser's own lines (not the extradata filter's), once per unit in stream order.
    std::vector<std::pair<int, int>> seen;
    std::istringstream in(listed);
    const std::regex re("^\\[h264 @ [^\\]]*\\] nal_unit_type: (\\d+).*nal_ref_idc: (\\d+)");
    for (std::string line; std::getline(in, line);) {
        std::smatch m;
        if (std::regex_search(line, m, re))
            seen.emplace_back(std::stoi(m[1]), std::stoi(m[2]));
    }
    std::vector<std::pair<int, int>> ours;
    for (const auto &u : units)
        ours.emplace_back(u.type, u.ref_idc);
    ASSERT_EQ(ours.size(), 7u);
    EXPECT_EQ(ours[0].first, 7);
    EXPECT_EQ(ours[1].first, 8);
    EXPECT_EQ(ours[2], std::make_pair(5, 3));
    EXPECT_EQ(seen, ours);
}

} // namespace

} // namespace enc_quality_test
