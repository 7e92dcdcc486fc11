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

// The layout of the choice page of a template (244, 210, 213, 211, 247, 248, 212, 245 or 246).
const MeChoiceLayout &MeChoiceLayoutOf(int idd);

// The choice page of one template.
template <int Idd> class CMeChoicePageOf : public CMeChoicePage
{
public:
    static constexpr int IDD = Idd;
    explicit CMeChoicePageOf(QWidget *parent) : CMeChoicePage(MeChoiceLayoutOf(Idd), parent) {}
};

using CMeHierarchyDlg = CMeChoicePageOf<244>;
using CMeSearchDlg = CMeChoicePageOf<210>;
using CMeBlockDlg = CMeChoicePageOf<213>;
// Max.Displ. and N-Step for one, two and three resolution levels.
using CMeDisplDlg = CMeChoicePageOf<211>;
using CMeDispl2Dlg = CMeChoicePageOf<247>;
using CMeDispl3Dlg = CMeChoicePageOf<248>;
using CMeNStepDlg = CMeChoicePageOf<212>;
using CMeNStep2Dlg = CMeChoicePageOf<245>;
using CMeNStep3Dlg = CMeChoicePageOf<246>;

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
