// The encoder's deblocking filter against the decoder's: random pictures with random modes, coded-block
// bits, quantisers, filter settings, references and vectors, set alike on both sides, come out byte for
// byte the same (and the fast filter equals its reference); and the worked cases: the averaged quantiser
// without rounding, strengths 1 and 0 at a vector difference of 4 and 3, SP edges, picture edges, a zero
// alpha and a macroblock that turns its own filtering off.
#include "h264dec/deblock.h"
#include "h264dec/macroblock.h"
#include "h264enc/enc_deblock.h"
#include "h264enc/enc_state.h"

#include <gtest/gtest.h>

#include <random>

namespace enc_deblock_test { // one namespace per test file: a folder compiles as one source

namespace {

namespace enc = h264enc;

int DecoderType(int t)
{
    return t == enc::kTypeI    ? kPictureI
           : t == enc::kTypeB  ? kPictureB
           : t == enc::kTypeSP ? kPictureSP
                               : kPictureP;
}

struct Bench
{
    int w, h; // in macroblocks
    enc::EncoderImage img;
    H264DecoderState dec;
    enc::Array2D<uint8_t> ey;
    enc::Array3D<uint8_t> euv;
    ::Array2D<uint8_t> dy;
    ::Array3D<uint8_t> duv;

    Bench(int w_mbs, int h_mbs, int type) : w(w_mbs), h(h_mbs)
    {
        img.width = 16 * w;
        img.height = 16 * h;
        img.type = type;
        img.mb_count = w * h;
        img.mb_data.assign(static_cast<size_t>(w * h), enc::MacroblockRecord());
        img.maps.allocate(4 * w, 4 * h);
        dec.img.width = 16 * w;
        dec.img.height = 16 * h;
        dec.img.width_cr = 8 * w;
        dec.img.type = DecoderType(type);
        dec_alloc_macroblock_arrays(dec, 16 * w, 16 * h);
        dec_start_picture_arrays(dec);
        ey.allocate(16 * h, 16 * w, "test");
        euv.allocate(2, 8 * h, 8 * w, "test");
        dec_get_mem2D(dy, 16 * h, 16 * w);
        dec_get_mem3D(duv, 2, 8 * h, 8 * w);
    }
    enc::MacroblockRecord &Enc(int i) { return img.mb_data[static_cast<size_t>(i)]; }
    DecoderMacroblock &Dec(int i) { return (*dec.img.mb_data)[static_cast<size_t>(i)]; }
    // Copies the encoder's records and maps to the decoder.
    void Sync()
    {
        for (int i = 0; i < w * h; ++i) {
            const enc::MacroblockRecord &e = Enc(i);
            DecoderMacroblock &d = Dec(i);
            d.mb_type = e.mb_mode;
            d.qp = e.qp;
            d.cbp_blocks = e.coded_block_bits;
            d.filter_disable_idc = e.lf_disable;
            d.filter_alpha_offset = e.lf_alpha_c0_offset;
            d.filter_beta_offset = e.lf_beta_offset;
        }
        const enc::MotionMaps &m = img.maps;
        for (int y = 0; y < 4 * h; ++y)
            for (int x = 0; x < 4 * w; ++x) {
                const size_t at = m.At(x, y);
                (*dec.img.ref_idx_arr)[y][x] = m.ref_map[at];
                (*dec.img.fwd_ref)[y][x] = m.fw_ref_map[at];
                (*dec.img.bwd_ref)[y][x] = m.bw_ref_map[at];
                for (int c = 0; c < 2; ++c) {
                    (*dec.img.mv)[x + 4][y][c] = m.mv_map[at][static_cast<size_t>(c)];
                    (*dec.img.fwd_mv)[x + 4][y][c] = m.fw_mv_map[at][static_cast<size_t>(c)];
                    (*dec.img.bwd_mv)[x + 4][y][c] = m.bw_mv_map[at][static_cast<size_t>(c)];
                }
            }
        for (int y = 0; y < 16 * h; ++y)
            for (int x = 0; x < 16 * w; ++x)
                dy[y][x] = ey[y][x];
        for (int c = 0; c < 2; ++c)
            for (int y = 0; y < 8 * h; ++y)
                for (int x = 0; x < 8 * w; ++x)
                    duv[c][y][x] = euv[c][y][x];
    }
    bool SamePlanes()
    {
        for (int y = 0; y < 16 * h; ++y)
            for (int x = 0; x < 16 * w; ++x)
                if (dy[y][x] != ey[y][x])
                    return false;
        for (int c = 0; c < 2; ++c)
            for (int y = 0; y < 8 * h; ++y)
                for (int x = 0; x < 8 * w; ++x)
                    if (duv[c][y][x] != euv[c][y][x])
                        return false;
        return true;
    }
};

// Blocky content: a smooth ramp per 4x4 block with a random step between blocks, so that the
// thresholds let some edges through and stop others.
void RandomPlanes(Bench &b, std::mt19937 &rng)
{
    auto fill = [&](auto &plane, int rows, int cols) {
        const int base = static_cast<int>(rng() % 200) + 20;
        std::vector<int> step(static_cast<size_t>((rows / 4 + 1) * (cols / 4 + 1)));
        for (int &s : step)
            s = static_cast<int>(rng() % 25) - 12;
        for (int y = 0; y < rows; ++y)
            for (int x = 0; x < cols; ++x) {
                const int v = base + step[static_cast<size_t>((y / 4) * (cols / 4 + 1) + x / 4)] +
                              static_cast<int>(rng() % 5) - 2;
                plane[y][x] = static_cast<uint8_t>(std::clamp(v, 0, 255));
            }
    };
    fill(b.ey, 16 * b.h, 16 * b.w);
    fill(b.euv[0], 8 * b.h, 8 * b.w);
    fill(b.euv[1], 8 * b.h, 8 * b.w);
}

void RandomPicture(Bench &b, std::mt19937 &rng)
{
    static const int modes[] = {0, 1, 2, 3, 8, 9, 10};
    for (int i = 0; i < b.w * b.h; ++i) {
        enc::MacroblockRecord &m = b.Enc(i);
        m.mb_mode = b.img.type == enc::kTypeI ? 9 + static_cast<int>(rng() % 2) : modes[rng() % 7];
        m.qp = static_cast<int>(rng() % 52);
        m.coded_block_bits = rng() % 3 == 0 ? 0 : static_cast<int>(rng() & 0xFFFFFF);
        m.lf_disable = rng() % 10 == 0 ? 1 : 0;
        m.lf_alpha_c0_offset = 2 * (static_cast<int>(rng() % 13) - 6);
        m.lf_beta_offset = 2 * (static_cast<int>(rng() % 13) - 6);
    }
    enc::MotionMaps &m = b.img.maps;
    auto vec = [&]() {
        return std::array<int, 2>{static_cast<int>(rng() % 11) - 5, static_cast<int>(rng() % 11) - 5};
    };
    for (size_t at = 0; at < m.ref_map.size(); ++at) {
        m.ref_map[at] = static_cast<int>(rng() % 3) - (rng() % 5 == 0 ? 1 : 0);
        m.fw_ref_map[at] = static_cast<int>(rng() % 3) - 1;
        m.bw_ref_map[at] = static_cast<int>(rng() % 2) - 1;
        m.mv_map[at] = rng() % 2 ? vec() : std::array<int, 2>{0, 0};
        m.fw_mv_map[at] = rng() % 2 ? vec() : std::array<int, 2>{0, 0};
        m.bw_mv_map[at] = rng() % 2 ? vec() : std::array<int, 2>{0, 0};
    }
    RandomPlanes(b, rng);
    b.Sync();
}

TEST(EncDeblock, RandomPicturesFilterLikeTheDecoder)
{
    std::mt19937 rng(9);
    for (int trial = 0; trial < 300; ++trial) {
        const int type = std::array<int, 4>{enc::kTypeI, enc::kTypeP, enc::kTypeB, enc::kTypeSP}[trial % 4];
        Bench b(1 + static_cast<int>(rng() % 5), 1 + static_cast<int>(rng() % 4), type);
        RandomPicture(b, rng);
        enc::Array2D<uint8_t> refY = b.ey;
        enc::Array3D<uint8_t> refUv = b.euv;
        enc::deblock_picture(b.img, b.ey, &b.euv);
        dec_deblock_picture(b.dec.img, b.dy, &b.duv);
        ASSERT_TRUE(b.SamePlanes()) << "trial " << trial << " type " << type;
        // The sample-by-sample reference filter gives the same picture.
        enc::deblock_picture_reference(b.img, refY, &refUv);
        ASSERT_TRUE(std::equal(refY.data(), refY.data() + refY.rows() * refY.cols(), b.ey.data())) << trial;
        for (int c = 0; c < 2; ++c)
            ASSERT_TRUE(std::equal(refUv[c].data(), refUv[c].data() + refUv[c].rows() * refUv[c].cols(),
                                   b.euv[c].data()))
                << trial;
    }
}

// Strengths of the vertical macroblock edge between macroblocks 0 and 1 of a 2x1 P picture.
struct EdgeCase
{
    Bench b{2, 1, enc::kTypeP};
    int s[4] = {};
    void Strengths(int dir = 0, int edge = 0)
    {
        enc::edge_strength(s, b.img, edge == 0 ? b.Enc(0) : b.Enc(1), b.Enc(1), dir, edge, 0, 4);
    }
};

TEST(EncDeblock, VectorDifferenceOfFourGivesStrengthOneAndThreeGivesNone)
{
    EdgeCase e;
    for (int m : {0, 1})
        e.b.Enc(m).mb_mode = enc::kMode16x16;
    enc::MotionMaps &maps = e.b.img.maps;
    for (size_t at = 0; at < maps.ref_map.size(); ++at)
        maps.ref_map[at] = 0;
    maps.mv_map[maps.At(4, 0)] = {4, 0}; // left of it, block (3, 0), has (0, 0)
    maps.mv_map[maps.At(4, 1)] = {0, -3};
    maps.mv_map[maps.At(4, 2)] = {-3, 3};
    maps.ref_map[maps.At(4, 3)] = 1;
    e.Strengths();
    EXPECT_EQ(e.s[0], 1);
    EXPECT_EQ(e.s[1], 0);
    EXPECT_EQ(e.s[2], 0);
    EXPECT_EQ(e.s[3], 1);
    // Coefficients on either side give 2; an intra side gives 4 at the macroblock edge, 3 inside.
    e.b.Enc(0).coded_block_bits = 1 << 7; // block (3, 1) of the left macroblock
    e.Strengths();
    EXPECT_EQ(e.s[1], 2);
    e.b.Enc(1).mb_mode = enc::kModeI16;
    e.Strengths();
    EXPECT_EQ(e.s[0], 4);
    e.Strengths(1, 2);
    EXPECT_EQ(e.s[0], 3);
}

TEST(EncDeblock, SpPicturesGiveIntraStrengthsEverywhere)
{
    EdgeCase e;
    e.b.img.type = enc::kTypeP;
    e.b.img.sp_mode = enc::kSpMode;
    for (int m : {0, 1})
        e.b.Enc(m).mb_mode = enc::kModeSkip;
    e.Strengths();
    EXPECT_EQ(std::vector<int>(e.s, e.s + 4), (std::vector<int>{4, 4, 4, 4}));
    e.Strengths(0, 1);
    EXPECT_EQ(std::vector<int>(e.s, e.s + 4), (std::vector<int>{3, 3, 3, 3}));
}

// A 2x2 picture of intra macroblocks with a step of 6 at every 4x4 block edge.
void StepPicture(Bench &b)
{
    for (int i = 0; i < 4; ++i) {
        b.Enc(i).mb_mode = enc::kModeI4;
        b.Enc(i).qp = 40;
    }
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            b.ey[y][x] = static_cast<uint8_t>(100 + 6 * (((x / 4) + (y / 4)) % 2));
    for (int c = 0; c < 2; ++c)
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                b.euv[c][y][x] = 128;
}

TEST(EncDeblock, PictureEdgesStayAndMacroblockEdgesAreFiltered)
{
    // Flat macroblocks of different levels: the inner edges see no step, the macroblock edges do. A
    // filtered picture edge would mix in the samples of the row or column across the picture.
    Bench b(2, 2, enc::kTypeI);
    StepPicture(b);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            b.ey[y][x] = static_cast<uint8_t>(100 + 6 * ((x / 16) + 2 * (y / 16)));
    const enc::Array2D<uint8_t> before = b.ey;
    enc::deblock_picture(b.img, b.ey, &b.euv);
    for (int y = 0; y < 13; ++y)
        for (int x = 0; x < 13; ++x)
            EXPECT_EQ(b.ey[y][x], before[y][x]) << y << "," << x;
    for (int y = 0; y < 13; ++y)
        EXPECT_NE(b.ey[y][15], before[y][15]) << y;
    for (int x = 0; x < 13; ++x)
        EXPECT_NE(b.ey[15][x], before[15][x]) << x;
}

TEST(EncDeblock, QuantiserAverageRoundsDownAndZeroAlphaFiltersNothing)
{
    // qp 27 and 28 filter their shared edge with 27, so it equals a filter call at 27, not at 28.
    Bench b(2, 2, enc::kTypeI);
    StepPicture(b);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            b.ey[y][x] = static_cast<uint8_t>(100 + 6 * (x / 16)); // only the macroblock edge has a step
    b.Enc(0).qp = 27;
    b.Enc(1).qp = 28;
    b.Enc(0).mb_mode = b.Enc(1).mb_mode = enc::kModeI16;
    enc::Array2D<uint8_t> at27 = b.ey, at28 = b.ey;
    const int s[4] = {4, 4, 4, 4};
    enc::edge_filter(&at27[0][16], s, 27, 0, 0, 0, 32, false);
    enc::edge_filter(&at28[0][16], s, 28, 0, 0, 0, 32, false);
    enc::deblock_macroblock(b.img, b.ey, nullptr, 0, 1);
    for (int y = 0; y < 16; ++y)
        for (int x = 12; x < 20; ++x) {
            EXPECT_EQ(b.ey[y][x], at27[y][x]) << y << "," << x;
        }
    bool differs = false;
    for (int y = 0; y < 16; ++y)
        for (int x = 12; x < 20; ++x)
            differs = differs || at27[y][x] != at28[y][x];
    EXPECT_TRUE(differs);

    // qp average 15 with offsets 0: alpha is 0 and nothing changes.
    Bench z(2, 2, enc::kTypeI);
    StepPicture(z);
    for (int i = 0; i < 4; ++i)
        z.Enc(i).qp = 15;
    const enc::Array2D<uint8_t> before = z.ey;
    enc::deblock_picture(z.img, z.ey, &z.euv);
    EXPECT_TRUE(std::equal(before.data(), before.data() + 32 * 32, z.ey.data()));
}

TEST(EncDeblock, DisabledMacroblockKeepsItsEdgesButItsRightNeighbourFiltersTheSharedOne)
{
    Bench b(2, 2, enc::kTypeI);
    StepPicture(b);
    b.Enc(0).lf_disable = 1;
    const enc::Array2D<uint8_t> before = b.ey;
    enc::deblock_picture(b.img, b.ey, nullptr);
    // Macroblock 0's inner edge at x = 4 is untouched; the edge at x = 16 belongs to macroblock 1.
    for (int y = 0; y < 12; ++y) {
        EXPECT_EQ(b.ey[y][3], before[y][3]) << y;
        EXPECT_EQ(b.ey[y][4], before[y][4]) << y;
        EXPECT_NE(b.ey[y][16], before[y][16]) << y;
    }
}

} // namespace

} // namespace enc_deblock_test
