// The main window: menus, tool bar, status bar, command routing and the four Open commands.
#include "shell/main_frame.h"

#include "shell/compression_app.h"
#include "shell/dialog_support.h"
#include "shell/toolbar_images.h"

#include "shell/dib_doc.h"
#include "shell/dib_frame.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

namespace {

constexpr int kIdleUpdateMs = 250;
constexpr int kIndicatorPaneId = 0xE706;

struct PromptEntry
{
    int id;
    const char *prompt;
};

// Status-bar prompts and tool tips ("prompt\ntip") of the frame's commands and the tool bar's buttons.
const PromptEntry kPrompts[] = {
    {32826, "Open an Existing Image\nOpen Image"},
    {32792, "Open an Existing Image Sequence\nOpen Image Sequence"},
    {32796, "Open an Existing MPEG-1 or MPEG-2 Compressed Video Stream\nOpen Mpeg Stream"},
    {32833, "Open an Existing H.264 Compressed Video Stream\nOpen H.264 Stream"},
    {32783, "Set the Zantho Settings\n Set Settings"},
    {32788, "Display the Zantho Credits\nDisplay the Credits"},
    {32836, "Open Zantho Help File\nZantho Help File"},
    {57665, "Quit the application; prompts to save documents\nExit"},
    {32773, "Display Information for the Selected Image"},
    {32780, "Set the Current Processed Image as the one to be Processed\nSet the Current Processed Image as "
            "the one to be Processed"},
    {32781, "Save the current image as...\nSave as..."},
    {32819, "Put the Selected Image on Stack such that Another Image can be Subtracted from it\nPut Image on "
            "Stack"},
    {32820, "Subtract Selected Image from Image on Stack\nSubtract from Image on Stack"},
    {32837, "Delete All Result Images\nDelete All Result Images"},
    {32775, "Open the Subsampling Module\nSubsampling Module"},
    {32771, "Open the Pulse Coded Modulation Module\nPCM Module"},
    {32772, "Open the Differential Pulse Coded Modulation Module\nDPCM Module"},
    {32784, "Open the Vector Quantization Module\nVector Quantization Module"},
    {32786, "Open the Fractal Image Coding Module\nFractal Image Coding Module"},
    {32778, "Open the Discrete Cosine Transform Module\nDiscrete Cosine Transform Module"},
    {32789, "Open the JPEG Module\nJPEG Module"},
    {32777, "Open the Subband Coding Module\nSubband Coding Module"},
    {32815, "Open the SPIHT Module\nSPIHT Module"},
    {32816, "Open the EZW Module\nEZW Module"},
    {32817, "Open the JPEG2000 Module\nJPEG2000 Module"},
    {32803, "Open Video Player Module\nVideo Player Module"},
    {32793, "Open Motion Estimation Module\nMotion Estimation Module"},
    {32805, "Open the Mpeg 1/2 Video Encoder Module\nMpeg Encoder Module"},
    {32797, "Open the Mpeg 1/2 Video Decoder Module\nMpeg Decoder Module"},
    {32831, "Open the H.264 Video Encoder Module\nH.264 Encoder Module"},
    {32832, "Open the H.264 Video Decoder Module\nH.264 Decoder Module"},
    {32827, "Start Storing R(D) Points for Use in Plot\nR(D) Storing Module"},
    {32825, "Plot Graphs Using Stored R(D) Values\nR(D) Plot Module"},
    {32829, "Open the Template Module\nTemplate Module"},
};

CMainFrame::FileDialogHook &FileDialogHookRef()
{
    static CMainFrame::FileDialogHook hook;
    return hook;
}

QString RunOpenDialog(const OpenDialogKind &kind, const QString &initialDir)
{
    if (FileDialogHookRef())
        return FileDialogHookRef()(kind, initialDir);
    // No parent window, as the program's open dialogs have none.
    QFileDialog dialog(nullptr, kind.title, initialDir, QtFilterFromBars(kind.filter));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.selectFile(kind.initialName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().front();
}

} // namespace

const std::vector<OpenDialogKind> &OpenDialogKinds()
{
    static const std::vector<OpenDialogKind> specs = {
        {ID_FILE_OPEN_IMAGE, QStringLiteral("Select an Image"), QStringLiteral("*.bmp"),
         QStringLiteral("Bitmap Image (8 or 24 bit) (*.bmp)|*.bmp|Tiff Image (*.tif)|*.tif||")},
        {ID_FILE_OPEN_SEQUENCE, QStringLiteral("Select an Image Sequence"), QStringLiteral("*.yuv"),
         QStringLiteral("Raw YUV Image Sequence (*.yuv)|*.yuv|Raw Y Image Sequence (*.y)|*.y|"
                        "Sequence of Bmp Images (*.seq)|*.seq||")},
        {ID_FILE_OPEN_MPEG, QStringLiteral("Select an Mpeg Stream"), QStringLiteral("*.mpg"),
         QStringLiteral("Mpeg Stream (*.mpg)|*.mpg|Mpeg-1 Video Stream (*.m1v)|*.m1v|"
                        "Mpeg-2 Video Stream (*.m2v)|*.m2v||")},
        {ID_FILE_OPEN_H264, QStringLiteral("Select an H.264 Stream"), QStringLiteral("*.264"),
         QStringLiteral("H.264 Stream (*.264)|*.264||")},
    };
    return specs;
}

QString QtFilterFromBars(const QString &filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        const QString &name = parts[i];
        const QString &pattern = parts[i + 1];
        if (name.isEmpty() && pattern.isEmpty())
            break; // the closing "||"
        QString pat = QString(pattern).replace(QLatin1Char(';'), QLatin1Char(' '));
        if (name.endsWith(QLatin1Char('(') + pattern + QLatin1Char(')')))
            out << name;
        else
            out << QStringLiteral("%1 (%2)").arg(name, pat);
    }
    return out.join(QStringLiteral(";;"));
}

