// Fuzzes the H.264 encoder's settings parser and its checks. The file names a fuzz input gives are
// replaced before the checks open them: the input file by /dev/null, and no reconstruction or trace
// file is created, so the fuzzer never writes outside its own folder.
#include "h264dec/h264_shared.h"
#include "h264enc/enc_run.h"
#include "h264enc/settings_file.h"
#include "platform/messages.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    zn::SetMessageHandler([](const zn::MessageRequest &) { return zn::MsgAnswer::Ok; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > static_cast<size_t>(h264enc::kMaxSettingsFileSize))
        return 0;
    h264enc::EncoderRun run;
    try {
        h264enc::EncoderParams p;
        h264enc::parse_settings_into(std::string(reinterpret_cast<const char *>(data), size), p);
        p.InputFile = "/dev/null";
        p.ReconFile.clear();
        p.TraceFile.clear();
        run.input = p;
        h264enc::check_settings(run);
        // What a run builds from accepted settings first: the picture state and the slice-group map.
        h264enc::init_image_geometry(run.input, run.img);
        h264enc::h264enc_fmo_init(run.fmo, run.input.SourceWidth / 16, run.input.SourceHeight / 16,
                                  h264enc::FmoSettingsOf(run.input));
        for (int i = 0; i < 3; ++i)
            h264enc::h264enc_fmo_update(run.fmo);
    } catch (const zn::RunAborted &) {
        // Refused with its message: the expected outcome for bad settings.
    }
    return 0;
}
