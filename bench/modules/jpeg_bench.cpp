// The JPEG module's Apply on a 512x512 picture, engine only: in bit-rate mode (the quality search
// codes the picture about seven times, counting bytes only, before the stream is written), at a
// fixed quality, and decoded with smoothing. Interactive use wants each well under 200 ms.
#include "image/cdib.h"
#include "image/znimage.h"
#include "modules/jpeg/jpeg_run.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

namespace {

const CDib &JpegBenchImage()
{
    static const std::unique_ptr<CDib> dib = [] {
        auto d = std::make_unique<CDib>();
        d->Create24(512, 512);
        for (int y = 0; y < 512; ++y) {
            uint8_t *row = d->StoredRow(511 - y);
            for (int x = 0; x < 512; ++x) {
                const double v = 110 + 60 * std::sin(y * 0.02) * std::cos(x * 0.015) +
                                 ((x / 64 + y / 48) % 3 == 0 ? 45 : 0) +
                                 10 * std::sin(x * 0.9) * std::sin(y * 0.7);
                row[3 * x] = row[3 * x + 1] = row[3 * x + 2] =
                    static_cast<uint8_t>(std::clamp(v, 0.0, 255.0));
            }
        }
        d->m_title = "bench";
        return d;
    }();
    return *dib;
}

// A folder of our own for the stream file, removed at exit.
const std::string &StreamDir()
{
    static const std::string dir = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "zantho-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            std::abort();
        static struct Remover
        {
            std::string path;
            ~Remover() { std::filesystem::remove_all(path); }
        } remover{pattern};
        return pattern + "/";
    }();
    return dir;
}

void JpegApplyLoop(benchmark::State &state, const JpegParams &par)
{
    CDib result;
    for (auto _ : state) {
        ZnImage decoded;
        const JpegRunResult r = JpegCodeImage(par, &JpegBenchImage(), "bench", StreamDir(), &decoded);
        decoded.ZnImageToDib(&result);
        benchmark::DoNotOptimize(r.measures.psnr);
    }
}

void BM_JpegApplyBitrateSearch(benchmark::State &state)
{
    JpegParams par;
    par.nQualityMode = 0;
    par.fBitrate = 1.5f;
    par.nHuffman = static_cast<int>(state.range(0)); // 1 standard, 2 optimised (two passes per coding)
    JpegApplyLoop(state, par);
}
BENCHMARK(BM_JpegApplyBitrateSearch)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_JpegApplyQuality(benchmark::State &state)
{
    JpegParams par;
    par.nSmoothing = static_cast<int>(state.range(0));
    JpegApplyLoop(state, par);
}
BENCHMARK(BM_JpegApplyQuality)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace
