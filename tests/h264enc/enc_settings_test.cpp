// The settings file: the 73 written lines read back into the same values, the reading and parsing
// rules with their messages and codes, every check of the values (the original ones and those added
// for values the engine cannot take), and the file-size and item-count limits.
#include "h264dec/h264_shared.h"
#include "h264enc/enc_run.h"
#include "h264enc/settings_file.h"
#include "platform/messages.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <sstream>

namespace enc_settings_test { // one namespace per test file: a folder compiles as one source

namespace {

namespace enc = h264enc;

struct Fixture
{
    zntest::ScratchDir dir;
    enc::SettingsDialogValues values;
    Fixture()
    {
        zntest::WriteFileBytes(dir.File("seq.yuv"), std::vector<unsigned char>(176 * 144 * 3 / 2, 128));
        values.input_file = dir.File("seq.yuv");
        values.sequence_frames = 10;
        values.width = 176;
        values.height = 144;
        values.output_file = dir.File("out.264");
    }
    std::string Text() const { return enc::SettingsFileText(values, dir.Path()); }
};

struct Outcome
{
    int code = 0; // 0: accepted
    std::string message;
    enc::EncoderParams params;
};

Outcome ConfigureText(const Fixture &f, const std::string &text)
{
    zn::MessageRecorder rec;
    enc::EncoderRun run;
    run.h264_settings_path = f.dir.File("H264EncoderSettings.cfg");
    zntest::WriteFileBytes(run.h264_settings_path, std::vector<unsigned char>(text.begin(), text.end()));
    Outcome o;
    try {
        enc::Configure(run);
    } catch (const H264FatalError &e) {
        o.code = e.ExitCode();
        o.message = e.what();
        EXPECT_EQ(rec.Count(), 1u) << "one message per failure";
    }
    o.params = run.input;
    return o;
}

// The generated file with extra lines: a key given again takes the later value.
Outcome WithOverrides(const Fixture &f, const std::string &extra)
{
    return ConfigureText(f, f.Text() + "\n" + extra);
}

TEST(SettingsFile, TheWrittenLinesInTheirOrder)
{
    Fixture f;
    const std::string text = f.Text();
    EXPECT_NE(text.back(), '\n');
    std::vector<std::string> lines;
    std::stringstream ss(text);
    for (std::string line; std::getline(ss, line);)
        lines.push_back(line);
    std::vector<std::string> keys, blanksAfter;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].empty()) {
            blanksAfter.push_back(keys.back());
            continue;
        }
        keys.push_back(lines[i].substr(0, lines[i].find(' ')));
    }
    ASSERT_EQ(keys.size(), 73u);
    EXPECT_EQ(keys.front(), "InputFile");
    EXPECT_EQ(keys[2], "FramesToBeEncoded");
    EXPECT_EQ(keys[30], "FmoConfigFileName");
    EXPECT_EQ(keys.back(), "FixedModelNumber");
    EXPECT_EQ(blanksAfter,
              std::vector<std::string>({"OutputFile", "InterSearch4x4", "UseRedundantSlice", "DirectModeType",
                                        "QPSP2Picture", "PartitionMode", "RestrictRefFrames",
                                        "PicOrderCntType", "LoopFilterBetaOffset"}));
    EXPECT_NE(text.find("\nOutFileMode =  0\n"), std::string::npos);
    EXPECT_NE(text.find("\nPartitionMode =  0\n"), std::string::npos);
    EXPECT_NE(text.find("\nLeakyBucketRateFile =  \"" + f.dir.Path() + "H264LeakyBucketRate.cfg\"\n"),
              std::string::npos);
    EXPECT_NE(text.find("\nFramesToBeEncoded = 5\n"), std::string::npos); // (10 - 1) / 2 + 1
    for (const auto &k : keys)
        EXPECT_GE(enc::settings_key_index(k.c_str()), 0) << k;
}

