// Kernels of the subband library on a 512 x 512 image: the spectrum FFT, the block DCT split (fast
// and reference 1-D kernels), and a three-level QMF tree split and merge.
#include "image/numeric.h"
#include "modules/sbc/sbc_dct.h"
#include "modules/sbc/subb.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <vector>

namespace {

Img *Picture(int n)
{
    Img *img;
    AllocImg(&img, n, n, IMG_REP_FLOAT, IMG_SEQ_MONO);
    for (int r = 0; r < n; ++r)
        for (int c = 0; c < n; ++c)
            img->FloatPlane()[r * n + c] =
                static_cast<float>(128 + 100 * std::sin(r * 0.05) * std::cos(c * 0.07));
    return img;
}

void BM_ImgFFT512(benchmark::State &state)
{
    Img *img = Picture(512);
    Spectrum *s;
    AllocSpectrum(&s, 512, 512);
    for (auto _ : state)
        ImgFFT(img, s, TAPER_HANN);
    FreeSpectrum(s);
    FreeImg(img);
}
BENCHMARK(BM_ImgFFT512)->Unit(benchmark::kMillisecond);

void BM_SplitDct512(benchmark::State &state)
{
    Img *img = Picture(512);
    const int b = static_cast<int>(state.range(0));
    for (auto _ : state) {
        Subb *sb;
        SbcSplitDct(&sb, img, b, b, 0);
        FreeSubb(sb);
    }
    FreeImg(img);
}
BENCHMARK(BM_SplitDct512)->Arg(8)->Arg(16)->Unit(benchmark::kMillisecond);

template <bool Fast> void BM_Dct8(benchmark::State &state)
{
    const SbcDctTable t = SbcDctTables(8);
    std::vector<float> x(8), y(8);
    for (int i = 0; i < 8; ++i)
        x[i] = static_cast<float>(i * 3 % 7);
    for (auto _ : state) {
        if constexpr (Fast) {
            std::vector<float> w = x;
            SbcDct2(t, w.data(), y.data(), 8);
        } else {
            SbcDct2Reference(x.data(), y.data(), 8);
        }
        benchmark::DoNotOptimize(y.data());
    }
}
BENCHMARK(BM_Dct8<true>);
BENCHMARK(BM_Dct8<false>);

void BM_QmfTree512(benchmark::State &state)
{
    Img *img = Picture(512);
    Filt *f;
    const int taps = static_cast<int>(state.range(0));
    AllocFilt1d(&f, taps, taps, FILT_FIRQMF);
    for (int k = 0; k < taps; ++k)
        f->coef1[k] = 1.0f / taps;
    for (auto _ : state) {
        int splits[3] = {1, 4, 16};
        Subb *sb;
        SbcSplitModHigh(&sb, img, f, 3, splits, 0);
        Img *out;
        SbcReconModHigh(&out, sb, f, 1);
        FreeImg(out);
    }
    FreeFilt(f);
    FreeImg(img);
}
BENCHMARK(BM_QmfTree512)->Arg(16)->Arg(32)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