const std::vector<int> &ToolBarLayout()
{
    static const std::vector<int> layout = {
        32826, 32792, 32796,        32833,        32781,        ID_SEPARATOR, // open, save
        32827, 32825, ID_SEPARATOR,                                           // R(D)
        32775, 32771, 32772,        ID_SEPARATOR,                             // subsampling, PCM, DPCM
        32784, 32786, ID_SEPARATOR,                                           // VQ, fractal
        32778, 32789, ID_SEPARATOR,                                           // DCT, JPEG
        32777, 32816, 32815,        32817,        ID_SEPARATOR,               // subband, EZW, SPIHT, JPEG2000
        32803, 32793, ID_SEPARATOR,                                           // player, motion estimation
        32805, 32797, 32831,        32832,                                    // MPEG and H.264 coders
    };
    return layout;
}

QString CommandPrompt(int id)
{
    if (id >= ID_FILE_MRU_FILE1 && id < ID_FILE_MRU_FILE1 + 16)
        return QStringLiteral("Open this document");
    for (const PromptEntry &e : kPrompts) {
        if (e.id == id)
            return QString::fromUtf8(e.prompt);
    }
    return {};
}

CMainFrame::FileDialogHook CMainFrame::SetFileDialogHook(FileDialogHook hook)
{
    FileDialogHook previous = std::move(FileDialogHookRef());
    FileDialogHookRef() = std::move(hook);
    return previous;
}

// ---------------------------------------------------------------------------------------------------

CMainFrame::CMainFrame()
    : QMainWindow(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                               Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                               Qt::WindowCloseButtonHint)
{
    setWindowTitle(QStringLiteral("Zantho"));
    setWindowIcon(ZnProgramIcon());
    // The frame covers the work area (the screen less its panels) from 0,0 and cannot be resized.
    QScreen *screen = QGuiApplication::primaryScreen();
    m_workArea = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    move(m_workArea.topLeft());
    setFixedSize(m_workArea.size());
}

