// The pieces of the fractal code: bit order, header layout, depths and domain grids, tiling, the
// quantised grey map, and the block classes checked against the geometry they stand for.
#include "modules/fractal/fic_bits.h"
#include "modules/fractal/fic_classify.h"
#include "modules/fractal/fic_geometry.h"

#include <array>
#include <cmath>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace fic_stream_test { // one namespace per test file: a folder compiles as one source

namespace {

TEST(FicBits, ValuesGoInLeastSignificantBitFirstFromTheTopOfEachByte)
{
    FicBitWriter w;
    w.Write(1, 1);     // 1
    w.Write(0b011, 3); // 1 1 0
    w.Write(0b10, 2);  // 0 1
    w.Flush();         // two zero bits of padding
    ASSERT_EQ(w.Bytes().size(), 1u);
    EXPECT_EQ(w.Bytes()[0], 0b11100100);

    FicBitWriter none;
    none.Flush();
    EXPECT_TRUE(none.Bytes().empty());
}

TEST(FicBits, WriterAndReaderRoundTripAndZeroBitsPastTheEnd)
{
    std::mt19937 gen(7);
    std::vector<std::pair<uint32_t, int>> values;
    FicBitWriter w;
    for (int i = 0; i < 2000; ++i) {
        const int bits = static_cast<int>(gen() % 25); // 0..24, as the code's widest field
        const uint32_t v = bits ? gen() & ((1u << bits) - 1) : 0;
        values.push_back({v, bits});
        w.Write(v, bits);
    }
    const long total = w.BitCount();
    w.Flush();
    EXPECT_EQ(static_cast<long>(w.Bytes().size()), (total + 7) / 8);
    FicBitReader r(w.Bytes());
    for (const auto &[v, bits] : values)
        ASSERT_EQ(r.Read(bits), v);
    EXPECT_EQ(r.Read(24), 0u);
    EXPECT_TRUE(r.PastEnd());
    FicBitReader empty({});
    EXPECT_EQ(empty.Read(12), 0u);
}

// The header's bits written out one field at a time from its table.
std::vector<int> HeaderBits(int sb, int ob, int dmin, int dmax, int cols, int rows)
{
    std::vector<int> bits;
    const std::pair<int, int> fields[] = {{sb, 4}, {ob, 4}, {dmin, 4},  {dmax, 4}, {1, 4},
                                          {0, 1},  {0, 2},  {cols, 12}, {rows, 12}};
    for (const auto &[v, n] : fields)
        for (int i = 0; i < n; ++i)
            bits.push_back((v >> i) & 1);
    return bits;
}

TEST(FicHeader, HasFortySevenBitsAndTheBodyStartsAtTheLowBitOfTheSixthByte)
{
    FicHeader h;
    h.sb = 4;
    h.ob = 6;
    h.dmin = 4;
    h.dmax = 6;
    h.cols = 256;
    h.rows = 256;
    FicBitWriter w;
    FicWriteHeader(w, h);
    EXPECT_EQ(w.BitCount(), kFicHeaderBits);
    w.Write(1, 1); // the first bit of the body
    w.Flush();
    ASSERT_EQ(w.Bytes().size(), 6u);
    const std::vector<int> expect = HeaderBits(4, 6, 4, 6, 256, 256);
    for (size_t i = 0; i < expect.size(); ++i)
        EXPECT_EQ((w.Bytes()[i / 8] >> (7 - i % 8)) & 1, expect[i]) << "bit " << i;
    EXPECT_EQ(w.Bytes()[5] & 1, 1);

    FicBitReader r(w.Bytes());
    const FicHeader back = FicReadHeader(r);
    EXPECT_EQ(back.sb, 4);
    EXPECT_EQ(back.ob, 6);
    EXPECT_EQ(back.dmin, 4);
    EXPECT_EQ(back.dmax, 6);
    EXPECT_EQ(back.domainStep, 1);
    EXPECT_EQ(back.stepType, 0);
    EXPECT_EQ(back.domainType, 0);
    EXPECT_EQ(back.cols, 256);
    EXPECT_EQ(back.rows, 256);
    EXPECT_EQ(FicHeaderProblem(back, 256, 256), "");
}

TEST(FicGeometry, DepthsAndDomainGridsOfA256SquareWithBlocks16To4)
{
    EXPECT_EQ(FicDepthRoot(256, 256), 8);
    EXPECT_EQ(FicDepthOfBlock(256, 256, 16), 4);
    EXPECT_EQ(FicDepthOfBlock(256, 256, 4), 6);
    FicHeader h;
    h.sb = 4;
    h.ob = 6;
    h.dmin = 4;
    h.dmax = 6;
    h.cols = h.rows = 256;
    const std::vector<FicLevel> levels = FicMakeLevels(h);
    ASSERT_EQ(levels.size(), 3u);
    const int side[] = {32, 16, 8}, count[] = {8, 16, 32}, bits[] = {6, 8, 10};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(levels[i].side, side[i]);
        EXPECT_EQ(levels[i].hstep, side[i]);
        EXPECT_EQ(levels[i].hcount, count[i]);
        EXPECT_EQ(levels[i].vcount, count[i]);
        EXPECT_EQ(levels[i].bits, bits[i]);
    }
}

