// Control ids, dialog units and the help entry point shared by every dialog.
#include "shell/dialog_support.h"

#include "shell/help_window.h"

#include <QVariant>

namespace zn {

namespace {
const char kCtrlIdProperty[] = "ctrlId";

HelpHandler &CurrentHelpHandler()
{
    static HelpHandler handler;
    return handler;
}

int MulDivRound(int a, int b, int c)
{
    long long p = static_cast<long long>(a) * b;
    return static_cast<int>(p >= 0 ? (p + c / 2) / c : -((-p + c / 2) / c));
}
} // namespace

void SetCtrlId(QWidget *control, int id)
{
    control->setProperty(kCtrlIdProperty, id);
    control->setObjectName(QStringLiteral("ctrl%1").arg(id));
}

int CtrlId(const QWidget *control)
{
    QVariant v = control->property(kCtrlIdProperty);
    return v.isValid() ? v.toInt() : 0;
}

QWidget *FindControl(const QWidget *dialog, int id)
{
    if (!dialog)
        return nullptr;
    const auto children = dialog->findChildren<QWidget *>();
    for (QWidget *w : children) {
        if (CtrlId(w) == id)
            return w;
    }
    return nullptr;
}

int DluToPixelsX(int dlu)
{
    return MulDivRound(dlu, 6, 4);
}
int DluToPixelsY(int dlu)
{
    return MulDivRound(dlu, 13, 8);
}
QRect DluRect(int x, int y, int w, int h)
{
    return QRect(DluToPixelsX(x), DluToPixelsY(y), DluToPixelsX(w), DluToPixelsY(h));
}

void OpenHelp(int contextId)
{
    if (CurrentHelpHandler())
        CurrentHelpHandler()(contextId);
    else
        CHelpWindow::ShowTopic(contextId);
}

HelpHandler SetHelpHandler(HelpHandler handler)
{
    HelpHandler previous = std::move(CurrentHelpHandler());
    CurrentHelpHandler() = std::move(handler);
    return previous;
}

} // namespace zn
