// The MPEG encoder's pages, laid out for the 256-pixel column: choices in rows of buttons, the file
// page's button above its two types, check boxes in one row.
#include "mpeg/mpgenc/mpgenc_pages.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QGroupBox *Group(CModulePage *page, int id, const char *text)
{
    auto *g = new QGroupBox(QString::fromLatin1(text), page);
    zn::SetCtrlId(g, id);
    auto *outer = new QVBoxLayout(page);
    outer->addWidget(g);
    outer->addStretch();
    return g;
}

} // namespace

CMpgencChoicePage::CMpgencChoicePage(int idd, int groupId, const char *groupText,
                                     std::vector<MpgencChoice> choices, int columns, int defaultValue,
                                     int message, QWidget *parent)
    : CModulePage(idd, parent), m_nValue(defaultValue)
{
    m_pChoices = new zn::PushRadioGroup(this);
    auto *grid = new QGridLayout(Group(this, groupId, groupText));
    grid->setSpacing(2);
    grid->setContentsMargins(4, 4, 4, 4);
    for (size_t n = 0; n < choices.size(); ++n) {
        QPushButton *b = m_pChoices->Add(choices[n].id, QString::fromLatin1(choices[n].text));
        grid->addWidget(b, static_cast<int>(n) / columns, static_cast<int>(n) % columns);
    }
    m_pChoices->Select(choices[static_cast<size_t>(defaultValue - 1)].id);
    connect(m_pChoices, &zn::PushRadioGroup::Clicked, this, [this, choices, message](int id) {
        for (size_t n = 0; n < choices.size(); ++n)
            if (choices[n].id == id)
                m_nValue = static_cast<int>(n) + 1;
        NotifyOwner(message);
    });
}

CMpgencChoicePage *MakeMpgencRatePage(QWidget *parent)
{
    return new CMpgencChoicePage(224, 1482, "Set Bit Rate (Mbit/sec)",
                                 {{1387, "0.128"},
                                  {1394, "0.384"},
                                  {1395, "0.768"},
                                  {1396, "1.15"},
                                  {1397, "2.0"},
                                  {1398, "3.5"},
                                  {1399, "5.0"},
                                  {1400, "8.0"}},
                                 4, 4, WM_MPGENC_RATE, parent);
}

CMpgencChoicePage *MakeMpgencGopPage(QWidget *parent)
{
    return new CMpgencChoicePage(225, 1483, "Set GOP Structure",
                                 {{1389, "I only"},
                                  {1390, "IBB"},
                                  {1391, "I 11(P)"},
                                  {1392, "IPP"},
                                  {1393, "IBBPBB"},
                                  {2116, "IBB3(PBB)"}},
                                 3, 6, WM_MPGENC_GOP, parent);
}

CMpgencChoicePage *MakeMpgencMotionPage(QWidget *parent)
{
    return new CMpgencChoicePage(
        226, 1484, "Set Maximum Motion",
        {{1391, "1"}, {2114, "5"}, {2115, "10"}, {1394, "15"}, {2117, "20"}, {1396, "31"}}, 6, 4,
        WM_MPGENC_MOTION, parent);
}

CMpgencFileDlg::CMpgencFileDlg(QWidget *parent) : CModulePage(IDD, parent)
{
    auto *column = new QVBoxLayout(Group(this, IDC_GROUP, "Set File Name and Mpeg Type"));
    column->setSpacing(2);
    column->setContentsMargins(4, 4, 4, 4);
    auto *save = Ctrl(new QPushButton(QStringLiteral("Save as ..."), this), IDC_SAVE_AS);
    save->setAutoDefault(false);
    column->addWidget(save);
    m_pType = new zn::PushRadioGroup(this);
    auto *row = new QHBoxLayout;
    row->setSpacing(2);
    row->addWidget(m_pType->Add(IDC_MPEG1, QStringLiteral("Mpeg 1")));
    row->addWidget(m_pType->Add(IDC_MPEG2, QStringLiteral("Mpeg 2")));
    column->addLayout(row);
    m_pType->Select(IDC_MPEG1);
    connect(save, &QPushButton::clicked, this, [this] { NotifyOwner(WM_MPGENC_SAVE_AS); });
    connect(m_pType, &zn::PushRadioGroup::Clicked, this, [this](int id) {
        m_nMpeg1 = id == IDC_MPEG1 ? 1 : 0;
        NotifyOwner(WM_MPGENC_MPEG_TYPE);
    });
}

