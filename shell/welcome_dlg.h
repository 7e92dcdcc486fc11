// The welcome box: a modeless, captionless box whose progress bar fills in 5 % steps every 100 ms;
// on the tick after the bar is full it destroys itself.
#pragma once

#include "shell/zn_dialog.h"

class QProgressBar;

class CWelcomeDlg : public CZnDialog
{
    Q_OBJECT
public:
    static constexpr int IDD = 249;
    static constexpr int kTimerId = 1;
    static constexpr int kTickMs = 100;

    CWelcomeDlg();
    ~CWelcomeDlg() override;

    // Shows the box and starts the timer.
    bool Create();
    // One timer tick (the timer calls it; tests may too).
    void OnTimer(int timerId);
    int TickCount() const { return m_nTickCount; }
    QProgressBar *Progress() const { return m_pProgress; }

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    QProgressBar *m_pProgress = nullptr;
    int m_nTimer = 0;
    int m_nTickCount = 0;
};

// The texts of our own: maker, version, welcome words and the maker's web address.
struct AboutTexts
{
    QString maker;
    QString version;
    QString welcome;
    QString webAddress;
};
const AboutTexts &GetAboutTexts();
