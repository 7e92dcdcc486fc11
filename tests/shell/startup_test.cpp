// Start-up of the application object: the first-start message and Preferences, the order of the
// empty-directory refusals, the stored settings, the ignored command line and the welcome box.
#include "doc_fixture.h"
#include "platform/messages.h"
#include "shell/dib_doc.h"
#include "shell/main_frame.h"
#include "shell/settings_dlg.h"
#include "shell/welcome_dlg.h"
#include "shell_fixture.h"
#include "support/test_support.h"

#include <QMdiArea>
#include <QPointer>
#include <QProgressBar>
#include <QtTest/QTest>
#include <gtest/gtest.h>

namespace startup_test { // one namespace per test file: a folder compiles as one source

namespace {

const char kInitMessage[] =
    "Zantho initialization error: Not all the required default directories have been specified.";

TEST(Startup, FirstStartAsksForEachDirectoryInOrderThenStoresAll)
{
    zntest::ClearStoredSettings();
    zntest::ScratchDir dir;
    const QString chosen = QString::fromStdString(dir.Path()) + QStringLiteral("pics");
    zn::MessageRecorder rec;
    bool ran = false;
    // Inside Preferences: OK with nothing set, then fill one directory after each refusal.
    zntest::WhenModal<CSettingsDlg>([&](CSettingsDlg *dlg) {
        ran = true;
        const int buttons[] = {1213, 1220, 1221, 1225};
        auto prev = CSettingsDirDlg::SetFolderDialogHook([&](const QString &) { return chosen; });
        for (int button : buttons) {
            dlg->OnOK();
            EXPECT_TRUE(dlg->isVisible());
            dlg->m_pDirPage->OnBrowse(button);
        }
        CSettingsDirDlg::SetFolderDialogHook(prev);
        dlg->OnOK();
    });
    ASSERT_TRUE(theApp.InitInstance({QStringLiteral("zantho")}));
    EXPECT_TRUE(ran);
    const std::vector<std::string> expected = {
        kInitMessage,
        "No default Image Directory selected; Please enter your preference",
        "No default Tables Directory selected; Please enter your preference",
        "No default Codebook Directory selected; Please enter your preference",
        "No default User Output Directory selected; Please enter your preference",
    };
    EXPECT_EQ(rec.Texts(), expected);

    // All seven values are stored at OK, each directory with its trailing '/'.
    const zn::AppSettings stored = zn::SettingsStore::Load();
    EXPECT_EQ(stored.imageDir, chosen + '/');
    EXPECT_EQ(stored.tableDir, chosen + '/');
    EXPECT_EQ(stored.codebookDir, chosen + '/');
    EXPECT_EQ(stored.userDir, chosen + '/');
    EXPECT_EQ(stored.fontType, QStringLiteral("MS Sans Serif"));
    EXPECT_EQ(stored.fontSize, 8);
    EXPECT_EQ(stored.hScrollbar, 0);
    zntest::StopApp();

    // A restart finds everything and says nothing.
    rec.Clear();
    ASSERT_TRUE(theApp.InitInstance({QStringLiteral("zantho")}));
    EXPECT_EQ(rec.Count(), 0u);
    EXPECT_EQ(theApp.m_sImageDir, chosen + '/');
    EXPECT_EQ(zntest::FindTopLevel<CSettingsDlg>(), nullptr);
    zntest::StopApp();
}

TEST(Startup, CancelInPreferencesRunsWithEmptyDirectories)
{
    zntest::ClearStoredSettings();
    zn::MessageRecorder rec;
    zntest::WhenModal<CSettingsDlg>([](CSettingsDlg *dlg) { dlg->reject(); });
    ASSERT_TRUE(theApp.InitInstance({QStringLiteral("zantho")}));
    EXPECT_EQ(rec.Texts(), std::vector<std::string>{kInitMessage});
    EXPECT_TRUE(theApp.m_sImageDir.isEmpty());
    ASSERT_NE(theApp.m_pMainWnd, nullptr);
    EXPECT_TRUE(theApp.m_pMainWnd->isVisible());
    zntest::StopApp();
}

TEST(Startup, FileOnCommandLineOpensNothing)
{
    zntest::ScratchDir dir;
    zn::SettingsStore::Save(zntest::FilledSettings(dir.Path()));
    doctest::WriteBmp8(dir.File("named.bmp"), 16, 16, 0);

    zn::MessageRecorder rec;
    ASSERT_TRUE(
        theApp.InitInstance({QStringLiteral("zantho"), QString::fromStdString(dir.File("named.bmp"))}));
    EXPECT_EQ(rec.Count(), 0u);
    EXPECT_TRUE(CDibDoc::Documents().empty());
    EXPECT_TRUE(theApp.m_pMainWnd->MdiArea()->subWindowList().isEmpty());
    EXPECT_FALSE(theApp.m_pMainWnd->ShowsDocumentMenu());
    ASSERT_NE(theApp.m_pStartDib, nullptr); // the empty start image exists from start-up
    EXPECT_FALSE(theApp.m_pStartDib->IsValid());
    zntest::StopApp();
}

TEST(Startup, WelcomeBoxFillsInFivesAndGoesOnTheTwentyFirstTick)
{
    zntest::ScratchDir dir;
    zn::SettingsStore::Save(zntest::FilledSettings(dir.Path()));
    ASSERT_TRUE(theApp.InitInstance({QStringLiteral("zantho")}));
    QPointer<CWelcomeDlg> welcome = zntest::FindTopLevel<CWelcomeDlg>();
    ASSERT_TRUE(welcome);
    EXPECT_TRUE(welcome->isVisible());
    EXPECT_EQ(welcome->Progress()->minimum(), 0);
    EXPECT_EQ(welcome->Progress()->maximum(), 100);
    EXPECT_EQ(welcome->Progress()->value(), 0);
    // Its own 100 ms timer is running.
    EXPECT_TRUE(QTest::qWaitFor([&]() { return welcome->TickCount() >= 1; }, 1000));

    // From here the ticks are counted by hand; the box's own timer keeps counting too, so start over.
    welcome = new CWelcomeDlg;
    welcome->Create();
    for (int tick = 1; tick <= 20; ++tick) {
        welcome->OnTimer(CWelcomeDlg::kTimerId);
        ASSERT_EQ(welcome->Progress()->value(), 5 * tick) << "tick " << tick;
        ASSERT_TRUE(welcome->isVisible());
    }
    welcome->OnTimer(CWelcomeDlg::kTimerId);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(welcome.isNull());
    zntest::StopApp();
}

TEST(Startup, ExitWritesTheSettingsBack)
{
    zntest::ScratchDir dir;
    zn::SettingsStore::Save(zntest::FilledSettings(dir.Path()));
    ASSERT_TRUE(theApp.InitInstance({QStringLiteral("zantho")}));
    theApp.m_nFontSize = 11;
    theApp.m_bHScrollbar = 1;
    theApp.m_sTableDir = QStringLiteral("/tables/");
    theApp.AddToRecentFileList(QStringLiteral("/x/a.bmp"));
    EXPECT_EQ(theApp.ExitInstance(), 0);
    EXPECT_EQ(theApp.m_pResultFont, nullptr);
    EXPECT_EQ(theApp.m_pStartDib, nullptr);
    const zn::AppSettings s = zn::SettingsStore::Load();
    EXPECT_EQ(s.fontSize, 11);
    EXPECT_EQ(s.hScrollbar, 1);
    EXPECT_EQ(s.tableDir, QStringLiteral("/tables/"));
    EXPECT_EQ(zn::SettingsStore::LoadRecentFiles(), QStringList{QStringLiteral("/x/a.bmp")});
    zntest::StopApp();
}

} // namespace

} // namespace startup_test
