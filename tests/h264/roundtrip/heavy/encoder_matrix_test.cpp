// The round-trip matrix on QCIF nine-frame pans: one row per coding choice the encoder offers, each
// checked as the round-trip table checks its rows (see roundtrip_table.h). A row is one line naming
// only what differs from the defaults (a QCIF 9-frame pan, the dialog's values):
// {.name = "...", .settings = {"Key = value", ...}} and what the stream must show.
#include "roundtrip_table.h"

#include <gtest/gtest.h>

namespace encoder_matrix_test {

using rtcheck::RoundTripRow;

class EncoderMatrix : public ::testing::TestWithParam<RoundTripRow>
{
};

TEST_P(EncoderMatrix, ReconstructionEqualsTheDecodersOutput)
{
    rtcheck::RunRoundTripRow(GetParam());
}

const RoundTripRow kMatrix[] = {
    {.name = "FiveReferences",
     .settings = {"NumberBFrames = 0", "FrameSkip = 0", "NumberReferenceFrames = 5"}},
    {.name = "FiveReferencesWithB", .settings = {"NumberReferenceFrames = 5"}, .slice_types = {6}},
    {.name = "AdditionalReferenceFrame2OneReference",
     .settings = {"NumberBFrames = 0", "FrameSkip = 0", "AdditionalReferenceFrame = 2"}},
    {.name = "HadamardOff", .settings = {"UseHadamard = 0"}},
    {.name = "ConstrainedIntraUvlc", .settings = {"UseConstrainedIntraPred = 1", "SymbolMode = 0"}},
    {.name = "SearchRange1", .settings = {"SearchRange = 1"}},
    {.name = "SearchRange39", .settings = {"SearchRange = 39"}},
    {.name = "RestrictSearchRange0", .settings = {"RestrictSearchRange = 0"}},
    {.name = "RestrictSearchRange1", .settings = {"RestrictSearchRange = 1"}},
    {.name = "Partitions16x16Only",
     .settings = {"InterSearch16x8 = 0", "InterSearch8x16 = 0", "InterSearch8x8 = 0", "InterSearch8x4 = 0",
                  "InterSearch4x8 = 0", "InterSearch4x4 = 0"}},
    {.name = "EightByEightFamilyOnly",
     .settings = {"InterSearch16x16 = 0", "InterSearch16x8 = 0", "InterSearch8x16 = 0"}},
    {.name = "NoInterModes",
     .settings = {"InterSearch16x16 = 0", "InterSearch16x8 = 0", "InterSearch8x16 = 0", "InterSearch8x8 = 0",
                  "InterSearch8x4 = 0", "InterSearch4x8 = 0", "InterSearch4x4 = 0"}},
    {.name = "Qp0", .settings = {"QPFirstFrame = 0", "QPRemainingFrame = 0", "QPBPicture = 0"}},
    {.name = "Qp0Uvlc",
     .settings = {"QPFirstFrame = 0", "QPRemainingFrame = 0", "QPBPicture = 0", "SymbolMode = 0"}},
    {.name = "Qp51", .settings = {"QPFirstFrame = 51", "QPRemainingFrame = 51", "QPBPicture = 51"}},
    {.name = "Qp51Uvlc",
     .settings = {"QPFirstFrame = 51", "QPRemainingFrame = 51", "QPBPicture = 51", "SymbolMode = 0"}},
    {.name = "ChangeQPStart", .settings = {"ChangeQPStart = 4", "ChangeQPP = 38", "ChangeQPB = 44"}},
    {.name = "LoopFilterDisabled", .settings = {"LoopFilterParametersFlag = 1", "LoopFilterDisable = 1"}},
    {.name = "LoopFilterOffsetsPlus6",
     .settings = {"LoopFilterParametersFlag = 1", "LoopFilterAlphaC0Offset = 6", "LoopFilterBetaOffset = 6"}},
    {.name = "LoopFilterOffsetsMinus6",
     .settings = {"LoopFilterParametersFlag = 1", "LoopFilterAlphaC0Offset = -6",
                  "LoopFilterBetaOffset = -6"}},
    {.name = "ContextInitMethod0Model0", .settings = {"ContextInitMethod = 0", "FixedModelNumber = 0"}},
    {.name = "ContextInitMethod0Model1", .settings = {"ContextInitMethod = 0", "FixedModelNumber = 1"}},
    {.name = "ContextInitMethod0Model2", .settings = {"ContextInitMethod = 0", "FixedModelNumber = 2"}},
    {.name = "PocType1WithB", .settings = {"PicOrderCntType = 1"}, .slice_types = {6}},
    {.name = "PocType2NoB", .settings = {"PicOrderCntType = 2", "NumberBFrames = 0", "FrameSkip = 0"}},
    {.name = "SecondIntraGroup",
     .frames = 6,
     .settings = {"NumberBFrames = 0", "FrameSkip = 0", "NumberOfFrameInSecondIGOP = 3"},
     .idr_pictures = 2},
    {.name = "SecondIntraGroupWithB",
     .frames = 5,
     .settings = {"NumberOfFrameInSecondIGOP = 2"},
     .slice_types = {6},
     .idr_pictures = 2},
    {.name = "LastFrameNumber", .settings = {"LastFrameNumber = 7"}, .slice_types = {6}},
    {.name = "SliceMode3", .settings = {"SliceMode = 3", "SliceArgument = 50"}, .slices_per_picture = 1},
    {.name = "SliceMode4", .settings = {"SliceMode = 4", "SliceArgument = 13"}, .slices_per_picture = 8},
    {.name = "MbLineIntraUpdate",
     .settings = {"MbLineIntraUpdate = 1", "NumberBFrames = 0", "FrameSkip = 0"}},
    {.name = "RdCostRuleUvlc",
     .settings = {"RDOptimization = 1", "SymbolMode = 0", "NumberBFrames = 0", "FrameSkip = 0"}},
    {.name = "RdCostRuleCabacWithB",
     .settings = {"RDOptimization = 1", "SymbolMode = 1"},
     .slice_types = {6}},
    {.name = "RdCostRuleUvlcWithB", .settings = {"RDOptimization = 1", "SymbolMode = 0"}, .slice_types = {6}},
    {.name = "RdLossAwareThreeDecoders10PercentUvlc",
     .settings = {"RDOptimization = 2", "NumberOfDecoders = 3", "LossRateA = 10", "SymbolMode = 0",
                  "NumberBFrames = 0", "FrameSkip = 0"}},
    {.name = "RdLossAwareThreeDecoders10PercentCabacWithB",
     .settings = {"RDOptimization = 2", "NumberOfDecoders = 3", "LossRateA = 10", "SymbolMode = 1"},
     .slice_types = {6}},
    {.name = "RdLossAwareRestrictRefFrames1",
     .settings = {"RDOptimization = 2", "NumberOfDecoders = 3", "LossRateA = 10", "RestrictRefFrames = 1",
                  "NumberReferenceFrames = 3", "NumberBFrames = 0", "FrameSkip = 0"}},
    // Macroblock-adaptive frames (CIF): three references (six fields for field pairs), a second I
    // picture, slices, and the loss-aware decision; on the pan whose fields show different times.
    {.name = "MbaffThreeReferencesCabac",
     .width = 352,
     .height = 288,
     .frames = 6,
     .settings = {"InterlaceCodingOption = 3", "RDOptimization = 1", "NumberBFrames = 0", "FrameSkip = 0",
                  "SymbolMode = 1", "NumberReferenceFrames = 3", "IntraPeriod = 4"},
     .slice_types = {7, 5},
     .filter = "tinterlace=mode=interleave_top"},
    {.name = "MbaffThreeReferencesCavlc",
     .width = 352,
     .height = 288,
     .frames = 6,
     .settings = {"InterlaceCodingOption = 3", "RDOptimization = 1", "NumberBFrames = 0", "FrameSkip = 0",
                  "SymbolMode = 0", "NumberReferenceFrames = 3", "IntraPeriod = 4"},
     .slice_types = {7, 5},
     .filter = "tinterlace=mode=interleave_top"},
    {.name = "MbaffSliceMode1Cavlc",
     .width = 352,
     .height = 288,
     .frames = 4,
     .settings = {"InterlaceCodingOption = 3", "RDOptimization = 1", "NumberBFrames = 0", "FrameSkip = 0",
                  "SymbolMode = 0", "SliceMode = 1", "SliceArgument = 30"},
     .slice_types = {7, 5},
     .several_slices = true,
     .filter = "tinterlace=mode=interleave_top"},
    {.name = "MbaffSliceMode2Cabac",
     .width = 352,
     .height = 288,
     .frames = 4,
     .settings = {"InterlaceCodingOption = 3", "RDOptimization = 1", "NumberBFrames = 0", "FrameSkip = 0",
                  "SymbolMode = 1", "SliceMode = 2", "SliceArgument = 1500"},
     .slice_types = {7, 5},
     .several_slices = true,
     .filter = "tinterlace=mode=interleave_top"},
    {.name = "MbaffLossAwareCavlc",
     .width = 352,
     .height = 288,
     .frames = 4,
     .settings = {"InterlaceCodingOption = 3", "RDOptimization = 2", "NumberOfDecoders = 3", "LossRateA = 10",
                  "NumberBFrames = 0", "FrameSkip = 0", "SymbolMode = 0"},
     .slice_types = {7, 5},
     .filter = "tinterlace=mode=interleave_top"},
};

INSTANTIATE_TEST_SUITE_P(Rows, EncoderMatrix, ::testing::ValuesIn(kMatrix),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace encoder_matrix_test
