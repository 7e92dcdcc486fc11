// Decoding speed of the MPEG-1/2 engine against ffmpeg -threads 1 on the same streams: frames per
// CPU second of each (medians of five runs) and their ratio (at least 0.25 to pass, 0.5 is the
// goal). ffmpeg makes the streams and decodes them to the null muxer; our engine decodes with the
// display off.
#include "bench/cpu_time.h"
#include "mpeg/mpgdec/mpeg_decoder.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace {

using znbench::ChildrenCpuSeconds;
using znbench::OwnCpuSeconds;

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

int DecodeOnce(const std::string &path)
{
    zn::MpegFileInput input(path);
    zn::CMpegDecoder dec;
    int frames = 0;
    dec.doc_sink = [&](const zn::MpegFrame &, int, const char *, int) { ++frames; };
    dec.mpgdec_initbits(&input);
    if (!dec.gethdr())
        return 0;
    dec.mpgdec_initdecoder();
    do {
        dec.mpgdec_getpicture(dec.frame_count);
        if (!dec.second_field)
            ++dec.frame_count;
        if (dec.picture_coding_type == 1)
            dec.ref_picture_type = 1;
        else if (dec.picture_coding_type == 2)
            dec.ref_picture_type = 2;
    } while (dec.gethdr());
    dec.mpgdec_lastframe(dec.frame_count);
    return frames;
}

} // namespace

int main()
{
    struct Case
    {
        const char *name, *size, *codec;
        int frames;
    };
    const Case cases[] = {{"CIF MPEG-1", "352x288", "mpeg1video", 1500},
                          {"SD MPEG-2", "720x576", "mpeg2video", 500}};
    char dirTemplate[] = "/tmp/zn-mpgdec-bench-XXXXXX";
    const char *dir = mkdtemp(dirTemplate);
    if (!dir)
        return 1;
    int status = 0;
    for (const Case &c : cases) {
        std::string path = std::string(dir) + "/" + c.codec + ".mpv";
        std::string make = std::string("ffmpeg -v error -y -f lavfi -i testsrc2=size=") + c.size +
                           ":rate=25 -frames:v " + std::to_string(c.frames) + " -c:v " + c.codec +
                           " -bf 2 -g 12 -b:v 4M -f rawvideo " + path;
        if (std::system(make.c_str()) != 0) {
            std::fprintf(stderr, "ffmpeg could not make the %s stream\n", c.name);
            return 1;
        }
        // Medians of five runs each: on a shared machine one run can land on a busy moment.
        const int reps = 5;
        std::vector<double> oursRuns, theirRuns, startupRuns;
        int frames = 0;
        for (int r = 0; r < reps; ++r) {
            double t0 = OwnCpuSeconds();
            frames = DecodeOnce(path);
            oursRuns.push_back(OwnCpuSeconds() - t0);
            std::string cmd = "ffmpeg -v error -threads 1 -i " + path + " -f null -";
            double t1 = ChildrenCpuSeconds();
            if (std::system(cmd.c_str()) != 0)
                return 1;
            theirRuns.push_back(ChildrenCpuSeconds() - t1);
            // ffmpeg's start-up and probing, measured on one frame, is not decoding time.
            std::string one = "ffmpeg -v error -threads 1 -i " + path + " -frames:v 1 -f null -";
            double t2 = ChildrenCpuSeconds();
            if (std::system(one.c_str()) != 0)
                return 1;
            startupRuns.push_back(ChildrenCpuSeconds() - t2);
        }
        const double ours = Median(oursRuns), startup = Median(startupRuns);
        double theirs = Median(theirRuns);
        theirs = std::max(theirs - startup, 1e-6);
        double ratio = theirs / ours;
        std::printf("%-11s %4d frames: ours %7.1f fps, ffmpeg %7.1f fps, ratio %.2f (%s)\n", c.name, frames,
                    frames / ours, c.frames / theirs, ratio,
                    ratio >= 0.5    ? "goal"
                    : ratio >= 0.25 ? "pass"
                                    : "FAIL");
        if (ratio < 0.25)
            status = 1;
        std::remove(path.c_str());
    }
    std::remove(dir);
    return status;
}
