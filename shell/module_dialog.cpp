// The module-dialog skeleton and its set-up sequence, and the tab-page conventions.
#include "shell/module_dialog.h"

#include "shell/compression_app.h"
#include "shell/dib_doc.h"
#include "shell/main_frame.h"
#include "shell/result_tabs.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QTextCursor>
#include <QTimer>
#include <algorithm>
#include <cmath>

ModuleDialogHooks &GetModuleDialogHooks()
{
    static ModuleDialogHooks hooks;
    return hooks;
}

QRect ModuleColumnRect(int clientWidth, int clientHeight, int menuBarHeight, int dialogFrameHeight)
{
    const int band = menuBarHeight + dialogFrameHeight;
    return QRect(clientWidth - 255, 3 * band, CModuleDialog::kColumnWidth, clientHeight - 2 * band);
}

int ResultBoxHeight(int mainClientHeight, int boxTopOnScreen)
{
    constexpr int kMinimum = 40; // a tiny main window still leaves a usable box
    return std::max(kMinimum, mainClientHeight - boxTopOnScreen);
}

int ResultTabStop(const QFont &font)
{
    // The system's average character: the 52 letters' width over 26, halved with rounding.
    const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const int average = (QFontMetrics(font).horizontalAdvance(letters) / 26 + 1) / 2;
    return 8 * std::max(1, average); // 32 dialog units, 4 to the average character
}

void FitControlsToText(QWidget *root)
{
    const auto controls = root->findChildren<QWidget *>();
    for (QWidget *w : controls) {
        QWidget *parent = w->parentWidget();
        const bool hasText = qobject_cast<QLabel *>(w) || qobject_cast<QAbstractButton *>(w);
        if (!hasText || !parent || parent->layout() || w->isWindow())
            continue;
        int wanted = w->sizeHint().width();
        if (auto *button = qobject_cast<QPushButton *>(w)) {
            // A push button's hint keeps a minimum width for short captions; only its text counts.
            const int margin = 2 * w->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, w) + 4;
            wanted =
                button->text().isEmpty()
                    ? 0
                    : w->fontMetrics().horizontalAdvance(QString(button->text()).remove(QLatin1Char('&'))) +
                          margin;
        }
        if (wanted <= w->width())
            continue;
        // Grow to the right, up to the next control on the same row or the parent's edge.
        const QRect g = w->geometry();
        int limit = parent->width();
        for (QObject *o : parent->children()) {
            auto *other = qobject_cast<QWidget *>(o);
            if (!other || other == w || other->isWindow() || qobject_cast<QGroupBox *>(other))
                continue;
            const QRect og = other->geometry();
            if (og.left() >= g.right() && og.top() < g.bottom() && og.bottom() > g.top())
                limit = std::min(limit, og.left() - 1);
        }
        w->resize(std::max(w->width(), std::min(wanted, limit - g.left())), w->height());
    }
}

int FontPixelHeight(int pointSize, int dpiY)
{
    return static_cast<int>(std::lround(static_cast<double>(pointSize) * dpiY / 72.0));
}

// ---------------------------------------------------------------------------------------------------

