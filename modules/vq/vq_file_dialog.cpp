// File dialogs of the VQ module, replaceable by tests.
#include "modules/vq/vq_file_dialog.h"

#include "shell/doc_app.h"

#include <QFileDialog>
#include <utility>

namespace {

VqFileDialogHook &Hook()
{
    static VqFileDialogHook hook;
    return hook;
}

} // namespace

VqFileDialogHook SetVqFileDialogHook(VqFileDialogHook hook)
{
    return std::exchange(Hook(), std::move(hook));
}

QString RunVqFileDialog(const VqFileRequest &request)
{
    if (Hook())
        return Hook()(request);
    QFileDialog dialog(nullptr, request.title, request.initialDir, DocQtFilter(request.filter));
    if (request.save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        // An existing codebook is replaced without a question, as the design dialog promises.
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
