// Frame loops ask, once per frame, whether a key was pressed since the last frame, and take that
// press. The GUI installs the real poller (it also lets windows repaint); tests install a script.
#pragma once

#include <functional>

namespace zn {

using KeyPoller = std::function<bool()>;

// True when a key press was waiting; the press is consumed.
bool TakeKeyPress();
KeyPoller SetKeyPoller(KeyPoller poller);

// A frame loop calls this before its first frame: keys pressed earlier (typing a file name, say) were
// meant for other windows, not for stopping the loop. The GUI installs the forgetter.
void ForgetKeyPresses();
using KeyForgetter = std::function<void()>;
KeyForgetter SetKeyForgetter(KeyForgetter forgetter);

} // namespace zn
