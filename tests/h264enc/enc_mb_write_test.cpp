// Macroblock writing, spelled out in CAVLC bits: a P 16x16 macroblock with one reference sends no
// reference index (and one with two references does); a run of three skipped macroblocks goes out before
// the coded one; an 8x8 split whose references are all 0 takes type 4 and no indices; intra 16x16
// always sends its quantiser change and never a pattern; a B direct macroblock with coefficients sends
// no vectors; pattern 16 sends the chroma DC blocks only, 47 the AC blocks too. Each stream also
// parses back in the decoder.
#include "h264enc/cabac_write.h"
#include "h264enc/mb_write.h"
#include "h264enc/support/bit_strings.h"
#include "platform/messages.h"

#include <gtest/gtest.h>

namespace enc_mb_write_test { // one namespace per test file: a folder compiles as one source

namespace {

namespace enc = h264enc;
using namespace enctest;

SyntheticMb Skip()
{
    SyntheticMb m;
    for (auto &row : m.refs[0])
        for (int &r : row)
            r = 0;
    for (auto &row : m.refs[1])
        for (int &r : row)
            r = -1;
    return m;
}

SyntheticMb P16x16(int mvx, int mvy, int ref)
{
    SyntheticMb m = Skip();
    m.mode = enc::kMode16x16;
    for (int q = 0; q < 4; ++q)
        m.quarter_mode[q] = enc::kMode16x16;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            m.refs[0][y][x] = ref;
            m.mv[0][y][x][0] = mvx;
            m.mv[0][y][x][1] = mvy;
        }
    return m;
}

void EmptyBlocks(SyntheticMb &m)
{
    m.cof = enc::CoefficientArrays(); // every list ends at once: all blocks empty
}

// Codes the records as one picture and checks the slice data and that the decoder reads them back.
void Check(const RunOptions &o, int type, const std::vector<SyntheticMb> &mbs, const std::string &expected)
{
    auto run = MakeRun(o);
    std::vector<uint8_t> stream = ParameterSetUnits(*run);
    RecordCoder coder;
    coder.mbs = mbs;
    PictureSetup p;
    p.type = type;
    p.number = type == enc::kTypeI ? 0 : 1; // a P or B picture parses without the pictures before it
    const std::string body = SliceBody(*run, coder, p, &stream);
    EXPECT_EQ(body, expected);
    std::string error;
    const std::vector<DecodedPicture> d = DecodeMacroblocks(stream, &error);
    ASSERT_EQ(error, "");
    ASSERT_EQ(d.size(), 1u);
    for (size_t i = 0; i < mbs.size(); ++i)
        EXPECT_EQ(CompareMacroblock(mbs[i], d[0].mbs[i], type, false), "") << i;
}

RunOptions Small(int mbs_wide, int refs = 1)
{
    RunOptions o;
    o.width = 16 * mbs_wide;
    o.height = 16;
    o.refs = refs;
    return o;
}

TEST(MacroblockWriting, P16x16WithOneReferenceSendsNoIndex)
{
    const SyntheticMb m = P16x16(3, -2, 0);
    Check(Small(1), enc::kTypeP, {m}, Ue(0) + Ue(0) + Se(3) + Se(-2) + CbpCode(0, false));
    // With two references the index follows the type.
    const SyntheticMb r = P16x16(3, -2, 1);
    Check(Small(1, 2), enc::kTypeP, {r}, Ue(0) + Ue(0) + Ue(1) + Se(3) + Se(-2) + CbpCode(0, false));
}

TEST(MacroblockWriting, RunOfThreeSkippedMacroblocksBeforeTheCodedOne)
{
    Check(Small(4), enc::kTypeP, {Skip(), Skip(), Skip(), P16x16(1, 0, 0)},
          Ue(3) + Ue(0) + Se(1) + Se(0) + CbpCode(0, false));
}

TEST(MacroblockWriting, SkipRunOfFiveClosesTheSlice)
{
    Check(Small(6), enc::kTypeP, {P16x16(0, 4, 0), Skip(), Skip(), Skip(), Skip(), Skip()},
          Ue(0) + Ue(0) + Se(0) + Se(4) + CbpCode(0, false) + Ue(5));
}

TEST(MacroblockWriting, SplitWithAllReferencesZeroTakesType4WithoutIndices)
{
    SyntheticMb m = P16x16(0, 0, 0);
    m.mode = enc::kMode8x8;
    std::string expected = Ue(0) + Ue(4); // the type value 5 less one
    for (int q = 0; q < 4; ++q) {
        m.quarter_mode[q] = enc::kSub8x8;
        expected += Ue(0);
    }
    for (int q = 0; q < 4; ++q) {
        const int x = 2 * (q % 2), y = 2 * (q / 2);
        for (int yy = y; yy < y + 2; ++yy)
            for (int xx = x; xx < x + 2; ++xx)
                m.mv[0][yy][xx][0] = q;
        expected += Se(q) + Se(0);
    }
    expected += CbpCode(0, false);
    Check(Small(1, 2), enc::kTypeP, {m}, expected);
    // One index other than 0 makes it type 3 with four indices.
    m.refs[0][3][3] = m.refs[0][3][2] = m.refs[0][2][3] = m.refs[0][2][2] = 1;
    std::string withRefs = Ue(0) + Ue(3) + Ue(0) + Ue(0) + Ue(0) + Ue(0) + Ue(0) + Ue(0) + Ue(0) + Ue(1);
    for (int q = 0; q < 4; ++q)
        withRefs += Se(q) + Se(0);
    Check(Small(1, 2), enc::kTypeP, {m}, withRefs + CbpCode(0, false));
}

TEST(MacroblockWriting, Intra16x16AlwaysSendsItsQuantiserChange)
{
    SyntheticMb m;
    m.mode = enc::kModeI16;
    m.i16_type = 1 + 2; // prediction mode 2, no coefficients outside the DC block
    m.chroma_pred_mode = 3;
    m.qp_delta = -2;
    for (int q = 0; q < 4; ++q)
        m.quarter_dir[q] = -1;
    for (auto &list : m.refs)
        for (auto &row : list)
            for (int &r : row)
                r = -1;
    EmptyBlocks(m);
    // Type, chroma mode, quantiser change, then the empty DC block (nC 0: coeff_token "1").
    Check(Small(1), enc::kTypeI, {m}, Ue(3) + Ue(3) + Se(-2) + "1");
}

TEST(MacroblockWriting, Intra16x16WithoutAcBlocksLeavesNoCoefficientCounts)
{
    // The DC block has levels, the pattern has no luma AC: the decoder keeps count 0 for every block, so
    // the writer does too (the right neighbour's nC depends on it).
    SyntheticMb m;
    m.mode = enc::kModeI16;
    m.i16_type = 1;
    for (int q = 0; q < 4; ++q)
        m.quarter_dir[q] = -1;
    for (auto &list : m.refs)
        for (auto &row : list)
            for (int &r : row)
                r = -1;
    EmptyBlocks(m);
    for (int k = 0; k < 5; ++k) {
        m.cof.cofDC[0][0][k] = 3 - k;
        m.cof.cofDC[0][1][k] = 0;
    }
    m.cof.cofDC[0][0][3] = 0;
    SyntheticMb right = m;
    right.i16_type = 1 + 12; // with AC blocks, whose nC reads the left macroblock's counts
    right.coded_pattern = 15;
    for (int q = 0; q < 4; ++q)
        for (int b = 0; b < 4; ++b) {
            right.cof.cofAC[q][b][0][0] = 1;
            right.cof.cofAC[q][b][0][1] = 0;
        }
    auto run = MakeRun(Small(2));
    std::vector<uint8_t> stream = ParameterSetUnits(*run);
    RecordCoder coder;
    coder.mbs = {m, right};
    SliceBody(*run, coder, PictureSetup(), &stream);
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(run->img.nzcoeff.at(0, 0, i, j), 0);
    EXPECT_EQ(run->img.nzcoeff.at(1, 0, 0, 0), 1);
    std::string error;
    const std::vector<DecodedPicture> d = DecodeMacroblocks(stream, &error);
    ASSERT_EQ(error, "");
    EXPECT_EQ(CompareMacroblock(right, d[0].mbs[1], enc::kTypeI, false), "");
}

TEST(MacroblockWriting, NegativePTypeAndUnknownModesEndTheRun)
{
    auto run = MakeRun(Small(1));
    run->img.type = enc::kTypeP;
    enc::MacroblockRecord mb;
    mb.mb_mode = 7; // a sub-mode is no macroblock mode of a B picture
    run->img.type = enc::kTypeB;
    zn::MessageRecorder recorder;
    EXPECT_THROW(enc::mb_type_code(*run, mb), H264FatalError);
    run->img.type = enc::kTypeI;
    mb.mb_mode = enc::kMode16x16;
    EXPECT_THROW(enc::mb_type_code(*run, mb), H264FatalError);
    // A negative P type reaching the CABAC writer ends the run with code 1.
    enctest::RunOptions o;
    o.cabac = 1;
    auto crun = MakeRun(o);
    crun->img.type = enc::kTypeP;
    enc::set_macroblock_position(crun->img, 0);
    enc::create_slice(*crun);
    enc::begin_slice(*crun);
    enc::SyntaxItem item;
    item.category = enc::SE_MBTYPE;
    item.value = -1;
    item.write_fn = enc::writeMB_typeInfo2Buffer_CABAC;
    try {
        enc::write_syntax_element(*crun, item);
        FAIL();
    } catch (const H264FatalError &e) {
        EXPECT_EQ(e.ExitCode(), 1);
    }
}

TEST(MacroblockWriting, BDirectWithCoefficientsSendsNoVectorsAndPattern16OnlyChromaDc)
{
    SyntheticMb m;
    m.mode = enc::kModeSkip;
    m.coded_pattern = 16;
    m.qp_delta = 1;
    for (int q = 0; q < 4; ++q)
        m.quarter_dir[q] = 2;
    for (auto &list : m.refs)
        for (auto &row : list)
            for (int &r : row)
                r = -1;
    EmptyBlocks(m);
    const std::string emptyDc = Bits(kCoeffTokenChromaDcCode[0][0], kCoeffTokenChromaDcLength[0][0]);
    Check(Small(1), enc::kTypeB, {m}, Ue(0) + Ue(0) + CbpCode(16, false) + Se(1) + emptyDc + emptyDc);
}

TEST(MacroblockWriting, Pattern47SendsChromaDcAndAc)
{
    SyntheticMb m;
    m.mode = enc::kModeI4;
    m.coded_pattern = 47;
    m.chroma_pred_mode = 1;
    for (int q = 0; q < 4; ++q) {
        m.quarter_mode[q] = enc::kModeIntraQuarter;
        m.quarter_dir[q] = -1;
    }
    for (int &c : m.intra4_codes)
        c = -1;
    m.intra4_codes[5] = 6;
    for (auto &list : m.refs)
        for (auto &row : list)
            for (int &r : row)
                r = -1;
    EmptyBlocks(m);
    std::string expected = Ue(0);
    for (int k = 0; k < 16; ++k)
        expected += k == 5 ? "0" + Bits(6, 3) : "1";
    expected += Ue(1) + CbpCode(47, true) + Se(0) + std::string(16, '1');
    const std::string emptyDc = Bits(kCoeffTokenChromaDcCode[0][0], kCoeffTokenChromaDcLength[0][0]);
    expected += emptyDc + emptyDc + std::string(8, '1');
    Check(Small(1), enc::kTypeI, {m}, expected);
}

TEST(MacroblockWriting, MacroblockTypeAndSubTypeCodes)
{
    auto run = MakeRun(Small(1));
    enc::MacroblockRecord mb;
    run->img.type = enc::kTypeB;
    const struct
    {
        int mode, d0, d3, code;
    } b[] = {{enc::kMode16x16, 1, 1, 2}, {enc::kMode16x8, 0, 1, 8}, {enc::kMode8x16, 2, 1, 19},
             {enc::kMode16x8, 1, 0, 10}, {enc::kMode8x8, 0, 0, 22}, {enc::kModeI4, -1, -1, 23}};
    for (const auto &c : b) {
        mb.mb_mode = c.mode;
        mb.quarter_dir = {c.d0, c.d0, c.d3, c.d3};
        EXPECT_EQ(enc::mb_type_code(*run, mb), c.code) << c.mode;
    }
    mb.mb_mode = enc::kModeI16;
    mb.i16_type = 23; // intra16x16 of pattern 0x23, mode 2
    EXPECT_EQ(enc::mb_type_code(*run, mb), 46);
    EXPECT_EQ(enc::sub_mb_type_code(run->img, enc::kSub8x4, 2), 8);
    EXPECT_EQ(enc::sub_mb_type_code(run->img, enc::kSub4x4, 1), 11);
    EXPECT_EQ(enc::sub_mb_type_code(run->img, enc::kSubDirect, 2), 0);
    run->img.type = enc::kTypeP;
    EXPECT_EQ(enc::sub_mb_type_code(run->img, enc::kSub4x8, 0), 2);
    mb.mb_mode = enc::kModeI16;
    EXPECT_EQ(enc::mb_type_code(*run, mb), 6 + 23);
}

} // namespace

} // namespace enc_mb_write_test
