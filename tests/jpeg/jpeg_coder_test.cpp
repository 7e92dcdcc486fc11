// The JPEG coder and decoder: base tables against the library's own and the standard's layout,
// streams checked marker by marker, stb_image as an independent decoder of every coding option,
// byte counting, the quality search, the decoder's failures, smoothing and its inverse DCT, and
// a soak of decodes through the noisy channel.
#include "jpeg_test_util.h"

#include "image/cdib.h"
#include "modules/jpeg/jpeg_blocks.h"
#include "modules/jpeg/jpeg_coder.h"
#include "modules/jpeg/jpeg_tables.h"
#include "platform/errors.h"
#include "platform/messages.h"
#include "platform/paths.h"
#include "platform/random.h"
#include "support/test_support.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <numeric>
#include <random>

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_JPEG
#include <stb/stb_image.h>

namespace jpeg_coder_test { // one namespace per test file: a folder compiles as one source

using jpegtest::Find;
using jpegtest::Segment;
using jpegtest::Segments;

namespace {

struct Options
{
    const char *label;
    int quality, table, huffman, restartValue, restartUnit;
};

class JpegCoderTest : public ::testing::Test
{
protected:
    void TearDown() override { zn::UnpinRandSeed(); }

    std::string Stream() const { return JpegStreamPath(dir.Path()); }
    float Encode(const ZnImage &z, const Options &o)
    {
        return JpegEncoder(z, o.quality, o.table, o.huffman, o.restartValue, o.restartUnit, false, Stream());
    }
    std::vector<uint8_t> Bytes() const { return zntest::ReadFileBytes(Stream()); }
    // Decodes the stream file into an image of the given size.
    std::vector<int> Decode(int cols, int rows, bool smoothing = false, float p = 0.0f,
                            JpegDecodeStats *stats = nullptr)
    {
        ZnImage out;
        out.Alloc(rows, cols);
        JpegDecoder(&out, smoothing, p, Stream(), stats);
        return jpegtest::Levels(out);
    }

    zntest::ScratchDir dir;
    zn::MessageRecorder messages;
};

// ---- tables -------------------------------------------------------------------------------------

TEST(JpegTables, ZigzagWalksTheAntiDiagonalsAlternately)
{
    // Closed form: along anti-diagonal d the walk goes up-right when d is even, down-left when odd.
    std::vector<int> expect;
    for (int d = 0; d < 15; ++d) {
        std::vector<int> diag;
        for (int r = 0; r < 8; ++r) {
            const int c = d - r;
            if (c >= 0 && c < 8)
                diag.push_back(8 * r + c);
        }
        if (d % 2 == 0)
            std::reverse(diag.begin(), diag.end());
        expect.insert(expect.end(), diag.begin(), diag.end());
    }
    EXPECT_EQ(std::vector<int>(kJpegZigzagToNatural.begin(), kJpegZigzagToNatural.end()), expect);
}

TEST(JpegTables, StandardTablesAreTheLibrarysAtQuality50)
{
    // The library's own luminance and chrominance tables at scale 100 are the standard's examples.
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    c.in_color_space = JCS_YCbCr;
    c.input_components = 3;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 50, FALSE);
    const JpegTable y = JpegBaseTable(kJpegStandardY), uv = JpegBaseTable(kJpegStandardUV);
    for (int i = 0; i < 64; ++i) {
        EXPECT_EQ(y[i], c.quant_tbl_ptrs[0]->quantval[i]) << i;
        EXPECT_EQ(uv[i], c.quant_tbl_ptrs[1]->quantval[i]) << i;
    }
    jpeg_destroy_compress(&c);
}

TEST(JpegTables, FlatHighEmphasisAndScaling)
{
    const int diag[8] = {16, 99, 85, 75, 60, 40, 24, 16};
    const JpegTable flat = JpegBaseTable(kJpegFlat), he = JpegBaseTable(kJpegHighEmphasis);
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c) {
            EXPECT_EQ(flat[8 * r + c], 50);
            EXPECT_EQ(he[8 * r + c], diag[std::min(r + c, 7)]) << r << "," << c;
        }
    // Quality scale: 5000/q below 50, 200-2q from 50; out-of-range qualities are limited.
    const std::pair<int, int> scales[] = {{-5, 5000}, {0, 5000}, {1, 5000}, {10, 500}, {49, 102},
                                          {50, 100},  {75, 50},  {99, 2},   {100, 0},  {150, 0}};
    for (auto [q, s] : scales) {
        EXPECT_EQ(JpegQualityScale(q), s) << q;
        EXPECT_EQ(JpegQualityScale(q), jpeg_quality_scaling(q)) << q;
    }
    EXPECT_EQ(JpegScaledTable(kJpegFlat, 5000), JpegTable{[] {
                  JpegTable t;
                  t.fill(2500);
                  return t;
              }()});
    EXPECT_EQ(JpegScaledTable(kJpegHighEmphasis, 100), he);
    // Quality 100 would give 0: every step is at least 1; no step passes the library's limit.
    for (int v : JpegScaledTable(kJpegStandardY, 0))
        EXPECT_EQ(v, 1);
    std::array<int16_t, 64> huge;
    huge.fill(32767);
    huge[5] = -7;
    JpegSetDesignedMatrix(huge);
    const JpegTable t = JpegScaledTable(kJpegPerceptual, 5000);
    EXPECT_EQ(t[kJpegZigzagToNatural[5]], 1);
    EXPECT_EQ(t[0], kJpegMaxStep);
    JpegSetDesignedMatrix({});
}

