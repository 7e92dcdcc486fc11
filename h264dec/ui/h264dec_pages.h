// The seven pages of the H.264 decoder dialog. Five are one pair of push-like choices (on or off) with
// an optional check box; MB Bits Usage adds the choice of overlay; Save asks for the file name. Each
// page keeps its choices and tells the dialog after every click.
#pragma once

#include "modules/common/module_controls.h"
#include "shell/module_dialog.h"

#include <QString>
#include <functional>

class QCheckBox;
class QRadioButton;

inline constexpr int WM_H264DEC_SAVE = WM_APP + 58;
inline constexpr int WM_H264DEC_STREAM = WM_APP + 67;
inline constexpr int WM_H264DEC_MOTION = WM_APP + 68;
inline constexpr int WM_H264DEC_BLOCK = WM_APP + 69;
inline constexpr int WM_H264DEC_STEP = WM_APP + 70;
inline constexpr int WM_H264DEC_INTRA = WM_APP + 71;
inline constexpr int WM_H264DEC_BITS = WM_APP + 72;

struct H264decChoiceLayout
{
    int idd;
    const char *groupText;
    int onId;
    const char *onText;
    int offId;
    const char *offText;
    int checkId; // 0: no check box
    const char *checkText;
    bool checked; // the check box's first state
    int message;
};

// A choice between on (the first button) and off, which starts off, and an optional check box.
class CH264decChoicePage : public CModulePage
{
    Q_OBJECT
public:
    CH264decChoicePage(const H264decChoiceLayout &layout, QWidget *parent);
    int m_bOn = 0;
    int m_bChecked = 0;

private:
    H264decChoiceLayout m_layout;
    zn::PushRadioGroup *m_pChoices;
    QCheckBox *m_pCheck = nullptr;
};

class CH264decStepDlg : public CH264decChoicePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 305;
    explicit CH264decStepDlg(QWidget *parent);
};

class CH264decStreamDlg : public CH264decChoicePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 302;
    explicit CH264decStreamDlg(QWidget *parent);
};

class CH264decMotionDlg : public CH264decChoicePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 303;
    explicit CH264decMotionDlg(QWidget *parent);
};

class CH264decIntraDlg : public CH264decChoicePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 306;
    explicit CH264decIntraDlg(QWidget *parent);
};

class CH264decBlockDlg : public CH264decChoicePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 304;
    explicit CH264decBlockDlg(QWidget *parent);
};

class CH264decBitsDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 307;
    static constexpr int IDC_SHOWN = 2084, IDC_NOT_SHOWN = 2085;
    static constexpr int IDC_NONE = 2086, IDC_MB_DIVISION = 2087, IDC_MV = 2088;
    explicit CH264decBitsDlg(QWidget *parent);
    int m_bShown = 0;
    int m_bMbDivision = 0;
    int m_bMv = 0;

private:
    void SetChecks();
    zn::PushRadioGroup *m_pChoices;
    QRadioButton *m_pNone, *m_pMbDivision, *m_pMv;
};

// What the Save page's file dialog answered: the path as chosen ("" when cancelled). Tests install a
// hook that answers instead of a user.
struct H264decSaveRequest
{
    QString title, initialDir, initialName, filter, defaultSuffix;
};
using H264decSaveDialogHook = std::function<QString(const H264decSaveRequest &)>;
H264decSaveDialogHook SetH264decSaveDialogHook(H264decSaveDialogHook hook);

class CH264decSaveDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 301;
    static constexpr int IDC_SAVE = 2065;
    // documentTitle gives the document image's title, for the proposed file name.
    CH264decSaveDlg(std::function<QString()> documentTitle, QWidget *parent);
    void OnSaveAs();
    QString m_sPath;  // the chosen path, as chosen
    QString m_sTitle; // the chosen file's title

private:
    std::function<QString()> m_documentTitle;
};
