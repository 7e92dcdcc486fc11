// The settings key table in its lookup order.
#include "h264enc/enc_params.h"

#include <cstring>

namespace h264enc {

namespace {
constexpr SettingsKey Int(const char *name, int EncoderParams::*field)
{
    return {name, field, nullptr};
}
constexpr SettingsKey Str(const char *name, std::string EncoderParams::*field)
{
    return {name, nullptr, field};
}
} // namespace

const std::array<SettingsKey, kSettingsKeyCount> kSettingsKeys = {{
    Int("IntraPeriod", &EncoderParams::IntraPeriod),
    Int("FramesToBeEncoded", &EncoderParams::FramesToBeEncoded),
    Int("QPFirstFrame", &EncoderParams::QPFirstFrame),
    Int("QPRemainingFrame", &EncoderParams::QPRemainingFrame),
    Int("FrameSkip", &EncoderParams::FrameSkip),
    Int("UseHadamard", &EncoderParams::UseHadamard),
    Int("SearchRange", &EncoderParams::SearchRange),
    Int("NumberReferenceFrames", &EncoderParams::NumberReferenceFrames),
    Int("SourceWidth", &EncoderParams::SourceWidth),
    Int("SourceHeight", &EncoderParams::SourceHeight),
    Int("MbLineIntraUpdate", &EncoderParams::MbLineIntraUpdate),
    Int("SliceMode", &EncoderParams::SliceMode),
    Int("SliceArgument", &EncoderParams::SliceArgument),
    Int("UseConstrainedIntraPred", &EncoderParams::UseConstrainedIntraPred),
    Str("InputFile", &EncoderParams::InputFile),
    Int("InputHeaderLength", &EncoderParams::InputHeaderLength),
    Str("OutputFile", &EncoderParams::OutputFile),
    Str("ReconFile", &EncoderParams::ReconFile),
    Str("TraceFile", &EncoderParams::TraceFile),
    Int("NumberBFrames", &EncoderParams::NumberBFrames),
    Int("QPBPicture", &EncoderParams::QPBPicture),
    Int("DirectModeType", &EncoderParams::DirectModeType),
    Int("SPPicturePeriodicity", &EncoderParams::SPPicturePeriodicity),
    Int("QPSPPicture", &EncoderParams::QPSPPicture),
    Int("QPSP2Picture", &EncoderParams::QPSP2Picture),
    Int("SymbolMode", &EncoderParams::SymbolMode),
    Int("OutFileMode", &EncoderParams::OutFileMode),
    Int("PartitionMode", &EncoderParams::PartitionMode),
    Str("PictureTypeSequence", &EncoderParams::PictureTypeSequence),
    Int("InterSearch16x16", &EncoderParams::InterSearch16x16),
    Int("InterSearch16x8", &EncoderParams::InterSearch16x8),
    Int("InterSearch8x16", &EncoderParams::InterSearch8x16),
    Int("InterSearch8x8", &EncoderParams::InterSearch8x8),
    Int("InterSearch8x4", &EncoderParams::InterSearch8x4),
    Int("InterSearch4x8", &EncoderParams::InterSearch4x8),
    Int("InterSearch4x4", &EncoderParams::InterSearch4x4),
    Int("RestrictSearchRange", &EncoderParams::RestrictSearchRange),
    Int("LastFrameNumber", &EncoderParams::LastFrameNumber),
    Int("ChangeQPP", &EncoderParams::ChangeQPP),
    Int("ChangeQPB", &EncoderParams::ChangeQPB),
    Int("ChangeQPStart", &EncoderParams::ChangeQPStart),
    Int("RDOptimization", &EncoderParams::RDOptimization),
    Int("LossRateA", &EncoderParams::LossRateA),
    Int("LossRateB", &EncoderParams::LossRateB),
    Int("LossRateC", &EncoderParams::LossRateC),
    Int("NumberOfDecoders", &EncoderParams::NumberOfDecoders),
    Int("RestrictRefFrames", &EncoderParams::RestrictRefFrames),
    Int("AdditionalReferenceFrame", &EncoderParams::AdditionalReferenceFrame),
    Int("NumberofLeakyBuckets", &EncoderParams::NumberofLeakyBuckets),
    Str("LeakyBucketRateFile", &EncoderParams::LeakyBucketRateFile),
    Str("LeakyBucketParamFile", &EncoderParams::LeakyBucketParamFile),
    Int("InterlaceCodingOption", &EncoderParams::InterlaceCodingOption),
    Int("NumberFramesInEnhancementLayerSubSequence",
        &EncoderParams::NumberFramesInEnhancementLayerSubSequence),
    Int("NumberOfFrameInSecondIGOP", &EncoderParams::NumberOfFrameInSecondIGOP),
    Int("RandomIntraMBRefresh", &EncoderParams::RandomIntraMBRefresh),
    Int("num_slice_groups_minus1", &EncoderParams::num_slice_groups_minus1),
    Int("FmoType", &EncoderParams::FmoType),
    Str("FmoConfigFileName", &EncoderParams::FmoConfigFileName),
    Int("WeightedPrediction", &EncoderParams::WeightedPrediction),
    Int("WeightedBiprediction", &EncoderParams::WeightedBiprediction),
    Int("StoredBPictures", &EncoderParams::StoredBPictures),
    Int("LoopFilterParametersFlag", &EncoderParams::LoopFilterParametersFlag),
    Int("LoopFilterDisable", &EncoderParams::LoopFilterDisable),
    Int("LoopFilterAlphaC0Offset", &EncoderParams::LoopFilterAlphaC0Offset),
    Int("LoopFilterBetaOffset", &EncoderParams::LoopFilterBetaOffset),
    Int("SparePictureOption", &EncoderParams::SparePictureOption),
    Int("SparePictureDetectionThr", &EncoderParams::SparePictureDetectionThr),
    Int("SparePicturePercentageThr", &EncoderParams::SparePicturePercentageThr),
    Int("FmoTopLeftMB", &EncoderParams::FmoTopLeftMB),
    Int("FmoBottomRightMB", &EncoderParams::FmoBottomRightMB),
    Int("FmoChangeDirection", &EncoderParams::FmoChangeDirection),
    Int("FmoChangeRate", &EncoderParams::FmoChangeRate),
    Int("UseRedundantSlice", &EncoderParams::UseRedundantSlice),
    Int("PicOrderCntType", &EncoderParams::PicOrderCntType),
    Int("ContextInitMethod", &EncoderParams::ContextInitMethod),
    Int("FixedModelNumber", &EncoderParams::FixedModelNumber),
}};

int settings_key_index(const char *name)
{
    for (int i = 0; i < kSettingsKeyCount; ++i)
        if (std::strcmp(kSettingsKeys[static_cast<size_t>(i)].name, name) == 0)
            return i;
    return -1;
}

} // namespace h264enc