// ---- streams as written -------------------------------------------------------------------------

TEST_F(JpegCoderTest, FramesTablesAndHuffmanCodesAsWritten)
{
    ZnImage z;
    jpegtest::Photo(&z, 64, 48);
    struct Case
    {
        Options o;
        int sof, dqtPrecision;
        bool flc;
    };
    const Case cases[] = {
        {{"standard q75", 75, kJpegStandardY, 1, 0, 0}, 0xC0, 0, false},
        {{"flat q1", 1, kJpegFlat, 1, 0, 0}, 0xC1, 1, false},
        {{"high-emphasis q50", 50, kJpegHighEmphasis, 1, 0, 0}, 0xC0, 0, false},
        {{"standard q5", 5, kJpegStandardY, 2, 0, 0}, 0xC1, 1, false},
        {{"flc", 75, kJpegStandardUV, 0, 0, 0}, 0xC0, 0, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.o.label);
        Encode(z, c.o);
        const auto segs = Segments(Bytes());
        EXPECT_EQ(Find(segs, 0xC0).size() + Find(segs, 0xC1).size(), 1u);
        ASSERT_EQ(Find(segs, c.sof).size(), 1u);
        EXPECT_EQ(Find(segs, 0xE0).size(), 1u) << "JFIF header";
        // One table, number 0, in zigzag order at the expected precision.
        const auto dqt = Find(segs, 0xDB);
        ASSERT_EQ(dqt.size(), 1u);
        const auto &d = dqt[0]->data;
        EXPECT_EQ(d[0], c.dqtPrecision << 4);
        const JpegTable expect = JpegScaledTable(c.o.table, JpegQualityScale(c.o.quality));
        ASSERT_EQ(d.size(), 1u + 64u * (c.dqtPrecision + 1));
        for (int k = 0; k < 64; ++k) {
            const int v = c.dqtPrecision ? (d[1 + 2 * k] << 8 | d[2 + 2 * k]) : d[1 + k];
            EXPECT_EQ(v, expect[kJpegZigzagToNatural[k]]) << k;
        }
        if (c.o.quality == 1) {
            EXPECT_EQ(expect[0], 2500);
        }
        if (c.o.table == kJpegHighEmphasis) {
            EXPECT_EQ(expect, JpegBaseTable(kJpegHighEmphasis));
        }
        // Huffman tables: with FLC every code is 16 bits long.
        for (const Segment *h : Find(segs, 0xC4)) {
            size_t at = 0;
            while (at < h->data.size()) {
                const int cls = h->data[at] >> 4;
                int count = 0, shorter = 0;
                for (int l = 1; l <= 16; ++l) {
                    count += h->data[at + l];
                    if (l < 16)
                        shorter += h->data[at + l];
                }
                if (c.flc) {
                    EXPECT_EQ(shorter, 0);
                    EXPECT_EQ(count, cls == 0 ? 12 : 162);
                } else {
                    EXPECT_GT(shorter, 0);
                }
                at += 17 + static_cast<size_t>(count);
            }
        }
    }
}

TEST_F(JpegCoderTest, FlcSymbolsAreTheStandardAcTableInItsOrder)
{
    // The library writes its standard AC table (standard VLC) into the stream; FLC must list the
    // same 162 symbols in the same order, and the DC categories 0..11.
    ZnImage z;
    jpegtest::Photo(&z, 32, 32);
    Encode(z, {"std", 75, 0, 1, 0, 0});
    std::vector<uint8_t> standardAc, standardDc;
    const auto segs = Segments(Bytes());
    for (const Segment *h : Find(segs, 0xC4)) {
        size_t at = 0;
        while (at < h->data.size()) {
            int count = 0;
            for (int l = 1; l <= 16; ++l)
                count += h->data[at + l];
            std::vector<uint8_t> syms(h->data.begin() + at + 17, h->data.begin() + at + 17 + count);
            if (h->data[at] == 0x10)
                standardAc = syms;
            if (h->data[at] == 0x00)
                standardDc = syms;
            at += 17 + static_cast<size_t>(count);
        }
    }
    EXPECT_EQ(standardAc, std::vector<uint8_t>(kJpegAcSymbols.begin(), kJpegAcSymbols.end()));
    EXPECT_EQ(standardDc, std::vector<uint8_t>(kJpegDcSymbols.begin(), kJpegDcSymbols.end()));
}

TEST_F(JpegCoderTest, RestartMarkersEveryBlockRowOrTenRows)
{
    ZnImage z;
    jpegtest::Photo(&z, 80, 168); // 10 x 21 blocks
    struct Case
    {
        int value, unit, interval, markers;
    };
    const Case cases[] = {
        {0, 0, 0, 0},           // none: no DRI, no RSTn
        {1, 0, 1, 10 * 21 - 1}, // every block
        {1, 1, 10, 21 - 1},     // every row of blocks
        {10, 1, 100, 2},        // every tenth row: after rows 10 and 20
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value * 10 + c.unit);
        Encode(z, {"rst", 75, 0, 1, c.value, c.unit});
        const auto segs = Segments(Bytes());
        const auto dri = Find(segs, 0xDD);
        if (c.interval == 0) {
            EXPECT_TRUE(dri.empty());
        } else {
            ASSERT_EQ(dri.size(), 1u);
            EXPECT_EQ(dri[0]->data[0] << 8 | dri[0]->data[1], c.interval);
        }
        int n = 0;
        for (const Segment &s : segs)
            if (s.marker >= 0xD0 && s.marker <= 0xD7) {
                EXPECT_EQ(s.marker, 0xD0 + n % 8) << "RSTn count modulo 8";
                ++n;
            }
        EXPECT_EQ(n, c.markers);
        EXPECT_EQ(segs.back().marker, 0xD9);
    }
}

// ---- an independent decoder ---------------------------------------------------------------------

// stb_image decodes our stream to the picture our decoder gives, within one grey level (the two
// inverse DCTs round differently).
void ExpectStbAgrees(const std::vector<uint8_t> &stream, const std::vector<int> &ours, int cols, int rows)
{
    int w = 0, h = 0, n = 0;
    unsigned char *px = stbi_load_from_memory(stream.data(), static_cast<int>(stream.size()), &w, &h, &n, 1);
    ASSERT_NE(px, nullptr) << stbi_failure_reason();
    EXPECT_EQ(w, cols);
    EXPECT_EQ(h, rows);
    int worst = 0;
    for (int i = 0; i < w * h && i < static_cast<int>(ours.size()); ++i)
        worst = std::max(worst, std::abs(px[i] - ours[i]));
    stbi_image_free(px);
    EXPECT_LE(worst, 1);
}

TEST_F(JpegCoderTest, StbImageDecodesEveryCodingOption)
{
    ZnImage z;
    jpegtest::Photo(&z, 120, 88); // not a multiple of 16 either way
    const Options cases[] = {
        {"flc", 75, kJpegStandardY, 0, 0, 0},
        {"standard", 75, kJpegStandardY, 1, 0, 0},
        {"optimised", 75, kJpegStandardY, 2, 0, 0},
        {"rst every block", 50, kJpegFlat, 1, 1, 0},
        {"rst every row", 90, kJpegStandardUV, 2, 1, 1},
        {"rst 10 rows", 30, kJpegHighEmphasis, 0, 10, 1},
        {"table above 255", 5, kJpegStandardY, 1, 0, 0},
        {"flat q1", 1, kJpegFlat, 2, 0, 0},
        {"q100", 100, kJpegStandardY, 1, 1, 0},
    };
    for (const Options &o : cases) {
        SCOPED_TRACE(o.label);
        Encode(z, o);
        ExpectStbAgrees(Bytes(), Decode(z.Cols(), z.Rows()), z.Cols(), z.Rows());
    }
}

TEST_F(JpegCoderTest, StbImageOnThePhotographsAndTheCorpus)
{
    ZN_REQUIRE_PHOTO("camera");
    std::vector<std::string> files = {zntest::PhotoPath("camera"), zntest::PhotoPath("moon")};
    const auto corpus = zntest::CorpusFiles("bmp");
    files.insert(files.end(), corpus.begin(), corpus.end());
    int checked = 0;
    for (const std::string &file : files) {
        if (file.empty())
            continue;
        SCOPED_TRACE(file);
        CDib dib;
        if (dib.LoadDibFile(file, false) < 0 || dib.GetWidth() > JPEG_MAX_DIMENSION)
            continue;
        ZnImage z;
        z.DibToZnImage(&dib);
        for (const Options &o : {Options{"optimised", 60, kJpegStandardY, 2, 1, 1},
                                 Options{"flc", 20, kJpegHighEmphasis, 0, 0, 0}}) {
            Encode(z, o);
            ExpectStbAgrees(Bytes(), Decode(z.Cols(), z.Rows()), z.Cols(), z.Rows());
        }
        ++checked;
    }
    if (!corpus.empty())
        std::printf("corpus: %zu files checked\n", corpus.size());
    EXPECT_GE(checked, 1);
}

// ---- rate -----------------------------------------------------------------------------------------

TEST_F(JpegCoderTest, CountOnlyGivesTheFileSize)
{
    ZnImage z;
    jpegtest::Photo(&z, 96, 64);
    for (const Options &o : {Options{"q75", 75, 0, 1, 0, 0}, Options{"opt rst", 40, 2, 2, 1, 0},
                             Options{"flc", 90, 3, 0, 10, 1}}) {
        SCOPED_TRACE(o.label);
        const float counted =
            JpegEncoder(z, o.quality, o.table, o.huffman, o.restartValue, o.restartUnit, true, "");
        const float written = Encode(z, o);
        const long long size = zn::FileSize(Stream());
        EXPECT_FLOAT_EQ(written, static_cast<float>(8.0 * size / (96.0 * 64.0)));
        EXPECT_FLOAT_EQ(counted, written);
    }
    // FLC costs more than the standard code at equal quality, the optimised code less.
    const float flc = JpegEncoder(z, 75, 0, 0, 0, 0, true, "");
    const float std = JpegEncoder(z, 75, 0, 1, 0, 0, true, "");
    const float opt = JpegEncoder(z, 75, 0, 2, 0, 0, true, "");
    EXPECT_GT(flc, std);
    EXPECT_LT(opt, std);
}

TEST_F(JpegCoderTest, QualitySearchMeetsTheTargetOrTheCloserBracket)
{
    ZnImage z;
    jpegtest::Photo(&z, 128, 96);
    auto rate = [&](int q) {
        return q < 1 ? 0.0f : q > 100 ? 8.0f : JpegEncoder(z, q, 0, 1, 0, 0, true, "");
    };
    for (float target : {0.5f, 1.0f, 1.5f, 2.25f, 3.0f}) {
        SCOPED_TRACE(target);
        const int q = JpegFindQuality(target, z, 0, 1, 0, 0);
        const float d = std::fabs(rate(q) - target);
        if (d > 0.005f) {
            // The search ends between two neighbouring qualities and keeps the closer one.
            const int other = rate(q) > target ? q - 1 : q + 1;
            EXPECT_LE(d, std::fabs(rate(other) - target)) << "q " << q;
            EXPECT_TRUE((rate(q) - target) * (rate(other) - target) <= 0) << "bracket " << q << ", " << other;
        }
    }
    // Above what quality 99 reaches the search ends at 99 and keeps 100 (taken as 8 bpp) unless 99 is
    // closer; a target of 0 ends at quality 1.
    EXPECT_EQ(JpegFindQuality(8.5f, z, 0, 1, 0, 0), rate(99) > 8.5f - 0.5f ? 99 : 100);
    EXPECT_EQ(JpegFindQuality(0.0f, z, 0, 1, 0, 0), 1);
}

// ---- the decoder's failures ---------------------------------------------------------------------

TEST_F(JpegCoderTest, MissingStreamLeavesTheImageAndSaysSo)
{
    ZnImage out;
    out.Alloc(8, 8);
    std::fill(out.Data(), out.Data() + 64, 7.0f);
    JpegDecodeStats st;
    EXPECT_EQ(JpegDecoder(&out, false, 0.001f, Stream(), &st), 0);
    EXPECT_FALSE(st.found);
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{kJpegNoStreamMessage});
    EXPECT_EQ(jpegtest::Levels(out), std::vector<int>(64, 7));
}

TEST_F(JpegCoderTest, DamagedStreamsStopWithTheMessage)
{
    ZnImage z;
    jpegtest::Photo(&z, 64, 64);
    Encode(z, {"q75", 75, 0, 1, 0, 0});
    const std::vector<uint8_t> good = Bytes();
    const auto segs = Segments(good);
    struct Case
    {
        const char *label;
        std::vector<uint8_t> bytes;
        int cols, rows; // the document image
        int minRows;    // rows that must be there
    };
    std::vector<uint8_t> noFrame = {0xFF, 0xD8, 0xFF, 0xD9};
    std::vector<uint8_t> truncatedHeader(good.begin(), good.begin() + 30);
    std::vector<uint8_t> badSof = good;
    // The frame header's precision byte follows FF C0 and its length.
    for (size_t i = 2; i + 4 < badSof.size(); ++i)
        if (badSof[i] == 0xFF && badSof[i + 1] == 0xC0) {
            badSof[i + 4] = 12;
            break;
        }
    std::vector<uint8_t> garbage(300);
    for (size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = static_cast<uint8_t>(i * 37 + 11);
    const Case cases[] = {
        {"EOI before any frame", noFrame, 64, 64, 0},
        {"header cut short", truncatedHeader, 64, 64, 0},
        {"12-bit frame", badSof, 64, 64, 0},
        {"not a JPEG file", garbage, 64, 64, 0},
        {"frame larger than the image", good, 64, 56, 0},
        {"frame wider than the image", good, 56, 80, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        messages.Clear();
        ASSERT_TRUE(zntest::WriteFileBytes(Stream(), c.bytes));
        JpegDecodeStats st;
        const auto out = Decode(c.cols, c.rows, false, 0.0f, &st);
        EXPECT_TRUE(st.stopped);
        EXPECT_EQ(messages.Texts(), std::vector<std::string>{kJpegCorruptMessage});
        EXPECT_EQ(std::count(out.begin(), out.end(), 0), static_cast<long>(out.size()))
            << "rows not reached are 0";
        // The same with smoothing.
        messages.Clear();
        Decode(c.cols, c.rows, true, 0.0f, &st);
        EXPECT_TRUE(st.stopped);
        EXPECT_EQ(messages.Count(), 1u);
    }
    (void)segs;
    // A stream cut in its entropy-coded data decodes what it has and fills the rest from the
    // supplied end marker; it is not an error.
    ASSERT_TRUE(zntest::WriteFileBytes(Stream(), std::vector<uint8_t>(good.begin(), good.end() - 200)));
    messages.Clear();
    JpegDecodeStats st;
    Decode(64, 64, false, 0.0f, &st);
    EXPECT_FALSE(st.stopped);
    EXPECT_EQ(st.rowsStored, 64);
    EXPECT_EQ(messages.Count(), 0u);
}

TEST_F(JpegCoderTest, SmallerFrameRowsArePackedAndTheRestIsZero)
{
    ZnImage z;
    jpegtest::Photo(&z, 16, 8);
    Encode(z, {"q100", 100, 0, 1, 0, 0});
    const std::vector<int> small = Decode(16, 8);
    const std::vector<int> big = Decode(24, 10); // 240 samples: the 8 rows of 16 come first
    EXPECT_TRUE(std::equal(small.begin(), small.end(), big.begin()));
    EXPECT_TRUE(std::all_of(big.begin() + 128, big.end(), [](int v) { return v == 0; }));
}

TEST_F(JpegCoderTest, UnwritableStreamEndsTheRun)
{
    ZnImage z;
    jpegtest::Photo(&z, 16, 16);
    EXPECT_THROW(JpegEncoder(z, 75, 0, 1, 0, 0, false, dir.File("no/such/folder/x.jpg")), zn::RunAborted);
    if (zn::FileExists("/dev/full")) {
        EXPECT_THROW(JpegEncoder(z, 75, 0, 1, 0, 0, false, "/dev/full"), zn::RunAborted);
    }
    ZnImage empty;
    EXPECT_THROW(JpegEncoder(empty, 75, 0, 1, 0, 0, true, ""), zn::RunAborted);
}

// ---- smoothing ----------------------------------------------------------------------------------

TEST(JpegSmoothing, RoundsHalvesAwayFromZero)
{
    const std::pair<int64_t, int64_t> cases[] = {{0, 0},    {127, 0},   {128, 1},   {383, 1},  {384, 2},
                                                 {-127, 0}, {-128, -1}, {-384, -2}, {1296, 5}, {2304, 9}};
    for (auto [x, q] : cases)
        EXPECT_EQ(JpegDivRound256(x), q) << x;
}

// Three rows of three blocks, DC values dc[row][col], every AC coefficient `ac`.
struct Rows3
{
    std::vector<int32_t> r[3];
    Rows3(const int dc[3][3], int ac)
    {
        for (int i = 0; i < 3; ++i) {
            r[i].assign(3 * 64, ac);
            for (int c = 0; c < 3; ++c)
                r[i][64 * c] = dc[i][c];
        }
    }
};

TEST(JpegSmoothing, TakesAPredictionOnlyWithinHalfAStep)
{
    uint16_t steps[64];
    std::fill(steps, steps + 64, 16);
    struct Case
    {
        const char *label;
        int dc[3][3];
        int decoded; // every AC coefficient
        int coef;    // the coefficient under test
        int expect;
    };
    const Case cases[] = {
        // AC01 = 36 (DC4 - DC6) / 256: 36 gives 5 (2 x 5 <= 16), 64 gives 9 (18 > 16).
        {"AC01 moves 0 to 5", {{0, 0, 0}, {36, 0, 0}, {0, 0, 0}}, 0, 1, 5},
        {"AC01 keeps 0 against 9", {{0, 0, 0}, {64, 0, 0}, {0, 0, 0}}, 0, 1, 0},
        {"AC10 from above and below", {{0, 36, 0}, {0, 0, 0}, {0, 0, 0}}, 0, 8, 5},
        {"AC02 from the row", {{0, 0, 0}, {71, 0, 71}, {0, 0, 0}}, 0, 2, 5},
        {"AC20 from the column", {{0, 100, 0}, {0, 0, 0}, {0, 100, 0}}, 0, 16, 7},
        {"AC11 from the corners", {{200, 0, 0}, {0, 0, 0}, {0, 0, 200}}, 0, 9, 8},
        {"a decoded 16 moves to a prediction within 8", {{0, 0, 0}, {160, 0, 0}, {0, 0, 0}}, 16, 1, 23},
        {"a decoded 16 keeps against 25", {{0, 0, 0}, {178, 0, 0}, {0, 0, 0}}, 16, 1, 16},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        Rows3 rows(c.dc, c.decoded);
        std::vector<int32_t> out(3 * 64);
        smooth_block_row(rows.r[0].data(), rows.r[1].data(), rows.r[2].data(), out.data(), 3, steps);
        EXPECT_EQ(out[64 + c.coef], c.expect);
        // Edge columns, DC values and the higher coefficients never change.
        EXPECT_TRUE(std::equal(out.begin(), out.begin() + 64, rows.r[1].begin()));
        EXPECT_TRUE(std::equal(out.begin() + 128, out.end(), rows.r[1].begin() + 128));
        EXPECT_EQ(out[64], rows.r[1][64]);
        for (int k : {3, 10, 17, 24, 63})
            EXPECT_EQ(out[64 + k], c.decoded);
    }
    // No row above or below, or two blocks only: copied unchanged.
    const int dc[3][3] = {{0, 0, 0}, {36, 0, 0}, {0, 0, 0}};
    Rows3 rows(dc, 0);
    std::vector<int32_t> out(3 * 64);
    smooth_block_row(nullptr, rows.r[1].data(), rows.r[2].data(), out.data(), 3, steps);
    EXPECT_EQ(out, rows.r[1]);
    smooth_block_row(rows.r[0].data(), rows.r[1].data(), nullptr, out.data(), 3, steps);
    EXPECT_EQ(out, rows.r[1]);
    smooth_block_row(rows.r[0].data(), rows.r[1].data(), rows.r[2].data(), out.data(), 2, steps);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + 128, rows.r[1].begin()));
}

