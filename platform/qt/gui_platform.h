// Qt implementations of the platform services: message boxes shown with QMessageBox, the key poller
// of frame loops, and RAII cursor guards.
#pragma once

#include <QCursor>

namespace zn {

// Installs the QMessageBox handler and the key poll. Call once after QApplication exists.
void InstallGuiPlatform();
// The key poll alone: frame loops repaint the windows and hear the keys pressed while they run.
void InstallGuiKeyPoll();

// Busy (wait) cursor for the lifetime of the guard.
class WaitCursor
{
public:
    WaitCursor();
    ~WaitCursor();
    WaitCursor(const WaitCursor &) = delete;
    WaitCursor &operator=(const WaitCursor &) = delete;
};

} // namespace zn
