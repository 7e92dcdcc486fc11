// QSettings behind the settings record. A missing value reads as empty (or its default), which brings
// up the start-up message for the directories.
#include "platform/qt/settings_store.h"

#include <QSettings>

namespace zn {


AppSettings SettingsStore::Load()
{
    AppSettings d;
    QSettings s(QStringLiteral("Orbekast"), QStringLiteral("Zantho"));
    s.beginGroup(QStringLiteral("Settings"));
    AppSettings out;
    out.imageDir = s.value(QStringLiteral("imageDir"), QString()).toString();
    out.tableDir = s.value(QStringLiteral("tableDir"), QString()).toString();
    out.codebookDir = s.value(QStringLiteral("codebookDir"), QString()).toString();
    out.userDir = s.value(QStringLiteral("userDir"), QString()).toString();
    out.fontType = s.value(QStringLiteral("fontType"), d.fontType).toString();
    out.fontSize = s.value(QStringLiteral("fontSize"), d.fontSize).toInt();
    out.hScrollbar = s.value(QStringLiteral("hScrollbar"), d.hScrollbar).toInt();
    s.endGroup();
    return out;
}

void SettingsStore::Save(const AppSettings &v)
{
    QSettings s(QStringLiteral("Orbekast"), QStringLiteral("Zantho"));
    s.beginGroup(QStringLiteral("Settings"));
    s.setValue(QStringLiteral("imageDir"), v.imageDir);
    s.setValue(QStringLiteral("tableDir"), v.tableDir);
    s.setValue(QStringLiteral("codebookDir"), v.codebookDir);
    s.setValue(QStringLiteral("userDir"), v.userDir);
    s.setValue(QStringLiteral("fontType"), v.fontType);
    s.setValue(QStringLiteral("fontSize"), v.fontSize);
    s.setValue(QStringLiteral("hScrollbar"), v.hScrollbar);
    s.endGroup();
    s.sync();
}

QStringList SettingsStore::LoadRecentFiles()
{
    QSettings s(QStringLiteral("Orbekast"), QStringLiteral("Zantho"));
    s.beginGroup(QStringLiteral("Recent File List"));
    QStringList files;
    for (int i = 1; i <= kRecentFiles; ++i) {
        QString f = s.value(QStringLiteral("File%1").arg(i)).toString();
        if (!f.isEmpty())
            files << f;
    }
    s.endGroup();
    return files;
}

void SettingsStore::SaveRecentFiles(const QStringList &files)
{
    QSettings s(QStringLiteral("Orbekast"), QStringLiteral("Zantho"));
    s.beginGroup(QStringLiteral("Recent File List"));
    s.remove(QString());
    for (int i = 0; i < files.size() && i < kRecentFiles; ++i)
        s.setValue(QStringLiteral("File%1").arg(i + 1), files[i]);
    s.endGroup();
    s.sync();
}

} // namespace zn