TEST(SettingsFile, ReadBackGivesTheDialogAndFixedValues)
{
    Fixture f;
    f.values.QPFirstFrame = 20;
    f.values.NumberReferenceFrames = 3;
    f.values.SymbolMode = 0;
    f.values.InterSearch8x4 = 0;
    f.values.UseConstrainedIntraPred = 1;
    const Outcome o = ConfigureText(f, f.Text());
    ASSERT_EQ(o.code, 0) << o.message;
    const enc::EncoderParams &p = o.params;
    EXPECT_EQ(p.InputFile, f.values.input_file);
    EXPECT_EQ(p.OutputFile, f.values.output_file);
    EXPECT_EQ(p.FramesToBeEncoded, 5);
    EXPECT_EQ(p.SourceWidth, 176);
    EXPECT_EQ(p.QPFirstFrame, 20);
    EXPECT_EQ(p.QPRemainingFrame, 28);
    EXPECT_EQ(p.NumberReferenceFrames, 3);
    EXPECT_EQ(p.SymbolMode, 0);
    EXPECT_EQ(p.InterSearch8x4, 0);
    EXPECT_EQ(p.InterSearch4x4, 1);
    EXPECT_EQ(p.UseConstrainedIntraPred, 1);
    EXPECT_EQ(p.SliceArgument, 50);
    EXPECT_EQ(p.FmoBottomRightMB, 74);
    EXPECT_EQ(p.FmoConfigFileName, "H264fmoconf.cfg");
    EXPECT_EQ(p.NumberOfDecoders, 30);
    EXPECT_EQ(p.ChangeQPB, 18);
    EXPECT_EQ(p.NumberofLeakyBuckets, 8);
    EXPECT_EQ(p.LeakyBucketParamFile, f.dir.Path() + "H264LeakyBucketParam.cfg");
    EXPECT_EQ(p.SparePicturePercentageThr, 92);
    EXPECT_EQ(p.LoopFilterAlphaC0Offset, -2);
    EXPECT_EQ(p.LoopFilterBetaOffset, -1);
    EXPECT_EQ(p.ContextInitMethod, 1);
    EXPECT_EQ(p.block_size[2][0], 16);
    EXPECT_EQ(p.block_size[2][1], 8);
    EXPECT_TRUE(p.ReconFile.empty());
}

TEST(SettingsFile, LongPathsAreCarriedWhole)
{
    Fixture f;
    const std::string deep = f.dir.Path() + std::string(300, 'd') + ".264";
    f.values.output_file = deep;
    const Outcome o = ConfigureText(f, f.Text());
    ASSERT_EQ(o.code, 0) << o.message;
    EXPECT_EQ(o.params.OutputFile, deep);
}

