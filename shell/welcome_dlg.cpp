// The welcome box and the program's own texts (read from the resources).
#include "shell/welcome_dlg.h"

#include "shell/toolbar_images.h"

#include <QFile>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QTimerEvent>
#include <QVBoxLayout>

const AboutTexts &GetAboutTexts()
{
    static const AboutTexts texts = []() {
        AboutTexts t;
        QFile f(QStringLiteral(":/texts/about.txt"));
        if (f.open(QIODevice::ReadOnly | QIODevice::Text)) {
            // key=value lines; "\n" in a value stands for a line break.
            for (const QByteArray &raw : f.readAll().split('\n')) {
                const QString line = QString::fromUtf8(raw);
                const int eq = line.indexOf(QLatin1Char('='));
                if (eq <= 0)
                    continue;
                const QString key = line.left(eq).trimmed();
                const QString value =
                    line.mid(eq + 1).trimmed().replace(QStringLiteral("\\n"), QStringLiteral("\n"));
                if (key == QLatin1String("maker"))
                    t.maker = value;
                else if (key == QLatin1String("version"))
                    t.version = value;
                else if (key == QLatin1String("welcome"))
                    t.welcome = value;
                else if (key == QLatin1String("web"))
                    t.webAddress = value;
            }
        }
        return t;
    }();
    return texts;
}

CWelcomeDlg::CWelcomeDlg() : CZnDialog(IDD, nullptr, Qt::Dialog | Qt::FramelessWindowHint)
{
    DeleteOnPostNcDestroy();
    setModal(false);
    auto *frame = new QFrame(this);
    frame->setFrameStyle(QFrame::Box | QFrame::Plain);
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(frame);

    auto *h = new QHBoxLayout(frame);
    auto *left = new QVBoxLayout;
    auto *banner = new QLabel(frame);
    banner->setPixmap(NamedPicture(QStringLiteral("203")));
    left->addWidget(banner);
    auto *group = new QGroupBox(frame);
    auto *gv = new QVBoxLayout(group);
    const AboutTexts &texts = GetAboutTexts();
    auto *welcome = new QLabel(texts.welcome, group);
    welcome->setWordWrap(true);
    gv->addWidget(welcome);
    gv->addWidget(new QLabel(texts.maker, group));
    gv->addWidget(new QLabel(texts.version, group));
    auto *emblem = new QLabel(group);
    emblem->setPixmap(NamedPicture(QStringLiteral("208")));
    emblem->setAlignment(Qt::AlignCenter);
    gv->addWidget(emblem);
    left->addWidget(group, 1);
    h->addLayout(left, 1);

    m_pProgress = Ctrl(new QProgressBar(frame), 2137);
    m_pProgress->setOrientation(Qt::Vertical);
    m_pProgress->setRange(0, 100);
    m_pProgress->setValue(0);
    m_pProgress->setTextVisible(false);
    h->addWidget(m_pProgress);
    setFixedSize(zn::DluToPixelsX(278), zn::DluToPixelsY(222));
}

CWelcomeDlg::~CWelcomeDlg() = default;

bool CWelcomeDlg::Create()
{
    m_nTickCount = 0;
    m_pProgress->setValue(0);
    if (QScreen *s = screen()) {
        const QRect r = s->availableGeometry();
        move(r.center() - QPoint(width() / 2, height() / 2));
    }
    m_nTimer = startTimer(kTickMs);
    show();
    return true;
}

void CWelcomeDlg::OnTimer(int timerId)
{
    if (timerId != kTimerId)
        return;
    if (m_nTickCount >= 20) {
        if (m_nTimer)
            killTimer(m_nTimer);
        m_nTimer = 0;
        close(); // deletes the object
        return;
    }
    ++m_nTickCount;
    m_pProgress->setValue(m_nTickCount * 5);
}

void CWelcomeDlg::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == m_nTimer)
        OnTimer(kTimerId);
    else
        CZnDialog::timerEvent(event);
}