CMainFrame::~CMainFrame() = default;

QAction *CMainFrame::Action(int id, const QString &text)
{
    auto it = m_actions.find(id);
    if (it != m_actions.end()) {
        if (!text.isEmpty() && it->second->text().isEmpty())
            it->second->setText(text);
        return it->second;
    }
    auto *action = new QAction(text, this);
    action->setData(id);
    const QString prompt = CommandPrompt(id);
    if (!prompt.isEmpty()) {
        const int nl = prompt.indexOf(QLatin1Char('\n'));
        action->setStatusTip(nl < 0 ? prompt : prompt.left(nl));
        action->setToolTip(nl < 0 ? prompt : prompt.mid(nl + 1));
    }
    connect(action, &QAction::triggered, this, [this, id]() { OnCommand(id); });
    m_actions[id] = action;
    return action;
}

bool CMainFrame::LoadFrame()
{
    m_pMdiArea = new QMdiArea(this);
    setCentralWidget(m_pMdiArea);
    connect(m_pMdiArea, &QMdiArea::subWindowActivated, this, &CMainFrame::OnSubWindowActivated);

    // Menu 128.
    auto *file = new QMenu(QStringLiteral("&File"), this);
    file->addAction(Action(ID_FILE_OPEN_IMAGE, QStringLiteral("Open &Image")));
    file->addAction(Action(ID_FILE_OPEN_SEQUENCE, QStringLiteral("Open &Sequence")));
    file->addSeparator();
    file->addAction(Action(ID_FILE_OPEN_MPEG, QStringLiteral("Open &Mpeg Stream")));
    file->addAction(Action(ID_FILE_OPEN_H264, QStringLiteral("Open &H.264 Stream")));
    file->addSeparator();
    AddRecentFileEntries(file);
    file->addSeparator();
    file->addAction(Action(ID_APP_EXIT, QStringLiteral("E&xit")));
    auto *help = new QMenu(QStringLiteral("&Help"), this);
    help->addAction(Action(ID_APP_HELP, QStringLiteral("Zantho Help (F1)")));
    help->addAction(Action(ID_SETTINGS, QStringLiteral("Settings")));
    help->addAction(Action(ID_APP_ABOUT, QStringLiteral("&About Zantho ...")));
    m_menu128 = {file, help};

    // Menu 129 comes from the document side; its menus are kept and swapped in while a document
    // window is active.
    CDibDoc::SetMdiArea(m_pMdiArea);
    auto *docBar = new QMenuBar(this);
    docBar->hide();
    CDibDoc::BuildMenu129(
        docBar, [this](int id, const QString &text) { return Action(id, text); },
        [this](QMenu *fileMenu) { AddRecentFileEntries(fileMenu); });
    for (QAction *a : docBar->actions()) {
        if (a->menu())
            m_menu129.push_back(a->menu());
    }
    for (QMenu *m : m_menu128)
        connect(m, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUI);
    for (QMenu *m : m_menu129)
        connect(m, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUI);
    for (QMenu *m : m_menu129) {
        if (m->title() == QStringLiteral("&Window")) {
            m_pWindowMenu = m;
            connect(m, &QMenu::aboutToShow, this, &CMainFrame::UpdateWindowList);
        }
    }
    SwitchMenus(false);

    // Tool bar 128: flat, with tool tips and fly-by prompts, dockable on any side.
    m_pToolBar = new QToolBar(QStringLiteral("Toolbar"), this);
    m_pToolBar->setObjectName(QStringLiteral("ctrl%1").arg(0xE800));
    m_pToolBar->setIconSize(QSize(kToolBarImageWidth, kToolBarImageHeight));
    m_pToolBar->setAllowedAreas(Qt::AllToolBarAreas);
    m_pToolBar->setMovable(true);
    for (int id : ToolBarLayout()) {
        if (id == ID_SEPARATOR) {
            m_pToolBar->addSeparator();
            continue;
        }
        QAction *a = Action(id);
        if (a->icon().isNull())
            a->setIcon(QIcon(ToolBarImage(id)));
        m_pToolBar->addAction(a);
    }
    addToolBar(Qt::TopToolBarArea, m_pToolBar);

    // Status bar: the message pane, and an indicator pane as wide as a quote, 95 blanks and a quote.
    statusBar()->setObjectName(QStringLiteral("ctrl%1").arg(0xE801));
    statusBar()->setSizeGripEnabled(false); // the frame has a fixed size
    m_pIndicator = new QLabel(this);
    zn::SetCtrlId(m_pIndicator, kIndicatorPaneId);
    m_pIndicator->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    const QString sizing = QLatin1Char('"') + QString(95, QLatin1Char(' ')) + QLatin1Char('"');
    m_pIndicator->setMinimumWidth(m_pIndicator->fontMetrics().horizontalAdvance(sizing));
    statusBar()->addPermanentWidget(m_pIndicator);
    statusBar()->showMessage(QString());

    m_pIdleTimer = new QTimer(this);
    connect(m_pIdleTimer, &QTimer::timeout, this, &CMainFrame::UpdateCommandUI);
    m_pIdleTimer->start(kIdleUpdateMs);

    UpdateRecentFileActions();
    UpdateCommandUI();
    return m_pMdiArea && m_pToolBar && statusBar();
}

