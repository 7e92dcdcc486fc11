// Written streams and reconstructions pinned by checksum. Renaming the encoder's pieces or making them
// faster must leave every byte as it was; a change meant to alter what the encoder writes updates the
// table (kRows) and says why; a failing row prints the value it now gives. The rows reach the main
// coding paths on a synthetic pan: CAVLC and CABAC, B pictures, search ranges from 1 to 32 (narrowed for
// older references and smaller blocks too), SAD and Hadamard costs, windows reaching past every edge of
// a small picture, several references (with fresh noise per frame so that older ones win), large
// partitions only, rate-distortion and loss-aware decisions, field pictures chosen per picture,
// macroblock-adaptive frames (which need rate-distortion decisions) and field coding, weighted
// prediction and slices.
#include "support/encoder_fixture.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace {

struct PinRow
{
    const char *name;
    int width, height;
    std::vector<std::string> settings;
    uint64_t stream, recon; // FNV-1a of the .264 file and of the reconstruction file
    int dx = 3, dy = 1;     // the pan's motion in samples per frame
    int noise = 0;          // amplitude of fresh luma noise in every frame: older references can then win
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
    auto seq = enctest::SyntheticPan(row.width, row.height, frames, row.dx, row.dy);
    std::mt19937 rng(7);
    const size_t luma = static_cast<size_t>(row.width) * static_cast<size_t>(row.height);
    for (size_t k = 0; row.noise > 0 && k < seq.size(); ++k)
        if (k % (luma * 3 / 2) < luma)
            seq[k] = static_cast<uint8_t>(std::clamp(
                seq[k] + static_cast<int>(rng() % static_cast<unsigned>(2 * row.noise + 1)) - row.noise, 0,
                255));
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
    {"SadRange8Cavlc",
     176,
     144,
     {"SymbolMode = 0", "NumberBFrames = 0", "FrameSkip = 0", "UseHadamard = 0", "SearchRange = 8"},
     0xcc03eccb41e08c6eULL,
     0x4b6fb819470e41b2ULL},
    {"Range1CabacWithB",
     176,
     144,
     {"SymbolMode = 1", "NumberBFrames = 1", "FrameSkip = 1", "SearchRange = 1"},
     0xfcc05b6be5064c6ULL,
     0xaabef7da6c39711fULL},
    {"Range32NarrowedTwoReferencesTemporalDirect",
     176,
     144,
     {"SymbolMode = 0", "NumberBFrames = 1", "FrameSkip = 1", "SearchRange = 32", "RestrictSearchRange = 0",
      "NumberReferenceFrames = 2", "DirectModeType = 0"},
     0xcb5d1beec9599313ULL,
     0x8f659fb7ba636c63ULL,
     11,
     -5},
    {"FiveReferencesNarrowedCabac",
     176,
     144,
     {"SymbolMode = 1", "NumberBFrames = 0", "FrameSkip = 0", "NumberReferenceFrames = 5",
      "RestrictSearchRange = 1"},
     0xfabfd976fe8d01fULL,
     0x398362d08203ea71ULL,
     1,
     1,
     6},
    {"SmallPictureWindowsPastTheEdges",
     48,
     32,
     {"SymbolMode = 1", "NumberBFrames = 1", "FrameSkip = 1", "SearchRange = 24"},
     0xdffdeddacc32d218ULL,
     0xcf0dbcae45ebed10ULL,
     -2,
     3},
    {"RdCavlcWithBSad",
     176,
     144,
     {"SymbolMode = 0", "NumberBFrames = 1", "FrameSkip = 1", "RDOptimization = 1", "UseHadamard = 0"},
     0x99b80c2a7a76f2cfULL,
     0x1a02e33c8938e16dULL},
    {"LargePartitionsTwoReferencesWithB",
     176,
     144,
     {"SymbolMode = 1", "NumberBFrames = 1", "FrameSkip = 1", "NumberReferenceFrames = 2",
      "InterSearch8x4 = 0", "InterSearch4x8 = 0", "InterSearch4x4 = 0"},
     0x8eeedaa2cabf164eULL,
     0x4878cca9678ff3e1ULL,
     2,
     -1,
     4},
    {"PictureFieldsCabacWithB",
     176,
     160,
     {"SymbolMode = 1", "NumberBFrames = 1", "FrameSkip = 1", "InterlaceCodingOption = 1"},
     0x719a72fc6808cb7dULL,
     0xafebfce533a70a27ULL},
    {"LossAwareRd",
     176,
     144,
     {"SymbolMode = 0", "NumberBFrames = 0", "FrameSkip = 0", "RDOptimization = 2", "NumberOfDecoders = 3"},
     0x48be9d6b5facf3acULL,
     0x43ebe0bb276ad3b1ULL},
};

INSTANTIATE_TEST_SUITE_P(Rows, StreamPin, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<PinRow> &i) { return std::string(i.param.name); });

} // namespace
