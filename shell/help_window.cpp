// Help pages from the resources, shown in a QTextBrowser that follows their links.
#include "shell/help_window.h"

#include <QFile>
#include <QPointer>
#include <QUrl>

namespace {
QPointer<CHelpWindow> &TheHelpWindow()
{
    static QPointer<CHelpWindow> window;
    return window;
}
} // namespace

CHelpWindow::CHelpWindow()
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Zantho Help"));
    setOpenExternalLinks(true);
    resize(520, 560);
}

QString CHelpWindow::TopicPath(int contextId)
{
    return QStringLiteral(":/help/%1.html").arg(contextId, 0, 16);
}

CHelpWindow *CHelpWindow::Instance()
{
    return TheHelpWindow();
}

void CHelpWindow::ShowTopic(int contextId)
{
    if (!TheHelpWindow())
        TheHelpWindow() = new CHelpWindow;
    CHelpWindow *w = TheHelpWindow();
    w->m_nTopic = contextId;
    const QString path = TopicPath(contextId);
    if (QFile::exists(path)) {
        w->setSource(QUrl(QStringLiteral("qrc") + path));
    } else {
        w->setSource(QUrl(QStringLiteral("qrc:/help/contents.html")));
        w->insertHtml(
            QStringLiteral("<p><i>There is no help topic for context 0x%1.</i></p>").arg(contextId, 0, 16));
    }
    w->show();
    w->raise();
    w->activateWindow();
}
