// The shape every module dialog shares: a modeless dialog docked in the 256-pixel column at the right
// edge of the main window, with a group box, one CXTabCtrl of pages, an Apply button, Cancel and a
// read-only result text in the shared results font. A module derives from CModuleDialog, adds its
// pages in CreatePages() and writes only its own handlers; its pages derive from CModulePage.
// Cancel only hides a module dialog; the object lives until its document closes or its owner, the
// main window, goes (pages go with their dialog).
#pragma once

#include "shell/xtab_ctrl.h"
#include "shell/zn_dialog.h"

#include <QRect>
#include <QString>
#include <functional>
#include <string>

class CDibDoc;
class QFont;
class QGroupBox;
class QWidget;
class QPlainTextEdit;
class QPushButton;
namespace zn {
class ResultTabStops;
}

// What a module dialog asks of its document and the R(D) store. The document side fills these in;
// an unset hook answers "not closing", "not storing" and does nothing.
struct ModuleDialogHooks
{
    std::function<bool(const CDibDoc *)> isClosing; // the document's m_bClosing
    std::function<bool(const CDibDoc *)> isStoring; // its R(D) store is recording points
    std::function<void(CDibDoc *, const std::string &key)> setModuleInactive;
};
ModuleDialogHooks &GetModuleDialogHooks();

// The parts of a module template; a zero id leaves the control out (the video player has no tab
// control, the R(D) dialogs build their own controls).
struct ModuleTemplate
{
    QString caption; // "PCM: "; the document appends the image title
    int groupId = 0;
    QString groupText; // "Set PCM Parameters"
    int tabId = 0;
    int applyId = 0;
    QString applyText = QStringLiteral("Apply");
    int resultId = 0;
};

// Placement in the right-hand column, in main-frame coordinates (the frame stands at 0,0): left =
// client width - 255, top = 3 x (menu bar + dialog frame), width 256, height = client height - 2 x
// (menu bar + dialog frame). The column overlaps the frame's bottom edge by one menu-bar height.
QRect ModuleColumnRect(int clientWidth, int clientHeight, int menuBarHeight, int dialogFrameHeight);
// The result box reaches down to the main client height, measured from the screen top; never less
// than a few lines.
int ResultBoxHeight(int mainClientHeight, int boxTopOnScreen);
// The result box's regular tab distance: an edit control stops every 32 dialog units of its own font.
// The box widens it where a label would run into its value.
int ResultTabStop(const QFont &font);
// Controls a page places by pixels were sized for a narrower font: each label, button and check
// box that is shorter than its text in the font it now has grows to the right, up to the next
// control on its row or its parent's edge. Controls in layouts size themselves.
void FitControlsToText(QWidget *root);
// Pixel height of a font of pointSize points on a screen of dpiY dots per inch (rounded).
int FontPixelHeight(int pointSize, int dpiY);

class CModulePage;

class CModuleDialog : public CZnDialog
{
    Q_OBJECT
public:
    static constexpr int kColumnWidth = 256;
    static constexpr int kDialogFrameHeight = 3;

    // parent: the owner window; the main window when nullptr.
    CModuleDialog(int idd, const ModuleTemplate &tmpl, QWidget *parent = nullptr);
    ~CModuleDialog() override;

    // Builds the controls and runs OnInitDialog; the dialog is then shown (modeless).
    bool Create();

    CDibDoc *m_pStartDibDoc = nullptr;

    // The document's messages: WM_DOCUMENT_ATTACHED goes to OnDocumentAttached, WM_APP+n from the
    // pages to OnPageMessage. Synchronous, as the document and the pages rely on it.
    void SendMessage(int message);
    virtual void OnDocumentAttached() {}
    virtual void OnPageMessage(int message) { (void)message; }

