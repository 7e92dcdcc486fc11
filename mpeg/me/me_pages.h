// The motion estimation module's pages. Every page but Video is one row of choices: a click on the
// current choice does nothing, any other stores the choice and tells the dialog.
#pragma once

#include "modules/common/module_controls.h"
#include "shell/module_dialog.h"

#include <vector>

class QPushButton;

inline constexpr int WM_ME_VIDEO_CHANGED = WM_APP + 20;
inline constexpr int WM_ME_BLOCK_CHANGED = WM_APP + 28;
inline constexpr int WM_ME_NSTEP_CHANGED = WM_APP + 29;
inline constexpr int WM_ME_DISPL_CHANGED = WM_APP + 30;
inline constexpr int WM_ME_SEARCH_CHANGED = WM_APP + 31;
inline constexpr int WM_ME_LEVELS_CHANGED = WM_APP + 47;

struct MeChoice
{
    int id;
    const char *text;
    int value;
};

struct MeChoiceLayout
{
    int idd;
    int groupId;
    const char *groupText;
    std::vector<MeChoice> choices;
    int defaultValue;
    int message;
    bool column = false; // one choice a line, for labels too long to share a row
};

class CMeChoicePage : public CModulePage
{
    Q_OBJECT
public:
    CMeChoicePage(const MeChoiceLayout &layout, QWidget *parent);
    // Shows and stores a value without telling the dialog.
    void SetValue(int value);
    int m_nValue;
    zn::PushRadioGroup *Choices() const { return m_pChoices; }
    int IdOf(int value) const;

private:
    MeChoiceLayout m_layout;
    zn::PushRadioGroup *m_pChoices;
};

// The pages, one class per template.
class CMeHierarchyDlg : public CMeChoicePage
{
public:
    static constexpr int IDD = 244;
    explicit CMeHierarchyDlg(QWidget *parent);
};

class CMeSearchDlg : public CMeChoicePage
{
public:
    static constexpr int IDD = 210;
    explicit CMeSearchDlg(QWidget *parent);
};

class CMeBlockDlg : public CMeChoicePage
{
public:
    static constexpr int IDD = 213;
    explicit CMeBlockDlg(QWidget *parent);
};

class CMeDisplDlg : public CMeChoicePage
{
public:
    static constexpr int IDD = 211;
    explicit CMeDisplDlg(QWidget *parent);
};

class CMeDispl2Dlg : public CMeChoicePage
{
public:
    static constexpr int IDD = 247;
    explicit CMeDispl2Dlg(QWidget *parent);
};

class CMeDispl3Dlg : public CMeChoicePage
{
public:
    static constexpr int IDD = 248;
    explicit CMeDispl3Dlg(QWidget *parent);
};

class CMeNStepDlg : public CMeChoicePage
{
public:
    static constexpr int IDD = 212;
    explicit CMeNStepDlg(QWidget *parent);
};

class CMeNStep2Dlg : public CMeChoicePage
{
public:
    static constexpr int IDD = 245;
    explicit CMeNStep2Dlg(QWidget *parent);
};

class CMeNStep3Dlg : public CMeChoicePage
{
public:
    static constexpr int IDD = 246;
    explicit CMeNStep3Dlg(QWidget *parent);
};

// The Max.Displ. and N-Step pages of a number of resolution levels (1, 2 or 3).
CMeChoicePage *MakeMeDisplPage(int levels, QWidget *parent);
CMeChoicePage *MakeMeNStepPage(int levels, QWidget *parent);

class CMeVideoDlg : public CModulePage
{
    Q_OBJECT
public:
    static constexpr int IDD = 214;
    static constexpr int IDC_GROUP = 2100;
    static constexpr int IDC_FRAME_BY_FRAME = 2101;
    static constexpr int kLoopIds[4] = {2102, 2103, 2104, 2105};
    static constexpr int kLoops[4] = {1, 3, 10, 20};
    static constexpr int IDC_LOOPS_LABEL = 2107;
    static constexpr int IDC_SHOW_AGAIN = 2108;
    explicit CMeVideoDlg(QWidget *parent);

    int m_bFrameByFrame = 0;
    int m_nLoops = 3;
    int m_bShowAgain = 0;
    QPushButton *ShowAgainButton() const { return m_pShowAgain; }

private:
    zn::PushRadioGroup *m_pChoices;
    QPushButton *m_pShowAgain;
};