TEST(FicGeometry, DepthOfBlockTakesTheSmallerSide)
{
    struct Case
    {
        int cols, rows, block, depth;
    };
    const Case cases[] = {{512, 256, 16, 4},  {256, 512, 16, 4}, {512, 512, 128, 2}, {256, 256, 128, 1},
                          {128, 128, 128, 0}, {64, 64, 2, 5},    {8, 8, 2, 2}};
    for (const Case &c : cases)
        EXPECT_EQ(FicDepthOfBlock(c.cols, c.rows, c.block), c.depth)
            << c.cols << "x" << c.rows << " " << c.block;
}

TEST(FicGeometry, TilingOfRectanglesInCodingOrder)
{
    struct Case
    {
        int cols, rows;
        std::vector<std::array<int, 4>> squares; // x, y, side, depth
    };
    const Case cases[] = {
        {256, 256, {{0, 0, 256, 0}}},
        {512, 256, {{0, 0, 256, 0}, {256, 0, 256, 0}}},
        {256, 512, {{0, 0, 256, 0}, {0, 256, 256, 0}}},
        {1024, 256, {{0, 0, 256, 0}, {256, 0, 256, 0}, {512, 0, 256, 0}, {768, 0, 256, 0}}},
        // Not powers of two: the strip to the right at full height, then the part below.
        {12, 8, {{0, 0, 8, 0}, {8, 0, 4, 1}, {8, 4, 4, 1}}},
        {8, 12, {{0, 0, 8, 0}, {0, 8, 4, 1}, {4, 8, 4, 1}}},
    };
    for (const Case &c : cases) {
        const std::vector<FicSquare> got = FicTiling(c.cols, c.rows);
        ASSERT_EQ(got.size(), c.squares.size()) << c.cols << "x" << c.rows;
        long area = 0;
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].x, c.squares[i][0]);
            EXPECT_EQ(got[i].y, c.squares[i][1]);
            EXPECT_EQ(got[i].side, c.squares[i][2]);
            EXPECT_EQ(got[i].depth, c.squares[i][3]);
            area += long{got[i].side} * got[i].side;
        }
        EXPECT_EQ(area, long{c.cols} * c.rows);
    }
}

TEST(FicGreyMap, ScalesAndTheZeroIndex)
{
    for (int sb = 1; sb <= 8; ++sb) {
        const int zero = FicZeroIndex(sb);
        EXPECT_EQ(zero, 1 << (sb - 1));
        EXPECT_EQ(FicScale(zero, sb), 0.0);
        EXPECT_EQ(FicScale(0, sb), -1.0);
        EXPECT_DOUBLE_EQ(FicScale((1 << sb) - 1, sb), 1.0 - std::ldexp(1.0, 1 - sb));
        for (int i = 0; i < (1 << sb); ++i)
            EXPECT_EQ(FicScaleIndex(FicScale(i, sb), sb), i) << sb << " " << i;
        EXPECT_EQ(FicScaleIndex(-5.0, sb), 0);
        EXPECT_EQ(FicScaleIndex(5.0, sb), (1 << sb) - 1);
        EXPECT_EQ(FicScaleIndex(std::nan(""), sb), 0);
    }
    // One scaling bit: only -1 and 0 exist.
    EXPECT_EQ(FicScale(FicScaleIndex(0.9, 1), 1), 0.0);
    EXPECT_EQ(FicScale(FicScaleIndex(-0.9, 1), 1), -1.0);
}

