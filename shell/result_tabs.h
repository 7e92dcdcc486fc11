// Tab stops of a result box. The reports line their values up with tabs ("Blocksize\t16x16"), and a
// tab only moves on to the next stop: in a face other than the one the reports were written for, a
// label can end a pixel before a stop and run into its value. The box keeps its regular stops but
// widens their distance, from the system's 32 dialog units up, until every tab leaves at least a
// blank between the text before it and the text after it.
#pragma once

#include <QFont>
#include <QHash>
#include <QObject>
#include <QString>
#include <vector>

class QPlainTextEdit;

namespace zn {

// One text that a tab follows: the width of its letters and its width with trailing blanks.
struct TabbedText
{
    double ink = 0;
    double advance = 0;
};
using TabbedLine = std::vector<TabbedText>;

// Smallest distance d >= base (in whole pixels, at most twice base) at which each tab of each line
// moves on at least minGap past the letters before it; with stops at multiples of d, a tab goes to the
// first stop beyond the text. When no distance up to twice base does, the one with the widest gap.
double FitTabDistance(const std::vector<TabbedLine> &lines, double base, double minGap);

class ResultTabStops : public QObject
{
public:
    // Watches the box's text; base is the regular distance of the box's font.
    ResultTabStops(QPlainTextEdit *box, double base);
    // A new font: the texts are measured again.
    void SetFont(const QFont &font, double base);

private:
    void OnContentsChange(int position);
    void Refit();
    TabbedLine Measure(const QString &line);

    QPlainTextEdit *m_pBox;
    QFont m_font;
    double m_base;
    std::vector<TabbedLine> m_lines; // the box's lines that hold a tab, block by block
    std::vector<int> m_blockOfLine;  // their block numbers
    QHash<QString, TabbedLine> m_measured;
};

} // namespace zn
