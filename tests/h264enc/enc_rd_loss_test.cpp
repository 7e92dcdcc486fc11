// Loss-aware decisions (RDOptimization 2): the losses come from the generator the run seeds at its
// start, so a run repeats exactly; without losses every simulated receiver sees the encoder's own
// pictures and the decisions are those of RDOptimization 1; with losses the decisions change and the
// stream still decodes to the reconstruction file. Restricted to reliable references, a macroblock is
// decided twice.
#include "h264/support/h264_roundtrip.h"
#include "h264enc/support/encoder_fixture.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace enc_rd_loss_test {

struct LossRun
{
    std::string message; // empty when the run succeeded
    std::vector<unsigned char> stream, recon, decoded;
};

// A 64 x height five-frame pan coded with the dialog's values and `lines`, and our decoder's output of it.
LossRun RunLossPan(const std::vector<std::string> &lines, int height = 48)
{
    LossRun r;
    zntest::ScratchDir dir;
    const std::string yuv = dir.File("in.yuv");
    const auto seq = enctest::SyntheticPan(64, height, 5, 3, 1);
    zntest::WriteFileBytes(yuv, std::vector<unsigned char>(seq.begin(), seq.end()));
    const auto v = enctest::DialogValues(yuv, 64, height, 5, dir.File("out.264"));
    std::vector<std::string> all = lines;
    all.push_back("ReconFile = \"" + dir.File("rec.yuv") + "\"");
    const enctest::EncodeResult e = enctest::Encode(enctest::WriteSettings(dir.Path(), v, all));
    if (!e.ok) {
        r.message = e.message.empty() ? "run failed" : e.message;
        return r;
    }
    r.stream = zntest::ReadFileBytes(dir.File("out.264"));
    r.recon = zntest::ReadFileBytes(dir.File("rec.yuv"));
    const zntest::H264DecodeResult d = zntest::DecodeH264ToYuv(dir.File("out.264"), dir.File("dec.yuv"));
    if (!d.ok)
        r.message = "decoder: " + d.message;
    r.decoded = zntest::ReadFileBytes(dir.File("dec.yuv"));
    return r;
}

std::vector<std::string> LossLines(int rd, int loss, const char *symbolMode, bool bPictures)
{
    std::vector<std::string> lines = {"RDOptimization = " + std::to_string(rd), "NumberOfDecoders = 3",
                                      "LossRateA = " + std::to_string(loss), symbolMode};
    if (!bPictures) {
        lines.push_back("NumberBFrames = 0");
        lines.push_back("FrameSkip = 0");
    }
    return lines;
}

TEST(RdLossAware, RepeatsExactlyAndWithoutLossesDecidesAsTheCostRuleAlone)
{
    for (const char *symbolMode : {"SymbolMode = 0", "SymbolMode = 1"})
        for (bool bPictures : {false, true}) {
            SCOPED_TRACE(std::string(symbolMode) + (bPictures ? ", B pictures" : ", I and P"));
            const LossRun first = RunLossPan(LossLines(2, 10, symbolMode, bPictures));
            ASSERT_EQ(first.message, "");
            EXPECT_EQ(first.recon, first.decoded);
            const LossRun again = RunLossPan(LossLines(2, 10, symbolMode, bPictures));
            ASSERT_EQ(again.message, "");
            EXPECT_EQ(first.stream, again.stream);

            const LossRun lossless = RunLossPan(LossLines(2, 0, symbolMode, bPictures));
            const LossRun costRule = RunLossPan(LossLines(1, 0, symbolMode, bPictures));
            ASSERT_EQ(lossless.message, "");
            ASSERT_EQ(costRule.message, "");
            EXPECT_EQ(lossless.stream, costRule.stream);
            EXPECT_EQ(lossless.recon, lossless.decoded);
        }
}

TEST(RdLossAware, HeavyLossesChangeTheDecisionsAndTheStreamStillDecodes)
{
    // A third of the slices lost in every receiver: copying from references the receivers may not hold
    // costs more than it did, so some macroblock is decided differently.
    const LossRun lossy = RunLossPan(LossLines(2, 35, "SymbolMode = 0", false));
    const LossRun costRule = RunLossPan(LossLines(1, 0, "SymbolMode = 0", false));
    ASSERT_EQ(lossy.message, "");
    ASSERT_EQ(costRule.message, "");
    EXPECT_NE(lossy.stream, costRule.stream);
    EXPECT_EQ(lossy.recon, lossy.decoded);
}

TEST(RdLossAware, RestrictedReferencesDecideTwiceAndRoundTrip)
{
    // Without losses the second decision repeats the first, so no block counts as refreshed and the
    // references allowed are those of the cost rule with its refresh flags (no forced intra here).
    std::vector<std::string> restricted = {"RestrictRefFrames = 1", "NumberReferenceFrames = 3"};
    for (const char *symbolMode : {"SymbolMode = 0", "SymbolMode = 1"}) {
        SCOPED_TRACE(symbolMode);
        auto lines = [&](int rd, int loss) {
            std::vector<std::string> l = LossLines(rd, loss, symbolMode, false);
            l.insert(l.end(), restricted.begin(), restricted.end());
            return l;
        };
        const LossRun lossless = RunLossPan(lines(2, 0));
        const LossRun costRule = RunLossPan(lines(1, 0));
        ASSERT_EQ(lossless.message, "");
        ASSERT_EQ(costRule.message, "");
        EXPECT_EQ(lossless.stream, costRule.stream);
        const LossRun lossy = RunLossPan(lines(2, 35));
        ASSERT_EQ(lossy.message, "");
        EXPECT_EQ(lossy.recon, lossy.decoded);
        EXPECT_FALSE(lossy.recon.empty());
    }
}

TEST(RdLossAware, PartitionLossesAndPicturesTheReceiversDoNotFollowRoundTrip)
{
    // Partition losses take their own concealment (the run must succeed; our decoder does not read
    // partitioned streams); field pictures and macroblock-adaptive frames are stored in the receivers as
    // the encoder made them, and those streams decode to the reconstruction.
    const std::vector<std::vector<std::string>> cases = {
        {"PartitionMode = 1", "UseConstrainedIntraPred = 1", "LossRateB = 20", "LossRateC = 20",
         "SliceMode = 1", "SliceArgument = 4"},
        {"InterlaceCodingOption = 1"},
        {"InterlaceCodingOption = 2"},
        {"InterlaceCodingOption = 3", "IntraPeriod = 1"},
    };
    for (const auto &extra : cases) {
        SCOPED_TRACE(extra[0]);
        std::vector<std::string> lines =
            LossLines(2, 10, "SymbolMode = 0", extra[0].rfind("Interlace", 0) != 0);
        if (extra[0] == "InterlaceCodingOption = 3") {
            lines.push_back("NumberBFrames = 0");
            lines.push_back("FrameSkip = 0");
        }
        lines.insert(lines.end(), extra.begin(), extra.end());
        const bool partitioned = extra[0] == "PartitionMode = 1";
        const LossRun r = RunLossPan(lines, partitioned ? 48 : 64);
        ASSERT_EQ(r.message, "");
        const size_t pictureBytes = (partitioned ? 64u * 48 : 64u * 64) * 3 / 2;
        EXPECT_FALSE(r.recon.empty());
        EXPECT_EQ(r.recon.size() % pictureBytes, 0u);
        if (!partitioned) {
            EXPECT_EQ(r.recon, r.decoded);
        }
    }
}

} // namespace enc_rd_loss_test
