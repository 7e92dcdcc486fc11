// CDibDoc: one opened file (or start image) and everything that hangs on it. The document finds its
// type from the file name, reads the image with the matching reader, decides which module commands
// are enabled, creates at most one dialog per module, keeps the result windows of its results and
// the R(D) store of a still image, and closes all of these when it closes.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <string>
#include <vector>

class CDib;
class CDibFrame;
class CDIbView;
class QAction;
class QDialog;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QMenuBar;
class QWidget;

namespace zn {
class CRDDataBase;
struct PlacementMetrics;
} // namespace zn

// Document types.
enum DocType : int {
    DOC_NONE = 0,
    DOC_STILL = 1, // BMP or TIFF still image, or the start image
    DOC_SEQ = 2,   // numbered BMP series described by a .seq file
    DOC_MPEG = 3,  // MPEG-1/2 stream
    DOC_YUV = 4,   // raw Y or YUV sequence with its .hdr
    DOC_H264 = 5,  // H.264 Annex B stream
};

// Which reader opens a file: the type and, for a still image, BMP or TIFF.
enum class DocReader { None, Bmp, Tif, Mpeg, Yuv, H264 };

struct DocTypeInfo
{
    int type = DOC_NONE;
    DocReader reader = DocReader::None;
};

// The type is found in the file name only (never in the folders above it): substring tests on a
// lower-cased copy, a later hit overriding an earlier one, so "picture.BMP.tif" still reads as BMP
// but "clip.264" in a folder "takes.yuv" is an H.264 stream.
DocTypeInfo DocTypeFromPath(const std::string &path);

// Enabling rules of the module commands by document type and image size. activeRDModules and
// storingOpen describe the R(D) store and its dialog. Returns true for ids it does not know.
bool IsModuleCommandEnabled(int id, int docType, int width, int height, bool hasRD, int activeRDModules,
                            bool storingOpen);

class CDibDoc : public QObject
{
    Q_OBJECT
public:
    CDibDoc();
    ~CDibDoc() override;
    CDibDoc(const CDibDoc &) = delete;
    CDibDoc &operator=(const CDibDoc &) = delete;

    // --- Seam with the main frame ---------------------------------------------------------------
    // The MDI area the documents' windows live in; the main frame sets it once.
    static void SetMdiArea(QMdiArea *area);
    static QMdiArea *MdiArea();
    // Opens a file as a new document with its window; nullptr after the reader's message on failure.
    static CDibDoc *OpenDocumentFile(const QString &path);
    // A new still-image document from an image (the start image).
    static CDibDoc *NewDocumentFromImage(const CDib &image);
    // The document of an MDI child (any of its windows), or nullptr.
    static CDibDoc *FromSubWindow(QMdiSubWindow *sub);
    // Every open document.
    static const std::vector<CDibDoc *> &Documents();
    // Menu 129. action(id, text) returns the main frame's action for a command id; the frame routes
    // frame commands itself and document commands to the active document's OnCommand.
    using ActionFactory = std::function<QAction *(int id, const QString &text)>;
    // addRecentFiles appends the recent-file entries to the File menu.
    static void BuildMenu129(QMenuBar *bar, const ActionFactory &action,
                             const std::function<void(QMenu *)> &addRecentFiles = {});
    // Context menu 133 of an image window.
    static void BuildContextMenu(QMenu *menu, const ActionFactory &action);
    // True for the ids this document handles (module and image-window commands).
    static bool IsDocumentCommand(int id);
    // Runs a command for the active window of this document (or the given window).
    void OnCommand(int id, CDibFrame *frame = nullptr);
    bool IsCommandEnabled(int id, const CDibFrame *frame = nullptr) const;

    // A module connects its dialog by registering a factory for its command id. The factory builds
    // the dialog (top level, not shown) with its m_pStartDibDoc set; the document captions it,
    // registers it with the R(D) store, sends it WM_DOCUMENT_ATTACHED and shows it. Without a factory the
    // command is enabled by its rule but opens nothing.
    using ModuleFactory = std::function<QDialog *(CDibDoc *doc)>;
    static void RegisterModuleDialog(int id, ModuleFactory factory);
    // Readers of stream types that other subsystems provide (MPEG and H.264): return -1 after their
    // message on failure, like the image readers.
    using StreamOpener = std::function<int(CDib *dib, const std::string &path)>;
    static void RegisterStreamOpener(int docType, StreamOpener opener);
    // Tells the open storing dialog which R(D) module was chosen (set by the storing dialog's code).
    using ModuleActivatedHandler = std::function<void(QDialog *storingDlg, const std::string &key)>;
    static void SetModuleActivatedHandler(ModuleActivatedHandler handler);

