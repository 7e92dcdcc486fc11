// The searches on real texture: a window panned across a photograph by ffmpeg moves every block by
// the pan, so the searches must return it wherever the block's source lies inside the previous
// frame, and the compensated difference must vanish there.
#include "mpeg/me/bm_search.h"
#include "mpeg/me/me_hier.h"
#include "mpeg/me/me_measures.h"
#include "mpeg/me/me_run.h"
#include "mpeg/support/frames.h"
#include "mpeg/support/sequences.h"
#include "platform/messages.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace pan_search_test { // one namespace per test file: a folder compiles as one source

using namespace zntest;

namespace {

const char *kBlur = "gblur=sigma=4";

struct PanPair
{
    std::vector<uint8_t> prev, cur;
    int width = 0, height = 0;
};

struct SearchCase
{
    MeSettings settings;
    int dx, dy;
    const char *photo = "camera";
    const char *filter = "";
};

// Frames 1 and 2 of a pan by (dx, dy) per frame.
bool MakePair(const ScratchDir &dir, const SearchCase &c, int width, int height, PanPair *pair)
{
    Pan pan;
    pan.width = width;
    pan.height = height;
    pan.frames = 2;
    pan.x0 = 100;
    pan.y0 = 120;
    pan.dx = c.dx;
    pan.dy = c.dy;
    pan.filter = c.filter;
    const std::string path = MakePanSequence(dir.Path(), "pan", PhotoPath(c.photo, "png"), pan);
    if (path.empty())
        return false;
    auto frames = ReadLumaFrames(path, width, height);
    if (frames.size() != 2)
        return false;
    pair->prev = frames[0];
    pair->cur = frames[1];
    pair->width = width;
    pair->height = height;
    return true;
}

// Blocks whose source, moved by (dx, dy), lies inside the picture, `margin` pixels away from its edge.
bool Interior(int x, int y, int block, int dx, int dy, int width, int height, int margin)
{
    return x + dx >= margin && y + dy >= margin && x + dx + block <= width - margin &&
           y + dy + block <= height - margin && x >= margin && y >= margin && x + block <= width - margin &&
           y + block <= height - margin;
}

// True when the block at (x, y) of the current frame matches the previous frame exactly at (dx, dy)
// and at no other displacement within reach: the pan is then the only right answer for it.
bool OnlyThePanMatches(const PanPair &p, int x, int y, int block, int dx, int dy, int reach)
{
    auto prevAt = [&](int px, int py) {
        if (px < 0 || py < 0 || px >= p.width || py >= p.height)
            return 127;
        return static_cast<int>(p.prev[py * p.width + px]);
    };
    auto matches = [&](int u, int v) {
        for (int i = 0; i < block; ++i)
            for (int j = 0; j < block; ++j)
                if (p.cur[(y + i) * p.width + x + j] != prevAt(x + j + u, y + i + v))
                    return false;
        return true;
    };
    if (!matches(dx, dy))
        return false;
    for (int v = -reach; v <= reach; ++v)
        for (int u = -reach; u <= reach; ++u)
            if ((u != dx || v != dy) && matches(u, v))
                return false;
    return true;
}

// Runs the module's estimator on the pair. Every block that only the pan explains must get the pan;
// with `zeroDifference`, every interior block must be predicted without error.
// Mean absolute difference of the block at (x, y) against the previous frame at (u, v), all inside.
double BlockSad(const PanPair &p, int x, int y, int block, int u, int v)
{
    double sum = 0;
    for (int i = 0; i < block; ++i)
        for (int j = 0; j < block; ++j)
            sum += std::abs(p.cur[(y + i) * p.width + x + j] - p.prev[(y + i + v) * p.width + x + j + u]);
    return sum / (block * block);
}

// A vertical pan is found by the one-at-a-time search where its horizontal pass, trying the
// horizontal displacements with no vertical one, likes no displacement as much as none.
bool HorizontalPassStaysPut(const PanPair &p, int x, int y, int block, int reach)
{
    if (x - reach < 0 || x + block + reach > p.width)
        return false;
    const double still = BlockSad(p, x, y, block, 0, 0);
    for (int u = -reach; u <= reach; ++u)
        if (u != 0 && BlockSad(p, x, y, block, u, 0) <= still)
            return false;
    return true;
}

struct PanCheck
{
    int margin = 0;
    bool zeroDifference = false; // every interior block predicted without error
    double minFound = 1.0;       // share of the blocks only the pan explains that must get it
    bool wellPosedOnly = false;  // judge only blocks whose horizontal pass stays put
};

// Runs the module's estimator on the pair; returns the share of the blocks that only the pan explains
// which got it.
double CheckPan(const SearchCase &c, const PanCheck &check)
{
    SCOPED_TRACE(testing::Message() << MeResultTag(c.settings) << " pan " << c.dx << "," << c.dy << " "
                                    << c.photo << " " << c.filter);
    ScratchDir dir;
    PanPair pair;
    MePlan plan;
    if (!MakePair(dir, c, 352, 288, &pair) || !MePlanRun(c.settings, &plan)) {
        ADD_FAILURE() << "no pan";
        return 0;
    }
    MeEstimator est(c.settings, plan, pair.height, pair.width);
    if (!est.Ok()) {
        ADD_FAILURE() << "no estimator";
        return 0;
    }
    est.LoadPrevious(pair.prev.data());
    est.LoadCurrent(pair.cur.data());
    MeField field = est.Estimate();
    est.Measure(field.get(), true);
    const int b = plan.block;
    EXPECT_EQ(field->cols, pair.width / b);
    int unique = 0, interior = 0, wrong = 0;
    for (int br = 0; br < field->rows; ++br)
        for (int bc = 0; bc < field->cols; ++bc) {
            const int x = bc * b, y = br * b;
            if (!Interior(x, y, b, c.dx, c.dy, pair.width, pair.height, check.margin))
                continue;
            if (check.wellPosedOnly && !HorizontalPassStaysPut(pair, x, y, b, c.settings.maxDispl))
                continue;
            ++interior;
            const int k = br * field->cols + bc;
            if (OnlyThePanMatches(pair, x, y, b, c.dx, c.dy, plan.border)) {
                ++unique;
                if (A(field.get(), k) != c.dx || B(field.get(), k) != c.dy)
                    ++wrong;
            }
            if (check.zeroDifference) {
                const float *mcfd = est.McFrameDifference().Data();
                for (int i = 0; i < b; ++i)
                    for (int j = 0; j < b; ++j)
                        if (mcfd[(y + i) * pair.width + x + j] != 127.0f) {
                            ADD_FAILURE() << "block " << bc << "," << br << " is not predicted exactly";
                            return 0;
                        }
            }
        }
    // Enough of the photograph is texture enough to pin the pan down.
    EXPECT_GT(unique, check.wellPosedOnly ? 0 : interior / 2);
    const double found = unique ? 1.0 - static_cast<double>(wrong) / unique : 0.0;
    EXPECT_GE(found, check.minFound) << wrong << " of " << unique << " blocks missed the pan";
    return found;
}

MeSettings Settings(int method, int levels, int maxDispl, int nSteps, int block)
{
    MeSettings s;
    s.SearchMethod = method;
    s.levels = levels;
    s.maxDispl = maxDispl;
    s.nSteps = nSteps;
    s.blockSize = block;
    return s;
}

TEST(PanSearch, FullSearchReturnsThePan)
{
    ZN_REQUIRE_PHOTO("camera");
    ZN_REQUIRE_TOOL("ffmpeg");
    zn::MessageRecorder messages;
    PanCheck strict;
    strict.zeroDifference = true;
    for (const SearchCase &c :
         {SearchCase{Settings(0, 1, 15, 4, 8), 3, -2}, SearchCase{Settings(0, 1, 15, 4, 16), -7, 5},
          SearchCase{Settings(0, 1, 15, 4, 8), 15, -15}, SearchCase{Settings(0, 1, 7, 4, 4), 0, 6}})
        CheckPan(c, strict);
    EXPECT_EQ(messages.Count(), 0u);
}

TEST(PanSearch, NStepFindsShiftsUpToItsReach)
{
    ZN_REQUIRE_PHOTO("moon");
    ZN_REQUIRE_TOOL("ffmpeg");
    // A greedy search: each step keeps the best of nine, so texture that misleads a coarse step loses
    // the block. On a smoothed photograph most blocks lead it to the pan, and N steps reach 2^N - 1.
    PanCheck most;
    most.minFound = 0.5;
    for (const SearchCase &c : {SearchCase{Settings(2, 1, 15, 2, 16), 3, -3, "moon", kBlur},
                                SearchCase{Settings(2, 1, 15, 3, 16), -7, 4, "moon", kBlur},
                                SearchCase{Settings(2, 1, 15, 4, 16), 15, -9, "moon", kBlur},
                                SearchCase{Settings(2, 1, 15, 4, 16), -5, 11, "moon", kBlur}})
        std::printf("%s pan %d,%d: %.0f %% of the blocks\n", MeResultTag(c.settings).c_str(), c.dx, c.dy,
                    100 * CheckPan(c, most));
}

TEST(PanSearch, OneAtATimeFindsPureHorizontalAndVerticalShifts)
{
    ZN_REQUIRE_PHOTO("camera");
    ZN_REQUIRE_TOOL("ffmpeg");
    // A horizontal pan is matched exactly by the first pass, and the second finds nothing to add.
    PanCheck strict;
    for (const SearchCase &c :
         {SearchCase{Settings(1, 1, 15, 4, 8), 9, 0}, SearchCase{Settings(1, 1, 15, 4, 8), -14, 0}})
        CheckPan(c, strict);
    // A vertical pan needs the horizontal pass to stay at 0, which a block's texture may not allow
    // (a slanted edge is matched as well by a sideways shift): the blocks where it stays must get it.
    PanCheck wellPosed;
    wellPosed.wellPosedOnly = true;
    for (const SearchCase &c :
         {SearchCase{Settings(1, 1, 7, 4, 16), 0, 6}, SearchCase{Settings(1, 1, 15, 4, 8), 0, -15}})
        CheckPan(c, wellPosed);
}

TEST(PanSearch, LevelsReachBeyondOneLevel)
{
    ZN_REQUIRE_PHOTO("camera");
    ZN_REQUIRE_TOOL("ffmpeg");
    // One level reaches 15 at most and finds no 20-pixel pan; two levels "15 - 7" reach 22, three
    // levels "15 - 7 - 3" 25. The coarse windows (64 wide) see past the block, so blocks near the
    // edge are left out.
    PanCheck none;
    none.minFound = 0;
    EXPECT_EQ(CheckPan(SearchCase{Settings(0, 1, 15, 4, 8), 20, 0, "camera", kBlur}, none), 0.0);
    PanCheck most;
    most.margin = 32;
    most.minFound = 0.75;
    for (const SearchCase &c : {SearchCase{Settings(0, 2, 22, 3, 8), 20, 0, "camera", kBlur},
                                SearchCase{Settings(0, 3, 25, 3, 8), 20, -20, "camera", kBlur},
                                SearchCase{Settings(0, 2, 22, 3, 16), -20, 12, "camera", kBlur}})
        std::printf("%s pan %d,%d: %.0f %% of the blocks\n", MeResultTag(c.settings).c_str(), c.dx, c.dy,
                    100 * CheckPan(c, most));
    // The N-step search at every level is greedier still.
    most.minFound = 0.5;
    for (const SearchCase &c : {SearchCase{Settings(2, 2, 22, 4, 8), 20, 0, "camera", kBlur},
                                SearchCase{Settings(2, 3, 25, 4, 8), -20, 20, "camera", kBlur}})
        std::printf("%s pan %d,%d: %.0f %% of the blocks\n", MeResultTag(c.settings).c_str(), c.dx, c.dy,
                    100 * CheckPan(c, most));
}

} // namespace

} // namespace pan_search_test
