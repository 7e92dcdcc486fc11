// The Preferences dialog and its two pages: the four default directories (each stored with a
// trailing '/'), the results font and the horizontal scroll bar of the result boxes.
#pragma once

#include "shell/module_dialog.h"
#include "shell/zn_dialog.h"

#include <QFont>
#include <functional>

class QLabel;
class QPushButton;

class CSettingsDirDlg : public CModulePage
{
    Q_OBJECT
public:
    explicit CSettingsDirDlg(QWidget *parent = nullptr);

    QString m_sCodebookDir;
    QString m_sTableDir;
    QString m_sImageDir;
    QString m_sUserDir;

    void OnInitDialog();
    // The four Browse buttons (1213, 1220, 1221, 1225).
    void OnBrowse(int buttonId);

    // The folder dialog; tests replace it. Returns the chosen folder or "" for none.
    using FolderDialogHook = std::function<QString(const QString &title)>;
    static FolderDialogHook SetFolderDialogHook(FolderDialogHook hook);
};

class CSettingsOptionsDlg : public CModulePage
{
    Q_OBJECT
public:
    explicit CSettingsOptionsDlg(QWidget *parent = nullptr);

    int m_nFontSize = 8;
    QString m_sFontType;
    int m_bHScrollbar = 0;

    void OnInitDialog();
    void OnChangeFont();
    void OnDefaultFont();
    void ShowFontTexts();

    // The font dialog; tests replace it. Gets the current choice, returns true on OK.
    using FontDialogHook = std::function<bool(QFont &font)>;
    static FontDialogHook SetFontDialogHook(FontDialogHook hook);
};

class CSettingsDlg : public CZnDialog
{
    Q_OBJECT
public:
    static constexpr int IDD = 187;
    explicit CSettingsDlg(QWidget *parent = nullptr);

    CSettingsDirDlg *m_pDirPage = nullptr;
    CSettingsOptionsDlg *m_pOptionsPage = nullptr;
    CXTabCtrl *m_pTabCtrl = nullptr;

    void OnOK();
    void OnApply();
    void accept() override { OnOK(); }

private:
    void CopyToApp();
};
