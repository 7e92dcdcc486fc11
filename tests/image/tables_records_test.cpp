// Coding-table records and the three readers on small hand-made files: comments, keywords, file
// names, entropy, fixed-length codes and the truncation of level counts.
#include "image/tables.h"
#include "platform/messages.h"
#include "support/test_support.h"

#include <bit>
#include <gtest/gtest.h>

namespace tables_records_test { // one namespace per test file: a folder compiles as one source

namespace {

struct Quantiser
{
    Quant *q = nullptr;
    ~Quantiser() { FreeQuant(q); }
};

std::string Text(const std::string &s, int (*reader)(TableText &, float *), int *result)
{
    TableText t;
    t.SetText(s);
    float v = -1;
    *result = reader(t, &v);
    return *result == 1 ? std::to_string(v) : "";
}

} // namespace

TEST(TableTokens, CommentsAreSkippedWherePlaced)
{
    TableText t;
    t.SetText("/* levels follow */ 4 /* one\nmore */ 2.5\tword /*x*/ swallowed up*/to here 7 /**/ a */ -3e1");
    int i = 0;
    float f = 0;
    std::string w;
    ASSERT_EQ(ReadInt(t, &i), 1);
    EXPECT_EQ(i, 4);
    ASSERT_EQ(ReadFloat(t, &f), 1);
    EXPECT_FLOAT_EQ(f, 2.5f);
    ASSERT_EQ(ReadWord(t, &w), 1);
    EXPECT_EQ(w, "word");
    // "/*x*/" opens a comment that only the next word containing "*/" closes.
    ASSERT_EQ(ReadWord(t, &w), 1);
    EXPECT_EQ(w, "here");
    ASSERT_EQ(ReadInt(t, &i), 1);
    EXPECT_EQ(i, 7);
    ASSERT_EQ(ReadFloat(t, &f), 1);
    EXPECT_FLOAT_EQ(f, -30.0f);
    EXPECT_EQ(ReadFloat(t, &f), TABLE_EOF);
    EXPECT_EQ(ReadWord(t, &w), TABLE_EOF);
}

TEST(TableTokens, NumbersFollowTheScanfPrefixRule)
{
    struct Case
    {
        const char *text;
        int result;
        float value;
    } cases[] = {
        {"4.9", 1, 4.9f}, {"+2", 1, 2.0f},       {"-0.5e1x", 1, -5.0f}, {".25", 1, 0.25f},
        {"abc 1", 0, 0},  {"   ", TABLE_EOF, 0}, {"1e99", 0, 0},        {"/* never closed 1 2", TABLE_EOF, 0},
    };
    for (const Case &c : cases) {
        int r = 0;
        std::string v = Text(c.text, ReadFloat, &r);
        EXPECT_EQ(r, c.result) << c.text;
        if (r == 1) {
            EXPECT_EQ(v, std::to_string(c.value)) << c.text;
        }
    }
    // An integer read stops at the dot and leaves the rest; a failed read leaves the word in place.
    TableText t;
    t.SetText("4.9 abc");
    int i = 0;
    std::string w;
    ASSERT_EQ(ReadInt(t, &i), 1);
    EXPECT_EQ(i, 4);
    EXPECT_EQ(ReadWord(t, &w), 1);
    EXPECT_EQ(w, ".9");
    EXPECT_EQ(ReadInt(t, &i), 0);
    EXPECT_EQ(ReadWord(t, &w), 1);
    EXPECT_EQ(w, "abc");
    // Words longer than 99 characters come in pieces of 99.
    t.SetText(std::string(150, 'w'));
    ASSERT_EQ(ReadWord(t, &w), 1);
    EXPECT_EQ(w.size(), 99u);
    ASSERT_EQ(ReadWord(t, &w), 1);
    EXPECT_EQ(w.size(), 51u);
}

TEST(TableFiles, NamesCarryStemPdfLevelsAndSuffix)
{
    EXPECT_EQ(QuantFileName("/t/", "mlqpw", "gg100", 4), "/t/mlqpw_gg100_0004.sqt");
    EXPECT_EQ(QuantFileName("/t/", "mlqpw", "gg050", 8192), "/t/mlqpw_gg050_8192.sqt");
    EXPECT_EQ(PerfQuantFileName("/t/", "mlqpw", "gg100", VLC_HUFFMAN), "/t//mlqpw_gg100_huff.sqp");
    EXPECT_EQ(PerfQuantFileName("/t/", "mlqpw", "gg100", VLC_NONE), "/t//mlqpw_gg100.sqp");
    EXPECT_EQ(PerfQuantFileName("/t", "mlqpw", "gg200", VLC_FLC), "/t/mlqpw_gg200_flc.sqp");
    EXPECT_EQ(PerfQuantFileName("/t", "s", "p", VLC_ARITH), "/t/s_p_arith.sqp");
    EXPECT_EQ(PerfQuantFileName("/t", "s", "p", VLC_ENTROPY), "/t/s_p_entr.sqp");
    EXPECT_EQ(FiltFileName("/t/", "qmf", "08a"), "/t//qmf08a.fcs");
}

TEST(ReadFilt, KeywordSetsTypeAndBothFiltersAreRead)
{
    zntest::ScratchDir dir;
    struct Case
    {
        const char *keyword;
        int type;
    } cases[] = {{"FIRQMF", FILT_FIRQMF},
                 {"FIR5", FILT_FIR},
                 {"IIR", FILT_IIR},
                 {"xFIRCQF", FILT_FIRCQF},
                 {"FIRMCI", FILT_FIRMCI}};
    for (const Case &c : cases) {
        std::string body = std::string(c.keyword) + "\n/* 1-d */ 1\n2 0.5 0.5\n3 1 /* mid */ -2 1\n";
        ASSERT_TRUE(zntest::WriteFileBytes(dir.File("qmfx.fcs"), {body.begin(), body.end()}));
        Filt *f = nullptr;
        EXPECT_EQ(ReadFilt(&f, dir.Path(), "qmf", "x"), 0);
        ASSERT_NE(f, nullptr) << c.keyword;
        EXPECT_EQ(f->type, c.type) << c.keyword;
        EXPECT_EQ(f->ndim, 1);
        EXPECT_EQ(f->dims1, std::vector<int32_t>{2});
        EXPECT_EQ(f->coef1, (std::vector<float>{0.5f, 0.5f}));
        EXPECT_EQ(f->dims2, std::vector<int32_t>{3});
        EXPECT_EQ(f->coef2, (std::vector<float>{1, -2, 1}));
        FreeFilt(f);
    }
}

TEST(ReadQuant, EntropyCodeWordsAndSymbolWords)
{
    zntest::ScratchDir dir;
    // Probabilities 0.5, 0.25, 0.25 and a zero: entropy 1.5, the zero adds nothing.
    std::string body = "SQ_TEST 1.5 /* rate */ 0.25\n4\n"
                       "-2 -1e30 0.25 10\n-0.5 -1 0.5 0\n0.5 0 0.25 110\n2 1 0 111\n";
    ASSERT_TRUE(zntest::WriteFileBytes(dir.File("mlqpw_gg100_0004.sqt"), {body.begin(), body.end()}));
    Quantiser q;
    ReadQuant(&q.q, dir.Path(), "mlqpw", "gg100", 4);
    ASSERT_NE(q.q, nullptr);
    EXPECT_EQ(q.q->type, 0);
    EXPECT_FLOAT_EQ(q.q->rate, 1.5f);
    EXPECT_FLOAT_EQ(q.q->distortion, 0.25f);
    EXPECT_FLOAT_EQ(q.q->entropy, 1.5f);
    ASSERT_EQ(q.q->levels, 4);
    EXPECT_EQ(q.q->reconstruction, (std::vector<float>{-2, -0.5f, 0.5f, 2}));
    EXPECT_EQ(q.q->thresholds[2], 0.0f);
    const Vlc *v = q.q->code;
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->type, VLC_TYPE_TABLE);
    EXPECT_EQ(v->symbols, 4);
    EXPECT_EQ(v->VlcCodeWord, (std::vector<std::string>{"10", "0", "110", "111"}));
    EXPECT_EQ(v->VlcCodeLen, (std::vector<int32_t>{2, 1, 3, 3}));
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(v->VlcSymbLen[i], 1);
        EXPECT_EQ(v->VlcSymbWord[i], std::vector<uint32_t>{std::bit_cast<uint32_t>(q.q->reconstruction[i])});
    }
}

