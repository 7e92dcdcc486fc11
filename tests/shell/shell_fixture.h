// Helpers for the application-shell tests: clean settings, a started application, modal dialogs
// answered from inside their event loop.
#pragma once

#include "platform/qt/settings_store.h"
#include "shell/compression_app.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <functional>

namespace zntest {

// Settings as on a first start (nothing stored).
inline void ClearStoredSettings()
{
    zn::SettingsStore::Save(zn::AppSettings{});
    zn::SettingsStore::SaveRecentFiles({});
}

inline zn::AppSettings FilledSettings(const std::string &dir)
{
    zn::AppSettings s;
    const QString d = QString::fromStdString(dir);
    s.imageDir = d;
    s.tableDir = d;
    s.codebookDir = d;
    s.userDir = d;
    return s;
}

// Runs fn on the modal dialog of type T once it is up (polls its event loop).
template <typename T> void WhenModal(std::function<void(T *)> fn, int attempts = 200)
{
    QTimer::singleShot(5, [fn, attempts]() {
        if (auto *dlg = qobject_cast<T *>(QApplication::activeModalWidget())) {
            fn(dlg);
        } else if (attempts > 0) {
            WhenModal<T>(fn, attempts - 1);
        }
    });
}

template <typename T> T *FindTopLevel()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *t = qobject_cast<T *>(w))
            return t;
    }
    return nullptr;
}

// Ends a started application and leaves no window behind.
inline void StopApp()
{
    if (theApp.m_pMainWnd)
        theApp.ExitInstance();
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->isVisible())
            w->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace zntest