TEST(FicGreyMap, OffsetsCoverTheReachableGreyRange)
{
    for (int ob = 1; ob <= 8; ++ob) {
        const int top = (1 << ob) - 1;
        for (const double S : {-1.0, -0.5, 0.0, 0.25, 0.875}) {
            // Every map S * d + O with d in 0..255 can reach both ends of the grey scale.
            if (S > 0) {
                EXPECT_DOUBLE_EQ(FicOffset(0, S, ob), -255 * S);
                EXPECT_NEAR(FicOffset(top, S, ob), 255.0, 1e-9);
            } else {
                EXPECT_EQ(FicOffset(0, S, ob), 0.0);
                EXPECT_NEAR(FicOffset(top, S, ob), (std::fabs(S) + 1) * 255, 1e-9);
            }
            for (int i = 0; i <= top; ++i)
                EXPECT_EQ(FicOffsetIndex(FicOffset(i, S, ob), S, ob), i) << ob << " " << S << " " << i;
            EXPECT_EQ(FicOffsetIndex(-1000, S, ob), 0);
            EXPECT_EQ(FicOffsetIndex(1000, S, ob), top);
        }
    }
}

// A b x b block turned by orientation t: pixel (X, Y) of the result is pixel (U, V) of the block.
std::vector<double> Turn(const std::vector<double> &block, int b, int t)
{
    std::vector<double> out(block.size());
    for (int Y = 0; Y < b; ++Y)
        for (int X = 0; X < b; ++X) {
            int U, V;
            FicOrient(t, X, Y, b, b, &U, &V);
            out[Y * b + X] = block[V * b + U];
        }
    return out;
}

FicBlockClass Classify(const std::vector<double> &block, int b)
{
    std::array<double, 4> s{}, t{};
    const int h = b / 2;
    const int qx[4] = {0, 0, h, h}, qy[4] = {0, h, h, 0};
    for (int q = 0; q < 4; ++q)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < h; ++x) {
                const double v = block[(qy[q] + y) * b + qx[q] + x];
                s[q] += v;
                t[q] += v * v;
            }
    return fic_block_class(s, t, h * h);
}

// Whether the quadrant sums and spreads of a block are all different (no tie decides its class).
bool NoTies(const std::vector<double> &block, int b)
{
    std::array<double, 4> s{}, t{};
    const int h = b / 2;
    const int qx[4] = {0, 0, h, h}, qy[4] = {0, h, h, 0};
    for (int q = 0; q < 4; ++q)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < h; ++x) {
                const double v = block[(qy[q] + y) * b + qx[q] + x];
                s[q] += v;
                t[q] += v * v;
            }
    for (int i = 0; i < 4; ++i)
        for (int j = i + 1; j < 4; ++j)
            if (s[i] == s[j] || t[i] - s[i] * s[i] / (h * h) == t[j] - s[j] * s[j] / (h * h))
                return false;
    return true;
}

