// CABAC element writers against the decoder's element readers: random values of every element in I,
// P and B pictures, with random neighbourhoods (present or missing neighbours, their modes, patterns,
// coded-block flags, quantiser changes, chroma modes, vector differences and reference indices), read
// back to the same values with the same context states on both sides; and the worked cases with their
// bins spelled out.
#include "h264enc/support/cabac_fixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>

namespace enc_cabac_elements_test { // one namespace per test file: a folder compiles as one source

namespace {

namespace enc = h264enc;
using enctest::CabacBench;

enum ElementKind { kSkip, kType, kSub, kIntra, kChroma, kRefFwd, kRefBwd, kMvd, kDquant, kCbp, kBlock };

struct Element
{
    ElementKind kind = kSkip;
    int value = 0, second = 0, context = 0;
    int x = 0, y = 0, plane = 0;
    std::vector<std::pair<int, int>> pairs; // blocks: (level, run), without the closing pair
};

int RandomLevel(std::mt19937 &rng)
{
    const unsigned r = rng() % 100;
    const int mag = r < 60   ? 1
                    : r < 90 ? 2 + static_cast<int>(rng() % 14)
                             : 16 + static_cast<int>(rng() % 3000);
    return rng() & 1 ? mag : -mag;
}

Element RandomBlock(std::mt19937 &rng)
{
    static const int kinds[5] = {enc::kKindLuma16DC, enc::kKindLuma16AC, enc::kKindLuma4x4,
                                 enc::kKindChromaDC, enc::kKindChromaAC};
    Element e;
    e.kind = kBlock;
    e.context = kinds[rng() % 5];
    const int positions = enc::kCabacBlockKinds[e.context].positions;
    if (e.context == enc::kKindChromaAC) {
        e.x = static_cast<int>(rng() % 2);
        e.y = static_cast<int>(rng() % 2);
    } else if (e.context == enc::kKindLuma16AC || e.context == enc::kKindLuma4x4) {
        e.x = static_cast<int>(rng() % 4);
        e.y = static_cast<int>(rng() % 4);
    }
    e.plane = static_cast<int>(rng() % 2);
    const int density = static_cast<int>(rng() % 101);
    int run = 0;
    for (int p = 0; p < positions; ++p) {
        if (static_cast<int>(rng() % 100) < density) {
            e.pairs.push_back({RandomLevel(rng), run});
            run = 0;
        } else {
            ++run;
        }
    }
    return e;
}

Element RandomElement(std::mt19937 &rng, int type)
{
    const bool isB = type == enc::kTypeB;
    for (;;) {
        Element e;
        e.kind = static_cast<ElementKind>(rng() % 11);
        e.x = static_cast<int>(rng() % 4);
        e.y = static_cast<int>(rng() % 4);
        switch (e.kind) {
        case kSkip:
            if (type == enc::kTypeI)
                continue;
            e.value = static_cast<int>(rng() % 3);
            e.second = isB ? static_cast<int>(rng() % 2) * 16 : 0;
            return e;
        case kType:
            if (type == enc::kTypeI)
                e.value = static_cast<int>(rng() % 25);
            else if (isB)
                e.value = static_cast<int>(rng() % 48);
            else
                e.value = 1 + static_cast<int>(rng() % 30);
            return e;
        case kSub:
            if (type == enc::kTypeI)
                continue;
            e.value = static_cast<int>(rng() % (isB ? 13 : 4));
            return e;
        case kIntra:
            e.value = static_cast<int>(rng() % 9) - 1;
            return e;
        case kChroma:
            e.value = static_cast<int>(rng() % 4);
            return e;
        case kRefFwd:
        case kRefBwd:
            if (type == enc::kTypeI || (e.kind == kRefBwd && !isB))
                continue;
            e.value = rng() % 4 == 0 ? static_cast<int>(rng() % 16) : static_cast<int>(rng() % 3);
            return e;
        case kMvd: {
            if (type == enc::kTypeI)
                continue;
            const unsigned r = rng() % 10;
            e.value = r < 3   ? 0
                      : r < 7 ? static_cast<int>(rng() % 17) - 8
                              : static_cast<int>(rng() % 4001) - 2000;
            e.second = isB ? static_cast<int>(rng() % 4) : static_cast<int>(rng() % 2);
            return e;
        }
        case kDquant:
            e.value = static_cast<int>(rng() % 52) - 26;
            return e;
        case kCbp:
            e.value = static_cast<int>(rng() % 48);
            return e;
        case kBlock:
            return RandomBlock(rng);
        }
    }
}

void RandomNeighbourhood(CabacBench &b, std::mt19937 &rng)
{
    b.Neighbours(rng() % 4 != 0, rng() % 4 != 0);
    static const int modes[] = {0, 1, 2, 3, 8, 9, 10};
    for (int i = 1; i <= 3; ++i) {
        enc::MacroblockRecord &m = b.EncMb(i);
        m.mb_mode = b.img.type == enc::kTypeI ? (rng() % 2 ? 9 : 10) : modes[rng() % 7];
        m.coded_pattern = static_cast<int>(rng() % 48);
        m.cbf_bits = static_cast<int>(rng() & 0x7FFFFFFF);
        m.qp_delta = rng() % 3 ? 0 : static_cast<int>(rng() % 5) - 2;
        m.chroma_pred_mode = static_cast<int>(rng() % 4);
        for (int l = 0; l < 2; ++l)
            for (int y = 0; y < 4; ++y)
                for (int x = 0; x < 4; ++x)
                    for (int c = 0; c < 2; ++c)
                        m.mv_diff[l][y][x][c] =
                            rng() % 3 ? static_cast<int>(rng() % 9) - 4 : static_cast<int>(rng() % 81) - 40;
    }
    b.img.stored_b_ref = b.img.type == enc::kTypeB ? static_cast<int>(rng() % 2) : 0;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            for (int list = 0; list < 3; ++list)
                b.SetRef(list, x, y, static_cast<int>(rng() % 5) - 1);
    b.SyncRecords();
}

void WriteElement(CabacBench &b, Element &e)
{
    b.Block(e.x, e.y, e.plane);
    const bool isB = b.img.type == enc::kTypeB;
    switch (e.kind) {
    case kSkip:
        b.Write(enc::cabac_write_skip_flag, e.value, e.second);
        break;
    case kType:
        b.Write(enc::writeMB_typeInfo2Buffer_CABAC, e.value);
        break;
    case kSub:
        b.Write(enc::cabac_write_sub_type, e.value);
        break;
    case kIntra:
        b.Write(enc::cabac_write_intra_mode, e.value);
        break;
    case kChroma:
        b.Write(enc::cabac_write_chroma_mode, e.value);
        break;
    case kRefFwd:
        b.Write(enc::cabac_write_ref_fwd, e.value);
        break;
    case kRefBwd:
        b.Write(enc::cabac_write_ref_bwd, e.value);
        break;
    case kMvd:
        b.Write(isB ? enc::cabac_write_mvd_bi : enc::cabac_write_mvd, e.value, e.second);
        break;
    case kDquant:
        b.Write(enc::cabac_write_dquant, e.value);
        break;
    case kCbp:
        b.Write(enc::cabac_write_cbp, e.value);
        break;
    case kBlock:
        for (const auto &p : e.pairs)
            b.Write(enc::cabac_write_run_level, p.first, p.second, e.context);
        b.Write(enc::cabac_write_run_level, 0, 0, e.context);
        break;
    }
}

// Reads the element back; returns "" when it matches, else what differs.
std::string ReadAndCompare(CabacBench &b, const Element &e)
{
    b.Block(e.x, e.y, e.plane);
    const bool isB = b.img.type == enc::kTypeB;
    auto expect = [](int got, int want) {
        return got == want ? std::string() : "got " + std::to_string(got) + " want " + std::to_string(want);
    };
    switch (e.kind) {
    case kSkip:
        return expect(b.Read(cabac_read_skip_flag).value1, e.value != 0 || e.second != 0 ? 1 : 0);
    case kType: {
        const int want = !isB && b.img.type != enc::kTypeI && e.value == 5 ? 4 : e.value;
        return expect(b.Read(cabac_read_mb_type).value1, want);
    }
    case kSub:
        return expect(b.Read(cabac_read_sub_mb_type).value1, e.value);
    case kIntra:
        return expect(b.Read(cabac_read_intra_mode).value1, e.value);
    case kChroma:
        return expect(b.Read(cabac_read_chroma_mode).value1, e.value);
    case kRefFwd:
        return expect(b.Read(cabac_read_ref_fwd).value1, e.value);
    case kRefBwd:
        return expect(b.Read(cabac_read_ref_bwd).value1, e.value);
    case kMvd:
        return expect(b.Read(isB ? cabac_read_mvd_b : cabac_read_mvd, e.second).value1, e.value);
    case kDquant:
        return expect(b.Read(cabac_read_qp_delta).value1, e.value);
    case kCbp:
        return expect(b.Read(cabac_read_cbp).value1, e.value);
    case kBlock: {
        std::vector<std::pair<int, int>> got;
        for (int k = 0; k < 70; ++k) {
            const SyntaxSymbol s = b.Read(cabac_read_run_level, 0, e.context);
            if (s.value1 == 0)
                break;
            got.push_back({s.value1, s.value2});
        }
        if (got != e.pairs)
            return "block of kind " + std::to_string(e.context) + " differs";
        return {};
    }
    }
    return "unknown";
}

TEST(CabacElements, RandomElementsAndNeighbourhoodsReadBackInTheDecoder)
{
    std::mt19937 rng(2024);
    for (int type : {enc::kTypeI, enc::kTypeP, enc::kTypeB}) {
        for (int trial = 0; trial < 700; ++trial) {
            const int model = static_cast<int>(rng() % 3);
            const int qp = static_cast<int>(rng() % 52);
            CabacBench b(type, model, qp);
            RandomNeighbourhood(b, rng);
            std::vector<Element> elements;
            const int n = 1 + static_cast<int>(rng() % 8);
            for (int i = 0; i < n; ++i) {
                elements.push_back(RandomElement(rng, type));
                WriteElement(b, elements.back());
            }
            b.Start();
            for (size_t i = 0; i < elements.size(); ++i) {
                const std::string diff = ReadAndCompare(b, elements[i]);
                ASSERT_EQ(diff, "") << "type " << type << " trial " << trial << " element " << i << " kind "
                                    << elements[i].kind << " value " << elements[i].value;
            }
            ASSERT_TRUE(b.SameContexts()) << "type " << type << " trial " << trial;
        }
    }
}

// The bins a writer must produce, coded through the raw engine on a copy of the start contexts; the
// bytes and the final contexts must equal the writer's.
struct Expected
{
    enc::MotionContextSet mc;
    enc::TextureContextSet tc;
    std::vector<uint8_t> buffer;
    int pos = 0;
    enc::CabacEncEnv env;
    explicit Expected(const CabacBench &b) : mc(*b.slice.motion), tc(*b.slice.texture)
    {
        enc::cabac_enc_start(&env, &buffer, &pos);
    }
    void Bin(enc::CabacEncContext &c, int bin) { enc::cabac_enc_symbol(&env, bin, &c); }
    void Bypass(int bin) { enc::cabac_enc_bypass(&env, bin); }
    // Finishes both and compares.
    void Check(CabacBench &b)
    {
        EXPECT_EQ(enc::cabac_enc_bits_written(&env), enc::cabac_enc_bits_written(&b.part.cabac));
        enc::cabac_enc_finish(&env, 0, nullptr);
        enc::cabac_enc_finish(&b.part.cabac, 0, nullptr);
        ASSERT_EQ(pos, b.part.bitstream.byte_count);
        EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + pos, b.part.bitstream.StreamBuffer.begin()));
        EXPECT_EQ(std::memcmp(&mc, b.slice.motion.get(), sizeof mc), 0);
        EXPECT_EQ(std::memcmp(&tc, b.slice.texture.get(), sizeof tc), 0);
    }
};