TEST(MakeFlcVlc, FixedLengthWordsInBinaryOrder)
{
    Quantiser q;
    AllocQuant(&q.q, 5, 2);
    for (int i = 0; i < 5; ++i)
        q.q->reconstruction[i] = static_cast<float>(i) - 2.0f;
    q.q->code->tree = new HuffNode; // a stale tree is released
    MakeFlcVlc(q.q);
    const Vlc *v = q.q->code;
    EXPECT_EQ(v->type, VLC_TYPE_FLC);
    EXPECT_EQ(v->tree, nullptr);
    EXPECT_EQ(v->VlcCodeWord, (std::vector<std::string>{"000", "001", "010", "011", "100"}));
    EXPECT_EQ(v->VlcCodeLen, (std::vector<int32_t>{3, 3, 3, 3, 3}));
    EXPECT_EQ(v->VlcSymbWord[4], std::vector<uint32_t>{std::bit_cast<uint32_t>(2.0f)});

    // A table made for another level count is given exactly L symbols.
    q.q->levels = 9;
    q.q->reconstruction.resize(9);
    MakeFlcVlc(q.q);
    ASSERT_EQ(q.q->code->symbols, 9);
    EXPECT_EQ(q.q->code->VlcCodeWord[8], "1000");

    Quantiser one;
    ZeroQuant(&one.q);
    EXPECT_EQ(one.q->levels, 1);
    EXPECT_FLOAT_EQ(one.q->distortion, 1.0f);
    EXPECT_EQ(one.q->code->type, VLC_TYPE_TABLE);
    MakeFlcVlc(one.q);
    EXPECT_EQ(one.q->code->VlcCodeLen[0], 0);
    EXPECT_EQ(one.q->code->VlcCodeWord[0], "");

    Quantiser bare;
    bare.q = new Quant;
    bare.q->levels = 2;
    bare.q->reconstruction = {-1, 1};
    MakeFlcVlc(bare.q); // no code table yet: one is attached
    ASSERT_NE(bare.q->code, nullptr);
    EXPECT_EQ(bare.q->code->VlcCodeWord, (std::vector<std::string>{"0", "1"}));
}

