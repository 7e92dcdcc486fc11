// The program's help: our own short HTML pages, one per topic, shown in one help window that opens
// at the topic of a context id (0x20000 + a dialog's template id, 0x20080 for the main window).
#pragma once

#include <QTextBrowser>

class CHelpWindow : public QTextBrowser
{
    Q_OBJECT
public:
    // Opens (or raises) the help window at the topic; an unknown id shows the contents page with a
    // note that the topic is missing.
    static void ShowTopic(int contextId);
    static CHelpWindow *Instance(); // nullptr before the first ShowTopic
    int CurrentTopic() const { return m_nTopic; }
    // The resource path of a topic's page (":/help/20080.html").
    static QString TopicPath(int contextId);
    // Where the window opens: inside the main window's work space, left of the module column, so
    // it covers neither the menus and tool bar nor a module dialog. Empty rect: no main window.
    static QRect PlaceBeside(const QRect &mdiOnScreen, const QSize &wanted);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    CHelpWindow();
    int m_nTopic = 0;
};
