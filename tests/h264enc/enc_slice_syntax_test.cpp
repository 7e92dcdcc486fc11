// Slices, syntax only: pictures of random macroblock records (every mode, sub-mode and direction,
// references 1 to 5, patterns 0 to 47, quantiser changes, coefficients with escapes) coded by the slice
// coder in CAVLC and CABAC under every slice mode, then parsed by the decoder's macroblock reader, which
// must read every record's elements back; the slice counts follow the slice modes.
#include "h264enc/support/slice_fixture.h"

#include <gtest/gtest.h>

namespace enc_slice_syntax_test { // one namespace per test file: a folder compiles as one source

namespace {

namespace enc = h264enc;
using enctest::DecodedPicture;
using enctest::RunOptions;

struct Case
{
    const char *name;
    RunOptions options;
    int bwd_refs;
};

// Codes I, P, B (and a second P) pictures and checks every macroblock the decoder read.
void RoundTrip(const Case &c, unsigned seed, std::vector<int> *slices = nullptr)
{
    std::mt19937 rng(seed);
    auto run = enctest::MakeRun(c.options);
    std::vector<uint8_t> stream = enctest::ParameterSetUnits(*run);
    enctest::RecordCoder coder;
    const int types[4] = {enc::kTypeI, enc::kTypeP, enc::kTypeB, enc::kTypeP};
    std::vector<std::vector<enctest::SyntheticMb>> records;
    for (int k = 0; k < 4; ++k) {
        coder.mbs = enctest::RandomPicture(rng, *run, types[k], c.options.refs, c.bwd_refs);
        records.push_back(coder.mbs);
        enctest::PictureSetup p;
        p.type = types[k];
        p.qp = 20 + static_cast<int>(rng() % 20);
        p.number = k;
        p.bwd_refs = c.bwd_refs;
        const int n = enctest::EncodePicture(*run, coder, p, stream);
        if (slices)
            slices->push_back(n);
    }
    std::string error;
    const std::vector<DecodedPicture> decoded = enctest::DecodeMacroblocks(stream, &error);
    ASSERT_EQ(error, "") << c.name;
    ASSERT_EQ(decoded.size(), 4u) << c.name;
    for (int k = 0; k < 4; ++k) {
        if (slices) {
            EXPECT_EQ(decoded[static_cast<size_t>(k)].slices, (*slices)[static_cast<size_t>(k)]) << c.name;
        }
        const auto &recs = records[static_cast<size_t>(k)];
        for (size_t i = 0; i < recs.size(); ++i) {
            const std::string diff = enctest::CompareMacroblock(
                recs[i], decoded[static_cast<size_t>(k)].mbs[i], types[k], c.options.mbaff);
            ASSERT_EQ(diff, "") << c.name << ", picture " << k << ", macroblock " << i;
        }
    }
}

RunOptions Options(int cabac, int slice_mode, int argument, int refs)
{
    RunOptions o;
    o.cabac = cabac;
    o.slice_mode = slice_mode;
    o.slice_argument = argument;
    o.refs = refs;
    return o;
}

TEST(SliceSyntax, EveryModeInCavlcAndCabacUnderEverySliceMode)
{
    const Case cases[] = {
        {"CAVLC one slice, 1 reference", Options(0, 0, 0, 1), 1},
        {"CABAC one slice, 1 reference", Options(1, 0, 0, 1), 1},
        {"CAVLC 11 macroblocks, 2 references", Options(0, 1, 11, 2), 1},
        {"CABAC 11 macroblocks, 3 references", Options(1, 1, 11, 3), 2},
        {"CAVLC 300 bytes, 4 references", Options(0, 2, 300, 4), 2},
        {"CABAC 300 bytes, 5 references", Options(1, 2, 300, 5), 1},
        {"CAVLC size test, 2 references", Options(0, 3, 0, 2), 2},
        {"CABAC size test, 1 reference", Options(1, 3, 0, 1), 1},
        {"CAVLC group slices of 7, 5 references", Options(0, 4, 7, 5), 2},
        {"CABAC group slices of 7, 2 references", Options(1, 4, 7, 2), 2},
    };
    unsigned seed = 1;
    for (const Case &c : cases)
        for (int rep = 0; rep < 3; ++rep)
            RoundTrip(c, seed++);
}

TEST(SliceSyntax, SpatialDirectWithOneReference)
{
    for (int cabac = 0; cabac < 2; ++cabac) {
        Case c{"spatial direct", Options(cabac, 0, 0, 1), 1};
        c.options.direct_spatial = 1;
        RoundTrip(c, 77 + static_cast<unsigned>(cabac));
    }
}

TEST(SliceSyntax, QcifInSlicesOf11MacroblocksMakesNineSlices)
{
    for (int cabac = 0; cabac < 2; ++cabac) {
        std::vector<int> slices;
        RoundTrip({"slices of 11", Options(cabac, 1, 11, 1), 1}, 5, &slices);
        EXPECT_EQ(slices, (std::vector<int>{9, 9, 9, 9}));
    }
}

} // namespace

} // namespace enc_slice_syntax_test