TEST(ReadPerfQuant, SuffixKeywordAndTruncatedLevels)
{
    zntest::ScratchDir dir;
    std::string huff = "SQ\n3\n2 1 0.36\n4.9 1.9 0.12 /* 4.9 is 4 */\n8 2.8 0.035\n";
    std::string plain = "RD 1 16 4 0.01";
    ASSERT_TRUE(zntest::WriteFileBytes(dir.File("mlqpw_gg100_huff.sqp"), {huff.begin(), huff.end()}));
    ASSERT_TRUE(zntest::WriteFileBytes(dir.File("mlqpw_gg100.sqp"), {plain.begin(), plain.end()}));
    PerfQuant *p = nullptr;
    ReadPerfQuant(&p, dir.Path(), "mlqpw", "gg100", VLC_HUFFMAN);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->type, PERF_SQ);
    ASSERT_EQ(p->n, 3);
    EXPECT_EQ(p->levels, (std::vector<int32_t>{2, 4, 8}));
    EXPECT_FLOAT_EQ(p->rate[1], 1.9f);
    EXPECT_FLOAT_EQ(p->distortion[2], 0.035f);
    FreePerfQuant(p);

    ReadPerfQuant(&p, dir.Path(), "mlqpw", "gg100", VLC_NONE);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->type, PERF_RD);
    EXPECT_EQ(p->levels, std::vector<int32_t>{16});
    FreePerfQuant(p);

    zn::MessageRecorder rec;
    p = reinterpret_cast<PerfQuant *>(1);
    ReadPerfQuant(&p, dir.Path(), "mlqpw", "gg100", 5);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(rec.Texts(), std::vector<std::string>{"ReadPerfQuant-Unknown VLC type"});
}

TEST(TableRecords, AllocatorsGiveEmptyRecordsOfTheRightShape)
{
    Vlc *v = nullptr;
    AllocVlc(&v, 3, 2, 5);
    EXPECT_EQ(v->type, VLC_TYPE_NEW);
    EXPECT_EQ(v->symbols, 3);
    EXPECT_EQ(v->VlcSync[0], 0);
    EXPECT_EQ(v->VlcSymbWord[2], (std::vector<uint32_t>{0, 0}));
    EXPECT_EQ(v->VlcCodeWord[1], "");
    FreeVlc(v);

    PerfQuant *p = nullptr;
    AllocPerfQuant(&p, 7);
    EXPECT_EQ(p->type, PERF_NOTUSED);
    EXPECT_EQ(p->n, 0);
    EXPECT_EQ(p->levels.size(), 7u);
    FreePerfQuant(p);

    Filt *f = nullptr;
    int d1[2] = {3, 4}, d2[2] = {2, 2};
    AllocFilt(&f, 2, d1, d2, FILT_FIR);
    EXPECT_EQ(f->coef1.size(), 12u);
    EXPECT_EQ(f->coef2.size(), 4u);
    FreeFilt(f);
    AllocFilt1d(&f, 8, 6, FILT_FIRQMF);
    EXPECT_EQ(f->ndim, 1);
    EXPECT_EQ(f->coef2.size(), 6u);
    FreeFilt(f);

    zn::MessageRecorder rec;
    VF *vf = nullptr;
    AllocVF(&vf, 4, 5, 8, 8, 3);
    EXPECT_EQ(vf->planeA, nullptr);
    EXPECT_TRUE(rec.Contains("AllocVF - Invallid representation type"));
    FreeVF(vf);
    AllocVF(&vf, 4, 5, 8, 8, 1);
    ASSERT_NE(vf->planeB, nullptr);
    static_cast<int32_t *>(vf->planeB)[19] = 7;
    FreeVF(vf);
    FreeFilt(nullptr);
    FreeQuant(nullptr);
    FreePerfQuant(nullptr);
    FreeVlc(nullptr);
}

} // namespace tables_records_test
