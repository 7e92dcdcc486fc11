// Vector quantisation on the 512x512 benchmark picture: a codebook design at the dialog's defaults
// (4x4 vectors, rates 1..8, at most 21 passes each) and one coding run at 12 bits per vector, the
// largest full search the module offers (4096 code vectors for each of 16384 blocks).
#include "bench_image.h"
#include "image/znimage.h"
#include "modules/vq/vq_codebook.h"
#include "modules/vq/vq_coder.h"
#include "modules/vq/vq_design.h"
#include "platform/random.h"

#include <benchmark/benchmark.h>
#include <vector>

namespace {

void BM_VqDesignDefaults(benchmark::State &state)
{
    ZnImage train;
    train.DibToZnImage(&BenchImage());
    zn::PinRandSeed(1);
    for (auto _ : state) {
        ZnImage codebook;
        VqCodebookDesign(train.img, &codebook, 4, 4, 1, 8, kVqInitRandom, 0.01f, 20, {});
        benchmark::DoNotOptimize(codebook.Data());
    }
    zn::UnpinRandSeed();
}
BENCHMARK(BM_VqDesignDefaults)->Unit(benchmark::kMillisecond);

// The coder's cost does not depend on the code vectors' values: a random 4x4 codebook of rate 12.
void BM_VqCodec(benchmark::State &state)
{
    const int bits = static_cast<int>(state.range(0));
    ZnImage source, rec, codebook;
    source.DibToZnImage(&BenchImage());
    rec.Alloc(source.Rows(), source.Cols());
    int rows = 0, cols = 0;
    VqCodebookSize(4, 4, bits, bits, &rows, &cols);
    codebook.Alloc(rows, cols);
    zn::SeedRand(2);
    for (int i = 0; i < rows * cols; ++i)
        codebook.Data()[i] = static_cast<float>(zn::Rand() % 256);
    const float head[4] = {4, 4, static_cast<float>(bits), static_cast<float>(bits)};
    std::copy(head, head + 4, codebook.Data());
    for (auto _ : state)
        benchmark::DoNotOptimize(VqCodec(source.img, codebook.img, rec.img, bits, 0.0f));
}
BENCHMARK(BM_VqCodec)->Arg(8)->Arg(12)->Unit(benchmark::kMillisecond);

} // namespace
