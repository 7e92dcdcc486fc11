// The motion estimation pages: one row of push-like choices each, and the Video page's display
// choices.
#include "mpeg/me/me_pages.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

CMeChoicePage::CMeChoicePage(const MeChoiceLayout &l, QWidget *parent)
    : CModulePage(l.idd, parent), m_nValue(l.defaultValue), m_layout(l)
{
    m_pChoices = new zn::PushRadioGroup(this);
    std::vector<QPushButton *> buttons;
    for (const MeChoice &c : l.choices)
        buttons.push_back(m_pChoices->Add(c.id, QString::fromLatin1(c.text)));
    auto *layout = new QVBoxLayout(this);
    if (l.column) {
        auto *group = Ctrl(new QGroupBox(QString::fromLatin1(l.groupText), this), l.groupId);
        auto *column = new QVBoxLayout(group);
        column->setSpacing(2);
        column->setContentsMargins(4, 4, 4, 4);
        for (QPushButton *b : buttons)
            column->addWidget(b);
        layout->addWidget(group);
    } else {
        layout->addWidget(zn::MakeButtonRow(this, l.groupId, QString::fromLatin1(l.groupText), buttons));
    }
    layout->addStretch();
    m_pChoices->Select(IdOf(m_nValue));
    connect(m_pChoices, &zn::PushRadioGroup::Clicked, this, [this](int id) {
        for (const MeChoice &c : m_layout.choices)
            if (c.id == id && c.value != m_nValue) {
                m_nValue = c.value;
                NotifyOwner(m_layout.message);
            }
    });
}

int CMeChoicePage::IdOf(int value) const
{
    for (const MeChoice &c : m_layout.choices)
        if (c.value == value)
            return c.id;
    return 0;
}

void CMeChoicePage::SetValue(int value)
{
    m_nValue = value;
    m_pChoices->Select(IdOf(value));
}

const MeChoiceLayout &MeChoiceLayoutOf(int idd)
{
    static const MeChoiceLayout kLayouts[] = {
        {244,
         2150,
         "Set Number of Resolution Levels",
         {{2151, "Original resolution only", 1}, {2152, "Two levels", 2}, {2153, "Three levels", 3}},
         1,
         WM_ME_LEVELS_CHANGED,
         true},
        {210,
         2110,
         "Select Search Method",
         {{2111, "Full", 0}, {2112, "One/Time", 1}, {2113, "N-Step", 2}},
         0,
         WM_ME_SEARCH_CHANGED},
        {213,
         2120,
         "Set Block Size",
         {{2121, "2x2", 2}, {2122, "4x4", 4}, {2123, "8x8", 8}, {2124, "16x16", 16}},
         8,
         WM_ME_BLOCK_CHANGED},
        {211,
         2130,
         "Set Maximum Displacement",
         {{2131, "3", 3}, {2132, "7", 7}, {2133, "15", 15}, {2134, "24", 24}, {2135, "31", 31}},
         15,
         WM_ME_DISPL_CHANGED},
        {247,
         2160,
         "Set Maximum Displacements",
         {{2161, "3 - 1", 4}, {2162, "7 - 3", 10}, {2163, "15 - 7", 22}},
         10,
         WM_ME_DISPL_CHANGED},
        {248,
         2170,
         "Set Maximum Displacements",
         {{2171, "7 - 3 - 1", 11}, {2172, "15 - 7 - 3", 25}},
         11,
         WM_ME_DISPL_CHANGED},
        {212,
         2140,
         "Set Number of Steps",
         {{2141, "2", 2}, {2142, "3", 3}, {2143, "4", 4}, {2144, "5", 5}},
         4,
         WM_ME_NSTEP_CHANGED},
        {245,
         2180,
         "Set Number of Steps",
         {{2181, "2 - 1", 2}, {2182, "3 - 2", 3}, {2183, "4 - 3", 4}},
         3,
         WM_ME_NSTEP_CHANGED},
        {246,
         2190,
         "Set Number of Steps",
         {{2191, "3 - 2 - 1", 3}, {2192, "4 - 3 - 2", 4}},
         3,
         WM_ME_NSTEP_CHANGED},
    };
    for (const MeChoiceLayout &l : kLayouts)
        if (l.idd == idd)
            return l;
    return kLayouts[0];
}

CMeChoicePage *MakeMeDisplPage(int levels, QWidget *parent)
{
    if (levels == 2)
        return new CMeDispl2Dlg(parent);
    if (levels == 3)
        return new CMeDispl3Dlg(parent);
    return new CMeDisplDlg(parent);
}

CMeChoicePage *MakeMeNStepPage(int levels, QWidget *parent)
{
    if (levels == 2)
        return new CMeNStep2Dlg(parent);
    if (levels == 3)
        return new CMeNStep3Dlg(parent);
    return new CMeNStepDlg(parent);
}

CMeVideoDlg::CMeVideoDlg(QWidget *parent) : CModulePage(IDD, parent)
{
    m_pChoices = new zn::PushRadioGroup(this);
    QPushButton *frame = m_pChoices->Add(IDC_FRAME_BY_FRAME, QStringLiteral("Frame-by-Frame"));
    std::vector<QPushButton *> loops;
    for (int i = 0; i < 4; ++i)
        loops.push_back(m_pChoices->Add(kLoopIds[i], QString::number(kLoops[i])));
    m_pShowAgain = Ctrl(new QPushButton(QStringLiteral("Show Again"), this), IDC_SHOW_AGAIN);
    m_pShowAgain->setAutoDefault(false);
    m_pShowAgain->setEnabled(false);
    auto *layout = new QVBoxLayout(this);
    QGroupBox *group = zn::MakeButtonRow(this, IDC_GROUP, QStringLiteral("Display Method"), {frame});
    layout->addWidget(group);
    auto *row = new QHBoxLayout;
    row->addWidget(Ctrl(new QLabel(QStringLiteral("Loops"), this), IDC_LOOPS_LABEL));
    for (QPushButton *b : loops)
        row->addWidget(b);
    layout->addLayout(row);
    layout->addWidget(m_pShowAgain);
    layout->addStretch();
    m_pChoices->Select(kLoopIds[1]);
    connect(m_pChoices, &zn::PushRadioGroup::Clicked, this, [this](int id) {
        if (id == IDC_FRAME_BY_FRAME) {
            m_bFrameByFrame = 1;
            m_bShowAgain = 0;
            NotifyOwner(WM_ME_VIDEO_CHANGED);
            return;
        }
        for (int i = 0; i < 4; ++i)
            if (kLoopIds[i] == id) {
                if (kLoops[i] == m_nLoops && !m_bFrameByFrame)
                    return;
                m_nLoops = kLoops[i];
                m_bFrameByFrame = 0;
                m_bShowAgain = 0;
                NotifyOwner(WM_ME_VIDEO_CHANGED);
            }
    });
    connect(m_pShowAgain, &QPushButton::clicked, this, [this] {
        m_bShowAgain = 1;
        NotifyOwner(WM_ME_VIDEO_CHANGED);
    });
}
