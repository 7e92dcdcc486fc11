// The encoder's parameter record: one field per key of the settings file, in the record's order, and
// the key table through which the settings parser stores a value. The table's order is the lookup
// order, so it is part of the file format.
#pragma once

#include <array>
#include <string>

namespace h264enc {

struct EncoderParams
{
    int FramesToBeEncoded = 0;
    int QPFirstFrame = 0;
    int QPRemainingFrame = 0;
    int FrameSkip = 0;
    int UseHadamard = 0;
    int SearchRange = 0;
    int NumberReferenceFrames = 0;
    int SourceWidth = 0;
    int SourceHeight = 0;
    int MbLineIntraUpdate = 0;
    // Width and height of the prediction block of inter modes 0..7 (filled by check_settings).
    std::array<std::array<int, 2>, 8> block_size{};
    int SliceMode = 0;
    int SliceArgument = 0;
    int UseConstrainedIntraPred = 0;
    int InputHeaderLength = 0;
    std::string InputFile;
    std::string OutputFile;
    std::string ReconFile;
    std::string TraceFile;
    int IntraPeriod = 0;
    int NumberBFrames = 0;
    int QPBPicture = 0;
    int DirectModeType = 0;
    int SPPicturePeriodicity = 0;
    int QPSPPicture = 0;
    int QPSP2Picture = 0;
    int WeightedPrediction = 0;
    int WeightedBiprediction = 0;
    int StoredBPictures = 0;
    int SymbolMode = 0;
    int OutFileMode = 0;
    int PartitionMode = 0;
    int InterSearch16x16 = 0;
    int InterSearch16x8 = 0;
    int InterSearch8x16 = 0;
    int InterSearch8x8 = 0;
    int InterSearch8x4 = 0;
    int InterSearch4x8 = 0;
    int InterSearch4x4 = 0;
    std::string PictureTypeSequence;
    int RestrictSearchRange = 0;
    int LastFrameNumber = 0;
    int ChangeQPP = 0;
    int ChangeQPB = 0;
    int ChangeQPStart = 0;
    int RDOptimization = 0;
    int AdditionalReferenceFrame = 0;
    int NumberofLeakyBuckets = 0;
    std::string LeakyBucketRateFile;
    std::string LeakyBucketParamFile;
    int InterlaceCodingOption = 0;
    int LossRateA = 0;
    int LossRateB = 0;
    int LossRateC = 0;
    int NumberOfDecoders = 0;
    int RestrictRefFrames = 0;
    int NumberFramesInEnhancementLayerSubSequence = 0;
    int NumberOfFrameInSecondIGOP = 0;
    int RandomIntraMBRefresh = 0;
    int FmoType = 0;
    std::string FmoConfigFileName;
    int LoopFilterParametersFlag = 0;
    int LoopFilterDisable = 0;
    int LoopFilterAlphaC0Offset = 0;
    int LoopFilterBetaOffset = 0;
    int SparePictureOption = 0;
    int SparePictureDetectionThr = 0;
    int SparePicturePercentageThr = 0;
    int num_slice_groups_minus1 = 0;
    int mb_allocation_map_type = 0; // copy of FmoType made by check_settings: the PPS's map type
    int FmoTopLeftMB = 0;
    int FmoBottomRightMB = 0;
    int FmoChangeDirection = 0;
    int FmoChangeRate = 0;
    int UseRedundantSlice = 0;
    int PicOrderCntType = 0;
    int ContextInitMethod = 0;
    int FixedModelNumber = 0;
};

// One entry of the key table: the name and the field it stores into (an int or a string).
struct SettingsKey
{
    const char *name;
    int EncoderParams::*int_field;
    std::string EncoderParams::*string_field;
};

constexpr int kSettingsKeyCount = 76;
extern const std::array<SettingsKey, kSettingsKeyCount> kSettingsKeys;

// Index of the entry whose name equals `name` exactly (case-sensitive), or -1.
int settings_key_index(const char *name);

} // namespace h264enc
