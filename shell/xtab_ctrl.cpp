// CXTabCtrl on a QTabBar. The bar's own enable flag is not used: Qt moves the selection off a tab
// that is disabled while selected, and the program keeps that page up instead. So the control keeps
// its own flags and undoes a change onto a disabled tab.
#include "shell/xtab_ctrl.h"

#include "shell/tab_rows.h"

#include <QEvent>
#include <QPalette>
#include <QSignalBlocker>
#include <QTabBar>
#include <algorithm>

CXTabCtrl::CXTabCtrl(QWidget *parent) : QWidget(parent)
{
    // Labels stay whole: tabs that do not fit in one row go on to the next.
    m_pTabBar = new TabRows(this);
    m_pTabBar->move(2, 2);
    connect(m_pTabBar, &QTabBar::currentChanged, this, &CXTabCtrl::OnSelchange);
    connect(m_pTabBar, &TabRows::RowsChanged, this, &CXTabCtrl::FitTabBar);
}

CXTabCtrl::~CXTabCtrl() = default;

void CXTabCtrl::AddTab(QWidget *page, const QString &label, int image)
{
    (void)image; // no image list is ever attached
    const int index = GetItemCount();
    if (page->parentWidget() != this)
        page->setParent(this);
    if (!page->testAttribute(Qt::WA_Resized))
        page->adjustSize();
    page->move(kPageLeft, PageTop());
    m_pages.push_back(page);
    m_arrayStatusTab.push_back(true);
    {
        // The first insertion makes the bar select tab 0; that is not a user's change.
        QSignalBlocker block(m_pTabBar);
        m_pTabBar->addTab(label);
    }
    FitTabBar();
    UpdateLabelColour(index);
    page->setVisible(index == 0);
    updateGeometry();
}

void CXTabCtrl::EnableTab(int index, bool enable)
{
    if (index < 0 || index >= GetItemCount())
        return;
    if (m_arrayStatusTab[index] != enable) {
        m_arrayStatusTab[index] = enable;
        UpdateLabelColour(index);
        m_pTabBar->update(m_pTabBar->RowTabRect(index));
    }
}

bool CXTabCtrl::IsTabEnabled(int index) const
{
    return index >= 0 && index < GetItemCount() && m_arrayStatusTab[index];
}

void CXTabCtrl::ReplaceTab(int index, QWidget *page, const QString &label, int image)
{
    (void)image;
    if (index < 0 || index >= GetItemCount() || !page)
        return;
    m_pTabBar->setTabText(index, label);
    if (page->parentWidget() != this)
        page->setParent(this);
    if (!page->testAttribute(Qt::WA_Resized))
        page->adjustSize();
    m_pages[index] = page;
    page->move(kPageLeft, PageTop());
    page->hide();
    const int focused = GetCurSel();
    if (focused >= 0 && m_pages[focused])
        m_pages[focused]->show();
    update();
}

void CXTabCtrl::FitTabBar()
{
    // The bar never reaches past the control: what does not fit in a row goes on to the next one,
    // and the pages stand below the last row.
    const int w = std::max(1, width() - 4);
    m_pTabBar->resize(w, m_pTabBar->HeightForWidth(w));
    for (QWidget *page : m_pages)
        if (page->pos() != QPoint(kPageLeft, PageTop()))
            page->move(kPageLeft, PageTop());
}

QTabBar *CXTabCtrl::TabBar() const
{
    return m_pTabBar;
}

int CXTabCtrl::PageTop() const
{
    return kPageTop + m_pTabBar->height() - m_pTabBar->RowHeight();
}

void CXTabCtrl::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    FitTabBar();
}

void CXTabCtrl::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        FitTabBar();
}

int CXTabCtrl::GetItemCount() const
{
    return static_cast<int>(m_pages.size());
}

int CXTabCtrl::GetCurSel() const
{
    return m_pTabBar->currentIndex();
}

void CXTabCtrl::SetCurSel(int index)
{
    QSignalBlocker block(m_pTabBar);
    m_pTabBar->setCurrentIndex(index);
    // The next change starts from here, whatever page is up.
    m_nLastTab = m_pTabBar->currentIndex();
}

void CXTabCtrl::SelectTab(int index)
{
    if (index >= 0 && index < GetItemCount())
        m_pTabBar->setCurrentIndex(index);
}

QWidget *CXTabCtrl::GetPage(int index) const
{
    return index >= 0 && index < GetItemCount() ? m_pages[index] : nullptr;
}

QString CXTabCtrl::GetTabText(int index) const
{
    return m_pTabBar->tabText(index);
}

QSize CXTabCtrl::sizeHint() const
{
    int w = m_pTabBar->sizeHint().width() + 4;
    for (QWidget *page : m_pages)
        w = std::max(w, kPageLeft + page->width() + 4);
    return QSize(w, heightForWidth(w));
}

int CXTabCtrl::heightForWidth(int width) const
{
    const int bar = m_pTabBar->HeightForWidth(std::max(1, width - 4));
    const int pageTop = kPageTop + bar - m_pTabBar->RowHeight();
    int h = pageTop;
    for (QWidget *page : m_pages)
        h = std::max(h, pageTop + page->height() + 4);
    return h;
}

// The bar has already moved when it tells us; m_nLastTab is the tab that was selected when the
// change began.
void CXTabCtrl::OnSelchange(int newIndex)
{
    if (newIndex < 0 || newIndex >= GetItemCount() || newIndex == m_nLastTab)
        return;
    if (!m_arrayStatusTab[newIndex]) {
        QSignalBlocker block(m_pTabBar);
        m_pTabBar->setCurrentIndex(m_nLastTab);
        return;
    }
    if (QWidget *old = GetPage(m_nLastTab))
        old->hide();
    m_pages[newIndex]->show();
    m_nLastTab = newIndex;
}

void CXTabCtrl::UpdateLabelColour(int index)
{
    const QPalette &pal = palette();
    m_pTabBar->setTabTextColor(index, m_arrayStatusTab[index]
                                          ? pal.color(QPalette::Active, QPalette::ButtonText)
                                          : pal.color(QPalette::Disabled, QPalette::ButtonText));
}
