// Motion estimation of one CIF frame pair: the camera photograph (or, without it, a synthetic
// texture) seen through a window that moves by (3, -2). The full search at reach 15 with 8x8 blocks
// is the module's most expensive single-level choice.
#include "image/cdib.h"
#include "mpeg/me/me_run.h"

#include <benchmark/benchmark.h>
#include <vector>

namespace {

constexpr int kWidth = 352, kHeight = 288;

struct Pair
{
    std::vector<uint8_t> prev, cur;
};

const Pair &BenchPair()
{
    static const Pair pair = [] {
        CDib photo;
        const bool have = photo.LoadDibFile(std::string(ZN_BUILD_DIR) + "/photos/camera.bmp", true) > 0 &&
                          photo.GetWidth() >= kWidth + 100 && photo.GetHeight() >= kHeight + 100;
        auto level = [&](int x, int y) -> uint8_t {
            if (have)
                return photo.GetInfoHeader()->biBitCount == 8
                           ? photo.StoredRow(photo.GetHeight() - 1 - y)[x]
                           : photo.StoredRow(photo.GetHeight() - 1 - y)[3 * x];
            return static_cast<uint8_t>((x * 7 + y * 13 + (x * y) % 31) % 256);
        };
        Pair p;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                p.prev.push_back(level(x + 50, y + 60));
                p.cur.push_back(level(x + 53, y + 58));
            }
        return p;
    }();
    return pair;
}

void Estimate(benchmark::State &state, const MeSettings &s)
{
    MePlan plan;
    MePlanRun(s, &plan);
    MeEstimator est(s, plan, kHeight, kWidth);
    const Pair &p = BenchPair();
    for (auto _ : state) {
        est.LoadPrevious(p.prev.data());
        est.LoadCurrent(p.cur.data());
        MeField field = est.Estimate();
        benchmark::DoNotOptimize(field->planeA);
    }
}

void BM_FullSearch15Block8Cif(benchmark::State &state)
{
    Estimate(state, MeSettings{});
}
BENCHMARK(BM_FullSearch15Block8Cif)->Unit(benchmark::kMillisecond);

void BM_NStep4Block8Cif(benchmark::State &state)
{
    MeSettings s;
    s.SearchMethod = 2;
    Estimate(state, s);
}
BENCHMARK(BM_NStep4Block8Cif)->Unit(benchmark::kMillisecond);

void BM_ThreeLevelsFull25Block8Cif(benchmark::State &state)
{
    MeSettings s;
    s.levels = 3;
    s.maxDispl = 25;
    Estimate(state, s);
}
BENCHMARK(BM_ThreeLevelsFull25Block8Cif)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
