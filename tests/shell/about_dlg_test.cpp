// The About box: the credits table, the scroller's line order (152 is followed by 0), the welcome
// box it can open again, and a help page for every dialog topic.
#include "shell/about_dlg.h"
#include "shell/help_window.h"
#include "shell/toolbar_images.h"
#include "shell/welcome_dlg.h"
#include "shell_fixture.h"

#include <QFile>
#include <QPointer>
#include <QPushButton>
#include <QtTest/QTest>
#include <gtest/gtest.h>
#include <map>

namespace about_dlg_test { // one namespace per test file: a folder compiles as one source

namespace {

TEST(Credits, TableHas153LinesOfTheFiveKinds)
{
    const QStringList &table = CreditsTable();
    ASSERT_EQ(table.size(), 153);
    std::map<char, int> kinds;
    for (const QString &line : table) {
        if (line.isEmpty()) {
            ++kinds['0'];
            continue;
        }
        const char code = line.back().toLatin1();
        ++kinds[code];
        if (code == '\b') {
            EXPECT_FALSE(NamedPicture(line.left(line.size() - 1)).isNull()) << line.toStdString();
        }
    }
    EXPECT_EQ(kinds['\f'], 57);
    EXPECT_EQ(kinds['\t'], 20);
    EXPECT_EQ(kinds['\r'], 3);
    EXPECT_EQ(kinds['\b'], 21);
    EXPECT_EQ(kinds['0'], 52);
    EXPECT_EQ(kinds['\n'], 0);
}

TEST(AboutDlg, CreditsWaitForTheButtonThenRunThroughEveryLineAndWrap)
{
    CAboutDlg dlg;
    EXPECT_FALSE(dlg.Scrolling());
    QPushButton *credits = dlg.Item<QPushButton>(1332);
    QTest::mouseClick(credits, Qt::LeftButton);
    EXPECT_TRUE(dlg.Scrolling());
    EXPECT_FALSE(credits->isEnabled());

    const QImage before = dlg.Display().toImage();
    std::vector<int> starts; // line index after each line start
    int last = dlg.LineIndex();
    for (int tick = 0; tick < 20000 && starts.size() < 155; ++tick) {
        dlg.OnTimer(CAboutDlg::kCreditsTimer);
        if (dlg.LineIndex() != last) {
            last = dlg.LineIndex();
            starts.push_back(last);
        }
    }
    ASSERT_GE(starts.size(), 155u);
    for (size_t i = 0; i < 155; ++i)
        EXPECT_EQ(starts[i], static_cast<int>((i + 1) % 153)) << "start " << i;
    EXPECT_NE(dlg.Display().toImage(), before); // something scrolled in
    dlg.OnOK();
    EXPECT_FALSE(dlg.Scrolling());
}

TEST(AboutDlg, ShowWelcomeScreenOpensAnotherBox)
{
    CAboutDlg dlg;
    QTest::mouseClick(dlg.Item<QPushButton>(5), Qt::LeftButton);
    CWelcomeDlg *welcome = zntest::FindTopLevel<CWelcomeDlg>();
    ASSERT_NE(welcome, nullptr);
    EXPECT_TRUE(welcome->isVisible());
    welcome->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST(Help, EveryDialogTopicHasAPage)
{
    const int templates[] = {134, 136, 149, 154, 156, 157, 171, 179, 187, 192, 202, 215,
                             216, 220, 221, 235, 239, 249, 251, 269, 270, 280, 290, 291};
    EXPECT_TRUE(QFile::exists(CHelpWindow::TopicPath(0x20080)));
    for (int idd : templates)
        EXPECT_TRUE(QFile::exists(CHelpWindow::TopicPath(0x20000 + idd))) << idd;
    CHelpWindow::ShowTopic(0x20000 + 149);
    ASSERT_NE(CHelpWindow::Instance(), nullptr);
    EXPECT_EQ(CHelpWindow::Instance()->CurrentTopic(), 0x20000 + 149);
    EXPECT_TRUE(CHelpWindow::Instance()->toPlainText().contains(QStringLiteral("PCM")));
    // A topic without a page shows the contents with a note.
    CHelpWindow::ShowTopic(0x20000 + 999);
    EXPECT_TRUE(CHelpWindow::Instance()->toPlainText().contains(QStringLiteral("no help topic")));
    CHelpWindow::Instance()->close();
}

TEST(Help, EscapeClosesTheHelpWindow)
{
    CHelpWindow::ShowTopic(0x20080);
    QPointer<CHelpWindow> w = CHelpWindow::Instance();
    ASSERT_TRUE(w);
    ASSERT_TRUE(w->isVisible());
    QTest::keyClick(w.data(), Qt::Key_Escape);
    EXPECT_TRUE(!w || !w->isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// The help opens inside the work space, clear of the menus above it and of the module column.
TEST(Help, OpensBesideTheModuleColumnInsideTheWorkSpace)
{
    struct Case
    {
        QRect mdi;
        QSize wanted;
    };
    const Case cases[] = {
        {{0, 66, 1600, 900}, {520, 560}},
        {{10, 80, 700, 300}, {520, 560}}, // too small for the wanted size: it shrinks to fit
        {{0, 50, 1024, 700}, {520, 560}},
    };
    for (const Case &c : cases) {
        const QRect r = CHelpWindow::PlaceBeside(c.mdi, c.wanted);
        ASSERT_FALSE(r.isEmpty());
        EXPECT_TRUE(c.mdi.contains(r)) << c.mdi.width();
        EXPECT_LE(r.right(), c.mdi.right() - 256) << c.mdi.width();
        EXPECT_LE(r.width(), c.wanted.width());
        EXPECT_GE(r.top(), c.mdi.top());
    }
    EXPECT_TRUE(CHelpWindow::PlaceBeside(QRect(), QSize(520, 560)).isEmpty());
}

} // namespace

} // namespace about_dlg_test
