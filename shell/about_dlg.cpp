// The About box and its credits scroller. Each tick moves the display up one pixel and draws the
// strip that came free: the current text line at (bottom - scrolled), or the next rows of a picture.
#include "shell/about_dlg.h"

#include "platform/messages.h"
#include "shell/toolbar_images.h"
#include "shell/welcome_dlg.h"

#include <QDesktopServices>
#include <QFile>
#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTimerEvent>
#include <QUrl>
#include <QVBoxLayout>

namespace {
constexpr int kDisplayWidth = 300;
constexpr int kDisplayHeight = 200;
const QColor kBackground(155, 154, 153);
} // namespace

// credits.txt: one table line per text line. A blank line is an empty table line; otherwise the
// first character names the style (N normal, T, R, U, B picture) and the text follows a blank.
const QStringList &CreditsTable()
{
    static const QStringList table = []() {
        QStringList lines;
        QFile f(QStringLiteral(":/texts/credits.txt"));
        if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
            return lines;
        QList<QByteArray> raw = f.readAll().split('\n');
        if (!raw.isEmpty() && raw.back().isEmpty())
            raw.removeLast(); // the file's final line end
        for (const QByteArray &r : raw) {
            const QString line = QString::fromUtf8(r);
            if (line.isEmpty()) {
                lines << QString();
                continue;
            }
            const QString text = line.mid(2);
            switch (line.at(0).toLatin1()) {
            case 'T':
                lines << text + QLatin1Char('\t');
                break;
            case 'R':
                lines << text + QLatin1Char('\r');
                break;
            case 'U':
                lines << text + QLatin1Char('\n');
                break;
            case 'B':
                lines << text + QLatin1Char('\b');
                break;
            default:
                lines << text + QLatin1Char('\f');
                break;
            }
        }
        return lines;
    }();
    return table;
}

CAboutDlg::CAboutDlg(QWidget *parent) : CZnDialog(IDD, parent)
{
    setWindowTitle(QStringLiteral("About Zantho"));
    auto *v = new QVBoxLayout(this);
    auto *top = new QHBoxLayout;
    m_display = QPixmap(kDisplayWidth, kDisplayHeight);
    m_display.fill(kBackground);
    {
        QPainter p(&m_display);
        const QPixmap banner = NamedPicture(QStringLiteral("203"));
        p.drawPixmap((kDisplayWidth - banner.width()) / 2, (kDisplayHeight - banner.height()) / 2, banner);
    }
    m_pCredits = Ctrl(new QLabel(this), 1287);
    m_pCredits->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_pCredits->setFixedSize(kDisplayWidth + 2 * m_pCredits->frameWidth(),
                             kDisplayHeight + 2 * m_pCredits->frameWidth());
    m_pCredits->setPixmap(m_display);
    top->addWidget(m_pCredits);

    auto *right = new QVBoxLayout;
    auto *emblem = new QLabel(this);
    emblem->setPixmap(NamedPicture(QStringLiteral("208")));
    emblem->setAlignment(Qt::AlignCenter);
    right->addWidget(emblem);
    const AboutTexts &texts = GetAboutTexts();
    right->addWidget(new QLabel(texts.maker, this));
    right->addWidget(new QLabel(texts.version, this));
    right->addStretch(1);
    top->addLayout(right);
    v->addLayout(top);

    auto *buttons = new QHBoxLayout;
    auto *credits = Ctrl(new QPushButton(QStringLiteral("Show Credits and Copyright"), this), 1332);
    auto *welcome = Ctrl(new QPushButton(QStringLiteral("Show Welcome Screen"), this), 5);
    auto *ok = Ctrl(new QPushButton(QStringLiteral("OK"), this), IDOK);
    for (QPushButton *b : {credits, welcome})
        b->setAutoDefault(false);
    ok->setDefault(true);
    buttons->addWidget(credits);
    buttons->addWidget(welcome);
    buttons->addStretch(1);
    buttons->addWidget(ok);
    v->addLayout(buttons);
    auto *web = Ctrl(new QPushButton(texts.webAddress, this), 1342);
    web->setAutoDefault(false);
    web->setMinimumHeight(36);
    v->addWidget(web);

    connect(credits, &QPushButton::clicked, this, &CAboutDlg::OnShowCredits);
    connect(welcome, &QPushButton::clicked, this, &CAboutDlg::OnShowWelcome);
    connect(web, &QPushButton::clicked, this, &CAboutDlg::OnWebSite);
    connect(ok, &QPushButton::clicked, this, &CAboutDlg::OnOK);
}