void CMainFrame::AddRecentFileEntries(QMenu *fileMenu)
{
    if (!m_pNoRecentFile) {
        m_pNoRecentFile = new QAction(QStringLiteral("Recent File"), this);
        m_pNoRecentFile->setEnabled(false);
    }
    fileMenu->addAction(m_pNoRecentFile);
    for (int i = 0; i < kRecentFileCount; ++i)
        fileMenu->addAction(Action(ID_FILE_MRU_FILE1 + i));
    UpdateRecentFileActions();
}

void CMainFrame::UpdateRecentFileActions()
{
    const QStringList &files = theApp.RecentFiles();
    if (m_pNoRecentFile)
        m_pNoRecentFile->setVisible(files.isEmpty());
    for (int i = 0; i < kRecentFileCount; ++i) {
        QAction *a = Action(ID_FILE_MRU_FILE1 + i);
        if (i < files.size()) {
            a->setText(QStringLiteral("&%1 %2").arg(i + 1).arg(files[i]));
            a->setVisible(true);
        } else {
            a->setVisible(false);
        }
    }
}

bool CMainFrame::IsFrameCommand(int id) const
{
    switch (id) {
    case ID_FILE_OPEN_IMAGE:
    case ID_FILE_OPEN_SEQUENCE:
    case ID_FILE_OPEN_MPEG:
    case ID_FILE_OPEN_H264:
    case ID_SETTINGS:
    case ID_APP_ABOUT:
    case ID_APP_HELP:
    case ID_HELP:
    case ID_APP_EXIT:
    case ID_WINDOW_ARRANGE:
    case ID_WINDOW_CASCADE:
    case ID_WINDOW_TILE_HORZ:
        return true;
    default:
        return id >= ID_FILE_MRU_FILE1 && id < ID_FILE_MRU_FILE1 + kRecentFileCount;
    }
}

