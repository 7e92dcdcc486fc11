// CCompressionApp: the one application object, theApp. It holds the program-wide settings (four
// default directories, each ending in '/', the results font settings and the scroll-bar option), the
// shared results font and the start image, runs the start-up sequence once QApplication exists, and
// carries the commands that need no document: Settings, About, Help.
#pragma once

#include <QFont>
#include <QIcon>
#include <QString>
#include <QStringList>

// The program's own icon (resources/icons/zantho.svg), for the main window and every image window.
QIcon ZnProgramIcon();

class CDib;
class CMainFrame;
class QWidget;

class CCompressionApp
{
public:
    CCompressionApp();
    ~CCompressionApp();
    CCompressionApp(const CCompressionApp &) = delete;
    CCompressionApp &operator=(const CCompressionApp &) = delete;

    // Start-up; call after QApplication exists. args: the command line (parsed, never opened).
    // false ends the program.
    bool InitInstance(const QStringList &args = {});
    // Writes the settings back and frees the results font, the start image and the main window.
    int ExitInstance();

    void LoadSettings();
    void SaveSettings();

    void OnSettings(); // the Preferences dialog, modal
    void OnAppAbout(); // the About dialog, modal
    void OnAppHelp();  // the help window at the main window's topic

    // The shared font of the result boxes: made on first use from m_sFontType and m_nFontSize for
    // the screen of forWidget; released by OK in Preferences so the next dialog makes a new one.
    QFont *GetResultFont(const QWidget *forWidget);
    void ResetResultFont();
    // The results font of a face and point size on a screen of dpiY. A face the system lacks (the
    // default "MS Sans Serif" among them) becomes kSubstituteResultFace, at the largest pixel size
    // whose average letter is no wider than that of the Windows face the dialogs were drawn for,
    // so result texts keep the width they had there.
    static constexpr const char *kSubstituteResultFace = "DejaVu Sans Condensed";
    static QFont MakeResultFont(const QFont &base, const QString &face, int pointSize, int dpiY);

    // Recent files (most recent first, at most 8), kept with the settings.
    const QStringList &RecentFiles() const { return m_recentFiles; }
    void AddToRecentFileList(const QString &path);
    void RemoveFromRecentFileList(const QString &path);

    CMainFrame *m_pMainWnd = nullptr;

    QFont *m_pResultFont = nullptr;
    QString m_sCodebookDir;
    QString m_sTableDir;
    QString m_sImageDir;
    QString m_sUserDir;
    CDib *m_pStartDib = nullptr;
    QString m_sFontType;
    int m_nFontSize = 8;
    int m_bHScrollbar = 0;

private:
    QStringList m_recentFiles;
};

extern CCompressionApp theApp;
inline CCompressionApp *AfxGetApp()
{
    return &theApp;
}
