// The MPEG-1/2 decoding engine as a command, for whole-process timing against ffmpeg
// (mpgdec_vs_ffmpeg.py): decodes a stream file with the display off, through the calling order every
// owner follows, and prints the frames it output and its own CPU time. With --hash it also prints a
// checksum of every output frame (type, number and the three planes), so that a faster decoder can be
// held to the pictures of the one before it; hashing is then part of the time. --frames N stops after
// N pictures (the scripts measure start-up with a run of one).
// Usage: bench_mpgdec [--hash] [--frames N] STREAM
#include "bench/cpu_time.h"
#include "mpeg/mpgdec/mpeg_decoder.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// FNV-1a, 64 bits.
struct Fnv
{
    uint64_t h = 0xcbf29ce484222325ULL;
    void Add(const uint8_t *p, size_t n)
    {
        for (size_t i = 0; i < n; ++i)
            h = (h ^ p[i]) * 0x100000001b3ULL;
    }
};

} // namespace

int main(int argc, char **argv)
{
    bool hash = false;
    long maxPictures = -1;
    const char *path = nullptr;
    for (int a = 1; a < argc; ++a) {
        if (!std::strcmp(argv[a], "--hash"))
            hash = true;
        else if (!std::strcmp(argv[a], "--frames") && a + 1 < argc)
            maxPictures = std::strtol(argv[++a], nullptr, 10);
        else
            path = argv[a];
    }
    if (!path) {
        std::fprintf(stderr, "usage: bench_mpgdec [--hash] [--frames N] STREAM\n");
        return 2;
    }
    zn::MpegFileInput input(path);
    if (!input.IsOpen()) {
        std::fprintf(stderr, "cannot open %s\n", path);
        return 1;
    }
    const double t0 = znbench::OwnCpuSeconds();
    zn::CMpegDecoder dec;
    Fnv fnv;
    int frames = 0;
    dec.doc_sink = [&](const zn::MpegFrame &f, int number, const char *type, int) {
        ++frames;
        if (!hash)
            return;
        fnv.Add(reinterpret_cast<const uint8_t *>(type), std::strlen(type) + 1);
        fnv.Add(reinterpret_cast<const uint8_t *>(&number), sizeof number);
        fnv.Add(f.y, static_cast<size_t>(f.width) * f.height);
        fnv.Add(f.cb, static_cast<size_t>(f.chromaWidth) * f.chromaHeight);
        fnv.Add(f.cr, static_cast<size_t>(f.chromaWidth) * f.chromaHeight);
    };
    try {
        dec.mpgdec_initbits(&input);
        if (dec.gethdr()) {
            dec.mpgdec_initdecoder();
            long pictures = 0;
            do {
                dec.mpgdec_getpicture(dec.frame_count);
                if (!dec.second_field)
                    ++dec.frame_count;
                if (dec.picture_coding_type == 1)
                    dec.ref_picture_type = 1;
                else if (dec.picture_coding_type == 2)
                    dec.ref_picture_type = 2;
                if (maxPictures >= 0 && ++pictures >= maxPictures)
                    break;
            } while (dec.gethdr());
            if (dec.frame_count)
                dec.mpgdec_lastframe(dec.frame_count);
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "decoding stopped: %s\n", e.what());
        return 1;
    }
    const double cpu = znbench::OwnCpuSeconds() - t0;
    std::printf("frames %d cpu_seconds %.3f fps %.1f", frames, cpu, cpu > 0 ? frames / cpu : 0.0);
    if (hash)
        std::printf(" hash %016" PRIx64, fnv.h);
    std::printf("\n");
    return 0;
}