TEST(SettingsFile, EdgeCasesOfTheReadingRules)
{
    Fixture f;
    const struct
    {
        const char *extra;
        int code;
        const char *message; // a part of the message, or the field check below
    } cases[] = {
        {"# a comment line\nQPFirstFrame = 30 # and a comment after the value", 0, ""},
        {"QPFirstFrame = 52", 400, "Error input parameter quant_0,check configuration file"},
        {"QPRemainingFrame = -1", 400, "quant_n"},
        {"QPBPicture = 99", 400, "quant_B"},
        {"QPSPPicture = 60", 400, "quant_sp,"},
        {"QPSP2Picture = 60", 400, "quant_sp_pred"},
        {"NumberReferenceFrames = 0", 0, ""},
        {"FrameSkip = 0", 400, "Number of B-frames 1 can not exceed the number of frames skipped"},
        {"SourceWidth = 180", 400, "Unsupported image format x=180,y=144, must be a multiple of 16"},
        {"qpfirstframe = 30", 300,
         " Parsing error in config file: Parameter Name 'qpfirstframe' not recognized."},
        {"QPFirstFrame : 30", 300, "'=' expected as the second token"},
        {"QPFirstFrame = abc", 300,
         " Parsing error: Expected numerical value for Parameter of QPFirstFrame, found 'abc'."},
        {"SearchRange = 16abc", 0, ""},
        {"SearchRange = 40", 400, "search_range"},
        {"SPPicturePeriodicity = -1", 400, "sp_periodicity"},
        {"NumberofLeakyBuckets = 1", 400, "Number of Leaky Buckets should be between 2 and 255 but is 1 \n"},
        // B pictures put coding order out of display order; checked before any file is written.
        {"PicOrderCntType = 2", -1,
         "POC type 2 cannot be applied for the coding pattern where the encoding /decoding order of pictures "
         "are different from the output order.\n"},
        {"NumberReferenceFrames = 10", -999, "NumberReferenceFrames too large"},
        {"LoopFilterAlphaC0Offset = 7", 400, "LFAlphaC0Offset"},
        {"LoopFilterBetaOffset = -7", 400, "LFBetaOffset"},
        {"PartitionMode = 2", 400, "Unsupported Partition mode"},
        {"PartitionMode = 1", 400, "For Partition mode 1 UseConstrainedIntraPred must be set to 1"},
        {"OutFileMode = 3", 400, "Unsupported Output file mode"},
        {"DirectModeType = 2", 400, "Unsupported direct mode=2"},
        {"SymbolMode = 2", 400, "Unsupported symbol mode=2"},
        {"InputFile = \"/nonexistent/seq.yuv\"", 500, "Input file /nonexistent/seq.yuv does not exist"},
        {"ReconFile = \"/nonexistent/rec.yuv\"", 500, "Error open file /nonexistent/rec.yuv"},
        {"InterlaceCodingOption = 4", 400, "Unsupported InterlaceCodingOption=4"},
        {"InterlaceCodingOption = 1", 400, "must be a multiple of 32 for adaptive frame/field"},
        {"SourceHeight = 128\nInterlaceCodingOption = 3", 500, "MB AFF is not compatible"},
        {"NumberFramesInEnhancementLayerSubSequence = 1", 500,
         "NumFramesInELSubSeq (1) is out of range [0,1)."},
        {"NumberReferenceFrames = 3\nNumberFramesInEnhancementLayerSubSequence = 1", 500, "Enhanced GOP"},
        {"SparePictureOption = 1", 500, "Only RTP output mode is compatible with spare picture features."},
        {"SourceHeight = 128\nInterlaceCodingOption = 2\nSparePictureOption = 1", 500,
         "The AFF is not compatible"},
        {"SourceHeight = 128\nInterlaceCodingOption = 3\nRDOptimization = 1\nWeightedPrediction = 1", 500,
         "Weighted prediction coding is not supported for MB AFF currently."},
    };
    for (const auto &c : cases) {
        const Outcome o = WithOverrides(f, c.extra);
        EXPECT_EQ(o.code, c.code) << c.extra << ": " << o.message;
        EXPECT_NE(o.message.find(c.message), std::string::npos) << c.extra << ": " << o.message;
    }
    EXPECT_EQ(WithOverrides(f, "QPFirstFrame = 30 # comment").params.QPFirstFrame, 30);
    EXPECT_EQ(WithOverrides(f, "NumberReferenceFrames = 0").params.NumberReferenceFrames, 1);
    EXPECT_EQ(WithOverrides(f, "SearchRange = 16abc").params.SearchRange, 16);
    EXPECT_EQ(WithOverrides(f, "QPFirstFrame = 10\nQPFirstFrame = 11").params.QPFirstFrame, 11);
}

TEST(SettingsFile, HashInsideAQuotedPathCutsIt)
{
    Fixture f;
    enc::EncoderParams p;
    enc::parse_settings_into("OutputFile = \"/tmp/a#b.264\"\nFrameSkip = 3", p);
    EXPECT_EQ(p.OutputFile, "/tmp/a");
    EXPECT_EQ(p.FrameSkip, 3);
    // And the writer refuses such a path instead of writing a file that reads back wrong.
    zn::MessageRecorder rec;
    f.values.output_file = f.dir.File("a#b.264");
    EXPECT_THROW(enc::WriteSettingsFile(f.values, f.dir.Path()), zn::RunAborted);
    EXPECT_EQ(rec.Count(), 1u);
}

