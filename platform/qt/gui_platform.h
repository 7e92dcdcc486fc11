// Qt implementations of the platform services: message boxes shown with QMessageBox, the key poller
// of frame loops, and RAII cursor guards.
#pragma once

#include <QCursor>

namespace zn {

// Installs the QMessageBox handler and the key poller. Call once after QApplication exists.
void InstallGuiPlatform();

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
