// Written streams and reconstructions pinned by checksum. Renaming the encoder's pieces or making them
// faster must leave every byte as it was; a change meant to alter what the encoder writes updates the
// table and says why. The rows reach the main coding paths on a synthetic pan: CAVLC and CABAC, B
// pictures, several references with rate-distortion decisions, macroblock-adaptive frames (which
// need rate-distortion decisions) and field coding, weighted prediction and slices.
#include "support/encoder_fixture.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace {

struct PinRow
{
    const char *name;
    int width, height;
    std::vector<std::string> settings;
    uint64_t stream, recon; // FNV-1a of the .264 file and of the reconstruction file
};

void PrintTo(const PinRow &r, std::ostream *os)
{
    *os << r.name;
}

uint64_t Fnv1a(const std::vector<unsigned char> &bytes)
{
    uint64_t h = 1469598103934665603ULL;
    for (unsigned char b : bytes) {
        h ^= b;
        h *= 1099511628211ULL;
    }
    return h;
}

class StreamPin : public ::testing::TestWithParam<PinRow>
{
};

TEST_P(StreamPin, StreamAndReconstructionKeepTheirBytes)
{
    const PinRow &row = GetParam();
    const int frames = 7;
    zntest::ScratchDir dir;
    const std::string yuv = dir.File("in.yuv");
    const auto seq = enctest::SyntheticPan(row.width, row.height, frames, 3, 1);
    ASSERT_TRUE(zntest::WriteFileBytes(yuv, std::vector<unsigned char>(seq.begin(), seq.end())));
    auto v = enctest::DialogValues(yuv, row.width, row.height, frames, dir.File("out.264"));
    std::vector<std::string> extra = row.settings;
    extra.push_back("ReconFile = \"" + dir.File("rec.yuv") + "\"");
    const enctest::EncodeResult e = enctest::Encode(enctest::WriteSettings(dir.Path(), v, extra));
    ASSERT_TRUE(e.ok) << e.message;
    const uint64_t stream = Fnv1a(zntest::ReadFileBytes(dir.File("out.264")));
    const uint64_t recon = Fnv1a(zntest::ReadFileBytes(dir.File("rec.yuv")));
    EXPECT_EQ(stream, row.stream) << std::hex << "stream 0x" << stream;
    EXPECT_EQ(recon, row.recon) << std::hex << "reconstruction 0x" << recon;
}

const PinRow kRows[] = {
    {"IpppCavlc",
     176,
     144,
     {"SymbolMode = 0", "NumberBFrames = 0", "FrameSkip = 0"},
     0x1ef6cdef45a366bdULL,
     0x1d8f3bc52815ef01ULL},
    {"IbpCabac",
     176,
     144,
     {"SymbolMode = 1", "NumberBFrames = 1", "FrameSkip = 1"},
     0xc82bd2c3a7380432ULL,
     0x1556d870e6a747d8ULL},
    {"RdThreeReferencesHadamard",
     176,
     144,
     {"SymbolMode = 1", "NumberBFrames = 0", "FrameSkip = 0", "RDOptimization = 1",
      "NumberReferenceFrames = 3", "UseHadamard = 1"},
     0x7bc5415b3b144a41ULL,
     0x3242ffa09213d3e3ULL},
    {"MbaffCabacWithB",
     176,
     160,
     {"SymbolMode = 1", "NumberBFrames = 1", "FrameSkip = 1", "InterlaceCodingOption = 3",
      "RDOptimization = 1"},
     0x72b81ab544d0fbf7ULL,
     0xb399d2ed3e60fd00ULL},
    {"FieldsWeightedSlicesCavlc",
     176,
     160,
     {"SymbolMode = 0", "NumberBFrames = 0", "FrameSkip = 0", "InterlaceCodingOption = 2",
      "WeightedPrediction = 1", "SliceMode = 1", "SliceArgument = 11"},
     0x377333da46ac6f54ULL,
     0x200fe93b9f187e74ULL},
};

INSTANTIATE_TEST_SUITE_P(Rows, StreamPin, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<PinRow> &i) { return std::string(i.param.name); });

} // namespace
