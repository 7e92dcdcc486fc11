// EZW's Apply on a camera-sized picture: a 2048x2048 mosaic of the sample photographs (camera, moon,
// coins, mirrored where a tile runs past a photograph's edge), encoded at 1 bpp and decoded at the
// same rate, as one press of Apply does it (stream file, measures and result texts included). The
// interactive target is one second. Build the photographs first: scripts/photos build/photos.
#include "image/cdib.h"
#include "image/znimage.h"
#include "modules/ezw/ezw_coder.h"
#include "modules/ezw/ezw_run.h"
#include "modules/ezw/ezw_workspace.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

constexpr int kSide = 2048;

std::unique_ptr<ZnImage> LoadPhoto(const std::string &name)
{
    CDib dib;
    const std::string path = std::string(ZN_BUILD_DIR) + "/photos/" + name + ".bmp";
    if (!std::filesystem::is_regular_file(path) || dib.LoadDibFile(path, true) < 0)
        return nullptr;
    auto img = std::make_unique<ZnImage>();
    img->DibToZnImage(&dib);
    return img;
}

// Mirrored index into a side of n samples: the tile continues the photograph without a seam.
int Mirror(int i, int n)
{
    const int period = 2 * n;
    i %= period;
    return i < n ? i : period - 1 - i;
}

// 4x4 tiles of 512, the photographs taking turns; null when a photograph is missing.
const CDib *Mosaic()
{
    static const std::unique_ptr<CDib> mosaic = []() -> std::unique_ptr<CDib> {
        std::vector<std::unique_ptr<ZnImage>> photos;
        for (const char *name : {"camera", "moon", "coins"}) {
            photos.push_back(LoadPhoto(name));
            if (!photos.back())
                return nullptr;
        }
        auto d = std::make_unique<CDib>();
        d->Create24(kSide, kSide);
        for (int y = 0; y < kSide; ++y) {
            uint8_t *row = d->StoredRow(kSide - 1 - y);
            for (int x = 0; x < kSide; ++x) {
                const ZnImage &p = *photos[static_cast<size_t>((x / 512 + 3 * (y / 512)) % 3)];
                const int w = p.Cols(), h = p.Rows();
                const float f = p.Data()[static_cast<size_t>(Mirror(y, h)) * w + Mirror(x, w)];
                const auto v = static_cast<uint8_t>(std::clamp(f + 0.5f, 0.0f, 255.0f));
                row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = v;
            }
        }
        d->m_title = "mosaic";
        return d;
    }();
    return mosaic.get();
}

long MinorFaults()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_minflt;
}

std::string ScratchDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "zantho-ezw-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot make the benchmark's scratch folder " + pattern);
    return pattern + "/";
}

// Argument: the wavelet levels L (3 is the dialog's start value, 7 the most a 2048 picture offers).
void BM_EzwApply2048(benchmark::State &state)
{
    const CDib *image = Mosaic();
    if (!image) {
        state.SkipWithError("photographs missing: run scripts/photos build/photos");
        return;
    }
    const std::string dir = ScratchDir();
    EzwParams par;
    par.m_nWaveletLevels = static_cast<int>(state.range(0));
    par.m_fEncRate = par.m_fDecRate = 1.0f;
    long faults = 0;
    for (auto _ : state) {
        const long before = MinorFaults();
        EzwSession session; // a new dialog: every Apply encodes
        EzwApplyResult r;
        session.Apply(*image, "mosaic", par, dir, &r);
        benchmark::DoNotOptimize(r.decoded.Data());
        faults += MinorFaults() - before;
    }
    // Pages touched for the first time: on a virtual machine each costs microseconds, so the count
    // tells memory work apart from arithmetic when the machine is busy.
    state.counters["faults"] =
        benchmark::Counter(static_cast<double>(faults), benchmark::Counter::kAvgIterations);
    std::filesystem::remove_all(dir);
}
// The engine alone: encoding into the stream file and decoding it, as the Apply calls them, without
// the picture's conversion, the measures and the texts.
void BM_EzwEngine2048(benchmark::State &state)
{
    const CDib *image = Mosaic();
    if (!image) {
        state.SkipWithError("photographs missing: run scripts/photos build/photos");
        return;
    }
    ZnImage input;
    input.DibToZnImage(image);
    const int levels = static_cast<int>(state.range(0));
    for (auto _ : state) {
        std::FILE *f = std::tmpfile();
        if (!f) {
            state.SkipWithError("no temporary file");
            break;
        }
        EzwWorkspace work;
        ZnImage display, decoded, decodedBands;
        EzwEncodeImage(f, input, &display, 1.0f, levels, &work);
        EzwDecodeImage(f, &decoded, &decodedBands, 1.0f, &work);
        std::fclose(f);
        benchmark::DoNotOptimize(decoded.Data());
    }
}
BENCHMARK(BM_EzwEngine2048)->Arg(3)->Arg(7)->Unit(benchmark::kMillisecond);

// One Apply takes a second or more: a few repetitions (--benchmark_repetitions) say more on a busy
// machine than a long run, and a whole-process comparison wants --benchmark_min_time=0.001 (one).
BENCHMARK(BM_EzwApply2048)->Arg(3)->Arg(7)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
