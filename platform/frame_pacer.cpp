// Frame pacing on a steady clock (the wall clock may jump; a frame's length may not).
#include "platform/frame_pacer.h"

#include <chrono>
#include <thread>

namespace zn {

namespace {
FrameClock &Installed()
{
    static FrameClock clock;
    return clock;
}

int64_t NowMs()
{
    const FrameClock &c = Installed();
    if (c.nowMs)
        return c.nowMs();
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void SleepMs(int64_t ms)
{
    const FrameClock &c = Installed();
    if (c.sleepMs)
        c.sleepMs(ms);
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
} // namespace

FrameClock SetFrameClock(FrameClock clock)
{
    FrameClock previous = std::move(Installed());
    Installed() = std::move(clock);
    return previous;
}

void FramePacer::NoteFrameStart()
{
    m_startMs = NowMs();
}

void FramePacer::WaitFrameEnd(int periodMs) const
{
    const int64_t passed = NowMs() - m_startMs;
    if (passed >= 0 && passed < periodMs)
        SleepMs(periodMs - passed);
}

} // namespace zn
