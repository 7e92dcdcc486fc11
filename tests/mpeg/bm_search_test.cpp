// The block-matching judge and searches: their tie and edge rules on synthetic frames, the fast
// window measure against the plain one, and the searches on photographs panned by known shifts.
#include "mpeg/me/bm_search.h"

#include "image/numeric.h"
#include "mpeg/support/frames.h"
#include "platform/messages.h"

#include <gtest/gtest.h>
#include <random>

namespace bm_search_test { // one namespace per test file: a folder compiles as one source

using namespace zntest;

namespace {

using SearchFn = void (*)(const Img *, const Img *, VF *, const VF *, int, int, int, int, int, int, int, int);

struct Rows
{
    Rows(const Img *img, int border)
        : border(border), height(img->rows - 2 * border), width(img->cols - 2 * border),
          rows(IndexArray(img->plane[0], img->rep, -border, height + border - 1, -border, width + border - 1))
    {}
    ~Rows() { FreeIndexArray(rows, -border); }
    int border, height, width;
    void **rows;
};

TEST(BlockMatching, UniformFramesChooseTheFirstCandidateOfTheFullSearch)
{
    struct Case
    {
        int d, block, height, width, border;
    };
    const Case cases[] = {{3, 8, 32, 48, 3}, {7, 4, 16, 16, 7}, {15, 16, 48, 32, 15}, {2, 2, 6, 10, 4}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "d " << c.d << " block " << c.block);
        const ImgPtr cur = BorderedFrame(c.height, c.width, c.border, [](int, int) { return 127.0f; });
        const ImgPtr prev = BorderedFrame(c.height, c.width, c.border, [](int, int) { return 127.0f; });
        const int rows = c.height / c.block, cols = c.width / c.block;
        MeField out = NewField(rows, cols, c.block);
        BmBruteForceSearch(cur.get(), prev.get(), out.get(), nullptr, c.block, c.block, c.d, ME_CRITERION_SAD,
                           c.border, 0, 0, 1);
        for (int k = 0; k < rows * cols; ++k) {
            ASSERT_EQ(A(out.get(), k), c.d) << k;
            ASSERT_EQ(B(out.get(), k), c.d) << k;
        }
    }
}

TEST(BlockMatching, NStepReachIsTwoToTheNMinusOne)
{
    // On uniform frames each step takes its first candidate (+E, +E): the sum of the steps.
    for (int n = 1; n <= 5; ++n) {
        const int border = (1 << n) - 1;
        const ImgPtr cur = BorderedFrame(16, 16, border, [](int, int) { return 127.0f; });
        const ImgPtr prev = BorderedFrame(16, 16, border, [](int, int) { return 127.0f; });
        MeField out = NewField(2, 2, 8);
        BmNStepSearch(cur.get(), prev.get(), out.get(), nullptr, 8, 8, n, ME_CRITERION_SAD, border, 0, 0, 1);
        for (int k = 0; k < 4; ++k) {
            EXPECT_EQ(A(out.get(), k), border) << n;
            EXPECT_EQ(B(out.get(), k), border) << n;
        }
    }
    // And never more, whatever the frames hold.
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> level(0, 255);
    const ImgPtr cur = BorderedFrame(32, 32, 7, [&](int, int) { return level(rng); });
    const ImgPtr prev = BorderedFrame(32, 32, 7, [&](int, int) { return level(rng); });
    MeField out = NewField(8, 8, 4);
    BmNStepSearch(cur.get(), prev.get(), out.get(), nullptr, 4, 4, 3, ME_CRITERION_SAD, 7, 0, 0, 1);
    for (int k = 0; k < 64; ++k) {
        EXPECT_LE(std::abs(A(out.get(), k)), 7);
        EXPECT_LE(std::abs(B(out.get(), k)), 7);
    }
}

TEST(BlockMatching, FastWindowMeasureEqualsThePlainOne)
{
    std::mt19937 rng(11);
    for (int trial = 0; trial < 40; ++trial) {
        const int h = 4 + static_cast<int>(rng() % 40), w = 4 + static_cast<int>(rng() % 40);
        const int border = static_cast<int>(rng() % 9);
        // Ordinary levels, and extremes whose differences lose bits in single precision.
        const bool extreme = trial % 4 == 3;
        std::uniform_real_distribution<float> level(extreme ? -3e30f : 0, extreme ? 3e30f : 255);
        const ImgPtr cur = BorderedFrame(h, w, border, [&](int, int) { return level(rng); });
        const ImgPtr prev = BorderedFrame(h, w, border, [&](int, int) { return level(rng); });
        const Rows c(cur.get(), border), p(prev.get(), border);
        for (int probe = 0; probe < 200; ++probe) {
            std::uniform_int_distribution<int> pos(-border - 20, std::max(h, w) + border + 4);
            const int ox = pos(rng), oy = pos(rng), rx = pos(rng), ry = pos(rng);
            const int winH = 1 + static_cast<int>(rng() % 40), winW = 1 + static_cast<int>(rng() % 40);
            const int step = 1 + static_cast<int>(rng() % 5);
            double plain = -1, fast = -1;
            const bool a =
                BmWindowSadPlain(c.rows, ox, oy, p.rows, rx, ry, winH, winW, step, border, h, w, &plain);
            const bool b = BmWindowSad(c.rows, ox, oy, p.rows, rx, ry, winH, winW, step, border, h, w, &fast);
            ASSERT_EQ(a, b) << trial << "/" << probe;
            if (a) {
                ASSERT_EQ(plain, fast) << trial << "/" << probe;
            }
        }
    }
}

// The squared criterion, which the module never selects, warns once per run before it judges; then
// it finds the same candidate as the direct sum.
TEST(BlockMatching, SquaredCriterionWarnsOnceAndPicksTheSmallestDirectSum)
{
    zn::MessageRecorder messages;
    BmBeginRun();
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> level(0, 255);
    const int h = 24, w = 24, border = 4;
    const ImgPtr cur = BorderedFrame(h, w, border, [&](int, int) { return level(rng); });
    const ImgPtr prev = BorderedFrame(h, w, border, [&](int, int) { return level(rng); });
    const Rows c(cur.get(), border), p(prev.get(), border);
    std::vector<int> ca, cb;
    for (int b = -4; b <= 4; ++b)
        for (int a = -4; a <= 4; ++a) {
            ca.push_back(a);
            cb.push_back(b);
        }
    const BmCandidates list{static_cast<int>(ca.size()), ca.data(), cb.data()};
    for (int oy = -6; oy < h; oy += 5)
        for (int ox = -6; ox < w; ox += 5)
            for (int step : {1, 2, 3}) {
                // The direct measure: every counted position, no early exit.
                float bestMeasure = 3.4028235e38f;
                int expected = list.length / 2;
                for (int k = 0; k < list.length; ++k) {
                    double sum = 0;
                    long count = 0;
                    for (int i = 0; i < 8; i += step)
                        for (int j = 0; j < 8; j += step) {
                            const int cy = oy + i, cx = ox + j, ry = oy - cb[k] + i, rx = ox - ca[k] + j;
                            auto in = [&](int r, int q) {
                                return r >= -border && r < h + border && q >= -border && q < w + border;
                            };
                            if (!in(cy, cx) || !in(ry, rx))
                                continue;
                            const double d = static_cast<double>(IndexRow<float>(c.rows, cy)[cx]) -
                                             IndexRow<float>(p.rows, ry)[rx];
                            sum += d * d;
                            ++count;
                        }
                    if (count && static_cast<float>(sum / count) < bestMeasure) {
                        bestMeasure = static_cast<float>(sum / count);
                        expected = k;
                    }
                }
                int best = -1;
                BmMinSSD(c.rows, ox, oy, p.rows, ox, oy, IMG_REP_FLOAT, 8, 8, list, &best, step, border, h,
                         w);
                ASSERT_EQ(best, expected) << ox << "," << oy << " step " << step;
            }
    EXPECT_EQ(messages.Texts(),
              std::vector<std::string>{"BmMinSSD - Needs software revision: probably going to crash"});
    // A representation it cannot judge is told after the warning, the warning only once per run.
    int best = 42;
    BmMinSSD(c.rows, 0, 0, p.rows, 0, 0, 7, 4, 4, list, &best, 1, border, h, w);
    BmBeginRun();
    BmMinSSD(c.rows, 0, 0, p.rows, 0, 0, IMG_REP_FLOAT, 4, 4, list, &best, 1, border, h, w);
    EXPECT_EQ(messages.Texts(),
              (std::vector<std::string>{"BmMinSSD - Needs software revision: probably going to crash",
                                        "BmMinSSD - Invalid Image representation",
                                        "BmMinSSD - Needs software revision: probably going to crash"}));
}

TEST(BlockMatching, NothingToJudgeIsToldOncePerRunAndKeepsTheZeroDisplacement)
{
    zn::MessageRecorder messages;
    const ImgPtr cur = BorderedFrame(8, 8, 2, [](int x, int) { return static_cast<float>(x); });
    const ImgPtr prev = BorderedFrame(8, 8, 2, [](int x, int) { return static_cast<float>(x); });
    const Rows c(cur.get(), 2), p(prev.get(), 2);
    const int ca[] = {-1, 0, 1}, cb[] = {0, 0, 0};
    const BmCandidates list{3, ca, cb};
    BmBeginRun();
    for (int call = 0; call < 3; ++call) {
        int best = -1;
        BmMinSAD(c.rows, -100, -100, p.rows, -100, -100, IMG_REP_FLOAT, 4, 4, list, &best, 1, 2, 8, 8);
        EXPECT_EQ(best, 1);
    }
    EXPECT_EQ(messages.Texts(),
              (std::vector<std::string>{
                  "BmMinSAD - Software Error: Not enough points in window for calculation SAD",
                  "Report this error to the authors, plus conditions under which it happened",
                  "Optimal motion vector is reset to zero ..."}));
    BmBeginRun();
    int best = -1;
    BmMinSAD(c.rows, -100, -100, p.rows, -100, -100, IMG_REP_FLOAT, 4, 4, list, &best, 1, 2, 8, 8);
    EXPECT_EQ(messages.Count(), 6u);

    // A frame that is not float is refused and the slot keeps what it held.
    best = 42;
    BmMinSAD(c.rows, 0, 0, p.rows, 0, 0, IMG_REP_INT, 4, 4, list, &best, 1, 2, 8, 8);
    EXPECT_EQ(best, 42);
    EXPECT_TRUE(messages.Contains("BmMinSAD - Invalid representation in ths implementation"));
}

TEST(BlockMatching, UnknownCriterionIsToldOnceAndLeavesTheStartingVectors)
{
    zn::MessageRecorder messages;
    const ImgPtr cur = BorderedFrame(16, 16, 3, [](int x, int y) { return static_cast<float>(x * y); });
    const ImgPtr prev = BorderedFrame(16, 16, 3, [](int x, int y) { return static_cast<float>(x + y); });
    const struct
    {
        SearchFn search;
        const char *text;
    } cases[] = {{BmBruteForceSearch, "BmBruteForceSearch - Invalid evaluation criterium"},
                 {BmOneTimeSearch, "BmOneTimeSearch - Invalid evaluation criterium"},
                 {BmNStepSearch, "BmNStepSearch - Criterium not yet implemented"}};
    for (const auto &c : cases) {
        BmBeginRun();
        messages.Clear();
        MeField out = NewField(4, 4, 4);
        MeField start = NewField(4, 4, 4);
        for (int k = 0; k < 16; ++k)
            Set(start.get(), k, k % 3 - 1, 1);
        c.search(cur.get(), prev.get(), out.get(), start.get(), 4, 4, 2, 7, 3, 0, 0, 1);
        EXPECT_EQ(messages.Texts(), std::vector<std::string>{c.text});
        for (int k = 0; k < 16; ++k) {
            EXPECT_EQ(A(out.get(), k), k % 3 - 1);
            EXPECT_EQ(B(out.get(), k), 1);
        }
    }
}

} // namespace

} // namespace bm_search_test
