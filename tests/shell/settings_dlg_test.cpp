// Preferences: directories chosen with Browse get one trailing '/', OK refuses each empty directory
// with its own message, Apply copies without checks, the font and scroll-bar choices, Cancel.
#include "platform/messages.h"
#include "shell/compression_app.h"
#include "shell/settings_dlg.h"

#include <QLabel>
#include <QPushButton>
#include <QtTest/QTest>
#include <gtest/gtest.h>

namespace settings_dlg_test { // one namespace per test file: a folder compiles as one source

namespace {

class SettingsDlgTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        theApp.m_sImageDir = QStringLiteral("/img/");
        theApp.m_sTableDir = QStringLiteral("/tab/");
        theApp.m_sCodebookDir = QStringLiteral("/cbk/");
        theApp.m_sUserDir = QStringLiteral("/usr/");
        theApp.m_sFontType = QStringLiteral("Courier");
        theApp.m_nFontSize = 9;
        theApp.m_bHScrollbar = 1;
        prevFolder = CSettingsDirDlg::SetFolderDialogHook([this](const QString &title) {
            titles << title;
            return folder;
        });
    }
    void TearDown() override { CSettingsDirDlg::SetFolderDialogHook(prevFolder); }

    QString folder;
    QStringList titles;
    CSettingsDirDlg::FolderDialogHook prevFolder;
};

TEST_F(SettingsDlgTest, PagesStartFromTheApplication)
{
    CSettingsDlg dlg;
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Preferences"));
    EXPECT_EQ(dlg.m_pTabCtrl->GetTabText(0), QStringLiteral("Directories"));
    EXPECT_EQ(dlg.m_pTabCtrl->GetTabText(1), QStringLiteral("Other Options"));
    EXPECT_EQ(dlg.m_pDirPage->GetOwner(), &dlg);
    const std::pair<int, const char *> texts[] = {
        {1215, "/img/"}, {1218, "/tab/"}, {1219, "/cbk/"}, {1151, "/usr/"}};
    for (const auto &[id, text] : texts)
        EXPECT_EQ(dlg.m_pDirPage->Item<QLabel>(id)->text(), QString::fromUtf8(text));
    EXPECT_EQ(dlg.m_pOptionsPage->Item<QLabel>(1622)->text(), QStringLiteral("Courier"));
    EXPECT_EQ(dlg.m_pOptionsPage->Item<QLabel>(1623)->text(), QStringLiteral("9"));
    EXPECT_TRUE(dlg.m_pOptionsPage->Item<QPushButton>(1620)->isChecked());
}

TEST_F(SettingsDlgTest, BrowseStoresTheFolderWithOneTrailingSlash)
{
    struct Case
    {
        int button;
        const char *chosen;
        const char *stored;
        const char *title;
    };
    const Case cases[] = {
        {1213, "/data/images", "/data/images/", "\r\n    Select the Default Directory for Image Files"},
        {1220, "/data/tables/", "/data/tables/", "\r\n    Select the Default Directory for Table Files"},
        {1221, "/", "/", "\r\n    Select the Default Directory for Codebook Files"},
        {1225, "/home/u/out", "/home/u/out/",
         "\r\n    Select the Default (Writable) Directory for User Output"},
    };
    CSettingsDlg dlg;
    for (const Case &c : cases) {
        titles.clear();
        folder = QString::fromUtf8(c.chosen);
        QTest::mouseClick(dlg.m_pDirPage->Item<QPushButton>(c.button), Qt::LeftButton);
        EXPECT_EQ(titles, QStringList{QString::fromUtf8(c.title)});
    }
    EXPECT_EQ(dlg.m_pDirPage->m_sImageDir, QStringLiteral("/data/images/"));
    EXPECT_EQ(dlg.m_pDirPage->m_sTableDir, QStringLiteral("/data/tables/"));
    EXPECT_EQ(dlg.m_pDirPage->m_sCodebookDir, QStringLiteral("/"));
    EXPECT_EQ(dlg.m_pDirPage->m_sUserDir, QStringLiteral("/home/u/out/"));
    // The field shows the folder as chosen.
    EXPECT_EQ(dlg.m_pDirPage->Item<QLabel>(1215)->text(), QStringLiteral("/data/images"));
    // Nothing chosen: nothing changes.
    folder.clear();
    dlg.m_pDirPage->OnBrowse(1213);
    EXPECT_EQ(dlg.m_pDirPage->m_sImageDir, QStringLiteral("/data/images/"));
}

