// The wavelet coders' Apply work, engine only: SPIHT and EZW encoding plus decoding at 3 bpp on the
// 512x512 benchmark picture and on a 1024x1024 one, and OpenJPEG's irreversible 9/7 coder at the same
// rate beside them (opj_compress then opj_decompress on the same picture, process start included,
// single-threaded). Interactive use wants 512x512 well under 0.5 s and 1024x1024 under 2 s.
#include "bench_image.h"
#include "image/cdib.h"
#include "image/znimage.h"
#include "modules/ezw/ezw_coder.h"
#include "modules/spiht/spiht_coder.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

// The benchmark picture at 512 or, tiled 2x2 with mirrored copies, at 1024.
const ZnImage &Picture(int side)
{
    static std::unique_ptr<ZnImage> small, large;
    std::unique_ptr<ZnImage> &p = side == 512 ? small : large;
    if (!p) {
        ZnImage base;
        base.DibToZnImage(&BenchImage());
        p = std::make_unique<ZnImage>();
        p->Alloc(side, side);
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x) {
                const int bx = (x / 512) % 2 ? 511 - x % 512 : x % 512;
                const int by = (y / 512) % 2 ? 511 - y % 512 : y % 512;
                p->Data()[static_cast<size_t>(y) * side + x] =
                    base.Data()[static_cast<size_t>(by) * 512 + bx];
            }
    }
    return *p;
}

void BM_SpihtEncodeDecode(benchmark::State &state)
{
    const ZnImage &img = Picture(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        ZnImage display, out, decodedBands;
        Spiht_Image_Encoder encoder;
        encoder.compress(img, &display, nullptr, nullptr, 3.0f, 0);
        Spiht_Image_Decoder().recover(&out, &decodedBands, encoder.Stream(), 3.0f);
        benchmark::DoNotOptimize(out.Data());
    }
}
BENCHMARK(BM_SpihtEncodeDecode)->Arg(512)->Arg(1024)->Unit(benchmark::kMillisecond);

void BM_EzwEncodeDecode(benchmark::State &state)
{
    const ZnImage &img = Picture(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        ZnImage display, out, decodedBands;
        const EzwEncodeResult r = EzwEncodeBytes(img, &display, 3.0f, 5);
        EzwDecodeBytes(r.stream, &out, &decodedBands, 3.0f);
        benchmark::DoNotOptimize(out.Data());
    }
}
BENCHMARK(BM_EzwEncodeDecode)->Arg(512)->Arg(1024)->Unit(benchmark::kMillisecond);

void BM_OpenJpegEncodeDecode(benchmark::State &state)
{
    const int side = static_cast<int>(state.range(0));
    const ZnImage &img = Picture(side);
    const std::string dir = std::filesystem::temp_directory_path().string() + "/zantho-bench-opj-" +
                            std::to_string(side) + "-" + std::to_string(::getpid());
    std::filesystem::create_directories(dir);
    {
        std::ofstream f(dir + "/in.pgm", std::ios::binary);
        f << "P5\n" << side << " " << side << "\n255\n";
        for (int k = 0; k < side * side; ++k)
            f.put(static_cast<char>(static_cast<unsigned char>(img.Data()[k])));
    }
    const std::string cmd = "opj_compress -threads 1 -i " + dir + "/in.pgm -o " + dir +
                            "/x.j2k -I -r 2.6667 >/dev/null 2>&1 && "
                            "opj_decompress -threads 1 -i " +
                            dir + "/x.j2k -o " + dir + "/out.pgm >/dev/null 2>&1";
    if (std::system("command -v opj_compress >/dev/null 2>&1") != 0) {
        state.SkipWithError("opj_compress not installed");
        return;
    }
    for (auto _ : state)
        if (std::system(cmd.c_str()) != 0) {
            state.SkipWithError("OpenJPEG failed");
            break;
        }
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_OpenJpegEncodeDecode)->Arg(512)->Arg(1024)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
