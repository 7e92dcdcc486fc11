// The program's settings, kept with QSettings("Orbekast", "Zantho") in group "Settings".
// This is the only place that knows the keys and their defaults.
#pragma once

#include <QString>
#include <QStringList>

namespace zn {

struct AppSettings
{
    QString imageDir;    // each directory ends with '/' when set
    QString tableDir;
    QString codebookDir;
    QString userDir;
    QString fontType = QStringLiteral("MS Sans Serif");
    int fontSize = 8;
    int hScrollbar = 0;
};

class SettingsStore
{
public:
    static constexpr int kRecentFiles = 8;

    static AppSettings Load();
    static void Save(const AppSettings &settings);
    static QStringList LoadRecentFiles();
    static void SaveRecentFiles(const QStringList &files);
};

} // namespace zn