void CMainFrame::OnCommand(int id)
{
    switch (id) {
    case ID_FILE_OPEN_IMAGE:
        OnOpenImage();
        return;
    case ID_FILE_OPEN_SEQUENCE:
        OnOpenSequence();
        return;
    case ID_FILE_OPEN_MPEG:
        OnOpenMpegStream();
        return;
    case ID_FILE_OPEN_H264:
        OnOpenH264Stream();
        return;
    case ID_SETTINGS:
        theApp.OnSettings();
        return;
    case ID_APP_ABOUT:
        theApp.OnAppAbout();
        return;
    case ID_APP_HELP:
    case ID_HELP:
        theApp.OnAppHelp();
        return;
    case ID_APP_EXIT:
        close();
        return;
    case ID_WINDOW_ARRANGE:
        m_pMdiArea->tileSubWindows();
        return;
    case ID_WINDOW_CASCADE:
        m_pMdiArea->cascadeSubWindows();
        return;
    case ID_WINDOW_TILE_HORZ:
        m_pMdiArea->tileSubWindows();
        return;
    case ID_FILE_CLOSE:
        // Closing the document's own window closes the document with all its windows.
        if (CDibDoc *doc = CDibDoc::FromSubWindow(m_pMdiArea->currentSubWindow()); doc && doc->m_pMainFrame)
            doc->m_pMainFrame->close();
        return;
    default:
        break;
    }
    if (id >= ID_FILE_MRU_FILE1 && id < ID_FILE_MRU_FILE1 + kRecentFileCount) {
        const int index = id - ID_FILE_MRU_FILE1;
        if (index < theApp.RecentFiles().size()) {
            const QString path = theApp.RecentFiles()[index];
            if (!OpenDocumentFile(path)) {
                theApp.RemoveFromRecentFileList(path);
                UpdateRecentFileActions();
            }
        }
        return;
    }
    if (CDibDoc *doc = CDibDoc::FromSubWindow(m_pMdiArea->currentSubWindow()))
        doc->OnCommand(id);
}

void CMainFrame::UpdateCommandUI()
{
    // The current window, not the active one: while another top-level window (Image Information, a
    // module dialog) has the focus, the MDI area has no active window, yet its last one still takes
    // the commands, as the framework's MDI child does. Disabling them then swallowed the first
    // tool-bar click after such a window closed.
    const CDibDoc *doc = m_pMdiArea ? CDibDoc::FromSubWindow(m_pMdiArea->currentSubWindow()) : nullptr;
    // The last document window went while another window had the focus: no activation told us.
    if (m_bDocMenu && m_pMdiArea && !m_pMdiArea->currentSubWindow())
        SwitchMenus(false);
    for (auto &[id, action] : m_actions) {
        if (IsFrameCommand(id))
            continue;
        if (id == ID_FILE_CLOSE || CDibDoc::IsDocumentCommand(id))
            action->setEnabled(doc && (id == ID_FILE_CLOSE || doc->IsCommandEnabled(id)));
    }
}

// The framework lists the open windows at the end of every MDI Window menu, numbered, the current one
// checked; choosing one brings it forward.
void CMainFrame::UpdateWindowList()
{
    if (!m_pWindowMenu || !m_pMdiArea)
        return;
    for (QAction *a : m_windowListActions) {
        m_pWindowMenu->removeAction(a);
        a->deleteLater();
    }
    m_windowListActions.clear();
    const QList<QMdiSubWindow *> windows = m_pMdiArea->subWindowList(QMdiArea::CreationOrder);
    if (windows.isEmpty())
        return;
    QAction *separator = m_pWindowMenu->addSeparator();
    m_windowListActions.push_back(separator);
    QMdiSubWindow *current = m_pMdiArea->currentSubWindow();
    int number = 0;
    for (QMdiSubWindow *w : windows) {
        if (!w->isVisible() && !w->isMinimized())
            continue;
        ++number;
        const QString prefix =
            number < 10 ? QStringLiteral("&%1 ").arg(number) : QStringLiteral("%1 ").arg(number);
        QAction *a = m_pWindowMenu->addAction(prefix + w->windowTitle());
        a->setCheckable(true);
        a->setChecked(w == current);
        QPointer<QMdiSubWindow> target(w);
        connect(a, &QAction::triggered, this, [this, target]() {
            if (!target)
                return;
            if (target->isMinimized())
                target->showNormal();
            m_pMdiArea->setActiveSubWindow(target);
        });
        m_windowListActions.push_back(a);
    }
}

