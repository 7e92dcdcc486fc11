// Encoding speed and quality of the MPEG-1/2 engine against ffmpeg -threads 1 on the same pans (a
// window moving across the camera photograph, shown at twice its size and tinted): CIF MPEG-1 at
// 1.15 Mbit/s and SD MPEG-2 at 5 Mbit/s, 12-picture GOPs with two B pictures. Reports frames per CPU
// second and their ratio (0.1 to pass, 0.25 the goal) and the luma PSNR of each decode against the
// source (ours at most 0.5 dB below ffmpeg's to pass, 0.3 the goal): at the rate asked, where ffmpeg
// falls far short of the rate; at the size ffmpeg reached; and at the size ffmpeg reaches when it may
// use quantiser 1.
// Usage: bench_mpgenc [camera.png]   (default: the build's photos/camera.png)
#include "bench/cpu_time.h"
#include "mpeg/mpgenc/mpgenc.h"
#include "mpeg/mpgenc/mpgenc_source.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

using znbench::ChildrenCpuSeconds;
using znbench::OwnCpuSeconds;

std::vector<uint8_t> ReadAll(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

long long FileSize(const std::string &path)
{
    struct stat st
    {
    };
    return stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : 0;
}

// Mean luma PSNR of a decode (raw 4:2:0) against the source frames.
double LumaPsnr(const std::vector<uint8_t> &source, const std::vector<uint8_t> &decoded, int w, int h,
                int frames)
{
    const size_t frame = static_cast<size_t>(w) * h * 3 / 2, luma = static_cast<size_t>(w) * h;
    if (decoded.size() < frame * frames)
        return 0.0;
    double sum = 0.0;
    for (int f = 0; f < frames; ++f) {
        double err = 0.0;
        for (size_t i = 0; i < luma; ++i) {
            const double d = double(source[f * frame + i]) - double(decoded[f * frame + i]);
            err += d * d;
        }
        sum += 10.0 * std::log10(65025.0 * static_cast<double>(luma) / std::max(err, 1e-9));
    }
    return sum / frames;
}

bool Run(const std::string &cmd)
{
    return std::system(cmd.c_str()) == 0;
}

} // namespace

