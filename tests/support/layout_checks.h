// What a user sees of a dialog or a document's windows, checked on the laid-out widgets: result
// texts whose every character is visible and whose labels keep clear of their values, tab labels
// shown whole, and result windows that do not cover one another.
#pragma once

#include "shell/dib_doc.h"
#include "shell/dib_frame.h"
#include "shell/tab_rows.h"
#include "shell/xtab_ctrl.h"

#include <QAbstractTextDocumentLayout>
#include <QFontMetricsF>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QToolButton>
#include <string>
#include <vector>

namespace zntest {

// Every two shown windows of the document that overlap, as "title | title" lines; "" when none do.
inline std::string OverlappingResultWindows(const CDibDoc *doc)
{
    std::vector<const CDibFrame *> frames = {doc->m_pMainFrame, doc->m_pResultFrameA, doc->m_pResultFrameB,
                                             doc->m_pLegendFrame, doc->m_pResultFrameD};
    for (const CDibFrame *f : doc->ChainFrames())
        frames.push_back(f);
    std::vector<const CDibFrame *> shown;
    for (const CDibFrame *f : frames)
        if (f && f->isVisible())
            shown.push_back(f);
    std::string overlaps;
    for (size_t i = 0; i < shown.size(); ++i)
        for (size_t j = i + 1; j < shown.size(); ++j)
            if (shown[i]->geometry().intersects(shown[j]->geometry()))
                overlaps += shown[i]->windowTitle().toStdString() + " | " +
                            shown[j]->windowTitle().toStdString() + "\n";
    return overlaps;
}

// A result box as laid out: every line no wider than the box (a longer one wraps), and every tab
// leaves at least a blank between the letters before it and what follows. The lines that fail, one
// per line of the answer; "" when all is well.
inline std::string ResultTextProblems(QPlainTextEdit *box)
{
    std::string problems;
    QTextDocument *doc = box->document();
    const qreal room = box->viewport()->width() - 2 * doc->documentMargin();
    const qreal blank = QFontMetricsF(box->font()).horizontalAdvance(QLatin1Char(' '));
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
        doc->documentLayout()->blockBoundingRect(b); // lays the block out
        const QTextLayout *layout = b.layout();
        const QString text = b.text();
        for (int i = 0; i < layout->lineCount(); ++i)
            if (layout->lineAt(i).naturalTextWidth() > room + 0.5)
                problems += "wider than the box (" + std::to_string(layout->lineAt(i).naturalTextWidth()) +
                            " > " + std::to_string(room) + "): \"" + text.toStdString() + "\"\n";
        for (int tab = text.indexOf(QLatin1Char('\t')); tab >= 0;
             tab = text.indexOf(QLatin1Char('\t'), tab + 1)) {
            int letters = tab;
            while (letters > 0 && text[letters - 1].isSpace())
                --letters;
            const QTextLine before = layout->lineForTextPosition(letters);
            const QTextLine after = layout->lineForTextPosition(tab + 1);
            if (letters == 0 || !before.isValid() || !after.isValid() ||
                before.lineNumber() != after.lineNumber())
                continue; // nothing before it on its line
            const qreal gap = after.cursorToX(tab + 1) - before.cursorToX(letters);
            if (gap < blank - 0.5)
                problems += "label touches its value (" + std::to_string(gap) + " px): \"" +
                            text.toStdString() + "\"\n";
        }
    }
    return problems;
}

// The tabs of a tab control as the user meets them: no scroll arrows, each label whole inside the
// control, the pages below the last row of tabs. The problems, one per line; "" when none.
inline std::string TabLabelProblems(const CXTabCtrl *tabs)
{
    std::string problems;
    const QTabBar *bar = tabs->TabBar();
    for (const QToolButton *b : bar->findChildren<QToolButton *>())
        if (b->isVisible())
            problems += "a scroll arrow\n";
    if (bar->geometry().right() >= tabs->width())
        problems += "the tab rows reach past the control\n";
    for (int i = 0; i < tabs->GetItemCount(); ++i) {
        const std::string label = tabs->GetTabText(i).toStdString();
        const QRect r = tabs->Rows()->RowTabRect(i);
        if (!bar->rect().contains(r))
            problems += "\"" + label + "\" lies outside the tab rows\n";
        if (r.width() < bar->fontMetrics().horizontalAdvance(tabs->GetTabText(i)) + 2)
            problems += "\"" + label + "\" is cut\n";
        if (tabs->GetPage(i)->y() <= bar->geometry().bottom())
            problems += "the page of \"" + label + "\" lies under the tabs\n";
    }
    return problems;
}

} // namespace zntest
