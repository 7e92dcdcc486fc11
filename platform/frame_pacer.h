// Frame pacing of the video loops: each shown frame stays on screen for at least one period, so a
// sequence plays at no more than 20 frames a second however fast a frame is read and drawn. The
// loop notes when a frame starts and, once it is shown, waits out the rest of the period on a steady
// clock. Tests install a fake clock, as they install a key poller.
#pragma once

#include <cstdint>
#include <functional>

namespace zn {

inline constexpr int kFramePeriodMs = 50;

// Milliseconds of a steady clock, and a sleep of so many milliseconds. An empty member falls back on
// the real one.
struct FrameClock
{
    std::function<int64_t()> nowMs;
    std::function<void(int64_t ms)> sleepMs;
};

// Installs a clock and returns the previous one (empty members for the real clock).
FrameClock SetFrameClock(FrameClock clock);

class FramePacer
{
public:
    // Notes the start of a frame.
    void NoteFrameStart();
    // Sleeps for what is left of the period since the noted start; nothing when it has passed.
    void WaitFrameEnd(int periodMs = kFramePeriodMs) const;

private:
    int64_t m_startMs = 0;
};

} // namespace zn
