// The encoding run as a command, for timing whole runs from a script: a settings file in, the stream
// and the reconstruction file out (their names are in the settings). Prints the pictures coded and the
// CPU seconds of the engine alone. With --settings it first writes a settings file: the dialog's
// values for the given input, quantiser and entropy coder, plus any further Key=Value lines.
// Usage: bench_h264enc_run SETTINGS_FILE
//        bench_h264enc_run --settings DIR INPUT W H FRAMES OUTPUT RECON QP SYMBOLMODE [Key=Value ...]
#include "bench/cpu_time.h"
#include "h264enc/encoder_run_api.h"
#include "h264enc/settings_file.h"
#include "platform/errors.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

struct CountingHost : h264enc::H264EncoderHost
{
    int pictures = 0;
    void h264enc_show_frame(const h264enc::H264FrameReport &) override { ++pictures; }
    void h264enc_show_statistics(const h264enc::H264RunStatistics &) override {}
    void h264enc_append_text(const std::string &) override {}
};

int WriteSettings(int argc, char **argv)
{
    if (argc < 11) {
        std::fprintf(stderr,
                     "usage: %s --settings DIR INPUT W H FRAMES OUTPUT RECON QP SYMBOLMODE [K=V ...]\n",
                     argv[0]);
        return 2;
    }
    std::string dir = argv[2];
    if (dir.back() != '/')
        dir += '/';
    h264enc::SettingsDialogValues v;
    v.input_file = argv[3];
    v.width = std::atoi(argv[4]);
    v.height = std::atoi(argv[5]);
    v.sequence_frames = std::atoi(argv[6]);
    v.output_file = argv[7];
    v.QPFirstFrame = v.QPRemainingFrame = std::atoi(argv[9]);
    v.QPBPicture = v.QPFirstFrame + 2;
    v.SymbolMode = std::atoi(argv[10]);
    std::string text = h264enc::SettingsFileText(v, dir);
    text += std::string("\nReconFile = \"") + argv[8] + "\"";
    for (int i = 11; i < argc; ++i) {
        std::string kv = argv[i];
        const size_t eq = kv.find('=');
        if (eq != std::string::npos)
            kv = kv.substr(0, eq) + " = " + kv.substr(eq + 1);
        text += "\n" + kv;
    }
    const std::string path = h264enc::SettingsFilePath(dir);
    std::ofstream(path, std::ios::binary) << text;
    std::printf("%s\n", path.c_str());
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 2 && std::string(argv[1]) == "--settings")
        return WriteSettings(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s SETTINGS_FILE\n", argv[0]);
        return 2;
    }
    CountingHost host;
    const double start = znbench::OwnCpuSeconds();
    try {
        h264enc::H264Encoder(argv[1], &host);
    } catch (const zn::RunAborted &e) {
        std::fprintf(stderr, "run error: %s\n", e.what());
        return 1;
    }
    const double seconds = znbench::OwnCpuSeconds() - start;
    std::printf("pictures %d cpu_seconds %.3f fps %.2f\n", host.pictures, seconds,
                seconds > 0 ? host.pictures / seconds : 0.0);
    return 0;
}
