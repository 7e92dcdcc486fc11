// Key-press polling between frames.
#include "platform/keypoll.h"

namespace zn {

namespace {
KeyPoller &Poller()
{
    static KeyPoller poller;
    return poller;
}
} // namespace

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
