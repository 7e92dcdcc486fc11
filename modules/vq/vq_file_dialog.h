// The two file dialogs of the VQ module: choosing a codebook to load and naming one to save. Tests
// install a hook that answers instead of a user.
#pragma once

#include <QString>
#include <functional>

struct VqFileRequest
{
    bool save = false;
    QString title;
    QString initialDir;
    QString initialName;
    QString filter; // "Name (*.x)|*.x||"
    QString defaultSuffix;
};

// The chosen path, or "" when the user cancelled.
QString RunVqFileDialog(const VqFileRequest &request);

using VqFileDialogHook = std::function<QString(const VqFileRequest &)>;
// Installs a hook (an empty one restores the real dialog) and returns the previous one.
VqFileDialogHook SetVqFileDialogHook(VqFileDialogHook hook);
