// Kernels of the H.264 encoder's entropy, NAL and loop-filter stages: CAVLC block writing on a mix of
// blocks like a coded picture's (mostly small levels and trailing ones, some empty), fast and plain;
// emulation prevention over slice-like payloads; CABAC bins (context bins of every skew and bypass
// bins), fast and plain; deblocking a CIF picture of inter and intra macroblocks, fast and plain; and
// the motion search kernels (SATD, the 4x4 SAD window) and the CIF quarter-sample plane, fast and plain.
#include "h264enc/cabac_enc.h"
#include "h264enc/cavlc_write.h"
#include "h264enc/enc_deblock.h"
#include "h264enc/enc_kernels.h"
#include "h264enc/enc_state.h"
#include "h264enc/nal_unit.h"
#include "h264enc/quarter_plane.h"

#include <benchmark/benchmark.h>

#include <cmath>
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

struct Bin
{
    uint16_t ctx;
    uint8_t bypass;
    uint8_t bin;
};

// A million bins as a slice sends them: four in five through contexts whose bins follow their skew
// (most contexts are strongly skewed), the rest bypass bins (signs, suffixes).
std::vector<Bin> Bins()
{
    std::mt19937 rng(5);
    std::vector<double> p1(64);
    for (double &p : p1)
        p = std::pow(std::uniform_real_distribution<double>(0.0, 1.0)(rng), 3.0);
    std::vector<Bin> bins(1 << 20);
    for (Bin &b : bins) {
        b.ctx = static_cast<uint16_t>(rng() % 64);
        b.bypass = rng() % 5 == 0;
        b.bin = static_cast<uint8_t>(
            b.bypass ? rng() & 1 : std::uniform_real_distribution<double>(0.0, 1.0)(rng) < p1[b.ctx]);
    }
    return bins;
}

template <bool Fast> void BM_CabacBins(benchmark::State &state)
{
    const std::vector<Bin> bins = Bins();
    std::vector<uint8_t> buffer(1 << 20);
    std::vector<h264enc::CabacEncContext> ctx(64);
    for (auto _ : state) {
        int pos = 0;
        if (Fast) {
            h264enc::CabacEncEnv env;
            h264enc::cabac_enc_start(&env, &buffer, &pos);
            for (const Bin &b : bins) {
                if (b.bypass)
                    h264enc::cabac_enc_bypass(&env, b.bin);
                else
                    h264enc::cabac_enc_symbol(&env, b.bin, &ctx[b.ctx]);
            }
            h264enc::cabac_enc_finish(&env, 0, nullptr);
        } else {
            h264enc::CabacEncEnvReference env;
            h264enc::cabac_enc_start_reference(&env, &buffer, &pos);
            for (const Bin &b : bins) {
                if (b.bypass)
                    h264enc::cabac_enc_bypass_reference(&env, b.bin);
                else
                    h264enc::cabac_enc_symbol_reference(&env, b.bin, &ctx[b.ctx]);
            }
            h264enc::cabac_enc_finish_reference(&env, 0, nullptr);
        }
        benchmark::DoNotOptimize(buffer.data());
        benchmark::DoNotOptimize(pos);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bins.size()));
}
BENCHMARK(BM_CabacBins<true>)->Name("BM_CabacBins/fast");
BENCHMARK(BM_CabacBins<false>)->Name("BM_CabacBins/plain");