TEST(CabacElements, SkippedAndDirectMacroblockBins)
{
    {
        CabacBench b(enc::kTypeP, 0, 28);
        b.Neighbours(false, false);
        Expected x(b);
        b.Write(enc::cabac_write_skip_flag, 0); // skipped P: one bin 0
        x.Bin(x.mc.type[1][0], 0);
        x.Check(b);
    }
    {
        CabacBench b(enc::kTypeB, 1, 28);
        b.Neighbours(true, false);
        b.EncMb(1).mb_mode = 0;
        b.EncMb(1).coded_pattern = 16; // a direct neighbour with coefficients counts
        Expected x(b);
        b.Write(enc::cabac_write_skip_flag, 0, 0); // direct without coefficients: bin 0
        b.Write(enc::cabac_write_skip_flag, 0, 5); // direct with coefficients: bin 1, then type bin 0
        b.Write(enc::writeMB_typeInfo2Buffer_CABAC, 0);
        x.Bin(x.mc.type[2][8], 0);
        x.Bin(x.mc.type[2][8], 1);
        x.Bin(x.mc.type[2][0], 0); // the type's first bin counts only a mode other than direct
        x.Check(b);
    }
}

TEST(CabacElements, PIntra16x16Value25)
{
    // Prediction mode 2, chroma pattern 1, luma pattern non-zero: 7 + (2 + 4 + 12) = 25.
    CabacBench b(enc::kTypeP, 2, 30);
    Expected x(b);
    b.Write(enc::writeMB_typeInfo2Buffer_CABAC, 25);
    auto *p = x.mc.type[1];
    x.Bin(p[4], 1);
    x.Bin(p[7], 1);
    x.Bin(p[8], 1);
    x.Bin(p[9], 1);
    x.Bin(p[9], 0);
    x.Bin(p[10], 1);
    x.Bin(p[10], 0);
    x.Check(b);
}

