// Kernels of the H.264 encoder's entropy and NAL stages: CAVLC block writing on a mix of blocks like
// a coded picture's (mostly small levels and trailing ones, some empty), fast and plain, and emulation
// prevention over slice-like payloads.
#include "h264enc/cavlc_write.h"
#include "h264enc/nal_unit.h"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

namespace {

struct Block
{
    int type;
    int nC;
    int level[17];
    int run[17];
};

std::vector<Block> Blocks(int n)
{
    std::mt19937 rng(3);
    std::vector<Block> blocks(static_cast<size_t>(n));
    for (auto &b : blocks) {
        b.type = std::array<int, 5>{0, 0, 0, 2, 7}[rng() % 5];
        b.nC = static_cast<int>(rng() % 9);
        const int maxCoeff = h264enc::CavlcMaxCoeff(b.type);
        int k = 0, pos = 0, zeros = 0;
        const int density = static_cast<int>(rng() % 60);
        for (; pos < maxCoeff; ++pos) {
            if (static_cast<int>(rng() % 100) >= density) {
                ++zeros;
                continue;
            }
            const int mag = rng() % 4 == 0 ? 2 + static_cast<int>(rng() % 20) : 1;
            b.level[k] = rng() & 1 ? mag : -mag;
            b.run[k] = zeros;
            zeros = 0;
            ++k;
        }
        b.level[k] = 0;
        b.run[k] = 0;
    }
    return blocks;
}

template <bool Fast> void BM_CavlcBlocks(benchmark::State &state)
{
    const std::vector<Block> blocks = Blocks(4096);
    h264enc::Bitstream bs(1 << 20);
    int total = 0;
    for (auto _ : state) {
        bs.byte_count = 0;
        for (const Block &b : blocks) {
            if (Fast)
                h264enc::write_cavlc_block(bs, b.type, b.level, b.run, b.nC, &total);
            else
                h264enc::write_cavlc_block_reference(bs, b.type, b.level, b.run, b.nC, &total);
        }
        benchmark::DoNotOptimize(bs.StreamBuffer.data());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(blocks.size()));
}
BENCHMARK(BM_CavlcBlocks<true>)->Name("BM_CavlcBlocks/fast");
BENCHMARK(BM_CavlcBlocks<false>)->Name("BM_CavlcBlocks/plain");

void BM_EscapeRbsp(benchmark::State &state)
{
    // A CIF slice's worth of payload with the zero runs entropy-coded data has.
    std::mt19937 rng(11);
    std::vector<uint8_t> rbsp(1 << 20);
    for (auto &b : rbsp)
        b = rng() % 8 == 0 ? 0 : static_cast<uint8_t>(rng());
    std::vector<uint8_t> buf;
    for (auto _ : state) {
        buf = rbsp;
        benchmark::DoNotOptimize(h264enc::escape_rbsp(buf, 0, static_cast<int>(rbsp.size()), 0));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(rbsp.size()));
}
BENCHMARK(BM_EscapeRbsp);

} // namespace

BENCHMARK_MAIN();