TEST_F(JpegCoderTest, SmoothingLeavesTwoBlockPicturesAlone)
{
    // 16 x 16: every block lacks a neighbour row, so the smoothed decode is the library's.
    ZnImage z;
    jpegtest::Photo(&z, 16, 16);
    for (int q : {10, 50, 95}) {
        Encode(z, {"q", q, 0, 1, 0, 0});
        EXPECT_EQ(Decode(16, 16, true), Decode(16, 16, false)) << q;
    }
}

TEST_F(JpegCoderTest, SmoothingBringsACoarseShadingCloserToTheOriginal)
{
    // A smooth shading at a coarse quality decodes as tiles; the predicted low AC terms take back
    // some of the lost slope inside each block.
    ZnImage z;
    jpegtest::Fill(&z, 96, 96,
                   [](int x, int y) { return 40 + 0.9 * x + 0.6 * y + 0.004 * (x - 48) * (y - 40); });
    Encode(z, {"coarse", 8, kJpegStandardY, 1, 0, 0});
    const auto plain = Decode(96, 96, false), smooth = Decode(96, 96, true);
    const auto original = jpegtest::Levels(z);
    double msePlain = 0, mseSmooth = 0;
    for (size_t i = 0; i < original.size(); ++i) {
        msePlain += std::pow(plain[i] - original[i], 2);
        mseSmooth += std::pow(smooth[i] - original[i], 2);
    }
    EXPECT_NE(plain, smooth);
    EXPECT_LT(mseSmooth, msePlain);
}