QSize CMainFrame::ClientSize() const
{
    return QSize(width(), height() - MenuBarHeight());
}

int CMainFrame::MenuBarHeight() const
{
    QMenuBar *bar = menuBar();
    return bar->isVisible() ? bar->height() : bar->sizeHint().height();
}

void CMainFrame::SwitchMenus(bool documentMenu)
{
    if (documentMenu && m_menu129.empty())
        documentMenu = false;
    QMenuBar *bar = menuBar();
    bar->clear();
    for (QMenu *m : documentMenu ? m_menu129 : m_menu128)
        bar->addMenu(m);
    m_bDocMenu = documentMenu;
}

void CMainFrame::OnSubWindowActivated(QMdiSubWindow *window)
{
    const bool documentMenu = (window ? window : m_pMdiArea->currentSubWindow()) != nullptr;
    if (documentMenu != m_bDocMenu)
        SwitchMenus(documentMenu);
    UpdateCaption();
    UpdateCommandUI();
}

void CMainFrame::UpdateCaption()
{
    QMdiSubWindow *active = m_pMdiArea ? m_pMdiArea->currentSubWindow() : nullptr;
    if (active && !active->windowTitle().isEmpty())
        setWindowTitle(QStringLiteral("Zantho - ") + active->windowTitle());
    else
        setWindowTitle(QStringLiteral("Zantho"));
}

bool CMainFrame::OpenDocumentFile(const QString &path)
{
    if (!CDibDoc::OpenDocumentFile(path))
        return false;
    theApp.AddToRecentFileList(path);
    UpdateRecentFileActions();
    return true;
}

void CMainFrame::OpenWith(int commandId)
{
    for (const OpenDialogKind &kind : OpenDialogKinds()) {
        if (kind.commandId != commandId)
            continue;
        const QString path = RunOpenDialog(kind, theApp.m_sImageDir);
        if (!path.isEmpty())
            OpenDocumentFile(path);
        return;
    }
}

void CMainFrame::OnOpenImage()
{
    OpenWith(ID_FILE_OPEN_IMAGE);
}
void CMainFrame::OnOpenSequence()
{
    OpenWith(ID_FILE_OPEN_SEQUENCE);
}
void CMainFrame::OnOpenMpegStream()
{
    OpenWith(ID_FILE_OPEN_MPEG);
}
void CMainFrame::OnOpenH264Stream()
{
    OpenWith(ID_FILE_OPEN_H264);
}

// Once a window manager has put its caption and border around the frame, the whole window, not
// only its inside, has to fit the work area.
void CMainFrame::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (m_bFitted)
        return;
    m_bFitted = true;
    QTimer::singleShot(0, this, [this]() {
        const QSize decoration = frameGeometry().size() - geometry().size();
        if (decoration.width() > 0 || decoration.height() > 0) {
            setFixedSize(m_workArea.size() - decoration);
            move(m_workArea.topLeft());
        }
    });
}

// F1 in the main window: the main topic, as the Help command.
void CMainFrame::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_F1 && event->modifiers() == Qt::NoModifier) {
        OnCommand(ID_HELP);
        event->accept();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

// Exit closes every document without asking: nothing is ever marked modified.
void CMainFrame::closeEvent(QCloseEvent *event)
{
    if (m_pIdleTimer)
        m_pIdleTimer->stop();
    if (m_pMdiArea)
        m_pMdiArea->closeAllSubWindows();
    if (m_pMdiArea && !m_pMdiArea->subWindowList().isEmpty()) {
        event->ignore();
        if (m_pIdleTimer)
            m_pIdleTimer->start(kIdleUpdateMs);
        return;
    }
    event->accept();
    QCoreApplication::quit();
}
