// Loading and converting a 4096 x 4096 24-bit image: BMP file -> CDib -> ZnImage -> CDib, each step
// timed alone and the whole chain once more.
#include "image/cdib.h"
#include "image/znimage.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

constexpr int kSide = 4096;

// A 4096 x 4096 BMP in a temporary folder, written once for the whole run.
class BigBmp
{
public:
    BigBmp()
    {
        char pattern[] = "/tmp/zn-bench-XXXXXX";
        if (mkdtemp(pattern))
            m_dir = pattern;
        m_path = m_dir + "/big.bmp";
        CDib dib;
        dib.Create24(kSide, kSide);
        for (int k = 0; k < kSide; ++k) {
            uint8_t *p = dib.StoredRow(k);
            for (int x = 0; x < 3 * kSide; ++x)
                p[x] = static_cast<uint8_t>(x * 7 + k * 3);
        }
        dib.SaveDibFile(m_path);
    }
    ~BigBmp()
    {
        std::remove(m_path.c_str());
        rmdir(m_dir.c_str());
    }
    const std::string &Path() const { return m_path; }

private:
    std::string m_dir = "/tmp", m_path;
};

const BigBmp &Fixture()
{
    static BigBmp bmp;
    return bmp;
}

void SetBytes(benchmark::State &state)
{
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kSide * kSide * 3);
}

void BM_LoadBmp(benchmark::State &state)
{
    CDib dib;
    for (auto _ : state)
        benchmark::DoNotOptimize(dib.LoadDibFile(Fixture().Path(), false));
    SetBytes(state);
}

void BM_DibToZnImage(benchmark::State &state)
{
    CDib dib;
    dib.LoadDibFile(Fixture().Path(), false);
    ZnImage z;
    for (auto _ : state) {
        z.DibToZnImage(&dib);
        benchmark::DoNotOptimize(z.Data());
    }
    SetBytes(state);
}

void BM_ZnImageToDib(benchmark::State &state)
{
    CDib dib;
    dib.LoadDibFile(Fixture().Path(), false);
    ZnImage z;
    z.DibToZnImage(&dib);
    CDib out;
    for (auto _ : state) {
        z.ZnImageToDib(&out);
        benchmark::DoNotOptimize(out.GetBits());
    }
    SetBytes(state);
}

void BM_BmpToZnImageToDib(benchmark::State &state)
{
    for (auto _ : state) {
        CDib dib;
        dib.LoadDibFile(Fixture().Path(), false);
        ZnImage z;
        z.DibToZnImage(&dib);
        CDib out;
        z.ZnImageToDib(&out);
        benchmark::DoNotOptimize(out.GetBits());
    }
    SetBytes(state);
}

} // namespace

BENCHMARK(BM_LoadBmp)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DibToZnImage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZnImageToDib)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BmpToZnImageToDib)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
