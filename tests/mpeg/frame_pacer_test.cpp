// Frame pacing: a frame lasts at least the period, never longer because of the pacer.
#include "platform/frame_pacer.h"

#include "mpeg/support/fake_clock.h"

#include <gtest/gtest.h>

namespace frame_pacer_test { // one namespace per test file: a folder compiles as one source

namespace {

TEST(FramePacer, WaitsOutTheRestOfThePeriod)
{
    zntest::FakeFrameClock clock;
    zn::FramePacer pacer;
    const struct
    {
        int64_t work;
        std::vector<int64_t> sleeps;
    } cases[] = {{0, {50}}, {12, {38}}, {49, {1}}, {50, {}}, {400, {}}};
    for (const auto &c : cases) {
        clock.sleeps.clear();
        pacer.NoteFrameStart();
        const int64_t start = clock.now;
        clock.now += c.work;
        pacer.WaitFrameEnd();
        EXPECT_EQ(clock.sleeps, c.sleeps) << c.work;
        EXPECT_EQ(clock.now - start, std::max<int64_t>(c.work, 50));
    }
    clock.sleeps.clear();
    pacer.NoteFrameStart();
    pacer.WaitFrameEnd(20);
    EXPECT_EQ(clock.sleeps, std::vector<int64_t>{20});
}

} // namespace

} // namespace frame_pacer_test
