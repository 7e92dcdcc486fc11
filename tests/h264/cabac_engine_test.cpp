// The arithmetic decoding engine and the context initialisation: the decoder against a test-side
// encoder written from the standard's encoding procedure, the worked start-up and state cases, the
// published state tables, and the regrouping of the published (m, n) pairs (checked entry by entry
// in cabac_init_tables_test) into the context sets.
#include "h264/support/cabac_writer.h"
#include "h264dec/cabac_engine.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace cabac_engine_test { // one namespace per test file: a folder compiles as one source

namespace {

struct Engine
{
    std::vector<uint8_t> bytes;
    int position = 0;
    CabacDecoder dec;
    explicit Engine(std::vector<uint8_t> b, int first = 0) : bytes(std::move(b))
    {
        cabac_start_decoding(&dec, bytes.data(), static_cast<int>(bytes.size()), first, &position);
    }
};

CabacContext Init(int m, int n, int qp)
{
    CabacContext c;
    cabac_init_context(&c, qp, {m, n});
    return c;
}

TEST(CabacEngine, StartReadsNineBits)
{
    Engine e({0x12, 0x34, 0x56});
    EXPECT_EQ(e.dec.value, 36u); // 0001 0010 0
    EXPECT_EQ(e.dec.range, 510u);
    EXPECT_EQ(e.dec.bits_left, 7); // seven bits of 0x34 left
    EXPECT_EQ(e.position, 2);
}

TEST(CabacEngine, StartsAtTheGivenByteAndSharesThePosition)
{
    Engine e({0xFF, 0xFF, 0x12, 0x34}, 2);
    EXPECT_EQ(e.dec.value, 36u);
    EXPECT_EQ(e.position, 4);
    const int before = cabac_bits_read(&e.dec);
    cabac_decode_bypass(&e.dec);
    EXPECT_EQ(cabac_bits_read(&e.dec) - before, 1);
}

TEST(CabacEngine, InitialStatesOfTheWorkedPairs)
{
    const CabacContext a = Init(0, 64, 26);
    EXPECT_EQ(a.state, 0);
    EXPECT_EQ(a.mps, 1);
    const CabacContext b = Init(0, 41, 26);
    EXPECT_EQ(b.state, 22);
    EXPECT_EQ(b.mps, 0);
    const CabacContext c = Init(20, -15, 26); // s = (520 >> 4) - 15 = 17
    EXPECT_EQ(c.state, 46);
    EXPECT_EQ(c.mps, 0);
    // Clipping to 1..126 at both ends; the shift is arithmetic for negative products.
    EXPECT_EQ(Init(0, 127, 0).state, 62);
    EXPECT_EQ(Init(0, 0, 0).state, 62);
    EXPECT_EQ(Init(0, 0, 0).mps, 0);
    const CabacContext d = Init(-1, 64, 1); // (-1 >> 4) = -1: s = 63
    EXPECT_EQ(d.state, 0);
    EXPECT_EQ(d.mps, 0);
}

TEST(CabacEngine, LpsInStateZeroFlipsTheMps)
{
    // Value just below the range: whatever the state, the top of the interval is the LPS.
    Engine e({0xFF, 0xFF, 0xFF, 0xFF});
    CabacContext ctx = Init(0, 64, 26); // state 0, MPS 1
    EXPECT_EQ(cabac_decode_symbol(&e.dec, &ctx), 0);
    EXPECT_EQ(ctx.state, 0);
    EXPECT_EQ(ctx.mps, 0);
}

TEST(CabacEngine, FinalBinAtRangeMinusTwoReadsNothing)
{
    Engine e({0xFF, 0x00, 0x00});
    e.dec.value = e.dec.range - 2;
    const int pos = e.position, left = e.dec.bits_left;
    EXPECT_EQ(cabac_decode_final(&e.dec), 1);
    EXPECT_EQ(e.position, pos);
    EXPECT_EQ(e.dec.bits_left, left);
    EXPECT_EQ(e.dec.range, 508u);
}

TEST(CabacEngine, ReadsPastTheSliceGiveZeros)
{
    Engine e({0xFF});
    EXPECT_EQ(e.dec.value, 0x1FEu);
    for (int i = 0; i < 64; ++i)
        cabac_decode_bypass(&e.dec);
    EXPECT_GT(e.position, 1); // counted on, never read
}

TEST(CabacEngine, DecodesWhatTheEncoderWrote)
{
    std::mt19937 rng(7);
    for (int round = 0; round < 4; ++round) {
        const int kBins = 100000 / 4;
        std::vector<CabacContext> encCtx(40), decCtx(40);
        for (size_t i = 0; i < encCtx.size(); ++i) {
            const int m = static_cast<int>(rng() % 80) - 40, n = static_cast<int>(rng() % 160) - 16;
            encCtx[i] = decCtx[i] = Init(m, n, static_cast<int>(rng() % 52));
        }
        struct Bin
        {
            int kind, ctx, value;
        };
        std::vector<Bin> bins;
        // Skewed sources per context, so that states travel the whole table in both directions.
        std::vector<double> p1(encCtx.size());
        for (auto &p : p1)
            p = std::uniform_real_distribution<double>(0.0, 1.0)(rng);
        for (int i = 0; i < kBins; ++i) {
            const int kind = static_cast<int>(rng() % 20); // 0..15 context, 16..18 bypass, 19 final 0
            const int ctx = static_cast<int>(rng() % encCtx.size());
            int value = std::bernoulli_distribution(p1[static_cast<size_t>(ctx)])(rng) ? 1 : 0;
            if (kind >= 16 && kind < 19)
                value = static_cast<int>(rng() & 1);
            if (kind == 19)
                value = 0;
            bins.push_back({kind, ctx, value});
        }
        h264test::BitWriter w;
        h264test::CabacWriter enc(w);
        for (const Bin &b : bins) {
            if (b.kind < 16)
                enc.Symbol(encCtx[static_cast<size_t>(b.ctx)], b.value);
            else if (b.kind < 19)
                enc.Bypass(b.value);
            else
                enc.Final(0);
        }
        enc.Final(1);
        Engine e(w.Bytes());
        for (size_t i = 0; i < bins.size(); ++i) {
            const Bin &b = bins[i];
            int got;
            if (b.kind < 16)
                got = cabac_decode_symbol(&e.dec, &decCtx[static_cast<size_t>(b.ctx)]);
            else if (b.kind < 19)
                got = cabac_decode_bypass(&e.dec);
            else
                got = cabac_decode_final(&e.dec);
            ASSERT_EQ(got, b.value) << "round " << round << " bin " << i;
        }
        EXPECT_EQ(cabac_decode_final(&e.dec), 1);
        for (size_t i = 0; i < encCtx.size(); ++i) {
            EXPECT_EQ(encCtx[i].state, decCtx[i].state);
            EXPECT_EQ(encCtx[i].mps, decCtx[i].mps);
        }
        // The flush ends the data: everything the decoder needed lies inside the bytes written.
        EXPECT_LE(e.position, static_cast<int>(w.Bytes().size()) + 1);
    }
}

TEST(CabacTables, StateMachineEqualsThePublishedTables)
{
    const uint8_t row0[4] = {128, 176, 208, 240}, row63[4] = {2, 2, 2, 2}, row12[4] = {77, 94, 111, 128},
                  row40[4] = {18, 22, 26, 30};
    for (int q = 0; q < 4; ++q) {
        EXPECT_EQ(kRangeTabLPS[0][q], row0[q]);
        EXPECT_EQ(kRangeTabLPS[12][q], row12[q]);
        EXPECT_EQ(kRangeTabLPS[40][q], row40[q]);
        EXPECT_EQ(kRangeTabLPS[63][q], row63[q]);
    }
    // Each row grows with the range quarter, and each column shrinks with the state.
    for (int s = 0; s < 63; ++s)
        for (int q = 0; q < 4; ++q) {
            if (q < 3) {
                EXPECT_LE(kRangeTabLPS[s][q], kRangeTabLPS[s][q + 1]) << s;
            }
            if (s < 62) {
                EXPECT_GE(kRangeTabLPS[s][q], kRangeTabLPS[s + 1][q]) << s;
            }
        }
    const uint8_t lps[64] = {0,  0,  1,  2,  2,  4,  4,  5,  6,  7,  8,  9,  9,  11, 11, 12,
                             13, 13, 15, 15, 16, 16, 18, 18, 19, 19, 21, 21, 22, 22, 23, 24,
                             24, 25, 26, 26, 27, 27, 28, 29, 29, 30, 30, 30, 31, 32, 32, 33,
                             33, 33, 34, 34, 35, 35, 35, 36, 36, 36, 37, 37, 37, 38, 38, 63};
    for (int s = 0; s < 64; ++s) {
        EXPECT_EQ(kTransIdxLPS[s], lps[s]) << s;
        EXPECT_EQ(kTransIdxMPS[s], s < 62 ? s + 1 : s) << s;
    }
}

// The grouping rule of the context sets, written as (flat entry offset, first index, count, mirrored)
// runs over the two records. Everything not covered holds (0, 64).
struct LayoutRun
{
    int offset, ctx, count;
    bool mirrored;
    bool pb_only;
};

constexpr int kMb = 0, kB8 = 44, kMv = 62, kRef = 82, kDq = 94, kAff = 98; // MotionInfo groups
const LayoutRun kMotionRuns[] = {
    {kMb + 0, 3, 3, false, false},  {kMb + 4, 6, 5, false, false},  {kMb + 11, 11, 3, true, true},
    {kMb + 15, 14, 7, false, true}, {kMb + 22, 27, 3, false, true}, {kMb + 26, 30, 3, false, true},
    {kMb + 29, 24, 3, true, true},  {kB8 + 1, 21, 1, false, true},  {kB8 + 3, 22, 2, false, true},
    {kB8 + 9, 36, 4, false, true},  {kMv + 0, 40, 1, false, true},  {kMv + 2, 41, 2, false, true},
    {kMv + 5, 47, 1, false, true},  {kMv + 7, 48, 2, false, true},  {kMv + 10, 43, 4, false, true},
    {kMv + 15, 50, 4, false, true}, {kRef + 0, 54, 6, false, true}, {kDq, 60, 4, false, false},
    {kAff, 70, 3, false, false},
};
constexpr int kIpr = 0, kCipr = 2, kCbp = 6, kBcbp = 18, kMap = 50, kLast = 170, kOne = 290, kAbs = 330,
              kFldMap = 370, kFldLast = 490; // TextureInfo groups
const LayoutRun kTextureRuns[] = {
    {kIpr, 68, 1, true, false},        {kIpr + 1, 69, 1, false, false},   {kCipr, 64, 4, false, false},
    {kCbp, 73, 12, false, false},      {kBcbp + 0, 85, 4, false, false},  {kBcbp + 4, 89, 4, false, false},
    {kBcbp + 16, 93, 4, false, false}, {kBcbp + 20, 97, 4, false, false}, {kBcbp + 24, 101, 4, false, false},
    {kOne + 0, 227, 5, false, false},  {kAbs + 0, 232, 5, false, false},  {kOne + 5, 237, 5, false, false},
    {kAbs + 5, 242, 5, false, false},  {kOne + 20, 247, 5, false, false}, {kAbs + 20, 252, 5, false, false},
    {kOne + 25, 257, 5, false, false}, {kAbs + 25, 262, 4, false, false}, {kOne + 30, 266, 5, false, false},
    {kAbs + 30, 271, 5, false, false},
};

void AddMapRuns(std::vector<LayoutRun> &runs, int group, int first)
{
    // Rows 0 and 5 from entry 0 (16 positions), rows 1 and 7 from entry 1 (AC), row 6 three entries.
    runs.push_back({group + 0 * 15 + 0, first, 15, false, false});
    runs.push_back({group + 1 * 15 + 1, first + 15, 14, false, false});
    runs.push_back({group + 5 * 15 + 0, first + 29, 15, false, false});
    runs.push_back({group + 6 * 15 + 0, first + 44, 3, false, false});
    runs.push_back({group + 7 * 15 + 1, first + 47, 14, false, false});
}

template <class Init>
void CheckGrouping(const Init &table, const std::vector<LayoutRun> &runs, const CabacInitPair *column,
                   bool islice, const char *what, int model)
{
    const int n = static_cast<int>(sizeof(Init) / sizeof(CabacInitPair));
    std::vector<CabacInitPair> expected(static_cast<size_t>(n));
    for (const LayoutRun &r : runs) {
        if (islice && r.pb_only)
            continue;
        for (int k = 0; k < r.count; ++k) {
            CabacInitPair p = column[r.ctx + k];
            if (r.mirrored)
                p = {-p.m, 127 - p.n};
            expected[static_cast<size_t>(r.offset + k)] = p;
        }
    }
    if (islice && std::string(what) == "motion") // the I macroblock-type row 1 carries indices 0..10
        for (int k = 0; k < 11; ++k)
            expected[static_cast<size_t>(11 + k)] = column[k];
    const auto *got = reinterpret_cast<const CabacInitPair *>(&table);
    for (int i = 0; i < n; ++i) {
        EXPECT_EQ(got[i].m, expected[static_cast<size_t>(i)].m)
            << what << " model " << model << " entry " << i;
        EXPECT_EQ(got[i].n, expected[static_cast<size_t>(i)].n)
            << what << " model " << model << " entry " << i;
    }
}

TEST(CabacTables, GroupedTablesFollowTheElementLayout)
{
    const std::vector<LayoutRun> motion(std::begin(kMotionRuns), std::end(kMotionRuns));
    std::vector<LayoutRun> texture(std::begin(kTextureRuns), std::end(kTextureRuns));
    AddMapRuns(texture, kMap, 105);
    AddMapRuns(texture, kLast, 166);
    AddMapRuns(texture, kFldMap, 277);
    AddMapRuns(texture, kFldLast, 338);
    CheckGrouping(CabacMotionInitI(), motion, kCabacInitNumberedI, true, "motion", -1);
    CheckGrouping(CabacTextureInitI(), texture, kCabacInitNumberedI, true, "texture", -1);
    for (int m = 0; m < 3; ++m) {
        CheckGrouping(CabacMotionInitModel(m), motion, kCabacInitNumberedPB[m], false, "motion", m);
        CheckGrouping(CabacTextureInitModel(m), texture, kCabacInitNumberedPB[m], false, "texture", m);
    }
    // The mirrored skip entry of model 0: (23, 33) becomes (-23, 94).
    EXPECT_EQ(CabacMotionInitModel(0).mb_type[1][0].m, -23);
    EXPECT_EQ(CabacMotionInitModel(0).mb_type[1][0].n, 94);
    EXPECT_EQ(CabacTextureInitI().ipr[0].m, -13);
    EXPECT_EQ(CabacTextureInitI().ipr[0].n, 86);
}

TEST(CabacTables, SliceInitialisationSkipsTheUnusedRow)
{
    MotionInfo *mi = dec_create_contexts_MotionInfo();
    TextureInfo *ti = dec_create_contexts_TextureInfo();
    mi->mb_type_contexts[3][5].state = 33;
    cabac_init_motion_contexts(mi, false, 1, 30);
    cabac_init_texture_contexts(ti, false, 1, 30);
    EXPECT_EQ(mi->mb_type_contexts[3][5].state, 33);
    CabacContext want;
    cabac_init_context(&want, 30, CabacMotionInitModel(1).mv_res[1][6]);
    EXPECT_EQ(mi->mv_res_contexts[1][6].state, want.state);
    cabac_init_context(&want, 30, CabacTextureInitModel(1).fld_last[7][14]);
    EXPECT_EQ(ti->fld_last_contexts[7][14].state, want.state);
    EXPECT_EQ(ti->fld_last_contexts[7][14].mps, want.mps);
    release_cabac_contexts(mi);
    release_cabac_contexts(ti);
    release_cabac_contexts(static_cast<MotionInfo *>(nullptr));
}

} // namespace

} // namespace cabac_engine_test
