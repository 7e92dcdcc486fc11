// A frame clock for tests: time stands still unless a sleep (or the test) moves it, and every sleep is
// recorded, so a frame loop's pacing is checked without waiting.
#pragma once

#include "platform/frame_pacer.h"

#include <cstdint>
#include <vector>

namespace zntest {

class FakeFrameClock
{
public:
    FakeFrameClock()
    {
        m_previous = zn::SetFrameClock({[this] { return now; },
                                        [this](int64_t ms) {
                                            sleeps.push_back(ms);
                                            now += ms;
                                        }});
    }
    ~FakeFrameClock() { zn::SetFrameClock(m_previous); }
    FakeFrameClock(const FakeFrameClock &) = delete;
    FakeFrameClock &operator=(const FakeFrameClock &) = delete;

    int64_t now = 1000;
    std::vector<int64_t> sleeps;

private:
    zn::FrameClock m_previous;
};

} // namespace zntest
