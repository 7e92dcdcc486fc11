// EZW at camera size: the engine alone on the 2048x2048 photograph mosaic, encoding into a stream
// file and decoding it at 1 bpp, as the Apply calls it (without the picture's conversion, the
// measures and the texts), at the dialog's three levels and at seven, the most a 2048 picture
// offers. The whole Apply is wavelet_apply_bench's; this tells the engine's share apart.
#include "bench_image.h"
#include "image/znimage.h"
#include "modules/ezw/ezw_coder.h"
#include "modules/ezw/ezw_workspace.h"

#include <benchmark/benchmark.h>
#include <cstdio>

namespace {

// Argument: the wavelet levels L.
void BM_EzwEngine2048(benchmark::State &state)
{
    const CDib *image = BenchPicture(state, 2048);
    if (!image)
        return;
    ZnImage input;
    input.DibToZnImage(image);
    const int levels = static_cast<int>(state.range(0));
    for (auto _ : state) {
        std::FILE *f = std::tmpfile();
        if (!f) {
            state.SkipWithError("no temporary file");
            break;
        }
        EzwWorkspace work;
        ZnImage display, decoded, decodedBands;
        EzwEncodeImage(f, input, &display, 1.0f, levels, &work);
        EzwDecodeImage(f, &decoded, &decodedBands, 1.0f, &work);
        std::fclose(f);
        benchmark::DoNotOptimize(decoded.Data());
    }
}
BENCHMARK(BM_EzwEngine2048)->Arg(3)->Arg(7)->Unit(benchmark::kMillisecond);

} // namespace