TEST(CabacElements, VectorDifferenceMinus9)
{
    for (int comp = 0; comp < 2; ++comp) {
        CabacBench b(enc::kTypeP, 0, 26);
        b.Neighbours(true, true);
        b.EncMb(1).mv_diff[0][3][0][comp] = 2; // above: |2|, left: |5| -> sum 7, increment 2
        b.EncMb(2).mv_diff[0][0][3][comp] = -5;
        b.Block(0, 0);
        Expected x(b);
        b.Write(enc::cabac_write_mvd, -9, comp);
        x.Bin(x.mc.mvd[0][5 * comp + 2], 1);
        x.Bypass(1);
        x.Bin(x.mc.mvd[1][5 * comp], 1);
        x.Bin(x.mc.mvd[1][5 * comp + 1], 1);
        x.Bin(x.mc.mvd[1][5 * comp + 2], 1);
        for (int k = 0; k < 5; ++k)
            x.Bin(x.mc.mvd[1][5 * comp + 3], 1);
        for (int k = 0; k < 4; ++k)
            x.Bypass(0); // Exp-Golomb of 0 with k = 3
        x.Check(b);
    }
}

TEST(CabacElements, ChromaDcWithItsOnlyLevelAtPosition3)
{
    CabacBench b(enc::kTypeI, 0, 28);
    b.Neighbours(false, false);
    b.EncMb(3).mb_mode = enc::kModeI4;
    b.Block(0, 0, 1);
    Expected x(b);
    b.Write(enc::cabac_write_run_level, -3, 3, enc::kKindChromaDC);
    b.Write(enc::cabac_write_run_level, 0, 0, enc::kKindChromaDC);
    x.Bin(x.tc.flag[5][3], 1); // missing neighbours of an intra macroblock count as coded
    for (int p = 0; p < 3; ++p)
        x.Bin(x.tc.sig[6][p], 0); // no last bin: the level is at the last position
    x.Bin(x.tc.one[5][1], 1);
    x.Bin(x.tc.level[5][0], 1); // magnitude 3: suffix 1 -> bins 1 0
    x.Bin(x.tc.level[5][0], 0);
    x.Bypass(1);
    x.Check(b);
}

