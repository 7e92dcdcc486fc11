// CABAC element readers against bins written here by the binarisation tables of this syntax, with the
// contexts chosen by rules written here from the neighbours: every I, P and B type and sub-type, the
// worked cases (vector difference +9, a chroma DC block of four, levels 1, 1, 3, the skip contexts),
// and the context states of both sides compared after each sequence.
#include "h264/support/cabac_writer.h"
#include "h264dec/cabac_read.h"
#include "h264dec/macroblock.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>

namespace cabac_elements_test { // one namespace per test file: a folder compiles as one source

namespace {

using h264test::BitWriter;
using h264test::CabacWriter;

// A 2x2-macroblock picture whose current macroblock is 3 (left 2, above 1), contexts initialised
// alike on both sides.
struct Fixture
{
    H264DecoderState dec;
    MotionInfo mi{};
    TextureInfo ti{};
    BitWriter w;
    CabacWriter enc{w};
    std::vector<uint8_t> bytes;

    explicit Fixture(int type, int model = 1, int qp = 28)
    {
        DecoderImage &img = dec.img;
        img.width = img.height = 32;
        img.type = type;
        img.model_number = model;
        img.qp = qp;
        dec_alloc_macroblock_arrays(dec, 32, 32);
        dec_start_picture_arrays(dec);
        for (auto &m : *img.mb_data)
            m.slice_number = 0;
        img.current_mb_nr = img.mb_index = 3;
        img.mb_x = img.mb_y = 1;
        img.block_x = img.block_y = 4;
        Cur().neighbours[1][1] = &Cur();
        h264dec_init_contexts(dec);
        mi = *dec.slice.motion_contexts;
        ti = *dec.slice.texture_contexts;
    }
    DecoderMacroblock &Mb(int i) { return (*dec.img.mb_data)[static_cast<size_t>(i)]; }
    DecoderMacroblock &Cur() { return Mb(3); }
    void Neighbours(bool up, bool left)
    {
        Cur().neighbours[0][1] = up ? &Mb(1) : nullptr;
        Cur().neighbours[1][0] = left ? &Mb(2) : nullptr;
    }
    void Bin(CabacContext &c, int b) { enc.Symbol(c, b); }
    void Bits(CabacContext &c, int value, int n) // most significant first
    {
        for (int k = n - 1; k >= 0; --k)
            Bin(c, (value >> k) & 1);
    }
    // Ends the encoder and starts the decoder on what it wrote.
    void Start()
    {
        enc.Final(1);
        bytes = w.Bytes();
        DataPartition &dp = dec.slice.partitions[0];
        h264dec_load_payload(dp.bitstream.get(), bytes.data(), static_cast<int>(bytes.size()));
        dp.bitstream->byte_length = static_cast<int>(bytes.size());
        cabac_start_decoding(&dp.cabac, dp.bitstream->streamBuffer, static_cast<int>(bytes.size()), 0,
                             &dp.bitstream->read_length);
    }
    SyntaxSymbol Read(CabacReadFn fn, int value2 = 0, int context = 0)
    {
        SyntaxSymbol sym;
        sym.read_fn = fn;
        sym.value2 = value2;
        sym.context = context;
        cabac_read_element(&sym, dec, &dec.slice.partitions[0]);
        return sym;
    }
    // Both sides used the same contexts in the same order.
    void ExpectSameContexts()
    {
        EXPECT_EQ(std::memcmp(&mi, dec.slice.motion_contexts.get(), sizeof mi), 0);
        EXPECT_EQ(std::memcmp(&ti, dec.slice.texture_contexts.get(), sizeof ti), 0);
    }
    void Bypass(int b) { enc.Bypass(b); }
    void ExpGolomb(int v, int k)
    {
        while (v >= (1 << k)) {
            Bypass(1);
            v -= 1 << k;
            ++k;
        }
        Bypass(0);
        while (k--)
            Bypass((v >> k) & 1);
    }
};

// Intra 16x16 bins of value v (12 x luma + 4 x chroma + mode) with the five given contexts.
void WriteI16(Fixture &f, int v, CabacContext &luma, CabacContext &chroma, CabacContext &chroma2,
              CabacContext &m1, CabacContext &m2)
{
    f.Bin(luma, v / 12);
    const int c = (v % 12) / 4;
    f.Bin(chroma, c != 0);
    if (c)
        f.Bin(chroma2, c == 2);
    f.Bin(m1, (v % 4) >> 1);
    f.Bin(m2, v & 1);
}

TEST(CabacElements, EveryITypeValue)
{
    Fixture f(kPictureI, 0);
    f.Neighbours(true, true);
    f.Mb(1).mb_type = kMbIntra16x16; // counts
    f.Mb(2).mb_type = kMbIntra4x4;   // does not
    auto *c = f.mi.mb_type_contexts[0];
    for (int v = 0; v <= 24; ++v) {
        f.Bin(c[1], v != 0);
        if (v)
            WriteI16(f, v - 1, c[4], c[5], c[6], c[7], c[8]);
    }
    f.Start();
    for (int v = 0; v <= 24; ++v)
        EXPECT_EQ(f.Read(cabac_read_mb_type).value1, v);
    f.ExpectSameContexts();
}

TEST(CabacElements, EveryPTypeAndSubType)
{
    Fixture f(kPictureP);
    auto *p = f.mi.mb_type_contexts[1];
    const int values[] = {1, 2, 3, 4, 6, 7, 8, 12, 18, 19, 23, 29, 30};
    for (int v : values) {
        if (v <= 4) {
            f.Bin(p[4], 0);
            if (v == 2 || v == 3) {
                f.Bin(p[5], 1);
                f.Bin(p[7], v == 2);
            } else {
                f.Bin(p[5], 0);
                f.Bin(p[6], v == 4);
            }
        } else {
            f.Bin(p[4], 1);
            f.Bin(p[7], v != 6);
            if (v >= 7)
                WriteI16(f, v - 7, p[8], p[9], p[9], p[10], p[10]);
        }
    }
    auto *s = f.mi.b8_type_contexts[0];
    for (int v = 0; v < 4; ++v) {
        f.Bin(s[1], v == 0);
        if (v) {
            f.Bin(s[3], v != 1);
            if (v > 1)
                f.Bin(s[4], v == 2);
        }
    }
    f.Start();
    for (int v : values)
        EXPECT_EQ(f.Read(cabac_read_mb_type).value1, v);
    for (int v = 0; v < 4; ++v)
        EXPECT_EQ(f.Read(cabac_read_sub_mb_type).value1, v);
    f.ExpectSameContexts();
}

TEST(CabacElements, EveryBTypeAndSubType)
{
    Fixture f(kPictureB, 2);
    f.Neighbours(true, true);
    f.Mb(1).mb_type = 0;
    f.Mb(2).mb_type = 1; // one neighbour counts
    auto *c = f.mi.mb_type_contexts[2];
    auto *p = f.mi.mb_type_contexts[1];
    for (int v = 0; v <= 47; ++v) {
        f.Bin(c[1], v != 0);
        if (v == 0)
            continue;
        if (v <= 2) {
            f.Bin(c[4], 0);
            f.Bin(c[6], v - 1);
            continue;
        }
        f.Bin(c[4], 1);
        if (v <= 10) {
            f.Bin(c[5], 0);
            f.Bits(c[6], v - 3, 3);
            continue;
        }
        f.Bin(c[5], 1);
        if (v == 11 || v == 22) {
            f.Bits(c[6], v == 11 ? 6 : 7, 3);
        } else if (v >= 23) {
            f.Bits(c[6], 5, 3);
            f.Bin(c[6], v != 23);
            if (v > 23)
                WriteI16(f, v - 24, p[8], p[9], p[9], p[10], p[10]);
        } else {
            f.Bits(c[6], v - 12, 4);
        }
    }
    auto *s = f.mi.b8_type_contexts[1];
    for (int v = 0; v <= 12; ++v) {
        f.Bin(s[0], v != 0);
        if (!v)
            continue;
        if (v <= 2) {
            f.Bin(s[1], 0);
            f.Bin(s[3], v - 1);
        } else if (v <= 6) {
            f.Bin(s[1], 1);
            f.Bin(s[2], 0);
            f.Bits(s[3], v - 3, 2);
        } else {
            f.Bin(s[1], 1);
            f.Bin(s[2], 1);
            f.Bin(s[3], v >= 11);
            if (v >= 11)
                f.Bin(s[3], v - 11);
            else
                f.Bits(s[3], v - 7, 2);
        }
    }
    f.Start();
    for (int v = 0; v <= 47; ++v)
        ASSERT_EQ(f.Read(cabac_read_mb_type).value1, v);
    for (int v = 0; v <= 12; ++v)
        EXPECT_EQ(f.Read(cabac_read_sub_mb_type).value1, v);
    f.ExpectSameContexts();
}

TEST(CabacElements, SkipFlagContextsCountCodedNeighbours)
{
    struct Case
    {
        bool up, left;
        int upType, leftType, upCbp, ctx;
    };
    // P: a neighbour counts when present and not skipped; both skipped gives entry 0.
    const Case pCases[] = {{true, true, 0, 0, 0, 0},
                           {true, true, 1, 0, 0, 1},
                           {true, true, 9, 8, 0, 2},
                           {false, false, 1, 1, 0, 0}};
    for (const Case &k : pCases) {
        Fixture f(kPictureP);
        f.Neighbours(k.up, k.left);
        f.Mb(1).mb_type = k.upType;
        f.Mb(2).mb_type = k.leftType;
        f.Bin(f.mi.mb_type_contexts[1][k.ctx], 1);
        f.Bin(f.mi.mb_type_contexts[1][k.ctx], 0);
        f.Start();
        EXPECT_EQ(f.Read(cabac_read_skip_flag).value1, 1);
        EXPECT_EQ(f.Read(cabac_read_skip_flag).value1, 0);
        f.ExpectSameContexts();
    }
    // B: a direct neighbour with coefficients counts too (entries 7..9).
    const Case bCases[] = {{true, true, 0, 0, 0, 7}, {true, true, 0, 0, 3, 8}, {true, true, 0, 2, 3, 9}};
    for (const Case &k : bCases) {
        Fixture f(kPictureB);
        f.Neighbours(k.up, k.left);
        f.Mb(1).mb_type = k.upType;
        f.Mb(1).coded_block_pattern = k.upCbp;
        f.Mb(2).mb_type = k.leftType;
        f.Bin(f.mi.mb_type_contexts[2][k.ctx], 0);
        f.Start();
        const SyntaxSymbol s = f.Read(cabac_read_skip_flag);
        EXPECT_EQ(s.value1, 0);
        EXPECT_EQ(s.value2, 0);
        f.ExpectSameContexts();
    }
}

TEST(CabacElements, VectorDifferenceOfNine)
{
    Fixture f(kPictureP);
    auto &first = f.mi.mv_res_contexts[0][0];
    auto *further = f.mi.mv_res_contexts[1];
    f.Bin(first, 1);
    f.Bypass(0); // sign before the suffix
    for (int k = 0; k < 8; ++k)
        f.Bin(further[std::min(k, 3)], 1);
    f.ExpGolomb(0, 3);
    f.Start();
    const int before = cabac_bits_read(&f.dec.slice.partitions[0].cabac);
    const SyntaxSymbol s = f.Read(cabac_read_mvd, 0);
    EXPECT_EQ(s.value1, 9);
    EXPECT_EQ(s.length, cabac_bits_read(&f.dec.slice.partitions[0].cabac) - before);
    f.ExpectSameContexts();
}

TEST(CabacElements, VectorDifferencesWithNeighbourSums)
{
    std::mt19937 rng(5);
    Fixture f(kPictureB);
    f.Neighbours(true, true);
    std::vector<std::pair<int, int>> written; // (value, value2)
    for (int n = 0; n < 400; ++n) {
        const int list = static_cast<int>(rng() % 2), comp = static_cast<int>(rng() % 2);
        const int sx = static_cast<int>(rng() % 4), sy = static_cast<int>(rng() % 4);
        // Neighbour differences: inside the macroblock, or the bottom row / right column of 1 and 2.
        const int aboveV = static_cast<int>(rng() % 40) - 20, leftV = static_cast<int>(rng() % 40) - 20;
        if (sy > 0)
            f.Cur().mvd[list][sy - 1][sx][comp] = aboveV;
        else
            f.Mb(1).mvd[list][3][sx][comp] = aboveV;
        if (sx > 0)
            f.Cur().mvd[list][sy][sx - 1][comp] = leftV;
        else
            f.Mb(2).mvd[list][sy][3][comp] = leftV;
        const int sum = std::abs(aboveV) + std::abs(leftV);
        const int inc = sum < 3 ? 0 : sum <= 32 ? 2 : 3;
        const int kind = static_cast<int>(rng() % 4);
        const int mag = kind == 0   ? 0
                        : kind == 1 ? 1 + static_cast<int>(rng() % 8)
                                    : static_cast<int>(rng() % 300);
        const int v = rng() % 2 ? mag : -mag;
        f.Bin(f.mi.mv_res_contexts[0][5 * comp + inc], v != 0);
        if (v != 0) {
            f.Bypass(v < 0);
            const int s = std::abs(v) - 1;
            for (int k = 0; k < std::min(s, 8); ++k)
                f.Bin(f.mi.mv_res_contexts[1][5 * comp + std::min(k, 3)], 1);
            if (s < 8)
                f.Bin(f.mi.mv_res_contexts[1][5 * comp + std::min(s, 3)], 0);
            else
                f.ExpGolomb(s - 8, 3);
        }
        f.dec.img.subblock_x = sx;
        f.dec.img.subblock_y = sy;
        written.push_back({v, 2 * comp + list});
        // The decoder reads right away, on the same neighbours.
    }
    // Re-run the neighbour set-up while reading: replay the generator.
    f.Start();
    std::mt19937 replay(5);
    for (size_t n = 0; n < written.size(); ++n) {
        const int list = static_cast<int>(replay() % 2), comp = static_cast<int>(replay() % 2);
        const int sx = static_cast<int>(replay() % 4), sy = static_cast<int>(replay() % 4);
        const int aboveV = static_cast<int>(replay() % 40) - 20, leftV = static_cast<int>(replay() % 40) - 20;
        if (sy > 0)
            f.Cur().mvd[list][sy - 1][sx][comp] = aboveV;
        else
            f.Mb(1).mvd[list][3][sx][comp] = aboveV;
        if (sx > 0)
            f.Cur().mvd[list][sy][sx - 1][comp] = leftV;
        else
            f.Mb(2).mvd[list][sy][3][comp] = leftV;
        const int kind = static_cast<int>(replay() % 4);
        if (kind == 1)
            replay();
        else if (kind > 1)
            replay();
        replay(); // sign
        f.dec.img.subblock_x = sx;
        f.dec.img.subblock_y = sy;
        ASSERT_EQ(f.Read(cabac_read_mvd_b, written[n].second).value1, written[n].first) << n;
    }
    f.ExpectSameContexts();
}

TEST(CabacElements, IntraModesChromaQuantiserAndPattern)
{
    Fixture f(kPictureI, 0);
    f.Neighbours(true, true);
    f.Mb(1).chroma_pred_mode = 0;       // vertical: does not count
    f.Mb(2).chroma_pred_mode = 2;       // inter macroblocks hold 2: counts
    f.Mb(2).qp_delta = 3;               // the left neighbour selects the quantiser context
    f.Mb(1).coded_block_pattern = 0x2F; // lower right quadrant of the neighbour above coded, chroma 2
    f.Mb(2).coded_block_pattern = 0x0A; // right column coded
    auto &ti = f.ti;
    // Intra 4x4 modes -1, 0..7: flag (inverted), then three bins least significant first.
    for (int m = -1; m < 8; ++m) {
        f.Bin(ti.ipr_contexts[0], m >= 0);
        if (m >= 0)
            for (int b = 0; b < 3; ++b)
                f.Bin(ti.ipr_contexts[1], (m >> b) & 1);
    }
    for (int c = 0; c < 4; ++c) {
        f.Bin(ti.cipr_contexts[1], c != 0);
        if (c) {
            f.Bin(ti.cipr_contexts[3], c > 1);
            if (c > 1)
                f.Bin(ti.cipr_contexts[3], c > 2);
        }
    }
    const int deltas[] = {0, 1, -1, 2, -2, 7, -9};
    for (int d : deltas) {
        f.Bin(f.mi.delta_qp_contexts[1], d != 0);
        if (d) {
            const int k = d > 0 ? 2 * d - 1 : -2 * d; // k = 1 + unary
            const int u = k - 1;
            f.Bin(f.mi.delta_qp_contexts[2], u > 0);
            for (int j = 1; j < u; ++j)
                f.Bin(f.mi.delta_qp_contexts[3], 1);
            if (u > 0)
                f.Bin(f.mi.delta_qp_contexts[3], 0);
        }
    }
    // Pattern 0x13: quadrants 0 and 1 and chroma 1. Luma contexts: above not coded (u), left not
    // coded (l), from the neighbours at the edge and from the quadrants already read inside.
    const int cbp = 0x13;
    const int upCbp = 0x2F, leftCbp = 0x0A;
    for (int q = 0; q < 4; ++q) {
        const int qx = q % 2, qy = q / 2;
        const int u = qy ? !((cbp >> (q - 2)) & 1) : !((upCbp >> (2 + qx)) & 1);
        const int l = qx ? !((cbp >> (q - 1)) & 1) : !((leftCbp >> (q + 1)) & 1);
        f.Bin(ti.cbp_contexts[0][2 * u + l], (cbp >> q) & 1);
    }
    f.Bin(ti.cbp_contexts[1][2 * 1 + 0], 1);
    f.Bin(ti.cbp_contexts[2][2 * 1 + 0], 0);
    f.Start();
    for (int m = -1; m < 8; ++m)
        EXPECT_EQ(f.Read(cabac_read_intra_mode).value1, m);
    for (int c = 0; c < 4; ++c)
        EXPECT_EQ(f.Read(cabac_read_chroma_mode).value1, c);
    for (int d : deltas)
        EXPECT_EQ(f.Read(cabac_read_qp_delta).value1, d);
    EXPECT_EQ(f.Read(cabac_read_cbp).value1, cbp);
    f.ExpectSameContexts();
}

TEST(CabacElements, ReferenceIndicesWithSwappedBackwardOnes)
{
    Fixture f(kPictureB);
    f.Neighbours(true, true);
    f.dec.img.num_ref_idx_active_bwd = 2;
    Array2D<int> &bwd = *f.dec.img.bwd_ref;
    bwd[3][4] = 0; // above block (4,3): stored 0 is read index 1 -> above 0
    bwd[4][3] = 1; // left block: stored 1 is read index 0
    f.Mb(1).mb_type = 1;
    f.Mb(2).mb_type = 1;
    auto *r = f.mi.ref_no_contexts[0];
    for (int v : {0, 1, 2, 5}) {
        f.Bin(r[2 * 1 + 0], v != 0);
        if (v) {
            f.Bin(r[4], v > 1);
            for (int k = 2; k < v; ++k)
                f.Bin(r[5], 1);
            if (v > 1)
                f.Bin(r[5], 0);
        }
    }
    f.Start();
    f.dec.img.subblock_x = f.dec.img.subblock_y = 0;
    for (int v : {0, 1, 2, 5})
        EXPECT_EQ(f.Read(cabac_read_ref_bwd).value1, v);
    f.ExpectSameContexts();
}

// Residual blocks: coded block flag, significance map and levels, pair by pair.
struct Coefficient
{
    int pos, level;
};

void WriteBlock(Fixture &f, int type, const std::vector<Coefficient> &coefs, int cbfCtx, bool field = false)
{
    auto &ti = f.ti;
    f.Bin(ti.bcbp_contexts[kCbfRowOfBlockType[type]][cbfCtx], !coefs.empty());
    if (coefs.empty())
        return;
    const int first = type == 1 || type == 7 ? 1 : 0, end = type == 6 ? 4 : 16;
    auto *map = field ? ti.fld_map_contexts[type] : ti.map_contexts[type];
    auto *last = field ? ti.fld_last_contexts[type] : ti.last_contexts[type];
    const int lastPos = coefs.back().pos;
    size_t c = 0;
    for (int k = first; k < end - 1; ++k) {
        const bool sig = c < coefs.size() && coefs[c].pos == k;
        f.Bin(map[k], sig);
        if (sig) {
            f.Bin(last[k], k == lastPos);
            ++c;
            if (k == lastPos)
                break;
        }
    }
    int ones = 1, greater = 0;
    for (auto it = coefs.rbegin(); it != coefs.rend(); ++it) {
        const int mag = std::abs(it->level);
        auto *one = ti.one_contexts[kLevelRowOfBlockType[type]];
        auto *abs = ti.abs_contexts[kLevelRowOfBlockType[type]];
        f.Bin(one[std::min(ones, 4)], mag > 1);
        if (mag > 1) {
            const int s = mag - 2;
            for (int k = 0; k < std::min(s, 13); ++k)
                f.Bin(abs[std::min(greater, 4)], 1);
            if (s < 13)
                f.Bin(abs[std::min(greater, 4)], 0);
            else
                f.ExpGolomb(s - 13, 0);
            ++greater;
            ones = 0;
        } else if (ones > 0) {
            ++ones;
        }
        f.Bypass(it->level < 0);
    }
}

std::vector<std::pair<int, int>> ReadPairs(Fixture &f, int type, int maxPairs)
{
    std::vector<std::pair<int, int>> out;
    for (int p = 0; p < maxPairs; ++p) {
        const SyntaxSymbol s = f.Read(cabac_read_run_level, 0, type);
        if (s.value1 == 0)
            break;
        out.push_back({s.value1, s.value2});
    }
    return out;
}

TEST(CabacElements, LevelsOneOneThreeAndAFullChromaDcBlock)
{
    Fixture f(kPictureP);
    // Luma 4x4 block (type 5) at (1,1) inside the macroblock: flags of (1,0) and (0,1) are clear.
    f.dec.img.subblock_x = f.dec.img.subblock_y = 1;
    WriteBlock(f, 5, {{0, 3}, {4, 1}, {9, -1}}, 0);
    // Chroma DC of U with all four coefficients: no last bin of 1, the fourth implied. The
    // neighbours are missing and the macroblock is not intra: flags 0.
    WriteBlock(f, 6, {{0, 2}, {1, -1}, {2, 1}, {3, 14}}, 0);
    f.Start();
    f.dec.img.cbf_intra_flag = 0;
    f.dec.img.subblock_x = f.dec.img.subblock_y = 1;
    const auto luma = ReadPairs(f, 5, 17);
    ASSERT_EQ(luma.size(), 3u);
    EXPECT_EQ(luma[0], std::make_pair(3, 0));
    EXPECT_EQ(luma[1], std::make_pair(1, 3));
    EXPECT_EQ(luma[2], std::make_pair(-1, 4));
    EXPECT_EQ(f.Cur().cbp_bits, 1 << 6);
    f.dec.img.cbf_v_flag = 0;
    const auto dc = ReadPairs(f, 6, 5);
    ASSERT_EQ(dc.size(), 4u);
    EXPECT_EQ(dc[3], std::make_pair(14, 0));
    EXPECT_EQ(f.Cur().cbp_bits, (1 << 6) | (1 << 17));
    f.ExpectSameContexts();
}

TEST(CabacElements, RandomBlocksOfEveryType)
{
    std::mt19937 rng(3);
    for (int field = 0; field < 2; ++field) {
        Fixture f(kPictureI, 0, 20 + field);
        f.dec.img.structure = field ? kTopField : kFrame;
        f.dec.img.cbf_intra_flag = 1;
        f.Neighbours(false, false);
        const int types[5] = {0, 1, 5, 6, 7};
        std::vector<std::pair<int, std::vector<Coefficient>>> blocks;
        for (int n = 0; n < 300; ++n) {
            const int type = types[rng() % 5];
            const int first = type == 1 || type == 7 ? 1 : 0, end = type == 6 ? 4 : 16;
            std::vector<Coefficient> coefs;
            const int density = static_cast<int>(rng() % 100);
            for (int k = first; k < end; ++k)
                if (static_cast<int>(rng() % 100) < density) {
                    const int mag =
                        rng() % 3 ? 1 + static_cast<int>(rng() % 3) : 1 + static_cast<int>(rng() % 200);
                    coefs.push_back({k, rng() % 2 ? mag : -mag});
                }
            // Block (0,0) of a macroblock without neighbours: the flag contexts come from
            // cbf_intra_flag only, entry 3; the flags set in cbp_bits are cleared between blocks.
            WriteBlock(f, type, coefs, 3, field != 0);
            blocks.push_back({type, coefs});
        }
        f.Start();
        for (auto &b : blocks) {
            f.Cur().cbp_bits = 0;
            f.dec.img.subblock_x = f.dec.img.subblock_y = 0;
            f.dec.img.cbf_v_flag = 0;
            const int type = b.first;
            const int first = type == 1 || type == 7 ? 1 : 0;
            const auto pairs = ReadPairs(f, type, type == 6 ? 5 : 17);
            ASSERT_EQ(pairs.size(), b.second.size());
            int k = first - 1;
            for (size_t c = 0; c < pairs.size(); ++c) {
                k += pairs[c].second + 1;
                EXPECT_EQ(k, b.second[c].pos);
                EXPECT_EQ(pairs[c].first, b.second[c].level);
            }
        }
        f.ExpectSameContexts();
    }
}

} // namespace

} // namespace cabac_elements_test
