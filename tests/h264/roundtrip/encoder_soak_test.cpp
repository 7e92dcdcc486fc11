// A settings soak: seeded random settings files, values in and out of their ranges, on a small
// three-frame pan. Every run must either be refused with a message or round-trip: the decoder's output
// equals the reconstruction file byte for byte. Runs whose stream the decoder reads past by design
// (several slice groups, data partitions, RTP packets) only have to end cleanly.
#include "h264/support/h264_roundtrip.h"
#include "h264enc/support/encoder_fixture.h"
#include "platform/format.h"
#include "platform/log.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <random>

namespace encoder_soak_test {

constexpr int kW = 48, kH = 32, kFrames = 3;
constexpr int kRuns = 300;

struct Setting
{
    const char *key;
    int lo, hi;   // the values the encoder takes, drawn uniformly
    int usual;    // the value most runs keep
    int per_cent; // how often the value is drawn rather than kept
};

// Within their ranges the values may still clash (B pictures beyond the skipped frames, partitions
// without constrained intra, features the encoder does not have yet): those runs are refused too.
const Setting kSettings[] = {
    {"IntraPeriod", 0, 3, 0, 30},
    {"QPFirstFrame", 0, 51, 28, 40},
    {"QPRemainingFrame", 0, 51, 28, 40},
    {"QPBPicture", 0, 51, 30, 40},
    {"FrameSkip", 0, 3, 1, 40},
    {"NumberBFrames", 0, 2, 1, 30},
    {"UseHadamard", 0, 1, 1, 30},
    {"SearchRange", 0, 39, 16, 30},
    {"NumberReferenceFrames", 1, 5, 1, 40},
    {"AdditionalReferenceFrame", 0, 4, 0, 10},
    {"MbLineIntraUpdate", 0, 2, 0, 15},
    {"RandomIntraMBRefresh", 0, 6, 0, 15},
    {"InterSearch16x16", 0, 1, 1, 20},
    {"InterSearch16x8", 0, 1, 1, 20},
    {"InterSearch8x16", 0, 1, 1, 20},
    {"InterSearch8x8", 0, 1, 1, 20},
    {"InterSearch8x4", 0, 1, 1, 20},
    {"InterSearch4x8", 0, 1, 1, 20},
    {"InterSearch4x4", 0, 1, 1, 20},
    {"SliceMode", 0, 4, 0, 40},
    {"SliceArgument", 1, 8, 50, 60},
    {"num_slice_groups_minus1", 0, 3, 0, 8},
    {"FmoType", 1, 6, 1, 80},
    {"FmoTopLeftMB", 0, 5, 0, 50},
    {"FmoBottomRightMB", 0, 5, 4, 50},
    {"FmoChangeDirection", 0, 1, 1, 50},
    {"FmoChangeRate", 0, 5, 1, 50},
    {"DirectModeType", 0, 1, 1, 30},
    {"SPPicturePeriodicity", 0, 3, 0, 15},
    {"QPSPPicture", 0, 51, 28, 30},
    {"QPSP2Picture", 0, 51, 27, 30},
    {"SymbolMode", 0, 1, 1, 50},
    {"OutFileMode", 0, 1, 0, 8},
    {"PartitionMode", 0, 1, 0, 8},
    {"RestrictSearchRange", 0, 2, 2, 20},
    {"RDOptimization", 0, 2, 0, 8},
    {"LossRateA", 0, 100, 10, 10},
    {"NumberOfDecoders", 1, 3, 30, 10},
    {"RestrictRefFrames", 0, 2, 0, 8},
    {"UseConstrainedIntraPred", 0, 1, 0, 30},
    {"LastFrameNumber", 0, 2, 0, 8},
    {"ChangeQPP", 0, 51, 16, 20},
    {"ChangeQPB", 0, 51, 18, 20},
    {"ChangeQPStart", 0, 2, 0, 20},
    {"InterlaceCodingOption", 0, 3, 0, 6},
    {"NumberFramesInEnhancementLayerSubSequence", 0, 1, 0, 3},
    {"NumberOfFrameInSecondIGOP", 0, 1, 0, 8},
    {"WeightedPrediction", 0, 1, 0, 15},
    {"WeightedBiprediction", 0, 2, 0, 6},
    {"StoredBPictures", 0, 1, 0, 6},
    {"PicOrderCntType", 0, 2, 0, 20},
    {"LoopFilterParametersFlag", 0, 1, 0, 30},
    {"LoopFilterDisable", 0, 1, 0, 30},
    {"LoopFilterAlphaC0Offset", -6, 6, -2, 30},
    {"LoopFilterBetaOffset", -6, 6, -1, 30},
    {"ContextInitMethod", 0, 1, 1, 30},
    {"FixedModelNumber", 0, 2, 0, 30},
};

int Value(const std::vector<std::string> &lines, const std::string &key, int otherwise)
{
    for (const std::string &line : lines)
        if (line.rfind(key + " = ", 0) == 0)
            return std::stoi(line.substr(key.size() + 3));
    return otherwise;
}

TEST(EncoderSettingsSoak, EveryRandomSettingIsRefusedWithAMessageOrRoundTrips)
{
    zntest::ScratchDir dir;
    const std::string pan = dir.File("pan.yuv");
    const std::vector<uint8_t> seq = enctest::SyntheticPan(kW, kH, kFrames, 1, 1);
    ASSERT_TRUE(zntest::WriteFileBytes(pan, std::vector<unsigned char>(seq.begin(), seq.end())));
    // The runs' diagnostics are not wanted here; restored on every way out.
    struct QuietLog
    {
        zn::LogSink old = zn::SetLogSink([](zn::LogLevel, const std::string &) {});
        ~QuietLog() { zn::SetLogSink(old); }
    } quiet;
    std::mt19937 rng(20261211);
    int refused = 0, exact = 0, structural = 0;
    for (int run = 0; run < kRuns; ++run) {
        std::vector<std::string> lines;
        for (const Setting &s : kSettings) {
            const bool draw = static_cast<int>(rng() % 100) < s.per_cent;
            const int v =
                draw ? s.lo + static_cast<int>(rng() % static_cast<unsigned>(s.hi - s.lo + 1)) : s.usual;
            lines.push_back(zn::Format("%s = %d", s.key, v));
        }
        // One run in five takes a value just outside one setting's range.
        if (rng() % 5 == 0) {
            const size_t k = rng() % std::size(kSettings);
            const Setting &s = kSettings[k];
            lines[k] = zn::Format("%s = %d", s.key, rng() % 2 ? s.lo - 1 : s.hi + 1);
        }
        std::string text;
        for (const std::string &l : lines)
            text += l + "; ";
        SCOPED_TRACE(zn::Format("run %d: ", run) + text);

        auto v = enctest::DialogValues(pan, kW, kH, kFrames, dir.File("out.264"));
        v.FrameSkip = Value(lines, "FrameSkip", 1);
        lines.push_back("ReconFile = \"" + dir.File("rec.yuv") + "\"");
        std::remove(dir.File("rec.yuv").c_str());
        const enctest::EncodeResult e = enctest::Encode(enctest::WriteSettings(dir.Path(), v, lines));
        if (!e.ok) {
            ++refused;
            EXPECT_FALSE(e.message.empty());
            ASSERT_FALSE(e.messages.empty()) << "refused without a message: " << e.message;
            EXPECT_FALSE(e.messages.back().text.empty());
            continue;
        }
        const bool isStructural = Value(lines, "num_slice_groups_minus1", 0) > 0 ||
                                  Value(lines, "PartitionMode", 0) != 0 ||
                                  Value(lines, "OutFileMode", 0) != 0;
        const zntest::H264DecodeResult d = zntest::DecodeH264ToYuv(dir.File("out.264"), dir.File("dec.yuv"));
        if (isStructural) {
            // Read past by design: a clean end either way, a message when it ends early.
            ++structural;
            EXPECT_TRUE(d.ok || !d.message.empty());
            continue;
        }
        ++exact;
        ASSERT_TRUE(d.ok) << d.message;
        const auto rec = zntest::ReadFileBytes(dir.File("rec.yuv"));
        const auto dec = zntest::ReadFileBytes(dir.File("dec.yuv"));
        EXPECT_EQ(rec.size(), e.host.frames.size() * kW * kH * 3 / 2);
        EXPECT_TRUE(rec == dec) << "first difference at byte "
                                << enctest::FirstDifference(std::vector<uint8_t>(rec.begin(), rec.end()),
                                                            std::vector<uint8_t>(dec.begin(), dec.end()));
    }
    std::printf("soak: %d runs, %d round trips, %d refused, %d structural\n", kRuns, exact, refused,
                structural);
    // The draw must exercise both outcomes, or the soak tests little.
    EXPECT_GT(exact, kRuns / 10);
    EXPECT_GT(refused, kRuns / 10);
}

} // namespace encoder_soak_test