TEST_F(SettingsDlgTest, OkRefusesTheFirstEmptyDirectoryWithItsMessage)
{
    const std::pair<QString CSettingsDirDlg::*, const char *> cases[] = {
        {&CSettingsDirDlg::m_sImageDir, "No default Image Directory selected; Please enter your preference"},
        {&CSettingsDirDlg::m_sTableDir, "No default Tables Directory selected; Please enter your preference"},
        {&CSettingsDirDlg::m_sCodebookDir,
         "No default Codebook Directory selected; Please enter your preference"},
        {&CSettingsDirDlg::m_sUserDir,
         "No default User Output Directory selected; Please enter your preference"},
    };
    for (const auto &[member, message] : cases) {
        zn::MessageRecorder rec;
        CSettingsDlg dlg;
        dlg.show();
        dlg.m_pOptionsPage->m_nFontSize = 20;
        dlg.m_pDirPage->*member = QString();
        dlg.OnOK();
        EXPECT_EQ(rec.Texts(), std::vector<std::string>{message});
        EXPECT_TRUE(dlg.isVisible());
        EXPECT_EQ(theApp.m_nFontSize, 9); // nothing copied
    }
}

TEST_F(SettingsDlgTest, ApplyCopiesEvenEmptyDirectoriesAndCancelKeepsWhatWasApplied)
{
    zn::MessageRecorder rec;
    CSettingsDlg dlg;
    dlg.m_pDirPage->m_sTableDir.clear();
    dlg.m_pOptionsPage->m_nFontSize = 14;
    QTest::mouseClick(dlg.m_pOptionsPage->Item<QPushButton>(1619), Qt::LeftButton); // "No"
    QTest::mouseClick(dlg.Item<QPushButton>(1224), Qt::LeftButton);
    EXPECT_EQ(rec.Count(), 0u);
    EXPECT_TRUE(theApp.m_sTableDir.isEmpty());
    EXPECT_EQ(theApp.m_nFontSize, 14);
    EXPECT_EQ(theApp.m_bHScrollbar, 0);
    dlg.m_pOptionsPage->m_nFontSize = 30;
    dlg.reject();
    EXPECT_EQ(theApp.m_nFontSize, 14);
}

TEST_F(SettingsDlgTest, FontDialogAndDefault)
{
    CSettingsDlg dlg;
    CSettingsOptionsDlg *page = dlg.m_pOptionsPage;
    // Chosen sizes in tenths of a point become whole points.
    const std::pair<double, int> sizes[] = {{10.0, 10}, {10.5, 10}, {7.9, 7}, {12.0, 12}};
    for (const auto &[chosen, stored] : sizes) {
        auto prev = CSettingsOptionsDlg::SetFontDialogHook([&](QFont &f) {
            EXPECT_EQ(f.family(), page->m_sFontType);
            f.setFamily(QStringLiteral("Serif"));
            f.setPointSizeF(chosen);
            return true;
        });
        QTest::mouseClick(page->Item<QPushButton>(1621), Qt::LeftButton);
        CSettingsOptionsDlg::SetFontDialogHook(prev);
        EXPECT_EQ(page->m_nFontSize, stored) << chosen;
        EXPECT_EQ(page->Item<QLabel>(1623)->text(), QString::number(stored));
    }
    EXPECT_EQ(page->m_sFontType, QStringLiteral("Serif"));
    // Cancel in the font dialog keeps the choice.
    auto prev = CSettingsOptionsDlg::SetFontDialogHook([](QFont &f) {
        f.setPointSize(30);
        return false;
    });
    page->OnChangeFont();
    CSettingsOptionsDlg::SetFontDialogHook(prev);
    EXPECT_EQ(page->m_nFontSize, 12);
    QTest::mouseClick(page->Item<QPushButton>(1624), Qt::LeftButton);
    EXPECT_EQ(page->m_sFontType, QStringLiteral("MS Sans Serif"));
    EXPECT_EQ(page->m_nFontSize, 8);
    EXPECT_EQ(page->Item<QLabel>(1622)->text(), QStringLiteral("MS Sans Serif"));
}

} // namespace

} // namespace settings_dlg_test
