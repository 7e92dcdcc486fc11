// Macroblock-adaptive pairs under the real mode decision: each pair is decided as frame and as field
// macroblocks, and the coding that is not chosen must leave no trace. A pair whose field coding is
// tried for real and then refused writes the same stream and reconstruction as a pair whose field
// coding is never tried.
#include "h264enc/mode_decision.h"
#include "h264enc/rd_decision.h"
#include "h264enc/support/slice_fixture.h"

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

} // namespace enc_mbaff_pair_test