CAboutDlg::~CAboutDlg()
{
    if (m_nTimer)
        killTimer(m_nTimer);
}

void CAboutDlg::OnShowCredits()
{
    if (!m_nTimer)
        m_nTimer = startTimer(kCreditsPeriodMs, Qt::PreciseTimer);
    if (QWidget *b = GetDlgItem(1332))
        b->setEnabled(false);
}

void CAboutDlg::OnShowWelcome()
{
    auto *welcome = new CWelcomeDlg;
    welcome->Create();
}

void CAboutDlg::OnWebSite()
{
    QDesktopServices::openUrl(QUrl(GetAboutTexts().webAddress));
}

void CAboutDlg::OnOK()
{
    if (m_nTimer)
        killTimer(m_nTimer);
    m_nTimer = 0;
    QDialog::accept();
}

void CAboutDlg::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == m_nTimer && m_nTimer)
        OnTimer(kCreditsTimer);
    else
        CZnDialog::timerEvent(event);
}

void CAboutDlg::OnTimer(int timerId)
{
    if (timerId != kCreditsTimer)
        return;
    const QStringList &table = CreditsTable();
    if (!m_bBitmapMode) {
        const int before = m_nTick++;
        if (m_nLineHeight > 0 && before % m_nLineHeight == 0 && !table.isEmpty()) {
            m_nTick = 1;
            m_sCurrentLine = table.at(m_nLineIndex);
            m_nLineIndex = (m_nLineIndex + 1) % table.size();
            m_nScrolled = 0;
        }
    }
    m_display.scroll(0, -1, m_display.rect());
    ++m_nScrolled;
    PaintCredits();
    m_pCredits->setPixmap(m_display);
}

void CAboutDlg::PaintCredits()
{
    if (m_bFirstPaint) {
        m_bFirstPaint = false;
        return;
    }
    if (m_sCurrentLine.isEmpty())
        return; // a blank line: the strip keeps the background scrolled into it
    const QChar code = m_sCurrentLine.back();
    const QString text = m_sCurrentLine.left(m_sCurrentLine.size() - 1);
    QPainter p(&m_display);
    const int bottom = m_display.height();
    if (code == QLatin1Char('\b') && !m_bBitmapMode) {
        m_picture = NamedPicture(text);
        if (m_picture.isNull()) {
            p.end();
            if (m_nTimer)
                killTimer(m_nTimer);
            m_nTimer = 0;
            zn::ShowMessage(
                zn::Format("Could not find bitmap resource \"%s\". Be sure to assign the bitmap a "
                           "QUOTED resource name",
                           text.toUtf8().constData()));
            return;
        }
        m_nPictureLeft = (m_display.width() - m_picture.width()) / 2;
        m_bBitmapMode = true;
    }
    p.fillRect(0, bottom - 1, m_display.width(), 1, kBackground);
    if (m_bBitmapMode) {
        const int rows = std::min(m_nScrolled, m_picture.height());
        p.drawPixmap(QRect(m_nPictureLeft, bottom - rows, m_picture.width(), rows), m_picture,
                     QRect(0, 0, std::max(1, m_picture.width() - 1), rows));
        if (m_nScrolled > m_picture.height()) {
            m_picture = QPixmap();
            m_bBitmapMode = false;
            m_nScrolled = 0;
            m_sCurrentLine.clear();
            m_nTick = 1;
        }
        return;
    }
    QFont f(QStringLiteral("Arial"));
    f.setStyleStrategy(QFont::PreferQuality);
    if (code == QLatin1Char('\t')) {
        m_nLineHeight = 17;
        f.setWeight(QFont::Bold);
    } else if (code == QLatin1Char('\r')) {
        m_nLineHeight = 19;
        f.setWeight(QFont::Bold);
    } else if (code == QLatin1Char('\n')) {
        m_nLineHeight = 21;
        f.setWeight(QFont::Bold);
        f.setUnderline(true);
    } else {
        m_nLineHeight = 15;
        f.setWeight(QFont::Thin);
    }
    f.setPixelSize(m_nLineHeight);
    p.setFont(f);
    p.setPen(Qt::black);
    // Redraw the whole strip the line occupies so far, so the glyphs stay whole as they rise.
    const int top = bottom - m_nScrolled;
    p.fillRect(0, top, m_display.width(), m_nScrolled, kBackground);
    p.drawText(QRect(0, top, m_display.width(), m_nLineHeight),
               Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextSingleLine, text);
}