TEST(CabacElements, LumaBlockWithOneLevelMinus1)
{
    CabacBench b(enc::kTypeP, 0, 28);
    b.Neighbours(false, false);
    b.EncMb(3).mb_mode = enc::kMode16x16;
    b.Block(2, 1);
    Expected x(b);
    b.Write(enc::cabac_write_run_level, -1, 0, enc::kKindLuma4x4);
    b.Write(enc::cabac_write_run_level, 0, 0, enc::kKindLuma4x4);
    EXPECT_EQ(b.EncMb(3).cbf_bits, 1 << (1 + 2 + 4));
    x.Bin(x.tc.flag[4][0], 1); // inside blocks without flags, inter: 0 and 0
    x.Bin(x.tc.sig[5][0], 1);
    x.Bin(x.tc.last[5][0], 1);
    x.Bin(x.tc.one[4][1], 0);
    x.Bypass(1);
    x.Check(b);
}

TEST(CabacElements, CoefficientRunPastTheBlockEndsTheRun)
{
    CabacBench b(enc::kTypeI, 0, 28);
    EXPECT_THROW(b.Write(enc::cabac_write_run_level, 1, 4, enc::kKindChromaDC), H264FatalError);
}

TEST(CabacElements, PositionMapsOfTheLargerBlocks)
{
    // The 4x4 maps are the position itself (significance stops at 14); the 8x8 last map climbs in
    // steps of 16, 8 and 4 positions.
    EXPECT_EQ(enc::cabac_sig_position(enc::kKindLuma4x4, 15, false), 14);
    EXPECT_EQ(enc::cabac_last_position(enc::kKindChromaAC, 9), 9);
    EXPECT_EQ(enc::cabac_last_position(enc::kKindLuma8x8, 15), 1);
    EXPECT_EQ(enc::cabac_last_position(enc::kKindLuma8x8, 16), 2);
    EXPECT_EQ(enc::cabac_last_position(enc::kKindLuma8x8, 63), 8);
    EXPECT_EQ(enc::cabac_sig_position(enc::kKindLuma8x8, 63, false), 14);
    EXPECT_EQ(enc::cabac_sig_position(enc::kKindLuma8x4, 6, false), 7);
    EXPECT_EQ(enc::cabac_sig_position(enc::kKindLuma8x4, 6, true), 6);
    EXPECT_EQ(enc::cabac_sig_position(enc::kKindLuma4x8, 6, true), 3);
    EXPECT_EQ(enc::cabac_last_position(enc::kKindLuma4x8, 31), 8);
    // Every map entry selects one of the 15 contexts of a row.
    for (int kind = 2; kind <= 4; ++kind)
        for (int p = 0; p < enc::kCabacBlockKinds[kind].positions; ++p)
            for (bool field : {false, true}) {
                EXPECT_GE(enc::cabac_sig_position(kind, p, field), 0);
                EXPECT_LT(enc::cabac_sig_position(kind, p, field), 15);
                EXPECT_LT(enc::cabac_last_position(kind, p), 15);
            }
}

