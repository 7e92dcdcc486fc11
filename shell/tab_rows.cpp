// Tabs in rows: the layout by width, drawing through the style, and the click that selects a tab.
#include "shell/tab_rows.h"

#include <QCursor>
#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionTab>
#include <QStyleOptionTabBarBase>
#include <algorithm>

TabRows::TabRows(QWidget *parent) : QTabBar(parent)
{
    setDrawBase(true);
    setExpanding(false);
    setElideMode(Qt::ElideNone);
    setUsesScrollButtons(false);
    setAttribute(Qt::WA_Hover);
}

QSize TabRows::tabSizeHint(int index) const
{
    const QString label = QString(tabText(index)).remove(QLatin1Char('&'));
    return QSize(fontMetrics().horizontalAdvance(label) + 2 * kLabelPadding,
                 QTabBar::tabSizeHint(index).height());
}

QSize TabRows::minimumTabSizeHint(int index) const
{
    return tabSizeHint(index);
}

int TabRows::RowHeight() const
{
    int h = 0;
    for (int i = 0; i < count(); ++i)
        h = std::max(h, tabSizeHint(i).height());
    return h > 0 ? h : fontMetrics().height() + 8;
}

std::vector<QRect> TabRows::Layout(int width, int *rows) const
{
    const int n = count();
    const int rowHeight = RowHeight();
    std::vector<QRect> rects(static_cast<size_t>(n));
    std::vector<int> rowOf(static_cast<size_t>(n), 0);
    int row = 0, x = 0;
    for (int i = 0; i < n; ++i) {
        const int w = tabSizeHint(i).width();
        if (x > 0 && x + w > width) {
            ++row;
            x = 0;
        }
        rects[i] = QRect(x, row * rowHeight, w, rowHeight);
        rowOf[i] = row;
        x += w;
    }
    *rows = n > 0 ? row + 1 : 1;
    if (*rows > 1) {
        // Share each row's spare width among its tabs, so every row ends at the right edge.
        for (int r = 0, first = 0; r < *rows; ++r) {
            int last = first;
            while (last + 1 < n && rowOf[last + 1] == r)
                ++last;
            const int spare = std::max(0, width - (rects[last].right() + 1));
            const int tabs = last - first + 1;
            int shift = 0;
            for (int i = first; i <= last; ++i) {
                const int extra = spare / tabs + (i - first < spare % tabs ? 1 : 0);
                rects[i].translate(shift, 0);
                rects[i].setWidth(rects[i].width() + extra);
                shift += extra;
            }
            first = last + 1;
        }
    }
    return rects;
}

int TabRows::HeightForWidth(int width) const
{
    int rows = 1;
    Layout(width, &rows);
    return rows * RowHeight();
}

QRect TabRows::RowTabRect(int index) const
{
    return index >= 0 && index < static_cast<int>(m_rects.size()) ? m_rects[index] : QRect();
}

int TabRows::RowTabAt(const QPoint &pos) const
{
    for (size_t i = 0; i < m_rects.size(); ++i)
        if (m_rects[i].contains(pos))
            return static_cast<int>(i);
    return -1;
}

QSize TabRows::sizeHint() const
{
    // One row as wide as the tabs ask; the control gives the bar its width and then its height.
    int w = 0;
    for (int i = 0; i < count(); ++i)
        w += tabSizeHint(i).width();
    return QSize(w, RowHeight());
}

QSize TabRows::minimumSizeHint() const
{
    return QSize(0, RowHeight());
}

void TabRows::Relayout()
{
    int rows = 1;
    std::vector<QRect> rects = Layout(width(), &rows);
    if (rects == m_rects && rows == m_nRows)
        return;
    m_rects = std::move(rects);
    m_nRows = rows;
    update();
    emit RowsChanged();
}

void TabRows::resizeEvent(QResizeEvent *event)
{
    QTabBar::resizeEvent(event);
    Relayout();
}