CModuleDialog::CModuleDialog(int idd, const ModuleTemplate &tmpl, QWidget *parent)
    : CZnDialog(idd, parent ? parent : static_cast<QWidget *>(theApp.m_pMainWnd),
                Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      m_template(tmpl)
{
    setModal(false);
}

CModuleDialog::~CModuleDialog() = default;

bool CModuleDialog::Create()
{
    BuildTemplate();
    if (!OnInitDialog())
        return false;
    show();
    raise();
    return true;
}

void CModuleDialog::BuildTemplate()
{
    setWindowTitle(m_template.caption);
    if (m_template.groupId)
        m_pGroupBox = Ctrl(new QGroupBox(m_template.groupText, this), m_template.groupId);
    if (m_template.tabId)
        m_pTabCtrl = Ctrl(new CXTabCtrl(this), m_template.tabId);
    if (m_template.applyId) {
        m_pApplyButton = Ctrl(new QPushButton(m_template.applyText, this), m_template.applyId);
        m_pApplyButton->setAutoDefault(false);
    }
    m_pCancelButton = Ctrl(new QPushButton(QStringLiteral("Cancel"), this), IDCANCEL);
    m_pCancelButton->setAutoDefault(false);
    connect(m_pCancelButton, &QPushButton::clicked, this, &CModuleDialog::OnCancel);
    if (m_template.resultId) {
        m_pResultBox = Ctrl(new QPlainTextEdit(this), m_template.resultId);
        m_pResultBox->setReadOnly(true);
        m_pResultBox->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        m_pTabStops = new zn::ResultTabStops(m_pResultBox, ResultTabStop(m_pResultBox->font()));
        m_pResultBox->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        m_pResultBox->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        ShowResultHScrollbar(true);
    }
}

bool CModuleDialog::OnInitDialog()
{
    CreatePages();
    // The font first: the pages and the skeleton are then sized for the text they really show.
    ApplyResultFont();
    LayoutSkeleton();
    PlaceInColumn();
    StretchResultBox();
    ApplyHScrollbarOption();
    // No Move and no Close: the caption has no close button (Cancel is the way out).
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    if (m_bStoringCursor) {
        installEventFilter(this);
        const auto children = findChildren<QWidget *>();
        for (QWidget *w : children)
            w->installEventFilter(this);
    }
    return true;
}

void CModuleDialog::AddPage(CModulePage *page, const QString &label)
{
    if (!m_pTabCtrl || !page)
        return;
    m_pTabCtrl->AddTab(page, label, m_pTabCtrl->GetItemCount());
    page->SetOwner(this);
    connect(page, &CModulePage::Notify, this, &CModuleDialog::SendMessage);
}

// Controls top-down in the 256-pixel column; the result box takes what is left below the buttons.
// Margins are kept thin: the pages were drawn 230 pixels wide, and every pixel of the result box
// shows more of the result lines.
void CModuleDialog::LayoutSkeleton()
{
    constexpr int kMargin = 3;
    const int dialogWidth = kColumnWidth - 6;
    const int inner = dialogWidth - 2 * kMargin;
    int y = kMargin + 3;
    if (m_pTabCtrl) {
        const int tabWidth = inner - 2 * kMargin;
        // Pages with a layout take the column's width and the height their layout asks for.
        const int pageWidth = tabWidth - CXTabCtrl::kPageLeft - 4;
        for (int i = 0; i < m_pTabCtrl->GetItemCount(); ++i) {
            QWidget *page = m_pTabCtrl->GetPage(i);
            if (!page->layout())
                continue; // a page that places its controls itself keeps its own size
            const int h =
                page->hasHeightForWidth() ? page->heightForWidth(pageWidth) : page->sizeHint().height();
            page->resize(pageWidth, std::max(h, page->minimumSizeHint().height()));
        }
        // The tabs wrap into as many rows as the column's width needs; the pages stand below them.
        const int tabHeight = m_pTabCtrl->heightForWidth(tabWidth);
        const int titleHeight = m_pGroupBox ? m_pGroupBox->fontMetrics().height() + 6 : 0;
        const int tabTop = y + titleHeight;
        m_pTabCtrl->setGeometry(2 * kMargin, tabTop, tabWidth, tabHeight);
        if (m_pGroupBox)
            m_pGroupBox->setGeometry(kMargin, y, inner, titleHeight + tabHeight + 6);
        y = (m_pGroupBox ? m_pGroupBox->geometry().bottom() : m_pTabCtrl->geometry().bottom()) + 8;
    } else if (m_pGroupBox) {
        m_pGroupBox->setGeometry(kMargin, y, inner, 40);
        y = m_pGroupBox->geometry().bottom() + 8;
    }
    const int buttonWidth = 80;
    const int buttonHeight = std::max(24, m_pCancelButton->sizeHint().height());
    if (m_pApplyButton)
        m_pApplyButton->setGeometry(kMargin + 12, y, buttonWidth, buttonHeight);
    m_pCancelButton->setGeometry(kMargin + inner - buttonWidth - 12, y, buttonWidth, buttonHeight);
    y += buttonHeight + 8;
    if (m_pResultBox)
        m_pResultBox->setGeometry(kMargin, y, inner, 120);
    resize(dialogWidth, y + 120 + kMargin);
}

void CModuleDialog::PlaceInColumn()
{
    CMainFrame *main = theApp.m_pMainWnd;
    if (!main)
        return;
    const QSize client = main->ClientSize();
    const QRect r =
        ModuleColumnRect(client.width(), client.height(), main->MenuBarHeight(), kDialogFrameHeight);
    const QPoint origin = main->frameGeometry().topLeft();
    const QPoint topLeft = origin + r.topLeft();
    move(topLeft);
    // The column reaches a menu-bar height past the main window's client area; on a screen no
    // taller than the main window, that would run off its bottom. The whole dialog, with whatever
    // frame the window manager gives it, stays on the work area.
    int height = r.height();
    if (const QScreen *screen = main->screen()) {
        const int decoration = isVisible() ? frameGeometry().height() - geometry().height() : 0;
        const int bottom = screen->availableGeometry().bottom() + 1;
        height = std::min(height, bottom - topLeft.y() - decoration);
    }
    resize(r.width(), std::max(height, 100));
    raise();
}

// Once shown, and again once a window manager has framed the dialog, the frame too must stay on the
// work area.
void CModuleDialog::showEvent(QShowEvent *event)
{
    CZnDialog::showEvent(event);
    FitFrameToWorkArea();
    QTimer::singleShot(0, this, &CModuleDialog::FitFrameToWorkArea);
}

void CModuleDialog::FitFrameToWorkArea()
{
    const QScreen *screen = this->screen();
    if (!screen || !isVisible())
        return;
    const int overflow = frameGeometry().bottom() - screen->availableGeometry().bottom();
    if (overflow > 0 && height() - overflow >= 100) {
        resize(width(), height() - overflow);
        StretchResultBox();
    }
}

void CModuleDialog::StretchResultBox()
{
    CMainFrame *main = theApp.m_pMainWnd;
    if (!m_pResultBox || !main)
        return;
    // The box's top on the screen, counted from the main frame's corner (which stands at 0,0).
    const int boxTop = pos().y() - main->frameGeometry().top() + m_pResultBox->y();
    QRect g = m_pResultBox->geometry();
    // Never past the dialog's own bottom, which PlaceInColumn kept on the screen.
    const int room = height() - g.top() - 3;
    g.setHeight(std::min(ResultBoxHeight(main->ClientSize().height(), boxTop), std::max(40, room)));
    m_pResultBox->setGeometry(g);
}

void CModuleDialog::ApplyHScrollbarOption()
{
    ShowResultHScrollbar(theApp.m_bHScrollbar == 1);
}

void CModuleDialog::ShowResultHScrollbar(bool show)
{
    if (!m_pResultBox)
        return;
    m_pResultBox->setHorizontalScrollBarPolicy(show ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    // Without the bar nothing brings the end of a long line into view: such a line wraps instead.
    m_pResultBox->setLineWrapMode(show ? QPlainTextEdit::NoWrap : QPlainTextEdit::WidgetWidth);
}

void CModuleDialog::ApplyResultFont()
{
    QFont *font = theApp.GetResultFont(this);
    if (!font)
        return;
    if (m_pResultBox) {
        m_pResultBox->setFont(*font);
        m_pTabStops->SetFont(*font, ResultTabStop(*font));
    }
    const auto children = findChildren<QWidget *>();
    for (QWidget *w : children)
        w->setFont(*font);
    FitControlsToText(this);
}

void CModuleDialog::SendMessage(int message)
{
    if (message == WM_DOCUMENT_ATTACHED)
        OnDocumentAttached();
    else
        OnPageMessage(message);
}

void CModuleDialog::SetResultText(const QString &text)
{
    if (!m_pResultBox)
        return;
    QString t = text;
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    m_pResultBox->setPlainText(t);
    m_pResultBox->verticalScrollBar()->setValue(m_pResultBox->verticalScrollBar()->maximum());
}

void CModuleDialog::AppendResultText(const QString &text)
{
    if (!m_pResultBox)
        return;
    // Inserted at the end: a long run's text is not laid out again for every line it adds.
    QTextCursor end(m_pResultBox->document());
    end.movePosition(QTextCursor::End);
    end.insertText(QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    m_pResultBox->verticalScrollBar()->setValue(m_pResultBox->verticalScrollBar()->maximum());
}

void CModuleDialog::ClearDocumentPointer()
{
    if (m_pStartDibDoc)
        m_pStartDibDoc->ForgetDialog(this);
}

void CModuleDialog::OnCancel()
{
    const ModuleDialogHooks &hooks = GetModuleDialogHooks();
    if (!m_sRDKey.empty() && m_pStartDibDoc) {
        const bool closing = hooks.isClosing && hooks.isClosing(m_pStartDibDoc);
        if (!closing && hooks.setModuleInactive)
            hooks.setModuleInactive(m_pStartDibDoc, m_sRDKey);
    }
    ClearDocumentPointer();
    QDialog::reject(); // a modeless dialog is only hidden
}

// WM_CLOSE is Cancel, and is ignored while Cancel is disabled (the storing dialog while recording).
void CModuleDialog::closeEvent(QCloseEvent *event)
{
    event->ignore();
    if (m_pCancelButton && !m_pCancelButton->isEnabled())
        return;
    if (isVisible())
        OnCancel();
}

bool CModuleDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (m_bStoringCursor && (event->type() == QEvent::Enter || event->type() == QEvent::MouseMove)) {
        if (auto *w = qobject_cast<QWidget *>(watched)) {
            const ModuleDialogHooks &hooks = GetModuleDialogHooks();
            const bool storing = m_pStartDibDoc && hooks.isStoring && hooks.isStoring(m_pStartDibDoc);
            w->setCursor(storing ? Qt::BusyCursor : Qt::ArrowCursor);
        }
    }
    return CZnDialog::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------------------------------

CModulePage::CModulePage(int idd, QWidget *parent) : QWidget(parent), m_nIDD(idd) {}

void CModulePage::NotifyOwner(int message)
{
    // Whoever listens hears it; a page that nobody made the owner of also tells the dialog it sits in.
    emit Notify(message);
    if (m_pOwner)
        return;
    for (QWidget *w = parentWidget(); w; w = w->parentWidget()) {
        if (auto *dlg = qobject_cast<CModuleDialog *>(w)) {
            dlg->SendMessage(message);
            return;
        }
    }
}

void CModulePage::OnHelpInfoForward()
{
    // The owner answers; without one, the nearest dialog up the parent chain.
    for (QWidget *w = m_pOwner ? m_pOwner : parentWidget(); w; w = w->parentWidget()) {
        if (auto *dlg = qobject_cast<CZnDialog *>(w)) {
            dlg->OnCommandHelp();
            return;
        }
    }
}

void CModulePage::keyPressEvent(QKeyEvent *event)
{
    const int key = event->key();
    if (key == Qt::Key_F1 && event->modifiers() == Qt::NoModifier) {
        OnHelpInfoForward();
        event->accept();
        return;
    }
    if ((m_bIgnoreOk && (key == Qt::Key_Return || key == Qt::Key_Enter)) ||
        (m_bIgnoreCancel && key == Qt::Key_Escape)) {
        event->accept(); // never reaches the dialog, which would close or hide
        return;
    }
    QWidget::keyPressEvent(event);
}
