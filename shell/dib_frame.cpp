// CDibFrame and CDIbView: placing, snapping and drawing image windows, and the image commands.
#include "shell/dib_frame.h"

#include "image/cdib.h"
#include "platform/messages.h"
#include "shell/compression_app.h"
#include "shell/dib_doc.h"
#include "shell/dib_scale.h"
#include "shell/doc_app.h"
#include "shell/doc_commands.h"
#include "shell/main_frame.h"
#include "shell/rd_database.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QMdiArea>
#include <QMenu>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>

namespace {

// Every drawn image as a QImage: 24-bit rows and palette indices are stored bottom-up.
QImage DibToQImage(const CDib &dib)
{
    const int w = dib.GetWidth();
    const int h = dib.GetHeight();
    if (!dib.IsValid() || w < 1 || h < 1 || !dib.GetBits())
        return {};
    const int bits = dib.GetInfoHeader()->biBitCount;
    if (bits == 24) {
        QImage img(w, h, QImage::Format_RGB888);
        for (int y = 0; y < h; ++y) {
            const uint8_t *s = dib.StoredRow(h - 1 - y);
            uint8_t *d = img.scanLine(y);
            for (int x = 0; x < w; ++x) {
                d[3 * x] = s[3 * x + 2];
                d[3 * x + 1] = s[3 * x + 1];
                d[3 * x + 2] = s[3 * x];
            }
        }
        return img;
    }
    if (bits == 8) {
        QImage img(w, h, QImage::Format_Indexed8);
        QList<QRgb> table(256, qRgb(0, 0, 0)); // every index has a colour, used or not
        const RGBQUAD *pal = dib.GetPalette();
        const int n = std::min(dib.GetNumColors(), 256);
        for (int k = 0; pal && k < n; ++k)
            table[k] = qRgb(pal[k].rgbRed, pal[k].rgbGreen, pal[k].rgbBlue);
        img.setColorTable(table);
        for (int y = 0; y < h; ++y)
            std::memcpy(img.scanLine(y), dib.StoredRow(h - 1 - y), static_cast<size_t>(w));
        return img;
    }
    return {};
}

} // namespace

ZnWindowMetrics WindowMetrics()
{
    ZnWindowMetrics m;
    if (theApp.m_pMainWnd)
        m.menuBar = theApp.m_pMainWnd->MenuBarHeight();
    if (QStyle *style = QApplication::style()) {
        m.frame = style->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth);
        m.caption = style->pixelMetric(QStyle::PM_TitleBarHeight);
    }
    return m;
}

zn::PlacementMetrics PlacementFor(const CDibFrame *docFrame)
{
    const ZnWindowMetrics wm = WindowMetrics();
    zn::PlacementMetrics pm;
    pm.dx = wm.frame + wm.dlgFrame;
    pm.dy3 = 3 * (wm.menuBar + wm.dlgFrame);
    pm.m = wm.menuBar;
    QSize client(1024, 700);
    if (QMdiArea *area = CDibDoc::MdiArea())
        client = area->viewport()->size();
    pm.W = client.width() - 256;
    pm.H = client.height() - 2 * (wm.menuBar + wm.dlgFrame);
    pm.screenX = pm.dx;
    pm.screenY = pm.dy3;
    if (docFrame) {
        // The frame's geometry holds its title bar and borders: the windows placed beside and below
        // it start where it ends.
        const QRect r = docFrame->geometry();
        pm.rRight = pm.screenX + r.x() + r.width();
        pm.rBottom = pm.screenY + r.y() + r.height();
    }
    return pm;
}

// --- CDibFrame -------------------------------------------------------------------------------------

CDibFrame::CDibFrame(CDibDoc *doc) : m_pDoc(doc)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlags(Qt::SubWindow | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    // A sub-window shows the style's icon unless given one; documents and results show the program's.
    setWindowIcon(ZnProgramIcon());
    m_pView = new CDIbView(this, doc);
    setWidget(m_pView);
    connect(this, &QMdiSubWindow::windowStateChanged, this, &CDibFrame::OnStateChanged);
}

CDibFrame::~CDibFrame()
{
    // Destroyed without a close (the main window went): keep the document consistent all the same.
    if (CDibDoc *doc = m_pDoc) {
        m_pDoc = nullptr;
        if (doc->m_pMainFrame == this)
            CDibDoc::DestroyDocument(doc, false);
        else
            doc->UnhookFrame(this);
    }
}

bool CDibFrame::IsDocumentWindow() const
{
    return m_pDoc && m_pDoc->m_pMainFrame == this;
}

int CDibFrame::BorderX() const
{
    const QMargins m = contentsMargins();
    return m.left() + m.right();
}

int CDibFrame::BorderY() const
{
    const QMargins m = contentsMargins();
    return m.top() + m.bottom();
}

