// Macroblock-adaptive frames: the pair loop codes each vertical pair as frame or field macroblocks as
// the cheaper decision says, and the field flag goes where the decoder reads it (with the upper
// macroblock, with the lower one after a skipped upper one, not at all for a pair of skipped P
// macroblocks). Random I and P pictures parse back in the decoder, in CABAC with residuals and in CAVLC
// without (the decoder's coefficient counts of field macroblocks are kept per pair row).
#include "h264enc/support/slice_fixture.h"

#include <gtest/gtest.h>

namespace enc_mbaff_test { // one namespace per test file: a folder compiles as one source

namespace {

namespace enc = h264enc;
using namespace enctest;

// Random records with a random field flag per pair. P references are all 0: field macroblocks send an
// index even with one reference frame, and the decoder chooses its context from field copies of the
// indices, which agree with the frame map only where every index is 0.
std::vector<SyntheticMb> PairPicture(std::mt19937 &rng, const enc::EncoderRun &run, int type, bool residual)
{
    std::vector<SyntheticMb> mbs = RandomPicture(rng, run, type, 1, 1);
    const int w = run.img.width / 16;
    for (int top = 0; top < static_cast<int>(mbs.size()); ++top) {
        if ((top / w) % 2)
            continue;
        SyntheticMb &a = mbs[static_cast<size_t>(top)];
        SyntheticMb &b = mbs[static_cast<size_t>(top + w)];
        int field = static_cast<int>(rng() % 2);
        for (SyntheticMb *m : {&a, &b}) {
            if (!residual) {
                if (m->mode == enc::kModeI16) {
                    m->mode = enc::kModeI4;
                    for (int q = 0; q < 4; ++q)
                        m->quarter_mode[q] = enc::kModeIntraQuarter;
                }
                m->coded_pattern = 0;
                m->qp_delta = 0;
                m->cof = enc::CoefficientArrays();
            }
            for (auto &row : m->refs[0])
                for (int &r : row)
                    r = r >= 0 ? 0 : r;
        }
        if (type == enc::kTypeP && a.mode == enc::kModeSkip && b.mode == enc::kModeSkip)
            field = 0; // no flag is sent: the pair reads as frame macroblocks
        a.field = b.field = field;
    }
    return mbs;
}

void PairRoundTrip(int cabac, unsigned seed, int slice_mode = 0, int argument = 0)
{
    std::mt19937 rng(seed);
    RunOptions o;
    o.width = 96;
    o.height = 96;
    o.cabac = cabac;
    o.mbaff = 1;
    o.slice_mode = slice_mode;
    o.slice_argument = argument;
    auto run = MakeRun(o);
    std::vector<uint8_t> stream = ParameterSetUnits(*run);
    RecordCoder coder;
    const int types[3] = {enc::kTypeI, enc::kTypeP, enc::kTypeP};
    std::vector<std::vector<SyntheticMb>> records;
    for (int k = 0; k < 3; ++k) {
        coder.mbs = PairPicture(rng, *run, types[k], cabac != 0);
        records.push_back(coder.mbs);
        PictureSetup p;
        p.type = types[k];
        p.number = k;
        EncodePicture(*run, coder, p, stream);
    }
    std::string error;
    const std::vector<DecodedPicture> d = DecodeMacroblocks(stream, &error);
    ASSERT_EQ(error, "") << "seed " << seed;
    ASSERT_EQ(d.size(), 3u);
    for (size_t k = 0; k < 3; ++k)
        for (size_t i = 0; i < records[k].size(); ++i)
            ASSERT_EQ(CompareMacroblock(records[k][i], d[k].mbs[i], types[k], true), "")
                << "cabac " << cabac << " seed " << seed << " picture " << k << " macroblock " << i;
}

TEST(MacroblockPairs, CabacPicturesParseBack)
{
    for (unsigned seed = 1; seed <= 12; ++seed)
        PairRoundTrip(1, seed);
}

TEST(MacroblockPairs, CavlcPicturesParseBack)
{
    for (unsigned seed = 21; seed <= 32; ++seed)
        PairRoundTrip(0, seed);
}

TEST(MacroblockPairs, SlicesEndBetweenPairs)
{
    PairRoundTrip(1, 41, 1, 4);
    PairRoundTrip(0, 42, 1, 6);
    PairRoundTrip(1, 43, 2, 40);
}

} // namespace

} // namespace enc_mbaff_test
