// The SPIHT and EZW modules' Apply, engine only, on the 2048x2048 photograph mosaic: a fresh
// session each time, so every Apply encodes into its stream file and decodes it, at the dialogs'
// first rate (0.5 bpp, EZW with its three levels) and at the highest they offer (3 bpp). Interactive
// use wants each under a second.
#include "bench_image.h"
#include "modules/ezw/ezw_run.h"
#include "modules/spiht/spiht_run.h"

#include <benchmark/benchmark.h>

namespace {

// A fresh session (a dialog just opened) per Apply. Argument: the rate in tenths of a bit per
// pixel, for the encoder and the decoder alike.
template <class Session, class Params, class Result> void ApplyLoop(benchmark::State &state)
{
    const CDib *picture = BenchPicture(state, 2048);
    if (!picture)
        return;
    Params par;
    par.fEncRate = par.fDecRate = static_cast<float>(state.range(0)) / 10;
    for (auto _ : state) {
        Session session;
        Result r;
        session.Apply(*picture, "mosaic", par, BenchUserDir(), &r);
        benchmark::DoNotOptimize(r.decoded.Data());
    }
}

void BM_SpihtApply(benchmark::State &state)
{
    ApplyLoop<SpihtSession, SpihtParams, SpihtApplyResult>(state);
}
BENCHMARK(BM_SpihtApply)->Arg(5)->Arg(30)->Unit(benchmark::kMillisecond);

void BM_EzwApply(benchmark::State &state)
{
    ApplyLoop<EzwSession, EzwParams, EzwApplyResult>(state);
}
BENCHMARK(BM_EzwApply)->Arg(5)->Arg(30)->Unit(benchmark::kMillisecond);

} // namespace
