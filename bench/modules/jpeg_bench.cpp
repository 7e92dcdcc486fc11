// The JPEG module's Apply on a 512x512 picture, engine only: in bit-rate mode (the quality search
// codes the picture about seven times, counting bytes only, before the stream is written), at a
// fixed quality, and decoded with smoothing. Interactive use wants each well under 200 ms.
#include "bench_image.h"
#include "image/cdib.h"
#include "image/znimage.h"
#include "modules/jpeg/jpeg_run.h"

#include <benchmark/benchmark.h>
#include <string>

namespace {

void JpegApplyLoop(benchmark::State &state, const JpegParams &par)
{
    CDib result;
    for (auto _ : state) {
        ZnImage decoded;
        const JpegRunResult r = JpegCodeImage(par, &BenchImage(), "bench", BenchUserDir(), &decoded);
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
