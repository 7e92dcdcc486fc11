// The MPEG-1/2 encoding engine as a command, for whole-process timing against ffmpeg
// (mpgenc_vs_ffmpeg.py): codes a raw 4:2:0 file (read a frame at a time, as the dialog's source does)
// with the dialog's other defaults and prints the bytes written, its own CPU time and a checksum of
// the stream, so that a faster encoder can be held to the stream of the one before it.
// Usage: bench_mpgenc_run IN.yuv WIDTH HEIGHT FRAMES OUT RATE MPEG1 [N M MOTION PROGRESSIVE FIELDPICS]
#include "bench/cpu_time.h"
#include "mpeg/mpgenc/mpgenc.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

class RawFileSource : public MpegFrameSource
{
public:
    RawFileSource(const char *path, int w, int h, int frames, int progressive)
        : m_file(std::fopen(path, "rb")), m_w(w), m_h(h), m_frames(frames), m_progressive(progressive)
    {}
    ~RawFileSource() override
    {
        if (m_file)
            std::fclose(m_file);
    }
    bool Ok() const { return m_file != nullptr; }
    int Width() const override { return m_w; }
    int Height() const override { return m_h; }
    int Frames() const override { return m_frames; }
    int Progressive() const override { return m_progressive; }
    bool Read(int n, uint8_t *planes[3]) override
    {
        const size_t y = static_cast<size_t>(m_w) * m_h;
        if (std::fseek(m_file, static_cast<long>((n - 1) * (y + y / 2)), SEEK_SET) != 0)
            return false;
        return std::fread(planes[0], 1, y, m_file) == y && std::fread(planes[1], 1, y / 4, m_file) == y / 4 &&
               std::fread(planes[2], 1, y / 4, m_file) == y / 4;
    }

private:
    std::FILE *m_file;
    int m_w, m_h, m_frames, m_progressive;
};

} // namespace

int main(int argc, char **argv)
{
    if (argc < 8) {
        std::fprintf(stderr, "usage: bench_mpgenc_run IN.yuv WIDTH HEIGHT FRAMES OUT RATE MPEG1 "
                             "[N M MOTION PROGRESSIVE FIELDPICS]\n");
        return 2;
    }
    auto arg = [&](int i, int fallback) { return argc > i ? std::atoi(argv[i]) : fallback; };
    const int w = arg(2, 0), h = arg(3, 0), frames = arg(4, 0);
    MpegEncoderParams p;
    p.outputPath = argv[5];
    p.bitRate = static_cast<float>(std::atof(argv[6]));
    p.mpeg1 = arg(7, 1);
    p.N = arg(8, p.N);
    p.M = arg(9, p.M);
    p.maxMotion = arg(10, p.maxMotion);
    p.progressive = arg(11, p.progressive);
    p.fieldPictures = arg(12, p.fieldPictures);
    RawFileSource src(argv[1], w, h, frames, p.progressive);
    if (!src.Ok()) {
        std::fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }
    const double t0 = znbench::OwnCpuSeconds();
    MpegEncoder enc;
    enc.SetParameters(p, &src);
    enc.InitQuantMatrices();
    if (!enc.init())
        return 1;
    enc.EncodeSequence();
    enc.Close();
    const double cpu = znbench::OwnCpuSeconds() - t0;

    std::FILE *f = std::fopen(argv[5], "rb");
    if (!f)
        return 1;
    uint64_t hash = 0xcbf29ce484222325ULL, bytes = 0;
    for (int c; (c = std::fgetc(f)) != EOF; ++bytes)
        hash = (hash ^ static_cast<uint8_t>(c)) * 0x100000001b3ULL;
    std::fclose(f);
    std::printf("frames %d bytes %" PRIu64 " cpu_seconds %.3f fps %.2f hash %016" PRIx64 "\n", frames, bytes,
                cpu, cpu > 0 ? frames / cpu : 0.0, hash);
    return 0;
}
