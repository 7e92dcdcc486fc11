// The tab row of CXTabCtrl, wrapped into as many rows as the control's width needs, as a multi-line
// tab control does. The module column is 256 pixels wide, too narrow for the labels of most module
// dialogs in one row; every label stays whole and visible instead of hiding behind scroll arrows.
// The bar keeps QTabBar's tabs, selection and label colours; it only places and draws them itself.
#pragma once

#include <QRect>
#include <QTabBar>
#include <vector>

class TabRows : public QTabBar
{
    Q_OBJECT
public:
    explicit TabRows(QWidget *parent = nullptr);

    // Height of the rows the tabs take in a bar of that width.
    int HeightForWidth(int width) const;
    int RowHeight() const;
    int RowCount() const { return m_nRows; }
    // Where tab index sits in the bar (empty for no such tab).
    QRect RowTabRect(int index) const;
    // The tab under a point of the bar, or -1.
    int RowTabAt(const QPoint &pos) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // Room beside a label on each side, as the system's tab control leaves it.
    static constexpr int kLabelPadding = 6;

signals:
    // The tabs were laid out again (a label, the font or the width changed): the row count may differ.
    void RowsChanged();

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void tabLayoutChange() override;
    // A tab is as wide as its label and the padding: the style's own wider padding would cost a row.
    QSize tabSizeHint(int index) const override;
    QSize minimumTabSizeHint(int index) const override;

private:
    // Tabs in order, each row filled while it holds them; with more than one row every row is
    // stretched to the full width, so the rows line up as a block.
    std::vector<QRect> Layout(int width, int *rows) const;
    void Relayout();

    std::vector<QRect> m_rects;
    int m_nRows = 1;
};