int CDibFrame::MinimumFrameWidth() const
{
    // The same room for every title, however long: windows of pictures of one size then have one
    // width, and those placed beside one another line up instead of reaching under each other. A
    // longer caption is cut.
    const int titleRoom = 16 * fontMetrics().averageCharWidth();
    const QStyle *st = style();
    const int bar = st->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this);
    // The system-menu icon and the close button each take about a bar height.
    return titleRoom + 3 * bar + BorderX();
}

QRect CDibFrame::KeepInside(const QRect &g, const QSize &area)
{
    QRect r = g;
    r.moveLeft(std::max(0, std::min(r.left(), area.width() - r.width())));
    r.moveTop(std::max(0, std::min(r.top(), area.height() - r.height())));
    return r;
}

void CDibFrame::changeEvent(QEvent *event)
{
    QMdiSubWindow::changeEvent(event);
    if (event->type() == QEvent::WindowTitleChange || event->type() == QEvent::FontChange)
        setMinimumWidth(MinimumFrameWidth());
}

void CDibFrame::closeEvent(QCloseEvent *event)
{
    if (CDibDoc *doc = m_pDoc) {
        if (doc->m_pMainFrame == this) {
            CDibDoc::DestroyDocument(doc, true); // detaches this frame too
        } else {
            m_pDoc = nullptr;
            doc->UnhookFrame(this);
        }
    }
    QMdiSubWindow::closeEvent(event);
}

void CDibFrame::resizeEvent(QResizeEvent *event)
{
    QMdiSubWindow::resizeEvent(event);
    const CDib *dib = m_pView->GetDib();
    if (m_bSnapping || !m_pDoc || !dib || !dib->IsValid() || isMinimized() || isMaximized() || !isVisible())
        return;
    // A still image snaps to its aspect ratio, anything else to its natural size.
    const QSize client = size() - QSize(BorderX(), BorderY());
    zn::WinSize disp{dib->GetWidth(), dib->GetHeight()};
    if (m_pDoc->m_nDocType == DOC_STILL)
        disp = zn::AspectFit(client.width(), client.height(), dib->GetWidth(), dib->GetHeight(),
                             m_pView->m_nMaxWidth, m_pView->m_nMaxHeight);
    if (disp.w != client.width() || disp.h != client.height()) {
        m_bSnapping = true;
        resize(disp.w + BorderX(), disp.h + BorderY());
        m_bSnapping = false;
    }
}

void CDibFrame::OnStateChanged(Qt::WindowStates oldState, Qt::WindowStates newState)
{
    if ((oldState & Qt::WindowActive) || !(newState & Qt::WindowActive) || !IsDocumentWindow())
        return;
    // The document's results come forward with it, and its dialogs show again, none taking focus.
    CDibDoc *doc = m_pDoc;
    for (CDibFrame *f : {doc->m_pResultFrameA, doc->m_pResultFrameB})
        if (f)
            f->raise();
    for (CDibFrame *f : doc->ChainFrames())
        f->raise();
    QDialog *const dialogs[] = {
        doc->m_pSubsampDlg, doc->m_pPcmDlg,       doc->m_pDpcmDlg,  doc->m_pVqDlg,      doc->m_pFractalDlg,
        doc->m_pSbcDlg,     doc->m_pDctDlg,       doc->m_pJpegDlg,  doc->m_pMeDlg,      doc->m_pMpgdecDlg,
        doc->m_pVplayDlg,   doc->m_pMpgencDlg,    doc->m_pSpihtDlg, doc->m_pEzwDlg,     doc->m_pJpeg2000Dlg,
        doc->m_pRDPlotDlg,  doc->m_pRDStoringDlg, doc->m_pTpltDlg,  doc->m_pH264encDlg, doc->m_pH264decDlg};
    for (QDialog *d : dialogs) {
        if (!d)
            continue;
        d->setAttribute(Qt::WA_ShowWithoutActivating);
        d->show();
    }
}

// --- CDIbView --------------------------------------------------------------------------------------

CDIbView::CDIbView(CDibFrame *frame, CDibDoc *doc) : QWidget(frame), m_pFrame(frame)
{
    (void)doc;
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
}

bool CDIbView::event(QEvent *event)
{
    // The busy cursor tells the user that R(D) points of this image are being recorded.
    if (event->type() == QEvent::Enter || event->type() == QEvent::MouseMove) {
        const CDibDoc *doc = m_pFrame->Doc();
        const bool storing = doc && doc->m_pRDData && doc->m_pRDData->IsStoring();
        setCursor(storing ? Qt::BusyCursor : Qt::ArrowCursor);
    }
    return QWidget::event(event);
}

CDIbView::~CDIbView()
{
    delete m_pDib;
}

