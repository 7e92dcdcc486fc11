// The encoder's hot kernels, fast form against plain form: the sum of absolute differences of a
// 16 x 16 block at each half-pel case, the squared sum, and the forward DCT.
#include "mpeg/mpgenc/mpgenc_dct.h"
#include "mpeg/mpgenc/mpgenc_distortion.h"

#include <benchmark/benchmark.h>
#include <cstdint>
#include <vector>

namespace {

constexpr int kStride = 64;

const std::vector<uint8_t> &Plane(int seed)
{
    static std::vector<uint8_t> planes[2];
    std::vector<uint8_t> &p = planes[seed & 1];
    if (p.empty()) {
        p.resize(kStride * 40);
        for (size_t i = 0; i < p.size(); ++i)
            p[i] = static_cast<uint8_t>((i * 37 + seed * 101 + (i * i) % 97) & 0xff);
    }
    return p;
}

template <int (*Sad)(const uint8_t *, const uint8_t *, int, int, int, int, int)>
void BM_Sad(benchmark::State &state)
{
    const int hx = static_cast<int>(state.range(0) & 1), hy = static_cast<int>(state.range(0) >> 1);
    const std::vector<uint8_t> &ref = Plane(0), &cur = Plane(1);
    for (auto _ : state)
        benchmark::DoNotOptimize(Sad(ref.data() + 3, cur.data() + 5, kStride, 16, hx, hy, 1 << 30));
}
BENCHMARK(BM_Sad<SadBlock>)->DenseRange(0, 3);
BENCHMARK(BM_Sad<SadBlockPlain>)->DenseRange(0, 3);

template <int (*Sse)(const uint8_t *, const uint8_t *, int, int, int, int)>
void BM_Sse(benchmark::State &state)
{
    const int hx = static_cast<int>(state.range(0) & 1), hy = static_cast<int>(state.range(0) >> 1);
    const std::vector<uint8_t> &ref = Plane(0), &cur = Plane(1);
    for (auto _ : state)
        benchmark::DoNotOptimize(Sse(ref.data() + 3, cur.data() + 5, kStride, 16, hx, hy));
}
BENCHMARK(BM_Sse<SseBlock>)->DenseRange(0, 3);
BENCHMARK(BM_Sse<SseBlockPlain>)->DenseRange(0, 3);

template <void (*Dct)(int16_t *)> void BM_ForwardDct(benchmark::State &state)
{
    int16_t block[64];
    for (int i = 0; i < 64; ++i)
        block[i] = static_cast<int16_t>((i * 29) % 255 - 127);
    for (auto _ : state) {
        int16_t b[64];
        std::copy(block, block + 64, b);
        Dct(b);
        benchmark::DoNotOptimize(b);
    }
}
BENCHMARK(BM_ForwardDct<ForwardDct>);
BENCHMARK(BM_ForwardDct<ForwardDctPlain>);

} // namespace

BENCHMARK_MAIN();