TEST(SettingsFile, CarriageReturnsAndTabsAreTolerated)
{
    enc::EncoderParams p;
    enc::parse_settings_into("FrameSkip\t=\t2\r\nInputFile = \"a b\"\r\nSearchRange = 8\r", p);
    EXPECT_EQ(p.FrameSkip, 2);
    EXPECT_EQ(p.InputFile, "a b");
    EXPECT_EQ(p.SearchRange, 8);
}

TEST(SettingsFile, AddedRangeChecks)
{
    Fixture f;
    const struct
    {
        const char *extra;
        const char *message;
    } cases[] = {
        {"NumberBFrames = 0\nFrameSkip = -1", "FrameSkip=-1, must not be negative"},
        {"IntraPeriod = -3", "IntraPeriod=-3"},
        {"NumberBFrames = -1", "NumberBFrames=-1"},
        {"SearchRange = -1", "SearchRange=-1"},
        {"FramesToBeEncoded = 0", "FramesToBeEncoded=0, must be at least 1"},
        {"SourceWidth = 0", "Unsupported image format x=0,y=144"},
        {"SourceHeight = -16", "Unsupported image format x=176,y=-16"},
        {"SourceWidth = 16384", "must be between 16 and 8192"},
        {"RandomIntraMBRefresh = 100", "RandomIntraMBRefresh=100, must be in 0..99"},
        {"ChangeQPP = 52", "ChangeQPP=52"},
        {"ChangeQPB = -1", "ChangeQPB=-1"},
        {"SliceMode = 5", "SliceMode=5"},
        {"SliceMode = 1\nSliceArgument = 0", "SliceArgument=0, must be at least 1 with SliceMode 1"},
        {"num_slice_groups_minus1 = 8", "num_slice_groups_minus1=8"},
        {"num_slice_groups_minus1 = 1\nFmoType = 7", "Unsupported FmoType=7"},
        {"num_slice_groups_minus1 = 1\nFmoType = 3\nFmoBottomRightMB = 99",
         "FmoBottomRightMB=99, must be in 0..98"},
        {"RDOptimization = 3", "RDOptimization=3"},
        {"RestrictRefFrames = 3", "RestrictRefFrames=3"},
        {"RestrictSearchRange = -1", "RestrictSearchRange=-1"},
        {"WeightedBiprediction = 3", "WeightedBiprediction=3"},
        {"LossRateA = 101", "LossRateA=101"},
        {"LossRateC = -1", "LossRateC=-1"},
        {"RDOptimization = 2\nNumberOfDecoders = 0",
         "NumberOfDecoders=0, must be at least 1 with RDOptimization 2"},
        {"PicOrderCntType = 3", "PicOrderCntType=3"},
        {"ContextInitMethod = 2", "ContextInitMethod=2"},
        {"FixedModelNumber = 3", "FixedModelNumber=3"},
        // The decoder keeps five reference frames (and the picture it decodes).
        {"NumberReferenceFrames = 6",
         "NumberReferenceFrames=6, the decoder keeps at most 5 reference frames"},
        {"NumberReferenceFrames = 9",
         "NumberReferenceFrames=9, the decoder keeps at most 5 reference frames"},
        {"AdditionalReferenceFrame = 5", "AdditionalReferenceFrame=5, must be in 0..4"},
    };
    for (const auto &c : cases) {
        const Outcome o = WithOverrides(f, c.extra);
        EXPECT_EQ(o.code, 400) << c.extra << ": " << o.message;
        EXPECT_NE(o.message.find(c.message), std::string::npos) << c.extra << ": " << o.message;
    }
    // What the dialog can produce still passes, including the largest values it offers.
    const Outcome ok = WithOverrides(f, "NumberReferenceFrames = 5\nSearchRange = 39\nPicOrderCntType = 2\n"
                                        "NumberBFrames = 0\nnum_slice_groups_minus1 = 1\nFmoType = 3\n"
                                        "FmoTopLeftMB = 12\nFmoBottomRightMB = 40");
    EXPECT_EQ(ok.code, 0) << ok.message;
    EXPECT_EQ(ok.params.mb_allocation_map_type, 3);
    // Map types 0 and 2 pass the checks: the slice-group map refuses them when the run starts.
    for (const char *type : {"FmoType = 0", "FmoType = 2"})
        EXPECT_EQ(WithOverrides(f, std::string("num_slice_groups_minus1 = 1\n") + type).code, 0) << type;
    // Map types 3 and above carry two groups.
    EXPECT_EQ(WithOverrides(f, "num_slice_groups_minus1 = 5\nFmoType = 4").params.num_slice_groups_minus1, 1);
}

