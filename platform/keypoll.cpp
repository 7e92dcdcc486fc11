// Key-press polling between frames.
#include "platform/keypoll.h"

namespace zn {

namespace {
KeyPoller &Poller()
{
    static KeyPoller poller;
    return poller;
}
KeyForgetter &Forgetter()
{
    static KeyForgetter forgetter;
    return forgetter;
}
} // namespace

void ForgetKeyPresses()
{
    if (auto &f = Forgetter())
        f();
}

KeyForgetter SetKeyForgetter(KeyForgetter forgetter)
{
    KeyForgetter previous = std::move(Forgetter());
    Forgetter() = std::move(forgetter);
    return previous;
}

bool TakeKeyPress()
{
    auto &p = Poller();
    return p ? p() : false;
}

KeyPoller SetKeyPoller(KeyPoller poller)
{
    KeyPoller previous = std::move(Poller());
    Poller() = std::move(poller);
    return previous;
}

} // namespace zn
