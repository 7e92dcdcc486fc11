// The encoder's settings file "H264EncoderSettings.cfg": the only channel between the encoder dialog and
// the engine. The dialog writes it afresh for every run; the run reads it back into EncoderParams,
// key = value, and checks the values before anything is coded.
#pragma once

#include "h264enc/enc_params.h"

#include <string>

namespace h264enc {

struct EncoderRun;

constexpr int kMaxSettingsFileSize = 60000;
constexpr int kMaxSettingsItems = 10000;

// Reads run.h264_settings_path, parses and checks it (the input file is then open in run.input_file). Every
// failure ends the run with the message and code of its rule (300 reading and parsing, 400 values out
// of range, 500 files and combinations).
void Configure(EncoderRun &run);
// The whole file as text; refuses a missing file, a failed seek and sizes above 60000 bytes.
std::string GetConfigFileContent(const std::string &path);
// Tokenises the text, stores the values into a cleared record, copies it to run.input and checks it.
void parse_settings(EncoderRun &run, std::string text);
// The tokenising and storing alone, into `target` (no checks): for tests and the fuzz target.
void parse_settings_into(std::string text, EncoderParams &target);
// Validates and completes run.input; opens the input file (and the reconstruction and trace files when
// named).
void check_settings(EncoderRun &run);
// Frames of enhancement-layer sub-sequences and of a second intra group added to FramesToBeEncoded.
void AdjustFrameCount(EncoderParams &input);

// What the encoder dialog puts into the file: the sequence, the output and the dialog's values (their
// defaults are the dialog's starting values).
struct SettingsDialogValues
{
    std::string input_file;
    int sequence_frames = 0;
    int width = 0, height = 0;
    std::string output_file;
    int IntraPeriod = 0;
    int QPFirstFrame = 28;
    int QPRemainingFrame = 28;
    int FrameSkip = 1;
    int UseHadamard = 1;
    int SearchRange = 16;
    int NumberReferenceFrames = 1;
    int RandomIntraMBRefresh = 0;
    int InterSearch16x16 = 1, InterSearch16x8 = 1, InterSearch8x16 = 1, InterSearch8x8 = 1,
        InterSearch8x4 = 1, InterSearch4x8 = 1, InterSearch4x4 = 1;
    int NumberBFrames = 1;
    int QPBPicture = 30;
    int DirectModeType = 1;
    int SPPicturePeriodicity = 0;
    int QPSPPicture = 28;
    int QPSP2Picture = 27;
    int SymbolMode = 1;
    int UseConstrainedIntraPred = 0;
};

// FramesToBeEncoded of a sequence: (frames - 1) / (FrameSkip + 1) + 1; 0 for a sequence without frames.
int FramesToBeEncodedOf(int sequence_frames, int frame_skip);
// The 73 lines of the file (line ends '\n', none after the last line). userDir ends with '/'.
std::string SettingsFileText(const SettingsDialogValues &v, const std::string &user_dir);
// "<userDir>H264EncoderSettings.cfg".
std::string SettingsFilePath(const std::string &user_dir);
// Writes the file. A path the format cannot carry (a '"', '#' or line end in it) or a failed write ends
// the run with a message.
void WriteSettingsFile(const SettingsDialogValues &v, const std::string &user_dir);

} // namespace h264enc