int main(int argc, char **argv)
{
    const std::string photo = argc > 1 ? argv[1] : std::string(ZN_BUILD_DIR) + "/photos/camera.png";
    struct Case
    {
        const char *name;
        int w, h, frames, mpeg1;
        float rate;
    };
    const Case cases[] = {{"CIF MPEG-1", 352, 288, 150, 1, 1150000.f},
                          {"SD MPEG-2", 720, 576, 75, 0, 5000000.f}};
    char dirTemplate[] = "/tmp/zn-mpgenc-bench-XXXXXX";
    const char *dirName = mkdtemp(dirTemplate);
    if (!dirName)
        return 1;
    const std::string dir = dirName;
    int status = 0;
    for (const Case &c : cases) {
        const std::string yuv = dir + "/pan.yuv", size = std::to_string(c.w) + "x" + std::to_string(c.h);
        char filters[256];
        std::snprintf(filters, sizeof filters,
                      "format=rgb24,colorchannelmixer=rr=1:gg=0.75:bb=0.45,scale=iw*2:ih*2,"
                      "crop=%d:%d:50+3*n:50+n,format=yuv420p",
                      c.w, c.h);
        if (!Run("ffmpeg -v error -y -loop 1 -i '" + photo + "' -vf '" + filters + "' -frames:v " +
                 std::to_string(c.frames) + " -f rawvideo " + yuv)) {
            std::fprintf(stderr, "ffmpeg could not make the %s pan from %s\n", c.name, photo.c_str());
            return 1;
        }
        const std::vector<uint8_t> source = ReadAll(yuv);
        const size_t frameBytes = static_cast<size_t>(c.w) * c.h * 3 / 2;
        std::vector<std::vector<uint8_t>> frames;
        for (int f = 0; f < c.frames; ++f)
            frames.emplace_back(source.begin() + static_cast<long>(f * frameBytes),
                                source.begin() + static_cast<long>((f + 1) * frameBytes));

        // ffmpeg writes elementary streams (.m1v, .m2v), so its sizes carry no program-stream packs.
        const std::string ext = c.mpeg1 ? ".m1v" : ".m2v";
        const std::string rawInput =
            "ffmpeg -v error -y -threads 1 -f rawvideo -pix_fmt yuv420p -s " + size + " -r 25 ";
        const std::string coding = " -threads 1 -c:v " + std::string(c.mpeg1 ? "mpeg1video" : "mpeg2video") +
                                   " -b:v " + std::to_string(static_cast<int>(c.rate)) + " -g 12 -bf 2 ";
        // At its defaults ffmpeg never goes below quantiser 2, and on these pans that floor keeps it far
        // under the rate asked. Allowed quantiser 1 it spends nearly the rate asked.
        const std::string theirsPath = dir + "/theirs" + ext, theirsFinePath = dir + "/theirs-q1" + ext;
        if (!Run(rawInput + "-i " + yuv + coding + theirsPath) ||
            !Run(rawInput + "-i " + yuv + coding + "-qmin 1 -lmin 118 " + theirsFinePath))
            return 1;
        // Speed: ffmpeg starts up in about as much CPU time as it needs for the whole CIF pan, so it is
        // timed on the pan looped several times, less its start-up (one frame). Best of three.
        const int loops = c.mpeg1 ? 10 : 4;
        const std::string looped = rawInput + "-stream_loop " + std::to_string(loops - 1) + " -i " + yuv +
                                   coding + dir + "/looped" + ext;
        double theirs = 1e30, startup = 1e30;
        for (int r = 0; r < 3; ++r) {
            double t = ChildrenCpuSeconds();
            if (!Run(looped))
                return 1;
            theirs = std::min(theirs, ChildrenCpuSeconds() - t);
            t = ChildrenCpuSeconds();
            if (!Run(rawInput + "-i " + yuv + coding + "-frames:v 1 " + dir + "/one" + ext))
                return 1;
            startup = std::min(startup, ChildrenCpuSeconds() - t);
        }
        theirs = std::max(theirs - startup, 1e-6) / loops;

        auto rateOf = [&](const std::string &path) { return FileSize(path) * 8.0 * 25.0 / c.frames; };

        // Ours: the engine alone (no dialog), best of three runs, at the rate asked; then at each rate
        // ffmpeg reached, for the quality at the same size (our rate control meets its rate).
        auto encode = [&](const std::string &path, float rate) {
            MemoryFrameSource src(c.w, c.h, frames);
            MpegEncoder enc;
            MpegEncoderParams p;
            p.outputPath = path;
            p.mpeg1 = c.mpeg1;
            p.bitRate = rate;
            const double t0 = OwnCpuSeconds();
            enc.SetParameters(p, &src);
            enc.InitQuantMatrices();
            if (!enc.init())
                return -1.0;
            enc.EncodeSequence();
            enc.Close();
            return OwnCpuSeconds() - t0;
        };
        const std::string oursPath = dir + "/ours.mpg", oursSamePath = dir + "/ours-same.mpg",
                          oursFinePath = dir + "/ours-q1.mpg";
        double ours = 1e30;
        for (int r = 0; r < 3; ++r) {
            const double t = encode(oursPath, c.rate);
            if (t < 0)
                return 1;
            ours = std::min(ours, t);
        }
        if (encode(oursSamePath, static_cast<float>(rateOf(theirsPath))) < 0 ||
            encode(oursFinePath, static_cast<float>(rateOf(theirsFinePath))) < 0)
            return 1;

        // Quality: every stream decoded by ffmpeg, luma against the source.
        auto psnrOf = [&](const std::string &stream) {
            const std::string raw = stream + ".yuv";
            if (!Run("ffmpeg -v error -y -i " + stream +
                     " -fps_mode passthrough -f rawvideo -pix_fmt yuv420p " + raw))
                return 0.0;
            return LumaPsnr(source, ReadAll(raw), c.w, c.h, c.frames);
        };
        const double ratio = theirs / ours;
        auto grade = [](double g) { return g <= 0.3 ? "goal" : g <= 0.5 ? "pass" : "FAIL"; };
        std::printf("%-10s %dx%d, %d frames\n", c.name, c.w, c.h, c.frames);
        std::printf("  speed            : ours %6.1f fps, ffmpeg %6.1f fps, ratio %.3f (%s)\n",
                    c.frames / ours, c.frames / theirs, ratio,
                    ratio >= 0.25  ? "goal"
                    : ratio >= 0.1 ? "pass"
                                   : "FAIL");
        // One line per comparison: our stream against ffmpeg's, and how far our luma PSNR lies below.
        auto line = [&](const char *label, const std::string &oursStream, const std::string &theirsStream) {
            const double po = psnrOf(oursStream), pt = psnrOf(theirsStream), gap = pt - po;
            std::printf(
                "  %-17s: ours %5.0f kbit/s %6.2f dB, ffmpeg %5.0f kbit/s %6.2f dB, gap %+.2f dB (%s)\n",
                label, rateOf(oursStream) / 1000.0, po, rateOf(theirsStream) / 1000.0, pt, gap, grade(gap));
            return gap;
        };
        char asked[32];
        std::snprintf(asked, sizeof asked, "rate asked %.0f", c.rate / 1000.0);
        const double gap = line(asked, oursPath, theirsPath);
        line("same size", oursSamePath, theirsPath);
        line("same size, q >= 1", oursFinePath, theirsFinePath);
        // The rule compares at the rate asked; the same-size lines show what that rate buys.
        if (ratio < 0.1 || gap > 0.5)
            status = 1;
    }
    Run("rm -rf '" + dir + "'");
    return status;
}
