// The encoder's round trip, one row per coding choice (the machinery and what each row checks: see
// roundtrip_table.h). The larger matrix on nine-frame pans is in heavy/, outside the sanitizer pass.
#include "roundtrip_table.h"

#include <gtest/gtest.h>

namespace encoder_roundtrip_test { // one namespace per test file: a folder compiles as one source

namespace encoder_roundtrip_test {

using rtcheck::RoundTripRow;

class EncoderRoundTrip : public ::testing::TestWithParam<RoundTripRow>
{
};

TEST_P(EncoderRoundTrip, ReconstructionEqualsTheDecodersOutput)
{
    rtcheck::RunRoundTripRow(GetParam());
}

// One line per row; the later rows name only what differs from the defaults (a QCIF 9-frame pan, the
// dialog's values): {.name = "...", .settings = {"Key = value", ...}} and what the stream must show.
const RoundTripRow kRows[] = {
    {"DialogDefaultsCabac", 176, 144, 5, {}, {7, 5, 6}},
    {"DialogDefaultsUvlc", 176, 144, 5, {"SymbolMode = 0"}, {7, 5, 6}},
    {"IpppOneReference", 176, 144, 4, {"NumberBFrames = 0", "FrameSkip = 0"}, {7, 5}},
    {"IpppThreeReferences",
     176,
     144,
     5,
     {"NumberBFrames = 0", "FrameSkip = 0", "NumberReferenceFrames = 3"},
     {5}},
    {"IpppThreeReferencesUvlc",
     176,
     144,
     5,
     {"NumberBFrames = 0", "FrameSkip = 0", "NumberReferenceFrames = 3", "SymbolMode = 0"},
     {5}},
    {"IntraOnly", 176, 144, 3, {"IntraPeriod = 1", "NumberBFrames = 0", "FrameSkip = 0"}, {7}},
    {"IntraPeriod3", 176, 144, 5, {"IntraPeriod = 3", "NumberBFrames = 0", "FrameSkip = 0"}, {7, 5}},
    {"IbbpSpatialDirect", 176, 144, 7, {"NumberBFrames = 2", "FrameSkip = 2", "DirectModeType = 1"}, {6}},
    {"IbbpTemporalDirect", 176, 144, 7, {"NumberBFrames = 2", "FrameSkip = 2", "DirectModeType = 0"}, {6}},
    {"IbbpTemporalDirectUvlc",
     176,
     144,
     7,
     {"NumberBFrames = 2", "FrameSkip = 2", "DirectModeType = 0", "SymbolMode = 0"},
     {6}},
    {"FrameSkip3TwoBTemporalDirect",
     176,
     144,
     9,
     {"NumberBFrames = 2", "FrameSkip = 3", "DirectModeType = 0"},
     {6}},
    {"SliceMode1", 176, 144, 5, {"SliceMode = 1", "SliceArgument = 13"}, {}, true},
    {"SliceMode2Uvlc", 176, 144, 5, {"SliceMode = 2", "SliceArgument = 300", "SymbolMode = 0"}, {}, true},
    {"SliceMode2Cabac", 176, 144, 5, {"SliceMode = 2", "SliceArgument = 300"}, {}, true},
    {"TenForcedIntraMacroblocks", 176, 144, 5, {"RandomIntraMBRefresh = 10"}},
    {"SpPictures", 176, 144, 5, {"SPPicturePeriodicity = 2", "NumberBFrames = 0", "FrameSkip = 0"}, {8}},
    {"SpPicturesUvlc",
     176,
     144,
     5,
     {"SPPicturePeriodicity = 2", "NumberBFrames = 0", "FrameSkip = 0", "SymbolMode = 0"},
     {8}},
    {"WeightedP", 176, 144, 5, {"WeightedPrediction = 1"}, {5, 6}, false, "eq=brightness=0.04*n:eval=frame"},
    {"WeightedPUvlcThreeReferences",
     176,
     144,
     5,
     {"WeightedPrediction = 1", "NumberBFrames = 0", "FrameSkip = 0", "NumberReferenceFrames = 3",
      "SymbolMode = 0"},
     {5},
     false,
     "eq=brightness=0.04*n:eval=frame"},
    {"WeightedPAndExplicitB",
     176,
     144,
     7,
     {"WeightedPrediction = 1", "WeightedBiprediction = 1", "NumberBFrames = 2", "FrameSkip = 2",
      "DirectModeType = 1"},
     {5, 6},
     false,
     "eq=brightness=0.04*n:eval=frame"},
    {"ExplicitBUvlc",
     176,
     144,
     7,
     {"WeightedBiprediction = 1", "NumberBFrames = 2", "FrameSkip = 2", "DirectModeType = 1",
      "SymbolMode = 0"},
     {6},
     false,
     "eq=brightness=0.04*n:eval=frame"},
    // Two B pictures between their references: unequal distances, so the implicit weights are not even.
    {"ImplicitB",
     176,
     144,
     7,
     {"WeightedBiprediction = 2", "NumberBFrames = 2", "FrameSkip = 2", "DirectModeType = 1",
      "PicOrderCntType = 1"},
     {6},
     false,
     "eq=brightness=0.04*n:eval=frame"},
    {"ImplicitBUvlcTwoReferences",
     176,
     144,
     7,
     {"WeightedBiprediction = 2", "NumberBFrames = 2", "FrameSkip = 2", "DirectModeType = 1",
      "NumberReferenceFrames = 2", "SymbolMode = 0", "PicOrderCntType = 1"},
     {6}},
    {"StoredB", 176, 144, 5, {"StoredBPictures = 1", "NumberBFrames = 0", "FrameSkip = 0"}, {7, 5, 6}},
    {"StoredBUvlcOneReference",
     176,
     144,
     5,
     {"StoredBPictures = 1", "NumberBFrames = 0", "FrameSkip = 0", "NumberReferenceFrames = 1",
      "SymbolMode = 0"},
     {7, 5, 6}},
    {"StoredBBetweenB",
     176,
     144,
     7,
     {"StoredBPictures = 1", "NumberBFrames = 1", "FrameSkip = 1", "NumberReferenceFrames = 2",
      "DirectModeType = 1"},
     {7, 5, 6}},
    {"StoredBWeighted",
     176,
     144,
     7,
     {"StoredBPictures = 1", "NumberBFrames = 1", "FrameSkip = 1", "NumberReferenceFrames = 3",
      "WeightedBiprediction = 1", "WeightedPrediction = 1", "DirectModeType = 1", "SymbolMode = 0"},
     {7, 5, 6},
     false,
     "eq=brightness=0.04*n:eval=frame"},
    {"StoredBImplicit",
     176,
     144,
     7,
     {"StoredBPictures = 1", "NumberBFrames = 1", "FrameSkip = 1", "NumberReferenceFrames = 3",
      "WeightedBiprediction = 2", "DirectModeType = 1", "PicOrderCntType = 1"},
     {7, 5, 6}},
    {"ConstrainedIntra", 176, 144, 5, {"UseConstrainedIntraPred = 1"}},
    {"SixteenBySixteen", 16, 16, 5, {}, {7, 5, 6}},
    {"OneMacroblockWide", 16, 64, 5, {}, {7, 5, 6}},
    {.name = "SixReferencesRefused",
     .settings = {"NumberReferenceFrames = 6"},
     .refused = "NumberReferenceFrames too large"},
    // One-bit flags outside 0..1 used to code one way and signal another.
    {.name = "ConstrainedIntraFlag2Refused",
     .settings = {"UseConstrainedIntraPred = 2"},
     .refused = "UseConstrainedIntraPred=2, must be in 0..1"},
    {.name = "LoopFilterParametersFlag2Refused",
     .settings = {"LoopFilterParametersFlag = 2"},
     .refused = "LoopFilterParametersFlag=2, must be in 0..1"},
};

INSTANTIATE_TEST_SUITE_P(Rows, EncoderRoundTrip, ::testing::ValuesIn(kRows),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace encoder_roundtrip_test

} // namespace encoder_roundtrip_test
