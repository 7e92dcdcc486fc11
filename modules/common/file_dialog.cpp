// Module file dialogs, replaceable by tests.
#include "modules/common/file_dialog.h"

#include "shell/doc_app.h"

#include <QFileDialog>
#include <utility>

namespace {

ModuleFileDialogHook &Hook()
{
    static ModuleFileDialogHook hook;
    return hook;
}

} // namespace

ModuleFileDialogHook SetModuleFileDialogHook(ModuleFileDialogHook hook)
{
    return std::exchange(Hook(), std::move(hook));
}

QString RunModuleFileDialog(const ModuleFileRequest &request)
{
    if (Hook())
        return Hook()(request);
    QFileDialog dialog(nullptr, request.title, request.initialDir, DocQtFilter(request.filter));
    if (request.save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        // An existing file is replaced without a question: the modules' save buttons promise a new
        // file of that name (a codebook, a decoded sequence).
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
    } else {
        dialog.setFileMode(QFileDialog::ExistingFile);
    }
    if (!request.defaultSuffix.isEmpty())
        dialog.setDefaultSuffix(request.defaultSuffix);
    dialog.selectFile(request.initialName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().front();
}
