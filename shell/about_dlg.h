// The About box: pictures, maker and version, a web-site button and the credits, which scroll up
// through a sunken picture control one pixel per tick, a line of text or a picture at a time.
#pragma once

#include "shell/zn_dialog.h"

#include <QPixmap>
#include <QStringList>

class QLabel;
class QPushButton;

// The credits table: 153 lines, each ending in its style code ('\t' bold 17 px, '\r' bold 19 px,
// '\n' bold underlined 21 px, '\b' a picture named by the rest, anything else normal 15 px); an
// empty line is a blank of the previous line's height.
const QStringList &CreditsTable();

class CAboutDlg : public CZnDialog
{
    Q_OBJECT
public:
    static constexpr int IDD = 192;
    static constexpr int kCreditsTimer = 150;
    // The period asked for is 1 ms; the system's timer resolution makes it about this.
    static constexpr int kCreditsPeriodMs = 15;

    explicit CAboutDlg(QWidget *parent = nullptr);
    ~CAboutDlg() override;

    void OnShowCredits();
    void OnShowWelcome();
    void OnWebSite();
    void OnOK();
    // One tick of the scroller (the timer calls it; tests may too).
    void OnTimer(int timerId);

    int LineIndex() const { return m_nLineIndex; }
    const QPixmap &Display() const { return m_display; }
    bool Scrolling() const { return m_nTimer != 0; }

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    void PaintCredits();

    QLabel *m_pCredits = nullptr; // control 1287
    QPixmap m_display;            // what control 1287 shows
    int m_nLineIndex = 0;
    int m_nTick = 1;
    QString m_sCurrentLine;
    int m_nLineHeight = 15;
    int m_nScrolled = 0;
    bool m_bFirstPaint = true;
    bool m_bBitmapMode = false;
    QPixmap m_picture;
    int m_nPictureLeft = 0;
    int m_nTimer = 0;
};
