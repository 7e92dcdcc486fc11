// The decoder's fast kernels against their plain forms, on random and extreme input: the inverse DCT,
// half-pel prediction, writing a block onto its prediction, the compact code tables and the
// coefficient readers. Any difference at all is a fault: a speed-up never changes a picture.
#include "mpeg/mpgdec/mpeg_decoder.h"
#include "mpeg/mpgdec/mpeg_kernels.h"
#include "mpeg/mpgdec/mpgdec_picture.h"
#include "mpeg/mpgdec/mpgdec_vlc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

namespace mpgdec_kernels_test { // one namespace per test file: a folder compiles as one source

namespace {

// Blocks of every kind the transform can meet: sparse ones as after quantisation, dense ones in the
// coefficient range, and any 16-bit values (damaged streams are saturated to +-2048, but the kernel
// itself takes any short).
std::vector<std::vector<short>> TransformInputs()
{
    std::mt19937 rng(41);
    std::vector<std::vector<short>> blocks;
    auto add = [&](auto fill) {
        std::vector<short> b(64);
        for (int i = 0; i < 64; ++i)
            b[i] = static_cast<short>(fill(i));
        blocks.push_back(b);
    };
    for (int v : {0, 1, -1, 7, 2047, -2048, 32767, -32768}) {
        add([&](int i) { return i == 0 ? v : 0; });            // DC only
        add([&](int i) { return i == 0 || i == 63 ? v : 0; }); // DC and the mismatch bit's place
        add([&](int) { return v; });
        add([&](int i) { return i % 2 ? v : -v; });
        for (int pos = 1; pos < 64; pos += 5)
            add([&](int i) { return i == pos ? v : 0; });
    }
    // Many of them: a rounding step of the fast form that is off by one shows only when the low byte of
    // an intermediate sum takes one particular value, and then only on some outputs.
    for (int range : {3, 40, 300, 2048, 32768})
        for (int trial = 0; trial < 20000; ++trial) {
            std::uniform_int_distribution<int> value(-range, range - 1), keep(0, 7);
            const int density = trial % 8; // from dense to nearly empty
            add([&](int) { return keep(rng) >= density ? value(rng) : 0; });
        }
    return blocks;
}

TEST(MpegKernels, FastInverseDctEqualsPlain)
{
    for (const std::vector<short> &in : TransformInputs()) {
        short plain[64], fast[64], sse2[64];
        std::copy(in.begin(), in.end(), plain);
        std::copy(in.begin(), in.end(), fast);
        std::copy(in.begin(), in.end(), sse2);
        zn::InverseDctPlain(plain);
        zn::InverseDctFast(fast);
        zn::InverseDctSse2(sse2);
        ASSERT_TRUE(std::equal(plain, plain + 64, fast)) << "input starts " << in[0] << " " << in[1];
        ASSERT_TRUE(std::equal(plain, plain + 64, sse2)) << "SSE2, input starts " << in[0] << " " << in[1];
    }
}

// Random planes with the extremes 0 and 255 in runs, so sums reach their largest values.
std::vector<uint8_t> RandomPlane(std::mt19937 &rng, size_t n)
{
    std::vector<uint8_t> p(n);
    std::uniform_int_distribution<int> v(0, 255), kind(0, 3);
    for (uint8_t &x : p) {
        const int k = kind(rng);
        x = static_cast<uint8_t>(k == 0 ? 0 : k == 1 ? 255 : v(rng));
    }
    return p;
}

TEST(MpegKernels, FastPredictionEqualsPlain)
{
    std::mt19937 rng(2);
    const int stride = 48;
    for (int trial = 0; trial < 40; ++trial) {
        const std::vector<uint8_t> src = RandomPlane(rng, stride * 40), dst0 = RandomPlane(rng, stride * 40);
        for (int w : {16, 8, 4})
            for (int h : {16, 8, 4, 1})
                for (int hxy = 0; hxy < 4; ++hxy)
                    for (bool average : {false, true})
                        for (int ss : {stride, 2 * stride / 3}) {
                            std::vector<uint8_t> a = dst0, b = dst0;
                            const int at = 3 + trial % 5;
                            zn::PredictRowsPlain(src.data() + at, ss, a.data() + 1, stride - 8, w, h, hxy & 1,
                                                 hxy >> 1, average);
                            zn::PredictRowsFast(src.data() + at, ss, b.data() + 1, stride - 8, w, h, hxy & 1,
                                                hxy >> 1, average);
                            ASSERT_EQ(a, b) << w << "x" << h << " case " << hxy << " average " << average;
                        }
    }
}

TEST(MpegKernels, FastBlockWritingEqualsPlain)
{
    std::mt19937 rng(3);
    const int stride = 24;
    const std::vector<std::vector<short>> blocks = TransformInputs();
    for (size_t k = 0; k < blocks.size(); k += k < 400 ? 1 : 37) { // every extreme, some of the random
        const std::vector<uint8_t> pred = RandomPlane(rng, stride * 8);
        std::vector<uint8_t> a(stride * 8, 9), b = a;
        zn::AddBlockPlain(blocks[k].data(), pred.data() + 2, a.data() + 2, stride);
        zn::AddBlockFast(blocks[k].data(), pred.data() + 2, b.data() + 2, stride);
        ASSERT_EQ(a, b) << "add, block " << k;
        // In place, as the decoder writes onto its prediction.
        a = pred;
        b = pred;
        zn::AddBlockPlain(blocks[k].data(), a.data(), a.data(), stride);
        zn::AddBlockFast(blocks[k].data(), b.data(), b.data(), stride);
        ASSERT_EQ(a, b) << "add in place, block " << k;
        zn::PutBlockPlain(blocks[k].data(), a.data() + 5, stride);
        zn::PutBlockFast(blocks[k].data(), b.data() + 5, stride);
        ASSERT_EQ(a, b) << "put, block " << k;
    }
}

TEST(MpegKernels, CompactCodeTablesGiveTheFullTablesEntries)
{
    for (bool first : {false, true})
        for (bool one : {false, true}) {
            if (first && one)
                continue; // table one has no first-coefficient form
            const zn::mpgvlc::Table &full = zn::mpgvlc::Coefficients(first, one);
            const zn::mpgvlc::CompactTable &compact = zn::mpgvlc::CompactCoefficients(first, one);
            for (uint32_t prefix = 0; prefix < 65536; ++prefix)
                for (uint32_t tail : {0u, 0xFFFFu, prefix * 2654435761u >> 16}) {
                    const uint32_t window = prefix << 16 | tail;
                    const zn::mpgvlc::Entry &a = full.Look(window), &b = compact.Look(window);
                    ASSERT_TRUE(a.len == b.len && a.run == b.run && a.value == b.value)
                        << std::hex << window << " first " << first << " one " << one;
                }
        }
}

// What a run of block reads leaves: the blocks, where a fault stopped them, and the bits taken.
struct ReadOutcome
{
    std::vector<short> blocks;
    int faultAt = -1;
    int64_t bitsTaken = 0;
    bool operator==(const ReadOutcome &o) const
    {
        return blocks == o.blocks && faultAt == o.faultAt && bitsTaken == o.bitsTaken;
    }
};

struct ReaderSetup
{
    int reader; // 0 MPEG-1 intra, 1 MPEG-1 non-intra, 2 MPEG-2 intra, 3 MPEG-2 non-intra
    int quantiser, alternateScan, intraVlc, dcPrecision, chromaFormat;
};

ReadOutcome ReadBlocks(const std::vector<uint8_t> &bytes, const ReaderSetup &s, bool plain)
{
    zn::MpegMemoryInput input(bytes.data(), bytes.size());
    zn::CMpegDecoder d;
    d.plain_kernels = plain;
    d.mpgdec_initbits(&input);
    zn::MpegLayer &l = d.base_layer;
    l.mpeg2 = s.reader >= 2;
    l.quantizer_scale = s.quantiser;
    l.alternate_scan = s.alternateScan;
    d.intra_vlc_format = s.intraVlc;
    d.intra_dc_precision = s.dcPrecision;
    d.chroma_format = s.chromaFormat;
    for (int i = 0; i < 64; ++i) {
        l.intra_quantizer_matrix[i] = 8 + (i * 37) % 200;
        l.non_intra_quantizer_matrix[i] = 16 + (i * 11) % 239;
        l.chroma_intra_quantizer_matrix[i] = 1 + (i * 5) % 255;
        l.chroma_non_intra_quantizer_matrix[i] = 255 - i;
    }
    zn::MpegPictureDecoder pic(d);
    ReadOutcome out;
    for (int k = 0; k < 24; ++k) {
        const int comp = k % (s.chromaFormat == 1 ? 6 : 8);
        std::memset(l.block[comp], 0, sizeof l.block[comp]);
        switch (s.reader) {
        case 0:
            pic.getintrablock(comp);
            break;
        case 1:
            pic.getinterblock(comp);
            break;
        case 2:
            pic.getmpg2intrablock(comp);
            break;
        default:
            pic.getmpg2interblock(comp);
            break;
        }
        out.blocks.insert(out.blocks.end(), l.block[comp], l.block[comp] + 64);
        if (pic.fault) {
            out.faultAt = k;
            break;
        }
    }
    // Bytes handed to the window, the end codes that follow the stream included, less what is left.
    out.bitsTaken = 8 * (l.stream_pos + l.end_phase) - l.incnt;
    return out;
}

// Bit strings that hold every kind of code: uniform bytes (short codes, escapes), bytes rich in zeros
// (long codes, invalid codes), bytes rich in ones (runs that pass the block's end), and the two
// constant extremes.
std::vector<std::vector<uint8_t>> ReaderInputs()
{
    std::mt19937 rng(7);
    std::vector<std::vector<uint8_t>> inputs;
    for (int kind = 0; kind < 4; ++kind)
        for (int trial = 0; trial < 60; ++trial) {
            std::vector<uint8_t> b(400);
            std::uniform_int_distribution<int> v(0, 255), coin(0, 9);
            for (uint8_t &x : b) {
                const int c = coin(rng);
                x = static_cast<uint8_t>(kind == 0   ? v(rng)
                                         : kind == 1 ? (c < 3 ? 0 : v(rng))
                                         : kind == 2 ? (c < 4 ? 0xFF : v(rng))
                                                     : (c < 2   ? 0
                                                        : c < 4 ? 1
                                                        : c < 5 ? 0x80
                                                                : v(rng)));
            }
            inputs.push_back(b);
        }
    inputs.push_back(std::vector<uint8_t>(64, 0x00));
    inputs.push_back(std::vector<uint8_t>(64, 0xFF));
    inputs.push_back({0x12}); // shorter than the window: the stream's end codes follow
    return inputs;
}

TEST(MpegKernels, FastCoefficientReadersEqualPlain)
{
    const ReaderSetup setups[] = {
        {0, 1, 0, 0, 0, 1},  {0, 31, 0, 0, 0, 1},  {1, 1, 0, 0, 0, 1},   {1, 31, 0, 0, 0, 1},
        {2, 2, 0, 0, 0, 1},  {2, 62, 1, 1, 3, 1},  {2, 112, 0, 1, 2, 2}, {3, 2, 0, 0, 0, 1},
        {3, 62, 1, 0, 0, 2}, {3, 112, 0, 0, 0, 3},
    };
    for (const ReaderSetup &s : setups)
        for (const std::vector<uint8_t> &bytes : ReaderInputs()) {
            const ReadOutcome plain = ReadBlocks(bytes, s, true), fast = ReadBlocks(bytes, s, false);
            ASSERT_TRUE(plain == fast)
                << "reader " << s.reader << " quantiser " << s.quantiser << ": fault at " << plain.faultAt
                << " / " << fast.faultAt << ", bits " << plain.bitsTaken << " / " << fast.bitsTaken;
        }
}

} // namespace

} // namespace mpgdec_kernels_test