TEST(SettingsFile, StoredAndWeightedBPicturesSwitchToSpatialDirect)
{
    Fixture f;
    EXPECT_EQ(WithOverrides(f, "DirectModeType = 0\nStoredBPictures = 1").params.DirectModeType, 1);
    EXPECT_EQ(WithOverrides(f, "DirectModeType = 0\nWeightedBiprediction = 1").params.DirectModeType, 1);
    EXPECT_EQ(WithOverrides(f, "DirectModeType = 0").params.DirectModeType, 0);
}

TEST(SettingsFile, FileSizeAndItemLimits)
{
    Fixture f;
    std::string base = f.Text() + "\n";
    std::string exact = base + std::string(60000 - base.size(), ' ');
    EXPECT_EQ(ConfigureText(f, exact).code, 0);
    const Outcome big = ConfigureText(f, exact + " ");
    EXPECT_EQ(big.code, 300);
    EXPECT_NE(big.message.find("Unreasonable Filesize 60001 reported by ftell"), std::string::npos);

    // 10002 items: the table of items holds 10000.
    std::string many;
    for (int i = 0; i < 3334; ++i)
        many += "FrameSkip = 1\n";
    const Outcome tooMany = ConfigureText(f, many);
    EXPECT_EQ(tooMany.code, 300);
    EXPECT_NE(tooMany.message.find("more than 10000 items"), std::string::npos) << tooMany.message;

    // A last name and "=" with no value.
    const Outcome open = ConfigureText(f, base + "FrameSkip =");
    EXPECT_EQ(open.code, 300);
    EXPECT_NE(open.message.find("Parameter 'FrameSkip' has no value"), std::string::npos) << open.message;

    enc::EncoderRun run;
    run.h264_settings_path = f.dir.File("missing.cfg");
    zn::MessageRecorder rec;
    try {
        enc::Configure(run);
        FAIL();
    } catch (const H264FatalError &e) {
        EXPECT_EQ(e.ExitCode(), 300);
        EXPECT_NE(std::string(e.what()).find("Run H.264 encoder at least once."), std::string::npos);
    }
}

TEST(SettingsFile, FrameCountsOfTheDialogAndTheRun)
{
    EXPECT_EQ(enc::FramesToBeEncodedOf(1, 1), 1);
    EXPECT_EQ(enc::FramesToBeEncodedOf(10, 0), 10);
    EXPECT_EQ(enc::FramesToBeEncodedOf(300, 2), 100);
    EXPECT_EQ(enc::FramesToBeEncodedOf(0, 1), 0); // refused by the checks, never a huge count
    enc::EncoderParams p;
    p.FramesToBeEncoded = 10;
    p.NumberFramesInEnhancementLayerSubSequence = 1;
    p.NumberOfFrameInSecondIGOP = 4;
    enc::AdjustFrameCount(p);
    EXPECT_EQ(p.FramesToBeEncoded, 19);
    EXPECT_EQ(p.NumberOfFrameInSecondIGOP, 7);
}

TEST(SettingsFile, WriterWritesTheFileInTheUserFolder)
{
    Fixture f;
    enc::WriteSettingsFile(f.values, f.dir.Path());
    const auto bytes = zntest::ReadFileBytes(f.dir.File("H264EncoderSettings.cfg"));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), f.Text());
}

} // namespace

} // namespace enc_settings_test
