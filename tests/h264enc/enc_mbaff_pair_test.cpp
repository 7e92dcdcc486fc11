// Macroblock-adaptive pairs under the real mode decision: each pair is decided as frame and as field
// macroblocks, and the coding that is not chosen must leave no trace (a pair whose field coding is
// tried for real and then refused writes the same stream and reconstruction as a pair whose field
// coding is never tried). Whole runs of interlaced intra pictures choose both kinds of pair and decode
// in our decoder to exactly the reconstruction file.
#include "h264/support/h264_roundtrip.h"
#include "h264enc/mode_decision.h"
#include "h264enc/rd_decision.h"
#include "h264enc/support/encoder_fixture.h"
#include "h264enc/support/slice_fixture.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace enc_mbaff_pair_test {

namespace enc = h264enc;

// The frame coding always wins; the field coding is tried (and so overwrites the pair) only when asked.
class FrameWinsCoder : public enc::ModeDecisionCoder
{
public:
    explicit FrameWinsCoder(bool try_field) : m_try_field(try_field) {}
    int encode_macroblock(enc::EncoderRun &run) override
    {
        if (!run.img.mb_field)
            return ModeDecisionCoder::encode_macroblock(run);
        if (m_try_field)
            ModeDecisionCoder::encode_macroblock(run);
        return 1 << 28; // twice this still fits an int
    }

private:
    bool m_try_field;
};

struct PairRunResult
{
    std::vector<uint8_t> stream;
    std::vector<uint8_t> recon;
    int intra_mbs = 0;
};

// An intra picture of a textured 64x64 source, macroblock-adaptive, coded by the coder above.
PairRunResult CodePairs(bool try_field, int cabac, int rd)
{
    enctest::RunOptions o;
    o.width = o.height = 64;
    o.cabac = cabac;
    o.mbaff = 1;
    auto run = enctest::MakeRun(o);
    run->input.RDOptimization = rd;
    run->org_frame.allocate(64, 64, "test");
    run->rec_frame.allocate(64, 64, "test");
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            run->org_frame.y[y][x] = static_cast<uint8_t>((x * 7 + y * y * 3 + (x ^ y) * 5) & 255);
            if (x < 32 && y < 32) {
                run->org_frame.uv[0][y][x] = static_cast<uint8_t>(100 + x * 3 - y);
                run->org_frame.uv[1][y][x] = static_cast<uint8_t>(140 + (x * y) % 40);
            }
        }
    PairRunResult r;
    r.stream = enctest::ParameterSetUnits(*run);
    FrameWinsCoder coder(try_field);
    enctest::PictureSetup p;
    p.type = enc::kTypeI;
    enctest::EncodePicture(*run, coder, p, r.stream);
    r.recon.assign(run->rec_frame.y.data(), run->rec_frame.y.data() + 64 * 64);
    for (int c = 0; c < 2; ++c)
        r.recon.insert(r.recon.end(), run->rec_frame.uv[c].data(), run->rec_frame.uv[c].data() + 32 * 32);
    r.intra_mbs = run->intra_mbs;
    return r;
}

TEST(MbaffPairCandidates, ARefusedFieldCodingLeavesNoTrace)
{
    for (int cabac = 0; cabac < 2; ++cabac)
        for (int rd = 0; rd < 2; ++rd) {
            const PairRunResult plain = CodePairs(false, cabac, rd);
            const PairRunResult tried = CodePairs(true, cabac, rd);
            EXPECT_GT(plain.stream.size(), 100u);
            EXPECT_TRUE(plain.stream == tried.stream) << "cabac " << cabac << " rd " << rd;
            EXPECT_TRUE(plain.recon == tried.recon) << "cabac " << cabac << " rd " << rd;
            EXPECT_EQ(plain.intra_mbs, tried.intra_mbs);
        }
}

// Interlaced frames: the right half moves between the two fields of a frame (combing), the left half
// stands still.
std::vector<uint8_t> InterlacedSequence(int w, int h, int frames)
{
    const std::vector<uint8_t> pan = enctest::SyntheticPan(w, h, 2 * frames, 5, 1);
    const size_t size = static_cast<size_t>(w) * static_cast<size_t>(h) * 3 / 2;
    std::vector<uint8_t> out(size * static_cast<size_t>(frames));
    for (int f = 0; f < frames; ++f) {
        uint8_t *dst = out.data() + size * static_cast<size_t>(f);
        const uint8_t *fields[2] = {pan.data() + size * static_cast<size_t>(2 * f),
                                    pan.data() + size * static_cast<size_t>(2 * f + 1)};
        // Luma, then each chroma plane (half size): row parity picks the field, the left half field 0.
        auto plane = [&](size_t offset, int pw, int ph) {
            for (int y = 0; y < ph; ++y)
                for (int x = 0; x < pw; ++x) {
                    const size_t at =
                        offset + static_cast<size_t>(y) * static_cast<size_t>(pw) + static_cast<size_t>(x);
                    dst[at] = fields[x < pw / 2 ? 0 : y % 2][at];
                }
        };
        plane(0, w, h);
        plane(static_cast<size_t>(w * h), w / 2, h / 2);
        plane(static_cast<size_t>(w * h + w * h / 4), w / 2, h / 2);
    }
    return out;
}

