// QMessageBox for the engines' questions, and a key watcher for the frame loops.
#include "platform/qt/gui_platform.h"

#include "platform/keypoll.h"
#include "platform/messages.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QMessageBox>

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

// Remembers that a key went down anywhere in the application since the last question. While a frame
// loop polls, the user's other input is dropped: a click or a closed window inside a run would reach
// dialogs and documents that the loop is still using.
class KeyWatcher : public QObject
{
public:
    using QObject::QObject;
    bool pressed = false;
    bool polling = false;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress) {
            pressed = true;
            return polling;
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

void InstallGuiPlatform()
{
    SetMessageHandler(ShowQtMessage);
    auto *watcher = new KeyWatcher(qApp);
    qApp->installEventFilter(watcher);
    SetKeyPoller([watcher]() {
        // Let windows repaint between frames, and collect key presses.
        watcher->polling = true;
        QCoreApplication::processEvents();
        watcher->polling = false;
        bool was = watcher->pressed;
        watcher->pressed = false;
        return was;
    });
    SetKeyForgetter([watcher]() { watcher->pressed = false; });
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
