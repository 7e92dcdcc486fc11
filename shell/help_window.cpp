// Help pages from the resources, shown in a QTextBrowser that follows their links.
#include "shell/help_window.h"

#include "shell/compression_app.h"
#include "shell/main_frame.h"

#include <QFile>
#include <QKeyEvent>
#include <QMdiArea>
#include <QPointer>
#include <QUrl>
#include <algorithm>

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
    if (!TheHelpWindow()) {
        TheHelpWindow() = new CHelpWindow;
        if (CMainFrame *main = theApp.m_pMainWnd; main && main->MdiArea()) {
            const QMdiArea *area = main->MdiArea();
            const QRect onScreen(area->mapToGlobal(QPoint(0, 0)), area->size());
            const QRect r = PlaceBeside(onScreen, TheHelpWindow()->size());
            if (!r.isEmpty())
                TheHelpWindow()->setGeometry(r);
        }
    }
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

QRect CHelpWindow::PlaceBeside(const QRect &mdiOnScreen, const QSize &wanted)
{
    constexpr int kColumn = 256; // the module dialogs' column at the right edge
    constexpr int kGap = 8;
    if (mdiOnScreen.isEmpty())
        return {};
    const int h = std::max(100, std::min(wanted.height(), mdiOnScreen.height() - 2 * kGap));
    const int w = std::max(200, std::min(wanted.width(), mdiOnScreen.width() - kColumn - 2 * kGap));
    const int x = std::max(mdiOnScreen.left() + kGap, mdiOnScreen.right() + 1 - kColumn - kGap - w);
    return QRect(x, mdiOnScreen.top() + kGap, w, h);
}

// Escape closes the help, as it closes the system's help viewer.
void CHelpWindow::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        event->accept();
        return;
    }
    QTextBrowser::keyPressEvent(event);
}
