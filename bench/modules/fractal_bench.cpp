// The fractal coder on the 512x512 benchmark picture at the module's defaults (blocks 16 to 4,
// threshold 8, 4 + 6 bits): encoding, decoding with 8 iterations, and one whole Apply through the
// shared code file. Interactive use wants the encoder under a second and the decoder under 0.1 s.
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

std::vector<uint8_t> BenchPixels()
{
    ZnImage z;
    z.DibToZnImage(&BenchImage());
    std::vector<uint8_t> p(static_cast<size_t>(z.Rows()) * z.Cols());
    for (size_t i = 0; i < p.size(); ++i)
        p[i] = static_cast<uint8_t>(z.Data()[i]);
    return p;
}

void BM_FractalEncode(benchmark::State &state)
{
    const std::vector<uint8_t> pixels = BenchPixels();
    for (auto _ : state) {
        std::vector<uint8_t> code = FicEncode(pixels.data(), 512, 512, FicEncodeParams{}, nullptr);
        benchmark::DoNotOptimize(code.data());
    }
}
BENCHMARK(BM_FractalEncode)->Unit(benchmark::kMillisecond);

void BM_FractalDecode(benchmark::State &state)
{
    const std::vector<uint8_t> pixels = BenchPixels();
    FicCode code;
    FicParseCode(FicEncode(pixels.data(), 512, 512, FicEncodeParams{}, nullptr), 512, 512, &code);
    for (auto _ : state) {
        std::vector<uint8_t> image = FicDecodeImage(code, static_cast<int>(state.range(0)));
        benchmark::DoNotOptimize(image.data());
    }
}
BENCHMARK(BM_FractalDecode)->Arg(8)->Arg(20)->Unit(benchmark::kMillisecond);

void BM_FractalApply(benchmark::State &state)
{
    char dir[] = "/tmp/zn-fractal-bench-XXXXXX";
    if (!mkdtemp(dir)) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const std::string userDir = std::string(dir) + "/";
    CDib result;
    for (auto _ : state) {
        ZnImage decoded;
        const FicRunResult r = FicCodeImage(FicParams{}, true, 0, &BenchImage(), "bench", userDir, &decoded);
        decoded.ZnImageToDib(&result);
        benchmark::DoNotOptimize(r.measures.psnr);
    }
    std::remove((userDir + kFicCodeFileName).c_str());
    rmdir(dir);
}
BENCHMARK(BM_FractalApply)->Unit(benchmark::kMillisecond);

} // namespace