// A CIF P picture at qp 28: one macroblock in eight intra, the others inter with a third of their 4x4
// blocks coded and vectors that differ by a sample here and there; the planes blocky enough for the
// thresholds to let most edges through.
struct CifPicture
{
    h264enc::EncoderImage img;
    h264enc::Array2D<uint8_t> y;
    h264enc::Array3D<uint8_t> uv;
    CifPicture()
    {
        std::mt19937 rng(8);
        img.width = 352;
        img.height = 288;
        img.type = h264enc::kTypeP;
        img.mb_count = 396;
        img.mb_data.assign(396, h264enc::MacroblockRecord());
        img.maps.allocate(88, 72);
        for (auto &mb : img.mb_data) {
            mb.mb_mode = rng() % 8 == 0 ? h264enc::kModeI4 : h264enc::kMode16x16;
            mb.qp = 28;
            for (int b = 0; b < 16; ++b)
                mb.coded_block_bits |= rng() % 3 == 0 ? 1 << b : 0;
        }
        for (size_t i = 0; i < img.maps.ref_map.size(); ++i) {
            img.maps.ref_map[i] = 0;
            img.maps.mv_map[i] = {rng() % 4 == 0 ? 4 : 0, 0};
        }
        y.allocate(288, 352, "bench");
        uv.allocate(2, 144, 176, "bench");
        auto fill = [&](h264enc::Array2D<uint8_t> &p) {
            for (int r = 0; r < p.rows(); ++r)
                for (int c = 0; c < p.cols(); ++c)
                    p[r][c] = static_cast<uint8_t>(120 + 5 * (((r / 4) * 7 + (c / 4) * 3) % 5) + rng() % 3);
        };
        fill(y);
        fill(uv[0]);
        fill(uv[1]);
    }
};

template <bool Fast> void BM_DeblockCif(benchmark::State &state)
{
    const CifPicture pic;
    h264enc::Array2D<uint8_t> y;
    h264enc::Array3D<uint8_t> uv;
    for (auto _ : state) {
        y = pic.y; // the copy (150 KB) is part of the time; it is far below the filter's
        uv = pic.uv;
        if (Fast)
            h264enc::deblock_picture(pic.img, y, &uv);
        else
            h264enc::deblock_picture_reference(pic.img, y, &uv);
        benchmark::DoNotOptimize(y.data());
    }
}
BENCHMARK(BM_DeblockCif<true>)->Name("BM_DeblockCif/fast")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeblockCif<false>)->Name("BM_DeblockCif/plain")->Unit(benchmark::kMillisecond);

