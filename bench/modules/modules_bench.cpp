// One Apply of each still-image module, engine only, on the 512x512 picture and on the 2048x2048
// photograph mosaic (the last argument): the image to floats, the coder, the measures and texts, and
// the reconstruction back into a display image. Interactive use wants each well under a second at
// 512 and under a second at 2048 too. A module adds one function here and links its engine.
#include "bench_image.h"
#include "image/cdib.h"
#include "image/znimage.h"
#include "modules/dct/dct_coder.h"
#include "modules/dpcm/dpcm_coder.h"
#include "modules/pcm/pcm_coder.h"
#include "modules/subband/subband_coder.h"
#include "modules/subsampling/ss_run.h"
#include "platform/random.h"

#include <benchmark/benchmark.h>
#include <memory>

namespace {

// PCM with dither and channel errors switched on: the slowest path.
void BM_PcmApply(benchmark::State &state)
{
    const CDib *picture = BenchPicture(state, state.range(1));
    if (!picture)
        return;
    zn::PinRandSeed(1);
    const PcmParams par{static_cast<int>(state.range(0)), 1.0f, 0.005f, 1};
    CDib result;
    for (auto _ : state) {
        ZnImage decoded;
        PcmRunResult r = PcmCodeImage(par, picture, "bench", &decoded);
        decoded.ZnImageToDib(&result);
        benchmark::DoNotOptimize(r.measures.psnr);
    }
    zn::UnpinRandSeed();
}
BENCHMARK(BM_PcmApply)->Args({1, 512})->Args({7, 512})->Args({7, 2048})->Unit(benchmark::kMillisecond);

// A DCT or subband run per iteration, then the three result images as the dialog makes them.
template <class Code> void CodedApplyLoop(benchmark::State &state, const Code &code)
{
    CDib final, a, b;
    for (auto _ : state) {
        ZnImage decoded, dispA, dispB;
        const auto r = code(&decoded, &dispA, &dispB);
        decoded.ZnImageToDib(&final);
        dispA.ZnImageToDib(&a);
        dispB.ZnImageToDib(&b);
        benchmark::DoNotOptimize(r.measures.psnr);
    }
}

// DCT at 1 bpp with entropy-coded code words (block side 2^range), then the three result images as
// the dialog makes them.
void BM_DctApply(benchmark::State &state)
{
    const CDib *picture = BenchPicture(state, state.range(1));
    if (!picture)
        return;
    DctParams par;
    par.nSize = static_cast<int>(state.range(0));
    CodedApplyLoop(state, [&par, picture](ZnImage *decoded, ZnImage *dispA, ZnImage *dispB) {
        return DctCodeImage(par, true, 1, picture, "bench", ZN_TABLE_DIR, decoded, dispA, dispB);
    });
}
BENCHMARK(BM_DctApply)
    ->Args({3, 512})
    ->Args({4, 512})
    ->Args({3, 2048})
    ->Args({4, 2048})
    ->Unit(benchmark::kMillisecond);

// Subband coding at 1 bpp: decomposition (1..6) and filter taps. Decompositions 4 to 6 take three
// levels of the tree; 6 splits every band, the most work.
void BM_SubbandApply(benchmark::State &state)
{
    const CDib *picture = BenchPicture(state, state.range(2));
    if (!picture)
        return;
    SbcParams par;
    par.nDecomp = static_cast<int>(state.range(0));
    par.sFilter = state.range(1) == 16 ? "16b" : "32e";
    CodedApplyLoop(state, [&par, picture](ZnImage *decoded, ZnImage *dispA, ZnImage *dispB) {
        return SbcCodeImage(par, true, 1, picture, "bench", ZN_TABLE_DIR, decoded, dispA, dispB);
    });
}
BENCHMARK(BM_SubbandApply)
    ->Args({3, 16, 512})
    ->Args({4, 16, 512})
    ->Args({6, 16, 512})
    ->Args({6, 32, 512})
    ->Args({3, 16, 2048})
    ->Args({6, 32, 2048})
    ->Unit(benchmark::kMillisecond);
// DPCM with model 4 and channel errors: statistics, predictor, quantiser file, the prediction loop
// with separate encoder and decoder predictions, and both result images.
void BM_DpcmApply(benchmark::State &state)
{
    const CDib *picture = BenchPicture(state, state.range(1));
    if (!picture)
        return;
    zn::PinRandSeed(1);
    const int bits = static_cast<int>(state.range(0));
    const DpcmParams par{4, bits, DpcmLevelsFor(bits, false), 0.005f};
    CDib result, predImage;
    for (auto _ : state) {
        ZnImage decoded, predError;
        DpcmRunResult r = DpcmCodeImage(par, picture, "bench", ZN_TABLE_DIR, &decoded, &predError);
        decoded.ZnImageToDib(&result);
        predError.ZnImageToDib(&predImage);
        benchmark::DoNotOptimize(r.measures.psnr);
    }
    zn::UnpinRandSeed();
}
BENCHMARK(BM_DpcmApply)->Args({1, 512})->Args({6, 512})->Args({6, 2048})->Unit(benchmark::kMillisecond);

// Subsampling by range(0) (0: none) with the 21-tap filter, the Hamming-windowed spectrum and the
// blow-up: one full-size FFT when not subsampling, a smaller one repeated otherwise.
void BM_SsApply(benchmark::State &state)
{
    const CDib *picture = BenchPicture(state, state.range(1));
    if (!picture)
        return;
    const int factor = static_cast<int>(state.range(0));
    const SsParams par{factor, factor ? 21 : 0, 3, 1};
    CDib chain, spectrum;
    for (auto _ : state) {
        SsRunResult r;
        SsRun(par, picture, "bench", &r);
        if (r.hasChain)
            r.result.ZnImageToDib(&chain);
        r.spectrum.ZnImageToDib(&spectrum);
        benchmark::DoNotOptimize(r.spectrum.Data());
    }
}
BENCHMARK(BM_SsApply)
    ->Args({0, 512})
    ->Args({2, 512})
    ->Args({64, 512})
    ->Args({0, 2048})
    ->Args({2, 2048})
    ->Args({64, 2048})
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
