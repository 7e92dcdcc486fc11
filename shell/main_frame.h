// CMainFrame: the MDI main window. Menu 128 while no document window is active, the documents' menu
// otherwise; tool bar 128 with its 24 buttons; a two-pane status bar. Every command id has one
// QAction; frame commands run here, the rest go to the active document, which also decides whether
// they are enabled (asked when a menu opens and on an idle timer).
#pragma once

#include <QMainWindow>
#include <QString>
#include <functional>
#include <map>
#include <vector>

class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QMenuBar;
class QLabel;
class QTimer;
class QToolBar;

// Command ids of the application and the frame.
inline constexpr int kRecentFileCount = 8;

enum : int {
    ID_FILE_OPEN_IMAGE = 32826,
    ID_FILE_OPEN_SEQUENCE = 32792,
    ID_FILE_OPEN_MPEG = 32796,
    ID_FILE_OPEN_H264 = 32833,
    ID_SETTINGS = 32783,
    ID_APP_ABOUT = 32788,
    ID_APP_HELP = 32836,
    ID_FILE_NEW = 57600,
    ID_FILE_OPEN = 57601,
    ID_FILE_CLOSE = 57602,
    ID_FILE_PRINT_SETUP = 57606,
    ID_FILE_MRU_FILE1 = 57616,
    ID_APP_EXIT = 57665,
    ID_WINDOW_ARRANGE = 57649,
    ID_WINDOW_CASCADE = 57650,
    ID_WINDOW_TILE_HORZ = 57651,
    ID_HELP = 57670,
    ID_SEPARATOR = 0,
};

// One Open command's dialog: title, initial file name and filter in the two-bar form of the
// templates ("Name (*.x)|*.x|...||").
struct OpenDialogKind
{
    int commandId;
    QString title;
    QString initialName;
    QString filter;
};
const std::vector<OpenDialogKind> &OpenDialogKinds();
// "A (*.a)|*.a|B|*.b||" -> "A (*.a);;B (*.b)": Qt takes the patterns from the parentheses.
QString QtFilterFromBars(const QString &filter);
// Tool bar 128 in button order; 0 stands for a separator.
const std::vector<int> &ToolBarLayout();
// Status-bar prompt and tool tip of a command ("prompt\ntip"), empty when none.
QString CommandPrompt(int id);

class CMainFrame : public QMainWindow
{
    Q_OBJECT
public:
    CMainFrame();
    ~CMainFrame() override;

    // Builds menus, tool bar and status bar; false when any of them cannot be made.
    bool LoadFrame();

    // The one action of a command id (made on first use with text; the prompt from the table).
    QAction *Action(int id, const QString &text = {});
    // Runs a command: frame commands here, the others on the active document.
    void OnCommand(int id);
    // Enables the document commands as the active document says (none: disabled).
    void UpdateCommandUI();

    QMdiArea *MdiArea() const { return m_pMdiArea; }
    QToolBar *ToolBar() const { return m_pToolBar; }
    QLabel *IndicatorPane() const { return m_pIndicator; }
    // Client area in the framework's sense: below the menu bar, tool and status bars included.
    QSize ClientSize() const;
    int MenuBarHeight() const;
    // Menus 128 and 129 as lists of top-level menus; which one is up.
    bool ShowsDocumentMenu() const { return m_bDocMenu; }
    const std::vector<QMenu *> &FrameMenus() const { return m_menu128; }
    // The Window menu of the document menus (its open-window list is made when it opens).
    QMenu *WindowMenu() const { return m_pWindowMenu; }
    // Appends the recent-file entries ("Recent File" when the list is empty) to a File menu.
    void AddRecentFileEntries(QMenu *fileMenu);

    // Opens a file as a document; on success it joins the recent files.
    bool OpenDocumentFile(const QString &path);

    void OnOpenImage();
    void OnOpenSequence();
    void OnOpenMpegStream();
    void OnOpenH264Stream();

    // The open-file dialog; tests replace it. Returns the chosen path or "" for Cancel.
    using FileDialogHook = std::function<QString(const OpenDialogKind &, const QString &initialDir)>;
    static FileDialogHook SetFileDialogHook(FileDialogHook hook);

protected:
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    bool IsFrameCommand(int id) const;
    void OpenWith(int commandId);
    void OnSubWindowActivated(QMdiSubWindow *window);
    void SwitchMenus(bool documentMenu);
    void UpdateRecentFileActions();
    void UpdateCaption();
    void UpdateWindowList();

    QMdiArea *m_pMdiArea = nullptr;
    QToolBar *m_pToolBar = nullptr;
    QLabel *m_pIndicator = nullptr;
    QTimer *m_pIdleTimer = nullptr;
    QAction *m_pNoRecentFile = nullptr;
    std::map<int, QAction *> m_actions;
    std::vector<QMenu *> m_menu128;
    std::vector<QMenu *> m_menu129;
    QMenu *m_pWindowMenu = nullptr;
    std::vector<QAction *> m_windowListActions;
    bool m_bDocMenu = false;
    bool m_bFitted = false;
    QRect m_workArea;
};
