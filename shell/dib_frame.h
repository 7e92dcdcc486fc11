// The image windows: CDibFrame (an MDI child) holds one CDIbView that draws one CDib. A still image
// is drawn scaled to its window, which snaps to the picture's aspect ratio; sequences and streams are
// drawn unscaled. Result windows are further frame/view pairs of the same document, each with its
// own copy of the image; the chain of results is a doubly linked list of frames.
#pragma once

#include "shell/window_placement.h"
#include "shell/zn_dialog.h"

#include <QDialog>
#include <QImage>
#include <QMdiSubWindow>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <vector>

class CDib;
class CDibDoc;
class CDIbView;

// Window-system measures used for placing windows (a frame border, the dialog frame and the menu
// bar of the original platform, in pixels).
struct ZnWindowMetrics
{
    int frame = 4;
    int dlgFrame = 3;
    int menuBar = 20;
    int caption = 0; // title bar of an MDI child (from the style)
};

class CDibFrame : public QMdiSubWindow
{
    Q_OBJECT
public:
    explicit CDibFrame(CDibDoc *doc);
    ~CDibFrame() override;

    CDIbView *View() const { return m_pView; }
    CDibDoc *Doc() const { return m_pDoc; }
    void DetachDoc() { m_pDoc = nullptr; }
    bool IsDocumentWindow() const;
    // Border sizes around the view: cx = both side borders, cy = title bar and both borders.
    int BorderX() const;
    int BorderY() const;

    // The narrowest the frame may be: room for a title and the close button, so even a 1x1 image
    // gets a window one can see, read and close.
    int MinimumFrameWidth() const;
    // Moves a frame placed at geometry g so that it lies inside the MDI area as far as its size
    // allows: windows cascading up or left, or placed from a tiled window, would open out of reach.
    static QRect KeepInside(const QRect &g, const QSize &area);

    CDibFrame *m_pNextResultFrame = nullptr;
    CDibFrame *m_pPrevResultFrame = nullptr; // the chain's backward link

protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void OnStateChanged(Qt::WindowStates oldState, Qt::WindowStates newState);

    CDibDoc *m_pDoc;
    CDIbView *m_pView;
    bool m_bSnapping = false;
};

class CDIbView : public QWidget
{
    Q_OBJECT
public:
    CDIbView(CDibFrame *frame, CDibDoc *doc);
    ~CDIbView() override;

    // Places and sizes the frame: at (m_nLeft, m_nTop), a still image at its display size, anything
    // else at its natural size; then shows it.
    void OnInitialUpdate();
    // Takes ownership of an image (the document image, or a result window's copy).
    void SetDib(CDib *dib);
    CDib *GetDib() const { return m_pDib; }
    void DropCache();
    int DisplayWidth() const { return m_nDisplayWidth; }
    int DisplayHeight() const { return m_nDisplayHeight; }
    CDibFrame *Frame() const { return m_pFrame; }

    // Image commands.
    void OnImageInfo();
    void OnSetAsStartImage();
    void OnSaveImageAs();
    // Writes the image: an 8-bit grey TIFF when the name ends in ".tif" (any case), else BMP. Asks
    // before replacing an existing file. False when nothing was written.
    bool SaveImageAs(const QString &path);
    void OnPutOnStack();
    void OnSubtractFromStack();

    int m_nMaxWidth = 0;
    int m_nMaxHeight = 0;
    QString m_sDescription;
    int m_nTop = 0;
    int m_nLeft = 0;

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    int DocType() const;

    CDibFrame *m_pFrame;
    CDibDoc *m_pDoc;
    int m_nDisplayWidth = 0;
    int m_nDisplayHeight = 0;
    std::vector<uint8_t> m_scaledBits; // cached scaled rows, bottom-up
    QImage m_scaled;                   // the same rows, ready to draw
    CDib *m_pDib = nullptr;
};

// "Image Information": name, size, depth, display size and how a result was made.
class CImageInfoDlg : public CZnDialog
{
    Q_OBJECT
public:
    static constexpr int IDD = 136;
    explicit CImageInfoDlg(QWidget *parent = nullptr);
    void SetInfo(const QString &name, int height, int width, int bits, int dispHeight, int dispWidth,
                 const QString &description);
};

// Measures of the running window system.
ZnWindowMetrics WindowMetrics();
// The document window's placement measures.
zn::PlacementMetrics PlacementFor(const CDibFrame *docFrame);
