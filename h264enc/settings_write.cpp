// Writing the settings file from the dialog's values and the fixed lines: every run codes frames, one
// slice and one slice group per picture, one partition, Annex B output, with the leaky-bucket files in
// the user folder.
#include "h264enc/settings_file.h"

#include "platform/errors.h"
#include "platform/file.h"
#include "platform/format.h"
#include "platform/messages.h"

namespace h264enc {

int FramesToBeEncodedOf(int sequence_frames, int frame_skip)
{
    if (sequence_frames < 1)
        return 0;
    const unsigned step = static_cast<unsigned>(frame_skip) + 1u;
    if (step == 0)
        return sequence_frames;
    return static_cast<int>((static_cast<unsigned>(sequence_frames) - 1u) / step + 1u);
}

std::string SettingsFilePath(const std::string &user_dir)
{
    return user_dir + "H264EncoderSettings.cfg";
}

std::string SettingsFileText(const SettingsDialogValues &v, const std::string &user_dir)
{
    std::string t;
    auto i = [&](const char *key, int value, bool blankAfter = false, const char *eq = " = ") {
        t += zn::Format("%s%s%d\n", key, eq, value);
        if (blankAfter)
            t += "\n";
    };
    auto s = [&](const char *key, const std::string &value, bool blankAfter = false, const char *eq = " = ") {
        t += std::string(key) + eq + "\"" + value + "\"\n";
        if (blankAfter)
            t += "\n";
    };
    s("InputFile", v.input_file);
    i("InputHeaderLength", 0);
    i("FramesToBeEncoded", FramesToBeEncodedOf(v.sequence_frames, v.FrameSkip));
    i("SourceWidth", v.width);
    i("SourceHeight", v.height);
    s("OutputFile", v.output_file, true);
    i("IntraPeriod", v.IntraPeriod);
    i("QPFirstFrame", v.QPFirstFrame);
    i("QPRemainingFrame", v.QPRemainingFrame);
    i("FrameSkip", v.FrameSkip);
    i("UseHadamard", v.UseHadamard);
    i("SearchRange", v.SearchRange);
    i("NumberReferenceFrames", v.NumberReferenceFrames);
    i("MbLineIntraUpdate", 0);
    i("RandomIntraMBRefresh", v.RandomIntraMBRefresh);
    i("InterSearch16x16", v.InterSearch16x16);
    i("InterSearch16x8", v.InterSearch16x8);
    i("InterSearch8x16", v.InterSearch8x16);
    i("InterSearch8x8", v.InterSearch8x8);
    i("InterSearch8x4", v.InterSearch8x4);
    i("InterSearch4x8", v.InterSearch4x8);
    i("InterSearch4x4", v.InterSearch4x4, true);
    i("SliceMode", 0);
    i("SliceArgument", 50);
    i("num_slice_groups_minus1", 0);
    i("FmoType", 0);
    i("FmoTopLeftMB", 24);
    i("FmoBottomRightMB", 74);
    i("FmoChangeDirection", 1);
    i("FmoChangeRate", 4);
    s("FmoConfigFileName", "H264fmoconf.cfg");
    i("UseRedundantSlice", 0, true);
    i("NumberBFrames", v.NumberBFrames);
    i("QPBPicture", v.QPBPicture);
    i("DirectModeType", v.DirectModeType, true);
    i("SPPicturePeriodicity", v.SPPicturePeriodicity);
    i("QPSPPicture", v.QPSPPicture);
    i("QPSP2Picture", v.QPSP2Picture, true);
    i("SymbolMode", v.SymbolMode);
    i("OutFileMode", 0, false, " =  ");
    i("PartitionMode", 0, true, " =  ");
    i("RestrictSearchRange", 2);
    i("RDOptimization", 0);
    i("LossRateA", 10);
    i("LossRateB", 0);
    i("LossRateC", 0);
    i("NumberOfDecoders", 30);
    i("RestrictRefFrames", 0, true);
    i("UseConstrainedIntraPred", v.UseConstrainedIntraPred);
    i("LastFrameNumber", 0);
    i("ChangeQPP", 16);
    i("ChangeQPB", 18);
    i("ChangeQPStart", 0);
    i("AdditionalReferenceFrame", 0);
    i("NumberofLeakyBuckets", 8);
    s("LeakyBucketRateFile", user_dir + "H264LeakyBucketRate.cfg", false, " =  ");
    s("LeakyBucketParamFile", user_dir + "H264LeakyBucketParam.cfg");
    i("InterlaceCodingOption", 0);
    i("NumberFramesInEnhancementLayerSubSequence", 0);
    i("NumberOfFrameInSecondIGOP", 0);
    i("WeightedPrediction", 0);
    i("WeightedBiprediction", 0);
    i("StoredBPictures", 0);
    i("SparePictureOption", 0);
    i("SparePictureDetectionThr", 6);
    i("SparePicturePercentageThr", 92);
    i("PicOrderCntType", 0, true);
    i("LoopFilterParametersFlag", 0);
    i("LoopFilterDisable", 0);
    i("LoopFilterAlphaC0Offset", -2);
    i("LoopFilterBetaOffset", -1, true);
    i("ContextInitMethod", 1);
    i("FixedModelNumber", 0);
    t.pop_back(); // the last line has no line end
    return t;
}

void WriteSettingsFile(const SettingsDialogValues &v, const std::string &user_dir)
{
    // A quote, a comment sign or a line end would end the quoted value early when the file is read back.
    for (const std::string *path : {&v.input_file, &v.output_file, &user_dir}) {
        if (path->find_first_of("\"#\n\r") != std::string::npos) {
            const std::string text = zn::Format("The path %s contains a character ('\"', '#' or a line end) "
                                                "that the encoder's settings file cannot carry.",
                                                path->c_str());
            zn::ShowMessage(text, zn::MsgButtons::Ok, zn::MsgIcon::Error);
            throw zn::RunAborted(text, zn::kMessageShown);
        }
    }
    const std::string path = SettingsFilePath(user_dir);
    if (!zn::WriteWholeFile(path, SettingsFileText(v, user_dir), "w")) {
        const std::string text = zn::Format("Cannot write the encoder settings file %s", path.c_str());
        zn::ShowMessage(text, zn::MsgButtons::Ok, zn::MsgIcon::Error);
        throw zn::RunAborted(text, zn::kMessageShown);
    }
}

} // namespace h264enc