    CXTabCtrl *TabCtrl() const { return m_pTabCtrl; }
    QPlainTextEdit *ResultBox() const { return m_pResultBox; }
    QPushButton *ApplyButton() const { return m_pApplyButton; }
    QPushButton *CancelButton() const { return m_pCancelButton; }
    QGroupBox *GroupBox() const { return m_pGroupBox; }

    // The result text ("\r\n" line ends allowed); both forms scroll to the end.
    void SetResultText(const QString &text);
    void AppendResultText(const QString &text);

    // Cancel: deactivate the R(D) module (unless its document is closing), clear the document's
    // pointer, hide. The window itself stays until the main window goes.
    virtual void OnCancel();
    void reject() override { OnCancel(); }

protected:
    // The module's pages: create each (parent: TabCtrl()) and AddPage it in tab order.
    virtual void CreatePages() {}
    // Builds the template's controls; a dialog with a layout of its own overrides it.
    virtual void BuildTemplate();
    // The set-up sequence: pages, column, result box, scroll bar option, no Move/Close, results
    // font. A module calls it first in its own OnInitDialog, then sets its defaults.
    virtual bool OnInitDialog();
    // Clears the document's member that points to this dialog (m_pStartDibDoc->m_pPcmDlg = nullptr);
    // the base finds it among the document's dialog members.
    virtual void ClearDocumentPointer();

    void AddPage(CModulePage *page, const QString &label);
    void SetRDKey(const std::string &key) { m_sRDKey = key; }
    const std::string &RDKey() const { return m_sRDKey; }
    // The busy cursor over the dialog while R(D) points are being recorded.
    void UseStoringCursor() { m_bStoringCursor = true; }

    // The steps of OnInitDialog, for dialogs that build their own controls.
    void PlaceInColumn();
    void StretchResultBox();
    void ApplyHScrollbarOption();
    void ApplyResultFont();
    // The result box with a horizontal scroll bar, or without one and with its long lines wrapped.
    void ShowResultHScrollbar(bool show);

    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

    ModuleTemplate m_template;

private:
    void LayoutSkeleton();
    void FitFrameToWorkArea();

    std::string m_sRDKey;
    bool m_bStoringCursor = false;
    QGroupBox *m_pGroupBox = nullptr;
    CXTabCtrl *m_pTabCtrl = nullptr;
    QPushButton *m_pApplyButton = nullptr;
    QPushButton *m_pCancelButton = nullptr;
    QPlainTextEdit *m_pResultBox = nullptr;
    zn::ResultTabStops *m_pTabStops = nullptr;
};

// A tab page: a child window without border whose owner is its dialog. Enter and Escape do nothing
// in it, F1 asks the owner for its help, and a change is told to the owner with NotifyOwner(WM_APP+n)
// before the page's handler returns.
class CModulePage : public QWidget
{
    Q_OBJECT
public:
    explicit CModulePage(int idd, QWidget *parent = nullptr);

    int IDD() const { return m_nIDD; }
    void SetOwner(QWidget *owner) { m_pOwner = owner; }
    QWidget *GetOwner() const { return m_pOwner; }
    QWidget *GetDlgItem(int id) const { return zn::FindControl(this, id); }
    template <typename T> T *Item(int id) const { return zn::FindControl<T>(this, id); }
    template <typename T> T *Ctrl(T *control, int id)
    {
        zn::SetCtrlId(control, id);
        return control;
    }

    // The owner hears the page through Notify; a page without an owner tells the nearest module
    // dialog above it.
    void NotifyOwner(int message);
    // F1: the owner's help (or the nearest dialog's when there is no owner).
    void OnHelpInfoForward();

signals:
    void Notify(int message);

protected:
    // Enter and Escape end here (IgnoreOkCancel); F1 goes to OnHelpInfoForward.
    void keyPressEvent(QKeyEvent *event) override;
    // A page that lets Cancel through (one does) clears this.
    bool m_bIgnoreOk = true;
    bool m_bIgnoreCancel = true;

private:
    int m_nIDD;
    QWidget *m_pOwner = nullptr;
};
