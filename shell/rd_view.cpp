// Screen drawing of the R(D) graph; the scale, curves and PostScript live in RDGraph.
#include "shell/rd_view.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace zn {

CRDView::CRDView(QWidget *parent) : QFrame(parent)
{
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setLineWidth(1);
    setObjectName(QStringLiteral("RDPLOTAREA"));
    setEnabled(false); // a picture only: it takes no input
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);
}

void CRDView::paintEvent(QPaintEvent *event)
{
    QFrame::paintEvent(event);
    QPainter painter(this);
    painter.setClipRect(contentsRect());
    OnDraw(painter);
}

QPointF CRDView::LogicalToWindow(int x, int y) const
{
    const QRect r = contentsRect();
    return QPointF(r.left() + x * (r.width() / 1000.0), r.top() + r.height() - y * (r.height() / 1000.0));
}

void CRDView::OnDraw(QPainter &painter)
{
    const double sx = contentsRect().width() / 1000.0;
    const double sy = contentsRect().height() / 1000.0;
    // Logical y grows upward from the bottom of the window.
    auto pt = [&](int x, int y) { return LogicalToWindow(x, y); };
    auto line = [&](int x0, int y0, int x1, int y1) { painter.drawLine(pt(x0, y0), pt(x1, y1)); };
    auto text = [&](int x, int y, const QString &s) {
        QFontMetricsF fm(painter.font());
        painter.drawText(pt(x, y) + QPointF(0, fm.ascent()), s); // (x, y) is the top-left corner
    };

    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setBrush(Qt::NoBrush);
    QPen black(Qt::black, 1);
    QPen grid(QColor(RDGraph::kGridColour.r, RDGraph::kGridColour.g, RDGraph::kGridColour.b), 1);
    QFont labelFont = painter.font();
    painter.setFont(labelFont);
    painter.setPen(black);

    line(100, 950, 100, 100);
    line(100, 100, 950, 100);

    for (int i = 0, n = m_graph.RateTickCount(); i <= n; ++i) {
        int x = m_graph.RateTickPos(i);
        painter.setPen(black);
        line(x, 100, x, 80);
        if (i > 0) {
            painter.setPen(grid);
            line(x, 105, x, 950);
            painter.setPen(black);
        }
        text(x - 10, 70, QString::fromStdString(m_graph.RateLabel(i)));
    }
    for (int i = 0, n = m_graph.ValueTickCount(); i <= n; ++i) {
        int y = m_graph.ValueTickPos(i);
        painter.setPen(black);
        line(100, y, 80, y);
        if (i > 0) {
            painter.setPen(grid);
            line(103, y, 950, y);
            painter.setPen(black);
        }
        text(20, y + 20, QString::fromStdString(m_graph.ValueLabel(i)));
    }
    text(800, 160, QStringLiteral("Bit Rate (bpp)"));
    text(110, 980, QString::fromLatin1(m_graph.ValueTitle()));

    QFont legendFont(QStringLiteral("Arial"));
    legendFont.setPixelSize(std::max(1, static_cast<int>(35 * sy + 0.5)));
    painter.setFont(legendFont);
    const QFontMetricsF legendMetrics(legendFont);
    double widest = 0;
    for (int i = 0, n = m_graph.CurveCount(); i < n; ++i)
        widest = std::max(widest,
                          legendMetrics.horizontalAdvance(QString::fromStdString(m_graph.m_sCurveName[i])));
    const RDGraph::LegendPlace legend = m_graph.PlaceLegend(static_cast<int>(std::ceil(widest / sx)));
    for (int i = 0, n = m_graph.CurveCount(); i < n; ++i) {
        const RDColour &c = RDGraph::kCurveColours[i % 6];
        painter.setPen(QPen(QColor(c.r, c.g, c.b), 1));
        text(legend.x, legend.Line(i), QString::fromStdString(m_graph.m_sCurveName[i]));
    }

    // Curves stay inside the axis box: one added on another curve's scale may lie far beyond it.
    painter.setClipRect(
        QRectF(pt(RDGraph::kAxisLow, RDGraph::kAxisHigh), pt(RDGraph::kAxisHigh, RDGraph::kAxisLow)),
        Qt::IntersectClip);
    int curve = -1;
    QPointF last;
    for (int k = 0, n = m_graph.EntryCount(); k < n; ++k) {
        QPointF p = pt(m_graph.MapX(m_graph.m_pRate[k]), m_graph.MapY(m_graph.m_pValue[k]));
        if (m_graph.m_pPenCode[k] == 2) {
            ++curve;
            const RDColour &c = RDGraph::kCurveColours[curve % 6];
            painter.setPen(QPen(QColor(c.r, c.g, c.b), 1));
        } else {
            painter.drawLine(last, p);
        }
        last = p;
        painter.drawEllipse(QRectF(p.x() - 5 * sx, p.y() - 8 * sy, 10 * sx, 16 * sy));
    }
}

} // namespace zn
