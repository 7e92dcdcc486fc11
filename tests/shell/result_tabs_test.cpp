// The tab distance of a result box: regular stops at multiples of d, a tab going to the first stop
// beyond the text, and d widened from the regular distance until every tab leaves a blank after the
// letters before it.
#include "shell/result_tabs.h"

#include <gtest/gtest.h>

namespace result_tabs_test { // one namespace per test file: a folder compiles as one source

namespace {

using zn::TabbedLine;

TEST(ResultTabs, DistanceIsWidenedOnlyAsFarAsTheNarrowestGapNeeds)
{
    const struct
    {
        const char *what;
        std::vector<TabbedLine> lines;
        double expect; // base 48, a blank of 3
    } cases[] = {
        {"no tab", {}, 48},
        {"a short label", {{{20, 20}}}, 48},
        {"a label 1 pixel before the stop", {{{47, 47}}}, 50},
        {"a label on the stop goes on to the next", {{{48, 48}}}, 48},
        {"a blank before the tab is part of the gap", {{{44, 47}}}, 48},
        // "A\tB\tC": the second text starts at the first stop; 48 + 46 ends 2 short of 96.
        {"the second tab counts from the first stop", {{{10, 10}, {46, 46}}}, 49},
        // Widening for one line must not make another touch: 47 needs 50, and 99 at 50 ends 1 short.
        {"every line at once", {{{47, 47}}, {{99, 99}}}, 51},
        {"an empty text between two tabs", {{{20, 20}, {0, 0}}}, 48},
    };
    for (const auto &c : cases)
        EXPECT_EQ(zn::FitTabDistance(c.lines, 48, 3), c.expect) << c.what;
}

TEST(ResultTabs, WithNoDistanceGoodEnoughTheWidestGapWins)
{
    // A gap of 60 can never be had below twice the base: of all distances up to 96 the one that leaves
    // the most room after the 40-pixel label is 96 itself.
    EXPECT_EQ(zn::FitTabDistance({{{40, 40}}}, 48, 60), 96);
    EXPECT_EQ(zn::FitTabDistance({{{40, 40}}}, 0, 3), 0); // no distance to widen
}

} // namespace

} // namespace result_tabs_test