void CMpgencFileDlg::EnableTypeChoice(bool enable)
{
    m_pType->SetEnabled(enable);
}

CMpgencFormatDlg::CMpgencFormatDlg(QWidget *parent) : CModulePage(IDD, parent)
{
    auto *column = new QVBoxLayout(Group(this, IDC_GROUP, "Set Video Source"));
    column->setSpacing(2);
    column->setContentsMargins(4, 4, 4, 4);
    auto *source = new zn::PushRadioGroup(this);
    auto *row = new QHBoxLayout;
    row->setSpacing(2);
    row->addWidget(source->Add(IDC_PROGRESSIVE, QStringLiteral("Progressive")));
    row->addWidget(source->Add(IDC_INTERLACED, QStringLiteral("Interlaced")));
    column->addLayout(row);
    m_pTopFirst = zn::MakeCheckBox(this, IDC_TOP_FIRST, QStringLiteral("Top field first"));
    column->addWidget(m_pTopFirst);
    source->Select(IDC_PROGRESSIVE);
    m_pTopFirst->setChecked(true);
    m_pTopFirst->setEnabled(false);
    connect(source, &zn::PushRadioGroup::Clicked, this, [this](int id) {
        m_nProgressive = id == IDC_PROGRESSIVE ? 1 : 0;
        NotifyOwner(WM_MPGENC_SOURCE);
    });
    connect(m_pTopFirst, &QCheckBox::clicked, this, [this](bool on) {
        m_bTopFieldFirst = on ? 1 : 0;
        NotifyOwner(WM_MPGENC_TOP_FIRST);
    });
}

CMpgencFieldFrameDlg::CMpgencFieldFrameDlg(QWidget *parent) : CModulePage(IDD, parent)
{
    auto *column = new QVBoxLayout(Group(this, IDC_GROUP, "Set Field/Frame Compression"));
    column->setSpacing(2);
    column->setContentsMargins(4, 4, 4, 4);
    auto *coding = new zn::PushRadioGroup(this);
    auto *row = new QHBoxLayout;
    row->setSpacing(2);
    row->addWidget(coding->Add(IDC_FIELD, QStringLiteral("Field Coding")));
    row->addWidget(coding->Add(IDC_FRAME, QStringLiteral("Frame Coding")));
    column->addLayout(row);
    auto *boxes = new QHBoxLayout;
    boxes->addWidget(Ctrl(new QLabel(QStringLiteral("Set frame-DCT/ME"), this), IDC_LABEL));
    const int ids[3] = {IDC_I, IDC_P, IDC_B};
    const char *names[3] = {"I", "P", "B"};
    for (int t = 0; t < 3; ++t) {
        m_pBoxes[t] = zn::MakeCheckBox(this, ids[t], QString::fromLatin1(names[t]));
        boxes->addWidget(m_pBoxes[t]);
        connect(m_pBoxes[t], &QCheckBox::clicked, this, [this, t](bool on) {
            m_bFrameDct[t] = on ? 1 : 0;
            NotifyOwner(WM_MPGENC_FIELD_FRAME);
        });
    }
    boxes->addStretch();
    column->addLayout(boxes);
    coding->Select(IDC_FRAME);
    connect(coding, &zn::PushRadioGroup::Clicked, this, [this](int id) {
        m_nFieldCoding = id == IDC_FIELD ? 1 : 0;
        for (QCheckBox *b : m_pBoxes)
            b->setEnabled(!m_nFieldCoding);
        NotifyOwner(WM_MPGENC_FIELD_FRAME);
    });
}
