// The JPEG2000 module's Apply, engine only, at the dialog's defaults (0.5 bpp, 4 levels, 32x32
// code-blocks) on the 512x512 picture and the 2048x2048 mosaic (the last argument): the encoding
// into the stream file, the decoding at 0.5 bpp into a work image, and the measures. A decoding-only
// Apply (the second one with no change) is timed apart. Interactive use wants the whole Apply under
// 100 ms at 512 and under a second at 2048.
#include "bench_image.h"
#include "image/cdib.h"
#include "jpeg2000/module/jp2_apply.h"

#include <benchmark/benchmark.h>
#include <string>

namespace {

void BM_Jpeg2000Apply(benchmark::State &state)
{
    const CDib *picture = BenchPicture(state, state.range(1));
    if (!picture)
        return;
    const bool encode = state.range(0) != 0;
    const Jpeg2000Params par;
    Jpeg2000Session session;
    CDib work;
    for (auto _ : state) {
        session.m_bReencode = encode || session.m_sEncoderText.empty() ? 1 : 0;
        const Jpeg2000ApplyResult r =
            Jpeg2000ApplyRun(session, par, *picture, &work, "bench", BenchUserDir());
        benchmark::DoNotOptimize(r.measures.psnr);
    }
}
BENCHMARK(BM_Jpeg2000Apply)
    ->Args({1, 512})
    ->Args({0, 512})
    ->Args({1, 2048})
    ->Args({0, 2048})
    ->Unit(benchmark::kMillisecond);

} // namespace