TEST(CabacElements, EightByEightBlockCodesNoFlagAndMarksItsFourBlocks)
{
    CabacBench b(enc::kTypeP, 0, 28);
    b.Neighbours(false, false);
    b.EncMb(3).mb_mode = enc::kMode8x8;
    b.Block(2, 2);
    Expected x(b);
    b.Write(enc::cabac_write_run_level, 2, 40, enc::kKindLuma8x8);
    b.Write(enc::cabac_write_run_level, 0, 0, enc::kKindLuma8x8);
    const int n = 1 + 2 + 8;
    EXPECT_EQ(b.EncMb(3).cbf_bits, (1 << n) | (1 << (n + 1)) | (1 << (n + 4)) | (1 << (n + 5)));
    for (int p = 0; p < 40; ++p)
        x.Bin(x.tc.sig[2][enc::cabac_sig_position(enc::kKindLuma8x8, p, false)], 0);
    x.Bin(x.tc.sig[2][enc::cabac_sig_position(enc::kKindLuma8x8, 40, false)], 1);
    x.Bin(x.tc.last[2][enc::cabac_last_position(enc::kKindLuma8x8, 40)], 1);
    x.Bin(x.tc.one[2][1], 1);
    x.Bin(x.tc.level[2][0], 0);
    x.Bypass(0);
    x.Check(b);
}

} // namespace

} // namespace enc_cabac_elements_test
