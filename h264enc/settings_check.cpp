// The checks of the settings, in their order. Beyond the original rules, values the engine cannot take
// (negative counts, sizes of 0, parameters outside the ranges their tables have) are refused here,
// before the run, rather than failing somewhere inside it.
#include "h264dec/h264_shared.h"
#include "h264enc/enc_run.h"
#include "h264enc/settings_file.h"
#include "platform/format.h"
#include "platform/log.h"

namespace h264enc {

namespace {

// The largest picture side the engine takes: its stream buffers hold 4 bytes per luma sample in an int.
constexpr int kMaxPictureSide = 8192;
// The decoder keeps six reference pictures whatever the stream announces.
constexpr int kMaxReferenceFrames = 5;

[[noreturn]] void Fail(const std::string &text, int code)
{
    h264_fatal_error(text, code);
}

void Range(const char *name, int value, int lo, int hi)
{
    if (value < lo || value > hi)
        Fail(zn::Format("Error input parameter %s=%d, must be in %d..%d, check configuration file", name,
                        value, lo, hi),
             400);
}

void NotNegative(const char *name, int value)
{
    if (value < 0)
        Fail(zn::Format("Error input parameter %s=%d, must not be negative, check configuration file", name,
                        value),
             400);
}

// The refusals added to the original rules (code 400), and two original ones made before any file is written.
void CheckEngineRanges(const EncoderParams &p)
{
    if (p.FramesToBeEncoded < 1)
        Fail(zn::Format(
                 "Error input parameter FramesToBeEncoded=%d, must be at least 1, check configuration file",
                 p.FramesToBeEncoded),
             400);
    const std::pair<const char *, int> counts[] = {
        {"FrameSkip", p.FrameSkip},
        {"IntraPeriod", p.IntraPeriod},
        {"NumberBFrames", p.NumberBFrames},
        {"SearchRange", p.SearchRange},
        {"InputHeaderLength", p.InputHeaderLength},
        {"MbLineIntraUpdate", p.MbLineIntraUpdate},
        {"RandomIntraMBRefresh", p.RandomIntraMBRefresh},
        {"LastFrameNumber", p.LastFrameNumber},
        {"ChangeQPStart", p.ChangeQPStart},
        {"AdditionalReferenceFrame", p.AdditionalReferenceFrame},
        {"StoredBPictures", p.StoredBPictures},
        {"NumberOfFrameInSecondIGOP", p.NumberOfFrameInSecondIGOP},
        {"FmoChangeRate", p.FmoChangeRate},
        {"FmoTopLeftMB", p.FmoTopLeftMB},
        {"FmoBottomRightMB", p.FmoBottomRightMB},
        {"UseRedundantSlice", p.UseRedundantSlice},
    };
    for (const auto &c : counts)
        NotNegative(c.first, c.second);
    const int mbs = (p.SourceWidth / 16) * (p.SourceHeight / 16);
    Range("RandomIntraMBRefresh", p.RandomIntraMBRefresh, 0, mbs);
    Range("ChangeQPP", p.ChangeQPP, 0, 51);
    Range("ChangeQPB", p.ChangeQPB, 0, 51);
    Range("SliceMode", p.SliceMode, 0, 4);
    if (p.SliceMode != 0 && p.SliceArgument < 1)
        Fail(zn::Format("Error input parameter SliceArgument=%d, must be at least 1 with SliceMode %d, check "
                        "configuration file",
                        p.SliceArgument, p.SliceMode),
             400);
    Range("num_slice_groups_minus1", p.num_slice_groups_minus1, 0, kMaxSliceGroups - 1);
    if (p.num_slice_groups_minus1 > 0) {
        // Types 0 and 2 go on to the slice-group map, which ends the run with its own text.
        if (p.FmoType < 0 || p.FmoType > 6)
            Fail(zn::Format("Unsupported FmoType=%d with slice groups, use 1 or 3 to 6", p.FmoType), 400);
        if (p.FmoType == 3) {
            Range("FmoTopLeftMB", p.FmoTopLeftMB, 0, mbs - 1);
            Range("FmoBottomRightMB", p.FmoBottomRightMB, 0, mbs - 1);
        }
    }
    // Flags the parameter set carries in one bit: any other value would code one way and signal another.
    Range("UseConstrainedIntraPred", p.UseConstrainedIntraPred, 0, 1);
    Range("LoopFilterParametersFlag", p.LoopFilterParametersFlag, 0, 1);
    Range("WeightedPrediction", p.WeightedPrediction, 0, 1);
    Range("FmoChangeDirection", p.FmoChangeDirection, 0, 1);
    Range("RDOptimization", p.RDOptimization, 0, 2);
    Range("RestrictRefFrames", p.RestrictRefFrames, 0, 2);
    Range("RestrictSearchRange", p.RestrictSearchRange, 0, 2);
    Range("WeightedBiprediction", p.WeightedBiprediction, 0, 2);
    Range("LossRateA", p.LossRateA, 0, 100);
    Range("LossRateB", p.LossRateB, 0, 100);
    Range("LossRateC", p.LossRateC, 0, 100);
    if (p.RDOptimization == 2 && p.NumberOfDecoders < 1)
        Fail(
            zn::Format("Error input parameter NumberOfDecoders=%d, must be at least 1 with RDOptimization 2, "
                       "check configuration file",
                       p.NumberOfDecoders),
            400);
    Range("PicOrderCntType", p.PicOrderCntType, 0, 2);
    // Checked here, before any file is written, with the text and code the picture coder would end with.
    if (p.PicOrderCntType == 2 && p.NumberBFrames > 0)
        Fail("POC type 2 cannot be applied for the coding pattern where the encoding /decoding order of "
             "pictures are different from the output order.\n",
             -1);
    Range("ContextInitMethod", p.ContextInitMethod, 0, 1);
    Range("FixedModelNumber", p.FixedModelNumber, 0, 2);
    if (p.NumberReferenceFrames >= 10)
        Fail("NumberReferenceFrames too large", -999);
    if (p.NumberReferenceFrames > kMaxReferenceFrames)
        Fail(zn::Format(
                 "Error input parameter NumberReferenceFrames=%d, the decoder keeps at most %d reference "
                 "frames, check configuration file",
                 p.NumberReferenceFrames, kMaxReferenceFrames),
             400);
    if (p.AdditionalReferenceFrame > kMaxReferenceFrames - 1)
        Fail(zn::Format(
                 "Error input parameter AdditionalReferenceFrame=%d, must be in 0..%d, check configuration "
                 "file",
                 p.AdditionalReferenceFrame, kMaxReferenceFrames - 1),
             400);
}

} // namespace

void check_settings(EncoderRun &run)
{
    EncoderParams &p = run.input;
    const struct
    {
        int value;
        const char *name;
    } quants[] = {{p.QPFirstFrame, "quant_0"},
                  {p.QPRemainingFrame, "quant_n"},
                  {p.QPBPicture, "quant_B"},
                  {p.QPSPPicture, "quant_sp"},
                  {p.QPSP2Picture, "quant_sp_pred"}};
    for (const auto &q : quants)
        if (q.value < 0 || q.value > 51)
            Fail(zn::Format("Error input parameter %s,check configuration file", q.name), 400);
    if (p.SPPicturePeriodicity < 0)
        Fail("Error input parameter sp_periodicity,check configuration file", 400);
    if (p.SearchRange > 39)
        Fail("Error in input parameter search_range, check configuration file", 400);
    if (p.NumberReferenceFrames < 1)
        p.NumberReferenceFrames = 1;
    if (p.SourceWidth <= 0 || p.SourceHeight <= 0 || p.SourceWidth > kMaxPictureSide ||
        p.SourceHeight > kMaxPictureSide)
        Fail(zn::Format("Unsupported image format x=%d,y=%d, must be between 16 and %d", p.SourceWidth,
                        p.SourceHeight, kMaxPictureSide),
             400);
    if (p.SourceWidth % 16 != 0 || p.SourceHeight % 16 != 0)
        Fail(zn::Format("Unsupported image format x=%d,y=%d, must be a multiple of 16", p.SourceWidth,
                        p.SourceHeight),
             400);
    if (p.NumberofLeakyBuckets < 2 || p.NumberofLeakyBuckets > 255)
        Fail(zn::Format("Number of Leaky Buckets should be between 2 and 255 but is %d \n",
                        p.NumberofLeakyBuckets),
             400);
    if (p.LoopFilterAlphaC0Offset < -6 || p.LoopFilterAlphaC0Offset > 6)
        Fail("Error input parameter LFAlphaC0Offset, check configuration file", 400);
    if (p.LoopFilterBetaOffset < -6 || p.LoopFilterBetaOffset > 6)
        Fail("Error input parameter LFBetaOffset, check configuration file", 400);
    p.block_size = {{{16, 16}, {16, 16}, {16, 8}, {8, 16}, {8, 8}, {8, 4}, {4, 8}, {4, 4}}};
    if (p.PartitionMode < 0 || p.PartitionMode > 1)
        Fail("Unsupported Partition mode, must be between 0 and 1", 400);
    if (p.PartitionMode == 1 && p.UseConstrainedIntraPred == 0) {
        zn::Log(zn::LogLevel::Info, "Why this???\n");
        Fail("For Partition mode 1 UseConstrainedIntraPred must be set to 1", 400);
    }
    if (p.OutFileMode < 0 || p.OutFileMode > 1)
        Fail("Unsupported Output file mode, must be between 0 and 1", 400);
    // Before the B-picture rules, so that a negative count gets a message about itself.
    CheckEngineRanges(p);
    if (p.NumberBFrames > p.FrameSkip)
        Fail(zn::Format("Number of B-frames %d can not exceed the number of frames skipped", p.NumberBFrames),
             400);
    if (p.NumberBFrames != 0 && p.DirectModeType != 0 && p.DirectModeType != 1)
        Fail(zn::Format("Unsupported direct mode=%d, use TEMPORAL=0 or SPATIAL=1", p.DirectModeType), 400);
    if (p.SymbolMode != 0 && p.SymbolMode != 1)
        Fail(zn::Format("Unsupported symbol mode=%d, use UVLC=0 or CABAC=1", p.SymbolMode), 400);

    run.input_file.reset(std::fopen(p.InputFile.c_str(), "rb"));
    if (!run.input_file)
        Fail(zn::Format("Input file %s does not exist", p.InputFile.c_str()), 500);
    if (!p.ReconFile.empty()) {
        run.recon_file.reset(std::fopen(p.ReconFile.c_str(), "wb"));
        if (!run.recon_file)
            Fail(zn::Format("Error open file %s", p.ReconFile.c_str()), 500);
    }
    if (!p.TraceFile.empty()) {
        run.trace_file.reset(std::fopen(p.TraceFile.c_str(), "w"));
        if (!run.trace_file)
            Fail(zn::Format("Error open file %s", p.TraceFile.c_str()), 500);
    }
    if (p.InterlaceCodingOption < 0 || p.InterlaceCodingOption > 3)
        Fail(zn::Format(
                 "Unsupported InterlaceCodingOption=%d, use frame based coding=0 or adaptive=1 or field "
                 "based coding=2",
                 p.InterlaceCodingOption),
             400);
    if (p.InterlaceCodingOption != 0 && p.SourceHeight % 32 != 0)
        Fail(zn::Format("Unsupported image format y=%d, must be a multiple of 32 for adaptive frame/field",
                        p.SourceHeight),
             400);
    if (p.RDOptimization == 0 && p.InterlaceCodingOption == 3)
        Fail("MB AFF is not compatible with non-rd-optimized coding.", 500);
    if (p.NumberFramesInEnhancementLayerSubSequence < 0 ||
        p.NumberFramesInEnhancementLayerSubSequence >= p.NumberReferenceFrames)
        Fail(zn::Format("NumFramesInELSubSeq (%d) is out of range [0,%d).",
                        p.NumberFramesInEnhancementLayerSubSequence, p.NumberReferenceFrames),
             500);
    if (p.NumberFramesInEnhancementLayerSubSequence > 0 && p.OutFileMode == 0)
        Fail("Enhanced GOP is not supported in bitstream mode and RTP mode yet.", 500);
    if (p.SparePictureOption == 1 && p.InterlaceCodingOption != 0)
        Fail("The AFF is not compatible with spare picture.", 500);
    if (p.SparePictureOption == 1 && p.OutFileMode != 1)
        Fail("Only RTP output mode is compatible with spare picture features.", 500);
    if (p.StoredBPictures > 0 && p.DirectModeType != 1) {
        p.DirectModeType = 1;
        zn::Log(zn::LogLevel::Info,
                "Stored B Picture coding is not supported for temporal direct mode currently. "
                "Using spatial direct mode.\n");
    }
    if ((p.StoredBPictures != 0 || p.WeightedBiprediction > 0) && p.NumberBFrames != 0 &&
        p.DirectModeType == 0) {
        zn::Log(zn::LogLevel::Info,
                "Weighted bi-prediction coding is not supported for temporal direct mode currently.\n");
        p.DirectModeType = 1;
    }
    if ((p.WeightedPrediction > 0 || p.WeightedBiprediction > 0) && p.InterlaceCodingOption == 3)
        Fail("Weighted prediction coding is not supported for MB AFF currently.", 500);
    if (p.NumberFramesInEnhancementLayerSubSequence > 0 && p.WeightedPrediction > 0)
        Fail("Enhanced GOP is not supported in weighted prediction coding mode yet.", 500);
    p.mb_allocation_map_type = p.FmoType;
    if (p.num_slice_groups_minus1 > 0 && p.mb_allocation_map_type >= 3)
        p.num_slice_groups_minus1 = 1;
}

} // namespace h264enc
