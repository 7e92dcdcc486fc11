// CXTabCtrl: the tab control of every tabbed dialog. Each tab carries a page window; a tab can be
// disabled, and a disabled tab can never be brought forward by the user (clicking it leaves the
// previous page up). Labels are drawn in the system colours: grey for a disabled tab.
#pragma once

#include <QString>
#include <QWidget>
#include <vector>

class QTabBar;
class TabRows;

class CXTabCtrl : public QWidget
{
    Q_OBJECT
public:
    // Where every page sits inside the control below one row of tabs; each further row of tabs
    // moves the pages down by its height.
    static constexpr int kPageLeft = 4;
    static constexpr int kPageTop = 28;

    explicit CXTabCtrl(QWidget *parent = nullptr);
    ~CXTabCtrl() override;

    // Appends a tab for page (re-parented into the control, moved to the page position, its size
    // kept); the first page is shown, the others hidden. The new tab is enabled.
    void AddTab(QWidget *page, const QString &label, int image = 0);
    // Stores the flag and redraws the label; the page shown does not change, so a tab disabled
    // while selected stays up until the user picks another one.
    void EnableTab(int index, bool enable = true);
    bool IsTabEnabled(int index) const;
    // Gives the tab a new label and page; the new page is hidden, then the page of the selected tab
    // is shown (so replacing the selected tab brings the new page up). The enable flag is kept.
    void ReplaceTab(int index, QWidget *page, const QString &label, int image = 0);

    int GetItemCount() const;
    int GetCurSel() const;
    // Selection mark only, like the control's own set-selection call: pages are not switched.
    void SetCurSel(int index);
    // What a click on the tab does: the selection-change rules run.
    void SelectTab(int index);
    QWidget *GetPage(int index) const;
    QString GetTabText(int index) const;
    QTabBar *TabBar() const;
    // The tabs as the user sees them: in rows, each label whole.
    const TabRows *Rows() const { return m_pTabBar; }
    // Top of the pages: below the last row of tabs.
    int PageTop() const;
    // Smallest size that holds the tab rows and every page at the page position.
    QSize sizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void FitTabBar();
    void OnSelchange(int newIndex);
    void UpdateLabelColour(int index);

    std::vector<bool> m_arrayStatusTab;
    std::vector<QWidget *> m_pages; // item data: the page window of each tab
    int m_nLastTab = 0;
    int m_nMouseOverTab = -1; // the mouse-over highlight is never switched on
    TabRows *m_pTabBar = nullptr;
};
