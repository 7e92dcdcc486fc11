// CXTabCtrl: a disabled tab cannot be brought forward, a tab disabled while selected stays up, and
// ReplaceTab shows the new page only when it replaces the selected tab.
#include "shell/xtab_ctrl.h"

#include "shell/tab_rows.h"

#include <QLabel>
#include <QPalette>
#include <QTabBar>
#include <QToolButton>
#include <QtTest/QTest>
#include <gtest/gtest.h>

namespace xtab_ctrl_test { // one namespace per test file: a folder compiles as one source

namespace {

struct TabFixture
{
    CXTabCtrl tab;
    QLabel *pages[3];
    TabFixture()
    {
        for (int i = 0; i < 3; ++i) {
            pages[i] = new QLabel(QStringLiteral("page %1").arg(i));
            tab.AddTab(pages[i], QStringLiteral("Tab %1").arg(i), i);
        }
        tab.resize(300, 200);
        tab.show();
    }
    void Click(int index)
    {
        QTest::mouseClick(tab.TabBar(), Qt::LeftButton, {}, tab.Rows()->RowTabRect(index).center());
    }
    int Shown() const
    {
        int shown = -1;
        for (int i = 0; i < 3; ++i) {
            if (tab.GetPage(i)->isVisible()) {
                EXPECT_EQ(shown, -1) << "two pages up";
                shown = i;
            }
        }
        return shown;
    }
};

TEST(XTabCtrl, AddTabPlacesPagesAndShowsOnlyTheFirst)
{
    TabFixture f;
    EXPECT_EQ(f.tab.GetItemCount(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(f.pages[i]->parentWidget(), &f.tab);
        EXPECT_EQ(f.pages[i]->pos(), QPoint(CXTabCtrl::kPageLeft, CXTabCtrl::kPageTop));
        EXPECT_TRUE(f.tab.IsTabEnabled(i));
    }
    EXPECT_EQ(f.tab.GetCurSel(), 0);
    EXPECT_EQ(f.Shown(), 0);
}

TEST(XTabCtrl, ClickingTabsFollowsTheEnableFlags)
{
    // Each step: optional enable change, then a click; expected selection and page afterwards.
    struct Step
    {
        int enableIndex; // -1: none
        bool enable;
        int click;
        int selected;
        int shown;
    };
    const Step steps[] = {
        {-1, true, 1, 1, 1}, // plain switch
        {2, false, 2, 1, 1}, // a disabled tab cannot be chosen
        {2, true, 2, 2, 2},  // enabled again, it can
        {2, false, 2, 2, 2}, // disabled while selected: stays up
        {-1, true, 0, 0, 0}, // until another one is chosen
        {-1, true, 2, 0, 0}, // and then cannot come back
    };
    TabFixture f;
    int n = 0;
    for (const Step &s : steps) {
        if (s.enableIndex >= 0)
            f.tab.EnableTab(s.enableIndex, s.enable);
        f.Click(s.click);
        EXPECT_EQ(f.tab.GetCurSel(), s.selected) << "step " << n;
        EXPECT_EQ(f.Shown(), s.shown) << "step " << n;
        ++n;
    }
}

TEST(XTabCtrl, DisabledLabelIsGrey)
{
    TabFixture f;
    f.tab.EnableTab(1, false);
    EXPECT_EQ(f.tab.TabBar()->tabTextColor(1),
              f.tab.palette().color(QPalette::Disabled, QPalette::ButtonText));
    EXPECT_EQ(f.tab.TabBar()->tabTextColor(0), f.tab.palette().color(QPalette::Active, QPalette::ButtonText));
}

TEST(XTabCtrl, ReplaceTabShowsTheNewPageOnlyForTheSelectedTab)
{
    TabFixture f;
    f.Click(1);
    auto *other = new QLabel(QStringLiteral("replacement of 2"));
    f.tab.ReplaceTab(2, other, QStringLiteral("New 2"));
    EXPECT_FALSE(other->isVisible());
    EXPECT_TRUE(f.pages[1]->isVisible());
    EXPECT_EQ(f.tab.GetTabText(2), QStringLiteral("New 2"));

    auto *focused = new QLabel(QStringLiteral("replacement of 1"));
    f.tab.ReplaceTab(1, focused, QStringLiteral("New 1"));
    EXPECT_TRUE(focused->isVisible());
    EXPECT_EQ(focused->pos(), QPoint(CXTabCtrl::kPageLeft, CXTabCtrl::kPageTop));
    EXPECT_EQ(f.tab.GetPage(1), focused);
}

TEST(XTabCtrl, ReplaceTabKeepsTheEnableFlag)
{
    TabFixture f;
    f.tab.EnableTab(2, false);
    f.tab.ReplaceTab(2, new QLabel(QStringLiteral("x")), QStringLiteral("X"));
    EXPECT_FALSE(f.tab.IsTabEnabled(2));
    f.Click(2);
    EXPECT_EQ(f.tab.GetCurSel(), 0);
}

} // namespace

namespace {

// Tabs wider than the control wrap into rows, as a multi-line tab control does: no scroll arrows, no
// label shortened, every tab inside the control and clickable where it is drawn, also one past a
// disabled tab; the pages stand below the last row, and a control wide enough keeps one row.
TEST(XTabCtrl, TabsWiderThanTheControlWrapIntoRowsWithEveryLabelWhole)
{
    CXTabCtrl tab;
    const char *labels[] = {"Transform Size", "Coefficients", "Bitrate", "Errors", "Display"};
    for (int i = 0; i < 5; ++i)
        tab.AddTab(new QLabel(QStringLiteral("page %1").arg(i)), QString::fromLatin1(labels[i]), i);
    tab.resize(160, 120);
    tab.show();
    const TabRows *rows = tab.Rows();
    EXPECT_GE(rows->RowCount(), 2);
    EXPECT_LE(tab.TabBar()->geometry().right(), tab.width() - 1);
    for (QToolButton *b : tab.TabBar()->findChildren<QToolButton *>())
        EXPECT_FALSE(b->isVisible()) << "a scroll arrow";
    EXPECT_EQ(tab.PageTop(), CXTabCtrl::kPageTop + (rows->RowCount() - 1) * rows->RowHeight());
    tab.EnableTab(3, false);
    int selected = 0;
    for (int i = 0; i < 5; ++i) {
        const QRect r = rows->RowTabRect(i);
        EXPECT_GE(r.width(), tab.TabBar()->fontMetrics().horizontalAdvance(QString::fromLatin1(labels[i])))
            << labels[i];
        EXPECT_TRUE(tab.TabBar()->rect().contains(r)) << labels[i];
        EXPECT_EQ(tab.GetPage(i)->y(), tab.PageTop()) << labels[i];
        QTest::mouseClick(tab.TabBar(), Qt::LeftButton, {}, r.center());
        if (tab.IsTabEnabled(i))
            selected = i;
        EXPECT_EQ(tab.GetCurSel(), selected) << labels[i];
        EXPECT_TRUE(tab.GetPage(selected)->isVisible()) << labels[i];
    }
    EXPECT_EQ(selected, 4); // Display, past the disabled Errors
    // Room for all: one row, the pages at their usual place.
    tab.resize(800, 120);
    EXPECT_EQ(rows->RowCount(), 1);
    EXPECT_EQ(tab.PageTop(), CXTabCtrl::kPageTop);
    EXPECT_EQ(tab.GetPage(0)->y(), CXTabCtrl::kPageTop);
}

} // namespace

} // namespace xtab_ctrl_test
