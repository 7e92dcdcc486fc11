// The application object: start-up order, settings, results font, start image.
#include "shell/compression_app.h"

#include "image/cdib.h"
#include "platform/messages.h"
#include "platform/qt/settings_store.h"
#include "shell/about_dlg.h"
#include "shell/dialog_support.h"
#include "shell/main_frame.h"
#include "shell/module_dialog.h"
#include "shell/rd_doc_glue.h"
#include "shell/settings_dlg.h"
#include "shell/welcome_dlg.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QMdiArea>
#include <QWidget>
#include <algorithm>

// Resources live in a static library: they have to be registered by hand.
static void InitResources()
{
    Q_INIT_RESOURCE(zantho);
}

QIcon ZnProgramIcon()
{
    InitResources();
    static const QIcon icon(QStringLiteral(":/icons/zantho.svg"));
    return icon;
}

CCompressionApp theApp;

CCompressionApp::CCompressionApp() = default;

CCompressionApp::~CCompressionApp()
{
    // Normally ExitInstance has released these; a test that never started leaves nothing.
    delete m_pResultFont;
    delete m_pStartDib;
}

bool CCompressionApp::InitInstance(const QStringList &args)
{
    InitResources();
    // Every window without an icon of its own, dialogs and message boxes too, shows the program's.
    QApplication::setWindowIcon(ZnProgramIcon());
    delete m_pResultFont;
    m_pResultFont = nullptr;
    m_sImageDir.clear();
    m_sTableDir.clear();
    m_sCodebookDir.clear();
    m_sUserDir.clear();
    m_sFontType.clear();
    m_nFontSize = 8;
    m_bHScrollbar = 0;

    m_recentFiles = zn::SettingsStore::LoadRecentFiles();
    // May show the message and the Preferences dialog before any window of the program exists.
    LoadSettings();

    RegisterRDDialogs();
    m_pMainWnd = new CMainFrame;
    if (!m_pMainWnd->LoadFrame()) {
        delete m_pMainWnd;
        m_pMainWnd = nullptr;
        return false;
    }

    delete m_pStartDib;
    m_pStartDib = new CDib;

    // The command line is read and then ignored: neither a named file nor an empty document opens.
    (void)args;

    m_pMainWnd->show();

    auto *welcome = new CWelcomeDlg;
    welcome->Create();
    return true;
}

int CCompressionApp::ExitInstance()
{
    SaveSettings();
    if (m_pMainWnd) {
        // Documents first (they close their dialogs and windows), then the frame with what it owns.
        m_pMainWnd->MdiArea()->closeAllSubWindows();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    delete m_pMainWnd;
    m_pMainWnd = nullptr;
    delete m_pResultFont;
    m_pResultFont = nullptr;
    delete m_pStartDib;
    m_pStartDib = nullptr;
    zn::SettingsStore::SaveRecentFiles(m_recentFiles);
    return 0;
}

void CCompressionApp::LoadSettings()
{
    const zn::AppSettings s = zn::SettingsStore::Load();
    m_sImageDir = s.imageDir;
    m_sTableDir = s.tableDir;
    m_sCodebookDir = s.codebookDir;
    m_sUserDir = s.userDir;
    m_sFontType = s.fontType;
    m_nFontSize = s.fontSize;
    m_bHScrollbar = s.hScrollbar;
    if (m_sImageDir.isEmpty() || m_sTableDir.isEmpty() || m_sCodebookDir.isEmpty() || m_sUserDir.isEmpty()) {
        zn::ShowMessage("Zantho initialization error: Not all the required default directories have been "
                        "specified.");
        OnSettings();
    }
}

void CCompressionApp::SaveSettings()
{
    zn::AppSettings s;
    s.imageDir = m_sImageDir;
    s.tableDir = m_sTableDir;
    s.codebookDir = m_sCodebookDir;
    s.userDir = m_sUserDir;
    s.fontType = m_sFontType;
    s.fontSize = m_nFontSize;
    s.hScrollbar = m_bHScrollbar;
    zn::SettingsStore::Save(s);
}

void CCompressionApp::OnSettings()
{
    CSettingsDlg dlg(m_pMainWnd);
    dlg.exec();
}

void CCompressionApp::OnAppAbout()
{
    CAboutDlg dlg(m_pMainWnd);
    dlg.exec();
}

void CCompressionApp::OnAppHelp()
{
    zn::OpenHelp(kMainHelpContext);
}

QFont CCompressionApp::MakeResultFont(const QFont &base, const QString &face, int pointSize, int dpiY)
{
    QFont f = base;
    const int px = std::max(1, FontPixelHeight(pointSize, dpiY));
    f.setWeight(QFont::Normal);
    f.setItalic(false);
    if (QFontDatabase::hasFamily(face)) {
        f.setFamily(face);
        f.setPixelSize(px);
        return f;
    }
    // MS Sans Serif 8 at 96 dpi: 11 pixels high, 6 pixels the average letter.
    const double widest = 6.0 * px / 11.0;
    const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    f.setFamily(QString::fromLatin1(kSubstituteResultFace));
    const int smallest = std::max(1, (2 * px) / 3); // smaller would not be read comfortably
    for (int size = px; size >= smallest; --size) {
        f.setPixelSize(size);
        if (QFontMetricsF(f).horizontalAdvance(letters) / letters.size() <= widest)
            break;
    }
    return f;
}

QFont *CCompressionApp::GetResultFont(const QWidget *forWidget)
{
    if (!m_pResultFont) {
        const QFont base = forWidget ? forWidget->font() : QFont();
        const int dpiY = forWidget ? forWidget->logicalDpiY() : 96;
        m_pResultFont = new QFont(MakeResultFont(base, m_sFontType, m_nFontSize, dpiY));
    }
    return m_pResultFont;
}

void CCompressionApp::ResetResultFont()
{
    delete m_pResultFont;
    m_pResultFont = nullptr;
}

void CCompressionApp::AddToRecentFileList(const QString &path)
{
    m_recentFiles.removeAll(path);
    m_recentFiles.prepend(path);
    while (m_recentFiles.size() > kRecentFileCount)
        m_recentFiles.removeLast();
}

void CCompressionApp::RemoveFromRecentFileList(const QString &path)
{
    m_recentFiles.removeAll(path);
}
