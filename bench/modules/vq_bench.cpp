// Vector quantisation on the 512x512 picture and the 2048x2048 mosaic (the last argument): a
// codebook design at the dialog's defaults (4x4 vectors, rates 1..8, at most 21 passes each) and
// coding runs at 4 bits per vector (the default for such a codebook), 8 and 12, the largest full
// search the module offers (4096 code vectors for every block). Interactive use wants the design
// under three seconds and a coding run under one at 2048.
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
    const CDib *picture = BenchPicture(state, state.range(0));
    if (!picture)
        return;
    ZnImage train;
    train.DibToZnImage(picture);
    zn::PinRandSeed(1);
    for (auto _ : state) {
        ZnImage codebook;
        VqCodebookDesign(train.img, &codebook, 4, 4, 1, 8, kVqInitRandom, 0.01f, 20, {});
        benchmark::DoNotOptimize(codebook.Data());
    }
    zn::UnpinRandSeed();
}
BENCHMARK(BM_VqDesignDefaults)->Arg(512)->Arg(2048)->Unit(benchmark::kMillisecond);

// A search's cost depends on how the code vectors lie among the blocks: a 4x4 codebook of the given
// rate made of blocks taken from the picture itself at a regular stride, as a design would find.
void BM_VqCodec(benchmark::State &state)
{
    const CDib *picture = BenchPicture(state, state.range(1));
    if (!picture)
        return;
    const int bits = static_cast<int>(state.range(0));
    ZnImage source, rec, codebook;
    source.DibToZnImage(picture);
    rec.Alloc(source.Rows(), source.Cols());
    const VqCodebookHeader header{4, 4, bits, bits};
    int rows = 0, cols = 0;
    VqCodebookSize(4, 4, bits, bits, &rows, &cols);
    codebook.Alloc(rows, cols);
    const int n = 1 << bits, blocksPerRow = source.Cols() / 4, blocks = blocksPerRow * (source.Rows() / 4);
    std::vector<float> vectors(static_cast<size_t>(n) * 16);
    for (int i = 0; i < n; ++i) {
        const long b = static_cast<long>(i) * blocks / n + (i * 7919L) % (blocks / n);
        const int top = static_cast<int>(b / blocksPerRow) * 4, left = static_cast<int>(b % blocksPerRow) * 4;
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x)
                vectors[static_cast<size_t>(i) * 16 + y * 4 + x] =
                    source.Data()[static_cast<size_t>(top + y) * source.Cols() + left + x];
    }
    std::fill(codebook.Data(), codebook.Data() + static_cast<size_t>(rows) * cols, 0.0f);
    const float head[4] = {4, 4, static_cast<float>(bits), static_cast<float>(bits)};
    std::copy(head, head + 4, codebook.Data());
    VqPlacement cursor(4, cols);
    VqPutRateVectors(&codebook, header, bits, vectors.data(), &cursor);
    for (auto _ : state)
        benchmark::DoNotOptimize(VqCodec(source.img, codebook.img, rec.img, bits, 0.0f));
}
BENCHMARK(BM_VqCodec)
    ->Args({8, 512})
    ->Args({12, 512})
    ->Args({4, 2048})
    ->Args({8, 2048})
    ->Args({12, 2048})
    ->Unit(benchmark::kMillisecond);

} // namespace
