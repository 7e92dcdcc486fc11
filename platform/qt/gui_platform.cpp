// QMessageBox for the engines' questions, and a key watcher for the frame loops.
#include "platform/qt/gui_platform.h"

#include "platform/keypoll.h"
#include "platform/messages.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QMessageBox>
#include <utility>

namespace zn {

namespace {

QMessageBox::Icon ToQtIcon(MsgIcon icon)
{
    switch (icon) {
    case MsgIcon::Information:
        return QMessageBox::Information;
    case MsgIcon::Warning:
        return QMessageBox::Warning;
    case MsgIcon::Error:
        return QMessageBox::Critical;
    case MsgIcon::Question:
        return QMessageBox::Question;
    case MsgIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

MsgAnswer ShowQtMessage(const MessageRequest &r)
{
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    switch (r.buttons) {
    case MsgButtons::Ok:
        buttons = QMessageBox::Ok;
        break;
    case MsgButtons::OkCancel:
        buttons = QMessageBox::Ok | QMessageBox::Cancel;
        break;
    case MsgButtons::YesNo:
        buttons = QMessageBox::Yes | QMessageBox::No;
        break;
    case MsgButtons::YesNoCancel:
        buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        break;
    }
    QString text = QString::fromStdString(r.text);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(ToQtIcon(r.icon), QString::fromStdString(r.caption), text, buttons,
                    QApplication::activeWindow());
    switch (box.exec()) {
    case QMessageBox::Yes:
        return MsgAnswer::Yes;
    case QMessageBox::No:
        return MsgAnswer::No;
    case QMessageBox::Cancel:
        return MsgAnswer::Cancel;
    default:
        return MsgAnswer::Ok;
    }
}

// Watches the keyboard for the frame loops. Only a key that goes down while a loop polls counts:
// every key typed before (a file name, an edit field, the Enter that closed a file dialog) or into a
// question box between frames was meant for that window, and delivered to it before the loop looked.
// While a loop polls, the user's other input is dropped too: a click or a closed window inside a run
// would reach dialogs and documents that the loop is still using.
class KeyWatcher : public QObject
{
public:
    using QObject::QObject;
    bool pressed = false;
    bool polling = false;

    // Lets windows repaint and collects the keys pressed since the last poll.
    bool Poll()
    {
        polling = true;
        QCoreApplication::processEvents();
        polling = false;
        return std::exchange(pressed, false);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (polling && event->type() == QEvent::KeyPress) {
            pressed = true;
            return true;
        }
        if (polling && IsUserInput(event))
            return true;
        return QObject::eventFilter(watched, event);
    }

private:
    static bool IsUserInput(const QEvent *event)
    {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::NonClientAreaMouseButtonPress:
        case QEvent::NonClientAreaMouseButtonRelease:
        case QEvent::NonClientAreaMouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
            return true;
        case QEvent::Close:
            return event->spontaneous();
        default:
            return false;
        }
    }
};

} // namespace

void InstallGuiKeyPoll()
{
    static KeyWatcher *watcher = nullptr; // one for the application, however often installed
    if (!watcher) {
        watcher = new KeyWatcher(qApp);
        qApp->installEventFilter(watcher);
    }
    SetKeyPoller([] { return watcher->Poll(); });
    SetKeyForgetter([] { watcher->pressed = false; });
}

void InstallGuiPlatform()
{
    SetMessageHandler(ShowQtMessage);
    InstallGuiKeyPoll();
}

WaitCursor::WaitCursor()
{
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
}
WaitCursor::~WaitCursor()
{
    QGuiApplication::restoreOverrideCursor();
}

} // namespace zn