struct MbaffRow
{
    const char *name;
    int width, height, frames;
    std::vector<std::string> settings;
};

void PrintTo(const MbaffRow &r, std::ostream *os)
{
    *os << r.name;
}

class MbaffRoundTrip : public ::testing::TestWithParam<MbaffRow>
{
};

TEST_P(MbaffRoundTrip, BothPairKindsAndTheDecoderAgrees)
{
    const MbaffRow &row = GetParam();
    zntest::ScratchDir dir;
    const std::string yuv = dir.File("in.yuv");
    const auto seq = InterlacedSequence(row.width, row.height, row.frames);
    zntest::WriteFileBytes(yuv, std::vector<unsigned char>(seq.begin(), seq.end()));
    auto v = enctest::DialogValues(yuv, row.width, row.height, row.frames, dir.File("out.264"));
    v.FrameSkip = 0;
    std::vector<std::string> lines = {"InterlaceCodingOption = 3", "RDOptimization = 1", "IntraPeriod = 1",
                                      "NumberBFrames = 0", "FrameSkip = 0"};
    lines.insert(lines.end(), row.settings.begin(), row.settings.end());
    lines.push_back("ReconFile = \"" + dir.File("rec.yuv") + "\"");
    const enctest::EncodeResult e = enctest::Encode(enctest::WriteSettings(dir.Path(), v, lines));
    ASSERT_TRUE(e.ok) << e.message;
    const zntest::H264DecodeResult d = zntest::DecodeH264ToYuv(dir.File("out.264"), dir.File("dec.yuv"));
    ASSERT_TRUE(d.ok) << d.message;
    const auto rec = zntest::ReadFileBytes(dir.File("rec.yuv"));
    const auto dec = zntest::ReadFileBytes(dir.File("dec.yuv"));
    const long long pictureBytes = row.width * row.height * 3 / 2;
    EXPECT_EQ(static_cast<long long>(rec.size()), row.frames * pictureBytes);
    const long long at = enctest::FirstDifference(std::vector<uint8_t>(rec.begin(), rec.end()),
                                                  std::vector<uint8_t>(dec.begin(), dec.end()));
    EXPECT_EQ(at, -1) << "first difference in picture " << (at < 0 ? -1 : at / pictureBytes) << " at byte "
                      << (at < 0 ? -1 : at % pictureBytes);
    const auto bytes = zntest::ReadFileBytes(dir.File("out.264"));
    const std::vector<uint8_t> stream(bytes.begin(), bytes.end());
    ASSERT_EQ(e.host.statistics.size(), 1u);
    EXPECT_EQ(e.host.statistics[0].total_bits,
              8 * (static_cast<long long>(stream.size()) - enctest::ParameterSetBytes(stream)));
    // Both kinds of pair were chosen: the moving half as fields, the still half as frames.
    std::string error;
    const std::vector<enctest::DecodedPicture> pictures = enctest::DecodeMacroblocks(stream, &error);
    ASSERT_EQ(error, "");
    int fields = 0, frames = 0;
    for (const enctest::DecodedPicture &p : pictures)
        for (const enctest::DecodedMb &mb : p.mbs)
            ++(mb.field ? fields : frames);
    EXPECT_GT(fields, 0);
    EXPECT_GT(frames, 0);
}

const MbaffRow kMbaffRows[] = {
    {"CabacCif", 352, 288, 2, {"SymbolMode = 1"}},
    {"CabacSmall", 64, 64, 3, {"SymbolMode = 1"}},
    {"CavlcSmall", 64, 64, 3, {"SymbolMode = 0"}},
    {"CavlcCif", 352, 288, 2, {"SymbolMode = 0"}},
    {"CabacSlicesOf6", 64, 64, 2, {"SymbolMode = 1", "SliceMode = 1", "SliceArgument = 6"}},
    {"CavlcSlicesOf6", 64, 64, 2, {"SymbolMode = 0", "SliceMode = 1", "SliceArgument = 6"}},
};

INSTANTIATE_TEST_SUITE_P(Rows, MbaffRoundTrip, ::testing::ValuesIn(kMbaffRows),
                         [](const auto &info) { return std::string(info.param.name); });

// Macroblock-adaptive frames need the rate-distortion decision: without it the run ends with a
// message, nothing coded.
TEST(MbaffRuns, RefusedWithoutRd)
{
    const std::vector<std::string> refused[] = {
        {"InterlaceCodingOption = 3", "RDOptimization = 0", "IntraPeriod = 1", "NumberBFrames = 0"},
    };
    for (const auto &lines : refused) {
        zntest::ScratchDir dir;
        const std::string yuv = dir.File("in.yuv");
        const auto seq = InterlacedSequence(32, 32, 3);
        zntest::WriteFileBytes(yuv, std::vector<unsigned char>(seq.begin(), seq.end()));
        auto v = enctest::DialogValues(yuv, 32, 32, 3, dir.File("out.264"));
        v.FrameSkip = 0;
        const enctest::EncodeResult e = enctest::Encode(enctest::WriteSettings(dir.Path(), v, lines));
        EXPECT_FALSE(e.ok) << lines[1] << " " << lines[2];
        EXPECT_FALSE(e.message.empty());
        EXPECT_TRUE(e.host.frames.empty());
    }
}

} // namespace enc_mbaff_pair_test