void CDIbView::SetDib(CDib *dib)
{
    if (dib != m_pDib)
        delete m_pDib;
    m_pDib = dib;
    DropCache();
}

void CDIbView::DropCache()
{
    m_scaledBits.clear();
    m_scaled = QImage();
    m_nDisplayWidth = m_nDisplayHeight = 0;
}

int CDIbView::DocType() const
{
    const CDibDoc *doc = m_pFrame->Doc();
    return doc ? doc->m_nDocType : DOC_NONE;
}

void CDIbView::OnInitialUpdate()
{
    if (!m_pDib || !m_pDib->IsValid())
        return;
    const int cx = m_pFrame->BorderX();
    const int cy = m_pFrame->BorderY();
    const int w0 = m_pDib->GetWidth();
    const int h0 = m_pDib->GetHeight();
    zn::WinSize disp{w0, h0};
    if (DocType() == DOC_STILL) {
        const ZnWindowMetrics wm = WindowMetrics();
        QSize client(1024, 700);
        if (QMdiArea *area = CDibDoc::MdiArea())
            client = area->viewport()->size();
        const zn::WinSize mx =
            zn::MaxDisplaySize(client.width(), client.height(), wm.menuBar, wm.dlgFrame, cx, cy);
        m_nMaxWidth = std::max(1, mx.w);
        m_nMaxHeight = std::max(1, mx.h);
        disp = zn::InitialDisplaySize(w0, h0, m_nMaxWidth, m_nMaxHeight);
    }
    QRect g(m_nLeft, m_nTop, std::max(disp.w + cx, m_pFrame->MinimumFrameWidth()), disp.h + cy);
    if (QMdiArea *area = CDibDoc::MdiArea())
        g = CDibFrame::KeepInside(g, area->viewport()->size());
    m_pFrame->setGeometry(g);
    m_pFrame->show();
}

void CDIbView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    if (!m_pDib || !m_pDib->IsValid())
        return;
    if (DocType() != DOC_STILL) {
        painter.drawImage(0, 0, DibToQImage(*m_pDib));
        return;
    }
    // The first draw turns a palette image into 24-bit grey, once, in the document image itself.
    zn::PaletteToGrey24(*m_pDib);
    if (m_pDib->GetInfoHeader()->biBitCount != 24) {
        painter.drawImage(0, 0, DibToQImage(*m_pDib));
        return;
    }
    const zn::WinSize disp =
        zn::AspectFit(width(), height(), m_pDib->GetWidth(), m_pDib->GetHeight(), m_nMaxWidth, m_nMaxHeight);
    if (disp.w != m_nDisplayWidth || disp.h != m_nDisplayHeight || m_scaled.isNull()) {
        m_scaledBits =
            zn::ScaleGreyBilinear(m_pDib->GetBits(), m_pDib->GetWidth(), m_pDib->GetHeight(), disp.w, disp.h);
        m_nDisplayWidth = disp.w;
        m_nDisplayHeight = disp.h;
        m_scaled = QImage(disp.w, disp.h, QImage::Format_Grayscale8);
        const int row = zn::Grey24RowBytes(disp.w);
        for (int y = 0; y < disp.h && !m_scaledBits.empty(); ++y) {
            const uint8_t *s = m_scaledBits.data() + static_cast<size_t>(disp.h - 1 - y) * row;
            uint8_t *d = m_scaled.scanLine(y);
            for (int x = 0; x < disp.w; ++x)
                d[x] = s[3 * x];
        }
    }
    painter.drawImage(0, 0, m_scaled);
}

void CDIbView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (m_pDib && m_pDib->IsValid())
        m_pFrame->setGeometry(m_nLeft, m_nTop, m_pDib->GetWidth() + m_pFrame->BorderX(),
                              m_pDib->GetHeight() + m_pFrame->BorderY());
    QWidget::mouseDoubleClickEvent(event);
}

void CDIbView::contextMenuEvent(QContextMenuEvent *event)
{
    CDibDoc *doc = m_pFrame->Doc();
    if (!doc)
        return;
    if (QMdiArea *area = CDibDoc::MdiArea())
        area->setActiveSubWindow(m_pFrame);
    // The view is the menu's parent, so its items' prompts travel up to the main window's status bar.
    QMenu menu(this);
    CDibFrame *frame = m_pFrame;
    CDibDoc::BuildContextMenu(&menu, [&menu, doc, frame](int id, const QString &text) {
        QAction *action = new QAction(text, &menu);
        action->setStatusTip(CommandPrompt(id).section(QLatin1Char('\n'), 0, 0));
        action->setEnabled(doc->IsCommandEnabled(id, frame));
        QObject::connect(action, &QAction::triggered, &menu, [doc, frame, id] { doc->OnCommand(id, frame); });
        return action;
    });
    menu.exec(event->globalPos());
}

