// The JPEG module's Apply, engine only, on the 512x512 picture and the 2048x2048 mosaic (the last
// argument): in bit-rate mode (the quality search codes the picture about seven times, counting
// bytes only, before the stream is written), at a fixed quality, and decoded with smoothing.
// Interactive use wants each well under 200 ms at 512 and under a second at 2048.
#include "bench_image.h"
#include "image/cdib.h"
#include "image/znimage.h"
#include "modules/jpeg/jpeg_run.h"

#include <benchmark/benchmark.h>
#include <string>

namespace {

void JpegApplyLoop(benchmark::State &state, const JpegParams &par)
{
    const CDib *picture = BenchPicture(state, state.range(1));
    if (!picture)
        return;
    CDib result;
    for (auto _ : state) {
        ZnImage decoded;
        const JpegRunResult r = JpegCodeImage(par, picture, "bench", BenchUserDir(), &decoded);
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
BENCHMARK(BM_JpegApplyBitrateSearch)
    ->Args({1, 512})
    ->Args({2, 512})
    ->Args({1, 2048})
    ->Args({2, 2048})
    ->Unit(benchmark::kMillisecond);

void BM_JpegApplyQuality(benchmark::State &state)
{
    JpegParams par;
    par.nSmoothing = static_cast<int>(state.range(0));
    JpegApplyLoop(state, par);
}
BENCHMARK(BM_JpegApplyQuality)
    ->Args({0, 512})
    ->Args({1, 512})
    ->Args({0, 2048})
    ->Args({1, 2048})
    ->Unit(benchmark::kMillisecond);

} // namespace
