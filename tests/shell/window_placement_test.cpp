// Window arithmetic: aspect fit, display maxima, result-window positions, the power-of-two rule.
#include "shell/window_placement.h"

#include <gtest/gtest.h>

namespace window_placement_test { // one namespace per test file: a folder compiles as one source

using namespace zn;

TEST(WindowPlacement, AspectFit)
{
    const struct
    {
        int w, h, w0, h0, mw, mh;
        WinSize expect;
    } rows[] = {
        {311, 311, 512, 512, 376, 301, {311, 311}}, // already fitting: unchanged
        {376, 301, 512, 512, 376, 301, {301, 301}}, // too wide: the width gives way
        {500, 301, 512, 512, 376, 301, {301, 301}}, // dragged wider: snaps back
        {400, 450, 512, 512, 376, 301, {400, 400}}, // dragged higher: the height gives way
        {300, 200, 512, 512, 376, 301, {301, 301}}, // never below the maxima, then fitted
        {300, 100, 200, 100, 376, 301, {200, 100}}, // 2:1 image
        {300, 200, 200, 100, 376, 301, {300, 150}}, {10, 10, 3, 7, 100, 100, {4, 10}}, // 7/3: width truncated
        {20, 20, 16, 16, 100, 100, {20, 20}},
    };
    for (const auto &r : rows)
        EXPECT_EQ(AspectFit(r.w, r.h, r.w0, r.h0, r.mw, r.mh), r.expect)
            << r.w << "x" << r.h << " image " << r.w0 << "x" << r.h0;
}

TEST(WindowPlacement, DisplayMaximaAndInitialSize)
{
    // 1024 x 700 client, 20-pixel menu bar, 3-pixel dialog frame, borders 8 and 26.
    EXPECT_EQ(MaxDisplaySize(1024, 700, 20, 3, 8, 26), (WinSize{376, 301}));
    EXPECT_EQ(MaxDisplaySize(1025, 701, 20, 3, 8, 26), (WinSize{376, 301}));
    EXPECT_EQ(MaxDisplaySize(100, 40, 20, 3, 8, 26), (WinSize{-86, -29})); // halved toward zero
    const struct
    {
        int w0, h0;
        WinSize expect;
    } rows[] = {
        {100, 50, {100, 50}},   {376, 301, {376, 301}}, {512, 512, {301, 301}},
        {1000, 200, {376, 75}}, {200, 1000, {60, 301}},
    };
    for (const auto &r : rows)
        EXPECT_EQ(InitialDisplaySize(r.w0, r.h0, 376, 301), r.expect) << r.w0 << "x" << r.h0;
}

PlacementMetrics Metrics()
{
    PlacementMetrics pm;
    pm.dx = 7;
    pm.dy3 = 69;
    pm.m = 20;
    pm.W = 768;
    pm.H = 654;
    pm.rRight = 400;
    pm.rBottom = 327;
    return pm;
}

TEST(WindowPlacement, ResultWindowsAndChain)
{
    const PlacementMetrics pm = Metrics();
    EXPECT_EQ(ResultAPosition(pm, false), (WinPos{395, 0}));
    EXPECT_EQ(ResultBPosition(pm, false), (WinPos{395, 258}));
    EXPECT_EQ(ResultAPosition(pm, true), (WinPos{393, 0}));
    EXPECT_EQ(ResultBPosition(pm, true), (WinPos{393, 258}));
    EXPECT_EQ(FirstChainPosition(pm), (WinPos{0, 258}));
    const struct
    {
        int lx, ly;
        WinPos expect;
    } rows[] = {
        {0, 258, {20, 218}},    // cascade: right by m, up by 2m
        {728, 258, {748, 218}}, // 748 is not past W - m
        {729, 258, {40, 287}},  // past the right edge: back to the left, below the document
        {0, 675, {20, 287}},    // past the bottom: below the document, still moving right
        {740, 700, {40, 287}},  {0, 674, {20, 634}},
    };
    for (const auto &r : rows)
        EXPECT_EQ(NextChainPosition(pm, r.lx, r.ly), r.expect) << r.lx << "," << r.ly;
}

TEST(WindowPlacement, LegendAndWindowD)
{
    const PlacementMetrics pm = Metrics();
    const WinPos far{788, 258}, right{393, 258}, left{0, 258}, top{393, 0};
    // Index f1 + 2 f2 + 4 f3 + 8 f4.
    const WinPos legend[16] = {top,  left,  top,   right, top,  left, top, far,
                               left, right, right, far,   left, far,  far, far};
    for (int k = 0; k < 16; ++k)
        EXPECT_EQ(LegendPosition(pm, k & 1, k & 2, k & 4, k & 8), legend[k]) << "flags " << k;
    EXPECT_EQ(ResultDPosition(pm, false, true, true), top);
    EXPECT_EQ(ResultDPosition(pm, true, false, true), left);
    EXPECT_EQ(ResultDPosition(pm, true, true, false), right);
    EXPECT_EQ(ResultDPosition(pm, true, true, true), (WinPos{788, 0}));
}

TEST(WindowPlacement, PowerOfTwo)
{
    for (int x : {1, 2, 4, 8, 256, 512, 1024, 1 << 20, 1 << 30})
        EXPECT_TRUE(IsPowerOfTwo(x)) << x;
    for (int x : {0, -4, 3, 6, 200, 255, 257, 513, (1 << 30) + 1, 0x7FFFFFFF})
        EXPECT_FALSE(IsPowerOfTwo(x)) << x;
}

} // namespace window_placement_test