// The classes are what makes the search small: a range that is a turned copy of a domain must land
// in the domain's class pair, and the orientation the search then tries must undo the turn. For a
// negated copy (a negative scale) the same holds for the second list the search looks at.
TEST(FicClasses, TurnedAndNegatedCopiesFindTheirDomainAndOrientation)
{
    std::mt19937 gen(11);
    std::uniform_int_distribution<int> level(0, 255);
    const int b = 4;
    int checked = 0;
    std::array<int, 72> seen{};
    while (checked < 3000) {
        std::vector<double> domain(b * b);
        for (double &v : domain)
            v = level(gen);
        if (!NoTies(domain, b))
            continue;
        ++checked;
        const FicBlockClass dc = Classify(domain, b);
        ASSERT_GE(dc.first, 0);
        ASSERT_LE(dc.first, 2);
        ASSERT_GE(dc.second, 0);
        ASSERT_LE(dc.second, 23);
        ASSERT_GE(dc.orientation, 0);
        ASSERT_LE(dc.orientation, 7);
        ++seen[dc.first * 24 + dc.second];
        for (int t = 0; t < 8; ++t) {
            SCOPED_TRACE(t);
            const std::vector<double> range = Turn(domain, b, t);
            const FicBlockClass rc = Classify(range, b);
            EXPECT_EQ(rc.first, dc.first);
            EXPECT_EQ(rc.second, dc.second);
            EXPECT_EQ(FicMatchOrientation(rc.orientation, dc.orientation), t);

            std::vector<double> negated = range;
            for (double &v : negated)
                v = 255 - v;
            const FicBlockClass nc = Classify(negated, b);
            EXPECT_EQ(nc.first, dc.first);
            EXPECT_EQ(FicNegativeSecondClass(nc.first, nc.second), dc.second);
            EXPECT_EQ(FicMatchOrientation(FicNegativeOrientation(nc.first, nc.orientation), dc.orientation),
                      t);
        }
    }
    // Random blocks reach every one of the 72 class pairs.
    for (int i = 0; i < 72; ++i)
        EXPECT_GT(seen[i], 0) << "class pair " << i;
}

TEST(FicClasses, EqualSumsKeepTheQuadrantOrder)
{
    // A flat block: every quadrant ties, so quadrant 0 stays first and nothing is turned.
    const FicBlockClass flat = fic_block_class({10, 10, 10, 10}, {25, 25, 25, 25}, 4);
    EXPECT_EQ(flat.orientation, 0);
    EXPECT_EQ(flat.first, 1);
    EXPECT_EQ(flat.second, 0);
    EXPECT_EQ(flat.sum, 40);
    EXPECT_EQ(flat.sumSq, 100);
}

TEST(FicHeaderProblem, RefusesHeadersThatDoNotFitTheImage)
{
    FicHeader good;
    good.sb = 4;
    good.ob = 6;
    good.dmin = 4;
    good.dmax = 6;
    good.cols = good.rows = 256;
    EXPECT_EQ(FicHeaderProblem(good, 256, 256), "");
    EXPECT_EQ(FicHeaderProblem(good, -1, -1), "");
    struct Case
    {
        const char *what;
        void (*change)(FicHeader &);
    };
    const Case cases[] = {
        {"other width", [](FicHeader &h) { h.cols = 128; }},
        {"other height", [](FicHeader &h) { h.rows = 512; }},
        {"no scale bits", [](FicHeader &h) { h.sb = 0; }},
        {"nine offset bits", [](FicHeader &h) { h.ob = 9; }},
        {"dmin 0", [](FicHeader &h) { h.dmin = 0; }},
        {"dmin above dmax", [](FicHeader &h) { h.dmin = 7; }},
        {"dmax at L", [](FicHeader &h) { h.dmax = 8; }},
        {"dmax beyond L", [](FicHeader &h) { h.dmax = 15; }},
        {"domain step 0", [](FicHeader &h) { h.domainStep = 0; }},
        {"domain step above the domain", [](FicHeader &h) { h.domainStep = 15; }},
        {"domain type 3", [](FicHeader &h) { h.domainType = 3; }},
    };
    for (const Case &c : cases) {
        FicHeader h = good;
        c.change(h);
        EXPECT_NE(FicHeaderProblem(h, 256, 256), "") << c.what;
    }
    // Other domain grids the format allows are accepted.
    for (const auto &[type, stepType, step] : {std::tuple{1, 0, 2}, {1, 1, 1}, {2, 0, 3}, {0, 1, 2}}) {
        FicHeader h = good;
        h.domainType = type;
        h.stepType = stepType;
        h.domainStep = step;
        EXPECT_EQ(FicHeaderProblem(h, 256, 256), "") << type << " " << stepType << " " << step;
        for (const FicLevel &lv : FicMakeLevels(h)) {
            EXPECT_LE((lv.hcount - 1) * lv.hstep + lv.side, 256);
            EXPECT_LE((lv.vcount - 1) * lv.vstep + lv.side, 256);
        }
    }
}

} // namespace

} // namespace fic_stream_test
