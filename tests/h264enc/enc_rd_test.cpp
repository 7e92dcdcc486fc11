// Rate-distortion decisions: runs with RDOptimization 1 (CAVLC, CABAC, B pictures, several references,
// restricted references) decode in our decoder to exactly the reconstruction file and report exactly
// the bits of the stream's slices; the lambdas of the worked examples; the pixel ages and the
// reliability of references after an intra refresh.
#include "h264enc/enc_run.h"
#include "h264enc/rd_decision.h"
#include "h264enc/support/encoder_fixture.h"
#include "platform/format.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>

namespace enc_rd_test {

namespace enc = h264enc;

// Bytes of the stream's parameter-set NAL units, start codes included.
long long ParameterSetBytes(const std::vector<uint8_t> &s)
{
    std::vector<size_t> starts; // first byte of each start code
    for (size_t i = 0; i + 3 <= s.size(); ++i)
        if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1) {
            starts.push_back(i > 0 && s[i - 1] == 0 ? i - 1 : i);
            i += 2;
        }
    long long bytes = 0;
    for (size_t k = 0; k < starts.size(); ++k) {
        const size_t end = k + 1 < starts.size() ? starts[k + 1] : s.size();
        size_t header = starts[k];
        while (s[header] == 0)
            ++header;
        const int type = s[header + 1] & 31;
        if (type == 7 || type == 8)
            bytes += static_cast<long long>(end - starts[k]);
    }
    return bytes;
}

struct RdRow
{
    const char *name;
    int width, height, frames;
    std::vector<std::string> settings;
};

void PrintTo(const RdRow &r, std::ostream *os)
{
    *os << r.name;
}

class RdRoundTrip : public ::testing::TestWithParam<RdRow>
{
};

TEST_P(RdRoundTrip, ReconstructionAndBitsMatchTheStream)
{
    const RdRow &row = GetParam();
    zntest::ScratchDir dir;
    const std::string yuv = dir.File("in.yuv");
    const auto seq = enctest::SyntheticPan(row.width, row.height, row.frames, 3, 1);
    zntest::WriteFileBytes(yuv, std::vector<unsigned char>(seq.begin(), seq.end()));
    auto v = enctest::DialogValues(yuv, row.width, row.height, row.frames, dir.File("out.264"));
    std::vector<std::string> lines = row.settings;
    for (const std::string &line : lines)
        if (line.rfind("FrameSkip = ", 0) == 0)
            v.FrameSkip = std::stoi(line.substr(12));
    lines.push_back("ReconFile = \"" + dir.File("rec.yuv") + "\"");
    const enctest::EncodeResult e = enctest::Encode(enctest::WriteSettings(dir.Path(), v, lines));
    ASSERT_TRUE(e.ok) << e.message;
    const enctest::DecodeResult d = enctest::DecodeH264(dir.File("out.264"));
    ASSERT_TRUE(d.ok) << d.message;
    const auto rec = zntest::ReadFileBytes(dir.File("rec.yuv"));
    const std::vector<uint8_t> recon(rec.begin(), rec.end());
    const long long pictureBytes = row.width * row.height * 3 / 2;
    EXPECT_EQ(d.pictures, static_cast<int>(e.host.frames.size()));
    EXPECT_EQ(static_cast<long long>(recon.size()), d.pictures * pictureBytes);
    const long long at = enctest::FirstDifference(recon, d.yuv);
    EXPECT_EQ(at, -1) << "first difference in picture " << (at < 0 ? -1 : at / pictureBytes);
    const auto bytes = zntest::ReadFileBytes(dir.File("out.264"));
    const std::vector<uint8_t> stream(bytes.begin(), bytes.end());
    ASSERT_EQ(e.host.statistics.size(), 1u);
    EXPECT_EQ(e.host.statistics[0].total_bits,
              8 * (static_cast<long long>(stream.size()) - ParameterSetBytes(stream)));
}

const RdRow kRows[] = {
    {"IpppCavlc", 64, 48, 4, {"RDOptimization = 1", "SymbolMode = 0", "NumberBFrames = 0", "FrameSkip = 0"}},
    {"IpppCabac", 64, 48, 4, {"RDOptimization = 1", "SymbolMode = 1", "NumberBFrames = 0", "FrameSkip = 0"}},
    {"IbpCavlc", 64, 48, 5, {"RDOptimization = 1", "SymbolMode = 0"}},
    {"IbpCabac", 64, 48, 5, {"RDOptimization = 1", "SymbolMode = 1"}},
    {"IbbpTemporalDirectCabac",
     64,
     48,
     7,
     {"RDOptimization = 1", "NumberBFrames = 2", "FrameSkip = 2", "DirectModeType = 0"}},
    {"ThreeReferencesCavlc",
     64,
     48,
     5,
     {"RDOptimization = 1", "SymbolMode = 0", "NumberBFrames = 0", "FrameSkip = 0", "NumberReferenceFrames = 3"}},
    {"RestrictRefFrames1",
     64,
     48,
     6,
     {"RDOptimization = 1", "RestrictRefFrames = 1", "RandomIntraMBRefresh = 3", "NumberBFrames = 0",
      "FrameSkip = 0", "NumberReferenceFrames = 3"}},
    {"RestrictRefFrames2Cavlc",
     64,
     48,
     6,
     {"RDOptimization = 1", "RestrictRefFrames = 2", "SymbolMode = 0", "NumberBFrames = 0", "FrameSkip = 0",
      "NumberReferenceFrames = 3"}},
    {"SliceMode2Cavlc",
     64,
     48,
     4,
     {"RDOptimization = 1", "SymbolMode = 0", "SliceMode = 2", "SliceArgument = 60"}},
    {"ConstrainedIntraCabac", 64, 48, 4, {"RDOptimization = 1", "UseConstrainedIntraPred = 1"}},
};

INSTANTIATE_TEST_SUITE_P(Rows, RdRoundTrip, ::testing::ValuesIn(kRows),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace enc_rd_test
