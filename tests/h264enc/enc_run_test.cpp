// Whole encoding runs on a synthetic pan, decoded by our decoder: the reconstruction file must equal
// the decoder's output byte for byte.
#include "h264enc/support/encoder_fixture.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace {

struct RunCase
{
    const char *name;
    std::vector<std::string> extra;
};

void PrintTo(const RunCase &c, std::ostream *os)
{
    *os << c.name;
}

class EncoderRoundTrip : public ::testing::TestWithParam<RunCase>
{
};

TEST_P(EncoderRoundTrip, ReconstructionEqualsDecoderOutput)
{
    const RunCase &c = GetParam();
    zntest::ScratchDir dir;
    const int w = 64, h = 48, frames = 5;
    const std::string yuv = dir.File("in.yuv");
    const auto seq = enctest::SyntheticPan(w, h, frames, 2, 1);
    zntest::WriteFileBytes(yuv, std::vector<unsigned char>(seq.begin(), seq.end()));
    auto v = enctest::DialogValues(yuv, w, h, frames, dir.File("out.264"));
    std::vector<std::string> extra = c.extra;
    extra.push_back("ReconFile = \"" + dir.File("rec.yuv") + "\"");
    const std::string settings = enctest::WriteSettings(dir.Path(), v, extra);
    const enctest::EncodeResult e = enctest::Encode(settings);
    ASSERT_TRUE(e.ok) << e.message;
    const enctest::DecodeResult d = enctest::DecodeH264(dir.File("out.264"));
    ASSERT_TRUE(d.ok) << d.message;
    const auto rec = zntest::ReadFileBytes(dir.File("rec.yuv"));
    const std::vector<uint8_t> recon(rec.begin(), rec.end());
    EXPECT_EQ(d.pictures, static_cast<int>(e.host.frames.size()));
    const long long diff = enctest::FirstDifference(recon, d.yuv);
    EXPECT_EQ(diff, -1) << "recon " << recon.size() << " bytes, decoded " << d.yuv.size() << ", picture "
                        << (diff < 0 ? -1 : diff / (w * h * 3 / 2));
}

const RunCase kCases[] = {
    {"IntraOnlyCavlc", {"SymbolMode = 0", "IntraPeriod = 1", "NumberBFrames = 0"}},
    {"IntraOnlyCabac", {"SymbolMode = 1", "IntraPeriod = 1", "NumberBFrames = 0"}},
    {"IpppCavlc", {"SymbolMode = 0", "NumberBFrames = 0", "FrameSkip = 0"}},
    {"IpppCabac", {"SymbolMode = 1", "NumberBFrames = 0", "FrameSkip = 0"}},
    {"DefaultsCavlc", {"SymbolMode = 0"}},
    {"Defaults", {}},
};

INSTANTIATE_TEST_SUITE_P(Runs, EncoderRoundTrip, ::testing::ValuesIn(kCases),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
