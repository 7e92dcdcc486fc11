// Tab stops wide enough that a label never touches its value.
#include "shell/result_tabs.h"

#include <QFontMetricsF>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextDocument>
#include <algorithm>
#include <cmath>

namespace zn {

namespace {

// The narrowest gap a tab leaves in the line at distance d (a large number when no tab follows text).
double NarrowestGap(const TabbedLine &line, double d)
{
    double x = 0, narrowest = 1e9;
    for (const TabbedText &t : line) {
        const double stop = (std::floor((x + t.advance) / d) + 1) * d;
        if (t.ink > 0)
            narrowest = std::min(narrowest, stop - (x + t.ink));
        x = stop;
    }
    return narrowest;
}

} // namespace

double FitTabDistance(const std::vector<TabbedLine> &lines, double base, double minGap)
{
    if (base <= 0)
        return base;
    double best = base, bestGap = -1;
    for (double d = base; d <= 2 * base; d += 1) {
        double gap = 1e9;
        for (const TabbedLine &line : lines)
            gap = std::min(gap, NarrowestGap(line, d));
        if (gap >= minGap)
            return d;
        if (gap > bestGap) {
            best = d;
            bestGap = gap;
        }
    }
    return best;
}

ResultTabStops::ResultTabStops(QPlainTextEdit *box, double base)
    : QObject(box), m_pBox(box), m_font(box->font()), m_base(base)
{
    connect(box->document(), &QTextDocument::contentsChange, this,
            [this](int position, int, int) { OnContentsChange(position); });
    OnContentsChange(0);
}

void ResultTabStops::SetFont(const QFont &font, double base)
{
    m_font = font;
    m_base = base;
    m_measured.clear();
    OnContentsChange(0);
}

TabbedLine ResultTabStops::Measure(const QString &line)
{
    if (auto it = m_measured.constFind(line); it != m_measured.constEnd())
        return *it;
    const QFontMetricsF fm(m_font);
    TabbedLine measured;
    const QStringList parts = line.split(QLatin1Char('\t'));
    for (int i = 0; i + 1 < parts.size(); ++i) {
        QString letters = parts[i];
        while (!letters.isEmpty() && letters.back().isSpace())
            letters.chop(1);
        measured.push_back(
            {letters.isEmpty() ? 0.0 : fm.horizontalAdvance(letters), fm.horizontalAdvance(parts[i])});
    }
    // Reports repeat their lines frame after frame; a long run's distinct lines stay few.
    if (m_measured.size() > 20000)
        m_measured.clear();
    m_measured.insert(line, measured);
    return measured;
}

void ResultTabStops::OnContentsChange(int position)
{
    // Reports are replaced or appended to: everything from the changed block on is measured again.
    const QTextBlock changed = m_pBox->document()->findBlock(position);
    const int from = changed.isValid() ? changed.blockNumber() : 0;
    const auto keep = std::lower_bound(m_blockOfLine.begin(), m_blockOfLine.end(), from);
    const size_t kept = static_cast<size_t>(keep - m_blockOfLine.begin());
    m_blockOfLine.resize(kept);
    m_lines.resize(kept);
    for (QTextBlock b = m_pBox->document()->findBlockByNumber(from); b.isValid(); b = b.next()) {
        const QString text = b.text();
        if (!text.contains(QLatin1Char('\t')))
            continue;
        m_blockOfLine.push_back(b.blockNumber());
        m_lines.push_back(Measure(text));
    }
    Refit();
}

void ResultTabStops::Refit()
{
    const double blank = QFontMetricsF(m_font).horizontalAdvance(QLatin1Char(' '));
    const double d = FitTabDistance(m_lines, m_base, std::max(1.0, blank));
    if (std::fabs(m_pBox->tabStopDistance() - d) > 1e-6)
        m_pBox->setTabStopDistance(d);
}

} // namespace zn