TEST_F(JpegCoderTest, OwnInverseDctIsTheLibrarys)
{
    // Pictures two block rows high are never smoothed: the smoothing path, with our inverse DCT,
    // must give the library's own decode bit for bit, for fine and coarse steps and for noise.
    ZnImage photo, noise;
    jpegtest::Photo(&photo, 504, 16);
    std::mt19937 rng(7);
    jpegtest::Fill(&noise, 256, 16, [&rng](int, int) { return static_cast<double>(rng() % 256); });
    const Options cases[] = {
        {"q75", 75, kJpegStandardY, 1, 0, 0},
        {"q100", 100, kJpegStandardY, 1, 0, 0},
        {"q5 steps above 255", 5, kJpegStandardY, 1, 0, 0},
        {"flat q1", 1, kJpegFlat, 1, 0, 0},
        {"high-emphasis q20", 20, kJpegHighEmphasis, 1, 0, 0},
        {"uv q60", 60, kJpegStandardUV, 1, 0, 0},
    };
    for (const ZnImage *z : {&photo, &noise})
        for (const Options &o : cases) {
            SCOPED_TRACE(o.label);
            Encode(*z, o);
            EXPECT_EQ(Decode(z->Cols(), 16, true), Decode(z->Cols(), 16, false));
        }
}

// The inverse DCT straight from its definition, in double precision.
std::vector<double> ReferenceIdct(const int32_t *coef)
{
    std::vector<double> out(64);
    const double pi = std::acos(-1.0);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            double s = 0;
            for (int v = 0; v < 8; ++v)
                for (int u = 0; u < 8; ++u) {
                    const double cu = u ? 1.0 : std::sqrt(0.5), cv = v ? 1.0 : std::sqrt(0.5);
                    s += cu * cv * coef[8 * v + u] * std::cos((2 * x + 1) * u * pi / 16) *
                         std::cos((2 * y + 1) * v * pi / 16);
                }
            out[8 * y + x] = s / 4 + 128;
        }
    return out;
}

