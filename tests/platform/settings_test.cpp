// Settings round-trip through QSettings in a private config folder.
#include "platform/qt/settings_store.h"
#include "support/test_support.h"

#include <QCoreApplication>
#include <QSettings>
#include <QStandardPaths>
#include <gtest/gtest.h>

namespace settings_test { // one namespace per test file: a folder compiles as one source

using namespace zn;

TEST(Settings, DefaultsThenRoundTrip)
{
    zntest::ScratchDir dir;
    setenv("XDG_CONFIG_HOME", dir.Path().c_str(), 1);
    AppSettings d = SettingsStore::Load();
    EXPECT_TRUE(d.imageDir.isEmpty());
    EXPECT_EQ(d.fontType, QStringLiteral("MS Sans Serif"));
    EXPECT_EQ(d.fontSize, 8);
    EXPECT_EQ(d.hScrollbar, 0);

    AppSettings s;
    s.imageDir = "/img/";
    s.tableDir = "/tab/";
    s.codebookDir = "/cbk/";
    s.userDir = "/usr dir/";
    s.fontType = "DejaVu Sans";
    s.fontSize = 11;
    s.hScrollbar = 1;
    SettingsStore::Save(s);
    AppSettings r = SettingsStore::Load();
    EXPECT_EQ(r.imageDir, s.imageDir);
    EXPECT_EQ(r.userDir, s.userDir);
    EXPECT_EQ(r.fontType, s.fontType);
    EXPECT_EQ(r.fontSize, 11);
    EXPECT_EQ(r.hScrollbar, 1);

    SettingsStore::SaveRecentFiles({"/a.bmp", "/b.tif"});
    EXPECT_EQ(SettingsStore::LoadRecentFiles(), (QStringList{"/a.bmp", "/b.tif"}));
}

} // namespace settings_test