void TabRows::tabLayoutChange()
{
    QTabBar::tabLayoutChange();
    Relayout();
}

bool TabRows::event(QEvent *event)
{
    // The tab under the mouse is drawn raised; the bar's own hover areas are those of one long row.
    switch (event->type()) {
    case QEvent::HoverEnter:
    case QEvent::HoverMove:
    case QEvent::HoverLeave:
        update();
        break;
    default:
        break;
    }
    return QTabBar::event(event);
}

void TabRows::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const int n = std::min(count(), static_cast<int>(m_rects.size()));
    const int selected = currentIndex();
    const QPoint mouse = underMouse() ? mapFromGlobal(QCursor::pos()) : QPoint(-1, -1);

    // The base line under the last row, broken under the selected tab when it stands there.
    QStyleOptionTabBarBase base;
    base.initFrom(this);
    base.shape = shape();
    const int overlap = style()->pixelMetric(QStyle::PM_TabBarBaseOverlap, nullptr, this);
    base.rect = QRect(0, height() - overlap, width(), overlap);
    for (int i = 0; i < n; ++i)
        base.tabBarRect |= m_rects[i];
    if (selected >= 0 && selected < n && m_rects[selected].bottom() + 1 >= height())
        base.selectedTabRect = m_rects[selected];
    if (drawBase())
        style()->drawPrimitive(QStyle::PE_FrameTabBarBase, &base, &painter, this);

    auto drawTab = [&](int i) {
        QStyleOptionTab opt;
        initStyleOption(&opt, i);
        opt.rect = m_rects[i];
        const bool first = i == 0 || m_rects[i - 1].top() != m_rects[i].top();
        const bool last = i == n - 1 || m_rects[i + 1].top() != m_rects[i].top();
        opt.position = first && last ? QStyleOptionTab::OnlyOneTab
                       : first       ? QStyleOptionTab::Beginning
                       : last        ? QStyleOptionTab::End
                                     : QStyleOptionTab::Middle;
        opt.selectedPosition = QStyleOptionTab::NotAdjacent;
        if (!first && selected == i - 1)
            opt.selectedPosition = QStyleOptionTab::PreviousIsSelected;
        else if (!last && selected == i + 1)
            opt.selectedPosition = QStyleOptionTab::NextIsSelected;
        if (m_rects[i].contains(mouse))
            opt.state |= QStyle::State_MouseOver;
        else
            opt.state &= ~QStyle::State_MouseOver;
        // A style draws the selected tab reaching down into the base line; above the last row that
        // would cover the tabs of the next row.
        const bool lastRow = m_rects[i].bottom() + 1 >= height();
        painter.setClipRect(lastRow ? rect() : m_rects[i]);
        style()->drawControl(QStyle::CE_TabBarTabShape, &opt, &painter, this);
        // The label, centred on one line, in the colour the control gave the tab. The style's own
        // label would keep its wider padding and clip what lies outside it.
        QRect text = opt.rect;
        if (!(opt.state & QStyle::State_Selected))
            text.translate(0, style()->pixelMetric(QStyle::PM_TabBarTabShiftVertical, &opt, this));
        painter.setPen(opt.palette.color(foregroundRole()));
        painter.drawText(text, Qt::AlignCenter | Qt::TextSingleLine | Qt::TextShowMnemonic, opt.text);
    };
    for (int i = 0; i < n; ++i)
        if (i != selected)
            drawTab(i);
    if (selected >= 0 && selected < n)
        drawTab(selected); // last, so its raised shape lies over its neighbours
}

void TabRows::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    const int index = RowTabAt(event->position().toPoint());
    if (index >= 0 && isTabEnabled(index))
        setCurrentIndex(index);
    event->accept();
}

void TabRows::mouseMoveEvent(QMouseEvent *event)
{
    // No dragging of tabs; the hover drawing follows the mouse.
    update();
    event->accept();
}

void TabRows::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
}
