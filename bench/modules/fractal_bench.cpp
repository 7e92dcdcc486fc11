// The fractal coder at the module's defaults (blocks 16 to 4, threshold 8, 4 + 6 bits) on the
// 512x512 picture and the 2048x2048 mosaic (the argument): encoding, decoding with 8 and 20
// iterations, and one whole Apply through the shared code file. Interactive use wants the Apply
// under a second at 512 and under five seconds at 2048, where the domain search is nearly all of it.
#include "bench_image.h"
#include "image/znimage.h"
#include "modules/fractal/fic_codec.h"
#include "modules/fractal/fractal_coder.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::vector<uint8_t> Pixels(const CDib &picture, int *side)
{
    ZnImage z;
    z.DibToZnImage(&picture);
    *side = z.Rows();
    std::vector<uint8_t> p(static_cast<size_t>(z.Rows()) * z.Cols());
    for (size_t i = 0; i < p.size(); ++i)
        p[i] = static_cast<uint8_t>(z.Data()[i]);
    return p;
}

void BM_FractalEncode(benchmark::State &state)
{
    const CDib *picture = BenchPicture(state, state.range(0));
    if (!picture)
        return;
    int side = 0;
    const std::vector<uint8_t> pixels = Pixels(*picture, &side);
    for (auto _ : state) {
        std::vector<uint8_t> code = FicEncode(pixels.data(), side, side, FicEncodeParams{}, nullptr);
        benchmark::DoNotOptimize(code.data());
    }
}
BENCHMARK(BM_FractalEncode)->Arg(512)->Arg(2048)->Unit(benchmark::kMillisecond);

void BM_FractalDecode(benchmark::State &state)
{
    const CDib *picture = BenchPicture(state, state.range(0));
    if (!picture)
        return;
    int side = 0;
    const std::vector<uint8_t> pixels = Pixels(*picture, &side);
    FicCode code;
    FicParseCode(FicEncode(pixels.data(), side, side, FicEncodeParams{}, nullptr), side, side, &code);
    for (auto _ : state) {
        std::vector<uint8_t> image = FicDecodeImage(code, static_cast<int>(state.range(1)));
        benchmark::DoNotOptimize(image.data());
    }
}
BENCHMARK(BM_FractalDecode)->Args({512, 8})->Args({512, 20})->Args({2048, 8})->Unit(benchmark::kMillisecond);

void BM_FractalApply(benchmark::State &state)
{
    const CDib *picture = BenchPicture(state, state.range(0));
    if (!picture)
        return;
    CDib result;
    for (auto _ : state) {
        ZnImage decoded;
        const FicRunResult r = FicCodeImage(FicParams{}, true, 0, picture, "bench", BenchUserDir(), &decoded);
        decoded.ZnImageToDib(&result);
        benchmark::DoNotOptimize(r.measures.psnr);
    }
    std::remove((BenchUserDir() + kFicCodeFileName).c_str());
}
BENCHMARK(BM_FractalApply)->Arg(512)->Arg(2048)->Unit(benchmark::kMillisecond);

} // namespace
