// Further round trips of field and picture-adaptive coding: more references, an intra period, POC type
// 1, slice modes, intra refresh with constrained intra prediction, the progressive pan; CABAC slices
// with the adaptive and a fixed model in fields and macroblock pairs.
#include "h264enc/support/field_round_trip.h"

#include <gtest/gtest.h>

namespace enc_fields_heavy_test {

using enc_fields::FieldRow;
using enc_fields::kIppp;
using enc_fields::With;

const FieldRow kRows[] = {
    {"FieldsTwoReferencesIntraPeriod2", 4,
     With(kIppp, {"InterlaceCodingOption = 2", "NumberReferenceFrames = 2", "IntraPeriod = 2"})},
    {"FieldsIbpTemporalDirectTwoReferences",
     5,
     {"InterlaceCodingOption = 2", "NumberBFrames = 1", "FrameSkip = 1", "DirectModeType = 0",
      "NumberReferenceFrames = 2"}},
    {"FieldsPocType1IbpTemporalDirect",
     5,
     {"InterlaceCodingOption = 2", "PicOrderCntType = 1", "NumberBFrames = 1", "FrameSkip = 1",
      "DirectModeType = 0"}},
    {"FieldsSliceMode1Cabac", 3,
     With(kIppp, {"InterlaceCodingOption = 2", "SliceMode = 1", "SliceArgument = 50"})},
    {"FieldsSliceMode2Cavlc", 3,
     With(kIppp, {"InterlaceCodingOption = 2", "SliceMode = 2", "SliceArgument = 300", "SymbolMode = 0"})},
    {"AdaptiveProgressiveCavlc", 4, With(kIppp, {"InterlaceCodingOption = 1", "SymbolMode = 0"})},
    {"AdaptiveInterlacedCabacTwoReferences", 4,
     With(kIppp, {"InterlaceCodingOption = 1", "NumberReferenceFrames = 2"}), 5, 2},
    {"AdaptiveInterlacedIntraRefreshConstrainedIntra",
     5,
     {"InterlaceCodingOption = 1", "RandomIntraMBRefresh = 10", "UseConstrainedIntraPred = 1"},
     5,
     1},
    // CABAC with several slices a picture and the adaptive or a fixed model, fields and macroblock pairs.
    {"FieldsIbpCabacSlicesAdaptiveModel", 5, enc_fields::IbpCabacSlices(2, 50, {"ContextInitMethod = 1"}), 5,
     1},
    {"FieldsIbpCabacSlicesFixedModel", 5,
     enc_fields::IbpCabacSlices(2, 50, {"ContextInitMethod = 0", "FixedModelNumber = 1"}), 5, 1},
    {"MbaffIbpCabacSlicesAdaptiveModel", 5,
     enc_fields::IbpCabacSlices(3, 44, {"RDOptimization = 1", "ContextInitMethod = 1"}), 5, 1},
    {"MbaffIbpCabacSlicesFixedModel", 5,
     enc_fields::IbpCabacSlices(3, 44,
                                {"RDOptimization = 1", "ContextInitMethod = 0", "FixedModelNumber = 2"}),
     5, 1},
};

class FieldRoundTrip : public ::testing::TestWithParam<FieldRow>
{
};

TEST_P(FieldRoundTrip, ReconstructionEqualsTheDecodersOutput)
{
    enc_fields::CheckFieldRoundTrip(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Rows, FieldRoundTrip, ::testing::ValuesIn(kRows),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace enc_fields_heavy_test