    // The twenty module commands, one handler each: a first click makes the module's dialog, a later
    // one brings it forward (OnModuleCommand).
    void OnSubsampling();
    void OnPcm();
    void OnDpcm();
    void OnVq();
    void OnFractal();
    void OnDct();
    void OnJpeg();
    void OnSubband();
    void OnSpiht();
    void OnEzw();
    void OnJpeg2000();
    void OnVideoPlayer();
    void OnMotionEstimation();
    void OnMpegEncoder();
    void OnMpegDecoder();
    void OnH264Encoder();
    void OnH264Decoder();
    void OnStoreRD();
    void OnPlotRD();
    void OnTemplate();

    // --- Document operations ----------------------------------------------------------------------
    bool OnOpenDocument(const QString &path);
    bool OnNewDocument(const CDib &startImage);
    void OnCloseDocument();
    // Ends the document when its own window goes: result windows first (when closeResults), then
    // the dialogs, then the document object itself.
    static void DestroyDocument(CDibDoc *doc, bool closeResults);

    // Display of module results (the work images' captions become the window titles).
    void ShowResultImages(bool bChain, bool bA, bool bB, const QString &descChain, const QString &descA,
                          const QString &descB);
    void ShowSequenceResultImages(bool bChain, bool bA, bool bB, const QString &descChain,
                                  const QString &descA, const QString &descB);
    void OnApplyMpegDecoding(bool flag, const QString &description, const QString &frameText);
    void OnApplyH264Decoding(int frameNumber, int targetNumber, const QString &note);
    void ShowLegendImage(bool bShow, const QString &description, bool f1, bool f2, bool f3, bool f4);
    void ShowResultImageD(bool bShow, const QString &description, bool g1, bool g2, bool g3);
    int LoadNextSequenceFrame();
    void SubtractStackImage(const CDib *image);
    void DeleteResultImages();

    // Windows of the document, for the module dialogs and the frames.
    CDIbView *MainView() const;
    CDibFrame *ActiveFrameOfDoc() const;
    // The chain windows first to last.
    std::vector<CDibFrame *> ChainFrames() const;
    // Called by a frame that closes, so the document's pointers and the chain stay consistent.
    void UnhookFrame(CDibFrame *frame);
    // Image Information windows and cancelled dialogs are destroyed when the document closes.
    void AdoptWindow(QWidget *window);

    // --- Members (module dialogs read and write them directly) -----------------------------------
    int m_bClosing = 0;
    QDialog *m_pJpeg2000Dlg = nullptr;
    QDialog *m_pEzwDlg = nullptr;
    QDialog *m_pSpihtDlg = nullptr;
    QDialog *m_pMpgencDlg = nullptr;
    QDialog *m_pVplayDlg = nullptr;
    QDialog *m_pMpgdecDlg = nullptr;
    QDialog *m_pMeDlg = nullptr;
    QDialog *m_pJpegDlg = nullptr;
    QDialog *m_pFractalDlg = nullptr;
    QDialog *m_pVqDlg = nullptr;
    QDialog *m_pDctDlg = nullptr;
    QDialog *m_pSbcDlg = nullptr;
    QDialog *m_pSubsampDlg = nullptr;
    QDialog *m_pPcmDlg = nullptr;
    QDialog *m_pDpcmDlg = nullptr;
    QDialog *m_pRDPlotDlg = nullptr;
    QDialog *m_pRDStoringDlg = nullptr;
    QDialog *m_pTpltDlg = nullptr;
    QDialog *m_pH264decDlg = nullptr;
    QDialog *m_pH264encDlg = nullptr;
    CDib *m_pResultDibB = nullptr;
    CDib *m_pResultDibA = nullptr;
    CDib *m_pDib = nullptr; // owned by the document window's view
    CDib *m_pFinalDib = nullptr;
    CDib *m_pStackDib = nullptr;
    CDib *m_pLegendDib = nullptr;
    CDib *m_pResultDibD = nullptr;
    zn::CRDDataBase *m_pRDData = nullptr;
    CDibFrame *m_pMainFrame = nullptr;
    CDibFrame *m_pResultFrameA = nullptr;
    CDibFrame *m_pResultFrameB = nullptr;
    CDibFrame *m_pResultChain = nullptr;
    CDibFrame *m_pLegendFrame = nullptr;
    CDibFrame *m_pResultFrameD = nullptr;
    int m_nSeqFrame = 0;
    int m_nDocType = DOC_NONE;
    std::string m_sSeqName;
    std::string m_sSeqFrameName;
    std::string m_sSeqPath;

    // The module dialog member of a command id, or nullptr for other ids.
    QDialog **DialogMember(int id);
    // Clears whichever module dialog member points to dlg (a dialog that has gone or been cancelled).
    void ForgetDialog(const QDialog *dlg);

private:
    void OnModuleCommand(int id);
    void CloseModuleDialogs();
    void CreateRDData();
    bool RDStoringOpen() const { return m_pRDStoringDlg != nullptr; }
    int ActiveRDModules() const;
    void Attach(CDibFrame *frame);
    void AddChainWindow(const CDib &image, const QString &desc, const QString &title,
                        const zn::PlacementMetrics &pm);

    std::string m_sSeqFile; // the .seq file as named (frame 1)
    std::vector<QPointer<QWidget>> m_adopted;
};
