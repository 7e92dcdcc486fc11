// The file dialogs modules open from their pages: choosing a file to load (a VQ codebook) or naming
// one to save (a codebook, a decoded sequence). Tests install a hook that answers instead of a user.
#pragma once

#include <QString>
#include <functional>

struct ModuleFileRequest
{
    bool save = false;
    QString title;
    QString initialDir;
    QString initialName;
    QString filter; // "Name (*.x)|*.x||"
    QString defaultSuffix;
};

// The chosen path, or "" when the user cancelled.
QString RunModuleFileDialog(const ModuleFileRequest &request);

using ModuleFileDialogHook = std::function<QString(const ModuleFileRequest &)>;
// Installs a hook (an empty one restores the real dialog) and returns the previous one.
ModuleFileDialogHook SetModuleFileDialogHook(ModuleFileDialogHook hook);