TEST(JpegIdct, FollowsTheDefinitionAndSurvivesAnyCoefficient)
{
    std::mt19937 rng(11);
    int32_t coef[64];
    uint8_t px[64];
    for (int trial = 0; trial < 300; ++trial) {
        // Blocks of an ordinary picture: values that stay within 0..255.
        for (int k = 0; k < 64; ++k)
            coef[k] =
                k == 0 ? static_cast<int32_t>(rng() % 1600) - 800 : static_cast<int32_t>(rng() % 61) - 30;
        JpegIdctIslow(coef, px, 8);
        const auto ref = ReferenceIdct(coef);
        for (int i = 0; i < 64; ++i) {
            const double expect = std::clamp(ref[i], 0.0, 255.0);
            EXPECT_LE(std::fabs(px[i] - expect), 1.0) << trial << "/" << i;
        }
    }
    // A damaged stream can carry any 16-bit value and step: the extremes come out limited to 0..255
    // (the sanitizer build checks the arithmetic for overflow).
    const int32_t extremes[] = {-32768 * 65535, 32767 * 65535, 0, 1};
    for (int32_t a : extremes)
        for (int32_t b : extremes) {
            for (int k = 0; k < 64; ++k)
                coef[k] = (k % 3 == 0) ? a : b;
            JpegIdctIslow(coef, px, 8);
            const auto ref = ReferenceIdct(coef);
            for (int i = 0; i < 64; ++i) {
                if (ref[i] > 300 || ref[i] < -45) {
                    EXPECT_EQ(px[i], ref[i] > 0 ? 255 : 0) << a << " " << b;
                }
            }
        }
}

// ---- the noisy channel --------------------------------------------------------------------------

TEST_F(JpegCoderTest, ErrorFreeChannelReadsTheStreamUnchanged)
{
    ZnImage z;
    jpegtest::Photo(&z, 64, 64);
    Encode(z, {"q75", 75, 0, 1, 0, 0});
    const auto clean = Decode(64, 64);
    JpegDecodeStats st;
    ZnImage out;
    out.Alloc(64, 64);
    EXPECT_EQ(JpegDecoder(&out, false, 0.0f, Stream(), &st), 0);
    EXPECT_EQ(jpegtest::Levels(out), clean);
    EXPECT_EQ(st.bytesRead, zn::FileSize(Stream()));
    // One seed, one picture: the channel's noise comes from the generator alone.
    zn::PinRandSeed(99);
    const auto a = Decode(64, 64, false, 0.001f);
    const auto b = Decode(64, 64, false, 0.001f);
    EXPECT_EQ(a, b);
}

TEST_F(JpegCoderTest, ChannelSoakFlipsWithinBinomialBounds)
{
    // 1000 decodes through the noisy channel, with and without smoothing and with restart markers:
    // none may crash or hang, and the flipped bits of all of them together stay within the binomial
    // bounds of p x 8 x bytes read.
    ZnImage z;
    jpegtest::Photo(&z, 48, 40);
    const float probs[] = {0.001f, 0.0005f, 0.0001f, 0.00005f, 0.02f};
    double flips = 0, expect = 0, variance = 0;
    int stopped = 0;
    for (int run = 0; run < 1000; ++run) {
        if (run % 250 == 0)
            Encode(z, {"soak", 30 + run / 10, run / 250 % 4, run / 250 % 3, run % 500 ? 0 : 1, 1});
        const float p = probs[run % 5];
        zn::PinRandSeed(static_cast<uint32_t>(run + 1));
        JpegDecodeStats st;
        ZnImage out;
        out.Alloc(40, 48);
        const int n = JpegDecoder(&out, run % 2 == 1, p, Stream(), &st);
        ASSERT_LE(n, 8 * st.bytesRead);
        flips += n;
        const double bits = 8.0 * static_cast<double>(st.bytesRead);
        expect += bits * p;
        variance += bits * p * (1 - p);
        stopped += st.stopped;
        for (float v : jpegtest::Levels(out))
            ASSERT_TRUE(v >= 0 && v <= 255);
    }
    EXPECT_NEAR(flips, expect, 5 * std::sqrt(variance) + 1) << "expected " << expect;
    EXPECT_GT(stopped, 0) << "some headers must have been hit";
    EXPECT_EQ(messages.Count(), static_cast<size_t>(stopped));
}

} // namespace

} // namespace jpeg_coder_test