template <bool Fast> void BM_Satd4x4(benchmark::State &state)
{
    std::mt19937 rng(5);
    std::vector<int> diffs(16 * 1024);
    for (int &d : diffs)
        d = static_cast<int>(rng() % 61) - 30;
    for (auto _ : state) {
        int sum = 0;
        for (size_t b = 0; b < diffs.size(); b += 16) {
            int d[16];
            std::copy(diffs.begin() + static_cast<std::ptrdiff_t>(b),
                      diffs.begin() + static_cast<std::ptrdiff_t>(b) + 16, d);
            sum += Fast ? h264enc::satd4x4(d, true) : h264enc::satd4x4_reference(d, true);
        }
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_Satd4x4<true>)->Name("BM_Satd4x4_1024/fast");
BENCHMARK(BM_Satd4x4<false>)->Name("BM_Satd4x4_1024/plain");

// One macroblock's 4x4 SAD tables over the window of search range 16 (33 x 33 positions).
template <bool Fast> void BM_SadWindow(benchmark::State &state)
{
    std::mt19937 rng(9);
    const int side = 33, outStride = 48, stride = outStride + 16;
    std::vector<uint8_t> src(256), win(static_cast<size_t>(stride) * (side + 15));
    for (auto &v : src)
        v = static_cast<uint8_t>(rng());
    for (auto &v : win)
        v = static_cast<uint8_t>(rng());
    const size_t plane = static_cast<size_t>(side) * outStride;
    std::vector<uint16_t> out(plane * 16);
    for (auto _ : state) {
        if (Fast)
            h264enc::sad4x4_window(src.data(), win.data(), stride, side, out.data(), outStride, plane);
        else
            h264enc::sad4x4_window_reference(src.data(), win.data(), stride, side, out.data(), outStride,
                                             plane);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_SadWindow<true>)->Name("BM_SadWindowRange16/fast");
BENCHMARK(BM_SadWindow<false>)->Name("BM_SadWindowRange16/plain");

// One block's scan for its least cost over the 33 x 33 positions of search range 16.
template <bool Fast> void BM_LeastCostScan(benchmark::State &state)
{
    std::mt19937 rng(4);
    const int n = 33, stride = 48;
    std::vector<uint16_t> sad(static_cast<size_t>(stride) * n), xbits(n + 8);
    std::vector<int> ybits(n), rank(static_cast<size_t>(n) * n);
    for (auto &v : sad)
        v = static_cast<uint16_t>(2000 + rng() % 4000);
    for (int k = 0; k < n; ++k) {
        xbits[static_cast<size_t>(k)] = static_cast<uint16_t>(1 + 2 * (std::abs(k - 16) / 2));
        ybits[static_cast<size_t>(k)] = 1 + 2 * (std::abs(k - 16) / 2);
    }
    for (size_t k = 0; k < rank.size(); ++k)
        rank[k] = static_cast<int>(k);
    h264enc::PositionScan s;
    s.sad = sad.data();
    s.sad_stride = stride;
    s.n = n;
    s.xbits = xbits.data();
    s.ybits = ybits.data();
    s.rank = rank.data();
    s.rank_stride = n;
    s.lambda = 25 << 16;
    for (auto _ : state) {
        int row = 0, col = 0;
        const int c = Fast ? h264enc::least_cost_position(s, &row, &col)
                           : h264enc::least_cost_position_reference(s, &row, &col);
        benchmark::DoNotOptimize(c + row + col);
    }
}
BENCHMARK(BM_LeastCostScan<true>)->Name("BM_LeastCostScanRange16/fast");
BENCHMARK(BM_LeastCostScan<false>)->Name("BM_LeastCostScanRange16/plain");

// The Hadamard SATD of the 16 4x4 blocks of a 16x16 block against a quarter-sample plane.
template <bool Fast> void BM_QuarterSatd16x16(benchmark::State &state)
{
    std::mt19937 rng(6);
    std::vector<uint8_t> src(256), plane(64 * 64 * 4);
    for (auto &v : src)
        v = static_cast<uint8_t>(rng());
    for (auto &v : plane)
        v = static_cast<uint8_t>(rng());
    for (auto _ : state) {
        int sum = 0;
        for (int y = 0; y < 16; y += 4)
            for (int x = 0; x < 16; x += 8) {
                int out[2];
                if (Fast)
                    h264enc::quarter_strip_satd(src.data() + 16 * y + x, 16,
                                                plane.data() + 4 * (64 * 4 * y + x), 64 * 4, true, true, out);
                else
                    h264enc::quarter_strip_satd_reference(src.data() + 16 * y + x, 16,
                                                          plane.data() + 4 * (64 * 4 * y + x), 64 * 4, true,
                                                          true, out);
                sum += out[0] + out[1];
            }
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_QuarterSatd16x16<true>)->Name("BM_QuarterSatd16x16/fast");
BENCHMARK(BM_QuarterSatd16x16<false>)->Name("BM_QuarterSatd16x16/plain");

template <bool Fast> void BM_QuarterPlaneCif(benchmark::State &state)
{
    const CifPicture pic;
    h264enc::Array2D<int> work;
    h264enc::Array2D<uint8_t> plane;
    plane.allocate(4 * 288 + 32, 4 * 352 + 32, "bench");
    for (auto _ : state) {
        if (Fast)
            h264enc::interpolate_quarter_plane(pic.y, work, plane);
        else
            h264enc::interpolate_quarter_plane_reference(pic.y, work, plane);
        benchmark::DoNotOptimize(plane.data());
    }
}
BENCHMARK(BM_QuarterPlaneCif<true>)->Name("BM_QuarterPlaneCif/fast")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QuarterPlaneCif<false>)->Name("BM_QuarterPlaneCif/plain")->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