void CDIbView::OnImageInfo()
{
    if (!m_pDib)
        return;
    auto *dlg = new CImageInfoDlg;
    dlg->SetInfo(QString::fromStdString(m_pDib->m_title), m_pDib->GetHeight(), m_pDib->GetWidth(),
                 m_pDib->GetInfoHeader()->biBitCount, m_nDisplayHeight, m_nDisplayWidth, m_sDescription);
    if (CDibDoc *doc = m_pFrame->Doc())
        doc->AdoptWindow(dlg);
    dlg->move(200, 200);
    dlg->show();
}

void CDIbView::OnSetAsStartImage()
{
    if (!m_pDib)
        return;
    CDib *start = DocStartImage();
    start->CopyDib(m_pDib);
    CDibDoc::NewDocumentFromImage(*start);
}

void CDIbView::OnSaveImageAs()
{
    if (!m_pDib)
        return;
    QFileDialog dlg(
        nullptr, QStringLiteral("Save the Current Image As..."),
        DocUserDir() + QString::fromStdString(m_pDib->m_title),
        DocQtFilter(QStringLiteral("Bitmap Image (24 bit) (*.bmp)|*.bmp|Tiff Image (*.tif)|*.tif||")));
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setDefaultSuffix(QStringLiteral("bmp"));
    dlg.setOption(QFileDialog::DontConfirmOverwrite); // SaveImageAs asks, through the message layer
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return;
    SaveImageAs(dlg.selectedFiles().first());
}

bool CDIbView::SaveImageAs(const QString &path)
{
    if (!m_pDib || path.isEmpty())
        return false;
    if (QFileInfo::exists(path)) {
        const std::string text = zn::Format("%s already exists.\nDo you want to replace it?",
                                            QFileInfo(path).fileName().toStdString().c_str());
        if (zn::ShowMessage(text, zn::MsgButtons::YesNo, zn::MsgIcon::Warning,
                            "Save the Current Image As...") != zn::MsgAnswer::Yes)
            return false;
    }
    // The extension decides the format; only a lower-cased copy of the name is tested.
    if (QFileInfo(path).fileName().toLower().contains(QStringLiteral(".tif")))
        return m_pDib->SaveTifFile(path.toStdString(), true);
    return m_pDib->SaveDibFile(path.toStdString());
}

void CDIbView::OnPutOnStack()
{
    if (CDibDoc *doc = m_pFrame->Doc(); doc && m_pDib)
        doc->m_pStackDib->CopyDib(m_pDib);
}

void CDIbView::OnSubtractFromStack()
{
    if (CDibDoc *doc = m_pFrame->Doc(); doc && m_pDib)
        doc->SubtractStackImage(m_pDib);
}

// --- CImageInfoDlg ---------------------------------------------------------------------------------

CImageInfoDlg::CImageInfoDlg(QWidget *parent) : CZnDialog(IDD, parent)
{
    setWindowTitle(QStringLiteral("Image Information"));
    auto *grid = new QGridLayout(this);
    const struct
    {
        int id;
        const char *label;
    } rows[] = {{1009, "Name"},           {1010, "Image Height"},   {1899, "Image Width"},
                {1514, "Colour Depth ("}, {1891, "Display Height"}, {2143, "Display Width"}};
    int r = 0;
    for (const auto &row : rows) {
        grid->addWidget(new QLabel(QString::fromLatin1(row.label)), r, 0);
        auto *value = new QLabel;
        zn::SetCtrlId(value, row.id);
        grid->addWidget(value, r++, 1);
    }
    auto *info = new QPlainTextEdit;
    info->setReadOnly(true);
    zn::SetCtrlId(info, 1103);
    grid->addWidget(info, r++, 0, 1, 2);
    auto *ok = new QPushButton(QStringLiteral("OK"));
    zn::SetCtrlId(ok, IDOK);
    grid->addWidget(ok, r, 1);
    connect(ok, &QPushButton::clicked, this, &QWidget::hide);
}

void CImageInfoDlg::SetInfo(const QString &name, int height, int width, int bits, int dispHeight,
                            int dispWidth, const QString &description)
{
    const auto set = [this](int id, const QString &text) {
        if (auto *label = Item<QLabel>(id))
            label->setText(text);
    };
    set(1009, name);
    set(1010, QString::number(height));
    set(1899, QString::number(width));
    set(1514, QStringLiteral("%1 bit )").arg(bits));
    set(1891, QString::number(dispHeight));
    set(2143, QString::number(dispWidth));
    if (auto *info = Item<QPlainTextEdit>(1103))
        info->setPlainText(description.isEmpty() ? QStringLiteral("No Information Available") : description);
}
