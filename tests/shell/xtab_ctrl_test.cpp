// CXTabCtrl: a disabled tab cannot be brought forward, a tab disabled while selected stays up, and
// ReplaceTab shows the new page only when it replaces the selected tab.
#include "shell/xtab_ctrl.h"

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
        QTabBar *bar = tab.TabBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
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

// Tabs wider than the control: the row stays inside it and scroll arrows appear, as on the system's
// tab control; labels are not shortened, and every tab, also one past a disabled tab, can be reached
// with the arrows and then clicked.
TEST(XTabCtrl, ARowWiderThanTheControlScrollsToEveryTab)
{
    CXTabCtrl tab;
    const char *labels[] = {"Transform Size", "Coefficients", "Bitrate", "Errors", "Display"};
    for (int i = 0; i < 5; ++i)
        tab.AddTab(new QLabel(QStringLiteral("page %1").arg(i)), QString::fromLatin1(labels[i]), i);
    tab.resize(160, 120);
    tab.show();
    QTabBar *bar = tab.TabBar();
    EXPECT_LE(bar->width(), tab.width());
    EXPECT_EQ(bar->elideMode(), Qt::ElideNone);
    tab.EnableTab(3, false);
    QToolButton *left = nullptr, *right = nullptr;
    for (QToolButton *b : bar->findChildren<QToolButton *>()) {
        if (!b->isVisible())
            continue;
        if (!left || b->x() < left->x())
            left = b;
        if (!right || b->x() > right->x())
            right = b;
    }
    ASSERT_TRUE(left && right && left != right) << "no scroll arrows";
    int selected = 0;
    for (int i = 0; i < 5; ++i) {
        // The part of the row left of the arrows is what the user sees.
        auto shown = [&] { return bar->tabRect(i).left() >= 0 && bar->tabRect(i).right() < left->x(); };
        for (int step = 0; step < 20 && !shown(); ++step)
            QTest::mouseClick(bar->tabRect(i).left() < 0 ? left : right, Qt::LeftButton);
        ASSERT_TRUE(shown()) << labels[i];
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(i).center());
        if (tab.IsTabEnabled(i))
            selected = i;
        EXPECT_EQ(tab.GetCurSel(), selected) << labels[i];
        EXPECT_TRUE(tab.GetPage(selected)->isVisible()) << labels[i];
    }
    EXPECT_EQ(selected, 4); // Display, past the disabled Errors
}

} // namespace

} // namespace xtab_ctrl_test
