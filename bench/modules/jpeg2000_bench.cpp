// The JPEG2000 module's Apply on a 512x512 picture, engine only, at the dialog's defaults (0.5 bpp,
// 4 levels, 32x32 code-blocks): the encoding into the stream file, the decoding at 0.5 bpp into a
// work image, and the measures. A decoding-only Apply (the second one with no change) is timed
// apart. Interactive use wants the whole Apply under 100 ms.
#include "bench_image.h"
#include "image/cdib.h"
#include "jpeg2000/module/jp2_apply.h"

#include <benchmark/benchmark.h>
#include <string>

namespace {

void BM_Jpeg2000Apply(benchmark::State &state)
{
    const bool encode = state.range(0) != 0;
    const Jpeg2000Params par;
    Jpeg2000Session session;
    CDib work;
    for (auto _ : state) {
        session.m_bReencode = encode || session.m_sEncoderText.empty() ? 1 : 0;
        const Jpeg2000ApplyResult r =
            Jpeg2000ApplyRun(session, par, BenchImage(), &work, "bench", BenchUserDir());
        benchmark::DoNotOptimize(r.measures.psnr);
    }
}
BENCHMARK(BM_Jpeg2000Apply)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

} // namespace
