// The decoder's output pinned by checksum over a matrix of our encoder's streams (tests/data/h264,
// made by make_streams.py there): both entropy coders, B pictures with spatial and temporal direct,
// several references, explicit and implicit weights, field pictures, macroblock-adaptive frame/field
// pairs, the loop filter off and with offsets, slices and slice groups, SP pictures and constrained
// intra, a low and a high quantiser. The checksums are those of the decoder before its kernels were
// made faster: a speed-up must put out the very same pictures.
#include "h264/support/picture_hash.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace {

struct PinnedStream
{
    const char *name;
    int pictures;
    uint64_t hash;
};

void PrintTo(const PinnedStream &s, std::ostream *os)
{
    *os << s.name;
}

// Streams that code the same decisions in CAVLC and CABAC decode to the same pictures.
const PinnedStream kPinned[] = {
    {"ibpbp_cavlc", 9, 0xc4053d91264b3332},
    {"ibpbp_cabac", 9, 0xc4053d91264b3332},
    {"ippp_3ref_cavlc", 6, 0x9dc503927a579e7f},
    {"ippp_3ref_cabac", 6, 0x9dc503927a579e7f},
    {"ibbp_temporal_direct_cabac", 10, 0x4a086b2aa5bac6ed},
    {"weighted_explicit_cabac", 10, 0x1039fd5fb59191f8},
    {"weighted_explicit_cavlc", 6, 0xc45a70af28ece387},
    {"weighted_implicit_cabac", 10, 0x98c89f333284434c},
    {"fields_cabac", 5, 0xa59d772dbebb338d},
    {"fields_cavlc", 5, 0x014e6267b9f490ef},
    {"mbaff_cabac", 5, 0xa92648b1dd5b7217},
    {"mbaff_cavlc", 4, 0x75cab34b8c6fdc25},
    {"deblocking_off_cabac", 7, 0x965b55f748a1c0b0},
    {"deblocking_offsets_cavlc", 7, 0x9516c93ff4278da8},
    {"slices_fmo_cavlc", 5, 0xef5b6c787eccc29b},
    {"sp_constrained_intra_cabac", 6, 0xd3cac51d1d3e8f60},
    {"low_qp_intra_cabac", 3, 0x76063b19b126fbe4},
    {"high_qp_cavlc", 9, 0x001c2afc6ad59389},
};

class DecodedPicturesPinned : public ::testing::TestWithParam<PinnedStream>
{
};

TEST_P(DecodedPicturesPinned, OutputEqualsThePinnedChecksum)
{
    const PinnedStream &p = GetParam();
    const std::string path = std::string(ZN_TEST_DATA_DIR) + "/h264/" + p.name + ".264";
    std::ifstream in(path, std::ios::binary);
    ASSERT_TRUE(in) << "cannot read " << path;
    const std::vector<uint8_t> stream{std::istreambuf_iterator<char>(in), {}};
    h264test::PictureHashSink sink;
    ASSERT_NO_THROW(h264test::DecodeWholeStream(stream, &sink));
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016" PRIx64, sink.hash);
    char want[17];
    std::snprintf(want, sizeof want, "%016" PRIx64, p.hash);
    EXPECT_EQ(sink.pictures, p.pictures);
    EXPECT_STREQ(hex, want);
}

INSTANTIATE_TEST_SUITE_P(Streams, DecodedPicturesPinned, ::testing::ValuesIn(kPinned),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
