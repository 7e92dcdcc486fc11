// The JPEG module's Apply on a 512x512 picture, engine only: in bit-rate mode (the quality search
// codes the picture about seven times, counting bytes only, before the stream is written), at a
// fixed quality, and decoded with smoothing. Interactive use wants each well under 200 ms.
#include "bench_image.h"
#include "image/cdib.h"
#include "image/znimage.h"
#include "modules/jpeg/jpeg_run.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

// A folder of our own for the stream file, removed at exit.
const std::string &StreamDir()
{
    static const std::string dir = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "zantho-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            std::abort();
        static struct Remover
        {
            std::string path;
            ~Remover() { std::filesystem::remove_all(path); }
        } remover{pattern};
        return pattern + "/";
    }();
    return dir;
}

void JpegApplyLoop(benchmark::State &state, const JpegParams &par)
{
    CDib result;
    for (auto _ : state) {
        ZnImage decoded;
        const JpegRunResult r = JpegCodeImage(par, &BenchImage(), "bench", StreamDir(), &decoded);
        decoded.ZnImageToDib(&result);
        benchmark::DoNotOptimize(r.measures.psnr);
    }
}

void BM_JpegApplyBitrateSearch(benchmark::State &state)
{
    JpegParams par;
    par.nQualityMode = 0;
    par.fBitrate = 1.5f;
    par.nHuffman = static_cast<int>(state.range(0)); // 1 standard, 2 optimised (two passes per coding)
    JpegApplyLoop(state, par);
}
BENCHMARK(BM_JpegApplyBitrateSearch)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_JpegApplyQuality(benchmark::State &state)
{
    JpegParams par;
    par.nSmoothing = static_cast<int>(state.range(0));
    JpegApplyLoop(state, par);
}
BENCHMARK(BM_JpegApplyQuality)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace
